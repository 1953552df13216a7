// Shared pieces of the renderer tests: a fixture with a running harness, and small vertex writers
// that put known shapes straight into the batches (the real shape writers are tested on their own).
#pragma once
#include <gtest/gtest.h>

#include "Support/RenderHarness.h"
#include "TestAssetReader.h"

class RendererTest : public ::testing::Test {
protected:
    static constexpr i32 kWidth = 160;
    static constexpr i32 kHeight = 120;
    RenderHarness harness{};
    TestAssetStore store;
    Renderer* renderer = nullptr;
    UiState* ui = nullptr;

    // With useTestAssets the renderer reads the in-memory store (filled with the shaders); otherwise
    // the program's own embedded resources.
    void startHarness(bool useTestAssets);
    void TearDown() override { stopRenderHarness(&harness); }
    // Runs frames until every program is built (at most a few).
    void runUntilProgramsBuilt();
};

u32 packColor(u8 r, u8 g, u8 b, u8 a);
u8 channel(u32 color, i32 index);  // 0 red .. 3 alpha
// Whether two colours agree within a tolerance per channel.
::testing::AssertionResult colorNear(u32 actual, u32 expected, i32 tolerance = 2);

// Axis-aligned quads in window pixels, counter-clockwise.
void addColored2dQuad(Colored2dBatch* batch, f32 x0, f32 y0, f32 x1, f32 y1, f32 z, u32 color);
void addColoredRect(ColoredRectBatch* batch, f32 x0, f32 y0, f32 x1, f32 y1, f32 z, u32 fill, u32 outline,
                    f32 outlineWidth, f32 radius, i32 width, i32 height);
void addLine2d(Line2dBatch* batch, f32 ax, f32 ay, f32 bx, f32 by, f32 z, u32 color, f32 thickness);
void addTexturedQuad(Textured2dBatch* batch, f32 x0, f32 y0, f32 x1, f32 y1, f32 z, u16 key, f32 imageWidth,
                     f32 imageHeight, f32 noData, f32 format, i32 width, i32 height);
// Clip coordinates of a window pixel position.
f32 clipX(f32 x, i32 width);
f32 clipY(f32 y, i32 height);
