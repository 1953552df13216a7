#include "Network/NetworkInterfaces.h"
#include "Network/Socket.h"
#include "NetworkTestSupport.h"

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <cstring>
#include <memory>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const u8 kLoopback4[16] = {127, 0, 0, 1};
const u8 kLoopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

// Gives up every capability of this process, CAP_NET_RAW among them.
bool dropCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    return syscall(SYS_capset, &header, data) == 0;
}

// Steps a raw socket in a child process that has no CAP_NET_RAW; returns the status it showed.
std::string rawStatusWithoutCapability(u8 family) {
    int channel[2];
    if (pipe(channel) != 0) {
        return "pipe failed";
    }
    pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        std::string status = "could not drop capabilities";
        if (dropCapabilities()) {
            auto socket = std::make_unique<Socket>();
            FixedString noInterface{};
            SocketResult result{};
            for (int i = 0; i < 3; i++) {
                updateSocket(&result, socket.get(), family, SocketModeRaw, 0, &noInterface, nullptr, 0);
            }
            status = text(socket->status) + (socket->handle == -1 ? "" : " (with a handle)");
        }
        (void)!write(channel[1], status.data(), status.size());
        _exit(0);
    }
    close(channel[1]);
    std::string status;
    char buffer[512];
    ssize_t n;
    while ((n = read(channel[0], buffer, sizeof(buffer))) > 0) {
        status.append(buffer, (size_t)n);
    }
    close(channel[0]);
    int exitStatus = 0;
    waitpid(child, &exitStatus, 0);
    EXPECT_TRUE(WIFEXITED(exitStatus) && WEXITSTATUS(exitStatus) == 0) << "the child did not end normally";
    return status;
}

TEST(RawSocket, ReportsAMissingCapabilityAsItsStatus) {
    EXPECT_EQ(rawStatusWithoutCapability(4), "Error creating socket: Permission denied. Try running in adminstrator mode.");
    EXPECT_EQ(rawStatusWithoutCapability(6), "Error creating socket: Permission denied. Try running in adminstrator mode.");
}

// A hand-made IPv4 header and UDP header around a payload, as the raw mode's owner writes them.
void writeUdpPacket(ByteWriter* writer, u16 sourcePort, u16 destinationPort, const std::string& payload) {
    u16 udpLength = (u16)(8 + payload.size());
    appendU8(0x45, writer);
    appendU8(0, writer);
    appendU16Be((u16)(20 + udpLength), writer);
    appendU16Be(0x1234, writer);
    appendU16Be(0, writer);
    appendU8(64, writer);
    appendU8(17, writer);
    appendU16Be(0, writer);  // the system fills in the header checksum
    appendBytes(kLoopback4, 4, writer);
    appendBytes(kLoopback4, 4, writer);
    appendU16Be(sourcePort, writer);
    appendU16Be(destinationPort, writer);
    appendU16Be(udpLength, writer);
    appendU16Be(0, writer);  // no UDP checksum
    appendBytes(payload.data(), (i64)payload.size(), writer);
}

