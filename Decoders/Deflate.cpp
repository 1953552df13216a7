// DEFLATE compression as one dynamic-Huffman block: a greedy parse over a 256-entry hash of the next
// three bytes (one candidate per hash, no chains, no lazy matching), Huffman codes limited to 15 bits,
// and the code lengths run-length coded as RFC 1951 section 3.2.7 describes.
#include "Decoders/Deflate.h"

#include <cstring>

namespace {

struct HashTables {
    u8 t[3][256];
};

// Three fixed permutations of 0..255, shuffled once from a fixed seed.
constexpr HashTables makeHashTables() {
    HashTables tables{};
    u32 seed = 0x9E3779B9u;
    for (int k = 0; k < 3; k++) {
        for (int i = 0; i < 256; i++) tables.t[k][i] = u8(i);
        for (int i = 255; i > 0; i--) {
            seed = seed * 1664525u + 1013904223u;
            int j = int((seed >> 8) % u32(i + 1));
            u8 swap = tables.t[k][i];
            tables.t[k][i] = tables.t[k][j];
            tables.t[k][j] = swap;
        }
    }
    return tables;
}

constexpr HashTables kHash = makeHashTables();

constexpr u16 kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr u8 kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr u32 kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                   193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr u8 kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr u8 kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

inline i32 lengthSymbolIndex(i32 length) {
    i32 index = 28;
    while (kLengthBase[index] > length) index--;
    return index;
}

inline i32 distanceSymbol(i32 distance) {
    i32 symbol = 29;
    while (kDistanceBase[symbol] > u32(distance)) symbol--;
    return symbol;
}

inline u32 hashAt(const u8* data, i64 p) {
    return kHash.t[0][data[p]] ^ kHash.t[1][data[p + 1]] ^ kHash.t[2][data[p + 2]];
}

// The greedy parse; calls literal(byte) and match(length, distance) in stream order.
template <typename Literal, typename Match>
void greedyParse(const u8* data, i64 length, Literal literal, Match match) {
    i64 table[256];
    for (i64& entry : table) entry = -1;
    i64 p = 0;
    while (p < length) {
        if (p + 2 >= length) {
            literal(data[p]);
            p++;
            continue;
        }
        u32 hash = hashAt(data, p);
        i64 candidate = table[hash];
        if (candidate < 0 || p - candidate >= 32768 || data[candidate] != data[p] ||
            data[candidate + 1] != data[p + 1] || data[candidate + 2] != data[p + 2]) {
            literal(data[p]);
            table[hash] = p;
            p++;
            continue;
        }
        i64 matchLength = 3;
        while (matchLength < 258 && p + matchLength < length && data[candidate + matchLength] == data[p + matchLength])
            matchLength++;
        match(i32(matchLength), i32(p - candidate));
        table[hash] = p;
        for (i64 q = p + 1; q < p + matchLength && q + 2 < length; q++) table[hashAt(data, q)] = q;
        p += matchLength;
    }
}

inline u64 reverseBits(u64 code, i32 length) {
    u64 reversed = 0;
    for (i32 i = 0; i < length; i++) reversed |= ((code >> i) & 1) << (length - 1 - i);
    return reversed;
}

struct CodeLengthItem {
    u8 symbol;
    u8 extra;
};

// Index of the least (or most) frequent symbol whose length passes the test; earliest on ties.
template <typename Test>
i32 pickSymbol(const f32* frequencies, const u8* lengths, i32 count, bool mostFrequent, Test test) {
    i32 best = -1;
    for (i32 i = 0; i < count; i++) {
        if (!test(lengths[i])) continue;
        if (best < 0 || (mostFrequent ? frequencies[i] > frequencies[best] : frequencies[i] < frequencies[best])) best = i;
    }
    return best;
}

}  // namespace

