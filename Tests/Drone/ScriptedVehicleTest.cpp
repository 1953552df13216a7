// The drone connection against a vehicle scripted with node-mavlink on the loopback, over UDP with
// autodetect and a second vehicle that must not take the lock, and over TCP: lock-on, telemetry and
// the ground station's HEARTBEAT. The connection's clock is the test's; real time only lets the
// datagrams travel.
#include "Drone/DroneConnection.h"
#include "FlightLogs/FlightLogger.h"
#include "Mavlink/NodePeer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

// The usual MAVLink ports; when another program holds them, the next group of ten is tried.
constexpr u16 kFirstGcsPort = 14560;  // 14550 is the drone socket's while the simulator runs
constexpr u16 kVehiclePortOffset = 5;
constexpr u16 kIntruderPortOffset = 6;
constexpr u64 kFrameStep = 100000;  // simulated microseconds per frame

u64 simulatedNow = 0;
u64 simulatedClock() { return simulatedNow; }

// Steps the connection, a simulated 0.1 s per frame, until the vehicle has heard six HEARTBEATs,
// and checks that it heard them in order, one per simulated second.
void runUntilSixHeartbeats(NodeProcess* vehicle, DroneConnection* connection, DroneLinkInputs* inputs) {
    std::vector<u64> heartbeatTimes;
    u64 lastHeartbeat = connection->gcsHeartbeatTime;
    int received = 0;
    for (int i = 0; i < 5000 && received < 6; i++) {
        simulatedNow += kFrameStep;
        inputs->now = simulatedNow;
        controlDrone(connection, inputs);
        bool sentHeartbeat = connection->gcsHeartbeatTime != lastHeartbeat;
        if (sentHeartbeat) {
            lastHeartbeat = connection->gcsHeartbeatTime;
            heartbeatTimes.push_back(simulatedNow);
        }
        // The vehicle answers each HEARTBEAT: on a loaded machine its answer can take longer than
        // many simulated frames, so wait (bounded, in real time) until it has reported this one. The
        // connection steps meanwhile at the same time, so the HEARTBEAT it queued goes out and the
        // vehicle's telemetry comes in.
        int before = received;
        bool alive = true;
        for (int wait = 0; wait < (sentHeartbeat ? 30000 : 1); wait++) {
            if (wait > 0) controlDrone(connection, inputs);
            alive = pollNodePeer(vehicle);
            if (!alive) {
                break;
            }
            received = 0;
            for (const std::string& line : vehicle->lines) {
                received += line.rfind("rx ", 0) == 0;
            }
            pauseBriefly();
            if (received > before) {
                break;
            }
        }
        if (!alive) {
            break;
        }
    }
    // A few more frames take in what is still on its way.
    for (int i = 0; i < 20; i++) {
        pauseBriefly();
        inputs->now = simulatedNow;
        controlDrone(connection, inputs);
    }
    stopNodePeer(vehicle);

    std::vector<std::string> heartbeats;
    for (const std::string& line : vehicle->lines) {
        if (line.rfind("rx ", 0) == 0) {
            heartbeats.push_back(line);
        } else {
            EXPECT_EQ(line, "ready");
        }
    }
    // In order; the PX4 control's mission poll takes sequence numbers in between.
    ASSERT_EQ(heartbeats.size(), 6u);
    int previous = -1;
    for (size_t i = 0; i < heartbeats.size(); i++) {
        std::vector<std::string> words = splitWords(heartbeats[i]);
        ASSERT_EQ(words.size(), 6u);
        EXPECT_GT(std::stoi(words[1]), previous);
        previous = std::stoi(words[1]);
        EXPECT_EQ(words[2] + " " + words[3] + " " + words[4] + " " + words[5], "255 190 6 8");
    }
    ASSERT_GE(heartbeatTimes.size(), 6u);
    for (size_t i = 1; i < heartbeatTimes.size(); i++) {
        EXPECT_EQ(heartbeatTimes[i] - heartbeatTimes[i - 1], 11 * kFrameStep);
    }
}

