// The overlay list's reading of one file: the first byte picks the name's ending, the second the
// length of the name taken from the bytes after it, the rest are the file. Every length in the file
// stays within it, the texts keep their bounds, and a preview fits the entry's pixels.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Core/Format.h"
#include "Overlays/OverlayList.h"

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
    static const char* const kEndings[] = {".pdfbin", ".kmlbin", ".KMZBIN", ".pdf", ""};
    if (size < 2) return 0;
    const char* ending = kEndings[data[0] % 5];
    size_t stem = data[1] % 64;
    if (stem > size - 2) stem = size - 2;
    FixedString name = formatStrCstr("@@", stringFromBytes(data + 2, (i64)stem), ending);
    // The file's bytes alone in a buffer of their own, so that reading past them is caught.
    std::vector<u8> file(data + 2 + stem, data + size);
    static std::vector<u8> scratch(1 << 22);
    static OverlayListEntry* entry = new OverlayListEntry;
    std::memset((void*)entry, 0, sizeof(*entry));
    readOverlayListEntry(entry, name, file.data(), file.size(), 13400000000000ull, 19800000, scratch.data(),
                         scratch.size());
    if (entry->kind > OverlayListVectorOverlay) std::abort();
    if (entry->subtitle.length > 253 || entry->displayName.length > 253) std::abort();
    u64 stride = ((u64)entry->previewWidth * entry->previewChannels + 3) / 4 * 4;
    if (stride * entry->previewHeight > kOverlayPreviewBytes) std::abort();
    return 0;
}
