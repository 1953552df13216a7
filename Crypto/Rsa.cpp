#include "Crypto/Rsa.h"

#include <cstring>

#include "Core/Format.h"
#include "Core/Profiler.h"

namespace {

// The DER DigestInfo in front of the digest in a PKCS#1 v1.5 block (the AlgorithmIdentifier with
// NULL parameters and the OCTET STRING header).
constexpr u8 kDigestInfoSha256[19] = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                      0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
constexpr u8 kDigestInfoSha384[19] = {0x30, 0x41, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                      0x65, 0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04, 0x30};
constexpr u8 kDigestInfoSha512[19] = {0x30, 0x51, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                      0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40};

const u8* digestInfo(u32 hash) {
    switch (hash) {
        case SignatureHashSha256: return kDigestInfoSha256;
        case SignatureHashSha384: return kDigestInfoSha384;
        case SignatureHashSha512: return kDigestInfoSha512;
        default: return nullptr;
    }
}

// A running hash of any of the signature hashes.
struct AnyHash {
    u32 hash;
    Sha256Context c256;
    Sha512Context c512;  // SHA-384 and SHA-512
};

void anyHashInit(AnyHash* h, u32 hash) {
    h->hash = hash;
    if (hash == SignatureHashSha256) sha256Init(&h->c256);
    else if (hash == SignatureHashSha384) sha384Init(&h->c512);
    else sha512Init(&h->c512);
}

void anyHashUpdate(AnyHash* h, const u8* data, u64 length) {
    if (h->hash == SignatureHashSha256) sha256Update(&h->c256, data, length);
    else sha512Update(&h->c512, data, length);
}

void anyHashFinal(u8* digest, const AnyHash* h) {
    if (h->hash == SignatureHashSha256) sha256Final(digest, &h->c256);
    else if (h->hash == SignatureHashSha384) sha384Final(digest, &h->c512);
    else sha512Final(digest, &h->c512);
}

// s^e mod n as a block of the modulus's length; false when the signature has the wrong length or is
// not below the modulus.
bool publicOperation(u8* block, const RsaPublicKey* key, const u8* signature, u32 signatureLength) {
    if (key->modulusBytes == 0 || signatureLength != key->modulusBytes) return false;
    return bigIntModExp(block, signature, key->modulus, key->modulusBytes, key->exponent);
}

}  // namespace

FixedString makeRsaPublicKey(RsaPublicKey* out, const u8* modulus, u32 modulusLength, const u8* exponent,
                             u32 exponentLength) {
    memset(out, 0, sizeof(*out));
    while (modulusLength && modulus[0] == 0) {
        modulus++;
        modulusLength--;
    }
    while (exponentLength && exponent[0] == 0) {
        exponent++;
        exponentLength--;
    }
    if (modulusLength == 0) return makeString("RSA modulus is zero");
    u32 bits = 8 * modulusLength;
    for (u8 top = modulus[0]; !(top & 0x80); top <<= 1) bits--;
    if (bits < kRsaMinBits || bits > kRsaMaxBits) return formatInt("RSA key of @ bits not supported", bits);
    if (!(modulus[modulusLength - 1] & 1)) return makeString("RSA modulus is even");
    if (exponentLength == 0 || exponentLength > 8) return makeString("RSA exponent not supported");
    u64 e = 0;
    for (u32 i = 0; i < exponentLength; i++) e = e << 8 | exponent[i];
    if (e < 3 || !(e & 1)) return makeString("RSA exponent not supported");
    out->modulusBytes = modulusLength;
    out->modulusBits = bits;
    out->exponent = e;
    memcpy(out->modulus, modulus, modulusLength);
    return FixedString{};
}

bool rsaVerifyPkcs1(const RsaPublicKey* key, u32 hash, const u8* digest, const u8* signature,
                    u32 signatureLength) {
    ProfilingScope scope("RSA PKCS1 verify");
    const u8* info = digestInfo(hash);
    u32 hashLength = signatureHashLength(hash);
    if (!info) return false;
    u8 block[kBigIntMaxBytes];
    if (!publicOperation(block, key, signature, signatureLength)) return false;
    // 00 01 FF .. FF 00 DigestInfo digest, with at least eight FF bytes
    u32 k = key->modulusBytes;
    u32 tLength = 19 + hashLength;
    if (k < tLength + 11) return false;
    u8 expected[kBigIntMaxBytes];
    expected[0] = 0x00;
    expected[1] = 0x01;
    memset(expected + 2, 0xFF, k - tLength - 3);
    expected[k - tLength - 1] = 0x00;
    memcpy(expected + k - tLength, info, 19);
    memcpy(expected + k - hashLength, digest, hashLength);
    u8 difference = 0;
    for (u32 i = 0; i < k; i++) difference |= (u8)(block[i] ^ expected[i]);
    return difference == 0;
}

bool rsaVerifyPss(const RsaPublicKey* key, u32 hash, const u8* digest, i32 saltLength, const u8* signature,
                  u32 signatureLength) {
    ProfilingScope scope("RSA PSS verify");
    u32 hLen = signatureHashLength(hash);
    if (hLen == 0) return false;
    u8 block[kBigIntMaxBytes];
    if (!publicOperation(block, key, signature, signatureLength)) return false;
    // The encoded message has modBits - 1 bits; when that is a whole number of bytes, the block's first
    // byte stands in front of it and must be zero.
    u32 emBits = key->modulusBits - 1;
    u32 emLen = (emBits + 7) / 8;
    const u8* em = block;
    if (emLen < key->modulusBytes) {
        if (block[0] != 0) return false;
        em = block + 1;
    }
    if (emLen < hLen + 2) return false;
    if (saltLength != kRsaPssAnySalt && (saltLength < 0 || emLen < hLen + (u32)saltLength + 2)) return false;
    if (em[emLen - 1] != 0xBC) return false;
    u32 dbLen = emLen - hLen - 1;
    const u8* h = em + dbLen;
    u8 topMask = (u8)(0xFF >> (8 * emLen - emBits));
    if (em[0] & ~topMask) return false;
    // DB = maskedDB xor MGF1(H)
    u8 db[kBigIntMaxBytes];
    for (u32 counter = 0, done = 0; done < dbLen; counter++) {
        u8 c[4] = {(u8)(counter >> 24), (u8)(counter >> 16), (u8)(counter >> 8), (u8)counter};
        AnyHash mgf;
        anyHashInit(&mgf, hash);
        anyHashUpdate(&mgf, h, hLen);
        anyHashUpdate(&mgf, c, 4);
        u8 mask[64];
        anyHashFinal(mask, &mgf);
        for (u32 i = 0; i < hLen && done < dbLen; i++, done++) db[done] = (u8)(em[done] ^ mask[i]);
    }
    db[0] &= topMask;
    // DB = PS (zeros) || 01 || salt
    u32 one = 0;
    while (one < dbLen && db[one] == 0) one++;
    if (one == dbLen || db[one] != 0x01) return false;
    u32 foundSalt = dbLen - one - 1;
    if (saltLength != kRsaPssAnySalt && foundSalt != (u32)saltLength) return false;
    const u8 zeros[8] = {};
    AnyHash mPrime;
    anyHashInit(&mPrime, hash);
    anyHashUpdate(&mPrime, zeros, 8);
    anyHashUpdate(&mPrime, digest, hLen);
    anyHashUpdate(&mPrime, db + one + 1, foundSalt);
    u8 hPrime[64];
    anyHashFinal(hPrime, &mPrime);
    u8 difference = 0;
    for (u32 i = 0; i < hLen; i++) difference |= (u8)(hPrime[i] ^ h[i]);
    return difference == 0;
}
