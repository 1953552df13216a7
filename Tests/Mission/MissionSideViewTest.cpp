// The side view in real headless frames: a path over a sharp peak shows the sky, the earth, the
// profile and the low spot in red at the probed pixels; a tap on the spot acknowledges it, it turns
// grey and the terrain check passes.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "Core/MathEarth.h"
#include "Core/Preferences.h"
#include "Mavlink/VehicleState.h"
#include "Map/ElevationMapLoader.h"
#include "Mission/MissionPath.h"
#include "Mission/MissionSideView.h"
#include "Mission/MissionSteps.h"
#include "Mission/SideViewPlot.h"
#include "Mission/WaypointUndo.h"
#include "SourceCommon/UserInterface/UiTestSupport.h"

namespace {

constexpr i32 kWidth = 800, kHeight = 600;
constexpr f32 kTextSize = 20;

struct SideViewScene {
    WaypointMissionEditor editor;
    VehicleState vehicle;
    Preferences preferences;
    ElevationMapLoader loader;
    MapView view;
    u32 openedNow;
};
SideViewScene* scene = nullptr;

void sideViewScreen(Platform*, ScreenStack* stack, UiState* ui, AppState*, ScreenResult*, void*) {
    waypointMissionSideView(&scene->view, Rect{0, (f32)kWidth, 0, (f32)kHeight}, kTextSize, &scene->loader,
                            &scene->editor, &scene->vehicle, ui, stack, &scene->preferences, scene->openedNow);
    scene->openedNow = 0;
}

// An SRTM3 tile at 100 m with one column of samples at 400 m along 9.5 E: a peak 300 m high
// whose sides fall to the plain within one sample (about 64 m) either way.
std::vector<u8> peakTile() {
    std::vector<u8> bytes((size_t)kSrtm3Bytes);
    for (i64 row = 0; row < kSrtm3Samples; ++row) {
        for (i64 column = 0; column < kSrtm3Samples; ++column) {
            i32 height = column == 600 ? 400 : 100;
            size_t at = (size_t)(row * kSrtm3Samples + column) * 2;
            bytes[at] = (u8)((u32)height >> 8);
            bytes[at + 1] = (u8)height;
        }
    }
    return bytes;
}

Vec2 mercator(f64 longitude, f64 latitude) {
    Vec2 out;
    GeoPoint geo = {longitude, latitude};
    latLngToMercator(&out, &geo);
    return out;
}

u32 rgb(u32 pixel) { return pixel & 0xFFFFFF; }

class MissionSideViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        state.reset(new SideViewScene{});
        scene = state.get();
        tile = peakTile();
        readSrtmTile(&scene->loader.slots[0].raster, tile.data(), (i64)tile.size(), 46, 9, kElevationSampleBudget, 4,
                     nullptr);
        scene->loader.slots[0].state = ElevationMapLoaded;
        scene->loader.loadedCount = 1;
        scene->editor.takeoffTerrainHeight = kUnknownTerrainHeight;
        scene->vehicle.home = StoredPosition{1, 9.49, 46.5, 0};
        rebaseWaypointAltitudes(&scene->editor, &scene->vehicle, &scene->loader);
        scene->preferences.lowAltitudeWarning = 30;
        scene->preferences.airspaceIndicatorAltitude = 120;
        // Level at 250 m over the peak: low within about 17 m of its crest.
        Vec2 a = mercator(9.49, 46.5), b = mercator(9.51, 46.5);
        ASSERT_TRUE(insertWaypoint(&scene->editor, 0, a.x, a.y, 250));
        ASSERT_TRUE(insertWaypoint(&scene->editor, 1, b.x, b.y, 250));
        scene->view = makeMapView(WidgetId{2, "side view"}, MapViewModeMap);
        scene->openedNow = 1;
        ASSERT_TRUE(startScreenHarness(&harness, kWidth, kHeight, sideViewScreen));
        screenFrame(&harness, 3);
    }
    void TearDown() override {
        stopScreenHarness(&harness);
        releaseElevationRaster(&scene->loader.slots[0].raster);
        scene = nullptr;
    }
    u32 pixelAt(f64 distance, f64 altitude) {
        return harnessPixel(&harness.render, (i32)mapViewWindowX(&scene->view, distance),
                            (i32)mapViewWindowY(&scene->view, altitude));
    }
    std::unique_ptr<SideViewScene> state;
    std::vector<u8> tile;
    ScreenHarness harness;
};

TEST_F(MissionSideViewTest, TappingTheRedLowSpotAcknowledgesItAndTheCheckThenPasses) {
    ASSERT_EQ(isWaypointMissionSafe(&scene->editor, &scene->loader, &scene->preferences, &scene->vehicle), 0);
    f64 spot = scene->editor.lowSpot.distanceBefore + scene->editor.lowSpot.stepLength;
    f64 crest = 0.01 * metersPerDegreeLongitude(46.5);
    EXPECT_NEAR(spot, crest, 20);
    EXPECT_EQ(scene->view.zoom, 1.0);

    // The plot: sky above the path, earth under the plain, the profile, and red at the spot.
    EXPECT_EQ(rgb(pixelAt(crest / 2, 200)), rgb(kSideViewSky));
    EXPECT_EQ(rgb(pixelAt(crest / 2, -30)), rgb(kSideViewEarth));
    EXPECT_EQ(rgb(pixelAt(crest / 2, 250)), rgb(kSideViewPathPlain));
    EXPECT_EQ(rgb(pixelAt(crest * 1.5, 250)), rgb(kSideViewPathPlain));
    EXPECT_EQ(rgb(pixelAt(crest / 2, 100)), rgb(kSideViewAirspace));  // between 30 and 120 m above the plain
    EXPECT_EQ(rgb(pixelAt(spot, 250)), rgb(kSideViewLowSpot));
    writeHarnessPng(&harness.render, testOutputPath("MissionSideView.png"));

    f32 x = mapViewWindowX(&scene->view, spot), y = mapViewWindowY(&scene->view, 250);
    touchDown(&harness, 4, x, y);
    screenFrame(&harness, 2);
    touchUp(&harness, 4);
    screenFrame(&harness, 2);
    EXPECT_EQ(scene->editor.acknowledgedLowSpotCount, 1);
    EXPECT_EQ(rgb(pixelAt(spot, 250)), rgb(kSideViewAcknowledged));
    EXPECT_EQ(isWaypointMissionSafe(&scene->editor, &scene->loader, &scene->preferences, &scene->vehicle), 1);
}

TEST_F(MissionSideViewTest, OpeningTheViewAgainResetsItsZoom) {
    setMapCenterAndZoom(&scene->view, 0, 0, 7);
    screenFrame(&harness);
    EXPECT_EQ(scene->view.zoom, 7);
    scene->openedNow = 1;
    screenFrame(&harness);
    EXPECT_EQ(scene->view.zoom, 1);
    EXPECT_NEAR(scene->view.centreX, scene->view.contentXMax / 2 - 30, 1e-6);
}

}  // namespace
