// The colour conversion's vector steps written once for the SSE2 and AVX2 files, which differ in
// how they interleave the channels into pixels (their Store). Included inside an unnamed namespace
// after <emmintrin.h> or <immintrin.h>.
#pragma once
// (The includer has included Decoders/JpegTransform.h and <cstring>.)

// Each output channel is luma plus an offset that depends on the chroma alone, as the portable
// sums split: (y * 2^20 + 2^19 + t) >> 20 = y + ((2^19 + t) >> 20), and each chroma constant is a
// multiple of 256, so the offsets are pmaddwd sums shifted by 12. Offsets of eight chroma samples
// (bytes), as 16-bit red, green and blue.
inline void chromaOffsets(__m128i* offsets, __m128i cb8, __m128i cr8) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi16(128);
    const __m128i one = _mm_set1_epi16(1);
    const __m128i kRed = _mm_set1_epi32((2048 << 16) | 5743);                             // (cr, 1)
    const __m128i kBlue = _mm_set1_epi32((2048 << 16) | 7258);                            // (cb, 1)
    const __m128i kGreenCr = _mm_set1_epi32((2048 << 16) | (i32)(u16)(i16)-2925);         // (cr, 1)
    const __m128i kGreenCb = _mm_set1_epi32((i32)(u16)(i16)-1410);                        // (cb, cr)
    const __m128i greenMask = _mm_set1_epi32(~0xFF);
    __m128i cb = _mm_sub_epi16(_mm_unpacklo_epi8(cb8, zero), bias);
    __m128i cr = _mm_sub_epi16(_mm_unpacklo_epi8(cr8, zero), bias);
    __m128i result[3][2];
    for (i32 half = 0; half < 2; half++) {
        __m128i crOne = half ? _mm_unpackhi_epi16(cr, one) : _mm_unpacklo_epi16(cr, one);
        __m128i cbOne = half ? _mm_unpackhi_epi16(cb, one) : _mm_unpacklo_epi16(cb, one);
        __m128i cbCr = half ? _mm_unpackhi_epi16(cb, cr) : _mm_unpacklo_epi16(cb, cr);
        result[0][half] = _mm_srai_epi32(_mm_madd_epi16(crOne, kRed), 12);
        __m128i green = _mm_and_si128(_mm_madd_epi16(cbCr, kGreenCb), greenMask);
        result[1][half] = _mm_srai_epi32(_mm_add_epi32(green, _mm_madd_epi16(crOne, kGreenCr)), 12);
        result[2][half] = _mm_srai_epi32(_mm_madd_epi16(cbOne, kBlue), 12);
    }
    for (i32 c = 0; c < 3; c++) offsets[c] = _mm_packs_epi32(result[c][0], result[c][1]);
}

// Red, green and blue bytes of sixteen pixels.
struct Rgb16 {
    __m128i r, g, b;
};

// Sixteen pixels from their luma and the offsets of pixels 0-7 (low) and 8-15 (high).
inline Rgb16 convertSixteen(__m128i luma, const __m128i* low, const __m128i* high) {
    const __m128i zero = _mm_setzero_si128();
    __m128i lumaLow = _mm_unpacklo_epi8(luma, zero), lumaHigh = _mm_unpackhi_epi8(luma, zero);
    return {_mm_packus_epi16(_mm_add_epi16(lumaLow, low[0]), _mm_add_epi16(lumaHigh, high[0])),
            _mm_packus_epi16(_mm_add_epi16(lumaLow, low[1]), _mm_add_epi16(lumaHigh, high[1])),
            _mm_packus_epi16(_mm_add_epi16(lumaLow, low[2]), _mm_add_epi16(lumaHigh, high[2]))};
}

