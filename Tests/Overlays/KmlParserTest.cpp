// The KML parser against GDAL's OGR reading the same files (written by ogr2ogr and by a script with
// the styles planners use), and the style and geometry rules OGR knows nothing of.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "Overlays/VectorOverlay.h"
#include "Overlays/VectorOverlayFiles.h"
#include "OverlayTestSupport.h"

namespace {

struct OgrReading {
    struct Point {
        double x, y;
        std::string name;
    };
    std::vector<Point> points;
    std::vector<std::vector<double>> lines;  // x y pairs in EPSG:3857
    double area = 0;
};

OgrReading readWithOgr(const std::string& path) {
    OgrReading reading;
    std::istringstream lines(
        runCommandOutput("/usr/bin/python3 " + overlayTestScript("kml_oracle.py") + " read '" + path + "' 2>/dev/null"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "P") {
            OgrReading::Point p;
            fields >> p.x >> p.y;
            std::getline(fields, p.name);
            if (!p.name.empty() && p.name[0] == ' ') p.name.erase(0, 1);
            reading.points.push_back(p);
        } else if (kind == "L") {
            int n;
            fields >> n;
            std::vector<double> xy(2 * n);
            for (double& v : xy) fields >> v;
            reading.lines.push_back(xy);
        } else if (kind == "A") {
            double a;
            fields >> a;
            reading.area += a;
        }
    }
    return reading;
}

double triangleAreaSum(const VectorOverlay* o) {
    double sum = 0;
    for (u32 t = 0; t < o->triangleCount; t++) {
        Vec2 a = o->polygonVertices[o->triangles[3 * t]], b = o->polygonVertices[o->triangles[3 * t + 1]];
        Vec2 c = o->polygonVertices[o->triangles[3 * t + 2]];
        sum += std::fabs((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x)) / 2;
    }
    return sum * kMetresPerTurn * kMetresPerTurn;
}

class KmlParser : public ::testing::Test {
protected:
    void SetUp() override {
        overlay = makeZeroed<VectorOverlay>();
        char pattern[] = "/tmp/orvik-kml-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    HeapPtr<VectorOverlay> overlay;
    std::string folder;
};

TEST_F(KmlParser, PositionsSegmentsAndFilledAreasEqualWhatOgrReadsFromGdalAndPlannerFiles) {
    for (int seed = 1; seed <= 3; seed++) {
        ASSERT_EQ(std::system(("/usr/bin/python3 " + overlayTestScript("kml_oracle.py") + " make " + folder + " " +
                               std::to_string(seed))
                                  .c_str()),
                  0);
        for (const char* file : {"planners.kml", "gdal.kml"}) {
            SCOPED_TRACE(std::string(file) + " seed " + std::to_string(seed));
            std::string path = folder + "/" + file;
            FixedString result = parseKmlText(readFileBytes(path), overlay.get());
            ASSERT_EQ(result.length, 0) << result.text;
            EXPECT_EQ(overlay->message.length, 0) << overlay->message.text;
            OgrReading ogr = readWithOgr(path);
            ASSERT_FALSE(ogr.points.empty() && ogr.lines.empty());

            ASSERT_EQ(overlay->markerCount, ogr.points.size());
            for (size_t i = 0; i < ogr.points.size(); i++) {
                EXPECT_NEAR(overlay->markers[i].x * kMetresPerTurn, ogr.points[i].x, 1e-3);
                EXPECT_NEAR(overlay->markers[i].y * kMetresPerTurn, ogr.points[i].y, 1e-3);
                EXPECT_EQ(std::string(overlay->markers[i].name.text, overlay->markers[i].name.length),
                          ogr.points[i].name);
            }
            size_t segment = 0;
            for (const std::vector<double>& line : ogr.lines) {
                for (size_t k = 0; k + 3 < line.size(); k += 2, segment++) {
                    ASSERT_LT(segment, overlay->lineSegmentCount);
                    const OverlayLineSegment* s = &overlay->lineSegments[segment];
                    EXPECT_NEAR(s->x0 * kMetresPerTurn, line[k], 1e-3);
                    EXPECT_NEAR(s->y0 * kMetresPerTurn, line[k + 1], 1e-3);
                    EXPECT_NEAR(s->x1 * kMetresPerTurn, line[k + 2], 1e-3);
                    EXPECT_NEAR(s->y1 * kMetresPerTurn, line[k + 3], 1e-3);
                }
            }
            EXPECT_EQ(overlay->lineSegmentCount, segment);
            EXPECT_NEAR(triangleAreaSum(overlay.get()), ogr.area, ogr.area * 1e-7);
        }
    }
}

// Polygons with 1 to 1,000 holes of every shape and winding: the filled area is OGR's area within
// 0.1 %, so no join between a hole and its surroundings crosses another ring.
TEST_F(KmlParser, PolygonsWithManyHolesFillExactlyTheAreaOgrMeasures) {
    for (int holes : {1, 2, 3, 7, 50, 200, 1000}) {
        for (int seed = 1; seed <= (holes <= 7 ? 6 : 2); seed++) {
            SCOPED_TRACE(std::to_string(holes) + " holes, seed " + std::to_string(seed));
            std::string path = folder + "/holes.kml";
            ASSERT_EQ(std::system(("/usr/bin/python3 " + overlayTestScript("kml_oracle.py") + " holes " + path + " " +
                                   std::to_string(holes) + " " + std::to_string(seed))
                                      .c_str()),
                      0);
            ASSERT_EQ(parseKmlText(readFileBytes(path), overlay.get()).length, 0);
            OgrReading ogr = readWithOgr(path);
            ASSERT_GT(ogr.area, 0);
            EXPECT_NEAR(triangleAreaSum(overlay.get()), ogr.area, ogr.area * 1e-3);
        }
    }
}

// Holes in line with one another and with the outer ring (square holes on grids, diamonds corner to
// corner, rectangles snapped to a coarse grid, vertices in the middle of edges), where a join from a
// hole runs exactly through another ring's vertex or along its edge, and random holes: the triangles
// add up to OGR's area within 0.1 %, and, by OGR's union of them, they neither overlap nor leave any
// of the polygon uncovered or cover anything outside it.
TEST_F(KmlParser, HolesInLineWithOtherRingsAreFilledExactlyAsOgrMeasuresThePolygon) {
    for (int seed = 1; seed <= 2; seed++) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        ASSERT_EQ(std::system(("/usr/bin/python3 " + overlayTestScript("kml_oracle.py") + " layouts " + folder + " " +
                               std::to_string(seed) + " 2>/dev/null")
                                  .c_str()),
                  0);
        std::istringstream areas(readFileBytes(folder + "/areas.txt"));
        std::map<std::string, double> expected;
        std::string name, names;
        double area;
        while (areas >> name >> area) {
            SCOPED_TRACE(name);
            expected[name] = area;
            ASSERT_GT(area, 0);
            ASSERT_EQ(parseKmlText(readFileBytes(folder + "/" + name + ".kml"), overlay.get()).length, 0);
            EXPECT_NEAR(triangleAreaSum(overlay.get()), area, area * 1e-3);
            std::ofstream triangles(folder + "/" + name + ".tri");
            triangles.precision(17);
            for (u32 t = 0; t < overlay->triangleCount; t++) {
                for (u32 k = 0; k < 3; k++) {
                    Vec2 v = overlay->polygonVertices[overlay->triangles[3 * t + k]];
                    triangles << v.x * kMetresPerTurn << ' ' << v.y * kMetresPerTurn << (k < 2 ? ' ' : '\n');
                }
            }
            names += " " + name;
        }
        ASSERT_GE(expected.size(), 30u);
        std::istringstream cover(runCommandOutput("/usr/bin/python3 " + overlayTestScript("kml_oracle.py") + " cover " +
                                                  folder + names + " 2>/dev/null"));
        size_t checked = 0;
        double unionArea, overlap, uncovered;
        while (cover >> name >> unionArea >> overlap >> uncovered) {
            SCOPED_TRACE(name);
            double polygonArea = expected[name];
            EXPECT_NEAR(unionArea, polygonArea, polygonArea * 1e-6);
            EXPECT_LT(overlap, polygonArea * 1e-6);
            EXPECT_LT(uncovered, polygonArea * 1e-6);
            checked++;
        }
        EXPECT_EQ(checked, expected.size());
    }
}

const char* kStyledDocument = R"(<?xml version="1.0"?>
<kml xmlns="http://www.opengis.net/kml/2.2"><Document>
<Style id="red"><LineStyle><color>ff0000ff</color><width>5</width></LineStyle>
  <PolyStyle><color>800000ff</color><fill>0</fill></PolyStyle>
  <IconStyle><scale>2</scale><Icon><href>https://icons.test/a.png?x=1&amp;y=2</href></Icon>
  <hotSpot x="4" y="0.25" xunits="pixels" yunits="fraction"/></IconStyle></Style>
<Style id="blue"><LineStyle><color>ffff0000</color><width>2</width></LineStyle>
  <IconStyle><Icon><href>https://icons.test/a.png?x=1&amp;y=2</href></Icon></IconStyle></Style>
<Style id="spare"><IconStyle><Icon><href>https://icons.test/never.png</href></Icon></IconStyle></Style>
<StyleMap id="mapped"><Pair><key>normal</key><styleUrl>#red</styleUrl></Pair>
  <Pair><key>highlight</key><styleUrl>#blue</styleUrl></Pair></StyleMap>
<Placemark><name>by map</name><styleUrl>#mapped</styleUrl><LineString><coordinates>0,0 1,1</coordinates></LineString></Placemark>
<Placemark><name>mapped point</name><styleUrl>#mapped</styleUrl><Point><coordinates>190,0</coordinates></Point></Placemark>
<Placemark><name>inline</name><Style><LineStyle><color>ff00ff00</color></LineStyle></Style>
  <LineString><coordinates>2,2,5 3,3,7</coordinates></LineString><Point><coordinates>2,2</coordinates></Point></Placemark>
<Placemark><styleUrl>#red</styleUrl><Polygon><outerBoundaryIs><LinearRing><coordinates>0,0 1,0 1,1 0,1 0,0</coordinates></LinearRing></outerBoundaryIs>
  <innerBoundaryIs><LinearRing><coordinates>0.2,0.2 0.4,0.2 0.4,0.4 0.2,0.2</coordinates></LinearRing></innerBoundaryIs></Polygon></Placemark>
<Placemark><styleUrl>#blue</styleUrl><LineString><coordinates>5,5</coordinates></LineString></Placemark>
</Document></kml>)";

