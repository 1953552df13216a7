// Planning on the fly screen in real frames at 1920 x 1080: "Start" against a GDAL-made ridge and the
// PX4 stand-in (refused into the side view, then uploaded once the low spot is acknowledged), the
// undo and redo labels and the clears of the plan toolbars, the settings rows in every unit, and the
// camera panels against the camera stand-in.
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "Core/ElevationRaster.h"
#include "Core/Format.h"
#include "Core/MathEarth.h"
#include "Core/Undo.h"
#include "Drone/FlightController/Parameters.h"
#include "Drone/StandInRig.h"
#include "Map/ElevationFiles.h"
#include "Mission/MissionPath.h"
#include "Mission/MissionSteps.h"
#include "Screens/ChildScreens.h"
#include "Screens/FlyScreen.h"
#include "Screens/FlyScreenInternal.h"
#include "Screens/FlyScreenSharedUiViewLog.h"
#include "SourceCommon/UserInterface/Rows.h"
#include "ScreenTestSupport.h"

namespace {

constexpr f64 kFeet = 3.280839895;

std::string text(const FixedString& s) { return std::string(s.text, (size_t)s.length); }
std::string label(const char* s) { return s ? s : "(none)"; }

// The rig's records are the application's own, so the screen and the drone link share them; they go
// back before the rig is destroyed.
struct SharedRecords {
    standin::Rig* rig;
    ~SharedRecords() {
        (void)rig->connection.release();
        (void)rig->preferences.release();
        (void)rig->plan.release();
    }
};

class FlyScreenPlanningTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(startScreensHarness(&harness, 1920, 1080));
        ScreenStack* stack = &harness.app->screenStack;
        stack->depth = 2;
        stack->screens[1] = flyScreen;
        clearScreenScratch(stack);
        Preferences* p = prefs();
        p->units = UnitsMetricMps;
        p->waypointSnapAltitudeAboveGroundLevel = 40;
        p->minimapCorner = MinimapBottomRight;
        moveMouseAway(&harness);
    }
    void TearDown() override {
        ElevationMapSlot* slot = &harness.app->elevationMapLoader.slots[0];
        if (slot->state == ElevationMapLoaded) {
            releaseElevationRaster(&slot->raster);
            *slot = ElevationMapSlot{};
            harness.app->elevationMapLoader.loadedCount = 0;
        }
        stopScreensHarness(&harness);
    }

    FlyScreenState* state() { return (FlyScreenState*)harness.app->screenStack.screenState; }
    Preferences* prefs() { return &harness.app->preferences; }
    const UiMetrics& metrics() { return harness.app->uiMetrics; }

    // With a stand-in, every frame is also a step of the drone link on the same clock.
    void frame(i32 count = 1) {
        for (i32 i = 0; i < count; i++) {
            if (rig) {
                // Both clocks only go forward: the link steps from wherever the screen's clock is.
                if (harness.render.now > standin::simulatedNow) standin::simulatedNow = harness.render.now;
                rig->step();
                harness.render.now = standin::simulatedNow;
            }
            frames(&harness);
        }
    }
    void clickAt(f32 x, f32 y) {
        harnessMouseMove(&harness.render, x, y);
        frame();
        harnessMouseButton(&harness.render, KeyMouseLeft, true);
        frame();
        harnessMouseButton(&harness.render, KeyMouseLeft, false);
        frame();
    }
    void open(u32 panel) {
        state()->openPanel = panel;
        frame(2);
    }

    // The plan toolbar's cell: the row under the top bar and the telemetry lines.
    Vec2F32 toolbarCell(i32 cells, f32 cellWidth, i32 index, f32 firstWidth = 0) {
        const UiMetrics& m = metrics();
        f32 top = (f32)harness.render.height - m.buttonHeight - 2 * m.textHeight;
        Rect row{0, (f32)harness.render.width, top - m.buttonHeight, top};
        f32 sizes[kMaxLayoutCells] = {};
        sizes[0] = m.margin;
        for (i32 i = 0; i < cells; i++) {
            sizes[1 + 2 * i] = i == 0 && firstWidth > 0 ? firstWidth : cellWidth;
            sizes[2 + 2 * i] = -1;
        }
        if (cellWidth == 0) {  // the drawing tools' row: equal cells across the whole width
            f32 width = row.x1 / (f32)cells;
            return Vec2F32{width * (index + 0.5f), (row.y0 + row.y1) / 2};
        }
        LayoutCells layout = splitLayout(LayoutAlongX, sizes, 1 + 2 * cells, 0, &row);
        const Rect& cell = layout.cells[1 + 2 * index];
        return Vec2F32{(cell.x0 + cell.x1) / 2, (cell.y0 + cell.y1) / 2};
    }
    void pressGeofence(i32 index) {
        Vec2F32 at = toolbarCell(4, 1.4f * metrics().buttonHeight, index);
        clickAt(at.x, at.y);
    }
    void pressWaypoints(i32 index) {
        Vec2F32 at = toolbarCell(7, 1.4f * metrics().buttonHeight, index, 4 * metrics().textHeight);
        clickAt(at.x, at.y);
    }
    void pressTransect(i32 index) {
        Vec2F32 at = toolbarCell(6, 1.8f * metrics().buttonHeight, index);
        clickAt(at.x, at.y);
    }

    // Rows of the side panel under a toolbar row (withToolbar) or right under the telemetry lines.
    f32 listText() { return listTextSize(&harness); }
    f32 panelRowY(i32 row, bool withToolbar) {
        const UiMetrics& m = metrics();
        f32 top = (f32)harness.render.height - m.buttonHeight - 2 * m.textHeight - m.margin;
        if (withToolbar) top -= m.buttonHeight;
        return top - (row + 0.5f) * 3.2f * listText();
    }
    f32 panelX() { return metrics().margin + 8 * metrics().textHeight; }
    void enterRow(i32 row, bool withToolbar, const char* typed) {
        clickAt(panelX(), panelRowY(row, withToolbar));
        typeText(&harness, typed);
        sendKeyEvent(&harness, KeyEventDone);
        frame();
    }
    void chooseOption(i32 row, bool withToolbar, i32 option) {
        clickAt(panelX(), panelRowY(row, withToolbar));
        f32 bottom = panelRowY(row, withToolbar) - 1.6f * listText();
        clickAt(panelX(), bottom - listText() / 2 - (option + 0.5f) * 2 * listText());
    }
    void scrollPanel(i32 notches, bool withToolbar) {
        harnessMouseMove(&harness.render, panelX(), panelRowY(2, withToolbar));
        addWheelNotches(harness.platform, notches);
        frame(2);
    }

    // The GDAL-made ridge tile as the loaded terrain.
    void loadRidge() {
        char pattern[] = "/tmp/orvik-fly-ridge-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        std::string folder = pattern;
        std::string script = std::string(ORVIK_SOURCE_DIR) + "/Tests/Screens/ridge_tile.py";
        ASSERT_EQ(std::system(("/usr/bin/python3 " + script + " " + folder).c_str()), 0);
        std::ifstream file(folder + "/N47E008.hgt", std::ios::binary);
        std::stringstream bytes;
        bytes << file.rdbuf();
        tile = bytes.str();
        std::system(("rm -rf " + folder).c_str());
        ElevationMapLoader* loader = &harness.app->elevationMapLoader;
        readSrtmTile(&loader->slots[0].raster, (const u8*)tile.data(), (i64)tile.size(), 47, 8, kElevationSampleBudget,
                     4, nullptr);
        ASSERT_EQ(text(loader->slots[0].raster.error), "");
        loader->slots[0].state = ElevationMapLoaded;
        loader->loadedCount = 1;
    }

    // The rig on the application's records.
    void shareRecords(standin::Rig* r) {
        AppState* app = harness.app;
        r->connection.reset(&app->droneConnection);
        r->preferences.reset(&app->preferences);
        r->plan.reset(&app->waypointMissionEditor);
    }

    ScreensHarness harness{};
    standin::Rig* rig = nullptr;
    std::string tile;
};

