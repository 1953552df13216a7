// The flight-log list: the logs of "Flight Logs" known to the app, each with a one-line summary. It
// lists the folder at most every 5 s, reads the logs the Flight Logs screen shows one at a time,
// indexes and replays each in a background job (parseFlightLogJob) and keeps the log chosen for
// viewing loaded (bytes, index, parse record, overview) until another is chosen. Replay drives the
// same records the live drone link fills, so it sits above the drone link.
#pragma once
#include "Mavlink/VehicleState.h"
#include "FlightLogReplay/FlightLogOverview.h"
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
    FlightLogParsing = 1,  // the job owns the parse record, the overview and the log's bytes
    FlightLogParseDone = 2,
    FlightLogParsePaused = 3,  // the job let other jobs of the ring go first; queued again next frame
};

// Entries the parse job replays between two looks at its cancel flag and at the ring.
constexpr i64 kParseSliceEntries = 16384;

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

    // The parse job in slices. It owns these while the parse state is 1.
    const JobQueue* parseQueue;  // the job gives up its turn while other jobs wait here; null: runs whole
    u32 parsePhase;       // 0: the log is still to be indexed; 1: the pass over it runs
    u32 parsePercent;     // how far the job is, written by it
    u32 cancelParse;      // set by the list: the job stops at its next slice
    u32 parseCancelled;   // the job stopped before the end
    u32 parseForWanted;   // the log was chosen for viewing when the parse started or since
    FlightLogOverviewPass parsePass;
    FlightLogOverview overview;
    // Every index the job builds gets a new generation; the overview belongs to the index of its
    // generation (0: to none).
    u64 indexGeneration;
    u64 overviewGeneration;
    u32 logInUse;  // 1 while something else (an export) reads the kept log: it is not released before
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
// once (the overview pass) to count ignition spheres, photos and videos and to fill the overview;
// ends by storing FlightLogParseDone in parseState with release order. A job of the job ring: the
// argument is the FlightLogList. Between slices of kParseSliceEntries it stops when cancelParse is
// set (parseCancelled then 1, done), and, with a parseQueue, when other jobs wait in it (parse state
// FlightLogParsePaused; the list queues it again and it goes on where it was).
i64 parseFlightLogJob(void* argument);

// The parse state as the main thread reads it (acquire order: once it reads 2 or 3, the job's
// results are all visible and the job no longer runs).
u32 flightLogParseState(const FlightLogList* list);

// The overview of the list's index when the last parse finished it; null otherwise (also while the
// index was set by other means).
const FlightLogOverview* flightLogOverviewOf(const FlightLogList* list);
