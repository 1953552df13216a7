// The flight-log list with the viewer's replay copies of the vehicle, the mission and the transect.
// For now the list does nothing; the log list and its replay replace this. Replay drives the same
// records the live drone link fills, so it sits above the drone link.
#pragma once
#include "Drone/Mavlink/VehicleState.h"
#include "Mission/MissionSteps.h"

struct FileReadTable;
struct JobQueue;
struct ImageSlotTable;

struct FlightLogList {
    u32 viewerLoaded;  // the flight-log viewer has a log loaded
    VehicleState replayVehicle;
    WaypointMissionEditor replayMission;
    TransectRegion replayTransect;
};

void updateFlightLogList(FlightLogList* list, FileReadTable* reads, JobQueue* jobQueue, ImageSlotTable* slots);
