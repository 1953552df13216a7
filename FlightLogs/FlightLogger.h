// The flight logger as its producers call it. For now an open log only counts its entries; the log
// file writer replaces this.
#pragma once
#include "Core/FixedString.h"

struct FileJobTable;

enum FlightLogEntryType : u8 {
    FlightLogReceivedFromDrone = 1,
    FlightLogReceivedFromCamera = 2,
    FlightLogSentToDrone = 3,
    FlightLogSentToCamera = 4,
    FlightLogWithheldToDrone = 5,
    FlightLogWithheldToCamera = 6,
    FlightLogHeader = 7,
    FlightLogStartedMission = 8,
    FlightLogGeofenceChanged = 9,
    FlightLogAugmentedPosition = 10,
    FlightLogButtonReleased = 11,
    FlightLogButtonPressed = 12,
    FlightLogControllerName = 13,
    FlightLogVideoStreamStatus = 14,
    FlightLogPreferenceValue = 15,
    FlightLogControllerAxes = 16,
};

constexpr i32 kFlightLogEntryTypes = 17;
constexpr u32 kMaxRegisteredLogEntries = 128;

// An entry that its producer keeps so that every new log starts with it.
struct FlightLogEntryRecord {
    i64 time;  // monotonic us
    ByteWriter payload;
    u32 type;
};

struct FlightLogger {
    FileJobTable* fileJobs;  // set on the first frame
    u32 open;
    u64 entries;
    u64 bytes;
    u64 entriesByType[kFlightLogEntryTypes];
    i64 highAboveGroundSince;  // monotonic us; 0 = not set; cleared whenever logging is off
    u32 registeredEntryCount;  // this frame's, emptied by every step of the writer
    const FlightLogEntryRecord* registeredEntries[kMaxRegisteredLogEntries];
};

// Stores an entry while a log is open; does nothing otherwise.
void addFlightLogEntry(FlightLogger* logger, u64 time, u8 type, const void* data, i64 length);

// Registers a producer's entry for this frame: only while fewer than 128 are registered and the entry
// holds a payload. Returns 1 when it was registered.
i32 registerFlightLogEntry(FlightLogger* logger, const FlightLogEntryRecord* entry);
