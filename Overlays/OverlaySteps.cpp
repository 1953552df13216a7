#include "Overlays/OverlaySteps.h"

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
