#include "Mission/MissionSteps.h"

#include <cmath>

#include "Mavlink/VehicleState.h"
#include "Map/ElevationMapLoader.h"

void rebaseWaypointAltitudes(WaypointMissionEditor* editor, VehicleState* vehicle, ElevationMapLoader* loader) {
    if (!editor || !vehicle || !loader) return;
    bool takeoffKnown = vehicle->secondPositionSelected && vehicle->secondPosition.time != 0;
    if (vehicle->home.time == 0 && !takeoffKnown) return;
    LongitudeLatitude reference = vehiclePosition(vehicle);
    f32 ground = getElevation(loader, GeoPoint{reference.longitude, reference.latitude}, (f32)kUnknownTerrainHeight);
    if (!std::isfinite(ground) || (f64)ground == kUnknownTerrainHeight) return;
    f64 old = editor->takeoffTerrainHeight;
    if ((f64)ground == old && editor->referenceLongitude == reference.longitude &&
        editor->referenceLatitude == reference.latitude) {
        return;
    }
    // Altitudes are above the take-off ground: when that ground rises, they come down by as much,
    // so that every waypoint keeps its height above sea level.
    if (std::isfinite(old) && old != kUnknownTerrainHeight && (f64)ground != old) {
        i32 count = editor->waypointCount > kMaxWaypoints ? kMaxWaypoints : editor->waypointCount;
        for (i32 i = lockedWaypointCount(editor); i < count; ++i) editor->waypoints[i].altitude += old - (f64)ground;
    }
    editor->takeoffTerrainHeight = (f64)ground;
    editor->referenceLongitude = reference.longitude;
    editor->referenceLatitude = reference.latitude;
}
