#include "Mission/MissionAltitudes.h"

#include <cmath>

#include "Core/MathEarth.h"
#include "Core/Preferences.h"
#include "Map/ElevationMapLoader.h"

namespace {

bool known(f64 height) { return std::isfinite(height) && height != kUnknownTerrainHeight; }

// Re-snaps with the preferences as they were before and after the change.
void resnap(WaypointMissionEditor* editor, const ElevationMapLoader* elevation, const Preferences* before,
            const Preferences* after) {
    i32 count = editor->waypointCount > kMaxWaypoints ? kMaxWaypoints : editor->waypointCount;
    for (i32 i = lockedWaypointCount(editor); i < count; ++i) {
        Waypoint* w = &editor->waypoints[i];
        f64 ground = groundHeightAt(elevation, Vec2{w->x, w->y});
        f64 old = waypointSnapAltitude(before, ground, editor->takeoffTerrainHeight);
        if (std::fabs(w->altitude - old) <= 0.01) {
            w->altitude = waypointSnapAltitude(after, ground, editor->takeoffTerrainHeight);
        }
    }
}

}  // namespace

f64 waypointSnapAltitude(const Preferences* preferences, f64 groundHeight, f64 takeoffTerrainHeight) {
    f64 aboveGround = preferences->waypointSnapAltitudeAboveGroundLevel;
    if (known(groundHeight) && known(takeoffTerrainHeight)) aboveGround += groundHeight - takeoffTerrainHeight;
    f64 aboveTakeoff = preferences->waypointSnapAltitudeAboveTakeoffLocation;
    switch (preferences->waypointSnapAltitudeMode) {
        case SnapAboveTakeoffLocation: return aboveTakeoff;
        case SnapAboveGroundLevelAndTakeoffLocation: return aboveGround > aboveTakeoff ? aboveGround : aboveTakeoff;
        default: return aboveGround;
    }
}

f64 groundHeightAt(const ElevationMapLoader* elevation, Vec2 position) {
    if (!elevation) return kUnknownTerrainHeight;
    GeoPoint at;
    mercatorToLatLng(&at, &position);
    return getElevation(elevation, at, (f32)kUnknownTerrainHeight);
}

void setWaypointSnapAltitudeAgl(f64 metres, WaypointMissionEditor* editor, const ElevationMapLoader* elevation,
                                Preferences* preferences) {
    Preferences before = *preferences;
    preferences->waypointSnapAltitudeAboveGroundLevel = metres;
    resnap(editor, elevation, &before, preferences);
}

void setWaypointSnapAltitudeAboveTakeoff(f64 metres, WaypointMissionEditor* editor,
                                         const ElevationMapLoader* elevation, Preferences* preferences) {
    Preferences before = *preferences;
    preferences->waypointSnapAltitudeAboveTakeoffLocation = metres;
    resnap(editor, elevation, &before, preferences);
}
