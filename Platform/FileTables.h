// The tables through which the main thread hands file work to the file thread: read requests
// (whole files, picked files, folder listings), file jobs (write, append, delete, move) and PDF page
// renders. The main thread fills a slot and sets its used bit last; the file thread fills the result
// and sets the status last. Results are polled on later frames, never awaited.
#pragma once
#include "Core/FixedString.h"

// The state of a read request or a file job. 0 and 1: not finished; 2: done; 3 and above: failed.
enum FileStatus : u32 {
    FileStatusNotYetProcessed = 0,
    FileStatusProcessing = 1,
    FileStatusSuccess = 2,
    FileStatusNoDocumentsFolder = 3,
    FileStatusCantAccessAppFolder = 4,
    FileStatusTooManyOpenFiles = 5,
    FileStatusEmptyPath = 6,
    FileStatusOpenUnknownError = 7,
    FileStatusAccessDenied = 8,
    FileStatusNotFound = 9,
    FileStatusBadPathSyntax = 10,
    FileStatusTooLarge = 11,
    FileStatusReadFailed = 12,
    FileStatusWriteFailed = 13,
    FileStatusNoFileSize = 14,
    FileStatusNoModifiedTime = 15,
    FileStatusOutOfMemory = 16,
    FileStatusCantCreateAppFolder = 17,
    FileStatusCantCreateSubfolder = 18,
    FileStatusCantCreateFile = 19,
    FileStatusPickerCancelled = 20,
    FileStatusPickerFailed = 21,
};

// Kinds of read request.
enum FileReadKind : u32 {
    FileReadKindRead = 0,
    FileReadKindPick = 1,  // the operator picks a file, which is then read
    FileReadKindList = 2,  // folder listing
};

// Who frees a slot the file thread serves: the requester releasing it and the file thread finishing
// it each swap their mark in, and whichever comes second frees. A request released while the file
// thread still serves it is thereby cancelled: the file thread frees what it made and the slot.
enum FileHandoff : u32 {
    FileHandoffOpen = 0,
    FileHandoffReleased = 1,
    FileHandoffFinished = 2,
    FileHandoffDelivering = 3,  // a job's outcome is being copied to the requester's result
};

constexpr u32 kFileTableSlots = 1024;
constexpr u32 kFileTableWords = kFileTableSlots / 64;

struct FileReadRequest {
    FixedString name;  // last path component; for a listing, the absolute folder searched, ending in "/"
    FixedString path;  // relative to the data folder with "/" separators, or absolute (reads only)
    u64 bytesRead;
    u64 fileSize;
    u64 modifiedMs;  // last write, milliseconds since 1601-01-01 UTC
    u8* data;  // the file's bytes begin headroom bytes after this
    u32 pdfDocumentNumber;  // the loaded PDF document's number after a read of a ".pdf"; else 0
    FixedString statusText;
    u32 status;  // FileStatus
    u32 kind;  // FileReadKind
    u32 requesterTag;  // the requester's own mark; the file thread never changes it
    u64 maxSize;  // largest file accepted; for a caller's buffer, its capacity
    u32 headroom;  // free bytes in front of the data in a buffer the file thread allocates
    u32 ownsBuffer;  // 1: releasing the request frees data
    u32 handoff;  // FileHandoff
};

struct FileReadTable {
    u64 used[kFileTableWords];  // bit i of word w: slot 64 w + i is in use
    FileReadRequest slots[kFileTableSlots];
    FileReadRequest fullTableSlot;  // handed out with status 5 when no slot is free
};

// One entry of a folder listing; entries are packed one after another in the listing's buffer.
struct FolderEntry {
    u64 size;  // bytes; 0 for a folder
    u64 modified;  // last write in 100-nanosecond units since 1601-01-01 UTC; 0 for a folder
    u32 isFolder;
    u32 isFile;
    FixedString name;
};
static_assert(sizeof(FolderEntry) == 280);

