// The loader through the file thread's passes, the job ring and icon downloads from nginx on
// loopback: a selected KML is read, parsed, its URL icons fetched once per href, its cache written
// and selected; the cache then loads with no server. A picked cache is copied into "Overlays/".
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include <unistd.h>

#include "Core/ImageSlots.h"
#include "Core/JobQueue.h"
#include "Network/Download.h"
#include "Network/HttpsTestPeers.h"
#include "Network/NetworkTestSupport.h"
#include "Overlays/VectorOverlayLoader.h"
#include "OverlayTestSupport.h"
#include "Platform/FileTestSupport.h"

namespace {

void setText(FixedString* field, const std::string& value) { *field = makeString(value.c_str()); }

u64 loaderTestNow = 10000000;
u64 loaderTestClock() { return loaderTestNow; }

struct LoaderWorld {
    VectorOverlayLoader loader;
    Preferences preferences;
    ImageSlotTable slots;
    DownloadPool pool;
    DnsResolver resolver;
    Socket sockets[kDownloadConnections];
};

class VectorLoader : public FileThreadFixture {
protected:
    void SetUp() override {
        FileThreadFixture::SetUp();
        world = makeZeroed<LoaderWorld>();
        world->pool.clock = loaderTestClock;
        world->resolver.clock = loaderTestClock;
        for (i32 c = 0; c < kDownloadConnections; c++) {
            world->pool.connections[c].tls.clock = loaderTestClock;
            world->sockets[c].clock = loaderTestClock;
        }
        peerFolder = makeScratchFolder("orvik-overlay-peer");
        ASSERT_TRUE(makeTestCertificates(peerFolder));
        for (i32 c = 0; c < kDownloadConnections; c++) world->pool.connections[c].tls.trustStore = testCertificateTrust();
    }
    void TearDown() override {
        releaseVectorOverlayLoader(&world->loader, &platform->fileReads, &world->slots, &world->pool);
        for (i32 c = 0; c < kDownloadConnections; c++) closeSocket(&world->sockets[c]);
        stopPeerProcess(&nginx);
        removeFolder(peerFolder);
        FileThreadFixture::TearDown();
    }
    // One frame of the loader, the file thread, the job worker and the network. The clock moves on
    // 16.7 ms a frame, but while a download waits for nginx's answer only on frames where its bytes
    // wait in the socket (after up to 10 ms of real time for them): however slowly nginx answers, no
    // download time-out runs out.
    void frame(FileReadRequest** pick = nullptr) {
        if (downloadClockMayMove(&world->pool, world->sockets, 10)) loaderTestNow += 16667;
        OverlaySelection selection = overlaySelectionOf(&world->preferences);
        updateVectorOverlayLoader(&world->loader, &selection, &platform->fileReads, &platform->fileJobs,
                                  &platform->jobQueue, &world->slots, &world->pool, pick);
        pass();
        runNextAsyncJob(&platform->jobQueue);
        downloadFiles(&world->pool, &world->resolver, world->sockets, kDownloadConnections);
    }
    // Frames until `done` holds; false after a minute of real time (a guard against a hang only).
    bool runUntil(const std::function<bool()>& done) {
        for (u64 start = realMicroseconds(); withinPatience(start);) {
            if (done()) return true;
            frame();
        }
        return done();
    }
    std::string selected() { return world->preferences.vectorOverlayFile.text; }
    const OverlayMarkerImage* image(const std::string& suffix) {
        for (u32 i = 0; i < world->loader.overlay.markerImageCount; i++) {
            std::string href = world->loader.overlay.markerImages[i].href.text;
            if (href.size() >= suffix.size() && href.compare(href.size() - suffix.size(), suffix.size(), suffix) == 0) {
                return &world->loader.overlay.markerImages[i];
            }
        }
        return nullptr;
    }
    std::string pixelsOf(const OverlayMarkerImage* image) {
        return std::string((const char*)(world->loader.overlay.markerImagePixels + image->firstPixel),
                           (size_t)image->width * image->height * 4);
    }

