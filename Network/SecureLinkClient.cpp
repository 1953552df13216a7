// The client side of the encrypted relay link: hellos, the key exchange, opening the host's
// datagrams and sealing what goes to the host.
#include "Crypto/Wipe.h"
#include "Crypto/X25519.h"
#include "Network/Address.h"
#include "Network/SecureLinkFormat.h"
#include "Network/Socket.h"
#include "Platform/Input.h"
#include "Platform/Random.h"

#include <cstring>

namespace {

bool isRelayedPacket(u8 type) { return type == 0xFD || type == 0xFE || type == 0xB7 || type == 0xB8; }

void hostHeard(SecureLinkClient* client, u64 now) {
    client->active = 1;
    client->lastHostDatagramTime = now;
}

// What the record knows of its host's keys and counters goes; the host and the record's start stay.
void forgetKeys(SecureLinkClient* client) {
    client->keys = SecureLinkKeys{};
    std::memset(client->hostPublicKey, 0, sizeof(client->hostPublicKey));
    std::memset(client->hostNonce, 0, sizeof(client->hostNonce));
    std::memset(client->sendCounters, 0, sizeof(client->sendCounters));
    std::memset(client->windows, 0, sizeof(client->windows));
    client->hostPlain = 0;
    client->lastSealedTime = 0;
}

// The identity's key pair changed under the record (the other stream's record started over): keys
// derived from the old pair are of no more use, nothing has counted under the new one yet, and the
// host has to hear it.
void followIdentity(SecureLinkClient* client) {
    if (client->keyGeneration == client->identity->generation) return;
    forgetKeys(client);
    client->keyGeneration = client->identity->generation;
    client->countedHostCount = 0;
    client->helloPending = 1;
    client->runTime = 0;
    client->runPort = 0;
}

// A fresh key pair and peer id for the app: counters that start from 0 again never meet a key they
// have counted under before. False (nothing changed) when the system gave no random bytes.
bool drawFreshKeyPair(SecureLinkClientIdentity* identity) {
    u8 privateKey[32];
    u8 publicKey[32];
    u8 peerId[2];
    bool drawn = generateX25519KeyPair(privateKey, publicKey) == 0 && getRandomBytes(peerId, 2) == 0;
    if (drawn) {
        std::memcpy(identity->privateKey, privateKey, 32);
        std::memcpy(identity->publicKey, publicKey, 32);
        identity->peerId = readLinkU16(peerId);
        identity->generation++;
    }
    secureWipe(privateKey, sizeof(privateKey));
    return drawn;
}

bool isLive(const SecureLinkClient* client, u64 now) {
    return client->lastSealedTime && now - client->lastSealedTime < kSecureLinkHostSilence;
}

// Whether the record has counted under its keys: sealed a datagram under them or accepted one.
bool countedUnderKeys(const SecureLinkClient* client) {
    if (!client->keys.ready) return false;
    for (u32 stream = 0; stream < kSecureLinkStreams; stream++) {
        if (client->sendCounters[stream] || client->windows[stream].started) return true;
    }
    return false;
}

// Whether the record has counted under keys from this host key and nonce with the identity's key pair.
bool countedBefore(const SecureLinkClient* client, const u8* hostKey, const u8* nonce) {
    for (i32 i = 0; i < client->countedHostCount; i++) {
        const u8* counted = client->countedHosts[i];
        bool sameKey = std::memcmp(counted, hostKey, 32) == 0;
        if (sameKey && std::memcmp(counted + 32, nonce, kSecureLinkHostNonceBytes) == 0) return true;
    }
    return false;
}

// Keeps the record's host key and nonce as counted under; false when there is no room left.
bool rememberCounted(SecureLinkClient* client) {
    if (countedBefore(client, client->hostPublicKey, client->hostNonce)) return true;
    if (client->countedHostCount >= kSecureLinkCountedHosts) return false;
    u8* counted = client->countedHosts[client->countedHostCount++];
    std::memcpy(counted, client->hostPublicKey, 32);
    std::memcpy(counted + 32, client->hostNonce, kSecureLinkHostNonceBytes);
    return true;
}

// A fresh key pair and peer id for the identity: the record says hello anew and proves its password
// to the entry the host lists for it. False (nothing changed) when the system gave no random bytes.
bool startWithFreshKeyPair(SecureLinkClient* client) {
    if (!drawFreshKeyPair(client->identity)) return false;
    followIdentity(client);
    return true;
}

// Whether the identity's MAVLink record says hello to a relay host it has heard: it breaks the ties of
// both records.
bool mavlinkRecordRuns(const SecureLinkClientIdentity* identity, u64 now) {
    u64 said = identity->mavlinkHelloTime;
    return said && now >= said && now - said < kSecureLinkHostSilence;
}

// A record that holds no keys is known to its host by its endpoint and peer id alone, and a host with
// its encryption off follows neither to another port: its run starts over (a fresh key pair and peer
// id, as after a stop) when the socket its hellos go out from moved (the system gave it another port
// after a failed send), at most once a second while the network stays away; and when the relay host
// it has heard says nothing through kSecureLinkHostSilence of its hellos (once, and again only after
// another such silence), so that whatever holds its earlier id at another port (a copy of its hellos
// across a host restart) holds nothing of its new run, which the host hears first from the device's
// own port. The MAVLink record does this for both; the video record only while the MAVLink record does
// not say hello to a relay host it has heard (a device that only watches the relay's video). A record
// that has never heard a relay host at its server (a drone at a fixed address) has no tie to break. A
// record that holds keys is followed to a new port by its sealed hellos.
bool runEnds(const SecureLinkClient* client, const Socket* socket, u64 now) {
    if (!client->started || client->keys.ready || !client->runTime || now < client->runTime) return false;
    bool moved = socket->state == SocketStateReady && socket->localPort && client->runPort &&
                 socket->localPort != client->runPort;
    if (moved && now - client->runTime >= kSecureLinkStartOverInterval) return true;
    u64 heard = client->lastHostDatagramTime > client->runTime ? client->lastHostDatagramTime : client->runTime;
    bool breaksTies = client->stream == RelayStreamMavlink || !mavlinkRecordRuns(client->identity, now);
    return client->active && breaksTies && now >= heard && now - heard >= kSecureLinkHostSilence;
}

// The record gives up its keys. Keys it has counted under are remembered with their host key and
// nonce: heard again later (the host back after a dropout, whatever came from its endpoint meanwhile),
// they would derive the same keys, and counting from 0 under them would make the host refuse
// everything as replays, and let the client take the host's earlier datagrams again. A record with no
// room left to remember them gives them up with the key pair. False (nothing changed) when that took
// random bytes the system did not give.
bool giveUpKeys(SecureLinkClient* client) {
    if (countedUnderKeys(client) && !rememberCounted(client)) return startWithFreshKeyPair(client);
    forgetKeys(client);
    return true;
}

// The host key and the nonce of the host's entry for this client.
void takeHostKey(SecureLinkClient* client, const u8* data, u64 now) {
    SecureLinkClientIdentity* identity = client->identity;
    const u8* hostKey = data + 3;
    const u8* nonce = data + 35;
    if (client->keys.ready && std::memcmp(client->hostPublicKey, hostKey, 32) == 0 &&
        std::memcmp(client->hostNonce, nonce, kSecureLinkHostNonceBytes) == 0) {
        hostHeard(client, now);
        return;
    }
    // Anyone can send a host key: while sealed datagrams still come under the keys, another one (or
    // another nonce) is not the host's. Once the link has been silent for 3 s it is taken (the host
    // started again, or listed this client anew).
    if (client->keys.ready && isLive(client, now)) return;
    // One key exchange a frame: host keys from the host's address (anyone can send one) cost the
    // frame no more. The next frame takes the next.
    if (!takeKeyExchange(&client->hostKeyExchanges, now, 1)) return;
    // Another host key or another nonce gives keys that never counted: the key pair serves, and the
    // device keeps its peer id. One the record has counted under takes a fresh key pair, and the
    // record then waits for the answer to the new one's hello.
    if (countedBefore(client, hostKey, nonce)) {
        startWithFreshKeyPair(client);  // on a frame without random bytes nothing changes: a later host key asks again
        return;
    }
    SecureLinkKeys keys;
    if (!deriveSecureLinkKeys(&keys, identity->privateKey, hostKey, hostKey, identity->publicKey, nonce)) return;
    u32 generation = identity->generation;
    if (!giveUpKeys(client) || identity->generation != generation) return;  // a fresh key pair: its own answer comes
    // A new host key or entry: fresh keys, counters and windows.
    client->keys = keys;
    std::memcpy(client->hostPublicKey, hostKey, 32);
    std::memcpy(client->hostNonce, nonce, kSecureLinkHostNonceBytes);
    client->helloPending = 1;
    hostHeard(client, now);
}

// The host's state: {u8 grants, u32 controller kind, u8 name length, name, 8 f32 axes, u64 buttons}.
bool readHostState(SecureLinkClient* client, GamepadState* gamepad, const u8* state, i64 length, u64 now) {
    if (length < 7) return false;
    i64 nameLength = state[6];
    if (length < 7 + nameLength + 32 + 8) return false;
    u32 grants = state[1];
    client->hostGrants = grants;
    if (grants & SecureLinkGrantTelemetry) client->lastTelemetryTime = now;
    if (grants & SecureLinkGrantVideo) client->lastVideoTime = now;
    if (grants & SecureLinkGrantControl) client->lastControlGrantTime = now;
    if (grants & kSecureLinkStateControlAwaited) client->lastControlAwaitedTime = now;
    const u8* axes = state + 7 + nameLength;
    client->hostButtons = readLinkU64(axes + 32);
    if (!gamepad) return true;
    gamepad->controllerKind = readLinkU32(state + 2);
    gamepad->remote = 1;
    FixedString name{};
    i64 kept = nameLength > kFixedStringCapacity ? kFixedStringCapacity : nameLength;
    std::memcpy(name.text, state + 7, (size_t)kept);
    name.length = (u8)kept;
    gamepad->name = name;
    f32 values[8];
    for (i32 i = 0; i < 8; i++) {
        u32 bits = readLinkU32(axes + 4 * i);
        std::memcpy(&values[i], &bits, 4);
        if (!(values[i] >= -1.0f && values[i] <= 1.0f)) values[i] = 0;  // NaN or out of range
    }
    gamepad->leftStickX = values[0];
    gamepad->leftStickY = values[1];
    gamepad->rightStickX = values[2];
    gamepad->rightStickY = values[3];
    gamepad->leftTrigger = values[4];
    gamepad->rightTrigger = values[5];
    gamepad->leftRocker = values[6];
    gamepad->rightRocker = values[7];
    gamepad->time = now;
    return true;
}

// The link's own inner packets (the password, the host's state): true when the packet was one (a
// short one is used up without effect). A password that came sealed is the one the app keeps; one that
// came plain (anyone on the way can send it) never replaces it and is proved only to a plain host.
bool takeLinkPacket(SecureLinkClient* client, GamepadState* gamepad, const u8* inner, i64 length, u64 now,
                    bool sealed) {
    if (inner[0] == SecureLinkControlPassword) {
        SecureLinkClientIdentity* identity = client->identity;
        u8* kept = sealed ? identity->relayPassword : identity->plainPassword;
        if (length >= 9 && std::memcmp(kept, inner + 1, 8) != 0) {
            std::memcpy(kept, inner + 1, 8);
            client->helloPending = 1;
        }
        if (length >= 9 && sealed) std::memset(identity->plainPassword, 0, 8);
        return true;
    }
    if (inner[0] == SecureLinkHostState) {
        readHostState(client, gamepad, inner, length, now);
        return true;
    }
    return false;
}

// A host that sends plain adds its public key and this client's entry nonce to its state: what the
// proof of the control password is formed over. A new one asks for a hello with a new proof.
void takePlainHostKey(SecureLinkClient* client, const u8* state, i64 length) {
    if (length < 7) return;
    i64 end = 7 + state[6] + 32 + 8;
    if (length < end + 32 + kSecureLinkHostNonceBytes) return;
    const u8* hostKey = state + end;
    const u8* nonce = hostKey + 32;
    if (std::memcmp(client->hostPublicKey, hostKey, 32) == 0 &&
        std::memcmp(client->hostNonce, nonce, kSecureLinkHostNonceBytes) == 0) {
        return;
    }
    std::memcpy(client->hostPublicKey, hostKey, 32);
    std::memcpy(client->hostNonce, nonce, kSecureLinkHostNonceBytes);
    client->helloPending = 1;
}

}  // namespace

