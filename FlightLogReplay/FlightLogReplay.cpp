#include "FlightLogReplay/FlightLogReplay.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "Core/MathEarth.h"
#include "Core/PreferenceFields.h"
#include "FlightLogs/FlightLogger.h"

namespace {

constexpr i64 kUnixToProgramEpochMs = 11644473600000;  // 1601-01-01 to 1970-01-01
constexpr i32 kKeyMapBits = kKeyMapWords * 64;

// A little-endian reader over one entry's payload: nothing is read past its end.
struct PayloadReader {
    const u8* bytes;
    i64 length;
    i64 at;
};

bool has(const PayloadReader* r, i64 count) { return count >= 0 && r->at <= r->length - count; }
u8 takeU8(PayloadReader* r) { return r->bytes[r->at++]; }
u32 takeU32(PayloadReader* r) {
    u32 value;
    std::memcpy(&value, r->bytes + r->at, 4);
    r->at += 4;
    return value;
}
f64 takeF64(PayloadReader* r) {
    f64 value;
    std::memcpy(&value, r->bytes + r->at, 8);
    r->at += 8;
    return value;
}
f32 f32At(const u8* bytes, i64 length, i64 offset) {
    if (offset + 4 > length) return NAN;
    f32 value;
    std::memcpy(&value, bytes + offset, 4);
    return value;
}
u32 u32At(const u8* bytes, i64 length, i64 offset) {
    if (offset + 4 > length) return 0;
    u32 value;
    std::memcpy(&value, bytes + offset, 4);
    return value;
}

Vec2 mercatorOf(f64 latitude, f64 longitude) {
    return Vec2{wrapLongitudeTurns(longitude, 0.0), std::log(std::tan(latitude * M_PI / 360.0 + M_PI / 4.0)) / (2.0 * M_PI)};
}

// ---------------------------------------------------------------------------------------------------
// The drone link.

// One step of the replay's drone link at replayMicros, with the recorded datagram of link (none on
// an idle step).
void stepDroneLink(FlightLogReplay* replay, SoundQueue* sounds, const ReplayElevation* elevation, const u8* datagram,
                   u16 length, u32 link) {
    DroneLinkInputs inputs{};
    inputs.preferences = &replay->preferences;
    inputs.elevation = elevation ? elevation->lookup : nullptr;
    inputs.elevationContext = elevation ? elevation->context : nullptr;
    inputs.soundQueue = sounds;
    inputs.gamepad = &replay->gamepad;
    inputs.input = &replay->input;
    inputs.orvikDrops = &replay->orvikDrops;
    inputs.voskDrops = &replay->voskDrops;
    inputs.payloadKind = &replay->payloadKind;
    inputs.mappingKitPhotos = &replay->mappingKitPhotos;
    inputs.now = static_cast<u64>(replay->replayMicros);
    inputs.utcMilliseconds = replay->replayTime + kUnixToProgramEpochMs;
    inputs.replay = 1;
    replayDroneLink(&replay->connection, &inputs, datagram, length, link);
    replay->droneLinkSteps++;
}

// ---------------------------------------------------------------------------------------------------
// The log's own entries.

void applyGeofence(FlightLogReplay* replay, const u8* payload, u16 length) {
    PayloadReader r{payload, length, 0};
    if (!has(&r, 1)) return;
    i32 count = takeU8(&r);
    if (count > kMaxGeofencePoints) count = kMaxGeofencePoints;
    i32 points = 0;
    for (; points < count && has(&r, 16); points++) {
        f64 latitude = takeF64(&r);
        f64 longitude = takeF64(&r);
        replay->geofence.points[points] = mercatorOf(latitude, longitude);
    }
    replay->geofence.pointCount = points;
}

void applyMission(FlightLogReplay* replay, const u8* payload, u16 length) {
    PayloadReader r{payload, length, 0};
    if (!has(&r, 2)) return;
    ReplayedMission* mission = &replay->mission;
    i64 stride = takeU8(&r);
    i32 count = takeU8(&r);
    if (count > kMaxWaypoints) count = kMaxWaypoints;
    i64 records = r.at;
    i32 taken = 0;
    // A record is read only when its 29 bytes lie within its stride and the payload.
    for (; taken < count && stride >= 29; taken++) {
        PayloadReader record{payload, length, records + taken * stride};
        if (!has(&record, 29)) break;
        Waypoint* waypoint = &mission->waypoints[taken];
        *waypoint = Waypoint{};
        if (mission->nextWaypointId == 0) mission->nextWaypointId = 1;
        waypoint->id = mission->nextWaypointId++;
        f64 latitude = takeF64(&record);
        f64 longitude = takeF64(&record);
        Vec2 at = mercatorOf(latitude, longitude);
        waypoint->x = at.x;
        waypoint->y = at.y;
        waypoint->altitude = takeF64(&record);
        waypoint->missionItemNumber = static_cast<i32>(takeU32(&record));
        waypoint->ignitePreviousSegment = takeU8(&record);
        waypoint->uploadMark = taken == 0 ? 2 : 1;
    }
    mission->waypointCount = taken;
    r.at = records + static_cast<i64>(count) * stride;
    if (taken < count || !has(&r, 2)) return;

    i64 pointStride = takeU8(&r);
    i32 points = takeU8(&r);
    if (points > kMaxTransectPoints) points = kMaxTransectPoints;
    i64 pointRecords = r.at;
    i32 pointsTaken = 0;
    for (; pointsTaken < points && pointStride >= 16; pointsTaken++) {
        PayloadReader point{payload, length, pointRecords + pointsTaken * pointStride};
        if (!has(&point, 16)) break;
        f64 latitude = takeF64(&point);
        f64 longitude = takeF64(&point);
        mission->transectPoints[pointsTaken] = mercatorOf(latitude, longitude);
    }
    mission->transectPointCount = pointsTaken;
    r.at = pointRecords + static_cast<i64>(points) * pointStride;
    if (pointsTaken < points || !has(&r, 16)) return;
    mission->referenceLatitude = takeF64(&r);
    mission->referenceLongitude = takeF64(&r);

    // The eleven mission settings, all or none.
    if (!has(&r, 8 + 8 + 4 + 8 + 8 + 4 + 8 + 4 + 8 + 8 + 8)) return;
    Preferences* p = &replay->preferences;
    p->waypointMissionCruiseSpeed = takeF64(&r);
    p->waypointCurveRange = takeF64(&r);
    p->waypointSnapAltitudeMode = static_cast<decltype(p->waypointSnapAltitudeMode)>(takeU32(&r));
    p->waypointSnapAltitudeAboveGroundLevel = takeF64(&r);
    p->waypointSnapAltitudeAboveTakeoffLocation = takeF64(&r);
    p->verticalFlightPathToFirstWaypoint = static_cast<decltype(p->verticalFlightPathToFirstWaypoint)>(takeU32(&r));
    p->orvikDropSpacing = takeF64(&r);
    p->transectUsage = static_cast<decltype(p->transectUsage)>(takeU32(&r));
    p->transectZigZagHeading = takeF64(&r);
    p->transectSpacing = takeF64(&r);
    p->transectOvershootDistance = takeF64(&r);
}

void applyAugmentedPosition(FlightLogReplay* replay, const u8* payload, u16 length) {
    PayloadReader r{payload, length, 0};
    if (!has(&r, 16)) return;
    GeoPoint position{};
    position.latitude = takeF64(&r);
    position.longitude = takeF64(&r);
    if (replay->previousPosition.longitude != 0 || replay->previousPosition.latitude != 0) {
        GeoPoint next = position;
        replay->lastStepDistance = std::sqrt(geoDistanceSquared(&replay->previousPosition, &next));
        replay->travelledDistance += replay->lastStepDistance;
    }
    replay->previousPosition = position;
    if (replay->referencePosition.longitude != 0 || replay->referencePosition.latitude != 0) {
        replay->latitudeOffset = position.latitude - replay->referencePosition.latitude;
        replay->longitudeOffset = position.longitude - replay->referencePosition.longitude;
    }
    if (replay->referenceAltitude != 0) {
        replay->relativeAltitude = f32At(payload, length, 16) - replay->referenceAltitude;
    }
    replay->altitudeAboveGround = f32At(payload, length, 24);
    replay->altitudeMslFromElevationMap = f32At(payload, length, 28);
    replay->altitudeMslFromTakeoffElevation = f32At(payload, length, 32);
    replay->positionEntries++;
}

void applyVideoStatus(FlightLogReplay* replay, const u8* payload, u16 length) {
    replay->videoPacketsReceived = u32At(payload, length, 16);
    replay->videoPacketsDropped = u32At(payload, length, 20);
    replay->videoFrameWidth = static_cast<i32>(u32At(payload, length, 24));
    replay->videoFrameHeight = static_cast<i32>(u32At(payload, length, 28));
}

bool sameNameIgnoringCase(const char* name, const u8* text, i64 length) {
    i64 i = 0;
    for (; i < length; i++) {
        u8 a = static_cast<u8>(name[i]);
        u8 b = text[i];
        if (a == 0) return false;
        if (a >= 'A' && a <= 'Z') a = static_cast<u8>(a + 32);
        if (b >= 'A' && b <= 'Z') b = static_cast<u8>(b + 32);
        if (a != b) return false;
    }
    return name[i] == 0;
}

const PreferenceField* preferenceRowWithKey(const u8* key, i64 length) {
    for (u32 i = 0; i < kPreferenceFieldCount; i++) {
        const char* rowKey = preferenceFields[i].key;
        if (static_cast<i64>(std::strlen(rowKey)) == length && std::memcmp(rowKey, key, static_cast<size_t>(length)) == 0) {
            return &preferenceFields[i];
        }
    }
    return nullptr;
}

// A value is copied only within its field: 1, 2 or 8 bytes when the entry holds them, text up to
// 253 bytes, an address of at most 16 bytes.
void applyPreferenceValue(Preferences* preferences, const u8* payload, u16 length) {
    PayloadReader r{payload, length, 0};
    if (!has(&r, 2)) return;
    u8 kind = takeU8(&r);
    i64 keyLength = takeU8(&r);
    if (!has(&r, keyLength)) return;
    const u8* key = payload + r.at;
    r.at += keyLength;
    if (!has(&r, 1)) return;
    i64 valueLength = takeU8(&r);
    if (!has(&r, valueLength)) return;
    const u8* value = payload + r.at;
    const PreferenceField* row = preferenceRowWithKey(key, keyLength);
    if (!row) return;
    u8* field = reinterpret_cast<u8*>(preferences) + row->offset;
    if (row->size == PreferenceEnum && row->enumNames && kind == 0) {
        for (u64 i = 0; i < row->enumCount; i++) {
            if (sameNameIgnoringCase(row->enumNames[i], value, valueLength)) {
                u32 index = static_cast<u32>(i);
                std::memcpy(field, &index, 4);
                return;
            }
        }
    } else if (row->size == PreferenceU8 && kind == 2 && valueLength >= 1) {
        field[0] = value[0];
    } else if (row->size == PreferenceU16 && kind == 2 && valueLength >= 2) {
        std::memcpy(field, value, 2);
    } else if (row->size == PreferenceNumber && kind == 3 && valueLength >= 8) {
        std::memcpy(field, value, 8);
    } else if (row->size == PreferenceText && kind == 1) {
        FixedString text{};
        i64 taken = valueLength < 253 ? valueLength : 253;
        std::memcpy(text.text, value, static_cast<size_t>(taken));
        text.length = static_cast<u8>(taken);
        text.truncated = taken < valueLength ? 1 : 0;
        std::memcpy(field, &text, sizeof(text));
    } else if (row->size == PreferenceEndpoint && kind == 4 && valueLength >= 3) {
        AddressRecord address{};
        address.port = static_cast<u16>(value[0] | value[1] << 8);
        address.family = value[2];
        i64 addressBytes = valueLength - 3 < 16 ? valueLength - 3 : 16;
        std::memcpy(address.address, value + 3, static_cast<size_t>(addressBytes));
        std::memcpy(field, &address, sizeof(address));
    }
}

i32 buttonIndex(const u8* payload, u16 length) {
    if (length == 0) return -1;
    return length >= 2 ? (payload[0] | payload[1] << 8) : payload[0];
}

void applyControllerName(FlightLogReplay* replay, const u8* payload, u16 length) {
    FixedString* name = &replay->gamepad.name;
    *name = FixedString{};
    ByteWriter writer = makeByteWriter(reinterpret_cast<u8*>(name->text), 253);
    i64 position = 0;
    for (;;) {
        i32 codepoint = utf8DecodeNext(payload, length, &position);
        if (codepoint == kUtf8End || codepoint == kUtf8Truncated) break;
        if (codepoint < 0) continue;
        i64 size = codepoint < 0x80 ? 1 : codepoint < 0x800 ? 2 : codepoint < 0x10000 ? 3 : 4;
        if (writer.length + size > writer.capacity) break;
        appendCodepoint(codepoint, &writer);
    }
    name->length = static_cast<u8>(writer.length);
}

void applyControllerAxes(FlightLogReplay* replay, const u8* payload, u16 length) {
    if (length >= 1) replay->gamepad.controllerKind = payload[0];
    if (length >= 2) replay->controllerEmulated = payload[1];
    if (length < 6) return;
    f32* axes[8] = {&replay->gamepad.leftStickX,   &replay->gamepad.leftStickY, &replay->gamepad.rightStickX,
                    &replay->gamepad.rightStickY,  &replay->gamepad.leftTrigger, &replay->gamepad.rightTrigger,
                    &replay->gamepad.leftRocker,   &replay->gamepad.rightRocker};
    for (i32 i = 0; i < 8 && 2 + 4 * (i + 1) <= length; i++) *axes[i] = f32At(payload, length, 2 + 4 * i);
}

void applyEntry(FlightLogReplay* replay, i32 type, const u8* payload, u16 length, i64 time, i64 timeBase,
                SoundQueue* sounds, const ReplayElevation* elevation) {
    switch (type) {
        case 0:
        case FlightLogReceivedFromDrone:
        case FlightLogReceivedFromCamera:
            replay->replayTime = time;
            replay->replayMicros = static_cast<i64>(static_cast<u64>(time) - static_cast<u64>(timeBase)) * 1000;
            stepDroneLink(replay, sounds, elevation, payload, length,
                          type == FlightLogReceivedFromCamera ? ReplayedFromCamera : ReplayedFromDrone);
            break;
        case FlightLogGeofenceChanged: applyGeofence(replay, payload, length); break;
        case FlightLogStartedMission: applyMission(replay, payload, length); break;
        case FlightLogAugmentedPosition: applyAugmentedPosition(replay, payload, length); break;
        case FlightLogVideoStreamStatus: applyVideoStatus(replay, payload, length); break;
        case FlightLogPreferenceValue:
            applyPreferenceValue(&replay->preferences, payload, length);
            // A replay never talks to the recorded drone.
            replay->preferences.droneAddress = AddressRecord{};
            break;
        case FlightLogButtonReleased:
        case FlightLogButtonPressed: {
            i32 index = buttonIndex(payload, length);
            if (index < 0 || index >= kKeyMapBits) break;
            if (type == FlightLogButtonPressed) {
                pressKey(index, &replay->input);
            } else {
                clearKey(index, &replay->input);
            }
            break;
        }
        case FlightLogControllerName: applyControllerName(replay, payload, length); break;
        case FlightLogControllerAxes: applyControllerAxes(replay, payload, length); break;
        default: break;
    }
}

}  // namespace

