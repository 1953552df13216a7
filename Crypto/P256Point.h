// P-256 points in Jacobian coordinates (x = X / Z^2, y = Y / Z^3, the point at infinity with Z = 0
// and Y not zero) and their doubling, shared by the constant-time and the public-scalar code.
#pragma once
#include "Crypto/P256Field.h"

namespace p256 {

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
