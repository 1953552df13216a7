#include "Crypto/EllipticCurve.h"

#include <cstring>

#include "Core/Profiler.h"
#include "Crypto/JacobianCurve.h"
#include "Crypto/P256.h"
#include "Platform/Random.h"

namespace {

// Numbers below are written most significant byte first and stored reversed.
struct Be32 {
    u8 bytes[32];
};

constexpr Be32 littleEndian(const char* hex) {
    Be32 out{};
    auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
    for (int i = 0; i < 32; i++) out.bytes[31 - i] = (u8)(digit(hex[2 * i]) << 4 | digit(hex[2 * i + 1]));
    return out;
}

constexpr Be32 kP = littleEndian("FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFF");
constexpr Be32 kA = littleEndian("FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFC");
constexpr Be32 kB = littleEndian("5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B");
constexpr Be32 kGx = littleEndian("6B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C296");
constexpr Be32 kGy = littleEndian("4FE342E2FE1A7F9B8EE7EB4A7C0F9E162BCE33576B315ECECBB6406837BF51F5");
constexpr Be32 kN = littleEndian("FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551");

constexpr PreparedModulus prepareTopBitSet(const Be32& number) {
    PreparedModulus m{};
    m.topLimb = 7;
    for (int i = 0; i < 8; i++)
        m.limbs[i] = (u32)number.bytes[4 * i] | (u32)number.bytes[4 * i + 1] << 8 |
                     (u32)number.bytes[4 * i + 2] << 16 | (u32)number.bytes[4 * i + 3] << 24;
    return m;
}

constexpr EllipticCurve makeSecp256r1() {
    EllipticCurve c{};
    for (int i = 0; i < 32; i++) {
        c.p[i] = kP.bytes[i];
        c.a[i] = kA.bytes[i];
        c.b[i] = kB.bytes[i];
        c.generatorX[i] = kGx.bytes[i];
        c.generatorY[i] = kGy.bytes[i];
        c.order[i] = kN.bytes[i];
    }
    c.preparedP = prepareTopBitSet(kP);
    return c;
}

// Field arithmetic for the affine operations: generic sums with one correction and products reduced
// by long division.
void fieldAdd(u8* out, const u8* a, const u8* b, const EllipticCurve* c) {
    u32 carry = bigNumAdd(out, a, b);
    if (carry || bigNumCompare(out, c->p) >= 0) bigNumSubtract(out, out, c->p);
}

void fieldSubtract(u8* out, const u8* a, const u8* b, const EllipticCurve* c) {
    if (!bigNumSubtract(out, a, b)) bigNumAdd(out, out, c->p);
}

void fieldMultiply(u8* out, const u8* a, const u8* b, const EllipticCurve* c) {
    u8 product[64], quotient[64];
    bigNumMultiply(product, a, b);
    bigNumModReduce(quotient, out, product, &c->preparedP);
}

void fieldInvert(u8* out, const u8* a, const EllipticCurve* c) {
    u8 gcd[32], work[32];
    extendedEuclideanAlgorithm(gcd, out, work, a, c->p);
    if (out[31] & 0x80) bigNumAdd(out, out, c->p);
}

// The sum's coordinates from the slope: x3 = lambda^2 - x(P) - qx, y3 = lambda (x(P) - x3) - y(P),
// with qx = x(P) for a doubling.
void pointFromSlope(u8* out, const u8* lambda, const u8* p, const u8* qx, const EllipticCurve* c) {
    u8 x3[32], y3[32], t[32];
    fieldMultiply(x3, lambda, lambda, c);
    fieldSubtract(x3, x3, p, c);
    fieldSubtract(x3, x3, qx, c);
    fieldSubtract(t, p, x3, c);
    fieldMultiply(y3, lambda, t, c);
    fieldSubtract(y3, y3, p + 32, c);
    memcpy(out, x3, 32);
    memcpy(out + 32, y3, 32);
}

}  // namespace

