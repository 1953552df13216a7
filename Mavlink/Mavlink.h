// MAVLink 1 and 2 framing: the byte-stream reader, the packet writer, checksums, the message tables
// and the per-link traffic counters.
#pragma once
#include "Core/FixedString.h"

constexpr u8 kMavlink1Magic = 0xFE;
constexpr u8 kMavlink2Magic = 0xFD;
constexpr i32 kMavlink1HeaderBytes = 6;
constexpr i32 kMavlink2HeaderBytes = 10;
constexpr i32 kMavlinkSignatureBytes = 13;
constexpr u8 kMavlinkIncompatSigned = 0x01;
// A whole MAVLink 2 frame at its largest: header, 255 payload bytes, checksum and signature.
constexpr i32 kMavlinkMaxFrameBytes = kMavlink2HeaderBytes + 255 + 2 + kMavlinkSignatureBytes;
// Message ids of the message-name table.
constexpr u32 kMavlinkNamedIds = 420;

// Message ids the drone link uses by number.
enum MavlinkMessageId : u32 {
    MavlinkHeartbeat = 0,
    MavlinkSysStatus = 1,
    MavlinkGpsRawInt = 24,
    MavlinkAttitude = 30,
    MavlinkGlobalPositionInt = 33,
    MavlinkRcChannels = 65,
    MavlinkCommandLong = 76,
    MavlinkRadioStatus = 109,
    MavlinkEncapsulatedData = 131,
    MavlinkHomePosition = 242,
    MavlinkStatusText = 253,
};

// One decoded frame, and the reader's state between calls on one byte stream. Zero-fill it before
// the first call and keep it for the whole stream: an incomplete frame stays buffered in it.
struct MavlinkMessage {
    u16 bytesBuffered;
    u8 frame[kMavlinkMaxFrameBytes];
    u8 version;      // 1 or 2
    u8 haveMessage;  // 1 after a call that decoded a message
    u8 sequence;
    u16 source;      // system << 8 | component
    u32 messageId;
    u16 frameLength;    // every byte of the frame, signature included
    u16 payloadLength;  // as received
    u8 payload[255];    // zero beyond the received length (MAVLink 2 trims trailing zero bytes)
    u8 headerLength;    // 6 or 10
    u8 header[kMavlink2HeaderBytes];
    u8 checksum[2];
    u8 signatureLength;  // 13 for a signed MAVLink 2 frame, else 0
    u8 signature[kMavlinkSignatureBytes];
};

// Takes bytes from position on until one whole frame with a known id and a correct checksum is in
// the message (haveMessage set), and returns the position after the bytes it took. When the input
// holds no further good frame the flag is cleared and end is returned. Bytes that cannot start a
// frame are skipped; a bad frame is given up from its start byte on, and the search for the next
// start byte (0xFE or 0xFD) resumes behind it. Callers loop until the flag stays 0.
i32 parseMavlinkBytes(MavlinkMessage* message, const u8* bytes, i32 position, i32 end);

// CRC_EXTRA of the common dialect for ids below 420, and of the Open Drone ID messages 12900-12905
// and 12918; -1 for any other id.
i32 mavlinkCrcExtra(u32 messageId);
// The X.25 checksum of MAVLink (CRC-16/MCRF4XX from 0xFFFF) over bytes[first, end), then one more
// step with the CRC_EXTRA byte.
u16 mavlinkCrc16(const u8* bytes, i64 first, i64 end, u8 crcExtra);
// One byte more into a running X.25 checksum (flight-log entries use the same checksum).
u16 mavlinkCrcAccumulate(u16 crc, u8 byte);
// The message's name ("HEARTBEAT"), or "Unrecognized message".
const char* mavlinkMessageName(u32 messageId);
// The full MAVLink name of a MAV_CMD value ("MAV_CMD_NAV_WAYPOINT"), or null for a value that has none.
const char* mavCmdName(u16 command);
// The entry of the message-name table: the name for ids below 420 that have one, else null.
const char* mavlinkNamedMessage(u32 messageId);
// The payload length of a message without its extension fields; -1 for an unknown id.
i32 mavlinkMinimumPayloadLength(u32 messageId);
i32 mavlinkMaximumPayloadLength(u32 messageId);

