// The filling of one frame's draw batches with the map's icons on a 1920 x 1080 map, and nothing
// else: the processor time of drawOrvikDropPoints and drawVectorOverlay putting the icons' (and the
// labels') vertices into the batches, on this one thread. No GL call is made: the upload, the draws
// and the driver's work of a whole frame with these icons are MapFrameBenchmark's
// ThirtyThousandDropsAndAThousandMarkersInView. The scene: 30,000 Orvik drops all in view, then a KMZ
// overlay of 1,000 markers with their icon spread over the same view (target for the filling: both
// together in at most 0.5 ms). Labels need the font: the first case fills the icons alone, the
// second also the labels of the markers far enough from their neighbours to show one.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "Drone/TarnwickPayloads/DropLocations.h"
#include "Overlays/VectorOverlayDrawing.h"
#include "SourceCommon/Renderer/FontRecord.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/MapView.h"

namespace {

constexpr f64 kViewWidth = 0.0001;  // turns across the window: about 4 km

struct IconScene {
    OrvikDropLocations* drops;
    VectorOverlayLoader* loader;
    UiState* ui;
    MapView view;
    Preferences* preferences;
    std::vector<u8> font;
    u32 icon[16 * 16];
};

void makeScene(IconScene* s, bool labels) {
    s->drops = (OrvikDropLocations*)std::calloc(1, sizeof(OrvikDropLocations));
    s->loader = (VectorOverlayLoader*)std::calloc(1, sizeof(VectorOverlayLoader));
    s->ui = (UiState*)std::calloc(1, sizeof(UiState));
    s->preferences = (Preferences*)std::calloc(1, sizeof(Preferences));
    UiState* ui = s->ui;
    ui->width = 1920, ui->height = 1080, ui->halfWidth = 960, ui->halfHeight = 540;
    ui->screenRect = Rect{0, 1920, 0, 1080};
    // The drop image has a size once it is loaded; no pixels are needed on the processor's side.
    ui->assets[kOrvikDropImage].image.width = ui->assets[kOrvikDropImage].image.height = 64;
    if (labels) {
        std::ifstream in(ORVIK_SOURCE_DIR "/Assets/FONT_SDF_INFO.BIN", std::ios::binary);
        s->font.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (s->font.size() == kFontRecordBytes) ui->fontInfo = s->font.data();
    }
    u64 seed = 5;
    auto unit = [&]() {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return (f64)(seed >> 11) / (f64)(1ull << 53);
    };
    for (u32 i = 0; i < kMaxOrvikDropLocations; i++) {
        f64 x = (unit() - 0.5) * kViewWidth * 0.95, y = (unit() - 0.5) * kViewWidth * 0.5;
        addOrvikDropLocation(s->drops, DropPosition{(i32)(x * kDropPositionScale), (i32)(y * kDropPositionScale)}, i);
    }
    VectorOverlay* o = &s->loader->overlay;
    o->markerImageCount = 1;
    o->markerImages[0] = OverlayMarkerImage{0, 16, 16, 0, OverlayImagePresent, {}};
    o->markerImages[0].slot = (u32)allocImageSlot((u8*)s->icon, 16, 16, 4, &ui->imageSlots);
    o->markerStyleCount = 1;
    o->markerStyles[0] = OverlayMarkerStyle{0, {}, 1.0f, 0.5f, 0.0f, OverlayUnitsFraction, OverlayUnitsFraction};
    for (u32 i = 0; i < 1000; i++) {
        OverlayMarker* m = &o->markers[i];
        *m = OverlayMarker{};
        m->x = (unit() - 0.5) * kViewWidth * 0.95;
        m->y = (unit() - 0.5) * kViewWidth * 0.5;
        m->name = makeString("Marker");
        m->nearest = kViewWidth / 40;  // about 50 pixels: far enough for a label
    }
    o->markerCount = 1000;
    s->loader->name = makeString("markers.kmz");
    s->loader->state = 1;
    s->preferences->vectorOverlayFile = s->loader->name;
    s->view = makeMapView(WidgetId{}, MapViewModeMap);
    s->view.rect = s->view.clipRect = Rect{0, 1920, 0, 1080};
    s->view.rectCentreX = 960, s->view.rectCentreY = 540;
    s->view.pixelsPerUnit = 1920 / kViewWidth;
}

void freeScene(IconScene* s) {
    std::free(s->drops);
    std::free(s->loader);
    std::free(s->ui);
    std::free(s->preferences);
}

void drawIcons(benchmark::State& state, bool labels) {
    IconScene scene;
    makeScene(&scene, labels);
    UiState* ui = scene.ui;
    OverlaySelection selection = overlaySelectionOf(scene.preferences);
    for (auto _ : state) {
        DrawBatches* b = &ui->batches;
        b->textured2d.triangleCount = 0;
        b->mapIcons.count = 0;
        b->sdf.quadCount = 0;
        drawOrvikDropPoints(scene.drops, 24, 0.5f, &scene.view, ui);
        drawVectorOverlay(scene.loader, &scene.view, ui, &selection, 0.49f, 20.0f);
        benchmark::DoNotOptimize(b->mapIcons.count);
    }
    state.SetLabel("batch filling only: no GL upload, draw or finish");
    state.counters["icons"] = ui->batches.mapIcons.count;
    state.counters["glyphs"] = ui->batches.sdf.quadCount;
    freeScene(&scene);
}

void BatchFillingOfThirtyThousandDropsAndAThousandMarkers(benchmark::State& state) { drawIcons(state, false); }
BENCHMARK(BatchFillingOfThirtyThousandDropsAndAThousandMarkers)->Unit(benchmark::kMicrosecond);

void BatchFillingOfThirtyThousandDropsAndAThousandLabelledMarkers(benchmark::State& state) { drawIcons(state, true); }
BENCHMARK(BatchFillingOfThirtyThousandDropsAndAThousandLabelledMarkers)->Unit(benchmark::kMicrosecond);

}  // namespace