const EllipticCurve secp256r1 = makeSecp256r1();

bool isPointOnCurve(const u8* point, const EllipticCurve* curve) {
    const u8* x = point;
    const u8* y = point + 32;
    if (bigNumCompare(x, curve->p) >= 0 || bigNumCompare(y, curve->p) >= 0) return false;
    u8 left[32], right[32], t[32];
    fieldMultiply(left, y, y, curve);
    fieldMultiply(t, x, x, curve);
    fieldMultiply(right, t, x, curve);
    fieldMultiply(t, curve->a, x, curve);
    fieldAdd(right, right, t, curve);
    fieldAdd(right, right, curve->b, curve);
    return memcmp(left, right, 32) == 0;
}

i32 doublePoint(u8* out, const u8* p, const EllipticCurve* curve) {
    ProfilingScope scope("Double Point");
    const u8* x = p;
    const u8* y = p + 32;
    if (bigNumIsZero(y)) return 1;
    u8 numerator[32], denominator[32], lambda[32], t[32];
    fieldMultiply(t, x, x, curve);
    fieldAdd(numerator, t, t, curve);
    fieldAdd(numerator, numerator, t, curve);
    fieldAdd(numerator, numerator, curve->a, curve);
    fieldAdd(denominator, y, y, curve);
    fieldInvert(t, denominator, curve);
    fieldMultiply(lambda, numerator, t, curve);
    pointFromSlope(out, lambda, p, x, curve);
    return 0;
}

i32 addDifferentPoints(u8* out, const u8* p, const u8* q, const EllipticCurve* curve) {
    if (memcmp(p, q, 32) == 0) {
        if (memcmp(p + 32, q + 32, 32) != 0) return 1;
        return doublePoint(out, p, curve);
    }
    ProfilingScope scope("Add Different Points");
    u8 dx[32], dy[32], lambda[32], t[32];
    fieldSubtract(dy, q + 32, p + 32, curve);
    fieldSubtract(dx, q, p, curve);
    fieldInvert(t, dx, curve);
    fieldMultiply(lambda, dy, t, curve);
    pointFromSlope(out, lambda, p, q, curve);
    return 0;
}

i32 scalePoint(u8* out, const u8* scalar, const u8* point, const EllipticCurve* curve) {
    ProfilingScope scope("Scale Point");
    // P-256 itself always goes through the constant-time code: its scalars are private keys.
    if (curve == &secp256r1 || (memcmp(curve->p, secp256r1.p, 32) == 0 && memcmp(curve->a, secp256r1.a, 32) == 0 &&
                                memcmp(curve->b, secp256r1.b, 32) == 0))
        return p256ScalarMultiply(out, scalar, point);
    return jacobian::scaleJacobian<4>(out, scalar, point, curve->p, curve->a);
}

i32 scaleValidatedPoint(u8* out, const u8* scalar, const u8* point, const EllipticCurve* curve) {
    if (!isPointOnCurve(point, curve)) return 2;  // also refuses coordinates of p and above
    return scalePoint(out, scalar, point, curve);
}

i32 generateRandomNumber(u8* out, const EllipticCurve* curve) {
    ProfilingScope scope("Generate random number");
    // Bits above the order's highest bit are cleared; a draw of 0 or of n and above is drawn again.
    int topByte = 31;
    while (topByte > 0 && curve->order[topByte] == 0) topByte--;
    u8 topMask = 0xFF;
    while (topMask >> 1 >= curve->order[topByte]) topMask >>= 1;
    for (int attempt = 0; attempt < 1000; attempt++) {
        if (getRandomBytes(out, 32)) return 1;
        for (int i = topByte + 1; i < 32; i++) out[i] = 0;
        out[topByte] &= topMask;
        if (!bigNumIsZero(out) && bigNumCompare(out, curve->order) < 0) return 0;
    }
    return 1;
}
