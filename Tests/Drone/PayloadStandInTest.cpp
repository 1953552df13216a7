// The payload link against payload stand-ins scripted with node-mavlink on the loopback: a PX4
// vehicle carrying an Orvik payload and a strobe light, and two VOSK units on two source ports.
// The stand-ins frame their payload frames with a codec of their own, written from the frame
// table, and decode what the drone link sends. The connection's clock is the test's.
#include "Core/Sound.h"
#include "Drone/DroneConnection.h"
#include "Drone/TarnwickPayloads/OrvikTexts.h"
#include "FlightLogs/FlightLogger.h"
#include "Mission/PlanPolygons.h"
#include "Mission/WaypointMissionEditor.h"
#include "PayloadPeer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr u64 kFrameStep = 20000;
const u8 kLoopback[4] = {127, 0, 0, 1};
using payloadpeer::kLatitude;
using payloadpeer::kLongitude;
using payloadpeer::mercator;
using payloadpeer::Received;

u64 simulatedNow = 0;
u64 simulatedClock() { return simulatedNow; }


struct Rig {
    std::unique_ptr<Socket> droneSocket = std::make_unique<Socket>();
    std::unique_ptr<DroneConnection> connection = std::make_unique<DroneConnection>();
    std::unique_ptr<Preferences> preferences = std::make_unique<Preferences>();
    std::unique_ptr<WaypointMissionEditor> plan = std::make_unique<WaypointMissionEditor>();
    std::unique_ptr<OrvikGeofence> geofence = std::make_unique<OrvikGeofence>();
    std::unique_ptr<OrvikDropLocations> orvikDrops = std::make_unique<OrvikDropLocations>();
    std::unique_ptr<DodireruDropLocations> voskDrops = std::make_unique<DodireruDropLocations>();
    std::unique_ptr<SoundQueue> sounds = std::make_unique<SoundQueue>();
    DroneLinkInputs inputs{};
    payloadpeer::PayloadPeer peer;
    std::string vehicleLine = "vehicle 1 3 0 47.397742 8.545594 0 0 0";
    std::string orvikLine;  // sent again every second while not empty
    u64 lastRefresh = 0;

    PayloadLink& link() { return connection->payload; }
    OrvikPayloadState& orvik() { return connection->payload.orvik; }

    void command(const std::string& line) { peer.command(line, simulatedNow); }
    void step() {
        if (simulatedNow - lastRefresh >= 1000000) {
            lastRefresh = simulatedNow;
            command(vehicleLine);
            if (!orvikLine.empty()) command(orvikLine);
        }
        simulatedNow += kFrameStep;
        inputs.now = simulatedNow;
        inputs.utcMilliseconds = 13400000000000 + (i64)(simulatedNow / 1000);
        controlDrone(connection.get(), &inputs);
        peer.sync(simulatedNow);
    }
    void drain() { peer.drain(simulatedNow); }
    void run(u64 microseconds) {
        for (u64 t = 0; t < microseconds; t += kFrameStep) step();
    }
    // Sends a line now and steps until the connection has read it.
    void say(const std::string& line) {
        command(line);
        step();
        step();
    }
    // The frames once the stand-in's reports of them are in.
    std::vector<Received> framesSince(u64 time, int type, const std::string& port = "") {
        drain();
        return peer.framesSince(time, type, port);
    }
    // The newest frame once the stand-in's reports are in.
    Received lastFrame(int type, const std::string& port = "vehicle") {
        drain();
        return peer.lastFrame(type, port);
    }
    void fly(int landed, int main, int sub, f64 relativeAltitude, f64 north, f64 east, f64 latitude = kLatitude,
             f64 longitude = kLongitude) {
        char place[64];
        std::snprintf(place, sizeof place, " %.7f %.7f ", latitude, longitude);
        vehicleLine = "vehicle " + std::to_string(landed) + " " + std::to_string(main) + " " + std::to_string(sub) +
                      place + std::to_string(relativeAltitude) + " " + std::to_string(north) + " " +
                      std::to_string(east);
        lastRefresh = 0;
        step();
        step();
    }
    ~Rig() {
        stopNodePeer(&peer.process);
        closeSocket(droneSocket.get());
    }
};

