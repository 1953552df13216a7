// Whole Fly Screen frames at 1920 x 1080 on Mesa's software GL (llvmpipe, offscreen through the
// render harness): the screen's update, then the renderer's uploads and draws, with a drone flying
// over a full screen of loaded tiles. Each case alternates frames with and without what it adds, the
// one or the other first in turn, and reports the whole process's processor time per frame for both
// (the GL driver's vertex work runs on the main thread, its rasteriser on threads of its own; each
// frame ends with glFinish, so a frame's work is all in its own timing) and their ratio:
// - a KML of 1,000,000 points, a fire perimeter with bends of every size down to centimetres, all of
//   it in view (target: at most 1.5 times the frame without it);
// - the same million points as a flight wandering over two kilometres, all in view;
// - 30,000 drops and a KMZ of 1,000 markers, all in view.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cmath>
#include <cstdlib>
#include <functional>

#include "AppState/AppState.h"
#include "LoadedTiles.h"
#include "Core/MathEarth.h"
#include "Overlays/VectorOverlayLoader.h"
#include "Screens/FlyScreen.h"
#include "Screens/ChildScreens.h"
#include "Screens/MainScreen.h"
#include "SourceCommon/UserInterface/UiMetrics.h"
#include "Support/RenderHarness.h"

namespace {

constexpr f64 kLatitude = 47.397742;
constexpr f64 kLongitude = 8.545594;
constexpr f64 kPi = 3.14159265358979323846;

RenderHarness* gHarness = nullptr;
u64 harnessClock() { return gHarness ? gHarness->now : 0; }

Vec2 mercatorOf(f64 longitude, f64 latitude) {
    GeoPoint geo{longitude, latitude};
    Vec2 out;
    latLngToMercator(&out, &geo);
    return out;
}

// The drone flies a circle of 500 m around the start.
void flyScreenUpdate(Platform* platform, UiState* ui, AppState* app) {
    f64 t = (f64)gHarness->frameCount * 0.01;
    VehicleState* v = &app->droneConnection.vehicle;
    v->globalPosition = GlobalPosition{gHarness->now, kLongitude + 0.0066 * std::cos(t), kLatitude + 0.0045 * std::sin(t),
                                       40, 540};
    v->yaw = (f32)(t + kPi / 2);
    v->lastHeardTime = gHarness->now;
    app->uiMetrics = computeUiMetrics(ui->screenRect);
    updateScreen(&app->screenStack, platform, ui, app);
}

// The processor time of every thread of the process: the main thread's and the GL driver's.
double processSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

void addSegment(VectorOverlay* overlay, const OverlayLineSegment& segment) { appendOverlayLineSegment(overlay, segment); }
void overlayLoaded(VectorOverlayLoader* loader) { buildOverlayGeometry(&loader->geometry, &loader->overlay); }

struct FlyScreenRig {
    RenderHarness harness{};
    AppState* app = nullptr;
    bool ok = false;

    FlyScreenRig() {
        if (startRenderHarness(&harness, 1920, 1080).length) return;
        gHarness = &harness;
        app = &harness.app->app;
        harness.now = 10000000;
        harness.platform->documentsFolderAccess = harness.platform->appFolderAccess = 1;
        ScreenStack* stack = &app->screenStack;
        stack->clock = harnessClock;
        stack->depth = 2;
        stack->screens[0] = mainScreen;
        stack->screens[1] = flyScreen;
        clearScreenScratch(stack);
        Preferences* p = &app->preferences;
        p->mapUrl = makeString("https://tiles.test/{z}/{x}/{y}.{extension}");
        p->mapStyle = makeString("osm-carto");
        p->mapStyleFileExtension = makeString("png");
        app->droneConnection.vehicle.home = StoredPosition{1, kLongitude, kLatitude, 500};
        app->droneConnection.vehicle.autopilotKind = AutopilotPx4;
        setHarnessUpdate(&harness, flyScreenUpdate);
        Renderer* renderer = &harness.app->renderer;
        for (i32 frame = 0; frame < 400; frame++) {
            bool built = true;
            for (const ShaderProgram& program : renderer->shaders.programs) built = built && program.program != 0;
            bool assetsDone = true;
            for (const ImageAsset& asset : renderer->ui.assets) assetsDone = assetsDone && asset.state >= 2;
            if (built && renderer->ui.fontInfo && assetsDone) break;
            runHarnessFrame(&harness);
        }
        // From here the file thread's work is not the main thread's: its requests wait.
        harness.runFilePasses = 0;
        ok = true;
    }
    ~FlyScreenRig() {
        if (ok) stopRenderHarness(&harness);
        gHarness = nullptr;
    }
    FlyScreenState* state() { return (FlyScreenState*)app->screenStack.screenState; }

