// The View Flight Log screen's frame: the first-frame set-up from the whole log's overview, the
// playback clock, the replay stepped to it, and the playback layout's top bar, controls, payload
// strip and panel menu. The entries list, the recorded datagrams, the map with its panels and the
// export panel are in the screen's other files (see ViewFlightLogScreen.h).
#include "Screens/ViewFlightLogScreen.h"

#include <cmath>
#include <cstring>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/MathEarth.h"
#include "Core/Profiler.h"
#include "Drone/Hud.h"
#include "Drone/TarnwickPayloads/OrvikTexts.h"
#include "FlightLogReplay/FlightLogList.h"
#include "FlightLogReplay/FlightLogReplay.h"
#include "FlightLogs/FlightLogger.h"
#include "Platform/Platform.h"
#include "Screens/ChildScreens.h"
#include "Screens/FlyScreenSharedUiViewLog.h"
#include "SourceCommon/Renderer/ImageAssets.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/Widgets.h"

static_assert(sizeof(ViewFlightLogState) <= sizeof(ScreenStack::screenState));

namespace {

constexpr f32 kHudGroundUnknown = 10000.0f;
constexpr f32 kNoElevation = -32768.0f;
constexpr f32 kBarDepth = 0.8f;
constexpr Color kBarBackground = 0x77000000;
constexpr Color kOutlineWhite = 0xFFFFFFFF;
constexpr Color kStatusRed = 0xFF0000DD;
constexpr Color kStatusAmber = 0xFF00DDFF;
constexpr u64 kOrvikRedWord = 0x1090000;
const FixedString kNoLabel{};

void clearReplay(FlightLogReplay* replay) { std::memset(static_cast<void*>(replay), 0, sizeof(*replay)); }

// The time of the entry at the cursor, or the end when the replay has applied them all.
i64 entryTimeAt(const FlightLogIndex* index, i64 entry) {
    return entry < index->entryCount ? flightLogEntryTime(index, entry) : index->endTime;
}

// ---------------------------------------------------------------------------------------------------
// The playback layout.

ButtonStyle outlinedButtonStyle(f32 textSize) {
    ButtonStyle style{};
    style.textStyle = TextStyle{kTextWhite, kNoOutline, kSelectionOrange, textSize, 0, 0};
    style.anchor = AnchorCentre;
    style.textPadding = textSize / 4;
    style.cornerRadius = textSize / 4;
    style.fill = 0x00000000;
    style.pressedFill = 0x66FFFFFF;
    style.outlineWidth = 2;
    return style;
}

// Outlines a button in white: the toolkit's button draws no outline of its own.
void outline(const Rect& rect, f32 depth, const Rect& crop, f32 radius, UiState* ui) {
    addRoundedRect(rect, depth, crop, 2, radius, 0x00000000, kOutlineWhite, &ui->batches.coloredRect, ui->halfWidth,
                   ui->halfHeight);
}

void drawPlaybackControls(ViewFlightLogState* state, const FlightLogIndex* index, FlightLogReplay* replay, Rect area,
                          const UiMetrics* metrics, UiState* ui, ScreenStack* stack) {
    static const char* const kLabels[kViewerPlaybackButtons] = {"FF 30x", "FF 10x",  "FF 3x",   "Play",
                                                                "Pause",  "Restart", "Entries", "Side\nView"};
    static const WidgetId kIds[kViewerPlaybackButtons] = {WIDGET_ID, WIDGET_ID, WIDGET_ID, WIDGET_ID,
                                                          WIDGET_ID, WIDGET_ID, WIDGET_ID, WIDGET_ID};
    f32 t = metrics->textHeight;
    f32 width = 5 * t;
    f32 height = 2.2f * t;
    f32 gap = metrics->margin;
    ButtonStyle style = outlinedButtonStyle(t);
    f32 top = area.y1 - gap;
    for (u32 i = 0; i < kViewerPlaybackButtons; i++) {
        Rect rect{area.x0 + gap, area.x0 + gap + width, top - height, top};
        outline(rect, kBarDepth, ui->screenRect, style.cornerRadius, ui);
        if (button(makeString(kLabels[i]), &rect, &ui->screenRect, kBarDepth, &style, ui, stack, &kIds[i]).clicked) {
            pressPlaybackButton(state, i, index, replay, stack->now);
        }
        top -= height + gap;
    }
}

i32 batteryImage(u8 tenthsOfVolt) {
    if (tenthsOfVolt >= 82) return AssetBattery0 + 4;
    if (tenthsOfVolt >= 79) return AssetBattery0 + 3;
    if (tenthsOfVolt >= 76) return AssetBattery0 + 2;
    if (tenthsOfVolt >= 73) return AssetBattery0 + 1;
    return AssetBattery0;
}

Color orvikStatusColour(const OrvikPayloadState* orvik) {
    if (orvik->state >= 160 || (orvik->statusWord & kOrvikRedWord)) return kStatusRed;
    if (orvik->state >= 96 || orvik->chuteTemp > 60 || orvik->statusWord) return kStatusAmber;
    return kTextWhite;
}

void drawOrvikStrip(ViewFlightLogState* state, const FlightLogReplay* replay, const Preferences* preferences,
                    Rect area, const UiMetrics* metrics, UiState* ui, ScreenStack* stack) {
    const OrvikPayloadState* orvik = &replay->connection.payload.orvik;
    f32 t = metrics->textHeight;
    f32 h = metrics->buttonHeight;
    Rect strip{area.x0, area.x1, area.y1 - h, area.y1};
    addRoundedRect(strip, kBarDepth - 0.01f, ui->screenRect, 0, 0, kBarBackground, 0, &ui->batches.coloredRect,
                   ui->halfWidth, ui->halfHeight);
    TextStyle text{kTextWhite, 0xFF000000, kSelectionOrange, t, 0.1f, 0};
    f32 x = strip.x0 + metrics->margin;
    FixedString temperature = orvik->chuteTemp == -128 || orvik->statusTime == 0
                                  ? unknownTemperatureString(preferences)
                                  : temperatureString(orvik->chuteTemp, preferences);
    TextLayoutResult drawn =
        drawTextAt(ui, temperature, AnchorLeftCentre, Vec2F32{x, (strip.y0 + strip.y1) / 2}, kBarDepth, ui->screenRect, text);
    x = (drawn.bounds.x1 > x ? drawn.bounds.x1 : x) + t;
    Rect icon{x, x + 1.5f * t, strip.y0 + metrics->margin, strip.y1 - metrics->margin};
    Rect shown = drawIconInRect(&icon, &ui->screenRect, kBarDepth, AnchorLeftCentre, IconKindAsset,
                                batteryImage(orvik->batteryVoltage), &ui->batches.textured2d, ui);
    x = (shown.x1 > icon.x0 ? shown.x1 : icon.x1) + metrics->margin;
    drawn = drawTextAt(ui, formatFixed("@V", orvik->batteryVoltage, 1), AnchorLeftCentre, Vec2F32{x, (strip.y0 + strip.y1) / 2},
                       kBarDepth, ui->screenRect, text);
    x = (drawn.bounds.x1 > x ? drawn.bounds.x1 : x) + t;

    ButtonStyle style = outlinedButtonStyle(t);
    Rect details{x, x + 5 * t, strip.y0 + metrics->margin, strip.y1 - metrics->margin};
    outline(details, kBarDepth, ui->screenRect, style.cornerRadius, ui);
    static const WidgetId kDetailsId = WIDGET_ID;
    if (button(makeString("Details"), &details, &ui->screenRect, kBarDepth, &style, ui, stack, &kDetailsId).clicked) {
        state->openPanel = state->openPanel == ViewerPanelOrvikDetails ? ViewerPanelOrvikStrip : ViewerPanelOrvikDetails;
    }
    x = details.x1 + t;
    TextStyle status{orvikStatusColour(orvik), 0xFF000000, kSelectionOrange, t, 0.1f, 0};
    drawTextAt(ui, orvikStatusText(orvik, static_cast<u64>(replay->replayMicros)), AnchorLeftCentre,
               Vec2F32{x, (strip.y0 + strip.y1) / 2}, kBarDepth, ui->screenRect, status);
}

void drawPanelMenu(ViewFlightLogState* state, Rect area, const UiMetrics* metrics, UiState* ui, ScreenStack* stack) {
    static const char* const kLabels[3] = {"Overlays", "Missions", "Export"};
    static const u32 kPanels[3] = {ViewerPanelOverlays, ViewerPanelMissions, ViewerPanelExport};
    static const WidgetId kIds[3] = {WIDGET_ID, WIDGET_ID, WIDGET_ID};
    f32 t = metrics->textHeight;
    f32 h = metrics->buttonHeight;
    Rect row{area.x0 + metrics->margin, area.x1 - metrics->margin, area.y1 - h, area.y1 - metrics->margin};
    f32 width = (row.x1 - row.x0 - 2 * metrics->margin) / 3;
    ButtonStyle style = outlinedButtonStyle(t);
    for (i32 i = 0; i < 3; i++) {
        f32 x0 = row.x0 + i * (width + metrics->margin);
        Rect rect{x0, x0 + width, row.y0, row.y1};
        outline(rect, kBarDepth, ui->screenRect, style.cornerRadius, ui);
        if (button(makeString(kLabels[i]), &rect, &ui->screenRect, kBarDepth, &style, ui, stack, &kIds[i]).clicked) {
            state->openPanel = kPanels[i];
        }
    }
}

ButtonStyle indicatorStyle(const UiMetrics* metrics) {
    ButtonStyle style{};
    style.textStyle = TextStyle{kTextWhite, kNoOutline, kSelectionOrange, metrics->textHeight, 0, 0};
    style.anchor = AnchorCentre;
    style.textPadding = metrics->margin;
    style.cornerRadius = 0.1f * metrics->rowHeight;
    style.fill = 0xE0303030;
    style.pressedFill = 0xFF606060;
    return style;
}

// An image button of the top bar left of the cursor: a press while the open panel is one of its
// values closes it, else opens its first value.
void barIcon(f32* x, Rect bar, i32 asset, u32* panel, u32 first, u32 openFirst, u32 openLast, const WidgetId* id,
             UiState* ui, ScreenStack* stack) {
    f32 size = bar.y1 - bar.y0;
    Rect cell{*x - size, *x, bar.y0, bar.y1};
    *x -= size;
    f32 inset = 0.1f * size;
    Rect image{cell.x0 + inset, cell.x1 - inset, cell.y0 + inset, cell.y1 - inset};
    drawIconInRect(&image, &cell, kBarDepth + 0.002f, AnchorCentre, IconKindAsset, asset, &ui->batches.textured2d, ui);
    bool open = *panel >= openFirst && *panel <= openLast;
    ButtonStyle style{};
    style.fill = open ? 0x80E36400 : 0x00000000;
    style.pressedFill = 0x80FFFFFF;
    if (button(FixedString{}, &cell, &ui->screenRect, kBarDepth, &style, ui, stack, id).clicked) {
        *panel = open ? ViewerPanelNone : first;
    }
}

// The top bar: the elapsed time (a press switches the playback controls), then from the right the
// indicators and the menu and editor icons.
void drawTopBar(ViewFlightLogState* state, AppState* app, const FlightLogIndex* index, Rect bar, UiState* ui,
                ScreenStack* stack) {
    const UiMetrics* metrics = &app->uiMetrics;
    f32 t = metrics->textHeight;
    addRoundedRect(bar, kBarDepth - 0.01f, ui->screenRect, 0, 0, kBarBackground, 0, &ui->batches.coloredRect,
                   ui->halfWidth, ui->halfHeight);
    // The corner button of the screen runner sits at the bottom left; the bar starts at the left.
    FixedString elapsed = durationString((state->playbackTime - index->startTime) * 1000);
    TextStyle text{kTextWhite, 0xFF000000, kSelectionOrange, t, 0.1f, 0};
    Rect timeRect{bar.x0 + metrics->margin, bar.x0 + metrics->margin + 9 * t, bar.y0, bar.y1};
    drawTextAt(ui, elapsed, AnchorLeftCentre, Vec2F32{timeRect.x0, (bar.y0 + bar.y1) / 2}, kBarDepth, ui->screenRect, text);
    static const WidgetId kTimeId = WIDGET_ID;
    ButtonStyle invisible{};
    if (buttonState(&kNoLabel, &timeRect, kBarDepth, &invisible, ui, stack, &kTimeId).clicked) {
        state->openPanel = state->openPanel == ViewerPanelPlayback ? ViewerPanelNone : ViewerPanelPlayback;
    }

    // The indicator row, right to left: the payload indicator by the replayed payload type, battery,
    // video signal, link quality, GPS, the menu and editor icons, and sensor health, all of the
    // replayed connection.
    FlightLogReplay* replay = &app->flightLogReplay;
    DroneConnection* connection = &replay->connection;
    const VehicleState* vehicle = &connection->vehicle;
    u32* panel = &state->openPanel;
    // The indicators that time out measure against the playback clock, on the replayed connection's
    // own time scale (microseconds since the index's time base): paused, a silent link still goes
    // "DISCONNECTED" 3 s of log time after its last message, as it did in flight.
    i64 clockMs = state->playbackTime - index->timeBase;
    u64 now = clockMs > 0 ? static_cast<u64>(clockMs) * 1000 : 0;
    ButtonStyle style = indicatorStyle(metrics);
    f32 x = bar.x1 - metrics->margin;
    f32 barHeight = bar.y1 - bar.y0;
    if (replay->preferences.payloadType == PayloadOrvik) {
        Rect slot{x - 1.2f * barHeight, x, bar.y0, bar.y1};
        x -= 1.2f * barHeight;
        drawPayloadCountIndicator(panel, slot, metrics, &connection->payload.orvik, ui, stack, &state->payloadSpinStart,
                                  now);
    } else if (replay->preferences.payloadType == PayloadVosk) {
        drawDualStatusIndicator(panel, &x, &bar, &style, &connection->payload.vosk, ui, stack, now);
    }
    drawBatteryIndicator(panel, &x, &bar, &style, vehicle, &app->preferences, ui, stack);
    drawSignalIndicator(panel, &x, &bar, &style, nullptr, ui, stack, &app->preferences);
    drawLinkQualityIndicator(panel, &x, &bar, &style, connection, ui, stack, &app->preferences, now);
    drawGpsIndicator(panel, &x, &bar, &style, vehicle, stack, ui, &app->preferences);
    static const WidgetId kFolderId = WIDGET_ID;
    barIcon(&x, bar, AssetFolder, panel, ViewerPanelMenu, ViewerPanelMenu, ViewerPanelOverlays, &kFolderId, ui, stack);
    if (app->preferences.developerMode) {
        static const WidgetId kPencilId = WIDGET_ID;
        barIcon(&x, bar, AssetPencil, panel, ViewerPanelEditorFirst, ViewerPanelEditorFirst, ViewerPanelEditorLast,
                &kPencilId, ui, stack);
    }
    drawSensorHealthIndicator(panel, &x, &bar, &style, vehicle, ui, stack, now);
}

}  // namespace

