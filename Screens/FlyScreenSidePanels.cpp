// The fly screen's side panels: the transect settings and the mission settings with the mission's
// statistics, which write the preferences straight away (the snap altitudes through their setters,
// which carry the waypoints along), and the hand-over to the panels other units draw.
#include <cmath>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/MathEarth.h"
#include "Drone/FlightController/Parameters.h"
#include "Mission/MissionAltitudes.h"
#include "Mission/MissionPath.h"
#include "Overlays/OverlaysPanel.h"
#include "Platform/Platform.h"
#include "Screens/FlyScreenInternal.h"
#include "Screens/FlyScreenSharedUiViewLog.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/TextEdit.h"

namespace {

constexpr f64 kFeetPerMetre = 3.280839895;
const char* const kPanelsFile = "Screens/FlyScreenSidePanels";

// The scroll views of the panels.
enum FlyScrollView : i32 {
    ScrollMissionSettings = 0,
    ScrollTransectSettings = 1,
    ScrollMissionFiles = 2,
    ScrollKmzLists = 3,
    ScrollOverlays = 5,
    ScrollCameraSettings = 6,
};

struct PanelContext {
    FlyScreenFrame* f;
    MapView* view;
    Preferences* preferences;
};

void closeOpenRow(MapView* view) { view->openRowId = WidgetId{}; }

// A number row: shows the value text, and while it is edited the hint. Returns 1 when an entry that
// is not empty was committed (the text is then in the frame's edit text).
u32 numberRow(PanelContext* c, const char* titleText, const FixedString& value, const FixedString& hint,
              const char* note, u64 line) {
    FlyScreenState* s = c->f->state;
    FixedString title = makeString(titleText);
    FixedString noteText = note ? makeString(note) : FixedString{};
    WidgetId id{line, kPanelsFile};
    TextFieldRowResult r = textFieldBody(&title, &value, &s->editText, &hint, &noteText, TextKeyboardNumpad, 0,
                                         c->f->stack, c->f->ui, &c->f->stack->runner.textFocus, c->view, &id);
    if (!r.submitted) return 0;
    closeOpenRow(c->view);
    return 2 | (s->editText.length > 0 ? 1u : 0u);
}

// A choice row over a u32 preference; a stored value outside the options shows "Unknown Value (@)".
void preferenceChoiceRow(PanelContext* c, const char* titleText, u32* preference, const FixedString* names, i32 count,
                         u64 line) {
    FixedString title = makeString(titleText);
    i32 current = *preference < (u32)count ? (i32)*preference : -1;
    FixedString fallback{};
    if (current < 0) fallback = formatInt("Unknown Value (@)", (i64)*preference);
    i32 selected = current;
    WidgetId id{line, kPanelsFile};
    ChoiceRowResult r = choiceRow(&title, &fallback, current, &selected, names, count, 0, c->f->stack, c->f->ui,
                                  c->view, &id);
    if (r.changed && selected >= 0 && selected < count) *preference = (u32)selected;
}

void lengthRow(PanelContext* c, const char* title, f64* metres, bool hintIsValue, const char* note, u64 line) {
    Preferences* p = c->preferences;
    FixedString value = formatLengthToTenth(*metres, p);
    FixedString hint = hintIsValue ? value : formatLengthToTenth(0, p);
    if (numberRow(c, title, value, hint, note, line) == 3) *metres = flyLengthEntry(&c->f->state->editText, p->units);
}

void speedRow(PanelContext* c, u64 line) {
    Preferences* p = c->preferences;
    FixedString value = speedString(p->waypointMissionCruiseSpeed, p);
    if (numberRow(c, "Cruise speed", value, speedString(0, p), nullptr, line) == 3) {
        p->waypointMissionCruiseSpeed = flySpeedEntry(&c->f->state->editText, p->units);
    }
}

// The snap-altitude rows by "Waypoint snap altitude mode"; a commit re-snaps the waypoints.
void snapAltitudeRows(PanelContext* c, u64 line) {
    AppState* app = c->f->app;
    Preferences* p = c->preferences;
    FlyScreenState* s = c->f->state;
    u32 mode = p->waypointSnapAltitudeMode;
    const char* note = "Double-check your mission in the side view after adjusting this";
    if (mode == SnapAboveGroundLevel || mode == SnapAboveGroundLevelAndTakeoffLocation) {
        FixedString value = formatLengthToTenth(p->waypointSnapAltitudeAboveGroundLevel, p);
        if (numberRow(c, "Snap altitude above ground level", value, formatLengthToTenth(0, p), note, line) == 3) {
            setWaypointSnapAltitudeAgl(flyLengthEntry(&s->editText, p->units), &app->waypointMissionEditor,
                                       &app->elevationMapLoader, p);
        }
    }
    if (mode == SnapAboveTakeoffLocation || mode == SnapAboveGroundLevelAndTakeoffLocation) {
        FixedString value = formatLengthToTenth(p->waypointSnapAltitudeAboveTakeoffLocation, p);
        if (numberRow(c, "Snap altitude above takeoff location", value, formatLengthToTenth(0, p), note,
                      line + 1) == 3) {
            setWaypointSnapAltitudeAboveTakeoff(flyLengthEntry(&s->editText, p->units), &app->waypointMissionEditor,
                                                &app->elevationMapLoader, p);
        }
    }
}

// "Drone Heading" over the PX4 yaw-mode parameter: the options are its values 0 to 4 in order.
void droneHeadingRow(PanelContext* c, u64 line) {
    FlyScreenFrame* f = c->f;
    i32 index = px4ParameterSlotByName("MPC_YAW_MODE");
    if (index < 0) return;
    ParameterSlot* slot = &f->app->droneConnection.px4.parameters[index];
    slot->viewedTime = f->now;
    static const i32 kValues[5] = {0, 1, 2, 3, 4};
    i32 value = parameterInt(slot->value);
    i32 current = -1;
    for (i32 i = 0; i < 5; i++) {
        if (slot->received && kValues[i] == value) current = i;
    }
    // The row shows the chosen option's name; this text only when there is none to show.
    FixedString fallback{};
    if (!slot->received) {
        fallback = makeString("Unknown");
    } else if (current < 0) {
        fallback = formatInt("Unrecognized Value: @", value);
    }
    FixedString title = makeString("Drone Heading");
    i32 selected = current;
    WidgetId id{line, kPanelsFile};
    ChoiceRowResult r = choiceRow(&title, &fallback, current, &selected, f->state->headingModeNames, 5, 0, f->stack,
                                  f->ui, c->view, &id);
    if (r.changed && selected >= 0 && selected < 5) editParameter(slot, parameterBytesFromInt(kValues[selected]), f->now);
}

void drawTransectSettings(PanelContext* c) {
    FlyScreenFrame* f = c->f;
    Preferences* p = c->preferences;
    FixedString heading = formatIntCp("@@", (i64)p->transectZigZagHeading, 0xB0);
    if (numberRow(c, "Zigzag heading", heading, heading, nullptr, 1001) == 3) {
        p->transectZigZagHeading = parseDoubleOr(f->state->editText, 0.0);
    }
    lengthRow(c, "Transect Spacing", &p->transectSpacing, true, nullptr, 1002);
    lengthRow(c, "Overshoot Distance", &p->transectOvershootDistance, true, nullptr, 1003);
    const TransectRegion* region = &f->app->transectRegion;
    f64 area = region->pointCount >= 3 ? computeRegionArea(region->points, region->pointCount) : 0.0;
    FixedString areaTitle = makeString("Area");
    FixedString areaText = flyAreaText(area, p->units);
    infoRow(&areaTitle, &areaText, 0, f->ui, c->view);
    preferenceChoiceRow(c, "Usage", &p->transectUsage, f->state->transectUsageNames, p->developerMode ? 3 : 2, 1004);
    if (p->transectUsage == TransectMapping) {
        speedRow(c, 1005);
        preferenceChoiceRow(c, "Snap altitude mode", &p->waypointSnapAltitudeMode, f->state->altitudeModeNames, 3,
                            1006);
        snapAltitudeRows(c, 1007);
    }
}

void drawMissionSettings(PanelContext* c) {
    FlyScreenFrame* f = c->f;
    AppState* app = f->app;
    Preferences* p = c->preferences;
    MissionStats stats{};
    calculateMissionStats(&stats, &app->waypointMissionEditor, &app->droneConnection.vehicle, p);
    FixedString title = makeString("Estimated mission duration");
    FixedString text = flyMissionDurationText(stats.durationS, p->waypointMissionCruiseSpeed);
    infoRow(&title, &text, 0, f->ui, c->view);
    title = makeString("Estimated number of ignition spheres required");
    text = formatInt("@ spheres", stats.spheres);
    infoRow(&title, &text, 0, f->ui, c->view);
    title = makeString("Average Ignition Spacing");
    text = formatLengthToTenth(stats.averageSpacingM, p);
    infoRow(&title, &text, 0, f->ui, c->view);

    FixedString period = flyDurationText(p->orvikMaxDropPeriod);
    FixedString note = formatStr(
        "Orvik will drop one sphere every @ at its slowest rate. Increase cruise speed to allow for larger drop spacing.",
        period);
    FixedString spacing = formatLengthToTenth(p->orvikDropSpacing, p);
    FixedString spacingTitle = makeString("Desired Ignition Spacing");
    FixedString zeroLength = formatLengthToTenth(0, p);
    WidgetId spacingId{2001, kPanelsFile};
    TextFieldRowResult r = textFieldBody(&spacingTitle, &spacing, &f->state->editText, &zeroLength, &note,
                                         TextKeyboardNumpad, 0, f->stack, f->ui, &f->stack->runner.textFocus, c->view,
                                         &spacingId);
    if (r.submitted) {
        closeOpenRow(c->view);
        if (f->state->editText.length) p->orvikDropSpacing = flyLengthEntry(&f->state->editText, p->units);
    }
    if (!r.expanded) {
        // The description stays in view while the row is closed too.
        FixedString empty{};
        infoRow(&empty, &note, 0, f->ui, c->view);
    }
    speedRow(c, 2002);
    preferenceChoiceRow(c, "Snap altitude mode", &p->waypointSnapAltitudeMode, f->state->altitudeModeNames, 3, 2003);
    snapAltitudeRows(c, 2004);
    lengthRow(c, "Curve range", &p->waypointCurveRange, false,
              "The distance from the waypoint at which the drone will start cutting the corner towards the next "
              "segment",
              2006);
    preferenceChoiceRow(c, "Vertical flight path to first waypoint", &p->verticalFlightPathToFirstWaypoint,
                        f->state->pathModeNames, 2, 2007);
    if (app->droneConnection.vehicle.autopilotKind == AutopilotPx4) droneHeadingRow(c, 2008);
    FixedString limit = formatInt("@ waypoints", p->maxWaypointsToUpload);
    if (numberRow(c, "Max number of waypoints to upload", limit, limit,
                  "Use this if you've planned a long mission, and only want to do the first part of it", 2009)) {
        p->maxWaypointsToUpload = flyUploadLimitEntry(&f->state->editText);
    }
}

}  // namespace

