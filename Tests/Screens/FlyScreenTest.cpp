// The fly screen in real frames at 1920 x 1080 on llvmpipe with the test's clock: the first centring
// on the drone, the drone's arrow, the traffic colours, drops and the geofence on the map; the map
// taps that become plan edits by openPanel (and undo again); Back; the mini view's tap and drag; the
// camera key pad; and, table-driven, the diagnostics text, the telemetry altitudes and the scale bar.
#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "Core/MathEarth.h"
#include "Core/Undo.h"
#include "Screens/ChildScreens.h"
#include "KmzEditor/KmzEditor.h"
#include "Screens/FlyScreen.h"
#include "ScreenTestSupport.h"
#include "Video/VideoDecoder.h"

namespace {

constexpr f64 kLatitude = 47.397742;
constexpr f64 kLongitude = 8.545594;

Vec2 mercatorOf(f64 latitude, f64 longitude) {
    GeoPoint geo{longitude, latitude};
    Vec2 out;
    latLngToMercator(&out, &geo);
    return out;
}

u32 red(u32 pixel) { return pixel & 0xFF; }
u32 green(u32 pixel) { return (pixel >> 8) & 0xFF; }

class FlyScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(startScreensHarness(&harness, 1920, 1080));
        ScreenStack* stack = &harness.app->screenStack;
        stack->depth = 2;
        stack->screens[1] = flyScreen;
        clearScreenScratch(stack);
        Preferences* p = &harness.app->preferences;
        p->units = UnitsMetricMps;
        p->adsbWarningCylinderAltitude = 500;
        p->waypointSnapAltitudeAboveGroundLevel = 40;
        p->minimapCorner = MinimapBottomRight;
        moveMouseAway(&harness);
    }
    void TearDown() override { stopScreensHarness(&harness); }

    FlyScreenState* state() { return (FlyScreenState*)harness.app->screenStack.screenState; }
    VehicleState* vehicle() { return &harness.app->droneConnection.vehicle; }
    f32 lineHeight() { return harness.app->uiMetrics.buttonTextHeight; }

    void placeDrone() {
        VehicleState* v = vehicle();
        v->globalPosition = GlobalPosition{harness.render.now, kLongitude, kLatitude, 30, 530};
        v->home = StoredPosition{harness.render.now, kLongitude, kLatitude, 500};
        v->lastHeardTime = harness.render.now;
    }
    // Window pixel of a geographic point on the main map.
    Vec2F32 onMap(f64 latitude, f64 longitude) {
        return mapPointToScreen(&state()->mapView, mercatorOf(latitude, longitude));
    }
    void pressAt(f32 x, f32 y) {
        harnessMouseMove(&harness.render, x, y);
        frames(&harness);
        harnessMouseButton(&harness.render, KeyMouseLeft, true);
        frames(&harness);
    }
    void release() {
        harnessMouseButton(&harness.render, KeyMouseLeft, false);
        frames(&harness);
    }

    ScreensHarness harness{};
};

