// The flight-log exports: the photo-info and full-motion-video CSV tables and the flight-path GPX
// documents of an open log. Each export is a walk that replays the log from its start through the
// caller's replay record and appends its text to a ByteWriter; it can stop after any replayed entry
// and go on later, and written in one go or in parts it writes the same bytes. The writers below run
// a walk whole; run once with a measuring writer and once into a buffer of exactly that length, they
// write the same bytes. queueFlightLogExport does both and hands the buffer to the file thread as one
// write job; FlightLogExportJob.h writes a long log's export in slices on the job ring.
#pragma once
#include "Core/GeometryTypes.h"
#include "FlightLogReplay/FlightLogReplay.h"
#include "Mavlink/Mavlink.h"
#include "Platform/FileTables.h"

// A video recording that the pass over the whole log found.
struct FlightLogRecording {
    i64 start;   // Unix ms
    i64 length;  // ms
    u8 visible;  // made by the visible sensor
    u8 thermal;  // made by the thermal sensor
    u8 mslPilotGap;  // some AugmentedPosition entry during it had no MSL altitude from the takeoff elevation
    u8 mslDemGap;    // ... no MSL altitude from the elevation map
};

// The elevation written for each point of a flight-path GPX, in the order of the export rows.
enum FlightPathElevation : u32 {
    FlightPathGpsAltitude = 0,
    FlightPathAboveTakeoff = 1,
    FlightPathAboveGround = 2,
    FlightPathMslFromElevationMap = 3,
    FlightPathMslFromTakeoffElevation = 4,
    kFlightPathVariants = 5,
};

// The export a row of the Export panel last queued; shared by every row.
struct FlightLogExportStatus {
    i64 exportStartMicros;  // when the last export was queued
    i32 exportNumber;       // its row number, 0 before any
    FixedString exportPath;
};

// The message id of a recorded datagram's first frame (bytes 7 to 9 of a MAVLink 2 frame, byte 5 of
// a MAVLink 1 frame); -1 when the datagram is too short to hold it.
i64 datagramFirstMessageId(const u8* payload, i64 length);

// The open log's file name less its ".qvlog3" (its last 7 characters).
FixedString flightLogExportName(FixedString logFileName);

// "Exported Photo Info/NAME_photo_info.csv".
FixedString photoInfoCsvPath(FixedString exportName);
// "Exported FMV Metadata/NAME_fmv_S_L[_vis|_ir]" less ".csv" / "_timeshift.csv"; S and L in seconds.
FixedString fmvCsvBase(FixedString exportName, i64 logStartTime, const FlightLogRecording* recording);
// "Flight Logs GPX/NAME.gpx" and its four twins.
FixedString flightPathGpxPath(FixedString exportName, u32 variant);

// The photo-info table: a row at every photo the cameras or the payload's mapping kit took, between
// track rows more than 100 ms apart, to the last datagram of the log.
void writePhotoInfoCsv(ByteWriter* out, const FlightLogIndex* index, FlightLogReplay* replay, i64 lastDatagramEntry,
                       const ReplayElevation* elevation);

struct FmvCsvResult {
    i64 rowsWritten;
    i64 firstRowTime;  // Unix ms; 0 when no row was written
};
// The video metadata of one recording: a row whenever the gimbal's attitude changes or a position
// arrives, from the recording's start to its end.
FmvCsvResult writeFmvCsv(ByteWriter* out, const FlightLogIndex* index, FlightLogReplay* replay,
                         const FlightLogRecording* recording, const ReplayElevation* elevation);
// The time-shift table that goes beside an FMV table whose first row is not at the recording's start.
void writeFmvTimeShift(ByteWriter* out, i64 recordingStart, i64 firstRowTime);

// The flight path as GPX 1.1: one waypoint per payload drop, then the track of AugmentedPosition
// entries, with the chosen elevation.
void writeFlightPathGpx(ByteWriter* out, const FlightLogIndex* index, FlightLogReplay* replay, u32 variant,
                        FixedString exportName, const ReplayElevation* ground);

// ---------------------------------------------------------------------------------------------------
// The exports as walks.

enum FlightLogExportKind : u32 {
    ExportKindPhotoInfo = 1,
    ExportKindFmv = 2,
    ExportKindFlightPath = 3,
};

// A payload's photo count that rises by more adds at most this many photos.
constexpr i32 kMaxPayloadPhotosPerJump = 5;

// A photo row still to be written: its time and its name, an offset into the walk's message payload
// (-1: none) or a payload photo's number (-1: none).
struct PendingPhoto {
    i64 time;
    i32 nameOffset;
    i32 nameCapacity;
    i64 turboNumber;
};

