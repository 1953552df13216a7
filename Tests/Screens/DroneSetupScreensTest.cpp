// The drone set-up screens through real frames: the connection description of every kind of
// connection, choosing a preset, editing the custom connection (a port out of range is refused, the
// edited ports come back after a restart through "Preferences.txt"), the PX4 serial-port pages
// writing wanted parameter values, the advanced configuration switches, granting and revoking a
// sharing peer, a press that the sharing list moved under, relaying switched off, the simulator's
// take-off point tapped on its map, and a drone port that another program holds.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "Core/MathEarth.h"
#include "Drone/DroneConnection.h"
#include "Drone/FlightController/Parameters.h"
#include "Network/Address.h"
#include "Platform/SystemInfo.h"
#include "Screens/ChildScreens.h"
#include "Screens/DroneSetup/DroneSetupScreens.h"
#include "Screens/DroneSetup/GremsyParametersScreen.h"
#include "Screens/DroneSetup/MavlinkConnectionSettings.h"
#include "Screens/SettingsScreen.h"
#include "ScreenTestSupport.h"
#include "SourceCommon/UserInterface/TextEdit.h"

namespace {

AddressRecord ipv4(u8 a, u8 b, u8 c, u8 d, u16 port) {
    const u8 bytes[4] = {a, b, c, d};
    return makeAddressRecord(4, bytes, port);
}

MavlinkConnectionSetting ipSetting(AddressRecord remote, u16 localPort, const char* interfaceName, u32 sticks) {
    MavlinkConnectionSetting setting{};
    setting.kind = DroneConnectionIp;
    setting.remote = remote;
    setting.localPort = localPort;
    setting.networkInterface = makeString(interfaceName);
    setting.appSendsSticks = sticks;
    return setting;
}

TEST(MavlinkConnectionDescription, EveryKindOfConnection) {
    AddressRecord v6{};
    v6.family = 6;
    v6.port = 14550;
    v6.address[0] = 0xFE, v6.address[1] = 0x80, v6.address[15] = 1;
    AddressRecord portOnly{};
    portOnly.port = 9000;
    struct Case {
        MavlinkConnectionSetting setting;
        const char* expected;
    };
    MavlinkConnectionSetting none{};
    MavlinkConnectionSetting unknownKind{};
    unknownKind.kind = 2;
    const Case cases[] = {
        {none, "Disables drone communication"},
        {unknownKind, ""},
        {ipSetting(portOnly, 0, "", 0), "Autodetect IP"},
        {ipSetting(AddressRecord{}, 14550, "eth0", 1), "Autodetect IP"},
        {ipSetting(ipv4(192, 168, 1, 10, 14550), 0, "", 0),
         "Connect to 192.168.1.10:14550, run on any network interface, arbitrary port"},
        {ipSetting(ipv4(10, 0, 0, 2, 0), 14550, "Ethernet", 1),
         "Receive from 10.0.0.2, autodetect port, run on Ethernet, port 14550, and app sends stick signals"},
        {ipSetting(v6, 65535, "wlan0", 0), "Connect to [FE80:0000:0000:0000:0000:0000:0000:0001]:14550, run on wlan0, port 65535"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(mavlinkConnectionDescription(&c.setting).text, c.expected);
    }
    // A long interface name is cut at the string's capacity and flagged.
    MavlinkConnectionSetting longName = ipSetting(ipv4(1, 2, 3, 4, 5), 6, "", 1);
    longName.networkInterface = makeString(std::string(250, 'n').c_str());
    FixedString cut = mavlinkConnectionDescription(&longName);
    EXPECT_EQ(cut.length, 253);
    EXPECT_EQ(cut.truncated, 1);
}

TEST(MavlinkConnectionDescription, CharFieldsEndAtTheirNulOrWidth) {
    const u8 full[16] = {'M', 'P', 'C', '_', 'T', 'I', 'L', 'T', 'M', 'A', 'X', '_', 'A', 'I', 'R', 'X'};
    EXPECT_EQ(fixedStringFromCharField(full, 16).length, 16);
    const u8 shortId[16] = {'R', 'T', 'L', '_', 'T', 0, 'X', 'Y'};
    EXPECT_STREQ(fixedStringFromCharField(shortId, 16).text, "RTL_T");
    // A malformed byte is skipped; a sequence cut by the width ends the text.
    const u8 odd[6] = {'a', 0xFF, 'b', 0xC3, 0xA9, 0xE2};
    EXPECT_STREQ(fixedStringFromCharField(odd, 6).text, "ab\xC3\xA9");
}

TEST(MavlinkConnectionDescription, PortsOutOfRangeAreRefusedNotCut) {
    struct Case {
        const char* text;
        i32 stored;  // -1: refused
    };
    const Case cases[] = {{"14550", 14550}, {"0", 0}, {"", 0}, {"65535", 65535}, {"0065535", 65535},
                          {"65536", -1},    {"70000", -1}, {"-1", -1}, {"99999999999999999999", -1},
                          {"18446744073709551617", -1}};
    for (const Case& c : cases) {
        u16 port = 1234;
        FixedString text = makeString(c.text);
        FixedString message = parsePortText(&text, &port);
        if (c.stored < 0) {
            EXPECT_EQ(port, 1234) << c.text;
            EXPECT_NE(message.length, 0) << c.text;
        } else {
            EXPECT_EQ(port, c.stored) << c.text;
            EXPECT_EQ(message.length, 0) << c.text;
        }
    }
}

class DroneSetupScreens : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(startScreensHarness(&harness, 800, 1800)); }
    void TearDown() override { stopScreensHarness(&harness); }
    void open(ScreenFunction screen) {
        ScreenStack* stack = &harness.app->screenStack;
        stack->depth = 2;
        stack->screens[1] = screen;
        clearScreenScratch(stack);
        frames(&harness, 2);
    }
    f32 t() { return listTextSize(&harness); }
    void clickRow(i32 row) { click(&harness, 400, rowCentreY(&harness, row)); }
    // Opens a text row, selects what it starts with, types over it and finishes the entry.
    void enter(i32 row, const char* text) {
        clickRow(row);
        sendKeyEvent(&harness, KeyEventSelectAll);
        typeText(&harness, text);
        sendKeyEvent(&harness, KeyEventDone);
        frames(&harness);
    }
    void clickOption(i32 row, i32 option) {
        f32 bottom = rowCentreY(&harness, row) - 1.6f * t();
        click(&harness, 300, bottom - t() / 2 - (option + 0.5f) * 2 * t());
    }
    Preferences* prefs() { return &harness.app->preferences; }
    ParameterSlot* px4Slot(const char* name) {
        return &harness.app->droneConnection.px4.parameters[px4ParameterSlotByName(name)];
    }

