// The Copernicus downloader against a stand-in service on loopback: the three host names found
// through the program's own DNS client asking dnsmasq, then the password login, the catalogue
// search and product downloads over the program's TLS client, with the file jobs run as the file
// thread runs them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "../Network/HttpsTestPeers.h"
#include "../Network/NetworkTestSupport.h"
#include "Map/CopernicusDownloader.h"
#include "Network/Dns.h"
#include "Platform/FileSystem.h"
#include "Platform/Platform.h"

namespace {

u64 copernicusNow = 70000000;
u64 copernicusClock() { return copernicusNow; }
// 2025-08-15 12:00 UTC: July is this year's.
constexpr i64 kMidAugust2025 = 13399732800000;
i64 copernicusUtc() { return kMidAugust2025; }

class CopernicusTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = makeScratchFolder("orvik-copernicus");
        ASSERT_FALSE(folder.empty());
        ASSERT_TRUE(makeTestCertificates(folder));
        ASSERT_TRUE(startDnsmasq(&dns, folder,
                                 {"--address=/a.test/127.0.0.1", "--address=/b.test/127.0.0.1",
                                  "--address=/c.test/127.0.0.1", "--address=/d.test/127.0.0.1"},
                                 &dnsPort));
        u16 port = freeTcpPort();
        ASSERT_TRUE(startPeerProcess(&server,
                                     {"/usr/bin/python3", std::string(ORVIK_SOURCE_DIR) + "/Tests/Map/copernicus_server.py",
                                      std::to_string(port), folder + "/ec.crt", folder + "/ec.key", folder},
                                     folder));
        ASSERT_TRUE(waitForTcpPort(port));
        saved = copernicusService;
        // Identity, catalogue and download hosts, under names the test certificate carries.
        copernicusService = {"a.test", "b.test", "c.test", port};

        d = (CopernicusDownloader*)std::calloc(1, sizeof(CopernicusDownloader));
        resolver = (DnsResolver*)std::calloc(1, sizeof(DnsResolver));
        platform = (Platform*)std::calloc(1, sizeof(Platform));
        d->clock = copernicusClock;
        d->utcClock = copernicusUtc;
        d->https.tls.clock = copernicusClock;
        d->https.tls.trustStore = testCertificateTrust();
        socket.clock = copernicusClock;
        resolver->clock = copernicusClock;
        u8 loopback[4] = {127, 0, 0, 1};
        servers.count = 1;
        servers.servers[0] = makeAddressRecord(4, loopback, dnsPort);
        std::filesystem::create_directories(folder + "/Documents/data");
        dataFolder = folder + "/Documents/data/";
        platform->dataFolder = makeString(dataFolder.c_str());
        platform->pathSeparator = '/';
    }
    void TearDown() override {
        copernicusService = saved;
        if (platform) {
            runFileJobPass(platform->dataFolder, &platform->fileJobs);
            freeFileJobData(&platform->fileJobs);
        }
        closeSocket(&socket);
        if (resolver) closeDnsResolver(resolver);
        std::free(d);
        std::free(resolver);
        std::free(platform);
        stopPeerProcess(&server);
        stopPeerProcess(&dns);
        removeFolder(folder);
    }
    // One frame as the application update runs it: the fixed lookups, the DNS step, the downloader;
    // then a file-thread pass.
    void frame() {
        copernicusNow += 16667;
        const char* hosts[3] = {copernicusService.identityHost, copernicusService.catalogueHost,
                                copernicusService.downloadHost};
        for (i32 i = 0; i < 3; i++) {
            FixedString host = makeString(hosts[i]);
            startDnsLookup(&host, &resolver->lookups[2 + i]);
        }
        checkDnsQueries(resolver, &servers);
        updateCopernicusDownloader(d, resolver, &socket, nullptr, platform);
        runFileJobPass(platform->dataFolder, &platform->fileJobs);
        waitBriefly();
    }
    // Frames until the operation has ended; false after the limit.
    bool finish(i32 limit = 4000) {
        for (i32 i = 0; i < limit && d->state != CopernicusIdle; i++) frame();
        return d->state == CopernicusIdle;
    }
    std::string message() const { return text(d->message); }
    void logIn(const char* user, const char* password) {
        FixedString u = makeString(user), p = makeString(password);
        ASSERT_TRUE(startCopernicusLogin(d, &u, &p));
        ASSERT_TRUE(finish());
    }
    void search(f64 maxCloudCover = 30.0) {
        ASSERT_TRUE(startCopernicusSearch(d, Box2{8.25, 8.75, 46.5, 46.875}, 7, maxCloudCover));
        ASSERT_TRUE(finish());
    }
    std::string token() const { return std::string((const char*)d->token, (size_t)d->tokenLength); }
    size_t logLines(const std::string& text) {
        std::string log = readTextFile(server.log);
        size_t count = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) count++;
        return count;
    }
    bool exists(const std::string& relative) { return std::filesystem::exists(dataFolder + relative); }

    std::string folder, dataFolder;
    PeerProcess dns, server;
    u16 dnsPort = 0;
    CopernicusService saved{};
    CopernicusDownloader* d = nullptr;
    DnsResolver* resolver = nullptr;
    Platform* platform = nullptr;
    Socket socket{};
    DnsServerList servers{};
};

