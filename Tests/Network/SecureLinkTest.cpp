// The relay link's datagrams against python3-cryptography (an independent reading of the format and
// key schedule, both ways), and the datagrams that must be dropped without changing anything.
#include "Core/Preferences.h"
#include "Crypto/X25519.h"
#include "NetworkTestSupport.h"
#include "Network/Address.h"
#include "Network/SecureLink.h"
#include "Network/SecureLinkFormat.h"
#include "Network/Socket.h"
#include "Platform/Input.h"
#include "Platform/Random.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

const u8 kLoopback[4] = {127, 0, 0, 1};
constexpr u16 kHostPort = 9876;
constexpr u16 kClientPort = 40111;

struct Datagram {
    AddressRecord destination;
    std::vector<u8> bytes;
};

std::vector<Datagram> takeQueued(Socket* socket) {
    std::vector<Datagram> taken;
    while (PacketSlot* slot = oldestQueuedPacket(&socket->sendQueue)) {
        taken.push_back({slot->destination, std::vector<u8>(slot->data, slot->data + slot->writer.length)});
        dropOldestQueuedPacket(&socket->sendQueue);
    }
    return taken;
}

std::vector<u8> fromHex(const std::string& hex) {
    std::vector<u8> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back((u8)std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string hex(const std::vector<u8>& bytes) { return hexOf(bytes.data(), bytes.size()); }

// A MAVLink-looking packet of a given length (its content does not matter to the link).
std::vector<u8> packet(size_t length, u8 seed) {
    std::vector<u8> bytes(length);
    for (size_t i = 0; i < length; i++) bytes[i] = (u8)(seed * 31 + i * 7);
    if (length) bytes[0] = 0xFD;
    return bytes;
}

struct Link : testing::Test {
    std::unique_ptr<SecureLinkHost> host = std::make_unique<SecureLinkHost>();
    std::unique_ptr<SecureLinkClient> client = std::make_unique<SecureLinkClient>();
    std::unique_ptr<Socket> hostSocket = std::make_unique<Socket>();
    std::unique_ptr<Socket> clientSocket = std::make_unique<Socket>();
    std::unique_ptr<Preferences> preferences = std::make_unique<Preferences>();
    RelayHostIdentity hostIdentity{};
    SecureLinkClientIdentity clientIdentity{};
    GamepadState gamepad{};
    AddressRecord hostAddress = makeAddressRecord(4, kLoopback, kHostPort);
    AddressRecord clientAddress = makeAddressRecord(4, kLoopback, kClientPort);
    u64 now = 7000000000;

    void SetUp() override {
        ASSERT_EQ(generateX25519KeyPair(hostIdentity.privateKey, hostIdentity.publicKey), 0);
        ASSERT_EQ(getRandomBytes(hostIdentity.controllingListenerPassword, 8), 0);
        ASSERT_EQ(generateX25519KeyPair(clientIdentity.privateKey, clientIdentity.publicKey), 0);
        clientIdentity.peerId = 0xBEE5;
        clientIdentity.name = makeString("tablet 2");
        host->identity = &hostIdentity;
        client->identity = &clientIdentity;
    }

    SecureLinkReceived toHost(std::vector<u8> bytes, const AddressRecord& source, u32 stream = RelayStreamMavlink) {
        SocketResult result{};
        result.received = 1;
        result.data = bytes.data();
        result.length = (u32)bytes.size();
        result.source = source;
        SecureLinkReceived received;
        receiveFromSecureLinkPeer(&received, &result, host.get(), stream, preferences.get(), now);
        exchangeKeysWithNewSecureLinkPeers(host.get(), stream, preferences.get(), now);  // a drain's end
        lastOpened = received.data ? std::vector<u8>(received.data, received.data + received.length) : std::vector<u8>();
        return received;
    }
    // What the client hands on: the opened packet, or nothing when the link used or dropped it.
    std::vector<u8> toClient(std::vector<u8> bytes) {
        u8* data = bytes.data();
        u32 length = (u32)bytes.size();
        receiveFromSecureLinkHost(&data, &length, client.get(), &gamepad, now);
        return std::vector<u8>(data, data + length);
    }
    void deliverToHost() {
        for (Datagram& datagram : takeQueued(clientSocket.get())) toHost(datagram.bytes, clientAddress);
    }
    void deliverToClient() {
        for (Datagram& datagram : takeQueued(hostSocket.get())) toClient(datagram.bytes);
    }
    // Hello, key, sealed hello, and the user's decision: the link is up with the given grants.
    void connect(u32 decision) {
        sendSecureLinkHello(client.get(), &hostAddress, clientSocket.get(), RelayStreamMavlink, now);
        deliverToHost();
        ASSERT_EQ(host->peers[0].peerId, clientIdentity.peerId);
        sendSecureLinkPublicKey(host.get(), hostSocket.get(), RelayStreamMavlink, preferences.get(), now);
        deliverToClient();
        ASSERT_EQ(client->keys.ready, 1u);
        now += 20000;
        sendSecureLinkHello(client.get(), &hostAddress, clientSocket.get(), RelayStreamMavlink, now);
        deliverToHost();
        ASSERT_EQ(std::string(host->peers[0].name.text, host->peers[0].name.length), "tablet 2");
        setSecureLinkPeerDecision(host.get(), &host->peers[0], decision);
    }
    // The password's round trip: the host sends it, the client proves it, and the host names the peer
    // it granted control as its controller.
    void proveControl() {
        now += 20000;
        sendSecureLinkStateUpdates(host.get(), hostSocket.get(), &gamepad, 0, preferences.get(), now);
        deliverToClient();
        sendSecureLinkHello(client.get(), &hostAddress, clientSocket.get(), RelayStreamMavlink, now);
        deliverToHost();
        sendSecureLinkStateUpdates(host.get(), hostSocket.get(), &gamepad, 0, preferences.get(), now);
        takeQueued(hostSocket.get());
    }
    // One frame of both sides: the host's key and state to the client, the client's hello to the host.
    void exchangeFrame() {
        now += 20000;
        sendSecureLinkPublicKey(host.get(), hostSocket.get(), RelayStreamMavlink, preferences.get(), now);
        sendSecureLinkStateUpdates(host.get(), hostSocket.get(), nullptr, 0, preferences.get(), now);
        deliverToClient();
        sendSecureLinkHello(client.get(), &hostAddress, clientSocket.get(), RelayStreamMavlink, now);
        deliverToHost();
    }
    std::vector<u8> lastOpened;
};

TEST_F(Link, SealedDatagramsReadAndWrittenByPythonCryptographyMatchBothWays) {
    connect(SecureLinkGrantTelemetry | SecureLinkGrantControl);
    if (HasFatalFailure()) return;
    PythonPeer python;
    ASSERT_TRUE(startPythonPeer(&python, "secure_link_oracle.py"));
    std::string keys = "keys " + hexOf(hostIdentity.privateKey, 32) + " " + hexOf(clientIdentity.publicKey, 32) + " " +
                       hexOf(host->peers[0].hostNonce, kSecureLinkHostNonceBytes);
    EXPECT_EQ(peerCommand(&python, keys), "public " + hexOf(hostIdentity.publicKey, 32));

    // Host to client: relayed packets of every length around the block size, and the host's own.
    gamepad.controllerKind = ControllerHerelink;
    gamepad.name = makeString("Herelink");
    gamepad.leftStickY = 0.5f;
    sendSecureLinkStateUpdates(host.get(), hostSocket.get(), &gamepad, 0x15, preferences.get(), now);
    std::vector<std::vector<u8>> sent;
    for (size_t length = 1; length <= 60; length++) {  // the queue holds 63
        sent.push_back(packet(length, (u8)length));
        ByteWriter writer = makeByteWriter(sent.back().data(), (i64)length);
        writer.length = (i64)length;
        relayPacketToPeers(host.get(), hostSocket.get(), RelayStreamMavlink, preferences.get(), &writer, now);
    }
    std::vector<Datagram> fromHost = takeQueued(hostSocket.get());
    ASSERT_EQ(fromHost.size(), sent.size() + 2);  // the password and the host's state first
    u64 expectedCounter = 0;
    for (size_t i = 0; i < fromHost.size(); i++) {
        EXPECT_TRUE(sameEndpoint(&fromHost[i].destination, &clientAddress));
        std::vector<std::string> answer = words(peerCommand(&python, "open " + hex(fromHost[i].bytes)));
        ASSERT_EQ(answer.size(), 6u) << i << ": " << (answer.empty() ? "" : answer[1]);
        EXPECT_EQ(answer[1], "3");
        EXPECT_EQ(answer[2], std::to_string(clientIdentity.peerId));
        EXPECT_EQ(answer[4], std::to_string(expectedCounter++));
        std::string expected = i == 0   ? "05" + hexOf(hostIdentity.controllingListenerPassword, 8)
                               : i == 1 ? "0609"  // the host's state: telemetry, control awaiting the proof
                                        : hex(sent[i - 2]);
        EXPECT_EQ(answer[5].substr(0, expected.size()), expected);
        // The client opens the same datagram to the same packet.
        std::vector<u8> opened = toClient(fromHost[i].bytes);
        EXPECT_EQ(hex(opened), i >= 2 ? hex(sent[i - 2]) : "");
    }
    EXPECT_EQ(std::memcmp(clientIdentity.relayPassword, hostIdentity.controllingListenerPassword, 8), 0);
    EXPECT_EQ(gamepad.remote, 1u);
    EXPECT_EQ(client->hostButtons, 0x15u);

    // Client to host: the sealed hello and sealed MAVLink read by Python.
    now += 20000;
    sendSecureLinkHello(client.get(), &hostAddress, clientSocket.get(), RelayStreamMavlink, now);  // the new password
    for (u8 i = 0; i < 20; i++) {
        std::vector<u8> bytes = packet(10 + i * 3, i);
        ByteWriter* slot = queueSocketPacket(&hostAddress, clientSocket.get());
        appendBytes(bytes.data(), (i64)bytes.size(), slot);
        sent.push_back(bytes);
    }
    encryptSecureLinkSendQueue(client.get(), clientSocket.get());
    std::vector<Datagram> fromClient = takeQueued(clientSocket.get());
    ASSERT_EQ(fromClient.size(), 21u);
    std::vector<std::string> hello = words(peerCommand(&python, "open " + hex(fromClient[0].bytes)));
    ASSERT_EQ(hello.size(), 6u);
    // The block begins with a proof of the password for this session and stream, not the password.
    std::vector<std::string> proof =
        words(peerCommand(&python, "proof " + hexOf(hostIdentity.controllingListenerPassword, 8) + " 0"));
    ASSERT_EQ(proof.size(), 2u);
    EXPECT_EQ(hello[5].substr(0, 32), proof[1]);
    EXPECT_EQ(hello[5].find(hexOf(hostIdentity.controllingListenerPassword, 8)), std::string::npos);
    EXPECT_EQ(toHost(fromClient[0].bytes, clientAddress).peer, nullptr);  // a hello hands nothing on
    // The proven password makes the peer the controlling one, whose sealed data the host opens.
    sendSecureLinkStateUpdates(host.get(), hostSocket.get(), &gamepad, 0, preferences.get(), now);
    EXPECT_EQ(host->controllingPeer, &host->peers[0]);
    for (size_t i = 1; i < fromClient.size(); i++) {
        std::vector<std::string> answer = words(peerCommand(&python, "open " + hex(fromClient[i].bytes)));
        ASSERT_EQ(answer.size(), 6u);
        EXPECT_EQ(answer[1], "4");
        EXPECT_EQ(answer[5], hex(sent[60 + i - 1]));
    }

    // Written by Python, opened here: MAVLink from the client to the host, and from the host to the client.
    for (u32 i = 0; i < 20; i++) {
        std::vector<u8> inner = packet(1 + i * 5, (u8)(i + 100));
        std::vector<std::string> answer =
            words(peerCommand(&python, "seal 4 " + std::to_string(clientIdentity.peerId) + " 0 " +
                                           std::to_string(5000 + i) + " " + hex(inner)));
        ASSERT_EQ(answer.size(), 2u);
        SecureLinkReceived received = toHost(fromHex(answer[1]), clientAddress);
        EXPECT_EQ(received.peer, &host->peers[0]);
        EXPECT_EQ(hex(lastOpened), hex(inner));

        answer = words(peerCommand(&python, "seal 3 " + std::to_string(clientIdentity.peerId) + " 0 " +
                                                std::to_string(9000 + i) + " " + hex(inner)));
        EXPECT_EQ(hex(toClient(fromHex(answer[1]))), hex(inner));
    }
    stopPythonPeer(&python);
}

TEST_F(Link, ChangedWrongKeyReplayedTruncatedAndForeignDatagramsAreDroppedAndChangeNothing) {
    connect(SecureLinkGrantTelemetry | SecureLinkGrantControl);
    if (HasFatalFailure()) return;
    proveControl();
    std::vector<u8> inner = packet(40, 9);
    ByteWriter writer = makeByteWriter(inner.data(), (i64)inner.size());
    writer.length = (i64)inner.size();
    relayPacketToPeers(host.get(), hostSocket.get(), RelayStreamMavlink, preferences.get(), &writer, now);
    relayPacketToPeers(host.get(), hostSocket.get(), RelayStreamMavlink, preferences.get(), &writer, now);
    std::vector<Datagram> fromHost = takeQueued(hostSocket.get());
    ASSERT_EQ(fromHost.size(), 2u);
    ByteWriter* slot = queueSocketPacket(&hostAddress, clientSocket.get());
    appendBytes(inner.data(), (i64)inner.size(), slot);
    encryptSecureLinkSendQueue(client.get(), clientSocket.get());
    std::vector<u8> fromClient = takeQueued(clientSocket.get())[0].bytes;

    auto snapshot = [&] {
        std::vector<u8> bytes((const u8*)client.get(), (const u8*)client.get() + sizeof(SecureLinkClient));
        bytes.insert(bytes.end(), (const u8*)host.get(), (const u8*)host.get() + sizeof(SecureLinkHost));
        return bytes;
    };
    std::vector<u8> before = snapshot();
    auto unchanged = [&] { return snapshot() == before; };
    std::vector<u8> good = fromHost[0].bytes;

    // One bit changed anywhere.
    for (size_t bit = 0; bit < good.size() * 8; bit++) {
        std::vector<u8> changed = good;
        changed[bit / 8] ^= (u8)(1 << bit % 8);
        EXPECT_TRUE(toClient(changed).empty()) << "bit " << bit;
        changed = fromClient;
        changed[bit / 8] ^= (u8)(1 << bit % 8);
        EXPECT_EQ(toHost(changed, clientAddress).peer, nullptr) << "bit " << bit;
    }
    // Cut short by any number of bytes.
    for (size_t length = 2; length < good.size(); length++) {
        EXPECT_TRUE(toClient(std::vector<u8>(good.begin(), good.begin() + (long)length)).empty()) << length;
        EXPECT_EQ(toHost(std::vector<u8>(fromClient.begin(), fromClient.begin() + (long)length), clientAddress).peer,
                  nullptr);
    }
    // Sealed for another client (a wrong key), and from a peer that never said hello.
    auto stranger = std::make_unique<SecureLinkClient>();
    SecureLinkClientIdentity strangerIdentity = clientIdentity;
    ASSERT_EQ(generateX25519KeyPair(strangerIdentity.privateKey, strangerIdentity.publicKey), 0);
    stranger->identity = &strangerIdentity;
    stranger->server = hostAddress;
    std::vector<u8> key(fromHost[0].bytes.begin(), fromHost[0].bytes.begin() + 3);
    key[0] = SecureLinkHostKey;
    key.insert(key.end(), hostIdentity.publicKey, hostIdentity.publicKey + 32);
    key.insert(key.end(), host->peers[0].hostNonce, host->peers[0].hostNonce + kSecureLinkHostNonceBytes);
    u8* data = key.data();
    u32 length = (u32)key.size();
    receiveFromSecureLinkHost(&data, &length, stranger.get(), nullptr, now);
    ASSERT_EQ(stranger->keys.ready, 1u);
    slot = queueSocketPacket(&hostAddress, clientSocket.get());
    appendBytes(inner.data(), (i64)inner.size(), slot);
    encryptSecureLinkSendQueue(stranger.get(), clientSocket.get());
    std::vector<u8> foreign = takeQueued(clientSocket.get())[0].bytes;
    EXPECT_EQ(toHost(foreign, clientAddress).peer, nullptr);  // same peer id, another key
    std::vector<u8> otherPeer = foreign;
    otherPeer[1] ^= 0x40;
    EXPECT_EQ(toHost(otherPeer, clientAddress).peer, nullptr);  // an unknown peer id
    EXPECT_EQ(toHost(fromClient, makeAddressRecord(4, (const u8*)"\x7f\0\0\x02", kClientPort)).peer, nullptr);
    // Plain MAVLink while the link is encrypted.
    EXPECT_TRUE(toClient(inner).empty());
    EXPECT_EQ(toHost(inner, clientAddress).peer, nullptr);
    EXPECT_TRUE(unchanged());

    // Taken once, then a replay of it is dropped; so is one more than 63 behind the newest.
    EXPECT_EQ(hex(toClient(good)), hex(inner));
    EXPECT_EQ(toHost(fromClient, clientAddress).peer, &host->peers[0]);
    before = snapshot();
    EXPECT_TRUE(toClient(good).empty());
    EXPECT_EQ(toHost(fromClient, clientAddress).peer, nullptr);
    EXPECT_TRUE(unchanged());
    std::vector<Datagram> later;
    for (i32 i = 0; i < 64; i++) {
        relayPacketToPeers(host.get(), hostSocket.get(), RelayStreamMavlink, preferences.get(), &writer, now);
        later.push_back(takeQueued(hostSocket.get())[0]);
    }
    EXPECT_EQ(hex(toClient(later.back().bytes)), hex(inner));
    EXPECT_TRUE(toClient(fromHost[1].bytes).empty());  // counter 1, the newest is 65
    EXPECT_EQ(hex(toClient(later[10].bytes)), hex(inner));  // within the window, not yet seen
}

TEST_F(Link, WithEncryptionDisabledEverythingGoesPlainAndNothingSealedLeavesWithItOn) {
    preferences->relayModeDisableEncryption = 1;
    sendSecureLinkHello(client.get(), &hostAddress, clientSocket.get(), RelayStreamMavlink, now);
    deliverToHost();
    setSecureLinkPeerDecision(host.get(), &host->peers[0], SecureLinkGrantTelemetry | SecureLinkGrantControl);
    sendSecureLinkPublicKey(host.get(), hostSocket.get(), RelayStreamMavlink, preferences.get(), now);
    sendSecureLinkStateUpdates(host.get(), hostSocket.get(), nullptr, 0, preferences.get(), now);
    std::vector<u8> inner = packet(30, 3);
    ByteWriter writer = makeByteWriter(inner.data(), (i64)inner.size());
    writer.length = (i64)inner.size();
    relayPacketToPeers(host.get(), hostSocket.get(), RelayStreamMavlink, preferences.get(), &writer, now);
    std::vector<Datagram> plain = takeQueued(hostSocket.get());
    ASSERT_EQ(plain.size(), 3u);  // the password, the state and the packet, no key
    EXPECT_EQ(plain[0].bytes[0], SecureLinkControlPassword);
    EXPECT_EQ(plain[1].bytes[0], SecureLinkHostState);
    EXPECT_EQ(hex(plain[2].bytes), hex(inner));
    EXPECT_TRUE(toClient(plain[0].bytes).empty());
    EXPECT_TRUE(toClient(plain[1].bytes).empty());
    EXPECT_EQ(hex(toClient(plain[2].bytes)), hex(inner));
    EXPECT_NE(client->lastTelemetryTime, 0u);
    // The client learnt that its host is plain and tells its name with the proof of the password; once
    // in control its MAVLink is taken plain.
    sendSecureLinkHello(client.get(), &hostAddress, clientSocket.get(), RelayStreamMavlink, now);
    deliverToHost();
    EXPECT_EQ(std::string(host->peers[0].name.text, host->peers[0].name.length), "tablet 2");
    sendSecureLinkStateUpdates(host.get(), hostSocket.get(), nullptr, 0, preferences.get(), now);
    EXPECT_EQ(toHost(inner, clientAddress).peer, &host->peers[0]);
    takeQueued(hostSocket.get());

    // Encryption on again: an undecided peer gets nothing, a granted one only sealed datagrams.
    preferences->relayModeDisableEncryption = 0;
    setSecureLinkPeerDecision(host.get(), &host->peers[0], 0);
    relayPacketToPeers(host.get(), hostSocket.get(), RelayStreamMavlink, preferences.get(), &writer, now);
    EXPECT_TRUE(takeQueued(hostSocket.get()).empty());
    EXPECT_EQ(toHost(inner, clientAddress).peer, nullptr);
    setSecureLinkPeerDecision(host.get(), &host->peers[0], SecureLinkGrantTelemetry);
    now += 2000000;
    sendSecureLinkPublicKey(host.get(), hostSocket.get(), RelayStreamMavlink, preferences.get(), now);
    exchangeKeysWithNewSecureLinkPeers(host.get(), RelayStreamMavlink, preferences.get(), now);  // the drain's end
    sendSecureLinkPublicKey(host.get(), hostSocket.get(), RelayStreamMavlink, preferences.get(), now);
    sendSecureLinkStateUpdates(host.get(), hostSocket.get(), nullptr, 0, preferences.get(), now);
    relayPacketToPeers(host.get(), hostSocket.get(), RelayStreamMavlink, preferences.get(), &writer, now);
    std::vector<Datagram> sealed = takeQueued(hostSocket.get());
    ASSERT_EQ(sealed.size(), 4u);  // the key, the device's own password, the state and the packet
    EXPECT_EQ(sealed[0].bytes[0], SecureLinkHostKey);
    EXPECT_EQ(sealed[1].bytes[0], SecureLinkFromHost);
    EXPECT_EQ(sealed[2].bytes[0], SecureLinkFromHost);
    EXPECT_EQ(sealed[3].bytes[0], SecureLinkFromHost);
    for (Datagram& datagram : sealed) toClient(datagram.bytes);
    EXPECT_EQ(client->keys.ready, 1u);
}

}  // namespace

namespace {

// After a restart the host keeps the listener it granted control and its password: that listener
// controls again once it echoes the password, unasked, and is granted control and telemetry on the
// list; another password at the same address does not.
TEST_F(Link, KeptListenerRegainsControlOnlyWithTheKeptPassword) {
    hostIdentity.controllingListener = makeAddressRecord(4, kLoopback, 0);
    std::memcpy(clientIdentity.relayPassword, hostIdentity.controllingListenerPassword, 8);
    clientIdentity.relayPassword[7] ^= 1;
    connect(0);
    if (HasFatalFailure()) return;
    sendSecureLinkStateUpdates(host.get(), hostSocket.get(), nullptr, 0, preferences.get(), now);
    EXPECT_EQ(host->controllingPeer, nullptr);
    takeQueued(hostSocket.get());

    std::memcpy(clientIdentity.relayPassword, hostIdentity.controllingListenerPassword, 8);
    client->helloPending = 1;
    now += 20000;
    sendSecureLinkHello(client.get(), &hostAddress, clientSocket.get(), RelayStreamMavlink, now);
    deliverToHost();
    sendSecureLinkStateUpdates(host.get(), hostSocket.get(), nullptr, 0, preferences.get(), now);
    EXPECT_EQ(host->controllingPeer, &host->peers[0]);
    EXPECT_EQ(host->peers[0].userDecision, (u32)(SecureLinkGrantTelemetry | SecureLinkGrantControl));
}

}  // namespace

namespace {

// The IVs of the client's sealed datagrams (sealed data and sealed hellos); each must be new.
struct IvLog {
    std::vector<std::vector<u8>> seen;
    bool add(const std::vector<u8>& datagram) {
        i64 header = datagram[0] == SecureLinkHello ? 36 : datagram[0] == SecureLinkFromClient ? 4 : -1;
        if (header < 0 || (i64)datagram.size() < header + 8 + 16 + 32) return true;
        std::vector<u8> iv(datagram.begin() + header + 8, datagram.begin() + header + 24);
        for (const std::vector<u8>& earlier : seen) {
            if (earlier == iv) return false;
        }
        seen.push_back(iv);
        return true;
    }
};

// A client that starts over (its connection switched to another host and back) comes back with a
// fresh key pair: no IV is sealed twice, and the host, which keeps its replay windows, takes its
// MAVLink again, as the controller it granted, with its earlier grants.
TEST_F(Link, ClientStartingOverUsesAFreshKeyAndKeepsItsGrantedControl) {
    connect(SecureLinkGrantTelemetry | SecureLinkGrantControl);
    if (HasFatalFailure()) return;
    IvLog ivs;
    auto clientToHost = [&] {
        const SecureLinkPeer* mavlinkFrom = nullptr;
        for (Datagram& datagram : takeQueued(clientSocket.get())) {
            EXPECT_TRUE(ivs.add(datagram.bytes)) << "an IV sealed twice";
            if (!sameEndpoint(&datagram.destination, &hostAddress)) continue;
            SecureLinkReceived received = toHost(datagram.bytes, clientAddress);
            if (received.data) mavlinkFrom = received.peer;
        }
        return mavlinkFrom;
    };
    auto exchange = [&] {  // one frame of both sides
        now += 20000;
        sendSecureLinkPublicKey(host.get(), hostSocket.get(), RelayStreamMavlink, preferences.get(), now);
        sendSecureLinkStateUpdates(host.get(), hostSocket.get(), nullptr, 0, preferences.get(), now);
        deliverToClient();
        sendSecureLinkHello(client.get(), &hostAddress, clientSocket.get(), RelayStreamMavlink, now);
        clientToHost();
    };
    auto sendMavlink = [&](u8 seed) {
        std::vector<u8> bytes = packet(30, seed);
        appendBytes(bytes.data(), (i64)bytes.size(), queueSocketPacket(&hostAddress, clientSocket.get()));
        encryptSecureLinkSendQueue(client.get(), clientSocket.get());
        return clientToHost();
    };
    for (i32 i = 0; i < 5; i++) exchange();  // the password goes out and is echoed
    ASSERT_NE(host->controllingPeer, nullptr);
    for (u8 i = 0; i < 5; i++) EXPECT_EQ(sendMavlink(i), host->controllingPeer);

    u16 firstPeerId = clientIdentity.peerId;
    u8 firstKey[32];
    std::memcpy(firstKey, clientIdentity.publicKey, 32);
    AddressRecord elsewhere = makeAddressRecord(4, kLoopback, kHostPort + 1);
    sendSecureLinkHello(client.get(), &elsewhere, clientSocket.get(), RelayStreamMavlink, now);
    clientToHost();
    for (i32 i = 0; i < 10; i++) exchange();
    EXPECT_NE(std::memcmp(firstKey, clientIdentity.publicKey, 32), 0);
    EXPECT_NE(clientIdentity.peerId, firstPeerId);
    ASSERT_NE(host->controllingPeer, nullptr);
    EXPECT_EQ(host->controllingPeer->peerId, clientIdentity.peerId);
    EXPECT_EQ(host->controllingPeer->userDecision, (u32)(SecureLinkGrantTelemetry | SecureLinkGrantControl));
    i32 listed = 0;
    for (const SecureLinkPeer& peer : host->peers) listed += peer.address.family != 0;
    EXPECT_EQ(listed, 1);  // its old entry is gone
    for (u8 i = 0; i < 5; i++) EXPECT_EQ(sendMavlink((u8)(i + 10)), host->controllingPeer);
}

// A device whose kept password was damaged: its hello that fails the proof takes the proof back, and
// the host sends the password again, sealed, which the device keeps. Its link then silent for 3 s, it
// follows a plain host state forged from the host's endpoint, as it would a host that turned its
// encryption off; a password that comes plain with it leaves the kept one as it was.
TEST_F(Link, APlainPasswordNeverReplacesOneKeptFromASealedLink) {
    connect(SecureLinkGrantTelemetry | SecureLinkGrantControl);
    if (HasFatalFailure()) return;
    proveControl();
    ASSERT_EQ(host->controllingPeer, &host->peers[0]);
    clientIdentity.relayPassword[0] ^= 0xFF;
    client->helloPending = 1;
    now += 20000;
    sendSecureLinkHello(client.get(), &hostAddress, clientSocket.get(), RelayStreamMavlink, now);
    deliverToHost();
    EXPECT_EQ(host->peers[0].passwordProved, 0u);
    sendSecureLinkStateUpdates(host.get(), hostSocket.get(), nullptr, 0, preferences.get(), now);
    deliverToClient();
    EXPECT_EQ(std::memcmp(clientIdentity.relayPassword, hostIdentity.controllingListenerPassword, 8), 0);
    proveControl();
    EXPECT_EQ(host->controllingPeer, &host->peers[0]);

    now += kSecureLinkHostSilence;
    std::vector<u8> state = {SecureLinkHostState, SecureLinkGrantTelemetry | SecureLinkGrantControl, 0, 0, 0, 0, 0};
    state.resize(state.size() + 40 + 32 + kSecureLinkHostNonceBytes, 0x5A);  // axes, buttons, host key, nonce
    EXPECT_TRUE(toClient(state).empty());
    EXPECT_EQ(client->hostPlain, 1u);
    std::vector<u8> password = {SecureLinkControlPassword, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_TRUE(toClient(password).empty());
    EXPECT_EQ(std::memcmp(clientIdentity.relayPassword, hostIdentity.controllingListenerPassword, 8), 0);
}

// A host key is public: while sealed datagrams still come under the keys, another one is ignored.
// Only after 3 s without any does the client take another (the host started again), with the key
// pair and peer id it has: keys from another host key never counted.
TEST_F(Link, AnotherHostKeyNeverRekeysALiveLink) {
    connect(SecureLinkGrantTelemetry);
    if (HasFatalFailure()) return;
    sendSecureLinkStateUpdates(host.get(), hostSocket.get(), nullptr, 0, preferences.get(), now);
    deliverToClient();
    u8 other[32], otherPrivate[32];
    ASSERT_EQ(generateX25519KeyPair(otherPrivate, other), 0);
    std::vector<u8> forged = {SecureLinkHostKey, (u8)clientIdentity.peerId, (u8)(clientIdentity.peerId >> 8)};
    forged.insert(forged.end(), other, other + 32);
    forged.insert(forged.end(), kSecureLinkHostNonceBytes, 0x5A);
    SecureLinkKeys before = client->keys;
    now += kSecureLinkHostSilence - 1;
    EXPECT_TRUE(toClient(forged).empty());
    EXPECT_EQ(std::memcmp(&before, &client->keys, sizeof(before)), 0);
    std::vector<u8> inner = packet(20, 1);
    ByteWriter writer = makeByteWriter(inner.data(), (i64)inner.size());
    writer.length = (i64)inner.size();
    relayPacketToPeers(host.get(), hostSocket.get(), RelayStreamMavlink, preferences.get(), &writer, now);
    EXPECT_EQ(hex(toClient(takeQueued(hostSocket.get())[0].bytes)), hex(inner));

    now += kSecureLinkHostSilence;
    u8 keyBefore[32];
    std::memcpy(keyBefore, clientIdentity.publicKey, 32);
    u16 peerIdBefore = clientIdentity.peerId;
    toClient(forged);
    EXPECT_EQ(client->keys.ready, 1u);
    EXPECT_EQ(std::memcmp(client->hostPublicKey, other, 32), 0);
    EXPECT_EQ(std::memcmp(keyBefore, clientIdentity.publicKey, 32), 0);
    EXPECT_EQ(clientIdentity.peerId, peerIdBefore);
}

// A granted client whose link fell silent takes the first host key that comes, here a stranger's (a
// flood of them in one frame costs it one key exchange), and says hello under it. What the stranger
// opens of that hello, sealed again for an entry of its own and sent from the address of the listener
// granted control, takes no grant.
TEST_F(Link, AHelloSealedForAForgedHostKeyGivesNothingThatOpensControl) {
    connect(SecureLinkGrantTelemetry | SecureLinkGrantControl);
    if (HasFatalFailure()) return;
    for (int i = 0; i < 3; i++) {
        now += 20000;
        sendSecureLinkStateUpdates(host.get(), hostSocket.get(), nullptr, 0, preferences.get(), now);
        deliverToClient();
        sendSecureLinkHello(client.get(), &hostAddress, clientSocket.get(), RelayStreamMavlink, now);
        deliverToHost();
    }
    ASSERT_EQ(host->controllingPeer, &host->peers[0]);

    now += kSecureLinkHostSilence;
    u8 strangerPrivate[3][32], strangerPublic[3][32];
    const u8 nonce[kSecureLinkHostNonceBytes] = {0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A,
                                                 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A};
    for (int i = 0; i < 3; i++) ASSERT_EQ(generateX25519KeyPair(strangerPrivate[i], strangerPublic[i]), 0);
    auto forgedKeys = [&] {
        for (int i = 0; i < 3; i++) {
            std::vector<u8> forged = {SecureLinkHostKey, (u8)clientIdentity.peerId, (u8)(clientIdentity.peerId >> 8)};
            forged.insert(forged.end(), strangerPublic[i], strangerPublic[i] + 32);
            forged.insert(forged.end(), nonce, nonce + kSecureLinkHostNonceBytes);
            toClient(forged);
        }
    };
    forgedKeys();
    ASSERT_EQ(std::memcmp(client->hostPublicKey, strangerPublic[0], 32), 0);
    sendSecureLinkHello(client.get(), &hostAddress, clientSocket.get(), RelayStreamMavlink, now);
    std::vector<Datagram> sent = takeQueued(clientSocket.get());
    ASSERT_EQ(sent.size(), 1u);
    PythonPeer python;
    ASSERT_TRUE(startPythonPeer(&python, "secure_link_oracle.py"));
    peerCommand(&python, "keys " + hexOf(strangerPrivate[0], 32) + " " + hexOf(clientIdentity.publicKey, 32) + " " +
                             hexOf(nonce, kSecureLinkHostNonceBytes));
    std::vector<std::string> opened = words(peerCommand(&python, "open " + hex(sent[0].bytes)));
    stopPythonPeer(&python);
    ASSERT_EQ(opened.size(), 6u);
    std::vector<u8> block = fromHex(opened[5]);

    // The stranger lists an entry of its own at the listener's address and seals the block for it.
    u8 ownPrivate[32], ownPublic[32];
    ASSERT_EQ(generateX25519KeyPair(ownPrivate, ownPublic), 0);
    const u16 ownId = 0x0BAD;
    AddressRecord strangerAt = makeAddressRecord(4, kLoopback, kClientPort + 7);
    std::vector<u8> hello = {SecureLinkHello, (u8)ownId, (u8)(ownId >> 8)};
    hello.insert(hello.end(), ownPublic, ownPublic + 32);
    hello.push_back(SecureLinkGrantTelemetry | SecureLinkGrantControl);
    toHost(hello, strangerAt);
    sendSecureLinkPublicKey(host.get(), hostSocket.get(), RelayStreamMavlink, preferences.get(), now);
    std::vector<u8> ownNonce;
    for (Datagram& datagram : takeQueued(hostSocket.get())) {
        if (sameEndpoint(&datagram.destination, &strangerAt)) ownNonce.assign(datagram.bytes.begin() + 35, datagram.bytes.end());
    }
    ASSERT_EQ(ownNonce.size(), (size_t)kSecureLinkHostNonceBytes);
    SecureLinkKeys ownKeys;
    ASSERT_TRUE(deriveSecureLinkKeys(&ownKeys, ownPrivate, hostIdentity.publicKey, hostIdentity.publicKey, ownPublic,
                                     ownNonce.data()));
    hello.resize(hello.size() + block.size() + 64);
    ByteWriter writer = makeByteWriter(hello.data(), (i64)hello.size());
    writer.length = 36;
    ASSERT_TRUE(sealSecureLinkPart(&writer, SecureLinkHello, RelayStreamMavlink, 0, &ownKeys, block.data(),
                                   (i64)block.size()));
    hello.resize((size_t)writer.length);
    toHost(hello, strangerAt);
    now += 20000;
    sendSecureLinkStateUpdates(host.get(), hostSocket.get(), nullptr, 0, preferences.get(), now);
    bool echoed = false;
    for (const SecureLinkPeer& peer : host->peers) {
        if (peer.address.family == 0 || peer.peerId != ownId) continue;
        echoed = std::string(peer.name.text, peer.name.length) == "tablet 2";  // the block was read
        EXPECT_EQ(peer.userDecision, 0u);
        EXPECT_NE(host->controllingPeer, &peer);
    }
    EXPECT_TRUE(echoed);
}

// The client in control has sealed hundreds of datagrams when its host falls silent for 3 s and it
// takes a host key forged from the host's endpoint. The host is then heard again with its own key and
// the client's entry nonce: within three seconds it takes the client's MAVLink again.
TEST_F(Link, AClientBackOnItsHostAfterAForgedKeyNeverCountsFromZeroAgain) {
    connect(SecureLinkGrantTelemetry | SecureLinkGrantControl);
    if (HasFatalFailure()) return;
    proveControl();
    auto sendMavlink = [&](u8 seed) {  // whether the host took it from its controller
        std::vector<u8> bytes = packet(30, seed);
        appendBytes(bytes.data(), (i64)bytes.size(), queueSocketPacket(&hostAddress, clientSocket.get()));
        encryptSecureLinkSendQueue(client.get(), clientSocket.get());
        bool taken = false;
        for (Datagram& datagram : takeQueued(clientSocket.get())) {
            SecureLinkReceived received = toHost(datagram.bytes, clientAddress);
            taken = taken || (received.data && received.peer && received.peer == host->controllingPeer);
        }
        return taken;
    };
    for (int i = 0; i < 300; i++) ASSERT_TRUE(sendMavlink((u8)i)) << i;

    now += kSecureLinkHostSilence;
    u8 forgedKey[32], forgedPrivate[32];
    ASSERT_EQ(generateX25519KeyPair(forgedPrivate, forgedKey), 0);
    std::vector<u8> forged = {SecureLinkHostKey, (u8)clientIdentity.peerId, (u8)(clientIdentity.peerId >> 8)};
    forged.insert(forged.end(), forgedKey, forgedKey + 32);
    forged.insert(forged.end(), kSecureLinkHostNonceBytes, 0x5A);
    toClient(forged);
    bool back = false;
    for (int i = 0; i < 150 && !back; i++) {  // three seconds of frames
        exchangeFrame();
        back = sendMavlink((u8)i);
    }
    EXPECT_TRUE(back);
}

// A datagram the host sealed for the video stream, sent to the client's MAVLink record, and a hello
// the client sealed for the MAVLink stream, sent to the video relay port from another port of its
// address, open nothing.
TEST_F(Link, EachStreamOpensOnlyWhatWasSealedForIt) {
    connect(SecureLinkGrantTelemetry | SecureLinkGrantVideo);
    if (HasFatalFailure()) return;
    client->helloPending = 1;
    sendSecureLinkHello(client.get(), &hostAddress, clientSocket.get(), RelayStreamMavlink, now);
    std::vector<Datagram> hello = takeQueued(clientSocket.get());
    ASSERT_EQ(hello.size(), 1u);
    toHost(hello[0].bytes, makeAddressRecord(4, kLoopback, kClientPort + 1), RelayStreamVideo);
    EXPECT_EQ(host->peers[0].ports[RelayStreamVideo], 0);

    host->peers[0].ports[RelayStreamVideo] = kClientPort + 2;  // its video record's port, heard
    host->peers[0].heardTimes[RelayStreamVideo] = now;
    std::vector<u8> inner = packet(20, 4);
    ByteWriter writer = makeByteWriter(inner.data(), (i64)inner.size());
    writer.length = (i64)inner.size();
    relayPacketToPeers(host.get(), hostSocket.get(), RelayStreamVideo, preferences.get(), &writer, now);
    std::vector<Datagram> video = takeQueued(hostSocket.get());
    ASSERT_EQ(video.size(), 1u);
    EXPECT_TRUE(toClient(video[0].bytes).empty());
}

// Anyone can say hello. A stranger saying hello under ever new peer ids, beside others that sit on
// the list saying hello again and again, never keeps the listener the user granted control off the
// list, and once it is back nobody takes its place; undecided peers that fall silent leave the list.
TEST_F(Link, StrangersHellosNeverLockOutTheGrantedListener) {
    hostIdentity.controllingListener = makeAddressRecord(4, kLoopback, 0);
    std::memcpy(clientIdentity.relayPassword, hostIdentity.controllingListenerPassword, 8);
    u8 strangerKey[32], strangerPrivate[32];
    ASSERT_EQ(generateX25519KeyPair(strangerPrivate, strangerKey), 0);
    auto strangerHello = [&](u16 id, u8 lastAddressByte) {
        std::vector<u8> hello = {SecureLinkHello, (u8)id, (u8)(id >> 8)};
        hello.insert(hello.end(), strangerKey, strangerKey + 32);
        hello.push_back(SecureLinkGrantTelemetry | SecureLinkGrantControl);
        u8 address[4] = {127, 0, 0, lastAddressByte};
        toHost(hello, makeAddressRecord(4, address, (u16)(30000 + id)));
    };
    u16 nextId = 100;
    auto strangersSayHello = [&] {
        for (u8 sitting = 0; sitting < 5; sitting++) strangerHello((u16)(sitting + 1), (u8)(10 + sitting));
        for (i32 i = 0; i < 12; i++) strangerHello(nextId++, 9);
    };
    auto frame = [&] {
        now += 20000;
        strangersSayHello();
        sendSecureLinkPublicKey(host.get(), hostSocket.get(), RelayStreamMavlink, preferences.get(), now);
        sendSecureLinkStateUpdates(host.get(), hostSocket.get(), nullptr, 0, preferences.get(), now);
        deliverToClient();
        // The listener in a frame of its own: the strangers' new peer ids take their frame's key
        // exchanges.
        now += 10000;
        sendSecureLinkHello(client.get(), &hostAddress, clientSocket.get(), RelayStreamMavlink, now);
        deliverToHost();
    };
    for (i32 i = 0; i < 150; i++) {  // the strangers alone for 3 s
        now += 20000;
        strangersSayHello();
    }
    for (i32 i = 0; i < 20; i++) frame();
    ASSERT_NE(host->controllingPeer, nullptr);
    EXPECT_EQ(host->controllingPeer->peerId, clientIdentity.peerId);
    setSecureLinkPeerDecision(host.get(), host->controllingPeer, SecureLinkGrantTelemetry | SecureLinkGrantControl);
    for (i32 i = 0; i < 200; i++) frame();
    ASSERT_NE(host->controllingPeer, nullptr);
    EXPECT_EQ(host->controllingPeer->peerId, clientIdentity.peerId);

    now += kSecureLinkUndecidedExpiry + 1;
    sendSecureLinkStateUpdates(host.get(), hostSocket.get(), nullptr, 0, preferences.get(), now);
    i32 listed = 0;
    for (const SecureLinkPeer& peer : host->peers) listed += peer.address.family != 0;
    EXPECT_EQ(listed, 1);
}

// A stranger that finishes the key exchange as a real client would (the host key goes to anyone on
// the list): one client record, identity and socket of its own at an address of the loopback.
struct FinishedStranger {
    SecureLinkClientIdentity identity{};
    std::unique_ptr<SecureLinkClient> client = std::make_unique<SecureLinkClient>();
    std::unique_ptr<Socket> socket = std::make_unique<Socket>();
    AddressRecord address{};
};

// Hello, host key, sealed hello: the stranger's place on the list is its verified, undecided entry.
void finishKeyExchange(FinishedStranger* stranger, Link* link, u16 peerId, u8 lastAddressByte, u16 port) {
    ASSERT_EQ(generateX25519KeyPair(stranger->identity.privateKey, stranger->identity.publicKey), 0);
    stranger->identity.peerId = peerId;
    stranger->identity.name = makeString("stranger");
    stranger->client->identity = &stranger->identity;
    u8 address[4] = {127, 0, 0, lastAddressByte};
    stranger->address = makeAddressRecord(4, address, port);
    for (int step = 0; step < 2; step++) {
        link->now += 1000;
        sendSecureLinkHello(stranger->client.get(), &link->hostAddress, stranger->socket.get(), RelayStreamMavlink,
                            link->now);
        for (Datagram& datagram : takeQueued(stranger->socket.get())) link->toHost(datagram.bytes, stranger->address);
        sendSecureLinkPublicKey(link->host.get(), link->hostSocket.get(), RelayStreamMavlink, link->preferences.get(),
                                link->now);
        for (Datagram& datagram : takeQueued(link->hostSocket.get())) {
            if (!sameEndpoint(&datagram.destination, &stranger->address)) continue;
            u8* data = datagram.bytes.data();
            u32 length = (u32)datagram.bytes.size();
            receiveFromSecureLinkHost(&data, &length, stranger->client.get(), nullptr, link->now);
        }
    }
}

i32 listedAt(const SecureLinkHost* host, u8 lastAddressByte) {
    i32 count = 0;
    for (const SecureLinkPeer& peer : host->peers) {
        count += peer.address.family != 0 && peer.address.address[3] == lastAddressByte;
    }
    return count;
}

// One address that finishes the key exchange with ever new peers (the host key is sent to anyone)
// holds at most two undecided places; the crew's new device from another address still gets one.
TEST_F(Link, OneAddressHoldsAtMostTwoUndecidedPlacesFinishedOrNot) {
    std::vector<std::unique_ptr<FinishedStranger>> strangers;
    for (u16 i = 0; i < 12; i++) {
        strangers.push_back(std::make_unique<FinishedStranger>());
        finishKeyExchange(strangers.back().get(), this, (u16)(500 + i), 9, (u16)(31000 + i));
        if (HasFatalFailure()) return;
        EXPECT_LE(listedAt(host.get(), 9), 2) << i;
    }
    i32 verified = 0;
    for (const SecureLinkPeer& peer : host->peers) verified += peer.verified;
    EXPECT_EQ(verified, 2);  // the strangers did finish their exchanges
    sendSecureLinkHello(client.get(), &hostAddress, clientSocket.get(), RelayStreamMavlink, now);
    deliverToHost();
    EXPECT_EQ(listedAt(host.get(), 1), 1);
}

// The device granted control restarts (a fresh key pair and peer id) while the list is full of
// undecided peers that finished their exchanges from three other addresses: it gets a place, the
// host key, shows the control password and is the controller again with its grants.
TEST_F(Link, ARestartedGrantedDeviceGetsItsPlaceBackOnAFullList) {
    connect(SecureLinkGrantTelemetry | SecureLinkGrantControl);
    if (HasFatalFailure()) return;
    for (int i = 0; i < 5; i++) exchangeFrame();
    ASSERT_NE(host->controllingPeer, nullptr);

    std::vector<std::unique_ptr<FinishedStranger>> strangers;
    for (u16 i = 0; i < 5; i++) {
        strangers.push_back(std::make_unique<FinishedStranger>());
        finishKeyExchange(strangers.back().get(), this, (u16)(600 + i), (u8)(10 + i / 2), (u16)(32000 + i));
        if (HasFatalFailure()) return;
    }
    i32 listed = 0;
    for (const SecureLinkPeer& peer : host->peers) listed += peer.address.family != 0;
    ASSERT_EQ(listed, kSecureLinkPeers);

    u16 firstPeerId = clientIdentity.peerId;
    AddressRecord elsewhere = makeAddressRecord(4, kLoopback, kHostPort + 1);
    sendSecureLinkHello(client.get(), &elsewhere, clientSocket.get(), RelayStreamMavlink, now);
    takeQueued(clientSocket.get());
    for (int i = 0; i < 10; i++) exchangeFrame();
    ASSERT_NE(clientIdentity.peerId, firstPeerId);
    ASSERT_NE(host->controllingPeer, nullptr);
    EXPECT_EQ(host->controllingPeer->peerId, clientIdentity.peerId);
    EXPECT_EQ(host->controllingPeer->userDecision, (u32)(SecureLinkGrantTelemetry | SecureLinkGrantControl));
    EXPECT_EQ(listedAt(host.get(), 1), 1);
}

// Both apps show the same fingerprint of the link's two keys, as Python computes it over host key
// then client key; another client's link has another one.
TEST_F(Link, BothSidesShowTheFingerprintPythonComputes) {
    connect(0);
    if (HasFatalFailure()) return;
    PythonPeer python;
    ASSERT_TRUE(startPythonPeer(&python, "secure_link_oracle.py"));
    peerCommand(&python, "keys " + hexOf(hostIdentity.privateKey, 32) + " " + hexOf(clientIdentity.publicKey, 32) +
                             " " + hexOf(host->peers[0].hostNonce, kSecureLinkHostNonceBytes));
    std::string expected = peerCommand(&python, "fingerprint");
    stopPythonPeer(&python);
    FixedString atHost = secureLinkPeerFingerprint(host.get(), &host->peers[0]);
    FixedString atClient = secureLinkClientFingerprint(client.get());
    EXPECT_EQ("fingerprint " + std::string(atHost.text, atHost.length), expected);
    EXPECT_EQ(std::string(atClient.text, atClient.length), std::string(atHost.text, atHost.length));
    u8 otherKey[32], otherPrivate[32];
    ASSERT_EQ(generateX25519KeyPair(otherPrivate, otherKey), 0);
    FixedString other = secureLinkFingerprint(hostIdentity.publicKey, otherKey);
    EXPECT_NE(std::string(other.text, other.length), std::string(atHost.text, atHost.length));
}

}  // namespace

namespace {

// The connection switched away and back: in the frame it comes back, the record reads what came from
// the host's endpoint before it says hello. The earlier session's host key and entry nonce, and its
// sealed datagrams (a password among them), take nothing, and the password the device keeps stays.
TEST_F(Link, AStoppedRecordTakesNothingUntilItStartsOver) {
    connect(SecureLinkGrantTelemetry | SecureLinkGrantControl);
    if (HasFatalFailure()) return;
    sendSecureLinkStateUpdates(host.get(), hostSocket.get(), &gamepad, 0, preferences.get(), now);
    std::vector<Datagram> captured = takeQueued(hostSocket.get());  // the password and the host's state
    for (Datagram& datagram : captured) toClient(datagram.bytes);
    ASSERT_EQ(std::memcmp(clientIdentity.relayPassword, hostIdentity.controllingListenerPassword, 8), 0);
    std::vector<u8> hostKey = {SecureLinkHostKey, (u8)clientIdentity.peerId, (u8)(clientIdentity.peerId >> 8)};
    hostKey.insert(hostKey.end(), hostIdentity.publicKey, hostIdentity.publicKey + 32);
    hostKey.insert(hostKey.end(), host->peers[0].hostNonce, host->peers[0].hostNonce + kSecureLinkHostNonceBytes);
    const u8 kept[8] = {1, 2, 3, 4, 5, 6, 7, 8};  // given since
    std::memcpy(clientIdentity.relayPassword, kept, 8);

    stopSecureLinkClient(client.get());
    now += 20000;
    EXPECT_TRUE(toClient(hostKey).empty());
    for (Datagram& datagram : captured) EXPECT_TRUE(toClient(datagram.bytes).empty());
    EXPECT_EQ(client->keys.ready, 0u);
    EXPECT_EQ(std::memcmp(clientIdentity.relayPassword, kept, 8), 0);
}

}  // namespace
