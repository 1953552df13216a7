// The BIL reader: band-interleaved elevation grids described by an ESRI ".hdr" text, and SRTM ".hgt"
// tiles, which are the same kind of grid with the header implied by the tile's name and size. Both
// give rasters of kind 0 (a longitude/latitude grid) with 16-bit signed samples (37316), or 32-bit
// float samples (37332) for a floating-point BIL. Plain functions over bytes in memory; failures are
// returned as message texts.
#pragma once
#include "Core/ElevationRaster.h"

// What a ".hdr" says about its ".bil".
struct BilHeader {
    i64 rows;  // NROWS
    i64 columns;  // NCOLS
    f64 upperLeftLongitude;  // ULXMAP: the centre of the upper-left sample
    f64 upperLeftLatitude;  // ULYMAP
    f64 columnSpacing;  // XDIM, degrees
    f64 rowSpacing;  // YDIM, degrees
    i64 skipBytes;  // SKIPBYTES before the first row
    i64 rowBytes;  // BANDROWBYTES; 0: columns x bytes per sample
    u32 bigEndian;  // BYTEORDER M (else I)
    u32 bitsPerSample;  // NBITS: 16 (signed integers) or 32 (floats)
    u32 floatSamples;  // PIXELTYPE FLOAT
    i32 noData;  // NODATA; -32768 when none
};

// SRTM tiles: one degree square, named by their south-west corner, 3601 or 1201 samples a side.
constexpr i64 kSrtm1Samples = 3601;
constexpr i64 kSrtm3Samples = 1201;
constexpr i64 kSrtm1Bytes = kSrtm1Samples * kSrtm1Samples * 2;
constexpr i64 kSrtm3Bytes = kSrtm3Samples * kSrtm3Samples * 2;
constexpr i32 kSrtmVoid = -32768;

// Reads the keywords of a ".hdr" text (case-insensitive, one per line; others ignored). Fails on a
// missing or impossible size, spacing or sample type; empty on success.
FixedString parseBilHeader(BilHeader* out, const u8* text, i64 length);

// The samples of one band as the header describes them, cropped and subsampled as
// setupElevationRasterGeoreference decides within the budget (areaOfInterest may be null). The
// sample block is the caller's (releaseElevationRaster), also on failure.
ElevationRaster* readBilRaster(ElevationRaster* out, const u8* bytes, i64 length, const BilHeader* header,
                               i64 sampleByteBudget, u32 rowAlignment, const f64* areaOfInterest);

// "N47E008.hgt" for the tile whose south-west corner is 47° N 8° E; the longitude is brought into
// [-180, 180) first.
FixedString srtmTileName(i32 southLatitude, i32 westLongitude);
// The corner of a tile name as srtmTileName writes it (either letter case); 0 when it is not one.
i32 parseSrtmTileName(FixedString name, i32* southLatitude, i32* westLongitude);

// Reads a ".hgt" tile: its size must be that of SRTM1 or SRTM3, and every sample other than the
// void must be an earthly height (-1000 to 9000 m), else the tile is refused as corrupt.
ElevationRaster* readSrtmTile(ElevationRaster* out, const u8* bytes, i64 length, i32 southLatitude,
                              i32 westLongitude, i64 sampleByteBudget, u32 rowAlignment, const f64* areaOfInterest);

// The height at a point from one raster: bilinear over the four samples around it, all of which
// must be valid (neither no-data nor NaN). Returns 0 when the raster does not cover the point so.
i32 sampleElevationRaster(const ElevationRaster* raster, GeoPoint point, f64* height);
