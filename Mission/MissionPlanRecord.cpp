#include "Mission/MissionPlanRecord.h"

#include <cmath>
#include <cstring>

#include "Core/Format.h"
#include "Decoders/Checksum.h"

namespace {

constexpr u32 kPlanMagic = 0x314E4C50;  // "PLN1"
constexpr i64 kHeaderBytes = 28;
constexpr i64 kWaypointBytes = 34;
constexpr i64 kPointBytes = 16;
constexpr f64 kLargestAltitude = 100000.0;  // m

// A little-endian reader over a record whose length has been checked first.
struct RecordReader {
    const u8* bytes;
    i64 at;
};

u64 take(RecordReader* r, i32 count) {
    u64 value = 0;
    for (i32 i = 0; i < count; i++) value |= (u64)r->bytes[r->at + i] << (8 * i);
    r->at += count;
    return value;
}

f64 takeF64(RecordReader* r) {
    u64 bits = take(r, 8);
    f64 value;
    std::memcpy(&value, &bits, 8);
    return value;
}

bool isMapCoordinate(f64 value) { return std::isfinite(value) && value >= -1.0 && value <= 1.0; }

void writePoints(const Vec2* points, i32 count, ByteWriter* writer) {
    for (i32 i = 0; i < count; i++) {
        appendF64Le(points[i].x, writer);
        appendF64Le(points[i].y, writer);
    }
}

bool readPoints(RecordReader* r, Vec2* points, i32 count) {
    for (i32 i = 0; i < count; i++) {
        points[i].x = takeF64(r);
        points[i].y = takeF64(r);
        if (!isMapCoordinate(points[i].x) || !isMapCoordinate(points[i].y)) return false;
    }
    return true;
}

i32 clampCount(i32 count, i32 capacity) { return count < 0 ? 0 : count > capacity ? capacity : count; }

}  // namespace

void writePlanRecord(const WaypointMissionEditor* editor, const TransectRegion* transect, const OrvikGeofence* geofence,
                     ByteWriter* writer) {
    i64 start = writer->length;
    i32 waypoints = clampCount(editor->waypointCount, kMaxWaypoints);
    i32 corners = clampCount(transect->pointCount, kMaxTransectPoints);
    i32 fence = clampCount(geofence->pointCount, kMaxGeofencePoints);
    appendU32Le(kPlanMagic, writer);
    appendU32Le(editor->nextWaypointId, writer);
    appendF64Le(editor->referenceLongitude, writer);
    appendF64Le(editor->referenceLatitude, writer);
    appendU8((u8)waypoints, writer);
    appendU8((u8)corners, writer);
    appendU8((u8)fence, writer);
    appendU8(0, writer);
    for (i32 i = 0; i < waypoints; i++) {
        const Waypoint& w = editor->waypoints[i];
        appendU32Le(w.id, writer);
        appendF64Le(w.x, writer);
        appendF64Le(w.y, writer);
        appendF64Le(w.altitude, writer);
        appendU8((u8)w.ignitePreviousSegment, writer);
        appendU8((u8)w.uploadMark, writer);
        appendU32Le((u32)w.missionItemNumber, writer);
    }
    writePoints(transect->points, corners, writer);
    writePoints(geofence->points, fence, writer);
    // The checksum covers what this call wrote; a measuring writer has no bytes to run it over.
    u32 crc = writer->data && !writer->overflow ? crc32(writer->data + start, writer->length - start) : 0;
    appendU32Le(crc, writer);
}