void startRig(Rig* rig) {
    ASSERT_EQ(prepareNodePeer(), "");
    Preferences* preferences = rig->preferences.get();
    preferences->appSystemId = 255;
    preferences->appComponentId = 190;
    preferences->droneTransportProtocol = TransportUdp;
    preferences->lowAltitudeWarning = -1000;
    preferences->orvikDropSpacing = 20;
    preferences->orvikMaxDropPeriod = 10;
    preferences->orvikGroundDropTiming = 2.5;
    preferences->mappingKitPhotoInterval = 2.5;
    simulatedNow = 700000000;
    rig->droneSocket->clock = simulatedClock;
    rig->inputs.droneSocket = rig->droneSocket.get();
    rig->inputs.preferences = preferences;
    rig->inputs.soundQueue = rig->sounds.get();
    rig->inputs.missionPlan = rig->plan.get();
    rig->inputs.geofence = rig->geofence.get();
    rig->inputs.orvikDrops = rig->orvikDrops.get();
    rig->inputs.voskDrops = rig->voskDrops.get();
    payloadpeer::fenceAroundStandIn(rig->geofence.get());
    bool started = false;
    for (int attempt = 0; attempt < 8 && !started; attempt++) {
        u16 gcsPort = (u16)freeUdpPort();
        u16 vehiclePort = (u16)freeUdpPort();
        if (!gcsPort || !vehiclePort || gcsPort == vehiclePort) continue;
        preferences->droneLocalPort = gcsPort;
        preferences->droneAddress = makeAddressRecord(4, kLoopback, vehiclePort);
        closeSocket(rig->droneSocket.get());
        rig->step();
        if (rig->droneSocket->localPort != gcsPort) continue;
        started = payloadpeer::startPayloadPeer(&rig->peer, vehiclePort, gcsPort);
    }
    ASSERT_TRUE(started);
    // The stand-in's heartbeat leaves its process asynchronously: on a loaded machine it can come
    // after a few frames, so step (the vehicle line goes again each simulated second) until it is read.
    rig->lastRefresh = 0;
    rig->run(200000);
    for (int i = 0; i < 500 && rig->connection->vehicle.autopilotKind != (u32)AutopilotPx4; i++) rig->step();
    ASSERT_EQ(rig->connection->vehicle.autopilotKind, (u32)AutopilotPx4);
}

}  // namespace