TEST_F(CopernicusTest, WrongPasswordShowsTheServersMessageAndSearchListsOnlyClearProducts) {
    logIn("pilot@example.org", "wrong");
    EXPECT_EQ(message(), "Login failed: Invalid user credentials");
    EXPECT_EQ(d->failed, 1u);
    EXPECT_EQ(d->loggedIn, 0u);
    // The password's "&", "=" and blank reach the server as the user typed them.
    logIn("pilot@example.org", "c0rrect h&rse=");
    EXPECT_EQ(message(), "Logged in as pilot@example.org");
    EXPECT_EQ(d->loggedIn, 1u);
    EXPECT_EQ(std::string((const char*)d->token, (size_t)d->tokenLength), "eyJhbGciOi.test-token_43");
    EXPECT_EQ(d->password.length, 0u);

    search();
    EXPECT_EQ(message(), "Found 2 products");
    ASSERT_EQ(d->productCount, 2);
    EXPECT_EQ(text(d->products[0].name), "S2B_MSIL2A_20250704T103629_N0511_R008_T32TLS.SAFE");
    EXPECT_EQ(text(d->products[0].id), "0a1b2c3d-0000-4000-8000-000000000001");
    EXPECT_EQ(text(d->products[0].startDate), "2025-07-04T10:36:29.024Z");
    EXPECT_DOUBLE_EQ(d->products[0].cloudCover, 4.25);
    EXPECT_EQ(d->products[0].contentLength, 300017);
    EXPECT_DOUBLE_EQ(d->products[1].cloudCover, 27.5);
    // The query the catalogue decoded: the box as a closed polygon, July of this year, the cloud limit.
    std::string requests = readTextFile(server.log);
    EXPECT_NE(requests.find("POLYGON((8.250000 46.500000,8.750000 46.500000,8.750000 46.875000,"
                            "8.250000 46.875000,8.250000 46.500000))"),
              std::string::npos)
        << requests;
    EXPECT_NE(requests.find("ContentDate/Start ge 2025-07-01T00:00:00.000Z and ContentDate/Start lt "
                            "2025-08-01T00:00:00.000Z"),
              std::string::npos);
    EXPECT_NE(requests.find("att/OData.CSC.DoubleAttribute/Value le 30.00)"), std::string::npos);
    EXPECT_NE(requests.find("type=application/x-www-form-urlencoded"), std::string::npos);
}

TEST_F(CopernicusTest, ProductArrivesWholeAndACutDownloadLeavesNoZip) {
    search();
    ASSERT_EQ(d->productCount, 2);
    EXPECT_FALSE(startCopernicusDownload(d, 0));
    EXPECT_EQ(message(), "Log in first");
    logIn("pilot@example.org", "c0rrect h&rse=");

    // A partial file left by an earlier run is replaced, not appended to.
    std::filesystem::create_directories(dataFolder + "Copernicus");
    writeTextFile(dataFolder + "Copernicus/S2B_MSIL2A_20250704T103629_N0511_R008_T32TLS.SAFE.partial", "stale");
    ASSERT_TRUE(startCopernicusDownload(d, 0));
    ASSERT_TRUE(finish());
    EXPECT_EQ(message().rfind("Downloaded Copernicus/S2B_MSIL2A_20250704T103629_N0511_R008_T32TLS.SAFE.zip (", 0), 0u) << message();
    EXPECT_EQ(d->failed, 0u);
    std::string got = readTextFile(dataFolder + "Copernicus/S2B_MSIL2A_20250704T103629_N0511_R008_T32TLS.SAFE.zip");
    std::string want = readTextFile(folder + "/whole.bin");
    EXPECT_EQ(got.size(), 300017u);
    EXPECT_TRUE(got == want);
    EXPECT_FALSE(exists("Copernicus/S2B_MSIL2A_20250704T103629_N0511_R008_T32TLS.SAFE.partial"));

    // The server drops the connection a third of the way in.
    ASSERT_TRUE(startCopernicusDownload(d, 1));
    ASSERT_TRUE(finish());
    EXPECT_EQ(d->failed, 1u);
    EXPECT_EQ(message().rfind("Download interrupted after ", 0), 0u) << message();
    for (i32 i = 0; i < 3; i++) frame();
    EXPECT_FALSE(exists("Copernicus/S2A_MSIL2A_20250711T103031_N0511_R108_T32TLS.SAFE.zip"));
    EXPECT_FALSE(exists("Copernicus/S2A_MSIL2A_20250711T103031_N0511_R108_T32TLS.SAFE.partial"));
}

