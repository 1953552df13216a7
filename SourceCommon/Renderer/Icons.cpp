#include "SourceCommon/Renderer/Icons.h"

#include <cmath>

bool iconImage(const UiState* ui, u32 kind, u32 index, u32* width, u32* height, u32* format) {
    *format = ImageFormatRgba;
    if (kind == ImageKindAsset) {
        if (index >= (u32)kImageAssetCount) return false;
        const ImageAsset* asset = &ui->assets[index];
        if (asset->image.error.length != 0) return false;
        *width = asset->image.width;
        *height = asset->image.height;
    } else if (kind == ImageKindSlot) {
        const ImageSlot* slot = getImageSlot((ImageSlotTable*)&ui->imageSlots, (i32)index);
        if (!slot) return false;
        *width = slot->width;
        *height = slot->height;
        *format = slot->format;
    } else {
        return false;
    }
    return *width > 0 && *height > 0;
}

Vec2F32 iconAnchorOffset(i32 anchor, f32 w, f32 h) {
    switch (anchor) {
    case 0: return {-w, 0};
    case 1: return {-w / 2, 0};
    case 3: return {0, -h / 2};
    case 4: return {0, -h};
    case 5: return {-w / 2, -h};
    case 6: return {-w, -h};
    case 7: return {-w, -h / 2};
    case 8: return {-w / 2, -h / 2};
    default: return {0, 0};
    }
}

void drawIconAt(Vec2F32 point, f32 depth, i32 anchor, f64 rotationTurns, f32 width, const Rect& clipRect, u32 kind,
                u32 index, Textured2dBatch* batch, UiState* ui) {
    u32 imageWidth = 0, imageHeight = 0, format = ImageFormatRgba;
    if (!iconImage(ui, kind, index, &imageWidth, &imageHeight, &format) || !(width > 0)) return;
    f32 w = width;
    f32 h = (f32)((f64)width * imageHeight / imageWidth);
    Vec2F32 offset = iconAnchorOffset(anchor, w, h);
    f32 offsetX = offset.x, offsetY = offset.y;
    f64 angle = 2 * 3.14159265358979323846 * rotationTurns;
    f64 c = std::cos(angle), s = std::sin(angle);
    auto place = [&](f32 x, f32 y) {
        return Vec2F32{(f32)(x * c - y * s) + point.x, (f32)(x * s + y * c) + point.y};
    };
    Vec2F32 topLeft = place(offsetX, offsetY + h);
    Vec2F32 bottomLeft = place(offsetX, offsetY);
    Vec2F32 bottomRight = place(offsetX + w, offsetY);
    Vec2F32 topRight = place(offsetX + w, offsetY + h);
    addTexturedQuadClipped(kind, index, format, (f32)imageWidth, (f32)imageHeight, topLeft, bottomLeft, bottomRight,
                           topRight, {0, 0}, {0, 1}, {1, 1}, {1, 0}, clipRect, depth, ui->halfWidth, ui->halfHeight,
                           batch, 0);
}
