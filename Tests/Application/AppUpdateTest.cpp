// The per-frame application update: the first frame's identity and screen stack, UI metrics for
// several window sizes, the area of interest and the logging decision over scripted vehicle states
// with an injected clock, drop-location expiry on the frame the cache loads, F11 and the relay
// socket.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

#include "Application/AppCache.h"
#include "Application/AppUpdate.h"
#include "Core/MathEarth.h"
#include "Crypto/X25519.h"
#include "Drone/SharingRequest.h"
#include "Platform/FileTestSupport.h"
#include "Screens/MainScreen.h"
#include "SourceCommon/Renderer/UiState.h"
#include "Support/FreePorts.h"
#include "Video/QvVideoStream.h"

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
std::unique_ptr<T, FreeDeleter> zeroed() {
    return std::unique_ptr<T, FreeDeleter>((T*)std::calloc(1, sizeof(T)));
}

TEST(UiMetricsTest, FollowTheWindowSize) {
    UiMetrics tall = computeUiMetrics(Rect{0, 400, 0, 2000});
    EXPECT_FLOAT_EQ(tall.textHeight, 22.0f);
    UiMetrics wide = computeUiMetrics(Rect{0, 1920, 0, 1080});
    EXPECT_NEAR(wide.textHeight, 540.0 / 17, 1e-4);
    EXPECT_NEAR(wide.buttonTextHeight, 1.3 * 540 / 17, 1e-3);
    EXPECT_NEAR(wide.margin, 1.3 * 540 / 17 / 8, 1e-3);
    EXPECT_NEAR(wide.rowHeight, 1.3 * 540 / 17 * 1.25, 1e-3);
    EXPECT_NEAR(wide.buttonHeight, 1.3 * 540 / 17 * 2.25, 1e-3);
    // Portrait: the width limits the text to w / 22.
    UiMetrics portrait = computeUiMetrics(Rect{0, 1080, 0, 1920});
    EXPECT_NEAR(portrait.textHeight, 540.0 / 22, 1e-4);
    UiMetrics big = computeUiMetrics(Rect{100, 3940, 50, 2210});
    EXPECT_NEAR(big.textHeight, 1080.0 / 17, 1e-3);
    UiMetrics none = computeUiMetrics(Rect{0, 0, 0, 0});
    EXPECT_FLOAT_EQ(none.textHeight, 22.0f);
    EXPECT_FLOAT_EQ(none.buttonHeight, 2 * 28.6f + 2 * 3.575f);
}

class AppAreaAndLogging : public ::testing::Test {
protected:
    void SetUp() override { app = zeroed<AppState>(); }
    VehicleState* vehicle() { return &app->droneConnection.vehicle; }
    LonLatBox box() { return app->elevationMapLoader.areaOfInterest; }
    void addWaypoint(f64 longitude, f64 latitude) {
        GeoPoint point{longitude, latitude};
        Vec2 position;
        latLngToMercator(&position, &point);
        Waypoint* w = &app->waypointMissionEditor.waypoints[app->waypointMissionEditor.waypointCount++];
        w->x = position.x;
        w->y = position.y;
    }
    std::unique_ptr<AppState, FreeDeleter> app;
};

TEST_F(AppAreaAndLogging, AreaOfInterestHoldsVehicleMissionAndTransect) {
    app->elevationMapLoader.areaOfInterest = LonLatBox{1, 2, 3, 4};
    EXPECT_EQ(updateAreaOfInterest(app.get(), 1000000), 0);
    EXPECT_EQ(box().lonMin, 1);  // nothing to hold: the box stays

    VehicleState* v = vehicle();
    v->lastHeardTime = 900000;
    v->home = StoredPosition{5, 150.0, -33.0, 0};
    v->globalPosition.time = 5;
    v->globalPosition.longitude = 150.2;
    v->globalPosition.latitude = -33.1;
    v->latitudeOffset = 0.01;
    v->longitudeOffset = -0.02;
    addWaypoint(150.5, -32.8);
    GeoPoint corner{149.9, -33.4};
    latLngToMercator(&app->transectRegion.points[0], &corner);
    app->transectRegion.pointCount = 1;
    EXPECT_EQ(updateAreaOfInterest(app.get(), 1000000), 1);
    EXPECT_NEAR(box().lonMin, 149.9, 1e-9);
    EXPECT_NEAR(box().lonMax, 150.5, 1e-9);
    EXPECT_NEAR(box().latMin, -33.4, 1e-9);
    EXPECT_NEAR(box().latMax, -32.8, 1e-9);
}

