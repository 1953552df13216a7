// 2-D polygon tests, distances, intersections and clipping over caller-owned arrays. Polygons are
// arrays of vertices with a count; the last vertex connects back to the first.
#pragma once
#include "Core/GeometryTypes.h"
#include "Core/Types.h"

// Nonzero-winding tests; fewer than 3 vertices contain nothing. A point on a right-hand or top
// edge may count as inside; the strict test puts every point on an edge outside.
i32 pointInPolygon(const Vec2* point, const Vec2* vertices, i32 count);
i32 pointInPolygonF32(Vec2F32 point, const Vec2F32* vertices, i32 count);
i32 pointStrictlyInPolygon(const Vec2* point, const Vec2* vertices, i32 count);

// 1 when the signed area is negative (clockwise with y up).
i32 isPolygonClockwise(const Vec2* vertices, i32 count);

// Squared distance from a point to a segment; a segment of zero length is its one point.
f32 distanceSquaredToSegment(const SegmentF32* segment, Vec2F32 point);
f64 distanceSquaredToSegmentF64(const Segment2* segment, Vec2 point);

// Smallest squared distance to the polygon's edges, negative when the point is inside; 0 for an
// empty polygon, the squared distance to the vertex for a single one.
f64 signedDistanceSquaredToPolygon(const Vec2* point, const Vec2* vertices, i32 count);

// Appends the crossing point of two segments (ends included); parallel segments give nothing.
void segmentIntersection(const Segment2* a, const Segment2* b, PointList* out);
// The crossings of a segment with every edge in order, the closing edge last.
void segmentPolygonIntersections(const Segment2* segment, const Vec2* vertices, i32 count, PointList* out);

// Appends the point where an edge crosses or touches a line. An edge lying on the line has no
// single crossing point and adds nothing.
void clipEdgeAgainstLine(const Line2* line, const Segment2* edge, PointList* out);
// clipEdgeAgainstLine for every edge of a closed ring in order, the closing edge last.
void clipPolylineAgainstLine(const Line2* line, const Vec2* vertices, i32 count, PointList* out);

struct QuarterTurnPivot {
    f32 px, py;
    u32 turns;  // 0 none, 1 a quarter counter-clockwise, 3 a quarter clockwise, anything else a half
};

// Turns a rectangle about a pivot; the result is ordered again (x0 <= x1, y0 <= y1).
void rotateRectQuarterTurns(Rect* out, const Rect* rect, const QuarterTurnPivot* pivot);
