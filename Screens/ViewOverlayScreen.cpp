// The View Overlay Screen in its two modes.
#include "Screens/ViewOverlayScreen.h"

#include "AppState/AppState.h"
#include "Core/Profiler.h"
#include "Map/TileMaps.h"
#include "Overlays/RasterOverlayDrawing.h"
#include "Overlays/VectorOverlayDrawing.h"
#include "SourceCommon/Renderer/UiState.h"

static_assert(sizeof(ViewOverlayScreenState) <= sizeof(ScreenStack::screenState));

namespace {

constexpr f64 kNoBox = 1e12;

void growBox(f64 box[4], f64 x, f64 y) {
    if (x < box[0]) box[0] = x;
    if (x > box[1]) box[1] = x;
    if (y < box[2]) box[2] = y;
    if (y > box[3]) box[3] = y;
}

void startBox(f64 box[4]) {
    box[0] = box[2] = kNoBox;
    box[1] = box[3] = -kNoBox;
}

}  // namespace

bool rasterOverlayBox(const RasterOverlayLoader* loader, f64 box[4]) {
    startBox(box);
    if (!loader->loaded) return false;
    u64 points = (u64)loader->grid.columns * loader->grid.rows;
    if (points > kPdfGridPoints) points = kPdfGridPoints;
    for (u64 i = 0; i < points; i++) growBox(box, loader->grid.points[i][0], loader->grid.points[i][1]);
    return box[0] != kNoBox;
}

bool vectorOverlayBox(const VectorOverlayLoader* loader, f64 box[4]) {
    startBox(box);
    if (loader->state != 1) return false;
    const VectorOverlay* overlay = &loader->overlay;
    for (u32 i = 0; i < overlay->lineSegmentCount; i++) {
        const OverlayLineSegment& segment = overlay->lineSegments[i];
        growBox(box, segment.x0, segment.y0);
        growBox(box, segment.x1, segment.y1);
    }
    for (u32 i = 0; i < overlay->markerCount && i < kOverlayMaxMarkers; i++) {
        growBox(box, overlay->markers[i].x, overlay->markers[i].y);
    }
    for (u32 i = 0; i < overlay->polygonVertexCount && i < kOverlayMaxPolygonVertices; i++) {
        growBox(box, overlay->polygonVertices[i].x, overlay->polygonVertices[i].y);
    }
    return box[0] != kNoBox;
}

void viewOverlayScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                       void* scratch, u32 mode) {
    ProfilingScope scope("View Overlay Screen");
    (void)result;
    ViewOverlayScreenState* state = (ViewOverlayScreenState*)scratch;
    MapView* view = &state->view;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeMapView(WIDGET_ID, MapViewModeMap);
    }
    // The whole world, so that the operator can pan and zoom anywhere.
    updateMapView(view, &ui->screenRect, Box2{-0.5, 0.5, -0.5, 0.5}, ui, stack, platform, MapWheelZooms);
    if (!state->framed) {
        f64 box[4];
        bool found = mode == ViewOverlayVector ? vectorOverlayBox(&app->vectorOverlayLoader, box)
                                               : rasterOverlayBox(&app->rasterOverlayLoader, box);
        if (found) {
            zoomMapToFit(view, box, kViewOverlayMargin);
            state->framed = 1;
        }
    }
    OverlaySelection selection = overlaySelectionOf(&app->preferences);
    if (!state->hidden) {
        if (mode == ViewOverlayVector) {
            drawVectorOverlay(&app->vectorOverlayLoader, view, ui, &selection, kViewOverlayDepth,
                              app->uiMetrics.textHeight);
        } else {
            drawRasterOverlay(&app->rasterOverlayLoader, view, ui, &selection, kViewOverlayDepth);
        }
    }
    drawTileMaps(view, ui, platform, &app->preferences, &app->tileMaps, kViewOverlayTilesDepth, 0);
    ui->clearColor[0] = 242;
    ui->clearColor[1] = 239;
    ui->clearColor[2] = 233;
    MapTaps taps;
    if (handleMapPointers(&taps, view, stack)->count > 0) state->hidden = state->hidden ? 0 : 1;
}

void viewRasterOverlayScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                             void* scratch) {
    viewOverlayScreen(platform, stack, ui, app, result, scratch, ViewOverlayRaster);
}

void viewVectorOverlayScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                             void* scratch) {
    viewOverlayScreen(platform, stack, ui, app, result, scratch, ViewOverlayVector);
}
