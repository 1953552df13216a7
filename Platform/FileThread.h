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
// Passes with a 1 ms sleep between them while *running is nonzero. Returns 0.
i64 runFileThread(Platform* platform, const u32* running);
// The thread procedure start-up starts: runFileThread over the program's running flag.
i64 fileThread(Platform* platform);