void receiveFromSecureLinkHost(u8** data, u32* length, SecureLinkClient* client, GamepadState* gamepad, u64 now) {
    if (!data || !length || !*data || *length < 2 || !client || !client->identity) return;
    u8* bytes = *data;
    i64 size = *length;
    u8 type = bytes[0];
    if (client->server.family == 0) {
        // Stopped (or never started): its key pair may be the one an earlier session counted under,
        // and the host key and nonce of that session travel in the clear. Until its next hello has
        // started it over (with a fresh key pair) it takes nothing from the link.
        if (isSecureLinkType(type)) *length = 0;
        return;
    }
    followIdentity(client);
    if (type == SecureLinkHostKey) {
        if (size == kHostKeyLength && readLinkU16(bytes + 1) == client->identity->peerId) {
            takeHostKey(client, bytes, now);
        }
        *length = 0;
        return;
    }
    if (type == SecureLinkFromHost) {
        *length = 0;
        if (size < kSealedDataHeader || readLinkU16(bytes + 1) != client->identity->peerId) return;
        // Only what the host sealed for this record's stream: the other stream's datagrams replayed
        // here open nothing.
        u32 stream = client->stream;
        if (stream >= kSecureLinkStreams || bytes[3] != stream) return;
        u8* inner = nullptr;
        i64 innerLength = 0;
        u64 counter = 0;
        if (!openSecureLinkPart(bytes, size, kSealedDataHeader, (u8)stream, &client->keys, &client->windows[stream],
                                &inner, &innerLength, &counter)) {
            return;
        }
        acceptReplayCounter(&client->windows[stream], counter);
        hostHeard(client, now);
        client->lastSealedTime = now;
        if (innerLength == 0 || takeLinkPacket(client, gamepad, inner, innerLength, now, true)) return;
        if (stream == RelayStreamMavlink) client->lastTelemetryTime = now;
        if (stream == RelayStreamVideo) client->lastVideoTime = now;
        *data = inner;
        *length = (u32)innerLength;
        return;
    }
    if (client->keys.ready) {
        // While the link is encrypted nothing plain is taken: it would be anyone's injection. A host
        // that switched its encryption off (and started again) sends its state plain; that is followed
        // only once the link has been silent for 3 s, as a new host key is.
        if (type != SecureLinkHostState || isLive(client, now) || !giveUpKeys(client)) {
            *length = 0;
            return;
        }
    }
    // A host with its encryption off sends its own packets plain.
    if (type == SecureLinkControlPassword || type == SecureLinkHostState) {
        if (!client->hostPlain) client->helloPending = 1;
        client->hostPlain = 1;
        hostHeard(client, now);
        takeLinkPacket(client, gamepad, bytes, size, now, false);
        if (type == SecureLinkHostState) takePlainHostKey(client, bytes, size);
        *length = 0;
        return;
    }
    if (client->hostPlain && isRelayedPacket(type)) {
        hostHeard(client, now);
        if (type == 0xB7 || type == 0xB8) client->lastVideoTime = now;
        else client->lastTelemetryTime = now;
    }
}

