// Mouse, touch, wheel and raw-mouse handlers and the frame's turn-over of those inputs.
#include <atomic>

#include "Platform/Platform.h"

WindowsAndApplicationMemory* globalMemory = nullptr;

u32 isRunning(const WindowHead* head) {
    return std::atomic_ref<u32>(const_cast<u32&>(head->running)).load(std::memory_order_acquire);
}

void setRunning(WindowHead* head, u32 value) {
    std::atomic_ref<u32>(head->running).store(value, std::memory_order_release);
}

namespace {

// A mouse button's key: down at once; up at once unless no frame has seen it down yet, in which case
// it stays down until the end of the next frame.
void moveMouseKey(WindowHead* head, Platform* platform, i32 code, i32 down) {
    u32 bit = 1u << code;
    bool isDown = isKeyDown(&platform->input, code);
    if (down) {
        if (!isDown) head->unseenMouseKeyBits |= bit;
        head->heldMouseKeyBits &= ~bit;
        setKeyState(code, &platform->input, 1);
    } else if (isDown && (head->unseenMouseKeyBits & bit)) {
        head->heldMouseKeyBits |= bit;
    } else if (!(head->heldMouseKeyBits & bit)) {
        setKeyState(code, &platform->input, 0);
    }
}

void pressMouse(WindowHead* head, f32 pressX, f32 pressY, u64 now) {
    head->mouse.pressX = pressX;
    head->mouse.pressY = pressY;
    head->mouse.pressTime = now;
    head->mouse.state = PointerPressed;
    head->unseenPressBits |= 1u;
    head->heldReleaseBits &= ~1u;
}

// The mouse let go: present at once, or pressed until the end of the next frame when no frame has
// seen the press.
void releaseMouse(WindowHead* head) {
    if (head->mouse.state == PointerPressed && (head->unseenPressBits & 1u)) {
        head->heldReleaseBits |= 1u;
    } else if (!(head->heldReleaseBits & 1u)) {
        head->mouse.state = PointerPresent;
    }
}

}  // namespace

void mouseButtonChanged(WindowHead* head, Platform* platform, i32 code, i32 down, u64 now) {
    if (code == KeyMouseLeft || code == KeyMouseRight || code == KeyMouseMiddle) {
        moveMouseKey(head, platform, code, down);
    } else {
        setKeyState(code, &platform->input, down);
    }
    if (code != KeyMouseLeft) return;
    if (down) {
        pressMouse(head, head->mouse.x, head->mouse.y, now);
    } else {
        releaseMouse(head);
    }
    head->lastMouseMessageTime = now;
}

void mouseMoved(WindowHead* head, Platform* platform, i32 x, i32 yDown, i32 leftDown, i32 rightDown, u64 now) {
    moveMouseKey(head, platform, KeyMouseLeft, leftDown);
    moveMouseKey(head, platform, KeyMouseRight, rightDown);
    head->mouse.x = (f32)x;
    head->mouse.y = (f32)(head->clientHeight - yDown - 1);
    if (!leftDown) {
        releaseMouse(head);
    } else if (head->mouse.state != PointerPressed) {
        // The press began outside the window: it starts where the last frame saw the pointer.
        pressMouse(head, platform->pointers[0].x, platform->pointers[0].y, now);
    }
    head->lastMouseMessageTime = now;
}

void addWheelNotches(Platform* platform, i64 notches) { platform->wheelTotal += notches; }

void addRawMouseMotion(Platform* platform, i64 dx, i64 dyDown) {
    platform->rawMouseX += dx;
    platform->rawMouseY -= dyDown;
}

void touchPointDown(WindowHead* head, Platform* platform, u64 id, f32 x, f32 yDown, u64 now) {
    head->lastTouchMessageTime = now;
    head->touchSeen = 1;
    for (i32 slot = 1; slot < kPointerSlots; slot++) {
        PointerSlot* pointer = &platform->pointers[slot];
        if (pointer->state != PointerAbsent || (head->releasedPointerBits >> slot) & 1) continue;
        pointer->state = PointerPressed;
        pointer->x = x;
        pointer->y = (f32)head->clientHeight - yDown;
        pointer->pressTime = now;
        pointer->pressX = pointer->x;
        pointer->pressY = pointer->y;
        head->touchIds[slot] = id;
        head->unseenPressBits |= 1u << slot;
        return;
    }
}

void touchPointMoved(WindowHead* head, Platform* platform, u64 id, f32 x, f32 yDown, i32 up, u64 now) {
    head->lastTouchMessageTime = now;
    head->touchSeen = 1;
    for (i32 slot = 1; slot < kPointerSlots; slot++) {
        PointerSlot* pointer = &platform->pointers[slot];
        // A lifted finger whose slot waits for the next frame to see its tap is done moving.
        if (pointer->state == PointerAbsent || head->touchIds[slot] != id || ((head->heldReleaseBits >> slot) & 1)) {
            continue;
        }
        pointer->x = x;
        pointer->y = (f32)head->clientHeight - yDown;
        if (up && ((head->unseenPressBits >> slot) & 1)) {
            head->heldReleaseBits |= 1u << slot;
        } else if (up) {
            pointer->state = PointerAbsent;
            head->releasedPointerBits |= 1ull << slot;
        }
        return;
    }
}

void prepareFrameInputs(WindowHead* head, Platform* platform, i32 clientHeight) {
    bool mouseIsOwn = !head->touchSeen || head->lastMouseMessageTime > head->lastTouchMessageTime + kTouchOverMouseMicroseconds;
    if (mouseIsOwn) {
        platform->pointers[0] = head->mouse;
    } else {
        platform->pointers[0].state = PointerAbsent;
    }
    platform->wheelDelta = platform->wheelTotal - head->lastWheel;
    platform->rawMouseDeltaX = platform->rawMouseX - head->lastRawMouseX;
    platform->rawMouseDeltaY = platform->rawMouseY - head->lastRawMouseY;
    head->clientHeight = clientHeight;
    head->unseenPressBits = 0;
    head->unseenMouseKeyBits = 0;
}

void finishFrameInputs(WindowHead* head, Platform* platform) {
    head->lastWheel = platform->wheelTotal;
    head->lastRawMouseX = platform->rawMouseX;
    head->lastRawMouseY = platform->rawMouseY;
    platform->previousGamepad = platform->gamepad;
    head->releasedPointerBits = 0;
    // Presses this frame saw that had already ended: the next frame sees them let go.
    const i32 mouseKeys[3] = {KeyMouseLeft, KeyMouseRight, KeyMouseMiddle};
    for (i32 code : mouseKeys) {
        if (head->heldMouseKeyBits & (1u << code)) clearKey(code, &platform->input);
    }
    head->heldMouseKeyBits = 0;
    if (head->heldReleaseBits & 1u) head->mouse.state = PointerPresent;
    for (i32 slot = 1; slot < kPointerSlots; slot++) {
        if (!((head->heldReleaseBits >> slot) & 1)) continue;
        platform->pointers[slot].state = PointerAbsent;
        head->releasedPointerBits |= 1ull << slot;  // free for a new finger once that frame has passed
    }
    head->heldReleaseBits = 0;
}
