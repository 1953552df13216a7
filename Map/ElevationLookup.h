// The quick terrain look-up: a loaded raster that is a longitude/latitude grid of 16-bit samples,
// west of east and south of north, whose spans are a degree or a whole power of two below it (an
// SRTM tile spans one each way) and whose last column and row are its size less one, has its
// numbers worked out once, so that its sample position takes one multiplication where other
// rasters take a division and a multiplication, with the same result to the bit. Inline, so that a
// caller's loop keeps many look-ups going at once.
#pragma once
#include <cstring>

#include "Core/Types.h"

struct QuickElevationLookup {
    const u8* samples;  // the raster's samples it was made for; null: the raster takes the general path
    f64 west, north;
    f64 columnScale, rowScale;  // (width - 1) / (east - west), (height - 1) / (north - south), exact
    f64 lastColumn, lastRow;  // width - 1, height - 1
    i64 rowStride;
    u64 noDataLanes;  // the no-data value in each 16-bit lane
};

// The bilinear height from the four samples around the point: 1 with the height; 0 when one of the
// four is no data (the raster has no height there); -1 when it is not decided here: the point is off
// the interior of the raster's cells (outside it, on its last column or row, a turn away) or NaN,
// for the general look-up to settle. Every height it gives is the general look-up's to the bit:
// within the interior no longitude wraps (the raster spans at most a degree), rounding keeps the
// order of positions, and the scale is the exact product of the inverse span (a power of two of at
// least 1) and the last column or row, so one multiplication gives what the division and the
// multiplication give.
inline i32 sampleQuickElevation(const QuickElevationLookup* q, f64 longitude, f64 latitude, f64* height) {
    f64 column = (longitude - q->west) * q->columnScale;
    f64 row = (q->north - latitude) * q->rowScale;
    if (__builtin_expect(!(column >= 0.0 && column < q->lastColumn && row >= 0.0 && row < q->lastRow), 0)) return -1;
    i64 i = (i64)column, j = (i64)row;
    f64 fx = column - (f64)i;
    f64 fy = row - (f64)j;
    const u8* top = q->samples + j * q->rowStride + i * 2;
    u32 upper, lower;
    std::memcpy(&upper, top, 4);
    std::memcpy(&lower, top + q->rowStride, 4);
    // Any of the four samples equal to no data: a zero lane after the exclusive or.
    u64 both = ((u64)lower << 32 | upper) ^ q->noDataLanes;
    if (__builtin_expect(((both - 0x0001000100010001ull) & ~both & 0x8000800080008000ull) != 0, 0)) return 0;
    f64 a = (i16)upper, b = (i16)(upper >> 16), c = (i16)lower, d = (i16)(lower >> 16);
    *height = (1.0 - fy) * ((1.0 - fx) * a + fx * b) + fy * ((1.0 - fx) * c + fx * d);
    return 1;
}
