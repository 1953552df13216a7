// The playback layout of the View Flight Log screen under its top bar: the replay map (the fly
// screen's map pass, fed by the replay), the drawing toolbar and the telemetry text over it, and the
// open panel: details (6), side view (23), overlays (29) and sensor health (36).
#include <cmath>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Preferences.h"
#include "Drone/Hud.h"
#include "Drone/TarnwickPayloads/OrvikTexts.h"
#include "FlightLogReplay/FlightLogReplay.h"
#include "FlightLogs/FlightLogIndex.h"
#include "Mission/MissionFiles.h"
#include "Overlays/OverlaysPanel.h"
#include "Screens/FlyScreenInternal.h"
#include "Screens/FlyScreenSharedUiViewLog.h"
#include "Screens/ViewFlightLogScreen.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/Rows.h"
#include "Core/ImageSlots.h"
#include "Video/VideoDecoder.h"

namespace {

constexpr f32 kPanelDepthHere = 0.9f;
constexpr Color kPanelBackground = 0xFF303030;  // 48, 48, 48
constexpr Color kScrollbarColour = 0xFFC0C0C0;
constexpr i64 kDetailsBytes = 1000;

// The map and the video as the fly screen draws them (one large, the other the mini view), with the
// replay's link, drops and clock; the viewer's own fields are handed in and taken back around the
// passes.
void drawReplayMap(ViewFlightLogState* state, AppState* app, Platform* platform, ScreenStack* stack, UiState* ui,
                   Rect content, f32 takeoffGround) {
    FlightLogReplay* replay = &app->flightLogReplay;
    FlyScreenState fly{};
    fly.mapView = state->mapView;
    fly.openPanel = state->openPanel;
    fly.showTapInfo = state->tapInfoOpen;
    fly.tapInfoPosition = Vec2{state->tapInfoPosition[0], state->tapInfoPosition[1]};
    fly.mapCenteredOnce = 1;  // the viewer fits the track instead
    fly.mapMinimized = state->miniViewSwapped;
    fly.miniPointerMask = state->miniPointerMask;
    fly.hudState = state->hud;

    FlyScreenFrame frame{};
    frame.platform = platform;
    frame.stack = stack;
    frame.ui = ui;
    frame.app = app;
    frame.state = &fly;
    frame.metrics = &app->uiMetrics;
    frame.now = replay->replayMicros > 0 ? (u64)replay->replayMicros : 0;
    frame.window = content;
    frame.content = content;
    frame.topBar = Rect{content.x0, content.x1, content.y1, content.y1};
    frame.barBottom = content.y1;
    frame.buttonStyle = flyButtonStyle(frame.metrics);
    frame.homeGroundHeight = takeoffGround == kUnknownTapGround ? kUnknownGround : takeoffGround;
    frame.replay = replay;
    const VideoDecoder* decoder = programVideoDecoder();
    ImageSlot* picture = decoder && decoder->imageSlotId ? getImageSlot(&ui->imageSlots, (i32)decoder->imageSlotId) : nullptr;
    frame.videoAvailable = picture && picture->width && picture->height ? 1 : 0;
    frame.videoImageSlot = frame.videoAvailable ? decoder->imageSlotId : 0;

    MapView* view = &fly.mapView;
    if (!state->mapFitted) {
        state->mapFitted = 1;
        const f64* b = state->trackBounds;
        if (b[0] <= b[1] && b[2] <= b[3]) {
            Box2 world{0, 0, -0.5, 0.5};
            updateMapView(view, &content, world, ui, stack, platform, MapWheelZooms);
            constexpr f64 kPi = 3.14159265358979323846;
            f64 x0 = wrapWorldX(b[0] / 360.0);
            f64 x1 = x0 + (b[1] - b[0]) / 360.0;
            f64 box[4] = {x0, x1, std::log(std::tan(kPi / 4 + b[2] * kPi / 360)) / (2 * kPi),
                          std::log(std::tan(kPi / 4 + b[3] * kPi / 360)) / (2 * kPi)};
            zoomMapToFit(view, box, app->uiMetrics.buttonTextHeight * 1.8f);
        }
    }
    // Two passes: the one numbered like the video-large flag is the video's, so the mini view is
    // always handled first.
    u32 videoLarge = fly.mapMinimized && frame.videoAvailable ? 1 : 0;
    if (videoLarge) {
        ui->clearColor[0] = ui->clearColor[1] = ui->clearColor[2] = 0;
    } else {
        ui->clearColor[0] = 242, ui->clearColor[1] = 239, ui->clearColor[2] = 233;
    }
    MapTaps taps{};
    for (u32 pass = 0; pass < 2; pass++) {
        if (pass == videoLarge) {
            replay->connection.hudInUse = 0;
            drawFlyVideoPass(&frame, videoLarge);
        } else {
            drawFlyMapPass(&frame, videoLarge, &taps);
        }
    }
    for (i32 i = 0; i < taps.count && !frame.tapInfoClosed; ++i) {
        if (state->openPanel >= ViewerPanelEditorFirst && state->openPanel <= ViewerPanelEditorLast) {
            addKmzItemAtTap(&frame, taps.positions[i]);
        } else if (i == 0) {
            fly.showTapInfo = 1;
            fly.tapInfoPosition = taps.positions[i];
        }
    }

    state->mapView = fly.mapView;
    state->tapInfoOpen = fly.showTapInfo;
    state->tapInfoPosition[0] = fly.tapInfoPosition.x;
    state->tapInfoPosition[1] = fly.tapInfoPosition.y;
    state->miniViewSwapped = fly.mapMinimized;
    state->miniPointerMask = fly.miniPointerMask;
    state->hud = fly.hudState;
}

void drawDetailsPanel(ViewFlightLogState* state, AppState* app, Rect panel, UiState* ui, ScreenStack* stack) {
    FlightLogReplay* replay = &app->flightLogReplay;
    MapView* view = &state->panelViews[0];
    f32 textSize = app->uiMetrics.textHeight;
    Box2 content{0, panel.x1 - panel.x0, -(f64)state->detailsTextHeight, 0};
    updateMapView(view, &panel, content, ui, stack, nullptr, MapWheelScrolls);
    addRoundedRect(panel, kPanelDepthHere - 0.002f, ui->screenRect, 0, 0, kPanelBackground, kPanelBackground,
                   &ui->batches.coloredRect, ui->halfWidth, ui->halfHeight);
    u8 bytes[kDetailsBytes];
    ByteWriter text = makeByteWriter(bytes, kDetailsBytes);
    appendOrvikBoardStatus(&replay->connection.payload.orvik, &app->preferences,
                           replay->replayMicros > 0 ? (u64)replay->replayMicros : 0, &text);
    f32 top = mapViewWindowY(view, 0);
    Rect layout{panel.x0 + app->uiMetrics.margin, panel.x1 - app->uiMetrics.margin, top - 1e6f, top};
    TextStyle style{0xFFFFFFFF, kNoOutline, kSelectionOrange, textSize, 0, 0};
    TextLayoutResult drawn = drawCharsInRect(ui, TextSlice{bytes, text.length}, AnchorTopLeft, kPanelDepthHere,
                                             layout, view->clipRect, style);
    state->detailsTextHeight = drawn.bounds.y1 > drawn.bounds.y0 ? drawn.bounds.y1 - drawn.bounds.y0 : 0;
    if (state->detailsTextHeight > panel.y1 - panel.y0) {
        drawViewScrollbar(0, kScrollbarColour, kPanelDepthHere + 0.001f, view, ui);
    }
    MapTaps taps;
    handleMapPointers(&taps, view, stack);
}

void drawSensorHealthPanel(ViewFlightLogState* state, AppState* app, Rect panel, UiState* ui, ScreenStack* stack) {
    const FlightLogIndex* index = &app->flightLogList.index;
    const VehicleState* vehicle = &app->flightLogReplay.connection.vehicle;
    MapView* view = &state->sensorHealthView;
    f32 line = app->uiMetrics.buttonTextHeight;
    Box2 content{0, (panel.x1 - panel.x0) / line, state->sensorHealthBottom, 0};
    updateMapView(view, &panel, content, ui, stack, nullptr, MapWheelScrolls);
    addRoundedRect(panel, kPanelDepthHere - 0.002f, ui->screenRect, 0, 0, kPanelBackground, kPanelBackground,
                   &ui->batches.coloredRect, ui->halfWidth, ui->halfHeight);
    static FixedString rows[kSensorHealthRows];  // 80 kB: kept off the stack
    i32 count = flightLogSensorHealthRows(rows, kSensorHealthRows, vehicle, (index->timeBase - index->startTime) * 1000);
    TextStyle style{0xFFFFFFFF, kNoOutline, kSelectionOrange, app->uiMetrics.textHeight, 0, 0};
    for (i32 i = 0; i < count; ++i) {
        f32 top = mapViewWindowY(view, -(f64)i);
        f32 bottom = mapViewWindowY(view, -(f64)i - 1);
        if (top < view->clipRect.y0 || bottom > view->clipRect.y1) continue;
        Rect row{panel.x0 + 0.2f * line, panel.x1 - 0.2f * line, bottom, top};
        drawTextAt(ui, rows[i], AnchorLeftCentre, Vec2F32{row.x0, (row.y0 + row.y1) / 2}, kPanelDepthHere,
                   view->clipRect, style);
    }
    state->sensorHealthBottom = -(f64)count - (panel.y1 - panel.y0) / line;
    MapTaps taps;
    handleMapPointers(&taps, view, stack);
}

}  // namespace

