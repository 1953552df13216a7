// The elevation screens through real frames: the data-source list over a data folder holding a
// GDAL-made ridge (elevation_ridge.py) and a file that is no elevation map, the choice kept in the
// preferences record (which the preferences step saves) and followed by the elevation loader, and the
// viewer showing the loaded ridge's contour lines.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Core/ImageSlots.h"
#include "Core/JobQueue.h"
#include "Core/MathEarth.h"
#include "Map/ElevationMapLoader.h"
#include "Screens/ChildScreens.h"
#include "Screens/ElevationScreens.h"
#include "ScreenTestSupport.h"
#include "SourceCommon/UserInterface/UiMetrics.h"

namespace {

constexpr i32 kWidth = 1280;
constexpr i32 kHeight = 720;
constexpr u32 kBackground = 0xFFE9EFF2;  // the viewer's clear colour 242, 239, 233 as 0xAABBGGRR

// The parts of the application update these screens rely on: the elevation loader, the UI metrics
// and the screens.
void elevationUpdate(Platform* platform, UiState* ui, AppState* app) {
    manageElevationMaps(&app->elevationMapLoader, platform, &app->downloadPool, &ui->imageSlots, &app->preferences);
    app->uiMetrics = computeUiMetrics(ui->screenRect);
    updateScreen(&app->screenStack, platform, ui, app);
}

class ElevationScreensTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvik-elevation-screens-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        std::string maps = folder + "/data/Elevation Maps";
        std::filesystem::create_directories(maps);
        std::string script = std::string(ORVIK_SOURCE_DIR) + "/Tests/Map/elevation_ridge.py";
        ASSERT_EQ(std::system(("/usr/bin/python3 " + script + " '" + maps + "'").c_str()), 0);
        // One ridge file is enough here.
        for (const char* other : {"ridge_i16.bil", "ridge_i16.hdr", "plateau_albers.tif", "plateau_points.txt"}) {
            std::filesystem::remove(maps + "/" + other);
        }
        std::ofstream(maps + "/notes.txt") << "not a map";

        ASSERT_TRUE(startScreensHarness(&harness, kWidth, kHeight));
        harness.platform->dataFolder = makeString((folder + "/data/").c_str());
        harness.platform->pathSeparator = '/';
        setHarnessUpdate(&harness.render, elevationUpdate);
        // Open the list as the Main Screen's "ELEVATION MAPS" button does.
        ScreenStack* stack = &harness.app->screenStack;
        stack->screens[1] = selectElevationDataSourceScreen;
        stack->depth = 2;
        std::memset(stack->screenState, 0, sizeof(stack->screenState));
        run(4);
    }
    void TearDown() override {
        while (runNextAsyncJob(&harness.platform->jobQueue)) {
        }
        releaseElevationMaps(&harness.app->elevationMapLoader, harness.platform, &harness.app->downloadPool);
        stopScreensHarness(&harness);
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    // Frames with the job ring's work done between them.
    void run(i32 count) {
        for (i32 i = 0; i < count; i++) {
            frames(&harness);
            while (runNextAsyncJob(&harness.platform->jobQueue)) {
            }
        }
    }
    void clickRow(i32 row) {
        click(&harness, kWidth / 2.0f, rowCentreY(&harness, row));
        run(2);
    }
    const ElevationSourceScreenState* list() {
        return (const ElevationSourceScreenState*)harness.app->screenStack.screenState;
    }
    std::string chosen() {
        const FixedString& f = harness.app->preferences.customElevationDataFile;
        return std::string(f.text, f.length);
    }

    ScreensHarness harness{};
    std::string folder;
};

// Rows: 0 the title, 1 SRTM, 2 the ridge file, 3 "View elevation map".
TEST_F(ElevationScreensTest, TheListSwitchesBetweenSrtmAndAFileAndTheChoiceOutlivesTheScreen) {
    ASSERT_EQ(topScreen(&harness), (ScreenFunction)selectElevationDataSourceScreen);
    ASSERT_EQ(list()->fileCount, 1);  // notes.txt is no elevation file
    EXPECT_STREQ(list()->files[0].name.text, "ridge_f32.bil");
    EXPECT_EQ(chosen(), "");

    clickRow(2);
    EXPECT_EQ(chosen(), "ridge_f32.bil");
    // Leaving for the Main Screen and coming back keeps the choice.
    tapKey(&harness, KeyEscape);
    ASSERT_EQ(stackDepth(&harness), 1);
    ScreenStack* stack = &harness.app->screenStack;
    stack->screens[1] = selectElevationDataSourceScreen;
    stack->depth = 2;
    std::memset(stack->screenState, 0, sizeof(stack->screenState));
    run(3);
    EXPECT_EQ(chosen(), "ridge_f32.bil");
    for (i32 i = 0; i < 20 && harness.app->elevationMapLoader.loadedCount == 0; i++) run(1);
    EXPECT_STREQ(harness.app->elevationMapLoader.status.text, "Loaded and Parsed");
    f32 crest = getElevation(&harness.app->elevationMapLoader, GeoPoint{8.5, 47.0}, -1);
    EXPECT_NEAR(crest, 1000.0f, 0.01f);
    // The raster's samples are the renderer's texture through an image slot of their format.
    const ElevationMapLoader* loader = &harness.app->elevationMapLoader;
    i32 slotId = loader->slots[loader->order[0]].tiles.slots[0];
    ImageSlot* image = getImageSlot(&harness.ui->imageSlots, slotId);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->format, 37332u);
    EXPECT_NE(image->texture, 0u);

    writeHarnessPng(&harness.render, outputPath("elevation_sources.png").c_str());
    clickRow(1);
    EXPECT_EQ(chosen(), "");
    run(3);
    EXPECT_EQ(harness.app->elevationMapLoader.loadedCount, 0u);  // no area of interest yet: no SRTM tiles
    EXPECT_EQ(getImageSlot(&harness.ui->imageSlots, slotId), nullptr);  // the file's texture was given back
}

