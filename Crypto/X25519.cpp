#include "Crypto/X25519.h"

#include <cstring>

#include "Core/Profiler.h"
#include "Crypto/MontgomeryField.h"
#include "Platform/Random.h"

namespace {

using Field = MontgomeryField<4>;

constexpr u64 kPrime[4] = {0xFFFFFFFFFFFFFFEDull, 0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull,
                           0x7FFFFFFFFFFFFFFFull};
constexpr Field kField = montgomery::makeField<4>(kPrime);

}  // namespace

const u8 x25519BasePoint[32] = {9};

u8* x25519(u8* out, u8* scalar, const u8* u) {
    ProfilingScope scope("x25519");
    using namespace montgomery;
    const Field* f = &kField;
    scalar[0] &= 248;
    scalar[31] &= 63;
    scalar[31] |= 64;
    u8 uBytes[32];
    memcpy(uBytes, u, 32);
    uBytes[31] &= 0x7F;
    u64 raw[4], a24Raw[4] = {121665};
    loadBytes<4>(raw, uBytes);
    u64 x1[4], x2[4], z2[4] = {}, x3[4], z3[4], a24[4];
    toMontgomery<4>(x1, raw, f);  // also reduces a u of p and above
    toMontgomery<4>(a24, a24Raw, f);
    memcpy(x2, f->one, sizeof(x2));
    memcpy(x3, x1, sizeof(x3));
    memcpy(z3, f->one, sizeof(z3));
    u64 swap = 0;
    for (int t = 254; t >= 0; t--) {
        u64 bit = (scalar[t / 8] >> (t % 8)) & 1;
        swap ^= bit;
        conditionalSwap<4>(x2, x3, swap);
        conditionalSwap<4>(z2, z3, swap);
        swap = bit;
        u64 a[4], aa[4], b[4], bb[4], e[4], c[4], d[4], da[4], cb[4], t1[4];
        add<4>(a, x2, z2, f);
        multiply<4>(aa, a, a, f);
        subtract<4>(b, x2, z2, f);
        multiply<4>(bb, b, b, f);
        subtract<4>(e, aa, bb, f);
        add<4>(c, x3, z3, f);
        subtract<4>(d, x3, z3, f);
        multiply<4>(da, d, a, f);
        multiply<4>(cb, c, b, f);
        add<4>(t1, da, cb, f);
        multiply<4>(x3, t1, t1, f);
        subtract<4>(t1, da, cb, f);
        multiply<4>(t1, t1, t1, f);
        multiply<4>(z3, x1, t1, f);
        multiply<4>(x2, aa, bb, f);
        multiply<4>(t1, a24, e, f);
        add<4>(t1, aa, t1, f);
        multiply<4>(z2, e, t1, f);
    }
    conditionalSwap<4>(x2, x3, swap);
    conditionalSwap<4>(z2, z3, swap);
    u64 zInverse[4], result[4];
    invert<4>(zInverse, z2, f);
    multiply<4>(result, x2, zInverse, f);
    fromMontgomery<4>(raw, result, f);
    storeBytes<4>(out, raw);
    return out;
}

i32 generateX25519KeyPair(u8* privateKey, u8* publicKey) {
    if (getRandomBytes(privateKey, 32)) return 1;
    x25519(publicKey, privateKey, x25519BasePoint);
    return 0;
}
