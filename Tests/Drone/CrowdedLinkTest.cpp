// The drone link on real sockets on the loopback while strangers send from many ports: the drone is
// heard at start and after a radio dropout, a granted relay device is heard and keeps its stream,
// floods of oversize and empty datagrams are counted, and from another port of the drone's address
// only payload frames are taken, byte for byte. The sockets run on the test's clock; the tests wait
// for datagrams, never for time.
#include "Crypto/X25519.h"
#include "Drone/DroneConnection.h"
#include "Drone/TarnwickPayloads/PayloadFrame.h"
#include "Drone/TarnwickPayloads/PayloadRecords.h"
#include "FlightLogs/FlightLogIndex.h"
#include "FlightLogs/FlightLogger.h"
#include "Mavlink/Mavlink.h"
#include "Support/FreePorts.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<u8>;

const u8 kLoopback[4] = {127, 0, 0, 1};

u64 crowdNow = 0;
u64 crowdClock() { return crowdNow; }

// A UDP socket of the test's own on a loopback address, sending to the station's ports.
struct Sender {
    int fd = -1;
    u16 port = 0;
    explicit Sender(const char* address = "127.0.0.1") {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, address, &local.sin_addr);
        socklen_t length = sizeof(local);
        if (fd >= 0 && bind(fd, (sockaddr*)&local, sizeof(local)) == 0 &&
            getsockname(fd, (sockaddr*)&local, &length) == 0) {
            port = ntohs(local.sin_port);
        }
    }
    ~Sender() {
        if (fd >= 0) close(fd);
    }
    bool send(const Bytes& bytes, u16 to) const {
        sockaddr_in destination{};
        destination.sin_family = AF_INET;
        destination.sin_port = htons(to);
        destination.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return sendto(fd, bytes.data(), bytes.size(), 0, (sockaddr*)&destination, sizeof(destination)) ==
               (ssize_t)bytes.size();
    }
    // The next datagram waiting for this socket; false when none is.
    bool receive(Bytes* bytes) const {
        u8 buffer[7000];
        ssize_t length = recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (length < 0) return false;
        bytes->assign(buffer, buffer + length);
        return true;
    }
};

Bytes frameOf(u32 messageId, const Bytes& payload, u16 source) {
    u8 buffer[300];
    ByteWriter writer = makeByteWriter(buffer, sizeof(buffer));
    u8 sequence = 0;
    LengthFieldMark mark = beginMavlinkPacket(&writer, &sequence, source, messageId, 0);
    appendBytes(payload.data(), (i64)payload.size(), &writer);
    finishMavlinkPacket(&mark, &writer);
    return Bytes(buffer, buffer + writer.length);
}

Bytes heartbeat(u16 source) { return frameOf(MavlinkHeartbeat, {0, 0, 0, 0, 2, 12, 0x81, 4, 3}, source); }

Bytes statusText(u16 source, const char* text) {
    Bytes payload(51, 0);
    payload[0] = 2;  // critical
    std::memcpy(payload.data() + 1, text, std::strlen(text));
    return frameOf(MavlinkStatusText, payload, source);
}

// One payload frame of the given type and body as the payload of an ENCAPSULATED_DATA, followed by
// the unused bytes given.
Bytes payloadMessage(u8 type, const Bytes& body, u16 source, const Bytes& unused = {}) {
    u8 bytes[kPayloadFrameWriterBytes];
    ByteWriter frame = makeByteWriter(bytes, sizeof(bytes));
    u8 sequence = 0;
    LengthFieldMark mark = beginPayloadFrame(&sequence, type, &frame);
    appendBytes(body.data(), (i64)body.size(), &frame);
    finishPayloadFrame(&mark, &frame);
    appendBytes(unused.data(), (i64)unused.size(), &frame);
    return frameOf(MavlinkEncapsulatedData, Bytes(bytes, bytes + frame.length), source);
}

