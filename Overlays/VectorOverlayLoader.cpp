#include "Overlays/VectorOverlayLoader.h"

#include <cstring>

#include "Core/Format.h"
#include "Core/ImageSlots.h"
#include "Core/JobQueue.h"
#include "Decoders/Jpeg.h"
#include "Decoders/Png.h"
#include "Network/Download.h"
#include "Overlays/VectorOverlayFiles.h"
#include "Platform/FileTables.h"

namespace {

constexpr u8 kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

void publish(u32* word, u32 value) { __atomic_store_n(word, value, __ATOMIC_RELEASE); }
u32 observe(const u32* word) { return __atomic_load_n(word, __ATOMIC_ACQUIRE); }

void releaseOverlaySlots(VectorOverlay* overlay, ImageSlotTable* slots) {
    for (u32 i = 0; i < overlay->markerImageCount && i < kOverlayMaxMarkerImages; i++) {
        OverlayMarkerImage* image = &overlay->markerImages[i];
        if (!image->slot) continue;
        ImageSlot* slot = getImageSlot(slots, (i32)image->slot);
        if (slot) slot->releaseRequested = 1;
        image->slot = 0;
    }
}

void claimSlot(OverlayMarkerImage* image, VectorOverlay* overlay, ImageSlotTable* slots) {
    if (image->slot || image->width == 0 || image->height == 0) return;
    if (image->firstPixel + (u64)image->width * image->height > overlay->pixelWordCount) return;
    image->slot = (u32)allocImageSlot((u8*)(overlay->markerImagePixels + image->firstPixel), image->width,
                                      image->height, 4, slots);
}

bool sameText(const FixedString* a, const FixedString* b) {
    return a->length == b->length && std::memcmp(a->text, b->text, fixedStringLength(a)) == 0;
}

void cacheOverlay(VectorOverlayLoader* loader, const OverlaySelection* selection, FileJobTable* jobs) {
    i64 nameLength = fixedStringLength(&loader->name);
    bool isCache = endsWithIgnoringCase(loader->name.text, nameLength, "bin");
    FixedString cacheName = isCache ? loader->name : formatStr("@bin", loader->name);
    ByteWriter measure = makeMeasuringWriter(INT64_MAX);
    writeKmlBin(&loader->overlay, &measure, loader->sourceTime);
    if (measure.overflow || measure.length > 0xFFFFFFFFll) {
        loader->message = format("The overlay is too large to be cached");
        loader->cacheNeeded = 0;
        return;
    }
    if (!fileJobSlotAvailable(jobs)) return;  // a later frame
    u8* buffer = allocateFileBuffer((u64)measure.length);
    if (!buffer) return;
    ByteWriter writer = makeByteWriter(buffer, measure.length);
    writeKmlBin(&loader->overlay, &writer, loader->sourceTime);
    enqueueFileJob(formatStr("Overlays/@", cacheName), "application/binary", buffer, (u32)writer.length, 1,
                   FileJobWrite, jobs, nullptr);
    loader->cacheNeeded = 0;
    // The selection names the cache from now on: the source may not be in "Overlays/" at the next
    // start, the cache always is.
    if (!isCache) {
        loader->name = cacheName;
        *selection->vectorOverlayName = cacheName;
    }
}

}  // namespace

i64 loadOverlayFile(void* argument) {
    VectorOverlayLoader* loader = (VectorOverlayLoader*)argument;
    FileReadRequest* request = loader->request;
    const u8* bytes = request->data + request->headroom;
    u64 length = request->bytesRead;
    FixedString name = request->name;
    i64 nameLength = fixedStringLength(&name);
    FixedString failure{};
    u32 cacheNeeded = 0;
    if (endsWithIgnoringCase(name.text, nameLength, ".kml")) {
        // A document cut short keeps what was read before the cut, and says so.
        FixedString result = parseKmlDocument(bytes, (i64)length, &loader->overlay);
        if (result.length && !loader->overlay.message.length) loader->overlay.message = result;
        cacheNeeded = 1;
    } else if (endsWithIgnoringCase(name.text, nameLength, ".kmz")) {
        failure = parseKmz(bytes, (i64)length, &loader->overlay);
        cacheNeeded = 1;
    } else if (endsWithIgnoringCase(name.text, nameLength, ".kmlbin") ||
               endsWithIgnoringCase(name.text, nameLength, ".kmzbin")) {
        failure = parseKmlBin(bytes, length, &loader->overlay);
        cacheNeeded = loader->importMarker;
    } else {
        clearVectorOverlay(&loader->overlay);
        failure = makeString("Unrecognized file type. Should be .kml or .kmz");
    }
    if (failure.length) {
        loader->failedName = name;
        loader->message = failure;
        loader->importFailed = loader->importMarker;
        clearVectorOverlay(&loader->overlay);
        clearOverlayGeometry(&loader->geometry);
    } else {
        buildOverlayGeometry(&loader->geometry, &loader->overlay);
        if (loader->geometry.message.length && loader->overlay.message.length == 0) {
            loader->overlay.message = loader->geometry.message;
        }
        loader->cacheNeeded = cacheNeeded;
        loader->name = name;
        loader->state = 1;
    }
    publish(&loader->jobState, OverlayJobFinished);
    return 0;
}

