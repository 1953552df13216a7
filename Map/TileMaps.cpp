#include "Map/TileMaps.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "Core/Clock.h"
#include "Core/Format.h"
#include "Core/ImageSlots.h"
#include "Core/JobQueue.h"
#include "Core/Preferences.h"
#include "Core/Profiler.h"
#include "Decoders/Jpeg.h"
#include "Network/Download.h"
#include "Platform/Platform.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/Renderer/TexturedQuads.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/MapView.h"

#ifndef ORVIK_TILE_SERVICE_KEY
#define ORVIK_TILE_SERVICE_KEY ""
#endif
const char* const tileServiceKey = ORVIK_TILE_SERVICE_KEY;

namespace {

constexpr i64 kTileMemoryBytes = kTileTextureCount * kTileImageBytes + kTileDecodeJobs * kTileDecodeScratchBytes;
constexpr u32 kTileStatusColor = 0xFFFFFFFF;
constexpr u32 kTileStatusOutline = 0xFF000000;
constexpr u32 kNoLevel = 0xFFFFFFFF;  // the level of an entry that matches no tile

u64 tileNow(const TileMaps* tiles) { return tiles->clock ? tiles->clock() : getMicroseconds(); }

bool sameText(const FixedString& a, const FixedString& b) {
    return a.length == b.length && std::memcmp(a.text, b.text, a.length) == 0;
}

i32 decodeDoneOf(const TileEntry* entry) { return __atomic_load_n(&entry->decodeDone, __ATOMIC_ACQUIRE); }

void setStatus(TileMaps* tiles, const TileEntry* entry, const FixedString& message) {
    FixedString where = formatInt3("Tile @/@/@: ", entry->level, entry->x, entry->y);
    tiles->status = formatStrStr("@@", where, message);
    tiles->statusTime = tileNow(tiles);
}

void releaseRead(TileEntry* entry, Platform* platform) {
    if (entry->read) releaseFileReadRequest(entry->read, &platform->fileReads);
    entry->read = nullptr;
}

void releaseDownloadOf(TileEntry* entry, TileMaps* tiles) {
    if (entry->download && tiles->downloads) releaseDownload(entry->download, tiles->downloads);
    entry->download = nullptr;
}

void fail(TileMaps* tiles, TileEntry* entry, Platform* platform, const FixedString& message) {
    releaseRead(entry, platform);
    releaseDownloadOf(entry, tiles);
    setStatus(tiles, entry, message);
    entry->message = message;
    entry->state = TileEntryFailed;
    entry->retryTime = tileNow(tiles) + kTileRetryMicroseconds;
}

bool slotStillOurs(UiState* ui, const TileEntry* entry) {
    ImageSlot* slot = getImageSlot(&ui->imageSlots, entry->imageSlot);
    return slot && slot->pixels == entry->pixels;
}

// An entry that is not needed any more gives its texture back; it can be reused once the renderer has
// let the slot go (its pixels must stay until then).
void evict(TileEntry* entry, UiState* ui) {
    if (entry->state == TileEntryReady && entry->imageSlot) {
        ImageSlot* slot = getImageSlot(&ui->imageSlots, entry->imageSlot);
        if (slot && slot->pixels == entry->pixels) {
            slot->releaseRequested = 1;
            entry->state = TileEntryReleasing;
            return;
        }
    }
    entry->state = TileEntryFree;
    entry->imageSlot = 0;
}

bool startDecode(TileMaps* tiles, TileEntry* entry, Platform* platform, const u8* bytes, i64 length) {
    i32 slot = -1;
    for (i32 i = 0; i < kTileDecodeJobs && slot < 0; i++) {
        if (!tiles->decodeSlotBusy[i]) slot = i;
    }
    if (slot < 0) return false;
    entry->encoded = bytes;
    entry->encodedLength = length;
    entry->scratch = tiles->memory + kTileTextureCount * kTileImageBytes + slot * kTileDecodeScratchBytes;
    entry->decodeSlot = slot;
    entry->decodeDone = 0;
    entry->result = ImageResult{};
    if (!pushAsyncJob(decodeTileJob, entry, &platform->jobQueue)) return false;  // the ring is full: later
    tiles->decodeSlotBusy[slot] = 1;
    entry->state = TileEntryDecoding;
    return true;
}

void startDownloadOf(TileMaps* tiles, TileEntry* entry, const Preferences* preferences) {
    u8 text[kDownloadUrlBytes];
    ByteWriter url = makeByteWriter(text, (i64)sizeof(text));
    tileUrl(&preferences->mapUrl, &preferences->mapStyle, &preferences->mapStyleFileExtension, entry->level,
            entry->x, entry->y, &url);
    FixedString none{};
    entry->download = startDownload(&url, &none, &none, kTileDownloadBytes, tiles->downloads);
    entry->downloaded = 1;
    entry->state = TileEntryDownloading;
}

// Moves one entry's loading on by what finished since the last call.
void stepEntry(TileMaps* tiles, TileEntry* entry, UiState* ui, Platform* platform, const Preferences* preferences,
               i32* downloadsRunning) {
    switch (entry->state) {
        case TileEntryReading: {
            u32 status = fileRequestStatus(entry->read);
            if (status < FileStatusSuccess) return;
            if (entry->level == kNoLevel) {
                releaseRead(entry, platform);
                entry->state = TileEntryFree;
                return;
            }
            if (status == FileStatusSuccess && entry->read->bytesRead > 0) {
                startDecode(tiles, entry, platform, entry->read->data + entry->read->headroom,
                            (i64)entry->read->bytesRead);
                return;
            }
            // Not in the folder (or unreadable): it waits for a download connection, due at once.
            releaseRead(entry, platform);
            entry->state = TileEntryFailed;
            entry->retryTime = tileNow(tiles);
            return;
        }
        case TileEntryDownloading: {
            DownloadSlot* slot = entry->download;
            if (slot->status < FileStatusSuccess) return;
            if (slot->status > FileStatusSuccess) {
                fail(tiles, entry, platform, slot->message.length ? slot->message : fileStatusString(slot->status));
                (*downloadsRunning)--;
                return;
            }
            if (startDecode(tiles, entry, platform, slot->data, (i64)slot->bytesReceived)) (*downloadsRunning)--;
            return;
        }
        case TileEntryDecoding: {
            if (!decodeDoneOf(entry)) return;
            tiles->decodeSlotBusy[entry->decodeSlot] = 0;
            entry->decodeSlot = -1;
            if (entry->level == kNoLevel) {
                // Loaded for a tile source that has changed since.
                releaseRead(entry, platform);
                releaseDownloadOf(entry, tiles);
                entry->state = TileEntryFree;
                return;
            }
            if (entry->result.error.length) {
                if (!entry->downloaded) {
                    // A damaged file in the folder: the tile is downloaded again, due at once.
                    releaseRead(entry, platform);
                    entry->state = TileEntryFailed;
                    entry->retryTime = tileNow(tiles);
                    return;
                }
                fail(tiles, entry, platform, entry->result.error);
                return;
            }
            if (entry->downloaded && entry->download) {
                // Kept for use offline: the downloaded bytes, as they came, into the tile folder.
                u64 size = entry->download->bytesReceived;
                u8* copy = allocateFileBuffer(size);
                if (copy) {
                    std::memcpy(copy, entry->download->data, size);
                    FixedString path = tileFilePath(&preferences->mapStyle, &preferences->mapStyleFileExtension,
                                                    entry->level, entry->x, entry->y);
                    enqueueFileJob(path, "image", copy, (u32)size, 1, FileJobWrite, &platform->fileJobs, nullptr);
                }
            }
            releaseRead(entry, platform);
            releaseDownloadOf(entry, tiles);
            entry->imageSlot = allocImageSlot(entry->pixels, entry->result.width, entry->result.height,
                                              ImageFormatRgba, &ui->imageSlots);
            if (!entry->imageSlot) {
                fail(tiles, entry, platform, makeString("All image slots are in use"));
                return;
            }
            entry->state = TileEntryReady;
            return;
        }
        case TileEntryReleasing:
            if (!slotStillOurs(ui, entry) || !getImageSlot(&ui->imageSlots, entry->imageSlot)->releaseRequested) {
                entry->state = TileEntryFree;
                entry->imageSlot = 0;
            }
            return;
        default:
            return;
    }
}

TileEntry* findEntry(TileMaps* tiles, u32 level, u32 x, u32 y) {
    for (TileEntry& entry : tiles->entries) {
        if (entry.state != TileEntryFree && entry.state != TileEntryReleasing && entry.level == level &&
            entry.x == x && entry.y == y) {
            return &entry;
        }
    }
    return nullptr;
}

// A free entry, else the least recently used ready or failed one that this drawing does not use.
TileEntry* takeEntry(TileMaps* tiles, UiState* ui) {
    TileEntry* oldest = nullptr;
    for (TileEntry& entry : tiles->entries) {
        if (entry.state == TileEntryFree) return &entry;
        if ((entry.state == TileEntryReady || entry.state == TileEntryFailed) && entry.lastUsed != tiles->drawCount &&
            (!oldest || entry.lastUsed < oldest->lastUsed)) {
            oldest = &entry;
        }
    }
    if (!oldest) return nullptr;
    evict(oldest, ui);
    return oldest->state == TileEntryFree ? oldest : nullptr;
}

// Forgets every entry (the tile source changed); decodes still running finish as failed entries.
void emptyCache(TileMaps* tiles, UiState* ui, Platform* platform) {
    for (TileEntry& entry : tiles->entries) {
        bool reading = entry.state == TileEntryReading && entry.read && fileRequestStatus(entry.read) < FileStatusSuccess;
        if (entry.state == TileEntryDecoding || reading) {
            // Its job or the file thread still works on it: dropped once that is done.
            entry.level = kNoLevel;
            continue;
        }
        releaseRead(&entry, platform);
        releaseDownloadOf(&entry, tiles);
        if (entry.state == TileEntryReady) {
            evict(&entry, ui);
        } else if (entry.state != TileEntryReleasing) {
            entry.state = TileEntryFree;
        }
        entry.level = kNoLevel;
    }
    tiles->status = FixedString{};
}

bool takeMemory(TileMaps* tiles) {
    if (tiles->memory) return true;
    tiles->memory = (u8*)std::calloc(1, (size_t)kTileMemoryBytes);
    if (!tiles->memory) return false;
    for (i32 i = 0; i < kTileTextureCount; i++) {
        tiles->entries[i] = TileEntry{};
        tiles->entries[i].pixels = tiles->memory + i * kTileImageBytes;
        tiles->entries[i].decodeSlot = -1;
    }
    return true;
}

void drawTileQuad(MapView* view, UiState* ui, const TileEntry* entry, f64 x0, f64 x1, f64 y0, f64 y1, f32 u0, f32 u1,
                  f32 v0, f32 v1, f32 depth) {
    f32 left = mapViewWindowX(view, x0), right = mapViewWindowX(view, x1);
    f32 bottom = mapViewWindowY(view, y0), top = mapViewWindowY(view, y1);
    addTexturedQuadClipped(ImageKindSlot, (u32)entry->imageSlot, ImageFormatRgba, (f32)entry->result.width,
                           (f32)entry->result.height, Vec2F32{left, top}, Vec2F32{left, bottom},
                           Vec2F32{right, bottom}, Vec2F32{right, top}, Vec2F32{u0, v0}, Vec2F32{u0, v1},
                           Vec2F32{u1, v1}, Vec2F32{u1, v0}, view->clipRect, depth, ui->halfWidth, ui->halfHeight,
                           &ui->batches.textured2dUnder, 0);
}

struct WantedTile {
    u32 x, y;
    f64 distance;
};

}  // namespace

