// The GeoTIFF reader's second half: strips and tiles, decompressed and stored within the window.
#include <cstring>

#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Decoders/GeoTiffInternal.h"
#include "Decoders/Lzw.h"

namespace {

const char* const kLzwRegion = "Decompress LZW";
const char* const kTexelRegion = "Read Tiff Texels";

// A compressed strip or tile may need more room than the samples kept; beyond this much (or the
// budget, when larger) the file is refused rather than a huge block taken.
constexpr i64 kMinDecompressionLimit = 64ll << 20;

struct SampleReader {
    ElevationRaster* out;
    TiffBytes* file;
    const TiffImageLayout* layout;
    u64 sampleBytes;  // of one file sample: 2, 4 or 8
    RasterWindow window;
    u8* area;  // decompression area
    i64 areaSize;
    u8* progress;
};

void setProgress(SampleReader* r, u64 index, u64 count) {
    if (r->progress && count) *r->progress = (u8)(index * 100 / count);
}

// Entry `index` of StripOffsets or TileOffsets, by its field type.
FixedString readOffset(SampleReader* r, const TiffOffsetArray* offsets, u64 index, const char* what, u64* offset) {
    i32 size;
    switch (offsets->type) {
        case TiffShort: size = 2; break;
        case TiffLong: size = 4; break;
        case TiffLong8: size = 8; break;
        default: return formatCstrInt("Unsupported @ Offsets Type @", what, offsets->type);
    }
    if (index >= offsets->count) {
        return formatCstrInt("@ Offsets holds too few entries for the image: @", what, (i64)offsets->count);
    }
    *offset = tiffReadUnsigned(r->file, offsets->position + index * (u64)size, size);
    if (r->file->outside) return tiffOutsideMessage(r->file);
    return FixedString{};
}

// Decodes one LZW strip or tile into `room` bytes at `target`: the samples' own place or the
// decompression area. `expected` is the byte count the caller will read.
FixedString decodeLzwBlock(SampleReader* r, u64 offset, i64 expected, u8* target, i64 room) {
    TiffBytes* file = r->file;
    if (offset >= (u64)file->length) {
        return formatIntInt("Strip/tile data at offset @ runs past the end of the file of @ bytes",
                            offset > (u64)INT64_MAX ? INT64_MAX : (i64)offset, file->length);
    }
    ByteWriter writer = makeByteWriter(target, room);
    i64 consumed;
    {
        ProfilingScope scope(kLzwRegion);
        consumed = decodeTiffLzwToFill(file->data + offset, file->length - (i64)offset, &writer);
    }
    if (consumed < 0) return format("Error decompressing LZW");
    if (writer.length < expected) {
        return formatIntInt("Decompressed strip/tile was @ bytes long. Expected @ bytes.", writer.length, expected);
    }
    return FixedString{};
}

// Finds the bytes of one strip or tile: in the file for uncompressed data, else decoded into the
// decompression area. `expected` is the byte count the caller will read.
FixedString locateBlock(SampleReader* r, u64 offset, i64 expected, const u8** data) {
    TiffBytes* file = r->file;
    u64 compression = r->layout->compression;
    if (compression == 1) {
        if (offset > (u64)file->length || (u64)expected > (u64)file->length - offset) {
            return formatIntInt("Strip/tile data at offset @ runs past the end of the file of @ bytes",
                                offset > (u64)INT64_MAX ? INT64_MAX : (i64)offset, file->length);
        }
        *data = file->data + offset;
        return FixedString{};
    }
    if (compression != 5) return formatInt("Unsupported Compression Method @", (i64)compression);
    FixedString message = decodeLzwBlock(r, offset, expected, r->area, r->areaSize);
    *data = r->area;
    return message;
}

inline u32 wordAt(const u8* p, bool bigEndian) {
    if (bigEndian) return (u32)p[0] << 24 | (u32)p[1] << 16 | (u32)p[2] << 8 | p[3];
    return (u32)p[3] << 24 | (u32)p[2] << 16 | (u32)p[1] << 8 | p[0];
}

inline void storeWord(u8* p, u32 word) {
    p[0] = (u8)word;
    p[1] = (u8)(word >> 8);
    p[2] = (u8)(word >> 16);
    p[3] = (u8)(word >> 24);
}

// Stored row or column of a file row or column, -1 when the window leaves it out.
inline i64 storedIndex(u64 fileIndex, i32 first, i32 end, i32 step) {
    if (fileIndex < (u64)first || fileIndex >= (u64)end) return -1;
    u64 delta = fileIndex - (u64)first;
    if (delta % (u64)step) return -1;
    return (i64)(delta / (u64)step);
}

// Stores the kept columns of one strip row, firstColumn, firstColumn + step, .. below endColumn, as
// little-endian words at `target`. The row may be read and stored in place (target at source, the
// whole row kept).
void storeRow(u8* target, const u8* source, const RasterWindow& w, u64 predictor, bool bigEndian) {
    u64 first = (u64)w.firstColumn;
    u64 end = (u64)w.endColumn;
    u64 step = (u64)w.step;
    if (predictor == 2) {
        // Horizontal differencing sums the samples' 32-bit words as integers, left to right.
        u32 running = 0;
        u64 column = 0;
        for (; column < first; column++) running += wordAt(source + column * 4, bigEndian);
        if (step == 1) {
            for (u8* out = target; column < end; column++, out += 4) {
                running += wordAt(source + column * 4, bigEndian);
                storeWord(out, running);
            }
            return;
        }
        u64 nextKept = first;
        u8* out = target;
        for (; column < end; column++) {
            running += wordAt(source + column * 4, bigEndian);
            if (column == nextKept) {
                storeWord(out, running);
                out += 4;
                nextKept += step;
            }
        }
        return;
    }
    if (step == 1 && !bigEndian) {
        if (target != source + first * 4) std::memmove(target, source + first * 4, (end - first) * 4);
        return;
    }
    u8* out = target;
    for (u64 column = first; column < end; column += step, out += 4) storeWord(out, wordAt(source + column * 4, bigEndian));
}

// One file sample of `bytes` bytes, in the file's byte order.
inline u64 rawSample(const u8* p, u64 bytes, bool bigEndian) {
    u64 value = 0;
    if (bigEndian) {
        for (u64 i = 0; i < bytes; i++) value = value << 8 | p[i];
    } else {
        for (u64 i = bytes; i-- > 0;) value = value << 8 | p[i];
    }
    return value;
}

// The float height of a sample that is not a 32-bit float; one equal to the no-data value becomes
// the float no-data value, so it stays missing.
inline f32 heightOf(u64 raw, TiffSampleKind kind, i32 noData) {
    f64 value;
    switch (kind) {
        case TiffSamplesI16: value = (f64)(i16)(u16)raw; break;
        case TiffSamplesU16: value = (f64)(u16)raw; break;
        case TiffSamplesI32: value = (f64)(i32)(u32)raw; break;
        default: std::memcpy(&value, &raw, 8); break;
    }
    return value == (f64)noData ? (f32)noData : (f32)value;
}

// storeRow for samples that are converted to float: 16-bit and 32-bit integers and 64-bit floats.
// Horizontal differencing sums the samples as integers of their own width.
void storeConvertedRow(u8* target, const u8* source, const RasterWindow& w, const TiffImageLayout* l, u64 bytes,
                       bool bigEndian) {
    u64 first = (u64)w.firstColumn;
    u64 end = (u64)w.endColumn;
    u64 step = (u64)w.step;
    u64 mask = bytes == 8 ? ~0ull : (1ull << (bytes * 8)) - 1;
    u8* out = target;
    if (l->predictor == 2) {
        u64 running = 0;
        for (u64 column = 0, nextKept = first; column < end; column++) {
            running = (running + rawSample(source + column * bytes, bytes, bigEndian)) & mask;
            if (column == nextKept) {
                f32 height = heightOf(running, l->samples, l->noData);
                std::memcpy(out, &height, 4);
                out += 4;
                nextKept += step;
            }
        }
        return;
    }
    for (u64 column = first; column < end; column += step, out += 4) {
        f32 height = heightOf(rawSample(source + column * bytes, bytes, bigEndian), l->samples, l->noData);
        std::memcpy(out, &height, 4);
    }
}

// Stores one file row's kept columns as float heights.
void storeAnyRow(SampleReader* r, u8* target, const u8* source) {
    const TiffImageLayout* l = r->layout;
    if (l->samples == TiffSamplesF32) {
        storeRow(target, source, r->window, l->predictor, r->file->bigEndian);
    } else {
        storeConvertedRow(target, source, r->window, l, r->sampleBytes, r->file->bigEndian);
    }
}

FixedString readStrips(SampleReader* r) {
    const TiffImageLayout* l = r->layout;
    const RasterWindow& w = r->window;
    u64 rowsPerStrip = l->rowsPerStrip;
    u64 stripCount = (l->height + rowsPerStrip - 1) / rowsPerStrip;
    u64 firstStrip = (u64)w.firstRow / rowsPerStrip;
    u64 endStrip = ((u64)w.endRow - 1) / rowsPerStrip + 1;
    u64 bytes = r->sampleBytes;
    // Whole rows of float samples kept side by side: a full LZW strip inside the window decodes
    // straight into its place among the samples, then its rows are put in order there.
    bool wholeRows = l->samples == TiffSamplesF32 && l->compression == 5 && w.step == 1 && w.firstColumn == 0 &&
                     (u64)w.endColumn == l->width && (u64)w.rowStride == l->width * 4;
    for (u64 s = firstStrip; s < endStrip && s < stripCount; s++) {
        setProgress(r, s, stripCount);
        u64 offset;
        FixedString message = readOffset(r, &l->stripOffsets, s, "Strip", &offset);
        if (message.length) return message;
        u64 firstFileRow = s * rowsPerStrip;
        u64 rows = l->height - firstFileRow < rowsPerStrip ? l->height - firstFileRow : rowsPerStrip;
        i64 expected = (i64)(rows * l->width * bytes);
        const u8* data;
        if (wholeRows && rows == rowsPerStrip && firstFileRow >= (u64)w.firstRow &&
            firstFileRow + rows <= (u64)w.endRow) {
            u8* place = r->out->samples + (i64)(firstFileRow - (u64)w.firstRow) * (i64)w.rowStride;
            message = decodeLzwBlock(r, offset, expected, place, expected);
            data = place;
        } else {
            message = locateBlock(r, offset, expected, &data);
        }
        if (message.length) return message;
        ProfilingScope scope(kTexelRegion);
        for (u64 row = 0; row < rows; row++) {
            i64 storedRow = storedIndex(firstFileRow + row, w.firstRow, w.endRow, w.step);
            if (storedRow < 0) continue;
            storeAnyRow(r, r->out->samples + storedRow * (i64)w.rowStride, data + row * l->width * bytes);
        }
    }
    return FixedString{};
}

FixedString readTiles(SampleReader* r) {
    const TiffImageLayout* l = r->layout;
    const RasterWindow& w = r->window;
    if (l->predictor == 2) return format("Differencing LZW Predictor is not supported with tiled images");
    u64 across = (l->width + l->tileWidth - 1) / l->tileWidth;
    u64 down = (l->height + l->tileLength - 1) / l->tileLength;
    u64 tileCount = across * down;
    bool bigEndian = r->file->bigEndian;
    u64 bytes = r->sampleBytes;
    bool floats = l->samples == TiffSamplesF32;
    i64 expected = (i64)(l->tileWidth * l->tileLength * bytes);
    u64 firstTileRow = (u64)w.firstRow / l->tileLength;
    u64 endTileRow = ((u64)w.endRow - 1) / l->tileLength + 1;
    u64 firstTileColumn = (u64)w.firstColumn / l->tileWidth;
    u64 endTileColumn = ((u64)w.endColumn - 1) / l->tileWidth + 1;
    for (u64 ty = firstTileRow; ty < endTileRow && ty < down; ty++) {
        for (u64 tx = firstTileColumn; tx < endTileColumn && tx < across; tx++) {
            u64 t = ty * across + tx;
            setProgress(r, t, tileCount);
            u64 offset;
            FixedString message = readOffset(r, &l->tileOffsets, t, "Tile", &offset);
            if (message.length) return message;
            const u8* data;
            message = locateBlock(r, offset, expected, &data);
            if (message.length) return message;
            ProfilingScope scope(kTexelRegion);
            // The kept file columns of this tile: from the first kept one at or after its start, every
            // step-th, below its end, the image's width and the window's end.
            u64 tileStart = tx * l->tileWidth;
            u64 keptEnd = tileStart + l->tileWidth;
            if (keptEnd > l->width) keptEnd = l->width;
            if (keptEnd > (u64)w.endColumn) keptEnd = (u64)w.endColumn;
            u64 keptStored = 0;
            if (tileStart > (u64)w.firstColumn) keptStored = (tileStart - (u64)w.firstColumn + (u64)w.step - 1) / (u64)w.step;
            u64 keptStart = (u64)w.firstColumn + keptStored * (u64)w.step;
            for (u64 row = 0; row < l->tileLength; row++) {
                u64 fileRow = ty * l->tileLength + row;
                if (fileRow >= l->height) break;
                i64 storedRow = storedIndex(fileRow, w.firstRow, w.endRow, w.step);
                if (storedRow < 0) continue;
                u8* target = r->out->samples + storedRow * (i64)w.rowStride;
                const u8* source = data + row * l->tileWidth * bytes;
                if (!floats) {
                    for (u64 fileColumn = keptStart, storedColumn = keptStored; fileColumn < keptEnd;
                         fileColumn += (u64)w.step, storedColumn++) {
                        u64 raw = rawSample(source + (fileColumn - tileStart) * bytes, bytes, bigEndian);
                        f32 height = heightOf(raw, l->samples, l->noData);
                        std::memcpy(target + storedColumn * 4, &height, 4);
                    }
                    continue;
                }
                if (w.step == 1 && !bigEndian) {
                    if (keptStart < keptEnd) {
                        std::memcpy(target + keptStored * 4, source + (keptStart - tileStart) * 4,
                                    (keptEnd - keptStart) * 4);
                    }
                    continue;
                }
                for (u64 fileColumn = keptStart, storedColumn = keptStored; fileColumn < keptEnd;
                     fileColumn += (u64)w.step, storedColumn++)
                    storeWord(target + storedColumn * 4, wordAt(source + (fileColumn - tileStart) * 4, bigEndian));
            }
        }
    }
    return FixedString{};
}

}  // namespace

