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

i32 triangulatePolygon(const Vec2* vertices, i32 vertexCount, u32 clockwise, u16* triangles, i32 first, i32 end,
                       u32 startVertex, const PolygonKdTree* tree) {
    if (vertexCount >= static_cast<i32>(kKdTreeSlots) || first >= end) return first;
    u32 n = vertexCount > 0 ? static_cast<u32>(vertexCount) : 0;
    if (startVertex >= n) return first;
    u64 removed[kKdTreeSlots / 64] = {};
    auto isRemoved = [&](u32 i) { return (removed[i / 64] >> (i % 64)) & 1; };
    auto nextKept = [&](u32 i) {
        while (i < n && isRemoved(i)) ++i;
        return i;
    };
    auto previousKept = [&](u32 i) {
        while (i > startVertex && isRemoved(i)) --i;
        return i;
    };

    i32 count = first;
    // Cuts the corner at cur when it is an ear.
    auto tryEar = [&](u32 prev, u32 cur, u32 next) {
        Vec2 a = vertices[prev], b = vertices[cur], c = vertices[next];
        f64 cross = (c.y - b.y) * (b.x - a.x) - (c.x - b.x) * (b.y - a.y);
        // A corner that turns the ring's way is convex; a straight one (a vertex in the middle of a
        // collinear run) is cut as a triangle without area for either winding, or a clockwise
        // ring with such a run could never be finished.
        bool convex = clockwise ? cross <= 0 : cross >= 0;
        if (!convex) return false;
        Vec2 triangle[3] = {a, b, c};
        Box2 box = {std::min({a.x, b.x, c.x}), std::max({a.x, b.x, c.x}), std::min({a.y, b.y, c.y}),
                    std::max({a.y, b.y, c.y})};
        if (kdTreeHasPointInTriangle(vertices, vertexCount, triangle, tree, 0, 0, &box)) return false;
        // The triangle array holds `end` triangles; the count never passes it.
        u16* out = triangles + static_cast<i64>(count) * 3;
        out[0] = static_cast<u16>(prev), out[1] = static_cast<u16>(cur), out[2] = static_cast<u16>(next);
        ++count;
        removed[cur / 64] |= u64(1) << (cur % 64);
        return true;
    };
    u32 head = startVertex;  // the first vertex still in the ring
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