// A mission across the ridge: "Start" sends nothing and shows the side view centred on the stored low
// spot; acknowledged there, "Start" uploads it to the stand-in. "Drone Heading" reaches it too.
TEST_F(FlyScreenPlanningTest, StartOverTheRidgeIsRefusedIntoTheSideViewAndUploadsOnceTheSpotIsAcknowledged) {
    loadRidge();
    if (HasFatalFailure()) return;
    standin::Rig stand;
    SharedRecords shared{&stand};
    shareRecords(&stand);
    standin::startStandIn(&stand, "px4", {}, [&] {
        return stand.vehicle().autopilotKind == AutopilotPx4 && stand.state().missionKnown &&
               stand.state().droneMissionCount == 0 && stand.vehicle().globalPosition.time != 0 &&
               stand.vehicle().landedState >= 2 && stand.vehicle().home.time != 0;
    });
    if (HasFatalFailure()) return;
    rig = &stand;
    AppState* app = harness.app;
    WaypointMissionEditor* editor = &app->waypointMissionEditor;
    prefs()->lowAltitudeWarning = 30;
    frame(2);
    rebaseWaypointAltitudes(editor, &app->droneConnection.vehicle, &app->elevationMapLoader);
    ASSERT_NEAR(editor->takeoffTerrainHeight, 400, 1);
    // 100 m up from 8.552 E to 8.568 E, over the crest at 8.56 E.
    Vec2 a = standin::mercator(47.3977, 8.552), b = standin::mercator(47.3977, 8.568);
    ASSERT_TRUE(insertWaypoint(editor, 0, a.x, a.y, 100));
    ASSERT_TRUE(insertWaypoint(editor, 1, b.x, b.y, 100));

    open(FlyPanelWaypoints);
    pressWaypoints(1);  // "Side\nView"
    ASSERT_EQ(state()->openPanel, (u32)FlyPanelSideView);
    pressWaypoints(6);  // "Start"
    EXPECT_EQ(state()->openPanel, (u32)FlyPanelSideView);
    EXPECT_EQ(app->droneConnection.vehicle.uploadRequest, 0u);
    EXPECT_EQ(editor->safetyCheckResult, 0u);
    const LowSpot spot = editor->lowSpot;
    // The spot lies where the ridge rises above 70 m over the take-off ground: about 180 m before the
    // crest, which is some 1,080 m east of the vehicle.
    EXPECT_GT(spot.distanceBefore, 700);
    EXPECT_LT(spot.distanceBefore, 1050);
    EXPECT_NEAR(spot.altitude, 100, 0.5);
    EXPECT_NEAR(state()->sideViewMapView.centreX, spot.distanceBefore + spot.stepLength, 1e-6);
    EXPECT_NEAR(state()->sideViewMapView.centreY, spot.altitude, 1e-6);
    frame(25);
    EXPECT_TRUE(stand.linesStartingWith("item").empty()) << "nothing is sent for a refused mission";

    // A tap on the red spot in the side view acknowledges it; then the mission starts.
    Vec2F32 at = mapPointToScreen(&state()->sideViewMapView, Vec2{spot.distanceBefore + spot.stepLength, spot.altitude});
    clickAt(at.x, at.y);
    ASSERT_EQ(editor->acknowledgedLowSpotCount, 1);
    pressWaypoints(6);
    ASSERT_TRUE(stand.runUntil([&] { return stand.state().startState == MissionStarted; }, 3000)) << stand.status();
    EXPECT_EQ(stand.linesStartingWith("mission_stored"), std::vector<std::string>{"mission_stored 5"});

    // "Settings", then "Drone Heading" (PX4 only) far down the list: "Away from Home" is value 2.
    pressWaypoints(2);
    ASSERT_EQ(state()->openPanel, (u32)FlyPanelMissionSettings);
    scrollPanel(-7, true);
    chooseOption(3, true, 2);
    ParameterSlot* yaw = &app->droneConnection.px4.parameters[px4ParameterSlotByName("MPC_YAW_MODE")];
    EXPECT_EQ(parameterInt(yaw->wanted), 2);
    ASSERT_TRUE(stand.runUntil([&] { return !stand.linesStartingWith("param_set MPC_YAW_MODE").empty(); }, 100));
    EXPECT_EQ(stand.linesStartingWith("param_set MPC_YAW_MODE")[0], "param_set MPC_YAW_MODE 6 2");
    rig = nullptr;
}

