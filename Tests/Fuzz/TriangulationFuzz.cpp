// Fuzzes the ear clipping on rings of points of a small grid, where vertices repeat, fall on other
// edges and line up in runs: every triangle names ring vertices and turns the ring's way, the count
// stays within its bound, and a ring cut to the end is covered by triangles of its own area.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Core/GeometryTriangulation.h"
#include "Overlays/VectorOverlay.h"

namespace {

f64 twiceArea(Vec2 a, Vec2 b, Vec2 c) { return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static PolygonKdTree* tree = (PolygonKdTree*)std::calloc(1, sizeof(PolygonKdTree));
    if (size < 2) return 0;
    u32 clockwise = data[0] & 1;
    u32 start = (data[0] >> 1) & 3;
    // A coarse grid of 16 x 16 points, or a finer one of 256 x 256 from two bytes a point.
    bool fine = (data[0] & 8) != 0;
    std::vector<Vec2> ring(start, Vec2{-1, -1});
    for (size_t i = 1; i < size && ring.size() < 3000;) {
        if (fine) {
            if (i + 1 >= size) break;
            ring.push_back(Vec2{(f64)data[i], (f64)data[i + 1]});
            i += 2;
        } else {
            ring.push_back(Vec2{(f64)(data[i] & 15), (f64)(data[i] >> 4)});
            i += 1;
        }
    }
    i32 n = (i32)ring.size();
    if (n - (i32)start < 3) return 0;
    i32 end = n - (i32)start - 2;
    buildKdTree(ring.data(), (u32)n, tree, start);
    std::vector<u16> triangles(3 * (size_t)end);
    i32 made = triangulatePolygon(ring.data(), n, clockwise, triangles.data(), 0, end, start, tree);
    if (made < 0 || made > end) std::abort();
    f64 sum = 0;
    for (i32 t = 0; t < made; t++) {
        u16* corner = &triangles[3 * (size_t)t];
        for (i32 k = 0; k < 3; k++) {
            if (corner[k] < start || corner[k] >= n) std::abort();
        }
        f64 twice = twiceArea(ring[corner[0]], ring[corner[1]], ring[corner[2]]);
        if (clockwise ? twice > 0 : twice < 0) std::abort();
        sum += twice;
    }
    if (made == end) {
        // Grid coordinates keep every sum exact.
        f64 ringArea = 0;
        for (i32 i = (i32)start; i < n; i++) {
            Vec2 a = ring[i], b = ring[i + 1 < n ? i + 1 : start];
            ringArea += a.x * b.y - b.x * a.y;
        }
        if (sum != ringArea) std::abort();
    }
    return 0;
}
