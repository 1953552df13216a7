#include "Application/AppUpdate.h"

#include <cstring>
#include <initializer_list>

#include "Application/AppCache.h"
#include "Application/PreferencesFile.h"
#include "Core/Clock.h"
#include "Core/Format.h"
#include "Core/MathEarth.h"
#include "Core/Profiler.h"
#include "Core/WarningSounds.h"
#include "Network/TrustStoreLoad.h"
#include "Crypto/X25519.h"
#include "Platform/Platform.h"
#include "Platform/Random.h"
#include "Platform/SystemInfo.h"
#include "Screens/DebugReport.h"
#include "Screens/MainScreen.h"
#include "SourceCommon/Renderer/UiState.h"

const char* const fixedDnsHosts[5] = {
    "api.tarnwick.com",                    // the maker's web service
    "maps.geoapify.com",                   // map tiles
    "identity.dataspace.copernicus.eu",    // Copernicus Data Space login
    "catalogue.dataspace.copernicus.eu",   // catalogue search
    "zipper.dataspace.copernicus.eu",      // product downloads
};

namespace {

u64 monotonicNow(const AppState* app) {
    return app->clocks.monotonicMicroseconds ? app->clocks.monotonicMicroseconds() : getMicroseconds();
}

i64 utcNowMs(const AppState* app) {
    return app->clocks.utcMilliseconds ? app->clocks.utcMilliseconds() : currentTimeMilliseconds();
}

f64 lookUpElevation(void* context, f64 longitude, f64 latitude) {
    const f32 unknown = -1e30f;
    f32 height = getElevation((const ElevationMapLoader*)context, GeoPoint{longitude, latitude}, unknown);
    return height == unknown ? __builtin_nan("") : (f64)height;
}

// Adds a point, its longitude first wrapped near the frame's first longitude (near 0 for the first).
void addAreaPoint(GeoPoint point, LonLatBox* box, bool* haveFirst, f64* firstLongitude) {
    if (!(point.longitude - point.longitude == 0.0) || !(point.latitude - point.latitude == 0.0)) return;
    point.longitude = wrapLongitudeNear(point.longitude, *haveFirst ? *firstLongitude : 0.0);
    if (!*haveFirst) {
        *haveFirst = true;
        *firstLongitude = point.longitude;
    }
    extendLonLatBounds(point, box);
}

}  // namespace

i32 updateAreaOfInterest(AppState* app, u64 now) {
    const VehicleState* vehicle = &app->droneConnection.vehicle;
    const Waypoint* waypointList = app->waypointMissionEditor.waypoints;
    i32 waypoints = app->waypointMissionEditor.waypointCount;
    const Vec2* cornerList = app->transectRegion.points;
    i32 corners = app->transectRegion.pointCount;
    bool liveSilent = vehicle->lastHeardTime == 0 || now - vehicle->lastHeardTime > kReplayTakesOverAfter;
    if (app->flightLogViewerOpen && liveSilent) {
        const FlightLogReplay* replay = &app->flightLogReplay;
        vehicle = &replay->connection.vehicle;
        waypointList = replay->mission.waypoints;
        waypoints = replay->mission.waypointCount;
        cornerList = replay->mission.transectPoints;
        corners = replay->mission.transectPointCount;
    }

    LonLatBox box = kEmptyLonLatBox;
    bool haveFirst = false;
    f64 firstLongitude = 0;
    if (vehicle->secondPosition.time) {
        addAreaPoint(GeoPoint{vehicle->secondPosition.longitude + vehicle->longitudeOffset,
                              vehicle->secondPosition.latitude + vehicle->latitudeOffset},
                     &box, &haveFirst, &firstLongitude);
    }
    if (vehicle->home.time) {
        addAreaPoint(GeoPoint{vehicle->home.longitude + vehicle->longitudeOffset,
                              vehicle->home.latitude + vehicle->latitudeOffset},
                     &box, &haveFirst, &firstLongitude);
    }
    if (vehicle->globalPosition.time) {
        addAreaPoint(GeoPoint{vehicle->globalPosition.longitude + vehicle->longitudeOffset,
                              vehicle->globalPosition.latitude + vehicle->latitudeOffset},
                     &box, &haveFirst, &firstLongitude);
    }
    if (waypoints < 0) waypoints = 0;
    if (waypoints > kMaxWaypoints) waypoints = kMaxWaypoints;
    for (i32 i = 0; i < waypoints; i++) {
        Vec2 position{waypointList[i].x, waypointList[i].y};
        GeoPoint point;
        mercatorToLatLng(&point, &position);
        addAreaPoint(point, &box, &haveFirst, &firstLongitude);
    }
    if (corners < 0) corners = 0;
    if (corners > kMaxTransectPoints) corners = kMaxTransectPoints;
    for (i32 i = 0; i < corners; i++) {
        GeoPoint point;
        mercatorToLatLng(&point, &cornerList[i]);
        addAreaPoint(point, &box, &haveFirst, &firstLongitude);
    }
    if (box.latMax == kEmptyLonLatBox.latMax) return 0;
    app->elevationMapLoader.areaOfInterest = box;
    return 1;
}

