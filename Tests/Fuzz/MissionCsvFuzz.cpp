// Mission files as a person or a spreadsheet may have left them: any bytes read without fault, the
// plan they load writes a file that reads back whole (no unreadable rows, every object and setting
// found again), and a replayed plan loads the same objects as the edited one.
#include <cstdlib>
#include <cstring>
#include <string>

#include "Mission/MissionFiles.h"

namespace {

struct FuzzPlan {
    WaypointMissionEditor editor;
    TransectRegion transect;
    OrvikGeofence geofence;
    Preferences preferences;
    FileReadTable reads;
    MissionFileContent content;
    ReplayedMission replayed;
    ReplayedGeofence replayedGeofence;
    Preferences replayPreferences;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
    static FuzzPlan* plan = (FuzzPlan*)std::calloc(1, sizeof(FuzzPlan));
    // A fresh plan each time, keeping the histories' rings (they drop their oldest records).
    plan->editor.waypointCount = 0;
    plan->editor.referenceLatitude = plan->editor.referenceLongitude = 0;
    plan->transect.pointCount = 0;
    plan->geofence.pointCount = 0;

    FileReadRequest* pending =
        fileRequestFromBuffer((u8*)data, (u64)size, 0, makeString("Missions/fuzz.csv"), 0, &plan->reads);
    FixedString report = applyLoadedMission(&pending, &plan->editor, &plan->transect, &plan->geofence, nullptr,
                                            &plan->preferences, &plan->reads);
    if (pending || report.length == 0) std::abort();

    ByteWriter measure = makeMeasuringWriter();
    MissionPlanView view = editedMissionPlan(&plan->editor, &plan->transect, &plan->geofence);
    i64 length = writeMissionCsv(&view, &plan->preferences, &measure);
    std::string text((size_t)length, '\0');
    ByteWriter fill = makeByteWriter(text.data(), length);
    if (writeMissionCsv(&view, &plan->preferences, &fill) != length || fill.overflow) std::abort();

    // The replay's plan takes the file as it stands: with no locked waypoints, what the editor took.
    std::memset((void*)&plan->replayed, 0xA5, sizeof(plan->replayed));
    std::memset((void*)&plan->replayedGeofence, 0xA5, sizeof(plan->replayedGeofence));
    plan->replayed.nextWaypointId = 1;
    pending = fileRequestFromBuffer((u8*)data, (u64)size, 0, makeString("Missions/fuzz.csv"), 0, &plan->reads);
    FixedString replayReport = applyLoadedMissionToReplay(&pending, &plan->replayed, &plan->replayedGeofence,
                                                          &plan->replayPreferences, &plan->reads);
    if (pending || replayReport.length == 0) std::abort();
    bool loaded = std::strncmp(replayReport.text, "Loaded", 6) == 0;
    if (loaded && (plan->replayed.waypointCount != plan->editor.waypointCount ||
                   plan->replayed.transectPointCount != plan->transect.pointCount ||
                   plan->replayedGeofence.pointCount != plan->geofence.pointCount)) {
        std::abort();
    }
    MissionFileContent* again = &plan->content;
    readMissionCsv(again, (const u8*)text.data(), (i64)text.size());
    if (again->badRows != 0 || again->waypointCount != plan->editor.waypointCount ||
        again->transectCount != plan->transect.pointCount || again->geofenceCount != plan->geofence.pointCount ||
        again->settingsFound != (1u << kMissionSettingCount) - 1 || !again->hasReference) {
        std::abort();
    }
    return 0;
}
