// The CPU cost of one frame of the tile map over a 1920x1080 window whose tiles are all loaded: the
// per-frame steps of the 128 entries, the look-ups and the clipped textured quads (target: well under
// 1 ms). The scale is the worst case, just past half a level, where the most tiles are visible.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>

#include "LoadedTiles.h"
#include "Core/ImageSlots.h"
#include "Core/Preferences.h"
#include "Map/TileMaps.h"
#include "Platform/Platform.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/MapView.h"

namespace {

void drawFullScreenOfCachedTiles(benchmark::State& state) {
    constexpr f32 kWidth = 1920, kHeight = 1080;
    UiState* ui = (UiState*)std::calloc(1, sizeof(UiState));
    Platform* platform = (Platform*)std::calloc(1, sizeof(Platform));
    Preferences* preferences = (Preferences*)std::calloc(1, sizeof(Preferences));
    TileMaps* tiles = (TileMaps*)std::calloc(1, sizeof(TileMaps));
    ui->width = (i32)kWidth;
    ui->height = (i32)kHeight;
    ui->halfWidth = kWidth / 2;
    ui->halfHeight = kHeight / 2;
    ui->screenRect = Rect{0, kWidth, 0, kHeight};
    preferences->mapUrl = makeString("https://tiles.test/{z}/{x}/{y}.{extension}");
    preferences->mapStyle = makeString("osm-carto");
    preferences->mapStyleFileExtension = makeString("png");

    MapView view = makeMapView(WidgetId{1, "bench"}, MapViewModeMap);
    Rect window{0, kWidth, 0, kHeight};
    updateMapView(&view, &window, Box2{0, 0, -0.5, 0.5}, ui, nullptr, nullptr, MapWheelZooms);
    setMapCenterAndZoom(&view, 0.0123, 0.2345, 256.0 * std::ldexp(1.0, 15) * 0.71);

    // One call takes the memory and asks for the tiles; then every visible tile is made loaded.
    drawTileMaps(&view, ui, platform, preferences, tiles, 0.5f, 0);
    makeTilesInViewLoaded(tiles, &view, platform, ui);
    for (auto _ : state) {
        ui->batches.textured2dUnder.triangleCount = 0;
        drawTileMaps(&view, ui, platform, preferences, tiles, 0.5f, 0);
        benchmark::DoNotOptimize(ui->batches.textured2dUnder.triangleCount);
    }
    state.counters["tiles"] = (f64)tiles->lastVisibleCount;
    state.counters["triangles"] = (f64)ui->batches.textured2dUnder.triangleCount;
    releaseTileMaps(tiles, ui, platform);
    std::free(tiles);
    std::free(preferences);
    std::free(platform);
    std::free(ui);
}
BENCHMARK(drawFullScreenOfCachedTiles)->Unit(benchmark::kMicrosecond);

}  // namespace
