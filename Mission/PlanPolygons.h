// The two polygons of a burn plan, each with its own undo history: the transect region that
// waypoints are generated from, and the payload geofence outside which no sphere may drop. Every
// change of the geofence, applied, undone or redone, is written to the flight log.
#pragma once
#include "Core/FixedString.h"
#include "Core/GeometryTypes.h"
#include "Core/Undo.h"
#include "FlightLogs/FlightLogger.h"
#include "Mission/MapEditDrag.h"

constexpr i32 kMaxTransectPoints = 100;
constexpr i32 kMaxGeofencePoints = 100;
// The geofence's flight-log payload: a count byte and a latitude and longitude per point.
constexpr i32 kGeofenceLogPayloadBytes = 1 + kMaxGeofencePoints * 16;

// The part of a region that a cut leaves, at most one point more per point of the region.
constexpr i32 kMaxUncoveredPoints = 2 * kMaxTransectPoints;

struct TransectRegion {
    UndoHistory history;  // first: undo operations are handed the region through it
    i32 pointCount;
    u32 reserved;
    Vec2 points[kMaxTransectPoints];  // normalised Web-Mercator
    MapEditDrag drag;                 // a vertex being dragged on the map
    // What the last "Generate Waypoints" could not do (TransectGenerator.h): its message, empty when
    // it did all, and the part of the region its lines leave uncovered (normalised Web-Mercator, no
    // points when they cover it all), marked on the map while the region keeps the points it was
    // generated for (uncoveredKey).
    FixedString generateMessage;
    i32 uncoveredCount;
    u32 reserved2;
    u64 uncoveredKey;
    Vec2 uncovered[kMaxUncoveredPoints];
};

struct OrvikGeofence {
    UndoHistory history;         // first: undo operations are handed the geofence through it
    FlightLogger* flightLogger;  // set on the first frame
    i32 pointCount;              // fewer than 3 points enclose nothing
    u32 reserved;
    Vec2 points[kMaxGeofencePoints];  // normalised Web-Mercator
    // The last change as a flight-log entry, registered with the logger every frame so that every
    // new log starts with the current geofence; its payload writer is unset until the first change.
    FlightLogEntryRecord logEntry;
    u8 logPayload[kGeofenceLogPayloadBytes];
    MapEditDrag drag;  // a vertex being dragged on the map
};

// Writes the geofence to the flight log (type 9: the count byte, then per point f64 latitude and
// f64 longitude in degrees) and keeps the entry in logEntry.
void logOrvikGeofence(OrvikGeofence* geofence);

// The history records of both polygons. Payloads:
//   add:    one Vec2, appended after the last point ("Add", inverse "Delete");
//   delete: none; removes the last point ("Delete", inverse "Add");
//   move:   PolygonMovePayload ("Move", inverse "Move");
//   append: whole Vec2 points appended after the last one ("Append", inverse "Clear");
//   load:   whole Vec2 points, possibly none, that take the place of all points ("Load", inverse
//           "Load");
//   clear:  none, every point goes; or a u32 count of leading points to keep ("Clear", inverse
//           "Append"). Refused with nothing to remove.
// Each refuses an edit that would pass 100 points or names a point that is not there.
struct PolygonMovePayload {
    i32 index;
    u32 reserved;
    Vec2 position;
};

UndoActionResult addGeofencePointAction(void* geofence, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
UndoActionResult deleteLastGeofencePointAction(void* geofence, const u8* payload, u64 payloadSize,
                                               UndoRing* inverseTarget);
UndoActionResult moveGeofencePointAction(void* geofence, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
UndoActionResult appendGeofencePointsAction(void* geofence, const u8* payload, u64 payloadSize,
                                            UndoRing* inverseTarget);
UndoActionResult clearGeofenceAction(void* geofence, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
UndoActionResult loadGeofenceAction(void* geofence, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);

UndoActionResult addTransectPointAction(void* region, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
UndoActionResult deleteLastTransectPointAction(void* region, const u8* payload, u64 payloadSize,
                                               UndoRing* inverseTarget);
UndoActionResult moveTransectPointAction(void* region, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
UndoActionResult appendTransectPointsAction(void* region, const u8* payload, u64 payloadSize,
                                            UndoRing* inverseTarget);
UndoActionResult clearTransectRegionAction(void* region, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
UndoActionResult loadTransectRegionAction(void* region, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);

// A tap on the map: a fresh, undoable "Add" of a point after the last one. 1 when added; 0 when
// the polygon holds 100 points already.
u32 addGeofencePoint(OrvikGeofence* geofence, Vec2 point);
u32 addTransectPoint(TransectRegion* region, Vec2 point);
