// Ear-clipping triangulation of simple polygons (the filled areas of vector overlays), with a k-d
// tree over the polygon's vertices that keeps each ear test to the vertices near it.
#pragma once
#include "Core/GeometryTypes.h"
#include "Core/Types.h"

constexpr u32 kKdTreeSlots = 65536;
constexpr u32 kKdTreeEmpty = 0xFFFFFFFF;

// Vertex indices in implicit binary-tree order: node n's children are slots 2n + 1 (the smaller
// coordinates) and 2n + 2; kKdTreeEmpty marks an empty slot. Even depths, the root's included,
// split on y, odd depths on x. Only slots below nodeBound are visited.
struct PolygonKdTree {
    u32 nodes[kKdTreeSlots];
    i32 nodeBound;
};

// 1 when a vertex held by the subtree at `node` (at depth `level`) lies strictly inside the
// triangle; vertices on its edges, its own corners included, do not count. `box` bounds the
// triangle.
i32 kdTreeHasPointInTriangle(const Vec2* vertices, i32 vertexCount, const Vec2* triangle, const PolygonKdTree* tree,
                             u32 level, u32 node, const Box2* box);

// Cuts ears from the ring of the vertices startVertex .. vertexCount - 1 (the last joined back to
// startVertex; nothing below startVertex is touched), writing each as three u16 vertex indices from
// triangle number `first` on, and stops at triangle number `end`. The ring may touch itself, as the
// joins of holes make it do: a corner is an ear when no vertex lies strictly inside its triangle and
// no vertex on the triangle's edges (a copy of a corner included) has the ring running from it into
// the triangle. `clockwise` is 1 for a clockwise
// ring (y up), 0 for a counter-clockwise one. Returns the triangle count reached: a simple polygon of
// n vertices gives n - 2 triangles, fewer means that the walk got stuck.
i32 triangulatePolygon(const Vec2* vertices, i32 vertexCount, u32 clockwise, u16* triangles, i32 first, i32 end,
                       u32 startVertex, const PolygonKdTree* tree);
