// Server authentication against real servers on loopback, with the test PKI's root as the only
// trust anchor: s_server and gnutls-serv with good chains of every key kind are accepted under TLS
// 1.3 and 1.2 (RSA-PSS and PKCS#1 key exchange signatures); a wrong host name, an untrusted root, a
// self-signed certificate, an expired one and an altered signature are refused with their alert,
// which reaches the server; a TLS 1.3 server whose CertificateVerify is signed by another key (a
// scripted server) and a TLS 1.2 server whose key exchange is (its Certificate swapped by a proxy)
// are refused with decrypt_error. The CertificateVerify is also checked directly: signed by the
// certificate's key, by another key, under schemes not offered.
#include "Core/Clock.h"
#include "Crypto/TestPki.h"
#include "HttpsTestPeers.h"
#include "NetworkTestSupport.h"
#include "Network/TlsInternal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

u64 verifyNow = 40000000;
u64 verifyClock() { return verifyNow; }

std::unique_ptr<TrustStore> rootStore() {
    auto store = std::make_unique<TrustStore>();
    std::string pem = testpki::readText(testpki::path("ca.pem"));
    addPemTrustAnchors(store.get(), (const u8*)pem.data(), pem.size());
    return store;
}

struct Outcome {
    bool established = false;
    u32 tls13 = 0;
    u8 alert = 0;  // the alert the client sent, 0 when none
    std::string message;
    std::string received;
};

struct TlsVerify : ::testing::Test {
    std::string folder;
    std::unique_ptr<TrustStore> store;
    PeerProcess server;
    PeerProcess proxy;
    u16 port = 0;

    void SetUp() override {
        ASSERT_FALSE(testpki::folder().empty()) << "make-test-pki.sh failed";
        folder = makeScratchFolder("orvik-verify");
        store = rootStore();
        ASSERT_EQ(store->count, 1u);
        writeTextFile(folder + "/f.txt", "verified content\n");
    }
    void TearDown() override {
        stopPeerProcess(&proxy);
        stopPeerProcess(&server);
        removeFolder(folder);
    }

    // Starts a server whose arguments name PORT and the PKI's files as PKI/...; tries another port
    // when the first was taken meanwhile.
    bool start(std::vector<std::string> pattern) {
        for (int attempt = 0; attempt < 3; attempt++) {
            port = freeTcpPort();
            std::vector<std::string> arguments = pattern;
            for (std::string& argument : arguments) {
                size_t at = argument.find("PORT");
                if (at != std::string::npos) argument.replace(at, 4, std::to_string(port));
                at = argument.find("PKI/");
                if (at != std::string::npos) argument.replace(at, 3, testpki::folder());
            }
            if (!startPeerProcess(&server, arguments, folder)) return false;
            if (waitForPeerListening(&server, port)) return true;
            stopPeerProcess(&server);
        }
        return false;
    }
    bool startOpenssl(const std::string& name, const std::vector<std::string>& extra) {
        std::vector<std::string> arguments = {"openssl", "s_server", "-accept", "127.0.0.1:PORT", "-cert",
                                              "PKI/" + name + ".crt", "-key", "PKI/" + name + ".key", "-WWW"};
        if (testpki::readText(testpki::path(name + "-chain.pem")).size() >
            testpki::readText(testpki::path(name + ".crt")).size()) {
            arguments.push_back("-cert_chain");
            arguments.push_back("PKI/inter.crt");
        }
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return start(arguments);
    }
    bool startGnutls(const std::string& name, const std::string& priority) {
        return start({"gnutls-serv", "--http", "--httpdata=f.txt", "-p", "PORT", "--x509certfile=PKI/" + name + "-chain.pem",
                      "--x509keyfile=PKI/" + name + ".key", "--priority", priority});
    }
    std::string serverLog() { return readTextFile(server.log); }

