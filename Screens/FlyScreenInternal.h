// The fly screen's own units, shared by its files.
#pragma once
#include "Screens/FlyScreen.h"

// Depths: the main map's layers are offsets added to its base depth; the mini view lies above the
// main view, the top bar's background and the panels above both.
constexpr f32 kMainViewDepth = 0.1f;
constexpr f32 kMiniViewDepth = 0.3f;
constexpr f32 kVideoDepth = 0.05f;
constexpr f32 kHudLayerDepth = 0.5f;
constexpr f32 kKeyPadDepth = 0.55f;
constexpr f32 kTopBarBackgroundDepth = 0.85f;
constexpr f32 kPanelDepth = 0.9f;
constexpr f32 kTopBarDepth = 0.95f;

// A normalised Web-Mercator x moved by whole turns into [-0.5, 0.5).
f64 wrapWorldX(f64 x);
ButtonStyle flyButtonStyle(const UiMetrics* metrics);

void drawFlyTopBar(FlyScreenFrame* frame);
// The video pass as mini view (videoMain 0) or main view (1).
void drawFlyVideoPass(FlyScreenFrame* frame, u32 videoMain);
// The map pass as main view (miniView 0) or mini view (1); collects the frame's map taps.
void drawFlyMapPass(FlyScreenFrame* frame, u32 miniView, MapTaps* taps);
// The mini view's box by the "Minimap/Minivideo corner" preference.
Rect flyMiniViewRect(const FlyScreenFrame* frame);
// Moves the mini view by the earliest held pointer that pressed it; sets the corner preference.
void dragFlyMiniView(FlyScreenFrame* frame, const PointerHit* hit);

// Map taps by openPanel.
void addTappedWaypoint(FlyScreenFrame* frame, Vec2 point);
void addKmzItemAtTap(FlyScreenFrame* frame, Vec2 point);

// ---- Plan toolbars and side panels (FlyScreenToolbars.cpp, FlyScreenSidePanels.cpp) ----------------
// The geofence toolbar (openPanel 1).
void drawFlyGeofenceToolbar(FlyScreenFrame* frame);
// The camera sensor row (17), the waypoint toolbar (22-24), the transect toolbar (25-26) and the
// folder menu (27), each a row below what the panel step placed so far; outside 22-24 no waypoint
// stays selected.
void drawFlyPlanToolbars(FlyScreenFrame* frame);
// What the crew is told, each one line in the toolbars' text style, right-aligned under the rows
// placed so far (taking no room from the panels):
// the vehicle's mission status while the waypoint toolbar is open (22-24) and for 5 s after it
// changed, the vehicle's newest command refusal for 5 s, and the message of "Generate Waypoints" for
// 5 s after the press.
void drawFlyNotices(FlyScreenFrame* frame);
constexpr u64 kFlyNoticeTime = 5000000;
// The transect settings (26), the mission settings with the statistics (24) and the panels of other
// units (28, 35, 34, 29, 18) in the side-panel rectangle.
void drawFlySidePanels(FlyScreenFrame* frame);
Rect flySidePanelRect(const FlyScreenFrame* frame);
// Settings entries: a typed length in the display unit ("Units" 2 and above: feet) to metres; a
// typed speed to m/s (never below 0); the upload limit (empty: 65,535; else 1 to 65,535).
f64 flyLengthEntry(const FixedString* text, u32 units);
f64 flySpeedEntry(const FixedString* text, u32 units);
u16 flyUploadLimitEntry(const FixedString* text);
// "@ Hectares" (metric units) or "@ Acres" to a tenth, rounded half away from zero.
FixedString flyAreaText(f64 squareMetres, u32 units);
// The duration text of a time in seconds; "---" when it is not a finite number of microseconds.
FixedString flyDurationText(f64 seconds);
// The "Estimated mission duration" text: "---" while the cruise speed is 0 (or no number), as the
// level legs would take for ever.
FixedString flyMissionDurationText(f64 durationS, f64 cruiseSpeed);
