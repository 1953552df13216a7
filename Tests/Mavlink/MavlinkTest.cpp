#include "Mavlink/Mavlink.h"
#include "NodePeer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<u8>;

Bytes frameOf(u32 messageId, const Bytes& payload, u8* sequence, u16 source, u32 forceVersion2) {
    u8 buffer[400];
    ByteWriter writer = makeByteWriter(buffer, sizeof(buffer));
    LengthFieldMark mark = beginMavlinkPacket(&writer, sequence, source, messageId, forceVersion2);
    appendBytes(payload.data(), (i64)payload.size(), &writer);
    finishMavlinkPacket(&mark, &writer);
    return Bytes(buffer, buffer + writer.length);
}

struct Parsed {
    u32 id;
    u16 source;
    u8 sequence;
    u8 version;
    Bytes payload;  // the whole 255-byte payload field up to the received length
    std::string frame;  // header, payload and checksum as kept by copyMavlinkPayload
};

// Feeds the bytes in chunks of `chunk` bytes and collects every message.
std::vector<Parsed> parseAll(const Bytes& bytes, size_t chunk) {
    std::vector<Parsed> found;
    MavlinkMessage message{};
    for (size_t start = 0; start < bytes.size(); start += chunk) {
        i32 end = (i32)std::min(bytes.size(), start + chunk) - (i32)start;
        i32 position = 0;
        for (;;) {
            position = parseMavlinkBytes(&message, bytes.data() + start, position, end);
            if (!message.haveMessage) {
                break;
            }
            u8 slot[300];
            MavlinkFrameCopy copy;
            copyMavlinkPayload(&copy, &message, slot, sizeof(slot), 0);
            found.push_back({message.messageId, message.source, message.sequence, message.version,
                             Bytes(message.payload, message.payload + message.payloadLength),
                             hexFromBytes(slot, (size_t)copy.writer.length)});
        }
    }
    return found;
}

const Bytes kHeartbeatPayload = {0, 0, 0, 0, 2, 3, 1, 4, 3};

TEST(MavlinkWriter, HeartbeatMatchesPublishedFramesInBothVersions) {
    // Frames written by node-mavlink for the same message (system 1, component 1, sequence 0).
    u8 sequence = 0;
    EXPECT_EQ(hexFromBytes(frameOf(0, kHeartbeatPayload, &sequence, 0x0101, 0).data(), 17),
              "fe09000101000000000002030104036b08");
    sequence = 0;
    EXPECT_EQ(hexFromBytes(frameOf(0, kHeartbeatPayload, &sequence, 0x0101, 1).data(), 21),
              "fd090000000101000000000000000203010403f1cb");

    sequence = 7;
    Bytes frame = frameOf(0, kHeartbeatPayload, &sequence, 0xFFBE, 0);
    EXPECT_EQ(sequence, 8);
    ASSERT_EQ(frame.size(), 17u);
    EXPECT_EQ(hexFromBytes(frame.data(), 6), "fe0907ffbe00");
    EXPECT_EQ(mavlinkU16(frame.data() + 15), mavlinkCrc16(frame.data(), 1, 15, 50));
}

TEST(MavlinkWriter, HeaderVersionFollowsIdAndForceFlag) {
    u8 sequence = 0;
    Bytes v1 = frameOf(255, {}, &sequence, 0x0102, 0);
    ASSERT_EQ(v1.size(), 6u);  // id 255 has no CRC_EXTRA: the frame stays without checksum
    EXPECT_EQ(hexFromBytes(v1.data(), 6), "fe00000102ff");

    Bytes v2 = frameOf(256, Bytes(42, 9), &sequence, 0x0102, 0);
    ASSERT_EQ(v2.size(), 10u + 42 + 2);
    EXPECT_EQ(hexFromBytes(v2.data(), 10), "fd2a0000010102000100");

    Bytes forced = frameOf(33, {}, &sequence, 0x0102, 1);
    ASSERT_EQ(forced.size(), 12u);  // an empty payload still has length 0 and a checksum
    EXPECT_EQ(forced[0], 0xFD);
    EXPECT_EQ(forced[1], 0);
    EXPECT_EQ(mavlinkU16(forced.data() + 10), mavlinkCrc16(forced.data(), 1, 10, 104));
}

