#include "Drone/SimulatedPayloads.h"

namespace {

bool olderThan(u64 time, u64 now, u64 age) { return now > time && now - time > age; }

// Sends one frame: a MAVLink 1 ENCAPSULATED_DATA whose payload is exactly the frame. False when the
// socket's queue had no room (nothing was sent).
bool sendFrame(Socket* socket, const AddressRecord* groundStation, u8* mavlinkSequence, u16 source,
               const ByteWriter* frame) {
    ByteWriter* out = queueSocketPacket(groundStation, socket);
    if (!out) return false;
    LengthFieldMark mark = beginMavlinkPacket(out, mavlinkSequence, source, MavlinkEncapsulatedData, 0);
    appendBytes(frame->data, frame->length, out);
    finishMavlinkPacket(&mark, out);
    return true;
}

}  // namespace

void handleSimulatedKtqPacketA(const MavlinkMessage* message, SimulatedVoskUnit* unit, u64 now) {
    if (message->messageId != MavlinkEncapsulatedData) return;
    PayloadFrameParser parser{};
    i64 position = 0;
    for (;;) {
        position = nextPayloadFrame(&parser, message->payload, position, message->payloadLength);
        if (!parser.frameReady) break;
        if (parser.type != PayloadFrameVoskControl) continue;
        const u8* body = parser.payload;  // zero beyond the frame's body
        u8 flags = body[0];
        unit->modeBit = (flags >> 1) & 1;
        unit->armed = flags & 1;
        bool healthy = unit->armed && !olderThan(unit->lastCommandTime, now, kSimulatedVoskStale);
        const u8* counters = body + 1;  // safe, open A, drop A, open B, drop B
        if (healthy) {
            if (counters[0] > unit->lastCounters[0]) {
                unit->eventFlag = 1;
                unit->channelAFirst = 1;
                unit->channelBFirst = 1;
            }
            if (unit->modeBit == 0 && counters[1] > unit->lastCounters[1]) {
                unit->channelAFirst = 1;
                unit->channelASecond = 1;
            }
            if (unit->modeBit == 1 && counters[2] > unit->lastCounters[2]) unit->channelASecond = 1;
            if (unit->modeBit == 0 && counters[3] > unit->lastCounters[3]) {
                unit->channelBFirst = 1;
                unit->channelBSecond = 1;
            }
            if (unit->modeBit == 1 && counters[4] > unit->lastCounters[4]) unit->channelBSecond = 1;
        }
        for (i32 i = 0; i < 5; i++) unit->lastCounters[i] = counters[i];
        unit->lastCommandTime = now;
    }
}

void handleSimulatedKtqPacketB(const MavlinkMessage* message, SimulatedOrvikFirmware* firmware, u64 now) {
    if (message->messageId != MavlinkEncapsulatedData) return;
    PayloadFrameParser* parser = &firmware->parser;
    i64 position = 0;
    for (;;) {
        position = nextPayloadFrame(parser, message->payload, position, message->payloadLength);
        if (!parser->frameReady) break;
        if (parser->type != PayloadFrameOrvikControl) continue;
        const u8* body = parser->payload;  // zero beyond the frame's body
        u8 flags = body[0];
        if (flags & 4) firmware->versionHoldTime = now;
        firmware->armed = flags & 1;
        firmware->lastCommandTime = now;
        firmware->dropInterval = body[1];
        if (body[2] < 255) firmware->reportedByte = body[2];
        u32 continuousBit = (flags >> 1) & 1;
        u8 release = body[6];
        u8 start = body[14];
        u8 stop = body[15];
        if (release > firmware->lastCounters[0]) {
            firmware->faultLatch = 1;
        } else if (!firmware->faultLatch) {
            bool dropping = firmware->targetDropCount != firmware->dropCount;
            if (!firmware->armed) {
                if (dropping) {
                    firmware->state = SimulatedOrvikStopped;
                    firmware->targetDropCount = firmware->dropCount;
                }
            } else if (!dropping) {
                if (continuousBit && !firmware->lastContinuousBit) {
                    firmware->continuousMode = 1;
                    firmware->targetDropCount = firmware->dropCount + kSimulatedContinuousDrops;
                } else if (start > firmware->lastCounters[1]) {
                    firmware->continuousMode = 0;
                    firmware->targetDropCount = firmware->dropCount + body[4];
                }
            } else {
                bool stopNow = firmware->continuousMode ? continuousBit == 0 : stop > firmware->lastCounters[2];
                if (stopNow) {
                    firmware->state = SimulatedOrvikStopRequested;
                    firmware->targetDropCount = firmware->dropCount;
                }
            }
        }
        firmware->lastContinuousBit = continuousBit;
        firmware->lastCounters[0] = release;
        firmware->lastCounters[1] = start;
        firmware->lastCounters[2] = stop;
    }
}

