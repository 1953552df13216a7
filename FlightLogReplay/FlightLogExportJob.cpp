#include "FlightLogReplay/FlightLogExportJob.h"

#include <cstring>

#include "Core/Format.h"
#include "Core/JobQueue.h"

namespace {

u32 jobState(const FlightLogExportJob* job) { return __atomic_load_n(&job->state, __ATOMIC_ACQUIRE); }

void publishState(FlightLogExportJob* job, u32 state) { __atomic_store_n(&job->state, state, __ATOMIC_RELEASE); }

// ".NAME.part" in the export's folder.
FixedString partPathOf(FixedString path) {
    FixedString name = fileNameOfPath(path);
    i64 folder = fixedStringLength(&path) - fixedStringLength(&name);
    return buildFixedString([&](ByteWriter* w) {
        appendBytes(path.text, folder, w);
        appendU8('.', w);
        appendFixedStringRef(&name, w);
        appendCString(".part", w);
    });
}

bool takeChunk(FlightLogExportJob* job) {
    job->chunk = allocateFileBuffer((u64)kExportChunkBytes);
    job->out = job->chunk ? makeByteWriter(job->chunk, kExportChunkBytes) : ByteWriter{};
    return job->chunk != nullptr;
}

void dropChunk(FlightLogExportJob* job) {
    if (job->chunk) freeFileBuffer(job->chunk);
    job->chunk = nullptr;
    job->out = ByteWriter{};
}

// The status of the first chunk write that failed, else 0.
u32 failedChunkWrite(const FlightLogExportJob* job) {
    for (const FileJobResult& write : job->chunkWrites) {
        u32 status = fileJobStatus(&write);
        if (status > FileStatusSuccess) return status;
    }
    return 0;
}

bool chunkWritesDone(const FlightLogExportJob* job) {
    for (const FileJobResult& write : job->chunkWrites) {
        if (fileJobStatus(&write) < FileStatusSuccess) return false;
    }
    return true;
}

// Hands the chunk to the file thread (the first one creates the hidden file) and takes a new one.
// False while every write slot is still busy.
bool handChunkOver(FlightLogExportJob* job, FileJobTable* jobs) {
    FileJobResult* free = nullptr;
    for (FileJobResult& write : job->chunkWrites) {
        if (fileJobStatus(&write) >= FileStatusSuccess) free = &write;
    }
    if (!free) return false;
    u32 mode = job->chunksWritten == 0 ? FileJobWrite : FileJobAppend;
    enqueueFileJob(job->partPath, job->mimeType, job->chunk, (u32)job->out.length, 1, mode, jobs, free);
    job->chunk = nullptr;
    job->chunksWritten++;
    return true;
}

void deletePart(FlightLogExportJob* job, FileJobTable* jobs) {
    if (job->chunksWritten) enqueueFileJob(job->partPath, job->mimeType, nullptr, 0, 0, FileJobWrite, jobs, nullptr);
}

// Ends the export; a failure shows as the file status of the rows' progress.
void endExport(FlightLogExportJob* job, FileJobTable* jobs, FileJobResult* progress, u32 failure) {
    dropChunk(job);
    if (failure) {
        deletePart(job, jobs);
        if (progress) *progress = FileJobResult{0, 0, failure};
    }
    job->cancel = 0;
    job->state = ExportJobIdle;
}

// The rows' progress: how far the export is, never less than it showed before.
void showPercent(FlightLogExportJob* job, FileJobResult* progress, u32 percent) {
    if (percent > job->shownPercent) job->shownPercent = percent < 100 ? percent : 100;
    if (progress) *progress = FileJobResult{100, job->shownPercent, FileStatusProcessing};
}

// The last file job is on its way: its share written, then its result.
void followLastWrite(FlightLogExportJob* job, FileJobResult* progress) {
    u32 status = fileJobStatus(&job->lastWrite);
    if (status < FileStatusSuccess) {
        i64 size = job->lastWrite.size;
        i64 written = __atomic_load_n(&job->lastWrite.written, __ATOMIC_RELAXED);
        return showPercent(job, progress, size > 0 ? (u32)(written * 100 / size) : 0);
    }
    if (progress) {
        *progress = job->lastWrite;
        progress->status = status;
    }
    endExport(job, nullptr, nullptr, 0);
}

void queueTimeShift(FlightLogExportJob* job, FileJobTable* jobs) {
    const FmvCsvResult* result = &job->walk.fmvResult;
    if (job->walk.kind != ExportKindFmv || result->rowsWritten == 0 || result->firstRowTime == job->walk.recording.start) {
        return;
    }
    ByteWriter measure = makeMeasuringWriter();
    writeFmvTimeShift(&measure, job->walk.recording.start, result->firstRowTime);
    u8* text = allocateFileBuffer((u64)measure.length);
    if (!text) return;
    ByteWriter fill = makeByteWriter(text, measure.length);
    writeFmvTimeShift(&fill, job->walk.recording.start, result->firstRowTime);
    // The table's path less ".csv", then "_timeshift.csv".
    FixedString base = stringFromBytes(job->path.text, fixedStringLength(&job->path) - 4);
    enqueueFileJob(formatStr("@_timeshift.csv", base), "text/csv", text, (u32)fill.length, 1, FileJobWrite, jobs,
                   nullptr);
}

// The walk is done: a one-chunk export is written whole, a longer one gets its last chunk.
void finishWalk(FlightLogExportJob* job, FileJobTable* jobs, FileJobResult* progress, i64 nowMicros) {
    queueTimeShift(job, jobs);
    job->status.exportStartMicros = nowMicros;
    if (job->chunksWritten == 0) {
        enqueueFileJob(job->path, job->mimeType, job->chunk, (u32)job->out.length, 1, FileJobWrite, jobs,
                       &job->lastWrite);
        job->chunk = nullptr;
        job->state = ExportJobSaving;
        return followLastWrite(job, progress);
    }
    if (!handChunkOver(job, jobs)) return;  // again next frame
    job->state = ExportJobFinishing;
}

// Every chunk written: an older file of the export's name goes (a move never replaces a file), then
// the hidden file takes the name.
void deleteOldFile(FlightLogExportJob* job, FileJobTable* jobs) {
    if (!chunkWritesDone(job)) return;
    enqueueFileJob(job->path, job->mimeType, nullptr, 0, 0, FileJobWrite, jobs, &job->oldFileDeletion);
    job->state = ExportJobNaming;
}

void nameThePart(FlightLogExportJob* job, FileJobTable* jobs, FileJobResult* progress, i64 nowMicros) {
    if (fileJobStatus(&job->oldFileDeletion) < FileStatusSuccess) return;
    FixedString name = fileNameOfPath(job->path);
    u8* data = allocateFileBuffer((u64)name.length);
    if (!data) return endExport(job, jobs, progress, FileStatusOutOfMemory);
    std::memcpy(data, name.text, (size_t)name.length);
    job->status.exportStartMicros = nowMicros;
    enqueueFileJob(job->partPath, job->mimeType, data, (u32)name.length, 1, FileJobMove, jobs, &job->lastWrite);
    job->state = ExportJobSaving;
    followLastWrite(job, progress);
}

}  // namespace

