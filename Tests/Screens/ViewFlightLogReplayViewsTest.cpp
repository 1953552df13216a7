// The replay's views: the side view's grid step, the map's scale bar, traffic expiry and labels and
// the shading threshold as arithmetic; then real frames of the viewer on llvmpipe over a log that
// python writes from node-mavlink datagrams (a level flight north with an Orvik payload dropping over
// its middle, SYS_STATUS sensor bits 31 and 40 unhealthy, a status text 95 s in, a geofence and a
// started mission): the side view's earth, zigzag band, airspace band and path coloured by payload
// activity at probed pixels; the map fitted to the track with the flown plan and the vehicle on it;
// the sensor-health rows; the Missions panel saving the flown plan; the tap bubble's height over a
// GDAL-made raster; the mini video's swap and corner.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/MathEarth.h"
#include "Decoders/GeoTiff.h"
#include "Drone/AirTraffic.h"
#include "Mavlink/VehicleState.h"
#include "Mavlink/NodePeer.h"
#include "FlightLogReplay/FlightLogList.h"
#include "FlightLogReplay/FlightLogReplay.h"
#include "Map/ElevationMapLoader.h"
#include "Mission/MissionFiles.h"
#include "Mission/SideViewPlot.h"
#include "Platform/SystemInfo.h"
#include "ScreenTestSupport.h"
#include "Screens/ChildScreens.h"
#include "Screens/FlyScreen.h"
#include "Screens/ViewFlightLogScreen.h"
#include "SourceCommon/UserInterface/Screen.h"

