// The download manager through the real DNS client and HTTPS operations: names from dnsmasq, files
// from nginx, odd and slow replies from the Python TLS server, and a server that never answers.
#include "HttpsTestPeers.h"
#include "NetworkTestSupport.h"
#include "Network/Download.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

u64 downloadNow = 30000000;
u64 downloadClock() { return downloadNow; }

// True while the fixture's servers (dnsmasq, nginx, the Python TLS server) answer.
bool downloadServersLive = false;

struct Manager {
    std::unique_ptr<DownloadPool> pool{new DownloadPool};
    std::unique_ptr<DnsResolver> resolver{new DnsResolver};
    std::unique_ptr<Socket[]> sockets{new Socket[kDownloadConnections]};
    DnsServerList servers{};

    Manager() {
        memset((void*)pool.get(), 0, sizeof(DownloadPool));
        memset((void*)resolver.get(), 0, sizeof(DnsResolver));
        memset((void*)sockets.get(), 0, sizeof(Socket) * kDownloadConnections);
        pool->clock = downloadClock;
        resolver->clock = downloadClock;
        for (i32 c = 0; c < kDownloadConnections; c++) {
            pool->connections[c].tls.clock = downloadClock;
            pool->connections[c].tls.trustStore = testCertificateTrust();
            sockets[c].clock = downloadClock;
        }
    }
    ~Manager() {
        for (i32 i = 0; i < kDownloadSlots; i++) {
            if (pool->usedMask & (1ull << i)) releaseDownload(&pool->slots[i], pool.get());
        }
        for (i32 c = 0; c < kDownloadConnections; c++) closeSocket(&sockets[c]);
        closeDnsResolver(resolver.get());
    }
    void useDnsServer(u16 port) {
        u8 loopback[4] = {127, 0, 0, 1};
        servers.count = 1;
        servers.servers[0] = makeAddressRecord(4, loopback, port);
    }
    DownloadSlot* start(const std::string& url, u64 maxBytes = kTileDownloadBytes, const char* user = "",
                        const char* password = "") {
        ByteWriter text{(i64)url.size(), (i64)url.size(), 0, (u8*)url.data()};
        FixedString u = makeString(user);
        FixedString p = makeString(password);
        return startDownload(&text, &u, &p, maxBytes, pool.get());
    }
    // One frame of the application update: downloads first, then DNS. Against the live servers the
    // clock moves on only when it may (see downloadClockMayMove, up to 10 ms of real time for the
    // server's bytes); against a silent one, 16.7 ms each frame.
    void frame() {
        if (!downloadServersLive) {
            waitBriefly();
            downloadNow += 16667;
        } else if (downloadClockMayMove(pool.get(), sockets.get(), 10)) {
            downloadNow += 16667;
        }
        downloadFiles(pool.get(), resolver.get(), sockets.get(), kDownloadConnections);
        checkDnsQueries(resolver.get(), &servers);
    }
    int running() {
        int count = 0;
        for (i32 i = 0; i < kDownloadSlots; i++) {
            count += (pool->usedMask & (1ull << i)) && pool->slots[i].status == FileStatusProcessing;
        }
        return count;
    }
    // Frames until every slot given has left statuses 0 and 1; false after kPeerPatience of real time.
    bool finish(std::initializer_list<DownloadSlot*> slots) {
        for (u64 start = realMicroseconds(); withinPatience(start);) {
            bool all = true;
            for (DownloadSlot* slot : slots) all = all && slot->status > FileStatusProcessing;
            if (all) return true;
            frame();
        }
        return false;
    }
};

std::string body(const DownloadSlot* slot) {
    return slot->data ? std::string((const char*)slot->data, (size_t)slot->bytesReceived) : std::string();
}

