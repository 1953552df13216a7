#include "SourceCommon/UserInterface/TextEdit.h"

#include <cstring>

#include "Platform/Clipboard.h"
#include "SourceCommon/Renderer/TextDrawers.h"

namespace {

i64 minI64(i64 a, i64 b) { return a < b ? a : b; }
i64 maxI64(i64 a, i64 b) { return a > b ? a : b; }

i64 previousCodepoint(const ByteWriter* text, i64 position) {
    if (position <= 0) return 0;
    i64 p = position;
    utf8DecodePrevious(text->data, &p);
    return p < position ? p : position - 1;
}

i64 nextCodepoint(const ByteWriter* text, i64 position) {
    if (position >= text->length) return text->length;
    i64 p = position;
    utf8DecodeNext(text->data, text->length, &p);
    return p > position ? p : position + 1;
}

// Removes bytes [from, to) of the text.
void removeBytes(ByteWriter* text, i64 from, i64 to) {
    if (to <= from) return;
    std::memmove(text->data + from, text->data + to, (size_t)(text->length - to));
    text->length -= to - from;
}

// Backs a cut-off length to the first byte of a multi-byte sequence the cut left incomplete.
i64 wholeCodepointLength(const u8* data, i64 length) {
    i64 lead = length - 1;
    while (lead >= 0 && length - lead <= 4 && (data[lead] & 0xC0) == 0x80) lead--;
    if (lead < 0 || length - lead > 4 || data[lead] < 0xC0) return length;
    i64 need = data[lead] >= 0xF0 ? 4 : data[lead] >= 0xE0 ? 3 : 2;
    return length - lead < need ? lead : length;
}

// The start of the line holding position (just after the previous line break).
i64 lineStart(const ByteWriter* text, i64 position) {
    while (position > 0 && text->data[position - 1] != '\n') position--;
    return position;
}

i64 lineEnd(const ByteWriter* text, i64 position) {
    while (position < text->length && text->data[position] != '\n') position++;
    return position;
}

// Position of the code point `column` code points into the line starting at start, or the line's end.
i64 columnInLine(const ByteWriter* text, i64 start, i64 column) {
    i64 end = lineEnd(text, start);
    i64 position = start;
    for (i64 i = 0; i < column && position < end; i++) position = nextCodepoint(text, position);
    return position < end ? position : end;
}

i64 columnOf(const ByteWriter* text, i64 position) {
    i64 column = 0;
    for (i64 p = lineStart(text, position); p < position; p = nextCodepoint(text, p)) column++;
    return column;
}

void clearFocus(TextEditState* focus) {
    focus->focusedId = WidgetId{};
    focus->selectingPointer = -1;
    focus->selectionAnchor = 0;
    focus->caret = 0;
    focus->keyboardMode = 0;
    focus->focusRenewed = 1;
}

void setBoth(TextEditState* focus, i64 position) { focus->caret = focus->selectionAnchor = position; }

void copySelection(const ByteWriter* text, i64 s0, i64 s1) {
    ByteWriter selected = makeByteWriter(text->data + s0, s1 - s0);
    selected.length = s1 - s0;
    copyTextToClipboard(&selected);
}

i64 codepointBoundary(const ByteWriter* text, i64 position) {
    position = maxI64(0, minI64(position, text->length));
    while (position > 0 && position < text->length && (text->data[position] & 0xC0) == 0x80) position--;
    return position;
}

bool isScalarValue(i32 c) { return c > 0 && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF); }

}  // namespace

