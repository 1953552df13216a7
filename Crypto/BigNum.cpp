#include "Crypto/BigNum.h"

#include <cstring>

#include "Core/Profiler.h"

namespace {

inline void loadLimbs(u32* limbs, const u8* bytes, int count) {
    for (int i = 0; i < count; i++)
        limbs[i] = (u32)bytes[4 * i] | (u32)bytes[4 * i + 1] << 8 | (u32)bytes[4 * i + 2] << 16 |
                   (u32)bytes[4 * i + 3] << 24;
}

inline void storeLimbs(u8* bytes, const u32* limbs, int count) {
    for (int i = 0; i < count; i++) {
        bytes[4 * i] = (u8)limbs[i];
        bytes[4 * i + 1] = (u8)(limbs[i] >> 8);
        bytes[4 * i + 2] = (u8)(limbs[i] >> 16);
        bytes[4 * i + 3] = (u8)(limbs[i] >> 24);
    }
}

}  // namespace

u32 bigNumAdd(u8* out, const u8* a, const u8* b) {
    u32 x[8], y[8], r[8];
    loadLimbs(x, a, 8);
    loadLimbs(y, b, 8);
    u64 carry = 0;
    for (int i = 0; i < 8; i++) {
        carry += (u64)x[i] + y[i];
        r[i] = (u32)carry;
        carry >>= 32;
    }
    storeLimbs(out, r, 8);
    return (u32)carry;
}

u32 bigNumSubtract(u8* out, const u8* a, const u8* b) {
    u32 x[8], y[8], r[8];
    loadLimbs(x, a, 8);
    loadLimbs(y, b, 8);
    u64 borrow = 0;
    for (int i = 0; i < 8; i++) {
        u64 d = (u64)x[i] - y[i] - borrow;
        r[i] = (u32)d;
        borrow = (d >> 32) & 1;
    }
    storeLimbs(out, r, 8);
    return (u32)(1 - borrow);
}

void bigNumMultiply(u8* out, const u8* a, const u8* b) {
    u32 x[8], y[8], r[16] = {};
    loadLimbs(x, a, 8);
    loadLimbs(y, b, 8);
    for (int i = 0; i < 8; i++) {
        u64 carry = 0;
        for (int j = 0; j < 8; j++) {
            carry += (u64)x[i] * y[j] + r[i + j];
            r[i + j] = (u32)carry;
            carry >>= 32;
        }
        r[i + 8] = (u32)carry;
    }
    storeLimbs(out, r, 16);
}

PreparedModulus* bigNumHighestBit(PreparedModulus* out, const u8* number) {
    memset(out, 0, sizeof(*out));
    u32 limbs[8];
    loadLimbs(limbs, number, 8);
    int top = 7;
    while (top > 0 && limbs[top] == 0) top--;
    if (limbs[top] == 0) {
        out->isZero = 1;
        return out;
    }
    u32 shift = 0;
    while (!(limbs[top] << shift & 0x80000000u)) shift++;
    out->topLimb = (u32)top;
    out->shift = shift;
    for (int i = top; i >= 0; i--) {
        u32 value = limbs[i] << shift;
        if (shift && i > 0) value |= limbs[i - 1] >> (32 - shift);
        out->limbs[i] = value;
    }
    return out;
}

// Knuth's Algorithm D over u32 limbs: the dividend (16 limbs) is normalised by the modulus' shift,
// each quotient limb is estimated from the top two limbs and corrected at most twice.
void bigNumModReduce(u8* quotient, u8* remainder, const u8* dividend, const PreparedModulus* modulus) {
    memset(quotient, 0, 64);
    memset(remainder, 0, 32);
    if (modulus->isZero) return;
    const int n = (int)modulus->topLimb + 1;
    const u32 shift = modulus->shift;
    const u32* v = modulus->limbs;
    u32 raw[16];
    loadLimbs(raw, dividend, 16);
    u32 u[17];
    u[16] = shift ? raw[15] >> (32 - shift) : 0;
    for (int i = 15; i >= 0; i--) {
        u[i] = raw[i] << shift;
        if (shift && i > 0) u[i] |= raw[i - 1] >> (32 - shift);
    }
    u32 q[16] = {};
    const u64 base = 1ull << 32;
    for (int j = 16 - n; j >= 0; j--) {
        u64 top = (u64)u[j + n] << 32 | u[j + n - 1];
        u64 qhat = top / v[n - 1];
        u64 rhat = top % v[n - 1];
        while (qhat >= base || (n >= 2 && qhat * v[n - 2] > (rhat << 32 | u[j + n - 2]))) {
            qhat--;
            rhat += v[n - 1];
            if (rhat >= base) break;
        }
        // u[j .. j+n] -= qhat * v
        i64 borrow = 0;
        u64 carry = 0;
        for (int i = 0; i < n; i++) {
            u64 product = qhat * v[i] + carry;
            carry = product >> 32;
            i64 t = (i64)u[i + j] - borrow - (i64)(u32)product;
            u[i + j] = (u32)t;
            borrow = t < 0 ? 1 : 0;
        }
        i64 t = (i64)u[j + n] - borrow - (i64)carry;
        u[j + n] = (u32)t;
        if (t < 0) {  // qhat was one too large: add the divisor back
            qhat--;
            u64 c = 0;
            for (int i = 0; i < n; i++) {
                c += (u64)u[i + j] + v[i];
                u[i + j] = (u32)c;
                c >>= 32;
            }
            u[j + n] += (u32)c;
        }
        q[j] = (u32)qhat;
    }
    u32 r[8] = {};
    for (int i = 0; i < n; i++) {
        r[i] = u[i] >> shift;
        if (shift) r[i] |= u[i + 1] << (32 - shift);
    }
    storeLimbs(quotient, q, 16);
    storeLimbs(remainder, r, 8);
}

i32 bigNumCompare(const u8* a, const u8* b) {
    for (int i = 31; i >= 0; i--) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

bool bigNumIsZero(const u8* a) {
    u8 any = 0;
    for (int i = 0; i < 32; i++) any |= a[i];
    return any == 0;
}

// Extended Euclid on (modulus, value), keeping the coefficients of both modulo 2^256 in two's
// complement: r_i = value t_i + modulus s_i throughout. Every coefficient used lies within half the
// other number, so the 256-bit form holds it.
void extendedEuclideanAlgorithm(u8* gcd, u8* inverse, u8* work, const u8* value, const u8* modulus) {
    ProfilingScope scope("Extended Euclidean Algorithm");
    u8 r0[32], r1[32], t0[32] = {}, t1[32] = {1}, s0[32] = {1}, s1[32] = {};
    memcpy(r0, modulus, 32);
    memcpy(r1, value, 32);
    while (!bigNumIsZero(r1)) {
        PreparedModulus divisor;
        bigNumHighestBit(&divisor, r1);
        u8 wide[64] = {}, q[64], r[32];
        memcpy(wide, r0, 32);
        bigNumModReduce(q, r, wide, &divisor);
        u8 product[64], t[32];
        bigNumMultiply(product, q, t1);  // the low 256 bits are the product mod 2^256
        bigNumSubtract(t, t0, product);
        memcpy(t0, t1, 32);
        memcpy(t1, t, 32);
        bigNumMultiply(product, q, s1);
        bigNumSubtract(t, s0, product);
        memcpy(s0, s1, 32);
        memcpy(s1, t, 32);
        memcpy(r0, r1, 32);
        memcpy(r1, r, 32);
    }
    memcpy(gcd, r0, 32);
    memcpy(inverse, t0, 32);
    memcpy(work, s0, 32);
}