TEST_F(FlyScreenTest, MapCentresOnDroneAndShowsArrowTrafficDropsAndGeofence) {
    AppState* app = harness.app;
    frames(&harness, 2);
    EXPECT_EQ(state()->mapCenteredOnce, 0u) << "no position, no centring";
    placeDrone();
    // Two aircraft 140 m north-east and south-west of the drone, heading east: one below the warning
    // altitude, one above it.
    AirTrafficList* traffic = &app->droneConnection.airTraffic;
    Vec2 low = mercatorOf(kLatitude + 0.0009, kLongitude + 0.0013);
    Vec2 high = mercatorOf(kLatitude - 0.0009, kLongitude - 0.0013);
    traffic->slots[0] = AirTrafficSlot{low.x, low.y, 300, 90, 0, (i64)harness.render.now, 0xABCDEF, 0, "", {}};
    traffic->slots[1] = AirTrafficSlot{high.x, high.y, 900, 90, 0, (i64)harness.render.now, 0x123456, 0, "CYAN1", {}};
    traffic->usedSlots = 3;
    GeoPoint drop{kLongitude - 0.0015, kLatitude + 0.0004};
    DropPosition position;
    ASSERT_EQ(encodeDropPosition(&position, &drop), 1);
    addOrvikDropLocation(&app->orvikDropLocations, position, 1);
    Vec2 vertex = mercatorOf(kLatitude - 0.0006, kLongitude + 0.002);
    app->orvikGeofence.points[0] = vertex;
    app->orvikGeofence.points[1] = mercatorOf(kLatitude - 0.0012, kLongitude + 0.002);
    app->orvikGeofence.points[2] = mercatorOf(kLatitude - 0.0012, kLongitude + 0.003);
    app->orvikGeofence.pointCount = 3;
    frames(&harness, 3);

    ASSERT_EQ(state()->mapCenteredOnce, 1u);
    Vec2 drone = mercatorOf(kLatitude, kLongitude);
    EXPECT_NEAR(state()->mapView.centreX, drone.x, 1e-9);
    EXPECT_NEAR(state()->mapView.centreY, drone.y, 1e-9);
    // 20 m of ground per line height at the drone's latitude.
    f64 metresPerPixel = metersPerDegreeLongitude(kLatitude) * 360.0 / state()->mapView.pixelsPerUnit;
    EXPECT_NEAR(metresPerPixel * lineHeight(), 20.0, 0.01);

    // The red arrow at the window's centre.
    u32 arrow = harnessPixel(&harness.render, 960, 540);
    EXPECT_GT(red(arrow), 150u);
    EXPECT_LT(green(arrow), 100u);
    // The heading lines (east) beside each icon: yellow below the warning altitude, cyan above.
    Vec2F32 lowAt = onMap(kLatitude + 0.0009, kLongitude + 0.0013);
    Vec2F32 highAt = onMap(kLatitude - 0.0009, kLongitude - 0.0013);
    u32 yellow = harnessPixel(&harness.render, (i32)(lowAt.x + 1.3f * lineHeight()), (i32)lowAt.y);
    u32 cyan = harnessPixel(&harness.render, (i32)(highAt.x + 1.3f * lineHeight()), (i32)highAt.y);
    EXPECT_EQ(yellow & 0xFFFFFF, 0x00FFFFu) << std::hex << yellow;
    EXPECT_EQ(cyan & 0xFFFFFF, 0xFFFF00u) << std::hex << cyan;
    // The drop point and the geofence vertex stand out from the empty map.
    u32 background = harnessPixel(&harness.render, 1900, 300);
    Vec2F32 dropAt = onMap(drop.latitude, drop.longitude);
    Vec2F32 vertexAt = mapPointToScreen(&state()->mapView, vertex);
    EXPECT_NE(harnessPixel(&harness.render, (i32)dropAt.x, (i32)dropAt.y), background);
    EXPECT_NE(harnessPixel(&harness.render, (i32)vertexAt.x, (i32)vertexAt.y), background);
    writeHarnessPng(&harness.render, outputPath("fly_screen_map.png").c_str());

    // Traffic ages out: the near one (about 140 m away) is kept for 240 s, so both still show after 100 s; the
    // far-away check holds when the drone is unknown (60 s).
    harness.render.now += 100000000;
    frames(&harness, 2);
    yellow = harnessPixel(&harness.render, (i32)(lowAt.x + 1.3f * lineHeight()), (i32)lowAt.y);
    EXPECT_EQ(yellow & 0xFFFFFF, 0x00FFFFu) << "near traffic stays for 240 s";
    vehicle()->globalPosition.time = 0;
    frames(&harness, 2);
    yellow = harnessPixel(&harness.render, (i32)(lowAt.x + 1.3f * lineHeight()), (i32)lowAt.y);
    EXPECT_NE(yellow & 0xFFFFFF, 0x00FFFFu) << "traffic not known to be near goes after 60 s";
}