// Why a job failed, as far as the system told: kept beside the status of a failed job, so that
// the operator reads the file system's reason ("disk full") rather than only the job's step.
enum FileFailureReason : u32 {
    FileReasonNone = 0,
    FileReasonDiskFull = 1,
    FileReasonQuotaExceeded = 2,
    FileReasonReadOnly = 3,
    FileReasonAccessDenied = 4,
    FileReasonInputOutput = 5,
    FileReasonFileTooLarge = 6,
    FileReasonExists = 7,  // a move found a file under the new name
    FileReasonNotFound = 8,
    FileReasonOther = 9,
};

struct FileJobResult {
    u32 size;  // bytes asked to be written
    u32 written;  // bytes the system took; for a failed append, before it failed (the file is cut back)
    u32 status;  // FileStatus
    u32 reason = FileReasonNone;  // FileFailureReason of a failed job
};

enum FileJobMode : u32 {
    FileJobWrite = 0,  // size 0: delete
    // The bytes go to the end of the file whole or not at all: an append that fails part way cuts
    // the file back to the length it had.
    FileJobAppend = 1,
    FileJobMove = 2,  // data holds the new file name, size bytes; the file keeps its folder
    // Makes the folders of the path as a write would and checks that a file could be written there
    // (a writable folder, free space); no file is touched. Fails with the reason a write would.
    FileJobCheck = 3,
};

struct FileJob {
    FixedString path;  // relative to the data folder with "/" separators
    const char* mimeType;  // kept with the job, not interpreted
    u8* data;
    u64 id;
    u32 freeData;  // 1: the file thread frees data after the job
    u32 mode;  // FileJobMode
    FileJobResult own;  // its status turns final last, when the file thread is done with the slot
    FileJobResult* result;  // the requester's copy, may be null; filled once, when the job is done
    u32 handoff;  // FileHandoff
};

struct FileJobTable {
    u64 nextId;
    u64 used[kFileTableWords];
    FileJob slots[kFileTableSlots];
};

// PDF page renders. Page statuses, not FileStatus codes.
enum PdfPageStatus : u32 {
    PdfPageNew = 0,
    PdfPageProcessing = 1,
    PdfPageDone = 2,
    PdfPageNotLoaded = 4,  // the document is no longer loaded
    PdfPageFailed = 5,
};

constexpr u32 kRenderedPageSlots = 64;

struct RenderedPageSlot {
    u8* pixels;  // the requester's buffer of capacity bytes; receives RGBA rows of width x 4 bytes
    u32 width;
    u32 height;
    u32 status;  // PdfPageStatus
    FixedString message;  // empty on success, else the reason
    u32 document;  // pdfDocumentNumber of the read that loaded the PDF
    u32 page;  // from 0
    u64 capacity;  // bytes at pixels; the page gets at most capacity / 4 pixels
};

// Page renders shared with the file thread. The error slot is never served: it is what a request
// gets when all 64 slots are taken, already failed.
struct RenderedPageTable {
    u64 used;  // bit i: slot i
    RenderedPageSlot slots[kRenderedPageSlots];
    RenderedPageSlot errorSlot;
};

// Buffers that travel between the threads: file contents, listings and job data that the file thread
// frees. Both sides allocate and free them through these two.
u8* allocateFileBuffer(u64 size);
void freeFileBuffer(void* data);

// Main-thread side. Each request maker returns the slot, or the full-table slot with status 5.
// A whole-file read into a buffer that the file thread allocates, with headroom free bytes in front.
FileReadRequest* requestFile(FixedString path, u64 maxSize, u32 headroom, FileReadTable* table);
// A whole-file read into the caller's buffer. Released before it is done, the read may still write
// into the buffer until the file thread lets go of the slot: the buffer must stay until then.
FileReadRequest* requestFileIntoBuffer(FixedString path, u8* buffer, u64 capacity, FileReadTable* table);
// A listing of a folder below the data folder (empty path: the data folder itself).
FileReadRequest* requestFolderListing(FixedString path, FileReadTable* table);
// The operator picks a file with the system's picker; the file is then read like requestFile.
// acceptedTypes: MIME types separated by blanks.
FileReadRequest* requestPickedFile(FixedString acceptedTypes, u64 maxSize, u32 requesterTag, FileReadTable* table);
// Bytes already in memory registered as a finished read (status 2). With no free slot and
// takeOwnership 1 the buffer is freed.
FileReadRequest* fileRequestFromBuffer(u8* buffer, u64 size, u32 takeOwnership, FixedString path, u64 modifiedMs,
                                       FileReadTable* table);
