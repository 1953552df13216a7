#include "Crypto/Ecdsa.h"

#include <cstring>

#include "Core/Profiler.h"
#include "Crypto/EllipticCurve.h"
#include "Crypto/JacobianCurve.h"
#include "Crypto/P256.h"
#include "Crypto/P384.h"

namespace {

// The constants of one curve, 8 N bytes little-endian each.
struct CurveConstants {
    const u8* p;
    const u8* a;
    const u8* b;
    const u8* generatorX;
    const u8* generatorY;
    const u8* order;
};

CurveConstants constantsOf(u32 curve) {
    if (curve == EcdsaCurveP256)
        return {secp256r1.p, secp256r1.a, secp256r1.b, secp256r1.generatorX, secp256r1.generatorY, secp256r1.order};
    return {secp384r1.p, secp384r1.a, secp384r1.b, secp384r1.generatorX, secp384r1.generatorY, secp384r1.order};
}

// A big-endian number of up to numberBytes bytes (after leading zeros) into little-endian; false when
// it is longer.
bool loadNumber(u8* out, u32 numberBytes, const u8* bigEndian, u32 length) {
    while (length && bigEndian[0] == 0) {
        bigEndian++;
        length--;
    }
    if (length > numberBytes) return false;
    memset(out, 0, numberBytes);
    for (u32 i = 0; i < length; i++) out[i] = bigEndian[length - 1 - i];
    return true;
}

// The uncompressed point into x then y little-endian.
bool loadPoint(u8* out, u32 numberBytes, const u8* point, u32 pointLength) {
    if (pointLength != 1 + 2 * numberBytes || point[0] != 0x04) return false;
    for (u32 i = 0; i < numberBytes; i++) {
        out[i] = point[numberBytes - i];
        out[numberBytes + i] = point[2 * numberBytes - i];
    }
    return true;
}

template <int N>
bool verifyOn(const CurveConstants& c, const u8* q, const u8* digest, u32 digestLength, const u8* rBytes,
              const u8* sBytes) {
    using namespace montgomery;
    u64 n[N], r[N], s[N], e[N], scratch[N];
    loadBytes<N>(n, c.order);
    loadBytes<N>(r, rBytes);
    loadBytes<N>(s, sBytes);
    // r and s in 1 .. n - 1
    if (isZero<N>(r) || isZero<N>(s)) return false;
    if (!subtractLimbs<N>(scratch, r, n) || !subtractLimbs<N>(scratch, s, n)) return false;
    if (N == 4 ? !p256IsOnCurve(q) : !jacobian::isOnCurve<N>(q, c.p, c.a, c.b)) return false;
    // e: the digest's leftmost 64 N bits (the order's length here), reduced once below n
    u32 take = digestLength < 8 * N ? digestLength : 8 * N;
    u8 eBytes[8 * N];
    memset(eBytes, 0, sizeof(eBytes));
    for (u32 i = 0; i < take; i++) eBytes[i] = digest[take - 1 - i];
    loadBytes<N>(e, eBytes);
    if (!subtractLimbs<N>(scratch, e, n)) memcpy(e, scratch, sizeof(e));
    if constexpr (N == 4) {
        storeBytes<N>(eBytes, e);
        return p256EcdsaCheck(q, eBytes, rBytes, sBytes);
    }
    // w = s^-1, u1 = e w, u2 = r w (mod n)
    MontgomeryField<N> field = makeField<N>(n);
    u64 sM[N], w[N], t[N], u1[N], u2[N];
    toMontgomery<N>(sM, s, &field);
    invert<N>(w, sM, &field);
    toMontgomery<N>(t, e, &field);
    multiply<N>(t, t, w, &field);
    fromMontgomery<N>(u1, t, &field);
    toMontgomery<N>(t, r, &field);
    multiply<N>(t, t, w, &field);
    fromMontgomery<N>(u2, t, &field);
    u8 u1Bytes[8 * N], u2Bytes[8 * N], g[16 * N], x[8 * N];
    storeBytes<N>(u1Bytes, u1);
    storeBytes<N>(u2Bytes, u2);
    memcpy(g, c.generatorX, 8 * N);
    memcpy(g + 8 * N, c.generatorY, 8 * N);
    if (jacobian::sumOfProductsX<N>(x, u1Bytes, g, u2Bytes, q, c.p, c.a)) return false;
    // x mod n (x < p < 2 n) must equal r
    u64 xLimbs[N];
    loadBytes<N>(xLimbs, x);
    if (!subtractLimbs<N>(scratch, xLimbs, n)) memcpy(xLimbs, scratch, sizeof(xLimbs));
    u64 difference = 0;
    for (int i = 0; i < N; i++) difference |= xLimbs[i] ^ r[i];
    return difference == 0;
}

// One DER INTEGER (positive, minimal) at *position; false when malformed.
bool readInteger(const u8* der, u32 end, u32* position, const u8** value, u32* length) {
    if (*position + 2 > end || der[*position] != 0x02) return false;
    u32 l = der[*position + 1];
    if (l == 0 || l > 0x7F) return false;  // numbers of these curves never need a long length
    u32 start = *position + 2;
    if (start + l > end) return false;
    if (der[start] & 0x80) return false;  // negative
    if (l > 1 && der[start] == 0 && !(der[start + 1] & 0x80)) return false;  // not minimal
    *value = der + start;
    *length = l;
    *position = start + l;
    return true;
}

}  // namespace

