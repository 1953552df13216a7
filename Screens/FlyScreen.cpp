// The fly screen's frame: set-up, the emergency-release override, the map binding, the top bar,
// the panel step, the two view passes (mini view first), the map taps and Back.
#include "Screens/FlyScreen.h"

#include <cmath>

#include "AppState/AppState.h"
#include "Core/Profiler.h"
#include "Drone/ControllerBindings.h"
#include "Mission/PlanPolygons.h"
#include "Platform/Platform.h"
#include "Screens/ChildScreens.h"
#include "Screens/FlyScreenInternal.h"
#include "Screens/FlyScreenSharedUiViewLog.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "Video/VideoDecoder.h"

namespace {

void fillOptionLists(FlyScreenState* s) {
    s->pathModeNames[0] = makeString("Safe");
    s->pathModeNames[1] = makeString("Straight");
    const char* headings[5] = {"Toward next waypoint", "Toward next waypoint (Yaw first)", "Away from Home",
                               "Towards Home", "Along trajectory"};
    for (i32 i = 0; i < 5; i++) s->headingModeNames[i] = makeString(headings[i]);
    s->altitudeModeNames[0] = makeString("Above Ground Level");
    s->altitudeModeNames[1] = makeString("Above Takeoff Location");
    s->altitudeModeNames[2] = makeString("Above Ground Level & Above Takeoff Location");
    s->transectUsageNames[0] = makeString("Just Flying");
    s->transectUsageNames[1] = makeString("Ignition");
    s->transectUsageNames[2] = makeString("Mapping");
}

void setUp(FlyScreenState* s) {
    s->initialised = 1;
    s->mapView = makeMapView(WidgetId{64, "Screens/FlyScreen"}, MapViewModeMap);
    s->sideViewMapView = makeMapView(WidgetId{65, "Screens/FlyScreen"}, MapViewModeMap);
    for (i32 i = 0; i < kFlyScrollViews; i++) {
        s->scrollViews[i] = makeScrollView(WidgetId{(u64)(66 + i), "Screens/FlyScreen"});
    }
    s->selectedIndex = -1;
    s->editFieldId = WidgetId{75, "Screens/FlyScreen"};
    fillOptionLists(s);
}

// While an automatic emergency release counts down the prompt stays up; a raised alert brings the
// Orvik panel up by itself.
void applyPayloadOverrides(FlyScreenState* s, const OrvikPayloadState* orvik, u64 now) {
    if (orvik->autoReleaseDeadline > 0 && (u64)orvik->autoReleaseDeadline > now) {
        s->openPanel = FlyPanelOrvikEmergencyPrompt;
    } else if (s->openPanel == FlyPanelOrvikEmergencyPrompt) {
        s->openPanel = FlyPanelOrvikMain;
    }
    if (orvik->alertRaised && (s->openPanel < FlyPanelOrvikMain || s->openPanel > FlyPanelOrvikLast)) {
        s->openPanel = FlyPanelOrvikMain;
    }
}

void handleMapTaps(FlyScreenFrame* f, const MapTaps* taps) {
    FlyScreenState* s = f->state;
    AppState* app = f->app;
    u32 panel = s->openPanel;
    for (i32 i = 0; i < taps->count; i++) {
        if (f->tapInfoClosed && pointInRect(f->tapInfoBox, taps->screen[i].x, taps->screen[i].y)) continue;
        Vec2 point = taps->positions[i];
        point.x = wrapWorldX(point.x);
        if (panel == FlyPanelGeofence) {
            // The edit writes the geofence to the flight log and empties the redo ring itself; a full
            // geofence ignores the tap.
            addGeofencePoint(&app->orvikGeofence, point);
        } else if (panel == FlyPanelTransect) {
            addTransectPoint(&app->transectRegion, point);
        } else if (panel == FlyPanelWaypoints) {
            addTappedWaypoint(f, point);
        } else if (panel >= FlyPanelDrawFirst && panel <= FlyPanelDrawLast) {
            addKmzItemAtTap(f, point);
        } else if (i == 0) {
            s->showTapInfo = 1;
            s->tapInfoPosition = point;
        }
    }
}

}  // namespace

f64 wrapWorldX(f64 x) { return x - std::floor(x + 0.5); }

void flyScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
               void* scratch) {
    ProfilingScope scope("Fly Screen");
    FlyScreenState* s = (FlyScreenState*)scratch;
    if (!s->initialised) setUp(s);
    u64 now = stack->now;

    FlyScreenFrame frame{};
    frame.platform = platform;
    frame.stack = stack;
    frame.ui = ui;
    frame.app = app;
    frame.state = s;
    frame.metrics = &app->uiMetrics;
    frame.now = now;
    frame.window = ui->screenRect;
    frame.content = Rect{ui->screenRect.x0 + platform->screenInsetLeft, ui->screenRect.x1 - platform->screenInsetRight,
                         ui->screenRect.y0 + platform->screenInsetBottom, ui->screenRect.y1 - platform->screenInsetTop};
    f32 barTop = frame.window.y1 - (f32)platform->screenInsetTop;
    frame.topBar = Rect{frame.content.x0, frame.content.x1, barTop - frame.metrics->buttonHeight, barTop};
    frame.barBottom = frame.topBar.y0;
    const VideoDecoder* decoder = programVideoDecoder();
    ImageSlot* picture = decoder && decoder->imageSlotId ? getImageSlot(&ui->imageSlots, (i32)decoder->imageSlotId) : nullptr;
    frame.videoAvailable = picture && picture->width && picture->height ? 1 : 0;
    frame.videoImageSlot = frame.videoAvailable ? decoder->imageSlotId : 0;
    frame.buttonStyle = flyButtonStyle(frame.metrics);

    // Background.
    Color clear = s->mapMinimized ? 0xFF000000 : 0xFFE9EFF2;
    ui->clearColor[0] = (u8)(clear & 0xFF);
    ui->clearColor[1] = (u8)((clear >> 8) & 0xFF);
    ui->clearColor[2] = (u8)((clear >> 16) & 0xFF);

    applyPayloadOverrides(s, &app->droneConnection.payload.orvik, now);

    BindingButtonState minimize =
        bindingButtonState(app->preferences.minimizeMapBinding, &app->droneConnection.vehicle.rcChannels,
                           &platform->previousGamepad, &platform->gamepad, &platform->input, &s->minimizeBindingState, now);
    if (minimize.clicked) s->mapMinimized = s->mapMinimized ? 0 : 1;

    drawFlyTopBar(&frame);
    drawFlyScreenPanels(&frame);

    // The view passes: the pass numbered like the main-view flag is the video pass.
    u32 videoMain = s->mapMinimized && frame.videoAvailable && s->openPanel != FlyPanelCameraSettings ? 1 : 0;
    MapTaps taps{};
    for (u32 pass = 0; pass < 2; pass++) {
        if (pass == videoMain) {
            app->droneConnection.hudInUse = 0;
            drawFlyVideoPass(&frame, videoMain);
        } else {
            drawFlyMapPass(&frame, videoMain ? 1 : 0, &taps);
        }
    }
    handleMapTaps(&frame, &taps);

    if (result->back && s->openPanel != 0) {
        result->back = 0;
        // Back from the Load panel gives up a KMZ still being read into the editor.
        if (s->openPanel == FlyPanelExportedKmzList) cancelKmzImport(&app->kmzImport);
        s->openPanel = 0;
    }
    s->previousPanel = s->openPanel;
}
