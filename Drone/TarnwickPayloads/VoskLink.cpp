#include "Core/Sound.h"
#include "Drone/TarnwickPayloads/PayloadDevices.h"

#include <cstdio>
#include <cstring>

namespace {

// A falling tone from 2000 Hz to 1000 Hz over 3 s: one VOSK drop.
const ToneSegment kVoskDropTone[] = {{3.0, 2000, 0.5, -1000}};

u32 readU32Be(const u8* p) { return (u32)p[0] << 24 | (u32)p[1] << 16 | (u32)p[2] << 8 | p[3]; }
u64 readU64Be(const u8* p) { return (u64)readU32Be(p) << 32 | readU32Be(p + 4); }
u16 readU16Be(const u8* p) { return (u16)(p[0] << 8 | p[1]); }

bool isOld(u64 time, u64 now, u64 age) { return now > time && now - time > age; }

const char* const kVoskFaultNames[8] = {
    "SAFETY MODE",          "DISARMED BY APP",   "LOST CONNECTION TO APP", "DISARMED BY SBUS",
    "OTHER ROUTER FAULT",   "SERVO MALFUNCTION", "APP HAS STALE DATA",     "DROPPER STATE MISMATCH",
};

u16 echoAge(const VoskUnitStatus* unit, u64 now) {
    if (unit->statusTime == 0) return 0xFFFF;
    u64 ms = now > unit->statusTime ? (now - unit->statusTime) / 1000 : 0;
    return ms >= 65535 ? 0xFFFE : (u16)ms;
}

void appendFaultName(u32 bit, ByteWriter* writer) {
    char scratch[40];
    appendCString(voskFaultName(bit, scratch, sizeof(scratch)), writer);
}

void appendServoState(u32 state, ByteWriter* writer) {
    if (state == 0) {
        appendCString("Closed", writer);
    } else if (state == 1) {
        appendCString("Open", writer);
    } else {
        appendCString("Error ", writer);
        appendInt64(state, writer);
    }
}

}  // namespace

const char* voskFaultName(u32 bit, char* scratch, i32 scratchSize) {
    if (bit < 8) return kVoskFaultNames[bit];
    std::snprintf(scratch, (size_t)scratchSize, "UNKNOWN FAULT (1 << %u)", bit);
    return scratch;
}

u32 handleVoskStatusFrame(const u8* body, i32 length, u8 type, DodireruDropLocations* drops,
                          const AddressRecord* source, const VehicleState* vehicle, SoundQueue* sounds,
                          VoskPayloadState* vosk, i32* logSlot, u64 now, i64 utcMilliseconds) {
    if (type != PayloadFrameVoskStatus) return 0;
    if (length < 25) return 1;
    u32 index = body[0] & 1;
    VoskUnitStatus* unit = &vosk->units[index];
    VoskUnitStatus* other = &vosk->units[index ^ 1];
    if (source) unit->address = *source;
    unit->statusTime = now;
    unit->flags = body[0];
    unit->flying = (body[0] >> 1) & 1;
    unit->sbusArmed = (body[0] >> 4) & 1;
    // The loading buttons of channels A and B, pressed while a sphere is being loaded: flags bits 2
    // and 3.
    unit->loadingButton[0] = (body[0] >> 2) & 1;
    unit->loadingButton[1] = (body[0] >> 3) & 1;
    unit->faults = readU64Be(body + 1);
    unit->lastError = readU32Be(body + 9);
    *logSlot = (i32)index;
    for (i32 channel = 0; channel < 2; channel++) {
        const u8* block = body + 13 + 6 * channel;
        unit->safetyServo[channel] = block[0];
        unit->safetyValue[channel] = readU16Be(block + 2);
        unit->dropValue[channel] = readU16Be(block + 4);
        u32 dropServo = block[1];
        if (dropServo == 1 && unit->dropServo[channel] == 0) {
            DropPosition position;
            if (drops && other->dropServo[channel] == 1 && payloadFlightPhase(vehicle) >= 2 &&
                vehicle->globalPosition.time > 0 && vehicleDropPosition(&position, vehicle)) {
                u32 armed = vosk->units[0].safetyServo[channel] == 0;
                addVoskDropLocation(drops, position, (u64)utcMilliseconds, armed);
            }
            if (sounds) queueSound(sounds, kVoskDropTone, 1);
        }
        unit->dropServo[channel] = dropServo;
    }
    return 1;
}

