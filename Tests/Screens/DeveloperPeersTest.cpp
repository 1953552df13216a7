// The developer screens against node-mavlink stand-ins on the loopback, stepped on the test's clock:
// Test Pixy U shows the gimbal's version and sends the typed attitude as one DO_MOUNT_CONTROL, and
// the FC Sequence rows follow the flight controller's sequence numbers with their red rule.
#include <gtest/gtest.h>

#include "Tests/Drone/StandInRig.h"
#include "Drone/FlightController/AutopilotState.h"
#include "Screens/Test/TestScreenStates.h"
#include "Screens/Test/TestScreens.h"
#include "ScreenTestSupport.h"
#include "SourceCommon/UserInterface/TextEdit.h"

using namespace standin;

namespace {

class DeveloperPeersTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(startScreensHarness(&harness, 800, 1200)); }
    void TearDown() override {
        // The rig goes back to its own connection before it is destroyed.
        if (own) {
            rig.connection.release();
            rig.connection.reset(own);
        }
        stopScreensHarness(&harness);
    }
    // From here on the rig steps the application's connection, which the screens read.
    void shareConnection() {
        harness.app->droneConnection = *rig.connection;
        own = rig.connection.release();
        rig.connection.reset(&harness.app->droneConnection);
    }
    void open(ScreenFunction screen) {
        ScreenStack* stack = &harness.app->screenStack;
        stack->depth = 2;
        stack->screens[1] = screen;
        clearScreenScratch(stack);
        moveMouseAway(&harness);
        frames(&harness, 2);
    }
    void enter(i32 row, const char* text) {
        click(&harness, 400, rowCentreY(&harness, row));
        typeText(&harness, text);
        sendKeyEvent(&harness, KeyEventDone);
        frames(&harness);
    }

    ScreensHarness harness{};
    Rig rig;
    DroneConnection* own = nullptr;
};

TEST_F(DeveloperPeersTest, PixyUShowsTheGimbalVersionAndSendsPitchRollYawInThatOrder) {
    startStandIn(&rig, "camera", {"gremsy", "versions=7.9:2:0"}, [&] {
        const GremsyGimbalState& g = rig.connection->gremsyGimbal;
        return g.parameters[GremsyVersionX].received && g.parameters[GremsyVersionY].received &&
               g.parameters[GremsyVersionZ].received;
    });
    shareConnection();
    GremsyGimbalState* gimbal = &harness.app->droneConnection.gremsyGimbal;
    EXPECT_FLOAT_EQ(parameterFloat(gimbal->parameters[GremsyVersionX].value), 7.9f);
    EXPECT_STREQ(gimbalVersionText(parameterFloat(gimbal->parameters[GremsyVersionX].value),
                                   parameterFloat(gimbal->parameters[GremsyVersionY].value),
                                   parameterFloat(gimbal->parameters[GremsyVersionZ].value))
                     .text,
                 "7.2.0");

    open(testPixyUScreen);
    enter(5, "30");    // pitch
    enter(6, "-15");   // yaw
    enter(7, "4.5");   // roll
    EXPECT_FLOAT_EQ(gimbal->requestPitch, 30);
    EXPECT_FLOAT_EQ(gimbal->requestYaw, -15);
    EXPECT_FLOAT_EQ(gimbal->requestRoll, 4.5f);
    click(&harness, 400, rowCentreY(&harness, 8));
    ASSERT_EQ(gimbal->requestPending, 1u);
    ASSERT_TRUE(rig.runUntil([&] { return !rig.linesStartingWith("command 255 190 1 154 205 ").empty(); }, 200));
    std::vector<std::string> sent = rig.linesStartingWith("command 255 190 1 154 205 ");
    ASSERT_EQ(sent.size(), 1u);
    std::vector<std::string> w = splitWords(sent[0]);
    ASSERT_EQ(w.size(), 13u);
    const double expected[7] = {30, 4.5, -15, 0, 0, 1, 2};
    for (int i = 0; i < 7; i++) EXPECT_DOUBLE_EQ(std::stod(w[6 + i]), expected[i]) << "param" << i + 1;
    EXPECT_EQ(gimbal->requestPending, 0u);
}

TEST_F(DeveloperPeersTest, FcSequenceRowsFollowTheFlightControllersNumbers) {
    const u8 numbers[9] = {5, 6, 8, 8, 9, 254, 255, 0, 1};
    startStandIn(&rig, "sequence", {"5,6,8,8,9,254,255,0,1"},
                 [&] { return rig.connection->traffic[TrafficDroneLink].fcSequenceCount >= 9; });
    shareConnection();
    const MavlinkTrafficStats& traffic = harness.app->droneConnection.traffic[TrafficDroneLink];
    ASSERT_EQ(traffic.fcSequenceCount, 9);
    const u32 inSequence[9] = {1, 1, 0, 0, 1, 0, 1, 1, 1};  // a gap, a repeat, a jump, then 255 to 0
    for (i32 i = 0; i < 9; i++) {
        EXPECT_EQ(traffic.fcSequence[i], numbers[i]) << i;
        FcSequenceRow row = fcSequenceRow(traffic.fcSequence, traffic.fcMessageId, i);
        EXPECT_EQ(row.inSequence, inSequence[i]) << i;
        EXPECT_STREQ(row.message.text, i % 2 ? "ATTITUDE (30)" : "HEARTBEAT (0)") << i;
    }

    // On screen: the third row has red text, the second none.
    open(fcSequenceScreen);
    f32 unit = screenLineHeight(harness.ui), padding = unit / 8;
    f32 listTop = 1200 - padding - 2 * unit - padding;
    auto redPixels = [&](i32 row) {
        i32 count = 0;
        i32 top = (i32)(listTop - row * (unit + padding)), bottom = (i32)(top - unit - padding);
        for (i32 y = bottom + 1; y < top; y++) {
            for (i32 x = 0; x < 400; x++) count += harnessPixel(&harness.render, x, y) == 0xFF0000DDu;
        }
        return count;
    };
    EXPECT_EQ(redPixels(1), 0);
    EXPECT_GT(redPixels(2), 10);
    EXPECT_GT(redPixels(5), 10);
    EXPECT_EQ(redPixels(7), 0);

    // "Reset" starts a new recording.
    click(&harness, padding + 5 * unit, 1200 - padding - unit);
    EXPECT_EQ(traffic.fcSequenceCount, 0);
}

}  // namespace
