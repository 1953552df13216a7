// Whole-file reads, folder listings and file jobs on POSIX files, run on the file thread.
#include "Platform/FileSystem.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "Core/Clock.h"

namespace {

constexpr i64 kReadPathCapacity = 253;  // a full path must fit a FixedString
constexpr i64 kListingPathCapacity = 249;  // and a listing's folder leaves room for its pattern

// A path text being built; `fits` turns 0 once anything did not fit in the capacity.
struct PathText {
    char text[512];
    i64 length;
    i64 capacity;
    u32 fits;
};

PathText makePathText(i64 capacity) {
    PathText path{};
    path.capacity = capacity;
    path.fits = 1;
    return path;
}

void appendPath(PathText* path, const char* bytes, i64 count) {
    if (path->length + count > path->capacity) {
        path->fits = 0;
        return;
    }
    std::memcpy(path->text + path->length, bytes, (size_t)count);
    path->length += count;
    path->text[path->length] = 0;
}

// Appends a relative path with "\" turned into "/".
void appendRelative(PathText* path, const char* bytes, i64 count) {
    i64 start = path->length;
    appendPath(path, bytes, count);
    if (!path->fits) return;
    for (i64 i = start; i < path->length; i++) {
        if (path->text[i] == '\\') path->text[i] = '/';
    }
}

FixedString toFixed(const PathText& path) { return stringFromBytes(path.text, path.length); }

bool isSeparator(char c) { return c == '/' || c == '\\'; }

u32 documentsFolderExists(FixedString dataFolder) {
    if (dataFolder.length == 0) return 0;
    FixedString documents = documentsFolderOf(dataFolder);
    struct stat info;
    return stat(documents.text, &info) == 0 && S_ISDIR(info.st_mode);
}

u64 modifiedMsOf(const struct stat& info) {
    return (u64)((i64)info.st_mtim.tv_sec * 1000 + info.st_mtim.tv_nsec / 1000000 + kUnixEpochIn1601Milliseconds);
}

u64 modifiedTicksOf(const struct stat& info) {
    return (u64)(((i64)info.st_mtim.tv_sec + kUnixEpochIn1601Milliseconds / 1000) * 10000000 +
                 info.st_mtim.tv_nsec / 100);
}

// A job stopped by a test's hook, as a crash would stop it: nothing more is done or cleaned up.
constexpr u32 kStoppedByHook = 0xFFFF;

std::atomic<const FileSystemTestHooks*> testHooks{nullptr};

// 1 when the job goes on after this step.
bool stepDone(u32 step) {
    const FileSystemTestHooks* hooks = testHooks.load(std::memory_order_acquire);
    return !hooks || !hooks->afterStep || hooks->afterStep(hooks->context, step);
}

void finishJob(u32 status, u32 written, FileJobResult* own, FileJobResult* result, int error = 0) {
    if (status == kStoppedByHook) status = FileStatusWriteFailed;
    u32 reason = status == FileStatusSuccess ? FileReasonNone : fileFailureReasonFromErrno(error);
    own->written = written;
    own->reason = reason;
    if (result) {
        result->written = written;
        result->reason = reason;
        publishStatus(&result->status, status);
    }
    // Last: once the job's own status is final the main thread may reuse the slot.
    publishStatus(&own->status, status);
}

// Writes all bytes, going on after short writes; returns the bytes written, and in *error the errno
// of the write that stopped it.
u32 writeAll(int fd, const u8* data, u32 size, int* error) {
    u32 total = 0;
    *error = 0;
    while (total < size) {
        i64 want = size - total;
        const FileSystemTestHooks* hooks = testHooks.load(std::memory_order_acquire);
        if (hooks && hooks->allowWrite) {
            int refused = ENOSPC;
            i64 allowed = hooks->allowWrite(hooks->context, want, &refused);
            if (allowed <= 0) {
                *error = refused;
                break;
            }
            if (allowed < want) want = allowed;
        }
        ssize_t wrote = write(fd, data + total, (size_t)want);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            *error = wrote < 0 ? errno : ENOSPC;
            break;
        }
        total += (u32)wrote;
    }
    return total;
}

