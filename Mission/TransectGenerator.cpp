#include "Mission/TransectGenerator.h"

#include <cmath>

#include "Core/Format.h"
#include "Core/Geometry.h"
#include "Core/MathEarth.h"
#include "Core/Preferences.h"
#include "Mission/MissionAltitudes.h"
#include "Mission/WaypointUndo.h"

namespace {

constexpr f64 kPi = 3.14159265358979323846;

// East and north metres about a centre, straight lines staying straight on the map: an affine
// frame over Web-Mercator scaled by the metres per turn of x and of y at the centre's latitude.
struct LocalFrame {
    Vec2 centre;
    f64 eastPerTurn, northPerTurn;
};

Vec2 toLocal(const LocalFrame& frame, Vec2 mercator) {
    return Vec2{(wrapNear(mercator.x, frame.centre.x) - frame.centre.x) * frame.eastPerTurn,
                (mercator.y - frame.centre.y) * frame.northPerTurn};
}

Vec2 toMercator(const LocalFrame& frame, Vec2 local) {
    return Vec2{wrapNear(frame.centre.x + local.x / frame.eastPerTurn, 0),
                frame.centre.y + local.y / frame.northPerTurn};
}

// The part of the region beyond the cut (offsets across the lines above it), clipped as one ring
// (Sutherland-Hodgman).
void cutRegion(TransectShortfall* shortfall, const LocalFrame& frame, const Vec2* local, i32 count, Vec2 across,
               f64 cut) {
    i32 out = 0;
    for (i32 i = 0; i < count; ++i) {
        Vec2 a = local[i], b = local[(i + 1) % count];
        f64 fa = a.x * across.x + a.y * across.y - cut;
        f64 fb = b.x * across.x + b.y * across.y - cut;
        if (fa > 0) shortfall->uncovered[out++] = toMercator(frame, a);
        if ((fa > 0) != (fb > 0)) {
            f64 t = fa / (fa - fb);
            shortfall->uncovered[out++] = toMercator(frame, Vec2{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t});
        }
    }
    shortfall->uncoveredCount = out >= 3 ? out : 0;
}

}  // namespace

u64 transectRegionKey(const TransectRegion* region) {
    i32 count = region->pointCount > kMaxTransectPoints ? kMaxTransectPoints : region->pointCount;
    u64 key = 14695981039346656037ull;
    auto add = [&key](const void* bytes, u64 length) {
        for (u64 i = 0; i < length; ++i) key = (key ^ ((const u8*)bytes)[i]) * 1099511628211ull;
    };
    add(&count, sizeof(count));
    if (count > 0) add(region->points, sizeof(Vec2) * (u64)count);
    return key;
}

i32 transectLines(const TransectRegion* region, const Preferences* preferences, Vec2 (*ends)[2], i32 maxLines,
                  TransectShortfall* shortfall) {
    if (shortfall) {
        shortfall->remainingLines = 0;
        shortfall->uncoveredCount = 0;
    }
    i32 count = region->pointCount > kMaxTransectPoints ? kMaxTransectPoints : region->pointCount;
    f64 heading = preferences->transectZigZagHeading;
    f64 spacing = preferences->transectSpacing;
    f64 overshoot = preferences->transectOvershootDistance;
    if (count < 3 || !std::isfinite(heading) || !std::isfinite(spacing) || !std::isfinite(overshoot) ||
        spacing <= 0) {
        return 0;
    }
    if (overshoot < 0) overshoot = 0;

    // The frame's centre: the middle of the region's bounding box.
    Vec2 first = region->points[0];
    f64 west = first.x, east = first.x, south = first.y, north = first.y;
    for (i32 i = 1; i < count; ++i) {
        f64 x = wrapNear(region->points[i].x, first.x);
        west = std::fmin(west, x);
        east = std::fmax(east, x);
        south = std::fmin(south, region->points[i].y);
        north = std::fmax(north, region->points[i].y);
    }
    LocalFrame frame;
    frame.centre = Vec2{(west + east) / 2, (south + north) / 2};
    GeoPoint centre;
    mercatorToLatLng(&centre, &frame.centre);
    f64 degreesPerTurnY = 360.0 * std::cos(centre.latitude * kPi / 180.0);
    frame.eastPerTurn = 360.0 * metersPerDegreeLongitude(centre.latitude);
    frame.northPerTurn = degreesPerTurnY * metersPerDegreeLatitude(centre.latitude);
    if (!(frame.eastPerTurn > 0) || !(frame.northPerTurn > 0)) return 0;

    Vec2 local[kMaxTransectPoints];
    for (i32 i = 0; i < count; ++i) local[i] = toLocal(frame, region->points[i]);
    f64 radians = heading * kPi / 180.0;
    Vec2 along = {std::sin(radians), std::cos(radians)};
    Vec2 across = {along.y, -along.x};
    f64 low = INFINITY, high = -INFINITY;
    for (i32 i = 0; i < count; ++i) {
        f64 offset = local[i].x * across.x + local[i].y * across.y;
        low = std::fmin(low, offset);
        high = std::fmax(high, offset);
    }

    i32 made = 0;
    i32 tried = 0;
    f64 lastOffset = low;
    for (f64 offset = low + spacing / 2; offset < high && made < maxLines; offset = low + spacing * (0.5 + tried)) {
        Line2 line = {Vec2{across.x * offset, across.y * offset}, along};
        Vec2 crossings[2 * kMaxTransectPoints];
        PointList list = {crossings, 2 * kMaxTransectPoints, 0};
        clipPolylineAgainstLine(&line, local, count, &list);
        tried++;
        if (list.count < 2) continue;
        lastOffset = offset;
        f64 start = INFINITY, end = -INFINITY;
        for (i32 i = 0; i < list.count; ++i) {
            f64 t = crossings[i].x * along.x + crossings[i].y * along.y;
            start = std::fmin(start, t);
            end = std::fmax(end, t);
        }
        start -= overshoot;
        end += overshoot;
        // The lines alternate in direction.
        f64 t[2] = {made % 2 ? end : start, made % 2 ? start : end};
        for (i32 e = 0; e < 2; ++e) {
            ends[made][e] = toMercator(frame, Vec2{line.point.x + along.x * t[e], line.point.y + along.y * t[e]});
        }
        made++;
    }
    f64 next = low + spacing * (0.5 + tried);
    if (shortfall && next < high) {
        f64 steps = std::floor((high - next) / spacing);
        i64 remaining = steps > 1e15 ? (i64)1e15 : (i64)steps + 1;
        if (next + spacing * (f64)(remaining - 1) >= high) remaining--;
        shortfall->remainingLines = remaining;
        // Nothing given: all of the region is left out.
        f64 cut = made > 0 ? lastOffset + spacing / 2 : low - spacing;
        if (remaining > 0) cutRegion(shortfall, frame, local, count, across, cut);
    }
    return made;
}

