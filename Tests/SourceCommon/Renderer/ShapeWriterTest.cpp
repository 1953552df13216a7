// The shape writers' edge cases: crop and clip rectangles, full batches dropping whole shapes,
// segment clipping in 2-D and against the frustum sides, line quads and their outline copies.
#include <gtest/gtest.h>

#include "SourceCommon/Renderer/Shapes.h"
#include "TextTestSupport.h"

namespace {

constexpr f32 kHalfW = 400, kHalfH = 300;

// Triangle t of a backward batch.
const u16* backwardTriangle(const u16* indices, i32 capacity, i32 t) { return indices + 3 * (capacity - 1 - t); }

TEST(ShapeWriters, ARectangleIsAddedOnlyWhenItOverlapsTheCropStrictly) {
    auto batch = makeZeroed<ColoredRectBatch>();
    Rect crop = {100, 200, 100, 200};
    addRoundedRect({50, 100, 120, 150}, 0.5f, crop, 1, 2, 0xFF0000FF, 0xFFFFFFFF, batch.get(), kHalfW, kHalfH);
    EXPECT_EQ(batch->vertexCount, 0);  // touches the crop's left edge only
    addRoundedRect({50, 100.01f, 120, 150}, 0.5f, crop, 1, 2, 0xFF0000FF, 0xFFFFFFFF, batch.get(), kHalfW, kHalfH);
    EXPECT_EQ(batch->vertexCount, 4);
    EXPECT_EQ(batch->triangleCount, 2);
    addRoundedRect({120, 180, 200, 260}, 0.5f, crop, 1, 2, 0, 0, batch.get(), kHalfW, kHalfH);
    EXPECT_EQ(batch->vertexCount, 4);  // touches the crop's top edge only
}

TEST(ShapeWriters, ARectanglesCornersCarryTheirPlaceAndTheSharedValues) {
    auto batch = makeZeroed<ColoredRectBatch>();
    batch->vertexCount = 8;
    batch->triangleCount = 4;
    Rect crop = {0, 800, 0, 600};
    addRoundedRect({100, 300, 150, 200}, 0.25f, crop, 3, 6, 0x80FF0000, 0xFF00FF00, batch.get(), kHalfW, kHalfH);
    const ColoredRectVertex* v = &batch->vertices[8];
    // Top-left, bottom-left, bottom-right, top-right.
    EXPECT_FLOAT_EQ(v[0].x, (100 - kHalfW) / kHalfW);
    EXPECT_FLOAT_EQ(v[0].y, (200 - kHalfH) / kHalfH);
    EXPECT_FLOAT_EQ(v[2].x, (300 - kHalfW) / kHalfW);
    EXPECT_FLOAT_EQ(v[2].y, (150 - kHalfH) / kHalfH);
    EXPECT_FLOAT_EQ(v[0].rect[1], 50);
    EXPECT_FLOAT_EQ(v[2].rect[0], 200);
    EXPECT_FLOAT_EQ(v[3].rect[0], 200);
    EXPECT_FLOAT_EQ(v[3].rect[1], 50);
    EXPECT_FLOAT_EQ(v[1].rect[2], 200);
    EXPECT_FLOAT_EQ(v[1].rect[3], 50);
    EXPECT_FLOAT_EQ(v[1].fill[2], 1);
    EXPECT_FLOAT_EQ(v[1].fill[3], 0x80 / 255.0f);
    EXPECT_FLOAT_EQ(v[1].outline[1], 1);
    EXPECT_FLOAT_EQ(v[1].crop[1], 800);
    EXPECT_FLOAT_EQ(v[1].crop[3], 600);
    EXPECT_FLOAT_EQ(v[1].cornerRadius, 6);
    EXPECT_FLOAT_EQ(v[1].outlineWidth, 3);
    EXPECT_FLOAT_EQ(v[1].z, 0.25f);
    // Triangles from the end of the index list: (n, n+1, n+2), (n+2, n+3, n).
    const u16* t4 = backwardTriangle(batch->indices, kColoredRectTriangles, 4);
    const u16* t5 = backwardTriangle(batch->indices, kColoredRectTriangles, 5);
    EXPECT_EQ(t4[0], 8);
    EXPECT_EQ(t4[2], 10);
    EXPECT_EQ(t5[0], 10);
    EXPECT_EQ(t5[1], 11);
    EXPECT_EQ(t5[2], 8);
}

TEST(ShapeWriters, AFullBatchDropsTheWholeShape) {
    auto rects = makeZeroed<ColoredRectBatch>();
    Rect crop = {0, 800, 0, 600};
    rects->vertexCount = 65533;
    addRoundedRect({10, 20, 10, 20}, 0, crop, 0, 0, 1, 1, rects.get(), kHalfW, kHalfH);
    EXPECT_EQ(rects->vertexCount, 65533);
    rects->vertexCount = 65532;
    addRoundedRect({10, 20, 10, 20}, 0, crop, 0, 0, 1, 1, rects.get(), kHalfW, kHalfH);
    EXPECT_EQ(rects->vertexCount, 65536);
    addRoundedRect({10, 20, 10, 20}, 0, crop, 0, 0, 1, 1, rects.get(), kHalfW, kHalfH);
    EXPECT_EQ(rects->vertexCount, 65536);
    rects->vertexCount = 0;
    rects->triangleCount = 32767;
    addRoundedRect({10, 20, 10, 20}, 0, crop, 0, 0, 1, 1, rects.get(), kHalfW, kHalfH);
    EXPECT_EQ(rects->vertexCount, 0);

    auto lines = makeZeroed<Line2dBatch>();
    lines->vertexCount = 65533;
    addLine({0, 0}, {10, 10}, 0, crop, 1, 1, lines.get());
    addLineUnclipped({0, 0}, {10, 10}, 0, 1, 1, lines.get());
    EXPECT_EQ(lines->vertexCount, 65533);

    auto polygons = makeZeroed<Colored2dBatch>();
    polygons->vertexCount = 65534;
    Vec2F32 square[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    addConvexPolygon(square, 4, 0, 1, polygons.get());
    EXPECT_EQ(polygons->vertexCount, 65534);
    polygons->vertexCount = 0;
    polygons->triangleCount = 65535;
    addConvexPolygon(square, 4, 0, 1, polygons.get());
    EXPECT_EQ(polygons->vertexCount, 0);
    // Degenerate polygons keep their vertices and add no triangle.
    polygons->triangleCount = 0;
    addConvexPolygon(square, 2, 0, 1, polygons.get());
    EXPECT_EQ(polygons->vertexCount, 2);
    EXPECT_EQ(polygons->triangleCount, 0);

    auto lines3d = makeZeroed<Line3dBatch>();
    lines3d->triangleCount = 32767;
    i32 a[3] = {0, 0, 0}, b[3] = {1, 2, 3};
    addLine3d(a, b, 1, 1, lines3d.get());
    EXPECT_EQ(lines3d->vertexCount, 0);
}

TEST(ShapeWriters, SegmentsAreCutToTheRectangle) {
    Rect r = {0, 100, 0, 100};
    SegmentF32 out[2];
    i32 count = 0;
    SegmentF32 s = {-10, 5, 10, 5};
    clipSegmentToRect(&s, r, out, 2, &count);
    ASSERT_EQ(count, 1);
    EXPECT_FLOAT_EQ(out[0].x0, 0);
    EXPECT_FLOAT_EQ(out[0].y0, 5);
    EXPECT_FLOAT_EQ(out[0].x1, 10);
    s = {-10, -10, -5, 50};
    clipSegmentToRect(&s, r, out, 2, &count);
    EXPECT_EQ(count, 1);
    // Reversed ends, both cut, the other coordinate interpolated.
    s = {150, 75, -50, 25};
    clipSegmentToRect(&s, r, out, 2, &count);
    ASSERT_EQ(count, 2);
    EXPECT_FLOAT_EQ(out[1].x0, 100);
    EXPECT_FLOAT_EQ(out[1].y0, 62.5f);
    EXPECT_FLOAT_EQ(out[1].x1, 0);
    EXPECT_FLOAT_EQ(out[1].y1, 37.5f);
    // A full list drops the segment; a vertical one left of the rectangle is gone.
    s = {10, 10, 20, 20};
    clipSegmentToRect(&s, r, out, 2, &count);
    EXPECT_EQ(count, 2);
    count = 0;
    s = {-5, 10, -5, 90};
    clipSegmentToRect(&s, r, out, 2, &count);
    EXPECT_EQ(count, 0);
    // Cut on y after x.
    s = {50, -50, 50, 150};
    clipSegmentToRect(&s, r, out, 2, &count);
    ASSERT_EQ(count, 1);
    EXPECT_FLOAT_EQ(out[0].y0, 0);
    EXPECT_FLOAT_EQ(out[0].y1, 100);
}

TEST(ShapeWriters, LinesStoreSignedThousandthsAndClipOnlyTheirCentreLine) {
    auto lines = makeZeroed<Line2dBatch>();
    Rect clip = {0, 100, 0, 100};
    addLine({-10, 5}, {10, 5}, 0.5f, clip, 0xFF112233, 2.0f, lines.get());
    ASSERT_EQ(lines->vertexCount, 4);
    const Line2dVertex* v = lines->vertices;
    EXPECT_FLOAT_EQ(v[0].x, 0);
    EXPECT_FLOAT_EQ(v[0].otherX, 10);
    EXPECT_FLOAT_EQ(v[1].x, 10);
    EXPECT_FLOAT_EQ(v[1].otherX, 0);
    EXPECT_EQ(v[0].thickness, -2000);
    EXPECT_EQ(v[1].thickness, 2000);
    EXPECT_EQ(v[2].thickness, -2000);
    EXPECT_EQ(v[3].thickness, 2000);
    EXPECT_EQ((u32)v[0].color, 0xFF112233u);
    addLine({-10, -10}, {-5, 50}, 0.5f, clip, 1, 2, lines.get());
    EXPECT_EQ(lines->vertexCount, 4);
    addLineUnclipped({-10, -10}, {-5, 50}, 0.5f, 1, 0.0004f, lines.get());
    EXPECT_EQ(lines->vertexCount, 8);
    EXPECT_EQ(lines->vertices[4].thickness, 0);
    // A zero-length line still adds its quad.
    addLineUnclipped({3, 3}, {3, 3}, 0, 1, 1.5f, lines.get());
    EXPECT_EQ(lines->vertexCount, 12);
    EXPECT_EQ(lines->vertices[8].thickness, -1500);
}

TEST(ShapeWriters, TheOutlineCopyRepeatsTheLinesAddedSinceAVertex) {
    auto lines = makeZeroed<Line2dBatch>();
    Rect clip = {0, 100, 0, 100};
    addLine({1, 1}, {2, 2}, 0.5f, clip, 1, 1, lines.get());
    i32 first = lines->vertexCount;
    addThickPolyline(first, 0.4f, 0xFF000000, 3, lines.get());
    EXPECT_EQ(lines->vertexCount, first);
    for (i32 i = 0; i < 3; ++i) addLine({10.0f * i, 1}, {10.0f * i + 5, 9}, 0.5f, clip, 0xFFFFFFFF, 1, lines.get());
    addThickPolyline(first, 0.4f, 0xFF000000, 3, lines.get());
    EXPECT_EQ(lines->vertexCount, first + 12 + 12);
    EXPECT_EQ(lines->triangleCount, 2 + 6 + 6);
    const Line2dVertex* copy = &lines->vertices[first + 12];
    const Line2dVertex* original = &lines->vertices[first];
    for (i32 i = 0; i < 12; ++i) {
        EXPECT_FLOAT_EQ(copy[i].x, original[i].x);
        EXPECT_FLOAT_EQ(copy[i].otherY, original[i].otherY);
        EXPECT_FLOAT_EQ(copy[i].z, 0.4f);
        EXPECT_EQ((u32)copy[i].color, 0xFF000000u);
        EXPECT_EQ(copy[i].thickness, i % 2 == 0 ? -3000 : 3000);
    }
}

TEST(ShapeWriters, TrianglesAreCutToTheClipRectangle) {
    auto batch = makeZeroed<Colored2dBatch>();
    Rect clip = {0, 100, 0, 100};
    addTriangleFromPoints({-50, 10}, {-10, 10}, {-30, 50}, clip, 0, 1, batch.get());
    EXPECT_EQ(batch->vertexCount, 0);
    // One corner cut off: a 4-point fan.
    addTriangleFromPoints({10, 10}, {150, 10}, {10, 50}, clip, 0, 1, batch.get());
    EXPECT_EQ(batch->vertexCount, 4);
    EXPECT_EQ(batch->triangleCount, 2);
    // Larger than the rectangle on all sides: its four corners.
    addTriangleFromPoints({-1000, -1000}, {1000, -1000}, {0, 1000}, clip, 0, 1, batch.get());
    EXPECT_EQ(batch->vertexCount, 8);
    for (i32 i = 4; i < 8; ++i) {
        f32 x = batch->vertices[i].x, y = batch->vertices[i].y;
        EXPECT_TRUE((x == 0 || x == 100) && (y == 0 || y == 100)) << x << "," << y;
    }
    // Fan triangles from the start of the list, each counter-clockwise on screen.
    EXPECT_EQ(batch->indices[0], 0);
    for (i32 t = 0; t < batch->triangleCount; ++t) {
        const u16* tri = &batch->indices[3 * t];
        Vec2F32 corners[3];
        for (i32 j = 0; j < 3; ++j) corners[j] = {batch->vertices[tri[j]].x, batch->vertices[tri[j]].y};
        EXPECT_GT(polygonArea2(corners, 3), 0) << t;
    }
    // A fan over a point list: fewer than 3 points add nothing.
    Vec2F32 points[5] = {{50, 50}, {60, 50}, {60, 60}, {50, 60}, {40, 55}};
    addTriangleFanPoints(points, 2, clip, 0, 1, batch.get());
    EXPECT_EQ(batch->vertexCount, 8);
    addTriangleFanPoints(points, 5, clip, 0, 1, batch.get());
    EXPECT_EQ(batch->vertexCount, 8 + 9);
}

TEST(ShapeWriters, PolygonsGivenEitherWayRoundFaceTheViewer) {
    auto batch = makeZeroed<Colored2dBatch>();
    Vec2F32 clockwise[4] = {{0, 0}, {0, 10}, {10, 10}, {10, 0}};
    addConvexPolygon(clockwise, 4, 0, 1, batch.get());
    // Points given clockwise keep the fan order (n, n + i, n + i - 1).
    EXPECT_EQ(batch->indices[1], 2);
    EXPECT_EQ(batch->indices[2], 1);
    Vec2F32 counterClockwise[4] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    addConvexPolygon(counterClockwise, 4, 0, 1, batch.get());
    EXPECT_EQ(batch->indices[7], 5);
    EXPECT_EQ(batch->indices[8], 6);
    for (i32 t = 0; t < batch->triangleCount; ++t) {
        Vec2F32 corners[3];
        for (i32 j = 0; j < 3; ++j) {
            const Colored2dVertex& v = batch->vertices[batch->indices[3 * t + j]];
            corners[j] = {v.x, v.y};
        }
        EXPECT_GT(polygonArea2(corners, 3), 0) << t;
    }
}

TEST(ShapeWriters, ThreeDSegmentsAreCutToTheFrustumSides) {
    f64 tangents[2] = {1.0, 0.5};
    ClippedSegment inside = clipSegmentToFrustumSides(tangents, {0, 10, 0}, {1, 20, 2});
    EXPECT_EQ(inside.dropped, 0u);
    EXPECT_DOUBLE_EQ(inside.b.x, 1);
    EXPECT_DOUBLE_EQ(inside.b.z, 2);
    // Crosses x = a y at (10, 10, 0).
    ClippedSegment cut = clipSegmentToFrustumSides(tangents, {0, 10, 0}, {20, 10, 0});
    EXPECT_EQ(cut.dropped, 0u);
    EXPECT_DOUBLE_EQ(cut.b.x, 10);
    EXPECT_DOUBLE_EQ(cut.b.y, 10);
    // Lying exactly in the plane x = a y.
    ClippedSegment in = clipSegmentToFrustumSides(tangents, {5, 5, 0}, {10, 10, 0});
    EXPECT_EQ(in.dropped, 1u);
    // Behind the eye.
    EXPECT_EQ(clipSegmentToFrustumSides(tangents, {0, -10, 0}, {0, -20, 0}).dropped, 1u);
    // A plane keeps the side its normal points to; the first end moves when it lies outside.
    ClipPlane floor = {{0, 0, 1}, {0, 0, 0}};
    ClippedSegment up = clipSegmentToPlane(floor, {0, 0, -1}, {0, 0, 3});
    EXPECT_EQ(up.dropped, 0u);
    EXPECT_DOUBLE_EQ(up.a.z, 0);
    EXPECT_DOUBLE_EQ(up.b.z, 3);
    EXPECT_EQ(clipSegmentToPlane(floor, {0, 0, 0}, {0, 0, -1}).dropped, 1u);
    EXPECT_EQ(clipSegmentToPlane(floor, {0, 0, 0}, {0, 0, 1}).dropped, 0u);
}

TEST(ShapeWriters, ThreeDLinesCarryBothEndsAndTheSignedThickness) {
    auto batch = makeZeroed<Line3dBatch>();
    i32 a[3] = {1, 2, 3}, b[3] = {-4, -5, -6};
    addLine3d(a, b, 0xFF00FF00, 2.5f, batch.get());
    ASSERT_EQ(batch->vertexCount, 4);
    const Line3dVertex* v = batch->vertices;
    EXPECT_EQ(v[0].x, 1);
    EXPECT_EQ(v[0].otherX, -4);
    EXPECT_EQ(v[1].x, -4);
    EXPECT_EQ(v[2].z, -6);
    EXPECT_EQ(v[3].otherZ, -6);
    EXPECT_EQ(v[0].thickness, -2500);
    EXPECT_EQ(v[3].thickness, 2500);
    EXPECT_EQ(batch->indices[3], 2);
    EXPECT_EQ(batch->indices[4], 3);
    EXPECT_EQ(batch->indices[5], 0);
}

TEST(ShapeWriters, ColoursBlendPerChannelRoundingHalfUp) {
    EXPECT_EQ(blendColor(0xFF000000, 0xFFFFFFFF, 0.5f), 0xFF808080u);
    EXPECT_EQ(blendColor(0xFF000000, 0xFFFFFFFF, -1), 0xFF000000u);
    EXPECT_EQ(blendColor(0xFF000000, 0xFFFFFFFF, 2), 0xFFFFFFFFu);
    EXPECT_EQ(blendColor(0x00000010, 0xFF000020, 0.25f), 0x40000014u);
    EXPECT_EQ(blendColor(0x11223344, 0x55667788, 0.0f / 0.0f), 0x11223344u);
}

}  // namespace
