// Writing the editor's drawing as a KMZ: "doc.kml" with the eight line styles, each polyline twice
// (a "#black" outline, then its colour) and each marker as its own icon style and Point placemark,
// followed by one labelled PNG per marker, all stored without compression.
#pragma once
#include "Core/FixedString.h"
#include "KmzEditor/KmzEditor.h"
#include "SourceCommon/Renderer/ImageAssets.h"

struct FileJobTable;
struct FileJobResult;

constexpr u64 kKmzExportLimit = 10000000;
constexpr const char* kKmzMimeType = "application/vnd.google-earth.zip";

// The five marker images and the SDF font that the icons are drawn with.
struct KmzExportAssets {
    const ImageResult* markerImages[kKmzMarkerKindCount];  // flag, obstruction, fire, smoke, heat; may be null
    const ImageResult* fontAtlas;  // may be null: icons without labels
    const u8* fontInfo;
};
KmzExportAssets kmzExportAssetsOf(const UiState* ui);

// The KML document through a writer (without data: measures).
void writeKmzDocument(const KmzEditor* editor, ByteWriter* writer);
// The whole archive through a writer; scratch (capacity bytes) holds one icon and its PNG at a time.
void writeKmzArchive(const KmzEditor* editor, const KmzExportAssets* assets, u8* scratch, u64 scratchCapacity,
                     ByteWriter* writer);
// "Exported Kmzs/@_@_@_@_@_@.kmz" of a local time in ms since 1601.
FixedString exportedKmzPath(i64 localMilliseconds1601);

// Builds the archive and queues its write job; *job receives the job's result (status 16, "Memory
// allocation failed", when the buffers cannot be had or the archive passes 10,000,000 bytes).
void exportKmz(const KmzEditor* editor, FileJobTable* jobs, FileJobResult* job, const KmzExportAssets* assets,
               u8* scratch, u64 scratchCapacity, i64 localMilliseconds1601);
