// The PX4 control against a PX4 stand-in scripted with node-mavlink on the loopback: parameters,
// mission upload, a refused upload, start and stop, the flight actions, and the upload over a lossy
// link through a seeded relay. The connection's clock is the test's; real time only lets the
// datagrams travel, and the stand-in is paced by the connection's HEARTBEATs.
#include "Core/Sound.h"
#include "Drone/DroneConnection.h"
#include "Drone/FlightController/AutopilotControl.h"
#include "Drone/FlightController/Parameters.h"
#include "FlightLogs/FlightLogger.h"
#include "Mission/WaypointMissionEditor.h"
#include "NodePeer.h"
#include "Platform/Input.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr u64 kFrameStep = 20000;  // simulated microseconds per frame
const u8 kLoopback[4] = {127, 0, 0, 1};
constexpr f64 kPi = 3.14159265358979323846;

u64 simulatedNow = 0;
u64 simulatedClock() { return simulatedNow; }

// A UDP relay between the connection (side A) and the stand-in (side B) that drops a seeded share of
// the datagrams in both directions, or all of them once cut.
struct LossyRelay {
    int a = -1, b = -1;
    u16 portA = 0, portB = 0;
    sockaddr_in gcs{}, vehicle{};
    bool haveGcs = false;
    std::mt19937 random;
    u32 dropPercent = 20;
    bool cut = false;

    static int bindUdp(u16 port) {
        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, (sockaddr*)&address, sizeof(address)) != 0) {
            close(fd);
            return -1;
        }
        return fd;
    }
    bool open(u16 sideA, u16 sideB, u16 vehiclePort, u32 seed) {
        a = bindUdp(sideA);
        b = bindUdp(sideB);
        portA = sideA;
        portB = sideB;
        vehicle.sin_family = AF_INET;
        vehicle.sin_port = htons(vehiclePort);
        vehicle.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        random.seed(seed);
        return a >= 0 && b >= 0;
    }
    void pump() {
        u8 buffer[2048];
        for (;;) {
            sockaddr_in from{};
            socklen_t length = sizeof(from);
            ssize_t count = recvfrom(a, buffer, sizeof(buffer), 0, (sockaddr*)&from, &length);
            if (count < 0) break;
            gcs = from;
            haveGcs = true;
            if (!cut && random() % 100 >= dropPercent) sendto(b, buffer, (size_t)count, 0, (sockaddr*)&vehicle, sizeof(vehicle));
        }
        for (;;) {
            ssize_t count = recv(b, buffer, sizeof(buffer), 0);
            if (count < 0) break;
            if (haveGcs && !cut && random() % 100 >= dropPercent) sendto(a, buffer, (size_t)count, 0, (sockaddr*)&gcs, sizeof(gcs));
        }
    }
    ~LossyRelay() {
        if (a >= 0) close(a);
        if (b >= 0) close(b);
    }
};

struct Rig {
    std::unique_ptr<Socket> droneSocket = std::make_unique<Socket>();
    std::unique_ptr<Socket> cameraSocket = std::make_unique<Socket>();
    std::unique_ptr<DroneConnection> connection = std::make_unique<DroneConnection>();
    std::unique_ptr<Preferences> preferences = std::make_unique<Preferences>();
    std::unique_ptr<WaypointMissionEditor> plan = std::make_unique<WaypointMissionEditor>();
    std::unique_ptr<SoundQueue> sounds = std::make_unique<SoundQueue>();
    FlightLogger logger{};
    DroneLinkInputs inputs{};
    NodeProcess px4;
    std::unique_ptr<LossyRelay> relay;
    std::vector<i32> viewed;  // parameter slots a screen shows

    Px4State& state() { return connection->px4; }
    VehicleState& vehicle() { return connection->vehicle; }
    ParameterSlot& slot(const char* name) { return state().parameters[px4ParameterSlotByName(name)]; }

