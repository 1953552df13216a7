// Elevation rasters: the Albers projection against GDAL's, the window within a byte budget, and the
// height range.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Core/ElevationRaster.h"

namespace {

RasterGeoreference lonLatGrid(f64 west, f64 east, f64 south, f64 north, u32 width, u32 height) {
    RasterGeoreference g{};
    g.kind = kGeoreferenceLonLatGrid;
    g.west = west;
    g.east = east;
    g.south = south;
    g.north = north;
    g.lastColumn = width - 1.0;
    g.lastRow = height - 1.0;
    return g;
}

RasterGeoreference conus() {
    RasterAffine affine{30.0, 0.0, -1000000.0, 0.0, -30.0, 2000000.0};
    RasterGeoreference g;
    albersConicParameters(&g, 6378137.0, 6356752.314245, GeoPoint{-96.0, 23.0}, 29.5, 45.5, &affine);
    return g;
}

}  // namespace

TEST(AlbersProjection, MatchesGdalForwardAndInverse) {
    RasterGeoreference g = conus();
    EXPECT_EQ(g.kind, kGeoreferenceAlbers);
    EXPECT_DOUBLE_EQ(g.originLongitude, -96.0);
    EXPECT_NEAR(g.eccentricity, 0.0818191908426, 1e-12);
    const f64 points[][2] = {{-96.0, 23.0}, {-120.5, 47.25}, {-75.0, 30.0}, {-100.0, 60.0}, {-60.0, 10.0}};
    std::string input;
    for (const auto& p : points) input += std::to_string(p[0]) + " " + std::to_string(p[1]) + "\n";
    std::string command = "printf -- '" + input +
                          "' | gdaltransform -s_srs '+proj=longlat +ellps=WGS84' -t_srs '+proj=aea +lat_0=23 "
                          "+lon_0=-96 +lat_1=29.5 +lat_2=45.5 +x_0=0 +y_0=0 +ellps=WGS84 +units=m' -output_xy";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    for (const auto& p : points) {
        f64 x = 0, y = 0;
        ASSERT_EQ(fscanf(pipe, "%lf %lf", &x, &y), 2) << "gdaltransform gave no answer";
        f64 ourX, ourY;
        albersForward(&g, GeoPoint{p[0], p[1]}, &ourX, &ourY);
        EXPECT_NEAR(ourX, x, 1e-4) << p[0] << "," << p[1];
        EXPECT_NEAR(ourY, y, 1e-4) << p[0] << "," << p[1];
        GeoPoint back = albersInverse(&g, x, y);
        EXPECT_NEAR(back.longitude, p[0], 1e-9);
        EXPECT_NEAR(back.latitude, p[1], 1e-9);
    }
    EXPECT_EQ(pclose(pipe), 0);
}

TEST(AlbersProjection, BringsTheOriginLongitudeIntoHalfOpenRange) {
    RasterAffine identity{1, 0, 0, 0, 1, 0};
    RasterGeoreference g;
    albersConicParameters(&g, 6378137.0, 6356752.314245, GeoPoint{180.0, 0.0}, 10.0, 20.0, &identity);
    EXPECT_DOUBLE_EQ(g.originLongitude, 180.0);
    albersConicParameters(&g, 6378137.0, 6356752.314245, GeoPoint{-180.0, 0.0}, 10.0, 20.0, &identity);
    EXPECT_DOUBLE_EQ(g.originLongitude, 180.0);
    albersConicParameters(&g, 6378137.0, 6356752.314245, GeoPoint{270.0, 0.0}, 10.0, 20.0, &identity);
    EXPECT_DOUBLE_EQ(g.originLongitude, -90.0);
    // Equal standard parallels give a cone tangent at that latitude, and points still round-trip.
    albersConicParameters(&g, 6378137.0, 6356752.314245, GeoPoint{10.0, 40.0}, 45.0, 45.0, &identity);
    EXPECT_NEAR(g.n, std::sin(45.0 * 3.14159265358979323846 / 180.0), 1e-15);
    f64 x, y;
    albersForward(&g, GeoPoint{12.0, 47.0}, &x, &y);
    GeoPoint back = albersInverse(&g, x, y);
    EXPECT_NEAR(back.longitude, 12.0, 1e-9);
    EXPECT_NEAR(back.latitude, 47.0, 1e-9);
}