TEST(DownloadSlots, UrlChecksAndTheSixtyFifthSlot) {
    Manager m;
    DownloadSlot* slot = m.start(std::string("https://tiles.test/") + std::string(1982, 'x'));
    EXPECT_EQ(slot->status, (u32)FileStatusBadPathSyntax);
    EXPECT_EQ(text(slot->message), "The url is 2001 bytes long, but we only support 2000");
    releaseDownload(slot, m.pool.get());

    slot = m.start("https:///tiles/1.png");
    EXPECT_EQ(slot->status, (u32)FileStatusBadPathSyntax);
    EXPECT_EQ(text(slot->message), "Failed to parse the domain of https:///tiles/1.png");
    releaseDownload(slot, m.pool.get());
    slot = m.start("://tiles.test/1.png");
    EXPECT_EQ(text(slot->message), "Failed to parse the scheme of ://tiles.test/1.png");
    releaseDownload(slot, m.pool.get());

    slot = m.start("https://tiles.test:8443/a/b.png?k=1");
    EXPECT_EQ(slot->status, (u32)FileStatusNotYetProcessed);
    EXPECT_EQ(text(slot->host), "tiles.test");
    EXPECT_EQ(slot->port, 8443);
    EXPECT_EQ(std::string((const char*)slot->path.data, (size_t)slot->path.length), "/a/b.png?k=1");
    EXPECT_EQ(slot->maxBytes, kTileDownloadBytes);
    // Malformed bytes of the URL are dropped.
    DownloadSlot* second = m.start("https://tiles.test/\xff" "c.png");
    EXPECT_EQ(std::string((const char*)second->urlText, (size_t)second->url.length), "https://tiles.test/c.png");
    EXPECT_EQ(second - m.pool->slots, 1);

    for (int i = 2; i < 64; i++) EXPECT_NE(m.start("https://tiles.test/x"), &m.pool->errorSlot);
    EXPECT_EQ(m.pool->usedMask, ~0ull);
    DownloadSlot* refused = m.start("https://tiles.test/x");
    EXPECT_EQ(refused, &m.pool->errorSlot);
    EXPECT_EQ(refused->status, (u32)FileStatusTooManyOpenFiles);
    EXPECT_EQ(text(refused->message), "Too many open files. Report this bug to Tarnwick.");
    releaseDownload(refused, m.pool.get());
    EXPECT_EQ(m.pool->usedMask, ~0ull);

    // A released slot is the next one taken.
    releaseDownload(&m.pool->slots[17], m.pool.get());
    EXPECT_EQ(m.start("https://tiles.test/y"), &m.pool->slots[17]);
}

TEST(DownloadSlots, UnansweredDnsFailsAfterSixQueries) {
    int silent = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(silent, (sockaddr*)&address, sizeof(address)), 0);
    socklen_t length = sizeof(address);
    getsockname(silent, (sockaddr*)&address, &length);
    Manager m;
    m.useDnsServer(ntohs(address.sin_port));
    DownloadSlot* slot = m.start("https://quiet.test/x.png");
    u64 lastQuery = 0;
    for (int i = 0; i < 1000 && slot->status <= FileStatusProcessing; i++) {
        m.frame();
        if (m.resolver->lookups[kDnsDownloadLookup].lastSendTime != 0) {
            lastQuery = m.resolver->lookups[kDnsDownloadLookup].lastSendTime;
        }
    }
    // The last query had its full second to be answered before the download gave up.
    EXPECT_GT(downloadNow - lastQuery, kDnsResendInterval);
    EXPECT_EQ(slot->status, (u32)FileStatusNotFound);
    EXPECT_EQ(text(slot->message), "No response from DNS servers (check your internet connection)");
    // Six queries reached the server, a second apart.
    int queries = 0;
    u8 datagram[512];
    while (recv(silent, datagram, sizeof(datagram), MSG_DONTWAIT) > 0) queries++;
    EXPECT_EQ(queries, 6);
    close(silent);
}

TEST(DownloadSlots, HeaderTimeOut) {
    // A server that takes the connection and never says a word.
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, (sockaddr*)&address, sizeof(address)), 0);
    ASSERT_EQ(listen(listener, 8), 0);
    socklen_t length = sizeof(address);
    getsockname(listener, (sockaddr*)&address, &length);
    std::string port = std::to_string(ntohs(address.sin_port));

    Manager m;
    DownloadSlot* secure = m.start("https://127.0.0.1:" + port + "/tile.png");
    DownloadSlot* plain = m.start("http://127.0.0.1:" + port + "/tile.png");
    u64 lastRunning = 0;
    for (int i = 0; i < 400 && (secure->status <= 1 || plain->status <= 1); i++) {
        if (secure->status == FileStatusProcessing) lastRunning = downloadNow;
        m.frame();
    }
    EXPECT_EQ(secure->status, (u32)FileStatusOpenUnknownError);
    EXPECT_EQ(text(secure->message), "Https connection timed out: Waiting to hear all of Server Handshake");
    EXPECT_EQ(plain->status, (u32)FileStatusOpenUnknownError);
    EXPECT_EQ(text(plain->message), "Http isn't supported. Use https instead.");
    // It waited out the three seconds, and not a frame more.
    EXPECT_LE(lastRunning - secure->startTime, kDownloadHeaderTimeout);
    EXPECT_GT(lastRunning - secure->startTime + 16667, kDownloadHeaderTimeout);
    close(listener);
}

