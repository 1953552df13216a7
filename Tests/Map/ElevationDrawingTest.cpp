// Terrain shading on a map, drawn for real on llvmpipe: a ridge made by GDAL (elevation_ridge.py) is
// read by the BIL reader in both sample formats, handed to the renderer through an image slot and drawn
// by drawElevationMaps over a plain map picture; and a raster larger than a texture, drawn in tiles. The ridge's height is known at every longitude, so
// each probe knows whether it lies above the danger elevation and where each contour must run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "Core/ImageSlots.h"
#include "Core/MathEarth.h"
#include "Decoders/GeoTiff.h"
#include "Map/ElevationDrawing.h"
#include "Map/ElevationMapLoader.h"
#include "Network/HttpsTestPeers.h"
#include "SourceCommon/Renderer/RendererState.h"
#include "SourceCommon/Renderer/TexturedQuads.h"
#include "SourceCommon/UserInterface/MapView.h"
#include "Support/RenderHarness.h"

namespace {

constexpr i32 kWidth = 640;
constexpr i32 kHeight = 360;
constexpr f64 kLatitude = 47.0;
constexpr f64 kPixelsPerMetre = 0.4;
constexpr u32 kMapColour = 0xFF40A040;  // the map picture under the terrain: 0xAABBGGRR

// The ridge's ground (elevation_ridge.py): highest along 8.5 E, falling 50,000 m per degree each way.
f64 ridgeHeight(f64 longitude) { return 1000.0 - 50000.0 * std::fabs(longitude - 8.5); }
// The east flank's longitude at a height.
f64 eastLongitudeAt(f64 height) { return 8.5 + (1000.0 - height) / 50000.0; }
f64 westLongitudeAt(f64 height) { return 8.5 - (1000.0 - height) / 50000.0; }

struct Scene {
    ElevationMapLoader loader;
    MapView view;
    i32 mapSlot;
    u32 topographic, lowAltitude, metric;
    f32 danger;
};
Scene* scene = nullptr;
std::vector<u8> mapPixels(4 * 4 * 4);

void sceneFrame(Platform*, UiState* ui, AppState*) {
    if (!scene) return;
    MapView* view = &scene->view;
    addTexturedQuadClipped(ImageKindSlot, (u32)scene->mapSlot, 4, 4, 4, Vec2F32{0, kHeight}, Vec2F32{0, 0},
                           Vec2F32{kWidth, 0}, Vec2F32{kWidth, kHeight}, Vec2F32{0, 0}, Vec2F32{0, 1}, Vec2F32{1, 1},
                           Vec2F32{1, 0}, view->clipRect, 0.1f, ui->halfWidth, ui->halfHeight,
                           &ui->batches.textured2dUnder, 0);
    drawElevationMaps(&scene->loader, view, ui, scene->topographic, scene->lowAltitude, scene->metric, scene->danger,
                      0.102f);
}

i32 channelOf(u32 colour, i32 index) { return (i32)((colour >> (8 * index)) & 255); }

class ElevationDrawingBase : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = makeScratchFolder("orvik-ridge");
        std::string script = std::string(ORVIK_SOURCE_DIR) + "/Tests/Map/elevation_ridge.py";
        ASSERT_TRUE(runCommand("/usr/bin/python3 " + script + " " + folder));
    }
    static void TearDownTestSuite() { removeFolder(folder); }

    void TearDown() override {
        stopRenderHarness(&harness);
        if (scene) releaseElevationRaster(&scene->loader.slots[0].raster);
        std::free(scene);
        scene = nullptr;
    }

    // Starts the harness with the raster as the loader's one loaded raster, over the map picture, in a
    // view centred on a point at 0.4 pixels per metre on the ground.
    void start(const ElevationRaster& raster, GeoPoint centre, f64 pixelsPerMetre) {
        ASSERT_EQ(startRenderHarness(&harness, kWidth, kHeight).length, 0);
        ui = &harness.app->renderer.ui;
        scene = (Scene*)std::calloc(1, sizeof(Scene));
        ElevationMapSlot* slot = &scene->loader.slots[0];
        slot->raster = raster;
        slot->state = ElevationMapLoaded;
        ASSERT_TRUE(claimElevationTiles(&slot->tiles, &slot->raster, &ui->imageSlots));
        scene->loader.loadedCount = 1;
        for (i32 i = 0; i < 16; i++) std::memcpy(&mapPixels[4 * i], &kMapColour, 4);
        scene->mapSlot = allocImageSlot(mapPixels.data(), 4, 4, 4, &ui->imageSlots);

        MapView* view = &scene->view;
        *view = makeMapView(WidgetId{1, "ridge"}, MapViewModeMap);
        Vec2 mercator;
        latLngToMercator(&mercator, &centre);
        view->centreX = mercator.x;
        view->centreY = mercator.y;
        view->pixelsPerUnit = pixelsPerMetre * metersPerDegreeLongitude(centre.latitude) * 360.0;
        view->rect = view->clipRect = Rect{0, kWidth, 0, kHeight};
        view->rectCentreX = kWidth / 2.0f;
        view->rectCentreY = kHeight / 2.0f;
        setHarnessUpdate(&harness, sceneFrame);
        // The programs come from the program's own resources in the first frames.
        Renderer* renderer = &harness.app->renderer;
        for (i32 frame = 0; frame < 50; frame++) {
            bool built = true;
            for (const ShaderProgram& program : renderer->shaders.programs) built = built && program.program != 0;
            bool made = true;
            for (u32 t = 0; t < slot->tiles.columns * slot->tiles.rows; t++) {
                made = made && getImageSlot(&ui->imageSlots, slot->tiles.slots[t])->texture != 0;
            }
            if (built && made) break;
            runHarnessFrame(&harness);
        }
    }

    void draw(u32 topographic, u32 lowAltitude, u32 metric, f32 danger) {
        scene->topographic = topographic;
        scene->lowAltitude = lowAltitude;
        scene->metric = metric;
        scene->danger = danger;
        runHarnessFrame(&harness);
    }
    // The window column of a longitude on the probe row.
    i32 columnOf(f64 longitude) { return (i32)std::lround(geoPointToScreen(&scene->view, GeoPoint{longitude, kLatitude}).x); }
    i32 rowOf(f64 latitude) { return (i32)std::lround(geoPointToScreen(&scene->view, GeoPoint{8.5, latitude}).y); }
    u32 pixel(i32 x, i32 y = kHeight / 2) { return harnessPixel(&harness, x, y); }
    // The darkest green channel within a pixel of a column: where a black line runs, the map's green
    // is darkened by the line's opacity.
    i32 darkestGreen(i32 x) {
        i32 least = 255;
        for (i32 dx = -1; dx <= 1; dx++) least = std::min(least, channelOf(pixel(x + dx), 1));
        return least;
    }

    static std::string folder;
    RenderHarness harness{};
    UiState* ui = nullptr;
};
std::string ElevationDrawingBase::folder;