void writeUdp6Packet(ByteWriter* writer, u16 sourcePort, u16 destinationPort, const std::string& payload) {
    u16 udpLength = (u16)(8 + payload.size());
    // Checksum over the pseudo-header (addresses, length, next header) and the UDP datagram.
    u32 sum = 2 * 1 + udpLength + 17 + sourcePort + destinationPort + udpLength;
    for (size_t i = 0; i < payload.size(); i += 2) {
        u32 high = (u8)payload[i];
        u32 low = i + 1 < payload.size() ? (u8)payload[i + 1] : 0;
        sum += (high << 8) | low;
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    u16 checksum = (u16)~sum;
    appendU32Be(0x60000000, writer);
    appendU16Be(udpLength, writer);
    appendU8(17, writer);
    appendU8(64, writer);
    appendBytes(kLoopback6, 16, writer);
    appendBytes(kLoopback6, 16, writer);
    appendU16Be(sourcePort, writer);
    appendU16Be(destinationPort, writer);
    appendU16Be(udpLength, writer);
    appendU16Be(checksum == 0 ? 0xFFFF : checksum, writer);
    appendBytes(payload.data(), (i64)payload.size(), writer);
}

// A raw UDP socket receives a copy of every UDP packet on the machine: beside other tests (or a
// running station) their traffic would fill its buffer and crowd out the packets it waits for, so
// it runs in a network of its own.
TEST(RawSocket, SendsAndReceivesWholeIpPacketsWithTheCapability) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "raw sockets need CAP_NET_RAW";
    }
    PrivateNetwork network;
    if (!network.reason.empty()) {
        GTEST_SKIP() << network.reason;
    }
    PythonPeer peer;
    ASSERT_TRUE(startPythonPeer(&peer, "socket_peer.py"));
    auto socket = std::make_unique<Socket>();
    FixedString noInterface{};
    SocketResult result{};
    auto step = [&](SocketResult*) { updateSocket(&result, socket.get(), 4, SocketModeRaw, 0, &noInterface, nullptr, 0); };
    step(&result);
    if (text(socket->status) == "Error creating socket: Permission denied. Try running in adminstrator mode.") {
        stopPythonPeer(&peer);
        GTEST_SKIP() << "this container gives root no CAP_NET_RAW";
    }
    ASSERT_EQ(socket->state, (u32)SocketStateReady) << text(socket->status);

    auto python = words(peerCommand(&peer, "udp 4"));
    u16 pythonPort = (u16)std::stoi(python.at(1));
    AddressRecord to = makeAddressRecord(4, kLoopback4, pythonPort);
    writeUdpPacket(queueSocketPacket(&to, socket.get()), 40001, pythonPort, "raw hello");
    step(&result);
    EXPECT_EQ(peerCommand(&peer, "recvfrom " + python.at(0)), "40001 " + hexOfText("raw hello"));

    // Whole incoming UDP packets arrive with their IP header.
    peerCommand(&peer, "sendto " + python.at(0) + " 40002 " + hexOfText("to the raw socket"));
    std::string wanted = "to the raw socket";
    ASSERT_TRUE(stepUntil(&result, step, [&](const SocketResult& r) {
        return r.received == 1 && r.length == 28 + wanted.size() &&
               std::string((const char*)r.data + 28, wanted.size()) == wanted;
    }));
    EXPECT_EQ(result.data[0], 0x45);
    EXPECT_EQ(result.data[9], 17);
    EXPECT_EQ(result.source.family, 4);
    EXPECT_EQ(std::memcmp(result.source.address, kLoopback4, 4), 0);
    EXPECT_EQ(queueSocketPacketToPeer(result.peerIndex, socket.get()), nullptr);

    // IPv6: the caller's own header, and a UDP checksum, which IPv6 requires.
    updateSocket(&result, socket.get(), 6, SocketModeRaw, 0, &noInterface, nullptr, 0);
    EXPECT_EQ(result.reset, 1u);
    ASSERT_EQ(socket->state, (u32)SocketStateReady) << text(socket->status);
    auto python6 = words(peerCommand(&peer, "udp 6"));
    u16 port6 = (u16)std::stoi(python6.at(1));
    AddressRecord to6 = makeAddressRecord(6, kLoopback6, port6);
    writeUdp6Packet(queueSocketPacket(&to6, socket.get()), 40003, port6, "raw six");
    updateSocket(&result, socket.get(), 6, SocketModeRaw, 0, &noInterface, nullptr, 0);
    EXPECT_EQ(text(socket->status).rfind("Error", 0), std::string::npos) << text(socket->status);
    EXPECT_EQ(peerCommand(&peer, "recvfrom " + python6.at(0)), "40003 " + hexOfText("raw six"));
    closeSocket(socket.get());
    stopPythonPeer(&peer);
}

