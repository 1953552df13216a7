#include "Overlays/OverlayGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "Overlays/VectorOverlay.h"
#include "SourceCommon/Renderer/MapBatches.h"

namespace {

// A chunk of the finest lines or of the fills spans at most this many turns either way, so that its
// records keep 32-bit precision to a small part of a pixel at street zoom; its origin is the corner
// of the grid cell of this size that holds its first point (consecutive chunks in one cell are drawn
// at once). A coarser band is drawn at smaller scales only, and its chunks may span as much as keeps
// that precision at its largest scale, so that a view of a continent takes a few draws, not one a
// cell. A record larger than the extent makes room for itself: a chunk may span twice its largest
// record (a long straight line or a large triangle is as precise as its own size allows).
constexpr f64 kChunkExtent = 1.0 / 256;
// The error of a 32-bit position at the largest scale of a band: 2^-24 of the extent, times the scale.
constexpr i32 kChunkErrorBits = 6;  // a 64th of a pixel
// A band whose simplified lines keep this share of the segments or more is the last: it and every
// finer scale draw the segments as they are.
constexpr f64 kLastBandShare = 0.5;
// The tolerance of a band: half a pixel at its largest scale (an eighth at its smallest).
constexpr f64 kBandTolerancePixels = 0.5;

// A growable array in the C heap; false when memory runs out.
template <typename T>
bool reserve(T** items, u32* capacity, u64 wanted) {
    if (wanted <= *capacity) return true;
    if (wanted > 0xFFFFFFFFull) return false;
    u64 next = *capacity ? *capacity : 1024;
    while (next < wanted) next *= 2;
    if (next > 0xFFFFFFFFull) next = 0xFFFFFFFFull;
    T* grown = (T*)std::realloc(*items, (size_t)next * sizeof(T));
    if (!grown) return false;
    *items = grown;
    *capacity = (u32)next;
    return true;
}

struct Builder {
    OverlayGeometry* g;
    SegmentVertex* segments;  // four a segment, of every band one after another
    u32 segmentCapacity, chunkCapacity, fillCapacity;
    u32 segmentTotal;  // of every band
    bool failed;
    OverlayChunk* open;  // the chunk being filled, null when none
    f64 extent;  // the span a chunk may have, turns
};

f64 cellCorner(f64 value) { return std::floor(value / kChunkExtent) * kChunkExtent; }

// Starts a chunk at a point unless the open one can take a record reaching out to the box given.
void chunkFor(Builder* b, u32 firstRecord, f64 x0, f64 y0, f64 minX, f64 maxX, f64 minY, f64 maxY, u32 records) {
    OverlayChunk* c = b->open;
    f64 extent = std::fmax(b->extent, 2 * std::fmax(maxX - minX, maxY - minY));
    if (c && c->count + records <= kOverlayChunkRecords && std::fmax(c->maxX, maxX) - std::fmin(c->minX, minX) <= extent &&
        std::fmax(c->maxY, maxY) - std::fmin(c->minY, minY) <= extent) {
        c->minX = std::fmin(c->minX, minX), c->maxX = std::fmax(c->maxX, maxX);
        c->minY = std::fmin(c->minY, minY), c->maxY = std::fmax(c->maxY, maxY);
        return;
    }
    OverlayGeometry* g = b->g;
    if (!reserve(&g->chunks, &b->chunkCapacity, (u64)g->chunkCount + 1)) {
        b->failed = true;
        b->open = nullptr;
        return;
    }
    c = &g->chunks[g->chunkCount++];
    *c = OverlayChunk{cellCorner(x0), cellCorner(y0), minX, maxX, minY, maxY, firstRecord, 0};
    b->open = c;
}

void addSegment(Builder* b, f64 x0, f64 y0, f64 x1, f64 y1, Color colour, f32 width) {
    if (b->failed || !reserve(&b->segments, &b->segmentCapacity, 4 * ((u64)b->segmentTotal + 1))) {
        b->failed = true;
        return;
    }
    chunkFor(b, b->segmentTotal, x0, y0, std::fmin(x0, x1), std::fmax(x0, x1), std::fmin(y0, y1), std::fmax(y0, y1), 1);
    if (b->failed) return;
    OverlayChunk* c = b->open;
    writeSegmentQuad((f32)(x0 - c->originX), (f32)(y0 - c->originY), (f32)(x1 - c->originX), (f32)(y1 - c->originY), 0,
                     colour, width, &b->segments[4 * (u64)b->segmentTotal++]);
    c->count++;
}

// The overlay's segments as polylines: runs of segments each starting where the one before ended,
// with the same colour and width. Their points are made continuous in x (each within half a turn
// of the one before), which the drawing's wrap of every end makes the same picture.
struct Polylines {
    u32* starts;  // first segment of each run, then the segment count
    u32 count;
};

Polylines findPolylines(const VectorOverlay* o, u32 segments) {
    Polylines p{(u32*)std::malloc(((size_t)segments + 1) * sizeof(u32)), 0};
    if (!p.starts) return p;
    for (u32 i = 0; i < segments; i++) {
        const OverlayLineSegment* s = &o->lineSegments[i];
        const OverlayLineSegment* before = i ? &o->lineSegments[i - 1] : nullptr;
        bool joined = before && before->x1 == s->x0 && before->y1 == s->y0 && before->colour == s->colour &&
                      before->width == s->width;
        if (!joined) p.starts[p.count++] = i;
    }
    p.starts[p.count] = segments;
    return p;
}

// The points of a run, continuous in x.
void runPoints(const VectorOverlay* o, u32 first, u32 end, f64* points) {
    const OverlayLineSegment* s = &o->lineSegments[first];
    points[0] = s->x0;
    points[1] = s->y0;
    u32 n = 1;
    for (u32 i = first; i < end; i++, n++) {
        s = &o->lineSegments[i];
        f64 x = s->x1;
        // The start may have moved by whole turns: the end moves with it.
        x += points[2 * n - 2] - s->x0;
        points[2 * n] = x;
        points[2 * n + 1] = s->y1;
        f64 step = points[2 * n] - points[2 * n - 2];
        if (step > 0.5 || step < -0.5) points[2 * n] -= std::round(step);
    }
}

void closeBand(Builder* b, u32 band, u32 firstSegment, u32 firstChunk) {
    OverlayBand* out = &b->g->bands[band];
    out->segments = nullptr;  // set once the array has stopped moving
    out->segmentCount = b->segmentTotal - firstSegment;
    out->firstChunk = firstChunk;
    out->chunkCount = b->g->chunkCount - firstChunk;
    // Chunks count their records from the start of their band's buffer.
    for (u32 c = firstChunk; c < b->g->chunkCount; c++) b->g->chunks[c].first -= firstSegment;
    b->open = nullptr;
}

void buildLines(Builder* b, const VectorOverlay* o) {
    OverlayGeometry* g = b->g;
    u32 segments = o->lineSegmentCount;
    if (segments == 0) return;
    Polylines runs = findPolylines(o, segments);
    u32 longest = 0;
    for (u32 r = 0; r < runs.count; r++) longest = std::max(longest, runs.starts[r + 1] - runs.starts[r]);
    f64* points = (f64*)std::malloc(((size_t)longest + 1) * 2 * sizeof(f64));
    u32* kept = (u32*)std::malloc(((size_t)longest + 1) * sizeof(u32));
    u32 firstSegments[kOverlayMaxBands];
    if (!runs.starts || !points || !kept) b->failed = true;
    for (u32 band = 0; band < kOverlayMaxBands && !b->failed; band++) {
        u32 firstSegment = b->segmentTotal, firstChunk = g->chunkCount;
        firstSegments[band] = firstSegment;
        i32 largestScale = kOverlayFirstBandLevel + 2 * (i32)band + 2;
        f64 tolerance = kBandTolerancePixels / std::ldexp(1.0, largestScale);
        bool last = band + 1 == kOverlayMaxBands;
        if (!last) {
            b->extent = std::fmax(kChunkExtent, std::ldexp(1.0, 24 - kChunkErrorBits - largestScale));
            for (u32 r = 0; r < runs.count && !b->failed; r++) {
                u32 first = runs.starts[r], end = runs.starts[r + 1];
                runPoints(o, first, end, points);
                u32 n = simplifyPolyline(points, end - first + 1, tolerance, kept);
                const OverlayLineSegment* style = &o->lineSegments[first];
                for (u32 k = 1; k < n; k++) {
                    const f64* a = &points[2 * kept[k - 1]];
                    const f64* z = &points[2 * kept[k]];
                    addSegment(b, a[0], a[1], z[0], z[1], style->colour, style->width);
                }
            }
            // Too little left out to be worth a band of its own: this one is the last.
            last = b->segmentTotal - firstSegment >= kLastBandShare * segments;
            if (last) {
                b->segmentTotal = firstSegment;
                g->chunkCount = firstChunk;
                b->open = nullptr;
            }
        }
        if (last) {
            b->extent = kChunkExtent;
            for (u32 r = 0; r < runs.count && !b->failed; r++) {
                u32 first = runs.starts[r], end = runs.starts[r + 1];
                runPoints(o, first, end, points);
                for (u32 i = first; i < end; i++) {
                    const f64* a = &points[2 * (i - first)];
                    addSegment(b, a[0], a[1], a[2], a[3], o->lineSegments[i].colour, o->lineSegments[i].width);
                }
            }
        }
        closeBand(b, band, firstSegment, firstChunk);
        g->bandCount = band + 1;
        if (last) break;
    }
    if (b->failed) g->bandCount = 0;
    g->segments = b->segments;
    for (u32 band = 0; band < g->bandCount; band++) g->bands[band].segments = b->segments + 4 * (u64)firstSegments[band];
    std::free(runs.starts);
    std::free(points);
    std::free(kept);
}

void buildFills(Builder* b, const VectorOverlay* o) {
    OverlayGeometry* g = b->g;
    u32 triangles = std::min(o->triangleCount, kOverlayMaxTriangles);
    u32 vertices = std::min(o->polygonVertexCount, kOverlayMaxPolygonVertices);
    g->firstFillChunk = g->chunkCount;
    b->open = nullptr;
    b->extent = kChunkExtent;
    for (u32 t = 0; t < triangles && !b->failed; t++) {
        // Polygons without a fill style are triangulated with a transparent colour: nothing to draw.
        if ((o->triangleColours[t] >> 24) == 0) continue;
        const u16* corner = &o->triangles[t * 3];
        if (corner[0] >= vertices || corner[1] >= vertices || corner[2] >= vertices) continue;
        Vec2 v[3] = {o->polygonVertices[corner[0]], o->polygonVertices[corner[1]], o->polygonVertices[corner[2]]};
        // Back faces are culled: every triangle goes round counter-clockwise.
        if ((v[1].x - v[0].x) * (v[2].y - v[0].y) - (v[1].y - v[0].y) * (v[2].x - v[0].x) < 0) std::swap(v[1], v[2]);
        if (!reserve(&g->fills, &b->fillCapacity, (u64)g->fillCount + 3)) {
            b->failed = true;
            break;
        }
        f64 minX = std::fmin(v[0].x, std::fmin(v[1].x, v[2].x)), maxX = std::fmax(v[0].x, std::fmax(v[1].x, v[2].x));
        f64 minY = std::fmin(v[0].y, std::fmin(v[1].y, v[2].y)), maxY = std::fmax(v[0].y, std::fmax(v[1].y, v[2].y));
        chunkFor(b, g->fillCount, v[0].x, v[0].y, minX, maxX, minY, maxY, 3);
        if (b->failed) break;
        OverlayChunk* c = b->open;
        for (i32 k = 0; k < 3; k++) {
            g->fills[g->fillCount++] = FillVertex{(f32)(v[k].x - c->originX), (f32)(v[k].y - c->originY),
                                                  (f32)(v[0].x - c->originX), (i32)o->triangleColours[t]};
        }
        c->count += 3;
    }
    g->fillChunkCount = b->failed ? 0 : g->chunkCount - g->firstFillChunk;
    if (b->failed) g->fillCount = 0;
}

}  // namespace

