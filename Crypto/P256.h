// P-256 (secp256r1) point arithmetic over Montgomery-form limbs. A secret scalar's multiplication
// runs the same steps and touches the same memory whatever its bits (complete additions, doublings
// without exceptions); the signature check's arithmetic on public values may branch. Numbers are
// 32 bytes little-endian, points 64 bytes (x then y), affine, on the curve (callers check).
#pragma once
#include "Core/Types.h"

// out = scalar * point in constant time: signed 5-bit windows with every table entry read for each
// window (for the generator itself, a table of its multiples made once, and no doublings). 0 on success, 1 when the result is the point at infinity (the scalar is a multiple of
// the order; out is then unusable).
i32 p256ScalarMultiply(u8* out, const u8* scalar, const u8* point);

// True when x and y (32 bytes little-endian each) are below p and the point is on the curve.
bool p256IsOnCurve(const u8* point);

// The P-256 steps of an ECDSA check on public values: true when r and s are in 1 .. n - 1 and the
// affine x coordinate of (e / s) G + (r / s) Q, reduced modulo n, equals r. Q is a point of the
// curve (callers check), e the digest as a number below 2^256; all 32 bytes little-endian.
bool p256EcdsaCheck(const u8* q, const u8* e, const u8* r, const u8* s);

// The field products run on the processor's MULX, ADCX and ADOX instructions where it has them.
// Tests and the timing check turn that off (false) to exercise the portable path, and back on.
void p256AllowProcessorExtensions(bool allow);
