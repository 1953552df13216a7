// The drone link on real sockets on the loopback while strangers send from many ports: the drone is
// heard at start and after a radio dropout, a granted relay device is heard and keeps its streams,
// floods of oversize and empty datagrams and of hellos are counted, and from another port of the
// drone's address only payload frames are taken, byte for byte. The sockets run on the test's clock;
// the tests wait for datagrams, never for time.
#include "CrowdedLinkRig.h"

namespace {

using namespace crowded;

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
        relayPacketToPeers(host.get(), videoRelaySocket.get(), RelayStreamVideo, preferences.get(), &packet,
                           crowdNow);
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


// Round after round, header-only hellos under ever new peer ids fill both relay ports' receive
// buffers (thousands in all) ahead of the drone's HEARTBEAT and the controller's sealed MAVLink:
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
    SecureLinkPeer* peer =
        connectDevice(&device, ports[RelayStreamMavlink], SecureLinkGrantTelemetry | SecureLinkGrantControl);
    if (HasFailure()) return;
    ASSERT_TRUE(withDeviceUntil(&device, [&] { return host->controllingPeer == peer; }));

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
    u64 hellos = host->retiredHellos[RelayStreamMavlink];  // the earlier session's peer id was retired
    ASSERT_TRUE(framesUntil([&] { return host->retiredHellos[RelayStreamMavlink] > hellos; }));
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
// was given: the second keeps control and its row, and the first gets back only the telemetry the
// user left it.
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
            EXPECT_EQ(peer.userDecision, (u32)SecureLinkGrantTelemetry);
        }
    }
}

// Hellos under ever new peer ids from one address fill both relay ports in every frame. A new device
// of another address, and the device granted control starting over, are listed in the frame the relay
// port reads their hello (its key exchange is never the flood's), and get on; the video relay port,
// which the QV and the RTSP stream both serve, reads and exchanges keys within one bound a frame. What
// a frame reads is what the system has delivered by then: the test looks at what was read (the relay
// socket's counts for each sender), never at how many frames it took.
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
    // The datagrams the relay port has read from the device's socket.
    auto readFrom = [&](const Device& device, const u8* address) {
        AddressRecord endpoint = makeAddressRecord(4, address, device.sockets[RelayStreamMavlink]->localPort);
        for (i32 i = 0; i < kSocketPeers; i++) {
            const TrafficCounters* counters = &relaySocket->peers[i];
            if ((relaySocket->peerMask >> i & 1) && sameEndpoint(&counters->peer, &endpoint)) return counters->packetsReceived;
        }
        return (u64)0;
    };
    // Whether the device's current peer id is on the list at its address: until it is, its hellos wait
    // for a key exchange.
    auto listed = [&](const Device& device, const u8* address) {
        AddressRecord at = makeAddressRecord(4, address, 0);
        for (const SecureLinkPeer& entry : host->peers) {
            if (entry.address.family && entry.peerId == device.identity.peerId && sameAddress(&entry.address, &at)) return true;
        }
        return false;
    };
    int frames = 0;
    for (; frames < 600 && !(newcomerOn() && controllerBack()); frames++) {
        crowdNow += 16667;
        for (u32 s = 0; s < kSecureLinkStreams; s++) {
            for (int i = 0; i < 2 * kSecureLinkDatagramsPerFrame && roomForTwoMore(stations[s]); i++) {
                ASSERT_EQ(getRandomBytes(hello.data() + 1, 34), 0);
                ASSERT_TRUE(flooder.send(hello, ports[s]));
            }
        }
        controller.step();
        newcomer.step();
        bool waiting[2] = {!listed(controller, kLoopback), !listed(newcomer, newcomerAddress)};
        u64 before[2] = {readFrom(controller, kLoopback), readFrom(newcomer, newcomerAddress)};
        u64 read = host->unlistedHellos[RelayStreamVideo];
        u64 over = host->hellosOverKeyExchanges[RelayStreamVideo];
        frame();
        EXPECT_FALSE(waiting[0] && readFrom(controller, kLoopback) > before[0] && !listed(controller, kLoopback))
            << frames;
        EXPECT_FALSE(waiting[1] && readFrom(newcomer, newcomerAddress) > before[1] && !listed(newcomer, newcomerAddress))
            << frames;
        read = host->unlistedHellos[RelayStreamVideo] - read;
        EXPECT_LE(read, (u64)kSecureLinkReadsPerFrame) << frames;
        EXPECT_LE(read - (host->hellosOverKeyExchanges[RelayStreamVideo] - over), (u64)kSecureLinkKeyExchangesPerFrame)
            << frames;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // for the loopback; a late datagram is read later
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
    Device controller;
    u16 relayPort = 0;
    SecureLinkPeer* peer = startWithController(drone, &controller, &relayPort);
    ASSERT_NE(peer, nullptr);

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
        reached += commandThroughFlood(&controller, drone, (u8)round, flood);
        controlled += connection->relayControlled && host->controllingPeer == peer;
    }
    EXPECT_GE(reached, rounds * 9 / 10);
    EXPECT_EQ(controlled, rounds);
}

}  // namespace
