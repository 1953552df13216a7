// P-256 points in Jacobian coordinates (x = X / Z^2, y = Y / Z^3, the point at infinity with Z = 0
// and Y not zero) and their doubling, shared by the constant-time and the public-scalar code.
#pragma once
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

// 2P in Jacobian coordinates for a = -3 (3 products and 5 squares). Without exceptions on this
// curve: no point of order two, and the point at infinity (Z = 0, Y not zero) doubles to itself.
inline void jacobianDouble(JacobianPoint* out, const JacobianPoint* p) {
    u64 delta[4], gamma[4], beta[4], alpha[4], t[4], u[4];
    sqr(delta, p->z);
    sqr(gamma, p->y);
    mul(beta, p->x, gamma);
    sub(t, p->x, delta);
    add(u, p->x, delta);
    mul(alpha, t, u);
    add(t, alpha, alpha);
    add(alpha, alpha, t);  // 3 (x - delta) (x + delta)
    // z3 = (y + z)^2 - gamma - delta
    add(t, p->y, p->z);
    sqr(t, t);
    sub(t, t, gamma);
    sub(out->z, t, delta);
    // x3 = alpha^2 - 8 beta
    add(beta, beta, beta);
    add(beta, beta, beta);  // 4 beta
    sqr(t, alpha);
    add(u, beta, beta);
    sub(out->x, t, u);
    // y3 = alpha (4 beta - x3) - 8 gamma^2
    sub(beta, beta, out->x);
    mul(t, alpha, beta);
    sqr(gamma, gamma);
    add(gamma, gamma, gamma);
    add(gamma, gamma, gamma);
    add(gamma, gamma, gamma);
    sub(out->y, t, gamma);
}

}  // namespace p256
