// KMZ archives built by Python's zipfile (stored and deflated, PNG, palette PNG and JPEG icons) read
// to the pixels PIL decodes, and the overlay cache read back to the same model, or refused.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "Core/FixedString.h"
#include "Overlays/VectorOverlayFiles.h"
#include "OverlayTestSupport.h"

namespace {

class OverlayFiles : public ::testing::Test {
protected:
    void SetUp() override {
        overlay = makeZeroed<VectorOverlay>();
        other = makeZeroed<VectorOverlay>();
        char pattern[] = "/tmp/orvik-kmz-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        ASSERT_EQ(std::system(("/usr/bin/python3 " + overlayTestScript("kmz_oracle.py") + " make " + folder + " 4443")
                                  .c_str()),
                  0);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::string iconPixels(const VectorOverlay* o, const char* href) {
        for (u32 i = 0; i < o->markerImageCount; i++) {
            const OverlayMarkerImage* image = &o->markerImages[i];
            if (std::strcmp(image->href.text, href) != 0) continue;
            if (image->state != OverlayImagePresent) return "state " + std::to_string(image->state);
            return std::string((const char*)(o->markerImagePixels + image->firstPixel),
                               (size_t)image->width * image->height * 4);
        }
        return "none";
    }

    std::string cacheOf(const VectorOverlay* o) {
        ByteWriter measure = makeMeasuringWriter(INT64_MAX);
        writeKmlBin(o, &measure, 0x0123456789ABCDEFull);
        std::string bytes((size_t)measure.length, '\0');
        ByteWriter writer = makeByteWriter(bytes.data(), measure.length);
        writeKmlBin(o, &writer, 0x0123456789ABCDEFull);
        EXPECT_EQ(writer.length, measure.length);
        return bytes;
    }

    HeapPtr<VectorOverlay> overlay, other;
    std::string folder;
};

TEST_F(OverlayFiles, StoredAndDeflatedKmzIconsHoldThePixelsPilDecodes) {
    for (const char* archive : {"stored.kmz", "deflated.kmz"}) {
        SCOPED_TRACE(archive);
        std::string bytes = readFileBytes(folder + "/" + archive);
        FixedString result = parseKmz((const u8*)bytes.data(), (i64)bytes.size(), overlay.get());
        ASSERT_EQ(result.length, 0) << result.text;
        ASSERT_EQ(overlay->markerCount, 4u);
        // The href in other letter case finds its entry.
        EXPECT_EQ(iconPixels(overlay.get(), "FILES/flame.PNG"), readFileBytes(folder + "/Flame.png.rgba"));
        EXPECT_EQ(iconPixels(overlay.get(), "files/palette.png"), readFileBytes(folder + "/palette.png.rgba"));
        // JPEG: the IDCTs may round differently by a step or two.
        std::string jpeg = iconPixels(overlay.get(), "files/smoke.jpg");
        std::string expected = readFileBytes(folder + "/smoke.jpg.rgba");
        ASSERT_EQ(jpeg.size(), expected.size());
        int worst = 0;
        for (size_t i = 0; i < jpeg.size(); i++) worst = std::max(worst, std::abs((u8)jpeg[i] - (u8)expected[i]));
        EXPECT_LE(worst, 3);
        EXPECT_EQ(iconPixels(overlay.get(), "files/absent.png"), "state 7");
        EXPECT_STREQ(overlay->message.text, "Could not find files/absent.png in the .kmz");
    }
}

TEST_F(OverlayFiles, AnIconLargerThanThePixelStoreLeftIsRefused) {
    // The store holds 5,780,000 words: a 2,405 x 2,405 icon (5,784,025 words) never fits.
    std::string script =
        "import io,zipfile;from PIL import Image;o=io.BytesIO();Image.new(\"RGBA\",(2405,2405)).save(o,\"PNG\");"
        "z=zipfile.ZipFile(\"" + folder + "/big.kmz\",\"w\",zipfile.ZIP_DEFLATED);"
        "z.writestr(\"doc.kml\",\"<kml><Style id=\\\"s\\\"><IconStyle><Icon><href>big.png</href></Icon></IconStyle>"
        "</Style><Placemark><styleUrl>#s</styleUrl><Point><coordinates>1,1</coordinates></Point></Placemark></kml>\");"
        "z.writestr(\"big.png\",o.getvalue());z.close()";
    ASSERT_EQ(std::system(("/usr/bin/python3 -c '" + script + "'").c_str()), 0);
    std::string bytes = readFileBytes(folder + "/big.kmz");
    ASSERT_EQ(parseKmz((const u8*)bytes.data(), (i64)bytes.size(), overlay.get()).length, 0);
    EXPECT_EQ(iconPixels(overlay.get(), "big.png"), "state 8");
    EXPECT_EQ(overlay->pixelWordCount, 0u);
    EXPECT_EQ(std::string(overlay->message.text, 21), "Failed to parse big.p");
}

