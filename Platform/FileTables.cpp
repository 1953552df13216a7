// Main-thread side of the file tables: taking and releasing slots, queueing jobs, status texts.
#include "Platform/FileTables.h"

#include <atomic>
#include <cassert>
#include <cstdlib>
#include <cstring>

#include "Core/Format.h"

u8* allocateFileBuffer(u64 size) { return (u8*)std::malloc(size ? size : 1); }

void freeFileBuffer(void* data) { std::free(data); }

bool isSlotUsed(const u64* used, u32 index) {
    u64 word = std::atomic_ref<u64>(const_cast<u64&>(used[index / 64])).load(std::memory_order_acquire);
    return (word >> (index % 64)) & 1;
}

bool isNewFileWork(const u64* used, u32 index, const u32* status) {
    return isSlotUsed(used, index) && readStatus(status) == 0 && isSlotUsed(used, index);
}

void publishStatus(u32* status, u32 value) { std::atomic_ref<u32>(*status).store(value, std::memory_order_release); }

u32 readStatus(const u32* status) {
    return std::atomic_ref<u32>(const_cast<u32&>(*status)).load(std::memory_order_acquire);
}

namespace {

u32 swapHandoff(u32* handoff, u32 value) {
    return std::atomic_ref<u32>(*handoff).exchange(value, std::memory_order_acq_rel);
}

u32 readHandoff(const u32* handoff) {
    return std::atomic_ref<u32>(const_cast<u32&>(*handoff)).load(std::memory_order_acquire);
}

void freeOwnedBuffer(FileReadRequest* request) {
    if (readStatus(&request->status) == FileStatusSuccess && request->ownsBuffer && request->data) {
        freeFileBuffer(request->data);
        request->data = nullptr;
    }
}

}  // namespace

u32 fileRequestStatus(const FileReadRequest* request) { return readStatus(&request->status); }

u32 fileJobStatus(const FileJobResult* result) { return readStatus(&result->status); }

namespace {

// The lowest clear bit of the bitmap, or -1. The file thread clears bits of finished slots at any
// moment, so every word is read atomically, and bits are set and cleared by atomic read-modify-write
// (a plain store of a word read earlier would bring back a bit the other thread had just cleared).
i32 findFreeSlot(const u64* used, u32 words) {
    for (u32 w = 0; w < words; w++) {
        u64 word = std::atomic_ref<u64>(const_cast<u64&>(used[w])).load(std::memory_order_acquire);
        if (word == ~u64(0)) continue;
        return (i32)(w * 64 + (u32)__builtin_ctzll(~word));
    }
    return -1;
}

void setUsedBit(u64* used, u32 index) {
    std::atomic_ref<u64>(used[index / 64]).fetch_or(u64(1) << (index % 64), std::memory_order_release);
}

void clearUsedBit(u64* used, u32 index) {
    std::atomic_ref<u64>(used[index / 64]).fetch_and(~(u64(1) << (index % 64)), std::memory_order_release);
}

// Zeroes a free slot for its next use. The file thread may still be looking at the slot's status
// (it read the used bit just before the slot was freed), so the status is written atomically and
// everything else plainly: the file thread reads the rest only once the used bit is set again.
void zeroFreeSlot(void* slot, u64 size, u32* status) {
    u8* bytes = (u8*)slot;
    u64 at = (u64)((u8*)status - bytes);
    std::memset(bytes, 0, at);
    publishStatus(status, 0);
    std::memset(bytes + at + sizeof(u32), 0, size - at - sizeof(u32));
}

FileReadRequest* fullTable(FileReadTable* table) {
    FileReadRequest* full = &table->fullTableSlot;
    full->bytesRead = 0;
    full->fileSize = 0;
    full->modifiedMs = 0;
    full->data = nullptr;
    full->status = FileStatusTooManyOpenFiles;
    return full;
}

// A zeroed slot with its path and name, not yet marked used; null when the table is full.
FileReadRequest* takeReadSlot(FixedString path, FileReadTable* table, i32* index) {
    *index = findFreeSlot(table->used, kFileTableWords);
    if (*index < 0) return nullptr;
    FileReadRequest* request = &table->slots[*index];
    zeroFreeSlot(request, sizeof(*request), &request->status);
    request->path = path;
    return request;
}

}  // namespace

