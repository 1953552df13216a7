// parsePdfObjects on arbitrary bytes: every length, count and offset read from the file stays inside
// the file and the decompressed object streams; a success holds only finite grids of 2 to 400
// points per side product.
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "Overlays/PdfObjects.h"

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
    // An exact-size copy, so that a read past the end is caught.
    std::vector<u8> bytes(data, data + size);
    static PdfGeoResult* result = new PdfGeoResult;
    parsePdfObjects(result, bytes.data(), (i64)bytes.size());
    if (result->message.length) {
        if (result->pageCount != 0) std::abort();
        return 0;
    }
    if (result->pageCount > kPdfMaxPages) std::abort();
    for (u32 i = 0; i < result->pageCount; i++) {
        const PdfPageGeo* page = &result->pages[i];
        if (page->columns < 2 || page->rows < 2 || page->columns * page->rows > kPdfGridPoints) std::abort();
        for (u32 k = 0; k < page->columns * page->rows; k++) {
            if (!std::isfinite(page->points[k][0]) || !std::isfinite(page->points[k][1])) std::abort();
        }
    }
    return 0;
}
