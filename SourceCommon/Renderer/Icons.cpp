#include "SourceCommon/Renderer/Icons.h"

#include <cmath>

void drawIconAt(Vec2F32 point, f32 depth, i32 anchor, f64 rotationTurns, f32 width, const Rect& clipRect, u32 kind,
                u32 index, Textured2dBatch* batch, UiState* ui) {
    u32 imageWidth = 0, imageHeight = 0, format = ImageFormatRgba;
    if (kind == ImageKindAsset) {
        if (index >= (u32)kImageAssetCount) return;
        const ImageAsset* asset = &ui->assets[index];
        if (asset->image.error.length != 0) return;
        imageWidth = asset->image.width;
        imageHeight = asset->image.height;
    } else if (kind == ImageKindSlot) {
        const ImageSlot* slot = getImageSlot(&ui->imageSlots, (i32)index);
        if (!slot) return;
        imageWidth = slot->width;
        imageHeight = slot->height;
        format = slot->format;
    } else {
        return;
    }
    if (imageWidth == 0 || imageHeight == 0 || !(width > 0)) return;
    f32 w = width;
    f32 h = (f32)((f64)width * imageHeight / imageWidth);
    f32 offsetX, offsetY;
    switch (anchor) {
    case 0: offsetX = -w, offsetY = 0; break;
    case 1: offsetX = -w / 2, offsetY = 0; break;
    case 3: offsetX = 0, offsetY = -h / 2; break;
    case 4: offsetX = 0, offsetY = -h; break;
    case 5: offsetX = -w / 2, offsetY = -h; break;
    case 6: offsetX = -w, offsetY = -h; break;
    case 7: offsetX = -w, offsetY = -h / 2; break;
    case 8: offsetX = -w / 2, offsetY = -h / 2; break;
    default: offsetX = 0, offsetY = 0; break;
    }
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
