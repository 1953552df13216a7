// The payload frame reader over arbitrary bytes in arbitrary chunks: every frame it delivers must
// be a well-formed frame (its checksum holds when written again), and a call that reports no frame
// must leave no whole frame in the buffer. Each delivered body also goes through the payload
// link's receive handlers. The input's tail is framed by the writer and must read back unchanged.
#include "Drone/TarnwickPayloads/PayloadDevices.h"
#include "Drone/TarnwickPayloads/PayloadFrame.h"
#include "Drone/TarnwickPayloads/PayloadLink.h"

#include <cstdio>
#include <cstring>

static PayloadLink link;
static VehicleState vehicle;
static OrvikDropLocations orvikDrops;
static DodireruDropLocations voskDrops;

static void fail(int line) {
    fprintf(stderr, "PayloadFrameFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

// 1 when the buffer still starts with a whole frame whose checksum holds.
static bool holdsWholeFrame(const PayloadFrameParser* parser) {
    if (parser->buffered < 7 || parser->buffer[0] != kPayloadFrameStart) return false;
    u32 length = parser->buffer[1];
    if (length < 7 || length > parser->buffered) return false;
    u16 sum = payloadLinkChecksum(parser->buffer, 0, length - 2);
    return sum == (u16)(parser->buffer[length - 2] * 256 + parser->buffer[length - 1]);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 1 << 16) return 0;
    size_t chunk = data[0] % 64 + 1;
    PayloadFrameParser parser{};
    AddressRecord source{14555, 4, 0, {127, 0, 0, 1}};
    for (size_t start = 1; start < size; start += chunk) {
        i64 end = (i64)(size - start < chunk ? size - start : chunk);
        i64 position = 0;
        for (;;) {
            i64 next = nextPayloadFrame(&parser, data + start, position, end);
            check(next >= position && next <= end);
            check(parser.buffered <= kPayloadFrameMaxBytes);
            position = next;
            if (!parser.frameReady) {
                check(position == end);
                check(!holdsWholeFrame(&parser));
                break;
            }
            // Written again with the same fields, the frame reads back the same.
            u8 bytes[kPayloadFrameWriterBytes];
            ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
            u8 sequence = parser.sequence;
            LengthFieldMark mark = beginPayloadFrame(&sequence, parser.type, &writer);
            appendBytes(parser.payload, parser.payloadLength, &writer);
            finishPayloadFrame(&mark, &writer);
            check(!writer.overflow && writer.length == parser.payloadLength + 7);
            PayloadFrameParser again{};
            nextPayloadFrame(&again, bytes, 0, writer.length);
            check(again.frameReady && again.type == parser.type && again.payloadLength == parser.payloadLength);
            check(std::memcmp(again.payload, parser.payload, parser.payloadLength) == 0);
            i32 slot = -1;
            handleOrvikFrame(parser.payload, parser.payloadLength, parser.type, &orvikDrops, &vehicle, &link.orvik,
                             &slot, 1000, 0);
            handleVoskStatusFrame(parser.payload, parser.payloadLength, parser.type, &voskDrops, &source, &vehicle,
                                  nullptr, &link.vosk, &slot, 1000, 0);
            handleLightStateFrame(&link.light, parser.payload, parser.payloadLength, 1000);
            check(slot >= -1 && slot <= 1);
        }
    }
    return 0;
}
