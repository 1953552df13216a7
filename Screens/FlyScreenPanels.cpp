// The fly screen's top bar, its panel step in the fixed order of the panels, the diagnostics panel,
// the top bar's background with the telemetry text, and the altitudes the telemetry text shows.
#include <cmath>

#include "AppState/AppState.h"
#include "Core/Clock.h"
#include "Core/Format.h"
#include "Mission/MissionSideView.h"
#include "Platform/Platform.h"
#include "Screens/FlyScreenInternal.h"
#include "Screens/FlyScreenPayloadPanels.h"
#include "Screens/FlyScreenSharedUiViewLog.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"

namespace {

constexpr f32 kIconCellWidth = 1.4f;  // x barHeight
constexpr Color kFlightLogStatusRed = 0xFF2020F0;

const VideoStreamStats* selectedVideoStats(const AppState* app) {
    switch (app->preferences.videoStreamProtocol) {
        case VideoStreamQv: return &app->qvVideoStream.stats;
        case VideoStreamRtsp: return &app->rtspVideoStream.stats;
        default: return nullptr;
    }
}

// An image button of the top bar: pressing it while openPanel is one of its open values sets 0,
// else its first value.
void barIconButton(FlyScreenFrame* f, f32* cursor, i32 asset, u32 first, u32 openFirst, u32 openLast, WidgetId id) {
    f32 width = kIconCellWidth * (f->topBar.y1 - f->topBar.y0);
    Rect cell{*cursor - width, *cursor, f->topBar.y0, f->topBar.y1};
    *cursor -= width;
    f32 inset = 0.025f * width;
    Rect image{cell.x0 + inset, cell.x1 - inset, cell.y0 + inset, cell.y1 - inset};
    drawIconInRect(&image, &cell, kTopBarDepth + 0.002f, AnchorCentre, IconKindAsset, asset,
                   &f->ui->batches.textured2d, f->ui);
    ButtonStyle style = f->buttonStyle;
    u32* panel = &f->state->openPanel;
    bool open = *panel >= openFirst && *panel <= openLast;
    style.fill = open ? 0x80E36400 : 0x00000000;
    style.pressedFill = 0x80FFFFFF;
    style.outlineWidth = 0;
    if (button(FixedString{}, &cell, &f->window, kTopBarDepth, &style, f->ui, f->stack, &id).clicked) {
        *panel = open ? 0 : first;
    }
}

// "Flight log: <reason>" while the log cannot be written, in red on the bar, its right end at the
// indicators' left edge. Where the indicators leave it too little room it is not cut: it goes whole
// to the notices below the bar.
void drawFlightLogStatus(FlyScreenFrame* f, f32 cursor) {
    f->flightLogStatusBelow = 0;
    const FixedString& status = f->app->flightLogger.writeFailure;
    if (!status.length) return;
    const UiMetrics* m = f->metrics;
    Rect area{f->topBar.x0 + m->margin, cursor - m->margin, f->topBar.y0, f->topBar.y1};
    TextStyle style{kFlightLogStatusRed, kNoOutline, kSelectionOrange, m->textHeight, 0, 0};
    Vec2F32 end{area.x1, (area.y0 + area.y1) / 2};
    // Laid out against a clip rectangle that holds nothing: measured, not drawn.
    const Rect nowhere{1e30f, -1e30f, 1e30f, -1e30f};
    TextLayoutResult measured = drawTextAt(f->ui, status, AnchorRightCentre, end, kTopBarDepth + 0.003f, nowhere, style);
    if (area.x1 <= area.x0 || measured.bounds.x0 < area.x0) {
        f->flightLogStatusBelow = 1;
        return;
    }
    drawTextAt(f->ui, status, AnchorRightCentre, end, kTopBarDepth + 0.003f, area, style);
}

TextStyle panelTextStyle(const FlyScreenFrame* f) {
    return TextStyle{kTextWhite, kNoOutline, kSelectionOrange, f->metrics->textHeight, 0, 0};
}

}  // namespace

