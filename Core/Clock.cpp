#include "Core/Clock.h"

#include <chrono>
#include <ctime>

namespace {
const auto programStart = std::chrono::steady_clock::now();
}

u64 getMicroseconds() {
    auto elapsed = std::chrono::steady_clock::now() - programStart;
    return (u64)std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
}

i64 currentTimeMilliseconds() {
    auto sinceUnix = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(sinceUnix).count() + kUnixEpochIn1601Milliseconds;
}

i64 getTimeZoneOffsetMs() {
    // Break the current instant down as UTC, read that breakdown back as local time: the difference
    // is the zone's offset, daylight saving included.
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    std::tm local{};
#if defined(_WIN32)
    gmtime_s(&utc, &now);
    localtime_s(&local, &now);
#else
    gmtime_r(&now, &utc);
    localtime_r(&now, &local);
#endif
    utc.tm_isdst = local.tm_isdst;
    std::time_t utcAsLocal = std::mktime(&utc);
    return (i64)std::difftime(now, utcAsLocal) * 1000;
}
