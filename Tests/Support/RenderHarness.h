// A headless render harness for tests: the platform state and a real OpenGL 4.3 core context on
// Mesa's llvmpipe (an offscreen EGL context drawing into a framebuffer of its own), real frames of
// updateAndRender with scripted input, the pixels read back, and PNG snapshots for a person to
// look at. One harness at a time per process.
#pragma once
#include <string>
#include <vector>

#include "Core/FixedString.h"
#include "Support/DrawnText.h"
#include "Platform/Platform.h"
#include "Application/ApplicationMemory.h"
#include "SourceCommon/Renderer/Renderer.h"

struct RenderHarness {
    void* display;  // EGL
    void* context;
    GlFunctionTable gl;
    u32 framebuffer;
    u32 colorBuffer;
    u32 depthBuffer;
    i32 width;
    i32 height;
    WindowsAndApplicationMemory* memory;
    Platform* platform;
    ApplicationMemory* app;
    u64 applicationBytes;
    u64 frameCount;
    u64 now;  // microseconds handed to the input handlers; tests move it
    u32 runFilePasses;  // 1 (the default): one pass of the file thread's work before every frame
    void* fileThreadState;  // FileThreadState of those passes
    ApplicationUpdateFunction update;  // what setHarnessUpdate installed
    // With captureText set, every frame's texts are read back (drawnTextRuns) after the update and
    // before the renderer draws them.
    bool captureText;
    std::vector<TextRun> text;
};

// Creates the context and the state; an empty text on success, else why not.
FixedString startRenderHarness(RenderHarness* harness, i32 width, i32 height);
void stopRenderHarness(RenderHarness* harness);

// Installs a per-frame update in place of the application update (null: the application update).
// A new harness starts with an update that does nothing.
void setHarnessUpdate(RenderHarness* harness, ApplicationUpdateFunction update);

// One pass of the file thread over the platform's tables (resource and file reads, file jobs, PDF
// pages), run on the calling thread so that tests stay deterministic.
void runHarnessFilePass(RenderHarness* harness);

// One frame as the main loop runs it: input preparation, updateAndRender, input turn-over.
void runHarnessFrame(RenderHarness* harness);
void runHarnessFrames(RenderHarness* harness, i32 count);

// Scripted input.
void harnessMouseMove(RenderHarness* harness, f32 x, f32 y);  // window pixels, y up
void harnessMouseButton(RenderHarness* harness, i32 keyCode, bool down);  // KeyMouseLeft, KeyMouseRight
void harnessKey(RenderHarness* harness, i32 keyCode, bool down);
// Touches by their system id: down, moved, and lifted (up = true).
void harnessTouchDown(RenderHarness* harness, u64 id, f32 x, f32 y);
void harnessTouchMove(RenderHarness* harness, u64 id, f32 x, f32 y, bool up);

// The pixel at (x, y), origin bottom-left, as 0xAABBGGRR.
u32 harnessPixel(RenderHarness* harness, i32 x, i32 y);
// The whole image, rows from the top, RGBA.
void readHarnessPixels(RenderHarness* harness, u8* rgba);
// Writes the image as a PNG through the program's own encoder; an empty text on success.
FixedString writeHarnessPng(RenderHarness* harness, const char* path);

// The renderer's log of the last frame as text.
FixedString harnessLogLine(RenderHarness* harness, const char* containing);
bool harnessLogContains(RenderHarness* harness, const char* text);
