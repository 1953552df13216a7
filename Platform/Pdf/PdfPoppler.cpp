// The PDF module: documents and pages through poppler.
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <memory>
#include <string>

#include "Platform/PdfLibrary.h"

namespace {

void ignorePopplerMessage(const std::string&, void*) {}

void* load(const char* path, u64 length) {
    poppler::set_debug_error_function(ignorePopplerMessage, nullptr);
    poppler::document* document = poppler::document::load_from_file(std::string(path, length));
    if (!document || document->is_locked() || document->pages() <= 0) {
        delete document;
        return nullptr;
    }
    return document;
}

void close(void* document) { delete (poppler::document*)document; }

i32 pageCount(void* document) { return ((poppler::document*)document)->pages(); }

std::unique_ptr<poppler::page> openPage(void* handle, i32 index) {
    poppler::document* document = (poppler::document*)handle;
    std::unique_ptr<poppler::page> page;
    if (index >= 0 && index < document->pages()) page.reset(document->create_page(index));
    return page;
}

i32 pageSize(void* document, i32 index, f32* width, f32* height) {
    std::unique_ptr<poppler::page> page = openPage(document, index);
    if (!page) return 0;
    poppler::rectf box = page->page_rect(poppler::crop_box);
    *width = (f32)box.width();
    *height = (f32)box.height();
    poppler::page::orientation_enum orientation = page->orientation();
    if (orientation == poppler::page::landscape || orientation == poppler::page::seascape) {
        f32 swap = *width;
        *width = *height;
        *height = swap;
    }
    return 1;
}

i32 render(void* document, i32 index, f64 xDpi, f64 yDpi, u32 width, u32 height, u8* rgba) {
    std::unique_ptr<poppler::page> page = openPage(document, index);
    if (!page) return 0;
    poppler::page_renderer pageRenderer;
    pageRenderer.set_render_hint(poppler::page_renderer::antialiasing, true);
    pageRenderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
    pageRenderer.set_paper_color(0xFFFFFFFF);
    pageRenderer.set_image_format(poppler::image::format_argb32);
    poppler::image image = pageRenderer.render_page(page.get(), xDpi, yDpi, 0, 0, (int)width, (int)height);
    if (!image.is_valid() || image.width() < (int)width || image.height() < (int)height) return 0;
    // 0xAARRGGBB words, little-endian: bytes B, G, R, A.
    const u8* source = (const u8*)image.const_data();
    for (u32 y = 0; y < height; y++) {
        const u8* row = source + (u64)y * (u64)image.bytes_per_row();
        u8* out = rgba + (u64)y * width * 4;
        for (u32 x = 0; x < width; x++) {
            out[x * 4 + 0] = row[x * 4 + 2];
            out[x * 4 + 1] = row[x * 4 + 1];
            out[x * 4 + 2] = row[x * 4 + 0];
            out[x * 4 + 3] = row[x * 4 + 3];
        }
    }
    return 1;
}

const PdfLibraryFunctions kFunctions = {load, close, pageCount, pageSize, render};

}  // namespace

extern "C" __attribute__((visibility("default"))) const PdfLibraryFunctions* orvikPdfLibrary() { return &kFunctions; }
