// The vector overlay: a 50 MB KML parsed, beside python3-gdal's OGR reading every feature of the same
// file (its time is reported as the counter ogr_seconds, and ours / OGR as ratio: below 1 means ours is
// faster); and one frame of 50,000 segments, 10,000 triangles and 2,000 markers put into the
// batches of a 1920 x 1080 window (CPU time per frame; the lines and triangles are drawn from the
// GPU, so a frame only places their chunks; labels need a loaded font and are left out).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "Overlays/VectorOverlayDrawing.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/MapView.h"

namespace {

const char* kKmlPath = "/tmp/orvik-overlay-benchmark.kml";

// About 50 MB: lines of 100 points, polygons of 12 points, and points, with styles.
std::string makeLargeKml() {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::string kml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>\n"
                      "<Style id=\"line\"><LineStyle><color>ff0000ff</color><width>3</width></LineStyle></Style>\n"
                      "<Style id=\"area\"><LineStyle><color>ff00ffff</color></LineStyle><PolyStyle><color>4000ff00</color>"
                      "</PolyStyle></Style>\n";
    char tuple[64];
    for (int i = 0; kml.size() < 50000000; i++) {
        double cx = -120 + 10 * unit(random), cy = 35 + 10 * unit(random);
        kml += "<Placemark><name>Feature ";
        kml += std::to_string(i);
        if (i % 3 == 0) {
            kml += "</name><styleUrl>#line</styleUrl><LineString><coordinates>";
            for (int k = 0; k < 100; k++) {
                std::snprintf(tuple, sizeof tuple, "%.7f,%.7f,0 ", cx + 0.001 * k, cy + 0.01 * unit(random));
                kml += tuple;
            }
            kml += "</coordinates></LineString></Placemark>\n";
        } else if (i % 3 == 1) {
            kml += "</name><styleUrl>#area</styleUrl><Polygon><outerBoundaryIs><LinearRing><coordinates>";
            for (int k = 0; k <= 12; k++) {
                double a = 2 * 3.14159265358979 * (k % 12) / 12;
                std::snprintf(tuple, sizeof tuple, "%.7f,%.7f,0 ", cx + 0.01 * std::cos(a), cy + 0.01 * std::sin(a));
                kml += tuple;
            }
            kml += "</coordinates></LinearRing></outerBoundaryIs></Polygon></Placemark>\n";
        } else {
            std::snprintf(tuple, sizeof tuple, "%.7f,%.7f,0", cx, cy);
            kml += "</name><Point><coordinates>";
            kml += tuple;
            kml += "</coordinates></Point></Placemark>\n";
        }
    }
    kml += "</Document></kml>\n";
    return kml;
}

double ogrSeconds() {
    std::string command = std::string("/usr/bin/python3 -c 'import time\nfrom osgeo import ogr\nt=time.perf_counter()\n"
                                      "d=ogr.Open(\"") + kKmlPath + "\")\nn=0\nfor l in d:\n for f in l:\n  g=f.GetGeometryRef()\n"
                                      "  n+=g.GetPointCount()+g.GetGeometryCount()\nprint(time.perf_counter()-t)' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    double seconds = 0;
    if (pipe) {
        if (std::fscanf(pipe, "%lf", &seconds) != 1) seconds = 0;
        pclose(pipe);
    }
    return seconds;
}

void ParseLargeKmlBesideOgr(benchmark::State& state) {
    static std::string kml = makeLargeKml();
    FILE* file = std::fopen(kKmlPath, "wb");
    std::fwrite(kml.data(), 1, kml.size(), file);
    std::fclose(file);
    double ogr = ogrSeconds();
    VectorOverlay* overlay = (VectorOverlay*)std::calloc(1, sizeof(VectorOverlay));
    double ours = 0;
    i64 runs = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        parseKmlDocument((const u8*)kml.data(), (i64)kml.size(), overlay);
        ours += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        runs++;
        benchmark::DoNotOptimize(overlay->lineSegmentCount);
    }
    state.counters["ogr_seconds"] = ogr;
    state.counters["ours_seconds"] = ours / (double)runs;
    state.counters["ratio"] = ogr > 0 ? ours / (double)runs / ogr : 0;
    state.counters["segments"] = overlay->lineSegmentCount;
    state.counters["triangles"] = overlay->triangleCount;
    state.SetBytesProcessed((i64)kml.size() * runs);
    releaseVectorOverlay(overlay);
    std::free(overlay);
    std::remove(kKmlPath);
}
BENCHMARK(ParseLargeKmlBesideOgr)->Unit(benchmark::kMillisecond)->Iterations(3);

