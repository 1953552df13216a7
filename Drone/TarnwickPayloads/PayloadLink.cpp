#include "Drone/TarnwickPayloads/PayloadLink.h"

#include "Core/GeometryTypes.h"
#include "Core/Geometry.h"
#include "Core/WarningSounds.h"
#include "Core/MathEarth.h"
#include "Core/Preferences.h"
#include "Core/Sound.h"
#include "Drone/TarnwickPayloads/PayloadDevices.h"
#include "Mission/PlanPolygons.h"
#include "Mission/WaypointMissionEditor.h"

#include <cmath>
#include <cstring>

namespace {

constexpr u64 kKindCopyStartTime = 5000000;

u16 readU16Be(const u8* p) { return (u16)(p[0] << 8 | p[1]); }
u32 readU32Be(const u8* p) { return (u32)p[0] << 24 | (u32)p[1] << 16 | (u32)p[2] << 8 | p[3]; }
u64 readU64Be(const u8* p) { return (u64)readU32Be(p) << 32 | readU32Be(p + 4); }

bool isOld(u64 time, u64 now, u64 age) { return now > time && now - time > age; }

// A text of a version frame: up to a NUL byte or the end of the body.
FixedString readVersionText(const u8* body, i32 length, i32* position) {
    i32 start = *position;
    i32 end = start;
    while (end < length && body[end] != 0) end++;
    *position = end < length ? end + 1 : end;
    return stringFromBytes(body + start, end - start);
}

void handleCountersReport(PayloadLink* link, const u8* body, i32 length, const PayloadReceive* receive) {
    u64 now = receive->now;
    if (length < 8) return;  // values 1 and 2 are always there in a report
    link->value1 = (i32)readU32Be(body);
    link->value2 = (i32)readU32Be(body + 4);
    if (length >= 12) {
        link->value3 = (i32)readU32Be(body + 8);
        link->value4 = length >= 13 ? body[12] : 0;
    } else {
        link->value3 = -3;
        link->value4 = 0;
    }
    link->countersTime = now;
    if (link->value1 > 0 || link->value2 > 0) link->countersActiveTime = now;
    if (link->value3 > 0) link->thirdActiveTime = now;
    if (length >= 35) {
        i32 value5 = (i32)readU32Be(body + 31);
        if (link->value5Time != 0 && value5 > link->value5 && receive->photoTotal) {
            *receive->photoTotal += (u32)((i64)value5 - link->value5);
        }
        link->value5Time = now;
        link->value5 = value5;
    }
}

void keepLogCopy(PayloadLink* link, i32 slot, const MavlinkMessage* message, u64 now) {
    if (slot < 0 || slot >= kPayloadLogSlots) return;
    MavlinkFrameCopy copy;
    copyMavlinkPayload(&copy, message, link->lastMessages[slot], kPayloadMessageCopyBytes, now);
    FlightLogEntryRecord* record = &link->logRecords[slot];
    record->time = (i64)now;
    record->payload = copy.writer;
    record->type = FlightLogReceivedFromDrone;
    link->logRecordHasData[slot] = copy.writer.overflow ? 0 : 1;
}

}  // namespace

i32 payloadFlightPhase(const VehicleState* vehicle) {
    i32 phase = vehicle->flightPhase;
    return phase < 0 || phase > 4 ? 0 : phase;
}

i32 vehicleDropPosition(DropPosition* out, const VehicleState* vehicle) {
    GeoPoint geo{vehicle->globalPosition.longitude + vehicle->longitudeOffset,
                 vehicle->globalPosition.latitude + vehicle->latitudeOffset};
    return encodeDropPosition(out, &geo);
}

u32 containsPayloadFrame(const MavlinkMessage* message) {
    if (message->messageId != MavlinkEncapsulatedData) return 0;
    // Its own parser on the stack: the flight-log parse job replays logs through the drone link on
    // the job worker while the main thread runs the live one.
    PayloadFrameParser parser{};
    nextPayloadFrame(&parser, message->payload, 0, message->payloadLength);
    return parser.frameReady;
}

