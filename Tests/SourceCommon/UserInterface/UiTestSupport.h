// What the widget tests share: a screen stack with scripted pointers and a clock of the
// test's own, for widget calls without a GL context, and a screen harness that runs real frames
// of the screen runner through the render harness.
#pragma once
#include <cstdlib>
#include <cstring>

#include "Platform/Platform.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/OnScreenKeyboard.h"
#include "SourceCommon/UserInterface/Rows.h"
#include "SourceCommon/UserInterface/Screen.h"
#include "SourceCommon/UserInterface/TextEdit.h"
#include "SourceCommon/UserInterface/Widgets.h"
#include "Support/RenderHarness.h"

// Widget calls outside the runner: five pointer slots, a zeroed stack and frame context.
struct WidgetBench {
    PointerSlot pointers[5];
    ScreenStack* stack;
    UiState* ui;
};

WidgetBench* makeWidgetBench(f32 width = 1280, f32 height = 720);
void freeWidgetBench(WidgetBench* bench);
// The end of a frame as the runner does it, then the clock moves on.
void endBenchFrame(WidgetBench* bench, u64 microseconds = 16667);
void benchPress(WidgetBench* bench, i32 slot, f32 x, f32 y);
void benchMove(WidgetBench* bench, i32 slot, f32 x, f32 y);
void benchRelease(WidgetBench* bench, i32 slot);

// Real frames of the screen runner with a first screen of the test's choice.
struct ScreenHarness {
    RenderHarness render;
    ScreenStack* stack;
};

bool startScreenHarness(ScreenHarness* harness, i32 width, i32 height, ScreenFunction first);
void stopScreenHarness(ScreenHarness* harness);
void screenFrame(ScreenHarness* harness, i32 count = 1);
// Runs frames until the font and its atlas are loaded (text is drawn from then on).
bool waitForFont(ScreenHarness* harness);
// Touches by id, positions in window pixels with y up.
void touchDown(ScreenHarness* harness, u64 id, f32 x, f32 y);
void touchMove(ScreenHarness* harness, u64 id, f32 x, f32 y);
void touchUp(ScreenHarness* harness, u64 id);
// Mouse press and release at a point, a frame after each.
void mouseClick(ScreenHarness* harness, f32 x, f32 y);
void keyTap(ScreenHarness* harness, i32 code);
// The centre of a rectangle.
inline f32 midX(const Rect& r) { return (r.x0 + r.x1) / 2; }
inline f32 midY(const Rect& r) { return (r.y0 + r.y1) / 2; }
// Where the test files go: the build folder.
const char* testOutputPath(const char* name);
