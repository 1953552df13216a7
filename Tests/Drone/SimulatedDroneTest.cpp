// The simulated drone against two ground stations on the loopback, on the test's clock: node-mavlink
// (an independent MAVLink implementation) working through parameters, a mission round trip and the
// modes; and the program's own drone link flying a mission on it with the game pad's gestures.
#include "Core/MathEarth.h"
#include "Drone/FlightController/Parameters.h"
#include "Map/ElevationMapLoader.h"
#include "SimulatorRig.h"

namespace {

using namespace standin;
using namespace simrig;

std::string paramLine(const char* name, const char* value) {
    i32 slot = px4ParameterSlotByName(name);
    return "param " + std::string(name) + " " + std::to_string(slot) + " " + (slot >= 62 ? "9" : "6") + " 84 " + value;
}

TEST(SimulatedDrone, AnswersAnIndependentGroundStationParametersMissionAndModes) {
    ASSERT_EQ(prepareNodePeer(), "");
    simulatedNow = 1000000000;
    Simulator sim;
    ASSERT_TRUE(sim.open(16100));
    u16 port = sim.drone->localPorts[0];
    NodeProcess peer;
    ASSERT_TRUE(startNodePeer(&peer, {"gcs", std::to_string(port + 5), std::to_string(port), "60"}));
    auto finished = [&] {
        for (const std::string& line : peer.lines) {
            if (line == "done") return true;
        }
        return false;
    };
    for (int frame = 0; frame < 200000 && !finished() && !peer.ended; frame++) {
        simulatedNow += kFrameStep;
        sim.step();
        pollNodePeer(&peer);
        pauseBriefly();
    }
    pollNodePeer(&peer);
    stopNodePeer(&peer);
    std::vector<std::string> expected = {
        "ready",
        "heartbeat 2 12 3 3 0",  // quadrotor, PX4, standby, position control
        paramLine("MIS_DIST_1WP", "10000"),
        paramLine("NAV_RCL_ACT", "2"),
        paramLine("MPC_XY_CRUISE", "15"),
        paramLine("BOOM3_COLOR", "8"),
        paramLine("CBRK_PARAMBLOCK", "1"),
        paramLine("BOOM3_COLOR", "8"),
        paramLine("BAT_LOW_THR", "0.2"),
        paramLine("MIS_DIST_1WP", "10000"),
        "no_answer index 84",  // outside the 84 slots: no answer instead of a read beyond them
        "no_answer index 300",
        "no_answer index -2",
        "no_answer NOT_A_PARAM",
        paramLine("MPC_XY_CRUISE", "12.5"),
        paramLine("NAV_RCL_ACT", "2"),  // set with the REAL32 type: ignored
        "ack 0",
        "count 5",
        // The mission comes back as it went up, the unknown command 203 included.
        "item 0 178 2 1 7.5 -1 0 0 0 0 1",
        "item 1 16 3 0 2 0 0 473977420 85455940 30 1",
        "item 2 203 2 0 0 0 0 0 0 0 1",
        "item 3 16 3 0 2.5 0 0 473987420 85465940 40.25 1",
        "item 4 16 3 0 3 0 0 473967420 85445940 12.5 1",
        "command_ack 176 0",
        "mode 4 5",
        "command_ack 176 0",
        "mode 3 0",
        "command_ack 400 3",  // arming is by the sticks only
        "done",
    };
    EXPECT_EQ(peer.lines, expected);
    EXPECT_EQ(sim.drone->systemStatus, 3);  // nothing armed it
}

// The program's drone link on the simulator: both on the test's clock, stepped frame by frame.
struct ProgramOnSimulator {
    Rig rig;
    Simulator sim;
    std::vector<std::array<f64, 3>> track;

