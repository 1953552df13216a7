// Resumable DEFLATE decoding. Every partial result (block header, dynamic-header step, pending length
// or distance) lives in the InflateState, so input may end after any byte. Symbols are decoded
// through lookup tables built for each block: while plenty of input and output remain, a fast loop
// refills a 64-bit bit buffer 8 input bytes at a time and copies matches by whole words, handing back
// the bytes it took ahead before it returns, so the input position always stops right after the last
// byte whose bits were needed; near the ends, symbols are decoded one at a time, taking input bytes
// only as their bits are needed.
#include "Decoders/Inflate.h"

#include <emmintrin.h>

#include <cstring>

namespace {

constexpr u16 kLengthBase[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23,  27, 31,
                                 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 258, 258};
constexpr u8 kLengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 0, 0};
constexpr u32 kDistanceBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                   49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                   2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr u8 kDistanceExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2,   3,  3,  4,  4,  5,  5,  6,  6,
                                   7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr u8 kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr i32 kTreeSizeLimit = 1 << 30;
// The fast loop writes at most one match (258 bytes) past its output check, rounded up to whole
// 8-byte words and after up to 8 bytes of a short-distance pattern, or four literals.
constexpr i64 kFastOutputMargin = 258 + 32;

// Fast-table entries: bits 0-7 the bits to take (code length plus extra bits), bits 8-11 the code
// length (the extra bits follow it), bits 16-31 the literal, length base or distance base. A
// sub-table pointer takes the main table's bits; its bits 8-11 hold the sub-table's bits and its
// value the sub-table's first entry.
constexpr u32 kEntryLiteral = 0x1000;
constexpr u32 kEntryEnd = 0x2000;  // end of block; in a distance table, no distance codes at all
constexpr u32 kEntrySubtable = 0x4000;

enum CodeSetKind { CodeSetEmpty, CodeSetUsable, CodeSetBroken };

// A set of code lengths is usable when it fills the code space exactly, or is a single code of
// length 1 (its other code decodes as symbol 0). Over-subscribed and other incomplete sets are broken.
CodeSetKind checkCodeLengths(const u8* lengths, i32 count) {
    i32 counts[16] = {};
    i32 used = 0;
    for (i32 i = 0; i < count; i++) {
        if (lengths[i] > 15) return CodeSetBroken;
        if (lengths[i]) {
            counts[lengths[i]]++;
            used++;
        }
    }
    if (used == 0) return CodeSetEmpty;
    i32 left = 1;
    for (i32 length = 1; length <= 15; length++) {
        left = left * 2 - counts[length];
        if (left < 0) return CodeSetBroken;
    }
    if (left > 0 && !(used == 1 && counts[1] == 1)) return CodeSetBroken;
    return CodeSetUsable;
}

inline u32 tableEntry(u32 value, u32 flags, i32 codeLength, i32 extra) {
    return (value << 16) | flags | u32(codeLength << 8) | u32(codeLength + extra);
}

u32 literalEntry(i32 symbol, i32 codeLength) {
    if (symbol < 256) return tableEntry(u32(symbol), kEntryLiteral, codeLength, 0);
    if (symbol == 256) return tableEntry(0, kEntryEnd, codeLength, 0);
    return tableEntry(kLengthBase[symbol - 257], 0, codeLength, kLengthExtra[symbol - 257]);
}

// What a table's symbols are: literals and lengths, distances, or code lengths (the symbol itself).
enum TableKind { TableLiterals, TableDistances, TableCodeLengths };
// The code-length code's codes are at most 7 bits long.
constexpr i32 kCodeLengthTableBits = 7;

u32 distanceEntry(i32 symbol, i32 codeLength) {
    return tableEntry(kDistanceBase[symbol], 0, codeLength, kDistanceExtra[symbol]);
}

