// Pixel checks of the batches through the harness: each kind draws where it should, larger depth
// is nearer, later batches lie over earlier ones, backward batches keep the first-added shape on
// top, and slot textures of every format upload and draw.
#include <cstring>
#include <vector>

#include "Decoders/Png.h"
#include "RendererTestSupport.h"
#include "SourceCommon/Renderer/DrawBatchesGl.h"

namespace {

constexpr u32 kRed = 0xFF0000FF;
constexpr u32 kGreen = 0xFF00FF00;
constexpr u32 kBlue = 0xFFFF0000;
constexpr u32 kBlack = 0xFF000000;

class DrawBatches : public RendererTest {
protected:
    void SetUp() override {
        startHarness(true);
        runUntilProgramsBuilt();
    }
    u32 at(i32 x, i32 y) { return harnessPixel(&harness, x, y); }
};

TEST_F(DrawBatches, OnTheFirstFrameOnlyTheClearColourShowsAndTheBatchesAreEmptied) {
    RenderHarness fresh{};
    stopRenderHarness(&harness);
    ASSERT_EQ(startRenderHarness(&harness, kWidth, kHeight).length, 0);
    UiState* state = &harness.app->renderer.ui;
    state->clearColor[0] = 10;
    state->clearColor[1] = 20;
    state->clearColor[2] = 30;
    addColored2dQuad(&state->batches.colored2d, 0, 0, 160, 120, 0.5f, kRed);
    addTexturedQuad(&state->batches.textured2d, 0, 0, 160, 120, 0.5f, 2, 1, 1, 0, 4, kWidth, kHeight);
    runHarnessFrame(&harness);
    EXPECT_TRUE(colorNear(harnessPixel(&harness, 80, 60), 0xFF1E140A));
    EXPECT_EQ(state->batches.colored2d.vertexCount, 0);
    EXPECT_EQ(state->batches.colored2d.triangleCount, 0);
    EXPECT_EQ(state->batches.textured2d.triangleCount, 0);
    (void)fresh;
}

TEST_F(DrawBatches, EachKindDrawsWhereItShould) {
    addColored2dQuad(&ui->batches.colored2d, 10, 10, 50, 50, 0.5f, kRed);
    addColoredRect(&ui->batches.coloredRect, 60, 10, 100, 50, 0.5f, kGreen, kBlue, 4, 0, kWidth, kHeight);
    addLine2d(&ui->batches.line2d, 110, 30, 150, 30, 0.5f, kBlue, 6);
    runHarnessFrame(&harness);
    EXPECT_TRUE(colorNear(at(30, 30), kRed));
    EXPECT_TRUE(colorNear(at(5, 5), kBlack));
    EXPECT_TRUE(colorNear(at(51, 30), kBlack));
    EXPECT_TRUE(colorNear(at(80, 30), kGreen));   // fill
    EXPECT_TRUE(colorNear(at(61, 30), kBlue));    // the 4-pixel outline
    EXPECT_TRUE(colorNear(at(58, 30), kBlack));
    EXPECT_TRUE(colorNear(at(130, 30), kBlue));   // on the line
    EXPECT_TRUE(colorNear(at(130, 28), kBlue));   // within its half thickness of 3
    EXPECT_TRUE(colorNear(at(130, 35), kBlack));
    EXPECT_TRUE(colorNear(at(105, 30), kBlack));  // before its start
}

TEST_F(DrawBatches, ARoundedCornerLeavesTheCornerPixelEmpty) {
    addColoredRect(&ui->batches.coloredRect, 20, 20, 100, 100, 0.5f, kGreen, kGreen, 0, 20, kWidth, kHeight);
    runHarnessFrame(&harness);
    EXPECT_TRUE(colorNear(at(21, 21), kBlack));
    EXPECT_TRUE(colorNear(at(60, 21), kGreen));
    EXPECT_TRUE(colorNear(at(40, 40), kGreen));
}

TEST_F(DrawBatches, ALargerDepthIsNearerWithinAndAcrossBatches) {
    addColored2dQuad(&ui->batches.colored2d, 0, 0, 80, 120, 0.8f, kRed);
    addColored2dQuad(&ui->batches.colored2d, 0, 0, 80, 120, 0.2f, kGreen);
    // The second colored_rect instance is drawn later, but deeper: it stays under.
    addColoredRect(&ui->batches.coloredRect, 40, 0, 120, 120, 0.1f, kBlue, kBlue, 0, 0, kWidth, kHeight);
    runHarnessFrame(&harness);
    EXPECT_TRUE(colorNear(at(20, 60), kRed));
    EXPECT_TRUE(colorNear(at(60, 60), kRed));
    EXPECT_TRUE(colorNear(at(100, 60), kBlue));
}

TEST_F(DrawBatches, AtEqualDepthALaterBatchLiesOverAnEarlierOne) {
    // In draw order: colored_2d, colored_rect (first), line_2d (first), colored_rect (second).
    addColored2dQuad(&ui->batches.colored2d, 0, 0, 160, 120, 0.5f, kRed);
    addColoredRect(&ui->batches.coloredRectUnder, 0, 0, 120, 120, 0.5f, kGreen, kGreen, 0, 0, kWidth, kHeight);
    addLine2d(&ui->batches.line2dUnder, 0, 60, 160, 60, 0.5f, kBlue, 20);
    addColoredRect(&ui->batches.coloredRect, 0, 0, 40, 120, 0.5f, 0xFFFFFFFF, 0xFFFFFFFF, 0, 0, kWidth, kHeight);
    runHarnessFrame(&harness);
    EXPECT_TRUE(colorNear(at(140, 20), kRed));
    EXPECT_TRUE(colorNear(at(80, 20), kGreen));
    EXPECT_TRUE(colorNear(at(80, 60), kBlue));
    EXPECT_TRUE(colorNear(at(20, 60), 0xFFFFFFFF));
}

TEST_F(DrawBatches, ATransparentRectangleTakesItsDepthSoImagesMeantToShowThroughGoUnderIt) {
    // A frame with a fully transparent inside, nearer than the image: drawn before the widgets'
    // image batch it hides the image there; the image batch drawn before the rectangles shows.
    std::vector<u8> red = {255, 0, 0, 255};
    i32 id = allocImageSlot(red.data(), 1, 1, ImageFormatRgba, &ui->imageSlots);
    ASSERT_GE(id, 1);
    addColoredRect(&ui->batches.coloredRect, 0, 0, 160, 120, 0.6f, 0x00FFFFFF, kGreen, 4, 0, kWidth, kHeight);
    addTexturedQuad(&ui->batches.textured2d, 10, 20, 70, 100, 0.5f, slotTextureKey(id), 1, 1, 0, 4, kWidth, kHeight);
    addTexturedQuad(&ui->batches.textured2dUnder, 90, 20, 150, 100, 0.5f, slotTextureKey(id), 1, 1, 0, 4, kWidth,
                    kHeight);
    runHarnessFrame(&harness);
    EXPECT_TRUE(colorNear(at(2, 60), kGreen));    // the frame's outline
    EXPECT_TRUE(colorNear(at(40, 60), kBlack));   // hidden behind the transparent inside
    EXPECT_TRUE(colorNear(at(120, 60), kRed));    // under the rectangles: shows through
}

TEST_F(DrawBatches, ForwardBatchesPutTheLastShapeOnTopBackwardBatchesTheFirst) {
    addColored2dQuad(&ui->batches.colored2d, 0, 0, 80, 120, 0.5f, kRed);
    addColored2dQuad(&ui->batches.colored2d, 0, 0, 80, 120, 0.5f, kGreen);
    addColoredRect(&ui->batches.coloredRect, 80, 0, 160, 60, 0.5f, kRed, kRed, 0, 0, kWidth, kHeight);
    addColoredRect(&ui->batches.coloredRect, 80, 0, 160, 60, 0.5f, kGreen, kGreen, 0, 0, kWidth, kHeight);
    addLine2d(&ui->batches.line2d, 80, 90, 160, 90, 0.5f, kBlue, 10);
    addLine2d(&ui->batches.line2d, 80, 90, 160, 90, 0.5f, kRed, 10);
    runHarnessFrame(&harness);
    EXPECT_TRUE(colorNear(at(40, 60), kGreen));
    EXPECT_TRUE(colorNear(at(120, 30), kRed));
    EXPECT_TRUE(colorNear(at(120, 90), kBlue));
}

TEST_F(DrawBatches, TwoDimensionalLayersAreNeverHiddenByThreeDimensionalOnes) {
    Uniforms* u = &ui->uniforms;
    std::memset(u, 0, sizeof(*u));
    for (i32 i = 0; i < 4; i++) {
        u->eye.worldToEyeRotation[5 * i] = 1;
        u->eye.eyeToWorldRotation[5 * i] = 1;
    }
    u->eye.tanHalfHFov = 1;
    u->eye.tanHalfVFov = 1;
    // A blue triangle ten units ahead that covers the view.
    Colored3dBatch* b = &ui->batches.colored3d;
    b->vertices[0] = {-30, 10, -30, (i32)kBlue, 0, 0, 1};
    b->vertices[1] = {30, 10, -30, (i32)kBlue, 0, 0, 1};
    b->vertices[2] = {0, 10, 40, (i32)kBlue, 0, 0, 1};
    b->indices[0] = 0;
    b->indices[1] = 1;
    b->indices[2] = 2;
    b->vertexCount = 3;
    b->triangleCount = 1;
    addColored2dQuad(&ui->batches.colored2d, 60, 40, 100, 80, -0.9f, kRed);
    runHarnessFrame(&harness);
    EXPECT_TRUE(colorNear(at(80, 60), kRed));
    EXPECT_TRUE(colorNear(at(20, 20), kBlue));
}

TEST_F(DrawBatches, AThreeDimensionalLineIsDrawnThroughTheEye) {
    Uniforms* u = &ui->uniforms;
    std::memset(u, 0, sizeof(*u));
    for (i32 i = 0; i < 4; i++) u->eye.worldToEyeRotation[5 * i] = 1;
    u->eye.tanHalfHFov = 1;
    u->eye.tanHalfVFov = 1;
    // From left to right across the view, ten units ahead, at the eye's height.
    Line3dBatch* b = &ui->batches.line3d;
    const i32 t = 6000;
    b->vertices[0] = {-5, 10, 0, (i32)kGreen, 5, 10, 0, -t};
    b->vertices[1] = {-5, 10, 0, (i32)kGreen, 5, 10, 0, t};
    b->vertices[2] = {5, 10, 0, (i32)kGreen, -5, 10, 0, -t};
    b->vertices[3] = {5, 10, 0, (i32)kGreen, -5, 10, 0, t};
    const u16 indices[6] = {0, 3, 2, 2, 1, 0};
    std::memcpy(b->indices, indices, sizeof(indices));
    b->vertexCount = 4;
    b->triangleCount = 2;
    runHarnessFrame(&harness);
    EXPECT_TRUE(colorNear(at(80, 60), kGreen));
    EXPECT_TRUE(colorNear(at(80, 70), kBlack));
}

// Slot images.
std::vector<u8> rgbaQuadrants() {
    // 2 x 2, rows from the top: red, green / blue, white.
    return {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};
}

TEST_F(DrawBatches, AnRgbaSlotUploadsAndDrawsInTheSameFrame) {
    std::vector<u8> pixels = rgbaQuadrants();
    i32 id = allocImageSlot(pixels.data(), 2, 2, ImageFormatRgba, &ui->imageSlots);
    ASSERT_GE(id, 1);
    addTexturedQuad(&ui->batches.textured2d, 20, 20, 120, 120, 0.5f, slotTextureKey(id), 2, 2, 0, 4, kWidth, kHeight);
    runHarnessFrame(&harness);
    EXPECT_NE(ui->imageSlots.slots[id - 1].texture, 0u);
    // At the texel centres; half a pixel off, bilinear filtering mixes in a percent of the neighbour.
    EXPECT_TRUE(colorNear(at(45, 95), kRed, 6));  // top-left texel
    EXPECT_TRUE(colorNear(at(95, 95), kGreen, 6));
    EXPECT_TRUE(colorNear(at(45, 45), kBlue, 6));
    EXPECT_TRUE(colorNear(at(95, 45), 0xFFFFFFFF, 6));
    EXPECT_TRUE(colorNear(at(10, 10), kBlack));
}

TEST_F(DrawBatches, AGreySlotSamplesAsGrey) {
    std::vector<u8> pixels = {90, 90, 90, 90, 90, 90, 90, 90};  // 2 x 2, rows padded to 4 bytes
    i32 id = allocImageSlot(pixels.data(), 2, 2, ImageFormatGrey, &ui->imageSlots);
    addTexturedQuad(&ui->batches.textured2d, 0, 0, 160, 120, 0.5f, slotTextureKey(id), 2, 2, 0, 1, kWidth, kHeight);
    runHarnessFrame(&harness);
    EXPECT_TRUE(colorNear(at(80, 60), 0xFF5A5A5A));
}

TEST_F(DrawBatches, RgbAndTwoBytePerPixelSlotsUploadWithTheirRowLayout) {
    // 2 x 2 RGB with rows padded to 8 bytes: yellow, cyan / magenta, grey.
    std::vector<u8> rgb = {255, 255, 0, 0, 255, 255, 0, 0, 255, 0, 255, 128, 128, 128, 0, 0};
    i32 rgbId = allocImageSlot(rgb.data(), 2, 2, ImageFormatRgb, &ui->imageSlots);
    // One pixel of two bytes, shown as two texels side by side.
    std::vector<u8> twoBytes = {40, 200, 0, 0};
    i32 twoId = allocImageSlot(twoBytes.data(), 1, 1, ImageFormatTwoBytes, &ui->imageSlots);
    addTexturedQuad(&ui->batches.textured2d, 0, 0, 80, 120, 0.5f, slotTextureKey(rgbId), 2, 2, 0, 3, kWidth, kHeight);
    addTexturedQuad(&ui->batches.textured2d, 80, 0, 160, 120, 0.5f, slotTextureKey(twoId), 1, 1, 0, 2, kWidth, kHeight);
    runHarnessFrame(&harness);
    EXPECT_TRUE(colorNear(at(20, 90), 0xFF00FFFF, 6));
    EXPECT_TRUE(colorNear(at(60, 90), 0xFFFFFF00, 6));
    EXPECT_TRUE(colorNear(at(20, 30), 0xFFFF00FF, 6));
    EXPECT_TRUE(colorNear(at(60, 30), 0xFF808080, 6));
    EXPECT_TRUE(colorNear(at(100, 60), 0xFF282828));  // nearest: no blend between the two bytes
    EXPECT_TRUE(colorNear(at(140, 60), 0xFFC8C8C8));
}

TEST_F(DrawBatches, AnNv12SlotIsConvertedToRgb) {
    // 4 x 2 luma of 0.5, then one chroma row: Cb, Cr pairs for each 2 x 2 block.
    const u8 y = 128, cb = 100, cr = 200;
    std::vector<u8> pixels(4 * 3, y);
    for (i32 i = 0; i < 2; i++) {
        pixels[8 + 2 * i] = cb;
        pixels[8 + 2 * i + 1] = cr;
    }
    i32 id = allocImageSlot(pixels.data(), 4, 2, ImageFormatNv12, &ui->imageSlots);
    addTexturedQuad(&ui->batches.textured2d, 0, 0, 160, 120, 0.5f, slotTextureKey(id), 4, 2, 0, 12, kWidth, kHeight);
    runHarnessFrame(&harness);
    f32 Y = y / 255.0f, Cb = cb / 255.0f - 0.5f, Cr = cr / 255.0f - 0.5f;
    auto byte = [](f32 v) { return (u8)(std::min(std::max(v, 0.0f), 1.0f) * 255.0f + 0.5f); };
    u32 expected = packColor(byte(Y + 1.370705f * Cr), byte(Y - 0.698001f * Cr - 0.337633f * Cb), byte(Y + 1.732446f * Cb), 255);
    EXPECT_TRUE(colorNear(at(80, 60), expected));
}

// Video pictures whose width is not a multiple of 4, drawn one texel to a pixel: the window shows
// the picture's top left corner, then its bottom right one, and every pixel is the source's.
TEST_F(DrawBatches, Nv12PicturesOfWidthsNotAMultipleOfFourMatchTheirSource) {
    auto byte = [](f32 v) { return (u8)(std::min(std::max(v, 0.0f), 1.0f) * 255.0f + 0.5f); };
    for (i32 w : {854, 322}) {
        i32 h = w == 854 ? 480 : 242;
        std::vector<u8> pixels((size_t)(w * h * 3 / 2));
        u32 noise = 12345;
        for (u8& p : pixels) p = (u8)((noise = noise * 1103515245u + 12345u) >> 24);
        i32 id = allocImageSlot(pixels.data(), (u32)w, (u32)h, ImageFormatNv12, &ui->imageSlots);
        for (i32 x0 : {0, kWidth - w}) {
            i32 y0 = x0 == 0 ? kHeight - h : 0;
            addTexturedQuad(&ui->batches.textured2d, (f32)x0, (f32)y0, (f32)(x0 + w), (f32)(y0 + h), 0.5f,
                            slotTextureKey(id), (f32)w, (f32)h, 0, 12, kWidth, kHeight);
            runHarnessFrame(&harness);
            std::vector<u8> shown((size_t)(kWidth * kHeight * 4));
            readHarnessPixels(&harness, shown.data());
            i32 wrong = 0;
            for (i32 row = 0; row < kHeight; row++) {
                for (i32 x = 0; x < kWidth; x++) {
                    i32 lumaX = x - x0, lumaY = row - (kHeight - y0 - h);
                    const u8* chroma = &pixels[(size_t)(w * h + lumaY / 2 * w + lumaX / 2 * 2)];
                    f32 Y = pixels[(size_t)(lumaY * w + lumaX)] / 255.0f, Cb = chroma[0] / 255.0f - 0.5f,
                        Cr = chroma[1] / 255.0f - 0.5f;
                    u32 expected = packColor(byte(Y + 1.370705f * Cr), byte(Y - 0.698001f * Cr - 0.337633f * Cb),
                                             byte(Y + 1.732446f * Cb), 255);
                    const u8* p = &shown[(size_t)((row * kWidth + x) * 4)];
                    u32 actual = packColor(p[0], p[1], p[2], p[3]);
                    if (!colorNear(actual, expected) && wrong++ < 3) {
                        ADD_FAILURE() << w << " x " << h << " at luma " << lumaX << ", " << lumaY;
                    }
                }
            }
            EXPECT_EQ(wrong, 0) << w << " x " << h << " with its corner at " << x0;
        }
        ui->imageSlots.slots[id - 1].releaseRequested = 1;
    }
}

// An elevation image of 4 x 4: the left half at 100 m, the right half without data.
template <typename T>
std::vector<T> halfKnownElevation(T noData) {
    std::vector<T> values(16);
    for (i32 row = 0; row < 4; row++) {
        for (i32 x = 0; x < 4; x++) values[row * 4 + x] = x < 2 ? (T)100 : noData;
    }
    return values;
}

void dangerShading(Uniforms* u, f32 danger) {
    u->elevationMapMode = 2;
    u->dangerElevation = danger;
    u->pixelsPerMeter = 1;
    u->thickestTopoLineHalfThickness = 1;
}

TEST_F(DrawBatches, ElevationSlotsOfBothFormatsShadeAboveTheDangerLevelAndHideNoData) {
    ui->clearColor[0] = ui->clearColor[1] = ui->clearColor[2] = 255;
    std::vector<i16> shorts = halfKnownElevation<i16>(-32768);
    std::vector<f32> floats = halfKnownElevation<f32>(-9999.0f);
    i32 shortId = allocImageSlot((u8*)shorts.data(), 4, 4, ImageFormatElevationI16, &ui->imageSlots);
    i32 floatId = allocImageSlot((u8*)floats.data(), 4, 4, ImageFormatElevationF32, &ui->imageSlots);
    addTexturedQuad(&ui->batches.textured2d, 0, 0, 80, 120, 0.5f, slotTextureKey(shortId), 4, 4, -32768, 37316, kWidth, kHeight);
    addTexturedQuad(&ui->batches.textured2d, 80, 0, 160, 120, 0.5f, slotTextureKey(floatId), 4, 4, -9999, 37332, kWidth, kHeight);
    dangerShading(&ui->uniforms, 50);
    runHarnessFrame(&harness);
    // Above the danger level: a tenth of red at a tenth of opacity over white (alpha blends too).
    u32 tinted = packColor(232, 230, 230, 232);
    EXPECT_TRUE(colorNear(at(5, 60), tinted, 3));
    EXPECT_TRUE(colorNear(at(85, 60), tinted, 3));
    EXPECT_TRUE(colorNear(at(75, 60), 0xFFFFFFFF));  // the no-data half shows what lies under it
    EXPECT_TRUE(colorNear(at(155, 60), 0xFFFFFFFF));

    // Below the danger level and with the mode off, nothing shows.
    dangerShading(&ui->uniforms, 500);
    addTexturedQuad(&ui->batches.textured2d, 0, 0, 80, 120, 0.5f, slotTextureKey(shortId), 4, 4, -32768, 37316, kWidth, kHeight);
    runHarnessFrame(&harness);
    EXPECT_TRUE(colorNear(at(5, 60), 0xFFFFFFFF));
    ui->uniforms.elevationMapMode = 0;
    ui->uniforms.dangerElevation = 50;
    addTexturedQuad(&ui->batches.textured2d, 0, 0, 80, 120, 0.5f, slotTextureKey(shortId), 4, 4, -32768, 37316, kWidth, kHeight);
    runHarnessFrame(&harness);
    EXPECT_TRUE(colorNear(at(5, 60), 0xFFFFFFFF));
}

TEST_F(DrawBatches, TopographicModeDrawsContourLinesAtTheirInterval) {
    ui->clearColor[0] = ui->clearColor[1] = ui->clearColor[2] = 255;
    // A ramp rising 10 m per texel to the east; 10 pixels per texel, so 1 m per pixel.
    std::vector<f32> ramp(16 * 2);
    for (i32 i = 0; i < 32; i++) ramp[i] = 10.0f * (f32)(i % 16);
    i32 id = allocImageSlot((u8*)ramp.data(), 16, 2, ImageFormatElevationF32, &ui->imageSlots);
    Uniforms* u = &ui->uniforms;
    u->elevationMapMode = 1;
    u->pixelsPerMeter = 1;
    u->thickestTopoLineElevation = 100;
    u->thickestTopoLineHalfThickness = 2;
    u->thickTopoLineElevation = 1000;
    u->thinTopoLineElevation = 1000;
    addTexturedQuad(&ui->batches.textured2d, 0, 0, 160, 120, 0.5f, slotTextureKey(id), 16, 2, -9999, 37332, kWidth, kHeight);
    runHarnessFrame(&harness);
    // 100 m lies half a texel past texel 10: x = 105. The line is black at three quarters.
    EXPECT_TRUE(colorNear(at(105, 60), packColor(64, 64, 64, 207), 4));  // alpha blends as well
    EXPECT_TRUE(colorNear(at(80, 60), 0xFFFFFFFF, 2));
    EXPECT_TRUE(colorNear(at(130, 60), 0xFFFFFFFF, 2));
}

TEST_F(DrawBatches, TexturedRunsMakeOneDrawCallPerRunOfEqualKeys) {
    std::vector<u8> pixels = rgbaQuadrants();
    i32 a = allocImageSlot(pixels.data(), 2, 2, ImageFormatRgba, &ui->imageSlots);
    i32 b = allocImageSlot(pixels.data(), 2, 2, ImageFormatRgba, &ui->imageSlots);
    runHarnessFrame(&harness);
    const i32 keys[2][3] = {{a, b, a}, {a, a, b}};
    const i64 calls[2] = {3, 2};
    for (i32 k = 0; k < 2; k++) {
        for (i32 i = 0; i < 3; i++) {
            // One triangle per key.
            Textured2dBatch* batch = &ui->batches.textured2d;
            i32 t = batch->triangleCount;
            batch->textureKey[kTextured2dTriangles - 1 - t] = slotTextureKey(keys[k][i]);
            for (i32 v = 0; v < 3; v++) {
                Textured2dVertex* vertex = &batch->vertices[3 * kTextured2dTriangles - 3 - 3 * t + v];
                *vertex = Textured2dVertex{{}, {}, 0.5f, 0, 0, {2, 2, 0, 4}};
                vertex->x = v == 1 ? 0.5f : -0.5f;
                vertex->y = v == 2 ? 0.5f : -0.5f;
            }
            batch->triangleCount++;
        }
        rendererDrawCallCount = 0;
        runHarnessFrame(&harness);
        EXPECT_EQ(rendererDrawCallCount, calls[k]) << "case " << k;
    }
}

TEST_F(DrawBatches, KeysThatNameNothingAndReleasedSlotsDrawNothing) {
    std::vector<u8> pixels = rgbaQuadrants();
    addTexturedQuad(&ui->batches.textured2d, 0, 0, 40, 120, 0.5f, 1, 2, 2, 0, 4, kWidth, kHeight);    // slot id 0
    addTexturedQuad(&ui->batches.textured2d, 40, 0, 80, 120, 0.5f, 180, 2, 2, 0, 4, kWidth, kHeight); // asset 90
    i32 id = allocImageSlot(pixels.data(), 2, 2, ImageFormatRgba, &ui->imageSlots);
    ui->imageSlots.slots[id - 1].releaseRequested = 1;  // released in the frame it was made
    addTexturedQuad(&ui->batches.textured2d, 80, 0, 160, 120, 0.5f, slotTextureKey(id), 2, 2, 0, 4, kWidth, kHeight);
    rendererDrawCallCount = 0;
    runHarnessFrame(&harness);
    EXPECT_EQ(rendererDrawCallCount, 0);
    EXPECT_TRUE(colorNear(at(20, 60), kBlack));
    EXPECT_TRUE(colorNear(at(60, 60), kBlack));
    EXPECT_TRUE(colorNear(at(120, 60), kBlack));
    EXPECT_EQ(ui->imageSlots.used[0] & 1, 0u);
    EXPECT_EQ(ui->imageSlots.slots[id - 1].texture, 0u);
}

TEST_F(DrawBatches, AReleasedSlotLosesItsTextureAndItsSlot) {
    std::vector<u8> pixels = rgbaQuadrants();
    i32 id = allocImageSlot(pixels.data(), 2, 2, ImageFormatRgba, &ui->imageSlots);
    runHarnessFrame(&harness);
    ASSERT_NE(ui->imageSlots.slots[id - 1].texture, 0u);
    ui->imageSlots.slots[id - 1].releaseRequested = 1;
    addTexturedQuad(&ui->batches.textured2d, 0, 0, 160, 120, 0.5f, slotTextureKey(id), 2, 2, 0, 4, kWidth, kHeight);
    runHarnessFrame(&harness);
    EXPECT_TRUE(colorNear(at(80, 60), kBlack));
    EXPECT_EQ(ui->imageSlots.slots[id - 1].texture, 0u);
    EXPECT_EQ(allocImageSlot(pixels.data(), 2, 2, ImageFormatRgba, &ui->imageSlots), id);
}

TEST_F(DrawBatches, APerspectiveQuadDrawsItsTextureInsideItsCrop) {
    std::vector<u8> pixels(16, 0);
    for (i32 i = 0; i < 4; i++) {
        pixels[4 * i + 1] = 255;
        pixels[4 * i + 3] = 255;
    }
    i32 id = allocImageSlot(pixels.data(), 2, 2, ImageFormatRgba, &ui->imageSlots);
    TexturedPerspectiveList* list = &ui->batches.texturedPerspective;
    TexturedPerspectiveEntry* entry = &list->entries[0];
    entry->kind = TexturedPerspectiveSlot;
    entry->index = (u32)id;
    const f32 corners[4][2] = {{-40, -30}, {40, -30}, {40, 30}, {-40, 30}};
    for (i32 i = 0; i < 4; i++) {
        entry->v[i] = TexturedPerspectiveVertex{{corners[i][0], corners[i][1], 0, 1},
                                                {80, 60, 80, 60},
                                                {corners[i][0] > 0 ? 1.0f : 0.0f, corners[i][1] > 0 ? 0.0f : 1.0f, 0, 0.5f},
                                                {0, 100, 0, 120}};
    }
    list->count = 1;
    runHarnessFrame(&harness);
    EXPECT_TRUE(colorNear(at(80, 60), kGreen));
    EXPECT_TRUE(colorNear(at(110, 60), kBlack));  // cropped at x = 100
    EXPECT_TRUE(colorNear(at(80, 100), kBlack));  // outside the quad
    EXPECT_EQ(list->count, 0);
}

TEST_F(DrawBatches, WithoutClipControlEveryFrameSaysSoAndStillDraws) {
    runHarnessFrame(&harness);
    EXPECT_FALSE(harnessLogContains(&harness, "Clip Control extension not supported\n"));
    harness.gl.glClipControl = nullptr;
    for (i32 frame = 0; frame < 2; frame++) {
        addColored2dQuad(&ui->batches.colored2d, 0, 0, 160, 120, 0.5f, kRed);
        runHarnessFrame(&harness);
        EXPECT_TRUE(harnessLogContains(&harness, "Clip Control extension not supported\n"));
        EXPECT_TRUE(colorNear(at(80, 60), kRed));
    }
}

TEST_F(DrawBatches, FrameSizesFollowTheWindowAndTheInsets) {
    harness.platform->screenInsetLeft = 3;
    harness.platform->screenInsetRight = 4;
    harness.platform->screenInsetBottom = 5;
    harness.platform->screenInsetTop = 6;
    runHarnessFrame(&harness);
    EXPECT_EQ(ui->width, kWidth);
    EXPECT_EQ(ui->halfHeight, kHeight / 2.0f);
    EXPECT_EQ(ui->uniforms.eye.halfWindowWidth, kWidth / 2.0f);
    EXPECT_EQ(ui->screenRect.x1, (f32)kWidth);
    EXPECT_EQ(ui->safeRect.x0, 3.0f);
    EXPECT_EQ(ui->safeRect.x1, kWidth - 4.0f);
    EXPECT_EQ(ui->safeRect.y0, 5.0f);
    EXPECT_EQ(ui->safeRect.y1, kHeight - 6.0f);
    EXPECT_TRUE(harnessLogContains(&harness, "Debug gl context created\n"));
}

}  // namespace

