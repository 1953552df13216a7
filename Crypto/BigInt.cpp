#include "Crypto/BigInt.h"

#include <cstring>

#include "Core/Profiler.h"
#include "Crypto/MontgomeryField.h"

namespace {

// Big-endian bytes into N limbs, least significant first, zero-extended.
template <int N>
void loadBigEndian(u64* limbs, const u8* bytes, u32 length) {
    for (int i = 0; i < N; i++) limbs[i] = 0;
    for (u32 i = 0; i < length; i++) {
        u32 bit = 8 * (length - 1 - i);
        limbs[bit / 64] |= (u64)bytes[i] << (bit % 64);
    }
}

template <int N>
void storeBigEndian(u8* bytes, u32 length, const u64* limbs) {
    for (u32 i = 0; i < length; i++) {
        u32 bit = 8 * (length - 1 - i);
        bytes[i] = (u8)(limbs[bit / 64] >> (bit % 64));
    }
}

// The field constants at run time: R mod p and 2 R mod p by doubling from p's top bit, then
// R^2 mod p as the Montgomery form of 2^(64 N), raised from the form of 2 by square and multiply.
// (The generic constexpr set-up doubles 128 N times, which costs too much for RSA moduli.)
template <int N>
MontgomeryField<N> prepareField(const u64* p) {
    MontgomeryField<N> f{};
    for (int i = 0; i < N; i++) f.p[i] = p[i];
    u64 inverse = 1;  // Newton iteration for p^-1 mod 2^64
    for (int i = 0; i < 6; i++) inverse *= 2 - p[0] * inverse;
    f.pInverse = 0 - inverse;
    int top = 64 * N - 1;
    while (top > 0 && !((p[top / 64] >> (top % 64)) & 1)) top--;
    u64 value[N] = {};
    value[top / 64] = 1ull << (top % 64);  // 2^top < p
    for (int power = top; power < 64 * N; power++) montgomery::add<N>(value, value, value, &f);
    memcpy(f.one, value, sizeof(value));
    u64 two[N];
    montgomery::add<N>(two, value, value, &f);
    u64 result[N];
    memcpy(result, f.one, sizeof(result));
    const u32 exponent = 64 * N;
    int bit = 31;
    while (!((exponent >> bit) & 1)) bit--;
    for (; bit >= 0; bit--) {
        montgomery::multiply<N>(result, result, result, &f);
        if ((exponent >> bit) & 1) montgomery::multiply<N>(result, result, two, &f);
    }
    memcpy(f.rSquared, result, sizeof(result));
    return f;
}

// Left-to-right square and multiply in Montgomery form over the smallest limb count that holds the
// modulus (the field's set-up cost grows with N squared).
template <int N>
void modExp(u8* out, const u8* base, const u8* modulus, u32 length, u64 exponent) {
    u64 p[N], b[N];
    loadBigEndian<N>(p, modulus, length);
    loadBigEndian<N>(b, base, length);
    MontgomeryField<N> field = prepareField<N>(p);
    u64 baseM[N], result[N];
    montgomery::toMontgomery<N>(baseM, b, &field);
    memcpy(result, field.one, sizeof(result));
    int top = 63;
    while (top > 0 && !((exponent >> top) & 1)) top--;
    for (int bit = top; bit >= 0; bit--) {
        montgomery::multiply<N>(result, result, result, &field);
        if ((exponent >> bit) & 1) montgomery::multiply<N>(result, result, baseM, &field);
    }
    u64 plain[N];
    montgomery::fromMontgomery<N>(plain, result, &field);
    storeBigEndian<N>(out, length, plain);
}

}  // namespace

i32 bigIntCompare(const u8* a, const u8* b, u32 length) {
    for (u32 i = 0; i < length; i++)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

bool bigIntModExp(u8* out, const u8* base, const u8* modulus, u32 length, u64 exponent) {
    ProfilingScope scope("Modular exponentiation");
    if (length == 0 || length > kBigIntMaxBytes) return false;
    if (!(modulus[length - 1] & 1)) return false;
    if (bigIntCompare(base, modulus, length) >= 0) return false;
    u32 limbs = (length + 7) / 8;
    if (limbs <= 4) modExp<4>(out, base, modulus, length, exponent);
    else if (limbs <= 16) modExp<16>(out, base, modulus, length, exponent);
    else if (limbs <= 24) modExp<24>(out, base, modulus, length, exponent);
    else if (limbs <= 32) modExp<32>(out, base, modulus, length, exponent);
    else if (limbs <= 40) modExp<40>(out, base, modulus, length, exponent);
    else if (limbs <= 48) modExp<48>(out, base, modulus, length, exponent);
    else if (limbs <= 56) modExp<56>(out, base, modulus, length, exponent);
    else modExp<64>(out, base, modulus, length, exponent);
    return true;
}
