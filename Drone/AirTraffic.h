// Air traffic heard through the drone link, as the drone connection calls it. For now no message is
// taken; the air-traffic decoder replaces this.
#pragma once
#include "Core/Types.h"

struct MavlinkMessage;
struct DroneConnection;

constexpr i32 kAirTrafficSlots = 64;

// One aircraft heard through ADSB_VEHICLE.
struct AirTrafficSlot {
    f64 x;  // normalised Web-Mercator
    f64 y;
    f64 altitude;         // m
    f64 heading;          // degrees
    f64 horizontalSpeed;  // m/s
    i64 lastContactTime;  // us of the link's clock
    u32 icaoAddress;
    u8 warned;  // 1 while inside the warning cylinder and announced
    char callsign[9];
    u8 reserved[2];
};
static_assert(sizeof(AirTrafficSlot) == 64);

struct AirTrafficList {
    u64 usedSlots;  // bit i = slot i
    AirTrafficSlot slots[kAirTrafficSlots];
};

// 1 when the message was an ADS-B report and has been stored.
u32 decodeAdsbVehicle(const MavlinkMessage* message, DroneConnection* connection, u64 now);
