// The ArduCopter handling against an ArduCopter stand-in scripted with node-mavlink on the loopback:
// the message rates it is asked for, the mission upload item by item and a refused one, the basic ID
// after the pre-arm text, the flight actions, the flight phase through take-off, mission and
// landing, and the ADS-B traffic it reports. The connection's clock is the test's.
#include "Drone/AirTraffic.h"
#include "Drone/FlightController/FlightPhase.h"
#include "StandInRig.h"

#include <algorithm>
#include <bit>
#include <set>

namespace {

using namespace standin;

// Steps until the connection follows the stand-in as an ArduCopter vehicle known to hold no mission.
void startArduCopter(Rig* rig, const std::vector<std::string>& options) {
    startStandIn(rig, "arducopter", options, [&] {
        return rig->vehicle().autopilotKind == AutopilotArduCopter && rig->arduCopter().missionKnown &&
               rig->arduCopter().droneMissionCount == 0;
    });
}

// The message-rate requests as "ID INTERVAL", one group per request cycle.
std::vector<std::vector<std::string>> intervalCycles(const Rig& rig) {
    std::vector<std::vector<std::string>> cycles;
    std::set<std::string> open;
    for (const std::string& line : rig.linesStartingWith("interval ")) {
        std::string request = line.substr(9);
        if (cycles.empty() || open.count(request)) {
            cycles.emplace_back();
            open.clear();
        }
        cycles.back().push_back(request);
        open.insert(request);
    }
    return cycles;
}

TEST(ArduCopterStandIn, OnlyStoppedStreamsAreAskedForOnceASecond) {
    Rig rig;
    startArduCopter(&rig, {"streams=33"});
    if (HasFatalFailure()) return;
    rig.run(5000000);
    // GLOBAL_POSITION_INT streams on its own: every cycle asks for the other four, never for it. The
    // first cycle may come before the first GLOBAL_POSITION_INT, and the last may still be on its way.
    std::vector<std::vector<std::string>> cycles = intervalCycles(rig);
    ASSERT_GE(cycles.size(), 5u);
    cycles.pop_back();
    cycles.erase(cycles.begin());
    for (const std::vector<std::string>& cycle : cycles) {
        EXPECT_EQ(cycle, (std::vector<std::string>{"1 1000000", "30 100000", "24 1000000", "242 5000000"}));
    }
    EXPECT_LE(cycles.size(), 8u);  // about one a second
}

TEST(ArduCopterStandIn, StreamsAreAskedOnceAndBasicIdFollowsThePrearmText) {
    Rig rig;
    rig.arduCopter().remoteIdType = 1;
    std::memcpy(rig.arduCopter().uasId, "ORVIK-TEST-000001234", 20);
    startArduCopter(&rig, {"prearm"});
    if (HasFatalFailure()) return;
    rig.run(5000000);
    std::vector<std::vector<std::string>> cycles = intervalCycles(rig);
    // Streams that flow are not asked for again (a stand-in slowed by a loaded machine may let one
    // lapse now and then; asked every second they would make five or more cycles).
    ASSERT_GE(cycles.size(), 1u);
    EXPECT_LE(cycles.size(), 3u);
    EXPECT_EQ(cycles[0], (std::vector<std::string>{"1 1000000", "30 100000", "33 100000", "24 1000000", "242 5000000"}));

    ASSERT_EQ(rig.linesStartingWith("prearm").size(), 1u);
    EXPECT_EQ(rig.linesStartingWith("basic_id "), std::vector<std::string>{"basic_id 1 2 ORVIK-TEST-000001234 1 1"});
    EXPECT_EQ(rig.arduCopter().basicIdRequest, 0u);

    // The operator location goes to the vehicle about three times a second: its own position on the ground.
    std::vector<std::string> located = rig.linesStartingWith("odid_system ");
    EXPECT_GE(located.size(), 14u);
    for (const std::string& line : located) {
        std::vector<std::string> words = splitWords(line);
        ASSERT_EQ(words.size(), 6u);
        EXPECT_EQ(words[1], "473977420");
        EXPECT_EQ(words[2], "85455940");
        EXPECT_EQ(words[4], "1");
        EXPECT_EQ(words[5], "1");
    }
    EXPECT_EQ(std::string(rig.vehicle().stateText.text), "STANDBY - LOITER");
}

// The flight phase each time it changes.
struct PhaseLog {
    std::vector<i32> phases;
    void note(const VehicleState& vehicle) {
        if (phases.empty() || phases.back() != vehicle.flightPhase) phases.push_back(vehicle.flightPhase);
    }
};

TEST(ArduCopterStandIn, MissionUploadAutoPositionHoldReturnAndDisarm) {
    Rig rig;
    PhaseLog log;
    startArduCopter(&rig, {"takeoff=6"});
    if (HasFatalFailure()) return;
    auto until = [&](auto done, int frames) {
        return rig.runUntil([&] {
            log.note(rig.vehicle());
            return done();
        }, frames);
    };
    ASSERT_TRUE(until([&] { return rig.vehicle().globalPosition.relativeAltitude >= 3; }, 1000));
    EXPECT_EQ(rig.vehicle().secondPositionSelected, 1u);
    EXPECT_NEAR(rig.vehicle().secondPosition.latitude, 47.397742, 1e-9);
    EXPECT_EQ(std::string(rig.vehicle().stateText.text), "ACTIVE - LOITER");

    // Three waypoints 30 m up, 20 m apart: the climb at the vehicle's position, each waypoint, the last again.
    makePlan(rig.plan.get(), 3, 20, 30);
    rig.vehicle().uploadRequest = 1;
    ASSERT_TRUE(until([&] { return rig.arduCopter().startState == MissionStarted; }, 1000)) << rig.status();
    EXPECT_EQ(rig.status(), "Started mission");
    EXPECT_EQ(rig.logger.entriesByType[FlightLogStartedMission], 1u);
    std::vector<std::string> items = rig.linesStartingWith("item ");
    ASSERT_EQ(items.size(), 5u);
    for (size_t i = 0; i < items.size(); i++) {
        std::vector<std::string> words = splitWords(items[i]);
        EXPECT_EQ(words[1], std::to_string(i));
        EXPECT_EQ(words[2], "16");
        EXPECT_EQ(words[3], "3");
        EXPECT_EQ(words[10], "30.00");
    }
    EXPECT_EQ(splitWords(items[4])[5], "1");  // the last waypoint again, acceptance radius 1
    EXPECT_EQ(rig.linesStartingWith("mission_stored"), std::vector<std::string>{"mission_stored 5"});
    EXPECT_FALSE(rig.linesStartingWith("command 176 1 3 0").empty());
    ASSERT_TRUE(until([&] { return rig.vehicle().flightPhase == FlightPhaseMission; }, 200));

    // Hover: POSHOLD ends the mission; return: RTL brings it down and it disarms on the ground.
    rig.arduCopter().flightActions[ArduCopterActionHover] = 1;
    ASSERT_TRUE(until([&] { return rig.arduCopter().customMode == kArduCopterModePoshold; }, 200));
    rig.arduCopter().flightActions[ArduCopterActionReturn] = 1;
    ASSERT_TRUE(until([&] { return rig.vehicle().flightPhase == FlightPhaseOnGround; }, 1000));
    EXPECT_EQ(rig.arduCopter().startState, (u32)MissionIdle);
    rig.arduCopter().flightActions[ArduCopterActionDisarm] = 1;
    rig.arduCopter().flightActions[ArduCopterActionEmergencyDisarm] = 1;
    until([] { return false; }, 20);

    std::vector<std::string> commands = rig.linesStartingWith("command ");
    std::vector<std::string> actions(std::find(commands.begin(), commands.end(), "command 176 1 16 0"), commands.end());
    EXPECT_EQ(actions, (std::vector<std::string>{"command 176 1 16 0", "command 176 1 6 0", "command 400 0 0 0",
                                                "command 400 0 21196 0"}));
    for (u32 action : rig.arduCopter().flightActions) EXPECT_EQ(action, 0u);
    // On the ground, taking off below 2 m, in the air, the mission, in the air, landing, on the ground.
    EXPECT_EQ(log.phases, (std::vector<i32>{1, 3, 2, 4, 2, 3, 1}));
}

TEST(ArduCopterStandIn, RefusedUploadShowsItsFailureText) {
    Rig rig;
    startArduCopter(&rig, {"takeoff=2", "refuse=1:10"});
    if (HasFatalFailure()) return;
    ASSERT_TRUE(rig.runUntil([&] { return rig.vehicle().landedState == 2; }, 1000));
    rig.preferences->verticalFlightPathToFirstWaypoint = VerticalFlightPathStraight;
    makePlan(rig.plan.get(), 3, 20, 30);
    rig.vehicle().uploadRequest = 1;
    ASSERT_TRUE(rig.runUntil([&] { return !rig.linesStartingWith("refused").empty(); }, 1000));
    rig.run(200000);
    EXPECT_EQ(rig.status(), "Upload Failed (Latitude of WP 2 has an invalid value)");
    EXPECT_EQ(rig.arduCopter().startState, (u32)MissionIdle);
    EXPECT_TRUE(rig.linesStartingWith("command 176 1 3 0").empty());
}

// ---------------------------------------------------------------------------------------------------
// Air traffic.

i32 adsbTones(const SoundQueue& sounds) {
    i32 count = 0;
    for (u32 i = 0; i < sounds.writeIndex; i++) count += sounds.requests[i].segments == kAdsbTone;
    return count;
}

const AirTrafficSlot* findAircraft(const AirTrafficList& traffic, u32 icao) {
    for (i32 i = 0; i < kAirTrafficSlots; i++) {
        if ((traffic.usedSlots >> i & 1) && traffic.slots[i].icaoAddress == icao) return &traffic.slots[i];
    }
    return nullptr;
}

TEST(ArduCopterStandIn, AdsbSlotsFillAndAgeAndTheCylinderSoundsOncePerEntry) {
    Rig rig;
    rig.preferences->adsbWarningCylinderAltitude = 1000;
    rig.preferences->adsbWarningCylinderRadius = 1000;
    startArduCopter(&rig, {"traffic"});
    if (HasFatalFailure()) return;
    const AirTrafficList& traffic = rig.connection->airTraffic;
    u64 stepTime = 0;
    auto runStep = [&](int step) {
        std::string line = "traffic " + std::to_string(step);
        ASSERT_TRUE(rig.runUntil([&] { return !rig.linesStartingWith(line).empty(); }, 500));
        stepTime = simulatedNow;
        rig.run(200000);
    };
    // The intruder 10 m outside, inside, still inside, outside, inside again: one slot, two tones.
    const i32 expectedTones[] = {0, 1, 1, 1, 2};
    const u8 expectedWarned[] = {0, 1, 1, 0, 1};
    for (int step = 0; step < 5; step++) {
        runStep(step);
        if (HasFatalFailure()) return;
        EXPECT_EQ(std::popcount(traffic.usedSlots), 1) << step;
        const AirTrafficSlot* intruder = findAircraft(traffic, 0xABCDEF);
        ASSERT_NE(intruder, nullptr);
        EXPECT_EQ(intruder->warned, expectedWarned[step]) << step;
        EXPECT_EQ(adsbTones(*rig.sounds), expectedTones[step]) << step;
        EXPECT_STREQ(intruder->callsign, "INTRUDER");
        EXPECT_NEAR(intruder->altitude, 800, 1e-9);
        EXPECT_NEAR(intruder->heading, 90, 1e-9);
        EXPECT_NEAR(intruder->horizontalSpeed, 50, 1e-9);
    }
    // Above the cylinder 100 m away: no tone. At 0/0: nothing stored. Last heard 7 s before it came.
    runStep(5);
    if (HasFatalFailure()) return;
    EXPECT_EQ(std::popcount(traffic.usedSlots), 2);
    EXPECT_EQ(adsbTones(*rig.sounds), 2);
    const AirTrafficSlot* high = findAircraft(traffic, 0x4000);
    ASSERT_NE(high, nullptr);
    EXPECT_EQ(high->warned, 0);
    EXPECT_LE(high->lastContactTime, (i64)simulatedNow - 7000000);
    EXPECT_GE(high->lastContactTime, (i64)stepTime - 7000000 - 100000);

    // 64 more fill the list; the last two take the stalest slots: the one heard 7 s ago, then the intruder.
    runStep(6);
    if (HasFatalFailure()) return;
    EXPECT_EQ(traffic.usedSlots, ~0ull);
    EXPECT_EQ(findAircraft(traffic, 0x4000), nullptr);
    EXPECT_EQ(findAircraft(traffic, 0xABCDEF), nullptr);
    for (u32 i = 0; i < 64; i++) EXPECT_NE(findAircraft(traffic, 0x100 + i), nullptr) << i;

    // One more replaces the aircraft heard longest ago, and nothing else.
    AirTrafficList before = traffic;
    i32 stalest = 0;
    for (i32 i = 1; i < kAirTrafficSlots; i++) {
        if (before.slots[i].lastContactTime < before.slots[stalest].lastContactTime) stalest = i;
    }
    runStep(7);
    if (HasFatalFailure()) return;
    EXPECT_EQ(traffic.slots[stalest].icaoAddress, 0x999u);
    for (i32 i = 0; i < kAirTrafficSlots; i++) {
        if (i == stalest) continue;
        EXPECT_EQ(std::memcmp(&traffic.slots[i], &before.slots[i], sizeof(AirTrafficSlot)), 0) << i;
    }
    EXPECT_EQ(adsbTones(*rig.sounds), 2);
}

}  // namespace
