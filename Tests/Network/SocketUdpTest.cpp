#include "Network/Socket.h"
#include "NetworkTestSupport.h"
#include "Platform/Socket.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

const u8 kLoopback4[16] = {127, 0, 0, 1};
const u8 kLoopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

struct UdpFixture : ::testing::Test {
    PythonPeer peer;
    std::unique_ptr<Socket> socket = std::make_unique<Socket>();
    FixedString noInterface{};
    SocketResult result{};

    void SetUp() override {
        testNow = 10000000;
        socket->clock = testClock;
        ASSERT_TRUE(startPythonPeer(&peer, "socket_peer.py"));
    }
    void TearDown() override {
        closeSocket(socket.get());
        stopPythonPeer(&peer);
        clearInjectedSocketFailures();
    }
    SocketResult* step(u8 family = 4, u16 port = 0, SocketMode mode = SocketModeUdp) {
        return updateSocket(&result, socket.get(), family, mode, port, &noInterface, nullptr, 0);
    }
    // Steps until a packet arrives (a real peer needs a moment on the loopback).
    bool receive(u8 family = 4) {
        return stepUntil(&result, [&](SocketResult*) { step(family); }, [](const SocketResult& r) { return r.received == 1; });
    }
    // A new Python UDP socket: its id and port.
    std::pair<std::string, u16> pythonUdp(const char* family = "4") {
        auto answer = words(peerCommand(&peer, std::string("udp ") + family));
        return {answer.at(0), (u16)std::stoi(answer.at(1))};
    }
};

TEST_F(UdpFixture, ExchangesDatagramsWithUpToFourPeers) {
    step();
    ASSERT_EQ(socket->state, (u32)SocketStateReady);
    u16 port = socket->localPort;
    ASSERT_NE(port, 0);
    EXPECT_EQ(text(socket->status), "Listening for incoming packets on port " + std::to_string(port));

    std::vector<std::pair<std::string, u16>> peers;
    for (int i = 0; i < 5; i++) {
        peers.push_back(pythonUdp());
    }
    for (int i = 0; i < 4; i++) {
        peerCommand(&peer, "sendto " + peers[i].first + " " + std::to_string(port) + " " + hexOfText("peer" + std::to_string(i)));
        ASSERT_TRUE(receive()) << i;
        EXPECT_EQ(result.peerIndex, i);
        EXPECT_EQ(std::string((const char*)result.data, result.length), "peer" + std::to_string(i));
        EXPECT_EQ(result.source.family, 4);
        EXPECT_EQ(result.source.port, peers[i].second);
        EXPECT_EQ(socket->peers[i].packetsReceived, 1u);
    }
    step();
    EXPECT_EQ(text(socket->status), "Connected to 4 clients");

    // Replies go to each peer's own endpoint.
    for (int i = 0; i < 4; i++) {
        ByteWriter* writer = queueSocketPacketToPeer(i, socket.get());
        ASSERT_NE(writer, nullptr);
        appendCString(("reply" + std::to_string(i)).c_str(), writer);
    }
    step();
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(peerCommand(&peer, "recvfrom " + peers[i].first),
                  std::to_string(port) + " " + hexOfText("reply" + std::to_string(i)));
        EXPECT_EQ(socket->peers[i].packetsSent, 1u);
    }

    // A fifth source takes the slot heard least recently; the peer it displaced takes the next one.
    testNow += 1000;
    peerCommand(&peer, "sendto " + peers[1].first + " " + std::to_string(port) + " " + hexOfText("newer"));
    ASSERT_TRUE(receive());
    EXPECT_EQ(result.peerIndex, 1);
    testNow += 1000;
    peerCommand(&peer, "sendto " + peers[4].first + " " + std::to_string(port) + " " + hexOfText("fifth"));
    ASSERT_TRUE(receive());
    EXPECT_EQ(std::string((const char*)result.data, result.length), "fifth");
    EXPECT_EQ(result.peerIndex, 0);
    EXPECT_EQ(result.source.port, peers[4].second);
    EXPECT_EQ(socket->peers[0].starts, 2u);
    peerCommand(&peer, "sendto " + peers[0].first + " " + std::to_string(port) + " " + hexOfText("again"));
    ASSERT_TRUE(receive());
    EXPECT_EQ(std::string((const char*)result.data, result.length), "again");
    EXPECT_EQ(result.peerIndex, 2);
    EXPECT_EQ(socket->peerMask, 0b1111u);

    // Past the time-out the silent peers are forgotten and a new source is taken.
    testNow += kDefaultPeerTimeout + 1;
    step();
    EXPECT_EQ(socket->peerMask, 0u);
    EXPECT_EQ(text(socket->status), "Listening for incoming packets on port " + std::to_string(port));
    peerCommand(&peer, "sendto " + peers[3].first + " " + std::to_string(port) + " " + hexOfText("fourth"));
    ASSERT_TRUE(receive());
    EXPECT_EQ(result.peerIndex, 0);
    EXPECT_EQ(result.source.port, peers[3].second);
    EXPECT_EQ(socket->peers[0].starts, 3u);
    step();
    EXPECT_EQ(text(socket->status), "Connected to 127.0.0.1:" + std::to_string(peers[3].second));
}

