// The flight-action buttons driven by scripted pointer clicks, each action through its confirmation,
// against the node-mavlink PX4 and ArduCopter stand-ins: "Yes" sets the request that the stand-in
// then receives as its command; "Cancel" sends nothing.
#include "Drone/Hud.h"
#include "Network/SecureLink.h"
#include "Platform/Input.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/Screen.h"
#include "StandInRig.h"

namespace {

using namespace standin;

constexpr f32 kWidth = 1920;
constexpr f32 kHeight = 1080;
constexpr f32 kRow = 40;
constexpr f32 kGap = 5;

// A screen of its own: the UI record, the stack's pointer records and one pointer.
struct Buttons {
    std::unique_ptr<UiState> ui = std::make_unique<UiState>();
    std::unique_ptr<ScreenStack> stack = std::make_unique<ScreenStack>();
    PointerSlot pointers[kPointerSlots]{};
    ButtonStyle style{};
    u32 openPanel = kPanelLinkQuality;

    Buttons() {
        ui->width = (i32)kWidth;
        ui->height = (i32)kHeight;
        ui->halfWidth = kWidth / 2;
        ui->halfHeight = kHeight / 2;
        ui->screenRect = Rect{0, kWidth, 0, kHeight};
        stack->pointers = pointers;
        stack->dragThresholdSquared = 100;
        style.textPadding = kGap;
        style.textStyle.size = 20;
    }
    void frame(DroneConnection* connection) {
        stack->now = simulatedNow;
        f32 used = 0;
        drawFlightActionButtons(&openPanel, &used, ui->screenRect, kRow, &style, connection, stack.get(), ui.get());
        resetInputStates(stack.get(), pointers, 0);
    }
    void click(DroneConnection* connection, Vec2F32 at) {
        pointers[0] = PointerSlot{PointerPressed, at.x, at.y, simulatedNow, at.x, at.y};
        frame(connection);
        pointers[0].state = PointerPresent;
        frame(connection);
    }
    // The button row's cell i of count, and the confirmation's two buttons.
    static Vec2F32 action(i32 i, i32 count) {
        f32 width = (kWidth - kGap * (f32)(count + 1)) / (f32)count;
        return Vec2F32{kGap + (f32)i * (width + kGap) + width / 2, kHeight - kRow / 2};
    }
    static Vec2F32 confirm(bool yes) {
        f32 x0 = 0.2f * kWidth, x1 = 0.8f * kWidth;
        f32 width = (x1 - x0 - kGap) / 2;
        return Vec2F32{yes ? x1 - width / 2 : x0 + width / 2, kHeight - 1.5f * kRow - kGap};
    }
};

// Each action of the autopilot: the button opens "Are you sure", Cancel returns, the button again and
// "Yes" sets the request, which reaches the stand-in as the expected command.
void runActions(Rig* rig, u32 autopilot, const std::vector<std::string>& expected) {
    Buttons buttons;
    DroneConnection* connection = rig->connection.get();
    i32 count = flightActionCount(autopilot);
    ASSERT_EQ((size_t)count, expected.size());
    for (i32 i = 0; i < count; i++) {
        size_t before = rig->linesStartingWith("command ").size();
        buttons.click(connection, Buttons::action(i, count));
        ASSERT_EQ(buttons.openPanel, kPanelFlightAction) << flightActionName(autopilot, i);
        buttons.click(connection, Buttons::confirm(false));
        EXPECT_EQ(buttons.openPanel, kPanelLinkQuality);
        rig->run(200000);
        EXPECT_EQ(rig->linesStartingWith("command ").size(), before) << "Cancel sent " << flightActionName(autopilot, i);

        buttons.click(connection, Buttons::action(i, count));
        buttons.click(connection, Buttons::confirm(true));
        EXPECT_EQ(buttons.openPanel, 0u);
        ASSERT_TRUE(rig->runUntil([&] { return rig->linesStartingWith("command ").size() > before; }, 300))
            << flightActionName(autopilot, i);
        EXPECT_EQ(rig->linesStartingWith("command ")[before], expected[(size_t)i]) << flightActionName(autopilot, i);
        buttons.openPanel = kPanelLinkQuality;
    }
}

TEST(FlightActionButtons, EachConfirmedPx4ActionReachesTheStandIn) {
    Rig rig;
    startStandIn(&rig, "px4", {}, [&] { return rig.vehicle().autopilotKind == AutopilotPx4; });
    if (HasFatalFailure()) return;
    runActions(&rig, AutopilotPx4,
               {"command 246 1 0 0", "command 176 1 4 2", "command 176 1 4 6", "command 176 1 4 5", "command 176 1 3 0",
                "command 400 0 0 0", "command 400 0 21196 0"});
}

TEST(FlightActionButtons, EachConfirmedArduCopterActionReachesTheStandIn) {
    Rig rig;
    startStandIn(&rig, "arducopter", {}, [&] { return rig.vehicle().autopilotKind == AutopilotArduCopter; });
    if (HasFatalFailure()) return;
    runActions(&rig, AutopilotArduCopter,
               {"command 176 1 6 0", "command 176 1 16 0", "command 400 0 0 0", "command 400 0 21196 0"});
}

// A relay peer takes control right after the operator confirmed "Land": the request waits on no
// held queue, is dropped after 2 s with a word to the operator and is not sent when the control
// ends; meanwhile the row names the controlling peer, takes no press, and what the station would
// have sent is thrown away every frame, so no queue ever fills.
TEST(FlightActionButtons, UnderRelayControlNothingIsRequestedOrSentLate) {
    Rig rig;
    startStandIn(&rig, "px4", {}, [&] { return rig.vehicle().autopilotKind == AutopilotPx4; });
    if (HasFatalFailure()) return;
    DroneConnection* connection = rig.connection.get();
    std::unique_ptr<Socket> relaySocket = std::make_unique<Socket>();
    relaySocket->simulatorResult = kSimulatorResultConsumed;
    std::unique_ptr<SecureLinkHost> host = std::make_unique<SecureLinkHost>();
    host->peers[0].name = makeString("north crew tablet");
    host->controllingPeer = &host->peers[0];
    rig.inputs.relaySocket = relaySocket.get();
    rig.inputs.relayHost = host.get();
    rig.preferences->relayModePort = 24550;

    Buttons buttons;
    const i32 land = Px4ActionLand;
    buttons.click(connection, Buttons::action(land, kPx4FlightActions));
    buttons.click(connection, Buttons::confirm(true));
    ASSERT_EQ(connection->px4.flightActions[land], 1u);
    size_t commandsBefore = rig.linesStartingWith("command ").size();

    // Ten seconds of relay control (heartbeats alone fill 64 slots in a minute; 600 frames of them
    // and the request are far more than a queue holds if anything were kept).
    u64 start = simulatedNow;
    while (simulatedNow - start < 10000000) {
        host->peers[0].heardTimes[RelayStreamMavlink] = simulatedNow;
        rig.step();
        ASSERT_EQ(connection->relayControlled, 1u);
        ASSERT_EQ(queuedPacketCount(&connection->sinkSocket.sendQueue), 0);
        if (simulatedNow - start > 2100000) {
            EXPECT_EQ(connection->px4.flightActions[land], 0u);
        }
    }
    EXPECT_GT(connection->traffic[TrafficSink].messages, 10u);
    FixedString said = connection->vehicle.commandRefusalText;
    EXPECT_EQ(std::string(said.text, said.length), "Land not sent: no link to the drone");
    EXPECT_EQ(requestFlightAction(connection, land), 0u);
    buttons.openPanel = kPanelLinkQuality;
    buttons.click(connection, Buttons::action(land, kPx4FlightActions));
    EXPECT_EQ(buttons.openPanel, kPanelLinkQuality) << "a press under relay control opens nothing";

    // Control ends: nothing of the above reaches the vehicle.
    host->controllingPeer = nullptr;
    rig.run(3000000);
    EXPECT_EQ(connection->relayControlled, 0u);
    EXPECT_EQ(rig.linesStartingWith("command ").size(), commandsBefore);
}

}  // namespace
