// The overlay list: one entry for each cache file in the "Overlays" folder (".kmlbin"/".kmzbin"
// vector overlays, ".pdfbin" pages of georeferenced PDFs), with the texts to show for it and, for a
// PDF page, its small preview image. The per-frame step lists the folder about once a second through
// the file thread, reads new files one at a time, drops the entries of files that have gone, and
// tries a failed read again about 2 seconds later. The Overlays screen and the overlays panel of the
// map screens only read the entries, and order them themselves (by sort key, larger first).
#pragma once
#include "Core/FixedString.h"

struct FileReadRequest;
struct FileReadTable;
struct ImageSlotTable;

constexpr u32 kOverlayListEntries = 64;
constexpr u64 kOverlayPreviewBytes = 262144;
constexpr u64 kOverlayListReadMaxBytes = 100000000;
constexpr i64 kOverlayListRetryMicroseconds = 2000000;
constexpr i64 kOverlayListListingMicroseconds = 1000000;  // how long a finished listing is used
constexpr i64 kOverlayListNoRetry = INT64_MAX;

enum OverlayListKind : u32 {
    OverlayListUnusable = 0,  // a bad name, an unknown extension or a failed read: the subtitle says which
    OverlayListRasterPage = 1,  // ".pdfbin"
    OverlayListVectorOverlay = 2,  // ".kmlbin" or ".kmzbin"
};

struct OverlayListEntry {
    u32 id;
    u32 kind;  // OverlayListKind
    u64 cacheHeader;  // vector overlays: the cache file's first 8 bytes (little-endian)
    u64 modified;  // the file's modification time, milliseconds since 1601-01-01 UTC
    i64 retryAfter;  // monotonic µs after which a failed read is tried again; kOverlayListNoRetry once read
    i64 sortKey;  // larger first: the newest file first
    FixedString displayName;
    FixedString fileName;  // as listed; the name the overlay selection holds
    FixedString subtitle;  // the date and the page or the cache's message, or why the file is unusable
    const char* iconAsset;  // the file name of the image asset shown without a preview
    u32 previewSlot;  // image slot of the preview, 0 for none
    u32 previewChannels, previewWidth, previewHeight;
    u8 previewPixels[kOverlayPreviewBytes];  // RGB, rows aligned to 4 bytes
};

struct OverlayList {
    u32 nextId;
    u32 refresh;  // set by other code: at 2 or more the folder is listed again at once
    i64 listingTime;  // monotonic µs at which the current listing was first seen finished; 0: not yet
    FileReadRequest* listing;  // the folder listing of "Overlays" in flight or in use, or null
    FileReadRequest* entryRead;  // the one file being read for a new entry, or null
    u64 used;  // bit i: entries[i] is in use
    OverlayListEntry entries[kOverlayListEntries];
};

// The per-frame step. now is monotonic microseconds; scratch (scratchSize bytes) is working memory
// for decoding previews. Dates are shown in the local time zone.
void updateOverlayList(OverlayList* list, FileReadTable* reads, ImageSlotTable* slots, u8* scratch, u64 scratchSize,
                       u64 now);

// Fills a zeroed entry from a file that was read whole: kind, display name, subtitle, cache header
// and preview pixels (no image slot is claimed). modifiedMs is milliseconds since 1601-01-01 UTC and
// timeZoneOffsetMs the local zone's offset. Reads only within size bytes.
void readOverlayListEntry(OverlayListEntry* entry, FixedString fileName, const u8* bytes, u64 size, u64 modifiedMs,
                          i64 timeZoneOffsetMs, u8* scratch, u64 scratchSize);

// The local date text of a modification time: "year-month-day   hour:" and the minutes as two digits.
FixedString overlayListDateText(u64 modifiedMs, i64 timeZoneOffsetMs);

// The used entries' indices in order of decreasing sort key (equal keys in entry order); returns
// their count.
u32 sortedOverlayListEntries(const OverlayList* list, u8 order[kOverlayListEntries]);

// Lets go of the requests in flight and the preview slots (at the program's end).
void releaseOverlayList(OverlayList* list, FileReadTable* reads, ImageSlotTable* slots);
