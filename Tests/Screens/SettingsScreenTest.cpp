// The Settings screen through real frames in a window tall enough for every row: check boxes,
// choices and number entries change the preferences they name (lengths taken in feet with the
// imperial and nautical units), the failure rows of the preferences file push the list down, the
// relaying, simulator and name rows, the rows that open screens, and a screenshot.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Core/Format.h"
#include "Core/PreferenceFields.h"
#include "Platform/WebPage.h"
#include "Screens/AppBindsScreen.h"
#include "Screens/ChildScreens.h"
#include "Screens/SettingsScreen.h"
#include "ScreenTestSupport.h"
#include "SourceCommon/UserInterface/TextEdit.h"

namespace {

// Rows of the list with no failure, no shared device and no takeoff elevation row.
enum SettingsRow : i32 {
    RowTelemetry = 0,
    RowLowAltitude,
    RowAirspace,
    RowAdsbAltitude,
    RowAdsbRadius,
    RowDroneColor,
    RowPersistence,
    RowUnits,
    RowLatLng,
    RowBindings,
    RowAlwaysShowHud,
    RowVersion,
    RowDownload,
    RowWarningSounds,
    RowComputerName,
    RowRelaying,
    RowSimulator,
    RowDevelopment,
};

std::string openedPage;
i32 recordPage(const char* url) {
    openedPage = url;
    return 0;
}

class SettingsScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(startScreensHarness(&harness, 800, 1800));
        openSettings();
    }
    void TearDown() override {
        setWebPageOpener(nullptr);
        stopScreensHarness(&harness);
    }
    void openSettings() {
        ScreenStack* stack = &harness.app->screenStack;
        stack->depth = 2;
        stack->screens[1] = settingsScreen;
        clearScreenScratch(stack);
        frames(&harness, 2);
    }
    f32 t() { return listTextSize(&harness); }
    void clickRow(i32 row) { click(&harness, 400, rowCentreY(&harness, row)); }
    // Opens a number or text row, types into it and finishes the entry.
    void enter(i32 row, const char* text) {
        clickRow(row);
        typeText(&harness, text);
        sendKeyEvent(&harness, KeyEventDone);
        frames(&harness);
    }
    // Option i of an expanded choice row.
    void clickOption(i32 row, i32 option) {
        f32 bottom = rowCentreY(&harness, row) - 1.6f * t();
        click(&harness, 300, bottom - t() / 2 - (option + 0.5f) * 2 * t());
    }
    Preferences* prefs() { return &harness.app->preferences; }

    ScreensHarness harness{};
};

TEST_F(SettingsScreenTest, CheckBoxesFlipTheirPreferences) {
    clickRow(RowDevelopment);
    EXPECT_EQ(prefs()->developerMode, 1u);
    clickRow(RowDevelopment);
    EXPECT_EQ(prefs()->developerMode, 0u);
    clickRow(RowAlwaysShowHud);
    EXPECT_EQ(prefs()->alwaysShowHud, 1u);
    EXPECT_EQ(stackDepth(&harness), 2);
}

TEST_F(SettingsScreenTest, LengthsInMetresAndFeet) {
    enter(RowLowAltitude, "");
    EXPECT_DOUBLE_EQ(prefs()->lowAltitudeWarning, 20.0);
    enter(RowAirspace, "150.5");
    EXPECT_DOUBLE_EQ(prefs()->airspaceIndicatorAltitude, 150.5);
    enter(RowAdsbRadius, "-30");
    EXPECT_DOUBLE_EQ(prefs()->adsbWarningCylinderRadius, -30.0);

    clickRow(RowUnits);
    clickOption(RowUnits, UnitsImperialMph);
    EXPECT_EQ(prefs()->units, (u32)UnitsImperialMph);
    clickRow(RowUnits);  // closes the list again
    enter(RowAirspace, "400");
    EXPECT_NEAR(prefs()->airspaceIndicatorAltitude, 121.92, 1e-9);
    enter(RowLowAltitude, "");
    EXPECT_NEAR(prefs()->lowAltitudeWarning, 6.096, 1e-9);
    enter(RowAdsbAltitude, "abc");
    EXPECT_DOUBLE_EQ(prefs()->adsbWarningCylinderAltitude, 0.0);
}

TEST_F(SettingsScreenTest, PersistenceInWholeHours) {
    enter(RowPersistence, "2.5");
    EXPECT_DOUBLE_EQ(prefs()->orvikDropLocationPersistence, 2.5);
    enter(RowPersistence, "");
    EXPECT_DOUBLE_EQ(prefs()->orvikDropLocationPersistence, 24.0);
    EXPECT_STREQ(persistenceText(1.9).text, "1 hours");
    EXPECT_STREQ(persistenceText(2.5).text, "2 hours");
    EXPECT_STREQ(persistenceText(-0.5).text, "0 hours");
}

