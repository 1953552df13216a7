// PNG reading: chunk walk with CRC-32 checks, the zlib stream inflated across IDAT chunks into the
// caller's scratch and checked against its Adler-32, then row unfiltering and conversion to the
// channel count the caller asks for.
#include "Decoders/Png.h"

#include <cstring>

#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Decoders/Checksum.h"
#include "Decoders/Inflate.h"

namespace {

constexpr u8 kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr u32 kChunkIhdr = 0x49484452u;
constexpr u32 kChunkPlte = 0x504C5445u;
constexpr u32 kChunkTrns = 0x74524E53u;
constexpr u32 kChunkIdat = 0x49444154u;

inline u32 readU32Be(const u8* p) { return (u32(p[0]) << 24) | (u32(p[1]) << 16) | (u32(p[2]) << 8) | u32(p[3]); }

// The chunk type as its four letters when they are letters, else as 8 hexadecimal digits.
FixedString chunkName(u32 type) {
    u8 letters[4] = {u8(type >> 24), u8(type >> 16), u8(type >> 8), u8(type)};
    for (u8 c : letters)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return formatHex("@", type, 8);
    return stringFromBytes(letters, 4);
}

bool bitDepthAllowed(u32 colorType, u32 depth) {
    switch (colorType) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    default: return depth == 8 || depth == 16;
    }
}

struct PngInfo {
    u32 colorType;
    u32 bitDepth;
    u32 imageChannels;
    bool isPalette;
    bool haveTransparency;
    u32 paletteCount;
    i32 idatCount;
    u8 palette[256][3];
    u8 paletteAlpha[256];
};

// The Paeth predictor without branches: |p - a| = |b - c|, |p - b| = |a - c|, |p - c| = |a + b - 2c|;
// ties prefer a, then b.
inline u8 paeth(i32 a, i32 b, i32 c) {
    i32 pa = b - c;
    i32 pb = a - c;
    i32 pc = pa + pb;
    pa = pa < 0 ? -pa : pa;
    pb = pb < 0 ? -pb : pb;
    pc = pc < 0 ? -pc : pc;
    i32 bc = pb <= pc ? b : c;
    return u8(pa <= pb && pa <= pc ? a : bc);
}

// Undoes one row's filter in place; prev is the unfiltered row above, or null for the first row.
// Offset is the filter's byte distance to the left; the per-pixel loops are unrolled for each offset.
template <i64 Offset>
bool unfilterRowFixed(u8 type, u8* row, const u8* prev, i64 count) {
    switch (type) {
    case 0: return true;
    case 1:
        for (i64 i = Offset; i < count; i++) row[i] = u8(row[i] + row[i - Offset]);
        return true;
    case 2:
        if (prev)
            for (i64 i = 0; i < count; i++) row[i] = u8(row[i] + prev[i]);
        return true;
    case 3:
        if (prev) {
            for (i64 i = 0; i < Offset && i < count; i++) row[i] = u8(row[i] + (prev[i] >> 1));
            for (i64 i = Offset; i < count; i++) row[i] = u8(row[i] + ((row[i - Offset] + prev[i]) >> 1));
        } else {
            for (i64 i = Offset; i < count; i++) row[i] = u8(row[i] + (row[i - Offset] >> 1));
        }
        return true;
    case 4:
        if (prev) {
            for (i64 i = 0; i < Offset && i < count; i++) row[i] = u8(row[i] + prev[i]);
            i64 i = Offset;
            for (; i + Offset <= count; i += Offset)
                for (i64 k = 0; k < Offset; k++)
                    row[i + k] = u8(row[i + k] + paeth(row[i + k - Offset], prev[i + k], prev[i + k - Offset]));
            for (; i < count; i++) row[i] = u8(row[i] + paeth(row[i - Offset], prev[i], prev[i - Offset]));
        } else {
            // With the row above all zero, Paeth always picks the left byte.
            for (i64 i = Offset; i < count; i++) row[i] = u8(row[i] + row[i - Offset]);
        }
        return true;
    default: return false;
    }
}

bool unfilterRow(u8 type, u8* row, const u8* prev, i64 count, i64 offset) {
    switch (offset) {
    case 1: return unfilterRowFixed<1>(type, row, prev, count);
    case 2: return unfilterRowFixed<2>(type, row, prev, count);
    case 3: return unfilterRowFixed<3>(type, row, prev, count);
    case 4: return unfilterRowFixed<4>(type, row, prev, count);
    case 6: return unfilterRowFixed<6>(type, row, prev, count);
    default: return unfilterRowFixed<8>(type, row, prev, count);
    }
}