// Strangers sending from ever more ports never keep a kept peer (the drone, a granted relay device)
// from being heard: they take each other's slots, never its; and with every slot a kept peer's,
// another source's datagram still reaches the owner, without a slot.
TEST_F(UdpFixture, AKeptPeerIsHeardWhateverTheNumberOfOtherSources) {
    step();
    std::string port = std::to_string(socket->localPort);
    auto kept = pythonUdp();
    AddressRecord keptEndpoint = makeAddressRecord(4, kLoopback4, kept.second);
    keepSocketPeers(socket.get(), &keptEndpoint, 1);
    std::vector<std::pair<std::string, u16>> strangers;
    for (int i = 0; i < 12; i++) strangers.push_back(pythonUdp());
    auto strangersSend = [&](int from, int to) {
        for (int i = from; i < to; i++) {
            testNow += 1000;
            peerCommand(&peer, "sendto " + strangers[i].first + " " + port + " " + hexOfText("stranger"));
            ASSERT_TRUE(receive()) << i;
            EXPECT_EQ(result.source.port, strangers[i].second);
            EXPECT_GE(result.peerIndex, 0);
        }
    };
    strangersSend(0, 8);
    testNow += 1000;
    peerCommand(&peer, "sendto " + kept.first + " " + port + " " + hexOfText("drone"));
    ASSERT_TRUE(receive());
    ASSERT_GE(result.peerIndex, 0);
    i32 keptSlot = result.peerIndex;
    EXPECT_EQ(result.source.port, kept.second);
    strangersSend(4, 12);
    EXPECT_EQ(socket->peerMask, 0b1111u);
    EXPECT_TRUE(sameEndpoint(&socket->peers[keptSlot].peer, &keptEndpoint));
    EXPECT_EQ(socket->peers[keptSlot].packetsReceived, 1u);

    // Every slot kept: a fifth source is delivered without one, and no kept peer loses its slot.
    AddressRecord all[4];
    for (int i = 0; i < 4; i++) all[i] = socket->peers[i].peer;
    keepSocketPeers(socket.get(), all, 4);
    peerCommand(&peer, "sendto " + strangers[0].first + " " + port + " " + hexOfText("no slot"));
    ASSERT_TRUE(receive());
    EXPECT_EQ(std::string((const char*)result.data, result.length), "no slot");
    EXPECT_EQ(result.peerIndex, -1);
    EXPECT_EQ(result.source.port, strangers[0].second);
    for (int i = 0; i < 4; i++) EXPECT_TRUE(sameEndpoint(&socket->peers[i].peer, &all[i]));
}

TEST_F(UdpFixture, TakesSlotZeroFromASilentPeerWhenAllAreInUse) {
    step();
    u16 port = socket->localPort;
    std::vector<std::pair<std::string, u16>> peers;
    for (int i = 0; i < 5; i++) {
        peers.push_back(pythonUdp());
    }
    for (int i = 0; i < 4; i++) {
        testNow = i == 0 ? 10000000 : 12000000;  // slot 0 is the oldest
        peerCommand(&peer, "sendto " + peers[i].first + " " + std::to_string(port) + " 00");
        ASSERT_TRUE(receive());
    }
    // Slot 0 is 3.5 s silent but the peer pass has not run since: the new source takes slot 0.
    testNow = 10000000 + 3500000;
    socket->peerTimeout = 3000000;
    peerCommand(&peer, "sendto " + peers[4].first + " " + std::to_string(port) + " 01");
    // The step's own peer pass forgets slot 0 first, so the source lands in the freed slot 0.
    ASSERT_TRUE(receive());
    EXPECT_EQ(result.peerIndex, 0);
    EXPECT_EQ(result.source.port, peers[4].second);
}

