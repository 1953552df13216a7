// Textured quads cut to a clip rectangle, the affine fits behind their texture coordinates, icons
// placed by anchor and rotation, and perspective entries.
#include <gtest/gtest.h>

#include <cmath>

#include "SourceCommon/Renderer/Icons.h"
#include "TextTestSupport.h"

namespace {

constexpr f32 kHalf = 500;

// Vertex j of triangle t (in the order added) in window pixels, with its texture coordinates.
struct PlacedVertex {
    f32 x, y, u, v;
};
PlacedVertex placed(const Textured2dBatch* batch, i32 t, i32 j) {
    const Textured2dVertex* v = &batch->vertices[3 * (kTextured2dTriangles - 1 - t) + j];
    return {(v->x + 1) * kHalf, (v->y + 1) * kHalf, v->u, v->v};
}

TEST(TexturedQuads, LinearSystemsSolveWithPivotingAndReportSingularOnes) {
    f32 m[3][3] = {{0, 2, 1}, {1, 1, 1}, {4, 0, 1}};
    f32* rows[3] = {m[0], m[1], m[2]};
    f32 rhs[3] = {5, 5, 9};  // x = 2, y = 2, z = 1
    f32 solution[3];
    i32 permutation[4];
    ASSERT_EQ(solveLinearSystemF32(rows, rhs, solution, permutation, 3), 0);
    EXPECT_NEAR(solution[0], 2, 1e-5f);
    EXPECT_NEAR(solution[1], 2, 1e-5f);
    EXPECT_NEAR(solution[2], 1, 1e-5f);
    EXPECT_EQ(permutation[0], 2);  // the largest first column entry leads
    EXPECT_GE(permutation[3], 1);
    f32 s[2][2] = {{1, 2}, {2, 4}};
    f32* singular[2] = {s[0], s[1]};
    EXPECT_EQ(solveLinearSystemF32(singular, rhs, solution, permutation, 2), 1);
}

TEST(TexturedQuads, AffineFitsMapBothWays) {
    AffineFit fit = fitTriangleAffineMaps({10, 20}, {110, 20}, {10, 70}, {0, 1}, {1, 1}, {0, 0});
    EXPECT_EQ(fit.screenToTextureFailed, 0u);
    EXPECT_EQ(fit.textureToScreenFailed, 0u);
    // u = (x - 10) / 100, v = 1 - (y - 20) / 50.
    EXPECT_NEAR(fit.u[0], 0.01f, 1e-6f);
    EXPECT_NEAR(fit.u[2], -0.1f, 1e-5f);
    EXPECT_NEAR(fit.v[1], -0.02f, 1e-6f);
    EXPECT_NEAR(fit.x[0], 100, 1e-3f);
    EXPECT_NEAR(fit.y[1], -50, 1e-3f);
    AffineFit flat = fitTriangleAffineMaps({0, 0}, {1, 1}, {2, 2}, {0, 0}, {1, 0}, {0, 1});
    EXPECT_EQ(flat.screenToTextureFailed, 1u);
    EXPECT_EQ(flat.textureToScreenFailed, 0u);
}

TEST(TexturedQuads, AQuadHalfOutsideBecomesAFanWithMidwayCoordinates) {
    auto batch = makeZeroed<Textured2dBatch>();
    Rect clip = {0, 100, 0, 100};
    // Axis-aligned from x = -100 to 100: the clip's left edge halves it.
    i32 count = addTexturedQuadClipped(ImageKindSlot, 5, ImageFormatRgba, 64, 32, {-100, 90}, {-100, 10}, {100, 10},
                                       {100, 90}, {0, 0}, {0, 1}, {1, 1}, {1, 0}, clip, 0.5f, kHalf, kHalf,
                                       batch.get(), 0);
    ASSERT_EQ(count, 2);
    bool sawCut = false;
    for (i32 t = 0; t < 2; ++t) {
        EXPECT_EQ(batch->textureKey[kTextured2dTriangles - 1 - t], 11);
        for (i32 j = 0; j < 3; ++j) {
            PlacedVertex p = placed(batch.get(), t, j);
            EXPECT_NEAR(p.u, (p.x + 100) / 200, 1e-5f);
            EXPECT_NEAR(p.v, (90 - p.y) / 80, 1e-5f);
            if (std::fabs(p.x) < 1e-3f) {
                sawCut = true;
                EXPECT_NEAR(p.u, 0.5f, 1e-5f);
            }
        }
    }
    EXPECT_TRUE(sawCut);
    const Textured2dVertex* v = &batch->vertices[3 * (kTextured2dTriangles - 1)];
    EXPECT_FLOAT_EQ(v->info[0], 64);
    EXPECT_FLOAT_EQ(v->info[1], 32);
    EXPECT_FLOAT_EQ(v->info[3], 4);
    EXPECT_FLOAT_EQ(v->z, 0.5f);
}

TEST(TexturedQuads, OutsideAddsNothingTheClipItselfComesWholeAndAFullBatchCutsTheFan) {
    auto batch = makeZeroed<Textured2dBatch>();
    Rect clip = {0, 100, 0, 100};
    EXPECT_EQ(addTexturedQuadClipped(0, 5, 4, 8, 8, {-50, 50}, {-50, 10}, {-10, 10}, {-10, 50}, {0, 0}, {0, 1},
                                     {1, 1}, {1, 0}, clip, 0, kHalf, kHalf, batch.get(), 0),
              0);
    // The quad equal to the clip rectangle comes through whole.
    EXPECT_EQ(addTexturedQuadClipped(0, 5, 4, 8, 8, {0, 100}, {0, 0}, {100, 0}, {100, 100}, {0, 0}, {0, 1}, {1, 1},
                                     {1, 0}, clip, 0, kHalf, kHalf, batch.get(), 0),
              2);
    EXPECT_EQ(batch->textureKey[kTextured2dTriangles - 1], 10);
    batch->triangleCount = 2999;
    EXPECT_EQ(addTexturedQuadClipped(0, 5, 4, 8, 8, {10, 90}, {10, 10}, {90, 10}, {90, 90}, {0, 0}, {0, 1}, {1, 1},
                                     {1, 0}, clip, 0, kHalf, kHalf, batch.get(), 0),
              3000);
    EXPECT_EQ(addTexturedQuadClipped(0, 5, 4, 8, 8, {10, 90}, {10, 10}, {90, 10}, {90, 90}, {0, 0}, {0, 1}, {1, 1},
                                     {1, 0}, clip, 0, kHalf, kHalf, batch.get(), 0),
              3000);
}

TEST(TexturedQuads, AQuadGoingRoundClockwiseStillFacesTheViewer) {
    auto batch = makeZeroed<Textured2dBatch>();
    Rect clip = {0, 100, 0, 100};
    ASSERT_EQ(addTexturedQuadClipped(0, 1, 4, 8, 8, {10, 10}, {10, 90}, {90, 90}, {90, 10}, {0, 1}, {0, 0}, {1, 0},
                                     {1, 1}, clip, 0, kHalf, kHalf, batch.get(), 0),
              2);
    for (i32 t = 0; t < 2; ++t) {
        PlacedVertex a = placed(batch.get(), t, 0), b = placed(batch.get(), t, 1), c = placed(batch.get(), t, 2);
        EXPECT_GT((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x), 0) << t;
        EXPECT_NEAR(b.u, (b.x - 10) / 80, 1e-5f);
        EXPECT_NEAR(b.v, (90 - b.y) / 80, 1e-5f);
    }
}

class Icons : public ::testing::Test {
protected:
    ZeroedPtr<UiState> ui = makeZeroed<UiState>();
    u8 pixels[64 * 32 * 4] = {};
    Rect everywhere = {-1e5f, 1e5f, -1e5f, 1e5f};
    void SetUp() override {
        ui->halfWidth = kHalf;
        ui->halfHeight = kHalf;
        ui->assets[AssetCamera].image.width = 64;
        ui->assets[AssetCamera].image.height = 32;
    }
    Textured2dBatch* batch() { return &ui->batches.textured2d; }
    // The window-pixel box of the icon's two triangles.
    Rect iconBox() {
        Rect r = {1e9f, -1e9f, 1e9f, -1e9f};
        for (i32 t = 0; t < batch()->triangleCount; ++t)
            for (i32 j = 0; j < 3; ++j) {
                PlacedVertex p = placed(batch(), t, j);
                r.x0 = std::fmin(r.x0, p.x), r.x1 = std::fmax(r.x1, p.x);
                r.y0 = std::fmin(r.y0, p.y), r.y1 = std::fmax(r.y1, p.y);
            }
        return r;
    }
};

TEST_F(Icons, AnIconKeepsItsAspectAndIsPlacedByItsAnchor) {
    drawIconAt({300, 200}, 0.9f, AnchorCentre, 0, 100, everywhere, ImageKindAsset, AssetCamera, batch(), ui.get());
    ASSERT_EQ(batch()->triangleCount, 2);
    Rect r = iconBox();
    EXPECT_NEAR(r.x0, 250, 1e-3f);
    EXPECT_NEAR(r.x1, 350, 1e-3f);
    EXPECT_NEAR(r.y0, 175, 1e-3f);
    EXPECT_NEAR(r.y1, 225, 1e-3f);
    // The image's top row at the top.
    for (i32 t = 0; t < 2; ++t)
        for (i32 j = 0; j < 3; ++j) {
            PlacedVertex p = placed(batch(), t, j);
            EXPECT_NEAR(p.v, (225 - p.y) / 50, 1e-5f);
        }
    batch()->triangleCount = 0;
    drawIconAt({300, 200}, 0.9f, AnchorTopRight, 0, 100, everywhere, ImageKindAsset, AssetCamera, batch(), ui.get());
    r = iconBox();
    EXPECT_NEAR(r.x1, 300, 1e-3f);
    EXPECT_NEAR(r.y1, 200, 1e-3f);
    batch()->triangleCount = 0;
    drawIconAt({300, 200}, 0.9f, 42, 0, 100, everywhere, ImageKindAsset, AssetCamera, batch(), ui.get());
    r = iconBox();
    EXPECT_NEAR(r.x0, 300, 1e-3f);  // an unknown anchor is bottom-left
    EXPECT_NEAR(r.y0, 200, 1e-3f);
}

TEST_F(Icons, AQuarterTurnTurnsTheIconCounterClockwise) {
    drawIconAt({300, 200}, 0, AnchorBottomLeft, 0.25, 100, everywhere, ImageKindAsset, AssetCamera, batch(),
               ui.get());
    Rect r = iconBox();
    // The image's 100 x 50 now stands 50 wide and 100 tall, left of the point.
    EXPECT_NEAR(r.x0, 250, 1e-3f);
    EXPECT_NEAR(r.x1, 300, 1e-3f);
    EXPECT_NEAR(r.y0, 200, 1e-3f);
    EXPECT_NEAR(r.y1, 300, 1e-3f);
    // The image's bottom-left corner (u 0, v 1) stays on the point.
    bool found = false;
    for (i32 t = 0; t < 2; ++t)
        for (i32 j = 0; j < 3; ++j) {
            PlacedVertex p = placed(batch(), t, j);
            if (std::fabs(p.x - 300) < 1e-3f && std::fabs(p.y - 200) < 1e-3f) {
                found = true;
                EXPECT_NEAR(p.u, 0, 1e-5f);
                EXPECT_NEAR(p.v, 1, 1e-5f);
            }
        }
    EXPECT_TRUE(found);
}

TEST_F(Icons, ImagesWithoutASizeOrAnUnknownKindDrawNothing) {
    drawIconAt({300, 200}, 0, AnchorCentre, 0, 100, everywhere, ImageKindAsset, AssetGps, batch(), ui.get());
    ui->assets[AssetGps].image.width = 10;  // a width but no height
    drawIconAt({300, 200}, 0, AnchorCentre, 0, 100, everywhere, ImageKindAsset, AssetGps, batch(), ui.get());
    drawIconAt({300, 200}, 0, AnchorCentre, 0, 100, everywhere, 2, AssetCamera, batch(), ui.get());
    drawIconAt({300, 200}, 0, AnchorCentre, 0, 100, everywhere, ImageKindAsset, 500, batch(), ui.get());
    i32 id = allocImageSlot(pixels, 0, 32, ImageFormatRgba, &ui->imageSlots);
    ASSERT_GT(id, 0);
    drawIconAt({300, 200}, 0, AnchorCentre, 0, 100, everywhere, ImageKindSlot, (u32)id, batch(), ui.get());
    drawIconAt({300, 200}, 0, AnchorCentre, 0, 100, everywhere, ImageKindSlot, 77, batch(), ui.get());
    EXPECT_EQ(batch()->triangleCount, 0);
    // A slot with a size draws with its format and its odd key.
    i32 video = allocImageSlot(pixels, 64, 32, ImageFormatNv12, &ui->imageSlots);
    drawIconAt({300, 200}, 0, AnchorCentre, 0, 64, everywhere, ImageKindSlot, (u32)video, batch(), ui.get());
    ASSERT_EQ(batch()->triangleCount, 2);
    EXPECT_EQ(batch()->textureKey[kTextured2dTriangles - 1], video * 2 + 1);
    EXPECT_FLOAT_EQ(batch()->vertices[3 * (kTextured2dTriangles - 1)].info[3], 12);
}

TEST(TexturedQuads, PerspectiveEntriesCarryCornersAndSharedValues) {
    TexturedPerspectiveEntry entry = {};
    f32 c[4][3] = {{-1, -1, -5}, {1, -1, -5}, {1, 1, -5}, {-1, 1, -5}};
    makePerspectiveQuad(&entry, 1, 7, 3, c[0], c[1], c[2], c[3], {1, 2, 3, 4}, 5, 400, 300, {10, 20}, 0.75f);
    EXPECT_EQ(entry.kind, 1u);
    EXPECT_EQ(entry.index, 7u);
    EXPECT_FLOAT_EQ(entry.v[2].model[0], 1);
    EXPECT_FLOAT_EQ(entry.v[2].model[3], 5);
    EXPECT_FLOAT_EQ(entry.v[0].texture[0], 0);
    EXPECT_FLOAT_EQ(entry.v[0].texture[1], 1);
    EXPECT_FLOAT_EQ(entry.v[3].texture[1], 0);
    EXPECT_FLOAT_EQ(entry.v[1].texture[2], 3);
    EXPECT_FLOAT_EQ(entry.v[1].texture[3], 0.75f);
    EXPECT_FLOAT_EQ(entry.v[1].screen[1], 300);
    EXPECT_FLOAT_EQ(entry.v[1].screen[3], 20);
    EXPECT_FLOAT_EQ(entry.v[3].crop[3], 4);
}

}  // namespace
