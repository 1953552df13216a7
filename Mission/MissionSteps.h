// The mission-planning per-frame steps that the application update hands on: the mission list and
// loading a picked mission (Mission/MissionFiles.h), and the rebasing of waypoint altitudes, which
// does nothing yet.
#pragma once
#include "Core/GeometryTypes.h"
#include "Mission/MissionFiles.h"
#include "Mission/PlanPolygons.h"
#include "Mission/WaypointMissionEditor.h"

struct VehicleState;
struct ElevationMapLoader;

void rebaseWaypointAltitudes(WaypointMissionEditor* editor, VehicleState* vehicle, ElevationMapLoader* loader);