ButtonStyle flyButtonStyle(const UiMetrics* m) {
    ButtonStyle style{};
    style.textStyle = TextStyle{kTextWhite, kNoOutline, kSelectionOrange, m->textHeight, 0, 0};
    style.anchor = AnchorCentre;
    style.textPadding = m->margin;
    style.cornerRadius = 0.1f * m->rowHeight;
    style.fill = 0xE0303030;
    style.pressedFill = 0xFF606060;
    style.outlineWidth = 0;
    return style;
}

void drawFlyTopBar(FlyScreenFrame* f) {
    AppState* app = f->app;
    FlyScreenState* s = f->state;
    u32* panel = &s->openPanel;
    const UiMetrics* m = f->metrics;
    f32 cursor = f->topBar.x1 - m->margin;
    ButtonStyle style = f->buttonStyle;
    DroneConnection* connection = &app->droneConnection;
    VehicleState* vehicle = &connection->vehicle;
    const Rect* bar = &f->topBar;
    f32 barHeight = bar->y1 - bar->y0;

    if (app->preferences.payloadType == PayloadOrvik) {
        // The indicator sizes its image by the slot's width: a slot a little wider than high keeps it
        // inside the bar.
        Rect slot{cursor - 1.2f * barHeight, cursor, bar->y0, bar->y1};
        cursor -= 1.2f * barHeight;
        drawPayloadCountIndicator(panel, slot, m, &connection->payload.orvik, f->ui, f->stack, &s->payloadIndicatorTimer,
                                  f->now);
    } else if (app->preferences.payloadType == PayloadVosk) {
        drawDualStatusIndicator(panel, &cursor, bar, &style, &connection->payload.vosk, f->ui, f->stack, f->now);
    }
    strobeToggleButton(panel, &cursor, bar, &style, &connection->payload.light, f->ui, f->stack, f->now);
    drawBatteryIndicator(panel, &cursor, bar, &style, vehicle, &app->preferences, f->ui, f->stack);
    drawSignalIndicator(panel, &cursor, bar, &style, selectedVideoStats(app), f->ui, f->stack, &app->preferences);
    drawLinkQualityIndicator(panel, &cursor, bar, &style, connection, f->ui, f->stack, &app->preferences,
                             f->now);
    drawGpsIndicator(panel, &cursor, bar, &style, vehicle, f->stack, f->ui, &app->preferences);
    barIconButton(f, &cursor, AssetWhiteMarker, FlyPanelWaypoints, FlyPanelWaypoints, FlyPanelWaypoints,
                  WidgetId{318, "Screens/FlyScreen"});
    barIconButton(f, &cursor, 18 /* transects.png */, FlyPanelTransect, FlyPanelTransect, FlyPanelTransectSettings,
                  WidgetId{330, "Screens/FlyScreen"});
    barIconButton(f, &cursor, AssetFolder, FlyPanelFolder, FlyPanelFolder, FlyPanelOverlays,
                  WidgetId{342, "Screens/FlyScreen"});
    if (app->preferences.developerMode) {
        barIconButton(f, &cursor, AssetPencil, FlyPanelDrawFirst, FlyPanelDrawFirst, FlyPanelDrawLast,
                      WidgetId{356, "Screens/FlyScreen"});
    }
    drawSensorHealthIndicator(panel, &cursor, bar, &style, vehicle, f->ui, f->stack, f->now);
    drawFlightLogStatus(f, cursor);
}

FlyAltitudes flyScreenAltitudes(const VehicleState* vehicle, const ElevationMapLoader* elevation,
                                const Preferences* preferences) {
    FlyAltitudes out{kUnknownGround, kUnknownGround, NAN, NAN, NAN};
    const StoredPosition* reference = vehicle->secondPosition.time != 0 ? &vehicle->secondPosition
                                      : vehicle->home.time != 0         ? &vehicle->home
                                                                        : nullptr;
    if (reference) {
        GeoPoint at{reference->longitude + vehicle->longitudeOffset, reference->latitude + vehicle->latitudeOffset};
        out.homeGroundHeight = getElevation(elevation, at, kUnknownGround);
    }
    bool position = vehicle->globalPosition.time != 0;
    if (position) {
        GeoPoint at{vehicle->globalPosition.longitude + vehicle->longitudeOffset,
                    vehicle->globalPosition.latitude + vehicle->latitudeOffset};
        out.groundUnderDrone = getElevation(elevation, at, kUnknownGround);
    }
    f64 relative = vehicle->globalPosition.relativeAltitude + vehicle->altitudeOffset;
    bool homeKnown = out.homeGroundHeight != kUnknownGround;
    bool groundKnown = out.groundUnderDrone != kUnknownGround;
    if (position && homeKnown && groundKnown) out.aboveGround = (f32)(out.homeGroundHeight + relative - out.groundUnderDrone);
    if (position && homeKnown) out.mslFromElevation = (f32)(out.homeGroundHeight + relative);
    if (position) out.mslFromTakeoff = (f32)(relative + preferences->inputtedTakeoffElevation);
    return out;
}

