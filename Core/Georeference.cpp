#include "Core/Georeference.h"

#include <cmath>

#include "Core/Profiler.h"

u32 solveLinearSystem(f64** rows, const f64* b, f64* x, u16* permutation, u16 n) {
    for (u32 i = 0; i <= n; i++) permutation[i] = (u16)i;
    if (n == 0) return 0;
    permutation[n] = 0;
    const f64 threshold = (f64)1e-10f;
    for (u32 k = 0; k < n; k++) {
        f64 best = 0.0;
        u32 pivot = k;
        for (u32 i = k; i < n; i++) {
            f64 magnitude = std::fabs(rows[i][k]);
            if (magnitude > best) {
                best = magnitude;
                pivot = i;
            }
        }
        // NaN never passes the comparison above, so a NaN column counts as singular too.
        if (!(best >= threshold)) return 1;
        if (pivot != k) {
            u16 swap = permutation[k];
            permutation[k] = permutation[pivot];
            permutation[pivot] = swap;
            f64* row = rows[k];
            rows[k] = rows[pivot];
            rows[pivot] = row;
            permutation[n]++;
        }
        for (u32 i = k + 1; i < n; i++) {
            rows[i][k] /= rows[k][k];
            for (u32 j = k + 1; j < n; j++) rows[i][j] -= rows[i][k] * rows[k][j];
        }
    }
    for (u32 i = 0; i < n; i++) {
        f64 sum = b[permutation[i]];
        for (u32 j = 0; j < i; j++) sum -= rows[i][j] * x[j];
        x[i] = sum;
    }
    for (u32 i = n; i-- > 0;) {
        f64 sum = x[i];
        for (u32 j = i + 1; j < n; j++) sum -= rows[i][j] * x[j];
        x[i] = sum / rows[i][i];
    }
    return 0;
}

namespace {

// One 3 x 3 solve of rows [px, py, 1] against the right-hand side.
u32 solveAffineRow(const Vec2* const* points, const f64* rightHandSide, f64* out) {
    f64 matrix[3][3];
    f64* rows[3];
    for (int i = 0; i < 3; i++) {
        matrix[i][0] = points[i]->x;
        matrix[i][1] = points[i]->y;
        matrix[i][2] = 1.0;
        rows[i] = matrix[i];
    }
    u16 permutation[4];
    return solveLinearSystem(rows, rightHandSide, out, permutation, 3);
}

u32 solveProjective(const Vec2* const* s, const Vec2* const* t, f64* out) {
    f64 matrix[8][8];
    f64* rows[8];
    f64 rightHandSide[8];
    for (int i = 0; i < 4; i++) {
        f64 sx = s[i]->x, sy = s[i]->y, tx = t[i]->x, ty = t[i]->y;
        f64 xRow[8] = {sx, sy, 1, 0, 0, 0, -sx * tx, -sy * tx};
        f64 yRow[8] = {0, 0, 0, sx, sy, 1, -sx * ty, -sy * ty};
        for (int j = 0; j < 8; j++) {
            matrix[2 * i][j] = xRow[j];
            matrix[2 * i + 1][j] = yRow[j];
        }
        rightHandSide[2 * i] = tx;
        rightHandSide[2 * i + 1] = ty;
    }
    for (int i = 0; i < 8; i++) rows[i] = matrix[i];
    u16 permutation[9];
    return solveLinearSystem(rows, rightHandSide, out, permutation, 8);
}

}  // namespace

Transformation* fitAffineFromThreePoints(Transformation* out, const Vec2* s1, const Vec2* s2, const Vec2* s3,
                                         const Vec2* t1, const Vec2* t2, const Vec2* t3) {
    *out = Transformation{};
    const Vec2* sources[3] = {s1, s2, s3};
    const Vec2* targets[3] = {t1, t2, t3};
    f64 tx[3] = {t1->x, t2->x, t3->x}, ty[3] = {t1->y, t2->y, t3->y};
    f64 sx[3] = {s1->x, s2->x, s3->x}, sy[3] = {s1->y, s2->y, s3->y};
    u32 forwardX = solveAffineRow(sources, tx, &out->forward[0]);
    u32 forwardY = solveAffineRow(sources, ty, &out->forward[3]);
    out->forwardSingular = forwardX | forwardY;
    u32 inverseX = solveAffineRow(targets, sx, &out->inverse[0]);
    u32 inverseY = solveAffineRow(targets, sy, &out->inverse[3]);
    out->inverseSingular = inverseX | inverseY;
    return out;
}

Transformation* createProjectiveTransformation(Transformation* out, const Vec2* s1, const Vec2* s2, const Vec2* s3,
                                               const Vec2* s4, const Vec2* t1, const Vec2* t2, const Vec2* t3,
                                               const Vec2* t4) {
    enterProfilingRegionChecked("Create Projective Transformation");
    *out = Transformation{};
    const Vec2* sources[4] = {s1, s2, s3, s4};
    const Vec2* targets[4] = {t1, t2, t3, t4};
    out->forwardSingular = solveProjective(sources, targets, out->forward);
    out->inverseSingular = solveProjective(targets, sources, out->inverse);
    exitProfilingRegion("Create Projective Transformation");
    return out;
}

Vec2* applyAffineTransformation(Vec2* out, const Vec2* point, const Transformation* transformation) {
    const f64* c = transformation->forward;
    f64 x = point->x, y = point->y;
    *out = Vec2{c[0] * x + c[1] * y + c[2], c[3] * x + c[4] * y + c[5]};
    return out;
}

Vec2* applyProjectiveTransformation(Vec2* out, const Vec2* point, const Transformation* transformation) {
    const f64* c = transformation->forward;
    f64 x = point->x, y = point->y;
    f64 w = c[6] * x + c[7] * y + 1.0;
    *out = Vec2{(c[0] * x + c[1] * y + c[2]) / w, (c[3] * x + c[4] * y + c[5]) / w};
    return out;
}
