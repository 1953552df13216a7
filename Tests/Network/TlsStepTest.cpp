// The client's per-frame step: when it connects and sends its ClientHello, what the ClientHello holds,
// the status texts, alerts both ways, the two seconds an abort reason stays, queued requests, and the
// port it connects to.
#include "Crypto/Sha.h"
#include "NetworkTestSupport.h"
#include "Tests/Network/TlsReplay.h"

#include <gtest/gtest.h>

#include <map>

using namespace tlstest;

namespace {

u16 be16(const std::vector<u8>& bytes, size_t at) { return (u16)(bytes[at] << 8 | bytes[at + 1]); }

// The first record the client sends once a request is queued (its ClientHello).
std::vector<u8> firstClientHello(Replay* replay) {
    replay->queueRequest({'G', 'E', 'T'});
    std::vector<std::vector<u8>> sent;
    for (int frame = 0; frame < 20 && sent.empty(); frame++) {
        replay->step();
        sent = replay->sent();
    }
    return sent.size() == 1 ? sent[0] : std::vector<u8>{};
}

// The ClientHello's extensions by type, and their order.
std::map<u16, std::vector<u8>> helloExtensions(const std::vector<u8>& hello, std::vector<u16>* order) {
    std::map<u16, std::vector<u8>> extensions;
    size_t at = 86;
    if (hello.size() < at + 2) {
        ADD_FAILURE() << "no extensions";
        return extensions;
    }
    size_t extensionsEnd = at + 2 + be16(hello, at);
    EXPECT_EQ(extensionsEnd, hello.size());
    at += 2;
    while (at + 4 <= extensionsEnd) {
        u16 type = be16(hello, at);
        u16 length = be16(hello, at + 2);
        order->push_back(type);
        extensions[type] = std::vector<u8>(hello.begin() + (long)at + 4, hello.begin() + (long)(at + 4 + length));
        at += 4 + length;
    }
    EXPECT_EQ(at, extensionsEnd);
    return extensions;
}

TEST(TlsStep, IdleTextsAndTheDelayBeforeTheClientHello) {
    Replay replay;
    TlsClient* client = replay.client.get();
    EXPECT_EQ(text(client->message), "Reset");
    replay.server.family = 0;
    replay.queueRequest({'G', 'E', 'T'});
    replay.step();
    EXPECT_EQ(client->state, (u32)TlsStateIdle);
    EXPECT_EQ(text(client->message), "Waiting for server address");

    Replay empty;
    empty.step();
    EXPECT_EQ(empty.client->state, (u32)TlsStateIdle);
    EXPECT_EQ(text(empty.client->message), "Waiting for data to send");

    // With an address and a request, the ClientHello waits until 0.1 s after the reset even though
    // the connection is already up.
    Replay replay2;
    replay2.queueRequest({'G', 'E', 'T'});
    u64 resetTime = replay2.client->resetTime;
    for (int frame = 0; frame < 20; frame++) {
        replay2.step();
        auto sent = replay2.sent();
        if (replayNow - resetTime <= kTlsHelloDelay) {
            EXPECT_TRUE(sent.empty());
            EXPECT_EQ(replay2.client->state, (u32)TlsStateConnecting);
            EXPECT_EQ(text(replay2.client->message), "Waiting to send Client Hello");
        } else {
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(replay2.client->state, (u32)TlsStateReadingServerFlight);
            EXPECT_EQ(text(replay2.client->message), "Waiting to hear all of Server Handshake");
            break;
        }
    }
}

TEST(TlsStep, ClientHelloOffersExactlyWhatTheClientSupports) {
    Replay replay;
    TlsClient* client = replay.client.get();
    replay.host = makeString("a");
    std::vector<u8> hello = firstClientHello(&replay);
    ASSERT_GE(hello.size(), 5u + 4 + 2 + 32 + 33 + 8 + 2 + 2);
    EXPECT_EQ(toHex(std::vector<u8>(hello.begin(), hello.begin() + 3)), "160301");
    EXPECT_EQ(be16(hello, 3), hello.size() - 5);
    EXPECT_EQ(hello[5], 1);
    EXPECT_EQ((size_t)(hello[6] << 16 | hello[7] << 8 | hello[8]), hello.size() - 9);
    EXPECT_EQ(be16(hello, 9), 0x0303);
    EXPECT_EQ(toHex(&hello[11], 32), toHex(client->clientRandom, 32));
    EXPECT_EQ(hello[43], 32);
    EXPECT_EQ(toHex(&hello[44], 32), toHex(client->sessionId, 32));
    EXPECT_EQ(toHex(&hello[76], 8), "000613021301c013");  // three suites
    EXPECT_EQ(toHex(&hello[84], 2), "0100");              // no compression
    std::vector<u16> order;
    std::map<u16, std::vector<u8>> extensions = helloExtensions(hello, &order);
    EXPECT_EQ(order, (std::vector<u16>{0x0000, 0x000B, 0x000A, 0x0023, 0x0016, 0x0017, 0x000D, 0x002B, 0x002D, 0x0010,
                                       0x0033}));
    EXPECT_EQ(toHex(extensions[0x0000]), "000400000161");  // list of 4: host name "a"
    EXPECT_EQ(toHex(extensions[0x000A]), "0004001d0017");
    EXPECT_EQ(toHex(extensions[0x002B]), "0403040303");
    EXPECT_EQ(toHex(extensions[0x0010]), "000908687474702f312e31");
    // exactly the signature schemes the client verifies
    EXPECT_EQ(toHex(extensions[0x000D]), "0016040305030804080508060809080a080b040105010601");
    // Both key shares are the client's own public keys.
    std::vector<u8> shares = extensions[0x0033];
    ASSERT_EQ(shares.size(), 2u + 4 + 32 + 4 + 65);
    EXPECT_EQ(be16(shares, 0), shares.size() - 2);
    EXPECT_EQ(toHex(&shares[2], 4), "001d0020");
    EXPECT_EQ(toHex(&shares[6], 32), toHex(client->x25519Public, 32));
    EXPECT_EQ(toHex(&shares[38], 5), "0017004104");
    for (int i = 0; i < 32; i++) {
        EXPECT_EQ(shares[43 + i], client->p256Public[31 - i]);
        EXPECT_EQ(shares[75 + i], client->p256Public[63 - i]);
    }
    // The handshake message, without its record header, is in the transcript.
    u8 expected[32], transcript[32];
    sha256(expected, hello.data() + 5, hello.size() - 5);
    tlsTranscriptHash(client, transcript);
    EXPECT_EQ(toHex(transcript, 32), toHex(expected, 32));
}

// An address is no host name: a numeric host leaves server_name out, yet the certificate is still
// judged against it.
TEST(TlsStep, NumericHostsSendNoServerName) {
    for (const char* host : {"10.0.0.7", "::1", "[2001:db8::1]"}) {
        SCOPED_TRACE(host);
        Replay replay;
        replay.host = makeString(host);
        std::vector<u8> hello = firstClientHello(&replay);
        ASSERT_FALSE(hello.empty());
        std::vector<u16> order;
        std::map<u16, std::vector<u8>> extensions = helloExtensions(hello, &order);
        EXPECT_EQ(extensions.count(0x0000), 0u);
        EXPECT_EQ(order.size(), 10u);
        EXPECT_EQ(text(replay.client->hostName), host);
    }
    Replay named;
    named.host = makeString("10.0.0.7.example.com");
    std::vector<u16> order;
    EXPECT_EQ(toHex(helloExtensions(firstClientHello(&named), &order)[0x0000]),
              "0017000014" + toHex((const u8*)"10.0.0.7.example.com", 20));
}

TEST(TlsStep, ServerAlertsAreEchoedAndTheReasonStaysTwoSeconds) {
    struct Case {
        u8 level;
        u8 description;
        const char* reason;
    };
    for (Case alert : {Case{2, 40, "Received server alert: 2 40 (Handshake Failure)"},
                       Case{1, 0, "Received server alert: 1 0 (Close Notify)"},
                       Case{2, 200, "Received server alert: 2 200 (Unknown)"}}) {
        Replay replay;
        TlsClient* client = replay.client.get();
        startRfc8448Client(client);
        TlsStepResult* out = replay.feed({21, 3, 3, 0, 2, alert.level, alert.description});
        EXPECT_EQ(out->closed, 1u);
        EXPECT_EQ(text(client->message), alert.reason);
        u64 abortTime = client->abortTime;
        replay.step();
        auto sent = replay.sent();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(toHex(sent[0]), toHex(std::vector<u8>{21, 3, 3, 0, 2, alert.level, alert.description}));
        int frames = 0;
        while (client->state != TlsStateReset && frames++ < 400) {
            EXPECT_EQ(text(client->message), alert.reason);
            replay.step();
        }
        EXPECT_EQ(client->state, (u32)TlsStateReset);
        EXPECT_GT(replayNow - abortTime, kTlsAbortHoldTime);
        EXPECT_LE(replayNow - abortTime, kTlsAbortHoldTime + 16667);
        EXPECT_EQ(text(client->message), "Reset");
        EXPECT_TRUE(replay.sent().empty());
    }
}

TEST(TlsStep, AnAbortWithoutAConnectionSendsNoAlert) {
    Replay replay;
    TlsClient* client = replay.client.get();
    replay.socket->state = SocketStateReady;  // still connecting
    replay.queueRequest({'G', 'E', 'T'});
    replay.step();
    ASSERT_EQ(client->state, (u32)TlsStateConnecting);
    abortTlsClient(client, makeString("Request abandoned"), 2, 0);
    for (int frame = 0; frame < 200 && client->state != TlsStateReset; frame++) {
        replay.step();
        EXPECT_TRUE(replay.sent().empty());
        if (client->state != TlsStateReset) {
            EXPECT_EQ(client->state, (u32)TlsStateAlertDue);
            EXPECT_EQ(text(client->message), "Request abandoned");
        }
    }
    EXPECT_EQ(client->state, (u32)TlsStateReset);
}

TEST(TlsStep, QueuedRequestsLeaveTogetherOnceEstablished) {
    Replay replay;
    TlsClient* client = replay.client.get();
    startRfc8448Client(client);
    replay.queueRequest({'o', 'n', 'e'});
    replay.queueRequest({'t', 'w', 'o'});
    replay.feed(fromHex(rfc8448::kServerHelloRecord));
    replay.feed(fromHex(rfc8448::kServerFlightRecord));
    EXPECT_EQ(replay.queue->count, 2);
    replay.step();
    auto sent = replay.sent();
    // ChangeCipherSpec, Finished, then both requests as records of their own.
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[2].size(), 5u + 3 + 1 + 16);
    EXPECT_EQ(sent[3].size(), 5u + 3 + 1 + 16);
    EXPECT_EQ(replay.queue->count, 0);
    EXPECT_EQ(client->send.sequence, 2u);
}

