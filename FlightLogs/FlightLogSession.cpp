#include "FlightLogs/FlightLogSession.h"

void updateFlightLogger(FlightLogger* logger, const u8* installationId, Platform* platform, Preferences* preferences,
                        i32 logging, u32 preferencesChanged) {
    (void)installationId;
    (void)platform;
    (void)preferences;
    (void)preferencesChanged;
    if (logging) {
        logger->open = 1;
    } else {
        logger->open = 0;
        logger->highAboveGroundSince = 0;
    }
    logger->registeredEntryCount = 0;
}