// ---------------------------------------------------------------------------------------------------
// Writing frames: beginMavlinkPacket writes the header with a zero length byte, the caller appends
// the payload, finishMavlinkPacket patches the length and appends the checksum.

// Version 1 when forceVersion2 is 0 and the id is at most 255, else version 2. The sequence counter
// is written and advanced (wrapping) even when the writer has overflowed.
LengthFieldMark beginMavlinkPacket(ByteWriter* writer, u8* sequence, u16 source, u32 messageId, u32 forceVersion2);
// Unknown ids are left without checksum. A payload above 255 bytes cannot be framed: the writer's
// overflow flag is set and no checksum is written.
void finishMavlinkPacket(LengthFieldMark* mark, ByteWriter* writer);

// A received frame kept as it arrived (header, payload, checksum and any signature) in a caller's
// fixed slot, so that it reads back as the same frame.
struct MavlinkFrameCopy {
    u64 receiveTime;
    ByteWriter writer;  // over the slot; overflow set when the frame did not fit
    u32 reserved;
};
MavlinkFrameCopy* copyMavlinkPayload(MavlinkFrameCopy* result, const MavlinkMessage* message, u8* slot, i64 slotSize,
                                     u64 receiveTime);

// ---------------------------------------------------------------------------------------------------
// Traffic counters of one link.

constexpr i32 kFcSequenceEntries = 256;

struct MavlinkTrafficStats {
    u64 messages;
    u64 bytes;
    u64 lastMessageTime;  // 0 before the first
    u64 lostMessages;     // sequence gaps of the flight controller (system 1, component 1)
    u8 lastFcSequence;
    u8 fcSequenceKnown;
    // Per-second rates, refreshed by updateMavlinkTrafficRates.
    u64 rateTime;
    u64 rateMessages;
    u64 rateBytes;
    u64 rateLost;
    f64 messagesPerSecond;
    f64 bytesPerSecond;
    f64 lostPerSecond;
    // The flight controller's sequence numbers and ids in arrival order (FC Sequence screen).
    i32 fcSequenceCount;
    u8 fcSequence[kFcSequenceEntries];
    u32 fcMessageId[kFcSequenceEntries];
};

void recordMavlinkTraffic(u16 source, u8 sequence, u32 messageId, const u8* payload, i32 payloadLength, i32 frameLength,
                          MavlinkTrafficStats* stats, u64 time);
// Appends the sequence and id of a message from system 1, component 1 while fewer than 256 are kept.
void findTrafficRecord(u16 source, u8 sequence, u32 messageId, MavlinkTrafficStats* stats);
// Recomputes the per-second rates once a second has passed since the last time.
void updateMavlinkTrafficRates(MavlinkTrafficStats* stats, u64 time);

// ---------------------------------------------------------------------------------------------------
// Senders.

// Frames the payload writer's bytes into the output writer (as a rule a send-queue slot) and counts
// the message. With no output writer nothing is written or counted.
void sendMavlinkMessage(u32 forceVersion2, u32 messageId, const ByteWriter* payload, ByteWriter* output, u8* sequence,
                        u16 source, MavlinkTrafficStats* stats, u64 time);
// COMMAND_LONG (76) with confirmation 0 to target (system << 8 | component).
void sendCommandLong(u16 command, f32 param1, f32 param2, f32 param3, f32 param4, f32 param5, f32 param6, f32 param7,
                     u16 target, ByteWriter* output, u8* sequence, u16 source, MavlinkTrafficStats* stats, u64 time);

// Little-endian field readers over a received payload.
inline u16 mavlinkU16(const u8* p) { return (u16)(p[0] | p[1] << 8); }
inline u32 mavlinkU32(const u8* p) { return (u32)p[0] | (u32)p[1] << 8 | (u32)p[2] << 16 | (u32)p[3] << 24; }
inline i16 mavlinkI16(const u8* p) { return (i16)mavlinkU16(p); }
inline i32 mavlinkI32(const u8* p) { return (i32)mavlinkU32(p); }
inline u64 mavlinkU64(const u8* p) { return (u64)mavlinkU32(p) | (u64)mavlinkU32(p + 4) << 32; }
f32 mavlinkF32(const u8* p);
