// The relay host's list with encryption off, where no key proves who a peer is: a device is its
// endpoint. Which entry a plain hello belongs to, and when it lists, starts over or joins an entry, or
// gives it a port.
#include "Network/Address.h"
#include "Network/SecureLinkEntries.h"
#include "Network/SecureLinkFormat.h"
#include "Network/Socket.h"
#include "Platform/Random.h"

#include <cstring>

namespace {

// The new run's hello on the video stream came first and was listed apart: a MAVLink hello under that
// undecided entry's id and key from the MAVLink endpoint of another entry is that entry's device,
// starting over under the id. An entry with a MAVLink port of its own was not listed apart: a copy of
// its hello from another entry's endpoint is not its device's. The entry listed apart is returned (to
// join it); null for none.
SecureLinkPeer* listedApartJoining(SecureLinkHost* host, SecureLinkPeer* peer, u32 stream, const HelloHeader* hello) {
    if (!peer || stream != RelayStreamMavlink || peer->userDecision != 0 || peer->ports[RelayStreamMavlink] ||
        std::memcmp(peer->publicKey, hello->publicKey, 32) != 0) {
        return nullptr;
    }
    SecureLinkPeer* device = peerAtEndpoint(host, stream, hello->source);
    return device && device != peer ? peer : nullptr;
}

// Whether the entry's session has proved the password the entry holds.
bool provesItsPassword(const SecureLinkPeer* peer) { return holdsPassword(peer->password) && peer->passwordProved; }

// Whether the entry that holds a port on the stream keeps it against another entry of its address that
// says hello from there, one whose session proved its password (or will have to, for the port).
// An entry that proved nothing (undecided, holding no password) holds it only until such an entry says
// hello from it: a hello forged at a device's socket the moment it starts over lists an entry there,
// which never keeps the socket from the device. A port not heard on the stream for
// kSecureLinkPeerSilence (sent nothing any more) is held by nobody: the system may have given it to
// another socket of the address, a device's new run among them.
bool holdsPortAgainst(const SecureLinkPeer* owner, bool proves, u32 stream, u64 now) {
    bool ownerUnproved = owner->userDecision == 0 && !holdsPassword(owner->password);
    return heardOn(owner, stream, now) && !(ownerUnproved && proves);
}

// The owner gives its port on the stream up, counted: nothing of that stream goes to it there any more.
void givePortUp(SecureLinkHost* host, SecureLinkPeer* owner, u32 stream) {
    owner->ports[stream] = 0;
    owner->heardTimes[stream] = 0;
    host->portsGivenUp[stream]++;
}

// Whether a hello under a listed entry's id may give the entry the stream's port it has none of yet.
// An endpoint that is another entry's port on the stream belongs to that entry while it holds it there
// (holdsPortAgainst); else that entry gives it up once the hello takes it. On the video stream an
// entry that holds a password takes a port only once its session has proved it (its device's MAVLink
// record proves it at the entry's endpoint, where the password and the session's nonce go): a hello
// under its id, which anyone who reads the traffic can copy, brings no granted video by itself, and no
// clock decides how late the device's video record may speak. The session's first such hello waits for
// the proof (takeVideoPortOnProof). An entry that holds none is sent no video: its first hello there
// sets its port. A hello that may not is counted.
bool mayTakePort(SecureLinkHost* host, SecureLinkPeer* peer, u32 stream, const AddressRecord* source, u64 now) {
    SecureLinkPeer* owner = peerAtEndpoint(host, stream, source);
    if (owner == peer) owner = nullptr;
    bool awaitsProof = stream == RelayStreamVideo && holdsPassword(peer->password) && !peer->passwordProved;
    if (owner && holdsPortAgainst(owner, awaitsProof || provesItsPassword(peer), stream, now)) {
        host->hellosAtOtherEntries[stream]++;
        return false;
    }
    if (awaitsProof) {
        if (!peer->videoPortAwaitingProof) {
            peer->videoPortAwaitingProof = source->port;
            peer->videoHelloAwaitingProofTime = now;
        }
        host->hellosAwaitingProof[stream]++;
        return false;
    }
    if (owner) givePortUp(host, owner, stream);
    return true;
}

// The session has proved the entry's password: the video socket of its new run that said hello first
// meanwhile is its video port now, unless another entry that holds that port against it took it since.
void takeVideoPortOnProof(SecureLinkHost* host, SecureLinkPeer* peer, u64 now) {
    u16 port = peer->videoPortAwaitingProof;
    if (!port || !peer->passwordProved || peer->ports[RelayStreamVideo]) return;
    peer->videoPortAwaitingProof = 0;
    AddressRecord endpoint = peer->address;
    endpoint.port = port;
    SecureLinkPeer* owner = peerAtEndpoint(host, RelayStreamVideo, &endpoint);
    if (owner && holdsPortAgainst(owner, true, RelayStreamVideo, now)) return;
    if (owner) givePortUp(host, owner, RelayStreamVideo);
    peer->ports[RelayStreamVideo] = port;
    peer->heardTimes[RelayStreamVideo] = peer->videoHelloAwaitingProofTime;
}

// The remembered record of a peer id not listed yet, with its key, at the address; null for none.
SecureLinkUnlistedId* findUnlisted(SecureLinkHost* host, u16 peerId, const u8* publicKey,
                                   const AddressRecord* address) {
    for (SecureLinkUnlistedId& unlisted : host->unlistedIds) {
        if (unlisted.address.family && unlisted.peerId == peerId && sameAddress(&unlisted.address, address) &&
            std::memcmp(unlisted.publicKey, publicKey, 32) == 0) {
            return &unlisted;
        }
    }
    return nullptr;
}

// A device that started over on a full list: the video hello of its new run may have come first, when
// the peer id was not listed yet (it found no place, and the spare place takes no video hello); the port
// the id first said hello from on the video stream is its video socket's, as a hello under the entry's id
// there would be. It waits for the session's proof (takeVideoPortOnProof).
void awaitFirstVideoPort(SecureLinkHost* host, SecureLinkPeer* peer, u64 now) {
    if (peer->ports[RelayStreamVideo] || peer->videoPortAwaitingProof || !holdsPassword(peer->password)) return;
    const SecureLinkUnlistedId* unlisted = findUnlisted(host, peer->peerId, peer->publicKey, &peer->address);
    if (!unlisted || !unlisted->ports[RelayStreamVideo]) return;
    peer->videoPortAwaitingProof = unlisted->ports[RelayStreamVideo];
    peer->videoHelloAwaitingProofTime = now;
}

// Whether a hello under a peer id not listed comes from the port the id first said hello from on the
// stream at its address: the first port is its own, also while its device waits for a place on the
// list. A copy of its hello from another port of the address (one that reads the device's hellos and
// sends them on) lists nothing, and starts no entry over at whatever endpoint it holds. The oldest id
// remembered gives way to a new one.
bool firstPortOfUnlistedId(SecureLinkHost* host, const HelloHeader* hello, u32 stream) {
    const AddressRecord* source = hello->source;
    SecureLinkUnlistedId* unlisted = findUnlisted(host, hello->peerId, hello->publicKey, source);
    if (unlisted) {
        if (!unlisted->ports[stream]) unlisted->ports[stream] = source->port;
        return unlisted->ports[stream] == source->port;
    }
    unlisted = &host->unlistedIds[host->unlistedNext % kSecureLinkUnlistedIds];
    host->unlistedNext = (host->unlistedNext + 1) % kSecureLinkUnlistedIds;
    *unlisted = SecureLinkUnlistedId{};
    unlisted->address = *source;
    unlisted->peerId = hello->peerId;
    std::memcpy(unlisted->publicKey, hello->publicKey, 32);
    unlisted->ports[stream] = source->port;
    return true;
}

// The entry whose MAVLink endpoint a hello under a new peer id came from: its device started over.
// From nowhere else: an entry's video endpoint, or any other port, is a new device's. An endpoint
// starts over at most once a second (each costs a nonce drawn); *held is set when it did so too soon.
// The run in the spare place starts nothing over there: it proves a password, or gives the place up.
SecureLinkPeer* entryStartingOver(SecureLinkHost* host, u32 stream, const AddressRecord* source, u64 now, bool* held) {
    SecureLinkPeer* peer = stream == RelayStreamMavlink ? peerAtEndpoint(host, stream, source) : nullptr;
    if (peer == &host->spare) {
        host->hellosAtOtherEntries[stream]++;
        *held = true;
        return nullptr;
    }
    *held = peer && peer->sessionTime && now - peer->sessionTime < kSecureLinkStartOverInterval;
    if (*held) host->hellosOverEntryChecks[stream]++;
    return *held ? nullptr : peer;
}

// A place for a new device, listed at once without a key exchange: a hello under an id retired at its
// address is a replay; one from a listed entry's endpoint on the stream lists nothing (the endpoint is
// that entry's: its device's own new run starts over at its MAVLink endpoint); one that finds no place
// on the list stands in the spare place when that is for its run and free (a MAVLink hello only: a new
// entry proves its password nowhere else), else it waits, saying hello, until one is free; new devices
// are listed within the frame's key exchanges (a real client says hello again a second later).
SecureLinkPeer* placeForPlainPeer(SecureLinkHost* host, const HelloHeader* hello, u32 stream, u64 now,
                                  SecureLinkReceived* out) {
    if (replaysEarlierRun(host, hello, stream)) return nullptr;
    if (peerAtEndpoint(host, stream, hello->source)) {
        host->hellosAtOtherEntries[stream]++;
        return nullptr;
    }
    host->unlistedHellos[stream]++;
    SecureLinkPeer* place = freePeer(host, hello->source, now, true);
    if (!place && stream == RelayStreamMavlink) place = sparePlace(host, hello->source, hello->peerId, now);
    if (!place) {
        host->hellosWithoutPlace[stream]++;
        return nullptr;
    }
    if (!takeKeyExchange(&host->keyExchanges[stream], now, kSecureLinkKeyExchangesPerFrame)) {
        host->hellosOverKeyExchanges[stream]++;
        out->limited = 1;
        return nullptr;
    }
    return place;
}

// A new session of the entry under the hello's id, with a fresh host nonce (sent with the host's state,
// for the proof of the password): the entry just listed, or its device started over, which keeps its
// one entry and the user's decision while control waits for a new proof. A device that started over
// gave up its earlier id (retired at its address); one that takes a retired id back from its own
// endpoint holds it again. Its earlier run's video socket may be closed, and anyone's next: nothing of
// the video stream goes there from now on, and the new run's video hello sets the port anew
// (mayTakePort).
void startPlainSession(SecureLinkHost* host, SecureLinkPeer* peer, bool startsOver, const HelloHeader* hello,
                       const u8* nonce, u64 now) {
    if (host->controllingPeer == peer) host->controllingPeer = nullptr;
    if (startsOver) {
        retirePeerId(host, peer);
        peer->ports[RelayStreamVideo] = 0;
        peer->heardTimes[RelayStreamVideo] = 0;
    }
    SecureLinkRetiredId* retired = findRetired(host, hello->peerId, hello->publicKey, hello->source);
    if (retired) *retired = SecureLinkRetiredId{};
    peer->peerId = hello->peerId;
    std::memcpy(peer->publicKey, hello->publicKey, 32);
    std::memcpy(peer->hostNonce, nonce, kSecureLinkHostNonceBytes);
    peer->keys = SecureLinkKeys{};
    peer->verified = 0;
    peer->passwordProved = 0;
    peer->passwordSentTime = 0;
    peer->sessionTime = now ? now : 1;
    peer->videoPortAwaitingProof = 0;
    std::memset(peer->stateSentTime, 0, sizeof(peer->stateSentTime));  // the new session hears the nonce at once
    std::memset(peer->windows, 0, sizeof(peer->windows));
    std::memset(peer->sendCounters, 0, sizeof(peer->sendCounters));
}

// A device that started over while its new run's video hello had listed it apart: that entry leaves,
// and what it asked for stays with the device's entry. Its video port is the new run's first hello on
// the video stream: it waits for the session's proof of the password (an entry that holds none takes
// it at once).
void joinNewRun(SecureLinkHost* host, SecureLinkPeer* peer, SecureLinkPeer* listedApart) {
    if (!listedApart) return;
    peer->streamsWanted |= listedApart->streamsWanted;
    if (listedApart->ports[RelayStreamVideo] && !holdsPassword(peer->password)) {
        peer->ports[RelayStreamVideo] = listedApart->ports[RelayStreamVideo];
        peer->heardTimes[RelayStreamVideo] = listedApart->heardTimes[RelayStreamVideo];
    } else if (listedApart->ports[RelayStreamVideo]) {
        peer->videoPortAwaitingProof = listedApart->ports[RelayStreamVideo];
        peer->videoHelloAwaitingProofTime = listedApart->heardTimes[RelayStreamVideo];
    }
    if (host->controllingPeer == listedApart) host->controllingPeer = nullptr;
    *listedApart = SecureLinkPeer{};
}

}  // namespace

