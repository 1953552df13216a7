// What the application update hands to the flight-log writer each frame. For now the writer only
// opens and closes the logger; the log file writer replaces this. The replay of a log lives in
// FlightLogReplay/, above the drone link.
#pragma once
#include "FlightLogs/FlightLogger.h"

struct Platform;
struct Preferences;

// Opens a log when logging turns on and closes it when it turns off (clearing highAboveGroundSince);
// the registered entries are emptied after every call.
void updateFlightLogger(FlightLogger* logger, const u8* installationId, Platform* platform, Preferences* preferences,
                        i32 logging, u32 preferencesChanged);
