// Record protection and server choices the client must refuse: tampered, truncated, padded and
// oversized records under TLS 1.3 and TLS 1.2 CBC (with and without encrypt-then-MAC), and
// ServerHellos that pick what the ClientHello did not offer. Each is refused with the right alert,
// and the alert that goes back is protected once keys are set.
#include "Crypto/Hmac.h"
#include "NetworkTestSupport.h"
#include "Tests/Network/TlsReplay.h"

#include <gtest/gtest.h>

using namespace tlstest;

namespace {

void establishRfc8448(Replay* replay) {
    startRfc8448Client(replay->client.get());
    replay->feed(fromHex(rfc8448::kServerHelloRecord));
    replay->feed(fromHex(rfc8448::kServerFlightRecord));
    replay->step();
    replay->sent();
    ASSERT_EQ(replay->client->state, (u32)TlsStateEstablished) << text(replay->client->message);
}

void makeNonce(u8* nonce, const TlsTrafficKeys& keys) {
    memcpy(nonce, keys.iv, 12);
    for (int i = 0; i < 8; i++) nonce[4 + i] ^= (u8)(keys.sequence >> (56 - 8 * i));
}

// A TLS 1.3 record sealing inner (content, type and any padding) under keys, which advance.
std::vector<u8> sealGcm(TlsTrafficKeys* keys, const std::vector<u8>& inner) {
    size_t total = inner.size() + 16;
    std::vector<u8> record = {23, 3, 3, (u8)(total >> 8), (u8)total};
    record.resize(5 + total);
    u8 nonce[12];
    makeNonce(nonce, *keys);
    encryptAesGcm(record.data() + 5 + inner.size(), inner.data(), record.data() + 5, (i64)inner.size(), nonce,
                  record.data(), 5, &keys->key);
    keys->sequence++;
    return record;
}

// Opens a TLS 1.3 record the client sent; empty when it does not authenticate.
std::vector<u8> openGcm(TlsTrafficKeys* keys, const std::vector<u8>& record) {
    if (record.size() < 5 + 16 || record[0] != 23) return {};
    size_t length = record.size() - 5 - 16;
    std::vector<u8> plain(length);
    u8 nonce[12];
    makeNonce(nonce, *keys);
    if (decryptAesGcm(record.data() + 5, plain.data(), (i64)length, nonce, record.data(), 5, &keys->key,
                      record.data() + 5 + length) != 0) {
        return {};
    }
    keys->sequence++;
    return plain;
}

// HMAC-SHA-1 of a CBC record's MAC input.
std::vector<u8> cbcMac(const u8* key, u64 sequence, u8 type, const u8* data, size_t length) {
    u8 header[13];
    for (int i = 0; i < 8; i++) header[i] = (u8)(sequence >> (56 - 8 * i));
    header[8] = type;
    header[9] = 3;
    header[10] = 3;
    header[11] = (u8)(length >> 8);
    header[12] = (u8)length;
    HmacSha1Context context;
    hmacSha1Init(&context, key, 20);
    sha1Update(&context.inner, header, 13);
    sha1Update(&context.inner, data, length);
    std::vector<u8> mac(20);
    hmacSha1Final(mac.data(), &context);
    return mac;
}

enum CbcFault { CbcGood, CbcFlippedMac, CbcBadPaddingByte, CbcPaddingTooLong, CbcTruncated, CbcShort };

// A server record of the CBC suite, built from the keys the client holds for the server's direction.
std::vector<u8> sealCbc(const TlsClient* client, u64 sequence, u8 type, const std::vector<u8>& content, CbcFault fault) {
    const u8* macKey = client->serverMacKey;
    std::vector<u8> plain = content;
    if (!client->encryptThenMac) {
        std::vector<u8> mac = cbcMac(macKey, sequence, type, content.data(), content.size());
        if (fault == CbcFlippedMac) mac[3] ^= 0x10;
        plain.insert(plain.end(), mac.begin(), mac.end());
    }
    size_t pad = 16 - plain.size() % 16;
    if (pad < 3) pad += 16;
    for (size_t i = 0; i < pad; i++) plain.push_back((u8)(pad - 1));
    if (fault == CbcBadPaddingByte) plain[plain.size() - 2] ^= 1;
    if (fault == CbcPaddingTooLong) plain.back() = 255;
    std::vector<u8> body(16);
    for (int i = 0; i < 16; i++) body[i] = (u8)(0xA0 + i);
    u8 chain[16], work[16];
    memcpy(chain, body.data(), 16);
    std::vector<u8> cipher(plain.size());
    encryptAesCbc(work, plain.data(), cipher.data(), (i64)plain.size(), chain, &client->receive.key);
    body.insert(body.end(), cipher.begin(), cipher.end());
    if (fault == CbcTruncated) body.resize(body.size() - 5);
    if (fault == CbcShort) body.resize(16);
    if (client->encryptThenMac) {
        std::vector<u8> mac = cbcMac(macKey, sequence, type, body.data(), body.size());
        if (fault == CbcFlippedMac) mac[3] ^= 0x10;
        body.insert(body.end(), mac.begin(), mac.end());
    }
    std::vector<u8> record = {type, 3, 3, (u8)(body.size() >> 8), (u8)body.size()};
    record.insert(record.end(), body.begin(), body.end());
    return record;
}

// Opens a CBC record the client sent, checking its MAC and padding; empty when either is wrong.
std::vector<u8> openCbc(const TlsClient* keysHolder, const AesKeySchedule& key, u64 sequence,
                        const std::vector<u8>& record) {
    u8 type = record[0];
    std::vector<u8> body(record.begin() + 5, record.end());
    std::vector<u8> mac;
    if (keysHolder->encryptThenMac) {
        mac.assign(body.end() - 20, body.end());
        body.resize(body.size() - 20);
        if (cbcMac(keysHolder->clientMacKey, sequence, type, body.data(), body.size()) != mac) return {};
    }
    std::vector<u8> plain(body.size() - 16);
    decryptAesCbc(body.data() + 16, plain.data(), (i64)plain.size(), body.data(), &key);
    size_t pad = plain.back();
    for (size_t i = 0; i <= pad; i++) {
        if (plain[plain.size() - 1 - i] != pad) return {};
    }
    plain.resize(plain.size() - pad - 1);
    if (!keysHolder->encryptThenMac) {
        mac.assign(plain.end() - 20, plain.end());
        plain.resize(plain.size() - 20);
        if (cbcMac(keysHolder->clientMacKey, sequence, type, plain.data(), plain.size()) != mac) return {};
    }
    return plain;
}

std::vector<u8> extension(u16 type, const std::vector<u8>& body) {
    std::vector<u8> out = {(u8)(type >> 8), (u8)type, (u8)(body.size() >> 8), (u8)body.size()};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// A plaintext ServerHello record.
std::vector<u8> serverHello(u16 suite, const std::vector<u8>& extensions, const u8* random = nullptr) {
    std::vector<u8> body = {3, 3};
    for (int i = 0; i < 32; i++) body.push_back(random ? random[i] : (u8)(0x20 + i));
    body.push_back(0);
    body.push_back((u8)(suite >> 8));
    body.push_back((u8)suite);
    body.push_back(0);
    body.push_back((u8)(extensions.size() >> 8));
    body.push_back((u8)extensions.size());
    body.insert(body.end(), extensions.begin(), extensions.end());
    std::vector<u8> message = {2, 0, (u8)(body.size() >> 8), (u8)body.size()};
    message.insert(message.end(), body.begin(), body.end());
    std::vector<u8> record = {22, 3, 3, (u8)(message.size() >> 8), (u8)message.size()};
    record.insert(record.end(), message.begin(), message.end());
    return record;
}

std::vector<u8> x25519Share(const std::vector<u8>& key) {
    std::vector<u8> body = {0, 0x1D, 0, (u8)key.size()};
    body.insert(body.end(), key.begin(), key.end());
    return extension(51, body);
}

const std::vector<u8> kSelectTls13 = extension(43, {3, 4});

struct RefusalCase {
    const char* name;
    std::vector<u8> record;
    const char* reason;
    u8 alert;
};

// The TLS 1.3 flight in any order but EncryptedExtensions, Certificate, CertificateVerify, Finished is
// refused at the first message out of place: above all a Finished before the server has proven its
// certificate's key with a CertificateVerify.
TEST(TlsServerFlight, MessagesOutOfOrderAreRefused) {
    std::vector<u8> flight = fromHex(rfc8448::kServerFlight);
    std::vector<std::vector<u8>> messages;  // EncryptedExtensions, Certificate, CertificateVerify, Finished
    for (size_t at = 0; at + 4 <= flight.size();) {
        size_t length = 4 + ((size_t)flight[at + 1] << 16 | (size_t)flight[at + 2] << 8 | flight[at + 3]);
        messages.emplace_back(flight.begin() + (long)at, flight.begin() + (long)(at + length));
        at += length;
    }
    ASSERT_EQ(messages.size(), 4u);
    messages.push_back({13, 0, 0, 3, 0, 0, 0});  // a CertificateRequest (index 4)
    struct Case {
        std::vector<int> order;
        const char* reason;
        u8 alert = TlsAlertUnexpectedMessage;
    };
    const Case cases[] = {
        {{0, 1, 3}, "Unexpected handshake message 20 in state 5"},     // no CertificateVerify
        {{0, 3}, "Unexpected handshake message 20 in state 5"},        // no Certificate either
        {{0, 2, 1, 3}, "Unexpected handshake message 15 in state 5"},  // CertificateVerify first
        {{1, 0, 2, 3}, "Unexpected handshake message 11 in state 5"},  // Certificate before EncryptedExtensions
        {{0, 0, 1, 2, 3}, "Unexpected handshake message 8 in state 5"},
        {{0, 1, 1, 2, 3}, "Unexpected handshake message 11 in state 5"},
        {{0, 1, 2, 2, 3}, "Unexpected handshake message 15 in state 5"},
        {{0, 1, 4, 2, 3}, "Unexpected handshake message 13 in state 5"},  // CertificateRequest after Certificate
        {{4, 0, 1, 2, 3}, "Unexpected handshake message 13 in state 5"},  // and before EncryptedExtensions
        // in its place it is taken; only the trace's Finished, made without it, no longer fits
        {{0, 4, 1, 2, 3}, "Server Finished verify data did not match what we hashed", TlsAlertDecryptError},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.reason);
        Replay replay;
        startRfc8448Client(replay.client.get());
        replay.feed(fromHex(rfc8448::kServerHelloRecord));
        ASSERT_FALSE(tlsAborted(replay.client.get())) << text(replay.client->message);
        TlsTrafficKeys serverKeys = replay.client->receive;
        std::vector<u8> inner;
        for (int index : test.order) inner.insert(inner.end(), messages[index].begin(), messages[index].end());
        inner.push_back(22);
        TlsStepResult* out = replay.feed(sealGcm(&serverKeys, inner));
        EXPECT_EQ(out->closed, 1u);
        EXPECT_EQ(text(replay.client->message), test.reason);
        EXPECT_EQ(replay.client->alertDescription, test.alert);
    }
}

TEST(TlsServerHello, ChoicesTheClientDidNotOfferAreRefused) {
    const u8 helloRetryRandom[32] = {0xCF, 0x21, 0xAD, 0x74, 0xE5, 0x9A, 0x61, 0x11, 0xBE, 0x1D, 0x8C,
                                     0x02, 0x1E, 0x65, 0xB8, 0x91, 0xC2, 0xA2, 0x11, 0x16, 0x7A, 0xBB,
                                     0x8C, 0x5E, 0x07, 0x9E, 0x09, 0xE2, 0xC8, 0xA8, 0x33, 0x9C};
    std::vector<u8> serverKey = fromHex(rfc8448::kServerPublicKey);
    std::vector<u8> share = x25519Share(serverKey);
    auto join = [](std::vector<std::vector<u8>> parts) {
        std::vector<u8> out;
        for (auto& part : parts) out.insert(out.end(), part.begin(), part.end());
        return out;
    };
    std::vector<RefusalCase> cases = {
        {"hello retry request", serverHello(0x1301, join({kSelectTls13, extension(51, {0, 0x17})}), helloRetryRandom),
         "Server asked for a second ClientHello (HelloRetryRequest); this client sends its key shares for both of its "
         "groups once and does not retry",
         TlsAlertHandshakeFailure},
        {"TLS 1.2 GCM suite", serverHello(0xC02F, {}), "Server chose cipher suite 0xC02F, which this client did not offer",
         TlsAlertIllegalParameter},
        {"unknown suite", serverHello(0x009C, {}), "Server chose cipher suite 0x009C, which this client did not offer",
         TlsAlertIllegalParameter},
        {"TLS 1.3 suite under TLS 1.2", serverHello(0x1301, {}), "Server chose TLS 1.3 cipher suite 0x1301 for TLS 1.2",
         TlsAlertIllegalParameter},
        {"CBC suite under TLS 1.3", serverHello(0xC013, join({kSelectTls13, share})),
         "Server chose TLS 1.2 cipher suite 0xC013 for TLS 1.3", TlsAlertIllegalParameter},
        {"version not offered", serverHello(0x1301, join({extension(43, {3, 5}), share})),
         "Server chose protocol version 0x0305, which this client did not offer", TlsAlertIllegalParameter},
        {"TLS 1.2 by supported_versions", serverHello(0xC013, extension(43, {3, 3})),
         "Server chose protocol version 0x0303, which this client did not offer", TlsAlertIllegalParameter},
        {"group not offered", serverHello(0x1301, join({kSelectTls13, extension(51, join({{0, 0x18, 0, 2}, {4, 4}}))})),
         "Server chose key-share group 0x0018, which this client did not offer", TlsAlertIllegalParameter},
        {"short X25519 share",
         serverHello(0x1301, join({kSelectTls13, extension(51, join({{0, 0x1D, 0, 31}, std::vector<u8>(31, 9)}))})),
         "Unsupported public key cryptography algorithm. Group 0x001D, Length 31", TlsAlertIllegalParameter},
        {"all-zero X25519 secret", serverHello(0x1301, join({kSelectTls13, x25519Share(std::vector<u8>(32, 0))})),
         "The server's X25519 key share gives an all-zero shared secret", TlsAlertIllegalParameter},
        {"no key share", serverHello(0x1301, kSelectTls13), "The server hello has no key share",
         TlsAlertMissingExtension},
        {"ALPN not offered", serverHello(0xC013, extension(16, {0, 3, 2, 'h', '2'})),
         "Server chose application protocol h2, which this client did not offer", TlsAlertIllegalParameter},
        {"compression", [] {
             std::vector<u8> record = serverHello(0xC013, {});
             record[5 + 4 + 2 + 32 + 1 + 2] = 1;
             return record;
         }(),
         "Unrecognized compressionMethod: 0x01, expected 0 (no compression)", TlsAlertIllegalParameter},
        {"downgraded", serverHello(0xC013, {}, (const u8*)"0123456789abcdef01234567DOWNGRD\x01"),
         "Server supports TLS 1.3 but was pushed down to an older version", TlsAlertIllegalParameter},
    };
    for (const RefusalCase& refusal : cases) {
        SCOPED_TRACE(refusal.name);
        Replay replay;
        startRfc8448Client(replay.client.get());
        TlsStepResult* out = replay.feed(refusal.record);
        EXPECT_EQ(out->closed, 1u);
        EXPECT_EQ(text(replay.client->message), refusal.reason);
        // No keys yet: the alert goes back in the clear.
        replay.step();
        auto sent = replay.sent();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(toHex(sent[0]), toHex(std::vector<u8>{21, 3, 3, 0, 2, 2, refusal.alert}));
    }
    // A TLS 1.3 server echoes the ClientHello's session id; a TLS 1.2 server may name its own.
    for (bool tls13 : {true, false}) {
        SCOPED_TRACE(tls13 ? "TLS 1.3 session id" : "TLS 1.2 session id");
        Replay replay;
        startRfc8448Client(replay.client.get());
        replay.client->sessionIdLength = 32;
        memset(replay.client->sessionId, 0x77, 32);
        replay.feed(tls13 ? serverHello(0x1301, join({kSelectTls13, share})) : serverHello(0xC013, {}));
        if (tls13) {
            EXPECT_EQ(text(replay.client->message), "Server's session id differs from the one the ClientHello sent");
            EXPECT_EQ(replay.client->alertDescription, TlsAlertIllegalParameter);
        } else {
            EXPECT_FALSE(tlsAborted(replay.client.get())) << text(replay.client->message);
        }
    }
}

TEST(TlsServerHello, TwoMessagesInOneRecordAndTls12Parameters) {
    // A TLS 1.2 ServerHello with the extensions the client offered, then a ServerKeyExchange and a
    // ServerHelloDone in the same record.
    Replay replay;
    TlsClient* client = replay.client.get();
    startRfc8448Client(client);
    std::vector<u8> hello = serverHello(0xC013, [] {
        std::vector<u8> out = extension(23, {});
        std::vector<u8> etm = extension(22, {});
        std::vector<u8> points = extension(11, {1, 0});
        out.insert(out.end(), etm.begin(), etm.end());
        out.insert(out.end(), points.begin(), points.end());
        return out;
    }());
    std::vector<u8> serverKey = fromHex(rfc8448::kServerPublicKey);
    std::vector<u8> keyExchange = {12, 0, 0, (u8)(4 + 32 + 4), 3, 0, 0x1D, 32};
    keyExchange.insert(keyExchange.end(), serverKey.begin(), serverKey.end());
    keyExchange.insert(keyExchange.end(), {4, 1, 0, 0});  // an empty signature, not examined yet
    std::vector<u8> messages(hello.begin() + 5, hello.end());
    messages.insert(messages.end(), keyExchange.begin(), keyExchange.end());
    messages.insert(messages.end(), {14, 0, 0, 0});
    std::vector<u8> record = {22, 3, 3, (u8)(messages.size() >> 8), (u8)messages.size()};
    record.insert(record.end(), messages.begin(), messages.end());
    replay.feed(record);
    ASSERT_EQ(client->state, (u32)TlsStateKeyExchangeDue) << text(client->message);
    EXPECT_EQ(client->tls13, 0u);
    EXPECT_EQ(client->extendedMasterSecret, 1u);
    EXPECT_EQ(client->encryptThenMac, 1u);
    EXPECT_EQ(toHex(client->sharedSecret, 32), rfc8448::kSharedSecret);
    // ClientKeyExchange, ChangeCipherSpec and the protected Finished go out in one step.
    replay.step();
    auto sent = replay.sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(toHex(sent[0]), "1603030025100000212099381de560e4bd43d23d8e435a7dbafeb3c06e51c13cae4d5413691e529aaf2c");
    EXPECT_EQ(toHex(sent[1]), "140303000101");
    EXPECT_EQ(sent[2][0], 22);
    EXPECT_EQ(sent[2].size(), 5u + 16 + 32 + 20);  // IV, the 16-byte message and a block of padding, MAC
    EXPECT_EQ(client->state, (u32)TlsStateAwaitingServerChangeCipherSpec);
}

TEST(TlsServerHello, ServerKeyExchangeFaults) {
    std::vector<u8> serverKey = fromHex(rfc8448::kServerPublicKey);
    struct Case {
        std::vector<u8> message;
        const char* reason;
        u8 alert;
    };
    std::vector<u8> explicitCurve = {12, 0, 0, 4, 1, 0, 0x1D, 0};
    std::vector<u8> longKey = {12, 0, 0, 6, 3, 0, 0x1D, 32, 1, 2};
    std::vector<u8> zeroKey = {12, 0, 0, 4 + 32, 3, 0, 0x1D, 32};
    zeroKey.resize(zeroKey.size() + 32, 0);
    std::vector<u8> pointOffCurve = {12, 0, 0, 4 + 65, 3, 0, 0x17, 65, 4};
    pointOffCurve.resize(pointOffCurve.size() + 64, 1);
    std::vector<Case> cases = {
        {explicitCurve, "Unrecognized curve type: 0x01. Expected 3 (named Curve)", TlsAlertDecodeError},
        {longKey, "The Server key exchange key is longer than the handshake message", TlsAlertDecodeError},
        {zeroKey, "The server's X25519 key share gives an all-zero shared secret", TlsAlertIllegalParameter},
        {pointOffCurve,
         "Elliptic Curve point provided by the server isn't on the curve Group:0x0017, "
         "x:0101010101010101010101010101010101010101010101010101010101010101, "
         "y:0101010101010101010101010101010101010101010101010101010101010101",
         TlsAlertIllegalParameter},
        {{14, 0, 0, 0}, "Unexpected handshake message 14 in state 5", TlsAlertUnexpectedMessage},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.reason);
        Replay replay;
        startRfc8448Client(replay.client.get());
        replay.feed(serverHello(0xC013, {}));
        ASSERT_EQ(replay.client->state, (u32)TlsStateReadingServerFlight) << text(replay.client->message);
        std::vector<u8> record = {22, 3, 3, 0, (u8)test.message.size()};
        record.insert(record.end(), test.message.begin(), test.message.end());
        TlsStepResult* out = replay.feed(record);
        EXPECT_EQ(out->closed, 1u);
        EXPECT_EQ(text(replay.client->message), test.reason);
        replay.step();
        auto sent = replay.sent();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(toHex(sent[0]), toHex(std::vector<u8>{21, 3, 3, 0, 2, 2, test.alert}));
    }
    // With verification on, out of order in TLS 1.2: the key exchange before the certificate, the
    // server's ChangeCipherSpec or Finished before the client's flight.
    std::vector<u8> keyExchange = {12, 0, 0, 4 + 32 + 4, 3, 0, 0x1D, 32};
    keyExchange.insert(keyExchange.end(), serverKey.begin(), serverKey.end());
    keyExchange.insert(keyExchange.end(), {4, 1, 0, 0});
    std::vector<u8> keyExchangeRecord = {22, 3, 3, 0, (u8)keyExchange.size()};
    keyExchangeRecord.insert(keyExchangeRecord.end(), keyExchange.begin(), keyExchange.end());
    std::vector<u8> finished = {22, 3, 3, 0, 16, 20, 0, 0, 12};
    finished.resize(finished.size() + 12, 0xF1);
    struct OrderCase {
        std::vector<u8> record;
        const char* reason;
    };
    const OrderCase orderCases[] = {
        {keyExchangeRecord, "Key exchange from the server before its certificate"},
        {{20, 3, 3, 0, 1, 1}, "Unexpected change cipher spec record"},
        {finished, "Unexpected handshake message 20 in state 5"},
    };
    for (const OrderCase& test : orderCases) {
        SCOPED_TRACE(test.reason);
        Replay replay;
        startRfc8448Client(replay.client.get());
        replay.client->skipServerVerification = 0;
        replay.feed(serverHello(0xC013, {}));
        ASSERT_EQ(replay.client->state, (u32)TlsStateReadingServerFlight) << text(replay.client->message);
        TlsStepResult* out = replay.feed(test.record);
        EXPECT_EQ(out->closed, 1u);
        EXPECT_EQ(text(replay.client->message), test.reason);
        EXPECT_EQ(replay.client->alertDescription, TlsAlertUnexpectedMessage);
        EXPECT_EQ(replay.client->serverAuthenticated, 0u);
    }
}

