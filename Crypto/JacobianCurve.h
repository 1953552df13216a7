// Scalar multiplication on a short-Weierstrass curve y^2 = x^3 + a x + b over a prime field of
// N 64-bit limbs, in Jacobian coordinates (X / Z^2, Y / Z^3) over Montgomery-form limbs: one
// inversion per multiplication instead of one per step. Used inside the curve and ECDSA code only.
#pragma once
#include <cstring>

#include "Crypto/MontgomeryField.h"

namespace jacobian {

template <int N>
struct Jacobian {
    u64 x[N], y[N], z[N];
};

template <int N>
struct CurveField {
    MontgomeryField<N> f;
    u64 a[N];  // a in Montgomery form
};

template <int N>
void makeCurveField(CurveField<N>* out, const u8* prime, const u8* a) {
    u64 p[N];
    montgomery::loadBytes<N>(p, prime);
    out->f = montgomery::makeField<N>(p);
    u64 aLimbs[N];
    montgomery::loadBytes<N>(aLimbs, a);
    montgomery::toMontgomery<N>(out->a, aLimbs, &out->f);
}

// 2P for a point with Z != 0 and Y != 0 (always so for points of odd prime order).
template <int N>
void jacobianDouble(Jacobian<N>* out, const Jacobian<N>* p, const CurveField<N>* cf) {
    using namespace montgomery;
    const MontgomeryField<N>* f = &cf->f;
    u64 xx[N], yy[N], yyyy[N], zz[N], s[N], m[N], t[N], u[N];
    multiply<N>(xx, p->x, p->x, f);
    multiply<N>(yy, p->y, p->y, f);
    multiply<N>(yyyy, yy, yy, f);
    multiply<N>(zz, p->z, p->z, f);
    // s = 4 x yy
    multiply<N>(s, p->x, yy, f);
    add<N>(s, s, s, f);
    add<N>(s, s, s, f);
    // m = 3 xx + a zz^2
    add<N>(m, xx, xx, f);
    add<N>(m, m, xx, f);
    multiply<N>(t, zz, zz, f);
    multiply<N>(t, t, cf->a, f);
    add<N>(m, m, t, f);
    // z3 = 2 y z
    multiply<N>(u, p->y, p->z, f);
    add<N>(out->z, u, u, f);
    // x3 = m^2 - 2 s
    multiply<N>(t, m, m, f);
    subtract<N>(t, t, s, f);
    subtract<N>(t, t, s, f);
    // y3 = m (s - x3) - 8 yyyy
    subtract<N>(s, s, t, f);
    multiply<N>(s, m, s, f);
    add<N>(yyyy, yyyy, yyyy, f);
    add<N>(yyyy, yyyy, yyyy, f);
    add<N>(yyyy, yyyy, yyyy, f);
    subtract<N>(out->y, s, yyyy, f);
    memcpy(out->x, t, sizeof(t));
}

// P + Q for two finite points: 0 on success, 1 when the sum is the point at infinity.
template <int N>
i32 jacobianAdd(Jacobian<N>* out, const Jacobian<N>* p, const Jacobian<N>* q, const CurveField<N>* cf) {
    using namespace montgomery;
    const MontgomeryField<N>* f = &cf->f;
    u64 z1z1[N], z2z2[N], u1[N], u2[N], s1[N], s2[N], h[N], r[N], t[N];
    multiply<N>(z1z1, p->z, p->z, f);
    multiply<N>(z2z2, q->z, q->z, f);
    multiply<N>(u1, p->x, z2z2, f);
    multiply<N>(u2, q->x, z1z1, f);
    multiply<N>(t, q->z, z2z2, f);
    multiply<N>(s1, p->y, t, f);
    multiply<N>(t, p->z, z1z1, f);
    multiply<N>(s2, q->y, t, f);
    subtract<N>(h, u2, u1, f);
    subtract<N>(r, s2, s1, f);
    if (isZero<N>(h)) {
        if (!isZero<N>(r)) return 1;
        jacobianDouble(out, p, cf);
        return 0;
    }
    u64 hh[N], hhh[N], v[N];
    multiply<N>(hh, h, h, f);
    multiply<N>(hhh, hh, h, f);
    multiply<N>(v, u1, hh, f);
    // x3 = r^2 - hhh - 2 v
    u64 x3[N], y3[N];
    multiply<N>(x3, r, r, f);
    subtract<N>(x3, x3, hhh, f);
    subtract<N>(x3, x3, v, f);
    subtract<N>(x3, x3, v, f);
    // y3 = r (v - x3) - s1 hhh
    subtract<N>(t, v, x3, f);
    multiply<N>(y3, r, t, f);
    multiply<N>(t, s1, hhh, f);
    subtract<N>(y3, y3, t, f);
    // z3 = z1 z2 h
    multiply<N>(t, p->z, q->z, f);
    multiply<N>(out->z, t, h, f);
    memcpy(out->x, x3, sizeof(x3));
    memcpy(out->y, y3, sizeof(y3));
    return 0;
}

// Right-to-left double-and-add over every bit of the scalar, as the affine formulation: R
// accumulates the set bits' multiples of Q = 2^i P. Both may pass through the point at infinity
// (a sum R + Q = O, or Q of order two doubling to O) and go on from there, so a multiple of a point
// of small order comes out right. 1 when the result itself is the point at infinity. Numbers are
// 8 N bytes little-endian; the point is x then y.
template <int N>
i32 scaleJacobian(u8* out, const u8* scalar, const u8* point, const u8* prime, const u8* a) {
    using namespace montgomery;
    CurveField<N> cf;
    makeCurveField<N>(&cf, prime, a);
    Jacobian<N> q, r;
    u64 raw[N];
    loadBytes<N>(raw, point);
    toMontgomery<N>(q.x, raw, &cf.f);
    loadBytes<N>(raw, point + 8 * N);
    toMontgomery<N>(q.y, raw, &cf.f);
    memcpy(q.z, cf.f.one, sizeof(q.z));
    bool haveR = false;  // false: R is the point at infinity
    bool qFinite = true;
    for (int bit = 0; bit < 64 * N && qFinite; bit++) {
        if ((scalar[bit / 8] >> (bit % 8)) & 1) {
            if (!haveR) {
                r = q;
                haveR = true;
            } else if (jacobianAdd<N>(&r, &r, &q, &cf) || isZero<N>(r.z)) {
                haveR = false;  // R = -Q, or R = Q of order two
            }
        }
        if (isZero<N>(q.y)) {
            qFinite = false;  // 2Q is the point at infinity, and so is every later Q
        } else {
            jacobianDouble<N>(&q, &q, &cf);
        }
    }
    if (!haveR) return 1;
    u64 zInverse[N], zz[N], zzz[N], x[N], y[N];
    invert<N>(zInverse, r.z, &cf.f);
    multiply<N>(zz, zInverse, zInverse, &cf.f);
    multiply<N>(zzz, zz, zInverse, &cf.f);
    multiply<N>(x, r.x, zz, &cf.f);
    multiply<N>(y, r.y, zzz, &cf.f);
    fromMontgomery<N>(raw, x, &cf.f);
    storeBytes<N>(out, raw);
    fromMontgomery<N>(raw, y, &cf.f);
    storeBytes<N>(out + 8 * N, raw);
    return 0;
}

// x and y (8 N bytes little-endian each) below the prime, and y^2 = x^3 + a x + b.
template <int N>
bool isOnCurve(const u8* point, const u8* prime, const u8* a, const u8* b) {
    using namespace montgomery;
    u64 p[N], x[N], y[N];
    loadBytes<N>(p, prime);
    loadBytes<N>(x, point);
    loadBytes<N>(y, point + 8 * N);
    u64 scratch[N];
    if (!subtractLimbs<N>(scratch, x, p) || !subtractLimbs<N>(scratch, y, p)) return false;  // not below p
    CurveField<N> cf;
    makeCurveField<N>(&cf, prime, a);
    u64 xm[N], ym[N], bm[N], left[N], right[N], t[N];
    toMontgomery<N>(xm, x, &cf.f);
    toMontgomery<N>(ym, y, &cf.f);
    loadBytes<N>(t, b);
    toMontgomery<N>(bm, t, &cf.f);
    multiply<N>(left, ym, ym, &cf.f);
    multiply<N>(right, xm, xm, &cf.f);
    add<N>(right, right, cf.a, &cf.f);
    multiply<N>(right, right, xm, &cf.f);
    add<N>(right, right, bm, &cf.f);
    for (int i = 0; i < N; i++)
        if (left[i] != right[i]) return false;
    return true;
}

// The affine x coordinate (8 N bytes little-endian) of u1 G + u2 Q, both points affine: 0 on
// success, 1 when the sum is the point at infinity or a product meets it. Either scalar may be zero
// (its term is left out), not both. Public scalars only.
template <int N>
i32 sumOfProductsX(u8* outX, const u8* u1, const u8* g, const u8* u2, const u8* q, const u8* prime, const u8* a) {
    using namespace montgomery;
    u64 s1[N], s2[N];
    loadBytes<N>(s1, u1);
    loadBytes<N>(s2, u2);
    bool have1 = !isZero<N>(s1), have2 = !isZero<N>(s2);
    if (!have1 && !have2) return 1;
    u8 p1[16 * N], p2[16 * N];
    if (have1 && scaleJacobian<N>(p1, u1, g, prime, a)) return 1;
    if (have2 && scaleJacobian<N>(p2, u2, q, prime, a)) return 1;
    if (!have1 || !have2) {
        memcpy(outX, have1 ? p1 : p2, 8 * N);
        return 0;
    }
    CurveField<N> cf;
    makeCurveField<N>(&cf, prime, a);
    Jacobian<N> j1, j2, sum;
    u64 raw[N];
    loadBytes<N>(raw, p1);
    toMontgomery<N>(j1.x, raw, &cf.f);
    loadBytes<N>(raw, p1 + 8 * N);
    toMontgomery<N>(j1.y, raw, &cf.f);
    memcpy(j1.z, cf.f.one, sizeof(j1.z));
    loadBytes<N>(raw, p2);
    toMontgomery<N>(j2.x, raw, &cf.f);
    loadBytes<N>(raw, p2 + 8 * N);
    toMontgomery<N>(j2.y, raw, &cf.f);
    memcpy(j2.z, cf.f.one, sizeof(j2.z));
    if (jacobianAdd<N>(&sum, &j1, &j2, &cf)) return 1;
    if (isZero<N>(sum.z)) return 1;
    u64 zInverse[N], zz[N], x[N];
    invert<N>(zInverse, sum.z, &cf.f);
    multiply<N>(zz, zInverse, zInverse, &cf.f);
    multiply<N>(x, sum.x, zz, &cf.f);
    fromMontgomery<N>(raw, x, &cf.f);
    storeBytes<N>(outX, raw);
    return 0;
}

}  // namespace jacobian
