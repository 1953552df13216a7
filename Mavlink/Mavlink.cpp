#include "Mavlink/Mavlink.h"

#include "Decoders/Checksum.h"
#include "Mavlink/MavlinkTables.h"

#include <cstring>

// ---------------------------------------------------------------------------------------------------
// Tables

static const MavlinkMessageInfo* findMessageInfo(u32 messageId) {
    i32 low = 0;
    i32 high = mavlinkMessageCount - 1;
    while (low <= high) {
        i32 middle = low + (high - low) / 2;
        u32 id = mavlinkMessageTable[middle].id;
        if (id == messageId) {
            return &mavlinkMessageTable[middle];
        }
        if (id < messageId) {
            low = middle + 1;
        } else {
            high = middle - 1;
        }
    }
    return nullptr;
}

// The ids the link speaks: the common dialect below 420 and the Open Drone ID messages it sends
// and hears. Others in the generated table (newer or vendor messages) are not taken.
static const MavlinkMessageInfo* findSpokenMessage(u32 messageId) {
    bool spoken = messageId < kMavlinkNamedIds || (messageId >= 12900 && messageId <= 12905) || messageId == 12918;
    return spoken ? findMessageInfo(messageId) : nullptr;
}

// CRC_EXTRA of the ids below 420 by id (-1: none), looked up once per frame by the reader.
struct CrcExtraTable {
    i16 byId[kMavlinkNamedIds];
};

static const CrcExtraTable* crcExtraTable() {
    static const CrcExtraTable table = [] {
        CrcExtraTable built{};
        for (u32 id = 0; id < kMavlinkNamedIds; id++) {
            const MavlinkMessageInfo* info = findMessageInfo(id);
            built.byId[id] = info ? (i16)info->crcExtra : (i16)-1;
        }
        return built;
    }();
    return &table;
}

i32 mavlinkCrcExtra(u32 messageId) {
    if (messageId < kMavlinkNamedIds) return crcExtraTable()->byId[messageId];
    const MavlinkMessageInfo* info = findSpokenMessage(messageId);
    return info ? info->crcExtra : -1;
}

const char* mavlinkNamedMessage(u32 messageId) {
    if (messageId >= kMavlinkNamedIds) {
        return nullptr;
    }
    const MavlinkMessageInfo* info = findMessageInfo(messageId);
    return info ? info->name : nullptr;
}

const char* mavlinkMessageName(u32 messageId) {
    const MavlinkMessageInfo* info = findSpokenMessage(messageId);
    return info ? info->name : "Unrecognized message";
}

const char* mavCmdName(u16 command) {
    i32 low = 0;
    i32 high = mavlinkCommandCount - 1;
    while (low <= high) {
        i32 middle = low + (high - low) / 2;
        u16 value = mavlinkCommandTable[middle].value;
        if (value == command) {
            return mavlinkCommandTable[middle].name;
        }
        if (value < command) {
            low = middle + 1;
        } else {
            high = middle - 1;
        }
    }
    return nullptr;
}

i32 mavlinkMinimumPayloadLength(u32 messageId) {
    const MavlinkMessageInfo* info = findSpokenMessage(messageId);
    return info ? info->minimumPayloadLength : -1;
}

i32 mavlinkMaximumPayloadLength(u32 messageId) {
    const MavlinkMessageInfo* info = findSpokenMessage(messageId);
    return info ? info->maximumPayloadLength : -1;
}

static constexpr u16 crcStep(u16 crc, u8 byte) {
    u8 tmp = (u8)(byte ^ (u8)(crc & 0xFF));
    tmp = (u8)(tmp ^ (u8)(tmp << 4));
    return (u16)((crc >> 8) ^ ((u16)tmp << 8) ^ ((u16)tmp << 3) ^ (tmp >> 4));
}

// The checksum is linear, so eight bytes at a time go through eight tables: slice[k][v] is the
// register v (low byte, the high byte zero) after one step with byte 0 and then k more zero bytes.
// One step from register r with byte b is (r >> 8) ^ slice[0][(r ^ b) & 0xFF].
struct CrcSlices {
    u16 slice[8][256];
};

static constexpr CrcSlices makeCrcSlices() {
    CrcSlices built{};
    for (u32 v = 0; v < 256; v++) built.slice[0][v] = crcStep(0, (u8)v);
    for (u32 k = 1; k < 8; k++) {
        for (u32 v = 0; v < 256; v++) {
            u16 previous = built.slice[k - 1][v];
            built.slice[k][v] = (u16)((previous >> 8) ^ built.slice[0][previous & 0xFF]);
        }
    }
    return built;
}

