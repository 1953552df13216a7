// The GeoTIFF reader on small files built byte by byte: header and directory faults, GeoKey sets,
// tie points, no-data texts, offsets of every field type, LZW faults and the window.
#include <gtest/gtest.h>

#include "Decoders/GeoTiff.h"
#include "Decoders/GeoTiffTestSupport.h"

using namespace geotifftest;

namespace {

// 4 × 3 samples, value = 10 × row + column + 0.5.
std::vector<f32> gridValues(u32 width = 4, u32 height = 3) {
    std::vector<f32> values;
    for (u32 row = 0; row < height; row++) {
        for (u32 column = 0; column < width; column++) values.push_back(10.0f * row + column + 0.5f);
    }
    return values;
}

const std::vector<f64> kNad83Metre = {1, 1, 0, 4, 1024, 0, 1, 2, 1025, 0, 1, 2, 2048, 0, 1, 4269, 2052, 0, 1, 9001};

// A readable uncompressed single-strip image whose samples sit at `offset`.
std::vector<Entry> imageEntries(u64 offset, u32 width = 4, u32 height = 3, u16 offsetType = kLong) {
    return {
        {256, kShort, {(f64)width}, {}},
        {257, kShort, {(f64)height}, {}},
        {258, kShort, {32}, {}},
        {259, kShort, {1}, {}},
        {273, offsetType, {(f64)offset}, {}},
        {277, kShort, {1}, {}},
        {278, kShort, {(f64)height}, {}},
        {339, kShort, {3}, {}},
        {33550, kDouble, {0.5, 0.25, 0}, {}},
        {33922, kDouble, {0, 0, 0, 10.0, 50.0, 0}, {}},
        {34735, kShort, kNad83Metre, {}},
    };
}

void setEntry(std::vector<Entry>* entries, Entry entry) {
    for (Entry& e : *entries) {
        if (e.tag == entry.tag) {
            e = entry;
            return;
        }
    }
    entries->push_back(entry);
}

void removeEntry(std::vector<Entry>* entries, u16 tag) {
    for (size_t i = 0; i < entries->size(); i++) {
        if ((*entries)[i].tag == tag) entries->erase(entries->begin() + i);
    }
}

std::vector<u8> plainFile(std::vector<Entry> entries, TiffLayout layout = {}) {
    return buildTiff(layout, floatBytes(gridValues(), layout.bigEndian), {entries});
}

std::string errorOf(const std::vector<u8>& bytes) {
    ParsedRaster parsed;
    parseBytes(&parsed, bytes);
    return parsed.error();
}

void expectGrid(const ElevationRaster& r, u32 width = 4, u32 height = 3) {
    ASSERT_EQ(r.width, width);
    ASSERT_EQ(r.height, height);
    for (u32 row = 0; row < height; row++) {
        for (u32 column = 0; column < width; column++) {
            EXPECT_EQ(storedValue(r, row, column), 10.0f * row + column + 0.5f) << row << "," << column;
        }
    }
}

}  // namespace

