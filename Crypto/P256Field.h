// Arithmetic modulo the P-256 prime p = 2^256 - 2^224 + 2^192 + 2^96 - 1 in Montgomery form
// (x 2^256 mod p) on four 64-bit limbs, least significant first, written out for this prime:
// -p^-1 mod 2^64 is 1, so each reduction step's multiple is the lowest word itself, and adding that
// multiple of p takes one product (the top word of p) and a shift (the words 2^64 - 1 and 2^32 - 1).
// Every function runs in time independent of the values: no branches or table look-ups on them.
// Inputs and outputs are below p. Used inside the P-256 code only.
#pragma once
#include <x86intrin.h>

#include <atomic>

#include "Core/Types.h"

namespace p256 {

using u128 = unsigned __int128;
using Limbs = unsigned long long;  // the limb type of the carry intrinsics (u64 is the same size)

constexpr u64 kP0 = 0xFFFFFFFFFFFFFFFFull, kP1 = 0x00000000FFFFFFFFull, kP2 = 0, kP3 = 0xFFFFFFFF00000001ull;
// 2^256 mod p (the Montgomery form of 1) and 2^512 mod p.
constexpr u64 kOne[4] = {1, 0xFFFFFFFF00000000ull, 0xFFFFFFFFFFFFFFFFull, 0x00000000FFFFFFFEull};
constexpr u64 kRSquared[4] = {3, 0xFFFFFFFBFFFFFFFFull, 0xFFFFFFFFFFFFFFFEull, 0x00000004FFFFFFFDull};
// The curve's b (y^2 = x^3 - 3 x + b) in Montgomery form.
constexpr u64 kB[4] = {0xD89CDF6229C4BDDFull, 0xACF005CD78843090ull, 0xE5A220ABF7212ED6ull, 0xDC30061D04874834ull};

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

// One reduction step over the window a0 .. a5: adds a0 p, which clears a0 (the caller drops it).
inline void reduceStep(u64 a0, u64& a1, u64& a2, u64& a3, u64& a4, u64& a5) {
    u128 high = (u128)a0 * kP3;
    unsigned char c = addCarry(0, a1, a0 << 32, &a1);
    c = addCarry(c, a2, a0 >> 32, &a2);
    c = addCarry(c, a3, (u64)high, &a3);
    c = addCarry(c, a4, (u64)(high >> 64), &a4);
    a5 += c;
}

// out = (top : r3 .. r0) - p when that does not borrow, else the value itself; the value is below 2p.
inline void reduceBelowP(u64* out, u64 r0, u64 r1, u64 r2, u64 r3, u64 top) {
    u64 s0, s1, s2, s3, s4;
    unsigned char b = subBorrow(0, r0, kP0, &s0);
    b = subBorrow(b, r1, kP1, &s1);
    b = subBorrow(b, r2, kP2, &s2);
    b = subBorrow(b, r3, kP3, &s3);
    b = subBorrow(b, top, 0, &s4);
    u64 keep = 0 - (u64)b;
    out[0] = (r0 & keep) | (s0 & ~keep);
    out[1] = (r1 & keep) | (s1 & ~keep);
    out[2] = (r2 & keep) | (s2 & ~keep);
    out[3] = (r3 & keep) | (s3 & ~keep);
}

// out = a b / 2^256 mod p: one row of products at a time, each followed by a reduction step.
inline void mulPortable(u64* out, const u64* a, const u64* b) {
    const u64 a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
    u64 r0, r1, r2, r3, r4, r5 = 0, carry;
    u128 t;
    u64 bi = b[0];
    t = (u128)a0 * bi;
    r0 = (u64)t, carry = (u64)(t >> 64);
    t = (u128)a1 * bi + carry;
    r1 = (u64)t, carry = (u64)(t >> 64);
    t = (u128)a2 * bi + carry;
    r2 = (u64)t, carry = (u64)(t >> 64);
    t = (u128)a3 * bi + carry;
    r3 = (u64)t, r4 = (u64)(t >> 64);
    reduceStep(r0, r1, r2, r3, r4, r5);
#pragma GCC unroll 4
    for (int i = 1; i < 4; i++) {
        r0 = r1, r1 = r2, r2 = r3, r3 = r4, r4 = r5;
        bi = b[i];
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
        reduceStep(r0, r1, r2, r3, r4, r5);
    }
    reduceBelowP(out, r1, r2, r3, r4, r5);
}

// out = a^2 / 2^256 mod p: the six cross products once and doubled, the squares added, then the
// low half reduced in four steps and the high half added.
inline void sqrPortable(u64* out, const u64* a) {
    const u64 a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
    u64 r0, r1, r2, r3, r4, r5, r6, r7, carry;
    u128 t;
    t = (u128)a0 * a1;
    r1 = (u64)t, carry = (u64)(t >> 64);
    t = (u128)a0 * a2 + carry;
    r2 = (u64)t, carry = (u64)(t >> 64);
    t = (u128)a0 * a3 + carry;
    r3 = (u64)t, r4 = (u64)(t >> 64);
    t = (u128)a1 * a2 + r3;
    r3 = (u64)t, carry = (u64)(t >> 64);
    t = (u128)a1 * a3 + r4 + carry;
    r4 = (u64)t, r5 = (u64)(t >> 64);
    t = (u128)a2 * a3 + r5;
    r5 = (u64)t, r6 = (u64)(t >> 64);
    r7 = r6 >> 63;
    r6 = r6 << 1 | r5 >> 63;
    r5 = r5 << 1 | r4 >> 63;
    r4 = r4 << 1 | r3 >> 63;
    r3 = r3 << 1 | r2 >> 63;
    r2 = r2 << 1 | r1 >> 63;
    r1 <<= 1;
    t = (u128)a0 * a0;
    r0 = (u64)t;
    unsigned char c = addCarry(0, r1, (u64)(t >> 64), &r1);
    t = (u128)a1 * a1;
    c = addCarry(c, r2, (u64)t, &r2);
    c = addCarry(c, r3, (u64)(t >> 64), &r3);
    t = (u128)a2 * a2;
    c = addCarry(c, r4, (u64)t, &r4);
    c = addCarry(c, r5, (u64)(t >> 64), &r5);
    t = (u128)a3 * a3;
    c = addCarry(c, r6, (u64)t, &r6);
    addCarry(c, r7, (u64)(t >> 64), &r7);
    // (low half + m p) / 2^256 is at most p, and so fits four words after every step; the high
    // half is below p.
    u64 z0 = 0, z1 = 0, z2 = 0, z3 = 0, spare = 0;
    reduceStep(r0, r1, r2, r3, z0, spare);
    reduceStep(r1, r2, r3, z0, z1, spare);
    reduceStep(r2, r3, z0, z1, z2, spare);
    reduceStep(r3, z0, z1, z2, z3, spare);
    c = addCarry(0, z0, r4, &z0);
    c = addCarry(c, z1, r5, &z1);
    c = addCarry(c, z2, r6, &z2);
    c = addCarry(c, z3, r7, &z3);
    reduceBelowP(out, z0, z1, z2, z3, c);
}

// The same product on the processor's MULX, ADCX and ADOX: MULX leaves the flags alone, so each
// row's low halves ride the carry flag and its high halves the overflow flag. The words rotate
// through six registers; the last step's conditional subtraction of p leaves a mask (all ones:
// keep the value) instead of a branch.
alignas(32) inline constexpr u64 kWideConstants[4] = {kP0, kP1, kP3, 0};

#define ORVIK_P256_ROW(bi, x0, x1, x2, x3, x4, x5) \
    "movq " bi ", %%rdx\n\t"                        \
    "xorl %k[" x5 "], %k[" x5 "]\n\t"               \
    "mulxq %[a0], %[lo], %[hi]\n\t"                 \
    "adcxq %[lo], %[" x0 "]\n\t"                    \
    "adoxq %[hi], %[" x1 "]\n\t"                    \
    "mulxq %[a1], %[lo], %[hi]\n\t"                 \
    "adcxq %[lo], %[" x1 "]\n\t"                    \
    "adoxq %[hi], %[" x2 "]\n\t"                    \
    "mulxq %[a2], %[lo], %[hi]\n\t"                 \
    "adcxq %[lo], %[" x2 "]\n\t"                    \
    "adoxq %[hi], %[" x3 "]\n\t"                    \
    "mulxq %[a3], %[lo], %[hi]\n\t"                 \
    "adcxq %[lo], %[" x3 "]\n\t"                    \
    "adoxq %[hi], %[" x4 "]\n\t"                    \
    "adcxq %[" x5 "], %[" x4 "]\n\t"                \
    "adoxq %[" x5 "], %[" x5 "]\n\t"                \
    "adcxq %[zero], %[" x5 "]\n\t"

// x1 .. x5 += x0 p (x0 2^32 at x1, the top word of p's multiple at x3), clearing x0.
#define ORVIK_P256_REDUCE(x0, x1, x2, x3, x4, x5) \
    "movq %[" x0 "], %%rdx\n\t"                    \
    "mulxq %[p3], %[lo], %[hi]\n\t"                \
    "shlq $32, %%rdx\n\t"                          \
    "shrq $32, %[" x0 "]\n\t"                      \
    "addq %%rdx, %[" x1 "]\n\t"                    \
    "adcq %[" x0 "], %[" x2 "]\n\t"                \
    "adcq %[lo], %[" x3 "]\n\t"                    \
    "adcq %[hi], %[" x4 "]\n\t"                    \
    "adcq $0, %[" x5 "]\n\t"

inline void mulWide(u64* out, const u64* a, const u64* b) {
    u64 r0, r1, r2, r3, r4, r5, lo, hi, d;
    asm("movq %[b0], %%rdx\n\t"
        "mulxq %[a0], %[r0], %[r1]\n\t"
        "mulxq %[a1], %[lo], %[r2]\n\t"
        "addq %[lo], %[r1]\n\t"
        "mulxq %[a2], %[lo], %[r3]\n\t"
        "adcq %[lo], %[r2]\n\t"
        "mulxq %[a3], %[lo], %[r4]\n\t"
        "adcq %[lo], %[r3]\n\t"
        "adcq $0, %[r4]\n\t"
        "movl $0, %k[r5]\n\t"
        ORVIK_P256_REDUCE("r0", "r1", "r2", "r3", "r4", "r5")
        ORVIK_P256_ROW("%[b1]", "r1", "r2", "r3", "r4", "r5", "r0")
        ORVIK_P256_REDUCE("r1", "r2", "r3", "r4", "r5", "r0")
        ORVIK_P256_ROW("%[b2]", "r2", "r3", "r4", "r5", "r0", "r1")
        ORVIK_P256_REDUCE("r2", "r3", "r4", "r5", "r0", "r1")
        ORVIK_P256_ROW("%[b3]", "r3", "r4", "r5", "r0", "r1", "r2")
        ORVIK_P256_REDUCE("r3", "r4", "r5", "r0", "r1", "r2")
        // the value is r4 r5 r0 r1 with r2 on top, below 2 p; minus p into lo hi rdx r3
        "movq %[r4], %[lo]\n\t"
        "subq %[p0], %[lo]\n\t"
        "movq %[r5], %[hi]\n\t"
        "sbbq %[p1], %[hi]\n\t"
        "movq %[r0], %%rdx\n\t"
        "sbbq $0, %%rdx\n\t"
        "movq %[r1], %[r3]\n\t"
        "sbbq %[p3], %[r3]\n\t"
        "sbbq $0, %[r2]\n\t"
        : [r0] "=&r"(r0), [r1] "=&r"(r1), [r2] "=&r"(r2), [r3] "=&r"(r3), [r4] "=&r"(r4), [r5] "=&r"(r5),
          [lo] "=&r"(lo), [hi] "=&r"(hi), "=&d"(d)
        : [a0] "m"(a[0]), [a1] "m"(a[1]), [a2] "m"(a[2]), [a3] "m"(a[3]), [b0] "m"(b[0]), [b1] "m"(b[1]),
          [b2] "m"(b[2]), [b3] "m"(b[3]), [p0] "m"(kWideConstants[0]), [p1] "m"(kWideConstants[1]),
          [p3] "m"(kWideConstants[2]), [zero] "m"(kWideConstants[3])
        : "cc");
    u64 keep = r2;  // all ones when the subtraction borrowed
    out[0] = (r4 & keep) | (lo & ~keep);
    out[1] = (r5 & keep) | (hi & ~keep);
    out[2] = (r0 & keep) | (d & ~keep);
    out[3] = (r1 & keep) | (r3 & ~keep);
}

// One reduction step of a square's low half (x0 .. x3, which fit four words after every step):
// adds x0 p, and the window becomes x1 x2 x3 x0.
#define ORVIK_P256_REDUCE_LOW(x0, x1, x2, x3) \
    "movq %[" x0 "], %%rdx\n\t"                \
    "mulxq %[p3], %[lo], %[hi]\n\t"            \
    "shlq $32, %%rdx\n\t"                      \
    "shrq $32, %[" x0 "]\n\t"                  \
    "addq %%rdx, %[" x1 "]\n\t"                \
    "adcq %[" x0 "], %[" x2 "]\n\t"            \
    "adcq %[lo], %[" x3 "]\n\t"                \
    "adcq $0, %[hi]\n\t"                       \
    "movq %[hi], %[" x0 "]\n\t"

// out = a^2 / 2^256 mod p on the wide instructions: the six cross products, doubled on the carry
// flag while the squares come in on the overflow flag, then the low half reduced and the high half
// added.
inline void sqrWide(u64* out, const u64* a) {
    u64 r0, r1, r2, r3, r4, r5, r6, r7, lo, hi, d;
    asm("movq %[a0], %%rdx\n\t"
        "mulxq %[a1], %[r1], %[r2]\n\t"
        "mulxq %[a2], %[lo], %[r3]\n\t"
        "addq %[lo], %[r2]\n\t"
        "mulxq %[a3], %[lo], %[r4]\n\t"
        "adcq %[lo], %[r3]\n\t"
        "movq %[a1], %%rdx\n\t"
        "mulxq %[a3], %[lo], %[r5]\n\t"
        "adcq %[lo], %[r4]\n\t"
        "movq %[a2], %%rdx\n\t"
        "mulxq %[a3], %[lo], %[r6]\n\t"
        "adcq %[lo], %[r5]\n\t"
        "adcq $0, %[r6]\n\t"
        "movq %[a1], %%rdx\n\t"
        "mulxq %[a2], %[lo], %[hi]\n\t"
        "addq %[lo], %[r3]\n\t"
        "adcq %[hi], %[r4]\n\t"
        "adcq $0, %[r5]\n\t"
        "adcq $0, %[r6]\n\t"
        "xorl %k[r7], %k[r7]\n\t"
        "movq %[a0], %%rdx\n\t"
        "mulxq %%rdx, %[r0], %[hi]\n\t"
        "adcxq %[r1], %[r1]\n\t"
        "adoxq %[hi], %[r1]\n\t"
        "movq %[a1], %%rdx\n\t"
        "mulxq %%rdx, %[lo], %[hi]\n\t"
        "adcxq %[r2], %[r2]\n\t"
        "adoxq %[lo], %[r2]\n\t"
        "adcxq %[r3], %[r3]\n\t"
        "adoxq %[hi], %[r3]\n\t"
        "movq %[a2], %%rdx\n\t"
        "mulxq %%rdx, %[lo], %[hi]\n\t"
        "adcxq %[r4], %[r4]\n\t"
        "adoxq %[lo], %[r4]\n\t"
        "adcxq %[r5], %[r5]\n\t"
        "adoxq %[hi], %[r5]\n\t"
        "movq %[a3], %%rdx\n\t"
        "mulxq %%rdx, %[lo], %[hi]\n\t"
        "adcxq %[r6], %[r6]\n\t"
        "adoxq %[lo], %[r6]\n\t"
        "adcxq %[r7], %[r7]\n\t"
        "adoxq %[hi], %[r7]\n\t"
        ORVIK_P256_REDUCE_LOW("r0", "r1", "r2", "r3")
        ORVIK_P256_REDUCE_LOW("r1", "r2", "r3", "r0")
        ORVIK_P256_REDUCE_LOW("r2", "r3", "r0", "r1")
        ORVIK_P256_REDUCE_LOW("r3", "r0", "r1", "r2")
        // reduced low half r0 .. r3 plus the high half r4 .. r7, top into r4
        "addq %[r4], %[r0]\n\t"
        "adcq %[r5], %[r1]\n\t"
        "adcq %[r6], %[r2]\n\t"
        "adcq %[r7], %[r3]\n\t"
        "movl $0, %k[r4]\n\t"
        "adcq $0, %[r4]\n\t"
        // minus p into lo hi rdx r5, r4 becomes the keep mask
        "movq %[r0], %[lo]\n\t"
        "subq %[p0], %[lo]\n\t"
        "movq %[r1], %[hi]\n\t"
        "sbbq %[p1], %[hi]\n\t"
        "movq %[r2], %%rdx\n\t"
        "sbbq $0, %%rdx\n\t"
        "movq %[r3], %[r5]\n\t"
        "sbbq %[p3], %[r5]\n\t"
        "sbbq $0, %[r4]\n\t"
        : [r0] "=&r"(r0), [r1] "=&r"(r1), [r2] "=&r"(r2), [r3] "=&r"(r3), [r4] "=&r"(r4), [r5] "=&r"(r5),
          [r6] "=&r"(r6), [r7] "=&r"(r7), [lo] "=&r"(lo), [hi] "=&r"(hi), "=&d"(d)
        : [a0] "m"(a[0]), [a1] "m"(a[1]), [a2] "m"(a[2]), [a3] "m"(a[3]), [p0] "m"(kWideConstants[0]),
          [p1] "m"(kWideConstants[1]), [p3] "m"(kWideConstants[2])
        : "cc");
    u64 keep = r4;  // all ones when the subtraction borrowed
    out[0] = (r0 & keep) | (lo & ~keep);
    out[1] = (r1 & keep) | (hi & ~keep);
    out[2] = (r2 & keep) | (d & ~keep);
    out[3] = (r3 & keep) | (r5 & ~keep);
}

#undef ORVIK_P256_ROW
#undef ORVIK_P256_REDUCE
#undef ORVIK_P256_REDUCE_LOW

// Which products the field uses: 0 not chosen yet, 1 the portable ones, 2 the wide instructions
// (chosen once from the processor's features; tests switch between them).
inline std::atomic<int> gMultiplier{0};

// Chooses (P256.cpp) and returns the choice.
int chooseMultiplier();

inline bool wideMultiplier() {
    int choice = gMultiplier.load(std::memory_order_relaxed);
    if (choice == 0) choice = chooseMultiplier();
    return choice == 2;
}

inline void mul(u64* out, const u64* a, const u64* b) {
    if (wideMultiplier()) mulWide(out, a, b);
    else mulPortable(out, a, b);
}

inline void sqr(u64* out, const u64* a) {
    if (wideMultiplier()) sqrWide(out, a);
    else sqrPortable(out, a);
}

inline void add(u64* out, const u64* a, const u64* b) {
    u64 s0, s1, s2, s3;
    unsigned char c = addCarry(0, a[0], b[0], &s0);
    c = addCarry(c, a[1], b[1], &s1);
    c = addCarry(c, a[2], b[2], &s2);
    c = addCarry(c, a[3], b[3], &s3);
    reduceBelowP(out, s0, s1, s2, s3, c);
}

inline void sub(u64* out, const u64* a, const u64* b) {
    u64 d0, d1, d2, d3;
    unsigned char borrow = subBorrow(0, a[0], b[0], &d0);
    borrow = subBorrow(borrow, a[1], b[1], &d1);
    borrow = subBorrow(borrow, a[2], b[2], &d2);
    borrow = subBorrow(borrow, a[3], b[3], &d3);
    u64 mask = 0 - (u64)borrow;  // add p back when it borrowed
    unsigned char c = addCarry(0, d0, kP0 & mask, &out[0]);
    c = addCarry(c, d1, kP1 & mask, &out[1]);
    c = addCarry(c, d2, kP2 & mask, &out[2]);
    addCarry(c, d3, kP3 & mask, &out[3]);
}

// out = a squared n times.
inline void sqrTimes(u64* out, const u64* a, int n) {
    sqr(out, a);
    for (int i = 1; i < n; i++) sqr(out, out);
}

// out = a^(p - 2) = 1 / a (0 for 0) by a fixed chain of 255 squarings and 13 products.
inline void invert(u64* out, const u64* a) {
    u64 x2[4], x3[4], x6[4], x12[4], x15[4], x30[4], x32[4], t[4];
    sqr(t, a);
    mul(x2, t, a);  // exponent 2^2 - 1
    sqr(t, x2);
    mul(x3, t, a);
    sqrTimes(t, x3, 3);
    mul(x6, t, x3);
    sqrTimes(t, x6, 6);
    mul(x12, t, x6);
    sqrTimes(t, x12, 3);
    mul(x15, t, x3);
    sqrTimes(t, x15, 15);
    mul(x30, t, x15);
    sqrTimes(t, x30, 2);
    mul(x32, t, x2);
    // p - 2 = ffffffff 00000001 00000000 00000000 00000000 ffffffff ffffffff fffffffd (32-bit words)
    sqrTimes(t, x32, 32);
    mul(t, t, a);
    sqrTimes(t, t, 128);
    mul(t, t, x32);
    sqrTimes(t, t, 32);
    mul(t, t, x32);
    sqrTimes(t, t, 30);
    mul(t, t, x30);
    sqrTimes(t, t, 2);
    mul(out, t, a);
}

// All ones when a is zero, else zero (without a branch).
inline u64 zeroMask(const u64* a) {
    u64 any = a[0] | a[1] | a[2] | a[3];
    return ((any | (0 - any)) >> 63) - 1;
}

// out = mask ? a : b, with mask all ones or zero.
inline void select(u64* out, u64 mask, const u64* a, const u64* b) {
    for (int i = 0; i < 4; i++) out[i] = (a[i] & mask) | (b[i] & ~mask);
}

inline void toMontgomery(u64* out, const u64* a) { mul(out, a, kRSquared); }

inline void fromMontgomery(u64* out, const u64* a) {
    const u64 plainOne[4] = {1, 0, 0, 0};
    mul(out, a, plainOne);
}

// Little-endian bytes to limbs and back.
inline void load(u64* limbs, const u8* bytes) {
    for (int i = 0; i < 4; i++) {
        u64 v = 0;
        for (int j = 7; j >= 0; j--) v = v << 8 | bytes[8 * i + j];
        limbs[i] = v;
    }
}

inline void store(u8* bytes, const u64* limbs) {
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 8; j++) bytes[8 * i + j] = (u8)(limbs[i] >> (8 * j));
}

