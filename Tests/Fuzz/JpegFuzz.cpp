// Fuzzes the JPEG decoder: any input must end in a result or a message, inside its buffers, and the
// portable transforms must give the same pixels and message as the fastest ones.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Decoders/Jpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<u8> pixels(1 << 22);
    static std::vector<u8> portable(1 << 22);
    ImageResult result;
    parseJpeg(&result, data, (i64)size, pixels.data(), (i64)pixels.size(), 0, 1);
    // A file whose scans leave pixels unwritten leaves what the buffers held: the same for both.
    size_t used = std::min(pixels.size(), ((size_t)result.width * 4 + 7) / 8 * 8 * result.height);
    std::memset(pixels.data(), 0, used);
    std::memset(portable.data(), 0, used);
    parseJpeg(&result, data, (i64)size, pixels.data(), (i64)pixels.size(), 4, 8);
    ImageResult other;
    parseJpegWithPath(&other, data, (i64)size, portable.data(), (i64)portable.size(), 4, 8, JpegTransformPortable);
    if (other.error.length != result.error.length ||
        std::memcmp(other.error.text, result.error.text, result.error.length) != 0) {
        std::abort();
    }
    if (!result.error.length && result.pixels) {
        // Row padding is not written: compare the pixels of each row.
        for (u32 y = 0; y < result.height; y++) {
            size_t at = (size_t)y * result.rowStride;
            if (std::memcmp(pixels.data() + at, portable.data() + at, (size_t)result.width * 4) != 0) std::abort();
        }
    }
    parseJpeg(&result, data, (i64)size, pixels.data(), 64, 3, 1);
    return 0;
}
