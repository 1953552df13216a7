// CRC-32 and Adler-32 against zlib's, whole and fed in pieces.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "Decoders/Checksum.h"

TEST(Checksum, KnownValues) {
    const u8 text[] = "123456789";
    EXPECT_EQ(crc32(text, 9), 0xCBF43926u);
    EXPECT_EQ(updateAdler32(kAdler32Initial, text, 9), 0x091E01DEu);
    EXPECT_EQ(crc32(nullptr, 0), 0u);
    EXPECT_EQ(updateAdler32(kAdler32Initial, nullptr, 0), 1u);
    const u8 iend[] = {'I', 'E', 'N', 'D'};
    EXPECT_EQ(crc32(iend, 4), 0xAE426082u);
}

TEST(Checksum, MatchesZlibOverRandomPieces) {
    std::mt19937 random(7);
    std::vector<u8> data(200000);
    for (u8& byte : data) byte = u8(random() % 7 == 0 ? 255 : random());
    for (size_t size : {size_t(1), size_t(7), size_t(8), size_t(9), size_t(63), size_t(64), size_t(65), size_t(129), size_t(5552), size_t(5553), size_t(65536), data.size()}) {
        EXPECT_EQ(crc32(data.data(), i64(size)), u32(::crc32(0, data.data(), uInt(size)))) << size;
        EXPECT_EQ(finishCrc32(updateCrc32Tables(kCrc32Initial, data.data(), i64(size))),
                  u32(::crc32(0, data.data(), uInt(size))))
            << size;
        EXPECT_EQ(updateAdler32(kAdler32Initial, data.data(), i64(size)), u32(::adler32(1, data.data(), uInt(size))))
            << size;
    }
    // All bytes 255: the largest sums the deferred modulo must hold.
    std::vector<u8> full(3 * 5552 + 21, 255);
    EXPECT_EQ(updateAdler32(kAdler32Initial, full.data(), i64(full.size())),
              u32(::adler32(1, full.data(), uInt(full.size()))));
    EXPECT_EQ(updateAdler32(0xFFF0FFF0u, full.data(), i64(full.size())),
              u32(::adler32(0xFFF0FFF0u, full.data(), uInt(full.size()))));
    u32 crc = kCrc32Initial;
    u32 adler = kAdler32Initial;
    for (size_t at = 0; at < data.size();) {
        size_t piece = std::min<size_t>(random() % 20000, data.size() - at);
        crc = updateCrc32(crc, data.data() + at, i64(piece));
        adler = updateAdler32(adler, data.data() + at, i64(piece));
        at += piece;
    }
    EXPECT_EQ(finishCrc32(crc), u32(::crc32(0, data.data(), uInt(data.size()))));
    EXPECT_EQ(adler, u32(::adler32(1, data.data(), uInt(data.size()))));
}
