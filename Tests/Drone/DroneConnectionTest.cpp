// The drone connection with datagrams handed straight to its socket (no network), an injected
// clock and the counting flight logger.
#include "Core/Sound.h"
#include "Drone/DroneConnection.h"
#include "FlightLogs/FlightLogger.h"
#include "Mavlink/NodePeer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<u8>;

const u8 kLoopback[16] = {127, 0, 0, 1};
const u8 kLoopback2[16] = {127, 0, 0, 2};

Bytes frameOf(u32 messageId, const Bytes& payload, u16 source, u8 sequence = 0) {
    u8 buffer[300];
    ByteWriter writer = makeByteWriter(buffer, sizeof(buffer));
    LengthFieldMark mark = beginMavlinkPacket(&writer, &sequence, source, messageId, 0);
    appendBytes(payload.data(), (i64)payload.size(), &writer);
    finishMavlinkPacket(&mark, &writer);
    return Bytes(buffer, buffer + writer.length);
}

Bytes heartbeat(u16 source, u8 type = 2, u8 autopilot = 12) { return frameOf(0, {0, 0, 0, 0, type, autopilot, 0x81, 4, 3}, source); }

Bytes globalPosition(u16 source, i32 relativeAltitudeMm) {
    u8 payload[28] = {};
    ByteWriter writer = makeByteWriter(payload, sizeof(payload));
    appendU32Le(1000, &writer);
    appendU32Le((u32)473977420, &writer);
    appendU32Le((u32)85455940, &writer);
    appendU32Le((u32)488000, &writer);
    appendU32Le((u32)relativeAltitudeMm, &writer);
    return frameOf(MavlinkGlobalPositionInt, Bytes(payload, payload + 28), source);
}

AddressRecord loopback(u16 port, const u8* address = kLoopback) { return makeAddressRecord(4, address, port); }

struct DroneLink : ::testing::Test {
    std::unique_ptr<Socket> droneSocket = std::make_unique<Socket>();
    std::unique_ptr<Socket> cameraSocket = std::make_unique<Socket>();
    std::unique_ptr<DroneConnection> connection = std::make_unique<DroneConnection>();
    std::unique_ptr<Preferences> preferences = std::make_unique<Preferences>();
    FlightLogger logger{};
    DroneLinkInputs inputs{};
    SocketResult datagram{};
    u64 now = 50000000;

    void SetUp() override {
        // The sockets only replay what the test hands them; nothing reaches the network.
        droneSocket->simulatorResult = kSimulatorResultConsumed;
        cameraSocket->simulatorResult = kSimulatorResultConsumed;
        preferences->appSystemId = 255;
        preferences->appComponentId = 190;
        preferences->waypointMissionCruiseSpeed = 8;
        preferences->lowAltitudeWarning = -1000;
        logger.logFileName = makeString("Flight Logs/test.qvlog3");
        inputs.droneSocket = droneSocket.get();
        inputs.cameraSocket = cameraSocket.get();
        inputs.preferences = preferences.get();
        inputs.flightLogger = &logger;
    }
    void frame() {
        inputs.now = now;
        controlDrone(connection.get(), &inputs);
    }
    void deliver(const Bytes& bytes, AddressRecord source) {
        datagram = SocketResult{};
        datagram.received = 1;
        datagram.data = const_cast<u8*>(bytes.data());
        datagram.length = (u32)bytes.size();
        datagram.source = source;
        droneSocket->simulatorResult = &datagram;
        frame();
    }
    void fixEndpoint(u16 port) { preferences->droneAddress = loopback(port); }
    i32 queued() { return queuedPacketCount(&droneSocket->sendQueue); }
    void clearQueue() {
        while (!isPacketQueueEmpty(&droneSocket->sendQueue)) {
            dropOldestQueuedPacket(&droneSocket->sendQueue);
        }
    }
    u16 vehicleId() { return connection->vehicle.vehicleId; }
};

