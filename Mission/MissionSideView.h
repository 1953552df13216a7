// The mission's side view: the altitude profile of the path the mission flies (Mission/MissionPath.h)
// over the terrain under it, with the low-altitude and airspace bands, the waypoints, the vehicle
// while it flies, and every low spot in red. A tap on a red spot acknowledges it (it turns grey and
// the terrain check lets it pass).
#pragma once
#include "Core/GeometryTypes.h"
#include "Mission/WaypointMissionEditor.h"
#include "SourceCommon/UserInterface/MapView.h"

struct ElevationMapLoader;
struct VehicleState;
struct UiState;
struct ScreenStack;
struct Preferences;

constexpr i32 kSideViewLowSpots = 128;  // low spots drawn and tappable in one frame

// Draws into rect (the plot is rect less 3 text sizes on every side) and pans and zooms with the
// pointers no widget took. openedNow resets the view to zoom 1 about the middle of the profile.
void waypointMissionSideView(MapView* side, Rect rect, f32 textSize, const ElevationMapLoader* elevation,
                             WaypointMissionEditor* editor, VehicleState* vehicle, UiState* ui, ScreenStack* stack,
                             Preferences* preferences, u32 openedNow);
