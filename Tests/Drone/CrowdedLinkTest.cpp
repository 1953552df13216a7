// The drone link on real sockets on the loopback while strangers send from many ports: the drone is
// heard at start and after a radio dropout, a granted relay device is heard and keeps its streams,
// floods of oversize and empty datagrams and of hellos are counted, and from another port of the
// drone's address only payload frames are taken, byte for byte. The sockets run on the test's clock;
// the tests wait for datagrams, never for time.
#include "Crypto/X25519.h"
#include "Drone/DroneConnection.h"
#include "Drone/TarnwickPayloads/PayloadFrame.h"
#include "Drone/TarnwickPayloads/PayloadRecords.h"
#include "FlightLogs/FlightLogIndex.h"
#include "FlightLogs/FlightLogger.h"
#include "Mavlink/Mavlink.h"
#include "Platform/Random.h"
#include "Support/FreePorts.h"
#include "Video/QvVideoStream.h"
#include "Video/RtspVideoStream.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/sock_diag.h>
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
u64 crowdClockLater() { return crowdNow + 1000; }  // a step that runs later in the frame

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

// A crew device: the relay link's client side, with a record and a socket of its own for each stream
// on one identity, as the program keeps them.
struct Device {
    SecureLinkClientIdentity identity{};
    std::unique_ptr<SecureLinkClient> records[kSecureLinkStreams];
    std::unique_ptr<Socket> sockets[kSecureLinkStreams];
    AddressRecord hosts[kSecureLinkStreams] = {};  // the host's port for each stream; family 0: not used
    std::vector<Bytes> opened[kSecureLinkStreams];  // what each stream handed on, oldest first
    std::vector<Bytes> sent[kSecureLinkStreams];    // what each stream sent, as anyone on the way sees it
    FixedString localAddress{};                      // the loopback address its sockets send from; empty: any

    Device() {
        EXPECT_EQ(generateX25519KeyPair(identity.privateKey, identity.publicKey), 0);
        identity.peerId = 0x0707;
        for (u32 stream = 0; stream < kSecureLinkStreams; stream++) {
            records[stream] = std::make_unique<SecureLinkClient>();
            records[stream]->identity = &identity;
            sockets[stream] = std::make_unique<Socket>();
            sockets[stream]->clock = crowdClock;
        }
    }
    ~Device() {
        for (auto& socket : sockets) closeSocket(socket.get());
    }
    // Sends what is queued and takes what the host sent.
    void take(u32 stream) {
        const PacketQueue* queue = &sockets[stream]->sendQueue;
        for (u8 i = queue->readIndex; i != queue->writeIndex; i = (u8)((i + 1) % kPacketQueueSlots)) {
            sent[stream].emplace_back(queue->slots[i].data, queue->slots[i].data + queue->slots[i].writer.length);
        }
        for (;;) {
            SocketResult datagram;
            updateSocket(&datagram, sockets[stream].get(), 4, SocketModeUdp, 0, &localAddress, nullptr, 0);
            if (!datagram.received) break;
            u8* data = datagram.data;
            u32 length = datagram.length;
            receiveFromSecureLinkHost(&data, &length, records[stream].get(), nullptr, crowdNow);
            if (length) opened[stream].emplace_back(data, data + length);
        }
    }
    // Each stream in use says hello when due and takes what the host sent.
    void step() {
        for (u32 stream = 0; stream < kSecureLinkStreams; stream++) {
            if (!hosts[stream].family) continue;
            sendSecureLinkHello(records[stream].get(), &hosts[stream], sockets[stream].get(), stream, crowdNow);
            take(stream);
        }
    }
    // MAVLink to the host, sealed.
    void sendSealed(const Bytes& mavlink) {
        ByteWriter* slot = queueSocketPacket(&hosts[RelayStreamMavlink], sockets[RelayStreamMavlink].get());
        ASSERT_NE(slot, nullptr);
        appendBytes(mavlink.data(), (i64)mavlink.size(), slot);
        encryptSecureLinkSendQueue(records[RelayStreamMavlink].get(), sockets[RelayStreamMavlink].get());
        take(RelayStreamMavlink);
    }
};

