// The overlay records and per-frame steps that the application update hands on: the overlay list,
// the exported-KMZ list and KMZ import into the editor. For now these steps do nothing; the overlay
// subsystem replaces them. The vector overlay loader is in VectorOverlayLoader.h, the raster overlay
// loader in RasterOverlayLoader.h.
#pragma once
#include "Core/FixedString.h"
#include "Overlays/RasterOverlayLoader.h"
#include "Overlays/VectorOverlayLoader.h"

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

void updateOverlayList(OverlayList* list, FileReadTable* reads, ImageSlotTable* slots, u8* scratch, u64 scratchSize);
