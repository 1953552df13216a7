// The text edit widget and the text-field rows. One text field of a screen has the keyboard focus
// (the TextEditState at the head of the screen's scratch area); it consumes the frame's key events,
// edits its UTF-8 text in place with a caret and a selection, talks to the clipboard and draws
// itself with a blinking caret.
#pragma once
#include "SourceCommon/UserInterface/Rows.h"
#include "SourceCommon/UserInterface/Screen.h"

constexpr i64 kTextFieldCapacity = 253;
constexpr i64 kCaretBlinkPeriod = 1600000;  // microseconds; the caret shows for the first half
constexpr i64 kCaretShowBeforeBlink = 400000;

struct TextEditResult {
    u32 changed;    // the text changed this frame
    u32 submitted;  // Done received
    u32 focused;    // the field holds the focus at the end of the frame
    TextLayoutResult layout;
    i64 selectionStart;
    i64 selectionLength;
};

struct TextFieldRowResult {
    u32 expanded;
    u32 justOpened;
    u32 visible;
    u32 changed;
    u32 submitted;
    u32 focused;
    RowLayout layout;
};

// Applies one key event to a focused field's text (edited only when editable; a read-only text is
// still selected and copied). Returns false when the event ended the editing (Back or Done): the
// events after it are dropped.
bool applyTextEditEvent(i32 event, ByteWriter* text, u32 editable, TextEditState* focus, TextEditResult* result,
                        u64 now);

void textEdit(TextEditResult* out, ByteWriter* text, const FixedString* placeholder, u32 anchor, u32 keyboardMode,
              const Rect* rect, const Rect* crop, f32 depth, const TextStyle* style, Color placeholderColour,
              UiState* ui, ScreenStack* stack, TextEditState* focus, const WidgetId* id);
TextEditResult textField(FixedString* text, const FixedString* placeholder, u32 anchor, u32 keyboardMode,
                         const Rect* rect, const Rect* crop, f32 depth, const TextStyle* style, Color placeholderColour,
                         UiState* ui, ScreenStack* stack, TextEditState* focus, const WidgetId* id);
TextFieldRowResult textFieldBody(const FixedString* title, const FixedString* description, FixedString* value,
                                 const FixedString* placeholder, const FixedString* note, u32 keyboardMode,
                                 u32 hasIcon, ScreenStack* stack, UiState* ui, TextEditState* focus, MapView* view,
                                 const WidgetId* id);
TextFieldRowResult textFieldRow(const FixedString* title, const FixedString* description, FixedString* value,
                                const FixedString* placeholder, u32 keyboardMode, u32 hasIcon, ScreenStack* stack,
                                UiState* ui, TextEditState* focus, MapView* view, const WidgetId* id);
