// The terrain check against a walk of its own (mission_terrain_oracle.py) over a ridge that GDAL
// made; the statistics on missions worked out by hand; the rebase and the snap setters.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Core/MathEarth.h"
#include "Core/Preferences.h"
#include "Mavlink/VehicleState.h"
#include "Map/ElevationMapLoader.h"
#include "Mission/MissionAltitudes.h"
#include "Mission/MissionPath.h"
#include "Mission/MissionSteps.h"
#include "Mission/WaypointUndo.h"

namespace {

struct Spot {
    f64 distance, altitude, longitude, latitude;
};
struct OracleMission {
    std::string name;
    f64 clearance;
    GeoPoint reference;
    u32 path;                // VerticalFlightPath
    std::vector<f64> start;  // longitude, latitude, altitude of the vehicle in the air; empty when landed
    std::vector<std::vector<f64>> waypoints;
    std::vector<Spot> spots;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Vec2 mercator(f64 longitude, f64 latitude) {
    Vec2 out;
    GeoPoint geo = {longitude, latitude};
    latLngToMercator(&out, &geo);
    return out;
}

void setWaypoints(WaypointMissionEditor* editor, const std::vector<std::vector<f64>>& points) {
    std::vector<Waypoint> records;
    for (const auto& p : points) {
        Waypoint w{};
        w.id = takeWaypointId(editor);
        Vec2 at = mercator(p[0], p[1]);
        w.x = at.x;
        w.y = at.y;
        w.altitude = p[2];
        w.ignitePreviousSegment = p.size() > 3 ? (u32)p[3] : 0;
        records.push_back(w);
    }
    u64 bytes = records.size() * sizeof(Waypoint);
    ASSERT_TRUE(runNewEdit(&editor->history, loadWaypointsAction, records.data(), bytes).ok);
}

// A loaded SRTM3 tile at N46 E009: a plain at 400 m with a ridge along 9.5 E, 700 m at its crest.
class RidgeTerrain : public ::testing::Test {
protected:
    static std::string ridgeTile() {
        std::string bytes((size_t)kSrtm3Bytes, '\0');
        for (i64 row = 0; row < kSrtm3Samples; ++row) {
            for (i64 column = 0; column < kSrtm3Samples; ++column) {
                f64 x = (9.0 + column / 1200.0 - 9.5) / 0.01;
                i32 height = (i32)std::lround(400 + 300 * std::exp(-x * x));
                size_t at = (size_t)(row * kSrtm3Samples + column) * 2;
                bytes[at] = (char)((u32)height >> 8);
                bytes[at + 1] = (char)height;
            }
        }
        return bytes;
    }
    virtual const std::string& tileBytes() {
        static const std::string tile = ridgeTile();
        return tile;
    }
    void SetUp() override {
        loader.reset(new ElevationMapLoader{});
        const std::string& tile = tileBytes();
        readSrtmTile(&loader->slots[0].raster, (const u8*)tile.data(), (i64)tile.size(), 46, 9, kElevationSampleBudget,
                     4, nullptr);
        ASSERT_EQ(std::string(loader->slots[0].raster.error.text), "");
        loader->slots[0].state = ElevationMapLoaded;
        loader->loadedCount = 1;
        editor.reset(new WaypointMissionEditor{});
        editor->takeoffTerrainHeight = kUnknownTerrainHeight;
        vehicle.reset(new VehicleState{});
        preferences.reset(new Preferences{});
    }
    void TearDown() override { releaseElevationRaster(&loader->slots[0].raster); }

    // The mission on the ground at its reference, as the vehicle's home sets it.
    void plan(GeoPoint reference, f64 clearance, const std::vector<std::vector<f64>>& waypoints) {
        vehicle->home = StoredPosition{1, reference.longitude, reference.latitude, 0};
        rebaseWaypointAltitudes(editor.get(), vehicle.get(), loader.get());
        ASSERT_NE(editor->takeoffTerrainHeight, kUnknownTerrainHeight);
        preferences->lowAltitudeWarning = clearance;
        setWaypoints(editor.get(), waypoints);
    }

