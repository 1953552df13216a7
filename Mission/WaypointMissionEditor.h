// The waypoint mission being planned: up to 99 waypoints with their undo history, the mission's
// reference point, the map selection and the terrain check's findings.
#pragma once
#include <cstddef>

#include "Core/GeometryTypes.h"
#include "Core/Types.h"
#include "Core/Undo.h"
#include "Mission/MapEditDrag.h"

constexpr i32 kMaxWaypoints = 99;
constexpr i32 kMaxAcknowledgedLowSpots = 32;
// A terrain height that is not known.
constexpr f64 kUnknownTerrainHeight = -32768.0;

// One waypoint, 48 bytes: the layout that flight logs, the replay, the mission upload and the
// history records ("Append" payloads are whole Waypoint records) all read.
struct Waypoint {
    u32 id;  // unique within the mission, never 0; first, where history records look for it
    u32 reserved0;
    f64 x, y;                   // normalised Web-Mercator
    f64 altitude;               // metres above the mission's reference
    u32 ignitePreviousSegment;  // drop ignition spheres on the way from the previous waypoint
    // Non-zero while the waypoint is part of the mission on the vehicle (2 for a first waypoint
    // flown with a vertical leg, else 1). Such a waypoint is locked: the map does not edit it and
    // "Clear" keeps it.
    u32 uploadMark;
    i32 missionItemNumber;  // its item number in the mission on the vehicle
    u32 reserved1;
};
static_assert(sizeof(Waypoint) == 48 && offsetof(Waypoint, x) == 8 && offsetof(Waypoint, altitude) == 24 &&
              offsetof(Waypoint, ignitePreviousSegment) == 32 && offsetof(Waypoint, missionItemNumber) == 40);

// Where the terrain check last found the path too low, in metres along the mission's side view.
struct LowSpot {
    f64 distanceBefore;  // along the path before the spot
    f64 stepLength;
    f64 altitude;
};

struct WaypointMissionEditor {
    UndoHistory history;  // first: undo operations are handed the editor through it
    u32 nextWaypointId;   // the id the next new waypoint gets (0 counts as 1)
    i32 waypointCount;
    f64 referenceLongitude, referenceLatitude;  // degrees; altitudes are above this point's ground
    u32 selectedWaypointId;                     // 0: none
    u32 safetyCheckResult;                      // 1: the last terrain check found the path safe
    f64 takeoffTerrainHeight;                   // metres; kUnknownTerrainHeight while unknown
    LowSpot lowSpot;
    i32 acknowledgedLowSpotCount;
    u32 reserved;
    Vec2 acknowledgedLowSpots[kMaxAcknowledgedLowSpots];  // normalised Web-Mercator
    Waypoint waypoints[kMaxWaypoints];
    MapEditDrag drag;  // a waypoint being dragged on the map
};

// The position of the waypoint with an id, or -1.
i32 findWaypoint(const WaypointMissionEditor* editor, u32 id);
// The number of locked waypoints at the front of the mission.
i32 lockedWaypointCount(const WaypointMissionEditor* editor);
// Takes the next id: never 0, and the counter moves on.
u32 takeWaypointId(WaypointMissionEditor* editor);

// A fresh, undoable "Add" of a waypoint at the index (0 to the count) with a new id, after the
// locked waypoints only. 1 when added; 0 when the mission is full or the index is out of reach.
u32 insertWaypoint(WaypointMissionEditor* editor, i32 index, f64 x, f64 y, f64 altitudeM);
