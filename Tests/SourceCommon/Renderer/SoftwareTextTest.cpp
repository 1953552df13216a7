// The CPU glyph painter: bilinear atlas reads held inside the image, the sdf blending rule on known
// texel values, and nothing written outside the target.
#include <gtest/gtest.h>

#include <vector>

#include "SourceCommon/Renderer/SoftwareText.h"
#include "TextTestSupport.h"

namespace {

// An exactly sized heap buffer, so that any read or write past it is caught by the address checker.
struct ExactBuffer {
    u8* data;
    explicit ExactBuffer(size_t size) : data((u8*)std::malloc(size)) {}
    ~ExactBuffer() { std::free(data); }
};

// Grey atlas whose texel (x, y), counted from the bottom-left, holds value(x, y).
struct GreyAtlas {
    ExactBuffer buffer;
    ImageResult image;
    GreyAtlas(i32 size, u8 (*value)(i32, i32)) : buffer((size_t)size * size), image{} {
        image.width = (u32)size;
        image.height = (u32)size;
        image.rowStride = (u32)size;
        image.channels = 1;
        image.pixels = buffer.data;
        for (i32 y = 0; y < size; ++y)
            for (i32 x = 0; x < size; ++x) buffer.data[(size - 1 - y) * size + x] = value(x, y);
    }
};

u8 gradient(i32 x, i32 y) { return (u8)(x * 7 + y * 3); }
u8 onEdge(i32, i32) { return 140; }
u8 farOutside(i32, i32) { return 0; }
u8 deepInside(i32, i32) { return 255; }

TEST(SoftwareText, ResamplingReadsTexelCentresAndBlendsBetweenThem) {
    GreyAtlas atlas(32, gradient);
    ImageSample s = resampleImageRows(10.5f, 20.5f, atlas.image.pixels, 32, 32, 32, 1);
    EXPECT_FLOAT_EQ(s.red, gradient(10, 20));
    EXPECT_FLOAT_EQ(s.green, gradient(10, 20));
    EXPECT_FLOAT_EQ(s.blue, gradient(10, 20));
    EXPECT_FLOAT_EQ(s.alpha, 255);
    s = resampleImageRows(11.0f, 20.5f, atlas.image.pixels, 32, 32, 32, 1);
    EXPECT_FLOAT_EQ(s.red, (gradient(10, 20) + gradient(11, 20)) / 2.0f);
    s = resampleImageRows(10.5f, 21.0f, atlas.image.pixels, 32, 32, 32, 1);
    EXPECT_FLOAT_EQ(s.red, (gradient(10, 20) + gradient(10, 21)) / 2.0f);
    // Reads at and beyond the corners stay inside the buffer and take the edge texels.
    s = resampleImageRows(0, 0, atlas.image.pixels, 32, 32, 32, 1);
    EXPECT_FLOAT_EQ(s.red, gradient(0, 0));
    s = resampleImageRows(32, 32, atlas.image.pixels, 32, 32, 32, 1);
    EXPECT_FLOAT_EQ(s.red, gradient(31, 31));
    s = resampleImageRows(-100, 500, atlas.image.pixels, 32, 32, 32, 1);
    EXPECT_FLOAT_EQ(s.red, gradient(0, 31));
}

TEST(SoftwareText, ResamplingExpandsChannels) {
    const u8 two[2] = {100, 50};
    ImageSample s = resampleImageRows(0.5f, 0.5f, two, 1, 1, 2, 2);
    EXPECT_FLOAT_EQ(s.blue, 100);
    EXPECT_FLOAT_EQ(s.alpha, 50);
    const u8 three[3] = {1, 2, 3};
    s = resampleImageRows(0.5f, 0.5f, three, 1, 1, 3, 3);
    EXPECT_FLOAT_EQ(s.green, 2);
    EXPECT_FLOAT_EQ(s.alpha, 255);
    const u8 four[4] = {1, 2, 3, 4};
    s = resampleImageRows(0.5f, 0.5f, four, 1, 1, 4, 4);
    EXPECT_FLOAT_EQ(s.alpha, 4);
}

class SoftwarePainter : public ::testing::Test {
protected:
    static constexpr i32 kSize = 20;
    ZeroedPtr<SdfBatch> quads = makeZeroed<SdfBatch>();
    ExactBuffer target{(size_t)kSize * kSize * 4};
    const FontRecord* font = committedFontRecord();
    GlyphRecord glyph = {0, 0, 16, 16, 0, 16, 0, 0, 0, 0, 0};

