// The reduction that GHASH's 128-bit and 512-bit paths share (AesHardware.cpp, AesGcmWide.cpp): a
// 256-bit carry-less product of byte-reversed blocks back to one field element. Inside the crypto
// code only; callers are compiled for these instructions or more.
#pragma once
#include <immintrin.h>

#define GHASH_REDUCTION_TARGET __attribute__((target("pclmul,ssse3,sse4.1")))

// The 256-bit product shifted left by one (the bit-reflected order) and reduced modulo
// x^128 + x^7 + x^2 + x + 1.
GHASH_REDUCTION_TARGET inline __m128i ghashReduce(__m128i low, __m128i high) {
    __m128i t7 = _mm_srli_epi32(low, 31), t8 = _mm_srli_epi32(high, 31);
    low = _mm_slli_epi32(low, 1);
    high = _mm_slli_epi32(high, 1);
    __m128i t9 = _mm_srli_si128(t7, 12);
    t8 = _mm_slli_si128(t8, 4);
    t7 = _mm_slli_si128(t7, 4);
    low = _mm_or_si128(low, t7);
    high = _mm_or_si128(_mm_or_si128(high, t8), t9);
    t7 = _mm_xor_si128(_mm_xor_si128(_mm_slli_epi32(low, 31), _mm_slli_epi32(low, 30)), _mm_slli_epi32(low, 25));
    t8 = _mm_srli_si128(t7, 4);
    t7 = _mm_slli_si128(t7, 12);
    low = _mm_xor_si128(low, t7);
    __m128i t2 = _mm_xor_si128(_mm_xor_si128(_mm_srli_epi32(low, 1), _mm_srli_epi32(low, 2)), _mm_srli_epi32(low, 7));
    t2 = _mm_xor_si128(t2, t8);
    low = _mm_xor_si128(low, t2);
    return _mm_xor_si128(high, low);
}

