// The relay host's list: which entry a hello or datagram belongs to, and when an entry is listed,
// started over, joined, taken over or dropped. One entry is one session of one device; the hellos that
// come with encryption off are SecureLinkPlainHellos.cpp's; what the host sends an entry, and when, is
// SecureLinkHost.cpp's.
#include "Network/Address.h"
#include "Network/SecureLinkEntries.h"
#include "Network/SecureLinkFormat.h"
#include "Network/Socket.h"
#include "Platform/Random.h"

#include <cstring>

HelloHeader helloHeader(const SocketResult* datagram) {
    return HelloHeader{readLinkU16(datagram->data + 1), datagram->data + 3, datagram->data[35], &datagram->source};
}

// The listed entry at the endpoint a hello came from on the stream (its address and that stream's
// port); null for none.
SecureLinkPeer* peerAtEndpoint(SecureLinkHost* host, u32 stream, const AddressRecord* source) {
    for (i32 i = 0; i < kSecureLinkEntries; i++) {
        SecureLinkPeer* peer = entryAt(host, i);
        if (isListed(peer) && peer->ports[stream] == source->port && sameAddress(&peer->address, source)) return peer;
    }
    return nullptr;
}

static bool isListenerAddress(const SecureLinkHost* host, const AddressRecord* address) {
    const AddressRecord* listener = &host->identity->controllingListener;
    return listener->family != 0 && sameAddress(address, listener);
}

// --- Who an entry is: its key, its ports, its proof

// A peer's key never changes: a hello under its id with another key is not its, and is counted as one
// that did not open. False for such a hello.
bool keyUnchanged(SecureLinkHost* host, const SecureLinkPeer* peer, const HelloHeader* hello, u32 stream) {
    if (std::memcmp(peer->publicKey, hello->publicKey, 32) == 0) return true;
    host->unopenedHellos[stream]++;
    return false;
}

// The port a hello proved as the entry's own on its stream (sealed under its keys, or with encryption
// off the device's own): the stream's datagrams go there, and the MAVLink one is the entry's endpoint,
// where its password, its state and its telemetry go.
void setHelloPort(SecureLinkPeer* peer, u32 stream, u16 port) {
    peer->ports[stream] = port;
    if (stream == RelayStreamMavlink) peer->address.port = port;
}

// A hello that asks the streams of its header byte: what it wants, and that it was heard (the entry
// kept alive when keepsAlive; on its stream too when it came from the entry's port there: what goes to
// that port goes while it is heard).
void heardHello(SecureLinkPeer* peer, u8 streams, u32 stream, const AddressRecord* source, u64 now, bool keepsAlive) {
    peer->streamsWanted |= streams;
    if (streams & SecureLinkGrantControl) peer->pending = 1;
    if (peer->userDecision == 0) peer->counter++;
    if (keepsAlive) peer->lastHeardTime = now;
    if (peer->ports[stream] && peer->ports[stream] == source->port) peer->heardTimes[stream] = now;
}

// The hello checks of the frame a hello under the peer's id spends: its own port's on the stream, or the
// one that the other ports of its address share. While it has no port on the stream yet, the port its
// first hello there came from takes its own check: whoever said hello first (a copy of a device's
// hellos across a host restart, from another port of its address), the device's hellos and the copies
// each get a check a frame, so copies that come just ahead of the device's every hello never leave it
// unanswered.
static KeyExchangeBudget* helloChecks(SecureLinkPeer* peer, u32 stream, const AddressRecord* source) {
    if (!peer->ports[stream] && !peer->firstHelloPorts[stream]) peer->firstHelloPorts[stream] = source->port;
    u16 own = peer->ports[stream] ? peer->ports[stream] : peer->firstHelloPorts[stream];
    return own == source->port ? &peer->helloChecks[stream] : &peer->otherPortHelloChecks[stream];
}

// Whether a sealed hello's counter (in the clear, checked with its MAC) is newer than any the entry
// has taken on the stream. A hello from another port than the entry's carries nothing new unless it
// is: a copy of the device's own hello (sent on from another port of its address) is, like a replay,
// no reason to move the entry's port or to check a proof there.
static bool newerThanAnyTaken(const SecureLinkPeer* peer, u32 stream, const u8* data, i64 length) {
    const SecureLinkReplayWindow* window = &peer->windows[stream];
    return !window->started || (length >= kHelloHeader + 8 && readLinkU64(data + kHelloHeader) > window->highest);
}