void handleSimulatedStrobePacket(const MavlinkMessage* message, SimulatedStrobeLight* light, u64 now) {
    if (message->messageId != MavlinkEncapsulatedData) return;
    PayloadFrameParser parser{};
    i64 position = 0;
    for (;;) {
        position = nextPayloadFrame(&parser, message->payload, position, message->payloadLength);
        if (!parser.frameReady) break;
        if (parser.type != PayloadFrameLightControl) continue;
        const u8* body = parser.payload;
        u8 changeCounter = body[3];
        if (changeCounter > light->lastChangeCounter) {
            light->brightness = body[0];
            light->pattern = body[1];
            light->mode = body[2];
        }
        light->lastChangeCounter = changeCounter;
        light->lastControlTime = now;
        // A pattern of 0 is none the light has: it falls back to its steady state.
        if (light->pattern == 0) {
            light->brightness = 2;
            light->pattern = 1;
        }
    }
}

void runSimulatedDrops(SimulatedOrvikFirmware* firmware, u64 now) {
    if (firmware->targetDropCount == firmware->dropCount) return;
    if (olderThan(firmware->lastCommandTime, now, kSimulatedOrvikStale)) {
        firmware->targetDropCount = firmware->dropCount;
        firmware->state = SimulatedOrvikCommandsLost;
        return;
    }
    if (firmware->faultLatch) {
        firmware->targetDropCount = firmware->dropCount;
        firmware->state = SimulatedOrvikFaulted;
        return;
    }
    u64 sinceDrop = now >= firmware->lastDropTime ? now - firmware->lastDropTime : 0;
    if (sinceDrop > (u64)firmware->dropInterval * 100000 && sinceDrop > kSimulatedMinimumDropGap) {
        firmware->lastDropTime = now;
        firmware->dropCount++;
    }
}

void appendSimulatedOrvikStatus(const SimulatedOrvikFirmware* firmware, u64 now, ByteWriter* body) {
    u64 count = firmware->dropCount;
    u16 larger = (u16)(count - count / 2);
    u16 smaller = (u16)(count / 2);
    appendU8((u8)firmware->state, body);
    appendU16Be(larger, body);
    appendU16Be(smaller, body);
    appendU16Be(larger, body);
    appendU16Be(smaller, body);
    appendU8(80, body);  // battery 8.0 V
    appendU8(firmware->reportedByte, body);
    appendU8(firmware->targetDropCount != firmware->dropCount ? 1 : 0, body);
    appendU16Be(0, body);
    appendU16Be(0, body);
    appendU8(26, body);  // chute, ambient and internal temperatures
    appendU8(27, body);
    appendU8(38, body);
    u64 word = 0;
    if (!firmware->armed) word += 8;
    // Never commanded counts as stale too.
    if (firmware->lastCommandTime == 0 || olderThan(firmware->lastCommandTime, now, kSimulatedOrvikStale)) word += 16;
    word += (u64)firmware->faultLatch << 19;
    appendU64Be(word, body);
}

void appendSimulatedOrvikVersion(const SimulatedOrvikFirmware* firmware, ByteWriter* body) {
    appendU32Be((u32)firmware->dropCount, body);
    appendU32Be(0, body);
    appendU16Be(0, body);
    const char* texts[4] = {"Simulated Firmware", "March 29, 2023", "Simulated Firmware", "March 29, 2023"};
    for (const char* text : texts) {
        appendCString(text, body);
        appendU8(0, body);
    }
}

