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
// encryption off an entry's ports never move under its peer id, and its MAVLink endpoint, where its
// password and telemetry go, moves, and its decision goes to another entry, only with a hello from the
// new port that proves its password; its video port is set only at its listing, by a hello under its
// peer id from that port of its address once its session has proved the password it holds (or at
// once when it holds none), or by the proving MAVLink hello to a port that said hello under its peer
// id meanwhile, and a start-over leaves it none; a port goes to another entry of the address only from
// an entry that proved nothing (to one that proved its password) or was silent there; no two listed
// entries share an endpoint on a stream; only what comes from an entry's MAVLink port keeps it alive;
// once the granted device's session proved its password and its video record said hello, its video
// port is that socket unless an entry the user decided on, heard there, holds it.
// A password the client hears other than sealed never changes the one it keeps. With encryption off a name is only ever read from a plain
// block, never from sealed bytes. Then, for four seconds of frames, hellos under the granted peer's id
// come from other ports of its address ahead of its own hello each second, beside a stranger that
// forged its endpoint, listed itself there under another peer id and completed a sealed hello: the
// granted peer is heard, keeps its entry and grants, and controls. With encryption off instead, the
// granted device starts over under a new peer id from its MAVLink endpoint with a new video socket,
// its new run's video hello coming before its MAVLink hello, between it and the proof of its password,
// any number of seconds after, or never: it is one entry, its video port the new socket once the video
// hello came (none while it did not). Then a neighbour at its address forges the device's video
// endpoint under an id of its own, and forges a start-over at its MAVLink endpoint under an id it
// listed from its video socket, with a hello under a fresh id forged from the device's video socket at
// that moment: the device keeps its MAVLink endpoint, the neighbour's socket never becomes its video
// port, and the device's own next run gets its video back. Last, with encryption off, copies of an
// undecided device's hellos from other ports of its address, while it is heard and after a pause, never
// move its entry. Then, in either mode, on a full list of devices the user decided on, one device's new
// run proves its entry's password from the spare place beside copies of its hellos, hellos under fresh
// peer ids from other ports of its address and a stranger at a decided address that can never prove, as
// the place is given up and taken in turn: only the proving run takes the entry, and it does.
#include "Core/Preferences.h"
#include "Crypto/X25519.h"
#include "Network/SecureLinkEntries.h"
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
u8 newRunPrivate[32];  // the key pair of a decided device's new run on a full list
u8 newRunPublic[32];
constexpr u16 kStrangerId = 0x0BAD;
bool earlierSession;  // the granted peer's entry is gone: what was sealed for it is a replay
bool crossStream;     // the input's sealed datagram was sealed for the other stream than it arrives on
bool proofExpected;   // the input's sealed hello holds the exact proof for the stream it arrives on
i32 costlyChecks[kSecureLinkStreams];  // costly steps of the input other than the controller's sealed data
i32 startOvers[kSecureLinkPeers];      // entries that took a new peer id in their place
// The video hellos of the input so far: the last byte of the sender's address, its port, the peer id.
struct VideoHello {
    u8 address;
    u16 port;
    u16 peerId;
    u64 time;
};
std::vector<VideoHello> videoHellos;
u16 deviceVideoSocket;  // with encryption off, the video socket of the granted device's run (0: none yet)
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
    for (i32 i = 0; i < 32; i++) newRunPrivate[i] = (u8)(i * 17 + 9);
    x25519(newRunPublic, newRunPrivate, x25519BasePoint);
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
    peer->heardTimes[0] = peer->heardTimes[1] = kInputTime;  // it says hello every second
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
    videoHellos.clear();
    deviceVideoSocket = 0;
}

// Whether the entry is the same session before and after a datagram (not replaced, not started over).
bool sameSession(const SecureLinkPeer* before, const SecureLinkPeer* after) {
    return before->address.family && after->address.family && before->listOrder == after->listOrder &&
           before->peerId == after->peerId;
}

// With encryption off, whether the entry gave its port on the stream up by the datagram: another entry
// of its address took the port, by a hello on that stream from that port (or, for a video port, by the
// MAVLink hello from its endpoint that proved its password), and the entry had proved nothing
// (undecided, holding no password) while the other's session proved its password, or it had not been
// heard there within the silence time.
bool gaveUpPort(const SecureLinkPeer* before, const SecureLinkPeer* after, const SocketResult* datagram, u8 type,
                u32 s, u32 stream, u64 now) {
    u16 port = before->ports[s];
    if (!port || after->ports[s] || type != SecureLinkHello || !sameAddress(&datagram->source, &before->address)) {
        return false;
    }
    bool unproved = before->userDecision == 0 && !holdsPassword(before->password);
    for (const SecureLinkPeer& other : world.host.peers) {
        if (&other == after || !other.address.family || other.ports[s] != port) continue;
        bool proved = holdsPassword(other.password) && other.passwordProved;
        bool byHello = stream == s && datagram->source.port == port;
        bool byProof = s == RelayStreamVideo && stream == RelayStreamMavlink && proved &&
                       datagram->source.port == other.ports[RelayStreamMavlink];
        return (byHello || byProof) && (!heardOn(before, s, now) || (unproved && proved));
    }
    return false;
}

