// The rig of the stand-in tests: a drone connection on the test's clock, stepped frame by frame
// against a node-mavlink stand-in (the PX4 or the ArduCopter one) on the loopback, optionally
// through a relay that loses a seeded share of the datagrams.
#pragma once
#include "Core/Sound.h"
#include "Drone/DroneConnection.h"
#include "Drone/FlightController/AutopilotControl.h"
#include "FlightLogs/FlightLogger.h"
#include "Mission/WaypointMissionEditor.h"
#include "Mavlink/NodePeer.h"

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

namespace standin {

constexpr u64 kFrameStep = 20000;  // simulated microseconds per frame
inline const u8 kLoopback[4] = {127, 0, 0, 1};
constexpr f64 kPi = 3.14159265358979323846;

inline u64 simulatedNow = 0;
inline u64 simulatedClock() { return simulatedNow; }

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
    NodeProcess peer;  // the stand-in
    int standInPort = 0;  // where it listens
    std::unique_ptr<LossyRelay> relay;
    std::vector<i32> viewed;  // parameter slots a screen shows

    Px4State& state() { return connection->px4; }
    ArduCopterState& arduCopter() { return connection->arduCopter; }
    VehicleState& vehicle() { return connection->vehicle; }

    void step() {
        simulatedNow += kFrameStep;
        inputs.now = simulatedNow;
        inputs.utcMilliseconds = 13190774400000 + (i64)(simulatedNow / 1000);
        for (i32 index : viewed) state().parameters[index].viewedTime = simulatedNow;
        controlDrone(connection.get(), &inputs);
        if (relay) relay->pump();
        sync();
        if (relay) relay->pump();
    }
    // Waits until the stand-in has handled all this frame sent and its answers are on their way, so
    // that the next frame reads them however slowly it runs (the sync goes around the relay).
    void sync() {
        if (peer.output >= 0 && standInPort) {
            EXPECT_TRUE(syncNodePeer(&peer, {standInPort})) << "the stand-in did not answer";
        }
        pollNodePeer(&peer);
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
        for (const std::string& line : peer.lines) {
            if (line.rfind(prefix, 0) == 0) found.push_back(line);
        }
        return found;
    }
    std::string status() const {
        const FixedString& text = connection->vehicle.missionStatusText;
        return std::string(text.text, (size_t)text.length);
    }
    ~Rig() {
        stopNodePeer(&peer);
        closeSocket(droneSocket.get());
        closeSocket(cameraSocket.get());
    }
};

inline bool waitForReady(NodeProcess* process) { return waitForNodeLines(process, "ready"); }

// Opens the drone socket on a free port and starts the stand-in of the given mode on another (behind
// a relay when seeded), then steps until `ready` holds.
template <typename Ready>
void startStandIn(Rig* rig, const char* mode, const std::vector<std::string>& options, Ready ready, u32 relaySeed = 0) {
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
        u16 gcsPort = (u16)freeUdpPort();
        u16 vehiclePort = (u16)freeUdpPort();
        if (!gcsPort || !vehiclePort || gcsPort == vehiclePort) continue;
        u16 droneTarget = vehiclePort;
        u16 standInGcsPort = gcsPort;
        if (relaySeed) {
            rig->relay = std::make_unique<LossyRelay>();
            if (!rig->relay->open((u16)freeUdpPort(), (u16)freeUdpPort(), vehiclePort, relaySeed)) continue;
            droneTarget = rig->relay->portA;
            standInGcsPort = rig->relay->portB;
        }
        preferences->droneLocalPort = gcsPort;
        preferences->droneAddress = makeAddressRecord(4, kLoopback, droneTarget);
        closeSocket(rig->droneSocket.get());
        rig->step();
        if (rig->droneSocket->localPort != gcsPort) continue;
        rig->peer = NodeProcess{};
        std::vector<std::string> arguments = {mode, std::to_string(vehiclePort), std::to_string(standInGcsPort), "120"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        ASSERT_TRUE(startNodePeer(&rig->peer, arguments));
        started = waitForReady(&rig->peer);
        rig->standInPort = started ? vehiclePort : 0;
        if (!started) stopNodePeer(&rig->peer);
    }
    ASSERT_TRUE(started);
    ASSERT_TRUE(rig->runUntil(ready, 3000)) << "the stand-in did not reach its starting state";
}

inline Vec2 mercator(f64 latitude, f64 longitude) {
    return Vec2{longitude / 360.0, std::log(std::tan(latitude * kPi / 360.0 + kPi / 4.0)) / (2.0 * kPi)};
}

// A plan of waypoints walking east of the stand-in's position in steps of `spacing` metres.
inline void makePlan(WaypointMissionEditor* plan, i32 count, f64 spacing, f64 altitude) {
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

}  // namespace standin
