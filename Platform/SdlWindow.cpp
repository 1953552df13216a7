#include "Platform/SdlWindow.h"

#include "Core/Clock.h"
#include "Platform/DualShock4Device.h"
#include "Platform/ProgramWindow.h"

#include <cstring>

namespace {

constexpr i32 kMaxControllers = 8;
SDL_GameController* openControllers[kMaxControllers];

i16 flippedAxis(i16 value) { return value == -32768 ? 32767 : (i16)-value; }

u8 triggerByte(i16 value) {
    if (value <= 0) return 0;
    return (u8)((i32)value * 255 / 32767);
}

void keyChanged(const SDL_KeyboardEvent* key, WindowHead* head, Platform* platform) {
    i32 code = virtualKeyFromScancode(key->keysym.scancode);
    if (code == 0) return;
    if (key->type == SDL_KEYUP) {
        clearKey(code, &platform->input);
        return;
    }
    pressKey(code, &platform->input);  // auto-repeat adds events
    if (code == KeyF4 && (key->keysym.mod & KMOD_ALT)) setRunning(head, 0);
}

// The size the window was last made larger from: a window manager that puts it back to that size is
// not asked again, so that the two do not take turns without end.
i32 correctedWidth = 0;
i32 correctedHeight = 0;

}  // namespace

i32 virtualKeyFromScancode(SDL_Scancode scancode) {
    i32 s = (i32)scancode;
    if (s >= SDL_SCANCODE_A && s <= SDL_SCANCODE_Z) return 65 + (s - SDL_SCANCODE_A);
    if (s >= SDL_SCANCODE_1 && s <= SDL_SCANCODE_9) return 49 + (s - SDL_SCANCODE_1);
    if (s >= SDL_SCANCODE_F1 && s <= SDL_SCANCODE_F12) return 112 + (s - SDL_SCANCODE_F1);
    if (s >= SDL_SCANCODE_KP_1 && s <= SDL_SCANCODE_KP_9) return 97 + (s - SDL_SCANCODE_KP_1);
    switch (scancode) {
        case SDL_SCANCODE_0: return 48;
        case SDL_SCANCODE_RETURN: return 13;
        case SDL_SCANCODE_ESCAPE: return 27;
        case SDL_SCANCODE_BACKSPACE: return 8;
        case SDL_SCANCODE_TAB: return 9;
        case SDL_SCANCODE_SPACE: return 32;
        case SDL_SCANCODE_MINUS: return 189;
        case SDL_SCANCODE_EQUALS: return 187;
        case SDL_SCANCODE_LEFTBRACKET: return 219;
        case SDL_SCANCODE_RIGHTBRACKET: return 221;
        case SDL_SCANCODE_BACKSLASH: return 220;
        case SDL_SCANCODE_NONUSHASH: return 220;
        case SDL_SCANCODE_SEMICOLON: return 186;
        case SDL_SCANCODE_APOSTROPHE: return 222;
        case SDL_SCANCODE_GRAVE: return 192;
        case SDL_SCANCODE_COMMA: return 188;
        case SDL_SCANCODE_PERIOD: return 190;
        case SDL_SCANCODE_SLASH: return 191;
        case SDL_SCANCODE_CAPSLOCK: return 20;
        case SDL_SCANCODE_PRINTSCREEN: return 44;
        case SDL_SCANCODE_SCROLLLOCK: return 145;
        case SDL_SCANCODE_PAUSE: return 19;
        case SDL_SCANCODE_INSERT: return 45;
        case SDL_SCANCODE_HOME: return 36;
        case SDL_SCANCODE_PAGEUP: return 33;
        case SDL_SCANCODE_DELETE: return 46;
        case SDL_SCANCODE_END: return 35;
        case SDL_SCANCODE_PAGEDOWN: return 34;
        case SDL_SCANCODE_RIGHT: return 39;
        case SDL_SCANCODE_LEFT: return 37;
        case SDL_SCANCODE_DOWN: return 40;
        case SDL_SCANCODE_UP: return 38;
        case SDL_SCANCODE_NUMLOCKCLEAR: return 144;
        case SDL_SCANCODE_KP_DIVIDE: return 111;
        case SDL_SCANCODE_KP_MULTIPLY: return 106;
        case SDL_SCANCODE_KP_MINUS: return 109;
        case SDL_SCANCODE_KP_PLUS: return 107;
        case SDL_SCANCODE_KP_ENTER: return 13;
        case SDL_SCANCODE_KP_0: return 96;
        case SDL_SCANCODE_KP_PERIOD: return 110;
        case SDL_SCANCODE_NONUSBACKSLASH: return 226;
        case SDL_SCANCODE_APPLICATION: return 93;
        case SDL_SCANCODE_LCTRL: return KeyLeftControl;
        case SDL_SCANCODE_RCTRL: return KeyRightControl;
        case SDL_SCANCODE_LSHIFT: return KeyLeftShift;
        case SDL_SCANCODE_RSHIFT: return KeyRightShift;
        case SDL_SCANCODE_LALT: return KeyLeftAlt;
        case SDL_SCANCODE_RALT: return KeyRightAlt;
        case SDL_SCANCODE_LGUI: return 91;
        case SDL_SCANCODE_RGUI: return 92;
        default: return 0;
    }
}