// Reads sample k of a row packed at the given depth, scaled to 8 bits (or a palette index as it is).
inline u32 readSample(const u8* row, u64 k, u32 depth, bool scale) {
    if (depth == 8) return row[k];
    if (depth == 16) {
        u32 value = (u32(row[2 * k]) << 8) | row[2 * k + 1];
        return value * 255 / 65535;
    }
    u64 bit = k * depth;
    u32 mask = (1u << depth) - 1;
    u32 value = (row[bit >> 3] >> (8 - depth - (bit & 7))) & mask;
    return scale ? value * 255 / mask : value;
}

// Converts one unfiltered row into the output row. Returns false with the message set for a palette
// index beyond the palette.
bool convertRow(const PngInfo& info, const u8* row, u32 width, u32 channels, u8* out, FixedString* error) {
    const u32 ic = info.imageChannels;
    if (info.bitDepth == 8 && !info.isPalette) {
        if (ic == channels) {
            std::memcpy(out, row, size_t(width) * channels);
            return true;
        }
        if (ic == 3 && channels == 4) {
            for (u32 x = 0; x < width; x++, row += 3, out += 4) {
                out[0] = row[0];
                out[1] = row[1];
                out[2] = row[2];
                out[3] = 255;
            }
            return true;
        }
        if (ic == 4 && channels == 3) {
            for (u32 x = 0; x < width; x++, row += 4, out += 3) {
                out[0] = row[0];
                out[1] = row[1];
                out[2] = row[2];
            }
            return true;
        }
    }
    if (info.isPalette && info.bitDepth == 8 && channels >= 3) {
        for (u32 x = 0; x < width; x++, out += channels) {
            u32 index = row[x];
            if (index >= info.paletteCount) {
                *error = formatIntInt("Palette index @ is beyond palette length @", index, info.paletteCount);
                return false;
            }
            out[0] = info.palette[index][0];
            out[1] = info.palette[index][1];
            out[2] = info.palette[index][2];
            if (channels == 4) out[3] = info.paletteAlpha[index];
        }
        return true;
    }
    for (u32 x = 0; x < width; x++, out += channels) {
        u32 r;
        u32 g;
        u32 b;
        u32 a = 255;
        if (info.isPalette) {
            u32 index = readSample(row, x, info.bitDepth, false);
            if (index >= info.paletteCount) {
                *error = formatIntInt("Palette index @ is beyond palette length @", index, info.paletteCount);
                return false;
            }
            r = info.palette[index][0];
            g = info.palette[index][1];
            b = info.palette[index][2];
            a = info.paletteAlpha[index];
        } else {
            u64 k = u64(x) * ic;
            r = readSample(row, k, info.bitDepth, true);
            if (ic >= 3) {
                g = readSample(row, k + 1, info.bitDepth, true);
                b = readSample(row, k + 2, info.bitDepth, true);
                if (ic == 4) a = readSample(row, k + 3, info.bitDepth, true);
            } else {
                g = r;
                b = r;
                if (ic == 2) a = readSample(row, k + 1, info.bitDepth, true);
            }
        }
        // Grey images keep their grey value as it is; colour images give the mean.
        u32 grey = (ic <= 2 && !info.isPalette) ? r : (r + g + b) / 3;
        switch (channels) {
        case 1: out[0] = u8(grey); break;
        case 2:
            out[0] = u8(grey);
            out[1] = u8(a);
            break;
        case 3:
            out[0] = u8(r);
            out[1] = u8(g);
            out[2] = u8(b);
            break;
        default:
            out[0] = u8(r);
            out[1] = u8(g);
            out[2] = u8(b);
            out[3] = u8(a);
            break;
        }
    }
    return true;
}

