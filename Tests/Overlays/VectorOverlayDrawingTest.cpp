// Pixel probes of the vector overlay on a map view, on headless llvmpipe: a line across the
// antimeridian drawn on the view's side, labels of crowded markers hidden until zoomed in, nothing
// drawn for a selection that names another overlay, and a line of a million points kept whole and
// drawn to its last point, zoomed out and in.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "Overlays/VectorOverlayDrawing.h"
#include "OverlayTestSupport.h"
#include "SourceCommon/UserInterface/MapView.h"
#include "Support/RenderHarness.h"

namespace {

constexpr i32 kWidth = 640, kHeight = 320;

struct DrawWorld {
    VectorOverlayLoader loader;
    Preferences preferences;
    MapView view;
    f64 centreX, centreY, zoom;
    u32 placed;
    u32 iconPixels[16];
};
DrawWorld* world = nullptr;

void drawFrame(Platform* platform, UiState* ui, AppState*) {
    ui->clearColor[0] = ui->clearColor[1] = ui->clearColor[2] = 0;
    Rect window{0, (f32)kWidth, 0, (f32)kHeight};
    updateMapView(&world->view, &window, Box2{0, 0, -0.5, 0.5}, ui, nullptr, platform, MapWheelZooms);
    if (!world->placed) {
        world->placed = 1;
        setMapCenterAndZoom(&world->view, world->centreX, world->centreY, world->zoom);
    }
    OverlaySelection selection = overlaySelectionOf(&world->preferences);
    for (u32 i = 0; i < world->loader.overlay.markerImageCount; i++) {
        OverlayMarkerImage* image = &world->loader.overlay.markerImages[i];
        if (image->state == OverlayImagePresent && !image->slot) {
            image->slot = (u32)allocImageSlot((u8*)(world->loader.overlay.markerImagePixels + image->firstPixel),
                                              image->width, image->height, 4, &ui->imageSlots);
        }
    }
    drawVectorOverlay(&world->loader, &world->view, ui, &selection, 0.5f, 20.0f);
}

class VectorOverlayDrawing : public ::testing::Test {
protected:
    void SetUp() override {
        FixedString failure = startRenderHarness(&harness, kWidth, kHeight);
        ASSERT_EQ(failure.length, 0) << failure.text;
        world = (DrawWorld*)std::calloc(1, sizeof(DrawWorld));
        world->view = makeMapView(WidgetId{1, "overlay"}, MapViewModeMap);
        setHarnessUpdate(&harness, drawFrame);
        // The font for the labels comes from the embedded assets over the first frames.
        for (int i = 0; i < 40 && !harness.app->renderer.ui.fontInfo; i++) runHarnessFrame(&harness);
        ASSERT_NE(harness.app->renderer.ui.fontInfo, nullptr);
    }
    void TearDown() override {
        stopRenderHarness(&harness);
        std::free(world);
        world = nullptr;
    }
    void load(const std::string& kml, const char* name) {
        ASSERT_EQ(parseKmlText(kml, &world->loader.overlay).length, 0);
        buildOverlayGeometry(&world->loader.geometry, &world->loader.overlay);
        world->loader.name = makeString(name);
        world->loader.state = 1;
        world->preferences.vectorOverlayFile = makeString(name);
    }
    void show(f64 centreX, f64 zoom, f64 centreY = 0) {
        world->centreX = centreX;
        world->centreY = centreY;
        world->zoom = zoom;
        world->placed = 0;
        runHarnessFrames(&harness, 3);
    }
    // Pixels in a window rectangle whose colour is near the given one.
    int count(i32 x0, i32 x1, i32 y0, i32 y1, u32 colour) {
        int n = 0;
        for (i32 y = y0; y < y1; y++) {
            for (i32 x = x0; x < x1; x++) {
                u32 p = harnessPixel(&harness, x, y);
                bool near = true;
                for (int s = 0; s < 24; s += 8) near = near && std::abs((int)((p >> s) & 255) - (int)((colour >> s) & 255)) < 40;
                n += near;
            }
        }
        return n;
    }
    RenderHarness harness{};
};

TEST_F(VectorOverlayDrawing, ALineAcrossTheAntimeridianIsDrawnOnTheViewsSide) {
    load("<kml><Style id=\"r\"><LineStyle><color>ff0000ff</color><width>6</width></LineStyle></Style>"
         "<Placemark><styleUrl>#r</styleUrl><LineString><coordinates>179,0 -179,0</coordinates></LineString>"
         "</Placemark></kml>",
         "line.kml");
    const u32 red = 0xFF0000FF;
    // Centred on 180 degrees: the line runs one degree either side of the centre.
    show(0.5, 20.0 * 360);
    const i32 cx = kWidth / 2, cy = kHeight / 2;
    const i32 degree = (i32)(world->view.pixelsPerUnit / 360);
    ASSERT_GT(degree, 15);
    EXPECT_GT(count(cx + degree / 2, cx + degree / 2 + 8, cy - 2, cy + 2, red), 20);
    EXPECT_GT(count(cx - degree / 2 - 8, cx - degree / 2, cy - 2, cy + 2, red), 20);
    // Not round the world the other way.
    EXPECT_EQ(count(cx + degree + 8, kWidth, cy - 4, cy + 4, red), 0);
    EXPECT_EQ(count(0, cx - degree - 8, cy - 4, cy + 4, red), 0);
    // Centred two degrees west of 180, the whole line lies east of the centre.
    show(178.0 / 360, 20.0 * 360);
    EXPECT_GT(count(cx + degree + 4, cx + degree + 12, cy - 2, cy + 2, red), 20);
    EXPECT_GT(count(cx + 3 * degree - 12, cx + 3 * degree - 4, cy - 2, cy + 2, red), 20);
    EXPECT_EQ(count(0, cx + degree - 8, cy - 4, cy + 4, red), 0);

    // A selection that names another overlay draws nothing.
    world->preferences.vectorOverlayFile = makeString("other.kml");
    show(0.5, 20.0 * 360);
    EXPECT_EQ(count(0, kWidth, 0, kHeight, red), 0);
}

TEST_F(VectorOverlayDrawing, CrowdedLabelsAreHiddenUntilZoomedIn) {
    load("<kml><Style id=\"i\"><IconStyle><Icon><href>dot.png</href></Icon></IconStyle></Style>"
         "<Placemark><name>WEST</name><styleUrl>#i</styleUrl><Point><coordinates>-0.005,0</coordinates></Point></Placemark>"
         "<Placemark><name>EAST</name><styleUrl>#i</styleUrl><Point><coordinates>0.005,0</coordinates></Point></Placemark>"
         "</kml>",
         "markers.kml");
    // A 4 x 4 green icon, as if decoded.
    OverlayMarkerImage* image = &world->loader.overlay.markerImages[0];
    for (int i = 0; i < 16; i++) world->loader.overlay.markerImagePixels[i] = 0xFF00FF00;
    world->loader.overlay.pixelWordCount = 16;
    image->width = image->height = 4;
    image->state = OverlayImagePresent;
    const u32 green = 0xFF00FF00, white = 0xFFFFFFFF;
    const i32 cx = kWidth / 2, cy = kHeight / 2;

    // 0.01 degrees is about 30 pixels at this zoom: icons, no labels (a label needs 40 pixels).
    show(0.0, 1e6);
    EXPECT_LT(world->view.pixelsPerUnit * 0.01 / 360, 40.0);
    EXPECT_GT(count(cx - 20, cx + 20, cy - 10, cy + 10, green), 200);
    EXPECT_EQ(count(0, kWidth, 0, cy - 16, white), 0);
    // Ten times closer: both labels under their icons.
    show(0.0, 1e7);
    const i32 offset = (i32)(world->view.pixelsPerUnit * 0.005 / 360);
    ASSERT_LT(offset, kWidth / 2 - 40);
    EXPECT_GT(count(cx - offset - 10, cx - offset + 10, cy - 10, cy + 10, green), 300);
    EXPECT_GT(count(cx - offset - 30, cx - offset + 30, cy - 40, cy - 16, white), 10);
    EXPECT_GT(count(cx + offset - 30, cx + offset + 30, cy - 40, cy - 16, white), 10);
}

// The window pixel of a longitude and latitude in the test's view.
Vec2F32 pixelOf(const MapView* view, f64 longitude, f64 latitude) {
    f64 y = std::log(std::tan(latitude * 3.14159265358979323846 / 360.0 + 3.14159265358979323846 / 4)) /
            (2 * 3.14159265358979323846);
    return Vec2F32{(f32)((longitude / 360.0 - view->centreX) * view->pixelsPerUnit + view->rectCentreX),
                   (f32)((y - view->centreY) * view->pixelsPerUnit + view->rectCentreY)};
}

// A flight of a million points wanders over a small area west of the meridian, then goes east to a
// last point alone: every segment is kept on load, and the last point is drawn with the whole line in
// view (a coarse band of simplified lines) and zoomed in on it (the finest band).
TEST_F(VectorOverlayDrawing, TheLastPointOfAMillionPointLineIsDrawn) {
    constexpr i32 kPoints = 1000000;
    std::string kml = "<kml><Style id=\"r\"><LineStyle><color>ff0000ff</color><width>3</width></LineStyle></Style>"
                      "<Placemark><styleUrl>#r</styleUrl><LineString><coordinates>";
    kml.reserve(30000000);
    u64 seed = 1;
    f64 longitude = -0.01, latitude = 0, heading = 0;
    char tuple[64];
    for (i32 i = 0; i + 1 < kPoints; i++) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        heading += ((f64)(seed >> 11) / (f64)(1ull << 53) - 0.5) * 0.6;
        longitude += 2e-6 * std::cos(heading);
        latitude += 2e-6 * std::sin(heading);
        // Kept within 0.01 degrees of its start.
        if (std::fabs(longitude + 0.01) > 0.01 || std::fabs(latitude) > 0.01) heading += 3.14159265358979323846;
        std::snprintf(tuple, sizeof tuple, "%.8f,%.8f ", longitude, latitude);
        kml += tuple;
    }
    const f64 lastLongitude = 0.03, lastLatitude = 0.002;
    std::snprintf(tuple, sizeof tuple, "%.8f,%.8f", lastLongitude, lastLatitude);
    kml += tuple;
    kml += "</coordinates></LineString></Placemark></kml>";
    load(kml, "flight.kml");
    const VectorOverlay* overlay = &world->loader.overlay;
    ASSERT_EQ(overlay->lineSegmentCount, (u32)kPoints - 1);
    EXPECT_EQ(overlay->message.length, 0) << overlay->message.text;

