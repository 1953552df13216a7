// The replay's views: the side view's grid step, the map's scale bar, traffic expiry and labels,
// the sensor-health rows, and real frames of the viewer on llvmpipe whose side view shows the earth,
// the zigzag band, the airspace band and the path coloured by payload activity at probed pixels,
// and whose map opens fitted to the track with the vehicle on it.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Drone/AirTraffic.h"
#include "Drone/Mavlink/VehicleState.h"
#include "FlightLogReplay/FlightLogList.h"
#include "FlightLogReplay/FlightLogReplay.h"
#include "FlightLogReplay/FlightLogTestLogs.h"
#include "Mission/SideViewPlot.h"
#include "ScreenTestSupport.h"
#include "Screens/ChildScreens.h"
#include "Screens/FlyScreen.h"
#include "Screens/ViewFlightLogScreen.h"

namespace {

std::string text(const FixedString& s) { return std::string(s.text, s.length); }

TEST(ReplayViewArithmetic, GridStepIsTheFirst125ValueWhoseMidpointPassesSixTextSizes) {
    constexpr f32 kText = 20;
    struct Case {
        f64 metresOnScreen;  // what 6 text sizes cover
        u32 units;
        f64 stepMetres;
    };
    const Case cases[] = {
        {30.0, UnitsMetricMps, 20.0},                    // midpoint of 20 and 50 is 35
        {30.0, UnitsImperialMph, 100.0 / 3.280839895},   // 98.4 ft: 100 ft, as a view 60 text sizes tall over 300 m
        {1.49, UnitsMetricMps, 1.0},                     // 1.5 is the midpoint of 1 and 2
        {1.5, UnitsMetricMps, 2.0},                      // ... and has to be passed
        {0.01, UnitsMetricMps, 0.1},
        {2e12, UnitsMetricMps, 1e9},                     // beyond the series
    };
    for (const Case& c : cases) {
        MapView view{};
        view.pixelsPerUnit = 6.0 * kText / c.metresOnScreen;
        Preferences preferences{};
        preferences.units = c.units;
        EXPECT_NEAR(sideViewGridStep(&view, kText, &preferences), c.stepMetres, c.stepMetres * 1e-9)
            << c.metresOnScreen << " " << c.units;
    }
}

TEST(ReplayViewArithmetic, ScaleBarOfThirtySevenMetresReadsFortyAndChangesUnitAtEachLimit) {
    constexpr f32 kText = 22;
    f64 metresPerPixel = 37.0 / (6 * kText);
    f32 stepPixels = (f32)(10 / metresPerPixel);
    ScaleBar bar = flyScaleBar(metresPerPixel, kText, 5 * stepPixels, UnitsMetricMps);
    EXPECT_EQ(text(bar.label), "40 m");
    EXPECT_EQ(bar.stepsPerSide, 2);
    EXPECT_NEAR(bar.stepPixels, stepPixels, 1e-3);
    struct Case {
        f64 targetMetres;  // 6 text sizes
        u32 units;
        const char* unit;
    };
    const Case cases[] = {{0.4999, UnitsMetricMps, " mm"},   {0.5001, UnitsMetricMps, " m"},
                          {499.9, UnitsMetricKmh, " m"},     {500.1, UnitsMetricKmh, " km"},
                          {0.1523, UnitsImperialMph, " in"}, {0.1525, UnitsImperialMph, " ft"},
                          {804.6, UnitsImperialMph, " ft"},  {804.7, UnitsImperialMph, " mi"}};
    for (const Case& c : cases) {
        std::string label = text(flyScaleBar(c.targetMetres / (6 * kText), kText, 2000, c.units).label);
        ASSERT_GT(label.size(), strlen(c.unit));
        EXPECT_EQ(label.substr(label.size() - strlen(c.unit)), c.unit) << c.targetMetres;
    }
}

TEST(ReplayViewArithmetic, TrafficExpiresByDistanceAndIsLabelledByCallsignOrIcao) {
    EXPECT_TRUE(isTrafficShown(19000, 239999999));
    EXPECT_FALSE(isTrafficShown(19000, 240000000));
    EXPECT_TRUE(isTrafficShown(21000, 59999999));
    EXPECT_FALSE(isTrafficShown(21000, 60000000));

    Preferences preferences{};
    preferences.units = UnitsMetricMps;
    preferences.adsbWarningCylinderAltitude = 1500;
    EXPECT_TRUE(isTrafficLow(1500, &preferences));
    EXPECT_FALSE(isTrafficLow(1500.001, &preferences));

    AirTrafficSlot slot{};
    slot.altitude = 1234.4;
    slot.icaoAddress = 0x4b1a2f;
    EXPECT_EQ(text(trafficLabel(&slot, &preferences)), "1234 m\nICAO: 4B1A2F");
    std::memcpy(slot.callsign, "SWR123", 7);
    EXPECT_EQ(text(trafficLabel(&slot, &preferences)), "1234 m\nSWR123");
}

TEST(ReplaySensorHealth, UnnamedBitsReadAsSensorBitErrorsAndTextsAreTimedFromTheLogStart) {
    VehicleState* vehicle = (VehicleState*)std::calloc(1, sizeof(VehicleState));
    u64 bits = (1ull << 40) | (1ull << 31) | (1ull << 0) | (1ull << 5);
    vehicle->sensorsPresent = bits;
    vehicle->sensorsEnabled = bits & ~(1ull << 5);  // bit 5 is not enabled
    vehicle->sensorsHealthy = 0;
    // The ring wraps: entries 254, 255 and 0.
    const char* texts[3] = {"PreArm: Compass not calibrated", "EKF3 IMU0 is using GPS", "Crash: Disarming"};
    for (i32 n = 0; n < 3; ++n) {
        StatusTextEntry* entry = &vehicle->statusTexts[(u8)(254 + n)];
        entry->time = 95000000 + (u64)n * 1000000;
        std::strcpy(entry->text, texts[n]);
    }
    vehicle->statusTextOldest = 254;
    vehicle->statusTextNewest = 0;
    vehicle->statusTextCount = 3;
    std::vector<FixedString> rows(kSensorHealthRows);
    // The log starts 20 days after its time base: entry times are counted from the base.
    i64 offset = -20ll * 86400 * 1000000;
    for (i32 n = 0; n < 3; ++n) vehicle->statusTexts[(u8)(254 + n)].time -= offset;
    i32 count = flightLogSensorHealthRows(rows.data(), kSensorHealthRows, vehicle, offset);
    ASSERT_EQ(count, 6);
    EXPECT_EQ(text(rows[0]), std::string(sysStatusSensorName(0)));
    EXPECT_EQ(text(rows[1]), "Sensor Bit 31 Error");
    EXPECT_EQ(text(rows[2]), "Sensor Bit 40 Error");
    EXPECT_EQ(text(rows[3]), text(durationString(95000000)) + "   PreArm: Compass not calibrated");
    EXPECT_EQ(text(durationString(95000000)), "1 min 35 s");
    EXPECT_EQ(text(rows[5]), text(durationString(97000000)) + "   Crash: Disarming");
    std::free(vehicle);
}

// ---------------------------------------------------------------------------------------------------
// Real frames of the viewer.

constexpr i32 kWidth = 1280;
constexpr i32 kHeight = 720;
constexpr i64 kStart = 1765100000000;
constexpr u32 kSamples = 2000;
constexpr f64 kStepMetres = 0.5;  // 1,000 m in all
constexpr f64 kFlightAltitude = 60;

u32 rgb(u32 pixel) { return pixel & 0xFFFFFF; }

struct ReplayViewFrames : ::testing::Test {
    ScreensHarness harness{};
    bool started = false;
    flightlogtest::IndexedLog log;

