// The one raster overlay the maps can show: a georeferenced PDF page image with the grid of map
// positions that places it. The per-frame step follows the selected raster overlay file in
// "Overlays/": a ".pdf" is parsed on the job ring, each georeferenced page is rendered by the file
// thread and written as a ".pdfbin" cache (page PNG, corner latitudes/longitudes and a thumbnail);
// a ".pdfbin" is decoded on the job ring and shown.
#pragma once
#include "Core/FixedString.h"
#include "Core/OverlaySelection.h"
#include "Overlays/PdfObjects.h"

struct FileReadRequest;
struct FileReadTable;
struct FileJobTable;
struct RenderedPageTable;
struct RenderedPageSlot;
struct JobQueue;
struct ImageSlotTable;

constexpr u64 kRasterPixelBytes = 64000000;  // the page image buffer
constexpr u64 kRenderedPageBytes = 16000000;  // most a page render may write (RGBA)
constexpr u64 kPdfBinScratchBytes = 48000000;  // the PNG decoder's inflated rows
constexpr u64 kPdfBinThumbnailBytes = 262144;  // RGBA bytes of the thumbnail at most
constexpr u64 kRasterOverlayMaxFileBytes = 1000000000;
constexpr i32 kPdfNoPageYet = 0x7FFFFFFF;

enum RasterOverlayState : u32 {
    RasterOverlayIdle = 0,
    RasterOverlayJobRunning = 1,  // the loading job owns the loader
    RasterOverlayRendering = 2,  // pages of a parsed .pdf are being rendered and written
    RasterOverlayFinishing = 3,
};

struct RasterOverlayLoader {
    FileReadRequest* request;  // the open read of the overlay file, or null
    u32 state;  // RasterOverlayState; the job stores it last
    u32 pad;
    FixedString name;  // the overlay file the loader holds (or failed on)
    FixedString message;  // the last failure, shown by the overlay screens
    PdfGeoResult pdf;  // the georeferenced pages of a .pdf being imported
    i32 currentPage;
    u32 pad2;
    RenderedPageSlot* pendingRender;
    FixedString pdfbinName;  // the last .pdfbin written or loaded: the image shown
    u32 loaded;  // 1 while a page image is registered for drawing
    u32 imageSlot;  // renderer image slot id of the page image, 0 for none
    PdfPageGeo grid;  // the shown page's grid
    u32 width, height, channels;  // of the page image (4 after a render, 3 after a .pdfbin)
    u32 pad3;
    u8* pixels;  // kRasterPixelBytes, reserved on first use
    u64 renderBytes;  // most bytes a page render may write; 0 means kRenderedPageBytes
};

// The per-frame step. The selection's raster overlay name ("Raster overlay file") is the file the maps
// should show: a name in "Overlays/"; the step moves it to the .pdfbin it writes or loads, and clears
// it when the file has vanished or failed to load.
void updateRasterOverlayLoader(FileReadTable* reads, FileJobTable* jobs, RenderedPageTable* pages, JobQueue* jobQueue,
                               RasterOverlayLoader* loader, const OverlaySelection* selection, ImageSlotTable* slots);

// The loading job (argument: the loader). A .pdf with georeferenced pages enters state 2; anything
// else ends in state 3 with the page decoded or a message.
i64 loadPdfBin(void* loader);

// Area-weighted resampling of the whole source into the destination, aspect ratio kept and
// centred; outside the source, edge pixels are stretched, and a last (alpha) channel of 2- or
// 4-channel images is faded by the share of the cell inside the source.
void fitImageIntoImage(const u8* source, i32 sourceWidth, i32 sourceHeight, u32 sourceStride, u8* destination,
                       i32 destinationWidth, i32 destinationHeight, i32 destinationStride, i32 channels);

// The thumbnail size of a width x height page: at most 65,536 pixels, the page's aspect ratio.
void choosePdfBinThumbnailSize(u32 width, u32 height, u32* thumbnailWidth, u32* thumbnailHeight);

// Writes a .pdfbin (big-endian) of a rendered RGBA page: the source name, page index, source time
// (ms since 1970), the grid's corners as latitude/longitude, the thumbnail and page PNGs. A writer
// without data only measures. Returns an empty text, or the encoder's failure.
FixedString writePdfBin(ByteWriter* writer, FixedString sourceName, u32 page, u64 modifiedMs1970,
                        const PdfPageGeo* grid, const u8* rgba, u32 width, u32 height);

// Reads a .pdfbin of size bytes named name: the grid from its corners and the page as RGB rows
// aligned to 4 bytes into pixels (capacity bytes), using scratch for the decoder. An empty text on
// success with *width and *height set.
FixedString readPdfBin(const u8* bytes, u64 size, FixedString name, PdfPageGeo* grid, u8* pixels, u64 capacity,
                       u8* scratch, u64 scratchCapacity, u32* width, u32* height);