TEST(TlsRecords, Tls13TamperedPaddedAndOversizedRecords) {
    std::vector<u8> payload = fromHex(rfc8448::kApplicationData);
    struct Case {
        const char* name;
        std::vector<u8> (*make)(TlsTrafficKeys* keys, const std::vector<u8>& payload);
        const char* reason;  // null: the payload is delivered
        u8 alert;
    };
    std::vector<Case> cases = {
        {"zero padding is removed",
         [](TlsTrafficKeys* keys, const std::vector<u8>& content) {
             std::vector<u8> inner = content;
             inner.push_back(23);
             inner.resize(inner.size() + 40, 0);
             return sealGcm(keys, inner);
         },
         nullptr, 0},
        {"flipped tag",
         [](TlsTrafficKeys* keys, const std::vector<u8>& content) {
             std::vector<u8> inner = content;
             inner.push_back(23);
             std::vector<u8> record = sealGcm(keys, inner);
             record.back() ^= 1;
             return record;
         },
         "AES GCM authentication failed", TlsAlertBadRecordMac},
        {"flipped ciphertext",
         [](TlsTrafficKeys* keys, const std::vector<u8>& content) {
             std::vector<u8> inner = content;
             inner.push_back(23);
             std::vector<u8> record = sealGcm(keys, inner);
             record[9] ^= 0x80;
             return record;
         },
         "AES GCM authentication failed", TlsAlertBadRecordMac},
        {"only zeros",
         [](TlsTrafficKeys* keys, const std::vector<u8>&) { return sealGcm(keys, std::vector<u8>(20, 0)); },
         "Received a protected record without a content type", TlsAlertUnexpectedMessage},
        {"too short for a tag",
         [](TlsTrafficKeys*, const std::vector<u8>&) {
             std::vector<u8> record = {23, 3, 3, 0, 15};
             record.resize(20, 7);
             return record;
         },
         "The record length is insufficient to hold an AES GCM authentication block", TlsAlertDecodeError},
        {"over the record size limit",
         [](TlsTrafficKeys*, const std::vector<u8>&) { return std::vector<u8>{23, 3, 3, 0x41, 0x01}; },
         "Received a record of 16641 bytes, over the limit of 16640", TlsAlertRecordOverflow},
        {"content over 16384 bytes",
         [](TlsTrafficKeys* keys, const std::vector<u8>&) {
             std::vector<u8> inner(16385, 'x');
             inner.push_back(23);
             return sealGcm(keys, inner);
         },
         "Received a record with 16385 bytes of content, more than 16384", TlsAlertRecordOverflow},
        {"plaintext handshake after the keys",
         [](TlsTrafficKeys*, const std::vector<u8>&) { return std::vector<u8>{22, 3, 3, 0, 4, 4, 0, 0, 0}; },
         "Received an unprotected record of type 22 after the keys were set", TlsAlertUnexpectedMessage},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Replay replay;
        establishRfc8448(&replay);
        TlsClient* client = replay.client.get();
        TlsTrafficKeys serverKeys = client->receive;
        TlsStepResult* out = replay.feed(test.make(&serverKeys, payload));
        if (!test.reason) {
            ASSERT_EQ(out->dataReceived, 1u) << text(client->message);
            EXPECT_EQ(toHex(out->data.data, (size_t)out->data.length), toHex(payload));
            continue;
        }
        EXPECT_EQ(out->closed, 1u);
        EXPECT_EQ(out->dataReceived, 0u);
        EXPECT_EQ(text(client->message), test.reason);
        // The alert goes back under the client's application key.
        TlsTrafficKeys clientKeys = client->send;
        replay.step();
        auto sent = replay.sent();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(toHex(openGcm(&clientKeys, sent[0])), toHex(std::vector<u8>{2, test.alert, 21}));
    }
}

