// The raster overlay loader's per-frame step and its loading job.
#include "Overlays/RasterOverlayLoader.h"

#include <cstring>
#include <new>

#include "Core/Format.h"
#include "Core/ImageSlots.h"
#include "Core/JobQueue.h"
#include "Platform/FileTables.h"

namespace {

constexpr u64 kUnixEpochFrom1601Ms = 11644473600000ull;

void setState(RasterOverlayLoader* loader, u32 state) { __atomic_store_n(&loader->state, state, __ATOMIC_RELEASE); }
u32 readState(const RasterOverlayLoader* loader) { return __atomic_load_n(&loader->state, __ATOMIC_ACQUIRE); }

void releaseImage(RasterOverlayLoader* loader, ImageSlotTable* slots) {
    if (loader->imageSlot) {
        ImageSlot* slot = getImageSlot(slots, (i32)loader->imageSlot);
        if (slot) slot->releaseRequested = 1;
    }
    loader->imageSlot = 0;
    loader->loaded = 0;
}

// Registers the page pixels as the shown image: RGBA after a render, RGB rows aligned to 4 bytes
// after a .pdfbin decode.
void registerImage(RasterOverlayLoader* loader, ImageSlotTable* slots) {
    releaseImage(loader, slots);
    if (!loader->pixels || !loader->width || !loader->height) return;
    loader->imageSlot = (u32)allocImageSlot(loader->pixels, loader->width, loader->height,
                                            loader->channels == 4 ? 4u : 3u, slots);
    loader->loaded = loader->imageSlot ? 1 : 0;
}

// The .pdfbin of the page just rendered, handed to the file thread.
void writeRenderedPage(RasterOverlayLoader* loader, FileJobTable* jobs) {
    u64 modified = loader->request->modifiedMs > kUnixEpochFrom1601Ms ? loader->request->modifiedMs - kUnixEpochFrom1601Ms : 0;
    ByteWriter measure = makeMeasuringWriter((i64)1 << 40);
    FixedString failure = writePdfBin(&measure, loader->request->name, (u32)loader->currentPage, modified, &loader->grid,
                                      loader->pixels, loader->width, loader->height);
    if (failure.length || measure.length > 0xFFFFFFFFll) {
        loader->message = failure.length ? failure : formatStr("@ is too large to cache", loader->pdfbinName);
        return;
    }
    u8* data = allocateFileBuffer((u64)measure.length);
    if (!data) {
        loader->message = makeString("Out of memory");
        return;
    }
    ByteWriter writer = makeByteWriter(data, measure.length);
    writePdfBin(&writer, loader->request->name, (u32)loader->currentPage, modified, &loader->grid, loader->pixels,
                loader->width, loader->height);
    enqueueFileJob(formatStr("Overlays/@", loader->pdfbinName), "application/binary", data, (u32)writer.length, 1,
                   FileJobWrite, jobs, nullptr);
}

void renderPages(RasterOverlayLoader* loader, FileJobTable* jobs, RenderedPageTable* pages, ImageSlotTable* slots) {
    if (loader->pendingRender) {
        RenderedPageSlot* slot = loader->pendingRender;
        u32 status = renderedPageStatus(slot);
        if (status < 2) return;
        if (status > 2) {
            loader->name = loader->request->name;
            loader->message = slot->message;
            releaseRenderedPageSlot(slot, pages);
        } else {
            loader->width = slot->width;
            loader->height = slot->height;
            loader->channels = 4;
            releaseRenderedPageSlot(slot, pages);
            registerImage(loader, slots);
            for (u32 i = 0; i < loader->pdf.pageCount; i++) {
                if (loader->pdf.pages[i].pageIndex != (u32)loader->currentPage) continue;
                loader->grid = loader->pdf.pages[i];
                loader->pdfbinName = formatStrInt("@_@.pdfbin", loader->request->name, loader->currentPage);
                writeRenderedPage(loader, jobs);
            }
        }
        loader->pendingRender = nullptr;
    }
    i64 next = -1;
    for (u32 i = 0; i < loader->pdf.pageCount; i++) {
        i64 index = loader->pdf.pages[i].pageIndex;
        if (index < loader->currentPage && index > next) next = index;
    }
    if (next < 0) {
        setState(loader, RasterOverlayFinishing);
        return;
    }
    loader->currentPage = (i32)next;
    loader->pendingRender = requestRenderedPage(loader->pixels, loader->request->pdfDocumentNumber, (u32)next,
                                                loader->renderBytes ? loader->renderBytes : kRenderedPageBytes, pages);
}

// A ".pdfbin" the operator picked from elsewhere is copied into "Overlays/" (by a whole-file write,
// which replaces a file of that name only once the copy is complete), as every other overlay is kept
// there, so that the selection finds it after a restart.
void keepPickedPdfBin(RasterOverlayLoader* loader, FileJobTable* jobs) {
    FileReadRequest* request = loader->request;
    bool picked = request->path.length > 0 && (request->path.text[0] == '/' || request->path.text[0] == '\\');
    if (!picked || loader->message.length || !equals(loader->pdfbinName, request->name)) return;
    u8* copy = allocateFileBuffer(request->bytesRead);
    if (!copy || request->bytesRead > 0xFFFFFFFFull) {
        freeFileBuffer(copy);
        loader->message = formatStr("@ is shown but could not be kept in Overlays", request->name);
        return;
    }
    std::memcpy(copy, request->data + request->headroom, request->bytesRead);
    enqueueFileJob(formatStr("Overlays/@", request->name), "application/binary", copy, (u32)request->bytesRead, 1,
                   FileJobWrite, jobs, nullptr);
}

void finish(RasterOverlayLoader* loader, FileReadTable* reads, FileJobTable* jobs, FixedString* selectedName,
            ImageSlotTable* slots) {
    if (loader->request && endsWithIgnoringCase(loader->request->name.text, loader->request->name.length, ".pdfbin")) {
        keepPickedPdfBin(loader, jobs);
    }
    if (loader->request) releaseFileReadRequest(loader->request, reads);
    loader->request = nullptr;
    if (endsWithIgnoringCase(loader->pdfbinName.text, loader->pdfbinName.length, ".pdfbin")) {
        registerImage(loader, slots);
    }
    setState(loader, RasterOverlayIdle);
    *selectedName = loader->pdfbinName;
}

void finishRead(RasterOverlayLoader* loader, FileReadTable* reads, JobQueue* jobQueue, FixedString* selectedName,
                ImageSlotTable* slots) {
    FileReadRequest* request = loader->request;
    u32 status = fileRequestStatus(request);
    if (status < 2) return;
    if (status == FileStatusSuccess) {
        releaseImage(loader, slots);
        if (!loader->pixels) loader->pixels = new (std::nothrow) u8[kRasterPixelBytes];
        loader->pdfbinName = FixedString{};
        loader->name = FixedString{};
        loader->message = FixedString{};
        if (!loader->pixels) {
            loader->name = request->name;
            loader->message = makeString("Out of memory");
            releaseFileReadRequest(request, reads);
            loader->request = nullptr;
            return;
        }
        setState(loader, RasterOverlayJobRunning);
        if (!pushAsyncJob(loadPdfBin, loader, jobQueue)) {
            setState(loader, RasterOverlayIdle);
            loader->name = request->name;
            loader->message = makeString("Async thread is overloaded");
            releaseFileReadRequest(request, reads);
            loader->request = nullptr;
        }
        return;
    }
    if (status == FileStatusNotFound && equals(*selectedName, request->name)) {
        *selectedName = FixedString{};
    } else {
        loader->name = request->name;
        loader->message = fileStatusString(status);
    }
    releaseFileReadRequest(request, reads);
    loader->request = nullptr;
}

}  // namespace

