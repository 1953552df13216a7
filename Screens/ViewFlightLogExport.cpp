// The export panel of the View Flight Log screen (open panel 39): one row per export, each showing
// its own progress and result while it is the newest export.
#include "AppState/AppState.h"
#include "Core/Format.h"
#include "FlightLogReplay/FlightLogExports.h"
#include "Platform/Platform.h"
#include "Screens/ViewFlightLogScreen.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/Rows.h"

namespace {

struct FlightPathRow {
    const char* title;
    const char* description;
};

constexpr FlightPathRow kFlightPathRows[kFlightPathVariants] = {
    {"Export flight path .gpx", "Elevation as reported by the GPS"},
    {"Export flight path ATO.gpx", "Elevation will be altitude above the takeoff location"},
    {"Export flight path AGL.gpx",
     "Elevation will be altitude above ground level, calculated from the elevation map used during flight"},
    {"Export flight path MSL_DEM.gpx", "Elevation above MSL calculated from the elevation map used during flight"},
    {"Export flight path MSL_Pilot.gpx",
     "Elevation above MSL calculated from pilot-inputted takeoff location elevation"},
};

// Which rows show: the first two always, the others only when every position had that altitude.
bool flightPathRowShown(u32 variant, const ViewFlightLogState* state) {
    switch (variant) {
    case FlightPathAboveGround: return state->aglPresence == 1;
    case FlightPathMslFromElevationMap: return state->mslDemPresence == 1;
    case FlightPathMslFromTakeoffElevation: return state->mslPilotPresence == 1;
    default: return true;
    }
}

enum ExportKind : u32 { ExportNone = 0, ExportPhotoInfo, ExportFmv, ExportFlightPath };

}  // namespace

void drawFlightLogExportPanel(ViewFlightLogState* state, AppState* app, Platform* platform, ScreenStack* stack,
                              UiState* ui, Rect content) {
    const FlightLogIndex* index = &app->flightLogList.index;
    FlightLogReplay* replay = &app->flightLogReplay;
    const FileJobResult* progress = &app->flightLogExportProgress;
    FlightLogExportStatus status{state->exportStartMicros, state->exportNumber, state->exportPath};
    i64 now = static_cast<i64>(stack->now);
    MapView* view = &state->panelViews[2];
    Rect panel{content.x0 + (content.x1 - content.x0) / 2, content.x1, content.y0, content.y1};
    beginMapView(&panel, platform, ui, view);

    ExportKind clicked = ExportNone;
    i32 clickedNumber = 0;
    u32 clickedItem = 0;
    if (state->photoCount != 0) {
        FixedString title = makeString("Export photo info .csv");
        FixedString text = exportRowDescription(
            1, "Exports information useful for cross-referencing with the photos that were captured", &status, progress,
            platform->dataFolder, now);
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) clicked = ExportPhotoInfo, clickedNumber = 1;
    }
    i32 fmvRows = 0;
    u32 recordings = state->recordingCount < kMaxReplayRecordings ? state->recordingCount : kMaxReplayRecordings;
    for (u32 i = 0; i < recordings && app->preferences.developerMode; i++) {
        const char* kind = (state->recordingVisible >> i) & 1   ? "Visible "
                           : (state->recordingThermal >> i) & 1 ? "Thermal "
                                                                 : "";
        FixedString title = formatStrStrStr("Export Full Motion Video .csv for @recording starting at @ and lasting @",
                                            makeString(kind),
                                            durationString((state->recordingStart[i] - index->startTime) * 1000),
                                            durationString(state->recordingLength[i] * 1000));
        i32 number = 2 + static_cast<i32>(i);
        FixedString text = exportRowDescription(
            number, "Exports a MISB-compliant metadata .csv file for video multiplexing in ArcGIS", &status, progress,
            platform->dataFolder, now);
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) {
            clicked = ExportFmv, clickedNumber = number, clickedItem = i;
        }
        fmvRows++;
    }
    i32 firstFlightPath = 3 + fmvRows;
    for (u32 variant = 0; variant < kFlightPathVariants; variant++) {
        if (!flightPathRowShown(variant, state)) continue;
        i32 number = firstFlightPath + static_cast<i32>(variant);
        FixedString title = makeString(kFlightPathRows[variant].title);
        FixedString text = exportRowDescription(number, kFlightPathRows[variant].description, &status, progress,
                                                platform->dataFolder, now);
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) {
            clicked = ExportFlightPath, clickedNumber = number, clickedItem = variant;
        }
    }
    endMapView(stack, ui, view);
    if (clicked == ExportNone) return;

    // The export runs whole within this frame; only the write waits for the file thread.
    ReplayElevation elevation{replayElevation, &app->elevationMapLoader};
    FlightLogExportSource source{index, replay, &elevation, flightLogExportName(app->flightLogList.logName)};
    FlightLogExportTarget target{&status, &app->flightLogExportProgress, &platform->fileJobs, now};
    if (clicked == ExportPhotoInfo) {
        queuePhotoInfoExport(&source, state->lastDatagramEntry, &target);
    } else if (clicked == ExportFmv) {
        FlightLogRecording recording{state->recordingStart[clickedItem],
                                     state->recordingLength[clickedItem],
                                     static_cast<u8>((state->recordingVisible >> clickedItem) & 1),
                                     static_cast<u8>((state->recordingThermal >> clickedItem) & 1),
                                     static_cast<u8>((state->recordingMslPilotGap >> clickedItem) & 1),
                                     static_cast<u8>((state->recordingMslDemGap >> clickedItem) & 1)};
        queueFmvExport(&source, &recording, clickedNumber, &target);
    } else {
        queueFlightPathExport(&source, clickedItem, clickedNumber, &target);
    }
    state->exportStartMicros = status.exportStartMicros;
    state->exportNumber = status.exportNumber;
    state->exportPath = status.exportPath;

    // The exports used the viewer's replay record: rebuild it up to where playback was.
    clearFlightLogReplay(replay);
    state->cursor = 0;
    stepFlightLogReplay(state, index, replay, nullptr, &elevation);
}
