#include "Core/MathEarth.h"

#include <cmath>

#include <gtest/gtest.h>

#include "Core/MathPythonOracle.h"

namespace {

constexpr int kPoints = 4000;

// Python computes the expected values with its own math module, from the textbook forms.
const char* kEarthOracle = R"(
import math, random
random.seed(11)
def wrap180(d):
    return (d + 180.0) % 360.0 - 180.0
SPI = 3.14159265359
def mlat(lat):
    p = lat * SPI / 180
    return max(0.0, 111132.92 - 559.82*math.cos(2*p) + 1.175*math.cos(4*p) - 0.0023*math.cos(6*p))
def mlon(lat):
    p = lat * SPI / 180
    return max(0.0, 111412.84*math.cos(p) - 93.5*math.cos(3*p) + 0.118*math.cos(5*p))
out = []
for i in range(%d):
    lon = random.uniform(-900, 900); lat = random.uniform(-85, 85)
    x = wrap180(lon) / 360; y = math.log(math.tan(math.pi/4 + math.radians(lat)/2)) / (2*math.pi)
    mx = random.uniform(-3, 3); my = random.uniform(-1.2, 1.2)
    glon = wrap180(mx * 360); glat = math.degrees(math.atan(math.sinh(2*math.pi*my)))
    alon = random.uniform(-180, 180); alat = random.uniform(-80, 80)
    blon = random.uniform(-180, 180); blat = max(-89.0, min(89.0, alat + random.uniform(-3, 3)))
    bw = alon + wrap180(blon - alon)
    m = (alat + blat) / 2
    d2 = (mlon(m) * (bw - alon))**2 + (mlat(m) * (blat - alat))**2
    ref = random.uniform(-400, 400)
    near = ref + wrap180(lon - ref)
    out.append(' '.join(repr(v) for v in (lon, lat, x, y, mx, my, glon, glat, mlat(lat), mlon(lat),
                                          alon, alat, blon, blat, bw, d2, ref, near)))
print('\n'.join(out))
)";

TEST(MathEarth, ConversionsAgreeWithPythonOverRandomPoints) {
    char script[4096];
    snprintf(script, sizeof script, kEarthOracle, kPoints);
    std::vector<double> v = mathoracle::runPython(script);
    ASSERT_EQ(v.size(), size_t(kPoints) * 18) << "Debian's /usr/bin/python3 is needed";
    for (int i = 0; i < kPoints; ++i) {
        const double* c = &v[size_t(i) * 18];
        SCOPED_TRACE(testing::Message() << "point " << i << " lon " << c[0] << " lat " << c[1]);
        GeoPoint geo = {c[0], c[1]};
        Vec2 m;
        latLngToMercator(&m, &geo);
        EXPECT_NEAR(m.x, c[2], 1e-13);
        EXPECT_NEAR(m.y, c[3], 1e-13);
        GeoPoint back;
        mercatorToLatLng(&back, &m);
        EXPECT_NEAR(std::fmod(back.longitude - c[0] + 3600 + 180, 360) - 180, 0, 1e-9);
        EXPECT_NEAR(back.latitude, c[1], 1e-9);

        Vec2 fromMap = {c[4], c[5]};
        GeoPoint g;
        mercatorToLatLng(&g, &fromMap);
        EXPECT_NEAR(g.longitude, c[6], 1e-9);
        EXPECT_GE(g.longitude, -180.0);
        EXPECT_LE(g.longitude, 180.0);
        EXPECT_NEAR(g.latitude, c[7], 1e-9);

        EXPECT_NEAR(metersPerDegreeLatitude(c[1]), c[8], 1e-8);
        EXPECT_NEAR(metersPerDegreeLongitude(c[1]), c[9], 1e-8);

        GeoPoint a = {c[10], c[11]}, b = {c[12], c[13]};
        double d2 = geoDistanceSquared(&a, &b);
        EXPECT_NEAR(b.longitude, c[14], 1e-9);
        EXPECT_GT(b.longitude, a.longitude - 180);
        EXPECT_LE(b.longitude, a.longitude + 180);
        EXPECT_NEAR(d2, c[15], c[15] * 1e-9 + 1e-6);

        double near = wrapLongitudeNear(c[0], c[16]);
        EXPECT_NEAR(near, c[17], 1e-9);
        EXPECT_GT(near, c[16] - 180);
        EXPECT_LE(near, c[16] + 180);
        double turns = wrapLongitudeTurns(c[0], c[16] / 360);
        EXPECT_NEAR(turns, c[17] / 360, 1e-12);
        EXPECT_NEAR(wrapNear(c[0] / 360, c[16] / 360), c[17] / 360, 1e-12);
        EXPECT_NEAR(turnsToDegreesLongitude(c[4]), c[6], 1e-9);
    }
}

