// A vector overlay's lines and polygons made ready for the GPU once, when the overlay is loaded, and
// drawn every frame from there: the lines once per zoom band, each band's polylines simplified to
// within a quarter pixel at the band's largest scale, so that a zoomed-out view of a million points
// draws the few thousand segments that can be told apart, and the finest bands the segments as they
// are; the triangles as they are. Every band is cut into chunks of nearby records, each placed
// relative to its own origin (positions on the GPU are 32-bit floats), so that a frame draws only
// the chunks in view, each moved into place by the draw's uniforms.
#pragma once
#include "Core/FixedString.h"
#include "SourceCommon/Renderer/DrawBatches.h"

struct VectorOverlay;

// Band b holds the lines for views of 2^(kOverlayFirstBandLevel + 2b) to 2^(kOverlayFirstBandLevel +
// 2b + 2) pixels a turn; the first takes every smaller scale, the last every larger one.
constexpr i32 kOverlayFirstBandLevel = 10;
constexpr u32 kOverlayMaxBands = 11;
// Records a chunk holds at most.
constexpr u32 kOverlayChunkRecords = 16384;

struct OverlayChunk {
    f64 originX, originY;            // turns; the chunk's records are relative to it
    f64 minX, maxX, minY, maxY;      // the box of its records, turns (x not wrapped)
    u32 first, count;                // records of its band's buffer (segments) or of the fill buffer (vertices)
};

struct OverlayBand {
    SegmentVertex* segments;  // four a segment, within the geometry's segments
    u32 segmentCount;
    u32 firstChunk, chunkCount;  // into the geometry's chunks
};

// Written by buildOverlayGeometry on the worker; the main thread takes the memory over (taken = 1)
// when it hands the buffers to the renderer, and frees it when the overlay changes. A build frees
// memory that was never taken.
struct OverlayGeometry {
    u32 generation;  // raised by every build
    u32 taken;
    u32 bandCount;  // 0: no lines
    OverlayBand bands[kOverlayMaxBands];
    SegmentVertex* segments;  // four a segment, of every band one after another
    OverlayChunk* chunks;  // of every band, then of the fills
    u32 chunkCount;
    FillVertex* fills;  // three a triangle
    u32 fillCount;
    u32 firstFillChunk, fillChunkCount;
    FixedString message;  // why the geometry could not be made (memory), else empty
};

// Builds the geometry of an overlay (on the worker, while nothing draws the overlay).
void buildOverlayGeometry(OverlayGeometry* geometry, const VectorOverlay* overlay);
// Frees the memory of a geometry nobody took; a taken one belongs to its taker.
void clearOverlayGeometry(OverlayGeometry* geometry);

// The band for a view's scale (pixels a turn).
u32 overlayBandFor(const OverlayGeometry* geometry, f64 pixelsPerUnit);

// The simplification of one polyline (points as x, y pairs, n of them) to within a tolerance:
// writes the indices of the points kept (the first and last always) and returns how many. Every
// point left out lies within the tolerance of the segment between the kept points around it.
u32 simplifyPolyline(const f64* points, u32 n, f64 tolerance, u32* kept);
