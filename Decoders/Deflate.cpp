// DEFLATE compression. The match finder keeps hash chains over the 32 KB window (a hash of the next
// four bytes read by one load, the chain walk bounded, matches compared eight bytes at a time) and
// parses with one-step lazy matching: a match is taken only when the match one byte on is no longer.
// The parse is cut into blocks of a fixed symbol count; each block goes out as dynamic Huffman, fixed
// Huffman or stored, whichever is shortest, through a 64-bit bit buffer stored a word at a time.
#include "Decoders/Deflate.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr i32 kWindowSize = 32768;
constexpr i32 kWindowMask = kWindowSize - 1;
// One less than the format allows: the chain link of a position 32,768 bytes back shares its slot
// with the position being searched, which has already overwritten it.
constexpr i32 kMaxDistance = kWindowSize - 1;
constexpr i32 kMinMatch = 3;
constexpr i32 kMaxMatch = 258;
constexpr i32 kMaxHashBits = 15;
constexpr i32 kBlockSymbols = 16384;
// Positions are i32 within a segment; longer inputs are compressed a segment at a time.
constexpr i64 kSegmentBytes = i64(1) << 30;

// Search effort: candidates tried per position, fewer after a good match; a match long enough is
// taken without looking one byte further, a nice one ends the search at once.
constexpr i32 kMaxChain = 48;
constexpr i32 kGoodLength = 4;
constexpr i32 kLazyLength = 8;
constexpr i32 kNiceLength = 32;
// A 3-byte match further back than this costs more bits than its three literals.
constexpr i32 kFarthestShortMatch = 4096;

constexpr u16 kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr u8 kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr u32 kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                   193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr u8 kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr u8 kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Length (minus 3) to length symbol index; distance (minus 1) to distance symbol: below 256 directly,
// above through its top bits (every distance symbol from 16 on starts at a multiple of 128).
struct SymbolTables {
    u8 lengthIndex[256];
    u8 distanceSymbol[512];
};

constexpr SymbolTables makeSymbolTables() {
    SymbolTables t{};
    for (i32 s = 0; s < 29; s++) {
        const i32 end = s == 28 ? 259 : kLengthBase[s + 1];
        for (i32 length = kLengthBase[s]; length < end; length++) t.lengthIndex[length - 3] = u8(s);
    }
    for (i32 s = 0; s < 30; s++) {
        const i32 first = i32(kDistanceBase[s]) - 1;
        const i32 last = first + (1 << kDistanceExtra[s]) - 1;
        for (i32 d = first; d <= last; d += d < 256 ? 1 : 128) t.distanceSymbol[d < 256 ? d : 256 + (d >> 7)] = u8(s);
    }
    return t;
}

constexpr SymbolTables kSymbols = makeSymbolTables();

inline i32 distanceSymbol(i32 distance) {
    const i32 d = distance - 1;
    return kSymbols.distanceSymbol[d < 256 ? d : 256 + (d >> 7)];
}

inline u32 load32(const u8* p) {
    u32 value;
    std::memcpy(&value, p, 4);
    return value;
}

inline u64 load64(const u8* p) {
    u64 value;
    std::memcpy(&value, p, 8);
    return value;
}

inline u32 reverseBits(u32 code, i32 length) {
    u32 reversed = 0;
    for (i32 i = 0; i < length; i++) reversed |= ((code >> i) & 1) << (length - 1 - i);
    return reversed;
}

// ---------------------------------------------------------------------------------------------------
// Bits out: up to 63 bits in a word, whole bytes stored eight at a time while the writer has room.

struct BitOutput {
    u64 buffer;
    i32 count;
    u8 failed;
    u8* data;  // null: measure only
    i64 length;
    i64 capacity;
};

inline void putBits(BitOutput* b, u64 value, i32 count) {
    b->buffer |= value << b->count;
    b->count += count;
}

// Moves the whole bytes of the buffer out; at most 7 bits stay.
inline void flushBits(BitOutput* b) {
    if (b->failed) {
        b->count = 0;
        b->buffer = 0;
        return;
    }
    const i64 bytes = b->count >> 3;
    if (b->capacity - b->length >= 8) {
        if (b->data) std::memcpy(b->data + b->length, &b->buffer, 8);
    } else if (b->capacity - b->length >= bytes) {
        if (b->data)
            for (i64 i = 0; i < bytes; i++) b->data[b->length + i] = u8(b->buffer >> (8 * i));
    } else {
        b->failed = 1;
        b->count = 0;
        b->buffer = 0;
        return;
    }
    b->length += bytes;
    b->buffer = bytes ? b->buffer >> (8 * bytes) : b->buffer;
    b->count &= 7;
}

