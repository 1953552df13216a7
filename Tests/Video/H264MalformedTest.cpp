// Payloads and parameter sets that lie about their lengths or counts: nothing is read or written
// outside them, and the next good unit is handled normally.
#include <gtest/gtest.h>

#include <list>

#include "Video/H264Stream.h"

namespace {

std::vector<u8> bytesOf(H264NalUnit unit) { return std::vector<u8>(unit.bytes, unit.bytes + unit.length); }

TEST(H264Depacketiser, FragmentsTooShortForTheirHeaderAreDroppedAndTheUnitAfterThemComesWhole) {
    auto state = std::make_unique<H264StreamState>();
    // Each packet in a buffer of its own size behind a 12-byte header, so that ASan sees any read
    // past it.
    std::list<std::vector<u8>> packets;
    auto convert = [&](std::vector<u8> payload, u16 sequence) {
        std::vector<u8>& packet = packets.emplace_back(12);
        packet.insert(packet.end(), payload.begin(), payload.end());
        return convertPacketTransportNalUnit(packet.data(), 12, (i64)packet.size(), state.get(), sequence);
    };
    EXPECT_EQ(convert({0x7C}, 1).length, 0);              // FU-A without its FU header
    EXPECT_EQ(convert({0x7D, 0x85, 0x00}, 2).length, 0);  // FU-B without its decoding order number
    EXPECT_EQ(convert({0x7C, 0x85, 0xAA}, 3).length, 0);  // start of an IDR slice
    EXPECT_EQ(convert({0x7C, 0x05}, 4).length, 0);        // an empty middle fragment
    std::vector<u8> unit = bytesOf(convert({0x7C, 0x45, 0xBB}, 5));
    EXPECT_EQ(unit, (std::vector<u8>{0, 0, 0, 1, 0x65, 0xAA, 0xBB}));

    // STAP-A whose second size runs past the payload: the first unit only.
    unit = bytesOf(convert({0x18, 0x00, 0x02, 0x67, 0x42, 0x00, 0x09, 0x68}, 6));
    EXPECT_EQ(unit, (std::vector<u8>{0, 0, 0, 1, 0x67, 0x42}));
    // MTAP16 gives nothing; so does an empty payload.
    EXPECT_EQ(convert({0x1A, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x67, 0x42}, 7).length, 0);
    EXPECT_EQ(convert({}, 8).length, 0);

    // A single unit with only one byte in front of it is copied instead of written in place.
    std::vector<u8> packet = {0xEE, 0x65, 0x01, 0x02};
    unit = bytesOf(convertPacketTransportNalUnit(packet.data(), 1, 4, state.get(), 9));
    EXPECT_EQ(unit, (std::vector<u8>{0, 0, 0, 1, 0x65, 0x01, 0x02}));
    EXPECT_EQ(packet[0], 0xEE);
}

TEST(H264Depacketiser, UnitTooLargeForTheFragmentBufferIsDroppedWholeAndCountedNeverCut) {
    auto state = std::make_unique<H264StreamState>();
    std::vector<u8> packet(12 + 2 + 1400, 0x5A);
    auto fragment = [&](u8 fuHeader, u16 sequence) {
        packet[12] = 0x7C;  // FU-A, NRI 3
        packet[13] = fuHeader;
        return convertPacketTransportNalUnit(packet.data(), 12, (i64)packet.size(), state.get(), sequence);
    };
    u16 sequence = 0;
    EXPECT_EQ(fragment(0x85, sequence++).length, 0);
    for (i64 collected = 1400; collected <= kH264FragmentCapacity; collected += 1400) {
        EXPECT_EQ(fragment(0x05, sequence++).length, 0);
    }
    EXPECT_EQ(fragment(0x45, sequence++).length, 0);  // its end: nothing comes out
    EXPECT_EQ(state->unitsTooLarge, 1u);
    EXPECT_EQ(state->lossPending, 1u);
    // The next unit comes whole.
    EXPECT_EQ(fragment(0x85, sequence++).length, 0);
    EXPECT_EQ(fragment(0x41, sequence++).length, 5 + 2 * 1400);
    EXPECT_EQ(state->unitsTooLarge, 1u);
}

// Writes bits most significant first, for parameter sets made by hand.
struct BitWriter {
    std::vector<u8> bytes;
    int bits = 0;
    void put(u64 value, int n) {
        for (int i = n - 1; i >= 0; --i) {
            if (bits % 8 == 0) bytes.push_back(0);
            bytes.back() |= (u8)(((value >> i) & 1) << (7 - bits % 8));
            ++bits;
        }
    }
    void ue(u64 value) {
        int zeros = 0;
        while (((value + 1) >> (zeros + 1)) != 0) ++zeros;
        put(0, zeros);
        put(value + 1, zeros + 1);
    }
};

TEST(H264Sps, CountsAndCodesLongerThanTheDataEndWithIt) {
    // A baseline SPS whose picture-order cycle claims 2^32 - 2 entries and stops there.
    BitWriter w;
    w.bytes = {0, 0, 0, 1, 0x67};
    w.bits = 40;
    w.put(66, 8);
    w.put(0, 16);
    w.ue(0);           // seq_parameter_set_id
    w.ue(0);           // log2_max_frame_num_minus4
    w.ue(1);           // pic_order_cnt_type
    w.put(0, 1);
    w.ue(0);
    w.ue(0);
    w.ue(0xFFFFFFFEull);  // num_ref_frames_in_pic_order_cnt_cycle
    auto state = std::make_unique<H264StreamState>();
    H264NalUnit unit{w.bytes.data(), (i64)w.bytes.size()};
    parseSequenceParameterSet(unit, state.get());
    EXPECT_EQ(state->spsSeen, 1u);

    // A high-profile SPS that announces scaling lists and ends.
    std::vector<u8> scaling = {0, 0, 0, 1, 0x67, 100, 0, 40, 0xAD, 0xFF};
    parseSequenceParameterSet(H264NalUnit{scaling.data(), (i64)scaling.size()}, state.get());

    // An Exp-Golomb code with a prefix longer than any valid one, and one cut short.
    std::vector<u8> zeros(8, 0);
    BitReader r{zeros.data(), 64, 0};
    EXPECT_EQ(readExpGolomb(&r), 0u);
    EXPECT_EQ(r.bitPosition, 64u);
    u8 cut[1] = {0x01};  // seven zeros, a one, no suffix
    r = BitReader{cut, 8, 0};
    EXPECT_EQ(readExpGolomb(&r), 0u);
    EXPECT_EQ(r.bitPosition, 8u);
    // A read past the end gives 0 and does not move.
    u8 one[1] = {0xA5};
    r = BitReader{one, 8, 3};
    EXPECT_EQ(readBits(&r, 6), 0u);
    EXPECT_EQ(r.bitPosition, 3u);
    EXPECT_EQ(readBits(&r, 5), 0x05u);
}

}  // namespace