u32 ecdsaNumberBytes(u32 curve) {
    if (curve == EcdsaCurveP256) return 32;
    if (curve == EcdsaCurveP384) return 48;
    return 0;
}

bool ecdsaPublicKeyValid(u32 curve, const u8* point, u32 pointLength) {
    u32 bytes = ecdsaNumberBytes(curve);
    if (!bytes || !point) return false;
    u8 q[96];
    if (!loadPoint(q, bytes, point, pointLength)) return false;
    CurveConstants c = constantsOf(curve);
    return bytes == 32 ? p256IsOnCurve(q) : jacobian::isOnCurve<6>(q, c.p, c.a, c.b);
}

bool ecdsaVerify(u32 curve, const u8* point, u32 pointLength, const u8* digest, u32 digestLength, const u8* r,
                 u32 rLength, const u8* s, u32 sLength) {
    ProfilingScope scope("ECDSA verify");
    u32 bytes = ecdsaNumberBytes(curve);
    if (!bytes || !point || !r || !s || (!digest && digestLength)) return false;
    u8 q[96], rLe[48], sLe[48];
    if (!loadPoint(q, bytes, point, pointLength)) return false;
    if (!loadNumber(rLe, bytes, r, rLength) || !loadNumber(sLe, bytes, s, sLength)) return false;
    CurveConstants c = constantsOf(curve);
    if (bytes == 32) return verifyOn<4>(c, q, digest, digestLength, rLe, sLe);
    return verifyOn<6>(c, q, digest, digestLength, rLe, sLe);
}

bool ecdsaVerifyDer(u32 curve, const u8* point, u32 pointLength, const u8* digest, u32 digestLength,
                    const u8* signature, u32 signatureLength) {
    if (!signature || signatureLength < 2 || signature[0] != 0x30) return false;
    u32 content = signature[1];
    if (content > 0x7F) {  // one long-form length byte at most (P-384 needs up to 104 bytes)
        if (content != 0x81 || signatureLength < 3 || signature[2] < 0x80) return false;
        content = signature[2];
        if (3 + content != signatureLength) return false;
    } else if (2 + content != signatureLength) {
        return false;
    }
    u32 position = signatureLength - content;
    const u8 *r, *s;
    u32 rLength, sLength;
    if (!readInteger(signature, signatureLength, &position, &r, &rLength)) return false;
    if (!readInteger(signature, signatureLength, &position, &s, &sLength)) return false;
    if (position != signatureLength) return false;
    return ecdsaVerify(curve, point, pointLength, digest, digestLength, r, rLength, s, sLength);
}
