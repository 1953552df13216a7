// One fly screen frame at 1920 x 1080 with every map layer in view: a full screen of loaded tiles, a
// 99-waypoint mission, 30,000 Orvik drops, 64 traffic slots, a vector overlay of 50,000 segments,
// the drone with its home, and the top bar with its indicators and telemetry text (target: under
// 4 ms of CPU per frame). Text needs a loaded font and is left out; everything else is drawn into the
// frame's batches as the screen runner would have it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "AppState/AppState.h"
#include "LoadedTiles.h"
#include "Core/MathEarth.h"
#include "Platform/Platform.h"
#include "Screens/ChildScreens.h"
#include "Screens/FlyScreen.h"
#include "SourceCommon/Renderer/UiState.h"

namespace {

constexpr f64 kLatitude = 47.397742;
constexpr f64 kLongitude = 8.545594;
constexpr f32 kWidth = 1920, kHeight = 1080;

Vec2 mercatorOf(f64 latitude, f64 longitude) {
    GeoPoint geo{longitude, latitude};
    Vec2 out;
    latLngToMercator(&out, &geo);
    return out;
}

void resetBatches(UiState* ui) {
    DrawBatches* b = &ui->batches;
    b->colored2d.vertexCount = b->colored2d.triangleCount = 0;
    b->line2d.vertexCount = b->line2d.triangleCount = 0;
    b->line2dUnder.vertexCount = b->line2dUnder.triangleCount = 0;
    b->textured2d.triangleCount = 0;
    b->textured2dUnder.triangleCount = 0;
    b->textured2dMiddle.triangleCount = 0;
    b->coloredRect.vertexCount = b->coloredRect.triangleCount = 0;
    b->coloredRectUnder.vertexCount = b->coloredRectUnder.triangleCount = 0;
    b->sdf.quadCount = 0;
    b->texturedPerspective.count = 0;
}

// Fills every plan, list and overlay, then makes the tiles in view loaded.
void fillEveryLayer(AppState* app, UiState* ui, Platform* platform, ScreenStack* stack, FlyScreenState* state) {
    std::mt19937 random(3);
    std::uniform_real_distribution<f64> spread(-0.004, 0.004);
    VehicleState* v = &app->droneConnection.vehicle;
    v->globalPosition = GlobalPosition{1, kLongitude, kLatitude, 40, 540};
    v->home = StoredPosition{1, kLongitude + 0.001, kLatitude, 500};
    v->lastHeardTime = 1;
    v->autopilotKind = AutopilotPx4;
    WaypointMissionEditor* mission = &app->waypointMissionEditor;
    for (i32 i = 0; i < kMaxWaypoints; i++) {
        Vec2 at = mercatorOf(kLatitude + spread(random), kLongitude + spread(random));
        mission->waypoints[i] = Waypoint{};
        mission->waypoints[i].id = (u32)(i + 1);
        mission->waypoints[i].x = at.x;
        mission->waypoints[i].y = at.y;
        mission->waypoints[i].altitude = 40;
    }
    mission->waypointCount = kMaxWaypoints;
    mission->nextWaypointId = kMaxWaypoints + 1;
    for (u32 i = 0; i < kMaxOrvikDropLocations; i++) {
        GeoPoint at{kLongitude + spread(random), kLatitude + spread(random)};
        DropPosition position;
        encodeDropPosition(&position, &at);
        addOrvikDropLocation(&app->orvikDropLocations, position, i);
    }
    AirTrafficList* traffic = &app->droneConnection.airTraffic;
    for (i32 i = 0; i < kAirTrafficSlots; i++) {
        Vec2 at = mercatorOf(kLatitude + spread(random), kLongitude + spread(random));
        traffic->slots[i] = AirTrafficSlot{at.x, at.y, 200.0 + 20 * i, 10.0 * i, 50, 1, (u32)i, 0, "FLY", {}};
    }
    traffic->usedSlots = ~0ull;
    for (i32 i = 0; i < 3; i++) {
        app->orvikGeofence.points[i] = mercatorOf(kLatitude + spread(random), kLongitude + spread(random));
        app->transectRegion.points[i] = mercatorOf(kLatitude + spread(random), kLongitude + spread(random));
    }
    app->orvikGeofence.pointCount = app->transectRegion.pointCount = 3;

    VectorOverlayLoader* loader = &app->vectorOverlayLoader;
    VectorOverlay* overlay = &loader->overlay;
    Vec2 centre = mercatorOf(kLatitude, kLongitude);
    // The view is about 3e-5 turns wide: polylines of 100 short steps all over it.
    std::uniform_real_distribution<f64> near(-1e-7, 1e-7);
    Vec2 at = centre;
    for (u32 i = 0; i < 50000; i++) {
        if (i % 100 == 0) at = Vec2{centre.x + 130 * near(random), centre.y + 70 * near(random)};
        Vec2 next{at.x + near(random), at.y + near(random)};
        appendOverlayLineSegment(overlay, OverlayLineSegment{at.x, at.y, next.x, next.y, 0xFF0000FF, 2});
        at = next;
    }
    buildOverlayGeometry(&loader->geometry, overlay);
    app->preferences.vectorOverlayFile = makeString("bench.kml");
    loader->name = app->preferences.vectorOverlayFile;
    loader->state = 1;

    app->preferences.mapUrl = makeString("https://tiles.test/{z}/{x}/{y}.{extension}");
    app->preferences.mapStyle = makeString("osm-carto");
    app->preferences.mapStyleFileExtension = makeString("png");
    app->preferences.payloadType = PayloadOrvik;
    app->preferences.showHorizontalGroundSpeed = app->preferences.showVerticalSpeed = 1;
    app->preferences.showLatLng = app->preferences.showDistanceFromHome = 1;

    // One frame centres the map on the drone and asks for the tiles; then the tiles in view are made
    // loaded.
    ScreenResult result{};
    flyScreen(platform, stack, ui, app, &result, state);
    makeTilesInViewLoaded(&app->tileMaps, &state->mapView, platform, ui);
}

void flyScreenFrameWithEveryLayer(benchmark::State& bench) {
    AppState* app = (AppState*)std::calloc(1, sizeof(AppState));
    UiState* ui = (UiState*)std::calloc(1, sizeof(UiState));
    Platform* platform = (Platform*)std::calloc(1, sizeof(Platform));
    ui->width = (i32)kWidth;
    ui->height = (i32)kHeight;
    ui->halfWidth = kWidth / 2;
    ui->halfHeight = kHeight / 2;
    ui->screenRect = ui->safeRect = Rect{0, kWidth, 0, kHeight};
    app->uiMetrics = computeUiMetrics(ui->screenRect);
    // Icons are drawn once their images have a size; no pixels are needed on the CPU side.
    for (ImageAsset& asset : ui->assets) asset.image.width = asset.image.height = 64;
    ScreenStack* stack = &app->screenStack;
    stack->pointers = platform->pointers;
    stack->now = 1000000;
    stack->dragThresholdSquared = 100;
    stack->depth = 2;
    FlyScreenState* state = (FlyScreenState*)stack->screenState;
    fillEveryLayer(app, ui, platform, stack, state);
    for (auto _ : bench) {
        resetBatches(ui);
        stack->now += 16667;
        ScreenResult result{};
        flyScreen(platform, stack, ui, app, &result, state);
        benchmark::DoNotOptimize(ui->batches.textured2d.triangleCount);
    }
    bench.counters["tiles"] = (f64)app->tileMaps.lastVisibleCount;
    bench.counters["tile_triangles"] = (f64)ui->batches.textured2dUnder.triangleCount;
    bench.counters["icon_triangles"] = (f64)ui->batches.textured2d.triangleCount;
    bench.counters["line_vertices"] = (f64)ui->batches.line2d.vertexCount;
    releaseTileMaps(&app->tileMaps, ui, platform);
    std::free(platform);
    std::free(ui);
    std::free(app);
}
BENCHMARK(flyScreenFrameWithEveryLayer)->Unit(benchmark::kMicrosecond);

}  // namespace
