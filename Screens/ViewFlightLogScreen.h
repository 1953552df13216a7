// The View Flight Log screen (viewFlightLogScreen, declared with the other child screens): replays
// the log that the Flight Logs screen chose, through the application's FlightLogReplay, at 1, 3, 10
// or 30 times real speed, and lists every recorded entry with its details.
//
// The screen's files:
//   ViewFlightLogScreen.cpp      the frame: first-frame set-up, clock, replay, top bar, playback
//                                controls, payload strip, panel menu
//   ViewFlightLogEntries.cpp     the entries list (open panel 38)
//   ViewFlightLogDatagrams.cpp   the rows and details of recorded datagrams (types 1 to 4)
//   ViewFlightLogMapPanels.cpp   the map, HUD texts, side view and the panels drawn over them
//   ViewFlightLogExport.cpp      the export panel (open panel 39)
#pragma once
#include "Core/FixedString.h"
#include "Drone/Hud.h"
#include "FlightLogReplay/FlightLogOverview.h"
#include "SourceCommon/UserInterface/MapView.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/UiState.h"

struct AppState;
struct FlightLogIndex;
struct FlightLogReplay;
struct FileReadRequest;
struct Preferences;
struct Platform;
struct ScreenResult;
struct ScreenStack;
struct SoundQueue;
struct UiMetrics;
struct ReplayElevation;
struct VehicleState;

// The replay's idle step: the drone link runs without a datagram at most this often (ms) between
// entries.
constexpr i64 kViewerIdleStepMs = kOverviewIdleStepMs;
// Entries, and their bytes, the playback replays in one frame at most: a clock far ahead of the
// replay (after the entries list was open for long at a high speed) is caught up over several frames.
constexpr i64 kMaxReplayEntriesPerFrame = 20000;
constexpr i64 kMaxReplayBytesPerFrame = 2000000;
// Sound is played only while the clock is this close (ms) to the entry that is due.
constexpr i64 kViewerSoundLagMs = 1000;
constexpr i32 kMaxEntryRowsPerFrame = 200;
constexpr i64 kEntryDetailsCapacity = 2000;

// Values of ViewFlightLogState::openPanel; the panel functions the Fly Screen shares read them too.
enum ViewFlightLogPanel : u32 {
    ViewerPanelNone = 0,
    ViewerPanelOrvikStrip = 2,    // 2 to 6: the Orvik payload strip
    ViewerPanelOrvikDetails = 6,  // the strip with its details panel
    ViewerPanelSignal = 17,
    ViewerPanelLinkQuality = 19,
    ViewerPanelSideView = 23,
    ViewerPanelMenu = 27,
    ViewerPanelMissions = 28,
    ViewerPanelOverlays = 29,
    ViewerPanelEditorFirst = 30,  // 30 to 33: the map drawing editor
    ViewerPanelEditorLast = 33,
    ViewerPanelSensorHealth = 36,
    ViewerPanelPlayback = 37,
    ViewerPanelEntries = 38,
    ViewerPanelExport = 39,
};

