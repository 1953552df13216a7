// The flight-log writer as its producers call it. A log file ("Flight Logs/flight_log_....qvlog3") is
// the plain concatenation of entries, each
//   u8 type, u64 Unix ms, u16 payload length n, n payload bytes, u16 checksum
// (little-endian; the checksum is MAVLink's X.25 over the payload and then the type byte). Entries
// collect in a 0x80000-byte buffer that goes to the file as one append job through the file thread
// when it is full and at least once a second.
//
// One append is out at a time, from a second buffer of the same size that holds its bytes until the
// file thread reports them written. An append goes in whole or not at all (the file thread cuts the
// file back), so the file holds whole entries only. A failed append is tried again a second later,
// first with the whole entries the disk took before it failed; meanwhile the status text reads
// "Flight log: <the file system's reason>". While the second buffer waits, new entries fill the
// first; when that is full too they are dropped whole and counted, and once an append succeeds again
// one gap entry (type 17) with their count and time span takes their place in the file.
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
    // Entries lost while the disk took nothing: u64 count, i64 Unix ms of the first and of the last.
    FlightLogGap = 17,
};

constexpr i32 kFlightLogEntryTypes = 18;
constexpr u32 kMaxRegisteredLogEntries = 128;
constexpr u32 kFlightLogBufferBytes = 0x80000;  // a power of two
constexpr i64 kFlightLogEntryHeaderBytes = 11;
constexpr i64 kFlightLogChecksumBytes = 2;
constexpr i64 kMaxFlightLogPayload = 65535;
constexpr i64 kFlightLogHeaderEntryBytes = 200;  // the whole LogHeader entry, its 11-byte header included
constexpr u64 kFlightLogFlushInterval = 1000000;  // us
constexpr u64 kFlightLogRetryInterval = 1000000;  // us between tries of a failed append
// Between checks, while no log is open, that a log could be written to "Flight Logs/".
constexpr u64 kFlightLogFolderCheckInterval = 5000000;  // us
constexpr i64 kFlightLogGapPayloadBytes = 24;
constexpr u32 kFlightLogGapEntryBytes = 11 + kFlightLogGapPayloadBytes + 2;

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
    FileJobResult lastAppend;  // the append in flight; read and reused by the main thread alone
    // Counts since the program started: entries stored (by type), entries refused (too long, or
    // dropped while the disk took nothing), failed appends.
    u64 entries;
    u64 bytes;
    u64 entriesByType[kFlightLogEntryTypes];
    u64 refusedEntries;
    u64 failedAppends;
    // The append buffer: whole entries of appendFileName waiting for the file thread. appendOut is
    // the count of them handed to the append in flight (0: none out); appendRetrySize, after a
    // failure, the whole entries the disk took before it failed, which go first.
    u32 appendFill;
    u32 appendOut;
    u32 appendRetrySize;
    i64 appendRetryAt;  // monotonic us
    FixedString appendFileName;
    // Entries dropped since the disk last took bytes: their count and Unix ms span. While any are
    // counted no entry is stored, so that the gap entry stands where they would have.
    u64 gapEntries;
    i64 gapFirstMs;
    i64 gapLastMs;
    // "Flight log: <reason>" while the log cannot be written (a failed append, or, while no log is
    // open, the folder check); empty otherwise. failureAnnounced is set by whoever sounded the
    // warning for it and cleared with the text.
    FixedString writeFailure;
    u32 failureAnnounced;
    u32 folderCheckOut;
    i64 nextFolderCheck;  // monotonic us
    FileJobResult folderCheck;
    u8 entryBuffer[kFlightLogBufferBytes];
    u8 appendBuffer[kFlightLogBufferBytes];
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
// afterwards, 0 when the bytes are still waiting (the append before them not yet written, or a full
// job table).
i32 flushFlightLogBuffer(FlightLogger* logger, i64 headerLength, i64 payloadLength);
// Hands over whatever is buffered now. Returns 1 when the buffer is empty afterwards.
i32 forceFlightLogFlush(FlightLogger* logger);
// Takes the outcome of the append in flight once the file thread has finished it, and queues the
// append buffer's bytes again when they wait (a failure a second ago, or the part the last append
// did not take).
void stepFlightLogAppends(FlightLogger* logger);
// Gives up what the entry buffer holds (counted as refused) and any gap not yet written: a new log
// needs the buffer, and those entries belong to the last one.
void discardFlightLogBuffer(FlightLogger* logger);
// While no log is open (and no append waits), checks every 5 s through the file thread that a log
// could be written to "Flight Logs/", so that a folder that cannot take one is told before the
// flight rather than at its first flush.
void checkFlightLogFolder(FlightLogger* logger);
// At the program's end: queues everything buffered (the append buffer's bytes, the gap entry, the
// entry buffer's bytes) for the file thread, which finishes them before the program ends. The
// buffers stay the file thread's from then on.
void finishFlightLogger(FlightLogger* logger);

// The checksum of an entry: X.25 from 0xFFFF over the payload, then the type byte.
u16 flightLogChecksum(const void* payload, i64 length, u8 type);

// The writer's clocks, through the injected ones when set.
u64 flightLogMicroseconds(const FlightLogger* logger);
