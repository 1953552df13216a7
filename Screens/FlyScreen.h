// The fly screen: the operating screen with the map (drone, air traffic, plans, drops, overlays,
// terrain, tiles), the live video as main or mini view, the top bar with its indicators, the panels
// selected by openPanel and the HUD. Its one scratch record is FlyScreenState; everything it shows
// or edits lives in the application state.
//
// The panels of the frame's panel step are drawn by functions that take the frame's FlyScreenFrame
// (FlyScreenPanels.cpp calls them in their fixed order).
#pragma once
#include "Core/FixedString.h"
#include "Drone/Hud.h"
#include "Screens/FlyScreenSharedUiViewLog.h"
#include "SourceCommon/UserInterface/MapView.h"
#include "SourceCommon/UserInterface/Screen.h"
#include "SourceCommon/UserInterface/UiMetrics.h"
#include "SourceCommon/UserInterface/Widgets.h"

struct AppState;
struct Platform;
struct ElevationMapLoader;
struct VehicleState;
struct Preferences;
struct WaypointMissionEditor;
struct FlightLogReplay;
struct AirTrafficSlot;

constexpr i32 kFlyScrollViews = 7;

// openPanel values (each panel's own file adds the values it uses).
enum FlyPanel : u32 {
    FlyPanelNone = 0,
    FlyPanelGeofence = 1,
    FlyPanelOrvikMain = 2,
    FlyPanelOrvikEmergencyPrompt = 4,
    FlyPanelOrvikLast = 7,
    FlyPanelVoskFirst = 8,
    FlyPanelVoskLast = 14,
    FlyPanelStrobe = 16,
    FlyPanelCamera = 17,
    FlyPanelCameraSettings = 18,
    FlyPanelLinkQuality = 19,
    FlyPanelFlightAction = 20,
    FlyPanelKeyPad = 21,
    FlyPanelWaypoints = 22,
    FlyPanelSideView = 23,
    FlyPanelMissionSettings = 24,
    FlyPanelTransect = 25,
    FlyPanelTransectSettings = 26,
    FlyPanelFolder = 27,
    FlyPanelMissionFiles = 28,
    FlyPanelOverlays = 29,
    FlyPanelDrawFirst = 30,
    FlyPanelDrawLast = 33,
    FlyPanelExportedKmzList = 34,
    FlyPanelKmzExport = 35,
    FlyPanelDiagnostics = 36,
};

struct FlyScreenState {
    u32 initialised;
    u32 reserved0;
    MapView mapView;          // the main map
    MapView sideViewMapView;  // pan and zoom of the mission side view
    // Scroll panels of the side panels: [1] transect settings, [5] overlays panel, [6] camera settings.
    MapView scrollViews[kFlyScrollViews];
    i32 selectedIndex;  // mission files dialog row; -1 none
    u32 mapMinimized;   // 1: the video is the main view (when a picture is there)
    u32 openPanel;      // FlyPanel
    u32 previousPanel;  // openPanel at the end of the last frame
    WidgetId editFieldId;  // the screen's one number field
    FixedString editText;
    FixedString pathModeNames[2];
    FixedString headingModeNames[5];
    FixedString altitudeModeNames[3];
    FixedString transectUsageNames[3];
    u64 payloadIndicatorTimer;
    u64 minimizeBindingState;  // press start of the "Minimize/maximize map" binding
    u32 mapCenteredOnce;
    u32 showTapInfo;
    Hud hudState;
    Vec2 tapInfoPosition;  // normalised Web-Mercator
    u32 miniPointerMask;   // pointers pressed on the mini view that may still drag it
    u32 reserved2;
    // The plan toolbars and side panels.
    u32 cameraStepperIndex;  // the camera settings' open stepper row's position
    u32 reserved3;
    u64 transectGenerateTime;  // the last press of "Generate Waypoints", for its message; 0 none
    KmzExportPanelState kmzExportPanel;  // the KMZ export panel's rename state
};