// Builds the fast table of a usable code set (see checkCodeLengths): codes up to rootBits long fill
// every main entry whose low bits they are; longer codes sharing their first rootBits bits get a
// sub-table as deep as the longest of them. A lone code of length 1 leaves its other code to symbol
// 0, as the decoding tree does. Returns false when the tables would pass capacity.
bool buildFastTable(const u8* lengths, i32 count, i32 rootBits, TableKind kind, u32* table, i32 capacity) {
    i32 counts[16] = {};
    for (i32 i = 0; i < count; i++) counts[lengths[i]]++;
    counts[0] = 0;
    i32 offsets[16] = {};
    for (i32 length = 1; length < 15; length++) offsets[length + 1] = offsets[length] + counts[length];
    u16 sorted[288];
    i32 used = 0;
    for (i32 i = 0; i < count; i++)
        if (lengths[i]) {
            sorted[offsets[lengths[i]]++] = u16(i);
            used++;
        }
    // Canonical codes, bit-reversed: the decoder sees a code's first bit lowest.
    u32 nextCode[16] = {};
    u32 code = 0;
    for (i32 length = 1; length <= 15; length++) {
        code = (code + u32(counts[length - 1])) << 1;
        nextCode[length] = code;
    }
    u16 reversed[288];
    for (i32 k = 0; k < used; k++) {
        const i32 length = lengths[sorted[k]];
        u32 r = 0;
        for (u32 c = nextCode[length]++, i = 0; i < u32(length); i++, c >>= 1) r = (r << 1) | (c & 1);
        reversed[k] = u16(r);
    }
    auto entryOf = [kind](i32 symbol, i32 length) {
        return kind == TableLiterals    ? literalEntry(symbol, length)
               : kind == TableDistances ? distanceEntry(symbol, length)
                                        : tableEntry(u32(symbol), 0, length, 0);
    };
    const i32 rootSize = 1 << rootBits;
    const u32 rootMask = u32(rootSize - 1);
    if (used == 1)
        for (i32 i = 0; i < rootSize; i++) table[i] = entryOf(0, 1);
    i32 k = 0;
    for (; k < used && lengths[sorted[k]] <= rootBits; k++) {
        const i32 length = lengths[sorted[k]];
        for (u32 i = reversed[k]; i < u32(rootSize); i += 1u << length) table[i] = entryOf(sorted[k], length);
    }
    // Longer codes sharing their first rootBits bits are neighbours in canonical order, longest last.
    i32 tableEnd = rootSize;
    while (k < used) {
        const u32 prefix = reversed[k] & rootMask;
        i32 last = k;
        while (last + 1 < used && (reversed[last + 1] & rootMask) == prefix) last++;
        const i32 subBits = lengths[sorted[last]] - rootBits;
        if (tableEnd + (1 << subBits) > capacity) return false;
        table[prefix] = tableEntry(u32(tableEnd), kEntrySubtable, subBits, rootBits - subBits);
        for (; k <= last; k++) {
            const i32 subLength = lengths[sorted[k]] - rootBits;
            for (u32 i = u32(reversed[k]) >> rootBits; i < (1u << subBits); i += 1u << subLength)
                table[tableEnd + i32(i)] = entryOf(sorted[k], subLength);
        }
        tableEnd += 1 << subBits;
    }
    return true;
}

// Checks the block's code sets and builds their tables.
bool buildSymbolTables(InflateState* s) {
    if (checkCodeLengths(s->literalLengths, 288) != CodeSetUsable) return false;
    CodeSetKind distances = checkCodeLengths(s->distanceLengths, 32);
    if (distances == CodeSetBroken) return false;
    s->hasDistanceCodes = distances != CodeSetEmpty;
    if (!buildFastTable(s->literalLengths, 288, kInflateLiteralTableBits, TableLiterals, s->literalTable,
                        kInflateLiteralTableCapacity))
        return false;
    if (s->hasDistanceCodes && !buildFastTable(s->distanceLengths, 32, kInflateDistanceTableBits, TableDistances,
                                               s->distanceTable, kInflateDistanceTableCapacity))
        return false;
    // Without distance codes, every distance entry stops the fast loop as malformed.
    if (!s->hasDistanceCodes)
        for (i32 i = 0; i < 1 << kInflateDistanceTableBits; i++) s->distanceTable[i] = kEntryEnd;
    s->headerStep = -1;
    s->haveLength = 0;
    s->pendingEntry = 0;
    return true;
}

// Makes sure n bits are buffered, taking one input byte at a time; false when the input ends first.
inline bool needBits(InflateState* s, const u8* input, i64* position, i64 length, i32 n) {
    while (s->bitCount < n) {
        if (*position >= length) return false;
        s->bitBuffer |= u64(input[*position]) << s->bitCount;
        (*position)++;
        s->bitCount += 8;
    }
    return true;
}

