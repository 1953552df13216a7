// The files of "Exported Kmzs" (hidden ones, whose names begin with ".", left out: they are still
// being written): the folder is listed about once a second and each new file is read
// once (one read at a time) to learn that it is there and when it was modified; its entry holds its
// name and a date text, or the reason its read failed.
#pragma once
#include "Core/FixedString.h"

struct FileReadRequest;
struct FileReadTable;
struct ImageSlotTable;

constexpr u32 kExportedKmzEntries = 64;
constexpr i64 kExportedKmzRetryMicros = 2000000;
constexpr i64 kExportedKmzListingMicros = 1000000;
constexpr u64 kExportedKmzReadLimit = 100000000;

struct ExportedKmzEntry {
    u32 id;
    u32 flags;
    u64 modified;    // milliseconds since 1970-01-01 UTC
    i64 retryAfter;  // monotonic us; the largest i64 for a file that was read
    FixedString fileName;
    FixedString subtitle;  // the local date text, or why the file is not usable
    u32 previewSlot;       // an image slot a reader of the list may set; 0 none
};

struct ExportedKmzList {
    u32 nextId;
    i64 listingTime;  // monotonic us of the finished listing; 0 not yet seen finished
    FileReadRequest* listing;
    FileReadRequest* entryRead;
    u32 refresh;  // 2 or more: list the folder again at once
    u64 used;     // bit i: entries[i]
    ExportedKmzEntry entries[kExportedKmzEntries];
};

// The per-frame step. now: monotonic microseconds; timeZoneOffsetMs: local = UTC + offset (the
// date texts are made when a file's read finishes).
void updateExportedKmzList(ExportedKmzList* list, FileReadTable* reads, ImageSlotTable* slots, i64 now,
                           i64 timeZoneOffsetMs);

// The date text of a modification time (ms since 1970): "@-@-@   @:" year, month, day, hour, then
// two-digit minutes, in local time.
FixedString exportedKmzDateText(u64 modifiedUnixMs, i64 timeZoneOffsetMs);

// The indexes of the used entries, newest modification first; returns their count.
u32 sortedExportedKmzEntries(const ExportedKmzList* list, u32 out[kExportedKmzEntries]);