TEST_F(FlyScreenPlanningTest, UndoAndRedoLabelsFollowAddClearAndGenerateAndAnEmptyClearKeepsTheRedoRing) {
    AppState* app = harness.app;
    OrvikGeofence* fence = &app->orvikGeofence;
    open(FlyPanelGeofence);
    clickAt(700, 300);
    clickAt(800, 300);
    ASSERT_EQ(fence->pointCount, 2);
    EXPECT_EQ(label(undoLabel(&fence->history)), "Add");
    EXPECT_EQ(label(redoLabel(&fence->history)), "(none)");
    pressGeofence(1);  // undo
    EXPECT_EQ(fence->pointCount, 1);
    EXPECT_EQ(label(redoLabel(&fence->history)), "Add");
    // "Clear" empties the redo ring once applied; its undo brings the point back.
    pressGeofence(3);
    EXPECT_EQ(fence->pointCount, 0);
    EXPECT_EQ(label(undoLabel(&fence->history)), "Clear");
    EXPECT_EQ(label(redoLabel(&fence->history)), "(none)");
    pressGeofence(1);
    EXPECT_EQ(fence->pointCount, 1);
    EXPECT_EQ(label(redoLabel(&fence->history)), "Clear");
    pressGeofence(1);  // the first add too
    EXPECT_EQ(fence->pointCount, 0);
    UndoRing redoBefore = fence->history.redo;
    pressGeofence(3);  // refused on an empty geofence: the redo ring stays
    EXPECT_EQ(fence->history.redo.head, redoBefore.head);
    EXPECT_EQ(fence->history.redo.tail, redoBefore.tail);
    EXPECT_EQ(label(redoLabel(&fence->history)), "Add");
    pressGeofence(2);  // redo
    EXPECT_EQ(fence->pointCount, 1);

    // Four region corners, then "Generate Waypoints": one "Generate" step on the waypoint history.
    open(FlyPanelTransect);
    for (Vec2F32 corner : {Vec2F32{600, 250}, Vec2F32{900, 250}, Vec2F32{900, 450}, Vec2F32{600, 450}}) {
        clickAt(corner.x, corner.y);
    }
    ASSERT_EQ(app->transectRegion.pointCount, 4);
    prefs()->transectSpacing = 20;
    pressTransect(5);
    WaypointMissionEditor* editor = &app->waypointMissionEditor;
    ASSERT_GT(editor->waypointCount, 0);
    EXPECT_EQ(label(undoLabel(&editor->history)), "Generate");
    open(FlyPanelWaypoints);
    pressWaypoints(3);  // undo
    EXPECT_EQ(editor->waypointCount, 0);
    EXPECT_EQ(label(redoLabel(&editor->history)), "Generate");

    // A selection lives only while the waypoint toolbar is open.
    ASSERT_TRUE(insertWaypoint(editor, 0, 0.1, 0.1, 40));
    editor->selectedWaypointId = editor->waypoints[0].id;
    frame(2);
    EXPECT_NE(editor->selectedWaypointId, 0u);
    pressWaypoints(1);  // the side view keeps it
    EXPECT_NE(editor->selectedWaypointId, 0u);
    open(FlyPanelFolder);
    EXPECT_EQ(editor->selectedWaypointId, 0u);

    // The folder menu opens the missions dialog and the overlays panel; the drawing tools' "Save" the
    // export panel.
    Vec2F32 missions = toolbarCell(2, 1.8f * metrics().buttonHeight, 1);
    clickAt(missions.x, missions.y);
    EXPECT_EQ(state()->openPanel, (u32)FlyPanelMissionFiles);
    open(FlyPanelFolder);
    Vec2F32 overlays = toolbarCell(2, 1.8f * metrics().buttonHeight, 0);
    clickAt(overlays.x, overlays.y);
    EXPECT_EQ(state()->openPanel, (u32)FlyPanelOverlays);
    open(FlyPanelDrawFirst);
    Vec2F32 save = toolbarCell(9, 0, 8);
    clickAt(save.x, save.y);
    EXPECT_EQ(state()->openPanel, (u32)FlyPanelKmzExport);
    frame(2);
}