inline u32 takeBits(InflateState* s, i32 n) {
    u32 value = u32(s->bitBuffer & ((u64(1) << n) - 1));
    s->bitBuffer >>= n;
    s->bitCount -= n;
    return value;
}

i32 malformed(InflateState* s) {
    s->inBlock = 1;
    s->blockType = 3;
    return InflateMalformed;
}

inline u64 loadWord(const u8* p) {
    u64 word;
    std::memcpy(&word, p, 8);
    return word;
}

inline void storeWord(u8* p, u64 word) { std::memcpy(p, &word, 8); }

// Copies a match by whole words: 16 bytes at a time when the distance allows, else 8. The last word
// may write up to 15 bytes past the match, and a distance under 8 first writes 8 bytes one at a
// time, all inside the fast loop's output margin.
inline void copyMatch(u8* to, u64 distance, u32 length) {
    const u8* from = to - distance;
    u8* const end = to + length;
    if (distance >= 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16), _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 16)));
        to += 32;
        from += 32;
        while (to < end) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
            to += 16;
            from += 16;
        }
        return;
    }
    if (distance >= 8) {
        storeWord(to, loadWord(from));
        storeWord(to + 8, loadWord(from + 8));
        to += 16;
        from += 16;
        while (to < end) {
            storeWord(to, loadWord(from));
            to += 8;
            from += 8;
        }
        return;
    }
    if (distance == 1) {
        const u64 pattern = u64(from[0]) * 0x0101010101010101ull;
        for (; to < end; to += 8) storeWord(to, pattern);
        return;
    }
    // The first 8 bytes one at a time; after them the bytes repeat every whole number of periods
    // of at least 8, which whole words can copy.
    for (i32 i = 0; i < 8; i++) to[i] = from[i];
    static constexpr u8 kStride[8] = {0, 8, 8, 9, 8, 10, 12, 14};
    const u64 stride = kStride[distance];
    for (to += 8; to < end; to += 8) storeWord(to, loadWord(to - stride));
}

inline u64 lowBits(u64 bits, u32 count) { return bits & ~(~u64(0) << count); }