    ScreensHarness harness{};
};

TEST_F(DroneSetupScreens, EveryScreenDrawsItsRows) {
    const ScreenFunction screens[] = {droneSetupScreen,          selectMavlinkConnectionScreen,
                                      configureCustomMavlinkConnectionScreen, advancedConfigurationScreen,
                                      mavlinkCommunicationsScreen, px4FlightControllerScreen,
                                      px4SerialPortScreenPort1,  arduCopterFlightControllerScreen,
                                      sharingPermissionsScreen,  relaySettingsScreen,
                                      simulatorSettingsScreen};
    std::vector<u8> pixels((size_t)800 * 1800 * 4);
    for (ScreenFunction screen : screens) {
        open(screen);
        EXPECT_EQ(topScreen(&harness), screen);
        readHarnessPixels(&harness.render, pixels.data());
        // The first row's band holds its text: many colours, not one backdrop. The simulator's list
        // starts under its map.
        std::set<u32> colours;
        i32 top = screen == simulatorSettingsScreen ? (i32)(1800 * 0.55f) + 1 : 0;
        i32 band = (i32)(3.2f * t());
        for (i32 y = top; y < top + band; y++) {
            for (i32 x = 0; x < 800; x += 3) {
                u32 p;
                std::memcpy(&p, &pixels[((size_t)y * 800 + x) * 4], 4);
                colours.insert(p);
            }
        }
        EXPECT_GT(colours.size(), 8u) << "screen " << (void*)screen;
    }
    EXPECT_TRUE(writeHarnessPng(&harness.render, outputPath("SimulatorSettingsScreen.png").c_str()).length == 0);
}

