// SHA-1, SHA-256 and SHA-384 over caller-owned contexts. A context is set up by the ...Init
// functions (or by the one-call hashes); every Final works on a copy, so a running hash can be read
// at any point and absorbing may go on afterwards. A data pointer may be null when its length is 0.
#pragma once
#include "Core/Types.h"

constexpr u64 kSha1DigestSize = 20;
constexpr u64 kSha256DigestSize = 32;
constexpr u64 kSha384DigestSize = 48;

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

// The 128-byte-block family (SHA-384 now; SHA-512 shares the compression and differs only in its
// initial values and digest length).
struct Sha384Context {
    u64 state[8];
    u64 bitCount;
    u8 block[128];
};

Sha1Context* sha1Init(Sha1Context* context);
Sha256Context* sha256Init(Sha256Context* context);
Sha384Context* sha384Init(Sha384Context* context);

void sha1Update(Sha1Context* context, const u8* data, u64 length);
void sha256Update(Sha256Context* context, const u8* data, u64 length);
void sha384Update(Sha384Context* context, const u8* data, u64 length);

u8* sha1Final(u8* digest, const Sha1Context* context);
u8* sha256Final(u8* digest, const Sha256Context* context);
u8* sha384Final(u8* digest, const Sha384Context* context);

u8* sha1(u8* digest, const u8* data, u64 length);
u8* sha256(u8* digest, const u8* data, u64 length);
u8* sha384(u8* digest, const u8* data, u64 length);

// One compression step on the state words.
void sha1Transform(u32* state, const u8* block);
void sha256Transform(u32* state, const u8* block);
void sha512Transform(u64* state, const u8* block);
