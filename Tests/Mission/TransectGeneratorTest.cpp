// The transect generator: lines checked by OGR (transect_checker.py) over random convex regions,
// headings, spacings and overshoots, with the waypoints the whole region needs and the part left
// uncovered when the lines are cut short; the 99-waypoint cap beside locked waypoints; the inputs
// that change nothing and what they say; and undo.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Core/MathEarth.h"
#include "Core/Preferences.h"
#include "Mission/TransectGenerator.h"
#include "Mission/WaypointUndo.h"

namespace {

Vec2 mercator(f64 longitude, f64 latitude) {
    Vec2 out;
    GeoPoint geo = {longitude, latitude};
    latLngToMercator(&out, &geo);
    return out;
}

// The convex hull of points, counter-clockwise (monotone chain).
std::vector<GeoPoint> convexHull(std::vector<GeoPoint> p) {
    std::sort(p.begin(), p.end(), [](const GeoPoint& a, const GeoPoint& b) {
        return a.longitude < b.longitude || (a.longitude == b.longitude && a.latitude < b.latitude);
    });
    auto cross = [](const GeoPoint& o, const GeoPoint& a, const GeoPoint& b) {
        return (a.longitude - o.longitude) * (b.latitude - o.latitude) -
               (a.latitude - o.latitude) * (b.longitude - o.longitude);
    };
    std::vector<GeoPoint> hull(2 * p.size());
    size_t k = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        while (k >= 2 && cross(hull[k - 2], hull[k - 1], p[i]) <= 0) k--;
        hull[k++] = p[i];
    }
    for (size_t i = p.size() - 1, t = k + 1; i > 0; --i) {
        while (k >= t && cross(hull[k - 2], hull[k - 1], p[i - 1]) <= 0) k--;
        hull[k++] = p[i - 1];
    }
    hull.resize(k - 1);
    return hull;
}

struct Plan {
    WaypointMissionEditor editor;
    TransectRegion region;
    Preferences preferences;
};

std::unique_ptr<Plan> makePlan() {
    std::unique_ptr<Plan> plan(new Plan{});
    plan->editor.takeoffTerrainHeight = kUnknownTerrainHeight;
    plan->preferences.waypointSnapAltitudeAboveGroundLevel = 45;
    return plan;
}

void setRegion(TransectRegion* region, const std::vector<GeoPoint>& points) {
    region->pointCount = 0;
    for (const GeoPoint& p : points) region->points[region->pointCount++] = mercator(p.longitude, p.latitude);
}

std::vector<Waypoint> waypointsOf(const WaypointMissionEditor* editor) {
    return {editor->waypoints, editor->waypoints + editor->waypointCount};
}

bool sameWaypoints(const std::vector<Waypoint>& a, const std::vector<Waypoint>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Waypoint)) == 0);
}