i64 loadPdfBin(void* argument) {
    RasterOverlayLoader* loader = (RasterOverlayLoader*)argument;
    FileReadRequest* request = loader->request;
    FixedString name = request->name;
    const u8* bytes = request->data + request->headroom;
    if (endsWithIgnoringCase(name.text, name.length, ".pdf")) {
        if (!request->pdfDocumentNumber) {
            loader->name = name;
            loader->message = request->statusText;
        } else {
            parsePdfObjects(&loader->pdf, bytes, (i64)request->bytesRead);
            if (loader->pdf.message.length) {
                loader->name = name;
                loader->message = loader->pdf.message;
            } else if (loader->pdf.pageCount > 0) {
                loader->name = name;
                loader->currentPage = kPdfNoPageYet;
                setState(loader, RasterOverlayRendering);
                return 0;
            } else {
                loader->name = name;
                loader->message = makeString("Didn't contain any georeferenced maps");
            }
        }
    } else if (endsWithIgnoringCase(name.text, name.length, ".pdfbin")) {
        u8* scratch = new (std::nothrow) u8[kPdfBinScratchBytes];
        u32 width = 0, height = 0;
        FixedString failure = readPdfBin(bytes, request->bytesRead, name, &loader->grid, loader->pixels,
                                         kRasterPixelBytes, scratch, scratch ? kPdfBinScratchBytes : 0, &width, &height);
        delete[] scratch;
        loader->name = name;
        if (failure.length) {
            loader->message = failure;
        } else {
            loader->width = width;
            loader->height = height;
            loader->channels = 3;
            loader->pdfbinName = name;
        }
    } else {
        loader->name = name;
        loader->message = formatStr("@ isn't a pdf file", name);
    }
    setState(loader, RasterOverlayFinishing);
    return 0;
}

void updateRasterOverlayLoader(FileReadTable* reads, FileJobTable* jobs, RenderedPageTable* pages, JobQueue* jobQueue,
                               RasterOverlayLoader* loader, const OverlaySelection* selection, ImageSlotTable* slots) {
    FixedString* selectedName = selection->rasterOverlayName;
    u32 state = readState(loader);
    if (state == RasterOverlayJobRunning) return;
    if (state == RasterOverlayRendering) {
        renderPages(loader, jobs, pages, slots);
        return;
    }
    if (state == RasterOverlayFinishing) {
        finish(loader, reads, jobs, selectedName, slots);
        return;
    }
    if (loader->request) {
        finishRead(loader, reads, jobQueue, selectedName, slots);
        return;
    }
    if (selectedName->length == 0 || equals(*selectedName, loader->pdfbinName) || equals(*selectedName, loader->name)) {
        return;
    }
    loader->request = requestFile(formatStr("Overlays/@", *selectedName), kRasterOverlayMaxFileBytes, 0, reads);
}
