// The expected values the self tests compare against: published examples of the hashes, MACs, key
// derivations, ciphers and curves, and values recomputed by independent implementations where the
// standards publish none. Kept as tables (hexadecimal texts) so that each can be checked from
// outside the program as well.
#pragma once
#include "Core/Types.h"

struct HashVector {
    const char* function;  // "md5", "sha1", "sha256", "sha384", "sha512", "hmac-md5", "hmac-sha1",
                           // "hmac-sha256", "hmac-sha384", "hmac-sha512", "hkdf-expand-sha256"
    const char* key;       // hex: the MAC key or the HKDF pseudorandom key; null for a plain hash
    const char* text;      // the message as text, or null
    const char* hex;       // otherwise the message as hex (for HKDF, the info)
    const char* expected;  // hex; its length is the output length
};

enum HashVectorIndex : u32 {
    Md5Empty, Md5A, Md5Abc, Md5MessageDigest, Md5Alphabet, Md5AlphaNumeric, Md5Digits, HmacMd5Fox,
    Sha1Abc, Sha1TwoBlocks, HmacSha1Fox,
    Sha256Empty, Sha256Abc, Sha256TwoBlocks, HmacSha256Fox, HmacSha256LongKey, HmacSha256Rfc4231Case1,
    HmacSha256Rfc4231Case7, HkdfCase1Extract, HkdfCase1Expand, HkdfCase2Extract, HkdfCase2Expand,
    Sha384Empty, Sha384Abc, Sha384TwoBlocks, HmacSha384Nist, HmacSha384Rfc4231Case1, HmacSha384Rfc4231Case7,
    Sha512Abc, Sha512TwoBlocks, HmacSha512Nist, HmacSha512Rfc4231Case1, HmacSha512Rfc4231Case7,
    HashVectorCount
};

extern const HashVector kHashVectors[HashVectorCount];

struct AesVector {
    const char* mode;        // "cbc" or "gcm"
    const char* key;         // hex, 16 or 32 bytes
    const char* iv;          // hex: 16 bytes for CBC, 12 for GCM
    const char* plaintext;   // hex
    const char* aad;         // hex, GCM only ("" for none)
    const char* ciphertext;  // hex
    const char* tag;         // hex, GCM only
};

enum AesVectorIndex : u32 {
    AesCbcNist,  // NIST SP 800-38A F.2.1, the first two blocks
    AesGcmRecord,  // an AES-256-GCM TLS record holding a Finished message
    AesGcmCase1, AesGcmCase2, AesGcmCase3, AesGcmCase4,
    AesVectorCount
};

extern const AesVector kAesVectors[AesVectorCount];

// Operations on the small curve y^2 = x^3 + 2x + 3 mod 97.
struct SmallCurveCase {
    const char* operation;  // "add", "double", "scale" or "scale-validated"
    u32 scalar;             // scale only
    u32 px, py, qx, qy;     // the points (q for "add" only)
    u32 status;             // 0 finite, 1 the point at infinity, 2 refused by validation
    u32 x, y;               // the result when status is 0
};

enum SmallCurveCaseIndex : u32 {
    SmallAdd, SmallDouble, SmallDouble2,
    SmallScale3, SmallScale4, SmallScale5, SmallScale6, SmallScale81,
    SmallValidated1, SmallValidated39, SmallValidatedOrderTwo, SmallValidatedXIsP, SmallValidatedOffCurve,
    SmallCurveCaseCount
};

extern const SmallCurveCase kSmallCurveCases[SmallCurveCaseCount];

// X25519 (RFC 7748): the function's first test vector, the iterated test and the key pairs of the
// Diffie-Hellman example. Hex, little-endian as the function takes them.
struct X25519Vector {
    const char* scalar;
    const char* u;
    const char* expected;
};

enum X25519VectorIndex : u32 {
    X25519Function,
    X25519Alice,       // Alice's private key with the base point: her public key
    X25519Bob,
    X25519AliceShared, // Alice's private key with Bob's public key: the shared secret
    X25519BobShared,
    X25519VectorCount
};

extern const X25519Vector kX25519Vectors[X25519VectorCount];
extern const char* const kX25519IteratedOnce;      // k after 1 iteration
extern const char* const kX25519IteratedThousand;  // k after 1,000 iterations

// The two P-256 private scalars of the key agreement (hex, big-endian).
extern const char* const kP256ScalarA;
extern const char* const kP256ScalarB;

// Decodes up to capacity bytes of hex (either case) into out; returns the bytes written. A null
// text is empty.
u32 decodeHex(u8* out, u32 capacity, const char* hex);
