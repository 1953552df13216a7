// Text and icons drawn through the headless harness on llvmpipe: glyphs land where the layout put
// them, the GPU and the software painter agree, and a sample sheet of every text style and a few
// icons is written for a person to look at.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "Support/RenderHarness.h"
#include "SourceCommon/Renderer/Icons.h"
#include "SourceCommon/Renderer/SoftwareText.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "TestAssetReader.h"
#include "TextTestSupport.h"

namespace {

constexpr u32 kWhite = 0xFFFFFFFF;

u8 channelOf(u32 color, i32 index) { return (u8)(color >> (8 * index)); }

class TextOnScreen : public ::testing::Test {
protected:
    static constexpr i32 kWidth = 640;
    static constexpr i32 kHeight = 320;
    RenderHarness harness{};
    Renderer* renderer = nullptr;
    UiState* ui = nullptr;
    Rect everywhere = {0, (f32)kWidth, 0, (f32)kHeight};

    void SetUp() override {
        FixedString failure = startRenderHarness(&harness, kWidth, kHeight);
        ASSERT_EQ(failure.length, 0) << failure.text;
        renderer = &harness.app->renderer;
        ui = &renderer->ui;
        // The font record and the atlas come from the program's embedded assets.
        for (i32 frame = 0; frame < 40; ++frame) {
            runHarnessFrame(&harness);
            bool programs = true;
            for (const ShaderProgram& program : renderer->shaders.programs) programs = programs && program.program != 0;
            if (programs && ui->fontInfo && renderer->assetTexture[AssetFontSdf] != 0) break;
        }
        ASSERT_NE(ui->fontInfo, nullptr);
        ASSERT_NE(renderer->assetTexture[AssetFontSdf], 0u) << ui->assets[AssetFontSdf].image.error.text;
        ASSERT_NE(usableFontRecord(ui->fontInfo), nullptr);
    }
    void TearDown() override { stopRenderHarness(&harness); }
    u32 at(i32 x, i32 y) { return harnessPixel(&harness, x, y); }
    SoftwareTextSource painterSource() {
        return {ui->halfWidth, ui->halfHeight, &ui->assets[AssetFontSdf].image, usableFontRecord(ui->fontInfo)};
    }
};

TEST_F(TextOnScreen, TheAtlasAndRecordLoadFromTheEmbeddedAssets) {
    const ImageResult& atlas = ui->assets[AssetFontSdf].image;
    EXPECT_EQ(atlas.width, 2048u);
    EXPECT_EQ(atlas.height, 2048u);
    EXPECT_EQ(atlas.channels, 1u);
    EXPECT_EQ(checkFontRecord(ui->fontInfo, kFontRecordBytes).length, 0);
}

TEST_F(TextOnScreen, AGlyphIsDrawnWhereTheLayoutPutsIt) {
    TextStyle style = plainStyle(120);
    TextLayoutResult r = drawTextAt(ui, makeString("I"), AnchorCentre, {320, 160}, 0.5f, everywhere, style);
    EXPECT_NEAR((r.bounds.x0 + r.bounds.x1) / 2, 320, 0.5f);
    ASSERT_EQ(ui->batches.sdf.quadCount, 1);
    runHarnessFrame(&harness);
    EXPECT_EQ(ui->batches.sdf.quadCount, 0);
    // The stem of the "I" on the point, its ink within the bounds, black beside it.
    EXPECT_GT(channelOf(at(320, 160), 0), 200);
    EXPECT_LT(channelOf(at(320 - 30, 160), 0), 20);
    EXPECT_LT(channelOf(at(320, (i32)r.bounds.y1 + 20), 0), 20);
    // A selection highlight over "I " lies behind its text: red beside the stem, white on it.
    TextCaretInput caret = {0, 2, {0, 0}};
    style.selectionColor = 0xFF0000FF;
    drawTextInRect(ui, makeString("I I"), AnchorCentre, 0.5f, {0, 640, 0, 320}, everywhere, style, caret);
    runHarnessFrame(&harness);
    i32 redOnly = 0;
    for (i32 x = 200; x < 440; ++x) {
        u32 c = at(x, 160);
        if (channelOf(c, 0) > 200 && channelOf(c, 1) < 40) redOnly++;
    }
    EXPECT_GT(redOnly, 5);
}

TEST_F(TextOnScreen, TheGpuAndTheSoftwarePainterAgree) {
    // At about one atlas texel per pixel the GPU reads the atlas's full-size level, as the painter does.
    TextStyle style = plainStyle(90);
    style.markColor = 0xFF40E0FF;
    Rect layout = {10, 630, 10, 310};
    drawCharsInRect(ui, textOf("Hello, W\xC3\xB6rld! \xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1 \xD0\x9F\xD1\x80\xD0\xB8"),
                    AnchorTopLeft, 0.5f, layout, everywhere, style);
    i32 quadCount = ui->batches.sdf.quadCount;
    ASSERT_GT(quadCount, 10);
    auto copy = makeZeroed<SdfBatch>();
    copy->quadCount = quadCount;
    std::memcpy(copy->vertices, ui->batches.sdf.vertices, sizeof(SdfVertex) * 4 * (size_t)quadCount);
    runHarnessFrame(&harness);

    std::vector<u8> painted((size_t)kWidth * kHeight * 4, 0);
    for (size_t i = 3; i < painted.size(); i += 4) painted[i] = 255;
    rasterizeSdfText(copy.get(), painted.data(), kWidth, kHeight, kWidth * 4, painterSource());

    i64 inked = 0, far = 0, total = 0;
    for (i32 y = 0; y < kHeight; ++y) {
        for (i32 x = 0; x < kWidth; ++x) {
            u32 gpu = at(x, y);
            const u8* cpu = &painted[((size_t)(kHeight - 1 - y) * kWidth + x) * 4];
            i32 worst = 0;
            for (i32 c = 0; c < 3; ++c) worst = std::max(worst, std::abs((i32)channelOf(gpu, c) - (i32)cpu[c]));
            total += worst;
            if (cpu[0] > 128 || channelOf(gpu, 0) > 128) inked++;
            if (worst > 64) far++;
        }
    }
    EXPECT_GT(inked, 2000);
    EXPECT_LT(far, inked / 100) << "pixels that differ by more than a quarter: " << far << " of " << inked;
    EXPECT_LT((f64)total / (kWidth * kHeight), 2.0);
}

// Icon images made in memory: a 2 x 2 of red, green / blue, white, an arrow and a ring.
struct IconImages {
    u8 quadrants[16] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};
    u8 arrow[32 * 32 * 4] = {};
    u8 ring[32 * 32 * 4] = {};
    IconImages() {
        for (i32 y = 0; y < 32; ++y)
            for (i32 x = 0; x < 32; ++x) {
                u8* a = &arrow[(y * 32 + x) * 4];
                bool head = y < 16 && std::abs(x - 16) < 16 - y;
                bool shaft = y >= 16 && std::abs(x - 16) < 4;
                if (head || shaft) a[0] = 255, a[1] = 200, a[2] = 0, a[3] = 255;
                u8* r = &ring[(y * 32 + x) * 4];
                f32 d = std::sqrt((x - 15.5f) * (x - 15.5f) + (y - 15.5f) * (y - 15.5f));
                if (d > 9 && d < 14) r[0] = 40, r[1] = 160, r[2] = 255, r[3] = 255;
            }
    }
};

