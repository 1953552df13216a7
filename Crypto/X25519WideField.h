// Arithmetic modulo p = 2^255 - 19 on four 64-bit limbs (least significant first) with the
// processor's MULX, ADCX and ADOX instructions: callers check cpuHasMulxAdx() first. Values are kept
// below 2^256 but not fully reduced between steps; since 2^256 = 38 (mod p), a carry out of the top
// word comes back as 38 at the bottom. canonical() reduces fully at the end. Every function runs in
// time independent of the values: no branches or table look-ups on them. Used inside X25519.cpp only.
#pragma once
#include <x86intrin.h>

#include "Core/Types.h"

namespace x25519wide {

using u128 = unsigned __int128;
using Limbs = unsigned long long;  // the limb type of the carry intrinsics (u64 is the same size)

struct Element {
    u64 limb[4];
};

alignas(16) inline constexpr u64 kConstants[2] = {38, 0};

// The low four words t0 .. t3 plus 38 times the high four t4 .. t7 (clobbered), into t0 .. t3: the
// products' high halves ride the overflow flag, the low halves the carry flag; what is left over the
// top (at most 39) comes back times 38, and the rare carry of that as 38 once more (which cannot
// carry again, the low word being small then).
#define ORVIK_X25519_REDUCE                \
    "movq %[k38], %%rdx\n\t"               \
    "xorl %k[lo], %k[lo]\n\t"              \
    "mulxq %[t4], %[lo], %[hi]\n\t"        \
    "adcxq %[lo], %[t0]\n\t"               \
    "adoxq %[hi], %[t1]\n\t"               \
    "mulxq %[t5], %[lo], %[hi]\n\t"        \
    "adcxq %[lo], %[t1]\n\t"               \
    "adoxq %[hi], %[t2]\n\t"               \
    "mulxq %[t6], %[lo], %[hi]\n\t"        \
    "adcxq %[lo], %[t2]\n\t"               \
    "adoxq %[hi], %[t3]\n\t"               \
    "mulxq %[t7], %[lo], %[t4]\n\t"        \
    "adcxq %[lo], %[t3]\n\t"               \
    "adoxq %[zero], %[t4]\n\t"             \
    "adcxq %[zero], %[t4]\n\t"             \
    "imulq $38, %[t4], %[t4]\n\t"          \
    "addq %[t4], %[t0]\n\t"                \
    "adcq $0, %[t1]\n\t"                   \
    "adcq $0, %[t2]\n\t"                   \
    "adcq $0, %[t3]\n\t"                   \
    "sbbq %[lo], %[lo]\n\t"                \
    "andq $38, %[lo]\n\t"                  \
    "addq %[lo], %[t0]\n\t"

// t_i .. t_(i+4) += a bi, one row of the schoolbook product: the fifth word is fresh.
#define ORVIK_X25519_ROW(bi, x0, x1, x2, x3, x4) \
    "movq " bi ", %%rdx\n\t"                      \
    "xorl %k[lo], %k[lo]\n\t"                     \
    "mulxq %[a0], %[lo], %[hi]\n\t"               \
    "adcxq %[lo], %[" x0 "]\n\t"                  \
    "adoxq %[hi], %[" x1 "]\n\t"                  \
    "mulxq %[a1], %[lo], %[hi]\n\t"               \
    "adcxq %[lo], %[" x1 "]\n\t"                  \
    "adoxq %[hi], %[" x2 "]\n\t"                  \
    "mulxq %[a2], %[lo], %[hi]\n\t"               \
    "adcxq %[lo], %[" x2 "]\n\t"                  \
    "adoxq %[hi], %[" x3 "]\n\t"                  \
    "mulxq %[a3], %[lo], %[" x4 "]\n\t"           \
    "adcxq %[lo], %[" x3 "]\n\t"                  \
    "adoxq %[zero], %[" x4 "]\n\t"                \
    "adcxq %[zero], %[" x4 "]\n\t"

// out = a b (mod p), below 2^256. out may be a or b.
[[gnu::always_inline]] inline void mul(Element* out, const Element* a, const Element* b) {
    u64 t0, t1, t2, t3, t4, t5, t6, t7, lo, hi;
    asm("movq %[b0], %%rdx\n\t"
        "mulxq %[a0], %[t0], %[t1]\n\t"
        "mulxq %[a1], %[lo], %[t2]\n\t"
        "addq %[lo], %[t1]\n\t"
        "mulxq %[a2], %[lo], %[t3]\n\t"
        "adcq %[lo], %[t2]\n\t"
        "mulxq %[a3], %[lo], %[t4]\n\t"
        "adcq %[lo], %[t3]\n\t"
        "adcq $0, %[t4]\n\t"
        ORVIK_X25519_ROW("%[b1]", "t1", "t2", "t3", "t4", "t5")
        ORVIK_X25519_ROW("%[b2]", "t2", "t3", "t4", "t5", "t6")
        ORVIK_X25519_ROW("%[b3]", "t3", "t4", "t5", "t6", "t7")
        ORVIK_X25519_REDUCE
        : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4), [t5] "=&r"(t5),
          [t6] "=&r"(t6), [t7] "=&r"(t7), [lo] "=&r"(lo), [hi] "=&r"(hi)
        : [a0] "m"(a->limb[0]), [a1] "m"(a->limb[1]), [a2] "m"(a->limb[2]), [a3] "m"(a->limb[3]),
          [b0] "m"(b->limb[0]), [b1] "m"(b->limb[1]), [b2] "m"(b->limb[2]), [b3] "m"(b->limb[3]),
          [k38] "m"(kConstants[0]), [zero] "m"(kConstants[1])
        : "rdx", "cc");
    out->limb[0] = t0;
    out->limb[1] = t1;
    out->limb[2] = t2;
    out->limb[3] = t3;
}

