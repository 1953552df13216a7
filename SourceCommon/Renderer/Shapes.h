// The shape writers: the only code that puts rectangles, filled polygons and lines into the draw
// batches. 2-D coordinates are window pixels, origin bottom-left, y up. Every writer checks the
// batch's room before it writes and drops the whole shape when it does not fit; nothing is reported.
#pragma once
#include "Core/GeometryTypes.h"
#include "SourceCommon/Renderer/DrawBatches.h"

// RGBA8, red in the lowest byte.
using Color = u32;

// A 3-D plane: the kept side is where (p - point) . normal > 0.
struct ClipPlane {
    Vec3 normal;
    Vec3 point;
};

// What is left of a 3-D segment; dropped = 1 when nothing is.
struct ClippedSegment {
    u32 dropped;
    Vec3 a;
    Vec3 b;
};

// colored_rect: one rectangle with fill, outline, corner radius and crop rectangle.
void addRoundedRect(const Rect& rect, f32 depth, const Rect& cropRect, f32 outlineWidth, f32 cornerRadius,
                    Color fillColor, Color outlineColor, ColoredRectBatch* batch, f32 halfWindowWidth,
                    f32 halfWindowHeight);
// x and y already in device coordinates.
ColoredRectVertex makeRectVertex(f32 x, f32 y, f32 z, Color fillColor, Color outlineColor, f32 rectX, f32 rectY,
                                 f32 rectWidth, f32 rectHeight, const Rect& cropRect, f32 cornerRadius,
                                 f32 outlineWidth);

// colored_2d: a convex polygon as a fan, points in fan order; its triangles face the viewer
// whichever way the points go round.
void addConvexPolygon(const Vec2F32* points, i32 count, f32 depth, Color color, Colored2dBatch* batch);
// colored_2d: a triangle cut to the clip rectangle.
void addTriangleFromPoints(Vec2F32 p0, Vec2F32 p1, Vec2F32 p2, const Rect& clipRect, f32 depth, Color color,
                           Colored2dBatch* batch);
// colored_2d: triangles (p0, p[i], p[i + 1]), each cut to the clip rectangle.
void addTriangleFanPoints(const Vec2F32* points, i32 count, const Rect& clipRect, f32 depth, Color color,
                          Colored2dBatch* batch);

// line_2d: a thick segment whose centre line is cut to the clip rectangle; thickness in pixels.
void addLine(Vec2F32 p0, Vec2F32 p1, f32 depth, const Rect& clipRect, Color color, f32 thickness,
             Line2dBatch* batch);
void addLineUnclipped(Vec2F32 p0, Vec2F32 p1, f32 depth, Color color, f32 thickness, Line2dBatch* batch);
// line_2d: a copy of every line quad added since firstVertex (a vertex count noted before adding
// them) with a new depth, colour and thickness; drawn behind the lines as their outline.
void addThickPolyline(i32 firstVertex, f32 depth, Color color, f32 thickness, Line2dBatch* batch);

// line_3d: a thick segment between integer world points.
void addLine3d(const i32 a[3], const i32 b[3], Color color, f32 thickness, Line3dBatch* batch);

// Cuts a segment (changed in place) to the rectangle; what is left is appended to out when
// *count < capacity, raising *count.
void clipSegmentToRect(SegmentF32* segment, const Rect& rect, SegmentF32* out, i32 capacity, i32* count);
ClippedSegment clipSegmentToPlane(const ClipPlane& plane, Vec3 p0, Vec3 p1);
// The four side planes of a view frustum with the eye at the origin looking along +y:
// |x| < a y and |z| < b y, where tangents = {a, b}.
ClippedSegment clipSegmentToFrustumSides(const f64 tangents[2], Vec3 p0, Vec3 p1);

// The colour as red, green, blue and alpha from 0 to 1.
void colorToFloats(Color color, f32 out[4]);

// Linear mix per channel, rounded half up; t <= 0 gives a, t >= 1 gives b.
Color blendColor(Color a, Color b, f32 t);

// Polygon clipping against the four sides of a rectangle (left, right, bottom, top); a point is
// inside a side only when strictly inside. Returns the number of points written to out (at most
// count + 4, and no more than capacity), 0 when nothing is left.
i32 clipPolygonToRect(const Vec2F32* points, i32 count, const Rect& rect, Vec2F32* out, i32 capacity);

// Twice the signed area of a polygon: positive when its points go round counter-clockwise (y up).
f32 polygonArea2(const Vec2F32* points, i32 count);
