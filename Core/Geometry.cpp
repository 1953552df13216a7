#include "Core/Geometry.h"

#include <algorithm>

namespace {

// The winding number of a closed ring around a point: crossings of a ray towards +x count twice,
// an edge that ends on the ray's y once, horizontal edges on the ray never.
template <typename V, typename S>
i32 windingNumber(V p, const V* vertices, i32 count) {
    i32 winding = 0;
    for (i32 i = 0; i < count; ++i) {
        V a = vertices[i], b = vertices[i + 1 == count ? 0 : i + 1];
        if (a.x == b.x && a.y == b.y) continue;
        bool aOn = a.y == p.y, bOn = b.y == p.y;
        if (!aOn && !bOn) {
            if (a.y == b.y) continue;  // horizontal, off the ray's line
            S t = (p.y - a.y) / (b.y - a.y);
            if (t >= 0 && t <= 1 && a.x + (b.x - a.x) * t >= p.x) winding += b.y > a.y ? 2 : -2;
        } else if (aOn != bOn) {
            S x = aOn ? a.x : b.x;
            if (x > p.x) winding += b.y > a.y ? 1 : -1;
        }
    }
    return winding;
}

bool pointOnEdge(Vec2 p, Vec2 a, Vec2 b) {
    f64 ex = b.x - a.x, ey = b.y - a.y, px = p.x - a.x, py = p.y - a.y;
    if (ex * py - ey * px != 0) return false;
    f64 dot = px * ex + py * ey;
    return dot >= 0 && dot <= ex * ex + ey * ey;
}

void appendPoint(PointList* out, Vec2 point) {
    if (out->count < out->capacity) out->points[out->count++] = point;
}

// Squared distance from p to the segment a -> b: to the nearer end when the projection falls outside
// it, else the perpendicular one. A segment of zero length is its point.
template <typename S>
S segmentDistanceSquared(S ax, S ay, S bx, S by, S x, S y) {
    S dx = bx - ax, dy = by - ay;
    S px = x - ax, py = y - ay;
    S lengthSquared = dx * dx + dy * dy;
    S dot = px * dx + py * dy;
    if (lengthSquared == 0 || dot <= 0) return px * px + py * py;
    if (dot >= lengthSquared) {
        S qx = x - bx, qy = y - by;
        return qx * qx + qy * qy;
    }
    S cross = dx * py - dy * px;
    return cross * cross / lengthSquared;
}

}  // namespace

i32 pointInPolygon(const Vec2* point, const Vec2* vertices, i32 count) {
    if (count < 3) return 0;
    return windingNumber<Vec2, f64>(*point, vertices, count) != 0;
}

i32 pointInPolygonF32(Vec2F32 point, const Vec2F32* vertices, i32 count) {
    if (count < 3) return 0;
    return windingNumber<Vec2F32, f32>(point, vertices, count) != 0;
}

i32 pointStrictlyInPolygon(const Vec2* point, const Vec2* vertices, i32 count) {
    if (count < 3) return 0;
    for (i32 i = 0; i < count; ++i) {
        Vec2 a = vertices[i], b = vertices[i + 1 == count ? 0 : i + 1];
        if (a.x == b.x && a.y == b.y) continue;
        if (pointOnEdge(*point, a, b)) return 0;
    }
    return windingNumber<Vec2, f64>(*point, vertices, count) != 0;
}

i32 isPolygonClockwise(const Vec2* vertices, i32 count) {
    if (count < 1) return 0;
    f64 twiceArea = 0;
    Vec2 previous = vertices[count - 1];
    for (i32 i = 0; i < count; ++i) {
        twiceArea += previous.x * vertices[i].y - vertices[i].x * previous.y;
        previous = vertices[i];
    }
    return twiceArea < 0;
}

f32 distanceSquaredToSegment(const SegmentF32* segment, Vec2F32 point) {
    return segmentDistanceSquared<f32>(segment->x0, segment->y0, segment->x1, segment->y1, point.x, point.y);
}

