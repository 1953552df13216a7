// The TLS 1.3 trace of RFC 8448 section 3 replayed through the client's own step, without a network:
// with the trace's key share and random, every secret, key and record the client derives or writes
// equals the published bytes.
#include "Network/TlsInternal.h"
#include "NetworkTestSupport.h"
#include "Tests/Network/TlsReplay.h"

#include <gtest/gtest.h>

using namespace tlstest;

namespace {

std::string hex(const u8* bytes, size_t count) { return toHex(bytes, count); }

TEST(TlsTraceReplay, PublishedVectorsHaveTheirLengths) {
    EXPECT_EQ(fromHex(rfc8448::kClientHello).size(), 196u);
    EXPECT_EQ(fromHex(rfc8448::kServerHelloRecord).size(), 95u);
    EXPECT_EQ(fromHex(rfc8448::kServerFlight).size(), 657u);
    EXPECT_EQ(fromHex(rfc8448::kServerFlightRecord).size(), 679u);
    EXPECT_EQ(fromHex(rfc8448::kClientFinishedRecord).size(), 58u);
    EXPECT_EQ(fromHex(rfc8448::kNewSessionTicketRecord).size(), 227u);
    EXPECT_EQ(fromHex(rfc8448::kClientApplicationDataRecord).size(), 72u);
    EXPECT_EQ(fromHex(rfc8448::kServerAlertRecord).size(), 24u);
}

TEST(TlsTraceReplay, EverySecretKeyAndRecordMatchesTheTrace) {
    Replay replay;
    TlsClient* client = replay.client.get();
    startRfc8448Client(client);

    // The precomputed "derived" secret of the empty early secret.
    EXPECT_EQ(hex(client->derived256, 32), rfc8448::kEarlyDerived);

    // ServerHello: key share, handshake secret and handshake traffic keys.
    TlsStepResult* out = replay.feed(fromHex(rfc8448::kServerHelloRecord));
    ASSERT_EQ(text(client->message), "Waiting to hear all of Server Handshake") << text(client->message);
    EXPECT_EQ(out->closed, 0u);
    EXPECT_EQ(client->tls13, 1u);
    EXPECT_EQ(client->cipherSuite, 0x1301);
    EXPECT_EQ(client->keyExchangeGroup, 0x001D);
    EXPECT_EQ(hex(client->sharedSecret, 32), rfc8448::kSharedSecret);
    EXPECT_EQ(hex(client->handshakeSecret, 32), rfc8448::kHandshakeSecret);
    u8 transcript[48];
    tlsTranscriptHash(client, transcript);
    EXPECT_EQ(hex(transcript, 32), rfc8448::kHelloTranscriptHash);
    EXPECT_EQ(hex(client->clientHandshakeSecret, 32), rfc8448::kClientHandshakeSecret);
    EXPECT_EQ(hex(client->serverHandshakeSecret, 32), rfc8448::kServerHandshakeSecret);
    EXPECT_EQ(hex(client->receive.key.roundKeys, 16), rfc8448::kServerHandshakeKey);
    EXPECT_EQ(hex(client->receive.iv, 12), rfc8448::kServerHandshakeIv);
    EXPECT_EQ(hex(client->send.key.roundKeys, 16), rfc8448::kClientHandshakeKey);
    EXPECT_EQ(hex(client->send.iv, 12), rfc8448::kClientHandshakeIv);
    u8 finishedKey[32];
    tlsExpandLabel(client, client->serverHandshakeSecret, "finished", nullptr, 0, finishedKey, 32);
    EXPECT_EQ(hex(finishedKey, 32), rfc8448::kServerFinishedKey);
    EXPECT_TRUE(replay.sent().empty());

    // The protected flight: EncryptedExtensions, Certificate, CertificateVerify, Finished.
    out = replay.feed(fromHex(rfc8448::kServerFlightRecord));
    ASSERT_EQ(client->state, (u32)TlsStateChangeCipherSpecDue) << text(client->message);
    EXPECT_EQ(out->closed, 0u);
    tlsTranscriptHash(client, transcript);
    EXPECT_EQ(hex(transcript, 32), rfc8448::kServerFinishedTranscriptHash);
    EXPECT_EQ(hex(client->masterSecret, 32), rfc8448::kMasterSecret);
    EXPECT_EQ(hex(client->clientApplicationSecret, 32), rfc8448::kClientApplicationSecret);
    EXPECT_EQ(hex(client->serverApplicationSecret, 32), rfc8448::kServerApplicationSecret);
    EXPECT_EQ(hex(client->receive.key.roundKeys, 16), rfc8448::kServerApplicationKey);
    EXPECT_EQ(hex(client->receive.iv, 12), rfc8448::kServerApplicationIv);
    EXPECT_EQ(client->receive.sequence, 0u);
    tlsExpandLabel(client, client->clientHandshakeSecret, "finished", nullptr, 0, finishedKey, 32);
    EXPECT_EQ(hex(finishedKey, 32), rfc8448::kClientFinishedKey);

    // The client's second flight: the compatibility ChangeCipherSpec, then its Finished.
    replay.step();
    auto sent = replay.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(toHex(sent[0]), "140303000101");
    EXPECT_EQ(toHex(sent[1]), toHex(fromHex(rfc8448::kClientFinishedRecord)));
    EXPECT_EQ(client->state, (u32)TlsStateEstablished);
    EXPECT_EQ(text(client->message), "TLS Connection established");
    EXPECT_EQ(hex(client->send.key.roundKeys, 16), rfc8448::kClientApplicationKey);
    EXPECT_EQ(hex(client->send.iv, 12), rfc8448::kClientApplicationIv);

    // A session ticket is read and dropped.
    out = replay.feed(fromHex(rfc8448::kNewSessionTicketRecord));
    EXPECT_EQ(out->closed, 0u);
    EXPECT_EQ(out->dataReceived, 0u);
    EXPECT_EQ(client->state, (u32)TlsStateEstablished);

    // Application data both ways.
    std::vector<u8> payload = fromHex(rfc8448::kApplicationData);
    replay.queueRequest(payload);
    replay.step();
    sent = replay.sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(toHex(sent[0]), toHex(fromHex(rfc8448::kClientApplicationDataRecord)));
    EXPECT_EQ(replay.queue->count, 0);

    out = replay.feed(fromHex(rfc8448::kServerApplicationDataRecord));
    ASSERT_EQ(out->dataReceived, 1u);
    EXPECT_EQ(toHex(out->data.data, (size_t)out->data.length), toHex(payload));

    // The server's close_notify ends the connection; the same alert goes back, protected, as the
    // trace's own client alert.
    out = replay.feed(fromHex(rfc8448::kServerAlertRecord));
    EXPECT_EQ(out->closed, 1u);
    EXPECT_EQ(text(client->message), "Received server alert: 1 0 (Close Notify)");
    replay.step();
    sent = replay.sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(toHex(sent[0]), rfc8448::kClientAlertRecord);
    EXPECT_EQ(client->state, (u32)TlsStateAborted);
}

// The same flight cut into many small records, and handed over a few bytes at a time, reaches the
// same keys: handshake messages are reassembled across records.
TEST(TlsTraceReplay, FlightSplitAcrossRecordsIsReassembled) {
    for (size_t fragment : {1u, 7u, 100u, 400u}) {
        Replay replay;
        TlsClient* client = replay.client.get();
        startRfc8448Client(client);
        replay.feed(fromHex(rfc8448::kServerHelloRecord));
        ASSERT_EQ(client->receiveProtection, (u32)TlsProtectionGcm13);
        TlsTrafficKeys serverKeys = client->receive;
        std::vector<u8> flight = fromHex(rfc8448::kServerFlight);
        std::vector<u8> records;
        for (size_t start = 0; start < flight.size(); start += fragment) {
            size_t length = std::min(fragment, flight.size() - start);
            std::vector<u8> inner(flight.begin() + (long)start, flight.begin() + (long)(start + length));
            inner.push_back(TlsRecordHandshake);
            size_t total = inner.size() + 16;
            std::vector<u8> record = {23, 3, 3, (u8)(total >> 8), (u8)total};
            record.resize(5 + total);
            u8 nonce[12];
            memcpy(nonce, serverKeys.iv, 12);
            for (int i = 0; i < 8; i++) nonce[4 + i] ^= (u8)(serverKeys.sequence >> (56 - 8 * i));
            encryptAesGcm(record.data() + 5 + inner.size(), inner.data(), record.data() + 5, (i64)inner.size(), nonce,
                          record.data(), 5, &serverKeys.key);
            serverKeys.sequence++;
            records.insert(records.end(), record.begin(), record.end());
        }
        // Arriving in packets of 13 bytes, so records are also split between packets.
        for (size_t start = 0; start < records.size() && !tlsAborted(client); start += 13) {
            size_t length = std::min<size_t>(13, records.size() - start);
            replay.feed(std::vector<u8>(records.begin() + (long)start, records.begin() + (long)(start + length)));
        }
        ASSERT_EQ(client->state, (u32)TlsStateChangeCipherSpecDue) << fragment << ": " << text(client->message);
        EXPECT_EQ(hex(client->clientApplicationSecret, 32), rfc8448::kClientApplicationSecret);
        replay.step();
        auto sent = replay.sent();
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_EQ(toHex(sent[1]), toHex(fromHex(rfc8448::kClientFinishedRecord)));
    }
}

}  // namespace