u32 flightLogExportBusy(const FlightLogExportJob* job) { return jobState(job) != ExportJobIdle; }

void abandonFlightLogExport(FlightLogExportJob* job, FileJobTable* jobs) {
    u32 state = jobState(job);
    if (state == ExportJobIdle || state == ExportJobNaming || state == ExportJobSaving) return;
    cancelFlightLogExport(job);
    deletePart(job, jobs);
}

u32 startFlightLogExport(FlightLogExportJob* job, const FlightLogExportWalk* walk, const FlightLogIndex* index,
                         FixedString path, const char* mimeType, i32 rowNumber, JobQueue* queue, i64 nowMicros) {
    if (flightLogExportBusy(job)) return 0;
    job->walk = *walk;
    job->index = index;
    job->queue = queue;
    job->path = path;
    job->partPath = partPathOf(path);
    job->mimeType = mimeType;
    job->rowNumber = rowNumber;
    job->status = FlightLogExportStatus{nowMicros, rowNumber, path};
    job->cancel = 0;
    job->percent = 0;
    job->chunkFull = 0;
    job->chunksWritten = 0;
    for (FileJobResult& write : job->chunkWrites) write = FileJobResult{0, 0, FileStatusSuccess};
    job->oldFileDeletion = FileJobResult{};
    job->lastWrite = FileJobResult{};
    job->shownPercent = 0;
    // The slice is queued by the next update, which also sees a chunk that could not be had.
    job->state = ExportJobPaused;
    takeChunk(job);
    return 1;
}