static constexpr CrcSlices kCrcSlices = makeCrcSlices();

static inline u16 crcByte(u16 crc, u8 byte) { return (u16)((crc >> 8) ^ kCrcSlices.slice[0][(crc ^ byte) & 0xFF]); }

static u16 crcTables(u16 crc, const u8* bytes, i64 count) {
    const u16(*t)[256] = kCrcSlices.slice;
    for (; count >= 8; count -= 8, bytes += 8) {
        u16 x = (u16)(crc ^ (bytes[0] | bytes[1] << 8));
        crc = (u16)(t[7][x & 0xFF] ^ t[6][x >> 8] ^ t[5][bytes[2]] ^ t[4][bytes[3]] ^ t[3][bytes[4]] ^ t[2][bytes[5]] ^
                    t[1][bytes[6]] ^ t[0][bytes[7]]);
    }
    for (; count > 0; count--) crc = crcByte(crc, *bytes++);
    return crc;
}

// On processors with carry-less products, runs of 16-byte blocks are folded instead. The X.25
// register is the low half of the register of the CRC-32-style checksum whose polynomial is x^16
// times X.25's (bit-reflected 0x00008408), so CRC-32's folding serves with that polynomial's
// constants: x^544 and x^480 modulo it (four lanes of 16 bytes at a time), x^160 and x^96 (one),
// bit-reflected and doubled. What is left is one block with the same checksum as everything folded,
// which the tables finish from a zero register (shorter runs are quicker by the tables alone).
constexpr CarrylessFoldKeys kX25Keys{0x14ff2, 0x19a3c, 0x189ae, 0x8e10};

static u16 crcRange(u16 crc, const u8* bytes, i64 count) {
    if (count >= 64 && cpuHasCarrylessProducts()) {
        u8 rest[16];
        i64 taken = foldReflectedCrc(crc, bytes, count, &kX25Keys, rest);
        crc = crcTables(0, rest, 16);
        bytes += taken;
        count -= taken;
    }
    return crcTables(crc, bytes, count);
}

u16 mavlinkCrcAccumulate(u16 crc, u8 byte) { return crcByte(crc, byte); }

u16 mavlinkCrc16(const u8* bytes, i64 first, i64 end, u8 crcExtra) {
    u16 crc = end > first ? crcRange(0xFFFF, bytes + first, end - first) : (u16)0xFFFF;
    return crcByte(crc, crcExtra);
}

f32 mavlinkF32(const u8* p) {
    u32 bits = mavlinkU32(p);
    f32 value;
    std::memcpy(&value, &bits, 4);
    return value;
}

// ---------------------------------------------------------------------------------------------------
// Reader

static bool isStartByte(u8 byte) { return byte == kMavlink1Magic || byte == kMavlink2Magic; }

// Drops buffered bytes before the first start byte at or after `from`.
static void discardUntilStartByte(MavlinkMessage* message, i32 from) {
    i32 count = message->bytesBuffered;
    i32 next = from;
    while (next < count && !isStartByte(message->frame[next])) {
        next++;
    }
    if (next >= count) {
        message->bytesBuffered = 0;
        return;
    }
    if (next > 0) {
        std::memmove(message->frame, message->frame + next, (size_t)(count - next));
        message->bytesBuffered = (u16)(count - next);
    }
}

// Gives up the buffered frame candidate: keeps what follows its start byte from the next start
// byte on, so a frame that began inside a bad one is still found.
static void dropCandidate(MavlinkMessage* message) { discardUntilStartByte(message, 1); }

// Copies input bytes into the frame buffer until it holds `wanted` bytes; false when the input ran out.
static bool fillTo(MavlinkMessage* message, i32 wanted, const u8* bytes, i32* position, i32 end) {
    i32 missing = wanted - message->bytesBuffered;
    if (missing <= 0) {
        return true;
    }
    i32 available = end - *position;
    i32 take = missing < available ? missing : available;
    if (take > 0) {
        std::memcpy(message->frame + message->bytesBuffered, bytes + *position, (size_t)take);
        message->bytesBuffered = (u16)(message->bytesBuffered + take);
        *position += take;
    }
    return take == missing;
}

// count bytes in blocks of 16, the last block overlapping the one before: short copies of varying
// length without a call.
static inline void copyBytes(u8* to, const u8* from, i32 count) {
    if (count >= 16) {
        for (i32 i = 0; i + 16 <= count; i += 16) std::memcpy(to + i, from + i, 16);
        std::memcpy(to + count - 16, from + count - 16, 16);
        return;
    }
    i32 i = 0;
    if (count & 8) std::memcpy(to + i, from + i, 8), i += 8;
    if (count & 4) std::memcpy(to + i, from + i, 4), i += 4;
    if (count & 2) std::memcpy(to + i, from + i, 2), i += 2;
    if (count & 1) to[i] = from[i];
}