u32 handleEncapsulatedData(const MavlinkMessage* message, PayloadLink* link, const PayloadReceive* receive) {
    u64 now = receive->now;
    if (receive->payloadKindWord && payloadFlightPhase(receive->vehicle) >= 2 && now > kKindCopyStartTime) {
        *receive->payloadKindWord = link->kind;
    }
    if (message->messageId != MavlinkEncapsulatedData) return 0;
    PayloadFrameParser* parser = &link->parser;
    i64 position = 0;
    i64 end = message->payloadLength;
    for (;;) {
        position = nextPayloadFrame(parser, message->payload, position, end);
        if (!parser->frameReady) break;
        link->sender = message->source;
        i32 logSlot = -1;
        const u8* body = parser->payload;
        i32 length = parser->payloadLength;
        u8 type = parser->type;
        if (handleOrvikFrame(body, length, type, receive->orvikDrops, receive->vehicle, &link->orvik, &logSlot, now,
                             receive->utcMilliseconds)) {
            if (receive->payloadKindWord) *receive->payloadKindWord = PayloadKindOrvik;
            link->kind = PayloadKindOrvik;
        } else if (handleVoskStatusFrame(body, length, type, receive->voskDrops, receive->source, receive->vehicle,
                                         receive->sounds, &link->vosk, &logSlot, now, receive->utcMilliseconds)) {
            if (receive->payloadKindWord) *receive->payloadKindWord = PayloadKindVosk;
            link->kind = PayloadKindVosk;
        } else if (type == PayloadFrameCounters) {
            handleCountersReport(link, body, length, receive);
        } else if (type == PayloadFrameLightState) {
            handleLightStateFrame(&link->light, body, length, now);
        }
        keepLogCopy(link, logSlot, message, now);
    }
    return 1;
}

u32 handleOrvikFrame(const u8* body, i32 length, u8 type, OrvikDropLocations* drops, const VehicleState* vehicle,
                     OrvikPayloadState* orvik, i32* logSlot, u64 now, i64 utcMilliseconds) {
    if (type == PayloadFrameOrvikVersion) {
        if (length < 10) return 0;  // too short to be a version: ignored
        orvik->versionId = readU32Be(body);
        std::memcpy(orvik->versionBytes, body + 4, 4);
        orvik->versionWord = readU16Be(body + 8);
        i32 position = 10;
        orvik->mainFirmwareVersion = readVersionText(body, length, &position);
        orvik->mainProgrammingDate = readVersionText(body, length, &position);
        orvik->auxFirmwareVersion = readVersionText(body, length, &position);
        orvik->auxProgrammingDate = readVersionText(body, length, &position);
        orvik->versionTime = now;
        *logSlot = 0;
        return 0;
    }
    if (type != PayloadFrameOrvikStatus || length < 27) return 0;
    orvik->state = body[0];
    i16 counterA = (i16)readU16Be(body + 1);
    i16 counterB = (i16)readU16Be(body + 3);
    if (counterA > orvik->dropCounterA || counterB > orvik->dropCounterB) {
        orvik->lastDropTime = now;
        DropPosition position;
        if (drops && payloadFlightPhase(vehicle) >= 2 && vehicle->globalPosition.time > 0 &&
            vehicleDropPosition(&position, vehicle)) {
            addOrvikDropLocation(drops, position, (u64)utcMilliseconds);
        }
    }
    orvik->dropCounterA = counterA;
    orvik->dropCounterB = counterB;
    orvik->status5 = readU16Be(body + 5);
    orvik->status7 = readU16Be(body + 7);
    orvik->batteryVoltage = body[9];
    orvik->injectionAmount = body[10];
    orvik->dropping = body[11];
    orvik->status12 = readU16Be(body + 12);
    orvik->status14 = readU16Be(body + 14);
    orvik->chuteTemp = (i8)body[16];
    orvik->ambientTemp = (i8)body[17];
    orvik->internalTemp = (i8)body[18];
    orvik->statusWord = readU64Be(body + 19);
    orvik->statusTime = now;
    *logSlot = 1;
    return 1;
}

u32 dropPermission(const VehicleState* vehicle, const OrvikGeofence* geofence, i32 phase, u32* reason) {
    if (phase < 2) return 1;
    i32 count = geofence ? geofence->pointCount : 0;
    if (count > kMaxGeofencePoints) count = kMaxGeofencePoints;
    bool inside = false;
    if (count >= 3) {
        f64 longitude = vehicle->globalPosition.longitude + vehicle->longitudeOffset;
        f64 latitude = vehicle->globalPosition.latitude + vehicle->latitudeOffset;
        GeoPoint geo{longitude, latitude};
        Vec2 point;
        latLngToMercator(&point, &geo);
        point.x = wrapLongitudeTurns(longitude, geofence->points[0].x);
        // A fence across the 180th meridian has corners on both of its sides (x near +0.5 and -0.5):
        // each corner is taken the short way from the one before, so the fence is one piece.
        Vec2 corners[kMaxGeofencePoints];
        corners[0] = geofence->points[0];
        for (i32 i = 1; i < count; i++) {
            corners[i] = geofence->points[i];
            corners[i].x = wrapNear(corners[i].x, corners[i - 1].x);
        }
        inside = std::isfinite(point.x) && std::isfinite(point.y) && pointInPolygon(&point, corners, count);
    }
    if (!inside) {
        *reason = DropOutsideGeofence;
        return 0;
    }
    if (phase == 3) {
        *reason = DropDisallowedFlightPhase;
        return 0;
    }
    return 1;
}

