// The rig of the crowded-link tests: the drone link, the relay ports and the video streams that serve
// them on real sockets on the loopback, crew devices (the relay link's client side) and strangers
// that send from addresses of the loopback. The sockets run on the test's clock; the tests wait for
// datagrams, never for time.
#pragma once
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

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace crowded {

using Bytes = std::vector<u8>;

inline const u8 kLoopback[4] = {127, 0, 0, 1};

inline u64 crowdNow = 0;
inline u64 crowdClock() { return crowdNow; }
inline u64 crowdClockLater() { return crowdNow + 1000; }  // a step that runs later in the frame

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

inline Bytes frameOf(u32 messageId, const Bytes& payload, u16 source) {
    u8 buffer[300];
    ByteWriter writer = makeByteWriter(buffer, sizeof(buffer));
    u8 sequence = 0;
    LengthFieldMark mark = beginMavlinkPacket(&writer, &sequence, source, messageId, 0);
    appendBytes(payload.data(), (i64)payload.size(), &writer);
    finishMavlinkPacket(&mark, &writer);
    return Bytes(buffer, buffer + writer.length);
}

inline Bytes heartbeat(u16 source) { return frameOf(MavlinkHeartbeat, {0, 0, 0, 0, 2, 12, 0x81, 4, 3}, source); }

inline Bytes statusText(u16 source, const char* text) {
    Bytes payload(51, 0);
    payload[0] = 2;  // critical
    std::memcpy(payload.data() + 1, text, std::strlen(text));
    return frameOf(MavlinkStatusText, payload, source);
}

// One payload frame of the given type and body as the payload of an ENCAPSULATED_DATA, followed by
// the unused bytes given.
inline Bytes payloadMessage(u8 type, const Bytes& body, u16 source, const Bytes& unused = {}) {
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
inline Bytes orvikEmergency(u16 source) {
    Bytes body(27, 0);
    body[0] = (u8)kOrvikStatePunctureMotionError;
    return payloadMessage(PayloadFrameOrvikStatus, body, source);
}

inline Bytes joined(std::initializer_list<Bytes> parts) {
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
    u16 localPorts[kSecureLinkStreams] = {};         // the port each socket binds; 0: one the system picks

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
    // The app starts again: a fresh key pair and the peer id, what its app cache keeps (its name and the
    // password it got sealed; one heard in plain is not kept), and its sockets on ports the system picks.
    void restart(u16 peerId) {
        EXPECT_EQ(generateX25519KeyPair(identity.privateKey, identity.publicKey), 0);
        identity.peerId = peerId;
        std::memset(identity.plainPassword, 0, sizeof(identity.plainPassword));
        identity.mavlinkHelloTime = 0;
        for (u32 stream = 0; stream < kSecureLinkStreams; stream++) {
            closeSocket(sockets[stream].get());
            sockets[stream] = std::make_unique<Socket>();
            sockets[stream]->clock = crowdClock;
            *records[stream] = SecureLinkClient{};
            records[stream]->identity = &identity;
        }
    }
    // Sends what is queued and takes what the host sent.
    void take(u32 stream) {
        const PacketQueue* queue = &sockets[stream]->sendQueue;
        for (u8 i = queue->readIndex; i != queue->writeIndex; i = (u8)((i + 1) % kPacketQueueSlots)) {
            sent[stream].emplace_back(queue->slots[i].data, queue->slots[i].data + queue->slots[i].writer.length);
        }
        for (;;) {
            SocketResult datagram;
            updateSocket(&datagram, sockets[stream].get(), 4, SocketModeUdp, localPorts[stream], &localAddress, nullptr,
                         0);
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
    // A datagram from the device's socket of the stream to its host (as one that forges its endpoint
    // sends it), sent with what else is queued.
    void sendFrom(u32 stream, const Bytes& bytes) {
        ByteWriter* slot = queueSocketPacket(&hosts[stream], sockets[stream].get());
        ASSERT_NE(slot, nullptr);
        appendBytes(bytes.data(), (i64)bytes.size(), slot);
        take(stream);
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

// The listed entry under the peer id; null for none.
inline SecureLinkPeer* listedPeer(SecureLinkHost* host, u16 peerId) {
    for (SecureLinkPeer& peer : host->peers) {
        if (peer.address.family && peer.peerId == peerId) return &peer;
    }
    return nullptr;
}

inline i32 listedEntries(const SecureLinkHost* host) {
    i32 entries = 0;
    for (const SecureLinkPeer& peer : host->peers) entries += peer.address.family != 0;
    return entries;
}

// A COMMAND_LONG from the crew device's ground station, told apart by its first parameter.
inline Bytes commandLong(u8 mark) {
    Bytes payload(33, 0);
    payload[3] = mark;
    payload[28] = 21;  // MAV_CMD_NAV_LAND
    payload[30] = 1;
    payload[31] = 1;
    return frameOf(MavlinkCommandLong, payload, 0xFFBE);
}

// Whether the drone has been sent the datagram; what came before it is kept in *before.
inline bool droneGot(const Sender& drone, const Bytes& datagram, std::vector<Bytes>* before) {
    Bytes got;
    while (drone.receive(&got)) {
        if (got == datagram) return true;
        before->push_back(got);
    }
    return false;
}

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
        peer->lastHeardTime = peer->heardTimes[RelayStreamMavlink] = crowdNow;  // it says hello every second
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
    // A hello under the peer id and key whose sealed part opens under no keys: counter, IV, two blocks
    // and MAC, all of one filler byte.
    static Bytes sealedLookingHello(u16 peerId, const u8* publicKey) {
        Bytes hello = plainHello(peerId, publicKey);
        hello.resize(hello.size() + 8 + 16 + 32 + 16, 0x5A);
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
    // each turn (a microsecond at least: each turn is a frame of its own); false after about five
    // seconds.
    template <typename Done>
    bool withDeviceUntil(Device* device, Done done, u64 clockStep = 1) {
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
    // With encryption off, the device saying hello to the relay port until it is listed: its entry (null
    // when it was not listed within about five seconds).
    SecureLinkPeer* listPlainDevice(Device* device, u16 relayPort) {
        preferences->relayModeDisableEncryption = 1;
        device->hosts[RelayStreamMavlink] = makeAddressRecord(4, kLoopback, relayPort);
        SecureLinkPeer* peer = nullptr;
        withDeviceUntil(device, [&] { return (peer = listedPeer(host.get(), device->identity.peerId)) != nullptr; });
        return peer;
    }
    // Devices at addresses of their own (127.0.0.2 on), each saying hello to the relay port until it is
    // listed (with encryption on, until it sealed a hello) and granted telemetry; fewer when one was not
    // within about five seconds.
    std::vector<std::unique_ptr<Device>> grantedDevicesElsewhere(i32 count, u16 relayPort) {
        std::vector<std::unique_ptr<Device>> devices;
        for (i32 i = 0; i < count; i++) {
            auto device = std::make_unique<Device>();
            device->identity.peerId = (u16)(0x0A00 + i);
            device->localAddress = makeString(("127.0.0." + std::to_string(2 + i)).c_str());
            device->hosts[RelayStreamMavlink] = makeAddressRecord(4, kLoopback, relayPort);
            SecureLinkPeer* peer = nullptr;
            bool listed = withDeviceUntil(device.get(), [&] {
                peer = listedPeer(host.get(), device->identity.peerId);
                return peer && (preferences->relayModeDisableEncryption || peer->verified);
            });
            if (!listed) break;
            setSecureLinkPeerDecision(host.get(), peer, SecureLinkGrantTelemetry);
            devices.push_back(std::move(device));
        }
        return devices;
    }
    // Both relay ports open and, with encryption off, the device listed and saying hello on both
    // streams, with the user's decision on it: its entry (null when that did not come about within
    // about five seconds).
    SecureLinkPeer* startRelaysWithPlainDevice(Device* device, u32 decision) {
        u16 relayPort = startRelay();
        u16 videoPort = startVideoRelay();
        if (::testing::Test::HasFailure()) return nullptr;
        SecureLinkPeer* peer = listPlainDevice(device, relayPort);
        if (!peer) return nullptr;
        device->hosts[RelayStreamVideo] = makeAddressRecord(4, kLoopback, videoPort);
        if (!withDeviceUntil(device, [&] { return peer->ports[RelayStreamVideo] != 0; }, 20000)) return nullptr;
        setSecureLinkPeerDecision(host.get(), peer, decision);
        return peer;
    }
    // With encryption off, a station with the sender as its drone and both relay ports open, whose device
    // has been granted telemetry, video and control and controls; its entry (null when that did not come
    // about).
    SecureLinkPeer* startRelaysWithPlainController(const Sender& drone, Device* controller) {
        freshWithDrone(drone);
        SecureLinkPeer* peer = startRelaysWithPlainDevice(
            controller, SecureLinkGrantTelemetry | SecureLinkGrantVideo | SecureLinkGrantControl);
        if (!peer || !withDeviceUntil(controller, [&] { return host->controllingPeer == peer; }, 20000)) return nullptr;
        return peer;
    }
    // A station with the sender as its drone and the relay port open, whose device has been granted
    // telemetry and control and controls; its entry (null when that did not come about).
    SecureLinkPeer* startWithController(const Sender& drone, Device* controller, u16* relayPort) {
        freshWithDrone(drone);
        *relayPort = startRelay();
        if (::testing::Test::HasFailure()) return nullptr;
        SecureLinkPeer* peer = connectDevice(controller, *relayPort, SecureLinkGrantTelemetry | SecureLinkGrantControl);
        return withDeviceUntil(controller, [&] { return host->controllingPeer == peer; }) ? peer : nullptr;
    }
    // One frame of a flood: more than one bound of the flood's datagrams (flood(count) sends them), the
    // controller's sealed command, four bounds more, and the frame. Whether the command reached the
    // drone in that frame.
    template <typename Flood>
    bool commandThroughFlood(Device* controller, const Sender& drone, u8 mark, Flood flood) {
        crowdNow += 16667;
        flood(kSecureLinkDatagramsPerFrame + 16);
        Bytes command = commandLong(mark);
        controller->sendSealed(command);
        flood(4 * kSecureLinkDatagramsPerFrame);
        frame();
        std::vector<Bytes> before;
        return droneGot(drone, command, &before);
    }
    // The packet relayed to the peers granted the stream, as the drone link and the video streams relay.
    void relayToPeers(u32 stream, const Bytes& bytes) {
        Bytes copy = bytes;
        ByteWriter packet = makeByteWriter(copy.data(), (i64)copy.size());
        packet.length = (i64)copy.size();
        relayPacketToPeers(host.get(), stream == RelayStreamVideo ? videoRelaySocket.get() : relaySocket.get(), stream,
                           preferences.get(), &packet, crowdNow);
    }
    // The device and the station in turn, the packet relayed to the video peers each turn, until the
    // device's video record hands it on; false after about five seconds.
    bool videoReaches(Device* device, const Bytes& video) {
        std::vector<Bytes>* opened = &device->opened[RelayStreamVideo];
        opened->clear();
        return withDeviceUntil(device, [&] {
            relayToPeers(RelayStreamVideo, video);
            return std::find(opened->begin(), opened->end(), video) != opened->end();
        }, 20000);
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

// How many datagrams reach the socket before a marker that the station's socket sends it last (what
// that socket sent it before has come by then), the frame sending the marker; -1 when the marker never
// came.
template <typename Frame>
int datagramsBeforeMarker(Socket* station, Socket* socket, const FixedString* localAddress, Frame frame) {
    const Bytes marker = {0xEE, 'e', 'n', 'd'};
    AddressRecord endpoint = makeAddressRecord(4, kLoopback, socket->localPort);
    ByteWriter* slot = queueSocketPacket(&endpoint, station);
    if (!slot) return -1;
    appendBytes(marker.data(), (i64)marker.size(), slot);
    frame();
    int count = 0;
    for (int i = 0; i < 5000; i++) {
        SocketResult datagram;
        updateSocket(&datagram, socket, 4, SocketModeUdp, socket->boundPort, localAddress, nullptr, 0);
        if (datagram.received && Bytes(datagram.data, datagram.data + datagram.length) == marker) return count;
        if (datagram.received) count++;
        else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return -1;
}

// Whether a station's socket has room for two more small datagrams (its receive memory as the
// system counts it).
inline bool roomForTwoMore(const Socket* station) {
    u32 memory[SK_MEMINFO_VARS] = {};
    socklen_t size = sizeof(memory);
    if (getsockopt(station->handle, SOL_SOCKET, SO_MEMINFO, memory, &size) != 0) return false;
    return memory[SK_MEMINFO_RMEM_ALLOC] + 4096 <= memory[SK_MEMINFO_RCVBUF];
}

}  // namespace crowded
