#include "SourceCommon/Renderer/MapBatches.h"

#include <cmath>

MapIconStamp makeMapIconStamp(UiState* ui, u32 kind, u32 index, f32 width, i32 anchor, f64 rotationTurns, f32 depth,
                              const Rect& crop) {
    MapIconStamp stamp{};
    u32 imageWidth = 0, imageHeight = 0, format = 0;
    if (!iconImage(ui, kind, index, &imageWidth, &imageHeight, &format) || !(width > 0)) return stamp;
    IconBatch* batch = &ui->batches.mapIcons;
    i32 c = 0;
    while (c < batch->cropCount && !(batch->crops[c].x0 == crop.x0 && batch->crops[c].x1 == crop.x1 &&
                                     batch->crops[c].y0 == crop.y0 && batch->crops[c].y1 == crop.y1)) {
        c++;
    }
    if (c == batch->cropCount) {
        if (c >= kMapIconCrops) return stamp;
        batch->crops[batch->cropCount++] = crop;
    }
    f32 height = (f32)((f64)width * imageHeight / imageWidth);
    Vec2F32 offset = iconAnchorOffset(anchor, width, height);
    f64 angle = 2 * 3.14159265358979323846 * rotationTurns;
    f32 cosine = rotationTurns == 0 ? 1.0f : (f32)std::cos(angle);
    f32 sine = rotationTurns == 0 ? 0.0f : (f32)std::sin(angle);
    stamp.inverseHalfWidth = ui->halfWidth > 0 ? 1 / ui->halfWidth : 0;
    stamp.inverseHalfHeight = ui->halfHeight > 0 ? 1 / ui->halfHeight : 0;
    // Counter-clockwise from the bottom-left, as the quad indices make two triangles of them; image
    // rows run top to bottom.
    const f32 across[4] = {0, 1, 1, 0}, up[4] = {0, 0, 1, 1};
    f32 reach = 0;
    for (i32 k = 0; k < 4; k++) {
        f32 x = offset.x + across[k] * width, y = offset.y + up[k] * height;
        f32 turnedX = x * cosine - y * sine, turnedY = x * sine + y * cosine;
        stamp.corners[k] = IconVertex{turnedX * stamp.inverseHalfWidth, turnedY * stamp.inverseHalfHeight, depth,
                                      across[k], 1 - up[k]};
        reach = std::fmax(reach, std::sqrt(x * x + y * y));
    }
    stamp.reach = reach;
    stamp.bounds = crop;
    stamp.crop = (u8)c;
    stamp.textureKey = imageTextureKey(kind, index);
    stamp.ready = 1;
    return stamp;
}

void drawMapIcon(Vec2F32 point, f32 depth, i32 anchor, f64 rotationTurns, f32 width, const Rect& crop, u32 kind,
                 u32 index, UiState* ui) {
    MapIconStamp stamp = makeMapIconStamp(ui, kind, index, width, anchor, rotationTurns, depth, crop);
    if (stamp.ready) stampMapIcon(&stamp, point, &ui->batches.mapIcons);
}

void writeSegmentQuad(f32 x0, f32 y0, f32 x1, f32 y1, f32 depth, Color color, f32 width, SegmentVertex* out) {
    out[0] = SegmentVertex{x0, y0, x1, y1, depth, (i32)color, -width};
    out[1] = SegmentVertex{x1, y1, x0, y0, depth, (i32)color, width};
    out[2] = SegmentVertex{x1, y1, x0, y0, depth, (i32)color, -width};
    out[3] = SegmentVertex{x0, y0, x1, y1, depth, (i32)color, width};
}

void addMapSegment(Vec2F32 a, Vec2F32 b, f32 depth, const Rect& clip, Color color, f32 width, SegmentBatch* batch) {
    i32 n = batch->count;
    if (n < 0 || n >= kMapSegmentCapacity) return;
    SegmentF32 segment = {a.x, a.y, b.x, b.y};
    SegmentF32 clipped;
    i32 count = 0;
    clipSegmentToRect(&segment, clip, &clipped, 1, &count);
    if (count == 0) return;
    writeSegmentQuad(clipped.x0, clipped.y0, clipped.x1, clipped.y1, depth, color, width, &batch->vertices[4 * n]);
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
