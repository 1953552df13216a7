// The developer screens' texts from injected state (the gamepad readout for each controller type,
// Debug NV's panel by commanded mode, the Profiling report's drone peers and its 20,000-byte cut),
// and real frames of the Test 3D camera on the test's clock, the Duvev markers' follow step and the
// Test Clipping shapes cut at the crop edge.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "Core/Profiler.h"
#include "Network/Address.h"
#include "Screens/Test/TestScreenStates.h"
#include "Screens/Test/TestScreens.h"
#include "ScreenTestSupport.h"

namespace {

std::string text(const ByteWriter& writer) {
    i64 length = writer.length < writer.capacity ? writer.length : writer.capacity;
    return std::string((const char*)writer.data, (size_t)length);
}

TEST(TestGamepadText, EachControllerTypeShowsItsAxesAndHeldButtonsInTableOrder) {
    u8 bytes[kGamepadTextBytes];
    GamepadState pad{};
    InputState input{};
    ByteWriter w = makeByteWriter(bytes, sizeof(bytes));
    writeGamepadText(&w, &pad, &input);
    EXPECT_EQ(text(w), "Type: Disconnected\n\n");

    pad.controllerKind = ControllerGamepad;
    pad.name = makeString("XInput 0");
    pad.leftStickX = -1;
    pad.leftStickY = 0.4567f;
    pad.rightTrigger = 0.5f;
    for (i32 code : {235, 223, 229, 230}) setKeyState(code, &input, 1);  // Start, A, Up, Down
    w = makeByteWriter(bytes, sizeof(bytes));
    writeGamepadText(&w, &pad, &input);
    EXPECT_EQ(text(w),
              "Type: Gamepad\nXInput 0\nLeft Stick X:\t-1.00\nLeft Stick Y:\t0.45\nRight Stick X:\t0.00\n"
              "Right Stick Y:\t0.00\nLeft Trigger:\t0.00\nRight Trigger:\t0.50\nA\nDown\nUp\nStart\n");

    input = InputState{};
    pad = GamepadState{};
    pad.controllerKind = ControllerHerelink;
    pad.name = makeString("Herelink");
    pad.leftRocker = -0.25f;
    pad.rightTrigger = 1;  // not shown for a Herelink
    for (i32 code : {253, 255, 252, 256}) setKeyState(code, &input, 1);
    w = makeByteWriter(bytes, sizeof(bytes));
    writeGamepadText(&w, &pad, &input);
    EXPECT_EQ(text(w),
              "Type: Herelink\nHerelink\nLeft Stick X:\t0.00\nLeft Stick Y:\t0.00\nRight Stick X:\t0.00\n"
              "Right Stick Y:\t0.00\nLeft Rocker:\t-0.25\nB\nHome\nC\nTrigger\n");

    input = InputState{};
    pad = GamepadState{};
    pad.controllerKind = ControllerPilotPro;
    pad.rightStickY = 0.999f;
    pad.rightRocker = 0.75f;
    for (i32 code : {250, 237, 246}) setKeyState(code, &input, 1);
    w = makeByteWriter(bytes, sizeof(bytes));
    writeGamepadText(&w, &pad, &input);
    EXPECT_EQ(text(w),
              "Type: Pilot Pro\n\nLeft Stick X:\t0.00\nLeft Stick Y:\t0.00\nRight Stick X:\t0.00\n"
              "Right Stick Y:\t0.99\nLeft Rocker:\t0.00\nRight Rocker:\t0.75\nA1\nS1 Up\nKill\n");

    pad.controllerKind = 9;
    w = makeByteWriter(bytes, sizeof(bytes));
    writeGamepadText(&w, &pad, &input);
    EXPECT_EQ(text(w), "Type: Unknown (9)\n\n");

    // A name longer than the block: cut at 500 bytes, nothing after the cut.
    pad.controllerKind = ControllerGamepad;
    u8 small[30];
    w = makeByteWriter(small, sizeof(small));
    pad.name = makeString("A controller with a long name");
    writeGamepadText(&w, &pad, &input);
    EXPECT_TRUE(w.overflow);
    EXPECT_EQ(text(w), std::string("Type: Gamepad\nA controller with a long name").substr(0, 30));
}

TEST(DebugNvText, RollPitchAndDerotationAreTheSystemReportsOwnAndCommandedAnglesFollowTheMode) {
    VehicleState vehicle{};
    vehicle.yaw = 1.5f;
    vehicle.pitch = -0.25f;
    vehicle.roll = 0.0125f;
    // A system report from the camera: roll -45.25 at byte 2, pitch 80.5 at 6, temperature 41.27 at
    // 53, roll derotation 3.5 at 57, tracker status 2 at 14.
    MavlinkMessage report{};
    report.messageId = MavlinkV2Extension;
    report.source = kNextVisionSource;
    auto putF32 = [&](i32 at, f32 v) { std::memcpy(report.payload + at, &v, 4); };
    putF32(2, -45.25f);
    putF32(6, 80.5f);
    putF32(53, 41.27f);
    putF32(57, 3.5f);
    report.payload[14] = 2;
    NextVisionState camera{};
    u32 images = 0;
    ASSERT_EQ(handleNextVisionExtension(&report, &camera, &images, 1000), 1u);
    camera.imageFlip = 1;
    camera.commandedAngles[0] = 12.5f;
    camera.commandedAngles[1] = -3.75f;
    const std::string head =
        "Drone Yaw:\t1.500\nDrone Pitch:\t-0.250\nDrone Roll:\t0.012\nNV Roll:\t-45.250\nNV Pitch:\t80.500\n"
        "NV Roll Derotation:\t3.500\nNV Temp:\t41.2\nNV Image Flip:\t1\n";
    u8 bytes[kDebugNvTextBytes];
    const char* middles[3] = {
        "NV Commanded Local Mode Pitch:\t12.500\nNV Commanded Local Mode Roll:\t-3.750\n",
        "NV Commanded Global Mode Pitch:\t12.500\nNV Commanded Global Mode Yaw:\t-3.750\n",
        "",
    };
    const f32 modes[3] = {4, 5, 0};
    for (i32 i = 0; i < 3; i++) {
        camera.commandedMode = modes[i];
        ByteWriter w = makeByteWriter(bytes, sizeof(bytes));
        writeDebugNvText(&w, &vehicle, &camera);
        EXPECT_EQ(text(w), head + middles[i] + "NV Tracker Status:\t2\n") << modes[i];
    }
}

TEST(FcSequenceRows, NamesAndTheRedRule) {
    const u8 sequences[5] = {7, 8, 8, 10, 11};
    const u32 ids[5] = {0, 30, 420, 4000, 31};
    EXPECT_STREQ(fcSequenceRow(sequences, ids, 0).message.text, "HEARTBEAT (0)");
    EXPECT_STREQ(fcSequenceRow(sequences, ids, 1).message.text, "ATTITUDE (30)");
    EXPECT_STREQ(fcSequenceRow(sequences, ids, 2).message.text, "Unrecognized Message (420)");
    EXPECT_STREQ(fcSequenceRow(sequences, ids, 3).message.text, "Unrecognized Message (4000)");
    EXPECT_STREQ(fcSequenceRow(sequences, ids, 3).sequence.text, "10");
    const u32 expected[5] = {1, 1, 0, 0, 1};
    for (i32 i = 0; i < 5; i++) EXPECT_EQ(fcSequenceRow(sequences, ids, i).inSequence, expected[i]) << i;
}

class DeveloperScreensTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(startScreensHarness(&harness, 800, 600)); }
    void TearDown() override { stopScreensHarness(&harness); }
    void open(ScreenFunction screen) {
        ScreenStack* stack = &harness.app->screenStack;
        stack->depth = 2;
        stack->screens[1] = testSelectorScreen;
        stack->depth = 3;
        stack->screens[2] = screen;
        clearScreenScratch(stack);
        moveMouseAway(&harness);
        frames(&harness);
    }
    void* scratch() { return harness.app->screenStack.screenState; }
    void hold(i32 code, bool down) { harnessKey(&harness.render, code, down); }

    ScreensHarness harness{};
};