f64 replayElevation(void* context, f64 longitude, f64 latitude) {
    const f32 unknown = -1e30f;
    f32 height = getElevation(static_cast<const ElevationMapLoader*>(context), GeoPoint{longitude, latitude}, unknown);
    return height == unknown ? NAN : static_cast<f64>(height);
}

// ---------------------------------------------------------------------------------------------------

void setUpFlightLogViewerWith(ViewFlightLogState* state, const FlightLogIndex* index, const FlightLogOverview* overview,
                              FlightLogReplay* replay, f32 screenHeight, f32 rowHeight, u64 now) {
    state->isInitialised = 1;
    state->mapView = makeMapView(WIDGET_ID, MapViewModeMap);
    state->sensorHealthView = makeMapView(WIDGET_ID, MapViewModeScrollList);
    state->missionRow = -1;
    state->panelViews[0] = makeScrollView(WIDGET_ID);
    state->panelViews[1] = makeScrollView(WIDGET_ID);
    state->panelViews[2] = makeScrollView(WIDGET_ID);
    state->panelViews[3] = makeMapView(WIDGET_ID, MapViewModeScrollList);
    state->sideView = makeMapView(WIDGET_ID, MapViewModeMap);
    state->entriesView = makeMapView(WIDGET_ID, MapViewModeScrollList);
    state->selectedEntry = -1;
    if (rowHeight <= 0) rowHeight = 1;
    state->entriesBottom = -static_cast<f64>(index->entryCount) - (screenHeight + rowHeight) / rowHeight;

    std::memcpy(state->trackBounds, overview->trackBounds, sizeof(state->trackBounds));
    state->aglPresence = overview->aglPresence;
    state->mslDemPresence = overview->mslDemPresence;
    state->mslPilotPresence = overview->mslPilotPresence;
    state->photoCount = overview->photoCount;
    state->lastDatagramEntry = overview->lastDatagramEntry;
    state->recordingCount = overview->recordingCount;
    state->recordingVisible = overview->recordingVisible;
    state->recordingThermal = overview->recordingThermal;
    state->recordingMslPilotGap = overview->recordingMslPilotGap;
    state->recordingMslDemGap = overview->recordingMslDemGap;
    std::memcpy(state->recordingStart, overview->recordingStart, sizeof(state->recordingStart));
    std::memcpy(state->recordingLength, overview->recordingLength, sizeof(state->recordingLength));
    state->totalDistance = overview->totalDistance;
    state->trackCount = overview->trackCount;
    size_t samples = overview->trackCount;
    std::memcpy(state->trackStepDistance, overview->trackStepDistance, samples * sizeof(f32));
    std::memcpy(state->trackAltitude, overview->trackAltitude, samples * sizeof(f32));
    std::memcpy(state->trackAgl, overview->trackAgl, samples * sizeof(f32));
    std::memcpy(state->trackPayloadBits, overview->trackPayloadBits, sizeof(state->trackPayloadBits));

    clearReplay(replay);
    state->cursor = 0;
    state->playbackTime = index->startTime;
    state->speedBaseTime = index->startTime;
    state->isPlaying = 1;
    state->playbackSpeed = 1;
    state->jumpToCursor = 1;
    state->speedBaseMicros = static_cast<i64>(now);
}