TEST_F(DroneLink, LocksOnAutopilotHeartbeatsOnly) {
    fixEndpoint(14555);
    deliver(heartbeat(0x0102), loopback(14555));  // component 2
    deliver(heartbeat(0x0101, 6, 8), loopback(14555));  // a ground station
    deliver(heartbeat(0x0101, 26, 12), loopback(14555));  // a gimbal
    EXPECT_EQ(vehicleId(), 0);
    EXPECT_EQ(connection->vehicle.autopilotKind, (u32)AutopilotUnknown);

    Bytes px4 = heartbeat(0x0101, 2, 12);
    deliver(px4, loopback(14555));
    EXPECT_EQ(vehicleId(), 0x0101);
    EXPECT_EQ(connection->vehicle.autopilotKind, (u32)AutopilotPx4);
    EXPECT_EQ(connection->vehicle.lastHeartbeatTime, now);
    EXPECT_EQ(connection->lastDroneMessageTime, now);
    const MavlinkFrameCopy* copy = &connection->vehicle.heartbeat;
    ASSERT_EQ(copy->writer.length, (i64)px4.size());
    EXPECT_EQ(std::memcmp(connection->vehicle.heartbeatSlot, px4.data(), px4.size()), 0);

    deliver(heartbeat(0x0101, 13, 3), loopback(14555));
    EXPECT_EQ(connection->vehicle.autopilotKind, (u32)AutopilotArduCopter);
    EXPECT_EQ(connection->vehicle.frameKind, 2u);  // a hexarotor
    deliver(heartbeat(0x0101, 2, 8), loopback(14555));
    EXPECT_EQ(connection->vehicle.autopilotKind, (u32)AutopilotUnknown);
    // and the app's own HEARTBEAT, the PX4 control's MISSION_REQUEST_LIST while it followed PX4, and
    // the ArduCopter control's five message-rate requests and MISSION_REQUEST_LIST while it followed
    // ArduCopter
    EXPECT_EQ(connection->traffic[TrafficDroneLink].messages, 6u + 2 + 6);

    // A signed MAVLink 2 HEARTBEAT is kept whole, signature included.
    u8 buffer[64];
    ByteWriter writer = makeByteWriter(buffer, sizeof(buffer));
    u8 sequence = 9;
    LengthFieldMark mark = beginMavlinkPacket(&writer, &sequence, 0x0101, MavlinkHeartbeat, 1);
    const u8 payload[9] = {0, 0, 0, 0, 2, 12, 0x81, 4, 3};
    appendBytes(payload, sizeof(payload), &writer);
    buffer[2] = kMavlinkIncompatSigned;
    finishMavlinkPacket(&mark, &writer);
    for (u8 i = 0; i < kMavlinkSignatureBytes; i++) appendU8((u8)(0xA0 + i), &writer);
    Bytes signedHeartbeat(buffer, buffer + writer.length);
    deliver(signedHeartbeat, loopback(14555));
    EXPECT_EQ(connection->vehicle.autopilotKind, (u32)AutopilotPx4);
    EXPECT_FALSE(copy->writer.overflow);
    ASSERT_EQ(copy->writer.length, (i64)signedHeartbeat.size());
    EXPECT_EQ(std::memcmp(connection->vehicle.heartbeatSlot, signedHeartbeat.data(), signedHeartbeat.size()), 0);
}

TEST_F(DroneLink, LockHoldsUntilTheVehicleHasBeenSilentForThreeSeconds) {
    fixEndpoint(14555);
    deliver(heartbeat(0x0101, 2, 12), loopback(14555));
    now += 1000000;
    deliver(heartbeat(0x0201, 2, 3), loopback(14555));
    EXPECT_EQ(vehicleId(), 0x0101);
    EXPECT_EQ(connection->vehicle.autopilotKind, (u32)AutopilotPx4);

    // Any message of the vehicle keeps it; the other aircraft's telemetry is not decoded.
    now += 1000000;
    u64 lastHeard = now;
    deliver(globalPosition(0x0101, 5000), loopback(14555));
    deliver(globalPosition(0x0201, 99000), loopback(14555));
    EXPECT_DOUBLE_EQ(connection->vehicle.globalPosition.relativeAltitude, 5.0);

    now = lastHeard + kVehicleLockHoldTime - 1;
    deliver(heartbeat(0x0201, 2, 3), loopback(14555));
    EXPECT_EQ(vehicleId(), 0x0101);
    now = lastHeard + kVehicleLockHoldTime;
    deliver(heartbeat(0x0201, 2, 3), loopback(14555));
    EXPECT_EQ(vehicleId(), 0x0201);
    EXPECT_EQ(connection->vehicle.autopilotKind, (u32)AutopilotArduCopter);
}