TEST_F(DeveloperScreensTest, ProfilingReportMarksTheDronePeerAndIsCutAt20000Bytes) {
    AppState* app = harness.app;
    const u8 loopback[4] = {127, 0, 0, 1};
    app->droneSocket.mode = SocketModeUdp;
    app->droneSocket.localPort = 14550;
    app->droneSocket.peerMask = 0b101;
    app->droneSocket.peers[0].peer = makeAddressRecord(4, loopback, 14560);
    app->droneSocket.peers[1].peer = makeAddressRecord(4, loopback, 14561);
    app->droneSocket.peers[2].peer = makeAddressRecord(4, loopback, 14562);
    app->droneConnection.droneEndpoint = makeAddressRecord(4, loopback, 14562);
    static u8 bytes[kProfilingReportBytes];
    ByteWriter w = makeByteWriter(bytes, sizeof(bytes));
    writeProfilingReport(&w, app, harness.platform, harness.ui, 13400000000000, 3600000);
    std::string report = text(w);
    EXPECT_EQ(report.rfind("Orvik 3.1.0\nGenerated ", 0), 0u);
    size_t drone = report.find("Drone MAVLink: 14550, ");
    ASSERT_NE(drone, std::string::npos);
    size_t peers = report.find('\n', drone) + 1;
    EXPECT_EQ(report.substr(peers, report.find("Camera MAVLink") - peers),
              "   127.0.0.1:14560\n   127.0.0.1:14562 <-- Drone\n");
    // The table comes last, tab-separated.
    EXPECT_NE(report.find("--- Profiling Report --- \t % top\t % previous"), std::string::npos);
    EXPECT_FALSE(w.overflow);

    // A renderer status longer than the report's room: the report stops at 20,000 bytes and loses
    // the profiling table.
    std::string status(25000, 'x');
    ByteWriter saved = harness.ui->rendererLog;
    harness.ui->rendererLog = makeByteWriter((u8*)status.data(), (i64)status.size());
    harness.ui->rendererLog.length = (i64)status.size();
    w = makeByteWriter(bytes, sizeof(bytes));
    writeProfilingReport(&w, app, harness.platform, harness.ui, 13400000000000, 3600000);
    harness.ui->rendererLog = saved;
    EXPECT_TRUE(w.overflow);
    report = text(w);
    EXPECT_EQ(report.size(), 20000u);
    EXPECT_EQ(report.find("--- Profiling Report"), std::string::npos);
    EXPECT_EQ(report.back(), 'x');

    open(profilingScreen);
    frames(&harness, 2);
    EXPECT_EQ(topScreen(&harness), profilingScreen);
}

