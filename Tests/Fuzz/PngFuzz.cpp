// parsePng on arbitrary bytes with buffers sized from the header (within a cap), the channel count
// and row alignment varying with the file's size; nothing may be read or written outside the file,
// the pixels or the scratch. Most inputs get their chunk CRCs repaired first, so that mutations
// reach the decoding behind the checks; inputs whose size leaves 7 over 8 are filtered rows that get
// a whole valid file built around them, so that they reach row unfiltering and conversion.
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

void appendU32Be(std::vector<u8>* out, u32 value) {
    for (int i = 0; i < 4; i++) out->push_back(u8(value >> (24 - 8 * i)));
}

void appendChunk(std::vector<u8>* out, const char* type, const std::vector<u8>& data) {
    appendU32Be(out, u32(data.size()));
    size_t start = out->size();
    out->insert(out->end(), type, type + 4);
    out->insert(out->end(), data.begin(), data.end());
    appendU32Be(out, crc32(out->data() + start, i64(out->size() - start)));
}

// A file whose IHDR takes width, height, colour type and bit depth from the first 4 bytes, with a
// palette and transparency, and whose zlib stream holds the rest of the bytes in stored blocks
// with their Adler-32.
std::vector<u8> wrapRows(const u8* data, size_t size) {
    static const u8 kDepths[5] = {1, 2, 4, 8, 16};
    static const u8 kColorTypes[5] = {0, 2, 3, 4, 6};
    std::vector<u8> file = {137, 80, 78, 71, 13, 10, 26, 10};
    if (size < 4) return file;
    std::vector<u8> header;
    appendU32Be(&header, 1u + data[0] % 64);
    appendU32Be(&header, 1u + data[1] % 64);
    header.push_back(kDepths[data[2] % 5]);
    header.push_back(kColorTypes[data[3] % 5]);
    header.insert(header.end(), {0, 0, 0});
    appendChunk(&file, "IHDR", header);
    appendChunk(&file, "PLTE", std::vector<u8>(data + 4, data + 4 + (size - 4 < 48 ? size - 4 : 48)));
    appendChunk(&file, "tRNS", std::vector<u8>(data + 4, data + 4 + (size - 4 < 8 ? size - 4 : 8)));
    std::vector<u8> stream = {0x78, 0x01};
    const u8* rows = data + 4;
    size_t left = size - 4;
    do {
        u16 n = u16(left < 65535 ? left : 65535);
        stream.push_back(n == left ? 1 : 0);
        stream.insert(stream.end(), {u8(n), u8(n >> 8), u8(~n), u8(~n >> 8)});
        stream.insert(stream.end(), rows, rows + n);
        rows += n;
        left -= n;
    } while (left > 0);
    appendU32Be(&stream, updateAdler32(kAdler32Initial, data + 4, i64(size - 4)));
    appendChunk(&file, "IDAT", stream);
    appendChunk(&file, "IEND", {});
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr u64 kCap = 1 << 20;
    std::vector<u8> file(data, data + size);
    if (size % 8 == 7) {
        file = wrapRows(data, size);
    } else if (size % 8 != 0) {
        repairCrcs(&file);
    }
    u64 width = 1;
    u64 height = 1;
    if (file.size() >= 24) {
        width = readU32Be(file.data() + 16);
        height = readU32Be(file.data() + 20);
    }
    const u32 channels = u32(size % 5);
    const u8 alignment = u8(1 + (size / 5) % 8);
    u64 pixelBytes = width * 4 + 8;
    pixelBytes = pixelBytes > kCap || height > kCap / pixelBytes ? kCap : pixelBytes * height;
    u64 scratchBytes = width * 8 + 1;
    scratchBytes = scratchBytes > kCap || height > kCap / scratchBytes ? kCap : scratchBytes * height;
    std::unique_ptr<u8[]> pixels(new u8[pixelBytes]);
    std::unique_ptr<u8[]> scratch(new u8[scratchBytes]);
    ImageResult result;
    parsePng(&result, file.data(), i64(file.size()), pixels.get(), i64(pixelBytes), channels, alignment, scratch.get(),
             i64(scratchBytes));
    if (result.error.length == 0 && u64(result.rowStride) * result.height > pixelBytes) __builtin_trap();
    // With the smallest scratch that takes rows as they are inflated, a file that decoded decodes to
    // the same pixels.
    const u64 movingScratch = u64(pngScratchBytesForWidth(u32(width)));
    if (result.error.length == 0 && movingScratch <= kCap) {
        std::unique_ptr<u8[]> again(new u8[pixelBytes]);
        std::unique_ptr<u8[]> small(new u8[movingScratch]);
        ImageResult second;
        parsePng(&second, file.data(), i64(file.size()), again.get(), i64(pixelBytes), channels, alignment, small.get(),
                 i64(movingScratch));
        const u64 used = u64(result.rowStride) * result.height;
        if (second.error.length != 0 || std::memcmp(again.get(), pixels.get(), used) != 0) __builtin_trap();
    }
    return 0;
}
