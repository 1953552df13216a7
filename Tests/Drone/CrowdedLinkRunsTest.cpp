// A crew device's runs on real sockets on the loopback: where its password, state, telemetry and
// video go moves with nobody but the device, its new run is one entry whichever of its streams speaks
// first and however late, a peer id it gave up by starting over lists nothing, a port that fell silent
// is sent nothing, an entry that proved nothing or fell silent keeps no port from it, and a copy of its
// hellos holds it out only while it lasts. The sockets run on the test's clock; the tests wait for
// datagrams, never for time.
#include "CrowdedLinkRig.h"
#include "Network/SecureLinkFormat.h"
#include "Platform/Socket.h"

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
// (b) after the controller starts over it says hello under the new id from its video socket first
// (which then gets the video), and two seconds later under an id of its own from that video socket,
// then from its MAVLink socket. Each time it gets nothing only the controller's entry is sent, none of
// its commands reach the drone, and the controller controls.
TEST_F(CrowdedLink, ANeighbourNeverTakesADeviceThatStartsOver) {
    Sender drone;
    Device controller;
    SecureLinkPeer* peer = startRelaysWithPlainController(drone, &controller);
    ASSERT_NE(peer, nullptr);
    u16 relayPort = preferences->relayModePort, videoPort = videoRelayPort;

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
    neighbour.send(plainHello(0x0BAD, key), relayPort);
    ASSERT_TRUE(framesUntil([&] { return listedPeer(host.get(), 0x0BAD) != nullptr; }));
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
    ASSERT_TRUE(withDeviceUntil(&controller, [&] { return peer->ports[RelayStreamVideo] == neighbourVideo.port; }, 20000));
    controller.hosts[RelayStreamVideo] = videoHost;
    for (int i = 0; i < 100; i++) {  // two seconds
        crowdNow += 20000;
        controller.step();
        frame();
    }
    ASSERT_TRUE(neighbourVideo.send(plainHello(0x0BAE, key), videoPort));
    neighbour.send(plainHello(0x0BAE, key), relayPort);
    ASSERT_TRUE(framesUntil([&] { return listedPeer(host.get(), 0x0BAE) != nullptr; }));
    SCOPED_TRACE("after the new run's video hello");
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
// neither reaches its sockets, and with its next hello both do again. With encryption on, once its
// sockets have been silent for the silence time they get not even the host key.
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

    preferences->relayModeDisableEncryption = 0;
    ASSERT_TRUE(withDeviceUntil(&device, [&] { return peer->verified && relayedGot() == 2; }, 20000));
    Socket* relays[kSecureLinkStreams] = {relaySocket.get(), videoRelaySocket.get()};
    auto sentSince = [&](u64 duration, u32 stream) {  // what the stream's socket got over that time
        for (u64 end = crowdNow + duration; crowdNow < end;) {
            crowdNow += 100000;
            frame();
        }
        Socket* socket = device.sockets[stream].get();
        return datagramsBeforeMarker(relays[stream], socket, &device.localAddress, [&] { frame(); });
    };
    for (u32 stream = 0; stream < kSecureLinkStreams; stream++) {
        ASSERT_GE(sentSince(kSecureLinkPeerSilence + 500000, stream), 0);
        EXPECT_EQ(sentSince(2 * kSecureLinkKeyInterval, stream), 0) << "a host key to a silent port, stream " << stream;
    }
}

// With encryption off, a device granted telemetry and video stops its video record: a few seconds
// later its video socket is sent nothing. It starts over at its MAVLink endpoint and its video record
// says hello from a new socket 4 s later, and in a second round 30 s later: the relayed video arrives
// there, and nothing more at the socket its earlier video record had.
TEST_F(CrowdedLink, AVideoRecordThatSpeaksLateGetsItsVideo) {
    Device device;
    SecureLinkPeer* peer = startRelaysWithPlainDevice(&device, SecureLinkGrantTelemetry | SecureLinkGrantVideo);
    ASSERT_NE(peer, nullptr);
    for (u64 late : {4000000ull, 30000000ull}) {
        SCOPED_TRACE(late);
        AddressRecord videoHost = device.hosts[RelayStreamVideo];
        stopSecureLinkClient(device.records[RelayStreamVideo].get());
        device.hosts[RelayStreamVideo] = AddressRecord{};
        std::unique_ptr<Socket> earlier = std::move(device.sockets[RelayStreamVideo]);
        device.sockets[RelayStreamVideo] = std::make_unique<Socket>();
        device.sockets[RelayStreamVideo]->clock = crowdClock;
        auto run = [&](u64 duration) {
            for (u64 end = crowdNow + duration; crowdNow < end;) {
                crowdNow += 100000;
                device.step();
                relayToPeers(RelayStreamVideo, kVideo);
                frame();
            }
        };
        // What reaches the earlier socket before a marker that the video relay port sends it last.
        auto beforeMarker = [&] {
            return datagramsBeforeMarker(videoRelaySocket.get(), earlier.get(), &device.localAddress, [&] { frame(); });
        };
        run(4000000);
        ASSERT_GE(beforeMarker(), 0);
        run(1000000);
        EXPECT_EQ(beforeMarker(), 0) << "a silent video socket";

        stopSecureLinkClient(device.records[RelayStreamMavlink].get());
        run(late);
        device.hosts[RelayStreamVideo] = videoHost;
        EXPECT_TRUE(videoReaches(&device, kVideo));
        EXPECT_EQ(beforeMarker(), 0) << "the earlier video socket";
        closeSocket(earlier.get());
    }
    EXPECT_EQ(listedEntries(host.get()), 1);
    EXPECT_EQ(listedPeer(host.get(), device.identity.peerId), peer);
}

