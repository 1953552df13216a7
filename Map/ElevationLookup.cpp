// Terrain look-ups: the bilinear height at a point from one raster, and from the loaded rasters in
// their order. The safety check samples a planned path every few metres and the side view its
// terrain every frame, so the common raster, a longitude/latitude grid, takes a path without calls.
#include <cassert>
#include <cmath>
#include <cstring>

#include "Map/ElevationFiles.h"
#include "Map/ElevationMapLoader.h"

namespace {

// std::fmin and std::fmax without their library call: a NaN gives the other value.
inline f64 lesserOf(f64 a, f64 b) { return a < b || b != b ? a : b; }
inline f64 greaterOf(f64 a, f64 b) { return a > b || b != b ? a : b; }

// The four samples around a sample position and their blend; 0 when one of them is no data.
inline i32 blendSamples(const ElevationRaster* raster, f64 column, f64 row, f64* height) {
    // Also false for NaN.
    if (!(column >= 0.0 && column <= (f64)(raster->width - 1) && row >= 0.0 && row <= (f64)(raster->height - 1))) {
        return 0;
    }
    u32 i = (u32)column;
    u32 j = (u32)row;
    i -= i == raster->width - 1;
    j -= j == raster->height - 1;
    f64 fx = column - (f64)i;
    f64 fy = row - (f64)j;
    const u8* top = raster->samples + (i64)j * raster->rowStride;
    const u8* bottom = top + raster->rowStride;
    f64 a, b, c, d;
    if (raster->sampleFormat == kRasterSamplesI16) {
        i16 s[4];
        std::memcpy(&s[0], top + i * 2, 4);
        std::memcpy(&s[2], bottom + i * 2, 4);
        i32 noData = raster->noData;
        if ((s[0] == noData) | (s[1] == noData) | (s[2] == noData) | (s[3] == noData)) return 0;
        a = s[0], b = s[1], c = s[2], d = s[3];
    } else if (raster->sampleFormat == kRasterSamplesF32) {
        f32 s[4];
        std::memcpy(&s[0], top + i * 4, 8);
        std::memcpy(&s[2], bottom + i * 4, 8);
        f32 noData = (f32)raster->noData;
        for (f32 v : s) {
            if (v != v || v == noData) return 0;
        }
        a = s[0], b = s[1], c = s[2], d = s[3];
    } else {
        return 0;
    }
    *height = (1.0 - fy) * ((1.0 - fx) * a + fx * b) + fy * ((1.0 - fx) * c + fx * d);
    return 1;
}

// A longitude/latitude grid: the sample position by two divisions, the point taken as two numbers
// so that it stays in registers.
inline i32 sampleGrid(const ElevationRaster* raster, f64 longitude, f64 latitude, f64* height) {
    const RasterGeoreference* g = &raster->georeference;
    f64 west = g->west, east = g->east, south = g->south, north = g->north;
    f64 middle = 0.5 * (west + east);
    if (longitude - middle > 180.0) longitude -= 360.0;
    if (longitude - middle < -180.0) longitude += 360.0;
    // Most look-ups that miss a raster end here, on comparisons alone.
    if (!(longitude >= lesserOf(west, east) && longitude <= greaterOf(west, east) && latitude >= lesserOf(south, north) &&
          latitude <= greaterOf(south, north))) {
        return 0;
    }
    // An SRTM tile spans one degree each way: dividing by 1 changes nothing, so it is skipped.
    f64 spanX = east - west, spanY = north - south;
    f64 x = spanX == 1.0 ? longitude - west : (longitude - west) / spanX;
    f64 y = spanY == 1.0 ? north - latitude : (north - latitude) / spanY;
    return blendSamples(raster, x * g->lastColumn, y * g->lastRow, height);
}

// 1 / span when the span is a degree or a whole power of two below it (so that scaling by the
// inverse is exact for every difference of longitudes), else 0.
f64 exactInverse(f64 span) {
    if (!(span > 0.0 && span <= 1.0)) return 0.0;
    i32 exponent;
    if (std::frexp(span, &exponent) != 0.5) return 0.0;
    f64 inverse = std::ldexp(1.0, 1 - exponent);
    return std::isfinite(inverse) && inverse < 1e300 ? inverse : 0.0;
}

// Any other georeference: through its inverse.
__attribute__((noinline)) i32 sampleProjected(const ElevationRaster* raster, f64 longitude, f64 latitude, f64* height) {
    f64 column, row;
    if (!rasterLonLatToPixel(&raster->georeference, GeoPoint{longitude, latitude}, &column, &row)) return 0;
    return blendSamples(raster, column, row, height);
}

inline i32 sampleRaster(const ElevationRaster* raster, f64 longitude, f64 latitude, f64* height) {
    if (!raster->samples || raster->width < 2 || raster->height < 2) return 0;
    if (raster->georeference.kind == kGeoreferenceLonLatGrid) return sampleGrid(raster, longitude, latitude, height);
    return sampleProjected(raster, longitude, latitude, height);
}

}  // namespace

i32 sampleElevationRaster(const ElevationRaster* raster, GeoPoint point, f64* height) {
    return sampleRaster(raster, point.longitude, point.latitude, height);
}

f32 getElevationFrom(const ElevationMapLoader* loader, GeoPoint point, f32 defaultValue, u32 k) {
    f64 longitude = point.longitude, latitude = point.latitude;
    for (; k < loader->loadedCount; k++) {
        const ElevationMapSlot* slot = &loader->slots[loader->order[k]];
        f64 height;
        const QuickElevationLookup* quick = &loader->quick[k];
        assert((!quick->samples || quick->samples == slot->raster.samples) && "rasters changed without prepareElevationLookups");
        i32 found = quick->samples ? sampleQuickElevation(quick, longitude, latitude, &height) : -1;
        if (found < 0) found = sampleRaster(&slot->raster, longitude, latitude, &height);
        if (found) return (f32)height;
    }
    return defaultValue;
}

void prepareElevationLookups(ElevationMapLoader* loader) {
    for (u32 k = 0; k < kElevationMapSlots; k++) {
        QuickElevationLookup* q = &loader->quick[k];
        *q = QuickElevationLookup{};
        if (k >= loader->loadedCount || loader->order[k] >= kElevationMapSlots) continue;
        const ElevationMapSlot* slot = &loader->slots[loader->order[k]];
        const ElevationRaster* r = &slot->raster;
        const RasterGeoreference* g = &r->georeference;
        if (slot->state != ElevationMapLoaded || !r->samples || r->width < 2 || r->height < 2) continue;
        if (g->kind != kGeoreferenceLonLatGrid || r->sampleFormat != kRasterSamplesI16) continue;
        // A no-data value no 16-bit sample can hold leaves every sample valid; the lanes cannot say so.
        if (r->noData < -32768 || r->noData > 32767) continue;
        if (!(g->west < g->east && g->south < g->north)) continue;
        if (g->lastColumn != (f64)(r->width - 1) || g->lastRow != (f64)(r->height - 1)) continue;
        f64 inverseX = exactInverse(g->east - g->west), inverseY = exactInverse(g->north - g->south);
        if (inverseX == 0.0 || inverseY == 0.0) continue;
        q->west = g->west;
        q->north = g->north;
        q->columnScale = inverseX * g->lastColumn;
        q->rowScale = inverseY * g->lastRow;
        q->lastColumn = g->lastColumn;
        q->lastRow = g->lastRow;
        q->rowStride = r->rowStride;
        q->noDataLanes = 0x0001000100010001ull * (u16)r->noData;
        q->samples = r->samples;
    }
}