void syncFolderOf(FixedString fullPath) {
    i64 end = fullPath.length;
    while (end > 0 && fullPath.text[end - 1] != '/') end--;
    if (end == 0) return;
    FixedString folder = stringFromBytes(fullPath.text, end);
    int fd = open(folder.text, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// Creates a folder; an existing folder is fine.
bool makeFolder(const char* path) {
    if (mkdir(path, 0777) == 0) return true;
    if (errno != EEXIST) return false;
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// A failed read: its text first, then the final status.
void failRead(FileReadRequest* request, u32 status) {
    request->statusText = fileStatusString(status);
    publishStatus(&request->status, status);
}

}  // namespace

u32 fileStatusFromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return FileStatusNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return FileStatusAccessDenied;
        case ENAMETOOLONG:
        case EINVAL:
        case EILSEQ:
            return FileStatusBadPathSyntax;
        default:
            return FileStatusOpenUnknownError;
    }
}

u32 fileFailureReasonFromErrno(int error) {
    switch (error) {
        case 0: return FileReasonNone;
        case ENOSPC: return FileReasonDiskFull;
        case EDQUOT: return FileReasonQuotaExceeded;
        case EROFS: return FileReasonReadOnly;
        case EACCES:
        case EPERM: return FileReasonAccessDenied;
        case EIO: return FileReasonInputOutput;
        case EFBIG: return FileReasonFileTooLarge;
        case EEXIST: return FileReasonExists;
        case ENOENT:
        case ENOTDIR: return FileReasonNotFound;
        default: return FileReasonOther;
    }
}

void setFileSystemTestHooks(const FileSystemTestHooks* hooks) { testHooks.store(hooks, std::memory_order_release); }

FixedString documentsFolderOf(FixedString dataFolder) {
    i64 end = dataFolder.length;
    while (end > 0 && dataFolder.text[end - 1] == '/') end--;
    while (end > 0 && dataFolder.text[end - 1] != '/') end--;
    while (end > 1 && dataFolder.text[end - 1] == '/') end--;
    return stringFromBytes(dataFolder.text, end);
}

u32 isPathInsideDataFolder(FixedString path) {
    if (path.length > 0 && isSeparator(path.text[0])) return 0;
    i64 start = 0;
    for (i64 i = 0; i <= path.length; i++) {
        if (i == path.length || isSeparator(path.text[i])) {
            if (i - start == 2 && path.text[start] == '.' && path.text[start + 1] == '.') return 0;
            start = i + 1;
        }
    }
    return 1;
}

u32 readEntireFile(FixedString fullPath, u8* buffer, i64 maxSize, u32 headroom, FileReadRequest* request) {
    int fd = open(fullPath.text, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        failRead(request, fileStatusFromErrno(errno));
        return 0;
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        close(fd);
        failRead(request, FileStatusNoFileSize);
        return 0;
    }
    if (S_ISDIR(info.st_mode)) {
        close(fd);
        failRead(request, FileStatusAccessDenied);
        return 0;
    }
    request->fileSize = (u64)info.st_size;
    request->modifiedMs = modifiedMsOf(info);
    i64 needed = (i64)info.st_size + (buffer ? (i64)headroom : 0);
    if ((i64)info.st_size > maxSize || needed > maxSize) {
        close(fd);
        failRead(request, FileStatusTooLarge);
        return 0;
    }
    u8* target = buffer;
    if (!target) {
        target = allocateFileBuffer((u64)info.st_size + headroom);
        if (!target) {
            close(fd);
            failRead(request, FileStatusOutOfMemory);
            return 0;
        }
    }
    publishStatus(&request->status, FileStatusProcessing);
    u64 total = 0;
    while (total < (u64)info.st_size) {
        ssize_t got = read(fd, target + headroom + total, (size_t)((u64)info.st_size - total));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        total += (u64)got;
    }
    close(fd);
    if (total < (u64)info.st_size) {
        if (!buffer) freeFileBuffer(target);
        failRead(request, FileStatusReadFailed);
        return 0;
    }
    request->bytesRead = total;
    request->data = target;
    return 1;
}