namespace {

// A timing preference that is not a number or negative counts as not set.
bool isSetTiming(f64 value) { return std::isfinite(value) && value >= 0; }

}  // namespace

u8 orvikDropPeriodByte(const VehicleState* vehicle, i32 phase, const Preferences* preferences) {
    f64 spacing = preferences->orvikDropSpacing;
    f64 maxPeriod = preferences->orvikMaxDropPeriod;
    f64 groundTiming = preferences->orvikGroundDropTiming;
    bool haveMax = isSetTiming(maxPeriod);
    f64 period;
    bool havePeriod = true;
    if (phase < 2) {
        period = groundTiming;
        havePeriod = isSetTiming(groundTiming);
    } else {
        f64 speed = std::sqrt(vehicle->velocityNorth * vehicle->velocityNorth + vehicle->velocityEast * vehicle->velocityEast);
        if (!isSetTiming(spacing) || !std::isfinite(speed)) {
            havePeriod = false;
            period = 0;
        } else if (speed == 0) {
            period = spacing == 0 ? 0 : maxPeriod;
            havePeriod = spacing == 0 || haveMax;
        } else {
            period = spacing / speed;
        }
    }
    // An unset value leaves the other in charge; with neither the longest period is sent.
    f64 chosen = havePeriod && haveMax ? std::fmin(maxPeriod, period) : havePeriod ? period : haveMax ? maxPeriod : 25.4;
    f64 tenths = 10.0 * chosen;
    if (!(tenths > 0)) return 0;
    if (tenths > 254) return 254;
    return (u8)tenths;
}

u32 sendPayloadFrame(DroneOutput* output, const AddressRecord* destination, u8* mavlinkSequence,
                     const ByteWriter* frame, u32 forceVersion2, u64 now) {
    if (!output->socket || destination->family == 0) return 0;
    ByteWriter* slot = queueSocketPacket(destination, output->socket);
    if (!slot) return 0;
    sendMavlinkMessage(forceVersion2, MavlinkEncapsulatedData, frame, slot, mavlinkSequence, output->source,
                       output->stats, now);
    return 1;
}

void queuePayloadAlert(SoundQueue* sounds) {
    if (sounds) queueSound(sounds, kPayloadErrorTone, toneSteps(kPayloadErrorTone));
}