namespace {

std::string text(const FixedString& s) { return std::string(s.text, s.length); }

std::string runCommand(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    size_t got;
    while (pipe && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    EXPECT_TRUE(pipe && pclose(pipe) == 0) << command << "\n" << out;
    return out;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

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

TEST(ReplaySensorHealth, TheStatusTextRingReadsInOrderAcrossItsWrapAndFromAFarTimeBase) {
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

TEST(ReplayViewArithmetic, ShadingThresholdIsTheTakeoffGroundPlusTheAltitudeLessTheWarning) {
    VehicleState* vehicle = (VehicleState*)std::calloc(1, sizeof(VehicleState));
    vehicle->globalPosition.relativeAltitude = 55;
    vehicle->altitudeOffset = 5;
    EXPECT_FLOAT_EQ(flyShadingThreshold(vehicle, 400, 30), 430);
    EXPECT_FLOAT_EQ(flyShadingThreshold(vehicle, kUnknownGround, 30), kUnknownTapGround);
    EXPECT_FLOAT_EQ(flyShadingThreshold(vehicle, kUnknownTapGround, 30), kUnknownTapGround);
    std::free(vehicle);
}

// ---------------------------------------------------------------------------------------------------
// Real frames of the viewer over a replayed log.

constexpr i32 kWidth = 1280;
constexpr i32 kHeight = 720;
constexpr f64 kFlightAltitude = 60;

u32 rgb(u32 pixel) { return pixel & 0xFFFFFF; }

// The log and what python worked it out to hold, made once for all the frames below.
struct ViewsLog {
    std::string folder;
    std::vector<u64> buffer;
    FlightLogIndex index{};
    f64 total = 0, payloadFrom = 0, payloadTo = 0;
    std::vector<GeoPoint> geofence, waypoints;
};
ViewsLog* viewsLog = nullptr;

struct ReplayViewFrames : ::testing::Test {
    ScreensHarness harness{};
    bool started = false;

    static void SetUpTestSuite() {
        viewsLog = new ViewsLog;
        ASSERT_EQ(prepareNodePeer(), "");
        ViewsLog* v = viewsLog;
        v->folder = temporaryPath("viewer-views");
        runCommand("rm -rf '" + v->folder + "' && mkdir -p '" + v->folder + "'");
        runNodePeer("replayviews > '" + v->folder + "/flight.txt'");
        std::istringstream lines(runCommand("/usr/bin/python3 '" ORVIK_SOURCE_DIR
                                            "/Tests/Screens/flight_log_viewer_logs.py' views '" + v->folder +
                                            "/flight.txt' '" + v->folder + "'"));
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream words(line);
            std::string word;
            words >> word;
            if (word == "total") words >> v->total;
            if (word == "payload") words >> v->payloadFrom >> v->payloadTo;
            std::vector<GeoPoint>* points = word == "geofence" ? &v->geofence : word == "waypoint" ? &v->waypoints : nullptr;
            GeoPoint p;
            while (points && words >> p.latitude >> p.longitude) points->push_back(p);
        }
        std::string log = readFile(v->folder + "/views.qvlog3");
        v->buffer.assign(log.size() / 8 + 1, 0);
        std::memcpy(v->buffer.data(), log.data(), log.size());
        v->index = optimizeFlightLogFile((u8*)v->buffer.data(), (i64)log.size());
        ASSERT_EQ(v->index.error.length, 0) << v->index.error.text;
    }
    static void TearDownTestSuite() {
        delete viewsLog;
        viewsLog = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(viewsLog && viewsLog->index.entryCount > 0);
        ASSERT_TRUE(started = startScreensHarness(&harness, kWidth, kHeight));
        harness.app->flightLogList.index = viewsLog->index;
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

    // The replay jumps to the log's end and stays there.
    void playToTheEnd() {
        ViewFlightLogState* s = state();
        s->speedBaseTime = viewsLog->index.endTime;
        frames(&harness, 3);
        ASSERT_EQ(s->playbackTime, viewsLog->index.endTime);
        ASSERT_EQ(s->isPlaying, 0u);
    }
    u32 sidePixel(f64 distance, f64 altitude) {
        const MapView* view = &state()->sideView;
        return rgb(harnessPixel(&harness.render, (i32)mapViewWindowX(view, distance),
                                (i32)mapViewWindowY(view, altitude)));
    }
    u32 mapPixel(GeoPoint at) {
        Vec2F32 p = geoPointToScreen(&state()->mapView, at);
        return rgb(harnessPixel(&harness.render, (i32)p.x, (i32)p.y));
    }
    // A distance where the zigzag is at its peak (h = L) and one where it touches the ground.
    f64 zigzagPeak(f64 low, i32 k) { return state()->totalDistance - low * 0.8333333 * (k + 0.5); }
    f64 zigzagFoot(f64 low, i32 k) { return state()->totalDistance - low * 0.8333333 * k; }
};

TEST_F(ReplayViewFrames, SideViewShowsEarthZigzagAirspaceAndThePayloadStretch) {
    ASSERT_NEAR(state()->totalDistance, viewsLog->total, 1e-6);
    Preferences* preferences = &harness.app->preferences;
    preferences->lowAltitudeWarning = 30;
    preferences->airspaceIndicatorAltitude = 120;
    state()->openPanel = ViewerPanelSideView;
    frames(&harness, 3);
    writeHarnessPng(&harness.render, outputPath("view_flight_log_side_view.png").c_str());

    // The ground lies at the takeoff's height all along.
    EXPECT_EQ(sidePixel(300, -20), rgb(kSideViewEarth));
    EXPECT_EQ(sidePixel(300, 150), rgb(kSideViewSky));
    EXPECT_EQ(sidePixel(300, 100), rgb(kSideViewAirspace));
    // The zigzag: 30 m high at its peaks, every 25 m.
    for (i32 k = 3; k < 36; k += 7) {
        SCOPED_TRACE(k);
        EXPECT_EQ(sidePixel(zigzagPeak(30, k), 27), rgb(kSideViewBandDark));
        EXPECT_EQ(sidePixel(zigzagPeak(30, k), 33), rgb(kSideViewAirspace));
        EXPECT_EQ(sidePixel(zigzagFoot(30, k), 8), rgb(kSideViewBandLight));
    }
    // The path: yellow where the payload dropped, blue before and after.
    f64 from = viewsLog->payloadFrom, to = viewsLog->payloadTo;
    EXPECT_EQ(sidePixel((from + to) / 2, kFlightAltitude), rgb(kSideViewPathIgnited));
    EXPECT_EQ(sidePixel(from - 100, kFlightAltitude), rgb(kSideViewPathPlain));
    EXPECT_EQ(sidePixel(to + 100, kFlightAltitude), rgb(kSideViewPathPlain));
}

// The map's scale bar under the side view lies below the side view's axis labels: the labels' pixels
// are the same whatever the map's zoom (the bar's length and ticks change with it), and the bar's
// own label stands below them. It used to run through the distance labels at the left.
TEST_F(ReplayViewFrames, TheSideViewsLabelsStayClearOfTheMapsScaleBar) {
    state()->openPanel = ViewerPanelSideView;
    harness.render.captureText = true;
    frames(&harness, 2);
    const Rect plot = state()->sideView.rect;
    f32 textSize = harness.app->uiMetrics.textHeight;
    // The axis labels: left of the plot, and the distances below it.
    std::vector<TextRun> labels;
    for (const TextRun& run : harness.render.text) {
        bool altitude = run.x1 <= plot.x0 + 1 && run.y1 >= plot.y0 - textSize && run.y0 <= plot.y1;
        bool distance = run.y1 <= plot.y0 + 1 && run.y0 >= plot.y0 - 2.5f * textSize && run.x1 >= plot.x0;
        if (altitude || distance) labels.push_back(run);
    }
    ASSERT_GE(labels.size(), 8u);
    auto labelPixels = [&] {
        std::vector<u8> rgba((size_t)kWidth * kHeight * 4);
        readHarnessPixels(&harness.render, rgba.data());
        std::vector<u32> pixels;
        for (const TextRun& run : labels) {
            for (i32 y = (i32)run.y0 - 2; y <= (i32)run.y1 + 2; y++) {
                for (i32 x = (i32)run.x0 - 2; x <= (i32)run.x1 + 2; x++) {
                    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) continue;
                    u32 pixel;
                    std::memcpy(&pixel, &rgba[((size_t)(kHeight - 1 - y) * kWidth + x) * 4], 4);
                    pixels.push_back(pixel);
                }
            }
        }
        return pixels;
    };
    // The bar's label: below the plot and not one of the axis labels.
    auto barLabel = [&]() -> const TextRun* {
        for (const TextRun& run : harness.render.text) {
            bool isAxisLabel = false;
            for (const TextRun& label : labels) isAxisLabel = isAxisLabel || (label.text == run.text && label.x0 == run.x0);
            if (!isAxisLabel && run.y1 < plot.y0) return &run;
        }
        return nullptr;
    };
    f32 lowestLabel = 1e9f;
    for (const TextRun& run : labels) lowestLabel = std::fmin(lowestLabel, run.y0);

    std::vector<u32> first = labelPixels();
    const TextRun* bar = barLabel();
    ASSERT_NE(bar, nullptr);
    std::string firstBar = bar->text;
    EXPECT_LT(bar->y1, lowestLabel) << bar->text;
    for (f64 zoom : {2.5, 0.3}) {
        state()->mapView.zoom *= zoom;
        frames(&harness, 2);
        bar = barLabel();
        ASSERT_NE(bar, nullptr);
        EXPECT_NE(bar->text, firstBar) << "the map's zoom changed the bar";
        EXPECT_LT(bar->y1, lowestLabel) << bar->text;
        EXPECT_TRUE(labelPixels() == first) << "zoom x" << zoom << ": the scale bar shows among the labels";
    }
    writeHarnessPng(&harness.render, outputPath("view_flight_log_side_view_scale_bar.png").c_str());
}

TEST_F(ReplayViewFrames, AWarningAltitudeOfZeroOrLessDrawsNoZigzag) {
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

TEST_F(ReplayViewFrames, TheMapOpensFittedToTheTrackWithTheFlownPlanAndTheVehicleOnIt) {
    ViewFlightLogState* s = state();
    ASSERT_EQ(s->mapFitted, 1u);
    // The vehicle flew north along 8 E from 47.00009 N to 47.009 N.
    EXPECT_NEAR(s->trackBounds[0], 8.0, 1e-9);
    EXPECT_NEAR(s->trackBounds[3], 47.009, 1e-9);
    GeoPoint middle{8.0, (s->trackBounds[2] + s->trackBounds[3]) / 2};
    Vec2F32 centre = geoPointToScreen(&s->mapView, middle);
    EXPECT_NEAR(centre.x, kWidth / 2.0f, 2);
    Vec2F32 south = geoPointToScreen(&s->mapView, GeoPoint{8.0, s->trackBounds[2]});
    Vec2F32 north = geoPointToScreen(&s->mapView, GeoPoint{8.0, s->trackBounds[3]});
    EXPECT_GT(north.y - south.y, kHeight / 3.0f);
    EXPECT_LT(north.y, (f32)kHeight);
    EXPECT_GT(south.y, 0.0f);

    GeoPoint end{8.0, 47.009};
    u32 before = mapPixel(end);
    playToTheEnd();
    writeHarnessPng(&harness.render, outputPath("view_flight_log_map.png").c_str());
    // The vehicle's arrow where the flight ended.
    EXPECT_NE(mapPixel(end), before);
    // The flown plan: the geofence's edges in red, the waypoints' path in white (orange where it
    // drops), as the fly screen draws them; the map zoomed out a little first, out of the scale bar's
    // way (the fitted fence's southern edge lies under the bar's label, which is drawn over the map).
    s->mapView.zoom *= 0.8;
    frames(&harness, 2);
    const std::vector<GeoPoint>& fence = viewsLog->geofence;
    ASSERT_EQ(fence.size(), 4u);
    for (size_t i = 0; i < fence.size(); ++i) {
        const GeoPoint& a = fence[i];
        const GeoPoint& b = fence[(i + 1) % fence.size()];
        u32 pixel = mapPixel(GeoPoint{(a.longitude + b.longitude) / 2, (a.latitude + b.latitude) / 2});
        EXPECT_GT(pixel & 0xFF, 0xC0u) << i;           // red
        EXPECT_LT((pixel >> 8) & 0xFF, 0x80u) << i;
    }
    const std::vector<GeoPoint>& w = viewsLog->waypoints;
    ASSERT_EQ(w.size(), 3u);
    Vec2F32 a = geoPointToScreen(&s->mapView, w[0]);
    Vec2F32 b = geoPointToScreen(&s->mapView, w[1]);
    Vec2F32 c = geoPointToScreen(&s->mapView, w[2]);
    // Midway along each leg: the first leg drops (orange), the second does not (white).
    u32 dropping = rgb(harnessPixel(&harness.render, (i32)((a.x + b.x) / 2), (i32)((a.y + b.y) / 2)));
    u32 plain = rgb(harnessPixel(&harness.render, (i32)((b.x + c.x) / 2), (i32)((b.y + c.y) / 2)));
    EXPECT_EQ(dropping, rgb(0xFF0080FF));
    EXPECT_EQ(plain, 0xFFFFFFu);
}

// The vehicle lies over the tap bubble: a bubble opened just below the vehicle, reaching over it,
// leaves the vehicle's arrow as it was.
TEST_F(ReplayViewFrames, TheVehicleIsDrawnOverTheTapBubble) {
    playToTheEnd();
    GeoPoint end{8.0, 47.009};
    u32 arrow = mapPixel(end);
    Vec2F32 v = geoPointToScreen(&state()->mapView, end);
    f32 text = harness.app->uiMetrics.textHeight;
    click(&harness, v.x, v.y - 0.6f * text - 1.2f * text);
    frames(&harness);
    ASSERT_EQ(state()->tapInfoOpen, 1u);
    EXPECT_EQ(mapPixel(end), arrow);
}

TEST_F(ReplayViewFrames, SensorHealthListsBits31And40AndTheTextAtOneMinuteThirtyFive) {
    playToTheEnd();
    state()->openPanel = ViewerPanelSensorHealth;
    frames(&harness, 2);
    const VehicleState* vehicle = &harness.app->flightLogReplay.connection.vehicle;
    const FlightLogIndex* index = &viewsLog->index;
    std::vector<FixedString> rows(kSensorHealthRows);
    i32 count = flightLogSensorHealthRows(rows.data(), kSensorHealthRows, vehicle,
                                          (index->timeBase - index->startTime) * 1000);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(text(rows[0]), "Sensor Bit 31 Error");
    EXPECT_EQ(text(rows[1]), "Sensor Bit 40 Error");
    EXPECT_EQ(text(rows[2]), "1 min 35 s   Low battery");
    // The panel's list reaches below its last row by the view's height.
    EXPECT_LT(state()->sensorHealthBottom, -3.0);
}

TEST_F(ReplayViewFrames, TheMissionsPanelSavesTheFlownPlanAndLoadsAFileIntoTheReplay) {
    char pattern[] = "/tmp/orvik-viewer-missions-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string home = pattern;
    std::filesystem::create_directory(home + "/Documents");
    // The data folder under a home of the test's own, put back however the test ends.
    struct HomeSwap {
        std::string saved, home;
        Platform* platform;
        ~HomeSwap() {
            setenv("HOME", saved.c_str(), 1);
            readDataFolder(platform);
            std::error_code ignored;
            std::filesystem::remove_all(home, ignored);
        }
    } swap{std::getenv("HOME") ? std::getenv("HOME") : "", home, harness.platform};
    setenv("HOME", home.c_str(), 1);
    readDataFolder(harness.platform);
    playToTheEnd();
    AppState* app = harness.app;
    state()->openPanel = ViewerPanelMissions;
    frames(&harness, 2);
    // Row 0 of the panel is "Save": a name, then the keyboard's Done.
    const MapView* panel = &state()->panelViews[2];
    click(&harness, (panel->rect.x0 + panel->rect.x1) / 2, panel->rect.y1 - 0.5f * panel->rowHeight);
    typeText(&harness, "flown");
    sendKeyEvent(&harness, KeyEventDone);
    for (i32 i = 0; i < 200 && text(app->missionList.message) != "Saved flown.csv"; ++i) {
        updateMissionList(&app->missionList, &harness.platform->fileReads);
        frames(&harness);
    }
    EXPECT_EQ(text(app->missionList.message), "Saved flown.csv");
    std::string csv = readFile(home + "/Documents/Tarnwick/Missions/flown.csv");

    // Loading it back replaces the replayed plan, not the plan being edited.
    FlightLogReplay* replay = &app->flightLogReplay;
    replay->mission.waypointCount = 0;
    replay->geofence.pointCount = 0;
    // The application's update lists the folder each frame; here the test does.
    for (i32 i = 0; i < 100 && app->missionList.count == 0; ++i) {
        updateMissionList(&app->missionList, &harness.platform->fileReads);
        frames(&harness);
    }
    ASSERT_EQ(app->missionList.count, 1);
    auto pressRow = [&](i32 row) {
        click(&harness, (panel->rect.x0 + panel->rect.x1) / 2, panel->rect.y1 - (row + 0.5f) * panel->rowHeight);
        frames(&harness, 2);
    };
    pressRow(2);  // the file, under "Save" and the message
    pressRow(3);  // "Load"
    for (i32 i = 0; i < 100 && text(app->missionList.message) != "Loaded flown.csv"; ++i) frames(&harness);
    EXPECT_EQ(text(app->missionList.message), "Loaded flown.csv");
    EXPECT_EQ(replay->mission.waypointCount, 3);
    EXPECT_EQ(replay->geofence.pointCount, 4);
    EXPECT_EQ(app->waypointMissionEditor.waypointCount, 0);
    // The replayed mission and geofence, as the log recorded them.
    EXPECT_NE(csv.find("Reference,47.000000000,8.000000000"), std::string::npos) << csv;
    EXPECT_NE(csv.find("Waypoint,47.002000000,8.000000000,60,0,1"), std::string::npos) << csv;
    EXPECT_NE(csv.find("Waypoint,47.005000000,8.000600000,60,1,2"), std::string::npos) << csv;
    EXPECT_NE(csv.find("Geofence,47.009500000,8.001000000"), std::string::npos) << csv;
}

// The ground of plane_raster.py: 400 m at 8 E 47 N, rising 20,000 m per degree east and 10,000 m per
// degree north; bilinear interpolation gives the plane back exactly.
f64 planeHeight(GeoPoint at) { return 400 + 20000 * (at.longitude - 8.0) + 10000 * (at.latitude - 47.0); }

TEST_F(ReplayViewFrames, TheTapBubbleShowsTheHeightOfAGdalRaster) {
    std::string tiff = viewsLog->folder + "/plane.tif";
    runCommand("/usr/bin/python3 '" ORVIK_SOURCE_DIR "/Tests/Screens/plane_raster.py' '" + tiff + "'");
    ElevationMapLoader* loader = &harness.app->elevationMapLoader;
    std::string bytes = readFile(tiff);
    parseGeoTiff(&loader->slots[0].raster, (const u8*)bytes.data(), (i64)bytes.size(), 64 << 20, 4, nullptr, nullptr);
    ASSERT_EQ(loader->slots[0].raster.error.length, 0) << loader->slots[0].raster.error.text;
    loader->slots[0].state = ElevationMapLoaded;
    loader->order[0] = 0;
    loader->loadedCount = 1;

    // A tap on the map west of the track opens the bubble there.
    Vec2F32 at = geoPointToScreen(&state()->mapView, GeoPoint{7.9985, 47.004});
    click(&harness, at.x, at.y);
    frames(&harness);
    ViewFlightLogState* s = state();
    ASSERT_EQ(s->tapInfoOpen, 1u);
    Vec2 tapped{s->tapInfoPosition[0], s->tapInfoPosition[1]};
    GeoPoint point;
    mercatorToLatLng(&point, &tapped);
    EXPECT_NEAR(point.longitude, 7.9985, 1e-4);
    const Preferences* preferences = &harness.app->preferences;
    std::string bubble = text(flyTapInfoText(point, loader, preferences));
    std::string height = text(formatLength(planeHeight(point), 0.1, preferences)) + " MSL";
    EXPECT_EQ(bubble.substr(bubble.rfind('\n') + 1), height) << bubble;
    // The white box stands above the tapped point.
    Vec2F32 p = mapPointToScreen(&s->mapView, tapped);
    EXPECT_EQ(rgb(harnessPixel(&harness.render, (i32)p.x + 3, (i32)p.y + 40)), 0xFFFFFFu);
    writeHarnessPng(&harness.render, outputPath("view_flight_log_tap.png").c_str());
    releaseElevationRaster(&loader->slots[0].raster);
    loader->loadedCount = 0;
    loader->slots[0].state = 0;
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
