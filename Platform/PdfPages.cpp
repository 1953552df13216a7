// PDF documents and pages through the PDF module, loaded on first use.
#include "Platform/PdfPages.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "Core/Format.h"
#include "Platform/PdfLibrary.h"

namespace {

constexpr u32 kInvalidArgument = 0x80070057;

const PdfLibraryFunctions* pdfFunctions = nullptr;
char pdfLoadError[512];
std::once_flag pdfOnce;

// The module beside the program, else in the build folder (where tests, built elsewhere, find it).
void loadPdfModule() {
    char program[4096];
    ssize_t length = readlink("/proc/self/exe", program, sizeof(program) - 1);
    char candidates[2][4608] = {};
    if (length > 0) {
        program[length] = 0;
        char* slash = std::strrchr(program, '/');
        if (slash) *slash = 0;
        std::snprintf(candidates[0], sizeof(candidates[0]), "%s/%s", program, kPdfLibraryFile);
    }
    std::snprintf(candidates[1], sizeof(candidates[1]), "%s/%s", ORVIK_MODULE_DIR, kPdfLibraryFile);
    for (const char* candidate : candidates) {
        if (!candidate[0]) continue;
        void* module = dlopen(candidate, RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            const char* reason = dlerror();
            std::snprintf(pdfLoadError, sizeof(pdfLoadError), "Could not load the PDF module: %.400s", reason ? reason : "?");
            continue;
        }
        auto entry = (const PdfLibraryFunctions* (*)())dlsym(module, kPdfLibraryExport);
        if (entry && entry()) {
            pdfFunctions = entry();
            return;
        }
        std::snprintf(pdfLoadError, sizeof(pdfLoadError), "The PDF module %.300s has no %s", candidate, kPdfLibraryExport);
    }
}

const PdfLibraryFunctions* pdfLibrary() {
    std::call_once(pdfOnce, loadPdfModule);
    return pdfFunctions;
}

void finishPage(RenderedPageSlot* request, u32 status) { publishStatus(&request->status, status); }

}  // namespace

u32 checkHresult(u32 result, const char* callName, FixedString* out) {
    if (result == 0) return 1;
    const char* name = nullptr;
    switch (result) {
        case 0x80004001: name = "E_NOTIMPL"; break;
        case 0x80004002: name = "E_NOINTERFACE"; break;
        case 0x80004003: name = "E_POINTER"; break;
        case 0x80004004: name = "E_ABORT"; break;
        case 0x80004005: name = "E_FAIL"; break;
        case 0x8000FFFF: name = "E_UNEXPECTED"; break;
        case 0x80070005: name = "E_ACCESSDENIED"; break;
        case 0x80070006: name = "E_HANDLE"; break;
        case 0x8007000E: name = "E_OUTOFMEMORY"; break;
        case 0x80070057: name = "E_INVALIDARG"; break;
        default: break;
    }
    if (name) {
        *out = formatCstrCstr("@ returned @", callName, name);
    } else {
        FixedString hex = formatHex("@", result, 8);
        *out = formatCstr("@ returned unrecognized error code 0x", callName);
        FixedString joined = formatStrStr("@@", *out, hex);
        *out = joined;
    }
    return 0;
}

PdfPixelSize choosePdfPixelSize(f32 pageWidth, f32 pageHeight, i64 pixelBudget) {
    PdfPixelSize chosen{0, 0};
    if (!(pageWidth > 0) || !(pageHeight > 0) || pixelBudget <= 0) return chosen;
    f32 product = (f32)pixelBudget * pageWidth;
    f32 quotient = product / pageHeight;
    i64 widest = (i64)std::sqrt((f64)quotient);
    f32 pageRatio = pageWidth / pageHeight;
    bool remembered = false;
    for (i64 width = widest; width > 0 && (f64)width > 0.8 * (f64)widest; width--) {
        f32 heightFloat = (f32)width * pageHeight / pageWidth;
        i64 height = (i64)heightFloat;
        if (width * height > pixelBudget) continue;
        if (!remembered) {
            chosen = PdfPixelSize{(u32)width, (u32)height};
            remembered = true;
        }
        if (height > 0 && (f32)width / (f32)height == pageRatio) return PdfPixelSize{(u32)width, (u32)height};
    }
    return chosen;
}

u32 loadPdfDocument(PdfRenderer* renderer, FixedString fullPath, FixedString* error) {
    if (renderer->setupError.length > 0) {
        *error = renderer->setupError;
        return 0;
    }
    const PdfLibraryFunctions* pdf = pdfLibrary();
    if (!pdf) {
        *error = makeString(pdfLoadError);
        return 0;
    }
    void* document = pdf->load(fullPath.text, (u64)fullPath.length);
    if (!document) {
        *error = makeString("IPdfDocumentStatics.LoadFromFileAsync() terminated with an error");
        return 0;
    }
    closePdfRenderer(renderer);
    renderer->document = document;
    renderer->documentCounter++;
    *error = FixedString{};
    return renderer->documentCounter;
}

void renderPdfPage(PdfRenderer* renderer, RenderedPageSlot* request) {
    publishStatus(&request->status, PdfPageProcessing);
    void* document = renderer->document;
    if (!document || request->document != renderer->documentCounter) {
        request->message = makeString("Pdf is no longer loaded in memory");
        return finishPage(request, PdfPageNotLoaded);
    }
    // A document is only ever loaded through the module, so it is there.
    const PdfLibraryFunctions* pdf = pdfLibrary();
    f32 width = 0;
    f32 height = 0;
    if (request->page >= (u32)pdf->pageCount(document) || !pdf->pageSize(document, (i32)request->page, &width, &height)) {
        checkHresult(kInvalidArgument, "PdfDocument.GetPage()", &request->message);
        return finishPage(request, PdfPageFailed);
    }
    PdfPixelSize size = choosePdfPixelSize(width, height, (i64)(request->capacity / 4));
    if (size.width == 0 || size.height == 0 || !request->pixels) {
        checkHresult(kInvalidArgument, "PdfPageRenderOptions.put_DestinationWidth()", &request->message);
        return finishPage(request, PdfPageFailed);
    }
    f64 xDpi = (f64)size.width * 72.0 / (f64)width;
    f64 yDpi = (f64)size.height * 72.0 / (f64)height;
    if (!pdf->render(document, (i32)request->page, xDpi, yDpi, size.width, size.height, request->pixels)) {
        request->message = makeString("PdfPage.RenderWithOptionsToStreamAsync() terminated with an error");
        return finishPage(request, PdfPageFailed);
    }
    request->width = size.width;
    request->height = size.height;
    request->message = FixedString{};
    finishPage(request, PdfPageDone);
}

void closePdfRenderer(PdfRenderer* renderer) {
    if (renderer->document) pdfLibrary()->close(renderer->document);
    renderer->document = nullptr;
}
