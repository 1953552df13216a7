// The records of "OrvikAppCache.bin" that the application state holds: the table row shape and the
// per-frame step's state. The file's reader, writer and step are in Application/AppCache.h.
#pragma once
#include "Platform/FileTables.h"

struct AppState;

constexpr u32 kAppCacheRowCount = 13;
constexpr u32 kAppCacheRetryFrames = 120;

enum AppCacheKind : i64 {
    AppCacheFixed = 0,  // stored whole
    AppCacheArray = 1,  // count elements of elementSize bytes
    AppCacheRecord = 2,  // bytes made and read by the row's own writer and reader
};

struct AppCacheField {
    const char* name;
    i64 kind;  // AppCacheKind
    u8* (*field)(AppState* app);
    i64 capacity;  // bytes available in the field
    i64 elementSize;  // 0 for a field stored whole
    u8* (*countField)(AppState* app);  // arrays: where their element count lives
    i64 countWidth;  // bytes of that count: 8, 4, 2 or 1; 0 when there is none
    // Records: writes the row's bytes (at most capacity), and reads them back into the state (what
    // it restored, or why nothing, it notes in the state itself).
    void (*writeRecord)(AppState* app, ByteWriter* writer) = nullptr;
    void (*readRecord)(AppState* app, const u8* bytes, u64 size) = nullptr;
    // Frames a change must have stood still before it rewrites the file (a plan being dragged on
    // the map is written once it rests); 0: at once.
    u32 settleFrames = 0;
};

struct AppCacheState {
    u32 loaded;
    FileReadRequest* pendingRead;
    u32 loadStatus;  // FileStatus of the last finished read
    u32 retryCountdown;  // frames until a failed read or write is tried again
    u32 rewriteDue;  // rows missing from the file, or a failed write: rewrite even without a change
    u32 saveQueued;
    u32 rewrites;  // rewrites queued in this run
    i64 savedFingerprints[kAppCacheRowCount];
    i64 seenFingerprints[kAppCacheRowCount];  // last frame's
    u32 unchangedFrames[kAppCacheRowCount];   // frames since a row's content last changed
    FileJobResult saveJob;
};