TEST_F(DroneSetupScreens, APresetBecomesTheActiveConnectionAndTheScreenCloses) {
    open(droneSetupScreen);
    clickRow(0);
    ASSERT_EQ(topScreen(&harness), (ScreenFunction)selectMavlinkConnectionScreen);
    clickRow(2);  // "Autodetect (UDP, local port 14550)"
    EXPECT_EQ(topScreen(&harness), (ScreenFunction)droneSetupScreen);
    EXPECT_EQ(prefs()->droneConnection, (u32)DroneConnectionIp);
    EXPECT_EQ(prefs()->droneAddress.family, 0);
    EXPECT_EQ(prefs()->droneLocalPort, 14550);

    // The custom connection is offered once it names an address or a local port.
    prefs()->customDroneAddress = ipv4(10, 1, 2, 3, 5760);
    prefs()->customDroneTransportProtocol = TransportTcp;
    clickRow(0);
    clickRow(3);  // "Custom Connection"
    EXPECT_EQ(topScreen(&harness), (ScreenFunction)droneSetupScreen);
    EXPECT_TRUE(sameEndpoint(&prefs()->droneAddress, &prefs()->customDroneAddress));
    EXPECT_EQ(prefs()->droneTransportProtocol, (u32)TransportTcp);
    EXPECT_EQ(prefs()->droneLocalPort, 0);

    clickRow(0);
    clickRow(1);  // "No drone connection"
    EXPECT_EQ(prefs()->droneConnection, (u32)DroneConnectionNone);
}

TEST_F(DroneSetupScreens, CustomConnectionFieldsAndARefusedPort) {
    open(configureCustomMavlinkConnectionScreen);
    enter(1, "10.0.0.2");
    EXPECT_EQ(prefs()->customDroneAddress.family, 4);
    EXPECT_EQ(prefs()->customDroneAddress.address[0], 10);
    EXPECT_EQ(prefs()->customDroneAddress.address[3], 2);
    enter(2, "14560");
    EXPECT_EQ(prefs()->customDroneAddress.port, 14560);
    EXPECT_EQ(customMavlinkConnection(prefs()).kind, (u32)DroneConnectionIp);
    // 70,000 is not stored as 4,464: the port stays and the row stays open with its note.
    enter(2, "70000");
    EXPECT_EQ(prefs()->customDroneAddress.port, 14560);
    clickRow(2);  // closes it
    // Text that is no address means autodetect; the port is kept.
    enter(1, "drone");
    EXPECT_EQ(prefs()->customDroneAddress.family, 0);
    EXPECT_EQ(prefs()->customDroneAddress.port, 14560);
    EXPECT_EQ(customMavlinkConnection(prefs()).kind, (u32)DroneConnectionNone);
    enter(3, "14550");
    EXPECT_EQ(prefs()->customDroneLocalPort, 14550);
    EXPECT_EQ(customMavlinkConnection(prefs()).kind, (u32)DroneConnectionIp);
    // The protocol choice: TCP is option 1.
    clickRow(0);
    clickOption(0, 1);
    EXPECT_EQ(prefs()->customDroneTransportProtocol, (u32)TransportTcp);
}