// With encryption off no key proves who a peer is: a device is its endpoint, and its MAVLink endpoint
// is where its password, its state and its telemetry go. A hello sets a stream's port the entry has
// none of yet (mayTakePort); one under the entry's id from another port of its address changes
// nothing, whenever it comes: it carries the same bytes as the device's own, so the host cannot tell a
// copy of them from the device. The device breaks the tie: one whose socket moved, or that hears
// nothing from the host, starts over under a new id from its own port. A hello under a new id is a new
// device's, or its device starting over at its MAVLink endpoint. Only a plain block of the exact form
// is read.
SecureLinkPeer* receivePlainHello(SecureLinkHost* host, const SocketResult* datagram, u32 stream, u64 now,
                                  SecureLinkReceived* out) {
    HelloHeader hello = helloHeader(datagram);
    const AddressRecord* source = hello.source;
    SecureLinkPeer* peer = findPeer(host, hello.peerId, source);
    SecureLinkPeer* listedApart = listedApartJoining(host, peer, stream, &hello);
    if (listedApart) peer = nullptr;
    if (peer && peer->ports[stream] && peer->ports[stream] != source->port) {
        host->hellosFromOtherPorts[stream]++;
        return nullptr;
    }
    bool retired = findRetired(host, hello.peerId, hello.publicKey, source);  // its own rules: replays
    if (!peer && !listedApart && !retired && !firstPortOfUnlistedId(host, &hello, stream)) {
        host->hellosFromOtherPorts[stream]++;
        return nullptr;
    }
    if (peer && !keyUnchanged(host, peer, &hello, stream)) return nullptr;
    if (peer && !peer->ports[stream] && !mayTakePort(host, peer, stream, source, now)) return nullptr;
    u8 nonce[kSecureLinkHostNonceBytes] = {};
    bool session = !peer;  // a new session: listed now, or its device started over
    SecureLinkPeer* place = nullptr;
    if (!peer) {
        bool held = false;
        peer = entryStartingOver(host, stream, source, now, &held);
        if (held) return nullptr;
        if (!peer && !(place = placeForPlainPeer(host, &hello, stream, now, out))) return nullptr;
        out->costly = 1;
        if (getRandomBytes(nonce, sizeof(nonce)) != 0) return nullptr;  // the client says hello again
        if (place) {
            peer = place;
            listNewEntry(host, peer, source);
        }
    }
    if (session) {
        startPlainSession(host, peer, !place, &hello, nonce, now);
        joinNewRun(host, peer, listedApart);
    }
    setHelloPort(peer, stream, source->port);
    // Only what is heard from its MAVLink port keeps an entry alive (one listed apart by its video hello,
    // with no MAVLink port yet, its hellos there): a device's video hellos keep no entry alive that
    // another port holds under its id.
    bool keepsAlive = stream == RelayStreamMavlink || !peer->ports[RelayStreamMavlink];
    heardHello(peer, hello.streams, stream, source, now, keepsAlive);
    if (datagram->length > kHelloHeader) {
        if (takeKeyExchange(&peer->helloChecks[stream], now, 1)) {
            out->costly = 1;
            peer = readHelloBlock(host, peer, stream, true, datagram->data + kHelloHeader,
                                  datagram->length - kHelloHeader, now);
            awaitFirstVideoPort(host, peer, now);
            takeVideoPortOnProof(host, peer, now);
        } else {
            host->hellosOverEntryChecks[stream]++;
        }
    }
    return peer;
}
