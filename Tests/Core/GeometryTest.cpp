#include "Core/Geometry.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

const Vec2 kUnitSquare[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};

// Even-odd crossing count with half-open edges: for a simple polygon the same as nonzero winding.
bool crossingTest(Vec2 p, const std::vector<Vec2>& ring) {
    bool inside = false;
    for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
        Vec2 a = ring[i], b = ring[j];
        if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x) inside = !inside;
    }
    return inside;
}

std::vector<Vec2> randomStarPolygon(std::mt19937_64& random, int n) {
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<double> angles;
    for (int i = 0; i < n; ++i) angles.push_back(unit(random) * 2 * M_PI);
    std::sort(angles.begin(), angles.end());
    std::vector<Vec2> ring;
    for (double angle : angles) {
        double radius = 0.2 + unit(random);
        ring.push_back({radius * std::cos(angle), radius * std::sin(angle)});
    }
    return ring;
}

TEST(Geometry, PointInPolygonEdgesOfTheUnitSquare) {
    Vec2 right = {1, 0.5}, left = {0, 0.5}, centre = {0.5, 0.5}, outside = {1.5, 0.5};
    EXPECT_EQ(pointInPolygon(&right, kUnitSquare, 4), 1);
    EXPECT_EQ(pointInPolygon(&left, kUnitSquare, 4), 0);
    EXPECT_EQ(pointInPolygon(&centre, kUnitSquare, 4), 1);
    EXPECT_EQ(pointInPolygon(&outside, kUnitSquare, 4), 0);
    EXPECT_EQ(pointStrictlyInPolygon(&right, kUnitSquare, 4), 0);
    EXPECT_EQ(pointStrictlyInPolygon(&left, kUnitSquare, 4), 0);
    EXPECT_EQ(pointStrictlyInPolygon(&centre, kUnitSquare, 4), 1);
    for (const Vec2& corner : kUnitSquare) EXPECT_EQ(pointStrictlyInPolygon(&corner, kUnitSquare, 4), 0);
    EXPECT_EQ(pointInPolygon(&centre, kUnitSquare, 2), 0);

    // A ring that goes round twice winds 2 (inside by nonzero winding); repeated vertices are skipped.
    Vec2 twice[9] = {{0, 0}, {1, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}, {1, 0}, {1, 1}, {0, 1}};
    EXPECT_EQ(pointInPolygon(&centre, twice, 9), 1);
    Vec2F32 twiceF32[9];
    for (int i = 0; i < 9; ++i) twiceF32[i] = {f32(twice[i].x), f32(twice[i].y)};
    EXPECT_EQ(pointInPolygonF32(Vec2F32{0.5f, 0.5f}, twiceF32, 9), 1);
    // The ray through a vertex counts it once.
    Vec2 diamond[4] = {{0, -1}, {1, 0}, {0, 1}, {-1, 0}};
    Vec2 level = {-0.5, 0}, beside = {-1.5, 0};
    EXPECT_EQ(pointInPolygon(&level, diamond, 4), 1);
    EXPECT_EQ(pointInPolygon(&beside, diamond, 4), 0);
}

TEST(Geometry, PointInPolygonAgreesWithCrossingCountOnRandomPolygons) {
    std::mt19937_64 random(17);
    std::uniform_real_distribution<double> coordinate(-1.5, 1.5);
    for (int polygon = 0; polygon < 300; ++polygon) {
        std::vector<Vec2> ring = randomStarPolygon(random, 3 + polygon % 40);
        std::vector<Vec2F32> ringF32;
        for (Vec2 v : ring) ringF32.push_back({f32(v.x), f32(v.y)});
        i32 n = i32(ring.size());
        for (int k = 0; k < 200; ++k) {
            Vec2 p = {coordinate(random), coordinate(random)};
            bool expected = crossingTest(p, ring);
            ASSERT_EQ(pointInPolygon(&p, ring.data(), n), expected) << polygon << " " << k;
            EXPECT_EQ(pointStrictlyInPolygon(&p, ring.data(), n), expected);
            double d = signedDistanceSquaredToPolygon(&p, ring.data(), n);
            EXPECT_EQ(d < 0, expected);
            Vec2F32 pf = {f32(p.x), f32(p.y)};
            if (std::fabs(d) > 1e-8) {
                EXPECT_EQ(pointInPolygonF32(pf, ringF32.data(), n), expected);
            }
        }
    }
}