TEST_F(AppAreaAndLogging, AreaOfInterestAcrossTheAntimeridianStaysNarrow) {
    VehicleState* v = vehicle();
    v->home = StoredPosition{5, 179.8, -17.0, 0};
    addWaypoint(-179.7, -17.2);
    addWaypoint(179.5, -16.9);
    EXPECT_EQ(updateAreaOfInterest(app.get(), 1000000), 1);
    EXPECT_NEAR(box().lonMin, 179.5, 1e-9);
    EXPECT_NEAR(box().lonMax, 180.3, 1e-9);
}

TEST_F(AppAreaAndLogging, AReplayCountsOnlyWhileTheLiveVehicleIsSilent) {
    app->flightLogViewerOpen = 1;
    app->flightLogReplay.connection.vehicle.home = StoredPosition{5, 10.0, 50.0, 0};
    VehicleState* v = vehicle();
    v->home = StoredPosition{5, -70.0, -40.0, 0};
    v->lastHeardTime = 10000000;
    EXPECT_EQ(updateAreaOfInterest(app.get(), 14000000), 1);
    EXPECT_EQ(box().lonMin, -70.0);
    EXPECT_EQ(updateAreaOfInterest(app.get(), 15000001), 1);
    EXPECT_EQ(box().lonMin, 10.0);
    app->flightLogViewerOpen = 0;
    EXPECT_EQ(updateAreaOfInterest(app.get(), 15000001), 1);
    EXPECT_EQ(box().lonMin, -70.0);
}

TEST_F(AppAreaAndLogging, LoggingFollowsTheFlightOverAScriptedVehicle) {
    VehicleState* v = vehicle();
    FlightLogger* logger = &app->flightLogger;
    const ElevationMapLoader* loader = &app->elevationMapLoader;
    u64 t = 100000000;
    v->lastHeardTime = t;
    v->landedState = 1;  // on the ground, no log open: never opens one
    EXPECT_EQ(decideLogging(v, logger, loader, t), 0);
    v->landedState = 2;  // in the air
    EXPECT_EQ(decideLogging(v, logger, loader, t + 1000), 1);
    EXPECT_EQ(decideLogging(v, logger, loader, t + 59999999), 1);
    EXPECT_EQ(decideLogging(v, logger, loader, t + 60000000), 0);  // a minute of silence

    // Landed state below 2 with a log open: high above the ground holds the log for 5 s, then only
    // while moving.
    logger->logFileName = makeString("Flight Logs/test.qvlog3");
    v->landedState = 1;
    v->home = StoredPosition{5, 150.0, -33.0, 0};
    v->globalPosition.time = 5;
    v->globalPosition.relativeAltitude = 40.0;
    v->altitudeOffset = -25.0;
    u64 now = t + 1000;
    EXPECT_EQ(decideLogging(v, logger, loader, now), 1);
    EXPECT_EQ(logger->highAboveGroundSince, (i64)now);
    EXPECT_EQ(decideLogging(v, logger, loader, now + 4999999), 1);
    EXPECT_EQ(decideLogging(v, logger, loader, now + 5000000), 0);
    v->velocityEast = -0.6;
    EXPECT_EQ(decideLogging(v, logger, loader, now + 5000000), 1);
    v->velocityEast = 0.5;
    EXPECT_EQ(decideLogging(v, logger, loader, now + 5000000), 0);
    // Low: height 10 m or less logs only while moving.
    logger->highAboveGroundSince = 0;
    v->globalPosition.relativeAltitude = 35.0;  // 10 m with the shift
    EXPECT_EQ(decideLogging(v, logger, loader, now), 0);
    EXPECT_EQ(logger->highAboveGroundSince, 0);
    v->velocityDown = 0.51;
    EXPECT_EQ(decideLogging(v, logger, loader, now), 1);
}

