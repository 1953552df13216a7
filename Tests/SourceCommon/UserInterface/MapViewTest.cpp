// The map view without a GL context: the scale, clamping, wrapping and visible box for the content
// boxes its callers use, and synthetic pointers that pan, pinch, scroll the wheel and tap.
#include <gtest/gtest.h>

#include <cmath>

#include "Core/MathEarth.h"
#include "UiTestSupport.h"

namespace {

constexpr f32 kWidth = 1280, kHeight = 720;
const Rect kWindow{0, kWidth, 0, kHeight};
const Box2 kWrappingWorld{0, 0, -0.5, 0.5};

class MapViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        bench = makeWidgetBench(kWidth, kHeight);
        platform = (Platform*)std::calloc(1, sizeof(Platform));
        view = makeMapView(WidgetId{7, "map"}, MapViewModeMap);
    }
    void TearDown() override {
        std::free(platform);
        freeWidgetBench(bench);
    }
    // One frame as a map screen runs it: update, (a widget), pointers, end of frame.
    MapTaps frame(Rect rect, Box2 content, u32 scrollMode = MapWheelZooms, const Rect* widget = nullptr) {
        updateMapView(&view, &rect, content, bench->ui, bench->stack, platform, scrollMode);
        if (widget) {
            WidgetId other{1, "button"};
            rectHitTest(widget, 1, bench->stack, &other);
        }
        MapTaps taps;
        handleMapPointers(&taps, &view, bench->stack);
        platform->wheelDelta = 0;
        endBenchFrame(bench);
        return taps;
    }
    // Every visible box edge is where the rectangle's edge maps to, and lies inside the content.
    void expectConsistent(const Rect& rect, const Box2& content) {
        Vec2 low = screenPointToMap(&view, rect.x0, rect.y0), high = screenPointToMap(&view, rect.x1, rect.y1);
        f64 tolerance = 1e-6 * (content.maxY - content.minY + 1);
        EXPECT_NEAR(low.x, view.visibleXMin, tolerance);
        EXPECT_NEAR(high.y, view.visibleYMax, tolerance);
        EXPECT_GE(view.zoom, 1.0);
        EXPECT_NEAR(view.pixelsPerUnit, mapViewFitScale(&view) * view.zoom, 1e-9 * view.pixelsPerUnit);
        if (view.visibleYMax - view.visibleYMin <= content.maxY - content.minY) {
            EXPECT_GE(view.visibleYMin, content.minY - tolerance);
            EXPECT_LE(view.visibleYMax, content.maxY + tolerance);
        }
        if (!mapViewWraps(&view) && view.visibleXMax - view.visibleXMin <= content.maxX - content.minX) {
            EXPECT_GE(view.visibleXMin, content.minX - tolerance);
            EXPECT_LE(view.visibleXMax, content.maxX + tolerance);
        }
    }
    WidgetBench* bench = nullptr;
    Platform* platform = nullptr;
    MapView view{};
};

TEST_F(MapViewTest, EveryCallersContentBoxFitsClampsAndGivesTheVisibleBox) {
    struct Case {
        const char* caller;
        u32 mode;
        Rect rect;
        Box2 content;
        f64 fitPixelsPerUnit;
    };
    f32 rowHeight = 64;
    const Case cases[] = {
        {"fly screen world", MapViewModeMap, kWindow, kWrappingWorld, kHeight},  // the world as tall as the view
        {"overlay view", MapViewModeMap, kWindow, {-0.5, 0.5, -0.5, 0.5}, kWidth},
        {"log entries", MapViewModeMap, kWindow, {0, kWidth / rowHeight, -300, 0}, rowHeight},
        {"side view", MapViewModeMap, {100, 1100, 50, 450}, {-60, 2460, -20, 180}, 1000.0 / 2520},
        {"profiling text", MapViewModeMap, kWindow, {0, kWidth, -3000, 0}, 1},
        {"clipping test", MapViewModeMap, {128, 1152, 72, 648}, {-10, 11, -10, 11}, 1024.0 / 21},
        {"picture strip", MapViewModeHorizontalStrip, {40, 1240, 240, 480}, {0, 6 * 1.1, 0, 1}, 240},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caller);
        view = makeMapView(WidgetId{9, c.caller}, c.mode);
        frame(c.rect, c.content);
        EXPECT_NEAR(view.pixelsPerUnit, c.fitPixelsPerUnit, 1e-9 * c.fitPixelsPerUnit);
        expectConsistent(c.rect, c.content);
        // Far outside the content, the centre comes back in; a deep zoom keeps the visible box inside.
        setMapCenterAndZoom(&view, c.content.maxX + 1e6, c.content.minY - 1e6, 4000);
        expectConsistent(c.rect, c.content);
        EXPECT_NEAR(view.zoom, 4000, 1e-9);
        setMapCenterAndZoom(&view, 0, 0, 0.25);
        EXPECT_GE(view.zoom, 1.0);
    }
    // A text shorter than the view that scrolls stays at the top of the view.
    view = makeMapView(WidgetId{10, "short"}, MapViewModeMap);
    frame(kWindow, Box2{0, kWidth, -100, 0}, MapWheelScrolls);
    EXPECT_NEAR(view.visibleYMax, 0, 1e-9);
}

