#include "Overlays/OverlaySteps.h"

void updateOverlayList(OverlayList* list, FileReadTable* reads, ImageSlotTable* slots, u8* scratch, u64 scratchSize) {
    (void)list;
    (void)reads;
    (void)slots;
    (void)scratch;
    (void)scratchSize;
}

void updateExportedKmzList(ExportedKmzList* list, FileReadTable* reads, ImageSlotTable* slots) {
    (void)list;
    (void)reads;
    (void)slots;
}

void importKmzIntoKmzEditor(FileReadRequest** pendingRead, KmzEditor* editor, FixedString* importName, u32 importMode,
                            FileReadTable* reads) {
    (void)pendingRead;
    (void)editor;
    (void)importName;
    (void)importMode;
    (void)reads;
}