TEST(RasterWindow, KeepsTheWholeImageWhenItFits) {
    RasterGeoreference whole = lonLatGrid(8.0, 9.0, 47.0, 48.0, 101, 51);
    const f64 area[4] = {8.4, 8.5, 47.4, 47.5};
    RasterWindow w;
    setupElevationRasterGeoreference(&w, &whole, 101, 51, 4, 4, 404 * 51, area);
    EXPECT_EQ(w.firstRow, 0);
    EXPECT_EQ(w.endRow, 51);
    EXPECT_EQ(w.firstColumn, 0);
    EXPECT_EQ(w.endColumn, 101);
    EXPECT_EQ(w.step, 1);
    EXPECT_EQ(w.width, 101u);
    EXPECT_EQ(w.height, 51u);
    EXPECT_EQ(w.rowStride, 404u);
    EXPECT_EQ(std::memcmp(&w.georeference, &whole, sizeof(whole)), 0);
    // Rows of 16-bit samples are padded to the alignment.
    setupElevationRasterGeoreference(&w, &whole, 101, 51, 2, 4, 1 << 20, area);
    EXPECT_EQ(w.rowStride, 204u);
}

TEST(RasterWindow, CropsToTheAreaThenSubsamplesUntilItFits) {
    RasterGeoreference whole = lonLatGrid(8.0, 9.0, 47.0, 48.0, 101, 101);  // 0.01 degrees a sample
    const f64 area[4] = {8.2, 8.5, 47.6, 47.9};
    RasterWindow w;
    setupElevationRasterGeoreference(&w, &whole, 101, 101, 4, 4, 40000, area);
    EXPECT_LE(w.firstColumn, 20);
    EXPECT_GE(w.endColumn, 51);
    EXPECT_LE(w.firstRow, 10);
    EXPECT_GE(w.endRow, 41);
    EXPECT_LE(w.endColumn - w.firstColumn, 33);
    EXPECT_EQ(w.step, 1);
    EXPECT_LE((i64)w.rowStride * w.height, 40000);

    setupElevationRasterGeoreference(&w, &whole, 101, 101, 4, 4, 1000, area);
    EXPECT_GT(w.step, 1);
    EXPECT_LE((i64)w.rowStride * w.height, 1000);
    // The smallest step that fits: one less would not.
    i64 columns = w.endColumn - w.firstColumn, rows = w.endRow - w.firstRow, smaller = w.step - 1;
    EXPECT_GT(((columns + smaller - 1) / smaller) * 4 * ((rows + smaller - 1) / smaller), 1000);
    EXPECT_EQ(w.width, (u32)((columns + w.step - 1) / w.step));
    // The stored image's georeference follows the kept samples.
    const RasterGeoreference& g = w.georeference;
    EXPECT_NEAR(g.west, 8.0 + w.firstColumn * 0.01, 1e-12);
    EXPECT_NEAR(g.north, 48.0 - w.firstRow * 0.01, 1e-12);
    EXPECT_NEAR(g.east, g.west + (w.width - 1.0) * w.step * 0.01, 1e-12);
    EXPECT_NEAR(g.south, g.north - (w.height - 1.0) * w.step * 0.01, 1e-12);
    EXPECT_EQ(g.lastColumn, w.width - 1.0);

    // An area beside the image still keeps a sample, and a budget below one sample keeps one.
    const f64 away[4] = {20.0, 21.0, 10.0, 11.0};
    setupElevationRasterGeoreference(&w, &whole, 101, 101, 4, 4, 1000, away);
    EXPECT_GE(w.width, 1u);
    EXPECT_GE(w.height, 1u);
    EXPECT_LE((i64)w.rowStride * w.height, 1000);
    setupElevationRasterGeoreference(&w, &whole, 101, 101, 4, 4, 0, area);
    EXPECT_EQ(w.width, 1u);
    EXPECT_EQ(w.height, 1u);
}

TEST(RasterWindow, CropsAProjectedImageAndShiftsItsAffineMap) {
    RasterGeoreference whole = conus();
    GeoPoint a = rasterPixelToLonLat(&whole, 200, 100);
    GeoPoint b = rasterPixelToLonLat(&whole, 260, 140);
    const f64 area[4] = {std::fmin(a.longitude, b.longitude), std::fmax(a.longitude, b.longitude),
                         std::fmin(a.latitude, b.latitude), std::fmax(a.latitude, b.latitude)};
    RasterWindow w;
    setupElevationRasterGeoreference(&w, &whole, 1000, 1000, 4, 4, 8000, area);
    EXPECT_LE(w.firstColumn, 200);
    EXPECT_GE(w.endColumn, 261);
    EXPECT_LE(w.firstRow, 100);
    EXPECT_GE(w.endRow, 141);
    EXPECT_LE((i64)w.rowStride * w.height, 8000);
    for (u32 q : {0u, w.height - 1}) {
        for (u32 c : {0u, w.width - 1}) {
            GeoPoint stored = rasterPixelToLonLat(&w.georeference, c, q);
            GeoPoint file = rasterPixelToLonLat(&whole, w.firstColumn + (f64)c * w.step, w.firstRow + (f64)q * w.step);
            EXPECT_NEAR(stored.longitude, file.longitude, 1e-12);
            EXPECT_NEAR(stored.latitude, file.latitude, 1e-12);
        }
    }
}

