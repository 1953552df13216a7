// A crew device's runs on real sockets on the loopback: where its password, state and telemetry go
// moves with nobody but the device, its new run is one entry whichever of its streams speaks first,
// a peer id it gave up by starting over lists nothing, and a device that fell silent is sent nothing.
// The sockets run on the test's clock; the tests wait for datagrams, never for time.
#include "CrowdedLinkRig.h"

namespace {

using namespace crowded;

const Bytes kVideo = {kQvVideo, 0, 1, 0x65, 0x88, 0x84};

// What only the entry of a device granted something is sent: its password, a host state with its
// grants, the drone's telemetry.
bool grantedOnly(const Bytes& got) {
    if (got.empty()) return false;
    if (got[0] == SecureLinkControlPassword || got[0] == kMavlink1Magic || got[0] == kMavlink2Magic) return true;
    return got[0] == SecureLinkHostState && got.size() > 1 && got[1] != 0;
}

// With encryption off, a neighbour at the controller's address, with two sockets of its own: (a) one
// hello under its own id from the controller's video endpoint, then its own MAVLink hello under it;
// (b) after the controller starts over it takes the video window under the new id, and two seconds
// later says hello under an id of its own from that video socket, then from its MAVLink socket. Each
// time it gets nothing only the controller's entry is sent, none of its commands reach the drone, and
// the controller controls.
TEST_F(CrowdedLink, ANeighbourNeverTakesADeviceThatStartsOver) {
    Sender drone;
    freshWithDrone(drone);
    Device controller;
    SecureLinkPeer* peer = startRelaysWithPlainDevice(
        &controller, SecureLinkGrantTelemetry | SecureLinkGrantVideo | SecureLinkGrantControl);
    ASSERT_NE(peer, nullptr);
    u16 relayPort = preferences->relayModePort, videoPort = videoRelayPort;
    ASSERT_TRUE(withDeviceUntil(&controller, [&] { return host->controllingPeer == peer; }, 20000));

    Sender neighbour, neighbourVideo;
    u8 key[32], privateKey[32];
    ASSERT_EQ(generateX25519KeyPair(privateKey, key), 0);
    // Two seconds of the neighbour's hellos under the id and its commands from its MAVLink socket, the
    // drone's telemetry relayed meanwhile; then the controller's commands.
    auto neighbourGetsNothing = [&](u16 neighbourId) {
        std::vector<Bytes> atDrone;
        for (int i = 0; i < 100; i++) {
            crowdNow += 20000;
            if (i % 25 == 0) neighbour.send(plainHello(neighbourId, key), relayPort);
            neighbour.send(commandLong((u8)(0x80 + i)), relayPort);
            if (i % 10 == 0) drone.send(heartbeat(0x0101), stationPort());
            controller.step();
            frame();
            Bytes got;
            while (drone.receive(&got)) atDrone.push_back(got);
            while (neighbour.receive(&got)) EXPECT_FALSE(grantedOnly(got)) << i << ": type " << (int)got[0];
        }
        for (const Bytes& got : atDrone) {
            for (int i = 0; i < 100; i++) EXPECT_NE(got, commandLong((u8)(0x80 + i))) << "a command of the neighbour's";
        }
        EXPECT_EQ(host->controllingPeer, peer);
        EXPECT_EQ(peer->peerId, controller.identity.peerId);
        bool reached = false;
        for (u8 mark = 0; mark < 50 && !reached; mark++) {
            crowdNow += 20000;
            controller.step();
            controller.sendSealed(commandLong(mark));  // plain: encryption is off
            frame();
            std::vector<Bytes> before;
            reached = droneGot(drone, commandLong(mark), &before);
        }
        EXPECT_TRUE(reached);
    };

    controller.sendFrom(RelayStreamVideo, plainHello(0x0BAD, key));
    ASSERT_TRUE(framesUntil([&] { return listedPeer(host.get(), 0x0BAD) != nullptr; }));
    neighbour.send(plainHello(0x0BAD, key), relayPort);
    {
        SCOPED_TRACE("a hello from the controller's video endpoint");
        neighbourGetsNothing(0x0BAD);
    }

    u16 earlierId = controller.identity.peerId;
    for (auto& record : controller.records) stopSecureLinkClient(record.get());
    AddressRecord videoHost = controller.hosts[RelayStreamVideo];
    controller.hosts[RelayStreamVideo] = AddressRecord{};  // its MAVLink record speaks first
    ASSERT_TRUE(withDeviceUntil(&controller, [&] { return peer->peerId != earlierId; }, 20000));
    ASSERT_TRUE(neighbourVideo.send(plainHello(peer->peerId, peer->publicKey), videoPort));
    ASSERT_TRUE(framesUntil([&] { return peer->ports[RelayStreamVideo] == neighbourVideo.port; }));
    controller.hosts[RelayStreamVideo] = videoHost;
    for (int i = 0; i < 100; i++) {  // two seconds
        crowdNow += 20000;
        controller.step();
        frame();
    }
    ASSERT_TRUE(neighbourVideo.send(plainHello(0x0BAE, key), videoPort));
    ASSERT_TRUE(framesUntil([&] { return listedPeer(host.get(), 0x0BAE) != nullptr; }));
    SCOPED_TRACE("after the video window");
    neighbourGetsNothing(0x0BAE);
}

// With encryption off, a device granted telemetry and video starts over with a new video socket, and
// its video hello comes before its MAVLink hello: one entry, with its grants, and its video at the new
// port.
TEST_F(CrowdedLink, ADeviceWhoseVideoHelloComesFirstIsOneEntry) {
    Device device;
    SecureLinkPeer* peer = startRelaysWithPlainDevice(&device, SecureLinkGrantTelemetry | SecureLinkGrantVideo);
    ASSERT_NE(peer, nullptr);
    crowdNow += kSecureLinkStartOverInterval;

    for (auto& record : device.records) stopSecureLinkClient(record.get());
    std::unique_ptr<Socket> earlierVideo = std::move(device.sockets[RelayStreamVideo]);  // open: its port stays taken
    device.sockets[RelayStreamVideo] = std::make_unique<Socket>();
    device.sockets[RelayStreamVideo]->clock = crowdClock;
    AddressRecord mavlinkHost = device.hosts[RelayStreamMavlink];
    device.hosts[RelayStreamMavlink] = AddressRecord{};  // its video record speaks first
    u16 earlierId = device.identity.peerId;
    ASSERT_TRUE(withDeviceUntil(&device, [&] {
        return device.identity.peerId != earlierId && listedPeer(host.get(), device.identity.peerId) != nullptr;
    }, 20000));
    device.hosts[RelayStreamMavlink] = mavlinkHost;
    std::vector<Bytes>* opened = &device.opened[RelayStreamVideo];
    opened->clear();
    EXPECT_TRUE(withDeviceUntil(&device, [&] {
        relayToPeers(RelayStreamVideo, kVideo);
        return !opened->empty() && opened->back() == kVideo;
    }, 20000));
    closeSocket(earlierVideo.get());
    EXPECT_EQ(listedEntries(host.get()), 1);
    EXPECT_EQ(listedPeer(host.get(), device.identity.peerId), peer);
    EXPECT_EQ(peer->userDecision, (u32)(SecureLinkGrantTelemetry | SecureLinkGrantVideo));
}

// Encryption on: a granted device starts over and its new run is listed, but starts over again before
// it seals a hello; the run after proves the password at the same endpoint. Four seconds later the
// device is one entry, with its grant.
TEST_F(CrowdedLink, ADeviceStartedTwiceInARowIsOneEntry) {
    u16 relayPort = startRelay();
    if (HasFailure()) return;
    Device device;
    SecureLinkPeer* peer = connectDevice(&device, relayPort, SecureLinkGrantTelemetry);
    if (HasFailure()) return;
    ASSERT_TRUE(withDeviceUntil(&device, [&] { return peer->passwordProved != 0; }, 20000));

    stopSecureLinkClient(device.records[RelayStreamMavlink].get());
    device.step();
    u16 listedRun = device.identity.peerId;
    ASSERT_TRUE(framesUntil([&] { return listedPeer(host.get(), listedRun) != nullptr; }));
    stopSecureLinkClient(device.records[RelayStreamMavlink].get());
    ASSERT_TRUE(withDeviceUntil(&device, [&] {
        const SecureLinkPeer* entry = listedPeer(host.get(), device.identity.peerId);
        return device.identity.peerId != listedRun && entry && entry->userDecision != 0;
    }, 20000));
    for (int i = 0; i < 200; i++) {  // four seconds
        crowdNow += 20000;
        device.step();
        frame();
    }
    EXPECT_EQ(listedEntries(host.get()), 1);
    const SecureLinkPeer* entry = listedPeer(host.get(), device.identity.peerId);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->userDecision, (u32)SecureLinkGrantTelemetry);
}