f64 distanceSquaredToSegmentF64(const Segment2* segment, Vec2 point) {
    return segmentDistanceSquared<f64>(segment->a.x, segment->a.y, segment->b.x, segment->b.y, point.x, point.y);
}

f64 signedDistanceSquaredToPolygon(const Vec2* point, const Vec2* vertices, i32 count) {
    if (count <= 0) return 0;
    if (count == 1) {
        f64 dx = point->x - vertices[0].x, dy = point->y - vertices[0].y;
        return dx * dx + dy * dy;
    }
    f64 nearest = 1e37;
    for (i32 i = 0; i < count; ++i) {
        Segment2 edge = {vertices[i], vertices[i + 1 == count ? 0 : i + 1]};
        nearest = std::min(nearest, distanceSquaredToSegmentF64(&edge, *point));
    }
    return pointInPolygon(point, vertices, count) ? -nearest : nearest;
}

void segmentIntersection(const Segment2* a, const Segment2* b, PointList* out) {
    f64 rx = a->b.x - a->a.x, ry = a->b.y - a->a.y;
    f64 sx = b->b.x - b->a.x, sy = b->b.y - b->a.y;
    f64 d = rx * sy - ry * sx;
    if (d == 0) return;
    f64 t = ((a->a.y - b->a.y) * sx - (a->a.x - b->a.x) * sy) / d;
    Vec2 p = {a->a.x + t * rx, a->a.y + t * ry};
    f64 u = ((p.x - b->a.x) * sx + (p.y - b->a.y) * sy) / (sx * sx + sy * sy);
    if (t >= 0 && t <= 1 && u >= 0 && u <= 1) appendPoint(out, p);
}

void segmentPolygonIntersections(const Segment2* segment, const Vec2* vertices, i32 count, PointList* out) {
    if (count < 2) return;
    for (i32 i = 0; i < count; ++i) {
        Segment2 edge = {vertices[i], vertices[i + 1 == count ? 0 : i + 1]};
        segmentIntersection(segment, &edge, out);
    }
}

void clipEdgeAgainstLine(const Line2* line, const Segment2* edge, PointList* out) {
    const Vec2 &l = line->point, &d = line->direction, &p0 = edge->a, &p1 = edge->b;
    f64 s0 = (p0.x - l.x) * d.y - (p0.y - l.y) * d.x;
    f64 s1 = (p1.x - l.x) * d.y - (p1.y - l.y) * d.x;
    if (s0 == 0 && s1 == 0) return;  // along the line: no single crossing
    if ((s0 <= 0 && s1 >= 0) || (s0 >= 0 && s1 <= 0)) {
        f64 inverse = 1.0 / (s1 - s0);
        appendPoint(out, Vec2{(s1 * p0.x - s0 * p1.x) * inverse, (s1 * p0.y - s0 * p1.y) * inverse});
    }
}

void clipPolylineAgainstLine(const Line2* line, const Vec2* vertices, i32 count, PointList* out) {
    if (count < 2) return;
    for (i32 i = 0; i < count; ++i) {
        Segment2 edge = {vertices[i], vertices[i + 1 == count ? 0 : i + 1]};
        clipEdgeAgainstLine(line, &edge, out);
    }
}

void rotateRectQuarterTurns(Rect* out, const Rect* rect, const QuarterTurnPivot* pivot) {
    if (pivot->turns == 0) {
        *out = *rect;
        return;
    }
    f32 px = pivot->px, py = pivot->py;
    f32 xs[2] = {rect->x0, rect->x1}, ys[2] = {rect->y0, rect->y1}, rx[2], ry[2];
    for (int i = 0; i < 2; ++i) {
        f32 x = xs[i], y = ys[i];
        if (pivot->turns == 1) {
            rx[i] = px - (y - py), ry[i] = py + (x - px);
        } else if (pivot->turns == 3) {
            rx[i] = px + (y - py), ry[i] = py - (x - px);
        } else {
            rx[i] = 2 * px - x, ry[i] = 2 * py - y;
        }
    }
    *out = Rect{std::min(rx[0], rx[1]), std::max(rx[0], rx[1]), std::min(ry[0], ry[1]), std::max(ry[0], ry[1])};
}
