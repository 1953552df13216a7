// The tile map end to end in a headless window: tiles of known colours from an HTTPS tile server
// on loopback, found through the program's own DNS client asking a local dnsmasq, drawn at the
// right places, kept in "Tile Maps/" and shown from there again with the server gone; a 404, a
// server that never answers and a damaged tile leave a gap and a status while the rest loads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <sys/stat.h>

#include "../Network/HttpsTestPeers.h"
#include "../Network/NetworkTestSupport.h"
#include "Core/JobQueue.h"
#include "Core/Preferences.h"
#include "Map/TileMaps.h"
#include "Network/Download.h"
#include "SourceCommon/Renderer/RendererState.h"
#include "SourceCommon/UserInterface/MapView.h"
#include "Support/RenderHarness.h"

namespace {

constexpr i32 kWidth = 1024, kHeight = 512;
constexpr u32 kLevel = 3;
constexpr u8 kClear = 7;  // the window's clear colour, red = green = blue

u64 tileTestNow = 50000000;
u64 tileTestClock() { return tileTestNow; }

// What the frames of the test draw: one map view over the window with its tiles, and the network
// steps of the application update.
struct TileWorld {
    TileMaps tiles;
    DownloadPool pool;
    DnsResolver resolver;
    Socket sockets[kDownloadConnections];
    DnsServerList servers;
    Preferences preferences;
    MapView view;
    u32 centred;
};
TileWorld* world = nullptr;

void tileFrame(Platform* platform, UiState* ui, AppState*) {
    tileTestNow += 16667;
    downloadFiles(&world->pool, &world->resolver, world->sockets, kDownloadConnections);
    checkDnsQueries(&world->resolver, &world->servers);
    ui->clearColor[0] = ui->clearColor[1] = ui->clearColor[2] = kClear;
    Rect window{0, (f32)kWidth, 0, (f32)kHeight};
    updateMapView(&world->view, &window, Box2{0, 0, -0.5, 0.5}, ui, nullptr, platform, MapWheelZooms);
    if (!world->centred) {
        // Level 3 at its native scale, tiles x 1 to 4 and y 2 to 3 filling the window.
        world->centred = 1;
        setMapCenterAndZoom(&world->view, -0.5 + 3.0 / 8 + 1e-6, 0.5 - 3.0 / 8 - 1e-6, 256.0 * 8);
    }
    drawTileMaps(&world->view, ui, platform, &world->preferences, &world->tiles, 0.5f, 0);
}

void setText(FixedString* field, const std::string& value) { *field = makeString(value.c_str()); }

u32 expectedColour(u32 x, u32 y) {  // the server's tileColour as 0xAABBGGRR
    u32 r = (kLevel * 40 + 20) % 256, g = (x * 50 + 30) % 256, b = (y * 60 + 40) % 256;
    return 0xFF000000u | b << 16 | g << 8 | r;
}

bool near(u32 a, u32 b, i32 tolerance) {
    for (i32 shift = 0; shift < 24; shift += 8) {
        i32 d = (i32)((a >> shift) & 255) - (i32)((b >> shift) & 255);
        if (d > tolerance || d < -tolerance) return false;
    }
    return true;
}

class TileMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = makeScratchFolder("orvik-tiles");
        ASSERT_FALSE(folder.empty());
        ASSERT_TRUE(makeTestCertificates(folder));
        ASSERT_TRUE(startDnsmasq(&dns, folder, {"--address=/tiles.test/127.0.0.1"}, &dnsPort));
        port = freeTcpPort();
        ASSERT_TRUE(startPeerProcess(&server,
                                     {"/usr/bin/python3", std::string(ORVIK_SOURCE_DIR) + "/Tests/Map/tile_server.py",
                                      std::to_string(port), folder + "/ec.crt", folder + "/ec.key", "--missing",
                                      "3/1/2", "--stall", "3/2/2", "--corrupt", "3/4/2"},
                                     folder));
        ASSERT_TRUE(waitForTcpPort(port));
        ASSERT_TRUE(startRenderHarness(&harness, kWidth, kHeight).length == 0);
        runCommand("mkdir -p '" + folder + "/data'");
        harness.platform->dataFolder = makeString((folder + "/data/").c_str());
        harness.platform->pathSeparator = '/';
        startWorld();
        setHarnessUpdate(&harness, tileFrame);
    }
    void TearDown() override {
        stopWorld();
        stopRenderHarness(&harness);
        stopPeerProcess(&server);
        stopPeerProcess(&dns);
        removeFolder(folder);
    }
    void startWorld() {
        world = (TileWorld*)std::calloc(1, sizeof(TileWorld));
        world->tiles.downloads = &world->pool;
        world->tiles.clock = tileTestClock;
        world->pool.clock = tileTestClock;
        world->resolver.clock = tileTestClock;
        for (i32 c = 0; c < kDownloadConnections; c++) {
            world->pool.connections[c].tls.clock = tileTestClock;
            world->pool.connections[c].tls.trustStore = testCertificateTrust();
            world->sockets[c].clock = tileTestClock;
        }
        u8 loopback[4] = {127, 0, 0, 1};
        world->servers.count = 1;
        world->servers.servers[0] = makeAddressRecord(4, loopback, dnsPort);
        setText(&world->preferences.mapUrl,
                "https://tiles.test:" + std::to_string(port) + "/{z}/{x}/{y}.{extension}?key={qvgeoapifykey}");
        setText(&world->preferences.mapStyle, "osm-carto");
        setText(&world->preferences.mapStyleFileExtension, "png");
        world->view = makeMapView(WidgetId{1, "tiles"}, MapViewModeMap);
    }
    void stopWorld() {
        if (!world) return;
        releaseTileMaps(&world->tiles, &harness.app->renderer.ui, harness.platform);
        for (i32 i = 0; i < kDownloadSlots; i++) {
            if (world->pool.usedMask & (1ull << i)) releaseDownload(&world->pool.slots[i], &world->pool);
        }
        for (i32 c = 0; c < kDownloadConnections; c++) closeSocket(&world->sockets[c]);
        closeDnsResolver(&world->resolver);
        std::free(world);
        world = nullptr;
    }
    // A frame, the decodes it queued, and a moment for the loopback peers.
    void frame() {
        runHarnessFrame(&harness);
        while (runNextAsyncJob(&harness.platform->jobQueue)) {
        }
        std::string status(world->tiles.status.text, world->tiles.status.length);
        if (!status.empty()) statuses.insert(status);
        waitBriefly();
    }
    u32 probe(u32 x, u32 y) {
        Vec2F32 at = mapPointToScreen(&world->view, Vec2{-0.5 + (x + 0.5) / 8, 0.5 - (y + 0.5) / 8});
        return harnessPixel(&harness, (i32)at.x, (i32)at.y);
    }
    // Frames until every good tile shows its colour (within the tolerance); false after the limit.
    bool showsGoodTiles(i32 tolerance, i32 limit = 3000) {
        for (i32 i = 0; i < limit; i++) {
            frame();
            bool all = true;
            for (u32 y = 2; y <= 3; y++) {
                for (u32 x = 1; x <= 4; x++) {
                    if (y == 2 && (x == 1 || x == 2 || x == 4)) continue;
                    all = all && near(probe(x, y), expectedColour(x, y), tolerance);
                }
            }
            if (all) return true;
        }
        return false;
    }
    i32 requestsFor(const std::string& path) {
        std::string log = readTextFile(server.log);
        i32 count = 0;
        for (size_t at = log.find(path + "\n"); at != std::string::npos; at = log.find(path + "\n", at + 1)) count++;
        return count;
    }
    // The reason a failed tile of the test's level gives, empty when it has not failed.
    std::string failure(u32 x, u32 y) {
        for (const TileEntry& entry : world->tiles.entries) {
            if (entry.state == TileEntryFailed && entry.level == kLevel && entry.x == x && entry.y == y) {
                return std::string(entry.message.text, entry.message.length);
            }
        }
        return "";
    }
    bool fileExists(const std::string& relative) {
        struct stat info;
        return stat((folder + "/data/" + relative).c_str(), &info) == 0 && info.st_size > 0;
    }

    std::string folder;
    PeerProcess dns, server;
    u16 dnsPort = 0, port = 0;
    RenderHarness harness{};
    std::set<std::string> statuses;
};

