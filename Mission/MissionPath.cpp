#include "Mission/MissionPath.h"

#include <cmath>

#include "Core/MathEarth.h"
#include "Core/Preferences.h"
#include "Mavlink/VehicleState.h"
#include "Map/ElevationMapLoader.h"

namespace {

constexpr f64 kClimbSpeed = 6.0;    // m/s, the mission's vertical speed limits
constexpr f64 kDescentSpeed = 3.0;  // m/s

f64 horizontalMetres(Vec2 a, Vec2 b) {
    GeoPoint ga, gb;
    mercatorToLatLng(&ga, &a);
    mercatorToLatLng(&gb, &b);
    return std::sqrt(geoDistanceSquared(&ga, &gb));
}

void addPoint(MissionPath* path, Vec2 position, f64 altitude, u32 checked, u32 ignited, i32 waypoint) {
    if (path->count >= kMaxMissionPathPoints) return;
    MissionPathPoint* point = &path->points[path->count];
    *point = MissionPathPoint{};
    point->position = position;
    point->altitude = altitude;
    point->checked = checked;
    point->ignited = ignited;
    point->waypoint = waypoint;
    if (path->count > 0) {
        const MissionPathPoint* before = &path->points[path->count - 1];
        point->position.x = wrapNear(position.x, before->position.x);
        point->distance = before->distance + horizontalMetres(before->position, point->position);
    }
    path->count++;
}

bool vehicleFlying(const VehicleState* vehicle) {
    return vehicle && vehicle->globalPosition.time != 0 && vehicle->flightPhase >= 2;
}

bool takeoffHeightKnown(const WaypointMissionEditor* editor) {
    return std::isfinite(editor->takeoffTerrainHeight) && editor->takeoffTerrainHeight != kUnknownTerrainHeight;
}

bool nearAcknowledged(const WaypointMissionEditor* editor, Vec2 position, f64 step) {
    i32 count = editor->acknowledgedLowSpotCount;
    if (count > kMaxAcknowledgedLowSpots) count = kMaxAcknowledgedLowSpots;
    for (i32 i = 0; i < count; ++i) {
        if (horizontalMetres(editor->acknowledgedLowSpots[i], position) <= step * 1.000001) return true;
    }
    return false;
}

}  // namespace

void buildMissionPath(MissionPath* out, const WaypointMissionEditor* editor, const VehicleState* vehicle,
                      const Preferences* preferences) {
    out->count = 0;
    out->totalDistance = 0;
    i32 count = editor->waypointCount < 0 ? 0 : editor->waypointCount > kMaxWaypoints ? kMaxWaypoints
                                                                                        : editor->waypointCount;
    if (count == 0) return;
    const Waypoint* first = &editor->waypoints[0];
    Vec2 firstPosition = {first->x, first->y};
    Vec2 start = firstPosition;
    f64 startAltitude = 0;
    if (vehicleFlying(vehicle)) {
        GeoPoint here = {vehicle->globalPosition.longitude + vehicle->longitudeOffset,
                         vehicle->globalPosition.latitude + vehicle->latitudeOffset};
        latLngToMercator(&start, &here);
        startAltitude = vehicle->globalPosition.relativeAltitude + vehicle->altitudeOffset;
    } else if (editor->referenceLongitude != 0 || editor->referenceLatitude != 0) {
        GeoPoint reference = {editor->referenceLongitude, editor->referenceLatitude};
        latLngToMercator(&start, &reference);
    }
    u32 firstChecked = first->uploadMark == 0;
    addPoint(out, start, startAltitude, 0, 0, -1);
    bool safePath = !preferences || preferences->verticalFlightPathToFirstWaypoint == VerticalFlightPathSafe;
    bool straight = true;
    if (safePath && startAltitude > first->altitude + 1.0) {
        addPoint(out, firstPosition, startAltitude, firstChecked, 0, -1);
        straight = false;
    } else if (safePath && startAltitude < first->altitude - 1.0) {
        addPoint(out, start, first->altitude, firstChecked, 0, -1);
        out->points[out->count - 1].climb = 1;
        straight = false;
    }
    addPoint(out, firstPosition, first->altitude, firstChecked, 0, 0);
    if (straight && first->altitude > startAltitude) out->points[out->count - 1].climb = 1;
    for (i32 i = 1; i < count; ++i) {
        const Waypoint* w = &editor->waypoints[i];
        addPoint(out, Vec2{w->x, w->y}, w->altitude, w->uploadMark == 0, w->ignitePreviousSegment != 0, i);
    }
    out->totalDistance = out->points[out->count - 1].distance;
}