void DrawOverlayFrame(benchmark::State& state) {
    VectorOverlayLoader* loader = (VectorOverlayLoader*)std::calloc(1, sizeof(VectorOverlayLoader));
    VectorOverlay* o = &loader->overlay;
    UiState* ui = (UiState*)std::calloc(1, sizeof(UiState));
    std::mt19937 random(9);
    std::uniform_real_distribution<double> near(-0.0005, 0.0005);
    std::uniform_real_distribution<double> high(-0.00027, 0.00027);
    std::uniform_real_distribution<double> step(-0.00001, 0.00001);
    // Everything within the view (0.001 turns across 1,920 pixels): polylines of steps up to 20
    // pixels, and small triangles.
    Vec2 at{0, 0};
    for (u32 i = 0; i < 50000; i++) {
        if (i % 100 == 0) at = Vec2{near(random), high(random)};
        Vec2 next{at.x + step(random), at.y + step(random)};
        appendOverlayLineSegment(o, OverlayLineSegment{at.x, at.y, next.x, next.y, 0xFF0000FF, 2});
        at = next;
    }
    for (u32 i = 0; i < 30000; i += 3) {
        Vec2 corner{near(random), high(random)};
        o->polygonVertices[i] = corner;
        o->polygonVertices[i + 1] = Vec2{corner.x + 0.00001, corner.y};
        o->polygonVertices[i + 2] = Vec2{corner.x, corner.y + 0.00001};
    }
    o->polygonVertexCount = 30000;
    for (u32 t = 0; t < 10000; t++) {
        o->triangles[3 * t] = (u16)(3 * t), o->triangles[3 * t + 1] = (u16)(3 * t + 1), o->triangles[3 * t + 2] = (u16)(3 * t + 2);
        o->triangleColours[t] = 0x4000FF00;
    }
    o->triangleCount = 10000;
    o->markerImageCount = 1;
    static u32 iconPixels[64];
    o->markerImages[0] = OverlayMarkerImage{0, 8, 8, 0, OverlayImagePresent, {}};
    o->markerImages[0].slot = (u32)allocImageSlot((u8*)iconPixels, 8, 8, 4, &ui->imageSlots);
    o->pixelWordCount = 64;
    o->markerStyleCount = 1;
    o->markerStyles[0] = OverlayMarkerStyle{0, {}, 1.0f, 0.5f, 0.5f, OverlayUnitsFraction, OverlayUnitsFraction};
    for (u32 i = 0; i < 2000; i++) {
        o->markers[i] = OverlayMarker{};
        o->markers[i].x = near(random);
        o->markers[i].y = high(random);
        o->markers[i].nearest = 1e-9;
    }
    o->markerCount = 2000;
    ui->width = 1920, ui->height = 1080, ui->halfWidth = 960, ui->halfHeight = 540;
    MapView view = makeMapView(WidgetId{}, MapViewModeMap);
    view.rect = view.clipRect = Rect{0, 1920, 0, 1080};
    view.rectCentreX = 960, view.rectCentreY = 540;
    view.pixelsPerUnit = 1920 / 0.001;
    buildOverlayGeometry(&loader->geometry, o);
    for (auto _ : state) {
        ui->batches.retained.count = ui->batches.mapIcons.count = 0;
        drawVectorOverlayItems(ui, &view, loader, 20.0f, 0.5f);
        benchmark::DoNotOptimize(ui->batches.retained.count);
    }
    state.counters["retained_draws"] = ui->batches.retained.count;
    state.counters["icons"] = ui->batches.mapIcons.count;
    releaseVectorOverlay(o);
    std::free(loader);
    std::free(ui);
}
BENCHMARK(DrawOverlayFrame)->Unit(benchmark::kMicrosecond);

}  // namespace
