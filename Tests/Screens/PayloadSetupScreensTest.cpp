// The payload bench screens through the screens harness: the connection list against the payload
// stand-ins' frames, the Orvik and dropper controls read back from the control frames the
// stand-ins receive, and the number field's commits.
#include <gtest/gtest.h>

#include "Core/Preferences.h"
#include "PayloadStandInRig.h"
#include "Screens/ChildScreens.h"
#include "Screens/PayloadSetupScreens.h"

namespace {

using payloadrig::Rig;

const std::string kOnTheGround = "vehicle 1 3 0 47.397742 8.545594 0 0 0";
const std::string kOrvikIdle = "orvik 0 0 0 0 20 0000000000000000";

// The Orvik screen's controls: seven rows of two cells in the right half of the window.
struct OrvikControls {
    f32 x0, x1, y1, rowHeight, p;
    explicit OrvikControls(const ScreensHarness* harness) {
        const UiMetrics* m = &harness->app->uiMetrics;
        p = m->margin;
        f32 width = (f32)harness->render.width, height = (f32)harness->render.height;
        x0 = width / 2 + p;
        x1 = width - p;
        y1 = height - p;
        rowHeight = (height - 2 * p - 6 * p) / 7;
    }
    f32 y(i32 row) const { return y1 - row * (rowHeight + p) - rowHeight / 2; }
    f32 x(i32 side) const {
        f32 cell = (x1 - x0 - p) / 2;
        return side == 0 ? x0 + cell / 2 : x1 - cell / 2;
    }
};

class PayloadSetupStandIn : public ::testing::Test {
protected:
    void begin() { payloadrig::startRig(&rig); }
    void TearDown() override { payloadrig::stopRig(&rig); }
    void press(f32 x, f32 y) { click(&rig.harness, x, y); }
    void back() { tapKey(&rig.harness, KeyEscape); }
    // Clicks the first payload row of the connection list (under "Payload Type"): true when it opened
    // a setup screen.
    bool firstRowOpens(ScreenFunction screen) {
        press((f32)rig.harness.render.width / 2, rowCentreY(&rig.harness, 1));
        bool opened = topScreen(&rig.harness) == screen;
        if (opened) back();
        return opened;
    }
    Rig rig;
};

TEST_F(PayloadSetupStandIn, ConnectionRowsComeAndGoWithThePayloadsFrames) {
    ASSERT_NO_FATAL_FAILURE(begin());
    rig.app()->preferences.payloadType = PayloadVosk;
    rig.push(selectOrvikSetupConnectionScreen);
    EXPECT_FALSE(firstRowOpens(setupAttachedDodireruDropperScreen)) << "nothing heard yet";
    rig.repeat({kOnTheGround, "vosk 1 16 0 0 0 0"});  // the secondary unit alone
    rig.run(300000);
    EXPECT_TRUE(firstRowOpens(setupAttachedDodireruDropperScreen));
    rig.repeat({kOnTheGround});
    rig.run(1100000);
    EXPECT_FALSE(firstRowOpens(setupAttachedDodireruDropperScreen)) << "silent for a second";
    rig.repeat({kOnTheGround, "vosk 0 16 0 0 0 0"});
    rig.run(300000);
    EXPECT_TRUE(firstRowOpens(setupAttachedDodireruDropperScreen));

    rig.app()->preferences.payloadType = PayloadOrvik;
    EXPECT_FALSE(firstRowOpens(setupAttachedOrvik2Screen)) << "a VOSK unit is no Orvik payload";
    rig.repeat({kOnTheGround, kOrvikIdle});
    rig.run(300000);
    EXPECT_TRUE(firstRowOpens(setupAttachedOrvik2Screen));
    EXPECT_EQ(topScreen(&rig.harness), (ScreenFunction)selectOrvikSetupConnectionScreen);
}

TEST_F(PayloadSetupStandIn, OrvikStartTakesTwoPressesDropTwoClearsTheGroundTimingAndInjectionStaysInBounds) {
    ASSERT_NO_FATAL_FAILURE(begin());
    rig.repeat({kOnTheGround, kOrvikIdle});
    rig.run(300000);
    rig.push(setupAttachedOrvik2Screen);
    OrvikControls c(&rig.harness);
    const i32 kStartRow = 5;
    // "START" pressed twice: the second press lands on "CANCEL START".
    u64 t = rig.now();
    press(c.x(0), c.y(kStartRow));
    press(c.x(0), c.y(kStartRow));
    rig.run(200000);
    EXPECT_EQ(rig.byteOf(t, 1, "vehicle", 5 + OrvikRequestStart), 0);
    press(c.x(0), c.y(kStartRow));
    press(c.x(1), c.y(kStartRow));  // "CONFIRM START"
    rig.run(200000);
    rig.awaitByte(t, 1, "vehicle", 5 + OrvikRequestStart, 1);
    std::vector<u8> body = rig.lastBody(t, 1);
    ASSERT_EQ(body.size(), 16u);
    EXPECT_EQ(body[5 + OrvikRequestStart], 1);
    EXPECT_EQ(body[4], 254);
    EXPECT_EQ(body[1], 25) << "ground drop timing 2.5 s";

    press(c.x(1), c.y(kStartRow));  // "DROP 2"
    press(c.x(0), c.y(kStartRow));  // "CONFIRM DROP 2"
    EXPECT_EQ(rig.app()->preferences.orvikGroundDropTiming, 0);
    t = rig.now();
    rig.run(200000);
    rig.awaitByte(t, 1, "vehicle", 5 + OrvikRequestStart, 2);
    body = rig.lastBody(t, 1);
    ASSERT_EQ(body.size(), 16u);
    EXPECT_EQ(body[5 + OrvikRequestStart], 2);
    EXPECT_EQ(body[4], 2);
    EXPECT_EQ(body[1], 0);

    // The wanted amount follows the payload's 0.50 ml until asked; five steps down end at 0.10 ml.
    EXPECT_EQ(body[2], 255) << "no injection request yet";
    for (int i = 0; i < 5; i++) press(c.x(0), c.y(4));
    t = rig.now();
    rig.run(200000);
    rig.awaitByte(t, 1, "vehicle", 2, 10);
    body = rig.lastBody(t, 1);
    ASSERT_EQ(body.size(), 16u);
    EXPECT_EQ(body[2], 10);
    EXPECT_EQ(body[3], 10);
    press(c.x(1), c.y(4));
    press(c.x(0), c.y(6));  // "STOP"
    press(c.x(1), c.y(6));  // "EMERGENCY RELEASE", on a single press
    t = rig.now();
    rig.run(200000);
    rig.awaitByte(t, 1, "vehicle", 5 + OrvikRequestEmergencyRelease, 1);
    body = rig.lastBody(t, 1);
    ASSERT_EQ(body.size(), 16u);
    EXPECT_EQ(body[2], 20);
    EXPECT_EQ(body[5 + OrvikRequestStop], 1);
    EXPECT_EQ(body[5 + OrvikRequestEmergencyRelease], 1);
}

TEST_F(PayloadSetupStandIn, DropperOpensAChannelOnlyOnTheGroundAfterItsConfirmation) {
    ASSERT_NO_FATAL_FAILURE(begin());
    rig.repeat({kOnTheGround, "vosk 0 2 0 0 0 0", "vosk 1 0 0 0 0 0"});  // the primary reports flying
    rig.run(400000);
    ASSERT_EQ(rig.link().vosk.dropAllowed, 1u);
    rig.push(setupAttachedDodireruDropperScreen);
    const UiMetrics* m = &rig.app()->uiMetrics;
    f32 left = rig.app()->screenStack.runner.reservedWidth + m->margin;
    f32 cell = ((f32)rig.harness.render.width - m->margin - left - m->margin) / 2;
    f32 y = m->buttonTextHeight + m->rowHeight / 2;
    u64 t = rig.now();
    press(left + cell / 2, y);                         // "OPEN A": refused
    press(left + cell + m->margin + cell / 2, y);      // where "CONFIRM OPEN A" would be
    rig.run(200000);
    EXPECT_EQ(rig.byteOf(t, 8, "voskA", 1 + VoskRequestOpenA), 0);
    EXPECT_EQ(rig.byteOf(t, 8, "voskA", 1 + VoskRequestOpenB), 0);

    rig.repeat({kOnTheGround, "vosk 0 0 0 0 0 0", "vosk 1 0 0 0 0 0"});
    rig.run(400000);
    press(left + cell / 2, y);
    press(left + cell + m->margin + cell / 2, y);  // "CONFIRM OPEN A"
    t = rig.now();
    rig.run(200000);
    EXPECT_EQ(rig.awaitByte(t, 8, "voskA", 1 + VoskRequestOpenA, 1), 1);
    EXPECT_EQ(rig.awaitByte(t, 8, "voskB", 1 + VoskRequestOpenA, 1), 1);
}

class PayloadSetupScreens : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(startScreensHarness(&harness, 1024, 600)); }
    void TearDown() override { stopScreensHarness(&harness); }
    ScreensHarness harness{};
};