    void step() {
        simulatedNow += kFrameStep;
        inputs.now = simulatedNow;
        inputs.utcMilliseconds = 13190774400000 + (i64)(simulatedNow / 1000);
        for (i32 index : viewed) state().parameters[index].viewedTime = simulatedNow;
        controlDrone(connection.get(), &inputs);
        if (relay) relay->pump();
        pollNodePeer(&px4);
        pauseBriefly();
        if (relay) relay->pump();
    }
    template <typename Done>
    bool runUntil(Done done, int maxFrames) {
        for (int i = 0; i < maxFrames; i++) {
            if (done()) return true;
            step();
        }
        return done();
    }
    void run(u64 microseconds) {
        for (u64 t = 0; t < microseconds; t += kFrameStep) step();
    }
    std::vector<std::string> linesStartingWith(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const std::string& line : px4.lines) {
            if (line.rfind(prefix, 0) == 0) found.push_back(line);
        }
        return found;
    }
    std::string status() const {
        const FixedString& text = connection->vehicle.missionStatusText;
        return std::string(text.text, (size_t)text.length);
    }
    ~Rig() {
        stopNodePeer(&px4);
        closeSocket(droneSocket.get());
        closeSocket(cameraSocket.get());
    }
};

bool waitForReady(NodeProcess* process) {
    for (int i = 0; i < 2500; i++) {
        pollNodePeer(process);
        for (const std::string& line : process->lines) {
            if (line == "ready") return true;
        }
        if (process->ended) return false;
        pauseBriefly();
    }
    return false;
}

