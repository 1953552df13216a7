// The one vector overlay that the maps may show: its per-frame step follows the selected name, reads
// the file from "Overlays/" (or takes a file the operator picked), parses it on the job worker,
// uploads and downloads its icons, and writes its cache once every icon is settled.
#pragma once
#include "Core/OverlaySelection.h"
#include "Overlays/OverlayGeometry.h"
#include "Overlays/VectorOverlay.h"

struct FileReadRequest;
struct FileReadTable;
struct FileJobTable;
struct JobQueue;
struct ImageSlotTable;
struct DownloadPool;
struct DownloadSlot;

constexpr u32 kMarkerDownloads = 5;
constexpr u64 kOverlayFileMaxBytes = 1000000000;
constexpr u64 kMarkerImageMaxBytes = 20000000;

enum OverlayJobState : u32 {
    OverlayJobIdle = 0,
    OverlayJobRunning = 1,  // the worker owns the loader but for the request pointer
    OverlayJobFinished = 2,
};

struct MarkerDownloads {
    DownloadSlot* slots[kMarkerDownloads];
    u32 count;
};

// What the maps have handed to the renderer of the loaded overlay's geometry: a geometry slot per
// band and one for the fills, and the memory those were made from, which the maps took over from
// the geometry and free when it changes. Main thread only.
struct OverlayGpu {
    u32 generation;  // of the geometry the slots were made from; 0: none
    i32 bandSlots[kOverlayMaxBands];
    i32 fillSlot;
    OverlayGeometry taken;  // the geometry as it was taken over
};

struct VectorOverlayLoader {
    FileReadRequest* request;  // the read in flight, null when none
    u32 jobState;              // OverlayJobState, written last by the job
    FixedString failedName;    // the selected name whose read or parse failed; not retried while selected
    FixedString message;       // the last failure, for the Overlays screen
    u32 importFailed;          // the failure is a picked file's: kept until the next pick
    u32 cacheNeeded;           // write the cache once the icons are settled
    u64 sourceTime;            // modification time of the file read, milliseconds since 1601
    FixedString name;          // the loaded overlay's file name
    u32 state;                 // 1 loaded
    u32 importMarker;          // 1 when the request is a file the operator picked (its cache goes to "Overlays/")
    VectorOverlay overlay;
    MarkerDownloads downloads;
    OverlayGeometry geometry;  // made by the job from the overlay
    OverlayGpu gpu;
};

// The per-frame step. pendingPick, when it holds a finished picker request, is taken over (and set
// to null) once the loader is idle.
void updateVectorOverlayLoader(VectorOverlayLoader* loader, const OverlaySelection* selection, FileReadTable* reads,
                               FileJobTable* jobs, JobQueue* jobQueue, ImageSlotTable* slots, DownloadPool* downloads,
                               FileReadRequest** pendingPick);

// The job on the worker: reads the finished request by its name's extension (".kml", ".kmz",
// ".kmlbin", ".kmzbin", case ignored), makes the overlay's geometry for the GPU, and sets the
// loader's state, name, cache flag or failure, and jobState = 2 last. The argument is the loader.
i64 loadOverlayFile(void* argument);

// One step of the icon downloads: settles finished downloads (decoding into the pixel store and
// claiming image slots) and starts new ones for icons in state 0, at most five at a time.
void downloadMarkerImages(MarkerDownloads* list, VectorOverlay* overlay, ImageSlotTable* slots, DownloadPool* pool);

// Gives back every download in flight, every image slot the overlay holds, its segment store and the
// geometry nobody took (at the program's end).
void releaseVectorOverlayLoader(VectorOverlayLoader* loader, FileReadTable* reads, ImageSlotTable* slots,
                                DownloadPool* downloads);