// Fills the message from a whole, checked frame at `frame` (the reader's buffer or the input).
static void fillMessage(MavlinkMessage* message, const u8* frame, i32 headerLength, i32 payloadLength,
                        i32 frameLength, u32 messageId) {
    bool version2 = frame[0] == kMavlink2Magic;
    message->version = version2 ? 2 : 1;
    message->haveMessage = 1;
    message->sequence = version2 ? frame[4] : frame[2];
    u8 system = version2 ? frame[5] : frame[3];
    u8 component = version2 ? frame[6] : frame[4];
    message->source = (u16)(system << 8 | component);
    message->messageId = messageId;
    message->frameLength = (u16)frameLength;
    message->payloadLength = (u16)payloadLength;
    std::memset(message->payload, 0, sizeof(message->payload));
    copyBytes(message->payload, frame + headerLength, payloadLength);
    message->headerLength = (u8)headerLength;
    std::memset(message->header, 0, sizeof(message->header));
    if (version2) {
        std::memcpy(message->header, frame, kMavlink2HeaderBytes);
    } else {
        std::memcpy(message->header, frame, kMavlink1HeaderBytes);
    }
    message->checksum[0] = frame[headerLength + payloadLength];
    message->checksum[1] = frame[headerLength + payloadLength + 1];
    i32 signatureLength = frameLength - (headerLength + payloadLength + 2);
    message->signatureLength = (u8)signatureLength;
    std::memset(message->signature, 0, sizeof(message->signature));
    for (i32 i = 0; i < signatureLength && i < kMavlinkSignatureBytes; i++) {
        message->signature[i] = frame[headerLength + payloadLength + 2 + i];
    }
}

static void takeFrame(MavlinkMessage* message, i32 headerLength, i32 payloadLength, i32 frameLength, u32 messageId) {
    fillMessage(message, message->frame, headerLength, payloadLength, frameLength, messageId);
    // Bytes behind the frame stay buffered for the next call.
    i32 rest = message->bytesBuffered - frameLength;
    if (rest > 0) {
        std::memmove(message->frame, message->frame + frameLength, (size_t)rest);
    }
    message->bytesBuffered = (u16)(rest > 0 ? rest : 0);
}

// With nothing buffered and a whole good frame in the input at position (a start byte), takes it
// straight from the input and returns its length; 0 otherwise, and the byte-wise reader below
// takes over from the same position (it gives up a bad frame the same way whichever path saw it).
static i32 takeWholeFrame(MavlinkMessage* message, const u8* bytes, i32 position, i32 end) {
    const u8* frame = bytes + position;
    i32 available = end - position;
    bool version2 = frame[0] == kMavlink2Magic;
    i32 headerLength = version2 ? kMavlink2HeaderBytes : kMavlink1HeaderBytes;
    if (available < headerLength) {
        return 0;
    }
    i32 payloadLength = frame[1];
    u32 messageId = version2 ? (u32)frame[7] | (u32)frame[8] << 8 | (u32)frame[9] << 16 : frame[5];
    u8 incompatFlags = version2 ? frame[2] : 0;
    i32 crcExtra = mavlinkCrcExtra(messageId);
    if ((incompatFlags & ~kMavlinkIncompatSigned) != 0 || crcExtra < 0) {
        return 0;
    }
    i32 frameLength = headerLength + payloadLength + 2 +
                      ((incompatFlags & kMavlinkIncompatSigned) ? kMavlinkSignatureBytes : 0);
    if (available < frameLength ||
        mavlinkCrc16(frame, 1, headerLength + payloadLength, (u8)crcExtra) != mavlinkU16(frame + headerLength + payloadLength)) {
        return 0;
    }
    fillMessage(message, frame, headerLength, payloadLength, frameLength, messageId);
    return frameLength;
}