TEST_F(DeveloperScreensTest, ProfilingReportIsWrappedToTheScreenAndScrollsOnlyDownToTheEndOfTheText) {
    static const char kWide[] =
        "A region whose name alone is wider than the whole screen so that its columns would start far beyond the "
        "right edge of it and then some more words to make sure that the name cannot fit on one line at all";
    { ProfilingScope wide(kWide); }
    harness.render.captureText = true;
    open(profilingScreen);
    frames(&harness, 2);
    ProfilingState* state = (ProfilingState*)scratch();
    const MapView* view = &state->view;
    Rect rect = harness.ui->screenRect;
    f32 width = rect.x1 - rect.x0;
    EXPECT_NEAR(state->content[1] - state->content[0], width, 1e-6) << "the content is the screen's width";
    ASSERT_LT(state->content[2], -2.0 * (rect.y1 - rect.y0)) << "a report taller than two screens";

    // Scrolled down a notch a frame until it stops: every frame's text lies inside the screen's width
    // and every word of the wide row is shown.
    std::string seen;
    f32 lowest = 0, tallest = 0;
    f64 last = 1;
    for (i32 step = 0; step < 1000 && view->visibleYMin != last; ++step) {
        last = view->visibleYMin;
        for (const TextRun& run : harness.render.text) {
            EXPECT_GE(run.x0, rect.x0 - 1) << run.text;
            EXPECT_LE(run.x1, rect.x1 + 1) << run.text;
            seen += run.text + "\n";
            lowest = run.y0;
            if (run.y1 - run.y0 > tallest) tallest = run.y1 - run.y0;
        }
        wheel(&harness, 400, 300, -1);
        frames(&harness);
    }
    std::string words = kWide;
    std::string flat;
    for (char c : seen) flat += c == '\n' ? ' ' : c;
    for (size_t at = 0, end; at < words.size(); at = end + 1) {
        end = words.find(' ', at);
        if (end == std::string::npos) end = words.size();
        EXPECT_NE(flat.find(words.substr(at, end - at)), std::string::npos) << words.substr(at, end - at);
    }
    EXPECT_EQ(seen.find(kWide), std::string::npos) << "the wide row is broken into lines";
    // At the end the last line stands whole at the bottom of the screen, and scrolling goes no further.
    EXPECT_NEAR(view->visibleYMin, state->content[2], 1e-6);
    EXPECT_GE(lowest, rect.y0 - 1);
    EXPECT_LT(lowest, rect.y0 + 2 * tallest);

    // A drag to the left moves nothing sideways.
    harnessMouseMove(&harness.render, 700, 300);
    frames(&harness);
    harnessMouseButton(&harness.render, KeyMouseLeft, true);
    frames(&harness);
    for (f32 x = 650; x >= 100; x -= 50) {
        harnessMouseMove(&harness.render, x, 300);
        frames(&harness);
    }
    harnessMouseButton(&harness.render, KeyMouseLeft, false);
    frames(&harness);
    EXPECT_NEAR(view->visibleXMin, 0.0, 1e-6);
    EXPECT_NEAR(view->visibleXMax, width, 1e-6);
}

