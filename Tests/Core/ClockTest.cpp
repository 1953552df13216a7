#include "Core/Clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

TEST(Clock, MonotonicMicrosecondsNeverGoBack) {
    u64 previous = getMicroseconds();
    for (int i = 0; i < 1000; i++) {
        u64 now = getMicroseconds();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

TEST(Clock, UtcMillisecondsCountFrom1601) {
    i64 unixMs = (i64)std::time(nullptr) * 1000;
    i64 ms = currentTimeMilliseconds();
    EXPECT_NEAR((double)(ms - kUnixEpochIn1601Milliseconds), (double)unixMs, 2000.0);
}

TEST(Clock, TimeZoneOffsetFollowsTz) {
    const char* saved = std::getenv("TZ");
    std::string previous = saved ? saved : "";
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(getTimeZoneOffsetMs(), 0);
    setenv("TZ", "Etc/GMT-3", 1);  // POSIX sign: three hours east of Greenwich
    tzset();
    EXPECT_EQ(getTimeZoneOffsetMs(), 3 * 3600 * 1000);
    setenv("TZ", "America/Denver", 1);
    tzset();
    i64 denver = getTimeZoneOffsetMs();
    EXPECT_TRUE(denver == -7 * 3600 * 1000 || denver == -6 * 3600 * 1000);
    setenv("TZ", "Asia/Kolkata", 1);  // half an hour off the whole hours, no daylight saving
    tzset();
    EXPECT_EQ(getTimeZoneOffsetMs(), (5 * 60 + 30) * 60 * 1000);
    if (saved) setenv("TZ", previous.c_str(), 1); else unsetenv("TZ");
    tzset();
}
