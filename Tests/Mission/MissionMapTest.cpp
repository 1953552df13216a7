// Pointers on a headless map: real frames of the screen runner draw the plan on a map view and
// scripted touches select, drag, insert and delete, with the history records a user would undo.
#include "Mission/MissionMap.h"

#include <cmath>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "Core/MathEarth.h"
#include "Core/Preferences.h"
#include "Mission/TransectGenerator.h"
#include "Mission/WaypointUndo.h"
#include "SourceCommon/UserInterface/UiTestSupport.h"

namespace {

constexpr i32 kWidth = 800, kHeight = 600;
constexpr f64 kPixelsPerTurn = 1e6;  // 100 pixels per 0.0001 turn
constexpr f64 kCentreX = 0.1, kCentreY = 0.2;

struct PlanOnMap {
    WaypointMissionEditor editor;
    OrvikGeofence geofence;
    TransectRegion region;
    FlightLogger logger;
    MapView view;
    u32 editable;
    const Preferences* preview;  // the transect preferences whose preview lines are drawn; null: none
    u32 recentre;  // the next frame puts the map back to its starting place
    i32 taps;      // taps that reached the map
};
PlanOnMap* plan = nullptr;

void planScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState*, ScreenResult*, void*) {
    Rect rect = {0, (f32)kWidth, 0, (f32)kHeight};
    updateMapView(&plan->view, &rect, Box2{0, 0, -0.5, 0.5}, ui, stack, platform, MapWheelZooms);
    if (plan->recentre) setMapCenterAndZoom(&plan->view, kCentreX, kCentreY, kPixelsPerTurn);
    plan->recentre = 0;
    drawWaypointMission(&plan->editor, &plan->view, ui, stack, nullptr, nullptr, plan->editable, 0.5f);
    editOrvikGeofence(&plan->geofence, &plan->view, ui, stack, plan->editable, 0.5f);
    drawTransectRegion(&plan->region, &plan->view, ui, stack, plan->editable, 0.5f, plan->preview);
    MapTaps taps;
    plan->taps += handleMapPointers(&taps, &plan->view, stack)->count;
}

// A map position at window pixels from the view's centre.
Vec2 at(f32 x, f32 y) { return Vec2{kCentreX + (x - kWidth / 2.0) / kPixelsPerTurn, kCentreY + (y - kHeight / 2.0) / kPixelsPerTurn}; }
f32 pixelX(f64 x) { return (f32)((x - kCentreX) * kPixelsPerTurn + kWidth / 2.0); }
f32 pixelY(f64 y) { return (f32)((y - kCentreY) * kPixelsPerTurn + kHeight / 2.0); }

size_t recordsIn(UndoRing* ring) {
    size_t n = 0;
    for (UndoRecord* r = oldestUndoAction(ring); r; r = nextUndoAction(ring, r)) ++n;
    return n;
}

class PlanOnMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        state = std::make_unique<PlanOnMap>();
        plan = state.get();
        plan->editable = 1;
        plan->logger.logFileName = makeString("Flight Logs/test.qvlog3");
        plan->geofence.flightLogger = &plan->logger;
        plan->view = makeMapView(WidgetId{1, "plan map"}, MapViewModeMap);
        plan->recentre = 1;
        ASSERT_TRUE(startScreenHarness(&harness, kWidth, kHeight, planScreen));
        markerWidth = waypointMarkerWidth(&harness.render.app->renderer.ui);
    }
    void TearDown() override {
        stopScreenHarness(&harness);
        plan = nullptr;
    }
    // Press, hold past 250 ms, move in steps to the end point, let go.
    void drag(f32 x0, f32 y0, f32 x1, f32 y1) {
        touchDown(&harness, 7, x0, y0);
        screenFrame(&harness, 20);
        for (int step = 1; step <= 4; ++step) {
            touchMove(&harness, 7, x0 + (x1 - x0) * step / 4, y0 + (y1 - y0) * step / 4);
            screenFrame(&harness);
        }
        touchUp(&harness, 7);
        screenFrame(&harness, 2);
    }
    void tap(f32 x, f32 y) {
        touchDown(&harness, 8, x, y);
        screenFrame(&harness, 2);
        touchUp(&harness, 8);
        screenFrame(&harness, 2);
    }
    // Where a waypoint's marker takes a press: above its point.
    f32 markerY(const Waypoint& w) { return pixelY(w.y) + markerWidth / 2; }

    std::unique_ptr<PlanOnMap> state;
    ScreenHarness harness = {};
    f32 markerWidth = 0;
};

