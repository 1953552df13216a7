#include "Core/Format.h"
#include "Mavlink/DroneOutput.h"
#include "Mavlink/VehicleState.h"
#include "Drone/FlightController/AutopilotControl.h"
#include "Drone/FlightController/AutopilotSend.h"
#include "Drone/FlightController/Parameters.h"
#include "Mission/WaypointUndo.h"

#include <cstring>

namespace {

constexpr u32 kParamValue = 22;
constexpr u32 kMissionRequest = 40;
constexpr u32 kMissionCount = 44;
constexpr u32 kMissionItemReached = 46;
constexpr u32 kMissionAck = 47;
constexpr u32 kMissionRequestInt = 51;
constexpr u32 kCommandAck = 77;
constexpr u32 kExtendedSysState = 245;
constexpr u32 kOpenDroneIdLocation = 12901;
constexpr u32 kOpenDroneIdAuthentication = 12902;
constexpr u8 kParamTypeInt32 = 6;
constexpr u8 kParamTypeReal32 = 9;
constexpr u8 kMissionCancelled = 15;

void keepLogFrame(Px4State* px4, const MavlinkMessage* message, u64 now) {
    MavlinkFrameCopy copy;
    copyMavlinkPayload(&copy, message, px4->logFrame, sizeof(px4->logFrame), now);
    px4->logEntry.time = (i64)now;
    px4->logEntry.type = FlightLogReceivedFromDrone;
    px4->logEntry.payload = copy.writer.overflow ? ByteWriter{} : copy.writer;
}

// A value is stored only into the slot of its name, and only when its type is the slot's.
void handleParamValue(const MavlinkMessage* message, Px4State* px4, u64 now) {
    const u8* p = message->payload;
    i32 slot = px4ParameterSlot(p + 8);
    if (slot < 0) return;
    u8 expected = slot < kPx4IntParameters ? kParamTypeInt32 : kParamTypeReal32;
    if (p[24] != expected) return;
    storeParamValue(&px4->parameters[slot], mavlinkU32(p), mavlinkU16(p + 6), now, message);
}

void sendMissionAck(u8 type, u16 vehicleId, DroneOutput* output, u64 now) {
    u8 bytes[4];
    ByteWriter payload = makeByteWriter(bytes, sizeof(bytes));
    appendU8((u8)(vehicleId >> 8), &payload);
    appendU8((u8)vehicleId, &payload);
    appendU8(type, &payload);
    appendU8(0, &payload);
    sendVehicleMessage(kMissionAck, &payload, reserveDroneOutput(output), output, now);
}

void handleMissionAck(const MavlinkMessage* message, Px4State* px4, VehicleState* vehicle, DroneOutput* output,
                      u64 now) {
    const u8* p = message->payload;
    u16 target = (u16)(p[0] << 8 | p[1]);
    if (target != output->source || p[3] != 0 || px4->startState != MissionUploading) return;
    if (p[2] == 0) {
        px4->startState = MissionUploaded;
        px4->missionKnown = 1;
        px4->droneMissionCount = px4->mission.count;
        px4->uploadTime = now;
        px4->modeCommandTime = 0;
        return;
    }
    px4->startState = MissionIdle;
    px4->missionKnown = 0;
    setMissionStatus(vehicle, missionUploadFailureText(p[2], &px4->mission), now);
}

}  // namespace

u32 handlePx4Message(const MavlinkMessage* message, Px4State* px4, VehicleState* vehicle, WaypointMissionEditor* plan,
                     DroneOutput* output, u64 now) {
    const u8* p = message->payload;
    switch (message->messageId) {
    case MavlinkHeartbeat: {
        u32 customMode = mavlinkU32(p);
        px4->mainMode = (u8)(customMode >> 16);
        px4->subMode = (u8)(customMode >> 24);
        px4->mavState = p[7];
        px4->heartbeatTime = now;
        vehicle->mavState = p[7];
        keepLogFrame(px4, message, now);
        return 1;
    }
    case kExtendedSysState:
        vehicle->landedState = p[1];
        return 1;
    case kParamValue:
        handleParamValue(message, px4, now);
        return 1;
    case kMissionRequest:
    case kMissionRequestInt: {
        if (px4->startState != MissionUploading) return 1;
        u16 index = 0;
        if (serveMissionRequest(message, &px4->mission, vehicle->vehicleId, output, now, &index)) {
            // Each request is progress: the upload's time-out counts from the last one.
            px4->uploadTime = now;
            px4->uploadResendTime = now;
            setMissionStatus(vehicle, formatInt("Uploading @%", (index + 1) * 100 / px4->mission.count), now);
        }
        return 1;
    }
    case kMissionCount:
        if (p[4] == 0) {
            px4->missionKnown = 1;
            px4->droneMissionCount = mavlinkU16(p);
            px4->missionCountTime = now;
        }
        sendMissionAck(kMissionCancelled, vehicle->vehicleId, output, now);
        return 1;
    case kMissionAck:
        handleMissionAck(message, px4, vehicle, output, now);
        return 1;
    case kMissionItemReached: {
        u16 seq = mavlinkU16(p);
        if (plan && seq > 0) purgeUndoActionsFor(plan, (u32)seq - 1);
        return 1;
    }
    case kOpenDroneIdLocation:
    case kOpenDroneIdAuthentication:
        px4->remoteIdHeardTime = now;
        return 1;
    case kCommandAck:
        return handleCommandAck(message, vehicle, &px4->namedCommand, output->source, now);
    default:
        return 0;
    }
}
