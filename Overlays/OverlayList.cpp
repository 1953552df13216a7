#include "Overlays/OverlayList.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "Core/Clock.h"
#include "Core/Format.h"
#include "Core/ImageSlots.h"
#include "Decoders/Png.h"
#include "Platform/FileTables.h"

namespace {

constexpr const char* kFolder = "Overlays";
constexpr u64 kTicksPerMillisecond = 10000;  // listing times are 100 ns ticks
constexpr i64 kLargestPage = 0x7FFFFFFF;

u64 readU32Be(const u8* at) { return (u64)at[0] << 24 | (u64)at[1] << 16 | (u64)at[2] << 8 | at[3]; }

u64 readU64Le(const u8* at) {
    u64 value = 0;
    for (i32 i = 7; i >= 0; i--) value = value << 8 | at[i];
    return value;
}

bool sameName(const FixedString& a, const FixedString& b) {
    return a.length == b.length && a.truncated == b.truncated && std::memcmp(a.text, b.text, a.length) == 0;
}

void dropEntry(OverlayList* list, u32 index, ImageSlotTable* slots) {
    OverlayListEntry* entry = &list->entries[index];
    if (entry->previewSlot && slots) {
        ImageSlot* slot = getImageSlot(slots, (i32)entry->previewSlot);
        if (slot) slot->releaseRequested = 1;
    }
    entry->previewSlot = 0;
    list->used &= ~(1ull << index);
}

void dropEntriesNamed(OverlayList* list, const FixedString& name, ImageSlotTable* slots) {
    for (u32 i = 0; i < kOverlayListEntries; i++) {
        if ((list->used >> i & 1) && sameName(list->entries[i].fileName, name)) dropEntry(list, i, slots);
    }
}

// The first free entry, zeroed and marked used; null when all are in use.
OverlayListEntry* takeEntry(OverlayList* list) {
    if (list->used == ~0ull) return nullptr;
    u32 index = (u32)std::countr_one(list->used);
    OverlayListEntry* entry = &list->entries[index];
    std::memset((void*)entry, 0, sizeof(*entry));
    list->used |= 1ull << index;
    entry->id = list->nextId++;
    return entry;
}

// A ".pdfbin" page's source name and page from "<source>_<page>.pdfbin"; false when the name does
// not say.
bool pdfBinPage(const FixedString& name, FixedString* source, i64* page) {
    i64 length = fixedStringLength(&name);
    i64 underscore = -1;
    for (i64 i = 0; i < length; i++) {
        if (name.text[i] == '_') underscore = i;
    }
    if (underscore < 0) return false;
    i64 position = underscore + 1;
    i64 number = parseInteger((const u8*)name.text, &position, length, -1);
    // More digits than a page number can have would have wrapped.
    if (number < 0 || number > kLargestPage || position - (underscore + 1) > 12) return false;
    *source = stringFromBytes(name.text, underscore);
    *page = number;
    return true;
}

// The preview of a ".pdfbin": N, the source name's length, at the start; the preview's length M at
// N + 80 and its PNG at N + 84. Lengths are added in 64 bits and read only where the file holds them.
void readPreview(OverlayListEntry* entry, const u8* bytes, u64 size, u8* scratch, u64 scratchSize) {
    if (size < 4) return;
    u64 n = readU32Be(bytes);
    if (size < n + 84) return;
    u64 m = readU32Be(bytes + n + 80);
    if (n + 84 + m >= size) return;
    ImageResult image{};
    parsePng(&image, bytes + n + 84, (i64)m, entry->previewPixels, (i64)sizeof(entry->previewPixels), 3, 4, scratch,
             (i64)scratchSize);
    if (image.error.length || image.width == 0 || image.height == 0) return;
    entry->previewChannels = 3;
    entry->previewWidth = image.width;
    entry->previewHeight = image.height;
}

void readEntryRead(OverlayList* list, FileReadTable* reads, ImageSlotTable* slots, u8* scratch, u64 scratchSize,
                   i64 now) {
    FileReadRequest* read = list->entryRead;
    u32 status = fileRequestStatus(read);
    if (status < FileStatusSuccess) return;
    dropEntriesNamed(list, read->name, slots);
    OverlayListEntry* entry = takeEntry(list);
    if (entry) {
        if (status == FileStatusSuccess) {
            readOverlayListEntry(entry, read->name, read->data ? read->data + read->headroom : nullptr,
                                 read->data ? read->bytesRead : 0, read->modifiedMs, getTimeZoneOffsetMs(), scratch,
                                 scratchSize);
            entry->retryAfter = kOverlayListNoRetry;
            if (entry->previewWidth && slots) {
                entry->previewSlot =
                    (u32)allocImageSlot(entry->previewPixels, entry->previewWidth, entry->previewHeight, 3, slots);
            }
        } else {
            entry->kind = OverlayListUnusable;
            entry->displayName = read->name;
            entry->subtitle = fileStatusString(status);
            entry->iconAsset = "bang.png";
            entry->retryAfter = now + kOverlayListRetryMicroseconds;
        }
        entry->modified = read->modifiedMs;
        entry->sortKey = (i64)read->modifiedMs;
        entry->fileName = read->name;
    }
    releaseFileReadRequest(read, reads);
    list->entryRead = nullptr;
}

bool listedFile(const FolderEntry* listed, u64 count, const FixedString& name, const FolderEntry** found) {
    for (u64 i = 0; i < count; i++) {
        if (listed[i].isFile && sameName(listed[i].name, name)) {
            *found = &listed[i];
            return true;
        }
    }
    return false;
}

bool hasEntry(const OverlayList* list, const FixedString& name) {
    for (u32 i = 0; i < kOverlayListEntries; i++) {
        if ((list->used >> i & 1) && sameName(list->entries[i].fileName, name)) return true;
    }
    return false;
}

void followListing(OverlayList* list, FileReadTable* reads, ImageSlotTable* slots, i64 now) {
    FileReadRequest* listing = list->listing;
    u32 status = fileRequestStatus(listing);
    if (status < FileStatusSuccess) return;
    if (list->listingTime == 0) list->listingTime = now;
    // A folder that is not there holds no files.
    if (status != FileStatusSuccess && status != FileStatusNotFound) return;
    bool any = status == FileStatusSuccess && listing->data;
    const FolderEntry* listed = any ? (const FolderEntry*)(listing->data + listing->headroom) : nullptr;
    u64 count = any ? listing->bytesRead / sizeof(FolderEntry) : 0;
    for (u32 i = 0; i < kOverlayListEntries; i++) {
        if (!(list->used >> i & 1)) continue;
        const OverlayListEntry* entry = &list->entries[i];
        const FolderEntry* found = nullptr;
        // A file written anew under the same name is read again.
        bool read = entry->retryAfter == kOverlayListNoRetry;
        if (!listedFile(listed, count, entry->fileName, &found) || now > entry->retryAfter ||
            (read && found->modified / kTicksPerMillisecond != entry->modified)) {
            dropEntry(list, i, slots);
        }
    }
    // Reading a file for which no entry is free would only be thrown away.
    if (list->entryRead || count == 0 || list->used == ~0ull) return;
    for (u64 i = 0; i < count; i++) {
        const FolderEntry* file = &listed[i];
        if (!file->isFile || hasEntry(list, file->name)) continue;
        FixedString path = formatStr("Overlays/@", file->name);
        if (file->name.truncated || path.truncated) {
            // The name does not fit a path: there is nothing that could be read under it.
            OverlayListEntry* entry = takeEntry(list);
            entry->fileName = file->name;
            entry->displayName = file->name;
            entry->subtitle = makeString("The file name is too long to be read");
            entry->iconAsset = "bang.png";
            entry->modified = file->modified / kTicksPerMillisecond;
            entry->sortKey = (i64)entry->modified;
            entry->retryAfter = kOverlayListNoRetry;
            return;
        }
        list->entryRead = requestFile(path, kOverlayListReadMaxBytes, 0, reads);
        return;
    }
}

}  // namespace