TEST_F(DroneSetupScreens, EachSerialPortPageWritesWantedValues) {
    open(advancedConfigurationScreen);
    clickRow(1);  // no vehicle yet: both flight controllers are offered
    ASSERT_EQ(topScreen(&harness), (ScreenFunction)px4FlightControllerScreen);
    for (i32 instance = 0; instance < 3; instance++) {
        clickRow(instance);
        ASSERT_EQ(topScreen(&harness), px4SerialPortScreens[instance]);
        std::string rate = "MAV_" + std::to_string(instance) + "_RATE";
        std::string config = "MAV_" + std::to_string(instance) + "_CONFIG";
        enter(3, std::to_string(1200 * (instance + 1)).c_str());
        EXPECT_EQ(parameterInt(px4Slot(rate.c_str())->wanted), 1200 * (instance + 1));
        EXPECT_NE(px4Slot(rate.c_str())->changeTime, 0u);
        EXPECT_EQ(px4Slot(rate.c_str())->lastSendTime, kParameterSendNow);
        clickRow(1);
        clickOption(1, 2);  // "TELEM 2"
        EXPECT_EQ(parameterInt(px4Slot(config.c_str())->wanted), 102);
        EXPECT_NE(px4Slot(config.c_str())->viewedTime, 0u);
        tapKey(&harness, KeyEscape);
        ASSERT_EQ(topScreen(&harness), (ScreenFunction)px4FlightControllerScreen);
    }
    // The slots of the other instances were left alone by each page.
    EXPECT_EQ(parameterInt(px4Slot("MAV_1_RATE")->wanted), 2400);
    // Under the three pages, every other parameter has a number row, the first one's slot first.
    enter(3, "7");
    EXPECT_EQ(parameterInt(px4Slot("CBRK_PARAMBLOCK")->wanted), 7);
    EXPECT_EQ(parameterInt(px4Slot("COM_LOW_BAT_ACT")->wanted), 0);
}

TEST_F(DroneSetupScreens, MainPageOffersNamedChoicesWherePx4NamesTheValues) {
    open(px4FlightControllerScreen);
    // Rows 0 to 2 are the serial-port pages; then the parameters in table order: CBRK_PARAMBLOCK is a
    // number, NAV_RCL_ACT (row 5) and COM_FLTMODE1 (row 14) are choices.
    px4Slot("NAV_RCL_ACT")->received = 1;
    px4Slot("NAV_RCL_ACT")->wanted = parameterBytesFromInt(4);  // no name in PX4's list
    frames(&harness);
    clickRow(5);
    clickOption(5, 3);  // "Land mode"
    EXPECT_EQ(parameterInt(px4Slot("NAV_RCL_ACT")->wanted), 3);
    EXPECT_EQ(px4Slot("NAV_RCL_ACT")->lastSendTime, kParameterSendNow);
    clickRow(5);  // closes it
    clickRow(14);
    clickOption(14, 0);  // "Unassigned"
    EXPECT_EQ(parameterInt(px4Slot("COM_FLTMODE1")->wanted), -1);
    clickRow(14);
    // A parameter without named values stays a number row.
    EXPECT_EQ(px4Slot("COM_DL_LOSS_T")->changeTime, 0u);
    enter(13, "12");
    EXPECT_EQ(parameterInt(px4Slot("COM_DL_LOSS_T")->wanted), 12);
}

TEST_F(DroneSetupScreens, AdvancedConfigurationFollowsTheVehicleAndFlipsItsSwitches) {
    VehicleState* vehicle = &harness.app->droneConnection.vehicle;
    vehicle->autopilotKind = AutopilotPx4;
    vehicle->vehicleId = 0x0101;
    open(advancedConfigurationScreen);
    vehicle->lastHeartbeatTime = harness.app->screenStack.now;
    // Row 2 is now the gimbal row (no ArduCopter row for a PX4 vehicle); it opens the gimbal's
    // parameters.
    clickRow(2);
    EXPECT_EQ(topScreen(&harness), (ScreenFunction)gremsyParametersScreen);
    tapKey(&harness, KeyEscape);
    EXPECT_EQ(topScreen(&harness), (ScreenFunction)advancedConfigurationScreen);
    clickRow(3);
    EXPECT_EQ(harness.app->forceLogging, 1u);
    clickRow(3);
    EXPECT_EQ(harness.app->forceLogging, 0u);
    clickRow(0);
    EXPECT_EQ(topScreen(&harness), (ScreenFunction)mavlinkCommunicationsScreen);
}

