// The app cache's per-frame change check with both drop lists full, and the preferences' per-frame
// step once loaded: the costs every frame pays.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "AppState/AppState.h"
#include "Application/AppCache.h"
#include "Application/PreferencesFile.h"

namespace {

void appCacheChangeCheckWithFullDropLists(benchmark::State& state) {
    AppState* app = (AppState*)std::calloc(1, sizeof(AppState));
    for (u32 i = 0; i < kMaxOrvikDropLocations; i++) {
        addOrvikDropLocation(&app->orvikDropLocations, DropPosition{(i32)i, 1}, i);
    }
    for (u32 i = 0; i < kMaxVoskDropLocations; i++) {
        addVoskDropLocation(&app->dodireruDropLocations, DropPosition{}, i, 1);
    }
    for (auto _ : state) {
        i64 total = 0;
        for (const AppCacheField& row : appCacheFields) total += cacheFieldFingerprint(app, &row);
        benchmark::DoNotOptimize(total);
    }
    std::free(app);
}
BENCHMARK(appCacheChangeCheckWithFullDropLists)->Unit(benchmark::kMicrosecond);

void preferencesTextWrittenAndRead(benchmark::State& state) {
    static Preferences preferences;
    setDefaultPreferences(&preferences, 0);
    static u8 buffer[65536];
    for (auto _ : state) {
        ByteWriter writer = makeByteWriter(buffer, sizeof(buffer));
        writePreferencesText(&preferences, &writer);
        parsePreferencesText(&preferences, buffer, writer.length);
        benchmark::DoNotOptimize(preferences.units);
    }
}
BENCHMARK(preferencesTextWrittenAndRead)->Unit(benchmark::kMicrosecond);

}  // namespace