TEST_F(TileMapTest, DownloadedTilesShowKeepForOfflineUseAndFailuresLeaveGapsWithAStatus) {
    const u32 gap = 0xFF000000u | kClear << 16 | kClear << 8 | kClear;
    // PNG tiles come in while one request hangs; the missing and the damaged tile stay gaps.
    ASSERT_TRUE(showsGoodTiles(0));
    for (i32 i = 0; i < 3; i++) frame();  // the file jobs of the last tiles
    EXPECT_EQ(world->tiles.lastLevel, kLevel);
    EXPECT_EQ(probe(1, 2), gap);
    EXPECT_EQ(probe(4, 2), gap);
    EXPECT_EQ(probe(2, 2), gap);
    for (u32 x : {3u}) EXPECT_TRUE(fileExists("Tile Maps/osm-carto/3/" + std::to_string(x) + "/2.png"));
    for (u32 x = 1; x <= 4; x++) EXPECT_TRUE(fileExists("Tile Maps/osm-carto/3/" + std::to_string(x) + "/3.png"));
    EXPECT_FALSE(fileExists("Tile Maps/osm-carto/3/1/2.png"));
    EXPECT_FALSE(fileExists("Tile Maps/osm-carto/3/4/2.png"));
    for (i32 i = 0; i < 2000 && (failure(1, 2).empty() || failure(4, 2).empty()); i++) frame();
    EXPECT_EQ(failure(1, 2), "Server responded with HTTP code: 404");
    EXPECT_NE(failure(4, 2), "");  // the decoder's reason
    EXPECT_NE(statuses.count("Tile 3/1/2: Server responded with HTTP code: 404") +
                  statuses.count("Tile 3/4/2: " + failure(4, 2)),
              0u);

    // The hanging request times out as the clock passes the download's limit.
    tileTestNow += kDownloadHeaderTimeout + 1000;
    for (i32 i = 0; i < 5; i++) frame();
    EXPECT_EQ(failure(2, 2).rfind("Https connection timed out", 0), 0u) << failure(2, 2);
    EXPECT_EQ(probe(2, 2), gap);

    // A failed tile is asked for again only after 30 seconds.
    EXPECT_EQ(requestsFor("3/1/2.png"), 1);
    tileTestNow += kTileRetryMicroseconds / 2;
    for (i32 i = 0; i < 30; i++) frame();
    EXPECT_EQ(requestsFor("3/1/2.png"), 1);
    tileTestNow += kTileRetryMicroseconds / 2 + 1000;
    for (i32 i = 0; i < 100 && requestsFor("3/1/2.png") < 2; i++) frame();
    EXPECT_EQ(requestsFor("3/1/2.png"), 2);

    // JPEG tiles: another extension is another set of tiles, downloaded and kept beside the first.
    setText(&world->preferences.mapStyleFileExtension, "jpg");
    ASSERT_TRUE(showsGoodTiles(4));
    for (i32 i = 0; i < 3; i++) frame();
    EXPECT_TRUE(fileExists("Tile Maps/osm-carto/3/3/3.jpg"));
    setText(&world->preferences.mapStyleFileExtension, "png");

    // A second run with the server gone shows the kept tiles from the folder.
    stopPeerProcess(&server);
    stopWorld();
    startWorld();
    ASSERT_TRUE(showsGoodTiles(0, 600));
    EXPECT_EQ(probe(1, 2), gap);

    // Closer in, the level-4 tiles are not to be had: their level-3 ancestors' parts stand in.
    setMapCenterAndZoom(&world->view, world->view.centreX, world->view.centreY, 256.0 * 16);
    for (i32 i = 0; i < 10; i++) frame();
    EXPECT_EQ(world->tiles.lastLevel, kLevel + 1);
    Vec2F32 inside = mapPointToScreen(&world->view, Vec2{-0.5 + 3.25 / 8, 0.5 - 3.25 / 8});
    EXPECT_EQ(harnessPixel(&harness, (i32)inside.x, (i32)inside.y), expectedColour(3, 3));
}

// A style or extension taken from the preferences can never place a file outside the tile folder.
TEST(TileNames, StyleAndExtensionStayInsideTheTileFolderAndTheUrlGetsEveryPlaceholder) {
    FixedString style = makeString("../../Flight Logs"), extension = makeString("png/..");
    FixedString path = tileFilePath(&style, &extension, 3, 4, 5);
    EXPECT_EQ(std::string(path.text, path.length), "Tile Maps/______Flight_Logs/3/4/5.png___");
    FixedString urlTemplate = makeString("https://h.test:8443/{style}/{z}/{x}/{y}.{extension}?k={qvgeoapifykey}&{q}");
    style = makeString("osm-carto");
    extension = makeString("jpg");
    u8 bytes[200];
    ByteWriter url = makeByteWriter(bytes, sizeof(bytes));
    tileUrl(&urlTemplate, &style, &extension, 19, 524287, 7, &url);
    EXPECT_EQ(std::string((const char*)bytes, (size_t)url.length),
              "https://h.test:8443/osm-carto/19/524287/7.jpg?k=" + std::string(tileServiceKey) + "&{q}");
}

}  // namespace