TEST_F(PlanOnMapTest, WaypointsSelectDragInsertAndDeleteWithOneRecordEach) {
    WaypointMissionEditor* editor = &plan->editor;
    Vec2 a = at(200, 300), b = at(400, 300), c = at(600, 300);
    ASSERT_EQ(insertWaypoint(editor, 0, a.x, a.y, 40), 1u);
    ASSERT_EQ(insertWaypoint(editor, 1, b.x, b.y, 60), 1u);
    ASSERT_EQ(insertWaypoint(editor, 2, c.x, c.y, 80), 1u);
    clearUndoRing(&editor->history.undo);

    // A tap selects and records nothing.
    tap(400, markerY(editor->waypoints[1]));
    EXPECT_EQ(editor->selectedWaypointId, editor->waypoints[1].id);
    EXPECT_EQ(recordsIn(&editor->history.undo), 0u);
    EXPECT_EQ(plan->taps, 0);
    // On screen the selected marker is yellow and the others blue.
    UiState* ui = &harness.render.app->renderer.ui;
    for (int i = 0; i < 300 && ui->assets[AssetYellowMarker].state != 2; ++i) screenFrame(&harness);
    screenFrame(&harness, 2);
    u32 selected = harnessPixel(&harness.render, 400, (i32)markerY(editor->waypoints[1]));
    u32 other = harnessPixel(&harness.render, 200, (i32)markerY(editor->waypoints[0]));
    EXPECT_GT(selected & 0xFF, 0xC0u) << std::hex << selected;          // red
    EXPECT_LT((selected >> 16) & 0xFF, 0x80u) << std::hex << selected;  // little blue
    EXPECT_GT((other >> 16) & 0xFF, 0xC0u) << std::hex << other;
    EXPECT_LT(other & 0xFF, 0x80u) << std::hex << other;

    // A drag of the third waypoint moves it with the pointer and leaves one "Move" record.
    drag(600, markerY(editor->waypoints[2]), 650, markerY(editor->waypoints[2]) + 80);
    EXPECT_NEAR(pixelX(editor->waypoints[2].x), 650, 1);
    EXPECT_NEAR(pixelY(editor->waypoints[2].y), 380, 1);
    EXPECT_EQ(editor->waypoints[2].altitude, 80);
    EXPECT_EQ(recordsIn(&editor->history.undo), 1u);
    EXPECT_STREQ(undoLabel(&editor->history), "Move");
    undoLastAction(&editor->history);
    EXPECT_EQ(editor->waypoints[2].x, c.x);
    EXPECT_EQ(editor->waypoints[2].y, c.y);
    redoLastAction(&editor->history);
    EXPECT_NEAR(pixelX(editor->waypoints[2].x), 650, 1);

    // The insert handle halfway between the first two adds a waypoint there, selected.
    tap(300, 300);
    ASSERT_EQ(editor->waypointCount, 4);
    EXPECT_NEAR(pixelX(editor->waypoints[1].x), 300, 0.01);
    EXPECT_EQ(editor->waypoints[1].altitude, 50);
    EXPECT_EQ(editor->selectedWaypointId, editor->waypoints[1].id);
    EXPECT_STREQ(undoLabel(&editor->history), "Add");

    // Its delete handle removes it again.
    u32 added = editor->waypoints[1].id;
    tap(300 + markerWidth * 0.8f, 300 + markerWidth * 0.8f);
    EXPECT_EQ(editor->waypointCount, 3);
    EXPECT_EQ(findWaypoint(editor, added), -1);
    EXPECT_EQ(editor->selectedWaypointId, 0u);
    EXPECT_STREQ(undoLabel(&editor->history), "Delete");
    EXPECT_EQ(recordsIn(&editor->history.undo), 3u);
}

TEST_F(PlanOnMapTest, LockedWaypointsAndReadOnlyMapsAreInert) {
    WaypointMissionEditor* editor = &plan->editor;
    Vec2 a = at(200, 300), b = at(400, 300);
    insertWaypoint(editor, 0, a.x, a.y, 40);
    insertWaypoint(editor, 1, b.x, b.y, 60);
    clearUndoRing(&editor->history.undo);
    editor->waypoints[0].uploadMark = 2;

    // Presses on the locked waypoint reach the map: the drag pans it, the tap is the map's.
    drag(200, markerY(editor->waypoints[0]), 250, 400);
    EXPECT_NE(plan->view.centreX, kCentreX);
    plan->recentre = 1;
    tap(200, markerY(editor->waypoints[0]));
    EXPECT_EQ(plan->taps, 1);
    EXPECT_EQ(editor->waypoints[0].x, a.x);
    EXPECT_EQ(editor->selectedWaypointId, 0u);
    EXPECT_EQ(recordsIn(&editor->history.undo), 0u);

    plan->editable = 0;
    tap(400, markerY(editor->waypoints[1]));
    drag(400, markerY(editor->waypoints[1]), 450, 400);
    tap(300, 300);
    EXPECT_EQ(editor->selectedWaypointId, 0u);
    EXPECT_EQ(editor->waypoints[1].x, b.x);
    EXPECT_EQ(editor->waypointCount, 2);
    EXPECT_EQ(recordsIn(&editor->history.undo), 0u);
}