TEST(TransectGenerator, LinesLieInTheRegionGrownByTheOvershootSpacedAndHeadedAsAskedByOgr) {
    std::mt19937_64 random(36);
    std::uniform_real_distribution<f64> unit(0, 1);
    std::string path = std::string(testing::TempDir()) + "orvik-transects.txt";
    FILE* cases = std::fopen(path.c_str(), "w");
    ASSERT_NE(cases, nullptr);
    for (int c = 0; c < 40; ++c) {
        auto plan = makePlan();
        f64 centreLon = -150 + unit(random) * 20, centreLat = -60 + unit(random) * 120;
        f64 size = 0.002 + unit(random) * 0.01;
        std::vector<GeoPoint> points;
        for (int i = 0; i < 4 + c % 8; ++i) {
            points.push_back({centreLon + (unit(random) - 0.5) * size / std::cos(centreLat * M_PI / 180),
                              centreLat + (unit(random) - 0.5) * size});
        }
        std::vector<GeoPoint> hull = convexHull(points);
        if (hull.size() < 3) continue;
        if (c % 2) std::reverse(hull.begin(), hull.end());
        setRegion(&plan->region, hull);
        Preferences* p = &plan->preferences;
        p->transectZigZagHeading = -360 + unit(random) * 720;
        // Every third case a spacing fine enough that the waypoint limit cuts the lines short.
        p->transectSpacing = c % 3 == 2 ? 2 + unit(random) * 4 : 15 + unit(random) * 80;
        p->transectOvershootDistance = c % 5 == 0 ? -3 : unit(random) * 40;
        i32 made = generateWaypointsFromTransects(&plan->editor, &plan->region, nullptr, nullptr, p);
        ASSERT_GT(made, 0) << c;
        ASSERT_EQ(made, plan->editor.waypointCount);
        std::fprintf(cases, "CASE %.17g %.17g %.17g %d\nPOLY", p->transectZigZagHeading, p->transectSpacing,
                     std::fmax(0.0, p->transectOvershootDistance), made >= 98 ? 1 : 0);
        for (const GeoPoint& g : hull) std::fprintf(cases, " %.17g %.17g", g.longitude, g.latitude);
        // What it says it could not do: the waypoints the whole region needs, and the part left out.
        const FixedString& message = plan->region.generateMessage;
        long needed = made;
        if (message.length) {
            ASSERT_EQ(std::sscanf(message.text, "Transect needs %ld waypoints; %*d generated", &needed), 1) << message.text;
            EXPECT_EQ(std::string(message.text), "Transect needs " + std::to_string(needed) + " waypoints; " +
                                                     std::to_string(made) + " generated");
        }
        EXPECT_EQ(plan->region.uncoveredCount > 0, message.length > 0) << c;
        std::fprintf(cases, "\nNEEDED %ld\nUNCOVERED", needed);
        for (i32 i = 0; i < plan->region.uncoveredCount; ++i) {
            GeoPoint g;
            mercatorToLatLng(&g, &plan->region.uncovered[i]);
            std::fprintf(cases, " %.17g %.17g", g.longitude, g.latitude);
        }
        std::fprintf(cases, "\n");
        for (i32 i = 0; i < made; ++i) {
            const Waypoint* w = &plan->editor.waypoints[i];
            GeoPoint g;
            Vec2 at = {w->x, w->y};
            mercatorToLatLng(&g, &at);
            std::fprintf(cases, "WP %.17g %.17g\n", g.longitude, g.latitude);
            EXPECT_EQ(w->altitude, 45);  // no terrain: the snap altitude above ground
            EXPECT_EQ(w->ignitePreviousSegment, 0u);
        }
    }
    std::fclose(cases);
    std::string script = std::string(ORVIK_SOURCE_DIR) + "/Tests/Mission/transect_checker.py";
    EXPECT_EQ(std::system(("/usr/bin/python3 " + script + " " + path).c_str()), 0);
    std::remove(path.c_str());
}

TEST(TransectGenerator, IgnitionUsageIgnitesEveryLineAndNotTheTurns) {
    auto plan = makePlan();
    setRegion(&plan->region, {{10, 50}, {10.004, 50}, {10.004, 50.003}, {10, 50.003}});
    plan->preferences.transectUsage = TransectIgnition;
    plan->preferences.transectSpacing = 50;
    plan->preferences.transectZigZagHeading = 90;
    i32 made = generateWaypointsFromTransects(&plan->editor, &plan->region, nullptr, nullptr, &plan->preferences);
    ASSERT_EQ(made, 14);  // 333.6 m across in 50 m steps from 25 m: 7 lines
    for (i32 i = 0; i < made; ++i) EXPECT_EQ(plan->editor.waypoints[i].ignitePreviousSegment, (u32)(i % 2)) << i;
}

TEST(TransectGenerator, LinesAcrossAConcaveRegionRunFromItsOutermostCrossingsOverTheGap) {
    // A U open to the north: the lines across its top cross both arms and bridge the gap between.
    auto plan = makePlan();
    setRegion(&plan->region, {{10, 50}, {10.003, 50}, {10.003, 50.002}, {10.002, 50.002}, {10.002, 50.001},
                              {10.001, 50.001}, {10.001, 50.002}, {10, 50.002}});
    plan->preferences.transectSpacing = 40;
    plan->preferences.transectZigZagHeading = 90;
    plan->preferences.transectOvershootDistance = 12;
    i32 made = generateWaypointsFromTransects(&plan->editor, &plan->region, nullptr, nullptr, &plan->preferences);
    ASSERT_EQ(made, 12);  // 222.4 m from north to south: 6 lines
    f64 overshoot = 12 / metersPerDegreeLongitude(50.001);
    for (i32 i = 0; i < made; ++i) {
        GeoPoint g;
        Vec2 at = {plan->editor.waypoints[i].x, plan->editor.waypoints[i].y};
        mercatorToLatLng(&g, &at);
        bool west = (i / 2 + i) % 2 == 0;  // lines alternate: east-bound, then west-bound
        EXPECT_NEAR(g.longitude, west ? 10 - overshoot : 10.003 + overshoot, 1e-7) << i;
    }
}

