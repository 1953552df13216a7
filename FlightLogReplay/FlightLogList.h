// The flight-log list: the logs of "Flight Logs" known to the app, each with a one-line summary. It
// lists the folder at most every 5 s, reads the logs the Flight Logs screen shows one at a time,
// indexes and replays each in a background job (parseFlightLogJob) and keeps the log chosen for
// viewing loaded (bytes, index, parse record) until another is chosen. Replay drives the same records
// the live drone link fills, so it sits above the drone link.
#pragma once
#include "Mavlink/VehicleState.h"
#include "FlightLogReplay/FlightLogReplay.h"
#include "Mission/MissionSteps.h"

struct FileReadRequest;
struct FileReadTable;
struct JobQueue;
struct ImageSlotTable;

constexpr u32 kMaxFlightLogListEntries = 64;
constexpr u64 kMaxFlightLogBytes = 300000000;
constexpr i64 kFlightLogListingPeriodMicros = 5000000;
// A log whose read failed is kept this long after the failure even when it left the folder; a
// chosen log that failed is not asked for again before it has passed.
constexpr i64 kFlightLogRetryMicros = 2000000;

enum FlightLogParseState : u32 {
    FlightLogParseNone = 0,
    FlightLogParsing = 1,  // the job owns the parse record and the log's bytes
    FlightLogParseDone = 2,
};

// One known log.
struct FlightLogListEntry {
    i64 lastShownTime;  // monotonic us, set while the log's row is visible; 0 when cleared
    u64 modifiedTime;
    FixedString fileName;
    FixedString summary;
    i64 keepUntil;  // monotonic us
    u32 imageId;    // 0: none
};

struct FlightLogList {
    // The parse record of parseFlightLogJob.
    FlightLogReplay parseReplay;
    i64 listingTime;  // monotonic us of the last finished listing, 0 while one is pending
    FixedString nextLogToRead;
    FixedString wantedLog;
    FileReadRequest* currentListing;
    FileReadRequest* pendingListing;
    FileReadRequest* logRequest;  // the log being read, parsed or kept
    u32 parseState;      // FlightLogParseState; the job stores 2 with release order
    u32 extensionFound;  // 1 when the job found the ".qvlog3" extension
    FlightLogIndex index;
    u32 ignitionSpheres;
    u32 photos;
    u32 videos;
    u64 occupied;  // bit i: entries[i] is in use
    FlightLogListEntry entries[kMaxFlightLogListEntries];
    FixedString logName;  // the file name of logRequest, also when the table had no slot for it
    // The chosen log that last failed to read or was not a log, and when it may be asked for again.
    FixedString failedWantedLog;
    i64 wantedRetryTime;  // monotonic us
};

// The per-frame step, after the flight-log writer; now in monotonic microseconds. Freeing an entry
// with an image marks that image for release in slots (may be null while no entry has one).
void updateFlightLogList(FlightLogList* list, FileReadTable* reads, JobQueue* jobQueue, ImageSlotTable* slots,
                         i64 now);

// The entry of a log name, or null.
FlightLogListEntry* findFlightLogEntry(FlightLogList* list, const FixedString* name);

// The summary of a parsed log without index error: skipped bytes, duration and counts.
FixedString flightLogSummary(const FlightLogIndex* index, u32 ignitionSpheres, u32 photos, u32 videos);

// Indexes the log of list->logRequest (whose data must start on an 8-byte boundary) and replays it
// to count ignition spheres, photos and videos; ends by storing FlightLogParseDone in parseState with
// release order. A job of the job ring: the argument is the FlightLogList.
i64 parseFlightLogJob(void* argument);

// The parse state as the main thread reads it (acquire order: once it reads 2, the job's results
// are all visible).
u32 flightLogParseState(const FlightLogList* list);

// What the camera of a replayed connection shows, by its kind: kind 1 has one recording flag for
// both sensors, kind 2 (NextVision) a visible and a thermal flag, kind 3 (camera protocol) a visible
// one; the camera's last status time (0 before its first status) and the elapsed recording time it
// reported (kinds 1 and 3); and its photo counter (captures and NextVision snapshot reports).
struct ReplayCameraState {
    u32 kind;
    u32 recording;  // either flag
    u32 photos;
    u32 visible;
    u32 thermal;
    u64 statusTime;
    i64 elapsedMs;
};
ReplayCameraState replayCameraState(const DroneConnection* connection);

// The video count's step after one replayed entry: a recording counts once, when it stops or, if it
// is still running, when the last entry has been replayed. Returns 1 when a video ends here.
u32 videoEndsAfterEntry(u32 wasRecording, u32 recording, i64 entriesLeft);