TEST_F(OverlayFiles, ACacheReadsBackAsTheSameModel) {
    std::string bytes = readFileBytes(folder + "/deflated.kmz");
    ASSERT_EQ(parseKmz((const u8*)bytes.data(), (i64)bytes.size(), overlay.get()).length, 0);
    std::string kml = R"(<kml><Style id="u"><LineStyle><color>ff00aaff</color><width>2.5</width></LineStyle>
      <PolyStyle><color>40ff0000</color></PolyStyle></Style>
      <Placemark><styleUrl>#u</styleUrl><Polygon><outerBoundaryIs><LinearRing><coordinates>
      0,0 2,0 2,2 1,3 0,2 0,0</coordinates></LinearRing></outerBoundaryIs></Polygon></Placemark></kml>)";
    // Markers and icons from the archive, polygons and lines from a KML, in one model.
    ASSERT_EQ(parseKmlText(kml, other.get()).length, 0);
    ASSERT_TRUE(reserveOverlayLineSegments(overlay.get(), other->lineSegmentCount));
    std::memcpy(overlay->lineSegments, other->lineSegments, sizeof(OverlayLineSegment) * other->lineSegmentCount);
    overlay->lineSegmentCount = other->lineSegmentCount;
    std::memcpy(overlay->polygonVertices, other->polygonVertices, sizeof(Vec2) * other->polygonVertexCount);
    overlay->polygonVertexCount = other->polygonVertexCount;
    std::memcpy(overlay->triangles, other->triangles, 6 * other->triangleCount);
    std::memcpy(overlay->triangleColours, other->triangleColours, 4 * other->triangleCount);
    overlay->triangleCount = other->triangleCount;
    ASSERT_GT(overlay->triangleCount, 0u);

    std::string cache = cacheOf(overlay.get());
    ASSERT_EQ(parseKmlBin((const u8*)cache.data(), cache.size(), other.get()).length, 0);
    // Written again from what was read, the cache is the same bytes: nothing was lost or changed.
    EXPECT_EQ(cacheOf(other.get()), cache);
    EXPECT_EQ(other->markerCount, overlay->markerCount);
    EXPECT_STREQ(other->markers[2].name.text, "Drop zone");
    EXPECT_EQ(other->markers[2].x, overlay->markers[2].x);
    EXPECT_STREQ(other->message.text, overlay->message.text);
    EXPECT_EQ(iconPixels(other.get(), "FILES/flame.PNG"), readFileBytes(folder + "/Flame.png.rgba"));
    // The icon that was not found is kept without pixels.
    EXPECT_EQ(iconPixels(other.get(), "files/absent.png"), "");
    EXPECT_EQ(other->lineSegments[3].colour, 0xff00aaffu);
    EXPECT_EQ(other->lineSegments[3].width, 2.5f);
    EXPECT_EQ(std::memcmp(other->triangles, overlay->triangles, 6 * overlay->triangleCount), 0);
    EXPECT_EQ(other->triangleColours[0], 0x40ff0000u);
}

void putU32(std::string* bytes, size_t at, u32 value) { std::memcpy(bytes->data() + at, &value, 4); }

TEST_F(OverlayFiles, TruncatedAndCorruptedCachesAreRefused) {
    std::string bytes = readFileBytes(folder + "/stored.kmz");
    ASSERT_EQ(parseKmz((const u8*)bytes.data(), (i64)bytes.size(), overlay.get()).length, 0);
    ASSERT_EQ(parseKmlText("<kml><Placemark><Polygon><outerBoundaryIs><LinearRing><coordinates>0,0 1,0 1,1 0,0"
                           "</coordinates></LinearRing></outerBoundaryIs></Polygon></Placemark></kml>",
                           other.get()).length,
              0);
    overlay->polygonVertexCount = 3;
    std::memcpy(overlay->polygonVertices, other->polygonVertices, sizeof(Vec2) * 3);
    overlay->triangleCount = 1;
    overlay->triangles[0] = 0, overlay->triangles[1] = 1, overlay->triangles[2] = 2;
    std::string cache = cacheOf(overlay.get());
    // Every cut of the file is truncated; a 36-byte one too.
    for (size_t cut = 0; cut < cache.size(); cut += 1 + cut / 50) {
        EXPECT_STREQ(parseKmlBin((const u8*)cache.data(), cut, other.get()).text, "Truncated file") << cut;
    }
    EXPECT_STREQ(parseKmlBin((const u8*)cache.data(), 36, other.get()).text, "Truncated file");

    auto refusal = [&](std::string damaged) {
        return std::string(parseKmlBin((const u8*)damaged.data(), damaged.size(), other.get()).text);
    };
    // Counts beyond their capacities.
    std::string damaged = cache;
    putU32(&damaged, 8 + 12, 5780001);
    EXPECT_EQ(refusal(damaged), "Corrupted file");
    // Segments have no capacity but memory: any count without its bytes is a truncated file.
    for (u32 segments : {500000u, 500001u, 4000000000u}) {
        damaged = cache;
        putU32(&damaged, 8 + 20, segments);
        EXPECT_EQ(refusal(damaged), "Truncated file") << segments;
    }

    // Indices: the sections' offsets follow the head and the message.
    size_t at = 37 + overlay->message.length;
    size_t markerStart = at;
    for (u32 m = 0; m < overlay->markerCount; m++) {
        at += 29 + overlay->markers[m].name.length;
    }
    size_t styleStart = at;
    at += 18 * overlay->markerStyleCount;
    size_t imageStart = at;
    damaged = cache;
    damaged[markerStart] = (char)overlay->markerStyleCount;  // a marker's style index past the styles
    EXPECT_EQ(refusal(damaged), "Corrupted file");
    damaged = cache;
    putU32(&damaged, styleStart, overlay->markerImageCount);  // a style's image past the images
    EXPECT_EQ(refusal(damaged), "Corrupted file");
    damaged = cache;
    putU32(&damaged, imageStart + 8, 0x10000);  // width x height past the pixel words
    putU32(&damaged, imageStart + 12, 0x10000);
    EXPECT_EQ(refusal(damaged), "Corrupted file");
    damaged = cache;
    damaged[cache.size() - 10] = 3;  // a triangle's vertex past the vertices
    EXPECT_EQ(refusal(damaged), "Corrupted file");
}

}  // namespace
