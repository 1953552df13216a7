// Drives a TLS client without a network: its socket is in simulator mode, server bytes are handed to
// it as received packets, and the records it sends are taken from the socket's send queue. Also the
// start of the RFC 8448 trace (the client's fixed key share, random and ClientHello), from which the
// replay test and the fuzz target continue. Header-only so that the fuzz target can use it.
#pragma once
#include "Network/TlsInternal.h"
#include "Tests/Network/TlsRfc8448Vectors.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace tlstest {

inline u64 replayNow = 10000000;
inline u64 replayClock() { return replayNow; }

inline std::vector<u8> fromHex(const char* text) {
    std::vector<u8> bytes;
    int high = -1;
    for (const char* c = text; *c; c++) {
        int value;
        if (*c >= '0' && *c <= '9') {
            value = *c - '0';
        } else if (*c >= 'a' && *c <= 'f') {
            value = *c - 'a' + 10;
        } else if (*c >= 'A' && *c <= 'F') {
            value = *c - 'A' + 10;
        } else {
            continue;
        }
        if (high < 0) {
            high = value;
        } else {
            bytes.push_back((u8)(high << 4 | value));
            high = -1;
        }
    }
    return bytes;
}

inline std::string toHex(const u8* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; i++) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}
inline std::string toHex(const std::vector<u8>& bytes) { return toHex(bytes.data(), bytes.size()); }

struct Replay {
    std::unique_ptr<TlsClient> client = std::make_unique<TlsClient>();
    std::unique_ptr<Socket> socket = std::make_unique<Socket>();
    std::unique_ptr<TlsSendQueue> queue = std::make_unique<TlsSendQueue>();
    AddressRecord server{};
    FixedString host = makeString("server");
    SocketResult arriving{};
    std::vector<u8> arrivingBytes;
    TlsStepResult out{};

    Replay() {
        memset((void*)client.get(), 0, sizeof(TlsClient));
        memset((void*)socket.get(), 0, sizeof(Socket));
        memset((void*)queue.get(), 0, sizeof(TlsSendQueue));
        client->clock = replayClock;
        resetTlsClient(client.get());
        // A connected TCP client socket whose traffic is replayed.
        socket->initialised = 1;
        socket->handle = -1;
        socket->clock = replayClock;
        socket->mode = SocketModeTcpClient;
        socket->family = 4;
        socket->state = SocketStateConnected;
        socket->simulatorResult = kSimulatorResultConsumed;
        server.family = 4;
        server.address[0] = 127;
        server.address[3] = 1;
    }

    TlsStepResult* step() {
        replayNow += 16667;
        return tlsClient(&out, client.get(), socket.get(), &server, &host, queue.get());
    }
    // Hands the bytes over as one received packet, then steps.
    TlsStepResult* feed(const std::vector<u8>& bytes) {
        arrivingBytes = bytes;
        memset((void*)&arriving, 0, sizeof(arriving));
        arriving.received = 1;
        arriving.data = arrivingBytes.data();
        arriving.length = (u32)arrivingBytes.size();
        socket->simulatorResult = &arriving;
        return step();
    }
    // The packets the client queued on its socket since the last call, oldest first.
    std::vector<std::vector<u8>> sent() {
        std::vector<std::vector<u8>> packets;
        while (PacketSlot* slot = oldestQueuedPacket(&socket->sendQueue)) {
            packets.emplace_back(slot->data, slot->data + slot->writer.length);
            dropOldestQueuedPacket(&socket->sendQueue);
        }
        return packets;
    }
    void queueRequest(const std::vector<u8>& bytes) {
        ByteWriter* writer = queueTlsRecord(queue.get());
        appendBytes(bytes.data(), (i64)bytes.size(), writer);
    }
};

// The client of RFC 8448 section 3 after its ClientHello: its X25519 key pair and random are the
// trace's, its transcript holds the trace's ClientHello, and it waits for the server's flight.
inline void startRfc8448Client(TlsClient* client) {
    std::vector<u8> privateKey = fromHex(rfc8448::kClientPrivateKey);
    std::vector<u8> publicKey = fromHex(rfc8448::kClientPublicKey);
    std::vector<u8> hello = fromHex(rfc8448::kClientHello);
    memcpy(client->x25519Private, privateKey.data(), 32);
    memcpy(client->x25519Public, publicKey.data(), 32);
    memcpy(client->clientRandom, hello.data() + 6, 32);
    client->sessionIdLength = hello[38];  // the trace's ClientHello sends none
    hashHandshake(client, hello.data(), (i64)hello.size());
    client->state = TlsStateReadingServerFlight;
    client->skipServerVerification = 1;  // the trace's certificate is no one's to trust
}

// A TLS 1.2 client with the CBC suite whose keys come from fixed randoms and a fixed shared secret,
// established in both directions.
inline void startEstablishedCbcClient(TlsClient* client, u32 encryptThenMac) {
    for (int i = 0; i < 32; i++) {
        client->clientRandom[i] = (u8)i;
        client->serverRandom[i] = (u8)(0x80 + i);
        client->sharedSecret[i] = (u8)(0x40 ^ i);
    }
    client->tls13 = 0;
    client->cbc = 1;
    client->cipherSuite = 0xC013;
    client->keyBytes = 16;
    client->hashBits = 256;
    client->macBytes = 20;
    client->encryptThenMac = encryptThenMac;
    client->serverHelloSeen = 1;
    client->sharedSecretReady = 1;
    tls12DeriveKeys(client);
    client->sendProtection = TlsProtectionCbc12;
    client->receiveProtection = TlsProtectionCbc12;
    client->state = TlsStateEstablished;
}

}  // namespace tlstest
