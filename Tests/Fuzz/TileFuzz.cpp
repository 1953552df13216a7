// The tile map's handling of what comes from outside: downloaded or stored tile bytes through the
// decode job into the fixed per-tile buffers, and the "Map URL", style and extension preferences
// through the URL and path builders. The first byte chooses which.
#include <cstdlib>
#include <cstring>

#include "Map/TileMaps.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    if (size < 1) return 0;
    const u8* bytes = data + 1;
    size_t length = size - 1;
    if (data[0] & 1) {
        // Exactly the sizes the tile map gives the job, so that any overrun is caught.
        TileEntry entry{};
        entry.pixels = (u8*)std::malloc((size_t)kTileImageBytes);
        entry.scratch = (u8*)std::malloc((size_t)kTileDecodeScratchBytes);
        entry.encoded = bytes;
        entry.encodedLength = (i64)length;
        decodeTileJob(&entry);
        if (!entry.result.error.length && entry.result.height * entry.result.rowStride > (u64)kTileImageBytes) abort();
        std::free(entry.pixels);
        std::free(entry.scratch);
        return 0;
    }
    // Template, style and extension separated by zero bytes.
    FixedString parts[3]{};
    size_t start = 0;
    for (i32 p = 0; p < 3 && start <= length; p++) {
        size_t end = start;
        while (end < length && bytes[end] != 0) end++;
        parts[p] = stringFromBytes(bytes + start, (i64)(end - start));
        start = end + 1;
    }
    u32 level = length ? bytes[0] % 20 : 0;
    u8 text[2000];
    ByteWriter url = makeByteWriter(text, sizeof(text));
    tileUrl(&parts[0], &parts[1], &parts[2], level, 123456, 654321, &url);
    if (url.length > url.capacity) abort();
    FixedString path = tileFilePath(&parts[1], &parts[2], level, 123456, 654321);
    // The path never leaves the tile folder.
    if (std::strstr(path.text, "..") || path.length < 10 || std::memcmp(path.text, "Tile Maps/", 10) != 0) abort();
    return 0;
}
