// The vector overlay's files: KMZ archives (the KML entry and the icons it holds) and the overlay's
// own cache (".kmlbin" / ".kmzbin"), which writeKmlBin writes and parseKmlBin reads back.
//
// Cache layout, little-endian, no padding: u64 source time (skipped by the reader); u32 counts of
// markers, marker styles, marker images, pixel words, polygon vertices, line segments, triangles
// (each clamped to its capacity); u8 message length and the message bytes; then the sections in that
// order:
//   markers        u8 style index, f64 x, f64 y, f64 nearest, u32 name length, name bytes
//   marker styles  i32 image index (-1 none), f32 scale, f32 hot-spot x, u8 x units, f32 hot-spot y,
//                  u8 y units
//   marker images  u64 first pixel word, u32 width, u32 height, u32 href length, href bytes
//   pixel words    u32 RGBA8
//   vertices       f64 x, f64 y
//   segments       f64 x0, y0, x1, y1, u32 colour, f32 width
//   triangles      u16 a, b, c, u32 fill colour
#pragma once
#include "Overlays/VectorOverlay.h"

constexpr i64 kKmlBinHeadBytes = 37;

struct ZipDirectoryEntry;
struct ZipDirectory;

// An archive entry's bytes: in place when stored, else inflated into a buffer (allocateFileBuffer)
// that the caller frees. error: "Inflate return error code: @" or "Compressed data length from
// header does not match length of deflated data" (also for a header that claims an impossible
// size), or a failed allocation; unsupportedMethod 1 for a method other than 0 and 8.
struct ArchiveEntryBytes {
    const u8* data;
    i64 length;
    u8* buffer;
    FixedString error;
    u32 unsupportedMethod;
};
ArchiveEntryBytes archiveEntryBytes(const ZipDirectoryEntry* entry, const u8* archive, i64 archiveLength);

// Why an archive without a ".kml" entry gives nothing: "No .kml among the first @ of the @ files in
// the .kmz" when the directory lists only the first of its entries, else "The .kmz holds no .kml file".
FixedString kmzWithoutKmlMessage(const ZipDirectory* directory);

// Reads the KML entry (the first whose name ends in ".kml") and then the icons that the archive
// holds into the overlay (emptied first). Returns the failure text, empty on success; icons that
// cannot be read only leave their state and the overlay's message.
FixedString parseKmz(const u8* bytes, i64 length, VectorOverlay* overlay);

// Reads a cache into the overlay (emptied first): "Truncated file" when a part is missing (what was
// read stays), "Corrupted file" when a count exceeds its capacity or an index points outside its
// table; empty on success. Images come back in state 1 without an image slot.
FixedString parseKmlBin(const u8* bytes, u64 length, VectorOverlay* overlay);

// Appends the cache of the overlay; a writer without data only measures.
void writeKmlBin(const VectorOverlay* overlay, ByteWriter* writer, u64 sourceTime);
