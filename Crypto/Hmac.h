// HMAC over SHA-1, SHA-256, SHA-384 and SHA-512, HKDF-Expand and the TLS 1.3 HKDF-Expand-Label, and the
// constant-time comparison every MAC and tag check uses.
//
// The message of an HMAC is fed by calling the matching hash update on the context's inner field
// between Init and Final; Final does not change the context. Key, message, info and context
// pointers may be null when their length is 0.
#pragma once
#include "Crypto/Sha.h"

struct HmacSha1Context {
    u8 keyBlock[64];  // the key zero-padded, or the hash of a key longer than the block
    Sha1Context inner;  // has absorbed keyBlock XOR 0x36 as its first block
};

struct HmacSha256Context {
    u8 keyBlock[64];
    Sha256Context inner;
};

struct HmacSha384Context {
    u8 keyBlock[128];
    Sha384Context inner;
};

struct HmacSha512Context {
    u8 keyBlock[128];
    Sha512Context inner;
};

HmacSha1Context* hmacSha1Init(HmacSha1Context* context, const u8* key, u64 keyLength);
HmacSha256Context* hmacSha256Init(HmacSha256Context* context, const u8* key, u64 keyLength);
HmacSha384Context* hmacSha384Init(HmacSha384Context* context, const u8* key, u64 keyLength);
HmacSha512Context* hmacSha512Init(HmacSha512Context* context, const u8* key, u64 keyLength);

u8* hmacSha1Final(u8* mac, const HmacSha1Context* context);
u8* hmacSha256Final(u8* mac, const HmacSha256Context* context);
u8* hmacSha384Final(u8* mac, const HmacSha384Context* context);
u8* hmacSha512Final(u8* mac, const HmacSha512Context* context);

u8* hmacSha256(u8* mac, const u8* key, u64 keyLength, const u8* message, u64 messageLength);
u8* hmacSha384(u8* mac, const u8* key, u64 keyLength, const u8* message, u64 messageLength);
u8* hmacSha512(u8* mac, const u8* key, u64 keyLength, const u8* message, u64 messageLength);

// HKDF-Expand: out = the first outLength bytes of T(1) || T(2) || ...; outLength is at most 255
// times the hash length (longer requests fill only that much).
void hkdfExpandSha256(const u8* prk, const u8* info, u64 infoLength, u8* out, u64 outLength);
void hkdfExpandSha384(const u8* prk, const u8* info, u64 infoLength, u8* out, u64 outLength);

// HKDF-Expand-Label of TLS 1.3: label is given without its "tls13 " prefix.
void hkdfExpandLabelSha256(const u8* secret, const char* label, const u8* context, u8 contextLength, u8* out,
                           u64 outLength);
void hkdfExpandLabelSha384(const u8* secret, const char* label, const u8* context, u8 contextLength, u8* out,
                           u64 outLength);

// Compares two byte strings in time that depends only on the length: 1 when equal, else 0.
i32 constantTimeEqual(const u8* a, const u8* b, u64 length);