TEST(TlsStep, OutOfOrderAndOversizedHandshakeMessagesAreRefused) {
    struct Case {
        std::vector<u8> record;
        const char* reason;
    };
    std::vector<Case> cases = {
        {{22, 3, 3, 0, 4, 14, 0, 0, 0}, "Unexpected handshake message 14 in state 5"},
        {{22, 3, 3, 0, 8, 20, 0, 0, 4, 1, 2, 3, 4}, "Unexpected handshake message 20 in state 5"},
        {{23, 3, 3, 0, 4, 1, 2, 3, 4}, "Received application data before the handshake finished"},
        {{22, 3, 3, 0, 4, 2, 0, 0x9C, 0x41}, "A handshake message is larger than the 32768 bytes this client can hold"},
        {{22, 3, 3, 0x40, 0x01}, "Received a record of 16385 bytes, over the limit of 16384"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.reason);
        Replay replay;
        startRfc8448Client(replay.client.get());
        TlsStepResult* out = replay.feed(test.record);
        EXPECT_EQ(out->closed, 1u);
        EXPECT_EQ(text(replay.client->message), test.reason);
    }
}

// The port comes from the server's address; 443 only when it has none.
TEST(TlsStep, PortComesFromTheServerAddress) {
    for (u16 port : {(u16)0, (u16)8443}) {
        auto client = std::make_unique<TlsClient>();
        auto socket = std::make_unique<Socket>();
        auto queue = std::make_unique<TlsSendQueue>();
        memset((void*)client.get(), 0, sizeof(TlsClient));
        memset((void*)socket.get(), 0, sizeof(Socket));
        memset((void*)queue.get(), 0, sizeof(TlsSendQueue));
        client->clock = replayClock;
        socket->clock = replayClock;
        ByteWriter* request = queueTlsRecord(queue.get());
        appendCString("GET / HTTP/1.1\r\n\r\n", request);
        AddressRecord server{};
        server.family = 4;
        server.address[0] = 127;
        server.address[3] = 1;
        server.port = port;
        FixedString host = makeString("localhost");
        TlsStepResult out;
        tlsClient(&out, client.get(), socket.get(), &server, &host, queue.get());
        EXPECT_EQ(client->state, (u32)TlsStateConnecting);
        EXPECT_EQ(socket->server.peer.port, port ? port : 443);
        closeSocket(socket.get());
    }
}

}  // namespace