FileRequestResult processFileRequest(FixedString dataFolder, FixedString path, u8* buffer, u64 maxSize, u32 headroom,
                                     FileReadRequest* request) {
    FileRequestResult result{};
    request->name = fileNameOfPath(path);
    request->bytesRead = 0;
    request->fileSize = 0;
    request->modifiedMs = 0;
    request->data = nullptr;

    PathText full = makePathText(kReadPathCapacity);
    if (path.length > 0 && path.text[0] == '/') {
        if (!isPathInsideDataFolder(stringFromBytes(path.text + 1, path.length - 1))) {
            failRead(request, FileStatusBadPathSyntax);
            return result;
        }
        appendPath(&full, path.text, path.length);
    } else {
        if (!documentsFolderExists(dataFolder)) {
            failRead(request, FileStatusNoDocumentsFolder);
            return result;
        }
        if (!isPathInsideDataFolder(path)) {
            failRead(request, FileStatusBadPathSyntax);
            return result;
        }
        appendPath(&full, dataFolder.text, dataFolder.length);
        appendRelative(&full, path.text, path.length);
    }
    if (!full.fits || path.truncated) {
        failRead(request, FileStatusBadPathSyntax);
        return result;
    }
    result.fullPath = toFixed(full);
    i64 limit = maxSize > (u64)INT64_MAX ? INT64_MAX : (i64)maxSize;
    result.ok = readEntireFile(result.fullPath, buffer, limit, headroom, request);
    return result;
}

void listFolder(FixedString dataFolder, FileReadRequest* request) {
    publishStatus(&request->status, FileStatusProcessing);
    if (!documentsFolderExists(dataFolder)) {
        publishStatus(&request->status, FileStatusNoDocumentsFolder);
        return;
    }
    PathText folder = makePathText(kListingPathCapacity);
    appendPath(&folder, dataFolder.text, dataFolder.length);
    appendRelative(&folder, request->path.text, request->path.length);
    if (folder.length > 0 && folder.text[folder.length - 1] != '/') appendPath(&folder, "/", 1);
    if (!folder.fits || request->path.truncated || !isPathInsideDataFolder(request->path)) {
        publishStatus(&request->status, FileStatusBadPathSyntax);
        return;
    }
    request->name = toFixed(folder);

    DIR* directory = opendir(folder.text);
    if (!directory) {
        int error = errno;
        publishStatus(&request->status,
                      (error == ENOENT || error == ENOTDIR) ? FileStatusNotFound : FileStatusOpenUnknownError);
        return;
    }
    u64 count = 0;
    while (readdir(directory)) count++;
    closedir(directory);

    FolderEntry* entries = (FolderEntry*)allocateFileBuffer(count * sizeof(FolderEntry));
    if (!entries) {
        publishStatus(&request->status, FileStatusOutOfMemory);
        return;
    }
    directory = opendir(folder.text);
    if (!directory) {
        freeFileBuffer(entries);
        publishStatus(&request->status, errno == ENOENT ? FileStatusNotFound : FileStatusOpenUnknownError);
        return;
    }
    u64 found = 0;
    while (found < count) {
        struct dirent* item = readdir(directory);
        if (!item) break;
        FolderEntry* entry = &entries[found++];
        std::memset(entry, 0, sizeof(*entry));
        entry->name = makeString(item->d_name);
        struct stat info;
        if (fstatat(dirfd(directory), item->d_name, &info, 0) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            entry->isFolder = 1;
        } else {
            entry->isFile = S_ISREG(info.st_mode) ? 1 : 0;
            entry->size = (u64)info.st_size;
            entry->modified = modifiedTicksOf(info);
        }
    }
    closedir(directory);
    if (found < count) {
        FolderEntry* exact = (FolderEntry*)allocateFileBuffer(found * sizeof(FolderEntry));
        if (!exact) {
            freeFileBuffer(entries);
            publishStatus(&request->status, FileStatusOutOfMemory);
            return;
        }
        std::memcpy(exact, entries, found * sizeof(FolderEntry));
        freeFileBuffer(entries);
        entries = exact;
    }
    request->bytesRead = found * sizeof(FolderEntry);
    request->fileSize = found * sizeof(FolderEntry);
    request->data = (u8*)entries;
    publishStatus(&request->status, FileStatusSuccess);
}