// With encryption off, a neighbour lists an id of its own from its video socket, and one hello under
// that id comes from the device's MAVLink endpoint: the device's entry starts over under it, but the
// neighbour's socket is sent no video and no state with grants, and the device's next hellos bring
// its video back.
TEST_F(CrowdedLink, AForgedStartOverSendsANeighbourNoVideo) {
    Device device;
    SecureLinkPeer* peer = startRelaysWithPlainDevice(&device, SecureLinkGrantTelemetry | SecureLinkGrantVideo);
    ASSERT_NE(peer, nullptr);
    crowdNow += kSecureLinkStartOverInterval;
    Sender neighbourVideo;
    u8 key[32], privateKey[32];
    ASSERT_EQ(generateX25519KeyPair(privateKey, key), 0);
    ASSERT_TRUE(neighbourVideo.send(plainHello(0x0BAD, key), videoRelayPort));
    ASSERT_TRUE(framesUntil([&] { return listedPeer(host.get(), 0x0BAD) != nullptr; }));
    device.sendFrom(RelayStreamMavlink, plainHello(0x0BAD, key));
    ASSERT_TRUE(framesUntil([&] { return peer->peerId == 0x0BAD; }));

    device.opened[RelayStreamVideo].clear();
    bool videoBack = false;
    for (int i = 0; i < 200 && !videoBack; i++) {  // four seconds at most
        crowdNow += 20000;
        if (i % 25 == 0) neighbourVideo.send(plainHello(0x0BAD, key), videoRelayPort);
        device.step();
        relayToPeers(RelayStreamVideo, kVideo);
        frame();
        Bytes got;
        while (neighbourVideo.receive(&got)) {
            EXPECT_NE(got, kVideo) << i;
            EXPECT_FALSE(got[0] == SecureLinkHostState && got[1] != 0) << i;
        }
        const std::vector<Bytes>& opened = device.opened[RelayStreamVideo];
        videoBack = std::find(opened.begin(), opened.end(), kVideo) != opened.end();
    }
    EXPECT_TRUE(videoBack);
    EXPECT_EQ(peer->peerId, device.identity.peerId);
}

// With encryption off, a hello under a new peer id from a device's video endpoint lists nothing; the
// device's own new run whose video hello comes first from that socket is one entry, with its grants
// and its video.
TEST_F(CrowdedLink, ADevicesEndpointListsNoOtherEntry) {
    Device device;
    SecureLinkPeer* peer = startRelaysWithPlainDevice(&device, SecureLinkGrantTelemetry | SecureLinkGrantVideo);
    ASSERT_NE(peer, nullptr);
    crowdNow += kSecureLinkStartOverInterval;
    const u8 key[32] = {7};
    device.sendFrom(RelayStreamVideo, plainHello(0x0BAD, key));
    ASSERT_TRUE(framesUntil([&] { return host->hellosAtOtherEntries[RelayStreamVideo] == 1; }));
    EXPECT_EQ(listedEntries(host.get()), 1);

    for (auto& record : device.records) stopSecureLinkClient(record.get());
    AddressRecord mavlinkHost = device.hosts[RelayStreamMavlink];
    device.hosts[RelayStreamMavlink] = AddressRecord{};  // its video record speaks first
    u16 earlierId = device.identity.peerId;
    ASSERT_TRUE(withDeviceUntil(&device, [&] { return host->hellosAtOtherEntries[RelayStreamVideo] == 2; }, 20000));
    EXPECT_NE(device.identity.peerId, earlierId);
    device.hosts[RelayStreamMavlink] = mavlinkHost;
    EXPECT_TRUE(videoReaches(&device, kVideo));
    EXPECT_EQ(listedEntries(host.get()), 1);
    EXPECT_EQ(listedPeer(host.get(), device.identity.peerId), peer);
    EXPECT_EQ(peer->userDecision, (u32)(SecureLinkGrantTelemetry | SecureLinkGrantVideo));
}