TEST_F(DroneLink, GroundStationHeartbeatOncePerSecond) {
    fixEndpoint(14555);
    frame();
    ASSERT_EQ(queued(), 1);
    PacketSlot* slot = oldestQueuedPacket(&droneSocket->sendQueue);
    EXPECT_TRUE(sameEndpoint(&slot->destination, &connection->droneEndpoint));
    u8 expected[] = {0xFE, 9, 0, 255, 190, 0, 0, 0, 0, 0, 6, 8, 0xC0, 4, 3};
    ASSERT_EQ(slot->writer.length, 17);
    EXPECT_EQ(std::memcmp(slot->data, expected, sizeof(expected)), 0);
    EXPECT_EQ(mavlinkU16(slot->data + 15), mavlinkCrc16(slot->data, 1, 15, 50));
    EXPECT_EQ(logger.entriesByType[FlightLogSentToDrone], 1u);
    clearQueue();

    u64 sent = now;
    now = sent + 1000000;
    frame();
    EXPECT_EQ(queued(), 0);
    now = sent + 1000001;
    frame();
    EXPECT_EQ(queued(), 1);
    EXPECT_EQ(connection->gcsSequence, 2);

    // A full queue: nothing is queued and the next frame tries again.
    while (queuedPacketCount(&droneSocket->sendQueue) < kPacketQueueSlots - 1) {
        queuePacket(&connection->droneEndpoint, &droneSocket->sendQueue);
    }
    now += 1000001;
    frame();
    EXPECT_EQ(connection->gcsSequence, 2);
    clearQueue();
    now += 1;
    frame();
    EXPECT_EQ(queued(), 1);
    EXPECT_EQ(connection->gcsSequence, 3);
    EXPECT_EQ(connection->gcsHeartbeatTime, now);
}

TEST_F(DroneLink, NoHeartbeatBeforeAutodetectHasFoundTheDrone) {
    frame();
    EXPECT_EQ(queued(), 0);
    deliver(heartbeat(0x0101, 2, 8), loopback(14555));  // no autopilot control: the HEARTBEAT alone
    frame();
    ASSERT_EQ(queued(), 1);
    EXPECT_TRUE(sameEndpoint(&oldestQueuedPacket(&droneSocket->sendQueue)->destination, &connection->droneEndpoint));
    AddressRecord expected = loopback(14555);
    EXPECT_TRUE(sameEndpoint(&connection->droneEndpoint, &expected));
}

TEST_F(DroneLink, FixedEndpointDropsForeignDatagramsUnseen) {
    fixEndpoint(14555);
    deliver(heartbeat(0x0101), loopback(14556));
    deliver(heartbeat(0x0101), loopback(14555, kLoopback2));
    EXPECT_EQ(vehicleId(), 0);
    EXPECT_EQ(logger.entriesByType[FlightLogReceivedFromDrone], 0u);
    EXPECT_EQ(connection->traffic[TrafficDroneLink].messages, 1u);  // the app's own HEARTBEAT only
    deliver(heartbeat(0x0101), loopback(14555));
    EXPECT_EQ(vehicleId(), 0x0101);
    EXPECT_EQ(logger.entriesByType[FlightLogReceivedFromDrone], 1u);
}