// With encryption on and off: a neighbour at a granted device's address replays the hellos the
// device sent, from another port, while the device starts over. Nothing is ever listed at the
// neighbour's port, and the device is one entry, with its grant.
TEST_F(CrowdedLink, AHelloUnderAnIdADeviceGaveUpIsAReplay) {
    for (bool plain : {false, true}) {
        SCOPED_TRACE(plain ? "encryption off" : "encryption on");
        if (relaySocket) closeSocket(relaySocket.get());
        preferences->relayModeDisableEncryption = plain;
        u16 relayPort = startRelay();
        if (HasFailure()) return;
        Device device;
        SecureLinkPeer* peer = plain ? listPlainDevice(&device, relayPort) : connectDevice(&device, relayPort, 0);
        ASSERT_NE(peer, nullptr);
        setSecureLinkPeerDecision(host.get(), peer, SecureLinkGrantTelemetry);
        ASSERT_TRUE(withDeviceUntil(&device, [&] { return peer->passwordProved != 0; }, 20000));
        crowdNow += kSecureLinkStartOverInterval;
        std::vector<Bytes> hellos;
        for (const Bytes& sent : device.sent[RelayStreamMavlink]) {
            if (sent[0] == SecureLinkHello) hellos.push_back(sent);
        }

        Sender neighbour;
        stopSecureLinkClient(device.records[RelayStreamMavlink].get());
        for (int i = 0; i < 250; i++) {  // five seconds
            crowdNow += 20000;
            for (const Bytes& hello : hellos) neighbour.send(hello, relayPort);
            device.step();
            frame();
            for (const SecureLinkPeer& entry : host->peers) {
                ASSERT_FALSE(entry.address.family && entry.address.port == neighbour.port) << i;
            }
        }
        EXPECT_EQ(listedEntries(host.get()), 1);
        const SecureLinkPeer* entry = listedPeer(host.get(), device.identity.peerId);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->userDecision, (u32)SecureLinkGrantTelemetry);
        EXPECT_GT(host->retiredHellos[RelayStreamMavlink], 0u);
    }
}

