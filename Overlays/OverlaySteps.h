// The overlay records and per-frame steps that the application update hands on: the overlay list,
// the exported-KMZ list, KMZ import into the editor and the vector overlay loader. For now these
// steps do nothing; the overlay subsystem replaces this. The raster overlay loader is in
// RasterOverlayLoader.h.
#pragma once
#include "Core/FixedString.h"
#include "Overlays/RasterOverlayLoader.h"

struct FileReadTable;
struct FileReadRequest;
struct FileJobTable;
struct DownloadPool;
struct JobQueue;
struct ImageSlotTable;
struct Preferences;

struct OverlayList {
    u32 state;
};
struct ExportedKmzList {
    u32 state;
};
struct KmzEditor {
    u32 state;
};
struct VectorOverlayLoader {
    u32 state;
};

void updateOverlayList(OverlayList* list, FileReadTable* reads, ImageSlotTable* slots, u8* scratch, u64 scratchSize);
void updateExportedKmzList(ExportedKmzList* list, FileReadTable* reads, ImageSlotTable* slots);
void importKmzIntoKmzEditor(FileReadRequest** pendingRead, KmzEditor* editor, FixedString* importName, u32 importMode,
                            FileReadTable* reads);
void updateVectorOverlayLoader(FileReadTable* reads, FileJobTable* jobs, DownloadPool* downloads, JobQueue* jobQueue,
                               FileReadRequest** pendingPick, Preferences* preferences, ImageSlotTable* slots,
                               u8* scratch, u64 scratchSize);
