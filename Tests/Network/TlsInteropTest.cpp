// The client against two independent TLS servers on loopback, OpenSSL's s_server and GnuTLS's
// gnutls-serv: every suite and group it offers, TLS 1.2 with and without encrypt-then-MAC and the
// extended master secret, a server that fragments its handshake, one that asks for a second
// ClientHello and one that offers only suites the client lacks. Each test makes its certificates,
// starts its own server on a free port and stops it again.
#include "Crypto/TestPki.h"
#include "HttpsTestPeers.h"
#include "NetworkTestSupport.h"
#include "Network/Tls.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <ostream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

u64 interopNow = 10000000;
u64 interopClock() { return interopNow; }

// One frame of the client against the live server; then its clock moves on 16.7 ms when it may (see
// tlsClockMayMove), after up to 100 ms of real time for the server's bytes.
void clientFrame(TlsStepResult* out, TlsClient* client, Socket* socket, const AddressRecord* address,
                 const FixedString* host, TlsSendQueue* queue) {
    tlsClient(out, client, socket, address, host, queue);
    if (tlsClockMayMove(client, socket, 100)) interopNow += 16667;
}

std::string makeScratchFolder() {
    char pattern[] = "/tmp/orvik-tls-XXXXXX";
    const char* made = mkdtemp(pattern);
    return made ? made : "";
}

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

u16 freePort() {
    int handle = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    bind(handle, (sockaddr*)&address, sizeof(address));
    socklen_t length = sizeof(address);
    getsockname(handle, (sockaddr*)&address, &length);
    close(handle);
    return ntohs(address.sin_port);
}

struct Fetched {
    std::string received;  // the decrypted bytes of the whole connection
    std::string message;   // the client's status text when the connection ended
    bool established = false;
    u32 tls13 = 0;
    u16 suite = 0;
    u16 group = 0;
    u32 encryptThenMac = 0;
    u32 extendedMasterSecret = 0;
};

struct TlsInterop : ::testing::Test {
    std::string folder;
    std::string content;
    pid_t server = -1;
    int serverInput = -1;  // the server's standard input, when startServer was asked for it
    u16 port = 0;
    std::unique_ptr<TrustStore> trust;
    void (*previousPipeHandler)(int) = nullptr;