void readGeoTiffSamples(ElevationRaster* out, TiffBytes* file, const TiffImageLayout* layout,
                        const RasterGeoreference* whole, i64 sampleByteBudget, u32 rowAlignment,
                        const f64* areaOfInterest, u8* progress) {
    TiffImageLayout l = *layout;
    // TIFF's own default: no RowsPerStrip (or 0, or more than the image) means one strip.
    if (l.rowsPerStrip == 0 || l.rowsPerStrip > l.height) l.rowsPerStrip = l.height;
    SampleReader r{};
    r.out = out;
    r.file = file;
    r.layout = &l;
    r.sampleBytes = l.bitsPerSample / 8;
    r.progress = progress;
    setupElevationRasterGeoreference(&r.window, whole, (u32)l.width, (u32)l.height, 4, rowAlignment,
                                     sampleByteBudget, areaOfInterest);
    out->rowStride = r.window.rowStride;
    out->georeference = r.window.georeference;

    // LZW data needs room of its own; uncompressed samples are read where they lie, so a strip or
    // tile that is larger than the file cannot be one.
    u64 blockWidth = l.tileWidth ? l.tileWidth : l.width;
    u64 blockLength = l.tileWidth ? l.tileLength : l.rowsPerStrip;
    i64 limit = sampleByteBudget > kMinDecompressionLimit ? sampleByteBudget : kMinDecompressionLimit;
    if (l.compression == 1) limit = file->length;
    if (blockLength > (u64)limit / r.sampleBytes / blockWidth) {
        if (l.compression == 1) {
            out->error = formatInt("A strip or tile is larger than the file of @ bytes", file->length);
        } else {
            out->error = formatStr("A strip or tile larger than @ can't be decompressed", byteSizeString(limit));
        }
        return;
    }
    i64 areaSize = l.compression == 5 ? (i64)(blockWidth * blockLength * r.sampleBytes) : 0;
    i64 imageSize = (i64)r.window.rowStride * (i64)r.window.height;
    i64 blockSize = imageSize + areaSize;
    u8* block = allocateRasterBlock(blockSize);
    if (!block) {
        out->error = formatStr("Failed to allocate @ of temporary buffer for image and decompression",
                               byteSizeString(blockSize));
        return;
    }
    out->samples = block;
    out->allocationSize = blockSize;
    r.area = block + imageSize;
    r.areaSize = areaSize;

    FixedString message = l.tileWidth == 0 ? readStrips(&r) : readTiles(&r);
    if (message.length) {
        out->error = message;
        return;
    }
    out->width = r.window.width;
    out->height = r.window.height;
    computeElevationImageMinMax(out, out->samples, rowAlignment);
}
