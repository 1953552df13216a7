// CRC-32 by eight table lookups per 8 bytes ("slicing by 8"); Adler-32 with the modulo deferred over
// runs of 5552 bytes, the longest run whose sums cannot pass 2^32.
#include "Decoders/Checksum.h"

#include <cstring>

namespace {

struct Crc32Tables {
    u32 t[8][256];
};

constexpr Crc32Tables makeCrc32Tables() {
    Crc32Tables tables{};
    for (u32 n = 0; n < 256; n++) {
        u32 c = n;
        for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables.t[0][n] = c;
    }
    for (u32 n = 0; n < 256; n++) {
        u32 c = tables.t[0][n];
        for (int k = 1; k < 8; k++) {
            c = tables.t[0][c & 0xFF] ^ (c >> 8);
            tables.t[k][n] = c;
        }
    }
    return tables;
}

constexpr Crc32Tables kCrc32 = makeCrc32Tables();

}  // namespace

u32 updateCrc32(u32 crc, const u8* bytes, i64 count) {
    if (!bytes || count <= 0) return crc;
    const auto& t = kCrc32.t;
    while (count >= 8) {
        u32 lo;
        u32 hi;
        std::memcpy(&lo, bytes, 4);
        std::memcpy(&hi, bytes + 4, 4);
        lo ^= crc;
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        bytes += 8;
        count -= 8;
    }
    while (count-- > 0) crc = t[0][(crc ^ *bytes++) & 0xFF] ^ (crc >> 8);
    return crc;
}

u32 crc32(const u8* bytes, i64 count) { return finishCrc32(updateCrc32(kCrc32Initial, bytes, count)); }

u32 updateAdler32(u32 adler, const u8* bytes, i64 count) {
    constexpr u32 kBase = 65521;
    constexpr i64 kRun = 5552;
    u32 a = adler & 0xFFFF;
    u32 b = adler >> 16;
    if (!bytes) return adler;
    while (count > 0) {
        i64 run = count < kRun ? count : kRun;
        count -= run;
        while (run >= 8) {
            a += bytes[0]; b += a;
            a += bytes[1]; b += a;
            a += bytes[2]; b += a;
            a += bytes[3]; b += a;
            a += bytes[4]; b += a;
            a += bytes[5]; b += a;
            a += bytes[6]; b += a;
            a += bytes[7]; b += a;
            bytes += 8;
            run -= 8;
        }
        while (run-- > 0) {
            a += *bytes++;
            b += a;
        }
        a %= kBase;
        b %= kBase;
    }
    return (b << 16) | a;
}