TEST_F(KmlParser, StyleMapsInlineStylesUnfilledPolygonsAndSharedIconsFollowTheirRules) {
    ASSERT_EQ(parseKmlText(kStyledDocument, overlay.get()).length, 0);
    const VectorOverlay* o = overlay.get();
    // The map's line: the first referenced style's colour with width 3.
    EXPECT_EQ(o->lineSegments[0].colour, 0xff0000ffu);
    EXPECT_EQ(o->lineSegments[0].width, 3.0f);
    // The mapped point: a marker style under the map's id copying the first referenced IconStyle.
    ASSERT_EQ(o->markerCount, 2u);
    const OverlayMarkerStyle* style = &o->markerStyles[o->markers[0].styleIndex];
    EXPECT_STREQ(style->id.text, "mapped");
    EXPECT_EQ(style->scale, 2.0f);
    EXPECT_EQ(style->hotSpotX, 4.0f);
    EXPECT_EQ(style->xUnits, (u32)OverlayUnitsPixels);
    EXPECT_EQ(style->hotSpotY, 0.25f);
    EXPECT_EQ(style->yUnits, (u32)OverlayUnitsFraction);
    // Longitude 190 is -170.
    EXPECT_DOUBLE_EQ(o->markers[0].x, -170.0 / 360.0);
    // Inline style only: white, width 1, marker style 0; the altitude changes nothing.
    EXPECT_EQ(o->lineSegments[1].colour, 0xFFFFFFFFu);
    EXPECT_EQ(o->lineSegments[1].width, 1.0f);
    EXPECT_DOUBLE_EQ(o->lineSegments[1].x0, 2.0 / 360.0);
    EXPECT_EQ(o->markers[1].styleIndex, 0);
    EXPECT_STREQ(o->markers[1].name.text, "inline");
    // Fill 0: outlines (4 + 3 segments) but no triangles; the one-point line adds nothing.
    EXPECT_EQ(o->lineSegmentCount, 2u + 4u + 3u);
    EXPECT_EQ(o->triangleCount, 0u);
    EXPECT_EQ(o->lineSegments[2].colour, 0xff0000ffu);
    EXPECT_EQ(o->lineSegments[2].width, 5.0f);
    // Outer ring stored once without its repeated first point; the hole keeps both, then its slot.
    EXPECT_EQ(o->polygonVertexCount, 4u + 4u + 1u);
    // Two Icons of one href share an image; the decoded href is the URL; an unused icon is state 2.
    ASSERT_EQ(o->markerImageCount, 2u);
    EXPECT_STREQ(o->markerImages[0].href.text, "https://icons.test/a.png?x=1&y=2");
    EXPECT_EQ(o->markerImages[0].state, (u32)OverlayImageToDownload);
    EXPECT_EQ(o->markerImages[1].state, (u32)OverlayImageUnused);
}

