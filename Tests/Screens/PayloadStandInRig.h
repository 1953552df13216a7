// The payload screens against the payload stand-ins of the drone link tests: real frames of the
// screens harness in which the application's own drone connection is stepped on the harness clock
// before the screen runner, talking over the loopback to the node-mavlink "payloads" peer (a PX4
// vehicle with an Orvik payload and a strobe light, and two VOSK units). The peer reports every
// payload frame it receives, so a test asserts what the payload would act on.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "Drone/DroneConnection.h"
#include "Drone/NodePeer.h"
#include "Mission/PlanPolygons.h"
#include "Network/Address.h"
#include "ScreenTestSupport.h"
#include "SourceCommon/UserInterface/UiMetrics.h"

namespace payloadrig {

// One payload frame the stand-in received, stamped with the harness clock when it was read.
struct Received {
    std::string port;  // vehicle, voskA or voskB
    int type = 0;
    std::vector<u8> body;
    u64 time = 0;
};

struct Rig {
    ScreensHarness harness{};
    DroneLinkInputs inputs{};
    NodeProcess peer;
    size_t linesRead = 0;
    std::vector<Received> received;
    // Lines the stand-in is told again every half second of the harness clock while not empty.
    std::vector<std::string> repeated;
    u64 lastRepeat = 0;
    bool started = false;