TEST(MavlinkWriter, SequenceWrapsAndAdvancesEvenWhenNothingFits) {
    u8 sequence = 255;
    Bytes frame = frameOf(0, kHeartbeatPayload, &sequence, 0x0101, 0);
    EXPECT_EQ(frame[2], 255);
    EXPECT_EQ(sequence, 0);

    u8 small[3];
    ByteWriter writer = makeByteWriter(small, sizeof(small));
    LengthFieldMark mark = beginMavlinkPacket(&writer, &sequence, 0x0101, 0, 0);
    EXPECT_TRUE(writer.overflow);
    EXPECT_EQ(sequence, 1);
    appendBytes(kHeartbeatPayload.data(), 9, &writer);
    finishMavlinkPacket(&mark, &writer);
    EXPECT_LE(writer.length, 3);

    // The header fits, the checksum does not.
    u8 tight[6 + 9 + 1];
    writer = makeByteWriter(tight, sizeof(tight));
    mark = beginMavlinkPacket(&writer, &sequence, 0x0101, 0, 0);
    appendBytes(kHeartbeatPayload.data(), 9, &writer);
    finishMavlinkPacket(&mark, &writer);
    EXPECT_TRUE(writer.overflow);
    EXPECT_EQ(writer.length, 15);
    EXPECT_EQ(tight[1], 9);
}

TEST(MavlinkWriter, PayloadAboveALengthByteIsRefused) {
    u8 buffer[600];
    ByteWriter writer = makeByteWriter(buffer, sizeof(buffer));
    u8 sequence = 0;
    LengthFieldMark mark = beginMavlinkPacket(&writer, &sequence, 0x0101, 131, 1);
    Bytes payload(300, 1);
    appendBytes(payload.data(), 300, &writer);
    finishMavlinkPacket(&mark, &writer);
    EXPECT_TRUE(writer.overflow);
    EXPECT_EQ(writer.length, 310);
}

TEST(MavlinkTables, CrcExtraCoversTheCommonDialectAndOpenDroneIdOnly) {
    EXPECT_EQ(mavlinkCrcExtra(0), 50);
    EXPECT_EQ(mavlinkCrcExtra(76), 152);
    EXPECT_EQ(mavlinkCrcExtra(395), 0);
    const std::pair<u32, i32> openDroneId[] = {{12900, 114}, {12901, 254}, {12902, 140}, {12903, 249},
                                               {12904, 77},  {12905, 49},  {12918, 139}};
    for (auto [id, extra] : openDroneId) {
        EXPECT_EQ(mavlinkCrcExtra(id), extra) << id;
    }
    for (u32 id : {3u, 255u, 420u, 435u, 440u, 9000u, 12899u, 12906u, 12915u, 12919u, 12920u, 0xFFFFFFu, 0xFFFFFFFFu}) {
        EXPECT_EQ(mavlinkCrcExtra(id), -1) << id;
    }
    EXPECT_STREQ(mavlinkMessageName(0), "HEARTBEAT");
    EXPECT_STREQ(mavlinkMessageName(12904), "OPEN_DRONE_ID_SYSTEM");
    EXPECT_STREQ(mavlinkMessageName(3), "Unrecognized message");
    EXPECT_STREQ(mavlinkMessageName(435), "Unrecognized message");
    EXPECT_STREQ(mavlinkNamedMessage(253), "STATUSTEXT");
    EXPECT_EQ(mavlinkNamedMessage(12904), nullptr);
    EXPECT_EQ(mavlinkMinimumPayloadLength(1), 31);
    EXPECT_EQ(mavlinkMaximumPayloadLength(1), 43);
}

TEST(MavlinkReader, FindsFramesAcrossAnySplitAndSkipsWhatIsNotOne) {
    u8 sequence = 0;
    Bytes stream = {0x00, 0xFE, 0x33, 0xFD};  // garbage with start bytes
    Bytes first = frameOf(0, kHeartbeatPayload, &sequence, 0x0101, 0);
    Bytes bad = frameOf(30, Bytes(28, 3), &sequence, 0x0101, 1);
    bad[15] ^= 1;
    Bytes unknown = frameOf(33, Bytes(28, 4), &sequence, 0x0101, 1);
    unknown[9] = 0x44;  // id 0x440021 is in no table
    Bytes second = frameOf(12904, Bytes(54, 5), &sequence, 0x0203, 0);
    Bytes cut = frameOf(253, Bytes(51, 'a'), &sequence, 0x0101, 0);
    cut.resize(20);
    Bytes third = frameOf(24, Bytes(30, 6), &sequence, 0x0101, 0);
    for (const Bytes* part : {&first, &bad, &unknown, &second, &cut, &third}) {
        stream.insert(stream.end(), part->begin(), part->end());
    }
    stream.insert(stream.end(), 80, 0x55);  // lets the cut frame's claimed length run out
    for (size_t chunk : {stream.size(), (size_t)1, (size_t)2, (size_t)7, (size_t)64}) {
        std::vector<Parsed> found = parseAll(stream, chunk);
        ASSERT_EQ(found.size(), 3u) << chunk;
        EXPECT_EQ(found[0].frame, hexFromBytes(first.data(), first.size()));
        EXPECT_EQ(found[0].version, 1);
        EXPECT_EQ(found[1].id, 12904u);
        EXPECT_EQ(found[1].source, 0x0203);
        EXPECT_EQ(found[1].version, 2);
        EXPECT_EQ(found[1].frame, hexFromBytes(second.data(), second.size()));
        EXPECT_EQ(found[2].id, 24u);
        EXPECT_EQ(found[2].sequence, 5);
    }
}

