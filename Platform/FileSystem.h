// The file thread's plain file work on the data folder: whole-file reads, folder listings and file
// jobs. Every path below the data folder is relative with "/" (or "\") separators; absolute paths are
// accepted for reads alone, and ".." never leaves the data folder.
#pragma once
#include "Platform/FileTables.h"

// The data folder ("<Documents>/Tarnwick/") as start-up formed it; reads, listings and jobs report
// "Documents directory doesn't exist" when it is empty or its Documents folder is missing.
struct FileRequestResult {
    FixedString fullPath;
    u32 ok;
};

// Forms the full path of a read and reads the file into the request. On success the status stays 1
// for the caller to finish; a failure status is final.
FileRequestResult processFileRequest(FixedString dataFolder, FixedString path, u8* buffer, u64 maxSize, u32 headroom,
                                     FileReadRequest* request);
// Reads a whole file into the caller's buffer (capacity maxSize) or a buffer allocated here with
// headroom free bytes in front. Returns 1 on success.
u32 readEntireFile(FixedString fullPath, u8* buffer, i64 maxSize, u32 headroom, FileReadRequest* request);
// Serves a listing request (kind 2): FolderEntry records in the order the system enumerates them.
void listFolder(FixedString dataFolder, FileReadRequest* request);

// Executes one job. Whole-file writes go to a temporary file beside the target that is flushed and
// renamed over it, so the old file stays whole until the new one is complete.
void runFileJob(FixedString dataFolder, FixedString path, const char* mimeType, u8* data, u32 size, u32 mode,
                FileJobResult* own, FileJobResult* result);
// The job pass: runs every queued job whose path has no earlier unfinished job, in slot order.
void runFileJobPass(FixedString dataFolder, FileJobTable* table);

// The first half of a whole-file write: the bytes into the temporary file beside fullPath, flushed.
// Returns a FileStatus (2 on success) and the bytes written; the caller renames the temporary file.
// *error receives the errno of a failure (0 when there was none).
u32 writeTemporaryBeside(FixedString fullPath, const u8* data, u32 size, u32* written, FixedString* temporaryPath,
                         int* error = nullptr);

// The FileStatus for an errno of opening, deleting or renaming.
u32 fileStatusFromErrno(int error);
// The FileFailureReason of an errno.
u32 fileFailureReasonFromErrno(int error);

// What a test puts between the file thread and the disk. allowWrite is asked before each write
// call how many of count bytes the disk takes now; fewer fail the write there with *error (an
// errno). afterStep is told when a job has done one of its steps and returns 0 to stop the job
// right there, as a crash would (nothing is cleaned up; the job reports "Write failed").
enum FileJobStep : u32 {
    FileStepTemporaryWritten = 1,  // a whole-file write's bytes are in its temporary file
    FileStepTemporarySynced = 2,   // ... and on the disk
    FileStepRenamed = 3,           // the temporary file has taken the file's name
    FileStepFolderSynced = 4,
    FileStepDeleted = 5,
    FileStepMoved = 6,
    FileStepAppended = 7,
};
struct FileSystemTestHooks {
    void* context;
    i64 (*allowWrite)(void* context, i64 count, int* error);
    u32 (*afterStep)(void* context, u32 step);
};
// Installs the hooks (null: none); they are read by the file thread on every job.
void setFileSystemTestHooks(const FileSystemTestHooks* hooks);
// The Documents folder of a data folder path ("/home/a/Documents/Tarnwick/" -> "/home/a/Documents").
FixedString documentsFolderOf(FixedString dataFolder);
// 1 when the path is relative and has no ".." component.
u32 isPathInsideDataFolder(FixedString path);
