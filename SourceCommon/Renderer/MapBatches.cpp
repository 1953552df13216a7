#include "SourceCommon/Renderer/MapBatches.h"

#include <cmath>

MapIconStamp makeMapIconStamp(const UiState* ui, u32 kind, u32 index, f32 width, i32 anchor, f64 rotationTurns,
                              f32 depth, const Rect& crop) {
    MapIconStamp stamp{};
    u32 imageWidth = 0, imageHeight = 0, format = 0;
    if (!iconImage(ui, kind, index, &imageWidth, &imageHeight, &format) || !(width > 0)) return stamp;
    f32 height = (f32)((f64)width * imageHeight / imageWidth);
    Vec2F32 offset = iconAnchorOffset(anchor, width, height);
    f64 angle = 2 * 3.14159265358979323846 * rotationTurns;
    IconInstance* i = &stamp.instance;
    i->z = depth;
    i->width = width;
    i->height = height;
    i->offsetX = offset.x;
    i->offsetY = offset.y;
    i->cosine = rotationTurns == 0 ? 1.0f : (f32)std::cos(angle);
    i->sine = rotationTurns == 0 ? 0.0f : (f32)std::sin(angle);
    i->crop[0] = crop.x0;
    i->crop[1] = crop.x1;
    i->crop[2] = crop.y0;
    i->crop[3] = crop.y1;
    f32 farX = std::fmax(std::fabs(offset.x), std::fabs(offset.x + width));
    f32 farY = std::fmax(std::fabs(offset.y), std::fabs(offset.y + height));
    stamp.reach = std::sqrt(farX * farX + farY * farY);
    stamp.textureKey = imageTextureKey(kind, index);
    stamp.ready = 1;
    return stamp;
}

void drawMapIcon(Vec2F32 point, f32 depth, i32 anchor, f64 rotationTurns, f32 width, const Rect& crop, u32 kind,
                 u32 index, UiState* ui) {
    MapIconStamp stamp = makeMapIconStamp(ui, kind, index, width, anchor, rotationTurns, depth, crop);
    if (stamp.ready) stampMapIcon(&stamp, point, &ui->batches.mapIcons);
}

void addMapSegment(Vec2F32 a, Vec2F32 b, f32 depth, const Rect& clip, Color color, f32 width,
                   SegmentInstanceBatch* batch) {
    i32 n = batch->count;
    if (n < 0 || n >= kSegmentInstanceCapacity) return;
    SegmentF32 segment = {a.x, a.y, b.x, b.y};
    SegmentF32 clipped;
    i32 count = 0;
    clipSegmentToRect(&segment, clip, &clipped, 1, &count);
    if (count == 0) return;
    batch->instances[n] = SegmentInstance{clipped.x0, clipped.y0, clipped.x1, clipped.y1, depth, (i32)color, width};
    batch->count = n + 1;
}

i32 allocGeometrySlot(const void* data, u64 bytes, GeometrySlotTable* table) {
    for (i32 word = 0; word < kGeometrySlotCount / 64; ++word) {
        u64 bits = table->used[word];
        if (bits == ~u64(0)) continue;
        i32 bit = __builtin_ctzll(~bits);
        table->used[word] = bits | (u64(1) << bit);
        GeometrySlot* slot = &table->slots[word * 64 + bit];
        *slot = GeometrySlot{0, 0, data, bytes};
        return word * 64 + bit + 1;
    }
    return 0;
}

GeometrySlot* getGeometrySlot(GeometrySlotTable* table, i32 id) {
    if (id < 1 || id > kGeometrySlotCount) return nullptr;
    i32 index = id - 1;
    if (!((table->used[index / 64] >> (index % 64)) & 1)) return nullptr;
    return &table->slots[index];
}
