// The flight-log entry of a started waypoint mission (type 8): what the vehicle was sent to fly,
// with the transect and the mission preferences of that moment, so a replay can draw the plan.
#pragma once
#include "FlightLogs/FlightLogger.h"
#include "Mission/PlanPolygons.h"
#include "Mission/WaypointMissionEditor.h"

constexpr i64 kStartedMissionPayloadBytes = 4567;
constexpr u8 kLoggedWaypointBytes = 29;
constexpr u8 kLoggedTransectPointBytes = 16;

// Payload, little-endian:
//   u8 29, u8 waypoint count (at most 99), per waypoint f64 latitude, f64 longitude, f64 altitude
//   above the mission reference, i32 mission item number, u8 ignite-previous-segment;
//   u8 16, u8 transect point count (at most 100), per point f64 latitude, f64 longitude;
//   f64 reference latitude, f64 reference longitude; then the preferences: f64 cruise speed, f64 curve
//   range, i32 snap mode, f64 snap above ground, f64 snap above takeoff, i32 vertical path, f64 drop
//   spacing, i32 transect usage, f64 zig-zag heading, f64 transect spacing, f64 overshoot.
// Writes it to the log at time (monotonic us); a null transect counts as empty.
void logWaypointMissionStarted(FlightLogger* logger, i64 time, const WaypointMissionEditor* mission,
                               const TransectRegion* transect, const Preferences* preferences);
