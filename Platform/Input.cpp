#include "Platform/Input.h"

#include "Core/Format.h"

#include <cstring>

namespace {

constexpr i32 buildKeyEntry(i32 code) {
    if (code == 4 || code == 27) return KeyEventBack;
    if (code == 8) return KeyEventBackspace;
    if (code == 9) return 9;
    if (code == 13) return 10;
    if (code == 32) return 32;
    if (code == 37) return KeyEventLeft;
    if (code == 38) return KeyEventUp;
    if (code == 39) return KeyEventRight;
    if (code == 40) return KeyEventDown;
    if (code == 46) return KeyEventDelete;
    if (code >= 48 && code <= 57) return '0' + (code - 48);
    if (code >= 65 && code <= 90) return 'a' + (code - 65);
    if (code >= 96 && code <= 105) return '0' + (code - 96);
    if (code >= 106 && code <= 111) return "*+,-./"[code - 106];
    if (code >= 186 && code <= 192) return ";=,-./`"[code - 186];
    if (code >= 219 && code <= 222) return "[\\]'"[code - 219];
    return 0;
}

struct KeyTable {
    i32 entries[256];
    constexpr KeyTable() : entries() {
        for (i32 code = 0; code < 256; code++) entries[code] = buildKeyEntry(code);
    }
};

constexpr KeyTable kKeyTable;

void appendEvent(i32 event, InputState* input) {
    if (input->eventCount < 0) input->eventCount = 0;
    if (input->eventCount >= kMaxKeyEvents) return;
    input->events[input->eventCount++] = event;
}

// The shifted character of a key, or 0 when Shift does not change it.
i32 shiftedCharacter(i32 code) {
    if (code >= 48 && code <= 57) return ")!@#$%^&*("[code - 48];
    if (code >= 65 && code <= 90) return 'A' + (code - 65);
    if (code >= 186 && code <= 192) return ":+<_>?~"[code - 186];
    if (code >= 219 && code <= 222) return "{|}\""[code - 219];
    return 0;
}

bool validCode(i32 code) { return code >= 0 && code < kKeyMapWords * 64; }

void moveButtonKey(i32 code, bool down, InputState* input) {
    if (down) {
        if (!isKeyDown(input, code)) pressKey(code, input);
    } else {
        clearKey(code, input);
    }
}

}  // namespace

const i32 keyEventTable[256] = {
#define ROW(n) kKeyTable.entries[n], kKeyTable.entries[n + 1], kKeyTable.entries[n + 2], kKeyTable.entries[n + 3]
#define ROW16(n) ROW(n), ROW(n + 4), ROW(n + 8), ROW(n + 12)
    ROW16(0),   ROW16(16),  ROW16(32),  ROW16(48),  ROW16(64),  ROW16(80),  ROW16(96),  ROW16(112),
    ROW16(128), ROW16(144), ROW16(160), ROW16(176), ROW16(192), ROW16(208), ROW16(224), ROW16(240),
#undef ROW16
#undef ROW
};

bool isKeyDown(const InputState* input, i32 code) {
    if (!validCode(code)) return false;
    return (input->keys[code / 64] >> (code % 64)) & 1;
}

bool wasKeyDown(const InputState* input, i32 code) {
    if (!validCode(code)) return false;
    return (input->previousKeys[code / 64] >> (code % 64)) & 1;
}

void clearKey(i32 code, InputState* input) {
    if (!validCode(code)) return;
    input->keys[code / 64] &= ~(1ull << (code % 64));
}

void clearAllKeys(InputState* input) { std::memset(input->keys, 0, sizeof(input->keys)); }

void pressKey(i32 code, InputState* input) {
    if (!validCode(code)) return;
    input->keys[code / 64] |= 1ull << (code % 64);
    if (input->eventCount >= kMaxKeyEvents) return;
    if (code >= 48) {
        if (isKeyDown(input, KeyLeftControl) || isKeyDown(input, KeyRightControl)) {
            if (code == 'C') appendEvent(KeyEventCopy, input);
            if (code == 'X') appendEvent(KeyEventCut, input);
            if (code == 'V') appendEvent(KeyEventPaste, input);
            return;
        }
        if (isKeyDown(input, KeyLeftShift) || isKeyDown(input, KeyRightShift) || input->shiftLock) {
            i32 shifted = shiftedCharacter(code);
            if (shifted) {
                appendEvent(shifted, input);
                return;
            }
        }
    }
    if (code < 256 && keyEventTable[code]) appendEvent(keyEventTable[code], input);
}

