// What the application update hands to the flight-log writer each frame, and the flight-log list with
// the viewer's replay copies. For now the writer only opens and closes the logger and the list does
// nothing; the log file writer and the log list replace this.
#pragma once
#include "Drone/VehicleState.h"
#include "FlightLogs/FlightLogger.h"
#include "Mission/MissionSteps.h"

struct Platform;
struct Preferences;
struct FileReadTable;
struct JobQueue;
struct ImageSlotTable;

struct FlightLogList {
    u32 viewerLoaded;  // the flight-log viewer has a log loaded
    VehicleState replayVehicle;
    WaypointMissionEditor replayMission;
    TransectRegion replayTransect;
};

// Opens a log when logging turns on and closes it when it turns off (clearing highAboveGroundSince);
// the registered entries are emptied after every call.
void updateFlightLogger(FlightLogger* logger, const u8* installationId, Platform* platform, Preferences* preferences,
                        i32 logging, u32 preferencesChanged);
void updateFlightLogList(FlightLogList* list, FileReadTable* reads, JobQueue* jobQueue, ImageSlotTable* slots);