// With encryption off, a new entry at a granted device's address proves the device's password: from
// its video socket, on the video stream, it takes nothing; from its own MAVLink socket, on the MAVLink
// stream, it takes the device's entry (the device started over elsewhere).
TEST_F(CrowdedLink, APlainPasswordIsTakenOnlyOnTheMavlinkStream) {
    Device device;
    SecureLinkPeer* peer = startRelaysWithPlainDevice(&device, SecureLinkGrantTelemetry | SecureLinkGrantVideo);
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(withDeviceUntil(&device, [&] { return peer->passwordProved != 0; }, 20000));
    Sender newVideo, newMavlink;
    u8 key[32], privateKey[32];
    ASSERT_EQ(generateX25519KeyPair(privateKey, key), 0);
    ASSERT_TRUE(newVideo.send(plainHello(0x0C0C, key), videoRelayPort));
    SecureLinkPeer* entry = nullptr;
    ASSERT_TRUE(framesUntil([&] { return (entry = listedPeer(host.get(), 0x0C0C)) != nullptr; }));
    auto provingHello = [&](u32 stream) {
        Bytes hello = plainHello(0x0C0C, key);
        hello.resize(hello.size() + kSecureLinkProofBytes + 1);
        secureLinkControlProof(hello.data() + kHelloHeader, peer->password, identity.publicKey, key, entry->hostNonce,
                               (u8)stream);
        return hello;
    };

    u32 heard = entry->counter;
    crowdNow += 20000;
    ASSERT_TRUE(newVideo.send(provingHello(RelayStreamVideo), videoRelayPort));
    ASSERT_TRUE(framesUntil([&] { return entry->counter > heard; }));
    EXPECT_EQ(entry->userDecision, 0u);
    EXPECT_EQ(listedPeer(host.get(), device.identity.peerId), peer);

    u32 decision = peer->userDecision;
    crowdNow += 20000;
    ASSERT_TRUE(newMavlink.send(provingHello(RelayStreamMavlink), preferences->relayModePort));
    ASSERT_TRUE(framesUntil([&] { return entry->userDecision != 0; }));
    EXPECT_EQ(entry->userDecision, decision);
    EXPECT_EQ(listedPeer(host.get(), device.identity.peerId), nullptr);
}

