// The KMZ export's steps across frames: pieces made on the job ring, appended to a hidden file by
// the file thread one after another, then the file's move to its dated name.
#include <cstring>

#include "Core/Format.h"
#include "Core/JobQueue.h"
#include "KmzEditor/KmzExport.h"

namespace {

constexpr u32 kMostNameCounters = 999;

u32 jobBusy(const KmzExportRun* run) { return __atomic_load_n(&run->jobBusy, __ATOMIC_ACQUIRE); }

// On the job ring: the next piece of the archive; the run is the job's until it clears jobBusy.
i64 makeKmzPiece(void* argument) {
    KmzExportRun* run = (KmzExportRun*)argument;
    run->piece = nextKmzArchivePiece(&run->builder, &run->pieceSize);
    __atomic_store_n(&run->jobBusy, 0, __ATOMIC_RELEASE);
    return 0;
}

void release(KmzExportRun* run) {
    freeFileBuffer(run->piece);
    freeFileBuffer(run->scratch);
    freeFileBuffer(run->drawing);
    run->piece = nullptr;
    run->scratch = nullptr;
    run->drawing = nullptr;
    run->step = KmzExportIdle;
}

void fail(KmzExportRun* run, FixedString reason, FileJobTable* jobs) {
    run->message = formatStr("Error saving file: @", reason);
    // What reached the hidden file goes again.
    if (run->piecesQueued) enqueueFileJob(run->temporary, kKmzMimeType, nullptr, 0, 0, FileJobWrite, jobs, nullptr);
    release(run);
}

// The hidden file takes the name fileName (never over another file).
void queueNaming(KmzExportRun* run, FileJobTable* jobs) {
    FixedString name = fileNameOfPath(run->fileName);
    u8* data = allocateFileBuffer((u64)name.length);
    if (!data) return fail(run, fileStatusString(FileStatusOutOfMemory), jobs);
    std::memcpy(data, name.text, (size_t)name.length);
    enqueueFileJob(run->temporary, kKmzMimeType, data, (u32)name.length, 1, FileJobMove, jobs, &run->write);
    run->writeOut = 1;
    run->step = KmzExportNaming;
}

}  // namespace

FixedString exportKmz(KmzExportRun* run, const KmzEditor* editor, const KmzExportAssets* assets,
                      i64 localMilliseconds1601) {
    if (run->step != KmzExportIdle || run->writeOut || jobBusy(run)) return makeString("Wait for the file being saved");
    run->drawing = (KmzEditor*)allocateFileBuffer(sizeof(KmzEditor));
    run->scratch = allocateFileBuffer(kKmzExportScratchBytes);
    if (!run->drawing || !run->scratch) {
        release(run);
        run->message = formatStr("Error saving file: @", fileStatusString(FileStatusOutOfMemory));
        return FixedString{};
    }
    std::memcpy(run->drawing, editor, sizeof(KmzEditor));
    FixedString path = exportedKmzPath(localMilliseconds1601);
    run->stem = stringFromBytes(path.text, path.length - 4);  // without ".kmz"
    run->fileName = path;
    FixedString name = fileNameOfPath(path);
    run->temporary = formatStr("Exported Kmzs/.@.part", name);
    run->counter = 1;
    run->piecesQueued = 0;
    run->pieceSize = 0;
    run->writeOut = 0;
    run->message = makeString("Saving 0%");
    beginKmzArchive(&run->builder, run->drawing, assets, run->scratch, kKmzExportScratchBytes);
    run->step = KmzExportBuilding;
    return FixedString{};
}

i32 updateKmzExport(KmzExportRun* run, FileJobTable* jobs, JobQueue* jobQueue) {
    if (run->step == KmzExportIdle || jobBusy(run)) return 0;
    if (run->writeOut) {
        u32 status = fileJobStatus(&run->write);
        if (status < FileStatusSuccess) return 0;
        run->writeOut = 0;
        if (run->step == KmzExportNaming) {
            if (status == FileStatusSuccess) {
                run->message = formatStr("Saved @", fileNameOfPath(run->fileName));
                release(run);
                return 1;
            }
            // Another export of this second has the name: the next counter.
            if (run->write.reason == FileReasonExists && run->counter < kMostNameCounters) {
                run->fileName = formatStrInt("@ (@).kmz", run->stem, ++run->counter);
                queueNaming(run, jobs);
                return 0;
            }
        }
        if (status != FileStatusSuccess) {
            fail(run, fileJobFailureText(&run->write), jobs);
            return 0;
        }
    }
    if (run->step != KmzExportBuilding) return 0;
    if (run->piece) {
        if (!fileJobSlotAvailable(jobs)) return 0;
        if (run->pieceSize) {
            // The first piece makes the hidden file afresh; the others go to its end.
            u32 mode = run->piecesQueued ? FileJobAppend : FileJobWrite;
            enqueueFileJob(run->temporary, kKmzMimeType, run->piece, (u32)run->pieceSize, 1, mode, jobs, &run->write);
            run->writeOut = 1;
            run->piecesQueued++;
        } else {
            freeFileBuffer(run->piece);
        }
        run->piece = nullptr;
        const KmzArchiveBuilder* b = &run->builder;
        i64 percent = b->markerCount ? (i64)b->nextMarker * 100 / b->markerCount : 100;
        run->message = formatInt("Saving @%", b->finished ? 100 : percent);
    }
    if (run->builder.failure.length) {
        fail(run, run->builder.failure, jobs);
        return 0;
    }
    if (!run->builder.finished) {
        // The next piece is made while the file thread writes this one.
        __atomic_store_n(&run->jobBusy, 1, __ATOMIC_RELEASE);
        if (!pushAsyncJob(makeKmzPiece, run, jobQueue)) __atomic_store_n(&run->jobBusy, 0, __ATOMIC_RELEASE);
        return 0;
    }
    if (!run->writeOut) queueNaming(run, jobs);
    return 0;
}