TEST(PayloadStandIn, OrvikControlFramesCarryCountersPeriodAndFlagsAndDropsAreRecordedOrRefused) {
    Rig rig;
    startRig(&rig);
    EXPECT_TRUE(rig.framesSince(0, 1).empty()) << "no control frames before the payload reported";
    rig.orvikLine = "orvik 0 10 0 0 20 0000000000000000";
    rig.say(rig.orvikLine);
    ASSERT_EQ(rig.link().kind, (u32)PayloadKindOrvik);
    u64 from = simulatedNow;
    rig.run(1000000);
    std::vector<Received> frames = rig.framesSince(from, 1, "vehicle");
    ASSERT_GE(frames.size(), 9u);
    ASSERT_LE(frames.size(), 11u);
    Received ground = frames.back();
    ASSERT_EQ(ground.body.size(), 16u);
    EXPECT_EQ(ground.body[0], 1 | 4) << "drops allowed on the ground, no version yet";
    EXPECT_EQ(ground.body[1], 25) << "ground drop timing 2.5 s";
    EXPECT_EQ(ground.body[2], 255);
    EXPECT_EQ(ground.mavlinkVersion, 1);

    rig.say("version");
    EXPECT_EQ(std::string(rig.orvik().mainFirmwareVersion.text, rig.orvik().mainFirmwareVersion.length), "2.1");
    // The operator starts two drops: counter 9 and its count go out within 100 ms, and return to 0 after 5 s.
    rig.orvik().requestCounters[OrvikRequestStart]++;
    rig.orvik().requestTimes[OrvikRequestStart + 1] = simulatedNow;
    rig.orvik().wantedDropCount = 2;
    u64 asked = simulatedNow;
    rig.run(120000);
    Received started = rig.lastFrame(1);
    EXPECT_EQ(started.body[0], 1) << "version known: bit 2 clear";
    EXPECT_EQ(started.body[4], 2);
    EXPECT_EQ(started.body[5 + OrvikRequestStart], 1);
    rig.run(5000000);
    EXPECT_GT(simulatedNow - asked, 5000000u);
    EXPECT_EQ(rig.lastFrame(1).body[5 + OrvikRequestStart], 0);

    // In the air at 5 m/s inside the geofence: the period is spacing / speed, and a rise of two
    // on the counter is one drop point where the vehicle is.
    rig.fly(2, 3, 0, 30, 3, 4);
    rig.run(300000);
    EXPECT_EQ(rig.lastFrame(1).body[0], 1);
    EXPECT_EQ(rig.lastFrame(1).body[1], 40);
    rig.orvikLine = "orvik 0 12 0 1 20 0000000000000000";
    rig.say(rig.orvikLine);
    ASSERT_EQ(rig.orvikDrops->count, 1u);
    Vec2 expected = mercator(kLatitude, kLongitude);
    EXPECT_NEAR(rig.orvikDrops->positions[0].x / 2147483648.0, expected.x, 1e-8);
    EXPECT_NEAR(rig.orvikDrops->positions[0].y / 2147483648.0, expected.y, 1e-8);
    EXPECT_NEAR((f64)rig.orvikDrops->times[0], (f64)rig.inputs.utcMilliseconds, 100);

    // Out of the geofence: refused with the reason, which the payload's "disarmed by app" shows.
    rig.geofence->pointCount = 0;
    rig.orvikLine = "orvik 0 12 0 0 20 0000000000000008";
    rig.say(rig.orvikLine);
    rig.run(200000);
    EXPECT_EQ(rig.lastFrame(1).body[0], 0);
    EXPECT_EQ(rig.orvik().disallowReason, (u32)DropOutsideGeofence);
    FixedString text = orvikStatusText(&rig.orvik(), simulatedNow);
    EXPECT_EQ(std::string(text.text, text.length), "FLYING OUTSIDE GEOFENCE");
    // Taking off or landing inside it: refused for the flight phase.
    payloadpeer::fenceAroundStandIn(rig.geofence.get());
    rig.fly(3, 3, 0, 2, 0, 0);
    rig.run(200000);
    EXPECT_EQ(rig.lastFrame(1).body[0], 0);
    EXPECT_EQ(rig.orvik().disallowReason, (u32)DropDisallowedFlightPhase);
    // The status goes silent: the permission is withdrawn and the alert sounds once.
    rig.orvikLine.clear();
    u32 soundsBefore = pendingSoundCount(rig.sounds.get());
    rig.run(3500000);
    EXPECT_EQ(rig.lastFrame(1).body[0], 0);
    EXPECT_EQ(pendingSoundCount(rig.sounds.get()), soundsBefore + 1);
}

TEST(PayloadStandIn, AutomaticStartStopFollowsTheMissionAndEmergencyReleaseFollowsItsTimeline) {
    Rig rig;
    startRig(&rig);
    rig.orvikLine = "orvik 0 0 0 0 20 0000000000000000";
    rig.say(rig.orvikLine);
    rig.plan->waypointCount = 1;
    rig.plan->waypoints[0] = Waypoint{};
    rig.plan->waypoints[0].id = 1;
    Vec2 point = mercator(kLatitude, kLongitude + 0.001);
    rig.plan->waypoints[0].x = point.x;
    rig.plan->waypoints[0].y = point.y;
    rig.plan->waypoints[0].altitude = 30;
    rig.plan->waypoints[0].uploadMark = 1;
    rig.plan->waypoints[0].ignitePreviousSegment = 1;
    rig.fly(2, 4, 4, 30, 0, 5);  // AUTO MISSION
    rig.run(200000);
    Received start = rig.lastFrame(1);
    EXPECT_EQ(start.body[5 + OrvikRequestStart], 1);
    EXPECT_EQ(start.body[4], 254) << "continuous";
    rig.fly(2, 4, 3, 30, 0, 0);  // AUTO LOITER: the mission is left
    rig.run(200000);
    EXPECT_EQ(rig.lastFrame(1).body[5 + OrvikRequestStop], 1);

    // A puncture motion error arms the release; 5 s later counter 1 changes, which the payload acts on.
    rig.orvikLine = "orvik 163 0 0 0 20 0000000000000000";
    rig.say(rig.orvikLine);
    u64 armed = simulatedNow;
    rig.run(4500000);
    EXPECT_EQ(rig.lastFrame(1).body[5 + OrvikRequestEmergencyRelease], 0);
    rig.run(1000000);
    std::vector<Received> firing = rig.framesSince(armed + 5100000, 1, "vehicle");
    ASSERT_GE(firing.size(), 3u);
    for (const Received& r : firing) EXPECT_EQ(r.body[5 + OrvikRequestEmergencyRelease], 1);
    // The payload reports the release: the timeline ends. An operator's cancel holds until the state leaves 163.
    rig.orvikLine = "orvik 163 0 0 0 20 0000000000080000";
    rig.say(rig.orvikLine);
    EXPECT_EQ(rig.orvik().autoReleaseDeadline, 0);
    rig.orvikLine = "orvik 163 0 0 0 20 0000000000000000";
    rig.say(rig.orvikLine);
    rig.orvik().autoReleaseDeadline = -1;
    rig.run(6000000);
    EXPECT_EQ(rig.orvik().autoReleaseDeadline, -1);
    EXPECT_EQ(rig.lastFrame(1).body[5 + OrvikRequestEmergencyRelease], 0);
}