TEST_F(KmlParser, ADocumentEndingInsideAPlacemarkIsTruncatedAndOverflowsLeaveAWarning) {
    FixedString result = parseKmlText("<kml><Document><Placemark><name>x</name><Point><coordinates>1,2", overlay.get());
    EXPECT_STREQ(result.text, "Truncated file");

    std::string many = "<kml><Document>";
    for (int i = 0; i < 2001; i++) many += "<Placemark><Point><coordinates>" + std::to_string(i * 0.01) + ",1</coordinates></Point></Placemark>";
    many += "</Document></kml>";
    ASSERT_EQ(parseKmlText(many, overlay.get()).length, 0);
    EXPECT_EQ(overlay->markerCount, 2000u);
    EXPECT_STREQ(overlay->message.text, "File contained 2001 markers but our buffer can only hold 2000");
    // Nearest neighbours are 0.01 degrees apart.
    EXPECT_NEAR(overlay->markers[5].nearest, 0.01 / 360, 1e-12);

    // A polygon with more holes than are kept is filled over the rest: the user is told.
    auto square = [](double x, double y, double size) {
        std::string ring = "<LinearRing><coordinates>";
        for (int corner : {0, 1, 2, 3, 0}) {
            double cx = x + ((corner == 1 || corner == 2) ? size : 0), cy = y + (corner >= 2 ? size : 0);
            ring += std::to_string(cx) + "," + std::to_string(cy) + " ";
        }
        return ring + "</coordinates></LinearRing>";
    };
    for (int holes : {1000, 1001}) {
        std::string polygon = "<kml><Document><Placemark><Polygon><outerBoundaryIs>" + square(0, 0, 1.1) +
                              "</outerBoundaryIs>";
        for (int i = 0; i < holes; i++) {
            polygon += "<innerBoundaryIs>" + square(0.05 + (i % 32) * 0.033, 0.05 + (i / 32) * 0.033, 0.01) +
                       "</innerBoundaryIs>";
        }
        polygon += "</Polygon></Placemark></Document></kml>";
        ASSERT_EQ(parseKmlText(polygon, overlay.get()).length, 0);
        if (holes == 1000) {
            EXPECT_EQ(overlay->message.length, 0) << overlay->message.text;
        } else {
            EXPECT_STREQ(overlay->message.text, "File contained a polygon with 1001 holes but our buffer can only hold 1000");
        }
    }
}

