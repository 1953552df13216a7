// PDF documents and pages through poppler.
#include "Platform/PdfPages.h"

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "Core/Format.h"

namespace {

constexpr u32 kInvalidArgument = 0x80070057;

void ignorePopplerMessage(const std::string&, void*) {}

poppler::document* currentDocument(PdfRenderer* renderer) { return (poppler::document*)renderer->document; }

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
    poppler::set_debug_error_function(ignorePopplerMessage, nullptr);
    poppler::document* document = poppler::document::load_from_file(std::string(fullPath.text, fullPath.length));
    if (!document || document->is_locked() || document->pages() <= 0) {
        delete document;
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
    poppler::document* document = currentDocument(renderer);
    if (!document || request->document != renderer->documentCounter) {
        request->message = makeString("Pdf is no longer loaded in memory");
        return finishPage(request, PdfPageNotLoaded);
    }
    std::unique_ptr<poppler::page> page;
    if (request->page < (u32)document->pages()) page.reset(document->create_page((int)request->page));
    if (!page) {
        checkHresult(kInvalidArgument, "PdfDocument.GetPage()", &request->message);
        return finishPage(request, PdfPageFailed);
    }
    poppler::rectf box = page->page_rect(poppler::crop_box);
    f32 width = (f32)box.width();
    f32 height = (f32)box.height();
    poppler::page::orientation_enum orientation = page->orientation();
    if (orientation == poppler::page::landscape || orientation == poppler::page::seascape) {
        f32 swap = width;
        width = height;
        height = swap;
    }
    PdfPixelSize size = choosePdfPixelSize(width, height, (i64)(request->capacity / 4));
    if (size.width == 0 || size.height == 0 || !request->pixels) {
        checkHresult(kInvalidArgument, "PdfPageRenderOptions.put_DestinationWidth()", &request->message);
        return finishPage(request, PdfPageFailed);
    }

    poppler::page_renderer pageRenderer;
    pageRenderer.set_render_hint(poppler::page_renderer::antialiasing, true);
    pageRenderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
    pageRenderer.set_paper_color(0xFFFFFFFF);
    pageRenderer.set_image_format(poppler::image::format_argb32);
    f64 xDpi = (f64)size.width * 72.0 / (f64)width;
    f64 yDpi = (f64)size.height * 72.0 / (f64)height;
    poppler::image image = pageRenderer.render_page(page.get(), xDpi, yDpi, 0, 0, (int)size.width, (int)size.height);
    if (!image.is_valid() || image.width() < (int)size.width || image.height() < (int)size.height) {
        request->message = makeString("PdfPage.RenderWithOptionsToStreamAsync() terminated with an error");
        return finishPage(request, PdfPageFailed);
    }
    // 0xAARRGGBB words, little-endian: bytes B, G, R, A.
    const u8* source = (const u8*)image.const_data();
    for (u32 y = 0; y < size.height; y++) {
        const u8* row = source + (u64)y * (u64)image.bytes_per_row();
        u8* out = request->pixels + (u64)y * size.width * 4;
        for (u32 x = 0; x < size.width; x++) {
            out[x * 4 + 0] = row[x * 4 + 2];
            out[x * 4 + 1] = row[x * 4 + 1];
            out[x * 4 + 2] = row[x * 4 + 0];
            out[x * 4 + 3] = row[x * 4 + 3];
        }
    }
    request->width = size.width;
    request->height = size.height;
    request->message = FixedString{};
    finishPage(request, PdfPageDone);
}

void closePdfRenderer(PdfRenderer* renderer) {
    delete currentDocument(renderer);
    renderer->document = nullptr;
}