// With encryption off, a device granted telemetry and video stops saying hello: four seconds later
// neither reaches its sockets, and with its next hello both do again.
TEST_F(CrowdedLink, ASilentDeviceIsSentNothing) {
    Device device;
    SecureLinkPeer* peer = startRelaysWithPlainDevice(&device, SecureLinkGrantTelemetry | SecureLinkGrantVideo);
    ASSERT_NE(peer, nullptr);
    // A HEARTBEAT and a video packet relayed, and sent by a frame: how many of them the device got.
    auto relayedGot = [&] {
        for (auto& opened : device.opened) opened.clear();
        relayToPeers(RelayStreamMavlink, heartbeat(0x0101));
        relayToPeers(RelayStreamVideo, kVideo);
        frame();
        int got = 0;
        for (u32 stream = 0; stream < kSecureLinkStreams; stream++) {
            device.take(stream);
            for (const Bytes& opened : device.opened[stream]) got += opened == heartbeat(0x0101) || opened == kVideo;
        }
        return got;
    };
    ASSERT_TRUE(withDeviceUntil(&device, [&] { return relayedGot() == 2; }, 20000));

    for (int i = 0; i < 40; i++) {  // four seconds without its hellos
        crowdNow += 100000;
        frame();
    }
    EXPECT_EQ(relayedGot(), 0);
    EXPECT_TRUE(withDeviceUntil(&device, [&] { return relayedGot() == 2; }, 20000));
}

}  // namespace