void controlVoskLink(VoskPayloadState* vosk, const PayloadControl* control) {
    u64 now = control->now;
    for (u32 k = 0; k < kVoskRequestCount; k++) {
        if (isOld(vosk->requestTimes[k], now, kPayloadRequestHoldTime)) vosk->requestCounters[k] = 0;
    }
    bool primaryFresh = isPayloadStatusFresh(vosk->units[0].statusTime, now);
    bool secondaryFresh = isPayloadStatusFresh(vosk->units[1].statusTime, now);
    u32 bothFresh = primaryFresh && secondaryFresh;
    if (!bothFresh && vosk->previousBothFresh) queuePayloadAlert(control->sounds);
    vosk->previousBothFresh = bothFresh;

    DroneOutput* output = control->output;
    if (vosk->lastSendTime != 0 && now - vosk->lastSendTime < kPayloadControlInterval) return;
    // An output without a socket (a replay's) judges the same moments and builds nothing.
    if (!output || (output->socket && kPacketQueueSlots - 1 - queuedPacketCount(&output->socket->sendQueue) < 2)) return;
    i32 phase = payloadFlightPhase(control->vehicle);
    u32 allowed = 0;
    if (!primaryFresh) {
        vosk->disarmReason = VoskPrimaryNotFresh;
    } else if (!secondaryFresh) {
        vosk->disarmReason = VoskSecondaryNotFresh;
    } else {
        u32 reason = DropAllowedOrNoStatus;
        allowed = dropPermission(control->vehicle, control->geofence, phase, &reason);
        if (!allowed) vosk->disarmReason = reason == DropOutsideGeofence ? VoskOutsideGeofence : VoskDisallowedFlightPhase;
    }
    vosk->dropAllowed = allowed;
    if (!output->socket) {
        vosk->lastSendTime = now;
        return;
    }

    u8 bytes[kPayloadFrameWriterBytes];
    ByteWriter frame = makeByteWriter(bytes, sizeof(bytes));
    LengthFieldMark mark = beginPayloadFrame(&vosk->frameSequence, PayloadFrameVoskControl, &frame);
    appendU8((u8)(allowed | (phase >= 2 ? 2 : 0)), &frame);
    appendBytes(vosk->requestCounters, 5, &frame);
    for (i32 index = 0; index < 2; index++) {
        const VoskUnitStatus* unit = &vosk->units[index];
        appendU16Be(echoAge(unit, now), &frame);
        appendU8((u8)unit->flags, &frame);
        appendU64Be(unit->faults, &frame);
        appendU32Be(unit->lastError, &frame);
        appendU8((u8)unit->dropServo[0], &frame);
        appendU8((u8)unit->dropServo[1], &frame);
        if (index == 0) {
            appendU8((u8)unit->safetyServo[0], &frame);
            appendU8((u8)unit->safetyServo[1], &frame);
        }
    }
    appendBytes(vosk->requestCounters + 5, 3, &frame);
    finishPayloadFrame(&mark, &frame);
    vosk->lastSendTime = now;
    // One copy to each unit that has reported, both with the same MAVLink sequence number. A unit
    // whose address is not known yet gets nothing: there is nowhere safe to send it.
    u8 first = vosk->mavlinkSequence;
    for (i32 index = 0; index < 2; index++) {
        u8 sequence = first;
        if (sendPayloadFrame(output, &vosk->units[index].address, &sequence, &frame, 0, now)) {
            vosk->mavlinkSequence = (u8)(first + 1);
        }
    }
}