f64 missionPathStep(const MissionPath* path) {
    f64 step = path->totalDistance / kPathStepsPerMission;
    return step > kMinimumPathStep ? step : kMinimumPathStep;
}

MissionPathPlace missionPathPlaceAt(const MissionPath* path, f64 distance, i32* leg) {
    MissionPathPlace place = {};
    if (path->count == 0) return place;
    if (path->count == 1) {
        place.position = path->points[0].position;
        place.altitude = path->points[0].altitude;
        return place;
    }
    i32 i = *leg < 1 ? 1 : *leg;
    if (i >= path->count) i = path->count - 1;
    // Move on to the last leg of positive length that starts at or before the distance.
    for (i32 next = i + 1; next < path->count; ++next) {
        const MissionPathPoint* a = &path->points[next - 1];
        const MissionPathPoint* b = &path->points[next];
        if (a->distance > distance) break;
        if (b->distance > a->distance) i = next;
    }
    *leg = i;
    const MissionPathPoint* a = &path->points[i - 1];
    const MissionPathPoint* b = &path->points[i];
    f64 length = b->distance - a->distance;
    f64 t = length > 0 ? (distance - a->distance) / length : 1.0;
    if (t < 0) t = 0;
    if (t > 1) t = 1;
    place.position = Vec2{a->position.x + (b->position.x - a->position.x) * t,
                          a->position.y + (b->position.y - a->position.y) * t};
    place.position.x = wrapNear(place.position.x, 0);
    place.altitude = a->altitude + (b->altitude - a->altitude) * t;
    place.leg = i;
    place.checked = b->checked;
    place.climb = b->climb && t < 1;
    return place;
}

void beginMissionWalk(MissionWalk* walk, const MissionPath* path, const WaypointMissionEditor* editor,
                      const ElevationMapLoader* elevation, const Preferences* preferences) {
    *walk = MissionWalk{};
    walk->path = path;
    walk->editor = editor;
    walk->elevation = elevation;
    walk->clearance = preferences ? preferences->lowAltitudeWarning : 0;
    walk->step = missionPathStep(path);
    walk->leg = 0;
    if (path->count == 0) return;
    i64 steps = (i64)std::ceil(path->totalDistance / walk->step - 1e-9);
    walk->count = (steps < 0 ? 0 : steps) + 1;
}

namespace {

// The distance of the next even step, or infinity after the last.
f64 nextStepDistance(const MissionWalk* walk) {
    if (walk->index >= walk->count) return INFINITY;
    f64 total = walk->path->totalDistance;
    f64 distance = (f64)walk->index * walk->step;
    return distance > total || walk->index == walk->count - 1 ? total : distance;
}

// The next path point that stands at a waypoint, or -1.
i32 nextWaypointPoint(MissionWalk* walk) {
    const MissionPath* path = walk->path;
    while (walk->nextPoint < path->count && path->points[walk->nextPoint].waypoint < 0) walk->nextPoint++;
    return walk->nextPoint < path->count ? walk->nextPoint : -1;
}

// The two samples fall on one place when closer than this (metres).
constexpr f64 kSameDistance = 1e-6;

}  // namespace