void handleWindowEvent(const SDL_Event* event, WindowHead* head, Platform* platform, u64 now) {
    switch (event->type) {
        case SDL_QUIT:
            setRunning(head, 0);
            break;
        case SDL_WINDOWEVENT:
            switch (event->window.event) {
                case SDL_WINDOWEVENT_CLOSE: setRunning(head, 0); break;
                case SDL_WINDOWEVENT_SIZE_CHANGED:
                    head->sizeMessageCount++;
                    if (head->window && !platform->fullscreen) {
                        keepMinimumWindowSize((SDL_Window*)head->window, event->window.data1, event->window.data2);
                    }
                    break;
                case SDL_WINDOWEVENT_FOCUS_GAINED:
                case SDL_WINDOWEVENT_FOCUS_LOST: clearAllKeys(&platform->input); break;
                default: break;
            }
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            keyChanged(&event->key, head, platform);
            break;
        case SDL_MOUSEMOTION: {
            if (event->motion.which == SDL_TOUCH_MOUSEID) break;  // made from touches, which come on their own
            addRawMouseMotion(platform, event->motion.xrel, event->motion.yrel);
            u32 buttons = event->motion.state;
            mouseMoved(head, platform, event->motion.x, event->motion.y, (buttons & SDL_BUTTON_LMASK) != 0,
                       (buttons & SDL_BUTTON_RMASK) != 0, now);
            break;
        }
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            if (event->button.which == SDL_TOUCH_MOUSEID) break;
            i32 down = event->type == SDL_MOUSEBUTTONDOWN;
            i32 code = 0;
            if (event->button.button == SDL_BUTTON_LEFT) code = KeyMouseLeft;
            if (event->button.button == SDL_BUTTON_RIGHT) code = KeyMouseRight;
            if (event->button.button == SDL_BUTTON_MIDDLE) code = KeyMouseMiddle;
            if (code == 0) break;
            if (code == KeyMouseLeft) {
                // The press happens where the button went down.
                head->mouse.x = (f32)event->button.x;
                head->mouse.y = (f32)(head->clientHeight - event->button.y - 1);
            }
            mouseButtonChanged(head, platform, code, down, now);
            break;
        }
        case SDL_MOUSEWHEEL: {
            if (event->wheel.which == SDL_TOUCH_MOUSEID) break;
            i64 notches = event->wheel.y;
            if (event->wheel.direction == SDL_MOUSEWHEEL_FLIPPED) notches = -notches;
            addWheelNotches(platform, notches);
            break;
        }
        case SDL_FINGERDOWN:
        case SDL_FINGERMOTION:
        case SDL_FINGERUP: {
            i32 width = 0;
            i32 height = head->clientHeight;
            if (head->window) SDL_GetWindowSize((SDL_Window*)head->window, &width, &height);
            f32 x = event->tfinger.x * (f32)width;
            f32 yDown = event->tfinger.y * (f32)height;
            u64 id = (u64)event->tfinger.fingerId;
            if (event->type == SDL_FINGERDOWN) {
                touchPointDown(head, platform, id, x, yDown, now);
            } else {
                touchPointMoved(head, platform, id, x, yDown, event->type == SDL_FINGERUP, now);
            }
            break;
        }
        case SDL_CONTROLLERDEVICEADDED:
            openGameController(event->cdevice.which);
            break;
        case SDL_CONTROLLERDEVICEREMOVED:
            closeGameController(event->cdevice.which);
            break;
        default:
            break;
    }
}

