#include "FlightLogs/FlightLogSession.h"

void updateFlightLogger(FlightLogSession* session, const u8* installationId, Platform* platform,
                        Preferences* preferences, i32 logging, u32 preferencesChanged) {
    (void)installationId;
    (void)platform;
    (void)preferences;
    (void)preferencesChanged;
    if (logging) {
        session->logger.open = 1;
    } else {
        session->logger.open = 0;
        session->highAboveGroundSince = 0;
    }
    session->registeredCount = 0;
}

void updateFlightLogList(FlightLogList* list, FileReadTable* reads, JobQueue* jobQueue, ImageSlotTable* slots) {
    (void)list;
    (void)reads;
    (void)jobQueue;
    (void)slots;
}
