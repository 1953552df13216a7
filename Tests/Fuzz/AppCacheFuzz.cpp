// "OrvikAppCache.bin" as found on disk: any bytes load without fault, counts never exceed their
// arrays, and what loaded writes a file that loads back to the same file.
#include <cstdlib>
#include <cstring>
#include <string>

#include "AppState/AppState.h"
#include "Application/AppCache.h"

namespace {

std::string written(AppState* app) {
    ByteWriter measure = makeMeasuringWriter(1 << 30);
    writeAppCacheFile(app, &measure);
    std::string bytes((size_t)measure.length, '\0');
    ByteWriter fill = makeByteWriter(bytes.data(), measure.length);
    writeAppCacheFile(app, &fill);
    if (fill.length != measure.length || fill.overflow) std::abort();
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
    static AppState* first = (AppState*)std::calloc(1, sizeof(AppState));
    static AppState* second = (AppState*)std::calloc(1, sizeof(AppState));
    std::memset(&first->orvikDropLocations, 0, sizeof(first->orvikDropLocations));
    std::memset(&first->dodireruDropLocations, 0, sizeof(first->dodireruDropLocations));
    std::memset(&first->waypointMissionEditor, 0, sizeof(first->waypointMissionEditor));
    std::memset(&first->transectRegion, 0, sizeof(first->transectRegion));
    std::memset(&first->orvikGeofence, 0, sizeof(first->orvikGeofence));
    u32 found[kAppCacheRowCount] = {};
    parseAppCacheFile(first, data, size, found);
    if (first->orvikDropLocations.count > kMaxOrvikDropLocations) std::abort();
    if (first->dodireruDropLocations.count > kMaxVoskDropLocations) std::abort();
    std::string file = written(first);
    if (file.size() > appCacheMaxFileSize()) std::abort();
    u32 again[kAppCacheRowCount] = {};
    parseAppCacheFile(second, (const u8*)file.data(), file.size(), again);
    for (u32 r = 0; r < kAppCacheRowCount; r++) {
        if (!again[r]) std::abort();
    }
    if (written(second) != file) std::abort();
    return 0;
}
