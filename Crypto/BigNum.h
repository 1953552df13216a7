// 256-bit unsigned numbers as 32 bytes little-endian (products 64 bytes), and the generic modular
// arithmetic of the elliptic-curve code: schoolbook products, long-division reduction and the
// extended Euclidean inverse. Not constant-time: used only with public values or ephemeral keys.
#pragma once
#include "Core/Types.h"

// The divisor of bigNumModReduce: the modulus shifted left so that its highest non-zero u32 limb
// has bit 31 set.
struct PreparedModulus {
    u32 isZero;    // 1 only for a zero modulus
    u32 topLimb;   // index of the highest non-zero u32 limb
    u32 shift;     // left shift applied
    u32 reserved;
    u32 limbs[8];  // the shifted modulus
};

// out = a + b mod 2^256; returns the carry.
u32 bigNumAdd(u8* out, const u8* a, const u8* b);
// out = a - b mod 2^256; returns 1 when a >= b (no borrow), 0 when it borrowed.
u32 bigNumSubtract(u8* out, const u8* a, const u8* b);
// out[64] = a * b.
void bigNumMultiply(u8* out, const u8* a, const u8* b);
// quotient[64] and remainder[32] of the 512-bit dividend by the prepared modulus.
void bigNumModReduce(u8* quotient, u8* remainder, const u8* dividend, const PreparedModulus* modulus);
PreparedModulus* bigNumHighestBit(PreparedModulus* out, const u8* number);

// Bezout coefficients: gcd = value * inverse + modulus * work, both coefficients signed two's-
// complement 256-bit numbers (the equation holds modulo 2^256). When gcd is 1, inverse * value = 1
// (mod modulus) with inverse in (-modulus, modulus); callers add the modulus when its top bit is
// set.
void extendedEuclideanAlgorithm(u8* gcd, u8* inverse, u8* work, const u8* value, const u8* modulus);

// Three-way comparison of two 256-bit numbers: -1, 0 or 1.
i32 bigNumCompare(const u8* a, const u8* b);
bool bigNumIsZero(const u8* a);
