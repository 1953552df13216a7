#include "SourceCommon/Renderer/Shapes.h"

namespace {

constexpr i32 kPolygonPointCapacity = 8;

f32 channel(Color color, i32 shift) { return (f32)((color >> shift) & 0xFF) / 255.0f; }

// Triangle t of a batch filled from the end of its index list.
void writeBackwardTriangle(u16* indices, i32 triangleCapacity, i32 t, i32 a, i32 b, i32 c) {
    u16* triple = indices + 3 * (i64)(triangleCapacity - 1 - t);
    triple[0] = (u16)a;
    triple[1] = (u16)b;
    triple[2] = (u16)c;
}

void writeForwardTriangle(u16* indices, i32 t, i32 a, i32 b, i32 c) {
    u16* triple = indices + 3 * (i64)t;
    triple[0] = (u16)a;
    triple[1] = (u16)b;
    triple[2] = (u16)c;
}

// Thickness in thousandths of a pixel, truncated toward zero.
// Thicknesses beyond a million pixels (or not a number) are held at that bound.
i32 thicknessUnits(f32 thickness) {
    f32 units = thickness * 1000.0f;
    if (!(units > -1e9f)) return units != units ? 0 : -1000000000;
    if (units > 1e9f) return 1000000000;
    return (i32)units;
}

Line2dVertex makeLine2dVertex(Vec2F32 end, Vec2F32 other, f32 depth, Color color, i32 thickness) {
    Line2dVertex v = {};
    v.x = end.x;
    v.y = end.y;
    v.otherX = other.x;
    v.otherY = other.y;
    v.z = depth;
    v.color = (i32)color;
    v.thickness = thickness;
    return v;
}

bool lineFits(const Line2dBatch* batch) {
    return batch->vertexCount + 4 <= kBatchVertexCapacity && batch->triangleCount + 2 <= kLine2dTriangles;
}

void writeLineQuad(Vec2F32 a, Vec2F32 b, f32 depth, Color color, f32 thickness, Line2dBatch* batch) {
    i32 n = batch->vertexCount;
    i32 t = batch->triangleCount;
    writeBackwardTriangle(batch->indices, kLine2dTriangles, t, n, n + 1, n + 2);
    writeBackwardTriangle(batch->indices, kLine2dTriangles, t + 1, n + 2, n + 3, n);
    i32 units = thicknessUnits(thickness);
    batch->vertices[n] = makeLine2dVertex(a, b, depth, color, -units);
    batch->vertices[n + 1] = makeLine2dVertex(b, a, depth, color, units);
    batch->vertices[n + 2] = makeLine2dVertex(b, a, depth, color, -units);
    batch->vertices[n + 3] = makeLine2dVertex(a, b, depth, color, units);
    batch->vertexCount = n + 4;
    batch->triangleCount = t + 2;
}

// Which side of the rectangle a clipping pass works on: 0 left, 1 right, 2 bottom, 3 top.
bool insideSide(Vec2F32 p, const Rect& r, i32 side) {
    switch (side) {
    case 0: return p.x > r.x0;
    case 1: return p.x < r.x1;
    case 2: return p.y > r.y0;
    default: return p.y < r.y1;
    }
}

Vec2F32 crossSide(Vec2F32 a, Vec2F32 b, const Rect& r, i32 side) {
    if (side < 2) {
        f32 edge = side == 0 ? r.x0 : r.x1;
        f32 s = (edge - a.x) / (b.x - a.x);
        return {edge, a.y + (b.y - a.y) * s};
    }
    f32 edge = side == 2 ? r.y0 : r.y1;
    f32 s = (edge - a.y) / (b.y - a.y);
    return {a.x + (b.x - a.x) * s, edge};
}

f64 dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 sub(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

}  // namespace

void colorToFloats(Color color, f32 out[4]) {
    out[0] = channel(color, 0);
    out[1] = channel(color, 8);
    out[2] = channel(color, 16);
    out[3] = channel(color, 24);
}

f32 polygonArea2(const Vec2F32* points, i32 count) {
    f32 sum = 0;
    for (i32 i = 0; i < count; ++i) {
        Vec2F32 a = points[i], b = points[(i + 1) % count];
        sum += a.x * b.y - b.x * a.y;
    }
    return sum;
}

ColoredRectVertex makeRectVertex(f32 x, f32 y, f32 z, Color fillColor, Color outlineColor, f32 rectX, f32 rectY,
                                 f32 rectWidth, f32 rectHeight, const Rect& cropRect, f32 cornerRadius,
                                 f32 outlineWidth) {
    ColoredRectVertex v = {};
    v.x = x;
    v.y = y;
    v.z = z;
    colorToFloats(fillColor, v.fill);
    colorToFloats(outlineColor, v.outline);
    v.rect[0] = rectX;
    v.rect[1] = rectY;
    v.rect[2] = rectWidth;
    v.rect[3] = rectHeight;
    v.crop[0] = cropRect.x0;
    v.crop[1] = cropRect.x1;
    v.crop[2] = cropRect.y0;
    v.crop[3] = cropRect.y1;
    v.cornerRadius = cornerRadius;
    v.outlineWidth = outlineWidth;
    return v;
}

void addRoundedRect(const Rect& rect, f32 depth, const Rect& cropRect, f32 outlineWidth, f32 cornerRadius,
                    Color fillColor, Color outlineColor, ColoredRectBatch* batch, f32 halfWindowWidth,
                    f32 halfWindowHeight) {
    if (batch->vertexCount + 4 > kBatchVertexCapacity || batch->triangleCount + 2 > kColoredRectTriangles) return;
    bool overlaps = cropRect.x1 > rect.x0 && rect.x1 > cropRect.x0 && cropRect.y1 > rect.y0 && rect.y1 > cropRect.y0;
    if (!overlaps) return;
    i32 n = batch->vertexCount;
    i32 t = batch->triangleCount;
    writeBackwardTriangle(batch->indices, kColoredRectTriangles, t, n, n + 1, n + 2);
    writeBackwardTriangle(batch->indices, kColoredRectTriangles, t + 1, n + 2, n + 3, n);
    f32 width = rect.x1 - rect.x0;
    f32 height = rect.y1 - rect.y0;
    f32 left = (rect.x0 - halfWindowWidth) / halfWindowWidth;
    f32 right = (rect.x1 - halfWindowWidth) / halfWindowWidth;
    f32 bottom = (rect.y0 - halfWindowHeight) / halfWindowHeight;
    f32 top = (rect.y1 - halfWindowHeight) / halfWindowHeight;
    ColoredRectVertex* v = batch->vertices + n;
    v[0] = makeRectVertex(left, top, depth, fillColor, outlineColor, 0, height, width, height, cropRect, cornerRadius,
                          outlineWidth);
    v[1] = makeRectVertex(left, bottom, depth, fillColor, outlineColor, 0, 0, width, height, cropRect, cornerRadius,
                          outlineWidth);
    v[2] = makeRectVertex(right, bottom, depth, fillColor, outlineColor, width, 0, width, height, cropRect,
                          cornerRadius, outlineWidth);
    v[3] = makeRectVertex(right, top, depth, fillColor, outlineColor, width, height, width, height, cropRect,
                          cornerRadius, outlineWidth);
    batch->vertexCount = n + 4;
    batch->triangleCount = t + 2;
}

void addConvexPolygon(const Vec2F32* points, i32 count, f32 depth, Color color, Colored2dBatch* batch) {
    if (count < 0) return;
    i32 triangles = count >= 2 ? count - 2 : 0;
    if (batch->vertexCount + count > kBatchVertexCapacity || batch->triangleCount + triangles > kColored2dTriangles)
        return;
    i32 n = batch->vertexCount;
    i32 t = batch->triangleCount;
    // Back faces are culled, so the fan's triangles turn counter-clockwise on screen whichever way
    // the points go round: (n, n + i, n + i - 1) for points given clockwise, the reverse otherwise.
    bool counterClockwise = polygonArea2(points, count) > 0;
    for (i32 i = 2; i < count; ++i) {
        if (counterClockwise) writeForwardTriangle(batch->indices, t++, n, n + i - 1, n + i);
        else writeForwardTriangle(batch->indices, t++, n, n + i, n + i - 1);
    }
    for (i32 i = 0; i < count; ++i) {
        Colored2dVertex* v = &batch->vertices[n + i];
        v->x = points[i].x;
        v->y = points[i].y;
        v->z = depth;
        v->color = (i32)color;
        v->extra = 0;
    }
    batch->vertexCount = n + count;
    batch->triangleCount = t;
}

i32 clipPolygonToRect(const Vec2F32* points, i32 count, const Rect& rect, Vec2F32* out, i32 capacity) {
    Vec2F32 buffers[2][kPolygonPointCapacity + 4];
    constexpr i32 kWork = kPolygonPointCapacity + 4;
    if (count <= 0 || count > kPolygonPointCapacity) return 0;
    for (i32 i = 0; i < count; ++i) buffers[0][i] = points[i];
    i32 current = 0;
    for (i32 side = 0; side < 4; ++side) {
        const Vec2F32* in = buffers[current];
        Vec2F32* next = buffers[current ^ 1];
        i32 kept = 0;
        bool anyInside = false;
        for (i32 i = 0; i < count; ++i) anyInside = anyInside || insideSide(in[i], rect, side);
        if (!anyInside) return 0;
        for (i32 i = 0; i < count; ++i) {
            Vec2F32 previous = in[(i + count - 1) % count];
            Vec2F32 point = in[i];
            bool previousInside = insideSide(previous, rect, side);
            bool pointInside = insideSide(point, rect, side);
            if (pointInside != previousInside && kept < kWork) next[kept++] = crossSide(previous, point, rect, side);
            if (pointInside && kept < kWork) next[kept++] = point;
        }
        count = kept;
        current ^= 1;
    }
    if (count > capacity) count = capacity;
    for (i32 i = 0; i < count; ++i) out[i] = buffers[current][i];
    return count;
}

void addTriangleFromPoints(Vec2F32 p0, Vec2F32 p1, Vec2F32 p2, const Rect& clipRect, f32 depth, Color color,
                           Colored2dBatch* batch) {
    Vec2F32 triangle[3] = {p0, p1, p2};
    Vec2F32 clipped[kPolygonPointCapacity];
    i32 count = clipPolygonToRect(triangle, 3, clipRect, clipped, kPolygonPointCapacity);
    if (count >= 3) addConvexPolygon(clipped, count, depth, color, batch);
}

void addTriangleFanPoints(const Vec2F32* points, i32 count, const Rect& clipRect, f32 depth, Color color,
                          Colored2dBatch* batch) {
    for (i32 i = 1; i + 1 < count; ++i)
        addTriangleFromPoints(points[0], points[i], points[i + 1], clipRect, depth, color, batch);
}

void clipSegmentToRect(SegmentF32* segment, const Rect& rect, SegmentF32* out, i32 capacity, i32* count) {
    // Works on one axis at a time: (a, b) are the ends' coordinates on the axis, (oa, ob) on the other.
    f32* coords[2][4] = {{&segment->x0, &segment->x1, &segment->y0, &segment->y1},
                         {&segment->y0, &segment->y1, &segment->x0, &segment->x1}};
    f32 lows[2] = {rect.x0, rect.y0};
    f32 highs[2] = {rect.x1, rect.y1};
    for (i32 axis = 0; axis < 2; ++axis) {
        f32* a = coords[axis][0];
        f32* b = coords[axis][1];
        f32* oa = coords[axis][2];
        f32* ob = coords[axis][3];
        if (*b < *a) {  // the lower end is b
            f32* swap = a;
            a = b;
            b = swap;
            swap = oa;
            oa = ob;
            ob = swap;
        }
        f32 low = lows[axis], high = highs[axis];
        if (low > *a) {
            if (!(*b > low)) return;
            *oa = *oa + (*ob - *oa) * (low - *a) / (*b - *a);
            *a = low;
        }
        if (*b > high) {
            if (!(high > *a)) return;
            *ob = *oa + (*ob - *oa) * (high - *a) / (*b - *a);
            *b = high;
        }
    }
    if (*count < capacity) out[(*count)++] = *segment;
}

void addLineUnclipped(Vec2F32 p0, Vec2F32 p1, f32 depth, Color color, f32 thickness, Line2dBatch* batch) {
    if (!lineFits(batch)) return;
    writeLineQuad(p0, p1, depth, color, thickness, batch);
}

void addLine(Vec2F32 p0, Vec2F32 p1, f32 depth, const Rect& clipRect, Color color, f32 thickness,
             Line2dBatch* batch) {
    if (!lineFits(batch)) return;
    SegmentF32 segment = {p0.x, p0.y, p1.x, p1.y};
    SegmentF32 clipped;
    i32 count = 0;
    clipSegmentToRect(&segment, clipRect, &clipped, 1, &count);
    if (count == 0) return;
    writeLineQuad({clipped.x0, clipped.y0}, {clipped.x1, clipped.y1}, depth, color, thickness, batch);
}

void addThickPolyline(i32 firstVertex, f32 depth, Color color, f32 thickness, Line2dBatch* batch) {
    i32 end = batch->vertexCount;
    if (firstVertex < 0) firstVertex = 0;
    i32 units = thicknessUnits(thickness);
    for (i32 group = firstVertex; group + 3 < end; group += 4) {
        if (!lineFits(batch)) return;
        i32 n = batch->vertexCount;
        i32 t = batch->triangleCount;
        writeBackwardTriangle(batch->indices, kLine2dTriangles, t, n, n + 1, n + 2);
        writeBackwardTriangle(batch->indices, kLine2dTriangles, t + 1, n + 2, n + 3, n);
        for (i32 i = 0; i < 4; ++i) {
            Line2dVertex v = batch->vertices[group + i];
            v.z = depth;
            v.color = (i32)color;
            v.thickness = (i % 2 == 0) ? -units : units;
            batch->vertices[n + i] = v;
        }
        batch->vertexCount = n + 4;
        batch->triangleCount = t + 2;
    }
}

void addLine3d(const i32 a[3], const i32 b[3], Color color, f32 thickness, Line3dBatch* batch) {
    if (batch->vertexCount + 4 > kBatchVertexCapacity || batch->triangleCount + 2 > kLine3dTriangles) return;
    i32 n = batch->vertexCount;
    i32 t = batch->triangleCount;
    writeForwardTriangle(batch->indices, t, n, n + 1, n + 2);
    writeForwardTriangle(batch->indices, t + 1, n + 2, n + 3, n);
    i32 units = thicknessUnits(thickness);
    const i32* ends[4] = {a, b, b, a};
    const i32* others[4] = {b, a, a, b};
    for (i32 i = 0; i < 4; ++i) {
        Line3dVertex* v = &batch->vertices[n + i];
        v->x = ends[i][0];
        v->y = ends[i][1];
        v->z = ends[i][2];
        v->color = (i32)color;
        v->otherX = others[i][0];
        v->otherY = others[i][1];
        v->otherZ = others[i][2];
        v->thickness = (i % 2 == 0) ? -units : units;
    }
    batch->vertexCount = n + 4;
    batch->triangleCount = t + 2;
}

ClippedSegment clipSegmentToPlane(const ClipPlane& plane, Vec3 p0, Vec3 p1) {
    ClippedSegment result = {0, p0, p1};
    f64 d0 = dot(sub(p0, plane.point), plane.normal);
    f64 d1 = dot(sub(p1, plane.point), plane.normal);
    Vec3 direction = sub(p1, p0);
    auto crossing = [&]() {
        f64 s = -d0 / dot(direction, plane.normal);
        return Vec3{p0.x + s * direction.x, p0.y + s * direction.y, p0.z + s * direction.z};
    };
    if (d0 > 0) {
        if (d1 < 0) result.b = crossing();
    } else if (d0 == 0) {
        if (!(d1 > 0)) result.dropped = 1;
    } else {
        if (d1 > 0) result.a = crossing();
        else result.dropped = 1;
    }
    return result;
}

ClippedSegment clipSegmentToFrustumSides(const f64 tangents[2], Vec3 p0, Vec3 p1) {
    f64 a = tangents[0], b = tangents[1];
    ClipPlane planes[4] = {{{1, a, 0}, {0, 0, 0}},
                           {{-1, a, 0}, {0, 0, 0}},
                           {{0, b, 1}, {0, 0, 0}},
                           {{0, b, -1}, {0, 0, 0}}};
    ClippedSegment result = {0, p0, p1};
    for (const ClipPlane& plane : planes) {
        result = clipSegmentToPlane(plane, result.a, result.b);
        if (result.dropped) break;
    }
    return result;
}

Color blendColor(Color a, Color b, f32 t) {
    if (!(t > 0)) return a;
    if (t >= 1) return b;
    Color result = 0;
    for (i32 shift = 0; shift < 32; shift += 8) {
        f32 ca = (f32)((a >> shift) & 0xFF), cb = (f32)((b >> shift) & 0xFF);
        u32 c = (u32)(ca * (1 - t) + cb * t + 0.5f);
        if (c > 255) c = 255;
        result |= c << shift;
    }
    return result;
}