// Opens the drone socket on a free group of ports and starts the stand-in (behind a relay when
// seeded), then steps until the connection follows the stand-in as a PX4 vehicle that is known to
// hold no mission (the stand-in's own mission has been cleared).
void startRig(Rig* rig, u16 firstPort, const std::vector<std::string>& options, u32 relaySeed = 0) {
    ASSERT_EQ(prepareNodePeer(), "");
    Preferences* preferences = rig->preferences.get();
    preferences->appSystemId = 255;
    preferences->appComponentId = 190;
    preferences->droneTransportProtocol = TransportUdp;
    preferences->lowAltitudeWarning = -1000;
    preferences->waypointMissionCruiseSpeed = 7;
    preferences->waypointCurveRange = 25;
    preferences->maxWaypointsToUpload = 65535;
    simulatedNow = 500000000;
    rig->droneSocket->clock = simulatedClock;
    rig->cameraSocket->clock = simulatedClock;
    rig->logger.logFileName = makeString("Flight Logs/test.qvlog3");
    rig->inputs.droneSocket = rig->droneSocket.get();
    rig->inputs.cameraSocket = rig->cameraSocket.get();
    rig->inputs.preferences = preferences;
    rig->inputs.flightLogger = &rig->logger;
    rig->inputs.soundQueue = rig->sounds.get();
    rig->inputs.missionPlan = rig->plan.get();
    bool started = false;
    for (int attempt = 0; attempt < 8 && !started; attempt++) {
        u16 gcsPort = (u16)(firstPort + 20 * attempt);
        u16 vehiclePort = (u16)(gcsPort + 5);
        u16 droneTarget = vehiclePort;
        u16 standInGcsPort = gcsPort;
        if (relaySeed) {
            rig->relay = std::make_unique<LossyRelay>();
            if (!rig->relay->open((u16)(gcsPort + 6), (u16)(gcsPort + 7), vehiclePort, relaySeed)) continue;
            droneTarget = rig->relay->portA;
            standInGcsPort = rig->relay->portB;
        }
        preferences->droneLocalPort = gcsPort;
        preferences->droneAddress = makeAddressRecord(4, kLoopback, droneTarget);
        closeSocket(rig->droneSocket.get());
        rig->step();
        if (rig->droneSocket->localPort != gcsPort) continue;
        rig->px4 = NodeProcess{};
        std::vector<std::string> arguments = {"px4", std::to_string(vehiclePort), std::to_string(standInGcsPort), "120"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        ASSERT_TRUE(startNodePeer(&rig->px4, arguments));
        started = waitForReady(&rig->px4);
        if (!started) stopNodePeer(&rig->px4);
    }
    ASSERT_TRUE(started);
    bool ready = rig->runUntil([&] {
        return rig->vehicle().autopilotKind == AutopilotPx4 && rig->state().missionKnown &&
               rig->state().droneMissionCount == 0;
    }, 3000);
    ASSERT_TRUE(ready) << "the stand-in's mission was not learned and cleared";
}

Vec2 mercator(f64 latitude, f64 longitude) {
    return Vec2{longitude / 360.0, std::log(std::tan(latitude * kPi / 360.0 + kPi / 4.0)) / (2.0 * kPi)};
}

// A plan of waypoints walking east of the stand-in's position in steps of `spacing` metres.
void makePlan(WaypointMissionEditor* plan, i32 count, f64 spacing, f64 altitude) {
    plan->waypointCount = count;
    f64 metresPerDegree = 111412.84 * std::cos(47.397742 * kPi / 180.0) - 93.5 * std::cos(3 * 47.397742 * kPi / 180.0);
    for (i32 i = 0; i < count; i++) {
        Waypoint* waypoint = &plan->waypoints[i];
        *waypoint = Waypoint{};
        Vec2 point = mercator(47.397742, 8.545594 + spacing * (i + 1) / metresPerDegree);
        waypoint->x = point.x;
        waypoint->y = point.y;
        waypoint->altitude = altitude;
        waypoint->id = (u32)(i + 1);
    }
}

TEST(Px4StandIn, EditedParameterIsSentUntilReportedAndWrongValuesAreNotStored) {
    Rig rig;
    startRig(&rig, 14700, {"spoof", "ignore-set"});
    if (HasFatalFailure()) return;
    // A PARAM_VALUE of the wrong type, and one of a name outside the table, stored nothing.
    ASSERT_TRUE(rig.runUntil([&] { return !rig.linesStartingWith("spoofed").empty(); }, 500));
    rig.run(100000);
    EXPECT_EQ(rig.slot("BAT_LOW_THR").received, 0u);

    // A screen shows two slots: they are read and hold the vehicle's values.
    rig.viewed = {px4ParameterSlotByName("NAV_RCL_ACT"), px4ParameterSlotByName("MPC_XY_CRUISE")};
    rig.run(2500000);
    EXPECT_EQ(rig.slot("NAV_RCL_ACT").received, 1u);
    EXPECT_EQ(parameterInt(rig.slot("NAV_RCL_ACT").value), 2);
    EXPECT_EQ(parameterFloat(rig.slot("MPC_XY_CRUISE").value), 15.0f);
    EXPECT_EQ(rig.slot("MPC_XY_CRUISE").index, 705);
    std::vector<std::string> reads = rig.linesStartingWith("param_read NAV_RCL_ACT");
    EXPECT_GE(reads.size(), 2u);
    EXPECT_LE(reads.size(), 3u);  // once a second while shown
    EXPECT_TRUE(rig.linesStartingWith("param_read BAT_LOW_THR").empty());

    // This stand-in never confirms a PARAM_SET: the edit is sent every 0.5 s for 3 s, then only read.
    rig.viewed = {px4ParameterSlotByName("MPC_XY_CRUISE")};
    editParameter(&rig.slot("MPC_XY_CRUISE"), parameterBytesFromFloat(12.5f), simulatedNow);
    size_t readsBefore = rig.linesStartingWith("param_read MPC_XY_CRUISE").size();
    rig.run(6000000);
    std::vector<std::string> sets = rig.linesStartingWith("param_set MPC_XY_CRUISE");
    EXPECT_EQ(sets.size(), 6u);
    for (const std::string& line : sets) EXPECT_EQ(line, "param_set MPC_XY_CRUISE 9 12.5");
    EXPECT_GE(rig.linesStartingWith("param_read MPC_XY_CRUISE").size(), readsBefore + 2);
    // The value stays what the vehicle reports, and the wanted value follows it once the edit is over.
    EXPECT_EQ(parameterFloat(rig.slot("MPC_XY_CRUISE").value), 15.0f);
    EXPECT_EQ(parameterFloat(rig.slot("MPC_XY_CRUISE").wanted), 15.0f);
}

TEST(Px4StandIn, ConfirmedEditIsSentOnceAndOperatorLocationAndSticksReachTheVehicle) {
    Rig rig;
    startRig(&rig, 14710, {"remote-id"});
    if (HasFatalFailure()) return;
    editParameter(&rig.slot("MAV_1_RATE"), parameterBytesFromInt(57600), simulatedNow);
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
    EXPECT_EQ(parameterInt(rig.slot("MAV_1_RATE").value), 57600);

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
    startRig(&rig, 14720, {});
    if (HasFatalFailure()) return;
    EXPECT_EQ(rig.linesStartingWith("clear").size() >= 1, true) << "the mission found on the vehicle is cleared";

    // Three waypoints 30 m up, 20 m apart; the vehicle hovers 20 m up.
    makePlan(rig.plan.get(), 3, 20, 30);
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
    rig.run(300000);
    std::vector<std::string> commands = rig.linesStartingWith("command ");
    commands.erase(commands.begin(), commands.begin() + (long)before);
    EXPECT_EQ(commands, (std::vector<std::string>{"command 246 1 0 0", "command 176 1 4 2", "command 176 1 4 6",
                                                 "command 176 1 4 5", "command 176 1 3 0", "command 400 0 0 0",
                                                 "command 400 0 21196 0"}));
    for (u32 action : rig.state().flightActions) EXPECT_EQ(action, 0u);
}

TEST(Px4StandIn, RefusedUploadShowsItsFailureText) {
    Rig rig;
    startRig(&rig, 14730, {"refuse=2:7"});
    if (HasFatalFailure()) return;
    rig.preferences->verticalFlightPathToFirstWaypoint = VerticalFlightPathStraight;
    makePlan(rig.plan.get(), 3, 20, 30);
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
        startRig(&rig, 14740, {}, seed);
        if (HasFatalFailure()) return;
        makePlan(rig.plan.get(), kMaxWaypoints, 15, 30);
        rig.vehicle().uploadRequest = 1;
        bool done = rig.runUntil([&] {
            return rig.state().startState >= MissionUploaded || rig.status().rfind("Upload Failed", 0) == 0 ||
                   rig.status().rfind("Couldn't", 0) == 0;
        }, 40000);
        ASSERT_TRUE(done) << "seed " << seed << ": " << rig.status();
        if (rig.state().startState < MissionUploaded) {
            for (const std::string& line : rig.px4.lines) fprintf(stderr, "%s\n", line.c_str());
        }
        ASSERT_GE(rig.state().startState, (u32)MissionUploaded) << "seed " << seed << ": " << rig.status();
        std::vector<std::vector<std::string>> list = items(rig);
        ASSERT_EQ(list.size(), 102u) << "seed " << seed;
        for (size_t i = 0; i < list.size(); i++) EXPECT_EQ(list[i][1], std::to_string(i)) << "seed " << seed;
        EXPECT_EQ(rig.linesStartingWith("mission_stored"), std::vector<std::string>{"mission_stored 102"});
    }

    // The link is cut in the middle of an upload: it ends with a text, and nothing was stored.
    Rig rig;
    startRig(&rig, 14740, {}, 5);
    if (HasFatalFailure()) return;
    makePlan(rig.plan.get(), kMaxWaypoints, 15, 30);
    rig.vehicle().uploadRequest = 1;
    ASSERT_TRUE(rig.runUntil([&] { return items(rig).size() >= 40; }, 20000));
    rig.relay->cut = true;
    ASSERT_TRUE(rig.runUntil([&] { return rig.state().startState == MissionIdle; }, 1000));
    EXPECT_EQ(rig.status(), kUploadTimedOutText);
    EXPECT_EQ(rig.state().missionKnown, 0u);
    EXPECT_TRUE(rig.linesStartingWith("mission_stored").empty());
}

}  // namespace
