#include "Core/ElevationRaster.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Core/Format.h"

namespace {

constexpr f64 kPi = 3.14159265358979323846;
constexpr f64 kDegrees = kPi / 180.0;

i64 roundUpRow(i64 width, i64 bytesPerSample, i64 alignment) {
    i64 bytes = width * bytesPerSample;
    if (alignment <= 1) return bytes;
    return (bytes + alignment - 1) / alignment * alignment;
}

// Snyder's q for the latitude with sine s.
f64 albersQ(f64 eccentricity, f64 s) {
    f64 e = eccentricity;
    if (e < 1e-12) return 2.0 * s;
    f64 es = e * s;
    return (1.0 - e * e) * (s / (1.0 - es * es) - (1.0 / (2.0 * e)) * std::log((1.0 - es) / (1.0 + es)));
}

f64 albersM(f64 eccentricity, f64 latitude) {
    f64 s = std::sin(latitude);
    return std::cos(latitude) / std::sqrt(1.0 - eccentricity * eccentricity * s * s);
}

i32 clampToInt(f64 value, i32 low, i32 high) {
    if (!(value >= low)) return low;  // NaN goes low
    if (value > high) return high;
    return (i32)value;
}

// How many stored samples a span of `extent` file samples gives at `step`.
i64 storedCount(i64 extent, i64 step) { return (extent + step - 1) / step; }

bool windowFits(i64 columns, i64 rows, i64 step, u32 bytesPerSample, u32 rowAlignment, i64 budget) {
    i64 stride = roundUpRow(storedCount(columns, step), bytesPerSample, rowAlignment);
    i64 height = storedCount(rows, step);
    if (stride > (i64)UINT32_MAX) return false;
    if (stride == 0) return true;
    return height <= budget / stride;
}

}  // namespace

u8* allocateRasterBlock(i64 size) {
    if (size <= 0) return nullptr;
    return (u8*)std::calloc((size_t)size, 1);
}

void releaseElevationRaster(ElevationRaster* raster) {
    std::free(raster->samples);
    raster->samples = nullptr;
    raster->allocationSize = 0;
}

RasterGeoreference* albersConicParameters(RasterGeoreference* out, f64 semiMajorAxis, f64 semiMinorAxis,
                                          GeoPoint origin, f64 standardParallel1, f64 standardParallel2,
                                          const RasterAffine* pixelToProjected) {
    std::memset(out, 0, sizeof(*out));
    out->kind = kGeoreferenceAlbers;
    out->pixelToProjected = *pixelToProjected;
    f64 longitude = std::fmod(origin.longitude, 360.0);
    if (longitude > 180.0) longitude -= 360.0;
    if (longitude <= -180.0) longitude += 360.0;
    out->originLongitude = longitude;
    out->semiMajorAxis = semiMajorAxis;
    f64 ratio = semiMajorAxis != 0.0 ? semiMinorAxis / semiMajorAxis : 1.0;
    f64 e2 = 1.0 - ratio * ratio;
    f64 e = e2 > 0.0 ? std::sqrt(e2) : 0.0;
    out->eccentricity = e;
    f64 phi1 = standardParallel1 * kDegrees;
    f64 phi2 = standardParallel2 * kDegrees;
    f64 phi0 = origin.latitude * kDegrees;
    f64 m1 = albersM(e, phi1);
    f64 m2 = albersM(e, phi2);
    f64 q0 = albersQ(e, std::sin(phi0));
    f64 q1 = albersQ(e, std::sin(phi1));
    f64 q2 = albersQ(e, std::sin(phi2));
    f64 n = std::fabs(phi1 - phi2) > 1e-10 ? (m1 * m1 - m2 * m2) / (q2 - q1) : std::sin(phi1);
    out->n = n;
    out->c = m1 * m1 + n * q1;
    out->rho0 = n != 0.0 ? semiMajorAxis * std::sqrt(std::fmax(out->c - n * q0, 0.0)) / n : 0.0;
    out->qPole = albersQ(e, 1.0);
    return out;
}

void albersForward(const RasterGeoreference* g, GeoPoint point, f64* x, f64* y) {
    f64 q = albersQ(g->eccentricity, std::sin(point.latitude * kDegrees));
    f64 rho = g->n != 0.0 ? g->semiMajorAxis * std::sqrt(std::fmax(g->c - g->n * q, 0.0)) / g->n : 0.0;
    f64 deltaLongitude = point.longitude - g->originLongitude;
    deltaLongitude = std::remainder(deltaLongitude, 360.0);
    f64 theta = g->n * deltaLongitude * kDegrees;
    *x = rho * std::sin(theta);
    *y = g->rho0 - rho * std::cos(theta);
}

