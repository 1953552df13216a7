#include "Drone/GremsyGimbal.h"

#include "Core/MathQuaternion.h"
#include "Core/Preferences.h"
#include "Drone/FlightController/Parameters.h"
#include "Mavlink/VehicleState.h"

#include <algorithm>
#include <cmath>
#include <cstring>

const GremsyParameterName kGremsyParameterNames[kGremsyParameters] = {
    {"VERSION_X", 0},       {"VERSION_Y", 67},   {"VERSION_Z", 68},  {"HEARTBEAT_EMIT", 72}, {"STATUS_RATE", 73},
    {"ENC_CNT_RATE", 74},   {"ENC_TYPE_SEND", 75}, {"ORIEN_RATE", 76}, {"IMU_RATE", 77},
};

namespace {

constexpr f64 kPi = 3.14159265358979323846;

}  // namespace

u32 handleGremsyGimbalMessage(const MavlinkMessage* message, GremsyGimbalState* state, u64 now) {
    if ((message->source & 0xFF) != kGremsyComponent) return 0;
    const u8* p = message->payload;
    switch (message->messageId) {
    case MavlinkHeartbeat:
        if (p[4] == kMavTypeGimbal) {
            state->gimbalSource = message->source;
            state->heartbeatTime = now;
            copyMavlinkPayload(&state->heartbeat, message, state->heartbeatFrame, sizeof(state->heartbeatFrame), now);
        }
        return 0;
    case MavlinkParamValue: {
        u8 id[kParameterNameBytes];
        std::memcpy(id, p + 8, kParameterNameBytes);
        for (i32 i = 0; i < kGremsyParameters; i++) {
            u8 name[kParameterNameBytes] = {};
            std::memcpy(name, kGremsyParameterNames[i].name, std::strlen(kGremsyParameterNames[i].name));
            if (std::memcmp(name, id, kParameterNameBytes) == 0) {
                storeParamValue(&state->parameters[i], mavlinkU32(p), mavlinkU16(p + 6), now, message);
                return 1;
            }
        }
        return 0;
    }
    case MavlinkMountOrientation:
        state->orientationTime = now;
        state->roll = mavlinkF32(p + 4);
        state->pitch = mavlinkF32(p + 8);
        state->yaw = mavlinkF32(p + 12);
        state->yawAbsolute = mavlinkF32(p + 16);
        return 1;
    default:
        return 0;
    }
}

i32 gremsyVersionSign(const GremsyGimbalState* state) {
    for (i32 i = (i32)GremsyVersionX; i <= (i32)GremsyVersionZ; i++) {
        if (!state->parameters[i].received) return 0;
    }
    i32 part[3];
    for (i32 i = 0; i < 3; i++) {
        f32 value = parameterFloat(state->parameters[i].value);
        part[i] = std::fabs(value) < 1e9f ? (i32)value & 63 : 0;  // NaN and huge values read as 0
    }
    i32 version = part[0] * 10000 + part[1] * 100 + part[2];
    return version < 70508 ? -1 : 1;
}

void controlGimbal(GremsyGimbalState* state, GimbalPointing* pointing, const VehicleState* vehicle,
                   const Preferences* preferences, FlightLogger* logger, DroneOutput* output, u64 now) {
    if (state->gimbalSource == 0) return;
    // No command goes out before the firmware version is known, so it is read until it is.
    for (i32 i = (i32)GremsyVersionX; i <= (i32)GremsyVersionZ; i++) {
        if (!state->parameters[i].received) state->parameters[i].viewedTime = now;
    }
    i32 sign = gremsyVersionSign(state);
    if (sign != 0) {
        f64 degree = kPi / 180.0;
        quaternionFromEuler(&pointing->attitude, sign * state->roll * degree, sign * state->pitch * degree,
                            state->yaw * degree + vehicle->yaw);
        pointing->gimbalAngle = state->yaw * degree;

        f64 dt = (f64)(now - state->previousStepTime) / 1e6;
        if (state->previousStepTime != 0 && dt < 1) {
            state->pitchTarget += (f32)(dt * pointing->pitchInput);
            state->yawTarget += (f32)(dt * pointing->yawInput);
        }
        state->pitchTarget = std::clamp(state->pitchTarget, -90.0f, 35.0f);
        state->yawTarget = std::clamp(state->yawTarget, -270.0f, 270.0f);
        if (pointing->recenterHeld) {
            state->yawTarget = 0;
            state->pitchTarget = (f32)preferences->recenterPositionPitch;
        } else if (pointing->secondaryHeld) {
            state->yawTarget = (f32)preferences->secondaryPositionYaw;
            state->pitchTarget = (f32)preferences->secondaryPositionPitch;
        }
        bool active = pointing->pitchInput != 0 || pointing->yawInput != 0 || pointing->recenterHeld ||
                      pointing->secondaryHeld;
        if (active && now - state->mountCommandTime >= kGremsyCommandInterval) {
            ByteWriter* slot = reserveDroneOutput(output);
            if (slot) {
                sendCommandLong(205, sign * state->pitchTarget, 0, sign * state->yawTarget, 0, 0, 1, 2,
                                state->gimbalSource, slot, output->sequence, output->source, output->stats, now);
                state->mountCommandTime = now;
            }
        }
    }
    state->previousStepTime = now;

    // The one-shot request stays pending until it is in the send queue.
    if (state->requestPending) {
        ByteWriter* slot = reserveDroneOutput(output);
        if (slot) {
            sendCommandLong(205, state->requestPitch, state->requestRoll, state->requestYaw, 0, 0, 1, 2,
                            state->gimbalSource, slot, output->sequence, output->source, output->stats, now);
            state->requestPending = 0;
        }
    }

    for (i32 i = 0; i < kGremsyParameters; i++) {
        syncParamFloat(&state->parameters[i], kGremsyParameterNames[i].name, state->gimbalSource, output, now, logger);
    }
}
