// The curve secp384r1 (P-384): its constants and scalar multiplication, over the same Jacobian and
// Montgomery code as P-256 with six 64-bit limbs. Numbers are 48 bytes little-endian, points 96
// bytes (x then y), affine.
#pragma once
#include "Core/Types.h"

struct Curve384 {
    u8 p[48];
    u8 a[48];
    u8 b[48];
    u8 generatorX[48];
    u8 generatorY[48];
    u8 order[48];  // n
};

extern const Curve384 secp384r1;

// x and y below p and y^2 = x^3 + a x + b.
bool isPointOnCurve384(const u8* point);
// out = scalar * point: 0 on success, 1 when the scalar is 0 or the point at infinity is met. Its
// running time depends on the scalar: for public scalars only.
i32 scalePoint384(u8* out, const u8* scalar, const u8* point);