TEST(FlightLoggerEntries, RegisteredOnlyWithAPayloadAndAtMost128) {
    auto logger = zeroed<FlightLogger>();
    u8 payload[4] = {1, 2, 3, 4};
    FlightLogEntryRecord empty{};
    FlightLogEntryRecord full{};
    full.payload = makeByteWriter(payload, sizeof(payload));
    EXPECT_EQ(registerFlightLogEntry(logger.get(), &empty), 0);
    EXPECT_EQ(logger->registeredEntryCount, 0u);
    for (u32 i = 0; i < kMaxRegisteredLogEntries; i++) ASSERT_EQ(registerFlightLogEntry(logger.get(), &full), 1);
    EXPECT_EQ(registerFlightLogEntry(logger.get(), &full), 0);
    EXPECT_EQ(logger->registeredEntryCount, kMaxRegisteredLogEntries);
    EXPECT_EQ(logger->registeredEntries[0], &full);
}

// Whole frames of the update against the real file thread with injected clocks.
u64 fakeMicroseconds = 0;
i64 fakeUtcMs = 0;
u64 readFakeMicroseconds() { return fakeMicroseconds; }
i64 readFakeUtcMs() { return fakeUtcMs; }

class AppFrames : public FileThreadFixture {
protected:
    void SetUp() override {
        FileThreadFixture::SetUp();
        app = zeroed<AppState>();
        ui = zeroed<UiState>();
        ui->screenRect = Rect{0, 1280, 0, 720};
        // Start-up grants both folders.
        platform->documentsFolderAccess = 1;
        platform->appFolderAccess = 1;
        app->clocks.monotonicMicroseconds = readFakeMicroseconds;
        app->clocks.utcMilliseconds = readFakeUtcMs;
        fakeMicroseconds = 2000000;
        fakeUtcMs = 13000000000000;
    }
    void frame() {
        updateApp(platform, ui.get(), app.get());
        pass();
        fakeMicroseconds += 16667;
    }
    // The app cache file as the program would write it for `stored`.
    void writeStoredCache(AppState* stored) {
        ByteWriter measure = makeMeasuringWriter(1 << 30);
        writeAppCacheFile(stored, &measure);
        std::string bytes((size_t)measure.length, '\0');
        ByteWriter fill = makeByteWriter(bytes.data(), measure.length);
        writeAppCacheFile(stored, &fill);
        writeDataFile("OrvikAppCache.bin", bytes);
    }
    std::unique_ptr<AppState, FreeDeleter> app;
    std::unique_ptr<UiState, FreeDeleter> ui;
};

TEST_F(AppFrames, TheFirstFrameDrawsTheIdentityAndOpensTheMainScreen) {
    platform->biosProductName = makeString("optimus");
    platform->biosManufacturer = makeString("CubePilot");
    frame();
    EXPECT_EQ(app->started, 1u);
    EXPECT_EQ(app->screenStack.depth, 1);
    EXPECT_EQ(app->screenStack.screens[0], mainScreen);
    EXPECT_EQ(app->flightLogger.fileJobs, &platform->fileJobs);
    EXPECT_EQ(app->orvikGeofence.flightLogger, &app->flightLogger);
    u8 zero[32] = {};
    EXPECT_NE(std::memcmp(app->installationId, zero, 32), 0);
    u8 expected[32];
    x25519(expected, app->relayHostIdentity.privateKey, x25519BasePoint);
    EXPECT_EQ(std::memcmp(expected, app->relayHostIdentity.publicKey, 32), 0);
    x25519(expected, app->secureLinkClientIdentity.privateKey, x25519BasePoint);
    EXPECT_EQ(std::memcmp(expected, app->secureLinkClientIdentity.publicKey, 32), 0);
    EXPECT_NE(std::memcmp(app->relayHostIdentity.privateKey, app->secureLinkClientIdentity.privateKey, 32), 0);
    char name[64];
    std::snprintf(name, sizeof(name), "optimus %02x%02x%02x%02x", app->installationId[0], app->installationId[1],
                  app->installationId[2], app->installationId[3]);
    FixedString got = app->secureLinkClientIdentity.name;
    EXPECT_TRUE(equalsIgnoringCase(name, got.text, got.length)) << got.text;
    EXPECT_EQ(app->companionAppPresent[0].present, 1u);
    EXPECT_EQ(app->companionAppPresent[1].present, 1u);
    // Nothing of the first frame runs again.
    u8 id[32];
    std::memcpy(id, app->installationId, 32);
    frame();
    EXPECT_EQ(std::memcmp(id, app->installationId, 32), 0);
    EXPECT_EQ(app->screenStack.depth, 1);
    EXPECT_FLOAT_EQ(app->uiMetrics.textHeight, 22.0f);  // 1280 x 720: 360 / 17 is below the floor
}

