// The fly screen's payload rows, hosted by a screen that passes them a panel selector and number
// field of its own (as the fly screen does, including its hold of the countdown row): presses go
// through the screens harness, and what they ask for is read from the control frames that the
// payload stand-ins receive, or, for the drawing, from the pixels.
#include <gtest/gtest.h>

#include "Core/PreferenceFields.h"
#include "Core/Preferences.h"
#include "PayloadStandInRig.h"
#include "Screens/ChildScreens.h"
#include "Screens/FlyScreen.h"
#include "Screens/FlyScreenPayloadPanels.h"
#include "Screens/FlyScreenSharedUiViewLog.h"
#include "Screens/PayloadScreenCommon.h"
#include "SourceCommon/Renderer/ImageAssets.h"

namespace {

using payloadrig::Rig;

struct PanelHost {
    u32 openPanel;
    WidgetId editFieldId;
    FixedString editText;
};
PanelHost host;

void panelHostScreen(Platform*, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult*, void*) {
    const OrvikPayloadState* orvik = &app->droneConnection.payload.orvik;
    if (orvik->autoReleaseDeadline > 0 && orvik->autoReleaseDeadline > (i64)stack->now) {
        host.openPanel = PayloadPanelOrvikCountdown;
    } else if (host.openPanel == PayloadPanelOrvikCountdown) {
        host.openPanel = PayloadPanelOrvik;
    }
    host.editFieldId = WidgetId{75, "Screens/FlyScreen"};
    // The top bar's strobe toggle, at its right end.
    const UiMetrics* m = &app->uiMetrics;
    Rect bar{ui->screenRect.x0, ui->screenRect.x1, ui->screenRect.y1 - m->buttonHeight, ui->screenRect.y1};
    f32 cursor = bar.x1;
    ButtonStyle style{};
    style.fill = 0xE0303030;
    style.textStyle = TextStyle{kTextWhite, kNoOutline, kSelectionOrange, m->textHeight, 0, 0};
    strobeToggleButton(&host.openPanel, &cursor, &bar, &style, &app->droneConnection.payload.light, ui, stack,
                       stack->now);
    PayloadPanelFrame frame{ui, stack, app, &host.openPanel, &host.editFieldId, &host.editText, nullptr, stack->now};
    drawFlyScreenPayloadPanels(&frame, app->uiMetrics.buttonHeight);
}

// Where a user finds the cells: rows under the top bar, toolbar cells from the right edge.
struct Cells {
    f32 width, height, H, L, bar;
    explicit Cells(const ScreensHarness* harness) {
        const UiMetrics* m = &harness->app->uiMetrics;
        width = (f32)harness->render.width;
        height = (f32)harness->render.height;
        H = m->rowHeight;
        L = m->buttonTextHeight;
        bar = m->buttonHeight;
    }
    f32 rowY(i32 row) const { return height - bar - (row + 0.5f) * H; }
    // The centre of the k-th cell from the right of cells of the given widths (in rows).
    f32 fromRight(std::initializer_list<f32> widths, i32 k) const {
        f32 x = width;
        i32 i = 0;
        for (f32 w : widths) {
            if (i++ == k) return x - w * H / 2;
            x -= w * H;
        }
        return 0;
    }
    f32 orvik(i32 k) const { return fromRight({1.4f, 0.8f, 0.6f, 1.4f, 1.4f, 1.4f, 1.4f, 1.4f}, k); }
    f32 wide(i32 k) const { return width - (k + 0.5f) * 1.6f * H; }  // strobe and VOSK cells
    f32 confirmCancel() const { return L + 7 * part() + 0.7f * H; }
    f32 confirmYes() const { return L + 8 * part() + 2.1f * H; }
    f32 part() const { return (width - L - 2.8f * H) / 9; }
};
enum OrvikCell { CellGeofence = 3, CellRelease = 4, CellStop = 5, CellStart = 6, CellSpacing = 7 };

const std::string kOnTheGround = "vehicle 1 3 0 47.397742 8.545594 0 0 0";
const std::string kInTheAir = "vehicle 2 3 0 47.397742 8.545594 30 0 0";

class PayloadPanelsStandIn : public ::testing::Test {
protected:
    // Each test its own ports: ctest runs them side by side.
    void begin() {
        host = PanelHost{};
        payloadrig::startRig(&rig);
        rig.push(panelHostScreen);
    }
    void TearDown() override { payloadrig::stopRig(&rig); }
    void press(f32 x, f32 y) { click(&rig.harness, x, y); }
    Rig rig;
};

TEST_F(PayloadPanelsStandIn, OrvikStartStopAndEmergencyReleaseOnlyAfterYes) {
    ASSERT_NO_FATAL_FAILURE(begin());
    rig.repeat({kOnTheGround, "orvik 0 0 0 0 20 0000000000000000"});
    rig.run(300000);
    ASSERT_EQ(rig.link().kind, (u32)PayloadKindOrvik);
    host.openPanel = PayloadPanelOrvik;
    Cells c(&rig.harness);
    u64 t = rig.now();
    press(c.orvik(CellStart), c.rowY(0));
    rig.run(200000);
    rig.awaitByte(t, 1, "vehicle", 5 + OrvikRequestStart, 1);
    std::vector<u8> body = rig.lastBody(t, 1);
    ASSERT_EQ(body.size(), 16u);
    EXPECT_EQ(body[4], 254);
    EXPECT_EQ(body[5 + OrvikRequestStart], 1);
    t = rig.now();
    press(c.orvik(CellStop), c.rowY(0));
    rig.run(200000);
    EXPECT_EQ(rig.awaitByte(t, 1, "vehicle", 5 + OrvikRequestStop, 1), 1);

    // "Emg. Release" twice opens and closes the question: nothing is asked of the payload.
    press(c.orvik(CellRelease), c.rowY(0));
    EXPECT_EQ(host.openPanel, (u32)PayloadPanelOrvikReleaseConfirm);
    press(c.orvik(CellRelease), c.rowY(0));
    EXPECT_EQ(host.openPanel, (u32)PayloadPanelOrvik);
    t = rig.now();
    rig.run(200000);
    EXPECT_EQ(rig.byteOf(t, 1, "vehicle", 5 + OrvikRequestEmergencyRelease), 0);
    // Each "Yes" asks once more; the question stays.
    press(c.orvik(CellRelease), c.rowY(0));
    press(c.confirmYes(), c.rowY(1));
    press(c.confirmYes(), c.rowY(1));
    t = rig.now();
    rig.run(200000);
    EXPECT_EQ(rig.awaitByte(t, 1, "vehicle", 5 + OrvikRequestEmergencyRelease, 2), 2);
    EXPECT_EQ(host.openPanel, (u32)PayloadPanelOrvikReleaseConfirm);
}

TEST_F(PayloadPanelsStandIn, CountdownCancelHoldsAndReleaseNowFiresAtOnce) {
    ASSERT_NO_FATAL_FAILURE(begin());
    rig.repeat({kOnTheGround, "orvik 163 0 0 0 20 0000000000000000"});
    rig.run(300000);
    OrvikPayloadState& orvik = rig.link().orvik;
    ASSERT_GT(orvik.autoReleaseDeadline, (i64)rig.now());
    ASSERT_EQ(host.openPanel, (u32)PayloadPanelOrvikCountdown);
    Cells c(&rig.harness);
    press(c.confirmCancel(), c.rowY(1));
    EXPECT_EQ(orvik.autoReleaseDeadline, -1);
    rig.step();
    EXPECT_EQ(host.openPanel, (u32)PayloadPanelOrvik) << "the toolbar stays open";
    u64 t = rig.now();
    rig.run(300000);
    EXPECT_EQ(rig.byteOf(t, 1, "vehicle", 5 + OrvikRequestEmergencyRelease), 0);

    // The state leaves 163 and comes back: armed again, and released at once on request.
    rig.repeat({kOnTheGround, "orvik 0 0 0 0 20 0000000000000000"});
    rig.run(300000);
    rig.repeat({kOnTheGround, "orvik 163 0 0 0 20 0000000000000000"});
    rig.run(300000);
    ASSERT_EQ(host.openPanel, (u32)PayloadPanelOrvikCountdown);
    t = rig.now();
    press(c.confirmYes(), c.rowY(1));
    rig.run(200000);
    EXPECT_GT(rig.awaitByte(t, 1, "vehicle", 5 + OrvikRequestEmergencyRelease, Rig::kAnyNonZero), 0);
    EXPECT_LT(rig.now() - t, 1000000u) << "well before the 5 s countdown";
}

TEST_F(PayloadPanelsStandIn, VoskDropsOnlyWhileItsChannelIsReadyAndTheConfirmationClosesOnLanding) {
    ASSERT_NO_FATAL_FAILURE(begin());
    rig.app()->preferences.developerMode = 1;
    rig.repeat({kInTheAir, "vosk 0 18 0 0 0 0", "vosk 1 18 0 0 0 0"});
    rig.run(400000);
    ASSERT_EQ(rig.link().vosk.dropAllowed, 1u);
    host.openPanel = PayloadPanelVosk;
    Cells c(&rig.harness);
    press(c.wide(3), c.rowY(0));  // "Drop A"
    ASSERT_EQ(host.openPanel, (u32)PayloadPanelVoskDropAConfirm);
    u64 t = rig.now();
    press(c.confirmYes(), c.rowY(1));
    EXPECT_EQ(host.openPanel, (u32)PayloadPanelVosk);
    rig.run(200000);
    EXPECT_EQ(rig.awaitByte(t, 8, "voskA", 1 + VoskRequestDropA, 1), 1);
    EXPECT_EQ(rig.awaitByte(t, 8, "voskB", 1 + VoskRequestDropA, 1), 1);

    // Channel A half open on the primary: its cell ignores presses. Channel B is still ready.
    rig.repeat({kInTheAir, "vosk 0 18 0 1 0 0", "vosk 1 18 0 0 0 0"});
    rig.run(300000);
    press(c.wide(3), c.rowY(0));
    EXPECT_EQ(host.openPanel, (u32)PayloadPanelVosk);
    press(c.wide(2), c.rowY(0));  // "Drop B"
    ASSERT_EQ(host.openPanel, (u32)PayloadPanelVoskDropBConfirm);
    // The vehicle lands before "Yes": the question goes away by itself and its place asks nothing.
    rig.repeat({kOnTheGround, "vosk 0 18 0 1 0 0", "vosk 1 18 0 0 0 0"});
    rig.run(300000);
    EXPECT_EQ(host.openPanel, (u32)PayloadPanelVosk);
    t = rig.now();
    press(c.confirmYes(), c.rowY(1));
    rig.run(200000);
    EXPECT_EQ(rig.byteOf(t, 8, "voskA", 1 + VoskRequestDropB), 0);
}

TEST_F(PayloadPanelsStandIn, StrobeLightReceivesEachButtonsValues) {
    ASSERT_NO_FATAL_FAILURE(begin());
    rig.repeat({kOnTheGround, "light 2 1 0"});
    rig.run(300000);
    host.openPanel = PayloadPanelStrobe;
    Cells c(&rig.harness);
    struct Expected {
        int brightness, pattern, mode;  // -1: the light's automatic choice
    };
    const Expected expected[8] = {{-1, -1, 3}, {-1, -1, 2}, {4, 3, 1}, {4, 2, 1}, {2, 2, 1}, {4, 1, 1}, {2, 1, 1}, {1, 1, 1}};
    std::vector<u8> before = rig.lastBody(0, 9);
    ASSERT_EQ(before.size(), 4u) << "the light is sent its state while it reports";
    int lastCounter = before[3];
    for (i32 k = 0; k < 8; k++) {
        u64 t = rig.now();
        press(c.wide(k), c.rowY(0));
        rig.run(250000);
        // The first frame with a new change counter in the button's mode carries its values.
        std::vector<u8> body = rig.awaitBody(t, 9, "vehicle", [&](const std::vector<u8>& b) {
            return b.size() == 4 && (int)b[3] != lastCounter && b[2] == expected[k].mode;
        });
        ASSERT_EQ(body.size(), 4u) << k;
        EXPECT_EQ(body[2], expected[k].mode) << k;
        if (expected[k].brightness >= 0) {
            EXPECT_EQ(body[0], expected[k].brightness) << k;
            EXPECT_EQ(body[1], expected[k].pattern) << k;
        }
        lastCounter = body[3];
    }
}

class PayloadPanelsDrawn : public ::testing::Test {
protected:
    void SetUp() override {
        host = PanelHost{};
        ASSERT_TRUE(startScreensHarness(&harness, 1024, 600));
        ScreenStack* stack = &harness.app->screenStack;
        stack->screens[stack->depth++] = panelHostScreen;
        clearScreenScratch(stack);
        frames(&harness, 2);
    }
    void TearDown() override { stopScreensHarness(&harness); }
    // Pixels in a rectangle (window pixels, y up) that the test accepts.
    template <typename Accept>
    i32 countPixels(f32 x0, f32 x1, f32 y0, f32 y1, Accept accept) {
        i32 count = 0;
        for (i32 y = (i32)y0; y < (i32)y1; y++) {
            for (i32 x = (i32)x0; x < (i32)x1; x++) count += accept(harnessPixel(&harness.render, x, y)) ? 1 : 0;
        }
        return count;
    }
    ScreensHarness harness{};
};

bool near(u32 pixel, u32 colour) {
    for (i32 shift = 0; shift < 24; shift += 8) {
        i32 a = (pixel >> shift) & 255, b = (colour >> shift) & 255;
        if (a - b > 40 || b - a > 40) return false;
    }
    return true;
}

TEST_F(PayloadPanelsDrawn, StatusTextTakesRedYellowOrWhite) {
    OrvikPayloadState* orvik = &harness.app->droneConnection.payload.orvik;
    host.openPanel = PayloadPanelOrvik;
    frames(&harness);
    Cells c(&harness);
    f32 right = c.width - (1.4f + 0.8f + 0.6f + 5 * 1.4f) * c.H;
    struct Case {
        u32 state;
        i8 chute;
        u64 word;
        Color colour;
    };
    const Case cases[] = {{0, 20, 0, kTextWhite},        {163, 20, 0, kOrvikStatusRed}, {0, 20, 1ull << 19, kOrvikStatusRed},
                          {0, 61, 0, kOrvikStatusYellow}, {96, 20, 0, kOrvikStatusYellow}, {0, 20, 8, kOrvikStatusYellow}};
    for (const Case& k : cases) {
        orvik->state = k.state;
        orvik->chuteTemp = k.chute;
        orvik->statusWord = k.word;
        orvik->statusTime = harness.render.now;
        frames(&harness);
        i32 matching = countPixels(c.L, right, c.rowY(0) - c.H / 2, c.rowY(0) + c.H / 2,
                                   [&](u32 p) { return near(p, k.colour); });
        EXPECT_GT(matching, 20) << "state " << k.state << " chute " << (int)k.chute << " word " << k.word;
        for (Color other : {kTextWhite, kOrvikStatusRed, kOrvikStatusYellow}) {
            if (other == k.colour) continue;
            EXPECT_EQ(countPixels(c.L, right, c.rowY(0) - c.H / 2, c.rowY(0) + c.H / 2,
                                  [&](u32 p) { return near(p, other); }),
                      0)
                << "state " << k.state;
        }
    }
}

TEST_F(PayloadPanelsDrawn, DropCellOfAChannelNotReadyIsGreyAndIgnoresPresses) {
    VoskPayloadState* vosk = &harness.app->droneConnection.payload.vosk;
    harness.app->droneConnection.vehicle.flightPhase = 2;
    vosk->dropAllowed = 1;
    for (VoskUnitStatus& unit : vosk->units) {
        unit.statusTime = harness.render.now;
        unit.flying = unit.sbusArmed = 1;
    }
    vosk->units[1].dropServo[1] = 1;  // channel B partly dropped
    host.openPanel = PayloadPanelVosk;
    frames(&harness);
    Cells c(&harness);
    auto whiteIn = [&](i32 k) {
        return countPixels(c.wide(k) - 0.8f * c.H, c.wide(k) + 0.8f * c.H, c.rowY(0) - c.H / 2, c.rowY(0) + c.H / 2,
                           [](u32 p) { return near(p, kTextWhite); });
    };
    // The caption's marks: pixels unlike the row's background, none of them white.
    auto captionIn = [&](i32 k) {
        u32 background = harnessPixel(&harness.render, (i32)(c.wide(k) + 0.75f * c.H), (i32)(c.rowY(0) - 0.4f * c.H));
        return countPixels(c.wide(k) - 0.8f * c.H, c.wide(k) + 0.8f * c.H, c.rowY(0) - c.H / 2, c.rowY(0) + c.H / 2,
                           [&](u32 p) { return !near(p, background); });
    };
    EXPECT_GT(whiteIn(3), 50) << "drop A: caption and outline";
    EXPECT_EQ(whiteIn(2), 0) << "drop B: no outline, no white caption";
    EXPECT_GT(captionIn(2), 20) << "drop B: its grey caption";
    click(&harness, c.wide(2), c.rowY(0));
    EXPECT_EQ(host.openPanel, (u32)PayloadPanelVosk);
    click(&harness, c.wide(3), c.rowY(0));
    EXPECT_EQ(host.openPanel, (u32)PayloadPanelVoskDropAConfirm);
}

TEST_F(PayloadPanelsDrawn, DropSpacingTypedOnTheNumberPadIsStoredInMetres) {
    Preferences* preferences = &harness.app->preferences;
    preferences->orvikDropSpacing = 20;
    preferences->units = UnitsImperialMph;
    host.openPanel = PayloadPanelOrvik;
    frames(&harness);
    Cells c(&harness);
    click(&harness, c.orvik(CellSpacing), c.rowY(0));
    ASSERT_EQ(host.openPanel, (u32)PayloadPanelOrvikDropSpacing);
    typeText(&harness, "12");
    sendKeyEvent(&harness, KeyEventDone);
    EXPECT_NEAR(preferences->orvikDropSpacing, 3.6576, 1e-9);
    EXPECT_EQ(host.openPanel, (u32)PayloadPanelOrvik) << "Done closes the editor";
    // An empty submission keeps the value.
    click(&harness, c.orvik(CellSpacing), c.rowY(0));
    sendKeyEvent(&harness, KeyEventDone);
    EXPECT_NEAR(preferences->orvikDropSpacing, 3.6576, 1e-9);
    EXPECT_EQ(host.openPanel, (u32)PayloadPanelOrvik);
}

TEST_F(PayloadPanelsDrawn, StrobeToggleOpensAndClosesItsPanelWhileTheLightReports) {
    StrobeLight* light = &harness.app->droneConnection.payload.light;
    Cells c(&harness);
    f32 x = c.width - 0.7f * c.bar, y = c.height - c.bar / 2;
    click(&harness, x, y);
    EXPECT_EQ(host.openPanel, 0u) << "a light never heard has no toggle";
    light->reportTime = harness.render.now;
    click(&harness, x, y);
    EXPECT_EQ(host.openPanel, (u32)PayloadPanelStrobe);
    click(&harness, x, y);
    EXPECT_EQ(host.openPanel, 0u);
    host.openPanel = PayloadPanelVosk;
    click(&harness, x, y);
    EXPECT_EQ(host.openPanel, (u32)PayloadPanelStrobe);
    light->reportTime = harness.render.now - kStrobeReportHoldTime;
    click(&harness, x, y);
    EXPECT_EQ(host.openPanel, (u32)PayloadPanelStrobe) << "silent for 10 s: gone";
}

TEST(FlyScreenPayloadRows, TheFlyScreenShowsThemUnderItsTelemetryAndOpensTheStrobePanelFromItsBar) {
    ScreensHarness harness{};
    ASSERT_TRUE(startScreensHarness(&harness, 1024, 600));
    ScreenStack* stack = &harness.app->screenStack;
    stack->screens[stack->depth++] = flyScreen;
    clearScreenScratch(stack);
    frames(&harness, 2);
    FlyScreenState* state = (FlyScreenState*)stack->screenState;
    OrvikPayloadState* orvik = &harness.app->droneConnection.payload.orvik;
    state->openPanel = PayloadPanelOrvik;
    frames(&harness);
    Cells c(&harness);
    c.bar += 2 * harness.app->uiMetrics.textHeight;  // the rows start under the telemetry text
    click(&harness, c.orvik(CellStart), c.rowY(0));
    EXPECT_EQ(orvik->requestCounters[OrvikRequestStart], 1);
    EXPECT_EQ(orvik->wantedDropCount, 254);
    // The light reports: its toggle is the bar's rightmost control (no payload indicator).
    harness.app->droneConnection.payload.light.reportTime = harness.render.now;
    frames(&harness);
    click(&harness, c.width - 0.7f * harness.app->uiMetrics.buttonHeight, c.height - harness.app->uiMetrics.buttonHeight / 2);
    EXPECT_EQ(state->openPanel, (u32)PayloadPanelStrobe);
    stopScreensHarness(&harness);
}

TEST(PayloadNumberEntry, LengthsAndTimesCommitByTheUnitsPreference) {
    struct Case {
        const char* text;
        u32 units;
        u32 committed;
        f64 metres;
    };
    const Case cases[] = {
        {"12", UnitsImperialMph, 1, 3.6576},  {"30", UnitsImperialFps, 1, 9.144}, {"30", UnitsNauticalKn, 1, 9.144},
        {"12", UnitsMetricKmh, 1, 12},        {"1.5", UnitsMetricMps, 1, 1.5},    {"", UnitsMetricMps, 0, 7},
        {"abc", UnitsImperialMph, 1, 0},      {"1e400", UnitsMetricMps, 1, kMaxPreferenceNumber},    {"-3", UnitsMetricMps, 1, -3},
    };
    for (const Case& k : cases) {
        Preferences preferences{};
        preferences.units = k.units;
        f64 metres = 7;
        FixedString text = makeString(k.text);
        EXPECT_EQ(commitLengthEntry(&text, &preferences, &metres), k.committed) << k.text;
        EXPECT_NEAR(metres, k.metres, 1e-9) << k.text << " units " << k.units;
    }
    Preferences preferences{};
    preferences.orvikMaxDropPeriod = 1;
    for (f64 typed : {1.5, 1.0, 0.5}) {
        preferences.orvikGroundDropTiming = typed;
        clampGroundDropTiming(&preferences);
        EXPECT_EQ(preferences.orvikGroundDropTiming, typed > 1 ? 1 : typed);
    }
}

TEST(OrvikBatteryIcon, FiveLevelsByTenthsOfAVolt) {
    const u8 volts[] = {0, 72, 73, 75, 76, 78, 79, 81, 82, 255};
    const i32 levels[] = {0, 0, 1, 1, 2, 2, 3, 3, 4, 4};
    for (i32 i = 0; i < 10; i++) EXPECT_EQ(orvikBatteryAsset(volts[i]), AssetBattery0 + levels[i]) << (int)volts[i];
}

TEST(StrobeStateText, ReportedModeBrightnessAndPattern) {
    struct Case {
        u8 brightness, pattern, mode;
        const char* text;
    };
    const Case cases[] = {{1, 2, 0, "Off"},           {1, 2, 2, "Auto Day - Off"},       {1, 3, 3, "Auto Night - Off"},
                          {3, 7, 0, "Pattern 7 Medium"}, {4, 3, 2, "Auto Day - Rotate High"}, {2, 0, 1, "Pulse Low"},
                          {9, 1, 0, "On "}};
    for (const Case& k : cases) {
        StrobeLight light{};
        light.reportedBrightness = k.brightness;
        light.reportedPattern = k.pattern;
        light.reportedMode = k.mode;
        u8 bytes[200];
        ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
        appendStrobeStateText(&light, &writer);
        EXPECT_EQ(std::string((const char*)bytes, (size_t)writer.length), k.text);
    }
}

}  // namespace
