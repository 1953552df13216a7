// The fly screen's plan toolbars: one row under the top bar (and the rows above it in the panel
// step) for the geofence, the waypoint mission with its side-view and settings states, the transect
// region, the folder menu and the camera's sensor buttons. A press changes openPanel, runs an
// undoable plan edit or raises a request that the drone link or the camera control consumes.
#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Undo.h"
#include "Mission/MissionPath.h"
#include "Mission/PlanPolygons.h"
#include "Mission/TransectGenerator.h"
#include "Mission/WaypointUndo.h"
#include "Screens/FlyScreenInternal.h"
#include "Screens/FlyScreenSharedUiViewLog.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/Rows.h"

namespace {

constexpr f32 kLabelDepth = 0.92f;
constexpr f32 kOutlineDepth = 0.91f;
constexpr f32 kToolbarButtonDepth = 0.915f;
constexpr Color kRefusalBackground = 0xC02020A0;  // dark red
const char* const kToolbarFile = "Screens/FlyScreenToolbars";

struct Toolbar {
    LayoutCells layout;
    Rect row;
    i32 cells;
};

// The row under whatever the panel step has placed below the top bar so far: a margin, then cells of
// the given width with equal flexible gaps between them (the cell i is layout.cells[1 + 2 i]).
Toolbar beginToolbar(FlyScreenFrame* f, i32 cells, f32 cellWidth, f32 firstCellWidth = 0) {
    const UiMetrics* m = f->metrics;
    f32 barHeight = m->buttonHeight;
    f32 top = f->window.y1 - f->panelUsedHeight;
    Toolbar t{};
    t.row = Rect{f->content.x0, f->content.x1, top - barHeight, top};
    t.cells = cells;
    f32 sizes[kMaxLayoutCells] = {};
    sizes[0] = m->margin;
    for (i32 i = 0; i < cells; i++) {
        sizes[1 + 2 * i] = i == 0 && firstCellWidth > 0 ? firstCellWidth : cellWidth;
        sizes[2 + 2 * i] = -1;
    }
    t.layout = splitLayout(LayoutAlongX, sizes, 1 + 2 * cells, 0, &t.row);
    addRoundedRect(t.row, kPanelDepth - 0.002f, f->window, 0, 0, kHudBackground, kHudBackground,
                   &f->ui->batches.coloredRect, f->ui->halfWidth, f->ui->halfHeight);
    f->panelUsedHeight += barHeight;
    return t;
}

// After its buttons (which claim their presses first): the rest of the row keeps presses off the map.
void endToolbar(FlyScreenFrame* f, const Toolbar* t) {
    WidgetId id{1, kToolbarFile};
    rectHitTest(&t->row, 1, f->stack, &id);
}

Rect toolbarCell(const Toolbar* t, i32 index) { return t->layout.cells[1 + 2 * index]; }

TextStyle toolbarTextStyle(const FlyScreenFrame* f) {
    return TextStyle{kTextWhite, kNoOutline, kSelectionOrange, f->metrics->textHeight, 0, 0};
}

void toolbarTitle(FlyScreenFrame* f, const Toolbar* t, i32 index, const char* title) {
    Rect cell = toolbarCell(t, index);
    drawTextAt(f->ui, makeString(title), AnchorLeftCentre, Vec2F32{cell.x0, (cell.y0 + cell.y1) / 2}, kLabelDepth,
               f->window, toolbarTextStyle(f));
}

// The toolbar button: its label, the white outline while it is enabled, then a label-less button over
// the cell that takes presses whether or not it is outlined. True on the frame it was clicked.
bool toolbarButton(FlyScreenFrame* f, const Toolbar* t, i32 index, const FixedString& label, bool enabled, u64 line) {
    Rect cell = toolbarCell(t, index);
    f32 textSize = f->metrics->textHeight;
    drawTextAt(f->ui, label, AnchorCentre, Vec2F32{(cell.x0 + cell.x1) / 2, (cell.y0 + cell.y1) / 2}, kLabelDepth,
               f->window, toolbarTextStyle(f));
    if (enabled) {
        f32 inset = 0.05f * textSize;
        Rect outline{cell.x0 + inset, cell.x1 - inset, cell.y0 + inset, cell.y1 - inset};
        addRoundedRect(outline, kOutlineDepth, f->window, f->buttonStyle.textPadding * 0.5f, 0.2f * textSize,
                       0x00FFFFFF, 0xFFFFFFFF, &f->ui->batches.coloredRect, f->ui->halfWidth, f->ui->halfHeight);
    }
    ButtonStyle style = f->buttonStyle;
    style.fill = 0x00000000;
    style.pressedFill = 0x40FFFFFF;
    WidgetId id{line, kToolbarFile};
    return button(FixedString{}, &cell, &f->window, kToolbarButtonDepth, &style, f->ui, f->stack, &id).clicked != 0;
}

void undoButton(FlyScreenFrame* f, const Toolbar* t, i32 index, UndoHistory* history, u64 line) {
    const char* label = undoLabel(history);
    FixedString text = label ? formatCstr("Undo @", label) : makeString("Undo");
    if (toolbarButton(f, t, index, text, label != nullptr, line) && label) undoLastAction(history);
}

void redoButton(FlyScreenFrame* f, const Toolbar* t, i32 index, UndoHistory* history, u64 line) {
    const char* label = redoLabel(history);
    FixedString text = label ? formatCstr("Redo @", label) : makeString("Redo");
    if (toolbarButton(f, t, index, text, label != nullptr, line) && label) redoLastAction(history);
}

// "Clear": the object's clear edit with its own undo ring as inverse target; once it is applied the
// redo ring is emptied, so the clear can be undone but older steps are not redone over it.
void clearButton(FlyScreenFrame* f, const Toolbar* t, i32 index, void* object, UndoHistory* history, UndoAction clear,
                 bool enabled, u64 line) {
    if (!toolbarButton(f, t, index, makeString("Clear"), enabled, line)) return;
    UndoActionResult result = clear(object, nullptr, 0, &history->undo);
    if (result.ok) clearUndoRing(&history->redo);
}

void drawWaypointToolbar(FlyScreenFrame* f) {
    FlyScreenState* s = f->state;
    AppState* app = f->app;
    WaypointMissionEditor* editor = &app->waypointMissionEditor;
    VehicleState* vehicle = &app->droneConnection.vehicle;
    f32 barHeight = f->metrics->buttonHeight;
    u32 state = s->openPanel;
    Toolbar t = beginToolbar(f, 7, 1.4f * barHeight, 4 * f->metrics->textHeight);
    toolbarTitle(f, &t, 0, "Waypoints");
    if (state == FlyPanelWaypoints) {
        if (toolbarButton(f, &t, 1, makeString("Side\nView"), true, 101)) s->openPanel = FlyPanelSideView;
    } else if (state == FlyPanelSideView) {
        if (toolbarButton(f, &t, 1, makeString("Back"), true, 102)) s->openPanel = FlyPanelWaypoints;
    } else {
        if (toolbarButton(f, &t, 1, makeString("Back"), true, 103)) s->openPanel = FlyPanelSideView;
    }
    if (state == FlyPanelWaypoints) {
        clearButton(f, &t, 2, editor, &editor->history, clearWaypointsAction, editor->waypointCount > 0, 104);
    } else if (state == FlyPanelSideView) {
        if (toolbarButton(f, &t, 2, makeString("Settings"), true, 105)) s->openPanel = FlyPanelMissionSettings;
    }
    if (state != FlyPanelMissionSettings) {
        undoButton(f, &t, 3, &editor->history, 106);
        redoButton(f, &t, 4, &editor->history, 107);
    }
    if (toolbarButton(f, &t, 5, makeString("Stop"), true, 108)) vehicle->stopRequest = 1;
    if (state != FlyPanelWaypoints && toolbarButton(f, &t, 6, makeString("Start"), true, 109)) {
        if (isWaypointMissionSafe(editor, &app->elevationMapLoader, &app->preferences, vehicle)) {
            vehicle->uploadRequest = 1;
        } else {
            // Nothing is sent: the side view shows the first low spot for the operator to look at
            // and acknowledge.
            const LowSpot* spot = &editor->lowSpot;
            setMapCenterAndZoom(&s->sideViewMapView, spot->distanceBefore + spot->stepLength, spot->altitude,
                                0.5 * f->metrics->textHeight);
            s->openPanel = FlyPanelSideView;
            // The side view keeps this centre: it is not opened anew this frame.
            s->previousPanel = FlyPanelSideView;
        }
    }
    endToolbar(f, &t);
}

void drawTransectToolbar(FlyScreenFrame* f) {
    FlyScreenState* s = f->state;
    AppState* app = f->app;
    TransectRegion* region = &app->transectRegion;
    Toolbar t = beginToolbar(f, 6, 1.8f * f->metrics->buttonHeight);
    toolbarTitle(f, &t, 0, "Transect Region");
    if (s->openPanel == FlyPanelTransect) {
        if (toolbarButton(f, &t, 1, makeString("Settings"), true, 201)) s->openPanel = FlyPanelTransectSettings;
    } else {
        if (toolbarButton(f, &t, 1, makeString("Back"), true, 202)) s->openPanel = FlyPanelTransect;
    }
    // A transition takes effect for the cells that follow in the same frame.
    if (s->openPanel == FlyPanelTransect) {
        undoButton(f, &t, 2, &region->history, 203);
        redoButton(f, &t, 3, &region->history, 204);
        clearButton(f, &t, 4, region, &region->history, clearTransectRegionAction, region->pointCount > 0, 205);
    }
    if (toolbarButton(f, &t, 5, makeString("Generate Waypoints"), region->pointCount >= 2, 206)) {
        generateWaypointsFromTransects(&app->waypointMissionEditor, region, &app->elevationMapLoader,
                                       &app->droneConnection.vehicle, &app->preferences);
        s->transectGenerateTime = f->now;
    }
    endToolbar(f, &t);
}

void drawFolderMenu(FlyScreenFrame* f) {
    FlyScreenState* s = f->state;
    Toolbar t = beginToolbar(f, 2, 1.8f * f->metrics->buttonHeight);
    if (toolbarButton(f, &t, 0, makeString("Overlays"), true, 301)) s->openPanel = FlyPanelOverlays;
    if (toolbarButton(f, &t, 1, makeString("Missions"), true, 302)) s->openPanel = FlyPanelMissionFiles;
    endToolbar(f, &t);
}

void drawCameraSensorRow(FlyScreenFrame* f) {
    FlyScreenState* s = f->state;
    DroneConnection* connection = &f->app->droneConnection;
    u32 kind = connection->cameraKind;
    if (kind != CameraNextVision && kind != CameraGimbal) return;
    Toolbar t = beginToolbar(f, 3, 1.4f * f->metrics->buttonHeight);
    if (kind == CameraNextVision) {
        u32* requests = connection->nextVision.requests;
        if (toolbarButton(f, &t, 0, makeString("Visible"), true, 401)) requests[NextVisionRequestSensor0] = 1;
        if (toolbarButton(f, &t, 1, makeString("IR"), true, 402)) requests[NextVisionRequestSensor1] = 1;
        if (toolbarButton(f, &t, 2, makeString("NUC"), true, 403)) requests[NextVisionRequestCode11] = 1;
    } else {
        u32* requests = connection->workswellCamera.requests;
        if (toolbarButton(f, &t, 0, makeString("Visible"), true, 404)) requests[WorkswellRequestVisible] = 1;
        if (toolbarButton(f, &t, 1, makeString("IR"), true, 405)) requests[WorkswellRequestInfrared] = 1;
        if (toolbarButton(f, &t, 2, makeString("Config"), true, 406)) {
            s->mapMinimized = 1;
            s->openPanel = FlyPanelKeyPad;
        }
    }
    endToolbar(f, &t);
}

bool within(u64 time, u64 now, u64 hold) { return time != 0 && now >= time && now - time < hold; }

// One notice line on the bars' background, right-aligned under the rows placed so far and the lines
// before it (*below, from the window's top). It takes no room from the panels, so that nothing under
// it moves when a notice comes or goes.
void noticeLine(FlyScreenFrame* f, const FixedString& text, Color background, f32* below) {
    const UiMetrics* m = f->metrics;
    f32 height = m->textHeight + 2 * m->margin;
    f32 top = f->window.y1 - *below;
    f32 x = f->content.x1 - m->margin;
    TextLayoutResult drawn = drawTextAt(f->ui, text, AnchorRightCentre, Vec2F32{x - m->margin, top - height / 2},
                                        kLabelDepth, f->window, toolbarTextStyle(f));
    Rect box{drawn.bounds.x0 - m->margin, x, top - height, top};
    addRoundedRect(box, kPanelDepth - 0.002f, f->window, 0, m->margin, background, background,
                   &f->ui->batches.coloredRect, f->ui->halfWidth, f->ui->halfHeight);
    *below += height;
}

}  // namespace

