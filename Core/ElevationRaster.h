// Elevation rasters: the record that the raster readers fill and terrain look-ups read, its
// georeference (a longitude/latitude grid or an Albers equal-area conic projection), the choice of
// the part of a file image to keep within a byte budget, and the raster's height range.
#pragma once
#include "Core/FixedString.h"
#include "Core/GeometryTypes.h"

constexpr u32 kRasterSamplesI16 = 37316;  // 16-bit signed samples
constexpr u32 kRasterSamplesF32 = 37332;  // 32-bit float samples

constexpr u32 kGeoreferenceLonLatGrid = 0;
constexpr u32 kGeoreferenceAlbers = 1;

// x' = a·x + b·y + c, y' = d·x + e·y + f.
struct RasterAffine {
    f64 a, b, c;
    f64 d, e, f;
};

struct RasterGeoreference {
    u32 kind;
    // Kind 0: a linear longitude/latitude grid.
    f64 west;   // longitude of the first column
    f64 east;   // longitude of the last column
    f64 south;  // latitude of the last row
    f64 north;  // latitude of the first row
    f64 lastColumn;
    f64 lastRow;
    // Kind 1: Albers equal-area conic after an affine map from sample position {column, row} to
    // projected metres (east, north), after Snyder's ellipsoidal formulas.
    RasterAffine pixelToProjected;
    f64 originLongitude;  // degrees, in (-180, 180]
    f64 semiMajorAxis;    // metres
    f64 eccentricity;
    f64 n;
    f64 c;
    f64 rho0;
    f64 qPole;
};

struct ElevationRaster {
    u32 width;
    u32 height;
    u32 rowStride;
    i32 noData;
    f32 minimum;
    f32 maximum;
    u32 sampleFormat;
    FixedString error;
    RasterGeoreference georeference;
    u8* samples;
    i64 allocationSize;
};

struct RasterWindow {
    i32 firstRow;
    i32 endRow;
    i32 firstColumn;
    i32 endColumn;
    i32 step;
    u32 width;
    u32 height;
    u32 rowStride;
    RasterGeoreference georeference;
};

// Chooses the part of a width × height file image to keep: the whole image with step 1 when it fits
// the budget, else the pixel box covering the area of interest {west, east, south, north} (degrees,
// null for the whole image), subsampled until it fits. At least one sample is always kept.
RasterWindow* setupElevationRasterGeoreference(RasterWindow* out, const RasterGeoreference* whole, u32 width,
                                               u32 height, u32 bytesPerSample, u32 rowAlignment, i64 byteBudget,
                                               const f64* areaOfInterest);

RasterGeoreference* albersConicParameters(RasterGeoreference* out, f64 semiMajorAxis, f64 semiMinorAxis,
                                          GeoPoint origin, f64 standardParallel1, f64 standardParallel2,
                                          const RasterAffine* pixelToProjected);

// Scans height rows of width samples (rows padded to the alignment) for the least and greatest
// sample that is not no-data.
void computeElevationImageMinMax(ElevationRaster* raster, const u8* samples, u32 rowAlignment);

// Albers projection of a georeference of kind 1, in metres without false easting and northing.
void albersForward(const RasterGeoreference* georeference, GeoPoint point, f64* x, f64* y);
GeoPoint albersInverse(const RasterGeoreference* georeference, f64 x, f64 y);

// Sample position {column, row} (0 at the centre of the first sample) to longitude/latitude and back.
GeoPoint rasterPixelToLonLat(const RasterGeoreference* georeference, f64 column, f64 row);
// Returns 0 when the georeference cannot be inverted.
i32 rasterLonLatToPixel(const RasterGeoreference* georeference, GeoPoint point, f64* column, f64* row);

// The sample block of a raster: zero-filled, released by the raster's owner.
u8* allocateRasterBlock(i64 size);
void releaseElevationRaster(ElevationRaster* raster);
