// The selected raster overlay drawn over a map view: the page image as a mesh of textured quads,
// one per grid cell, into the frame's textured batch (whatever does not fit is dropped there).
#pragma once
#include "Overlays/RasterOverlayLoader.h"

struct MapView;
struct UiState;

// Draws while the loader shows a page image under the selected raster overlay name and its grid
// has at least 2 rows and columns.
void drawRasterOverlay(const RasterOverlayLoader* loader, const MapView* view, UiState* ui,
                       const OverlaySelection* selection, f32 depth);
