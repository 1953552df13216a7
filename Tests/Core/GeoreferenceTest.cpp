#include "Core/Georeference.h"

#include <cmath>

#include <gtest/gtest.h>

#include "Core/MathPythonOracle.h"

namespace {

TEST(Georeference, FitsRandomTiePointsLikeNumpySolve) {
    // Pixel positions of three tie points and projected model coordinates far from the origin, as a
    // GeoTIFF gives them; numpy solves both 3 × 3 systems independently.
    std::vector<double> cases = mathoracle::runPython(R"(
import random, numpy
random.seed(7)
for i in range(500):
    src = [(random.uniform(-5000, 5000), random.uniform(-5000, 5000)) for k in range(3)]
    dst = [(random.uniform(-2e6, 2e6), random.uniform(3e6, 6e6)) for k in range(3)]
    m = numpy.array([[x, y, 1.0] for x, y in src])
    abc = numpy.linalg.solve(m, numpy.array([p[0] for p in dst]))
    def_ = numpy.linalg.solve(m, numpy.array([p[1] for p in dst]))
    print(*[repr(v) for p in src + dst for v in p], *[repr(float(v)) for v in list(abc) + list(def_)])
)");
    ASSERT_EQ(cases.size(), 500u * 18u) << "Debian's Python with numpy is needed";
    for (size_t i = 0; i < cases.size(); i += 18) {
        const double* c = &cases[i];
        Vec2 sources[3] = {{c[0], c[1]}, {c[2], c[3]}, {c[4], c[5]}};
        Vec2 targets[3] = {{c[6], c[7]}, {c[8], c[9]}, {c[10], c[11]}};
        AffineTransform fit;
        ASSERT_EQ(fitAffineFromThreePoints(&fit, sources, targets), &fit);
        EXPECT_EQ(fit.singular, 0u);
        double got[6] = {fit.a, fit.b, fit.c, fit.d, fit.e, fit.f};
        for (int k = 0; k < 6; ++k) {
            double scale = std::fabs(c[12 + k]) + (k % 3 == 2 ? 1e3 : 1e-3);
            EXPECT_NEAR(got[k], c[12 + k], scale * 1e-7) << "case " << i / 18 << " coefficient " << k;
        }
        for (int k = 0; k < 3; ++k) {
            Vec2 mapped = applyAffineTransform(&fit, sources[k]);
            EXPECT_NEAR(mapped.x, targets[k].x, 1e-5);
            EXPECT_NEAR(mapped.y, targets[k].y, 1e-5);
        }
    }
}

TEST(Georeference, CollinearOrRepeatedSourcesAreSingular) {
    Vec2 targets[3] = {{10, 20}, {30, 40}, {50, 70}};
    Vec2 collinear[3] = {{0, 0}, {1, 1}, {2, 2}};
    Vec2 repeated[3] = {{5, 5}, {5, 5}, {7, 1}};
    for (const Vec2* sources : {collinear, repeated}) {
        AffineTransform fit;
        fitAffineFromThreePoints(&fit, sources, targets);
        EXPECT_NE(fit.singular, 0u);
        EXPECT_EQ(fit.a, 0.0);
        EXPECT_EQ(fit.c, 0.0);
        EXPECT_EQ(fit.f, 0.0);
    }
}

TEST(Georeference, PixelGridToModelScaleAndOffset) {
    // 30 m pixels, rows running south: x' = 500000 + 30 x, y' = 4000000 - 30 y.
    Vec2 sources[3] = {{0, 0}, {100, 0}, {0, 100}};
    Vec2 targets[3] = {{500000, 4000000}, {503000, 4000000}, {500000, 3997000}};
    AffineTransform fit;
    fitAffineFromThreePoints(&fit, sources, targets);
    EXPECT_EQ(fit.singular, 0u);
    EXPECT_DOUBLE_EQ(fit.a, 30);
    EXPECT_DOUBLE_EQ(fit.b, 0);
    EXPECT_DOUBLE_EQ(fit.c, 500000);
    EXPECT_DOUBLE_EQ(fit.d, 0);
    EXPECT_DOUBLE_EQ(fit.e, -30);
    EXPECT_DOUBLE_EQ(fit.f, 4000000);
}

}  // namespace
