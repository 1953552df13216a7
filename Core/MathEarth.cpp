#include "Core/MathEarth.h"

#include <cmath>

namespace {

constexpr f64 kSeriesPi = 3.14159265359;
constexpr f64 kPi = 3.14159265358979323846;

}  // namespace

f64 metersPerDegreeLatitude(f64 latitude) {
    f64 phi = latitude * kSeriesPi / 180.0;
    f64 meters = 111132.92 - 559.82 * std::cos(2 * phi) + 1.175 * std::cos(4 * phi) - 0.0023 * std::cos(6 * phi);
    return meters > 0 ? meters : 0;
}

f64 metersPerDegreeLongitude(f64 latitude) {
    f64 phi = latitude * kSeriesPi / 180.0;
    f64 meters = 111412.84 * std::cos(phi) - 93.5 * std::cos(3 * phi) + 0.118 * std::cos(5 * phi);
    return meters > 0 ? meters : 0;
}

f64 geoDistanceSquared(const GeoPoint* a, GeoPoint* b) {
    b->longitude = wrapLongitudeNear(b->longitude, a->longitude);
    f64 meanLatitude = (a->latitude + b->latitude) * 0.5;
    f64 dx = metersPerDegreeLongitude(meanLatitude) * (b->longitude - a->longitude);
    f64 dy = metersPerDegreeLatitude(meanLatitude) * (b->latitude - a->latitude);
    return dx * dx + dy * dy;
}

void mercatorToLatLng(GeoPoint* out, const Vec2* mercator) {
    out->longitude = turnsToDegreesLongitude(mercator->x);
    out->latitude = (std::atan(std::exp(2 * kPi * mercator->y)) - kPi / 4) * 360.0 / kPi;
}

void latLngToMercator(Vec2* out, const GeoPoint* geo) {
    out->x = wrapNear(geo->longitude / 360.0, 0);
    out->y = std::log(std::tan(geo->latitude * kPi / 360.0 + kPi / 4)) / (2 * kPi);
}

// Subtracting whole numbers from a double is exact, so the wraps below move values by whole turns
// without drift; the truncation first keeps huge inputs from looping for long.
f64 turnsToDegreesLongitude(f64 turns) {
    if (!std::isfinite(turns)) return turns * 360.0;
    turns -= std::trunc(turns);
    while (turns > 0.5) turns -= 1;
    while (turns < -0.5) turns += 1;
    return turns * 360.0;
}

f64 wrapLongitudeTurns(f64 longitude, f64 referenceTurns) {
    f64 turns = longitude / 360.0;
    if (!std::isfinite(turns) || !std::isfinite(referenceTurns)) return turns;
    turns -= std::trunc(turns - referenceTurns);
    while (turns > referenceTurns + 0.5) turns -= 1;
    while (turns < referenceTurns - 0.5) turns += 1;
    return turns;
}

f64 wrapNear(f64 value, f64 reference) {
    if (!std::isfinite(value) || !std::isfinite(reference)) return value;
    value -= std::trunc(value - reference);
    // One step is enough once the whole units are gone; far from zero a unit is below the values'
    // precision, and more steps would never end.
    for (i32 i = 0; i < 2 && value > reference + 0.5; i++) value -= 1;
    for (i32 i = 0; i < 2 && value < reference - 0.5; i++) value += 1;
    return value;
}

f64 wrapLongitudeNear(f64 longitude, f64 reference) {
    if (!std::isfinite(longitude) || !std::isfinite(reference)) return longitude;
    f64 turns = std::trunc((longitude - reference) / 360.0);
    longitude -= turns * 360.0;
    for (i32 i = 0; i < 2 && longitude <= reference - 180; i++) longitude += 360;
    for (i32 i = 0; i < 2 && longitude > reference + 180; i++) longitude -= 360;
    return longitude;
}

f64 computeRegionArea(const Vec2* points, i32 count) {
    if (count < 3) return 0;
    Box2 box = {1e12, -1e12, 1e12, -1e12};
    for (i32 i = 0; i < count; ++i) {
        box.minX = std::fmin(box.minX, points[i].x);
        box.maxX = std::fmax(box.maxX, points[i].x);
        box.minY = std::fmin(box.minY, points[i].y);
        box.maxY = std::fmax(box.maxY, points[i].y);
    }
    Vec2 centre = {(box.minX + box.maxX) * 0.5, (box.minY + box.maxY) * 0.5};
    f64 twiceArea = 0;
    Vec2 previous = points[count - 1];
    for (i32 i = 0; i < count; ++i) {
        twiceArea += (previous.x - centre.x) * (points[i].y - centre.y) - (points[i].x - centre.x) * (previous.y - centre.y);
        previous = points[i];
    }
    GeoPoint geo;
    mercatorToLatLng(&geo, &centre);
    f64 metersPerTurn = metersPerDegreeLongitude(geo.latitude) * 360.0;
    return std::fabs(twiceArea) * 0.5 * metersPerTurn * metersPerTurn;
}