// A sealed hello from the entry's own port on the stream dropped unchecked over the frame's check (two
// of the device's hellos in one frame, after a stall) leaves its counter, in the clear: a copy of it
// from another port comes later, newer than any the entry has taken, and must not take the check and
// move the port. Only the latest few are kept, and only exact counters match: a forger at the device's
// endpoint cannot hold off every counter of a device that moved to another port.
static void rememberUnchecked(SecureLinkPeer* peer, u32 stream, const u8* data, i64 length) {
    if (length < kHelloHeader + 8) return;
    peer->uncheckedCounters[stream][peer->uncheckedNext[stream] % kSecureLinkUncheckedCounters] =
        readLinkU64(data + kHelloHeader) + 1;
    peer->uncheckedNext[stream] = (peer->uncheckedNext[stream] + 1) % kSecureLinkUncheckedCounters;
}

static bool copiesUnchecked(const SecureLinkPeer* peer, u32 stream, const u8* data, i64 length) {
    if (length < kHelloHeader + 8) return false;
    u64 counter = readLinkU64(data + kHelloHeader) + 1;
    for (u64 unchecked : peer->uncheckedCounters[stream]) {
        if (unchecked && unchecked == counter) return true;
    }
    return false;
}

// The retired record of the peer id and key at the address; null for none.
SecureLinkRetiredId* findRetired(SecureLinkHost* host, u16 peerId, const u8* publicKey, const AddressRecord* address) {
    for (SecureLinkRetiredId& retired : host->retiredIds) {
        if (retired.address.family && retired.peerId == peerId && sameAddress(&retired.address, address) &&
            std::memcmp(retired.publicKey, publicKey, 32) == 0) {
            return &retired;
        }
    }
    return nullptr;
}

// The entry's device started over: it never says hello under the entry's peer id and key again, so a
// hello under them from its address (a neighbour replaying what the device sent) lists nothing. The
// oldest retired id gives way to a new one.
void retirePeerId(SecureLinkHost* host, const SecureLinkPeer* peer) {
    if (!isListed(peer) || findRetired(host, peer->peerId, peer->publicKey, &peer->address)) return;
    SecureLinkRetiredId* retired = &host->retiredIds[host->retiredNext % kSecureLinkRetiredIds];
    host->retiredNext = (host->retiredNext + 1) % kSecureLinkRetiredIds;
    retired->address = peer->address;
    retired->peerId = peer->peerId;
    std::memcpy(retired->publicKey, peer->publicKey, 32);
}

// A hello that would list a new entry under a peer id and key retired at its address is a replay of a
// device's earlier run: counted and dropped, with encryption on or off alike.
bool replaysEarlierRun(SecureLinkHost* host, const HelloHeader* hello, u32 stream) {
    if (!findRetired(host, hello->peerId, hello->publicKey, hello->source)) return false;
    host->retiredHellos[stream]++;
    return true;
}

// A client that started over (a restart, or its connection switched away and back) comes back with a
// fresh key pair and peer id, as a new entry. When a hello of that entry proves the password of an
// entry at its address, it is the device the user gave that password to: the new entry takes the
// earlier one's decision, password and place on the list, and the earlier one leaves. A password
// travels only sealed to its device (with encryption on), and never leaves it, so no other device can
// prove it. A run in the spare place moves to the earlier entry's place, and the spare place is free.
// The entry the run is now.
static SecureLinkPeer* takeOverEarlierEntry(SecureLinkHost* host, SecureLinkPeer* peer, SecureLinkPeer* earlier) {
    peer->userDecision = earlier->userDecision;
    peer->listOrder = earlier->listOrder;
    std::memcpy(peer->password, earlier->password, 8);
    peer->passwordProved = 1;
    peer->counter = 0;
    if (host->controllingPeer == earlier) host->controllingPeer = nullptr;
    retirePeerId(host, earlier);
    *earlier = SecureLinkPeer{};
    if (peer != &host->spare) return peer;
    *earlier = *peer;
    *peer = SecureLinkPeer{};
    return earlier;
}

static SecureLinkPeer* placeOnList(SecureLinkHost* host, const AddressRecord* source, u64 now, bool plain,
                                   bool decided);

