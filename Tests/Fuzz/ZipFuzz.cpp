// Fuzzes the zip directory reader: every listed entry must lie inside the archive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Decoders/Zip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ZipDirectory directory;
    readZipDirectory(&directory, data, (i64)size);
    u32 sum = 0;
    for (i32 i = 0; i < directory.entryCount; i++) {
        const ZipDirectoryEntry& e = directory.entries[i];
        if (e.data < data || e.data + e.compressedSize > data + size) std::abort();
        for (u32 k = 0; k < e.compressedSize; k++) sum += e.data[k];
    }
    return (int)(sum & 0);
}