// Text after a child element (HTML in a description) is text, not the document's end; a document
// the tokenizer cannot read on keeps what came before and names the line; placemarks nested past
// what is tracked are counted, not dropped without a word; a .kmz whose .kml lies past the entries
// read says so.
TEST_F(KmlParser, MixedContentReadsOnAndEveryCutIsSaid) {
    const char* mixed = "<kml><Document><Placemark><name>a</name><description>Some<br/>HTML <b>bold</b> text"
                        "</description><Point><coordinates>1,2</coordinates></Point></Placemark>\n"
                        "<Placemark><name>b</name><Point><coordinates>3,4</coordinates></Point></Placemark>"
                        "</Document></kml>";
    ASSERT_EQ(parseKmlText(mixed, overlay.get()).length, 0);
    EXPECT_EQ(overlay->markerCount, 2u);
    EXPECT_EQ(overlay->message.length, 0) << overlay->message.text;

    const char* broken = "<kml><Document>\n<Placemark><name>kept</name><Point><coordinates>1,2</coordinates></Point>"
                         "</Placemark>\n<Placemark><name>cut</name>\n<Point><coordinates>3,4</coordinates></Point>< x"
                         "</Placemark></Document></kml>";
    EXPECT_STREQ(parseKmlText(broken, overlay.get()).text, "Truncated file");
    EXPECT_EQ(overlay->markerCount, 2u) << "both points stand before the cut";
    EXPECT_EQ(std::string(overlay->message.text).rfind("Stopped reading at line 4: ", 0), 0u) << overlay->message.text;

    std::string deep = "<kml><Document>";
    for (int i = 0; i < 300; i++) deep += "<Folder>";
    deep += "<Placemark><Point><coordinates>1,2</coordinates></Point></Placemark>";
    for (int i = 0; i < 300; i++) deep += "</Folder>";
    deep += "</Document></kml>";
    ASSERT_EQ(parseKmlText(deep, overlay.get()).length, 0);
    EXPECT_STREQ(overlay->message.text, "Elements nested deeper than 256 levels were left out (3 of them)");

    std::string kmz = folder + "/late.kmz";
    ASSERT_EQ(std::system(("/usr/bin/python3 -c \"import zipfile; z = zipfile.ZipFile('" + kmz +
                           "', 'w'); [z.writestr('files/%d.txt' % i, 'x') for i in range(205)]; "
                           "z.writestr('doc.kml', '<kml><Placemark><Point><coordinates>1,2</coordinates></Point>"
                           "</Placemark></kml>'); z.close()\"")
                              .c_str()),
              0);
    std::string bytes = readFileBytes(kmz);
    EXPECT_STREQ(parseKmz((const u8*)bytes.data(), (i64)bytes.size(), overlay.get()).text,
                 "No .kml among the first 200 of the 206 files in the .kmz");
}