    void SetUp() override {
        // A minute of positions north along 8 E from 47 N.
        std::vector<flightlogtest::Entry> entries{{7, kStart, std::vector<u8>{0, 0, 3, 0}}};
        for (i64 s = 1; s <= 60; s++) {
            std::vector<u8> position(36, 0);
            f64 lat = 47.0 + s * 1e-4, lon = 8.0;
            std::memcpy(position.data(), &lat, 8);
            std::memcpy(position.data() + 8, &lon, 8);
            entries.push_back({10, kStart + 1000 * s, position});
        }
        ASSERT_TRUE(started = startScreensHarness(&harness, kWidth, kHeight));
        ASSERT_NO_FATAL_FAILURE(log.build(entries));
        harness.app->flightLogList.index = log.index;
        ScreenStack* stack = &harness.app->screenStack;
        stack->screens[1] = viewFlightLogScreen;
        stack->depth = 2;
        std::memset(stack->screenState, 0, sizeof(stack->screenState));
        frames(&harness);
        ASSERT_EQ(state()->isInitialised, 1u);
    }
    void TearDown() override {
        if (started) stopScreensHarness(&harness);
    }
    ViewFlightLogState* state() { return (ViewFlightLogState*)harness.app->screenStack.screenState; }

    // A level flight over flat ground 1,000 m long whose payload is active over its middle fifth.
    void flyLevelTrack() {
        ViewFlightLogState* s = state();
        s->trackCount = kSamples;
        std::memset(s->trackPayloadBits, 0, sizeof(s->trackPayloadBits));
        for (u32 i = 0; i < kSamples; ++i) {
            s->trackStepDistance[i] = i ? (f32)kStepMetres : 0;
            s->trackAltitude[i] = (f32)kFlightAltitude;
            s->trackAgl[i] = (f32)kFlightAltitude;
            if (i >= 800 && i < 1200) s->trackPayloadBits[i / 64] |= 1ull << (i % 64);
        }
        s->totalDistance = kStepMetres * (kSamples - 1);
        s->isPlaying = 0;
    }
    u32 sidePixel(f64 distance, f64 altitude) {
        const MapView* view = &state()->sideView;
        return rgb(harnessPixel(&harness.render, (i32)mapViewWindowX(view, distance),
                                (i32)mapViewWindowY(view, altitude)));
    }
    // A distance where the zigzag is at its peak (h = L) and one where it touches the ground.
    f64 zigzagPeak(f64 low, i32 k) { return state()->totalDistance - low * 0.8333333 * (k + 0.5); }
    f64 zigzagFoot(f64 low, i32 k) { return state()->totalDistance - low * 0.8333333 * k; }
};

TEST_F(ReplayViewFrames, SideViewShowsEarthZigzagAirspaceAndThePayloadStretch) {
    flyLevelTrack();
    Preferences* preferences = &harness.app->preferences;
    preferences->lowAltitudeWarning = 30;
    preferences->airspaceIndicatorAltitude = 120;
    state()->openPanel = ViewerPanelSideView;
    frames(&harness, 3);
    writeHarnessPng(&harness.render, outputPath("view_flight_log_side_view.png").c_str());

    EXPECT_EQ(sidePixel(300, -20), rgb(kSideViewEarth));
    EXPECT_EQ(sidePixel(300, 150), rgb(kSideViewSky));
    EXPECT_EQ(sidePixel(300, 100), rgb(kSideViewAirspace));
    // The zigzag: 30 m high at its peaks, every 25 m.
    for (i32 k = 3; k < 30; k += 7) {
        SCOPED_TRACE(k);
        EXPECT_EQ(sidePixel(zigzagPeak(30, k), 27), rgb(kSideViewBandDark));
        EXPECT_EQ(sidePixel(zigzagPeak(30, k), 33), rgb(kSideViewAirspace));
        EXPECT_EQ(sidePixel(zigzagFoot(30, k), 8), rgb(kSideViewBandLight));
    }
    // The path: yellow over the payload's stretch (400 to 600 m), blue elsewhere.
    EXPECT_EQ(sidePixel(500, kFlightAltitude), rgb(kSideViewPathIgnited));
    EXPECT_EQ(sidePixel(200, kFlightAltitude), rgb(kSideViewPathPlain));
    EXPECT_EQ(sidePixel(800, kFlightAltitude), rgb(kSideViewPathPlain));
}

TEST_F(ReplayViewFrames, AWarningAltitudeOfZeroOrLessDrawsNoZigzag) {
    flyLevelTrack();
    Preferences* preferences = &harness.app->preferences;
    preferences->airspaceIndicatorAltitude = 120;
    state()->openPanel = ViewerPanelSideView;
    for (f64 low : {0.0, -10.0}) {
        SCOPED_TRACE(low);
        preferences->lowAltitudeWarning = low;
        frames(&harness, 2);
        for (f64 d : {100.0, 333.0, 777.0}) {
            EXPECT_EQ(sidePixel(d, 5), rgb(kSideViewAirspace));
            EXPECT_EQ(sidePixel(d, -5), rgb(kSideViewEarth));  // the band does not reach into the earth
        }
    }
}

TEST_F(ReplayViewFrames, TheMapOpensFittedToTheTrackWithTheVehicleOnIt) {
    // The log's positions carry no vehicle: its bounds are set as the set-up pass would leave them.
    ViewFlightLogState* s = state();
    s->trackBounds[0] = 7.999, s->trackBounds[1] = 8.001, s->trackBounds[2] = 47.0, s->trackBounds[3] = 47.006;
    s->mapFitted = 0;
    frames(&harness, 2);
    ASSERT_EQ(s->mapFitted, 1u);
    // The track's middle is at the map's centre and its whole extent is on screen.
    GeoPoint middle{(s->trackBounds[0] + s->trackBounds[1]) / 2, (s->trackBounds[2] + s->trackBounds[3]) / 2};
    Vec2F32 centre = geoPointToScreen(&s->mapView, middle);
    EXPECT_NEAR(centre.x, kWidth / 2.0f, 2);
    Vec2F32 south = geoPointToScreen(&s->mapView, GeoPoint{8.0, s->trackBounds[2]});
    Vec2F32 north = geoPointToScreen(&s->mapView, GeoPoint{8.0, s->trackBounds[3]});
    EXPECT_GT(north.y - south.y, kHeight / 3.0f);
    EXPECT_LT(north.y, (f32)kHeight);
    EXPECT_GT(south.y, 0.0f);

    // The replayed vehicle at the track's middle: its arrow covers the map's colour there.
    Vec2F32 at = geoPointToScreen(&s->mapView, middle);
    u32 before = rgb(harnessPixel(&harness.render, (i32)at.x, (i32)at.y));
    VehicleState* vehicle = &harness.app->flightLogReplay.connection.vehicle;
    vehicle->globalPosition.time = 1;
    vehicle->globalPosition.latitude = middle.latitude;
    vehicle->globalPosition.longitude = middle.longitude;
    frames(&harness, 2);
    writeHarnessPng(&harness.render, outputPath("view_flight_log_map.png").c_str());
    EXPECT_NE(rgb(harnessPixel(&harness.render, (i32)at.x, (i32)at.y)), before);
}

TEST_F(ReplayViewFrames, AClickOnTheMiniVideoSwapsItAndADragMovesTheMiniMapTopLeft) {
    StillVideo video(harness.ui);
    ASSERT_NE(video.decoder->imageSlotId, 0u);
    frames(&harness, 2);
    f32 l = harness.app->uiMetrics.buttonTextHeight;
    Vec2F32 mini{kWidth - 5 * l, 5 * l};  // the bottom-right corner
    click(&harness, mini.x, mini.y);
    EXPECT_EQ(state()->miniViewSwapped, 1u);
    frames(&harness);
    // The video is large: its half-transparent grey over the black that a large video clears to.
    EXPECT_EQ(harnessPixel(&harness.render, kWidth / 2, kHeight / 3) & 0xFFFFFF, 0x404040u);
    // A drag from the mini map into the top-left quadrant puts it there without swapping back.
    harnessMouseMove(&harness.render, mini.x, mini.y);
    frames(&harness);
    harnessMouseButton(&harness.render, KeyMouseLeft, true);
    frames(&harness);
    harnessMouseMove(&harness.render, 300, kHeight - 200);
    frames(&harness);
    harnessMouseButton(&harness.render, KeyMouseLeft, false);
    frames(&harness);
    EXPECT_EQ(harness.app->preferences.minimapCorner, (u32)MinimapTopLeft);
    EXPECT_EQ(state()->miniViewSwapped, 1u);
    writeHarnessPng(&harness.render, outputPath("view_flight_log_mini_map.png").c_str());
}

}  // namespace