u32 tileLevelForScale(f64 pixelsPerUnit) {
    if (!(pixelsPerUnit > kTileSize)) return 0;
    f64 level = std::round(std::log2(pixelsPerUnit / kTileSize));
    return level > kTileMaxLevel ? kTileMaxLevel : (u32)level;
}

FixedString tileFilePath(const FixedString* style, const FixedString* extension, u32 level, u32 x, u32 y) {
    auto clean = [](const FixedString* text) {
        FixedString out = *text;
        for (i32 i = 0; i < out.length; i++) {
            char c = out.text[i];
            bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '_';
            if (!keep) out.text[i] = '_';
        }
        if (out.length == 0) out = makeString("_");
        return out;
    };
    FixedString folder = formatStrInt("Tile Maps/@/@/", clean(style), level);
    FixedString file = formatIntIntStr("@/@.@", x, y, clean(extension));
    return formatStrStr("@@", folder, file);
}

void tileUrl(const FixedString* urlTemplate, const FixedString* style, const FixedString* extension, u32 level, u32 x,
             u32 y, ByteWriter* out) {
    const char* text = urlTemplate->text;
    i64 length = urlTemplate->length;
    for (i64 i = 0; i < length;) {
        auto placeholder = [&](const char* name) {
            i64 n = (i64)std::strlen(name);
            return i + n <= length && std::memcmp(text + i, name, (size_t)n) == 0 ? n : 0;
        };
        i64 n;
        if ((n = placeholder("{style}"))) {
            appendFixedStringRef(style, out);
        } else if ((n = placeholder("{z}"))) {
            appendInt64(level, out);
        } else if ((n = placeholder("{x}"))) {
            appendInt64(x, out);
        } else if ((n = placeholder("{y}"))) {
            appendInt64(y, out);
        } else if ((n = placeholder("{extension}"))) {
            appendFixedStringRef(extension, out);
        } else if ((n = placeholder("{qvgeoapifykey}"))) {
            appendCString(tileServiceKey, out);
        } else {
            appendBytes(text + i, 1, out);
            n = 1;
        }
        i += n;
    }
}

i64 decodeTileJob(void* argument) {
    TileEntry* entry = (TileEntry*)argument;
    ImageResult result{};
    const u8* bytes = entry->encoded;
    i64 length = entry->encodedLength;
    if (length >= 8 && bytes[0] == 0x89 && bytes[1] == 'P' && bytes[2] == 'N' && bytes[3] == 'G') {
        parsePng(&result, bytes, length, entry->pixels, kTileImageBytes, 4, 4, entry->scratch, kTileDecodeScratchBytes);
    } else if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8) {
        parseJpeg(&result, bytes, length, entry->pixels, kTileImageBytes, 4, 4);
    } else {
        result.error = formatInt("The tile is neither PNG nor JPEG (@ bytes)", length);
    }
    if (!result.error.length && (result.width == 0 || result.height == 0)) {
        result.error = formatIntInt("The tile is @x@ pixels", result.width, result.height);
    }
    entry->result = result;
    __atomic_store_n(&entry->decodeDone, 1, __ATOMIC_RELEASE);
    return 0;
}

void drawTileMaps(MapView* view, UiState* ui, Platform* platform, const Preferences* preferences, TileMaps* tiles,
                  f32 depth, u32 miniView) {
    ProfilingScope profile("Draw Tile Maps");
    if (!takeMemory(tiles)) return;
    tiles->drawCount++;
    if (!sameText(tiles->url, preferences->mapUrl) || !sameText(tiles->style, preferences->mapStyle) ||
        !sameText(tiles->extension, preferences->mapStyleFileExtension)) {
        emptyCache(tiles, ui, platform);
        tiles->url = preferences->mapUrl;
        tiles->style = preferences->mapStyle;
        tiles->extension = preferences->mapStyleFileExtension;
    }

    i32 reads = 0, downloadsRunning = 0;
    for (TileEntry& entry : tiles->entries) {
        downloadsRunning += entry.state == TileEntryDownloading;
    }
    for (TileEntry& entry : tiles->entries) {
        stepEntry(tiles, &entry, ui, platform, preferences, &downloadsRunning);
        reads += entry.state == TileEntryReading && entry.read;
    }

    // The level and the range of tiles the view shows.
    f64 ppu = view->pixelsPerUnit;
    u32 level = tileLevelForScale(ppu);
    if (miniView && level > 0) level--;
    i64 xFirst = 0, xLast = 0, yFirst = 0, yLast = 0;
    for (;;) {
        f64 n = std::ldexp(1.0, (i32)level);
        xFirst = (i64)std::floor((view->visibleXMin + 0.5) * n);
        xLast = (i64)std::floor((view->visibleXMax + 0.5) * n);
        yFirst = (i64)std::floor((0.5 - view->visibleYMax) * n);
        yLast = (i64)std::floor((0.5 - view->visibleYMin) * n);
        if (yFirst < 0) yFirst = 0;
        if (yLast > (i64)n - 1) yLast = (i64)n - 1;
        if (xLast - xFirst > 2 * (i64)n) xLast = xFirst + 2 * (i64)n;  // at most two turns of a tiny world
        if ((xLast - xFirst + 1) * (yLast - yFirst + 1) <= kTileMaxVisible || level == 0) break;
        level--;
    }
    tiles->lastLevel = level;
    tiles->lastVisibleCount = (u32)((xLast - xFirst + 1) * (yLast - yFirst + 1));
    u32 n = 1u << level;
    f64 tileWidth = 1.0 / n;

    WantedTile wanted[kTileMaxVisible * 3];
    i32 wantedCount = 0;
    for (i64 ty = yFirst; ty <= yLast; ty++) {
        for (i64 tx = xFirst; tx <= xLast; tx++) {
            u32 x = (u32)(((tx % n) + n) % n), y = (u32)ty;
            f64 x0 = tx * tileWidth - 0.5, x1 = x0 + tileWidth;
            f64 y1 = 0.5 - ty * tileWidth, y0 = y1 - tileWidth;
            TileEntry* entry = findEntry(tiles, level, x, y);
            if (entry) entry->lastUsed = tiles->drawCount;
            if (entry && entry->state == TileEntryReady) {
                drawTileQuad(view, ui, entry, x0, x1, y0, y1, 0, 1, 0, 1, depth);
                continue;
            }
            // The nearest loaded ancestor's part of it stands in.
            for (u32 up = 1; up <= level; up++) {
                TileEntry* ancestor = findEntry(tiles, level - up, x >> up, y >> up);
                if (!ancestor || ancestor->state != TileEntryReady) continue;
                ancestor->lastUsed = tiles->drawCount;
                f32 share = 1.0f / (f32)(1u << up);
                f32 u0 = (f32)(x & ((1u << up) - 1)) * share, v0 = (f32)(y & ((1u << up) - 1)) * share;
                drawTileQuad(view, ui, ancestor, x0, x1, y0, y1, u0, u0 + share, v0, v0 + share, depth);
                break;
            }
            if (entry && entry->state != TileEntryFailed) continue;  // on its way
            if (entry && tileNow(tiles) < entry->retryTime) continue;
            if (wantedCount < (i32)(sizeof(wanted) / sizeof(wanted[0]))) {
                f64 dx = (x0 + x1) / 2 - view->centreX, dy = (y0 + y1) / 2 - view->centreY;
                wanted[wantedCount++] = WantedTile{x, y, dx * dx + dy * dy};
            }
        }
    }

    // The missing tiles nearest the centre first, within the limits of reads in flight.
    for (i32 i = 1; i < wantedCount; i++) {
        WantedTile t = wanted[i];
        i32 j = i - 1;
        for (; j >= 0 && wanted[j].distance > t.distance; j--) wanted[j + 1] = wanted[j];
        wanted[j + 1] = t;
    }
    for (i32 i = 0; i < wantedCount; i++) {
        TileEntry* entry = findEntry(tiles, level, wanted[i].x, wanted[i].y);
        if (entry) {
            // Not in the folder, or failed and its time has come: download it.
            if (!tiles->downloads || downloadsRunning >= kTileDownloads) continue;
            startDownloadOf(tiles, entry, preferences);
            downloadsRunning++;
            continue;
        }
        if (reads >= kTileDiskReads) continue;
        entry = takeEntry(tiles, ui);
        if (!entry) break;
        FixedString path = tileFilePath(&preferences->mapStyle, &preferences->mapStyleFileExtension, level,
                                        wanted[i].x, wanted[i].y);
        entry->level = level;
        entry->x = wanted[i].x;
        entry->y = wanted[i].y;
        entry->lastUsed = tiles->drawCount;
        entry->downloaded = 0;
        entry->download = nullptr;
        entry->imageSlot = 0;
        entry->read = requestFile(path, kTileDownloadBytes, 0, &platform->fileReads);
        entry->state = TileEntryReading;
        reads++;
    }

    if (!miniView && tiles->status.length && tileNow(tiles) - tiles->statusTime < kTileStatusMicroseconds) {
        f32 size = ui->halfHeight / 30 > 14 ? ui->halfHeight / 30 : 14;
        Rect box{view->clipRect.x0 + size / 2, view->clipRect.x1 - size / 2, view->clipRect.y0 + size / 2,
                 view->clipRect.y0 + 2 * size};
        TextStyle style{kTileStatusColor, kTileStatusOutline, kTileStatusOutline, size, 0.15f, 0};
        drawTextInRect(ui, tiles->status, 2, depth + 0.05f, box, view->clipRect, style, noTextCaret());
    }
}

void releaseTileMaps(TileMaps* tiles, UiState* ui, Platform* platform) {
    // A decode still running owns its entry's buffers until it is done.
    for (TileEntry& entry : tiles->entries) {
        while (entry.state == TileEntryDecoding && !decodeDoneOf(&entry)) {
            if (!runNextAsyncJob(&platform->jobQueue)) std::this_thread::yield();
        }
        // A read the file thread still works on is left to it.
        if (!entry.read || fileRequestStatus(entry.read) >= FileStatusSuccess) releaseRead(&entry, platform);
        releaseDownloadOf(&entry, tiles);
        ImageSlot* slot = entry.imageSlot ? getImageSlot(&ui->imageSlots, entry.imageSlot) : nullptr;
        if (slot && slot->pixels == entry.pixels) slot->releaseRequested = 1;
    }
    std::free(tiles->memory);
    DownloadPool* downloads = tiles->downloads;
    u64 (*clock)() = tiles->clock;
    std::memset((void*)tiles, 0, sizeof(*tiles));
    tiles->downloads = downloads;
    tiles->clock = clock;
}