    void step() {
        simulatedNow += kFrameStep;
        rig.inputs.now = simulatedNow;
        rig.inputs.utcMilliseconds = 13190774400000 + (i64)(simulatedNow / 1000);
        controlDrone(rig.connection.get(), &rig.inputs);
        sim.step();
        track.push_back({sim.drone->east, sim.drone->north, sim.drone->altitude});
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
    void open(u16 first) {
        simulatedNow = 2000000000;
        ASSERT_TRUE(sim.open(first));
        Preferences* preferences = rig.preferences.get();
        *preferences = *sim.preferences;
        preferences->appSystemId = 255;
        preferences->appComponentId = 190;
        preferences->droneConnection = DroneConnectionIp;
        preferences->droneTransportProtocol = TransportUdp;
        preferences->lowAltitudeWarning = -1000;
        preferences->waypointMissionCruiseSpeed = 8;
        preferences->waypointCurveRange = 3;
        preferences->maxWaypointsToUpload = 65535;
        preferences->droneLocalPort = (u16)(sim.drone->localPorts[0] + 5);
        preferences->droneAddress = makeAddressRecord(4, kLoopback, sim.drone->localPorts[0]);
        rig.droneSocket->clock = simulatedClock;
        rig.cameraSocket->clock = simulatedClock;
        rig.inputs.droneSocket = rig.droneSocket.get();
        rig.inputs.cameraSocket = rig.cameraSocket.get();
        rig.inputs.preferences = preferences;
        rig.inputs.flightLogger = &rig.logger;
        rig.inputs.soundQueue = rig.sounds.get();
        rig.inputs.missionPlan = rig.plan.get();
        ASSERT_TRUE(runUntil([&] { return rig.vehicle().autopilotKind == AutopilotPx4; }, 500))
            << "the program did not lock on to the simulated drone";
    }
};

TEST(SimulatedDrone, FliesTheProgramsMissionHoldsThenReturnsHomeAndLands) {
    ProgramOnSimulator both;
    both.open(16200);
    if (HasFatalFailure()) return;
    Simulator& sim = both.sim;
    SimulatedDrone* drone = sim.drone.get();

    // Arming gesture held 0.9 s: nothing; held 1.2 s: active in the air.
    sim.pad.leftStickX = 0.7f;
    sim.pad.leftStickY = -0.7f;
    both.run(900000);
    EXPECT_EQ(drone->systemStatus, 3);
    sim.pad = GamepadState{};
    both.step();
    sim.pad.leftStickX = 0.7f;
    sim.pad.leftStickY = -0.7f;
    both.run(1200000);
    EXPECT_EQ(drone->systemStatus, 4);
    EXPECT_EQ(drone->landedState, 2);
    // Climb 3 s at full left stick, then let go: 9 m up, held.
    sim.pad = GamepadState{};
    sim.pad.leftStickY = 1;
    both.run(3000000);
    sim.pad = GamepadState{};
    both.run(200000);
    EXPECT_NEAR(drone->altitude, 9.0, 0.1);

    // Five waypoints around the take-off point, in metres east, north and up.
    const f64 points[5][3] = {{30, 0, 20}, {30, 40, 25}, {-20, 40, 30}, {-20, -10, 15}, {10, -30, 12}};
    WaypointMissionEditor* plan = both.rig.plan.get();
    plan->waypointCount = 5;
    f64 perLongitude = metersPerDegreeLongitude(kTakeoffLatitude);
    f64 perLatitude = metersPerDegreeLatitude(kTakeoffLatitude);
    for (i32 i = 0; i < 5; i++) {
        Vec2 point = mercator(kTakeoffLatitude + points[i][1] / perLatitude, kTakeoffLongitude + points[i][0] / perLongitude);
        plan->waypoints[i] = Waypoint{};
        plan->waypoints[i].x = point.x;
        plan->waypoints[i].y = point.y;
        plan->waypoints[i].altitude = points[i][2];
        plan->waypoints[i].id = (u32)(i + 1);
    }
    ASSERT_TRUE(both.runUntil([&] { return both.rig.vehicle().landedState >= 2; }, 500));
    both.rig.vehicle().uploadRequest = 1;
    ASSERT_TRUE(both.runUntil([&] { return both.rig.state().startState == MissionStarted; }, 2000)) << both.rig.status();
    EXPECT_EQ(drone->mainMode, 4);
    EXPECT_EQ(drone->subMode, 4);
    size_t startFrame = both.track.size();
    // Flown to the end: the vehicle falls back to position control.
    ASSERT_TRUE(both.runUntil([&] { return drone->mainMode == 3; }, 20000));
    // Every waypoint was passed within its acceptance radius, in order.
    size_t frame = startFrame;
    for (i32 i = 0; i < 5; i++) {
        f64 best = 1e9;
        size_t bestFrame = frame;
        for (size_t k = frame; k < both.track.size(); k++) {
            const auto& p = both.track[k];
            f64 d = std::hypot(p[0] - points[i][0], p[1] - points[i][1], p[2] - points[i][2]);
            if (d < best) {
                best = d;
                bestFrame = k;
            }
        }
        EXPECT_LT(best, 3.0) << "waypoint " << i;
        frame = bestFrame;
    }
    // It holds where the mission ended, near the last waypoint.
    std::array<f64, 3> end = both.track.back();
    EXPECT_LT(sim.distanceTo(points[4][0], points[4][1], points[4][2]), 3.0);
    both.run(2000000);
    EXPECT_EQ(drone->east, end[0]);
    EXPECT_EQ(drone->north, end[1]);
    EXPECT_EQ(drone->altitude, end[2]);
    // The program sees the vehicle there.
    f64 reportedEast = (both.rig.vehicle().globalPosition.longitude - kTakeoffLongitude) * perLongitude;
    EXPECT_NEAR(reportedEast, end[0], 0.5);
    EXPECT_NEAR(both.rig.vehicle().globalPosition.relativeAltitude, end[2], 0.5);

    // The return button: climbs to 20 m (it is over 20 m out), flies home, descends and lands.
    size_t returnFrame = both.track.size();
    sim.input.keys[kSimulatorReturnToggleCode / 64] |= 1ull << (kSimulatorReturnToggleCode % 64);
    both.step();
    sim.input.keys[kSimulatorReturnToggleCode / 64] = 0;
    EXPECT_EQ(drone->subMode, 5);
    ASSERT_TRUE(both.runUntil([&] { return drone->systemStatus == 3; }, 20000));
    EXPECT_EQ(drone->landedState, 1);
    EXPECT_LT(std::hypot(drone->east, drone->north), 0.5);
    EXPECT_LE(drone->altitude, 0.1);
    f64 highest = 0;
    for (size_t k = returnFrame; k < both.track.size(); k++) highest = std::max(highest, both.track[k][2]);
    EXPECT_NEAR(highest, 20.0, 0.01);
    both.run(1500000);
    EXPECT_EQ(both.rig.vehicle().landedState, 1);

    // Armed again, it stays armed once the sticks are let go; then the disarm gesture (left stick
    // down) held 1.2 s lands it where it is.
    sim.pad.leftStickX = 0.7f;
    sim.pad.leftStickY = -0.7f;
    both.run(1200000);
    ASSERT_EQ(drone->systemStatus, 4);
    sim.pad = GamepadState{};
    both.step();
    ASSERT_EQ(drone->systemStatus, 4);
    sim.pad.leftStickY = -1;
    both.run(1200000);
    EXPECT_EQ(drone->systemStatus, 3);
    EXPECT_EQ(drone->landedState, 1);
    EXPECT_GE(drone->altitude, 0.0);  // the ground at take-off height stopped the descent
}

TEST(SimulatedDrone, ProgramsPayloadLinkReadsTheSimulatedOrvikAndLight) {
    ProgramOnSimulator both;
    both.sim.preferences->simulateOrvik = 1;
    both.sim.preferences->simulateStrobe = 1;
    both.open(16400);
    if (HasFatalFailure()) return;
    both.run(2500000);
    const PayloadLink& link = both.rig.connection->payload;
    EXPECT_EQ(link.kind, (u32)PayloadKindOrvik);
    EXPECT_NE(link.orvik.versionTime, 0u);
    EXPECT_EQ(std::string(link.orvik.mainFirmwareVersion.text, link.orvik.mainFirmwareVersion.length),
              "Simulated Firmware");
    EXPECT_EQ(std::string(link.orvik.auxProgrammingDate.text, link.orvik.auxProgrammingDate.length), "March 29, 2023");
    EXPECT_NE(link.light.reportTime, 0u);
    // The program's control frames reach the firmware: it is commanded, so not stale.
    EXPECT_NE(both.sim.drone->orvik.lastCommandTime, 0u);
    EXPECT_EQ(link.orvik.statusWord & 16, 0u);
}

TEST(SimulatedDrone, ArmGestureHeldFromStartWaitsItsSecondAndRisingTerrainLiftsTheDrone) {
    // A ramp from 100 m in the west to 150 m in the east, 0.02 degrees wide around the take-off point.
    auto loader = std::make_unique<ElevationMapLoader>();
    f32 samples[4] = {100, 150, 100, 150};
    ElevationRaster* raster = &loader->slots[0].raster;
    raster->width = raster->height = 2;
    raster->rowStride = 8;
    raster->sampleFormat = kRasterSamplesF32;
    raster->noData = -32768;
    raster->samples = (u8*)samples;
    raster->georeference.west = kTakeoffLongitude - 0.01;
    raster->georeference.east = kTakeoffLongitude + 0.01;
    raster->georeference.south = kTakeoffLatitude - 0.01;
    raster->georeference.north = kTakeoffLatitude + 0.01;
    raster->georeference.lastColumn = raster->georeference.lastRow = 1;
    loader->loadedCount = 1;
    simulatedNow = 4000000000;
    Simulator sim;
    sim.terrain = loader.get();
    ASSERT_TRUE(sim.open(16500));
    SimulatedDrone* drone = sim.drone.get();
    auto run = [&](u64 microseconds) {
        for (u64 t = 0; t < microseconds; t += kFrameStep) {
            simulatedNow += kFrameStep;
            sim.step();
        }
    };
    // The arm gesture from the first frame on arms only once held for over a second.
    sim.pad.leftStickX = 0.7f;
    sim.pad.leftStickY = -0.7f;
    run(900000);
    EXPECT_EQ(drone->systemStatus, 3);
    run(200000);
    ASSERT_EQ(drone->systemStatus, 4);
    // 10 s to the right at full stick (heading about north): about 150 m east, where the ground is
    // 5 m higher.
    sim.pad = GamepadState{};
    sim.pad.rightStickX = 1;
    run(10000000);
    auto ramp = [](f64 east) { return 50.0 * east / (0.02 * metersPerDegreeLongitude(kTakeoffLatitude)); };
    EXPECT_GT(drone->east, 140.0);
    EXPECT_NEAR(drone->altitude, ramp(drone->east), 0.05);
    // Flying west and down, it comes to rest on the falling ground.
    sim.pad = GamepadState{};
    sim.pad.rightStickX = -1;
    sim.pad.leftStickY = -0.5f;
    run(30000000);
    EXPECT_LT(drone->east, -250.0);
    EXPECT_NEAR(drone->altitude, ramp(drone->east), 0.05);
}

// Frame steps without time, a mission with an unknown command, and a reached waypoint radius.
TEST(SimulatedDrone, StepWithoutTimeMovesNothingUnknownItemsAreSkippedAndNoCruiseSpeedFliesHome) {
    auto drone = std::make_unique<SimulatedDrone>();
    initialiseSimulatedDrone(drone.get(), 1000);
    drone->systemStatus = 4;
    drone->mainMode = 4;
    drone->subMode = 4;
    f64 perLongitude = metersPerDegreeLongitude(kTakeoffLatitude);
    SimulatedMissionItem unknown{};
    unknown.command = 31000;
    SimulatedMissionItem waypoint{};
    waypoint.command = 16;
    waypoint.params[1] = 1;
    waypoint.latitude = (i32)(kTakeoffLatitude * 1e7);
    waypoint.longitude = (i32)((kTakeoffLongitude + 100 / perLongitude) * 1e7);
    waypoint.altitude = 0;
    drone->items[0] = unknown;
    drone->items[1] = waypoint;
    drone->storedCount = 2;
    const f32 sticks[4] = {1, 1, 1, 1};
    for (f64 dt : {0.0, -0.5}) {
        moveSimulatedDrone(drone.get(), sticks, dt, kTakeoffLongitude, kTakeoffLatitude, nullptr);
        EXPECT_EQ(drone->east, 0.0);
        EXPECT_EQ(drone->north, 0.0);
        EXPECT_EQ(drone->heading, 0.0);
    }
    // The unknown item is passed over, and the waypoint 100 m east is flown to at cruise speed.
    const f32 still[4] = {0, 0, 0, 0};
    moveSimulatedDrone(drone.get(), still, 1.0, kTakeoffLongitude, kTakeoffLatitude, nullptr);
    EXPECT_EQ(drone->currentItem, 1);
    EXPECT_NEAR(drone->east, 15.0, 0.05);
    EXPECT_NEAR(drone->north, 0.0, 0.05);
    for (int i = 0; i < 10; i++) moveSimulatedDrone(drone.get(), still, 1.0, kTakeoffLongitude, kTakeoffLatitude, nullptr);
    EXPECT_EQ(drone->mainMode, 3);  // the mission ended
    EXPECT_NEAR(drone->east, 100.0, 1.0);
    EXPECT_TRUE(std::isfinite(drone->east) && std::isfinite(drone->altitude));
    // A cruise speed set to no speed at all still brings it home, not away.
    f32 negative = -5;
    std::memcpy(&drone->parameters[px4ParameterSlotByName("MPC_XY_CRUISE")], &negative, 4);
    drone->mainMode = 4;
    drone->subMode = 5;
    drone->altitude = 30;
    moveSimulatedDrone(drone.get(), still, 1.0, kTakeoffLongitude, kTakeoffLatitude, nullptr);
    EXPECT_NEAR(drone->east, 85.0, 1.0);
}

// Over home the return comes down as PX4's does: at the automatic descent speed (1.5 m/s) to
// RTL_DESCEND_ALT (30 m), a hover of RTL_LAND_DELAY (1 s), then the landing: 1.5 m/s above
// MPC_LAND_ALT1 (10 m), MPC_LAND_SPEED (0.7 m/s) below MPC_LAND_ALT2 (5 m) and a blend between them.
// It used to drop at the cruise speed, 15 m/s.
TEST(SimulatedDrone, ReturnOverHomeDescendsAtPx4sSpeeds) {
    auto drone = std::make_unique<SimulatedDrone>();
    initialiseSimulatedDrone(drone.get(), 1000);
    drone->systemStatus = 4;
    drone->landedState = 2;
    drone->mainMode = 4;
    drone->subMode = 5;
    drone->altitude = 40;
    drone->east = 0.3;
    const f32 still[4] = {0, 0, 0, 0};
    const f64 dt = 0.02;
    auto expectedSpeed = [](f64 height) {
        if (height > 10) return 1.5;
        if (height < 5) return 0.7;
        return 0.7 + 0.8 * (height - 5) / 5;
    };
    f64 seconds = 0, hovered = 0;
    i32 checked = 0;
    while (drone->systemStatus == 4 && seconds < 100) {
        f64 before = drone->altitude;
        moveSimulatedDrone(drone.get(), still, dt, kTakeoffLongitude, kTakeoffLatitude, nullptr);
        seconds += dt;
        f64 down = (before - drone->altitude) / dt;
        ASSERT_GE(drone->altitude, 0.0);
        if (drone->systemStatus != 4) break;  // on the ground
        if (down == 0) {
            hovered += dt;
            EXPECT_NEAR(before, 30.0, 0.01) << "a hover only at the descent altitude";
        } else if (drone->altitude > 0 && before > 30.01) {
            EXPECT_NEAR(down, 1.5, 1e-9) << before;
        } else if (drone->altitude > 0) {
            // The speed at the step's start, give or take the blend's change within one step.
            EXPECT_NEAR(down, expectedSpeed(before), 0.01) << before;
            EXPECT_EQ(drone->landedState, 4);
            checked++;
        }
    }
    EXPECT_EQ(drone->systemStatus, 3);
    EXPECT_EQ(drone->landedState, 1);
    EXPECT_NEAR(hovered, 1.0, 2 * dt);
    EXPECT_GT(checked, 1000);
    EXPECT_LT(std::fabs(drone->east), 1e-3) << "drifted onto home on the way down";
    // 10 m at 1.5 m/s, the hover, 20 m at 1.5 m/s, the blend's 5 m (6.25 ln(1.5 / 0.7) s) and 4.9 m at
    // 0.7 m/s (within 0.1 m of the ground it stands on it).
    f64 expected = 10 / 1.5 + 1 + 20 / 1.5 + 6.25 * std::log(1.5 / 0.7) + 4.9 / 0.7;
    EXPECT_NEAR(seconds, expected, 0.05);

    // A landing speed set on the vehicle is the one it lands at; a negative RTL_LAND_DELAY hovers for
    // ever, as PX4's does.
    f32 slow = 0.4f;
    std::memcpy(&drone->parameters[px4ParameterSlotByName("MPC_LAND_SPEED")], &slow, 4);
    drone->systemStatus = 4;
    drone->altitude = 3;
    drone->subMode = 0;  // out of the return and into a new one
    moveSimulatedDrone(drone.get(), still, 1.0, kTakeoffLongitude, kTakeoffLatitude, nullptr);
    drone->subMode = 5;
    drone->altitude = 3;
    moveSimulatedDrone(drone.get(), still, 1.0, kTakeoffLongitude, kTakeoffLatitude, nullptr);
    EXPECT_NEAR(drone->altitude, 3.0, 1e-9) << "the hover first";
    moveSimulatedDrone(drone.get(), still, 1.0, kTakeoffLongitude, kTakeoffLatitude, nullptr);
    EXPECT_NEAR(drone->altitude, 2.6, 1e-6);
    f32 never = -1;
    std::memcpy(&drone->parameters[px4ParameterSlotByName("RTL_LAND_DELAY")], &never, 4);
    for (i32 i = 0; i < 100; i++) moveSimulatedDrone(drone.get(), still, 1.0, kTakeoffLongitude, kTakeoffLatitude, nullptr);
    EXPECT_NEAR(drone->altitude, 2.6, 1e-6);
    EXPECT_EQ(drone->systemStatus, 4);
}

// Messages handed straight to the drone, its answers read from the send queue.
struct Direct {
    std::unique_ptr<SimulatedDrone> drone = std::make_unique<SimulatedDrone>();
    std::unique_ptr<Socket> socket = std::make_unique<Socket>();
    Preferences preferences{};
    AddressRecord station = makeAddressRecord(4, kLoopback, 9);