f64 flyLengthEntry(const FixedString* text, u32 units) {
    f64 value = parseDoubleOr(*text, 0.0);
    return units >= UnitsImperialFps ? value / kFeetPerMetre : value;
}

f64 flySpeedEntry(const FixedString* text, u32 units) {
    f64 value = parseDoubleOr(*text, 0.0);
    switch (units) {
        case UnitsMetricKmh: value /= 3.6; break;
        case UnitsImperialFps: value /= kFeetPerMetre; break;
        case UnitsImperialMph: value /= 2.23694; break;
        case UnitsNauticalKn: value /= 1.94384; break;
        default: break;
    }
    // A text that is no number (NaN) and a negative speed both store 0.
    return value > 0 ? value : 0.0;
}

u16 flyUploadLimitEntry(const FixedString* text) {
    if (text->length == 0) return 65535;
    i64 value = parseIntOr(*text, 0);
    return (u16)(value < 1 ? 1 : value > 65535 ? 65535 : value);
}

FixedString flyAreaText(f64 squareMetres, u32 units) {
    bool metric = units <= UnitsMetricKmh;
    f64 tenths = std::round(squareMetres / (metric ? 1000.0 : 404.686));  // std::round: half away from zero
    if (!std::isfinite(tenths)) tenths = 0;
    return formatFixed(metric ? "@ Hectares" : "@ Acres", (i64)tenths, 1);
}

