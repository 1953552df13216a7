// The PX4 control against a PX4 stand-in scripted with node-mavlink on the loopback: parameters,
// mission upload, a refused upload, start and stop, the flight actions, and the upload over a lossy
// link through a seeded relay. The connection's clock is the test's; real time only lets the
// datagrams travel, and the stand-in is paced by the connection's HEARTBEATs.
#include "Drone/FlightController/FlightPhase.h"
#include "Drone/FlightController/Parameters.h"
#include "Platform/Input.h"
#include "StandInRig.h"

namespace {

using namespace standin;

ParameterSlot& slotOf(Rig& rig, const char* name) { return rig.state().parameters[px4ParameterSlotByName(name)]; }

// Steps until the connection follows the stand-in as a PX4 vehicle that is known to hold no mission
// (the stand-in's own mission has been cleared).
void startRig(Rig* rig, const std::vector<std::string>& options, u32 relaySeed = 0) {
    startStandIn(rig, "px4", options, [&] {
        return rig->vehicle().autopilotKind == AutopilotPx4 && rig->state().missionKnown &&
               rig->state().droneMissionCount == 0;
    }, relaySeed);
}

// The upload's preconditions: the vehicle's position and its landed state "in the air" have arrived.
auto knownFlying(Rig* rig) {
    return [rig] { return rig->vehicle().globalPosition.time != 0 && rig->vehicle().landedState >= 2; };
}

TEST(Px4StandIn, EditedParameterIsSentUntilReportedAndWrongValuesAreNotStored) {
    Rig rig;
    startRig(&rig, {"spoof", "ignore-set"});
    if (HasFatalFailure()) return;
    // A PARAM_VALUE of the wrong type, and one of a name outside the table, stored nothing.
    ASSERT_TRUE(rig.runUntil([&] { return !rig.linesStartingWith("spoofed").empty(); }, 500));
    rig.run(100000);
    EXPECT_EQ(slotOf(rig, "BAT_LOW_THR").received, 0u);

    // A screen shows two slots: they are read and hold the vehicle's values.
    rig.viewed = {px4ParameterSlotByName("NAV_RCL_ACT"), px4ParameterSlotByName("MPC_XY_CRUISE")};
    rig.run(2500000);
    EXPECT_EQ(slotOf(rig, "NAV_RCL_ACT").received, 1u);
    EXPECT_EQ(parameterInt(slotOf(rig, "NAV_RCL_ACT").value), 2);
    EXPECT_EQ(parameterFloat(slotOf(rig, "MPC_XY_CRUISE").value), 15.0f);
    EXPECT_EQ(slotOf(rig, "MPC_XY_CRUISE").index, 705);
    std::vector<std::string> reads = rig.linesStartingWith("param_read NAV_RCL_ACT");
    EXPECT_GE(reads.size(), 2u);
    EXPECT_LE(reads.size(), 3u);  // once a second while shown
    EXPECT_TRUE(rig.linesStartingWith("param_read BAT_LOW_THR").empty());

    // This stand-in never confirms a PARAM_SET: the edit is sent every 0.5 s for 3 s, then only read.
    rig.viewed = {px4ParameterSlotByName("MPC_XY_CRUISE")};
    editParameter(&slotOf(rig, "MPC_XY_CRUISE"), parameterBytesFromFloat(12.5f), simulatedNow);
    size_t readsBefore = rig.linesStartingWith("param_read MPC_XY_CRUISE").size();
    rig.run(6000000);
    std::vector<std::string> sets = rig.linesStartingWith("param_set MPC_XY_CRUISE");
    EXPECT_EQ(sets.size(), 6u);
    for (const std::string& line : sets) EXPECT_EQ(line, "param_set MPC_XY_CRUISE 9 12.5");
    EXPECT_GE(rig.linesStartingWith("param_read MPC_XY_CRUISE").size(), readsBefore + 2);
    // The value stays what the vehicle reports, and the wanted value follows it once the edit is over.
    EXPECT_EQ(parameterFloat(slotOf(rig, "MPC_XY_CRUISE").value), 15.0f);
    EXPECT_EQ(parameterFloat(slotOf(rig, "MPC_XY_CRUISE").wanted), 15.0f);
}

TEST(Px4StandIn, ConfirmedEditIsSentOnceAndOperatorLocationAndSticksReachTheVehicle) {
    Rig rig;
    startRig(&rig, {"remote-id"});
    if (HasFatalFailure()) return;
    editParameter(&slotOf(rig, "MAV_1_RATE"), parameterBytesFromInt(57600), simulatedNow);
    // A Pilot Pro controller with its sticks and rockers moved and one button down.
    GamepadState pad{};
    pad.controllerKind = ControllerPilotPro;
    pad.rightStickY = 0.5f;
    pad.rightStickX = -0.25f;
    pad.leftStickY = 0.0f;
    pad.leftStickX = 1.0f;
    pad.leftRocker = 0.5f;
    pad.rightRocker = -1.0f;
    InputState keys{};
    keys.keys[303 / 64] |= 1ull << (303 % 64);
    rig.preferences->enableMavlinkJoysticks = 1;
    rig.inputs.gamepad = &pad;
    rig.inputs.input = &keys;
    size_t locatedBefore = rig.linesStartingWith("odid_system ").size();
    for (int i = 0; i < 200; i++) {
        pad.time = simulatedNow + kFrameStep;
        rig.step();
    }
    EXPECT_EQ(rig.linesStartingWith("param_set MAV_1_RATE"), std::vector<std::string>{"param_set MAV_1_RATE 6 57600"});
    EXPECT_EQ(parameterInt(slotOf(rig, "MAV_1_RATE").value), 57600);

    // In the air the operator location is the home position; at most three a second.
    std::vector<std::string> located = rig.linesStartingWith("odid_system ");
    EXPECT_GE(located.size() - locatedBefore, 10u);
    EXPECT_LE(located.size() - locatedBefore, 13u);
    for (const std::string& line : located) {
        std::vector<std::string> words = splitWords(line);
        ASSERT_EQ(words.size(), 4u);
        EXPECT_EQ(words[1], "473970000");
        EXPECT_EQ(words[2], "85450000");
        i64 seconds = std::stoll(words[3]);
        EXPECT_GE(seconds, 500);  // seconds since 2019 by the injected system clock
        EXPECT_LE(seconds, 600);
    }
    // MANUAL_CONTROL at most every 40 ms: x pitch, y roll, z throttle, r yaw, button bit 0, the rockers.
    std::vector<std::string> manual = rig.linesStartingWith("manual ");
    EXPECT_GE(manual.size(), 60u);
    EXPECT_LE(manual.size(), 101u);
    for (const std::string& line : manual) EXPECT_EQ(line, "manual 500 -250 500 1000 1 -500 -1000");
}

// The item lines of the stand-in, by their words.
std::vector<std::vector<std::string>> items(const Rig& rig) {
    std::vector<std::vector<std::string>> found;
    for (const std::string& line : rig.linesStartingWith("item ")) found.push_back(splitWords(line));
    return found;
}

TEST(Px4StandIn, MissionUploadStartStopAndFlightActions) {
    Rig rig;
    startRig(&rig, {});
    if (HasFatalFailure()) return;
    EXPECT_EQ(rig.linesStartingWith("clear").size() >= 1, true) << "the mission found on the vehicle is cleared";

    // Three waypoints 30 m up, 20 m apart; the vehicle hovers 20 m up.
    makePlan(rig.plan.get(), 3, 20, 30);
    ASSERT_TRUE(rig.runUntil(knownFlying(&rig), 1000));
    rig.vehicle().uploadRequest = 1;
    ASSERT_TRUE(rig.runUntil([&] { return rig.state().startState == MissionStarted; }, 3000)) << rig.status();
    EXPECT_EQ(rig.status(), "Started mission");
    EXPECT_EQ(rig.linesStartingWith("mission_stored"), std::vector<std::string>{"mission_stored 6"});
    // The start is in the flight log, and the vehicle's last HEARTBEAT frame is registered for the
    // start of every new log.
    EXPECT_EQ(rig.logger.entriesByType[FlightLogStartedMission], 1u);
    bool heartbeatRegistered = false;
    for (u32 i = 0; i < rig.logger.registeredEntryCount; i++) {
        const ByteWriter& frame = rig.logger.registeredEntries[i]->payload;
        bool v2 = frame.length > 9 && frame.data[0] == 0xFD;
        u32 id = v2 ? (u32)(frame.data[7] | frame.data[8] << 8 | frame.data[9] << 16) : frame.length > 5 ? frame.data[5] : 1;
        heartbeatRegistered = heartbeatRegistered || ((frame.data[0] == 0xFD || frame.data[0] == 0xFE) && id == 0);
    }
    EXPECT_TRUE(heartbeatRegistered);

    std::vector<std::vector<std::string>> list = items(rig);
    ASSERT_EQ(list.size(), 6u);
    // DO_CHANGE_SPEED at the cruise speed.
    EXPECT_EQ(list[0], (std::vector<std::string>{"item", "0", "178", "2", "1", "7", "-1", "0", "0", "0", "0.00"}));
    // The climb at the vehicle's position to the first waypoint's altitude.
    EXPECT_EQ(list[1][2], "16");
    EXPECT_EQ(list[1][3], "3");
    EXPECT_EQ(list[1][5], "1");
    EXPECT_EQ(list[1][7], "NaN");
    EXPECT_EQ(list[1][8], "473977420");
    EXPECT_EQ(list[1][9], "85455940");
    EXPECT_EQ(list[1][10], "30.00");
    // The waypoints: acceptance radius half the 20 m leg, the last one again with radius 1.
    for (int i = 2; i <= 5; i++) {
        EXPECT_EQ(list[(size_t)i][2], "16");
        EXPECT_EQ(list[(size_t)i][10], "30.00");
        EXPECT_EQ(list[(size_t)i][7], "NaN");
        f64 radius = std::stod(list[(size_t)i][5]);
        if (i == 5) {
            EXPECT_EQ(radius, 1.0);
        } else {
            EXPECT_NEAR(radius, 10.0, 0.2) << i;
        }
    }
    EXPECT_EQ(list[5][8], list[4][8]);
    EXPECT_EQ(list[5][9], list[4][9]);
    EXPECT_EQ(rig.plan->waypoints[0].uploadMark, 2u);
    EXPECT_EQ((i64)rig.plan->waypoints[0].missionItemNumber, 2);
    EXPECT_EQ(rig.plan->waypoints[2].uploadMark, 1u);
    EXPECT_EQ((i64)rig.plan->waypoints[2].missionItemNumber, 4);
    EXPECT_EQ(rig.linesStartingWith("command 176 1 4 4").size() >= 1, true);

    // Once the vehicle has reached the second waypoint's item, the first waypoint leaves the plan.
    ASSERT_TRUE(rig.runUntil([&] { return !rig.linesStartingWith("reached 3").empty(); }, 1000));
    rig.run(100000);
    ASSERT_EQ(rig.plan->waypointCount, 2);
    EXPECT_EQ(rig.plan->waypoints[0].id, 2u);

    // Stop: back to position control.
    rig.vehicle().stopRequest = 1;
    ASSERT_TRUE(rig.runUntil([&] { return !rig.linesStartingWith("command 176 1 3 0").empty(); }, 500));
    rig.run(200000);
    EXPECT_EQ(rig.state().startState, (u32)MissionIdle);
    EXPECT_EQ(rig.state().mainMode, kPx4MainPosctl);

    // Every flight action reaches the vehicle once.
    size_t before = rig.linesStartingWith("command ").size();
    for (u32& action : rig.state().flightActions) action = 1;
    ASSERT_TRUE(rig.runUntil([&] { return rig.linesStartingWith("command ").size() >= before + 7; }, 500));
    rig.run(100000);
    std::vector<std::string> commands = rig.linesStartingWith("command ");
    commands.erase(commands.begin(), commands.begin() + (long)before);
    EXPECT_EQ(commands, (std::vector<std::string>{"command 246 1 0 0", "command 176 1 4 2", "command 176 1 4 6",
                                                 "command 176 1 4 5", "command 176 1 3 0", "command 400 0 0 0",
                                                 "command 400 0 21196 0"}));
    for (u32 action : rig.state().flightActions) EXPECT_EQ(action, 0u);
}

TEST(Px4StandIn, RefusedUploadShowsItsFailureText) {
    Rig rig;
    startRig(&rig, {"refuse=2:7"});
    if (HasFatalFailure()) return;
    rig.preferences->verticalFlightPathToFirstWaypoint = VerticalFlightPathStraight;
    makePlan(rig.plan.get(), 3, 20, 30);
    ASSERT_TRUE(rig.runUntil(knownFlying(&rig), 1000));
    rig.vehicle().uploadRequest = 1;
    ASSERT_TRUE(rig.runUntil([&] { return !rig.linesStartingWith("refused").empty(); }, 3000));
    rig.run(200000);
    EXPECT_EQ(rig.status(), "Upload Failed (Accept Radius of WP 2 has an invalid value)");
    EXPECT_EQ(rig.state().startState, (u32)MissionIdle);
    EXPECT_TRUE(rig.linesStartingWith("command 176 1 4 4").empty());
}

TEST(Px4StandIn, UploadOverLossyLinkCompletesInOrderOrFailsWithText) {
    for (u32 seed : {11u, 23u, 37u}) {
        Rig rig;
        startRig(&rig, {}, seed);
        if (HasFatalFailure()) return;
        makePlan(rig.plan.get(), kMaxWaypoints, 15, 30);
        // Telemetry crosses the lossy link too: the upload is asked for once the vehicle is known flying.
        ASSERT_TRUE(rig.runUntil(knownFlying(&rig), 3000)) << "seed " << seed;
        rig.vehicle().uploadRequest = 1;
        bool done = rig.runUntil([&] {
            return rig.state().startState >= MissionUploaded || rig.status().rfind("Upload Failed", 0) == 0 ||
                   rig.status().rfind("Couldn't", 0) == 0;
        }, 40000);
        ASSERT_TRUE(done) << "seed " << seed << ": " << rig.status();
        if (rig.state().startState < MissionUploaded) {
            for (const std::string& line : rig.peer.lines) fprintf(stderr, "%s\n", line.c_str());
        }
        ASSERT_GE(rig.state().startState, (u32)MissionUploaded) << "seed " << seed << ": " << rig.status();
        std::vector<std::vector<std::string>> list = items(rig);
        ASSERT_EQ(list.size(), 102u) << "seed " << seed;
        for (size_t i = 0; i < list.size(); i++) EXPECT_EQ(list[i][1], std::to_string(i)) << "seed " << seed;
        EXPECT_EQ(rig.linesStartingWith("mission_stored"), std::vector<std::string>{"mission_stored 102"});
    }

    // The link is cut in the middle of an upload: it ends with a text, and nothing was stored.
    Rig rig;
    startRig(&rig, {}, 5);
    if (HasFatalFailure()) return;
    makePlan(rig.plan.get(), kMaxWaypoints, 15, 30);
    ASSERT_TRUE(rig.runUntil(knownFlying(&rig), 3000));
    rig.vehicle().uploadRequest = 1;
    ASSERT_TRUE(rig.runUntil([&] { return items(rig).size() >= 40; }, 20000));
    rig.relay->cut = true;
    ASSERT_TRUE(rig.runUntil([&] { return rig.state().startState == MissionIdle; }, 1000));
    EXPECT_EQ(rig.status(), kUploadTimedOutText);
    EXPECT_EQ(rig.state().missionKnown, 0u);
    EXPECT_TRUE(rig.linesStartingWith("mission_stored").empty());
}

TEST(Px4StandIn, FlightPhaseFollowsTakeoffMissionAndLanding) {
    Rig rig;
    startRig(&rig, {"ground"});
    if (HasFatalFailure()) return;
    std::vector<i32> phases;
    auto until = [&](auto done, int frames) {
        return rig.runUntil([&] {
            i32 phase = rig.vehicle().flightPhase;
            if (phases.empty() || phases.back() != phase) phases.push_back(phase);
            return done();
        }, frames);
    };
    EXPECT_EQ(rig.vehicle().secondPositionSelected, 0u);
    rig.state().flightActions[Px4ActionTakeoff] = 1;
    ASSERT_TRUE(until([&] { return rig.vehicle().landedState == 2; }, 500));
    // Where it left the ground is the take-off position, and the reference from then on.
    EXPECT_EQ(rig.vehicle().secondPositionSelected, 1u);
    EXPECT_NEAR(rig.vehicle().secondPosition.latitude, 47.397742, 1e-9);
    EXPECT_NEAR(vehiclePosition(&rig.vehicle()).longitude, 8.545594, 1e-9);

    makePlan(rig.plan.get(), 3, 20, 30);
    rig.vehicle().uploadRequest = 1;
    ASSERT_TRUE(until([&] { return rig.vehicle().flightPhase == FlightPhaseMission; }, 3000)) << rig.status();
    rig.state().flightActions[Px4ActionLand] = 1;
    ASSERT_TRUE(until([&] { return rig.vehicle().landedState == 1; }, 500));
    until([] { return false; }, 10);
    // On the ground, taking off, in the air, the mission, landing, on the ground.
    EXPECT_EQ(phases, (std::vector<i32>{1, 3, 2, 4, 3, 1}));

    // A silent vehicle has no phase.
    stopNodePeer(&rig.peer);
    rig.run(kFlightPhaseSilence + 100000);
    EXPECT_EQ(rig.vehicle().flightPhase, FlightPhaseNoVehicle);
}

}  // namespace
