#include "Overlays/OverlaySteps.h"

void updateOverlayList(OverlayList* list, FileReadTable* reads, ImageSlotTable* slots, u8* scratch, u64 scratchSize) {
    (void)list;
    (void)reads;
    (void)slots;
    (void)scratch;
    (void)scratchSize;
}
