#include "Mavlink/VehicleState.h"

#include <cmath>
#include <cstring>

static void decodeSysStatus(const u8* p, VehicleState* vehicle, u64 time) {
    // present, enabled, health; the extension fields carry bits 32 to 63.
    vehicle->sensorsPresent = (u64)mavlinkU32(p + 0) | (u64)mavlinkU32(p + 31) << 32;
    vehicle->sensorsEnabled = (u64)mavlinkU32(p + 4) | (u64)mavlinkU32(p + 35) << 32;
    vehicle->sensorsHealthy = (u64)mavlinkU32(p + 8) | (u64)mavlinkU32(p + 39) << 32;
    u16 millivolts = mavlinkU16(p + 14);
    i16 centiamperes = mavlinkI16(p + 16);
    vehicle->batteryVoltage = millivolts == 0xFFFF ? NAN : millivolts / 1000.0;
    vehicle->batteryCurrent = centiamperes == -1 ? NAN : centiamperes / 100.0;
    vehicle->batteryRemaining = (i8)p[30];
    vehicle->sysStatusTime = time;
}

static void decodeGpsRawInt(const u8* p, VehicleState* vehicle, u64 time) {
    vehicle->gpsAltitudeMsl = mavlinkI32(p + 16) / 1000.0;
    vehicle->gpsFixType = p[28];
    vehicle->satellites = p[29];
    vehicle->horizontalAccuracyMm = mavlinkU32(p + 34);
    vehicle->gpsRawTime = time;
}

static void decodeAttitude(const u8* p, VehicleState* vehicle, u64 time) {
    vehicle->roll = mavlinkF32(p + 4);
    vehicle->pitch = mavlinkF32(p + 8);
    vehicle->yaw = mavlinkF32(p + 12);
    vehicle->attitudeTime = time;
}

static void decodeGlobalPosition(const u8* p, VehicleState* vehicle, u64 time) {
    GlobalPosition* position = &vehicle->globalPosition;
    position->latitude = mavlinkI32(p + 4) / 1e7;
    position->longitude = mavlinkI32(p + 8) / 1e7;
    position->altitudeMsl = mavlinkI32(p + 12) / 1000.0;
    position->relativeAltitude = mavlinkI32(p + 16) / 1000.0;
    position->time = time;
    vehicle->velocityNorth = mavlinkI16(p + 20) / 100.0;
    vehicle->velocityEast = mavlinkI16(p + 22) / 100.0;
    vehicle->velocityDown = mavlinkI16(p + 24) / 100.0;
    u16 heading = mavlinkU16(p + 26);
    vehicle->heading = heading == 0xFFFF ? NAN : heading / 100.0f;
}

static void decodeRcChannels(const u8* p, VehicleState* vehicle, u64 time) {
    RcChannels* rc = &vehicle->rcChannels;
    rc->previousTime = rc->time;
    rc->previousCount = rc->count;
    std::memcpy(rc->previousValues, rc->values, sizeof(rc->values));
    for (i32 i = 0; i < kRcChannelCount; i++) {
        rc->values[i] = mavlinkU16(p + 4 + 2 * i);
    }
    rc->count = p[40] <= kRcChannelCount ? p[40] : kRcChannelCount;
    rc->rssi = p[41];
    rc->time = time;
}

static void decodeHomePosition(const u8* p, VehicleState* vehicle, u64 time) {
    vehicle->home.latitude = mavlinkI32(p + 0) / 1e7;
    vehicle->home.longitude = mavlinkI32(p + 4) / 1e7;
    vehicle->home.altitude = mavlinkI32(p + 8) / 1000.0;
    vehicle->home.time = time;
}

static void decodeStatusText(const u8* p, VehicleState* vehicle, u64 time) {
    if (vehicle->statusTextCount > 0) {
        vehicle->statusTextNewest = (u8)(vehicle->statusTextNewest + 1);
        if (vehicle->statusTextNewest == vehicle->statusTextOldest) {
            vehicle->statusTextOldest = (u8)(vehicle->statusTextOldest + 1);  // the ring is full
        }
    } else {
        vehicle->statusTextNewest = 0;
        vehicle->statusTextOldest = 0;
    }
    StatusTextEntry* entry = &vehicle->statusTexts[vehicle->statusTextNewest];
    *entry = StatusTextEntry{};
    entry->time = time;
    entry->severity = p[0];
    // 50 characters, zero-terminated only when shorter.
    i32 length = 0;
    while (length < 50 && p[1 + length] != 0) {
        length++;
    }
    std::memcpy(entry->text, p + 1, (size_t)length);
    entry->text[length] = 0;
    vehicle->statusTextCount++;
    vehicle->statusTextTime = time;
}

TelemetryResult* decodeTelemetryMessage(TelemetryResult* result, const MavlinkMessage* message, VehicleState* vehicle,
                                        u64 time) {
    *result = TelemetryResult{};
    if (!message->haveMessage) {
        return result;
    }
    const u8* p = message->payload;  // zero beyond the received length, so trimmed fields read as 0
    result->taken = 1;
    switch (message->messageId) {
    case MavlinkSysStatus:
        decodeSysStatus(p, vehicle, time);
        break;
    case MavlinkGpsRawInt:
        decodeGpsRawInt(p, vehicle, time);
        break;
    case MavlinkAttitude:
        decodeAttitude(p, vehicle, time);
        break;
    case MavlinkGlobalPositionInt:
        decodeGlobalPosition(p, vehicle, time);
        result->positionUpdated = 1;
        break;
    case MavlinkRcChannels:
        decodeRcChannels(p, vehicle, time);
        break;
    case MavlinkHomePosition:
        decodeHomePosition(p, vehicle, time);
        break;
    case MavlinkStatusText:
        decodeStatusText(p, vehicle, time);
        break;
    default:
        result->taken = 0;
        break;
    }
    return result;
}

LongitudeLatitude vehiclePosition(const VehicleState* vehicle) {
    const StoredPosition* reference =
        vehicle->secondPositionSelected && vehicle->secondPosition.time ? &vehicle->secondPosition : &vehicle->home;
    return {reference->longitude + vehicle->longitudeOffset, reference->latitude + vehicle->latitudeOffset};
}

const StatusTextEntry* newestStatusText(const VehicleState* vehicle) {
    return vehicle->statusTextCount ? &vehicle->statusTexts[vehicle->statusTextNewest] : nullptr;
}
