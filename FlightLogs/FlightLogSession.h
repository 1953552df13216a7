// The flight-log writer's per-frame step: opens a log when logging turns on (the start block, then
// the header entry), logs changed preferences, flushes at least once a second and closes the log when
// logging turns off. The replay of a log lives in FlightLogReplay/, above the drone link.
#pragma once
#include "FlightLogs/FlightLogger.h"

struct Platform;

// logging: the in-flight decision or "Record flight log now"; preferencesChanged: the preferences may
// have changed this frame. The registered entries are emptied after every call.
void updateFlightLogger(FlightLogger* logger, const u8* installationId, Platform* platform,
                        const Preferences* preferences, i32 logging, u32 preferencesChanged);

// "Flight Logs/flight_log_Y_M_D_H_MM_SS.qvlog3" from a local time in ms since 1601-01-01.
FixedString flightLogFileName(i64 localMilliseconds);

// The LogHeader entry, whole (entry header, payload, no checksum), into a writer of 200 bytes: a
// field that does not fit whole is left out with everything after it.
void writeFlightLogHeaderEntry(ByteWriter* writer, i64 startUnixMs, i64 timeZoneOffsetMs, const u8* installationId,
                               const Platform* platform);