    // One GET to the port, stepped a frame at a time until the connection ends or the file came.
    Outcome fetch(const char* hostName = "localhost", u16 toPort = 0) {
        Outcome outcome;
        auto client = std::make_unique<TlsClient>();
        auto socket = std::make_unique<Socket>();
        auto queue = std::make_unique<TlsSendQueue>();
        memset((void*)client.get(), 0, sizeof(TlsClient));
        memset((void*)socket.get(), 0, sizeof(Socket));
        memset((void*)queue.get(), 0, sizeof(TlsSendQueue));
        client->clock = verifyClock;
        client->trustStore = store.get();
        socket->clock = verifyClock;
        std::string request = "GET /f.txt HTTP/1.0\r\n\r\n";
        appendBytes(request.data(), (i64)request.size(), queueTlsRecord(queue.get()));
        u8 loopback[4] = {127, 0, 0, 1};
        AddressRecord address = makeAddressRecord(4, loopback, toPort ? toPort : port);
        FixedString host = makeString(hostName);
        TlsStepResult out;
        // The clock moves on only when it may (see tlsClockMayMove).
        for (u64 start = realMicroseconds(); withinPatience(start);) {
            tlsClient(&out, client.get(), socket.get(), &address, &host, queue.get());
            outcome.received.append((const char*)out.data.data, (size_t)out.data.length);
            // The server answers only the request, which goes out once the connection is established;
            // on a busy machine the step that sends it can also read the whole answer and the server's
            // close_notify behind it, and so end past the established state.
            if (client->state == TlsStateEstablished || out.dataReceived) {
                outcome.established = true;
                outcome.tls13 = client->tls13;
            }
            if (out.closed || outcome.received.find("verified content") != std::string::npos) break;
            if (tlsClockMayMove(client.get(), socket.get(), 100)) verifyNow += 16667;
        }
        outcome.message = text(client->message);
        if (out.closed && client->alertLevel == 2) outcome.alert = client->alertDescription;
        for (int frame = 0; frame < 3; frame++) {  // the alert goes out before the socket closes
            verifyNow += 16667;
            tlsClient(&out, client.get(), socket.get(), &address, &host, queue.get());
        }
        closeSocket(socket.get());
        return outcome;
    }
    // The server's log names the alert it received (s_server without -quiet).
    void expectServerGotAlert(u8 alert) {
        std::string needle = "alert number " + std::to_string(alert);
        for (u64 start = realMicroseconds(); withinPatience(start) && serverLog().find(needle) == std::string::npos;) {
            waitBriefly();
        }
        EXPECT_NE(serverLog().find(needle), std::string::npos) << serverLog();
    }
};

