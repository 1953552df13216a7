// The platform layer's part of the program's life: see ProgramWindow.h.
#include "Platform/ProgramWindow.h"

#include <signal.h>
#include <sys/mman.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Core/Clock.h"
#include "Core/Profiler.h"
#include "Platform/DualShock4Device.h"
#include "Platform/GlDriverPreload.h"
#include "Platform/H264Decoder.h"
#include "Platform/SdlWindow.h"

namespace {

constexpr GlEnum kGlVersion = 0x1F02;
constexpr GlEnum kGlRenderer = 0x1F01;
constexpr GlEnum kGlMajorVersion = 0x821B;
constexpr GlEnum kGlMinorVersion = 0x821C;
constexpr GlEnum kGlContextFlags = 0x821E;
constexpr GlEnum kGlContextProfileMask = 0x9126;
constexpr GlInt kGlContextCoreProfileBit = 0x1;
constexpr GlInt kGlContextFlagDebugBit = 0x2;

// Frames to run before the program closes its own window (ORVIK_EXIT_AFTER_FRAMES), 0 for no limit:
// lets a test run the real program unattended.
u64 exitAfterFrames = 0;
u64 framesDrawn = 0;

// Without a context the set-up is tried again once a second, not every frame.
constexpr u64 kGlRetryMicroseconds = 1000000;
u64 nextGlAttempt = 0;

// The DualShock 4 read from its own reports through its hidraw device, beside SDL's controllers.
DualShock4Reader dualShock4{};
bool glFailureReported = false;

// The first failure is written to stderr and shown to the operator; later ones only wait.
void reportGlFailure(SDL_Window* window, const char* what) {
    nextGlAttempt = getMicroseconds() + kGlRetryMicroseconds;
    if (glFailureReported) return;
    glFailureReported = true;
    char text[1024];
    std::snprintf(text, sizeof text,
                  "%s: %s\n\nOrvik needs OpenGL 4.3 (core profile). It keeps trying once a second.", what,
                  SDL_GetError());
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "Orvik: no OpenGL 4.3", text, window);
}

// Creates the window's 4.3 core context, makes it current and loads the GL functions; null when it
// did, else what failed.
const char* createGlContext(WindowHead* head, const ProgramFrameHooks* hooks) {
    SDL_Window* window = (SDL_Window*)head->window;
    SDL_GLContext context;
    {
        ProfilingScope create("Create actual wgl context");
        context = SDL_GL_CreateContext(window);
    }
    if (!context) return "Could not create an OpenGL 4.3 core context";
    if (SDL_GL_MakeCurrent(window, context) != 0) {
        SDL_GL_DeleteContext(context);
        return "Could not make the OpenGL 4.3 core context current";
    }
    head->glContext = context;
    hooks->loadGlFunctions(&head->gl, SDL_GL_GetProcAddress);
    SDL_GL_SetSwapInterval(1);
    head->glReady = 1;
    return nullptr;
}

// On X11 the window's OpenGL goes through EGL, as it does on Wayland: SDL's GLX set-up makes and
// deletes a legacy context of its own before the window's (with a software driver about a tenth of
// the start). It is only a default: SDL_VIDEO_X11_FORCE_EGL=0 in the environment keeps GLX.
bool windowOpenGlIsX11Egl() {
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver && std::strcmp(driver, "x11") == 0 && SDL_GetHintBoolean(SDL_HINT_VIDEO_X11_FORCE_EGL, SDL_FALSE);
}

SDL_Window* createProgramWindow() {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, SDL_GL_CONTEXT_DEBUG_FLAG);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_Window* window = SDL_CreateWindow("Orvik", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 1280, 720,
                                          SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_SHOWN);
    if (window) SDL_SetWindowMinimumSize(window, kMinimumWindowWidth, kMinimumWindowHeight);
    return window;
}