TEST_F(AppFrames, CompanionFlagsNeedBothNamesExactly) {
    platform->biosProductName = makeString("optimus");
    platform->biosManufacturer = makeString("cubepilot");
    frame();
    EXPECT_EQ(app->companionAppPresent[0].present, 0u);
    EXPECT_EQ(app->companionAppPresent[1].present, 0u);
}

TEST_F(AppFrames, WithoutAProductNameTheComputerIsNamedAfterItsHost) {
    platform->biosProductName = makeString("Failed to read /sys/class/dmi/id/product_name");
    platform->biosProductNameUnread = 1;
    platform->computerName = makeString("field-laptop");
    frame();
    char name[64];
    std::snprintf(name, sizeof(name), "field-laptop %02x%02x%02x%02x", app->installationId[0], app->installationId[1],
                  app->installationId[2], app->installationId[3]);
    FixedString got = app->secureLinkClientIdentity.name;
    EXPECT_TRUE(equalsIgnoringCase(name, got.text, got.length)) << got.text;
}

TEST_F(AppFrames, AStoredNameMadeOfTheReadsFailureIsNamedAfterTheHost) {
    platform->biosProductName = makeString("Failed to read /sys/class/dmi/id/product_name");
    platform->biosProductNameUnread = 1;
    platform->computerName = makeString("field-laptop");
    auto stored = zeroed<AppState>();
    stored->installationId[0] = 0xAB;
    stored->secureLinkClientIdentity.name = makeString("Failed to read /sys/class/dmi/id/product_name AB000000");
    writeStoredCache(stored.get());
    for (i32 i = 0; i < 6 && !app->cacheLoadedThisRun; i++) frame();
    ASSERT_TRUE(app->cacheLoadedThisRun);
    FixedString got = app->secureLinkClientIdentity.name;
    EXPECT_TRUE(equalsIgnoringCase("field-laptop ab000000", got.text, got.length)) << got.text;
}

TEST_F(AppFrames, DropLocationsExpireOnceOnTheFrameTheCacheLoads) {
    // A stored cache with one old and one future Orvik drop.
    auto stored = zeroed<AppState>();
    addOrvikDropLocation(&stored->orvikDropLocations, DropPosition{1, 1}, (u64)(fakeUtcMs - 1000));
    addOrvikDropLocation(&stored->orvikDropLocations, DropPosition{2, 2}, (u64)(fakeUtcMs + 1000));
    writeStoredCache(stored.get());
    writeDataFile("Preferences.txt", "Orvik drop location persistence (hours): 0\n");

    u32 loadFrames = 0;
    for (i32 i = 0; i < 6; i++) {
        frame();
        loadFrames += app->cacheLoadedThisRun;
        if (i == 1) {
            // A drop recorded during the run is not expired, even an old one.
            addOrvikDropLocation(&app->orvikDropLocations, DropPosition{3, 3}, 5);
        }
    }
    EXPECT_EQ(loadFrames, 1u);
    EXPECT_EQ(app->preferences.orvikDropLocationPersistence, 0.0);
    ASSERT_EQ(app->orvikDropLocations.count, 2u);
    EXPECT_EQ(app->orvikDropLocations.positions[0].x, 2);
    EXPECT_EQ(app->orvikDropLocations.positions[1].x, 3);
}

TEST_F(AppFrames, TheCachedArduCopterRemoteIdIsAnnouncedAgainAfterARestart) {
    auto stored = zeroed<AppState>();
    stored->arduCopterId.idType[0] = 1;
    std::memcpy(stored->arduCopterId.id, "SN-0042", 7);
    writeStoredCache(stored.get());
    for (i32 i = 0; i < 6; i++) frame();
    const ArduCopterState* arduCopter = &app->droneConnection.arduCopter;
    EXPECT_EQ(arduCopter->remoteIdType, 1u);
    const u8 expected[20] = {'S', 'N', '-', '0', '0', '4', '2'};
    EXPECT_EQ(std::memcmp(arduCopter->uasId, expected, 20), 0);
}