// The controlling listener of the host's earlier run came back in the spare place and proved the
// control password: it is granted control and telemetry again, as sendSecureLinkStateUpdates grants it
// on the list, in a place on the list (its address's undecided places do not count: it is decided). It
// stays in the spare place (and gives it up) when no place is free nor any undecided peer of another
// address can give way, or when another device holds the grant of control. The entry it is now.
static SecureLinkPeer* listKeptListener(SecureLinkHost* host, SecureLinkPeer* run, bool plain, u64 now) {
    const u8* controlPassword = host->identity->controllingListenerPassword;
    SecureLinkPeer* place = secureLinkControlGrantee(host) ? nullptr : placeOnList(host, &run->address, now, plain, true);
    if (!place) return run;
    *place = *run;
    *run = SecureLinkPeer{};
    std::memcpy(place->password, controlPassword, 8);
    place->passwordProved = 1;
    place->userDecision = SecureLinkGrantControl | SecureLinkGrantTelemetry;
    place->counter = 0;
    place->listOrder = ++host->listings;
    return place;
}

// A new entry (undecided, holding no password of its own) whose proof counts for what it can serve:
// the password of an entry at its address (the device started over), or at the controlling listener's
// address the control password (the controller kept from the host's earlier run). With encryption off
// a new entry takes a password only on the MAVLink stream: the port it proves it from is where that
// password and the telemetry go from then on. The entry it is now (a run leaves the spare place).
static SecureLinkPeer* takeOverByProof(SecureLinkHost* host, SecureLinkPeer* peer, u32 stream, bool plain,
                                       const u8* proof, u64 now) {
    if (peer->userDecision != 0) return peer;  // its password is drawn on a later frame
    if (plain && stream != RelayStreamMavlink) return peer;
    for (SecureLinkPeer& earlier : host->peers) {
        if (&earlier != peer && isListed(&earlier) && sameAddress(&earlier.address, &peer->address) &&
            provesPassword(host, peer, stream, proof, earlier.password)) {
            return takeOverEarlierEntry(host, peer, &earlier);
        }
    }
    const u8* controlPassword = host->identity->controllingListenerPassword;
    if (!atListener(host, peer) || !provesPassword(host, peer, stream, proof, controlPassword)) {
        // The run in the spare place proved nothing over the nonce it heard there (with encryption on its
        // hello opened under that nonce's keys; with encryption off a run's block comes only after the
        // host's state brought it the nonce): it has had its turn.
        if (peer == &host->spare) host->spareProvedNothing = 1;
        return peer;
    }
    if (peer == &host->spare) return listKeptListener(host, peer, plain, now);
    std::memcpy(peer->password, controlPassword, 8);
    peer->passwordProved = 1;
    return peer;
}

// The hello's block: {16 B control proof, u8 name length, name}. The proof is checked for exactly this
// entry and stream (the host's key, the entry's nonce, the stream): against the entry's own password,
// else as a new entry's. A plain block (encryption off) is read only when it has exactly that form and
// its name no control characters: a hello sealed under an earlier host's keys is not, so sealed bytes
// never become a name. The entry the hello's run is now (one that proved a password leaves the spare
// place).
SecureLinkPeer* readHelloBlock(SecureLinkHost* host, SecureLinkPeer* peer, u32 stream, bool plain, const u8* block,
                               i64 length, u64 now) {
    constexpr i64 kNameAt = kSecureLinkProofBytes + 1;
    if (length < kNameAt) return peer;
    i64 nameLength = block[kSecureLinkProofBytes];
    if (plain) {
        if (length != kNameAt + nameLength) return peer;
        for (i64 i = 0; i < nameLength; i++) {
            if (block[kNameAt + i] < 0x20 || block[kNameAt + i] == 0x7F) return peer;
        }
    }
    if (!checkOwnPassword(host, peer, stream, block)) peer = takeOverByProof(host, peer, stream, plain, block, now);
    if (nameLength > length - kNameAt) nameLength = length - kNameAt;
    if (nameLength > kFixedStringCapacity) nameLength = kFixedStringCapacity;
    FixedString name{};
    std::memcpy(name.text, block + kNameAt, (size_t)nameLength);
    name.length = (u8)nameLength;
    peer->name = name;
    return peer;
}

// --- A place on the list

