// The drone connection with datagrams handed straight to its socket (no network), an injected
// clock and the counting flight logger.
#include "Core/Sound.h"
#include "Crypto/X25519.h"
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

    host.peers[0].heardTimes[RelayStreamMavlink] = now - (kRelayControlHoldTime - 1);
    frame();
    EXPECT_EQ(connection->relayControlled, 1u);
    EXPECT_EQ(queued(), 0);
    EXPECT_EQ(connection->traffic[TrafficSink].messages, 1u);
    EXPECT_EQ(queuedPacketCount(&connection->sinkSocket.sendQueue), 0) << "held output is never sent later";

    now += 1000001;
    host.peers[0].heardTimes[RelayStreamMavlink] = now - kRelayControlHoldTime;
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

namespace {

const u8 kStranger[16] = {127, 0, 0, 9};

// One payload frame of the given type and body as the whole payload of an ENCAPSULATED_DATA.
Bytes payloadMessage(u8 type, const Bytes& body, u16 source) {
    u8 bytes[kPayloadFrameWriterBytes];
    ByteWriter frame = makeByteWriter(bytes, sizeof(bytes));
    u8 sequence = 0;
    LengthFieldMark mark = beginPayloadFrame(&sequence, type, &frame);
    appendBytes(body.data(), (i64)body.size(), &frame);
    finishPayloadFrame(&mark, &frame);
    return frameOf(MavlinkEncapsulatedData, Bytes(bytes, bytes + frame.length), source);
}

// An Orvik status in the state that fires the automatic emergency release after 5 s.
Bytes orvikEmergency(u16 source) {
    Bytes body(27, 0);
    body[0] = (u8)kOrvikStatePunctureMotionError;
    return payloadMessage(PayloadFrameOrvikStatus, body, source);
}
Bytes voskStatus(u16 source) { return payloadMessage(PayloadFrameVoskStatus, Bytes(25, 0), source); }

// The payload link is heard from the drone's address only: an Orvik status or a VOSK status from a
// stranger (any system, the vehicle's too) changes nothing, so no EMERGENCY RELEASE goes to the drone
// five seconds later and no VOSK control frame goes to the stranger. From the drone's address they do
// both, whatever their system id (a payload board may have one of its own), in autodetect and with a
// fixed endpoint.
TEST_F(DroneLink, PayloadFramesFromAnywhereButTheDronesAddressChangeNothing) {
    struct Sender {
        const u8* address;
        u16 port;
        u16 system;
    };
    const Sender strangers[] = {{kStranger, 14555, 1}, {kStranger, 40000, 77}, {kStranger, 14556, 1}};
    for (bool fixed : {false, true}) {
        SCOPED_TRACE(fixed ? "fixed endpoint" : "autodetect");
        connection = std::make_unique<DroneConnection>();
        clearQueue();
        preferences->droneAddress = fixed ? loopback(14555) : AddressRecord{};
        deliver(heartbeat(0x0101), loopback(14555));
        ASSERT_EQ(vehicleId(), 0x0101);
        for (const Sender& sender : strangers) {
            deliver(orvikEmergency((u16)(sender.system << 8 | 25)), loopback(sender.port, sender.address));
            deliver(voskStatus((u16)(sender.system << 8 | 26)), loopback(sender.port, sender.address));
        }
        const PayloadLink* link = &connection->payload;
        EXPECT_EQ(link->kind, (u32)PayloadKindNone);
        EXPECT_EQ(link->orvik.statusTime, 0u);
        EXPECT_EQ(link->vosk.units[0].statusTime, 0u);
        EXPECT_EQ(link->vosk.units[0].address.family, 0);
        EXPECT_EQ(connection->foreignPackets, 2u * std::size(strangers));
        for (i32 i = 0; i < 60; i++) {  // six seconds
            now += 100000;
            deliver(heartbeat(0x0101), loopback(14555));
            for (PacketSlot* slot = oldestQueuedPacket(&droneSocket->sendQueue); slot;
                 slot = oldestQueuedPacket(&droneSocket->sendQueue)) {
                EXPECT_TRUE(sameAddress(&slot->destination, &connection->droneEndpoint));
                dropOldestQueuedPacket(&droneSocket->sendQueue);
            }
        }
        EXPECT_EQ(link->orvik.requestCounters[OrvikRequestEmergencyRelease], 0);

        // The payload on the drone's address, under a system id of its own: taken, and its emergency
        // state acted on after five seconds.
        deliver(orvikEmergency(0x4D19), loopback(14555));
        deliver(voskStatus(0x4D1A), loopback(14556));
        EXPECT_EQ(link->orvik.state, kOrvikStatePunctureMotionError);
        EXPECT_EQ(link->vosk.units[0].address.port, 14556);
        for (i32 i = 0; i < 60; i++) {
            now += 100000;
            deliver(orvikEmergency(0x4D19), loopback(14555));
        }
        EXPECT_GT(link->orvik.requestCounters[OrvikRequestEmergencyRelease], 0);
    }
}

// A flood from a stranger in autodetect: every datagram is counted, none reaches the flight log or
// the relay peers; camera datagrams from anyone but the camera the video URL names neither.
TEST_F(DroneLink, StrangersDatagramsAreCountedButNeitherLoggedNorRelayed) {
    auto relaySocket = std::make_unique<Socket>();
    relaySocket->simulatorResult = kSimulatorResultConsumed;
    auto host = std::make_unique<SecureLinkHost>();
    RelayHostIdentity identity{};
    host->identity = &identity;
    host->peers[0].address = loopback(30000, kLoopback2);
    host->peers[0].ports[RelayStreamMavlink] = 30000;
    host->peers[0].userDecision = SecureLinkGrantTelemetry;
    host->peers[0].lastHeardTime = host->peers[0].heardTimes[RelayStreamMavlink] = now;  // it says hello every second
    inputs.relaySocket = relaySocket.get();
    inputs.relayHost = host.get();
    preferences->relayModePort = 24550;
    preferences->relayModeDisableEncryption = 1;
    auto relayedMavlink = [&] {
        i32 count = 0;
        const PacketQueue* queue = &relaySocket->sendQueue;
        for (u8 i = queue->readIndex; i != queue->writeIndex; i = (u8)((i + 1) % kPacketQueueSlots)) {
            count += queue->slots[i].data[0] == kMavlink2Magic || queue->slots[i].data[0] == kMavlink1Magic;
        }
        return count;
    };
    deliver(heartbeat(0x0101), loopback(14555));
    EXPECT_EQ(logger.entriesByType[FlightLogReceivedFromDrone], 1u);
    EXPECT_EQ(relayedMavlink(), 1);

    // 1.4 KB each: noise, another system's telemetry packed whole, a ground station's HEARTBEAT.
    Bytes noise(1400);
    for (size_t i = 0; i < noise.size(); i++) noise[i] = (u8)(i * 37 + 11);
    Bytes telemetry;
    while (telemetry.size() + 40 <= 1400) {
        Bytes position = globalPosition(0x4D01, 1000);
        telemetry.insert(telemetry.end(), position.begin(), position.end());
    }
    Bytes station = heartbeat(0x4DBE, 6, 8);
    station.resize(1400);
    const Bytes* kinds[] = {&noise, &telemetry, &station};
    for (i32 i = 0; i < 1500; i++) deliver(*kinds[i % 3], loopback((u16)(40000 + i % 7), kStranger));
    EXPECT_EQ(logger.entriesByType[FlightLogReceivedFromDrone], 1u);
    EXPECT_EQ(relayedMavlink(), 1);
    EXPECT_EQ(connection->foreignPackets, 1500u);
    EXPECT_EQ(vehicleId(), 0x0101);

    preferences->videoStreamProtocol = VideoStreamRtsp;
    preferences->rtspUrl = makeString("rtsp://127.0.0.1:8554/live1");
    Bytes cameraStatus = heartbeat(0x6401, 30, 8);
    SocketResult fromCamera{};
    fromCamera.received = 1;
    fromCamera.data = cameraStatus.data();
    fromCamera.length = (u32)cameraStatus.size();
    for (const u8* address : {kStranger, kLoopback}) {
        fromCamera.source = loopback(kCameraPort, address);
        cameraSocket->simulatorResult = &fromCamera;
        frame();
    }
    EXPECT_EQ(logger.entriesByType[FlightLogReceivedFromCamera], 1u);
    EXPECT_EQ(connection->foreignPackets, 1501u);
}

// A relay host key is taken only from a relaying app the connection names: in autodetect a stranger's
// one, even with this station's peer id, leaves the drone's datagrams and the station's own plain.
TEST_F(DroneLink, AStrangersHostKeyLeavesTheDroneLinkPlain) {
    SecureLinkClientIdentity identity{};
    u8 strangerPrivate[32], strangerKey[32];
    ASSERT_EQ(generateX25519KeyPair(identity.privateKey, identity.publicKey), 0);
    ASSERT_EQ(generateX25519KeyPair(strangerPrivate, strangerKey), 0);
    identity.peerId = 0x5A17;
    connection->secureLinkClient.identity = &identity;
    Bytes hostKey = {SecureLinkHostKey, 0x17, 0x5A};
    hostKey.insert(hostKey.end(), strangerKey, strangerKey + 32);

    deliver(heartbeat(0x0101), loopback(14555));
    deliver(hostKey, loopback(40000, kStranger));
    EXPECT_EQ(connection->secureLinkClient.keys.ready, 0u);
    deliver(globalPosition(0x0101, 7000), loopback(14555));
    EXPECT_DOUBLE_EQ(connection->vehicle.globalPosition.relativeAltitude, 7.0);
    clearQueue();
    now += kGcsHeartbeatInterval + 1;
    frame();
    ASSERT_GT(queued(), 0);
    for (PacketSlot* slot = oldestQueuedPacket(&droneSocket->sendQueue); slot;
         slot = oldestQueuedPacket(&droneSocket->sendQueue)) {
        EXPECT_TRUE(slot->data[0] == kMavlink1Magic || slot->data[0] == kMavlink2Magic);  // not sealed
        dropOldestQueuedPacket(&droneSocket->sendQueue);
    }
    EXPECT_EQ(connection->foreignPackets, 1u);
}

}  // namespace
