// The platform layer's part of the program's life on SDL2: the window system's start, the window and
// its OpenGL context, one frame around the application's update (input, buffer swap, pacing,
// fullscreen and cursor wishes), the late start-up steps after the first frame, and the end. The
// program's main (above every other folder) calls these in order and hands the frame its update.
#pragma once
#include <thread>

#include "Platform/Platform.h"

// What the frame asks of the application above it.
struct ProgramFrameHooks {
    void* context;
    // Updates and draws one frame of the given drawable size in pixels.
    void (*updateAndRender)(void* context, i32 width, i32 height);
    // 1 once the frame just presented was complete (its assets ready and the settings read).
    u32 (*frameComplete)(void* context);
    // Called once, on the first frame after the video library has loaded, to open the decoder.
    void (*videoLibraryLoaded)(void* context);
    // Fills the GL function table once the window's context is current.
    GlFunctionTable* (*loadGlFunctions)(GlFunctionTable* table, GlGetProcFunction getProc);
};

// Reads ORVIK_EXIT_AFTER_FRAMES (frames to run before the program closes its own window, so a test
// can run it unattended) and ORVIK_STARTUP_REPORT, and notes when main was entered. From here on
// SIGTERM and SIGINT end the program as closing its window does: the main loop stops before its next
// frame and the program ends in order.
void readProgramEnvironment();

// Reserves the one zero-filled state block; null (and a line on stderr) when it cannot be had.
u8* reserveProgramBlock(u64 size);

// Starts SDL's events, the GL driver preload (on the thread it leaves in driverWorker) and SDL's
// video. False, with the reason on stderr and everything it started stopped again, when there is no
// window system or no display to show a window on.
bool startWindowSystem(std::thread* driverWorker);

// The smallest window the program lets the user make, in pixels.
constexpr i32 kMinimumWindowWidth = 800;
constexpr i32 kMinimumWindowHeight = 600;

// Opens the program's window (EGL first on X11, GLX where EGL cannot be had); null when none opens.
void* openProgramWindow();

// One frame: OpenGL's set-up on its first run, the late start-up steps, game controllers, the
// application's update through the hooks, the buffer swap and the frame pacing.
void mainLoop(WindowHead* head, Platform* platform, const ProgramFrameHooks* hooks);

// Drains the window system's events and runs frames until the window closes.
void runMainLoop(WindowHead* head, Platform* platform, const ProgramFrameHooks* hooks);

// Notes that the set-up is done (for the start-up report).
void markProgramSetUpDone();

// Frees the window, its context, the cursor and the game controllers and stops SDL.
void closeWindowSystem(WindowHead* head);
