// The inverse DCT four columns and then four rows at a time in AVX2 doubles with fused
// multiply-adds, and the colour conversion with byte shuffles interleaving RGB. This file alone is compiled for AVX2 and FMA; bestJpegTransformPath() calls it only
// on processors that have both.
#include "Decoders/JpegTransform.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>

#include <cstring>

namespace {

#include "Decoders/JpegColourKernel.h"
#include "Decoders/JpegTransformKernel.h"

struct Double4 {
    __m256d v;
    static Double4 broadcast(f64 x) { return {_mm256_set1_pd(x)}; }
};
inline Double4 operator+(const Double4& a, const Double4& b) { return {_mm256_add_pd(a.v, b.v)}; }
inline Double4 operator-(const Double4& a, const Double4& b) { return {_mm256_sub_pd(a.v, b.v)}; }
inline Double4 operator*(const Double4& a, const Double4& b) { return {_mm256_mul_pd(a.v, b.v)}; }
inline Double4 mulAdd(const Double4& a, const Double4& b, const Double4& c) { return {_mm256_fmadd_pd(a.v, b.v, c.v)}; }
inline Double4 mulSub(const Double4& a, const Double4& b, const Double4& c) { return {_mm256_fnmadd_pd(a.v, b.v, c.v)}; }

constexpr u64 kLowColumnsHighRows = 0x0F0F0F0F00000000ull;
constexpr u64 kHighColumns = 0xF0F0F0F0F0F0F0F0ull;
constexpr u64 kHighColumnsHighRows = 0xF0F0F0F000000000ull;

// Rows r[0..3] of a 4 x 4 tile into its columns.
inline void transpose4(Double4* c, const Double4* r) {
    __m256d t0 = _mm256_unpacklo_pd(r[0].v, r[1].v), t1 = _mm256_unpackhi_pd(r[0].v, r[1].v);
    __m256d t2 = _mm256_unpacklo_pd(r[2].v, r[3].v), t3 = _mm256_unpackhi_pd(r[2].v, r[3].v);
    c[0].v = _mm256_permute2f128_pd(t0, t2, 0x20);
    c[1].v = _mm256_permute2f128_pd(t1, t3, 0x20);
    c[2].v = _mm256_permute2f128_pd(t0, t2, 0x31);
    c[3].v = _mm256_permute2f128_pd(t1, t3, 0x31);
}

// Byte n of the three stores of sixteen RGB pixels takes channel n % 3 of pixel n / 3.
struct RgbShuffles {
    alignas(16) u8 mask[3][3][16];  // [store][channel]
    constexpr RgbShuffles() : mask{} {
        for (i32 o = 0; o < 3; o++) {
            for (i32 c = 0; c < 3; c++) {
                for (i32 i = 0; i < 16; i++) {
                    i32 n = 16 * o + i;
                    mask[o][c][i] = n % 3 == c ? (u8)(n / 3) : 0x80;
                }
            }
        }
    }
};
constexpr RgbShuffles kRgbShuffles{};

inline void storePixelsSsse3(u8* o, const Rgb16& rgb, u32 channels, i32 pixels) {
    if (channels == 4) {
        __m128i quads[4];
        interleaveRgba(quads, rgb);
        for (i32 i = 0; i < pixels / 4; i++) _mm_storeu_si128((__m128i*)(o + 16 * i), quads[i]);
        return;
    }
    __m128i out[3];
    for (i32 s = 0; s < 3; s++) {
        const __m128i* m = (const __m128i*)kRgbShuffles.mask[s];
        out[s] = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(rgb.r, _mm_load_si128(m)),
                                           _mm_shuffle_epi8(rgb.g, _mm_load_si128(m + 1))),
                              _mm_shuffle_epi8(rgb.b, _mm_load_si128(m + 2)));
    }
    _mm_storeu_si128((__m128i*)o, out[0]);
    if (pixels == 8) {
        _mm_storel_epi64((__m128i*)(o + 16), out[1]);
        return;
    }
    _mm_storeu_si128((__m128i*)(o + 16), out[1]);
    _mm_storeu_si128((__m128i*)(o + 32), out[2]);
}

}  // namespace

