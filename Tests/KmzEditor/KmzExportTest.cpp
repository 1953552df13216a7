// The exported KMZ read by independent readers (Python's zipfile, xmllint, GDAL's OGR, PIL), then
// loaded and merged back; and a KMZ written by Python loaded as the import rules say.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "Core/Clock.h"
#include "Core/Format.h"
#include "Decoders/Png.h"
#include "Decoders/Zip.h"
#include "Core/MathEarth.h"
#include "KmzEditor/KmzEditorDrawing.h"
#include "KmzEditor/KmzExport.h"
#include "KmzEditor/KmzImport.h"
#include "KmzTestSupport.h"

namespace {

Vec2 mercatorOf(f64 lon, f64 lat) {
    GeoPoint geo{lon, lat};
    Vec2 out;
    latLngToMercator(&out, &geo);
    return out;
}

// A content payload: points in degrees with colours, lines by position, markers in degrees.
struct Content {
    std::vector<std::tuple<f64, f64, u8>> points;
    std::vector<std::tuple<u32, u32, u32>> lines;
    std::vector<std::tuple<f64, f64, u32, u32>> markers;  // lon, lat, number, kind
    std::vector<u8> payload() const {
        std::vector<u8> out(kmzContentPayloadSize(points.size(), lines.size(), markers.size()));
        ByteWriter w = makeByteWriter(out.data(), (i64)out.size());
        appendU16Le((u16)points.size(), &w);
        appendU16Le((u16)lines.size(), &w);
        appendU16Le((u16)markers.size(), &w);
        for (auto& p : points) {
            Vec2 m = mercatorOf(std::get<0>(p), std::get<1>(p));
            appendF64Le(m.x, &w), appendF64Le(m.y, &w), appendU8(std::get<2>(p), &w);
        }
        for (auto& l : lines) appendU32Le(std::get<0>(l), &w), appendU32Le(std::get<1>(l), &w), appendU32Le(std::get<2>(l), &w);
        for (auto& k : markers) {
            Vec2 m = mercatorOf(std::get<0>(k), std::get<1>(k));
            appendF64Le(m.x, &w), appendF64Le(m.y, &w), appendU32Le(std::get<2>(k), &w), appendU32Le(std::get<3>(k), &w);
        }
        return out;
    }
};

// Degrees carry a sixth decimal of 4, so that truncating to five decimals is safe against the
// round trip through Web-Mercator.
Content sampleDrawing() {
    Content c;
    c.points = {{10.000004, 50.000004, 0}, {10.100004, 50.000004, 0}, {10.200004, 50.100004, 0},
                {10.300004, 50.100004, 0}, {-12.345674, -33.000004, 4}, {-12.245674, -33.100004, 4},
                {-12.145674, -33.200004, 1}};
    // Slots 0 to 2: one red polyline, its last segment stored backwards; then a blue segment and an
    // orange one that continues from the blue's end in another colour.
    c.lines = {{0, 1, 0}, {1, 2, 0}, {3, 2, 0}, {4, 5, 4}, {5, 6, 1}};
    c.markers = {{11.000004, 51.000004, 9, 2}, {11.100004, 51.000004, 3, 2}, {11.200004, 51.000004, 40, 0},
                 {11.300004, 51.000004, 1, 1}, {-11.000004, -31.000004, 2, 3}, {0.000004, 0.000004, 5, 4}};
    return c;
}

std::string degrees(f64 value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.5f", std::trunc(value * 100000.0) / 100000.0);
    return text;
}

std::vector<u8> archiveOf(const KmzEditor* editor, const Assets& assets) {
    std::vector<u8> scratch(4000000);
    ByteWriter measure = makeMeasuringWriter(INT64_MAX);
    writeKmzArchive(editor, &assets.kmz, scratch.data(), scratch.size(), &measure);
    EXPECT_FALSE(measure.overflow);
    std::vector<u8> out((size_t)measure.length);
    ByteWriter w = makeByteWriter(out.data(), (i64)out.size());
    writeKmzArchive(editor, &assets.kmz, scratch.data(), scratch.size(), &w);
    EXPECT_FALSE(w.overflow);
    EXPECT_EQ(w.length, measure.length);
    return out;
}

// Degrees to the nearest 0.00001, for comparing drawings that went through a file.
std::string nearest(f64 value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.5f", (f64)std::llround(value * 100000.0) / 100000.0);
    return text;
}

// Lines as unordered ends (degrees to five decimals) with their colours; markers by kind and place.
std::multiset<std::string> linesOf(const KmzEditor* e) {
    std::multiset<std::string> out;
    for (u32 s = 0; s < kKmzPoolSlots; ++s) {
        if (!kmzSlotUsed(e->lineUsed, s)) continue;
        const KmzLine& l = e->lines[s];
        GeoPoint a = kmzGeoOf(e->points[l.pointA].x, e->points[l.pointA].y);
        GeoPoint b = kmzGeoOf(e->points[l.pointB].x, e->points[l.pointB].y);
        std::string ta = nearest(a.longitude) + "," + nearest(a.latitude);
        std::string tb = nearest(b.longitude) + "," + nearest(b.latitude);
        out.insert(std::min(ta, tb) + " " + std::max(ta, tb) + " " + std::to_string(l.color & 0xFF));
    }
    return out;
}
std::multiset<std::string> markersOf(const KmzEditor* e) {
    std::multiset<std::string> out;
    for (u32 s = 0; s < kKmzPoolSlots; ++s) {
        if (!kmzSlotUsed(e->markerUsed, s)) continue;
        GeoPoint g = kmzGeoOf(e->markers[s].x, e->markers[s].y);
        out.insert(std::to_string(e->markers[s].kind) + " " + nearest(g.longitude) + "," + nearest(g.latitude));
    }
    return out;
}

class KmzExport : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(assets.load()); }
    Assets assets;
};