namespace {

// An atlas of 8 x 8 texels: the left half inside a glyph (255), the right half far outside (0).
std::vector<u8> halfGlyphAtlasPng() {
    std::vector<u8> texels(64);
    for (i32 i = 0; i < 64; i++) texels[i] = (i % 8) < 4 ? 255 : 0;
    FixedString error{};
    ByteWriter measure = makeMeasuringWriter();
    encodePng(&error, texels.data(), 8, 8, 1, 1, 1, &measure);
    std::vector<u8> bytes((size_t)measure.length);
    ByteWriter writer = makeByteWriter(bytes.data(), measure.length);
    encodePng(&error, texels.data(), 8, 8, 1, 1, 1, &writer);
    return bytes;
}

void addGlyphQuad(SdfBatch* batch, f32 x0, f32 y0, f32 x1, f32 y1, u32 mark, i32 width, i32 height) {
    const f32 corners[4][4] = {{x0, y0, 0, 1}, {x1, y0, 1, 1}, {x1, y1, 1, 0}, {x0, y1, 0, 0}};
    for (i32 i = 0; i < 4; i++) {
        SdfVertex* v = &batch->vertices[4 * batch->quadCount + i];
        *v = SdfVertex{};
        v->x = clipX(corners[i][0], width);
        v->y = clipY(corners[i][1], height);
        v->z = 0.5f;
        for (i32 c = 0; c < 4; c++) v->mark[c] = channel(mark, c) / 255.0f;
        v->u = corners[i][2];
        v->v = corners[i][3];
        v->pixelsPerTexel = 10;
    }
    batch->quadCount++;
}

TEST_F(DrawBatches, TextIsDrawnFromTheAtlasOverEverythingElse) {
    // Without the atlas (this harness had none to load) the text batch is skipped and emptied.
    ASSERT_EQ(ui->assets[AssetFontSdf].state, 9);
    addGlyphQuad(&ui->batches.sdf, 0, 0, 160, 120, kRed, kWidth, kHeight);
    runHarnessFrame(&harness);
    EXPECT_EQ(ui->batches.sdf.quadCount, 0);
    EXPECT_TRUE(colorNear(at(40, 60), kBlack));

    stopRenderHarness(&harness);
    std::vector<u8> atlas = halfGlyphAtlasPng();
    store.put("font_sdf.png.part_0", std::vector<u8>(atlas.begin(), atlas.begin() + atlas.size() / 2));
    store.put("font_sdf.png.part_1", std::vector<u8>(atlas.begin() + atlas.size() / 2, atlas.end()));
    startHarness(true);
    runUntilProgramsBuilt();
    runHarnessFrames(&harness, 3);
    ASSERT_NE(renderer->assetTexture[AssetFontSdf], 0u);
    addColoredRect(&ui->batches.coloredRect, 0, 0, 160, 120, 0.5f, kBlue, kBlue, 0, 0, kWidth, kHeight);
    addGlyphQuad(&ui->batches.sdf, 0, 0, 160, 120, kRed, kWidth, kHeight);
    runHarnessFrame(&harness);
    EXPECT_TRUE(colorNear(at(20, 60), kRed));    // inside the glyph, over the rectangle at the same depth
    EXPECT_TRUE(colorNear(at(140, 60), kBlue));  // outside: discarded
}

}  // namespace