// With encryption off, a device granted telemetry and video: a start-over forged from its MAVLink
// endpoint and, at the same moment, a hello under another new id forged from its video socket, whose
// entry then says hello once a second from a port of its own. The device's next hellos bring its video
// back to its video socket within a few seconds, and the neighbour's port gets none of it. Then a
// device restarted on a port the system chose, whose new video socket has its earlier run's video
// port, gets its video there within a few seconds of the user's grant.
TEST_F(CrowdedLink, AHelloForgedAtAVideoSocketDuringAStartOverKeepsNoVideoAway) {
    Device device;
    SecureLinkPeer* peer = startRelaysWithPlainDevice(&device, SecureLinkGrantTelemetry | SecureLinkGrantVideo);
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(videoReaches(&device, kVideo));
    crowdNow += kSecureLinkStartOverInterval;
    u16 videoSocket = device.sockets[RelayStreamVideo]->localPort;
    u8 key[32], privateKey[32];
    ASSERT_EQ(generateX25519KeyPair(privateKey, key), 0);
    device.sendFrom(RelayStreamMavlink, plainHello(0x0BAD, key));
    ASSERT_TRUE(framesUntil([&] { return peer->peerId == 0x0BAD; }));
    device.sendFrom(RelayStreamVideo, plainHello(0x0BAE, key));
    SecureLinkPeer* forged = nullptr;
    ASSERT_TRUE(framesUntil([&] { return (forged = listedPeer(host.get(), 0x0BAE)) != nullptr; }));
    ASSERT_EQ(forged->ports[RelayStreamVideo], videoSocket);

    Sender neighbour;
    u64 resumed = crowdNow;
    device.opened[RelayStreamVideo].clear();
    bool videoBack = false;
    for (int i = 0; i < 250 && !videoBack; i++) {  // five seconds at most
        crowdNow += 20000;
        if (i % 50 == 0) neighbour.send(plainHello(0x0BAE, key), preferences->relayModePort);
        device.step();
        relayToPeers(RelayStreamVideo, kVideo);
        frame();
        Bytes got;
        while (neighbour.receive(&got)) EXPECT_NE(got, kVideo) << i;
        const std::vector<Bytes>& opened = device.opened[RelayStreamVideo];
        videoBack = std::find(opened.begin(), opened.end(), kVideo) != opened.end();
    }
    EXPECT_TRUE(videoBack);
    EXPECT_LE(crowdNow - resumed, kSecureLinkPeerSilence);
    EXPECT_EQ(peer->ports[RelayStreamVideo], videoSocket);
    ASSERT_EQ(listedPeer(host.get(), 0x0BAE), forged);
    EXPECT_NE(forged->ports[RelayStreamVideo], videoSocket);

    Device second;
    second.identity.peerId = 0x0808;
    second.localAddress = makeString("127.0.0.5");
    for (u32 stream = 0; stream < kSecureLinkStreams; stream++) second.hosts[stream] = device.hosts[stream];
    SecureLinkPeer* earlier = nullptr;
    ASSERT_TRUE(withDeviceUntil(&second, [&] {
        earlier = listedPeer(host.get(), 0x0808);
        return earlier && earlier->ports[RelayStreamVideo] != 0;
    }, 20000));
    setSecureLinkPeerDecision(host.get(), earlier, SecureLinkGrantTelemetry | SecureLinkGrantVideo);
    ASSERT_TRUE(videoReaches(&second, kVideo));
    // It quits, and four seconds later starts again: a new identity, its MAVLink socket on another
    // port, its video socket on the port its earlier run's had.
    closeSocket(second.sockets[RelayStreamVideo].get());
    for (int i = 0; i < 40; i++) {
        crowdNow += 100000;
        frame();
    }
    Device restarted;
    restarted.identity.peerId = 0x0809;
    restarted.localAddress = second.localAddress;
    for (u32 stream = 0; stream < kSecureLinkStreams; stream++) restarted.hosts[stream] = second.hosts[stream];
    restarted.localPorts[RelayStreamVideo] = second.sockets[RelayStreamVideo]->localPort;
    SecureLinkPeer* entry = nullptr;
    ASSERT_TRUE(withDeviceUntil(&restarted, [&] { return (entry = listedPeer(host.get(), 0x0809)) != nullptr; }));
    ASSERT_EQ(restarted.sockets[RelayStreamVideo]->localPort, restarted.localPorts[RelayStreamVideo]);
    setSecureLinkPeerDecision(host.get(), entry, SecureLinkGrantTelemetry | SecureLinkGrantVideo);
    u64 granted = crowdNow;
    EXPECT_TRUE(videoReaches(&restarted, kVideo));
    EXPECT_LE(crowdNow - granted, kSecureLinkPeerSilence);
    EXPECT_EQ(entry->ports[RelayStreamVideo], restarted.localPorts[RelayStreamVideo]);
}

// With encryption off, two devices at one address: one listed on its MAVLink stream only, the other
// granted video and heard on both streams. A hello under the first one's id from the second one's
// video endpoint sets the first one no video port, and the second keeps its video.
TEST_F(CrowdedLink, AHelloFromAnotherEntrysEndpointSetsNoPort) {
    Device granted, listed;
    SecureLinkPeer* peer = startRelaysWithPlainDevice(&granted, SecureLinkGrantTelemetry | SecureLinkGrantVideo);
    ASSERT_NE(peer, nullptr);
    listed.identity.peerId = 0x0808;
    SecureLinkPeer* other = listPlainDevice(&listed, preferences->relayModePort);
    ASSERT_NE(other, nullptr);
    ASSERT_TRUE(videoReaches(&granted, kVideo));
    u64 counted = host->hellosAtOtherEntries[RelayStreamVideo];
    granted.sendFrom(RelayStreamVideo, plainHello(0x0808, listed.identity.publicKey));
    ASSERT_TRUE(framesUntil([&] { return host->hellosAtOtherEntries[RelayStreamVideo] == counted + 1; }));
    EXPECT_EQ(other->ports[RelayStreamVideo], 0);
    EXPECT_EQ(peer->ports[RelayStreamVideo], granted.sockets[RelayStreamVideo]->localPort);
    EXPECT_TRUE(videoReaches(&granted, kVideo));
}

