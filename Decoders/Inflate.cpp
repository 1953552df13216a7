// Resumable DEFLATE decoding. Every partial result (block header, dynamic-header step, pending symbol,
// pending length) lives in the InflateState, so input may end after any byte. While plenty of input
// and output remain, whole symbols are decoded through lookup tables 8 input bytes at a time; the
// bytes such a run took ahead are handed back before it returns, so the input position always stops
// right after the last byte whose bits were needed.
#include "Decoders/Inflate.h"

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
constexpr u16 kFastPointer = 0x8000;  // fast-table entry: the code is longer; low bits are a tree node
constexpr i32 kFastMask = (1 << kInflateFastBits) - 1;
constexpr i64 kFastOutputMargin = 258 + 8;

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

// Fills fast-table entries for every kInflateFastBits-bit window whose low bits are the code that
// leads to tree entry pair `node`, `depth` bits deep.
void fillFastTable(const i32* tree, i32 node, i32 depth, u32 prefix, u16* table) {
    for (i32 bit = 0; bit < 2; bit++) {
        i32 entry = tree[node + bit];
        u32 code = prefix | (u32(bit) << depth);
        if (entry > 0 && depth + 1 < kInflateFastBits) {
            fillFastTable(tree, entry, depth + 1, code, table);
            continue;
        }
        u16 value = entry > 0 ? u16(kFastPointer | entry) : u16(((depth + 1) << 9) | -entry);
        for (u32 index = code; index <= u32(kFastMask); index += 1u << (depth + 1)) table[index] = value;
    }
}

// Builds one tree after checking its lengths; returns false for a set that cannot be decoded safely.
bool buildCheckedTree(const u8* lengths, i32 count, i32* tree, i32 capacity, bool allowEmpty, bool* empty) {
    CodeSetKind kind = checkCodeLengths(lengths, count);
    *empty = kind == CodeSetEmpty;
    if (kind == CodeSetBroken || (kind == CodeSetEmpty && !allowEmpty)) return false;
    if (kind == CodeSetEmpty) return true;
    i32 size = buildHuffmanDecodeTree(lengths, count, tree, capacity);
    return size > 0 && size <= capacity;
}

bool buildSymbolTables(InflateState* s) {
    bool literalEmpty = false;
    bool distanceEmpty = false;
    if (!buildCheckedTree(s->literalLengths, 288, s->literalTree, kInflateLiteralTreeCapacity, false, &literalEmpty))
        return false;
    if (!buildCheckedTree(s->distanceLengths, 32, s->distanceTree, kInflateDistanceTreeCapacity, true,
                          &distanceEmpty))
        return false;
    fillFastTable(s->literalTree, 0, 0, 0, s->literalFast);
    s->hasDistanceCodes = !distanceEmpty;
    if (s->hasDistanceCodes) fillFastTable(s->distanceTree, 0, 0, 0, s->distanceFast);
    s->tablesReady = 1;
    s->headerStep = -1;
    s->treeNode = 0;
    s->haveLength = 0;
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

inline void copyMatch(u8* out, i64 position, i64 distance, i32 length) {
    u8* to = out + position;
    const u8* from = to - distance;
    if (distance >= 8) {
        // Whole 8-byte words; the last may write up to 7 bytes past the match, inside the margin.
        for (i32 i = 0; i < length; i += 8) {
            u64 word;
            std::memcpy(&word, from + i, 8);
            std::memcpy(to + i, &word, 8);
        }
    } else if (distance == 1) {
        std::memset(to, from[0], size_t(length));
    } else {
        for (i32 i = 0; i < length; i++) to[i] = from[i];
    }
}

// Decodes one symbol from the buffered bits: through the lookup table, and on down the tree for a
// code longer than the table's bits.
inline u32 fastSymbol(const u16* fast, const i32* tree, u64* bits, i32* count) {
    u32 entry = fast[*bits & kFastMask];
    if (!(entry & kFastPointer)) {
        i32 used = i32(entry >> 9);
        *bits >>= used;
        *count -= used;
        return entry & 0x1FF;
    }
    *bits >>= kInflateFastBits;
    *count -= kInflateFastBits;
    i32 node = i32(entry & 0x3FF);
    for (;;) {
        i32 next = tree[node + i32(*bits & 1)];
        *bits >>= 1;
        (*count)--;
        if (next <= 0) return u32(-next);
        node = next;
    }
}

// Decodes whole symbols while at least 8 input bytes and kFastOutputMargin output bytes remain.
// Returns -1 to let the careful path continue, or a final result.
i32 decodeFast(const u8* input, i64* position, i64 length, InflateState* s) {
    i64 pos = *position;
    const i64 entryPosition = pos;
    u64 bits = s->bitBuffer;
    i32 count = s->bitCount;
    i64 out = s->outputPosition;
    u8* output = s->output;
    const i64 outLimit = s->outputCapacity - kFastOutputMargin;
    i32 result = -1;
    while (out <= outLimit && length - pos >= 8) {
        u64 word;
        std::memcpy(&word, input + pos, 8);
        bits |= word << count;
        pos += (63 - count) >> 3;
        count |= 56;

        u32 symbol = fastSymbol(s->literalFast, s->literalTree, &bits, &count);
        if (symbol < 256) {
            output[out++] = u8(symbol);
            continue;
        }
        if (symbol == 256) {
            s->inBlock = 0;
            result = -2;
            break;
        }
        i32 lengthIndex = i32(symbol) - 257;
        i32 extra = kLengthExtra[lengthIndex];
        i32 matchLength = kLengthBase[lengthIndex] + i32(bits & ((1u << extra) - 1));
        bits >>= extra;
        count -= extra;
        if (!s->hasDistanceCodes) {
            result = InflateMalformed;
            break;
        }
        symbol = fastSymbol(s->distanceFast, s->distanceTree, &bits, &count);
        extra = kDistanceExtra[symbol];
        i64 distance = i64(kDistanceBase[symbol]) + i64(bits & ((u64(1) << extra) - 1));
        bits >>= extra;
        count -= extra;
        if (distance > out) {
            result = InflateMalformed;
            break;
        }
        copyMatch(output, out, distance, matchLength);
        out += matchLength;
    }
    // Hand back the whole bytes read ahead in this run.
    i64 rewind = count >> 3;
    if (rewind > pos - entryPosition) rewind = pos - entryPosition;
    pos -= rewind;
    count -= i32(rewind * 8);
    bits &= count ? (~u64(0) >> (64 - count)) : 0;
    *position = pos;
    s->bitBuffer = bits;
    s->bitCount = count;
    s->outputPosition = out;
    if (result == InflateMalformed) return malformed(s);
    return result;
}

// Starts a block whose 3 header bits are read.
i32 beginBlock(InflateState* s) {
    s->inBlock = 1;
    s->tablesReady = 0;
    s->treeNode = 0;
    s->haveLength = 0;
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
            bool empty = false;
            if (!buildCheckedTree(s->codeLengthCodeLengths, 19, s->literalTree, kInflateLiteralTreeCapacity, false,
                                  &empty))
                return malformed(s);
            s->headerStep = 24;
            s->treeNode = 0;
        }
    }
    const i32 total = s->literalCodeCount + s->distanceCodeCount;
    while (s->literalLengthsRead + s->distanceLengthsRead < total) {
        if (s->treeNode >= 0) {
            if (!needBits(s, input, position, length, 1)) return InflateNeedsInput;
            i32 next = s->literalTree[s->treeNode + i32(takeBits(s, 1))];
            if (next > 0) {
                s->treeNode = next;
                continue;
            }
            if (-next < 16) {
                u8 value = u8(-next);
                i32 index = s->literalLengthsRead + s->distanceLengthsRead;
                if (index < s->literalCodeCount) s->literalLengths[s->literalLengthsRead++] = value;
                else s->distanceLengths[s->distanceLengthsRead++] = value;
                s->previousLength = value;
                s->treeNode = 0;
                continue;
            }
            s->treeNode = next;
        }
        i32 symbol = -s->treeNode;
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
        s->treeNode = 0;
    }
    if (!buildSymbolTables(s)) return malformed(s);
    return -1;
}