u32 writeTemporaryBeside(FixedString fullPath, const u8* data, u32 size, u32* written, FixedString* temporaryPath,
                         int* error) {
    int ignored = 0;
    if (!error) error = &ignored;
    *error = 0;
    *written = 0;
    i64 nameStart = fullPath.length;
    while (nameStart > 0 && fullPath.text[nameStart - 1] != '/') nameStart--;
    PathText temporary = makePathText(kReadPathCapacity);
    appendPath(&temporary, fullPath.text, nameStart);
    appendPath(&temporary, ".", 1);
    appendPath(&temporary, fullPath.text + nameStart, fullPath.length - nameStart);
    appendPath(&temporary, ".saving", 7);
    if (!temporary.fits) return FileStatusBadPathSyntax;
    *temporaryPath = toFixed(temporary);

    int fd = open(temporary.text, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = errno;
        return fileStatusFromErrno(*error);
    }
    *written = writeAll(fd, data, size, error);
    bool complete = *written == size;
    if (complete && !stepDone(FileStepTemporaryWritten)) {
        close(fd);
        return kStoppedByHook;
    }
    if (complete && fsync(fd) != 0) {
        *error = errno;
        complete = false;
    }
    if (complete && !stepDone(FileStepTemporarySynced)) {
        close(fd);
        return kStoppedByHook;
    }
    if (close(fd) != 0 && complete) {
        *error = errno;
        complete = false;
    }
    if (!complete) {
        if (!*error) *error = EIO;
        unlink(temporary.text);
        return FileStatusWriteFailed;
    }
    return FileStatusSuccess;
}

namespace {

// The bytes go to the end of the file whole or not at all: a write that stops part way is cut off
// again, so the file never ends in a piece of what was appended.
void appendToFile(const char* path, const u8* data, u32 size, FileJobResult* own, FileJobResult* result) {
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) {
        int error = errno;
        return finishJob(fileStatusFromErrno(error), 0, own, result, error);
    }
    struct stat info;
    off_t start = fstat(fd, &info) == 0 ? info.st_size : -1;
    int error = 0;
    u32 written = writeAll(fd, data, size, &error);
    bool complete = written == size;
    if (!complete && start >= 0 && ftruncate(fd, start) != 0 && !error) error = errno;
    if (close(fd) != 0 && complete) {
        error = errno;
        complete = false;
        if (start >= 0 && truncate(path, start) != 0) error = errno;
    }
    if (complete && !stepDone(FileStepAppended)) return finishJob(kStoppedByHook, written, own, result);
    if (!complete && !error) error = EIO;
    finishJob(complete ? FileStatusSuccess : FileStatusWriteFailed, written, own, result, error);
}

// Whether a file could be written in the folder of fullPath: the folder writable and the disk
// with room. The errno of what stands in the way, or 0.
int folderRefusesWrites(const char* fullPath, i64 folderLength) {
    char folder[512];
    std::memcpy(folder, fullPath, (size_t)folderLength);
    folder[folderLength] = 0;
    if (access(folder, W_OK | X_OK) != 0) return errno;
    struct statvfs space;
    if (statvfs(folder, &space) == 0 && space.f_bavail == 0) return ENOSPC;
    return 0;
}

// A move never replaces another file; the file is made durable before it takes its new name.
void moveFile(const char* from, FixedString fullPath, const char* to, FileJobResult* own, FileJobResult* result) {
    int fd = open(from, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) != 0) {
        int error = errno;
        return finishJob(error == EEXIST ? FileStatusOpenUnknownError : fileStatusFromErrno(error), 0, own, result,
                         error);
    }
    if (!stepDone(FileStepMoved)) return finishJob(kStoppedByHook, 0, own, result);
    syncFolderOf(fullPath);
    finishJob(FileStatusSuccess, 0, own, result);
}

}  // namespace