// Takes over the writer's partly used last byte.
BitOutput openBits(const BitWriter* bits) {
    const ByteWriter* w = bits->writer;
    BitOutput b{0, 0, 0, w->data, w->length, w->capacity};
    if (w->length > 0 && bits->bitsUsed < 8) {
        b.length--;
        b.count = i32(bits->bitsUsed);
        if (w->data) b.buffer = w->data[b.length] & ((1u << b.count) - 1);
    }
    return b;
}

// Hands the bits back to the writer; a part byte is finished with the writer's fill bits.
void closeBits(BitOutput* b, BitWriter* bits) {
    flushBits(b);
    ByteWriter* w = bits->writer;
    if (!b->failed && b->count > 0) {
        if (b->length >= b->capacity) {
            b->failed = 1;
        } else {
            const u32 mask = (1u << b->count) - 1;
            if (b->data) b->data[b->length] = u8((u32(b->buffer) & mask) | (bits->fillByte & ~mask));
            b->length++;
        }
    }
    w->length = b->length;
    if (b->failed) {
        w->overflow = 1;
        bits->bitsUsed = 8;
        return;
    }
    bits->bitsUsed = b->count > 0 ? u32(b->count) : 8;
}

// ---------------------------------------------------------------------------------------------------
// Blocks

// A symbol of the parse: a literal byte (below 256) or distance << 8 | (length - 3).
struct Block {
    u32 symbols[kBlockSymbols];
    i32 count;
    i64 start;  // first byte of data the symbols stand for
    u32 literalFrequencies[286];
    u32 distanceFrequencies[30];
};

struct HuffmanCode {
    u32 codes[288];  // bit-reversed, ready to put
    u8 lengths[288];
};

struct FixedCodes {
    HuffmanCode literals;
    HuffmanCode distances;
};

constexpr FixedCodes makeFixedCodes() {
    FixedCodes f{};
    u8 lengths[288] = {};
    for (i32 i = 0; i < 288; i++) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    // Canonical codes of these lengths, then reversed.
    u32 next[10] = {};
    i32 counts[10] = {};
    for (i32 i = 0; i < 288; i++) counts[lengths[i]]++;
    u32 code = 0;
    for (i32 bits = 1; bits < 10; bits++) {
        code = (code + u32(bits == 1 ? 0 : counts[bits - 1])) << 1;
        next[bits] = code;
    }
    for (i32 i = 0; i < 288; i++) {
        u32 c = next[lengths[i]]++;
        u32 r = 0;
        for (i32 k = 0; k < lengths[i]; k++) r |= ((c >> k) & 1) << (lengths[i] - 1 - k);
        f.literals.codes[i] = r;
        f.literals.lengths[i] = lengths[i];
    }
    for (i32 i = 0; i < 30; i++) {
        u32 r = 0;
        for (i32 k = 0; k < 5; k++) r |= ((u32(i) >> k) & 1) << (4 - k);
        f.distances.codes[i] = r;
        f.distances.lengths[i] = 5;
    }
    return f;
}

constexpr FixedCodes kFixedCodes = makeFixedCodes();

void makeCode(const u32* frequencies, i32 count, i32 maxBits, HuffmanCode* code) {
    f32 weights[288];
    u64 canonical[288];
    for (i32 i = 0; i < count; i++) weights[i] = f32(frequencies[i]);
    buildHuffmanCodeLengths(weights, count, code->lengths, canonical, maxBits);
    for (i32 i = 0; i < count; i++) code->codes[i] = reverseBits(u32(canonical[i]), code->lengths[i]);
}

// The dynamic block header: the code-length code and the run-length coded length lists.
struct DynamicHeader {
    HuffmanCode literals;
    HuffmanCode distances;
    HuffmanCode codeLengths;
    i32 hlit;
    i32 hdist;
    i32 hclen;
    u8 items[288 + 30];  // code-length symbols
    u8 extras[288 + 30];
    i32 itemCount;
    u64 bits;  // the header's size in bits, the three block type bits included
};