TEST(PayloadStandIn, VoskControlGoesOnlyToReportedUnitsAndADropNeedsBothUnits) {
    Rig rig;
    startRig(&rig);
    rig.say("vosk 0 16 0 0 0 0");
    ASSERT_EQ(rig.link().kind, (u32)PayloadKindVosk);
    u64 from = simulatedNow;
    rig.run(500000);
    EXPECT_GE(rig.framesSince(from, 8, "voskA").size(), 4u);
    EXPECT_TRUE(rig.framesSince(0, 8, "voskB").empty()) << "no frames to a unit that never reported";
    rig.say("vosk 1 16 0 0 0 0");
    from = simulatedNow;
    rig.run(500000);
    std::vector<Received> a = rig.framesSince(from, 8, "voskA");
    std::vector<Received> b = rig.framesSince(from, 8, "voskB");
    ASSERT_GE(a.size(), 4u);
    ASSERT_GE(b.size(), 4u);
    EXPECT_EQ(a.back().body, b.back().body);
    EXPECT_EQ(a.back().mavlinkSequence, b.back().mavlinkSequence);
    ASSERT_EQ(a.back().body.size(), 45u);
    EXPECT_EQ(a.back().body[0], 1) << "both fresh, on the ground: allowed";
    EXPECT_EQ(a.back().body[8], 16) << "the primary's flags echoed";

    rig.fly(2, 3, 0, 30, 0, 0);
    u32 soundsBefore = pendingSoundCount(rig.sounds.get());
    rig.say("vosk 0 18 0 1 0 0");  // primary opens A alone: a sound, no point
    EXPECT_EQ(rig.voskDrops->count, 0);
    EXPECT_EQ(pendingSoundCount(rig.sounds.get()), soundsBefore + 1);
    rig.say("vosk 1 18 0 1 0 0");  // the secondary follows: the point is recorded, armed (safety closed)
    ASSERT_EQ(rig.voskDrops->count, 1);
    EXPECT_EQ(isVoskDropArmed(rig.voskDrops.get(), 0), 1u);
    rig.geofence->pointCount = 0;
    rig.say("vosk 0 18 0 1 0 0");
    rig.say("vosk 1 18 0 1 0 0");
    rig.run(200000);
    EXPECT_EQ(rig.lastFrame(8, "voskA").body[0], 2) << "outside the geofence: refused, in the air";
    EXPECT_EQ(rig.link().vosk.disarmReason, (u32)VoskOutsideGeofence);
}

