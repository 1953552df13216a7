// The P-256 half of an ECDSA check, on public values only (so free to branch on them): u1 and u2
// modulo the group order, and u1 G + u2 Q by one pass of doublings over both scalars in
// non-adjacent form, the generator's odd multiples coming from an affine table made once.
#include <cstring>

#include "Crypto/P256.h"
#include "Crypto/P256Point.h"

namespace {

using namespace p256;

// ---- Numbers modulo the group order n, in Montgomery form where marked.

constexpr u64 kN[4] = {0xF3B9CAC2FC632551ull, 0xBCE6FAADA7179E84ull, 0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFF00000000ull};
constexpr u64 kNInverse = 0xCCD1C8AAEE00BC4Full;  // -n^-1 mod 2^64
constexpr u64 kNRSquared[4] = {0x83244C95BE79EEA2ull, 0x4699799C49BD6FA6ull, 0x2845B2392B6BEC59ull,
                               0x66E12D94F3D95620ull};  // 2^512 mod n

// One reduction step modulo n over the window a0 .. a5: adds m n with m = a0 (-n^-1) mod 2^64,
// which clears a0 (the caller drops it).
inline void reduceStepModN(u64 a0, u64& a1, u64& a2, u64& a3, u64& a4, u64& a5) {
    u64 m = a0 * kNInverse;
    u128 t = (u128)m * kN[0] + a0;
    t = (u128)m * kN[1] + a1 + (u64)(t >> 64);
    a1 = (u64)t;
    t = (u128)m * kN[2] + a2 + (u64)(t >> 64);
    a2 = (u64)t;
    t = (u128)m * kN[3] + a3 + (u64)(t >> 64);
    a3 = (u64)t;
    unsigned char c = addCarry(0, a4, (u64)(t >> 64), &a4);
    a5 += c;
}

// out = a b / 2^256 mod n, for a below 2^256 and b below n: as p256::mul, one row of products at a
// time, each followed by a reduction step.
void mulModN(u64* out, const u64* a, const u64* b) {
    const u64 a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
    u64 r0 = 0, r1 = 0, r2 = 0, r3 = 0, r4 = 0, r5 = 0, carry;
    u128 t;
#pragma GCC unroll 4
    for (int i = 0; i < 4; i++) {
        u64 bi = b[i];
        t = (u128)a0 * bi + r0;
        r0 = (u64)t, carry = (u64)(t >> 64);
        t = (u128)a1 * bi + r1 + carry;
        r1 = (u64)t, carry = (u64)(t >> 64);
        t = (u128)a2 * bi + r2 + carry;
        r2 = (u64)t, carry = (u64)(t >> 64);
        t = (u128)a3 * bi + r3 + carry;
        r3 = (u64)t, carry = (u64)(t >> 64);
        t = (u128)r4 + carry;
        r4 = (u64)t, r5 = (u64)(t >> 64);
        reduceStepModN(r0, r1, r2, r3, r4, r5);
        r0 = r1, r1 = r2, r2 = r3, r3 = r4, r4 = r5;
    }
    // (r4 : r3 .. r0) is below 2 n
    u64 s0, s1, s2, s3, s4;
    unsigned char borrow = subBorrow(0, r0, kN[0], &s0);
    borrow = subBorrow(borrow, r1, kN[1], &s1);
    borrow = subBorrow(borrow, r2, kN[2], &s2);
    borrow = subBorrow(borrow, r3, kN[3], &s3);
    borrow = subBorrow(borrow, r4, 0, &s4);
    if (borrow) {
        out[0] = r0, out[1] = r1, out[2] = r2, out[3] = r3;
    } else {
        out[0] = s0, out[1] = s1, out[2] = s2, out[3] = s3;
    }
}

// out = a^(n - 2) = 1 / a in Montgomery form, by fixed 4-bit windows over the (public) exponent.
void invertModN(u64* out, const u64* a) {
    const u64 exponent[4] = {kN[0] - 2, kN[1], kN[2], kN[3]};
    u64 powers[16][4];
    const u64 plainOne[4] = {1, 0, 0, 0};
    mulModN(powers[0], plainOne, kNRSquared);
    memcpy(powers[1], a, sizeof(powers[1]));
    for (int i = 2; i < 16; i++) mulModN(powers[i], powers[i - 1], a);
    u64 result[4];
    memcpy(result, powers[exponent[3] >> 60], sizeof(result));
    for (int nibble = 62; nibble >= 0; nibble--) {
        for (int i = 0; i < 4; i++) mulModN(result, result, result);
        u32 digit = (u32)(exponent[nibble / 16] >> (4 * (nibble % 16))) & 15;
        if (digit) mulModN(result, result, powers[digit]);
    }
    memcpy(out, result, sizeof(result));
}

// ---- Scalars in width-w non-adjacent form: digits odd in (-2^(w-1), 2^(w-1)) or zero, with at
// least w - 1 zeros after each non-zero one, least significant first.

constexpr int kMaxDigits = 258;

int nonAdjacentForm(i8* digits, const u64* scalar, int width) {
    u64 k[5] = {scalar[0], scalar[1], scalar[2], scalar[3], 0};
    memset(digits, 0, kMaxDigits);
    int length = 0;
    const u64 windowMask = (1u << width) - 1;
    for (int i = 0; (k[0] | k[1] | k[2] | k[3] | k[4]) && i < kMaxDigits; i++) {
        if (k[0] & 1) {
            i32 digit = (i32)(k[0] & windowMask);
            if (digit >= 1 << (width - 1)) digit -= 1 << width;
            digits[i] = (i8)digit;
            // k -= digit, which clears the low width bits
            unsigned char c;
            if (digit > 0) {
                c = subBorrow(0, k[0], (u64)digit, &k[0]);
                for (int j = 1; j < 5; j++) c = subBorrow(c, k[j], 0, &k[j]);
            } else {
                c = addCarry(0, k[0], (u64)-digit, &k[0]);
                for (int j = 1; j < 5; j++) c = addCarry(c, k[j], 0, &k[j]);
            }
            length = i + 1;
        }
        for (int j = 0; j < 4; j++) k[j] = k[j] >> 1 | k[j + 1] << 63;
        k[4] >>= 1;
    }
    return length;
}

// ---- Point arithmetic on public points, the point at infinity kept as a flag.

struct PublicPoint {
    JacobianPoint p;
    bool infinity;
};

// An affine point in Montgomery form.
struct AffinePoint {
    u64 x[4], y[4];
};

// A table entry of Q's multiples: Jacobian with Z^2 and Z^3 kept.
struct CachedPoint {
    JacobianPoint p;
    u64 zz[4], zzz[4];
};

bool isZero(const u64* a) { return (a[0] | a[1] | a[2] | a[3]) == 0; }

void doublePublic(PublicPoint* r) {
    if (!r->infinity) jacobianDouble(&r->p, &r->p);
}

// r += (x, y) affine, negated when negate.
void addAffine(PublicPoint* r, const AffinePoint* q, bool negate) {
    u64 y[4];
    if (negate) {
        const u64 zero[4] = {};
        sub(y, zero, q->y);
    } else {
        memcpy(y, q->y, sizeof(y));
    }
    if (r->infinity) {
        memcpy(r->p.x, q->x, sizeof(r->p.x));
        memcpy(r->p.y, y, sizeof(r->p.y));
        memcpy(r->p.z, kOne, sizeof(r->p.z));
        r->infinity = false;
        return;
    }
    u64 zz[4], u2[4], s2[4], h[4], rr[4], z3[4];
    sqr(zz, r->p.z);
    mul(u2, q->x, zz);
    mul(s2, y, zz);
    mul(s2, s2, r->p.z);
    sub(h, u2, r->p.x);
    sub(rr, s2, r->p.y);
    if (isZero(h)) {
        if (isZero(rr)) jacobianDouble(&r->p, &r->p);
        else r->infinity = true;
        return;
    }
    mul(z3, r->p.z, h);
    u64 x1[4], y1[4];
    memcpy(x1, r->p.x, sizeof(x1));
    memcpy(y1, r->p.y, sizeof(y1));
    finishJacobianAddition(&r->p, h, rr, x1, y1, z3);
}

// r += q (Jacobian with cached Z powers), negated when negate.
void addCached(PublicPoint* r, const CachedPoint* q, bool negate) {
    u64 qy[4];
    if (negate) {
        const u64 zero[4] = {};
        sub(qy, zero, q->p.y);
    } else {
        memcpy(qy, q->p.y, sizeof(qy));
    }
    if (r->infinity) {
        memcpy(r->p.x, q->p.x, sizeof(r->p.x));
        memcpy(r->p.y, qy, sizeof(r->p.y));
        memcpy(r->p.z, q->p.z, sizeof(r->p.z));
        r->infinity = false;
        return;
    }
    u64 zz[4], u1[4], u2[4], s1[4], s2[4], h[4], rr[4], z3[4];
    sqr(zz, r->p.z);
    mul(u1, r->p.x, q->zz);
    mul(u2, q->p.x, zz);
    mul(s1, r->p.y, q->zzz);
    mul(s2, qy, zz);
    mul(s2, s2, r->p.z);
    sub(h, u2, u1);
    sub(rr, s2, s1);
    if (isZero(h)) {
        if (isZero(rr)) jacobianDouble(&r->p, &r->p);
        else r->infinity = true;
        return;
    }
    mul(z3, r->p.z, q->p.z);
    mul(z3, z3, h);
    finishJacobianAddition(&r->p, h, rr, u1, s1, z3);
}

void cache(CachedPoint* out, const PublicPoint* p) {
    out->p = p->p;
    sqr(out->zz, p->p.z);
    mul(out->zzz, out->zz, p->p.z);
}

// ---- The generator's odd multiples G, 3 G, .. 127 G, affine, made on first use.

constexpr int kGeneratorWidth = 8;
constexpr int kGeneratorEntries = 1 << (kGeneratorWidth - 2);
constexpr int kPointWidth = 5;
constexpr int kPointEntries = 1 << (kPointWidth - 2);

const AffinePoint* generatorTable() {
    static const struct Table {
        AffinePoint entries[kGeneratorEntries];
    } table = [] {
        Table t{};
        PublicPoint multiples[kGeneratorEntries], twice;
        loadPoint(multiples[0].p.x, multiples[0].p.y, kGeneratorBytes);
        memcpy(multiples[0].p.z, kOne, sizeof(kOne));
        multiples[0].infinity = false;
        twice = multiples[0];
        doublePublic(&twice);
        CachedPoint step;
        cache(&step, &twice);
        for (int i = 1; i < kGeneratorEntries; i++) {
            multiples[i] = multiples[i - 1];
            addCached(&multiples[i], &step, false);
        }
        // To affine with one inversion: prefix products of the Z coordinates.
        u64 prefix[kGeneratorEntries][4], inverse[4];
        memcpy(prefix[0], multiples[0].p.z, sizeof(prefix[0]));
        for (int i = 1; i < kGeneratorEntries; i++) mul(prefix[i], prefix[i - 1], multiples[i].p.z);
        invert(inverse, prefix[kGeneratorEntries - 1]);
        for (int i = kGeneratorEntries - 1; i >= 0; i--) {
            u64 zInverse[4], zz[4];
            if (i > 0) {
                mul(zInverse, inverse, prefix[i - 1]);
                mul(inverse, inverse, multiples[i].p.z);
            } else {
                memcpy(zInverse, inverse, sizeof(zInverse));
            }
            sqr(zz, zInverse);
            mul(t.entries[i].x, multiples[i].p.x, zz);
            mul(zz, zz, zInverse);
            mul(t.entries[i].y, multiples[i].p.y, zz);
        }
        return t;
    }();
    return table.entries;
}

bool lessThan(const u64* a, const u64* b) {
    u64 scratch[4];
    unsigned char borrow = 0;
    for (int i = 0; i < 4; i++) borrow = subBorrow(borrow, a[i], b[i], &scratch[i]);
    return borrow;
}

}  // namespace