TEST_F(TextOnScreen, IconsKeepTheirQuadrantsAndTurn) {
    IconImages images;
    i32 id = allocImageSlot(images.quadrants, 2, 2, ImageFormatRgba, &ui->imageSlots);
    ASSERT_GT(id, 0);
    drawIconAt({160, 160}, 0.5f, AnchorCentre, 0, 100, everywhere, ImageKindSlot, (u32)id, &ui->batches.textured2d, ui);
    drawIconAt({480, 160}, 0.5f, AnchorCentre, 0.25, 100, everywhere, ImageKindSlot, (u32)id, &ui->batches.textured2d,
               ui);
    runHarnessFrame(&harness);
    const u32 red = 0xFF0000FF, green = 0xFF00FF00, blue = 0xFFFF0000;
    auto near = [&](u32 actual, u32 expected) {
        for (i32 c = 0; c < 3; ++c)
            if (std::abs((i32)channelOf(actual, c) - (i32)channelOf(expected, c)) > 12) return false;
        return true;
    };
    EXPECT_TRUE(near(at(135, 185), red));    // top-left
    EXPECT_TRUE(near(at(185, 185), green));  // top-right
    EXPECT_TRUE(near(at(135, 135), blue));   // bottom-left
    EXPECT_TRUE(near(at(185, 135), kWhite));
    // A quarter turn counter-clockwise: the top-left quadrant moves to the bottom-left.
    EXPECT_TRUE(near(at(455, 135), red));
    EXPECT_TRUE(near(at(455, 185), green));
    EXPECT_TRUE(near(at(505, 135), blue));
    EXPECT_TRUE(near(at(505, 185), kWhite));
    // Cut by a clip rectangle: nothing right of it.
    drawIconAt({160, 160}, 0.5f, AnchorCentre, 0, 100, {0, 160, 0, 320}, ImageKindSlot, (u32)id,
               &ui->batches.textured2d, ui);
    runHarnessFrame(&harness);
    EXPECT_TRUE(near(at(135, 185), red));
    EXPECT_TRUE(near(at(185, 185), 0xFF000000));
}