i32 decideLogging(const VehicleState* vehicle, FlightLogger* logger, const ElevationMapLoader* loader, u64 now) {
    if (now < vehicle->lastHeardTime || now - vehicle->lastHeardTime >= kVehicleSilentForLogging) return 0;
    if (vehicle->landedState >= 2) return 1;
    if (logger->logFileName.length == 0) return 0;

    bool moving = false;
    for (f64 v : {vehicle->velocityNorth, vehicle->velocityEast, vehicle->velocityDown}) {
        if (v < -kMovingSpeed || v > kMovingSpeed) moving = true;
    }
    // The ground where the vehicle took off, else at home.
    f32 referenceGround = 0;
    const StoredPosition* reference = vehicle->secondPosition.time ? &vehicle->secondPosition : &vehicle->home;
    if (reference->time) {
        referenceGround = getElevation(loader,
                                       GeoPoint{reference->longitude + vehicle->longitudeOffset,
                                                reference->latitude + vehicle->latitudeOffset},
                                       0.0f);
    }
    f32 vehicleGround = getElevation(loader,
                                     GeoPoint{vehicle->globalPosition.longitude + vehicle->longitudeOffset,
                                              vehicle->globalPosition.latitude + vehicle->latitudeOffset},
                                     referenceGround);
    f64 altitudeAboveTakeoff = vehicle->globalPosition.relativeAltitude + vehicle->altitudeOffset;
    f64 height = (f64)referenceGround + altitudeAboveTakeoff - vehicleGround;
    if (height > kLoggingHeightAboveGround) {
        if (logger->highAboveGroundSince == 0) logger->highAboveGroundSince = (i64)now;
        if ((i64)now - logger->highAboveGroundSince < (i64)kHighAboveGroundHold) return 1;
        return moving ? 1 : 0;
    }
    return moving ? 1 : 0;
}

void stopSimulator(AppState* app) {
    closeSocket(&app->simulatorSocket);
    closeSocket(&app->simulatorPayloadPrimarySocket);
    closeSocket(&app->simulatorPayloadSecondarySocket);
    // The drone socket was bound for the simulator; a drone connection of its own opens it afresh.
    closeSocket(&app->droneSocket);
    u16 ports[3];
    std::memcpy(ports, app->simulatedDrone.localPorts, sizeof(ports));
    std::memset(&app->simulatedDrone, 0, sizeof(app->simulatedDrone));
    std::memcpy(app->simulatedDrone.localPorts, ports, sizeof(ports));
    forgetFollowedVehicle(&app->droneConnection);
}