struct DownloadFixture : ::testing::Test {
    static std::string folder;
    static PeerProcess dnsmasq;
    static PeerProcess nginx;
    static PythonPeer python;
    static u16 dnsPort, nginxPort, pythonPort;
    static std::string tile;

    static void SetUpTestSuite() {
        folder = makeScratchFolder("orvik-download");
        ASSERT_TRUE(makeTestCertificates(folder));
        ASSERT_TRUE(runCommand("mkdir -p " + folder + "/www/tiles/0/0"));
        ASSERT_TRUE(runCommand("/usr/bin/python3 -c \"from PIL import Image; "
                               "Image.radial_gradient('L').convert('RGB').resize((256, 256)).save('" + folder +
                               "/www/tiles/0/0/0.png')\""));
        tile = readTextFile(folder + "/www/tiles/0/0/0.png");
        ASSERT_TRUE(startNginx(&nginx, folder, &nginxPort)) << readTextFile(folder + "/error.log");
        std::vector<std::string> names;
        for (const char* name : {"tiles", "a", "b", "c", "d"}) {
            names.push_back(std::string("--address=/") + name + ".test/127.0.0.1");
        }
        ASSERT_TRUE(startDnsmasq(&dnsmasq, folder, names, &dnsPort)) << readTextFile(dnsmasq.log);
        ASSERT_TRUE(startPythonPeer(&python, "HttpsTestServer.py"));
        pythonPort = (u16)std::stoi(peerCommand(&python, "start " + folder + "/ec.crt " + folder + "/ec.key"));
    }
    void SetUp() override { downloadServersLive = true; }
    void TearDown() override { downloadServersLive = false; }
    static void TearDownTestSuite() {
        stopPythonPeer(&python);
        stopPeerProcess(&dnsmasq);
        stopPeerProcess(&nginx);
        removeFolder(folder);
    }
    static std::string nginxUrl(const char* host, const std::string& path) {
        return std::string("https://") + host + ":" + std::to_string(nginxPort) + path;
    }
    static std::string pythonUrl(const std::string& path) {
        return "https://127.0.0.1:" + std::to_string(pythonPort) + path;
    }
};

std::string DownloadFixture::folder;
PeerProcess DownloadFixture::dnsmasq;
PeerProcess DownloadFixture::nginx;
PythonPeer DownloadFixture::python;
u16 DownloadFixture::dnsPort;
u16 DownloadFixture::nginxPort;
u16 DownloadFixture::pythonPort;
std::string DownloadFixture::tile;

TEST_F(DownloadFixture, PngTileFetchedWhole) {
    Manager m;
    m.useDnsServer(dnsPort);
    DownloadSlot* slot = m.start(nginxUrl("tiles.test", "/tiles/0/0/0.png"));
    ASSERT_TRUE(m.finish({slot}));
    EXPECT_EQ(slot->status, (u32)FileStatusSuccess) << text(slot->message);
    EXPECT_EQ(slot->totalBytes, tile.size());
    EXPECT_TRUE(body(slot) == tile);
    EXPECT_EQ(tile.substr(1, 3), "PNG");
    EXPECT_GT(slot->lastModified.length, 20);
    releaseDownload(slot, m.pool.get());
    EXPECT_EQ(m.pool->usedMask, 0u);
    EXPECT_EQ(slot->data, nullptr);

    // The same host again: the kept connection serves it.
    slot = m.start(nginxUrl("tiles.test", "/tiles/0/0/0.png"));
    ASSERT_TRUE(m.finish({slot}));
    EXPECT_TRUE(body(slot) == tile);
    EXPECT_EQ(m.pool->connections[0].reused, 1u);

    // The released slot taken again for another host name at the same address: the kept
    // connection was authenticated for the other name and is not used.
    releaseDownload(slot, m.pool.get());
    DownloadSlot* other = m.start(nginxUrl("a.test", "/tiles/0/0/0.png"));
    ASSERT_EQ(other, slot);
    ASSERT_TRUE(m.finish({other}));
    EXPECT_EQ(other->status, (u32)FileStatusSuccess) << text(other->message);
    EXPECT_TRUE(body(other) == tile);
    EXPECT_EQ(m.pool->connections[0].reused, 0u);
}