void handleWaitingWindowEvents(WindowHead* head, Platform* platform) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) handleWindowEvent(&event, head, platform, getMicroseconds());
}

PadPoll padPollFromController(SDL_GameController* controller) {
    PadPoll poll{};
    poll.leftStickX = SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_LEFTX);
    poll.leftStickY = flippedAxis(SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_LEFTY));
    poll.rightStickX = SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_RIGHTX);
    poll.rightStickY = flippedAxis(SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_RIGHTY));
    poll.leftTrigger = triggerByte(SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_TRIGGERLEFT));
    poll.rightTrigger = triggerByte(SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_TRIGGERRIGHT));
    static constexpr struct {
        SDL_GameControllerButton button;
        u16 bit;
    } kButtons[] = {
        {SDL_CONTROLLER_BUTTON_A, PadButtonA},
        {SDL_CONTROLLER_BUTTON_B, PadButtonB},
        {SDL_CONTROLLER_BUTTON_X, PadButtonX},
        {SDL_CONTROLLER_BUTTON_Y, PadButtonY},
        {SDL_CONTROLLER_BUTTON_DPAD_LEFT, PadButtonLeft},
        {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, PadButtonRight},
        {SDL_CONTROLLER_BUTTON_DPAD_UP, PadButtonUp},
        {SDL_CONTROLLER_BUTTON_DPAD_DOWN, PadButtonDown},
        {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, PadButtonLeftShoulder},
        {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, PadButtonRightShoulder},
        {SDL_CONTROLLER_BUTTON_LEFTSTICK, PadButtonLeftThumb},
        {SDL_CONTROLLER_BUTTON_RIGHTSTICK, PadButtonRightThumb},
        {SDL_CONTROLLER_BUTTON_START, PadButtonStart},
        {SDL_CONTROLLER_BUTTON_BACK, PadButtonBack},
    };
    for (const auto& entry : kButtons) {
        if (SDL_GameControllerGetButton(controller, entry.button)) poll.buttons |= entry.bit;
    }
    return poll;
}

void openGameController(i32 deviceIndex) {
    if (!SDL_IsGameController(deviceIndex)) return;
    SDL_JoystickID instance = SDL_JoystickGetDeviceInstanceID(deviceIndex);
    for (SDL_GameController* open : openControllers) {
        if (open && SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(open)) == instance) return;
    }
    for (SDL_GameController*& slot : openControllers) {
        if (slot) continue;
        slot = SDL_GameControllerOpen(deviceIndex);
        return;
    }
}

void closeGameController(SDL_JoystickID instance) {
    for (SDL_GameController*& slot : openControllers) {
        if (slot && SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(slot)) == instance) {
            SDL_GameControllerClose(slot);
            slot = nullptr;
        }
    }
}

void closeAllGameControllers() {
    for (SDL_GameController*& slot : openControllers) {
        if (slot) SDL_GameControllerClose(slot);
        slot = nullptr;
    }
}