void makeDynamicHeader(const Block* block, DynamicHeader* h) {
    u32 literalFrequencies[286];
    std::memcpy(literalFrequencies, block->literalFrequencies, sizeof literalFrequencies);
    literalFrequencies[256] = 1;
    makeCode(literalFrequencies, 286, 15, &h->literals);
    makeCode(block->distanceFrequencies, 30, 15, &h->distances);
    h->hlit = 257;
    for (i32 i = 285; i >= 257; i--)
        if (h->literals.lengths[i]) {
            h->hlit = i + 1;
            break;
        }
    h->hdist = 1;
    for (i32 i = 29; i >= 1; i--)
        if (h->distances.lengths[i]) {
            h->hdist = i + 1;
            break;
        }

    // Run-length code both length lists as one sequence.
    u8 all[288 + 30];
    std::memcpy(all, h->literals.lengths, size_t(h->hlit));
    std::memcpy(all + h->hlit, h->distances.lengths, size_t(h->hdist));
    const i32 total = h->hlit + h->hdist;
    u32 frequencies[19] = {};
    h->itemCount = 0;
    auto emit = [&](u8 symbol, u8 extra) {
        h->items[h->itemCount] = symbol;
        h->extras[h->itemCount++] = extra;
        frequencies[symbol]++;
    };
    for (i32 i = 0; i < total;) {
        const u8 value = all[i];
        i32 run = 1;
        while (i + run < total && all[i + run] == value) run++;
        i32 left = run;
        if (value == 0) {
            while (left >= 3) {
                if (left <= 10) {
                    emit(17, u8(left - 3));
                    left = 0;
                } else {
                    const i32 n = left < 138 ? left : 138;
                    emit(18, u8(n - 11));
                    left -= n;
                }
            }
        } else {
            emit(value, 0);
            left--;
            while (left >= 3) {
                const i32 n = left < 6 ? left : 6;
                emit(16, u8(n - 3));
                left -= n;
            }
        }
        while (left-- > 0) emit(value, 0);
        i += run;
    }
    makeCode(frequencies, 19, 7, &h->codeLengths);
    h->hclen = 4;
    for (i32 i = 18; i >= 4; i--)
        if (h->codeLengths.lengths[kCodeLengthOrder[i]]) {
            h->hclen = i + 1;
            break;
        }
    u64 bits = 3 + 5 + 5 + 4 + 3 * u64(h->hclen);
    for (i32 s = 0; s < 19; s++) bits += u64(frequencies[s]) * h->codeLengths.lengths[s];
    bits += 2 * u64(frequencies[16]) + 3 * u64(frequencies[17]) + 7 * u64(frequencies[18]);
    h->bits = bits;
}