TEST_F(SettingsScreenTest, ChoicesOfColourAndCoordinates) {
    clickRow(RowLatLng);
    clickOption(RowLatLng, 2);
    EXPECT_EQ(prefs()->latLngFormat, 2u);
    clickRow(RowLatLng);
    clickRow(RowDroneColor);
    clickOption(RowDroneColor, DroneColorYellow);
    EXPECT_EQ(prefs()->droneColor, (u32)DroneColorYellow);
}

TEST_F(SettingsScreenTest, FailureRowsOfThePreferencesFile) {
    // With the load and save failures the telemetry row is third: a click there opens its grid,
    // whose first item is the horizontal ground speed.
    harness.app->preferencesState.loadStatus = FileStatusCantAccessAppFolder;
    harness.app->preferencesState.saveJob.status = FileStatusWriteFailed;
    frames(&harness);
    clickRow(2);
    f32 firstItem = rowCentreY(&harness, 2) - 1.6f * t() - t() / 2 - t();
    click(&harness, 300, firstItem);
    EXPECT_EQ(prefs()->showHorizontalGroundSpeed, 1u);

    // "File not found" shows no row and a successful save none either: the grid moves up by two rows.
    harness.app->preferencesState.loadStatus = FileStatusNotFound;
    harness.app->preferencesState.saveJob.status = FileStatusSuccess;
    frames(&harness);
    f32 secondItem = rowCentreY(&harness, 0) - 1.6f * t() - t() / 2 - 3 * t();
    click(&harness, 300, secondItem);
    EXPECT_EQ(prefs()->showVerticalSpeed, 1u);
    EXPECT_EQ(prefs()->showHorizontalGroundSpeed, 1u);

    // The always-shown item has no preference and ignores clicks; item 6 brings the takeoff
    // elevation row, right under the grid, in the same frame.
    f32 item6 = rowCentreY(&harness, 0) - 1.6f * t() - t() / 2 - 13 * t();
    click(&harness, 300, item6);
    EXPECT_EQ(prefs()->showAltMslFromTakeoffElevation, 1u);
    f32 gridBottom = rowCentreY(&harness, 0) - 1.6f * t() - (t() + 14 * t());
    click(&harness, 400, gridBottom - 1.6f * t());
    typeText(&harness, "123");
    sendKeyEvent(&harness, KeyEventDone);
    EXPECT_DOUBLE_EQ(prefs()->inputtedTakeoffElevation, 123.0);

    EXPECT_STREQ(preferencesLoadFailureText(FileStatusCantAccessAppFolder).text,
                 "Cant access app folder, retrying. Give the app permission to access the Tarnwick folder so this "
                 "works.");
    EXPECT_STREQ(preferencesLoadFailureText(FileStatusReadFailed).text, "Read failed");
}

