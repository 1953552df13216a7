// The relay host side of the encrypted relay link: the peer table, hellos, keys, grants, the control
// password and the relaying of packets to the peers.
#include "Core/Preferences.h"
#include "Crypto/Hmac.h"
#include "Network/Address.h"
#include "Network/SecureLinkFormat.h"
#include "Network/Socket.h"
#include "Platform/Input.h"
#include "Platform/Random.h"

#include <cstring>

namespace {

constexpr u64 kIdlePeerReplaceTime = 10000000;

bool isListed(const SecureLinkPeer* peer) { return peer->address.family != 0; }

bool encryptionOff(const Preferences* preferences) { return preferences && preferences->relayModeDisableEncryption; }

bool holdsPassword(const u8* password) { return readLinkU64(password) != 0; }

// A fresh control password: what any earlier controller holds proves nothing from now on. When the
// system gives no random bytes the password is none (all zero, which nobody proves) until a later
// frame draws one.
void drawControlPassword(RelayHostIdentity* identity) {
    if (getRandomBytes(identity->controllingListenerPassword, 8) != 0) {
        std::memset(identity->controllingListenerPassword, 0, 8);
    }
}

// The peer holds this password from now on: its device hears it, and proves it, anew.
void givePassword(SecureLinkPeer* peer, const u8* password) {
    std::memcpy(peer->password, password, 8);
    peer->passwordProved = 0;
    peer->passwordSentTime = 0;
}

// A password of the peer's own, for the grants the user gave it (none while the system gives no
// random bytes: a later frame draws it).
void drawPeerPassword(SecureLinkPeer* peer) {
    u8 password[8];
    if (getRandomBytes(password, 8) != 0) std::memset(password, 0, 8);
    givePassword(peer, password);
}

// The peer granted control holds the control password; every other peer the user granted something
// holds one of its own (drawn here when it could not be drawn before).
void keepPeerPassword(const RelayHostIdentity* identity, SecureLinkPeer* peer) {
    if (peer->userDecision & SecureLinkGrantControl) {
        if (std::memcmp(peer->password, identity->controllingListenerPassword, 8) != 0) {
            givePassword(peer, identity->controllingListenerPassword);
        }
    } else if (peer->userDecision != 0 && !holdsPassword(peer->password)) {
        drawPeerPassword(peer);
    }
}

void keepPasswords(SecureLinkHost* host) {
    RelayHostIdentity* identity = host->identity;
    if (!holdsPassword(identity->controllingListenerPassword)) drawControlPassword(identity);
    for (SecureLinkPeer& peer : host->peers) {
        if (isListed(&peer)) keepPeerPassword(identity, &peer);
    }
}

u32 streamGrant(u32 stream) { return stream == RelayStreamVideo ? SecureLinkGrantVideo : SecureLinkGrantTelemetry; }

AddressRecord peerDestination(const SecureLinkPeer* peer, u32 stream) {
    AddressRecord destination = peer->address;
    destination.port = peer->ports[stream];
    return destination;
}

SecureLinkPeer* findPeer(SecureLinkHost* host, u16 peerId, const AddressRecord* source) {
    for (SecureLinkPeer& peer : host->peers) {
        if (isListed(&peer) && peer.peerId == peerId && sameAddress(&peer.address, source)) return &peer;
    }
    return nullptr;
}

bool isUndecided(const SecureLinkPeer* peer) { return isListed(peer) && peer->userDecision == 0; }

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
// hello under them from its address (a neighbour replaying what the device sent) lists nothing.
void retirePeerId(SecureLinkHost* host, const SecureLinkPeer* peer) {
    if (!isListed(peer) || findRetired(host, peer->peerId, peer->publicKey, &peer->address)) return;
    SecureLinkRetiredId* retired = &host->retiredIds[host->retiredNext % kSecureLinkRetiredIds];
    host->retiredNext = (host->retiredNext + 1) % kSecureLinkRetiredIds;
    retired->address = peer->address;
    retired->peerId = peer->peerId;
    std::memcpy(retired->publicKey, peer->publicKey, 32);
}

u64 silentFor(const SecureLinkPeer* peer, u64 now) { return now > peer->lastHeardTime ? now - peer->lastHeardTime : 0; }

bool atListener(const SecureLinkHost* host, const SecureLinkPeer* peer) {
    const AddressRecord* listener = &host->identity->controllingListener;
    return listener->family != 0 && sameAddress(&peer->address, listener);
}

bool isListenerAddress(const SecureLinkHost* host, const AddressRecord* address) {
    const AddressRecord* listener = &host->identity->controllingListener;
    return listener->family != 0 && sameAddress(address, listener);
}

// The longest silent of the undecided peers that pass the filter.
template <typename Filter>
SecureLinkPeer* oldestUndecided(SecureLinkHost* host, Filter filter) {
    SecureLinkPeer* oldest = nullptr;
    for (SecureLinkPeer& peer : host->peers) {
        if (!isUndecided(&peer) || !filter(&peer)) continue;
        if (!oldest || peer.lastHeardTime < oldest->lastHeardTime) oldest = &peer;
    }
    return oldest;
}

// Where an address stands: 0 the controlling listener's address, 1 the address of a device the user
// decided on, 2 any other. (Anyone can put undecided peers on the list.)
u8 addressRank(const SecureLinkHost* host, const AddressRecord* address) {
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
// address (the device the user granted control, coming back) are not given up for others. An
// undecided peer that did complete one gives way after 10 s of silence. A hello from the controlling
// listener's address, or from that of another device the user decided on, finds a place whatever the
// others do: a granted device that started over must get the host key to prove its password, so the
// longest silent undecided peer of a worse placed address gives way to it. A peer the user decided on
// gives way only once it has been gone for kSecureLinkGoneExpiry, and the one granted control never.
// With encryption off (plain) no entry ever completes a sealed hello, and nothing tells a flood from a
// device: an undecided entry that keeps saying hello keeps its place, giving way only once it has been
// silent for 3 s (or to a better placed address), and a new device waits until a place is free.
// Null when nothing can give way.
SecureLinkPeer* freePeer(SecureLinkHost* host, const AddressRecord* source, u64 now, bool plain) {
    auto goneSilent = [&](const SecureLinkPeer* peer) { return silentFor(peer, now) > kSecureLinkPeerSilence; };
    i32 undecidedHere = 0;
    for (const SecureLinkPeer& peer : host->peers) {
        if (isUndecided(&peer) && sameAddress(&peer.address, source)) undecidedHere++;
    }
    SecureLinkPeer* chosen = nullptr;
    if (undecidedHere >= kSecureLinkUndecidedPerAddress) {
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
        chosen = oldestUndecided(host, [&](const SecureLinkPeer* peer) { return now - peer->lastHeardTime > kIdlePeerReplaceTime; });
    }
    u8 rank = addressRank(host, source);
    if (!chosen && rank < 2) {
        chosen = oldestUndecided(host, [&](const SecureLinkPeer* peer) { return addressRank(host, &peer->address) > rank; });
    }
    // The list never fills with devices that are gone: the one gone longest gives way.
    for (SecureLinkPeer& peer : host->peers) {
        if (chosen && chosen->userDecision == 0) break;  // an undecided one or a free place was found
        bool gone = isListed(&peer) && peer.userDecision != 0 && !(peer.userDecision & SecureLinkGrantControl) &&
                    host->controllingPeer != &peer && silentFor(&peer, now) > kSecureLinkGoneExpiry;
        if (gone && (!chosen || peer.lastHeardTime < chosen->lastHeardTime)) chosen = &peer;
    }
    if (chosen && host->controllingPeer == chosen) host->controllingPeer = nullptr;
    return chosen;
}

// A client that started over (a restart, or its connection switched away and back) comes back with a
// fresh key pair and peer id, as a new entry. When a hello of that entry proves the password of an
// entry at its address, it is the device the user gave that password to: the new entry takes the
// earlier one's decision, password and place on the list, and the earlier one leaves. A password
// travels only sealed to its device (with encryption on), and never leaves it, so no other device can
// prove it.
void takeOverEarlierEntry(SecureLinkHost* host, SecureLinkPeer* peer, SecureLinkPeer* earlier) {
    peer->userDecision = earlier->userDecision;
    peer->listOrder = earlier->listOrder;
    std::memcpy(peer->password, earlier->password, 8);
    peer->passwordProved = 1;
    peer->counter = 0;
    if (host->controllingPeer == earlier) host->controllingPeer = nullptr;
    retirePeerId(host, earlier);
    *earlier = SecureLinkPeer{};
}

// Whether the proof is the one of the password for the peer's session on the stream.
bool provesPassword(const SecureLinkHost* host, const SecureLinkPeer* peer, u32 stream, const u8* proof,
                    const u8* password) {
    if (!holdsPassword(password)) return false;
    u8 expected[kSecureLinkProofBytes];
    secureLinkControlProof(expected, password, host->identity->publicKey, peer->publicKey, peer->hostNonce, (u8)stream);
    return constantTimeEqual(expected, proof, kSecureLinkProofBytes);
}

// A hello's proof counts only for what the entry can serve: its own password (a failure on the MAVLink
// stream, where the password goes, takes the proof back and has the password sent again); for a new
// entry, the password of an entry at its address (the device started over), or at the controlling
// listener's address the control password (the controller kept from the host's earlier run). With
// encryption off a new entry takes a password only on the MAVLink stream: the port it proves it from is
// where that password and the telemetry go from then on.
void checkProof(SecureLinkHost* host, SecureLinkPeer* peer, u32 stream, bool plain, const u8* proof) {
    if (holdsPassword(peer->password)) {
        if (provesPassword(host, peer, stream, proof, peer->password)) {
            peer->passwordProved = 1;
        } else if (stream == RelayStreamMavlink) {
            peer->passwordProved = 0;
            peer->passwordSentTime = 0;
        }
        return;
    }
    if (peer->userDecision != 0) return;  // its password is drawn on a later frame
    if (plain && stream != RelayStreamMavlink) return;
    for (SecureLinkPeer& earlier : host->peers) {
        if (&earlier != peer && isListed(&earlier) && sameAddress(&earlier.address, &peer->address) &&
            provesPassword(host, peer, stream, proof, earlier.password)) {
            takeOverEarlierEntry(host, peer, &earlier);
            return;
        }
    }
    const u8* controlPassword = host->identity->controllingListenerPassword;
    if (atListener(host, peer) && provesPassword(host, peer, stream, proof, controlPassword)) {
        std::memcpy(peer->password, controlPassword, 8);
        peer->passwordProved = 1;
    }
}

// Queues one inner packet for a peer on a stream: sealed, or plain when encryption is off.
void sendToPeer(SecureLinkPeer* peer, Socket* socket, u32 stream, const u8* inner, i64 innerLength, bool plain) {
    if (!peer->ports[stream] || (!plain && !peer->keys.ready)) return;
    AddressRecord destination = peerDestination(peer, stream);
    ByteWriter* slot = queueSocketPacket(&destination, socket);
    if (!slot) return;
    if (plain) {
        appendBytes(inner, innerLength, slot);
        return;
    }
    appendU8(SecureLinkFromHost, slot);
    appendU16Le(peer->peerId, slot);
    appendU8((u8)stream, slot);
    if (sealSecureLinkPart(slot, SecureLinkFromHost, (u8)stream, peer->sendCounters[stream], &peer->keys, inner,
                           innerLength)) {
        peer->sendCounters[stream]++;
    } else {
        slot->length = 0;  // too long to seal: sent empty rather than plain
    }
}

// The hello's block: {16 B control proof, u8 name length, name}. The proof is checked for exactly this
// entry and stream (the host's key, the entry's nonce, the stream; see checkProof). A plain block
// (encryption off) is read only when it has exactly that form and its name no control characters: a
// hello sealed under an earlier host's keys is not, so sealed bytes never become a name.
void readHelloBlock(SecureLinkHost* host, SecureLinkPeer* peer, u32 stream, bool plain, const u8* block,
                    i64 length) {
    constexpr i64 kNameAt = kSecureLinkProofBytes + 1;
    if (length < kNameAt) return;
    i64 nameLength = block[kSecureLinkProofBytes];
    if (plain) {
        if (length != kNameAt + nameLength) return;
        for (i64 i = 0; i < nameLength; i++) {
            if (block[kNameAt + i] < 0x20 || block[kNameAt + i] == 0x7F) return;
        }
    }
    checkProof(host, peer, stream, plain, block);
    if (nameLength > length - kNameAt) nameLength = length - kNameAt;
    if (nameLength > kFixedStringCapacity) nameLength = kFixedStringCapacity;
    FixedString name{};
    std::memcpy(name.text, block + kNameAt, (size_t)nameLength);
    name.length = (u8)nameLength;
    peer->name = name;
}

// The host key for the port a hello came from, once a frame for each port and peer id; past
// kSecureLinkKeyAnswers the client is left to say hello again.
void answerHello(SecureLinkHost* host, u32 stream, u16 peerId, const AddressRecord* source) {
    SecureLinkKeyAnswer* answers = host->keyAnswers[stream];
    i32* count = &host->keyAnswerCount[stream];
    for (i32 i = 0; i < *count; i++) {
        if (answers[i].peerId == peerId && sameEndpoint(&answers[i].destination, source)) return;
    }
    if (*count < kSecureLinkKeyAnswers) answers[(*count)++] = SecureLinkKeyAnswer{*source, peerId};
}

void appendHostKey(const SecureLinkHost* host, const SecureLinkPeer* peer, ByteWriter* slot) {
    appendU8(SecureLinkHostKey, slot);
    appendU16Le(peer->peerId, slot);
    appendBytes(host->identity->publicKey, 32, slot);
    appendBytes(peer->hostNonce, kSecureLinkHostNonceBytes, slot);
}

// The time of the address's latest key exchange on the stream; 0 for none remembered.
u64 servedTime(const SecureLinkHost* host, u32 stream, const AddressRecord* address) {
    for (const SecureLinkServedAddress& served : host->servedAddresses[stream]) {
        if (served.time && sameAddress(&served.address, address)) return served.time;
    }
    return 0;
}

void rememberServed(SecureLinkHost* host, u32 stream, const AddressRecord* address, u64 now) {
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

// Keeps a hello for the key exchanges at the end of the drain: one an address; when the room is full,
// the latest of the worst placed addresses gives way to a better placed one. Nothing costly: a hello
// dropped here costs what any datagram does. False when it is dropped.
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

// A hello that asks the streams of its header byte: what it wants, and that it was heard.
void heardHello(SecureLinkPeer* peer, u8 streams, u64 now) {
    peer->streamsWanted |= streams;
    if (streams & SecureLinkGrantControl) peer->pending = 1;
    if (peer->userDecision == 0) peer->counter++;
    peer->lastHeardTime = now;
}

// The key exchange for one waiting hello: its peer listed (or, listed with encryption off, keyed) with a
// fresh host nonce, and answered with the host key.
void exchangeKeys(SecureLinkHost* host, u32 stream, const SecureLinkWaitingHello* hello, u64 now) {
    SecureLinkPeer* peer = findPeer(host, hello->peerId, &hello->source);
    if (peer && std::memcmp(peer->publicKey, hello->publicKey, 32) != 0) return;
    if (!peer || !peer->keys.ready) {
        SecureLinkPeer* place = nullptr;
        if (!peer && !(place = freePeer(host, &hello->source, now, false))) {
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
            *peer = SecureLinkPeer{};
            peer->address = hello->source;
            peer->listOrder = ++host->listings;
            peer->peerId = hello->peerId;
            std::memcpy(peer->publicKey, hello->publicKey, 32);
            peer->sessionTime = now ? now : 1;
        }
        std::memcpy(peer->hostNonce, nonce, sizeof(nonce));
        peer->keys = keys;
        heardHello(peer, hello->streams, now);
        rememberServed(host, stream, &hello->source, now);
    }
    answerHello(host, stream, hello->peerId, &hello->source);
}

// The hello checks of the frame a hello under the peer's id spends: its own port's on the stream, or the
// one that the other ports of its address share (also while it has no port on the stream yet).
KeyExchangeBudget* helloChecks(SecureLinkPeer* peer, u32 stream, const AddressRecord* source) {
    bool ownPort = peer->ports[stream] && peer->ports[stream] == source->port;
    return ownPort ? &peer->helloChecks[stream] : &peer->otherPortHelloChecks[stream];
}

// The listed peer at the endpoint a hello came from on the stream (its address and that stream's
// port); null for none.
SecureLinkPeer* peerAtEndpoint(SecureLinkHost* host, u32 stream, const AddressRecord* source) {
    for (SecureLinkPeer& peer : host->peers) {
        if (isListed(&peer) && peer.ports[stream] == source->port && sameAddress(&peer.address, source)) return &peer;
    }
    return nullptr;
}

// With encryption off no key proves who a peer is: a device is its endpoint, and its MAVLink endpoint
// (its address and MAVLink port) is where its password, its state and its telemetry go. A peer not yet
// listed is listed at once when it finds a place, with a fresh host nonce (sent with the host's state,
// for the proof of the password); a hello under another peer id from a listed entry's MAVLink endpoint
// is that device started over, and it keeps its one entry and the user's decision, while control
// waits for a new proof. A start-over is taken from nowhere else: a hello under a new peer id from an
// entry's video endpoint, or from any other port, is a new device's. A hello sets a stream's port the
// entry has none of yet; one under the entry's id from another port of its address is not the
// device's and changes nothing, except on the video stream the first hello of a new run within
// kSecureLinkNewRunWindow of its start-over (its new run may say hello there from a new socket). An
// entry its new run was listed under apart, from the video stream first, joins it when the new run's
// hello comes from the entry's MAVLink endpoint, and gives it its video port, never a MAVLink port.
// A hello under a peer id and key that a device of the address gave up by starting over lists nothing.
SecureLinkPeer* receivePlainHello(SecureLinkHost* host, const SocketResult* datagram, u32 stream, u64 now,
                                  SecureLinkReceived* out) {
    const u8* data = datagram->data;
    i64 length = datagram->length;
    u16 peerId = readLinkU16(data + 1);
    const u8* publicKey = data + 3;
    u8 streams = data[35];
    const AddressRecord* source = &datagram->source;
    SecureLinkPeer* peer = findPeer(host, peerId, source);
    // The new run's hello on the video stream came first and was listed apart: the entry whose MAVLink
    // endpoint this is is the device, starting over under that peer id.
    SecureLinkPeer* listedApart = nullptr;
    if (peer && stream == RelayStreamMavlink && peer->userDecision == 0 &&
        std::memcmp(peer->publicKey, publicKey, 32) == 0) {
        SecureLinkPeer* device = peerAtEndpoint(host, stream, source);
        if (device && device != peer) {
            listedApart = peer;
            peer = nullptr;
        }
    }
    bool newRunPort = peer && stream == RelayStreamVideo && (peer->newRunPorts >> stream & 1) &&
                      now - peer->sessionTime < kSecureLinkNewRunWindow;
    if (peer && peer->ports[stream] && peer->ports[stream] != source->port && !newRunPort) {
        host->hellosFromOtherPorts[stream]++;
        return nullptr;
    }
    if (peer && std::memcmp(peer->publicKey, publicKey, 32) != 0) {
        host->unopenedHellos[stream]++;  // a peer's key never changes
        return nullptr;
    }
    u8 nonce[kSecureLinkHostNonceBytes] = {};
    bool session = !peer;  // a new session: listed now, or its device started over
    SecureLinkPeer* place = nullptr;
    if (!peer) {
        // Each costs a nonce drawn: a device starts over at most once a second, and new devices are
        // listed within the frame's key exchanges (a real client says hello again a second later).
        if (stream == RelayStreamMavlink) peer = peerAtEndpoint(host, stream, source);
        if (peer && peer->sessionTime && now - peer->sessionTime < kSecureLinkStartOverInterval) {
            host->hellosOverEntryChecks[stream]++;
            return nullptr;
        }
        if (!peer) {
            if (findRetired(host, peerId, publicKey, source)) {
                host->retiredHellos[stream]++;  // a replay of a device's earlier run
                return nullptr;
            }
            host->unlistedHellos[stream]++;
            place = freePeer(host, source, now, true);
            if (!place) {
                host->hellosWithoutPlace[stream]++;  // it waits, saying hello, until a place is free
                return nullptr;
            }
            if (!takeKeyExchange(&host->keyExchanges[stream], now, kSecureLinkKeyExchangesPerFrame)) {
                host->hellosOverKeyExchanges[stream]++;
                out->limited = 1;
                return nullptr;
            }
        }
        out->costly = 1;
        if (getRandomBytes(nonce, sizeof(nonce)) != 0) return nullptr;  // the client says hello again
        if (place) {
            peer = place;
            *peer = SecureLinkPeer{};
            peer->address = *source;
            peer->listOrder = ++host->listings;
        }
    }
    if (session) {
        if (host->controllingPeer == peer) host->controllingPeer = nullptr;
        if (!place) retirePeerId(host, peer);  // the device started over: it gave up its earlier id
        SecureLinkRetiredId* retired = findRetired(host, peerId, publicKey, source);
        if (retired) *retired = SecureLinkRetiredId{};  // the device's own endpoint took it back
        peer->peerId = peerId;
        std::memcpy(peer->publicKey, publicKey, 32);
        std::memcpy(peer->hostNonce, nonce, sizeof(nonce));
        peer->keys = SecureLinkKeys{};
        peer->verified = 0;
        peer->passwordProved = 0;
        peer->passwordSentTime = 0;
        peer->sessionTime = now ? now : 1;
        std::memset(peer->stateSentTime, 0, sizeof(peer->stateSentTime));  // the new session hears the nonce at once
        std::memset(peer->windows, 0, sizeof(peer->windows));
        std::memset(peer->sendCounters, 0, sizeof(peer->sendCounters));
        peer->newRunPorts = 0;
        if (stream == RelayStreamMavlink && listedApart && listedApart->ports[RelayStreamVideo]) {
            peer->ports[RelayStreamVideo] = listedApart->ports[RelayStreamVideo];
        } else if (stream == RelayStreamMavlink && peer->ports[RelayStreamVideo]) {
            peer->newRunPorts = 1u << RelayStreamVideo;
        }
        if (listedApart) {
            peer->streamsWanted |= listedApart->streamsWanted;
            if (host->controllingPeer == listedApart) host->controllingPeer = nullptr;
            *listedApart = SecureLinkPeer{};
        }
    }
    peer->ports[stream] = source->port;
    peer->newRunPorts &= ~(1u << stream);
    if (stream == RelayStreamMavlink) peer->address.port = source->port;
    heardHello(peer, streams, now);
    if (length > kHelloHeader) {
        if (takeKeyExchange(&peer->helloChecks[stream], now, 1)) {
            out->costly = 1;
            readHelloBlock(host, peer, stream, true, data + kHelloHeader, length - kHelloHeader);
        } else {
            host->hellosOverEntryChecks[stream]++;
        }
    }
    return peer;
}

// With encryption on, a hello from a peer not yet listed waits for a key exchange and nothing in it is
// read (nothing sealed for an earlier entry opens in a new one); with it off the peer is listed at once,
// without keys.
SecureLinkPeer* receiveHello(SecureLinkHost* host, const SocketResult* datagram, u32 stream, bool plain, u64 now,
                             SecureLinkReceived* out) {
    u8* data = datagram->data;
    i64 length = datagram->length;
    if (length < kHelloHeader) {
        out->refused = 1;
        return nullptr;
    }
    if (plain) return receivePlainHello(host, datagram, stream, now, out);
    u16 peerId = readLinkU16(data + 1);
    const u8* publicKey = data + 3;
    u8 streams = data[35];
    const AddressRecord* source = &datagram->source;
    SecureLinkPeer* peer = findPeer(host, peerId, source);
    if (!peer && findRetired(host, peerId, publicKey, source)) {
        host->retiredHellos[stream]++;  // a replay of a device's earlier run
        return nullptr;
    }
    if (!peer) {
        host->unlistedHellos[stream]++;
        if (!waitForKeyExchange(host, stream, peerId, publicKey, streams, source)) {
            host->hellosOverKeyExchanges[stream]++;
            out->limited = 1;
        }
        return nullptr;
    }
    if (std::memcmp(peer->publicKey, publicKey, 32) != 0) {
        host->unopenedHellos[stream]++;  // a peer's key never changes
        return nullptr;
    }
    // The block goes sealed once the client knows the host key. One that does not open drops the whole
    // hello, and its sender, which may hold an earlier host's key or entry, hears the host key.
    u8* block = nullptr;
    i64 blockLength = 0;
    u64 counter = 0;
    bool sealed = false;
    if (length > kHelloHeader) {
        // One checked a frame and stream: anyone can list itself and then send hellos under its id. The
        // id and key travel in the clear, so hellos under them from other ports of the address share a
        // check of their own, and the hello from the entry's own port is checked whatever else comes.
        if (!takeKeyExchange(helloChecks(peer, stream, source), now, 1)) {
            host->hellosOverEntryChecks[stream]++;
            return nullptr;
        }
        out->costly = 1;
        sealed = openSecureLinkPart(data, length, kHelloHeader, (u8)stream, &peer->keys, &peer->windows[stream], &block,
                                    &blockLength, &counter);
    }
    // The header is sent in the clear, so anyone on the peer's address can replay it from another
    // port: only a hello sealed under the peer's keys sets a stream's port, and a plain one from
    // another port than the one proven changes nothing.
    u16 port = source->port;
    if (!sealed) {
        // A header alone is a client that holds no key on this stream yet: only a sealed part that
        // did not open is counted.
        if (length > kHelloHeader) host->unopenedHellos[stream]++;
        if (!peer->keys.ready) {  // listed while encryption was off: its keys wait for a key exchange
            if (peer->ports[stream] == port) peer->lastHeardTime = now;
            waitForKeyExchange(host, stream, peerId, publicKey, streams, source);
            return nullptr;
        }
        if (length > kHelloHeader) {  // sealed under other keys
            answerHello(host, stream, peerId, source);
            return nullptr;
        }
        if (peer->ports[stream] && peer->ports[stream] != port) return nullptr;  // a header replayed
        answerHello(host, stream, peerId, source);
        heardHello(peer, streams, now);
        return peer;
    }
    acceptReplayCounter(&peer->windows[stream], counter);
    peer->verified = 1;
    peer->ports[stream] = port;
    peer->newRunPorts &= ~(1u << stream);
    if (stream == RelayStreamMavlink) peer->address.port = port;
    heardHello(peer, streams, now);
    readHelloBlock(host, peer, stream, false, block, blockLength);
    return peer;
}

// The host's state for one peer on one stream: its own grants (control only while it controls, else
// awaited while granted), and the host's controller only to a peer granted something (gamepad null:
// none on this stream). With encryption off it carries the host key and the entry's nonce, which the
// peer's proof is formed over.
void sendHostState(const SecureLinkHost* host, SecureLinkPeer* peer, Socket* socket, u32 stream,
                   const GamepadState* gamepad, u64 buttons, bool plain) {
    u8 bytes[7 + kFixedStringCapacity + 40 + 32 + kSecureLinkHostNonceBytes];
    ByteWriter state = makeByteWriter(bytes, sizeof(bytes));
    u32 grants = peer->userDecision & (SecureLinkGrantTelemetry | SecureLinkGrantVideo);
    if (host->controllingPeer == peer) grants |= SecureLinkGrantControl;
    else if (peer->userDecision & SecureLinkGrantControl) grants |= kSecureLinkStateControlAwaited;
    if (peer->userDecision == 0 && host->controllingPeer != peer) gamepad = nullptr;
    appendU8(SecureLinkHostState, &state);
    appendU8((u8)grants, &state);
    appendU32Le(gamepad ? gamepad->controllerKind : 0, &state);
    FixedString name = gamepad ? gamepad->name : FixedString{};
    i64 nameLength = fixedStringLength(&name);
    appendU8((u8)nameLength, &state);
    appendBytes(name.text, nameLength, &state);
    const f32 axes[8] = {gamepad ? gamepad->leftStickX : 0,   gamepad ? gamepad->leftStickY : 0,
                         gamepad ? gamepad->rightStickX : 0,  gamepad ? gamepad->rightStickY : 0,
                         gamepad ? gamepad->leftTrigger : 0,  gamepad ? gamepad->rightTrigger : 0,
                         gamepad ? gamepad->leftRocker : 0,   gamepad ? gamepad->rightRocker : 0};
    for (f32 axis : axes) appendF32Le(axis, &state);
    appendU64Le(gamepad ? buttons : 0, &state);
    if (plain) {
        appendBytes(host->identity->publicKey, 32, &state);
        appendBytes(peer->hostNonce, kSecureLinkHostNonceBytes, &state);
    }
    sendToPeer(peer, socket, stream, bytes, state.length, plain);
}

// Whether the entries share a port on a stream; with anyPort, also the port of the earlier one's first
// hello (an entry listed by a key exchange has no stream's port until it completes a sealed hello).
bool sharePort(const SecureLinkPeer* earlier, const SecureLinkPeer* later, bool anyPort) {
    for (u32 stream = 0; stream < kSecureLinkStreams; stream++) {
        u16 port = later->ports[stream];
        if (port && (port == earlier->ports[stream] || (anyPort && port == earlier->address.port))) return true;
    }
    return false;
}

// One entry a device: a device that started over and proved nothing is a later entry that completed a
// sealed hello at the address and port of an earlier one; one that started over and proved its
// password is an entry that proved it at the address and port of one that never completed a sealed
// hello (whichever was listed first: the one that proved may have taken over an entry listed before
// both). An undecided earlier entry leaves once it has been silent for 3 s (a device that is still
// running says hello every second), and the device is asked about anew. Whoever forges that endpoint
// can list such a later entry, and can keep the device's own hellos from being checked, so an entry
// the user decided on never leaves here: it leaves when a later entry proves its password (the device
// started over) or, once it has been gone for kSecureLinkGoneExpiry, when a new device needs its place.
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

}  // namespace

void sendSecureLinkPublicKey(SecureLinkHost* host, Socket* relaySocket, u32 stream, const Preferences* preferences,
                             u64 now) {
    if (!host || !host->identity || !relaySocket || stream >= kSecureLinkStreams) return;
    i32 answers = host->keyAnswerCount[stream];
    host->keyAnswerCount[stream] = 0;
    bool plain = encryptionOff(preferences);
    // The video stream's state goes from the video port: what a peer's video record hears of the host.
    for (SecureLinkPeer& peer : host->peers) {
        u64* sent = &peer.stateSentTime[stream];
        if (stream != RelayStreamVideo || !isListed(&peer) || (*sent && now - *sent < kSecureLinkStateInterval)) {
            continue;
        }
        sendHostState(host, &peer, relaySocket, stream, nullptr, 0, plain);
        *sent = now;
    }
    if (plain) return;
    for (i32 i = 0; i < answers; i++) {
        const SecureLinkKeyAnswer* answer = &host->keyAnswers[stream][i];
        SecureLinkPeer* peer = findPeer(host, answer->peerId, &answer->destination);
        if (!peer || !peer->keys.ready) continue;  // it left the list since
        ByteWriter* slot = queueSocketPacket(&answer->destination, relaySocket);
        if (!slot) return;
        appendHostKey(host, peer, slot);
        if (answer->destination.port == peer->ports[stream]) peer->keySentTime[stream] = now;
    }
    for (SecureLinkPeer& peer : host->peers) {
        if (!isListed(&peer) || !peer.ports[stream]) continue;
        if (!peer.keys.ready) {
            // Listed while encryption was off: its keys wait for the next drain's key exchanges.
            AddressRecord source = peerDestination(&peer, stream);
            waitForKeyExchange(host, stream, peer.peerId, peer.publicKey, 0, &source);
            continue;
        }
        if (peer.keySentTime[stream] && now - peer.keySentTime[stream] <= kSecureLinkKeyInterval) continue;
        AddressRecord destination = peerDestination(&peer, stream);
        ByteWriter* slot = queueSocketPacket(&destination, relaySocket);
        if (!slot) return;
        appendHostKey(host, &peer, slot);
        peer.keySentTime[stream] = now;
    }
}

void sendSecureLinkStateUpdates(SecureLinkHost* host, Socket* relaySocket, const GamepadState* gamepad, u64 buttons,
                                const Preferences* preferences, u64 now) {
    if (!host || !host->identity) return;
    RelayHostIdentity* identity = host->identity;
    bool plain = encryptionOff(preferences);
    keepPasswords(host);
    host->referenceAddress = identity->controllingListener;
    dropUndecidedSecureLinkPeers(host, kSecureLinkUndecidedExpiry, now);
    dropEarlierSessions(host, now);

    // The peer granted control: the user's choice, else the listener kept from an earlier run when it
    // proves the password it was given then. That one is granted control again on the list, with the
    // telemetry to fly by, so the list shows who controls and the controller is never blind.
    SecureLinkPeer* granted = nullptr;
    for (SecureLinkPeer& peer : host->peers) {
        if (isListed(&peer) && (peer.userDecision & SecureLinkGrantControl)) {
            granted = &peer;
            break;
        }
    }
    for (SecureLinkPeer& peer : host->peers) {
        if (granted) break;
        if (isListed(&peer) && peer.userDecision == 0 && atListener(host, &peer) && peer.passwordProved) {
            peer.userDecision = SecureLinkGrantControl | SecureLinkGrantTelemetry;
            peer.counter = 0;
            granted = &peer;
        }
    }
    host->controllingPeer = granted && granted->passwordProved ? granted : nullptr;
    if (!relaySocket) return;

    // Every device that holds a password it has not proved hears it while it is heard (it says hello
    // every second), once a second at most, sealed (plain with encryption off).
    for (SecureLinkPeer& peer : host->peers) {
        if (!isListed(&peer) || !holdsPassword(peer.password) || peer.passwordProved || !peer.lastHeardTime ||
            silentFor(&peer, now) >= kSecureLinkPasswordHeardWithin ||
            (peer.passwordSentTime && now - peer.passwordSentTime < kSecureLinkPasswordInterval)) {
            continue;
        }
        u8 inner[9] = {SecureLinkControlPassword};
        std::memcpy(inner + 1, peer.password, 8);
        sendToPeer(&peer, relaySocket, RelayStreamMavlink, inner, sizeof(inner), plain);
        peer.passwordSentTime = now;
    }
    for (SecureLinkPeer& peer : host->peers) {
        u64* sent = &peer.stateSentTime[RelayStreamMavlink];
        if (!isListed(&peer) || (*sent && now - *sent < kSecureLinkStateInterval)) continue;
        sendHostState(host, &peer, relaySocket, RelayStreamMavlink, gamepad, buttons, plain);
        *sent = now;
    }
}

SecureLinkReceived* receiveFromSecureLinkPeer(SecureLinkReceived* out, const SocketResult* datagram,
                                              SecureLinkHost* host, u32 stream, const Preferences* preferences,
                                              u64 now) {
    *out = SecureLinkReceived{};
    if (!host || !host->identity || !datagram || !datagram->received || datagram->length < 1 ||
        stream >= kSecureLinkStreams) {
        return out;
    }
    bool plain = encryptionOff(preferences);
    u8* data = datagram->data;
    i64 length = datagram->length;
    u8 type = data[0];
    if (type == SecureLinkHello) {
        receiveHello(host, datagram, stream, plain, now, out);
        return out;  // the link's own: nothing to hand on
    }
    out->refused = 1;  // until it is opened or found to be a listed peer's
    SecureLinkPeer* controlling = host->controllingPeer;
    if (type == SecureLinkFromClient) {
        // Only the peer in control sends what the host uses, and only from its MAVLink port: anyone
        // else's sealed data (any on the video port) is refused unopened, at no cost.
        if (length < kSealedDataHeader || data[3] != stream) return out;
        if (stream != RelayStreamMavlink || !controlling ||
            controlling->peerId != readLinkU16(data + 1) || controlling->ports[stream] != datagram->source.port ||
            !sameAddress(&controlling->address, &datagram->source)) {
            if (findPeer(host, readLinkU16(data + 1), &datagram->source)) {
                host->dataNotInControl[stream]++;
                out->refused = 0;
            }
            return out;
        }
        SecureLinkPeer* peer = controlling;
        u8* inner = nullptr;
        i64 innerLength = 0;
        u64 counter = 0;
        out->costly = 1;
        if (!openSecureLinkPart(data, length, kSealedDataHeader, (u8)stream, &peer->keys,
                                         &peer->windows[stream], &inner, &innerLength, &counter)) {
            return out;
        }
        acceptReplayCounter(&peer->windows[stream], counter);
        peer->lastHeardTime = now;
        peer->verified = 1;
        out->refused = 0;
        out->peer = peer;
        out->data = innerLength > 0 ? inner : nullptr;
        out->length = (u32)innerLength;
        return out;
    }
    // Plain MAVLink, taken only with encryption off and only from the MAVLink port of the peer in
    // control.
    if (plain && (type == 0xFD || type == 0xFE) && stream == RelayStreamMavlink && controlling &&
        controlling->ports[stream] == datagram->source.port && sameAddress(&controlling->address, &datagram->source)) {
        controlling->lastHeardTime = now;
        out->refused = 0;
        out->peer = controlling;
        out->data = data;
        out->length = (u32)length;
    }
    return out;
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

i32 grantedSecureLinkEndpoints(const SecureLinkHost* host, u32 stream, AddressRecord* endpoints, i32 capacity) {
    i32 count = 0;
    if (!host || stream >= kSecureLinkStreams) return 0;
    for (const SecureLinkPeer& peer : host->peers) {
        bool granted = peer.userDecision != 0 || host->controllingPeer == &peer;
        if (count >= capacity || !isListed(&peer) || !granted || !peer.ports[stream]) continue;
        endpoints[count++] = peerDestination(&peer, stream);
    }
    return count;
}

void relayPacketToPeers(SecureLinkHost* host, Socket* relaySocket, u32 stream, const Preferences* preferences,
                        const ByteWriter* packet, u64 now) {
    if (!host || !host->identity || !relaySocket || !packet || packet->length <= 0 || stream >= kSecureLinkStreams) {
        return;
    }
    bool plain = encryptionOff(preferences);
    for (SecureLinkPeer& peer : host->peers) {
        if (!isListed(&peer) || !(peer.userDecision & streamGrant(stream))) continue;
        if (silentFor(&peer, now) > kSecureLinkPeerSilence) continue;  // gone: its ports may be anyone's now
        sendToPeer(&peer, relaySocket, stream, packet->data, packet->length, plain);
    }
}

void setSecureLinkPeerDecision(SecureLinkHost* host, SecureLinkPeer* peer, u32 decision) {
    if (!host || !peer) return;
    RelayHostIdentity* identity = host->identity;
    // Control given to a device, or taken away: a fresh password, so that nothing an earlier
    // controller holds proves it. One that loses control keeps the password it has, now its own.
    if (identity && ((decision ^ peer->userDecision) & SecureLinkGrantControl)) drawControlPassword(identity);
    if (decision & SecureLinkGrantControl) {
        for (SecureLinkPeer& other : host->peers) {
            if (&other != peer) other.userDecision &= ~(u32)SecureLinkGrantControl;
        }
        if (identity) {
            identity->controllingListener = peer->address;
            identity->controllingListener.port = 0;
        }
    } else if ((peer->userDecision & SecureLinkGrantControl) && identity) {
        identity->controllingListener = AddressRecord{};
    }
    peer->userDecision = decision;
    peer->counter = 0;
    if (decision == 0) {
        const u8 none[8] = {};
        givePassword(peer, none);  // nothing left to prove
    } else if (identity) {
        keepPeerPassword(identity, peer);
    }
    // Whoever controls holds the grant from this moment: the one it was taken from, or given away by,
    // controls no more.
    if (host->controllingPeer && !(host->controllingPeer->userDecision & SecureLinkGrantControl)) {
        host->controllingPeer = nullptr;
    }
}

const SecureLinkPeer* secureLinkControlGrantee(const SecureLinkHost* host) {
    if (!host) return nullptr;
    for (const SecureLinkPeer& peer : host->peers) {
        if (isListed(&peer) && (peer.userDecision & SecureLinkGrantControl)) return &peer;
    }
    return nullptr;
}

const SecureLinkPeer* secureLinkPeerWithSameKey(const SecureLinkHost* host, const SecureLinkPeer* peer) {
    if (!host || !peer || !isListed(peer)) return nullptr;
    for (const SecureLinkPeer& other : host->peers) {
        if (&other != peer && isListed(&other) && !sameAddress(&other.address, &peer->address) &&
            std::memcmp(other.publicKey, peer->publicKey, 32) == 0) {
            return &other;
        }
    }
    return nullptr;
}

FixedString secureLinkPeerFingerprint(const SecureLinkHost* host, const SecureLinkPeer* peer) {
    // A peer listed with encryption off holds no keys: there is no link to compare.
    if (!host || !host->identity || !peer || !isListed(peer) || !peer->keys.ready) return FixedString{};
    return secureLinkFingerprint(host->identity->publicKey, peer->publicKey);
}

void dropUndecidedSecureLinkPeers(SecureLinkHost* host, u64 silence, u64 now) {
    if (!host) return;
    for (SecureLinkPeer& peer : host->peers) {
        bool silent = silence == 0 || (now > peer.lastHeardTime && now - peer.lastHeardTime > silence);
        if (isListed(&peer) && peer.userDecision == 0 && silent) {
            if (host->controllingPeer == &peer) host->controllingPeer = nullptr;
            peer = SecureLinkPeer{};
        }
    }
}
