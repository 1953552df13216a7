// The relay host side of the encrypted relay link: the host's frame step (its key, its state and the
// passwords it gives), the user's grants, the opening of what a peer sends and the relaying of packets
// to the peers. Which entry of the list a hello or datagram belongs to, and when an entry is listed,
// started over, joined, taken over or dropped, is decided in SecureLinkEntries.cpp.
#include "Core/Preferences.h"
#include "Crypto/Hmac.h"
#include "Network/Address.h"
#include "Network/SecureLinkEntries.h"
#include "Network/SecureLinkFormat.h"
#include "Network/Socket.h"
#include "Platform/Input.h"
#include "Platform/Random.h"

#include <cstring>

namespace {

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

// Queues one inner packet for a peer on a stream, at its port there while that is heard: sealed, or
// plain when encryption is off. False when nothing was queued.
bool sendToPeer(SecureLinkPeer* peer, Socket* socket, u32 stream, const u8* inner, i64 innerLength, bool plain,
                u64 now) {
    if (!peer->ports[stream] || !heardOn(peer, stream, now) || (!plain && !peer->keys.ready)) return false;
    AddressRecord destination = peerDestination(peer, stream);
    ByteWriter* slot = queueSocketPacket(&destination, socket);
    if (!slot) return false;
    if (plain) {
        appendBytes(inner, innerLength, slot);
        return true;
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
    return true;
}

void appendHostKey(const SecureLinkHost* host, const SecureLinkPeer* peer, ByteWriter* slot) {
    appendU8(SecureLinkHostKey, slot);
    appendU16Le(peer->peerId, slot);
    appendBytes(host->identity->publicKey, 32, slot);
    appendBytes(peer->hostNonce, kSecureLinkHostNonceBytes, slot);
}

// The host's state for one peer on one stream: its own grants (control only while it controls, else
// awaited while granted), and the host's controller only to a peer granted something (gamepad null:
// none on this stream). With encryption off it carries the host key and the entry's nonce, which the
// peer's proof is formed over. False when it did not go (the port silent, or no keys yet).
bool sendHostState(const SecureLinkHost* host, SecureLinkPeer* peer, Socket* socket, u32 stream,
                   const GamepadState* gamepad, u64 buttons, bool plain, u64 now) {
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
    return sendToPeer(peer, socket, stream, bytes, state.length, plain, now);
}

}  // namespace

bool encryptionOff(const Preferences* preferences) { return preferences && preferences->relayModeDisableEncryption; }

bool holdsPassword(const u8* password) { return readLinkU64(password) != 0; }

// Whether the proof is the one of the password for the peer's session on the stream.
bool provesPassword(const SecureLinkHost* host, const SecureLinkPeer* peer, u32 stream, const u8* proof,
                    const u8* password) {
    if (!holdsPassword(password)) return false;
    u8 expected[kSecureLinkProofBytes];
    secureLinkControlProof(expected, password, host->identity->publicKey, peer->publicKey, peer->hostNonce, (u8)stream);
    return constantTimeEqual(expected, proof, kSecureLinkProofBytes);
}

// A hello's proof of the entry's own password: a failure on the MAVLink stream, where the password
// goes, takes the proof back and has the password sent again.
bool checkOwnPassword(SecureLinkHost* host, SecureLinkPeer* peer, u32 stream, const u8* proof) {
    if (!holdsPassword(peer->password)) return false;
    if (provesPassword(host, peer, stream, proof, peer->password)) {
        peer->passwordProved = 1;
    } else if (stream == RelayStreamMavlink) {
        peer->passwordProved = 0;
        peer->passwordSentTime = 0;
    }
    return true;
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

void sendSecureLinkPublicKey(SecureLinkHost* host, Socket* relaySocket, u32 stream, const Preferences* preferences,
                             u64 now) {
    if (!host || !host->identity || !relaySocket || stream >= kSecureLinkStreams) return;
    i32 answers = host->keyAnswerCount[stream];
    host->keyAnswerCount[stream] = 0;
    bool plain = encryptionOff(preferences);
    // The video stream's state goes from the video port: what a peer's video record hears of the host.
    for (i32 i = 0; i < kSecureLinkEntries; i++) {
        SecureLinkPeer* peer = entryAt(host, i);
        u64* sent = &peer->stateSentTime[stream];
        if (stream != RelayStreamVideo || !isListed(peer) || (*sent && now - *sent < kSecureLinkStateInterval)) {
            continue;
        }
        if (sendHostState(host, peer, relaySocket, stream, nullptr, 0, plain, now)) *sent = now;
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
    for (i32 i = 0; i < kSecureLinkEntries; i++) {
        SecureLinkPeer* peer = entryAt(host, i);
        if (!isListed(peer) || !peer->ports[stream]) continue;
        if (!peer->keys.ready) {
            // Listed while encryption was off: its keys wait for the next drain's key exchanges.
            AddressRecord source = peerDestination(peer, stream);
            waitForKeyExchange(host, stream, peer->peerId, peer->publicKey, 0, &source);
            continue;
        }
        if (!heardOn(peer, stream, now) ||
            (peer->keySentTime[stream] && now - peer->keySentTime[stream] <= kSecureLinkKeyInterval)) {
            continue;
        }
        AddressRecord destination = peerDestination(peer, stream);
        ByteWriter* slot = queueSocketPacket(&destination, relaySocket);
        if (!slot) return;
        appendHostKey(host, peer, slot);
        peer->keySentTime[stream] = now;
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
    if (isListed(&host->spare)) host->spareFrames++;
    freeSparePlace(host, now, false);

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

    // Every device that holds a password it has not proved hears it at its MAVLink port while that is
    // heard (it says hello every second), once a second at most, sealed (plain with encryption off).
    for (SecureLinkPeer& peer : host->peers) {
        if (!isListed(&peer) || !holdsPassword(peer.password) || peer.passwordProved ||
            (peer.passwordSentTime && now - peer.passwordSentTime < kSecureLinkPasswordInterval)) {
            continue;
        }
        u8 inner[9] = {SecureLinkControlPassword};
        std::memcpy(inner + 1, peer.password, 8);
        if (sendToPeer(&peer, relaySocket, RelayStreamMavlink, inner, sizeof(inner), plain, now)) {
            peer.passwordSentTime = now;
        }
    }
    // The run in the spare place too: the host key and its nonce (what it proves its password over),
    // with no grants.
    for (i32 i = 0; i < kSecureLinkEntries; i++) {
        SecureLinkPeer* peer = entryAt(host, i);
        u64* sent = &peer->stateSentTime[RelayStreamMavlink];
        if (!isListed(peer) || (*sent && now - *sent < kSecureLinkStateInterval)) continue;
        if (sendHostState(host, peer, relaySocket, RelayStreamMavlink, gamepad, buttons, plain, now)) *sent = now;
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
        if (!fromControllersMavlinkPort(host, &datagram->source, stream) || controlling->peerId != readLinkU16(data + 1)) {
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
        if (!openSecureLinkPart(data, length, kSealedDataHeader, (u8)stream, &peer->keys, &peer->windows[stream], &inner,
                                &innerLength, &counter)) {
            return out;
        }
        acceptReplayCounter(&peer->windows[stream], counter);
        peer->lastHeardTime = peer->heardTimes[stream] = now;
        peer->verified = 1;
        out->refused = 0;
        out->peer = peer;
        out->data = innerLength > 0 ? inner : nullptr;
        out->length = (u32)innerLength;
        return out;
    }
    // Plain MAVLink, taken only with encryption off and only from the MAVLink port of the peer in
    // control.
    if (plain && (type == 0xFD || type == 0xFE) && fromControllersMavlinkPort(host, &datagram->source, stream)) {
        controlling->lastHeardTime = controlling->heardTimes[stream] = now;
        out->refused = 0;
        out->peer = controlling;
        out->data = data;
        out->length = (u32)length;
    }
    return out;
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
        if (isListed(&peer) && (peer.userDecision & streamGrant(stream))) {
            sendToPeer(&peer, relaySocket, stream, packet->data, packet->length, plain, now);
        }
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