class ElevationDrawingTest : public ElevationDrawingBase, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        std::string name = GetParam();
        std::string header = readTextFile(folder + "/" + name + ".hdr");
        bil = readTextFile(folder + "/" + name + ".bil");
        BilHeader parsedHeader{};
        ASSERT_EQ(parseBilHeader(&parsedHeader, (const u8*)header.data(), (i64)header.size()).length, 0);
        ElevationRaster raster{};
        readBilRaster(&raster, (const u8*)bil.data(), (i64)bil.size(), &parsedHeader, 64 << 20, 4, nullptr);
        ASSERT_EQ(raster.error.length, 0) << raster.error.text;
        start(raster, GeoPoint{8.5, kLatitude}, kPixelsPerMetre);
    }
    std::string bil;
};

class ProjectedElevationDrawingTest : public ElevationDrawingBase {};

TEST_P(ElevationDrawingTest, DangerShadingIsRedOnlyWhereTheGroundIsAboveTheDangerElevation) {
    const f32 danger = 900;
    draw(0, 1, 1, danger);
    i32 tinted = 0, plain = 0;
    // Across the window, away from the danger line's own few pixels.
    for (i32 x = 4; x < kWidth - 4; x += 3) {
        GeoPoint geo = screenPointToGeo(&scene->view, (f32)x, kHeight / 2.0f);
        f64 height = ridgeHeight(geo.longitude);
        if (std::fabs(height - danger) < 4 * 0.66 / kPixelsPerMetre) continue;
        u32 colour = pixel(x);
        if (height > danger) {
            // A tenth of red at a tenth of opacity over the map: green and blue lose a tenth, red less.
            EXPECT_NEAR(channelOf(colour, 1), 0.9 * 0xA0, 3) << "x " << x << " height " << height;
            EXPECT_GT(channelOf(colour, 0) - 0.9 * 0x40, 1.0) << "x " << x;
            tinted++;
        } else {
            EXPECT_EQ(colour, kMapColour) << "x " << x << " height " << height;
            plain++;
        }
    }
    EXPECT_GT(tinted, 20);
    EXPECT_GT(plain, 20);
    // The danger line itself is dark red where the ground crosses the danger elevation.
    u32 line = pixel(columnOf(eastLongitudeAt(danger)));
    EXPECT_LT(channelOf(line, 1), 0x50);
    EXPECT_GT(channelOf(line, 0), channelOf(line, 1));

    // Neither "no threshold" value shades anything, although all the ground lies above the lower one.
    for (f32 none : {-32768.0f, 10000.0f, NAN}) {
        draw(0, 1, 1, none);
        for (i32 x = 4; x < kWidth; x += 25) EXPECT_EQ(pixel(x), kMapColour) << "x " << x << " threshold " << none;
    }
}

