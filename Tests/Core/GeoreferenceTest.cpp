#include "Core/Georeference.h"

#include <cmath>

#include <gtest/gtest.h>

#include "Core/MathPythonOracle.h"

namespace {

// Random systems of sizes 1 to 8, some of them near-singular (a row close to a mix of others), and
// numpy's solve as the answer; numpy's condition number says which ones must be refused.
TEST(Georeference, LinearSolverAgreesWithNumpyIncludingNearSingularSystems) {
    std::vector<double> numbers = mathoracle::runPython(R"(
import random, numpy
random.seed(11)
for i in range(400):
    n = random.randint(1, 8)
    a = numpy.array([[random.uniform(-100, 100) for j in range(n)] for k in range(n)])
    if n > 1 and i % 4 == 0:
        a[n - 1] = a[0] * 0.5 + a[1 % n] * 0.25 + random.choice([0.0, 1e-13, 1e-6])
    b = numpy.array([random.uniform(-1000, 1000) for j in range(n)])
    singular = int(abs(numpy.linalg.det(a)) < 1e-7 * max(1.0, numpy.abs(a).max()) ** n)
    x = numpy.linalg.lstsq(a, b, rcond=None)[0] if singular else numpy.linalg.solve(a, b)
    print(n, singular, *[repr(float(v)) for v in a.flatten()], *[repr(float(v)) for v in b], *[repr(float(v)) for v in x])
)");
    ASSERT_GT(numbers.size(), 400u) << "Debian's Python with numpy is needed";
    size_t at = 0;
    int solved = 0, refused = 0;
    while (at < numbers.size()) {
        int n = (int)numbers[at], singular = (int)numbers[at + 1];
        const double* a = &numbers[at + 2];
        const double* b = a + n * n;
        const double* expected = b + n;
        at += 2 + n * n + 2 * n;
        f64 matrix[8][8], x[8] = {};
        f64* rows[8];
        for (int i = 0; i < n; i++) {
            for (int j = 0; j < n; j++) matrix[i][j] = a[i * n + j];
            rows[i] = matrix[i];
        }
        u16 permutation[9];
        u32 result = solveLinearSystem(rows, b, x, permutation, (u16)n);
        if (singular) {
            // Exactly dependent rows leave a zero pivot; nearly dependent ones may still solve.
            if (result == 1) refused++;
            continue;
        }
        ASSERT_EQ(result, 0u) << "system " << solved;
        solved++;
        for (int i = 0; i < n; i++) EXPECT_NEAR(x[i], expected[i], 1e-6 * (1 + std::fabs(expected[i])));
    }
    EXPECT_GT(solved, 250);
    EXPECT_GT(refused, 10);
}

TEST(Georeference, PivotThresholdIsTheSinglePrecisionConstant) {
    f64 small = 0.5e-10, big = 2e-10, one = 1, x = 7;
    f64* rowSmall[1] = {&small};
    u16 permutation[3];
    EXPECT_EQ(solveLinearSystem(rowSmall, &one, &x, permutation, 1), 1u);
    EXPECT_EQ(x, 7.0);
    f64* rowBig[1] = {&big};
    EXPECT_EQ(solveLinearSystem(rowBig, &one, &x, permutation, 1), 0u);
    EXPECT_DOUBLE_EQ(x, 0.5e10);
    // Equal candidates: the diagonal row stays and no swap is counted.
    f64 m[2][2] = {{3, 1}, {-3, 2}};
    f64* rows[2] = {m[0], m[1]};
    f64 b[2] = {4, -1}, solution[2];
    ASSERT_EQ(solveLinearSystem(rows, b, solution, permutation, 2), 0u);
    EXPECT_EQ(permutation[2], 0);
    EXPECT_DOUBLE_EQ(solution[0], 1);
    EXPECT_DOUBLE_EQ(solution[1], 1);
}

// Affine and projective fits through random pairs, as numpy solves the same systems; every source
// point lands on its target both ways.
TEST(Georeference, FitsMatchNumpyBothWays) {
    std::vector<double> numbers = mathoracle::runPython(R"(
import random, numpy
random.seed(5)
for i in range(300):
    k = 3 if i % 2 == 0 else 4
    src = [(random.uniform(-5000, 5000), random.uniform(-5000, 5000)) for j in range(k)]
    dst = [(random.uniform(-0.5, 0.5), random.uniform(-0.5, 0.5)) for j in range(k)]
    def fit(s, t):
        if k == 3:
            m = numpy.array([[x, y, 1.0] for x, y in s])
            return list(numpy.linalg.solve(m, [p[0] for p in t])) + list(numpy.linalg.solve(m, [p[1] for p in t])) + [0.0, 0.0]
        rows, rhs = [], []
        for (sx, sy), (tx, ty) in zip(s, t):
            rows.append([sx, sy, 1, 0, 0, 0, -sx * tx, -sy * tx]); rhs.append(tx)
            rows.append([0, 0, 0, sx, sy, 1, -sx * ty, -sy * ty]); rhs.append(ty)
        return list(numpy.linalg.solve(numpy.array(rows), numpy.array(rhs)))
    src += [(0.0, 0.0)] * (4 - k); dst += [(0.0, 0.0)] * (4 - k)
    print(k, *[repr(float(v)) for p in src + dst for v in p], *[repr(float(v)) for v in fit(src[:k], dst[:k]) + fit(dst[:k], src[:k])])
)");
    ASSERT_EQ(numbers.size(), 300u * 33u) << "Debian's Python with numpy is needed";
    for (size_t at = 0; at < numbers.size(); at += 33) {
        const double* c = &numbers[at];
        int k = (int)c[0];
        Vec2 s[4], t[4];
        for (int j = 0; j < 4; j++) {
            s[j] = Vec2{c[1 + 2 * j], c[2 + 2 * j]};
            t[j] = Vec2{c[9 + 2 * j], c[10 + 2 * j]};
        }
        Transformation fit;
        ApplyTransformation apply;
        if (k == 3) {
            ASSERT_EQ(fitAffineFromThreePoints(&fit, &s[0], &s[1], &s[2], &t[0], &t[1], &t[2]), &fit);
            apply = applyAffineTransformation;
        } else {
            ASSERT_EQ(createProjectiveTransformation(&fit, &s[0], &s[1], &s[2], &s[3], &t[0], &t[1], &t[2], &t[3]),
                      &fit);
            apply = applyProjectiveTransformation;
        }
        ASSERT_EQ(fit.forwardSingular, 0u);
        ASSERT_EQ(fit.inverseSingular, 0u);
        const double* forward = &c[17];
        const double* inverse = &c[25];
        for (int j = 0; j < (k == 3 ? 6 : 8); j++) {
            EXPECT_NEAR(fit.forward[j], forward[j], 1e-8 * (1 + std::fabs(forward[j]))) << "case " << at / 33;
            EXPECT_NEAR(fit.inverse[j], inverse[j], 1e-6 * (1 + std::fabs(inverse[j]))) << "case " << at / 33;
        }
        for (int j = 0; j < k; j++) {
            Vec2 mapped;
            EXPECT_EQ(apply(&mapped, &s[j], &fit), &mapped);
            EXPECT_NEAR(mapped.x, t[j].x, 1e-9);
            EXPECT_NEAR(mapped.y, t[j].y, 1e-9);
        }
    }
}

TEST(Georeference, CollinearOrCoincidentPointsAreSingular) {
    Vec2 a{0, 0}, b{1, 1}, c{2, 2}, d{5, -3}, e{10, 20}, f{30, 40}, g{50, 70}, h{1, 9};
    Transformation fit;
    fitAffineFromThreePoints(&fit, &a, &b, &c, &e, &f, &g);
    EXPECT_NE(fit.forwardSingular, 0u);
    EXPECT_EQ(fit.inverseSingular, 0u);
    fitAffineFromThreePoints(&fit, &e, &f, &g, &a, &b, &c);
    EXPECT_EQ(fit.forwardSingular, 0u);
    EXPECT_NE(fit.inverseSingular, 0u);
    createProjectiveTransformation(&fit, &a, &b, &c, &d, &e, &f, &g, &h);
    EXPECT_NE(fit.forwardSingular, 0u);
    createProjectiveTransformation(&fit, &a, &a, &d, &h, &e, &f, &g, &h);
    EXPECT_NE(fit.forwardSingular, 0u);
    // The identity: a = e = 1 and every other coefficient 0.
    Vec2 square[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    createProjectiveTransformation(&fit, &square[0], &square[1], &square[2], &square[3], &square[0], &square[1],
                                   &square[2], &square[3]);
    const f64 identity[8] = {1, 0, 0, 0, 1, 0, 0, 0};
    for (int j = 0; j < 8; j++) EXPECT_NEAR(fit.forward[j], identity[j], 1e-15);
}

}  // namespace
