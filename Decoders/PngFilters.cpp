// PNG row unfiltering. Sub, Average and Paeth depend on the pixel to the left, so for 3 and 4 bytes a
// pixel SSE2 takes one whole pixel at a time (its bytes as 16-bit lanes); Up takes 16 bytes at a time.
// Other pixel sizes, and the first row, use per-byte loops unrolled for each size.
#include <emmintrin.h>

#include <cstring>

#include "Decoders/PngInternal.h"

namespace {

// The Paeth predictor without branches: |p - a| = |b - c|, |p - b| = |a - c|, |p - c| = |a + b - 2c|;
// ties prefer a, then b.
inline u8 paeth(i32 a, i32 b, i32 c) {
    i32 pa = b - c;
    i32 pb = a - c;
    i32 pc = pa + pb;
    pa = pa < 0 ? -pa : pa;
    pb = pb < 0 ? -pb : pb;
    pc = pc < 0 ? -pc : pc;
    i32 bc = pb <= pc ? b : c;
    return u8(pa <= pb && pa <= pc ? a : bc);
}

template <i64 Offset>
bool unfilterPlain(u8 type, const u8* src, u8* dst, const u8* prev, i64 count) {
    switch (type) {
    case 0:
        if (dst != src) std::memcpy(dst, src, size_t(count));
        return true;
    case 1:
        for (i64 i = 0; i < Offset && i < count; i++) dst[i] = src[i];
        for (i64 i = Offset; i < count; i++) dst[i] = u8(src[i] + dst[i - Offset]);
        return true;
    case 2:
        if (prev)
            for (i64 i = 0; i < count; i++) dst[i] = u8(src[i] + prev[i]);
        else if (dst != src)
            std::memcpy(dst, src, size_t(count));
        return true;
    case 3:
        if (prev) {
            for (i64 i = 0; i < Offset && i < count; i++) dst[i] = u8(src[i] + (prev[i] >> 1));
            for (i64 i = Offset; i < count; i++) dst[i] = u8(src[i] + ((dst[i - Offset] + prev[i]) >> 1));
        } else {
            for (i64 i = 0; i < Offset && i < count; i++) dst[i] = src[i];
            for (i64 i = Offset; i < count; i++) dst[i] = u8(src[i] + (dst[i - Offset] >> 1));
        }
        return true;
    case 4:
        if (prev) {
            for (i64 i = 0; i < Offset && i < count; i++) dst[i] = u8(src[i] + prev[i]);
            i64 i = Offset;
            for (; i + Offset <= count; i += Offset)
                for (i64 k = 0; k < Offset; k++)
                    dst[i + k] = u8(src[i + k] + paeth(dst[i + k - Offset], prev[i + k], prev[i + k - Offset]));
            for (; i < count; i++) dst[i] = u8(src[i] + paeth(dst[i - Offset], prev[i], prev[i - Offset]));
        } else {
            // With the row above all zero, Paeth always picks the left byte.
            for (i64 i = 0; i < Offset && i < count; i++) dst[i] = src[i];
            for (i64 i = Offset; i < count; i++) dst[i] = u8(src[i] + dst[i - Offset]);
        }
        return true;
    default: return false;
    }
}

// One pixel of Bytes bytes into the low 16-bit lanes, and back. The wide forms read or write 4 bytes
// (for 3-byte pixels, one byte of the next pixel, which is read later or written again).
template <int Bytes>
inline __m128i loadPixel(const u8* p, bool wide) {
    u32 v;
    if (Bytes == 4 || wide) std::memcpy(&v, p, 4);
    else v = u32(p[0]) | (u32(p[1]) << 8) | (u32(p[2]) << 16);
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(i32(v)), _mm_setzero_si128());
}

template <int Bytes>
inline void storePixel(u8* p, __m128i lanes, bool wide) {
    u32 v = u32(_mm_cvtsi128_si32(_mm_packus_epi16(lanes, lanes)));
    if (Bytes == 4 || wide) {
        std::memcpy(p, &v, 4);
    } else {
        p[0] = u8(v);
        p[1] = u8(v >> 8);
        p[2] = u8(v >> 16);
    }
}