// An Orvik status in its emergency state: five seconds of it make the station send EMERGENCY RELEASE.
Bytes orvikEmergency(u16 source) {
    Bytes body(27, 0);
    body[0] = (u8)kOrvikStatePunctureMotionError;
    return payloadMessage(PayloadFrameOrvikStatus, body, source);
}

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct CrowdedLink : ::testing::Test {
    std::unique_ptr<Socket> droneSocket;
    std::unique_ptr<Socket> relaySocket;
    std::unique_ptr<DroneConnection> connection;
    std::unique_ptr<Preferences> preferences = std::make_unique<Preferences>();
    std::unique_ptr<SecureLinkHost> host;
    RelayHostIdentity identity{};
    FlightLogger logger{};
    DroneLinkInputs inputs{};

    void SetUp() override {
        crowdNow = 900000000;
        preferences->appSystemId = 255;
        preferences->appComponentId = 190;
        preferences->lowAltitudeWarning = -1000;
        logger.logFileName = makeString("Flight Logs/test.qvlog3");
        fresh();
    }
    void TearDown() override {
        if (droneSocket) closeSocket(droneSocket.get());
        if (relaySocket) closeSocket(relaySocket.get());
    }
    // A new station: link, drone socket on a port the system picks, and the first frame that binds it.
    void fresh() {
        if (droneSocket) closeSocket(droneSocket.get());
        droneSocket = std::make_unique<Socket>();
        droneSocket->clock = crowdClock;
        connection = std::make_unique<DroneConnection>();
        inputs = DroneLinkInputs{};
        inputs.droneSocket = droneSocket.get();
        inputs.preferences = preferences.get();
        inputs.flightLogger = &logger;
        preferences->droneLocalPort = 0;
        frame();
        ASSERT_EQ(droneSocket->state, (u32)SocketStateReady);
    }
    u16 stationPort() const { return droneSocket->localPort; }
    // The relay port on a port the system has free, bound by one frame.
    u16 startRelay() {
        relaySocket = std::make_unique<Socket>();
        relaySocket->clock = crowdClock;
        host = std::make_unique<SecureLinkHost>();
        host->identity = &identity;
        std::vector<u16> free = freeUdpPorts(1);
        EXPECT_EQ(free.size(), 1u);
        preferences->relayModePort = free.empty() ? 0 : free[0];
        inputs.relaySocket = relaySocket.get();
        inputs.relayHost = host.get();
        frame();
        EXPECT_EQ(relaySocket->localPort, preferences->relayModePort);
        return preferences->relayModePort;
    }
    // A crew device listed and granted telemetry and control with encryption off.
    SecureLinkPeer* grantPlainDevice(const Sender& device) {
        SecureLinkPeer* peer = &host->peers[0];
        peer->address = makeAddressRecord(4, kLoopback, device.port);
        peer->ports[RelayStreamMavlink] = device.port;
        peer->peerId = 0x0707;
        for (u8 i = 0; i < 32; i++) peer->publicKey[i] = (u8)(i * 5 + 1);
        peer->userDecision = SecureLinkGrantTelemetry | SecureLinkGrantControl;
        preferences->relayModeDisableEncryption = 1;
        return peer;
    }
    // A hello's header alone, as every client sends it in the clear.
    static Bytes plainHello(u16 peerId, const u8* publicKey) {
        Bytes hello = {SecureLinkHello, (u8)peerId, (u8)(peerId >> 8)};
        hello.insert(hello.end(), publicKey, publicKey + 32);
        hello.push_back(SecureLinkGrantTelemetry);
        return hello;
    }
    // The payloads of the flight-log entries of MAVLink received from the drone, oldest first.
    std::vector<Bytes> loggedFromDrone() const {
        std::vector<Bytes> entries;
        i64 position = 0, previousTime = 0;
        for (;;) {
            FlightLogEntryScan entry =
                nextFlightLogEntry(logger.entryBuffer, &position, logger.bufferFill, &previousTime);
            if (!entry.payload) return entries;
            if (entry.type == FlightLogReceivedFromDrone) entries.emplace_back(entry.payload, entry.payload + entry.length);
        }
    }
    void frame() {
        inputs.now = crowdNow;
        controlDrone(connection.get(), &inputs);
    }
    // Frames until the condition holds; a millisecond between them for the loopback. False after
    // about five seconds of frames that never saw it.
    template <typename Done>
    bool framesUntil(Done done) {
        for (int i = 0; i < 5000; i++) {
            frame();
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    // One datagram of 8 bytes from every stranger, and frames until the link has counted them all.
    bool strangersSend(const std::vector<std::unique_ptr<Sender>>& strangers, u16 to) {
        u64 before = connection->foreignPackets;
        for (const auto& stranger : strangers) {
            if (!stranger->send(Bytes(8, 0x55), to)) return false;
        }
        return framesUntil([&] { return connection->foreignPackets >= before + strangers.size(); });
    }
};

// One datagram a second from 4, 8 or 64 stranger ports: the drone is heard at start-up and again
// after a 4 s radio dropout, with autodetect and with a fixed drone address; every stranger's
// datagram is counted, and the socket keeps four slots, one of them the drone's.
TEST_F(CrowdedLink, StrangersOnManyPortsNeverLockTheDroneOut) {
    for (bool fixed : {false, true}) {
        for (size_t count : {4u, 8u, 64u}) {
            SCOPED_TRACE(std::string(fixed ? "fixed address, " : "autodetect, ") + std::to_string(count) + " strangers");
            Sender drone;
            ASSERT_NE(drone.port, 0);
            preferences->droneAddress = fixed ? makeAddressRecord(4, kLoopback, drone.port) : AddressRecord{};
            fresh();
            std::vector<std::unique_ptr<Sender>> strangers;
            for (size_t i = 0; i < count; i++) strangers.push_back(std::make_unique<Sender>());
            ASSERT_TRUE(strangersSend(strangers, stationPort()));

            ASSERT_TRUE(drone.send(heartbeat(0x0101), stationPort()));
            ASSERT_TRUE(framesUntil([&] { return connection->vehicle.vehicleId == 0x0101; }));
            EXPECT_EQ(connection->vehicle.lastHeardTime, crowdNow);

            for (int second = 0; second < 4; second++) {  // the drone silent, the strangers not
                crowdNow += 1000000;
                ASSERT_TRUE(strangersSend(strangers, stationPort()));
            }
            ASSERT_TRUE(drone.send(heartbeat(0x0101), stationPort()));
            ASSERT_TRUE(framesUntil([&] { return connection->vehicle.lastHeardTime == crowdNow; }));
            EXPECT_EQ(connection->vehicle.vehicleId, 0x0101);
            EXPECT_EQ(connection->foreignPackets, 5 * count);
            EXPECT_EQ(droneSocket->peerMask, 0b1111u);
            bool droneHasSlot = false;
            for (const TrafficCounters& slot : droneSocket->peers) {
                droneHasSlot = droneHasSlot || sameEndpoint(&slot.peer, &connection->droneEndpoint);
            }
            EXPECT_TRUE(droneHasSlot);
        }
    }
}

// Four stranger ports hold the relay port's slots: the crew device granted by the user is heard all
// the same.
TEST_F(CrowdedLink, AGrantedRelayDeviceIsHeardWhileStrangersHoldTheSlots) {
    Sender device;
    u16 relayPort = startRelay();
    if (HasFailure()) return;
    SecureLinkPeer* peer = grantPlainDevice(device);

    std::vector<std::unique_ptr<Sender>> strangers;
    for (int i = 0; i < 4; i++) strangers.push_back(std::make_unique<Sender>());
    for (int round = 0; round < 3; round++) {
        crowdNow += 1000000;
        for (const auto& stranger : strangers) ASSERT_TRUE(stranger->send(Bytes(8, 0x55), relayPort));
        ASSERT_TRUE(framesUntil([&] { return relaySocket->peerMask == 0b1111u; }));
        ASSERT_TRUE(device.send(plainHello(peer->peerId, peer->publicKey), relayPort));
        ASSERT_TRUE(framesUntil([&] { return peer->lastHeardTime == crowdNow; })) << round;
    }
}

// 6,001-byte datagrams in floods: each is counted, and the drone's HEARTBEAT behind them is heard in
// the same frame.
TEST_F(CrowdedLink, OversizeFloodsAreCountedAndTheDroneStillHeard) {
    Sender drone;
    Sender flooder;
    preferences->droneAddress = makeAddressRecord(4, kLoopback, drone.port);
    fresh();
    for (int round = 1; round <= 5; round++) {
        crowdNow += 100000;
        for (int i = 0; i < 12; i++) ASSERT_TRUE(flooder.send(Bytes(6001, 0x55), stationPort()));
        ASSERT_TRUE(drone.send(heartbeat(0x0101), stationPort()));
        frame();  // loopback datagrams are in the socket's buffer once sendto has returned
        EXPECT_EQ(connection->vehicle.lastHeardTime, crowdNow) << round;
        EXPECT_EQ(droneSocket->oversizeDatagrams, 12u * (u64)round);
    }
}

// Seven empty datagrams from a stranger ahead of each of the drone's 30 datagrams of a second, to the
// drone port and to the relay port: both sockets count them, and the drone's HEARTBEAT and the
// granted device's hello behind them are heard in the frame they arrive.
TEST_F(CrowdedLink, EmptyDatagramsAreCountedAndHoldNothingBack) {
    Sender drone;
    Sender stranger;
    Sender device;
    preferences->droneAddress = makeAddressRecord(4, kLoopback, drone.port);
    fresh();
    u16 relayPort = startRelay();
    if (HasFailure()) return;
    SecureLinkPeer* peer = grantPlainDevice(device);
    for (int round = 1; round <= 30; round++) {
        crowdNow += 33333;
        for (int i = 0; i < 7; i++) {
            ASSERT_TRUE(stranger.send({}, stationPort()));
            ASSERT_TRUE(stranger.send({}, relayPort));
        }
        ASSERT_TRUE(drone.send(heartbeat(0x0101), stationPort()));
        ASSERT_TRUE(device.send(plainHello(peer->peerId, peer->publicKey), relayPort));
        frame();  // loopback datagrams are in the socket's buffer once sendto has returned
        EXPECT_EQ(connection->vehicle.lastHeardTime, crowdNow) << round;
        EXPECT_EQ(peer->lastHeardTime, crowdNow) << round;
    }
    EXPECT_EQ(droneSocket->emptyDatagrams, 210u);
    EXPECT_EQ(relaySocket->emptyDatagrams, 210u);
}

// From another port of the drone's address: a MAVLink 2 header whose frame fails its checksum, and
// inside the bytes it claims a payload frame carrying a whole STATUSTEXT in its unused bytes. The
// flight log and the granted relay device get the ENCAPSULATED_DATA frame alone, byte for byte.
TEST_F(CrowdedLink, APayloadFrameAfterABadCandidateIsLoggedAndRelayedByteForByte) {
    Sender drone;
    Sender otherPort;
    Sender device;
    preferences->droneAddress = makeAddressRecord(4, kLoopback, drone.port);
    fresh();
    startRelay();
    if (HasFailure()) return;
    grantPlainDevice(device);
    Bytes payload = payloadMessage(PayloadFrameVoskStatus, Bytes(25, 0), 0x4D1A, statusText(0x0101, "FORGED"));
    // The candidate claims 30 bytes more than the payload frame's message holds.
    u8 claimed = (u8)(payload.size() + 30 - 2);
    Bytes candidate = {kMavlink2Magic, claimed, 0, 0, 0, 1, 1, 0, 0, 0};
    Bytes datagram = joined({candidate, payload, Bytes(30, 0)});
    frame();
    Bytes relayed;
    while (device.receive(&relayed)) {
    }
    ASSERT_TRUE(otherPort.send(datagram, stationPort()));
    ASSERT_TRUE(framesUntil([&] { return connection->payload.vosk.units[0].statusTime != 0; }));
    frame();  // the relay socket sends what was queued for the device
    std::vector<Bytes> logged = loggedFromDrone();
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.back(), payload);
    ASSERT_TRUE(device.receive(&relayed));
    EXPECT_EQ(relayed, payload);
    EXPECT_EQ(connection->vehicle.statusTextCount, 0u);
}

// A crew device granted telemetry over the sealed link keeps its stream while another port of its
// address replays the header of its hello, which every client sends in the clear: the replaying port
// gets nothing.
TEST_F(CrowdedLink, AReplayedHelloHeaderLeavesAGrantedDevicesStreamWhereItIs) {
    Sender drone;
    Sender replayer;
    preferences->droneAddress = makeAddressRecord(4, kLoopback, drone.port);
    fresh();
    ASSERT_EQ(generateX25519KeyPair(identity.privateKey, identity.publicKey), 0);
    u16 relayPort = startRelay();
    if (HasFailure()) return;
    // The device: the relay link's client side on a socket of its own.
    SecureLinkClientIdentity deviceIdentity{};
    ASSERT_EQ(generateX25519KeyPair(deviceIdentity.privateKey, deviceIdentity.publicKey), 0);
    deviceIdentity.peerId = 0x0707;
    auto device = std::make_unique<SecureLinkClient>();
    device->identity = &deviceIdentity;
    auto deviceSocket = std::make_unique<Socket>();
    deviceSocket->clock = crowdClock;
    AddressRecord hostEndpoint = makeAddressRecord(4, kLoopback, relayPort);
    Bytes opened;
    auto bothUntil = [&](auto done) {
        for (int i = 0; i < 5000 && !done(); i++) {
            sendSecureLinkHello(device.get(), &hostEndpoint, deviceSocket.get(), RelayStreamMavlink, crowdNow);
            for (;;) {
                SocketResult datagram;
                updateSocket(&datagram, deviceSocket.get(), 4, SocketModeUdp, 0, nullptr, nullptr, 0);
                if (!datagram.received) break;
                u8* data = datagram.data;
                u32 length = datagram.length;
                receiveFromSecureLinkHost(&data, &length, device.get(), nullptr, crowdNow);
                if (length) opened.assign(data, data + length);
            }
            frame();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return done();
    };
    SecureLinkPeer* peer = &host->peers[0];
    ASSERT_TRUE(bothUntil([&] { return peer->verified != 0; }));
    setSecureLinkPeerDecision(host.get(), peer, SecureLinkGrantTelemetry);
    ASSERT_TRUE(drone.send(heartbeat(0x0101), stationPort()));
    ASSERT_TRUE(bothUntil([&] { return opened == heartbeat(0x0101); }));

    ASSERT_TRUE(replayer.send(plainHello(deviceIdentity.peerId, deviceIdentity.publicKey), relayPort));
    ASSERT_TRUE(framesUntil([&] {
        for (i32 i = 0; i < kSocketPeers; i++) {
            if ((relaySocket->peerMask >> i & 1) && relaySocket->peers[i].peer.port == replayer.port) return true;
        }
        return false;
    }));
    opened.clear();
    ASSERT_TRUE(drone.send(heartbeat(0x0101), stationPort()));
    EXPECT_TRUE(bothUntil([&] { return opened == heartbeat(0x0101); }));
    Bytes toReplayer;
    EXPECT_FALSE(replayer.receive(&toReplayer));
    closeSocket(deviceSocket.get());
}

// An Orvik status in its emergency state cut in two ENCAPSULATED_DATA messages: neither holds a
// payload frame of its own, though a payload reader that took both would put one together.
std::vector<Bytes> orvikEmergencyInTwoParts(u16 source) {
    Bytes whole = orvikEmergency(source);
    MavlinkMessage message{};
    parseMavlinkBytes(&message, whole.data(), 0, (i32)whole.size());
    Bytes frame(message.payload, message.payload + 7 + 27);
    return {frameOf(MavlinkEncapsulatedData, Bytes(frame.begin(), frame.begin() + 20), source),
            frameOf(MavlinkEncapsulatedData, Bytes(frame.begin() + 20, frame.end()), source)};
}

// From another port of the drone's address a datagram that begins with a payload frame gives only
// its payload frames, message by message: a forged STATUSTEXT, and a forged Orvik status cut over two
// messages, behind the frame are not the drone's, with a fixed drone address and in autodetect. The
// payload frame, under a system id of the payload board's own, is taken.
TEST_F(CrowdedLink, BehindAPayloadFrameFromAnotherPortNothingElseIsTaken) {
    for (bool fixed : {false, true}) {
        SCOPED_TRACE(fixed ? "fixed address" : "autodetect");
        Sender drone;
        Sender otherPort;
        preferences->droneAddress = fixed ? makeAddressRecord(4, kLoopback, drone.port) : AddressRecord{};
        fresh();
        ASSERT_TRUE(drone.send(heartbeat(0x0101), stationPort()));
        ASSERT_TRUE(framesUntil([&] { return connection->vehicle.vehicleId == 0x0101; }));

        Bytes voskStatus = payloadMessage(PayloadFrameVoskStatus, Bytes(25, 0), 0x4D1A);
        std::vector<Bytes> orvikParts = orvikEmergencyInTwoParts(0x0119);
        Bytes forged = joined({voskStatus, statusText(0x0101, "FORGED"), orvikParts[0], orvikParts[1]});
        u64 foreign = connection->foreignPackets;
        ASSERT_TRUE(otherPort.send(forged, stationPort()));
        ASSERT_TRUE(framesUntil([&] { return connection->payload.vosk.units[0].statusTime != 0; }));
        EXPECT_EQ(connection->payload.vosk.units[0].address.port, otherPort.port);
        EXPECT_EQ(connection->foreignPackets, foreign + 1);
        EXPECT_EQ(connection->payload.orvik.statusTime, 0u);
        EXPECT_EQ(connection->vehicle.statusTextCount, 0u);
        AddressRecord droneEndpoint = makeAddressRecord(4, kLoopback, drone.port);
        EXPECT_TRUE(sameEndpoint(&connection->droneEndpoint, &droneEndpoint));

        // Six seconds of the drone's HEARTBEAT and of forged datagrams: no EMERGENCY RELEASE.
        for (int i = 0; i < 60; i++) {
            crowdNow += 100000;
            u64 before = connection->foreignPackets;
            ASSERT_TRUE(drone.send(heartbeat(0x0101), stationPort()));
            ASSERT_TRUE(otherPort.send(forged, stationPort()));
            ASSERT_TRUE(framesUntil([&] {
                return connection->vehicle.lastHeardTime == crowdNow && connection->foreignPackets > before;
            }));
        }
        EXPECT_EQ(connection->payload.orvik.requestCounters[OrvikRequestEmergencyRelease], 0);
        EXPECT_EQ(connection->payload.orvik.statusTime, 0u);
        EXPECT_EQ(connection->vehicle.statusTextCount, 0u);
    }
}

}  // namespace
