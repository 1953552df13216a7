// The baseline JPEG decoder's inverse DCT and colour conversion: the portable versions, the SSE2
// ones, and the choice between them and the AVX2 transform.
#include "Decoders/JpegTransform.h"

#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#define ORVIK_JPEG_X86 1
#include <emmintrin.h>
#endif

namespace {

#if ORVIK_JPEG_X86
#include "Decoders/JpegTransformKernel.h"
#endif

// The inverse DCT in 64-bit integers (the Loeffler-Ligtenberg-Moschytz factorisation): columns
// into a workspace, then rows into samples with the level shift and clamping. The constants carry
// 24 fractional bits and 8 are kept between the passes, so the samples round as an exact transform
// would. Columns and rows whose AC terms are all zero take the DC shortcut, which gives the same
// values.
constexpr i32 kConstBits = 24;
constexpr i32 kPass1Bits = 8;
constexpr i64 fixed(f64 x) { return (i64)(x * (f64)(1 << kConstBits) + 0.5); }
constexpr i64 kFix0298631336 = fixed(0.298631336), kFix0390180644 = fixed(0.390180644),
              kFix0541196100 = fixed(0.541196100), kFix0765366865 = fixed(0.765366865),
              kFix0899976223 = fixed(0.899976223), kFix1175875602 = fixed(1.175875602),
              kFix1501321110 = fixed(1.501321110), kFix1847759065 = fixed(1.847759065),
              kFix1961570560 = fixed(1.961570560), kFix2053119869 = fixed(2.053119869),
              kFix2562915447 = fixed(2.562915447), kFix3072711026 = fixed(3.072711026);

inline i64 descale(i64 x, i32 n) { return (x + ((i64)1 << (n - 1))) >> n; }

inline u8 clampSample(i64 v) { return (u8)(v < 0 ? 0 : v > 255 ? 255 : v); }

// One 8-point pass: the even and odd halves, outputs before the shift.
struct IdctOutputs {
    i64 v[8];
};

inline IdctOutputs idct8(i64 i0, i64 i1, i64 i2, i64 i3, i64 i4, i64 i5, i64 i6, i64 i7) {
    i64 z1 = (i2 + i6) * kFix0541196100;
    i64 tmp2 = z1 - i6 * kFix1847759065;
    i64 tmp3 = z1 + i2 * kFix0765366865;
    i64 tmp0 = (i0 + i4) * ((i64)1 << kConstBits);
    i64 tmp1 = (i0 - i4) * ((i64)1 << kConstBits);
    i64 tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3, tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;
    i64 o0 = i7, o1 = i5, o2 = i3, o3 = i1;
    z1 = o0 + o3;
    i64 z2 = o1 + o2, z3 = o0 + o2, z4 = o1 + o3;
    i64 z5 = (z3 + z4) * kFix1175875602;
    o0 *= kFix0298631336;
    o1 *= kFix2053119869;
    o2 *= kFix3072711026;
    o3 *= kFix1501321110;
    z1 *= -kFix0899976223;
    z2 *= -kFix2562915447;
    z3 = z3 * -kFix1961570560 + z5;
    z4 = z4 * -kFix0390180644 + z5;
    o0 += z1 + z3;
    o1 += z2 + z4;
    o2 += z2 + z3;
    o3 += z1 + z4;
    return {{tmp10 + o3, tmp11 + o2, tmp12 + o1, tmp13 + o0, tmp13 - o0, tmp12 - o1, tmp11 - o2, tmp10 - o3}};
}

#if ORVIK_JPEG_X86

// Two doubles for the transform kernel.
struct Double2 {
    __m128d v;
    static Double2 broadcast(f64 x) { return {_mm_set1_pd(x)}; }
};
inline Double2 operator+(const Double2& a, const Double2& b) { return {_mm_add_pd(a.v, b.v)}; }
inline Double2 operator-(const Double2& a, const Double2& b) { return {_mm_sub_pd(a.v, b.v)}; }
inline Double2 operator*(const Double2& a, const Double2& b) { return {_mm_mul_pd(a.v, b.v)}; }
inline Double2 mulAdd(const Double2& a, const Double2& b, const Double2& c) { return a * b + c; }
inline Double2 mulSub(const Double2& a, const Double2& b, const Double2& c) { return c - a * b; }

// Rows 4 to 7 of columns 0-3, columns 4-7, and rows 4 to 7 of columns 4-7 in a present mask.
constexpr u64 kLowColumnsHighRows = 0x0F0F0F0F00000000ull;
constexpr u64 kHighColumns = 0xF0F0F0F0F0F0F0F0ull;
constexpr u64 kHighColumnsHighRows = 0xF0F0F0F000000000ull;

#endif

}  // namespace