// Typed lengths and speeds are stored in SI whatever "Units" shows; the mapping rows come with
// "Transect Usage" "Mapping"; the upload limit's entries.
TEST_F(FlyScreenPlanningTest, SettingsRowsStoreTypedValuesInSiInEveryUnit) {
    prefs()->developerMode = 1;
    prefs()->transectUsage = TransectJustFlying;
    open(FlyPanelTransect);
    pressTransect(1);  // "Settings"
    ASSERT_EQ(state()->openPanel, (u32)FlyPanelTransectSettings);
    prefs()->waypointMissionCruiseSpeed = 5;
    enterRow(5, true, "9");
    EXPECT_EQ(prefs()->waypointMissionCruiseSpeed, 5) << "no cruise-speed row before Mapping";
    chooseOption(4, true, 2);
    ASSERT_EQ(prefs()->transectUsage, (u32)TransectMapping);

    struct Case {
        u32 units;
        f64 metres;  // of a typed 10
        f64 speed;   // of a typed 36
    };
    const Case cases[] = {{UnitsMetricMps, 10, 36},
                          {UnitsMetricKmh, 10, 10},
                          {UnitsImperialFps, 10 / kFeet, 36 / kFeet},
                          {UnitsImperialMph, 10 / kFeet, 36 / 2.23694},
                          {UnitsNauticalKn, 10 / kFeet, 36 / 1.94384}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.units);
        prefs()->units = c.units;
        frame();
        enterRow(1, true, "10");
        EXPECT_NEAR(prefs()->transectSpacing, c.metres, 1e-9);
        enterRow(5, true, "36");
        EXPECT_NEAR(prefs()->waypointMissionCruiseSpeed, c.speed, 1e-9);
    }
    prefs()->units = UnitsMetricMps;
    enterRow(5, true, "-4");
    EXPECT_EQ(prefs()->waypointMissionCruiseSpeed, 0) << "a negative speed stores 0";
    f64 spacing = prefs()->transectSpacing;
    enterRow(1, true, "");
    EXPECT_EQ(prefs()->transectSpacing, spacing) << "an empty entry changes nothing";

    // The upload limit, last row of the mission settings (the eleventh without a PX4 vehicle).
    open(FlyPanelMissionSettings);
    scrollPanel(-6, true);
    struct Limit {
        const char* typed;
        u16 stored;
    };
    for (const Limit& l : {Limit{"", 65535}, Limit{"0", 1}, Limit{"70000", 65535}, Limit{"120", 120}}) {
        SCOPED_TRACE(l.typed);
        prefs()->maxWaypointsToUpload = 7;
        enterRow(4, true, l.typed);
        EXPECT_EQ(prefs()->maxWaypointsToUpload, l.stored);
    }

    // The area texts: tenths rounded half away from zero.
    EXPECT_EQ(text(flyAreaText(12499, UnitsMetricMps)), "1.2 Hectares");
    EXPECT_EQ(text(flyAreaText(12500, UnitsMetricKmh)), "1.3 Hectares");
    EXPECT_EQ(text(flyAreaText(0, UnitsMetricMps)), "0.0 Hectares");
    EXPECT_EQ(text(flyAreaText(4046.86 * 2.251, UnitsImperialMph)), "2.3 Acres");
}