FileReadRequest* requestFile(FixedString path, u64 maxSize, u32 headroom, FileReadTable* table) {
    i32 index;
    FileReadRequest* request = takeReadSlot(path, table, &index);
    if (!request) return fullTable(table);
    request->name = fileNameOfPath(path);
    request->kind = FileReadKindRead;
    request->maxSize = maxSize;
    request->headroom = headroom;
    request->ownsBuffer = 1;
    setUsedBit(table->used, (u32)index);
    return request;
}

FileReadRequest* requestFileIntoBuffer(FixedString path, u8* buffer, u64 capacity, FileReadTable* table) {
    i32 index;
    FileReadRequest* request = takeReadSlot(path, table, &index);
    if (!request) return fullTable(table);
    request->name = fileNameOfPath(path);
    request->kind = FileReadKindRead;
    request->data = buffer;
    request->maxSize = capacity;
    setUsedBit(table->used, (u32)index);
    return request;
}

FileReadRequest* requestFolderListing(FixedString path, FileReadTable* table) {
    i32 index;
    FileReadRequest* request = takeReadSlot(path, table, &index);
    if (!request) return fullTable(table);
    request->kind = FileReadKindList;
    request->ownsBuffer = 1;
    setUsedBit(table->used, (u32)index);
    return request;
}

FileReadRequest* requestPickedFile(FixedString acceptedTypes, u64 maxSize, u32 requesterTag, FileReadTable* table) {
    i32 index;
    FileReadRequest* request = takeReadSlot(acceptedTypes, table, &index);
    if (!request) return fullTable(table);
    request->kind = FileReadKindPick;
    request->maxSize = maxSize;
    request->requesterTag = requesterTag;
    request->ownsBuffer = 1;
    setUsedBit(table->used, (u32)index);
    return request;
}

FileReadRequest* fileRequestFromBuffer(u8* buffer, u64 size, u32 takeOwnership, FixedString path, u64 modifiedMs,
                                       FileReadTable* table) {
    i32 index;
    FileReadRequest* request = takeReadSlot(path, table, &index);
    if (!request) {
        if (takeOwnership) freeFileBuffer(buffer);
        return fullTable(table);
    }
    request->name = fileNameOfPath(path);
    request->bytesRead = size;
    request->fileSize = size;
    request->maxSize = size;
    request->modifiedMs = modifiedMs;
    request->data = buffer;
    request->ownsBuffer = takeOwnership;
    publishStatus(&request->status, FileStatusSuccess);
    request->handoff = FileHandoffFinished;  // never served: the requester frees it
    setUsedBit(table->used, (u32)index);
    return request;
}

void releaseFileReadRequest(FileReadRequest* request, FileReadTable* table) {
    if (request < table->slots || request >= table->slots + kFileTableSlots) return;
    u32 index = (u32)(request - table->slots);
    bool used = isSlotUsed(table->used, index);
    assert(used && "a file request released twice");
    if (!used) return;
    u32 previous = swapHandoff(&request->handoff, FileHandoffReleased);
    assert(previous != FileHandoffReleased && "a file request released twice");
    if (previous != FileHandoffFinished) return;  // cancelled: the file thread frees it when done
    freeOwnedBuffer(request);
    clearUsedBit(table->used, index);
}

bool isReleasedRequest(const FileReadRequest* request) {
    return readHandoff(&request->handoff) == FileHandoffReleased;
}

void finishServedRequest(FileReadRequest* request, FileReadTable* table) {
    if (swapHandoff(&request->handoff, FileHandoffFinished) != FileHandoffReleased) return;
    freeOwnedBuffer(request);
    clearUsedBit(table->used, (u32)(request - table->slots));
}

