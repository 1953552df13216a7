// The map view: the pan and zoom state of a map, a plot, a scrolling text or a strip of pictures,
// and of the scrolling lists. Map screens drive it every frame with updateMapView (before they draw)
// and handleMapPointers (after their widgets, so that it only takes the pointers no widget claimed);
// list screens open and close it with beginMapView and endMapView (ListView.h) instead.
//
// Content units are the caller's: normalised Web-Mercator turns for maps (x = longitude / 360,
// y = ln(tan(pi/4 + latitude/2)) / (2 pi)), metres for plots, pixels or rows for texts and lists.
// The window position of a content point is (content - centre) x pixels per unit + rectangle centre,
// per axis; window pixels have their origin at the bottom-left, y up.
#pragma once
#include "Core/GeometryTypes.h"
#include "SourceCommon/UserInterface/WidgetId.h"

struct Platform;
struct UiState;
struct ScreenStack;

enum MapViewMode : u32 {
    MapViewModeMap = 0,
    MapViewModeScrollList = 1,       // a vertical scroll view
    MapViewModeHorizontalStrip = 2,  // scrolled sideways; the content's height fits the rectangle
};

// The scroll-mode argument of updateMapView.
enum MapScrollMode : u32 {
    MapWheelZooms = 0,    // the wheel zooms about the mouse
    MapWheelScrolls = 1,  // the wheel scrolls the content; a content shorter than the view sits at its top
};

// The layout cursor of a list that has not been laid out yet: its content height is not known.
constexpr f64 kUnknownLayoutCursor = -100000000.0;
constexpr f64 kMapMaxZoom = 1e9;           // zoom is relative to the fit scale
constexpr f64 kMapWheelZoomStep = 1.25;    // zoom factor per wheel notch
constexpr f64 kMapWheelScrollShare = 0.1;  // share of the view's height scrolled per wheel notch
constexpr i32 kMapMaxTaps = 5;             // one per pointer slot

struct MapView {
    WidgetId id;  // the view's own id; the rows of a list and the map's pointers are claimed with it
    u32 mode;     // MapViewMode
    u32 pad;
    f64 zoom;     // never below 1
    // Content box in content units (a list: x from 0 to the view's width, y from the content's
    // bottom up to 0 at its top). A box of no width (xMin == xMax) is the wrapping world map.
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
    u32 hover;       // a pointer hovered the view this frame (a row of a list; a map where no widget is)
    f32 hoverX, hoverY;
    u64 clickedPointerMask;  // bit i: pointer i clicked inside the view this frame
    WidgetId openRowId;      // the view's open expandable row; none when all zero
    u32 rowJustOpened;
    u32 draggingMask;        // list mode: bit i, pointer i is scrolling the view
    f32 lastPointerY[5];     // list mode: where each scrolling pointer was last frame
    // Map mode pointer tracking, kept by handleMapPointers for the next frame's updateMapView.
    u32 trackedPointerMask;  // bit i: pointer i was pressed on the view and belongs to it
    u32 panningPointerMask;  // bit i: pointer i moved (or pinches): it pans and is no tap
    f64 anchorX[5];          // the content point each panning pointer holds on to
    f64 anchorY[5];
};

// The taps of one frame: pointers released as clicks (within 250 ms and the drag threshold of their
// press) that did not pan, at their content positions.
struct MapTaps {
    i32 count;
    i32 pad;
    Vec2 positions[kMapMaxTaps];
    Vec2F32 screen[kMapMaxTaps];  // the same taps in window pixels
};

// The window position of a content point, per axis (no wrapping).
inline f32 mapViewWindowX(const MapView* view, f64 x) {
    return (f32)((x - view->centreX) * view->pixelsPerUnit + view->rectCentreX);
}
inline f32 mapViewWindowY(const MapView* view, f64 y) {
    return (f32)((y - view->centreY) * view->pixelsPerUnit + view->rectCentreY);
}

// A zero-filled view with its id and zoom 1 in the given mode.
MapView makeMapView(WidgetId id, u32 mode);

// True for the wrapping world map: a content box of no width. Its x wraps by whole turns, its y
// is clamped, and its zoom never shows the world smaller than the rectangle's height.
bool mapViewWraps(const MapView* view);
// Pixels per content unit at zoom 1: the rectangle's width over the content's width (a horizontal
// strip: heights); 1 for the wrapping world.
f64 mapViewFitScale(const MapView* view);

// The frame's update, before anything is drawn into the view: takes the rectangle (the clip is it
// cut to the window) and the content box, applies the pan and pinch that handleMapPointers recorded
// last frame against where those pointers are now, the wheel (zoom about the mouse, or scroll with
// MapWheelScrolls or a scrolling mode), keeps the zoom in [1, kMapMaxZoom], clamps the centre to the
// content (a content smaller than the view is centred, or top-aligned when it scrolls) and sets the
// visible box. Pointers are the stack's slots (the platform's when the stack has none); the wheel is
// the platform's and only counts while the mouse is over the view and no opaque widget has its
// hover. platform may be null (no wheel).
void updateMapView(MapView* view, const Rect* rect, Box2 content, UiState* ui, ScreenStack* stack,
                   Platform* platform, u32 scrollMode);

// Sets the centre and the zoom (never below 1), clamps the centre and recomputes the visible box;
// uses the rectangle and content box of the last updateMapView.
void setMapCenterAndZoom(MapView* view, f64 centreX, f64 centreY, f64 zoom);

// After the view's widgets: claims the pointers pressed inside the view that no other widget owns,
// records where the panning ones hold the content for the next frame's updateMapView (one pointer
// pans, two pinch), and collects this frame's taps into *out, which it returns. A pointer resting
// over the view where no opaque widget took its hover sets the view's hover flag and position.
MapTaps* handleMapPointers(MapTaps* out, MapView* view, ScreenStack* stack);

// A box {minX, maxX, minY, maxY} of content units as a window rectangle (the wrapping world: the box
// moved by whole turns to lie nearest the centre).
Rect mapRectToScreen(const MapView* view, const f64 box[4]);
// Centres the box {minX, maxX, minY, maxY} and zooms so that it fits the rectangle less the margin
// on every side. A box of no size keeps the zoom and only centres.
void zoomMapToFit(MapView* view, const f64 box[4], f32 marginPixels);

// Conversions between content units and window pixels. mapPointToScreen moves a wrapping world's x
// by whole turns to within half a turn of the centre first; screenPointToMap gives the point
// without wrapping it.
Vec2F32 mapPointToScreen(const MapView* view, Vec2 point);
Vec2 screenPointToMap(const MapView* view, f32 x, f32 y);
// Geographic degrees through normalised Web-Mercator to window pixels, and back.
Vec2F32 geoPointToScreen(const MapView* view, GeoPoint point);
GeoPoint screenPointToGeo(const MapView* view, f32 x, f32 y);

// The scroll bar of a horizontal strip along its bottom (side 1) or top (side 5) edge, in the
// colour at the depth, cut to the view's clip rectangle; nothing when all the content is visible.
void drawHorizontalViewScrollbar(u32 side, u32 colour, f32 depth, const MapView* view, UiState* ui);
