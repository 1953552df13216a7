// The elevation-map manager frame by frame, with the real file thread (run by hand), the job ring
// and the download manager against a loopback HTTPS elevation service that checks HTTP Basic
// credentials. Tiles and heights come from GDAL (elevation_oracle.py).
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <unistd.h>

#include "Core/Preferences.h"
#include "Map/ElevationMapLoader.h"
#include "Network/Download.h"
#include "Network/HttpsTestPeers.h"
#include "Platform/FileTestSupport.h"

namespace {

u64 testTime = 50000000;
u64 testClock() { return testTime; }

std::string serverRoot;
PeerProcess server;
u16 serverPort;
std::string srtm3Tile;
std::string srtm1Tile;
std::string gridTiff;
std::vector<std::array<f64, 3>> srtm3Heights;  // longitude, latitude, GDAL's height

const char* kUser = "orvik";
const char* kPassword = "terrain-pass";

struct Network {
    std::unique_ptr<DownloadPool> pool{new DownloadPool};
    std::unique_ptr<DnsResolver> resolver{new DnsResolver};
    std::unique_ptr<Socket[]> sockets{new Socket[kDownloadConnections]};
    Network() {
        memset((void*)pool.get(), 0, sizeof(DownloadPool));
        memset((void*)resolver.get(), 0, sizeof(DnsResolver));
        memset((void*)sockets.get(), 0, sizeof(Socket) * kDownloadConnections);
        pool->clock = testClock;
        resolver->clock = testClock;
        for (i32 c = 0; c < kDownloadConnections; c++) {
            pool->connections[c].tls.clock = testClock;
            pool->connections[c].tls.trustStore = testCertificateTrust();
            sockets[c].clock = testClock;
        }
    }
    ~Network() {
        for (i32 i = 0; i < kDownloadSlots; i++) {
            if (pool->usedMask & (1ull << i)) releaseDownload(&pool->slots[i], pool.get());
        }
        for (i32 c = 0; c < kDownloadConnections; c++) closeSocket(&sockets[c]);
    }
};

class ElevationMapLoaderTest : public FileThreadFixture {
protected:
    static void SetUpTestSuite() {
        serverRoot = makeScratchFolder("orvik-elevation-service");
        ASSERT_TRUE(makeTestCertificates(serverRoot));
        std::string made = serverRoot + "/made";
        std::string script = std::string(ORVIK_SOURCE_DIR) + "/Tests/Map/elevation_oracle.py";
        ASSERT_TRUE(runCommand("mkdir -p " + made + " " + serverRoot + "/www && /usr/bin/python3 " + script + " " + made));
        srtm3Tile = readTextFile(made + "/N46E009.hgt");
        srtm1Tile = readTextFile(made + "/N47E008.hgt");
        gridTiff = readTextFile(made + "/grid.tif");
        ASSERT_EQ((i64)srtm3Tile.size(), kSrtm3Bytes);
        std::istringstream lines(readTextFile(made + "/heights.txt"));
        std::string group, raster, height;
        f64 longitude, latitude;
        while (lines >> group >> raster >> longitude >> latitude >> height) {
            if (group == "srtm3" && height != "none") srtm3Heights.push_back({longitude, latitude, std::stod(height)});
        }
        // The service's files: two good tiles, a truncated one and one of the right size whose heights
        // are nonsense.
        std::string www = serverRoot + "/www/";
        ASSERT_TRUE(writeTextFile(www + "N46E009.hgt", srtm3Tile));
        ASSERT_TRUE(writeTextFile(www + "N47E008.hgt", srtm1Tile));
        ASSERT_TRUE(writeTextFile(www + "N46E010.hgt", srtm3Tile.substr(0, 1000000)));
        std::string corrupt = srtm3Tile;
        for (size_t i = 0; i < corrupt.size(); i += 997) corrupt[i] = (char)0x7f;
        ASSERT_TRUE(writeTextFile(www + "N45E009.hgt", corrupt));
        runCommand("rm -rf " + made);
        std::string serverScript = std::string(ORVIK_SOURCE_DIR) + "/Tests/Map/elevation_server.py";
        for (int attempt = 0; attempt < 5 && server.pid < 0; attempt++) {
            serverPort = freeTcpPort();
            if (startPeerProcess(&server, {"/usr/bin/python3", serverScript, serverRoot, serverRoot + "/ec.crt",
                                           serverRoot + "/ec.key", std::to_string(serverPort), kUser, kPassword},
                                 serverRoot) &&
                !(waitForTcpPort(serverPort) && isPeerRunning(&server))) {
                stopPeerProcess(&server);
            }
        }
        ASSERT_GE(server.pid, 0) << readTextFile(server.log);
    }
    static void TearDownTestSuite() {
        stopPeerProcess(&server);
        removeFolder(serverRoot);
    }