void voskStateText(const VoskPayloadState* vosk, u64 now, ByteWriter* writer) {
    bool primaryFresh = isPayloadStatusFresh(vosk->units[0].statusTime, now);
    bool secondaryFresh = isPayloadStatusFresh(vosk->units[1].statusTime, now);
    if (!primaryFresh && !secondaryFresh) return appendCString("DISCONNECTED", writer);
    if (!primaryFresh) return appendCString("DISCONNECTED FROM R1", writer);
    if (!secondaryFresh) return appendCString("DISCONNECTED FROM R2", writer);
    u64 faults = vosk->units[0].faults | vosk->units[1].faults;
    static const u32 kFirst[] = {0, 2, 4, 5, 6, 7};
    for (u32 bit : kFirst) {
        if (faults >> bit & 1) return appendFaultName(bit, writer);
    }
    if (faults & 2) {
        switch (vosk->disarmReason) {
            case 0:
            case 1: return appendCString("DISARMED DUE TO RECENT DISCONNECTION", writer);
            case 2: return appendCString("FLYING OUTSIDE GEOFENCE", writer);
            case 3: return appendCString("DISALLOWED DRONE MODE", writer);
            default: return appendCString("DISARMED", writer);
        }
    }
    for (u32 bit = 0; bit < 64; bit++) {
        if (faults >> bit & 1) return appendFaultName(bit, writer);
    }
    appendCString(vosk->units[0].sbusArmed ? "READY" : "SBUS DISARMED", writer);
}

void appendVoskChannelText(const VoskPayloadState* vosk, i32 channel, ByteWriter* writer) {
    const VoskUnitStatus* p = &vosk->units[0];
    const VoskUnitStatus* s = &vosk->units[1];
    i32 c = channel ? 1 : 0;
    char letter[2] = {(char)('A' + c), 0};
    appendCString(letter, writer);
    if (p->dropServo[c] == 1 && s->dropServo[c] == 1) {
        appendCString(" Empty", writer);
    } else if (p->safetyServo[c] == 1) {
        appendCString(p->dropServo[c] == 2 || s->dropServo[c] == 2 ? " Error, Safe" : " Safe", writer);
    } else if (p->safetyServo[c] == 2 || p->dropServo[c] == 2 || s->dropServo[c] == 2) {
        appendCString(" Error, Unsafe", writer);
    } else if (p->dropServo[c] != 0 || s->dropServo[c] != 0) {
        appendCString(" Partial", writer);
    } else {
        appendCString(" Loaded", writer);
    }
}

void appendVoskStatus(const VoskPayloadState* vosk, ByteWriter* writer, u64 now) {
    const VoskUnitStatus* p = &vosk->units[0];
    const VoskUnitStatus* s = &vosk->units[1];
    bool fresh[2] = {isPayloadStatusFresh(p->statusTime, now), isPayloadStatusFresh(s->statusTime, now)};
    if (fresh[0] && fresh[1]) {
        appendCString(p->faults || s->faults ? "FAULTS" : "READY", writer);
    } else {
        appendCString("DISCONNECTED", writer);
    }
    appendCString("\n\n", writer);
    for (i32 c = 0; c < 2; c++) {
        appendVoskChannelText(vosk, c, writer);
        appendCString("\n", writer);
        const char* names[3] = {"Safety Servo: ", "Primary Servo: ", "Secondary Servo: "};
        u32 states[3] = {p->safetyServo[c], p->dropServo[c], s->dropServo[c]};
        u32 values[3] = {p->safetyValue[c], p->dropValue[c], s->dropValue[c]};
        for (i32 i = 0; i < 3; i++) {
            appendCString(names[i], writer);
            appendServoState(states[i], writer);
            appendCString(" (", writer);
            appendInt64(values[i], writer);
            appendCString(")\n", writer);
        }
        appendCString(p->loadingButton[c] ? "Loading Button: Pressed\n" : "Loading Button: Not Pressed\n", writer);
    }
    for (i32 index = 0; index < 2; index++) {
        const VoskUnitStatus* unit = &vosk->units[index];
        appendCString(index == 0 ? "Primary" : "Secondary", writer);
        appendCString(" Router: ", writer);
        appendCString(!fresh[index] ? "DISCONNECTED" : unit->faults ? "FAULTS" : "READY", writer);
        appendCString("\n", writer);
        appendCString(unit->flags & 2 ? "Flying\n" : "Not flying\n", writer);
        appendCString("Last Error: ", writer);
        appendInt64(unit->lastError, writer);
        appendCString("\n", writer);
        for (u32 bit = 0; bit < 64; bit++) {
            if (unit->faults >> bit & 1) {
                appendFaultName(bit, writer);
                appendCString("\n", writer);
            }
        }
        appendCString("\n", writer);
    }
}
