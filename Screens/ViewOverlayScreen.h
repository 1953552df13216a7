// "View Overlay Screen": the overlay chosen in the Overlays Screen on a full-window map over the base
// map, framed once so that the whole overlay is in view; a tap on the map hides the overlay and the
// next one shows it again. The Overlays Screen opens it only once the overlay is loaded; leaving it
// is the screen stack's business.
#pragma once
#include "SourceCommon/UserInterface/MapView.h"
#include "SourceCommon/UserInterface/Screen.h"

enum ViewOverlayMode : u32 {
    ViewOverlayRaster = 0,  // the raster overlay loader's page
    ViewOverlayVector = 1,  // the vector overlay loader's overlay
};

constexpr f32 kViewOverlayMargin = 5;  // pixels kept free around the framed overlay
constexpr f32 kViewOverlayDepth = 0.2f;
constexpr f32 kViewOverlayTilesDepth = 0.1f;

struct ViewOverlayScreenState {
    u32 initialised;
    u32 framed;  // the view has been fitted to the overlay
    u32 hidden;  // the overlay is not drawn
    u32 pad;
    MapView view;
};

void viewOverlayScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                       void* scratch, u32 mode);
ORVIK_SCREEN_FUNCTION(viewRasterOverlayScreen);
ORVIK_SCREEN_FUNCTION(viewVectorOverlayScreen);

// The overlay's bounding box {minX, maxX, minY, maxY} in normalised Web-Mercator units; false while
// the loader holds nothing to frame.
struct RasterOverlayLoader;
struct VectorOverlayLoader;
bool rasterOverlayBox(const RasterOverlayLoader* loader, f64 box[4]);
bool vectorOverlayBox(const VectorOverlayLoader* loader, f64 box[4]);
