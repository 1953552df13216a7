// The telemetry record of the one followed vehicle and the decoder that fills it.
#pragma once
#include "Mavlink/Mavlink.h"

enum AutopilotKind : u32 {
    AutopilotUnknown = 0,
    AutopilotPx4 = 1,
    AutopilotArduCopter = 2,
};

constexpr i32 kStatusTextEntries = 256;
constexpr i32 kStatusTextBytes = 51;  // zero-terminated; STATUSTEXT carries at most 50 characters
constexpr i32 kRcChannelCount = 18;
constexpr i32 kHeartbeatCopyBytes = 34;  // a signed version 2 HEARTBEAT frame: 10 + 9 + 2 + 13

struct StatusTextEntry {
    u64 time;  // receive time, us
    u8 severity;
    u8 reserved[4];
    char text[kStatusTextBytes];
};
static_assert(sizeof(StatusTextEntry) == 64);

struct RcChannels {
    u64 time;  // receive time of the latest RC_CHANNELS, us
    i32 count;
    u16 values[kRcChannelCount];  // microseconds
    u8 rssi;
    u64 previousTime;
    i32 previousCount;
    u16 previousValues[kRcChannelCount];
};

struct GlobalPosition {
    u64 time;  // 0 while none
    f64 longitude;
    f64 latitude;
    f64 relativeAltitude;  // m above the take-off point
    f64 altitudeMsl;       // m
};

struct StoredPosition {
    u64 time;  // 0 while none
    f64 longitude;
    f64 latitude;
    f64 altitude;  // m above mean sea level
};

struct VehicleState {
    // Requests of the fly screen's mission controls, consumed by the mission state machines.
    u32 uploadRequest;
    u32 stopRequest;

    u32 autopilotKind;  // AutopilotKind
    u32 frameKind;      // MAV_TYPE of the followed vehicle's HEARTBEAT
    i32 landedState;
    u32 mavState;
    FixedString stateText;

    // Lock-on.
    u16 vehicleId;          // system << 8 | component, 0 while none
    u64 lastHeardTime;      // last message from the vehicle id, us; 0 = never
    u64 lastHeartbeatTime;  // us
    MavlinkFrameCopy heartbeat;
    u8 heartbeatSlot[kHeartbeatCopyBytes];

    GlobalPosition globalPosition;
    f64 velocityNorth;  // m/s
    f64 velocityEast;
    f64 velocityDown;
    f32 heading;  // degrees; NaN when the vehicle does not know it
    StoredPosition home;
    StoredPosition secondPosition;  // the take-off position: where the vehicle last left the ground
    u32 secondPositionSelected;
    f64 latitudeOffset;  // added to every position
    f64 longitudeOffset;
    f64 altitudeOffset;  // added to the relative altitude

    f32 roll;  // radians
    f32 pitch;
    f32 yaw;
    u64 attitudeTime;

    u8 gpsFixType;
    u8 satellites;
    u32 horizontalAccuracyMm;
    f64 gpsAltitudeMsl;  // m
    u64 gpsRawTime;

    u64 sensorsPresent;
    u64 sensorsEnabled;
    u64 sensorsHealthy;
    f64 batteryVoltage;  // V; NaN when the vehicle does not know it
    f64 batteryCurrent;  // A, NaN when unknown
    i32 batteryRemaining;  // %, -1 when unknown
    u64 sysStatusTime;

    RcChannels rcChannels;

    // Status texts: a ring of the newest 256.
    u8 statusTextNewest;
    u8 statusTextOldest;
    u32 statusTextCount;  // ever received
    u64 statusTextTime;
    StatusTextEntry statusTexts[kStatusTextEntries];

    f64 cruiseSpeed;  // m/s, the mission setting
    // The mission upload's and start's own texts ("Uploading 40%", "Started mission") and their time.
    FixedString missionStatusText;
    u64 missionStatusTime;
    // The newest command of the station that did not go through, refused by the vehicle's COMMAND_ACK
    // ("Takeoff refused (denied)") or never sent ("Land not sent: no link to the drone"), and when;
    // time 0 while none.
    FixedString commandRefusalText;
    u64 commandRefusalTime;

    u8 baseMode;  // base_mode of the vehicle's last HEARTBEAT (bit 7: armed)
    // The flight phase derived once per frame from the landed state and the autopilot's mode:
    // FlightPhase (0 no vehicle, 1 on the ground, 2 in the air, 3 taking off or landing, 4 flying the
    // uploaded mission).
    i32 flightPhase;
};

struct TelemetryResult {
    u32 taken;
    u32 reserved;
    u32 positionUpdated;
};

// Decodes SYS_STATUS, GPS_RAW_INT, ATTITUDE, GLOBAL_POSITION_INT, RC_CHANNELS, HOME_POSITION and
// STATUSTEXT of the followed vehicle into the state with their receive times.
TelemetryResult* decodeTelemetryMessage(TelemetryResult* result, const MavlinkMessage* message, VehicleState* vehicle,
                                        u64 time);

struct LongitudeLatitude {
    f64 longitude;
    f64 latitude;
};
// The reference point: the home position, or the second stored position while it is selected, plus
// the position offset.
LongitudeLatitude vehiclePosition(const VehicleState* vehicle);

// The newest status text, or null when none has come.
const StatusTextEntry* newestStatusText(const VehicleState* vehicle);