TEST(NetworkInterfaces, ListsTheLoopbackAddresses) {
    AddressRecord addresses[32];
    FixedString names[32];
    i32 count = listNetworkInterfaces(addresses, names, 32, 0);
    bool four = false;
    bool six = false;
    for (i32 i = 0; i < count; i++) {
        EXPECT_EQ(addresses[i].port, 0);
        if (addresses[i].family == 4 && std::memcmp(addresses[i].address, kLoopback4, 4) == 0) {
            EXPECT_EQ(text(names[i]), "lo");
            four = true;
        }
        if (addresses[i].family == 6 && addresses[i].address[15] == 1 && addresses[i].address[0] == 0) {
            EXPECT_EQ(text(names[i]), "lo");
            six = true;
        }
    }
    EXPECT_TRUE(four);
    EXPECT_TRUE(six);
    i32 onlySix = listNetworkInterfaces(addresses, names, 32, 6);
    for (i32 i = 0; i < onlySix; i++) {
        EXPECT_EQ(addresses[i].family, 6);
    }
    EXPECT_LT(onlySix, count);
    EXPECT_EQ(listNetworkInterfaces(addresses, names, 0, 0), 0);
}

TEST(NetworkInterfaces, FindsTheAddressToBindTo) {
    FixedString error{};
    FixedString lo = makeString("lo");
    AddressRecord found = findNetworkInterface(&lo, 4, &error);
    EXPECT_EQ(error.length, 0);
    EXPECT_EQ(found.family, 4);
    EXPECT_EQ(std::memcmp(found.address, kLoopback4, 4), 0);

    FixedString upper = makeString("LO");
    AddressRecord missing = findNetworkInterface(&upper, 4, &error);
    EXPECT_EQ(missing.family, 0);
    EXPECT_EQ(text(error), "Couldn't find a network interface called \"LO\"");

    FixedString literal = makeString("10.0.0.2");
    AddressRecord direct = findNetworkInterface(&literal, 4, &error);
    EXPECT_EQ(error.length, 0);
    EXPECT_EQ(direct.address[3], 2);
    findNetworkInterface(&literal, 6, &error);
    EXPECT_EQ(text(error), "10.0.0.2 is an IPv4 address, but the socket requires v6");

    FixedString empty{};
    AddressRecord any = findNetworkInterface(&empty, 6, &error);
    EXPECT_EQ(any.family, 0);
    EXPECT_EQ(error.length, 0);
}

TEST(NetworkInterfaces, SocketBindsToANamedInterface) {
    PythonPeer peer;
    ASSERT_TRUE(startPythonPeer(&peer, "socket_peer.py"));
    auto socket = std::make_unique<Socket>();
    SocketResult result{};
    FixedString name = makeString("no-such-interface");
    updateSocket(&result, socket.get(), 4, SocketModeUdp, 0, &name, nullptr, 0);
    EXPECT_EQ(text(socket->status), "Couldn't find a network interface called \"no-such-interface\"");
    EXPECT_EQ(socket->state, (u32)SocketStateConfigured);

    name = makeString("lo");
    auto step = [&](SocketResult*) { updateSocket(&result, socket.get(), 4, SocketModeUdp, 0, &name, nullptr, 0); };
    step(&result);
    EXPECT_EQ(result.reset, 1u);
    ASSERT_EQ(socket->state, (u32)SocketStateReady) << text(socket->status);
    auto python = words(peerCommand(&peer, "udp 4"));
    peerCommand(&peer, "sendto " + python.at(0) + " " + std::to_string(socket->localPort) + " 6c6f");
    ASSERT_TRUE(stepUntil(&result, step, [](const SocketResult& r) { return r.received == 1; }));
    EXPECT_EQ(std::string((const char*)result.data, result.length), "lo");
    closeSocket(socket.get());
    stopPythonPeer(&peer);
}

}  // namespace
