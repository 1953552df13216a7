// SHA-1, SHA-256, SHA-384 and SHA-512 over caller-owned contexts. A context is set up by the ...Init
// functions (or by the one-call hashes); every Final works on a copy, so a running hash can be read
// at any point and absorbing may go on afterwards. A data pointer may be null when its length is 0.
#pragma once
#include "Core/Types.h"

constexpr u64 kSha1DigestSize = 20;
constexpr u64 kSha256DigestSize = 32;
constexpr u64 kSha384DigestSize = 48;
constexpr u64 kSha512DigestSize = 64;

struct Sha1Context {
    u32 state[5];
    u64 bitCount;
    u8 block[64];  // the bytes of the unfinished block
};

struct Sha256Context {
    u32 state[8];
    u64 bitCount;
    u8 block[64];
};

// The 128-byte-block family: SHA-384 and SHA-512 share the compression and differ only in their
// initial values and digest length.
struct Sha384Context {
    u64 state[8];
    u64 bitCount;
    u8 block[128];
};
using Sha512Context = Sha384Context;

Sha1Context* sha1Init(Sha1Context* context);
Sha256Context* sha256Init(Sha256Context* context);
Sha384Context* sha384Init(Sha384Context* context);
Sha512Context* sha512Init(Sha512Context* context);

void sha1Update(Sha1Context* context, const u8* data, u64 length);
void sha256Update(Sha256Context* context, const u8* data, u64 length);
void sha384Update(Sha384Context* context, const u8* data, u64 length);
void sha512Update(Sha512Context* context, const u8* data, u64 length);

u8* sha1Final(u8* digest, const Sha1Context* context);
u8* sha256Final(u8* digest, const Sha256Context* context);
u8* sha384Final(u8* digest, const Sha384Context* context);
u8* sha512Final(u8* digest, const Sha512Context* context);

u8* sha1(u8* digest, const u8* data, u64 length);
u8* sha256(u8* digest, const u8* data, u64 length);
u8* sha384(u8* digest, const u8* data, u64 length);
u8* sha512(u8* digest, const u8* data, u64 length);

// One compression step on the state words.
void sha1Transform(u32* state, const u8* block);
void sha256Transform(u32* state, const u8* block);
void sha512Transform(u64* state, const u8* block);

// The hashes a signature can be made over.
enum SignatureHash : u32 {
    SignatureHashNone = 0,
    SignatureHashSha256 = 1,
    SignatureHashSha384 = 2,
    SignatureHashSha512 = 3,
};

// The digest length of a signature hash (0 for none).
u32 signatureHashLength(u32 hash);
// digest = the hash of the bytes; returns the digest length (0 for an unknown hash, digest untouched).
u32 signatureHashBytes(u8* digest, u32 hash, const u8* data, u64 length);