FixedString overlayListDateText(u64 modifiedMs, i64 timeZoneOffsetMs) {
    DateTimeParts local = calendarFromMilliseconds((i64)modifiedMs + timeZoneOffsetMs);
    FixedString date = formatInt4("@-@-@   @:", local.year, local.month, local.day, local.hour);
    return formatStrCstr("@@", date, local.minuteText);
}

void readOverlayListEntry(OverlayListEntry* entry, FixedString fileName, const u8* bytes, u64 size, u64 modifiedMs,
                          i64 timeZoneOffsetMs, u8* scratch, u64 scratchSize) {
    i64 length = fixedStringLength(&fileName);
    FixedString date = overlayListDateText(modifiedMs, timeZoneOffsetMs);
    entry->displayName = fileName;
    entry->iconAsset = "bang.png";
    if (!bytes) size = 0;
    if (endsWithIgnoringCase(fileName.text, length, ".pdfbin")) {
        FixedString source{};
        i64 page = 0;
        if (!pdfBinPage(fileName, &source, &page)) {
            entry->kind = OverlayListUnusable;
            entry->subtitle =
                makeString("Improperly formatted name. Should encode the page number, like: X.pdf_2.pdfbin");
            return;
        }
        entry->kind = OverlayListRasterPage;
        entry->displayName = source;
        entry->subtitle = formatStrInt("@   page @", date, page + 1);
        entry->iconAsset = "overlay_topographic.png";
        readPreview(entry, bytes, size, scratch, scratchSize);
    } else if (endsWithIgnoringCase(fileName.text, length, ".kmlbin") ||
               endsWithIgnoringCase(fileName.text, length, ".kmzbin")) {
        entry->kind = OverlayListVectorOverlay;
        entry->cacheHeader = size >= 8 ? readU64Le(bytes) : 0;
        entry->displayName = stringFromBytes(fileName.text, length - 3);
        entry->iconAsset = "white_marker_64.png";
        // The cache's message: its length at byte 36, the text after it, both within the file.
        u64 messageLength = size >= 37 ? bytes[36] : 0;
        if (messageLength && 37 + messageLength <= size) {
            FixedString message = stringFromBytes(bytes + 37, (i64)messageLength);
            entry->subtitle = formatStrStr("@   @", message, date);
        } else {
            entry->subtitle = date;
        }
    } else {
        entry->kind = OverlayListUnusable;
        entry->subtitle = makeString("Unrecognized file extension. (Should be .kmlbin, .kmzbin, or .pdfbin).");
    }
}

