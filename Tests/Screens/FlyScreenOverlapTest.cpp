// What lies over what on the fly screen, in real frames on llvmpipe: a settings panel over the map
// (the wheel and a press that the panel takes stay with it, and the map beneath keeps its zoom), and
// the flight log's warning beside a top bar full of indicators (it stays whole).
#include <gtest/gtest.h>

#include "Screens/ChildScreens.h"
#include "Screens/FlyScreen.h"
#include "ScreenTestSupport.h"

namespace {

constexpr f64 kLatitude = 47.397742;
constexpr f64 kLongitude = 8.545594;

class FlyScreenOverlapTest : public ::testing::Test {
protected:
    void SetUp() override { start(1920, 1080); }
    void start(i32 width, i32 height) {
        ASSERT_TRUE(startScreensHarness(&harness, width, height));
        ScreenStack* stack = &harness.app->screenStack;
        stack->depth = 2;
        stack->screens[1] = flyScreen;
        clearScreenScratch(stack);
        harness.app->preferences.minimapCorner = MinimapBottomRight;
        moveMouseAway(&harness);
        VehicleState* v = &harness.app->droneConnection.vehicle;
        v->globalPosition = GlobalPosition{harness.render.now, kLongitude, kLatitude, 30, 530};
        v->lastHeardTime = harness.render.now;
        frames(&harness, 3);
    }
    void TearDown() override { stopScreensHarness(&harness); }

    FlyScreenState* state() { return (FlyScreenState*)harness.app->screenStack.screenState; }

    ScreensHarness harness{};
};

TEST_F(FlyScreenOverlapTest, WheelAndPressOverASettingsPanelLeaveTheMapBeneath) {
    state()->openPanel = FlyPanelTransectSettings;
    harness.render.captureText = true;
    frames(&harness, 2);
    const TextRun* row = shownText(&harness, "Transect Spacing");
    ASSERT_NE(row, nullptr);
    // Right of the row's title, and, below the rows, between the Back button and the panel's edge.
    f32 panelX = row->x0 + 12 * harness.app->uiMetrics.textHeight, rowY = (row->y0 + row->y1) / 2;
    f32 emptyY = 4 * harness.app->uiMetrics.textHeight;
    f64 zoom = state()->mapView.zoom;
    f64 centreX = state()->mapView.centreX, centreY = state()->mapView.centreY;

    // Over a row and over the panel's empty part below its rows.
    wheel(&harness, panelX, rowY, 3);
    frames(&harness);
    wheel(&harness, panelX, emptyY, -3);
    frames(&harness);
    EXPECT_EQ(state()->mapView.zoom, zoom);
    EXPECT_EQ(state()->mapView.centreX, centreX);
    EXPECT_EQ(state()->mapView.centreY, centreY);
    // A tap on the empty part is the panel's: no tap on the map under it.
    click(&harness, panelX, emptyY);
    frames(&harness);
    EXPECT_EQ(state()->showTapInfo, 0u);
    EXPECT_EQ(state()->openPanel, (u32)FlyPanelTransectSettings);

    // Beside the panel the wheel zooms the map about the mouse, and a tap shows what is there.
    wheel(&harness, 1400, 540, 3);
    frames(&harness);
    EXPECT_GT(state()->mapView.zoom, zoom);
    click(&harness, 1400, 540);
    frames(&harness);
    EXPECT_EQ(state()->showTapInfo, 1u);
}

// With the VOSK indicator, the strobe button, the drawing tools and every other indicator in a
// narrow window's top bar, the flight log's warning has no room left of them: it is shown whole
// below the bar (it used to be cut to "…g: read-only file system"); in a wide window it stays in the
// bar.
struct FlyScreenNarrowBarTest : FlyScreenOverlapTest {
    void SetUp() override {}
};

TEST_F(FlyScreenNarrowBarTest, TheFlightLogWarningStaysWholeWithEveryPayloadButtonShown) {
    const char* warning = "Flight log: read-only file system";
    for (i32 width : {1024, 1920}) {
        start(width, 700);
        AppState* app = harness.app;
        app->preferences.payloadType = PayloadVosk;
        app->preferences.developerMode = 1;
        app->droneConnection.payload.light.reportTime = harness.render.now;
        app->flightLogger.writeFailure = makeString(warning);
        harness.render.captureText = true;
        frames(&harness, 2);
        ASSERT_NE(shownText(&harness, "Strobe"), nullptr) << width;
        const TextRun* shown = shownText(&harness, "read-only file system");
        ASSERT_NE(shown, nullptr) << width;
        // Whole (the run may go on with the indicator right of it).
        EXPECT_EQ(shown->text.rfind(warning, 0), 0u) << width << ": " << shown->text;
        EXPECT_LE(shown->x1, (f32)width) << width;
        f32 barBottom = 700 - app->uiMetrics.buttonHeight;
        bool inBar = shown->y0 >= barBottom;
        EXPECT_EQ(inBar, width == 1920) << width << ": drawn at " << shown->y0 << ", the bar from " << barBottom;
        if (width == 1024) writeHarnessPng(&harness.render, outputPath("fly_screen_narrow_bar.png").c_str());
        stopScreensHarness(&harness);
        harness = ScreensHarness{};
    }
}

}  // namespace