void convertYCbCrRowsAvx2(u8* out, i64 outStride, u32 channels, const YCbCrRows* in) {
    convertRowsVector(out, outStride, channels, in,
                      [channels](u8* o, const Rgb16& rgb, i32 pixels) { storePixelsSsse3(o, rgb, channels, pixels); });
}

// As inverseDctSse2, with four lanes.
void inverseDctAvx2(u8* samples, i64 stride, const i32* coefficients, u64 present) {
    Double4 work[8][2];
    bool highColumns = (present & kHighColumns) != 0;
    for (i32 j = 0; j < 2; j++) {
        if (j == 1 && !highColumns) {
            for (i32 y = 0; y < 8; y++) work[y][1].v = _mm256_setzero_pd();
            continue;
        }
        Double4 in[8];
        bool highRows = (present & (j == 0 ? kLowColumnsHighRows : kHighColumnsHighRows)) != 0;
        for (i32 u = 0; u < (highRows ? 8 : 4); u++) {
            in[u].v = _mm256_cvtepi32_pd(_mm_loadu_si128((const __m128i*)(coefficients + 8 * u + 4 * j)));
        }
        Double4 out[8];
        if (highRows) idct8Pass(out, in[0], in[1], in[2], in[3], in[4], in[5], in[6], in[7]);
        else idct8PassLow(out, in[0], in[1], in[2], in[3]);
        for (i32 y = 0; y < 8; y++) work[y][j] = descaleFirstPass(out[y]);
    }
    const __m256d scale = _mm256_set1_pd(1.0 / 34359738368.0), offset = _mm256_set1_pd(128.5);
    for (i32 y = 0; y < 8; y += 4) {
        Double4 in[8];
        for (i32 j = 0; j < 2; j++) {
            Double4 rows[4] = {work[y][j], work[y + 1][j], work[y + 2][j], work[y + 3][j]};
            transpose4(in + 4 * j, rows);
        }
        Double4 out[8];
        if (highColumns) idct8Pass(out, in[0], in[1], in[2], in[3], in[4], in[5], in[6], in[7]);
        else idct8PassLow(out, in[0], in[1], in[2], in[3]);
        // c[x] holds column x of rows y .. y + 3.
        __m128i c[8];
        for (i32 x = 0; x < 8; x++) c[x] = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(out[x].v, scale), offset));
        __m128i rowsOf[2][4];  // [columns 0-3 or 4-7][row]
        for (i32 h = 0; h < 2; h++) {
            const __m128i* q = c + 4 * h;
            __m128i t0 = _mm_unpacklo_epi32(q[0], q[1]), t1 = _mm_unpackhi_epi32(q[0], q[1]);
            __m128i t2 = _mm_unpacklo_epi32(q[2], q[3]), t3 = _mm_unpackhi_epi32(q[2], q[3]);
            rowsOf[h][0] = _mm_unpacklo_epi64(t0, t2);
            rowsOf[h][1] = _mm_unpackhi_epi64(t0, t2);
            rowsOf[h][2] = _mm_unpacklo_epi64(t1, t3);
            rowsOf[h][3] = _mm_unpackhi_epi64(t1, t3);
        }
        __m128i first = _mm_packus_epi16(_mm_packs_epi32(rowsOf[0][0], rowsOf[1][0]),
                                         _mm_packs_epi32(rowsOf[0][1], rowsOf[1][1]));
        __m128i second = _mm_packus_epi16(_mm_packs_epi32(rowsOf[0][2], rowsOf[1][2]),
                                          _mm_packs_epi32(rowsOf[0][3], rowsOf[1][3]));
        _mm_storel_epi64((__m128i*)(samples + y * stride), first);
        _mm_storel_epi64((__m128i*)(samples + (y + 1) * stride), _mm_srli_si128(first, 8));
        _mm_storel_epi64((__m128i*)(samples + (y + 2) * stride), second);
        _mm_storel_epi64((__m128i*)(samples + (y + 3) * stride), _mm_srli_si128(second, 8));
    }
}

#else

void inverseDctAvx2(u8* samples, i64 stride, const i32* coefficients, u64) {
    inverseDctPortable(samples, stride, coefficients);
}

void convertYCbCrRowsAvx2(u8* out, i64 outStride, u32 channels, const YCbCrRows* in) {
    convertYCbCrRowsPortable(out, outStride, channels, in);
}

#endif