void sendSecureLinkHello(SecureLinkClient* client, const AddressRecord* server, Socket* socket, u32 stream, u64 now) {
    if (!client || !client->identity || !server || server->family == 0 || server->port == 0 || !socket ||
        stream >= kSecureLinkStreams) {
        return;
    }
    if (!sameEndpoint(server, &client->server) || client->stream != stream) {
        // Another host, or the same one again after a stop: what was known no longer holds, and a
        // record that has spoken before speaks with a fresh key pair.
        // A record that the other stream's already gave a fresh key pair to counted nothing under it.
        SecureLinkClientIdentity* identity = client->identity;
        u32 started = client->started;
        if (started && client->keyGeneration == identity->generation && !drawFreshKeyPair(identity)) return;
        *client = SecureLinkClient{};
        client->identity = identity;
        client->server = *server;
        client->stream = stream;
        client->started = started;
        client->keyGeneration = identity->generation;
    }
    followIdentity(client);
    if (runEnds(client, socket, now) && drawFreshKeyPair(client->identity)) followIdentity(client);
    // Once a second, so the host hears a device that is running, and at once when it needs a hello.
    bool due = !client->helloTime || now - client->helloTime >= kSecureLinkHelloInterval;
    if (!client->helloPending && !due) return;
    ByteWriter* slot = queueSocketPacket(server, socket);
    if (!slot) return;
    SecureLinkClientIdentity* identity = client->identity;
    appendU8(SecureLinkHello, slot);
    appendU16Le(identity->peerId, slot);
    appendBytes(identity->publicKey, 32, slot);
    appendU8((u8)(stream == RelayStreamVideo ? SecureLinkGrantVideo : SecureLinkGrantTelemetry | SecureLinkGrantControl),
             slot);
    // The block goes sealed once the host key is known, plain to a host that sends plain, and not at
    // all before either. It holds no password, only a proof of it bound to this session and stream,
    // which opens nothing anywhere else: of the password kept from a sealed link, or to a plain host
    // of the one it sent plain.
    u8 block[kSecureLinkProofBytes + 1 + kFixedStringCapacity];
    ByteWriter writer = makeByteWriter(block, sizeof(block));
    u8 proof[kSecureLinkProofBytes];
    bool plainPassword = !client->keys.ready && readLinkU64(identity->plainPassword) != 0;
    secureLinkControlProof(proof, plainPassword ? identity->plainPassword : identity->relayPassword,
                           client->hostPublicKey, identity->publicKey, client->hostNonce, (u8)stream);
    appendBytes(proof, kSecureLinkProofBytes, &writer);
    i64 nameLength = fixedStringLength(&identity->name);
    appendU8((u8)nameLength, &writer);
    appendBytes(identity->name.text, nameLength, &writer);
    if (client->keys.ready) {
        if (sealSecureLinkPart(slot, SecureLinkHello, (u8)stream, client->sendCounters[stream], &client->keys, block,
                               writer.length)) {
            client->sendCounters[stream]++;
        }
    } else if (client->hostPlain) {
        appendBytes(block, writer.length, slot);
    }
    secureWipe(block, sizeof(block));
    client->helloTime = now;
    client->helloPending = 0;
    client->started = 1;
    if (stream == RelayStreamMavlink && client->active) identity->mavlinkHelloTime = now ? now : 1;
    if (!client->runTime) client->runTime = now ? now : 1;
    if (!client->runPort && socket->state == SocketStateReady) client->runPort = socket->localPort;
}

