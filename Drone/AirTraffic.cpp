#include "Drone/AirTraffic.h"

#include "Core/MathEarth.h"
#include "Core/Preferences.h"
#include "Core/Sound.h"
#include "Mavlink/VehicleState.h"

#include <cmath>
#include <cstring>

const ToneSegment kAdsbTone[kAdsbToneSegments] = {
    {0.062, 587, 0.5, 0}, {0.062, 784, 0.5, 0},  {0.062, 831, 0.5, 0}, {0.062, 784, 0.5, 0}, {0.062, 1109, 0.5, 0},
    {0.062, 784, 0.5, 0}, {0.062, 831, 0.5, 0}, {0.062, 784, 0.5, 0}, {0, 784, 0.5, 0},
};

namespace {

i32 chooseSlot(const AirTrafficList* traffic, u32 icaoAddress, i64 lastContactTime) {
    i32 freeSlot = -1;
    i32 stalest = -1;
    for (i32 i = kAirTrafficSlots - 1; i >= 0; i--) {
        bool used = (traffic->usedSlots >> i) & 1;
        const AirTrafficSlot* slot = &traffic->slots[i];
        if (used && slot->icaoAddress == icaoAddress) return i;
        if (!used) {
            freeSlot = i;
        } else if (slot->lastContactTime < lastContactTime &&
                   (stalest < 0 || slot->lastContactTime <= traffic->slots[stalest].lastContactTime)) {
            stalest = i;
        }
    }
    if (freeSlot >= 0) return freeSlot;
    return stalest >= 0 ? stalest : 0;
}

bool insideCylinder(const AirTrafficSlot* aircraft, GeoPoint aircraftPoint, const VehicleState* vehicle,
                    const Preferences* preferences) {
    if (vehicle->globalPosition.time == 0 || !(aircraft->altitude <= preferences->adsbWarningCylinderAltitude)) {
        return false;
    }
    GeoPoint drone{vehicle->globalPosition.longitude + vehicle->longitudeOffset,
                   vehicle->globalPosition.latitude + vehicle->latitudeOffset};
    f64 distance = std::sqrt(geoDistanceSquared(&drone, &aircraftPoint));
    return distance <= preferences->adsbWarningCylinderRadius;
}

}  // namespace

u32 decodeAdsbVehicle(const MavlinkMessage* message, const VehicleState* vehicle, const Preferences* preferences,
                      SoundQueue* sounds, AirTrafficList* traffic, u64 now) {
    if (message->messageId != kAdsbVehicleMessage) return 0;
    const u8* p = message->payload;  // zero beyond the received length
    i32 latitudeE7 = mavlinkI32(p + 4);
    i32 longitudeE7 = mavlinkI32(p + 8);
    if (latitudeE7 == 0 && longitudeE7 == 0) return 1;

    AirTrafficSlot report{};
    report.icaoAddress = mavlinkU32(p + 0);
    GeoPoint point{longitudeE7 / 1e7, latitudeE7 / 1e7};
    Vec2 position;
    latLngToMercator(&position, &point);
    report.x = position.x;
    report.y = position.y;
    report.altitude = mavlinkI32(p + 12) / 1000.0;
    report.heading = mavlinkU16(p + 16) / 100.0;
    report.horizontalSpeed = mavlinkU16(p + 18) / 100.0;
    std::memcpy(report.callsign, p + 27, sizeof(report.callsign));
    report.lastContactTime = (i64)now - (i64)p[37] * 1000000;

    i32 index = chooseSlot(traffic, report.icaoAddress, report.lastContactTime);
    AirTrafficSlot* slot = &traffic->slots[index];
    bool sameAircraft = ((traffic->usedSlots >> index) & 1) && slot->icaoAddress == report.icaoAddress;
    u8 warned = sameAircraft ? slot->warned : 0;
    if (insideCylinder(&report, point, vehicle, preferences)) {
        if (!warned && sounds && pendingSoundCount(sounds) < kSoundQueueSlots - 1) {
            queueSound(sounds, kAdsbTone, kAdsbToneSegments);
        }
        warned = 1;
    } else {
        warned = 0;
    }
    report.warned = warned;
    *slot = report;
    traffic->usedSlots |= 1ull << index;
    return 1;
}