// The vehicle state holds what the scripted vehicle sent.
void expectScriptedTelemetry(const VehicleState& v) {
    EXPECT_EQ(v.vehicleId, 0x0101);
    EXPECT_EQ(v.autopilotKind, (u32)AutopilotPx4);
    EXPECT_EQ(v.frameKind, 2u);
    // SYS_STATUS
    EXPECT_EQ(v.sensorsPresent, 0x3Full | 1ull << 32);
    EXPECT_EQ(v.sensorsEnabled, 0x2Full | 1ull << 32);
    EXPECT_EQ(v.sensorsHealthy, 0x1Full);
    EXPECT_DOUBLE_EQ(v.batteryVoltage, 15.8);
    EXPECT_DOUBLE_EQ(v.batteryCurrent, 12.34);
    EXPECT_EQ(v.batteryRemaining, 76);
    EXPECT_NE(v.sysStatusTime, 0u);
    // GPS_RAW_INT
    EXPECT_EQ(v.gpsFixType, 3);
    EXPECT_EQ(v.satellites, 14);
    EXPECT_EQ(v.horizontalAccuracyMm, 1500u);
    EXPECT_DOUBLE_EQ(v.gpsAltitudeMsl, 488.5);
    EXPECT_NE(v.gpsRawTime, 0u);
    // ATTITUDE
    EXPECT_EQ(v.roll, 0.125f);
    EXPECT_EQ(v.pitch, -0.25f);
    EXPECT_EQ(v.yaw, 1.5f);
    EXPECT_NE(v.attitudeTime, 0u);
    // GLOBAL_POSITION_INT
    EXPECT_DOUBLE_EQ(v.globalPosition.latitude, 47.397742);
    EXPECT_DOUBLE_EQ(v.globalPosition.longitude, 8.545594);
    EXPECT_DOUBLE_EQ(v.globalPosition.altitudeMsl, 488.0);
    EXPECT_DOUBLE_EQ(v.globalPosition.relativeAltitude, 10.0);
    EXPECT_DOUBLE_EQ(v.velocityNorth, 1.0);
    EXPECT_DOUBLE_EQ(v.velocityEast, -0.5);
    EXPECT_DOUBLE_EQ(v.velocityDown, 0.25);
    EXPECT_FLOAT_EQ(v.heading, 90.0f);
    EXPECT_NE(v.globalPosition.time, 0u);
    // RC_CHANNELS
    EXPECT_EQ(v.rcChannels.count, 8);
    EXPECT_EQ(v.rcChannels.rssi, 200);
    for (int i = 0; i < kRcChannelCount; i++) {
        EXPECT_EQ(v.rcChannels.values[i], 1000 + 50 * i) << i;
    }
    EXPECT_NE(v.rcChannels.previousTime, 0u);
    // HOME_POSITION
    EXPECT_DOUBLE_EQ(v.home.latitude, 47.397);
    EXPECT_DOUBLE_EQ(v.home.longitude, 8.545);
    EXPECT_DOUBLE_EQ(v.home.altitude, 487.0);
    LongitudeLatitude reference = vehiclePosition(&v);
    EXPECT_DOUBLE_EQ(reference.latitude, 47.397);
    // STATUSTEXT
    const StatusTextEntry* text = newestStatusText(&v);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text->text, "Takeoff detected");
    EXPECT_EQ(text->severity, 6);
    EXPECT_GE(v.statusTextCount, 1u);

}

bool waitForReady(NodeProcess* process) { return waitForNodeLines(process, "ready"); }

