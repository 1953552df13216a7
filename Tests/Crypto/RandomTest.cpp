// The system's random generator as the keys and IVs draw from it: long requests are filled whole
// and a generator that fails is reported instead of leaving the buffer to be used.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "Platform/Random.h"

namespace {

TEST(Random, LongRequestsAreFilledWhole) {
    // Past 256 bytes the request is read in parts; every part must arrive. A 64-byte run of zeros
    // from a working generator has a chance of 2^-512.
    for (i64 count : {1, 32, 255, 256, 257, 1000, 4096}) {
        std::vector<u8> bytes((size_t)count + 1, 0);
        bytes[(size_t)count] = 0xA5;  // the byte after the request is left alone
        ASSERT_EQ(getRandomBytes(bytes.data(), count), 0) << count;
        EXPECT_EQ(bytes[(size_t)count], 0xA5);
        for (i64 start = 0; start + 64 <= count; start += 64) {
            bool allZero = true;
            for (i64 i = start; i < start + 64; i++) allZero &= bytes[(size_t)i] == 0;
            EXPECT_FALSE(allZero) << count << " at " << start;
        }
    }
    u8 untouched = 0x5A;
    EXPECT_EQ(getRandomBytes(&untouched, 0), 0);
    EXPECT_EQ(untouched, 0x5A);
}

TEST(Random, FailingGeneratorIsReported) {
    // The kernel refuses to write into a read-only page, as it would refuse any failing request.
    long pageSize = sysconf(_SC_PAGESIZE);
    void* page = mmap(nullptr, (size_t)pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(page, MAP_FAILED);
    EXPECT_EQ(getRandomBytes((u8*)page, 32), 1);
    munmap(page, (size_t)pageSize);
}

}  // namespace