TEST_F(SettingsScreenTest, RelayingSimulatorAndName) {
    clickRow(RowRelaying);
    EXPECT_EQ(prefs()->relayModePort, kDefaultRelayModePort);
    clickRow(RowRelaying);
    EXPECT_EQ(topScreen(&harness), (ScreenFunction)relaySettingsScreen);
    tapKey(&harness, KeyEscape);

    clickRow(RowSimulator);
    EXPECT_EQ(harness.app->simulatorRunning, 1u);
    clickRow(RowSimulator);
    EXPECT_EQ(topScreen(&harness), (ScreenFunction)simulatorSettingsScreen);
    EXPECT_EQ(harness.app->simulatorRunning, 1u);
    tapKey(&harness, KeyEscape);

    harness.platform->biosProductName = makeString("Bench PC");
    u8 id[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    std::memcpy(harness.app->installationId, id, 4);
    enter(RowComputerName, "ridge");
    EXPECT_STREQ(harness.app->secureLinkClientIdentity.name.text, "ridge");
    enter(RowComputerName, "");
    EXPECT_STREQ(harness.app->secureLinkClientIdentity.name.text, "Bench PC DEADBEEF");
}

TEST_F(SettingsScreenTest, SimulatorRowByCase) {
    // A vehicle heard on the link, or a relay host feeding the controller, leaves only a note.
    harness.app->droneConnection.vehicle.lastHeardTime = 5;
    frames(&harness);
    clickRow(RowSimulator);
    EXPECT_EQ(harness.app->simulatorRunning, 0u);
    harness.app->droneConnection.vehicle.lastHeardTime = 0;
    harness.platform->gamepad.remote = 1;
    clickRow(RowSimulator);
    EXPECT_EQ(harness.app->simulatorRunning, 0u);
    EXPECT_EQ(stackDepth(&harness), 2);
}

TEST_F(SettingsScreenTest, RowsThatOpenScreensAndPages) {
    setWebPageOpener(recordPage);
    clickRow(RowDownload);
    EXPECT_EQ(openedPage, kDownloadPageAddress);
    EXPECT_NE(openedPage.find("/permalinks/apps.html"), std::string::npos);
    clickRow(RowBindings);
    EXPECT_EQ(topScreen(&harness), (ScreenFunction)appBindsScreen);
    tapKey(&harness, KeyEscape);
    clickRow(RowWarningSounds);
    EXPECT_EQ(topScreen(&harness), (ScreenFunction)testSoundsScreen);
    tapKey(&harness, KeyEscape);
    EXPECT_EQ(topScreen(&harness), (ScreenFunction)settingsScreen);

    // A device in the sharing list adds its row at the top.
    harness.app->relayHost.peers[0].address.family = 4;
    frames(&harness);
    clickRow(0);
    EXPECT_EQ(topScreen(&harness), (ScreenFunction)sharingPermissionsScreen);
}

TEST(SettingsTexts, TelemetrySummary) {
    Preferences p{};
    EXPECT_STREQ(telemetrySummary(&p).text, "Alt AGL");
    p.showHorizontalGroundSpeed = p.showVerticalSpeed = p.showLatLng = p.showDistanceFromHome = 1;
    p.showAltMslFromElevationMap = p.showAltMslFromTakeoffElevation = 1;
    EXPECT_STREQ(telemetrySummary(&p).text, "H.Spd   V.Spd   Lat   Lng   Dist   Alt AGL   MSL   MSL");
    Preferences q{};
    q.showLatLng = 1;
    q.showAltMslFromTakeoffElevation = 1;
    EXPECT_STREQ(telemetrySummary(&q).text, "Lat   Lng   Alt AGL   MSL");
}

TEST(SettingsTexts, EnteredLengths) {
    Preferences p{};
    FixedString text = makeString("400");
    EXPECT_DOUBLE_EQ(enteredLength(&text, 0, &p), 400.0);
    p.units = UnitsNauticalKn;
    EXPECT_NEAR(enteredLength(&text, 0, &p), 121.92, 1e-9);
    p.units = UnitsMetricKmh;
    EXPECT_DOUBLE_EQ(enteredLength(&text, 0, &p), 400.0);
    FixedString empty{};
    p.units = UnitsImperialFps;
    EXPECT_NEAR(enteredLength(&empty, 20, &p), 6.096, 1e-9);
    // Numbers beyond what a preference holds are held at its limits; not-a-number gives the default.
    FixedString huge = makeString("1e999");
    FixedString negativeHuge = makeString("-1e999");
    FixedString notANumber = makeString("0e999");
    EXPECT_EQ(enteredNumber(&huge, 24), kMaxPreferenceNumber);
    EXPECT_EQ(enteredNumber(&negativeHuge, 24), -kMaxPreferenceNumber);
    EXPECT_EQ(enteredNumber(&notANumber, 24), 24.0);
    EXPECT_DOUBLE_EQ(enteredLength(&huge, 20, &p), kMaxPreferenceNumber / kFeetPerMetre);
    EXPECT_NEAR(enteredLength(&notANumber, 20, &p), 6.096, 1e-9);
}

TEST(SettingsScreenshot, SettingsScreen) {
    ScreensHarness harness{};
    ASSERT_TRUE(startScreensHarness(&harness, 1280, 720));
    ScreenStack* stack = &harness.app->screenStack;
    harness.app->preferences.lowAltitudeWarning = 20;
    harness.app->preferences.airspaceIndicatorAltitude = 120;
    harness.app->preferences.orvikDropLocationPersistence = 24;
    harness.app->preferencesState.loadStatus = FileStatusCantAccessAppFolder;
    stack->depth = 2;
    stack->screens[1] = settingsScreen;
    clearScreenScratch(stack);
    frames(&harness, 3);
    moveMouseAway(&harness);
    FixedString error = writeHarnessPng(&harness.render, outputPath("ScreensSettingsScreen.png").c_str());
    EXPECT_EQ(error.length, 0) << error.text;
    stopScreensHarness(&harness);
}

}  // namespace

namespace {

TEST(SettingsSharingRow, PulsesWhileADeviceWaits) {
    ScreensHarness harness{};
    ASSERT_TRUE(startScreensHarness(&harness, 800, 1600));
    ScreenStack* stack = &harness.app->screenStack;
    SecureLinkPeer* peer = &harness.app->relayHost.peers[2];
    peer->address.family = 4;
    harness.app->relayHost.referenceAddress = peer->address;  // the controlling listener itself
    peer->pending = 1;
    stack->depth = 2;
    stack->screens[1] = settingsScreen;
    clearScreenScratch(stack);
    moveMouseAway(&harness);
    // At a whole second the row is fully teal, half a second later back at the list's grey.
    i32 x = 600, y = (i32)rowCentreY(&harness, 0);
    harness.render.now = 20000000;
    frames(&harness);
    EXPECT_EQ(harnessPixel(&harness.render, x, y), 0xFF656600u);
    harness.render.now = 20500000;
    frames(&harness);
    EXPECT_EQ(harnessPixel(&harness.render, x, y), 0xFF303030u);
    peer->pending = 0;
    harness.render.now = 21000000;
    frames(&harness);
    EXPECT_EQ(harnessPixel(&harness.render, x, y), 0xFF303030u);
    stopScreensHarness(&harness);
}

}  // namespace