i32 setUpFirstFrame(AppState* app, Platform* platform) {
    u8 randomBytes[32 + 32 + 8 + 32 + 2];
    if (getRandomBytes(randomBytes, sizeof(randomBytes)) != 0) return 0;
    const u8* next = randomBytes;

    app->started = 1;
    std::memset(&app->screenStack, 0, sizeof(app->screenStack));
    app->screenStack.depth = 1;
    app->screenStack.screens[0] = mainScreen;
    app->flightLogger.fileJobs = &platform->fileJobs;
    app->tileMaps.downloads = &app->downloadPool;
    app->orvikGeofence.flightLogger = &app->flightLogger;
    app->waypointMissionEditor.takeoffTerrainHeight = kUnknownTerrainHeight;

    std::memcpy(app->installationId, next, 32);
    next += 32;

    RelayHostIdentity* host = &app->relayHostIdentity;
    std::memset(host, 0, sizeof(*host));
    std::memcpy(host->privateKey, next, 32);
    next += 32;
    std::memcpy(host->controllingListenerPassword, next, 8);
    next += 8;
    x25519(host->publicKey, host->privateKey, x25519BasePoint);

    FixedString name = defaultComputerName(platform, app->installationId);

    SecureLinkClientIdentity* client = &app->secureLinkClientIdentity;
    std::memset(client, 0, sizeof(*client));
    std::memcpy(client->privateKey, next, 32);
    next += 32;
    std::memcpy(&client->peerId, next, 2);
    x25519(client->publicKey, client->privateKey, x25519BasePoint);
    client->name = name;
    std::memset(randomBytes, 0, sizeof(randomBytes));

    bool companionDevice =
        equals(platform->biosProductName, "optimus") && equals(platform->biosManufacturer, "CubePilot");
    app->companionAppPresent[0].present = companionDevice ? 1 : 0;
    app->companionAppPresent[1].present = companionDevice ? 1 : 0;
    return 1;
}

void finishApp(Platform* platform, AppState* app) {
    if (!app->started) return;
    savePreferencesAtQuit(&app->preferences, &app->preferencesState, platform);
    saveAppCacheAtQuit(app, &app->appCache, platform);
    // The log's buffered entries go to the file thread, which finishes its jobs (for at most 5 s)
    // before the program ends.
    finishFlightLogger(&app->flightLogger);
    // A flight-log export still being written is given up: its hidden file goes after its chunks.
    abandonFlightLogExport(&app->flightLogExport, &platform->fileJobs);
}

