// The selected vector overlay drawn over any map view: lines and filled polygons from geometry kept
// on the GPU, and marker icons with their labels, into the frame's draw batches.
#pragma once
#include "Overlays/VectorOverlayLoader.h"

struct MapView;
struct UiState;

// Draws while the loader holds a loaded overlay under the selected vector overlay name.
void drawVectorOverlay(VectorOverlayLoader* loader, const MapView* view, UiState* ui, const OverlaySelection* selection,
                       f32 depth, f32 labelTextSize);

// Polygons, then lines, from the GPU (the band of the view's scale, the chunks in view; a new
// geometry is handed to the renderer first), then markers from the bottom of the view up, each with
// its own icon or, lacking one, the default pin; a marker's label shows only while its nearest
// neighbour is more than two label heights away on screen.
void drawVectorOverlayItems(UiState* ui, const MapView* view, VectorOverlayLoader* loader, f32 labelTextSize,
                            f32 depth);
