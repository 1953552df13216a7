// The payloads' own small framed protocol, carried as the whole payload of MAVLink ENCAPSULATED_DATA:
//   0xB7, length (whole frame, 7..255), sequence, version 1, type, body (length - 7 bytes),
//   checksum high byte, checksum low byte.
// Multi-byte body fields are big-endian. The writer side is beginPayloadFrame + the body +
// finishPayloadFrame; the reader side cuts a byte stream back into frames with nextPayloadFrame.
#pragma once
#include "Core/FixedString.h"

constexpr u8 kPayloadFrameStart = 0xB7;
constexpr i32 kPayloadFrameOverhead = 7;  // start, length, sequence, version, type, two checksum bytes
constexpr i32 kPayloadFrameMaxBytes = 255;
constexpr i32 kPayloadFrameMaxBody = kPayloadFrameMaxBytes - kPayloadFrameOverhead;  // 248
// Senders build one frame in a writer of this size.
constexpr i32 kPayloadFrameWriterBytes = 256;

enum PayloadFrameType : u8 {
    PayloadFrameOrvikControl = 1,
    PayloadFrameCounters = 4,
    PayloadFrameOrvikStatus = 5,
    PayloadFrameOrvikVersion = 6,
    PayloadFrameVoskStatus = 7,
    PayloadFrameVoskControl = 8,
    PayloadFrameLightControl = 9,
    PayloadFrameLightState = 10,
    PayloadFramePhotoInterval = 11,
};

// The reader's state between calls on one stream; all zero at start. After a call with frameReady
// 1, type, sequence, payloadLength and payload describe one frame.
struct PayloadFrameParser {
    u16 buffered;                       // bytes in buffer, 0..255
    u8 buffer[kPayloadFrameMaxBytes];   // stream bytes not yet consumed, candidate frame at index 0
    u8 frameReady;
    u8 payloadLength;                   // body length of the delivered frame
    u8 type;
    u8 sequence;
    u8 payload[kPayloadFrameMaxBody];
};

// Fletcher-like sum over bytes[from, to): s1 += b ^ 0xB7, s2 += s1, both mod 255; s2 * 256 + s1.
u16 payloadLinkChecksum(const u8* bytes, i64 from, i64 to);

// Appends start byte, a reserved length byte, the counter's value (then advances the counter),
// version 1 and the type. The mark points just after the reserved length byte.
LengthFieldMark beginPayloadFrame(u8* sequence, u8 type, ByteWriter* writer);
// After the body: patches the length byte and appends the checksum, high byte first. With fewer
// than two bytes left the writer's overflow flag is set instead.
void finishPayloadFrame(LengthFieldMark* mark, ByteWriter* writer);

// Takes stream bytes from [position, end) and returns the position after the bytes taken. Sets
// frameReady to 1 when a whole frame with a correct checksum is delivered, else 0. Every complete
// frame already buffered is delivered before a call reports no frame, so callers loop until
// frameReady stays 0, continuing from the returned position. Noise, false start bytes, candidates
// whose length byte cannot describe a frame (below 7) and checksum mismatches are skipped one byte
// at a time; a partial frame waits for later calls.
i64 nextPayloadFrame(PayloadFrameParser* parser, const u8* bytes, i64 position, i64 end);