// The screen's scratch state: all zero when the screen is pushed.
struct ViewFlightLogState {
    u32 isInitialised;
    MapView mapView;           // the replay map: free pan and zoom
    MapView sensorHealthView;  // the sensor-health panel's list
    MapView panelViews[4];     // scroll views of the other panels
    MapView sideView;
    u32 mapFitted;             // the map has been fitted to trackBounds
    f64 trackBounds[4];        // {min longitude, max longitude, min latitude, max latitude}; starts inverted at 1e12
    u32 miniViewSwapped;
    u32 tapInfoOpen;
    u32 openPanel;             // ViewFlightLogPanel
    f64 tapInfoPosition[2];    // Web-Mercator
    MapView entriesView;       // the entries list: row i lies at y = -i
    i32 selectedEntry;         // the entry whose details are open; -1 none
    f64 entriesBottom;         // the lowest y of the list's content when it was last drawn
    u32 jumpToCursor;          // centre the list on the replay cursor's row once
    i64 exportStartMicros;
    i32 exportNumber;
    FixedString exportPath;
    // Bit 0: a finite value was seen, bit 1: a NaN or infinite one; over every augmented position.
    u32 aglPresence;
    u32 mslDemPresence;
    u32 mslPilotPresence;
    i64 cursor;          // the next entry (index order) the replay applies
    i64 playbackTime;    // Unix ms the replay has reached
    u32 isPlaying;
    i32 playbackSpeed;   // 1, 3, 10 or 30
    i64 speedBaseTime;   // playbackTime when play or a speed was last chosen (Unix ms)
    i64 speedBaseMicros; // the screen clock at that moment
    u32 photoCount;      // photos over the whole log
    i64 lastDatagramEntry;  // the last entry of type 1 or 2
    u32 recordingCount;
    u64 recordingVisible;      // bit per recording: the visible recording of a kind-1 camera
    u64 recordingThermal;      // a thermal-sensor recording
    u64 recordingMslPilotGap;  // a NaN MSL altitude from the entered takeoff elevation was seen during it
    u64 recordingMslDemGap;    // a NaN MSL altitude from the elevation map was seen during it
    i64 recordingStart[kMaxReplayRecordings];   // Unix ms
    i64 recordingLength[kMaxReplayRecordings];  // ms
    f64 totalDistance;  // m over the whole log
    u32 trackCount;
    f32 trackStepDistance[kMaxTrackSamples];  // m from the previous augmented position
    f32 trackAltitude[kMaxTrackSamples];      // the vehicle's altitude above takeoff plus its offset
    f32 trackAgl[kMaxTrackSamples];           // as recorded, NaN kept
    u64 trackPayloadBits[(kMaxTrackSamples + 63) / 64];  // the Orvik status byte was nonzero

    // Kept between frames by the screen beyond the fields above.
    u64 payloadSpinStart;  // the payload indicator's turning start
    u32 sideViewPlaced;    // the side view has been centred on the whole flight once
    f32 detailsTextHeight;      // pixels of the details text drawn last frame
    f64 sensorHealthBottom;     // lowest content y of the sensor-health list last frame
    u32 miniPointerMask;        // pointers pressed on the mini view that may still drag it
    Hud hud;                    // the HUD over the large video
    u32 trackExtentsCount;      // trackCount + 1 when trackExtents were found (0: not yet)
    f32 trackExtents[4];        // the side view's lowest and highest path and ground heights
    // The Missions panel (28): its selected row, the typed name and a mission file being read for
    // the replayed plan.
    i32 missionRow;
    FixedString missionName;
    FileReadRequest* missionRead;
};

// The playback buttons of the controls column (open panel 37), top to bottom.
enum ViewerPlaybackButton : u32 {
    ViewerFastForward30 = 0,
    ViewerFastForward10,
    ViewerFastForward3,
    ViewerPlay,
    ViewerPause,
    ViewerRestart,
    ViewerEntries,
    ViewerSideView,
    kViewerPlaybackButtons,
};

// The first-frame set-up: sets the views up, takes the track, its bounds, the presence sets, the
// recordings, lastDatagramEntry, totalDistance and photoCount from the whole log's overview, then
// clears the replay and starts playing at 1x from startTime at now (us).
void setUpFlightLogViewerWith(ViewFlightLogState* state, const FlightLogIndex* index, const FlightLogOverview* overview,
                              FlightLogReplay* replay, f32 screenHeight, f32 rowHeight, u64 now);
// The same after replaying the whole log once into replay for the overview, in this call.
void setUpFlightLogViewer(ViewFlightLogState* state, const FlightLogIndex* index, FlightLogReplay* replay,
                          f32 screenHeight, f32 rowHeight, u64 now);