    std::unique_ptr<ElevationMapLoader> loader;
    std::unique_ptr<WaypointMissionEditor> editor;
    std::unique_ptr<VehicleState> vehicle;
    std::unique_ptr<Preferences> preferences;
};

// The same check over the tile GDAL wrote, against the script's own walk.
class RidgeOracle : public RidgeTerrain {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/orvik-ridge-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        std::string folder = pattern;
        std::string script = std::string(ORVIK_SOURCE_DIR) + "/Tests/Mission/mission_terrain_oracle.py";
        ASSERT_EQ(std::system(("/usr/bin/python3 " + script + " " + folder).c_str()), 0);
        std::istringstream lines(readFile(folder + "/missions.txt"));
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream words(line);
            std::string kind;
            words >> kind;
            if (kind == "MISSION") {
                missions.emplace_back();
                OracleMission& m = missions.back();
                std::string where;
                words >> m.name >> m.clearance >> m.reference.longitude >> m.reference.latitude >> m.path >> where;
                if (where != "landed") {
                    m.start = {std::stod(where), 0, 0};
                    words >> m.start[1] >> m.start[2];
                }
            } else if (kind == "WP") {
                std::vector<f64> w(3);
                words >> w[0] >> w[1] >> w[2];
                missions.back().waypoints.push_back(w);
            } else if (kind == "SPOT") {
                Spot s;
                words >> s.distance >> s.altitude >> s.longitude >> s.latitude;
                missions.back().spots.push_back(s);
            }
        }
        gdalTile = readFile(folder + "/N46E009.hgt");
        std::system(("rm -rf " + folder).c_str());
    }
    const std::string& tileBytes() override { return gdalTile; }

    static inline std::vector<OracleMission> missions;
    static inline std::string gdalTile;
};

// Missions landed and in the air, climbing vertically or straight: only the take-off climb is
// spared, so missions that never reach the warning height, or start low, are refused.
TEST_F(RidgeOracle, LowSpotsOneAfterAnotherAsTheyAreAcknowledgedMatchAnIndependentWalk) {
    ASSERT_EQ(missions.size(), 12u);
    for (const OracleMission& m : missions) {
        SCOPED_TRACE(m.name);
        if (&m != &missions[0]) {
            TearDown();
            SetUp();
        }
        plan(m.reference, m.clearance, m.waypoints);
        preferences->verticalFlightPathToFirstWaypoint = m.path;
        if (!m.start.empty()) {
            vehicle->globalPosition = GlobalPosition{1, m.start[0], m.start[1], m.start[2], 0};
            vehicle->flightPhase = 2;
        }
        for (const Spot& expected : m.spots) {
            ASSERT_EQ(isWaypointMissionSafe(editor.get(), loader.get(), preferences.get(), vehicle.get()), 0);
            EXPECT_EQ(editor->safetyCheckResult, 0u);
            EXPECT_NEAR(editor->lowSpot.distanceBefore + editor->lowSpot.stepLength, expected.distance, 1e-6);
            EXPECT_NEAR(editor->lowSpot.altitude, expected.altitude, 1e-6);
            acknowledgeLowSpot(editor.get(), mercator(expected.longitude, expected.latitude));
        }
        EXPECT_EQ(isWaypointMissionSafe(editor.get(), loader.get(), preferences.get(), vehicle.get()), 1);
        EXPECT_EQ(editor->safetyCheckResult, 1u);
    }
}

const GeoPoint kPlain = {9.45, 46.5};
const std::vector<std::vector<f64>> kOverTheRidge = {{9.47, 46.5, 120}, {9.53, 46.505, 120}};
const std::vector<std::vector<f64>> kHighAbove = {{9.47, 46.5, 340}, {9.53, 46.5, 340}, {9.82, 46.51, 340}};