void downloadMarkerImages(MarkerDownloads* list, VectorOverlay* overlay, ImageSlotTable* slots, DownloadPool* pool) {
    for (i32 d = (i32)list->count - 1; d >= 0; d--) {
        DownloadSlot* download = list->slots[d];
        if (download->status < FileStatusSuccess) continue;
        FixedString url = stringFromBytes(download->urlText, download->url.length);
        u32 state = OverlayImagePresent;
        ImageResult result{};
        u32 firstPixel = overlay->pixelWordCount;
        u64 room = kOverlayMaxPixelWords - overlay->pixelWordCount;
        u8* pixels = (u8*)(overlay->markerImagePixels + overlay->pixelWordCount);
        const u8* data = download->data;
        u64 size = download->bytesReceived;
        if (download->status != FileStatusSuccess) {
            overlay->message = formatStrStr("Failed to download @: @", url, download->message);
            state = OverlayImageDownloadFailed;
        } else if (data && size > 8 && std::memcmp(data, kPngSignature, 8) == 0) {
            // The size first: an icon larger than the room left is refused before any scratch.
            parsePng(&result, data, (i64)size, nullptr, 0, 4, 4, nullptr, 0);
            u64 words = (u64)result.width * result.height;
            if (result.width && result.height && words <= room) {
                u64 scratchSize = ((u64)result.width * 8 + 1) * result.height;
                u8* scratch = allocateFileBuffer(scratchSize);
                if (scratch) {
                    parsePng(&result, data, (i64)size, pixels, (i64)(room * 4), 4, 4, scratch, (i64)scratchSize);
                    freeFileBuffer(scratch);
                } else {
                    result.error = formatStr("failed to allocate @ of scratch memory", byteSizeString((i64)scratchSize));
                }
            } else if (result.width && result.height) {
                parsePng(&result, data, (i64)size, pixels, (i64)(room * 4), 4, 4, nullptr, 0);
            }
        } else if (data && size >= 3 && data[0] == 0xFF && data[1] == 0xD8) {
            parseJpeg(&result, data, (i64)size, pixels, (i64)(room * 4), 4, 4);
        } else {
            overlay->message = formatStr("@ is an unsupported file type (should be png or jpeg/jpg)", url);
            state = OverlayImageUnsupportedType;
        }
        if (state == OverlayImagePresent && result.error.length) {
            overlay->message = formatStrStr("Failed to parse @: @", url, result.error);
            state = OverlayImageDecodeFailed;
        }
        if (state == OverlayImagePresent) overlay->pixelWordCount += result.width * result.height;
        for (u32 i = 0; i < overlay->markerImageCount; i++) {
            OverlayMarkerImage* image = &overlay->markerImages[i];
            if (image->state != OverlayImageToDownload || !sameText(&image->href, &url)) continue;
            image->state = state;
            if (state != OverlayImagePresent) continue;
            image->firstPixel = firstPixel;
            image->width = result.width;
            image->height = result.height;
            claimSlot(image, overlay, slots);
        }
        releaseDownload(download, pool);
        list->slots[d] = list->slots[list->count - 1];
        list->slots[list->count - 1] = nullptr;
        list->count--;
    }
    for (u32 i = 0; i < overlay->markerImageCount && list->count < kMarkerDownloads; i++) {
        OverlayMarkerImage* image = &overlay->markerImages[i];
        if (image->state != OverlayImageToDownload) continue;
        bool fetching = false;
        for (u32 d = 0; d < list->count && !fetching; d++) {
            const DownloadSlot* download = list->slots[d];
            fetching = download->url.length == image->href.length &&
                       std::memcmp(download->urlText, image->href.text, image->href.length) == 0;
        }
        if (fetching) continue;
        ByteWriter url = makeByteWriter(image->href.text, image->href.length);
        url.length = image->href.length;
        FixedString none{};
        list->slots[list->count++] = startDownload(&url, &none, &none, kMarkerImageMaxBytes, pool);
    }
}