TEST(MavlinkReader, FrameStartingInsideABadFrameIsFound) {
    u8 sequence = 0;
    Bytes good = frameOf(0, kHeartbeatPayload, &sequence, 0x0101, 0);
    // A false start whose claimed length covers the good frame.
    Bytes stream = {0xFE, 20, 0, 1, 1, 0};
    stream.insert(stream.end(), good.begin(), good.end());
    stream.insert(stream.end(), 20, 0x11);
    std::vector<Parsed> found = parseAll(stream, stream.size());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].frame, hexFromBytes(good.data(), good.size()));
}

TEST(MavlinkReader, BytesLeftBehindAFrameMustStartTheNextOne) {
    // A false start covers a good frame and, behind it, a frame that lost its start byte: only the
    // good frame is taken.
    u8 sequence = 0;
    Bytes good = frameOf(0, kHeartbeatPayload, &sequence, 0x0101, 0);
    Bytes headless = frameOf(76, Bytes(33, 2), &sequence, 0x0101, 0);
    headless[0] = 0x12;
    Bytes stream = {0xFE, 60, 0, 1, 1, 0};
    stream.insert(stream.end(), good.begin(), good.end());
    stream.insert(stream.end(), headless.begin(), headless.end());
    stream.insert(stream.end(), 60, 0x11);
    for (size_t chunk : {stream.size(), (size_t)1, (size_t)5}) {
        std::vector<Parsed> found = parseAll(stream, chunk);
        ASSERT_EQ(found.size(), 1u) << chunk;
        EXPECT_EQ(found[0].frame, hexFromBytes(good.data(), good.size()));
    }
}

TEST(MavlinkReader, TrimmedSignedAndFlaggedFrames) {
    // A MAVLink 2 sender trims trailing zeros: the reader zero-fills them.
    u8 sequence = 0;
    Bytes payload(28, 0);
    payload[0] = 9;
    Bytes trimmed = frameOf(33, Bytes(payload.begin(), payload.begin() + 1), &sequence, 0x0101, 1);
    MavlinkMessage message{};
    std::memset(message.payload, 0xAA, sizeof(message.payload));
    parseMavlinkBytes(&message, trimmed.data(), 0, (i32)trimmed.size());
    ASSERT_TRUE(message.haveMessage);
    EXPECT_EQ(message.payloadLength, 1);
    for (int i = 1; i < 255; i++) {
        ASSERT_EQ(message.payload[i], 0) << i;
    }

    // Signed: the 13 signature bytes belong to the frame. Unknown incompatibility flags: skipped.
    Bytes signedFrame = frameOf(0, kHeartbeatPayload, &sequence, 0x0101, 1);
    signedFrame[2] = kMavlinkIncompatSigned;
    u16 crc = mavlinkCrc16(signedFrame.data(), 1, 19, 50);
    signedFrame[19] = (u8)crc;
    signedFrame[20] = (u8)(crc >> 8);
    Bytes flagged = signedFrame;
    flagged[2] = 0x02;
    crc = mavlinkCrc16(flagged.data(), 1, 19, 50);
    flagged[19] = (u8)crc;
    flagged[20] = (u8)(crc >> 8);
    Bytes stream = signedFrame;
    stream.insert(stream.end(), 13, 0xFE);  // signature bytes that look like start bytes
    stream.insert(stream.end(), flagged.begin(), flagged.end());
    stream.insert(stream.end(), trimmed.begin(), trimmed.end());
    std::vector<Parsed> found = parseAll(stream, 3);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].id, 0u);
    EXPECT_EQ(found[1].id, 33u);
    // The kept copy of a signed frame is the whole frame, signature included, and reads back.
    Bytes whole(stream.begin(), stream.begin() + (long)signedFrame.size() + kMavlinkSignatureBytes);
    EXPECT_EQ(found[0].frame, hexFromBytes(whole.data(), whole.size()));
    std::vector<Parsed> again = parseAll(bytesFromHex(found[0].frame), 1);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].frame, found[0].frame);
}