TEST_F(MapViewTest, HoverIsThePresentPointerOverTheMapWhereNoWidgetTookIt) {
    const Rect rect{100, 900, 100, 600};
    const Box2 world{-0.5, 0.5, -0.5, 0.5};
    bench->pointers[0].state = PointerPresent;
    benchMove(bench, 0, 300, 200);
    frame(rect, world);
    EXPECT_EQ(view.hover, 1u);
    EXPECT_EQ(view.hoverX, 300.0f);
    EXPECT_EQ(view.hoverY, 200.0f);
    // Over a widget on the map: the widget has it.
    const Rect button{250, 350, 150, 250};
    frame(rect, world, MapWheelZooms, &button);
    EXPECT_EQ(view.hover, 0u);
    // Outside the view, or pressed (a drag, not a hover): none.
    benchMove(bench, 0, 50, 200);
    frame(rect, world);
    EXPECT_EQ(view.hover, 0u);
    benchPress(bench, 0, 500, 300);
    frame(rect, world);
    EXPECT_EQ(view.hover, 0u);
    // Released over the map, it hovers again.
    benchRelease(bench, 0);
    frame(rect, world);
    EXPECT_EQ(view.hover, 1u);
    EXPECT_EQ(view.hoverX, 500.0f);
}

TEST_F(MapViewTest, FlyScreenCentringShowsTwentyMetresPerLineAndWrapsAcrossTheAntimeridian) {
    frame(kWindow, kWrappingWorld);
    GeoPoint drone{179.9999, 64.1};
    Vec2 position;
    latLngToMercator(&position, &drone);
    f32 lineHeight = 40;
    setMapCenterAndZoom(&view, position.x, position.y, metersPerDegreeLongitude(drone.latitude) * 360 * lineHeight / 20);
    Vec2F32 at = geoPointToScreen(&view, drone);
    EXPECT_NEAR(at.x, kWidth / 2, 1e-3);
    // One line height east crosses the antimeridian and is 20 m away.
    GeoPoint east = screenPointToGeo(&view, at.x + lineHeight, at.y);
    EXPECT_LT(east.longitude, -179.9);
    f64 metres = wrapLongitudeNear(east.longitude - drone.longitude, 0) * metersPerDegreeLongitude(drone.latitude);
    EXPECT_NEAR(metres, 20, 0.01);
    EXPECT_NEAR(geoPointToScreen(&view, east).x, at.x + lineHeight, 1e-2);
    // Dragging the map left by 200 px moves the centre over the antimeridian; it stays in [-0.5, 0.5).
    benchPress(bench, 1, 640, 360);
    frame(kWindow, kWrappingWorld);
    for (f32 x = 600; x >= 440; x -= 40) {
        benchMove(bench, 1, x, 360);
        frame(kWindow, kWrappingWorld);
    }
    EXPECT_LT(view.centreX, -0.49);
    EXPECT_GE(view.centreX, -0.5);
    EXPECT_NEAR(geoPointToScreen(&view, drone).x, 440, 1e-2);
}

TEST_F(MapViewTest, OnePointerPansTwoPinchAndTheWheelZoomsAboutTheMouse) {
    Box2 world{-0.5, 0.5, -0.5, 0.5};
    frame(kWindow, world);
    setMapCenterAndZoom(&view, 0.1, 0.2, 1000);
    frame(kWindow, world);
    Vec2 pressed = screenPointToMap(&view, 500, 300);
    benchPress(bench, 0, 500, 300);
    frame(kWindow, world);
    benchMove(bench, 0, 505, 302);  // a small shake is no pan
    frame(kWindow, world);
    EXPECT_NEAR(view.centreX, 0.1, 1e-12);
    benchMove(bench, 0, 620, 250);
    frame(kWindow, world);
    frame(kWindow, world);
    Vec2 held = screenPointToMap(&view, 620, 250);
    EXPECT_NEAR(held.x, pressed.x, 1e-9);
    EXPECT_NEAR(held.y, pressed.y, 1e-9);

    // A second finger: moving both apart to twice their distance doubles the scale about their middle.
    benchPress(bench, 1, 720, 250);
    frame(kWindow, world);
    f64 ppu = view.pixelsPerUnit;
    Vec2 middle = screenPointToMap(&view, 670, 250);
    benchMove(bench, 0, 570, 250);
    benchMove(bench, 1, 770, 250);
    frame(kWindow, world);
    EXPECT_NEAR(view.pixelsPerUnit, 2 * ppu, 1e-6 * ppu);
    Vec2 middleNow = screenPointToMap(&view, 670, 250);
    EXPECT_NEAR(middleNow.x, middle.x, 1e-9);
    EXPECT_NEAR(middleNow.y, middle.y, 1e-9);
    benchRelease(bench, 0);
    benchRelease(bench, 1);
    MapTaps taps = frame(kWindow, world);
    EXPECT_EQ(taps.count, 0);

    // Two wheel notches up with the mouse at (900, 500): 1.25² times the scale, the point stays put.
    bench->pointers[0].state = PointerPresent;
    benchMove(bench, 0, 900, 500);
    Vec2 under = screenPointToMap(&view, 900, 500);
    ppu = view.pixelsPerUnit;
    platform->wheelDelta = 2;
    frame(kWindow, world);
    EXPECT_NEAR(view.pixelsPerUnit, ppu * 1.5625, 1e-6 * ppu);
    Vec2 underNow = screenPointToMap(&view, 900, 500);
    EXPECT_NEAR(underNow.x, under.x, 1e-9);
    // With scroll mode 1 the wheel scrolls: a tenth of the view's height per notch.
    f64 centreY = view.centreY;
    platform->wheelDelta = -1;
    frame(kWindow, world, MapWheelScrolls);
    EXPECT_NEAR(view.centreY, centreY - 0.1 * kHeight / view.pixelsPerUnit, 1e-9);
}