TEST_F(DroneLink, SimulatorTalksToItsLoopbackPort) {
    fixEndpoint(14555);  // the simulator wins over the preference
    inputs.simulatorPort = kSimulatedDronePort;
    deliver(heartbeat(0x0101), loopback(14555));
    EXPECT_EQ(vehicleId(), 0);
    deliver(heartbeat(0x0101), loopback(kSimulatedVoskPortA));  // not a payload datagram
    EXPECT_EQ(vehicleId(), 0);
    deliver(heartbeat(0x0101), loopback(kSimulatedDronePort));
    EXPECT_EQ(vehicleId(), 0x0101);
    AddressRecord expected = loopback(kSimulatedDronePort);
    EXPECT_TRUE(sameEndpoint(&connection->droneEndpoint, &expected));
}

TEST_F(DroneLink, AutodetectFollowsTheVehicleWithinTheConfiguredAddress) {
    deliver(heartbeat(0x0101), loopback(14555));
    AddressRecord first = loopback(14555);
    EXPECT_TRUE(sameEndpoint(&connection->droneEndpoint, &first));
    // The vehicle's ids from another port or address are not the vehicle while it is heard where it
    // was locked; once that endpoint has been silent for three seconds they move the endpoint.
    u64 lastHeard = now;
    now = lastHeard + kVehicleLockHoldTime - 1;
    deliver(heartbeat(0x0101), loopback(14556));
    deliver(globalPosition(0x0101, 1000), loopback(14600, kLoopback2));
    EXPECT_TRUE(sameEndpoint(&connection->droneEndpoint, &first));
    EXPECT_EQ(connection->vehicle.lastHeardTime, lastHeard);
    now = lastHeard + kVehicleLockHoldTime;
    deliver(globalPosition(0x0101, 1000), loopback(14600, kLoopback2));
    AddressRecord moved = loopback(14600, kLoopback2);
    EXPECT_TRUE(sameEndpoint(&connection->droneEndpoint, &moved));
    EXPECT_DOUBLE_EQ(connection->vehicle.globalPosition.relativeAltitude, 1.0);
    deliver(globalPosition(0x0305, 1000), loopback(14700));
    EXPECT_TRUE(sameEndpoint(&connection->droneEndpoint, &moved));

    // A configured address without port: only that address is taken, on any port.
    preferences->droneAddress = loopback(0);
    now += kVehicleLockHoldTime;
    deliver(globalPosition(0x0101, 1000), loopback(14601, kLoopback2));
    EXPECT_TRUE(sameEndpoint(&connection->droneEndpoint, &moved));
    deliver(globalPosition(0x0101, 1000), loopback(14602));
    AddressRecord configured = loopback(14602);
    EXPECT_TRUE(sameEndpoint(&connection->droneEndpoint, &configured));
}

TEST_F(DroneLink, StreamBytesAreReadAcrossSegments) {
    Bytes frame = heartbeat(0x0101);
    Bytes head(frame.begin(), frame.begin() + 5);
    Bytes tail(frame.begin() + 5, frame.end());
    fixEndpoint(14555);
    // Datagrams: a frame is never split, so a datagram that does not start a frame is not MAVLink.
    deliver(head, loopback(14555));
    deliver(tail, loopback(14555));
    EXPECT_EQ(vehicleId(), 0);
    // A TCP stream may split a frame anywhere.
    preferences->droneTransportProtocol = TransportTcp;
    deliver(head, loopback(14555));
    EXPECT_EQ(vehicleId(), 0);
    deliver(tail, loopback(14555));
    EXPECT_EQ(vehicleId(), 0x0101);
}

f64 testElevation(void* context, f64 longitude, f64 latitude) {
    (void)context;
    (void)latitude;
    return longitude > 8.5455 ? 450.0 : 500.0;  // the vehicle point lies east of home
}

