// Baseline JPEG decoder: segment walk, Huffman tables, entropy decoding with dequantisation, then
// (Decoders/JpegTransform.cpp) the inverse DCT, upsampling by repetition and YCbCr to RGB.
#include "Decoders/Jpeg.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Decoders/Inflate.h"
#include "Decoders/JpegTransform.h"

namespace {

constexpr i32 kTreeCapacity = 512;
constexpr i32 kFastBits = 9;
constexpr i32 kLookupBits = 10;
constexpr i32 kLookupEndOfBlock = 0x80;

const char* const kParseRegion = "Parse JPEG";
const char* const kScanRegion = "Decode JPEG scan";
const char* const kColorRegion = "Convert YCbCr to RGB";

const u8 kZigzagToNatural[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

struct HuffmanTable {
    i32 tree[kTreeCapacity];
    u16 fast[1 << kFastBits];  // length << 9 | symbol index, or 0x8000 | node index to walk on from
    // The whole symbol and its extra bits for each kLookupBits-bit prefix where both fit in it:
    // value << 16 | run << 8 | kLookupEndOfBlock | bits used (DC tables: difference << 16 | bits
    // used); 0 where they do not fit or the symbol is invalid.
    i32 lookup[1 << kLookupBits];
    u8 symbols[256];
    i32 symbolCount;
    i32 treeSize;
};

struct FrameComponent {
    u8 id;
    u8 h;
    u8 v;
    u8 quantTable;
};

struct BitReader {
    const u8* data;
    i64 position;
    i64 length;
    u64 bits;
    i32 count;
    i32 stop;  // 0 reading, 1 end of data, 2 marker
    u8 marker;
};

struct Decoder {
    ImageResult* result;
    const u8* bytes;
    i64 length;
    u8* pixels;
    bool output;
    u8 rowAlignment;
    u32 frameMarker;
    u32 componentCount;
    FrameComponent components[3];
    i32 hmax;
    i32 vmax;
    u16 quant[4][64];
    HuffmanTable dc[4];
    HuffmanTable ac[4];
    i32 predictors[3];
    bool converted;  // the pixels are RGB already (converted row by row during the scan)
    JpegTransformPath path;
};

FixedString hexMessage(const char* format, u32 value) { return formatHex(format, value, 2); }

// Fills the accumulator to at least 57 bits where the data allows, stopping before a marker or the
// end so that they are reported only when bits are actually wanted from them.
inline void fillBits(BitReader* r) {
    // Up to seven bytes at once while none of them is 0xFF (a stuffed byte or a marker), which
    // the byte-by-byte loop below handles.
    if (r->count <= 55 && r->stop == 0 && r->position + 8 <= r->length) {
        u64 word;
        std::memcpy(&word, r->data + r->position, 8);
        word = __builtin_bswap64(word);
        i32 take = (63 - r->count) / 8;
        u64 chunk = word >> (64 - 8 * take);
        // A byte of chunk is 0xFF where its complement has a zero byte; the bytes above chunk's
        // are set so they never count.
        u64 complement = ~chunk | (~0ull << (8 * take));
        if (((complement - 0x0101010101010101ull) & ~complement & 0x8080808080808080ull) == 0) {
            r->bits = (r->bits << (8 * take)) | chunk;
            r->position += take;
            r->count += 8 * take;
            return;
        }
    }
    while (r->count <= 56 && r->stop == 0) {
        if (r->position >= r->length) {
            r->stop = 1;
            return;
        }
        u8 b = r->data[r->position];
        if (b == 0xFF) {
            if (r->position + 1 >= r->length) {
                r->stop = 1;
                return;
            }
            u8 next = r->data[r->position + 1];
            if (next != 0) {
                r->stop = 2;
                r->marker = next;
                return;
            }
            r->position += 2;
        } else {
            r->position++;
        }
        r->bits = (r->bits << 8) | b;
        r->count += 8;
    }
}

FixedString bitsExhausted(const BitReader* r) {
    if (r->stop == 2) return hexMessage("Unexpected marker 0xFF@ in scan line.", r->marker);
    return format("Parsing scan line, but encountered end of data.");
}

// Reads n bits (0..16), most significant first. False when the scan data cannot supply them.
inline bool readBits(BitReader* r, i32 n, u32* value) {
    if (r->count < n) {
        fillBits(r);
        if (r->count < n) return false;
    }
    r->count -= n;
    *value = (u32)(r->bits >> r->count) & ((1u << n) - 1u);
    return true;
}

inline i32 extendValue(u32 value, i32 size) {
    if (size == 0) return 0;
    if (value < (1u << (size - 1))) return (i32)value + 1 - (1 << size);
    return (i32)value;
}

// Decodes one symbol index. Returns -1 when the bits run out.
inline i32 decodeSymbolIndex(BitReader* r, const HuffmanTable* table) {
    if (r->count < kFastBits) fillBits(r);
    u32 peek;
    if (r->count >= kFastBits) {
        peek = (u32)(r->bits >> (r->count - kFastBits)) & ((1u << kFastBits) - 1u);
    } else {
        peek = (u32)(r->bits << (kFastBits - r->count)) & ((1u << kFastBits) - 1u);
    }
    u16 entry = table->fast[peek];
    if (!(entry & 0x8000)) {
        i32 length = entry >> 9;
        if (length > r->count) return -1;
        r->count -= length;
        return entry & 0x1FF;
    }
    if (r->count < kFastBits) return -1;
    r->count -= kFastBits;
    i32 node = entry & 0x7FFF;
    for (;;) {
        u32 bit;
        if (!readBits(r, 1, &bit)) return -1;
        i32 index = node + (i32)bit;
        if (index >= kTreeCapacity) return 0;  // unreachable for a tree that passed its size check
        i32 next = table->tree[index];
        if (next <= 0) return -next;
        node = next;
    }
}

// Builds the lookup over the first kFastBits bits by walking the tree for each prefix.
void buildFastTable(HuffmanTable* table) {
    for (u32 prefix = 0; prefix < (1u << kFastBits); prefix++) {
        i32 node = 0;
        u16 entry = 0;
        bool leaf = false;
        for (i32 depth = 1; depth <= kFastBits; depth++) {
            u32 bit = (prefix >> (kFastBits - depth)) & 1u;
            i32 next = table->tree[node + (i32)bit];
            if (next <= 0) {
                entry = (u16)((depth << 9) | (-next & 0x1FF));
                leaf = true;
                break;
            }
            node = next;
        }
        table->fast[prefix] = leaf ? entry : (u16)(0x8000 | node);
    }
}

// Fills table->lookup from the code lengths, codes being assigned in order of length and then of
// position, as the tree assigns them.
void buildLookupTable(HuffmanTable* table, const u8* counts, bool dc) {
    std::memset(table->lookup, 0, sizeof table->lookup);
    u32 code = 0;
    i32 index = 0;
    for (i32 length = 1; length <= 16; length++, code <<= 1) {
        for (i32 i = 0; i < counts[length - 1]; i++, index++, code++) {
            if (length > kLookupBits) continue;
            u8 symbol = table->symbols[index];
            i32 size = dc ? symbol : symbol & 15;
            i32 run = dc ? 0 : symbol >> 4;
            if (size > (dc ? 11 : 10)) continue;
            bool endOfBlock = !dc && symbol == 0;
            i32 used = length + size;
            if (used > kLookupBits) continue;
            for (u32 extra = 0; extra < (1u << size); extra++) {
                i32 entry = (i32)((u32)extendValue(extra, size) << 16) | run << 8 | (endOfBlock ? kLookupEndOfBlock : 0) | used;
                u32 first = (code << (kLookupBits - length)) | (extra << (kLookupBits - used));
                for (u32 k = 0; k < (1u << (kLookupBits - used)); k++) table->lookup[first + k] = entry;
            }
        }
    }
}

FixedString readHuffmanTables(Decoder* d, i64 start, i64 end) {
    i64 p = start;
    while (p < end) {
        if (end - p < 17) return format("Huffman table doesn't fit within segment length");
        u8 classAndId = d->bytes[p];
        u32 tableClass = classAndId >> 4;
        u32 id = classAndId & 15;
        if (id > 3) return formatInt("Unrecognized huffman table destination identifier: @. Expected 0-3.", id);
        const u8* counts = d->bytes + p + 1;
        i32 total = 0;
        for (i32 i = 0; i < 16; i++) total += counts[i];
        if (total > 256) return formatInt("Huffman table holds @ symbols, more than 256", total);
        if (end - (p + 17) < total) return format("Huffman table doesn't fit within segment length");
        const u8* values = d->bytes + p + 17;
        p += 17 + total;
        if (tableClass > 1) continue;
        // Code space check: more codes of some length than the shorter codes leave room for.
        i64 room = 1;
        i32 lastLength = 0;
        for (i32 length = 1; length <= 16; length++) {
            room = room * 2 - counts[length - 1];
            if (room < 0) return format("Huffman table has more codes than its code lengths allow");
            if (counts[length - 1]) lastLength = length;
        }
        u8 lengths[257];
        i32 n = 0;
        for (i32 length = 1; length <= 16; length++) {
            for (i32 i = 0; i < counts[length - 1]; i++) lengths[n++] = (u8)length;
        }
        // One extra entry takes the all-ones code that JPEG leaves unused, so that it decodes to an
        // index equal to the symbol count; a complete code has no such room.
        bool roomAtLast = false;
        if (lastLength > 0) {
            i64 left = 1;
            for (i32 length = 1; length <= lastLength; length++) left = left * 2 - counts[length - 1];
            roomAtLast = left > 0;
        }
        if (roomAtLast) lengths[n++] = (u8)lastLength;
        HuffmanTable* table = tableClass == 0 ? &d->dc[id] : &d->ac[id];
        std::memset(table, 0, sizeof *table);
        i32 needed = buildHuffmanDecodeTree(lengths, n, table->tree, kTreeCapacity);
        if (needed > kTreeCapacity) {
            std::memset(table, 0, sizeof *table);
            return formatInt(tableClass == 0
                                 ? "Parser didn't allocate enough memory for the dc huffman decoding tree. Needed @ slots."
                                 : "Parser didn't allocate enough memory for the ac huffman decoding tree. Needed @ slots.",
                             needed);
        }
        std::memcpy(table->symbols, values, (size_t)total);
        table->symbolCount = total;
        table->treeSize = needed;
        buildFastTable(table);
        buildLookupTable(table, counts, tableClass == 0);
    }
    return FixedString{};
}

FixedString readQuantizationTables(Decoder* d, i64 start, i64 end) {
    i64 p = start;
    while (p < end) {
        u8 pqTq = d->bytes[p];
        u32 tq = pqTq & 15;
        u32 pq = pqTq >> 4;
        if (tq >= 4) return formatInt("Unrecognized quantization table destination identifier: @. Expected 0-3.", tq);
        if (pq > 1) {
            return formatInt("Unrecognized quantization table precision value: @. Expected 0 (8 bit) or 1 (16 bit).", pq);
        }
        i64 size = pq == 0 ? 64 : 128;
        if (end - (p + 1) < size) return format("Quantization table doesn't fit within segment length");
        const u8* q = d->bytes + p + 1;
        for (i32 i = 0; i < 64; i++) d->quant[tq][i] = pq == 0 ? q[i] : (u16)((q[2 * i] << 8) | q[2 * i + 1]);
        p += 1 + size;
    }
    return FixedString{};
}

FixedString readFrame(Decoder* d, u32 marker, i64 start, i64 end, i64 capacity) {
    ImageResult* result = d->result;
    if (end - start < 6) return format("Frame header doesn't fit within segment length");
    const u8* b = d->bytes + start;
    if (b[0] != 8) return format("Only 8-bit jpeg supported.");
    result->height = (u32)((b[1] << 8) | b[2]);
    result->width = (u32)((b[3] << 8) | b[4]);
    u32 count = b[5];
    if (count > 3) return format("More than 3 image components in the frame.");
    if (end - start < 6 + 3 * (i64)count) return format("Frame header doesn't fit within segment length");
    d->frameMarker = marker;
    d->componentCount = count;
    if (result->channels == 0) result->channels = count;
    u64 stride = (u64)result->width * result->channels;
    stride = (stride + d->rowAlignment - 1) / d->rowAlignment * d->rowAlignment;
    result->rowStride = (u32)stride;
    d->hmax = 1;
    d->vmax = 1;
    for (u32 i = 0; i < count; i++) {
        const u8* c = b + 6 + 3 * i;
        FrameComponent* fc = &d->components[i];
        fc->id = c[0];
        fc->h = c[1] >> 4;
        fc->v = c[1] & 15;
        fc->quantTable = c[2];
        if (fc->h == 0 || fc->v == 0) {
            return formatHexIntInt("For image component 0x@, a sampling factor is 0 (@ by @).", fc->id, 2, fc->h, fc->v);
        }
        if (fc->quantTable > 3) {
            return formatHexInt("For image component 0x@, the quantization table selector @ is not 0-3.", fc->id, 2,
                                fc->quantTable);
        }
        if (fc->h > d->hmax) d->hmax = fc->h;
        if (fc->v > d->vmax) d->vmax = fc->v;
    }
    for (u32 i = 0; i < count; i++) {
        const FrameComponent* fc = &d->components[i];
        if (d->vmax % fc->v != 0) {
            return formatHexIntInt("For image component 0x@, The vertical sampling factor (@) does not divide evenly "
                                   "into the maximum sampling factor (@).",
                                   fc->id, 2, fc->v, d->vmax);
        }
        if (d->hmax % fc->h != 0) {
            return formatHexIntInt("For image component 0x@, The horizontal sampling factor (@) does not divide evenly "
                                   "into the maximum sampling factor (@).",
                                   fc->id, 2, fc->h, d->hmax);
        }
    }
    i64 needed = (i64)stride * result->height;
    if (needed > capacity) {
        result->error = formatInt6(
            "@x@ image with @ channels and with rows starting on multiples of @ bytes requires @ bytes of memory. "
            "imageBufferCapacity was only @",
            result->width, result->height, result->channels, d->rowAlignment, needed, capacity);
        d->output = false;
    }
    return FixedString{};
}

// Writes an 8 x 8 block of samples into one channel of the pixels from row y0 on, each sample
// repeated fx times across and fy times down, count pixels of each row (fewer at the right edge).
template <u32 Channels>
inline void writeBlock(u8* origin, const u8* samples, i32 fx, i32 fy, i64 y0, i64 count, const ImageResult* result) {
    i64 y = y0;
    for (i32 sourceRow = 0; sourceRow < 8; sourceRow++) {
        const u8* source = samples + 8 * sourceRow;
        for (i32 repeat = 0; repeat < fy; repeat++, y++) {
            if (y >= (i64)result->height) return;
            u8* out = origin + y * result->rowStride;
            if (fx == 1) {
                for (i64 n = 0; n < count; n++) out[n * Channels] = source[n];
            } else if (fx == 2) {
                for (i64 n = 0; n < count; n++) out[n * Channels] = source[n >> 1];
            } else {
                for (i64 n = 0; n < count; n++) out[n * Channels] = source[n / fx];
            }
        }
    }
}

// Transforms one block of frame component ci (dequantised coefficients in natural order) into
// samples rows stride bytes apart.
inline void transformBlock(const Decoder* d, u8* samples, i64 stride, const i32* coefficients, u32 magnitude,
                           u64 present) {
    if (present <= 1) {
        u8 value = dcOnlySample(coefficients[0]);
        for (i32 y = 0; y < 8; y++) std::memset(samples + y * stride, value, 8);
        return;
    }
    inverseDct(d->path, samples, stride, coefficients, magnitude, present);
}

// Transforms and writes one block of frame component ci whose top-left block coordinate in the
// component's own grid is (blockX, blockY).
void transformAndWriteBlock(Decoder* d, u32 ci, const i32* coefficients, u32 magnitude, u64 present, i32 blockX,
                            i32 blockY) {
    const FrameComponent* fc = &d->components[ci];
    u8 samples[64];
    transformBlock(d, samples, 8, coefficients, magnitude, present);
    ImageResult* result = d->result;
    i32 fx = d->hmax / fc->h;
    i32 fy = d->vmax / fc->v;
    i64 x0 = (i64)blockX * 8 * fx;
    i64 y0 = (i64)blockY * 8 * fy;
    i64 count = (i64)result->width - x0;
    if (count > 8 * fx) count = 8 * fx;
    u8* origin = d->pixels + x0 * result->channels + ci;
    switch (result->channels) {
        case 1: writeBlock<1>(origin, samples, fx, fy, y0, count, result); break;
        case 2: writeBlock<2>(origin, samples, fx, fy, y0, count, result); break;
        case 3: writeBlock<3>(origin, samples, fx, fy, y0, count, result); break;
        default: writeBlock<4>(origin, samples, fx, fy, y0, count, result); break;
    }
}

// Zeroes the rows of coefficients (32-byte aligned) that present marks: a block of 256 bytes
// cleared whole costs more than the few rows most blocks use, and the compiler turns small memsets
// into string instructions slower still.
inline void clearCoefficients(i32* coefficients, u64 present) {
    for (i32 row = 0; row < 8; row++) {
        if ((present >> (8 * row)) & 0xFF) {
#if defined(__SSE2__)
            _mm_store_si128((__m128i*)(coefficients + 8 * row), _mm_setzero_si128());
            _mm_store_si128((__m128i*)(coefficients + 8 * row + 4), _mm_setzero_si128());
#else
            for (i32 i = 0; i < 8; i++) coefficients[8 * row + i] = 0;
#endif
        }
    }
}

inline i32 clampProduct(i64 value) {
    return (i32)(value < -(1 << 16) ? -(1 << 16) : value > (1 << 16) ? (1 << 16) : value);
}

// One DC difference the long way: a symbol not in the lookup, or bits running out. False with
// *error set when the data is bad. (The per-block steps return a flag: a message by value costs its
// whole buffer's clearing.)
bool decodeDcDifference(BitReader* r, const HuffmanTable* table, i32* difference, FixedString* error) {
    i32 index = decodeSymbolIndex(r, table);
    if (index < 0) return *error = bitsExhausted(r), false;
    if (index >= table->symbolCount) return *error = format("Invalid Huffman table symbol"), false;
    i32 size = table->symbols[index];
    if (size > 11) return *error = format("Invalid DC coefficient num bits"), false;
    u32 raw = 0;
    if (!readBits(r, size, &raw)) return *error = bitsExhausted(r), false;
    *difference = extendValue(raw, size);
    return true;
}

// One AC symbol and its value the long way. *run is -1 for the end of the block.
bool decodeAcTerm(BitReader* r, const HuffmanTable* table, i32* run, i32* value, FixedString* error) {
    i32 index = decodeSymbolIndex(r, table);
    if (index < 0) return *error = bitsExhausted(r), false;
    if (index >= table->symbolCount) return *error = format("Invalid Huffman table symbol"), false;
    u8 symbol = table->symbols[index];
    if (symbol == 0) {
        *run = -1;
        return true;
    }
    i32 bits = symbol & 15;
    if (bits > 10) return *error = format("Invalid AC coefficient num bits"), false;
    *run = symbol >> 4;
    *value = 0;
    if (bits != 0) {
        u32 raw = 0;
        if (!readBits(r, bits, &raw)) return *error = bitsExhausted(r), false;
        *value = extendValue(raw, bits);
    }
    return true;
}

// Entropy-decodes one block into dequantised coefficients in natural order, each clamped to
// +-65536 (coefficients must be zero on entry). *magnitude receives the OR of their magnitudes and
// *present bit n set for each AC coefficient n that is not zero, and bit 0. False with *error set
// when the data is bad.
bool decodeBlock(Decoder* d, BitReader* r, u32 ci, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                 const u16* q, i32* coefficients, u32* magnitude, u64* present, FixedString* error) {
    // The unread bits live in locals between refills, left-aligned in window so that each lookup
    // is one shift away from the previous symbol's length (and stores to coefficients cannot alias
    // them).
    u64 window;
    i32 count;
    auto load = [&]() {
        count = r->count;
        window = count ? r->bits << (64 - count) : 0;
    };
    auto store = [&]() {
        r->bits = count ? window >> (64 - count) : 0;
        r->count = count;
    };
    load();
    if (count < kLookupBits) {
        fillBits(r);
        load();
    }
    i32 entry = count >= kLookupBits ? dcTable->lookup[window >> (64 - kLookupBits)] : 0;
    i32 difference;
    if (entry) {
        i32 used = entry & 31;
        window <<= used;
        count -= used;
        difference = entry >> 16;
    } else {
        store();
        if (!decodeDcDifference(r, dcTable, &difference, error)) return false;
        load();
    }
    d->predictors[ci] = (i32)((u32)d->predictors[ci] + (u32)difference);
    i32 dc = clampProduct((i64)d->predictors[ci] * q[0]);
    coefficients[0] = dc;
    u32 seen = (u32)(dc < 0 ? -dc : dc);
    u64 nonzero = 1;
    for (i32 k = 1; k < 64;) {
        if (count < kLookupBits) {
            store();
            fillBits(r);
            load();
        }
        entry = count >= kLookupBits ? acTable->lookup[window >> (64 - kLookupBits)] : 0;
        i32 run, value;
        if (entry) {
            i32 used = entry & 31;
            window <<= used;
            count -= used;
            if (entry & kLookupEndOfBlock) break;
            run = (entry >> 8) & 15;
            value = entry >> 16;
        } else {
            store();
            if (!decodeAcTerm(r, acTable, &run, &value, error)) return false;
            load();
            if (run < 0) break;
        }
        k += run;
        if (k > 63) break;  // a run past the block's end: nothing more belongs to this block
        if (value) {
            i32 v = clampProduct((i64)value * q[k]);
            u32 at = kZigzagToNatural[k];
            coefficients[at] = v;
            seen |= (u32)(v < 0 ? -v : v);
            nonzero |= (u64)(v != 0) << at;
        }
        k++;
    }
    store();
    *magnitude = seen;
    *present = nonzero;
    return true;
}

struct ScanComponent {
    u32 frameIndex;
    u32 dcTable;
    u32 acTable;
};

// coefficients: zero on entry and again on return.
bool decodeOneBlock(Decoder* d, BitReader* r, const ScanComponent* sc, i32 blockX, i32 blockY, i32* coefficients,
                    FixedString* error) {
    u32 magnitude;
    u64 present;
    const u16* q = d->quant[d->components[sc->frameIndex].quantTable];
    if (!decodeBlock(d, r, sc->frameIndex, &d->dc[sc->dcTable], &d->ac[sc->acTable], q, coefficients, &magnitude,
                     &present, error)) {
        return false;
    }
    if (d->output && sc->frameIndex < d->result->channels) {
        transformAndWriteBlock(d, sc->frameIndex, coefficients, magnitude, present, blockX, blockY);
    }
    clearCoefficients(coefficients, present);
    return true;
}

// YCbCr to RGB in place over rows y0 .. y1 - 1 (and opaque alpha for four channels).
template <u32 Channels>
void convertRowsOf(u8* pixels, u64 rowStride, u64 width, u64 y0, u64 y1) {
    for (u64 y = y0; y < y1; y++) {
        u8* p = pixels + y * rowStride;
        for (u64 x = 0; x < width; x++, p += Channels) {
            convertPixel(p, p[0], p[1], p[2]);
            if (Channels == 4) p[3] = 255;
        }
    }
}

void convertRows(Decoder* d, u64 y0, u64 y1) {
    ImageResult* result = d->result;
    if (result->channels == 4) convertRowsOf<4>(d->pixels, result->rowStride, result->width, y0, y1);
    else convertRowsOf<3>(d->pixels, result->rowStride, result->width, y0, y1);
}

// Whether an interleaved scan is decoded and converted MCU by MCU: the three components once each,
// luma one or two blocks each way, each chroma component one block.
bool fusedLayout(const Decoder* d, const ScanComponent* scan, u32 scanCount) {
    if (scanCount != 3 || d->componentCount != 3) return false;
    u32 seen = 0;
    for (u32 s = 0; s < scanCount; s++) seen |= 1u << scan[s].frameIndex;
    const FrameComponent* c = d->components;
    return seen == 7 && c[0].h <= 2 && c[0].v <= 2 && c[1].h == 1 && c[1].v == 1 && c[2].h == 1 && c[2].v == 1;
}

// Decodes a scan of fusedLayout: each MCU's blocks are transformed into small planes and converted
// to RGB(A) straight into the pixels.
bool decodeFusedScan(Decoder* d, const ScanComponent* scan, BitReader* r, FixedString* error) {
    ImageResult* result = d->result;
    const FrameComponent* luma = &d->components[0];
    i64 mcuWidth = 8 * (i64)luma->h;
    i64 mcuHeight = 8 * (i64)luma->v;
    i64 across = (result->width + mcuWidth - 1) / mcuWidth;
    i64 down = (result->height + mcuHeight - 1) / mcuHeight;
    alignas(32) u8 planes[16 * 16 + 2 * 64];
    u8* targets[3] = {planes, planes + 256, planes + 256 + 64};
    YCbCrRows rows{targets[0], targets[1], targets[2], 16, 8, 0, 0, luma->h == 2, luma->v == 2};
    alignas(32) i32 coefficients[64] = {};
    for (i64 my = 0; my < down; my++) {
        i64 y0 = my * mcuHeight;
        rows.rows = (i64)result->height - y0 < mcuHeight ? (i64)result->height - y0 : mcuHeight;
        for (i64 mx = 0; mx < across; mx++) {
            for (u32 s = 0; s < 3; s++) {
                u32 ci = scan[s].frameIndex;
                const FrameComponent* fc = &d->components[ci];
                const u16* q = d->quant[fc->quantTable];
                const HuffmanTable* dcTable = &d->dc[scan[s].dcTable];
                const HuffmanTable* acTable = &d->ac[scan[s].acTable];
                i64 stride = ci == 0 ? 16 : 8;
                for (i32 v = 0; v < fc->v; v++) {
                    for (i32 h = 0; h < fc->h; h++) {
                        u32 magnitude;
                        u64 present;
                        if (!decodeBlock(d, r, ci, dcTable, acTable, q, coefficients, &magnitude, &present, error)) {
                            return false;
                        }
                        transformBlock(d, targets[ci] + v * 8 * stride + h * 8, stride, coefficients, magnitude, present);
                        clearCoefficients(coefficients, present);
                    }
                }
            }
            i64 x0 = mx * mcuWidth;
            rows.count = (i64)result->width - x0 < mcuWidth ? (i64)result->width - x0 : mcuWidth;
            convertYCbCrRows(d->path, d->pixels + y0 * result->rowStride + x0 * result->channels, result->rowStride,
                             result->channels, &rows);
        }
    }
    return true;
}

// Decodes the entropy-coded data of one scan from *position, leaving the position after the last byte
// whose bits were used.
FixedString decodeScan(Decoder* d, const ScanComponent* scan, u32 scanCount, i64* position) {
    ProfilingScope scope(kScanRegion);
    BitReader r{};
    r.data = d->bytes;
    r.position = *position;
    r.length = d->length;
    ImageResult* result = d->result;
    FixedString error{};
    alignas(32) i32 coefficients[64] = {};
    if (scanCount == 1) {
        // A single-component scan is not interleaved: its blocks cover the component's own grid.
        const FrameComponent* fc = &d->components[scan[0].frameIndex];
        i64 componentWidth = ((i64)result->width * fc->h + d->hmax - 1) / d->hmax;
        i64 componentHeight = ((i64)result->height * fc->v + d->vmax - 1) / d->vmax;
        i64 across = (componentWidth + 7) / 8;
        i64 down = (componentHeight + 7) / 8;
        for (i64 by = 0; by < down && !error.length; by++) {
            for (i64 bx = 0; bx < across; bx++) {
                if (!decodeOneBlock(d, &r, &scan[0], (i32)bx, (i32)by, coefficients, &error)) break;
            }
        }
    } else if (scanCount > 1 && d->output && !d->converted && result->channels >= 3 && fusedLayout(d, scan, scanCount)) {
        if (decodeFusedScan(d, scan, &r, &error)) d->converted = true;
    } else if (scanCount > 1) {
        i64 mcuWidth = 8 * (i64)d->hmax;
        i64 mcuHeight = 8 * (i64)d->vmax;
        i64 across = (result->width + mcuWidth - 1) / mcuWidth;
        i64 down = (result->height + mcuHeight - 1) / mcuHeight;
        // A scan that holds all three colour components converts each row of MCUs to RGB as soon as
        // it is decoded, while its pixels are still in the cache.
        bool convert = d->output && !d->converted && scanCount == 3 && d->componentCount == 3 && result->channels >= 3;
        for (i64 my = 0; my < down && !error.length; my++) {
            for (i64 mx = 0; mx < across && !error.length; mx++) {
                for (u32 s = 0; s < scanCount && !error.length; s++) {
                    const FrameComponent* fc = &d->components[scan[s].frameIndex];
                    for (i32 v = 0; v < fc->v && !error.length; v++) {
                        for (i32 h = 0; h < fc->h; h++) {
                            if (!decodeOneBlock(d, &r, &scan[s], (i32)(mx * fc->h + h), (i32)(my * fc->v + v),
                                                coefficients, &error)) {
                                break;
                            }
                        }
                    }
                }
            }
            if (convert && !error.length) {
                u64 y0 = (u64)(my * mcuHeight), y1 = y0 + (u64)mcuHeight;
                convertRows(d, y0, y1 < result->height ? y1 : result->height);
            }
        }
        if (convert && !error.length) d->converted = true;
    }
    if (error.length) return error;
    // Give back the whole bytes still held in the accumulator; a stuffed 0xFF took two.
    i64 p = r.position;
    for (i32 held = r.count / 8; held > 0 && p > *position; held--) {
        if (p - 2 >= *position && d->bytes[p - 1] == 0 && d->bytes[p - 2] == 0xFF) {
            p -= 2;
        } else {
            p -= 1;
        }
    }
    *position = p;
    return FixedString{};
}

FixedString readScan(Decoder* d, i64 start, i64 end, i64* position) {
    if (end - start < 1) return format("Scan header doesn't fit within segment length");
    u32 count = d->bytes[start];
    if (count > 3) return format("Scan line has more than 3 components.");
    if (end - start < 1 + 2 * (i64)count + 3) return format("Scan header doesn't fit within segment length");
    ScanComponent scan[3]{};
    for (u32 i = 0; i < count; i++) {
        u8 selector = d->bytes[start + 1 + 2 * i];
        u8 tables = d->bytes[start + 2 + 2 * i];
        bool found = false;
        for (u32 c = 0; c < d->componentCount; c++) {
            if (d->components[c].id == selector) {
                scan[i].frameIndex = c;
                found = true;
                break;
            }
        }
        if (!found) {
            return hexMessage("Didn't find 0x@ in one of the image components described at the start of the frame.",
                              selector);
        }
        scan[i].dcTable = tables >> 4;
        scan[i].acTable = tables & 15;
        if (scan[i].dcTable > 3 || scan[i].acTable > 3) {
            return formatHexIntInt("Scan component 0x@ selects Huffman tables @ and @. Expected 0-3.", selector, 2,
                                   scan[i].dcTable, scan[i].acTable);
        }
    }
    // Only sequential Huffman frames are decoded (SOF0 baseline, SOF1 extended with 8-bit samples).
    if (d->frameMarker != 192 && d->frameMarker != 193) {
        return hexMessage("Unsupported frame type 0x@.", d->frameMarker);
    }
    *position = end;
    return decodeScan(d, scan, count, position);
}

void finish(Decoder* d) {
    ImageResult* result = d->result;
    if (!d->output) return;
    u32 channels = result->channels;
    u64 width = result->width;
    if (d->componentCount == 3 && channels >= 3) {
        if (!d->converted) {
            ProfilingScope scope(kColorRegion);
            convertRows(d, 0, result->height);
        }
    } else if (d->componentCount == 3 && channels == 2) {
        for (u64 y = 0; y < result->height; y++) {
            u8* p = d->pixels + y * result->rowStride;
            for (u64 x = 0; x < width; x++) p[x * 2 + 1] = 255;
        }
    } else if (d->componentCount == 1 && channels >= 2) {
        for (u64 y = 0; y < result->height; y++) {
            u8* p = d->pixels + y * result->rowStride;
            for (u64 x = 0; x < width; x++, p += channels) {
                if (channels == 2) {
                    p[1] = 255;
                } else {
                    p[1] = p[0];
                    p[2] = p[0];
                    if (channels == 4) p[3] = 255;
                }
            }
        }
    }
    result->pixels = d->pixels;
}

FixedString decode(Decoder* d, i64 capacity) {
    const u8* bytes = d->bytes;
    i64 length = d->length;
    if (!bytes) return format("JPEG bytes pointer was NULL");
    if (length < 20) return formatInt("Insufficient bytes (@ bytes) for JPEG header (20 bytes)", length);
    if (bytes[0] != 0xFF || bytes[1] != 0xD8) return format("First two bytes weren't 0xFFD8");
    i64 p = 2;
    for (;;) {
        if (length - p < 2) return format("Insufficient bytes to read next segment marker");
        u32 marker = bytes[p++];
        if (marker == 0xFF) {
            while (p < length && bytes[p] == 0xFF) p++;
            if (p >= length) return format("Insufficient bytes to read next segment marker");
            marker = bytes[p++];
        }
        if (marker == 217) {
            finish(d);
            return FixedString{};
        }
        if ((marker >= 208 && marker <= 215) || marker == 1) {
            if (p >= length) return format("Read all segments but didn't encounter end of image (0xFFD9)");
            continue;
        }
        if (length - p < 2) return hexMessage("Insufficient bytes to read segment 0xFF@", marker);
        i64 segmentLength = (bytes[p] << 8) | bytes[p + 1];
        i64 start = p + 2;
        i64 end = p + segmentLength;
        if (segmentLength < 2 || end > length) return hexMessage("Insufficient bytes to read segment 0xFF@", marker);
        FixedString error{};
        if (marker == 219) {
            error = readQuantizationTables(d, start, end);
            p = end;
        } else if (marker == 196) {
            error = readHuffmanTables(d, start, end);
            p = end;
        } else if (marker >= 192 && marker <= 207 && marker != 200 && marker != 204) {
            error = readFrame(d, marker, start, end, capacity);
            p = end;
        } else if (marker == 218) {
            error = readScan(d, start, end, &p);
        } else {
            p = end;
        }
        if (error.length) return error;
        if (p >= length) return format("Read all segments but didn't encounter end of image (0xFFD9)");
    }
}

}  // namespace

ImageResult* parseJpegWithPath(ImageResult* result, const u8* bytes, i64 length, u8* pixels, i64 imageBufferCapacity,
                               u32 channels, u8 rowAlignment, JpegTransformPath path) {
    ProfilingScope scope(kParseRegion);
    std::memset(result, 0, sizeof *result);
    result->channels = channels;
    result->pixels = pixels;
    Decoder decoder;
    std::memset(&decoder, 0, sizeof decoder);
    decoder.result = result;
    decoder.bytes = bytes;
    decoder.length = length;
    decoder.pixels = pixels;
    decoder.output = pixels != nullptr;
    decoder.rowAlignment = rowAlignment ? rowAlignment : 1;
    decoder.path = path;
    FixedString error = decode(&decoder, imageBufferCapacity);
    if (error.length) {
        result->error = error;
        if (!decoder.output) result->pixels = nullptr;
    } else if (!decoder.output) {
        result->pixels = nullptr;
    }
    return result;
}

ImageResult* parseJpeg(ImageResult* result, const u8* bytes, i64 length, u8* pixels, i64 imageBufferCapacity,
                       u32 channels, u8 rowAlignment) {
    return parseJpegWithPath(result, bytes, length, pixels, imageBufferCapacity, channels, rowAlignment,
                             bestJpegTransformPath());
}
