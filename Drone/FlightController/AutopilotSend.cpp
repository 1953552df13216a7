#include "Drone/FlightController/AutopilotSend.h"

#include "Core/Format.h"
#include "Drone/FlightController/AutopilotControl.h"
#include "Mavlink/DroneOutput.h"
#include "Mavlink/Mavlink.h"
#include "Mavlink/VehicleState.h"

#include <cstring>

namespace {
constexpr u32 kMissionCount = 44;
constexpr u32 kMissionClearAll = 45;
constexpr u32 kMissionAck = 47;
constexpr u8 kMissionCancelled = 15;
constexpr u8 kResultAccepted = 0;
constexpr u8 kResultInProgress = 5;
// A refusal names what the crew asked for while it is this recent.
constexpr u64 kNamedCommandHold = 5000000;
}  // namespace

void setMissionStatus(VehicleState* vehicle, FixedString text, u64 now) {
    vehicle->missionStatusText = text;
    vehicle->missionStatusTime = now;
}

void setMissionStatus(VehicleState* vehicle, const char* text, u64 now) {
    setMissionStatus(vehicle, makeString(text), now);
}

bool sendVehicleCommand(u16 command, f32 param1, f32 param2, f32 param3, f32 param4, f32 param5, f32 param6,
                        f32 param7, const AutopilotFrame* frame) {
    ByteWriter* slot = reserveDroneOutput(frame->output);
    if (!slot) return false;
    DroneOutput* output = frame->output;
    sendCommandLong(command, param1, param2, param3, param4, param5, param6, param7, frame->vehicle->vehicleId, slot,
                    output->sequence, output->source, output->stats, frame->now);
    return true;
}

bool sendNamedCommand(NamedCommand* named, const char* name, u16 command, f32 param1, f32 param2, f32 param3,
                      const AutopilotFrame* frame) {
    if (!sendVehicleCommand(command, param1, param2, param3, 0, 0, 0, 0, frame)) return false;
    *named = NamedCommand{command, 0, name, frame->now};
    return true;
}

FixedString commandResultText(u8 result) {
    static const char* const kWords[10] = {"accepted",    "temporarily rejected", "denied",
                                           "unsupported", "failed",               "in progress",
                                           "cancelled",   "long form only",       "int form only",
                                           "unsupported frame"};
    return result < 10 ? makeString(kWords[result]) : formatInt("result @", result);
}

u32 handleCommandAck(const MavlinkMessage* message, VehicleState* vehicle, const NamedCommand* named, u16 ownSource,
                     u64 now) {
    const u8* p = message->payload;  // zero beyond the received length
    u16 command = mavlinkU16(p);
    u8 result = p[2];
    u16 target = (u16)(p[8] << 8 | p[9]);
    if (result == kResultAccepted || result == kResultInProgress) return 1;
    // Another ground station's command.
    if (target != 0 && target != ownSource) return 1;
    const char* name = nullptr;
    if (named->name && named->command == command && now - named->time < kNamedCommandHold) name = named->name;
    FixedString label;
    if (name) {
        label = makeString(name);
    } else {
        const char* mavlinkName = mavCmdName(command);
        if (mavlinkName && std::strncmp(mavlinkName, "MAV_CMD_", 8) == 0) mavlinkName += 8;
        label = mavlinkName ? makeString(mavlinkName) : formatInt("Command @", command);
    }
    vehicle->commandRefusalText = formatStrStr("@ refused (@)", label, commandResultText(result));
    vehicle->commandRefusalTime = now;
    return 1;
}

bool sendTargetedMessage(u32 messageId, const u8* before, i32 beforeLength, const u8* after, i32 afterLength,
                         const AutopilotFrame* frame) {
    ByteWriter* slot = reserveDroneOutput(frame->output);
    if (!slot) return false;
    u8 bytes[16];
    ByteWriter payload = makeByteWriter(bytes, sizeof(bytes));
    appendBytes(before, beforeLength, &payload);
    appendU8((u8)(frame->vehicle->vehicleId >> 8), &payload);
    appendU8((u8)frame->vehicle->vehicleId, &payload);
    appendBytes(after, afterLength, &payload);
    sendVehicleMessage(messageId, &payload, slot, frame->output, frame->now);
    return true;
}

bool sendMissionClear(const AutopilotFrame* frame) {
    u8 cancel[2] = {kMissionCancelled, 0};
    u8 all = 255;
    u8 zero[2] = {0, 0};
    u8 missionType = 0;
    bool sent = sendTargetedMessage(kMissionAck, nullptr, 0, cancel, 2, frame);
    sent = sendTargetedMessage(kMissionClearAll, nullptr, 0, &all, 1, frame) && sent;
    return sendTargetedMessage(kMissionCount, zero, 2, &missionType, 1, frame) && sent;
}