    void SetUp() override {
        FileThreadFixture::SetUp();
        url = "https://127.0.0.1:" + std::to_string(serverPort);
        service = ElevationService{url.c_str(), kUser, kPassword};
        runCommand("rm -f " + serverRoot + "/requests.log");
    }
    void TearDown() override {
        releaseElevationMaps(loader.get(), platform, net.pool.get());
        FileThreadFixture::TearDown();
    }

    std::unique_ptr<ElevationMapLoader> newLoader(LonLatBox area) {
        std::unique_ptr<ElevationMapLoader> made(new ElevationMapLoader{});
        made->areaOfInterest = area;
        made->service = &service;
        made->clock = testClock;
        return made;
    }

    // One frame as the program runs it: downloads, the manager, then the file thread and the job
    // worker get their turn. The clock moves slower than the real one, so no time-out can run out
    // while the loopback peer works.
    void frame() {
        testTime += 100;
        downloadFiles(net.pool.get(), net.resolver.get(), net.sockets.get(), kDownloadConnections);
        manageElevationMaps(loader.get(), platform, net.pool.get(), nullptr, preferences.get());
        statuses.insert(loader->status.text);
        pass();
        runNextAsyncJob(&platform->jobQueue);
        usleep(200);
    }
    // Frames until the status is `wanted` or, when none is given, no raster is on its way.
    bool settle(const char* wanted = nullptr, int limit = 200000) {
        for (int i = 0; i < limit; i++) {
            frame();
            std::string status = loader->status.text;
            if (wanted ? status == wanted
                       : status.rfind("Loading", 0) != 0 && status.rfind("Parsing", 0) != 0) {
                return true;
            }
        }
        return false;
    }
    std::string requests() { return readTextFile(serverRoot + "/requests.log"); }

