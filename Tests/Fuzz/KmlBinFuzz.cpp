// Fuzzes the overlay cache reader, then makes the GPU geometry of what it accepted and draws it, with
// its icons taken as uploaded, at a few zooms round the antimeridian: no read outside the overlay's
// tables, and every draw within its geometry.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Overlays/VectorOverlayDrawing.h"
#include "Overlays/VectorOverlayFiles.h"
#include "SourceCommon/Renderer/MapBatches.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/MapView.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static VectorOverlayLoader* loader = (VectorOverlayLoader*)std::calloc(1, sizeof(VectorOverlayLoader));
    static UiState* ui = (UiState*)std::calloc(1, sizeof(UiState));
    VectorOverlay* overlay = &loader->overlay;
    FixedString result = parseKmlBin(data, size, overlay);
    if (result.length) return 0;
    buildOverlayGeometry(&loader->geometry, overlay);
    for (u32 i = 0; i < overlay->markerImageCount; i++) overlay->markerImages[i].slot = i + 1;
    ui->width = 1920;
    ui->height = 1080;
    ui->halfWidth = 960;
    ui->halfHeight = 540;
    MapView view = makeMapView(WidgetId{}, MapViewModeMap);
    view.clipRect = Rect{0, 1920, 0, 1080};
    view.rect = view.clipRect;
    view.rectCentreX = 960;
    view.rectCentreY = 540;
    const f64 zooms[3] = {1080.0, 1e5, 1e8};
    const f64 centres[3] = {0.0, 0.5, -0.49};
    for (int k = 0; k < 3; k++) {
        view.pixelsPerUnit = zooms[k];
        view.centreX = centres[k];
        view.centreY = centres[(k + 1) % 3] / 4;
        ui->batches.retained.count = ui->batches.mapIcons.count = ui->batches.sdf.quadCount = 0;
        drawVectorOverlayItems(ui, &view, loader, 20.0f, 0.5f);
        for (i32 d = 0; d < ui->batches.retained.count; d++) {
            const RetainedDraw* draw = &ui->batches.retained.draws[d];
            const GeometrySlot* slot = getGeometrySlot(&ui->geometrySlots, draw->slot);
            u64 record = draw->kind == RetainedFills ? sizeof(FillVertex) : 4 * sizeof(SegmentVertex);
            if (!slot || (u64)(draw->first + draw->count) * record > slot->bytes) std::abort();
        }
    }
    // Released slots go, as the renderer lets them go.
    for (i32 i = 0; i < kGeometrySlotCount; i++) {
        if (!ui->geometrySlots.slots[i].releaseRequested) continue;
        ui->geometrySlots.slots[i] = GeometrySlot{};
        ui->geometrySlots.used[i / 64] &= ~(1ull << (i % 64));
    }
    return 0;
}
