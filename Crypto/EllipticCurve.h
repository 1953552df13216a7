// Short-Weierstrass curves over 256-bit prime fields (secp256r1), points as 64 bytes: x then y,
// each 32 bytes little-endian, affine. The point at infinity has no form: operations that would
// produce it report it through their result instead. Nothing here signs or verifies.
#pragma once
#include "Crypto/BigNum.h"

struct EllipticCurve {
    u8 p[32];
    PreparedModulus preparedP;
    u8 a[32];
    u8 b[32];
    u8 generatorX[32];
    u8 generatorY[32];
    u8 order[32];  // n
};

extern const EllipticCurve secp256r1;

bool isPointOnCurve(const u8* point, const EllipticCurve* curve);

// Affine sum of P and Q: 0 on success, 1 when the sum is the point at infinity (Q = -P).
i32 addDifferentPoints(u8* out, const u8* p, const u8* q, const EllipticCurve* curve);
// 2P: 0 on success, 1 when y = 0.
i32 doublePoint(u8* out, const u8* p, const EllipticCurve* curve);

// out = scalar * point: 0 on success, 1 when the result is the point at infinity (a scalar of 0, or
// a multiple of the point's order; out is then unusable). The point must be on the curve (callers
// check isPointOnCurve, or use scaleValidatedPoint). On secp256r1 itself it runs in constant time
// (P256.h); on any other curve (the self tests' small one) its running time depends on the scalar,
// so such curves take test values only. There the intermediate sums may pass through the point at
// infinity: 81 times a point of order 5 is that point.
i32 scalePoint(u8* out, const u8* scalar, const u8* point, const EllipticCurve* curve);
// scalePoint for a point from outside: 2 (out untouched) when a coordinate is not below p or the
// point is not on the curve; otherwise scalePoint's result.
i32 scaleValidatedPoint(u8* out, const u8* scalar, const u8* point, const EllipticCurve* curve);

// A uniformly random private scalar in 1 .. n - 1: 0 on success, 1 when the system's random
// generator failed (out must then not be used).
i32 generateRandomNumber(u8* out, const EllipticCurve* curve);
