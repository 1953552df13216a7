// The file thread: one pass every millisecond over the four tables of Platform, in order: resource
// reads, file reads (picked files, whole-file reads with a PDF load after a ".pdf", folder listings),
// file jobs, PDF pages. A dialog that is open does not hold up the pass.
#pragma once
#include "Platform/FilePicker.h"
#include "Platform/Platform.h"
#include "Platform/PdfPages.h"
#include "Platform/Resources.h"

struct FileThreadState {
    const EmbeddedResourceTable* resources;  // the resource table's source; null: the program's own
    FilePicker picker;
    PdfRenderer pdf;
};

// One pass over the tables; never waits for a dialog.
void runFileThreadPass(FileThreadState* state, Platform* platform);
// Ends an open dialog and releases the PDF document.
void finishFileThread(FileThreadState* state);
// How long the file thread may go on with jobs already queued once it is told to stop.
constexpr u64 kFileThreadFinishMicroseconds = 5000000;

// Passes with a 1 ms sleep between them while *running is nonzero; then the jobs already queued
// (writes the program must not lose) until none is left or the deadline (getMicroseconds) passes.
// Returns 0.
i64 runFileThread(Platform* platform, const u32* running);
bool hasUnfinishedFileJobs(FileJobTable* table);
void finishQueuedFileJobs(Platform* platform, u64 deadline);
// After the file thread has ended: frees the read buffers it made that no one released and the data
// of jobs it never ran.
void freeFileThreadBuffers(Platform* platform);