void setKeyState(i32 code, InputState* input, i32 down) {
    bool wasDown = isKeyDown(input, code);
    if (down && !wasDown) pressKey(code, input);
    if (!down && wasDown) clearKey(code, input);
}

void applyPadPoll(const PadPoll* poll, i32 padNumber, u64 now, GamepadState* pad, InputState* input) {
    if (pad->remote) return;
    std::memset(pad, 0, sizeof(*pad));
    pad->controllerKind = ControllerGamepad;
    pad->name = formatInt("XInput @", padNumber);
    pad->time = now;
    pad->leftTrigger = poll->leftTrigger / 255.0f;
    pad->rightTrigger = poll->rightTrigger / 255.0f;
    constexpr f32 kStickScale = 1.0f / 32768.0f;
    pad->leftStickX = poll->leftStickX * kStickScale;
    pad->leftStickY = poll->leftStickY * kStickScale;
    pad->rightStickX = poll->rightStickX * kStickScale;
    pad->rightStickY = poll->rightStickY * kStickScale;
    static constexpr struct {
        u16 bit;
        i32 code;
    } kButtons[] = {
        {PadButtonA, KeyPadCross},
        {PadButtonB, KeyPadCircle},
        {PadButtonX, KeyPadSquare},
        {PadButtonY, KeyPadTriangle},
        {PadButtonLeft, KeyPadLeft},
        {PadButtonRight, KeyPadRight},
        {PadButtonUp, KeyPadUp},
        {PadButtonDown, KeyPadDown},
        {PadButtonLeftShoulder, KeyPadLeftShoulder},
        {PadButtonRightShoulder, KeyPadRightShoulder},
        {PadButtonLeftThumb, KeyPadLeftThumb},
        {PadButtonRightThumb, KeyPadRightThumb},
        {PadButtonStart, KeyPadOptions},
        {PadButtonBack, KeyPadShare},
    };
    for (const auto& button : kButtons) moveButtonKey(button.code, (poll->buttons & button.bit) != 0, input);
}

f32 dualShock4Axis(u8 value, bool yAxis) {
    i32 v = yAxis ? 127 - (i32)value : (i32)value - 128;
    if (v < -4) return (f32)(v + 4) / 124.0f;
    if (v >= 4) return (f32)(v - 3) / 124.0f;
    return 0.0f;
}

i32 decodeDualShock4Report(const u8* report, i64 length, u64 now, GamepadState* pad, InputState* input) {
    constexpr i64 kMinimumReport = 10;
    if (!report || length < kMinimumReport || pad->remote) return 1;
    std::memset(pad, 0, sizeof(*pad));
    pad->name = makeString("Sony Dualshock 4");
    pad->controllerKind = ControllerGamepad;
    pad->time = now;
    pad->leftStickX = dualShock4Axis(report[1], false);
    pad->leftStickY = dualShock4Axis(report[2], true);
    pad->rightStickX = dualShock4Axis(report[3], false);
    pad->rightStickY = dualShock4Axis(report[4], true);
    pad->leftTrigger = report[8] / 255.0f;
    pad->rightTrigger = report[9] / 255.0f;
    u8 faces = report[5];
    u8 shoulders = report[6];
    u32 hat = faces & 0x0F;
    moveButtonKey(KeyPadCross, faces & 0x20, input);
    moveButtonKey(KeyPadCircle, faces & 0x40, input);
    moveButtonKey(KeyPadSquare, faces & 0x10, input);
    moveButtonKey(KeyPadTriangle, faces & 0x80, input);
    moveButtonKey(KeyPadLeft, hat == 5 || hat == 6 || hat == 7, input);
    moveButtonKey(KeyPadRight, hat == 1 || hat == 2 || hat == 3, input);
    moveButtonKey(KeyPadUp, hat == 0 || hat == 1 || hat == 7, input);
    moveButtonKey(KeyPadDown, hat == 3 || hat == 4 || hat == 5, input);
    moveButtonKey(KeyPadLeftShoulder, shoulders & 0x01, input);
    moveButtonKey(KeyPadRightShoulder, shoulders & 0x02, input);
    moveButtonKey(KeyPadLeftThumb, shoulders & 0x40, input);
    moveButtonKey(KeyPadRightThumb, shoulders & 0x80, input);
    moveButtonKey(KeyPadOptions, shoulders & 0x20, input);
    moveButtonKey(KeyPadShare, shoulders & 0x10, input);
    return 0;
}