void appendSimulatedVoskStatus(const SimulatedVoskUnit* unit, u16 unitIndex, u64 now, ByteWriter* body) {
    u8 flags = (u8)((unitIndex & 1) | unit->modeBit << 1 | unit->modeBit << 4);
    appendU8(flags, body);
    u64 faults = unit->eventFlag;
    if (!unit->armed) faults += 2;
    if (unit->lastCommandTime == 0 || olderThan(unit->lastCommandTime, now, kSimulatedVoskStale)) faults += 4;
    appendU64Be(faults, body);
    appendU32Be(0, body);
    appendU8((u8)unit->channelAFirst, body);
    appendU8((u8)unit->channelASecond, body);
    appendU16Be(unit->channelAFirst ? 1000 : 300, body);
    appendU16Be(unit->channelASecond ? 1000 : 300, body);
    appendU8((u8)unit->channelBFirst, body);
    appendU8((u8)unit->channelBSecond, body);
    appendU16Be(unit->channelBFirst ? 1000 : 300, body);
    appendU16Be(unit->channelBSecond ? 1000 : 300, body);
}

void simPayloadSendStatus(Socket* socket, const AddressRecord* groundStation, SimulatedOrvikFirmware* firmware,
                          u64 now) {
    runSimulatedDrops(firmware, now);
    u8 bytes[kPayloadFrameWriterBytes];
    if (now - firmware->lastStatusSendTime > kSimulatedStatusInterval) {
        ByteWriter frame = makeByteWriter(bytes, sizeof(bytes));
        u8 sequence = firmware->frameSequence;
        LengthFieldMark mark = beginPayloadFrame(&sequence, PayloadFrameOrvikStatus, &frame);
        appendSimulatedOrvikStatus(firmware, now, &frame);
        finishPayloadFrame(&mark, &frame);
        if (sendFrame(socket, groundStation, &firmware->mavlinkSequence, kSimulatedOrvikSource, &frame)) {
            firmware->frameSequence = sequence;
            firmware->lastStatusSendTime = now;
        }
    }
    if (now - firmware->lastVersionSendTime > kSimulatedVersionInterval &&
        now - firmware->versionHoldTime > kSimulatedVersionInterval) {
        ByteWriter frame = makeByteWriter(bytes, sizeof(bytes));
        u8 sequence = firmware->frameSequence;
        LengthFieldMark mark = beginPayloadFrame(&sequence, PayloadFrameOrvikVersion, &frame);
        appendSimulatedOrvikVersion(firmware, &frame);
        finishPayloadFrame(&mark, &frame);
        if (sendFrame(socket, groundStation, &firmware->mavlinkSequence, kSimulatedOrvikSource, &frame)) {
            firmware->frameSequence = sequence;
            firmware->lastVersionSendTime = now;
        }
    }
}

void simPayloadSendFrame7(Socket* socket, const AddressRecord* groundStation, SimulatedVoskUnit* unit, u16 unitIndex,
                          u64 now) {
    if (now - unit->lastStatusSendTime <= kSimulatedStatusInterval) return;
    u8 bytes[kPayloadFrameWriterBytes];
    ByteWriter frame = makeByteWriter(bytes, sizeof(bytes));
    u8 sequence = unit->frameSequence;
    LengthFieldMark mark = beginPayloadFrame(&sequence, PayloadFrameVoskStatus, &frame);
    appendSimulatedVoskStatus(unit, unitIndex, now, &frame);
    finishPayloadFrame(&mark, &frame);
    if (sendFrame(socket, groundStation, &unit->mavlinkSequence, kSimulatedVoskSource[unitIndex & 1], &frame)) {
        unit->frameSequence = sequence;
        unit->lastStatusSendTime = now;
    }
}

void simPayloadSendFrame10(Socket* socket, const AddressRecord* groundStation, SimulatedStrobeLight* light, u64 now) {
    if (now - light->lastSendTime <= kSimulatedStatusInterval) return;
    u8 bytes[kPayloadFrameWriterBytes];
    ByteWriter frame = makeByteWriter(bytes, sizeof(bytes));
    u8 sequence = light->frameSequence;
    LengthFieldMark mark = beginPayloadFrame(&sequence, PayloadFrameLightState, &frame);
    appendU8(light->brightness, &frame);
    appendU8(light->pattern, &frame);
    appendU8(light->mode, &frame);
    finishPayloadFrame(&mark, &frame);
    if (sendFrame(socket, groundStation, &light->mavlinkSequence, kSimulatedStrobeSource, &frame)) {
        light->frameSequence = sequence;
        light->lastSendTime = now;
    }
}