TEST_F(TextOnScreen, ASampleOfEveryTextStyleAndSomeIcons) {
    ui->clearColor[0] = 45;
    ui->clearColor[1] = 52;
    ui->clearColor[2] = 64;
    TextStyle plain = plainStyle(28);
    TextStyle outlined = {0xFFFFFFFF, 0xFF000000, 0xFFE36400, 40, 0.05f, 0};
    TextStyle bold = {0xFF00D0FF, 0xFF000000, 0xFFE36400, 40, 0, 0.04f};
    TextStyle secondary = {0xFFC0C0C0, 0xFF000000, 0xFFE36400, 18, 0, 0};
    TextStyle large = {0xFFFFFFFF, 0xFF202020, 0xFFE36400, 64, 0.05f, 0.02f};
    drawTextAt(ui, makeString("Plain 28 px: Fly Screen, 12.5 m/s"), AnchorTopLeft, {10, 310}, 0.5f, everywhere, plain);
    drawTextAt(ui, makeString("Outlined \xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC"), AnchorTopLeft,
               {10, 275}, 0.5f, everywhere, outlined);
    drawTextAt(ui, makeString("Thick \xD0\x9A\xD0\xB8\xD1\x80\xD0\xB8\xD0\xBB\xD0\xBB\xD0\xB8\xD1\x86\xD0\xB0"),
               AnchorTopLeft, {10, 230}, 0.5f, everywhere, bold);
    drawTextAt(ui, makeString("Secondary 18 px\tcolumn\tright\nsecond line\ta\tb"), AnchorTopLeft, {10, 185}, 0.5f,
               everywhere, secondary);
    TextCaretInput caret = {4, 9, {0, 0}};
    drawTextInRect(ui, makeString("Selected text in a box that wraps"), AnchorTopLeft, 0.5f, {10, 300, 40, 140},
                   everywhere, plain, caret);
    drawTextAt(ui, makeString("Ag\xC5\x93"), AnchorBottomRight, {630, 10}, 0.5f, everywhere, large);
    drawTextAt(ui, makeString("missing: \xE4\xB8\xAD"), AnchorBottomLeft, {320, 10}, 0.5f, everywhere, secondary);
    IconImages images;
    i32 quadrants = allocImageSlot(images.quadrants, 2, 2, ImageFormatRgba, &ui->imageSlots);
    i32 arrow = allocImageSlot(images.arrow, 32, 32, ImageFormatRgba, &ui->imageSlots);
    i32 ring = allocImageSlot(images.ring, 32, 32, ImageFormatRgba, &ui->imageSlots);
    for (i32 i = 0; i < 4; ++i)
        drawIconAt({360.0f + 50 * i, 130}, 0.5f, AnchorCentre, i / 8.0, 40, everywhere, ImageKindSlot, (u32)arrow,
                   &ui->batches.textured2d, ui);
    drawIconAt({560, 130}, 0.5f, AnchorCentre, 0, 40, everywhere, ImageKindSlot, (u32)ring, &ui->batches.textured2d, ui);
    drawIconAt({610, 130}, 0.5f, AnchorCentre, 0, 40, everywhere, ImageKindSlot, (u32)quadrants,
               &ui->batches.textured2d, ui);
    // Program icons, where the embedded assets have them.
    for (i32 i = 1; i < 9; ++i)
        drawIconAt({360.0f + 32 * i, 80}, 0.5f, AnchorCentre, 0, 28, everywhere, ImageKindAsset, (u32)i,
                   &ui->batches.textured2d, ui);
    runHarnessFrame(&harness);
    FixedString written = writeHarnessPng(&harness, (::testing::TempDir() + "text_styles_and_icons.png").c_str());
    EXPECT_EQ(written.length, 0) << written.text;
    // The outlined line shows both its white mark and its black outline.
    i32 white = 0, dark = 0;
    for (i32 x = 10; x < 300; ++x) {
        for (i32 y = 240; y < 275; ++y) {
            u32 c = at(x, y);
            if (channelOf(c, 0) > 230 && channelOf(c, 2) > 230) white++;
            if (channelOf(c, 0) < 20 && channelOf(c, 2) < 20) dark++;
        }
    }
    EXPECT_GT(white, 100);
    EXPECT_GT(dark, 100);
}