TEST_F(DroneLink, HeightAboveGroundAndTheLowAltitudeAlert) {
    fixEndpoint(14555);
    deliver(heartbeat(0x0101), loopback(14555));
    u8 home[52] = {};
    ByteWriter writer = makeByteWriter(home, sizeof(home));
    appendU32Le((u32)473970000, &writer);
    appendU32Le((u32)85450000, &writer);
    deliver(frameOf(MavlinkHomePosition, Bytes(home, home + 52), 0x0101), loopback(14555));

    deliver(globalPosition(0x0101, 30000), loopback(14555));
    EXPECT_DOUBLE_EQ(connection->heightAboveGround, 30.0);  // no elevation data: the relative altitude
    EXPECT_EQ(logger.entriesByType[FlightLogAugmentedPosition], 1u);

    auto sounds = std::make_unique<SoundQueue>();
    inputs.soundQueue = sounds.get();
    inputs.elevation = testElevation;
    preferences->lowAltitudeWarning = 60;
    now += 2000000;
    deliver(globalPosition(0x0101, 30000), loopback(14555));
    EXPECT_DOUBLE_EQ(connection->heightAboveGround, 500.0 + 30.0 - 450.0);
    EXPECT_EQ(pendingSoundCount(sounds.get()), 0u);
    now += 2000000;
    deliver(globalPosition(0x0101, 5000), loopback(14555));  // 55 m: below the warning
    ASSERT_EQ(pendingSoundCount(sounds.get()), 1u);
    const SoundRequest& tone = sounds->requests[sounds->readIndex];
    ASSERT_EQ(tone.segmentCount, 7u);
    EXPECT_EQ(tone.segments[0].frequency, 440.0);
    EXPECT_EQ(tone.segments[5].frequency, 620.0);
    EXPECT_EQ(tone.segments[6].seconds, 0.0);
    EXPECT_EQ(connection->lowAltitudeAlertTime, now);
    // Up again and down within a second of the last alert: no tone.
    now += 100000;
    deliver(globalPosition(0x0101, 30000), loopback(14555));
    now += 100000;
    deliver(globalPosition(0x0101, 4000), loopback(14555));
    EXPECT_EQ(pendingSoundCount(sounds.get()), 1u);
    now += 2000000;
    deliver(globalPosition(0x0101, 4000), loopback(14555));  // staying below: no second alert
    EXPECT_EQ(pendingSoundCount(sounds.get()), 1u);
    now += 1000000;
    deliver(globalPosition(0x0101, 30000), loopback(14555));
    now += 1000;
    deliver(globalPosition(0x0101, 4000), loopback(14555));
    EXPECT_EQ(pendingSoundCount(sounds.get()), 2u);
    EXPECT_EQ(logger.entriesByType[FlightLogAugmentedPosition], 8u);
}

TEST_F(DroneLink, RadioStatusAndMissionSettings) {
    fixEndpoint(14555);
    deliver(frameOf(MavlinkRadioStatus, {0, 0, 0, 0, 77, 60, 100, 0, 0}, 0x2A44), loopback(14555));
    EXPECT_EQ(connection->radioRssi, -77);
    EXPECT_EQ(connection->radioStatusTime, now);
    EXPECT_EQ(connection->missionSettings[0], 8.0);
    EXPECT_EQ(connection->missionSettings[1], -3.0);
    EXPECT_EQ(connection->missionSettings[2], 6.0);
    EXPECT_EQ(connection->missionSettings[3], 3.0);
}