TEST_F(DeveloperScreensTest, Test3DMovesAtItsSpeedTurnsByItsCountsAndFirstEscapeFreesTheMouse) {
    // One second of W from the start: 10^12 / 2^32 units along +y.
    Test3DState state{};
    state.orientation = Quaternion{0, 0, 0, 1};
    InputState keys{};
    setKeyState('W', &keys, 1);
    stepTest3DCamera(&state, &keys, 0, 0, 1.0);
    EXPECT_EQ(state.position[0], 0);
    EXPECT_EQ(state.position[2], 0);
    EXPECT_NEAR((f64)state.position[1] / 4294967296.0, 232.83, 0.01);

    // 100 counts sideways turn the camera 1 radian about the vertical axis.
    Test3DState turned{};
    turned.orientation = Quaternion{0, 0, 0, 1};
    InputState none{};
    stepTest3DCamera(&turned, &none, 100, 0, 0.016);
    EXPECT_NEAR(std::fabs(2 * std::atan2(turned.orientation.z, turned.orientation.w)), 1.0, 1e-9);
    EXPECT_NEAR(turned.orientation.x, 0, 1e-12);
    EXPECT_NEAR(turned.orientation.y, 0, 1e-12);

    // Through the screen: nothing moves while the mouse is free; with it captured W moves along +y.
    open(test3DScreen);
    Test3DState* live = (Test3DState*)scratch();
    hold('W', true);
    frames(&harness, 10);
    EXPECT_EQ(live->position[1], 0);
    hold('W', false);
    tapKey(&harness, KeyTab);
    EXPECT_EQ(harness.platform->cursorCaptureWanted, 1u);
    hold('W', true);
    frames(&harness, 60);  // 60 frames of 16,667 us
    hold('W', false);
    frames(&harness);
    EXPECT_NEAR((f64)live->position[1] / 4294967296.0, 232.83 * 60 * 16667 / 1e6, 0.2);
    EXPECT_EQ(live->position[0] >> 32, 0);

    // 100 counts of raw motion to the right in one frame: a turn of 1 radian about the vertical.
    addRawMouseMotion(harness.platform, 100, 0);
    frames(&harness);
    EXPECT_NEAR(std::fabs(2 * std::atan2(live->orientation.z, live->orientation.w)), 1.0, 1e-9);
    EXPECT_NEAR(live->orientation.x, 0, 1e-12);
    EXPECT_NEAR(live->orientation.y, 0, 1e-12);

    tapKey(&harness, KeyEscape);
    EXPECT_EQ(topScreen(&harness), test3DScreen);
    EXPECT_EQ(harness.platform->cursorCaptureWanted, 0u);
    tapKey(&harness, KeyEscape);
    EXPECT_EQ(topScreen(&harness), testSelectorScreen);
}

