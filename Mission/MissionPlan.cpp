#include "Mission/MissionPlan.h"

namespace {

i32 clamped(i32 count, i32 capacity) { return count < 0 ? 0 : count > capacity ? capacity : count; }

}  // namespace

MissionPlanView editedMissionPlan(const WaypointMissionEditor* editor, const TransectRegion* transect,
                                  const OrvikGeofence* geofence) {
    return MissionPlanView{editor->waypoints,
                           clamped(editor->waypointCount, kMaxWaypoints),
                           transect->points,
                           clamped(transect->pointCount, kMaxTransectPoints),
                           geofence->points,
                           clamped(geofence->pointCount, kMaxGeofencePoints),
                           editor->referenceLatitude,
                           editor->referenceLongitude};
}

MissionPlanView replayedMissionPlan(const ReplayedMission* mission, const ReplayedGeofence* geofence) {
    return MissionPlanView{mission->waypoints,
                           clamped(mission->waypointCount, kMaxWaypoints),
                           mission->transectPoints,
                           clamped(mission->transectPointCount, kMaxTransectPoints),
                           geofence->points,
                           clamped(geofence->pointCount, kMaxGeofencePoints),
                           mission->referenceLatitude,
                           mission->referenceLongitude};
}