TEST_F(UdpFixture, WorksOverIpv6) {
    step(6);
    ASSERT_EQ(socket->state, (u32)SocketStateReady) << text(socket->status);
    u16 port = socket->localPort;
    auto python = pythonUdp("6");
    peerCommand(&peer, "sendto " + python.first + " " + std::to_string(port) + " " + hexOfText("six"));
    ASSERT_TRUE(receive(6));
    EXPECT_EQ(result.source.family, 6);
    EXPECT_EQ(std::memcmp(result.source.address, kLoopback6, 16), 0);
    step(6);
    EXPECT_EQ(text(socket->status), "Connected to [0000:0000:0000:0000:0000:0000:0000:0001]:" + std::to_string(python.second));

    // A reply, an empty reservation (a zero-length datagram) and a packet for the wrong family,
    // which is dropped.
    AddressRecord to = makeAddressRecord(6, kLoopback6, python.second);
    appendCString("back", queueSocketPacket(&to, socket.get()));
    ASSERT_NE(queueSocketPacket(&to, socket.get()), nullptr);
    AddressRecord wrongFamily = makeAddressRecord(4, kLoopback4, python.second);
    appendCString("never", queueSocketPacket(&wrongFamily, socket.get()));
    appendCString("last", queueSocketPacket(&to, socket.get()));
    step(6);
    EXPECT_TRUE(isPacketQueueEmpty(&socket->sendQueue));
    EXPECT_EQ(peerCommand(&peer, "recvfrom " + python.first), std::to_string(port) + " " + hexOfText("back"));
    EXPECT_EQ(peerCommand(&peer, "recvfrom " + python.first), std::to_string(port) + " -");
    EXPECT_EQ(peerCommand(&peer, "recvfrom " + python.first), std::to_string(port) + " " + hexOfText("last"));
}

TEST_F(UdpFixture, DropsAPacketThatOverflowedItsSlot) {
    step();
    auto python = pythonUdp();
    AddressRecord to = makeAddressRecord(4, kLoopback4, python.second);
    ByteWriter* big = queueSocketPacket(&to, socket.get());
    std::vector<u8> tooMuch(kPacketSlotBytes + 10, 0x55);
    appendBytes(tooMuch.data(), (i64)tooMuch.size(), big);
    ASSERT_TRUE(big->overflow);
    appendCString("fits", queueSocketPacket(&to, socket.get()));
    step();
    EXPECT_EQ(peerCommand(&peer, "recvfrom " + python.first), std::to_string(socket->localPort) + " " + hexOfText("fits"));
}

// Datagrams larger than the receive buffer are read, counted and dropped, and the same step goes on
// to the next datagram: a flood of them cannot hold back the one behind it.
TEST_F(UdpFixture, DropsAndCountsOversizeDatagramsAndReadsOnInTheSameStep) {
    step();
    auto python = pythonUdp();
    std::string port = std::to_string(socket->localPort);
    std::string oversize = hexOfText(std::string(kSocketReceiveBytes + 1, 'x'));
    for (int round = 1; round <= 3; round++) {
        for (int i = 0; i < 10; i++) peerCommand(&peer, "sendto " + python.first + " " + port + " " + oversize);
        peerCommand(&peer, "sendto " + python.first + " " + port + " " + hexOfText("after"));
        // The peer answers once its datagrams are in this socket's buffer: one step reads them all.
        step();
        ASSERT_EQ(result.received, 1u) << round;
        EXPECT_EQ(std::string((const char*)result.data, result.length), "after");
        EXPECT_EQ(socket->oversizeDatagrams, 10u * (u64)round);
        EXPECT_EQ(socket->state, (u32)SocketStateReady);
        EXPECT_EQ(result.reset, 0u);
    }
}

TEST_F(UdpFixture, ReportsAPortInUseOnEveryStep) {
    auto python = pythonUdp();
    for (int i = 0; i < 3; i++) {
        SocketResult* out = step(4, python.second);
        EXPECT_EQ(text(socket->status), "Error binding socket to port " + std::to_string(python.second) + ": Port already in use");
        EXPECT_EQ(out->reset, i == 0 ? 0u : 1u);  // the first step had nothing open to close
    }
    peerCommand(&peer, "close " + python.first);
    step(4, python.second);
    EXPECT_EQ(result.reset, 1u);
    EXPECT_EQ(socket->state, (u32)SocketStateReady);
    EXPECT_EQ(socket->localPort, python.second);
    step(4, python.second);
    EXPECT_EQ(result.reset, 0u);
}

