// Real frames of the application's screens through the render harness: the screen runner on the
// application state's own stack, the UI metrics the application update computes, a clock of the
// test's own, and scripted mouse, keys and wheel.
#pragma once
#include <string>
#include <vector>

#include "AppState/AppState.h"
#include "Platform/Platform.h"
#include "Support/RenderHarness.h"

struct ScreensHarness {
    RenderHarness render;
    AppState* app;
    Platform* platform;
    UiState* ui;
};

// Starts the harness with the Main Screen alone on the stack and both folder grants given, and
// runs frames until the shaders, the font and every image asset are in.
bool startScreensHarness(ScreensHarness* harness, i32 width, i32 height);
void stopScreensHarness(ScreensHarness* harness);

void frames(ScreensHarness* harness, i32 count = 1);
// Press and release at a point (window pixels, y up), a frame after each; the mouse then stays.
void click(ScreensHarness* harness, f32 x, f32 y);
void tapKey(ScreensHarness* harness, i32 code);
// Hands a key event straight to the next frame, as the on-screen keyboard's Done key does.
void sendKeyEvent(ScreensHarness* harness, i32 event);
// Types the characters of a text (digits, letters, '.', '-').
void typeText(ScreensHarness* harness, const char* text);
// Mouse-wheel notches over a point; negative notches scroll a list down.
void wheel(ScreensHarness* harness, f32 x, f32 y, i32 notches);
void moveMouseAway(ScreensHarness* harness);

// The texts of the frames (the harness reads them back once captureText is set): the first run that
// contains the text (with exact set: that is the text), or null; and a click at the middle of that
// run, then a frame that draws what the click changed (false when there is no such run).
const TextRun* shownText(const ScreensHarness* harness, const char* text, bool exact = false);
bool clickText(ScreensHarness* harness, const char* text, bool exact = false);

ScreenFunction topScreen(const ScreensHarness* harness);
i32 stackDepth(const ScreensHarness* harness);

// Rows of a list screen: the list's text size and the centre height of row i from the top.
f32 listTextSize(const ScreensHarness* harness);
f32 rowCentreY(const ScreensHarness* harness, i32 row);

// Where test output goes: the build folder.
std::string outputPath(const char* name);

// A still picture in the video decoder's slot. The program's decoder outlives every test (the
// screens find it through programVideoDecoder); a test's picture goes when the test ends.
struct VideoDecoder;
VideoDecoder* testDecoder();
struct StillVideo {
    VideoDecoder* decoder;
    std::vector<u8> pixels;
    explicit StillVideo(UiState* ui);
    ~StillVideo();
};
