#include "FlightLogs/FlightLogger.h"

void addFlightLogEntry(FlightLogger* logger, u64 time, u8 type, const void* data, i64 length) {
    (void)time;
    (void)data;
    if (!logger || !logger->open || length < 0) {
        return;
    }
    logger->entries++;
    logger->bytes += (u64)length;
    if (type < kFlightLogEntryTypes) {
        logger->entriesByType[type]++;
    }
}

i32 registerFlightLogEntry(FlightLogger* logger, const FlightLogEntryRecord* entry) {
    if (!logger || !entry || !entry->payload.data || logger->registeredEntryCount >= kMaxRegisteredLogEntries) {
        return 0;
    }
    logger->registeredEntries[logger->registeredEntryCount++] = entry;
    return 1;
}