// Where EGL could not be loaded or made no 4.3 core context, the window is made again on GLX: SDL
// picks the GL interface when it loads the GL library, which the new window loads again.
SDL_Window* reopenWindowOnGlx(SDL_Window* window) {
    std::fprintf(stderr, "OpenGL through EGL failed (%s); trying GLX\n", SDL_GetError());
    if (window) SDL_DestroyWindow(window);
    SDL_GL_UnloadLibrary();
    SDL_SetHintWithPriority(SDL_HINT_VIDEO_X11_FORCE_EGL, "0", SDL_HINT_OVERRIDE);
    return createProgramWindow();
}

void initializeOpenGl(WindowHead* head, const ProgramFrameHooks* hooks) {
    if (getMicroseconds() < nextGlAttempt) return;
    ProfilingScope scope("Initialize OpenGL");
    const char* failure = createGlContext(head, hooks);
    if (failure && windowOpenGlIsX11Egl()) {
        if (SDL_Window* replacement = reopenWindowOnGlx((SDL_Window*)head->window)) {
            head->window = replacement;
            failure = createGlContext(head, hooks);
        } else {
            head->window = nullptr;
            std::fprintf(stderr, "Could not open the window: %s\n", SDL_GetError());
            setRunning(head, 0);
            return;
        }
    }
    if (failure) {
        reportGlFailure((SDL_Window*)head->window, failure);
        return;
    }

    GlInt major = 0, minor = 0, profile = 0, flags = 0;
    if (head->gl.glGetIntegerv) {
        head->gl.glGetIntegerv(kGlMajorVersion, &major);
        head->gl.glGetIntegerv(kGlMinorVersion, &minor);
        head->gl.glGetIntegerv(kGlContextProfileMask, &profile);
        head->gl.glGetIntegerv(kGlContextFlags, &flags);
    }
    const char* version = head->gl.glGetString ? (const char*)head->gl.glGetString(kGlVersion) : nullptr;
    const char* renderer = head->gl.glGetString ? (const char*)head->gl.glGetString(kGlRenderer) : nullptr;
    const char* driver = SDL_GetCurrentVideoDriver();
    bool egl = !driver || std::strcmp(driver, "x11") != 0 || windowOpenGlIsX11Egl();
    std::printf("OpenGL %d.%d %s profile%s, through %s: %s, %s\n", major, minor,
                (profile & kGlContextCoreProfileBit) ? "core" : "compatibility",
                (flags & kGlContextFlagDebugBit) ? ", debug" : "", egl ? "EGL" : "GLX", version ? version : "?",
                renderer ? renderer : "?");
    std::fflush(stdout);
}

void applyWindowWishes(SDL_Window* window, WindowHead* head, Platform* platform, i32 width, i32 height) {
    applyFullscreenChange(window, head, platform);
    applyCursorCapture(head, platform, width, height);
    applyFullscreenChange(window, head, platform);
}

// The end of the last frame's buffer swap, and the display's refresh period.
u64 lastSwapEnd = 0;

u64 displayRefreshPeriod(SDL_Window* window) {
    SDL_DisplayMode mode{};
    i32 display = SDL_GetWindowDisplayIndex(window);
    if (display < 0 || SDL_GetCurrentDisplayMode(display, &mode) != 0 || mode.refresh_rate <= 0) return 1000000 / 60;
    return 1000000 / (u64)mode.refresh_rate;
}

// When the swap did not wait for the display, waits out the rest of the refresh period.
void paceFrame(SDL_Window* window) {
    u64 now = getMicroseconds();
    u64 wait = framePacingWait(lastSwapEnd, now, displayRefreshPeriod(window));
    if (wait > 0) {
        ProfilingScope pace("Frame Pacing");
        std::this_thread::sleep_for(std::chrono::microseconds(wait));
        now = getMicroseconds();
    }
    lastSwapEnd = now;
}

// The video driver SDL chose draws nowhere a person can see: no X11 or Wayland display was found.
bool isInvisibleVideoDriver() {
    const char* driver = SDL_GetCurrentVideoDriver();
    return !driver || std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0;
}

// With ORVIK_STARTUP_REPORT set, the program writes one line when its first complete frame (the
// font, and every shader program and image asset that the frame drew, were ready, and the settings
// were read) has come back from the buffer swap, and then closes its window. The times are
// microseconds of the system's monotonic clock, so that whoever started the program can measure
// from its own start.
bool startupReport = false;
u64 mainEntered = 0;
u64 setUpDone = 0;