// A full drop list, all in view: the newest drop, and the home and the drawing's marker drawn after
// the drops, all show (none is left out for room).
TEST_F(FlyScreenTest, TheNewestOfThirtyThousandDropsAndTheMarkersAfterThemShow) {
    AppState* app = harness.app;
    placeDrone();
    frames(&harness, 2);
    ASSERT_EQ(state()->mapCenteredOnce, 1u);
    const MapView* view = &state()->mapView;
    auto dropAt = [&](f32 x, f32 y) {
        Vec2 map = screenPointToMap(view, x, y);
        GeoPoint geo;
        mercatorToLatLng(&geo, &map);
        DropPosition position;
        EXPECT_EQ(encodeDropPosition(&position, &geo), 1);
        EXPECT_EQ(addOrvikDropLocation(&app->orvikDropLocations, position, 1), 1);
    };
    // 29,999 drops packed over the left of the window, then the newest alone on the right.
    for (u32 i = 0; i + 1 < kMaxOrvikDropLocations; i++) dropAt(100 + (f32)(i % 200) * 5, 150 + (f32)(i / 200) * 5);
    const Vec2F32 newest{1500, 700}, home{1500, 400}, flag{1250, 550};
    dropAt(newest.x, newest.y);
    Vec2 homeMap = screenPointToMap(view, home.x, home.y);
    GeoPoint homeGeo;
    mercatorToLatLng(&homeGeo, &homeMap);
    vehicle()->home = StoredPosition{harness.render.now, homeGeo.longitude, homeGeo.latitude, 500};
    KmzEditor* editor = &app->kmzEditor;
    Vec2 flagMap = screenPointToMap(view, flag.x, flag.y);
    editor->markers[0] = KmzMarker{flagMap.x, flagMap.y, 1, KmzMarkerFlag};
    editor->markerUsed[0] = 1;
    u32 background = harnessPixel(&harness.render, (i32)newest.x, (i32)newest.y + 60);
    frames(&harness, 2);
    ASSERT_EQ(app->orvikDropLocations.count, kMaxOrvikDropLocations);
    for (Vec2F32 at : {newest, home, flag, Vec2F32{600, 500}}) {
        EXPECT_NE(harnessPixel(&harness.render, (i32)at.x, (i32)at.y), background) << at.x << " " << at.y;
    }
    EXPECT_EQ(harnessPixel(&harness.render, (i32)newest.x, (i32)newest.y + 60), background);
    writeHarnessPng(&harness.render, outputPath("fly_screen_drops.png").c_str());
}

// The arrow turned level by its yaw keeps its shape: about the same number of red pixels at every
// heading (it used to squash to a sliver near 57 degrees and vanish near 180).
TEST_F(FlyScreenTest, DroneArrowKeepsItsAreaAtEveryHeading) {
    placeDrone();
    frames(&harness, 3);
    i32 half = (i32)(2 * lineHeight());
    auto redPixels = [&] {
        std::vector<u8> rgba((size_t)harness.render.width * harness.render.height * 4);
        readHarnessPixels(&harness.render, rgba.data());
        i32 count = 0;
        for (i32 y = 540 - half; y <= 540 + half; y++) {
            for (i32 x = 960 - half; x <= 960 + half; x++) {
                const u8* p = &rgba[((size_t)(harness.render.height - 1 - y) * harness.render.width + x) * 4];
                count += p[0] > p[1] + 60 && p[0] > p[2] + 60;
            }
        }
        return count;
    };
    i32 level = 0;
    for (f64 degrees : {0.0, 45.0, 57.0, 90.0, 180.0, 270.0}) {
        vehicle()->yaw = (f32)(degrees * M_PI / 180);
        frames(&harness, 2);
        i32 count = redPixels();
        if (degrees == 0) level = count;
        ASSERT_GT(level, 100);
        // Within 15 %: the shadow, offset the same way at every heading, shows more or less beside it.
        EXPECT_NEAR(count, level, 0.15 * level) << degrees << " degrees";
    }
}