TEST_F(TlsVerify, GoodChainsAreAcceptedUnderTls13) {
    for (const char* name : {"rsa2048", "rsa4096", "p256", "p384", "pss", "direct"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(startOpenssl(name, {"-tls1_3", "-quiet"})) << serverLog();
        Outcome o = fetch();
        EXPECT_TRUE(o.established) << o.message;
        EXPECT_EQ(o.tls13, 1u);
        EXPECT_NE(o.received.find("verified content"), std::string::npos) << o.message;
        // the other names of the certificate
        for (const char* other : {"127.0.0.1", "tiles.wild.test"}) {
            Outcome byOther = fetch(other);
            EXPECT_TRUE(byOther.established) << other << ": " << byOther.message << "\n" << serverLog();
        }
        stopPeerProcess(&server);
    }
    for (const char* name : {"p384", "rsa4096", "p256"}) {
        SCOPED_TRACE(std::string("gnutls ") + name);
        ASSERT_TRUE(startGnutls(name, "NORMAL:-VERS-ALL:+VERS-TLS1.3")) << serverLog();
        Outcome o = fetch();
        EXPECT_TRUE(o.established) << o.message;
        EXPECT_NE(o.received.find("verified content"), std::string::npos) << o.message;
        stopPeerProcess(&server);
    }
}

// TLS 1.2 servers sign their key exchange with RSA-PSS when offered, PKCS#1 v1.5 when limited to it.
TEST_F(TlsVerify, GoodChainsAreAcceptedUnderTls12) {
    struct Case {
        const char* name;
        std::vector<std::string> extra;
    };
    const Case cases[] = {
        {"rsa2048", {"-tls1_2", "-cipher", "ECDHE-RSA-AES128-SHA", "-quiet"}},
        {"rsa4096", {"-tls1_2", "-cipher", "ECDHE-RSA-AES128-SHA", "-sigalgs", "RSA+SHA512", "-quiet"}},
        {"rsa2048", {"-tls1_2", "-cipher", "ECDHE-RSA-AES128-SHA", "-sigalgs", "RSA-PSS+SHA384", "-quiet"}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ASSERT_TRUE(startOpenssl(test.name, test.extra)) << serverLog();
        Outcome o = fetch();
        EXPECT_TRUE(o.established) << o.message;
        EXPECT_EQ(o.tls13, 0u);
        EXPECT_NE(o.received.find("verified content"), std::string::npos) << o.message;
        stopPeerProcess(&server);
    }
    ASSERT_TRUE(startGnutls("rsa2048", "NONE:+VERS-TLS1.2:+ECDHE-RSA:+AES-128-CBC:+SHA1:+SIGN-RSA-SHA256:+GROUP-ALL:"
                                       "+COMP-NULL:+CTYPE-X509"))
        << serverLog();
    Outcome o = fetch();
    EXPECT_TRUE(o.established) << o.message;
    EXPECT_NE(o.received.find("verified content"), std::string::npos) << o.message;
}

TEST_F(TlsVerify, BadChainsAreRefusedWithTheirAlert) {
    struct Case {
        const char* name;
        const char* host;
        u8 alert;
        const char* message;
    };
    const Case cases[] = {
        {"p256", "example.test", TlsAlertBadCertificate, "Certificate is not for example.test"},
        {"untrusted", "localhost", TlsAlertUnknownCa, "Certificate of localhost is from an unknown authority"},
        {"self", "localhost", TlsAlertUnknownCa, "Certificate of localhost is self-signed and not trusted"},
        {"expired", "localhost", TlsAlertCertificateExpired, "Certificate of localhost has expired"},
        {"altered", "localhost", TlsAlertBadCertificate, "Certificate of localhost rejected: bad signature"},
    };
    for (const char* version : {"-tls1_3", "-tls1_2"}) {
        for (const Case& test : cases) {
            SCOPED_TRACE(std::string(test.name) + " " + version);
            std::string name = test.name;
            if (std::string(version) == "-tls1_2" && name == "p256") name = "rsa2048";  // the RSA suite
            if (std::string(version) == "-tls1_2" && name != "rsa2048") continue;  // EC keys: TLS 1.3 only
            ASSERT_TRUE(startOpenssl(name, {version, "-cipher", "ECDHE-RSA-AES128-SHA"})) << serverLog();
            Outcome o = fetch(test.host);
            EXPECT_FALSE(o.established);
            EXPECT_EQ(o.alert, test.alert);
            EXPECT_EQ(o.message, test.message);
            EXPECT_EQ(o.received, "");
            expectServerGotAlert(test.alert);
            stopPeerProcess(&server);
        }
    }
    // gnutls-serv with a chain that leads nowhere
    ASSERT_TRUE(startGnutls("untrusted", "NORMAL:-VERS-ALL:+VERS-TLS1.3")) << serverLog();
    Outcome o = fetch();
    EXPECT_FALSE(o.established);
    EXPECT_EQ(o.alert, TlsAlertUnknownCa);
}

// A client without a store of its own uses the program's, which start-up fills from the system's
// bundle: before that, nothing is trusted.
TEST_F(TlsVerify, TheProgramStoreIsTheDefault) {
    ASSERT_TRUE(startOpenssl("p256", {"-tls1_3"})) << serverLog();
    store.reset();
    Outcome o = fetch();
    EXPECT_FALSE(o.established);
    EXPECT_EQ(o.alert, TlsAlertUnknownCa);
    EXPECT_EQ(o.message, "Can't check the certificate of localhost: no trusted certificates loaded");
    expectServerGotAlert(TlsAlertUnknownCa);
    // while the bundle is being read
    TrustStore* program = programTrustStore();
    program->state = TrustStoreLoading;
    program->message = makeString("Loading trusted certificates");
    o = fetch();
    EXPECT_EQ(o.message, "Can't check the certificate of localhost: Loading trusted certificates");
    // and once the test root is in it
    std::string pem = testpki::readText(testpki::path("ca.pem"));
    EXPECT_EQ(addPemTrustAnchors(program, (const u8*)pem.data(), pem.size()), 1u);
    o = fetch();
    EXPECT_TRUE(o.established) << o.message;
    memset((void*)program, 0, sizeof(TrustStore));
}

// A proxy hands the client the chain of another server key (rsa4096's) while the server signs its
// key exchange with its own (rsa2048's).
TEST_F(TlsVerify, KeyExchangeSignedByAnotherKeyIsRefused) {
    ASSERT_TRUE(startOpenssl("rsa2048", {"-tls1_2", "-cipher", "ECDHE-RSA-AES128-SHA", "-quiet"})) << serverLog();
    u16 proxyPort = 0;
    bool ready = false;
    for (int attempt = 0; attempt < 3 && !ready; attempt++) {
        proxyPort = freeTcpPort();
        ASSERT_TRUE(startPeerProcess(&proxy,
                                     {"/usr/bin/python3", ORVIK_SOURCE_DIR "/Tests/Network/TlsCertificateSwapProxy.py",
                                      std::to_string(proxyPort), std::to_string(port),
                                      testpki::path("rsa4096-chain.pem")},
                                     folder));
        ready = waitForPeerListening(&proxy, proxyPort);
        if (!ready) stopPeerProcess(&proxy);
    }
    ASSERT_TRUE(ready) << readTextFile(proxy.log);
    Outcome o = fetch("localhost", proxyPort);
    EXPECT_FALSE(o.established);
    EXPECT_EQ(o.alert, TlsAlertDecryptError);
    EXPECT_EQ(o.message, "The key exchange signature of localhost does not verify");
    // without the swap the same server is accepted
    EXPECT_TRUE(fetch().established);
}

// A scripted TLS 1.3 server signs its CertificateVerify with the key the test names: the
// certificate's own is accepted, another key is refused with decrypt_error, which the server reads
// under the client's handshake keys.
TEST_F(TlsVerify, CertificateVerifySignedByAnotherKeyIsRefused) {
    struct Case {
        const char* chain;
        const char* key;
        bool accepted;
    };
    const Case cases[] = {{"p256-chain.pem", "p256.key", true},     {"p256-chain.pem", "direct.key", false},
                          {"p384-chain.pem", "p384.key", true},     {"p384-chain.pem", "inter.key", false},
                          {"rsa2048-chain.pem", "rsa2048.key", true}, {"rsa2048-chain.pem", "pss.key", false}};
    for (const Case& test : cases) {
        SCOPED_TRACE(std::string(test.chain) + " signed by " + test.key);
        ASSERT_TRUE(start({"/usr/bin/python3", ORVIK_SOURCE_DIR "/Tests/Network/Tls13SigningPeer.py", "PORT",
                           "PKI/" + std::string(test.chain), "PKI/" + std::string(test.key)}))
            << serverLog();
        Outcome o = fetch();
        const char* answer = test.accepted ? "FINISHED" : "ALERT 2 51";
        for (u64 start = realMicroseconds(); withinPatience(start) && serverLog().find(answer) == std::string::npos;) {
            waitBriefly();
        }
        EXPECT_NE(serverLog().find(answer), std::string::npos) << serverLog();
        if (test.accepted) {
            // The client's Finished reached the server (above): it goes out only once the client took the
            // server's flight. The server closes right after it, and on a busy machine the step that sent
            // the Finished can end in that close, past the established state.
            EXPECT_EQ(o.alert, 0) << o.message;
        } else {
            EXPECT_FALSE(o.established);
            EXPECT_EQ(o.alert, TlsAlertDecryptError);
            EXPECT_EQ(o.message, "The CertificateVerify signature of localhost does not verify");
        }
        stopPeerProcess(&server);
    }
}

// The CertificateVerify, checked on a client that has taken p256's chain: the content is the 64
// spaces, the context string, a zero and the transcript hash, signed by OpenSSL's command line.
struct CertificateVerify : TlsVerify {
    std::unique_ptr<TlsClient> client;
    std::vector<u8> transcript = std::vector<u8>(32, 0x5C);

    void startClient() {
        client = std::make_unique<TlsClient>();
        memset((void*)client.get(), 0, sizeof(TlsClient));
        client->clock = verifyClock;
        resetTlsClient(client.get());
        client->trustStore = store.get();
        client->tls13 = 1;
        client->hostName = makeString("localhost");
        client->state = TlsStateReadingServerFlight;
    }
    // A TLS 1.3 Certificate body of the chain file's certificates.
    static std::vector<u8> certificateBody(const std::string& chainFile) {
        std::vector<u8> list;
        for (const auto& der : testpki::certificates(chainFile)) {
            u32 n = (u32)der.size();
            list.insert(list.end(), {(u8)(n >> 16), (u8)(n >> 8), (u8)n});
            list.insert(list.end(), der.begin(), der.end());
            list.insert(list.end(), {0, 0});
        }
        u32 n = (u32)list.size();
        std::vector<u8> body = {0, (u8)(n >> 16), (u8)(n >> 8), (u8)n};
        body.insert(body.end(), list.begin(), list.end());
        return body;
    }
    std::vector<u8> sign(const std::string& key, const char* digest, const std::vector<std::string>& options = {}) {
        std::string content(64, ' ');
        content += "TLS 1.3, server CertificateVerify";
        content.push_back('\0');
        content.append((const char*)transcript.data(), transcript.size());
        writeTextFile(folder + "/content", content);
        std::string command = "openssl dgst -" + std::string(digest) + " -sign " + testpki::path(key) + " -out " +
                              folder + "/signature";
        for (const auto& option : options) command += " " + option;
        EXPECT_TRUE(runCommand(command + " " + folder + "/content"));
        std::string signature = readTextFile(folder + "/signature");
        return std::vector<u8>(signature.begin(), signature.end());
    }
    u32 verify(u16 scheme, const std::vector<u8>& signature) {
        std::vector<u8> body = {(u8)(scheme >> 8), (u8)scheme, (u8)(signature.size() >> 8), (u8)signature.size()};
        body.insert(body.end(), signature.begin(), signature.end());
        return checkServerCertificateVerify(client.get(), body.data(), (i64)body.size(), transcript.data());
    }
    void takeChain(const std::string& chainFile) {
        startClient();
        std::vector<u8> body = certificateBody(chainFile);
        ASSERT_EQ(checkServerCertificate(client.get(), body.data(), (i64)body.size()), 0u) << text(client->message);
        ASSERT_EQ(client->serverCertificateSeen, 1u);
    }
};

TEST_F(CertificateVerify, SignedByTheCertificatesKey) {
    takeChain("p256-chain.pem");
    EXPECT_EQ(verify(0x0403, sign("p256.key", "sha256")), 0u) << text(client->message);
    EXPECT_EQ(client->serverAuthenticated, 1u);
    takeChain("p384-chain.pem");
    EXPECT_EQ(verify(0x0503, sign("p384.key", "sha384")), 0u) << text(client->message);
    takeChain("rsa4096-chain.pem");
    EXPECT_EQ(verify(0x0806, sign("rsa4096.key", "sha512", {"-sigopt", "rsa_padding_mode:pss", "-sigopt",
                                                            "rsa_pss_saltlen:digest"})),
              0u)
        << text(client->message);
}

TEST_F(CertificateVerify, SignedByAnotherKeyIsRefused) {
    takeChain("p256-chain.pem");
    EXPECT_EQ(verify(0x0403, sign("direct.key", "sha256")), 1u);  // another P-256 key
    EXPECT_EQ(client->alertDescription, TlsAlertDecryptError);
    EXPECT_EQ(text(client->message), "The CertificateVerify signature of localhost does not verify");
    EXPECT_EQ(client->serverAuthenticated, 0u);
    takeChain("rsa2048-chain.pem");
    EXPECT_EQ(verify(0x0804, sign("pss.key", "sha256", {"-sigopt", "rsa_padding_mode:pss", "-sigopt",
                                                       "rsa_pss_saltlen:digest"})),
              1u);
    EXPECT_EQ(client->alertDescription, TlsAlertDecryptError);
    // the right key over another transcript
    takeChain("p256-chain.pem");
    std::vector<u8> signature = sign("p256.key", "sha256");
    transcript[0] ^= 1;
    EXPECT_EQ(verify(0x0403, signature), 1u);
    EXPECT_EQ(client->alertDescription, TlsAlertDecryptError);
}

TEST_F(CertificateVerify, SchemesThatDoNotFit) {
    struct Case {
        const char* chain;
        u16 scheme;
        const char* message;
    };
    const Case cases[] = {
        {"p256-chain.pem", 0x0503, "Signature scheme 0x0503 does not fit the certificate of localhost"},
        {"p384-chain.pem", 0x0403, "Signature scheme 0x0403 does not fit the certificate of localhost"},
        {"rsa2048-chain.pem", 0x0401, "Signature scheme 0x0401 does not fit the certificate of localhost"},
        {"rsa2048-chain.pem", 0x0809, "Signature scheme 0x0809 does not fit the certificate of localhost"},
        {"p256-chain.pem", 0x0804, "Signature scheme 0x0804 does not fit the certificate of localhost"},
        {"p256-chain.pem", 0x0603, "Signature scheme 0x0603 was not offered to localhost"},
        {"rsa2048-chain.pem", 0x0201, "Signature scheme 0x0201 was not offered to localhost"},
        {"p256-chain.pem", 0x0807, "Signature scheme 0x0807 was not offered to localhost"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.message);
        takeChain(test.chain);
        EXPECT_EQ(verify(test.scheme, std::vector<u8>(64, 1)), 1u);
        EXPECT_EQ(client->alertDescription, TlsAlertIllegalParameter);
        EXPECT_EQ(text(client->message), test.message);
    }
    // a signature field that does not fill the message
    takeChain("p256-chain.pem");
    std::vector<u8> body = {4, 3, 0, 9, 1, 2};
    EXPECT_EQ(checkServerCertificateVerify(client.get(), body.data(), (i64)body.size(), transcript.data()), 1u);
    EXPECT_EQ(client->alertDescription, TlsAlertDecodeError);
}

// The server's Certificate message itself: contexts, lengths, unreadable certificates, and the time
// taken from the client's UTC clock.
TEST_F(CertificateVerify, CertificateMessages) {
    startClient();
    std::vector<u8> body = certificateBody("p256-chain.pem");
    body[0] = 1;  // a request context from the server
    body.insert(body.begin() + 1, 7);
    EXPECT_EQ(checkServerCertificate(client.get(), body.data(), (i64)body.size()), 1u);
    EXPECT_EQ(client->alertDescription, TlsAlertIllegalParameter);
    startClient();
    body = certificateBody("p256-chain.pem");
    body.push_back(0);
    EXPECT_EQ(checkServerCertificate(client.get(), body.data(), (i64)body.size()), 1u);
    EXPECT_EQ(client->alertDescription, TlsAlertDecodeError);
    startClient();
    std::vector<u8> empty = {0, 0, 0, 0};
    EXPECT_EQ(checkServerCertificate(client.get(), empty.data(), 4), 1u);
    EXPECT_EQ(text(client->message), "No certificate from localhost");
    startClient();
    body = certificateBody("p256-chain.pem");
    body[10] ^= 0xFF;  // inside the first certificate's DER header
    EXPECT_EQ(checkServerCertificate(client.get(), body.data(), (i64)body.size()), 1u);
    EXPECT_EQ(client->alertDescription, TlsAlertBadCertificate);
    // 2050: every certificate of the chain has expired
    startClient();
    static i64 future = 0;
    future = (i64)2524608000 * 1000 + kUnixEpochIn1601Milliseconds;
    client->utcClock = [] { return future; };
    body = certificateBody("p256-chain.pem");
    EXPECT_EQ(checkServerCertificate(client.get(), body.data(), (i64)body.size()), 1u);
    EXPECT_EQ(client->alertDescription, TlsAlertCertificateExpired);
    // the settings survive the reset that follows an abort
    resetTlsClient(client.get());
    EXPECT_EQ(client->trustStore, store.get());
    EXPECT_NE(client->utcClock, nullptr);
    EXPECT_EQ(client->serverCertificateSeen, 0u);
    // a key exchange before any certificate
    client->tls13 = 0;
    std::vector<u8> signature = {4, 1, 0, 1, 0};
    u8 params[4] = {3, 0, 0x1D, 0};
    EXPECT_EQ(checkServerKeyExchangeSignature(client.get(), params, 4, signature.data(), (i64)signature.size()), 1u);
    EXPECT_EQ(client->alertDescription, TlsAlertUnexpectedMessage);
}

}  // namespace
