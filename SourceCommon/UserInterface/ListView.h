// A MapView used as the vertical scroll view of a list screen: made once with makeScrollView, then
// opened with beginMapView and closed with endMapView every frame around the rows it holds.
#pragma once
#include "SourceCommon/UserInterface/MapView.h"

struct Platform;
struct UiState;
struct ScreenStack;

// A scroll view with its id, zoom 1 and the layout cursor of a list not yet laid out.
MapView makeScrollView(WidgetId id);

// Starts the list's frame: the content height is last frame's final layout cursor, the wheel and
// the clamping move the view, the layout cursor goes back to 0 (the top of the list) and the text
// metrics are set from the window size.
void beginMapView(const Rect* viewRect, Platform* platform, UiState* ui, MapView* view);

// Ends the list's frame: the backdrop under the rows, room below the last row so that it can be
// scrolled up to the top, the scroll bar, and drags that scroll the view. The backdrop takes the
// pointers over it: widgets drawn after it (beneath it) see their hover taken and blocked, so a map
// under the list does not take the wheel, and a press on it that no row took is the view's.
void endMapView(ScreenStack* stack, UiState* ui, MapView* view);
