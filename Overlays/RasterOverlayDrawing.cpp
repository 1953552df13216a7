#include "Overlays/RasterOverlayDrawing.h"

#include <cmath>

#include "SourceCommon/Renderer/TexturedQuads.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/MapView.h"

namespace {

// x moved by whole turns to within half a turn of the view's centre.
f64 wrapToView(f64 x, f64 centre) {
    if (!std::isfinite(x)) return x;
    f64 wrapped = x - std::trunc(x - centre);
    while (wrapped > centre + 0.5) wrapped -= 1;
    while (wrapped < centre - 0.5) wrapped += 1;
    return wrapped;
}

}  // namespace

void drawRasterOverlay(const RasterOverlayLoader* loader, const MapView* view, UiState* ui,
                       const OverlaySelection* selection, f32 depth) {
    if (__atomic_load_n(&loader->state, __ATOMIC_ACQUIRE) == RasterOverlayJobRunning) return;
    if (!loader->loaded || !loader->imageSlot || !equals(loader->pdfbinName, *selection->rasterOverlayName)) return;
    const PdfPageGeo* grid = &loader->grid;
    u32 columns = grid->columns, rows = grid->rows;
    if (rows < 2 || columns < 2 || (u64)rows * columns > kPdfGridPoints) return;
    const f64 centre = view->centreX, scale = view->pixelsPerUnit;
    const f64 originX = view->rectCentreX - view->centreX * scale;
    const f64 originY = view->rectCentreY - view->centreY * scale;
    const Rect clip = view->clipRect;
    const u32 format = loader->channels == 4 ? 4u : 3u;
    auto screen = [&](u32 row, u32 column, f64 shift) {
        const f64* p = grid->points[row * columns + column];
        return Vec2F32{(f32)((p[0] + shift) * scale + originX), (f32)(p[1] * scale + originY)};
    };
    for (u32 r = 1; r < rows; r++) {
        for (u32 c = 1; c < columns; c++) {
            // The cell moves as one with its first corner to the copy of the world nearest the view.
            f64 first = grid->points[(r - 1) * columns + (c - 1)][0];
            f64 shift = wrapToView(first, centre) - first;
            Vec2F32 p0 = screen(r - 1, c - 1, shift), p1 = screen(r, c - 1, shift);
            Vec2F32 p2 = screen(r, c, shift), p3 = screen(r - 1, c, shift);
            f32 minX = std::fmin(std::fmin(p0.x, p1.x), std::fmin(p2.x, p3.x));
            f32 maxX = std::fmax(std::fmax(p0.x, p1.x), std::fmax(p2.x, p3.x));
            f32 minY = std::fmin(std::fmin(p0.y, p1.y), std::fmin(p2.y, p3.y));
            f32 maxY = std::fmax(std::fmax(p0.y, p1.y), std::fmax(p2.y, p3.y));
            if (maxX < clip.x0 || minX > clip.x1 || maxY < clip.y0 || minY > clip.y1) continue;
            f32 u0 = (f32)(c - 1) / (f32)(columns - 1), u1 = (f32)c / (f32)(columns - 1);
            f32 v0 = (f32)(r - 1) / (f32)(rows - 1), v1 = (f32)r / (f32)(rows - 1);
            addTexturedQuadClipped(ImageKindSlot, loader->imageSlot, format, (f32)loader->width, (f32)loader->height,
                                   p0, p1, p2, p3, Vec2F32{u0, v0}, Vec2F32{u0, v1}, Vec2F32{u1, v1},
                                   Vec2F32{u1, v0}, clip, depth, ui->halfWidth, ui->halfHeight,
                                   &ui->batches.textured2d, 0);
        }
    }
}