// First pass: bounds and CRC of every chunk, IHDR, palette, transparency and the IDAT count.
bool readChunks(ImageResult* result, const u8* bytes, i64 length, PngInfo* info) {
    i64 pos = 8;
    bool first = true;
    while (pos < length) {
        if (length - pos < 12 || i64(readU32Be(bytes + pos)) > length - pos - 12) {
            result->error = formatInt("PNG terminated unexpectedly (@ bytes)", length);
            return false;
        }
        u32 chunkLength = readU32Be(bytes + pos);
        u32 type = readU32Be(bytes + pos + 4);
        const u8* data = bytes + pos + 8;
        u32 stored = readU32Be(data + chunkLength);
        u32 computed = crc32(bytes + pos + 4, i64(chunkLength) + 4);
        if (stored != computed) {
            result->error = formatStr("CRC-32 of the @ chunk does not match its contents", chunkName(type));
            return false;
        }
        if (first) {
            if (type != kChunkIhdr) {
                result->error = formatHex("IHDR Chunk was not the first chunk (found @)", type, 8);
                return false;
            }
            if (chunkLength < 13) {
                result->error = formatInt("IHDR Chunk is too small (@ bytes)", chunkLength);
                return false;
            }
            result->width = readU32Be(data);
            result->height = readU32Be(data + 4);
            if (result->width == 0 || result->height == 0) {
                result->error = formatIntInt("Width or height is 0 (@x@)", result->width, result->height);
                return false;
            }
            if (data[11] != 0) {
                result->error = formatInt("Unsupported PNG filter method (@)", data[11]);
                return false;
            }
            if (data[12] != 0) {
                result->error = formatInt("Unsupported PNG interlace method (@)", data[12]);
                return false;
            }
            if (data[10] != 0) {
                result->error = formatInt("Unsupported PNG compression method (@)", data[10]);
                return false;
            }
            info->colorType = data[9];
            static constexpr u32 kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
            if (info->colorType > 6 || kChannels[info->colorType] == 0) {
                result->error = formatInt("Unsupported color type (@)", info->colorType);
                return false;
            }
            info->imageChannels = kChannels[info->colorType];
            info->isPalette = info->colorType == 3;
            info->bitDepth = data[8];
            if (!bitDepthAllowed(info->colorType, info->bitDepth)) {
                result->error = formatIntInt("Unsupported bit depth @ for color type @", info->bitDepth, info->colorType);
                return false;
            }
            first = false;
        } else if (type == kChunkPlte) {
            // Entries past 256 cannot be indexed by any sample and are ignored.
            u32 used = chunkLength < 768 ? chunkLength : 768;
            std::memcpy(info->palette, data, used);
            info->paletteCount = used / 3;
        } else if (type == kChunkTrns) {
            std::memcpy(info->paletteAlpha, data, chunkLength < 256 ? chunkLength : 256);
            info->haveTransparency = true;
        } else if (type == kChunkIdat) {
            info->idatCount++;
        }
        pos += i64(chunkLength) + 12;
    }
    return true;
}

// Second pass: inflates every IDAT chunk's data into the scratch and checks the zlib wrapper.
bool inflateIdat(ImageResult* result, const u8* bytes, i64 length, const PngInfo& info, InflateState* state) {
    i64 pos = 8;
    i32 idatSeen = 0;
    i32 headerBytes = 0;
    u8 header[2] = {};
    i64 trailerBytes = 0;
    u8 trailer[4] = {};
    i32 inflated = InflateNeedsInput;
    while (pos < length) {
        u32 chunkLength = readU32Be(bytes + pos);
        u32 type = readU32Be(bytes + pos + 4);
        i64 dataStart = pos + 8;
        i64 dataEnd = dataStart + chunkLength;
        pos = dataEnd + 4;
        if (type != kChunkIdat) continue;
        idatSeen++;
        i64 at = dataStart;
        while (headerBytes < 2 && at < dataEnd) {
            header[headerBytes++] = bytes[at++];
            if (headerBytes < 2) continue;
            if ((header[0] & 15) != 8) {
                result->error = formatInt("Invalid Zlib compression method (found @, should be 8)", header[0] & 15);
                return false;
            }
            if ((header[0] >> 4) > 7) {
                result->error = formatInt("PNG spec forbids LZ77 window sizes greater than 32768 (CINFO was @)",
                                          header[0] >> 4);
                return false;
            }
            if (header[1] & 32) {
                result->error = formatHex("PNG spec forbids Zlib dictionaries (FLAGS was 0x@)", header[1], 2);
                return false;
            }
        }
        if (headerBytes == 2 && inflated != InflateDone) {
            inflated = inflate(bytes, &at, dataEnd, state);
            if (inflated == InflateOutputFull) {
                result->error = format("Inflated data didn't fit in the scratch memory");
                return false;
            }
            if (inflated == InflateMalformed) {
                result->error = format("Deflated data was incorrectly formatted");
                return false;
            }
        }
        // The Adler-32 follows the stream's end, possibly split over the chunks after it.
        if (inflated == InflateDone) {
            for (; at < dataEnd; at++, trailerBytes++)
                if (trailerBytes < 4) trailer[trailerBytes] = bytes[at];
        }
        if (idatSeen == info.idatCount) {
            if (inflated != InflateDone) {
                result->error = format("Reached the end of the deflated data, but there were still more IDAT chunks");
                return false;
            }
            if (trailerBytes != 4) {
                result->error =
                    format("Reached the end of the deflated data, but there were still more bytes before the Zlib crc");
                return false;
            }
            u32 stored = readU32Be(trailer);
            u32 computed = updateAdler32(kAdler32Initial, state->output, state->outputPosition);
            if (stored != computed) {
                result->error = formatHex("Zlib Adler-32 checksum 0x@ does not match the inflated data", stored, 8);
                return false;
            }
            return true;
        }
    }
    result->error = format("PNG has no image data (no IDAT chunk)");
    return false;
}

}  // namespace

