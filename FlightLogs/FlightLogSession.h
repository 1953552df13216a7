// What the application update decides and hands to the flight-log writer each frame: the logger with
// the words kept beside it, the records registered for this frame, and the flight-log list with the
// viewer's replay copies. For now the writer only opens and closes the logger and the list does
// nothing; the log file writer and the log list replace this.
#pragma once
#include "Drone/VehicleState.h"
#include "FlightLogs/FlightLogger.h"
#include "Mission/MissionSteps.h"

struct Platform;
struct Preferences;
struct FileJobTable;
struct FileReadTable;
struct JobQueue;
struct ImageSlotTable;

constexpr u32 kMaxRegisteredLogRecords = 128;

struct FlightLogSession {
    u32 forceLogging;  // nonzero keeps a log open whatever the flight state
    FlightLogger logger;
    FileJobTable* fileSystem;  // set on the first frame
    i64 highAboveGroundSince;  // monotonic us; 0 = not set; cleared whenever logging is off
    u32 registeredCount;
    const void* registered[kMaxRegisteredLogRecords];
};

struct FlightLogList {
    u32 viewerLoaded;  // the flight-log viewer has a log loaded
    VehicleState replayVehicle;
    WaypointMissionEditor replayMission;
    TransectRegion replayTransect;
};

// Opens a log when logging turns on and closes it when it turns off (clearing highAboveGroundSince
// and the registered records); the registered records are cleared after every frame.
void updateFlightLogger(FlightLogSession* session, const u8* installationId, Platform* platform,
                        Preferences* preferences, i32 logging, u32 preferencesChanged);
void updateFlightLogList(FlightLogList* list, FileReadTable* reads, JobQueue* jobQueue, ImageSlotTable* slots);