void updateApp(Platform* platform, UiState* ui, AppState* app) {
    if (!app->started && !setUpFirstFrame(app, platform)) return;
    Preferences* preferences = &app->preferences;
    FileReadTable* reads = &platform->fileReads;
    ImageSlotTable* slots = &ui->imageSlots;

    // The system's certificate authorities, read once through the file thread; until they are in,
    // HTTPS connections are refused with a message rather than trusted blindly.
    loadProgramTrustStore(reads);
    downloadFiles(&app->downloadPool, &app->dnsResolver, app->downloadSockets, (i32)kDownloadSockets);
    app->preferencesSaved = updatePreferences(preferences, &app->preferencesState, platform);
    app->cacheLoadedThisRun = (u32)updateAppCache(app, &app->appCache, platform);
    if (app->cacheLoadedThisRun) {
        app->dropExpiryPending = 1;
        app->storedOrvikDrops = app->orvikDropLocations.count;
        app->storedVoskDrops = app->dodireruDropLocations.count;
        // The ArduCopter Remote ID the user set last time is what the vehicle is told again.
        ArduCopterState* arduCopter = &app->droneConnection.arduCopter;
        const u8* idType = app->arduCopterId.idType;
        arduCopter->remoteIdType = (u32)idType[0] | (u32)idType[1] << 8 | (u32)idType[2] << 16 | (u32)idType[3] << 24;
        std::memcpy(arduCopter->uasId, app->arduCopterId.id, sizeof(arduCopter->uasId));
    }
    if (app->dropExpiryPending && app->preferencesState.loaded) {
        // Until the preferences have loaded their persistence is the default, not the user's.
        app->dropExpiryPending = 0;
        expireDropLocations(&app->orvikDropLocations, &app->dodireruDropLocations,
                            preferences->orvikDropLocationPersistence, utcNowMs(app), app->storedOrvikDrops,
                            app->storedVoskDrops);
    }
    u64 now = monotonicNow(app);
    if ((i64)now - app->lastDebugReportTime > (i64)kDebugReportInterval) {
        queueDebugReport(app, platform, ui);
        app->lastDebugReportTime = (i64)now;
    }
    const char* copernicusHosts[3] = {copernicusService.identityHost, copernicusService.catalogueHost,
                                      copernicusService.downloadHost};
    for (u32 i = 0; i < 5; i++) {
        FixedString host = makeString(i >= 2 ? copernicusHosts[i - 2] : fixedDnsHosts[i]);
        startDnsLookup(&host, &app->dnsResolver.lookups[i]);
    }
    checkDnsQueries(&app->dnsResolver, &platform->dnsServers);
    updateCopernicusDownloader(&app->copernicusDownloader, &app->dnsResolver, &app->copernicusSocket, preferences,
                               platform);

    if (isKeyDown(&platform->input, kFullscreenKey) && !wasKeyDown(&platform->input, kFullscreenKey)) {
        platform->fullscreenWanted = platform->fullscreen ? 0 : 1;
    }
    app->uiMetrics = computeUiMetrics(ui->screenRect);

    // Relaying off: both relay sockets stay closed, so nobody gets an answer or a place on the
    // sharing list, and whoever still waited on it for a decision leaves it.
    Socket* relaySocket = &app->relaySocket;
    Socket* videoRelaySocket = &app->videoRelaySocket;
    SecureLinkHost* relayHost = &app->relayHost;
    if (preferences->relayModePort == 0) {
        SocketResult ignored;
        updateSocket(&ignored, relaySocket, 0, SocketModeUdp, 0, &preferences->relayNetworkInterface, nullptr, 0);
        updateSocket(&ignored, videoRelaySocket, 0, SocketModeUdp, 0, &preferences->relayNetworkInterface, nullptr, 0);
        relaySocket = nullptr;
        videoRelaySocket = nullptr;
        relayHost = nullptr;
        dropUndecidedSecureLinkPeers(&app->relayHost, 0, now);
    }
    // The link's keys, names and passwords are the identities that the first frame drew and the app
    // cache keeps. The client side runs only towards a relaying app, its video stream with a record of
    // its own.
    app->relayHost.identity = &app->relayHostIdentity;
    app->droneConnection.secureLinkClient.identity = &app->secureLinkClientIdentity;
    app->videoLinkClient.identity = &app->secureLinkClientIdentity;
    SecureLinkClient* videoLinkClient = nullptr;
    if (preferences->droneConnection == DroneConnectionIp && preferences->videoStreamProtocol == VideoStreamQv &&
        !app->simulatorRunning && connectsToRelayingApp(preferences, 0)) {
        videoLinkClient = &app->videoLinkClient;
    } else {
        stopSecureLinkClient(&app->videoLinkClient);
    }
    if (!app->simulatorRunning && app->simulatedDrone.lastUpdateTime != 0) stopSimulator(app);
    if (preferences->droneConnection == DroneConnectionIp || app->simulatorRunning) {
        // controlDrone opens its own profiling region.
        DroneLinkInputs inputs{};
        inputs.droneSocket = &app->droneSocket;
        inputs.cameraSocket = &app->cameraSocket;
        inputs.relaySocket = relaySocket;
        inputs.simulatorPort = app->simulatorRunning ? app->simulatorSocket.localPort : 0;
        inputs.simulatorPayloadPorts[0] = app->simulatorPayloadPrimarySocket.localPort;
        inputs.simulatorPayloadPorts[1] = app->simulatorPayloadSecondarySocket.localPort;
        inputs.simulatorLocalPort = app->simulatorLinkLocalPort;
        inputs.preferences = preferences;
        inputs.relayHost = relaySocket ? relayHost : nullptr;
        inputs.flightLogger = &app->flightLogger;
        inputs.elevation = lookUpElevation;
        inputs.elevationContext = &app->elevationMapLoader;
        inputs.soundQueue = &app->sound.queue;
        inputs.missionPlan = &app->waypointMissionEditor;
        inputs.missionTransect = &app->transectRegion;
        inputs.orvikDrops = &app->orvikDropLocations;
        inputs.voskDrops = &app->dodireruDropLocations;
        inputs.geofence = &app->orvikGeofence;
        inputs.gamepad = &platform->gamepad;
        inputs.previousGamepad = &platform->previousGamepad;
        inputs.hostGamepad = &platform->gamepad;
        inputs.input = &platform->input;
        inputs.now = now;
        inputs.utcMilliseconds = utcNowMs(app);
        inputs.timeZoneOffsetMs = getTimeZoneOffsetMs();
        inputs.videoHeight = (i32)app->h264Stream.height;
        controlDrone(&app->droneConnection, &inputs);
    } else {
        // No link: no port of its is wanted, so none is reported taken.
        app->droneConnection.dronePortInUse = 0;
        app->droneConnection.cameraPortInUse = 0;
    }
    rebaseWaypointAltitudes(&app->waypointMissionEditor, &app->droneConnection.vehicle, &app->elevationMapLoader);
    if (app->simulatorRunning) {
        controlSimulatedPx4Drone(&app->simulatedDrone, &platform->gamepad, &platform->input, &app->elevationMapLoader,
                                 preferences, &app->simulatorSocket, &app->simulatorPayloadPrimarySocket,
                                 &app->simulatorPayloadSecondarySocket, now);
    }
    // The simulator's ports that another program holds (a second station on this machine) are shown
    // with the link's own.
    const Socket* simulatorSockets[3] = {&app->simulatorSocket, &app->simulatorPayloadPrimarySocket,
                                         &app->simulatorPayloadSecondarySocket};
    for (i32 i = 0; i < 3; i++) {
        app->droneConnection.simulatorPortsInUse[i] = app->simulatorRunning ? simulatorSockets[i]->portInUse : 0;
    }
    controlQvVideoStream(&app->qvVideoSocket, videoRelaySocket, relayHost, videoLinkClient, &app->qvVideoStream,
                         &app->h264Stream, preferences, slots, &app->flightLogger);
    controlRtspVideoStream(&app->rtspSocket, &app->rtpSocket, &app->rtcpSocket, videoRelaySocket, relayHost,
                           &app->rtspVideoStream, &app->h264Stream, preferences, slots, &app->flightLogger);
    processH264DecoderOutput(slots);

    updateAreaOfInterest(app, now);
    manageElevationMaps(&app->elevationMapLoader, platform, &app->downloadPool, slots, preferences);
    updateMissionList(&app->missionList, reads);
    FixedString missionLoaded =
        applyLoadedMission(&app->pendingLoads.missionRead, &app->waypointMissionEditor, &app->transectRegion,
                           &app->orvikGeofence, &app->elevationMapLoader, preferences, reads);
    if (missionLoaded.length) app->missionList.message = missionLoaded;
    updateOverlayList(&app->overlayList, reads, slots, platform->scratch, (u64)kScratchSize, now);
    updateExportedKmzList(&app->exportedKmzList, reads, slots, (i64)now, getTimeZoneOffsetMs());
    if (updateKmzExport(&app->kmzExport, &platform->fileJobs, &platform->jobQueue)) app->exportedKmzList.refresh = 2;
    updateKmzImport(&app->kmzImport, &app->pendingLoads.kmzRead, &app->kmzEditor, &app->pendingLoads.kmzImportName,
                    app->pendingLoads.kmzImportMode, reads, &platform->jobQueue);
    OverlaySelection overlaySelection = overlaySelectionOf(preferences);
    updateVectorOverlayLoader(&app->vectorOverlayLoader, &overlaySelection, reads, &platform->fileJobs,
                              &platform->jobQueue, slots, &app->downloadPool, &app->pendingLoads.overlayPick);
    updateRasterOverlayLoader(reads, &platform->fileJobs, &platform->renderedPages, &platform->jobQueue,
                              &app->rasterOverlayLoader, &overlaySelection, slots);

    FlightLogger* logger = &app->flightLogger;
    i32 logging = decideLogging(&app->droneConnection.vehicle, logger, &app->elevationMapLoader, now);
    registerFlightLogEntry(logger, &app->orvikGeofence.logEntry);
    logger->clocks.microseconds = app->clocks.monotonicMicroseconds;
    logger->clocks.utcMilliseconds = app->clocks.utcMilliseconds;
    updateFlightLogger(logger, app->installationId, platform, preferences, logging || app->forceLogging,
                       app->preferencesSaved);
    // A log that cannot be written during a flight sounds the warning once; the top bar shows why.
    if (logger->writeFailure.length && logger->logFileName.length && !logger->failureAnnounced) {
        queueSound(&app->sound.queue, kCriticalTone, toneSteps(kCriticalTone));
        logger->failureAnnounced = 1;
    }
    updateFlightLogExport(&app->flightLogExport, &platform->fileJobs, &platform->jobQueue,
                          &app->flightLogExportProgress, (i64)now);
    app->flightLogList.logInUse = flightLogExportBusy(&app->flightLogExport);
    updateFlightLogList(&app->flightLogList, reads, &platform->jobQueue, slots, (i64)now);

    updateScreen(&app->screenStack, platform, ui, app);
}
