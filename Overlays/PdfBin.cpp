// The ".pdfbin" page cache: writer, reader and the page fitting they share.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "Core/Format.h"
#include "Core/MathEarth.h"
#include "Decoders/Png.h"
#include "Overlays/RasterOverlayLoader.h"

namespace {

f64 mercatorY(f64 latitude) { return std::log(std::tan(latitude * M_PI / 360.0 + M_PI / 4.0)) / (2.0 * M_PI); }

u32 readU32Be(const u8* p) { return (u32)p[0] << 24 | (u32)p[1] << 16 | (u32)p[2] << 8 | (u32)p[3]; }

f64 readF64Be(const u8* p) {
    u64 bits = (u64)readU32Be(p) << 32 | readU32Be(p + 4);
    f64 value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void appendF64Be(f64 value, ByteWriter* writer) {
    u64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    appendU64Be(bits, writer);
}

}  // namespace

void fitImageIntoImage(const u8* source, i32 sourceWidth, i32 sourceHeight, u32 sourceStride, u8* destination,
                       i32 destinationWidth, i32 destinationHeight, i32 destinationStride, i32 channels) {
    if (destinationHeight < 1 || destinationWidth < 1 || sourceWidth < 1 || sourceHeight < 1 || channels < 1 ||
        channels > 4) {
        return;
    }
    const f64 sw = sourceWidth, sh = sourceHeight, dw = destinationWidth, dh = destinationHeight;
    f64 x0 = 0, y0 = 0, columnSpan = sw, rowSpan = sh;
    if (sh * dw <= sw * dh) {
        rowSpan = sw * dh / dw;
        y0 = sh / 2 - rowSpan / 2;
    } else {
        columnSpan = sh * dw / dh;
        x0 = sw / 2 - columnSpan / 2;
    }
    const f64 area = rowSpan * columnSpan / (dw * dh);
    const bool fadeAlpha = channels == 2 || channels == 4;
    for (i32 r = 0; r < destinationHeight; r++) {
        f64 ya = y0 + r * rowSpan / dh, yb = y0 + (r + 1) * rowSpan / dh;
        u8* out = destination + (i64)r * destinationStride;
        for (i32 c = 0; c < destinationWidth; c++) {
            f64 xa = x0 + c * columnSpan / dw, xb = x0 + (c + 1) * columnSpan / dw;
            f64 sums[4] = {0, 0, 0, 0};
            for (i64 sy = (i64)std::floor(ya); (f64)sy < yb; sy++) {
                f64 wy = std::min((f64)sy + 1, yb) - std::max((f64)sy, ya);
                if (wy <= 0) continue;
                i64 row = std::clamp<i64>(sy, 0, sourceHeight - 1);
                const u8* line = source + row * (i64)sourceStride;
                for (i64 sx = (i64)std::floor(xa); (f64)sx < xb; sx++) {
                    f64 wx = std::min((f64)sx + 1, xb) - std::max((f64)sx, xa);
                    if (wx <= 0) continue;
                    const u8* pixel = line + std::clamp<i64>(sx, 0, sourceWidth - 1) * channels;
                    f64 w = wx * wy;
                    for (i32 k = 0; k < 4; k++) sums[k] += w * pixel[k % channels];
                }
            }
            u8* o = out + (i64)c * channels;
            for (i32 k = 0; k < channels; k++) {
                // Up to the next integer; rounding noise just above a whole value does not count.
                f64 value = std::ceil(sums[k] / area - 1e-7);
                o[k] = (u8)std::clamp(value, 0.0, 255.0);
            }
            if (fadeAlpha) {
                f64 inside = std::max(0.0, std::min(xb, sw) - std::max(xa, 0.0)) *
                             std::max(0.0, std::min(yb, sh) - std::max(ya, 0.0)) / area;
                f64 alpha = std::ceil(o[channels - 1] * inside - 1e-7);
                o[channels - 1] = (u8)std::clamp(alpha, 0.0, 255.0);
            }
        }
    }
}

void choosePdfBinThumbnailSize(u32 width, u32 height, u32* thumbnailWidth, u32* thumbnailHeight) {
    *thumbnailWidth = 0;
    *thumbnailHeight = 0;
    if (width == 0 || height == 0) return;
    i64 tw = (i64)std::ceil(std::sqrt((65536.0 * width + height - 1) / (f64)height));
    i64 th = (tw * (i64)height + width / 2) / width;
    while (tw > 1 && tw * 4 * th > (i64)kPdfBinThumbnailBytes) {
        tw--;
        th = (tw * (i64)height + width / 2) / width;
    }
    if (th < 1) th = 1;
    *thumbnailWidth = (u32)tw;
    *thumbnailHeight = (u32)th;
}

FixedString writePdfBin(ByteWriter* writer, FixedString sourceName, u32 page, u64 modifiedMs1970,
                        const PdfPageGeo* grid, const u8* rgba, u32 width, u32 height) {
    appendU32Be(sourceName.length, writer);
    appendBytes(sourceName.text, sourceName.length, writer);
    appendU32Be(page, writer);
    appendU64Be(modifiedMs1970, writer);
    u32 columns = grid->columns, rows = grid->rows;
    const u32 corners[4] = {(rows - 1) * columns, 0, columns - 1, rows * columns - 1};
    for (u32 corner : corners) {
        f64 x = grid->points[corner][0], y = grid->points[corner][1];
        while (x > 0.5) x -= 1;
        while (x < -0.5) x += 1;
        appendF64Be((std::atan(std::exp(2 * M_PI * y)) - M_PI / 4) * 360 / M_PI, writer);
        appendF64Be(360 * x, writer);
    }
    FixedString failure{};
    u32 tw = 0, th = 0;
    choosePdfBinThumbnailSize(width, height, &tw, &th);
    u8* thumbnail = new (std::nothrow) u8[kPdfBinThumbnailBytes];
    if (!thumbnail) return makeString("Out of memory");
    fitImageIntoImage(rgba, (i32)width, (i32)height, width * 4, thumbnail, (i32)tw, (i32)th, (i32)tw * 4, 4);
    LengthFieldMark mark = reserveLengthField(writer, LengthFieldU32Be);
    encodePng(&failure, thumbnail, (i32)tw, th, 4, 4, 3, writer);
    patchLengthField(&mark, (u64)(writer->length - mark.position));
    delete[] thumbnail;
    if (failure.length) return failure;
    mark = reserveLengthField(writer, LengthFieldU32Be);
    encodePng(&failure, rgba, (i32)width, height, 4, 4, 3, writer);
    patchLengthField(&mark, (u64)(writer->length - mark.position));
    return failure;
}

FixedString readPdfBin(const u8* bytes, u64 size, FixedString name, PdfPageGeo* grid, u8* pixels, u64 capacity,
                       u8* scratch, u64 scratchCapacity, u32* width, u32* height) {
    if (size < 80) return formatStr("@ is too small to be a .pdfbin file", name);
    u64 n = readU32Be(bytes);
    if (size < n + 80) return formatStr("@ ended before we got to the lat/lngs", name);
    Vec2 corners[4];
    for (u32 k = 0; k < 4; k++) {
        const u8* at = bytes + n + 16 + 16 * k;
        f64 latitude = readF64Be(at), longitude = readF64Be(at + 8);
        corners[k] = Vec2{wrapLongitudeTurns(longitude, k == 0 ? 0.0 : corners[0].x), mercatorY(latitude)};
    }
    FixedString degenerate = formatStr("@ has a degenerate georeference", name);
    Vec2 square[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    Transformation fit;
    createProjectiveTransformation(&fit, &square[0], &square[1], &square[2], &square[3], &corners[1], &corners[2],
                                   &corners[3], &corners[0]);
    auto map = [&](f64 u, f64 v) {
        Vec2 at{u, v}, out;
        applyProjectiveTransformation(&out, &at, &fit);
        return out;
    };
    Vec2 top = map(0.5, 0), bottom = map(0.5, 1), left = map(0, 0.5), right = map(1, 0.5);
    f64 ratio = std::hypot(top.x - bottom.x, top.y - bottom.y) / std::hypot(left.x - right.x, left.y - right.y);
    u32 columns = 0, rows = 0;
    if (fit.forwardSingular || !choosePdfGrid(ratio, 1, &columns, &rows)) return degenerate;
    PdfPageGeo built{};
    built.columns = columns;
    built.rows = rows;
    for (u32 j = 0; j < rows; j++) {
        for (u32 i = 0; i < columns; i++) {
            Vec2 point = map((f64)i / (columns - 1), (f64)j / (rows - 1));
            if (!std::isfinite(point.x) || !std::isfinite(point.y)) return degenerate;
            built.points[j * columns + i][0] = point.x;
            built.points[j * columns + i][1] = point.y;
        }
    }
    if (size < n + 84) return formatStr("@ ended before we got to the image", name);
    u64 m = readU32Be(bytes + n + 80);
    if (size < n + m + 88) return formatStr("@ ended before we got to the image", name);
    u64 p = readU32Be(bytes + n + m + 84);
    if (n + m + 88 + p != size) return formatStr("@ ended before the end of the image data", name);
    if (!scratch) return makeString("Failed to allocate scratch memory for png parsing");
    ImageResult image{};
    parsePng(&image, bytes + n + m + 88, (i64)p, pixels, (i64)capacity, 3, 4, scratch, (i64)scratchCapacity);
    if (image.error.length) return formatStr("Failed to parse png: @", image.error);
    *grid = built;
    *width = image.width;
    *height = image.height;
    return FixedString{};
}
