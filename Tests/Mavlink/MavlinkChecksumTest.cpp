// The X.25 checksum of MAVLink frames and flight-log entries, whichever way it is worked out (eight
// table lookups per 8 bytes, or carry-less products over runs of 16-byte blocks on processors that
// have them), against the bit-by-bit definition of MAVLink's reference implementation, for every
// length up to a few hundred bytes at every alignment.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "Mavlink/Mavlink.h"

namespace {

u16 referenceStep(u16 crc, u8 byte) {
    u8 tmp = (u8)(byte ^ (u8)(crc & 0xFF));
    tmp = (u8)(tmp ^ (u8)(tmp << 4));
    return (u16)((crc >> 8) ^ ((u16)tmp << 8) ^ ((u16)tmp << 3) ^ (tmp >> 4));
}

TEST(MavlinkChecksum, EveryLengthAndAlignmentAgreesWithTheBitwiseDefinition) {
    std::mt19937 random(68);
    std::vector<u8> bytes(1024 + 64);
    for (u8& b : bytes) b = (u8)random();
    for (i64 length = 0; length <= 1024; length += length < 300 ? 1 : 37) {
        for (i64 offset = 0; offset < 16; offset++) {
            u8 extra = (u8)random();
            u16 expected = 0xFFFF;
            for (i64 i = 0; i < length; i++) expected = referenceStep(expected, bytes[(size_t)(offset + i)]);
            expected = referenceStep(expected, extra);
            ASSERT_EQ(mavlinkCrc16(bytes.data(), offset, offset + length, extra), expected) << length << " " << offset;
        }
    }
    for (u32 crc = 0; crc < 0x10000; crc += 97) {
        for (u32 byte = 0; byte < 256; byte += 5) {
            ASSERT_EQ(mavlinkCrcAccumulate((u16)crc, (u8)byte), referenceStep((u16)crc, (u8)byte));
        }
    }
}

}  // namespace