TEST_F(ElevationScreensTest, TheViewerOpenedFromTheListShowsTheRastersContourLines) {
    clickRow(2);
    for (i32 i = 0; i < 20 && harness.app->elevationMapLoader.loadedCount == 0; i++) run(1);
    ASSERT_EQ(harness.app->elevationMapLoader.loadedCount, 1u);
    clickRow(3);
    ASSERT_EQ(topScreen(&harness), (ScreenFunction)elevationMapViewerScreen);
    moveMouseAway(&harness);
    run(2);
    const ElevationViewerState* viewer = (const ElevationViewerState*)harness.app->screenStack.screenState;
    ASSERT_EQ(viewer->fitted, 1u);
    writeHarnessPng(&harness.render, outputPath("elevation_viewer.png").c_str());

    // The ridge (1000 m along 8.5 E, falling 50,000 m per degree) fitted to the window: the 700 m
    // contour (every 100 m, three quarters black) runs where the ground is 700 m high, and the map
    // shows unchanged between the lines.
    const MapView* view = &viewer->view;
    auto column = [&](f64 height) {
        return (i32)std::lround(geoPointToScreen(view, GeoPoint{8.5 + (1000.0 - height) / 50000.0, 47.0}).x);
    };
    i32 y = (i32)std::lround(geoPointToScreen(view, GeoPoint{8.5, 47.0}).y);
    i32 darkest = 255;
    for (i32 dx = -1; dx <= 1; dx++) darkest = std::min(darkest, (i32)((harnessPixel(&harness.render, column(700) + dx, y) >> 8) & 255));
    EXPECT_NEAR(darkest, 0xEF / 4, 8);
    EXPECT_EQ(harnessPixel(&harness.render, column(720), y), kBackground);
    EXPECT_EQ(harnessPixel(&harness.render, column(680), y), kBackground);

    // Back returns to the list.
    tapKey(&harness, KeyEscape);
    EXPECT_EQ(topScreen(&harness), (ScreenFunction)selectElevationDataSourceScreen);
}

TEST_F(ElevationScreensTest, BeforeThereIsAFlightAreaTheViewerLoadsTheSrtmTileInView) {
    // An SRTM3 tile whose ground rises 7 m a row towards the south: the hill shading, lit from the
    // top of the screen, darkens it a little. Its neighbours are missing (and no service is set up).
    std::vector<u8> tile(1201 * 1201 * 2);
    for (i32 row = 0; row < 1201; row++) {
        for (i32 column = 0; column < 1201; column++) {
            i32 height = 100 + 7 * row;
            tile[2 * (row * 1201 + column)] = (u8)(height >> 8);  // big-endian
            tile[2 * (row * 1201 + column) + 1] = (u8)height;
        }
    }
    std::filesystem::create_directories(folder + "/data/SRTM");
    std::ofstream(folder + "/data/SRTM/N47E008.hgt", std::ios::binary).write((const char*)tile.data(), (i64)tile.size());
    ASSERT_EQ(chosen(), "");
    clickRow(3);
    ASSERT_EQ(topScreen(&harness), (ScreenFunction)elevationMapViewerScreen);
    moveMouseAway(&harness);
    ElevationViewerState* viewer = (ElevationViewerState*)harness.app->screenStack.screenState;
    const ElevationMapLoader* loader = &harness.app->elevationMapLoader;
    EXPECT_EQ(loader->wantedCount, 0u);  // the whole world in view lends no area

    // 1.5 degrees of longitude across the window, centred in the tile.
    Vec2 centre;
    GeoPoint middle{8.5, 47.5};
    latLngToMercator(&centre, &middle);
    setMapCenterAndZoom(&viewer->view, centre.x, centre.y, kWidth / (1.5 / 360.0));
    for (i32 i = 0; i < 30 && loader->loadedCount == 0; i++) run(1);
    ASSERT_EQ(loader->loadedCount, 1u);
    EXPECT_STREQ(loader->slots[loader->order[0]].name.text, "N47E008.hgt");
    EXPECT_EQ(viewer->lentArea, 1u);
    run(2);
    writeHarnessPng(&harness.render, outputPath("elevation_viewer_srtm.png").c_str());
    auto greenAt = [&](f64 longitude, f64 latitude) {
        Vec2F32 p = geoPointToScreen(&viewer->view, GeoPoint{longitude, latitude});
        return (i32)((harnessPixel(&harness.render, (i32)p.x, (i32)p.y) >> 8) & 255);
    };
    i32 shaded = greenAt(8.5, 47.5);
    EXPECT_LE(shaded, 0xEF - 4);
    EXPECT_GE(shaded, 0xEF - 14);
    EXPECT_EQ(greenAt(9.1, 47.5), 0xEF);  // the missing tile east of it leaves the map alone
}

}  // namespace
