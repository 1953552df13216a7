// Fuzzes the KMZ reader: the KML entry and the icons of any archive; icons stay inside the pixel store.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Overlays/VectorOverlayFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static VectorOverlay* overlay = (VectorOverlay*)std::calloc(1, sizeof(VectorOverlay));
    parseKmz(data, (i64)size, overlay);
    if (overlay->pixelWordCount > kOverlayMaxPixelWords) std::abort();
    for (u32 i = 0; i < overlay->markerImageCount; i++) {
        const OverlayMarkerImage* image = &overlay->markerImages[i];
        if (image->state != OverlayImagePresent) continue;
        if (image->firstPixel + (u64)image->width * image->height > overlay->pixelWordCount) std::abort();
    }
    return 0;
}
