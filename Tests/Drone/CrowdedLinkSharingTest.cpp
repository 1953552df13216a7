// Sharing the drone with the crew's devices on real sockets on the loopback: grants take effect on
// devices that are running, devices that keep running stay listed in their place, a device that
// starts over is one entry, and a stranger that listed itself costs the controller nothing. The
// sockets run on the test's clock; the tests wait for datagrams, never for time.
#include "CrowdedLinkRig.h"

namespace {

using namespace crowded;

SecureLinkPeer* listedPeer(SecureLinkHost* host, u16 peerId) {
    for (SecureLinkPeer& peer : host->peers) {
        if (peer.address.family && peer.peerId == peerId) return &peer;
    }
    return nullptr;
}

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
    preferences->relayModeDisableEncryption = 1;
    Device device;
    device.hosts[RelayStreamMavlink] = makeAddressRecord(4, kLoopback, relayPort);
    SecureLinkPeer* peer = nullptr;
    ASSERT_TRUE(withDeviceUntil(&device, [&] { return (peer = listedPeer(host.get(), device.identity.peerId)); }));
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
    Bytes hello = CrowdedLink::plainHello(strangerId, key);
    hello.resize(hello.size() + 8 + 16 + 32 + 16, 0x5A);  // counter, IV, two blocks, MAC
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

}  // namespace
