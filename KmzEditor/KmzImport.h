// Reading an exported KMZ back into the editor, as one undoable Load or Merge per KML entry.
#pragma once
#include "Core/FixedString.h"
#include "Decoders/Zip.h"
#include "KmzEditor/KmzEditor.h"

struct FileReadRequest;
struct FileReadTable;
struct JobQueue;

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
// cannot be read or applied leaves its reason in *message, and so does an archive without a ".kml"
// among the entries its directory lists (kmzWithoutKmlMessage, the overlay loader's words). A
// finished read first clears the last import's message.
void importKmzIntoKmzEditor(FileReadRequest** pendingRead, KmzEditor* editor, FixedString* message, u32 merge,
                            FileReadTable* reads);
// The same over archive bytes in memory.
void importKmzBytes(const u8* bytes, i64 length, KmzEditor* editor, FixedString* message, u32 merge);

// The import of a read archive in slices: the job ring reads the archive's directory and turns one
// ".kml" entry at a time into a content payload; the frame applies each payload as one edit, in
// directory order. The KML parse's tables belong to one import at a time: a job's, or
// importKmzBytes' (which tests and the fuzzer call).
enum KmzImportState : u32 {
    KmzImportIdle = 0,
    KmzImportRunning = 1,  // the job ring has the archive
    KmzImportParsed = 2,   // an entry's payload (or its failure) waits to be applied
};

struct KmzImportJob {
    u32 state;    // KmzImportState; the job stores 2 with release order
    u32 cancel;   // set by the frame, seen by the job between entries and within a long one
    u32 percent;  // how far the job is through the archive's KML text, written by it
    u32 merge;
    FileReadRequest* read;  // the archive, kept until the import ends
    const u8* bytes;
    i64 length;
    ZipDirectory directory;
    i32 directoryRead;
    i32 nextEntry;  // the directory entry the next slice looks at
    u64 kmlBytes;   // of every ".kml" entry, compressed, for the percentage
    u64 kmlDone;
    u8* payload;     // from allocateFileBuffer; null with a failure
    u64 payloadSize;
    FixedString failure;
    u32 finished;  // no entry is left
};

// Each frame in place of importKmzIntoKmzEditor: once the pending read has finished it becomes the
// job's (a failed read is dropped silently) and the last import's message is cleared, the job's
// payloads are applied as they come, and when the archive is through the read is released. A read
// made while an import runs waits for it.
void updateKmzImport(KmzImportJob* job, FileReadRequest** pendingRead, KmzEditor* editor, FixedString* message,
                     u32 merge, FileReadTable* reads, JobQueue* queue);
// Gives up a running import: what it has applied stays, the rest is left out.
void cancelKmzImport(KmzImportJob* job);
u32 kmzImportBusy(const KmzImportJob* job);
// The job of the job ring (the argument is the KmzImportJob).
i64 kmzImportSliceJob(void* argument);
