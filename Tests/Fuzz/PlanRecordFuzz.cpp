// The plan record kept in the app cache, as found on disk: any bytes are read without fault; a record
// that is accepted restores a plan within its capacities, and that plan writes a record that reads
// back to the same plan (the same bytes, unless the next waypoint id had to be moved past the ids).
// The first input byte is not part of the record: when it is odd, the record's checksum is set right
// before it is read, so that the checks behind the checksum are reached too.
#include <cstdlib>
#include <cstring>
#include <string>

#include "Decoders/Checksum.h"
#include "Mission/MissionPlanRecord.h"

namespace {

struct Plan {
    WaypointMissionEditor editor;
    TransectRegion transect;
    OrvikGeofence geofence;
};

std::string written(const Plan* plan) {
    ByteWriter measure = makeMeasuringWriter();
    writePlanRecord(&plan->editor, &plan->transect, &plan->geofence, &measure);
    std::string bytes((size_t)measure.length, '\0');
    ByteWriter fill = makeByteWriter(bytes.data(), measure.length);
    writePlanRecord(&plan->editor, &plan->transect, &plan->geofence, &fill);
    if (fill.overflow || fill.length != measure.length || fill.length > kPlanRecordMaxBytes) std::abort();
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* input, size_t inputSize) {
    static PlanRecord record, again;
    static Plan* plan = (Plan*)std::calloc(1, sizeof(Plan));
    if (inputSize == 0) return 0;
    std::string copy((const char*)input + 1, inputSize - 1);
    const u8* data = (const u8*)copy.data();
    size_t size = copy.size();
    if ((input[0] & 1) && size >= 4) {
        u32 crc = crc32(data, (i64)size - 4);
        std::memcpy(copy.data() + size - 4, &crc, 4);
    }
    if (readPlanRecord(data, size, &record).length) return 0;
    if (record.waypointCount > kMaxWaypoints || record.transectCount > kMaxTransectPoints ||
        record.geofenceCount > kMaxGeofencePoints) {
        std::abort();
    }
    std::memset(plan, 0, sizeof(Plan));
    restorePlanRecord(&record, &plan->editor, &plan->transect, &plan->geofence);
    for (i32 i = 0; i < plan->editor.waypointCount; i++) {
        if (plan->editor.waypoints[i].id == 0 || plan->editor.waypoints[i].id >= plan->editor.nextWaypointId) std::abort();
    }
    std::string bytes = written(plan);
    if (readPlanRecord((const u8*)bytes.data(), bytes.size(), &again).length) std::abort();
    if (std::memcmp(&again, &record, sizeof(PlanRecord)) != 0) std::abort();
    u32 storedNext = 0;
    std::memcpy(&storedNext, data + 4, 4);
    if (storedNext == record.nextWaypointId && (bytes.size() != size || std::memcmp(bytes.data(), data, size) != 0)) {
        std::abort();
    }
    return 0;
}
