// RSA signature checks: PKCS#1 v1.5 and RSASSA-PSS (MGF1 with the message's hash) over SHA-256,
// SHA-384 and SHA-512, with public keys of 2048 to 4096 bits. Nothing here signs.
#pragma once
#include "Core/FixedString.h"
#include "Crypto/BigInt.h"
#include "Crypto/Sha.h"

constexpr u32 kRsaMinBits = 2048;
constexpr u32 kRsaMaxBits = 4096;
constexpr i32 kRsaPssAnySalt = -1;

struct RsaPublicKey {
    u32 modulusBytes;  // without leading zero bytes
    u32 modulusBits;
    u64 exponent;
    u8 modulus[kBigIntMaxBytes];  // big-endian, modulusBytes long
};

// A key from its big-endian modulus and public exponent (as they stand in a certificate's INTEGERs,
// leading zeros allowed). Empty on success, else why the key is refused (size, even or small exponent).
FixedString makeRsaPublicKey(RsaPublicKey* out, const u8* modulus, u32 modulusLength, const u8* exponent,
                             u32 exponentLength);

// True when signature is a PKCS#1 v1.5 signature of digest (the hash's length) under key.
bool rsaVerifyPkcs1(const RsaPublicKey* key, u32 hash, const u8* digest, const u8* signature, u32 signatureLength);
// True when signature is an RSASSA-PSS signature of digest with MGF1 over the same hash and a salt of
// saltLength bytes (kRsaPssAnySalt: any length).
bool rsaVerifyPss(const RsaPublicKey* key, u32 hash, const u8* digest, i32 saltLength, const u8* signature,
                  u32 signatureLength);
