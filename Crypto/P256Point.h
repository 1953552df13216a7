// P-256 points in Jacobian coordinates (x = X / Z^2, y = Y / Z^3, the point at infinity with Z = 0
// and Y not zero) and their doubling, shared by the constant-time and the public-scalar code.
#pragma once
#include <cstring>

#include "Crypto/P256Field.h"

namespace p256 {

// The generator, x then y, 32 bytes little-endian each.
inline constexpr u8 kGeneratorBytes[64] = {
    0x96, 0xC2, 0x98, 0xD8, 0x45, 0x39, 0xA1, 0xF4, 0xA0, 0x33, 0xEB, 0x2D, 0x81, 0x7D, 0x03, 0x77,
    0xF2, 0x40, 0xA4, 0x63, 0xE5, 0xE6, 0xBC, 0xF8, 0x47, 0x42, 0x2C, 0xE1, 0xF2, 0xD1, 0x17, 0x6B,
    0xF5, 0x51, 0xBF, 0x37, 0x68, 0x40, 0xB6, 0xCB, 0xCE, 0x5E, 0x31, 0x6B, 0x57, 0x33, 0xCE, 0x2B,
    0x16, 0x9E, 0x0F, 0x7C, 0x4A, 0xEB, 0xE7, 0x8E, 0x9B, 0x7F, 0x1A, 0xFE, 0xE2, 0x42, 0xE3, 0x4F};

struct JacobianPoint {
    u64 x[4], y[4], z[4];
};

// 2P in Jacobian coordinates for a = -3 (4 products and 4 squares, with few additions: 2 y^2 serves
// both 8 x y^2 and 8 y^4). Without exceptions on this curve: no point of order two, and the point
// at infinity (Z = 0, Y not zero) doubles to itself.
inline void jacobianDouble(JacobianPoint* out, const JacobianPoint* p) {
    u64 delta[4], gamma[4], beta[4], alpha[4], t[4], u[4];
    sqr(delta, p->z);
    sqr(gamma, p->y);
    add(gamma, gamma, gamma);  // 2 y^2
    mul(beta, p->x, gamma);    // 2 x y^2
    sub(t, p->x, delta);
    add(u, p->x, delta);
    mul(alpha, t, u);
    add(t, alpha, alpha);
    add(alpha, alpha, t);  // 3 (x - delta) (x + delta)
    // z3 = 2 y z
    mul(t, p->y, p->z);
    add(out->z, t, t);
    // x3 = alpha^2 - 8 x y^2
    add(beta, beta, beta);  // 4 x y^2
    sqr(t, alpha);
    add(u, beta, beta);
    sub(out->x, t, u);
    // y3 = alpha (4 x y^2 - x3) - 8 y^4
    sub(beta, beta, out->x);
    mul(t, alpha, beta);
    sqr(gamma, gamma);          // 4 y^4
    add(gamma, gamma, gamma);   // 8 y^4
    sub(out->y, t, gamma);
}

// The last steps of a Jacobian addition: from H = U2 - U1 and R = S2 - S1, U1 and S1, and the
// new Z (Z1 Z2 H); the point at infinity and equal points are the callers' to rule out.
inline void finishJacobianAddition(JacobianPoint* out, const u64* h, const u64* r, const u64* u1, const u64* s1,
                                   const u64* zh) {
    u64 hh[4], hhh[4], v[4], t[4], x3[4];
    sqr(hh, h);
    mul(hhh, hh, h);
    mul(v, u1, hh);
    sqr(x3, r);
    sub(x3, x3, hhh);
    sub(x3, x3, v);
    sub(x3, x3, v);
    sub(t, v, x3);
    mul(t, r, t);
    mul(v, s1, hhh);
    sub(out->y, t, v);
    memcpy(out->x, x3, sizeof(x3));
    memcpy(out->z, zh, sizeof(out->z));
}

}  // namespace p256