// The affine point (x then y, 32 bytes little-endian each) in Montgomery form.
inline void loadPoint(u64* x, u64* y, const u8* point) {
    u64 raw[4];
    load(raw, point);
    toMontgomery(x, raw);
    load(raw, point + 32);
    toMontgomery(y, raw);
}

// True when x and y (32 bytes little-endian each) are below p and y^2 = x^3 - 3 x + b.
inline bool isOnCurve(const u8* point) {
    u64 x[4], y[4], scratch[4];
    load(x, point);
    load(y, point + 32);
    const u64 p[4] = {kP0, kP1, kP2, kP3};
    unsigned char xBelow = 0, yBelow = 0;
    for (int i = 0; i < 4; i++) xBelow = subBorrow(xBelow, x[i], p[i], &scratch[i]);
    for (int i = 0; i < 4; i++) yBelow = subBorrow(yBelow, y[i], p[i], &scratch[i]);
    if (!xBelow || !yBelow) return false;
    u64 xm[4], ym[4], left[4], right[4];
    toMontgomery(xm, x);
    toMontgomery(ym, y);
    sqr(left, ym);
    sqr(right, xm);
    mul(right, right, xm);
    sub(right, right, xm);
    sub(right, right, xm);
    sub(right, right, xm);
    add(right, right, kB);
    u64 difference = 0;
    for (int i = 0; i < 4; i++) difference |= left[i] ^ right[i];
    return difference == 0;
}

}  // namespace p256