TEST_P(ElevationDrawingTest, ContourLinesRunAtTheMetricOrImperialIntervalsAndHolesShowTheMap) {
    draw(1, 0, 1, 10000);
    // The ridge falls 0.66 m per metre: 1.65 m per pixel here, so a line's few pixels are within one
    // pixel of the computed column. Thin 10 m lines need 2 pixels a metre and are not drawn.
    const i32 green = 0xA0;
    EXPECT_NEAR(darkestGreen(columnOf(eastLongitudeAt(700))), green / 4, 6);  // 100 m: three quarters black
    EXPECT_NEAR(darkestGreen(columnOf(westLongitudeAt(600))), green / 4, 6);
    EXPECT_NEAR(darkestGreen(columnOf(eastLongitudeAt(650))), green / 2, 6);  // 50 m: half black
    for (f64 height : {620.0, 680.0, 730.0}) {
        EXPECT_EQ(pixel(columnOf(eastLongitudeAt(height))), kMapColour) << height;
    }
    // 600 m is no imperial line (500 ft = 152.4 m, 100 ft = 30.48 m); 2,000 ft (609.6 m) is.
    draw(1, 0, 0, 10000);
    EXPECT_EQ(pixel(columnOf(eastLongitudeAt(600))), kMapColour);
    EXPECT_EQ(pixel(columnOf(eastLongitudeAt(650))), kMapColour);
    EXPECT_NEAR(darkestGreen(columnOf(eastLongitudeAt(609.6))), green / 4, 6);
    EXPECT_NEAR(darkestGreen(columnOf(eastLongitudeAt(640.08))), green / 2, 6);  // 2,100 ft

    // No-data samples (rows 10-20, columns 20-40; NaN at rows 40-50, columns 160-180 of the float
    // file) leave holes: the map shows through unchanged, also on a contour inside the hole.
    i32 holeY = rowOf(47.003 - 0.0001 * 15);
    f64 holeLongitude = 8.49 + 0.0001 * 30;
    for (i32 dx = -3; dx <= 3; dx++) EXPECT_EQ(pixel(columnOf(holeLongitude) + dx, holeY), kMapColour) << dx;
    draw(1, 1, 1, 700);
    EXPECT_EQ(pixel(columnOf(holeLongitude), holeY), kMapColour);
    if (std::string(GetParam()) == "ridge_f32") {
        i32 nanY = rowOf(47.003 - 0.0001 * 45);
        EXPECT_EQ(pixel(columnOf(8.49 + 0.0001 * 170), nanY), kMapColour);
    }
    // Outside the holes the same rows are shaded.
    EXPECT_NE(pixel(columnOf(8.5 + 0.0001 * 5), holeY), kMapColour);
}