bool p256IsOnCurve(const u8* point) { return isOnCurve(point); }

bool p256EcdsaCheck(const u8* q, const u8* eBytes, const u8* rBytes, const u8* sBytes) {
    u64 e[4], r[4], s[4], t[4];
    load(e, eBytes);
    load(r, rBytes);
    load(s, sBytes);
    if (isZero(r) || isZero(s) || !lessThan(r, kN) || !lessThan(s, kN)) return false;
    // u1 = e / s and u2 = r / s: the inverse of s in Montgomery form times a plain number is plain.
    u64 sInverse[4], u1[4], u2[4];
    mulModN(t, s, kNRSquared);
    invertModN(sInverse, t);
    mulModN(u1, e, sInverse);
    mulModN(u2, r, sInverse);

    i8 digits1[kMaxDigits], digits2[kMaxDigits];
    int length1 = nonAdjacentForm(digits1, u1, kGeneratorWidth);
    int length2 = nonAdjacentForm(digits2, u2, kPointWidth);
    const AffinePoint* gTable = generatorTable();
    CachedPoint qTable[kPointEntries];
    PublicPoint point, twice;
    loadPoint(point.p.x, point.p.y, q);
    memcpy(point.p.z, kOne, sizeof(kOne));
    point.infinity = false;
    twice = point;
    doublePublic(&twice);
    CachedPoint step;
    cache(&step, &twice);
    cache(&qTable[0], &point);
    for (int i = 1; i < kPointEntries; i++) {
        addCached(&point, &step, false);
        if (point.infinity) return false;  // never for a point of the curve's prime order
        cache(&qTable[i], &point);
    }

    PublicPoint sum;
    sum.infinity = true;
    for (int i = (length1 > length2 ? length1 : length2) - 1; i >= 0; i--) {
        doublePublic(&sum);
        if (digits1[i] > 0) addAffine(&sum, &gTable[digits1[i] / 2], false);
        else if (digits1[i] < 0) addAffine(&sum, &gTable[-digits1[i] / 2], true);
        if (digits2[i] > 0) addCached(&sum, &qTable[digits2[i] / 2], false);
        else if (digits2[i] < 0) addCached(&sum, &qTable[-digits2[i] / 2], true);
    }
    if (sum.infinity) return false;
    // x = X / Z^2 reduced modulo n equals r: x is r or r + n (x < p < 2 n), so compare X with
    // r Z^2 and, when r + n is below p, with (r + n) Z^2, without an inversion.
    u64 zz[4], candidate[4];
    sqr(zz, sum.p.z);
    toMontgomery(candidate, r);
    mul(candidate, candidate, zz);
    if (memcmp(candidate, sum.p.x, sizeof(candidate)) == 0) return true;
    u64 rPlusN[4];
    unsigned char carry = 0;
    for (int i = 0; i < 4; i++) carry = addCarry(carry, r[i], kN[i], &rPlusN[i]);
    const u64 p[4] = {kP0, kP1, kP2, kP3};
    if (carry || !lessThan(rPlusN, p)) return false;
    toMontgomery(candidate, rPlusN);
    mul(candidate, candidate, zz);
    return memcmp(candidate, sum.p.x, sizeof(candidate)) == 0;
}