TEST_F(UdpFixture, RecreatesTheSocketWhenTheConfigurationChanges) {
    step();
    int firstHandle = socket->handle;
    u16 firstPort = socket->localPort;
    AddressRecord somewhere = makeAddressRecord(4, kLoopback4, 9);
    ASSERT_NE(queueSocketPacket(&somewhere, socket.get()), nullptr);

    // A remote endpoint means nothing to UDP.
    updateSocket(&result, socket.get(), 4, SocketModeUdp, 0, &noInterface, kLoopback4, 1234);
    EXPECT_EQ(result.reset, 0u);

    auto python = pythonUdp();
    peerCommand(&peer, "close " + python.first);
    step(4, python.second);
    EXPECT_EQ(result.reset, 1u);
    EXPECT_EQ(socket->localPort, python.second);
    EXPECT_NE(socket->localPort, firstPort);
    EXPECT_TRUE(isPacketQueueEmpty(&socket->sendQueue));
    (void)firstHandle;

    step(6, python.second);
    EXPECT_EQ(result.reset, 1u);
    EXPECT_EQ(socket->family, 6);

    // Family 0 closes the socket once and then stays disabled.
    step(0);
    EXPECT_EQ(result.reset, 1u);
    EXPECT_EQ(socket->handle, -1);
    EXPECT_EQ(text(socket->status), "Socket disabled");
    step(0);
    EXPECT_EQ(result.reset, 0u);
    EXPECT_EQ(closeSocket(socket.get()), 0u);
}

TEST_F(UdpFixture, ShowsTheStatusAtMostEveryHalfSecond) {
    step(0);
    EXPECT_EQ(text(socket->shownStatus), "Socket disabled");
    u64 shownAt = socket->shownStatusTime;
    EXPECT_EQ(shownAt, testNow);

    testNow += 100000;
    step(4);
    EXPECT_EQ(text(socket->status).rfind("Listening for incoming packets", 0), 0u);
    EXPECT_EQ(text(socket->shownStatus), "Socket disabled");

    // Back to the shown text before the half second is out: never shown changed.
    testNow += 100000;
    step(0);
    EXPECT_EQ(text(socket->shownStatus), "Socket disabled");
    testNow += 400000;
    step(0);
    EXPECT_EQ(socket->shownStatusTime, shownAt);

    testNow += 1;
    step(4);
    EXPECT_EQ(text(socket->shownStatus).rfind("Listening for incoming packets", 0), 0u);
    EXPECT_EQ(socket->shownStatusTime, testNow);
}

TEST_F(UdpFixture, ShowsSetUpFailuresAndRetries) {
    injectSocketFailure(PlatformSocketOpOpen, kSocketErrorTooManyOpen);
    step();
    EXPECT_EQ(text(socket->status), "Error creating socket: Unrecognized error code (10024)");
    EXPECT_EQ(socket->state, (u32)SocketStateNoHandle);

    injectSocketFailure(PlatformSocketOpNonBlocking, kSocketErrorInvalid);
    step();
    EXPECT_EQ(text(socket->status), "Error setting socket to nonblocking: Invalid argument");
    EXPECT_EQ(socket->state, (u32)SocketStateCreated);

    injectSocketFailure(PlatformSocketOpBroadcast, kSocketErrorNoProtocolOption);
    step();
    EXPECT_EQ(text(socket->status),
              "Error setting socket to be able to send broadcasts: Option is invalid for this protocol");
    EXPECT_EQ(socket->state, (u32)SocketStateConfigured);

    injectSocketFailure(PlatformSocketOpLocalPort, kSocketErrorNotSocket);
    step();
    EXPECT_EQ(text(socket->status), "Error getting actual port of socket: Handle is not a socket");
    EXPECT_EQ(socket->state, (u32)SocketStateBound);

    step();
    EXPECT_EQ(socket->state, (u32)SocketStateReady);

    // A failed receive closes the socket and reports reset; the next step starts again.
    injectSocketFailure(PlatformSocketOpReceive, kSocketErrorConnectionReset);
    step();
    EXPECT_EQ(result.reset, 1u);
    EXPECT_EQ(text(socket->status), "Error reading packet: Connection closed by remote host");
    step();
    EXPECT_EQ(socket->state, (u32)SocketStateReady);
}

TEST_F(UdpFixture, TestAndSimulatorModesBypassTheNetwork) {
    socket->testMode = 1;
    step();
    EXPECT_EQ(text(socket->status), "Socket is in test mode");
    EXPECT_EQ(socket->handle, -1);
    socket->testMode = 0;

    u8 bytes[3] = {1, 2, 3};
    SocketResult recorded{};
    recorded.received = 1;
    recorded.data = bytes;
    recorded.length = 3;
    recorded.peerIndex = 2;
    socket->simulatorResult = &recorded;
    step();
    EXPECT_EQ(text(socket->status), "Socket is in simulator mode");
    EXPECT_EQ(result.received, 1u);
    EXPECT_EQ(result.data, bytes);
    EXPECT_EQ(result.peerIndex, 2);
    step();
    EXPECT_EQ(result.received, 0u);
    EXPECT_EQ(socket->handle, -1);
}

}  // namespace
