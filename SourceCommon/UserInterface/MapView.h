// The map view record: the pan and zoom state of a map or of a scrolling list. List screens open
// and close it every frame with beginMapView and endMapView (SourceCommon/UserInterface/ListView.h);
// rows are laid out at its layout cursor, which moves down in content units.
#pragma once
#include "Core/GeometryTypes.h"
#include "SourceCommon/UserInterface/WidgetId.h"

enum MapViewMode : u32 {
    MapViewModeMap = 0,
    MapViewModeScrollList = 1,  // a vertical scroll view
};

// The layout cursor of a list that has not been laid out yet: its content height is not known.
constexpr f64 kUnknownLayoutCursor = -100000000.0;

struct MapView {
    WidgetId id;  // the view's own id; the rows of a list claim pointers with it
    u32 mode;     // MapViewMode
    u32 pad;
    f64 zoom;     // never below 1
    // Content box in content units (a list: x from 0 to the view's width, y from the content's
    // bottom up to 0 at its top).
    f64 contentXMin, contentXMax, contentYMin, contentYMax;
    f64 centreX, centreY;  // the content point at the rectangle's centre
    f64 pixelsPerUnit;
    Rect rect;                   // the view's area on screen
    f32 rectCentreX, rectCentreY;
    Rect clipRect;
    f64 visibleXMin, visibleXMax, visibleYMin, visibleYMax;  // content units
    f64 layoutCursor;  // content units, moving down as rows are added
    // Text metrics set by beginMapView each frame.
    f32 textSize;    // T = max(22, min(halfWidth, halfHeight) / 15)
    f32 padding;     // T / 2
    f32 titleSize;   // 1.2 T
    f32 rowHeight;   // 3.2 T
    u32 hover;       // a pointer hovered a row of the view this frame
    f32 hoverX, hoverY;
    u64 clickedPointerMask;  // bit i: pointer i clicked inside the view this frame
    WidgetId openRowId;      // the view's open expandable row; none when all zero
    u32 rowJustOpened;
    u32 draggingMask;        // bit i: pointer i is scrolling the view
    f32 lastPointerY[5];     // where each scrolling pointer was last frame
};

// The window position of a content point, per axis.
inline f32 mapViewWindowX(const MapView* view, f64 x) {
    return (f32)((x - view->centreX) * view->pixelsPerUnit + view->rectCentreX);
}
inline f32 mapViewWindowY(const MapView* view, f64 y) {
    return (f32)((y - view->centreY) * view->pixelsPerUnit + view->rectCentreY);
}
