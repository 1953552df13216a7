// The flight logger as its producers call it. For now an open log only counts its entries; the log
// file writer replaces this.
#pragma once
#include "Core/Types.h"

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

struct FlightLogger {
    u32 open;
    u64 entries;
    u64 bytes;
    u64 entriesByType[kFlightLogEntryTypes];
};

// Stores an entry while a log is open; does nothing otherwise.
void addFlightLogEntry(FlightLogger* logger, u64 time, u8 type, const void* data, i64 length);