// Where an export stands between two calls. Fill it with one of the begin functions.
struct FlightLogExportWalk {
    u32 kind;   // FlightLogExportKind
    u32 phase;  // the kind's own steps
    i64 cursor;  // the replay's
    // Photo info: the entry whose frames are read and where its next frame starts (-1: a new entry),
    // the frame read last and the photos it reported.
    i64 lastDatagramEntry;
    i64 entry;
    i32 framePosition;
    i64 entryTime;
    i64 previousRowTime;  // also the video metadata's
    i64 previousPhotoCount;
    MavlinkMessage message;
    u32 photoCount;
    u32 photoNext;
    PendingPhoto photos[kMaxPayloadPhotosPerJump];
    // Video metadata.
    FlightLogRecording recording;
    u32 first;
    u32 stepPending;  // step has not been looked at for a row yet
    FlightLogReplayStep step;
    Quaternion previousGimbal;
    FmvCsvResult fmvResult;
    // Flight path.
    u32 variant;
    FixedString exportName;
    i64 previousA, previousB, base;
    u64 previousStatusTime;
};

void beginPhotoInfoExport(FlightLogExportWalk* walk, i64 lastDatagramEntry);
void beginFmvExport(FlightLogExportWalk* walk, const FlightLogRecording* recording);
void beginFlightPathExport(FlightLogExportWalk* walk, u32 variant, FixedString exportName);

// Writes the export's next part: at most maxSteps replayed entries, and nothing more once fewer than
// reserve bytes are left in out (0: no limit; 8,192 bytes always hold what one entry adds). Returns 1
// when the whole export is written. The walk clears the replay record where it starts over.
u32 continueFlightLogExport(FlightLogExportWalk* walk, ByteWriter* out, const FlightLogIndex* index,
                            FlightLogReplay* replay, const ReplayElevation* elevation, i64 maxSteps, i64 reserve);
constexpr i64 kExportEntryReserve = 8192;

// How far the walk is through its work, in percent.
u32 flightLogExportPercent(const FlightLogExportWalk* walk, const FlightLogIndex* index);

// ---------------------------------------------------------------------------------------------------

// What one export needs to queue its file.
struct FlightLogExportTarget {
    FlightLogExportStatus* status;
    FileJobResult* progress;  // the application's one progress record of the exports
    FileJobTable* jobs;
    i64 nowMicros;
};

// Runs producer twice (measuring, then filling a buffer of exactly that length), clears the replay
// record (when given) before each run and after, and queues the text as one write job at path. With the buffer
// not to be had (or over 4 GB) nothing is queued and 0 is returned. With progress null the job runs
// without a progress record and status is left as it was.
template <typename Producer>
u32 queueFlightLogExport(FixedString path, const char* mimeType, i32 rowNumber, const FlightLogExportTarget* target,
                         FlightLogReplay* replay, Producer producer);
// The three exports as the Export panel's rows queue them. Each returns 1 when its file was queued.
struct FlightLogExportSource {
    const FlightLogIndex* index;
    FlightLogReplay* replay;  // the record the export replays the log in: cleared after it
    const ReplayElevation* elevation;
    FixedString exportName;  // the log's file name less ".qvlog3"
};
u32 queuePhotoInfoExport(const FlightLogExportSource* source, i64 lastDatagramEntry, const FlightLogExportTarget* target);
// The table of the recording, then its time-shift table when the first row is not at its start.
u32 queueFmvExport(const FlightLogExportSource* source, const FlightLogRecording* recording, i32 rowNumber,
                   const FlightLogExportTarget* target);
u32 queueFlightPathExport(const FlightLogExportSource* source, u32 variant, i32 rowNumber,
                          const FlightLogExportTarget* target);

// The description of an export row: the default, or the row's progress and result while it is the
// row of the last export ("Writing @%", then "Saved to @@" with the data folder's path and the file's
// path in it, or "Error saving file: @", until 5 s after the export was queued). A saved path too long
// for the text keeps its end: an ellipsis stands for the start of the folder.
FixedString exportRowDescription(i32 rowNumber, const char* defaultDescription, const FlightLogExportStatus* status,
                                 const FileJobResult* progress, FixedString dataFolder, i64 nowMicros);

// Clears a replay record (it holds a drone connection of several megabytes).
void clearFlightLogReplay(FlightLogReplay* replay);

// ---------------------------------------------------------------------------------------------------

template <typename Producer>
u32 queueFlightLogExport(FixedString path, const char* mimeType, i32 rowNumber, const FlightLogExportTarget* target,
                         FlightLogReplay* replay, Producer producer) {
    ByteWriter measure = makeMeasuringWriter();
    if (replay) clearFlightLogReplay(replay);
    producer(&measure);
    if (replay) clearFlightLogReplay(replay);
    if (measure.length <= 0 || measure.length > (i64)0xFFFFFFFF) return 0;
    u8* buffer = allocateFileBuffer((u64)measure.length);
    if (!buffer) return 0;
    ByteWriter fill = makeByteWriter(buffer, measure.length);
    producer(&fill);
    if (replay) clearFlightLogReplay(replay);
    if (target->progress) {
        target->status->exportStartMicros = target->nowMicros;
        target->status->exportNumber = rowNumber;
        target->status->exportPath = path;
    }
    enqueueFileJob(path, mimeType, buffer, (u32)fill.length, 1, FileJobWrite, target->jobs, target->progress);
    return 1;
}
