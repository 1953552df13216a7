// The relay link's datagram readers, host and client side, over arbitrary datagrams, and over
// arbitrary inner packets and hello blocks sealed with the right keys (so the fuzzer gets past the
// MAC). What they hand on must lie inside the datagram, and nothing may read or write outside it.
// Runs of datagrams come from several loopback addresses: however they fill the sharing list, no
// address holds more than two undecided places and the peer the user granted keeps its place. With
// encryption on only a hello sealed under that peer's keys sets or moves its port on a stream: the
// header of its hello, in the clear, replayed from another port of its address moves nothing, whether
// or not the peer has sealed on that stream yet. All datagrams of one input arrive in one frame and
// one drain of each port, which keeps at most one hello an address waiting for the key exchanges at
// its end, does at most the allowed ones (the controlling listener's address first) and answers at
// most its allowed hellos. When the granted peer's entry is gone (the device started over), nothing
// sealed for it opens: no peer is verified, decided, proves the password or hands anything on. A
// datagram sealed for one stream opens on no other, on either side, and only a hello whose proof is
// exactly the one for the peer's password, its session and the stream proves it (one on the MAVLink
// stream that is not takes the proof back); no other entry proves anything. Sealed data is opened and
// handed on only from the MAVLink port of the peer in control; one input's datagrams, all in one frame,
// take at most one hello check an entry and stream, a few listings and one start-over an endpoint (with
// encryption off), so their costly steps stay within a bound however many come. No hello from another
// endpoint than an entry's own on the stream spends that entry's check of the frame, and with
// encryption off an entry's ports never move under its peer id (but for the first hello of its new run
// on the video stream, within a few seconds of its start-over), and its MAVLink endpoint, where its
// password and telemetry go, moves, and its decision goes to another entry, only with a hello from the
// new port that proves its password. A password the client hears other than
// sealed never changes the one it keeps. With encryption off a name is only ever read from a plain
// block, never from sealed bytes. Then, for four seconds of frames, hellos under the granted peer's id
// come from other ports of its address ahead of its own hello each second, beside a stranger that
// forged its endpoint, listed itself there under another peer id and completed a sealed hello: the
// granted peer is heard, keeps its entry and grants, and controls. With encryption off instead, the
// granted device starts over under a new peer id from its MAVLink endpoint with a new video socket,
// its new run's first hellos on the two streams in either order: every stream's port is set by its
// own first hello there, and it is one entry. Then a neighbour at its address forges its video
// endpoint, says hello after the video window, and takes the window of another start-over: the device
// keeps its MAVLink endpoint and peer id.
#include "Core/Preferences.h"
#include "Crypto/X25519.h"
#include "Network/SecureLinkFormat.h"
#include "Network/Socket.h"
#include "Platform/Input.h"

#include <cstdio>
#include <cstring>
#include <vector>

