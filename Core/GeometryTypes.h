// Plain 2-D and 3-D value types shared by the math, geometry, map and drawing code.
#pragma once
#include "Core/Types.h"

// A point or vector in f64: normalised Web-Mercator {x, y} in turns, pixels, or metres.
struct Vec2 {
    f64 x, y;
};

struct Vec2F32 {
    f32 x, y;
};

struct Vec3 {
    f64 x, y, z;
};

// Geographic position in degrees.
struct GeoPoint {
    f64 longitude, latitude;
};

// Attitudes and rotations: unit quaternions stored x, y, z, w.
struct Quaternion {
    f64 x, y, z, w;
};

// Screen rectangle in pixels; a point is inside when x0 <= x <= x1 and y0 <= y <= y1.
struct Rect {
    f32 x0, x1, y0, y1;
};

struct Box2 {
    f64 minX, maxX, minY, maxY;
};

struct Segment2 {
    Vec2 a, b;
};

struct SegmentF32 {
    f32 x0, y0, x1, y1;
};

// The infinite line through `point` along `direction`.
struct Line2 {
    Vec2 point, direction;
};

// A caller's output array of points; appends beyond `capacity` are dropped.
struct PointList {
    Vec2* points;
    i32 capacity;
    i32 count;
};
