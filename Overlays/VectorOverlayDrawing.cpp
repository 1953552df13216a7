#include "Overlays/VectorOverlayDrawing.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "SourceCommon/Renderer/MapBatches.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/MapView.h"

namespace {

constexpr f32 kIconPixels = 32.0f;

// x moved by whole turns to within half a turn of the view's centre.
inline f64 wrapToView(f64 x, f64 centre) {
    if (x >= centre - 0.5 && x <= centre + 0.5) return x;
    if (!std::isfinite(x)) return x;
    f64 wrapped = x - std::trunc(x - centre);
    while (wrapped > centre + 0.5) wrapped -= 1;
    while (wrapped < centre - 0.5) wrapped += 1;
    return wrapped;
}

// Hands the geometry to the renderer once a build is new: the old slots and memory go, the new
// memory is taken over and a slot made for each band and for the fills.
void takeGeometry(VectorOverlayLoader* loader, UiState* ui) {
    OverlayGpu* gpu = &loader->gpu;
    OverlayGeometry* geometry = &loader->geometry;
    if (gpu->generation == geometry->generation) return;
    GeometrySlotTable* table = &ui->geometrySlots;
    for (i32& slot : gpu->bandSlots) {
        if (GeometrySlot* s = getGeometrySlot(table, slot)) s->releaseRequested = 1;
        slot = 0;
    }
    if (GeometrySlot* s = getGeometrySlot(table, gpu->fillSlot)) s->releaseRequested = 1;
    gpu->fillSlot = 0;
    gpu->taken.taken = 0;
    clearOverlayGeometry(&gpu->taken);
    gpu->taken = *geometry;
    geometry->taken = 1;
    gpu->generation = geometry->generation;
    for (u32 b = 0; b < geometry->bandCount; b++) {
        const OverlayBand* band = &geometry->bands[b];
        if (band->segmentCount) {
            gpu->bandSlots[b] =
                allocGeometrySlot(band->segments, (u64)band->segmentCount * 4 * sizeof(SegmentVertex), table);
        }
    }
    if (geometry->fillCount) {
        gpu->fillSlot = allocGeometrySlot(geometry->fills, (u64)geometry->fillCount * sizeof(FillVertex), table);
    }
}

// Once the renderer has made every buffer, the vertices it made them from go (the chunks stay: they
// place the draws).
void freeUploadedVertices(OverlayGpu* gpu, UiState* ui) {
    if (!gpu->taken.segments && !gpu->taken.fills) return;
    for (i32 id : gpu->bandSlots) {
        const GeometrySlot* slot = getGeometrySlot(&ui->geometrySlots, id);
        if (id && (!slot || !slot->buffer)) return;
    }
    const GeometrySlot* fills = getGeometrySlot(&ui->geometrySlots, gpu->fillSlot);
    if (gpu->fillSlot && (!fills || !fills->buffer)) return;
    std::free(gpu->taken.segments);
    std::free(gpu->taken.fills);
    gpu->taken.segments = nullptr;
    gpu->taken.fills = nullptr;
    for (OverlayBand& band : gpu->taken.bands) band.segments = nullptr;
}

// The draws of the chunks in view: consecutive ones with one origin become one draw.
void drawChunks(const OverlayChunk* chunks, u32 count, u32 kind, i32 slot, const MapView* view, f32 depth,
                f64 margin, UiState* ui) {
    if (!slot || count == 0) return;
    const f64 scale = view->pixelsPerUnit;
    if (!(scale > 0)) return;
    const Rect clip = view->clipRect;
    f64 left = view->centreX + (clip.x0 - view->rectCentreX) / scale - margin;
    f64 right = view->centreX + (clip.x1 - view->rectCentreX) / scale + margin;
    f64 bottom = view->centreY + (clip.y0 - view->rectCentreY) / scale - margin;
    f64 top = view->centreY + (clip.y1 - view->rectCentreY) / scale + margin;
    RetainedDrawList* list = &ui->batches.retained;
    RetainedDraw* open = nullptr;
    for (u32 i = 0; i < count; i++) {
        const OverlayChunk* c = &chunks[i];
        // In view on some copy of the world: a whole number of turns k with the box moved by k
        // meeting the view.
        bool inView = c->maxY >= bottom && c->minY <= top &&
                      (right - left >= 1.0 || std::ceil(c->minX - right) <= std::floor(c->maxX - left));
        if (!inView || c->count == 0) {
            open = nullptr;
            continue;
        }
        f64 offsetX = wrapToView(c->originX, view->centreX) - view->centreX;
        f32 offsetY = (f32)(c->originY - view->centreY);
        if (open && open->offsetX == (f32)offsetX && open->offsetY == offsetY && open->first + open->count == c->first) {
            open->count += c->count;
            continue;
        }
        if (list->count >= kRetainedDrawCapacity) return;
        open = &list->draws[list->count++];
        *open = RetainedDraw{kind, slot, c->first, c->count, (f32)offsetX, offsetY, (f32)scale, view->rectCentreX,
                             view->rectCentreY, depth, 1, clip};
    }
}

}  // namespace

