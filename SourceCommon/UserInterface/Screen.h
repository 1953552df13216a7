// The screen runner: a stack of at most 20 screen functions of which the top one runs once per
// frame. The runner works out the frame's UI metrics, draws the corner button (back, or the
// fullscreen toggle on the first screen) or the on-screen keyboard of a focused text field, hands
// the frame's key events to the widgets, calls the screen and applies what it asked for.
#pragma once
#include "Core/GeometryTypes.h"
#include "Platform/Input.h"
#include "SourceCommon/UserInterface/WidgetId.h"

struct Platform;
struct UiState;
struct AppState;
struct ScreenStack;

// Editing events of the on-screen keyboard and menu, beside those of Platform/Input.h.
constexpr i32 KeyEventSelectAll = -11;
constexpr i32 KeyEventDone = -12;

struct ScreenResult;

// A screen: called once per frame while it is on top; scratch is its own zero-started state.
using ScreenFunction = void (*)(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app,
                                ScreenResult* result, void* scratch);

struct ScreenResult {
    u32 back;             // nonzero: close this screen (preset by Escape)
    ScreenFunction next;  // non-null: open this screen on top
};

// Declares or defines a screen function of the ScreenFunction shape.
#define ORVIK_SCREEN_FUNCTION(name) \
    void name(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result, void* scratch)

// The runner's clock; null means the program's monotonic clock. Tests install their own.
using ScreenClock = u64 (*)();

constexpr i32 kMaxScreens = 20;
constexpr i64 kScreenScratchBytes = 1202584;

struct PointerRecord {
    u32 hoverTaken;     // a widget took this pointer's hover this frame
    u32 hoverBlocked;   // an opaque widget took it
    u32 previousState;  // the slot's state at the end of the last frame
    u32 holdReported;   // the hold of this press was already reported
    WidgetId owner;     // the widget that claimed the pointer at its press; none when all zero
    u64 pressedSeenTime;  // the time (microseconds) of the last frame that ended with the pointer pressed
};

// The focus record of the one text field of a screen that has the keyboard focus.
struct TextEditState {
    WidgetId focusedId;   // none when all zero
    i32 selectingPointer; // the pointer placing the caret or dragging a selection; -1 none
    i64 selectionAnchor;  // byte offsets; the selection is [min, max) of the two
    i64 caret;
    i64 caretBlinkStart;  // microseconds
    u32 keyboardMode;     // TextKeyboardMode
    u32 focusRenewed;     // set by the focused field while it is drawn
    i32 eventCount;       // the frame's key events, consumed by the focused field
    i32 events[kMaxKeyEvents];
};

enum TextKeyboardMode : u32 {
    TextKeyboardFull = 0,
    TextKeyboardNumpad = 1,
    TextKeyboardSelectionMenu = 2,
};

// The on-screen keyboard's own key map and event queue, kept like the physical one: shiftLock is
// its Caps Lock flag.
struct OnScreenKeyboard {
    InputState keys;
    u32 capsLockClicked;  // applied at the end of the frame
};

// The runner's per-frame state at the head of the scratch area.
struct ScreenRunnerState {
    f32 reservedWidth;  // the extent from the bottom-left corner that the corner button takes
    f32 reservedHeight;
    Rect cornerButtonRect;
    TextEditState textFocus;
    OnScreenKeyboard keyboard;
};

struct ScreenStack {
    PointerRecord pointerRecords[5];
    const PointerSlot* pointers;  // the Platform's five slots, set every frame
    f64 dragThresholdSquared;
    i32 depth;
    i32 pad;
    ScreenFunction screens[kMaxScreens];
    u64 now;            // the frame's time in microseconds, set by the runner
    ScreenClock clock;  // null: getMicroseconds
    // The scratch area, zeroed on every push and pop: the runner's state, then the top screen's.
    alignas(8) ScreenRunnerState runner;
    alignas(8) u8 screenState[kScreenScratchBytes - ((sizeof(ScreenRunnerState) + 7) / 8) * 8];
};

// One frame: the last step of the application update.
void updateScreen(ScreenStack* stack, Platform* platform, UiState* ui, AppState* app);

// End-of-frame upkeep of the per-pointer records.
void resetInputStates(ScreenStack* stack, const PointerSlot* pointers, u32 screenChanged);

// The frame's UI metrics: line height L, padding P = L / 8, drag threshold 2 L.
f32 screenLineHeight(const UiState* ui);

// Zeroes the scratch area (runner state and screen state).
void clearScreenScratch(ScreenStack* stack);