void freeFileTableBuffers(FileReadTable* table) {
    for (u32 i = 0; i < kFileTableSlots; i++) {
        if (isSlotUsed(table->used, i)) freeOwnedBuffer(&table->slots[i]);
    }
}

void finishFileJob(FileJob* job, const FileJobResult* outcome) {
    u32 expected = FileHandoffOpen;
    std::atomic_ref<u32> handoff(job->handoff);
    if (job->result && handoff.compare_exchange_strong(expected, FileHandoffDelivering, std::memory_order_acq_rel)) {
        job->result->size = outcome->size;
        job->result->written = outcome->written;
        job->result->reason = outcome->reason;
        publishStatus(&job->result->status, outcome->status);
        handoff.store(FileHandoffFinished, std::memory_order_release);
    }
    job->own.size = outcome->size;
    job->own.written = outcome->written;
    job->own.reason = outcome->reason;
    publishStatus(&job->own.status, outcome->status);
}

void releaseFileJob(const FileJobResult* result, FileJobTable* table) {
    if (!result) return;
    for (u32 i = 0; i < kFileTableSlots; i++) {
        FileJob* job = &table->slots[i];
        if (!isSlotUsed(table->used, i) || job->result != result) continue;
        if (readStatus(&job->own.status) >= FileStatusSuccess) continue;  // done: nothing more is written
        std::atomic_ref<u32> handoff(job->handoff);
        for (;;) {
            u32 state = handoff.load(std::memory_order_acquire);
            assert(state != FileHandoffReleased && "a file job released twice");
            if (state != FileHandoffOpen && state != FileHandoffDelivering) break;
            // Delivering: the file thread is copying three words into result; it is done at once.
            if (state == FileHandoffOpen &&
                handoff.compare_exchange_weak(state, FileHandoffReleased, std::memory_order_acq_rel)) {
                break;
            }
        }
    }
}

void freeFileJobData(FileJobTable* table) {
    for (u32 i = 0; i < kFileTableSlots; i++) {
        FileJob* job = &table->slots[i];
        if (!isSlotUsed(table->used, i) || readStatus(&job->own.status) >= FileStatusSuccess) continue;
        if (job->freeData && job->data) freeFileBuffer(job->data);
        job->data = nullptr;
    }
}

// A free job slot, taking back the slots of finished jobs when none is free; -1 when all are busy.
static i32 takeFreeJobSlot(FileJobTable* table) {
    i32 index = findFreeSlot(table->used, kFileTableWords);
    if (index < 0) {
        for (u32 i = 0; i < kFileTableSlots; i++) {
            if (isSlotUsed(table->used, i) && readStatus(&table->slots[i].own.status) >= FileStatusSuccess) {
                clearUsedBit(table->used, i);
            }
        }
        index = findFreeSlot(table->used, kFileTableWords);
    }
    return index;
}

u32 fileJobSlotAvailable(FileJobTable* table) { return takeFreeJobSlot(table) >= 0 ? 1 : 0; }

void enqueueFileJob(FixedString path, const char* mimeType, u8* data, u32 size, u32 freeData, u32 mode,
                    FileJobTable* table, FileJobResult* result) {
    i32 index = takeFreeJobSlot(table);
    if (index < 0) {
        if (result) *result = FileJobResult{size, 0, FileStatusTooManyOpenFiles};
        // Handed over to be freed: the thread will never see it, so it is freed here.
        if (freeData && data) freeFileBuffer(data);
        return;
    }
    FileJob* job = &table->slots[index];
    zeroFreeSlot(job, sizeof(*job), &job->own.status);
    job->path = path;
    job->mimeType = mimeType;
    job->data = data;
    job->own.size = size;
    job->freeData = freeData;
    job->mode = mode;
    job->id = table->nextId++;
    job->result = result;
    if (result) *result = FileJobResult{size, 0, FileStatusNotYetProcessed};
    setUsedBit(table->used, (u32)index);
}

