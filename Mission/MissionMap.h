// The plan on a map view: the waypoint mission, the payload geofence and the transect region drawn
// at a base depth and, when editable, edited with the pointers that no earlier widget claimed.
// Call them after updateMapView and before handleMapPointers, so that a press on a waypoint or a
// vertex does not pan the map.
//
// Gestures: a tap on a waypoint selects it; a press held for 250 ms drags a waypoint or a vertex,
// with one "Move" record pushed when the hold starts, so that one undo takes the whole drag back.
// The selected waypoint shows a delete handle beside its marker, and every segment that ends at an
// unlocked waypoint shows an insert handle at its midpoint. Locked waypoints (on the vehicle
// already) are drawn but never edited. Every change is a fresh edit of the record's own history.
#pragma once
#include "Mission/MissionPlan.h"
#include "SourceCommon/UserInterface/MapView.h"
#include "SourceCommon/UserInterface/Widgets.h"

struct ScreenStack;
struct Preferences;
struct ElevationMapLoader;

// The path and its markers ("blue_marker_64_no_dot.png", "yellow_marker_64_no_dot.png" for the
// selected one), and with editable set the selection, drags, inserts ("add_waypoint.png") and
// deletes. Layers inside the call stay below depth + 0.001.
void drawWaypointMission(WaypointMissionEditor* editor, MapView* view, UiState* ui, ScreenStack* stack,
                         Preferences* preferences, const ElevationMapLoader* elevation, u32 editable, f32 depth);
// The geofence polygon and, with editable set, its draggable vertices. The geofence is logged when
// a drag ends.
void editOrvikGeofence(OrvikGeofence* geofence, MapView* view, UiState* ui, ScreenStack* stack, u32 editable,
                       f32 depth);
// The transect region and, with editable set, its draggable vertices; given the preferences, also
// the lines that Generate would turn into waypoints (at most half the waypoint limit), so that
// spacing, heading and overshoot can be judged before anything is generated; in magenta the part
// that the last Generate left uncovered, while the region keeps the points it was generated for.
void drawTransectRegion(TransectRegion* region, MapView* view, UiState* ui, ScreenStack* stack, u32 editable,
                        f32 depth, const Preferences* preferences = nullptr);

// A plan that is only shown (a flight log's replayed plan): the waypoint path and markers, the
// geofence and the transect region as the three calls above draw them without editing, each at its
// own depth.
void drawMissionPlan(const MissionPlanView* plan, const MapView* view, UiState* ui, f32 waypointDepth,
                     f32 geofenceDepth, f32 transectDepth);

// Sizes on the map, in window pixels, from the frame's line height.
f32 waypointMarkerWidth(const UiState* ui);
constexpr f32 kVertexHandleHalfSize = 8;
