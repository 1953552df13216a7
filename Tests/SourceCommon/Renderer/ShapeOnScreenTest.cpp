// One readback per shape kind through the headless harness: what the writers put in the batches is
// drawn where the writers meant it, cut where they cut it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "Support/RenderHarness.h"
#include "SourceCommon/Renderer/Shapes.h"

namespace {

constexpr u32 kRed = 0xFF0000FF;
constexpr u32 kGreen = 0xFF00FF00;
constexpr u32 kBlue = 0xFFFF0000;
constexpr u32 kWhite = 0xFFFFFFFF;
constexpr u32 kBlack = 0xFF000000;

::testing::AssertionResult near(u32 actual, u32 expected, i32 tolerance = 8) {
    for (i32 c = 0; c < 3; ++c) {
        i32 a = (i32)((actual >> (8 * c)) & 0xFF), e = (i32)((expected >> (8 * c)) & 0xFF);
        if (std::abs(a - e) > tolerance) {
            char text[80];
            std::snprintf(text, sizeof text, "colour %08X is not %08X (0xAABBGGRR)", actual, expected);
            return ::testing::AssertionFailure() << text;
        }
    }
    return ::testing::AssertionSuccess();
}

class ShapesOnScreen : public ::testing::Test {
protected:
    static constexpr i32 kWidth = 240;
    static constexpr i32 kHeight = 160;
    RenderHarness harness{};
    UiState* ui = nullptr;
    Rect screen = {0, (f32)kWidth, 0, (f32)kHeight};

    void SetUp() override {
        FixedString failure = startRenderHarness(&harness, kWidth, kHeight);
        ASSERT_EQ(failure.length, 0) << failure.text;
        Renderer* renderer = &harness.app->renderer;
        ui = &renderer->ui;
        for (i32 frame = 0; frame < 10; ++frame) {
            runHarnessFrame(&harness);
            bool built = true;
            for (const ShaderProgram& program : renderer->shaders.programs) built = built && program.program != 0;
            if (built) return;
        }
        FAIL() << "the shader programs were not built";
    }
    void TearDown() override { stopRenderHarness(&harness); }
    u32 at(i32 x, i32 y) { return harnessPixel(&harness, x, y); }
};

TEST_F(ShapesOnScreen, ARoundedRectangleIsFilledOutlinedAndCropped) {
    // 20..100 by 20..100, cropped at x = 60.
    addRoundedRect({20, 100, 20, 100}, 0.5f, {0, 60, 0, 160}, 3, 0, kGreen, kBlue, &ui->batches.coloredRect,
                   ui->halfWidth, ui->halfHeight);
    // Touching its crop only: dropped.
    addRoundedRect({150, 200, 20, 100}, 0.5f, {0, 150, 0, 160}, 0, 0, kRed, kRed, &ui->batches.coloredRect,
                   ui->halfWidth, ui->halfHeight);
    runHarnessFrame(&harness);
    EXPECT_TRUE(near(at(40, 60), kGreen));
    EXPECT_TRUE(near(at(21, 60), kBlue));
    EXPECT_TRUE(near(at(40, 98), kBlue));
    EXPECT_TRUE(near(at(70, 60), kBlack));  // beyond the crop
    EXPECT_TRUE(near(at(10, 60), kBlack));
    EXPECT_TRUE(near(at(175, 60), kBlack));
}

TEST_F(ShapesOnScreen, TrianglesAndPolygonsAreCutToTheirClipRectangle) {
    addTriangleFromPoints({-500, -500}, {500, -500}, {0, 500}, {80, 120, 20, 60}, 0.5f, kRed, &ui->batches.colored2d);
    Vec2F32 hexagon[6] = {{180, 100}, {200, 90}, {220, 100}, {220, 120}, {200, 130}, {180, 120}};
    addConvexPolygon(hexagon, 6, 0.5f, kGreen, &ui->batches.colored2d);
    runHarnessFrame(&harness);
    EXPECT_TRUE(near(at(100, 40), kRed));
    EXPECT_TRUE(near(at(81, 21), kRed));
    EXPECT_TRUE(near(at(125, 40), kBlack));
    EXPECT_TRUE(near(at(100, 65), kBlack));
    EXPECT_TRUE(near(at(75, 40), kBlack));
    EXPECT_TRUE(near(at(200, 110), kGreen));
    EXPECT_TRUE(near(at(200, 135), kBlack));
}

TEST_F(ShapesOnScreen, ALineIsCutToItsClipRectangleAndKeepsItsThickness) {
    addLine({-50, 100}, {300, 100}, 0.5f, {130, 200, 0, 160}, kWhite, 4, &ui->batches.line2d);
    addLine({10, 10}, {20, 20}, 0.5f, {100, 200, 100, 160}, kRed, 4, &ui->batches.line2d);  // clipped away
    runHarnessFrame(&harness);
    EXPECT_TRUE(near(at(160, 100), kWhite));
    EXPECT_TRUE(near(at(160, 101), kWhite));
    EXPECT_TRUE(near(at(160, 106), kBlack));
    EXPECT_TRUE(near(at(120, 100), kBlack));
    EXPECT_TRUE(near(at(210, 100), kBlack));
    EXPECT_TRUE(near(at(15, 15), kBlack));
}

TEST_F(ShapesOnScreen, TheOutlineCopyDrawsABorderBehindTheLines) {
    i32 first = ui->batches.line2d.vertexCount;
    addLine({20, 80}, {200, 80}, 0.5f, screen, kWhite, 2, &ui->batches.line2d);
    addLine({120, 20}, {120, 140}, 0.5f, screen, kWhite, 2, &ui->batches.line2d);
    addThickPolyline(first, 0.4f, kRed, 10, &ui->batches.line2d);
    runHarnessFrame(&harness);
    EXPECT_TRUE(near(at(60, 80), kWhite));
    EXPECT_TRUE(near(at(60, 83), kRed));
    EXPECT_TRUE(near(at(60, 77), kRed));
    EXPECT_TRUE(near(at(60, 90), kBlack));
    EXPECT_TRUE(near(at(120, 40), kWhite));
    EXPECT_TRUE(near(at(116, 40), kRed));
}

TEST_F(ShapesOnScreen, AThreeDimensionalLineCrossesTheView) {
    Uniforms* u = &ui->uniforms;
    std::memset(u, 0, sizeof(*u));
    for (i32 i = 0; i < 4; i++) u->eye.worldToEyeRotation[5 * i] = 1;
    u->eye.tanHalfHFov = 1;
    u->eye.tanHalfVFov = 1;
    // Ten units ahead, from left to right at the eye's height.
    i32 a[3] = {-5, 10, 0}, b[3] = {5, 10, 0};
    addLine3d(a, b, kGreen, 6, &ui->batches.line3d);
    runHarnessFrame(&harness);
    EXPECT_TRUE(near(at(120, 80), kGreen));
    EXPECT_TRUE(near(at(120, 90), kBlack));
}

}  // namespace
