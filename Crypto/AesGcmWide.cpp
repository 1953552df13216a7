// The bulk of GCM on the 512-bit AES and carry-less multiply instructions (VAES, VPCLMULQDQ with
// AVX-512): sixteen blocks per step, four to a register. The counter blocks of a step go through the
// cipher side by side while the hash multiplies the step's sixteen blocks by H^16 .. H^1 and reduces
// once (aggregated reduction); the out-of-order core overlaps one step's hashing with the next step's
// rounds, which depend only on the counter. Every operation is the same whatever the key, the data
// and the hash hold. The functions carry the instruction sets as a target attribute; Aes.cpp calls
// them only where the CPU and the system have them.
// GCC 12's AVX-512 intrinsics start some results from a deliberately undefined value and then warn
// about it where they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "Crypto/AesInternal.h"
#include "Crypto/CpuFeatures.h"
#include "Crypto/GhashReduction.h"

#define WIDE_TARGET __attribute__((target("vaes,vpclmulqdq,avx512f,avx512bw,avx512vl,aes,pclmul,ssse3,sse4.1")))

namespace {

bool gWideAllowed = true;

// The same 128 bits in all four lanes.
WIDE_TARGET inline __m512i broadcast(__m128i x) { return _mm512_broadcast_i32x4(x); }

// Reverses the sixteen bytes of each 128-bit lane: the hash works on byte-reversed blocks (see
// AesHardware.cpp), and so do the counters, whose 32-bit count then sits in each lane's low word.
WIDE_TARGET inline __m512i reverseLanes(__m512i x) {
    const __m512i order = broadcast(_mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
    return _mm512_shuffle_epi8(x, order);
}

WIDE_TARGET inline __m512i xor3(__m512i a, __m512i b, __m512i c) { return _mm512_ternarylogic_epi64(a, b, c, 0x96); }

// The 256-bit products of four lanes by four lanes, accumulated unreduced: low and high halves and
// the two middle products.
struct WideSums {
    __m512i low, middle, high;
};

WIDE_TARGET inline void multiplyLanes(__m512i a, __m512i h, WideSums* sums) {
    sums->low = _mm512_xor_si512(sums->low, _mm512_clmulepi64_epi128(a, h, 0x00));
    sums->high = _mm512_xor_si512(sums->high, _mm512_clmulepi64_epi128(a, h, 0x11));
    sums->middle = xor3(sums->middle, _mm512_clmulepi64_epi128(a, h, 0x01), _mm512_clmulepi64_epi128(a, h, 0x10));
}

// The four lanes' products summed into one 256-bit product, then reduced as the 128-bit path does.
WIDE_TARGET inline __m128i foldAndReduce(const WideSums* sums) {
    __m512i low = _mm512_xor_si512(sums->low, _mm512_bslli_epi128(sums->middle, 8));
    __m512i high = _mm512_xor_si512(sums->high, _mm512_bsrli_epi128(sums->middle, 8));
    __m256i low2 = _mm256_xor_si256(_mm512_castsi512_si256(low), _mm512_extracti64x4_epi64(low, 1));
    __m256i high2 = _mm256_xor_si256(_mm512_castsi512_si256(high), _mm512_extracti64x4_epi64(high, 1));
    __m128i lo = _mm_xor_si128(_mm256_castsi256_si128(low2), _mm256_extracti128_si256(low2, 1));
    __m128i hi = _mm_xor_si128(_mm256_castsi256_si128(high2), _mm256_extracti128_si256(high2, 1));
    return ghashReduce(lo, hi);
}

}  // namespace

bool aesWideInUse() { return gWideAllowed && cpuHasWideAesInstructions(); }

void aesAllowWideInstructions(bool allow) { gWideAllowed = allow; }

WIDE_TARGET i64 aesWideGcmBulk(u8* hash, u32* counter, bool decrypt, const u8* input, u8* output, i64 length,
                               const u8* counterBlock, const AesKeySchedule* schedule, const u8* powers) {
    const int rounds = schedule->rounds;
    __m512i keys[15];
    for (int r = 0; r <= rounds; r++)
        keys[r] = broadcast(_mm_loadu_si128((const __m128i*)(schedule->roundKeys + 16 * r)));
    // Lane j of register i multiplies block 4 i + j of a step by H^(16 - 4 i - j).
    __m512i h[4];
    for (int i = 0; i < 4; i++) {
        __m128i lanes[4];
        for (int j = 0; j < 4; j++) lanes[j] = _mm_loadu_si128((const __m128i*)(powers + 16 * (15 - 4 * i - j)));
        h[i] = _mm512_inserti64x4(_mm512_zextsi256_si512(_mm256_set_m128i(lanes[1], lanes[0])),
                                  _mm256_set_m128i(lanes[3], lanes[2]), 1);
    }
    // The counters byte-reversed, so that adding to each lane's low word steps its count (mod 2^32,
    // as GCM's inc32).
    __m512i base = reverseLanes(broadcast(_mm_loadu_si128((const __m128i*)counterBlock)));
    base = _mm512_mask_blend_epi32(0x1111, base, _mm512_set1_epi32((int)*counter));
    __m512i next[4];
    for (int i = 0; i < 4; i++)
        next[i] = _mm512_add_epi32(base, _mm512_set_epi32(0, 0, 0, 4 * i + 3, 0, 0, 0, 4 * i + 2, 0, 0, 0, 4 * i + 1, 0,
                                                          0, 0, 4 * i));
    const __m512i step = _mm512_set_epi32(0, 0, 0, 16, 0, 0, 0, 16, 0, 0, 0, 16, 0, 0, 0, 16);
    __m128i y = _mm_loadu_si128((const __m128i*)hash);
    i64 done = 0;
    for (; done + 256 <= length; done += 256) {
        __m512i blocks[4], data[4];
        for (int i = 0; i < 4; i++) {
            blocks[i] = _mm512_xor_si512(reverseLanes(next[i]), keys[0]);
            next[i] = _mm512_add_epi32(next[i], step);
            data[i] = _mm512_loadu_si512((const void*)(input + done + 64 * i));
        }
        for (int r = 1; r < rounds; r++)
            for (int i = 0; i < 4; i++) blocks[i] = _mm512_aesenc_epi128(blocks[i], keys[r]);
        __m512i hashed[4];
        for (int i = 0; i < 4; i++) {
            __m512i result = _mm512_xor_si512(_mm512_aesenclast_epi128(blocks[i], keys[rounds]), data[i]);
            _mm512_storeu_si512((void*)(output + done + 64 * i), result);
            hashed[i] = reverseLanes(decrypt ? data[i] : result);
        }
        WideSums sums{_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512()};
        multiplyLanes(_mm512_xor_si512(hashed[0], _mm512_zextsi128_si512(y)), h[0], &sums);
        for (int i = 1; i < 4; i++) multiplyLanes(hashed[i], h[i], &sums);
        y = foldAndReduce(&sums);
    }
    _mm_storeu_si128((__m128i*)hash, y);
    *counter += (u32)(done / 16);
    return done;
}