bool applyTextEditEvent(i32 event, ByteWriter* text, u32 editable, TextEditState* focus, TextEditResult* result,
                        u64 now) {
    // Offsets set elsewhere (a pointer, or a text its owner changed) are kept inside the text and on
    // the first byte of a code point.
    focus->caret = codepointBoundary(text, focus->caret);
    focus->selectionAnchor = codepointBoundary(text, focus->selectionAnchor);
    i64 s0 = minI64(focus->caret, focus->selectionAnchor);
    i64 s1 = maxI64(focus->caret, focus->selectionAnchor);
    bool empty = s0 == s1;
    bool edited = false;
    switch (event) {
        case KeyEventBack:
            clearFocus(focus);
            return false;
        case KeyEventDone:
            clearFocus(focus);
            result->submitted = 1;
            return false;
        case KeyEventLeft:
            setBoth(focus, empty ? previousCodepoint(text, focus->caret) : s0);
            edited = true;
            break;
        case KeyEventRight:
            setBoth(focus, empty ? nextCodepoint(text, focus->caret) : s1);
            edited = true;
            break;
        case KeyEventUp:
        case KeyEventDown: {
            edited = true;
            if (!empty) {
                setBoth(focus, event == KeyEventUp ? s0 : s1);
                break;
            }
            i64 column = columnOf(text, focus->caret);
            if (event == KeyEventUp) {
                i64 start = lineStart(text, focus->caret);
                if (start == 0) break;
                setBoth(focus, columnInLine(text, lineStart(text, start - 1), column));
            } else {
                i64 end = lineEnd(text, focus->caret);
                if (end >= text->length) break;
                setBoth(focus, columnInLine(text, end + 1, column));
            }
            break;
        }
        case KeyEventBackspace:
        case KeyEventDelete: {
            if (!editable) break;
            edited = true;
            if (!empty) {
                removeBytes(text, s0, s1);
                setBoth(focus, s0);
                result->changed = 1;
            } else if (event == KeyEventBackspace && focus->caret > 0) {
                i64 start = previousCodepoint(text, focus->caret);
                removeBytes(text, start, focus->caret);
                setBoth(focus, start);
                result->changed = 1;
            } else if (event == KeyEventDelete && focus->caret < text->length) {
                removeBytes(text, focus->caret, nextCodepoint(text, focus->caret));
                result->changed = 1;
            }
            break;
        }
        case KeyEventSelectAll:
            focus->selectionAnchor = 0;
            focus->caret = text->length;
            break;
        case KeyEventCopy:
            if (!empty) copySelection(text, s0, s1);
            break;
        case KeyEventCut:
            if (!empty) {
                copySelection(text, s0, s1);
                if (editable) {
                    removeBytes(text, s0, s1);
                    setBoth(focus, s0);
                    result->changed = 1;
                    edited = true;
                }
            }
            break;
        case KeyEventPaste: {
            if (!editable) break;
            edited = true;
            // The tail after the selection, kept aside while the clipboard text is written in place
            // of the selection; the pasted text comes before the tail when room runs out.
            u8 tail[kTextFieldCapacity];
            i64 tailLength = text->length - s1;
            std::memcpy(tail, text->data + s1, (size_t)tailLength);
            ByteWriter gap = makeByteWriter(text->data + s0, text->capacity - s0);
            pasteFromClipboard(&gap);
            i64 written = gap.length;
            i64 room = text->capacity - (s0 + written);
            i64 kept = minI64(room, tailLength);
            std::memcpy(text->data + s0 + written, tail, (size_t)kept);
            i64 length = s0 + written + kept;
            if (kept < tailLength) length = wholeCodepointLength(text->data, length);
            if (written > 0 || s1 > s0 || length != text->length) result->changed = 1;
            text->length = length;
            setBoth(focus, s0 + written);
            break;
        }
        default: {
            if (event <= 0 || !editable || !isScalarValue(event)) break;
            u8 bytes[4];
            ByteWriter encoded = makeByteWriter(bytes, 4);
            appendCodepoint(event, &encoded);
            i64 size = encoded.length;
            if (text->length - (s1 - s0) + size >= text->capacity) break;
            std::memmove(text->data + s0 + size, text->data + s1, (size_t)(text->length - s1));
            std::memcpy(text->data + s0, bytes, (size_t)size);
            text->length += size - (s1 - s0);
            setBoth(focus, s0 + size);
            result->changed = 1;
            edited = true;
            break;
        }
    }
    if (edited) focus->caretBlinkStart = (i64)now - kCaretShowBeforeBlink;
    return true;
}

