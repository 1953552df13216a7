// The current plan as one binary record, kept in the app cache so that a restart (or a crash) finds
// it again: the waypoints with their locks, the mission's reference point, the transect region and
// the payload geofence. Little-endian:
//   u32 "PLN1", u32 next waypoint id, f64 reference longitude, f64 reference latitude,
//   u8 waypoints, u8 transect points, u8 geofence points, u8 0,
//   per waypoint: u32 id, f64 x, f64 y, f64 altitude, u8 ignite-previous-segment, u8 upload mark,
//     i32 mission item number (34 bytes),
//   per transect and geofence point: f64 x, f64 y (normalised Web-Mercator),
//   u32 CRC-32 of everything before it.
// A record that is not exactly that, or whose values no plan can hold, restores nothing.
#pragma once
#include "Core/FixedString.h"
#include "Mission/PlanPolygons.h"
#include "Mission/WaypointMissionEditor.h"

constexpr i64 kPlanRecordMaxBytes = 28 + kMaxWaypoints * 34 + (kMaxTransectPoints + kMaxGeofencePoints) * 16 + 4;

// What a record holds, checked.
struct PlanRecord {
    u32 nextWaypointId;
    f64 referenceLongitude, referenceLatitude;
    i32 waypointCount;
    Waypoint waypoints[kMaxWaypoints];
    i32 transectCount;
    Vec2 transect[kMaxTransectPoints];
    i32 geofenceCount;
    Vec2 geofence[kMaxGeofencePoints];
};

// Writes the plan's record (a measuring writer gives its size).
void writePlanRecord(const WaypointMissionEditor* editor, const TransectRegion* transect, const OrvikGeofence* geofence,
                     ByteWriter* writer);

// Reads a record into out; returns why it cannot be restored, or an empty text.
FixedString readPlanRecord(const u8* bytes, u64 size, PlanRecord* out);

// Puts a read record in place of the plan (no undo record: it is the plan as it was) and writes the
// geofence to the flight log's remembered entry. Returns what was restored, as a sentence.
FixedString restorePlanRecord(const PlanRecord* record, WaypointMissionEditor* editor, TransectRegion* transect,
                              OrvikGeofence* geofence);
