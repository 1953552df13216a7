#include "Mission/MissionFlightLog.h"

#include "Core/MathEarth.h"

namespace {

void appendPosition(f64 x, f64 y, ByteWriter* writer) {
    Vec2 mercator{x, y};
    GeoPoint point;
    mercatorToLatLng(&point, &mercator);
    appendF64Le(point.latitude, writer);
    appendF64Le(point.longitude, writer);
}

i32 heldCount(i32 count, i32 limit) { return count < 0 ? 0 : (count > limit ? limit : count); }

}  // namespace

void logWaypointMissionStarted(FlightLogger* logger, i64 time, const WaypointMissionEditor* mission,
                               const TransectRegion* transect, const Preferences* preferences) {
    if (!logger || !mission || !preferences || logger->logFileName.length == 0) return;
    u8 bytes[kStartedMissionPayloadBytes];
    ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
    i32 waypoints = heldCount(mission->waypointCount, kMaxWaypoints);
    appendU8(kLoggedWaypointBytes, &writer);
    appendU8(static_cast<u8>(waypoints), &writer);
    for (i32 i = 0; i < waypoints; i++) {
        const Waypoint* waypoint = &mission->waypoints[i];
        appendPosition(waypoint->x, waypoint->y, &writer);
        appendF64Le(waypoint->altitude, &writer);
        appendU32Le(static_cast<u32>(waypoint->missionItemNumber), &writer);
        appendU8(waypoint->ignitePreviousSegment ? 1 : 0, &writer);
    }
    i32 corners = transect ? heldCount(transect->pointCount, kMaxTransectPoints) : 0;
    appendU8(kLoggedTransectPointBytes, &writer);
    appendU8(static_cast<u8>(corners), &writer);
    for (i32 i = 0; i < corners; i++) appendPosition(transect->points[i].x, transect->points[i].y, &writer);
    appendF64Le(mission->referenceLatitude, &writer);
    appendF64Le(mission->referenceLongitude, &writer);
    appendF64Le(preferences->waypointMissionCruiseSpeed, &writer);
    appendF64Le(preferences->waypointCurveRange, &writer);
    appendU32Le(preferences->waypointSnapAltitudeMode, &writer);
    appendF64Le(preferences->waypointSnapAltitudeAboveGroundLevel, &writer);
    appendF64Le(preferences->waypointSnapAltitudeAboveTakeoffLocation, &writer);
    appendU32Le(preferences->verticalFlightPathToFirstWaypoint, &writer);
    appendF64Le(preferences->orvikDropSpacing, &writer);
    appendU32Le(preferences->transectUsage, &writer);
    appendF64Le(preferences->transectZigZagHeading, &writer);
    appendF64Le(preferences->transectSpacing, &writer);
    appendF64Le(preferences->transectOvershootDistance, &writer);
    addFlightLogEntry(logger, time, FlightLogStartedMission, bytes, writer.length);
}
