#include "Core/GeometryTriangulation.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "Core/Geometry.h"

namespace {

// The overlay loader builds its trees the same way: the median of each slice by y on even depths
// and x on odd ones, the smaller half to the left.
void buildNode(const std::vector<Vec2>& points, std::vector<u32>& slice, size_t from, size_t to, u32 node,
               u32 depth, PolygonKdTree* tree) {
    if (from >= to) return;
    auto key = [&](u32 i) { return depth % 2 == 0 ? points[i].y : points[i].x; };
    std::sort(slice.begin() + from, slice.begin() + to, [&](u32 a, u32 b) { return key(a) < key(b); });
    size_t median = from + (to - from) / 2;
    ASSERT_LT(2 * node + 2, kKdTreeSlots);
    tree->nodes[node] = slice[median];
    tree->nodeBound = std::max<i32>(tree->nodeBound, i32(2 * node + 2));
    buildNode(points, slice, from, median, 2 * node + 1, depth + 1, tree);
    buildNode(points, slice, median + 1, to, 2 * node + 2, depth + 1, tree);
}

void buildTree(const std::vector<Vec2>& points, PolygonKdTree* tree) {
    std::fill(std::begin(tree->nodes), std::end(tree->nodes), kKdTreeEmpty);
    tree->nodeBound = 0;
    std::vector<u32> slice(points.size());
    std::iota(slice.begin(), slice.end(), 0u);
    buildNode(points, slice, 0, points.size(), 0, 0, tree);
}

double twiceSignedArea(const std::vector<Vec2>& ring) {
    double sum = 0;
    for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) sum += ring[j].x * ring[i].y - ring[i].x * ring[j].y;
    return sum;
}

double twiceTriangleArea(Vec2 a, Vec2 b, Vec2 c) { return (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y); }

bool properlyCross(Vec2 a, Vec2 b, Vec2 c, Vec2 d) {
    double d1 = twiceTriangleArea(c, d, a), d2 = twiceTriangleArea(c, d, b);
    double d3 = twiceTriangleArea(a, b, c), d4 = twiceTriangleArea(a, b, d);
    return ((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0));
}

bool isSimple(const std::vector<Vec2>& ring) {
    size_t n = ring.size();
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = i + 1; j < n; ++j) {
            if (properlyCross(ring[i], ring[(i + 1) % n], ring[j], ring[(j + 1) % n])) return false;
        }
    }
    return true;
}

// Polygon families, all on a grid of sixths so that collinear points are exactly collinear.
std::vector<Vec2> convexPolygon(std::mt19937_64& random, int n) {
    std::uniform_real_distribution<double> unit(0, 2 * M_PI);
    std::vector<double> angles(n);
    for (double& a : angles) a = unit(random);
    std::sort(angles.begin(), angles.end());
    std::vector<Vec2> ring;
    for (double a : angles) ring.push_back({std::cos(a) * 100, std::sin(a) * 100});
    return ring;
}

std::vector<Vec2> starPolygon(std::mt19937_64& random, int n) {
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<Vec2> ring;
    for (int i = 0; i < n; ++i) {
        double angle = (i + 0.1 + 0.8 * unit(random)) * 2 * M_PI / n, radius = 20 + 80 * unit(random);
        ring.push_back({std::round(std::cos(angle) * radius) * 6, std::round(std::sin(angle) * radius) * 6});
    }
    return ring;
}

// Columns of random heights: reflex corners, and runs of collinear vertices along the base and
// wherever neighbouring columns are equally high.
std::vector<Vec2> skylinePolygon(std::mt19937_64& random, int columns) {
    std::uniform_int_distribution<int> height(1, 4);
    std::vector<int> heights(columns);
    for (int& h : heights) h = height(random);
    std::vector<Vec2> ring;
    for (int x = 0; x <= columns; ++x) ring.push_back({x * 6.0, 0});
    ring.push_back({columns * 6.0, heights[columns - 1] * 6.0});
    for (int x = columns - 1; x >= 1; --x) {
        ring.push_back({x * 6.0, heights[x] * 6.0});
        if (heights[x - 1] != heights[x]) ring.push_back({x * 6.0, heights[x - 1] * 6.0});
    }
    ring.push_back({0, heights[0] * 6.0});
    // Split some long edges into thirds.
    std::vector<Vec2> split;
    for (size_t i = 0; i < ring.size(); ++i) {
        Vec2 a = ring[i], b = ring[(i + 1) % ring.size()];
        split.push_back(a);
        if (random() % 3 == 0) {
            split.push_back({a.x + (b.x - a.x) / 3, a.y + (b.y - a.y) / 3});
            split.push_back({a.x + (b.x - a.x) * 2 / 3, a.y + (b.y - a.y) * 2 / 3});
        }
    }
    return split;
}