TEST(TlsRecords, CbcFaultsAllGiveTheSameBadRecordMac) {
    std::vector<u8> content = {'H', 'T', 'T', 'P', '/', '1', '.', '1', ' ', '2', '0', '0'};
    for (u32 encryptThenMac : {0u, 1u}) {
        for (CbcFault fault : {CbcGood, CbcFlippedMac, CbcBadPaddingByte, CbcPaddingTooLong, CbcTruncated, CbcShort}) {
            SCOPED_TRACE(testing::Message() << "encrypt-then-MAC " << encryptThenMac << ", fault " << fault);
            Replay replay;
            TlsClient* client = replay.client.get();
            startEstablishedCbcClient(client, encryptThenMac);
            // Two good records first, so that sequence numbers are checked too.
            for (u64 sequence = 0; sequence < 2; sequence++) {
                TlsStepResult* out = replay.feed(sealCbc(client, sequence, 23, content, CbcGood));
                ASSERT_EQ(out->dataReceived, 1u) << text(client->message);
                EXPECT_EQ(std::string((char*)out->data.data, (size_t)out->data.length), "HTTP/1.1 200");
            }
            TlsStepResult* out = replay.feed(sealCbc(client, 2, 23, content, fault));
            if (fault == CbcGood) {
                EXPECT_EQ(out->dataReceived, 1u);
                continue;
            }
            EXPECT_EQ(out->closed, 1u);
            EXPECT_EQ(out->dataReceived, 0u);
            EXPECT_EQ(text(client->message), "Record authentication failed");
            auto keys = std::make_unique<TlsClient>(*client);
            replay.step();
            auto sent = replay.sent();
            ASSERT_EQ(sent.size(), 1u);
            ASSERT_EQ(sent[0][0], 21);
            EXPECT_EQ(toHex(openCbc(keys.get(), keys->send.key, keys->send.sequence, sent[0])), "0214");
        }
    }
}

