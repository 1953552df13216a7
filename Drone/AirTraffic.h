// Air traffic heard through the drone link: the aircraft that the drone's ADS-B receiver reports in
// ADSB_VEHICLE, kept in 64 slots, with a warning tone when one comes into a cylinder around the drone.
#pragma once
#include "Core/Sound.h"

struct MavlinkMessage;
struct VehicleState;
struct Preferences;

constexpr i32 kAirTrafficSlots = 64;
constexpr u32 kAdsbVehicleMessage = 246;

// One aircraft heard through ADSB_VEHICLE.
struct AirTrafficSlot {
    f64 x;  // normalised Web-Mercator
    f64 y;
    f64 altitude;         // m
    f64 heading;          // degrees
    f64 horizontalSpeed;  // m/s
    i64 lastContactTime;  // us of the link's clock: the receive time less the report's age
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

// 0 when the message is not ADSB_VEHICLE, else 1. A report at latitude and longitude 0 is ignored.
// Otherwise the aircraft goes into the slot of its ICAO address, else the lowest free slot, else the
// slot whose last contact is the oldest and older than this report's, else slot 0. An aircraft at or
// below "ADSB audible warning cylinder altitude (m MSL)" and within "ADSB audible warning cylinder
// radius (m)" of the vehicle's position is announced with the ADS-B tone once, until it has left the
// cylinder; without a known vehicle position nothing is inside.
u32 decodeAdsbVehicle(const MavlinkMessage* message, const VehicleState* vehicle, const Preferences* preferences,
                      SoundQueue* sounds, AirTrafficList* traffic, u64 now);

// The ADS-B tone and its length in steps.
extern const ToneSegment kAdsbTone[];
constexpr u64 kAdsbToneSegments = 9;
