// The window-system side of the platform layer on SDL2: events into the shared input records, game
// controllers, fullscreen and cursor capture. Only the platform layer and tests include this.
#pragma once
#include <SDL.h>

#include "Platform/Platform.h"

// The key code of a key by its position (SDL scancode); 0 for keys the program does not use.
i32 virtualKeyFromScancode(SDL_Scancode scancode);

// Turns one window-system event into the shared records. The window size (in window coordinates)
// places touch points.
void handleWindowEvent(const SDL_Event* event, WindowHead* head, Platform* platform, u64 now);
// Takes every event waiting in SDL's queue, as the main loop does before each frame.
void handleWaitingWindowEvents(WindowHead* head, Platform* platform);

// One XInput-style poll of an SDL game controller's axes and buttons (y up).
PadPoll padPollFromController(SDL_GameController* controller);
// Opens and closes controllers as they come and go.
void openGameController(i32 deviceIndex);
void closeGameController(SDL_JoystickID instance);
void closeAllGameControllers();
// Polls the first open controller into the game pad and keys 223-236; nothing changes without one.
// While a DualShock 4 is read from its own reports (dualShock4Raw), controllers with its vendor and
// product are left to that path.
void pollGameControllers(Platform* platform, u64 now, u32 dualShock4Raw);

// After the window's size changed to width x height (window coordinates): a window smaller than the
// program's minimum is made that large again, where the minimum given to the window manager was not
// kept (no window manager, or one that ignores it). A maximised or fullscreen window is left as it
// is, and so is a size the window manager kept after one correction.
void keepMinimumWindowSize(SDL_Window* window, i32 width, i32 height);

// Applies the fullscreen wish: entering saves the window's placement, leaving restores it. Returns 0
// when the change is done (or none was wanted), 1 when it failed and is to be tried again.
i32 applyFullscreenChange(SDL_Window* window, WindowHead* head, Platform* platform);
// Applies the cursor-capture wish: a captured cursor is hidden and only raw motion moves things.
void applyCursorCapture(WindowHead* head, Platform* platform, i32 width, i32 height);

// Microseconds to wait after a buffer swap that did not wait for the display (software rendering, an
// occluded window, a driver that ignores the swap interval): the rest of the refresh period since
// the previous swap ended. 0 on the first frame and whenever the frame already took most of a period,
// as it does when the swap waits.
u64 framePacingWait(u64 previousSwapEnd, u64 now, u64 refreshPeriod);