TEST(GeoTiffHeader, RefusesBadHeadersWithTheirMessages) {
    ParsedRaster parsed;
    parseGeoTiff(&parsed.raster, nullptr, 100, 1 << 20, 4, kWorld, &parsed.progress);
    EXPECT_EQ(parsed.error(), "TIFF bytes pointer was NULL");
    EXPECT_EQ(parsed.progress, 0);

    EXPECT_EQ(errorOf({'I', 'I', 42, 0, 8, 0, 0}), "TIFF bytes length was too small for the file header");
    EXPECT_EQ(errorOf({'A', 'B', 42, 0, 8, 0, 0, 0}), "Incorrect Start Bytes 4142, should be 0x4949 or 0x4D4D");
    EXPECT_EQ(errorOf({'I', 'I', 44, 0, 8, 0, 0, 0, 0, 0}), "Magic number was supposed to be 42 or 43, found 44");
    EXPECT_EQ(errorOf({'M', 'M', 0, 43, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0}),
              "Offset byte size was 4, but only 8 is supported");
    EXPECT_EQ(errorOf({'I', 'I', 43, 0, 8, 0, 1, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
              "Expected 0 after offset byte size, but found 0x0001");
    EXPECT_EQ(errorOf({'I', 'I', 43, 0, 8, 0, 0, 0, 16, 0, 0}), "TIFF bytes length was too small for the file header");
    EXPECT_EQ(errorOf({'I', 'I', 42, 0, 200, 0, 0, 0, 0, 0, 0, 0}),
              "Offset to first IFD doesn't leave enough room for the IFD. Offset = 200, Size = 12");
    EXPECT_EQ(errorOf({'I', 'I', 42, 0, 0, 0, 0, 0, 0, 0, 0, 0}), "TIFF file didn't contain any images");
}

TEST(GeoTiffDirectories, WalksTheChainToTheDirectoryWithGeoKeys) {
    std::vector<Entry> first = imageEntries(8);
    removeEntry(&first, 34735);
    std::vector<u8> bytes = buildTiff({}, floatBytes(gridValues(), false), {first, imageEntries(8)});
    ParsedRaster parsed;
    parseBytes(&parsed, bytes);
    ASSERT_EQ(parsed.error(), "");
    EXPECT_EQ(parsed.progress, 100);
    expectGrid(parsed.raster);
    EXPECT_EQ(parsed.raster.noData, -32768);
    EXPECT_EQ(parsed.raster.minimum, 0.5f);
    EXPECT_EQ(parsed.raster.maximum, 23.5f);

    EXPECT_EQ(errorOf(buildTiff({}, floatBytes(gridValues(), false), {first})),
              "Tiff does not contain a Geo Key Directory");

    // A chain that loops back on itself ends the walk.
    std::vector<u8> looped = buildTiff({}, floatBytes(gridValues(), false), {first});
    u32 directory = looped[4] | looped[5] << 8;
    u32 next = directory + 2 + (u32)first.size() * 12;
    looped[next] = (u8)directory;
    looped[next + 1] = (u8)(directory >> 8);
    EXPECT_EQ(errorOf(looped), "Tiff does not contain a Geo Key Directory");

    // Entries running past the end of the file.
    std::vector<u8> cut = buildTiff({}, {}, {imageEntries(8)});
    cut.resize(8 + 2 + 12 * 3);
    EXPECT_EQ(errorOf(cut), "Insufficient space for next IFD Entry");
}

TEST(GeoTiffDirectories, ReadsStripOffsetsOfEveryFieldTypeInBothByteOrders) {
    for (bool bigEndian : {false, true}) {
        for (bool bigTiff : {false, true}) {
            for (u16 type : {kShort, kLong, kLong8}) {
                if (type == kLong8 && !bigTiff) continue;
                SCOPED_TRACE(testing::Message() << bigEndian << bigTiff << type);
                TiffLayout layout{bigEndian, bigTiff};
                std::vector<u8> bytes = plainFile(imageEntries(dataOffset(layout), 4, 3, type), layout);
                ParsedRaster parsed;
                parseBytes(&parsed, bytes);
                ASSERT_EQ(parsed.error(), "");
                expectGrid(parsed.raster);
            }
        }
    }
    EXPECT_EQ(errorOf(plainFile(imageEntries(8, 4, 3, kDouble))), "Unsupported Strip Offsets Type 12");
}

TEST(GeoTiffGeoKeys, ChecksUnitEllipsoidAndProjection) {
    auto withKeys = [](std::vector<f64> keys, std::vector<f64> doubles = {}, std::string ascii = "") {
        std::vector<Entry> entries = imageEntries(8);
        setEntry(&entries, {34735, kShort, keys, {}});
        if (!doubles.empty()) setEntry(&entries, {34736, kDouble, doubles, {}});
        if (!ascii.empty()) setEntry(&entries, {34737, kAscii, {}, ascii});
        return errorOf(plainFile(entries));
    };
    // No unit key: the heights are metres; nothing names the ellipsoid then.
    EXPECT_EQ(withKeys({1, 1, 0, 0}), "This file does not specify the ellipsoid for geographic coordinate system 0");
    // The projected unit stands in when there is no geographic one, and the vertical unit after it.
    EXPECT_EQ(withKeys({1, 1, 0, 2, 2048, 0, 1, 4269, 3076, 0, 1, 9001}), "");
    EXPECT_EQ(withKeys({1, 1, 0, 2, 2048, 0, 1, 4269, 4099, 0, 1, 9001}), "");
    EXPECT_EQ(withKeys({1, 1, 0, 3, 2048, 0, 1, 4269, 2052, 0, 1, 9002, 3076, 0, 1, 9001}),
              "Unsupported linear unit for geographic coordinate system: 9002");
    // EPSG 4326 is WGS 84 by its code.
    EXPECT_EQ(withKeys({1, 1, 0, 2, 2048, 0, 1, 4326, 2052, 0, 1, 9001}), "");
    EXPECT_EQ(withKeys({1, 1, 0, 2, 2048, 0, 1, 4326, 2049, 34737, 7, 0}, {}, "WGS 84|"), "");
    EXPECT_EQ(withKeys({1, 1, 0, 2, 2048, 0, 1, 4322, 2049, 34737, 7, 0}, {}, "WGS 72|"),
              "This file does not specify the ellipsoid for geographic coordinate system 4322 (WGS 72)");
    // Semi-major axis with inverse flattening, and both axes given.
    EXPECT_EQ(withKeys({1, 1, 0, 4, 2048, 0, 1, 4326, 2052, 0, 1, 9001, 2057, 34736, 1, 0, 2059, 34736, 1, 1},
                       {6378137.0, 298.257223563}),
              "");
    EXPECT_EQ(withKeys({1, 1, 0, 4, 2048, 0, 1, 32767, 2052, 0, 1, 9001, 2057, 34736, 1, 0, 2058, 34736, 1, 1},
                       {6378137.0, 6356752.0}),
              "Earth ellipsoid is more than 1cm different from WGS84. Semi-major axis: 6378137.000, "
              "Semi-minor axis: 6356752.000");
    EXPECT_EQ(withKeys({1, 1, 0, 3, 1025, 0, 1, 1, 2048, 0, 1, 4269, 2052, 0, 1, 9001}), "");
    EXPECT_EQ(withKeys({1, 1, 0, 3, 2048, 0, 1, 4269, 2052, 0, 1, 9001, 3075, 0, 1, 8}),
              "Unsupported projective coordinate system transformation: 8");
    // A projected system known only by its code is not a longitude/latitude grid.
    const char* byCode = "Projected coordinate systems given only by their code aren't supported. Reproject the file "
                         "to longitude and latitude on WGS 84 (EPSG:4326).";
    EXPECT_EQ(withKeys({1, 1, 0, 3, 1024, 0, 1, 1, 2048, 0, 1, 4269, 3076, 0, 1, 9001}), byCode);
    EXPECT_EQ(withKeys({1, 1, 0, 3, 2048, 0, 1, 4269, 3072, 0, 1, 26911, 3076, 0, 1, 9001}), byCode);
    EXPECT_EQ(withKeys({1, 1, 0, 4, 2048, 0, 1, 4269, 2052, 0, 1, 9001, 3075, 0, 1, 11, 3076, 0, 1, 9002}),
              "Unsupported linear unit for projected coordinate system: 9002");
}

TEST(GeoTiffGeoKeys, HonoursTheTiePointsPixelPosition) {
    std::vector<Entry> entries = imageEntries(8);
    setEntry(&entries, {33922, kDouble, {2, 1, 0, 10.0, 50.0, 0}, {}});
    ParsedRaster parsed;
    parseBytes(&parsed, plainFile(entries));
    ASSERT_EQ(parsed.error(), "");
    const RasterGeoreference& g = parsed.raster.georeference;
    EXPECT_EQ(g.kind, kGeoreferenceLonLatGrid);
    EXPECT_DOUBLE_EQ(g.west, 9.0);
    EXPECT_DOUBLE_EQ(g.east, 10.5);
    EXPECT_DOUBLE_EQ(g.north, 50.25);
    EXPECT_DOUBLE_EQ(g.south, 49.75);
    EXPECT_DOUBLE_EQ(g.lastColumn, 3.0);
    EXPECT_DOUBLE_EQ(g.lastRow, 2.0);

    setEntry(&entries, {33922, kDouble, {0, 0, 0, 10, 50, 0, 1, 0, 0, 10.5, 50, 0}, {}});
    EXPECT_EQ(errorOf(plainFile(entries)), "Unsupported number of tie points: 2");
    setEntry(&entries, {33922, kDouble, std::vector<f64>(42, 0.0), {}});
    EXPECT_EQ(errorOf(plainFile(entries)), "More than 3 tie points is not supported. Found 7.");
    removeEntry(&entries, 33922);
    EXPECT_EQ(errorOf(plainFile(entries)), "Unsupported number of tie points: 0");
}

TEST(GeoTiffGeoKeys, ReadsIntegerNoDataTextsOnly) {
    std::vector<Entry> entries = imageEntries(8);
    setEntry(&entries, {42113, kAscii, {}, "-9999"});
    ParsedRaster parsed;
    parseBytes(&parsed, plainFile(entries));
    ASSERT_EQ(parsed.error(), "");
    EXPECT_EQ(parsed.raster.noData, -9999);

    setEntry(&entries, {42113, kAscii, {}, "-9999.5"});
    EXPECT_EQ(errorOf(plainFile(entries)), "No-data value must be an integer. Found -9999.500000");
    // "nan" in any case leaves the default: not-a-number samples are missing, a height of 0 is not.
    for (const char* text : {"nan", "NaN", "-nan", "NAN "}) {
        setEntry(&entries, {42113, kAscii, {}, text});
        ParsedRaster notANumber;
        parseBytes(&notANumber, plainFile(entries));
        ASSERT_EQ(notANumber.error(), "") << text;
        EXPECT_EQ(notANumber.raster.noData, -32768) << text;
    }
    setEntry(&entries, {42113, kAscii, {}, "-3.4028234663852886e+38"});
    EXPECT_EQ(errorOf(plainFile(entries)).rfind("No-data value ", 0), 0u);
    EXPECT_NE(errorOf(plainFile(entries)), "");

    // A no-data sample is left out of the height range.
    std::vector<f32> values = gridValues();
    values[0] = 7.0f;
    values[5] = -9999.0f;
    setEntry(&entries, {42113, kAscii, {}, "-9999"});
    ParsedRaster withHole;
    parseBytes(&withHole, buildTiff({}, floatBytes(values, false), {entries}));
    ASSERT_EQ(withHole.error(), "");
    EXPECT_EQ(withHole.raster.minimum, 1.5f);
    EXPECT_EQ(withHole.raster.maximum, 23.5f);
}

TEST(GeoTiffSamples, RefusesSampleLayoutsItDoesNotRead) {
    std::vector<Entry> entries = imageEntries(8);
    setEntry(&entries, {284, kShort, {2}, {}});
    EXPECT_EQ(errorOf(plainFile(entries)), "Planar configuration 2 isn't supported");
    entries = imageEntries(8);
    setEntry(&entries, {339, kShort, {0}, {}});
    EXPECT_EQ(errorOf(plainFile(entries)), "Unrecognized SampleFormat 0");
    entries = imageEntries(8);
    setEntry(&entries, {339, kShort, {2}, {}});
    setEntry(&entries, {258, kShort, {8}, {}});
    EXPECT_EQ(errorOf(plainFile(entries)), "Signed Integer with 8 bits per sample isn't supported. Use Float 32 instead.");
    setEntry(&entries, {339, kShort, {3}, {}});
    setEntry(&entries, {258, kShort, {16}, {}});
    EXPECT_EQ(errorOf(plainFile(entries)), "Float with 16 bits per sample isn't supported. Use Float 32 instead.");
    entries = imageEntries(8);
    setEntry(&entries, {259, kShort, {7}, {}});
    EXPECT_EQ(errorOf(plainFile(entries)), "Unsupported Compression Method 7");
    entries = imageEntries(8);
    setEntry(&entries, {256, kShort, {0}, {}});
    EXPECT_EQ(errorOf(plainFile(entries)), "Image size 0 x 3 isn't supported");
}

TEST(GeoTiffSamples, KeepsEveryReadInsideTheFile) {
    // Uncompressed samples past the end.
    i64 nearEnd = (i64)plainFile(imageEntries(8)).size() - 20;
    EXPECT_EQ(errorOf(plainFile(imageEntries(nearEnd))),
              "Strip/tile data at offset " + std::to_string(nearEnd) + " runs past the end of the file of " +
                  std::to_string(nearEnd + 20) + " bytes");
    EXPECT_EQ(errorOf(plainFile(imageEntries(1000000))).rfind("Strip/tile data at offset 1000000", 0), 0u);
    // A GeoKey directory and parameters past the end.
    std::vector<Entry> entries = imageEntries(8);
    std::vector<u8> bytes = plainFile(entries);
    std::vector<u8> shortened = bytes;
    shortened.resize(bytes.size() - 20);  // the GeoKey directory is the last value
    EXPECT_EQ(errorOf(shortened).rfind("TIFF data at offset", 0), 0u);
    // A strip bigger than the whole file.
    setEntry(&entries, {278, kLong, {3}, {}});
    setEntry(&entries, {256, kLong, {4000000}, {}});
    EXPECT_EQ(errorOf(plainFile(entries)).rfind("A strip or tile is larger than the file", 0), 0u);
    // Offsets of more strips than StripOffsets holds.
    entries = imageEntries(8);
    setEntry(&entries, {278, kShort, {1}, {}});
    EXPECT_EQ(errorOf(plainFile(entries)), "Strip Offsets holds too few entries for the image: 1");
}

TEST(GeoTiffSamples, ReportsLzwFaults) {
    std::vector<Entry> entries = imageEntries(8);
    setEntry(&entries, {259, kShort, {5}, {}});
    std::vector<u8> bad = packLzwCodes({256, 65, 260, 257});
    EXPECT_EQ(errorOf(buildTiff({}, bad, {entries})), "Error decompressing LZW");
    std::vector<u8> shortStrip = lzwLiterals(std::vector<u8>(8, 1));
    EXPECT_EQ(errorOf(buildTiff({}, shortStrip, {entries})), "Decompressed strip/tile was 8 bytes long. Expected 48 bytes.");
    // A stream that runs on past its strip, into a code beyond the table and without an end code:
    // only the strip's own bytes are decoded, and they are the samples.
    std::vector<i32> runOn{256};
    for (u8 b : floatBytes(gridValues(), false)) runOn.push_back(b);
    runOn.push_back(4000);
    for (i32 k = 0; k < 100; k++) runOn.push_back(7);
    {
        ParsedRaster parsed;
        parseBytes(&parsed, buildTiff({}, packLzwCodes(runOn), {entries}));
        ASSERT_EQ(parsed.error(), "");
        expectGrid(parsed.raster);
    }
    // Strips of LZW literals, the last one short, read as the uncompressed samples would.
    std::vector<u8> samples = floatBytes(gridValues(4, 5), false);
    std::vector<u8> data;
    std::vector<f64> offsets;
    for (u32 strip = 0; strip < 3; strip++) {
        u32 rows = strip < 2 ? 2 : 1;
        offsets.push_back(8.0 + data.size());
        std::vector<u8> part(samples.begin() + strip * 32, samples.begin() + strip * 32 + rows * 16);
        std::vector<u8> packed = lzwLiterals(part);
        data.insert(data.end(), packed.begin(), packed.end());
    }
    entries = imageEntries(8, 4, 5);
    setEntry(&entries, {259, kShort, {5}, {}});
    setEntry(&entries, {278, kShort, {2}, {}});
    setEntry(&entries, {273, kLong, offsets, {}});
    ParsedRaster parsed;
    parseBytes(&parsed, buildTiff({}, data, {entries}));
    ASSERT_EQ(parsed.error(), "");
    expectGrid(parsed.raster, 4, 5);
}

TEST(GeoTiffSamples, LeavesStripsOutsideTheWindowUndecoded) {
    // Rows lie at latitudes 50, 49, 48, 47; the first strip is broken LZW and the area covers only
    // the second one, which the small budget forces the reader to crop to.
    std::vector<u8> samples = floatBytes(gridValues(4, 4), false);
    std::vector<u8> broken = packLzwCodes({256, 65, 400, 257});
    std::vector<u8> good = lzwLiterals(std::vector<u8>(samples.begin() + 32, samples.end()));
    std::vector<u8> data = broken;
    data.insert(data.end(), good.begin(), good.end());
    std::vector<Entry> entries = imageEntries(8, 4, 4);
    setEntry(&entries, {259, kShort, {5}, {}});
    setEntry(&entries, {278, kShort, {2}, {}});
    setEntry(&entries, {273, kLong, {8.0, 8.0 + broken.size()}, {}});
    setEntry(&entries, {33550, kDouble, {0.5, 1.0, 0}, {}});
    const f64 area[4] = {9.0, 12.0, 46.9, 48.0};
    ParsedRaster parsed;
    parseBytes(&parsed, buildTiff({}, data, {entries}), 32, area);
    ASSERT_EQ(parsed.error(), "");
    ASSERT_EQ(parsed.raster.width, 4u);
    ASSERT_EQ(parsed.raster.height, 2u);
    for (u32 row = 0; row < 2; row++) {
        for (u32 column = 0; column < 4; column++) {
            EXPECT_EQ(storedValue(parsed.raster, row, column), 10.0f * (row + 2) + column + 0.5f);
        }
    }
    EXPECT_DOUBLE_EQ(parsed.raster.georeference.north, 48.0);
    EXPECT_DOUBLE_EQ(parsed.raster.georeference.south, 47.0);
    // With room for everything, the broken strip is read and reported.
    EXPECT_EQ(errorOf(buildTiff({}, data, {entries})), "Error decompressing LZW");
}

TEST(GeoTiffSamples, AccumulatesPredictedFloatWordsAsIntegers) {
    // Horizontal differencing of float samples: each stored word is the integer difference of the
    // sample's bits from its left neighbour's.
    std::vector<f32> values = gridValues();
    std::vector<u8> data;
    for (u32 row = 0; row < 3; row++) {
        u32 previous = 0;
        for (u32 column = 0; column < 4; column++) {
            u32 bits;
            std::memcpy(&bits, &values[row * 4 + column], 4);
            putUnsigned(&data, data.size(), bits - previous, 4, true);
            previous = bits;
        }
    }
    std::vector<Entry> entries = imageEntries(8);
    setEntry(&entries, {317, kShort, {2}, {}});
    ParsedRaster parsed;
    parseBytes(&parsed, buildTiff({true, false}, data, {entries}));
    ASSERT_EQ(parsed.error(), "");
    expectGrid(parsed.raster);
}

TEST(GeoTiffSamples, ReadsAMissingOrZeroRowsPerStripAsOneStrip) {
    std::vector<Entry> entries = imageEntries(8);
    removeEntry(&entries, 278);
    ParsedRaster parsed;
    parseBytes(&parsed, plainFile(entries));
    ASSERT_EQ(parsed.error(), "");
    expectGrid(parsed.raster);
    setEntry(&entries, {278, kShort, {0}, {}});
    ParsedRaster zero;
    parseBytes(&zero, plainFile(entries));
    ASSERT_EQ(zero.error(), "");
    expectGrid(zero.raster);
    // Tiles need both sides.
    setEntry(&entries, {322, kShort, {16}, {}});
    setEntry(&entries, {324, kLong, {8}, {}});
    EXPECT_EQ(errorOf(plainFile(entries)), "Tile size 16 x 0 isn't supported");
}

TEST(GeoTiffGeoKeys, FitsAlbersFromThreeTiePoints) {
    // Pixel {c, r} lies at x = 1000 + 30c + 5r, y = 2000 + 4c - 30r projected metres from the false
    // origin {250, -100}; the origin longitude comes from ProjCenterLongGeoKey.
    auto model = [](f64 c, f64 r) { return std::pair<f64, f64>{1000 + 30 * c + 5 * r, 2000 + 4 * c - 30 * r}; };
    std::vector<f64> ties;
    for (auto [c, r] : {std::pair<f64, f64>{0, 0}, {3, 0}, {0, 2}}) {
        auto [x, y] = model(c, r);
        ties.insert(ties.end(), {c, r, 0, x, y, 0});
    }
    std::vector<Entry> entries = imageEntries(8);
    setEntry(&entries, {33922, kDouble, ties, {}});
    setEntry(&entries, {34735, kShort,
                        {1, 1, 0, 11, 1024, 0, 1, 1, 1025, 0, 1, 2, 2048, 0, 1, 4269, 3075, 0, 1, 11, 3076, 0, 1,
                         9001, 3078, 34736, 1, 0, 3079, 34736, 1, 1, 3081, 34736, 1, 2, 3082, 34736, 1, 3, 3083, 34736,
                         1, 4, 3088, 34736, 1, 5},
                        {}});
    setEntry(&entries, {34736, kDouble, {29.5, 45.5, 23.0, 250.0, -100.0, -96.0}, {}});
    ParsedRaster parsed;
    parseBytes(&parsed, plainFile(entries));
    ASSERT_EQ(parsed.error(), "");
    expectGrid(parsed.raster);
    const RasterGeoreference& g = parsed.raster.georeference;
    ASSERT_EQ(g.kind, kGeoreferenceAlbers);
    EXPECT_DOUBLE_EQ(g.originLongitude, -96.0);
    RasterAffine trueOrigin{30, 5, 1000 - 250, 4, -30, 2000 + 100};
    RasterGeoreference expected;
    albersConicParameters(&expected, 6378137.0, 6356752.3141, GeoPoint{-96.0, 23.0}, 29.5, 45.5, &trueOrigin);
    for (auto [c, r] : {std::pair<f64, f64>{0, 0}, {3, 2}, {1.5, 0.5}}) {
        GeoPoint got = rasterPixelToLonLat(&g, c, r);
        GeoPoint want = rasterPixelToLonLat(&expected, c, r);
        EXPECT_NEAR(got.longitude, want.longitude, 1e-10);
        EXPECT_NEAR(got.latitude, want.latitude, 1e-10);
    }
}
