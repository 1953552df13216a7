// The GeoTIFF reader against files made by GDAL, geotifcp and tiffcp, with GDAL's own reading of
// them (ReadAsArray and gdaltransform) as the expected result.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "Decoders/GeoTiff.h"
#include "Decoders/GeoTiffTestSupport.h"

using namespace geotifftest;

namespace {

std::string filePath(const std::string& name) { return oracleFolder() + "/" + name; }

struct ReadableCase {
    std::string name;
    u32 width, height;
    i32 noData;
    f64 corners[8];
    GeoPoint probe;
    f64 probeValue;
};

std::vector<ReadableCase> readableCases() {
    std::vector<ReadableCase> cases;
    std::ifstream in(filePath("readable.txt"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::istringstream fields(line);
        ReadableCase c;
        fields >> c.name >> c.width >> c.height >> c.noData;
        for (f64& v : c.corners) fields >> v;
        fields >> c.probe.longitude >> c.probe.latitude >> c.probeValue;
        cases.push_back(c);
    }
    return cases;
}

}  // namespace

TEST(GeoTiffOracle, ReadsEveryLayoutByteOrderAndProjectionAsGdalDoes) {
    ASSERT_FALSE(oracleFolder().empty()) << "geotiff_oracle.py failed";
    std::vector<ReadableCase> cases = readableCases();
    ASSERT_EQ(cases.size(), 25u);
    for (const ReadableCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<u8> bytes = readWholeFile(filePath(c.name + ".tif"));
        std::vector<u8> expected = readWholeFile(filePath(c.name + ".f32"));
        ASSERT_EQ(expected.size(), (size_t)c.width * c.height * 4);
        ParsedRaster parsed;
        parseBytes(&parsed, bytes);
        const ElevationRaster& r = parsed.raster;
        ASSERT_EQ(std::string(r.error.text, r.error.length), "");
        EXPECT_EQ(parsed.progress, 100);
        ASSERT_EQ(r.width, c.width);
        ASSERT_EQ(r.height, c.height);
        EXPECT_EQ(r.rowStride, c.width * 4);
        EXPECT_EQ(r.noData, c.noData);
        EXPECT_EQ(r.sampleFormat, kRasterSamplesF32);
        EXPECT_GE(r.allocationSize, (i64)r.rowStride * r.height);

        i32 mismatches = 0;
        f32 least = 1000000.0f, greatest = -1000000.0f;
        for (u32 row = 0; row < c.height; row++) {
            for (u32 column = 0; column < c.width; column++) {
                const u8* p = expected.data() + ((u64)row * c.width + column) * 4;
                u32 want = (u32)p[0] | (u32)p[1] << 8 | (u32)p[2] << 16 | (u32)p[3] << 24;
                if (storedWord(r, row, column) != want && mismatches++ < 3) {
                    ADD_FAILURE() << "sample " << row << "," << column << " differs";
                }
                f32 value;
                std::memcpy(&value, &want, 4);
                if (value == value && value != (f32)c.noData) {
                    least = std::fmin(least, value);
                    greatest = std::fmax(greatest, value);
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
        EXPECT_EQ(r.minimum, least);
        EXPECT_EQ(r.maximum, greatest);

        bool albers = c.name.rfind("albers", 0) == 0;
        EXPECT_EQ(r.georeference.kind, albers ? kGeoreferenceAlbers : kGeoreferenceLonLatGrid);
        f64 positions[4][2] = {{0, 0}, {(f64)c.width - 1, 0}, {0, (f64)c.height - 1},
                               {(f64)c.width - 1, (f64)c.height - 1}};
        for (i32 k = 0; k < 4; k++) {
            GeoPoint p = rasterPixelToLonLat(&r.georeference, positions[k][0], positions[k][1]);
            EXPECT_NEAR(p.longitude, c.corners[2 * k], 1e-9) << "corner " << k;
            EXPECT_NEAR(p.latitude, c.corners[2 * k + 1], 1e-9) << "corner " << k;
        }
        // The sample at a place is the one gdallocationinfo finds there.
        f64 column, row;
        ASSERT_TRUE(rasterLonLatToPixel(&r.georeference, c.probe, &column, &row));
        EXPECT_NEAR(column, 11.0, 1e-6);
        EXPECT_NEAR(row, 7.0, 1e-6);
        EXPECT_NEAR(storedValue(r, (u32)std::lround(row), (u32)std::lround(column)), c.probeValue, 1e-4);
    }
}

TEST(GeoTiffOracle, KeepsTheAreaOfInterestWithinTheBudget) {
    ASSERT_FALSE(oracleFolder().empty());
    for (const char* name : {"strip-lzw-predictor", "tiled-lzw", "gdal-be-tiled-bigtiff", "albers-point",
                             "albers-area", "strip-none"}) {
        SCOPED_TRACE(name);
        std::vector<u8> bytes = readWholeFile(filePath(std::string(name) + ".tif"));
        ParsedRaster full;
        parseBytes(&full, bytes);
        ASSERT_EQ(full.raster.error.length, 0);
        GeoPoint a = rasterPixelToLonLat(&full.raster.georeference, 10, 6);
        GeoPoint b = rasterPixelToLonLat(&full.raster.georeference, 25, 15);
        f64 area[4] = {std::fmin(a.longitude, b.longitude), std::fmax(a.longitude, b.longitude),
                       std::fmin(a.latitude, b.latitude), std::fmax(a.latitude, b.latitude)};
        const i64 budget = 600;
        ParsedRaster part;
        parseBytes(&part, bytes, budget, area);
        const ElevationRaster& r = part.raster;
        ASSERT_EQ(std::string(r.error.text, r.error.length), "");
        EXPECT_LE((i64)r.rowStride * r.height, budget);
        EXPECT_EQ(r.rowStride % 4, 0u);
        EXPECT_LT(r.width, full.raster.width);
        EXPECT_GE(r.width, 3u);
        EXPECT_GE(r.height, 3u);
        // Every stored sample is the file sample at its own position.
        for (u32 row = 0; row < r.height; row++) {
            for (u32 column = 0; column < r.width; column++) {
                GeoPoint p = rasterPixelToLonLat(&r.georeference, column, row);
                f64 fileColumn, fileRow;
                ASSERT_TRUE(rasterLonLatToPixel(&full.raster.georeference, p, &fileColumn, &fileRow));
                f64 c = std::round(fileColumn), q = std::round(fileRow);
                ASSERT_NEAR(fileColumn, c, 1e-6);
                ASSERT_NEAR(fileRow, q, 1e-6);
                ASSERT_EQ(storedWord(r, row, column), storedWord(full.raster, (u32)q, (u32)c))
                    << row << "," << column;
            }
        }
        // The area's centre lies inside the stored image.
        f64 centreColumn, centreRow;
        rasterLonLatToPixel(&r.georeference, GeoPoint{(area[0] + area[1]) / 2, (area[2] + area[3]) / 2},
                            &centreColumn, &centreRow);
        EXPECT_GE(centreColumn, 0.0);
        EXPECT_LE(centreColumn, r.width - 1.0);
        EXPECT_GE(centreRow, 0.0);
        EXPECT_LE(centreRow, r.height - 1.0);
    }
}

TEST(GeoTiffOracle, RefusesWhatItCannotRepresentWithItsMessage) {
    ASSERT_FALSE(oracleFolder().empty());
    struct Refusal {
        const char* file;
        const char* message;
    };
    const Refusal refusals[] = {
        {"refuse-feet", "Unsupported linear unit for geographic coordinate system: 9002"},
        {"refuse-clarke", "Earth ellipsoid is more than 1cm different from WGS84. Semi-major axis: 6378206.400, "
                          "Semi-minor axis: 6356583.800"},
        {"refuse-tmerc", "Unsupported projective coordinate system transformation: 1"},
        {"refuse-utm", "Projected coordinate systems given only by their code aren't supported. Reproject the file "
                       "to longitude and latitude on WGS 84 (EPSG:4326)."},
        {"refuse-byte", "Unsigned Integer with 8 bits per sample isn't supported. Use Float 32 instead."},
        {"refuse-two-bands", "Rasters with 2 samples per pixel aren't supported. Use one band."},
        {"refuse-tiled-predictor", "Differencing LZW Predictor is not supported with tiled images"},
        {"refuse-deflate", "Unsupported Compression Method 32946"},
        {"refuse-predictor3", "Unrecognized LZW Predictor 3"},
        // Projected by an ESRI text alone, never a longitude/latitude grid.
        {"refuse-esri-citation", "Projected coordinate systems given only by an ESRI text aren't supported. "
                                 "Reproject the file to longitude and latitude on WGS 84 (EPSG:4326)."},
        {"refuse-esri-citation-no-unit", "Projected coordinate systems given only by an ESRI text aren't supported. "
                                         "Reproject the file to longitude and latitude on WGS 84 (EPSG:4326)."},
        // The value as the file writes it.
        {"refuse-float-minimum-nodata", "No-data value -3.4028234663852886e+38 doesn't fit a 32-bit integer"},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.file);
        std::vector<u8> bytes = readWholeFile(filePath(std::string(refusal.file) + ".tif"));
        ASSERT_FALSE(bytes.empty());
        ParsedRaster parsed;
        parseBytes(&parsed, bytes);
        EXPECT_EQ(std::string(parsed.raster.error.text, parsed.raster.error.length), refusal.message);
        EXPECT_NE(parsed.progress, 100);
    }
}

// Every prefix of a file, and files with bytes changed at random, are read without touching
// anything outside them; a prefix that still reads gives the same samples.
TEST(GeoTiffOracle, TruncatedAndCorruptedFilesStayInsideTheirBytes) {
    ASSERT_FALSE(oracleFolder().empty());
    u64 state = 0x9E3779B97F4A7C15ull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (const char* name : {"strip-lzw", "gdal-be-predictor", "tiled-none-bigtiff", "albers-area"}) {
        SCOPED_TRACE(name);
        std::vector<u8> bytes = readWholeFile(filePath(std::string(name) + ".tif"));
        ParsedRaster full;
        parseBytes(&full, bytes);
        ASSERT_EQ(full.raster.error.length, 0);
        i32 truncatedReads = 0;
        for (size_t length = 0; length < bytes.size(); length++) {
            std::vector<u8> prefix(bytes.begin(), bytes.begin() + length);
            ParsedRaster parsed;
            parseBytes(&parsed, prefix);
            if (parsed.raster.error.length) continue;
            truncatedReads++;
            ASSERT_EQ(parsed.raster.width, full.raster.width);
            ASSERT_EQ(std::memcmp(parsed.raster.samples, full.raster.samples,
                                  (size_t)full.raster.rowStride * full.raster.height), 0) << length;
        }
        EXPECT_LT(truncatedReads, 64);
        for (i32 trial = 0; trial < 300; trial++) {
            std::vector<u8> changed = bytes;
            i32 changes = 1 + (i32)(next() % 4);
            for (i32 k = 0; k < changes; k++) changed[next() % changed.size()] = (u8)next();
            ParsedRaster parsed;
            parseBytes(&parsed, changed, 1 << 20);
        }
    }
}