// Autodetect against the scripted vehicle; with spoof, the second sender uses the vehicle's own ids
// from its own port (a spoofing HEARTBEAT and position), which must take neither the endpoint nor
// the vehicle's state while the vehicle is heard.
void runAutodetect(bool spoof) {
    ASSERT_EQ(prepareNodePeer(), "");
    std::unique_ptr<Socket> droneSocket = std::make_unique<Socket>();
    std::unique_ptr<Socket> cameraSocket = std::make_unique<Socket>();
    std::unique_ptr<DroneConnection> connection = std::make_unique<DroneConnection>();
    std::unique_ptr<Preferences> preferences = std::make_unique<Preferences>();
    preferences->appSystemId = 255;
    preferences->appComponentId = 190;
    // No drone address: autodetect.
    preferences->droneTransportProtocol = TransportUdp;
    preferences->lowAltitudeWarning = -1000;
    simulatedNow = 100000000;
    droneSocket->clock = simulatedClock;
    cameraSocket->clock = simulatedClock;
    FlightLogger logger{};
    logger.logFileName = makeString("Flight Logs/test.qvlog3");
    DroneLinkInputs inputs{};
    inputs.droneSocket = droneSocket.get();
    inputs.cameraSocket = cameraSocket.get();
    inputs.preferences = preferences.get();
    inputs.flightLogger = &logger;

    // The socket listens before the vehicle starts sending.
    u16 gcsPort = 0;
    for (int attempt = 0; attempt < 5; attempt++) {
        gcsPort = (u16)(kFirstGcsPort + 10 * attempt);
        preferences->droneLocalPort = gcsPort;
        inputs.now = simulatedNow;
        controlDrone(connection.get(), &inputs);
        if (droneSocket->localPort == gcsPort) {
            break;
        }
    }
    ASSERT_EQ(droneSocket->localPort, gcsPort) << std::string(droneSocket->status.text, droneSocket->status.length);
    const u16 vehiclePort = (u16)(gcsPort + kVehiclePortOffset);
    const u16 intruderPort = (u16)(gcsPort + kIntruderPortOffset);

    NodeProcess vehicle;
    std::vector<std::string> arguments = {"vehicle", std::to_string(vehiclePort), std::to_string(gcsPort),
                                          std::to_string(intruderPort), "300"};
    if (spoof) {
        arguments.push_back("spoof");
    }
    ASSERT_TRUE(startNodePeer(&vehicle, arguments));
    runUntilSixHeartbeats(&vehicle, connection.get(), &inputs);
    if (::testing::Test::HasFatalFailure()) {
        return;
    }
    EXPECT_GE(logger.entriesByType[FlightLogSentToDrone], 6u);
    EXPECT_GE(logger.entriesByType[FlightLogReceivedFromDrone], 8u);
    EXPECT_GE(logger.entriesByType[FlightLogAugmentedPosition], 1u);

    // Autodetect found the vehicle and kept it although the second vehicle was heard.
    AddressRecord expected = makeAddressRecord(4, (const u8*)"\x7f\x00\x00\x01", vehiclePort);
    EXPECT_TRUE(sameEndpoint(&connection->droneEndpoint, &expected));
    bool intruderHeard = false;
    for (i32 i = 0; i < kSocketPeers; i++) {
        if ((droneSocket->peerMask & (1ull << i)) && droneSocket->peers[i].peer.port == intruderPort) {
            intruderHeard = droneSocket->peers[i].packetsReceived > 0;
        }
    }
    EXPECT_TRUE(intruderHeard);
    const VehicleState& v = connection->vehicle;
    EXPECT_NE(connection->lastDroneMessageTime, 0u);

    expectScriptedTelemetry(v);

    closeSocket(droneSocket.get());
    closeSocket(cameraSocket.get());
}

TEST(ScriptedVehicle, AutodetectLockOnTelemetryAndHeartbeat) { runAutodetect(false); }

TEST(ScriptedVehicle, ASpoofedHeartbeatFromAnotherPortDoesNotMoveTheEndpoint) { runAutodetect(true); }

}  // namespace

namespace {

TEST(ScriptedVehicle, TcpStreamWithFramesSplitAnywhere) {
    ASSERT_EQ(prepareNodePeer(), "");
    // The vehicle listens first; another group of ports is tried when the usual one is taken.
    NodeProcess vehicle;
    u16 port = 0;
    for (int attempt = 0; attempt < 5; attempt++) {
        port = (u16)(15760 + 10 * attempt);
        vehicle = NodeProcess{};
        ASSERT_TRUE(startNodePeer(&vehicle, {"tcp-vehicle", std::to_string(port), "300"}));
        if (waitForReady(&vehicle)) {
            break;
        }
        stopNodePeer(&vehicle);
    }
    ASSERT_FALSE(vehicle.ended);

    std::unique_ptr<Socket> droneSocket = std::make_unique<Socket>();
    std::unique_ptr<Socket> cameraSocket = std::make_unique<Socket>();
    std::unique_ptr<DroneConnection> connection = std::make_unique<DroneConnection>();
    std::unique_ptr<Preferences> preferences = std::make_unique<Preferences>();
    preferences->appSystemId = 255;
    preferences->appComponentId = 190;
    preferences->droneAddress = makeAddressRecord(4, (const u8*)"\x7f\x00\x00\x01", port);
    preferences->droneTransportProtocol = TransportTcp;
    preferences->lowAltitudeWarning = -1000;
    simulatedNow = 200000000;
    droneSocket->clock = simulatedClock;
    cameraSocket->clock = simulatedClock;
    DroneLinkInputs inputs{};
    inputs.droneSocket = droneSocket.get();
    inputs.cameraSocket = cameraSocket.get();
    inputs.preferences = preferences.get();

    runUntilSixHeartbeats(&vehicle, connection.get(), &inputs);
    if (::testing::Test::HasFatalFailure()) {
        return;
    }
    EXPECT_EQ(droneSocket->mode, SocketModeTcpClient);
    expectScriptedTelemetry(connection->vehicle);
    closeSocket(droneSocket.get());
    closeSocket(cameraSocket.get());
}

}  // namespace