ImageResult* parsePng(ImageResult* result, const u8* bytes, i64 length, u8* pixels, i64 imageBufferCapacity,
                      u32 channels, u8 rowAlignment, u8* scratch, i64 scratchCapacity) {
    ProfilingScope profile("Parse PNG");
    std::memset(result, 0, sizeof *result);
    if (!bytes) {
        result->error = format("PNG bytes pointer was NULL");
        return result;
    }
    if (length < 20) {
        result->error = formatInt("PNG was too small (@ bytes)", length);
        return result;
    }
    if (std::memcmp(bytes, kSignature, 8) != 0) {
        const char* text = "PNG does not begin with the correct 8-byte sequence. Found: @ @ @ @ @ @ @ @, Expected 137 "
                           "80 78 71 13 10 26 10";
        const void* arguments[8];
        i64 values[8];
        u32 kinds[8];
        for (int i = 0; i < 8; i++) {
            values[i] = bytes[i];
            arguments[i] = &values[i];
            kinds[i] = FormatArgInt;
        }
        result->error = formatString(text, arguments, kinds, 8);
        return result;
    }
    PngInfo info;
    std::memset(&info, 0, sizeof info);
    std::memset(info.paletteAlpha, 255, sizeof info.paletteAlpha);
    if (!readChunks(result, bytes, length, &info)) return result;

    if (channels > 4) {
        result->error = formatInt("Unsupported channel count @ (must be 0 to 4)", channels);
        return result;
    }
    if (channels == 0) channels = info.isPalette ? (info.haveTransparency ? 4 : 3) : info.imageChannels;
    result->channels = channels;
    const u64 alignment = rowAlignment ? rowAlignment : 1;
    const u64 width = result->width;
    const u64 height = result->height;
    const u64 stride = (width * channels + alignment - 1) / alignment * alignment;
    u64 needed = 0;
    if (!pixels) imageBufferCapacity = 0;
    if (stride > 0xFFFFFFFFu || __builtin_mul_overflow(stride, height, &needed) || needed > u64(imageBufferCapacity)) {
        if (needed == 0 || stride > 0xFFFFFFFFu) needed = u64(INT64_MAX);
        result->error = formatInt6("@x@ image with @ channels and with rows starting on multiples of @ bytes requires @ "
                                   "bytes of memory. imageBufferCapacity was only @",
                                   i64(width), i64(height), channels, i64(alignment), i64(needed > u64(INT64_MAX) ? u64(INT64_MAX) : needed),
                                   imageBufferCapacity);
        return result;
    }
    result->rowStride = u32(stride);

    InflateState state;
    std::memset(&state, 0, sizeof state);
    state.output = scratch;
    state.outputCapacity = scratch ? scratchCapacity : 0;
    if (!inflateIdat(result, bytes, length, info, &state)) return result;

    // Every row must be there in full: a filter byte and its samples.
    const u64 rowBytes = (u64(info.bitDepth) * width * info.imageChannels + 7) / 8;
    u64 scratchNeeded = 0;
    if (__builtin_mul_overflow(rowBytes + 1, height, &scratchNeeded) || scratchNeeded > u64(state.outputPosition)) {
        result->error = formatIntInt("Inflated image data is @ bytes, but the image needs @",
                                     state.outputPosition, i64(scratchNeeded > u64(INT64_MAX) ? u64(INT64_MAX) : scratchNeeded));
        return result;
    }
    const i64 offset = info.bitDepth >= 8 ? i64(info.bitDepth / 8) * info.imageChannels : 1;
    const u8* prev = nullptr;
    for (u64 y = 0; y < height; y++) {
        u8* line = scratch + y * (rowBytes + 1);
        u8* row = line + 1;
        if (!unfilterRow(line[0], row, prev, i64(rowBytes), offset)) {
            result->error = formatInt("Unsupported row filter type @", line[0]);
            return result;
        }
        if (!convertRow(info, row, result->width, channels, pixels + y * stride, &result->error)) return result;
        prev = row;
    }
    result->pixels = pixels;
    return result;
}
