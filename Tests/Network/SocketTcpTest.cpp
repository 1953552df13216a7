#include "Network/Socket.h"
#include "NetworkTestSupport.h"
#include "Platform/Socket.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <memory>
#include <set>
#include <unistd.h>
#include <cstdio>

namespace {

const u8 kLoopback4[16] = {127, 0, 0, 1};
const u8 kLoopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

struct TcpFixture : ::testing::Test {
    PythonPeer peer;
    std::unique_ptr<Socket> socket = std::make_unique<Socket>();
    FixedString noInterface{};
    SocketResult result{};
    const u8* remote = kLoopback4;
    u16 remotePort = 0;
    u8 family = 4;
    SocketMode mode = SocketModeTcpClient;
    void (*previousPipeHandler)(int) = nullptr;

    void SetUp() override {
        testNow = 10000000;
        socket->clock = testClock;
        ASSERT_TRUE(startPythonPeer(&peer, "socket_peer.py"));
        // A write to a closed connection must not raise SIGPIPE: leave the default action (ending
        // the process) in place so that one would fail the test run.
        previousPipeHandler = signal(SIGPIPE, SIG_DFL);
    }
    void TearDown() override {
        closeSocket(socket.get());
        signal(SIGPIPE, previousPipeHandler);
        stopPythonPeer(&peer);
        clearInjectedSocketFailures();
    }
    SocketResult* step() {
        return updateSocket(&result, socket.get(), family, mode, 0, &noInterface, remote, remotePort);
    }
    bool stepUntilState(u32 state) {
        return stepUntil(&result, [&](SocketResult*) { step(); }, [&](const SocketResult&) { return socket->state == state; });
    }
    bool receive() {
        return stepUntil(&result, [&](SocketResult*) { step(); }, [](const SocketResult& r) { return r.received == 1; });
    }
    std::pair<std::string, u16> listen(const char* family = "4", const char* extra = "") {
        auto answer = words(peerCommand(&peer, std::string("listen ") + family + extra));
        return {answer.at(0), (u16)std::stoi(answer.at(1))};
    }
    std::string endpointText() { return "127.0.0.1:" + std::to_string(remotePort); }
};

// A port with nothing listening: taken from a listener that is closed again.
u16 closedPort(PythonPeer* peer) {
    auto answer = words(peerCommand(peer, "listen 4"));
    peerCommand(peer, "close " + answer.at(0));
    return (u16)std::stoi(answer.at(1));
}

TEST_F(TcpFixture, ClientShowsRefusalAndRetries) {
    remotePort = closedPort(&peer);
    step();
    EXPECT_EQ(text(socket->status), "Connecting to " + endpointText());
    ASSERT_TRUE(stepUntil(&result, [&](SocketResult*) { step(); },
                          [&](const SocketResult&) { return socket->lastConnectError != 0; }));
    EXPECT_EQ(text(socket->status), "Error connecting socket to " + endpointText() + ": Connection refused");
    step();
    EXPECT_EQ(text(socket->status), "Error connecting socket to " + endpointText() + ": Connection refused, retrying");
    EXPECT_EQ(result.reset, 0u);
    EXPECT_EQ(socket->state, (u32)SocketStateReady);

    // Once something listens there, a later attempt connects.
    auto listener = words(peerCommand(&peer, "listen 4"));
    remotePort = (u16)std::stoi(listener.at(1));
    step();
    EXPECT_EQ(result.reset, 1u);  // a new server endpoint re-creates the socket
    ASSERT_TRUE(stepUntilState(SocketStateConnected));
    EXPECT_EQ(text(socket->status), "Connected to " + endpointText());
    EXPECT_EQ(socket->lastConnectError, 0);
}

TEST_F(TcpFixture, ClientExchangesDataAndReconnectsAfterThePeerCloses) {
    auto listener = listen();
    remotePort = listener.second;
    ASSERT_TRUE(stepUntilState(SocketStateConnected));
    auto accepted = words(peerCommand(&peer, "accept " + listener.first));
    std::string connection = accepted.at(0);
    EXPECT_EQ(std::stoi(accepted.at(1)), socket->localPort);
    EXPECT_EQ(socket->server.starts, 2u);  // started for the configuration, again on connecting

    appendCString("hello", queueSocketPacketToPeer(0, socket.get()));
    step();
    EXPECT_EQ(peerCommand(&peer, "recv " + connection + " 5"), hexOfText("hello"));
    EXPECT_EQ(socket->server.bytesSent, 5u);

    peerCommand(&peer, "send " + connection + " " + hexOfText("world"));
    ASSERT_TRUE(receive());
    EXPECT_EQ(std::string((const char*)result.data, result.length), "world");
    EXPECT_EQ(result.peerIndex, 0);
    EXPECT_EQ(result.source.port, remotePort);

    // The server closes: the connection resets like after an error, then the client reconnects.
    peerCommand(&peer, "close " + connection);
    ASSERT_TRUE(stepUntil(&result, [&](SocketResult*) { step(); }, [](const SocketResult& r) { return r.reset == 1; }));
    EXPECT_EQ(text(socket->status), "Error reading packet: Connection closed by remote host");
    EXPECT_EQ(socket->handle, -1);
    ASSERT_TRUE(stepUntilState(SocketStateConnected));
    EXPECT_NE(peerCommand(&peer, "accept " + listener.first), "timeout");
}

TEST_F(TcpFixture, ClientWritingToAResetConnectionRaisesNoSignal) {
    auto listener = listen();
    remotePort = listener.second;
    ASSERT_TRUE(stepUntilState(SocketStateConnected));
    std::string connection = words(peerCommand(&peer, "accept " + listener.first)).at(0);
    peerCommand(&peer, "reset " + connection);
    peerCommand(&peer, "close " + listener.first);
    // Keep writing until the lost connection shows; SIGPIPE would end the test program here.
    ASSERT_TRUE(stepUntil(&result,
                          [&](SocketResult*) {
                              ByteWriter* writer = queueSocketPacketToPeer(0, socket.get());
                              if (writer) {
                                  appendCString("still there?", writer);
                              }
                              step();
                          },
                          [](const SocketResult& r) { return r.reset == 1; }));
    std::string status = text(socket->status);
    EXPECT_TRUE(status == "Error writing packet: Connection closed by remote host" ||
                status == "Error reading packet: Connection closed by remote host")
        << status;
}

TEST_F(TcpFixture, ClientCompletesLargeSendsAcrossPartialWrites) {
    // A small receive window and a reader that starts late make the system take packets in parts.
    auto listener = listen("4", " 4096");
    remotePort = listener.second;
    ASSERT_TRUE(stepUntilState(SocketStateConnected));
    std::string connection = words(peerCommand(&peer, "accept " + listener.first)).at(0);

    // Queue packets until the system takes one only in part (its buffers are full).
    u64 total = 0;
    u64 packets = 0;
    bool partial = false;
    while (!partial && total < 64ull * 1024 * 1024) {
        ByteWriter* writer;
        while ((writer = queueSocketPacketToPeer(0, socket.get())) != nullptr) {
            for (i64 i = 0; i < kPacketSlotBytes; i++) {
                u64 offset = total + (u64)i;
                appendU8((u8)((offset * 7 + offset / 6000) & 0xFF), writer);
            }
            total += kPacketSlotBytes;
            packets++;
        }
        step();
        partial = socket->sendHandle >= 0 && socket->sendOffset > 0;
    }
    ASSERT_TRUE(partial);
    EXPECT_LT(socket->sendOffset, socket->sendLength);
    step();
    EXPECT_FALSE(isPacketQueueEmpty(&socket->sendQueue));

    // The reader starts; the answer is read once the socket has sent everything.
    std::string command = "pattern " + connection + " " + std::to_string(total) + "\n";
    ASSERT_EQ(write(peer.input, command.data(), command.size()), (ssize_t)command.size());
    ASSERT_TRUE(stepUntil(&result, [&](SocketResult*) { step(); },
                          [&](const SocketResult&) { return isPacketQueueEmpty(&socket->sendQueue); }));
    EXPECT_EQ(socket->sendHandle, -1);
    EXPECT_EQ(socket->server.bytesSent, total);
    EXPECT_EQ(socket->server.packetsSent, packets);
    std::string answer;
    int c;
    while ((c = fgetc((FILE*)peer.output)) != EOF && c != '\n') {
        answer.push_back((char)c);
    }
    EXPECT_EQ(answer, "ok");
}

TEST_F(TcpFixture, ClientWorksOverIpv6AndFollowsANewServer) {
    family = 6;
    remote = kLoopback6;
    auto first = listen("6");
    auto second = listen("6");
    remotePort = first.second;
    ASSERT_TRUE(stepUntilState(SocketStateConnected));
    EXPECT_EQ(text(socket->status),
              "Connected to [0000:0000:0000:0000:0000:0000:0000:0001]:" + std::to_string(first.second));
    EXPECT_NE(peerCommand(&peer, "accept " + first.first), "timeout");

    remotePort = second.second;
    step();
    EXPECT_EQ(result.reset, 1u);
    ASSERT_TRUE(stepUntilState(SocketStateConnected));
    EXPECT_NE(peerCommand(&peer, "accept " + second.first), "timeout");
}

struct ServerFixture : TcpFixture {
    void SetUp() override {
        TcpFixture::SetUp();
        mode = SocketModeTcpServer;
        remote = nullptr;
    }
};

TEST_F(ServerFixture, ServesFourClientsAndKeepsTheFifthWaiting) {
    step();
    ASSERT_EQ(socket->state, (u32)SocketStateListening);
    u16 port = socket->localPort;
    EXPECT_EQ(text(socket->status), "Listening for connections on port " + std::to_string(port));

    std::vector<std::pair<std::string, u16>> clients;
    for (int i = 0; i < 5; i++) {
        auto answer = words(peerCommand(&peer, "connect 4 " + std::to_string(port)));
        clients.push_back({answer.at(0), (u16)std::stoi(answer.at(1))});
    }
    ASSERT_TRUE(stepUntil(&result, [&](SocketResult*) { step(); },
                          [&](const SocketResult&) { return socket->peerMask == 0b1111; }));
    for (int i = 0; i < 5; i++) {
        peerCommand(&peer, "send " + clients[i].first + " " + hexOfText("client" + std::to_string(i)));
    }
    std::set<int> seen;
    for (int i = 0; i < 4; i++) {
        ASSERT_TRUE(receive());
        std::string payload((const char*)result.data, result.length);
        EXPECT_EQ(payload, "client" + std::to_string(result.peerIndex));
        EXPECT_EQ(result.source.port, clients[(size_t)result.peerIndex].second);
        seen.insert(result.peerIndex);
    }
    EXPECT_EQ(seen.size(), 4u);
    step();
    EXPECT_EQ(text(socket->status), "Connected to 4 clients");
    // The fifth is connected in the backlog only: nothing of it arrives.
    for (int i = 0; i < 20; i++) {
        step();
        EXPECT_EQ(result.received, 0u);
    }

    // Replies reach each client through its own connection.
    for (int i = 0; i < 4; i++) {
        appendCString(("to" + std::to_string(i)).c_str(), queueSocketPacketToPeer(i, socket.get()));
    }
    step();
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(peerCommand(&peer, "recv " + clients[i].first + " 3"), hexOfText("to" + std::to_string(i)));
    }