// "Generate Waypoints" says why it did nothing or not all, and marks the part of the region that its
// 98 waypoints leave uncovered until the region is changed.
TEST_F(FlyScreenTest, TransectGenerateTellsWhatItCouldNotDoAndMarksTheUncoveredPart) {
    AppState* app = harness.app;
    harness.render.captureText = true;
    placeDrone();
    // 604 m east to west and 300 m north to south around the drone.
    f64 east = 302 / metersPerDegreeLongitude(kLatitude), north = 150 / metersPerDegreeLatitude(kLatitude);
    TransectRegion* region = &app->transectRegion;
    region->points[0] = mercatorOf(kLatitude - north, kLongitude - east);
    region->points[1] = mercatorOf(kLatitude - north, kLongitude + east);
    region->points[2] = mercatorOf(kLatitude + north, kLongitude + east);
    region->points[3] = mercatorOf(kLatitude + north, kLongitude - east);
    region->pointCount = 4;
    state()->openPanel = FlyPanelTransect;
    frames(&harness, 2);

    // The default spacing of 0 m.
    ASSERT_TRUE(clickText(&harness, "Generate Waypoints"));
    EXPECT_NE(shownText(&harness, "Set the transect spacing first"), nullptr);
    EXPECT_EQ(app->waypointMissionEditor.waypointCount, 0);

    // 8 m: 75 lines of two waypoints would cover it, 49 fit.
    app->preferences.transectSpacing = 8;
    moveMouseAway(&harness);
    ASSERT_TRUE(clickText(&harness, "Generate Waypoints"));
    EXPECT_EQ(app->waypointMissionEditor.waypointCount, 98);
    EXPECT_NE(shownText(&harness, "Transect needs 150 waypoints; 98 generated", true), nullptr);
    ASSERT_GE(region->uncoveredCount, 4);
    // The cut: the westmost side of the uncovered part, 4 + 48 x 8 + 4 = 392 m in from the west edge.
    Vec2 a = region->uncovered[0], b = region->uncovered[0];
    for (i32 i = 0; i < region->uncoveredCount; i++) {
        if (region->uncovered[i].x < a.x || (region->uncovered[i].x == a.x && region->uncovered[i].y < a.y)) {
            b = a;
            a = region->uncovered[i];
        } else if (region->uncovered[i].x < b.x) {
            b = region->uncovered[i];
        }
    }
    GeoPoint cutA, cutB;
    mercatorToLatLng(&cutA, &a);
    mercatorToLatLng(&cutB, &b);
    EXPECT_NEAR((cutA.longitude - (kLongitude - east)) * metersPerDegreeLongitude(kLatitude), 392, 1);
    EXPECT_NEAR(cutA.longitude, cutB.longitude, 1e-7);
    Vec2F32 onCut = mapPointToScreen(&state()->mapView, Vec2{(a.x + b.x) / 2, (a.y + b.y) / 2});
    u32 marked = harnessPixel(&harness.render, (i32)onCut.x, (i32)onCut.y);
    EXPECT_EQ(marked & 0xFFFFFF, 0xFF00FFu) << std::hex << marked;
    // The message goes after 5 s; the mark goes once the region changes.
    harness.render.now += 5000000;
    frames(&harness);
    EXPECT_EQ(shownText(&harness, "Transect needs"), nullptr);
    region->points[2].y += 1e-6;
    frames(&harness);
    EXPECT_NE(harnessPixel(&harness.render, (i32)onCut.x, (i32)onCut.y) & 0xFFFFFF, 0xFF00FFu);
}

