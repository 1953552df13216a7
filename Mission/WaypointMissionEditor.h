// The waypoint mission being planned: up to 99 waypoints with their undo history.
#pragma once
#include "Core/Types.h"
#include "Core/Undo.h"

constexpr i32 kMaxWaypoints = 99;

// One waypoint, 48 bytes, also the unit of "Append" undo records.
struct Waypoint {
    f64 x, y;                   // normalised Web-Mercator
    f64 altitude;               // metres above the mission's reference
    u32 id;                     // unique within the mission, never 0
    u32 uploadMark;             // non-zero once the waypoint is part of the mission on the vehicle
    u32 missionItemNumber;      // its item number in that mission
    u32 ignitePreviousSegment;  // drop ignition spheres on the way from the previous waypoint
    u32 kind;
    u32 locked;                 // kept by "Clear"
};
static_assert(sizeof(Waypoint) == 48);

struct WaypointMissionEditor {
    UndoHistory history;  // first: undo operations are handed the editor through it
    i32 waypointCount;
    Waypoint waypoints[kMaxWaypoints];
};

// The position of the waypoint with an id, or -1.
i32 findWaypoint(const WaypointMissionEditor* editor, u32 id);
