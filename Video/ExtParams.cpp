// Extended parameters kept in step with a camera, and the senders the camera controls share.
#include "Video/CameraLinkSend.h"

#include <cstring>

bool sendCameraCommand(u16 command, f32 param1, f32 param2, f32 param3, f32 param4, f32 param5, f32 param6,
                       f32 param7, u16 target, DroneOutput* output, u64 now) {
    ByteWriter* slot = reserveDroneOutput(output);
    if (!slot) return false;
    sendCommandLong(command, param1, param2, param3, param4, param5, param6, param7, target, slot, output->sequence,
                    output->source, output->stats, now);
    return true;
}

bool sendCameraMessage(u32 messageId, const ByteWriter* payload, DroneOutput* output, u64 now) {
    ByteWriter* slot = reserveDroneOutput(output);
    if (!slot) return false;
    sendMavlinkMessage(0, messageId, payload, slot, output->sequence, output->source, output->stats, now);
    return true;
}

void copyExtParamName(u8 name[kExtParamNameBytes], const u8* paramId) {
    std::memset(name, 0, kExtParamNameBytes);
    for (i32 i = 0; i < kExtParamNameBytes && paramId[i]; i++) name[i] = paramId[i];
}

namespace {

void appendName(const char* name, ByteWriter* writer) {
    u8 id[kExtParamNameBytes] = {};
    std::memcpy(id, name, strnlen(name, kExtParamNameBytes));
    appendBytes(id, kExtParamNameBytes, writer);
}

// The timing both slot kinds share. Returns 1 to send a set, 2 to send a read, 0 for nothing.
struct SyncTimes {
    u64 receiveTime, readAskedTime, changeAskedTime, lastReadTime, lastSetTime;
    bool matches;  // the received value equals the wanted one
};

i32 syncStep(const SyncTimes* t, u64 now) {
    bool echoed = t->receiveTime != 0 && t->receiveTime >= t->changeAskedTime && t->matches;
    if (t->changeAskedTime != 0 && now - t->changeAskedTime < kExtParamSetDuration && !echoed) {
        return now - t->lastSetTime >= kExtParamSetInterval ? 1 : 0;
    }
    bool known = t->receiveTime != 0 && t->matches;
    if (t->readAskedTime != 0 && now - t->readAskedTime < kExtParamReadDuration && !known) {
        return now - t->lastReadTime >= kExtParamReadInterval ? 2 : 0;
    }
    return 0;
}

bool sendSet(const char* name, u16 target, const u8* value, i32 valueBytes, u8 type, DroneOutput* output, u64 now) {
    u8 bytes[147] = {};
    ByteWriter payload = makeByteWriter(bytes, sizeof(bytes));
    appendU8((u8)(target >> 8), &payload);
    appendU8((u8)target, &payload);
    appendName(name, &payload);
    u8 field[128] = {};
    std::memcpy(field, value, (size_t)valueBytes);
    appendBytes(field, sizeof(field), &payload);
    appendU8(type, &payload);
    return sendCameraMessage(MavlinkParamExtSet, &payload, output, now);
}

bool sendRead(const char* name, u16 target, u32 indexKnown, u16 index, DroneOutput* output, u64 now) {
    u8 bytes[20] = {};
    ByteWriter payload = makeByteWriter(bytes, sizeof(bytes));
    appendU16Le(indexKnown ? index : (u16)0xFFFF, &payload);  // -1: by name
    appendU8((u8)(target >> 8), &payload);
    appendU8((u8)target, &payload);
    appendName(name, &payload);
    return sendCameraMessage(MavlinkParamExtRequestRead, &payload, output, now);
}

}  // namespace

void syncExtParamB(ExtParamSlot* slot, const char* name, u16 target, DroneOutput* output, u64 now) {
    if (!droneOutputSends(output)) return;
    SyncTimes t{slot->receiveTime,  slot->readAskedTime, slot->changeAskedTime,
                slot->lastReadTime, slot->lastSetTime,   slot->value == slot->wanted};
    i32 step = syncStep(&t, now);
    if (step == 1 && sendSet(name, target, &slot->wanted, 1, 1, output, now)) slot->lastSetTime = now;
    if (step == 2 && sendRead(name, target, slot->indexKnown, slot->paramIndex, output, now)) slot->lastReadTime = now;
}

void syncExtParamA(WideExtParamSlot* slot, const char* name, u16 target, DroneOutput* output, u64 now) {
    if (!droneOutputSends(output)) return;
    SyncTimes t{slot->receiveTime,  slot->readAskedTime, slot->changeAskedTime,
                slot->lastReadTime, slot->lastSetTime,   slot->value == slot->wanted};
    i32 step = syncStep(&t, now);
    if (step == 1) {
        u8 value[8];
        for (i32 i = 0; i < 8; i++) value[i] = (u8)(slot->wanted >> (8 * i));
        if (sendSet(name, target, value, 8, slot->paramType ? slot->paramType : 7, output, now)) slot->lastSetTime = now;
    }
    if (step == 2 && sendRead(name, target, slot->indexKnown, slot->paramIndex, output, now)) slot->lastReadTime = now;
}