TEST(MavlinkReader, OneMessagePerCallAndTheRestOnTheNext) {
    u8 sequence = 0;
    Bytes stream = frameOf(0, kHeartbeatPayload, &sequence, 0x0101, 0);
    Bytes second = frameOf(30, Bytes(28, 1), &sequence, 0x0101, 0);
    stream.insert(stream.end(), second.begin(), second.end());
    MavlinkMessage message{};
    i32 position = parseMavlinkBytes(&message, stream.data(), 0, (i32)stream.size());
    EXPECT_TRUE(message.haveMessage);
    EXPECT_EQ(position, 17);
    position = parseMavlinkBytes(&message, stream.data(), position, (i32)stream.size());
    EXPECT_TRUE(message.haveMessage);
    EXPECT_EQ(message.messageId, 30u);
    EXPECT_EQ(message.sequence, 1);
    position = parseMavlinkBytes(&message, stream.data(), position, (i32)stream.size());
    EXPECT_FALSE(message.haveMessage);
    EXPECT_EQ(position, (i32)stream.size());
}

TEST(MavlinkCopy, KeepsTheFrameAsReceivedAndCutsToTheSlot) {
    u8 sequence = 3;
    Bytes frame = frameOf(30, Bytes(18, 7), &sequence, 0x0101, 1);  // 30 bytes
    ASSERT_EQ(frame.size(), 30u);
    MavlinkMessage message{};
    parseMavlinkBytes(&message, frame.data(), 0, (i32)frame.size());
    ASSERT_TRUE(message.haveMessage);

    u8 slot[21];
    MavlinkFrameCopy copy;
    copyMavlinkPayload(&copy, &message, slot, sizeof(slot), 1234);
    EXPECT_EQ(copy.receiveTime, 1234u);
    EXPECT_TRUE(copy.writer.overflow);
    EXPECT_EQ(copy.writer.length, 21);
    EXPECT_EQ(hexFromBytes(slot, 21), hexFromBytes(frame.data(), 21));

    // A copy that fits reads back as the same message.
    u8 whole[40];
    copyMavlinkPayload(&copy, &message, whole, sizeof(whole), 0);
    EXPECT_FALSE(copy.writer.overflow);
    MavlinkMessage again{};
    parseMavlinkBytes(&again, whole, 0, (i32)copy.writer.length);
    ASSERT_TRUE(again.haveMessage);
    EXPECT_EQ(std::memcmp(again.payload, message.payload, 255), 0);
}

TEST(MavlinkSenders, CommandLongAndTrafficCounters) {
    u8 slot[100];
    ByteWriter output = makeByteWriter(slot, sizeof(slot));
    MavlinkTrafficStats stats{};
    u8 sequence = 10;
    sendCommandLong(521, 1, 0, 0, 0, 0, 0, 0, 0x0164, &output, &sequence, 0xFFBE, &stats, 5000);
    EXPECT_EQ(sequence, 11);
    EXPECT_EQ(stats.messages, 1u);
    EXPECT_EQ(stats.bytes, (u64)output.length);
    MavlinkMessage message{};
    parseMavlinkBytes(&message, slot, 0, (i32)output.length);
    ASSERT_TRUE(message.haveMessage);
    EXPECT_EQ(message.messageId, 76u);
    EXPECT_EQ(message.version, 1);
    EXPECT_EQ(mavlinkF32(message.payload), 1.0f);
    EXPECT_EQ(mavlinkU16(message.payload + 28), 521);
    EXPECT_EQ(message.payload[30], 1);
    EXPECT_EQ(message.payload[31], 0x64);
    EXPECT_EQ(message.payload[32], 0);

    // No output: nothing is written or counted.
    sendCommandLong(521, 1, 0, 0, 0, 0, 0, 0, 0x0164, nullptr, &sequence, 0xFFBE, &stats, 5000);
    EXPECT_EQ(stats.messages, 1u);

    // The flight controller's sequence: gaps are losses, and the first 256 are kept.
    MavlinkTrafficStats fc{};
    for (int i = 0; i < 300; i++) {
        u8 seq = (u8)(i + (i >= 100 ? 2 : 0));
        recordMavlinkTraffic(0x0101, seq, 33, nullptr, 0, 40, &fc, 1000000 + (u64)i * 10000);
    }
    recordMavlinkTraffic(0x0201, 77, 0, nullptr, 0, 17, &fc, 4000000);
    EXPECT_EQ(fc.lostMessages, 2u);
    EXPECT_EQ(fc.fcSequenceCount, 256);
    EXPECT_EQ(fc.fcSequence[100], 102);
    updateMavlinkTrafficRates(&fc, 1000000);
    updateMavlinkTrafficRates(&fc, 2000000);
    EXPECT_EQ(fc.messagesPerSecond, 0.0);
    recordMavlinkTraffic(0x0101, 0, 0, nullptr, 0, 17, &fc, 2500000);
    updateMavlinkTrafficRates(&fc, 3000000);
    EXPECT_DOUBLE_EQ(fc.messagesPerSecond, 1.0);
    EXPECT_DOUBLE_EQ(fc.bytesPerSecond, 17.0);
}

}  // namespace