// An Albers raster is drawn as a warped mesh: its no-data hole lies where GDAL's projection puts it.
TEST_F(ProjectedElevationDrawingTest, AProjectedRastersHoleAndShadingLieWhereGdalPutsThem) {
    std::string tiff = readTextFile(folder + "/plateau_albers.tif");
    ElevationRaster raster{};
    parseGeoTiff(&raster, (const u8*)tiff.data(), (i64)tiff.size(), 64 << 20, 4, nullptr, nullptr);
    ASSERT_EQ(raster.error.length, 0) << raster.error.text;
    ASSERT_EQ(raster.georeference.kind, kGeoreferenceAlbers);
    std::istringstream lines(readTextFile(folder + "/plateau_points.txt"));
    std::vector<std::pair<std::string, GeoPoint>> points;
    std::string where;
    GeoPoint point;
    f64 west = 1e9, east = -1e9, south = 1e9, north = -1e9;
    while (lines >> where >> point.longitude >> point.latitude) {
        points.push_back({where, point});
        west = std::min(west, point.longitude);
        east = std::max(east, point.longitude);
        south = std::min(south, point.latitude);
        north = std::max(north, point.latitude);
    }
    ASSERT_EQ(points.size(), 11u);
    // 90 m samples at 0.02 pixels per metre: 1.8 pixels each; the outside points are 4 samples out.
    start(raster, GeoPoint{(west + east) / 2, (south + north) / 2}, 0.02);
    draw(0, 1, 1, 400);
    for (const auto& [kind, at] : points) {
        Vec2F32 p = geoPointToScreen(&scene->view, at);
        u32 colour = pixel((i32)std::lround(p.x), (i32)std::lround(p.y));
        if (kind == "inside") {
            EXPECT_EQ(colour, kMapColour) << at.longitude << " " << at.latitude;
        } else {
            EXPECT_NEAR(channelOf(colour, 1), 0.9 * 0xA0, 3) << at.longitude << " " << at.latitude;
        }
    }
}

class TiledElevationDrawingTest : public ElevationDrawingBase {};

// A raster of 20,000 x 20,000 samples, wider and taller than a texture may be, goes to the renderer
// as tiles and is shaded all over: blocks above the danger elevation at its west and east ends and
// across the seam between its tiles are tinted, the ground between them is not.
TEST_F(TiledElevationDrawingTest, ARasterLargerThanATextureIsShadedAtBothEndsAndAcrossItsSeam) {
    constexpr u32 kSide = 20000;
    constexpr f64 kStep = 1e-5;  // degrees a sample
    ElevationRaster raster{};
    raster.width = raster.height = kSide;
    raster.rowStride = kSide * 2;
    raster.sampleFormat = kRasterSamplesI16;
    raster.noData = -32768;
    raster.allocationSize = (i64)raster.rowStride * kSide;
    raster.samples = allocateRasterBlock(raster.allocationSize);  // ground at 0 m, untouched pages
    ASSERT_NE(raster.samples, nullptr);
    raster.georeference.kind = kGeoreferenceLonLatGrid;
    raster.georeference.west = 8.0;
    raster.georeference.east = 8.0 + kStep * (kSide - 1);
    raster.georeference.north = 47.2;
    raster.georeference.south = 47.2 - kStep * (kSide - 1);
    raster.georeference.lastColumn = raster.georeference.lastRow = kSide - 1;
    // 500 m blocks of 400 columns by 2,000 rows: at the west end, across the seam of the tiles at
    // column 16,383, and at the east end.
    const u32 blockColumns[3] = {0, 16183, kSide - 400};
    for (u32 row = 9000; row < 11000; row++) {
        i16* samples = (i16*)(raster.samples + (i64)row * raster.rowStride);
        for (u32 first : blockColumns) {
            for (u32 column = first; column < first + 400; column++) samples[column] = 500;
        }
    }
    start(raster, GeoPoint{8.1, 47.1}, 0.035);
    ASSERT_EQ(scene->loader.slots[0].tiles.columns, 2u);
    ASSERT_EQ(scene->loader.slots[0].tiles.rows, 2u);
    draw(0, 1, 1, 100);
    auto at = [&](u32 column) {
        Vec2F32 p = geoPointToScreen(&scene->view, GeoPoint{8.0 + kStep * column, 47.2 - kStep * 10000});
        return pixel((i32)std::lround(p.x), (i32)std::lround(p.y));
    };
    for (u32 first : blockColumns) {
        EXPECT_NEAR(channelOf(at(first + 200), 1), 0.9 * 0xA0, 3) << "block at column " << first;
    }
    for (u32 column : {8000u, 12000u, 18000u}) EXPECT_EQ(at(column), kMapColour) << "column " << column;
    writeHarnessPng(&harness, "elevation_tiles.png");
}

INSTANTIATE_TEST_SUITE_P(BothSampleFormats, ElevationDrawingTest, ::testing::Values("ridge_i16", "ridge_f32"));

}  // namespace