TEST_F(DownloadFixture, HttpFailuresAndTheSizeLimit) {
    Manager m;
    m.useDnsServer(dnsPort);
    DownloadSlot* missing = m.start(nginxUrl("tiles.test", "/tiles/9/9/9.png"));
    DownloadSlot* forbidden = m.start(nginxUrl("tiles.test", "/forbidden"));
    DownloadSlot* moved = m.start(nginxUrl("tiles.test", "/moved"));
    DownloadSlot* redirect = m.start(nginxUrl("tiles.test", "/redirect"));
    DownloadSlot* large = m.start(nginxUrl("tiles.test", "/tiles/0/0/0.png"), tile.size() - 1);
    DownloadSlot* exact = m.start(nginxUrl("tiles.test", "/tiles/0/0/0.png"), tile.size());
    ASSERT_TRUE(m.finish({missing, forbidden, moved, redirect, large, exact}));
    EXPECT_EQ(missing->status, (u32)FileStatusNotFound);
    EXPECT_EQ(text(missing->message), "Server responded with HTTP code: 404");
    EXPECT_EQ(forbidden->status, (u32)FileStatusAccessDenied);
    EXPECT_EQ(text(forbidden->message), "Server responded with HTTP code: 403");
    EXPECT_EQ(moved->status, (u32)FileStatusOpenUnknownError);
    EXPECT_EQ(text(moved->message), "Server responded with HTTP code: 301");
    EXPECT_EQ(text(redirect->message), "Server responded with HTTP code: 302");
    EXPECT_EQ(large->status, (u32)FileStatusTooLarge);
    EXPECT_EQ(text(large->message), "File was " + std::to_string(tile.size()) + " bytes, but we only allow up to " +
                                        std::to_string(tile.size() - 1) + " bytes");
    EXPECT_EQ(large->data, nullptr);
    EXPECT_EQ(exact->status, (u32)FileStatusSuccess);
    EXPECT_TRUE(body(exact) == tile);
}

TEST_F(DownloadFixture, NamesThatCannotBeResolvedFailAtOnce) {
    Manager m;
    m.useDnsServer(dnsPort);
    DownloadSlot* good = m.start(nginxUrl("tiles.test", "/tiles/0/0/0.png"));
    DownloadSlot* missing = m.start(nginxUrl("nx.test", "/x.png"));
    DownloadSlot* ftp = m.start("ftp://tiles.test:" + std::to_string(nginxPort) + "/x.png");
    DownloadSlot* unaskable = m.start(nginxUrl("bad_host.test", "/x.png"));
    // The unaskable name is the highest-numbered waiting host: looked up first, failed in a frame.
    m.frame();
    m.frame();
    EXPECT_EQ(unaskable->status, (u32)FileStatusBadPathSyntax);
    EXPECT_EQ(text(unaskable->message), "Unsupported codepoint 95");
    ASSERT_TRUE(m.finish({good, missing, ftp}));
    EXPECT_EQ(missing->status, (u32)FileStatusNotFound);
    EXPECT_EQ(text(missing->message), "DNS server says there's no such name: nx.test");
    EXPECT_EQ(ftp->status, (u32)FileStatusOpenUnknownError);
    EXPECT_EQ(text(ftp->message), "URL doesn't start with http");
    EXPECT_EQ(good->status, (u32)FileStatusSuccess) << text(good->message);
}

TEST_F(DownloadFixture, HostsAreResolvedOneAfterAnother) {
    Manager m;
    m.useDnsServer(dnsPort);
    std::vector<DownloadSlot*> slots;
    for (const char* host : {"a.test", "b.test", "c.test", "d.test"}) {
        slots.push_back(m.start(nginxUrl(host, "/tiles/0/0/0.png")));
    }
    std::vector<std::string> order;
    int mostRunning = 0;
    for (int i = 0; i < 4000; i++) {
        std::string name = text(m.resolver->lookups[kDnsDownloadLookup].hostName);
        if (!name.empty() && (order.empty() || order.back() != name)) order.push_back(name);
        mostRunning = std::max(mostRunning, m.running());
        bool all = true;
        for (DownloadSlot* slot : slots) all = all && slot->status > FileStatusProcessing;
        if (all) break;
        m.frame();
    }
    EXPECT_EQ(order, (std::vector<std::string>{"d.test", "c.test", "b.test", "a.test"}));
    EXPECT_LE(mostRunning, 3);
    for (DownloadSlot* slot : slots) {
        EXPECT_EQ(slot->status, (u32)FileStatusSuccess) << text(slot->host) << " " << text(slot->message);
        EXPECT_TRUE(body(slot) == tile);
    }
}