TEST_F(RidgeTerrain, NothingIsLowWhileTheTakeoffGroundIsUnknownAndClearForgetsAcknowledgements) {
    plan(kPlain, 30, kOverTheRidge);
    acknowledgeLowSpot(editor.get(), mercator(9.5, 46.5));
    UndoActionResult cleared = runNewEdit(&editor->history, clearWaypointsAction, nullptr, 0);
    ASSERT_TRUE(cleared.ok);
    EXPECT_EQ(editor->acknowledgedLowSpotCount, 0);
    setWaypoints(editor.get(), kOverTheRidge);
    EXPECT_EQ(isWaypointMissionSafe(editor.get(), loader.get(), preferences.get(), vehicle.get()), 0);
    editor->takeoffTerrainHeight = kUnknownTerrainHeight;
    EXPECT_EQ(isWaypointMissionSafe(editor.get(), loader.get(), preferences.get(), vehicle.get()), 1);
}

TEST_F(RidgeTerrain, RebaseKeepsEveryWaypointsHeightAboveSeaLevelWhenHomeMovesToHigherGround) {
    plan(kPlain, 30, kHighAbove);
    f64 oldGround = editor->takeoffTerrainHeight;
    std::vector<f64> seaLevel;
    for (i32 i = 0; i < editor->waypointCount; ++i) seaLevel.push_back(editor->waypoints[i].altitude + oldGround);
    vehicle->home = StoredPosition{2, 9.5, 46.45, 0};  // on the crest
    rebaseWaypointAltitudes(editor.get(), vehicle.get(), loader.get());
    f64 newGround = getElevation(loader.get(), GeoPoint{9.5, 46.45}, NAN);
    EXPECT_GT(newGround, oldGround + 250);
    EXPECT_EQ(editor->takeoffTerrainHeight, newGround);
    EXPECT_EQ(editor->referenceLongitude, 9.5);
    for (i32 i = 0; i < editor->waypointCount; ++i) {
        EXPECT_NEAR(editor->waypoints[i].altitude + newGround, seaLevel[i], 1e-9);
    }
    // Home over unknown ground changes nothing.
    vehicle->home = StoredPosition{3, 12.0, 46.45, 0};
    rebaseWaypointAltitudes(editor.get(), vehicle.get(), loader.get());
    EXPECT_EQ(editor->takeoffTerrainHeight, newGround);
    EXPECT_NEAR(editor->waypoints[0].altitude + newGround, seaLevel[0], 1e-9);
}

TEST_F(RidgeTerrain, SnapSettersMoveOnlyTheWaypointsThatSatAtTheOldSnapAltitude) {
    plan(kPlain, 30, kHighAbove);
    preferences->waypointSnapAltitudeMode = SnapAboveGroundLevel;
    preferences->waypointSnapAltitudeAboveGroundLevel = 40;
    Vec2 crest = mercator(9.5, 46.51), plain = mercator(9.45, 46.51);
    f64 crestGround = getElevation(loader.get(), GeoPoint{9.5, 46.51}, NAN) - editor->takeoffTerrainHeight;
    ASSERT_GT(crestGround, 250);
    // Snapped over the crest, snapped over the plain, and one set by hand.
    f64 snappedCrest = waypointSnapAltitude(preferences.get(), groundHeightAt(loader.get(), crest),
                                            editor->takeoffTerrainHeight);
    EXPECT_NEAR(snappedCrest, 40 + crestGround, 1e-3);
    setWaypoints(editor.get(), {{9.5, 46.51, snappedCrest}, {9.45, 46.51, 40.005}, {9.45, 46.51, 77}});
    setWaypointSnapAltitudeAgl(55, editor.get(), loader.get(), preferences.get());
    EXPECT_EQ(preferences->waypointSnapAltitudeAboveGroundLevel, 55);
    EXPECT_NEAR(editor->waypoints[0].altitude, 55 + crestGround, 1e-3);
    EXPECT_NEAR(editor->waypoints[1].altitude, 55 + groundHeightAt(loader.get(), plain) - editor->takeoffTerrainHeight,
                1e-3);
    EXPECT_EQ(editor->waypoints[2].altitude, 77);
    // Mode 2 takes the larger; the take-off setter moves the plain waypoint, whose snap it now is.
    preferences->waypointSnapAltitudeMode = SnapAboveGroundLevelAndTakeoffLocation;
    preferences->waypointSnapAltitudeAboveTakeoffLocation = 10;
    editor->waypoints[1].altitude = waypointSnapAltitude(preferences.get(), groundHeightAt(loader.get(), plain),
                                                         editor->takeoffTerrainHeight);
    setWaypointSnapAltitudeAboveTakeoff(120, editor.get(), loader.get(), preferences.get());
    EXPECT_EQ(editor->waypoints[1].altitude, 120);
    EXPECT_NEAR(editor->waypoints[0].altitude, 55 + crestGround, 1e-3);  // 55 above the crest is higher
}