TEST_F(PlanOnMapTest, VertexDragsAreOneMoveEachAndTheGeofenceIsLogged) {
    for (Vec2 p : {at(100, 100), at(300, 100), at(200, 250)}) {
        addGeofencePoint(&plan->geofence, p);
        addTransectPoint(&plan->region, Vec2{p.x, p.y + 300 / kPixelsPerTurn});
    }
    clearUndoRing(&plan->geofence.history.undo);
    clearUndoRing(&plan->region.history.undo);
    u64 entries = plan->logger.entries;

    drag(300, 100, 350, 150);
    EXPECT_NEAR(pixelX(plan->geofence.points[1].x), 350, 1);
    EXPECT_NEAR(pixelY(plan->geofence.points[1].y), 150, 1);
    EXPECT_EQ(recordsIn(&plan->geofence.history.undo), 1u);
    EXPECT_STREQ(undoLabel(&plan->geofence.history), "Move");
    // Logged when the hold starts and when the drag ends, with the point where it was let go.
    EXPECT_EQ(plan->logger.entries, entries + 2);
    f64 latitude;
    std::memcpy(&latitude, plan->geofence.logEntry.payload.data + 1 + 16, 8);
    GeoPoint dropped;
    mercatorToLatLng(&dropped, &plan->geofence.points[1]);
    EXPECT_EQ(latitude, dropped.latitude);

    drag(200, 550, 210, 540);
    EXPECT_NEAR(pixelX(plan->region.points[2].x), 210, 1);
    EXPECT_EQ(recordsIn(&plan->region.history.undo), 1u);
    undoLastAction(&plan->region.history);
    EXPECT_NEAR(pixelX(plan->region.points[2].x), 200, 1e-6);
}

// The preview is where Generate puts its waypoint pairs: every line drawn runs from one generated
// waypoint to the next, and nothing is drawn between the lines or once the preview is off.
TEST_F(PlanOnMapTest, TransectPreviewDrawsTheLinesThatGenerateTurnsIntoWaypoints) {
    for (Vec2 p : {at(200, 150), at(600, 100), at(650, 500), at(250, 450)}) addTransectPoint(&plan->region, p);
    auto preferences = std::make_unique<Preferences>();
    preferences->transectSpacing = 700;
    preferences->transectZigZagHeading = 20;
    preferences->transectOvershootDistance = 300;
    plan->preview = preferences.get();
    screenFrame(&harness, 2);
    Vec2 ends[kMaxWaypoints / 2][2];
    i32 lines = transectLines(&plan->region, preferences.get(), ends, kMaxWaypoints / 2);
    ASSERT_GE(lines, 6);
    // A cyan pixel within a pixel of the point (a thin slanted line may pass between pixel centres).
    auto cyan = [&](f64 x, f64 y) {
        for (i32 dy = -1; dy <= 1; dy++) {
            for (i32 dx = -1; dx <= 1; dx++) {
                u32 p = harnessPixel(&harness.render, (i32)std::lround(pixelX(x)) + dx, (i32)std::lround(pixelY(y)) + dy);
                if ((p & 0xFF) < 80 && ((p >> 8) & 0xFF) > 140 && ((p >> 16) & 0xFF) > 140) return true;
            }
        }
        return false;
    };
    for (i32 l = 0; l < lines; l++) {
        Vec2 middle = {(ends[l][0].x + ends[l][1].x) / 2, (ends[l][0].y + ends[l][1].y) / 2};
        EXPECT_TRUE(cyan(middle.x, middle.y)) << "line " << l;
        if (l + 1 < lines) {
            Vec2 next = {(ends[l + 1][0].x + ends[l + 1][1].x) / 2, (ends[l + 1][0].y + ends[l + 1][1].y) / 2};
            EXPECT_FALSE(cyan((middle.x + next.x) / 2, (middle.y + next.y) / 2)) << "between lines " << l;
        }
    }
    ASSERT_EQ(generateWaypointsFromTransects(&plan->editor, &plan->region, nullptr, nullptr, preferences.get()),
              2 * lines);
    for (i32 i = 0; i < 2 * lines; i++) {
        EXPECT_EQ(plan->editor.waypoints[i].x, ends[i / 2][i % 2].x) << i;
        EXPECT_EQ(plan->editor.waypoints[i].y, ends[i / 2][i % 2].y) << i;
    }
    plan->preview = nullptr;
    plan->editor.waypointCount = 0;
    screenFrame(&harness, 2);
    Vec2 first = {(ends[0][0].x + ends[0][1].x) / 2, (ends[0][0].y + ends[0][1].y) / 2};
    EXPECT_FALSE(cyan(first.x, first.y));
}

}  // namespace