// Random points untangled by reversing the stretch between two crossing edges until none cross.
std::vector<Vec2> untangledPolygon(std::mt19937_64& random, int n) {
    std::uniform_int_distribution<int> coordinate(0, 60);
    std::vector<Vec2> ring;
    while (int(ring.size()) < n) {
        Vec2 p = {coordinate(random) * 6.0, coordinate(random) * 6.0};
        bool repeated = false;
        for (Vec2 q : ring) repeated |= q.x == p.x && q.y == p.y;
        if (!repeated) ring.push_back(p);
    }
    for (bool changed = true; changed;) {
        changed = false;
        for (int i = 0; i < n && !changed; ++i) {
            for (int j = i + 2; j < n && !changed; ++j) {
                if (i == 0 && j == n - 1) continue;
                if (properlyCross(ring[i], ring[i + 1], ring[j], ring[(j + 1) % n])) {
                    std::reverse(ring.begin() + i + 1, ring.begin() + j + 1);
                    changed = true;
                }
            }
        }
    }
    return ring;
}

// Checks a complete triangulation of a simple ring.
void expectValidTriangulation(const std::vector<Vec2>& ring, const u16* triangles, int count) {
    double polygonArea = std::fabs(twiceSignedArea(ring));
    double sum = 0;
    bool counterClockwise = twiceSignedArea(ring) > 0;
    for (int t = 0; t < count; ++t) {
        Vec2 corner[3] = {ring[triangles[3 * t]], ring[triangles[3 * t + 1]], ring[triangles[3 * t + 2]]};
        double area = twiceTriangleArea(corner[0], corner[1], corner[2]);
        // Every triangle keeps the ring's turning sense (or has no area at all) ...
        EXPECT_TRUE(counterClockwise ? area >= 0 : area <= 0) << "triangle " << t;
        sum += std::fabs(area);
        // ... lies inside the ring ...
        if (area != 0) {
            Vec2 centroid = {(corner[0].x + corner[1].x + corner[2].x) / 3, (corner[0].y + corner[1].y + corner[2].y) / 3};
            EXPECT_EQ(pointStrictlyInPolygon(&centroid, ring.data(), i32(ring.size())), 1) << "triangle " << t;
        }
        for (int e = 0; e < 3; ++e) {
            for (size_t i = 0; i < ring.size(); ++i) {
                EXPECT_FALSE(properlyCross(corner[e], corner[(e + 1) % 3], ring[i], ring[(i + 1) % ring.size()]))
                    << "triangle " << t << " crosses edge " << i;
            }
        }
        // ... and holds no vertex strictly inside.
        for (size_t i = 0; i < ring.size(); ++i) {
            EXPECT_EQ(pointStrictlyInPolygon(&ring[i], corner, 3), 0) << "vertex " << i << " in triangle " << t;
        }
    }
    // The triangles tile the ring.
    EXPECT_NEAR(sum, polygonArea, polygonArea * 1e-12);
}

struct Family {
    const char* name;
    std::vector<Vec2> (*make)(std::mt19937_64&, int);
    int minimum, maximum;
};

