// Sharing the drone with the crew's devices on real sockets on the loopback: grants take effect on
// devices that are running, devices that keep running stay listed in their place, a device that
// starts over is one entry, a stranger that listed itself costs the controller nothing, and what
// others send under a device's id from its address neither silences it nor takes its place. The
// sockets run on the test's clock; the tests wait for datagrams, never for time.
#include "CrowdedLinkRig.h"
#include "Network/SecureLinkFormat.h"

namespace {

using namespace crowded;

// Two devices listed and running with encryption off, seconds after their first hello: control granted
// to one, then moved to the other, takes effect within a second each time.
TEST_F(CrowdedLink, WithEncryptionOffARunningDeviceTakesControlWhenGranted) {
    Sender drone;
    freshWithDrone(drone);
    u16 relayPort = startRelay();
    if (HasFailure()) return;
    preferences->relayModeDisableEncryption = 1;
    Device first, second;
    second.identity.peerId = 0x0808;
    for (Device* device : {&first, &second}) device->hosts[RelayStreamMavlink] = makeAddressRecord(4, kLoopback, relayPort);
    for (int i = 0; i < 250; i++) {  // five seconds of both
        crowdNow += 20000;
        first.step();
        second.step();
        frame();
    }
    ASSERT_NE(listedPeer(host.get(), first.identity.peerId), nullptr);
    ASSERT_NE(listedPeer(host.get(), second.identity.peerId), nullptr);

    u8 mark = 0;
    for (Device* granted : {&first, &second}) {
        setSecureLinkPeerDecision(host.get(), listedPeer(host.get(), granted->identity.peerId),
                                  SecureLinkGrantTelemetry | SecureLinkGrantControl);
        bool reached = false;
        for (int i = 0; i < 50 && !reached; i++) {  // a second
            crowdNow += 20000;
            first.step();
            second.step();
            Bytes command = commandLong(mark++);
            granted->sendSealed(command);  // plain: encryption is off
            frame();
            std::vector<Bytes> before;
            reached = droneGot(drone, command, &before);
        }
        EXPECT_TRUE(reached) << (granted == &first ? "first" : "second");
    }
}

// An undecided device that keeps running with encryption off stays listed in its place for two minutes,
// last heard within a second.
TEST_F(CrowdedLink, WithEncryptionOffAListeningDeviceStaysListed) {
    u16 relayPort = startRelay();
    if (HasFailure()) return;
    Device device;
    SecureLinkPeer* peer = listPlainDevice(&device, relayPort);
    ASSERT_NE(peer, nullptr);
    u32 place = peer->listOrder;
    for (int i = 0; i < 1200; i++) {
        crowdNow += 100000;
        device.step();
        frame();
        ASSERT_TRUE(peer->address.family && peer->peerId == device.identity.peerId && peer->listOrder == place) << i;
        ASSERT_LE(crowdNow - peer->lastHeardTime, kSecureLinkHelloInterval) << i;
    }
}

// A device granted telemetry and video starts over three times (a new key pair and peer id, the same
// address and port): it proves the password it was given and is one entry, with its grants and place.
TEST_F(CrowdedLink, ADeviceThatStartsOverIsOneEntry) {
    u16 relayPort = startRelay();
    if (HasFailure()) return;
    Device device;
    SecureLinkPeer* peer = connectDevice(&device, relayPort, SecureLinkGrantTelemetry | SecureLinkGrantVideo);
    if (HasFailure()) return;
    for (int i = 0; i < 50; i++) {  // a second of it running
        crowdNow += 20000;
        device.step();
        frame();
    }
    u32 place = peer->listOrder;
    for (int restart = 0; restart < 3; restart++) {
        u16 earlierId = device.identity.peerId;
        stopSecureLinkClient(device.records[RelayStreamMavlink].get());
        ASSERT_TRUE(withDeviceUntil(&device, [&] {
            const SecureLinkPeer* entry = listedPeer(host.get(), device.identity.peerId);
            return device.identity.peerId != earlierId && entry && entry->verified;
        }, 20000));
        for (int i = 0; i < 200; i++) {  // four seconds more
            crowdNow += 20000;
            device.step();
            frame();
        }
        i32 entries = 0;
        for (const SecureLinkPeer& entry : host->peers) entries += entry.address.family != 0;
        const SecureLinkPeer* entry = listedPeer(host.get(), device.identity.peerId);
        EXPECT_EQ(entries, 1) << restart;
        ASSERT_NE(entry, nullptr) << restart;
        EXPECT_EQ(entry->userDecision, (u32)(SecureLinkGrantTelemetry | SecureLinkGrantVideo)) << restart;
        EXPECT_EQ(entry->listOrder, place) << restart;
    }
}

// A stranger lists itself with one hello, then sends sealed data under its own peer id, then
// sealed-looking hellos under its id and key, at five times the frame's bound of costly steps, the
// controller's sealed command among them after more than one bound: the commands reach the drone in
// their frame and the controller keeps control.
TEST_F(CrowdedLink, AStrangerThatListedItselfCostsTheControllerNothing) {
    Sender drone;
    Sender stranger("127.0.0.2");
    Device controller;
    u16 relayPort = 0;
    SecureLinkPeer* peer = startWithController(drone, &controller, &relayPort);
    ASSERT_NE(peer, nullptr);
    u8 key[32], privateKey[32];
    ASSERT_EQ(generateX25519KeyPair(privateKey, key), 0);
    const u16 strangerId = 0x0BAD;
    ASSERT_TRUE(stranger.send(CrowdedLink::plainHello(strangerId, key), relayPort));
    ASSERT_TRUE(framesUntil([&] { return listedPeer(host.get(), strangerId) != nullptr; }));

    Bytes data = {SecureLinkFromClient, (u8)strangerId, (u8)(strangerId >> 8), RelayStreamMavlink};
    data.resize(60, 0x5A);
    Bytes hello = sealedLookingHello(strangerId, key);
    const int rounds = 60;
    int reached = 0, controlled = 0;
    for (const Bytes* datagram : {&data, &hello}) {
        auto flood = [&](int count) {
            for (int i = 0; i < count; i++) stranger.send(*datagram, relayPort);  // the system drops what finds no room
        };
        for (int round = 0; round < rounds; round++) {
            reached += commandThroughFlood(&controller, drone, (u8)round, flood);
            controlled += connection->relayControlled && host->controllingPeer == peer;
        }
    }
    EXPECT_GE(reached, 2 * rounds * 9 / 10);
    EXPECT_EQ(controlled, 2 * rounds);
}

// Hellos under a granted device's peer id and key, sealed-looking, come from another port of its address
// many times a frame ahead of its own: the device stays heard, and control moved to it reaches the
// drone within a second.
TEST_F(CrowdedLink, HellosUnderADevicesIdFromAnotherPortLeaveItHeard) {
    Sender drone;
    Sender neighbour;
    freshWithDrone(drone);
    u16 relayPort = startRelay();
    if (HasFailure()) return;
    Device device;
    SecureLinkPeer* peer = connectDevice(&device, relayPort, SecureLinkGrantTelemetry);
    if (HasFailure()) return;
    Bytes hello = sealedLookingHello(device.identity.peerId, device.identity.publicKey);
    auto flood = [&] {
        crowdNow += 20000;
        for (int i = 0; i < 8; i++) neighbour.send(hello, relayPort);
        device.step();
    };
    for (int i = 0; i < 200; i++) {  // four seconds
        flood();
        frame();
        ASSERT_LE(crowdNow - peer->lastHeardTime, kSecureLinkHelloInterval) << i;
    }
    setSecureLinkPeerDecision(host.get(), peer, SecureLinkGrantTelemetry | SecureLinkGrantControl);
    bool reached = false;
    for (u8 mark = 0; mark < 50 && !reached; mark++) {  // a second
        flood();
        device.sendSealed(commandLong(mark));
        frame();
        std::vector<Bytes> before;
        reached = droneGot(drone, commandLong(mark), &before);
    }
    EXPECT_TRUE(reached);
}

// A stranger that forges a granted device's address and port lists itself there under another peer id,
// completes a sealed hello, and then spends the device's hello check of every frame with hellos under
// the device's id from that endpoint, while the device says hello each second: the device keeps its
// entry and its grants.
TEST_F(CrowdedLink, ADecidedDeviceStaysListedWhileItSaysHello) {
    u16 relayPort = startRelay();
    if (HasFailure()) return;
    Device device;
    SecureLinkPeer* peer = connectDevice(&device, relayPort, SecureLinkGrantTelemetry);
    if (HasFailure()) return;
    auto fromDevicesEndpoint = [&](const Bytes& bytes) {  // the stranger's datagrams leave from its socket
        ByteWriter* slot = queueSocketPacket(&device.hosts[RelayStreamMavlink], device.sockets[RelayStreamMavlink].get());
        ASSERT_NE(slot, nullptr);
        appendBytes(bytes.data(), (i64)bytes.size(), slot);
    };
    u8 key[32], privateKey[32];
    ASSERT_EQ(generateX25519KeyPair(privateKey, key), 0);
    const u16 strangerId = 0x0BAD;
    fromDevicesEndpoint(plainHello(strangerId, key));
    device.take(RelayStreamMavlink);
    SecureLinkPeer* stranger = nullptr;
    ASSERT_TRUE(framesUntil([&] { return (stranger = listedPeer(host.get(), strangerId)) != nullptr; }));
    SecureLinkKeys keys;  // from the host key and entry nonce sent to the endpoint
    ASSERT_TRUE(deriveSecureLinkKeys(&keys, privateKey, identity.publicKey, identity.publicKey, key, stranger->hostNonce));
    Bytes sealedHello = plainHello(strangerId, key);
    const u8 block[kSecureLinkProofBytes + 1] = {};
    sealedHello.resize(sealedHello.size() + 200);
    ByteWriter writer = makeByteWriter(sealedHello.data(), (i64)sealedHello.size());
    writer.length = 36;
    ASSERT_TRUE(sealSecureLinkPart(&writer, SecureLinkHello, RelayStreamMavlink, 0, &keys, block, sizeof(block)));
    sealedHello.resize((size_t)writer.length);
    fromDevicesEndpoint(sealedHello);
    device.take(RelayStreamMavlink);
    ASSERT_TRUE(framesUntil([&] { return stranger->verified != 0; }));

    Bytes flood = sealedLookingHello(device.identity.peerId, device.identity.publicKey);
    for (int i = 0; i < 250; i++) {  // five seconds
        crowdNow += 20000;
        for (int k = 0; k < 4; k++) fromDevicesEndpoint(flood);
        device.step();
        frame();
        ASSERT_EQ(listedPeer(host.get(), device.identity.peerId), peer) << i;
        ASSERT_EQ(peer->userDecision, (u32)SecureLinkGrantTelemetry) << i;
    }
}

// With encryption off, plain hellos under the controller's peer id and key from another port of its
// address, each with a proof that fails: the entry's port stays, no password goes to that port, and
// the controller keeps control.
TEST_F(CrowdedLink, WithEncryptionOffADeviceIsItsEndpoint) {
    Sender drone;
    Sender neighbour;
    freshWithDrone(drone);
    u16 relayPort = startRelay();
    if (HasFailure()) return;
    Device device;
    SecureLinkPeer* peer = listPlainDevice(&device, relayPort);
    ASSERT_NE(peer, nullptr);
    setSecureLinkPeerDecision(host.get(), peer, SecureLinkGrantTelemetry | SecureLinkGrantControl);
    ASSERT_TRUE(withDeviceUntil(&device, [&] { return host->controllingPeer == peer; }, 20000));
    u16 port = peer->ports[RelayStreamMavlink];

    Bytes hello = plainHello(device.identity.peerId, device.identity.publicKey);
    hello.insert(hello.end(), kSecureLinkProofBytes, 0);
    hello.push_back(0);  // no name
    int reached = 0;
    for (u8 mark = 0; mark < 100; mark++) {  // two seconds
        crowdNow += 20000;
        neighbour.send(hello, relayPort);
        device.step();
        device.sendSealed(commandLong(mark));  // plain: encryption is off
        frame();
        std::vector<Bytes> before;
        reached += droneGot(drone, commandLong(mark), &before);
        ASSERT_EQ(peer->ports[RelayStreamMavlink], port) << (int)mark;
    }
    EXPECT_EQ(host->controllingPeer, peer);
    EXPECT_GE(reached, 90);
    Bytes got;
    while (neighbour.receive(&got)) EXPECT_NE(got[0], SecureLinkControlPassword);
}

// With encryption off, two devices the user decided on and six new ones, each at an address of its own,
// say hello once a second for the four free places: the four listed first keep their places for a
// minute and the other two wait, counted.
TEST_F(CrowdedLink, NewDevicesBeyondTheFreePlacesWaitTheirTurn) {
    u16 relayPort = startRelay();
    if (HasFailure()) return;
    std::vector<std::unique_ptr<Device>> devices;
    for (int i = 0; i < 8; i++) {
        devices.push_back(std::make_unique<Device>());
        devices[i]->identity.peerId = (u16)(0x0900 + i);
        devices[i]->localAddress = makeString(("127.0.0." + std::to_string(2 + i)).c_str());
        devices[i]->hosts[RelayStreamMavlink] = makeAddressRecord(4, kLoopback, relayPort);
    }
    for (int i = 0; i < 2; i++) {
        SecureLinkPeer* peer = listPlainDevice(devices[i].get(), relayPort);
        ASSERT_NE(peer, nullptr);
        setSecureLinkPeerDecision(host.get(), peer, SecureLinkGrantTelemetry);
    }
    auto turn = [&] {
        crowdNow += 100000;
        for (auto& device : devices) device->step();
        frame();
    };
    for (int i = 0; i < 40; i++) turn();  // four seconds
    auto listing = [&] {
        std::vector<std::pair<u16, u32>> listed;
        for (const SecureLinkPeer& peer : host->peers) {
            if (peer.address.family) listed.emplace_back(peer.peerId, peer.listOrder);
        }
        return listed;
    };
    std::vector<std::pair<u16, u32>> first = listing();
    ASSERT_EQ(first.size(), (size_t)kSecureLinkPeers);
    for (int i = 0; i < 600; i++) {  // a minute
        turn();
        ASSERT_EQ(listing(), first) << i;
    }
    EXPECT_GE(host->hellosWithoutPlace[RelayStreamMavlink], 2u * 60);
}

// With encryption on, six undecided devices, each at an address of its own, hold the sharing list's
// places and a new device waits; one of the six stops: within four seconds the new device is listed.
TEST_F(CrowdedLink, AnUndecidedDeviceSilentForThreeSecondsGivesWay) {
    u16 relayPort = startRelay();
    if (HasFailure()) return;
    std::vector<std::unique_ptr<Device>> devices;
    for (int i = 0; i <= kSecureLinkPeers; i++) {
        devices.push_back(std::make_unique<Device>());
        devices[i]->identity.peerId = (u16)(0x0900 + i);
        devices[i]->localAddress = makeString(("127.0.0." + std::to_string(2 + i)).c_str());
        devices[i]->hosts[RelayStreamMavlink] = makeAddressRecord(4, kLoopback, relayPort);
    }
    auto newcomerListed = [&] {
        const u8 address[4] = {127, 0, 0, 2 + kSecureLinkPeers};
        AddressRecord newcomer = makeAddressRecord(4, address, 0);
        return isSecureLinkPeerAddress(host.get(), &newcomer);
    };
    auto turn = [&](size_t stepped) {
        crowdNow += 100000;
        for (size_t i = 0; i < stepped; i++) devices[i]->step();
        frame();
    };
    ASSERT_TRUE(framesUntil([&] {
        turn(kSecureLinkPeers);
        return std::all_of(std::begin(host->peers), std::end(host->peers),
                           [](const SecureLinkPeer& peer) { return peer.address.family && peer.verified; });
    }));
    for (int i = 0; i < 40; i++) turn(devices.size());  // four seconds: the new device waits
    ASSERT_FALSE(newcomerListed());
    std::swap(devices.front(), devices.back());  // the first device stops
    u64 stopped = crowdNow;
    EXPECT_TRUE(framesUntil([&] {
        turn(kSecureLinkPeers);
        return newcomerListed();
    }));
    EXPECT_LE(crowdNow - stopped, 4000000u);
}

// With encryption off, a device granted telemetry and video starts over (a fresh key pair and peer id)
// from its MAVLink endpoint, its video from a new socket: within a second the host's video for it
// goes to the new port, and it is one entry.
TEST_F(CrowdedLink, WithEncryptionOffADeviceThatStartsOverGetsItsVideoAgain) {
    Device device;
    SecureLinkPeer* peer = startRelaysWithPlainDevice(&device, SecureLinkGrantTelemetry | SecureLinkGrantVideo);
    ASSERT_NE(peer, nullptr);
    for (int i = 0; i < 100; i++) {  // two seconds of it running
        crowdNow += 20000;
        device.step();
        frame();
    }

    ASSERT_EQ(generateX25519KeyPair(device.identity.privateKey, device.identity.publicKey), 0);
    device.identity.peerId = 0x0708;
    for (auto& record : device.records) {
        *record = SecureLinkClient{};
        record->identity = &device.identity;
    }
    std::unique_ptr<Socket> earlierVideo = std::move(device.sockets[RelayStreamVideo]);  // open: its port stays taken
    device.sockets[RelayStreamVideo] = std::make_unique<Socket>();
    device.sockets[RelayStreamVideo]->clock = crowdClock;
    Bytes video = {kQvVideo, 0, 1, 0x65, 0x88, 0x84};
    std::vector<Bytes>* opened = &device.opened[RelayStreamVideo];
    opened->clear();
    u64 restarted = crowdNow;
    EXPECT_TRUE(withDeviceUntil(&device, [&] {
        ByteWriter packet = makeByteWriter(video.data(), (i64)video.size());
        packet.length = (i64)video.size();
        relayPacketToPeers(host.get(), videoRelaySocket.get(), RelayStreamVideo, preferences.get(), &packet,
                           crowdNow);
        return !opened->empty() && opened->back() == video;
    }, 20000));
    EXPECT_LE(crowdNow - restarted, kSecureLinkHelloInterval);
    closeSocket(earlierVideo.get());
    i32 entries = 0;
    for (const SecureLinkPeer& entry : host->peers) entries += entry.address.family != 0;
    EXPECT_EQ(entries, 1);
    EXPECT_EQ(listedPeer(host.get(), 0x0708), peer);
}

// Encryption on: the controller and another granted device run while the host starts again, keeping
// its listener. Three seconds after each device is heard there is one entry a device, and the
// controller controls.
TEST_F(CrowdedLink, AfterAHostRestartEachDeviceIsOneEntry) {
    Sender drone;
    Device controller;
    u16 relayPort = 0;
    ASSERT_NE(startWithController(drone, &controller, &relayPort), nullptr);
    auto heard = [&](const Device& device) {
        const SecureLinkPeer* entry = listedPeer(host.get(), device.identity.peerId);
        return entry && entry->verified;
    };
    Device other;
    other.identity.peerId = 0x0808;
    other.localAddress = makeString("127.0.0.3");
    other.hosts[RelayStreamMavlink] = makeAddressRecord(4, kLoopback, relayPort);
    ASSERT_TRUE(withDeviceUntil(&other, [&] { return heard(other); }));
    setSecureLinkPeerDecision(host.get(), listedPeer(host.get(), 0x0808), SecureLinkGrantTelemetry);

    host = std::make_unique<SecureLinkHost>();
    ASSERT_EQ(generateX25519KeyPair(identity.privateKey, identity.publicKey), 0);
    host->identity = &identity;
    inputs.relayHost = host.get();
    ASSERT_TRUE(withDeviceUntil(&controller, [&] {
        other.step();
        return heard(controller) && heard(other);
    }, 100000));
    for (int i = 0; i < 150; i++) {  // three seconds
        crowdNow += 20000;
        controller.step();
        other.step();
        frame();
    }
    const u8 otherAddress[4] = {127, 0, 0, 3};
    AddressRecord at[2] = {makeAddressRecord(4, kLoopback, 0), makeAddressRecord(4, otherAddress, 0)};
    for (const AddressRecord& address : at) {
        i32 entries = 0;
        for (const SecureLinkPeer& entry : host->peers) {
            entries += entry.address.family && sameAddress(&entry.address, &address);
        }
        EXPECT_EQ(entries, 1);
    }
    ASSERT_NE(host->controllingPeer, nullptr);
    EXPECT_EQ(host->controllingPeer->peerId, controller.identity.peerId);
}

}  // namespace
