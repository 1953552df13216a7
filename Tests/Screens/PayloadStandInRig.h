// The payload screens against the payload stand-ins of the drone link tests: real frames of the
// screens harness in which the application's own drone connection is stepped on the harness clock
// before the screen runner, talking over the loopback to the node-mavlink "payloads" peer (a PX4
// vehicle with an Orvik payload and a strobe light, and two VOSK units). The peer reports every
// payload frame it receives, so a test asserts what the payload would act on.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Drone/DroneConnection.h"
#include "Drone/PayloadPeer.h"
#include "Network/Address.h"
#include "ScreenTestSupport.h"
#include "SourceCommon/UserInterface/UiMetrics.h"

namespace payloadrig {

using payloadpeer::Received;

struct Rig {
    ScreensHarness harness{};
    DroneLinkInputs inputs{};
    payloadpeer::PayloadPeer peer;
    // Lines the stand-in is told again every half second of the harness clock while not empty.
    std::vector<std::string> repeated;
    u64 lastRepeat = 0;
    bool started = false;

    AppState* app() { return harness.app; }
    PayloadLink& link() { return harness.app->droneConnection.payload; }
    u64 now() const { return harness.render.now; }
    void collect() { peer.collect(now()); }
    void command(const std::string& line) { peer.command(line, now()); }
    void repeat(const std::vector<std::string>& lines) {
        repeated = lines;
        lastRepeat = 0;
    }
    void step(i32 count = 1);
    void run(u64 microseconds) { step((i32)(microseconds / 16667) + 1); }
    // The body of the newest frame of a type sent after a time, once the reports are in; empty when
    // none came.
    std::vector<u8> lastBody(u64 time, int type, const std::string& port = "vehicle") {
        peer.drain(now());
        std::vector<Received> found = peer.framesSince(time, type, port);
        return found.empty() ? std::vector<u8>{} : found.back().body;
    }
    // One byte of that body; -1 when no frame came or it is too short.
    int byteOf(u64 time, int type, const std::string& port, size_t index) {
        std::vector<u8> body = lastBody(time, type, port);
        return index < body.size() ? body[index] : -1;
    }
    // That byte once it reads `wanted` (kAnyNonZero: any value but 0), waiting a while of real time
    // for the stand-in's reports; else what it last read.
    static constexpr int kAnyNonZero = -2;
    int awaitByte(u64 time, int type, const std::string& port, size_t index, int wanted) {
        int value = -1;
        for (int i = 0; i < 1000; i++) {
            collect();
            std::vector<Received> found = peer.framesSince(time, type, port);
            value = !found.empty() && index < found.back().body.size() ? found.back().body[index] : -1;
            if (value == wanted || (wanted == kAnyNonZero && value > 0)) break;
            pauseBriefly();
        }
        return value;
    }
    // The first body after a time that the test accepts, waiting a while of real time for the
    // stand-in's reports; empty when none came.
    template <typename Accept>
    std::vector<u8> awaitBody(u64 time, int type, const std::string& port, Accept accept) {
        for (int i = 0; i < 1000; i++) {
            collect();
            for (const Received& r : peer.framesSince(time, type, port)) {
                if (accept(r.body)) return r.body;
            }
            pauseBriefly();
        }
        return {};
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
    if (current && current->started) current->peer.sync(current->now());
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

// Starts the harness, the drone socket on a free port and the stand-in on others,
// and steps until the stand-in's vehicle is heard.
inline void startRig(Rig* rig, i32 width = 1024, i32 height = 600) {
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
    payloadpeer::fenceAroundStandIn(&app->orvikGeofence);
    const u8 loopback[4] = {127, 0, 0, 1};
    for (int attempt = 0; attempt < 8 && !rig->started; attempt++) {
        u16 gcsPort = (u16)freeUdpPort();
        u16 vehiclePort = (u16)freeUdpPort();
        if (!gcsPort || !vehiclePort || gcsPort == vehiclePort) continue;
        preferences->droneLocalPort = gcsPort;
        preferences->droneAddress = makeAddressRecord(4, loopback, vehiclePort);
        closeSocket(&app->droneSocket);
        rig->started = true;
        frames(&rig->harness);
        rig->started = false;
        if (app->droneSocket.localPort != gcsPort) continue;
        rig->started = payloadpeer::startPayloadPeer(&rig->peer, vehiclePort, gcsPort);
    }
    ASSERT_TRUE(rig->started);
    rig->repeat({"vehicle 1 3 0 47.397742 8.545594 0 0 0"});
    for (int i = 0; i < 500 && app->droneConnection.vehicle.autopilotKind != (u32)AutopilotPx4; i++) rig->step();
    ASSERT_EQ(app->droneConnection.vehicle.autopilotKind, (u32)AutopilotPx4);
}

inline void stopRig(Rig* rig) {
    if (rig->peer.process.pid > 0) stopNodePeer(&rig->peer.process);
    rig->started = false;
    current = nullptr;
    if (!rig->harness.app) return;
    closeSocket(&rig->app()->droneSocket);
    stopScreensHarness(&rig->harness);
}

}  // namespace payloadrig