FixedString flyDurationText(f64 seconds) {
    f64 microseconds = seconds * 1000000.0;
    // A duration past what microseconds hold (a cruise speed of 0 makes it infinite) is not known.
    if (!(std::fabs(microseconds) < 9.2e18)) return makeString("---");
    return durationString((i64)microseconds);
}

FixedString flyMissionDurationText(f64 durationS, f64 cruiseSpeed) {
    // Without a cruise speed the level legs never end: the duration is not known.
    if (!(cruiseSpeed > 0) || !std::isfinite(cruiseSpeed)) return makeString("---");
    return flyDurationText(durationS);
}

Rect flySidePanelRect(const FlyScreenFrame* f) {
    const UiMetrics* m = f->metrics;
    f32 width = 26 * m->textHeight;
    f32 available = f->content.x1 - f->content.x0 - 2 * m->margin;
    if (width > available) width = available;
    f32 top = f->window.y1 - f->panelUsedHeight - m->margin;
    return Rect{f->content.x0 + m->margin, f->content.x0 + m->margin + width, f->content.y0 + m->margin, top};
}

void drawFlySidePanels(FlyScreenFrame* f) {
    FlyScreenState* s = f->state;
    AppState* app = f->app;
    u32 panel = s->openPanel;
    Rect rect = flySidePanelRect(f);
    if (rect.y1 <= rect.y0) return;
    if (panel == FlyPanelTransectSettings || panel == FlyPanelMissionSettings) {
        MapView* view = &s->scrollViews[panel == FlyPanelTransectSettings ? ScrollTransectSettings : ScrollMissionSettings];
        PanelContext c{f, view, &app->preferences};
        beginMapView(&rect, f->platform, f->ui, view);
        if (panel == FlyPanelTransectSettings) {
            drawTransectSettings(&c);
        } else {
            drawMissionSettings(&c);
        }
        endMapView(f->stack, f->ui, view);
    }
    const UiMetrics* m = f->metrics;
    if (panel == FlyPanelMissionFiles) {
        MissionPlanView plan = editedMissionPlan(&app->waypointMissionEditor, &app->transectRegion, &app->orvikGeofence);
        drawMissionFilesDialog(m->buttonTextHeight, m->margin, m->buttonHeight, f->platform, f->stack, f->ui,
                               &f->stack->runner.textFocus, &app->preferences, &plan, &app->missionList,
                               &s->scrollViews[ScrollMissionFiles], &s->selectedIndex, &s->editText, rect,
                               &app->pendingLoads.missionRead);
    }
    if (panel == FlyPanelKmzExport) {
        kmzExportPanel(rect, &app->kmzEditor, &s->kmzExportPanel, &app->kmzExport, &app->exportedKmzList,
                       &s->scrollViews[ScrollKmzLists], &f->platform->fileJobs, f->platform, f->ui, f->stack,
                       &f->stack->runner.textFocus);
    }
    if (panel == FlyPanelExportedKmzList) {
        // A KMZ being read into the editor shows how far it is above the files.
        Rect list = rect;
        if (kmzImportBusy(&app->kmzImport)) {
            Rect line{rect.x0, rect.x1, rect.y1 - m->buttonHeight, rect.y1};
            FixedString parsing = formatInt("Parsing @%", __atomic_load_n(&app->kmzImport.percent, __ATOMIC_RELAXED));
            TextStyle text{kTextWhite, 0xFF000000, kSelectionOrange, m->textHeight, 0.1f, 0};
            drawTextAt(f->ui, parsing, AnchorLeftCentre, Vec2F32{line.x0 + m->margin, (line.y0 + line.y1) / 2}, 0.75f,
                       rect, text);
            list.y1 = line.y0;
        }
        drawExportedKmzList(list, &app->exportedKmzList, &s->scrollViews[ScrollKmzLists], &app->pendingLoads.kmzRead,
                            &app->pendingLoads.kmzImportMode, &app->pendingLoads.kmzImportName,
                            &f->platform->fileReads, f->platform, f->ui, f->stack);
    }
    if (panel == FlyPanelOverlays) {
        OverlaySelection selection = overlaySelectionOf(&app->preferences);
        drawOverlaysPanel(f->platform, f->stack, f->ui, &selection, &app->overlayList, &app->elevationMapLoader.status,
                          &s->scrollViews[ScrollOverlays], &rect);
    }
    if (panel == FlyPanelCameraSettings) {
        drawCameraSettingsPanel(rect, f->platform, f->stack, f->ui, &s->scrollViews[ScrollCameraSettings],
                                &app->preferences, &app->droneConnection.protocolCamera, &app->droneConnection.payload,
                                &s->editText, &s->cameraStepperIndex, f->now);
    }
}