// Statistics. Waypoints on the equator, 0.001 degrees of longitude apart.
class MissionStatsTest : public ::testing::Test {
protected:
    void SetUp() override {
        editor.reset(new WaypointMissionEditor{});
        vehicle.reset(new VehicleState{});
        preferences.reset(new Preferences{});
        preferences->waypointMissionCruiseSpeed = 10;
        preferences->orvikDropSpacing = 30;
        preferences->orvikMaxDropPeriod = 5;
        metresPerStep = metersPerDegreeLongitude(0) * 0.001;
    }
    std::unique_ptr<WaypointMissionEditor> editor;
    std::unique_ptr<VehicleState> vehicle;
    std::unique_ptr<Preferences> preferences;
    f64 metresPerStep;
};

TEST_F(MissionStatsTest, ClimbDescentAndLevelLegsAndIgnitedLegsAsWorkedOutByHand) {
    // No reference yet: the start is under the first waypoint and climbs 60 m (10 s at 6 m/s).
    setWaypoints(editor.get(), {{0, 0, 60},
                                {0.001, 0, 60, 1},    // level, ignited: 11.13 s
                                {0.002, 0, 300},      // climb of 240 m: 40 s beats 11.13 s
                                {0.003, 0, 60, 1},    // descent of 240 m: 80 s, ignited
                                {0.0035, 0, 61}});    // level-ish: 5.57 s
    MissionStats stats;
    calculateMissionStats(&stats, editor.get(), vehicle.get(), preferences.get());
    f64 level = metresPerStep / 10;
    EXPECT_NEAR(stats.durationS, 10 + level + 40 + 80 + level / 2, 1e-6);
    // Spacing: min(30 m, 10 m/s x 5 s) = 30 m; two ignited legs of 111.32 m give 3 spheres each.
    EXPECT_EQ(stats.spheres, 6);
    EXPECT_NEAR(stats.averageSpacingM, 2 * metresPerStep / 6, 1e-6);
    // A drop period that allows only 20 m between drops.
    preferences->orvikMaxDropPeriod = 2;
    calculateMissionStats(&stats, editor.get(), vehicle.get(), preferences.get());
    EXPECT_EQ(stats.spheres, 10);
    // No drop spacing: no spheres rather than a division by zero.
    preferences->orvikDropSpacing = 0;
    calculateMissionStats(&stats, editor.get(), vehicle.get(), preferences.get());
    EXPECT_EQ(stats.spheres, 0);
    EXPECT_EQ(stats.averageSpacingM, 0);
    // Nothing ignited: no spheres and no spacing.
    setWaypoints(editor.get(), {{0, 0, 60}, {0.001, 0, 60}});
    calculateMissionStats(&stats, editor.get(), vehicle.get(), preferences.get());
    EXPECT_EQ(stats.spheres, 0);
    EXPECT_EQ(stats.averageSpacingM, 0);
    EXPECT_NEAR(stats.durationS, 10 + level, 1e-6);
}

TEST_F(MissionStatsTest, AFlyingVehicleAboveTheFirstWaypointFliesLevelThenDescends) {
    vehicle->globalPosition = GlobalPosition{1, -0.001, 0, 100, 0};
    vehicle->flightPhase = 2;
    setWaypoints(editor.get(), {{0, 0, 40}});
    MissionStats stats;
    calculateMissionStats(&stats, editor.get(), vehicle.get(), preferences.get());
    EXPECT_NEAR(stats.durationS, metresPerStep / 10 + 60 / 3.0, 1e-6);
    preferences->verticalFlightPathToFirstWaypoint = VerticalFlightPathStraight;  // one leg: 20 s of descent
    calculateMissionStats(&stats, editor.get(), vehicle.get(), preferences.get());
    EXPECT_NEAR(stats.durationS, 20, 1e-6);
}

}  // namespace