TEST_F(FlyScreenTest, TapsEditTheObjectOfTheOpenPanelAndOtherwiseShowTheTapInfo) {
    AppState* app = harness.app;
    placeDrone();
    frames(&harness, 2);
    struct Case {
        u32 panel;
        const char* object;
    };
    const Case cases[] = {{1, "geofence"}, {22, "waypoints"}, {25, "transect"}, {0, "tap info"}};
    f32 x = 700;
    for (const Case& c : cases) {
        state()->openPanel = c.panel;
        frames(&harness);
        x += 60;
        Vec2 expected = screenPointToMap(&state()->mapView, x, 400);
        click(&harness, x, 400);
        SCOPED_TRACE(c.object);
        if (c.panel == 1) {
            OrvikGeofence* g = &app->orvikGeofence;
            ASSERT_EQ(g->pointCount, 1);
            EXPECT_NEAR(g->points[0].x, expected.x, 1e-9);
            EXPECT_NEAR(g->points[0].y, expected.y, 1e-9);
            undoLastAction(&g->history);
            EXPECT_EQ(g->pointCount, 0) << "the undo record removes the tapped vertex";
        } else if (c.panel == 22) {
            WaypointMissionEditor* m = &app->waypointMissionEditor;
            ASSERT_EQ(m->waypointCount, 1);
            EXPECT_NEAR(m->waypoints[0].x, expected.x, 1e-9);
            EXPECT_EQ(m->waypoints[0].altitude, 40.0) << "no terrain: the plain snap altitude";
            undoLastAction(&m->history);
            EXPECT_EQ(m->waypointCount, 0);
        } else if (c.panel == 25) {
            TransectRegion* t = &app->transectRegion;
            ASSERT_EQ(t->pointCount, 1);
            EXPECT_NEAR(t->points[0].y, expected.y, 1e-9);
            undoLastAction(&t->history);
            EXPECT_EQ(t->pointCount, 0);
        } else {
            EXPECT_EQ(state()->showTapInfo, 1u);
            EXPECT_NEAR(state()->tapInfoPosition.x, expected.x, 1e-9);
            EXPECT_NEAR(state()->tapInfoPosition.y, expected.y, 1e-9);
            EXPECT_EQ(app->orvikGeofence.pointCount + app->transectRegion.pointCount + app->waypointMissionEditor.waypointCount, 0);
            // The box sits above the tapped point; a tap on it closes it and is no map tap.
            click(&harness, x, 400 + 2 * harness.app->uiMetrics.textHeight);
            EXPECT_EQ(state()->showTapInfo, 0u);
        }
    }
    // A full geofence ignores further taps.
    state()->openPanel = 1;
    for (i32 i = 0; i < 100; i++) app->orvikGeofence.points[i] = mercatorOf(kLatitude, kLongitude + i * 1e-5);
    app->orvikGeofence.pointCount = 100;
    click(&harness, 500, 300);
    EXPECT_EQ(app->orvikGeofence.pointCount, 100);
}

TEST_F(FlyScreenTest, EmergencyPromptHoldsItsPanelAndBackClosesThePanelThenLeaves) {
    frames(&harness);
    // While an automatic emergency release counts down its prompt stays up whatever is opened; once
    // cancelled the Orvik panel stays.
    OrvikPayloadState* orvik = &harness.app->droneConnection.payload.orvik;
    orvik->autoReleaseDeadline = (i64)harness.render.now + 5000000;
    state()->openPanel = FlyPanelWaypoints;
    frames(&harness);
    EXPECT_EQ(state()->openPanel, (u32)FlyPanelOrvikEmergencyPrompt);
    orvik->autoReleaseDeadline = -1;
    frames(&harness);
    EXPECT_EQ(state()->openPanel, (u32)FlyPanelOrvikMain);
    // A raised alert brings the Orvik panel up by itself.
    state()->openPanel = FlyPanelWaypoints;
    orvik->alertRaised = 1;
    frames(&harness);
    EXPECT_EQ(state()->openPanel, (u32)FlyPanelOrvikMain);
    orvik->alertRaised = 0;

    // A KMZ being read into the editor shows how far it is on the Load panel, and Back from the
    // panel gives it up (Back from another panel leaves it running).
    KmzImportJob* import = &harness.app->kmzImport;
    import->state = KmzImportRunning;
    import->percent = 42;
    state()->openPanel = FlyPanelExportedKmzList;
    harness.render.captureText = true;
    frames(&harness);
    EXPECT_NE(shownText(&harness, "Parsing 42%", true), nullptr);
    state()->openPanel = FlyPanelDiagnostics;
    tapKey(&harness, KeyEscape);
    EXPECT_EQ(import->cancel, 0u);
    state()->openPanel = FlyPanelExportedKmzList;
    tapKey(&harness, KeyEscape);
    EXPECT_EQ(import->cancel, 1u);
    EXPECT_EQ(topScreen(&harness), flyScreen);
    EXPECT_EQ(state()->openPanel, 0u);
    import->state = KmzImportIdle;

    tapKey(&harness, KeyEscape);
    EXPECT_EQ(stackDepth(&harness), 1);
}

