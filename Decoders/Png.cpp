// PNG reading: chunk walk with CRC-32 checks, the zlib stream inflated across IDAT chunks and checked
// against its Adler-32, rows unfiltered as they are inflated (through a window moving down the
// caller's scratch, or after the whole stream when the scratch is small) and converted to the channel
// count the caller asks for.
#include "Decoders/Png.h"

#include <cstring>

#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Decoders/Checksum.h"
#include "Decoders/Inflate.h"
#include "Decoders/PngInternal.h"

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

// The 32768 bytes of history a stream may refer back to, which a moving window keeps.
constexpr i64 kWindowHistory = 32768;
// How many inflated bytes pass between two rounds of row unfiltering.
constexpr i64 kRowRound = 16384;
// The moving window's size past its history and two rows: room for a few rounds between moves.
constexpr i64 kWindowSpare = 4 * kRowRound;

// Where inflated rows go while the stream is inflated: unfiltered straight into the pixels (or through
// two row buffers and the channel conversion) as soon as whole, the window moving down to keep only
// the history once it fills. A row error is kept for after the stream's own checks, as the messages
// of a whole-stream decode come in that order.
struct RowSink {
    const PngInfo* info;
    bool moving;          // false: the scratch holds the whole stream and rows are unfiltered after it
    bool direct;          // unfiltered rows are the pixel rows themselves
    u8* window;           // = state output
    i64 windowCapacity;
    u8* rowBuffers[2];
    u64 rowBytes;         // without the filter byte
    u64 height;
    i64 offset;           // filter distance in bytes
    u8* pixels;
    u64 stride;
    u32 width;
    u32 channels;
    i64 base;             // stream bytes before window[0]
    i64 limit;            // the most stream bytes accepted
    i64 rowStart;         // window index of the next row's filter byte
    i64 adlerFrom;        // window index from which the Adler-32 is still to be taken
    u32 adler;
    u64 row;              // rows unfiltered
    const u8* previous;   // the last unfiltered row
    bool rowFailed;
    FixedString rowError;
};

void unfilterReadyRows(RowSink* sink, InflateState* state) {
    const i64 lineBytes = i64(sink->rowBytes) + 1;
    while (state->outputPosition - sink->rowStart >= lineBytes) {
        const u8* line = sink->window + sink->rowStart;
        sink->rowStart += lineBytes;
        if (sink->rowFailed || sink->row >= sink->height) continue;
        u8* target = sink->pixels + sink->row * sink->stride;
        u8* row = sink->direct ? target : sink->rowBuffers[sink->row & 1];
        if (!unfilterPngRow(line[0], line + 1, row, sink->previous, i64(sink->rowBytes), sink->offset)) {
            sink->rowError = formatInt("Unsupported row filter type @", line[0]);
            sink->rowFailed = true;
            continue;
        }
        if (!sink->direct && !convertRow(*sink->info, row, sink->width, sink->channels, target, &sink->rowError)) {
            sink->rowFailed = true;
            continue;
        }
        sink->previous = row;
        sink->row++;
    }
}

// Moves the window's last bytes (the history, and any part of a row) to its start when too little
// room is left for the next round, taking the Adler-32 of the bytes it lets go.
void moveWindow(RowSink* sink, InflateState* state) {
    const i64 lineBytes = i64(sink->rowBytes) + 1;
    if (sink->windowCapacity - state->outputPosition >= lineBytes + kRowRound) return;
    i64 keepFrom = state->outputPosition - kWindowHistory;
    if (keepFrom > sink->rowStart) keepFrom = sink->rowStart;
    if (keepFrom <= 0) return;
    sink->adler = updateAdler32(sink->adler, sink->window + sink->adlerFrom, keepFrom - sink->adlerFrom);
    std::memmove(sink->window, sink->window + keepFrom, size_t(state->outputPosition - keepFrom));
    state->outputPosition -= keepFrom;
    sink->rowStart -= keepFrom;
    sink->adlerFrom = 0;
    sink->base += keepFrom;
}

