// The mission-planning records and per-frame steps that the application update hands on: the
// transect region, the payload geofence, the mission list and loading a picked mission, and the
// rebasing of waypoint altitudes. For now the steps do nothing; mission planning replaces this.
#pragma once
#include "Core/GeometryTypes.h"
#include "FlightLogs/FlightLogger.h"
#include "Mission/WaypointMissionEditor.h"

struct VehicleState;
struct ElevationMapLoader;
struct FileReadTable;
struct FileReadRequest;
struct Preferences;

constexpr i32 kMaxTransectPoints = 256;

struct TransectRegion {
    i32 pointCount;
    Vec2 points[kMaxTransectPoints];  // normalised Web-Mercator
};

// The payload geofence. Its flight-log entry is registered with the flight logger on every frame on
// which it holds a payload, so every new log starts with the current geofence.
struct OrvikGeofence {
    FlightLogger* flightLogger;  // set on the first frame
    FlightLogEntryRecord logEntry;  // the last geofence change; no payload while none
    i32 pointCount;
    Vec2 points[kMaxTransectPoints];
};

struct MissionList {
    u32 state;
};

void rebaseWaypointAltitudes(WaypointMissionEditor* editor, VehicleState* vehicle, ElevationMapLoader* loader);
void updateMissionList(MissionList* list, FileReadTable* reads);
void applyLoadedMission(FileReadRequest** pendingRead, WaypointMissionEditor* editor, TransectRegion* transect,
                        OrvikGeofence* geofence, ElevationMapLoader* loader, Preferences* preferences,
                        FileReadTable* reads);