// Decodes whole symbols while at least 8 input bytes and kFastOutputMargin output bytes remain. Each
// round starts with at least 56 bits buffered, enough for a length and a distance with their extra
// bits, or for four literals from the main table, and with the table entry of the next bits looked
// up. Returns -1 to let the careful path continue, -2 at the end of the block, InflatePaused, or
// InflateMalformed.
__attribute__((always_inline)) inline i32 decodeFastBody(const u8* input, i64* position, i64 length,
                                                          InflateState* s) {
    const u8* in = input + *position;
    const u8* const inEntry = in;
    const u8* const inLast = input + length - 8;
    u64 bits = s->bitBuffer;
    u32 count = u32(s->bitCount);
    u8* const output = s->output;
    u8* out = output + s->outputPosition;
    i64 limit = s->outputCapacity - kFastOutputMargin;
    const bool pausing = s->outputPause > 0 && s->outputPause < limit + 1;
    if (pausing) limit = s->outputPause - 1;
    if (limit < 0 || out > output + limit) return pausing ? InflatePaused : -1;
    u8* const outLast = output + limit;
    const u32* const literalTable = s->literalTable;
    const u32* const distanceTable = s->distanceTable;
    constexpr u32 kLiteralMask = (1u << kInflateLiteralTableBits) - 1;
    constexpr u32 kDistanceMask = (1u << kInflateDistanceTableBits) - 1;
    i32 result = -1;
#define ORVIK_REFILL()                    \
    bits |= loadWord(in) << count;        \
    in += (63 - count) >> 3;              \
    count |= 56
#define ORVIK_TAKE(entry)    \
    bits >>= (entry) & 0xFF; \
    count -= (entry) & 0xFF
    ORVIK_REFILL();
    u32 entry = literalTable[bits & kLiteralMask];
    for (;;) {
        if (entry & kEntryLiteral) {
            ORVIK_TAKE(entry);
            *out++ = u8(entry >> 16);
            entry = literalTable[bits & kLiteralMask];
            if (entry & kEntryLiteral) {
                ORVIK_TAKE(entry);
                *out++ = u8(entry >> 16);
                entry = literalTable[bits & kLiteralMask];
                if (entry & kEntryLiteral) {
                    ORVIK_TAKE(entry);
                    *out++ = u8(entry >> 16);
                    entry = literalTable[bits & kLiteralMask];
                    if (entry & kEntryLiteral) {
                        ORVIK_TAKE(entry);
                        *out++ = u8(entry >> 16);
                        entry = literalTable[bits & kLiteralMask];
                    }
                }
            }
            // At least 12 bits are left, so the entry stays right across the refill.
            if (out > outLast || in > inLast) break;
            ORVIK_REFILL();
            continue;
        }
        if (entry & (kEntrySubtable | kEntryEnd)) [[unlikely]] {
            if (entry & kEntrySubtable) {
                bits >>= kInflateLiteralTableBits;
                count -= kInflateLiteralTableBits;
                entry = literalTable[(entry >> 16) + lowBits(bits, (entry >> 8) & 15)];
                if (entry & kEntryLiteral) {
                    ORVIK_TAKE(entry);
                    *out++ = u8(entry >> 16);
                    entry = literalTable[bits & kLiteralMask];
                    if (out > outLast || in > inLast) break;
                    ORVIK_REFILL();
                    continue;
                }
            }
            if (entry & kEntryEnd) {
                ORVIK_TAKE(entry);
                s->inBlock = 0;
                result = -2;
                break;
            }
        }
        const u32 matchLength = (entry >> 16) + u32(lowBits(bits, entry & 0xFF) >> ((entry >> 8) & 15));
        ORVIK_TAKE(entry);
        entry = distanceTable[bits & kDistanceMask];
        if (entry & (kEntrySubtable | kEntryEnd)) [[unlikely]] {
            if (entry & kEntryEnd) {  // the block has no distance codes
                result = InflateMalformed;
                break;
            }
            bits >>= kInflateDistanceTableBits;
            count -= kInflateDistanceTableBits;
            entry = distanceTable[(entry >> 16) + lowBits(bits, (entry >> 8) & 15)];
        }
        const u64 distance = (entry >> 16) + (lowBits(bits, entry & 0xFF) >> ((entry >> 8) & 15));
        ORVIK_TAKE(entry);
        if (distance > u64(out - output)) {
            result = InflateMalformed;
            break;
        }
        if (in > inLast) {
            copyMatch(out, distance, matchLength);
            out += matchLength;
            break;
        }
        // The next entry is looked up before the copy, so the two overlap.
        ORVIK_REFILL();
        entry = literalTable[bits & kLiteralMask];
        copyMatch(out, distance, matchLength);
        out += matchLength;
        if (out > outLast) break;
    }
#undef ORVIK_REFILL
#undef ORVIK_TAKE
    if (result == -1 && pausing && out > outLast) result = InflatePaused;
    // Hand back the whole bytes read ahead in this run.
    i64 rewind = count >> 3;
    if (rewind > in - inEntry) rewind = in - inEntry;
    in -= rewind;
    count -= u32(rewind * 8);
    bits &= count ? (~u64(0) >> (64 - count)) : 0;
    *position = in - input;
    s->bitBuffer = bits;
    s->bitCount = i32(count);
    s->outputPosition = out - output;
    if (result == InflateMalformed) return malformed(s);
    return result;
}

i32 decodeFastPortable(const u8* input, i64* position, i64 length, InflateState* s) {
    return decodeFastBody(input, position, length, s);
}

// The same loop with BMI2's single-instruction variable shifts and bit-field extraction.
__attribute__((target("bmi,bmi2"))) i32 decodeFastBmi2(const u8* input, i64* position, i64 length, InflateState* s) {
    return decodeFastBody(input, position, length, s);
}

bool cpuHasBmi2() {
    static const bool has = __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
    return has;
}

inline i32 decodeFast(const u8* input, i64* position, i64 length, InflateState* s) {
    if (length - *position < 8) return -1;
    if (!s->portableCode && cpuHasBmi2()) return decodeFastBmi2(input, position, length, s);
    return decodeFastPortable(input, position, length, s);
}

