// Fuzzes the overlay cache reader and then draws what it accepted, with its icons taken as uploaded,
// at a few zooms round the antimeridian: no read outside the overlay's tables.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Overlays/VectorOverlayDrawing.h"
#include "Overlays/VectorOverlayFiles.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/MapView.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static VectorOverlay* overlay = (VectorOverlay*)std::calloc(1, sizeof(VectorOverlay));
    static UiState* ui = (UiState*)std::calloc(1, sizeof(UiState));
    FixedString result = parseKmlBin(data, size, overlay);
    if (result.length) return 0;
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
        ui->batches.line2d.vertexCount = ui->batches.line2d.triangleCount = 0;
        ui->batches.colored2d.vertexCount = ui->batches.colored2d.triangleCount = 0;
        ui->batches.textured2d.triangleCount = 0;
        drawVectorOverlayItems(ui, &view, overlay, 20.0f, 0.5f);
    }
    return 0;
}