GeoPoint albersInverse(const RasterGeoreference* g, f64 x, f64 y) {
    f64 n = g->n;
    f64 e = g->eccentricity;
    f64 dy = g->rho0 - y;
    f64 rho = std::sqrt(x * x + dy * dy);
    f64 theta = n >= 0.0 ? std::atan2(x, dy) : std::atan2(-x, -dy);
    GeoPoint result{g->originLongitude, 0.0};
    if (n == 0.0 || g->semiMajorAxis == 0.0) return result;
    f64 q = (g->c - rho * rho * n * n / (g->semiMajorAxis * g->semiMajorAxis)) / n;
    f64 phi;
    if (std::fabs(std::fabs(q) - std::fabs(g->qPole)) < 1e-12 || std::fabs(q) >= std::fabs(g->qPole)) {
        phi = q >= 0.0 ? kPi / 2.0 : -kPi / 2.0;
    } else if (e < 1e-12) {
        phi = std::asin(q / 2.0);
    } else {
        phi = std::asin(q / 2.0);
        for (i32 i = 0; i < 25; i++) {
            f64 s = std::sin(phi);
            f64 es2 = e * e * s * s;
            f64 delta = (1.0 - es2) * (1.0 - es2) / (2.0 * std::cos(phi)) *
                        (q / (1.0 - e * e) - s / (1.0 - es2) + (1.0 / (2.0 * e)) * std::log((1.0 - e * s) / (1.0 + e * s)));
            phi += delta;
            if (std::fabs(delta) < 1e-14) break;
        }
    }
    result.latitude = phi / kDegrees;
    f64 longitude = g->originLongitude + theta / n / kDegrees;
    result.longitude = std::remainder(longitude, 360.0);
    return result;
}

GeoPoint rasterPixelToLonLat(const RasterGeoreference* g, f64 column, f64 row) {
    if (g->kind == kGeoreferenceLonLatGrid) {
        f64 u = g->lastColumn != 0.0 ? column / g->lastColumn : 0.0;
        f64 v = g->lastRow != 0.0 ? row / g->lastRow : 0.0;
        return GeoPoint{g->west + (g->east - g->west) * u, g->north - (g->north - g->south) * v};
    }
    const RasterAffine& m = g->pixelToProjected;
    return albersInverse(g, m.a * column + m.b * row + m.c, m.d * column + m.e * row + m.f);
}

i32 rasterLonLatToPixel(const RasterGeoreference* g, GeoPoint point, f64* column, f64* row) {
    if (g->kind == kGeoreferenceLonLatGrid) {
        f64 spanX = g->east - g->west;
        f64 spanY = g->north - g->south;
        if ((spanX == 0.0 && g->lastColumn != 0.0) || (spanY == 0.0 && g->lastRow != 0.0)) return 0;
        *column = spanX != 0.0 ? (point.longitude - g->west) / spanX * g->lastColumn : 0.0;
        *row = spanY != 0.0 ? (g->north - point.latitude) / spanY * g->lastRow : 0.0;
        return 1;
    }
    const RasterAffine& m = g->pixelToProjected;
    f64 determinant = m.a * m.e - m.b * m.d;
    if (determinant == 0.0 || !std::isfinite(determinant)) return 0;
    f64 x, y;
    albersForward(g, point, &x, &y);
    x -= m.c;
    y -= m.f;
    *column = (m.e * x - m.b * y) / determinant;
    *row = (-m.d * x + m.a * y) / determinant;
    return 1;
}