// out = a^2 (mod p), below 2^256: the six cross products once, doubled on the carry flag while the
// squares come in on the overflow flag. out may be a.
[[gnu::always_inline]] inline void sqr(Element* out, const Element* a) {
    u64 t0, t1, t2, t3, t4, t5, t6, t7, lo, hi;
    asm("movq %[a0], %%rdx\n\t"
        "mulxq %[a1], %[t1], %[t2]\n\t"
        "mulxq %[a2], %[lo], %[t3]\n\t"
        "addq %[lo], %[t2]\n\t"
        "mulxq %[a3], %[lo], %[t4]\n\t"
        "adcq %[lo], %[t3]\n\t"
        "movq %[a1], %%rdx\n\t"
        "mulxq %[a3], %[lo], %[t5]\n\t"
        "adcq %[lo], %[t4]\n\t"
        "movq %[a2], %%rdx\n\t"
        "mulxq %[a3], %[lo], %[t6]\n\t"
        "adcq %[lo], %[t5]\n\t"
        "adcq $0, %[t6]\n\t"
        "movq %[a1], %%rdx\n\t"
        "mulxq %[a2], %[lo], %[hi]\n\t"
        "addq %[lo], %[t3]\n\t"
        "adcq %[hi], %[t4]\n\t"
        "adcq $0, %[t5]\n\t"
        "adcq $0, %[t6]\n\t"
        "xorl %k[t7], %k[t7]\n\t"
        "movq %[a0], %%rdx\n\t"
        "mulxq %%rdx, %[t0], %[hi]\n\t"
        "adcxq %[t1], %[t1]\n\t"
        "adoxq %[hi], %[t1]\n\t"
        "movq %[a1], %%rdx\n\t"
        "mulxq %%rdx, %[lo], %[hi]\n\t"
        "adcxq %[t2], %[t2]\n\t"
        "adoxq %[lo], %[t2]\n\t"
        "adcxq %[t3], %[t3]\n\t"
        "adoxq %[hi], %[t3]\n\t"
        "movq %[a2], %%rdx\n\t"
        "mulxq %%rdx, %[lo], %[hi]\n\t"
        "adcxq %[t4], %[t4]\n\t"
        "adoxq %[lo], %[t4]\n\t"
        "adcxq %[t5], %[t5]\n\t"
        "adoxq %[hi], %[t5]\n\t"
        "movq %[a3], %%rdx\n\t"
        "mulxq %%rdx, %[lo], %[hi]\n\t"
        "adcxq %[t6], %[t6]\n\t"
        "adoxq %[lo], %[t6]\n\t"
        "adcxq %[t7], %[t7]\n\t"
        "adoxq %[hi], %[t7]\n\t"
        ORVIK_X25519_REDUCE
        : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4), [t5] "=&r"(t5),
          [t6] "=&r"(t6), [t7] "=&r"(t7), [lo] "=&r"(lo), [hi] "=&r"(hi)
        : [a0] "m"(a->limb[0]), [a1] "m"(a->limb[1]), [a2] "m"(a->limb[2]), [a3] "m"(a->limb[3]),
          [k38] "m"(kConstants[0]), [zero] "m"(kConstants[1])
        : "rdx", "cc");
    out->limb[0] = t0;
    out->limb[1] = t1;
    out->limb[2] = t2;
    out->limb[3] = t3;
}

#undef ORVIK_X25519_ROW
#undef ORVIK_X25519_REDUCE

inline unsigned char addCarry(unsigned char carry, u64 a, u64 b, u64* out) {
    Limbs sum;
    carry = _addcarry_u64(carry, a, b, &sum);
    *out = sum;
    return carry;
}