// Starts a block whose 3 header bits are read.
i32 beginBlock(InflateState* s) {
    s->inBlock = 1;
    s->haveLength = 0;
    s->pendingEntry = 0;
    if (s->blockType == 0) {
        i32 drop = s->bitCount & 7;
        s->bitBuffer >>= drop;
        s->bitCount -= drop;
        s->storedBytesRead = 0;
        return -1;
    }
    if (s->blockType == 1) {
        for (i32 i = 0; i < 288; i++) s->literalLengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        for (i32 i = 0; i < 32; i++) s->distanceLengths[i] = 5;
        if (!buildSymbolTables(s)) return malformed(s);
        return -1;
    }
    s->headerStep = 0;
    s->literalCodeCount = 0;
    s->distanceCodeCount = 0;
    s->codeLengthCodeCount = 0;
    s->literalLengthsRead = 0;
    s->distanceLengthsRead = 0;
    std::memset(s->literalLengths, 0, sizeof s->literalLengths);
    std::memset(s->distanceLengths, 0, sizeof s->distanceLengths);
    std::memset(s->codeLengthCodeLengths, 0, sizeof s->codeLengthCodeLengths);
    return -1;
}

// Takes one byte of a stored block: first whole bytes still in the bit buffer, then the input.
inline bool takeStoredByte(InflateState* s, const u8* input, i64* position, i64 length, u8* byte) {
    if (s->bitCount >= 8) {
        *byte = u8(takeBits(s, 8));
        return true;
    }
    if (*position >= length) return false;
    *byte = input[(*position)++];
    return true;
}

i32 continueStored(const u8* input, i64* position, i64 length, InflateState* s) {
    while (s->storedBytesRead < 4) {
        if (!takeStoredByte(s, input, position, length, &s->storedHeader[s->storedBytesRead])) return InflateNeedsInput;
        s->storedBytesRead++;
        if (s->storedBytesRead == 4) {
            u16 len = u16(s->storedHeader[0] | (s->storedHeader[1] << 8));
            u16 nlen = u16(s->storedHeader[2] | (s->storedHeader[3] << 8));
            if (len != u16(~nlen)) return malformed(s);
            s->storedLength = len;
        }
    }
    while (s->storedBytesRead - 4 < s->storedLength) {
        i64 remaining = s->storedLength - (s->storedBytesRead - 4);
        if (s->outputPosition >= s->outputCapacity) return InflateOutputFull;
        if (s->bitCount >= 8) {
            u8 byte = u8(takeBits(s, 8));
            if (s->output) s->output[s->outputPosition] = byte;
            s->outputPosition++;
            s->storedBytesRead++;
            continue;
        }
        i64 available = length - *position;
        if (available <= 0) return InflateNeedsInput;
        i64 n = remaining;
        if (n > available) n = available;
        if (n > s->outputCapacity - s->outputPosition) n = s->outputCapacity - s->outputPosition;
        if (s->output) std::memcpy(s->output + s->outputPosition, input + *position, size_t(n));
        *position += n;
        s->outputPosition += n;
        s->storedBytesRead += n;
    }
    s->inBlock = 0;
    return -1;
}

// Looks up the table entry of the next code, taking input bytes one at a time until the buffered bits
// hold the whole code (bits past the buffered ones are zero, and a code no longer than the buffered
// bits is the real one, as no code is the start of another). Takes no bits; *codeBits is the code's
// length. False when the input ends first.
bool peekEntry(InflateState* s, const u8* input, i64* position, i64 length, const u32* table, i32 rootBits,
               u32* entry, i32* codeBits) {
    for (;;) {
        u32 e = table[s->bitBuffer & ((1u << rootBits) - 1)];
        i32 used = 0;
        if (e & kEntrySubtable) {
            used = rootBits;
            e = table[(e >> 16) + ((s->bitBuffer >> rootBits) & ((1u << ((e >> 8) & 15)) - 1))];
        }
        used += i32((e >> 8) & 15);
        if (s->bitCount >= used) {
            *entry = e;
            *codeBits = used;
            return true;
        }
        if (*position >= length) return false;
        s->bitBuffer |= u64(input[*position]) << s->bitCount;
        (*position)++;
        s->bitCount += 8;
    }
}

// The extra bits after a length or distance code.
inline i32 entryExtraBits(u32 entry) { return i32(entry & 0xFF) - i32((entry >> 8) & 15); }