// A cruise speed of 0 makes the estimated duration infinite; the row shows it as not known instead of
// casting it to microseconds.
TEST(FlyScreenMissionStats, ZeroCruiseSpeedShowsTheDurationAsUnknown) {
    auto editor = std::make_unique<WaypointMissionEditor>();
    auto vehicle = std::make_unique<VehicleState>();
    auto preferences = std::make_unique<Preferences>();
    ASSERT_TRUE(insertWaypoint(editor.get(), 0, 0.1, 0.1, 40));
    ASSERT_TRUE(insertWaypoint(editor.get(), 1, 0.10001, 0.1, 40));
    MissionStats stats{};
    calculateMissionStats(&stats, editor.get(), vehicle.get(), preferences.get());
    EXPECT_EQ(text(flyMissionDurationText(stats.durationS, 0)), "---");
    EXPECT_EQ(text(flyMissionDurationText(INFINITY, 0)), "---");
    EXPECT_EQ(text(flyDurationText(INFINITY)), "---") << "an infinite time is not cast to microseconds";
    preferences->waypointMissionCruiseSpeed = 5;
    calculateMissionStats(&stats, editor.get(), vehicle.get(), preferences.get());
    EXPECT_GT(stats.durationS, 0);
    EXPECT_EQ(text(flyMissionDurationText(stats.durationS, 5)), text(durationString((i64)(stats.durationS * 1e6))));
}

