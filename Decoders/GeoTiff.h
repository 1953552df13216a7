// GeoTIFF and BigTIFF elevation rasters: one band of 32-bit float heights in strips or tiles,
// uncompressed or LZW, on a longitude/latitude grid or an Albers equal-area conic projection.
#pragma once
#include "Core/ElevationRaster.h"

// Reads the raster of `bytes` into `out` (zero-filled first), keeping at most `sampleByteBudget`
// bytes of samples, rows padded to `rowAlignment`, cropped to `areaOfInterest` {west, east, south,
// north} when the whole image does not fit. `progress` (may be null) holds a percentage. Success
// leaves `out->error` empty. Any sample block taken is recorded in `out` and belongs to the caller
// (releaseElevationRaster), also on failure.
ElevationRaster* parseGeoTiff(ElevationRaster* out, const u8* bytes, i64 length, i64 sampleByteBudget,
                              u32 rowAlignment, const f64* areaOfInterest, u8* progress);