RenderedPageSlot* requestRenderedPage(u8* pixels, u32 document, u32 page, u64 capacity, RenderedPageTable* table) {
    i32 index = findFreeSlot(&table->used, 1);
    if (index < 0) {
        RenderedPageSlot* failed = &table->errorSlot;
        std::memset(failed, 0, sizeof(*failed));
        failed->document = document;
        failed->page = page;
        failed->message = makeString("Too many rendered pages");
        failed->status = PdfPageFailed;
        return failed;
    }
    RenderedPageSlot* request = &table->slots[index];
    zeroFreeSlot(request, sizeof(*request), &request->status);
    request->pixels = pixels;
    request->document = document;
    request->page = page;
    request->capacity = capacity;
    setUsedBit(&table->used, (u32)index);
    return request;
}

u32 renderedPageStatus(const RenderedPageSlot* request) { return readStatus(&request->status); }

void releaseRenderedPageSlot(RenderedPageSlot* request, RenderedPageTable* table) {
    if (request < table->slots || request >= table->slots + kRenderedPageSlots) return;
    clearUsedBit(&table->used, (u32)(request - table->slots));
}

FixedString fileStatusString(u32 status) {
    static const char* const texts[] = {
        "Not yet processed",
        "Processing",
        "Success",
        "Documents directory doesn't exist",
        "Cant access app folder",
        "Too many open files",
        "File path is empty",
        "File could not be opened: Unknown Error",
        "File could not be opened: Access Denied",
        "File not found",
        "File path syntax is incorrect",
        "File is larger than allowed",
        "Read failed",
        "Write failed",
        "Could not get file size",
        "Could not get last modified time",
        "Memory allocation failed",
        "Could not create app directory",
        "Could not create sub directory",
        "Could not create file",
        "File picker cancelled",
        "Failed to get result from file picker",
    };
    if (status < sizeof(texts) / sizeof(texts[0])) return makeString(texts[status]);
    return formatInt("Code @", (i64)status);
}

FixedString fileFailureReasonString(u32 reason) {
    static const char* const texts[] = {
        "",
        "disk full",
        "disk quota exceeded",
        "read-only file system",
        "access denied",
        "input/output error",
        "file too large",
        "a file of that name exists",
        "folder not found",
    };
    if (reason < sizeof(texts) / sizeof(texts[0])) return makeString(texts[reason]);
    return FixedString{};
}

FixedString fileJobFailureText(const FileJobResult* result) {
    FixedString reason = fileFailureReasonString(result->reason);
    return reason.length ? reason : fileStatusString(readStatus(&result->status));
}

FixedString fileNameOfPath(FixedString path) {
    const u8* text = (const u8*)path.text;
    i64 position = 0;
    i64 start = 0;
    for (;;) {
        i64 before = position;
        i32 codepoint = utf8DecodeNext(text, path.length, &position);
        if (codepoint == kUtf8End || codepoint == kUtf8Truncated) {
            position = before;
            break;
        }
        if (codepoint == '/' || codepoint == '\\') start = position;
    }
    return stringFromBytes(path.text + start, path.length - start);
}

FixedString toWindowsPath(FixedString path) {
    for (u32 i = 0; i < path.length; i++) {
        if (path.text[i] == '/') path.text[i] = '\\';
    }
    return path;
}

u64 utf8ToUtf16(FixedString text, u16* out, u64 capacity) {
    if (capacity == 0) return 0;
    u64 count = 0;
    i64 position = 0;
    for (;;) {
        i32 codepoint = utf8DecodeNext((const u8*)text.text, text.length, &position);
        if (codepoint == kUtf8End || codepoint == kUtf8Truncated) break;
        if (codepoint < 0) continue;
        if ((codepoint >= 0xD800 && codepoint <= 0xDFFF) || codepoint > 0x10FFFF) continue;
        if (codepoint > 0xFFFF) {
            if (count + 2 > capacity - 1) break;
            u32 value = (u32)codepoint - 0x10000;
            out[count++] = (u16)(0xD800 + (value >> 10));
            out[count++] = (u16)(0xDC00 + (value & 0x3FF));
        } else {
            if (count + 1 > capacity - 1) break;
            out[count++] = (u16)codepoint;
        }
    }
    out[count] = 0;
    return count;
}