TEST_F(MapViewTest, TapsAreQuickStillReleasesAndClaimedPointersAreLeftAlone) {
    Box2 world{-0.5, 0.5, -0.5, 0.5};
    frame(kWindow, world);
    setMapCenterAndZoom(&view, 0, 0, 50);
    Vec2 expected = screenPointToMap(&view, 300, 400);
    benchPress(bench, 2, 300, 400);
    frame(kWindow, world);
    benchRelease(bench, 2);
    MapTaps taps = frame(kWindow, world);
    ASSERT_EQ(taps.count, 1);
    EXPECT_NEAR(taps.positions[0].x, expected.x, 1e-12);
    EXPECT_NEAR(taps.positions[0].y, expected.y, 1e-12);

    // Held too long, or panned away and back: no tap.
    benchPress(bench, 0, 300, 400);
    frame(kWindow, world);
    bench->stack->now += 300000;
    benchRelease(bench, 0);
    EXPECT_EQ(frame(kWindow, world).count, 0);
    benchPress(bench, 0, 300, 400);
    frame(kWindow, world);
    benchMove(bench, 0, 340, 400);
    frame(kWindow, world);
    benchMove(bench, 0, 300, 400);
    frame(kWindow, world);
    benchRelease(bench, 0);
    EXPECT_EQ(frame(kWindow, world).count, 0);

    // A press on a widget over the map belongs to the widget: the map neither pans nor taps.
    Rect button{250, 350, 350, 450};
    f64 centreX = view.centreX;
    benchPress(bench, 0, 300, 400);
    frame(kWindow, world, MapWheelZooms, &button);
    benchMove(bench, 0, 500, 400);
    frame(kWindow, world, MapWheelZooms, &button);
    frame(kWindow, world, MapWheelZooms, &button);
    EXPECT_EQ(view.centreX, centreX);
    benchMove(bench, 0, 300, 400);
    benchRelease(bench, 0);
    EXPECT_EQ(frame(kWindow, world, MapWheelZooms, &button).count, 0);
    // A press outside the view's rectangle is not the view's either.
    Rect half{0, 640, 0, 720};
    benchPress(bench, 0, 900, 400);
    frame(half, world);
    benchRelease(bench, 0);
    EXPECT_EQ(frame(half, world).count, 0);
}

TEST_F(MapViewTest, StripScrollsSidewaysAndFitHelpersPlaceBoxes) {
    view = makeMapView(WidgetId{11, "strip"}, MapViewModeHorizontalStrip);
    Rect cell{40, 1240, 240, 480};
    Box2 strip{0, 6.6, 0, 1};
    frame(cell, strip);
    EXPECT_NEAR(view.visibleXMin, 0, 1e-12);  // starts at its left end
    benchPress(bench, 0, 1000, 300);
    frame(cell, strip);
    benchMove(bench, 0, 760, 320);
    frame(cell, strip);
    frame(cell, strip);
    EXPECT_NEAR(view.visibleXMin, 1.0, 1e-9);  // 240 px at 240 px per picture unit
    EXPECT_NEAR(view.centreY, 0.5, 1e-12);     // the height fits: no vertical movement
    // The last move before the release still counts; the strip stops at its right end.
    benchMove(bench, 0, -4000, 300);
    benchRelease(bench, 0);
    frame(cell, strip);
    EXPECT_NEAR(view.visibleXMax, 6.6, 1e-9);

    view = makeMapView(WidgetId{12, "fit"}, MapViewModeMap);
    frame(kWindow, kWrappingWorld);
    // A box over the antimeridian, given with its east edge past 0.5, fits inside the margin.
    const f64 box[4] = {0.49, 0.52, 0.1, 0.11};
    zoomMapToFit(&view, box, 5);
    Rect r = mapRectToScreen(&view, box);
    EXPECT_NEAR(r.x0, 5, 1e-3);
    EXPECT_NEAR(r.x1, kWidth - 5, 1e-3);
    EXPECT_GT(r.y0, 5);
    EXPECT_LT(r.y1, kHeight - 5);
    EXPECT_NEAR((r.y0 + r.y1) / 2, kHeight / 2, 1e-3);
}

}  // namespace