TEST_F(AppFrames, DropLocationsWaitForTheUsersPersistenceWhenThePreferencesCannotBeRead) {
    const i64 hour = 3600000;
    auto stored = zeroed<AppState>();
    addOrvikDropLocation(&stored->orvikDropLocations, DropPosition{1, 1}, (u64)(fakeUtcMs - 48 * hour));
    addOrvikDropLocation(&stored->orvikDropLocations, DropPosition{2, 2}, (u64)(fakeUtcMs - 2000 * hour));
    addVoskDropLocation(&stored->dodireruDropLocations, DropPosition{3, 3}, (u64)(fakeUtcMs - 2000 * hour), 1);
    addVoskDropLocation(&stored->dodireruDropLocations, DropPosition{4, 4}, (u64)(fakeUtcMs - 48 * hour), 1);
    writeStoredCache(stored.get());
    // The user's 1000 hours sit in a file the program cannot load (over its size limit).
    std::string large = "Orvik drop location persistence (hours): 1000\n";
    large += std::string(60000, '#');
    writeDataFile("Preferences.txt", large);

    for (i32 i = 0; i < 8; i++) frame();
    EXPECT_EQ(app->preferencesState.loaded, 0u);
    // The default of 24 hours would have removed every point; nothing is removed without the user's.
    EXPECT_EQ(app->orvikDropLocations.count, 2u);
    EXPECT_EQ(app->dodireruDropLocations.count, 2u);
    addOrvikDropLocation(&app->orvikDropLocations, DropPosition{5, 5}, 5);  // recorded in this run

    writeDataFile("Preferences.txt", "Orvik drop location persistence (hours): 1000\n");
    for (u32 i = 0; i < kPreferencesRetryFrames + 4 && !app->preferencesState.loaded; i++) frame();
    ASSERT_EQ(app->preferencesState.loaded, 1u);
    frame();
    ASSERT_EQ(app->orvikDropLocations.count, 2u);
    EXPECT_EQ(app->orvikDropLocations.positions[0].x, 1);
    EXPECT_EQ(app->orvikDropLocations.positions[1].x, 5);
    ASSERT_EQ(app->dodireruDropLocations.count, 1u);
    EXPECT_EQ(app->dodireruDropLocations.positions[0].x, 4);
    EXPECT_EQ(isVoskDropArmed(&app->dodireruDropLocations, 0), 1u);
}

TEST_F(AppFrames, F11TogglesTheFullscreenWishOnItsPressOnly) {
    frame();
    platform->input.keys[kFullscreenKey / 64] |= 1ull << (kFullscreenKey % 64);
    frame();
    EXPECT_EQ(platform->fullscreenWanted, 1u);
    platform->fullscreen = 1;
    platform->input.previousKeys[kFullscreenKey / 64] |= 1ull << (kFullscreenKey % 64);
    frame();  // held: no new press
    EXPECT_EQ(platform->fullscreenWanted, 1u);
    platform->input.previousKeys[kFullscreenKey / 64] = 0;
    frame();
    EXPECT_EQ(platform->fullscreenWanted, 0u);
}

TEST_F(AppFrames, TheDebugReportTimeAndTheStepsWithoutADroneConnection) {
    frame();
    EXPECT_EQ(app->lastDebugReportTime, 2000000);
    frame();
    EXPECT_EQ(app->lastDebugReportTime, 2000000);
    fakeMicroseconds = 3000001;
    frame();
    EXPECT_EQ(app->lastDebugReportTime, 3000001);
    // "Drone connection" N/A and no simulator: the drone link is never stepped, and the relay
    // socket is only ever driven closed.
    EXPECT_EQ(app->droneSocket.initialised, 0u);
    EXPECT_LE(app->relaySocket.handle, 0);
    EXPECT_EQ(app->droneConnection.gcsHeartbeatTime, 0u);
    for (u32 i = 0; i < 5; i++) {
        EXPECT_EQ(std::string(app->dnsResolver.lookups[i].hostName.text, app->dnsResolver.lookups[i].hostName.length),
                  fixedDnsHosts[i]);
    }
}