TEST(ElevationImageMinMax, SkipsNoDataAndNanInBothSampleFormats) {
    ElevationRaster r{};
    r.width = 3;
    r.height = 2;
    r.noData = -9999;
    r.sampleFormat = kRasterSamplesF32;
    const f32 values[2][3] = {{5.5f, -9999.0f, NAN}, {-2.25f, 100.0f, 7.0f}};
    std::vector<u8> samples(2 * 12, 0xEE);
    for (i32 row = 0; row < 2; row++) std::memcpy(samples.data() + row * 12, values[row], 12);
    computeElevationImageMinMax(&r, samples.data(), 4);
    EXPECT_EQ(r.minimum, -2.25f);
    EXPECT_EQ(r.maximum, 100.0f);
    EXPECT_EQ(r.error.length, 0);

    // 16-bit rows of 3 samples are padded to 8 bytes; the padding is never read as a sample.
    r.sampleFormat = kRasterSamplesI16;
    r.noData = -32768;
    const i16 shorts[2][4] = {{-32768, 12, -40, 30000}, {25, -32768, 3, -30000}};
    computeElevationImageMinMax(&r, (const u8*)shorts, 4);
    EXPECT_EQ(r.minimum, -40.0f);
    EXPECT_EQ(r.maximum, 25.0f);

    // Nothing valid leaves the starting values.
    r.sampleFormat = kRasterSamplesF32;
    r.noData = 0;
    std::vector<u8> zeros(24, 0);
    computeElevationImageMinMax(&r, zeros.data(), 4);
    EXPECT_EQ(r.minimum, 1000000.0f);
    EXPECT_EQ(r.maximum, -1000000.0f);

    r.sampleFormat = 5;
    computeElevationImageMinMax(&r, zeros.data(), 4);
    EXPECT_EQ(std::string(r.error.text, r.error.length), "computeElevationImageMinMax: unrecognized color format 5");
}

// Rows wide enough to be scanned several samples at once: the range is the one a sample-by-sample
// scan in row order finds, down to which zero (+0 or -0) is met first, with no-data, NaN and
// infinities anywhere in a row and rows of every width around the scan's step.
TEST(ElevationImageMinMax, WideRowsGiveTheRangeOfARowOrderScan) {
    u32 seed = 12345;
    auto random = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    const f32 specials[] = {0.0f, -0.0f, -9999.0f, NAN, INFINITY, -INFINITY, 2000000.0f, -2000000.0f};
    for (i32 trial = 0; trial < 400; trial++) {
        ElevationRaster r{};
        r.width = 1 + random() % 23;
        r.height = 1 + random() % 4;
        r.noData = trial % 3 == 0 ? 0 : -9999;
        r.sampleFormat = kRasterSamplesF32;
        u32 stride = (r.width * 4 + 7) / 8 * 8;  // rows padded to 8 bytes, the padding holding a decoy
        std::vector<u8> samples((size_t)stride * r.height);
        const f32 decoy = -123456.0f;
        for (size_t at = 0; at < samples.size(); at += 4) std::memcpy(samples.data() + at, &decoy, 4);
        bool zerosOnly = trial % 4 == 1;
        for (u32 row = 0; row < r.height; row++) {
            for (u32 column = 0; column < r.width; column++) {
                u32 pick = random() % 16;
                f32 value = pick < 8 ? specials[pick] : (f32)((i32)(random() % 2001) - 1000) / 4.0f;
                if (zerosOnly) value = pick % 2 ? -0.0f : pick % 3 ? 0.0f : -5.0f;
                std::memcpy(samples.data() + (size_t)row * stride + column * 4, &value, 4);
            }
        }
        f32 least = 1000000.0f;
        f32 greatest = -1000000.0f;
        for (u32 row = 0; row < r.height; row++) {
            for (u32 column = 0; column < r.width; column++) {
                f32 value;
                std::memcpy(&value, samples.data() + (size_t)row * stride + column * 4, 4);
                if (value != value || value == (f32)r.noData) continue;
                if (value < least) least = value;
                if (value > greatest) greatest = value;
            }
        }
        computeElevationImageMinMax(&r, samples.data(), 8);
        SCOPED_TRACE(trial);
        EXPECT_EQ(std::memcmp(&r.minimum, &least, 4), 0) << r.minimum << " " << least;
        EXPECT_EQ(std::memcmp(&r.maximum, &greatest, 4), 0) << r.maximum << " " << greatest;
    }
}
