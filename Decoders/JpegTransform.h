// The baseline JPEG decoder's sample stages: the inverse DCT of one block and the YCbCr to RGB(A)
// conversion of one row. Every variant gives the same bytes as the portable one; the vector ones are
// chosen at run time where the processor has them.
#pragma once
#include "Core/Types.h"

// Dequantised coefficients at or beyond this magnitude take the portable transform: below it, the
// vector transforms' arithmetic in doubles is exact.
constexpr u32 kJpegVectorMagnitudeLimit = 1u << 14;

enum JpegTransformPath : u32 {
    JpegTransformPortable = 0,
    JpegTransformSse2 = 1,
    JpegTransformAvx2 = 2,
};

// The fastest path this processor runs.
JpegTransformPath bestJpegTransformPath();

// Inverse DCT of 64 dequantised coefficients in natural order, each within +-65536, into 8 rows of 8
// samples, stride bytes apart. Bit n of present is set where coefficient n may not be zero (the
// vector paths skip the terms of clear bits). The vector paths need every coefficient's magnitude
// below kJpegVectorMagnitudeLimit; inverseDct takes the portable path for others.
void inverseDctPortable(u8* samples, i64 stride, const i32* coefficients);
void inverseDctSse2(u8* samples, i64 stride, const i32* coefficients, u64 present);
void inverseDctAvx2(u8* samples, i64 stride, const i32* coefficients, u64 present);
void inverseDct(JpegTransformPath path, u8* samples, i64 stride, const i32* coefficients, u32 magnitude,
                u64 present);

// The block whose only coefficient is the dequantised DC term dc: its one sample value.
u8 dcOnlySample(i32 dc);

// rows rows of count pixels from luma rows lumaStride bytes apart and chroma rows chromaStride apart,
// as RGB (channels 3) or RGBA with opaque alpha (4) into rows outStride apart. With halfWidth,
// pixel x takes chroma sample x / 2; with halfHeight, row y takes chroma row y / 2.
struct YCbCrRows {
    const u8* luma;
    const u8* cb;
    const u8* cr;
    i64 lumaStride;
    i64 chromaStride;
    i64 count;
    i64 rows;
    bool halfWidth;
    bool halfHeight;
};
void convertYCbCrRowsPortable(u8* out, i64 outStride, u32 channels, const YCbCrRows* in);
void convertYCbCrRowsSse2(u8* out, i64 outStride, u32 channels, const YCbCrRows* in);
void convertYCbCrRowsAvx2(u8* out, i64 outStride, u32 channels, const YCbCrRows* in);
void convertYCbCrRows(JpegTransformPath path, u8* out, i64 outStride, u32 channels, const YCbCrRows* in);

// YCbCr to RGB of one pixel in 20-bit fixed point.
inline void convertPixel(u8* p, i32 y, i32 cb, i32 cr) {
    i32 luma = y * (1 << 20) + (1 << 19);
    cb -= 128;
    cr -= 128;
    i32 r = (luma + cr * 1470208) >> 20;
    i32 g = (luma + (((-cb) * 360960) & ~0xFFFF) + (-cr) * 748800) >> 20;
    i32 b = (luma + cb * 1858048) >> 20;
    p[0] = (u8)(r < 0 ? 0 : r > 255 ? 255 : r);
    p[1] = (u8)(g < 0 ? 0 : g > 255 ? 255 : g);
    p[2] = (u8)(b < 0 ? 0 : b > 255 ? 255 : b);
}
