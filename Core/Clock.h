// The program's clocks.
#pragma once
#include "Core/Types.h"

// Monotonic microseconds since the program started.
u64 getMicroseconds();
// UTC milliseconds since 1601-01-01 00:00:00.000.
i64 currentTimeMilliseconds();
// The local time zone's offset from UTC in milliseconds (local = UTC + offset).
i64 getTimeZoneOffsetMs();
// The same offset at a given instant (UTC milliseconds since 1601-01-01), as the zone's rules had it
// then: daylight saving of that date included.
i64 timeZoneOffsetMsAt(i64 utcMilliseconds);

// Milliseconds between 1601-01-01 and 1970-01-01 (flight logs store Unix milliseconds).
constexpr i64 kUnixEpochIn1601Milliseconds = 11644473600000LL;