    void SetUp() override {
        previousPipeHandler = signal(SIGPIPE, SIG_IGN);
        folder = makeScratchFolder();
        ASSERT_FALSE(folder.empty());
        for (const char* key : {"ec", "rsa"})
            ASSERT_TRUE(testpki::makeSelfSigned(folder, key, key, "/CN=localhost",
                                                {"subjectAltName=DNS:localhost,IP:127.0.0.1"}));
        // The servers' own certificates are the trust anchors.
        trust = std::make_unique<TrustStore>();
        for (const char* name : {"/ec.crt", "/rsa.crt"}) {
            std::ifstream file(folder + name);
            std::string pem((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            ASSERT_EQ(addPemTrustAnchors(trust.get(), (const u8*)pem.data(), pem.size()), 1u) << name;
        }
        // A file of 40,000 bytes: several records and socket packets long.
        for (int i = 0; i < 40000; i++) content += (char)("abcdefghijklmnopqrstuvwxyz0123456789\n"[(i * 7 + i / 37) % 37]);
        std::ofstream(folder + "/f.txt", std::ios::binary) << content;
    }
    void TearDown() override {
        stopServer();
        if (!folder.empty()) run("rm -rf " + folder);
        signal(SIGPIPE, previousPipeHandler);
    }

    // Starts a server with its arguments ("PORT" stands for the port) in the scratch folder. A server
    // that exits at once (its port taken in the meantime) is started again on another port.
    void startServer(const std::vector<std::string>& pattern, bool withInput = false) {
        for (int attempt = 0; attempt < 3; attempt++) {
            int pipeEnds[2] = {-1, -1};
            if (withInput && pipe(pipeEnds) != 0) FAIL() << "no pipe";
            port = freePort();
            std::vector<std::string> arguments = pattern;
            for (std::string& argument : arguments) {
                size_t at = argument.find("PORT");
                if (at != std::string::npos) argument.replace(at, 4, std::to_string(port));
            }
            server = fork();
            if (server == 0) {
                if (chdir(folder.c_str()) != 0) _exit(126);
                int input = withInput ? pipeEnds[0] : open("/dev/null", O_RDONLY);
                if (withInput) close(pipeEnds[1]);
                int log = open("server.log", O_WRONLY | O_CREAT | O_TRUNC, 0644);
                dup2(input, 0);
                dup2(log, 1);
                dup2(log, 2);
                std::vector<char*> argv;
                for (std::string& argument : arguments) argv.push_back(argument.data());
                argv.push_back(nullptr);
                execvp(argv[0], argv.data());
                _exit(127);
            }
            if (withInput) {
                close(pipeEnds[0]);
                serverInput = pipeEnds[1];
            }
            // Started once it listens on the port itself: another test's server can take the port
            // meanwhile (see portHolder).
            bool exited = false;
            PortHolder holder = PortHolderPending;
            for (u64 start = realMicroseconds(); withinPatience(start) && !exited && holder == PortHolderPending;) {
                usleep(10000);
                exited = waitpid(server, nullptr, WNOHANG) == server;
                if (!exited) holder = portHolder(server, port);
            }
            if (!exited && holder == PortHolderProcess) {
                return;
            }
            if (exited) {
                server = -1;
            } else {
                stopServer();
            }
        }
        FAIL() << "the server did not start\n" << serverLog();
    }
    void stopServer() {
        if (serverInput >= 0) {
            close(serverInput);
            serverInput = -1;
        }
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
            server = -1;
        }
    }
    std::string serverLog() {
        std::ifstream file(folder + "/server.log");
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

    // Sends one request and steps the client, one frame at a time, until the connection ends.
    Fetched fetch(const std::string& request) {
        Fetched result;
        auto client = std::make_unique<TlsClient>();
        auto socket = std::make_unique<Socket>();
        auto queue = std::make_unique<TlsSendQueue>();
        memset((void*)client.get(), 0, sizeof(TlsClient));
        memset((void*)socket.get(), 0, sizeof(Socket));
        memset((void*)queue.get(), 0, sizeof(TlsSendQueue));
        client->clock = interopClock;
        client->trustStore = trust.get();
        socket->clock = interopClock;
        appendBytes(request.data(), (i64)request.size(), queueTlsRecord(queue.get()));
        AddressRecord address{};
        address.family = 4;
        address.address[0] = 127;
        address.address[3] = 1;
        address.port = port;
        FixedString host = makeString("localhost");
        TlsStepResult out;
        for (u64 start = realMicroseconds(); withinPatience(start);) {
            clientFrame(&out, client.get(), socket.get(), &address, &host, queue.get());
            result.received.append((const char*)out.data.data, (size_t)out.data.length);
            // The server answers only the request, which goes out once the connection is established;
            // on a busy machine the step that sends it can also read the whole answer and the server's
            // close_notify behind it, and so end past the established state.
            if ((client->state == TlsStateEstablished || out.dataReceived) && !result.established) {
                result.established = true;
                result.tls13 = client->tls13;
                result.suite = client->cipherSuite;
                result.group = client->keyExchangeGroup;
                result.encryptThenMac = client->encryptThenMac;
                result.extendedMasterSecret = client->extendedMasterSecret;
            }
            if (out.closed) {
                break;
            }
        }
        result.message = text(client->message);
        // Lets the alert go out before the socket closes.
        for (int frame = 0; frame < 3; frame++) {
            interopNow += 16667;
            tlsClient(&out, client.get(), socket.get(), &address, &host, queue.get());
        }
        closeSocket(socket.get());
        return result;
    }

    void expectFile(const Fetched& fetched) {
        size_t headerEnd = fetched.received.find("\r\n\r\n");
        ASSERT_NE(headerEnd, std::string::npos) << fetched.message << "\n" << serverLog();
        EXPECT_EQ(fetched.received.substr(0, 12), "HTTP/1.0 200");
        std::string body = fetched.received.substr(headerEnd + 4);
        EXPECT_EQ(body.size(), content.size());
        EXPECT_TRUE(body == content);
    }
};

struct Tls13Case {
    const char* name;
    const char* opensslSuite;
    const char* opensslGroup;
    const char* gnutlsCipher;
    const char* gnutlsGroup;
    u16 suite;
    u16 group;
};

const Tls13Case kTls13Cases[] = {
    {"Aes128X25519", "TLS_AES_128_GCM_SHA256", "X25519", "AES-128-GCM", "GROUP-X25519", 0x1301, 0x001D},
    {"Aes128P256", "TLS_AES_128_GCM_SHA256", "P-256", "AES-128-GCM", "GROUP-SECP256R1", 0x1301, 0x0017},
    {"Aes256X25519", "TLS_AES_256_GCM_SHA384", "X25519", "AES-256-GCM", "GROUP-X25519", 0x1302, 0x001D},
    {"Aes256P256", "TLS_AES_256_GCM_SHA384", "P-256", "AES-256-GCM", "GROUP-SECP256R1", 0x1302, 0x0017},
};

struct Tls13Interop : TlsInterop, ::testing::WithParamInterface<Tls13Case> {};

TEST_P(Tls13Interop, OpensslServesTheFile) {
    const Tls13Case& test = GetParam();
    startServer({"openssl", "s_server", "-accept", "127.0.0.1:PORT", "-cert", "ec.crt", "-key", "ec.key", "-tls1_3",
                 "-ciphersuites", test.opensslSuite, "-groups", test.opensslGroup, "-WWW", "-quiet"});
    Fetched fetched = fetch("GET /f.txt HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(fetched.established) << fetched.message << "\n" << serverLog();
    EXPECT_EQ(fetched.tls13, 1u);
    EXPECT_EQ(fetched.suite, test.suite);
    EXPECT_EQ(fetched.group, test.group);
    expectFile(fetched);
}

// openssl s_server's "K" command sends a KeyUpdate that asks for one back, "k" one that does not.
// The client follows the server onto its next keys (the line after each must still be read), answers
// when asked, and its own next records must be readable by the server under the keys it moved to.
TEST_F(TlsInterop, TheServersKeyUpdateIsFollowedAndAnswered) {
    for (const char* suite : {"TLS_AES_128_GCM_SHA256", "TLS_AES_256_GCM_SHA384"}) {
        SCOPED_TRACE(suite);
        startServer({"openssl", "s_server", "-accept", "127.0.0.1:PORT", "-cert", "ec.crt", "-key", "ec.key",
                     "-tls1_3", "-ciphersuites", suite, "-num_tickets", "0", "-msg"},
                    true);
        auto client = std::make_unique<TlsClient>();
        auto socket = std::make_unique<Socket>();
        auto queue = std::make_unique<TlsSendQueue>();
        memset((void*)client.get(), 0, sizeof(TlsClient));
        memset((void*)socket.get(), 0, sizeof(Socket));
        memset((void*)queue.get(), 0, sizeof(TlsSendQueue));
        client->clock = interopClock;
        client->trustStore = trust.get();
        socket->clock = interopClock;
        AddressRecord address = makeAddressRecord(4, (const u8*)"\x7f\x00\x00\x01", port);
        FixedString host = makeString("localhost");
        std::string received;
        bool closed = false;
        auto stepUntil = [&](auto done) {
            TlsStepResult out;
            for (u64 start = realMicroseconds(); withinPatience(start) && !done();) {
                clientFrame(&out, client.get(), socket.get(), &address, &host, queue.get());
                received.append((const char*)out.data.data, (size_t)out.data.length);
                closed = closed || out.closed;
                if (closed) return false;
            }
            return done();
        };
        auto send = [&](const std::string& line) {
            appendBytes(line.data(), (i64)line.size(), queueTlsRecord(queue.get()));
        };
        auto tell = [&](const std::string& line) {
            EXPECT_EQ(write(serverInput, line.data(), line.size()), (ssize_t)line.size());
        };
        auto serverSaw = [&](const char* what) { return serverLog().find(what) != std::string::npos; };

        send("hello\n");
        ASSERT_TRUE(stepUntil([&] { return serverSaw("hello"); })) << text(client->message) << "\n" << serverLog();
        // s_server takes a command only as a line of its own: each waits for what the last one did.
        tell("K\n");
        ASSERT_TRUE(stepUntil([&] { return client->keyUpdatesReceived == 1 && client->keyUpdateDue == 0; }))
            << text(client->message) << "\n" << serverLog();
        tell("first\n");
        ASSERT_TRUE(stepUntil([&] { return received.find("first") != std::string::npos; }))
            << text(client->message) << "\n" << serverLog();
        send("after\n");
        ASSERT_TRUE(stepUntil([&] { return serverSaw("after"); })) << text(client->message) << "\n" << serverLog();
        // The server read the client's KeyUpdate, and then its data under the keys that follow.
        EXPECT_TRUE(serverSaw("<<< TLS 1.3, Handshake [length 0005], KeyUpdate")) << serverLog();
        tell("k\n");
        ASSERT_TRUE(stepUntil([&] { return client->keyUpdatesReceived == 2; }))
            << text(client->message) << "\n" << serverLog();
        EXPECT_EQ(client->keyUpdateDue, 0u);  // not asked for this time
        tell("second\n");
        ASSERT_TRUE(stepUntil([&] { return received.find("second") != std::string::npos; }))
            << text(client->message) << "\n" << serverLog();
        send("again\n");
        ASSERT_TRUE(stepUntil([&] { return serverSaw("again"); })) << text(client->message) << "\n" << serverLog();
        EXPECT_FALSE(closed);
        EXPECT_EQ(client->state, (u32)TlsStateEstablished);
        closeSocket(socket.get());
        stopServer();
    }
}

TEST_P(Tls13Interop, GnutlsServesTheFile) {
    const Tls13Case& test = GetParam();
    startServer({"gnutls-serv", "--http", "--httpdata=f.txt", "-p", "PORT", "--x509certfile=ec.crt",
                 "--x509keyfile=ec.key", "--priority",
                 std::string("NORMAL:-VERS-ALL:+VERS-TLS1.3:-CIPHER-ALL:+") + test.gnutlsCipher + ":-GROUP-ALL:+" +
                     test.gnutlsGroup});
    Fetched fetched = fetch("GET /f.txt HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(fetched.established) << fetched.message << "\n" << serverLog();
    EXPECT_EQ(fetched.tls13, 1u);
    EXPECT_EQ(fetched.suite, test.suite);
    EXPECT_EQ(fetched.group, test.group);
    expectFile(fetched);
}

void PrintTo(const Tls13Case& test, std::ostream* out) { *out << test.name; }

INSTANTIATE_TEST_SUITE_P(Suites, Tls13Interop, ::testing::ValuesIn(kTls13Cases),
                         [](const ::testing::TestParamInfo<Tls13Case>& info) { return std::string(info.param.name); });

struct Tls12Case {
    const char* name;
    bool gnutls;
    const char* group;  // OpenSSL or GnuTLS group name
    const char* extra;  // extra OpenSSL argument or GnuTLS priority suffix
    u16 groupId;
    u32 encryptThenMac;
    u32 extendedMasterSecret;
};

const Tls12Case kTls12Cases[] = {
    {"OpensslEtmEms", false, "X25519", "", 0x001D, 1, 1},
    {"OpensslNoEtm", false, "P-256", "-no_etm", 0x0017, 0, 1},
    {"GnutlsEtmEms", true, "GROUP-X25519", "", 0x001D, 1, 1},
    {"GnutlsNoEms", true, "GROUP-SECP256R1", ":%NO_SESSION_HASH", 0x0017, 1, 0},
    {"GnutlsNoEtmNoEms", true, "GROUP-X25519", ":%NO_ETM:%NO_SESSION_HASH", 0x001D, 0, 0},
};

struct Tls12Interop : TlsInterop, ::testing::WithParamInterface<Tls12Case> {};

TEST_P(Tls12Interop, CbcSuiteServesTheFile) {
    const Tls12Case& test = GetParam();
    if (test.gnutls) {
        startServer({"gnutls-serv", "--http", "--httpdata=f.txt", "-p", "PORT", "--x509certfile=rsa.crt",
                     "--x509keyfile=rsa.key", "--priority",
                     std::string("NONE:+VERS-TLS1.2:+ECDHE-RSA:+AES-128-CBC:+SHA1:+SIGN-ALL:+COMP-NULL:+CTYPE-X509:+") +
                         test.group + test.extra});
    } else {
        std::vector<std::string> arguments = {"openssl", "s_server", "-accept", "127.0.0.1:PORT", "-cert", "rsa.crt",
                                              "-key", "rsa.key", "-tls1_2", "-cipher", "ECDHE-RSA-AES128-SHA",
                                              "-groups", test.group, "-WWW", "-quiet"};
        if (*test.extra) arguments.push_back(test.extra);
        startServer(arguments);
    }
    Fetched fetched = fetch("GET /f.txt HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(fetched.established) << fetched.message << "\n" << serverLog();
    EXPECT_EQ(fetched.tls13, 0u);
    EXPECT_EQ(fetched.suite, 0xC013);
    EXPECT_EQ(fetched.group, test.groupId);
    EXPECT_EQ(fetched.encryptThenMac, test.encryptThenMac);
    EXPECT_EQ(fetched.extendedMasterSecret, test.extendedMasterSecret);
    expectFile(fetched);
}

void PrintTo(const Tls12Case& test, std::ostream* out) { *out << test.name; }

INSTANTIATE_TEST_SUITE_P(Servers, Tls12Interop, ::testing::ValuesIn(kTls12Cases),
                         [](const ::testing::TestParamInfo<Tls12Case>& info) { return std::string(info.param.name); });

// A server that cuts its handshake into records of 512 bytes: the certificate and the messages
// around it arrive split across records.
TEST_F(TlsInterop, FragmentedHandshakeIsReassembled) {
    for (const char* version : {"-tls1_3", "-tls1_2"}) {
        SCOPED_TRACE(version);
        startServer({"openssl", "s_server", "-accept", "127.0.0.1:PORT", "-cert", "rsa.crt", "-key", "rsa.key",
                     version, "-cipher", "ECDHE-RSA-AES128-SHA", "-max_send_frag", "512", "-WWW", "-quiet"});
        Fetched fetched = fetch("GET /f.txt HTTP/1.0\r\n\r\n");
        ASSERT_TRUE(fetched.established) << fetched.message << "\n" << serverLog();
        expectFile(fetched);
        stopServer();
    }
}

// A server that asks for a second ClientHello (a cookie and the secp256r1 group): the handshake ends
// with a clear reason and a handshake_failure alert, and the HelloRetryRequest is never taken for a
// ServerHello.
TEST_F(TlsInterop, HelloRetryRequestEndsTheHandshake) {
    startServer({"/usr/bin/python3", ORVIK_SOURCE_DIR "/Tests/Network/TlsScriptedPeer.py", "PORT", "retry"});
    Fetched fetched = fetch("GET /f.txt HTTP/1.0\r\n\r\n");
    EXPECT_FALSE(fetched.established);
    EXPECT_NE(fetched.message.find("HelloRetryRequest"), std::string::npos) << fetched.message;
    EXPECT_TRUE(fetched.received.empty());
    for (u64 start = realMicroseconds(); withinPatience(start) && serverLog().find("RECEIVED") == std::string::npos;) {
        usleep(10000);
    }
    EXPECT_NE(serverLog().find("RECEIVED 15030300020228"), std::string::npos) << serverLog();
}

// A server that drops the connection in the middle of the handshake: the request fails with a reason
// instead of waiting, and is not sent again on a new connection.
TEST_F(TlsInterop, ConnectionClosedDuringTheHandshakeFails) {
    startServer({"/usr/bin/python3", ORVIK_SOURCE_DIR "/Tests/Network/TlsScriptedPeer.py", "PORT", "close"});
    Fetched fetched = fetch("GET /f.txt HTTP/1.0\r\n\r\n");
    EXPECT_FALSE(fetched.established);
    EXPECT_EQ(fetched.message, "The server closed the connection");
    for (u64 start = realMicroseconds(); withinPatience(start) && serverLog().find("HELLO") == std::string::npos;) {
        usleep(10000);
    }
    std::string log = serverLog();
    EXPECT_NE(log.find("HELLO"), std::string::npos);
    EXPECT_EQ(log.find("HELLO"), log.rfind("HELLO")) << log;
}

TEST_F(TlsInterop, ServersWithOnlyUnsupportedSuitesRefuse) {
    startServer({"openssl", "s_server", "-accept", "127.0.0.1:PORT", "-cert", "rsa.crt", "-key", "rsa.key", "-tls1_2",
                 "-cipher", "ECDHE-RSA-AES256-GCM-SHA384", "-WWW", "-quiet"});
    Fetched fetched = fetch("GET /f.txt HTTP/1.0\r\n\r\n");
    EXPECT_FALSE(fetched.established);
    EXPECT_EQ(fetched.message, "Received server alert: 2 40 (Handshake Failure)");
    stopServer();

    startServer({"gnutls-serv", "--http", "--httpdata=f.txt", "-p", "PORT", "--x509certfile=rsa.crt",
                 "--x509keyfile=rsa.key", "--priority",
                 "NONE:+VERS-TLS1.2:+ECDHE-RSA:+AES-256-GCM:+AEAD:+SIGN-ALL:+COMP-NULL:+CTYPE-X509:+GROUP-ALL"});
    fetched = fetch("GET /f.txt HTTP/1.0\r\n\r\n");
    EXPECT_FALSE(fetched.established);
    EXPECT_EQ(fetched.message.rfind("Received server alert: 2 ", 0), 0u) << fetched.message;
}

}  // namespace