    const u32 red = 0xFF0000FF;
    const f64 midLongitude = 0.005;
    auto probe = [&](f64 zoom, f64 centreLongitude, f64 centreLatitude) {
        f64 centreY = std::log(std::tan(centreLatitude * 3.14159265358979323846 / 360.0 + 3.14159265358979323846 / 4)) /
                      (2 * 3.14159265358979323846);
        show(centreLongitude / 360.0, zoom, centreY);
        Vec2F32 last = pixelOf(&world->view, lastLongitude, lastLatitude);
        i32 x = (i32)std::lround(last.x), y = (i32)std::lround(last.y);
        SCOPED_TRACE(zoom);
        ASSERT_TRUE(x > 8 && x < kWidth - 8 && y > 8 && y < kHeight - 8);
        // The three pixels across the line at its end, and the ones beside them towards the line.
        EXPECT_GE(count(x - 2, x + 1, y - 1, y + 2, red), 3);
        // Nothing beyond it, on the line's far side.
        EXPECT_EQ(count(x + 5, x + 8, y - 1, y + 2, red), 0);
    };
    // The whole line in 640 pixels: 0.06 degrees.
    probe(640 / (0.06 / 360), midLongitude, 0);
    Vec2F32 west = pixelOf(&world->view, -0.02, 0), east = pixelOf(&world->view, lastLongitude, 0);
    EXPECT_GT(west.x, 0.0f);
    EXPECT_LT(east.x, (f32)kWidth);
    // Most of the wandering part is drawn: a dense patch west of the meridian.
    Vec2F32 patch = pixelOf(&world->view, -0.01, 0);
    EXPECT_GT(count((i32)patch.x - 20, (i32)patch.x + 20, (i32)patch.y - 20, (i32)patch.y + 20, red), 800);
    // As close as a map goes (a zoom of a billion), centred a little west of the last point.
    probe(1e9, lastLongitude - 2e-6, lastLatitude);
}

}  // namespace