void inverseDctPortable(u8* samples, i64 stride, const i32* coefficients) {
    i64 work[64];
    for (i32 x = 0; x < 8; x++) {
        const i32* c = coefficients + x;
        if ((c[8] | c[16] | c[24] | c[32] | c[40] | c[48] | c[56]) == 0) {
            i64 dc = (i64)c[0] * ((i64)1 << kPass1Bits);
            for (i32 y = 0; y < 8; y++) work[8 * y + x] = dc;
            continue;
        }
        IdctOutputs o = idct8(c[0], c[8], c[16], c[24], c[32], c[40], c[48], c[56]);
        for (i32 y = 0; y < 8; y++) work[8 * y + x] = descale(o.v[y], kConstBits - kPass1Bits);
    }
    constexpr i32 kRowShift = kConstBits + kPass1Bits + 3;
    for (i32 y = 0; y < 8; y++) {
        const i64* w = work + 8 * y;
        u8* out = samples + y * stride;
        if ((w[1] | w[2] | w[3] | w[4] | w[5] | w[6] | w[7]) == 0) {
            u8 value = clampSample(descale(w[0], kPass1Bits + 3) + 128);
            for (i32 x = 0; x < 8; x++) out[x] = value;
            continue;
        }
        IdctOutputs o = idct8(w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
        for (i32 x = 0; x < 8; x++) out[x] = clampSample(descale(o.v[x], kRowShift) + 128);
    }
}

u8 dcOnlySample(i32 dc) { return clampSample(descale((i64)dc * ((i64)1 << kPass1Bits), kPass1Bits + 3) + 128); }

#if ORVIK_JPEG_X86

// Columns two at a time, then rows two at a time after a transpose of 2 x 2 tiles. The second
// pass's result floor(s / 2^35 + 1/2) + 128 is exact as a double below 2^17 and truncates to the
// same integer wherever it is not negative; negative values clamp to 0 either way.
void inverseDctSse2(u8* samples, i64 stride, const i32* coefficients, u64 present) {
    Double2 work[8][4];
    bool highColumns = (present & kHighColumns) != 0;
    for (i32 j = 0; j < 4; j++) {
        if (j >= 2 && !highColumns) {
            for (i32 y = 0; y < 8; y++) work[y][j].v = _mm_setzero_pd();
            continue;
        }
        Double2 in[8];
        bool highRows = (present & (j < 2 ? kLowColumnsHighRows : kHighColumnsHighRows)) != 0;
        for (i32 u = 0; u < (highRows ? 8 : 4); u++) {
            in[u].v = _mm_cvtepi32_pd(_mm_loadl_epi64((const __m128i*)(coefficients + 8 * u + 2 * j)));
        }
        Double2 out[8];
        if (highRows) idct8Pass(out, in[0], in[1], in[2], in[3], in[4], in[5], in[6], in[7]);
        else idct8PassLow(out, in[0], in[1], in[2], in[3]);
        for (i32 y = 0; y < 8; y++) work[y][j] = descaleFirstPass(out[y]);
    }
    const __m128d scale = _mm_set1_pd(1.0 / 34359738368.0), offset = _mm_set1_pd(128.5);
    for (i32 y = 0; y < 8; y += 2) {
        Double2 in[8];
        for (i32 j = 0; j < 4; j++) {
            in[2 * j].v = _mm_unpacklo_pd(work[y][j].v, work[y + 1][j].v);
            in[2 * j + 1].v = _mm_unpackhi_pd(work[y][j].v, work[y + 1][j].v);
        }
        Double2 out[8];
        if (highColumns) idct8Pass(out, in[0], in[1], in[2], in[3], in[4], in[5], in[6], in[7]);
        else idct8PassLow(out, in[0], in[1], in[2], in[3]);
        __m128i c[8];
        for (i32 x = 0; x < 8; x++) c[x] = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(out[x].v, scale), offset));
        __m128i a01 = _mm_unpacklo_epi32(c[0], c[1]), a23 = _mm_unpacklo_epi32(c[2], c[3]);
        __m128i a45 = _mm_unpacklo_epi32(c[4], c[5]), a67 = _mm_unpacklo_epi32(c[6], c[7]);
        __m128i first = _mm_packs_epi32(_mm_unpacklo_epi64(a01, a23), _mm_unpacklo_epi64(a45, a67));
        __m128i second = _mm_packs_epi32(_mm_unpackhi_epi64(a01, a23), _mm_unpackhi_epi64(a45, a67));
        __m128i bytes = _mm_packus_epi16(first, second);
        _mm_storel_epi64((__m128i*)(samples + y * stride), bytes);
        _mm_storel_epi64((__m128i*)(samples + (y + 1) * stride), _mm_srli_si128(bytes, 8));
    }
}