TEST(Geometry, OrientationBySignedArea) {
    Vec2 clockwise[4] = {kUnitSquare[3], kUnitSquare[2], kUnitSquare[1], kUnitSquare[0]};
    EXPECT_EQ(isPolygonClockwise(kUnitSquare, 4), 0);
    EXPECT_EQ(isPolygonClockwise(clockwise, 4), 1);
    EXPECT_EQ(isPolygonClockwise(kUnitSquare, 0), 0);
}

TEST(Geometry, DistanceToSegments) {
    SegmentF32 segment = {0, 0, 4, 0};
    EXPECT_FLOAT_EQ(distanceSquaredToSegment(&segment, {2, 3}), 9);
    EXPECT_FLOAT_EQ(distanceSquaredToSegment(&segment, {-1, 1}), 2);
    EXPECT_FLOAT_EQ(distanceSquaredToSegment(&segment, {6, -2}), 8);
    // A segment of zero length is its one point, not 0 / 0.
    SegmentF32 dot = {1, 1, 1, 1};
    EXPECT_FLOAT_EQ(distanceSquaredToSegment(&dot, {4, 5}), 25);
    EXPECT_FLOAT_EQ(distanceSquaredToSegment(&dot, {1, 1}), 0);
    Segment2 dot64 = {{1, 1}, {1, 1}};
    EXPECT_DOUBLE_EQ(distanceSquaredToSegmentF64(&dot64, {4, 5}), 25);

    std::mt19937_64 random(23);
    std::uniform_real_distribution<double> c(-10, 10);
    for (int k = 0; k < 5000; ++k) {
        Segment2 s = {{c(random), c(random)}, {c(random), c(random)}};
        Vec2 p = {c(random), c(random)};
        double dx = s.b.x - s.a.x, dy = s.b.y - s.a.y;
        double t = std::clamp(((p.x - s.a.x) * dx + (p.y - s.a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
        double ex = s.a.x + t * dx - p.x, ey = s.a.y + t * dy - p.y;
        double expected = ex * ex + ey * ey;
        EXPECT_NEAR(distanceSquaredToSegmentF64(&s, p), expected, 1e-9 * (1 + expected));
        SegmentF32 sf = {f32(s.a.x), f32(s.a.y), f32(s.b.x), f32(s.b.y)};
        EXPECT_NEAR(distanceSquaredToSegment(&sf, {f32(p.x), f32(p.y)}), expected, 1e-3 * (1 + expected));
    }
}

TEST(Geometry, SignedDistanceToPolygons) {
    Vec2 centre = {0.5, 0.5}, right = {2, 0.5}, nearCorner = {-1, -1};
    EXPECT_DOUBLE_EQ(signedDistanceSquaredToPolygon(&centre, kUnitSquare, 4), -0.25);
    EXPECT_DOUBLE_EQ(signedDistanceSquaredToPolygon(&right, kUnitSquare, 4), 1);
    EXPECT_DOUBLE_EQ(signedDistanceSquaredToPolygon(&nearCorner, kUnitSquare, 4), 2);
    EXPECT_DOUBLE_EQ(signedDistanceSquaredToPolygon(&right, kUnitSquare, 1), 4.25);
    EXPECT_DOUBLE_EQ(signedDistanceSquaredToPolygon(&right, kUnitSquare, 0), 0);
    EXPECT_DOUBLE_EQ(signedDistanceSquaredToPolygon(&right, kUnitSquare, 2), 1.25);  // the edge {0,0}-{1,0}
}

TEST(Geometry, SegmentIntersections) {
    Vec2 storage[4];
    PointList out = {storage, 4, 0};
    Segment2 a = {{0, 0}, {2, 2}}, b = {{0, 2}, {2, 0}};
    segmentIntersection(&a, &b, &out);
    ASSERT_EQ(out.count, 1);
    EXPECT_DOUBLE_EQ(storage[0].x, 1);
    EXPECT_DOUBLE_EQ(storage[0].y, 1);
    Segment2 parallel = {{0, 1}, {2, 3}}, touching = {{2, 2}, {3, 0}}, short_ = {{0, 2}, {0.9, 1.1}};
    segmentIntersection(&a, &parallel, &out);
    segmentIntersection(&a, &short_, &out);
    EXPECT_EQ(out.count, 1);
    segmentIntersection(&a, &touching, &out);
    ASSERT_EQ(out.count, 2);
    EXPECT_DOUBLE_EQ(storage[1].x, 2);

    // Across the unit square: the bottom edge, then the closing left edge is never reached.
    PointList crossings = {storage, 4, 0};
    Segment2 vertical = {{0.25, -1}, {0.25, 2}};
    segmentPolygonIntersections(&vertical, kUnitSquare, 4, &crossings);
    ASSERT_EQ(crossings.count, 2);
    EXPECT_DOUBLE_EQ(storage[0].y, 0);
    EXPECT_DOUBLE_EQ(storage[1].y, 1);
    Segment2 horizontal = {{-1, 0.5}, {2, 0.5}};
    segmentPolygonIntersections(&horizontal, kUnitSquare, 4, &crossings);
    ASSERT_EQ(crossings.count, 4);
    EXPECT_DOUBLE_EQ(storage[2].x, 1);  // edge 1 -> 2
    EXPECT_DOUBLE_EQ(storage[3].x, 0);  // the closing edge 3 -> 0
    // A full list drops further points.
    segmentPolygonIntersections(&horizontal, kUnitSquare, 4, &crossings);
    EXPECT_EQ(crossings.count, 4);
    PointList none = {storage, 4, 0};
    segmentPolygonIntersections(&horizontal, kUnitSquare, 1, &none);
    EXPECT_EQ(none.count, 0);
}

TEST(Geometry, ClippingAgainstALine) {
    Vec2 storage[8];
    PointList out = {storage, 8, 0};
    Line2 x05 = {{0.5, 0}, {0, 1}};
    clipPolylineAgainstLine(&x05, kUnitSquare, 4, &out);
    ASSERT_EQ(out.count, 2);
    EXPECT_DOUBLE_EQ(storage[0].x, 0.5);
    EXPECT_DOUBLE_EQ(storage[0].y, 0);
    EXPECT_DOUBLE_EQ(storage[1].x, 0.5);
    EXPECT_DOUBLE_EQ(storage[1].y, 1);

    // An edge lying on the line adds nothing (no division by zero); its ends come from the edges
    // that meet it.
    PointList onLine = {storage, 8, 0};
    Line2 x1 = {{1, 5}, {0, -2}};
    Segment2 along = {{1, 0}, {1, 1}};
    clipEdgeAgainstLine(&x1, &along, &onLine);
    EXPECT_EQ(onLine.count, 0);
    clipPolylineAgainstLine(&x1, kUnitSquare, 4, &onLine);
    ASSERT_EQ(onLine.count, 2);
    EXPECT_DOUBLE_EQ(storage[0].x, 1);
    EXPECT_DOUBLE_EQ(storage[0].y, 0);
    EXPECT_DOUBLE_EQ(storage[1].x, 1);
    EXPECT_DOUBLE_EQ(storage[1].y, 1);
    for (int i = 0; i < onLine.count; ++i) EXPECT_TRUE(std::isfinite(storage[i].x) && std::isfinite(storage[i].y));

    PointList away = {storage, 8, 0};
    Line2 far = {{5, 0}, {0, 1}};
    clipPolylineAgainstLine(&far, kUnitSquare, 4, &away);
    EXPECT_EQ(away.count, 0);
    clipPolylineAgainstLine(&x05, kUnitSquare, 1, &away);
    EXPECT_EQ(away.count, 0);
}

TEST(Geometry, RectangleQuarterTurns) {
    Rect r = {0, 2, 0, 1}, out;
    QuarterTurnPivot quarter = {0, 0, 1};
    rotateRectQuarterTurns(&out, &r, &quarter);
    EXPECT_EQ(out.x0, -1);
    EXPECT_EQ(out.x1, 0);
    EXPECT_EQ(out.y0, 0);
    EXPECT_EQ(out.y1, 2);
    QuarterTurnPivot back = {0, 0, 3};
    Rect again;
    rotateRectQuarterTurns(&again, &out, &back);
    EXPECT_EQ(again.x0, 0);
    EXPECT_EQ(again.x1, 2);
    EXPECT_EQ(again.y0, 0);
    EXPECT_EQ(again.y1, 1);
    QuarterTurnPivot half = {1, 1, 7}, none = {5, 5, 0};
    rotateRectQuarterTurns(&out, &r, &half);
    EXPECT_EQ(out.x0, 0);
    EXPECT_EQ(out.x1, 2);
    EXPECT_EQ(out.y0, 1);
    EXPECT_EQ(out.y1, 2);
    rotateRectQuarterTurns(&out, &r, &none);
    EXPECT_EQ(out.x1, 2);
    EXPECT_EQ(out.y1, 1);
}

}  // namespace