    // Client 1 leaves: only its slot frees, and the fifth takes it.
    peerCommand(&peer, "close " + clients[1].first);
    ASSERT_TRUE(receive());
    EXPECT_EQ(result.peerIndex, 1);
    EXPECT_EQ(std::string((const char*)result.data, result.length), "client4");
    EXPECT_EQ(result.source.port, clients[4].second);
    EXPECT_EQ(socket->peerMask, 0b1111u);
    EXPECT_EQ(result.reset, 0u);

    // Clients silent past the time-out are closed.
    testNow += kDefaultPeerTimeout + 1;
    step();
    EXPECT_EQ(socket->peerMask, 0u);
    EXPECT_EQ(peerCommand(&peer, "recv " + clients[0].first + " 1"), "closed -");
}

TEST_F(ServerFixture, AClientThatResetsLeavesTheOthersConnected) {
    step();
    u16 port = socket->localPort;
    auto first = words(peerCommand(&peer, "connect 4 " + std::to_string(port)));
    auto second = words(peerCommand(&peer, "connect 4 " + std::to_string(port)));
    ASSERT_TRUE(stepUntil(&result, [&](SocketResult*) { step(); },
                          [&](const SocketResult&) { return socket->peerMask == 0b11; }));
    int firstSlot = std::to_string(socket->peers[0].peer.port) == first.at(1) ? 0 : 1;
    peerCommand(&peer, "reset " + first.at(0));
    // Writing to the reset client fails for that client alone; SIGPIPE would end the program.
    ASSERT_TRUE(stepUntil(&result,
                          [&](SocketResult*) {
                              ByteWriter* writer = queueSocketPacketToPeer(firstSlot, socket.get());
                              if (writer) {
                                  appendCString("gone?", writer);
                              }
                              step();
                          },
                          [&](const SocketResult&) { return !(socket->peerMask & (1u << firstSlot)); }));
    EXPECT_EQ(result.reset, 0u);
    EXPECT_EQ(socket->state, (u32)SocketStateListening);
    appendCString("still", queueSocketPacketToPeer(1 - firstSlot, socket.get()));
    step();
    EXPECT_EQ(peerCommand(&peer, "recv " + second.at(0) + " 5"), hexOfText("still"));
}

