// Two drone links on the loopback, one relaying for the other over the encrypted relay link, with a
// node-mavlink PX4 stand-in behind the relaying host. Both links run on the test's clock.
#include "Crypto/X25519.h"
#include "Platform/Random.h"
#include "StandInRig.h"

#include <string>

namespace {

using namespace standin;

constexpr u32 kProbeCommand = 31010;  // a user command the stand-in prints and refuses

struct ClientSide {
    std::unique_ptr<Socket> droneSocket = std::make_unique<Socket>();
    std::unique_ptr<DroneConnection> connection = std::make_unique<DroneConnection>();
    std::unique_ptr<Preferences> preferences = std::make_unique<Preferences>();
    SecureLinkClientIdentity identity{};
    GamepadState gamepad{};
    DroneLinkInputs inputs{};
    u8 sequence = 0;

    ~ClientSide() { closeSocket(droneSocket.get()); }

    // The client's own command, queued during its frame and sealed as its frame ends.
    void sendProbe(u32 value) {
        u8 bytes[33] = {};
        f32 parameter = (f32)value;
        std::memcpy(bytes, &parameter, 4);
        bytes[28] = (u8)(kProbeCommand & 0xFF);
        bytes[29] = (u8)(kProbeCommand >> 8);
        bytes[30] = 1;
        bytes[31] = 1;
        ByteWriter payload = makeByteWriter(bytes, sizeof(bytes));
        payload.length = sizeof(bytes);
        ByteWriter* slot = queueSocketPacket(&connection->droneEndpoint, droneSocket.get());
        ASSERT_NE(slot, nullptr);
        sendMavlinkMessage(0, MavlinkCommandLong, &payload, slot, &sequence, 0xFEBE, nullptr, simulatedNow);
        encryptSecureLinkSendQueue(&connection->secureLinkClient, droneSocket.get());
    }
};

struct RelayPair {
    Rig host;
    std::unique_ptr<Socket> relaySocket = std::make_unique<Socket>();
    std::unique_ptr<SecureLinkHost> sharing = std::make_unique<SecureLinkHost>();
    RelayHostIdentity hostIdentity{};
    ClientSide client;

