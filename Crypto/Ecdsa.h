// ECDSA signature checks on P-256 and P-384. Public keys are uncompressed points (04 || X || Y,
// big-endian), signatures either the two numbers r and s (big-endian) or their DER SEQUENCE as TLS
// and certificates carry it. Nothing here signs.
#pragma once
#include "Core/Types.h"

enum EcdsaCurve : u32 {
    EcdsaCurveNone = 0,
    EcdsaCurveP256 = 1,
    EcdsaCurveP384 = 2,
};

// The byte length of the curve's numbers (32 or 48; 0 for none).
u32 ecdsaNumberBytes(u32 curve);

// True when the uncompressed point is a point of the curve (not the point at infinity).
bool ecdsaPublicKeyValid(u32 curve, const u8* point, u32 pointLength);

// True when (r, s) signs the digest (any length: its leftmost bits as the curve's order is long) under
// the public key. r and s are big-endian of any length up to the curve's number length after leading
// zeros.
bool ecdsaVerify(u32 curve, const u8* point, u32 pointLength, const u8* digest, u32 digestLength, const u8* r,
                 u32 rLength, const u8* s, u32 sLength);

// The same with the signature as DER: SEQUENCE { INTEGER r, INTEGER s }, nothing after it.
bool ecdsaVerifyDer(u32 curve, const u8* point, u32 pointLength, const u8* digest, u32 digestLength,
                    const u8* signature, u32 signatureLength);