    // The view: centred on the start, the given metres across the window.
    void viewAcross(f64 metres) {
        runHarnessFrame(&harness);
        Vec2 centre = mercatorOf(kLongitude, kLatitude);
        f64 metresPerTurn = metersPerDegreeLongitude(kLatitude) * 360;
        setMapCenterAndZoom(&state()->mapView, centre.x, centre.y, 1920 * metresPerTurn / metres);
        runHarnessFrame(&harness);
        // The tiles in view are taken as loaded (grey pixels), as the tile cache would have them.
        UiState* ui = &harness.app->renderer.ui;
        for (TileEntry& entry : app->tileMaps.entries) {
            for (i64 k = 0; entry.pixels && k < kTileImageBytes; k++) entry.pixels[k] = (u8)(k % 4 == 3 ? 255 : 180);
        }
        makeTilesInViewLoaded(&app->tileMaps, &state()->mapView, harness.platform, ui);
        runHarnessFrames(&harness, 3);
    }

    // Alternates frames with (show(true)) and without (show(false)) what the case adds, the frame
    // with it first on every other iteration.
    void alternate(benchmark::State& state, const std::function<void(bool)>& show) {
        f64 with = 0, without = 0;
        for (i32 k = 0; k < 4; k++) {  // the first frames upload what is new
            show(k % 2 == 0);
            runHarnessFrame(&harness);
        }
        i64 iteration = 0;
        for (auto _ : state) {
            for (i32 k = 0; k < 2; k++) {
                bool shown = (k == 0) == (iteration % 2 == 1);
                show(shown);
                f64 start = processSeconds();
                runHarnessFrame(&harness);
                (shown ? with : without) += processSeconds() - start;
            }
            iteration++;
        }
        f64 frames = (f64)state.iterations();
        state.counters["without_ms"] = without * 1e3 / frames;
        state.counters["with_ms"] = with * 1e3 / frames;
        state.counters["ratio"] = with / without;
        state.counters["missing_draws"] = harness.app->renderer.missingDraws;
    }
};

// The segments of the band the view draws from, of all the overlay's.
void bandCounters(benchmark::State& state, FlyScreenRig& rig) {
    const OverlayGeometry* g = &rig.app->vectorOverlayLoader.gpu.taken;
    if (g->bandCount == 0) return;
    u32 band = overlayBandFor(g, rig.state()->mapView.pixelsPerUnit);
    state.counters["band_segments"] = g->bands[band].segmentCount;
    state.counters["segments"] = rig.app->vectorOverlayLoader.overlay.lineSegmentCount;
    u64 kept = 0;
    for (u32 b = 0; b < g->bandCount; b++) kept += g->bands[b].segmentCount;
    state.counters["all_bands_segments"] = (f64)kept;
    state.counters["bands"] = g->bandCount;
}

// Shows the loader's overlay while `shown`, by the selection's name.
void showOverlay(AppState* app, bool shown) {
    app->preferences.vectorOverlayFile = shown ? app->vectorOverlayLoader.name : FixedString{};
}

void loadOverlay(AppState* app, const std::function<Vec2(u32)>& point, u32 count) {
    VectorOverlayLoader* loader = &app->vectorOverlayLoader;
    clearVectorOverlay(&loader->overlay);
    Vec2 previous = point(0);
    for (u32 i = 1; i < count; i++) {
        Vec2 next = point(i);
        addSegment(&loader->overlay, OverlayLineSegment{previous.x, previous.y, next.x, next.y, 0xFF0000FF, 2});
        previous = next;
    }
    overlayLoaded(loader);
    loader->name = makeString("million.kml");
    loader->state = 1;
}

// A fire perimeter of about 10 km radius, a million points 6 cm apart: bends of every size, each
// size's bends the smaller the shorter (amplitude falling as the 1.5th power of the frequency, as
// natural boundaries have them), down to a few centimetres.
void MillionPointPerimeterAllInView(benchmark::State& state) {
    FlyScreenRig rig;
    if (!rig.ok) return state.SkipWithError("no GL context");
    Vec2 centre = mercatorOf(kLongitude, kLatitude);
    f64 radius = 10000 / (metersPerDegreeLongitude(kLatitude) * 360);
    u64 seed = 3;
    auto unit = [&]() {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return (f64)(seed >> 11) / (f64)(1ull << 53);
    };
    constexpr i32 kBends = 40;
    f64 frequency[kBends], amplitude[kBends], phase[kBends];
    for (i32 k = 0; k < kBends; k++) {
        frequency[k] = std::floor(3 * std::pow(1.3, k));  // 3 .. about 80,000 bends round the perimeter
        amplitude[k] = 0.15 * std::pow(frequency[k] / 3, -1.5);
        phase[k] = 2 * kPi * unit();
    }
    loadOverlay(rig.app, [&](u32 i) {
        f64 a = 2 * kPi * i / 999999.0, r = 1;
        for (i32 k = 0; k < kBends; k++) r += amplitude[k] * std::sin(frequency[k] * a + phase[k]);
        return Vec2{centre.x + radius * r * std::cos(a), centre.y + radius * r * std::sin(a)};
    }, 1000000);
    rig.viewAcross(26000);
    rig.alternate(state, [&](bool shown) { showOverlay(rig.app, shown); });
    bandCounters(state, rig);
}
BENCHMARK(MillionPointPerimeterAllInView)->Unit(benchmark::kMillisecond)->Iterations(60);

// A flight of a million steps of 0.2 m wandering within two kilometres.
void MillionPointWanderAllInView(benchmark::State& state) {
    FlyScreenRig rig;
    if (!rig.ok) return state.SkipWithError("no GL context");
    Vec2 centre = mercatorOf(kLongitude, kLatitude);
    f64 step = 0.2 / (metersPerDegreeLongitude(kLatitude) * 360), bound = 1000 / (metersPerDegreeLongitude(kLatitude) * 360);
    u64 seed = 1;
    f64 heading = 0;
    Vec2 at = centre;
    loadOverlay(rig.app, [&](u32) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        heading += ((f64)(seed >> 11) / (f64)(1ull << 53) - 0.5) * 0.6;
        at = Vec2{at.x + step * std::cos(heading), at.y + step * std::sin(heading)};
        if (std::fabs(at.x - centre.x) > bound || std::fabs(at.y - centre.y) > bound) heading += kPi;
        return at;
    }, 1000000);
    rig.viewAcross(2600);
    rig.alternate(state, [&](bool shown) { showOverlay(rig.app, shown); });
    bandCounters(state, rig);
}
BENCHMARK(MillionPointWanderAllInView)->Unit(benchmark::kMillisecond)->Iterations(60);