void setUpFlightLogViewer(ViewFlightLogState* state, const FlightLogIndex* index, FlightLogReplay* replay,
                          f32 screenHeight, f32 rowHeight, u64 now) {
    // The findings are too large for the stack. Without the memory the screen stays uninitialised and
    // tries again on the next frame.
    FlightLogOverview* overview = reinterpret_cast<FlightLogOverview*>(allocateFileBuffer(sizeof(FlightLogOverview)));
    if (!overview) return;
    FlightLogOverviewPass pass;
    beginFlightLogOverview(&pass, overview, replay);
    continueFlightLogOverview(&pass, overview, replay, index, INT64_MAX);
    setUpFlightLogViewerWith(state, index, overview, replay, screenHeight, rowHeight, now);
    freeFileBuffer(overview);
}

void advanceFlightLogClock(ViewFlightLogState* state, const FlightLogIndex* index, u64 now) {
    if (state->isPlaying) {
        i64 elapsed = static_cast<i64>(now) - state->speedBaseMicros;
        state->playbackTime = state->speedBaseTime + elapsed * state->playbackSpeed / 1000;
    }
    if (state->playbackTime >= index->endTime) {
        state->isPlaying = 0;
        state->playbackTime = index->endTime;
    }
}

void stepFlightLogReplay(ViewFlightLogState* state, const FlightLogIndex* index, FlightLogReplay* replay,
                         SoundQueue* sounds, const ReplayElevation* elevation) {
    bool audible = state->isPlaying && state->playbackSpeed == 1 && state->cursor < index->entryCount &&
                   state->playbackTime - entryTimeAt(index, state->cursor) < kViewerSoundLagMs;
    SoundQueue* queue = audible ? sounds : nullptr;
    i64 bytes = 0;
    for (i64 entries = 0; entries < kMaxReplayEntriesPerFrame && bytes < kMaxReplayBytesPerFrame &&
                          state->cursor < index->entryCount;
         entries++) {
        i64 entry = state->cursor;
        FlightLogReplayStep step;
        replayFlightLog(&step, &state->cursor, state->playbackTime, kViewerIdleStepMs, queue, index, replay, elevation);
        if (step.type == -1) break;
        if (state->cursor > entry) bytes += flightLogEntryLength(index, entry);
    }
}