// The drop permission against real fences: inside allowed, 1.5 km out refused, take-off and landing
// inside refused, and a fence across the 180th meridian (its corners stored on both sides of it, as a
// mission file loads them) holds the vehicle on either side of the meridian and nothing farther out.
TEST(PayloadStandIn, DropsFollowARealGeofenceAlsoAcrossTheAntimeridian) {
    Rig rig;
    startRig(&rig);
    rig.orvikLine = "orvik 0 12 0 0 20 0000000000000000";
    rig.say(rig.orvikLine);
    ASSERT_EQ(rig.link().kind, (u32)PayloadKindOrvik);
    struct Case {
        const char* what;
        int landed;
        f64 latitude, longitude;
        bool acrossMeridian;
        u32 reason;  // 0: allowed
    };
    const f64 north1500 = 1500.0 / 111180.0;
    const f64 east1500 = 1500.0 / (111412.84 * std::cos(kLatitude * M_PI / 180));
    const Case cases[] = {
        {"inside, flying", 2, kLatitude, kLongitude, false, 0},
        {"1.5 km north", 2, kLatitude + north1500, kLongitude, false, DropOutsideGeofence},
        {"1.5 km west", 2, kLatitude, kLongitude - east1500, false, DropOutsideGeofence},
        {"inside, taking off", 3, kLatitude, kLongitude, false, DropDisallowedFlightPhase},
        {"inside, landing", 4, kLatitude, kLongitude, false, DropDisallowedFlightPhase},
        {"east of the meridian, inside", 2, -16.5, 179.995, true, 0},
        {"west of the meridian, inside", 2, -16.5, -179.995, true, 0},
        {"east of the meridian, outside", 2, -16.5, 179.9, true, DropOutsideGeofence},
        {"west of the meridian, outside", 2, -16.5, -179.9, true, DropOutsideGeofence},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.acrossMeridian) {
            rig.geofence->pointCount = 4;
            rig.geofence->points[0] = mercator(-16.51, 179.99);
            rig.geofence->points[1] = mercator(-16.51, -179.99);
            rig.geofence->points[2] = mercator(-16.49, -179.99);
            rig.geofence->points[3] = mercator(-16.49, 179.99);
        } else {
            payloadpeer::fenceAroundStandIn(rig.geofence.get());
        }
        rig.fly(c.landed, 3, 0, 30, 0, 0, c.latitude, c.longitude);
        rig.run(300000);
        ASSERT_NEAR(rig.connection->vehicle.globalPosition.longitude, c.longitude, 1e-6);
        EXPECT_EQ(rig.lastFrame(1).body[0] & 1, c.reason == 0 ? 1 : 0);
        if (c.reason != 0) {
            EXPECT_EQ(rig.orvik().disallowReason, c.reason);
        }
    }
}

TEST(PayloadStandIn, StrobeRunsWhileTheLightReportsAndAutoModesFollowHeightAboveHome) {
    Rig rig;
    startRig(&rig);
    rig.link().light.requestPending = 1;
    rig.link().light.requestedBrightness = StrobeHigh;
    rig.link().light.requestedPattern = StrobeOn;
    rig.link().light.requestedMode = StrobeManual;
    rig.run(300000);
    EXPECT_TRUE(rig.framesSince(0, 9).empty()) << "a light that never reported gets nothing";
    EXPECT_EQ(rig.link().light.changeCounter, 1);
    rig.say("light 2 0 0");
    EXPECT_EQ(rig.link().light.brightness, (u32)StrobeLow) << "manual: the app adopts the light's state";
    rig.link().light.requestPending = 1;
    rig.link().light.requestedMode = StrobeAutoDay;
    rig.fly(2, 3, 0, 16, 0, 0);
    rig.run(300000);
    Received away = rig.lastFrame(9);
    ASSERT_EQ(away.body.size(), 4u);
    EXPECT_EQ(away.body[0], StrobeHigh);
    EXPECT_EQ(away.body[1], StrobeRotate);
    EXPECT_EQ(away.body[2], StrobeAutoDay);
    rig.fly(2, 3, 0, 10, 0, 0);
    rig.run(300000);
    EXPECT_EQ(rig.lastFrame(9).body[1], StrobeOn) << "10 m above home, at home: near";
    // The photo interval goes out once per request, in MAVLink 2.
    rig.link().photoIntervalStart = 1;
    rig.run(100000);
    Received interval = rig.lastFrame(11);
    ASSERT_EQ(interval.body.size(), 3u);
    EXPECT_EQ(interval.body[0], 1);
    EXPECT_EQ(interval.body[1] << 8 | interval.body[2], 2500);
    EXPECT_EQ(interval.mavlinkVersion, 2);
    rig.run(1200000);
    EXPECT_TRUE(rig.framesSince(0, 9).size() >= 10);
    u64 reported = rig.link().light.reportTime;
    rig.run(10500000);
    EXPECT_FALSE(rig.framesSince(reported + 9000000, 9).empty());
    // Count what has arrived once the reports are in, then nothing more may come.
    rig.drain();
    size_t sent = rig.framesSince(0, 9).size();
    rig.run(2000000);
    rig.drain();
    EXPECT_EQ(rig.framesSince(0, 9).size(), sent) << "10 s after the last report it stops";
}
