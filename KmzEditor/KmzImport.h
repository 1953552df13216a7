// Reading an exported KMZ back into the editor, as one undoable Load or Merge per KML entry.
#pragma once
#include "Core/FixedString.h"
#include "KmzEditor/KmzEditor.h"

struct FileReadRequest;
struct FileReadTable;

constexpr u64 kKmzImportReadLimit = 10000000;

// A content payload made from one KML document: LineString placemarks styled "#red" to "#white"
// (points of that colour joined in order; "#black" outlines skipped) and Point placemarks styled
// "#flag", "#obstruction", "#fire", "#smoke", "#heat" (markers numbered 1, 2, ... in file order).
// Equal positions share one point. Measures with a writer without data. Returns an empty text, or
// why the document gave no payload (more than 65,535 points, lines or markers).
FixedString kmlToKmzContentPayload(const u8* kml, i64 length, ByteWriter* writer);

// Each frame: once the pending read has finished, every ".kml" entry of the archive is applied in
// directory order (merge 1: mergeIntoKmzEditorAction, else clearKmzEditorAction) as a fresh edit;
// the read is then released and forgotten. A failed read is dropped silently; an entry that
// cannot be read or applied leaves its reason in *message.
void importKmzIntoKmzEditor(FileReadRequest** pendingRead, KmzEditor* editor, FixedString* message, u32 merge,
                            FileReadTable* reads);
// The same over archive bytes in memory.
void importKmzBytes(const u8* bytes, i64 length, KmzEditor* editor, FixedString* message, u32 merge);