i32 parseMavlinkBytes(MavlinkMessage* message, const u8* bytes, i32 position, i32 end) {
    message->haveMessage = 0;
    if (message->bytesBuffered > kMavlinkMaxFrameBytes) {
        message->bytesBuffered = 0;
    }
    if (!bytes || position < 0 || end < position) {
        position = end = 0;
    }
    for (;;) {
        // What stayed behind a taken frame need not start one.
        discardUntilStartByte(message, 0);
        if (message->bytesBuffered == 0) {
            while (position < end && !isStartByte(bytes[position])) {
                position++;
            }
            if (position >= end) {
                return end;
            }
            i32 whole = takeWholeFrame(message, bytes, position, end);
            if (whole > 0) {
                return position + whole;
            }
            message->frame[0] = bytes[position++];
            message->bytesBuffered = 1;
        }
        bool version2 = message->frame[0] == kMavlink2Magic;
        i32 headerLength = version2 ? kMavlink2HeaderBytes : kMavlink1HeaderBytes;
        if (!fillTo(message, headerLength, bytes, &position, end)) {
            return end;
        }
        const u8* frame = message->frame;
        i32 payloadLength = frame[1];
        u32 messageId = version2 ? (u32)frame[7] | (u32)frame[8] << 8 | (u32)frame[9] << 16 : frame[5];
        u8 incompatFlags = version2 ? frame[2] : 0;
        i32 crcExtra = mavlinkCrcExtra(messageId);
        if ((incompatFlags & ~kMavlinkIncompatSigned) != 0 || crcExtra < 0) {
            dropCandidate(message);  // a flag this reader does not understand, or an id it does not know
            continue;
        }
        i32 frameLength = headerLength + payloadLength + 2 +
                          ((incompatFlags & kMavlinkIncompatSigned) ? kMavlinkSignatureBytes : 0);
        if (!fillTo(message, frameLength, bytes, &position, end)) {
            return end;
        }
        u16 expected = mavlinkCrc16(frame, 1, headerLength + payloadLength, (u8)crcExtra);
        u16 received = mavlinkU16(frame + headerLength + payloadLength);
        if (expected != received) {
            dropCandidate(message);
            continue;
        }
        takeFrame(message, headerLength, payloadLength, frameLength, messageId);
        return position;
    }
}

// ---------------------------------------------------------------------------------------------------
// Writer

LengthFieldMark beginMavlinkPacket(ByteWriter* writer, u8* sequence, u16 source, u32 messageId, u32 forceVersion2) {
    bool version2 = forceVersion2 || messageId > 255;
    appendU8(version2 ? kMavlink2Magic : kMavlink1Magic, writer);
    LengthFieldMark mark = reserveLengthField(writer, LengthFieldU8);
    if (version2) {
        appendU8(0, writer);  // incompatibility flags
        appendU8(0, writer);  // compatibility flags
    }
    appendU8(*sequence, writer);
    *sequence = (u8)(*sequence + 1);
    appendU8((u8)(source >> 8), writer);
    appendU8((u8)source, writer);
    appendU8((u8)messageId, writer);
    if (version2) {
        appendU8((u8)(messageId >> 8), writer);
        appendU8((u8)(messageId >> 16), writer);
    }
    return mark;
}

void finishMavlinkPacket(LengthFieldMark* mark, ByteWriter* writer) {
    if (mark->kind == LengthFieldNone || !writer->data || mark->position < 2 || mark->position > writer->length) {
        return;
    }
    u8* lengthByte = writer->data + mark->position - 1;
    u8 magic = lengthByte[-1];
    if (magic != kMavlink1Magic && magic != kMavlink2Magic) {
        return;
    }
    i64 restOfHeader = magic == kMavlink2Magic ? 8 : 4;
    i64 payloadLength = writer->length - mark->position - restOfHeader;
    if (payloadLength < 0) {
        return;  // the header itself did not fit
    }
    if (payloadLength > 255) {
        writer->overflow = 1;  // a length byte cannot say this; the frame would be corrupt
        return;
    }
    patchLengthField(mark, (u64)payloadLength);
    const u8* header = writer->data + mark->position;
    u32 messageId = magic == kMavlink2Magic ? (u32)header[5] | (u32)header[6] << 8 | (u32)header[7] << 16 : header[3];
    i32 crcExtra = mavlinkCrcExtra(messageId);
    if (crcExtra < 0) {
        return;
    }
    i64 first = mark->position - 1;
    u16 checksum = mavlinkCrc16(writer->data, first, writer->length, (u8)crcExtra);
    if (writer->capacity - writer->length < 2) {
        writer->overflow = 1;
        return;
    }
    appendU16Le(checksum, writer);
}

MavlinkFrameCopy* copyMavlinkPayload(MavlinkFrameCopy* result, const MavlinkMessage* message, u8* slot, i64 slotSize,
                                     u64 receiveTime) {
    *result = MavlinkFrameCopy{};
    result->receiveTime = receiveTime;
    result->writer = makeByteWriter(slot, slotSize);
    i32 headerLength = message->headerLength <= kMavlink2HeaderBytes ? message->headerLength : kMavlink2HeaderBytes;
    appendBytes(message->header, headerLength, &result->writer);
    appendBytes(message->payload, message->payloadLength <= 255 ? message->payloadLength : 255, &result->writer);
    appendBytes(message->checksum, 2, &result->writer);
    // A signed frame without its signature would claim bytes that never follow.
    i32 signatureLength = message->signatureLength <= kMavlinkSignatureBytes ? message->signatureLength : 0;
    appendBytes(message->signature, signatureLength, &result->writer);
    return result;
}

