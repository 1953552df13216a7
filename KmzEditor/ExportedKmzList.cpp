#include "KmzEditor/ExportedKmzList.h"

#include "Core/Clock.h"
#include "Core/Format.h"
#include "Core/ImageSlots.h"
#include "Platform/FileTables.h"

namespace {

constexpr i64 kNever = INT64_MAX;

bool entryUsed(const ExportedKmzList* list, u32 i) { return (list->used >> i) & 1; }

void dropEntry(ExportedKmzList* list, u32 i, ImageSlotTable* slots) {
    ExportedKmzEntry* entry = &list->entries[i];
    if (entry->previewSlot) {
        ImageSlot* image = slots ? getImageSlot(slots, (i32)entry->previewSlot) : nullptr;
        if (image) image->releaseRequested = 1;
        entry->previewSlot = 0;
    }
    list->used &= ~(1ull << i);
}

i32 findEntry(const ExportedKmzList* list, const FixedString& name) {
    for (u32 i = 0; i < kExportedKmzEntries; ++i) {
        if (entryUsed(list, i) && equals(list->entries[i].fileName, name)) return (i32)i;
    }
    return -1;
}

const FolderEntry* listingEntries(const FileReadRequest* listing, u64* count) {
    *count = listing->data ? listing->bytesRead / sizeof(FolderEntry) : 0;
    return reinterpret_cast<const FolderEntry*>(listing->data + listing->headroom);
}

bool listingHolds(const FileReadRequest* listing, const FixedString& name) {
    u64 count;
    const FolderEntry* entries = listingEntries(listing, &count);
    for (u64 i = 0; i < count; ++i) {
        if (entries[i].isFile && equals(entries[i].name, name)) return true;
    }
    return false;
}

void takeFinishedRead(ExportedKmzList* list, FileReadTable* reads, ImageSlotTable* slots, i64 now,
                      i64 timeZoneOffsetMs) {
    FileReadRequest* read = list->entryRead;
    list->entryRead = nullptr;
    u32 status = fileRequestStatus(read);
    FixedString name = read->name;
    for (i32 i = findEntry(list, name); i >= 0; i = findEntry(list, name)) dropEntry(list, (u32)i, slots);
    i32 free = -1;
    for (u32 i = 0; i < kExportedKmzEntries && free < 0; ++i) {
        if (!entryUsed(list, i)) free = (i32)i;
    }
    if (free < 0) {
        releaseFileReadRequest(read, reads);
        return;
    }
    ExportedKmzEntry* entry = &list->entries[free];
    *entry = ExportedKmzEntry{};
    u64 modified = read->modifiedMs > (u64)kUnixEpochIn1601Milliseconds
                       ? read->modifiedMs - (u64)kUnixEpochIn1601Milliseconds
                       : 0;
    if (status == FileStatusSuccess) {
        entry->subtitle = endsWithIgnoringCase(name.text, fixedStringLength(&name), ".kmz")
                              ? exportedKmzDateText(modified, timeZoneOffsetMs)
                              : makeString("Unrecognized file extension. (Should be .kmz).");
        entry->retryAfter = kNever;
    } else {
        entry->subtitle = fileStatusString(status);
        entry->retryAfter = now + kExportedKmzRetryMicros;
    }
    entry->id = list->nextId++;
    entry->modified = modified;
    entry->fileName = name;
    list->used |= 1ull << free;
    releaseFileReadRequest(read, reads);
}

void takeFinishedListing(ExportedKmzList* list, FileReadTable* reads, ImageSlotTable* slots, i64 now) {
    FileReadRequest* listing = list->listing;
    if (list->listingTime == 0) list->listingTime = now;
    if (fileRequestStatus(listing) != FileStatusSuccess) return;
    for (u32 i = 0; i < kExportedKmzEntries; ++i) {
        if (!entryUsed(list, i)) continue;
        if (!listingHolds(listing, list->entries[i].fileName) || list->entries[i].retryAfter <= now) {
            dropEntry(list, i, slots);
        }
    }
    if (list->entryRead) return;
    u64 count;
    const FolderEntry* entries = listingEntries(listing, &count);
    for (u64 i = 0; i < count; ++i) {
        // Hidden files are work in progress (an export being written, a save's temporary file).
        bool hidden = entries[i].name.length && entries[i].name.text[0] == '.';
        if (!entries[i].isFile || hidden || findEntry(list, entries[i].name) >= 0) continue;
        list->entryRead = requestFile(formatStr("Exported Kmzs/@", entries[i].name), kExportedKmzReadLimit, 0, reads);
        return;
    }
}

}  // namespace

FixedString exportedKmzDateText(u64 modifiedUnixMs, i64 timeZoneOffsetMs) {
    DateTimeParts t = calendarFromMilliseconds((i64)modifiedUnixMs + kUnixEpochIn1601Milliseconds + timeZoneOffsetMs);
    FixedString date = formatInt4("@-@-@   @:", t.year, t.month, t.day, t.hour);
    return formatStrCstr("@@", date, t.minuteText);
}

void updateExportedKmzList(ExportedKmzList* list, FileReadTable* reads, ImageSlotTable* slots, i64 now,
                           i64 timeZoneOffsetMs) {
    if (list->entryRead && fileRequestStatus(list->entryRead) >= FileStatusSuccess) {
        takeFinishedRead(list, reads, slots, now, timeZoneOffsetMs);
    }
    if (list->refresh >= 2) {
        list->refresh = 0;
        list->listingTime = -10000000;
    }
    if (list->listing && fileRequestStatus(list->listing) >= FileStatusSuccess) {
        takeFinishedListing(list, reads, slots, now);
        if (now - list->listingTime > kExportedKmzListingMicros) {
            releaseFileReadRequest(list->listing, reads);
            list->listing = nullptr;
        }
    }
    if (!list->listing) {
        list->listing = requestFolderListing(makeString("Exported Kmzs"), reads);
        list->listingTime = 0;
    }
}

u32 sortedExportedKmzEntries(const ExportedKmzList* list, u32 out[kExportedKmzEntries]) {
    u32 count = 0;
    for (u32 i = 0; i < kExportedKmzEntries; ++i) {
        if (!entryUsed(list, i)) continue;
        u32 at = count++;
        while (at > 0 && list->entries[out[at - 1]].modified < list->entries[i].modified) {
            out[at] = out[at - 1];
            at--;
        }
        out[at] = i;
    }
    return count;
}
