// P-256 (secp256r1) point arithmetic on complete projective formulas over Montgomery-form limbs:
// no exceptional cases, so a secret scalar's multiplication runs the same steps and touches the
// same memory whatever its bits. Numbers are 32 bytes little-endian, points 64 bytes (x then y),
// affine, on the curve (callers check).
#pragma once
#include "Core/Types.h"

// out = scalar * point in constant time: a fixed 4-bit window with every table entry read for each
// window. 0 on success, 1 when the result is the point at infinity (the scalar is a multiple of
// the order; out is then unusable).
i32 p256ScalarMultiply(u8* out, const u8* scalar, const u8* point);

// The affine x coordinate of u1 G + u2 Q for public scalars (a signature check): one joint pass
// over both scalars with a table of the generator kept for the whole run, and one inversion. 0 on
// success, 1 when the sum is the point at infinity.
i32 p256SumOfProductsX(u8* outX, const u8* u1, const u8* u2, const u8* q);