u64 monotonicMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (u64)now.tv_sec * 1000000 + (u64)now.tv_nsec / 1000;
}

void pushWindowClose(WindowHead* head) {
    SDL_Event close{};
    close.type = SDL_WINDOWEVENT;
    close.window.event = SDL_WINDOWEVENT_CLOSE;
    close.window.windowID = SDL_GetWindowID((SDL_Window*)head->window);
    SDL_PushEvent(&close);
}

void closeWindowAfterLastFrame(WindowHead* head) {
    if (exitAfterFrames && framesDrawn == exitAfterFrames) pushWindowClose(head);
}

void reportFirstCompleteFrame(WindowHead* head, const ProgramFrameHooks* hooks, u64 frame) {
    if (!startupReport || !hooks->frameComplete(hooks->context)) return;
    startupReport = false;
    std::printf("Start-up: main %llu, set-up done %llu, first complete frame presented %llu (frame %llu)\n",
                (unsigned long long)mainEntered, (unsigned long long)setUpDone,
                (unsigned long long)monotonicMicroseconds(), (unsigned long long)frame);
    std::fflush(stdout);
    pushWindowClose(head);
}

// Game controllers and the arrow cursor start once the first frame is out: neither is needed to draw
// it, and the controllers' library load would wait for the GL driver's. This runs before the video
// library's load is queued, so that the two loads never meet inside a frame.
bool lateStartDone = false;

void startAfterFirstFrame(WindowHead* head) {
    if (lateStartDone || framesDrawn == 0) return;
    lateStartDone = true;
    // Game controllers are optional: without them the program runs on mouse, keyboard and touch.
    SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER);
    head->arrowCursor = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
}

// libavcodec is loaded by the job thread once the first frame is out, and the video decoder then
// opens on the main thread: no video can arrive before a link is up, and the start does not wait.
u32 videoLibraryQueued = 0;
u32 videoDecoderOpened = 0;

i64 loadVideoLibrary(void*) { return loadH264Library(); }

void openVideoDecoderAfterFirstFrame(Platform* platform, const ProgramFrameHooks* hooks) {
    if (videoDecoderOpened || framesDrawn == 0) return;
    if (!videoLibraryQueued) {
        videoLibraryQueued = (u32)pushAsyncJob(loadVideoLibrary, nullptr, &platform->jobQueue);
        return;
    }
    if (!h264LibraryLoadFinished()) return;
    hooks->videoLibraryLoaded(hooks->context);
    videoDecoderOpened = 1;
}

// Set by SIGTERM or SIGINT; the main loop ends before its next frame.
volatile sig_atomic_t quitSignalled = 0;

void noteQuitSignal(int) { quitSignalled = 1; }

void catchQuitSignals() {
    struct sigaction action{};
    action.sa_handler = noteQuitSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace

void readProgramEnvironment() {
    catchQuitSignals();
    getMicroseconds();  // the clock's start
    mainEntered = monotonicMicroseconds();
    startupReport = std::getenv("ORVIK_STARTUP_REPORT") != nullptr;
    if (const char* frames = std::getenv("ORVIK_EXIT_AFTER_FRAMES")) exitAfterFrames = std::strtoull(frames, nullptr, 10);
}

u8* reserveProgramBlock(u64 size) {
    ProfilingScope allocate("Allocate Application Memory");
    void* mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapping == MAP_FAILED) {
        std::fprintf(stderr, "Could not reserve %llu bytes of program state\n", (unsigned long long)size);
        return nullptr;
    }
    return (u8*)mapping;
}

