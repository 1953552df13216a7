// One frame of the drawing editor on a 1920 x 1080 map: 10,000 segments (100 polylines of 100
// segments) and 1,000 markers in view, with point discs, the line end's rings, marker images and
// their labels in the program's own font, the interaction on (CPU time per frame; target under 1 ms).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "KmzEditor/KmzEditorDrawing.h"
#include "SourceCommon/Renderer/FontRecord.h"
#include "SourceCommon/UserInterface/Screen.h"

namespace {

void UpdateKmzEditorFrame(benchmark::State& state) {
    KmzEditor* editor = (KmzEditor*)std::calloc(1, sizeof(KmzEditor));
    UiState* ui = (UiState*)std::calloc(1, sizeof(UiState));
    ScreenStack* stack = (ScreenStack*)std::calloc(1, sizeof(ScreenStack));
    PointerSlot pointers[5] = {};
    stack->pointers = pointers;
    stack->now = 1000000;
    std::ifstream in(ORVIK_SOURCE_DIR "/Assets/FONT_SDF_INFO.BIN", std::ios::binary);
    std::vector<u8> font((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (font.size() == kFontRecordBytes) ui->fontInfo = font.data();
    for (u32 k = 0; k < kKmzMarkerKindCount; ++k) {
        i32 index = kmzMarkerImageAsset(k);
        if (index < 0) continue;
        ui->assets[index].state = 2;
        ui->assets[index].image.width = ui->assets[index].image.height = 128;
    }
    std::mt19937 random(3);
    std::uniform_real_distribution<double> across(-0.0005, 0.0005), high(-0.00027, 0.00027), step(-0.00001, 0.00001);
    u32 point = 0, line = 0;
    for (u32 polyline = 0; polyline < 100; ++polyline) {
        Vec2 at{across(random), high(random)};
        for (u32 k = 0; k <= 100; ++k, ++point) {
            editor->points[point] = KmzPoint{at.x, at.y};
            editor->pointColor[point] = (u8)(polyline % 7);
            editor->pointUsed[point >> 6] |= 1ull << (point & 63);
            if (k > 0) {
                editor->lines[line] = KmzLine{point - 1, point, polyline % 7};
                editor->lineUsed[line >> 6] |= 1ull << (line & 63);
                ++line;
            }
            at = Vec2{at.x + step(random), at.y + step(random)};
        }
    }
    for (u32 m = 0; m < 1000; ++m) {
        editor->markers[m] = KmzMarker{across(random), high(random), m, m % 5};
        editor->markerUsed[m >> 6] |= 1ull << (m & 63);
    }
    editor->lineEnd = (i32)point - 1;
    ui->width = 1920, ui->height = 1080, ui->halfWidth = 960, ui->halfHeight = 540;
    ui->screenRect = Rect{0, 1920, 0, 1080};
    MapView view = makeMapView(WidgetId{}, MapViewModeMap);
    view.rect = view.clipRect = Rect{0, 1920, 0, 1080};
    view.rectCentreX = 960, view.rectCentreY = 540;
    view.pixelsPerUnit = 1920 / 0.001;
    for (auto _ : state) {
        ui->batches.line2d.vertexCount = ui->batches.line2d.triangleCount = 0;
        ui->batches.coloredRect.vertexCount = ui->batches.coloredRect.triangleCount = 0;
        ui->batches.sdf.quadCount = 0;
        ui->batches.textured2d.triangleCount = 0;
        updateKmzEditor(editor, 0.5f, 1, &view, ui, stack, 24);
        benchmark::DoNotOptimize(ui->batches.line2d.vertexCount);
    }
    state.counters["line_vertices"] = ui->batches.line2d.vertexCount;
    state.counters["glyphs"] = ui->batches.sdf.quadCount;
    state.counters["icon_triangles"] = ui->batches.textured2d.triangleCount;
    std::free(stack);
    std::free(ui);
    std::free(editor);
}
BENCHMARK(UpdateKmzEditorFrame)->Unit(benchmark::kMicrosecond);

}  // namespace
