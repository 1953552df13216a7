// Length-limited canonical Huffman codes: symbols sorted by frequency, the tree built by two queues
// (leaves in order, merged nodes in the order they are made), depths past the limit folded back by
// moving code space, and the lengths then handed out shortest first to the most frequent symbols.
#include <algorithm>

#include "Decoders/Deflate.h"

void buildHuffmanCodeLengths(const f32* frequencies, i32 count, u8* lengths, u64* codes, i32 maxBits) {
    if (count <= 0) return;
    if (count > kHuffmanMaxSymbols) count = kHuffmanMaxSymbols;
    i32 order[kHuffmanMaxSymbols];
    i32 used = 0;
    for (i32 i = 0; i < count; i++) {
        lengths[i] = 0;
        codes[i] = 0;
        if (frequencies[i] > 0) order[used++] = i;
    }
    if (used == 0) return;
    if (used == 1) {
        lengths[order[0]] = 1;
        return;
    }
    std::sort(order, order + used, [&](i32 a, i32 b) {
        return frequencies[a] < frequencies[b] || (frequencies[a] == frequencies[b] && a < b);
    });

    // Nodes 0..used-1 are the leaves in rising frequency, used.. the merged nodes; a merged node's
    // weight is never below an earlier one's, so the two lightest are always at the queues' fronts.
    // On equal weights a leaf goes first, which keeps the tree shallow.
    f64 weight[2 * kHuffmanMaxSymbols];
    i32 parent[2 * kHuffmanMaxSymbols];
    i32 depth[2 * kHuffmanMaxSymbols];
    for (i32 k = 0; k < used; k++) weight[k] = frequencies[order[k]];
    i32 leaf = 0;
    i32 merged = used;
    i32 next = used;
    auto take = [&]() {
        if (leaf < used && (merged >= next || weight[leaf] <= weight[merged])) return leaf++;
        return merged++;
    };
    const i32 root = 2 * used - 2;
    while (next <= root) {
        i32 a = take();
        i32 b = take();
        weight[next] = weight[a] + weight[b];
        parent[a] = next;
        parent[b] = next;
        next++;
    }
    depth[root] = 0;
    for (i32 k = root - 1; k >= 0; k--) depth[k] = depth[parent[k]] + 1;

    // Codes per length; lengths past the limit are cut to it and the overfull code space is paid back
    // one unit at a time: a longest code goes and a shorter one splits in two a level deeper.
    i32 perLength[kHuffmanMaxSymbols + 1] = {};
    i32 deepest = 0;
    for (i32 k = 0; k < used; k++) {
        perLength[depth[k]]++;
        deepest = std::max(deepest, depth[k]);
    }
    if (deepest > maxBits) {
        for (i32 d = maxBits + 1; d <= deepest; d++) {
            perLength[maxBits] += perLength[d];
            perLength[d] = 0;
        }
        u64 space = 0;
        for (i32 d = 1; d <= maxBits; d++) space += u64(perLength[d]) << (maxBits - d);
        for (; space > (u64(1) << maxBits); space--) {
            perLength[maxBits]--;
            for (i32 d = maxBits - 1; d >= 1; d--)
                if (perLength[d]) {
                    perLength[d]--;
                    perLength[d + 1] += 2;
                    break;
                }
        }
        deepest = maxBits;
    }
    i32 d = 1;
    for (i32 k = used - 1; k >= 0; k--) {
        while (perLength[d] == 0) d++;
        lengths[order[k]] = u8(d);
        perLength[d]--;
    }

    // Canonical codes: shorter codes first, rising with the symbol number within a length.
    u64 nextCode[kHuffmanMaxSymbols + 2] = {};
    i32 lengthCounts[kHuffmanMaxSymbols + 2] = {};
    for (i32 i = 0; i < count; i++) lengthCounts[lengths[i]]++;
    lengthCounts[0] = 0;
    u64 code = 0;
    for (i32 bits = 1; bits <= deepest; bits++) {
        code = (code + u64(lengthCounts[bits - 1])) << 1;
        nextCode[bits] = code;
    }
    for (i32 i = 0; i < count; i++) codes[i] = lengths[i] ? nextCode[lengths[i]]++ : 0;
}