TEST(GeometryTriangulation, RandomSimplePolygonsTileExactly) {
    auto tree = std::make_unique<PolygonKdTree>();
    std::mt19937_64 random(29);
    const Family families[] = {{"convex", convexPolygon, 3, 60},
                               {"star", starPolygon, 3, 60},
                               {"skyline", skylinePolygon, 1, 14},
                               {"untangled", untangledPolygon, 4, 24}};
    for (const Family& family : families) {
        int triangulated = 0, polygons = 0;
        for (int k = 0; k < 150; ++k) {
            int size = family.minimum + int(random() % (family.maximum - family.minimum + 1));
            std::vector<Vec2> ring = family.make(random, size);
            if (!isSimple(ring) || twiceSignedArea(ring) == 0) continue;
            ++polygons;
            for (bool clockwise : {false, true}) {
                if ((twiceSignedArea(ring) < 0) != clockwise) std::reverse(ring.begin(), ring.end());
                int n = int(ring.size());
                std::vector<u16> triangles(3 * (n - 2));
                // The walk does not wrap round to the vertices before its start, so a caller whose
                // walk stalls starts again from the ring rotated by one vertex.
                int got = 0;
                std::vector<Vec2> rotated = ring;
                for (int turn = 0; turn < n && got != n - 2; ++turn) {
                    buildTree(rotated, tree.get());
                    got = triangulatePolygon(rotated.data(), n, clockwise, triangles.data(), 0, n - 2, 0, tree.get());
                    ASSERT_LE(got, n - 2);
                    if (got != n - 2) std::rotate(rotated.begin(), rotated.begin() + 1, rotated.end());
                }
                SCOPED_TRACE(testing::Message() << family.name << " polygon " << k << " of " << n
                                                << (clockwise ? " clockwise" : " counter-clockwise"));
                ASSERT_EQ(got, n - 2);
                expectValidTriangulation(rotated, triangles.data(), got);
                ++triangulated;
            }
        }
        EXPECT_GT(polygons, 100) << family.name;
        EXPECT_EQ(triangulated, 2 * polygons) << family.name;
    }
}

// A clockwise rectangle (y up) with columns of rectangular holes, each column joined to the bottom
// edge and its holes to one another by cuts along the line of their west edges, as joins of holes
// lying in line leave a ring: edges on the lines of others, vertices on edges, corners repeated.
std::vector<Vec2> ringWithJoinedHoles(std::mt19937_64& random, int columns) {
    struct Hole {
        double x0, x1, y0, y1;
    };
    std::vector<std::vector<Hole>> stacks;
    double x = 2;
    for (int c = 0; c < columns; ++c) {
        std::vector<Hole> stack;
        double width = double(1 + random() % 3), y = double(1 + random() % 3);
        int count = 1 + int(random() % 5);
        for (int k = 0; k < count; ++k) {
            double height = double(1 + random() % 3);
            // Holes of one column share their west edge's line; some are narrower than the others.
            double w = random() % 3 == 0 ? width + 1 : width;
            stack.push_back({x, x + w, y, y + height});
            y += height + double(1 + random() % 2);
        }
        stacks.push_back(stack);
        x += width + double(2 + random() % 2);
    }
    double top = 0;
    for (const std::vector<Hole>& stack : stacks) top = std::max(top, stack.back().y1 + 1 + double(random() % 2));
    std::vector<Vec2> ring = {{0, 0}, {0, top}, {x, top}, {x, 0}};
    for (int c = columns - 1; c >= 0; --c) {
        const std::vector<Hole>& stack = stacks[size_t(c)];
        double west = stack[0].x0;
        ring.push_back({west, 0});
        // Up the cut and round each hole counter-clockwise but for its west edge, to the next one...
        for (const Hole& h : stack) {
            ring.push_back({west, h.y0});
            ring.push_back({h.x1, h.y0});
            ring.push_back({h.x1, h.y1});
            ring.push_back({west, h.y1});
        }
        // ... then down again, closing every hole's west edge on the way.
        for (size_t k = stack.size(); k-- > 0;) ring.push_back({west, stack[k].y0});
        ring.push_back({west, 0});
    }
    return ring;
}

// Such rings are cut into n - 2 triangles on the first walk, none of them turned against the ring:
// the triangles' signed coverage adds up to the ring's winding everywhere, so with every one of them
// turned the ring's way they cover the polygon exactly, no hole and nothing twice.
TEST(GeometryTriangulation, HolesJoinedAlongTheLinesOfTheirEdgesAreCoveredExactly) {
    auto tree = std::make_unique<PolygonKdTree>();
    std::mt19937_64 random(41);
    for (int k = 0; k < 300; ++k) {
        std::vector<Vec2> ring = ringWithJoinedHoles(random, 1 + int(random() % 12));
        int n = int(ring.size());
        ASSERT_LT(twiceSignedArea(ring), 0);
        // Any vertex may come first.
        std::rotate(ring.begin(), ring.begin() + random() % ring.size(), ring.end());
        std::vector<u16> triangles(3 * size_t(n - 2));
        buildTree(ring, tree.get());
        int got = triangulatePolygon(ring.data(), n, 1, triangles.data(), 0, n - 2, 0, tree.get());
        SCOPED_TRACE(testing::Message() << "ring " << k << " of " << n);
        ASSERT_EQ(got, n - 2);
        double sum = 0;
        for (int t = 0; t < got; ++t) {
            double twice = twiceTriangleArea(ring[triangles[3 * t]], ring[triangles[3 * t + 1]], ring[triangles[3 * t + 2]]);
            EXPECT_LE(twice, 0) << "triangle " << t;
            sum += twice;
        }
        EXPECT_DOUBLE_EQ(sum, twiceSignedArea(ring));
    }
}