i32 continueDynamicHeader(const u8* input, i64* position, i64 length, InflateState* s) {
    while (s->headerStep >= 0 && s->headerStep < 24) {
        i32 step = s->headerStep;
        i32 n = step == 2 ? 4 : step < 2 ? 5 : 3;
        if (!needBits(s, input, position, length, n)) return InflateNeedsInput;
        u32 value = takeBits(s, n);
        if (step == 0) s->literalCodeCount = i32(value) + 257;
        else if (step == 1) s->distanceCodeCount = i32(value) + 1;
        else if (step == 2) s->codeLengthCodeCount = i32(value) + 4;
        else s->codeLengthCodeLengths[kCodeLengthOrder[step - 3]] = u8(value);
        s->headerStep++;
        if (s->headerStep >= 3 && s->headerStep - 3 == s->codeLengthCodeCount) {
            // The code-length code's table borrows the distance table, built afresh after it.
            if (checkCodeLengths(s->codeLengthCodeLengths, 19) != CodeSetUsable ||
                !buildFastTable(s->codeLengthCodeLengths, 19, kCodeLengthTableBits, TableCodeLengths, s->distanceTable,
                                kInflateDistanceTableCapacity))
                return malformed(s);
            s->headerStep = 24;
            s->pendingEntry = 0;
        }
    }
    const i32 total = s->literalCodeCount + s->distanceCodeCount;
    while (s->literalLengthsRead + s->distanceLengthsRead < total) {
        u32 entry = s->pendingEntry;
        if (!entry) {
            i32 codeBits = 0;
            if (!peekEntry(s, input, position, length, s->distanceTable, kCodeLengthTableBits, &entry, &codeBits))
                return InflateNeedsInput;
            takeBits(s, codeBits);
            const u32 symbol = entry >> 16;
            if (symbol < 16) {
                u8 value = u8(symbol);
                i32 index = s->literalLengthsRead + s->distanceLengthsRead;
                if (index < s->literalCodeCount) s->literalLengths[s->literalLengthsRead++] = value;
                else s->distanceLengths[s->distanceLengthsRead++] = value;
                s->previousLength = value;
                continue;
            }
            s->pendingEntry = entry;
        }
        i32 symbol = i32(entry >> 16);
        i32 extra = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
        if (!needBits(s, input, position, length, extra)) return InflateNeedsInput;
        i32 repeat = i32(takeBits(s, extra)) + (symbol == 16 ? 3 : symbol == 17 ? 3 : 11);
        u8 value = symbol == 16 ? s->previousLength : 0;
        if (s->literalLengthsRead + s->distanceLengthsRead + repeat > total) return malformed(s);
        for (i32 i = 0; i < repeat; i++) {
            if (s->literalLengthsRead < s->literalCodeCount) s->literalLengths[s->literalLengthsRead++] = value;
            else s->distanceLengths[s->distanceLengthsRead++] = value;
        }
        s->previousLength = value;
        s->pendingEntry = 0;
    }
    if (!buildSymbolTables(s)) return malformed(s);
    return -1;
}

