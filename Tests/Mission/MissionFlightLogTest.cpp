// The geofence and started-mission entries as the independent python reader decodes them from a log
// written through the file thread.
#include <cmath>
#include <memory>

#include "Core/Clock.h"
#include "FlightLogs/FlightLogReader.h"
#include "FlightLogs/FlightLogSession.h"
#include "Mission/MissionFlightLog.h"
#include "Platform/FileTestSupport.h"

namespace {

using MissionLogFiles = FileThreadFixture;

std::string g(f64 value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

Vec2 mercatorOf(f64 latitude, f64 longitude) {
    return Vec2{longitude / 360.0, std::log(std::tan(latitude * M_PI / 360.0 + M_PI / 4)) / (2 * M_PI)};
}

TEST_F(MissionLogFiles, GeofenceAndStartedMissionPayloadsReadBack) {
    auto logger = std::make_unique<FlightLogger>();
    auto geofence = std::make_unique<OrvikGeofence>();
    auto mission = std::make_unique<WaypointMissionEditor>();
    auto transect = std::make_unique<TransectRegion>();
    auto preferences = std::make_unique<Preferences>();
    logger->fileJobs = &platform->fileJobs;
    geofence->flightLogger = logger.get();
    u8 id[32] = {};

    // Before any log: the geofence keeps its entry, which the next log starts with.
    logOrvikGeofence(geofence.get());  // empty: the single byte 0
    registerFlightLogEntry(logger.get(), &geofence->logEntry);
    updateFlightLogger(logger.get(), id, platform, preferences.get(), 1, 0);

    geofence->pointCount = 2;
    geofence->points[0] = mercatorOf(-33.5, 150.25);
    geofence->points[1] = mercatorOf(45.0, -1.5 + 360.0);  // a whole turn east reads as the same place
    logOrvikGeofence(geofence.get());

    mission->waypointCount = 2;
    mission->referenceLatitude = -33.25;
    mission->referenceLongitude = 150.5;
    Vec2 first = mercatorOf(-33.0, 150.0);
    mission->waypoints[0] = Waypoint{1, 0, first.x, first.y, 30.0, 0, 1, 7, 0};
    Vec2 second = mercatorOf(-33.1, 150.1);
    mission->waypoints[1] = Waypoint{2, 0, second.x, second.y, 45.5, 1, 1, 8, 0};
    preferences->waypointMissionCruiseSpeed = 6;
    preferences->waypointCurveRange = 2.5;
    preferences->waypointSnapAltitudeMode = 1;
    preferences->waypointSnapAltitudeAboveGroundLevel = 40;
    preferences->waypointSnapAltitudeAboveTakeoffLocation = 50;
    preferences->verticalFlightPathToFirstWaypoint = 1;
    preferences->orvikDropSpacing = 12;
    preferences->transectUsage = 2;
    preferences->transectZigZagHeading = 90;
    preferences->transectSpacing = 25;
    preferences->transectOvershootDistance = 5;
    logWaypointMissionStarted(logger.get(), (i64)getMicroseconds(), mission.get(), transect.get(), preferences.get());
    transect->pointCount = 1;
    transect->points[0] = mercatorOf(-33.2, 150.2);
    logWaypointMissionStarted(logger.get(), (i64)getMicroseconds(), mission.get(), transect.get(), preferences.get());

    updateFlightLogger(logger.get(), id, platform, preferences.get(), 0, 0);  // closes and flushes
    pass();
    FlightLogReading log = readFlightLogWithPython(dataFolder + logger->bufferFileName.text);
    ASSERT_EQ(log.exitStatus, 0) << (log.lines.empty() ? "" : log.lines.back());
    std::vector<std::string> fences = linesStartingWith(log.lines, "type=9 ");
    ASSERT_EQ(fences.size(), 2u);
    EXPECT_EQ(entryBody(fences[0]), "points=0 ");
    EXPECT_EQ(log.lines[0], fences[0]);  // the registered entry opens the log
    EXPECT_EQ(entryBody(fences[1]), "points=2 -33.5,150.25;45,-1.5");
    std::vector<std::string> missions = linesStartingWith(log.lines, "type=8 ");
    ASSERT_EQ(missions.size(), 2u);
    std::string waypoints = "waypoints=-33,150,30,7,0;" + g(-33.1) + "," + g(150.1) + ",45.5,8,1";
    std::string settings = " ref=-33.25,150.5 settings=6,2.5,1,40,50,1,12,2,90,25,5";
    EXPECT_EQ(entryBody(missions[0]), waypoints + " transect=" + settings);
    EXPECT_EQ(entryBody(missions[1]), waypoints + " transect=" + g(-33.2) + "," + g(150.2) + settings);
}

}  // namespace
