// The whole program flown on its built-in simulator, as a new user would, in real frames of the
// application update with synthetic pointers and the texts each frame drew: a Start refused on the
// ground and a refused take-off say why, an upload shows its progress, a Disarm in the air is refused,
// Land brings the simulated drone down and disarms it; the simulator is switched off and on again
// from its screens and the link follows it; the "Payload Type" row reaches the fly screen's panels and
// the simulated Orvik and VOSK payloads answer together. The simulator's and the link's ports are
// free ones handed to the records the program reads.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Platform/SystemInfo.h"
#include "Screens/ChildScreens.h"
#include "Screens/FlyScreen.h"
#include "Screens/SettingsScreen.h"
#include "ScreenTestSupport.h"
#include "Support/FreePorts.h"

namespace {

// The program's clock is the harness's.
const RenderHarness* clockHarness = nullptr;
u64 programClock() { return clockHarness ? clockHarness->now : 0; }

class SimulatorFlight : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvik-simulator-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home = pattern;
        std::filesystem::create_directory(home + "/Documents");
        if (const char* value = std::getenv("HOME")) savedHome = value;
        if (const char* value = std::getenv("XDG_CONFIG_HOME")) savedConfig = value;
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");  // the user's own folder names would point elsewhere
        ASSERT_TRUE(startScreensHarness(&harness, 1280, 720));
        running = true;
        clockHarness = &harness.render;
        readDataFolder(harness.platform);
        ASSERT_EQ(std::string(harness.platform->dataFolder.text), home + "/Documents/Tarnwick/");
        setHarnessUpdate(&harness.render, nullptr);
        harness.render.captureText = true;
        app()->clocks.monotonicMicroseconds = programClock;
        for (i32 i = 0; i < 100 && !app()->preferencesState.loaded; i++) frame();
        ASSERT_TRUE(app()->preferencesState.loaded);
        app()->screenStack.clock = programClock;
        std::vector<u16> ports = freeUdpPorts(4);
        ASSERT_EQ(ports.size(), 4u);
        for (i32 i = 0; i < 3; i++) app()->simulatedDrone.localPorts[i] = ports[i];
        app()->simulatorLinkLocalPort = ports[3];
        Preferences* p = &app()->preferences;
        p->simulatorTakeoffLatitude = 47.397742;
        p->simulatorTakeoffLongitude = 8.545594;
        p->units = UnitsMetricMps;
        p->minimapCorner = MinimapBottomRight;
        p->waypointSnapAltitudeAboveGroundLevel = 12;
    }
    void TearDown() override {
        if (running) {
            for (Socket* socket : {&app()->simulatorSocket, &app()->simulatorPayloadPrimarySocket,
                                   &app()->simulatorPayloadSecondarySocket, &app()->droneSocket}) {
                closeSocket(socket);
            }
            stopScreensHarness(&harness);
            clockHarness = nullptr;
        }
        if (savedHome.empty()) unsetenv("HOME"); else setenv("HOME", savedHome.c_str(), 1);
        if (!savedConfig.empty()) setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
        std::error_code ignored;
        std::filesystem::remove_all(home, ignored);
    }

    AppState* app() { return harness.app; }
    VehicleState* vehicle() { return &app()->droneConnection.vehicle; }
    SimulatedDrone* drone() { return &app()->simulatedDrone; }
    FlyScreenState* fly() { return (FlyScreenState*)app()->screenStack.screenState; }
    void frame() { frames(&harness); }
    // Frames of 100 ms of the program's clock until the condition holds; false when it never did.
    bool runUntil(const std::function<bool()>& done, f64 seconds) {
        for (i32 i = 0; i < (i32)std::lround(seconds * 10); i++) {
            if (done()) return true;
            harness.render.now += 100000 - 16667;
            frame();
        }
        return done();
    }
    void run(f64 seconds) {
        runUntil([] { return false; }, seconds);
    }
    bool shows(const char* text) { return shownText(&harness, text) != nullptr; }
    // The frame's texts, for failure messages.
    std::string texts() {
        std::string all;
        for (const TextRun& run : harness.render.text) all += "[" + run.text + "] ";
        return all;
    }
    // A screen on the Main Screen, as its entry opens it.
    void open(ScreenFunction screen) {
        ScreenStack* stack = &app()->screenStack;
        stack->depth = 2;
        stack->screens[1] = screen;
        clearScreenScratch(stack);
        frame();
        frame();
    }
    bool locked() { return vehicle()->autopilotKind == AutopilotPx4 && vehicle()->globalPosition.time != 0; }
    // Scrolls a list down until the text shows.
    bool scrollTo(const char* text) {
        for (i32 i = 0; i < 30 && !shows(text); i++) wheel(&harness, 640, 360, -2);
        frame();
        return shows(text);
    }
    // A flight action from the row under the top bar, confirmed with "Yes".
    void flightAction(const char* name) {
        fly()->openPanel = FlyPanelLinkQuality;
        frame();
        ASSERT_TRUE(clickText(&harness, name, true)) << name;
        ASSERT_TRUE(shows("Are you sure you want to"));
        ASSERT_TRUE(clickText(&harness, "Yes", true));
    }

    ScreensHarness harness{};
    bool running = false;
    std::string home;
    std::string savedHome;
    std::string savedConfig;
};