static void fail(int line) {
    fprintf(stderr, "SecureLinkFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

namespace {

const u8 kLoopback[4] = {127, 0, 0, 1};
constexpr u16 kPeerId = 0x1234;

struct World {
    RelayHostIdentity hostIdentity;
    SecureLinkClientIdentity clientIdentity;
    SecureLinkHost host;
    SecureLinkClient client;
    Preferences preferences;
    GamepadState gamepad;
};

World initial;
World world;
u8 strangerPrivate[32];
u8 strangerPublic[32];
constexpr u16 kStrangerId = 0x0BAD;
bool earlierSession;  // the granted peer's entry is gone: what was sealed for it is a replay
bool crossStream;     // the input's sealed datagram was sealed for the other stream than it arrives on
bool proofExpected;   // the input's sealed hello holds the exact proof for the stream it arrives on
i32 costlyChecks[kSecureLinkStreams];  // costly steps of the input other than the controller's sealed data
i32 startOvers[kSecureLinkPeers];      // entries that took a new peer id in their place
constexpr u64 kInputTime = 5000000;     // the frame that all datagrams of the input arrive in

void setUp() {
    static bool done = false;
    if (done) return;
    done = true;
    World* w = &initial;
    *w = World{};
    for (i32 i = 0; i < 32; i++) {
        w->hostIdentity.privateKey[i] = (u8)(i * 7 + 1);
        w->clientIdentity.privateKey[i] = (u8)(i * 13 + 5);
    }
    x25519(w->hostIdentity.publicKey, w->hostIdentity.privateKey, x25519BasePoint);
    x25519(w->clientIdentity.publicKey, w->clientIdentity.privateKey, x25519BasePoint);
    for (i32 i = 0; i < 32; i++) strangerPrivate[i] = (u8)(i * 11 + 3);
    x25519(strangerPublic, strangerPrivate, x25519BasePoint);
    w->clientIdentity.peerId = kPeerId;
    for (i32 i = 0; i < 8; i++) w->hostIdentity.controllingListenerPassword[i] = (u8)(0xA0 + i);
    SecureLinkPeer* peer = &w->host.peers[0];
    peer->address = makeAddressRecord(4, kLoopback, 40000);
    peer->peerId = kPeerId;
    peer->ports[0] = 40000;
    peer->ports[1] = 40001;
    peer->userDecision = SecureLinkGrantTelemetry | SecureLinkGrantControl;
    std::memcpy(peer->password, w->hostIdentity.controllingListenerPassword, 8);
    peer->passwordProved = 1;
    w->hostIdentity.controllingListener = makeAddressRecord(4, kLoopback, 0);
    std::memcpy(peer->publicKey, w->clientIdentity.publicKey, 32);
    for (i32 i = 0; i < kSecureLinkHostNonceBytes; i++) peer->hostNonce[i] = (u8)(i * 3 + 2);
    deriveSecureLinkKeys(&peer->keys, w->hostIdentity.privateKey, w->clientIdentity.publicKey,
                         w->hostIdentity.publicKey, w->clientIdentity.publicKey, peer->hostNonce);
    w->client.keys = peer->keys;
    std::memcpy(w->client.hostPublicKey, w->hostIdentity.publicKey, 32);
    std::memcpy(w->client.hostNonce, peer->hostNonce, kSecureLinkHostNonceBytes);
    w->client.server = makeAddressRecord(4, kLoopback, 9876);
}

void link() {
    world = initial;
    world.host.identity = &world.hostIdentity;
    world.host.controllingPeer = &world.host.peers[0];
    world.client.identity = &world.clientIdentity;
    std::memset(costlyChecks, 0, sizeof(costlyChecks));
    std::memset(startOvers, 0, sizeof(startOvers));
}

// Whether the entry is the same session before and after a datagram (not replaced, not started over).
bool sameSession(const SecureLinkPeer* before, const SecureLinkPeer* after) {
    return before->address.family && after->address.family && before->listOrder == after->listOrder &&
           before->peerId == after->peerId;
}

// With encryption off, where an entry's password, state and telemetry go (its address and MAVLink
// port) is set at its listing, by its first MAVLink hello, and moves only to a hello on the MAVLink
// stream from the new port that proves the entry's password; a decision goes to another entry only
// with such a hello.
void checkMavlinkEndpoints(const SecureLinkPeer* before, const SocketResult* datagram, u8 type, u32 stream) {
    for (i32 i = 0; i < kSecureLinkPeers; i++) {
        const SecureLinkPeer* peer = &world.host.peers[i];
        if (!peer->address.family) continue;
        bool sameEntry = before[i].address.family && before[i].listOrder == peer->listOrder;
        u16 port = peer->ports[RelayStreamMavlink];
        bool moved = sameEntry && before[i].ports[RelayStreamMavlink] &&
                     (port != before[i].ports[RelayStreamMavlink] || !sameAddress(&before[i].address, &peer->address));
        bool decisionCame = peer->userDecision && !(sameEntry && before[i].userDecision);
        if (!moved && !decisionCame) continue;
        check(type == SecureLinkHello && stream == RelayStreamMavlink && peer->passwordProved &&
              port == datagram->source.port && sameAddress(&peer->address, &datagram->source));
    }
}

// port 0: the sender's own, 40000 + sender.
SecureLinkReceived toHost(std::vector<u8>& bytes, u32 stream, u8 sender = 0, u16 port = 0, bool sealedHello = false,
                          u64 now = kInputTime) {
    SocketResult datagram{};
    datagram.received = 1;
    datagram.data = bytes.data();
    datagram.length = (u32)bytes.size();
    const u8 address[4] = {127, 0, 0, (u8)(1 + sender)};
    datagram.source = makeAddressRecord(4, address, port ? port : (u16)(40000 + sender));
    const SecureLinkPeer* granted = &world.host.peers[0];
    u16 portBefore = granted->ports[stream];
    u16 addressPortBefore = granted->address.port;
    SecureLinkPeer before[kSecureLinkPeers];
    std::memcpy(before, world.host.peers, sizeof(before));
    const SecureLinkPeer* controlling = world.host.controllingPeer;
    u8 type = bytes.empty() ? 0 : bytes[0];
    SecureLinkReceived out;
    receiveFromSecureLinkPeer(&out, &datagram, &world.host, stream, &world.preferences, now);
    // Sealed data is opened only from the controller's MAVLink port; everything else costs a bounded
    // few steps an input.
    bool fromController = type == SecureLinkFromClient && stream == RelayStreamMavlink && controlling &&
                          datagram.source.port == controlling->ports[stream] &&
                          sameAddress(&datagram.source, &controlling->address);
    if (out.data && type == SecureLinkFromClient) check(fromController && out.peer == controlling);
    if (out.costly && !fromController) costlyChecks[stream]++;
    check(costlyChecks[stream] <= 2 * kSecureLinkPeers + 2 * kSecureLinkKeyExchangesPerFrame);
    for (i32 i = 0; i < kSecureLinkPeers; i++) {
        const SecureLinkPeer* peer = &world.host.peers[i];
        if (before[i].address.family && peer->address.family && before[i].listOrder == peer->listOrder &&
            before[i].peerId != peer->peerId) {
            check(++startOvers[i] <= 1);  // an endpoint starts over once a second at most
        }
        if (!sameSession(&before[i], peer)) continue;
        // The first hello of a device's new run on the video stream, within a few seconds after it
        // started over under its peer id: its port there is the new run's (encryption off).
        bool newRun = type == SecureLinkHello && stream == RelayStreamVideo && (before[i].newRunPorts >> stream & 1) &&
                      now - before[i].sessionTime < kSecureLinkNewRunWindow &&
                      peer->ports[stream] == datagram.source.port && sameAddress(&peer->address, &datagram.source);
        // A hello from another endpoint than the entry's own on the stream never spends its check.
        bool ownEndpoint = before[i].ports[stream] == datagram.source.port &&
                           sameAddress(&before[i].address, &datagram.source);
        if (type == SecureLinkHello && before[i].ports[stream] && !ownEndpoint && !newRun) {
            check(std::memcmp(&before[i].helloChecks[stream], &peer->helloChecks[stream], sizeof(KeyExchangeBudget)) == 0);
        }
        // With encryption off a device is its endpoint: its ports never move under its peer id, but for
        // its new run's first hello on the video stream within the window.
        for (u32 s = 0; s < kSecureLinkStreams && world.preferences.relayModeDisableEncryption; s++) {
            check(!before[i].ports[s] || peer->ports[s] == before[i].ports[s] || (s == stream && newRun));
        }
    }
    if (world.preferences.relayModeDisableEncryption) checkMavlinkEndpoints(before, &datagram, type, stream);
    if (!sealedHello && !world.preferences.relayModeDisableEncryption) {
        check(granted->ports[stream] == portBefore);
        check(granted->address.port == addressPortBefore);
    }
    const SecureLinkHost* host = &world.host;
    check(!(out.limited && out.refused));
    check(host->hellosOverKeyExchanges[stream] <= host->unlistedHellos[stream]);
    // Before the drain's end every hello from a peer not yet listed waits or was dropped, one an address.
    i32 waiting = host->waitingHelloCount[stream];
    check(waiting >= 0 && waiting <= kSecureLinkKeyExchangeWaiting);
    if (!world.preferences.relayModeDisableEncryption) {
        check(host->unlistedHellos[stream] - host->hellosOverKeyExchanges[stream] == (u64)waiting);
    } else {
        check(waiting == 0);
    }
    for (i32 i = 0; i < waiting; i++) {
        for (i32 j = 0; j < i; j++) {
            check(!sameAddress(&host->waitingHellos[stream][i].source, &host->waitingHellos[stream][j].source));
        }
    }
    check(host->keyAnswerCount[stream] >= 0 && host->keyAnswerCount[stream] <= kSecureLinkKeyAnswers);
    if (out.data) {
        check(out.peer >= world.host.peers && out.peer < world.host.peers + kSecureLinkPeers);
        check(out.data >= bytes.data() && out.data + out.length <= bytes.data() + bytes.size());
        volatile u8 sum = 0;
        for (u32 i = 0; i < out.length; i++) sum = sum + out.data[i];
    }
    check(world.host.peers[0].name.length <= kFixedStringCapacity);
    if (crossStream) {
        check(!out.data);
        check(std::memcmp(granted->windows, initial.host.peers[0].windows, sizeof(granted->windows)) == 0 ||
              earlierSession);
    }
    for (const SecureLinkPeer& peer : world.host.peers) check(!peer.passwordProved || &peer == granted);
    if (world.preferences.relayModeDisableEncryption) {  // only a plain block's name: no sealed bytes
        for (const SecureLinkPeer& peer : world.host.peers) {
            for (i32 i = 0; i < peer.name.length; i++) {
                check((u8)peer.name.text[i] >= 0x20 && (u8)peer.name.text[i] != 0x7F);
            }
        }
    }
    if (earlierSession) {
        check(!out.data);
        for (const SecureLinkPeer& peer : world.host.peers) check(!peer.verified && !peer.userDecision && !peer.passwordProved);
        check(!world.host.controllingPeer);
    } else {
        check(world.host.peers[0].userDecision == (SecureLinkGrantTelemetry | SecureLinkGrantControl));
    }
    for (const SecureLinkPeer& peer : world.host.peers) {
        if (peer.address.family == 0 || peer.userDecision != 0) continue;
        i32 sameAddress = 0;
        for (const SecureLinkPeer& other : world.host.peers) {
            sameAddress += other.address.family != 0 && other.userDecision == 0 &&
                           other.address.address[3] == peer.address.address[3];
        }
        check(sameAddress <= kSecureLinkUndecidedPerAddress);
    }
    return out;
}

// The drains' end on both ports: at most the allowed key exchanges, one an address, each listing or
// keying a peer; the controlling listener's address is served when it waited and could be keyed.
void endDrains(u64 now = kInputTime) {
    SecureLinkHost* host = &world.host;
    for (u32 stream = 0; stream < kSecureLinkStreams; stream++) {
        SecureLinkPeer before[kSecureLinkPeers];
        std::memcpy(before, host->peers, sizeof(before));
        i32 waiting = host->waitingHelloCount[stream];
        SecureLinkWaitingHello listener{};
        for (i32 i = 0; i < waiting; i++) {
            if (host->waitingHellos[stream][i].rank == 0) listener = host->waitingHellos[stream][i];
        }
        // Served unless its key is of small order or its peer id was listed meanwhile under another key.
        SecureLinkKeys probe;
        const u8 anyNonce[kSecureLinkHostNonceBytes] = {};
        bool listenerKeyable = listener.source.family &&
                               deriveSecureLinkKeys(&probe, world.hostIdentity.privateKey, listener.publicKey,
                                                    world.hostIdentity.publicKey, listener.publicKey, anyNonce);
        for (const SecureLinkPeer& peer : host->peers) {
            if (peer.address.family && peer.peerId == listener.peerId && sameAddress(&peer.address, &listener.source) &&
                std::memcmp(peer.publicKey, listener.publicKey, 32) != 0) {
                listenerKeyable = false;
            }
        }
        u64 overBefore = host->hellosOverKeyExchanges[stream];
        exchangeKeysWithNewSecureLinkPeers(host, stream, &world.preferences, now);
        check(host->waitingHelloCount[stream] == 0);
        i32 keyed = 0;
        for (i32 i = 0; i < kSecureLinkPeers; i++) {
            const SecureLinkPeer* peer = &host->peers[i];
            if (!peer->address.family || !peer->keys.ready) continue;
            auto fresh = [&](i32 at) {  // keyed by this drain's end: every key exchange draws a new nonce
                const SecureLinkPeer* entry = &host->peers[at];
                return entry->address.family && entry->keys.ready &&
                       (!before[at].keys.ready ||
                        std::memcmp(before[at].hostNonce, entry->hostNonce, kSecureLinkHostNonceBytes) != 0);
            };
            if (!fresh(i)) continue;
            keyed++;
            check(!peer->verified && !peer->passwordProved);
            for (i32 j = 0; j < i; j++) check(!fresh(j) || !sameAddress(&host->peers[j].address, &peer->address));
        }
        check(keyed <= kSecureLinkKeyExchangesPerFrame);
        check(host->keyExchanges[stream].done <= kSecureLinkKeyExchangesPerFrame);
        check(host->hellosOverKeyExchanges[stream] - overBefore <= (u64)waiting);
        if (listenerKeyable && !world.preferences.relayModeDisableEncryption && keyed < kSecureLinkKeyExchangesPerFrame) {
            bool served = false;
            for (const SecureLinkPeer& peer : host->peers) {
                served = served || (peer.address.family && peer.keys.ready && peer.peerId == listener.peerId &&
                                    sameAddress(&peer.address, &listener.source));
            }
            check(served);
        }
        if (earlierSession) {
            for (const SecureLinkPeer& peer : host->peers) check(!peer.verified && !peer.userDecision);
        }
    }
}

// What the client hands on: its length.
u32 toClient(std::vector<u8>& bytes) {
    u8* data = bytes.data();
    u32 length = (u32)bytes.size();
    u8 kept[8];
    std::memcpy(kept, world.clientIdentity.relayPassword, 8);
    bool sealed = !bytes.empty() && bytes[0] == SecureLinkFromHost;
    receiveFromSecureLinkHost(&data, &length, &world.client, &world.gamepad, 5000000);
    if (!sealed) check(std::memcmp(kept, world.clientIdentity.relayPassword, 8) == 0);
    check(length <= bytes.size());
    if (length) check(data >= bytes.data() && data + length <= bytes.data() + bytes.size());
    check(world.gamepad.name.length <= kFixedStringCapacity);
    check(world.gamepad.leftStickX >= -1 && world.gamepad.leftStickX <= 1);
    return length;
}

// The exact proof of the host's password that the granted peer's hello shows on the stream.
void exactProof(u8* proof, u32 stream) {
    const SecureLinkPeer* peer = &initial.host.peers[0];
    secureLinkControlProof(proof, initial.hostIdentity.controllingListenerPassword, initial.hostIdentity.publicKey,
                           peer->publicKey, peer->hostNonce, (u8)stream);
}

std::vector<u8> sealed(u8 type, u8 stream, u64 counter, const u8* inner, size_t length) {
    std::vector<u8> bytes(length + 200);
    ByteWriter writer = makeByteWriter(bytes.data(), (i64)bytes.size());
    appendU8(type, &writer);
    appendU16Le(kPeerId, &writer);
    if (type == SecureLinkHello) {
        appendBytes(initial.clientIdentity.publicKey, 32, &writer);
        appendU8(stream, &writer);
    } else {
        appendU8(stream, &writer);
    }
    check(sealSecureLinkPart(&writer, type, stream, counter, &initial.host.peers[0].keys, inner, (i64)length));
    bytes.resize((size_t)writer.length);
    return bytes;
}

// A hello's clear header under a peer id and key, followed by the given bytes.
std::vector<u8> helloOf(u16 peerId, const u8* publicKey, const u8* rest, size_t length) {
    std::vector<u8> hello = {SecureLinkHello, (u8)peerId, (u8)(peerId >> 8)};
    hello.insert(hello.end(), publicKey, publicKey + 32);
    hello.push_back(SecureLinkGrantTelemetry | SecureLinkGrantControl);
    hello.insert(hello.end(), rest, rest + length);
    return hello;
}

// Four seconds of frames after the input, on the MAVLink stream with encryption on. A stranger that
// forges the granted peer's endpoint lists itself there under another peer id and completes a sealed
// hello (it read the host key answered there); every frame brings hellos under the peer's id and key
// from other ports of its address, the input's bytes as their sealed part, ahead of the peer's own
// sealed hello each second. The peer keeps its entry and grants, and once its own port is known it is
// heard every second and controls.
void laterFrames(const std::vector<u8>& rest) {
    SecureLinkHost* host = &world.host;
    SecureLinkPeer* granted = &host->peers[0];
    u64 now = kInputTime + 100000;
    auto deliver = [&](std::vector<u8> bytes, u16 port) {
        SocketResult datagram{};
        datagram.received = 1;
        datagram.data = bytes.data();
        datagram.length = (u32)bytes.size();
        datagram.source = makeAddressRecord(4, kLoopback, port);
        SecureLinkReceived out;
        receiveFromSecureLinkPeer(&out, &datagram, host, RelayStreamMavlink, &world.preferences, now);
    };
    bool ownPort = granted->ports[RelayStreamMavlink] != 0;
    u16 endpoint = ownPort ? granted->ports[RelayStreamMavlink] : 40000;
    deliver(helloOf(kStrangerId, strangerPublic, nullptr, 0), endpoint);
    exchangeKeysWithNewSecureLinkPeers(host, RelayStreamMavlink, &world.preferences, now);
    for (const SecureLinkPeer& peer : host->peers) {
        SecureLinkKeys keys;
        if (!peer.address.family || peer.peerId != kStrangerId || !peer.keys.ready ||
            std::memcmp(peer.publicKey, strangerPublic, 32) != 0 ||
            !deriveSecureLinkKeys(&keys, strangerPrivate, world.hostIdentity.publicKey, world.hostIdentity.publicKey,
                                  strangerPublic, peer.hostNonce)) {
            continue;
        }
        const u8 block[kSecureLinkProofBytes + 1] = {};
        std::vector<u8> hello = helloOf(kStrangerId, strangerPublic, nullptr, 0);
        hello.resize(hello.size() + 100);
        ByteWriter writer = makeByteWriter(hello.data(), (i64)hello.size());
        writer.length = kHelloHeader;
        check(sealSecureLinkPart(&writer, SecureLinkHello, RelayStreamMavlink, 0, &keys, block, sizeof(block)));
        hello.resize((size_t)writer.length);
        deliver(hello, endpoint);
        break;
    }
    u8 block[kSecureLinkProofBytes + 1] = {};
    exactProof(block, RelayStreamMavlink);
    for (i32 frame = 1; frame <= 16; frame++) {
        now += 250000;
        for (u16 port = 40002; port < 40005; port++) deliver(helloOf(kPeerId, granted->publicKey, rest.data(), rest.size()), port);
        if (frame % 4 == 0) {
            deliver(sealed(SecureLinkHello, RelayStreamMavlink, 1000 + (u64)frame, block, sizeof(block)), endpoint);
        }
        exchangeKeysWithNewSecureLinkPeers(host, RelayStreamMavlink, &world.preferences, now);
        sendSecureLinkStateUpdates(host, nullptr, nullptr, 0, &world.preferences, now);
        check(granted->address.family && granted->peerId == kPeerId &&
              granted->userDecision == (SecureLinkGrantTelemetry | SecureLinkGrantControl));
        if (ownPort && frame >= 4) check(now - granted->lastHeardTime < kSecureLinkHelloInterval);
    }
    for (const SecureLinkPeer& peer : host->peers) check(!peer.passwordProved || &peer == granted);
    if (ownPort) check(host->controllingPeer == granted);
}

// With encryption off, two seconds after the input the granted device starts over under a new peer id
// and key, from its MAVLink endpoint, with a new video socket; its new run says hello on the MAVLink
// stream and on the video stream in the order the input's last byte gives, then on the video stream
// again, and a neighbour sends hellos under the new id from another port of its address. The device
// is one entry under its new id, at its MAVLink endpoint, whose video port is the new run's. False
// when the input left no device to start over.
bool plainStartOver(const std::vector<u8>& rest) {
    SecureLinkHost* host = &world.host;
    const SecureLinkPeer* device = &host->peers[0];
    u16 mavlinkPort = device->ports[RelayStreamMavlink];
    if (!device->address.family || !mavlinkPort) return false;
    constexpr u16 kNewRunId = 0x4321;
    u8 newKey[32];
    for (i32 i = 0; i < 32; i++) newKey[i] = (u8)(0xC0 ^ i);
    for (const SecureLinkPeer& peer : host->peers) {
        if (peer.address.family && peer.peerId == kNewRunId) return false;  // the input listed the id itself
    }
    std::memset(costlyChecks, 0, sizeof(costlyChecks));
    std::memset(startOvers, 0, sizeof(startOvers));
    u64 now = kInputTime + 2 * kSecureLinkStartOverInterval;
    u16 videoPort = (u16)(45000 + rest[0]);
    auto hello = [&](u32 stream, u16 port) {
        std::vector<u8> bytes = helloOf(kNewRunId, newKey, nullptr, 0);
        toHost(bytes, stream, 0, port, false, now);
        exchangeKeysWithNewSecureLinkPeers(host, stream, &world.preferences, now);
    };
    bool videoFirst = rest.back() & 1;
    if (videoFirst) hello(RelayStreamVideo, videoPort);
    hello(RelayStreamMavlink, mavlinkPort);
    check(device->peerId == kNewRunId && device->ports[RelayStreamMavlink] == mavlinkPort);
    if (!videoFirst) hello(RelayStreamVideo, videoPort);
    now += kSecureLinkHelloInterval;
    hello(RelayStreamVideo, videoPort);
    hello(RelayStreamVideo, (u16)(videoPort + 1000));
    hello(RelayStreamMavlink, (u16)(videoPort + 1000));
    i32 entries = 0;
    for (const SecureLinkPeer& peer : host->peers) entries += peer.address.family && peer.peerId == kNewRunId;
    check(entries == 1);
    check(device->peerId == kNewRunId && device->ports[RelayStreamMavlink] == mavlinkPort);
    check(device->ports[RelayStreamVideo] == videoPort);
    return true;
}

// With encryption off, after the device's start-over, a neighbour at its address with sockets of its
// own: (a) a hello under its own id forged from the device's video endpoint, then one from its MAVLink
// socket; the device starts over again and says no hello on the video stream, and a hello under its
// id on the video stream from another port comes after the window; (b) the device starts over once
// more, the neighbour takes the video window under the new id and two seconds later says hello under
// an id of its own from that video socket, then from its MAVLink socket. The device keeps its MAVLink
// endpoint and its peer id, and is one entry; the endpoint checks of every datagram hold.
void plainNeighbour(const std::vector<u8>& rest) {
    SecureLinkHost* host = &world.host;
    const SecureLinkPeer* device = &host->peers[0];
    u16 mavlinkPort = device->ports[RelayStreamMavlink];
    u16 videoPort = device->ports[RelayStreamVideo];
    if (!device->address.family || !mavlinkPort || !videoPort) return;
    u8 key[32];
    for (i32 i = 0; i < 32; i++) key[i] = (u8)(0x90 ^ i ^ rest[0]);
    u64 now = kInputTime + 4 * kSecureLinkStartOverInterval;
    auto hello = [&](u16 peerId, u32 stream, u16 port) {
        std::memset(costlyChecks, 0, sizeof(costlyChecks));
        std::memset(startOvers, 0, sizeof(startOvers));
        std::vector<u8> bytes = helloOf(peerId, key, rest.data() + 1, rest.size() > 32 ? 32 : rest.size() - 1);
        toHost(bytes, stream, 0, port, false, now);
        exchangeKeysWithNewSecureLinkPeers(host, stream, &world.preferences, now);
    };
    auto deviceRun = [&](u16 peerId) {  // its MAVLink endpoint, and its one entry
        check(device->address.family && device->peerId == peerId && device->ports[RelayStreamMavlink] == mavlinkPort);
        i32 entries = 0;
        for (const SecureLinkPeer& peer : host->peers) entries += peer.address.family && peer.peerId == peerId;
        check(entries == 1);
    };
    constexpr u16 kNeighbourPort = 47000;
    hello(0x0BAD, RelayStreamVideo, videoPort);
    hello(0x0BAD, RelayStreamMavlink, kNeighbourPort);
    deviceRun(0x4321);

    hello(0x4322, RelayStreamMavlink, mavlinkPort);
    deviceRun(0x4322);
    now += kSecureLinkNewRunWindow;
    hello(0x4322, RelayStreamVideo, kNeighbourPort + 1);
    check(device->ports[RelayStreamVideo] == videoPort);

    now += kSecureLinkStartOverInterval;
    hello(0x4323, RelayStreamMavlink, mavlinkPort);
    now += kSecureLinkStartOverInterval / 2;
    hello(0x4323, RelayStreamVideo, kNeighbourPort + 1);
    check(device->ports[RelayStreamVideo] == kNeighbourPort + 1);  // the window: a neighbour may take the video
    now += 2 * kSecureLinkStartOverInterval;
    hello(0x0BAE, RelayStreamVideo, kNeighbourPort + 1);
    hello(0x0BAE, RelayStreamMavlink, kNeighbourPort);
    deviceRun(0x4323);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > 8000) return 0;
    setUp();
    link();
    u8 mode = data[0] % 7;
    u8 stream = data[1] & 1;
    world.preferences.relayModeDisableEncryption = data[1] >> 7;
    // The device started over: its entry, and its decision, left the list.
    earlierSession = (data[1] & 0x40) && !world.preferences.relayModeDisableEncryption && mode != 6;
    if (earlierSession) {
        world.host.peers[0] = SecureLinkPeer{};
        world.host.controllingPeer = nullptr;
    }
    // Sealed for the other stream (modes 2 to 4): it arrives on this one, the client record's.
    crossStream = (data[1] & 0x10) && mode >= 2 && mode <= 4;
    u8 sealedFor = crossStream ? (u8)(stream ^ 1) : stream;
    world.client.stream = stream;
    proofExpected = false;
    std::vector<u8> rest(data + 2, data + size);
    switch (mode) {
    case 0:
        toHost(rest, stream);
        break;
    case 1:
        toClient(rest);
        break;
    case 2: {
        std::vector<u8> datagram = sealed(SecureLinkFromHost, sealedFor, data[1], rest.data(), rest.size());
        u32 handed = toClient(datagram);
        if (crossStream) check(handed == 0);
        break;
    }
    case 3: {
        // With bit 3 of the second byte the block begins with the exact proof for the stream sealed
        // for; the host's password is proven only when that is the stream it arrives on.
        if ((data[1] & 0x08) && rest.size() >= kSecureLinkProofBytes) exactProof(rest.data(), sealedFor);
        u8 proof[kSecureLinkProofBytes];
        exactProof(proof, stream);
        proofExpected = !crossStream && rest.size() > kSecureLinkProofBytes &&
                        std::memcmp(rest.data(), proof, kSecureLinkProofBytes) == 0;
        std::vector<u8> datagram = sealed(SecureLinkHello, sealedFor, data[1], rest.data(), rest.size());
        toHost(datagram, stream, 0, 0, !crossStream);
        if (!earlierSession && !world.preferences.relayModeDisableEncryption && !crossStream) {
            if (proofExpected) check(world.host.peers[0].passwordProved);
            // A hello under its keys that proves another password on the MAVLink stream takes the
            // proof back (and has the password sent again).
            if (!proofExpected && stream == RelayStreamMavlink && rest.size() > kSecureLinkProofBytes) {
                check(!world.host.peers[0].passwordProved);
            }
        }
        break;
    }
    case 4: {
        // With bit 5 of the second byte from another port of the controller's address.
        std::vector<u8> datagram = sealed(SecureLinkFromClient, sealedFor, data[1], rest.data(), rest.size());
        toHost(datagram, stream, 0, (data[1] & 0x20) ? 40002 : 0);
        break;
    }
    case 6: {
        // The granted peer has shown its keys on both streams, or on the other one only; the header
        // of its hello (as anyone can copy it), then the rest, comes from another port of its address,
        // and then again and again from its own port.
        for (SecureLinkReplayWindow& window : world.host.peers[0].windows) window = {1, 0, 1};
        if (data[1] & 2) {  // its record of this stream has not sealed a hello yet
            world.host.peers[0].windows[stream] = SecureLinkReplayWindow{};
            world.host.peers[0].ports[stream] = 0;
        }
        std::vector<u8> hello = {SecureLinkHello, (u8)kPeerId, (u8)(kPeerId >> 8)};
        hello.insert(hello.end(), initial.clientIdentity.publicKey, initial.clientIdentity.publicKey + 32);
        hello.insert(hello.end(), rest.begin(), rest.end());
        std::vector<u8> copy = hello;
        toHost(hello, stream, 0, (u16)(40002 + rest[0]));
        // Then a burst of it from the peer's own port: one a frame is checked.
        for (i32 i = 0; i <= rest[0] % 32; i++) {
            hello = copy;
            toHost(hello, stream);
        }
        break;
    }
    default: {
        // A run of datagrams to both sides: lengths and senders from the first byte of each (with bit 5
        // of the second byte, senders 0 and 1 swap places, so the controlling listener's address can
        // send a whole hello).
        u8 senderFlip = (data[1] >> 5) & 1;
        for (size_t at = 0; at < rest.size();) {
            size_t length = rest[at] % 100 + 1;
            if (at + 1 + length > rest.size()) length = rest.size() - at - 1;
            std::vector<u8> one(rest.begin() + (long)at + 1, rest.begin() + (long)(at + 1 + length));
            std::vector<u8> copy = one;
            toHost(one, stream, (u8)((rest[at] >> 5) ^ senderFlip));
            toClient(copy);
            at += 1 + length;
        }
        break;
    }
    }
    endDrains();
    if (!earlierSession && !world.preferences.relayModeDisableEncryption) laterFrames(rest);
    if (world.preferences.relayModeDisableEncryption) {
        if (plainStartOver(rest)) plainNeighbour(rest);
    }
    return 0;
}
