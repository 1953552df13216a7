// The shared input records that the platform layer fills and every screen reads: the key map with
// its per-frame key events, the five pointer slots (mouse and four touches) and the game pad.
#pragma once
#include "Core/FixedString.h"

// A key event: a character code, or one of these editing events.
enum KeyEvent : i32 {
    KeyEventDelete = -1,
    KeyEventBackspace = -2,
    KeyEventBack = -3,
    KeyEventLeft = -4,
    KeyEventRight = -5,
    KeyEventUp = -6,
    KeyEventDown = -7,
    KeyEventCopy = -8,
    KeyEventCut = -9,
    KeyEventPaste = -10,
};

// Key codes: the PC keyboard's virtual-key codes 0-255, the game-pad buttons 223-236 and the Herelink trigger.
enum KeyCode : i32 {
    KeyMouseLeft = 1,
    KeyMouseRight = 2,
    KeyMouseMiddle = 4,
    KeyBackspace = 8,
    KeyTab = 9,
    KeyEnter = 13,
    KeyShift = 16,
    KeyControl = 17,
    KeyAlt = 18,
    KeyEscape = 27,
    KeySpace = 32,
    KeyLeft = 37,
    KeyUp = 38,
    KeyRight = 39,
    KeyDown = 40,
    KeyDelete = 46,
    KeyF1 = 112,
    KeyF4 = 115,
    KeyF11 = 122,
    KeyLeftShift = 160,
    KeyRightShift = 161,
    KeyLeftControl = 162,
    KeyRightControl = 163,
    KeyLeftAlt = 164,
    KeyRightAlt = 165,
    KeyPadCross = 223,
    KeyPadCircle = 224,
    KeyPadSquare = 225,
    KeyPadTriangle = 226,
    KeyPadLeft = 227,
    KeyPadRight = 228,
    KeyPadUp = 229,
    KeyPadDown = 230,
    KeyPadLeftShoulder = 231,
    KeyPadRightShoulder = 232,
    KeyPadLeftThumb = 233,
    KeyPadRightThumb = 234,
    KeyPadOptions = 235,
    KeyPadShare = 236,
    KeyHerelinkTrigger = 256,
};

constexpr i32 kKeyMapWords = 5;  // 320 bits
constexpr i32 kMaxKeyEvents = 300;

struct InputState {
    u32 shiftLock;  // while nonzero, key presses take their shifted characters
    u32 pad;
    u64 keys[kKeyMapWords];
    u64 previousKeys[kKeyMapWords];
    i32 eventCount;
    i32 events[kMaxKeyEvents];  // KeyEvent
};

enum PointerState : u32 {
    PointerAbsent = 0,
    PointerPresent = 1,
    PointerPressed = 2,
};

// Window pixels, origin bottom-left, y up; times in microseconds of getMicroseconds.
struct PointerSlot {
    u32 state;  // PointerState
    f32 x;
    f32 y;
    u64 pressTime;
    f32 pressX;
    f32 pressY;
};

constexpr i32 kPointerSlots = 5;  // slot 0 the mouse, 1-4 touches

enum ControllerKind : u32 {
    ControllerNone = 0,
    ControllerGamepad = 1,
    ControllerHerelink = 2,
    ControllerPilotPro = 3,
};

// One pad's axes; its buttons are keys 223-236 of the key map.
struct GamepadState {
    u64 time;  // microseconds of the last update
    u32 controllerKind;
    u32 remote;  // 1 while a relay host feeds this record: local pads leave it alone
    FixedString name;
    f32 leftStickX;  // sticks in [-1, 1], y up
    f32 leftStickY;
    f32 rightStickX;
    f32 rightStickY;
    f32 leftTrigger;  // triggers in [0, 1]
    f32 rightTrigger;
    // Axes 6 and 7: the left and right rocker of a Pilot Pro, or a Herelink's wheel (axis 6), in
    // [-1, 1]; filled by those controllers' platform layer, 0 for other pads.
    f32 leftRocker;
    f32 rightRocker;
};

// The event of each key code when neither Shift nor Ctrl applies (0: none).
extern const i32 keyEventTable[256];

bool isKeyDown(const InputState* input, i32 code);
bool wasKeyDown(const InputState* input, i32 code);
void clearKey(i32 code, InputState* input);
// Sets the key and appends its event (Ctrl shortcuts, shifted characters, the key table) while
// fewer than 300 events wait.
void pressKey(i32 code, InputState* input);
// A press (through pressKey) when the key goes down, a release when it goes up, else nothing.
void setKeyState(i32 code, InputState* input, i32 down);
void clearAllKeys(InputState* input);

// The game-pad buttons as the XInput path reports them, by bit.
enum PadButtonBits : u16 {
    PadButtonUp = 0x0001,
    PadButtonDown = 0x0002,
    PadButtonLeft = 0x0004,
    PadButtonRight = 0x0008,
    PadButtonStart = 0x0010,
    PadButtonBack = 0x0020,
    PadButtonLeftThumb = 0x0040,
    PadButtonRightThumb = 0x0080,
    PadButtonLeftShoulder = 0x0100,
    PadButtonRightShoulder = 0x0200,
    PadButtonA = 0x1000,
    PadButtonB = 0x2000,
    PadButtonX = 0x4000,
    PadButtonY = 0x8000,
};

// One poll of a pad on the XInput path.
struct PadPoll {
    u16 buttons;  // PadButtonBits
    u8 leftTrigger;
    u8 rightTrigger;
    i16 leftStickX;  // y up
    i16 leftStickY;
    i16 rightStickX;
    i16 rightStickY;
};

// Replaces the game pad with a poll of pad padNumber (unless a relay host feeds it) and moves keys
// 223-236 with its buttons.
void applyPadPoll(const PadPoll* poll, i32 padNumber, u64 now, GamepadState* pad, InputState* input);

// One DualShock 4 stick byte as an axis in [-1, 1] with its dead band; y axes are flipped to y up.
f32 dualShock4Axis(u8 value, bool yAxis);
// Decodes one DualShock 4 input report (report id in byte 0, at least 10 bytes) into the game pad and
// keys 223-236. Returns 0 when the report was applied, 1 when it was ignored (too short, or a relay
// host feeds the pad).
i32 decodeDualShock4Report(const u8* report, i64 length, u64 now, GamepadState* pad, InputState* input);
