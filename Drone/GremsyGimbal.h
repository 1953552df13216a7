// The Gremsy gimbal on MAVLink component 154: its attitude from MOUNT_ORIENTATION, its firmware
// version and message rates as parameters, and pointing by DO_MOUNT_CONTROL from the pilot's sticks.
#pragma once
#include "Drone/FlightController/AutopilotState.h"
#include "Video/CameraLink.h"

constexpr u8 kGremsyComponent = 154;
constexpr u8 kMavTypeGimbal = 26;
constexpr i32 kGremsyParameters = 9;
constexpr u64 kGremsyCommandInterval = 100001;

enum GremsyParameter : u32 {
    GremsyVersionX = 0,
    GremsyVersionY,
    GremsyVersionZ,
    GremsyHeartbeatEmit,
    GremsyStatusRate,
    GremsyEncoderCountRate,
    GremsyEncoderTypeSend,
    GremsyOrientationRate,
    GremsyImuRate,
};

struct GremsyParameterName {
    const char* name;
    u16 index;
};
extern const GremsyParameterName kGremsyParameterNames[kGremsyParameters];

struct GremsyGimbalState {
    u16 gimbalSource;  // 0 until the gimbal's HEARTBEAT
    ParameterSlot parameters[kGremsyParameters];
    u64 heartbeatTime;
    u8 heartbeatFrame[21];
    MavlinkFrameCopy heartbeat;
    u64 orientationTime;
    f32 roll, pitch, yaw;  // degrees, relative to the vehicle
    f32 yawAbsolute;
    u64 previousStepTime;
    f32 pitchTarget, yawTarget;  // degrees
    u64 mountCommandTime;
    // A one-shot pointing request: sent once, cleared once queued.
    f32 requestPitch, requestYaw, requestRoll;
    u32 requestPending;
};

// 1 when consumed. A gimbal HEARTBEAT is noted but left for the other handlers.
u32 handleGremsyGimbalMessage(const MavlinkMessage* message, GremsyGimbalState* state, u64 now);

// The firmware's sign: -1 before 7.5.8, +1 from it on, 0 while a version parameter is unknown.
i32 gremsyVersionSign(const GremsyGimbalState* state);

// Once per frame while a gimbal is known.
void controlGimbal(GremsyGimbalState* state, GimbalPointing* pointing, const VehicleState* vehicle,
                   const Preferences* preferences, FlightLogger* logger, DroneOutput* output, u64 now);
