// "OrvikAppCache.bin": application state that is not a preference but must survive a restart (the
// installation id, the relay link's device name, passwords and controlling listener, the drop
// locations with their times and the VOSK armed mask, the ArduCopter id). Loaded once, then rewritten
// whole whenever the content of one of its rows changes.
#pragma once
#include "Platform/FileTables.h"

struct AppState;
struct Platform;

constexpr u32 kAppCacheRowCount = 12;
constexpr u32 kAppCacheRetryFrames = 120;

enum AppCacheKind : i64 {
    AppCacheFixed = 0,  // stored whole
    AppCacheArray = 1,  // count elements of elementSize bytes
};

struct AppCacheField {
    const char* name;
    i64 kind;  // AppCacheKind
    u8* (*field)(AppState* app);
    i64 capacity;  // bytes available in the field
    i64 elementSize;  // 0 for a field stored whole
    u8* (*countField)(AppState* app);  // arrays: where their element count lives
    i64 countWidth;  // bytes of that count: 8, 4, 2 or 1; 0 when there is none
};

extern const AppCacheField appCacheFields[kAppCacheRowCount];

struct AppCacheState {
    u32 loaded;
    FileReadRequest* pendingRead;
    u32 loadStatus;  // FileStatus of the last finished read
    u32 retryCountdown;  // frames until a failed read or write is tried again
    u32 rewriteDue;  // rows missing from the file, or a failed write: rewrite even without a change
    u32 saveQueued;
    u32 rewrites;  // rewrites queued in this run
    i64 savedFingerprints[kAppCacheRowCount];
    FileJobResult saveJob;
};

// A hash of what the row would write: its byte count and its bytes. Any change of content changes it
// (up to hash collisions of 2^-64), an edited drop time included.
i64 cacheFieldFingerprint(AppState* app, const AppCacheField* row);
// The bytes a row writes: the whole field, or count x element size held within the capacity.
i64 cacheFieldByteCount(AppState* app, const AppCacheField* row);
// The largest file the writer can produce.
u64 appCacheMaxFileSize();

// Reads the records of a file into the state; found[i] is set for each row whose record was taken.
void parseAppCacheFile(AppState* app, const u8* data, u64 size, u32* found);
void writeAppCacheFile(AppState* app, ByteWriter* writer);

// The per-frame step; returns 1 on the frame on which the file was loaded successfully.
i32 updateAppCache(AppState* app, AppCacheState* state, Platform* platform);