TEST_F(ServerFixture, WorksOverIpv6) {
    family = 6;
    step();
    ASSERT_EQ(socket->state, (u32)SocketStateListening) << text(socket->status);
    auto client = words(peerCommand(&peer, "connect 6 " + std::to_string(socket->localPort)));
    peerCommand(&peer, "send " + client.at(0) + " " + hexOfText("v6"));
    ASSERT_TRUE(receive());
    EXPECT_EQ(result.source.family, 6);
    EXPECT_EQ(std::memcmp(result.source.address, kLoopback6, 16), 0);
    step();
    EXPECT_EQ(text(socket->status),
              "Connected to [0000:0000:0000:0000:0000:0000:0000:0001]:" + client.at(1));
}

TEST_F(ServerFixture, ClosesAConnectionItCannotTake) {
    step();
    u16 port = socket->localPort;
    auto client = words(peerCommand(&peer, "connect 4 " + std::to_string(port)));
    injectSocketFailure(PlatformSocketOpNonBlocking, kSocketErrorInvalid);
    ASSERT_TRUE(stepUntil(&result, [&](SocketResult*) { step(); }, [&](const SocketResult&) {
        return text(socket->status) == "Error setting client socket to nonblocking: Invalid argument";
    }));
    EXPECT_EQ(socket->peerMask, 0u);
    // The refused connection was closed, not left open and forgotten.
    EXPECT_EQ(peerCommand(&peer, "recv " + client.at(0) + " 1"), "closed -");
}

}  // namespace
