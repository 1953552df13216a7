// The selected vector overlay drawn over any map view: lines, filled polygons and marker icons with
// their labels, all into the frame's draw batches (whatever does not fit is dropped there).
#pragma once
#include "Overlays/VectorOverlayLoader.h"

struct MapView;
struct UiState;

// Draws while the loader holds a loaded overlay under the selected vector overlay name.
void drawVectorOverlay(const VectorOverlayLoader* loader, const MapView* view, UiState* ui,
                       const OverlaySelection* selection, f32 depth, f32 labelTextSize);

// Lines (last to first), triangles, then markers from the bottom of the view up; a marker's label
// shows only while its nearest neighbour is more than two label heights away on screen.
void drawVectorOverlayItems(UiState* ui, const MapView* view, const VectorOverlay* overlay, f32 labelTextSize,
                            f32 depth);