void textEdit(TextEditResult* out, ByteWriter* text, const FixedString* placeholder, u32 anchor, u32 keyboardMode,
              const Rect* rect, const Rect* crop, f32 depth, const TextStyle* style, Color placeholderColour,
              UiState* ui, ScreenStack* stack, TextEditState* focus, const WidgetId* id) {
    *out = TextEditResult{};
    u64 now = stack->now;
    bool editable = text != nullptr;
    // A read-only field shows (and lets one select and copy) the placeholder as its text.
    ByteWriter readOnly = makeByteWriter((void*)placeholder->text, placeholder->length);
    readOnly.length = placeholder->length;
    ByteWriter* shown = editable ? text : &readOnly;

    Rect area = intersectRect(*rect, *crop);
    PointerHit hit = rectHitTest(&area, 0, stack, id);
    bool pressedNow = false;
    for (i32 i = 0; i < 5; i++) {
        if (!((hit.pointerMask >> i) & 1) || !(hit.pointerFlags[i] & PointerFlagClaimed)) continue;
        focus->focusedId = *id;
        focus->keyboardMode = keyboardMode;
        focus->focusRenewed = 1;
        focus->selectingPointer = i;
        focus->selectionAnchor = focus->caret = focus->caretBlinkStart = 0;
        pressedNow = true;
    }
    bool focused = sameWidget(focus->focusedId, *id);
    if (focused) {
        if (focus->selectingPointer >= 0 &&
            (focus->selectingPointer >= 5 || stack->pointers[focus->selectingPointer].state != PointerPressed)) {
            focus->selectingPointer = -1;
            focus->caretBlinkStart = (i64)now - kCaretShowBeforeBlink;
        }
        focus->focusRenewed = 1;
        for (i32 i = 0; i < focus->eventCount; i++) {
            if (!applyTextEditEvent(focus->events[i], shown, editable ? 1 : 0, focus, out, now)) break;
        }
        focus->eventCount = 0;
    }
    focused = sameWidget(focus->focusedId, *id);

    TextSlice slice{shown->data, shown->length};
    bool showPlaceholder = shown->length == 0;
    TextStyle drawStyle = *style;
    if (showPlaceholder) {
        slice = TextSlice{(const u8*)placeholder->text, placeholder->length};
        drawStyle.markColor = placeholderColour;
    }
    if (focused && focus->selectingPointer >= 0 && !showPlaceholder) {
        const PointerSlot* pointer = &stack->pointers[focus->selectingPointer];
        TextTarget measure = uiTextTarget(ui);
        measure.quads = nullptr;
        measure.highlights = nullptr;
        TextCaretInput probe{-1, -1, Vec2F32{pointer->x, pointer->y}};
        TextLayoutResult placed = addTextBox(slice, (i32)anchor, depth, *rect, *crop, drawStyle, probe, measure);
        focus->caret = placed.pointerIndex;
        if (pressedNow) focus->selectionAnchor = focus->caret;
    }
    TextCaretInput caret = noTextCaret();
    if (focused) {
        caret.caret = showPlaceholder ? 0 : focus->caret;
        caret.selectionEnd = showPlaceholder ? 0 : focus->selectionAnchor;
    }
    out->layout = addTextBox(slice, (i32)anchor, depth, *rect, *crop, drawStyle, caret, uiTextTarget(ui));

    bool selectionEmpty = focus->caret == focus->selectionAnchor;
    if (focused && selectionEmpty && focus->selectingPointer < 0 && editable) {
        i64 phase = ((i64)now - focus->caretBlinkStart) % kCaretBlinkPeriod;
        if (phase < 0) phase += kCaretBlinkPeriod;
        if (phase < kCaretBlinkPeriod / 2 && out->layout.caret.x1 > out->layout.caret.x0) {
            addRoundedRect(out->layout.caret, depth + 0.001f, *crop, 0, 0, style->markColor, style->markColor,
                           &ui->batches.coloredRect, ui->halfWidth, ui->halfHeight);
        }
    }
    out->focused = focused ? 1 : 0;
    if (focused) {
        out->selectionStart = minI64(focus->caret, focus->selectionAnchor);
        out->selectionLength = maxI64(focus->caret, focus->selectionAnchor) - out->selectionStart;
    }
}