void updateVectorOverlayLoader(VectorOverlayLoader* loader, const OverlaySelection* selection, FileReadTable* reads,
                               FileJobTable* jobs, JobQueue* jobQueue, ImageSlotTable* slots, DownloadPool* downloads,
                               FileReadRequest** pendingPick) {
    u32 jobState = observe(&loader->jobState);
    if (jobState == OverlayJobRunning) return;
    if (jobState == OverlayJobFinished) {
        if (loader->state == 1) {
            for (u32 i = 0; i < loader->overlay.markerImageCount; i++) {
                claimSlot(&loader->overlay.markerImages[i], &loader->overlay, slots);
            }
            *selection->vectorOverlayName = loader->name;
        }
        releaseFileReadRequest(loader->request, reads);
        loader->request = nullptr;
        loader->jobState = OverlayJobIdle;
    }
    if (!loader->request && pendingPick && *pendingPick) {
        loader->request = *pendingPick;
        loader->importMarker = 1;
        *pendingPick = nullptr;
    }
    if (loader->request) {
        u32 status = fileRequestStatus(loader->request);
        if (status < FileStatusSuccess) return;
        if (status == FileStatusSuccess) {
            // Downloads fill the overlay that is about to be overwritten: they go first.
            for (u32 d = 0; d < loader->downloads.count; d++) releaseDownload(loader->downloads.slots[d], downloads);
            loader->downloads = MarkerDownloads{};
            releaseOverlaySlots(&loader->overlay, slots);
            loader->state = 0;
            loader->cacheNeeded = 0;
            loader->name = FixedString{};
            // A picked file's failure outlasts the reload of the overlay shown before it, until the
            // next pick.
            if (loader->importMarker || !loader->importFailed) {
                loader->failedName = FixedString{};
                loader->importFailed = 0;
            }
            loader->sourceTime = loader->request->modifiedMs;
            loader->jobState = OverlayJobRunning;
            if (!pushAsyncJob(loadOverlayFile, loader, jobQueue)) {
                loader->jobState = OverlayJobIdle;
                loader->message = makeString("Async thread is overloaded");
                releaseFileReadRequest(loader->request, reads);
                loader->request = nullptr;
                loader->importMarker = 0;
            }
            return;
        }
        loader->failedName = loader->importMarker ? loader->request->name : *selection->vectorOverlayName;
        loader->message = fileStatusString(status);
        loader->importFailed = loader->importMarker;
        releaseFileReadRequest(loader->request, reads);
        loader->request = nullptr;
        loader->importMarker = 0;
        return;
    }
    loader->importMarker = 0;
    const FixedString* selected = selection->vectorOverlayName;
    if (loader->state == 1 && sameText(selected, &loader->name)) {
        downloadMarkerImages(&loader->downloads, &loader->overlay, slots, downloads);
        if (loader->cacheNeeded) {
            bool settled = true;
            for (u32 i = 0; i < loader->overlay.markerImageCount && settled; i++) {
                settled = loader->overlay.markerImages[i].state != OverlayImageToDownload;
            }
            if (settled) cacheOverlay(loader, selection, jobs);
        }
        return;
    }
    if (selected->length && !sameText(selected, &loader->failedName)) {
        loader->request = requestFile(formatStr("Overlays/@", *selected), kOverlayFileMaxBytes, 0, reads);
    }
}

void releaseVectorOverlayLoader(VectorOverlayLoader* loader, FileReadTable* reads, ImageSlotTable* slots,
                                DownloadPool* downloads) {
    for (u32 d = 0; d < loader->downloads.count; d++) releaseDownload(loader->downloads.slots[d], downloads);
    loader->downloads = MarkerDownloads{};
    if (loader->request && observe(&loader->jobState) != OverlayJobRunning) {
        releaseFileReadRequest(loader->request, reads);
        loader->request = nullptr;
    }
    releaseOverlaySlots(&loader->overlay, slots);
    if (observe(&loader->jobState) != OverlayJobRunning) {
        releaseVectorOverlay(&loader->overlay);
        clearOverlayGeometry(&loader->geometry);
    }
}