TEST_F(KmlParser, ARingTooLargeForTheTreeIsFilledWithoutWritingPastIt) {
    // 40,000 vertices: the tree's last level would pass its 65,536 slots.
    std::string text = "<kml><Placemark><Polygon><outerBoundaryIs><LinearRing><coordinates>";
    const int n = 40000;
    for (int i = 0; i < n; i++) {
        double a = 2 * 3.14159265358979323846 * i / n;
        char tuple[64];
        std::snprintf(tuple, sizeof tuple, "%.9f,%.9f ", 10 * std::cos(a), 10 * std::sin(a));
        text += tuple;
    }
    text += "</coordinates></LinearRing></outerBoundaryIs></Polygon></Placemark></kml>";
    ASSERT_EQ(parseKmlText(text, overlay.get()).length, 0);
    EXPECT_EQ(overlay->polygonVertexCount, (u32)n);
    EXPECT_EQ(overlay->triangleCount, (u32)n - 2);

    u32 none[1];
    EXPECT_EQ(partitionKdTreePoints(overlay->polygonVertices, none, 0, 0), -1);
    u32 one[1] = {7};
    EXPECT_EQ(partitionKdTreePoints(overlay->polygonVertices, one, 1, 0), 7);
}

TEST_F(KmlParser, InnerRingsBeyondAThousandAreIgnored) {
    std::string text = "<kml><Placemark><Polygon><outerBoundaryIs><LinearRing><coordinates>0,0 60,0 60,60 0,60 0,0"
                       "</coordinates></LinearRing></outerBoundaryIs>";
    for (int i = 0; i < 1005; i++) {
        double x = 1 + (i % 40) * 1.4, y = 1 + (i / 40) * 2.2;
        char ring[200];
        std::snprintf(ring, sizeof ring,
                      "<innerBoundaryIs><LinearRing><coordinates>%g,%g %g,%g %g,%g %g,%g</coordinates></LinearRing>"
                      "</innerBoundaryIs>",
                      x, y, x + 0.5, y, x + 0.5, y + 0.5, x, y);
        text += ring;
    }
    text += "</Polygon></Placemark></kml>";
    ASSERT_EQ(parseKmlText(text, overlay.get()).length, 0);
    // Outer 4 and 1,000 holes of 4 vertices and their slots; the ignored ones keep only outlines.
    EXPECT_EQ(overlay->polygonVertexCount, 4u + 1000u * 5u);
    EXPECT_EQ(overlay->lineSegmentCount, 4u + 1005u * 3u);
}

}  // namespace