// The controller, its video record running, and another device of its address, while the host starts
// again (its listener and control password kept) and a neighbour at their address copies a hello of the
// controller's from a port of its own, each copy ahead of the controller's next hello: with encryption
// off its latest hello once a second, then every frame, then its last hello before the restart every
// frame; with encryption on its latest (sealed) hello every frame. Within a few seconds of the host's
// start, while the copies go on, the controller is listed at its own port and controls; the
// neighbour's port never got its password or telemetry, and the device is one entry.
TEST_F(CrowdedLink, ACopiedHelloAcrossAHostRestartHoldsNoDeviceOut) {
    Sender drone;
    Device controller, other;
    ASSERT_NE(startRelaysWithPlainController(drone, &controller), nullptr);
    u16 relayPort = preferences->relayModePort;
    other.identity.peerId = 0x0808;
    ASSERT_NE(listPlainDevice(&other, relayPort), nullptr);
    Sender neighbour;
    auto latestHello = [&] {  // as anyone at the controller's address reads it
        const std::vector<Bytes>& sent = controller.sent[RelayStreamMavlink];
        for (auto it = sent.rbegin(); it != sent.rend(); ++it) {
            if ((*it)[0] == SecureLinkHello) return *it;
        }
        return Bytes{SecureLinkHello};
    };
    auto restartWithCopies = [&](int copyEvery, bool earlierHello) {
        Bytes earlier = latestHello();
        auto copy = [&] { return earlierHello ? earlier : latestHello(); };
        host = std::make_unique<SecureLinkHost>();
        ASSERT_EQ(generateX25519KeyPair(identity.privateKey, identity.publicKey), 0);
        host->identity = &identity;
        inputs.relayHost = host.get();
        u64 started = crowdNow;
        ASSERT_TRUE(neighbour.send(copy(), relayPort));
        ASSERT_TRUE(framesUntil([&] {
            const SecureLinkPeer* copied = listedPeer(host.get(), controller.identity.peerId);
            return copied && copied->address.port == neighbour.port;
        }));
        u16 own = controller.sockets[RelayStreamMavlink]->localPort;
        int turn = 0;
        EXPECT_TRUE(withDeviceUntil(&controller, [&] {
            other.step();
            if (turn % copyEvery == 0) neighbour.send(copy(), relayPort);
            if (turn++ % 10 == 0) drone.send(heartbeat(0x0101), stationPort());
            Bytes got;
            while (neighbour.receive(&got)) EXPECT_FALSE(grantedOnly(got)) << "type " << (int)got[0];
            const SecureLinkPeer* controlling = host->controllingPeer;
            return controlling && controlling->peerId == controller.identity.peerId &&
                   controlling->address.port == own && connection->relayControlled;
        }, 20000));
        EXPECT_LE(crowdNow - started, 2 * kSecureLinkPeerSilence + 2 * kSecureLinkHelloInterval);
        i32 entries = 0;
        for (const SecureLinkPeer& entry : host->peers) entries += entry.address.family && entry.address.port == own;
        EXPECT_EQ(entries, 1);
    };
    {
        SCOPED_TRACE("a copy a second");
        restartWithCopies(50, false);
    }
    {
        SCOPED_TRACE("a copy a frame");
        restartWithCopies(1, false);
    }
    {
        SCOPED_TRACE("the earlier hello a frame");
        restartWithCopies(1, true);
    }
    preferences->relayModeDisableEncryption = 0;  // the controller gets its keys, and its password sealed
    ASSERT_TRUE(withDeviceUntil(&controller, [&] {
        other.step();
        return readLinkU64(controller.identity.relayPassword) && host->controllingPeer &&
               host->controllingPeer->verified;
    }, 20000));
    {
        SCOPED_TRACE("encryption on, a copy a frame");
        restartWithCopies(1, false);
    }
}

