// Writing the editor's drawing as a KMZ: "doc.kml" with the eight line styles, each polyline twice
// (a "#black" outline, then its colour) and each marker as its own icon style and Point placemark,
// followed by the labelled PNG icons, all stored without compression. Markers whose icons would come
// out the same (without the font no labels are painted, and then every marker of a kind looks
// alike) share one stored icon.
//
// The archive is built in pieces on the job ring, a few icons at a time, and each piece is appended
// to a hidden file in "Exported Kmzs/" by the file thread as soon as it is made: no frame waits for
// the icons, and the archive may be as large as the disk takes (the zip format's 2 GB and 65,535
// entries aside). The finished file then takes its dated name; when a file of that name exists a
// counter is added (" (2)", " (3)", ...). Any failure is shown as "Error saving file: <reason>".
#pragma once
#include "Core/FixedString.h"
#include "KmzEditor/KmzEditor.h"
#include "Platform/FileTables.h"
#include "SourceCommon/Renderer/ImageAssets.h"

struct JobQueue;

constexpr const char* kKmzMimeType = "application/vnd.google-earth.zip";
constexpr u32 kKmzPieceIcons = 8;               // icons one piece job paints
constexpr u64 kKmzPieceBytes = 4u << 20;        // room of an icon piece
constexpr u64 kKmzExportScratchBytes = 1u << 20;  // the icon painter's: an icon's pixels and its PNG

// The five marker images and the SDF font that the icons are drawn with.
struct KmzExportAssets {
    const ImageResult* markerImages[kKmzMarkerKindCount];  // flag, obstruction, fire, smoke, heat; may be null
    const ImageResult* fontAtlas;  // may be null: icons without labels
    const u8* fontInfo;
};
KmzExportAssets kmzExportAssetsOf(const UiState* ui);

// The KML document through a writer (without data: measures).
void writeKmzDocument(const KmzEditor* editor, ByteWriter* writer);
// "Exported Kmzs/@_@_@_@_@_@.kmz" of a local time in ms since 1601.
FixedString exportedKmzPath(i64 localMilliseconds1601);

struct KmzCentralEntry {
    u32 compressedSize;
    u32 crc32;
    u32 localHeaderOffset;
    u32 kind;  // 0 doc.kml, else marker kind + 1
    u32 rank;
    u32 uncompressedSize;
};

// The archive as a sequence of pieces of whole entries: doc.kml, the icons a few at a time, then
// the central directory and its end record.
struct KmzArchiveBuilder {
    const KmzEditor* drawing;
    KmzExportAssets assets;
    u8* scratch;
    u64 scratchCapacity;
    u32 markerCount;
    u32 nextMarker;      // the next marker whose icon is to be painted
    u32 documentDone;
    u32 finished;        // the last piece has been handed out
    u64 offset;          // archive bytes handed out so far
    u32 entryCount;
    FixedString failure;  // empty while all is well
    u32 order[kKmzPoolSlots];     // marker slots by kind, then number
    u32 rank[kKmzPoolSlots];      // the number N of each within its kind
    u32 iconOf[kKmzPoolSlots];    // the position whose stored icon the marker shows
    KmzCentralEntry entries[kKmzPoolSlots + 1];
};

// Takes the marker order and which icons are shared (main thread: it reads the editor's order).
// The drawing, assets and scratch must stay unchanged until the builder is done.
void beginKmzArchive(KmzArchiveBuilder* builder, const KmzEditor* drawing, const KmzExportAssets* assets, u8* scratch,
                     u64 scratchCapacity);
// The next piece, allocated with allocateFileBuffer (its receiver frees it); null when the archive
// is complete or failed (builder->failure says why).
u8* nextKmzArchivePiece(KmzArchiveBuilder* builder, u64* size);
// The whole archive through a writer, piece after piece (without data: measures).
void writeKmzArchive(const KmzEditor* editor, const KmzExportAssets* assets, u8* scratch, u64 scratchCapacity,
                     ByteWriter* writer);

enum KmzExportStep : u32 {
    KmzExportIdle = 0,
    KmzExportBuilding = 1,  // pieces made on the job ring and appended to the hidden file
    KmzExportNaming = 2,    // the hidden file takes its dated name
};

// One export at a time, stepped every frame by updateKmzExport.
struct KmzExportRun {
    u32 step;               // KmzExportStep
    u32 jobBusy;            // 1 while a piece job owns the builder; the job clears it last
    KmzEditor* drawing;     // the drawing as it was when the export began
    u8* scratch;
    u8* piece;              // made by the last job, not yet handed to the file thread
    u64 pieceSize;
    u32 piecesQueued;
    u32 writeOut;           // the job below is queued and not yet seen finished
    FileJobResult write;
    FixedString stem;       // "Exported Kmzs/2026_3_5_7_08_09"
    FixedString temporary;  // the hidden file the pieces go to
    FixedString fileName;   // the name the file takes: the stem's, with " (N)" after a clash
    u32 counter;
    FixedString message;    // "Saving @%", "Saved @", "Error saving file: @"
    KmzArchiveBuilder builder;
};

// Starts an export of the drawing (copied) at a local time in ms since 1601; returns why it cannot
// start, or an empty text.
FixedString exportKmz(KmzExportRun* run, const KmzEditor* editor, const KmzExportAssets* assets,
                      i64 localMilliseconds1601);
// Per frame: hands the pieces made to the file thread, starts the next, names the file when all is
// written. Returns 1 on the frame the file was saved.
i32 updateKmzExport(KmzExportRun* run, FileJobTable* jobs, JobQueue* jobQueue);