TEST_F(DeveloperScreensTest, DuvevMarkerTurnsToThePointerAndClosesFortyPercentASecond) {
    DuvevMarker marker{100, 100, 0};
    followPointer(&marker, 200, 100, 1000000);
    EXPECT_FLOAT_EQ(marker.x, 140);
    EXPECT_FLOAT_EQ(marker.y, 100);
    EXPECT_DOUBLE_EQ(marker.heading, -0.25);
    followPointer(&marker, 140, 200, 500000);
    EXPECT_FLOAT_EQ(marker.y, 120);
    EXPECT_DOUBLE_EQ(marker.heading, 0.0);

    open(duvevDebugScreen);
    DuvevDebugState* state = (DuvevDebugState*)scratch();
    ASSERT_EQ(state->selected, 0u);
    DuvevMarker start = state->markers[0];
    // Held far from every marker: marker 0 glides towards the pointer; a detonated one stays.
    harnessMouseMove(&harness.render, 600, start.y);
    frames(&harness);
    harnessMouseButton(&harness.render, KeyMouseLeft, true);
    frames(&harness, 30);
    harnessMouseButton(&harness.render, KeyMouseLeft, false);
    frames(&harness);
    f32 moved = state->markers[0].x - start.x;
    EXPECT_GT(moved, 0.15f * (600 - start.x));
    EXPECT_LT(moved, 0.25f * (600 - start.x));
    EXPECT_NEAR(state->markers[0].heading, -0.25, 0.01);
    EXPECT_FLOAT_EQ(state->markers[1].x, start.x);
    frames(&harness, 30);  // no pointer held: nothing moves
    EXPECT_FLOAT_EQ(state->markers[0].x, start.x + moved);

    // A touch on marker 2 selects it; "Detonate" (bottom right) ends its following for good.
    click(&harness, state->markers[2].x, state->markers[2].y);
    EXPECT_EQ(state->selected, 2u);
    f32 unit = screenLineHeight(harness.ui);
    click(&harness, 800 - 4 * unit, 2 * unit);
    EXPECT_EQ(state->detonatedMask, 4ull);
    DuvevMarker before = state->markers[2];
    harnessMouseMove(&harness.render, 600, 300);
    frames(&harness);
    harnessMouseButton(&harness.render, KeyMouseLeft, true);
    frames(&harness, 20);
    harnessMouseButton(&harness.render, KeyMouseLeft, false);
    frames(&harness);
    EXPECT_FLOAT_EQ(state->markers[2].x, before.x);
    EXPECT_FLOAT_EQ(state->markers[2].y, before.y);
}

TEST_F(DeveloperScreensTest, DebugNvPanelHidesAndShowsOnATapOfTheHud) {
    open(debugNvScreen);
    DebugNvState* state = (DebugNvState*)scratch();
    ASSERT_EQ(state->hidePanel, 0u);
    click(&harness, 600, 150);
    EXPECT_EQ(state->hidePanel, 1u);
    click(&harness, 600, 150);
    EXPECT_EQ(state->hidePanel, 0u);
    EXPECT_EQ(topScreen(&harness), debugNvScreen);
}

TEST_F(DeveloperScreensTest, ClippingShapesAreCutAtTheCropEdge) {
    open(testClippingScreen);
    TestClippingState* state = (TestClippingState*)scratch();
    // Zoomed in twice and moved so that the rounded rectangle (80 x 70 pixels from view point
    // (-2, -2)) straddles the crop's left edge at x = 80.
    setMapCenterAndZoom(&state->view, 3.9, 0.5, 2);
    frames(&harness, 2);
    f64 scale = state->view.pixelsPerUnit;
    f32 left = mapViewWindowX(&state->view, -2), bottom = mapViewWindowY(&state->view, -2);
    ASSERT_LT(left, 75);
    ASSERT_GT(left + 80, 90);
    i32 y = (i32)(bottom + 35);
    EXPECT_EQ(harnessPixel(&harness.render, 78, y), 0xFF000000u) << "outside the crop";
    EXPECT_EQ(harnessPixel(&harness.render, (i32)(left + 60), y), 0xFF00DDFFu) << "the fill inside it";
    EXPECT_EQ(harnessPixel(&harness.render, 700, 80), 0xFF303030u) << "the crop's backdrop";
    EXPECT_GT(scale, 50);
}

}  // namespace
