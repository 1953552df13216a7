// Records one connection of the program's own TLS client with a live server on loopback, for the
// TLS self tests' replays. The client runs with a fixed X25519 and P-256 key share, client random,
// session id and CBC IVs; its records are taken from its socket's send queue and written to a TCP
// connection, and the server's bytes are read from it and handed to the client as received. Every
// record both ways is written to the output file in flights, with the ClientHello, the request and
// the decrypted reply. Run by Tools/record_tls_sessions.py.
//
//   tls_session_recorder PORT HOST CA.der REQUEST-FILE OUTPUT [--until-close]
//
// Without --until-close the recording ends once the reply has arrived; with it, once the server's
// close_notify has been answered. Exit status 0 on success.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Core/Clock.h"
#include "Crypto/EllipticCurve.h"
#include "Crypto/TrustStore.h"
#include "Crypto/X25519.h"
#include "Network/TlsInternal.h"

namespace {

u64 fakeNow = 1000000;
u64 fakeClock() { return fakeNow; }

std::vector<u8> readFile(const char* path) {
    std::vector<u8> bytes;
    FILE* file = fopen(path, "rb");
    if (!file) return bytes;
    u8 buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(file);
    return bytes;
}

std::string hex(const u8* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; i++) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

struct Flight {
    bool fromServer;
    std::vector<u8> bytes;
};

void addToFlight(std::vector<Flight>* flights, bool fromServer, const u8* bytes, size_t length) {
    if (flights->empty() || flights->back().fromServer != fromServer) flights->push_back({fromServer, {}});
    flights->back().bytes.insert(flights->back().bytes.end(), bytes, bytes + length);
}

bool sendAll(int fd, const u8* bytes, size_t length) {
    while (length) {
        ssize_t n = send(fd, bytes, length, MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes += n;
        length -= (size_t)n;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        fprintf(stderr, "usage: %s PORT HOST CA.der REQUEST-FILE OUTPUT [--until-close]\n", argv[0]);
        return 2;
    }
    const int port = atoi(argv[1]);
    const char* host = argv[2];
    std::vector<u8> authority = readFile(argv[3]);
    std::vector<u8> request = readFile(argv[4]);
    const bool untilClose = argc > 6 && strcmp(argv[6], "--until-close") == 0;

    auto client = std::make_unique<TlsClient>();
    auto socket = std::make_unique<Socket>();
    auto queue = std::make_unique<TlsSendQueue>();
    auto trust = std::make_unique<TrustStore>();
    memset((void*)client.get(), 0, sizeof(TlsClient));
    memset((void*)socket.get(), 0, sizeof(Socket));
    memset((void*)queue.get(), 0, sizeof(TlsSendQueue));
    memset((void*)trust.get(), 0, sizeof(TrustStore));
    if (!addTrustAnchor(trust.get(), authority.data(), (u32)authority.size())) {
        fprintf(stderr, "the authority's certificate does not parse\n");
        return 1;
    }
    const i64 recordedAt = currentTimeMilliseconds();
    client->clock = fakeClock;
    client->trustStore = trust.get();
    client->fixedCbcIv = 1;
    resetTlsClient(client.get());
    // The fixed key shares and randoms.
    u8 privateKey[32], scalar[32];
    for (int i = 0; i < 32; i++) {
        privateKey[i] = (u8)(0xA0 + i * 3);
        client->clientRandom[i] = (u8)(0x10 + i);
        client->sessionId[i] = (u8)(0xE0 - i);
        client->p256Private[i] = (u8)(0x21 + i);
    }
    client->p256Private[31] = 0x5A;  // below the group order
    memcpy(client->x25519Private, privateKey, 32);
    memcpy(scalar, privateKey, 32);
    x25519(client->x25519Public, scalar, x25519BasePoint);
    u8 generator[64];
    memcpy(generator, secp256r1.generatorX, 32);
    memcpy(generator + 32, secp256r1.generatorY, 32);
    scalePoint(client->p256Public, client->p256Private, generator, &secp256r1);
    u8 publicKey[32];  // the client's copy is wiped when the connection ends
    memcpy(publicKey, client->x25519Public, 32);

    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons((u16)port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // The server may still be starting: try for five seconds.
    for (int attempt = 0; connect(fd, (sockaddr*)&address, sizeof(address)) != 0; attempt++) {
        if (attempt == 100) {
            perror("connect");
            return 1;
        }
        close(fd);
        usleep(50000);
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
    }
    socket->initialised = 1;
    socket->testMode = 1;
    socket->handle = -1;
    socket->sendHandle = -1;
    socket->mode = SocketModeTcpClient;
    socket->family = 4;
    socket->state = SocketStateConnected;
    AddressRecord server{};
    server.family = 4;
    server.address[0] = 127;
    server.address[3] = 1;
    server.port = (u16)port;
    FixedString hostName = makeString(host);

    ByteWriter* slot = queueTlsRecord(queue.get());
    appendBytes(request.data(), (i64)request.size(), slot);

    std::vector<u8> clientHello;
    std::vector<Flight> flights;
    std::vector<u8> reply;
    bool serverClosed = false;
    bool done = false;
    for (int round = 0; round < 2000 && !done; round++) {
        fakeNow += 20000;
        TlsStepResult out;
        tlsClient(&out, client.get(), socket.get(), &server, &hostName, queue.get());
        if (out.dataReceived) reply.insert(reply.end(), out.data.data, out.data.data + out.data.length);
        while (PacketSlot* packet = oldestQueuedPacket(&socket->sendQueue)) {
            const u8* bytes = packet->data;
            size_t length = (size_t)packet->writer.length;
            if (clientHello.empty() && length > 5 && bytes[0] == TlsRecordHandshake && bytes[5] == 1) {
                clientHello.assign(bytes + 5, bytes + length);
            } else {
                addToFlight(&flights, false, bytes, length);
            }
            if (!serverClosed) sendAll(fd, bytes, length);
            dropOldestQueuedPacket(&socket->sendQueue);
        }
        if (tlsAborted(client.get())) {
            if (!client->closeNotifyReceived) {
                fprintf(stderr, "the client stopped: %.*s\n", (int)client->message.length, client->message.text);
                return 1;
            }
            if (client->state == TlsStateAborted) done = true;  // its own close_notify has gone
            continue;
        }
        if (!untilClose && !reply.empty() && reply.size() >= 4 && queue->count == 0 &&
            client->state == TlsStateEstablished && round > 0) {
            // The reply is in; a few more reads would only find session tickets already taken.
            done = true;
            continue;
        }
        if (serverClosed) continue;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) > 0) {
            u8 buffer[8192];
            ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
            if (n <= 0) {
                serverClosed = true;
                continue;
            }
            // Whole records only go into the recording's flights; they reach the client as they came.
            addToFlight(&flights, true, buffer, (size_t)n);
            if ((i64)n > kTlsBufferBytes - client->receiveLength) {
                fprintf(stderr, "the client's receive buffer is full\n");
                return 1;
            }
            memcpy(client->receiveBuffer + client->receiveLength, buffer, (size_t)n);
            client->receiveLength += n;
        }
    }
    close(fd);
    if (!done) {
        fprintf(stderr, "the connection did not finish: %.*s\n", (int)client->message.length, client->message.text);
        return 1;
    }
    FILE* output = fopen(argv[5], "w");
    if (!output) return 1;
    fprintf(output, "host %s\n", host);
    fprintf(output, "time %lld\n", (long long)recordedAt);
    fprintf(output, "private %s\n", hex(privateKey, 32).c_str());
    fprintf(output, "public %s\n", hex(publicKey, 32).c_str());
    fprintf(output, "hello %s\n", hex(clientHello.data(), clientHello.size()).c_str());
    fprintf(output, "request %s\n", hex(request.data(), request.size()).c_str());
    fprintf(output, "reply %s\n", hex(reply.data(), reply.size()).c_str());
    for (const Flight& f : flights)
        fprintf(output, "flight %s %s\n", f.fromServer ? "server" : "client", hex(f.bytes.data(), f.bytes.size()).c_str());
    fclose(output);
    return 0;
}