u32 simplifyPolyline(const f64* p, u32 n, f64 tolerance, u32* kept) {
    if (n == 0) return 0;
    u32 count = 0;
    kept[count++] = 0;
    u32 anchor = 0;
    while (anchor + 1 < n) {
        f64 ax = p[2 * anchor], ay = p[2 * anchor + 1];
        // The directions from the anchor that pass within the tolerance of every point so far: the arc
        // from start to end, counter-clockwise (always less than half a turn).
        bool cone = false;
        f64 startX = 0, startY = 0, endX = 0, endY = 0, farthest = 0;
        u32 last = anchor + 1;
        for (u32 j = anchor + 1; j < n; j++) {
            f64 vx = p[2 * j] - ax, vy = p[2 * j + 1] - ay;
            f64 r = std::sqrt(vx * vx + vy * vy);
            // A point back towards the anchor by more than the tolerance would lie beside the segment.
            if (r + tolerance < farthest) break;
            if (!(r > tolerance)) {
                // Within the tolerance of the anchor: near every segment from it; an end while no
                // point before it was farther.
                if (!cone) last = j;
                continue;
            }
            f64 ux = vx / r, uy = vy / r, s = tolerance / r, c = std::sqrt(1 - s * s);
            f64 fromX = ux * c + uy * s, fromY = uy * c - ux * s;  // u turned clockwise by asin(s)
            f64 toX = ux * c - uy * s, toY = uy * c + ux * s;      // and counter-clockwise
            if (cone) {
                // This point can end the segment only along a direction every point before allows.
                if (startX * uy - startY * ux < 0 || ux * endY - uy * endX < 0) break;
                if (startX * fromY - startY * fromX > 0) startX = fromX, startY = fromY;
                if (toX * endY - toY * endX > 0) endX = toX, endY = toY;
            } else {
                cone = true;
                startX = fromX, startY = fromY, endX = toX, endY = toY;
            }
            // An end nearer the anchor than a point before it would leave that point beyond the
            // segment's end, up to the tolerance along it as well as across.
            if (r >= farthest) last = j;
            farthest = std::fmax(farthest, r);
        }
        kept[count++] = last;
        anchor = last;
    }
    return count;
}