// The capture button's press, by picture shape, recording, interval capture, the mapping kit's state
// and the interval.
TEST(CameraCaptureButton, PressRaisesTheRequestOfItsState) {
    struct Case {
        u32 shape, recording, interval;
        u8 kit;
        f64 p;
        const char* expected;  // the requests raised
        u32 square;
    };
    const Case cases[] = {
        {2, 0, 0, 0, 0, "start-video", 0},
        {2, 1, 0, 0, 0, "stop-video", 1},
        {1, 0, 1, 0, 2, "stop-capture", 1},
        {1, 0, 1, 2, 2, "stop-capture kit-stop", 1},
        {1, 0, 0, 2, 0, "kit-stop", 1},
        {1, 0, 0, 0, 0, "single", 0},
        {1, 0, 0, 1, 0, "single", 0},
        {1, 0, 0, 1, 0.5, "kit-start", 0},
        {1, 0, 0, 1, 1, "start-interval", 0},
        {1, 0, 0, 0, 0.5, "start-interval", 0},
        {1, 0, 0, 0, 2, "start-interval", 0},
        {0, 0, 0, 1, 0.5, "", 0},
    };
    for (const Case& c : cases) {
        ProtocolCameraState camera{};
        PayloadLink payload{};
        camera.pictureShape = c.shape;
        camera.recording = c.recording;
        camera.intervalCaptureActive = c.interval;
        payload.value4 = c.kit;
        EXPECT_EQ(cameraCaptureShowsSquare(&camera, &payload), c.square) << c.expected;
        pressCameraCapture(&camera, &payload, c.p);
        std::string raised;
        auto add = [&](u32 flag, const char* name) {
            if (!flag) return;
            if (!raised.empty()) raised += " ";
            raised += name;
        };
        add(camera.requests[ProtocolRequestStartVideo], "start-video");
        add(camera.requests[ProtocolRequestStopVideo], "stop-video");
        add(camera.requests[ProtocolRequestStopCapture], "stop-capture");
        add(payload.photoIntervalStop, "kit-stop");
        add(camera.requests[ProtocolRequestSinglePhoto], "single");
        add(payload.photoIntervalStart, "kit-start");
        add(camera.requests[ProtocolRequestStartInterval], "start-interval");
        EXPECT_EQ(raised, c.expected) << "shape " << c.shape << " kit " << (int)c.kit << " P " << c.p;
    }
    // The interval texts.
    EXPECT_EQ(text(cameraIntervalText(0.5)), "0.5");
    EXPECT_EQ(text(cameraIntervalText(2)), "2");
    EXPECT_EQ(text(cameraIntervalText(1.2345)), "1.235");
}

