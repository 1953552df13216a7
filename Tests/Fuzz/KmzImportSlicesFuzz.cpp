// Fuzzes reading a KMZ into the drawing editor in slices (the job's slices run here between the
// frame's steps) against the whole-archive import of the same bytes: the drawings, the undo history
// and the message must be the same, and the archive's read must be given back. The first byte
// chooses Load or Merge, and whether the import is given up after that many slices.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Core/JobQueue.h"
#include "KmzEditor/KmzImport.h"
#include "Platform/FileTables.h"

namespace {

KmzEditor* freshEditor(KmzEditor* editor) {
    std::memset((void*)editor, 0, sizeof(*editor));
    editor->lineEnd = -1;
    return editor;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static KmzEditor* whole = (KmzEditor*)std::calloc(1, sizeof(KmzEditor));
    static KmzEditor* sliced = (KmzEditor*)std::calloc(1, sizeof(KmzEditor));
    static FileReadTable* reads = (FileReadTable*)std::calloc(1, sizeof(FileReadTable));
    static KmzImportJob* job = (KmzImportJob*)std::calloc(1, sizeof(KmzImportJob));
    static JobQueue* queue = (JobQueue*)std::calloc(1, sizeof(JobQueue));
    if (size < 1) return 0;
    u32 merge = data[0] & 1;
    u32 cancelAfter = data[0] >> 1;  // 0: never
    const u8* archive = data + 1;
    u64 length = size - 1;

    FixedString wholeMessage{};
    importKmzBytes(archive, (i64)length, freshEditor(whole), &wholeMessage, merge);

    freshEditor(sliced);
    u8* bytes = allocateFileBuffer(length ? length : 1);
    if (!bytes) return 0;
    std::memcpy(bytes, archive, length);
    FileReadRequest* pending =
        fileRequestFromBuffer(bytes, length, 1, makeString("Exported Kmzs/fuzz.kmz"), 0, reads);
    if (!pending) std::abort();
    FixedString slicedMessage{};
    updateKmzImport(job, &pending, sliced, &slicedMessage, merge, reads, queue);
    if (pending) std::abort();
    u32 slices = 0;
    while (runNextAsyncJob(queue)) {
        if (++slices == cancelAfter) cancelKmzImport(job);
        updateKmzImport(job, &pending, sliced, &slicedMessage, merge, reads, queue);
    }
    if (kmzImportBusy(job)) std::abort();
    for (u64 word : reads->used) {
        if (word) std::abort();  // the archive's read was kept
    }
    if (cancelAfter == 0 || slices < cancelAfter) {
        if (std::memcmp((const void*)whole, (const void*)sliced, sizeof(KmzEditor)) != 0) std::abort();
        if (std::strcmp(wholeMessage.text, slicedMessage.text) != 0) std::abort();
    }
    return 0;
}