void putDynamicHeader(const DynamicHeader* h, BitOutput* out) {
    putBits(out, 2, 2);
    putBits(out, u64(h->hlit - 257), 5);
    putBits(out, u64(h->hdist - 1), 5);
    putBits(out, u64(h->hclen - 4), 4);
    flushBits(out);
    for (i32 i = 0; i < h->hclen; i++) {
        putBits(out, h->codeLengths.lengths[kCodeLengthOrder[i]], 3);
        flushBits(out);
    }
    static constexpr u8 kExtraBits[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
    for (i32 i = 0; i < h->itemCount; i++) {
        const u8 symbol = h->items[i];
        putBits(out, h->codeLengths.codes[symbol], h->codeLengths.lengths[symbol]);
        putBits(out, h->extras[i], kExtraBits[symbol]);
        flushBits(out);
    }
}

// The block's symbols and its end-of-block code.
void putSymbols(const Block* block, const HuffmanCode* literals, const HuffmanCode* distances, BitOutput* out) {
    for (i32 i = 0; i < block->count; i++) {
        const u32 symbol = block->symbols[i];
        if (symbol < 256) {
            putBits(out, literals->codes[symbol], literals->lengths[symbol]);
        } else {
            const i32 lengthOffset = i32(symbol & 255);
            const i32 index = kSymbols.lengthIndex[lengthOffset];
            putBits(out, literals->codes[257 + index], literals->lengths[257 + index]);
            putBits(out, u64(lengthOffset + 3 - kLengthBase[index]), kLengthExtra[index]);
            const i32 distance = i32(symbol >> 8);
            const i32 d = distanceSymbol(distance);
            putBits(out, distances->codes[d], distances->lengths[d]);
            putBits(out, u64(distance) - kDistanceBase[d], kDistanceExtra[d]);
        }
        flushBits(out);
        if (out->failed) return;
    }
    putBits(out, literals->codes[256], literals->lengths[256]);
    flushBits(out);
}

// Stored blocks of at most 65,535 bytes each, the last one final when isFinal.
void putStored(const u8* data, i64 length, u32 isFinal, BitOutput* out) {
    i64 at = 0;
    do {
        const i64 n = length - at < 65535 ? length - at : 65535;
        putBits(out, isFinal && at + n == length ? 1 : 0, 1);
        putBits(out, 0, 2);
        out->count = (out->count + 7) & ~7;
        putBits(out, u64(n) | (u64(n ^ 0xFFFF) << 16), 32);
        flushBits(out);
        if (out->failed) return;
        if (out->capacity - out->length < n) {
            out->failed = 1;
            return;
        }
        if (out->data) std::memcpy(out->data + out->length, data + at, size_t(n));
        out->length += n;
        at += n;
    } while (at < length);
}

// Writes the block's symbols, which stand for data[block->start .. end), in the shortest form.
void putBlock(const Block* block, const u8* data, i64 end, u32 isFinal, BitOutput* out) {
    DynamicHeader header;
    makeDynamicHeader(block, &header);
    u64 extraBits = 0;
    for (i32 i = 0; i < 29; i++) extraBits += u64(block->literalFrequencies[257 + i]) * kLengthExtra[i];
    for (i32 i = 0; i < 30; i++) extraBits += u64(block->distanceFrequencies[i]) * kDistanceExtra[i];
    u64 dynamicBits = header.bits + extraBits + header.literals.lengths[256];
    u64 fixedBits = 3 + extraBits + kFixedCodes.literals.lengths[256];
    for (i32 i = 0; i < 286; i++) {
        const u64 f = block->literalFrequencies[i];
        dynamicBits += f * header.literals.lengths[i];
        fixedBits += f * kFixedCodes.literals.lengths[i];
    }
    for (i32 i = 0; i < 30; i++) {
        const u64 f = block->distanceFrequencies[i];
        dynamicBits += f * header.distances.lengths[i];
        fixedBits += f * 5;
    }
    const i64 bytes = end - block->start;
    const u64 storedBits = 8 * u64(bytes) + 40 * u64(bytes / 65535 + 1) + 7;
    if (storedBits < dynamicBits && storedBits < fixedBits) {
        putStored(data + block->start, bytes, isFinal, out);
        return;
    }
    putBits(out, isFinal ? 1 : 0, 1);
    if (fixedBits <= dynamicBits) {
        putBits(out, 1, 2);
        putSymbols(block, &kFixedCodes.literals, &kFixedCodes.distances, out);
    } else {
        putDynamicHeader(&header, out);
        putSymbols(block, &header.literals, &header.distances, out);
    }
}

// ---------------------------------------------------------------------------------------------------
// Match finding

struct Compressor {
    i32 head[1 << kMaxHashBits];  // newest position of each hash
    u16 previous[kWindowSize];    // distance back to the previous position of the same hash, 0: none
    Block block;
};

inline i32 matchLength(const u8* a, const u8* b, i32 length, i32 limit) {
    while (length + 8 <= limit) {
        const u64 difference = load64(a + length) ^ load64(b + length);
        if (difference) return length + (__builtin_ctzll(difference) >> 3);
        length += 8;
    }
    while (length < limit && a[length] == b[length]) length++;
    return length;
}

// The longest match for position p longer than best, walking at most chain candidates from
// candidate on; 0 when none is longer.
inline i32 longestMatch(const u8* data, i32 p, i32 candidate, i32 limit, i32 best, i32 chain, const u16* previous,
                        i32* distance) {
    if (best >= limit) return 0;
    const u8* s = data + p;
    const u32 first = load32(s) & 0xFFFFFF;
    i32 found = 0;
    for (;;) {
        const u8* c = data + candidate;
        if (c[best] == s[best] && (load32(c) & 0xFFFFFF) == first) {
            const i32 length = matchLength(s, c, 3, limit);
            if (length > best) {
                best = length;
                found = length;
                *distance = p - candidate;
                if (length >= kNiceLength || length >= limit) break;
            }
        }
        if (--chain == 0) break;
        const i32 step = previous[candidate & kWindowMask];
        candidate -= step;
        if (step == 0 || p - candidate > kMaxDistance) break;
    }
    return found;
}

void compressSegment(const u8* data, i32 n, u32 isFinal, Compressor* z, BitOutput* out) {
    i32 hashBits = 9;
    while (hashBits < kMaxHashBits && (i32(1) << hashBits) < n) hashBits++;
    const i32 hashShift = 32 - hashBits;
    std::fill(z->head, z->head + (i32(1) << hashBits), -kWindowSize - 1);
    i32* head = z->head;
    u16* previous = z->previous;
    Block* block = &z->block;
    block->count = 0;
    block->start = 0;
    std::memset(block->literalFrequencies, 0, sizeof block->literalFrequencies);
    std::memset(block->distanceFrequencies, 0, sizeof block->distanceFrequencies);

    // Positions with four bytes left are hashed. A hash of four bytes rather than three keeps the
    // chains free of candidates that end after three, which text is full of: the output is smaller
    // for the same chain length, and the search faster.
    const i32 hashEnd = n - 3;
    auto insert = [&](i32 p) {
        const u32 h = (load32(data + p) * 0x9E3779B1u) >> hashShift;
        const i32 candidate = head[h];
        head[h] = p;
        const i32 back = p - candidate;
        previous[p & kWindowMask] = back <= kMaxDistance ? u16(back) : 0;
        return candidate;
    };
    i64 covered = 0;  // bytes the symbols so far stand for
    auto startSymbol = [&]() {
        if (block->count < kBlockSymbols) return;
        putBlock(block, data, covered, 0, out);
        block->count = 0;
        block->start = covered;
        std::memset(block->literalFrequencies, 0, sizeof block->literalFrequencies);
        std::memset(block->distanceFrequencies, 0, sizeof block->distanceFrequencies);
    };
    auto literal = [&](u8 byte) {
        startSymbol();
        block->symbols[block->count++] = byte;
        block->literalFrequencies[byte]++;
        covered++;
    };

    i32 p = 0;
    i32 pendingLength = 0;  // the match found at p - 1, not yet written
    i32 pendingDistance = 0;
    bool pendingLiteral = false;  // data[p - 1] not yet written
    while (p < n) {
        i32 length = 0;
        i32 distance = 0;
        if (p < hashEnd) {
            const i32 candidate = insert(p);
            if (pendingLength < kLazyLength && p - candidate <= kMaxDistance) {
                const i32 limit = n - p < kMaxMatch ? n - p : kMaxMatch;
                const i32 chain = pendingLength >= kGoodLength ? kMaxChain / 4 : kMaxChain;
                length = longestMatch(data, p, candidate, limit, pendingLength > kMinMatch - 1 ? pendingLength : kMinMatch - 1,
                                      chain, previous, &distance);
                if (length == kMinMatch && distance > kFarthestShortMatch) length = 0;
            }
        }
        if (pendingLength >= kMinMatch && length <= pendingLength) {
            startSymbol();
            block->symbols[block->count++] = u32(pendingDistance) << 8 | u32(pendingLength - kMinMatch);
            block->literalFrequencies[257 + kSymbols.lengthIndex[pendingLength - kMinMatch]]++;
            block->distanceFrequencies[distanceSymbol(pendingDistance)]++;
            covered += pendingLength;
            const i32 end = p - 1 + pendingLength;
            const i32 insertEnd = end < hashEnd ? end : hashEnd;
            for (i32 q = p + 1; q < insertEnd; q++) insert(q);
            p = end;
            pendingLength = 0;
            pendingLiteral = false;
            continue;
        }
        if (pendingLiteral) literal(data[p - 1]);
        pendingLiteral = true;
        pendingLength = length;
        pendingDistance = distance;
        p++;
    }
    if (pendingLiteral) literal(data[n - 1]);
    putBlock(block, data, covered, isFinal, out);
}

}  // namespace

void deflateCompress(const u8* data, i64 length, u32 isFinal, BitWriter* out) {
    if (out->writer->overflow) return;
    if (length < 0) length = 0;
    if (length == 0 && !isFinal) return;
    BitOutput bits = openBits(out);
    Compressor compressor;
    i64 at = 0;
    do {
        const i64 n = length - at < kSegmentBytes ? length - at : kSegmentBytes;
        compressSegment(data + at, i32(n), isFinal && at + n == length, &compressor, &bits);
        at += n;
    } while (at < length && !bits.failed);
    closeBits(&bits, out);
}