void drawFlyNotices(FlyScreenFrame* f) {
    const FlyScreenState* s = f->state;
    const VehicleState* vehicle = &f->app->droneConnection.vehicle;
    f32 below = f->panelUsedHeight + f->metrics->margin;
    bool waypointToolbar = s->openPanel >= FlyPanelWaypoints && s->openPanel <= FlyPanelMissionSettings;
    if (vehicle->missionStatusText.length &&
        (waypointToolbar || within(vehicle->missionStatusTime, f->now, kFlyNoticeTime))) {
        noticeLine(f, vehicle->missionStatusText, kHudBackground, &below);
    }
    if (vehicle->commandRefusalText.length && within(vehicle->commandRefusalTime, f->now, kFlyNoticeTime)) {
        noticeLine(f, vehicle->commandRefusalText, kRefusalBackground, &below);
    }
    const FixedString& generated = f->app->transectRegion.generateMessage;
    if (generated.length && within(s->transectGenerateTime, f->now, kFlyNoticeTime)) {
        noticeLine(f, generated, kHudBackground, &below);
    }
    if (f->flightLogStatusBelow) noticeLine(f, f->app->flightLogger.writeFailure, kRefusalBackground, &below);
}

void drawFlyGeofenceToolbar(FlyScreenFrame* f) {
    if (f->state->openPanel != FlyPanelGeofence) return;
    OrvikGeofence* geofence = &f->app->orvikGeofence;
    Toolbar t = beginToolbar(f, 4, 1.4f * f->metrics->buttonHeight);
    toolbarTitle(f, &t, 0, "Geofence");
    undoButton(f, &t, 1, &geofence->history, 11);
    redoButton(f, &t, 2, &geofence->history, 12);
    clearButton(f, &t, 3, geofence, &geofence->history, clearGeofenceAction, geofence->pointCount > 0, 13);
    endToolbar(f, &t);
}