    AppState* app() { return harness.app; }
    PayloadLink& link() { return harness.app->droneConnection.payload; }
    u64 now() const { return harness.render.now; }
    void collect();
    void command(const std::string& line);
    void repeat(const std::vector<std::string>& lines) {
        repeated = lines;
        lastRepeat = 0;
    }
    void step(i32 count = 1);
    void run(u64 microseconds) { step((i32)(microseconds / 16667) + 1); }
    std::vector<Received> framesSince(u64 time, int type, const std::string& port = "vehicle") const {
        std::vector<Received> found;
        for (const Received& r : received) {
            if (r.time > time && r.type == type && r.port == port) found.push_back(r);
        }
        return found;
    }
    // Reads the stand-in's reports without stepping a frame until it has been quiet for a while: a
    // loaded machine may deliver them late.
    void drain() {
        size_t seen = peer.lines.size();
        for (int quiet = 0, i = 0; quiet < 20 && i < 500; i++) {
            pauseBriefly();
            collect();
            quiet = peer.lines.size() == seen ? quiet + 1 : 0;
            seen = peer.lines.size();
        }
    }
    // The body of the newest frame of a type sent after a time, once the reports are in; empty when
    // none came.
    std::vector<u8> lastBody(u64 time, int type, const std::string& port = "vehicle") {
        drain();
        std::vector<Received> found = framesSince(time, type, port);
        return found.empty() ? std::vector<u8>{} : found.back().body;
    }
    // One byte of that body; -1 when no frame came or it is too short.
    int byteOf(u64 time, int type, const std::string& port, size_t index) {
        std::vector<u8> body = lastBody(time, type, port);
        return index < body.size() ? body[index] : -1;
    }
    void push(ScreenFunction screen) {
        ScreenStack* stack = &harness.app->screenStack;
        stack->screens[stack->depth++] = screen;
        clearScreenScratch(stack);
        frames(&harness, 2);
    }
};

inline Rig* current = nullptr;
inline u64 rigClock() { return current ? current->harness.render.now : 0; }

// The application update's drone step and last two steps, on the harness clock.
inline void rigUpdate(Platform* platform, UiState* ui, AppState* app) {
    app->uiMetrics = computeUiMetrics(ui->screenRect);
    if (current && current->started) {
        current->inputs.now = current->harness.render.now;
        current->inputs.utcMilliseconds = 13400000000000 + (i64)(current->inputs.now / 1000);
        controlDrone(&app->droneConnection, &current->inputs);
    }
    updateScreen(&app->screenStack, platform, ui, app);
    if (current && current->started) {
        pauseBriefly();
        current->collect();
    }
}

inline void Rig::collect() {
    pollNodePeer(&peer);
    for (; linesRead < peer.lines.size(); linesRead++) {
        std::vector<std::string> words = splitWords(peer.lines[linesRead]);
        if (words.size() == 7 && words[0] == "rx") {
            received.push_back(Received{words[1], std::stoi(words[2]), bytesFromHex(words[4]), now()});
        }
    }
}

inline void Rig::command(const std::string& line) {
    size_t before = 0;
    for (const std::string& l : peer.lines) before += l == "done";
    std::string text = line + "\n";
    ASSERT_EQ(write(peer.input, text.data(), text.size()), (ssize_t)text.size());
    for (int i = 0; i < 2000; i++) {
        collect();
        size_t done = 0;
        for (const std::string& l : peer.lines) done += l == "done";
        if (done > before) break;
        pauseBriefly();
    }
}

inline void Rig::step(i32 count) {
    for (i32 i = 0; i < count; i++) {
        if (!repeated.empty() && now() - lastRepeat >= 500000) {
            lastRepeat = now();
            for (const std::string& line : repeated) command(line);
        }
        frames(&harness);
    }
}

inline bool waitForReady(NodeProcess* process) {
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

// A square geofence of about 2 km around the stand-in's position (47.397742, 8.545594).
inline void fenceAroundStandIn(OrvikGeofence* geofence) {
    auto mercator = [](f64 latitude, f64 longitude) {
        constexpr f64 kPi = 3.14159265358979323846;
        return Vec2{longitude / 360.0, std::log(std::tan(latitude * kPi / 360.0 + kPi / 4.0)) / (2.0 * kPi)};
    };
    f64 d = 0.01;
    geofence->pointCount = 4;
    geofence->points[0] = mercator(47.397742 - d, 8.545594 - d);
    geofence->points[1] = mercator(47.397742 - d, 8.545594 + d);
    geofence->points[2] = mercator(47.397742 + d, 8.545594 + d);
    geofence->points[3] = mercator(47.397742 + d, 8.545594 - d);
}

// Starts the harness, the drone socket on a free group of ports from firstPort and the stand-in,
// and steps until the stand-in's vehicle is heard.
inline void startRig(Rig* rig, u16 firstPort, i32 width = 1024, i32 height = 600) {
    ASSERT_EQ(prepareNodePeer(), "");
    ASSERT_TRUE(startScreensHarness(&rig->harness, width, height));
    current = rig;
    setHarnessUpdate(&rig->harness.render, rigUpdate);
    AppState* app = rig->app();
    Preferences* preferences = &app->preferences;
    preferences->appSystemId = 255;
    preferences->appComponentId = 190;
    preferences->droneTransportProtocol = TransportUdp;
    preferences->lowAltitudeWarning = -1000;
    preferences->orvikDropSpacing = 20;
    preferences->orvikMaxDropPeriod = 10;
    preferences->orvikGroundDropTiming = 2.5;
    app->droneSocket.clock = rigClock;
    rig->inputs.droneSocket = &app->droneSocket;
    rig->inputs.preferences = preferences;
    rig->inputs.missionPlan = &app->waypointMissionEditor;
    rig->inputs.geofence = &app->orvikGeofence;
    rig->inputs.orvikDrops = &app->orvikDropLocations;
    rig->inputs.voskDrops = &app->dodireruDropLocations;
    fenceAroundStandIn(&app->orvikGeofence);
    const u8 loopback[4] = {127, 0, 0, 1};
    for (int attempt = 0; attempt < 8 && !rig->started; attempt++) {
        u16 gcsPort = (u16)(firstPort + 20 * attempt);
        u16 vehiclePort = (u16)(gcsPort + 5);
        preferences->droneLocalPort = gcsPort;
        preferences->droneAddress = makeAddressRecord(4, loopback, vehiclePort);
        closeSocket(&app->droneSocket);
        rig->started = true;
        frames(&rig->harness);
        rig->started = false;
        if (app->droneSocket.localPort != gcsPort) continue;
        rig->peer = NodeProcess{};
        ASSERT_TRUE(startNodePeer(&rig->peer, {"payloads", std::to_string(vehiclePort), std::to_string(vehiclePort + 1),
                                               std::to_string(vehiclePort + 2), std::to_string(gcsPort), "120"}));
        rig->started = waitForReady(&rig->peer);
        if (!rig->started) stopNodePeer(&rig->peer);
    }
    ASSERT_TRUE(rig->started);
    rig->repeat({"vehicle 1 3 0 47.397742 8.545594 0 0 0"});
    for (int i = 0; i < 500 && app->droneConnection.vehicle.autopilotKind != (u32)AutopilotPx4; i++) rig->step();
    ASSERT_EQ(app->droneConnection.vehicle.autopilotKind, (u32)AutopilotPx4);
}

inline void stopRig(Rig* rig) {
    if (rig->peer.pid > 0) stopNodePeer(&rig->peer);
    rig->started = false;
    current = nullptr;
    if (!rig->harness.app) return;
    closeSocket(&rig->app()->droneSocket);
    stopScreensHarness(&rig->harness);
}

}  // namespace payloadrig