TEST_F(SimulatorFlight, RefusalsStatusUploadAndLandAreShownAndFollowed) {
    app()->simulatorRunning = 1;
    open(flyScreen);
    ASSERT_TRUE(runUntil([&] { return locked(); }, 5)) << "the link did not find the simulated drone";
    EXPECT_EQ(vehicle()->landedState, 1);

    // The mission settings' "Drone Heading" shows the simulator's yaw mode 0 by its name.
    fly()->openPanel = FlyPanelMissionSettings;
    frame();
    const UiMetrics* m = &app()->uiMetrics;
    for (i32 i = 0; i < 20 && !shows("Drone Heading"); i++) wheel(&harness, m->margin + 8 * m->textHeight, 300, -2);
    ASSERT_TRUE(shows("Drone Heading")) << texts();
    ASSERT_TRUE(runUntil([&] { return shows("Toward next waypoint"); }, 3)) << texts();
    EXPECT_FALSE(shows("Unrecognized Value"));

    // Two waypoints tapped on the map, then "Start" from the side view while on the ground.
    fly()->openPanel = FlyPanelWaypoints;
    frame();
    click(&harness, 800, 300);
    click(&harness, 900, 250);
    ASSERT_EQ(app()->waypointMissionEditor.waypointCount, 2);
    ASSERT_TRUE(clickText(&harness, "Side", true)) << texts();
    ASSERT_TRUE(clickText(&harness, "Start", true)) << texts();
    const char* onGround = "You must take off before you can start the mission";
    EXPECT_TRUE(runUntil([&] { return shows(onGround); }, 3));

    // Take-off on the disarmed drone: the simulator denies it, and the crew reads why.
    ASSERT_NO_FATAL_FAILURE(flightAction("Takeoff"));
    EXPECT_TRUE(runUntil([&] { return shows("Takeoff refused (denied)"); }, 2));
    EXPECT_EQ(drone()->systemStatus, 3);
    // The refusal goes after 5 s; the status stays while the waypoint toolbar is open.
    fly()->openPanel = FlyPanelSideView;
    run(5.5);
    EXPECT_FALSE(shows("Takeoff refused"));
    EXPECT_TRUE(shows(onGround));

    // Armed by the sticks' gesture and climbed to about 6 m.
    GamepadState* pad = &harness.platform->gamepad;
    pad->leftStickX = 0.7f;
    pad->leftStickY = -0.7f;
    ASSERT_TRUE(runUntil([&] { return drone()->systemStatus == 4; }, 2));
    *pad = GamepadState{};
    pad->leftStickY = 1;
    run(2);
    *pad = GamepadState{};
    ASSERT_TRUE(runUntil([&] { return vehicle()->landedState == 2; }, 2));

    // Disarm in the air is refused.
    ASSERT_NO_FATAL_FAILURE(flightAction("Disarm"));
    EXPECT_TRUE(runUntil([&] { return shows("Disarm refused (denied)"); }, 2));
    EXPECT_EQ(drone()->systemStatus, 4);

    // Start again: the upload's progress shows, then the mission starts.
    fly()->openPanel = FlyPanelSideView;
    frame();
    ASSERT_TRUE(clickText(&harness, "Start", true));
    std::vector<std::string> progress;
    ASSERT_TRUE(runUntil(
        [&] {
            const TextRun* run = shownText(&harness, "Uploading");
            if (run && (progress.empty() || progress.back() != run->text)) progress.push_back(run->text);
            return shows("Started mission");
        },
        5));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), "Uploading 100%");
    EXPECT_EQ(drone()->subMode, 4);

    // Land: the drone comes down at 1 m/s, and on the ground it is disarmed and says so.
    f64 altitude = drone()->altitude;
    ASSERT_GT(altitude, 3.0);
    ASSERT_NO_FATAL_FAILURE(flightAction("Land"));
    ASSERT_TRUE(runUntil([&] { return drone()->subMode == 6; }, 2));
    f64 start = drone()->altitude;
    run(1.0);
    EXPECT_NEAR(start - drone()->altitude, 1.0, 0.15);
    ASSERT_TRUE(runUntil([&] { return drone()->systemStatus == 3; }, altitude + 3));
    EXPECT_EQ(drone()->landedState, 1);
    EXPECT_LE(drone()->altitude, 0.05);
    EXPECT_TRUE(runUntil([&] { return vehicle()->landedState == 1 && vehicle()->mavState == 3; }, 3));
    EXPECT_FALSE(shows("refused"));
}