void drawFlyPlanToolbars(FlyScreenFrame* f) {
    FlyScreenState* s = f->state;
    if (s->openPanel == FlyPanelCamera) drawCameraSensorRow(f);
    if (s->openPanel >= FlyPanelWaypoints && s->openPanel <= FlyPanelMissionSettings) drawWaypointToolbar(f);
    // Nothing is selected outside the waypoint toolbar.
    if (s->openPanel < FlyPanelWaypoints || s->openPanel > FlyPanelMissionSettings) {
        f->app->waypointMissionEditor.selectedWaypointId = 0;
    }
    if (s->openPanel == FlyPanelTransect || s->openPanel == FlyPanelTransectSettings) drawTransectToolbar(f);
    if (s->openPanel == FlyPanelFolder) drawFolderMenu(f);

    // The drawing tools' own toolbar, called every frame (it shows itself for 30 to 35), with its
    // picker row under it for 31 to 33.
    const UiMetrics* m = f->metrics;
    f32 top = f->window.y1 - f->panelUsedHeight;
    Rect row{f->content.x0, f->content.x1, top - m->buttonHeight, top};
    drawKmzEditorToolbar(&s->openPanel, row, &f->app->kmzEditor, m, f->ui, f->stack);
    if (s->openPanel >= KmzPanelNone && s->openPanel <= KmzPanelSave) f->panelUsedHeight += m->buttonHeight;
    if (s->openPanel >= KmzPanelDronePath && s->openPanel <= KmzPanelMarkerKind) {
        f->panelUsedHeight += m->buttonHeight + m->margin;
    }
}
