// The OpenGL driver is the largest part of the program's start: Mesa's driver library and LLVM are
// about 140 MB of code, and binding their relocations takes tens of milliseconds. The window system
// starts on the main thread meanwhile, so a thread of the start-up loads the driver's libraries
// first; when the window then asks for OpenGL, they are there. The libraries stay loaded: the window's
// OpenGL keeps them anyway.
//
// The window system's own library loads must come first (the loader lets one load run at a time):
// start the preload once SDL's events are up (they open D-Bus), before its video.
#pragma once
#include <thread>

#include "Core/Types.h"

// The driver library a start loads after the GL dispatch libraries and Mesa's EGL vendor library:
// "swrast_dri.so" (Mesa builds all its drivers into that one file and links the others to it) in the
// first folder of driversPath (LIBGL_DRIVERS_PATH, where Mesa itself looks first) when it is set and
// not empty, else in the "dri" folder under eglVendorFolder (the folder Mesa's EGL library was loaded
// from). False, with out empty, when neither is given or the path does not fit.
bool glDriverLibraryPath(char* out, u32 capacity, const char* driversPath, const char* eglVendorFolder);

// Loads the GL dispatch libraries, Mesa's EGL vendor library and the driver library, each one that
// exists; a missing one is skipped (the window's own load later finds what it needs or says why).
// Returns how many loaded.
u32 preloadGlDriver();

// preloadGlDriver on a thread of its own; join it before the program returns.
std::thread startGlDriverPreload();