TEST_F(DroneSetupScreens, ArduCopterRemoteIdKeepsTwentyBytes) {
    open(arduCopterFlightControllerScreen);
    ArduCopterState* arduCopter = &harness.app->droneConnection.arduCopter;
    clickRow(0);
    clickOption(0, 1);
    ASSERT_EQ(arduCopter->remoteIdType, 1u);
    clickRow(0);  // closes the choice
    enter(1, "abcdefghijklmnopqrstuvwxy");
    EXPECT_EQ(std::memcmp(arduCopter->uasId, "abcdefghijklmnopqrst", 20), 0);
    EXPECT_EQ(std::memcmp(harness.app->arduCopterId.id, "abcdefghijklmnopqrst", 20), 0);
    EXPECT_EQ(harness.app->arduCopterId.idType[0], 1);
    enter(1, "abcde");
    const u8 expected[20] = {'a', 'b', 'c', 'd', 'e'};
    EXPECT_EQ(std::memcmp(arduCopter->uasId, expected, 20), 0);
}

TEST_F(DroneSetupScreens, GrantAndRevokeASharingPeer) {
    SecureLinkHost* host = &harness.app->relayHost;
    host->peers[0].address = ipv4(192, 168, 144, 20, 14550);
    host->peers[0].name = makeString("tablet");
    host->peers[2].address = ipv4(192, 168, 144, 21, 14550);
    host->identity = &harness.app->relayHostIdentity;  // as the application update sets it
    open(sharingPermissionsScreen);
    clickRow(1);  // the first device's "Share Telemetry"
    EXPECT_EQ(host->peers[0].userDecision, 1u);
    clickRow(3);  // its "Grant Control"
    EXPECT_EQ(host->peers[0].userDecision, 5u);
    EXPECT_TRUE(sameAddress(&harness.app->relayHostIdentity.controllingListener, &host->peers[0].address));
    clickRow(7);  // control goes to the second device
    EXPECT_EQ(host->peers[2].userDecision, 4u);
    EXPECT_EQ(host->peers[0].userDecision, 1u);
    EXPECT_TRUE(sameAddress(&harness.app->relayHostIdentity.controllingListener, &host->peers[2].address));
    clickRow(7);  // and is taken back
    EXPECT_EQ(host->peers[2].userDecision, 0u);
    EXPECT_EQ(harness.app->relayHostIdentity.controllingListener.family, 0);
    clickRow(1);  // telemetry revoked
    EXPECT_EQ(host->peers[0].userDecision, 0u);
}

// A press on the first device's "Share Telemetry", and the device leaves the list before the release:
// the second device, whose rows are now under the pointer, is not changed; a press made on it is.
TEST_F(DroneSetupScreens, APressChangesOnlyTheDeviceItWasMadeOn) {
    SecureLinkHost* host = &harness.app->relayHost;
    host->peers[0].address = ipv4(192, 168, 144, 20, 14550);
    host->peers[1].address = ipv4(192, 168, 144, 21, 14550);
    host->identity = &harness.app->relayHostIdentity;
    open(sharingPermissionsScreen);
    harnessMouseMove(&harness.render, 400, rowCentreY(&harness, 1));
    frames(&harness);
    harnessMouseButton(&harness.render, KeyMouseLeft, true);
    frames(&harness);
    host->peers[0] = SecureLinkPeer{};
    frames(&harness);
    harnessMouseButton(&harness.render, KeyMouseLeft, false);
    frames(&harness);
    EXPECT_EQ(host->peers[1].userDecision, 0u);
    clickRow(1);
    EXPECT_EQ(host->peers[1].userDecision, (u32)SecureLinkGrantTelemetry);
}