TEST_F(SimulatorFlight, SwitchedOffAndOnAgainTheLinkFollowsTheSimulator) {
    open(settingsScreen);
    ASSERT_TRUE(scrollTo("Enable simulator"));
    ASSERT_TRUE(clickText(&harness, "Enable simulator"));
    ASSERT_EQ(app()->simulatorRunning, 1u);
    ASSERT_TRUE(runUntil([&] { return locked(); }, 5));

    // The drone set-up says where the link goes while the simulator runs.
    open(droneSetupScreen);
    std::string endpoint = "Connected to the simulator at 127.0.0.1:" + std::to_string(drone()->localPorts[0]);
    EXPECT_TRUE(shows(endpoint.c_str()));
    EXPECT_FALSE(shows("Disables drone communication"));

    // Off from its own settings screen: the link lets the simulated vehicle go and the ports close.
    open(settingsScreen);
    ASSERT_TRUE(scrollTo("Simulator settings"));
    EXPECT_TRUE(shows("Simulator running. DO NOT POWER"));
    ASSERT_TRUE(clickText(&harness, "Simulator settings"));
    ASSERT_EQ(topScreen(&harness), (ScreenFunction)simulatorSettingsScreen);
    ASSERT_TRUE(clickText(&harness, "Simulator running"));
    EXPECT_EQ(app()->simulatorRunning, 0u);
    EXPECT_EQ(topScreen(&harness), (ScreenFunction)settingsScreen);
    run(0.5);
    EXPECT_EQ(vehicle()->lastHeardTime, 0u);
    EXPECT_EQ(vehicle()->autopilotKind, (u32)AutopilotUnknown);
    EXPECT_LE(app()->simulatorSocket.handle, 0);
    EXPECT_LE(app()->droneSocket.handle, 0);

    // On again from the settings: the simulated drone starts afresh and the link finds it.
    ASSERT_TRUE(scrollTo("Enable simulator"));
    ASSERT_TRUE(clickText(&harness, "Enable simulator"));
    ASSERT_EQ(app()->simulatorRunning, 1u);
    EXPECT_TRUE(runUntil([&] { return locked(); }, 5)) << "no reconnection after the restart";
    EXPECT_EQ(app()->simulatorSocket.localPort, drone()->localPorts[0]);
}