// The clock: while playing, speedBaseTime plus the time since speedBaseMicros times the speed;
// clamped at endTime, where playing stops.
void advanceFlightLogClock(ViewFlightLogState* state, const FlightLogIndex* index, u64 now);
// Steps the replay towards playbackTime, at most kMaxReplayEntriesPerFrame entries and about
// kMaxReplayBytesPerFrame of their bytes; the sound queue is passed only at 1x close to the due
// entry.
void stepFlightLogReplay(ViewFlightLogState* state, const FlightLogIndex* index, FlightLogReplay* replay,
                         SoundQueue* sounds, const ReplayElevation* elevation);
// What a playback button does.
void pressPlaybackButton(ViewFlightLogState* state, u32 button, const FlightLogIndex* index, FlightLogReplay* replay,
                         u64 now);

// The entries list: one frame of it over the whole window. Clears a back request into closing the
// list.
void drawFlightLogEntries(ViewFlightLogState* state, const FlightLogIndex* index, const Preferences* units,
                          const UiMetrics* metrics, Platform* platform, ScreenStack* stack, UiState* ui,
                          ScreenResult* result);

// Recorded datagrams (types 1 to 4) in the entries list. A row's text is drawn into textArea (from
// half a text unit after the time column to the row's end) with the list's text size; rowColour
// is the row's background. The details of the selected row are appended to details before the
// common hexadecimal tail; their temperatures follow the units preference.
Color datagramRowColour(u8 type);
void drawDatagramRowText(u8 type, const u8* payload, u16 length, Rect textArea, const Rect* crop, f32 textSize,
                         UiState* ui);
void appendDatagramDetails(u8 type, const u8* payload, u16 length, const Preferences* units, ByteWriter* details);

// The playback layout below the top bar and the controls: the map, the HUD and its texts, the side
// view and the open panel's content (including the panels 17, 19, 23, 28 to 33 and 36; a mission file
// that the Missions panel loads replaces the replayed plan). The frame has already stepped the
// replay.
void drawFlightLogMapAndPanels(ViewFlightLogState* state, AppState* app, Platform* platform, ScreenStack* stack,
                               UiState* ui, Rect content);
// The side view (open panel 23) in panel: the whole track's altitude profile over its terrain, the
// vehicle at travelled metres along the path and vehicleAltitude above the takeoff point; pans and
// zooms with the pointers no widget took.
void drawFlightLogSideView(ViewFlightLogState* state, Rect panel, f32 textSize, f64 travelled, f64 vehicleAltitude,
                           const Preferences* preferences, UiState* ui, ScreenStack* stack);
// The sensor-health panel's rows (open panel 36): each sensor bit that is present, enabled and not
// healthy by name ("Sensor Bit @ Error" for a bit without one), then the kept status texts, oldest
// first, as "@   @" with the time since the log's start (an entry's time plus startOffsetMicros,
// (timeBase - startTime) x 1,000) and the text. Returns the number of rows written.
constexpr i32 kSensorHealthRows = 64 + 256;
i32 flightLogSensorHealthRows(FixedString* rows, i32 capacity, const VehicleState* vehicle, i64 startOffsetMicros);
// The replay's map and video views (one large, the other the mini view) under everything else:
// drawn last in the frame so that the widgets drawn before take their pointers first.
// takeoffGround: the ground at the vehicle's takeoff position (m MSL; 10,000 or -32768 while unknown),
// the reference of the elevation maps' low-altitude shading.
void drawFlightLogMap(ViewFlightLogState* state, AppState* app, Platform* platform, ScreenStack* stack, UiState* ui,
                      Rect content, f32 takeoffGround);
// The ground height under a point for the replayed drone link (context: the ElevationMapLoader);
// NaN where no elevation data covers it.
f64 replayElevation(void* context, f64 longitude, f64 latitude);

// The export panel, while the open panel is 39: the photo-info, video-metadata and flight-path
// rows; a clicked row writes its file (a long log's in slices, its row showing "Writing @%"), through
// the export job's own replay record, while playback goes on.
void drawFlightLogExportPanel(ViewFlightLogState* state, AppState* app, Platform* platform, ScreenStack* stack,
                              UiState* ui, Rect content);