// The simulator's and the link's ports come from the records the frame reads, so that a station
// running beside the test on the usual ports takes nothing from it.
TEST_F(AppFrames, SimulatorSwitchStartsTheSimulatedDroneAndTheDroneLinkFollowsIt) {
    std::vector<u16> ports = freeUdpPorts(2);
    ASSERT_EQ(ports.size(), 2u);
    app->simulatedDrone.localPorts[0] = ports[0];
    app->simulatorLinkLocalPort = ports[1];
    app->simulatorRunning = 1;
    for (int i = 0; i < 300 && app->droneConnection.vehicle.autopilotKind != AutopilotPx4; i++) frame();
    ASSERT_EQ(app->droneConnection.vehicle.autopilotKind, AutopilotPx4);
    EXPECT_EQ(app->simulatorSocket.localPort, ports[0]);
    EXPECT_EQ(app->simulatedDrone.groundStation.port, ports[1]);
    EXPECT_EQ(app->droneConnection.vehicle.vehicleId, kSimulatedVehicleSource);
    for (int i = 0; i < 30; i++) frame();
    EXPECT_NE(app->droneConnection.vehicle.globalPosition.time, 0u);
    EXPECT_EQ(app->droneConnection.vehicle.landedState, 1);
    closeSocket(&app->simulatorSocket);
    closeSocket(&app->droneSocket);
}

TEST_F(AppFrames, RecordFlightLogNowKeepsALogOpenAndLoggingOffClearsTheHighMark) {
    frame();
    EXPECT_EQ(app->flightLogger.logFileName.length, 0u);
    u8 payload[8] = {};
    app->orvikGeofence.logEntry.payload = makeByteWriter(payload, sizeof(payload));
    app->forceLogging = 1;
    frame();
    EXPECT_NE(app->flightLogger.logFileName.length, 0u);
    EXPECT_EQ(app->flightLogger.registeredEntryCount, 0u);  // emptied by the writer's step every frame
    app->forceLogging = 0;
    app->flightLogger.highAboveGroundSince = 12345;
    frame();  // no vehicle heard: logging is off
    EXPECT_EQ(app->flightLogger.logFileName.length, 0u);
    EXPECT_EQ(app->flightLogger.highAboveGroundSince, 0);
}

}  // namespace

namespace {

// A UDP socket of the test's own on a loopback address, at a port the system picks.
struct TestUdp {
    int handle = -1;
    u16 port = 0;
    explicit TestUdp(u8 lastAddressByte) {
        handle = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(0x7F000000u | lastAddressByte);
        socklen_t length = sizeof(address);
        bind(handle, (sockaddr*)&address, length);
        getsockname(handle, (sockaddr*)&address, &length);
        port = ntohs(address.sin_port);
    }
    ~TestUdp() { close(handle); }
    void sendTo(u16 toPort, const std::vector<u8>& bytes) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(toPort);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(handle, bytes.data(), bytes.size(), 0, (sockaddr*)&to, sizeof(to));
    }
    std::vector<std::vector<u8>> receive() const {
        std::vector<std::vector<u8>> got;
        u8 buffer[2048];
        for (ssize_t n; (n = recv(handle, buffer, sizeof(buffer), 0)) >= 0;) got.emplace_back(buffer, buffer + n);
        return got;
    }
};

i32 listedPeers(const SecureLinkHost* host) {
    i32 listed = 0;
    for (const SecureLinkPeer& peer : host->peers) listed += peer.address.family != 0;
    return listed;
}

class AppRelayFrames : public AppFrames {
protected:
    void SetUp() override {
        AppFrames::SetUp();
        for (i32 i = 0; i < 200 && !app->preferencesState.loaded; i++) frame();
        ASSERT_EQ(app->preferencesState.loaded, 1u);
        videoRelayPort = freeUdpPorts(1)[0];
    }
    void TearDown() override {
        for (Socket* socket : {&app->relaySocket, &app->videoRelaySocket, &app->droneSocket, &app->qvVideoSocket}) {
            closeSocket(socket);
        }
        videoRelayPort = kSecureLinkVideoPort;
        AppFrames::TearDown();
    }
};

