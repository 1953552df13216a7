// The writers of the map batches: icons placed on a map (drops, markers, the home and the overlay's
// icons) and segments in window pixels, drawn as instances so that everything in view fits; and the
// geometry slots through which retained map geometry reaches the GPU.
#pragma once
#include "SourceCommon/Renderer/Icons.h"
#include "SourceCommon/Renderer/Shapes.h"

// One image made ready for many points: its texture key, size, anchor, turn, depth and crop.
struct MapIconStamp {
    u16 textureKey;
    u16 ready;  // 0 while the image has no size: nothing is drawn
    f32 reach;  // how far the image reaches from its point, pixels
    IconInstance instance;  // everything but the point
};

// kind: ImageKindAsset with an asset index, or ImageKindSlot with a slot id; width in pixels (the
// height follows the image's aspect ratio); rotationTurns counter-clockwise.
MapIconStamp makeMapIconStamp(const UiState* ui, u32 kind, u32 index, f32 width, i32 anchor, f64 rotationTurns,
                              f32 depth, const Rect& crop);

// Adds the stamp at a point (window pixels) after those already in the batch, so that it lies over
// them at equal depth. An icon wholly outside its crop, or a full batch, adds nothing.
inline void stampMapIcon(const MapIconStamp* stamp, Vec2F32 point, IconInstanceBatch* batch) {
    const f32* crop = stamp->instance.crop;
    if (!(point.x + stamp->reach >= crop[0] && point.x - stamp->reach <= crop[1] && point.y + stamp->reach >= crop[2] &&
          point.y - stamp->reach <= crop[3])) {
        return;
    }
    i32 n = batch->count;
    if (n < 0 || n >= kIconInstanceCapacity) return;
    IconInstance* out = &batch->instances[n];
    *out = stamp->instance;
    out->x = point.x;
    out->y = point.y;
    batch->textureKey[n] = stamp->textureKey;
    batch->count = n + 1;
}

// One icon: makeMapIconStamp, then stampMapIcon into the frame's map icon batch.
void drawMapIcon(Vec2F32 point, f32 depth, i32 anchor, f64 rotationTurns, f32 width, const Rect& crop, u32 kind,
                 u32 index, UiState* ui);

// A segment in window pixels whose centre line is cut to the clip rectangle (as addLine cuts it),
// after those already in the batch; width in pixels. A full batch adds nothing.
void addMapSegment(Vec2F32 a, Vec2F32 b, f32 depth, const Rect& clip, Color color, f32 width,
                   SegmentInstanceBatch* batch);

// Claims the lowest free geometry slot for bytes that stay valid until its buffer is made (its
// `buffer` turns non-zero); returns its id, or 0 when all are in use.
i32 allocGeometrySlot(const void* data, u64 bytes, GeometrySlotTable* table);
// The slot of an id in use, or null.
GeometrySlot* getGeometrySlot(GeometrySlotTable* table, i32 id);
