// Waypoint altitudes: the snap altitude a new waypoint gets, the setters of the two snap
// preferences that carry the waypoints sitting at the old snap altitude along, and the per-frame
// rebase that keeps altitudes standing on the take-off point's ground.
#pragma once
#include "Core/Types.h"
#include "Mission/WaypointMissionEditor.h"

struct VehicleState;
struct ElevationMapLoader;
struct Preferences;

// The altitude above the take-off point for a waypoint over ground of the given height (metres;
// kUnknownTerrainHeight when not known): "Waypoint snap altitude above ground level (m)", raised by
// the ground's height above the take-off ground when both are known; "Waypoint snap altitude mode"
// 1 takes "Waypoint snap altitude above takeoff location (m)" instead, 2 the larger of the two.
f64 waypointSnapAltitude(const Preferences* preferences, f64 groundHeight, f64 takeoffTerrainHeight);
// The ground height under a map position, kUnknownTerrainHeight when not known.
f64 groundHeightAt(const ElevationMapLoader* elevation, Vec2 position);

// Store the preference and move every unlocked waypoint that sat within 0.01 m of the old snap
// altitude at its place to the new one. Not undoable.
void setWaypointSnapAltitudeAgl(f64 metres, WaypointMissionEditor* editor, const ElevationMapLoader* elevation,
                                Preferences* preferences);
void setWaypointSnapAltitudeAboveTakeoff(f64 metres, WaypointMissionEditor* editor,
                                         const ElevationMapLoader* elevation, Preferences* preferences);
