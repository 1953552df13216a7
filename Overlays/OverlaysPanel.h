// The overlays panel that map screens show beside their map: a scrolling list that switches the
// terrain warning and the topographic shading, and chooses which imported overlay is drawn (at most
// one vector overlay and one raster page at a time). It changes nothing but the overlay selection.
#pragma once
#include "Core/OverlaySelection.h"
#include "Overlays/OverlayList.h"
#include "Core/GeometryTypes.h"

struct MapView;
struct Platform;
struct ScreenStack;
struct UiState;

// One frame of the panel inside the panel rectangle. scroll is the caller's scroll view, made once
// with makeScrollView; elevationStatus is the elevation loader's status text ("Loaded and Parsed"
// once the terrain is in). A checked row's click hides its overlay on every map; an unchecked one
// shows it in place of the overlay of its kind shown before.
void drawOverlaysPanel(Platform* platform, ScreenStack* stack, UiState* ui, OverlaySelection* selection,
                       const OverlayList* list, const FixedString* elevationStatus, MapView* scroll, const Rect* panel);

// An overlay list row's icon at 0.7 of the icon box: the entry's preview, else its image asset.
void drawOverlayListIcon(const OverlayListEntry* entry, const Rect* iconRect, const MapView* view, UiState* ui);
// An image asset by its file name at 0.7 of the icon box.
void drawNamedRowIcon(const char* assetName, const Rect* iconRect, const MapView* view, UiState* ui);
