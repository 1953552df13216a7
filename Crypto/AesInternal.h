// The two implementations behind Aes.h: the processor's AES and carry-less multiply instructions,
// chosen at run time where the CPU has them, and a constant-time software path (no table look-ups
// on secret bytes) otherwise. Inside the crypto code and its tests only.
#pragma once
#include "Core/Types.h"
#include "Crypto/Aes.h"

// True when the instructions are present and have not been turned off.
bool aesHardwareInUse();
// Tests and the timing check turn the instructions off (false) to exercise the software path,
// and back on (true: used again where present).
void aesAllowHardware(bool allow);

// Four bytes through the S-box at once (byte i of the word in bits 8i..8i+7), in constant time.
u32 aesSubstituteWord(u32 word);

// The instruction path; callers check aesHardwareInUse first.
void aesHardwareEncryptBlock(u8* block, const AesKeySchedule* schedule);
void aesHardwareDecryptBlock(u8* block, const AesKeySchedule* schedule);
void aesHardwareEncryptCbc(const u8* input, u8* output, i64 blocks, u8* iv, const AesKeySchedule* schedule);
void aesHardwareDecryptCbc(const u8* input, u8* output, i64 blocks, const u8* iv, const AesKeySchedule* schedule);
// GCM over the whole message: counter mode from counter 2, and the tag before its final mask
// (GHASH of aad, ciphertext and lengths XOR E(J0)). decrypt hashes the input, else the output.
void aesHardwareGcm(u8* tag, bool decrypt, const u8* input, u8* output, i64 length, const u8* iv, const u8* aad,
                    i64 aadLength, const AesKeySchedule* schedule);

// The 512-bit path (VAES and VPCLMULQDQ with AVX-512), where the CPU and the system have it and it
// has not been turned off; tests turn it off (false) to exercise the 128-bit path.
bool aesWideInUse();
void aesAllowWideInstructions(bool allow);
// Whole 256-byte stretches of GCM from the start of input: counter mode from *counter on the 16-byte
// counterBlock (the IV; its last four bytes are ignored) and the hash carried on in hash (16 bytes,
// byte-reversed as the 128-bit path keeps it; powers holds H^1 .. H^16 the same way). Advances
// *counter; returns the bytes done, a multiple of 256. decrypt hashes the input, else the output.
i64 aesWideGcmBulk(u8* hash, u32* counter, bool decrypt, const u8* input, u8* output, i64 length,
                   const u8* counterBlock, const AesKeySchedule* schedule, const u8* powers);