// With encryption off, where an entry's password, state and telemetry go (its address and MAVLink
// port) is set at its listing, by its first MAVLink hello, and moves only to a hello on the MAVLink
// stream from the new port that proves the entry's password, or is given up; a decision goes to another
// entry only with such a proving hello.
void checkMavlinkEndpoints(const SecureLinkPeer* before, const SocketResult* datagram, u8 type, u32 stream, u64 now) {
    for (i32 i = 0; i < kSecureLinkPeers; i++) {
        const SecureLinkPeer* peer = &world.host.peers[i];
        if (!peer->address.family) continue;
        bool sameEntry = before[i].address.family && before[i].listOrder == peer->listOrder;
        u16 port = peer->ports[RelayStreamMavlink];
        bool moved = sameEntry && before[i].ports[RelayStreamMavlink] &&
                     (port != before[i].ports[RelayStreamMavlink] || !sameAddress(&before[i].address, &peer->address));
        bool decisionCame = peer->userDecision && !(sameEntry && before[i].userDecision);
        if (!moved && !decisionCame) continue;
        if (!decisionCame && gaveUpPort(&before[i], peer, datagram, type, RelayStreamMavlink, stream, now)) {
            continue;
        }
        check(type == SecureLinkHello && stream == RelayStreamMavlink && peer->passwordProved &&
              port == datagram->source.port && sameAddress(&peer->address, &datagram->source));
    }
}

// Whether a hello under the peer id came on the video stream from the port of the address.
bool saidVideoHello(const AddressRecord* address, u16 port, u16 peerId) {
    for (const VideoHello& hello : videoHellos) {
        if (hello.address == address->address[3] && hello.port == port && hello.peerId == peerId) return true;
    }
    return false;
}

// With encryption off, an entry's video port is set at its listing; in a session of its own only from
// none, to a port that said hello under its peer id on the video stream, by that hello once the session
// has proved the password the entry holds (at once when it holds none), or by the MAVLink hello from
// its endpoint that proves it; a start-over leaves none (but, for an entry that holds no password, the
// port its new run's video hello listed apart); it goes back to none only as gaveUpPort says. No two
// listed entries share an endpoint on a stream.
void checkVideoPorts(const SecureLinkPeer* before, const SocketResult* datagram, u8 type, u32 stream, u64 now) {
    const AddressRecord* source = &datagram->source;
    for (i32 i = 0; i < kSecureLinkPeers; i++) {
        const SecureLinkPeer* peer = &world.host.peers[i];
        if (!peer->address.family) continue;
        for (i32 j = 0; j < i; j++) {
            const SecureLinkPeer* other = &world.host.peers[j];
            for (u32 s = 0; s < kSecureLinkStreams; s++) {
                check(!other->address.family || !peer->ports[s] || peer->ports[s] != other->ports[s] ||
                      !sameAddress(&peer->address, &other->address));
            }
        }
        bool sameEntry = before[i].address.family && before[i].listOrder == peer->listOrder;
        u16 port = peer->ports[RelayStreamVideo];
        if (!sameEntry || port == before[i].ports[RelayStreamVideo]) continue;
        if (!port && before[i].peerId == peer->peerId) {
            check(gaveUpPort(&before[i], peer, datagram, type, RelayStreamVideo, stream, now));
            continue;
        }
        bool holds = readLinkU64(before[i].password) != 0;
        if (before[i].peerId != peer->peerId) {
            check(!port || (!holds && saidVideoHello(&peer->address, port, peer->peerId)));
            continue;
        }
        check(!before[i].ports[RelayStreamVideo] && type == SecureLinkHello &&
              saidVideoHello(&peer->address, port, peer->peerId));
        bool byVideoHello = stream == RelayStreamVideo && source->port == port && sameAddress(source, &peer->address) &&
                            (!holds || before[i].passwordProved);
        bool byProof = stream == RelayStreamMavlink && peer->passwordProved && sameAddress(source, &peer->address) &&
                       source->port == peer->ports[RelayStreamMavlink];
        check(byVideoHello || byProof);
    }
}