void clearOverlayGeometry(OverlayGeometry* geometry) {
    if (!geometry->taken) {
        std::free(geometry->segments);
        std::free(geometry->chunks);
        std::free(geometry->fills);
    }
    u32 generation = geometry->generation;
    *geometry = OverlayGeometry{};
    geometry->generation = generation;
}

void buildOverlayGeometry(OverlayGeometry* geometry, const VectorOverlay* overlay) {
    clearOverlayGeometry(geometry);
    Builder b{geometry, nullptr, 0, 0, 0, 0, false, nullptr, kChunkExtent};
    buildLines(&b, overlay);
    bool linesFailed = b.failed;
    b.failed = false;
    buildFills(&b, overlay);
    if (linesFailed || b.failed) {
        geometry->message = makeString("Not enough memory to draw all of the overlay");
    }
    geometry->generation++;
}

u32 overlayBandFor(const OverlayGeometry* geometry, f64 pixelsPerUnit) {
    if (geometry->bandCount == 0) return 0;
    i32 exponent = 0;
    std::frexp(pixelsPerUnit, &exponent);  // 2^(exponent - 1) <= pixels per unit < 2^exponent
    i32 band = (exponent - 1 - kOverlayFirstBandLevel) / 2;
    if (exponent - 1 < kOverlayFirstBandLevel || !(pixelsPerUnit > 0)) band = 0;
    if (band >= (i32)geometry->bandCount) band = (i32)geometry->bandCount - 1;
    return (u32)band;
}