TEST_F(FlyScreenTest, MiniViewTapSwapsViewsAndDragPicksTheCorner) {
    StillVideo video(harness.ui);
    ASSERT_NE(video.decoder->imageSlotId, 0u);
    frames(&harness, 2);
    f32 l = lineHeight();
    // The mini video sits bottom right: a tap on it makes the video the main view.
    Vec2F32 mini{1920 - 5 * l, 5 * l};
    click(&harness, mini.x, mini.y);
    EXPECT_EQ(state()->mapMinimized, 1u);
    // Camera settings bring the map back as the main view while they are open.
    state()->openPanel = FlyPanelCameraSettings;
    frames(&harness);
    EXPECT_EQ(harnessPixel(&harness.render, 960, 300) & 0xFFFFFF, 0x000000u) << "map main view over black";
    state()->openPanel = 0;
    // Dragging the mini map to the upper left picks the top-left corner and does not swap.
    pressAt(mini.x, mini.y);
    harnessMouseMove(&harness.render, 400, 700);
    frames(&harness);
    EXPECT_EQ(harness.app->preferences.minimapCorner, (u32)MinimapTopLeft);
    harnessMouseMove(&harness.render, 300, 200);
    frames(&harness);
    EXPECT_EQ(harness.app->preferences.minimapCorner, (u32)MinimapBottomLeft);
    release();
    EXPECT_EQ(state()->mapMinimized, 1u);
    writeHarnessPng(&harness.render, outputPath("fly_screen_video.png").c_str());
    // A tap on the HUD over the video returns the map as the main view.
    click(&harness, 960, 540);
    EXPECT_EQ(state()->mapMinimized, 0u);
}

TEST_F(FlyScreenTest, KeyPadClicksSetTheVendorCommandFlags) {
    placeDrone();
    // Without a picture the map stays the main view while the key pad is open.
    state()->mapMinimized = 1;
    state()->openPanel = FlyPanelKeyPad;
    frames(&harness, 2);
    EXPECT_EQ(state()->mapCenteredOnce, 1u);
    StillVideo video(harness.ui);
    frames(&harness);
    u32* requests = harness.app->droneConnection.workswellCamera.requests;
    f32 unit = 0.8f * lineHeight();
    struct Key {
        f32 dx, dy;
        u32 request;
    };
    const Key keys[] = {{0, 1.9f, WorkswellRequestVendor1},
                        {-1.9f, 0, WorkswellRequestVendor4},
                        {0, -1.9f, WorkswellRequestVendor2},
                        {1.9f, 0, WorkswellRequestVendor3}};
    for (const Key& key : keys) {
        std::memset(requests, 0, sizeof(u32) * kWorkswellRequests);
        click(&harness, 960 + key.dx * unit, 540 + key.dy * unit);
        for (u32 r = 0; r < kWorkswellRequests; r++) EXPECT_EQ(requests[r], r == key.request ? 1u : 0u) << r;
    }
    // A long hold followed by a release sets nothing.
    std::memset(requests, 0, sizeof(u32) * kWorkswellRequests);
    pressAt(960 + 1.9f * unit, 540);
    harness.render.now += 1000000;
    frames(&harness);
    release();
    EXPECT_EQ(requests[WorkswellRequestVendor3], 0u);
}

