// CRC-32 by carry-less products where the processor has them, else by eight table lookups per 8 bytes
// ("slicing by 8"); Adler-32 16 bytes at a time in SSE2
// lanes, with the modulo deferred over runs of 5552 bytes, the longest run whose sums cannot pass 2^32.
#include "Decoders/Checksum.h"

#include <emmintrin.h>
#include <wmmintrin.h>

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

// Eight bytes into a reflected CRC-32 by one lookup in each table.
inline u32 crc32EightBytes(u32 crc, const u8* bytes) {
    const auto& t = kCrc32.t;
    u32 lo;
    u32 hi;
    std::memcpy(&lo, bytes, 4);
    std::memcpy(&hi, bytes + 4, 4);
    lo ^= crc;
    return t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][hi & 0xFF] ^
           t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
}

inline __m128i load(const u8* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

__attribute__((target("pclmul"))) inline __m128i fold(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

// CRC-32's folding constants: x^(512+64) and x^512, x^(128+64) and x^128 modulo 0xEDB88320's polynomial.
constexpr CarrylessFoldKeys kCrc32Keys{0x01c6e41596, 0x0154442bd4, 0x00ccaa009e, 0x01751997d0};

}  // namespace

bool cpuHasCarrylessProducts() {
    static const bool has = __builtin_cpu_supports("pclmul");
    return has;
}

// Four 128-bit lanes, each multiplied by the first pair of keys and added to the next 64 bytes, then
// the lanes folded into one the same way by the second pair, then single blocks by the second pair.
__attribute__((target("pclmul"))) i64 foldReflectedCrc(u32 crc, const u8* bytes, i64 count,
                                                       const CarrylessFoldKeys* keys, u8 rest[16]) {
    const __m128i byFour = _mm_set_epi64x((i64)keys->byFourHigh, (i64)keys->byFourLow);
    const __m128i byOne = _mm_set_epi64x((i64)keys->byOneHigh, (i64)keys->byOneLow);
    __m128i x0 = _mm_xor_si128(load(bytes), _mm_cvtsi32_si128((i32)crc));
    i64 taken = 16;
    if (count >= 64) {
        __m128i x1 = load(bytes + 16), x2 = load(bytes + 32), x3 = load(bytes + 48);
        for (taken = 64; count - taken >= 64; taken += 64) {
            x0 = fold(x0, byFour, load(bytes + taken));
            x1 = fold(x1, byFour, load(bytes + taken + 16));
            x2 = fold(x2, byFour, load(bytes + taken + 32));
            x3 = fold(x3, byFour, load(bytes + taken + 48));
        }
        x0 = fold(x0, byOne, x1);
        x0 = fold(x0, byOne, x2);
        x0 = fold(x0, byOne, x3);
    }
    for (; count - taken >= 16; taken += 16) x0 = fold(x0, byOne, load(bytes + taken));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), x0);
    return taken;
}

u32 updateCrc32(u32 crc, const u8* bytes, i64 count) {
    if (!bytes || count <= 0) return crc;
    if (count >= 64 && cpuHasCarrylessProducts()) {
        u8 rest[16];
        i64 taken = foldReflectedCrc(crc, bytes, count, &kCrc32Keys, rest);
        crc = crc32EightBytes(crc32EightBytes(0, rest), rest + 8);
        bytes += taken;
        count -= taken;
    }
    return updateCrc32Tables(crc, bytes, count);
}

u32 updateCrc32Tables(u32 crc, const u8* bytes, i64 count) {
    if (!bytes || count <= 0) return crc;
    const auto& t = kCrc32.t;
    for (; count >= 8; count -= 8, bytes += 8) crc = crc32EightBytes(crc, bytes);
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
    const __m128i zero = _mm_setzero_si128();
    const __m128i weightsLow = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
    const __m128i weightsHigh = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
    while (count > 0) {
        i64 run = count < kRun ? count : kRun;
        count -= run;
        // 16 bytes at a time: a grows by their sum; b by 16 times a before them plus the bytes
        // weighted 16 down to 1. The lanes keep the byte sums, the sum of the byte sums before each
        // block, and the weighted sums.
        const i64 blocks = run / 16;
        if (blocks > 0) {
            __m128i sums = zero;
            __m128i sumsBefore = zero;
            __m128i weighted = zero;
            for (i64 k = 0; k < blocks; k++, bytes += 16) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
                sumsBefore = _mm_add_epi32(sumsBefore, sums);
                sums = _mm_add_epi32(sums, _mm_sad_epu8(v, zero));
                weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpacklo_epi8(v, zero), weightsLow));
                weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpackhi_epi8(v, zero), weightsHigh));
            }
            alignas(16) u32 lanes[3][4];
            _mm_store_si128(reinterpret_cast<__m128i*>(lanes[0]), sums);
            _mm_store_si128(reinterpret_cast<__m128i*>(lanes[1]), sumsBefore);
            _mm_store_si128(reinterpret_cast<__m128i*>(lanes[2]), weighted);
            const u64 sum = u64(lanes[0][0]) + lanes[0][2];
            const u64 before = u64(lanes[1][0]) + lanes[1][2];
            const u64 weightedSum = u64(lanes[2][0]) + lanes[2][1] + lanes[2][2] + lanes[2][3];
            b = u32((b + 16 * u64(blocks) * a + 16 * before + weightedSum) % kBase);
            a = u32((a + sum) % kBase);
            run -= blocks * 16;
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
