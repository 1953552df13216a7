// The simulated drone's MAVLink: what it answers to the ground station and what it sends by itself.
// Every frame is MAVLink 1 from system 1, component 1, through socket 0's send queue to the ground
// station's endpoint; a full queue skips the message (a periodic one keeps its timer).
#include "Core/Preferences.h"
#include "Drone/FlightController/Parameters.h"
#include "Drone/SimulatedDroneInternal.h"

#include <cmath>
#include <cstring>

namespace {

enum : u32 {
    MessageParamRequestRead = 20,
    MessageParamValue = 22,
    MessageParamSet = 23,
    MessageMissionCurrent = 42,
    MessageMissionRequestList = 43,
    MessageMissionCount = 44,
    MessageMissionClearAll = 45,
    MessageMissionAck = 47,
    MessageMissionRequestInt = 51,
    MessageMissionItemInt = 73,
    MessageCommandAck = 77,
    MessageExtendedSysState = 245,
};

constexpr u16 kDoSetMode = 176;
constexpr u16 kRebootShutdown = 246;
constexpr u16 kComponentArmDisarm = 400;
constexpr f32 kForceDisarmMagic = 21196;
constexpr u8 kParamTypeInt32 = 6;
constexpr u8 kParamTypeReal32 = 9;
constexpr u8 kMavResultAccepted = 0;
constexpr u8 kMavResultDenied = 2;
constexpr u8 kMavResultUnsupported = 3;
constexpr u8 kMissionAckCancelled = 15;

constexpr u64 kPeriods[kSimulatedPeriodicMessages] = {1000000, 1000000, 1000000, 1000000,
                                                     100000,  100000,  2000000, 2000000};

struct Outgoing {
    ByteWriter* writer;
    LengthFieldMark mark;
};

Outgoing beginMessage(SimulatedDrone* drone, Socket* socket, u32 messageId) {
    Outgoing out{};
    if (!socket) return out;
    out.writer = queueSocketPacket(&drone->groundStation, socket);
    if (out.writer) out.mark = beginMavlinkPacket(out.writer, &drone->sequence, kSimulatedVehicleSource, messageId, 0);
    return out;
}

void finishMessage(Outgoing* out) {
    if (out->writer) finishMavlinkPacket(&out->mark, out->writer);
}

// Saturating conversion for the integer fields of position messages.
i32 toI32(f64 value) {
    if (!(value == value)) return 0;
    if (value >= 2147483647.0) return 2147483647;
    if (value <= -2147483648.0) return (i32)0x80000000u;
    return (i32)value;
}

i16 toI16(f64 value) {
    i32 v = toI32(value);
    return (i16)(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
}

bool targetsVehicle(const u8* payload, i32 offset) { return payload[offset] == 1 && payload[offset + 1] == 1; }

// The lowest item number not yet received, or 128 when all are.
i32 lowestMissing(const SimulatedDrone* drone) {
    for (i32 i = 0; i < 128; i++) {
        if (!((drone->receivedMask[i / 64] >> (i % 64)) & 1)) return i;
    }
    return 128;
}

void clearMask(SimulatedDrone* drone) { drone->receivedMask[0] = drone->receivedMask[1] = 0; }

void answerParamValue(SimulatedDrone* drone, Socket* socket, i32 slot, const u8* id) {
    Outgoing out = beginMessage(drone, socket, MessageParamValue);
    if (!out.writer) return;
    appendU32Le(drone->parameters[slot], out.writer);
    appendU16Le(kPx4Parameters, out.writer);
    appendU16Le((u16)slot, out.writer);
    appendBytes(id, kParameterNameBytes, out.writer);
    appendU8(slot >= kPx4IntParameters ? kParamTypeReal32 : kParamTypeInt32, out.writer);
    finishMessage(&out);
}

void handleParamRequestRead(SimulatedDrone* drone, const u8* p, Socket* socket) {
    if (!targetsVehicle(p, 2)) return;
    i32 index = mavlinkI16(p);
    const u8* id = p + 4;
    if (index == -1) {
        i32 slot = px4ParameterSlot(id);
        if (slot >= 0) answerParamValue(drone, socket, slot, id);
        return;
    }
    // Only the 84 slots can be read; any other index names nothing and gets no answer.
    if (index < 0 || index >= kPx4Parameters) return;
    // A read by index is answered with the slot's own name, so the reader learns which it got.
    u8 name[kParameterNameBytes];
    std::memcpy(name, Px4ParameterNames[index], kParameterNameBytes);
    answerParamValue(drone, socket, index, name);
}

void handleParamSet(SimulatedDrone* drone, const u8* p) {
    if (!targetsVehicle(p, 4)) return;
    u8 type = p[22];
    i32 slot = px4ParameterSlot(p + 6);
    if (slot < 0) return;
    bool isInt = slot < kPx4IntParameters;
    if ((type == kParamTypeInt32 && isInt) || (type == kParamTypeReal32 && !isInt)) {
        drone->parameters[slot] = mavlinkU32(p);
    }
}

void answerMissionCount(SimulatedDrone* drone, Socket* socket) {
    Outgoing out = beginMessage(drone, socket, MessageMissionCount);
    if (!out.writer) return;
    appendU16Le(drone->storedCount, out.writer);
    appendU16Be(drone->groundStationId, out.writer);  // target system, then component
    appendU8(0, out.writer);
    finishMessage(&out);
}

void answerMissionItem(SimulatedDrone* drone, Socket* socket, u16 sequence) {
    Outgoing out = beginMessage(drone, socket, MessageMissionItemInt);
    if (!out.writer) return;
    const SimulatedMissionItem* item = &drone->items[sequence];
    for (f32 param : item->params) appendF32Le(param, out.writer);
    appendU32Le((u32)item->latitude, out.writer);
    appendU32Le((u32)item->longitude, out.writer);
    appendF32Le(item->altitude, out.writer);
    appendU16Le(item->sequence, out.writer);
    appendU16Le(item->command, out.writer);
    appendU16Be(drone->groundStationId, out.writer);
    appendU8(item->frame, out.writer);
    appendU8(0, out.writer);  // current
    appendU8(item->autocontinue, out.writer);
    appendU8(0, out.writer);  // mission type
    finishMessage(&out);
}

void storeMissionItem(SimulatedDrone* drone, const u8* p, Socket* socket) {
    if (!targetsVehicle(p, 32) || p[37] != 0) return;
    u16 sequence = mavlinkU16(p + 28);
    if (sequence >= drone->expectedCount || drone->storedCount != 0) return;
    SimulatedMissionItem* item = &drone->items[sequence];
    for (i32 i = 0; i < 4; i++) item->params[i] = mavlinkF32(p + 4 * i);
    item->latitude = mavlinkI32(p + 16);
    item->longitude = mavlinkI32(p + 20);
    item->altitude = mavlinkF32(p + 24);
    item->sequence = sequence;
    item->command = mavlinkU16(p + 30);
    item->frame = p[34];
    item->autocontinue = p[36];
    drone->receivedMask[sequence / 64] |= 1ull << (sequence % 64);
    drone->sendTimers[SimulatedMissionRequest] = 0;
    if (lowestMissing(drone) < drone->expectedCount) return;
    drone->storedCount = drone->expectedCount;
    drone->expectedCount = 0;
    drone->currentItem = 0;
    clearMask(drone);
    Outgoing out = beginMessage(drone, socket, MessageMissionAck);
    if (!out.writer) return;
    appendU16Be(drone->groundStationId, out.writer);
    appendU8(0, out.writer);  // accepted
    appendU8(0, out.writer);
    finishMessage(&out);
}

// DO_SET_MODE's mode numbers, truncated; false for a value that is no mode number at all.
bool modeNumber(f32 value, u8* mode) {
    if (!(value >= 0 && value < 256)) return false;
    *mode = (u8)value;
    return true;
}

// As PX4: a disarmed vehicle on the ground has nothing to take off from or land, so those two modes
// are denied; any other pair is taken.
u8 setMode(SimulatedDrone* drone, f32 mainValue, f32 subValue) {
    u8 main, sub;
    if (!modeNumber(mainValue, &main) || !modeNumber(subValue, &sub)) return kMavResultDenied;
    bool disarmed = drone->systemStatus < 4;
    if (disarmed && main == kSimulatedMainAuto && (sub == kSimulatedSubTakeoff || sub == kSimulatedSubLand)) {
        return kMavResultDenied;
    }
    drone->mainMode = main;
    drone->subMode = sub;
    return kMavResultAccepted;
}

// Arming stays with the sticks. Disarming is taken on the ground (or when already disarmed) and
// denied in the air, unless forced: the emergency disarm stops the motors anywhere.
u8 armOrDisarm(SimulatedDrone* drone, f32 arm, f32 force) {
    if (arm != 0) return kMavResultUnsupported;
    bool onGround = drone->altitude <= drone->groundAltitude + kSimulatedGroundTolerance;
    if (drone->systemStatus >= 4 && !onGround && force != kForceDisarmMagic) return kMavResultDenied;
    drone->systemStatus = 3;
    if (onGround) drone->landedState = 1;
    return kMavResultAccepted;
}

void handleCommandLong(SimulatedDrone* drone, const u8* p, Socket* socket) {
    if (!targetsVehicle(p, 30)) return;
    u16 command = mavlinkU16(p + 28);
    f32 param1 = mavlinkF32(p), param2 = mavlinkF32(p + 4), param3 = mavlinkF32(p + 8);
    u8 result = kMavResultUnsupported;
    if (command == kDoSetMode) {
        result = setMode(drone, param2, param3);
    } else if (command == kComponentArmDisarm) {
        result = armOrDisarm(drone, param1, param2);
    } else if (command == kRebootShutdown) {
        // The simulator comes back at once; an armed vehicle is not rebooted.
        result = drone->systemStatus >= 4 ? kMavResultDenied : kMavResultAccepted;
    }
    Outgoing out = beginMessage(drone, socket, MessageCommandAck);
    if (!out.writer) return;
    appendU16Le(command, out.writer);
    appendU8(result, out.writer);
    finishMessage(&out);
}

bool due(const SimulatedDrone* drone, u32 message, u64 now) {
    return now - drone->sendTimers[message] > kPeriods[message];
}

}  // namespace

void sendSimulatedMissionCurrent(SimulatedDrone* drone, Socket* socket) {
    Outgoing out = beginMessage(drone, socket, MessageMissionCurrent);
    if (!out.writer) return;
    appendU16Le((u16)drone->currentItem, out.writer);
    finishMessage(&out);
}

void handleSimulatedDroneMessage(SimulatedDrone* drone, const MavlinkMessage* message, const AddressRecord* source,
                                 const Preferences* preferences, Socket* socket, u64 now) {
    if (preferences->simulateOrvik) handleSimulatedKtqPacketB(message, &drone->orvik, now);
    if (preferences->simulateStrobe && message->messageId == MavlinkEncapsulatedData) {
        handleSimulatedStrobePacket(message, &drone->strobe, now);
        return;
    }
    const u8* p = message->payload;  // zero beyond the received length
    switch (message->messageId) {
    case MavlinkHeartbeat:
        if (p[4] == 6 && p[5] == 8) {
            drone->groundStation = *source;
            drone->groundStationId = message->source;
        }
        break;
    case MessageParamRequestRead: handleParamRequestRead(drone, p, socket); break;
    case MessageParamSet: handleParamSet(drone, p); break;
    case MessageMissionRequestList:
        if (targetsVehicle(p, 0) && p[2] == 0) answerMissionCount(drone, socket);
        break;
    case MessageMissionCount:
        if (targetsVehicle(p, 2)) {
            u16 count = mavlinkU16(p);
            drone->storedCount = 0;
            drone->expectedCount = count < kSimulatedMissionItems + 1 ? count : 0;
            clearMask(drone);
            drone->sendTimers[SimulatedMissionRequest] = 0;  // the first request goes at once
        }
        break;
    case MessageMissionClearAll:
        if (targetsVehicle(p, 0)) drone->storedCount = 0;
        break;
    case MessageMissionAck:
        if (targetsVehicle(p, 0) && p[3] == 0 && p[2] == kMissionAckCancelled) {
            drone->expectedCount = 0;
            clearMask(drone);
        }
        break;
    case MessageMissionRequestInt:
        if (targetsVehicle(p, 2) && p[4] == 0 && mavlinkU16(p) < drone->storedCount) {
            answerMissionItem(drone, socket, mavlinkU16(p));
        }
        break;
    case MessageMissionItemInt: storeMissionItem(drone, p, socket); break;
    case MavlinkCommandLong: handleCommandLong(drone, p, socket); break;
    default: break;
    }
}

void sendSimulatedPeriodicMessages(SimulatedDrone* drone, Socket* socket, f64 takeoffLongitude, f64 takeoffLatitude,
                                   f64 takeoffGround, u64 now) {
    u32 bootMilliseconds = (u32)((now - drone->bootTime) / 1000);
    i32 latitude = toI32(drone->latitude * 1e7);
    i32 longitude = toI32(drone->longitude * 1e7);
    for (u32 message = 0; message < kSimulatedPeriodicMessages; message++) {
        if (!due(drone, message, now)) continue;
        i32 missing = lowestMissing(drone);
        if (message == SimulatedMissionRequest && !(drone->storedCount == 0 && missing < drone->expectedCount)) continue;
        static const u32 ids[kSimulatedPeriodicMessages] = {
            MavlinkHeartbeat,         MavlinkSysStatus,        MessageExtendedSysState, MavlinkGpsRawInt,
            MavlinkAttitude, MavlinkGlobalPositionInt, MavlinkHomePosition,      MessageMissionRequestInt};
        Outgoing out = beginMessage(drone, socket, ids[message]);
        if (!out.writer) continue;
        ByteWriter* w = out.writer;
        switch (message) {
        case SimulatedHeartbeat:
            appendU32Le((u32)drone->mainMode << 16 | (u32)drone->subMode << 24, w);
            appendU8(2, w);     // quadrotor
            appendU8(12, w);    // PX4
            appendU8(0xD0, w);  // base mode
            appendU8(drone->systemStatus, w);
            appendU8(3, w);
            break;
        case SimulatedSysStatus:
            for (i32 i = 0; i < 3; i++) appendU32Le(0, w);  // sensor words
            appendU16Le(0, w);       // load
            appendU16Le(40000, w);   // battery mV
            for (i32 i = 0; i < 7; i++) appendU16Le(0, w);  // current, drop rate, errors
            appendU8(100, w);        // battery remaining
            break;
        case SimulatedExtendedSysState:
            appendU8(0, w);
            appendU8(drone->landedState, w);
            break;
        case SimulatedGpsRawInt:
            appendU64Le(0, w);
            appendU32Le((u32)latitude, w);
            appendU32Le((u32)longitude, w);
            appendU32Le((u32)toI32((takeoffGround + drone->altitude) * 1000), w);
            for (i32 i = 0; i < 4; i++) appendU16Le(0, w);  // eph, epv, vel, cog
            appendU8(3, w);   // 3D fix
            appendU8(14, w);  // satellites
            appendU32Le(0, w);     // alt_ellipsoid
            appendU32Le(1000, w);  // h_acc
            for (i32 i = 0; i < 3; i++) appendU32Le(0, w);
            appendU16Le(0, w);  // yaw
            break;
        case SimulatedAttitude:
            appendU32Le(bootMilliseconds, w);
            appendF32Le((f32)drone->roll, w);
            appendF32Le((f32)drone->pitch, w);
            appendF32Le((f32)drone->heading, w);
            for (i32 i = 0; i < 3; i++) appendF32Le(0, w);
            break;
        case SimulatedGlobalPositionInt:
            appendU32Le(bootMilliseconds, w);
            appendU32Le((u32)latitude, w);
            appendU32Le((u32)longitude, w);
            appendU32Le(0, w);
            appendU32Le((u32)toI32(drone->altitude * 1000), w);
            appendU16Le((u16)toI16(drone->velocityNorth * 100), w);
            appendU16Le((u16)toI16(drone->velocityEast * 100), w);
            appendU16Le((u16)toI16(-drone->velocityUp * 100), w);
            appendU16Le(0, w);
            break;
        case SimulatedHomePosition:
            appendU32Le((u32)toI32(takeoffLatitude * 1e7), w);
            appendU32Le((u32)toI32(takeoffLongitude * 1e7), w);
            break;
        case SimulatedMissionRequest:
            appendU16Le((u16)missing, w);
            appendU16Be(drone->groundStationId, w);
            appendU8(0, w);
            break;
        }
        finishMessage(&out);
        drone->sendTimers[message] = now;
    }
}
