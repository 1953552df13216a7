// AES (16-, 24- and 32-byte keys) with CBC and GCM over caller-owned buffers. Input and output of the
// CBC and GCM operations may be the same buffer. Lengths of zero or below do nothing. Nothing here
// looks up a table by a secret byte: the processor's AES and carry-less multiply instructions run
// where the CPU has them, a constant-time software path otherwise.
#pragma once
#include "Core/Types.h"

struct AesKeySchedule {
    i32 rounds;          // 10, 12 or 14 for a 16-, 24- or 32-byte key
    u8 roundKeys[240];   // FIPS 197 words as byte sequences; the first bytes are the key itself
};

// Expands a 16-, 24- or 32-byte key (the round keys are zeroed first); returns out. One schedule serves
// both directions. A key of another length gives a schedule of 0 rounds, which the block functions
// refuse to use (they leave the block as it is).
AesKeySchedule* aesKeyExpansion(AesKeySchedule* out, i32 keyLength, const u8* key);

void aesEncryptBlock(u8* block, const AesKeySchedule* schedule);
void aesDecryptBlock(u8* block, const AesKeySchedule* schedule);

// CBC encryption of ceil(length / 16) whole blocks (a short final block is read and written whole;
// padding is the caller's). iv and work end as the last ciphertext block, so consecutive calls
// continue one chain. Returns work.
u8* encryptAesCbc(u8* work, const u8* input, u8* output, i64 length, u8* iv, const AesKeySchedule* schedule);

// CBC decryption of ceil(length / 16) blocks; iv is left as given.
void decryptAesCbc(const u8* input, u8* output, i64 length, const u8* iv, const AesKeySchedule* schedule);

// GCM with a 12-byte IV: writes the ciphertext and the 16-byte tag; returns tag. aad may be null
// when aadLength is 0.
u8* encryptAesGcm(u8* tag, const u8* plaintext, u8* ciphertext, i64 length, const u8* iv, const u8* aad,
                  i64 aadLength, const AesKeySchedule* schedule);

// GCM decryption: writes the whole plaintext, then returns 0 when the tag matches and 1 when it does
// not (the caller must then discard the plaintext). The tag is compared in constant time.
i32 decryptAesGcm(const u8* ciphertext, u8* plaintext, i64 length, const u8* iv, const u8* aad, i64 aadLength,
                  const AesKeySchedule* schedule, const u8* expectedTag);

// out = x * h in GF(2^128) with the bit order of GCM; returns out.
u8* ghashMultiply(u8* out, const u8* x, const u8* h);