// The longest silent of the undecided peers that pass the filter.
template <typename Filter>
static SecureLinkPeer* oldestUndecided(SecureLinkHost* host, Filter filter) {
    SecureLinkPeer* oldest = nullptr;
    for (SecureLinkPeer& peer : host->peers) {
        if (!isUndecided(&peer) || !filter(&peer)) continue;
        if (!oldest || peer.lastHeardTime < oldest->lastHeardTime) oldest = &peer;
    }
    return oldest;
}

// Where an address stands: 0 the controlling listener's address, 1 the address of a device the user
// decided on, 2 any other. (Anyone can put undecided peers on the list.)
static u8 addressRank(const SecureLinkHost* host, const AddressRecord* address) {
    if (isListenerAddress(host, address)) return 0;
    for (const SecureLinkPeer& peer : host->peers) {
        if (isListed(&peer) && peer.userDecision != 0 && sameAddress(&peer.address, address)) return 1;
    }
    return 2;
}

// The slot for a new peer. Anyone can say hello, and the host key goes to anyone listed, so finishing
// the key exchange proves nothing: one address holds at most two undecided peers, finished or not,
// and a third from it takes the place of its own longest silent one. A peer that never completed a
// sealed hello keeps its slot only until a newer one needs it; those of the controlling listener's
// address (the device the user granted control, coming back) are not given up for others. Any
// undecided peer gives way once it has been silent for 3 s (a running device says hello every second),
// so a place a device left goes to a waiting one within seconds. A hello from the controlling
// listener's address, or from that of another device the user decided on, finds a place whatever the
// others do: a granted device that started over must get the host key to prove its password, so the
// longest silent undecided peer of a worse placed address gives way to it. A peer the user decided on
// gives way only once it has been gone for kSecureLinkGoneExpiry, and the one granted control never.
// With encryption off (plain) no entry ever completes a sealed hello, and nothing tells a flood from a
// device: an undecided entry that keeps saying hello keeps its place, giving way only once it has been
// silent for 3 s (or to a better placed address), and a new device waits until a place is free.
// Null when nothing can give way. A peer that is decided as it takes the place (decided) is not held to
// its address's undecided places.
static SecureLinkPeer* placeOnList(SecureLinkHost* host, const AddressRecord* source, u64 now, bool plain,
                                   bool decided) {
    auto goneSilent = [&](const SecureLinkPeer* peer) { return silentFor(peer, now) > kSecureLinkPeerSilence; };
    i32 undecidedHere = 0;
    for (const SecureLinkPeer& peer : host->peers) {
        if (isUndecided(&peer) && sameAddress(&peer.address, source)) undecidedHere++;
    }
    SecureLinkPeer* chosen = nullptr;
    if (!decided && undecidedHere >= kSecureLinkUndecidedPerAddress) {
        chosen = oldestUndecided(host, [&](const SecureLinkPeer* peer) {
            return sameAddress(&peer->address, source) && (!plain || goneSilent(peer));
        });
        if (!chosen) return nullptr;  // the address's places are held by devices that say hello
    }
    for (SecureLinkPeer& peer : host->peers) {
        if (chosen) break;
        if (!isListed(&peer)) chosen = &peer;
    }
    if (!chosen) {
        chosen = oldestUndecided(host, [&](const SecureLinkPeer* peer) {
            return !atListener(host, peer) && (plain ? goneSilent(peer) : !peer->verified);
        });
    }
    if (!chosen) {
        chosen = oldestUndecided(host, goneSilent);
    }
    u8 rank = addressRank(host, source);
    if (!chosen && rank < 2) {
        chosen = oldestUndecided(host, [&](const SecureLinkPeer* peer) { return addressRank(host, &peer->address) > rank; });
    }
    // The list never fills with devices that are gone: the one gone longest gives way. A device whose
    // video port is heard is not gone, though only its MAVLink port keeps it heard on the list.
    for (SecureLinkPeer& peer : host->peers) {
        if (chosen && chosen->userDecision == 0) break;  // an undecided one or a free place was found
        bool gone = isListed(&peer) && peer.userDecision != 0 && !(peer.userDecision & SecureLinkGrantControl) &&
                    host->controllingPeer != &peer && silentFor(&peer, now) > kSecureLinkGoneExpiry &&
                    !heardOn(&peer, RelayStreamVideo, now);
        if (gone && (!chosen || peer.lastHeardTime < chosen->lastHeardTime)) chosen = &peer;
    }
    if (chosen && host->controllingPeer == chosen) host->controllingPeer = nullptr;
    return chosen;
}

