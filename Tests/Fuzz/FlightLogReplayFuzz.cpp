// Replaying one flight-log entry of any type and payload, after a start block that sets up a
// vehicle: the payload sits in an exact-sized buffer, so a read beyond it is caught, and the
// replayed counts stay within their capacities.
#include "FlightLogReplay/FlightLogReplay.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static void fail(int line) {
    fprintf(stderr, "FlightLogReplayFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

static FlightLogReplay replay;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 65536) return 0;
    u16 length = (u16)(size - 1);
    u8* payload = static_cast<u8*>(std::malloc(length ? length : 1));
    std::memcpy(payload, data + 1, length);
    // An index of one entry, as the index lays it out.
    u64 ref = length;
    u32 time = 1000;
    u8 type = data[0] % 20;
    FlightLogIndex index{};
    index.timeBase = 1765000000000;
    index.entryCount = 1;
    index.payloadData = payload;
    index.entryRefs = &ref;
    index.entryTimes = &time;
    index.entryTypes = &type;
    std::memset(static_cast<void*>(&replay), 0, sizeof(replay));
    replay.referencePosition = GeoPoint{8.5, 47.4};
    replay.referenceAltitude = 12;
    i64 cursor = 0;
    FlightLogReplayStep step;
    replayFlightLog(&step, &cursor, index.timeBase + 5000, 100, nullptr, &index, &replay, nullptr);
    check(step.type == type && cursor == 1 && step.length == length);
    check(replay.geofence.pointCount >= 0 && replay.geofence.pointCount <= 100);
    check(replay.mission.waypointCount >= 0 && replay.mission.waypointCount <= 99);
    check(replay.mission.transectPointCount >= 0 && replay.mission.transectPointCount <= 100);
    check(replay.gamepad.name.length <= 253 && replay.preferences.droneAddress.port == 0);
    std::free(payload);
    return 0;
}
