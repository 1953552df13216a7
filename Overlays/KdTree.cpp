// The k-d tree over one polygon ring that keeps the ear tests of the triangulation local.
#include "Overlays/VectorOverlay.h"

namespace {

inline f64 keyOf(const Vec2* points, u32 index, u32 depth) { return depth % 2 == 0 ? points[index].y : points[index].x; }

}  // namespace

i32 partitionKdTreePoints(const Vec2* points, u32* indices, i32 count, u32 depth) {
    if (count < 1) return -1;
    // Quicksort with the pending ranges on a stack of their own; the larger side is pushed and the
    // smaller one taken next, so the stack never holds more than log2(count) ranges.
    struct Range {
        i32 low, high;  // inclusive
    };
    Range stack[64];
    i32 top = 0;
    stack[top++] = {0, count - 1};
    while (top > 0) {
        Range range = stack[--top];
        while (range.low < range.high) {
            f64 pivot = keyOf(points, indices[range.low + (range.high - range.low) / 2], depth);
            i32 i = range.low, j = range.high;
            while (i <= j) {
                while (keyOf(points, indices[i], depth) < pivot) i++;
                while (keyOf(points, indices[j], depth) > pivot) j--;
                if (i <= j) {
                    u32 swap = indices[i];
                    indices[i] = indices[j];
                    indices[j] = swap;
                    i++;
                    j--;
                }
            }
            // [low, j] and [i, high] remain.
            if (j - range.low < range.high - i) {
                if (i < range.high) stack[top++] = {i, range.high};
                range.high = j;
            } else {
                if (range.low < j) stack[top++] = {range.low, j};
                range.low = i;
            }
        }
    }
    return (i32)indices[count / 2];
}

void buildKdTreeNode(const Vec2* points, u32* indices, i32 count, PolygonKdTree* tree, u32 node, i32 median,
                     u32 depth) {
    for (;;) {
        u64 lower = 2ull * node + 1, upper = 2ull * node + 2;
        // Children beyond the table are neither written nor visited: their vertices stay out of the
        // tree.
        if (lower >= kKdTreeSlots) return;
        tree->nodes[lower] = kKdTreeEmpty;
        if (upper < kKdTreeSlots) tree->nodes[upper] = kKdTreeEmpty;
        i64 bound = upper < kKdTreeSlots ? (i64)upper : (i64)kKdTreeSlots;
        if (bound > tree->nodeBound) tree->nodeBound = (i32)bound;
        u32 childDepth = depth + 1;
        i32 leftCount = median;
        if (leftCount > 0) {
            tree->nodes[lower] = (u32)partitionKdTreePoints(points, indices, leftCount, childDepth);
            buildKdTreeNode(points, indices, leftCount, tree, (u32)lower, leftCount / 2, childDepth);
        }
        i32 rightCount = count - median - 1;
        if (rightCount <= 0 || upper >= kKdTreeSlots) return;
        indices += median + 1;
        tree->nodes[upper] = (u32)partitionKdTreePoints(points, indices, rightCount, childDepth);
        count = rightCount;
        median = rightCount / 2;
        node = (u32)upper;
        depth = childDepth;
    }
}

void buildKdTree(const Vec2* points, u32 end, PolygonKdTree* tree, u32 start) {
    if (end <= start) return;
    u32 indices[kKdTreeSlots];  // 256 KiB of the caller's stack
    u32 count = end - start;
    if (count > kKdTreeSlots) count = kKdTreeSlots;
    for (u32 i = 0; i < count; i++) indices[i] = start + i;
    for (u32 i = 0; i < kKdTreeSlots; i++) tree->nodes[i] = kKdTreeEmpty;
    tree->nodeBound = 0;
    tree->nodes[0] = (u32)partitionKdTreePoints(points, indices, (i32)count, 0);
    buildKdTreeNode(points, indices, (i32)count, tree, 0, (i32)count / 2, 0);
}