SecureLinkPeer* freePeer(SecureLinkHost* host, const AddressRecord* source, u64 now, bool plain) {
    return placeOnList(host, source, now, plain, false);
}

// A new run that found no place on the list stands in the spare place, when it is free, if its address
// is the controlling listener's or that of a device the user decided on: a device there that starts
// over on a full list (its app started again, or its socket moved) must hear the host key and its
// entry's nonce to prove its password, and then takes its entry back. Nothing of the entry goes to it
// before that, and a flood of new peer ids from its address takes no place on the list. The place goes
// to each run that can prove in turn: a run whose hello there proved nothing gives it up at once to
// another that asks, and a run that gave it up unproved is not let in again for
// kSecureLinkPeerSilence from its endpoint or under its peer id (a device that cannot prove says hello
// again the moment the place is free, also under a new peer id once it starts over). Null when the place
// is not for the run or is held.
SecureLinkPeer* sparePlace(SecureLinkHost* host, const AddressRecord* source, u16 peerId, u64 now) {
    if (addressRank(host, source) > 1) return nullptr;
    freeSparePlace(host, now, host->spareProvedNothing);
    if (isListed(&host->spare)) return nullptr;
    for (const SecureLinkUnprovedRun& run : host->unprovedRuns) {
        if (run.time && sameAddress(&run.address, source) &&
            (run.peerId == peerId || run.address.port == source->port) && now >= run.time &&
            now - run.time <= kSecureLinkPeerSilence) {
            return nullptr;
        }
    }
    return &host->spare;
}

// A run that has held the spare place for kSecureLinkPeerSilence and kSecureLinkSpareFrames host frames
// without proving a password gives it up (and, with giveWay, one whose hello proved nothing gives it up
// to another that asks), counted, and is remembered: the next new run of a decided device's address may
// be the device. A device that proves takes it within a second of its first hello, and on a slow host
// its proof is read two frames after the take.
void freeSparePlace(SecureLinkHost* host, u64 now, bool giveWay) {
    SecureLinkPeer* spare = &host->spare;
    bool expired = host->spareFrames >= kSecureLinkSpareFrames && now > spare->sessionTime &&
                   now - spare->sessionTime > kSecureLinkPeerSilence;
    if (!isListed(spare) || (!expired && !giveWay)) return;
    SecureLinkUnprovedRun* run = &host->unprovedRuns[host->unprovedNext % kSecureLinkUnprovedRuns];
    host->unprovedNext = (host->unprovedNext + 1) % kSecureLinkUnprovedRuns;
    *run = SecureLinkUnprovedRun{spare->address, spare->peerId, now ? now : 1};
    *spare = SecureLinkPeer{};
    host->spareRunsUnproved++;
}

// A new entry in the place at the hello's source: below every listed one.
void listNewEntry(SecureLinkHost* host, SecureLinkPeer* place, const AddressRecord* source) {
    if (place == &host->spare) host->spareFrames = host->spareProvedNothing = 0;
    *place = SecureLinkPeer{};
    place->address = *source;
    place->listOrder = ++host->listings;
}

// --- Entries that leave

// Whether the entries share a port on a stream; with anyPort, also the port of the earlier one's first
// hello (an entry listed by a key exchange has no stream's port until it completes a sealed hello).
static bool sharePort(const SecureLinkPeer* earlier, const SecureLinkPeer* later, bool anyPort) {
    for (u32 stream = 0; stream < kSecureLinkStreams; stream++) {
        u16 port = later->ports[stream];
        if (port && (port == earlier->ports[stream] || (anyPort && port == earlier->address.port))) return true;
    }
    return false;
}

// --- Hellos with encryption on: a peer not yet listed waits for a key exchange

// The time of the address's latest key exchange on the stream; 0 for none remembered.
static u64 servedTime(const SecureLinkHost* host, u32 stream, const AddressRecord* address) {
    for (const SecureLinkServedAddress& served : host->servedAddresses[stream]) {
        if (served.time && sameAddress(&served.address, address)) return served.time;
    }
    return 0;
}

static void rememberServed(SecureLinkHost* host, u32 stream, const AddressRecord* address, u64 now) {
    SecureLinkServedAddress* entry = nullptr;
    for (SecureLinkServedAddress& served : host->servedAddresses[stream]) {
        if (served.time && sameAddress(&served.address, address)) {
            entry = &served;
            break;
        }
        if (!entry || served.time < entry->time) entry = &served;
    }
    entry->address = *address;
    entry->time = now ? now : 1;
}