// One frame's layout and references, handed to every panel of the panel step.
struct FlyScreenFrame {
    Platform* platform;
    ScreenStack* stack;
    UiState* ui;
    AppState* app;
    FlyScreenState* state;
    const UiMetrics* metrics;  // textHeight, buttonTextHeight (lineHeight), margin (pad), rowHeight, buttonHeight (barHeight)
    u64 now;
    Rect window;     // the whole window
    Rect content;    // the window inside the platform's insets
    Rect topBar;     // the bar below the top inset
    f32 barBottom;   // y of the top bar's lower edge
    u32 videoAvailable;  // a decoded picture is there
    u32 videoImageSlot;  // its image slot id
    f32 panelUsedHeight;  // the flight-action buttons' running height below the bar
    u32 flightLogStatusBelow;  // the flight log's warning had no room in the bar: it is a notice below
    ButtonStyle buttonStyle;
    f32 homeGroundHeight;  // m MSL; kUnknownGround (10,000) while unknown
    u32 tapInfoClosed;     // the tap-info box was tapped this frame: that tap is no map tap
    Rect tapInfoBox;
    // The flight-log viewer's map pass: the replayed link, drops and clock (now is its replay time in
    // us) stand in for the live ones, and the live plans are neither drawn nor edited. Null on the
    // fly screen.
    FlightLogReplay* replay;
};

// Terrain heights that getElevation gives when it knows none.
constexpr f32 kUnknownGround = 10000.0f;
constexpr f32 kUnknownTapGround = -32768.0f;

// The three altitudes of the telemetry text; NaN for one that cannot be formed.
struct FlyAltitudes {
    f32 homeGroundHeight;   // kUnknownGround when unknown
    f32 groundUnderDrone;   // kUnknownGround when unknown
    f32 aboveGround;
    f32 mslFromElevation;
    f32 mslFromTakeoff;
};
FlyAltitudes flyScreenAltitudes(const VehicleState* vehicle, const ElevationMapLoader* elevation,
                                const Preferences* preferences);

// The diagnostics panel's text into the writer (the panel gives it kFlyDiagnosticsBytes; what does
// not fit is cut and flagged): the link's problem on a line of its own when there is one (such as
// the drone port held by another program), the unhealthy sensors' names, the two newest status texts
// with their local arrival time, how many packets the drone link ignored for their sender, or "No
// errors or diagnostic messages". nowUtcMs and zoneOffsetMs turn the texts' monotonic times (now)
// into the local time of day.
constexpr i64 kFlyDiagnosticsBytes = 500;
void writeFlyDiagnosticsText(ByteWriter* out, const FixedString* linkProblem, const VehicleState* vehicle, u64 now,
                             i64 nowUtcMs, i64 zoneOffsetMs, u64 foreignPackets = 0);

// The scale bar: its label ("@ @": the length between the outer ticks and the unit), the step in
// pixels and the number of steps on each side of the centre.
struct ScaleBar {
    FixedString label;
    f32 stepPixels;
    i32 stepsPerSide;
    i64 step;          // the step in the unit
    const char* unit;  // "mm", "m", "km", "in", "ft" or "mi"
};
ScaleBar flyScaleBar(f64 metresPerPixel, f32 textSize, f32 availableWidth, u32 units);

// The tap bubble's text: latitude and longitude on a line each, then "@ MSL" with the terrain height
// (to 0.1 m) where an elevation map covers the point.
FixedString flyTapInfoText(GeoPoint at, const ElevationMapLoader* elevation, const Preferences* preferences);
// The elevation maps' low-altitude shading threshold in m MSL: the ground at the takeoff position
// (kUnknownGround or kUnknownTapGround while unknown) plus the vehicle's altitude above takeoff less
// "Low altitude warning (m)"; kUnknownTapGround (no threshold) while the ground is unknown.
f32 flyShadingThreshold(const VehicleState* vehicle, f32 takeoffGround, f64 lowAltitudeWarning);
// Whether an aircraft is drawn: its report is younger than 240 s while it is within 20 km of the
// drone, else younger than 60 s. distanceMetres is negative while the drone's position is unknown.
bool isTrafficShown(f64 distanceMetres, u64 ageMicroseconds);
// An aircraft at or below "ADSB audible warning cylinder altitude (m MSL)" is drawn in yellow.
bool isTrafficLow(f64 altitude, const Preferences* preferences);
// An aircraft's label: its altitude (to 1 m), a line feed, then its callsign, or "ICAO: @" with the
// address as six upper-case hexadecimal digits when it has none.
FixedString trafficLabel(const AirTrafficSlot* slot, const Preferences* preferences);

// The frame's panel step, in its fixed order (FlyScreenPanels.cpp).
void drawFlyScreenPanels(FlyScreenFrame* frame);
// The camera key pad over the video (openPanel 21): four keys around the centre point.
void drawCameraKeyPad(FlyScreenFrame* frame, Vec2F32 centre);
// The diagnostics panel (openPanel 36) below the top bar.
void drawFlyDiagnosticsPanel(FlyScreenFrame* frame);
// The top bar's background with the telemetry text below it.
void drawFlyTopBarBackground(FlyScreenFrame* frame);