// With relaying off (the default) neither relay port answers: a stranger's hello to the video relay
// port gets no host key and no place on the sharing list. With relaying on the same hello is answered.
TEST_F(AppRelayFrames, RelayingOffAnswersNobodyOnTheRelayPorts) {
    TestUdp stranger(9);
    std::vector<u8> hello = {SecureLinkHello, 0x34, 0x12};
    hello.insert(hello.end(), 32, 0x42);
    hello.push_back(SecureLinkGrantTelemetry | SecureLinkGrantVideo | SecureLinkGrantControl);
    auto sayHello = [&](i32 frames) {
        std::vector<std::vector<u8>> answers;
        for (i32 i = 0; i < frames && answers.empty(); i++) {
            stranger.sendTo(videoRelayPort, hello);
            usleep(500);
            frame();
            usleep(500);
            answers = stranger.receive();
        }
        return answers;
    };
    ASSERT_EQ(app->preferences.relayModePort, 0);
    EXPECT_TRUE(sayHello(60).empty());
    EXPECT_EQ(listedPeers(&app->relayHost), 0);

    app->preferences.relayModePort = freeUdpPorts(1)[0];
    std::vector<std::vector<u8>> answers = sayHello(300);
    ASSERT_FALSE(answers.empty());
    EXPECT_EQ(answers[0][0], SecureLinkHostKey);
    EXPECT_EQ(listedPeers(&app->relayHost), 1);
    EXPECT_TRUE(hasPendingSharingRequest(&app->relayHost, &app->preferences));

    // Switched off again: the stranger no longer waits on the list (the Settings button stops
    // inviting a grant) and gets no answer.
    app->preferences.relayModePort = 0;
    frame();
    EXPECT_EQ(listedPeers(&app->relayHost), 0);
    EXPECT_FALSE(hasPendingSharingRequest(&app->relayHost, &app->preferences));
    stranger.receive();
    EXPECT_TRUE(sayHello(60).empty());
}

// A crew tablet: connected to a relaying app and showing its video. Its MAVLink and video streams
// each keep their record of the link, so the handshake completes on both, the control password
// comes through, and the tablet's own MAVLink reaches the drone through the host, sealed.
TEST_F(AppRelayFrames, CrewTabletWithRelayedVideoCompletesItsHandshakeAndTakesControl) {
    struct HostSide {
        DroneConnection connection;
        Socket droneSocket, relaySocket, videoRelaySocket;
        SecureLinkHost sharing;
        RelayHostIdentity identity;
        Preferences preferences;
        DroneLinkInputs inputs;
    };
    auto host = zeroed<HostSide>();
    TestUdp drone(1);
    u16 relayPort = freeUdpPorts(1)[0];
    ASSERT_EQ(generateX25519KeyPair(host->identity.privateKey, host->identity.publicKey), 0);
    host->identity.controllingListenerPassword[0] = 0x5C;
    host->sharing.identity = &host->identity;
    Preferences* hostPreferences = &host->preferences;
    hostPreferences->appSystemId = 255;
    hostPreferences->appComponentId = 190;
    hostPreferences->relayModePort = relayPort;
    hostPreferences->droneAddress = makeAddressRecord(4, (const u8*)"\x7f\0\0\x01", drone.port);
    host->inputs.droneSocket = &host->droneSocket;
    host->inputs.relaySocket = &host->relaySocket;
    host->inputs.relayHost = &host->sharing;
    host->inputs.preferences = hostPreferences;
    auto stepHost = [&] {
        host->inputs.now = fakeMicroseconds;
        controlDrone(&host->connection, &host->inputs);
        serveVideoRelaySocket(&host->videoRelaySocket, &host->sharing, hostPreferences, (i64)fakeMicroseconds);
        sendSecureLinkPublicKey(&host->sharing, &host->videoRelaySocket, RelayStreamVideo, hostPreferences,
                                fakeMicroseconds);
    };

    Preferences* tablet = &app->preferences;
    tablet->droneConnection = DroneConnectionIp;
    tablet->droneAddress = makeAddressRecord(4, (const u8*)"\x7f\0\0\x01", relayPort);
    tablet->droneTransportProtocol = TransportUdp;
    tablet->droneLocalPort = 0;
    tablet->videoStreamProtocol = VideoStreamQv;
    tablet->qvVideoServerAddress = makeAddressRecord(4, (const u8*)"\x7f\0\0\x01", videoRelayPort);
    tablet->appSystemId = 254;

    bool heardAtDrone = false;
    for (i32 i = 0; i < 1500 && !heardAtDrone; i++) {
        stepHost();
        frame();
        usleep(300);
        for (SecureLinkPeer& peer : host->sharing.peers) {
            if (peer.address.family && peer.ports[RelayStreamVideo] && peer.userDecision == 0) {
                setSecureLinkPeerDecision(&host->sharing, &peer,
                                          SecureLinkGrantTelemetry | SecureLinkGrantVideo | SecureLinkGrantControl);
            }
        }
        // The tablet's own HEARTBEAT (a ground station's), relayed by the host to its drone.
        for (const std::vector<u8>& datagram : drone.receive()) {
            bool tabletHeartbeat = datagram.size() > 10 && datagram[0] == kMavlink1Magic && datagram[3] == 254 &&
                                   datagram[5] == 0 && datagram[10] == 6;
            heardAtDrone = heardAtDrone || tabletHeartbeat;
        }
    }
    EXPECT_TRUE(heardAtDrone);
    EXPECT_EQ(listedPeers(&host->sharing), 1);
    EXPECT_NE(host->sharing.controllingPeer, nullptr);
    const u8* password = host->identity.controllingListenerPassword;
    EXPECT_EQ(std::memcmp(app->secureLinkClientIdentity.relayPassword, password, 8), 0);
    EXPECT_EQ(app->droneConnection.secureLinkClient.keys.ready, 1u);
    EXPECT_EQ(app->videoLinkClient.keys.ready, 1u);
    for (Socket* socket : {&host->droneSocket, &host->relaySocket, &host->videoRelaySocket}) closeSocket(socket);
}

