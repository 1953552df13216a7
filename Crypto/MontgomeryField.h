// Arithmetic modulo an odd prime below 2^(64 N) in Montgomery form (x R mod p, R = 2^(64 N)), with
// N 64-bit limbs, least significant first. Every operation runs in time independent of the values:
// no branches or table look-ups on the data. Used inside the curve code only.
#pragma once
#include "Core/Types.h"

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

template <int N>
struct MontgomeryField {
    u64 p[N];
    u64 pInverse;  // -p^-1 mod 2^64
    u64 rSquared[N];  // R^2 mod p
    u64 one[N];       // R mod p
};

namespace montgomery {

using u128 = unsigned __int128;

// out = (a - b) mod 2^(64 N); returns the borrow.
// The carry chains use the processor's add-with-carry where the compiler offers it.
template <int N>
inline u64 subtractLimbs(u64* out, const u64* a, const u64* b) {
#if defined(__x86_64__)
    unsigned char borrow = 0;
    for (int i = 0; i < N; i++) {
        unsigned long long d;
        borrow = _subborrow_u64(borrow, a[i], b[i], &d);
        out[i] = d;
    }
    return borrow;
#else
    u64 borrow = 0;
    for (int i = 0; i < N; i++) {
        u128 d = (u128)a[i] - b[i] - borrow;
        out[i] = (u64)d;
        borrow = (u64)(d >> 64) & 1;
    }
    return borrow;
#endif
}

template <int N>
inline u64 addLimbs(u64* out, const u64* a, const u64* b) {
#if defined(__x86_64__)
    unsigned char carry = 0;
    for (int i = 0; i < N; i++) {
        unsigned long long s;
        carry = _addcarry_u64(carry, a[i], b[i], &s);
        out[i] = s;
    }
    return carry;
#else
    u64 carry = 0;
    for (int i = 0; i < N; i++) {
        u128 s = (u128)a[i] + b[i] + carry;
        out[i] = (u64)s;
        carry = (u64)(s >> 64);
    }
    return carry;
#endif
}

// out = mask ? a : b, with mask all ones or zero.
template <int N>
inline void select(u64* out, u64 mask, const u64* a, const u64* b) {
    for (int i = 0; i < N; i++) out[i] = (a[i] & mask) | (b[i] & ~mask);
}

template <int N>
inline void add(u64* out, const u64* a, const u64* b, const MontgomeryField<N>* f) {
    u64 sum[N], reduced[N];
    u64 carry = addLimbs<N>(sum, a, b);
    u64 borrow = subtractLimbs<N>(reduced, sum, f->p);
    // keep the reduced value when the sum carried out or was not below p
    u64 useReduced = carry | (1 - borrow);
    select<N>(out, 0 - useReduced, reduced, sum);
}

template <int N>
inline void subtract(u64* out, const u64* a, const u64* b, const MontgomeryField<N>* f) {
    u64 difference[N], corrected[N];
    u64 borrow = subtractLimbs<N>(difference, a, b);
    addLimbs<N>(corrected, difference, f->p);
    select<N>(out, 0 - borrow, corrected, difference);
}

// out = a b / R mod p (coarsely integrated operand scanning); a below R and b below p.
template <int N>
inline void multiply(u64* out, const u64* a, const u64* b, const MontgomeryField<N>* f) {
    u64 t[N + 2] = {};
    for (int i = 0; i < N; i++) {
        u64 carry = 0;
        for (int j = 0; j < N; j++) {
            u128 s = (u128)a[j] * b[i] + t[j] + carry;
            t[j] = (u64)s;
            carry = (u64)(s >> 64);
        }
        u128 s = (u128)t[N] + carry;
        t[N] = (u64)s;
        t[N + 1] = (u64)(s >> 64);
        u64 m = t[0] * f->pInverse;
        s = (u128)m * f->p[0] + t[0];
        carry = (u64)(s >> 64);
        for (int j = 1; j < N; j++) {
            s = (u128)m * f->p[j] + t[j] + carry;
            t[j - 1] = (u64)s;
            carry = (u64)(s >> 64);
        }
        s = (u128)t[N] + carry;
        t[N - 1] = (u64)s;
        t[N] = t[N + 1] + (u64)(s >> 64);
    }
    u64 reduced[N];
    u64 borrow = subtractLimbs<N>(reduced, t, f->p);
    u64 useReduced = (t[N] != 0) | (1 - borrow);
    select<N>(out, 0 - useReduced, reduced, t);
}

template <int N>
inline void toMontgomery(u64* out, const u64* a, const MontgomeryField<N>* f) {
    multiply<N>(out, a, f->rSquared, f);
}

template <int N>
inline void fromMontgomery(u64* out, const u64* a, const MontgomeryField<N>* f) {
    u64 plainOne[N] = {1};
    multiply<N>(out, a, plainOne, f);
}

// out = a^(p - 2) = a^-1 (0 for 0); the exponent is public, so the sequence of steps is fixed.
template <int N>
inline void invert(u64* out, const u64* a, const MontgomeryField<N>* f) {
    u64 exponent[N], two[N] = {2};
    subtractLimbs<N>(exponent, f->p, two);
    u64 result[N];
    for (int i = 0; i < N; i++) result[i] = f->one[i];
    for (int bit = 64 * N - 1; bit >= 0; bit--) {
        multiply<N>(result, result, result, f);
        if ((exponent[bit / 64] >> (bit % 64)) & 1) multiply<N>(result, result, a, f);
    }
    for (int i = 0; i < N; i++) out[i] = result[i];
}

template <int N>
inline u64 isZero(const u64* a) {
    u64 any = 0;
    for (int i = 0; i < N; i++) any |= a[i];
    return any == 0;
}

// The constants of the field of the odd prime p.
template <int N>
constexpr MontgomeryField<N> makeField(const u64 (&p)[N]) {
    MontgomeryField<N> f{};
    for (int i = 0; i < N; i++) f.p[i] = p[i];
    u64 inverse = 1;  // Newton iteration for p^-1 mod 2^64
    for (int i = 0; i < 6; i++) inverse *= 2 - p[0] * inverse;
    f.pInverse = 0 - inverse;
    // R mod p and R^2 mod p by doubling 1 modulo p, 64 N and then 128 N times.
    u64 value[N] = {1};
    for (int step = 1; step <= 128 * N; step++) {
        u64 doubled[N], reduced[N];
        u64 carry = 0;
        for (int i = 0; i < N; i++) {
            doubled[i] = value[i] << 1 | carry;
            carry = value[i] >> 63;
        }
        u64 borrow = 0;
        for (int i = 0; i < N; i++) {
            u64 d = doubled[i] - p[i] - borrow;
            borrow = (doubled[i] < p[i] || (doubled[i] == p[i] && borrow)) ? 1 : 0;
            reduced[i] = d;
        }
        bool useReduced = carry || !borrow;
        for (int i = 0; i < N; i++) value[i] = useReduced ? reduced[i] : doubled[i];
        if (step == 64 * N)
            for (int i = 0; i < N; i++) f.one[i] = value[i];
    }
    for (int i = 0; i < N; i++) f.rSquared[i] = value[i];
    return f;
}

// Little-endian bytes to limbs and back.
template <int N>
inline void loadBytes(u64* limbs, const u8* bytes) {
    for (int i = 0; i < N; i++) {
        u64 v = 0;
        for (int j = 7; j >= 0; j--) v = v << 8 | bytes[8 * i + j];
        limbs[i] = v;
    }
}

template <int N>
inline void storeBytes(u8* bytes, const u64* limbs) {
    for (int i = 0; i < N; i++)
        for (int j = 0; j < 8; j++) bytes[8 * i + j] = (u8)(limbs[i] >> (8 * j));
}

}  // namespace montgomery