// The key exchange for one waiting hello: its peer listed (or, listed with encryption off, keyed) with a
// fresh host nonce, and answered with the host key.
static void exchangeKeys(SecureLinkHost* host, u32 stream, const SecureLinkWaitingHello* hello, u64 now) {
    SecureLinkPeer* peer = findPeer(host, hello->peerId, &hello->source);
    if (peer && std::memcmp(peer->publicKey, hello->publicKey, 32) != 0) return;
    if (!peer || !peer->keys.ready) {
        SecureLinkPeer* place = nullptr;
        if (!peer && !(place = freePeer(host, &hello->source, now, false)) &&
            !(place = sparePlace(host, &hello->source, hello->peerId, now))) {
            host->hellosWithoutPlace[stream]++;  // the client says hello again a second later
            return;
        }
        if (!takeKeyExchange(&host->keyExchanges[stream], now, kSecureLinkKeyExchangesPerFrame)) {
            host->hellosOverKeyExchanges[stream]++;
            return;
        }
        u8 nonce[kSecureLinkHostNonceBytes];
        SecureLinkKeys keys;
        if (getRandomBytes(nonce, sizeof(nonce)) != 0) return;  // the client says hello again
        if (!deriveSecureLinkKeys(&keys, host->identity->privateKey, hello->publicKey, host->identity->publicKey,
                                  hello->publicKey, nonce)) {
            return;  // a point of small order: no link can be keyed with it
        }
        if (place) {
            peer = place;
            listNewEntry(host, peer, &hello->source);
            peer->peerId = hello->peerId;
            std::memcpy(peer->publicKey, hello->publicKey, 32);
            peer->sessionTime = now ? now : 1;
        }
        std::memcpy(peer->hostNonce, nonce, sizeof(nonce));
        peer->keys = keys;
        heardHello(peer, hello->streams, stream, &hello->source, now, true);
        rememberServed(host, stream, &hello->source, now);
    }
    answerHello(host, stream, hello->peerId, &hello->source);
}

// A hello under a listed entry's id that did not open under its keys: a header alone (a client that
// holds no key on this stream yet), or one sealed under other keys (only that is counted as not
// opened). An entry listed while encryption was off waits for a key exchange; one sealed under other
// keys, which may hold an earlier host's key or entry, hears the host key; a header alone from another
// port than the stream's proven one is a replay and changes nothing, else it is answered and heard.
static SecureLinkPeer* unsealedHello(SecureLinkHost* host, SecureLinkPeer* peer, u32 stream, const HelloHeader* hello,
                              bool sealedPart, u64 now) {
    u16 port = hello->source->port;
    if (sealedPart) host->unopenedHellos[stream]++;
    if (!peer->keys.ready) {  // listed while encryption was off: its keys wait for a key exchange
        if (peer->ports[stream] == port) peer->lastHeardTime = peer->heardTimes[stream] = now;
        waitForKeyExchange(host, stream, hello->peerId, hello->publicKey, hello->streams, hello->source);
        return nullptr;
    }
    if (sealedPart) {  // sealed under other keys
        answerHello(host, stream, hello->peerId, hello->source);
        return nullptr;
    }
    if (peer->ports[stream] && peer->ports[stream] != port) return nullptr;  // a header replayed
    answerHello(host, stream, hello->peerId, hello->source);
    heardHello(peer, hello->streams, stream, hello->source, now, true);
    return peer;
}

