#include "Crypto/BigInt.h"

#include <cstring>

#include "Core/Profiler.h"
#include "Crypto/CpuFeatures.h"
#include "Crypto/MontgomeryField.h"

namespace {

bool gExtensionsAllowed = true;

bool extensionsInUse() { return gExtensionsAllowed && cpuHasMulxAdx(); }

#if defined(__x86_64__)
// r[0 .. 4 blocks) += a[0 .. 4 blocks) b; returns the word carried out. MULX leaves the flags
// alone, so the high halves ride one carry chain (ADCX, the carry flag) and the old words of r
// another (ADOX, the overflow flag); LEA and JRCXZ step the loop without touching either.
inline u64 multiplyAddRow(u64* r, const u64* a, u64 b, long blocks) {
    u64 carry, low, high;
    long count = -blocks;
    asm volatile(
        "xorl %k[carry], %k[carry]\n\t"
        "1:\n\t"
        "mulxq (%[a]), %[low], %[high]\n\t"
        "adcxq %[carry], %[low]\n\t"
        "adoxq (%[r]), %[low]\n\t"
        "movq %[low], (%[r])\n\t"
        "mulxq 8(%[a]), %[low], %[carry]\n\t"
        "adcxq %[high], %[low]\n\t"
        "adoxq 8(%[r]), %[low]\n\t"
        "movq %[low], 8(%[r])\n\t"
        "mulxq 16(%[a]), %[low], %[high]\n\t"
        "adcxq %[carry], %[low]\n\t"
        "adoxq 16(%[r]), %[low]\n\t"
        "movq %[low], 16(%[r])\n\t"
        "mulxq 24(%[a]), %[low], %[carry]\n\t"
        "adcxq %[high], %[low]\n\t"
        "adoxq 24(%[r]), %[low]\n\t"
        "movq %[low], 24(%[r])\n\t"
        "leaq 32(%[a]), %[a]\n\t"
        "leaq 32(%[r]), %[r]\n\t"
        "leaq 1(%[count]), %[count]\n\t"
        "jrcxz 2f\n\t"
        "jmp 1b\n"
        "2:\n\t"
        "movl $0, %k[high]\n\t"
        "adcxq %[high], %[carry]\n\t"
        "adoxq %[high], %[carry]\n\t"
        : [carry] "=&r"(carry), [low] "=&r"(low), [high] "=&r"(high), [a] "+r"(a), [r] "+r"(r), [count] "+c"(count)
        : "d"(b)
        : "cc", "memory");
    return carry;
}

// out = a b / R mod p as montgomery::multiply, row by row on the carry chains above: for each word
// of b one row of a, then one row of p that clears the lowest word. N is a multiple of 4.
template <int N>
void multiplyWithCarryChains(u64* out, const u64* a, const u64* b, const MontgomeryField<N>* f) {
    static_assert(N % 4 == 0);
    u64 t[2 * N + 2] = {};
    for (int i = 0; i < N; i++) {
        u64* w = t + i;
        u64 carry = multiplyAddRow(w, a, b[i], N / 4);
        w[N + 1] += montgomery::addLimbs<1>(w + N, w + N, &carry);
        carry = multiplyAddRow(w, f->p, w[0] * f->pInverse, N / 4);
        w[N + 1] += montgomery::addLimbs<1>(w + N, w + N, &carry);
    }
    // t[N .. 2 N] is below 2 p
    u64 reduced[N];
    u64 borrow = montgomery::subtractLimbs<N>(reduced, t + N, f->p);
    u64 keep = 0 - (borrow & (t[2 * N] == 0));
    montgomery::select<N>(out, keep, t + N, reduced);
}
#endif

// out = a b / R mod p on the fastest path the processor offers.
template <int N>
inline void multiplyModP(u64* out, const u64* a, const u64* b, const MontgomeryField<N>* f, bool extensions) {
#if defined(__x86_64__)
    if (extensions) return multiplyWithCarryChains<N>(out, a, b, f);
#endif
    (void)extensions;
    montgomery::multiply<N>(out, a, b, f);
}

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

// out = value 2^(64 N) mod p (the Montgomery form of value < p) by long division (Knuth's
// algorithm D over 64-bit digits): cheaper than building R^2 mod p for one exponentiation.
template <int N>
void shiftedRemainder(u64* out, const u64* value, const u64* p) {
    using u128 = unsigned __int128;
    int top = N - 1;
    while (top > 0 && p[top] == 0) top--;
    int n = top + 1;  // the divisor's digits
    int shift = __builtin_clzll(p[top]);
    u64 v[N] = {};
    for (int i = n - 1; i >= 0; i--) v[i] = p[i] << shift | (shift && i ? p[i - 1] >> (64 - shift) : 0);
    // The dividend: value shifted by 64 N bits and normalised, 2 N + 1 digits.
    u64 u[2 * N + 1] = {};
    for (int i = 0; i < N; i++) {
        u[N + i] |= value[i] << shift;
        if (shift) u[N + i + 1] |= value[i] >> (64 - shift);
    }
    int m = 2 * N + 1;
    while (m > n && u[m - 1] == 0) m--;
    if (m <= n) m = n + 1;
    for (int j = m - n - 1; j >= 0; j--) {
        u128 numerator = (u128)u[j + n] << 64 | u[j + n - 1];
        u128 qhat = numerator / v[n - 1];
        u128 rhat = numerator % v[n - 1];
        while (qhat >> 64 || (n > 1 && qhat * v[n - 2] > (rhat << 64 | u[j + n - 2]))) {
            qhat--;
            rhat += v[n - 1];
            if (rhat >> 64) break;
        }
        // u[j .. j + n] -= qhat v
        u64 carry = 0, borrow = 0;
        for (int i = 0; i < n; i++) {
            u128 product = qhat * v[i] + carry;
            carry = (u64)(product >> 64);
            u128 difference = (u128)u[i + j] - (u64)product - borrow;
            u[i + j] = (u64)difference;
            borrow = (u64)(difference >> 64) & 1;
        }
        u128 difference = (u128)u[j + n] - carry - borrow;
        u[j + n] = (u64)difference;
        if ((difference >> 64) & 1) {  // qhat was one too large: add v back
            u64 c = 0;
            for (int i = 0; i < n; i++) {
                u128 sum = (u128)u[i + j] + v[i] + c;
                u[i + j] = (u64)sum;
                c = (u64)(sum >> 64);
            }
            u[j + n] += c;
        }
    }
    for (int i = 0; i < N; i++) out[i] = 0;
    for (int i = 0; i < n; i++) out[i] = u[i] >> shift | (shift && i + 1 < n ? u[i + 1] << (64 - shift) : 0);
}

// base^exponent for an odd exponent above 1 (every RSA public exponent): the base's Montgomery
// form by one division, left-to-right square and multiply, and the last product taken with the
// plain base so that it leaves the Montgomery form by itself. No R^2 mod p is built.
template <int N>
void modExpOdd(u8* out, const u8* base, const u8* modulus, u32 length, u64 exponent) {
    u64 p[N], b[N];
    loadBigEndian<N>(p, modulus, length);
    loadBigEndian<N>(b, base, length);
    MontgomeryField<N> field{};
    for (int i = 0; i < N; i++) field.p[i] = p[i];
    u64 inverse = 1;  // Newton iteration for p^-1 mod 2^64
    for (int i = 0; i < 6; i++) inverse *= 2 - p[0] * inverse;
    field.pInverse = 0 - inverse;
    u64 baseM[N], result[N];
    shiftedRemainder<N>(baseM, b, p);
    memcpy(result, baseM, sizeof(result));
    int top = 63;
    while (!((exponent >> top) & 1)) top--;
    bool extensions = extensionsInUse();
    for (int bit = top - 1; bit >= 1; bit--) {
        multiplyModP<N>(result, result, result, &field, extensions);
        if ((exponent >> bit) & 1) multiplyModP<N>(result, result, baseM, &field, extensions);
    }
    multiplyModP<N>(result, result, result, &field, extensions);
    multiplyModP<N>(result, result, b, &field, extensions);
    storeBigEndian<N>(out, length, result);
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

void bigIntAllowProcessorExtensions(bool allow) { gExtensionsAllowed = allow; }

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
    if ((exponent & 1) && exponent > 1 && limbs > 4) {
        if (limbs <= 16) modExpOdd<16>(out, base, modulus, length, exponent);
        else if (limbs <= 24) modExpOdd<24>(out, base, modulus, length, exponent);
        else if (limbs <= 32) modExpOdd<32>(out, base, modulus, length, exponent);
        else if (limbs <= 40) modExpOdd<40>(out, base, modulus, length, exponent);
        else if (limbs <= 48) modExpOdd<48>(out, base, modulus, length, exponent);
        else if (limbs <= 56) modExpOdd<56>(out, base, modulus, length, exponent);
        else modExpOdd<64>(out, base, modulus, length, exponent);
        return true;
    }
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