TEST_F(KmzExport, IndependentReadersFindEveryPlacemarkIconAndCrcAndTheFileLoadsBack) {
    EditorPtr editor = newEditor();
    std::vector<u8> payload = sampleDrawing().payload();
    ASSERT_TRUE(runNewEdit(&editor->history, clearKmzEditorAction, payload.data(), payload.size()).ok);
    std::vector<u8> archive = archiveOf(editor.get(), assets);

    std::string folder = std::string(ORVIK_BINARY_DIR) + "/kmz_export_test";
    std::system(("rm -rf " + folder + " && mkdir -p " + folder).c_str());
    std::string path = folder + "/drawing.kmz";
    std::ofstream(path, std::ios::binary).write((const char*)archive.data(), (std::streamsize)archive.size());
    std::string report =
        run("/usr/bin/python3 " + sourcePath("Tests/KmzEditor/kmz_export_oracle.py") + " read " + path + " " + folder);

    std::vector<std::string> entries, features;
    std::map<std::string, std::string> icons;
    std::istringstream lines(report);
    std::string line;
    bool zipOk = false;
    int xmllint = -1;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "ZIP") zipOk = line == "ZIP ok";
        if (kind == "ENTRY") {
            std::string name, method;
            words >> name >> method;
            entries.push_back(name + " " + method);
        }
        if (kind == "XMLLINT") words >> xmllint;
        if (kind == "FEATURE") features.push_back(line.substr(8));
        if (kind == "PNG") {
            std::string name;
            words >> name;
            std::string rest;
            std::getline(words, rest);
            icons[name] = rest;
        }
    }
    EXPECT_TRUE(zipOk) << report;
    EXPECT_EQ(xmllint, 0) << report;
    std::vector<std::string> expectedEntries = {"doc.kml 0",          "flag_white_marker1.png 0",
                                                "obstruction_marker1.png 0", "fire_marker1.png 0",
                                                "fire_marker2.png 0", "smoke_marker1.png 0",
                                                "heat_marker1.png 0"};
    EXPECT_EQ(entries, expectedEntries) << report;
    for (u32 k = 0; k < kKmzMarkerKindCount; ++k) {
        static const char* const names[] = {"flag_white_marker1.png", "obstruction_marker1.png", "fire_marker1.png",
                                            "smoke_marker1.png", "heat_marker1.png"};
        EXPECT_EQ(icons[names[k]], " " + std::to_string(assets.images[k].width) + " " +
                                       std::to_string(assets.images[k].height) + " RGBA")
            << names[k];
    }
    EXPECT_EQ(icons.size(), 6u);
    // Each icon carries its painted labels: it is no longer the plain marker image.
    static ZipDirectory directory;
    readZipDirectory(&directory, archive.data(), (i64)archive.size());
    for (i32 i = 1; i < directory.entryCount; ++i) {
        const ZipDirectoryEntry& entry = directory.entries[i];
        std::vector<u8> png(entry.data, entry.data + entry.compressedSize), pixels;
        ImageResult icon{};
        ASSERT_TRUE(assets.decode(png, &icon, &pixels, 4)) << entry.name.text;
        u32 kind = std::string(entry.name.text).rfind("flag", 0) == 0          ? 0
                   : std::string(entry.name.text).rfind("obstruction", 0) == 0 ? 1
                   : std::string(entry.name.text).rfind("fire", 0) == 0        ? 2
                   : std::string(entry.name.text).rfind("smoke", 0) == 0       ? 3
                                                                               : 4;
        ASSERT_EQ(pixels.size(), assets.pixels[kind].size());
        size_t changed = 0;
        for (size_t p = 0; p < pixels.size(); p += 4) changed += std::memcmp(&pixels[p], &assets.pixels[kind][p], 4) != 0;
        EXPECT_GT(changed, 40u) << entry.name.text;
    }

    // Every chain twice, the "#black" outline first; a backwards segment continues its chain; a
    // colour change starts a new one.
    auto tuple = [](f64 lon, f64 lat) { return degrees(lon) + "," + degrees(lat); };
    std::string red = tuple(10.000004, 50.000004) + " " + tuple(10.100004, 50.000004) + " " +
                      tuple(10.200004, 50.100004) + " " + tuple(10.300004, 50.100004);
    std::string blue = tuple(-12.345674, -33.000004) + " " + tuple(-12.245674, -33.100004);
    std::string orange = tuple(-12.245674, -33.100004) + " " + tuple(-12.145674, -33.200004);
    std::vector<std::string> expectedFeatures = {
        "LINESTRING @black " + red,   "LINESTRING @black " + blue, "LINESTRING @black " + orange,
        "LINESTRING @red " + red,     "LINESTRING @blue " + blue,  "LINESTRING @orange " + orange,
        "POINT @flag1 " + tuple(11.200004, 51.000004),
        "POINT @obstruction1 " + tuple(11.300004, 51.000004),
        "POINT @fire1 " + tuple(11.100004, 51.000004),
        "POINT @fire2 " + tuple(11.000004, 51.000004),
        "POINT @smoke1 " + tuple(-11.000004, -31.000004),
        "POINT @heat1 " + tuple(0.000004, 0.000004),
    };
    EXPECT_EQ(features, expectedFeatures) << report;
    EXPECT_EQ(tuple(-12.3456789, 1), "-12.34567,1.00000");

    // Load gives back the same lines and markers; Merge adds them to what is there.
    EditorPtr loaded = newEditor();
    FixedString message{};
    importKmzBytes(archive.data(), (i64)archive.size(), loaded.get(), &message, 0);
    EXPECT_EQ(message.length, 0) << message.text;
    EXPECT_EQ(linesOf(loaded.get()), linesOf(editor.get()));
    EXPECT_EQ(markersOf(loaded.get()), markersOf(editor.get()));
    EXPECT_STREQ(undoLabel(&loaded->history), "Load");

    EditorPtr merged = newEditor();
    Content other;
    other.points = {{1.000004, 2.000004, 6}, {1.500004, 2.500004, 6}};
    other.lines = {{0, 1, 6}};
    other.markers = {{3.000004, 3.000004, 1, 4}};
    std::vector<u8> otherPayload = other.payload();
    ASSERT_TRUE(runNewEdit(&merged->history, clearKmzEditorAction, otherPayload.data(), otherPayload.size()).ok);
    std::multiset<std::string> expectedLines = linesOf(merged.get()), expectedMarkers = markersOf(merged.get());
    for (auto& l : linesOf(editor.get())) expectedLines.insert(l);
    for (auto& m : markersOf(editor.get())) expectedMarkers.insert(m);
    importKmzBytes(archive.data(), (i64)archive.size(), merged.get(), &message, 1);
    EXPECT_EQ(linesOf(merged.get()), expectedLines);
    EXPECT_EQ(markersOf(merged.get()), expectedMarkers);
    EXPECT_STREQ(undoLabel(&merged->history), "Merge");
    undoLastAction(&merged->history);
    EXPECT_EQ(linesOf(merged.get()).size(), 1u);
}