TEST(GeometryTriangulation, ConvexQuadrilateralAndLimits) {
    auto tree = std::make_unique<PolygonKdTree>();
    std::vector<Vec2> quad = {{0, 0}, {2, 0}, {2, 1}, {0, 1}};
    buildTree(quad, tree.get());
    u16 triangles[3 * 7];
    EXPECT_EQ(triangulatePolygon(quad.data(), 4, 0, triangles, 0, 2, 0, tree.get()), 2);
    EXPECT_EQ(triangles[0], 0);
    EXPECT_EQ(triangles[1], 1);
    EXPECT_EQ(triangles[2], 2);
    // The wrong winding flag finds no convex corner.
    EXPECT_EQ(triangulatePolygon(quad.data(), 4, 1, triangles, 0, 2, 0, tree.get()), 0);
    // Counting on from earlier triangles, and nothing to do when first has reached end.
    EXPECT_EQ(triangulatePolygon(quad.data(), 4, 0, triangles, 5, 7, 0, tree.get()), 7);
    EXPECT_EQ(triangles[15], 0);
    EXPECT_EQ(triangles[16], 1);
    EXPECT_EQ(triangulatePolygon(quad.data(), 4, 0, triangles, 3, 3, 0, tree.get()), 3);
    EXPECT_EQ(triangulatePolygon(quad.data(), 65536, 0, triangles, 0, 2, 0, tree.get()), 0);

    // A pentagon with room for one triangle gets exactly one: nothing is written past `end`.
    std::vector<Vec2> pentagon = {{0, 0}, {2, 0}, {3, 1}, {1, 2}, {-1, 1}};
    buildTree(pentagon, tree.get());
    u16 one[3 + 3] = {7, 7, 7, 7, 7, 7};
    EXPECT_EQ(triangulatePolygon(pentagon.data(), 5, 0, one, 0, 1, 0, tree.get()), 1);
    EXPECT_EQ(one[3], 7);
    EXPECT_EQ(one[5], 7);

    // A vertex in the way of an ear: the dent of an arrowhead.
    std::vector<Vec2> arrow = {{0, 0}, {4, 0}, {2, 1}, {2, 3}};
    buildTree(arrow, tree.get());
    Vec2 ear[3] = {arrow[0], arrow[1], arrow[3]};
    Box2 box = {0, 4, 0, 3};
    EXPECT_EQ(kdTreeHasPointInTriangle(arrow.data(), 4, ear, tree.get(), 0, 0, &box), 1);
    Vec2 corner[3] = {arrow[0], arrow[1], arrow[2]};
    Box2 cornerBox = {0, 4, 0, 1};
    EXPECT_EQ(kdTreeHasPointInTriangle(arrow.data(), 4, corner, tree.get(), 0, 0, &cornerBox), 0);
}

TEST(GeometryTriangulation, TreeQueryMatchesBruteForce) {
    auto tree = std::make_unique<PolygonKdTree>();
    std::mt19937_64 random(31);
    std::uniform_int_distribution<int> c(0, 40);
    for (int round = 0; round < 50; ++round) {
        std::vector<Vec2> points(1 + random() % 300);
        for (Vec2& p : points) p = {double(c(random)), double(c(random))};
        buildTree(points, tree.get());
        for (int q = 0; q < 100; ++q) {
            Vec2 t[3] = {{double(c(random)), double(c(random))}, {double(c(random)), double(c(random))},
                         {double(c(random)), double(c(random))}};
            Box2 box = {std::min({t[0].x, t[1].x, t[2].x}), std::max({t[0].x, t[1].x, t[2].x}),
                        std::min({t[0].y, t[1].y, t[2].y}), std::max({t[0].y, t[1].y, t[2].y})};
            int expected = 0;
            for (Vec2 p : points) expected |= pointStrictlyInPolygon(&p, t, 3);
            ASSERT_EQ(kdTreeHasPointInTriangle(points.data(), i32(points.size()), t, tree.get(), 0, 0, &box), expected);
        }
    }
}

}  // namespace