TextEditResult textField(FixedString* text, const FixedString* placeholder, u32 anchor, u32 keyboardMode,
                         const Rect* rect, const Rect* crop, f32 depth, const TextStyle* style, Color placeholderColour,
                         UiState* ui, ScreenStack* stack, TextEditState* focus, const WidgetId* id) {
    TextEditResult result{};
    if (!text) {
        textEdit(&result, nullptr, placeholder, anchor, keyboardMode, rect, crop, depth, style, placeholderColour, ui,
                 stack, focus, id);
        return result;
    }
    if (text->length > kTextFieldCapacity) text->length = kTextFieldCapacity;
    ByteWriter writer = makeByteWriter(text->text, kTextFieldCapacity);
    writer.length = text->length;
    textEdit(&result, &writer, placeholder, anchor, keyboardMode, rect, crop, depth, style, placeholderColour, ui,
             stack, focus, id);
    text->length = (u8)writer.length;
    text->text[text->length] = 0;
    if (result.changed) text->truncated = 0;
    return result;
}

TextFieldRowResult textFieldBody(const FixedString* title, const FixedString* description, FixedString* value,
                                 const FixedString* placeholder, const FixedString* note, u32 keyboardMode,
                                 u32 hasIcon, ScreenStack* stack, UiState* ui, TextEditState* focus, MapView* view,
                                 const WidgetId* id) {
    TextFieldRowResult result{};
    f32 T = view->textSize, p = view->padding;
    f32 n = note && note->length ? 2 * T : 0;
    ExpandableRowResult row = optionGridRow(title, description, 2 * T + 2 * p + n, hasIcon, stack, ui, view, id);
    result.expanded = row.expanded;
    result.justOpened = row.justOpened;
    result.visible = row.visible;
    result.layout = row.layout;
    if (row.justOpened) {
        if (value) {
            value->length = 0;
            value->truncated = 0;
            value->text[0] = 0;
        }
        focus->focusedId = *id;
        focus->selectingPointer = -1;  // opened by a click, not by a press on the box
        focus->selectionAnchor = focus->caret = focus->caretBlinkStart = 0;
        focus->keyboardMode = keyboardMode;
        focus->focusRenewed = 1;
    }
    if (row.expanded) {
        const Rect& a = row.area;
        Rect box{a.x0 + 2 * p, a.x1 - 2 * p, a.y0 + p + n, a.y1 - p};
        TextStyle style{kSecondaryGrey, kNoOutline, kSelectionOrange, T, 0, 0};
        FixedString emptyPlaceholder{};
        TextEditResult edit = textField(value, placeholder ? placeholder : &emptyPlaceholder, AnchorLeftCentre,
                                        keyboardMode, &box, &view->clipRect, kRowDepth, &style, kButtonGrey, ui, stack,
                                        focus, id);
        result.changed = edit.changed;
        result.submitted = edit.submitted;
        result.focused = edit.focused;
        if (n > 0) {
            Rect noteRect{a.x0 + 2 * p, a.x1 - 2 * p, a.y0 + p, a.y0 + p + n};
            drawTextInRect(ui, *note, AnchorLeftCentre, kRowDepth, noteRect, view->clipRect, style, noTextCaret());
        }
    }
    return result;
}

TextFieldRowResult textFieldRow(const FixedString* title, const FixedString* description, FixedString* value,
                                const FixedString* placeholder, u32 keyboardMode, u32 hasIcon, ScreenStack* stack,
                                UiState* ui, TextEditState* focus, MapView* view, const WidgetId* id) {
    FixedString note{};
    return textFieldBody(title, description, value, placeholder, &note, keyboardMode, hasIcon, stack, ui, focus, view,
                         id);
}