TEST(MathEarth, PolesDatelineAndTurns) {
    EXPECT_EQ(metersPerDegreeLongitude(90), 0.0);
    EXPECT_EQ(metersPerDegreeLongitude(-90), 0.0);
    EXPECT_GE(metersPerDegreeLongitude(89.9999999), 0.0);
    EXPECT_NEAR(metersPerDegreeLatitude(0), 110574.27, 0.01);

    GeoPoint a = {179.9, 0}, b = {-179.9, 0};
    double d = std::sqrt(geoDistanceSquared(&a, &b));
    EXPECT_NEAR(d, 22264, 30);
    EXPECT_NEAR(b.longitude, 180.1, 1e-9);

    EXPECT_EQ(wrapLongitudeNear(-170, 170), 190);
    EXPECT_EQ(wrapLongitudeNear(10, -170), 10);      // exactly 180 above the reference stays
    EXPECT_EQ(wrapLongitudeNear(-350, -170), 10);    // exactly 180 below moves up a turn
    EXPECT_EQ(turnsToDegreesLongitude(0.75), -90);
    EXPECT_EQ(turnsToDegreesLongitude(-1.25), -90);
    EXPECT_EQ(turnsToDegreesLongitude(0.5), 180);
    EXPECT_DOUBLE_EQ(wrapLongitudeTurns(540, 0), 0.5);
    EXPECT_DOUBLE_EQ(wrapNear(2.75, 0.1), -0.25);
    // Far-off and non-finite inputs come back at once instead of looping.
    EXPECT_NEAR(wrapLongitudeNear(1e15 + 90, 0), std::fmod(1e15 + 90, 360), 1e-6);
    EXPECT_TRUE(std::isnan(wrapNear(NAN, 0)));
    // So do two far-off values near each other (a replayed log's garbage positions), where a turn
    // is below their precision.
    EXPECT_TRUE(std::isfinite(wrapLongitudeNear(7.4770787633437291e+20, 7.4770802645436046e+20)));
    EXPECT_TRUE(std::isfinite(wrapNear(-3.1e19, 2.2e19)));
    EXPECT_TRUE(std::isinf(wrapLongitudeNear(INFINITY, 0)));
    EXPECT_TRUE(std::isinf(turnsToDegreesLongitude(-INFINITY)));
}

TEST(MathEarth, RegionAreaOfKnownSquares) {
    for (double latitude : {0.0, 45.0, -60.0, 70.0}) {
        for (double longitude : {-179.99, 0.0, 120.0}) {
            // A 1 km square, its sides laid out by the local metres per degree.
            double dLon = 1000 / metersPerDegreeLongitude(latitude), dLat = 1000 / metersPerDegreeLatitude(latitude);
            GeoPoint corners[4] = {{longitude, latitude},
                                   {longitude + dLon, latitude},
                                   {longitude + dLon, latitude + dLat},
                                   {longitude, latitude + dLat}};
            Vec2 square[4];
            for (int i = 0; i < 4; ++i) {
                latLngToMercator(&square[i], &corners[i]);
                square[i].x = wrapNear(square[i].x, square[0].x);
            }
            // The map is spherical Mercator while the metres per degree follow the ellipsoid: within 1 %.
            EXPECT_NEAR(computeRegionArea(square, 4), 1e6, 1e6 * 0.01) << latitude << " " << longitude;
            Vec2 reversed[4] = {square[3], square[2], square[1], square[0]};
            EXPECT_DOUBLE_EQ(computeRegionArea(reversed, 4), computeRegionArea(square, 4));
        }
    }
    Vec2 two[2] = {{0, 0}, {0.01, 0.01}};
    EXPECT_EQ(computeRegionArea(two, 2), 0.0);
    EXPECT_EQ(computeRegionArea(two, 0), 0.0);
    // A triangle is half its bounding square.
    Vec2 triangle[3] = {{0, 0}, {1e-4, 0}, {0, 1e-4}};
    Vec2 box[4] = {{0, 0}, {1e-4, 0}, {1e-4, 1e-4}, {0, 1e-4}};
    EXPECT_NEAR(computeRegionArea(triangle, 3) * 2, computeRegionArea(box, 4), 1e-6);
}

}  // namespace