// 30,000 drops and a KMZ of 1,000 markers with an icon, over 3 km.
void ThirtyThousandDropsAndAThousandMarkersInView(benchmark::State& state) {
    FlyScreenRig rig;
    if (!rig.ok) return state.SkipWithError("no GL context");
    AppState* app = rig.app;
    Vec2 centre = mercatorOf(kLongitude, kLatitude);
    f64 across = 2500 / (metersPerDegreeLongitude(kLatitude) * 360);
    u64 seed = 9;
    auto unit = [&]() {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return (f64)(seed >> 11) / (f64)(1ull << 53) - 0.5;
    };
    OrvikDropLocations drops{};
    for (u32 i = 0; i < kMaxOrvikDropLocations; i++) {
        f64 x = centre.x + unit() * across, y = centre.y + unit() * across * 0.5;
        addOrvikDropLocation(&drops, DropPosition{(i32)(x * kDropPositionScale), (i32)(y * kDropPositionScale)}, i);
    }
    VectorOverlayLoader* loader = &app->vectorOverlayLoader;
    VectorOverlay* o = &loader->overlay;
    clearVectorOverlay(o);
    static u32 icon[16 * 16];
    for (u32& p : icon) p = 0xFF2080FF;
    o->markerImageCount = 1;
    o->markerImages[0] = OverlayMarkerImage{0, 16, 16, 0, OverlayImagePresent, {}};
    o->markerImages[0].slot = (u32)allocImageSlot((u8*)icon, 16, 16, 4, &rig.harness.app->renderer.ui.imageSlots);
    o->markerStyleCount = 1;
    o->markerStyles[0] = OverlayMarkerStyle{0, {}, 1.0f, 0.5f, 0.0f, OverlayUnitsFraction, OverlayUnitsFraction};
    for (u32 i = 0; i < 1000; i++) {
        o->markers[i] = OverlayMarker{};
        o->markers[i].x = centre.x + unit() * across;
        o->markers[i].y = centre.y + unit() * across * 0.5;
        o->markers[i].name = makeString("Marker");
        o->markers[i].nearest = 1e-9;  // crowded: icons without labels
    }
    o->markerCount = 1000;
    overlayLoaded(loader);
    loader->name = makeString("markers.kmz");
    loader->state = 1;
    rig.viewAcross(3000);
    rig.alternate(state, [&](bool shown) {
        app->orvikDropLocations.count = 0;
        if (shown) app->orvikDropLocations = drops;
        showOverlay(app, shown);
    });
}
BENCHMARK(ThirtyThousandDropsAndAThousandMarkersInView)->Unit(benchmark::kMillisecond)->Iterations(60);

}  // namespace