TEST_F(DownloadFixture, ThreeRunAtOnce) {
    Manager m;
    std::vector<DownloadSlot*> slots;
    for (int i = 0; i < 7; i++) slots.push_back(m.start(pythonUrl("/slow/" + std::to_string(i))));
    int mostRunning = 0;
    for (int i = 0; i < 4000; i++) {
        m.frame();
        mostRunning = std::max(mostRunning, m.running());
        bool all = true;
        for (DownloadSlot* slot : slots) all = all && slot->status > FileStatusProcessing;
        if (all) break;
    }
    EXPECT_EQ(mostRunning, 3);
    for (DownloadSlot* slot : slots) {
        EXPECT_EQ(slot->status, (u32)FileStatusSuccess) << text(slot->message);
        EXPECT_EQ(body(slot), "0123456789");
    }
}

TEST_F(DownloadFixture, BodiesOfUnknownSizeAreRefused) {
    Manager m;
    DownloadSlot* chunked = m.start(pythonUrl("/chunked"));
    DownloadSlot* untilClose = m.start(pythonUrl("/until-close"));
    DownloadSlot* empty = m.start(pythonUrl("/chunked-empty"));
    ASSERT_TRUE(m.finish({chunked, untilClose, empty}));
    EXPECT_EQ(chunked->status, (u32)FileStatusNoFileSize);
    EXPECT_EQ(text(chunked->message), "The get operation is chunked, so we don't know the file size, therefore we "
                                      "can't allocate memory for the file");
    EXPECT_EQ(untilClose->status, (u32)FileStatusNoFileSize);
    EXPECT_EQ(text(untilClose->message), "The server didn't tell us the file size, so we can't allocate memory for the file");
    // A chunked response without any body bytes is simply an empty file.
    EXPECT_EQ(empty->status, (u32)FileStatusSuccess);
    EXPECT_EQ(empty->bytesReceived, 0u);
}

TEST_F(DownloadFixture, ReleasingMidDownloadFreesTheBufferAndTheConnection) {
    Manager m;
    DownloadSlot* stalled = m.start(pythonUrl("/stall"));
    for (int i = 0; i < 4000 && stalled->bytesReceived < 5; i++) m.frame();
    ASSERT_EQ(stalled->status, (u32)FileStatusProcessing) << text(stalled->message);
    ASSERT_NE(stalled->data, nullptr);
    EXPECT_EQ(body(stalled), "01234");
    // The leak check at exit would catch a buffer left behind.
    releaseDownload(stalled, m.pool.get());
    EXPECT_EQ(stalled->data, nullptr);
    EXPECT_EQ(m.pool->currentSlot[0], 0);

    // The slot and the connection serve the next download.
    DownloadSlot* next = m.start(pythonUrl("/length"));
    EXPECT_EQ(next, stalled);
    ASSERT_TRUE(m.finish({next}));
    EXPECT_EQ(next->status, (u32)FileStatusSuccess) << text(next->message);
    EXPECT_EQ(body(next), "hello");
    EXPECT_EQ(m.pool->connections[0].reused, 0u);
}

TEST_F(DownloadFixture, AServerThatFallsSilentAfterTheHeaderIsGivenUpAfterTenSeconds) {
    Manager m;
    DownloadSlot* stalled = m.start(pythonUrl("/stall"));
    for (int i = 0; i < 4000 && stalled->bytesReceived < 5; i++) m.frame();
    ASSERT_EQ(stalled->status, (u32)FileStatusProcessing) << text(stalled->message);
    u64 lastBytes = stalled->lastByteTime;
    downloadNow = lastBytes + kDownloadStallTimeout - 16667;
    downloadServersLive = false;  // this server says no more: each frame moves the clock on
    m.frame();
    EXPECT_EQ(stalled->status, (u32)FileStatusProcessing);
    m.frame();
    m.frame();
    EXPECT_EQ(stalled->status, (u32)FileStatusReadFailed);
    EXPECT_EQ(text(stalled->message), "No data from the server for 10 seconds (5 of 10 bytes received)");
    EXPECT_EQ(stalled->data, nullptr);
    EXPECT_EQ(m.running(), 0);
    // The connection serves the next download.
    downloadServersLive = true;
    DownloadSlot* next = m.start(pythonUrl("/length"));
    ASSERT_TRUE(m.finish({next}));
    EXPECT_EQ(next->status, (u32)FileStatusSuccess) << text(next->message);
    EXPECT_EQ(body(next), "hello");
}

TEST_F(DownloadFixture, BasicCredentialsReachTheServer) {
    Manager m;
    DownloadSlot* slot = m.start(pythonUrl("/echo"), kLargeDownloadBytes, "user", "pass");
    ASSERT_TRUE(m.finish({slot}));
    EXPECT_EQ(slot->status, (u32)FileStatusSuccess) << text(slot->message);
    EXPECT_NE(body(slot).find("\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"), std::string::npos) << body(slot);
}

}  // namespace