TEST_F(DroneLink, CameraOfItsOwnOnTheNetwork) {
    fixEndpoint(14555);
    preferences->videoStreamProtocol = VideoStreamRtsp;
    preferences->rtspUrl = makeString("rtsp://127.0.0.1:8554/live1");
    SocketResult fromCamera{};
    Bytes status = heartbeat(0x6401, 30, 8);
    fromCamera.received = 1;
    fromCamera.data = status.data();
    fromCamera.length = (u32)status.size();
    fromCamera.source = loopback(kCameraPort);
    cameraSocket->simulatorResult = &fromCamera;
    frame();
    EXPECT_EQ(connection->cameraKind, (u32)CameraNextVision);
    AddressRecord camera = loopback(kCameraPort);
    EXPECT_TRUE(sameEndpoint(&connection->cameraEndpoint, &camera));
    EXPECT_EQ(logger.entriesByType[FlightLogReceivedFromCamera], 1u);
    // The one received, and the camera control's own commands, which go out on the camera socket.
    i32 sentToCamera = queuedPacketCount(&cameraSocket->sendQueue);
    EXPECT_GT(sentToCamera, 0);
    EXPECT_EQ(connection->traffic[TrafficCameraLink].messages, 1u + (u64)sentToCamera);
    EXPECT_EQ(vehicleId(), 0);  // camera traffic is not the vehicle's

    // Another URL: the camera kind falls back unless the maker's own stream is chosen.
    preferences->rtspUrl = makeString("rtsp://127.0.0.1:8554/stream");
    frame();
    EXPECT_EQ(connection->cameraKind, (u32)CameraNone);
    connection->cameraKind = CameraNextVision;
    preferences->videoStreamProtocol = VideoStreamQv;
    frame();
    EXPECT_EQ(connection->cameraKind, (u32)CameraNextVision);
}

TEST_F(DroneLink, ControllingRelayPeerHoldsTheOwnOutput) {
    std::unique_ptr<Socket> relaySocket = std::make_unique<Socket>();
    relaySocket->simulatorResult = kSimulatorResultConsumed;
    SecureLinkHost host{};
    host.controllingPeer = &host.peers[0];
    inputs.relaySocket = relaySocket.get();
    inputs.relayHost = &host;
    preferences->relayModePort = 24550;
    fixEndpoint(14555);

    host.peers[0].lastHeardTime = now - (kRelayControlHoldTime - 1);
    frame();
    EXPECT_EQ(connection->relayControlled, 1u);
    EXPECT_EQ(queued(), 0);
    EXPECT_EQ(connection->traffic[TrafficSink].messages, 1u);
    EXPECT_EQ(queuedPacketCount(&connection->sinkSocket.sendQueue), 0) << "held output is never sent later";

    now += 1000001;
    host.peers[0].lastHeardTime = now - kRelayControlHoldTime;
    frame();
    EXPECT_EQ(connection->relayControlled, 0u);
    EXPECT_EQ(queued(), 1);
    EXPECT_EQ(logger.entriesByType[FlightLogSentToDrone], 1u);
}

}  // namespace

namespace {

TEST_F(DroneLink, EachSourceCountsItsOwnSequenceGapsAndRate) {
    fixEndpoint(14555);
    // The autopilot skips sequence numbers 3 to 5 (wrapping 255 -> 0 is no gap); the gimbal none.
    const u8 autopilotSequences[] = {254, 255, 0, 1, 2, 6};
    for (u8 sequence : autopilotSequences) {
        deliver(frameOf(0, {0, 0, 0, 0, 2, 12, 0x81, 4, 3}, 0x0101, sequence), loopback(14555));
        deliver(frameOf(0, {0, 0, 0, 0, 26, 8, 0, 4, 3}, 0x019A, (u8)(sequence + 40)), loopback(14555));
        now += 100000;
    }
    const MavlinkSourceTable* sources = &connection->droneSources;
    ASSERT_EQ(sources->count, 2);
    const MavlinkSourceTraffic* autopilot = findSourceTraffic(sources, 0x0101);
    const MavlinkSourceTraffic* gimbal = findSourceTraffic(sources, 0x019A);
    ASSERT_TRUE(autopilot && gimbal);
    EXPECT_EQ(autopilot->messages, 6u);
    EXPECT_EQ(autopilot->lostMessages, 3u);
    EXPECT_DOUBLE_EQ(sourceLossPercent(autopilot), 100.0 * 3 / 9);
    EXPECT_EQ(gimbal->messages, 6u);
    EXPECT_EQ(gimbal->lostMessages, 3u);  // its sequence follows the same pattern, shifted
    // Six messages in the first 0.6 s, then a frame a full second after the first: 6 per second.
    now = 50000000 + 1000000;
    frame();
    EXPECT_DOUBLE_EQ(autopilot->messagesPerSecond, 6.0);
}

}  // namespace
