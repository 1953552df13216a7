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

// Running Adler-32: start from kAdler32Initial; the running value is the final value.
u32 updateAdler32(u32 adler, const u8* bytes, i64 count);