RasterWindow* setupElevationRasterGeoreference(RasterWindow* out, const RasterGeoreference* whole, u32 width,
                                               u32 height, u32 bytesPerSample, u32 rowAlignment, i64 byteBudget,
                                               const f64* areaOfInterest) {
    std::memset(out, 0, sizeof(*out));
    i32 maxColumn = width > (u32)INT32_MAX ? INT32_MAX : (i32)width;
    i32 maxRow = height > (u32)INT32_MAX ? INT32_MAX : (i32)height;
    out->firstRow = 0;
    out->endRow = maxRow;
    out->firstColumn = 0;
    out->endColumn = maxColumn;
    out->step = 1;
    if (maxColumn == 0 || maxRow == 0) {
        out->georeference = *whole;
        return out;
    }
    if (!windowFits(maxColumn, maxRow, 1, bytesPerSample, rowAlignment, byteBudget) && areaOfInterest) {
        // The pixel box that covers the area: the area's outline, sampled along its edges, mapped
        // to sample positions (the projected outline of a longitude/latitude box is curved).
        f64 minColumn = INFINITY, maxColumnF = -INFINITY, minRow = INFINITY, maxRowF = -INFINITY;
        i32 mapped = 0;
        constexpr i32 kEdgeSteps = 16;
        for (i32 i = 0; i <= kEdgeSteps; i++) {
            f64 t = (f64)i / kEdgeSteps;
            f64 lon = areaOfInterest[0] + (areaOfInterest[1] - areaOfInterest[0]) * t;
            f64 lat = areaOfInterest[2] + (areaOfInterest[3] - areaOfInterest[2]) * t;
            GeoPoint points[4] = {{lon, areaOfInterest[2]}, {lon, areaOfInterest[3]},
                                {areaOfInterest[0], lat}, {areaOfInterest[1], lat}};
            for (GeoPoint p : points) {
                f64 column, row;
                if (!rasterLonLatToPixel(whole, p, &column, &row)) continue;
                if (!std::isfinite(column) || !std::isfinite(row)) continue;
                mapped = 1;
                minColumn = std::fmin(minColumn, column);
                maxColumnF = std::fmax(maxColumnF, column);
                minRow = std::fmin(minRow, row);
                maxRowF = std::fmax(maxRowF, row);
            }
        }
        if (mapped) {
            out->firstColumn = clampToInt(std::floor(minColumn), 0, maxColumn - 1);
            out->endColumn = clampToInt(std::ceil(maxColumnF) + 1.0, out->firstColumn + 1, maxColumn);
            out->firstRow = clampToInt(std::floor(minRow), 0, maxRow - 1);
            out->endRow = clampToInt(std::ceil(maxRowF) + 1.0, out->firstRow + 1, maxRow);
        }
    }
    i64 columns = (i64)out->endColumn - out->firstColumn;
    i64 rows = (i64)out->endRow - out->firstRow;
    // The stored size falls roughly with the square of the step, so no step below this one fits.
    i64 step = 1;
    f64 bytesPerCell = bytesPerSample > 0 ? (f64)bytesPerSample : 1.0;
    if (byteBudget > 0) {
        f64 estimate = std::floor(std::sqrt((f64)columns * (f64)rows * bytesPerCell / (f64)byteBudget));
        if (estimate > 1.0) step = (i64)estimate;
    } else {
        step = columns > rows ? columns : rows;
    }
    while (!windowFits(columns, rows, step, bytesPerSample, rowAlignment, byteBudget) &&
           (storedCount(columns, step) > 1 || storedCount(rows, step) > 1)) {
        step++;
    }
    if (step > INT32_MAX) step = INT32_MAX;
    out->step = (i32)step;
    out->width = (u32)storedCount(columns, step);
    out->height = (u32)storedCount(rows, step);
    out->rowStride = (u32)roundUpRow(out->width, bytesPerSample, rowAlignment);

    RasterGeoreference g = *whole;
    if (whole->kind == kGeoreferenceLonLatGrid) {
        f64 dx = whole->lastColumn != 0.0 ? (whole->east - whole->west) / whole->lastColumn : 0.0;
        f64 dy = whole->lastRow != 0.0 ? (whole->north - whole->south) / whole->lastRow : 0.0;
        g.west = whole->west + out->firstColumn * dx;
        g.east = g.west + (f64)(out->width - 1) * (f64)step * dx;
        g.north = whole->north - out->firstRow * dy;
        g.south = g.north - (f64)(out->height - 1) * (f64)step * dy;
        g.lastColumn = (f64)out->width - 1.0;
        g.lastRow = (f64)out->height - 1.0;
    } else {
        const RasterAffine& m = whole->pixelToProjected;
        f64 s = (f64)step;
        g.pixelToProjected.a = m.a * s;
        g.pixelToProjected.b = m.b * s;
        g.pixelToProjected.c = m.a * out->firstColumn + m.b * out->firstRow + m.c;
        g.pixelToProjected.d = m.d * s;
        g.pixelToProjected.e = m.e * s;
        g.pixelToProjected.f = m.d * out->firstColumn + m.e * out->firstRow + m.f;
    }
    out->georeference = g;
    return out;
}