// The font record as read at start-up: only a whole, consistent record reaches the text code.
void runWithFontRecord(const std::vector<u8>& record, bool expectUsed) {
    RenderHarness harness{};
    TestAssetStore store;
    ASSERT_EQ(startRenderHarness(&harness, 64, 64).length, 0);
    store.putShaders();
    store.put("font_sdf_info.bin", record);
    harness.app->renderer.assetReader = makeTestAssetReader(&store);
    runHarnessFrames(&harness, 3);
    UiState* ui = &harness.app->renderer.ui;
    EXPECT_EQ(ui->fontInfo != nullptr, expectUsed);
    TextLayoutResult r = drawTextAt(ui, makeString("abc"), AnchorCentre, {32, 32}, 0.5f, {0, 64, 0, 64}, plainStyle(20));
    EXPECT_EQ(ui->batches.sdf.quadCount, expectUsed ? 3 : 0);
    EXPECT_EQ(r.bounds.x1 != 0, expectUsed);
    stopRenderHarness(&harness);
}

TEST(FontRecordOnLoad, OnlyAWholeConsistentRecordIsUsed) {
    const u8* committed = (const u8*)committedFontRecord();
    ASSERT_NE(committed, nullptr);
    std::vector<u8> record(committed, committed + kFontRecordBytes);
    runWithFontRecord(record, true);
    std::vector<u8> cut(record.begin(), record.end() - 100);
    runWithFontRecord(cut, false);
    std::vector<u8> tooManyRanges = record;
    tooManyRanges[16] = 201;
    tooManyRanges[17] = 0;
    runWithFontRecord(tooManyRanges, false);
}

}  // namespace