TEST(TlsRecords, CbcRecordsTheClientSendsOpenWithTheServerKeys) {
    for (u32 encryptThenMac : {0u, 1u}) {
        Replay replay;
        TlsClient* client = replay.client.get();
        client->fixedCbcIv = 1;
        startEstablishedCbcClient(client, encryptThenMac);
        // A request longer than one record goes out as several.
        std::vector<u8> request(12000);
        for (size_t i = 0; i < request.size(); i++) request[i] = (u8)(i * 7);
        replay.queueRequest(request);
        auto keys = std::make_unique<TlsClient>(*client);
        replay.step();
        auto sent = replay.sent();
        ASSERT_EQ(sent.size(), 3u);
        std::vector<u8> joined;
        for (u64 i = 0; i < sent.size(); i++) {
            EXPECT_EQ(toHex(std::vector<u8>(sent[i].begin() + 5, sent[i].begin() + 21)),
                      "404142434445464748494a4b4c4d4e4f");
            std::vector<u8> part = openCbc(keys.get(), keys->send.key, i, sent[i]);
            ASSERT_FALSE(part.empty());
            joined.insert(joined.end(), part.begin(), part.end());
        }
        EXPECT_EQ(joined, request);
    }
}

}  // namespace

// The TLS 1.2 PRF against Python's HMAC for label and seed lengths on both sides of a 128-byte
// total (longer input was once left unwritten, the output buffer then used as key material), and
// missing input refused with a message rather than ignored.
TEST(Tls12Prf, AnyLengthMatchesAnIndependentPrfAndMissingInputIsRefused) {
    std::string expected = runPython(
        "import hmac, hashlib, sys\n"
        "def prf(secret, seed, n):\n"
        "    a, out = seed, b''\n"
        "    while len(out) < n:\n"
        "        a = hmac.new(secret, a, hashlib.sha256).digest()\n"
        "        out += hmac.new(secret, a + seed, hashlib.sha256).digest()\n"
        "    return out[:n]\n"
        "for length in (10, 100, 300):\n"
        "    seed = bytes((i * 13) % 256 for i in range(length))\n"
        "    print(prf(bytes(range(48)), b'key expansion' + seed, 100).hex())\n",
        "");
    std::string got;
    u8 secret[48];
    for (int i = 0; i < 48; i++) secret[i] = (u8)i;
    for (int length : {10, 100, 300}) {
        std::vector<u8> seed(length);
        for (int i = 0; i < length; i++) seed[i] = (u8)((i * 13) % 256);
        u8 out[100];
        memset(out, 0xAA, sizeof(out));
        FixedString failure = tls12Prf(secret, 48, "key expansion", seed.data(), seed.size(), out, sizeof(out));
        EXPECT_EQ(failure.length, 0);
        got += hexOf(out, sizeof(out)) + "\n";
    }
    EXPECT_EQ(got, expected);

    u8 out[12];
    memset(out, 0xAA, sizeof(out));
    FixedString failure = tls12Prf(secret, 48, "client finished", nullptr, 32, out, sizeof(out));
    EXPECT_EQ(text(failure), "The TLS 1.2 key derivation was given a missing secret, label, seed or output");
    EXPECT_EQ(hexOf(out, sizeof(out)), std::string(24, '0'));
    EXPECT_NE(tls12Prf(secret, 48, nullptr, out, 12, out, sizeof(out)).length, 0);
}