void updateOverlayList(OverlayList* list, FileReadTable* reads, ImageSlotTable* slots, u8* scratch, u64 scratchSize,
                       u64 now) {
    i64 at = (i64)now;
    if (list->entryRead) readEntryRead(list, reads, slots, scratch, scratchSize, at);
    if (list->refresh >= 2) {
        list->refresh = 0;
        list->listingTime = -10000000;
    }
    if (list->listing) {
        followListing(list, reads, slots, at);
        if (fileRequestStatus(list->listing) >= FileStatusSuccess && list->listingTime != 0 &&
            at - list->listingTime > kOverlayListListingMicroseconds) {
            releaseFileReadRequest(list->listing, reads);
            list->listing = nullptr;
        }
    }
    if (!list->listing) {
        list->listing = requestFolderListing(makeString(kFolder), reads);
        list->listingTime = 0;
    }
}

u32 sortedOverlayListEntries(const OverlayList* list, u8 order[kOverlayListEntries]) {
    u32 count = 0;
    for (u32 i = 0; i < kOverlayListEntries; i++) {
        if (list->used >> i & 1) order[count++] = (u8)i;
    }
    std::stable_sort(order, order + count,
                     [list](u8 a, u8 b) { return list->entries[a].sortKey > list->entries[b].sortKey; });
    return count;
}

void releaseOverlayList(OverlayList* list, FileReadTable* reads, ImageSlotTable* slots) {
    if (list->entryRead) releaseFileReadRequest(list->entryRead, reads);
    if (list->listing) releaseFileReadRequest(list->listing, reads);
    list->entryRead = nullptr;
    list->listing = nullptr;
    for (u32 i = 0; i < kOverlayListEntries; i++) {
        if (list->used >> i & 1) dropEntry(list, i, slots);
    }
}
