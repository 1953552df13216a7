#include "Mission/MissionSteps.h"

void rebaseWaypointAltitudes(WaypointMissionEditor* editor, VehicleState* vehicle, ElevationMapLoader* loader) {
    (void)editor;
    (void)vehicle;
    (void)loader;
}

void updateMissionList(MissionList* list, FileReadTable* reads) {
    (void)list;
    (void)reads;
}

void applyLoadedMission(FileReadRequest** pendingRead, WaypointMissionEditor* editor, TransectRegion* transect,
                        OrvikGeofence* geofence, ElevationMapLoader* loader, Preferences* preferences,
                        FileReadTable* reads) {
    (void)pendingRead;
    (void)editor;
    (void)transect;
    (void)geofence;
    (void)loader;
    (void)preferences;
    (void)reads;
}