namespace {

// The 32-bit float sample at p, stored little-endian.
inline f32 floatSampleAt(const u8* p) {
    u32 bits = (u32)p[0] | (u32)p[1] << 8 | (u32)p[2] << 16 | (u32)p[3] << 24;
    f32 value;
    std::memcpy(&value, &bits, 4);
    return value;
}

// The least and greatest float samples that are neither NaN nor no-data, in one row, folded into
// *least and *greatest. Ties keep the value already held.
void floatRowMinMax(const u8* p, u32 width, f32 noData, f32* least, f32* greatest) {
    u32 column = 0;
#if defined(__SSE2__)
    // Four lanes, each keeping its own extremes; skipped samples count as infinities.
    if (width >= 8) {
        const __m128 skipLow = _mm_set1_ps(INFINITY);
        const __m128 skipHigh = _mm_set1_ps(-INFINITY);
        const __m128 noDatas = _mm_set1_ps(noData);
        __m128 low = _mm_set1_ps(*least);
        __m128 high = _mm_set1_ps(*greatest);
        for (; column + 4 <= width; column += 4) {
            __m128 v = _mm_loadu_ps((const float*)(const void*)(p + (u64)column * 4));
            __m128 keep = _mm_and_ps(_mm_cmpord_ps(v, v), _mm_cmpneq_ps(v, noDatas));
            low = _mm_min_ps(_mm_or_ps(_mm_and_ps(keep, v), _mm_andnot_ps(keep, skipLow)), low);
            high = _mm_max_ps(_mm_or_ps(_mm_and_ps(keep, v), _mm_andnot_ps(keep, skipHigh)), high);
        }
        alignas(16) f32 lows[4];
        alignas(16) f32 highs[4];
        _mm_store_ps(lows, low);
        _mm_store_ps(highs, high);
        for (i32 k = 0; k < 4; k++) {
            if (lows[k] < *least) *least = lows[k];
            if (highs[k] > *greatest) *greatest = highs[k];
        }
    }
#endif
    for (p += (u64)column * 4; column < width; column++, p += 4) {
        f32 value = floatSampleAt(p);
        if (value != value || value == noData) continue;
        if (value < *least) *least = value;
        if (value > *greatest) *greatest = value;
    }
}

}  // namespace

void computeElevationImageMinMax(ElevationRaster* raster, const u8* samples, u32 rowAlignment) {
    raster->minimum = 1000000.0f;
    raster->maximum = -1000000.0f;
    u32 bytesPerSample;
    if (raster->sampleFormat == kRasterSamplesF32) {
        bytesPerSample = 4;
    } else if (raster->sampleFormat == kRasterSamplesI16) {
        bytesPerSample = 2;
    } else {
        raster->error = formatInt("computeElevationImageMinMax: unrecognized color format @", raster->sampleFormat);
        return;
    }
    i64 stride = roundUpRow(raster->width, bytesPerSample, rowAlignment);
    f32 least = raster->minimum;
    f32 greatest = raster->maximum;
    if (bytesPerSample == 4) {
        f32 noData = (f32)raster->noData;
        for (u32 row = 0; row < raster->height; row++)
            floatRowMinMax(samples + (i64)row * stride, raster->width, noData, &least, &greatest);
        // A height of zero is the first zero sample met in row order, +0 or -0 as it stands: the
        // rows' lanes meet their zeros in another order.
        if (least == 0.0f || greatest == 0.0f) {
            f32 firstZero = 0.0f;
            bool found = false;
            for (u32 row = 0; row < raster->height && !found; row++) {
                const u8* p = samples + (i64)row * stride;
                for (u32 column = 0; column < raster->width; column++, p += 4) {
                    f32 value = floatSampleAt(p);
                    if (value == 0.0f && value != noData) {
                        firstZero = value;
                        found = true;
                        break;
                    }
                }
            }
            if (least == 0.0f) least = firstZero;
            if (greatest == 0.0f) greatest = firstZero;
        }
    } else {
        for (u32 row = 0; row < raster->height; row++) {
            const u8* p = samples + (i64)row * stride;
            for (u32 column = 0; column < raster->width; column++, p += 2) {
                i32 value = (i16)(u16)((u32)p[0] | (u32)p[1] << 8);
                if (value == raster->noData) continue;
                if ((f32)value < least) least = (f32)value;
                if ((f32)value > greatest) greatest = (f32)value;
            }
        }
    }
    raster->minimum = least;
    raster->maximum = greatest;
}