void controlOrvikLink(OrvikPayloadState* orvik, const PayloadControl* control) {
    u64 now = control->now;
    const VehicleState* vehicle = control->vehicle;
    i32 phase = payloadFlightPhase(vehicle);
    if (isOld(orvik->requestTimes[0], now, kPayloadRequestHoldTime)) {
        orvik->wantedInjection = (u8)(orvik->injectionAmount / 10 * 10);
    }
    for (u32 k = 0; k < kOrvikRequestCount; k++) {
        if (isOld(orvik->requestTimes[k + 1], now, kPayloadRequestHoldTime)) orvik->requestCounters[k] = 0;
    }
    // Automatic start and stop with the uploaded mission.
    const WaypointMissionEditor* mission = control->mission;
    bool autoStart = phase == 4 && mission && mission->waypointCount > 0 && mission->waypoints[0].uploadMark != 0 &&
                     mission->waypoints[0].ignitePreviousSegment != 0;
    if (autoStart && !orvik->autoStartActive) {
        orvik->requestCounters[OrvikRequestStart]++;
        orvik->requestTimes[OrvikRequestStart + 1] = now;
        orvik->wantedDropCount = kOrvikContinuousDrops;
    } else if (!autoStart && orvik->autoStartActive) {
        orvik->requestCounters[OrvikRequestStop]++;
        orvik->requestTimes[OrvikRequestStop + 1] = now;
    }
    orvik->autoStartActive = autoStart;
    // Automatic emergency release.
    if (orvik->state == kOrvikStatePunctureMotionError && !(orvik->statusWord & kOrvikEmergencyReleaseBit)) {
        if (orvik->autoReleaseDeadline == 0) {
            orvik->autoReleaseDeadline = (i64)(now + 5000000);
        } else if (orvik->autoReleaseDeadline > 0 && now > (u64)orvik->autoReleaseDeadline) {
            orvik->requestCounters[OrvikRequestEmergencyRelease]++;
        }
    } else {
        orvik->autoReleaseDeadline = 0;
    }
    // The control frame every 100 ms. An output without a socket (a replay's) judges the same moments
    // and builds nothing.
    DroneOutput* output = control->output;
    if (now - orvik->lastSendTime < kPayloadControlInterval && orvik->lastSendTime != 0) return;
    if (!output || output->destination.family == 0) return;
    ByteWriter* slot = output->socket ? queueSocketPacket(&output->destination, output->socket) : nullptr;
    if (output->socket && !slot) return;
    bool fresh = isPayloadStatusFresh(orvik->statusTime, now);
    u8 flags = 0;
    if (fresh) {
        u32 reason = orvik->disallowReason;
        if (dropPermission(vehicle, control->geofence, phase, &reason)) flags |= 1;
        orvik->disallowReason = reason;
    } else {
        orvik->disallowReason = DropAllowedOrNoStatus;
    }
    if (slot) {
        if (orvik->versionTime == 0 || phase == 0) flags |= 4;
        u8 injection = isOld(orvik->requestTimes[0], now, kPayloadRequestHoldTime) || orvik->requestTimes[0] == 0
                           ? 255
                           : orvik->wantedInjection;
        u8 bytes[kPayloadFrameWriterBytes];
        ByteWriter frame = makeByteWriter(bytes, sizeof(bytes));
        LengthFieldMark mark = beginPayloadFrame(&orvik->sequence, PayloadFrameOrvikControl, &frame);
        appendU8(flags, &frame);
        appendU8(orvikDropPeriodByte(vehicle, phase, control->preferences), &frame);
        appendU8(injection, &frame);
        appendU8(injection, &frame);
        appendU8(orvik->wantedDropCount > kOrvikContinuousDrops ? kOrvikContinuousDrops : orvik->wantedDropCount, &frame);
        appendBytes(orvik->requestCounters, kOrvikRequestCount, &frame);
        finishPayloadFrame(&mark, &frame);
        sendMavlinkMessage(0, MavlinkEncapsulatedData, &frame, slot, output->sequence, output->source, output->stats,
                           now);
    }
    orvik->lastSendTime = now;
    // The alert, judged on the frames that send.
    u32 releaseBit = (orvik->statusWord & kOrvikEmergencyReleaseBit) ? 1 : 0;
    u32 highTemp = orvik->chuteTemp > 60;
    u32 dropping = orvik->dropping != 0;
    bool raise = (releaseBit && !orvik->previousReleaseBit) || (highTemp && !orvik->previousHighTemp) ||
                 (!fresh && orvik->previousFresh) ||
                 (!dropping && orvik->previousDropping &&
                  (orvik->state == 7 || orvik->state == 8 || orvik->state >= 96));
    orvik->previousReleaseBit = releaseBit;
    orvik->previousHighTemp = highTemp;
    orvik->previousDropping = dropping;
    orvik->previousFresh = fresh;
    orvik->alertRaised = raise;
    if (raise) queuePayloadAlert(control->sounds);
}

void controlPayloadLink(PayloadLink* link, const PayloadControl* control) {
    // The kind is the payload heard last; a drone that carries both keeps both links running while
    // each one's status is fresh, or the one not heard last would be cut off from its commands.
    u64 now = control->now;
    bool voskFresh = isPayloadStatusFresh(link->vosk.units[0].statusTime, now) ||
                     isPayloadStatusFresh(link->vosk.units[1].statusTime, now);
    if (link->kind == PayloadKindOrvik || isPayloadStatusFresh(link->orvik.statusTime, now)) {
        controlOrvikLink(&link->orvik, control);
    }
    if (link->kind == PayloadKindVosk || voskFresh) {
        controlVoskLink(&link->vosk, control);
    }
    if ((link->kind == PayloadKindOrvik || link->kind == PayloadKindVosk) && control->logger) {
        for (i32 slot = 0; slot < kPayloadLogSlots; slot++) {
            if (link->logRecordHasData[slot]) registerFlightLogEntry(control->logger, &link->logRecords[slot]);
        }
    }
    sendLightControl(&link->light, control);
    sendPhotoIntervalRequests(link, control);
}
