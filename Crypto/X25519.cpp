#include "Crypto/X25519.h"

#include <cstring>

#include "Core/Profiler.h"
#include "Crypto/CpuFeatures.h"
#include "Crypto/X25519WideField.h"
#include "Platform/Random.h"

namespace {

// Numbers modulo p = 2^255 - 19 as five 51-bit limbs (least significant first). Limbs may run a
// few bits over 51 between reductions; every operation is free of branches and look-ups on the
// values.
using u128 = unsigned __int128;
constexpr u64 kMask51 = (1ull << 51) - 1;

struct Element {
    u64 limb[5];
};

Element fromBytes(const u8* bytes) {
    u64 w[4];
    for (int i = 0; i < 4; i++) {
        u64 v = 0;
        for (int j = 7; j >= 0; j--) v = v << 8 | bytes[8 * i + j];
        w[i] = v;
    }
    w[3] &= 0x7FFFFFFFFFFFFFFFull;  // the top bit of u is ignored
    return {{w[0] & kMask51, (w[0] >> 51 | w[1] << 13) & kMask51, (w[1] >> 38 | w[2] << 26) & kMask51,
             (w[2] >> 25 | w[3] << 39) & kMask51, w[3] >> 12}};
}

// Limbs below 2^51 again, the overflow of the top limb folded back as 19 times itself.
Element carry(Element a) {
    for (int pass = 0; pass < 2; pass++) {
        for (int i = 0; i < 4; i++) {
            a.limb[i + 1] += a.limb[i] >> 51;
            a.limb[i] &= kMask51;
        }
        a.limb[0] += 19 * (a.limb[4] >> 51);
        a.limb[4] &= kMask51;
    }
    return a;
}

void toBytes(u8* out, Element a) {
    a = carry(a);
    // q = 1 exactly when a >= p; then a - p = a + 19 - 2^255.
    u64 q = (a.limb[0] + 19) >> 51;
    for (int i = 1; i < 5; i++) q = (a.limb[i] + q) >> 51;
    a.limb[0] += 19 * q;
    for (int i = 0; i < 4; i++) {
        a.limb[i + 1] += a.limb[i] >> 51;
        a.limb[i] &= kMask51;
    }
    a.limb[4] &= kMask51;
    u64 w[4] = {a.limb[0] | a.limb[1] << 51, a.limb[1] >> 13 | a.limb[2] << 38, a.limb[2] >> 26 | a.limb[3] << 25,
                a.limb[3] >> 39 | a.limb[4] << 12};
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 8; j++) out[8 * i + j] = (u8)(w[i] >> (8 * j));
}

Element add(const Element& a, const Element& b) {
    Element r;
    for (int i = 0; i < 5; i++) r.limb[i] = a.limb[i] + b.limb[i];
    return r;
}

// a - b for b with limbs below 2^52: 2p is added first so no limb goes below zero.
Element subtract(const Element& a, const Element& b) {
    Element r;
    r.limb[0] = a.limb[0] + 0xFFFFFFFFFFFDAull - b.limb[0];
    for (int i = 1; i < 5; i++) r.limb[i] = a.limb[i] + 0xFFFFFFFFFFFFEull - b.limb[i];
    return r;
}

Element multiply(const Element& f, const Element& g) {
    const u64 *a = f.limb, *b = g.limb;
    u64 b1 = 19 * b[1], b2 = 19 * b[2], b3 = 19 * b[3], b4 = 19 * b[4];
    u128 r0 = (u128)a[0] * b[0] + (u128)a[1] * b4 + (u128)a[2] * b3 + (u128)a[3] * b2 + (u128)a[4] * b1;
    u128 r1 = (u128)a[0] * b[1] + (u128)a[1] * b[0] + (u128)a[2] * b4 + (u128)a[3] * b3 + (u128)a[4] * b2;
    u128 r2 = (u128)a[0] * b[2] + (u128)a[1] * b[1] + (u128)a[2] * b[0] + (u128)a[3] * b4 + (u128)a[4] * b3;
    u128 r3 = (u128)a[0] * b[3] + (u128)a[1] * b[2] + (u128)a[2] * b[1] + (u128)a[3] * b[0] + (u128)a[4] * b4;
    u128 r4 = (u128)a[0] * b[4] + (u128)a[1] * b[3] + (u128)a[2] * b[2] + (u128)a[3] * b[1] + (u128)a[4] * b[0];
    Element h;
    r1 += (u64)(r0 >> 51);
    h.limb[0] = (u64)r0 & kMask51;
    r2 += (u64)(r1 >> 51);
    h.limb[1] = (u64)r1 & kMask51;
    r3 += (u64)(r2 >> 51);
    h.limb[2] = (u64)r2 & kMask51;
    r4 += (u64)(r3 >> 51);
    h.limb[3] = (u64)r3 & kMask51;
    u64 top = (u64)(r4 >> 51);
    h.limb[4] = (u64)r4 & kMask51;
    h.limb[0] += top * 19;
    h.limb[1] += h.limb[0] >> 51;
    h.limb[0] &= kMask51;
    return h;
}