TEST(TransectGenerator, NinetyNineWaypointsHoldBesideLockedOnesAndUndoBringsBackTheMissionBefore) {
    auto plan = makePlan();
    WaypointMissionEditor* editor = &plan->editor;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(insertWaypoint(editor, i, 0.1 + i * 1e-5, 0.2, 30 + i));
    editor->waypoints[0].uploadMark = 2;
    editor->waypoints[1].uploadMark = 1;
    std::vector<Waypoint> before = waypointsOf(editor);
    setRegion(&plan->region, {{10, 50}, {10.02, 50}, {10.02, 50.02}, {10, 50.02}});
    plan->preferences.transectSpacing = 5;
    ASSERT_EQ(generateWaypointsFromTransects(editor, &plan->region, nullptr, nullptr, &plan->preferences), 96);
    EXPECT_EQ(editor->waypointCount, 98);
    EXPECT_TRUE(std::memcmp(editor->waypoints, before.data(), 2 * sizeof(Waypoint)) == 0);  // locked ones kept
    EXPECT_STREQ(undoLabel(&editor->history), "Generate");
    undoLastAction(&editor->history);
    EXPECT_TRUE(sameWaypoints(waypointsOf(editor), before));
    redoLastAction(&editor->history);
    EXPECT_EQ(editor->waypointCount, 98);
    // With none locked the cap is 98: whole lines only.
    editor->waypoints[0].uploadMark = editor->waypoints[1].uploadMark = 0;
    EXPECT_EQ(generateWaypointsFromTransects(editor, &plan->region, nullptr, nullptr, &plan->preferences), 98);
}

TEST(TransectGenerator, FewerThanThreePointsOrNoPositiveFiniteSpacingChangeNothing) {
    auto plan = makePlan();
    ASSERT_TRUE(insertWaypoint(&plan->editor, 0, 0.1, 0.2, 30));
    std::vector<Waypoint> before = waypointsOf(&plan->editor);
    setRegion(&plan->region, {{10, 50}, {10.004, 50}});
    plan->preferences.transectSpacing = 20;
    const f64 badSpacings[] = {0, -10, NAN, INFINITY};
    EXPECT_EQ(generateWaypointsFromTransects(&plan->editor, &plan->region, nullptr, nullptr, &plan->preferences), 0);
    setRegion(&plan->region, {{10, 50}, {10.004, 50}, {10.004, 50.003}});
    for (f64 spacing : badSpacings) {
        plan->preferences.transectSpacing = spacing;
        Plan* p = plan.get();
        EXPECT_EQ(generateWaypointsFromTransects(&p->editor, &p->region, nullptr, nullptr, &p->preferences), 0);
    }
    plan->preferences.transectSpacing = 20;
    plan->preferences.transectZigZagHeading = NAN;
    EXPECT_EQ(generateWaypointsFromTransects(&plan->editor, &plan->region, nullptr, nullptr, &plan->preferences), 0);
    EXPECT_TRUE(sameWaypoints(waypointsOf(&plan->editor), before));
    EXPECT_STREQ(undoLabel(&plan->editor.history), "Add");  // no record beyond the first waypoint's
    // Each says why.
    struct Case {
        i32 points;
        f64 spacing, heading;
        const char* message;
    };
    const Case cases[] = {
        {2, 20, 0, "Add at least 3 points to the transect region"},
        {3, 0, 0, "Set the transect spacing first"},
        {3, NAN, 0, "Set the transect spacing first"},
        {3, 20, INFINITY, "Set the transect heading and overshoot first"},
        {3, 5000, 0, "The transect region is narrower than the spacing"},
        {3, 200, 0, ""},  // one line covers it: done
    };
    for (const Case& c : cases) {
        plan->region.pointCount = c.points;
        plan->preferences.transectSpacing = c.spacing;
        plan->preferences.transectZigZagHeading = c.heading;
        generateWaypointsFromTransects(&plan->editor, &plan->region, nullptr, nullptr, &plan->preferences);
        EXPECT_STREQ(plan->region.generateMessage.text, c.message);
        EXPECT_EQ(plan->region.uncoveredCount, 0);
    }
    // Every waypoint locked: nothing is generated and all of the region is left out.
    for (i32 i = 0; i < kMaxWaypoints; ++i) {
        plan->editor.waypoints[i] = Waypoint{};
        plan->editor.waypoints[i].id = (u32)(i + 1);
        plan->editor.waypoints[i].uploadMark = 1;
    }
    plan->editor.waypointCount = kMaxWaypoints;
    plan->preferences.transectSpacing = 50;
    EXPECT_EQ(generateWaypointsFromTransects(&plan->editor, &plan->region, nullptr, nullptr, &plan->preferences), 0);
    EXPECT_STREQ(plan->region.generateMessage.text, "Transect needs 12 waypoints; 0 generated");
    EXPECT_EQ(plan->region.uncoveredCount, 3);
    EXPECT_EQ(plan->region.uncoveredKey, transectRegionKey(&plan->region));
}

}  // namespace
