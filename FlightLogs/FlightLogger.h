// The flight-log writer as its producers call it. A log file ("Flight Logs/flight_log_....qvlog3") is
// the plain concatenation of entries, each
//   u8 type, u64 Unix ms, u16 payload length n, n payload bytes, u16 checksum
// (little-endian; the checksum is MAVLink's X.25 over the payload and then the type byte). Entries
// collect in a 0x80000-byte buffer that goes to the file as one append job through the file thread
// when it is full and at least once a second. Bytes that cannot be handed over (full job table, no
// memory) stay in the buffer and are tried again on the next frame; an entry is refused only when it
// cannot fit.
#pragma once
#include "Core/FixedString.h"
#include "Core/Preferences.h"
#include "Platform/FileTables.h"
#include "Platform/Input.h"

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
constexpr u32 kFlightLogBufferBytes = 0x80000;  // a power of two
constexpr i64 kFlightLogEntryHeaderBytes = 11;
constexpr i64 kFlightLogChecksumBytes = 2;
constexpr i64 kMaxFlightLogPayload = 65535;
constexpr i64 kFlightLogHeaderEntryBytes = 200;  // the whole LogHeader entry, its 11-byte header included
constexpr u64 kFlightLogFlushInterval = 1000000;  // us

// An entry that its producer keeps so that every new log starts with it.
struct FlightLogEntryRecord {
    i64 time;  // monotonic us
    ByteWriter payload;
    u32 type;
};

// The controller as last logged: the gamepad record and the 320-bit key map.
struct ControllerSnapshot {
    GamepadState gamepad;
    u64 keys[kKeyMapWords];
};

// The clocks the writer reads; a null member reads the system's (tests hand in their own).
struct FlightLogClocks {
    u64 (*microseconds)();         // monotonic us
    i64 (*utcMilliseconds)();      // ms since 1601-01-01 UTC
    i64 (*timeZoneOffsetMs)();     // local = UTC + offset
};

struct FlightLogger {
    FileJobTable* fileJobs;  // set on the first frame; no flush is queued while null
    i64 startUnixMs;         // Unix ms at log start
    i64 startMicros;         // monotonic us at log start
    u32 bufferFill;          // bytes of whole entries in entryBuffer
    i64 lastFlushMicros;     // monotonic us of the last flush that emptied the buffer
    i64 highAboveGroundSince;  // monotonic us; 0 = not set; cleared whenever logging is off
    // The open log's path; empty while not logging. This emptiness is the one test every producer
    // makes for an open log.
    FixedString logFileName;
    // The file the buffered bytes belong to: the open log's, or the last log's while its final
    // bytes wait for the file thread after logging stopped.
    FixedString bufferFileName;
    ControllerSnapshot lastControllerState;
    u32 registeredEntryCount;  // this frame's, emptied by every step of the writer
    const FlightLogEntryRecord* registeredEntries[kMaxRegisteredLogEntries];
    Preferences lastLoggedPreferences;
    FlightLogClocks clocks;
    FileJobResult lastAppend;  // the progress of the newest append job
    // Counts since the program started: entries stored (by type) and entries refused.
    u64 entries;
    u64 bytes;
    u64 entriesByType[kFlightLogEntryTypes];
    u64 refusedEntries;
    u8 entryBuffer[kFlightLogBufferBytes];
};

// Stores an entry while a log is open; does nothing with a null logger or no open log. time is the
// producer's monotonic us. A payload longer than 65,535 bytes is refused, as is an entry that does
// not fit while the buffer waits for the file thread.
void addFlightLogEntry(FlightLogger* logger, i64 time, u8 type, const void* data, i64 length);

// Registers a producer's entry for this frame: only while fewer than 128 are registered and the entry
// holds a payload. Returns 1 when it was registered.
i32 registerFlightLogEntry(FlightLogger* logger, const FlightLogEntryRecord* entry);

// Appends an entry header (type, Unix ms, a zero u16 length) and returns the mark of its length field.
LengthFieldMark writeFlightLogEntryHeader(ByteWriter* writer, i64 unixMs, u8 type);

// Copies one entry (the built header, the payload and the checksum) to buffer at *fill and advances
// *fill. The caller makes sure it fits; size is a power of two.
void appendFlightLogEntry(u8* buffer, u32 size, u32* fill, const ByteWriter* header, const void* payload,
                          i64 payloadLength);

// Hands the buffer to the file thread when an entry of these lengths would not leave a free byte in
// it (a header length of 0x80000 forces it). Returns 1 when the buffer has room for such an entry
// afterwards, 0 when the bytes are still waiting (full job table or no memory).
i32 flushFlightLogBuffer(FlightLogger* logger, i64 headerLength, i64 payloadLength);
// Hands over whatever is buffered now. Returns 1 when the buffer is empty afterwards.
i32 forceFlightLogFlush(FlightLogger* logger);

// The checksum of an entry: X.25 from 0xFFFF over the payload, then the type byte.
u16 flightLogChecksum(const void* payload, i64 length, u8 type);

// The writer's clocks, through the injected ones when set.
u64 flightLogMicroseconds(const FlightLogger* logger);