// A second station on this machine holds the simulator's drone and payload ports: the drone set-up
// names each of them as in use by another program, and never says it is connected to the simulator,
// which nothing can reach.
TEST_F(SimulatorFlight, ASecondStationShowsEveryPortItCouldNotBind) {
    app()->preferences.simulateVosk = 1;
    std::vector<int> holders;
    for (i32 i = 0; i < 3; i++) {
        int holder = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(drone()->localPorts[i]);
        ASSERT_EQ(bind(holder, (sockaddr*)&any, sizeof(any)), 0);
        holders.push_back(holder);
    }
    app()->simulatorRunning = 1;
    open(droneSetupScreen);
    run(0.5);
    std::string text = "Ports " + std::to_string(drone()->localPorts[0]) + ", " +
                       std::to_string(drone()->localPorts[1]) + " and " + std::to_string(drone()->localPorts[2]) +
                       " are in use by another program";
    EXPECT_TRUE(shows(text.c_str())) << texts();
    // One port held: the text names it alone.
    close(holders[1]);
    close(holders[2]);
    holders.resize(1);
    run(0.5);
    text = "Port " + std::to_string(drone()->localPorts[0]) + " is in use by another program";
    EXPECT_TRUE(shows(text.c_str())) << texts();
    EXPECT_FALSE(shows("Connected to the simulator")) << texts();
    EXPECT_EQ(vehicle()->lastHeardTime, 0u);
    for (int holder : holders) close(holder);
}

TEST_F(SimulatorFlight, PayloadTypeRowReachesThePanelsAndOrvikAndVoskAnswerTogether) {
    Preferences* p = &app()->preferences;
    p->simulateOrvik = 1;
    p->simulateVosk = 1;
    p->payloadType = PayloadNone;
    app()->simulatorRunning = 1;
    open(selectOrvikSetupConnectionScreen);
    ASSERT_TRUE(clickText(&harness, "Payload Type"));
    ASSERT_TRUE(clickText(&harness, "Orvik", true)) << texts();
    EXPECT_EQ(p->payloadType, (u32)PayloadOrvik);
    ASSERT_TRUE(runUntil([&] { return locked(); }, 5));
    run(2);
    // The heard payload's row follows the type.
    EXPECT_TRUE(shows("Attached Orvik 2"));

    // The fly screen's Orvik indicator, at the top bar's right end, opens the Orvik panel.
    open(flyScreen);
    const UiMetrics* m = &app()->uiMetrics;
    click(&harness, 1280 - m->margin - 0.6f * m->buttonHeight, 720 - m->buttonHeight / 2);
    frame();
    EXPECT_EQ(fly()->openPanel, (u32)FlyPanelOrvikMain);
    EXPECT_TRUE(shows("Emg.") && shows("Release")) << texts();

    // Both simulated payloads are commanded and report: neither has lost the app.
    run(3);
    u64 now = harness.render.now;
    const SimulatedDrone* sim = drone();
    EXPECT_LT(now - sim->orvik.lastCommandTime, 500000u);
    EXPECT_LT(now - sim->vosk[0].lastCommandTime, 500000u);
    EXPECT_LT(now - sim->vosk[1].lastCommandTime, 500000u);
    const PayloadLink* link = &app()->droneConnection.payload;
    EXPECT_TRUE(isPayloadStatusFresh(link->orvik.statusTime, now));
    EXPECT_TRUE(isPayloadStatusFresh(link->vosk.units[0].statusTime, now));
    EXPECT_TRUE(isPayloadStatusFresh(link->vosk.units[1].statusTime, now));
    EXPECT_NE(link->orvik.state, 105u);
    EXPECT_FALSE(shows("LOST CONNECTION TO APP"));
}

}  // namespace
