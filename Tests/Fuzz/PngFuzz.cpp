// parsePng on arbitrary bytes with buffers sized from the header (within a cap), the channel count
// and row alignment varying with the file's size; nothing may be read or written outside the file,
// the pixels or the scratch. Most inputs get their chunk CRCs repaired first, so that mutations
// reach the decoding behind the checks.
#include <cstring>
#include <memory>
#include <vector>

#include "Decoders/Checksum.h"
#include "Decoders/Png.h"

namespace {

u32 readU32Be(const u8* p) { return (u32(p[0]) << 24) | (u32(p[1]) << 16) | (u32(p[2]) << 8) | u32(p[3]); }

void repairCrcs(std::vector<u8>* file) {
    for (size_t at = 8; at + 12 <= file->size();) {
        u64 length = readU32Be(file->data() + at);
        if (length > file->size() - at - 12) break;
        u32 crc = crc32(file->data() + at + 4, i64(length) + 4);
        u8* field = file->data() + at + 8 + length;
        for (int i = 0; i < 4; i++) field[i] = u8(crc >> (24 - 8 * i));
        at += 12 + length;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr u64 kCap = 1 << 20;
    u64 width = 1;
    u64 height = 1;
    if (size >= 24) {
        width = readU32Be(data + 16);
        height = readU32Be(data + 20);
    }
    const u32 channels = u32(size % 5);
    const u8 alignment = u8(1 + (size / 5) % 8);
    u64 pixelBytes = width * 4 + 8;
    pixelBytes = pixelBytes > kCap || height > kCap / pixelBytes ? kCap : pixelBytes * height;
    u64 scratchBytes = width * 8 + 1;
    scratchBytes = scratchBytes > kCap || height > kCap / scratchBytes ? kCap : scratchBytes * height;
    std::vector<u8> file(data, data + size);
    if (size % 8 != 0) repairCrcs(&file);
    std::unique_ptr<u8[]> pixels(new u8[pixelBytes]);
    std::unique_ptr<u8[]> scratch(new u8[scratchBytes]);
    ImageResult result;
    parsePng(&result, file.data(), i64(file.size()), pixels.get(), i64(pixelBytes), channels, alignment, scratch.get(),
             i64(scratchBytes));
    if (result.error.length == 0 && u64(result.rowStride) * result.height > pixelBytes) __builtin_trap();
    return 0;
}