TEST_F(KmzExport, AnEmptyDrawingExportsTheHeadTheEightStylesAndTheTailAlone) {
    EditorPtr editor = newEditor();
    ByteWriter measure = makeByteWriter(nullptr, INT64_MAX);
    writeKmzDocument(editor.get(), &measure);
    std::string text((size_t)measure.length, '\0');
    ByteWriter w = makeByteWriter(text.data(), measure.length);
    writeKmzDocument(editor.get(), &w);
    EXPECT_EQ(text.find("<Placemark"), std::string::npos);
    EXPECT_EQ(text.rfind("</Document>\n</kml>"), text.size() - 18);
    size_t styles = 0;
    for (size_t at = text.find("<Style id="); at != std::string::npos; at = text.find("<Style id=", at + 1)) styles++;
    EXPECT_EQ(styles, 8u);
    std::vector<u8> archive = archiveOf(editor.get(), assets);
    static ZipDirectory directory;
    readZipDirectory(&directory, archive.data(), (i64)archive.size());
    ASSERT_EQ(directory.entryCount, 1);
    EXPECT_TRUE(equals(directory.entries[0].name, "doc.kml"));
    // The file takes its name from the local time.
    EXPECT_TRUE(equals(exportedKmzPath(calendarMsOf(2026, 3, 5, 7, 8, 9)), "Exported Kmzs/2026_3_5_7_08_09.kmz"));
}

