// MD5 (RFC 1321) and HMAC-MD5 (RFC 2104). The program keeps MD5 only to check itself against the
// published examples: nothing it sends, stores or trusts depends on it.
#pragma once
#include "Core/Types.h"

constexpr u64 kMd5DigestSize = 16;

struct Md5Context {
    u32 state[4];
    u64 bitCount;   // message length so far in bits; the pending bytes are bitCount / 8 mod 64
    u8 buffer[64];  // the bytes of the unfinished block
};

// A fresh context (the RFC's initial state).
Md5Context* md5Init(Md5Context* context);
// The compression function on the four state words and one 64-byte block.
void md5Transform(u32* state, const u8* block);
// Absorbs length bytes (data may be null when length is 0); whole blocks of the input are
// transformed where they lie.
void md5Update(Md5Context* context, const u8* data, u64 length);
// Pads, writes the 16-byte digest and leaves the context fresh for a new message. Returns digest.
u8* md5Final(u8* digest, Md5Context* context);
u8* md5(u8* digest, const u8* data, u64 length);
// HMAC-MD5 with a 64-byte block; a key longer than the block is replaced by its MD5.
u8* hmacMd5(u8* mac, const u8* key, u64 keyLength, const u8* message, u64 messageLength);