    Direct() {
        initialiseSimulatedDrone(drone.get(), 1000);
        drone->groundStation = station;
        drone->groundStationId = 255 << 8 | 190;
    }
    void send(u32 id, const std::vector<u8>& payload) {
        MavlinkMessage message{};
        message.messageId = id;
        message.source = 255 << 8 | 190;
        std::memcpy(message.payload, payload.data(), payload.size());
        message.payloadLength = (u16)payload.size();
        handleSimulatedDroneMessage(drone.get(), &message, &station, &preferences, socket.get(), 2000);
    }
    std::vector<MavlinkMessage> answers() {
        std::vector<MavlinkMessage> found;
        while (PacketSlot* slot = oldestQueuedPacket(&socket->sendQueue)) {
            MavlinkMessage message{};
            parseMavlinkBytes(&message, slot->data, 0, (i32)slot->writer.length);
            found.push_back(message);
            dropOldestQueuedPacket(&socket->sendQueue);
        }
        return found;
    }
};

std::vector<u8> missionCount(u16 count) { return {(u8)count, (u8)(count >> 8), 1, 1, 0}; }
std::vector<u8> missionItem(u16 seq) {
    std::vector<u8> p(38, 0);
    p[28] = (u8)seq;
    p[29] = (u8)(seq >> 8);
    p[30] = 16;
    p[32] = p[33] = 1;
    return p;
}

TEST(SimulatedDrone, UploadOf103ItemsIsAcceptedAnd104Refused) {
    Direct direct;
    direct.send(44, missionCount(104));
    EXPECT_EQ(direct.drone->expectedCount, 0);
    direct.send(44, missionCount(103));
    for (u16 seq = 103; seq-- > 0;) direct.send(73, missionItem(seq));  // any order
    EXPECT_EQ(direct.drone->storedCount, 103);
    std::vector<MavlinkMessage> answers = direct.answers();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].messageId, 47u);
    EXPECT_EQ(answers[0].payload[2], 0);  // accepted
    EXPECT_EQ(answers[0].payload[0], 255);
    // An item past the count, or of another mission type, is not taken.
    direct.send(44, missionCount(2));
    std::vector<u8> fence = missionItem(0);
    fence[37] = 1;
    direct.send(73, fence);
    direct.send(73, missionItem(2));
    EXPECT_EQ(direct.drone->receivedMask[0], 0u);
    // DO_SET_MODE with a value that is no mode number is refused and changes nothing.
    std::vector<u8> command(33, 0);
    f32 nan = NAN, four = 4;
    std::memcpy(&command[4], &nan, 4);
    std::memcpy(&command[8], &four, 4);
    command[28] = 176;
    command[30] = command[31] = 1;
    direct.answers();
    direct.send(76, command);
    answers = direct.answers();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].payload[2], 2);
    EXPECT_EQ(direct.drone->mainMode, 3);
}

