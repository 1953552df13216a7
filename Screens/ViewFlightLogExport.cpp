// The export panel of the View Flight Log screen (open panel 39): one row per export, each showing
// its own progress and result while it is the newest export.
#include <cstring>

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

// A row's one line: a saved export's path that does not fit is cut in the middle, so that the row
// still reads "Saved to " and ends with the file's name.
FixedString rowDescription(FixedString text, const MapView* view, UiState* ui) {
    static constexpr char kSaved[] = "Saved to ";
    constexpr i64 kSavedLength = sizeof(kSaved) - 1;
    if (fixedStringLength(&text) < kSavedLength || std::memcmp(text.text, kSaved, kSavedLength) != 0) return text;
    return rowDescriptionCutInMiddle(text, kSavedLength, 0, 1, view, ui);
}

// The clicked row's export: a short log's is written within this frame, as one file job; a longer
// one's is written in slices on the job ring (playback goes on meanwhile) while its row shows how far
// it is. Both replay the log in the export job's own record. A click while an export runs does
// nothing.
void startExport(ExportKind kind, i32 number, u32 item, const ViewFlightLogState* state, AppState* app,
                 Platform* platform, i64 now) {
    FlightLogExportJob* job = &app->flightLogExport;
    if (flightLogExportBusy(job)) return;
    const FlightLogIndex* index = &app->flightLogList.index;
    FixedString exportName = flightLogExportName(app->flightLogList.logName);
    FlightLogRecording recording{state->recordingStart[item],
                                 state->recordingLength[item],
                                 static_cast<u8>((state->recordingVisible >> item) & 1),
                                 static_cast<u8>((state->recordingThermal >> item) & 1),
                                 static_cast<u8>((state->recordingMslPilotGap >> item) & 1),
                                 static_cast<u8>((state->recordingMslDemGap >> item) & 1)};
    if (index->entryCount <= kInlineExportEntries && index->usedBytes <= kInlineExportBytes) {
        FlightLogExportSource source{index, &job->replay, nullptr, exportName};
        FlightLogExportTarget target{&job->status, &app->flightLogExportProgress, &platform->fileJobs, now};
        if (kind == ExportPhotoInfo) queuePhotoInfoExport(&source, state->lastDatagramEntry, &target);
        if (kind == ExportFmv) queueFmvExport(&source, &recording, number, &target);
        if (kind == ExportFlightPath) queueFlightPathExport(&source, item, number, &target);
        return;
    }
    FlightLogExportWalk walk;
    FixedString path;
    const char* mimeType = "text/csv";
    if (kind == ExportPhotoInfo) {
        beginPhotoInfoExport(&walk, state->lastDatagramEntry);
        path = photoInfoCsvPath(exportName);
    } else if (kind == ExportFmv) {
        beginFmvExport(&walk, &recording);
        path = formatStr("@.csv", fmvCsvBase(exportName, index->startTime, &recording));
    } else {
        beginFlightPathExport(&walk, item, exportName);
        path = flightPathGpxPath(exportName, item);
        mimeType = "application/gpx+xml";
    }
    startFlightLogExport(job, &walk, index, path, mimeType, number, &platform->jobQueue, now);
}

}  // namespace

void drawFlightLogExportPanel(ViewFlightLogState* state, AppState* app, Platform* platform, ScreenStack* stack,
                              UiState* ui, Rect content) {
    const FlightLogIndex* index = &app->flightLogList.index;
    const FileJobResult* progress = &app->flightLogExportProgress;
    const FlightLogExportStatus* status = &app->flightLogExport.status;
    i64 now = static_cast<i64>(stack->now);
    MapView* view = &state->panelViews[2];
    Rect panel{content.x0 + (content.x1 - content.x0) / 2, content.x1, content.y0, content.y1};
    beginMapView(&panel, platform, ui, view);

    auto rowText = [&](i32 number, const char* description) {
        return rowDescription(exportRowDescription(number, description, status, progress, platform->dataFolder, now),
                              view, ui);
    };
    ExportKind clicked = ExportNone;
    i32 clickedNumber = 0;
    u32 clickedItem = 0;
    if (state->photoCount != 0) {
        FixedString title = makeString("Export photo info .csv");
        FixedString text =
            rowText(1, "Exports information useful for cross-referencing with the photos that were captured");
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
        FixedString text =
            rowText(number, "Exports a MISB-compliant metadata .csv file for video multiplexing in ArcGIS");
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
        FixedString text = rowText(number, kFlightPathRows[variant].description);
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) {
            clicked = ExportFlightPath, clickedNumber = number, clickedItem = variant;
        }
    }
    endMapView(stack, ui, view);
    if (clicked != ExportNone) startExport(clicked, clickedNumber, clickedItem, state, app, platform, now);
    state->exportStartMicros = status->exportStartMicros;
    state->exportNumber = status->exportNumber;
    state->exportPath = status->exportPath;
}