inline __m128i absolute16(__m128i x) { return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x)); }

// Runs step(left, above, aboveLeft, filtered) -> unfiltered over every pixel, as 16-bit lanes. Wide
// reads stop before the last pixel; wide writes also need dst apart from src.
template <int Bytes, typename Step>
inline void eachPixel(const u8* src, u8* dst, const u8* prev, i64 pixels, Step step) {
    const bool wideWrites = src != dst;
    __m128i a = _mm_setzero_si128();
    __m128i c = _mm_setzero_si128();
    for (i64 k = 0; k < pixels; k++) {
        const bool wide = k + 1 < pixels;
        __m128i b = loadPixel<Bytes>(prev + k * Bytes, wide);
        a = step(a, b, c, loadPixel<Bytes>(src + k * Bytes, wide));
        storePixel<Bytes>(dst + k * Bytes, a, wide && wideWrites);
        c = b;
    }
}

// Sub, Up, Average and Paeth with the row above, for 3- or 4-byte pixels.
template <int Bytes>
void unfilterPixels(u8 type, const u8* src, u8* dst, const u8* prev, i64 count) {
    const __m128i byteMask = _mm_set1_epi16(0xFF);
    const i64 pixels = count / Bytes;
    switch (type) {
    case 1:
        eachPixel<Bytes>(src, dst, prev, pixels, [&](__m128i a, __m128i, __m128i, __m128i x) {
            return _mm_and_si128(_mm_add_epi16(a, x), byteMask);
        });
        return;
    case 2: {
        i64 i = 0;
        for (; i + 16 <= count; i += 16) {
            __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
            __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_add_epi8(x, b));
        }
        for (; i < count; i++) dst[i] = u8(src[i] + prev[i]);
        return;
    }
    case 3:
        eachPixel<Bytes>(src, dst, prev, pixels, [&](__m128i a, __m128i b, __m128i, __m128i x) {
            return _mm_and_si128(_mm_add_epi16(x, _mm_srli_epi16(_mm_add_epi16(a, b), 1)), byteMask);
        });
        return;
    default:
        eachPixel<Bytes>(src, dst, prev, pixels, [&](__m128i a, __m128i b, __m128i c, __m128i x) {
            __m128i pa = _mm_sub_epi16(b, c);
            __m128i pb = _mm_sub_epi16(a, c);
            __m128i pc = absolute16(_mm_add_epi16(pa, pb));
            pa = absolute16(pa);
            pb = absolute16(pb);
            __m128i smallest = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
            __m128i useB = _mm_cmpeq_epi16(pb, smallest);
            __m128i nearest = _mm_or_si128(_mm_and_si128(useB, b), _mm_andnot_si128(useB, c));
            __m128i useA = _mm_cmpeq_epi16(pa, smallest);
            nearest = _mm_or_si128(_mm_and_si128(useA, a), _mm_andnot_si128(useA, nearest));
            return _mm_and_si128(_mm_add_epi16(x, nearest), byteMask);
        });
        return;
    }
}

}  // namespace

bool unfilterPngRow(u8 type, const u8* src, u8* dst, const u8* prev, i64 count, i64 offset, bool portableCode) {
    if (!portableCode && prev && type >= 1 && type <= 4 && count % offset == 0) {
        if (offset == 3) {
            unfilterPixels<3>(type, src, dst, prev, count);
            return true;
        }
        if (offset == 4) {
            unfilterPixels<4>(type, src, dst, prev, count);
            return true;
        }
    }
    switch (offset) {
    case 1: return unfilterPlain<1>(type, src, dst, prev, count);
    case 2: return unfilterPlain<2>(type, src, dst, prev, count);
    case 3: return unfilterPlain<3>(type, src, dst, prev, count);
    case 4: return unfilterPlain<4>(type, src, dst, prev, count);
    case 6: return unfilterPlain<6>(type, src, dst, prev, count);
    default: return unfilterPlain<8>(type, src, dst, prev, count);
    }
}
