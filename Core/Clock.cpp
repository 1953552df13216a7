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
    // The zone's offset east of UTC at this instant, daylight saving included.
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local)) return 0;
    return (i64)local.tm_gmtoff * 1000;
}

i64 timeZoneOffsetMsAt(i64 utcMilliseconds) {
    i64 unixMilliseconds = utcMilliseconds - kUnixEpochIn1601Milliseconds;
    std::time_t at = (std::time_t)(unixMilliseconds >= 0 ? unixMilliseconds / 1000 : -((-unixMilliseconds + 999) / 1000));
    std::tm local{};
    if (!localtime_r(&at, &local)) return 0;
    return (i64)local.tm_gmtoff * 1000;
}