// f^2, the symmetric products taken once.
Element square(const Element& f) {
    const u64* a = f.limb;
    u64 a0x2 = 2 * a[0], a1x2 = 2 * a[1], a1x38 = 38 * a[1], a2x38 = 38 * a[2], a3x19 = 19 * a[3], a3x38 = 38 * a[3],
        a4x19 = 19 * a[4];
    u128 r0 = (u128)a[0] * a[0] + (u128)a1x38 * a[4] + (u128)a2x38 * a[3];
    u128 r1 = (u128)a0x2 * a[1] + (u128)a2x38 * a[4] + (u128)a3x19 * a[3];
    u128 r2 = (u128)a0x2 * a[2] + (u128)a[1] * a[1] + (u128)a3x38 * a[4];
    u128 r3 = (u128)a0x2 * a[3] + (u128)a1x2 * a[2] + (u128)a4x19 * a[4];
    u128 r4 = (u128)a0x2 * a[4] + (u128)a1x2 * a[3] + (u128)a[2] * a[2];
    Element h;
    r1 += (u64)(r0 >> 51);
    h.limb[0] = (u64)r0 & kMask51;
    r2 += (u64)(r1 >> 51);
    h.limb[1] = (u64)r1 & kMask51;
    r3 += (u64)(r2 >> 51);
    h.limb[2] = (u64)r2 & kMask51;
    r4 += (u64)(r3 >> 51);
    h.limb[3] = (u64)r3 & kMask51;
    u64 top = (u64)(r4 >> 51);
    h.limb[4] = (u64)r4 & kMask51;
    h.limb[0] += top * 19;
    h.limb[1] += h.limb[0] >> 51;
    h.limb[0] &= kMask51;
    return h;
}

Element squareTimes(Element f, int times) {
    for (int i = 0; i < times; i++) f = square(f);
    return f;
}

// f times a constant below 2^32 (the ladder's (A - 2) / 4 = 121665).
Element multiplySmall(const Element& f, u64 constant) {
    Element h;
    u128 carry = 0;
    for (int i = 0; i < 5; i++) {
        u128 product = (u128)f.limb[i] * constant + carry;
        h.limb[i] = (u64)product & kMask51;
        carry = product >> 51;
    }
    h.limb[0] += 19 * (u64)carry;
    h.limb[1] += h.limb[0] >> 51;
    h.limb[0] &= kMask51;
    return h;
}

void conditionalSwap(Element* a, Element* b, u64 bit) {
    u64 mask = 0 - bit;
    for (int i = 0; i < 5; i++) {
        u64 t = (a->limb[i] ^ b->limb[i]) & mask;
        a->limb[i] ^= t;
        b->limb[i] ^= t;
    }
}

// a^(p - 2) = 1 / a (0 for 0), along the usual chain of 254 squarings and 11 products for
// 2^255 - 21; the steps never depend on a.
Element invert(const Element& a) {
    Element a2 = square(a);
    Element a9 = multiply(squareTimes(a2, 2), a);
    Element a11 = multiply(a9, a2);
    Element t5 = multiply(square(a11), a9);  // a^(2^5 - 1)
    Element t10 = multiply(squareTimes(t5, 5), t5);
    Element t20 = multiply(squareTimes(t10, 10), t10);
    Element t40 = multiply(squareTimes(t20, 20), t20);
    Element t50 = multiply(squareTimes(t40, 10), t10);
    Element t100 = multiply(squareTimes(t50, 50), t50);
    Element t200 = multiply(squareTimes(t100, 100), t100);
    Element t250 = multiply(squareTimes(t200, 50), t50);
    return multiply(squareTimes(t250, 5), a11);
}

// The ladder of RFC 7748 section 5 on the five-limb numbers: out = X25519(clamped scalar, u).
void ladderPortable(u8* out, const u8* scalar, const u8* u) {
    const Element x1 = fromBytes(u);
    Element x2 = {{1, 0, 0, 0, 0}}, z2 = {}, x3 = x1, z3 = {{1, 0, 0, 0, 0}};
    u64 swap = 0;
    for (int t = 254; t >= 0; t--) {
        u64 bit = (scalar[t / 8] >> (t % 8)) & 1;
        swap ^= bit;
        conditionalSwap(&x2, &x3, swap);
        conditionalSwap(&z2, &z3, swap);
        swap = bit;
        Element a = add(x2, z2), aa = square(a);
        Element b = subtract(x2, z2), bb = square(b);
        Element e = subtract(aa, bb);
        Element c = add(x3, z3), d = subtract(x3, z3);
        Element da = multiply(d, a), cb = multiply(c, b);
        Element sum = add(da, cb), difference = subtract(da, cb);
        x3 = square(sum);
        z3 = multiply(x1, square(difference));
        x2 = multiply(aa, bb);
        z2 = multiply(e, add(aa, multiplySmall(e, 121665)));
    }
    conditionalSwap(&x2, &x3, swap);
    conditionalSwap(&z2, &z3, swap);
    toBytes(out, multiply(x2, invert(z2)));
}