inline unsigned char subBorrow(unsigned char borrow, u64 a, u64 b, u64* out) {
    Limbs difference;
    borrow = _subborrow_u64(borrow, a, b, &difference);
    *out = difference;
    return borrow;
}

// out = a + b (mod p), below 2^256.
inline void add(Element* out, const Element* a, const Element* b) {
    u64 s0, s1, s2, s3;
    unsigned char c = addCarry(0, a->limb[0], b->limb[0], &s0);
    c = addCarry(c, a->limb[1], b->limb[1], &s1);
    c = addCarry(c, a->limb[2], b->limb[2], &s2);
    c = addCarry(c, a->limb[3], b->limb[3], &s3);
    c = addCarry(0, s0, (0 - (u64)c) & 38, &s0);
    c = addCarry(c, s1, 0, &s1);
    c = addCarry(c, s2, 0, &s2);
    c = addCarry(c, s3, 0, &s3);
    out->limb[0] = s0 + ((0 - (u64)c) & 38);
    out->limb[1] = s1;
    out->limb[2] = s2;
    out->limb[3] = s3;
}

// out = a - b (mod p), below 2^256: a borrow out of the top takes 38 off the bottom.
inline void sub(Element* out, const Element* a, const Element* b) {
    u64 d0, d1, d2, d3;
    unsigned char c = subBorrow(0, a->limb[0], b->limb[0], &d0);
    c = subBorrow(c, a->limb[1], b->limb[1], &d1);
    c = subBorrow(c, a->limb[2], b->limb[2], &d2);
    c = subBorrow(c, a->limb[3], b->limb[3], &d3);
    c = subBorrow(0, d0, (0 - (u64)c) & 38, &d0);
    c = subBorrow(c, d1, 0, &d1);
    c = subBorrow(c, d2, 0, &d2);
    c = subBorrow(c, d3, 0, &d3);
    out->limb[0] = d0 - ((0 - (u64)c) & 38);
    out->limb[1] = d1;
    out->limb[2] = d2;
    out->limb[3] = d3;
}

// out = a times a constant below 2^32, plus b (mod p), below 2^256.
inline void mulSmallAdd(Element* out, const Element* a, u64 constant, const Element* b) {
    u128 t = (u128)a->limb[0] * constant + b->limb[0];
    u64 r0 = (u64)t;
    t = (u128)a->limb[1] * constant + b->limb[1] + (u64)(t >> 64);
    u64 r1 = (u64)t;
    t = (u128)a->limb[2] * constant + b->limb[2] + (u64)(t >> 64);
    u64 r2 = (u64)t;
    t = (u128)a->limb[3] * constant + b->limb[3] + (u64)(t >> 64);
    u64 r3 = (u64)t, top = (u64)(t >> 64);
    unsigned char c = addCarry(0, r0, top * 38, &r0);
    c = addCarry(c, r1, 0, &r1);
    c = addCarry(c, r2, 0, &r2);
    c = addCarry(c, r3, 0, &r3);
    out->limb[0] = r0 + ((0 - (u64)c) & 38);
    out->limb[1] = r1;
    out->limb[2] = r2;
    out->limb[3] = r3;
}

// a and b exchanged when bit is 1, left when 0.
inline void conditionalSwap(Element* a, Element* b, u64 bit) {
    u64 mask = 0 - bit;
    for (int i = 0; i < 4; i++) {
        u64 t = (a->limb[i] ^ b->limb[i]) & mask;
        a->limb[i] ^= t;
        b->limb[i] ^= t;
    }
}

// The unique representative below p: the top bit folded back as 19, then p subtracted when the
// value is at least p (adding 19 then reaches 2^255).
inline void canonical(Element* out, const Element* a) {
    u64 r0, r1, r2, r3;
    unsigned char c = addCarry(0, a->limb[0], 19 * (a->limb[3] >> 63), &r0);
    c = addCarry(c, a->limb[1], 0, &r1);
    c = addCarry(c, a->limb[2], 0, &r2);
    addCarry(c, a->limb[3] & 0x7FFFFFFFFFFFFFFFull, 0, &r3);
    u64 s0, s1, s2, s3;
    c = addCarry(0, r0, 19, &s0);
    c = addCarry(c, r1, 0, &s1);
    c = addCarry(c, r2, 0, &s2);
    addCarry(c, r3, 0, &s3);
    u64 reduce = 0 - (s3 >> 63);
    out->limb[0] = (s0 & reduce) | (r0 & ~reduce);
    out->limb[1] = (s1 & reduce) | (r1 & ~reduce);
    out->limb[2] = (s2 & reduce) | (r2 & ~reduce);
    out->limb[3] = ((s3 & 0x7FFFFFFFFFFFFFFFull) & reduce) | (r3 & ~reduce);
}

}  // namespace x25519wide
