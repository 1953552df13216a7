// "OrvikAppCache.bin": application state that is not a preference but must survive a restart (the
// installation id, the relay link's device name, passwords and controlling listener, the drop
// locations with their times and the VOSK armed mask, the ArduCopter id, and the plan: waypoints
// with their locks, transect region and geofence). Loaded once, then rewritten
// whole whenever the content of one of its rows changes.
#pragma once
#include "AppState/AppCacheState.h"

struct AppState;
struct Platform;

extern const AppCacheField appCacheFields[kAppCacheRowCount];

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

// The per-frame step; returns 1 on the frame on which the file was loaded successfully. A change
// of a row with settle frames (the plan) waits until it has stood still that long.
i32 updateAppCache(AppState* app, AppCacheState* state, Platform* platform);
// At the program's end: queues a rewrite when anything changed since the last one, settled or not.
void saveAppCacheAtQuit(AppState* app, AppCacheState* state, Platform* platform);
