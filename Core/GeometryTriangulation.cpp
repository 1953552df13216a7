#include "Core/GeometryTriangulation.h"

#include <algorithm>

#include "Core/Geometry.h"

i32 kdTreeHasPointInTriangle(const Vec2* vertices, i32 vertexCount, const Vec2* triangle, const PolygonKdTree* tree,
                             u32 level, u32 node, const Box2* box) {
    if (node >= kKdTreeSlots || static_cast<i64>(node) >= tree->nodeBound) return 0;
    u32 index = tree->nodes[node];
    if (index == kKdTreeEmpty || static_cast<i64>(index) >= vertexCount) return 0;
    Vec2 p = vertices[index];
    f64 coordinate = level % 2 == 0 ? p.y : p.x;
    f64 low = level % 2 == 0 ? box->minY : box->minX;
    f64 high = level % 2 == 0 ? box->maxY : box->maxX;
    u32 lower = 2 * node + 1, upper = 2 * node + 2;
    if (coordinate > high) return kdTreeHasPointInTriangle(vertices, vertexCount, triangle, tree, level + 1, lower, box);
    if (coordinate < low) return kdTreeHasPointInTriangle(vertices, vertexCount, triangle, tree, level + 1, upper, box);
    if (pointStrictlyInPolygon(&p, triangle, 3)) return 1;
    return kdTreeHasPointInTriangle(vertices, vertexCount, triangle, tree, level + 1, lower, box) ||
           kdTreeHasPointInTriangle(vertices, vertexCount, triangle, tree, level + 1, upper, box);
}

namespace {

// The first index at or after i whose bit is clear, or n when none is below n.
u32 firstKept(const u64* removed, u32 i, u32 n) {
    while (i < n) {
        u64 kept = ~removed[i / 64] >> (i % 64);
        if (kept) {
            i += (u32)__builtin_ctzll(kept);
            return i < n ? i : n;
        }
        i = (i / 64 + 1) * 64;
    }
    return n;
}

// The last index at or before i and not below low whose bit is clear, or kKdTreeEmpty when none.
u32 lastKept(const u64* removed, i64 i, u32 low) {
    while (i >= (i64)low) {
        u32 shift = 63 - (u32)(i % 64);
        u64 kept = ~removed[i / 64] << shift;
        if (kept) {
            i -= (i64)__builtin_clzll(kept);
            return i >= (i64)low ? (u32)i : kKdTreeEmpty;
        }
        i = i / 64 * 64 - 1;
    }
    return kKdTreeEmpty;
}

// Twice the signed area of abc, positive when c lies left of a->b.
f64 orientation(Vec2 a, Vec2 b, Vec2 c) { return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x); }

// What an ear test needs: the candidate triangle, its corners' indices, and the ring it is cut from
// (the kept vertices head .. n - 1, the last joined back to head).
struct EarTest {
    const Vec2* vertices;
    i32 vertexCount;
    const PolygonKdTree* tree;
    const u64* removed;
    u32 head, n;
    Vec2 triangle[3];
    u32 corners[3];
    f64 sign;  // 1 for a counter-clockwise triangle, -1 for a clockwise one
    Box2 box;
};

u32 ringNext(const EarTest* e, u32 i) {
    u32 next = firstKept(e->removed, i + 1, e->n);
    return next < e->n ? next : e->head;
}

u32 ringPrevious(const EarTest* e, u32 i) {
    u32 previous = i > e->head ? lastKept(e->removed, (i64)i - 1, e->head) : kKdTreeEmpty;
    return previous != kKdTreeEmpty ? previous : lastKept(e->removed, (i64)e->n - 1, e->head);
}

// 1 when p lies strictly inside the triangle, 0 when on its edges, -1 when outside.
i32 placeInTriangle(const EarTest* e, Vec2 p) {
    i32 onEdges = 0;
    for (i32 k = 0; k < 3; k++) {
        f64 side = orientation(e->triangle[k], e->triangle[(k + 1) % 3], p) * e->sign;
        if (side < 0) return -1;
        if (side == 0) onEdges = 1;
    }
    return onEdges ? 0 : 1;
}

// Whether the segment from p (on the triangle's edges) towards q starts into the triangle's inside:
// q lies strictly inside every edge line that p lies on.
bool entersTriangle(const EarTest* e, Vec2 p, Vec2 q) {
    if (q.x == p.x && q.y == p.y) return false;
    for (i32 k = 0; k < 3; k++) {
        Vec2 a = e->triangle[k], b = e->triangle[(k + 1) % 3];
        if (orientation(a, b, p) != 0) continue;
        if (orientation(a, b, q) * e->sign <= 0) return false;
    }
    return true;
}

// Whether the ring vertex `index` keeps the triangle from being an ear: it lies strictly inside, or
// it lies on the triangle's edges (a corner's own position included, where a join left a copy) and
// the ring runs from it into the triangle. Vertices already cut away lie outside what is left of
// the polygon, so only one strictly inside can stand in the way of a true ear; those on the edges
// are passed over.
bool blocksEar(const EarTest* e, u32 index) {
    if (index == e->corners[0] || index == e->corners[1] || index == e->corners[2]) return false;
    Vec2 p = e->vertices[index];
    i32 place = placeInTriangle(e, p);
    if (place > 0) return true;
    if (place < 0 || ((e->removed[index / 64] >> (index % 64)) & 1) || index < e->head) return false;
    return entersTriangle(e, p, e->vertices[ringNext(e, index)]) ||
           entersTriangle(e, p, e->vertices[ringPrevious(e, index)]);
}