TEST_F(PayloadSetupScreens, NumberFieldIsThePeriodOnTheGroundAndTheSpacingInTheAir) {
    Preferences* preferences = &harness.app->preferences;
    preferences->orvikMaxDropPeriod = 1;
    preferences->orvikGroundDropTiming = 0.5;
    preferences->orvikDropSpacing = 20;
    preferences->units = UnitsImperialFps;
    ScreenStack* stack = &harness.app->screenStack;
    stack->screens[stack->depth++] = setupAttachedOrvik2Screen;
    clearScreenScratch(stack);
    frames(&harness, 2);
    OrvikControls c(&harness);
    click(&harness, c.x(0), c.y(0));
    typeText(&harness, "1.5");
    EXPECT_EQ(preferences->orvikGroundDropTiming, 1.5) << "stored as it is typed";
    sendKeyEvent(&harness, KeyEventDone);
    EXPECT_EQ(preferences->orvikGroundDropTiming, 1) << "held to the max drop period";

    harness.app->droneConnection.vehicle.flightPhase = 2;
    frames(&harness);
    click(&harness, c.x(0), c.y(0));
    typeText(&harness, "30");
    EXPECT_NEAR(preferences->orvikDropSpacing, 9.144, 1e-9) << "feet typed, metres stored";
    sendKeyEvent(&harness, KeyEventDone);
    EXPECT_NEAR(preferences->orvikDropSpacing, 9.144, 1e-9);
    EXPECT_EQ(preferences->orvikGroundDropTiming, 1);
}

TEST(PayloadInjection, StepsOfTenWithinTenToTwoHundred) {
    const u8 lowered[][2] = {{0, 10}, {15, 10}, {20, 10}, {25, 15}, {200, 190}, {255, 245}};
    for (const auto& k : lowered) EXPECT_EQ(lowerInjection(k[0]), k[1]) << (int)k[0];
    const u8 raised[][2] = {{0, 10}, {190, 200}, {191, 200}, {195, 200}, {200, 200}, {255, 200}};
    for (const auto& k : raised) EXPECT_EQ(raiseInjection(k[0]), k[1]) << (int)k[0];
}

}  // namespace