void pollGameControllers(Platform* platform, u64 now, u32 dualShock4Raw) {
    for (i32 pad = 0; pad < kMaxControllers; pad++) {
        SDL_GameController* controller = openControllers[pad];
        if (!controller || !SDL_GameControllerGetAttached(controller)) continue;
        if (dualShock4Raw && SDL_GameControllerGetVendor(controller) == kDualShock4Vendor &&
            SDL_GameControllerGetProduct(controller) == kDualShock4Product)
            continue;
        if (platform->gamepad.remote) return;
        PadPoll poll = padPollFromController(controller);
        applyPadPoll(&poll, pad, now, &platform->gamepad, &platform->input);
        return;
    }
}

void keepMinimumWindowSize(SDL_Window* window, i32 width, i32 height) {
    if (width >= kMinimumWindowWidth && height >= kMinimumWindowHeight) return;
    if (width == correctedWidth && height == correctedHeight) return;
    // A maximised window takes the room the screen gives it.
    if (SDL_GetWindowFlags(window) & (SDL_WINDOW_MAXIMIZED | SDL_WINDOW_FULLSCREEN)) return;
    correctedWidth = width;
    correctedHeight = height;
    SDL_SetWindowSize(window, width > kMinimumWindowWidth ? width : kMinimumWindowWidth,
                      height > kMinimumWindowHeight ? height : kMinimumWindowHeight);
}

i32 applyFullscreenChange(SDL_Window* window, WindowHead* head, Platform* platform) {
    if (platform->fullscreen == platform->fullscreenWanted) return 0;
    if (!platform->fullscreenWanted) {
        SDL_SetWindowFullscreen(window, 0);
        SDL_SetWindowBordered(window, SDL_TRUE);
        SDL_SetWindowSize(window, head->savedPlacement.width, head->savedPlacement.height);
        SDL_SetWindowPosition(window, head->savedPlacement.x, head->savedPlacement.y);
        platform->fullscreen = 0;
        return 0;
    }
    WindowPlacement placement;
    SDL_GetWindowPosition(window, &placement.x, &placement.y);
    SDL_GetWindowSize(window, &placement.width, &placement.height);
    SDL_Rect bounds;
    i32 display = SDL_GetWindowDisplayIndex(window);
    if (display < 0 || SDL_GetDisplayBounds(display, &bounds) != 0) return 1;
    if (SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN_DESKTOP) != 0) return 1;
    head->savedPlacement = placement;
    platform->fullscreen = 1;
    return 0;
}

void applyCursorCapture(WindowHead* head, Platform* platform, i32 width, i32 height) {
    if (platform->cursorCaptured != platform->cursorCaptureWanted) {
        // Relative mode hides the cursor and keeps it in the window; only raw motion moves things.
        SDL_SetRelativeMouseMode(platform->cursorCaptureWanted ? SDL_TRUE : SDL_FALSE);
        SDL_ShowCursor(platform->cursorCaptureWanted ? SDL_DISABLE : SDL_ENABLE);
        platform->cursorCaptured = platform->cursorCaptureWanted;
    }
    if (!platform->cursorCaptureWanted && head->arrowCursor) {
        const PointerSlot* pointer = &platform->pointers[0];
        if (pointer->x >= 20 && pointer->x <= width - 20 && pointer->y >= 20 && pointer->y <= height - 20) {
            SDL_SetCursor((SDL_Cursor*)head->arrowCursor);
        }
    }
}

u64 framePacingWait(u64 previousSwapEnd, u64 now, u64 refreshPeriod) {
    if (previousSwapEnd == 0 || now < previousSwapEnd) return 0;
    u64 elapsed = now - previousSwapEnd;
    if (elapsed >= refreshPeriod - refreshPeriod / 4) return 0;
    return refreshPeriod - elapsed;
}
