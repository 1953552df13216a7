// A plan to draw or to save without editing it: the waypoint mission, the transect region and the
// payload geofence wherever they are kept, in the planning editors or in the copy that a flight log's
// replay rebuilds from the log's own entries. The map and the mission files read both through one
// view record, so the live plan and a replayed one are drawn and saved by the same code.
#pragma once
#include "Mission/PlanPolygons.h"
#include "Mission/WaypointMissionEditor.h"

// The mission of a flight log's last started-mission entry, as normalised Web-Mercator points.
struct ReplayedMission {
    u32 nextWaypointId;
    i32 waypointCount;
    Waypoint waypoints[kMaxWaypoints];  // uploadMark: 2 for the first waypoint, 1 for the others
    i32 transectPointCount;
    Vec2 transectPoints[kMaxTransectPoints];
    f64 referenceLatitude, referenceLongitude;
};

// The geofence of a flight log's last geofence entry.
struct ReplayedGeofence {
    i32 pointCount;
    Vec2 points[kMaxGeofencePoints];
};

// Read-only: counts are clamped to the capacities by the makers below.
struct MissionPlanView {
    const Waypoint* waypoints;
    i32 waypointCount;
    const Vec2* transectPoints;
    i32 transectPointCount;
    const Vec2* geofencePoints;
    i32 geofencePointCount;
    f64 referenceLatitude, referenceLongitude;  // degrees
};

MissionPlanView editedMissionPlan(const WaypointMissionEditor* editor, const TransectRegion* transect,
                                  const OrvikGeofence* geofence);
MissionPlanView replayedMissionPlan(const ReplayedMission* mission, const ReplayedGeofence* geofence);
