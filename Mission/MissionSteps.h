// The mission-planning per-frame steps that the application update hands on: the mission list and
// loading a picked mission, and the rebasing of waypoint altitudes. For now the steps do nothing;
// mission planning replaces this.
#pragma once
#include "Core/GeometryTypes.h"
#include "Mission/PlanPolygons.h"
#include "Mission/WaypointMissionEditor.h"

struct VehicleState;
struct ElevationMapLoader;
struct FileReadTable;
struct FileReadRequest;
struct Preferences;

struct MissionList {
    u32 state;
};

void rebaseWaypointAltitudes(WaypointMissionEditor* editor, VehicleState* vehicle, ElevationMapLoader* loader);
void updateMissionList(MissionList* list, FileReadTable* reads);
void applyLoadedMission(FileReadRequest** pendingRead, WaypointMissionEditor* editor, TransectRegion* transect,
                        OrvikGeofence* geofence, ElevationMapLoader* loader, Preferences* preferences,
                        FileReadTable* reads);
