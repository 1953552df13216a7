// A flight-log export written in slices on the job ring. The walk replays the log in the job's own
// replay record (playback goes on meanwhile); its text goes out in chunks through the file thread
// into a hidden file beside the export (".NAME.part"), which takes the export's name once every
// chunk is written. A cancelled export deletes the hidden file and leaves any earlier export of that
// name as it was; a failed write ends the export with its file status. One export at a time.
#pragma once
#include "FlightLogReplay/FlightLogExports.h"

struct JobQueue;

constexpr i64 kExportChunkBytes = 1 << 20;
constexpr i64 kExportSliceEntries = 16384;  // entries between two looks at the cancel flag and the ring
constexpr u32 kExportChunkWrites = 8;       // chunks on their way to the file at most
// A log of at most this many entries and bytes (its index's) is exported within the frame that asks
// for it, as one write: a few milliseconds of replay.
constexpr i64 kInlineExportEntries = 20000;
constexpr i64 kInlineExportBytes = 2000000;

enum FlightLogExportJobState : u32 {
    ExportJobIdle = 0,
    ExportJobRunning = 1,    // the job ring has the walk, its replay and its chunk
    ExportJobPaused = 2,     // a slice ended early (cancelled, chunk full, other jobs waiting)
    ExportJobWalked = 3,     // the walk is done; the rest is the main thread's
    ExportJobFinishing = 4,  // the last chunks are on their way to the hidden file
    ExportJobNaming = 5,     // every chunk is written; an older file of the export's name is being deleted
    ExportJobSaving = 6,     // the export's last file job (the whole file, or the move that names it) runs
};

struct FlightLogExportJob {
    u32 state;    // FlightLogExportJobState; the job stores 2 and 3 with release order
    u32 cancel;   // set by the main thread, seen by the job between slices
    u32 percent;  // how far the walk is, written by the job
    u32 chunkFull;
    const FlightLogIndex* index;
    const JobQueue* queue;  // the job gives up its turn while other jobs wait here
    FlightLogExportWalk walk;
    FlightLogReplay replay;
    u8* chunk;       // from allocateFileBuffer, kExportChunkBytes
    ByteWriter out;  // over chunk
    // The files.
    FixedString path;      // the export's
    FixedString partPath;  // the hidden one beside it
    const char* mimeType;
    u32 chunksWritten;
    FileJobResult chunkWrites[kExportChunkWrites];
    FileJobResult oldFileDeletion;
    FileJobResult lastWrite;  // the export's last file job, which the rows' progress follows
    u32 shownPercent;         // the rows' progress so far: it never goes back within an export
    // The export rows' status: the export number, its path, and when its file was queued.
    FlightLogExportStatus status;
    i32 rowNumber;
};

// Starts the begun walk of an export of index to path in slices on queue (index and its log must stay
// until the export has ended, see flightLogExportBusy). Returns 0, and changes nothing, while another
// export runs.
u32 startFlightLogExport(FlightLogExportJob* job, const FlightLogExportWalk* walk, const FlightLogIndex* index,
                         FixedString path, const char* mimeType, i32 rowNumber, JobQueue* queue, i64 nowMicros);

// Each frame: hands full chunks to the file thread, queues the next slice, and once the walk is done
// writes the last chunk and gives the hidden file the export's name (an export that fits one chunk is
// written as one file job). progress shows "Writing @%" meanwhile, going only forward, and once the
// export's last file job has ended takes its result. The FMV table's time-shift table goes out
// beside it when the table needs one.
void updateFlightLogExport(FlightLogExportJob* job, FileJobTable* jobs, JobQueue* queue, FileJobResult* progress,
                           i64 nowMicros);

// Asks a running export to stop; updateFlightLogExport ends it at the next slice. Once every chunk
// is written the export is finished instead.
void cancelFlightLogExport(FlightLogExportJob* job);

// At the program's end: a running export is given up and its hidden file is deleted after the chunks
// already queued (the job ring may still be in its last slice).
void abandonFlightLogExport(FlightLogExportJob* job, FileJobTable* jobs);

// 1 from the start of an export until its job no longer needs the log or the replay record.
u32 flightLogExportBusy(const FlightLogExportJob* job);

// The slice job of the job ring (the argument is the FlightLogExportJob).
i64 flightLogExportSliceJob(void* argument);
