// CRC-32 (ISO 3309 / PNG / zip: reflected polynomial 0xEDB88320) and Adler-32 (zlib, RFC 1950).
#pragma once
#include "Core/Types.h"

constexpr u32 kCrc32Initial = 0xFFFFFFFFu;
constexpr u32 kAdler32Initial = 1u;

// Running CRC-32 without the final complement: start from kCrc32Initial, feed the pieces in order,
// then complement with finishCrc32.
u32 updateCrc32(u32 crc, const u8* bytes, i64 count);
inline u32 finishCrc32(u32 crc) { return crc ^ 0xFFFFFFFFu; }
// updateCrc32 by the tables alone, as on processors without carry-less products (tests compare).
u32 updateCrc32Tables(u32 crc, const u8* bytes, i64 count);
// The CRC-32 of one buffer, complemented: the value stored in PNG chunks and zip headers.
u32 crc32(const u8* bytes, i64 count);

// The folding of a bit-reflected CRC of at most 32 bits by carry-less products, on processors that
// have them (cpuHasCarrylessProducts): count >= 16 bytes are folded, from the register crc, into one
// 16-byte block (rest) whose checksum from a zero register is theirs; returns the bytes folded, a
// multiple of 16. The keys are the CRC's folding constants over 64 bytes (four lanes of 16 bytes at
// a time), then over 16 bytes (one lane), high and low halves of each pair as the products take them.
struct CarrylessFoldKeys {
    u64 byFourHigh;
    u64 byFourLow;
    u64 byOneHigh;
    u64 byOneLow;
};
bool cpuHasCarrylessProducts();
i64 foldReflectedCrc(u32 crc, const u8* bytes, i64 count, const CarrylessFoldKeys* keys, u8 rest[16]);

// Running Adler-32: start from kAdler32Initial; the running value is the final value.
u32 updateAdler32(u32 adler, const u8* bytes, i64 count);