i32 continueSymbols(const u8* input, i64* position, i64 length, InflateState* s) {
    for (;;) {
        if (s->treeNode == 0 && !s->haveLength && s->output) {
            i32 fast = decodeFast(input, position, length, s);
            if (fast == -2) return -1;  // end of block
            if (fast != -1) return fast;
        }
        if (!s->haveLength) {
            if (s->treeNode >= 0) {
                if (!needBits(s, input, position, length, 1)) return InflateNeedsInput;
                i32 next = s->literalTree[s->treeNode + i32(takeBits(s, 1))];
                if (next > 0) {
                    s->treeNode = next;
                    continue;
                }
                i32 symbol = -next;
                if (symbol < 256) {
                    s->treeNode = 0;
                    if (s->outputPosition >= s->outputCapacity) return InflateOutputFull;
                    if (s->output) s->output[s->outputPosition] = u8(symbol);
                    s->outputPosition++;
                    continue;
                }
                if (symbol == 256) {
                    s->treeNode = 0;
                    s->inBlock = 0;
                    return -1;
                }
                s->treeNode = next;
            }
            i32 lengthIndex = -s->treeNode - 257;
            i32 extra = kLengthExtra[lengthIndex];
            if (!needBits(s, input, position, length, extra)) return InflateNeedsInput;
            s->matchLength = kLengthBase[lengthIndex] + i32(takeBits(s, extra));
            s->treeNode = 0;
            s->haveLength = 1;
            if (s->outputPosition + s->matchLength > s->outputCapacity) return InflateOutputFull;
        }
        if (s->treeNode >= 0) {
            if (!s->hasDistanceCodes) return malformed(s);
            if (!needBits(s, input, position, length, 1)) return InflateNeedsInput;
            i32 next = s->distanceTree[s->treeNode + i32(takeBits(s, 1))];
            if (next > 0) {
                s->treeNode = next;
                continue;
            }
            s->distanceSymbol = -next;
            s->treeNode = -1;
        }
        i32 extra = kDistanceExtra[s->distanceSymbol];
        if (!needBits(s, input, position, length, extra)) return InflateNeedsInput;
        i64 distance = i64(kDistanceBase[s->distanceSymbol]) + i64(takeBits(s, extra));
        if (distance > s->outputPosition) return malformed(s);
        if (s->outputPosition + s->matchLength > s->outputCapacity) return InflateOutputFull;
        if (s->output) {
            u8* out = s->output + s->outputPosition;
            for (i32 i = 0; i < s->matchLength; i++) out[i] = out[i - distance];
        }
        s->outputPosition += s->matchLength;
        s->haveLength = 0;
        s->treeNode = 0;
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
