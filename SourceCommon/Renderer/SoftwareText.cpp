#include "SourceCommon/Renderer/SoftwareText.h"

#include <cmath>

namespace {

i32 clampIndex(i32 value, i32 count) { return value < 0 ? 0 : value >= count ? count - 1 : value; }

// Nearest integer, halves away from zero, held to [low, high].
i32 roundClamped(f32 value, i32 low, i32 high) {
    if (!(value > (f32)low)) return low;
    if (!(value < (f32)high)) return high;
    return (i32)std::lround(value);
}

f32 channelOf(const u8* texel, i32 channels, i32 c) { return c < channels ? (f32)texel[c] : 0; }

}  // namespace

ImageSample resampleImageRows(f32 x, f32 y, const u8* pixels, i32 columnCount, i32 rowCount, i32 rowStride,
                              i32 channels) {
    ImageSample result = {0, 0, 0, 255};
    if (!pixels || columnCount <= 0 || rowCount <= 0 || channels <= 0) return result;
    if (!(x > -1.0e9f && x < 1.0e9f && y > -1.0e9f && y < 1.0e9f)) return result;
    f32 left = std::floor(x - 0.5f), below = std::floor(y - 0.5f);
    f32 fx = x - left - 0.5f, fy = y - below - 0.5f;
    i32 x0 = (i32)left, y0 = (i32)below;
    i32 columns[2] = {clampIndex(x0, columnCount), clampIndex(x0 + 1, columnCount)};
    i32 rows[2] = {clampIndex(y0, rowCount), clampIndex(y0 + 1, rowCount)};
    f32 weights[2][2] = {{(1 - fx) * (1 - fy), fx * (1 - fy)}, {(1 - fx) * fy, fx * fy}};
    f32 sums[4] = {0, 0, 0, 0};
    i32 used = channels < 4 ? channels : 4;
    for (i32 j = 0; j < 2; ++j) {
        const u8* row = pixels + (i64)(rowCount - 1 - rows[j]) * rowStride;
        for (i32 i = 0; i < 2; ++i) {
            const u8* texel = row + (i64)columns[i] * channels;
            for (i32 c = 0; c < used; ++c) sums[c] += weights[j][i] * channelOf(texel, channels, c);
        }
    }
    switch (used) {
    case 1: result = {sums[0], sums[0], sums[0], 255}; break;
    case 2: result = {sums[0], sums[0], sums[0], sums[1]}; break;
    case 3: result = {sums[0], sums[1], sums[2], 255}; break;
    default: result = {sums[0], sums[1], sums[2], sums[3]}; break;
    }
    return result;
}

void rasterizeSdfText(const SdfBatch* quads, u8* pixels, i32 width, i32 height, i32 rowStride,
                      const SoftwareTextSource& source) {
    const ImageResult* atlas = source.atlas;
    const FontRecord* font = source.font;
    if (!quads || !pixels || width <= 0 || height <= 0 || !atlas || !atlas->pixels || !font) return;
    if (atlas->width == 0 || atlas->height == 0 || font->onEdgeValue == 0) return;
    i32 count = quads->quadCount < 0 ? 0 : quads->quadCount > kSdfQuadCapacity ? kSdfQuadCapacity : quads->quadCount;
    f32 onEdge = font->onEdgeValue, fallOff = font->fallOffTexels;
    f32 atlasWidth = (f32)atlas->width, atlasHeight = (f32)atlas->height;
    for (i32 q = 0; q < count; ++q) {
        const SdfVertex* bottomLeft = &quads->vertices[4 * q + 1];
        const SdfVertex* topRight = &quads->vertices[4 * q + 3];
        f32 left = (bottomLeft->x + 1) * source.halfWindowWidth;
        f32 right = (topRight->x + 1) * source.halfWindowWidth;
        f32 bottom = (bottomLeft->y + 1) * source.halfWindowHeight;
        f32 top = (topRight->y + 1) * source.halfWindowHeight;
        if (!(right > left && top > bottom)) continue;
        f32 rowBottom = (1 - bottomLeft->v) * atlasHeight, rowTop = (1 - topRight->v) * atlasHeight;
        f32 columnLeft = bottomLeft->u * atlasWidth, columnRight = topRight->u * atlasWidth;
        f32 pixelsPerTexel = bottomLeft->pixelsPerTexel;
        f32 extraThickness = bottomLeft->extraThickness;
        f32 outlineWidth = bottomLeft->outlineWidth;
        // Pixels whose centres lie inside the box.
        i32 x0 = roundClamped(left, 0, width), x1 = roundClamped(right, 0, width);
        i32 y0 = roundClamped(bottom, 0, height), y1 = roundClamped(top, 0, height);
        for (i32 y = y0; y < y1; ++y) {
            f32 fy = ((f32)y + 0.5f - bottom) / (top - bottom);
            u8* row = pixels + (i64)(height - 1 - y) * rowStride;
            for (i32 x = x0; x < x1; ++x) {
                f32 fx = ((f32)x + 0.5f - left) / (right - left);
                ImageSample sample = resampleImageRows(columnLeft + fx * (columnRight - columnLeft),
                                                       rowBottom + fy * (rowTop - rowBottom), atlas->pixels,
                                                       (i32)atlas->width, (i32)atlas->height, (i32)atlas->rowStride,
                                                       1);
                f32 d = (sample.red - onEdge) * fallOff / onEdge * pixelsPerTexel + extraThickness;
                f32 o = outlineWidth;
                if (!(d >= -o - 0.5f)) continue;  // beyond the outline, or a vertex that holds no numbers
                f32 mark = std::fmax(std::fmax(d + 0.5f, 0.0f) - std::fmax(d - 0.5f, 0.0f), 0.0f);
                f32 outline = std::fmax(std::fmin(d + 0.5f, 0.0f) - std::fmax(d - 0.5f, -o), 0.0f);
                f32 background = std::fmax(std::fmin(d + 0.5f, -o) - std::fmin(d - 0.5f, -o), 0.0f);
                f32 sum = mark + outline + background;
                if (!(sum > 0)) continue;
                mark /= sum;
                outline /= sum;
                background /= sum;
                u8* target = row + (i64)x * 4;
                for (i32 c = 0; c < 4; ++c) {
                    f32 value = bottomLeft->mark[c] * 255 * mark + bottomLeft->outline[c] * 255 * outline +
                                target[c] * background;
                    target[c] = (u8)(value > 0 ? (value < 255 ? value : 255) : 0);
                }
            }
        }
    }
}
