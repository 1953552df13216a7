// Filling a large KML polygon: ear clipping with the k-d tree ear test, and the undo ring's push.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <vector>

#include "Core/GeometryTriangulation.h"
#include "Core/Undo.h"

namespace {

void buildNode(const std::vector<Vec2>& points, std::vector<u32>& slice, size_t from, size_t to, u32 node, u32 depth,
               PolygonKdTree* tree) {
    if (from >= to || 2 * node + 2 >= kKdTreeSlots) return;
    auto key = [&](u32 i) { return depth % 2 == 0 ? points[i].y : points[i].x; };
    size_t median = from + (to - from) / 2;
    std::nth_element(slice.begin() + long(from), slice.begin() + long(median), slice.begin() + long(to),
                     [&](u32 a, u32 b) { return key(a) < key(b); });
    tree->nodes[node] = slice[median];
    tree->nodeBound = std::max<i32>(tree->nodeBound, i32(2 * node + 2));
    buildNode(points, slice, from, median, 2 * node + 1, depth + 1, tree);
    buildNode(points, slice, median + 1, to, 2 * node + 2, depth + 1, tree);
}

// A wavy ring (a star with a ragged outline), counter-clockwise.
std::vector<Vec2> wavyRing(int n) {
    std::vector<Vec2> ring;
    for (int i = 0; i < n; ++i) {
        double angle = 2 * M_PI * i / n, radius = 1 + 0.3 * std::sin(angle * 37) + 0.05 * ((i * 7919) % 13) / 13.0;
        ring.push_back({radius * std::cos(angle), radius * std::sin(angle)});
    }
    return ring;
}

void triangulateWavyRing(benchmark::State& state) {
    int n = int(state.range(0));
    std::vector<Vec2> ring = wavyRing(n);
    auto tree = std::make_unique<PolygonKdTree>();
    std::fill(std::begin(tree->nodes), std::end(tree->nodes), kKdTreeEmpty);
    tree->nodeBound = 0;
    std::vector<u32> slice(ring.size());
    std::iota(slice.begin(), slice.end(), 0u);
    buildNode(ring, slice, 0, ring.size(), 0, 0, tree.get());
    std::vector<u16> triangles(3 * size_t(n));
    i32 made = 0;
    for (auto _ : state) {
        made = triangulatePolygon(ring.data(), n, 0, triangles.data(), 0, n - 2, 0, tree.get());
        benchmark::DoNotOptimize(triangles.data());
    }
    state.counters["triangles"] = made;
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(triangulateWavyRing)->Arg(100)->Arg(1000)->Arg(10000);

UndoActionResult noAction(void*, const u8*, u64, UndoRing*) { return {"None", "None", 1}; }

void pushIntoAFullRing(benchmark::State& state) {
    auto ring = std::make_unique<UndoRing>();
    *ring = UndoRing{};
    u64 size = u64(state.range(0));
    for (auto _ : state) {
        u8* payload = pushUndoAction(ring.get(), noAction, size);
        benchmark::DoNotOptimize(payload);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(pushIntoAFullRing)->Arg(8)->Arg(64)->Arg(4752);

}  // namespace
