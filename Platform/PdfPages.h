// PDF documents and page rendering on the file thread. At most one document is loaded at a time;
// page requests name it by the number its load was given, and a page of an older document is
// refused.
#pragma once
#include "Platform/FileTables.h"

struct PdfRenderer {
    void* document;  // the current document, or null
    u32 documentCounter;  // number of the current document; grows with every successful load
    u32 pad;
    FixedString setupError;  // empty when the renderer could be set up
};

struct PdfPixelSize {
    u32 width;
    u32 height;
};

// The pixel size of a page of w x h points within pixelBudget pixels: the widest size whose ratio
// matches the page exactly within 80% of the largest width, else the widest size within the budget.
PdfPixelSize choosePdfPixelSize(f32 pageWidth, f32 pageHeight, i64 pixelBudget);

// Loads the PDF file as the current document, replacing the previous one. Returns the document's
// number, or 0 with the reason in *error.
u32 loadPdfDocument(PdfRenderer* renderer, FixedString fullPath, FixedString* error);
// Serves one page request (status 0): renders the page on opaque white into its pixels as RGBA rows.
void renderPdfPage(PdfRenderer* renderer, RenderedPageSlot* request);
// Releases the current document.
void closePdfRenderer(PdfRenderer* renderer);

// 1 when result is 0; otherwise writes "<callName> returned ..." into *out and returns 0.
u32 checkHresult(u32 result, const char* callName, FixedString* out);
