// Earth and Web-Mercator helpers. Geographic pairs are {longitude, latitude} in degrees; map
// positions are normalised Web-Mercator {x, y} in turns: x = longitude / 360 kept within
// [-0.5, 0.5], y = ln(tan(π/4 + latitude/2)) / 2π.
#pragma once
#include "Core/GeometryTypes.h"
#include "Core/Types.h"

// Metres per degree of latitude and of longitude at a latitude (degrees); never negative.
f64 metersPerDegreeLatitude(f64 latitude);
f64 metersPerDegreeLongitude(f64 latitude);

// Squared ground distance in m² between two geographic points by the local metres-per-degree at
// their mean latitude. First moves b's longitude by whole turns into (a.lon - 180, a.lon + 180] and
// stores it back into b.
f64 geoDistanceSquared(const GeoPoint* a, GeoPoint* b);

void mercatorToLatLng(GeoPoint* out, const Vec2* mercator);
void latLngToMercator(Vec2* out, const GeoPoint* geo);

// Turns (x of a map position) to degrees of longitude within [-180, 180].
f64 turnsToDegreesLongitude(f64 turns);
// A longitude in degrees as turns within half a turn of a reference in turns.
f64 wrapLongitudeTurns(f64 longitude, f64 referenceTurns);
// A value moved by whole units into [reference - 0.5, reference + 0.5].
f64 wrapNear(f64 value, f64 reference);
// A longitude moved by whole turns of 360 into (reference - 180, reference + 180].
f64 wrapLongitudeNear(f64 longitude, f64 reference);

// Area in m² of a region drawn as map positions (the closing edge included); 0 below 3 points.
f64 computeRegionArea(const Vec2* points, i32 count);