namespace {

#include "Decoders/JpegColourKernel.h"

// Writes the first pixels (16 or 8) as RGBA, or as RGB: four RGB0 pixels become twelve bytes
// (within each 64-bit half the second pixel moves down one byte, then the upper half moves down
// two), and three twelve-byte groups fill each store.
inline void storePixelsSse2(u8* o, const Rgb16& rgb, u32 channels, i32 pixels) {
    __m128i quads[4];
    interleaveRgba(quads, rgb);
    if (channels == 4) {
        for (i32 i = 0; i < pixels / 4; i++) _mm_storeu_si128((__m128i*)(o + 16 * i), quads[i]);
        return;
    }
    const __m128i low3 = _mm_set1_epi64x(0xFFFFFF), high3 = _mm_set1_epi64x(0xFFFFFF000000ll);
    const __m128i low6 = _mm_set_epi32(0, 0, 0xFFFF, (i32)0xFFFFFFFF);
    const __m128i middle6 = _mm_set_epi32(0, -1, (i32)0xFFFF0000, 0);
    __m128i packed[4];
    for (i32 i = 0; i < 4; i++) {
        __m128i q = _mm_or_si128(_mm_and_si128(quads[i], low3), _mm_and_si128(_mm_srli_epi64(quads[i], 8), high3));
        packed[i] = _mm_or_si128(_mm_and_si128(q, low6), _mm_and_si128(_mm_srli_si128(q, 2), middle6));
    }
    __m128i first = _mm_or_si128(packed[0], _mm_slli_si128(packed[1], 12));
    __m128i second = _mm_or_si128(_mm_srli_si128(packed[1], 4), _mm_slli_si128(packed[2], 8));
    _mm_storeu_si128((__m128i*)o, first);
    if (pixels == 8) {
        _mm_storel_epi64((__m128i*)(o + 16), second);
        return;
    }
    _mm_storeu_si128((__m128i*)(o + 16), second);
    _mm_storeu_si128((__m128i*)(o + 32), _mm_or_si128(_mm_srli_si128(packed[2], 8), _mm_slli_si128(packed[3], 4)));
}

}  // namespace

void convertYCbCrRowsSse2(u8* out, i64 outStride, u32 channels, const YCbCrRows* in) {
    convertRowsVector(out, outStride, channels, in,
                      [channels](u8* o, const Rgb16& rgb, i32 pixels) { storePixelsSse2(o, rgb, channels, pixels); });
}

#else

void inverseDctSse2(u8* samples, i64 stride, const i32* coefficients, u64) {
    inverseDctPortable(samples, stride, coefficients);
}

void convertYCbCrRowsSse2(u8* out, i64 outStride, u32 channels, const YCbCrRows* in) {
    convertYCbCrRowsPortable(out, outStride, channels, in);
}

#endif

void convertYCbCrRowsPortable(u8* out, i64 outStride, u32 channels, const YCbCrRows* in) {
    for (i64 row = 0; row < in->rows; row++) {
        i64 chromaRow = in->halfHeight ? row >> 1 : row;
        const u8* y = in->luma + row * in->lumaStride;
        const u8* cb = in->cb + chromaRow * in->chromaStride;
        const u8* cr = in->cr + chromaRow * in->chromaStride;
        u8* p = out + row * outStride;
        for (i64 x = 0; x < in->count; x++, p += channels) {
            i64 c = in->halfWidth ? x >> 1 : x;
            convertPixel(p, y[x], cb[c], cr[c]);
            if (channels == 4) p[3] = 255;
        }
    }
}

JpegTransformPath bestJpegTransformPath() {
#if ORVIK_JPEG_X86
    static const JpegTransformPath best =
        __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? JpegTransformAvx2 : JpegTransformSse2;
    return best;
#else
    return JpegTransformPortable;
#endif
}

void inverseDct(JpegTransformPath path, u8* samples, i64 stride, const i32* coefficients, u32 magnitude,
                u64 present) {
    if (magnitude >= kJpegVectorMagnitudeLimit || path == JpegTransformPortable) {
        inverseDctPortable(samples, stride, coefficients);
    } else if (path == JpegTransformAvx2) {
        inverseDctAvx2(samples, stride, coefficients, present);
    } else {
        inverseDctSse2(samples, stride, coefficients, present);
    }
}

void convertYCbCrRows(JpegTransformPath path, u8* out, i64 outStride, u32 channels, const YCbCrRows* in) {
    if (path == JpegTransformPortable) convertYCbCrRowsPortable(out, outStride, channels, in);
    else if (path == JpegTransformAvx2) convertYCbCrRowsAvx2(out, outStride, channels, in);
    else convertYCbCrRowsSse2(out, outStride, channels, in);
}
