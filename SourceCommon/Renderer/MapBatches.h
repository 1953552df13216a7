// The writers of the map batches: icons placed on a map (drops, markers, the home and the overlay's
// icons) and segments in window pixels, large enough for everything in view; and the geometry slots
// through which retained map geometry reaches the GPU.
#pragma once
#include "SourceCommon/Renderer/Icons.h"
#include "SourceCommon/Renderer/Shapes.h"

// One image made ready for many points: its texture key, crop, depth and the four corners' places
// from the point (turned) in clip units.
struct MapIconStamp {
    u16 textureKey;
    u8 crop;    // into the batch's crop rectangles
    u8 ready;   // 0 while the image has no size (or the batch has no room for another crop): nothing is drawn
    f32 reach;  // how far the image reaches from its point, pixels
    Rect bounds;  // the crop rectangle
    f32 inverseHalfWidth, inverseHalfHeight;  // window pixels to clip units
    IconVertex corners[4];  // x and y from the point, in clip units
};

// kind: ImageKindAsset with an asset index, or ImageKindSlot with a slot id; width in pixels (the
// height follows the image's aspect ratio); rotationTurns counter-clockwise. The crop joins the
// frame's map icon batch.
MapIconStamp makeMapIconStamp(UiState* ui, u32 kind, u32 index, f32 width, i32 anchor, f64 rotationTurns, f32 depth,
                              const Rect& crop);

// Adds the stamp at a point (window pixels) after those already in the batch, so that it lies over
// them at equal depth. An icon wholly outside its crop, or a full batch, adds nothing.
inline void stampMapIcon(const MapIconStamp* stamp, Vec2F32 point, IconBatch* batch) {
    const Rect& b = stamp->bounds;
    if (!(point.x + stamp->reach >= b.x0 && point.x - stamp->reach <= b.x1 && point.y + stamp->reach >= b.y0 &&
          point.y - stamp->reach <= b.y1)) {
        return;
    }
    i32 n = batch->count;
    if (n < 0 || n >= kMapIconCapacity) return;
    f32 x = point.x * stamp->inverseHalfWidth - 1, y = point.y * stamp->inverseHalfHeight - 1;
    IconVertex* out = &batch->vertices[4 * n];
    for (i32 k = 0; k < 4; k++) {
        out[k] = stamp->corners[k];
        out[k].x += x;
        out[k].y += y;
    }
    batch->textureKey[n] = stamp->textureKey;
    batch->crop[n] = stamp->crop;
    batch->count = n + 1;
}

// One icon: makeMapIconStamp, then stampMapIcon into the frame's map icon batch.
void drawMapIcon(Vec2F32 point, f32 depth, i32 anchor, f64 rotationTurns, f32 width, const Rect& crop, u32 kind,
                 u32 index, UiState* ui);

// A segment in window pixels whose centre line is cut to the clip rectangle (as addLine cuts it),
// after those already in the batch; width in pixels. A full batch adds nothing.
void addMapSegment(Vec2F32 a, Vec2F32 b, f32 depth, const Rect& clip, Color color, f32 width, SegmentBatch* batch);
// The four corners of a segment's quad as the map_line program takes them (ends in whatever units
// the draw places), into out[0..3].
void writeSegmentQuad(f32 x0, f32 y0, f32 x1, f32 y1, f32 depth, Color color, f32 width, SegmentVertex* out);

// Claims the lowest free geometry slot for bytes that stay valid until its buffer is made (its
// `buffer` turns non-zero); returns its id, or 0 when all are in use.
i32 allocGeometrySlot(const void* data, u64 bytes, GeometrySlotTable* table);
// The slot of an id in use, or null.
GeometrySlot* getGeometrySlot(GeometrySlotTable* table, i32 id);
