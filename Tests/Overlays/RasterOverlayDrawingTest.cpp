// Pixel probe of a raster overlay on a headless map: the red dot of a GeoTIFF, placed by the grid of
// the GeoPDF GDAL made from it, shows where the dot lies on the earth; a selection naming another
// file draws nothing.
#include <gtest/gtest.h>

#include <cstring>

#include "Core/ImageSlots.h"
#include "Decoders/Png.h"
#include "GeoPdfSupport.h"
#include "Overlays/RasterOverlayDrawing.h"
#include "SourceCommon/UserInterface/MapView.h"
#include "Support/RenderHarness.h"

namespace {

constexpr i32 kWidth = 480, kHeight = 320;

struct DrawWorld {
    RasterOverlayLoader loader;
    FixedString selected;
    MapView view;
    Vec2 centre;
    f64 zoom;
    u32 placed;
};
DrawWorld* world = nullptr;

void drawFrame(Platform* platform, UiState* ui, AppState*) {
    ui->clearColor[0] = ui->clearColor[1] = ui->clearColor[2] = 0;
    Rect window{0, (f32)kWidth, 0, (f32)kHeight};
    updateMapView(&world->view, &window, Box2{0, 0, -0.5, 0.5}, ui, nullptr, platform, MapWheelZooms);
    if (!world->placed) {
        world->placed = 1;
        setMapCenterAndZoom(&world->view, world->centre.x, world->centre.y, world->zoom);
    }
    RasterOverlayLoader* loader = &world->loader;
    if (!loader->imageSlot) {
        loader->imageSlot = (u32)allocImageSlot(loader->pixels, loader->width, loader->height, 3, &ui->imageSlots);
        loader->loaded = 1;
    }
    OverlaySelection selection{};
    selection.rasterOverlayName = &world->selected;
    drawRasterOverlay(loader, &world->view, ui, &selection, 0.5f);
}

TEST(RasterOverlayDrawing, TheRedDotOfTheSourceShowsAtItsPlaceOnTheMap) {
    const GeoPdfOracle& oracle = geoPdfOracle();
    ASSERT_TRUE(oracle.failure.empty()) << oracle.failure;
    // The page image: the GeoTIFF itself as GDAL writes it to PNG; the grid: the parser's, from the PDF.
    std::string png = oracle.folder + "/north.png";
    ASSERT_EQ(std::system(("gdal_translate -q -of PNG " + oracle.folder + "/north.tif " + png).c_str()), 0);
    std::string pngBytes = readBytes(png);
    std::string pdf = readBytes(oracle.folder + "/north.pdf");
    auto result = std::make_unique<PdfGeoResult>();
    parsePdfObjects(result.get(), (const u8*)pdf.data(), (i64)pdf.size());
    ASSERT_EQ(result->pageCount, 1u) << result->message.text;

    RenderHarness harness{};
    FixedString failure = startRenderHarness(&harness, kWidth, kHeight);
    ASSERT_EQ(failure.length, 0) << failure.text;
    world = (DrawWorld*)std::calloc(1, sizeof(DrawWorld));
    std::vector<u8> pixels(4 << 20), scratch(4 << 20);
    ImageResult image{};
    parsePng(&image, (const u8*)pngBytes.data(), (i64)pngBytes.size(), pixels.data(), (i64)pixels.size(), 3, 4,
             scratch.data(), (i64)scratch.size());
    ASSERT_EQ(image.error.length, 0) << image.error.text;
    world->loader.pixels = pixels.data();
    world->loader.width = image.width;
    world->loader.height = image.height;
    world->loader.channels = 3;
    world->loader.grid = result->pages[0];
    world->loader.pdfbinName = makeString("north.pdf_0.pdfbin");
    world->selected = makeString("north.pdf_0.pdfbin");
    GeoPoint dot{oracle.dot[0], oracle.dot[1]};
    latLngToMercator(&world->centre, &dot);
    // About 0.6 degrees across 480 pixels: the 8-pixel dot of 0.002-degree pixels is ~13 pixels wide.
    world->zoom = 600 * kHeight;
    setHarnessUpdate(&harness, drawFrame);
    runHarnessFrames(&harness, 3);

    auto isRed = [&](i32 x, i32 y) {
        u32 p = harnessPixel(&harness, x, y);
        return (p & 255) > 200 && ((p >> 8) & 255) < 60 && ((p >> 16) & 255) < 60;
    };
    const MapView& view = world->view;
    i32 x = (i32)std::lround(view.rectCentreX + (world->centre.x - view.centreX) * view.pixelsPerUnit);
    i32 y = (i32)std::lround(view.rectCentreY + (world->centre.y - view.centreY) * view.pixelsPerUnit);
    EXPECT_TRUE(isRed(x, y)) << std::hex << harnessPixel(&harness, x, y);
    EXPECT_FALSE(isRed(x + 40, y));
    EXPECT_FALSE(isRed(x, y - 40));
    // The page covers the view around the dot; beside the page the map stays black.
    EXPECT_NE(harnessPixel(&harness, x + 40, y) & 0xFFFFFF, 0u);

    world->selected = makeString("other.pdfbin");
    runHarnessFrames(&harness, 2);
    EXPECT_EQ(harnessPixel(&harness, x, y) & 0xFFFFFF, 0u);
    stopRenderHarness(&harness);
    std::free(world);
    world = nullptr;
}

}  // namespace