// With encryption off, once the granted device's session has proved its password and its video record
// said hello from its socket under the session's peer id, its video port is that socket, unless another
// entry of its address that the user decided on or that holds a password, heard there within the
// silence time, holds it.
void checkDeviceVideo(u64 now) {
    const SecureLinkPeer* device = &world.host.peers[0];
    if (!deviceVideoSocket || !device->address.family || !device->passwordProved ||
        device->ports[RelayStreamVideo] == deviceVideoSocket) {
        return;
    }
    bool said = false;
    for (const VideoHello& hello : videoHellos) {
        said = said || (hello.address == device->address.address[3] && hello.port == deviceVideoSocket &&
                        hello.peerId == device->peerId && hello.time >= device->sessionTime);
    }
    if (!said) return;
    bool heldAgainst = false;
    for (const SecureLinkPeer& other : world.host.peers) {
        heldAgainst = heldAgainst || (&other != device && other.address.family &&
                                      other.ports[RelayStreamVideo] == deviceVideoSocket &&
                                      sameAddress(&other.address, &device->address) &&
                                      (other.userDecision || holdsPassword(other.password)) &&
                                      heardOn(&other, RelayStreamVideo, now));
    }
    check(heldAgainst);
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
    if (type == SecureLinkHello && stream == RelayStreamVideo && bytes.size() >= kHelloHeader) {
        videoHellos.push_back(VideoHello{address[3], datagram.source.port, readLinkU16(bytes.data() + 1), now});
    }
    SecureLinkReceived out;
    receiveFromSecureLinkPeer(&out, &datagram, &world.host, stream, &world.preferences, now);
    // Sealed data is opened only from the controller's MAVLink port; everything else costs a bounded
    // few steps an input.
    bool fromController = type == SecureLinkFromClient && stream == RelayStreamMavlink && controlling &&
                          datagram.source.port == controlling->ports[stream] &&
                          sameAddress(&datagram.source, &controlling->address);
    if (out.data && type == SecureLinkFromClient) check(fromController && out.peer == controlling);
    if (out.costly && !fromController) costlyChecks[stream]++;
    check(costlyChecks[stream] <= 2 * kSecureLinkEntries + 2 * kSecureLinkKeyExchangesPerFrame);
    for (i32 i = 0; i < kSecureLinkPeers; i++) {
        const SecureLinkPeer* peer = &world.host.peers[i];
        if (before[i].address.family && peer->address.family && before[i].listOrder == peer->listOrder &&
            before[i].peerId != peer->peerId) {
            check(++startOvers[i] <= 1);  // an endpoint starts over once a second at most
        }
        if (!sameSession(&before[i], peer)) continue;
        // A hello from another endpoint than the entry's own on the stream never spends its check.
        bool ownEndpoint = before[i].ports[stream] == datagram.source.port &&
                           sameAddress(&before[i].address, &datagram.source);
        if (type == SecureLinkHello && before[i].ports[stream] && !ownEndpoint) {
            check(std::memcmp(&before[i].helloChecks[stream], &peer->helloChecks[stream], sizeof(KeyExchangeBudget)) == 0);
        }
        // With encryption off a device is its endpoint: its ports never move under its peer id, but one it
        // proved nothing at or was silent at is given up.
        for (u32 s = 0; s < kSecureLinkStreams && world.preferences.relayModeDisableEncryption; s++) {
            check(!before[i].ports[s] || peer->ports[s] == before[i].ports[s] ||
                  gaveUpPort(&before[i], peer, &datagram, type, s, stream, now));
        }
        // With encryption off only what comes from an entry's MAVLink port keeps it alive.
        if (world.preferences.relayModeDisableEncryption && before[i].ports[RelayStreamMavlink] &&
            peer->lastHeardTime != before[i].lastHeardTime) {
            check(stream == RelayStreamMavlink && datagram.source.port == peer->ports[RelayStreamMavlink] &&
                  sameAddress(&datagram.source, &peer->address));
        }
    }
    if (world.preferences.relayModeDisableEncryption) {
        checkMavlinkEndpoints(before, &datagram, type, stream, now);
        checkVideoPorts(before, &datagram, type, stream, now);
        checkDeviceVideo(now);
    }
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
            bool served = false;  // on the list, or in the spare place beside it
            for (i32 i = 0; i < kSecureLinkEntries; i++) {
                const SecureLinkPeer* peer = entryAt(host, i);
                served = served || (peer->address.family && peer->keys.ready && peer->peerId == listener.peerId &&
                                    sameAddress(&peer->address, &listener.source));
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
// heard every second and controls. Copies from another port of its hellos that its own port sent in one
// frame never move its port.
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
    // Two of the peer's sealed hellos from its own port in one frame (after a stall: the second is
    // dropped unchecked), then copies of both from another port of its address: its port stays.
    if (!ownPort) return;
    now += 250000;
    u64 counter = 2000 + rest.size();
    std::vector<u8> hellos[2] = {sealed(SecureLinkHello, RelayStreamMavlink, counter, block, sizeof(block)),
                                 sealed(SecureLinkHello, RelayStreamMavlink, counter + 1, block, sizeof(block))};
    for (const std::vector<u8>& hello : hellos) deliver(hello, endpoint);
    for (const std::vector<u8>& hello : hellos) deliver(hello, 40009);
    check(granted->ports[RelayStreamMavlink] == endpoint && granted->address.port == endpoint);
}

// The hello of a device's run under the peer id and key whose block proves the password the entry
// holds, for the entry's session and the stream (zeros when it holds none), with no name.
std::vector<u8> provingHello(const SecureLinkPeer* entry, u16 peerId, const u8* key, u32 stream) {
    u8 block[kSecureLinkProofBytes + 1] = {};
    if (readLinkU64(entry->password)) {
        secureLinkControlProof(block, entry->password, world.hostIdentity.publicKey, key, entry->hostNonce, (u8)stream);
    }
    return helloOf(peerId, key, block, sizeof(block));
}

// With encryption off, two seconds after the input the granted device starts over under a new peer id
// and key, from its MAVLink endpoint, with a new video socket, and its MAVLink record proves the
// entry's password with its next hello. Its new run's video hello comes, as the input's last byte
// gives, before its MAVLink hello, between that and the proof, as many seconds after the proof as the
// input's first byte gives, or never; then a neighbour says hello under the new id from another port of
// its address. When the video hello came between the MAVLink hello and the proof, a hello under a fresh
// id forged from the new socket may list an entry there that the user grants video: the device's video
// port waits until that entry is no longer heard there. The device is one entry under its new id at
// its MAVLink endpoint, whose video port is none until its video hello came and then the new socket.
// Its video port goes in *videoPort and the time reached in *now; false when the input left no device
// to start over.
bool plainStartOver(const std::vector<u8>& rest, u16* videoPort, u64* now) {
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
    *now = kInputTime + 2 * kSecureLinkStartOverInterval;
    u16 newVideoPort = (u16)(45000 + rest[0]);
    deviceVideoSocket = newVideoPort;
    auto deliver = [&](std::vector<u8> bytes, u32 stream, u16 port) {
        toHost(bytes, stream, 0, port, false, *now);
        exchangeKeysWithNewSecureLinkPeers(host, stream, &world.preferences, *now);
    };
    auto videoHello = [&](u16 port) { deliver(helloOf(kNewRunId, newKey, nullptr, 0), RelayStreamVideo, port); };
    u8 when = rest.back() & 3;  // 0 first, 1 before the proof, 2 late, 3 never
    if (when == 0) videoHello(newVideoPort);
    deliver(helloOf(kNewRunId, newKey, nullptr, 0), RelayStreamMavlink, mavlinkPort);
    check(device->peerId == kNewRunId && device->ports[RelayStreamMavlink] == mavlinkPort);
    if (when == 1) videoHello(newVideoPort);
    // With bit 2 of the last byte, a hello under a fresh id forged from the new socket meanwhile lists an
    // entry there that the user grants video: it holds the socket against the device while it is heard.
    bool grantedAtSocket = when == 1 && (rest.back() & 4);
    if (grantedAtSocket) {
        u8 forgerKey[32];
        for (i32 i = 0; i < 32; i++) forgerKey[i] = (u8)(0x60 ^ i);
        deliver(helloOf(0x0BB0, forgerKey, nullptr, 0), RelayStreamVideo, newVideoPort);
        for (SecureLinkPeer& peer : host->peers) {
            if (peer.address.family && peer.peerId == 0x0BB0) {
                setSecureLinkPeerDecision(host, &peer, SecureLinkGrantVideo);
            }
        }
    }
    *now += 20000;
    deliver(provingHello(device, kNewRunId, newKey, RelayStreamMavlink), RelayStreamMavlink, mavlinkPort);
    if (when >= 2) check(device->ports[RelayStreamVideo] == 0);  // nothing goes to the earlier run's socket
    if (when == 2) {
        *now += (u64)(rest[0] % 61) * 1000000;
        videoHello(newVideoPort);
    }
    *now += kSecureLinkHelloInterval + (grantedAtSocket ? kSecureLinkPeerSilence : 0);
    if (when != 3) {
        videoHello(newVideoPort);
        videoHello((u16)(newVideoPort + 1000));
    }
    deliver(helloOf(kNewRunId, newKey, nullptr, 0), RelayStreamMavlink, (u16)(newVideoPort + 1000));
    i32 entries = 0;
    for (const SecureLinkPeer& peer : host->peers) entries += peer.address.family && peer.peerId == kNewRunId;
    check(entries == 1);
    check(device->peerId == kNewRunId && device->ports[RelayStreamMavlink] == mavlinkPort);
    *videoPort = device->ports[RelayStreamVideo];
    check(*videoPort == (when == 3 ? 0 : newVideoPort));
    return true;
}

// With encryption off, after the device's start-over, a neighbour at its address with sockets of its
// own: (a) a hello under an id of its own forged from the device's video endpoint lists nothing, and
// one from its MAVLink socket lists it there; (b) a second later it lists another id from its video
// socket, forges one hello under it from the device's MAVLink endpoint and at that moment one under a
// fresh id from the device's video socket (listed there, that id then says hello from a MAVLink socket
// of the neighbour's), and says hello under the first from its video socket again: the device's entry
// starts over under that id, and the neighbour's socket is never its video port; (c) a second later
// the device starts over under a new id of its own at its MAVLink endpoint, proves its password and
// says hello from its video socket: its video port is that socket again, which the entry listed there
// gives up. The device keeps its MAVLink endpoint and is one entry; the checks of every datagram hold.
void plainNeighbour(const std::vector<u8>& rest, u16 videoPort, u64 now) {
    SecureLinkHost* host = &world.host;
    const SecureLinkPeer* device = &host->peers[0];
    u16 mavlinkPort = device->ports[RelayStreamMavlink];
    if (!device->address.family || !mavlinkPort || !videoPort) return;
    u8 key[32], deviceKey[32];
    for (i32 i = 0; i < 32; i++) {
        key[i] = (u8)(0x90 ^ i ^ rest[0]);
        deviceKey[i] = (u8)(0xD0 ^ i);
    }
    auto send = [&](const std::vector<u8>& bytes, u32 stream, u16 port) {
        std::memset(costlyChecks, 0, sizeof(costlyChecks));
        std::memset(startOvers, 0, sizeof(startOvers));
        std::vector<u8> copy = bytes;
        toHost(copy, stream, 0, port, false, now);
        exchangeKeysWithNewSecureLinkPeers(host, stream, &world.preferences, now);
    };
    auto hello = [&](u16 peerId, u32 stream, u16 port) {  // the neighbour's, the input's bytes as its block
        send(helloOf(peerId, key, rest.data() + 1, rest.size() > 32 ? 32 : rest.size() - 1), stream, port);
    };
    auto listed = [&](u16 peerId) {
        i32 entries = 0;
        for (const SecureLinkPeer& peer : host->peers) entries += peer.address.family && peer.peerId == peerId;
        return entries;
    };
    constexpr u16 kNeighbourPort = 47000;
    now += kSecureLinkStartOverInterval;
    hello(0x0BAD, RelayStreamVideo, videoPort);
    check(listed(0x0BAD) == 0);
    hello(0x0BAD, RelayStreamMavlink, kNeighbourPort);
    check(device->peerId == 0x4321 && listed(0x4321) == 1 && device->ports[RelayStreamVideo] == videoPort);

    now += kSecureLinkStartOverInterval;
    hello(0x0BAE, RelayStreamVideo, kNeighbourPort + 1);
    hello(0x0BAE, RelayStreamMavlink, mavlinkPort);
    hello(0x0BAF, RelayStreamVideo, videoPort);
    now += 20000;
    hello(0x0BAE, RelayStreamVideo, kNeighbourPort + 1);
    hello(0x0BAF, RelayStreamMavlink, kNeighbourPort + 2);
    check(device->address.family && device->ports[RelayStreamMavlink] == mavlinkPort);
    check(device->ports[RelayStreamVideo] != kNeighbourPort + 1);

    now += kSecureLinkStartOverInterval;
    send(helloOf(0x4322, deviceKey, nullptr, 0), RelayStreamMavlink, mavlinkPort);
    now += 20000;
    send(provingHello(device, 0x4322, deviceKey, RelayStreamMavlink), RelayStreamMavlink, mavlinkPort);
    send(helloOf(0x4322, deviceKey, nullptr, 0), RelayStreamVideo, videoPort);
    check(device->peerId == 0x4322 && listed(0x4322) == 1 && device->ports[RelayStreamMavlink] == mavlinkPort);
    check(device->ports[RelayStreamVideo] == videoPort);
}

// With encryption off, an undecided device at an address of its own, listed from its MAVLink port and
// heard on its video port, and copies of its hellos (the input's bytes as their block) from other ports
// of its address on either stream, as the input's bytes say: some while its ports are heard, the rest
// after a pause longer than the silence time. No copy moves the entry: its endpoint, its ports, its peer
// id and its place stay, and its own next hello is its.
void plainCopies(const std::vector<u8>& rest, u64 now) {
    SecureLinkHost* host = &world.host;
    constexpr u8 kSender = 19;  // 127.0.0.20: no sender of the input's
    constexpr u16 kCopiedId = 0x5151;
    constexpr u16 kOwnPort = 46000;
    u8 key[32];
    for (i32 i = 0; i < 32; i++) key[i] = (u8)(0x51 ^ i);
    size_t blockLength = rest.size() < 40 ? rest.size() : 40;
    const std::vector<u8> hellos[kSecureLinkStreams] = {helloOf(kCopiedId, key, rest.data(), blockLength),
                                                        helloOf(kCopiedId, key, nullptr, 0)};
    auto send = [&](u32 stream, u16 port) {
        std::memset(costlyChecks, 0, sizeof(costlyChecks));
        std::memset(startOvers, 0, sizeof(startOvers));
        std::vector<u8> copy = hellos[stream];
        toHost(copy, stream, kSender, port, false, now);
        exchangeKeysWithNewSecureLinkPeers(host, stream, &world.preferences, now);
    };
    now += kSecureLinkStartOverInterval;
    send(RelayStreamMavlink, kOwnPort);
    send(RelayStreamVideo, kOwnPort + 1);
    const SecureLinkPeer* entry = nullptr;
    for (const SecureLinkPeer& peer : host->peers) {
        if (peer.address.family && peer.peerId == kCopiedId && peer.address.address[3] == 1 + kSender) entry = &peer;
    }
    if (!entry) return;  // the input filled the list
    const SecureLinkPeer listed = *entry;
    check(listed.userDecision == 0 && listed.address.port == kOwnPort && listed.ports[RelayStreamMavlink] == kOwnPort);
    auto unmoved = [&] {
        check(entry->address.family && entry->peerId == kCopiedId && entry->listOrder == listed.listOrder &&
              entry->address.port == kOwnPort && entry->ports[RelayStreamMavlink] == kOwnPort &&
              entry->ports[RelayStreamVideo] == listed.ports[RelayStreamVideo]);
    };
    size_t copies = rest.size() < 64 ? rest.size() : 64;
    for (size_t i = 0; i < copies; i++) {
        if (i == copies / 2) now += kSecureLinkPeerSilence + 1 + (u64)rest[i] * 100000;  // the device pauses
        send(rest[i] & 1, (u16)(kOwnPort + 2 + (rest[i] >> 1)));
        unmoved();
    }
    send(RelayStreamMavlink, kOwnPort);
    unmoved();
    check(entry->lastHeardTime == now);
}

// A full list of entries the user decided on, each at an address of its own with a password of its own;
// the device of one of them (as the input's first byte gives) starts over: its new run says hello from
// another port of the entry's address, hears the host key and its nonce in the spare place, and proves
// the entry's password (with encryption off its video hello came first: its port is then the entry's
// video port). A run that can never prove competes for the place: a stranger at a decided address (the
// input's first byte gives which) that says hello, and seals the input's bytes as its block when it holds
// keys there. Around that, as the input's bytes say, come the new run's hellos, copies of its latest from
// other ports of the address, hellos under fresh peer ids from there whose blocks are the input's bytes,
// the stranger's hellos (one first, as the input's first byte says), and seconds of host frames in which
// the place is given up. After every datagram: no entry of the list changes but the device's, only by the
// run's proving hello from its own port, to the run with the entry's decision and password; the spare
// place holds no decision or password; and once the run proved, its ports stay. Last, whoever holds the
// place gives it up; the stranger takes it and gives it up, and is not let in again from its endpoint
// under a new peer id nor under its peer id from another port; a stranger's run at another port takes it,
// proves nothing, and gives it up to the run at once: the run ends holding the entry.
void fullListRun(const std::vector<u8>& rest, bool plain) {
    SecureLinkHost* host = &world.host;
    const u64 start = kInputTime + 200000000;  // after the other runs' frames
    host->controllingPeer = nullptr;
    host->spare = SecureLinkPeer{};
    for (i32 i = 0; i < kSecureLinkPeers; i++) {
        SecureLinkPeer* peer = &host->peers[i];
        *peer = SecureLinkPeer{};
        const u8 address[4] = {127, 0, 0, (u8)(40 + i)};
        peer->address = makeAddressRecord(4, address, (u16)(42000 + i));
        peer->ports[RelayStreamMavlink] = (u16)(42000 + i);
        peer->peerId = (u16)(0x7000 + i);
        peer->publicKey[0] = (u8)(i + 1);
        peer->hostNonce[0] = (u8)(i + 1);
        peer->userDecision = SecureLinkGrantTelemetry;
        peer->password[0] = (u8)(0x30 + i);
        peer->passwordProved = 1;
        peer->listOrder = ++host->listings;
        peer->lastHeardTime = peer->heardTimes[RelayStreamMavlink] = start;
    }
    const i32 k = rest[0] % kSecureLinkPeers;
    const SecureLinkPeer entry = host->peers[k];
    const u16 runId = 0x6000;
    const u16 runPort = 43000;
    const AddressRecord strangerAt = host->peers[(rest[0] / kSecureLinkPeers) % kSecureLinkPeers].address;
    const u16 strangerPort = 44000;
    u64 now = start + 100000;
    SecureLinkPeer list[kSecureLinkPeers];
    std::memcpy(list, host->peers, sizeof(list));
    bool proved = false;
    auto deliver = [&](std::vector<u8> bytes, const AddressRecord* at, u16 port, bool proving,
                       u32 stream = RelayStreamMavlink) {
        SocketResult datagram{};
        datagram.received = 1;
        datagram.data = bytes.data();
        datagram.length = (u32)bytes.size();
        datagram.source = *at;
        datagram.source.port = port;
        SecureLinkReceived out;
        receiveFromSecureLinkPeer(&out, &datagram, host, stream, &world.preferences, now);
        exchangeKeysWithNewSecureLinkPeers(host, stream, &world.preferences, now);
        sendSecureLinkStateUpdates(host, nullptr, nullptr, 0, &world.preferences, now);
        check(!out.data);
        check(!host->spare.userDecision && !holdsPassword(host->spare.password) && !host->spare.passwordProved);
        for (i32 i = 0; i < kSecureLinkPeers; i++) {
            const SecureLinkPeer* peer = &host->peers[i];
            if (peer->peerId == list[i].peerId && peer->listOrder == list[i].listOrder &&
                sameAddress(&peer->address, &list[i].address)) {
                check(peer->userDecision == list[i].userDecision);
                continue;
            }
            check(i == k && proving && sameAddress(at, &entry.address) && port == runPort && !proved);
            check(peer->peerId == runId && peer->listOrder == entry.listOrder && peer->userDecision == entry.userDecision &&
                  std::memcmp(peer->password, entry.password, 8) == 0 && peer->passwordProved &&
                  peer->ports[RelayStreamMavlink] == runPort && std::memcmp(peer->publicKey, newRunPublic, 32) == 0);
            proved = true;
            list[i] = *peer;
        }
        if (proved) check(host->peers[k].ports[RelayStreamMavlink] == runPort && host->peers[k].address.port == runPort);
    };
    // A hello under the id and key from the endpoint, with the block: sealed under the keys of the nonce
    // it heard in the spare place when it holds the place there with encryption on (counter: its next).
    auto helloFrom = [&](u16 peerId, const u8* privateKey, const u8* publicKey, const AddressRecord* at, u16 port,
                         const u8* block, size_t length, u64* counter) {
        const SecureLinkPeer* spare = &host->spare;
        bool inSpare = spare->address.family && spare->peerId == peerId && spare->address.port == port &&
                       sameAddress(&spare->address, at);
        if (!inSpare) return helloOf(peerId, publicKey, nullptr, 0);
        if (plain) return helloOf(peerId, publicKey, block, length);
        SecureLinkKeys keys;
        check(deriveSecureLinkKeys(&keys, privateKey, world.hostIdentity.publicKey, world.hostIdentity.publicKey,
                                   publicKey, spare->hostNonce));
        std::vector<u8> hello = helloOf(peerId, publicKey, nullptr, 0);
        hello.resize(hello.size() + length + 100);
        ByteWriter writer = makeByteWriter(hello.data(), (i64)hello.size());
        writer.length = kHelloHeader;
        check(sealSecureLinkPart(&writer, SecureLinkHello, RelayStreamMavlink, (*counter)++, &keys, block,
                                 (i64)length));
        hello.resize((size_t)writer.length);
        return hello;
    };
    // The run's hello: in the spare place it proves the entry's password over the host key and the nonce
    // it heard there.
    u64 runCounter = 0;
    std::vector<u8> latest;
    auto runSays = [&] {
        const SecureLinkPeer* spare = &host->spare;
        bool proving = spare->address.family && spare->peerId == runId && spare->address.port == runPort;
        u8 block[kSecureLinkProofBytes + 1] = {};
        secureLinkControlProof(block, entry.password, world.hostIdentity.publicKey, newRunPublic, spare->hostNonce,
                               RelayStreamMavlink);
        latest =
            helloFrom(runId, newRunPrivate, newRunPublic, &entry.address, runPort, block, sizeof(block), &runCounter);
        deliver(latest, &entry.address, runPort, proving);
    };
    u64 strangerCounter = 0;
    auto strangerSays = [&](u16 peerId, u16 port, const u8* block, size_t length) {
        deliver(helloFrom(peerId, strangerPrivate, strangerPublic, &strangerAt, port, block, length, &strangerCounter),
                &strangerAt, port, false);
    };
    auto strangerSaysInput = [&](size_t at) {
        strangerSays(kStrangerId, strangerPort, rest.data() + at, rest.size() - at < 40 ? rest.size() - at : 40);
    };
    // Host frames through the duration, at least three of them.
    auto frames = [&](u64 duration) {
        for (i32 i = 0; i < 4; i++) {
            now += duration / 4 + 1;
            sendSecureLinkStateUpdates(host, nullptr, nullptr, 0, &world.preferences, now);
        }
    };
    // With encryption off the run's video hello comes first: its port is the entry's video port once the
    // run proved.
    const u16 runVideoPort = runPort + 100;
    if (plain) deliver(helloOf(runId, newRunPublic, nullptr, 0), &entry.address, runVideoPort, false, RelayStreamVideo);
    if (rest[0] & 0x80) strangerSaysInput(1);  // the stranger holds the place first
    runSays();
    size_t steps = rest.size() < 64 ? rest.size() : 64;
    for (size_t i = 1; i < steps; i++) {
        u8 what = rest[i] & 7;
        u16 port = (u16)(runPort + 1 + (rest[i] >> 4));
        now += (u64)(rest[i] & 0x30) * 625;  // 0 to 30 ms
        if (what <= 1) {
            runSays();
        } else if (what == 2 && !latest.empty()) {  // a copy of the run's latest hello
            deliver(latest, &entry.address, port, false);
        } else if (what == 3) {  // a fresh peer id from the address (one of 8: the host remembers 16
                                 // ids not listed yet, the run's among them), the input's bytes as its block
            size_t length = rest.size() - i < 40 ? rest.size() - i : 40;
            deliver(helloOf((u16)(0x6100 + (rest[i] >> 5)), newRunPublic, rest.data() + i, length), &entry.address,
                    port, false);
        } else if (what <= 5) {
            strangerSaysInput(i);
        } else if (now - start < 40000000) {  // the list's devices are gone only after a minute
            frames((u64)(rest[i] >> 3) * 100000);  // up to 3.1 s
        }
    }
    if (!proved) {
        const u8 noProof[kSecureLinkProofBytes + 1] = {};  // a device that holds no password: no name
        frames(kSecureLinkPeerSilence);  // whoever holds the place unproved gives it up
        frames(kSecureLinkPeerSilence);  // and may take it again
        strangerSays(kStrangerId, strangerPort, nullptr, 0);
        check(host->spare.peerId == kStrangerId);
        frames(kSecureLinkPeerSilence);  // it gives the place up, and is not let in again at once: from its
        strangerSays(kStrangerId + 1, strangerPort, nullptr, 0);  // endpoint under a new peer id
        strangerSays(kStrangerId, strangerPort + 1, nullptr, 0);  // nor under its peer id from another port
        strangerSays(kStrangerId + 2, strangerPort + 2, nullptr, 0);  // another run takes it
        check(host->spare.peerId == kStrangerId + 2);
        now += 20000;
        strangerSays(kStrangerId + 2, strangerPort + 2, noProof, sizeof(noProof));  // its hello proves nothing
        runSays();  // it gives the place up to the run at once
        runSays();
    }
    check(proved);
    if (plain) check(host->peers[k].ports[RelayStreamVideo] == runVideoPort);
    deliver(latest, &entry.address, (u16)(runPort + 1), false);
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
    u16 videoPort = 0;
    u64 now = 0;
    if (world.preferences.relayModeDisableEncryption && plainStartOver(rest, &videoPort, &now)) {
        plainNeighbour(rest, videoPort, now);
    }
    if (world.preferences.relayModeDisableEncryption) plainCopies(rest, now ? now : kInputTime);
    fullListRun(rest, world.preferences.relayModeDisableEncryption);
    return 0;
}