    void step() {
        simulatedNow += kFrameStep;
        host.inputs.now = simulatedNow;
        client.inputs.now = simulatedNow;
        controlDrone(host.connection.get(), &host.inputs);
        controlDrone(client.connection.get(), &client.inputs);
        host.sync();
    }
    template <typename Done>
    bool stepUntil(Done done, int frames) {
        for (int i = 0; i < frames; i++) {
            if (done()) return true;
            step();
        }
        return done();
    }
    // The probe values the vehicle was asked with, in order.
    std::vector<u32> probesSeen() {
        std::vector<u32> values;
        for (const std::string& line : host.linesStartingWith("command " + std::to_string(kProbeCommand) + " ")) {
            values.push_back((u32)std::stod(splitWords(line)[2]));
        }
        return values;
    }
    ~RelayPair() { closeSocket(relaySocket.get()); }
};

void startPair(RelayPair* pair) {
    Rig* host = &pair->host;
    startStandIn(host, "px4", {}, [&] { return host->vehicle().lastHeardTime != 0; });
    if (testing::Test::HasFatalFailure()) return;
    u16 relayPort = (u16)(host->preferences->droneLocalPort + 10);

    ASSERT_EQ(generateX25519KeyPair(pair->hostIdentity.privateKey, pair->hostIdentity.publicKey), 0);
    ASSERT_EQ(getRandomBytes(pair->hostIdentity.controllingListenerPassword, 8), 0);
    pair->sharing->identity = &pair->hostIdentity;
    pair->relaySocket->clock = simulatedClock;
    host->preferences->relayModePort = relayPort;
    host->inputs.relaySocket = pair->relaySocket.get();
    host->inputs.relayHost = pair->sharing.get();

    ClientSide* client = &pair->client;
    ASSERT_EQ(generateX25519KeyPair(client->identity.privateKey, client->identity.publicKey), 0);
    client->identity.peerId = 0x5A17;
    client->identity.name = makeString("field laptop");
    Preferences* preferences = client->preferences.get();
    preferences->appSystemId = 254;
    preferences->appComponentId = 190;
    preferences->droneTransportProtocol = TransportUdp;
    preferences->lowAltitudeWarning = -1000;
    preferences->droneLocalPort = (u16)(relayPort + 1);
    preferences->droneAddress = makeAddressRecord(4, kLoopback, relayPort);
    client->droneSocket->clock = simulatedClock;
    client->connection->secureLinkClient.identity = &client->identity;
    client->inputs.droneSocket = client->droneSocket.get();
    client->inputs.preferences = preferences;
    client->inputs.hostGamepad = &client->gamepad;
    pair->step();
    ASSERT_EQ(client->droneSocket->localPort, relayPort + 1);
    ASSERT_EQ(pair->relaySocket->localPort, relayPort);
}

TEST(SecureLinkRelay, ClientGetsTelemetryAndCommandsTheVehicleOnlyWhileGrantedControl) {
    RelayPair pair;
    startPair(&pair);
    if (HasFatalFailure()) return;
    SecureLinkHost* sharing = pair.sharing.get();
    DroneConnection* client = pair.client.connection.get();

    // The client is listed, undecided, and asked for control; nothing reaches it yet.
    ASSERT_TRUE(pair.stepUntil([&] { return sharing->peers[0].name.length != 0; }, 200));
    SecureLinkPeer* peer = &sharing->peers[0];
    EXPECT_EQ(std::string(peer->name.text, peer->name.length), "field laptop");
    EXPECT_EQ(peer->pending, 1u);
    pair.stepUntil([] { return false; }, 25);
    EXPECT_EQ(client->vehicle.lastHeardTime, 0u);

    // Telemetry shared: the client follows the vehicle, but its commands stay at the host.
    setSecureLinkPeerDecision(sharing, peer, SecureLinkGrantTelemetry);
    ASSERT_TRUE(pair.stepUntil([&] { return client->vehicle.autopilotKind == AutopilotPx4; }, 300));
    EXPECT_NE(client->secureLinkClient.lastTelemetryTime, 0u);
    for (u32 i = 1; i <= 25; i++) {
        pair.client.sendProbe(i);
        pair.step();
    }
    pair.stepUntil([] { return false; }, 10);
    EXPECT_TRUE(pair.probesSeen().empty());
    EXPECT_EQ(sharing->controllingPeer, nullptr);

    // Control granted: after the password round trip the commands reach the vehicle, and the host
    // holds its own output.
    setSecureLinkPeerDecision(sharing, peer, SecureLinkGrantTelemetry | SecureLinkGrantControl);
    ASSERT_TRUE(pair.stepUntil([&] { return sharing->controllingPeer == peer; }, 300));
    EXPECT_EQ(std::memcmp(pair.client.identity.relayPassword, pair.hostIdentity.controllingListenerPassword, 8), 0);
    for (u32 i = 101; i <= 125; i++) {
        pair.client.sendProbe(i);
        pair.step();
    }
    ASSERT_TRUE(pair.stepUntil([&] { return pair.probesSeen().size() >= 20; }, 200));
    EXPECT_EQ(pair.host.connection->relayControlled, 1u);
    EXPECT_NE(client->secureLinkClient.lastControlGrantTime, 0u);

    // Revoked: nothing the client sends from then on reaches the vehicle (the probe's value is the
    // milliseconds since the revocation, so a late arrival of an earlier one is told apart).
    setSecureLinkPeerDecision(sharing, peer, SecureLinkGrantTelemetry);
    u64 revoked = simulatedNow;
    size_t before = pair.probesSeen().size();
    while (simulatedNow - revoked < 2500000) {
        pair.client.sendProbe((u32)(1000 + (simulatedNow - revoked) / 1000));
        pair.step();
    }
    pair.stepUntil([] { return false; }, 20);
    std::vector<u32> seen = pair.probesSeen();
    for (size_t i = before; i < seen.size(); i++) {
        EXPECT_LT(seen[i], 1000u + 1300u) << "a command more than 1.3 s after the revocation reached the vehicle";
    }
    EXPECT_EQ(sharing->controllingPeer, nullptr);
    EXPECT_EQ(pair.host.connection->relayControlled, 0u);
    EXPECT_GT(simulatedNow - client->secureLinkClient.lastControlGrantTime, 1300000u);
    EXPECT_LT(simulatedNow - client->secureLinkClient.lastTelemetryTime, 1000000u);
}

}  // namespace
