// Georeferencing fits: a plane-to-plane map through three pairs of points (affine) or four
// (projective), solved in both directions, and the dense linear solver they share. Used by the
// raster overlays (PDF pages and their caches) and by the GeoTIFF reader.
#pragma once
#include "Core/GeometryTypes.h"
#include "Core/Types.h"

// The result of a fit. The affine kind fills forward[0..5] and inverse[0..5] (a..f:
// x' = a x + b y + c, y' = d x + e y + f); the projective kind fills all eight (a..h:
// x' = (a x + b y + c) / (g x + h y + 1), y' = (d x + e y + f) / (g x + h y + 1)). A caller keeps the
// matching apply function beside the record. A singular direction leaves its coefficients as the
// solver left them: test the flags.
struct Transformation {
    u32 forwardSingular;
    u32 inverseSingular;
    f64 forward[8];
    f64 inverse[8];
};

using ApplyTransformation = Vec2* (*)(Vec2* out, const Vec2* point, const Transformation* transformation);

// Solves A x = b by LU decomposition with partial pivoting in place. rows: n pointers to rows of n
// values (overwritten by the factors, the pointers reordered); permutation: n + 1 entries of scratch,
// on return the row order and, in entry n, the number of swaps. 0 when solved; 1 when a column's best
// pivot is below 1e-10 (x is then not written).
u32 solveLinearSystem(f64** rows, const f64* b, f64* x, u16* permutation, u16 n);

Transformation* fitAffineFromThreePoints(Transformation* out, const Vec2* s1, const Vec2* s2, const Vec2* s3,
                                         const Vec2* t1, const Vec2* t2, const Vec2* t3);
Transformation* createProjectiveTransformation(Transformation* out, const Vec2* s1, const Vec2* s2, const Vec2* s3,
                                               const Vec2* s4, const Vec2* t1, const Vec2* t2, const Vec2* t3,
                                               const Vec2* t4);

Vec2* applyAffineTransformation(Vec2* out, const Vec2* point, const Transformation* transformation);
Vec2* applyProjectiveTransformation(Vec2* out, const Vec2* point, const Transformation* transformation);
