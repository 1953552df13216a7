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

void mouseButtonChanged(WindowHead* head, Platform* platform, i32 code, i32 down, u64 now) {
    setKeyState(code, &platform->input, down);
    if (code != KeyMouseLeft) return;
    if (down) {
        head->mouse.pressX = head->mouse.x;
        head->mouse.pressY = head->mouse.y;
        head->mouse.pressTime = now;
        head->mouse.state = PointerPressed;
    } else {
        head->mouse.state = PointerPresent;
    }
    head->lastMouseMessageTime = now;
}

void mouseMoved(WindowHead* head, Platform* platform, i32 x, i32 yDown, i32 leftDown, i32 rightDown, u64 now) {
    setKeyState(KeyMouseLeft, &platform->input, leftDown);
    setKeyState(KeyMouseRight, &platform->input, rightDown);
    head->mouse.x = (f32)x;
    head->mouse.y = (f32)(head->clientHeight - yDown - 1);
    if (!leftDown) {
        head->mouse.state = PointerPresent;
    } else if (head->mouse.state != PointerPressed) {
        // The press began outside the window: it starts where the last frame saw the pointer.
        head->mouse.pressTime = now;
        head->mouse.pressX = platform->pointers[0].x;
        head->mouse.pressY = platform->pointers[0].y;
        head->mouse.state = PointerPressed;
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
        return;
    }
}

void touchPointMoved(WindowHead* head, Platform* platform, u64 id, f32 x, f32 yDown, i32 up, u64 now) {
    head->lastTouchMessageTime = now;
    head->touchSeen = 1;
    for (i32 slot = 1; slot < kPointerSlots; slot++) {
        PointerSlot* pointer = &platform->pointers[slot];
        if (pointer->state == PointerAbsent || head->touchIds[slot] != id) continue;
        pointer->x = x;
        pointer->y = (f32)head->clientHeight - yDown;
        if (up) {
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
}

void finishFrameInputs(WindowHead* head, Platform* platform) {
    head->lastWheel = platform->wheelTotal;
    head->lastRawMouseX = platform->rawMouseX;
    head->lastRawMouseY = platform->rawMouseY;
    platform->previousGamepad = platform->gamepad;
    head->releasedPointerBits = 0;
}
