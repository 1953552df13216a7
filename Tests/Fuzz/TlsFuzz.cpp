// Server bytes fed to the TLS client in each of its receiving states: the first input byte picks the
// state (reached from the RFC 8448 trace, or set up with fixed TLS 1.2 keys), the second the size of
// the packets the rest arrives in. Whatever arrives, the client stays within its buffers and states.
#include "Tests/Network/TlsReplay.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int kStartingStates = 11;

struct Prepared {
    std::unique_ptr<TlsClient> clients[kStartingStates];
};

std::unique_ptr<TlsClient> copyOf(const TlsClient* client) {
    auto copy = std::make_unique<TlsClient>();
    memcpy((void*)copy.get(), (const void*)client, sizeof(TlsClient));
    return copy;
}

Prepared* prepare() {
    static Prepared prepared;
    using namespace tlstest;
    {
        Replay replay;
        startRfc8448Client(replay.client.get());
        prepared.clients[0] = copyOf(replay.client.get());  // waiting for the ServerHello
        replay.feed(fromHex(rfc8448::kServerHelloRecord));
        prepared.clients[1] = copyOf(replay.client.get());  // TLS 1.3 handshake keys
        replay.feed(fromHex(rfc8448::kServerFlightRecord));
        prepared.clients[8] = copyOf(replay.client.get());  // server Finished read, own flight due
        replay.step();
        prepared.clients[2] = copyOf(replay.client.get());  // TLS 1.3 established
        // TLS 1.3 established with records read in the clear: post-handshake messages (tickets,
        // KeyUpdates) straight from the input.
        prepared.clients[10] = copyOf(replay.client.get());
        prepared.clients[10]->receiveProtection = TlsProtectionNone;
        abortTlsClient(replay.client.get(), makeString("Abandoned"), 2, 0);
        prepared.clients[9] = copyOf(replay.client.get());  // aborted, alert due
    }
    for (u32 encryptThenMac : {0u, 1u}) {
        Replay replay;
        startEstablishedCbcClient(replay.client.get(), encryptThenMac);
        prepared.clients[3 + encryptThenMac] = copyOf(replay.client.get());  // TLS 1.2 established
        replay.client->state = TlsStateAwaitingServerChangeCipherSpec;
        replay.client->receiveProtection = TlsProtectionNone;
        prepared.clients[5 + encryptThenMac] = copyOf(replay.client.get());  // waiting for the server's CCS
    }
    {
        // TLS 1.2 after its ServerHello, waiting for the server's key exchange.
        Replay replay;
        startRfc8448Client(replay.client.get());
        std::vector<u8> hello = fromHex("160303002a020000260303000102030405060708090a0b0c0d0e0f"
                                        "101112131415161718191a1b1c1d1e1f00c01300");
        replay.feed(hello);
        prepared.clients[7] = copyOf(replay.client.get());
    }
    return &prepared;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
    static Prepared* prepared = prepare();
    static tlstest::Replay* replay = new tlstest::Replay();
    if (size < 2) {
        return 0;
    }
    // The same time for every input, so that runs repeat exactly and the two-second hold after an
    // abort is never reached by accident.
    tlstest::replayNow = 11000000;
    const TlsClient* start = prepared->clients[data[0] % kStartingStates].get();
    memcpy((void*)replay->client.get(), (const void*)start, sizeof(TlsClient));
    replay->sent();
    replay->socket->state = SocketStateConnected;
    replay->queue->count = 0;
    replay->queue->readIndex = replay->queue->writeIndex = 0;
    size_t packet = (size_t)(data[1] % 16 + 1) * 397;
    size_t at = 2;
    while (at < size) {
        size_t length = size - at < packet ? size - at : packet;
        TlsStepResult* out = replay->feed(std::vector<u8>(data + at, data + at + length));
        at += length;
        TlsClient* client = replay->client.get();
        if (client->state > TlsStateEstablished || client->receiveLength < 0 || client->receiveLength > kTlsBufferBytes ||
            client->handshakeLength < 0 || client->handshakeLength > kTlsHandshakeBytes || out->data.length < 0 ||
            out->data.length > kTlsBufferBytes) {
            std::abort();
        }
        replay->sent();
    }
    replay->step();
    replay->sent();
    return 0;
}