// With encryption on, a hello from a peer not yet listed waits for a key exchange and nothing in it is
// read (nothing sealed for an earlier entry opens in a new one). A listed entry's hello is opened under
// its keys, one checked a frame and stream: anyone can list itself and then send hellos under its id,
// and the id and key travel in the clear, so hellos under them from other ports of the address share a
// check of their own, and the hello from the entry's own port is checked whatever else comes. Only a
// hello sealed under the entry's keys sets a stream's port: anyone on the address can replay the
// header from another port.
static SecureLinkPeer* receiveSealedHello(SecureLinkHost* host, const SocketResult* datagram, u32 stream, u64 now,
                                   SecureLinkReceived* out) {
    u8* data = datagram->data;
    i64 length = datagram->length;
    HelloHeader hello = helloHeader(datagram);
    SecureLinkPeer* peer = findPeer(host, hello.peerId, hello.source);
    if (!peer && replaysEarlierRun(host, &hello, stream)) return nullptr;
    if (!peer) {
        host->unlistedHellos[stream]++;
        if (!waitForKeyExchange(host, stream, hello.peerId, hello.publicKey, hello.streams, hello.source)) {
            host->hellosOverKeyExchanges[stream]++;
            out->limited = 1;
        }
        return nullptr;
    }
    if (!keyUnchanged(host, peer, &hello, stream)) return nullptr;
    u8* block = nullptr;
    i64 blockLength = 0;
    u64 counter = 0;
    bool sealed = false;
    bool otherPort = peer->ports[stream] && peer->ports[stream] != hello.source->port;
    if (length > kHelloHeader && otherPort &&
        (!newerThanAnyTaken(peer, stream, data, length) || copiesUnchecked(peer, stream, data, length))) {
        return unsealedHello(host, peer, stream, &hello, true, now);  // nothing costly: as a replay would
    }
    if (length > kHelloHeader) {
        if (!takeKeyExchange(helloChecks(peer, stream, hello.source), now, 1)) {
            host->hellosOverEntryChecks[stream]++;
            if (peer->ports[stream] == hello.source->port) rememberUnchecked(peer, stream, data, length);
            return nullptr;
        }
        out->costly = 1;
        sealed = openSecureLinkPart(data, length, kHelloHeader, (u8)stream, &peer->keys, &peer->windows[stream], &block,
                                    &blockLength, &counter);
    }
    if (!sealed) return unsealedHello(host, peer, stream, &hello, length > kHelloHeader, now);
    acceptReplayCounter(&peer->windows[stream], counter);
    peer->verified = 1;
    setHelloPort(peer, stream, hello.source->port);
    heardHello(peer, hello.streams, stream, hello.source, now, true);
    return readHelloBlock(host, peer, stream, false, block, blockLength, now);
}


SecureLinkPeer* findPeer(SecureLinkHost* host, u16 peerId, const AddressRecord* source) {
    for (i32 i = 0; i < kSecureLinkEntries; i++) {
        SecureLinkPeer* peer = entryAt(host, i);
        if (isListed(peer) && peer->peerId == peerId && sameAddress(&peer->address, source)) return peer;
    }
    return nullptr;
}

bool atListener(const SecureLinkHost* host, const SecureLinkPeer* peer) {
    return isListenerAddress(host, &peer->address);
}

// One hello an address; when the room is full, the latest of the worst placed addresses gives way to a
// better placed one. Nothing costly: a hello dropped here costs what any datagram does.
bool waitForKeyExchange(SecureLinkHost* host, u32 stream, u16 peerId, const u8* publicKey, u8 streams,
                        const AddressRecord* source) {
    SecureLinkWaitingHello* waiting = host->waitingHellos[stream];
    i32* count = &host->waitingHelloCount[stream];
    for (i32 i = 0; i < *count; i++) {
        if (sameAddress(&waiting[i].source, source)) {
            waiting[i].repeats++;
            return false;
        }
    }
    u8 rank = addressRank(host, source);
    if (*count == kSecureLinkKeyExchangeWaiting) {
        i32 worst = -1;
        for (i32 i = 0; i < *count; i++) {
            if (waiting[i].rank > rank && (worst < 0 || waiting[i].rank >= waiting[worst].rank)) worst = i;
        }
        if (worst < 0) return false;
        host->hellosOverKeyExchanges[stream]++;
        for (i32 i = worst; i + 1 < *count; i++) waiting[i] = waiting[i + 1];
        (*count)--;
    }
    SecureLinkWaitingHello* kept = &waiting[(*count)++];
    kept->source = *source;
    kept->peerId = peerId;
    std::memcpy(kept->publicKey, publicKey, 32);
    kept->streams = streams;
    kept->rank = rank;
    kept->repeats = 0;
    return true;
}

SecureLinkPeer* receiveHello(SecureLinkHost* host, const SocketResult* datagram, u32 stream, bool plain, u64 now,
                             SecureLinkReceived* out) {
    if (datagram->length < kHelloHeader) {
        out->refused = 1;
        return nullptr;
    }
    if (plain) return receivePlainHello(host, datagram, stream, now, out);
    return receiveSealedHello(host, datagram, stream, now, out);
}