void drawVectorOverlayItems(UiState* ui, const MapView* view, VectorOverlayLoader* loader, f32 labelTextSize,
                            f32 depth) {
    takeGeometry(loader, ui);
    freeUploadedVertices(&loader->gpu, ui);
    const OverlayGpu* gpu = &loader->gpu;
    const OverlayGeometry* geometry = &gpu->taken;
    const VectorOverlay* overlay = &loader->overlay;
    const f64 centre = view->centreX;
    const f64 scale = view->pixelsPerUnit;
    const f64 originX = view->rectCentreX - view->centreX * scale;
    const f64 originY = view->rectCentreY - view->centreY * scale;
    const Rect clip = view->clipRect;
    auto screen = [&](f64 x, f64 y) { return Vec2F32{(f32)(x * scale + originX), (f32)(y * scale + originY)}; };

    // Lines and polygons: from the GPU, the band of this scale.
    if (geometry->bandCount) {
        u32 band = overlayBandFor(geometry, scale);
        const OverlayBand* b = &geometry->bands[band];
        drawChunks(geometry->chunks + b->firstChunk, b->chunkCount, RetainedLines, gpu->bandSlots[band], view, depth,
                   32.0 / scale, ui);
    }
    drawChunks(geometry->chunks + geometry->firstFillChunk, geometry->fillChunkCount, RetainedFills, gpu->fillSlot,
               view, depth, 0.0, ui);

    u32 markers = std::min(overlay->markerCount, kOverlayMaxMarkers);
    u16 order[kOverlayMaxMarkers];
    Vec2F32 places[kOverlayMaxMarkers];
    for (u32 i = 0; i < markers; i++) {
        order[i] = (u16)i;
        places[i] = screen(wrapToView(overlay->markers[i].x, centre), overlay->markers[i].y);
    }
    // From the top of the view down: a marker lower on the screen lies over the ones above it.
    std::sort(order, order + markers, [&](u16 a, u16 b) { return places[a].y > places[b].y; });
    const TextStyle labelStyle{0xFFFFFFFF, 0xFF000000, 0xFFE36400, labelTextSize, 0.03f, 0};
    u32 styleCount = std::min(overlay->markerStyleCount, kOverlayMaxMarkerStyles);
    u32 imageCount = std::min(overlay->markerImageCount, kOverlayMaxMarkerImages);
    for (u32 k = 0; k < markers; k++) {
        const OverlayMarker* marker = &overlay->markers[order[k]];
        Vec2F32 at = places[order[k]];
        const OverlayMarkerStyle* style = nullptr;
        const OverlayMarkerImage* image = nullptr;
        if (marker->styleIndex >= 0 && (u32)marker->styleIndex < styleCount) {
            style = &overlay->markerStyles[marker->styleIndex];
            if (style->imageIndex >= 0 && (u32)style->imageIndex < imageCount) {
                image = &overlay->markerImages[style->imageIndex];
            }
        }
        // An icon decoded but not yet handed to the renderer shows on the next frame; a marker with
        // no icon of its own (none named, or one that could not be had) shows the default pin.
        if (image && image->state == OverlayImagePresent && image->width && image->height && !image->slot) continue;
        bool own = image && image->state == OverlayImagePresent && image->width && image->height;
        f32 bottom = at.y;
        if (own) {
            f32 width = style->scale * kIconPixels;
            f32 pixel = width / (f32)image->width;
            f32 height = (f32)image->height * pixel;
            f32 left = at.x - style->hotSpotX * (style->xUnits == OverlayUnitsFraction ? width : pixel);
            bottom = at.y - style->hotSpotY * (style->yUnits == OverlayUnitsFraction ? height : pixel);
            if (left + width < clip.x0 || left > clip.x1 || bottom + height < clip.y0 ||
                bottom - labelTextSize * 2 > clip.y1) {
                continue;
            }
            drawMapIcon(Vec2F32{left, bottom}, depth, AnchorBottomLeft, 0, width, clip, ImageKindSlot, image->slot, ui);
        } else {
            if (at.x + kIconPixels < clip.x0 || at.x - kIconPixels > clip.x1 || at.y + kIconPixels < clip.y0 ||
                at.y - labelTextSize * 2 > clip.y1) {
                continue;
            }
            drawMapIcon(at, depth, AnchorBottomCentre, 0, kIconPixels, clip, ImageKindAsset, AssetWhiteMarker, ui);
        }
        if (marker->nearest * scale > 2.0 * labelTextSize && marker->name.length) {
            drawTextAt(ui, marker->name, AnchorTopCentre, Vec2F32{at.x, bottom}, depth, clip, labelStyle);
        }
    }
}

void drawVectorOverlay(VectorOverlayLoader* loader, const MapView* view, UiState* ui, const OverlaySelection* selection,
                       f32 depth, f32 labelTextSize) {
    if (__atomic_load_n(&loader->jobState, __ATOMIC_ACQUIRE) == OverlayJobRunning) return;
    if (loader->state != 1) return;
    const FixedString* name = selection->vectorOverlayName;
    if (name->length != loader->name.length ||
        std::memcmp(name->text, loader->name.text, fixedStringLength(name)) != 0) {
        return;
    }
    drawVectorOverlayItems(ui, view, loader, labelTextSize, depth);
}