bool startWindowSystem(std::thread* driverWorker) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");  // SIGTERM and SIGINT are caught above
    SDL_SetHint(SDL_HINT_TOUCH_MOUSE_EVENTS, "0");
    SDL_SetHint(SDL_HINT_MOUSE_TOUCH_EVENTS, "0");
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    SDL_SetHint(SDL_HINT_VIDEO_X11_FORCE_EGL, "1");
    // The events first: they open D-Bus, SDL's one library load of the start. Then the GL driver loads
    // on a thread of its own while the video starts.
    if (SDL_Init(SDL_INIT_EVENTS) != 0) {
        std::fprintf(stderr, "Could not start the window system: %s\n", SDL_GetError());
        return false;
    }
    *driverWorker = startGlDriverPreload();
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "Could not start the window system: %s\n", SDL_GetError());
        SDL_Quit();
        driverWorker->join();
        return false;
    }
    if (isInvisibleVideoDriver()) {
        const char* driver = SDL_GetCurrentVideoDriver();
        std::fprintf(stderr,
                     "No display to open a window on (SDL found only its \"%s\" video driver): start Orvik from a "
                     "desktop session, or set DISPLAY or WAYLAND_DISPLAY.\n",
                     driver ? driver : "none");
        SDL_Quit();
        driverWorker->join();
        return false;
    }
    return true;
}

void* openProgramWindow() {
    SDL_Window* window = createProgramWindow();
    if (!window && windowOpenGlIsX11Egl()) window = reopenWindowOnGlx(nullptr);
    if (!window) std::fprintf(stderr, "Could not open the window: %s\n", SDL_GetError());
    return window;
}

void mainLoop(WindowHead* head, Platform* platform, const ProgramFrameHooks* hooks) {
    ProfilingScope scope("Main Loop");
    SDL_Window* window = (SDL_Window*)head->window;
    if (head->sizeCountSeen < head->sizeMessageCount) head->sizeCountSeen = head->sizeMessageCount;

    if (!head->glReady && window) {
        initializeOpenGl(head, hooks);
        window = (SDL_Window*)head->window;  // made again when EGL failed
    }
    startAfterFirstFrame(head);
    openVideoDecoderAfterFirstFrame(platform, hooks);

    {
        // The DualShock 4's reports first, as window messages come before the frame; then the
        // XInput-kind pads, whose state replaces the DualShock 4's.
        ProfilingScope pads("X Input");
        u64 now = getMicroseconds();
        stepDualShock4(&dualShock4, "/sys/class/hidraw", "/dev", now, platform);
        pollGameControllers(platform, now, dualShock4.open);
    }

    i32 width = 0;
    i32 height = 0;
    if (window) SDL_GL_GetDrawableSize(window, &width, &height);
    if (!head->glReady || width <= 0 || height <= 0) {
        if (window) {
            applyFullscreenChange(window, head, platform);
            paceFrame(window);  // nothing drawn, so nothing waited for the display either
        }
        return;
    }

    prepareFrameInputs(head, platform, height);
    {
        ProfilingScope frame("Update and Render");
        hooks->updateAndRender(hooks->context, width, height);
    }
    finishFrameInputs(head, platform);
    {
        ProfilingScope swap("Swap Buffers");
        SDL_GL_SwapWindow(window);
    }
    reportFirstCompleteFrame(head, hooks, framesDrawn + 1);
    paceFrame(window);
    framesDrawn++;
    closeWindowAfterLastFrame(head);
    applyWindowWishes(window, head, platform, width, height);
}

void runMainLoop(WindowHead* head, Platform* platform, const ProgramFrameHooks* hooks) {
    while (isRunning(head)) {
        if (quitSignalled) {
            setRunning(head, 0);
            break;
        }
        handleWaitingWindowEvents(head, platform);
        mainLoop(head, platform, hooks);
    }
}

void markProgramSetUpDone() { setUpDone = monotonicMicroseconds(); }

void closeWindowSystem(WindowHead* head) {
    closeAllGameControllers();
    closeDualShock4Device(&dualShock4);
    if (head->glContext) SDL_GL_DeleteContext((SDL_GLContext)head->glContext);
    head->glContext = nullptr;
    if (head->arrowCursor) SDL_FreeCursor((SDL_Cursor*)head->arrowCursor);
    head->arrowCursor = nullptr;
    if (head->window) SDL_DestroyWindow((SDL_Window*)head->window);
    head->window = nullptr;
    SDL_Quit();
}
