// readPdfBin on arbitrary bytes: the lengths in the file never lead outside it, a success has a
// finite grid and an image that fits the pixel buffer.
#include <cmath>
#include <cstdlib>
#include <vector>

#include "Overlays/RasterOverlayLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
    std::vector<u8> bytes(data, data + size);
    static std::vector<u8> pixels(1 << 22), scratch(1 << 22);
    static PdfPageGeo* grid = new PdfPageGeo;
    u32 width = 0, height = 0;
    FixedString failure = readPdfBin(bytes.data(), bytes.size(), makeString("f.pdfbin"), grid, pixels.data(),
                                     pixels.size(), scratch.data(), scratch.size(), &width, &height);
    if (failure.length) return 0;
    if (grid->columns < 2 || grid->rows < 2 || grid->columns * grid->rows > kPdfGridPoints) std::abort();
    for (u32 k = 0; k < grid->columns * grid->rows; k++) {
        if (!std::isfinite(grid->points[k][0]) || !std::isfinite(grid->points[k][1])) std::abort();
    }
    if ((u64)((width * 3 + 3) & ~3u) * height > pixels.size()) std::abort();
    return 0;
}