// A product the service hands on to another host arrives without the token going there (that host
// refuses a request that brings one); a product that redirects for ever stops after five redirects.
TEST_F(CopernicusTest, DownloadsFollowRedirectsWithoutHandingTheTokenOnAndStopAfterFive) {
    logIn("pilot@example.org", "c0rrect h&rse=");
    search(100.0);
    ASSERT_EQ(d->productCount, 5);
    ASSERT_EQ(text(d->products[3].name), "S2B_MSIL2A_20250724T103629_N0511_R008_T32TLT.SAFE");
    ASSERT_TRUE(startCopernicusDownload(d, 3));
    ASSERT_TRUE(finish());
    EXPECT_EQ(d->failed, 0u) << message();
    EXPECT_TRUE(readTextFile(dataFolder + "Copernicus/S2B_MSIL2A_20250724T103629_N0511_R008_T32TLT.SAFE.zip") ==
                readTextFile(folder + "/whole.bin"));
    EXPECT_EQ(logLines("FILE 0a1b2c3d-0000-4000-8000-000000000004 host=d.test auth=no"), 1u);

    ASSERT_TRUE(startCopernicusDownload(d, 4));
    ASSERT_TRUE(finish());
    EXPECT_EQ(message(), "Download failed: more than 5 redirects");
    EXPECT_EQ(logLines("GET /odata/v1/Products(0a1b2c3d-0000-4000-8000-000000000005)/$value?"), 6u);
    for (i32 i = 0; i < 3; i++) frame();
    EXPECT_FALSE(exists("Copernicus/S2A_MSIL2A_20250731T103031_N0511_R108_T32TLT.SAFE.zip"));
    EXPECT_FALSE(exists("Copernicus/S2A_MSIL2A_20250731T103031_N0511_R108_T32TLT.SAFE.partial"));
}

// The access token lasts ten minutes: a download asked for after that renews it first (it used to
// need a new login), an idle downloader renews it on its own, and a refresh token the service no
// longer knows loses the login with the service's words.
TEST_F(CopernicusTest, TheLoginTokenIsRenewedBeforeItExpiresWithoutThePassword) {
    search();
    logIn("pilot@example.org", "c0rrect h&rse=");
    std::string first = token();
    copernicusNow += 590000000;
    ASSERT_TRUE(startCopernicusDownload(d, 0));
    EXPECT_EQ(message(), "Renewing the login...");
    ASSERT_TRUE(finish());
    EXPECT_EQ(message().rfind("Downloaded Copernicus/S2B_MSIL2A_20250704T103629_N0511_R008_T32TLS.SAFE.zip (", 0), 0u)
        << message();
    EXPECT_NE(token(), first);
    EXPECT_EQ(logLines("grant=refresh_token"), 1u);

    // Idle: renewed a little before the ten minutes are up, quietly.
    std::string second = token();
    copernicusNow += 580000000;
    frame();
    EXPECT_EQ(d->state, (u32)CopernicusIdle);
    copernicusNow += 10000000;
    ASSERT_TRUE(finish());
    for (i32 i = 0; i < 400 && token() == second; i++) frame();
    EXPECT_NE(token(), second);
    EXPECT_EQ(logLines("grant=refresh_token"), 2u);
    EXPECT_EQ(d->loggedIn, 1u);
    EXPECT_EQ(message().rfind("Downloaded ", 0), 0u) << "the last outcome stays on the screen";

    d->refreshToken[0] ^= 1;  // one the service never issued
    copernicusNow += 590000000;
    for (i32 i = 0; i < 400 && d->loggedIn; i++) frame();
    EXPECT_EQ(d->loggedIn, 0u);
    EXPECT_EQ(message(), "The login has expired (Token is not active): log in again");
    EXPECT_EQ(d->refreshTokenLength, 0);
    EXPECT_FALSE(startCopernicusDownload(d, 0));
    EXPECT_EQ(message(), "Log in first");
}

}  // namespace