i32 generateWaypointsFromTransects(WaypointMissionEditor* editor, TransectRegion* region,
                                   const ElevationMapLoader* elevation, VehicleState* vehicle,
                                   Preferences* preferences) {
    (void)vehicle;
    region->generateMessage = FixedString{};
    region->uncoveredCount = 0;
    f64 spacing = preferences->transectSpacing;
    if (region->pointCount < 3) {
        region->generateMessage = makeString("Add at least 3 points to the transect region");
        return 0;
    }
    if (!std::isfinite(spacing) || spacing <= 0) {
        region->generateMessage = makeString("Set the transect spacing first");
        return 0;
    }
    if (!std::isfinite(preferences->transectZigZagHeading) || !std::isfinite(preferences->transectOvershootDistance)) {
        region->generateMessage = makeString("Set the transect heading and overshoot first");
        return 0;
    }
    i32 locked = lockedWaypointCount(editor);
    Vec2 ends[kMaxWaypoints / 2][2];
    TransectShortfall shortfall;
    i32 lines = transectLines(region, preferences, ends, (kMaxWaypoints - locked) / 2, &shortfall);
    if (shortfall.remainingLines > 0) {
        region->generateMessage = formatIntInt("Transect needs @ waypoints; @ generated",
                                               2 * ((i64)lines + shortfall.remainingLines), 2 * lines);
        region->uncoveredCount = shortfall.uncoveredCount;
        for (i32 i = 0; i < shortfall.uncoveredCount; ++i) region->uncovered[i] = shortfall.uncovered[i];
        region->uncoveredKey = transectRegionKey(region);
    } else if (lines == 0) {
        region->generateMessage = makeString("The transect region is narrower than the spacing");
    }
    Waypoint generated[kMaxWaypoints];
    i32 made = 0;
    u32 ignite = preferences->transectUsage == TransectIgnition;
    for (i32 l = 0; l < lines; ++l) {
        for (i32 e = 0; e < 2; ++e) {
            Vec2 position = ends[l][e];
            Waypoint* w = &generated[made++];
            *w = Waypoint{};
            do {
                w->id = takeWaypointId(editor);
            } while (findWaypoint(editor, w->id) >= 0 && findWaypoint(editor, w->id) < locked);
            w->x = position.x;
            w->y = position.y;
            w->altitude = waypointSnapAltitude(preferences, groundHeightAt(elevation, position),
                                               editor->takeoffTerrainHeight);
            w->ignitePreviousSegment = e == 1 ? ignite : 0;
        }
    }
    if (made == 0) return 0;
    if (!runNewEdit(&editor->history, generateWaypointsAction, generated, sizeof(Waypoint) * (u64)made).ok) return 0;
    editor->selectedWaypointId = 0;
    return made;
}