    HeapPtr<LoaderWorld> world;
    std::string peerFolder;
    PeerProcess nginx;
};

TEST_F(VectorLoader, UrlIconsComeOncePerHrefAFailureLeavesItsMessageAndTheCacheLoadsWithoutTheServer) {
    u16 port = 0;
    ASSERT_TRUE(startNginx(&nginx, peerFolder, &port));
    ASSERT_EQ(std::system(("/usr/bin/python3 " + overlayTestScript("kmz_oracle.py") + " make " + peerFolder + " " +
                           std::to_string(port))
                              .c_str()),
              0);
    writeDataFile("Overlays/Burn units.KML", readFileBytes(peerFolder + "/remote.kml"));
    setText(&world->preferences.vectorOverlayFile, "Burn units.KML");

    // Loaded, icons settled, cache written and selected in the source's place.
    ASSERT_TRUE(runUntil([&] { return selected() == "Burn units.KMLbin" && !hasUnfinishedFileJobs(&platform->fileJobs); }));
    EXPECT_EQ(world->loader.state, 1u);
    const OverlayMarkerImage* remote = image("remote.png");
    ASSERT_NE(remote, nullptr);
    EXPECT_EQ(remote->state, (u32)OverlayImagePresent);
    EXPECT_NE(remote->slot, 0u);
    EXPECT_EQ(pixelsOf(remote), readFileBytes(peerFolder + "/remote.png.rgba"));
    EXPECT_EQ(image("missing.png")->state, (u32)OverlayImageDownloadFailed);
    std::string message = world->loader.overlay.message.text;
    EXPECT_EQ(message.rfind("Failed to download https://127.0.0.1:" + std::to_string(port) + "/missing.png: ", 0), 0u)
        << message;
    // Two styles name the icon: one request.
    std::string log = readFileBytes(peerFolder + "/access.log");
    size_t requests = 0;
    for (size_t at = log.find("GET /remote.png"); at != std::string::npos; at = log.find("GET /remote.png", at + 1)) {
        requests++;
    }
    EXPECT_EQ(requests, 1u) << log;
    ASSERT_TRUE(std::filesystem::exists(dataFolder + "Overlays/Burn units.KMLbin"));

    // Without the server, a fresh loader takes everything from the cache.
    stopPeerProcess(&nginx);
    std::string remotePixels = pixelsOf(remote);
    releaseVectorOverlayLoader(&world->loader, &platform->fileReads, &world->slots, &world->pool);
    std::memset((void*)&world->loader, 0, sizeof(VectorOverlayLoader));
    ASSERT_TRUE(runUntil([&] { return world->loader.state == 1; }));
    for (int i = 0; i < 10; i++) frame();
    EXPECT_EQ(world->loader.downloads.count, 0u);
    EXPECT_EQ(world->loader.cacheNeeded, 0u);
    EXPECT_EQ(selected(), "Burn units.KMLbin");
    remote = image("remote.png");
    EXPECT_EQ(remote->state, (u32)OverlayImagePresent);
    EXPECT_NE(remote->slot, 0u);
    EXPECT_EQ(pixelsOf(remote), remotePixels);
    EXPECT_EQ(std::string(world->loader.overlay.message.text), message);
}

TEST_F(VectorLoader, APickedCacheIsWrittenIntoTheOverlaysFolderAndABadOneLeavesItsMessage) {
    ASSERT_EQ(std::system(("/usr/bin/python3 " + overlayTestScript("kmz_oracle.py") + " make " + peerFolder + " 1")
                              .c_str()),
              0);
    // A KMZ picked from elsewhere: its cache lands in "Overlays/" under the picked name plus "bin".
    std::string kmz = readFileBytes(peerFolder + "/deflated.kmz");
    u8* bytes = allocateFileBuffer(kmz.size());
    std::memcpy(bytes, kmz.data(), kmz.size());
    FileReadRequest* pick = fileRequestFromBuffer(bytes, kmz.size(), 1, makeString("/elsewhere/Plan.kmz"), 7,
                                                  &platform->fileReads);
    frame(&pick);
    EXPECT_EQ(pick, nullptr);
    ASSERT_TRUE(runUntil([&] { return selected() == "Plan.kmzbin" && !hasUnfinishedFileJobs(&platform->fileJobs); }));
    ASSERT_TRUE(std::filesystem::exists(dataFolder + "Overlays/Plan.kmzbin"));
    std::string cache = readFileBytes(dataFolder + "Overlays/Plan.kmzbin");

    // That cache picked from elsewhere under another name is copied in as well.
    std::filesystem::remove(dataFolder + "Overlays/Plan.kmzbin");
    bytes = allocateFileBuffer(cache.size());
    std::memcpy(bytes, cache.data(), cache.size());
    pick = fileRequestFromBuffer(bytes, cache.size(), 1, makeString("/elsewhere/Copy.KMZBIN"), 7,
                                 &platform->fileReads);
    frame(&pick);
    ASSERT_TRUE(runUntil([&] {
        return selected() == "Copy.KMZBIN" && std::filesystem::exists(dataFolder + "Overlays/Copy.KMZBIN") &&
               !hasUnfinishedFileJobs(&platform->fileJobs);
    }));
    EXPECT_EQ(readFileBytes(dataFolder + "Overlays/Copy.KMZBIN").substr(8), cache.substr(8));

    // A damaged cache selected by name: the reader's text, and no retry while it stays selected.
    writeDataFile("Overlays/Broken.kmlbin", cache.substr(0, 40));
    setText(&world->preferences.vectorOverlayFile, "Broken.kmlbin");
    ASSERT_TRUE(runUntil([&] { return world->loader.failedName.length > 0; }));
    EXPECT_STREQ(world->loader.message.text, "Truncated file");
    EXPECT_STREQ(world->loader.failedName.text, "Broken.kmlbin");
    EXPECT_EQ(world->loader.state, 0u);
    for (int i = 0; i < 5; i++) frame();
    EXPECT_EQ(world->loader.request, nullptr);
}

}  // namespace