// While the flight log cannot be written, its status stands in red in the top bar, left of the
// indicators; it goes when the log can be written again.
TEST_F(FlyScreenTest, TheTopBarShowsWhyTheFlightLogCannotBeWritten) {
    frames(&harness, 2);
    // The bar below the top of the window (no insets here), one button high.
    const Rect bar{0, 1920, 1080 - harness.app->uiMetrics.buttonHeight, 1080};
    auto redPixels = [&] {
        u32 count = 0;
        for (i32 y = (i32)bar.y0 + 2; y < (i32)bar.y1 - 2; y += 2) {
            for (i32 x = (i32)bar.x0; x < (i32)(bar.x0 + 0.4f * (bar.x1 - bar.x0)); x += 2) {
                u32 pixel = harnessPixel(&harness.render, x, y);
                count += red(pixel) > 200 && green(pixel) < 90;
            }
        }
        return count;
    };
    u32 before = redPixels();
    harness.app->flightLogger.writeFailure = makeString("Flight log: disk full");
    frames(&harness, 2);
    writeHarnessPng(&harness.render, outputPath("fly_screen_log_status.png").c_str());
    EXPECT_GT(redPixels(), before + 200);
    harness.app->flightLogger.writeFailure = FixedString{};
    frames(&harness, 2);
    EXPECT_EQ(redPixels(), before);
}

TEST(FlyScreenTexts, DiagnosticsFollowTheSensorMasksAndStatusTexts) {
    FixedString linkProblem{};
    auto text = [&](const VehicleState* v) {
        u8 bytes[kFlyDiagnosticsBytes];
        ByteWriter w = makeByteWriter(bytes, kFlyDiagnosticsBytes);
        // 12:00:00 UTC on a day, one hour east of UTC.
        writeFlyDiagnosticsText(&w, &linkProblem, v, 100000000, 13190774400000 + 12 * 3600000, 3600000);
        return std::string((const char*)bytes, (size_t)w.length);
    };
    auto v = std::make_unique<VehicleState>();
    EXPECT_EQ(text(v.get()), "No errors or diagnostic messages");
    // A drone port held by another program comes first, on its own line.
    linkProblem = makeString("Port 14550 is in use by another program");
    EXPECT_EQ(text(v.get()), "Port 14550 is in use by another program\n");
    linkProblem = FixedString{};
    v->sensorsPresent = v->sensorsEnabled = (1ull << 40) | (1ull << 3) | (1ull << 31) | (1ull << 5);
    v->sensorsHealthy = 1ull << 5;
    EXPECT_EQ(text(v.get()), "Absolute Pressure Sensor Error, Sensor Bit 31 Error, Sensor Bit 40 Error\n");
    v->sensorsEnabled &= ~(1ull << 31);  // present but not enabled: no fault
    for (i32 i = 0; i < 10; i++) {
        v->statusTextNewest = (u8)i;
        v->statusTexts[i].time = 100000000 - (u64)(10 - i) * 1000000;
        std::snprintf(v->statusTexts[i].text, kStatusTextBytes, "text %d", i);
    }
    v->statusTextCount = 10;
    EXPECT_EQ(text(v.get()), "Absolute Pressure Sensor Error, Sensor Bit 40 Error\n12:59:59   text 9\n12:59:58   text 8\n");
    // A text longer than the panel holds is cut at 500 bytes.
    v->sensorsPresent = v->sensorsEnabled = ~0ull;
    v->sensorsHealthy = 0;
    std::string all = text(v.get());
    EXPECT_LE(all.size(), (size_t)kFlyDiagnosticsBytes);
    EXPECT_GT(all.size(), (size_t)kFlyDiagnosticsBytes - 60);
}

