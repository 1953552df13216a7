// The overlay's segment store: as many segments as the file gives and memory holds.
#include <cstdlib>

#include "Core/Format.h"
#include "Overlays/VectorOverlay.h"

namespace {

constexpr u64 kFirstSegmentCapacity = 4096;

bool growTo(VectorOverlay* o, u64 wanted) {
    if (wanted <= o->lineSegmentCapacity) return true;
    if (wanted > 0xFFFFFFFFull) return false;
    u64 capacity = o->lineSegmentCapacity ? o->lineSegmentCapacity : kFirstSegmentCapacity;
    while (capacity < wanted) capacity *= 2;
    u64 limit = o->lineSegmentByteLimit ? o->lineSegmentByteLimit / sizeof(OverlayLineSegment) : 0xFFFFFFFFull;
    if (limit > 0xFFFFFFFFull) limit = 0xFFFFFFFFull;
    if (capacity > limit) capacity = limit;
    if (capacity < wanted) return false;
    void* grown = std::realloc(o->lineSegments, (size_t)capacity * sizeof(OverlayLineSegment));
    if (!grown) return false;
    o->lineSegments = (OverlayLineSegment*)grown;
    o->lineSegmentCapacity = (u32)capacity;
    return true;
}

}  // namespace

void releaseVectorOverlay(VectorOverlay* overlay) {
    std::free(overlay->lineSegments);
    overlay->lineSegments = nullptr;
    overlay->lineSegmentCapacity = 0;
    overlay->lineSegmentCount = 0;
}

bool reserveOverlayLineSegments(VectorOverlay* overlay, u64 count) { return growTo(overlay, count); }

i32 appendOverlayLineSegment(VectorOverlay* overlay, const OverlayLineSegment& segment) {
    if (overlay->lineSegmentsInFile < 0xFFFFFFFFu) overlay->lineSegmentsInFile++;
    // Once one was left out, the rest are too: the lines shown are the file's first ones.
    if (overlay->lineSegmentCount + 1 != overlay->lineSegmentsInFile) return 0;
    if (!growTo(overlay, (u64)overlay->lineSegmentCount + 1)) return 0;
    overlay->lineSegments[overlay->lineSegmentCount++] = segment;
    return 1;
}

FixedString overlayLinesShownText(const VectorOverlay* overlay) {
    if (overlay->lineSegmentsInFile <= overlay->lineSegmentCount) return FixedString{};
    return formatIntInt("Showing @ of @ lines", overlay->lineSegmentCount, overlay->lineSegmentsInFile);
}
