#include "Drone/FlightController/AutopilotSend.h"

#include "Drone/FlightController/AutopilotControl.h"
#include "Mavlink/DroneOutput.h"
#include "Mavlink/Mavlink.h"
#include "Mavlink/VehicleState.h"

namespace {
constexpr u32 kMissionCount = 44;
constexpr u32 kMissionClearAll = 45;
constexpr u32 kMissionAck = 47;
constexpr u8 kMissionCancelled = 15;
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
