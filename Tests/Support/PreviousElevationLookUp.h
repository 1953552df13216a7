// The terrain look-up as the program had it before the quick one, kept as the reference that the
// quick one is held to (same heights to the bit) and measured against. Out of line, as it was.
#pragma once
#include <cmath>
#include <cstring>

#include "Map/ElevationMapLoader.h"

// The look-up as the program had it before the quick one: two divisions for the sample position,
// then the bilinear blend of four valid samples.
[[gnu::noinline]] inline bool previousLookUp(const ElevationRaster* raster, GeoPoint point, f64* height) {
    if (!raster->samples || raster->width < 2 || raster->height < 2) return false;
    const RasterGeoreference* g = &raster->georeference;
    f64 column, row;
    if (g->kind == kGeoreferenceLonLatGrid) {
        f64 longitude = point.longitude;
        f64 middle = 0.5 * (g->west + g->east);
        if (longitude - middle > 180.0) longitude -= 360.0;
        if (longitude - middle < -180.0) longitude += 360.0;
        if (!(longitude >= std::fmin(g->west, g->east) && longitude <= std::fmax(g->west, g->east) &&
              point.latitude >= std::fmin(g->south, g->north) && point.latitude <= std::fmax(g->south, g->north))) {
            return false;
        }
        column = (longitude - g->west) / (g->east - g->west) * g->lastColumn;
        row = (g->north - point.latitude) / (g->north - g->south) * g->lastRow;
    } else if (!rasterLonLatToPixel(g, point, &column, &row)) {
        return false;
    }
    if (!(column >= 0.0 && column <= (f64)(raster->width - 1) && row >= 0.0 && row <= (f64)(raster->height - 1))) {
        return false;
    }
    u32 i = (u32)column, j = (u32)row;
    if (i == raster->width - 1) i--;
    if (j == raster->height - 1) j--;
    f64 fx = column - (f64)i, fy = row - (f64)j;
    const u8* top = raster->samples + (i64)j * raster->rowStride;
    const u8* bottom = top + raster->rowStride;
    f64 v[4];
    if (raster->sampleFormat == kRasterSamplesI16) {
        i16 s[4];
        std::memcpy(&s[0], top + i * 2, 4);
        std::memcpy(&s[2], bottom + i * 2, 4);
        for (i32 k = 0; k < 4; k++) {
            if (s[k] == raster->noData) return false;
            v[k] = s[k];
        }
    } else {
        f32 s[4];
        std::memcpy(&s[0], top + i * 4, 8);
        std::memcpy(&s[2], bottom + i * 4, 8);
        for (i32 k = 0; k < 4; k++) {
            if (s[k] != s[k] || s[k] == (f32)raster->noData) return false;
            v[k] = s[k];
        }
    }
    *height = (1.0 - fy) * ((1.0 - fx) * v[0] + fx * v[1]) + fy * ((1.0 - fx) * v[2] + fx * v[3]);
    return true;
}

// The loaded rasters in their order, the first that has four valid samples around the point.
[[gnu::noinline]] inline f32 previousGetElevation(const ElevationMapLoader* loader, GeoPoint point, f32 defaultValue) {
    for (u32 k = 0; k < loader->loadedCount; k++) {
        f64 height;
        if (previousLookUp(&loader->slots[loader->order[k]].raster, point, &height)) return (f32)height;
    }
    return defaultValue;
}