TEST(FlyScreenTexts, AltitudesAndTelemetryShowDashesWhereTerrainIsUnknown) {
    auto v = std::make_unique<VehicleState>();
    auto loader = std::make_unique<ElevationMapLoader>();
    auto connection = std::make_unique<DroneConnection>();
    Preferences p{};
    p.inputtedTakeoffElevation = 500;
    p.showAltMslFromElevationMap = 1;
    p.showAltMslFromTakeoffElevation = 1;
    struct Case {
        bool position;
        bool home;
        const char* text;
    };
    const Case cases[] = {
        {false, false, "Alt --- ATO / --- AGL   MSL ---   MSL --- (takeoff)"},
        {true, false, "Alt 30 m ATO / --- AGL   MSL ---   MSL 530 m (takeoff)"},
        {true, true, "Alt 30 m ATO / --- AGL   MSL ---   MSL 530 m (takeoff)"},
    };
    for (const Case& c : cases) {
        *v = VehicleState{};
        if (c.position) v->globalPosition = GlobalPosition{1, kLongitude, kLatitude, 30, 0};
        if (c.home) v->home = StoredPosition{1, kLongitude, kLatitude, 0};
        FlyAltitudes a = flyScreenAltitudes(v.get(), loader.get(), &p);
        EXPECT_EQ(a.homeGroundHeight, kUnknownGround);
        EXPECT_TRUE(std::isnan(a.aboveGround));
        EXPECT_TRUE(std::isnan(a.mslFromElevation));
        EXPECT_EQ(std::isnan(a.mslFromTakeoff), !c.position);
        connection->vehicle = *v;
        FixedString t = telemetryText(&p, connection.get(), 1, a.aboveGround, a.mslFromElevation, a.mslFromTakeoff);
        EXPECT_EQ(std::string(t.text, t.length), c.text);
    }
}

TEST(FlyScreenTexts, TrafficIsKeptLongerNearTheDrone) {
    struct Case {
        f64 distance;
        f64 ageSeconds;
        bool shown;
    };
    const Case cases[] = {{30000, 59.9, true}, {30000, 60, false}, {5000, 60, true},   {5000, 239.9, true},
                          {5000, 240, false},  {20000, 200, true}, {20001, 200, false}, {-1, 61, false}};
    for (const Case& c : cases) {
        EXPECT_EQ(isTrafficShown(c.distance, (u64)(c.ageSeconds * 1e6)), c.shown) << c.distance << " " << c.ageSeconds;
    }
}

TEST(FlyScreenTexts, ScaleBarPicksUnitAndStep) {
    struct Case {
        f64 metresPerPixel;
        u32 units;
        const char* label;
    };
    // 6 text sizes of 22 px = 132 px; the bar may take 600 px.
    const Case cases[] = {
        {1.0, UnitsMetricMps, "600 m"},         // 132 m: steps of 100 m, three per side
        {1000.0 / 1920, UnitsImperialMph, "1000 ft"},  // about 1 km across: 225 ft, steps of 100 ft
        {100.0, UnitsImperialMph, "20 mi"},     // 13.2 km: 8.2 mi, steps of 10 mi
        {100.0, UnitsMetricKmh, "60 km"},
        {0.001, UnitsMetricMps, "600 mm"},     // 0.132 m
        {0.0005, UnitsNauticalKn, "10 in"},
    };
    for (const Case& c : cases) {
        ScaleBar bar = flyScaleBar(c.metresPerPixel, 22, 600, c.units);
        EXPECT_EQ(std::string(bar.label.text, bar.label.length), c.label) << c.metresPerPixel;
        EXPECT_LE(bar.stepsPerSide * bar.stepPixels, 300.0f + 1e-3f);
    }
}

}  // namespace

namespace {

// What the drone link ignored for its sender is shown, not dropped silently.
TEST(FlyScreenTexts, DiagnosticsShowThePacketsFromUnknownSenders) {
    auto v = std::make_unique<VehicleState>();
    u8 bytes[kFlyDiagnosticsBytes];
    ByteWriter w = makeByteWriter(bytes, kFlyDiagnosticsBytes);
    writeFlyDiagnosticsText(&w, nullptr, v.get(), 100000000, 13190774400000, 0, 1501);
    EXPECT_EQ(std::string((const char*)bytes, (size_t)w.length), "1501 packets from unknown senders ignored\n");
}

}  // namespace