void cancelFlightLogExport(FlightLogExportJob* job) {
    if (flightLogExportBusy(job)) __atomic_store_n(&job->cancel, 1u, __ATOMIC_RELEASE);
}

i64 flightLogExportSliceJob(void* argument) {
    FlightLogExportJob* job = static_cast<FlightLogExportJob*>(argument);
    for (;;) {
        if (__atomic_load_n(&job->cancel, __ATOMIC_ACQUIRE)) break;
        u32 done = continueFlightLogExport(&job->walk, &job->out, job->index, &job->replay, nullptr,
                                           kExportSliceEntries, kExportEntryReserve);
        __atomic_store_n(&job->percent, flightLogExportPercent(&job->walk, job->index), __ATOMIC_RELAXED);
        if (done) {
            publishState(job, ExportJobWalked);
            return 0;
        }
        if (job->out.capacity - job->out.length < kExportEntryReserve) {
            job->chunkFull = 1;
            break;
        }
        if (job->queue && queuedJobCount(job->queue) > 0) break;
    }
    publishState(job, ExportJobPaused);
    return 0;
}

void updateFlightLogExport(FlightLogExportJob* job, FileJobTable* jobs, JobQueue* queue, FileJobResult* progress,
                           i64 nowMicros) {
    u32 state = jobState(job);
    if (state == ExportJobIdle || state == ExportJobRunning) {
        if (state == ExportJobRunning) showPercent(job, progress, __atomic_load_n(&job->percent, __ATOMIC_RELAXED));
        return;
    }
    if (state == ExportJobSaving) return followLastWrite(job, progress);
    if (state == ExportJobNaming) return nameThePart(job, jobs, progress, nowMicros);
    u32 failure = failedChunkWrite(job);
    bool chunkNeeded = state == ExportJobPaused || state == ExportJobWalked;
    if (!failure && chunkNeeded && !job->chunk) failure = FileStatusOutOfMemory;
    if (!failure && job->out.overflow) failure = FileStatusWriteFailed;
    if (failure) return endExport(job, jobs, progress, failure);
    if (state == ExportJobFinishing) return deleteOldFile(job, jobs);
    if (__atomic_load_n(&job->cancel, __ATOMIC_ACQUIRE)) {
        // Whatever of the hidden file is written or still on its way is deleted after it.
        deletePart(job, jobs);
        return endExport(job, jobs, nullptr, 0);
    }
    if (state == ExportJobWalked) return finishWalk(job, jobs, progress, nowMicros);
    showPercent(job, progress, __atomic_load_n(&job->percent, __ATOMIC_RELAXED));
    if (job->chunkFull) {
        if (!handChunkOver(job, jobs)) return;  // every write slot busy: again next frame
        job->chunkFull = 0;
        if (!takeChunk(job)) return endExport(job, jobs, progress, FileStatusOutOfMemory);
    }
    job->queue = queue;
    publishState(job, ExportJobRunning);
    if (!pushAsyncJob(flightLogExportSliceJob, job, queue)) publishState(job, ExportJobPaused);
}