// With encryption off, the controller granted telemetry, video and control. The host stops relaying
// video for 5 s: the controller, whose MAVLink record hears the host, does not start over. Then one send
// of its MAVLink socket fails (the socket then opens on a port the system picks), then one of its video
// socket, then one of each. Each time its commands reach the drone again within 2 s, and so does its
// video; and the drone never goes longer than the controller's hold and a HEARTBEAT interval without the
// controller's commands or the station's own HEARTBEAT (never nobody in control).
TEST_F(CrowdedLink, ASocketReopenedOnANewPortGetsItsLinkBack) {
    Sender drone;
    Device controller;
    SecureLinkPeer* peer = startRelaysWithPlainController(drone, &controller);
    ASSERT_NE(peer, nullptr);
    u32 generation = controller.identity.generation;
    std::unique_ptr<Socket> unserved = std::move(videoRelaySocket);
    u64 stopped = crowdNow;
    ASSERT_TRUE(withDeviceUntil(&controller, [&] { return crowdNow - stopped >= 5000000; }, 20000));
    videoRelaySocket = std::move(unserved);
    EXPECT_EQ(controller.identity.generation, generation);
    EXPECT_EQ(host->controllingPeer, peer);

    u64 controlled = crowdNow;  // when the drone last got the controller's command or the station's HEARTBEAT
    u8 mark = 0;
    for (std::vector<u32> failing : {std::vector<u32>{RelayStreamMavlink}, std::vector<u32>{RelayStreamVideo},
                                     std::vector<u32>{RelayStreamMavlink, RelayStreamVideo}}) {
        SCOPED_TRACE(failing.size() == 2 ? "both" : failing[0] == RelayStreamVideo ? "video" : "MAVLink");
        for (u32 stream : failing) {
            injectSocketFailure(PlatformSocketOpSend, kSocketErrorNetworkUnreachable);
            controller.sendFrom(stream, stream == RelayStreamVideo ? Bytes{kQvRequest} : commandLong(0));
            ASSERT_EQ(controller.sockets[stream]->state, (u32)SocketStateNoHandle);
        }
        std::vector<Bytes> commands;
        bool commanded = false, video = false;
        u64 failed = crowdNow;
        ASSERT_TRUE(withDeviceUntil(&controller, [&] {
            Bytes got;
            while (drone.receive(&got)) {
                bool command = std::find(commands.begin(), commands.end(), got) != commands.end();
                bool ownHeartbeat = got.size() > 5 && got[0] == kMavlink1Magic && got[3] == 255 && got[5] == 0;
                commanded = commanded || command;
                if (command || ownHeartbeat) controlled = crowdNow;
            }
            EXPECT_LE(crowdNow - controlled, kRelayControlHoldTime + kGcsHeartbeatInterval + 100000);
            std::vector<Bytes>* opened = &controller.opened[RelayStreamVideo];
            video = video || std::find(opened->begin(), opened->end(), kVideo) != opened->end();
            opened->clear();
            commands.push_back(commandLong(++mark));
            controller.sendFrom(RelayStreamMavlink, commands.back());
            relayToPeers(RelayStreamVideo, kVideo);
            return commanded && video;
        }, 20000));
        EXPECT_LE(crowdNow - failed, 2000000u);
    }
    EXPECT_EQ(listedEntries(host.get()), 1);

    // On a full list (five devices of other addresses granted telemetry beside it): a hello under a new
    // peer id on the video relay port from a granted device's address leaves the spare place free (a new
    // entry proves a password only on the MAVLink stream). One send of the controller's MAVLink socket
    // fails: its commands reach the drone again within 2 s. Then a granted device's app starts again (it
    // heard its password in plain: its new run cannot prove), and 5 s later the controller's MAVLink send
    // fails again: its commands reach the drone within 5 s.
    std::vector<std::unique_ptr<Device>> others = grantedDevicesElsewhere(kSecureLinkPeers - 1, preferences->relayModePort);
    ASSERT_EQ(listedEntries(host.get()), kSecureLinkPeers);
    Sender videoHello("127.0.0.3");
    u64 unlisted = host->unlistedHellos[RelayStreamVideo];
    ASSERT_TRUE(videoHello.send(plainHello(0x0C00, controller.identity.publicKey), videoRelayPort));
    ASSERT_TRUE(framesUntil([&] { return host->unlistedHellos[RelayStreamVideo] > unlisted; }));
    EXPECT_EQ(host->spare.address.family, 0);
    auto commandsBackAfterAFailedSend = [&] {
        injectSocketFailure(PlatformSocketOpSend, kSocketErrorNetworkUnreachable);
        controller.sendFrom(RelayStreamMavlink, commandLong(0));
        EXPECT_EQ(controller.sockets[RelayStreamMavlink]->state, (u32)SocketStateNoHandle);
        u64 failed = crowdNow;
        std::vector<Bytes> commands;
        EXPECT_TRUE(withDeviceUntil(&controller, [&] {
            for (auto& other : others) other->step();
            Bytes got;
            while (drone.receive(&got)) {
                if (std::find(commands.begin(), commands.end(), got) != commands.end()) return true;
            }
            commands.push_back(commandLong(++mark));
            controller.sendFrom(RelayStreamMavlink, commands.back());
            return false;
        }, 20000));
        return crowdNow - failed;
    };
    EXPECT_LE(commandsBackAfterAFailedSend(), 2000000u);
    others[0]->restart(0x0C01);
    u64 unproved = host->spareRunsUnproved;
    u64 restarted = crowdNow;
    ASSERT_TRUE(withDeviceUntil(&controller, [&] {
        for (auto& other : others) other->step();
        return crowdNow - restarted >= 5000000;
    }, 20000));
    EXPECT_GT(host->spareRunsUnproved, unproved);  // the restarted device's run held the spare place
    EXPECT_LE(commandsBackAfterAFailedSend(), 5000000u);

    // Every hello it sends for three seconds fails: it starts over once a second at most.
    generation = controller.identity.generation;
    for (u64 start = crowdNow; crowdNow - start < 3000000;) {
        crowdNow += 20000;
        for (u32 stream = 0; stream < kSecureLinkStreams; stream++) {
            sendSecureLinkHello(controller.records[stream].get(), &controller.hosts[stream],
                                controller.sockets[stream].get(), stream, crowdNow);
            injectSocketFailure(PlatformSocketOpSend, kSocketErrorNetworkUnreachable);
            controller.take(stream);
            clearInjectedSocketFailures();
        }
        frame();
    }
    EXPECT_LE(controller.identity.generation - generation, 4u);
}