    std::string url;
    ElevationService service;
    Network net;
    std::unique_ptr<Preferences> preferences{new Preferences{}};
    std::unique_ptr<ElevationMapLoader> loader;
    std::set<std::string> statuses;
};

TEST_F(ElevationMapLoaderTest, MissingTileIsDownloadedWithCredentialsStoredAndUsedOfflineNextRun) {
    loader = newLoader(LonLatBox{9.40, 9.60, 46.55, 46.70});
    ASSERT_TRUE(settle("Loaded and Parsed")) << loader->status.text;
    EXPECT_TRUE(statuses.count("Loading 0 / 1"));
    EXPECT_EQ(requests(), "/N46E009.hgt 200\n");
    ASSERT_GT(srtm3Heights.size(), 500u);
    for (const auto& p : srtm3Heights) {
        ASSERT_NEAR(getElevation(loader.get(), GeoPoint{p[0], p[1]}, NAN), p[2], 1e-3) << p[0] << " " << p[1];
    }
    // The tile is written back whole.
    for (int i = 0; i < 50 && readWholeFile(dataFolder + "SRTM/N46E009.hgt").size() != srtm3Tile.size(); i++) pass();
    EXPECT_TRUE(readWholeFile(dataFolder + "SRTM/N46E009.hgt") == srtm3Tile);

    // The next run finds it in the folder: no request reaches the service.
    releaseElevationMaps(loader.get(), platform, net.pool.get());
    loader = newLoader(LonLatBox{9.40, 9.60, 46.55, 46.70});
    ASSERT_TRUE(settle("Loaded and Parsed")) << loader->status.text;
    EXPECT_EQ(requests(), "/N46E009.hgt 200\n");
    EXPECT_EQ(net.pool->usedMask, 0u);
    const auto& p = srtm3Heights[srtm3Heights.size() / 2];
    EXPECT_NEAR(getElevation(loader.get(), GeoPoint{p[0], p[1]}, NAN), p[2], 1e-3);
}

TEST_F(ElevationMapLoaderTest, WholeSrtm1TileIsDownloaded) {
    // An SRTM1 tile (25,934,402 bytes) is larger than the general large-download limit.
    loader = newLoader(LonLatBox{8.40, 8.60, 47.40, 47.60});
    ASSERT_TRUE(settle("Loaded and Parsed")) << loader->status.text;
    EXPECT_EQ(loader->slots[loader->order[0]].raster.width, 3601u);
    for (int i = 0; i < 50 && readWholeFile(dataFolder + "SRTM/N47E008.hgt").size() != srtm1Tile.size(); i++) pass();
    EXPECT_TRUE(readWholeFile(dataFolder + "SRTM/N47E008.hgt") == srtm1Tile);
}

TEST_F(ElevationMapLoaderTest, TruncatedOrCorruptTilesAreRefusedAndNotKept) {
    loader = newLoader(LonLatBox{10.40, 10.60, 46.40, 46.60});
    ASSERT_TRUE(settle());
    EXPECT_EQ(std::string(loader->status.text),
              "N46E010.hgt: SRTM tile is 1000000 bytes long, but it must be 25934402 (SRTM1) or 2884802 (SRTM3)");
    EXPECT_EQ(getElevation(loader.get(), GeoPoint{10.5, 46.5}, -32768.0f), -32768.0f);

    loader->areaOfInterest = LonLatBox{9.40, 9.60, 45.40, 45.60};
    ASSERT_TRUE(settle());
    EXPECT_EQ(std::string(loader->status.text).rfind("N45E009.hgt: SRTM tile holds a height of", 0), 0u)
        << loader->status.text;
    EXPECT_EQ(getElevation(loader.get(), GeoPoint{9.5, 45.5}, -32768.0f), -32768.0f);
    for (int i = 0; i < 20; i++) pass();
    EXPECT_FALSE(std::filesystem::exists(dataFolder + "SRTM/N46E010.hgt"));
    EXPECT_FALSE(std::filesystem::exists(dataFolder + "SRTM/N45E009.hgt"));
    EXPECT_EQ(requests(), "/N46E010.hgt 200\n/N45E009.hgt 200\n");
}

TEST_F(ElevationMapLoaderTest, WrongCredentialsOrNoServiceSayWhyTheTileIsMissing) {
    ElevationService wrong{url.c_str(), kUser, "guess"};
    loader = newLoader(LonLatBox{9.40, 9.60, 46.55, 46.70});
    loader->service = &wrong;
    ASSERT_TRUE(settle());
    EXPECT_EQ(std::string(loader->status.text), "N46E009.hgt: Server responded with HTTP code: 401");
    EXPECT_EQ(requests(), "/N46E009.hgt 401\n");

    // A failed tile waits before it is tried again.
    ElevationService none{"", "", ""};
    loader->service = &none;
    frame();
    EXPECT_EQ(std::string(loader->status.text), "N46E009.hgt: Server responded with HTTP code: 401");
    testTime += kElevationRetryInterval;
    ASSERT_TRUE(settle());
    EXPECT_EQ(std::string(loader->status.text),
              "N46E009.hgt is missing and no elevation service is configured to download it")
        << requests() << ::testing::PrintToString(statuses);
    // The program's own service is empty unless it was built with one.
    EXPECT_STREQ(builtInElevationService()->url, "");
}

TEST_F(ElevationMapLoaderTest, UserFilesAreReadFromTheElevationMapsFolder) {
    // A user's BIL and its header, made from the SRTM3 tile's samples.
    std::string header = "BYTEORDER M\nLAYOUT BIL\nNROWS 1201\nNCOLS 1201\nNBITS 16\nULXMAP 9\nULYMAP 47\n"
                         "XDIM 0.000833333333333333333\nYDIM 0.000833333333333333333\nNODATA -32768\n";
    writeDataFile("Elevation Maps/Valley.BIL", srtm3Tile);
    writeDataFile("Elevation Maps/Valley.HDR", header);
    preferences->customElevationDataFile = makeString("Valley.BIL");
    loader = newLoader(LonLatBox{});
    ASSERT_TRUE(settle("Loaded and Parsed")) << loader->status.text;
    for (size_t i = 0; i < srtm3Heights.size(); i += 37) {
        const auto& p = srtm3Heights[i];
        EXPECT_NEAR(getElevation(loader.get(), GeoPoint{p[0], p[1]}, NAN), p[2], 1e-3);
    }
    EXPECT_EQ(requests(), "");

    // A GeoTIFF is parsed on the job worker, which reports its progress.
    writeDataFile("Elevation Maps/grid.tif", gridTiff);
    preferences->customElevationDataFile = makeString("grid.tif");
    ASSERT_TRUE(settle("Loaded and Parsed")) << loader->status.text;
    EXPECT_TRUE(statuses.count("Parsing 0%"));
    EXPECT_FALSE(std::isnan(getElevation(loader.get(), GeoPoint{8.65, 47.45}, NAN)));

    preferences->customElevationDataFile = makeString("missing.tif");
    ASSERT_TRUE(settle());
    EXPECT_EQ(std::string(loader->status.text), "missing.tif: File not found");
    EXPECT_TRUE(std::isnan(getElevation(loader.get(), GeoPoint{9.5, 46.5}, NAN)));
    preferences->customElevationDataFile = makeString("notes.txt");
    ASSERT_TRUE(settle());
    EXPECT_EQ(std::string(loader->status.text),
              "notes.txt is not an elevation file this program reads (.tif, .tiff, .bil, .hgt)");
}

TEST(SrtmTiles, AtMostFourTilesNearestTheAreaCentreFirst) {
    i32 south[4], west[4];
    // A large area: its centre tile first, then the nearest of its neighbours.
    LonLatBox large{5.0, 12.0, 45.0, 50.0};
    ASSERT_EQ(chooseSrtmTiles(&large, 4, south, west), 4u);
    EXPECT_EQ(srtmTileName(south[0], west[0]).text, std::string("N47E008.hgt"));
    std::set<std::string> rest;
    for (int i = 1; i < 4; i++) rest.insert(srtmTileName(south[i], west[i]).text);
    EXPECT_EQ(rest, (std::set<std::string>{"N47E007.hgt", "N47E009.hgt", "N46E008.hgt"}));
    // Southern and western hemispheres, and an area across the antimeridian (longitudes past 180).
    LonLatBox across{179.6, 180.4, -12.6, -12.4};
    ASSERT_EQ(chooseSrtmTiles(&across, 4, south, west), 2u);
    std::set<std::string> names{srtmTileName(south[0], west[0]).text, srtmTileName(south[1], west[1]).text};
    EXPECT_EQ(names, (std::set<std::string>{"S13E179.hgt", "S13W180.hgt"}));
    LonLatBox none{};
    EXPECT_EQ(chooseSrtmTiles(&none, 4, south, west), 0u);  // no area yet
}

}  // namespace
