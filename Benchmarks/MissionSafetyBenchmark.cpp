// The terrain check of a full mission: 99 waypoints zig-zagging across a loaded 3601 x 3601 SRTM1
// tile (the target is under 5 ms a check).
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "Core/MathEarth.h"
#include "Core/Preferences.h"
#include "Mavlink/VehicleState.h"
#include "Map/ElevationMapLoader.h"
#include "Mission/MissionPath.h"
#include "Mission/MissionSteps.h"

namespace {

std::vector<u8> makeSrtm1Tile() {
    std::vector<u8> bytes((size_t)kSrtm1Bytes);
    for (i64 row = 0; row < kSrtm1Samples; row++) {
        for (i64 column = 0; column < kSrtm1Samples; column++) {
            i32 height = (i32)(800 + 300 * std::sin(column * 0.003) + 200 * std::cos(row * 0.002));
            size_t at = (size_t)(row * kSrtm1Samples + column) * 2;
            bytes[at] = (u8)((u32)height >> 8);
            bytes[at + 1] = (u8)height;
        }
    }
    return bytes;
}

void isWaypointMissionSafe99Waypoints(benchmark::State& state) {
    std::vector<u8> tile = makeSrtm1Tile();
    std::unique_ptr<ElevationMapLoader> loader(new ElevationMapLoader{});
    readSrtmTile(&loader->slots[0].raster, tile.data(), kSrtm1Bytes, 47, 8, kElevationSampleBudget, 4, nullptr);
    loader->slots[0].state = ElevationMapLoaded;
    loader->loadedCount = 1;
    std::unique_ptr<WaypointMissionEditor> editor(new WaypointMissionEditor{});
    std::unique_ptr<VehicleState> vehicle(new VehicleState{});
    std::unique_ptr<Preferences> preferences(new Preferences{});
    preferences->lowAltitudeWarning = 30;
    vehicle->home = StoredPosition{1, 8.05, 47.05, 0};
    editor->takeoffTerrainHeight = kUnknownTerrainHeight;
    rebaseWaypointAltitudes(editor.get(), vehicle.get(), loader.get());
    // High above everything, so that the whole path is walked: 98 crossings of the tile, 4,001 samples.
    for (i32 i = 0; i < kMaxWaypoints; ++i) {
        GeoPoint at = {8.05 + 0.9 * (i % 2), 47.05 + 0.009 * i};
        Vec2 position;
        latLngToMercator(&position, &at);
        Waypoint* w = &editor->waypoints[i];
        w->id = (u32)i + 1;
        w->x = position.x;
        w->y = position.y;
        w->altitude = 2000;
    }
    editor->waypointCount = kMaxWaypoints;
    i32 safe = 0;
    for (auto _ : state) safe += isWaypointMissionSafe(editor.get(), loader.get(), preferences.get(), vehicle.get());
    if (safe != (i32)state.iterations()) state.SkipWithError("the mission was not safe");
    releaseElevationRaster(&loader->slots[0].raster);
}
BENCHMARK(isWaypointMissionSafe99Waypoints)->Unit(benchmark::kMillisecond);

}  // namespace