void writeFlyDiagnosticsText(ByteWriter* w, const FixedString* linkProblem, const VehicleState* vehicle, u64 now,
                             i64 nowUtcMs, i64 zoneOffsetMs, u64 foreignPackets) {
    i64 start = w->length;
    if (linkProblem && linkProblem->length) {
        appendFixedStringRef(linkProblem, w);
        appendCString("\n", w);
    }
    u64 faults = vehicle->sensorsPresent & vehicle->sensorsEnabled & ~vehicle->sensorsHealthy;
    i32 written = 0;
    for (i32 i = 0; i < 64; i++) {
        if (!((faults >> i) & 1)) continue;
        if (written++) appendCString(", ", w);
        const char* name = sysStatusSensorName(i);
        if (name) {
            appendCString(name, w);
        } else {
            FixedString text = formatInt("Sensor Bit @ Error", i);
            appendFixedStringRef(&text, w);
        }
    }
    if (written) appendCString("\n", w);
    u32 count = vehicle->statusTextCount < (u32)kStatusTextEntries ? vehicle->statusTextCount : (u32)kStatusTextEntries;
    for (u32 k = 0; k < count && k < 2; k++) {
        const StatusTextEntry* entry = &vehicle->statusTexts[(u8)(vehicle->statusTextNewest - k)];
        i64 ageMs = ((i64)entry->time - (i64)now) / 1000;
        DateTimeParts parts = calendarFromMilliseconds(nowUtcMs + zoneOffsetMs + ageMs);
        FixedString hour = formatInt("@", parts.hour);
        appendFixedStringRef(&hour, w);
        appendCString(":", w);
        appendCString(parts.minuteText, w);
        appendCString(":", w);
        appendCString(parts.secondText, w);
        appendCString("   ", w);
        appendCString(entry->text, w);
        appendCString("\n", w);
    }
    if (foreignPackets) {
        FixedString dropped = formatInt("@ packets from unknown senders ignored\n", (i64)foreignPackets);
        appendFixedStringRef(&dropped, w);
    }
    if (w->length == start && !w->overflow) appendCString("No errors or diagnostic messages", w);
}

void drawFlyDiagnosticsPanel(FlyScreenFrame* f) {
    const AppState* app = f->app;
    i64 utc = app->clocks.utcMilliseconds ? app->clocks.utcMilliseconds() : currentTimeMilliseconds();
    u8 bytes[kFlyDiagnosticsBytes];
    ByteWriter text = makeByteWriter(bytes, kFlyDiagnosticsBytes);
    FixedString linkProblem = linkPortProblem(&app->droneConnection);
    writeFlyDiagnosticsText(&text, &linkProblem, &app->droneConnection.vehicle, f->now, utc, getTimeZoneOffsetMs(),
                            app->droneConnection.foreignPackets);
    const UiMetrics* m = f->metrics;
    Rect area{f->content.x0 + m->rowHeight, f->content.x1 - m->margin, f->content.y0 + m->rowHeight,
              f->barBottom - 2 * m->rowHeight};
    addRoundedRect(Rect{area.x0, area.x1, area.y1 - 6 * m->rowHeight, area.y1}, kPanelDepth - 0.002f, f->window, 0,
                   m->margin, 0xC0000000, 0xC0000000, &f->ui->batches.coloredRect, f->ui->halfWidth, f->ui->halfHeight);
    drawTextCheckedAlt(f->ui, TextSlice{bytes, text.length}, AnchorTopLeft, kPanelDepth,
                       Rect{area.x0 + m->margin, area.x1 - m->margin, area.y0, area.y1 - m->margin}, panelTextStyle(f));
}