void pressPlaybackButton(ViewFlightLogState* state, u32 button, const FlightLogIndex* index, FlightLogReplay* replay,
                         u64 now) {
    static const i32 kSpeeds[4] = {30, 10, 3, 1};
    switch (button) {
        case ViewerFastForward30:
        case ViewerFastForward10:
        case ViewerFastForward3:
        case ViewerPlay:
            state->isPlaying = 1;
            state->playbackSpeed = kSpeeds[button];
            state->speedBaseTime = state->playbackTime;
            state->speedBaseMicros = static_cast<i64>(now);
            state->jumpToCursor = 1;
            break;
        case ViewerPause:
            state->isPlaying = 0;
            state->jumpToCursor = 1;
            break;
        case ViewerRestart:
            state->isPlaying = 0;
            state->jumpToCursor = 1;
            clearReplay(replay);
            state->cursor = 0;
            state->playbackTime = index->startTime;
            break;
        case ViewerEntries: state->openPanel = ViewerPanelEntries; break;
        case ViewerSideView: state->openPanel = ViewerPanelSideView; break;
        default: break;
    }
}

void viewFlightLogScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                         void* scratch) {
    ProfilingScope scope("View Flight Log Screen");
    ViewFlightLogState* state = static_cast<ViewFlightLogState*>(scratch);
    const FlightLogIndex* index = &app->flightLogList.index;
    FlightLogReplay* replay = &app->flightLogReplay;
    const UiMetrics* metrics = &app->uiMetrics;
    u64 now = stack->now;
    app->flightLogViewerOpen = 1;
    if (!state->isInitialised) {
        // The list's parse has replayed the log once already; a log handed over without its overview
        // is replayed here.
        const FlightLogOverview* overview = flightLogOverviewOf(&app->flightLogList);
        f32 height = static_cast<f32>(ui->height);
        if (overview) {
            setUpFlightLogViewerWith(state, index, overview, replay, height, metrics->rowHeight, now);
        } else {
            setUpFlightLogViewer(state, index, replay, height, metrics->rowHeight, now);
        }
        // The export rows start without an earlier session's result.
        if (!flightLogExportBusy(&app->flightLogExport)) app->flightLogExport.status = FlightLogExportStatus{};
    }

    if (state->openPanel == ViewerPanelEntries) {
        drawFlightLogEntries(state, index, &app->preferences, metrics, platform, stack, ui, result);
    } else {
        ui->clearColor[0] = ui->clearColor[1] = ui->clearColor[2] = 0;
        advanceFlightLogClock(state, index, now);
        ReplayElevation elevation{replayElevation, &app->elevationMapLoader};
        stepFlightLogReplay(state, index, replay, &app->sound.queue, &elevation);

        // The ground at the replayed vehicle's takeoff position (home or second stored position with
        // the offset): the reference of the map's low-altitude shading; 10,000 until a position.
        f32 ground = kHudGroundUnknown;
        const VehicleState* vehicle = &replay->connection.vehicle;
        if (vehicle->globalPosition.time != 0 && (vehicle->home.time != 0 || vehicle->secondPosition.time != 0)) {
            LongitudeLatitude reference = vehiclePosition(vehicle);
            ground = getElevation(&app->elevationMapLoader, GeoPoint{reference.longitude, reference.latitude}, kNoElevation);
        }

        Rect screen = ui->screenRect;
        Rect bar{screen.x0, screen.x1, screen.y1 - metrics->buttonHeight, screen.y1};
        Rect below{screen.x0, screen.x1, screen.y0, bar.y0};
        drawFlightLogMapAndPanels(state, app, platform, stack, ui, below);
        drawTopBar(state, app, index, bar, ui, stack);
        if (state->openPanel == ViewerPanelPlayback) {
            drawPlaybackControls(state, index, replay, below, metrics, ui, stack);
        }
        if (state->openPanel >= ViewerPanelOrvikStrip && state->openPanel <= ViewerPanelOrvikDetails) {
            drawOrvikStrip(state, replay, &app->preferences, below, metrics, ui, stack);
        }
        if (state->openPanel == ViewerPanelMenu) drawPanelMenu(state, below, metrics, ui, stack);
        if (state->openPanel == ViewerPanelExport) drawFlightLogExportPanel(state, app, platform, stack, ui, below);
        drawFlightLogMap(state, app, platform, stack, ui, below, ground);
    }
    if (result->back) {
        app->flightLogViewerOpen = 0;
        // An export still being written is given up: it leaves no file.
        cancelFlightLogExport(&app->flightLogExport);
        // A mission file still being read for the replayed plan is no longer wanted.
        if (state->missionRead) releaseFileReadRequest(state->missionRead, &platform->fileReads);
        state->missionRead = nullptr;
    }
}
