// The overlay records whose per-frame steps the application update runs: the overlay list (in
// OverlayList.h), the vector overlay loader (VectorOverlayLoader.h) and the raster overlay loader
// (RasterOverlayLoader.h). The KMZ editor's records are in KmzEditor/.
#pragma once
#include "Overlays/OverlayList.h"
#include "Overlays/RasterOverlayLoader.h"
#include "Overlays/VectorOverlayLoader.h"