// Decodes symbols one at a time where the fast loop cannot run: near the end of the input or the
// output, while counting, or with a length or distance begun in an earlier call. Nothing is taken
// for a literal or match that does not fit, so a caller may make room and call again.
i32 continueSymbols(const u8* input, i64* position, i64 length, InflateState* s) {
    for (;;) {
        if (!s->haveLength && !s->pendingEntry) {
            if (s->output) {
                i32 fast = decodeFast(input, position, length, s);
                if (fast == -2) return -1;  // end of block
                if (fast != -1) return fast;
            }
            if (s->outputPause > 0 && s->outputPosition >= s->outputPause) return InflatePaused;
        }
        if (!s->haveLength) {
            u32 entry = s->pendingEntry;
            if (!entry) {
                i32 codeBits = 0;
                if (!peekEntry(s, input, position, length, s->literalTable, kInflateLiteralTableBits, &entry, &codeBits))
                    return InflateNeedsInput;
                if (entry & kEntryLiteral) {
                    if (s->outputPosition >= s->outputCapacity) return InflateOutputFull;
                    takeBits(s, codeBits);
                    if (s->output) s->output[s->outputPosition] = u8(entry >> 16);
                    s->outputPosition++;
                    continue;
                }
                takeBits(s, codeBits);
                if (entry & kEntryEnd) {
                    s->inBlock = 0;
                    return -1;
                }
                s->pendingEntry = entry;
            }
            const i32 extra = entryExtraBits(entry);
            if (!needBits(s, input, position, length, extra)) return InflateNeedsInput;
            s->matchLength = i32(entry >> 16) + i32(takeBits(s, extra));
            s->pendingEntry = 0;
            s->haveLength = 1;
        }
        if (s->outputPosition + s->matchLength > s->outputCapacity) return InflateOutputFull;
        u32 entry = s->pendingEntry;
        if (!entry) {
            if (!s->hasDistanceCodes) return malformed(s);
            i32 codeBits = 0;
            if (!peekEntry(s, input, position, length, s->distanceTable, kInflateDistanceTableBits, &entry, &codeBits))
                return InflateNeedsInput;
            takeBits(s, codeBits);
            s->pendingEntry = entry;
        }
        const i32 extra = entryExtraBits(entry);
        if (!needBits(s, input, position, length, extra)) return InflateNeedsInput;
        const i64 distance = i64(entry >> 16) + i64(takeBits(s, extra));
        if (distance > s->outputPosition) return malformed(s);
        if (s->output) {
            u8* out = s->output + s->outputPosition;
            for (i32 i = 0; i < s->matchLength; i++) out[i] = out[i - distance];
        }
        s->outputPosition += s->matchLength;
        s->haveLength = 0;
        s->pendingEntry = 0;
    }
}

}  // namespace

i32 buildHuffmanDecodeTree(const u8* lengths, i32 count, i32* nodes, i32 capacity) {
    i32 counts[256] = {};
    i32 deepest = 0;
    for (i32 i = 0; i < count; i++) {
        counts[lengths[i]]++;
        if (lengths[i] > deepest) deepest = lengths[i];
    }
    if (deepest == 0) return 0;
    i64 levelStart = 0;
    i64 levelEntries = 2;
    for (i32 level = 1; level <= deepest; level++) {
        i64 nextStart = levelStart + levelEntries;
        bool fits = nextStart <= capacity;
        i64 leaves = counts[level];
        i64 written = 0;
        if (fits) {
            for (i32 symbol = 0; symbol < count && written < levelEntries; symbol++)
                if (lengths[symbol] == level) nodes[levelStart + written++] = -symbol;
        } else {
            written = leaves < levelEntries ? leaves : levelEntries;
        }
        i64 inner = level < deepest ? levelEntries - written : 0;
        if (fits) {
            for (i64 k = 0; k < inner; k++) {
                i64 child = nextStart + 2 * k;
                nodes[levelStart + written + k] = i32(child < kTreeSizeLimit ? child : kTreeSizeLimit);
            }
            for (i64 k = written + inner; k < levelEntries; k++) nodes[levelStart + k] = 0;
        }
        levelStart = nextStart;
        levelEntries = 2 * inner;
        if (levelStart > kTreeSizeLimit) return kTreeSizeLimit;
        if (levelEntries > kTreeSizeLimit) levelEntries = kTreeSizeLimit;
    }
    return i32(levelStart);
}

i32 inflate(const u8* input, i64* inputPosition, i64 inputLength, InflateState* state) {
    InflateState* s = state;
    for (;;) {
        if (s->inBlock && s->blockType == 3) return InflateMalformed;
        if (!s->inBlock) {
            if (s->finalBlock) return InflateDone;
            if (!needBits(s, input, inputPosition, inputLength, 3)) return InflateNeedsInput;
            u32 header = takeBits(s, 3);
            s->finalBlock = i32(header & 1);
            s->blockType = u8(header >> 1);
            if (s->blockType == 3) return malformed(s);
            i32 begun = beginBlock(s);
            if (begun >= 0) return begun;
        }
        i32 result;
        if (s->blockType == 0) result = continueStored(input, inputPosition, inputLength, s);
        else if (s->blockType == 2 && s->headerStep >= 0) result = continueDynamicHeader(input, inputPosition, inputLength, s);
        else result = continueSymbols(input, inputPosition, inputLength, s);
        if (result >= 0) return result;
    }
}