// With encryption off, an undecided device says hello while a neighbour at its address copies its
// latest hello from a port of its own once a second. The device's hellos stop reaching the host for
// four seconds and come back; the user grants the entry: it stays at the device's port, which gets the
// drone's telemetry, and the neighbour's port gets no password, state with grants or telemetry.
TEST_F(CrowdedLink, ACopyOfAPausedDevicesHellosTakesNothing) {
    Sender drone;
    freshWithDrone(drone);
    u16 relayPort = startRelay();
    if (HasFailure()) return;
    Device device;
    SecureLinkPeer* peer = listPlainDevice(&device, relayPort);
    ASSERT_NE(peer, nullptr);
    u16 own = device.sockets[RelayStreamMavlink]->localPort;
    Sender neighbour;
    auto copyAndCheck = [&](int turn) {
        const std::vector<Bytes>& sent = device.sent[RelayStreamMavlink];
        auto hello = std::find_if(sent.rbegin(), sent.rend(), [](const Bytes& b) { return b[0] == SecureLinkHello; });
        if (turn % 50 == 0 && hello != sent.rend()) neighbour.send(*hello, relayPort);
        if (turn % 10 == 0) drone.send(heartbeat(0x0101), stationPort());
        Bytes got;
        while (neighbour.receive(&got)) EXPECT_FALSE(grantedOnly(got)) << "type " << (int)got[0];
    };
    for (int turn = 0; turn < 300; turn++) {  // six seconds, the device's hellos held back in the middle four
        crowdNow += 20000;
        copyAndCheck(turn);
        if (turn < 50 || turn >= 250) device.step();
        frame();
    }
    setSecureLinkPeerDecision(host.get(), peer, SecureLinkGrantTelemetry);
    std::vector<Bytes>* opened = &device.opened[RelayStreamMavlink];
    opened->clear();
    int turn = 0;
    EXPECT_TRUE(withDeviceUntil(&device, [&] {
        copyAndCheck(turn++);
        return std::find(opened->begin(), opened->end(), heartbeat(0x0101)) != opened->end();
    }, 20000));
    for (; turn < 150; turn++) {  // three seconds more of copies
        crowdNow += 20000;
        copyAndCheck(turn);
        device.step();
        frame();
    }
    EXPECT_EQ(peer->address.port, own);
}

// Encryption on: the controller and five devices of other addresses granted telemetry fill the list.
// The controller's app starts again (a fresh key pair and peer id, the password its app cache keeps,
// its sockets on ports the system picks): it controls again within 2 s, and is one entry. It starts
// again while the host runs a frame every 2 s: it controls within four of them.
TEST_F(CrowdedLink, ARestartedControllerOnAFullListControlsAgain) {
    Sender drone;
    Device controller;
    u16 relayPort = 0;
    ASSERT_NE(startWithController(drone, &controller, &relayPort), nullptr);
    std::vector<std::unique_ptr<Device>> others = grantedDevicesElsewhere(kSecureLinkPeers - 1, relayPort);
    ASSERT_EQ(listedEntries(host.get()), kSecureLinkPeers);

    controller.restart(0x0708);
    u64 restarted = crowdNow;
    EXPECT_TRUE(withDeviceUntil(&controller, [&] {
        for (auto& other : others) other->step();
        const SecureLinkPeer* controlling = host->controllingPeer;
        return controlling && controlling->peerId == 0x0708;
    }, 20000));
    EXPECT_LE(crowdNow - restarted, 2000000u);
    i32 entries = 0;
    for (const SecureLinkPeer& entry : host->peers) entries += entry.address.family && entry.address.address[3] == 1;
    EXPECT_EQ(entries, 1);

    // The same restart while the host runs a frame every 2 s (the devices at their own pace): it controls
    // within four host frames.
    controller.restart(0x0709);
    int hostFrames = 0;
    while (hostFrames < 10 && !(host->controllingPeer && host->controllingPeer->peerId == 0x0709)) {
        for (int step = 0; step < 100; step++) {
            crowdNow += 20000;
            controller.step();
            for (auto& other : others) other->step();
            if (step % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));  // for the loopback
        }
        frame();
        hostFrames++;
    }
    EXPECT_LE(hostFrames, 4);
}