void buildHuffmanCodeLengths(const f32* frequencies, i32 count, u8* lengths, u64* codes, i32 maxBits) {
    if (count <= 0) return;
    // Working memory in codes: a group number and the group's weight per symbol.
    u32* work = reinterpret_cast<u32*>(codes);
    auto group = [&](i32 i) -> u32& { return work[2 * i]; };
    auto weight = [&](i32 i) {
        f32 value;
        std::memcpy(&value, &work[2 * i + 1], 4);
        return value;
    };
    auto setWeight = [&](i32 i, f32 value) { std::memcpy(&work[2 * i + 1], &value, 4); };
    for (i32 i = 0; i < count; i++) {
        group(i) = u32(i);
        setWeight(i, frequencies[i] > 0 ? frequencies[i] : 0);
        lengths[i] = 0;
    }
    auto better = [&](i32 a, i32 b) {
        return weight(a) < weight(b) || (weight(a) == weight(b) && lengths[a] < lengths[b]);
    };
    for (i32 step = 0; step < count - 1; step++) {
        i32 p = -1;
        i32 q = -1;
        for (i32 j = 0; j < count; j++) {
            if (!(weight(j) > 0)) continue;
            if (p < 0) {
                p = j;
                continue;
            }
            if (group(j) == group(p)) continue;
            if (q < 0) {
                q = j;
                if (better(q, p)) {
                    i32 swap = p;
                    p = q;
                    q = swap;
                }
                continue;
            }
            if (group(j) == group(q)) continue;
            if (better(j, p)) {
                q = p;
                p = j;
            } else if (better(j, q)) {
                q = j;
            }
        }
        if (q < 0) {
            if (p < 0) {
                for (i32 i = 0; i < count; i++) {
                    lengths[i] = 0;
                    codes[i] = 0;
                }
                return;
            }
            if (step == 0) lengths[p] = 1;
            break;
        }
        u32 groupP = group(p);
        u32 groupQ = group(q);
        f32 merged = weight(p) + weight(q);
        for (i32 i = 0; i < count; i++) {
            if (group(i) == groupP || group(i) == groupQ) {
                group(i) = groupQ;
                setWeight(i, merged);
                lengths[i]++;
            }
        }
    }
    // Length limit: move code space from the least frequent short symbols down to the longest ones.
    for (;;) {
        i32 deepest = 0;
        for (i32 i = 0; i < count; i++)
            if (lengths[i] > deepest) deepest = lengths[i];
        if (deepest <= maxBits) break;
        i32 a = pickSymbol(frequencies, lengths, count, false, [&](u8 l) { return l >= 1 && l <= maxBits - 1; });
        if (a < 0) break;
        i32 level = ++lengths[a];
        while (level < deepest) {
            i32 b = pickSymbol(frequencies, lengths, count, true, [&](u8 l) { return l > level; });
            i32 former = lengths[b];
            lengths[b] = u8(level);
            level = former;
        }
        i32 c = pickSymbol(frequencies, lengths, count, true, [&](u8 l) { return l == deepest; });
        if (c >= 0) lengths[c]--;
    }
    // Canonical codes.
    u32 lengthCounts[256] = {};
    for (i32 i = 0; i < count; i++)
        if (lengths[i]) lengthCounts[lengths[i]]++;
    u64 nextCode[257] = {};
    u64 code = 0;
    for (i32 bits = 1; bits < 256; bits++) {
        code = (code + lengthCounts[bits - 1]) << 1;
        nextCode[bits] = code;
    }
    for (i32 i = 0; i < count; i++) codes[i] = lengths[i] ? nextCode[lengths[i]]++ : 0;
}