i32 flightLogSensorHealthRows(FixedString* rows, i32 capacity, const VehicleState* vehicle, i64 startOffsetMicros) {
    i32 count = 0;
    u64 unhealthy = vehicle->sensorsPresent & vehicle->sensorsEnabled & ~vehicle->sensorsHealthy;
    for (i32 bit = 0; bit < 64 && count < capacity; ++bit) {
        if (!((unhealthy >> bit) & 1)) continue;
        const char* name = sysStatusSensorName(bit);
        rows[count++] = name ? makeString(name) : formatInt("Sensor Bit @ Error", bit);
    }
    if (vehicle->statusTextCount == 0) return count;
    u8 i = vehicle->statusTextOldest;
    for (i32 n = 0; n < kStatusTextEntries && count < capacity; ++n, ++i) {
        const StatusTextEntry* entry = &vehicle->statusTexts[i];
        i64 since = (i64)entry->time + startOffsetMicros;
        rows[count++] = formatStrCstr("@   @", durationString(since), entry->text);
        if (i == vehicle->statusTextNewest) break;
    }
    return count;
}

void drawFlightLogMap(ViewFlightLogState* state, AppState* app, Platform* platform, ScreenStack* stack, UiState* ui,
                      Rect content, f32 takeoffGround) {
    drawReplayMap(state, app, platform, stack, ui, content, takeoffGround);
}