// With encryption off, a device that watches the relay's video, granted video, while its MAVLink record
// flies a drone of its own (which is no relay host). On a full list (five devices of other addresses
// granted telemetry, and a new one saying hello) it keeps its place and its video past a minute. Then the
// host starts again while a neighbour at its address copies its latest video hello every frame: the
// device is listed at its own video port, and gets its video within 5 s of the user's grant there. Its
// identity draws one key pair at most (its video record's start-over).
TEST_F(CrowdedLink, AVideoWatcherIsHeldOutByNoCopyAcrossAHostRestart) {
    Sender ownDrone;
    Device watcher;
    watcher.hosts[RelayStreamMavlink] = makeAddressRecord(4, kLoopback, ownDrone.port);
    startRelay();
    u16 videoPort = startVideoRelay();
    if (HasFailure()) return;
    preferences->relayModeDisableEncryption = 1;
    watcher.hosts[RelayStreamVideo] = makeAddressRecord(4, kLoopback, videoPort);
    SecureLinkPeer* peer = nullptr;
    ASSERT_TRUE(withDeviceUntil(&watcher, [&] {
        return (peer = listedPeer(host.get(), watcher.identity.peerId)) != nullptr;
    }));
    setSecureLinkPeerDecision(host.get(), peer, SecureLinkGrantVideo);
    std::vector<std::unique_ptr<Device>> devices = grantedDevicesElsewhere(kSecureLinkPeers - 1, preferences->relayModePort);
    ASSERT_EQ(listedEntries(host.get()), kSecureLinkPeers);
    devices.push_back(std::make_unique<Device>());
    devices.back()->identity.peerId = 0x0B00;
    devices.back()->localAddress = makeString("127.0.0.7");
    devices.back()->hosts[RelayStreamMavlink] = makeAddressRecord(4, kLoopback, preferences->relayModePort);
    for (int i = 0; i < 650; i++) {  // 65 s
        crowdNow += 100000;
        watcher.step();
        for (auto& device : devices) device->step();
        frame();
    }
    EXPECT_EQ(listedPeer(host.get(), watcher.identity.peerId), peer);
    EXPECT_TRUE(videoReaches(&watcher, kVideo));

    Sender neighbour;
    auto latestHello = [&] {  // as anyone at the watcher's address reads it
        const std::vector<Bytes>& sent = watcher.sent[RelayStreamVideo];
        auto hello = std::find_if(sent.rbegin(), sent.rend(), [](const Bytes& b) { return b[0] == SecureLinkHello; });
        return hello == sent.rend() ? Bytes{SecureLinkHello} : *hello;
    };
    host = std::make_unique<SecureLinkHost>();
    ASSERT_EQ(generateX25519KeyPair(identity.privateKey, identity.publicKey), 0);
    host->identity = &identity;
    inputs.relayHost = host.get();
    ASSERT_TRUE(neighbour.send(latestHello(), videoPort));
    ASSERT_TRUE(framesUntil([&] {
        const SecureLinkPeer* copied = listedPeer(host.get(), watcher.identity.peerId);
        return copied && copied->ports[RelayStreamVideo] == neighbour.port;
    }));
    u16 own = watcher.sockets[RelayStreamVideo]->localPort;
    SecureLinkPeer* entry = nullptr;
    auto copyAndFind = [&] {
        neighbour.send(latestHello(), videoPort);
        for (SecureLinkPeer& listed : host->peers) {
            if (listed.address.family && listed.ports[RelayStreamVideo] == own) entry = &listed;
        }
        return entry != nullptr;
    };
    ASSERT_TRUE(withDeviceUntil(&watcher, copyAndFind, 20000));
    setSecureLinkPeerDecision(host.get(), entry, SecureLinkGrantVideo);
    u64 granted = crowdNow;
    std::vector<Bytes>* opened = &watcher.opened[RelayStreamVideo];
    opened->clear();
    EXPECT_TRUE(withDeviceUntil(&watcher, [&] {
        copyAndFind();
        relayToPeers(RelayStreamVideo, kVideo);
        return std::find(opened->begin(), opened->end(), kVideo) != opened->end();
    }, 20000));
    EXPECT_LE(crowdNow - granted, 5000000u);
    EXPECT_LE(watcher.identity.generation, 1u);
}

}  // namespace
