// The MAVLink reader over arbitrary bytes in arbitrary chunks: every message it yields must carry a
// known id and a checksum that holds, read back the same from its kept copy, and decode into the
// vehicle state without harm. The input's tail is also framed by the writer and must read back.
#include "Mavlink/Mavlink.h"
#include "Mavlink/VehicleState.h"

#include <cstdio>
#include <cstring>

static VehicleState vehicle;

static void fail(int line) {
    fprintf(stderr, "MavlinkFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 1 << 16) {
        return 0;
    }
    size_t chunk = data[0] % 40 + 1;
    MavlinkMessage message{};
    for (size_t start = 1; start < size; start += chunk) {
        i32 end = (i32)(size - start < chunk ? size - start : chunk);
        i32 position = 0;
        for (;;) {
            i32 next = parseMavlinkBytes(&message, data + start, position, end);
            check(next >= position && next <= end);
            position = next;
            if (!message.haveMessage) {
                break;
            }
            i32 crcExtra = mavlinkCrcExtra(message.messageId);
            check(crcExtra >= 0);
            check(message.version == 1 || message.version == 2);
            check(message.headerLength == (message.version == 2 ? 10 : 6));
            for (i32 i = message.payloadLength; i < 255; i++) {
                check(message.payload[i] == 0);
            }
            u8 slot[kMavlinkMaxFrameBytes];
            MavlinkFrameCopy copy;
            copyMavlinkPayload(&copy, &message, slot, sizeof(slot), 0);
            check(!copy.writer.overflow);
            i64 body = message.headerLength + message.payloadLength;
            check(mavlinkU16(slot + body) == mavlinkCrc16(slot, 1, body, (u8)crcExtra));
            // Signed or not, the copy is the whole frame and reads back as the same message.
            check(copy.writer.length == message.frameLength);
            MavlinkMessage again{};
            parseMavlinkBytes(&again, slot, 0, (i32)copy.writer.length);
            check(again.haveMessage && again.messageId == message.messageId && again.source == message.source);
            check(std::memcmp(again.payload, message.payload, 255) == 0);
            check(again.signatureLength == message.signatureLength &&
                  std::memcmp(again.signature, message.signature, kMavlinkSignatureBytes) == 0);
            TelemetryResult result;
            decodeTelemetryMessage(&result, &message, &vehicle, 1);
        }
    }

    // Writer round trip: id from the first bytes, payload from the rest.
    u32 id = size >= 4 ? ((u32)data[1] | (u32)data[2] << 8 | (u32)(data[3] & 0x3F) << 16) % 13000 : 0;
    if (mavlinkCrcExtra(id) >= 0) {
        size_t payloadLength = size - 1 < 255 ? size - 1 : 255;
        u8 frame[300];
        ByteWriter writer = makeByteWriter(frame, sizeof(frame));
        u8 sequence = data[0];
        LengthFieldMark mark = beginMavlinkPacket(&writer, &sequence, 0x0101, id, data[0] & 1);
        appendBytes(data + 1, (i64)payloadLength, &writer);
        finishMavlinkPacket(&mark, &writer);
        check(!writer.overflow);
        MavlinkMessage back{};
        parseMavlinkBytes(&back, frame, 0, (i32)writer.length);
        check(back.haveMessage && back.messageId == id && back.payloadLength == payloadLength);
        check(std::memcmp(back.payload, data + 1, payloadLength) == 0);
    }
    return 0;
}
