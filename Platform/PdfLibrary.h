// The PDF library's entry points. They live in a module of their own (liborvik-pdf.so, built from
// Platform/Pdf over poppler) that the file thread loads when it opens the first PDF document: the
// program does not link poppler, whose libraries would add tens of milliseconds to every start.
#pragma once
#include "Core/Types.h"

struct PdfLibraryFunctions {
    // The document at path (length bytes, not terminated), or null when it cannot be read, is
    // locked or has no pages.
    void* (*load)(const char* path, u64 length);
    void (*close)(void* document);
    i32 (*pageCount)(void* document);
    // The page's crop box in points, turned upright (width and height swapped for landscape and
    // seascape pages). 0 when there is no such page.
    i32 (*pageSize)(void* document, i32 page, f32* width, f32* height);
    // Renders the page on opaque white at the given resolution into width x height RGBA pixels
    // (rows packed). 0 when the library gave no image of that size.
    i32 (*render)(void* document, i32 page, f64 xDpi, f64 yDpi, u32 width, u32 height, u8* rgba);
};

// The module's one export.
extern "C" const PdfLibraryFunctions* orvikPdfLibrary();
constexpr const char* kPdfLibraryExport = "orvikPdfLibrary";
constexpr const char* kPdfLibraryFile = "liborvik-pdf.so";