void deflateCompress(const u8* data, i64 length, u32 isFinal, BitWriter* out) {
    f32 literalFrequencies[288] = {};
    f32 distanceFrequencies[30] = {};
    greedyParse(
        data, length, [&](u8 byte) { literalFrequencies[byte] += 1; },
        [&](i32 matchLength, i32 distance) {
            literalFrequencies[257 + lengthSymbolIndex(matchLength)] += 1;
            distanceFrequencies[distanceSymbol(distance)] += 1;
        });
    literalFrequencies[256] += 1;

    u8 literalLengths[288];
    u64 literalCodes[288];
    u8 distanceLengths[30];
    u64 distanceCodes[30];
    buildHuffmanCodeLengths(literalFrequencies, 288, literalLengths, literalCodes, 15);
    buildHuffmanCodeLengths(distanceFrequencies, 30, distanceLengths, distanceCodes, 15);
    for (i32 i = 0; i < 288; i++) literalCodes[i] = reverseBits(literalCodes[i], literalLengths[i]);
    for (i32 i = 0; i < 30; i++) distanceCodes[i] = reverseBits(distanceCodes[i], distanceLengths[i]);

    i32 hlit = 257;
    for (i32 i = 287; i >= 257; i--)
        if (literalLengths[i]) {
            hlit = i + 1;
            break;
        }
    i32 hdist = 1;
    for (i32 i = 29; i >= 1; i--)
        if (distanceLengths[i]) {
            hdist = i + 1;
            break;
        }

    // Run-length code both length lists as one sequence.
    u8 all[288 + 30];
    std::memcpy(all, literalLengths, size_t(hlit));
    std::memcpy(all + hlit, distanceLengths, size_t(hdist));
    const i32 total = hlit + hdist;
    CodeLengthItem items[288 + 30];
    i32 itemCount = 0;
    f32 codeLengthFrequencies[19] = {};
    auto emit = [&](u8 symbol, u8 extra) {
        items[itemCount++] = {symbol, extra};
        codeLengthFrequencies[symbol] += 1;
    };
    for (i32 i = 0; i < total;) {
        u8 value = all[i];
        i32 run = 1;
        while (i + run < total && all[i + run] == value) run++;
        i32 left = run;
        if (value == 0) {
            while (left >= 3) {
                if (left <= 10) {
                    emit(17, u8(left - 3));
                    left = 0;
                } else if (left <= 138) {
                    emit(18, u8(left - 11));
                    left = 0;
                } else {
                    emit(18, 127);
                    left -= 138;
                }
            }
        } else {
            emit(value, 0);
            left--;
            while (left >= 3) {
                i32 repeat = left < 6 ? left : 6;
                emit(16, u8(repeat - 3));
                left -= repeat;
            }
        }
        while (left-- > 0) emit(value, 0);
        i += run;
    }
    u8 codeLengthLengths[19];
    u64 codeLengthCodes[19];
    buildHuffmanCodeLengths(codeLengthFrequencies, 19, codeLengthLengths, codeLengthCodes, 7);
    for (i32 i = 0; i < 19; i++) codeLengthCodes[i] = reverseBits(codeLengthCodes[i], codeLengthLengths[i]);
    i32 hclen = 4;
    for (i32 i = 18; i >= 4; i--)
        if (codeLengthLengths[kCodeLengthOrder[i]]) {
            hclen = i + 1;
            break;
        }

    appendBits(isFinal ? 1 : 0, 1, out);
    appendBits(2, 2, out);
    appendBits(u64(hlit - 257), 5, out);
    appendBits(u64(hdist - 1), 5, out);
    appendBits(u64(hclen - 4), 4, out);
    for (i32 i = 0; i < hclen; i++) appendBits(codeLengthLengths[kCodeLengthOrder[i]], 3, out);
    for (i32 i = 0; i < itemCount; i++) {
        u8 symbol = items[i].symbol;
        appendBits(codeLengthCodes[symbol], codeLengthLengths[symbol], out);
        if (symbol == 16) appendBits(items[i].extra, 2, out);
        else if (symbol == 17) appendBits(items[i].extra, 3, out);
        else if (symbol == 18) appendBits(items[i].extra, 7, out);
    }
    greedyParse(
        data, length, [&](u8 byte) { appendBits(literalCodes[byte], literalLengths[byte], out); },
        [&](i32 matchLength, i32 distance) {
            i32 index = lengthSymbolIndex(matchLength);
            appendBits(literalCodes[257 + index], literalLengths[257 + index], out);
            if (kLengthExtra[index]) appendBits(u64(matchLength - kLengthBase[index]), kLengthExtra[index], out);
            i32 symbol = distanceSymbol(distance);
            appendBits(distanceCodes[symbol], distanceLengths[symbol], out);
            if (kDistanceExtra[symbol]) appendBits(u64(distance) - kDistanceBase[symbol], kDistanceExtra[symbol], out);
        });
    appendBits(literalCodes[256], literalLengths[256], out);
}