bool kdTreeBlocksEar(const EarTest* e, u32 level, u32 node) {
    if (node >= kKdTreeSlots || static_cast<i64>(node) >= e->tree->nodeBound) return false;
    u32 index = e->tree->nodes[node];
    if (index == kKdTreeEmpty || static_cast<i64>(index) >= e->vertexCount) return false;
    Vec2 p = e->vertices[index];
    f64 coordinate = level % 2 == 0 ? p.y : p.x;
    f64 low = level % 2 == 0 ? e->box.minY : e->box.minX;
    f64 high = level % 2 == 0 ? e->box.maxY : e->box.maxX;
    u32 lower = 2 * node + 1, upper = 2 * node + 2;
    // Equal keys may lie on either side of a split.
    if (coordinate > high) return kdTreeBlocksEar(e, level + 1, lower);
    if (coordinate < low) return kdTreeBlocksEar(e, level + 1, upper);
    if (p.x >= e->box.minX && p.x <= e->box.maxX && p.y >= e->box.minY && p.y <= e->box.maxY && blocksEar(e, index)) {
        return true;
    }
    return kdTreeBlocksEar(e, level + 1, lower) || kdTreeBlocksEar(e, level + 1, upper);
}

}  // namespace

i32 triangulatePolygon(const Vec2* vertices, i32 vertexCount, u32 clockwise, u16* triangles, i32 first, i32 end,
                       u32 startVertex, const PolygonKdTree* tree) {
    if (vertexCount >= static_cast<i32>(kKdTreeSlots) || first >= end) return first;
    u32 n = vertexCount > 0 ? static_cast<u32>(vertexCount) : 0;
    if (startVertex >= n) return first;
    u64 removed[kKdTreeSlots / 64] = {};
    auto nextKept = [&](u32 i) { return firstKept(removed, i, n); };
    auto previousKept = [&](u32 i) {
        u32 kept = lastKept(removed, i, startVertex + 1);
        return kept != kKdTreeEmpty ? kept : startVertex;
    };

    i32 count = first;
    u32 head = startVertex;  // the first vertex still in the ring
    // Cuts the corner at cur when it is an ear.
    auto tryEar = [&](u32 prev, u32 cur, u32 next) {
        Vec2 a = vertices[prev], b = vertices[cur], c = vertices[next];
        f64 cross = (c.y - b.y) * (b.x - a.x) - (c.x - b.x) * (b.y - a.y);
        // A corner that turns the ring's way is convex; a straight one (a vertex in the middle of a
        // collinear run) is cut as a triangle without area for either winding, or a clockwise
        // ring with such a run could never be finished.
        bool convex = clockwise ? cross <= 0 : cross >= 0;
        if (!convex) return false;
        // A straight corner has no inside for anything to block.
        if (cross != 0) {
            EarTest test{vertices, vertexCount, tree, removed, head, n, {a, b, c}, {prev, cur, next},
                         orientation(a, b, c) > 0 ? 1.0 : -1.0,
                         Box2{std::min({a.x, b.x, c.x}), std::max({a.x, b.x, c.x}), std::min({a.y, b.y, c.y}),
                              std::max({a.y, b.y, c.y})}};
            if (kdTreeBlocksEar(&test, 0, 0)) return false;
        }
        // The triangle array holds `end` triangles; the count never passes it.
        u16* out = triangles + static_cast<i64>(count) * 3;
        out[0] = static_cast<u16>(prev), out[1] = static_cast<u16>(cur), out[2] = static_cast<u16>(next);
        ++count;
        removed[cur / 64] |= u64(1) << (cur % 64);
        return true;
    };
    for (;;) {
        bool cut = false;
        u32 prev = head;
        u32 cur = nextKept(head + 1);
        u32 next = cur < n ? nextKept(cur + 1) : n;
        while (cur < n && next < n && count < end) {
            if (tryEar(prev, cur, next)) {
                // The walk goes on past the new edge rather than fanning out from prev: every pass
                // then cuts about half of a convex run and its triangles stay small, which keeps the
                // ear tests local.
                cut = true;
                prev = next;
                cur = nextKept(next + 1);
                next = cur < n ? nextKept(cur + 1) : n;
                continue;
            }
            prev = cur;
            cur = next;
            next = nextKept(cur + 1);
        }
        if (count >= end) return count;
        if (!cut) {
            // The walk runs from the head to the last vertex; the two corners where the ring closes
            // (at the last vertex and at the head) are tried once it stalls.
            u32 second = nextKept(head + 1);
            u32 last = previousKept(n - 1);
            if (second >= n || last <= second) return count;
            u32 beforeLast = previousKept(last - 1);
            if (beforeLast == head) return count;
            if (tryEar(beforeLast, last, head)) {
                cut = true;
            } else if (tryEar(last, head, second)) {
                head = second;
                cut = true;
            }
        }
        if (!cut || count >= end) return count;
    }
}
