// Fuzzes the JPEG decoder: any input must end in a result or a message, inside its buffers.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Decoders/Jpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<u8> pixels(1 << 22);
    ImageResult result;
    parseJpeg(&result, data, (i64)size, pixels.data(), (i64)pixels.size(), 0, 1);
    parseJpeg(&result, data, (i64)size, pixels.data(), (i64)pixels.size(), 4, 8);
    parseJpeg(&result, data, (i64)size, pixels.data(), 64, 3, 1);
    return 0;
}