// Second pass: inflates every IDAT chunk's data and checks the zlib wrapper; a moving sink unfilters
// rows on the way.
bool inflateIdat(ImageResult* result, const u8* bytes, i64 length, const PngInfo& info, InflateState* state,
                 RowSink* sink) {
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
        while (headerBytes == 2 && inflated != InflateDone) {
            if (sink->moving) state->outputPause = state->outputPosition + kRowRound;
            inflated = inflate(bytes, &at, dataEnd, state);
            if (sink->moving) {
                if (sink->base + state->outputPosition > sink->limit) inflated = InflateOutputFull;
                else {
                    unfilterReadyRows(sink, state);
                    moveWindow(sink, state);
                    if (inflated == InflateOutputFull || inflated == InflatePaused) continue;
                }
            }
            if (inflated == InflateOutputFull) {
                result->error = format("Inflated data didn't fit in the scratch memory");
                return false;
            }
            if (inflated == InflateMalformed) {
                result->error = format("Deflated data was incorrectly formatted");
                return false;
            }
            break;
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
            u32 computed = updateAdler32(sink->adler, state->output + sink->adlerFrom,
                                         state->outputPosition - sink->adlerFrom);
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

    // Every row must be there in full: a filter byte and its samples.
    const u64 rowBytes = (u64(info.bitDepth) * width * info.imageChannels + 7) / 8;
    u64 streamNeeded = 0;
    if (__builtin_mul_overflow(rowBytes + 1, height, &streamNeeded)) streamNeeded = u64(INT64_MAX);
    const i64 offset = info.bitDepth >= 8 ? i64(info.bitDepth / 8) * info.imageChannels : 1;

    RowSink sink;
    std::memset(&sink, 0, sizeof sink);
    sink.info = &info;
    sink.direct = info.bitDepth == 8 && !info.isPalette && channels == info.imageChannels;
    sink.rowBytes = rowBytes;
    sink.height = height;
    sink.offset = offset;
    sink.pixels = pixels;
    sink.stride = stride;
    sink.width = result->width;
    sink.channels = channels;
    sink.adler = kAdler32Initial;
    // A scratch with room for two row buffers, the history and a few rounds of rows takes the rows as
    // they come; a smaller one must hold the whole stream.
    const u64 rowBuffers = sink.direct ? 0 : 2 * rowBytes;
    const u64 movingNeeded = rowBuffers + u64(kWindowHistory) + 2 * (rowBytes + 1) + u64(kWindowSpare);
    if (scratch && rowBytes < u64(INT32_MAX) && u64(scratchCapacity) >= movingNeeded) {
        sink.moving = true;
        sink.rowBuffers[0] = scratch;
        sink.rowBuffers[1] = scratch + rowBytes;
        sink.window = scratch + rowBuffers;
        // A window that stays in the caches: no larger than needed.
        sink.windowCapacity = i64(movingNeeded - rowBuffers);
        sink.limit = scratchCapacity > i64(streamNeeded) ? scratchCapacity : i64(streamNeeded);
    } else {
        sink.window = scratch;
        sink.windowCapacity = scratch ? scratchCapacity : 0;
    }

    InflateState inflateState;
    InflateState* state = &inflateState;
    std::memset(state, 0, sizeof *state);
    state->output = sink.window;
    state->outputCapacity = sink.windowCapacity;
    const bool inflatedWell = inflateIdat(result, bytes, length, info, state, &sink);
    const i64 inflatedBytes = sink.base + state->outputPosition;
    if (!inflatedWell) return result;

    if (u64(inflatedBytes) < streamNeeded) {
        result->error = formatIntInt("Inflated image data is @ bytes, but the image needs @", inflatedBytes,
                                     i64(streamNeeded > u64(INT64_MAX) ? u64(INT64_MAX) : streamNeeded));
        return result;
    }
    if (sink.moving) {
        if (sink.rowFailed) {
            result->error = sink.rowError;
            return result;
        }
    } else {
        const u8* prev = nullptr;
        for (u64 y = 0; y < height; y++) {
            u8* line = scratch + y * (rowBytes + 1);
            u8* row = line + 1;
            if (!unfilterPngRow(line[0], row, row, prev, i64(rowBytes), offset)) {
                result->error = formatInt("Unsupported row filter type @", line[0]);
                return result;
            }
            if (!convertRow(info, row, result->width, channels, pixels + y * stride, &result->error)) return result;
            prev = row;
        }
    }
    result->pixels = pixels;
    return result;
}