TEST_F(DroneSetupScreens, RelayPortIsCheckedAndRelayingIsSwitchedOff) {
    prefs()->relayModePort = 9876;
    ScreenStack* stack = &harness.app->screenStack;
    stack->depth = 3;
    stack->screens[1] = settingsScreen;
    stack->screens[2] = relaySettingsScreen;
    clearScreenScratch(stack);
    frames(&harness, 2);
    enter(1, "123456");
    EXPECT_EQ(prefs()->relayModePort, 9876);
    clickRow(1);
    enter(1, "9877");
    EXPECT_EQ(prefs()->relayModePort, 9877);
    clickRow(3);
    EXPECT_EQ(prefs()->relayModeDisableEncryption, 1u);
    clickRow(4);  // "Disable relaying"
    EXPECT_EQ(prefs()->relayModePort, 0);
    EXPECT_EQ(topScreen(&harness), (ScreenFunction)settingsScreen);
}

// Another program holding the drone port: the drone connection finds it at the bind, the Drone Setup
// screen says so instead of waiting for data that cannot come, and it clears once the port is free.
TEST_F(DroneSetupScreens, ADronePortHeldByAnotherProgramIsShownUntilItIsFree) {
    int holder = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    socklen_t length = sizeof(any);
    ASSERT_EQ(bind(holder, (sockaddr*)&any, sizeof(any)), 0);
    ASSERT_EQ(getsockname(holder, (sockaddr*)&any, &length), 0);
    u16 port = ntohs(any.sin_port);
    AppState* app = harness.app;
    prefs()->droneConnection = DroneConnectionIp;
    prefs()->droneLocalPort = port;
    DroneLinkInputs inputs{};
    inputs.droneSocket = &app->droneSocket;
    inputs.preferences = prefs();
    inputs.now = harness.render.now;
    controlDrone(&app->droneConnection, &inputs);
    std::string expected = "Port " + std::to_string(port) + " is in use by another program";
    EXPECT_EQ(std::string(linkPortProblem(&app->droneConnection).text), expected);
    open(droneSetupScreen);
    EXPECT_EQ(std::string(mavlinkConnectionStatusText(app).text), expected);

    close(holder);
    controlDrone(&app->droneConnection, &inputs);
    EXPECT_EQ(app->droneSocket.localPort, port);
    EXPECT_EQ(linkPortProblem(&app->droneConnection).length, 0);
    frames(&harness);
    EXPECT_NE(std::string(mavlinkConnectionStatusText(app).text), expected);
    closeSocket(&app->droneSocket);
}

TEST_F(DroneSetupScreens, ATapOnTheMapMovesTheTakeoffPoint) {
    prefs()->simulatorTakeoffLatitude = 47.0;
    prefs()->simulatorTakeoffLongitude = 8.0;
    open(simulatorSettingsScreen);
    // The map fills the window above 45 % of its height, centred on the take-off point at level 16.
    f32 mapCentreY = 1800 * 0.45f + 1800 * 0.55f / 2;
    click(&harness, 400 + 256, mapCentreY);
    moveMouseAway(&harness);
    GeoPoint start{8.0, 47.0};
    Vec2 point{};
    latLngToMercator(&point, &start);
    point.x += 256.0 / (256.0 * 65536.0);
    GeoPoint expected{};
    mercatorToLatLng(&expected, &point);
    EXPECT_NEAR(prefs()->simulatorTakeoffLongitude, expected.longitude, 1e-5);
    EXPECT_NEAR(prefs()->simulatorTakeoffLatitude, 47.0, 1e-4);
    // The check boxes under the map: "Simulate VOSK" is the fourth row of the list.
    f32 listTop = 1800 * 0.45f;
    click(&harness, 400, listTop - 3.5f * 3.2f * t());
    EXPECT_EQ(prefs()->simulateVosk, 1u);
    EXPECT_EQ(prefs()->simulateOrvik, 0u);
}

// The whole application update with a data folder of the test's own, so that "Preferences.txt" is
// written and read back as on a restart.
u64 persistenceNow = 0;
u64 persistenceClock() { return persistenceNow; }

