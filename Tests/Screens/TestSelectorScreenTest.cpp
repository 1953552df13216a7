// The developer menu through real frames: every screen row opens its screen, the forced drone
// configuration for each autopilot and camera pair, the identity rows' low-byte rule, the system
// rows' names, and the system rows' texts from the platform.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "Platform/SystemInfo.h"
#include "Screens/Test/TestScreen.h"
#include "Screens/Test/TestScreenStates.h"
#include "Screens/Test/TestScreens.h"
#include "ScreenTestSupport.h"
#include "SourceCommon/UserInterface/TextEdit.h"

namespace {

enum SelectorRow : i32 {
    RowConfiguration = 0,
    RowFirstScreen = 1,  // rows 1 to 12 open screens
    RowSystemId = 13,
    RowComponentId = 14,
};

class TestSelectorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(startScreensHarness(&harness, 800, 2300)); }
    void TearDown() override { stopScreensHarness(&harness); }
    void openSelector() {
        ScreenStack* stack = &harness.app->screenStack;
        stack->depth = 2;
        stack->screens[1] = testSelectorScreen;
        clearScreenScratch(stack);
        moveMouseAway(&harness);
        frames(&harness, 2);
    }
    f32 t() { return listTextSize(&harness); }
    void clickRow(i32 row) { click(&harness, 400, rowCentreY(&harness, row)); }
    void clickOption(i32 row, i32 option) {
        f32 bottom = rowCentreY(&harness, row) - 1.6f * t();
        click(&harness, 300, bottom - t() / 2 - (option + 0.5f) * 2 * t());
    }
    void enter(i32 row, const char* text) {
        clickRow(row);
        typeText(&harness, text);
        sendKeyEvent(&harness, KeyEventDone);
        frames(&harness);
    }
    DroneConnection* drone() { return &harness.app->droneConnection; }

    ScreensHarness harness{};
};

TEST_F(TestSelectorTest, EveryScreenRowOpensItsScreen) {
    const ScreenFunction expected[12] = {
        profilingScreen, fcSequenceScreen, testClippingScreen, testScreen,
        test3DScreen,    testKeysScreen,   testGamepadScreen,  testSoundsScreen,
        designSoundScreen, debugNvScreen,  testPixyUScreen,    duvevDebugScreen,
    };
    for (i32 i = 0; i < 12; i++) {
        openSelector();
        clickRow(RowFirstScreen + i);
        EXPECT_EQ(topScreen(&harness), expected[i]) << "row " << RowFirstScreen + i;
        EXPECT_EQ(stackDepth(&harness), 3) << "row " << RowFirstScreen + i;
        frames(&harness, 3);  // the screen runs a few frames without falling over
        EXPECT_EQ(topScreen(&harness), expected[i]) << "row " << RowFirstScreen + i;
    }
}

TEST_F(TestSelectorTest, DroneConfigurationHighlightsAndForcesEachPair) {
    // Highlighted option by autopilot kind (rows) and camera configuration (columns 0 to 4).
    const i32 table[3][5] = {
        {0, -1, -1, -1, -1},  // unknown autopilot: only "Unknown" with no camera
        {-1, 1, 2, 3, -1},    // PX4: the camera's option
        {-1, -1, -1, -1, -1}, // ArduCopter: none
    };
    for (u32 k = 0; k < 3; k++) {
        for (u32 c = 0; c < 5; c++) EXPECT_EQ(droneConfigurationOption(k, c), table[k][c]) << k << " " << c;
    }
    EXPECT_EQ(droneConfigurationOption(7, 1), -1);

    openSelector();
    drone()->vehicle.autopilotKind = AutopilotArduCopter;
    drone()->cameraKind = 1;
    for (i32 option : {2, 1, 3, 0}) {
        clickRow(RowConfiguration);
        clickOption(RowConfiguration, option);
        EXPECT_EQ(drone()->cameraKind, (u32)option);
        EXPECT_EQ(drone()->vehicle.autopilotKind, option == 0 ? (u32)AutopilotUnknown : (u32)AutopilotPx4);
        clickRow(RowConfiguration);  // closes the list again
    }
}

TEST_F(TestSelectorTest, IdentitiesKeepTheLowByteOfTheEnteredNumberAndZeroWithoutOne) {
    openSelector();
    harness.app->preferences.appSystemId = 255;
    harness.app->preferences.appComponentId = 190;
    enter(RowSystemId, "300");
    EXPECT_EQ(harness.app->preferences.appSystemId, 44);
    EXPECT_EQ(harness.app->preferences.appComponentId, 190);
    enter(RowComponentId, "abc");
    EXPECT_EQ(harness.app->preferences.appComponentId, 0);
    EXPECT_EQ(enteredIdentity(makeString("-1")), 255);
    EXPECT_EQ(enteredIdentity(makeString("")), 0);
}

// The system rows name what they show without the other system's names.
TEST_F(TestSelectorTest, SystemRowsSayUserAndComputerName) {
    harness.render.captureText = true;
    harness.platform->userName = makeString("crew");
    harness.platform->computerName = makeString("field-laptop");
    openSelector();
    for (i32 i = 0; i < 20 && !shownText(&harness, "Computer Name"); i++) wheel(&harness, 400, 1000, -3);
    frames(&harness);
    EXPECT_NE(shownText(&harness, "User Name", true), nullptr);
    EXPECT_NE(shownText(&harness, "crew", true), nullptr);
    EXPECT_NE(shownText(&harness, "Computer Name", true), nullptr);
    EXPECT_EQ(shownText(&harness, "Windows"), nullptr);
}

TEST(SystemFacts, MissingDmiFilesGiveTheirFailureText) {
    EXPECT_STREQ(dmiText("/nonexistent/dmi/sys_vendor").text, "Failed to read /nonexistent/dmi/sys_vendor");
    char path[] = "/tmp/orvik-dmi-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "Stand-in Maker  \n", 17), 17);
    close(fd);
    EXPECT_STREQ(dmiText(path).text, "Stand-in Maker");
    unlink(path);
}

}  // namespace