// A read-only Documents folder (a read-only tmpfs of a child process's own): while nothing flies the
// folder is checked; the first frame of a flight shows why no log can be written, and the warning
// sounds once for the whole flight.
TEST_F(AppFrames, AReadOnlyDocumentsFolderShowsTheLogStatusOnTheFirstFrameOfAFlightAndSoundsOnce) {
    std::string skipped;
    std::string report = runWithPrivateTmpfs(home + "/Documents", "ro,size=1m", home + "/report", [&] {
        for (i32 i = 0; i < 3; i++) frame();
        std::string before = app->flightLogger.writeFailure.text;
        u32 soundsBefore = pendingSoundCount(&app->sound.queue);
        app->forceLogging = 1;
        frame();
        std::string first = app->flightLogger.writeFailure.text;
        u32 soundsFirst = pendingSoundCount(&app->sound.queue) - soundsBefore;
        // Three seconds of the flight: its appends fail too.
        for (i32 i = 0; i < 180; i++) frame();
        u32 soundsAll = pendingSoundCount(&app->sound.queue) - soundsBefore;
        return first + "\n" + std::to_string(soundsFirst) + " " + std::to_string(soundsAll) + " " +
               std::to_string(app->flightLogger.failedAppends) + " " + std::to_string(app->flightLogger.logFileName.length > 0) +
               "\n" + before;
    }, &skipped);
    if (!skipped.empty()) GTEST_SKIP() << skipped;
    std::istringstream lines(report);
    std::string first, counts, before;
    std::getline(lines, first);
    std::getline(lines, counts);
    std::getline(lines, before);
    EXPECT_EQ(first, "Flight log: read-only file system") << report;
    EXPECT_EQ(before, first);  // told before the flight already
    u32 soundsFirst = 0, soundsAll = 0, failed = 0, open = 0;
    ASSERT_EQ(std::sscanf(counts.c_str(), "%u %u %u %u", &soundsFirst, &soundsAll, &failed, &open), 4) << report;
    EXPECT_EQ(soundsFirst, 1u);
    EXPECT_EQ(soundsAll, 1u);
    EXPECT_GE(failed, 2u);
    EXPECT_EQ(open, 1u);
}

// Closing the window queues the log's buffered entries: once the file thread has finished its
// jobs the file holds every entry added before the quit, the last frame's included.
TEST_F(AppFrames, TheQuitWritesTheLogsBufferedEntries) {
    frame();
    app->forceLogging = 1;
    frame();
    std::string name = app->flightLogger.logFileName.text;
    ASSERT_FALSE(name.empty());
    u8 last[] = {0xFD, 0x42, 0x42};
    addFlightLogEntry(&app->flightLogger, (i64)fakeMicroseconds, FlightLogReceivedFromDrone, last, sizeof last);
    finishApp(platform, app.get());
    u32 stopped = 0;
    runFileThread(platform, &stopped);
    std::string log = readWholeFile(dataFolder + name);
    ASSERT_GE(log.size(), sizeof last + 13);
    // The last entry is the one added just before the quit, whole.
    EXPECT_EQ(log.substr(log.size() - 2 - sizeof last, sizeof last), std::string((const char*)last, sizeof last));
    EXPECT_EQ((u8)log[log.size() - 13 - sizeof last], FlightLogReceivedFromDrone);
}

}  // namespace