// The same ladder on four 64-bit limbs and the processor's wide products.
namespace wide {

using x25519wide::add, x25519wide::canonical, x25519wide::conditionalSwap, x25519wide::Element, x25519wide::mul,
    x25519wide::mulSmallAdd, x25519wide::sqr, x25519wide::sub;

void squareTimes(Element* out, const Element* a, int times) {
    sqr(out, a);
    for (int i = 1; i < times; i++) sqr(out, out);
}

// a^(p - 2) along the same chain as the five-limb invert().
void invert(Element* out, const Element* a) {
    Element a2, a9, a11, t5, t10, t20, t40, t50, t100, t, s;
    sqr(&a2, a);
    squareTimes(&t, &a2, 2);
    mul(&a9, &t, a);
    mul(&a11, &a9, &a2);
    sqr(&t, &a11);
    mul(&t5, &t, &a9);
    squareTimes(&t, &t5, 5);
    mul(&t10, &t, &t5);
    squareTimes(&t, &t10, 10);
    mul(&t20, &t, &t10);
    squareTimes(&t, &t20, 20);
    mul(&t40, &t, &t20);
    squareTimes(&t, &t40, 10);
    mul(&t50, &t, &t10);
    squareTimes(&t, &t50, 50);
    mul(&t100, &t, &t50);
    squareTimes(&t, &t100, 100);
    mul(&s, &t, &t100);  // a^(2^200 - 1)
    squareTimes(&t, &s, 50);
    mul(&s, &t, &t50);  // a^(2^250 - 1)
    squareTimes(&t, &s, 5);
    mul(out, &t, &a11);
}

void ladder(u8* out, const u8* scalar, const u8* u) {
    Element x1;
    for (int i = 0; i < 4; i++) {
        u64 v = 0;
        for (int j = 7; j >= 0; j--) v = v << 8 | u[8 * i + j];
        x1.limb[i] = v;
    }
    x1.limb[3] &= 0x7FFFFFFFFFFFFFFFull;  // the top bit of u is ignored
    Element x2 = {{1, 0, 0, 0}}, z2 = {}, x3 = x1, z3 = {{1, 0, 0, 0}};
    Element a, aa, b, bb, e, c, d, da, cb, t;
    u64 swap = 0;
    for (int i = 254; i >= 0; i--) {
        u64 bit = (scalar[i / 8] >> (i % 8)) & 1;
        swap ^= bit;
        conditionalSwap(&x2, &x3, swap);
        conditionalSwap(&z2, &z3, swap);
        swap = bit;
        add(&a, &x2, &z2);
        sqr(&aa, &a);
        sub(&b, &x2, &z2);
        sqr(&bb, &b);
        sub(&e, &aa, &bb);
        add(&c, &x3, &z3);
        sub(&d, &x3, &z3);
        mul(&da, &d, &a);
        mul(&cb, &c, &b);
        add(&t, &da, &cb);
        sqr(&x3, &t);
        sub(&t, &da, &cb);
        sqr(&t, &t);
        mul(&z3, &x1, &t);
        mul(&x2, &aa, &bb);
        mulSmallAdd(&t, &e, 121665, &aa);
        mul(&z2, &e, &t);
    }
    conditionalSwap(&x2, &x3, swap);
    conditionalSwap(&z2, &z3, swap);
    invert(&t, &z2);
    mul(&t, &x2, &t);
    canonical(&t, &t);
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 8; j++) out[8 * i + j] = (u8)(t.limb[i] >> (8 * j));
}

}  // namespace wide

// 0: the wide products where the processor has them, 1: the portable ones, 2: the wide ones
// without asking the processor.
int gFieldChoice = 0;

}  // namespace

const u8 x25519BasePoint[32] = {9};

u8* x25519(u8* out, u8* scalar, const u8* u) {
    ProfilingScope scope("x25519");
    scalar[0] &= 248;
    scalar[31] &= 63;
    scalar[31] |= 64;
    if (gFieldChoice == 2 || (gFieldChoice == 0 && cpuHasMulxAdx())) wide::ladder(out, scalar, u);
    else ladderPortable(out, scalar, u);
    return out;
}

void x25519AllowProcessorExtensions(bool allow) { gFieldChoice = allow ? 0 : 1; }

void x25519ForceProcessorExtensions() { gFieldChoice = 2; }

i32 generateX25519KeyPair(u8* privateKey, u8* publicKey) {
    if (getRandomBytes(privateKey, 32)) return 1;
    x25519(publicKey, privateKey, x25519BasePoint);
    return 0;
}