void drawFlyTopBarBackground(FlyScreenFrame* f) {
    AppState* app = f->app;
    UiState* ui = f->ui;
    Rect background{f->window.x0, f->window.x1, std::floor(f->topBar.y0), f->window.y1};
    addRoundedRect(background, kTopBarBackgroundDepth, f->window, 0, 0, kHudBackground, kHudBackground,
                   &ui->batches.coloredRect, ui->halfWidth, ui->halfHeight);
    WidgetId id{1631, "Screens/FlyScreen"};
    rectHitTest(&background, 1, f->stack, &id);

    FlyAltitudes altitudes = flyScreenAltitudes(&app->droneConnection.vehicle, &app->elevationMapLoader, &app->preferences);
    f->homeGroundHeight = altitudes.homeGroundHeight;
    const UiMetrics* m = f->metrics;
    Rect textArea{f->content.x0, f->content.x1 - m->margin, f->barBottom - 2 * m->textHeight, f->barBottom};
    drawTelemetryText(textArea, kHudBackground, &app->preferences, &app->droneConnection, f->platform, f->stack, ui,
                      f->window, f->now, altitudes.aboveGround, altitudes.mslFromElevation, altitudes.mslFromTakeoff);
}

void drawFlyScreenPanels(FlyScreenFrame* f) {
    FlyScreenState* s = f->state;
    AppState* app = f->app;
    f->panelUsedHeight = f->window.y1 - f->barBottom + 2 * f->metrics->textHeight;

    // ---- Plan toolbars: the geofence toolbar (openPanel 1) goes here. -----------------------------
    drawFlyGeofenceToolbar(f);

    // The payload panels: the Orvik panels (2-6), the strobe-light panel (16) and the VOSK panels (8-14).
    PayloadPanelFrame payload{f->ui, f->stack, app, &s->openPanel, &s->editFieldId, &s->editText, &f->buttonStyle,
                              f->now};
    f->panelUsedHeight = drawFlyScreenPayloadPanels(&payload, f->panelUsedHeight);

    drawFlightActionButtons(&s->openPanel, &f->panelUsedHeight, f->content, f->metrics->rowHeight, &f->buttonStyle,
                            &app->droneConnection, f->stack, f->ui);

    // ---- Plan toolbars and camera row: the camera sensor row (17), the waypoint panel (22-24), the
    //      transect panel (25-26), the folder menu (27) and the drawing-tools toolbar (every frame) go
    //      here, in that order. --------------------------------------------------------------------
    drawFlyPlanToolbars(f);
    drawFlyNotices(f);

    if (s->openPanel == FlyPanelDiagnostics) drawFlyDiagnosticsPanel(f);
    drawFlyTopBarBackground(f);
    // ---- The camera HUD (drawn while openPanel is 17, placed below the bar's bottom edge) goes here.
    f->panelUsedHeight += drawCameraHud(f->content.x0 + f->metrics->margin, f->window.y1 - f->panelUsedHeight,
                                        f->metrics->textHeight, &app->preferences, &s->openPanel,
                                        &app->droneConnection, f->ui, f->stack);

    if (s->openPanel == FlyPanelSideView) {
        const UiMetrics* m = f->metrics;
        Rect area{f->window.x0 + (f32)f->platform->screenInsetLeft + m->rowHeight,
                  f->window.x1 - (f32)f->platform->screenInsetRight - m->margin, f->content.y0 + m->rowHeight,
                  f->barBottom - 2 * m->textHeight};
        waypointMissionSideView(&s->sideViewMapView, area, m->textHeight, &app->elevationMapLoader,
                                &app->waypointMissionEditor, &app->droneConnection.vehicle, f->ui, f->stack,
                                &app->preferences, s->previousPanel != FlyPanelSideView ? 1 : 0);
    }

    // ---- Side panels: the transect settings (26), the mission settings and statistics (24), the
    //      mission files dialog (28), the KMZ export panel (35), the exported KMZ list (34), the
    //      overlays panel (29) and the camera settings panel (18) go here, in that order. ------------
    drawFlySidePanels(f);
}