// The camera HUD under the top bar (openPanel 17): the capture mark takes a single photo with no
// interval set, and "Config" opens the camera settings.
TEST_F(FlyScreenPlanningTest, CameraHudCaptureMarkAndConfigButton) {
    DroneConnection* c = &harness.app->droneConnection;
    c->cameraKind = CameraProtocol;
    c->protocolCamera.pictureShape = 1;
    prefs()->mappingKitPhotoInterval = 0;
    open(FlyPanelCamera);
    const UiMetrics& m = metrics();
    f32 t = m.textHeight, top = (f32)harness.render.height - m.buttonHeight - 2 * t;
    // Buttons (2 T with a quarter-T gap above and below), the mode line (1.5 T), then the mark.
    f32 markTop = top - t / 4 - 2 * t - t / 4 - 1.5f * t - t / 4;
    clickAt(m.margin + 7 * t, markTop - 1.2f * t);
    EXPECT_EQ(c->protocolCamera.requests[ProtocolRequestSinglePhoto], 1u);
    EXPECT_EQ(c->protocolCamera.requests[ProtocolRequestStartInterval], 0u);
    f32 gap = t / 4, width = (14 * t - 4 * gap) / 3;
    clickAt(m.margin + gap + 2 * (width + gap) + width / 2, top - gap - t);
    EXPECT_EQ(state()->openPanel, (u32)FlyPanelCameraSettings);
}

// Against the camera stand-in: the exposure mode it reports hides the rows it fixes (they are no
// longer read), and a chosen setting reaches the camera as PARAM_EXT_SET.
TEST_F(FlyScreenPlanningTest, CameraSettingsChoiceArrivesAsParamExtSetAndExposureModeHidesRows) {
    standin::Rig stand;
    SharedRecords shared{&stand};
    shareRecords(&stand);
    standin::startStandIn(&stand, "camera", {"sony", "exposure=11"},
                          [&] { return !stand.linesStartingWith("ready").empty(); });
    if (HasFatalFailure()) return;
    DroneConnection* c = &harness.app->droneConnection;
    ASSERT_TRUE(stand.runUntil([&] { return c->cameraKind == CameraProtocol; }, 400));
    rig = &stand;
    ExtParamSlot* exposure = &c->protocolCamera.parameters[3];
    ExtParamSlot* iso = &c->protocolCamera.parameters[6];
    ExtParamSlot* shutter = &c->protocolCamera.parameters[7];
    ExtParamSlot* aperture = &c->protocolCamera.parameters[8];
    open(FlyPanelCameraSettings);
    for (i32 i = 0; i < 200 && exposure->receiveTime == 0; i++) frame();
    ASSERT_NE(exposure->receiveTime, 0u);
    EXPECT_EQ(exposure->value, 11);
    frame(2);
    u64 shown = standin::simulatedNow;
    frame(5);
    EXPECT_GT(iso->readAskedTime, shown) << "a shown row is read again";
    EXPECT_LT(shutter->readAskedTime, shown) << "Program Auto hides the shutter time";
    EXPECT_LT(aperture->readAskedTime, shown) << "and the aperture";

    // Rows: the interval, its summary, then "Focus Mode": "Auto" is 1.
    chooseOption(2, false, 1);
    ASSERT_TRUE(stand.runUntil([&] { return !stand.linesStartingWith("ext_set CAM_FOCUSMODE").empty(); }, 100));
    EXPECT_EQ(stand.linesStartingWith("ext_set CAM_FOCUSMODE")[0], "ext_set CAM_FOCUSMODE 1 1");
    rig = nullptr;
}

}  // namespace
