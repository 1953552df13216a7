// The flight-log reader: finds the valid entries of a log read whole into memory, over damaged bytes
// too, and turns the log's buffer in place into an index sorted by time that the log list, the
// replay and the flight-log viewer use.
#pragma once
#include "Core/FixedString.h"

// One entry found by the scanner; payload is null when no further entry was found.
struct FlightLogEntryScan {
    i64 skipped;  // bytes passed over before the entry (or up to the end)
    i64 offset;   // of the entry's type byte
    i64 time;     // Unix ms
    u8 type;
    u16 length;
    const u8* payload;
};

// Within this many ms of the previous accepted time a candidate entry must lie while the scanner
// resynchronises after damaged bytes.
constexpr i64 kFlightLogResyncWindowMs = 86400000;
// The time base lies this far before the first entry, so entries up to 20 days older still fit.
constexpr i64 kFlightLogTimeBaseLeadMs = 1728000000;
constexpr i64 kMaxFlightLogIndexEntries = 330382099;  // 13 bytes each within a u32 size

// The next valid entry from *position: an entry (u8 type, u64 Unix ms, u16 length n, n bytes, u16
// checksum) whose checksum over payload and type matches and which ends within the data. After a
// candidate fails the scanner moves one byte on; while it does so, a candidate whose time lies more
// than a day from *previousTime (when that is not 0) is refused. *position moves past the entry, or
// to end; *previousTime becomes the entry's time.
FlightLogEntryScan nextFlightLogEntry(const u8* bytes, i64* position, i64 end, i64* previousTime);

// The index of a log, built inside the log's own buffer. Entry i has time timeBase + entryTimes[i],
// type entryTypes[i], payload payloadData + (entryRefs[i] >> 16) of length entryRefs[i] & 0xFFFF.
// Entries before firstSortedEntry (the start block up to and with the first header, type 7) keep
// file order; the rest are sorted by time, equal times in file order.
struct FlightLogIndex {
    FixedString error;  // empty on success; the other fields are then zero
    i64 skippedBytes;   // bytes that belong to no indexed entry
    i64 timeBase;       // Unix ms: the first entry's time - 20 days
    i64 entryCount;
    i64 firstSortedEntry;  // 1 + the file position of the first header, 0 without one
    i64 startTime;         // Unix ms: the first header's time, else the first entry's (0 below 2 entries)
    i64 endTime;           // Unix ms: the last entry's time (0 below 2 entries)
    i64 timeShiftMs;       // the header's local time shift
    u8* payloadData;
    u32* entryTimes;
    u64* entryRefs;
    u8* entryTypes;
    i64 usedBytes;  // 13 x entryCount + payload bytes: the front of the buffer the index occupies
    u16 logVersion;
};

// Builds the index of the log in bytes (which must start on an 8-byte boundary) and rewrites the
// buffer: entryRefs, entryTimes, entryTypes, then the payloads packed in file order. An entry whose
// time does not fit the index's 32-bit ms window from the time base is passed over and counted as
// skipped bytes. Failures are the index's error.
FlightLogIndex optimizeFlightLogFile(u8* bytes, i64 length);

// The entry's time, payload and length.
inline i64 flightLogEntryTime(const FlightLogIndex* index, i64 entry) {
    return static_cast<i64>(static_cast<u64>(index->timeBase) + index->entryTimes[entry]);
}
inline const u8* flightLogEntryPayload(const FlightLogIndex* index, i64 entry) {
    return index->payloadData + (index->entryRefs[entry] >> 16);
}
inline u16 flightLogEntryLength(const FlightLogIndex* index, i64 entry) {
    return static_cast<u16>(index->entryRefs[entry] & 0xFFFF);
}