// The RGBA pixels of rgb: four registers of four pixels.
inline void interleaveRgba(__m128i* quads, const Rgb16& rgb) {
    const __m128i opaque = _mm_set1_epi8(-1);
    __m128i rgLow = _mm_unpacklo_epi8(rgb.r, rgb.g), rgHigh = _mm_unpackhi_epi8(rgb.r, rgb.g);
    __m128i baLow = _mm_unpacklo_epi8(rgb.b, opaque), baHigh = _mm_unpackhi_epi8(rgb.b, opaque);
    quads[0] = _mm_unpacklo_epi16(rgLow, baLow);
    quads[1] = _mm_unpackhi_epi16(rgLow, baLow);
    quads[2] = _mm_unpacklo_epi16(rgHigh, baHigh);
    quads[3] = _mm_unpackhi_epi16(rgHigh, baHigh);
}

inline __m128i loadFour(const u8* p) {
    i32 v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}

// The offsets of pixels x .. x + 15 (or x .. x + 7 when only eight remain) of a chroma row.
inline void offsetsAt(__m128i* low, __m128i* high, const u8* cb, const u8* cr, i64 x, bool sixteen, bool halfWidth) {
    if (halfWidth) {
        __m128i offsets[3];
        if (sixteen) {
            chromaOffsets(offsets, _mm_loadl_epi64((const __m128i*)(cb + x / 2)),
                          _mm_loadl_epi64((const __m128i*)(cr + x / 2)));
        } else {
            chromaOffsets(offsets, loadFour(cb + x / 2), loadFour(cr + x / 2));
        }
        for (i32 c = 0; c < 3; c++) {
            low[c] = _mm_unpacklo_epi16(offsets[c], offsets[c]);
            high[c] = _mm_unpackhi_epi16(offsets[c], offsets[c]);
        }
        return;
    }
    chromaOffsets(low, _mm_loadl_epi64((const __m128i*)(cb + x)), _mm_loadl_epi64((const __m128i*)(cr + x)));
    if (sixteen) {
        chromaOffsets(high, _mm_loadl_epi64((const __m128i*)(cb + x + 8)), _mm_loadl_epi64((const __m128i*)(cr + x + 8)));
    } else {
        for (i32 c = 0; c < 3; c++) high[c] = low[c];
    }
}

// Chroma row by chroma row: each group of sixteen pixels' offsets serve the one or two luma rows
// that share the chroma row. store(o, rgb, pixels) writes the first pixels (16 or 8) of rgb; the
// last pixels of a row that leave fewer than eight take the portable conversion.
template <class Store>
inline void convertRowsVector(u8* out, i64 outStride, u32 channels, const YCbCrRows* in, Store store) {
    i64 count = in->count;
    i64 vector = count & ~(i64)7;
    i64 step = in->halfHeight ? 2 : 1;
    for (i64 row = 0; row < in->rows; row += step) {
        i64 lumaRows = in->rows - row < step ? in->rows - row : step;
        const u8* cb = in->cb + (row / step) * in->chromaStride;
        const u8* cr = in->cr + (row / step) * in->chromaStride;
        for (i64 x = 0; x < vector; x += 16) {
            bool sixteen = x + 16 <= vector;
            __m128i low[3], high[3];
            offsetsAt(low, high, cb, cr, x, sixteen, in->halfWidth);
            for (i64 r = 0; r < lumaRows; r++) {
                const u8* y = in->luma + (row + r) * in->lumaStride + x;
                __m128i luma = sixteen ? _mm_loadu_si128((const __m128i*)y) : _mm_loadl_epi64((const __m128i*)y);
                store(out + (row + r) * outStride + x * channels, convertSixteen(luma, low, high), sixteen ? 16 : 8);
            }
        }
    }
    if (vector < count) {
        YCbCrRows rest = *in;
        rest.luma += vector;
        rest.cb += in->halfWidth ? vector / 2 : vector;
        rest.cr += in->halfWidth ? vector / 2 : vector;
        rest.count = count - vector;
        convertYCbCrRowsPortable(out + vector * channels, outStride, channels, &rest);
    }
}