// Only the peer in control sends what the host uses, and only from its MAVLink port.
bool fromControllersMavlinkPort(const SecureLinkHost* host, const AddressRecord* source, u32 stream) {
    const SecureLinkPeer* controlling = host->controllingPeer;
    return stream == RelayStreamMavlink && controlling && controlling->ports[stream] == source->port &&
           sameAddress(&controlling->address, source);
}

// One entry a device: a device that started over and proved nothing is a later entry that completed a
// sealed hello at the address and port of an earlier one; one that started over and proved its
// password is an entry that proved it at the address and port of one that never completed a sealed
// hello (whichever was listed first: the one that proved may have taken over an entry listed before
// both). An undecided earlier entry leaves once it has been silent for 3 s (a device that is still
// running says hello every second), and the device is asked about anew; its peer id is retired. Whoever
// forges that endpoint can list such a later entry, and can keep the device's own hellos from being
// checked, so an entry the user decided on never leaves here: it leaves when a later entry proves its
// password (the device started over) or, once it has been gone for kSecureLinkGoneExpiry, when a new
// device needs its place.
void dropEarlierSessions(SecureLinkHost* host, u64 now) {
    for (SecureLinkPeer& earlier : host->peers) {
        if (!isUndecided(&earlier) || silentFor(&earlier, now) <= kSecureLinkPeerSilence) continue;
        for (const SecureLinkPeer& later : host->peers) {
            if (&later == &earlier || !isListed(&later) || !sameAddress(&later.address, &earlier.address)) continue;
            bool laterSession =
                later.verified && later.listOrder >= earlier.listOrder && sharePort(&earlier, &later, false);
            bool provedBeside = !earlier.verified && later.passwordProved && sharePort(&earlier, &later, true);
            if (!laterSession && !provedBeside) continue;
            if (host->controllingPeer == &earlier) host->controllingPeer = nullptr;
            retirePeerId(host, &earlier);
            earlier = SecureLinkPeer{};
            break;
        }
    }
}

void exchangeKeysWithNewSecureLinkPeers(SecureLinkHost* host, u32 stream, const Preferences* preferences, u64 now) {
    if (!host || !host->identity || stream >= kSecureLinkStreams) return;
    i32 count = host->waitingHelloCount[stream];
    host->waitingHelloCount[stream] = 0;
    if (encryptionOff(preferences)) return;  // switched off meanwhile: they are listed as they say hello again
    // Best placed first; among equals the address served longest ago, then the one that sent fewer
    // hellos in the drain (a flood asks first in every frame), then the one that asked first.
    SecureLinkWaitingHello* waiting = host->waitingHellos[stream];
    u64 served[kSecureLinkKeyExchangeWaiting];
    bool done[kSecureLinkKeyExchangeWaiting] = {};
    for (i32 i = 0; i < count; i++) served[i] = servedTime(host, stream, &waiting[i].source);
    for (i32 turn = 0; turn < count; turn++) {
        i32 next = -1;
        for (i32 i = 0; i < count; i++) {
            if (done[i]) continue;
            bool equal = waiting[i].rank == waiting[next < 0 ? i : next].rank;
            if (next < 0 || waiting[i].rank < waiting[next].rank || (equal && served[i] < served[next]) ||
                (equal && served[i] == served[next] && waiting[i].repeats < waiting[next].repeats)) {
                next = i;
            }
        }
        done[next] = true;
        exchangeKeys(host, stream, &waiting[next], now);
    }
}

bool isSecureLinkPeerAddress(const SecureLinkHost* host, const AddressRecord* address) {
    if (!host || !address) return false;
    for (const SecureLinkPeer& peer : host->peers) {
        if (isListed(&peer) && sameAddress(&peer.address, address)) return true;
    }
    return false;
}

void dropUndecidedSecureLinkPeers(SecureLinkHost* host, u64 silence, u64 now) {
    if (!host) return;
    if (silence == 0) host->spare = SecureLinkPeer{};
    for (SecureLinkPeer& peer : host->peers) {
        bool silent = silence == 0 || (now > peer.lastHeardTime && now - peer.lastHeardTime > silence);
        if (isListed(&peer) && peer.userDecision == 0 && silent) {
            if (host->controllingPeer == &peer) host->controllingPeer = nullptr;
            peer = SecureLinkPeer{};
        }
    }
}
