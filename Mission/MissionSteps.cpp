#include "Mission/MissionSteps.h"

void rebaseWaypointAltitudes(WaypointMissionEditor* editor, VehicleState* vehicle, ElevationMapLoader* loader) {
    (void)editor;
    (void)vehicle;
    (void)loader;
}