void stopSecureLinkClient(SecureLinkClient* client) {
    if (!client || client->server.family == 0) return;
    SecureLinkClientIdentity* identity = client->identity;
    u32 started = client->started;
    u32 stream = client->stream;
    u32 keyGeneration = client->keyGeneration;
    *client = SecureLinkClient{};
    client->identity = identity;
    client->stream = stream;
    client->started = started;
    client->keyGeneration = keyGeneration;
}

void encryptSecureLinkSendQueue(SecureLinkClient* client, Socket* socket) {
    if (!client || !client->identity || !socket) return;
    followIdentity(client);
    if (!client->keys.ready) return;
    PacketQueue* queue = &socket->sendQueue;
    u8 sealed[kPacketSlotBytes];
    for (u8 index = queue->readIndex; index != queue->writeIndex; index = (u8)((index + 1) % kPacketQueueSlots)) {
        PacketSlot* slot = &queue->slots[index];
        i64 length = slot->writer.length;
        if (length < 1 || (slot->data[0] != 0xFD && slot->data[0] != 0xFE) ||
            !sameEndpoint(&slot->destination, &client->server)) {
            continue;
        }
        ByteWriter writer = makeByteWriter(sealed, sizeof(sealed));
        appendU8(SecureLinkFromClient, &writer);
        appendU16Le(client->identity->peerId, &writer);
        appendU8(RelayStreamMavlink, &writer);
        if (sealSecureLinkPart(&writer, SecureLinkFromClient, RelayStreamMavlink,
                               client->sendCounters[RelayStreamMavlink], &client->keys, slot->data, length)) {
            client->sendCounters[RelayStreamMavlink]++;
            std::memcpy(slot->data, sealed, (size_t)writer.length);
            slot->writer.length = writer.length;
        } else {
            slot->writer.length = 0;  // too long to seal: sent empty rather than plain
        }
    }
}

FixedString secureLinkClientFingerprint(const SecureLinkClient* client) {
    if (!client || !client->identity || !client->keys.ready) return FixedString{};
    return secureLinkFingerprint(client->hostPublicKey, client->identity->publicKey);
}
