#include "FlightLogReplay/FlightLogList.h"

void updateFlightLogList(FlightLogList* list, FileReadTable* reads, JobQueue* jobQueue, ImageSlotTable* slots) {
    (void)list;
    (void)reads;
    (void)jobQueue;
    (void)slots;
}
