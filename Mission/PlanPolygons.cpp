#include "Mission/PlanPolygons.h"

#include <cstring>

#include "Core/Clock.h"
#include "Core/MathEarth.h"

void logOrvikGeofence(OrvikGeofence* geofence) {
    i32 count = geofence->pointCount < 0 ? 0 : geofence->pointCount;
    if (count > kMaxGeofencePoints) count = kMaxGeofencePoints;
    ByteWriter writer = makeByteWriter(geofence->logPayload, kGeofenceLogPayloadBytes);
    appendU8(static_cast<u8>(count), &writer);
    for (i32 i = 0; i < count; ++i) {
        GeoPoint point;
        mercatorToLatLng(&point, &geofence->points[i]);
        appendF64Le(point.latitude, &writer);
        appendF64Le(point.longitude, &writer);
    }
    FlightLogEntryRecord* entry = &geofence->logEntry;
    entry->time = static_cast<i64>(getMicroseconds());
    entry->payload = writer;
    entry->type = FlightLogGeofenceChanged;
    addFlightLogEntry(geofence->flightLogger, entry->time, FlightLogGeofenceChanged,
                      writer.data, writer.length);
}

namespace {

// The actions of both polygons are one set of templates over the owner's record; a geofence
// change is logged each time one is applied.
void afterChange(OrvikGeofence* geofence) { logOrvikGeofence(geofence); }
void afterChange(TransectRegion*) {}

const UndoActionResult kRefused = {nullptr, nullptr, 0};

// A record too large for the ring leaves the edit without history.
void pushInverse(UndoRing* ring, UndoAction operation, const void* payload, u64 size) {
    u8* place = pushUndoAction(ring, operation, size);
    if (place && size) std::memcpy(place, payload, size);
}

// The inverse operations of one polygon kind.
struct PolygonOperations {
    UndoAction add, deleteLast, move, append, clear;
    i32 capacity;
};

template <typename Owner>
UndoActionResult addPoint(const PolygonOperations& ops, void* owner, const u8* payload, u64 size, UndoRing* inverse) {
    UndoActionResult labels = {"Add", "Delete", 1};
    if (!inverse) return labels;
    Owner* polygon = static_cast<Owner*>(owner);
    if (size < sizeof(Vec2) || polygon->pointCount < 0 || polygon->pointCount >= ops.capacity) return kRefused;
    Vec2 point;
    std::memcpy(&point, payload, sizeof point);
    pushInverse(inverse, ops.deleteLast, nullptr, 0);
    polygon->points[polygon->pointCount++] = point;
    afterChange(polygon);
    return labels;
}

template <typename Owner>
UndoActionResult deleteLastPoint(const PolygonOperations& ops, void* owner, UndoRing* inverse) {
    UndoActionResult labels = {"Delete", "Add", 1};
    if (!inverse) return labels;
    Owner* polygon = static_cast<Owner*>(owner);
    if (polygon->pointCount <= 0 || polygon->pointCount > ops.capacity) return kRefused;
    Vec2 last = polygon->points[polygon->pointCount - 1];
    pushInverse(inverse, ops.add, &last, sizeof last);
    polygon->pointCount -= 1;
    afterChange(polygon);
    return labels;
}

template <typename Owner>
UndoActionResult movePoint(const PolygonOperations& ops, void* owner, const u8* payload, u64 size, UndoRing* inverse) {
    UndoActionResult labels = {"Move", "Move", 1};
    if (!inverse) return labels;
    Owner* polygon = static_cast<Owner*>(owner);
    if (size < sizeof(PolygonMovePayload)) return kRefused;
    PolygonMovePayload move;
    std::memcpy(&move, payload, sizeof move);
    if (move.index < 0 || move.index >= polygon->pointCount || move.index >= ops.capacity) return kRefused;
    PolygonMovePayload back = {move.index, 0, polygon->points[move.index]};
    pushInverse(inverse, ops.move, &back, sizeof back);
    polygon->points[move.index] = move.position;
    afterChange(polygon);
    return labels;
}

template <typename Owner>
UndoActionResult appendPoints(const PolygonOperations& ops, void* owner, const u8* payload, u64 size,
                              UndoRing* inverse) {
    UndoActionResult labels = {"Append", "Clear", 1};
    if (!inverse) return labels;
    Owner* polygon = static_cast<Owner*>(owner);
    u64 count = size / sizeof(Vec2);
    if (count == 0 || size % sizeof(Vec2) != 0 || polygon->pointCount < 0 ||
        count > static_cast<u64>(ops.capacity - polygon->pointCount)) {
        return kRefused;
    }
    u32 keep = static_cast<u32>(polygon->pointCount);
    pushInverse(inverse, ops.clear, &keep, sizeof keep);
    std::memcpy(&polygon->points[polygon->pointCount], payload, size);
    polygon->pointCount += static_cast<i32>(count);
    afterChange(polygon);
    return labels;
}

template <typename Owner>
UndoActionResult clearPoints(const PolygonOperations& ops, void* owner, const u8* payload, u64 size,
                             UndoRing* inverse) {
    UndoActionResult labels = {"Clear", "Append", 1};
    if (!inverse) return labels;
    Owner* polygon = static_cast<Owner*>(owner);
    u32 keep = 0;
    if (payload && size >= sizeof keep) std::memcpy(&keep, payload, sizeof keep);
    if (polygon->pointCount <= 0 || polygon->pointCount > ops.capacity || keep >= static_cast<u32>(polygon->pointCount)) {
        return kRefused;
    }
    pushInverse(inverse, ops.append, &polygon->points[keep],
                sizeof(Vec2) * static_cast<u64>(static_cast<u32>(polygon->pointCount) - keep));
    polygon->pointCount = static_cast<i32>(keep);
    afterChange(polygon);
    return labels;
}

// Every point gives way to the payload's (possibly none); the inverse, a load of the old points,
// puts them back.
template <typename Owner>
UndoActionResult loadPoints(UndoAction self, const PolygonOperations& ops, void* owner, const u8* payload, u64 size,
                            UndoRing* inverse) {
    UndoActionResult labels = {"Load", "Load", 1};
    if (!inverse) return labels;
    Owner* polygon = static_cast<Owner*>(owner);
    u64 count = size / sizeof(Vec2);
    if (size % sizeof(Vec2) != 0 || count > static_cast<u64>(ops.capacity) || polygon->pointCount < 0 ||
        polygon->pointCount > ops.capacity) {
        return kRefused;
    }
    pushInverse(inverse, self, polygon->points, sizeof(Vec2) * static_cast<u64>(polygon->pointCount));
    if (count) std::memcpy(polygon->points, payload, size);
    polygon->pointCount = static_cast<i32>(count);
    afterChange(polygon);
    return labels;
}

const PolygonOperations kGeofence = {addGeofencePointAction, deleteLastGeofencePointAction, moveGeofencePointAction,
                                     appendGeofencePointsAction, clearGeofenceAction, kMaxGeofencePoints};
const PolygonOperations kTransect = {addTransectPointAction, deleteLastTransectPointAction, moveTransectPointAction,
                                     appendTransectPointsAction, clearTransectRegionAction, kMaxTransectPoints};

}  // namespace