void runFileJob(FixedString dataFolder, FixedString path, const char* mimeType, u8* data, u32 size, u32 mode,
                FileJobResult* own, FileJobResult* result) {
    (void)mimeType;
    own->size = size;
    own->written = 0;
    if (result) {
        result->size = size;
        result->written = 0;
    }
    bool isDelete = size == 0 && mode == FileJobWrite;
    bool isMove = mode == FileJobMove;
    bool createsFolders = !isDelete && !isMove;

    if (!documentsFolderExists(dataFolder)) return finishJob(FileStatusNoDocumentsFolder, 0, own, result, ENOENT);
    if (path.length == 0) return finishJob(FileStatusEmptyPath, 0, own, result);
    if (path.truncated || !isPathInsideDataFolder(path)) return finishJob(FileStatusBadPathSyntax, 0, own, result);

    PathText full = makePathText(kReadPathCapacity);
    appendPath(&full, dataFolder.text, dataFolder.length);
    while (full.length > 1 && full.text[full.length - 1] == '/') full.text[--full.length] = 0;
    if (createsFolders && full.fits && !makeFolder(full.text)) {
        return finishJob(FileStatusCantCreateAppFolder, 0, own, result, errno);
    }
    // Every component before a separator is a folder, created for writes and appends; an empty
    // component ends the folders and the rest is the file name.
    i64 start = 0;
    for (i64 i = 0; i < path.length; i++) {
        if (!isSeparator(path.text[i])) continue;
        if (i == start) {
            start = i + 1;
            break;
        }
        appendPath(&full, "/", 1);
        appendPath(&full, path.text + start, i - start);
        if (!full.fits) break;
        if (createsFolders && !makeFolder(full.text)) {
            return finishJob(FileStatusCantCreateSubfolder, 0, own, result, errno);
        }
        start = i + 1;
    }
    appendPath(&full, "/", 1);
    i64 folderLength = full.length;
    appendRelative(&full, path.text + start, path.length - start);
    if (!full.fits || full.length == folderLength) return finishJob(FileStatusBadPathSyntax, 0, own, result);
    FixedString fullPath = toFixed(full);

    if (isDelete) {
        if (unlink(full.text) != 0) {
            int error = errno;
            return finishJob(fileStatusFromErrno(error), 0, own, result, error);
        }
        if (!stepDone(FileStepDeleted)) return finishJob(kStoppedByHook, 0, own, result);
        return finishJob(FileStatusSuccess, 0, own, result);
    }
    if (isMove) {
        FixedString target = stringFromBytes(data, size);
        if (size == 0 || !data || target.truncated || std::memchr(data, 0, size) || !isPathInsideDataFolder(target)) {
            return finishJob(FileStatusBadPathSyntax, 0, own, result);
        }
        PathText moved = makePathText(kReadPathCapacity);
        appendPath(&moved, full.text, folderLength);
        appendRelative(&moved, target.text, target.length);
        if (!moved.fits) return finishJob(FileStatusBadPathSyntax, 0, own, result);
        return moveFile(full.text, toFixed(moved), moved.text, own, result);
    }
    if (mode == FileJobCheck) {
        int error = folderRefusesWrites(full.text, folderLength);
        return finishJob(error ? FileStatusWriteFailed : FileStatusSuccess, 0, own, result, error);
    }
    if (mode == FileJobWrite) {
        FixedString temporary{};
        u32 written = 0;
        int error = 0;
        u32 status = writeTemporaryBeside(fullPath, data, size, &written, &temporary, &error);
        if (status != FileStatusSuccess) return finishJob(status, written, own, result, error);
        if (rename(temporary.text, full.text) != 0) {
            error = errno;
            unlink(temporary.text);
            return finishJob(fileStatusFromErrno(error), written, own, result, error);
        }
        if (!stepDone(FileStepRenamed)) return finishJob(kStoppedByHook, written, own, result);
        syncFolderOf(fullPath);
        if (!stepDone(FileStepFolderSynced)) return finishJob(kStoppedByHook, written, own, result);
        return finishJob(FileStatusSuccess, written, own, result);
    }
    appendToFile(full.text, data, size, own, result);
}

void runFileJobPass(FixedString dataFolder, FileJobTable* table) {
    // The queued jobs as this pass finds them. The main thread leaves a job alone until its status is
    // final, so these slots stay as they are until they run here.
    u16 pending[kFileTableSlots];
    u8 done[kFileTableSlots];
    u32 pendingCount = 0;
    for (u32 i = 0; i < kFileTableSlots; i++) {
        if (isNewFileWork(table->used, i, &table->slots[i].own.status)) {
            done[pendingCount] = 0;
            pending[pendingCount++] = (u16)i;
        }
    }
    for (u32 p = 0; p < pendingCount; p++) {
        FileJob* job = &table->slots[pending[p]];
        bool blocked = false;
        for (u32 q = 0; q < pendingCount && !blocked; q++) {
            if (q == p || done[q]) continue;
            const FileJob* other = &table->slots[pending[q]];
            blocked = other->id < job->id && other->path.length == job->path.length &&
                      std::memcmp(other->path.text, job->path.text, job->path.length) == 0;
        }
        if (blocked) continue;
        u8* data = job->data;
        u32 freeData = job->freeData;
        publishStatus(&job->own.status, FileStatusProcessing);
        // The outcome reaches the requester's result only if it still wants it, and the slot last.
        FileJobResult outcome{};
        runFileJob(dataFolder, job->path, job->mimeType, data, job->own.size, job->mode, &outcome, nullptr);
        done[p] = 1;
        if (freeData && data) freeFileBuffer(data);
        job->data = nullptr;
        finishFileJob(job, &outcome);
    }
}