// Every COMMAND_LONG is answered as PX4 answers, and the flight follows: table rows of the drone's
// state, the command and its parameters, the result and what the drone is after it.
TEST(SimulatedDrone, CommandsAreAnsweredAsPx4AnswersThem) {
    struct Case {
        const char* what;
        u8 systemStatus, landedState;
        f64 altitude;
        u16 command;
        f32 params[3];
        u8 result;
        u8 statusAfter, mainAfter, subAfter;
    };
    const Case cases[] = {
        {"take-off while disarmed", 3, 1, 0, 176, {1, 4, 2}, 2, 3, 3, 0},
        {"land while disarmed", 3, 1, 0, 176, {1, 4, 6}, 2, 3, 3, 0},
        {"return while disarmed", 3, 1, 0, 176, {1, 4, 5}, 0, 3, 4, 5},
        {"take-off in the air", 4, 2, 10, 176, {1, 4, 2}, 0, 4, 4, 2},
        {"land in the air", 4, 2, 10, 176, {1, 4, 6}, 0, 4, 4, 6},
        {"disarm in the air", 4, 2, 10, 400, {0, 0, 0}, 2, 4, 3, 0},
        {"emergency disarm in the air", 4, 2, 10, 400, {0, 21196, 0}, 0, 3, 3, 0},
        {"disarm on the ground", 4, 2, 0, 400, {0, 0, 0}, 0, 3, 3, 0},
        {"disarm while disarmed", 3, 1, 0, 400, {0, 0, 0}, 0, 3, 3, 0},
        {"arm", 3, 1, 0, 400, {1, 0, 0}, 3, 3, 3, 0},
        {"reboot while armed", 4, 2, 10, 246, {1, 0, 0}, 2, 4, 3, 0},
        {"reboot while disarmed", 3, 1, 0, 246, {1, 0, 0}, 0, 3, 3, 0},
        {"camera information", 3, 1, 0, 521, {1, 0, 0}, 3, 3, 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Direct direct;
        direct.drone->systemStatus = c.systemStatus;
        direct.drone->landedState = c.landedState;
        direct.drone->altitude = c.altitude;
        std::vector<u8> command(33, 0);
        std::memcpy(&command[0], c.params, 12);
        command[28] = (u8)c.command;
        command[29] = (u8)(c.command >> 8);
        command[30] = command[31] = 1;
        direct.send(76, command);
        std::vector<MavlinkMessage> answers = direct.answers();
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(answers[0].messageId, 77u);
        EXPECT_EQ(answers[0].payload[0] | answers[0].payload[1] << 8, c.command);
        EXPECT_EQ(answers[0].payload[2], c.result);
        EXPECT_EQ(direct.drone->systemStatus, c.statusAfter);
        EXPECT_EQ(direct.drone->mainMode, c.mainAfter);
        EXPECT_EQ(direct.drone->subMode, c.subAfter);
    }
}

// Take-off climbs at 1.5 m/s to MIS_TAKEOFF_ALT (2.5 m while unset) and holds; land comes down at
// 1 m/s and disarms on the ground; disarmed in the air, the drone falls to the ground and lies there.
TEST(SimulatedDrone, TakeoffLandAndAnEmergencyDisarmMoveTheDrone) {
    simulatedNow = 5000000000;
    Simulator sim;
    ASSERT_TRUE(sim.open(16600));
    SimulatedDrone* drone = sim.drone.get();
    struct Phase {
        u8 status, landed, sub;
        f64 startAltitude, seconds;
        u8 statusAfter, landedAfter, subAfter;
        f64 altitudeAfter;
    };
    const Phase phases[] = {
        {4, 2, 2, 0, 1, 4, 3, 2, 1.5},  {4, 3, 2, 1.5, 2, 4, 2, 3, 2.5},  // take-off, then hold
        {4, 2, 6, 2.5, 1, 4, 4, 6, 1.5}, {4, 4, 6, 1.5, 2, 3, 1, 6, 0},   // land, then disarmed
        {3, 2, 3, 30, 1, 3, 2, 3, 20},   {3, 2, 3, 20, 3, 3, 1, 3, 0},    // falling, then lying
    };
    for (const Phase& p : phases) {
        drone->systemStatus = p.status;
        drone->landedState = p.landed;
        drone->mainMode = 4;
        drone->subMode = p.sub;
        drone->altitude = p.startAltitude;
        for (u64 t = 0; t < (u64)(p.seconds * 1e6); t += kFrameStep) {
            simulatedNow += kFrameStep;
            sim.step();
        }
        EXPECT_EQ(drone->systemStatus, p.statusAfter) << p.sub << " " << p.startAltitude;
        EXPECT_EQ(drone->landedState, p.landedAfter) << p.sub << " " << p.startAltitude;
        EXPECT_EQ(drone->subMode, p.subAfter) << p.sub << " " << p.startAltitude;
        EXPECT_NEAR(drone->altitude, p.altitudeAfter, 0.2) << p.sub << " " << p.startAltitude;
    }
}

}  // namespace
