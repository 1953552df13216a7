// The mission-planning per-frame steps that the application update hands on: the mission list and
// loading a picked mission (Mission/MissionFiles.h), and the rebasing of waypoint altitudes.
#pragma once
#include "Core/GeometryTypes.h"
#include "Mission/MissionFiles.h"
#include "Mission/PlanPolygons.h"
#include "Mission/WaypointMissionEditor.h"

struct VehicleState;
struct ElevationMapLoader;

// The mission's reference follows the vehicle's home (or its take-off position while that is
// selected). When the ground under it is known and differs from the stored take-off height, the
// unlocked waypoints' altitudes move by the old height less the new one (when the old one was known),
// and the height and the reference are stored.
void rebaseWaypointAltitudes(WaypointMissionEditor* editor, VehicleState* vehicle, ElevationMapLoader* loader);