// Frees data when the status is 2 and the request owns it, then frees the slot. A request the file
// thread has not finished is cancelled instead: the file thread frees its buffer and the slot when it
// is done. The full-table slot and pointers outside the table change nothing; releasing a slot twice
// is a fault (an assertion in the test build).
void releaseFileReadRequest(FileReadRequest* request, FileReadTable* table);
// The status as the file thread last published it.
u32 fileRequestStatus(const FileReadRequest* request);

// Queues a write (size 0: delete), append or move. With the table full of unfinished jobs the job is
// dropped: result shows status 5, and data is freed when freeData is 1.
void enqueueFileJob(FixedString path, const char* mimeType, u8* data, u32 size, u32 freeData, u32 mode,
                    FileJobTable* table, FileJobResult* result);
u32 fileJobStatus(const FileJobResult* result);
// The requester gives up result (before its memory goes): a queued or running job still runs, but
// no longer writes to it. Releasing a result twice is a fault (an assertion in the test build); a
// result of a finished or dropped job changes nothing.
void releaseFileJob(const FileJobResult* result, FileJobTable* table);
// 1 when the next enqueueFileJob on this table will be queued (main thread: only it fills slots).
u32 fileJobSlotAvailable(FileJobTable* table);

// The lowest free page slot with its fields set and its bit set last. When all 64 are taken: the
// table's error slot, failed (status 5) with "Too many rendered pages".
RenderedPageSlot* requestRenderedPage(u8* pixels, u32 document, u32 page, u64 capacity, RenderedPageTable* table);
u32 renderedPageStatus(const RenderedPageSlot* request);
// Clears the slot's bit; the error slot changes nothing.
void releaseRenderedPageSlot(RenderedPageSlot* slot, RenderedPageTable* table);

// Texts and path helpers.
FixedString fileStatusString(u32 status);
// The text of a failure reason ("disk full", "read-only file system"); empty for none.
FixedString fileFailureReasonString(u32 reason);
// What went wrong with a finished job, as the operator should read it: the system's reason when it
// gave one, else the status text.
FixedString fileJobFailureText(const FileJobResult* result);
// The last component of a path: the text after the last "/" or "\".
FixedString fileNameOfPath(FixedString path);
// The same text with every "/" replaced by "\".
FixedString toWindowsPath(FixedString path);
// UTF-8 into at most capacity - 1 UTF-16 units and a zero unit; returns the units before the zero.
u64 utf8ToUtf16(FixedString text, u16* out, u64 capacity);

// Shared by both threads: the used bits and statuses with acquire/release order.
bool isSlotUsed(const u64* used, u32 index);
// File-thread side: the slot is in use with status 0 and completely filled (its bit is read again
// after the status, so a slot being refilled is never taken half-written).
bool isNewFileWork(const u64* used, u32 index, const u32* status);
void publishStatus(u32* status, u32 value);
u32 readStatus(const u32* status);
// File-thread side: a request is done (its final status published, or cancelled before it ran). When
// its requester has already released it, its buffer and its slot are freed here.
void finishServedRequest(FileReadRequest* request, FileReadTable* table);
bool isReleasedRequest(const FileReadRequest* request);
// File-thread side: hands a job's outcome to its requester unless released, then publishes it in the
// slot, whose status turns final last.
void finishFileJob(FileJob* job, const FileJobResult* outcome);
// After the file thread has ended: frees the buffers it made that were never released and the data
// of jobs it never ran.
void freeFileTableBuffers(FileReadTable* table);
void freeFileJobData(FileJobTable* table);
