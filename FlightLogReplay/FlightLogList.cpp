#include "FlightLogReplay/FlightLogList.h"

#include <cstring>

#include "Core/Format.h"
#include "Core/ImageSlots.h"
#include "Core/JobQueue.h"
#include "Platform/FileTables.h"

namespace {

bool isOccupied(const FlightLogList* list, u32 slot) { return (list->occupied >> slot) & 1; }

void freeEntry(FlightLogList* list, u32 slot, ImageSlotTable* images) {
    FlightLogListEntry* entry = &list->entries[slot];
    if (entry->imageId != 0) {
        ImageSlot* image = images ? getImageSlot(images, (i32)entry->imageId) : nullptr;
        if (image) image->releaseRequested = 1;
        entry->imageId = 0;
    }
    list->occupied &= ~(1ull << slot);
}

// The slot the log of a finished read takes: its old entry goes, then the first free slot, or with
// all taken the one shown longest ago. The slot comes back cleared and occupied.
FlightLogListEntry* takeEntry(FlightLogList* list, const FixedString* name, ImageSlotTable* images) {
    for (u32 i = 0; i < kMaxFlightLogListEntries; i++) {
        if (isOccupied(list, i) && equals(list->entries[i].fileName, *name)) freeEntry(list, i, images);
    }
    u32 slot = kMaxFlightLogListEntries;
    for (u32 i = 0; i < kMaxFlightLogListEntries && slot == kMaxFlightLogListEntries; i++) {
        if (!isOccupied(list, i)) slot = i;
    }
    if (slot == kMaxFlightLogListEntries) {
        slot = 0;
        for (u32 i = 1; i < kMaxFlightLogListEntries; i++) {
            if (list->entries[i].lastShownTime < list->entries[slot].lastShownTime) slot = i;
        }
        freeEntry(list, slot, images);
    }
    FlightLogListEntry* entry = &list->entries[slot];
    std::memset(static_cast<void*>(entry), 0, sizeof(*entry));
    entry->fileName = *name;
    list->occupied |= 1ull << slot;
    return entry;
}

void releaseLog(FlightLogList* list, FileReadTable* reads) {
    releaseFileReadRequest(list->logRequest, reads);
    list->logRequest = nullptr;
    list->parseState = FlightLogParseNone;
    list->overviewGeneration = 0;
}

void startParse(FlightLogList* list, const FixedString* name, JobQueue* jobQueue) {
    list->extensionFound = 0;
    list->index = FlightLogIndex{};
    list->ignitionSpheres = 0;
    list->photos = 0;
    list->videos = 0;
    list->parseQueue = jobQueue;
    list->parsePhase = 0;
    list->parsePercent = 0;
    list->cancelParse = 0;
    list->parseCancelled = 0;
    list->parseForWanted = equals(list->wantedLog, *name) ? 1 : 0;
    list->indexGeneration++;
    list->overviewGeneration = 0;
    list->parseState = FlightLogParsing;
    if (!pushAsyncJob(parseFlightLogJob, list, jobQueue)) {
        // Shown through the index's error, as the job's own failures are.
        list->index.error = format("Failed to enqueue parsing job");
        list->parseState = FlightLogParseDone;
    }
}

// A parse is given up when the log it was chosen for viewing (when it started or since) no longer is,
// or when a chosen log waits behind a parse for the list alone. A paused job is not running: it ends
// here at once.
void cancelUnwantedParse(FlightLogList* list) {
    u32 state = flightLogParseState(list);
    if (state != FlightLogParsing && state != FlightLogParsePaused) return;
    if (equals(list->wantedLog, list->logName)) {
        list->parseForWanted = 1;  // a parse for the list alone that was chosen meanwhile
        return;
    }
    if (!list->parseForWanted && list->wantedLog.length == 0) return;
    __atomic_store_n(&list->cancelParse, 1u, __ATOMIC_RELEASE);
    if (state == FlightLogParsePaused) {
        list->parseCancelled = 1;
        list->parsePhase = 0;
        list->parseState = FlightLogParseDone;
    }
}

void resumePausedParse(FlightLogList* list, JobQueue* jobQueue) {
    if (flightLogParseState(list) != FlightLogParsePaused) return;
    list->parseState = FlightLogParsing;
    if (!pushAsyncJob(parseFlightLogJob, list, jobQueue)) list->parseState = FlightLogParsePaused;
}

// A chosen log that could not be used is not asked for again before the retry time.
void noteWantedFailure(FlightLogList* list, const FixedString* name, i64 now) {
    if (!equals(list->wantedLog, *name)) return;
    list->failedWantedLog = *name;
    list->wantedRetryTime = now + kFlightLogRetryMicros;
}

void takeFinishedRead(FlightLogList* list, FileReadTable* reads, JobQueue* jobQueue, ImageSlotTable* images,
                      i64 now) {
    FileReadRequest* request = list->logRequest;
    u32 status = fileRequestStatus(request);
    FixedString name = list->logName;
    FlightLogListEntry* entry = takeEntry(list, &name, images);
    if (status != FileStatusSuccess) {
        entry->summary = fileStatusString(status);
        entry->keepUntil = now + kFlightLogRetryMicros;
        noteWantedFailure(list, &name, now);
        releaseLog(list, reads);
        return;
    }
    entry->modifiedTime = request->modifiedMs;
    entry->keepUntil = INT64_MAX;
    if (flightLogParseState(list) == FlightLogParseNone) startParse(list, &name, jobQueue);
    if (flightLogParseState(list) != FlightLogParseDone) {
        entry->summary = formatInt("Parsing @%", __atomic_load_n(&list->parsePercent, __ATOMIC_RELAXED));
        return;
    }
    if (list->parseCancelled) {
        // Read and parsed again once its row is shown or it is chosen again.
        FlightLogListEntry* cancelled = findFlightLogEntry(list, &name);
        if (cancelled) freeEntry(list, (u32)(cancelled - list->entries), images);
        if (equals(list->nextLogToRead, name)) list->nextLogToRead = FixedString{};
        releaseLog(list, reads);
        return;
    }
    if (list->extensionFound != 1) {
        entry->summary = list->index.error;
        noteWantedFailure(list, &name, now);
        releaseLog(list, reads);
        return;
    }
    entry->summary = list->index.error.length
                         ? list->index.error
                         : flightLogSummary(&list->index, list->ignitionSpheres, list->photos, list->videos);
    if (list->index.error.length == 0) list->overviewGeneration = list->indexGeneration;
    if (!equals(list->wantedLog, name) && !list->logInUse) releaseLog(list, reads);
}

bool listingHoldsFile(const FileReadRequest* listing, const FixedString* name) {
    if (!listing || fileRequestStatus(listing) != FileStatusSuccess || !listing->data) return false;
    const FolderEntry* entries = reinterpret_cast<const FolderEntry*>(listing->data + listing->headroom);
    u64 count = listing->bytesRead / sizeof(FolderEntry);
    for (u64 i = 0; i < count; i++) {
        if (entries[i].isFile && equals(entries[i].name, *name)) return true;
    }
    return false;
}

void takeFinishedListing(FlightLogList* list, FileReadTable* reads, ImageSlotTable* images, i64 now) {
    if (list->listingTime == 0) list->listingTime = now;
    if (list->currentListing) releaseFileReadRequest(list->currentListing, reads);
    list->currentListing = list->pendingListing;
    list->pendingListing = nullptr;
    if (fileRequestStatus(list->currentListing) != FileStatusSuccess) return;
    for (u32 i = 0; i < kMaxFlightLogListEntries; i++) {
        if (!isOccupied(list, i)) continue;
        FlightLogListEntry* entry = &list->entries[i];
        if (entry->keepUntil < now && !listingHoldsFile(list->currentListing, &entry->fileName)) {
            freeEntry(list, i, images);
        }
    }
}

void requestLog(FlightLogList* list, const FixedString* name, FileReadTable* reads) {
    FixedString path = formatStr("Flight Logs/@", *name);
    list->logRequest = requestFile(path, kMaxFlightLogBytes, 0, reads);
    list->logName = *name;
}

}  // namespace