FixedString readPlanRecord(const u8* bytes, u64 size, PlanRecord* out) {
    std::memset(out, 0, sizeof(*out));
    if (size == 0) return makeString("the record is empty");
    if (size < (u64)kHeaderBytes + 4) return makeString("the record is too short");
    RecordReader r{bytes, 0};
    if (take(&r, 4) != kPlanMagic) return makeString("the record is not a plan");
    out->nextWaypointId = (u32)take(&r, 4);
    out->referenceLongitude = takeF64(&r);
    out->referenceLatitude = takeF64(&r);
    out->waypointCount = (i32)take(&r, 1);
    out->transectCount = (i32)take(&r, 1);
    out->geofenceCount = (i32)take(&r, 1);
    u64 reserved = take(&r, 1);
    if (out->waypointCount > kMaxWaypoints || out->transectCount > kMaxTransectPoints ||
        out->geofenceCount > kMaxGeofencePoints || reserved) {
        return makeString("its counts pass what a plan holds");
    }
    u64 expected = (u64)(kHeaderBytes + out->waypointCount * kWaypointBytes +
                         (out->transectCount + out->geofenceCount) * kPointBytes + 4);
    if (size != expected) return formatInt("its length does not match its counts (@ bytes)", (i64)size);
    u32 stored = (u32)bytes[size - 4] | (u32)bytes[size - 3] << 8 | (u32)bytes[size - 2] << 16 | (u32)bytes[size - 1] << 24;
    if (crc32(bytes, (i64)size - 4) != stored) return makeString("its checksum does not match");
    if (!std::isfinite(out->referenceLongitude) || !std::isfinite(out->referenceLatitude) ||
        std::fabs(out->referenceLongitude) > 360.0 || std::fabs(out->referenceLatitude) > 90.0) {
        return makeString("its reference point is out of range");
    }
    u32 largestId = 0;
    for (i32 i = 0; i < out->waypointCount; i++) {
        Waypoint* w = &out->waypoints[i];
        w->id = (u32)take(&r, 4);
        w->x = takeF64(&r);
        w->y = takeF64(&r);
        w->altitude = takeF64(&r);
        w->ignitePreviousSegment = (u32)take(&r, 1);
        w->uploadMark = (u32)take(&r, 1);
        w->missionItemNumber = (i32)(u32)take(&r, 4);
        if (!isMapCoordinate(w->x) || !isMapCoordinate(w->y) || !std::isfinite(w->altitude) ||
            std::fabs(w->altitude) > kLargestAltitude || w->ignitePreviousSegment > 1 || w->uploadMark > 2) {
            return formatInt("waypoint @ is out of range", i + 1);
        }
        if (w->id == 0) return formatInt("waypoint @ has no id", i + 1);
        for (i32 j = 0; j < i; j++) {
            if (out->waypoints[j].id == w->id) return formatInt("waypoint @ has the id of another", i + 1);
        }
        // Locked waypoints (on the vehicle) lead the mission.
        if (w->uploadMark && i > 0 && !out->waypoints[i - 1].uploadMark) {
            return formatInt("locked waypoint @ follows an unlocked one", i + 1);
        }
        if (w->id > largestId) largestId = w->id;
    }
    if (!readPoints(&r, out->transect, out->transectCount)) return makeString("a transect point is out of range");
    if (!readPoints(&r, out->geofence, out->geofenceCount)) return makeString("a geofence point is out of range");
    // New waypoints must not take an id that is there already.
    if (largestId == 0xFFFFFFFFu) return makeString("its waypoint ids leave none for new waypoints");
    if (largestId && out->nextWaypointId <= largestId) out->nextWaypointId = largestId + 1;
    return FixedString{};
}

FixedString restorePlanRecord(const PlanRecord* record, WaypointMissionEditor* editor, TransectRegion* transect,
                              OrvikGeofence* geofence) {
    editor->waypointCount = record->waypointCount;
    std::memcpy(editor->waypoints, record->waypoints, sizeof(Waypoint) * (u64)record->waypointCount);
    editor->nextWaypointId = record->nextWaypointId;
    editor->referenceLongitude = record->referenceLongitude;
    editor->referenceLatitude = record->referenceLatitude;
    editor->selectedWaypointId = 0;
    editor->safetyCheckResult = 0;
    transect->pointCount = record->transectCount;
    std::memcpy(transect->points, record->transect, sizeof(Vec2) * (u64)record->transectCount);
    geofence->pointCount = record->geofenceCount;
    std::memcpy(geofence->points, record->geofence, sizeof(Vec2) * (u64)record->geofenceCount);
    logOrvikGeofence(geofence);
    FixedString waypoints = formatIntInt("Restored @ waypoints (@ locked)", record->waypointCount,
                                         lockedWaypointCount(editor));
    return formatStrIntInt("@, @ transect points and @ geofence points", waypoints, record->transectCount,
                           record->geofenceCount);
}