// ---------------------------------------------------------------------------------------------------
// Traffic counters

void findTrafficRecord(u16 source, u8 sequence, u32 messageId, MavlinkTrafficStats* stats) {
    if (source != 0x0101 || stats->fcSequenceCount < 0 || stats->fcSequenceCount >= kFcSequenceEntries) {
        return;
    }
    stats->fcSequence[stats->fcSequenceCount] = sequence;
    stats->fcMessageId[stats->fcSequenceCount] = messageId;
    stats->fcSequenceCount++;
}

void recordMavlinkTraffic(u16 source, u8 sequence, u32 messageId, const u8* payload, i32 payloadLength, i32 frameLength,
                          MavlinkTrafficStats* stats, u64 time) {
    (void)payload;
    (void)payloadLength;
    if (!stats) {
        return;
    }
    stats->messages++;
    stats->bytes += frameLength > 0 ? (u64)frameLength : 0;
    stats->lastMessageTime = time;
    if (source == 0x0101) {
        if (stats->fcSequenceKnown) {
            u8 gap = (u8)(sequence - (u8)(stats->lastFcSequence + 1));
            // A large jump backwards is a restart of the sender, not a loss.
            if (gap < 128) {
                stats->lostMessages += gap;
            }
        }
        stats->lastFcSequence = sequence;
        stats->fcSequenceKnown = 1;
    }
    findTrafficRecord(source, sequence, messageId, stats);
}

void updateMavlinkTrafficRates(MavlinkTrafficStats* stats, u64 time) {
    if (stats->rateTime == 0 || time < stats->rateTime) {
        stats->rateTime = time;
        stats->rateMessages = stats->messages;
        stats->rateBytes = stats->bytes;
        stats->rateLost = stats->lostMessages;
        return;
    }
    u64 elapsed = time - stats->rateTime;
    if (elapsed < 1000000) {
        return;
    }
    f64 seconds = (f64)elapsed / 1e6;
    stats->messagesPerSecond = (f64)(stats->messages - stats->rateMessages) / seconds;
    stats->bytesPerSecond = (f64)(stats->bytes - stats->rateBytes) / seconds;
    stats->lostPerSecond = (f64)(stats->lostMessages - stats->rateLost) / seconds;
    stats->rateTime = time;
    stats->rateMessages = stats->messages;
    stats->rateBytes = stats->bytes;
    stats->rateLost = stats->lostMessages;
}

// ---------------------------------------------------------------------------------------------------
// Senders

void sendMavlinkMessage(u32 forceVersion2, u32 messageId, const ByteWriter* payload, ByteWriter* output, u8* sequence,
                        u16 source, MavlinkTrafficStats* stats, u64 time) {
    if (!output) {
        return;
    }
    i64 start = output->length;
    u8 frameSequence = *sequence;
    LengthFieldMark mark = beginMavlinkPacket(output, sequence, source, messageId, forceVersion2);
    i64 payloadLength = payload && payload->data ? payload->length : 0;
    if (payloadLength > 0) {
        appendBytes(payload->data, payloadLength, output);
    }
    finishMavlinkPacket(&mark, output);
    if (output->overflow) {
        return;
    }
    recordMavlinkTraffic(source, frameSequence, messageId, payload ? payload->data : nullptr, (i32)payloadLength,
                         (i32)(output->length - start), stats, time);
}

void sendCommandLong(u16 command, f32 param1, f32 param2, f32 param3, f32 param4, f32 param5, f32 param6, f32 param7,
                     u16 target, ByteWriter* output, u8* sequence, u16 source, MavlinkTrafficStats* stats, u64 time) {
    u8 bytes[33];
    ByteWriter payload = makeByteWriter(bytes, sizeof(bytes));
    const f32 params[7] = {param1, param2, param3, param4, param5, param6, param7};
    for (f32 param : params) {
        appendF32Le(param, &payload);
    }
    appendU16Le(command, &payload);
    appendU8((u8)(target >> 8), &payload);
    appendU8((u8)target, &payload);
    appendU8(0, &payload);  // confirmation
    sendMavlinkMessage(0, MavlinkCommandLong, &payload, output, sequence, source, stats, time);
}
