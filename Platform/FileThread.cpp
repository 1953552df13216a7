// The file thread's loop.
#include "Platform/FileThread.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "Core/Clock.h"
#include "Core/Format.h"
#include "Platform/FileSystem.h"

namespace {

void serveResourceTable(FileThreadState* state, FileReadTable* table) {
    const EmbeddedResourceTable* resources = state->resources ? state->resources : programResources();
    for (u32 i = 0; i < kFileTableSlots; i++) {
        FileReadRequest* request = &table->slots[i];
        if (!isNewFileWork(table->used, i, &request->status)) continue;
        if (!isReleasedRequest(request)) {
            publishStatus(&request->status, FileStatusProcessing);
            loadResourceFromTableForRequest(resources, request->path, request->data, request->maxSize,
                                            request->headroom, request);
        }
        finishServedRequest(request, table);
    }
}

// A picked file's dialog: when it has closed, its outcome goes into the slot it serves.
void pollPicker(FileThreadState* state, FileReadTable* table) {
    FilePicker* picker = &state->picker;
    if (picker->pid <= 0) return;
    FileReadRequest* request = &table->slots[picker->slotIndex];
    if (!isSlotUsed(table->used, picker->slotIndex) || request->kind != FileReadKindPick) {
        stopFilePicker(picker);
        return;
    }
    if (isReleasedRequest(request)) {
        // The requester gave up waiting: the dialog goes, and so does the slot.
        stopFilePicker(picker);
        finishServedRequest(request, table);
        return;
    }
    FixedString path{};
    u32 outcome = pollFilePicker(picker, &path);
    if (outcome == FilePickerRunning) return;
    if (outcome == FilePickerChosen) {
        request->path = path;
        request->kind = FileReadKindRead;  // read in this same pass
    } else {
        u32 status = outcome == FilePickerCancelled ? FileStatusPickerCancelled : FileStatusPickerFailed;
        request->statusText = fileStatusString(status);
        publishStatus(&request->status, status);
        finishServedRequest(request, table);
    }
}

void readFile(FileThreadState* state, FixedString dataFolder, FileReadRequest* request) {
    request->statusText = makeString("Processing");
    publishStatus(&request->status, FileStatusProcessing);
    FileRequestResult read =
        processFileRequest(dataFolder, request->path, request->data, request->maxSize, request->headroom, request);
    if (!read.ok) return;  // the status and its text are set
    request->pdfDocumentNumber = 0;
    if (!endsWithIgnoringCase(request->path.text, request->path.length, ".pdf")) {
        request->statusText = formatStr("@ does not end with .pdf", request->name);
    } else {
        FixedString error{};
        request->pdfDocumentNumber = loadPdfDocument(&state->pdf, read.fullPath, &error);
        request->statusText = error;
    }
    publishStatus(&request->status, FileStatusSuccess);
}

void serveFileTable(FileThreadState* state, FixedString dataFolder, FileReadTable* table) {
    pollPicker(state, table);
    for (u32 i = 0; i < kFileTableSlots; i++) {
        FileReadRequest* request = &table->slots[i];
        if (!isNewFileWork(table->used, i, &request->status)) continue;
        if (isReleasedRequest(request)) {
            // Cancelled before it was served. A dialog open for it is ended by pollPicker.
            if (!(state->picker.pid > 0 && state->picker.slotIndex == i)) finishServedRequest(request, table);
            continue;
        }
        if (request->kind == FileReadKindPick) {
            if (state->picker.pid > 0) continue;  // one dialog at a time; this one waits its turn
            if (!startFilePicker(&state->picker, i)) {
                request->statusText = fileStatusString(FileStatusPickerFailed);
                publishStatus(&request->status, FileStatusPickerFailed);
                finishServedRequest(request, table);
            }
            continue;
        }
        if (request->kind == FileReadKindRead) {
            readFile(state, dataFolder, request);
        } else if (request->kind == FileReadKindList) {
            listFolder(dataFolder, request);
        }
        finishServedRequest(request, table);
    }
}

void servePageTable(FileThreadState* state, RenderedPageTable* table) {
    for (u32 i = 0; i < kRenderedPageSlots; i++) {
        RenderedPageSlot* request = &table->slots[i];
        if (!isNewFileWork(&table->used, i, &request->status)) continue;
        renderPdfPage(&state->pdf, request);
    }
}

}  // namespace

void runFileThreadPass(FileThreadState* state, Platform* platform) {
    serveResourceTable(state, &platform->resourceReads);
    serveFileTable(state, platform->dataFolder, &platform->fileReads);
    runFileJobPass(platform->dataFolder, &platform->fileJobs);
    servePageTable(state, &platform->renderedPages);
}

void finishFileThread(FileThreadState* state) {
    stopFilePicker(&state->picker);
    closePdfRenderer(&state->pdf);
}

bool hasUnfinishedFileJobs(FileJobTable* table) {
    for (u32 i = 0; i < kFileTableSlots; i++) {
        if (isSlotUsed(table->used, i) && readStatus(&table->slots[i].own.status) < FileStatusSuccess) return true;
    }
    return false;
}

void finishQueuedFileJobs(Platform* platform, u64 deadline) {
    while (hasUnfinishedFileJobs(&platform->fileJobs) && getMicroseconds() < deadline) {
        runFileJobPass(platform->dataFolder, &platform->fileJobs);
    }
}

i64 runFileThread(Platform* platform, const u32* running) {
    FileThreadState state{};
    while (std::atomic_ref<u32>(const_cast<u32&>(*running)).load(std::memory_order_acquire)) {
        runFileThreadPass(&state, platform);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    finishQueuedFileJobs(platform, getMicroseconds() + kFileThreadFinishMicroseconds);
    finishFileThread(&state);
    return 0;
}

void freeFileThreadBuffers(Platform* platform) {
    freeFileTableBuffers(&platform->resourceReads);
    freeFileTableBuffers(&platform->fileReads);
    freeFileJobData(&platform->fileJobs);
}
