#include "Core/Format.h"
#include "Mavlink/DroneOutput.h"
#include "Mavlink/VehicleState.h"
#include "Drone/FlightController/AutopilotControl.h"
#include "Drone/FlightController/AutopilotSend.h"

#include <cstring>

namespace {

constexpr u32 kMissionRequest = 40;
constexpr u32 kMissionCount = 44;
constexpr u32 kMissionAck = 47;
constexpr u32 kMissionRequestInt = 51;
constexpr u32 kCommandAck = 77;
constexpr u8 kMissionCancelled = 15;

const char* const kModeNames[kArduCopterModeNames] = {
    "STABILIZE", "ACRO", "ALT HOLD", "AUTO", "GUIDED", "LOITER", "RTL", "CIRCLE", nullptr, "LAND",
    nullptr, "DRIFT", nullptr, "SPORT", "FLIP", "AUTOTUNE", "POSHOLD", "BRAKE", "THROW", "AVOID ADSB",
    "GUIDED NO GPS", "SMART RTL", "FLOW HOLD", "FOLLOW", "ZIGZAG", "SYSTEMID", "AUTOROTATE", "AUTO RTL",
};

FixedString modeText(u32 customMode) {
    const char* name = arduCopterModeName(customMode);
    return name ? makeString(name) : formatInt("UNKNOWN MODE (@)", customMode);
}

FixedString stateText(u8 mavState, u32 customMode) {
    switch (mavState) {
    case 1: return makeString("BOOTING");
    case 2: return makeString("CALIBRATING");
    case 3: return formatStr("STANDBY - @", modeText(customMode));
    case 4: return formatStr("ACTIVE - @", modeText(customMode));
    case 5: return formatStr("CRITICAL - @", modeText(customMode));
    case 6: return formatStr("EMERGENCY - @", modeText(customMode));
    case 7: return makeString("POWERING OFF");
    case 8: return makeString("TERMINATING FLIGHT");
    default: return formatInt("UNKNOWN STATE (@)", mavState);
    }
}

void handleHeartbeat(const u8* p, ArduCopterState* arduCopter, VehicleState* vehicle, u64 now) {
    arduCopter->customMode = mavlinkU32(p);
    u8 type = p[4];
    if (type == 2) vehicle->frameKind = 0;
    if (type == 15) vehicle->frameKind = 1;
    if (type == 13) vehicle->frameKind = 2;
    u8 mavState = p[7];
    vehicle->mavState = mavState;
    vehicle->landedState = mavState == 4 || mavState == 5 || mavState == 6 ? 2 : 0;
    arduCopter->heartbeatTime = now;
    vehicle->stateText = stateText(mavState, arduCopter->customMode);
}

void handleMissionRequest(const MavlinkMessage* message, ArduCopterState* arduCopter, VehicleState* vehicle,
                          DroneOutput* output, u64 now) {
    arduCopter->missionMessageTime = now;
    if (arduCopter->startState != MissionUploading) return;
    u16 index = 0;
    if (!serveMissionRequest(message, &arduCopter->mission, vehicle->vehicleId, output, now, &index)) return;
    arduCopter->lastRequestedIndex = (i16)index;
    setMissionStatus(vehicle, formatInt("Uploading @%", (index + 1) * 100 / arduCopter->mission.count), now);
}

void sendMissionAck(u8 type, u16 vehicleId, DroneOutput* output, u64 now) {
    u8 bytes[4] = {(u8)(vehicleId >> 8), (u8)vehicleId, type, 0};
    ByteWriter payload = makeByteWriter(bytes, sizeof(bytes));
    payload.length = sizeof(bytes);
    sendVehicleMessage(kMissionAck, &payload, reserveDroneOutput(output), output, now);
}

void handleMissionAck(const u8* p, ArduCopterState* arduCopter, VehicleState* vehicle, const DroneOutput* output,
                      u64 now) {
    u16 target = (u16)(p[0] << 8 | p[1]);
    if (target != output->source || p[3] != 0 || arduCopter->startState != MissionUploading) return;
    if (p[2] == 0) {
        arduCopter->missionMessageTime = now;
        arduCopter->startState = MissionUploaded;
        arduCopter->missionKnown = 1;
        arduCopter->droneMissionCount = arduCopter->mission.count;
        arduCopter->modeCommandTime = 0;
        return;
    }
    arduCopter->startState = MissionIdle;
    arduCopter->missionKnown = 0;
    setMissionStatus(vehicle, missionUploadFailureText(p[2], &arduCopter->mission), now);
}

}  // namespace

const char kBasicIdPrearmText[] = "PreArm: OpenDroneID: UA_TYPE required in BasicID";

const char* arduCopterModeName(u32 customMode) {
    return customMode < (u32)kArduCopterModeNames ? kModeNames[customMode] : nullptr;
}

u32 handleArduCopterMessage(const MavlinkMessage* message, ArduCopterState* arduCopter, VehicleState* vehicle,
                            WaypointMissionEditor*, DroneOutput* output, u64 now) {
    const u8* p = message->payload;  // zero beyond the received length
    switch (message->messageId) {
    case MavlinkHeartbeat:
        handleHeartbeat(p, arduCopter, vehicle, now);
        return 1;
    case kMissionRequest:
    case kMissionRequestInt:
        handleMissionRequest(message, arduCopter, vehicle, output, now);
        return 1;
    case kMissionCount:
        if (p[4] == 0) {
            arduCopter->missionKnown = 1;
            arduCopter->droneMissionCount = mavlinkU16(p);
        }
        // The download the vehicle offers is not wanted.
        sendMissionAck(kMissionCancelled, vehicle->vehicleId, output, now);
        return 1;
    case kMissionAck:
        handleMissionAck(p, arduCopter, vehicle, output, now);
        return 1;
    case kCommandAck:
        return handleCommandAck(message, vehicle, &arduCopter->namedCommand, output->source, now);
    case MavlinkStatusText: {
        // 50 characters, zero-terminated only when shorter; compared whole.
        const char* text = (const char*)p + 1;
        size_t length = sizeof(kBasicIdPrearmText) - 1;
        bool matches = std::memcmp(text, kBasicIdPrearmText, length) == 0 && (length == 50 || text[length] == 0);
        if (matches && arduCopter->remoteIdType != 0) arduCopter->basicIdRequest = 1;
        return 0;
    }
    default:
        return 0;
    }
}