    void SetUp() override {
        ASSERT_NE(font, nullptr);
        std::memset(target.data, 40, (size_t)kSize * kSize * 4);
    }
    // A 16 x 16 glyph box covering the whole 16 x 16 atlas, at one pixel per texel, its bottom-left
    // at (left, bottom) on a 20 x 20 target.
    void addBox(f32 left, f32 bottom, f32 outline = 0, f32 thickness = 0, f32 pixelsPerTexel = 1) {
        GlyphRecord g = glyph;
        // The atlas is 16 texels; express the box in the 2048-texel units the quad writer uses.
        g.width = 16;
        g.height = 16;
        addGlyphQuad(quads.get(), &g, 0xFFFFFFFF, 0xFF0000FF, outline, thickness,
                     {left, bottom}, 0, {-1e5f, 1e5f, -1e5f, 1e5f}, pixelsPerTexel, kSize / 2.0f,
                     kSize / 2.0f);
        // Map the quad's atlas coordinates (n / 2048) onto the small atlas (n / 16).
        for (i32 i = 0; i < 4; ++i) {
            SdfVertex* v = &quads->vertices[4 * (quads->quadCount - 1) + i];
            v->u *= 2048.0f / 16.0f;
            v->v *= 2048.0f / 16.0f;
        }
    }
    u8* pixel(i32 x, i32 y) { return target.data + ((kSize - 1 - y) * kSize + x) * 4; }
    void paint(const GreyAtlas& atlas) {
        rasterizeSdfText(quads.get(), target.data, kSize, kSize, kSize * 4, {kSize / 2.0f, kSize / 2.0f, &atlas.image, font});
    }
};

TEST_F(SoftwarePainter, AnOnEdgeTexelIsHalfMarkHalfOldValue) {
    GreyAtlas atlas(16, onEdge);
    addBox(2, 2);
    paint(atlas);
    EXPECT_EQ(pixel(10, 10)[0], (u8)(255 * 0.5f + 40 * 0.5f));
    EXPECT_EQ(pixel(10, 10)[3], (u8)(255 * 0.5f + 40 * 0.5f));
    EXPECT_EQ(pixel(2, 2)[1], (u8)(255 * 0.5f + 40 * 0.5f));
    EXPECT_EQ(pixel(17, 17)[2], (u8)(255 * 0.5f + 40 * 0.5f));
    // Outside the box nothing changes.
    EXPECT_EQ(pixel(1, 10)[0], 40);
    EXPECT_EQ(pixel(18, 10)[0], 40);
    EXPECT_EQ(pixel(10, 18)[0], 40);
}

TEST_F(SoftwarePainter, FarOutsideKeepsTheOldValueAndDeepInsideIsMark) {
    GreyAtlas outside(16, farOutside);
    addBox(2, 2);
    paint(outside);
    EXPECT_EQ(pixel(10, 10)[0], 40);
    GreyAtlas inside(16, deepInside);
    paint(inside);
    EXPECT_EQ(pixel(10, 10)[0], 255);
    EXPECT_EQ(pixel(10, 10)[1], 255);
}

TEST_F(SoftwarePainter, TheOutlineBandTakesTheOutlineColourAndExtraThicknessGrowsTheMark) {
    // Texel 140 - 20 lies one texel (one pixel) outside the edge.
    GreyAtlas atlas(16, [](i32, i32) -> u8 { return 120; });
    addBox(2, 2, 3);
    paint(atlas);
    // Outline 0xFF0000FF: red.
    EXPECT_EQ(pixel(10, 10)[0], 255);
    EXPECT_EQ(pixel(10, 10)[1], 0);
    quads->quadCount = 0;
    std::memset(target.data, 40, (size_t)kSize * kSize * 4);
    addBox(2, 2, 0, 2);
    paint(atlas);
    EXPECT_EQ(pixel(10, 10)[1], 255);  // the mark reaches one pixel further out, and more
}

TEST_F(SoftwarePainter, BoxesOnTheAtlasEdgeAndOffTheImageStayInsideBothBuffers) {
    GreyAtlas atlas(16, gradient);
    // Twice the size and hanging over every side of the target: samples reach half a texel past
    // the atlas's edge and pixels lie outside the image.
    addBox(0.25f, 0.25f, 2, 0, 2);
    addBox(-12.3f, -12.3f, 2, 0, 2);
    paint(atlas);
    addBox(-100, -100);
    addBox(100, 100);
    paint(atlas);
    SUCCEED();
}

TEST_F(SoftwarePainter, AnEmptyListChangesNothing) {
    GreyAtlas atlas(16, deepInside);
    paint(atlas);
    for (i32 i = 0; i < kSize * kSize * 4; ++i) ASSERT_EQ(target.data[i], 40);
}

}  // namespace