// The QV and RTSP video streams, idle, as the application runs them after the drone link each frame.
struct VideoSteps {
    Socket qv{}, control{}, rtp{}, rtcp{};
    QvVideoStream qvStream{};
    RtspVideoStream rtspStream{};
    H264StreamState h264{};
};

struct CrowdedLink : ::testing::Test {
    std::unique_ptr<Socket> droneSocket;
    std::unique_ptr<Socket> relaySocket;
    std::unique_ptr<Socket> videoRelaySocket;
    std::unique_ptr<VideoSteps> video;
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
        if (videoRelaySocket) closeSocket(videoRelaySocket.get());
        if (video) {
            for (Socket* socket : {&video->qv, &video->control, &video->rtp, &video->rtcp}) closeSocket(socket);
        }
        videoRelayPort = kSecureLinkVideoPort;
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
    // A new station that takes the sender's loopback port for the drone.
    void freshWithDrone(const Sender& drone) {
        preferences->droneAddress = makeAddressRecord(4, kLoopback, drone.port);
        fresh();
    }
    u16 stationPort() const { return droneSocket->localPort; }
    // The relay port on a port the system has free, bound by one frame.
    u16 startRelay() {
        relaySocket = std::make_unique<Socket>();
        relaySocket->clock = crowdClock;
        host = std::make_unique<SecureLinkHost>();
        EXPECT_EQ(generateX25519KeyPair(identity.privateKey, identity.publicKey), 0);
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
    // The video relay port, after startRelay, on a port the system has free, bound by one frame.
    u16 startVideoRelay() {
        videoRelaySocket = std::make_unique<Socket>();
        videoRelaySocket->clock = crowdClock;
        video = std::make_unique<VideoSteps>();
        video->qvStream.stats.clock = crowdClock;
        video->rtspStream.stats.clock = crowdClockLater;
        std::vector<u16> free = freeUdpPorts(1);
        EXPECT_EQ(free.size(), 1u);
        videoRelayPort = free.empty() ? 0 : free[0];
        frame();
        EXPECT_EQ(videoRelaySocket->localPort, videoRelayPort);
        return videoRelayPort;
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
    // One frame of the drone link, and once the video relay port is open of the two video streams
    // that serve it.
    void frame() {
        inputs.now = crowdNow;
        controlDrone(connection.get(), &inputs);
        if (!videoRelaySocket) return;
        VideoSteps* v = video.get();
        controlQvVideoStream(&v->qv, videoRelaySocket.get(), host.get(), nullptr, &v->qvStream, &v->h264,
                             preferences.get(), nullptr, nullptr);
        controlRtspVideoStream(&v->control, &v->rtp, &v->rtcp, videoRelaySocket.get(), host.get(), &v->rtspStream,
                               &v->h264, preferences.get(), nullptr, nullptr);
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
    // The device and the station in turn until the condition holds, the clock moving on by the step
    // each turn; false after about five seconds.
    template <typename Done>
    bool withDeviceUntil(Device* device, Done done, u64 clockStep = 0) {
        for (int i = 0; i < 5000; i++) {
            crowdNow += clockStep;
            device->step();
            frame();
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    // The device on the list, its keys shown on its MAVLink stream, with the user's decision on it.
    SecureLinkPeer* connectDevice(Device* device, u16 relayPort, u32 decision) {
        device->hosts[RelayStreamMavlink] = makeAddressRecord(4, kLoopback, relayPort);
        SecureLinkPeer* peer = &host->peers[0];
        EXPECT_TRUE(withDeviceUntil(device, [&] { return peer->verified != 0; }));
        setSecureLinkPeerDecision(host.get(), peer, decision);
        return peer;
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
    freshWithDrone(drone);
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
    freshWithDrone(drone);
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
    freshWithDrone(drone);
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
    freshWithDrone(drone);
    u16 relayPort = startRelay();
    if (HasFailure()) return;
    Device device;
    connectDevice(&device, relayPort, SecureLinkGrantTelemetry);
    if (HasFailure()) return;
    std::vector<Bytes>* opened = &device.opened[RelayStreamMavlink];
    ASSERT_TRUE(drone.send(heartbeat(0x0101), stationPort()));
    ASSERT_TRUE(withDeviceUntil(&device, [&] { return !opened->empty() && opened->back() == heartbeat(0x0101); }));

    ASSERT_TRUE(replayer.send(plainHello(device.identity.peerId, device.identity.publicKey), relayPort));
    ASSERT_TRUE(framesUntil([&] {
        for (i32 i = 0; i < kSocketPeers; i++) {
            if ((relaySocket->peerMask >> i & 1) && relaySocket->peers[i].peer.port == replayer.port) return true;
        }
        return false;
    }));
    opened->clear();
    ASSERT_TRUE(drone.send(heartbeat(0x0101), stationPort()));
    EXPECT_TRUE(withDeviceUntil(&device, [&] { return !opened->empty() && opened->back() == heartbeat(0x0101); }));
    Bytes toReplayer;
    EXPECT_FALSE(replayer.receive(&toReplayer));
}

// A device granted video whose video record has not sealed its hello yet, and another port of its
// address replaying the clear header of that hello to the video relay port, before the device and
// while it says hello: the replaying port never gets a sealed datagram, and the device gets the host
// key and the video.
TEST_F(CrowdedLink, AReplayedHelloHeaderNeverTakesAGrantedDevicesVideo) {
    Sender replayer;
    u16 relayPort = startRelay();
    u16 videoPort = startVideoRelay();
    if (HasFailure()) return;
    Device device;
    SecureLinkPeer* peer = connectDevice(&device, relayPort, SecureLinkGrantTelemetry | SecureLinkGrantVideo);
    if (HasFailure()) return;

    Bytes hello = plainHello(device.identity.peerId, device.identity.publicKey);
    hello.back() = SecureLinkGrantVideo;
    Bytes video = {kQvVideo, 0, 1, 0x65, 0x88, 0x84};
    bool replayerGotSealed = false;
    auto relayVideoAndListen = [&] {
        ByteWriter packet = makeByteWriter(video.data(), (i64)video.size());
        packet.length = (i64)video.size();
        relayPacketToPeers(host.get(), videoRelaySocket.get(), RelayStreamVideo, preferences.get(), &packet);
        Bytes got;
        while (replayer.receive(&got)) replayerGotSealed = replayerGotSealed || (!got.empty() && got[0] != SecureLinkHostKey);
    };
    ASSERT_TRUE(replayer.send(hello, videoPort));
    ASSERT_TRUE(framesUntil([&] { return (peer->streamsWanted & SecureLinkGrantVideo) != 0; }));
    relayVideoAndListen();
    frame();
    relayVideoAndListen();

    device.hosts[RelayStreamVideo] = makeAddressRecord(4, kLoopback, videoPort);
    ASSERT_TRUE(withDeviceUntil(&device, [&] {
        EXPECT_TRUE(replayer.send(hello, videoPort));
        relayVideoAndListen();
        return !device.opened[RelayStreamVideo].empty();
    }));
    EXPECT_EQ(device.opened[RelayStreamVideo].back(), video);
    EXPECT_EQ(device.records[RelayStreamVideo]->keys.ready, 1u);
    frame();
    relayVideoAndListen();
    EXPECT_FALSE(replayerGotSealed);
}

// Whether a station's socket has room for two more small datagrams (its receive memory as the
// system counts it).
bool roomForTwoMore(const Socket* station) {
    u32 memory[SK_MEMINFO_VARS] = {};
    socklen_t size = sizeof(memory);
    if (getsockopt(station->handle, SOL_SOCKET, SO_MEMINFO, memory, &size) != 0) return false;
    return memory[SK_MEMINFO_RMEM_ALLOC] + 4096 <= memory[SK_MEMINFO_RCVBUF];
}

// Round after round, header-only hellos under ever new peer ids fill both relay ports' receive
// buffers (thousands in all) ahead of the drone's HEARTBEAT and a granted device's sealed MAVLink:
// every frame does at most the allowed key exchanges on each port, the drone is heard in the frame it
// arrives and the device in that frame or the next, and every hello is counted, those dropped over
// the key exchanges apart.
// The host starts again (a new key pair; the controlling listener and its password kept): the device
// it had granted control gets the new key and control back, is shown granted control on the list, and
// gets the drone's telemetry.
TEST_F(CrowdedLink, TheControllerBackAfterAHostRestartIsShownGrantedAndGetsTelemetry) {
    Sender drone;
    freshWithDrone(drone);
    u16 relayPort = startRelay();
    if (HasFailure()) return;
    Device device;
    SecureLinkPeer* peer = connectDevice(&device, relayPort, SecureLinkGrantTelemetry | SecureLinkGrantControl);
    ASSERT_TRUE(withDeviceUntil(&device, [&] { return host->controllingPeer == peer; }));

    host = std::make_unique<SecureLinkHost>();
    ASSERT_EQ(generateX25519KeyPair(identity.privateKey, identity.publicKey), 0);
    host->identity = &identity;
    inputs.relayHost = host.get();
    ASSERT_TRUE(withDeviceUntil(&device, [&] { return host->controllingPeer != nullptr; }, 100000));
    EXPECT_EQ(host->controllingPeer->userDecision, (u32)(SecureLinkGrantTelemetry | SecureLinkGrantControl));
    std::vector<Bytes>* opened = &device.opened[RelayStreamMavlink];
    opened->clear();
    ASSERT_TRUE(drone.send(heartbeat(0x0101), stationPort()));
    EXPECT_TRUE(withDeviceUntil(&device, [&] { return !opened->empty() && opened->back() == heartbeat(0x0101); }));
}

TEST_F(CrowdedLink, HelloFloodsOnBothRelayPortsCostEachFrameFewKeyExchanges) {
    Sender drone;
    Sender flooder;
    freshWithDrone(drone);
    u16 ports[kSecureLinkStreams] = {startRelay(), startVideoRelay()};
    if (HasFailure()) return;
    Socket* stations[kSecureLinkStreams] = {relaySocket.get(), videoRelaySocket.get()};
    Device device;
    SecureLinkPeer* peer = connectDevice(&device, ports[RelayStreamMavlink], SecureLinkGrantTelemetry);
    if (HasFailure()) return;

    u64 sent[kSecureLinkStreams] = {host->unlistedHellos[0], host->unlistedHellos[1]};
    u16 nextId = 0x1000;
    const u8 anyKey[32] = {};
    Bytes hello = plainHello(0, anyKey);  // peer id and key drawn anew for each
    // One frame: the hellos it read and the key exchanges it did on each port.
    auto countedFrame = [&] {
        u64 hellos[kSecureLinkStreams], over[kSecureLinkStreams];
        for (u32 s = 0; s < kSecureLinkStreams; s++) {
            hellos[s] = host->unlistedHellos[s];
            over[s] = host->hellosOverKeyExchanges[s];
        }
        frame();
        for (u32 s = 0; s < kSecureLinkStreams; s++) {
            u64 read = host->unlistedHellos[s] - hellos[s];
            EXPECT_LE(read, (u64)kSecureLinkReadsPerFrame) << "stream " << s;
            EXPECT_LE(read - (host->hellosOverKeyExchanges[s] - over[s]), (u64)kSecureLinkKeyExchangesPerFrame)
                << "stream " << s;
        }
    };
    for (int round = 0; round < 40 && (sent[0] < 2000 || sent[1] < 2000); round++) {
        crowdNow += 33333;
        for (u32 s = 0; s < kSecureLinkStreams; s++) {
            // Two frames' reads at most, so the datagrams behind are read by the next frame.
            for (int i = 0; i < 2 * kSecureLinkDatagramsPerFrame - 2 && roomForTwoMore(stations[s]); i++) {
                ASSERT_EQ(getRandomBytes(hello.data() + 1, 34), 0);
                hello[1] = (u8)nextId;
                hello[2] = (u8)(nextId++ >> 8);
                ASSERT_TRUE(flooder.send(hello, ports[s]));
                sent[s]++;
            }
        }
        u64 arrived = crowdNow;
        u64 overBefore = host->hellosOverKeyExchanges[RelayStreamMavlink];
        ASSERT_TRUE(drone.send(heartbeat(0x0101), stationPort()));
        device.sendSealed(heartbeat(0x0202));
        countedFrame();
        EXPECT_EQ(connection->vehicle.lastHeardTime, arrived) << round;
        EXPECT_GT(host->hellosOverKeyExchanges[RelayStreamMavlink], overBefore) << round;
        bool deviceHeard = peer->lastHeardTime == arrived;
        if (!deviceHeard) {
            crowdNow += 16667;
            countedFrame();
            deviceHeard = peer->lastHeardTime == crowdNow;
        }
        EXPECT_TRUE(deviceHeard) << round;
        // The rest of the flood, read before the next round.
        for (int i = 0; i < 10 && (host->unlistedHellos[0] < sent[0] || host->unlistedHellos[1] < sent[1]); i++) {
            crowdNow += 16667;
            countedFrame();
        }
    }
    for (u32 s = 0; s < kSecureLinkStreams; s++) {
        EXPECT_GE(sent[s], 2000u) << "stream " << s;
        EXPECT_EQ(host->unlistedHellos[s], sent[s]) << "stream " << s;
    }
    EXPECT_EQ(relaySocket->unknownSenderDatagrams + videoRelaySocket->unknownSenderDatagrams, 0u);
}

// A COMMAND_LONG from the crew device's ground station, told apart by its first parameter.
Bytes commandLong(u8 mark) {
    Bytes payload(33, 0);
    payload[3] = mark;
    payload[28] = 21;  // MAV_CMD_NAV_LAND
    payload[30] = 1;
    payload[31] = 1;
    return frameOf(MavlinkCommandLong, payload, 0xFFBE);
}

// Whether the drone has been sent the datagram; what came before it is kept in *before.
bool droneGot(const Sender& drone, const Bytes& datagram, std::vector<Bytes>* before) {
    Bytes got;
    while (drone.receive(&got)) {
        if (got == datagram) return true;
        before->push_back(got);
    }
    return false;
}

// The device granted control starts over (a fresh key pair and peer id) and is the controller again.
// Another port of its address then replays everything its earlier session sent: the sealed hellos
// that echoed the control password and a command. It takes nothing over, and the drone gets the
// device's next command without the replayed one before it.
TEST_F(CrowdedLink, AnEarlierSessionReplayedOpensNothing) {
    Sender drone;
    Sender replayer;
    freshWithDrone(drone);
    u16 relayPort = startRelay();
    if (HasFailure()) return;
    Device device;
    SecureLinkPeer* peer = connectDevice(&device, relayPort, SecureLinkGrantTelemetry | SecureLinkGrantControl);
    if (HasFailure()) return;
    ASSERT_TRUE(withDeviceUntil(&device, [&] { return host->controllingPeer == peer; }));
    std::vector<Bytes> before;
    device.sendSealed(commandLong(1));
    ASSERT_TRUE(withDeviceUntil(&device, [&] { return droneGot(drone, commandLong(1), &before); }));
    std::vector<Bytes> earlier = device.sent[RelayStreamMavlink];

    stopSecureLinkClient(device.records[RelayStreamMavlink].get());
    u16 earlierId = device.identity.peerId;
    ASSERT_TRUE(withDeviceUntil(&device, [&] {
        return host->controllingPeer && host->controllingPeer->peerId == device.identity.peerId &&
               device.identity.peerId != earlierId;
    }));
    SecureLinkPeer* controller = host->controllingPeer;

    crowdNow += 16667;
    for (const Bytes& datagram : earlier) {
        if (datagram[0] == SecureLinkHello) {
            ASSERT_TRUE(replayer.send(datagram, relayPort));
        }
    }
    u64 hellos = host->unlistedHellos[RelayStreamMavlink];
    ASSERT_TRUE(framesUntil([&] { return host->unlistedHellos[RelayStreamMavlink] > hellos; }));
    crowdNow += 16667;
    frame();
    for (const Bytes& datagram : earlier) {
        if (datagram[0] == SecureLinkFromClient) {
            ASSERT_TRUE(replayer.send(datagram, relayPort));
        }
    }
    before.clear();
    device.sendSealed(commandLong(2));  // behind the replay in the relay port
    EXPECT_TRUE(withDeviceUntil(&device, [&] { return droneGot(drone, commandLong(2), &before); }));
    for (const Bytes& datagram : before) EXPECT_NE(datagram, commandLong(1));
    EXPECT_EQ(host->controllingPeer, controller);
    EXPECT_EQ(controller->peerId, device.identity.peerId);
    EXPECT_NE(controller->userDecision & SecureLinkGrantControl, 0u);
    for (const SecureLinkPeer& other : host->peers) {
        if (other.address.family && other.peerId == earlierId) {
            EXPECT_EQ(other.verified | other.userDecision, 0u);
        }
    }
}

// Two devices of one address: control granted to the first, then moved to the second. The first
// starts over (a fresh key pair and peer id) and says hello from the listener's address with what it
// was given: the second keeps control and its row, and the first gets nothing.
TEST_F(CrowdedLink, ADeviceThatLostControlGetsNothingBackByStartingOver) {
    u16 relayPort = startRelay();
    if (HasFailure()) return;
    Device first;
    SecureLinkPeer* firstPeer = connectDevice(&first, relayPort, SecureLinkGrantTelemetry | SecureLinkGrantControl);
    ASSERT_TRUE(withDeviceUntil(&first, [&] { return host->controllingPeer == firstPeer; }));
    Device second;
    second.identity.peerId = 0x0808;
    second.hosts[RelayStreamMavlink] = first.hosts[RelayStreamMavlink];
    SecureLinkPeer* secondPeer = nullptr;
    ASSERT_TRUE(withDeviceUntil(&second, [&] {
        for (SecureLinkPeer& peer : host->peers) {
            if (peer.address.family && peer.peerId == 0x0808 && peer.verified) secondPeer = &peer;
        }
        return secondPeer != nullptr;
    }));
    setSecureLinkPeerDecision(host.get(), secondPeer, SecureLinkGrantTelemetry | SecureLinkGrantControl);
    ASSERT_TRUE(withDeviceUntil(&second, [&] { return host->controllingPeer == secondPeer; }));
    u32 secondRow = secondPeer->listOrder;

    stopSecureLinkClient(first.records[RelayStreamMavlink].get());
    u16 earlierId = first.identity.peerId;
    auto firstBack = [&] {
        for (const SecureLinkPeer& peer : host->peers) {
            if (peer.address.family && peer.peerId == first.identity.peerId && peer.verified) return true;
        }
        return false;
    };
    ASSERT_TRUE(withDeviceUntil(&first, [&] {
        second.step();
        return first.identity.peerId != earlierId && firstBack();
    }, 20000));
    for (int i = 0; i < 100; i++) {  // two seconds of both
        crowdNow += 20000;
        first.step();
        second.step();
        frame();
    }
    EXPECT_EQ(host->controllingPeer, secondPeer);
    EXPECT_EQ(secondPeer->peerId, 0x0808);
    EXPECT_EQ(secondPeer->listOrder, secondRow);
    EXPECT_NE(secondPeer->userDecision & SecureLinkGrantControl, 0u);
    for (const SecureLinkPeer& peer : host->peers) {
        if (peer.address.family && peer.peerId == first.identity.peerId) {
            EXPECT_EQ(peer.userDecision, 0u);
        }
    }
}

// Hellos under ever new peer ids from one address fill both relay ports in every frame. A new device
// of another address, and the device granted control starting over, get on within a few frames; the
// video relay port, which the QV and the RTSP stream both serve, reads and exchanges keys within one
// bound a frame.
TEST_F(CrowdedLink, OneFloodingAddressLeavesOtherAddressesTheirKeyExchanges) {
    u16 ports[kSecureLinkStreams] = {startRelay(), startVideoRelay()};
    if (HasFailure()) return;
    Socket* stations[kSecureLinkStreams] = {relaySocket.get(), videoRelaySocket.get()};
    Device controller;
    SecureLinkPeer* peer =
        connectDevice(&controller, ports[RelayStreamMavlink], SecureLinkGrantTelemetry | SecureLinkGrantControl);
    if (HasFailure()) return;
    ASSERT_TRUE(withDeviceUntil(&controller, [&] { return host->controllingPeer == peer; }));

    Sender flooder("127.0.0.2");
    Device newcomer;
    newcomer.localAddress = makeString("127.0.0.3");
    newcomer.hosts[RelayStreamMavlink] = makeAddressRecord(4, kLoopback, ports[RelayStreamMavlink]);
    const u8 newcomerAddress[4] = {127, 0, 0, 3};
    AddressRecord newcomerAt = makeAddressRecord(4, newcomerAddress, 0);
    stopSecureLinkClient(controller.records[RelayStreamMavlink].get());
    u16 earlierId = controller.identity.peerId;
    const u8 anyKey[32] = {};
    Bytes hello = plainHello(0, anyKey);
    auto newcomerOn = [&] {
        for (const SecureLinkPeer& other : host->peers) {
            if (other.verified && sameAddress(&other.address, &newcomerAt)) return true;
        }
        return false;
    };
    auto controllerBack = [&] {
        return host->controllingPeer && host->controllingPeer->peerId == controller.identity.peerId &&
               controller.identity.peerId != earlierId;
    };
    int frames = 0;
    for (; frames < 12 && !(newcomerOn() && controllerBack()); frames++) {
        crowdNow += 16667;
        for (u32 s = 0; s < kSecureLinkStreams; s++) {
            for (int i = 0; i < 2 * kSecureLinkDatagramsPerFrame && roomForTwoMore(stations[s]); i++) {
                ASSERT_EQ(getRandomBytes(hello.data() + 1, 34), 0);
                ASSERT_TRUE(flooder.send(hello, ports[s]));
            }
        }
        controller.step();
        newcomer.step();
        u64 read = host->unlistedHellos[RelayStreamVideo];
        u64 over = host->hellosOverKeyExchanges[RelayStreamVideo];
        frame();
        read = host->unlistedHellos[RelayStreamVideo] - read;
        EXPECT_LE(read, (u64)kSecureLinkReadsPerFrame) << frames;
        EXPECT_LE(read - (host->hellosOverKeyExchanges[RelayStreamVideo] - over), (u64)kSecureLinkKeyExchangesPerFrame)
            << frames;
    }
    EXPECT_TRUE(newcomerOn());
    EXPECT_TRUE(controllerBack());
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

namespace {

// The host starts again with encryption off, keeping the listener it granted control and its
// password. The device that had control follows it once its link has been silent, proves the
// password and controls again, on one entry under its own name; an undecided device that says hello
// gets none of the drone's telemetry.
TEST_F(CrowdedLink, WithEncryptionOffOnlyGrantedDevicesGetTelemetryAndTheKeptControllerControls) {
    Sender drone;
    freshWithDrone(drone);
    u16 relayPort = startRelay();
    if (HasFailure()) return;
    Device controller;
    controller.identity.name = makeString("tablet 2");
    SecureLinkPeer* peer = connectDevice(&controller, relayPort, SecureLinkGrantTelemetry | SecureLinkGrantControl);
    ASSERT_TRUE(withDeviceUntil(&controller, [&] { return host->controllingPeer == peer; }));

    host = std::make_unique<SecureLinkHost>();
    ASSERT_EQ(generateX25519KeyPair(identity.privateKey, identity.publicKey), 0);
    host->identity = &identity;
    inputs.relayHost = host.get();
    preferences->relayModeDisableEncryption = 1;
    Device undecided;
    undecided.localAddress = makeString("127.0.0.3");
    undecided.identity.peerId = 0x0909;
    undecided.hosts[RelayStreamMavlink] = makeAddressRecord(4, kLoopback, relayPort);
    ASSERT_TRUE(withDeviceUntil(&controller, [&] {
        undecided.step();
        return host->controllingPeer != nullptr && connection->relayControlled;
    }, 100000));
    SecureLinkPeer* controlling = host->controllingPeer;
    EXPECT_EQ(controlling->peerId, controller.identity.peerId);
    EXPECT_EQ(std::string(controlling->name.text, controlling->name.length), "tablet 2");
    int entries = 0;
    for (const SecureLinkPeer& other : host->peers) {
        entries += other.address.family && sameAddress(&other.address, &controlling->address);
    }
    EXPECT_EQ(entries, 1);

    std::vector<Bytes>* toController = &controller.opened[RelayStreamMavlink];
    toController->clear();
    undecided.opened[RelayStreamMavlink].clear();
    ASSERT_TRUE(drone.send(heartbeat(0x0101), stationPort()));
    EXPECT_TRUE(withDeviceUntil(&controller, [&] {
        undecided.step();
        return !toController->empty() && toController->back() == heartbeat(0x0101);
    }));
    for (const Bytes& datagram : undecided.opened[RelayStreamMavlink]) EXPECT_NE(datagram, heartbeat(0x0101));

    std::vector<Bytes> before;
    controller.sendSealed(commandLong(7));  // plain: the controller holds no keys
    EXPECT_TRUE(withDeviceUntil(&controller, [&] { return droneGot(drone, commandLong(7), &before); }));
}

// Round after round, each frame of the relay port sees hellos from one address at five times the
// frame's read bound, the controller's sealed command among them after more than one bound of them.
// The command reaches the drone in its frame and the controller keeps control throughout.
TEST_F(CrowdedLink, TheControllersCommandsReachTheDroneThroughAHelloFlood) {
    Sender drone;
    Sender flooder("127.0.0.2");
    freshWithDrone(drone);
    u16 relayPort = startRelay();
    if (HasFailure()) return;
    Device controller;
    SecureLinkPeer* peer = connectDevice(&controller, relayPort, SecureLinkGrantTelemetry | SecureLinkGrantControl);
    ASSERT_TRUE(withDeviceUntil(&controller, [&] { return host->controllingPeer == peer; }));

    const u8 anyKey[32] = {};
    Bytes hello = plainHello(0, anyKey);
    u16 nextId = 0x1000;
    auto flood = [&](int count) {
        for (int i = 0; i < count; i++) {
            hello[1] = (u8)nextId;
            hello[2] = (u8)(nextId++ >> 8);
            flooder.send(hello, relayPort);  // the system drops what finds no room
        }
    };
    const int rounds = 120;
    int reached = 0, controlled = 0;
    for (int round = 0; round < rounds; round++) {
        crowdNow += 16667;
        flood(kSecureLinkDatagramsPerFrame + 16);
        Bytes command = commandLong((u8)round);
        controller.sendSealed(command);
        flood(4 * kSecureLinkDatagramsPerFrame);
        frame();
        std::vector<Bytes> before;
        reached += droneGot(drone, command, &before);
        controlled += connection->relayControlled && host->controllingPeer == peer;
    }
    EXPECT_GE(reached, rounds * 9 / 10);
    EXPECT_EQ(controlled, rounds);
}

}  // namespace