FlightLogReplayStep* replayFlightLog(FlightLogReplayStep* out, i64* cursor, i64 targetTime, i64 idleStepMs,
                                     SoundQueue* sounds, const FlightLogIndex* index, FlightLogReplay* replay,
                                     const ReplayElevation* elevation) {
    *out = FlightLogReplayStep{};
    out->type = -1;
    i64 entry = *cursor;
    if (entry < 0 || entry >= index->entryCount) {
        out->replayTime = replay->replayTime;
        out->replayMicros = replay->replayMicros;
        return out;
    }
    i64 time = flightLogEntryTime(index, entry);
    i64 limit = time < targetTime ? time : targetTime;
    if (replay->replayTime != 0 && idleStepMs > 0 && replay->replayTime < limit &&
        limit - replay->replayTime > idleStepMs) {
        // Idle updates at replayTime + k x idleStepMs for every k that lies before the limit. Over a
        // long silence (a paused or damaged log) the middle ones are left out: the link has long
        // since timed out, and the last update still lands where the full run would end.
        i64 steps = (limit - 1 - replay->replayTime) / idleStepMs;
        i64 last = replay->replayTime + steps * idleStepMs;
        for (i64 k = 1; k <= steps; k++) {
            if (k == kMaxIdleUpdatesPerGap && steps > kMaxIdleUpdatesPerGap) {
                replay->replayTime = last - idleStepMs;
                k = steps;
            }
            replay->replayTime += idleStepMs;
            replay->replayMicros =
                static_cast<i64>(static_cast<u64>(replay->replayTime) - static_cast<u64>(index->timeBase)) * 1000;
            stepDroneLink(replay, sounds, elevation, nullptr, 0, ReplayedNone);
        }
    }
    if (time > targetTime && entry >= index->firstSortedEntry) {
        out->replayTime = replay->replayTime;
        out->replayMicros = replay->replayMicros;
        return out;
    }
    i32 type = index->entryTypes[entry];
    const u8* payload = flightLogEntryPayload(index, entry);
    u16 length = flightLogEntryLength(index, entry);
    applyEntry(replay, type, payload, length, time, index->timeBase, sounds, elevation);
    *cursor = entry + 1;
    out->replayTime = replay->replayTime;
    out->replayMicros = replay->replayMicros;
    out->payload = payload;
    out->type = type;
    out->length = length;
    return out;
}
