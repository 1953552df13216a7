// Fuzzes the KML parser: counts stay within their tables and every triangle names stored vertices.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Overlays/VectorOverlay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static VectorOverlay* overlay = (VectorOverlay*)std::calloc(1, sizeof(VectorOverlay));
    parseKmlDocument(data, (i64)size, overlay);
    if (overlay->lineSegmentCount > overlay->lineSegmentCapacity || overlay->lineSegmentCount > overlay->lineSegmentsInFile ||
        overlay->markerCount > kOverlayMaxMarkers ||
        overlay->markerStyleCount > kOverlayMaxMarkerStyles || overlay->markerImageCount > kOverlayMaxMarkerImages ||
        overlay->triangleCount > kOverlayMaxTriangles || overlay->polygonVertexCount > kOverlayMaxPolygonVertices) {
        std::abort();
    }
    for (u32 t = 0; t < overlay->triangleCount * 3; t++) {
        if (overlay->triangles[t] >= overlay->polygonVertexCount) std::abort();
    }
    for (u32 m = 0; m < overlay->markerCount; m++) {
        if (overlay->markers[m].styleIndex < 0 ||
            (overlay->markerStyleCount && (u32)overlay->markers[m].styleIndex >= overlay->markerStyleCount)) {
            std::abort();
        }
    }
    return 0;
}