u32 nextMissionSample(MissionWalk* walk, MissionSample* sample, LowSpotRun* closed, u32* closedRun) {
    *closedRun = 0;
    f64 stepDistance = nextStepDistance(walk);
    i32 point = nextWaypointPoint(walk);
    f64 pointDistance = point >= 0 ? walk->path->points[point].distance : INFINITY;
    if (std::isinf(stepDistance) && point < 0) {
        if (walk->inRun) {
            *closed = walk->run;
            *closedRun = 1;
            walk->inRun = 0;
        }
        return 0;
    }
    *sample = MissionSample{};
    sample->ground = NAN;
    sample->waypoint = -1;
    bool checked;
    bool spared = false;
    if (point >= 0 && pointDistance <= stepDistance + kSameDistance) {
        // A waypoint, at its own altitude: never spared.
        const MissionPathPoint* at = &walk->path->points[point];
        sample->distance = at->distance;
        sample->position = at->position;
        sample->position.x = wrapNear(sample->position.x, 0);
        sample->altitude = at->altitude;
        sample->waypoint = at->waypoint;
        checked = at->checked != 0;
        walk->nextPoint++;
        if (stepDistance <= pointDistance + kSameDistance) walk->index++;
    } else {
        MissionPathPlace place = missionPathPlaceAt(walk->path, stepDistance, &walk->leg);
        sample->distance = stepDistance;
        sample->position = place.position;
        sample->altitude = place.altitude;
        checked = place.checked != 0;
        spared = place.climb != 0;
        walk->index++;
    }
    if (takeoffHeightKnown(walk->editor) && walk->elevation) {
        GeoPoint at;
        mercatorToLatLng(&at, &sample->position);
        f32 height = getElevation(walk->elevation, at, NAN);
        if (std::isfinite(height)) sample->ground = (f64)height - walk->editor->takeoffTerrainHeight;
    }
    bool below = std::isfinite(sample->ground) && sample->altitude - sample->ground < walk->clearance;
    sample->low = below && checked && !spared;
    if (sample->low) {
        u32 near = nearAcknowledged(walk->editor, sample->position, walk->step);
        if (!walk->inRun) {
            walk->inRun = 1;
            walk->run = LowSpotRun{};
            walk->run.first = *sample;
        }
        walk->run.last = *sample;
        walk->run.acknowledged |= near;
    } else if (walk->inRun) {
        *closed = walk->run;
        *closedRun = 1;
        walk->inRun = 0;
    }
    return 1;
}

i32 isWaypointMissionSafe(WaypointMissionEditor* editor, const ElevationMapLoader* elevation,
                          Preferences* preferences, VehicleState* vehicle) {
    MissionPath path;
    buildMissionPath(&path, editor, vehicle, preferences);
    MissionWalk walk;
    beginMissionWalk(&walk, &path, editor, elevation, preferences);
    MissionSample sample;
    LowSpotRun run;
    u32 closed = 0;
    bool more = true;
    while (more) {
        more = nextMissionSample(&walk, &sample, &run, &closed) != 0;
        if (closed && !run.acknowledged) {
            editor->lowSpot = LowSpot{run.first.distance - walk.step, walk.step, run.first.altitude};
            editor->safetyCheckResult = 0;
            return 0;
        }
    }
    editor->safetyCheckResult = 1;
    return 1;
}

u32 acknowledgeLowSpot(WaypointMissionEditor* editor, Vec2 position) {
    if (editor->acknowledgedLowSpotCount < 0) editor->acknowledgedLowSpotCount = 0;
    if (editor->acknowledgedLowSpotCount >= kMaxAcknowledgedLowSpots) return 0;
    editor->acknowledgedLowSpots[editor->acknowledgedLowSpotCount++] = position;
    return 1;
}

MissionStats* calculateMissionStats(MissionStats* out, WaypointMissionEditor* editor, VehicleState* vehicle,
                                    Preferences* preferences) {
    *out = MissionStats{};
    MissionPath path;
    buildMissionPath(&path, editor, vehicle, preferences);
    f64 cruise = preferences ? preferences->waypointMissionCruiseSpeed : 0;
    f64 spacing = 0;
    if (preferences) {
        spacing = preferences->orvikDropSpacing;
        f64 byPeriod = cruise * preferences->orvikMaxDropPeriod;
        if (std::isfinite(byPeriod) && byPeriod > 0 && byPeriod < spacing) spacing = byPeriod;
    }
    f64 ignitedLength = 0;
    for (i32 i = 1; i < path.count; ++i) {
        const MissionPathPoint* a = &path.points[i - 1];
        const MissionPathPoint* b = &path.points[i];
        f64 length = b->distance - a->distance;
        f64 rise = b->altitude - a->altitude;
        f64 seconds = cruise > 0 && std::isfinite(cruise) ? length / cruise : 0;
        f64 vertical = rise > 0 ? rise / kClimbSpeed : -rise / kDescentSpeed;
        out->durationS += seconds > vertical ? seconds : vertical;
        if (b->ignited) {
            ignitedLength += length;
            if (spacing > 0 && std::isfinite(spacing)) out->spheres += (i64)std::floor(length / spacing);
        }
    }
    out->averageSpacingM = out->spheres > 0 ? ignitedLength / (f64)out->spheres : 0;
    return out;
}
