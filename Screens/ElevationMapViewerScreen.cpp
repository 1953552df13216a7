// The elevation-map viewer: a map of the tiles with the loaded elevation rasters' hill shading and
// contour lines (no danger shading: there is no flight to measure against), fitted once to the
// chosen raster when it is in. The source's name and the loader's status are shown at the top.
#include <cstring>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Map/ElevationDrawing.h"
#include "Map/ElevationMapLoader.h"
#include "Map/TileMaps.h"
#include "Overlays/RasterOverlayDrawing.h"
#include "Overlays/VectorOverlayDrawing.h"
#include "Platform/Platform.h"
#include "Screens/ElevationScreens.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/UiMetrics.h"
#include "SourceCommon/UserInterface/Widgets.h"

namespace {

constexpr f32 kLabelDepth = 0.9f;
constexpr f32 kVectorOverlayDepth = 0.2f;  // above the tiles and the shading
constexpr f32 kRasterOverlayDepth = kVectorOverlayDepth - 0.02f;  // beneath the vector overlay

// SRTM tiles are chosen around the loader's area of interest. While the application has found none
// (it is all zero) or it is still the one lent here, the area in view stands in for it, once the view
// is small enough to name a few tiles.
void lendViewedArea(ElevationViewerState* state, ElevationMapLoader* loader, const Preferences* preferences) {
    if (preferences->customElevationDataFile.length) return;
    const LonLatBox& area = loader->areaOfInterest;
    bool unset = area.lonMin == 0 && area.lonMax == 0 && area.latMin == 0 && area.latMax == 0;
    bool ours = state->lentArea && std::memcmp(&area, &state->lent, sizeof(area)) == 0;
    if (!unset && !ours) return;
    const Rect& r = state->view.rect;
    GeoPoint southWest = screenPointToGeo(&state->view, r.x0, r.y0);
    GeoPoint northEast = screenPointToGeo(&state->view, r.x1, r.y1);
    LonLatBox box{southWest.longitude, northEast.longitude, southWest.latitude, northEast.latitude};
    bool small = box.lonMax - box.lonMin <= kViewerAreaMaxDegrees && box.latMax - box.latMin <= kViewerAreaMaxDegrees;
    if (!small || box.lonMax < box.lonMin) return;  // too wide, or across the date line
    loader->areaOfInterest = box;
    state->lent = box;
    state->lentArea = 1;
}

void fitToChosenRaster(ElevationViewerState* state, const ElevationMapLoader* loader, f32 margin) {
    // Tiles loaded for the area in view do not move it.
    if (state->fitted || state->lentArea || loader->loadedCount == 0) return;
    f64 box[4];
    const ElevationMapSlot* nearest = &loader->slots[loader->order[0]];
    if (!elevationRasterMapBox(&nearest->raster, box)) return;
    zoomMapToFit(&state->view, box, margin);
    state->fitted = 1;
}

}  // namespace

void elevationMapViewerScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app,
                              ScreenResult* result, void* scratch) {
    ProfilingScope scope("Elevation Map Viewer Screen");
    (void)result;
    ElevationViewerState* state = (ElevationViewerState*)scratch;
    const Preferences* preferences = &app->preferences;
    ElevationMapLoader* loader = &app->elevationMapLoader;
    MapView* view = &state->view;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeMapView(WIDGET_ID, MapViewModeMap);
    }
    ui->clearColor[0] = 242;
    ui->clearColor[1] = 239;
    ui->clearColor[2] = 233;
    // The wrapping world map in normalised Web-Mercator.
    updateMapView(view, &ui->screenRect, Box2{0, 0, -0.5, 0.5}, ui, stack, platform, MapWheelZooms);
    const UiMetrics* metrics = &app->uiMetrics;
    fitToChosenRaster(state, loader, metrics->buttonHeight);
    lendViewedArea(state, loader, preferences);

    drawTileMaps(view, ui, platform, preferences, &app->tileMaps, kViewerTilesDepth, 0);
    drawElevationMaps(loader, view, ui, 1, 0, preferences->units <= 1 ? 1 : 0, kNoDangerBelow, kViewerElevationDepth);
    OverlaySelection overlays = overlaySelectionOf(&app->preferences);
    drawRasterOverlay(&app->rasterOverlayLoader, view, ui, &overlays, kRasterOverlayDepth);
    drawVectorOverlay(&app->vectorOverlayLoader, view, ui, &overlays, kVectorOverlayDepth, app->uiMetrics.textHeight);

    FixedString source = preferences->customElevationDataFile.length ? preferences->customElevationDataFile
                                                                      : makeString("SRTM");
    FixedString status = loader->status;
    if (status.length == 0 && loader->wantedCount == 0) {
        // SRTM tiles are chosen around the drone, its home and the mission; none of them is known yet.
        status = makeString("No flight area yet: zoom in to load the tiles in view");
    }
    FixedString label = status.length ? formatStrStr("@\n@", source, status) : source;
    TextStyle style{kTextWhite, 0xFF000000, kSelectionOrange, metrics->textHeight, 0.12f, 0};
    Rect screen = ui->screenRect;
    drawTextAt(ui, label, AnchorTopCentre, Vec2F32{(screen.x0 + screen.x1) / 2, screen.y1 - metrics->margin},
               kLabelDepth, screen, style);

    MapTaps taps;
    handleMapPointers(&taps, view, stack);
}