void drawFlightLogMapAndPanels(ViewFlightLogState* state, AppState* app, Platform* platform, ScreenStack* stack,
                               UiState* ui, Rect content) {
    FlightLogReplay* replay = &app->flightLogReplay;
    const UiMetrics* m = &app->uiMetrics;
    u64 now = replay->replayMicros > 0 ? (u64)replay->replayMicros : 0;

    // Over the replay: the drawing toolbar and the telemetry text.
    Rect toolbar{content.x0, content.x1, content.y1 - m->buttonHeight, content.y1};
    drawKmzEditorToolbar(&state->openPanel, toolbar, &app->kmzEditor, m, ui, stack);
    Rect textArea{content.x0, content.x1 - m->margin, content.y1 - 2 * m->textHeight, content.y1};
    drawTelemetryText(textArea, kHudBackground, &app->preferences, &replay->connection, platform, stack, ui,
                      ui->screenRect, now, (f32)replay->altitudeAboveGround, (f32)replay->altitudeMslFromElevationMap,
                      (f32)replay->altitudeMslFromTakeoffElevation);
    drawCameraHud(content.x0 + m->margin, textArea.y0 - m->margin, m->textHeight, &app->preferences,
                  &state->openPanel, &replay->connection, ui, stack);

    Rect panel{content.x0 + m->rowHeight, content.x1 - m->margin, content.y0 + m->rowHeight,
               content.y1 - 2 * m->textHeight - m->rowHeight};
    Rect sidePanel{content.x0 + 0.45f * (content.x1 - content.x0), panel.x1, panel.y0, panel.y1};
    // A mission file loaded from the Missions panel replaces the replayed plan.
    FixedString loaded = applyLoadedMissionToReplay(&state->missionRead, &replay->mission, &replay->geofence,
                                                    &replay->preferences, &platform->fileReads);
    if (loaded.length) app->missionList.message = loaded;
    switch (state->openPanel) {
        case ViewerPanelMissions: {
            MissionPlanView plan = replayedMissionPlan(&replay->mission, &replay->geofence);
            drawMissionFilesDialog(m->buttonTextHeight, m->margin, m->buttonHeight, platform, stack, ui,
                                   &stack->runner.textFocus, &replay->preferences, &plan, &app->missionList,
                                   &state->panelViews[2], &state->missionRow, &state->missionName, sidePanel,
                                   &state->missionRead);
            break;
        }
        case ViewerPanelOrvikDetails: drawDetailsPanel(state, app, sidePanel, ui, stack); break;
        case ViewerPanelSensorHealth: drawSensorHealthPanel(state, app, sidePanel, ui, stack); break;
        case ViewerPanelOverlays: {
            OverlaySelection selection = overlaySelectionOf(&app->preferences);
            drawOverlaysPanel(platform, stack, ui, &selection, &app->overlayList, &app->elevationMapLoader.status,
                              &state->panelViews[1], &sidePanel);
            break;
        }
        case ViewerPanelSideView: {
            const VehicleState* vehicle = &replay->connection.vehicle;
            f64 altitude = vehicle->globalPosition.relativeAltitude + vehicle->altitudeOffset;
            drawFlightLogSideView(state, panel, m->textHeight, replay->travelledDistance,
                                  std::isfinite(altitude) ? altitude : 0.0, &app->preferences, ui, stack);
            break;
        }
        default: break;
    }

}