class CustomConnectionRestart : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvik-restart-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home = pattern;
        std::filesystem::create_directory(home + "/Documents");
        if (const char* value = std::getenv("HOME")) savedHome = value;
        setenv("HOME", home.c_str(), 1);
    }
    void TearDown() override {
        if (running) stopScreensHarness(&harness);
        if (savedHome.empty()) unsetenv("HOME"); else setenv("HOME", savedHome.c_str(), 1);
        std::error_code ignored;
        std::filesystem::remove_all(home, ignored);
    }
    // Starts the program over the data folder and runs it until the preferences file was read.
    void startProgram() {
        ASSERT_TRUE(startScreensHarness(&harness, 800, 1800));
        running = true;
        readDataFolder(harness.platform);
        setHarnessUpdate(&harness.render, nullptr);
        harness.app->clocks.monotonicMicroseconds = persistenceClock;
        for (i32 i = 0; i < 100 && !harness.app->preferencesState.loaded; i++) step();
        ASSERT_TRUE(harness.app->preferencesState.loaded);
        harness.app->screenStack.clock = persistenceClock;
    }
    void stopProgram() {
        stopScreensHarness(&harness);
        running = false;
    }
    void step() {
        persistenceNow = harness.render.now;
        frames(&harness);
    }
    std::string preferencesText() {
        std::ifstream in(home + "/Documents/Tarnwick/Preferences.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    ScreensHarness harness{};
    bool running = false;
    std::string home;
    std::string savedHome;
};

TEST_F(CustomConnectionRestart, EditedPortsComeBackAfterARestart) {
    startProgram();
    ScreenStack* stack = &harness.app->screenStack;
    stack->depth = 2;
    stack->screens[1] = configureCustomMavlinkConnectionScreen;
    clearScreenScratch(stack);
    step();
    step();
    auto enter = [&](i32 row, const char* text) {
        persistenceNow = harness.render.now;
        click(&harness, 400, rowCentreY(&harness, row));
        sendKeyEvent(&harness, KeyEventSelectAll);
        typeText(&harness, text);
        sendKeyEvent(&harness, KeyEventDone);
        step();
    };
    enter(1, "10.0.0.2");
    enter(2, "5760");
    enter(3, "14551");
    ASSERT_EQ(harness.app->preferences.customDroneLocalPort, 14551);
    for (i32 i = 0; i < 300 && preferencesText().find("14551") == std::string::npos; i++) step();
    ASSERT_NE(preferencesText().find("14551"), std::string::npos);
    stopProgram();

    startProgram();
    EXPECT_EQ(harness.app->preferences.customDroneLocalPort, 14551);
    EXPECT_EQ(harness.app->preferences.customDroneAddress.port, 5760);
    EXPECT_EQ(harness.app->preferences.customDroneAddress.address[3], 2);
}

TEST_F(CustomConnectionRestart, EditedCustomVideoSourceComesBackAfterARestart) {
    startProgram();
    // The edit starts from the stored URL (the harness types no ':' or '/').
    harness.app->preferences.customVideoStreamProtocol = VideoStreamRtsp;
    harness.app->preferences.customRtspUrl = makeString("rtsp://10.1.2.3:8554/");
    ScreenStack* stack = &harness.app->screenStack;
    stack->depth = 2;
    stack->screens[1] = configureCustomVideoStreamConnectionScreen;
    clearScreenScratch(stack);
    step();
    step();
    persistenceNow = harness.render.now;
    click(&harness, 400, rowCentreY(&harness, 1));
    sendKeyEvent(&harness, KeyEventRight);
    typeText(&harness, "cam2");
    sendKeyEvent(&harness, KeyEventDone);
    step();
    const char* url = "rtsp://10.1.2.3:8554/cam2";
    ASSERT_EQ(std::string(harness.app->preferences.customRtspUrl.text, harness.app->preferences.customRtspUrl.length), url);
    for (i32 i = 0; i < 300 && preferencesText().find(url) == std::string::npos; i++) step();
    ASSERT_NE(preferencesText().find(url), std::string::npos);
    stopProgram();

    startProgram();
    EXPECT_EQ(harness.app->preferences.customVideoStreamProtocol, (u32)VideoStreamRtsp);
    EXPECT_EQ(std::string(harness.app->preferences.customRtspUrl.text, harness.app->preferences.customRtspUrl.length), url);
}

}  // namespace