FlightLogListEntry* findFlightLogEntry(FlightLogList* list, const FixedString* name) {
    for (u32 i = 0; i < kMaxFlightLogListEntries; i++) {
        if (isOccupied(list, i) && equals(list->entries[i].fileName, *name)) return &list->entries[i];
    }
    return nullptr;
}

FixedString flightLogSummary(const FlightLogIndex* index, u32 ignitionSpheres, u32 photos, u32 videos) {
    return buildFixedString([&](ByteWriter* w) {
        if (index->skippedBytes != 0) {
            appendCString("Skipped ", w);
            appendFixedString(byteSizeString(index->skippedBytes), w);
            appendCString(" of corrupted data   ", w);
        }
        appendFixedString(durationString((index->endTime - index->startTime) * 1000), w);
        struct Count {
            u32 value;
            const char* words;
        };
        const Count counts[] = {{ignitionSpheres, " ignition spheres"}, {photos, " photos"}, {videos, " videos"}};
        for (const Count& count : counts) {
            if (count.value == 0) continue;
            appendCString("      ", w);
            appendInt64(count.value, w);
            appendCString(count.words, w);
        }
    });
}

void updateFlightLogList(FlightLogList* list, FileReadTable* reads, JobQueue* jobQueue, ImageSlotTable* slots,
                         i64 now) {
    cancelUnwantedParse(list);
    resumePausedParse(list, jobQueue);
    if (list->logRequest && fileRequestStatus(list->logRequest) >= FileStatusSuccess) {
        takeFinishedRead(list, reads, jobQueue, slots, now);
    }
    if (list->pendingListing && fileRequestStatus(list->pendingListing) >= FileStatusSuccess) {
        takeFinishedListing(list, reads, slots, now);
    }
    if (!list->logRequest) {
        bool waiting = equals(list->wantedLog, list->failedWantedLog) && now < list->wantedRetryTime;
        if (list->wantedLog.length && !waiting) {
            requestLog(list, &list->wantedLog, reads);
        } else if (list->nextLogToRead.length && !findFlightLogEntry(list, &list->nextLogToRead) &&
                   listingHoldsFile(list->currentListing, &list->nextLogToRead)) {
            requestLog(list, &list->nextLogToRead, reads);
        }
    }
    if (!list->pendingListing && (list->listingTime == 0 || now - list->listingTime > kFlightLogListingPeriodMicros)) {
        list->pendingListing = requestFolderListing(makeString("Flight Logs"), reads);
        list->listingTime = 0;
    }
}