// Python writes a KMZ of two KML entries with every line style, "#black" outlines, shared vertices,
// a closed ring and unknown styles; Load ends with the second entry's content and one undo goes
// back to the first entry's.
TEST(KmzImport, APythonWrittenKmzLoadsAsTheImportRulesSay) {
    std::string path = std::string(ORVIK_BINARY_DIR) + "/kmz_import_python.kmz";
    std::string expected = run("/usr/bin/python3 " + sourcePath("Tests/KmzEditor/kmz_export_oracle.py") + " make " + path);
    std::multiset<std::string> wantSecond, wantFirst;
    std::istringstream in(expected);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("FIRST ", 0) == 0) wantFirst.insert(line.substr(6));
        else wantSecond.insert(line);
    }
    auto contentOf = [](const KmzEditor* e) {
        std::multiset<std::string> out;
        auto q = [](f64 v) { return std::to_string(std::llround(v * 1e8)); };
        for (u32 s = 0; s < kKmzPoolSlots; ++s) {
            if (kmzSlotUsed(e->pointUsed, s))
                out.insert("P " + q(e->points[s].x) + " " + q(e->points[s].y) + " " + std::to_string(e->pointColor[s]));
            if (kmzSlotUsed(e->lineUsed, s)) {
                const KmzLine& l = e->lines[s];
                out.insert("L " + q(e->points[l.pointA].x) + " " + q(e->points[l.pointA].y) + " " +
                           q(e->points[l.pointB].x) + " " + q(e->points[l.pointB].y) + " " + std::to_string(l.color));
            }
            if (kmzSlotUsed(e->markerUsed, s))
                out.insert("M " + q(e->markers[s].x) + " " + q(e->markers[s].y) + " " +
                           std::to_string(e->markers[s].number) + " " + std::to_string(e->markers[s].kind));
        }
        return out;
    };
    std::vector<u8> bytes = fileBytes(path);
    EditorPtr editor = newEditor();
    FixedString message{};
    importKmzBytes(bytes.data(), (i64)bytes.size(), editor.get(), &message, 0);
    EXPECT_EQ(message.length, 0) << message.text;
    EXPECT_EQ(contentOf(editor.get()), wantSecond);
    undoLastAction(&editor->history);
    EXPECT_EQ(contentOf(editor.get()), wantFirst);
    undoLastAction(&editor->history);
    EXPECT_TRUE(contentOf(editor.get()).empty());
}

// More than 65,535 points cannot be counted in a payload: the import refuses with a message and
// the drawing stays as it was.
TEST(KmzImport, AKmlOfMorePointsThanAPayloadCountsIsRefusedWithAMessage) {
    std::string kml = "<kml><Document><Placemark><styleUrl>#red</styleUrl><LineString><coordinates>";
    for (i32 i = 0; i < 65536; ++i) kml += std::to_string(i * 0.0001) + ",1 ";
    kml += "</coordinates></LineString></Placemark></Document></kml>";
    static ZipWrittenEntry entry;
    FixedString name = makeString("doc.kml");
    u64 total = 0;
    ByteWriter measure = makeByteWriter(nullptr, INT64_MAX);
    writeZipLocalFile(&entry, 0, &name, (const u8*)kml.data(), kml.size(), &total, &measure);
    writeZipCentralDirectoryHeader(&entry, &measure);
    std::vector<u8> archive((size_t)measure.length + 22);
    ByteWriter w = makeByteWriter(archive.data(), (i64)archive.size());
    writeZipLocalFile(&entry, 0, &name, (const u8*)kml.data(), kml.size(), &total, &w);
    i64 directory = w.length;
    writeZipCentralDirectoryHeader(&entry, &w);
    u32 directorySize = (u32)(w.length - directory);
    appendU32Le(0x06054B50, &w), appendU16Le(0, &w), appendU16Le(0, &w), appendU16Le(1, &w), appendU16Le(1, &w);
    appendU32Le(directorySize, &w), appendU32Le((u32)directory, &w), appendU16Le(0, &w);

    EditorPtr editor = newEditor();
    FixedString message{};
    importKmzBytes(archive.data(), (i64)archive.size(), editor.get(), &message, 0);
    EXPECT_NE(std::string(message.text).find("points"), std::string::npos) << message.text;
    EXPECT_EQ(countKmzSlots(editor->pointUsed), 0u);
    EXPECT_EQ(undoLabel(&editor->history), nullptr);
}

}  // namespace