UndoActionResult addGeofencePointAction(void* owner, const u8* payload, u64 size, UndoRing* inverse) {
    return addPoint<OrvikGeofence>(kGeofence, owner, payload, size, inverse);
}
UndoActionResult deleteLastGeofencePointAction(void* owner, const u8*, u64, UndoRing* inverse) {
    return deleteLastPoint<OrvikGeofence>(kGeofence, owner, inverse);
}
UndoActionResult moveGeofencePointAction(void* owner, const u8* payload, u64 size, UndoRing* inverse) {
    return movePoint<OrvikGeofence>(kGeofence, owner, payload, size, inverse);
}
UndoActionResult appendGeofencePointsAction(void* owner, const u8* payload, u64 size, UndoRing* inverse) {
    return appendPoints<OrvikGeofence>(kGeofence, owner, payload, size, inverse);
}
UndoActionResult clearGeofenceAction(void* owner, const u8* payload, u64 size, UndoRing* inverse) {
    return clearPoints<OrvikGeofence>(kGeofence, owner, payload, size, inverse);
}

UndoActionResult loadGeofenceAction(void* owner, const u8* payload, u64 size, UndoRing* inverse) {
    return loadPoints<OrvikGeofence>(loadGeofenceAction, kGeofence, owner, payload, size, inverse);
}

UndoActionResult addTransectPointAction(void* owner, const u8* payload, u64 size, UndoRing* inverse) {
    return addPoint<TransectRegion>(kTransect, owner, payload, size, inverse);
}
UndoActionResult deleteLastTransectPointAction(void* owner, const u8*, u64, UndoRing* inverse) {
    return deleteLastPoint<TransectRegion>(kTransect, owner, inverse);
}
UndoActionResult moveTransectPointAction(void* owner, const u8* payload, u64 size, UndoRing* inverse) {
    return movePoint<TransectRegion>(kTransect, owner, payload, size, inverse);
}
UndoActionResult appendTransectPointsAction(void* owner, const u8* payload, u64 size, UndoRing* inverse) {
    return appendPoints<TransectRegion>(kTransect, owner, payload, size, inverse);
}
UndoActionResult clearTransectRegionAction(void* owner, const u8* payload, u64 size, UndoRing* inverse) {
    return clearPoints<TransectRegion>(kTransect, owner, payload, size, inverse);
}

UndoActionResult loadTransectRegionAction(void* owner, const u8* payload, u64 size, UndoRing* inverse) {
    return loadPoints<TransectRegion>(loadTransectRegionAction, kTransect, owner, payload, size, inverse);
}

u32 addGeofencePoint(OrvikGeofence* geofence, Vec2 point) {
    return runNewEdit(&geofence->history, addGeofencePointAction, &point, sizeof point).ok;
}

u32 addTransectPoint(TransectRegion* region, Vec2 point) {
    return runNewEdit(&region->history, addTransectPointAction, &point, sizeof point).ok;
}
