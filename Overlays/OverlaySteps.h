// The overlay records and per-frame steps that the application update hands on: the overlay list,
// the exported-KMZ list, KMZ import into the editor and the raster overlay loader. For now these
// steps do nothing; the overlay subsystem replaces them. The vector overlay loader is in
// VectorOverlayLoader.h.
#pragma once
#include "Core/FixedString.h"
#include "Overlays/VectorOverlayLoader.h"

struct FileReadTable;
struct FileReadRequest;
struct FileJobTable;
struct PdfPageTable;
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
struct RasterOverlayLoader {
    u32 state;
};

void updateOverlayList(OverlayList* list, FileReadTable* reads, ImageSlotTable* slots, u8* scratch, u64 scratchSize);
void updateExportedKmzList(ExportedKmzList* list, FileReadTable* reads, ImageSlotTable* slots);
void importKmzIntoKmzEditor(FileReadRequest** pendingRead, KmzEditor* editor, FixedString* importName, u32 importMode,
                            FileReadTable* reads);
void updateRasterOverlayLoader(FileReadTable* reads, FileJobTable* jobs, PdfPageTable* pages, JobQueue* jobQueue,
                               RasterOverlayLoader* loader, Preferences* preferences, ImageSlotTable* slots);
