#include "Overlays/VectorOverlayDrawing.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/Renderer/TexturedQuads.h"
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

inline bool inside(Vec2F32 p, const Rect& clip) {
    return p.x >= clip.x0 && p.x <= clip.x1 && p.y >= clip.y0 && p.y <= clip.y1;
}

}  // namespace

void drawVectorOverlayItems(UiState* ui, const MapView* view, const VectorOverlay* overlay, f32 labelTextSize,
                            f32 depth) {
    const f64 centre = view->centreX;
    const f64 scale = view->pixelsPerUnit;
    const f64 originX = view->rectCentreX - view->centreX * scale;
    const f64 originY = view->rectCentreY - view->centreY * scale;
    const Rect clip = view->clipRect;
    auto screen = [&](f64 x, f64 y) { return Vec2F32{(f32)(x * scale + originX), (f32)(y * scale + originY)}; };

    u32 segments = std::min(overlay->lineSegmentCount, kOverlayMaxLineSegments);
    Line2dBatch* lines = &ui->batches.line2d;
    for (u32 i = segments; i-- > 0;) {
        // A full batch takes nothing more.
        if (lines->vertexCount + 4 > kBatchVertexCapacity || lines->triangleCount + 2 > kLine2dTriangles) break;
        const OverlayLineSegment* s = &overlay->lineSegments[i];
        Vec2F32 a = screen(wrapToView(s->x0, centre), s->y0);
        Vec2F32 b = screen(wrapToView(s->x1, centre), s->y1);
        // Wholly beside the view: nothing to cut.
        f32 reach = s->width;
        if ((a.x < clip.x0 - reach && b.x < clip.x0 - reach) || (a.x > clip.x1 + reach && b.x > clip.x1 + reach) ||
            (a.y < clip.y0 - reach && b.y < clip.y0 - reach) || (a.y > clip.y1 + reach && b.y > clip.y1 + reach)) {
            continue;
        }
        if (inside(a, clip) && inside(b, clip)) {
            addLineUnclipped(a, b, depth, s->colour, s->width, lines);
        } else {
            addLine(a, b, depth, clip, s->colour, s->width, lines);
        }
    }

    u32 triangles = std::min(overlay->triangleCount, kOverlayMaxTriangles);
    u32 vertices = std::min(overlay->polygonVertexCount, kOverlayMaxPolygonVertices);
    Colored2dBatch* fills = &ui->batches.colored2d;
    for (u32 t = 0; t < triangles; t++) {
        if (fills->vertexCount + 3 > kBatchVertexCapacity || fills->triangleCount + 1 > kColored2dTriangles) break;
        // Polygons without a fill style are triangulated with a transparent colour: nothing to draw.
        if ((overlay->triangleColours[t] >> 24) == 0) continue;
        const u16* corner = &overlay->triangles[t * 3];
        if (corner[0] >= vertices || corner[1] >= vertices || corner[2] >= vertices) continue;
        const Vec2* v0 = &overlay->polygonVertices[corner[0]];
        const Vec2* v1 = &overlay->polygonVertices[corner[1]];
        const Vec2* v2 = &overlay->polygonVertices[corner[2]];
        // The whole triangle moves with its first corner to the copy of the world nearest the view.
        f64 shift = wrapToView(v0->x, centre) - v0->x;
        Vec2F32 a = screen(v0->x + shift, v0->y), b = screen(v1->x + shift, v1->y), c = screen(v2->x + shift, v2->y);
        if ((a.x < clip.x0 && b.x < clip.x0 && c.x < clip.x0) || (a.x > clip.x1 && b.x > clip.x1 && c.x > clip.x1) ||
            (a.y < clip.y0 && b.y < clip.y0 && c.y < clip.y0) || (a.y > clip.y1 && b.y > clip.y1 && c.y > clip.y1)) {
            continue;
        }
        if (inside(a, clip) && inside(b, clip) && inside(c, clip)) {
            Vec2F32 corners[3] = {a, b, c};
            addConvexPolygon(corners, 3, depth, overlay->triangleColours[t], fills);
        } else {
            addTriangleFromPoints(a, b, c, clip, depth, overlay->triangleColours[t], fills);
        }
    }

    u32 markers = std::min(overlay->markerCount, kOverlayMaxMarkers);
    u16 order[kOverlayMaxMarkers];
    Vec2F32 places[kOverlayMaxMarkers];
    for (u32 i = 0; i < markers; i++) {
        order[i] = (u16)i;
        places[i] = screen(wrapToView(overlay->markers[i].x, centre), overlay->markers[i].y);
    }
    std::sort(order, order + markers, [&](u16 a, u16 b) { return places[a].y < places[b].y; });
    const TextStyle labelStyle{0xFFFFFFFF, 0xFF000000, 0xFFE36400, labelTextSize, 0.03f, 0};
    u32 styleCount = std::min(overlay->markerStyleCount, kOverlayMaxMarkerStyles);
    u32 imageCount = std::min(overlay->markerImageCount, kOverlayMaxMarkerImages);
    Textured2dBatch* icons = &ui->batches.textured2d;
    for (u32 k = 0; k < markers; k++) {
        if (icons->triangleCount + 2 > kTextured2dTriangles) break;
        const OverlayMarker* marker = &overlay->markers[order[k]];
        Vec2F32 at = places[order[k]];
        if (marker->styleIndex < 0 || (u32)marker->styleIndex >= styleCount) continue;
        const OverlayMarkerStyle* style = &overlay->markerStyles[marker->styleIndex];
        if (style->imageIndex < 0 || (u32)style->imageIndex >= imageCount) continue;
        const OverlayMarkerImage* image = &overlay->markerImages[style->imageIndex];
        if (!image->width || !image->height || !image->slot) continue;
        f32 width = style->scale * kIconPixels;
        f32 pixel = width / (f32)image->width;
        f32 height = (f32)image->height * pixel;
        f32 left = at.x - style->hotSpotX * (style->xUnits == OverlayUnitsFraction ? width : pixel);
        f32 bottom = at.y - style->hotSpotY * (style->yUnits == OverlayUnitsFraction ? height : pixel);
        f32 right = left + width, top = bottom + height;
        if (right < clip.x0 || left > clip.x1 || top < clip.y0 || bottom - labelTextSize * 2 > clip.y1) continue;
        addTexturedQuadClipped(ImageKindSlot, image->slot, 4, (f32)image->width, (f32)image->height,
                               Vec2F32{left, top}, Vec2F32{left, bottom}, Vec2F32{right, bottom}, Vec2F32{right, top},
                               Vec2F32{0, 0}, Vec2F32{0, 1}, Vec2F32{1, 1}, Vec2F32{1, 0}, clip, depth, ui->halfWidth,
                               ui->halfHeight, icons, 0);
        if (marker->nearest * scale > 2.0 * labelTextSize && marker->name.length) {
            drawTextAt(ui, marker->name, 5, Vec2F32{at.x, bottom}, depth, clip, labelStyle);
        }
    }
}

void drawVectorOverlay(const VectorOverlayLoader* loader, const MapView* view, UiState* ui,
                       const OverlaySelection* selection, f32 depth, f32 labelTextSize) {
    if (__atomic_load_n(&loader->jobState, __ATOMIC_ACQUIRE) == OverlayJobRunning) return;
    if (loader->state != 1) return;
    const FixedString* name = selection->vectorOverlayName;
    if (name->length != loader->name.length ||
        std::memcmp(name->text, loader->name.text, fixedStringLength(name)) != 0) {
        return;
    }
    drawVectorOverlayItems(ui, view, &loader->overlay, labelTextSize, depth);
}
