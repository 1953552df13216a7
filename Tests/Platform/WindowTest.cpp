// The real window on the test display: fullscreen and back restores the saved placement.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Platform/SdlWindow.h"

namespace {

bool haveDisplay() {
    const char* display = std::getenv("DISPLAY");
    return display && display[0];
}

void pumpEvents() {
    for (int i = 0; i < 20; i++) {
        SDL_PumpEvents();
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
        }
    }
}

TEST(Window, FullscreenRoundTripRestoresThePlacement) {
    if (!haveDisplay()) GTEST_SKIP() << "no display";
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    SDL_Window* window = SDL_CreateWindow("Orvik", 120, 90, 640, 400, SDL_WINDOW_SHOWN);
    ASSERT_NE(window, nullptr) << SDL_GetError();
    pumpEvents();
    WindowHead head{};
    Platform platform{};
    WindowPlacement before;
    SDL_GetWindowPosition(window, &before.x, &before.y);
    SDL_GetWindowSize(window, &before.width, &before.height);

    EXPECT_EQ(applyFullscreenChange(window, &head, &platform), 0);  // nothing wanted
    platform.fullscreenWanted = 1;
    EXPECT_EQ(applyFullscreenChange(window, &head, &platform), 0);
    pumpEvents();
    EXPECT_EQ(platform.fullscreen, 1u);
    EXPECT_EQ(head.savedPlacement.x, before.x);
    EXPECT_EQ(head.savedPlacement.y, before.y);
    EXPECT_EQ(head.savedPlacement.width, before.width);
    EXPECT_EQ(head.savedPlacement.height, before.height);
    SDL_Rect bounds;
    ASSERT_EQ(SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(window), &bounds), 0);
    i32 width, height;
    SDL_GetWindowSize(window, &width, &height);
    EXPECT_EQ(width, bounds.w);
    EXPECT_EQ(height, bounds.h);

    platform.fullscreenWanted = 0;
    EXPECT_EQ(applyFullscreenChange(window, &head, &platform), 0);
    pumpEvents();
    EXPECT_EQ(platform.fullscreen, 0u);
    WindowPlacement after;
    SDL_GetWindowPosition(window, &after.x, &after.y);
    SDL_GetWindowSize(window, &after.width, &after.height);
    EXPECT_EQ(after.x, before.x);
    EXPECT_EQ(after.y, before.y);
    EXPECT_EQ(after.width, before.width);
    EXPECT_EQ(after.height, before.height);
    SDL_DestroyWindow(window);
    SDL_Quit();
}

TEST(Window, CapturedCursorIsHiddenAndReleasedCursorShows) {
    if (!haveDisplay()) GTEST_SKIP() << "no display";
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    SDL_Window* window = SDL_CreateWindow("Orvik", 100, 100, 320, 240, SDL_WINDOW_SHOWN | SDL_WINDOW_INPUT_FOCUS);
    ASSERT_NE(window, nullptr) << SDL_GetError();
    pumpEvents();
    WindowHead head{};
    Platform platform{};
    head.arrowCursor = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
    platform.cursorCaptureWanted = 1;
    applyCursorCapture(&head, &platform, 320, 240);
    EXPECT_EQ(platform.cursorCaptured, 1u);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    platform.cursorCaptureWanted = 0;
    platform.pointers[0] = PointerSlot{PointerPresent, 100, 100, 0, 0, 0};
    applyCursorCapture(&head, &platform, 320, 240);
    EXPECT_EQ(platform.cursorCaptured, 0u);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
    EXPECT_EQ(SDL_GetRelativeMouseMode(), SDL_FALSE);
    EXPECT_EQ(SDL_GetCursor(), (SDL_Cursor*)head.arrowCursor);
    SDL_FreeCursor((SDL_Cursor*)head.arrowCursor);
    SDL_DestroyWindow(window);
    SDL_Quit();
}

}  // namespace

// The window system's session-bus library keeps a buffer for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }
