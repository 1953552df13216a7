#include "Map/ElevationMapLoader.h"

#include <atomic>
#include <cmath>
#include <cstring>

#include "Core/Clock.h"
#include "Core/Format.h"
#include "Core/ImageSlots.h"
#include "Core/MathEarth.h"
#include "Core/Preferences.h"
#include "Core/Profiler.h"
#include "Decoders/GeoTiff.h"
#include "Network/Download.h"
#include "Platform/Platform.h"

#ifndef ORVIK_ELEVATION_SERVICE_URL
#define ORVIK_ELEVATION_SERVICE_URL ""
#endif
#ifndef ORVIK_ELEVATION_SERVICE_USER
#define ORVIK_ELEVATION_SERVICE_USER ""
#endif
#ifndef ORVIK_ELEVATION_SERVICE_PASSWORD
#define ORVIK_ELEVATION_SERVICE_PASSWORD ""
#endif

namespace {

constexpr u32 kRowAlignment = 4;

const ElevationService kBuiltInService = {ORVIK_ELEVATION_SERVICE_URL, ORVIK_ELEVATION_SERVICE_USER,
                                          ORVIK_ELEVATION_SERVICE_PASSWORD};

struct WantedRaster {
    u32 kind;
    FixedString name;
    FixedString path;
    i32 southLatitude;
    i32 westLongitude;
    u32 downloadable;  // a missing file is fetched from the elevation service
};

u64 loaderNow(const ElevationMapLoader* loader) { return loader->clock ? loader->clock() : getMicroseconds(); }

bool isAreaSet(const LonLatBox* area) {
    bool finite = std::isfinite(area->lonMin) && std::isfinite(area->lonMax) && std::isfinite(area->latMin) &&
                  std::isfinite(area->latMax);
    bool zero = area->lonMin == 0 && area->lonMax == 0 && area->latMin == 0 && area->latMax == 0;
    return finite && !zero && area->lonMax >= area->lonMin && area->latMax >= area->latMin;
}

u32 kindOfFile(FixedString name, u32* ok) {
    *ok = 1;
    if (endsWithIgnoringCase(name.text, name.length, ".tif") || endsWithIgnoringCase(name.text, name.length, ".tiff")) {
        return ElevationFileGeoTiff;
    }
    if (endsWithIgnoringCase(name.text, name.length, ".bil")) return ElevationFileBil;
    i32 south, west;
    if (parseSrtmTileName(name, &south, &west)) return ElevationFileSrtm;
    *ok = 0;
    return 0;
}

u32 chooseWanted(const ElevationMapLoader* loader, const Preferences* preferences, WantedRaster* wanted) {
    const FixedString& custom = preferences->customElevationDataFile;
    if (custom.length > 0) {
        std::memset(&wanted[0], 0, sizeof(wanted[0]));
        u32 known = 0;
        wanted[0].kind = kindOfFile(custom, &known);
        wanted[0].name = custom;
        wanted[0].path = formatStr("Elevation Maps/@", custom);
        if (wanted[0].kind == ElevationFileSrtm) {
            parseSrtmTileName(custom, &wanted[0].southLatitude, &wanted[0].westLongitude);
        }
        // An unknown kind is refused by the slot with a message.
        if (!known) wanted[0].kind = 99;
        return 1;
    }
    if (!isAreaSet(&loader->areaOfInterest)) return 0;
    i32 south[kElevationMapSlots], west[kElevationMapSlots];
    u32 count = chooseSrtmTiles(&loader->areaOfInterest, (i32)kElevationMapSlots, south, west);
    for (u32 i = 0; i < count; i++) {
        std::memset(&wanted[i], 0, sizeof(wanted[i]));
        wanted[i].kind = ElevationFileSrtm;
        wanted[i].name = srtmTileName(south[i], west[i]);
        wanted[i].path = formatStr("SRTM/@", wanted[i].name);
        wanted[i].southLatitude = south[i];
        wanted[i].westLongitude = west[i];
        wanted[i].downloadable = 1;
    }
    return count;
}

// The parse job on the worker: only the slot's job fields are touched, and jobDone is set last.
i64 parseElevationJob(void* argument) {
    ElevationMapSlot* slot = (ElevationMapSlot*)argument;
    switch (slot->kind) {
    case ElevationFileGeoTiff:
        parseGeoTiff(&slot->parsed, slot->jobBytes, slot->jobLength, kElevationSampleBudget, kRowAlignment,
                     slot->jobAreaPointer, &slot->progress);
        break;
    case ElevationFileBil:
        readBilRaster(&slot->parsed, slot->jobBytes, slot->jobLength, &slot->header, kElevationSampleBudget,
                      kRowAlignment, slot->jobAreaPointer);
        break;
    default:
        readSrtmTile(&slot->parsed, slot->jobBytes, slot->jobLength, slot->southLatitude, slot->westLongitude,
                     kElevationSampleBudget, kRowAlignment, slot->jobAreaPointer);
        break;
    }
    std::atomic_ref<u32>(slot->jobDone).store(1, std::memory_order_release);
    return 0;
}

void releaseSlotBuffers(ElevationMapSlot* slot, Platform* platform, DownloadPool* downloads) {
    if (slot->read) releaseFileReadRequest(slot->read, &platform->fileReads);
    if (slot->headerRead) releaseFileReadRequest(slot->headerRead, &platform->fileReads);
    if (slot->download) releaseDownload(slot->download, downloads);
    if (slot->downloaded) freeFileBuffer(slot->downloaded);
    slot->read = nullptr;
    slot->headerRead = nullptr;
    slot->download = nullptr;
    slot->downloaded = nullptr;
    slot->downloadedLength = 0;
}

void failSlot(ElevationMapSlot* slot, FixedString message, u64 now, Platform* platform, DownloadPool* downloads) {
    releaseSlotBuffers(slot, platform, downloads);
    releaseElevationRaster(&slot->parsed);
    slot->message = message;
    slot->failedAt = now;
    slot->state = ElevationMapFailed;
}

// The renderer never reads a slot's pixels again once its release is asked for, so the samples can go
// at once; the slot itself is freed by the renderer on its next frame.
void releaseRasterImage(ElevationMapSlot* slot, ImageSlotTable* table) {
    releaseElevationTiles(&slot->tiles, &slot->raster, table);
}

void clearSlot(ElevationMapSlot* slot, Platform* platform, DownloadPool* downloads, ImageSlotTable* table) {
    releaseRasterImage(slot, table);
    releaseSlotBuffers(slot, platform, downloads);
    releaseElevationRaster(&slot->raster);
    releaseElevationRaster(&slot->parsed);
    *slot = ElevationMapSlot{};
    slot->rank = -1;
}

void startSlot(ElevationMapSlot* slot, const WantedRaster* wanted, i32 rank, Platform* platform) {
    *slot = ElevationMapSlot{};
    slot->kind = wanted->kind;
    slot->name = wanted->name;
    slot->path = wanted->path;
    slot->rank = rank;
    slot->southLatitude = wanted->southLatitude;
    slot->westLongitude = wanted->westLongitude;
    slot->downloadable = wanted->downloadable;
    FileReadTable* reads = &platform->fileReads;
    if (slot->kind == ElevationFileBil) {
        // "x.bil" -> "x.hdr"
        FixedString header = slot->path;
        std::memcpy(header.text + header.length - 3, header.text[header.length - 3] == 'B' ? "HDR" : "hdr", 3);
        slot->headerRead = requestFile(header, kElevationHeaderMaxBytes, 0, reads);
        slot->state = ElevationMapReadingHeader;
        return;
    }
    u64 limit = slot->kind == ElevationFileSrtm ? (u64)kSrtm1Bytes : (u64)kElevationFileMaxBytes;
    slot->read = requestFile(slot->path, limit, 0, reads);
    slot->state = ElevationMapReading;
}

void queueParse(ElevationMapSlot* slot, const u8* bytes, i64 length, const LonLatBox* area) {
    slot->jobBytes = bytes;
    slot->jobLength = length;
    slot->jobQueued = 0;
    slot->jobDone = 0;
    slot->progress = 0;
    if (isAreaSet(area)) {
        slot->jobArea[0] = area->lonMin;
        slot->jobArea[1] = area->lonMax;
        slot->jobArea[2] = area->latMin;
        slot->jobArea[3] = area->latMax;
        slot->jobAreaPointer = slot->jobArea;
    } else {
        slot->jobAreaPointer = nullptr;
    }
    slot->state = ElevationMapParsing;
}

void startTileDownload(ElevationMapSlot* slot, const ElevationService* service, DownloadPool* downloads, u64 now,
                       Platform* platform) {
    if (!service || !service->url || !service->url[0]) {
        failSlot(slot, formatStr("@ is missing and no elevation service is configured to download it", slot->name),
                 now, platform, downloads);
        return;
    }
    u8 text[kDownloadUrlBytes + 64];
    ByteWriter url = makeByteWriter(text, sizeof(text));
    appendCString(service->url, &url);
    if (url.length > 0 && text[url.length - 1] != '/') appendU8('/', &url);
    appendFixedStringRef(&slot->name, &url);
    FixedString user = makeString(service->user ? service->user : "");
    FixedString password = makeString(service->password ? service->password : "");
    slot->download = startDownload(&url, &user, &password, kElevationDownloadBytes, downloads);
    slot->state = ElevationMapDownloading;
}

void stepSlot(ElevationMapLoader* loader, ElevationMapSlot* slot, Platform* platform, DownloadPool* downloads,
              const ElevationService* service, u64 now) {
    FileReadTable* reads = &platform->fileReads;
    if (slot->state == ElevationMapReadingHeader) {
        u32 status = fileRequestStatus(slot->headerRead);
        if (status < FileStatusSuccess) return;
        if (status != FileStatusSuccess) {
            FixedString reason = slot->headerRead->statusText.length ? slot->headerRead->statusText
                                                                       : fileStatusString(status);
            return failSlot(slot, formatStrStr("@ header: @", slot->name, reason), now, platform, downloads);
        }
        FixedString problem = parseBilHeader(&slot->header, slot->headerRead->data, (i64)slot->headerRead->bytesRead);
        releaseFileReadRequest(slot->headerRead, reads);
        slot->headerRead = nullptr;
        if (problem.length) return failSlot(slot, formatStrStr("@ header: @", slot->name, problem), now, platform, downloads);
        slot->read = requestFile(slot->path, (u64)kElevationFileMaxBytes, 0, reads);
        slot->state = ElevationMapReading;
        return;
    }
    if (slot->state == ElevationMapReading) {
        u32 status = fileRequestStatus(slot->read);
        if (status < FileStatusSuccess) return;
        if (status == FileStatusSuccess) {
            queueParse(slot, slot->read->data, (i64)slot->read->bytesRead, &loader->areaOfInterest);
            return;
        }
        if (status == FileStatusNotFound && slot->downloadable) {
            releaseFileReadRequest(slot->read, reads);
            slot->read = nullptr;
            return startTileDownload(slot, service, downloads, now, platform);
        }
        FixedString reason = slot->read->statusText.length ? slot->read->statusText : fileStatusString(status);
        return failSlot(slot, formatStrStr("@: @", slot->name, reason), now, platform, downloads);
    }
    if (slot->state == ElevationMapDownloading) {
        DownloadSlot* download = slot->download;
        if (download->status < FileStatusSuccess) return;
        if (download->status != FileStatusSuccess) {
            FixedString reason = download->message.length ? download->message : fileStatusString(download->status);
            return failSlot(slot, formatStrStr("@: @", slot->name, reason), now, platform, downloads);
        }
        // The tile is kept in a file buffer, which the file thread frees once it has written it back.
        i64 length = (i64)download->bytesReceived;
        u8* copy = allocateFileBuffer(length > 0 ? (u64)length : 1);
        if (!copy) return failSlot(slot, formatStr("@: Memory allocation failed", slot->name), now, platform, downloads);
        if (length > 0) std::memcpy(copy, download->data, (size_t)length);
        releaseDownload(download, downloads);
        slot->download = nullptr;
        slot->downloaded = copy;
        slot->downloadedLength = length;
        queueParse(slot, copy, length, &loader->areaOfInterest);
        return;
    }
    if (slot->state == ElevationMapParsing) {
        if (!slot->jobQueued) {
            // A full ring is tried again on the next frame.
            if (!pushAsyncJob(parseElevationJob, slot, &platform->jobQueue)) return;
            slot->jobQueued = 1;
            return;
        }
        if (!std::atomic_ref<u32>(slot->jobDone).load(std::memory_order_acquire)) return;
        slot->jobQueued = 0;
        if (slot->parsed.error.length) {
            return failSlot(slot, formatStrStr("@: @", slot->name, slot->parsed.error), now, platform, downloads);
        }
        slot->raster = slot->parsed;
        std::memset(&slot->parsed, 0, sizeof(slot->parsed));
        if (slot->downloaded) {
            // Written beside and renamed over, so a broken write never leaves a partial tile.
            enqueueFileJob(slot->path, "application/octet-stream", slot->downloaded, (u32)slot->downloadedLength, 1,
                           FileJobWrite, &platform->fileJobs, &slot->writeBack);
            slot->downloaded = nullptr;
            slot->downloadedLength = 0;
        }
        releaseSlotBuffers(slot, platform, downloads);
        slot->state = ElevationMapLoaded;
        return;
    }
    if (slot->state == ElevationMapFailed && now - slot->failedAt > kElevationRetryInterval) {
        clearSlot(slot, platform, downloads, loader->imageSlots);
    }
}

bool isSlotBusy(const ElevationMapSlot* slot) {
    return slot->state == ElevationMapParsing && slot->jobQueued;
}

}  // namespace

const ElevationService* builtInElevationService() { return &kBuiltInService; }

bool isElevationFileName(FixedString name) {
    u32 known = 0;
    kindOfFile(name, &known);
    return known != 0;
}

u32 chooseSrtmTiles(const LonLatBox* area, i32 capacity, i32* southLatitudes, i32* westLongitudes) {
    if (capacity <= 0 || !isAreaSet(area)) return 0;
    f64 latMin = std::fmax(area->latMin, -90.0), latMax = std::fmin(area->latMax, 90.0);
    if (latMin > latMax) return 0;
    f64 centreLongitude = 0.5 * (area->lonMin + area->lonMax);
    f64 centreLatitude = 0.5 * (latMin + latMax);
    f64 lonScale = std::cos(centreLatitude * 3.14159265358979323846 / 180.0);
    i32 centreSouth = (i32)std::floor(centreLatitude);
    i32 centreWest = (i32)std::floor(centreLongitude);
    // The nearest tiles that meet the area lie within two tiles of the centre's own.
    struct Candidate {
        f64 distance;
        i32 south, west;
    } candidates[25];
    i32 count = 0;
    for (i32 dy = -2; dy <= 2; dy++) {
        for (i32 dx = -2; dx <= 2; dx++) {
            i32 south = centreSouth + dy;
            i32 west = centreWest + dx;
            if (south < -90 || south > 89) continue;
            if (west + 1 < area->lonMin || west > area->lonMax || south + 1 < latMin || south > latMax) continue;
            f64 ex = std::fmax(std::fmax(west - centreLongitude, centreLongitude - (west + 1)), 0.0) * lonScale;
            f64 ey = std::fmax(std::fmax(south - centreLatitude, centreLatitude - (south + 1)), 0.0);
            Candidate c{ex * ex + ey * ey, south, west};
            i32 at = count++;
            while (at > 0 && candidates[at - 1].distance > c.distance) {
                candidates[at] = candidates[at - 1];
                at--;
            }
            candidates[at] = c;
        }
    }
    u32 chosen = (u32)(count < capacity ? count : capacity);
    for (u32 i = 0; i < chosen; i++) {
        southLatitudes[i] = candidates[i].south;
        westLongitudes[i] = (i32)std::lround(wrapLongitudeNear(candidates[i].west + 0.5, 0.0) - 0.5);
    }
    return chosen;
}


void manageElevationMaps(ElevationMapLoader* loader, Platform* platform, DownloadPool* downloads, ImageSlotTable* slots,
                         Preferences* preferences) {
    ProfilingScope scope("Manage Elevation Maps");
    loader->imageSlots = slots;
    u64 now = loaderNow(loader);
    const ElevationService* service = loader->service ? loader->service : &kBuiltInService;

    WantedRaster wanted[kElevationMapSlots];
    u32 wantedCount = chooseWanted(loader, preferences, wanted);
    loader->wantedCount = wantedCount;
    for (ElevationMapSlot& slot : loader->slots) {
        if (slot.state == ElevationMapEmpty) continue;
        slot.rank = -1;
        for (u32 w = 0; w < wantedCount; w++) {
            if (equals(slot.name, wanted[w].name)) slot.rank = (i32)w;
        }
        // What is no longer wanted goes, unless the worker still holds it.
        if (slot.rank < 0 && !isSlotBusy(&slot)) clearSlot(&slot, platform, downloads, slots);
    }
    for (u32 w = 0; w < wantedCount; w++) {
        bool held = false;
        for (ElevationMapSlot& slot : loader->slots) held = held || (slot.state != ElevationMapEmpty && slot.rank == (i32)w);
        if (held) continue;
        for (ElevationMapSlot& slot : loader->slots) {
            if (slot.state != ElevationMapEmpty) continue;
            if (wanted[w].kind > ElevationFileBil) {
                slot.name = wanted[w].name;
                slot.rank = (i32)w;
                failSlot(&slot, formatStr("@ is not an elevation file this program reads (.tif, .tiff, .bil, .hgt)",
                                          wanted[w].name),
                         now, platform, downloads);
            } else {
                startSlot(&slot, &wanted[w], (i32)w, platform);
            }
            break;
        }
    }

    u32 loaded = 0, loading = 0, parsingTiff = 0, progress = 100;
    const ElevationMapSlot* failed = nullptr;
    for (ElevationMapSlot& slot : loader->slots) {
        stepSlot(loader, &slot, platform, downloads, service, now);
        if (slot.rank < 0) continue;
        if (slot.state == ElevationMapLoaded && slot.tiles.columns == 0 && slots && slot.raster.samples) {
            // A full table leaves the raster without textures and tries again next frame; heights
            // are served either way.
            claimElevationTiles(&slot.tiles, &slot.raster, slots);
        }
        if (slot.state == ElevationMapLoaded) loaded++;
        if (slot.state >= ElevationMapReadingHeader && slot.state <= ElevationMapParsing) loading++;
        if (slot.state == ElevationMapParsing && slot.kind == ElevationFileGeoTiff && slot.jobQueued) {
            parsingTiff = 1;
            u32 percent = std::atomic_ref<u8>(slot.progress).load(std::memory_order_relaxed);
            if (percent < progress) progress = percent;
        }
        if (slot.state == ElevationMapFailed && (!failed || slot.rank < failed->rank)) failed = &slot;
    }

    // The loaded rasters in wanted order: nearest the centre first.
    loader->loadedCount = 0;
    for (u32 w = 0; w < wantedCount; w++) {
        for (u32 s = 0; s < kElevationMapSlots; s++) {
            if (loader->slots[s].state == ElevationMapLoaded && loader->slots[s].rank == (i32)w) {
                loader->order[loader->loadedCount++] = s;
            }
        }
    }
    prepareElevationLookups(loader);

    if (parsingTiff) {
        loader->status = formatInt("Parsing @%", progress);
    } else if (loading) {
        loader->status = formatIntInt("Loading @ / @", loaded, wantedCount);
    } else if (failed) {
        loader->status = failed->message;
    } else if (loaded < wantedCount) {
        // Also a raster that is only taken up on the next frame.
        loader->status = formatIntInt("Loading @ / @", loaded, wantedCount);
    } else if (wantedCount > 0) {
        loader->status = makeString("Loaded and Parsed");
    } else {
        loader->status = FixedString{};
    }
}

void releaseElevationMaps(ElevationMapLoader* loader, Platform* platform, DownloadPool* downloads) {
    for (ElevationMapSlot& slot : loader->slots) {
        if (slot.state == ElevationMapEmpty || isSlotBusy(&slot)) continue;
        clearSlot(&slot, platform, downloads, loader->imageSlots);
    }
    loader->loadedCount = 0;
    prepareElevationLookups(loader);
}

void extendLonLatBounds(GeoPoint point, LonLatBox* box) {
    f64 longitude = point.longitude;
    if (box->lonMax >= box->lonMin) longitude = wrapLongitudeNear(longitude, box->lonMin);
    if (longitude < box->lonMin) box->lonMin = longitude;
    if (longitude > box->lonMax) box->lonMax = longitude;
    if (point.latitude < box->latMin) box->latMin = point.latitude;
    if (point.latitude > box->latMax) box->latMax = point.latitude;
}
