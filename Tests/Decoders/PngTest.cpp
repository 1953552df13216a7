// parsePng against libpng on every colour type and bit depth, every channel count and row alignment;
// its messages on broken and unusual files; damaged files never decode.
#include <gtest/gtest.h>

#include <random>

#include "Decoders/Png.h"
#include "Decoders/InflateTestSupport.h"
#include "Decoders/PngInternal.h"
#include "Decoders/PngTestSupport.h"

namespace {

struct Decoded {
    ImageResult result;
    std::vector<u8> pixels;
};

// Decodes with buffers of exactly the size needed (so any overrun shows under AddressSanitizer).
Decoded decode(const std::vector<u8>& file, u32 channels, u8 alignment, i64 pixelBytes = -1, i64 scratchBytes = -1) {
    Decoded d{};
    ImageResult probe{};
    if (pixelBytes < 0 || scratchBytes < 0) {
        // Ask once with no room to learn the size from the message-free fields.
        parsePng(&probe, file.data(), i64(file.size()), nullptr, 0, channels, alignment, nullptr, 0);
    }
    if (pixelBytes < 0) pixelBytes = i64(probe.rowStride ? probe.rowStride : ((probe.width * probe.channels + alignment - 1) / alignment * alignment)) * probe.height;
    if (scratchBytes < 0 && file.size() > 25) {
        const u8 depth = file[24];
        const u8 colorType = file[25];
        scratchBytes = i64(probe.height) * (1 + (i64(depth) * probe.width * pngChannelsOf(colorType) + 7) / 8);
    }
    if (scratchBytes < 0) scratchBytes = 0;
    d.pixels.assign(size_t(pixelBytes), 0xCD);
    std::vector<u8> scratch(static_cast<size_t>(scratchBytes));
    parsePng(&d.result, file.data(), i64(file.size()), d.pixels.empty() ? nullptr : d.pixels.data(), pixelBytes, channels,
             alignment, scratch.empty() ? nullptr : scratch.data(), scratchBytes);
    return d;
}

std::string message(const ImageResult& result) { return std::string(result.error.text, result.error.length); }

PngPicture randomPicture(std::mt19937* random, u32 width, u32 height, int colorType, int depth, bool withTransparency) {
    PngPicture p;
    p.width = width;
    p.height = height;
    p.colorType = colorType;
    p.bitDepth = depth;
    int entries = 0;
    if (colorType == 3) {
        entries = depth == 8 ? 200 : 1 << depth;
        if (depth < 8 && (*random)() % 2) entries = std::max(1, entries - 1);
        for (int i = 0; i < entries * 3; i++) p.palette.push_back(u8((*random)()));
        if (withTransparency)
            for (int i = 0; i < entries - 1 && i < 100; i++) p.transparency.push_back(u8((*random)()));
    }
    p.samples.resize(pngSampleBytesPerRow(p) * height);
    const u32 maxSample = colorType == 3 ? u32(entries - 1) : depth == 16 ? 255u : (1u << depth) - 1;
    for (size_t i = 0; i < p.samples.size(); i++) {
        // Smooth stretches with noise, so that every row filter has something to do.
        u32 value = (*random)() % 3 == 0 ? u32((*random)()) : u32(i / 3 + i % 7);
        p.samples[i] = u8(value % (maxSample + 1));
    }
    return p;
}

const struct {
    int colorType;
    int depth;
} kFormats[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};

void expectMatchesPicture(const PngPicture& p, const std::vector<u8>& file, u32 channels, u8 alignment,
                          i64 scratchBytes = -1) {
    Decoded d = decode(file, channels, alignment, -1, scratchBytes);
    ASSERT_EQ(message(d.result), "") << p.colorType << "/" << p.bitDepth << " " << p.width << "x" << p.height;
    u32 own = p.colorType == 3 ? (p.transparency.empty() ? 3 : 4) : u32(pngChannelsOf(p.colorType));
    u32 expectChannels = channels ? channels : own;
    ASSERT_EQ(d.result.channels, expectChannels);
    ASSERT_EQ(d.result.width, p.width);
    ASSERT_EQ(d.result.height, p.height);
    ASSERT_EQ(d.result.rowStride, (p.width * expectChannels + alignment - 1) / alignment * alignment);
    ASSERT_EQ(d.result.pixels, d.pixels.data());
    for (u32 y = 0; y < p.height; y++)
        for (u32 x = 0; x < p.width; x++) {
            u8 want[4];
            expectedPixel(p, x, y, expectChannels, want);
            const u8* got = d.pixels.data() + y * d.result.rowStride + x * expectChannels;
            for (u32 c = 0; c < expectChannels; c++)
                ASSERT_EQ(got[c], want[c]) << p.colorType << "/" << p.bitDepth << " " << p.width << "x" << p.height
                                           << " at " << x << "," << y << " channel " << c << " of " << expectChannels;
        }
}

}  // namespace

TEST(Png, MatchesLibpngOnEveryFormatChannelCountAndAlignment) {
    std::mt19937 random(3);
    for (const auto& format : kFormats) {
        for (u32 width : {1u, 3u, 5u, 7u, 13u, 33u}) {
            for (u32 height : {1u, 6u}) {
                for (bool transparency : {false, true}) {
                    if (transparency && format.colorType != 3) continue;
                    PngPicture original = randomPicture(&random, width, height, format.colorType, format.depth, transparency);
                    std::vector<u8> file = libpngWrite(original, int(random() % 10), random() % 2 ? 8192 : 16);
                    PngPicture reference;
                    ASSERT_TRUE(libpngRead(file, &reference));
                    ASSERT_EQ(reference.samples, original.samples);
                    for (u32 channels = 0; channels <= 4; channels++)
                        for (u8 alignment : {1, 2, 3, 4, 8}) expectMatchesPicture(reference, file, channels, alignment);
                }
            }
        }
    }
}

TEST(Png, LargerImagesWithManyIdatChunks) {
    std::mt19937 random(5);
    for (int colorType : {2, 6}) {
        PngPicture p = randomPicture(&random, 256, 256, colorType, 8, false);
        std::vector<u8> file = libpngWrite(p, 6, 100);
        size_t idatCount = 0;
        for (const PngChunk& chunk : pngChunks(file)) idatCount += chunk.type == "IDAT";
        EXPECT_GT(idatCount, 50u);
        for (u32 channels : {0u, 3u, 4u}) expectMatchesPicture(p, file, channels, 4);
    }
}

// With the smallest scratch that lets rows be unfiltered as they are inflated, the window moves many
// times; every format and conversion still matches libpng.
TEST(Png, RowsTakenAsInflatedThroughTheSmallestScratch) {
    std::mt19937 random(7);
    for (const auto& format : kFormats) {
        PngPicture p = randomPicture(&random, 150, 260, format.colorType, format.depth, format.colorType == 3);
        std::vector<u8> file = libpngWrite(p, 6, 5000);
        PngPicture reference;
        ASSERT_TRUE(libpngRead(file, &reference));
        for (u32 channels = 0; channels <= 4; channels++)
            expectMatchesPicture(reference, file, channels, 4, pngScratchBytesForWidth(150));
    }
}

// The SSE2 filters give the plain loops' bytes for every filter type and pixel size, into another row
// or in place.
TEST(Png, WideFiltersMatchThePlainLoops) {
    std::mt19937 random(8);
    for (i64 offset : {1, 2, 3, 4, 6, 8}) {
        for (i64 count : {offset, offset * 5, offset * 67}) {
            std::vector<u8> prev(static_cast<size_t>(count));
            std::vector<u8> src(static_cast<size_t>(count));
            for (u8& b : prev) b = u8(random());
            for (u8& b : src) b = u8(random() % 4 ? random() % 9 : random());
            for (u8 type = 0; type <= 4; type++) {
                std::vector<u8> plain(static_cast<size_t>(count));
                std::vector<u8> wide(static_cast<size_t>(count));
                std::vector<u8> inPlace = src;
                ASSERT_TRUE(unfilterPngRow(type, src.data(), plain.data(), prev.data(), count, offset, true));
                ASSERT_TRUE(unfilterPngRow(type, src.data(), wide.data(), prev.data(), count, offset));
                ASSERT_TRUE(unfilterPngRow(type, inPlace.data(), inPlace.data(), prev.data(), count, offset));
                EXPECT_EQ(plain, wide) << int(type) << " offset " << offset << " count " << count;
                EXPECT_EQ(plain, inPlace) << int(type) << " offset " << offset << " count " << count;
            }
        }
    }
}

TEST(Png, StreamCutAnywhereAcrossIdatChunks) {
    std::mt19937 random(9);
    PngPicture p = randomPicture(&random, 19, 11, 2, 8, false);
    std::vector<u8> file = libpngWrite(p);
    const size_t streamSize = pngIdatData(file).size();
    // Zero-length chunks, single bytes, the zlib header cut in two.
    for (const std::vector<size_t>& sizes : std::vector<std::vector<size_t>>{
             {0}, {1}, {1, 0, 1}, {2, 1, 1, 1}, {streamSize - 4}, {streamSize - 5}, {7, 0, 100, 3}}) {
        expectMatchesPicture(p, pngWithIdatPieces(file, sizes), 0, 1);
    }
    for (int trial = 0; trial < 30; trial++) {
        std::vector<size_t> sizes;
        for (size_t left = streamSize; left > 0;) {
            size_t size = std::min<size_t>(left, random() % 40);
            sizes.push_back(size);
            left -= size;
        }
        expectMatchesPicture(p, pngWithIdatPieces(file, sizes), 3, 1);
    }
    // The stream ends in an earlier chunk; the last chunk holds the Adler-32 alone, or the Adler-32
    // is split over the last chunks.
    expectMatchesPicture(p, pngWithIdatPieces(file, {streamSize / 2, streamSize - 4 - streamSize / 2, 0}), 0, 1);
    expectMatchesPicture(p, pngWithIdatPieces(file, {streamSize - 3}), 0, 1);
    expectMatchesPicture(p, pngWithIdatPieces(file, {streamSize - 2, 1}), 0, 1);
    // Anything but exactly 4 bytes after the stream's end is refused, as is a stream that never ends.
    expectMatchesPicture(p, pngWithIdatPieces(file, {streamSize - 2, 1, 1}), 0, 1);
    std::vector<u8> idat = pngIdatData(file);
    std::vector<u8> longer = pngSignature();
    std::vector<u8> shorter = pngSignature();
    for (const PngChunk& chunk : pngChunks(file)) {
        std::vector<u8> data = chunk.data;
        std::vector<u8> cut = chunk.data;
        if (chunk.type == "IDAT") {
            data = idat;
            data.push_back(0);
            cut.assign(idat.begin(), idat.end() - 6);
        }
        pngAppendChunk(&longer, chunk.type.c_str(), data);
        pngAppendChunk(&shorter, chunk.type.c_str(), cut);
    }
    EXPECT_EQ(message(decode(longer, 0, 1).result),
              "Reached the end of the deflated data, but there were still more bytes before the Zlib crc");
    EXPECT_EQ(message(decode(shorter, 0, 1).result),
              "Reached the end of the deflated data, but there were still more IDAT chunks");
}

TEST(Png, PaletteChannelsAndScaledSamples) {
    // 2-bit palette image, 4 entries, tRNS for the first two: first pixel from the top bits.
    std::vector<u8> file = pngSignature();
    pngAppendChunk(&file, "IHDR", pngIhdr(4, 1, 2, 3));
    pngAppendChunk(&file, "PLTE", {10, 20, 30, 40, 50, 60, 70, 80, 90, 200, 201, 202});
    pngAppendChunk(&file, "tRNS", {0, 128});
    std::vector<u8> raw = {0, 0b00011011};  // filter none; indices 0, 1, 2, 3
    pngAppendChunk(&file, "IDAT", zlibCompress(raw));
    pngAppendChunk(&file, "IEND", {});
    Decoded own = decode(file, 0, 1);
    ASSERT_EQ(message(own.result), "");
    EXPECT_EQ(own.result.channels, 4u);
    EXPECT_EQ(own.pixels, (std::vector<u8>{10, 20, 30, 0, 40, 50, 60, 128, 70, 80, 90, 255, 200, 201, 202, 255}));
    Decoded two = decode(file, 2, 1);
    EXPECT_EQ(two.pixels, (std::vector<u8>{20, 0, 50, 128, 80, 255, 201, 255}));

    // 1-bit grey: 0 and 255; 16-bit grey scaled as v * 255 / 65535.
    std::vector<u8> bits = pngSignature();
    pngAppendChunk(&bits, "IHDR", pngIhdr(9, 1, 1, 0));
    raw = {0, 0b10100000, 0b10000000};
    pngAppendChunk(&bits, "IDAT", zlibCompress(raw));
    Decoded grey = decode(bits, 1, 1);
    ASSERT_EQ(message(grey.result), "");
    EXPECT_EQ(grey.pixels, (std::vector<u8>{255, 0, 255, 0, 0, 0, 0, 0, 255}));

    // rowAlignment 4, width 5, 3 channels: stride 16, 16 x height bytes.
    PngPicture p;
    std::mt19937 random(1);
    p = randomPicture(&random, 5, 3, 2, 8, false);
    std::vector<u8> rgb = libpngWrite(p);
    Decoded aligned = decode(rgb, 3, 4, 48);
    EXPECT_EQ(message(aligned.result), "");
    EXPECT_EQ(aligned.result.rowStride, 16u);
    Decoded tooSmall = decode(rgb, 3, 4, 47);
    EXPECT_EQ(message(tooSmall.result), "5x3 image with 3 channels and with rows starting on multiples of 4 bytes "
                                        "requires 48 bytes of memory. imageBufferCapacity was only 47");
}

TEST(Png, MessagesForBrokenFiles) {
    std::mt19937 random(2);
    PngPicture p = randomPicture(&random, 6, 4, 6, 8, false);
    const std::vector<u8> good = libpngWrite(p);
    auto messageOf = [](const std::vector<u8>& file, i64 scratch = 4096) {
        return message(decode(file, 0, 1, 4096, scratch).result);
    };
    ImageResult result{};
    parsePng(&result, nullptr, 100, nullptr, 0, 0, 1, nullptr, 0);
    EXPECT_EQ(message(result), "PNG bytes pointer was NULL");
    EXPECT_EQ(messageOf(std::vector<u8>(good.begin(), good.begin() + 19)), "PNG was too small (19 bytes)");
    std::vector<u8> badSignature = good;
    badSignature[1] = 'p';
    EXPECT_EQ(messageOf(badSignature), "PNG does not begin with the correct 8-byte sequence. Found: 137 112 78 71 13 10 "
                                       "26 10, Expected 137 80 78 71 13 10 26 10");
    std::vector<u8> trailing = good;
    trailing.insert(trailing.end(), {1, 2, 3, 4, 5});
    EXPECT_EQ(messageOf(trailing), "PNG terminated unexpectedly (" + std::to_string(trailing.size()) + " bytes)");
    std::vector<u8> cut(good.begin(), good.end() - 20);
    EXPECT_EQ(messageOf(cut), "PNG terminated unexpectedly (" + std::to_string(cut.size()) + " bytes)");

    auto withIhdr = [](const std::vector<u8>& ihdr, const char* firstType = "IHDR") {
        std::vector<u8> file = pngSignature();
        pngAppendChunk(&file, firstType, ihdr);
        pngAppendChunk(&file, "IEND", {});
        return file;
    };
    EXPECT_EQ(messageOf(withIhdr(pngIhdr(1, 1, 8, 0), "gAMA")), "IHDR Chunk was not the first chunk (found 67414D41)");
    std::vector<u8> shortIhdr = pngIhdr(1, 1, 8, 0);
    shortIhdr.pop_back();
    EXPECT_EQ(messageOf(withIhdr(shortIhdr)), "IHDR Chunk is too small (12 bytes)");
    EXPECT_EQ(messageOf(withIhdr(pngIhdr(0, 7, 8, 0))), "Width or height is 0 (0x7)");
    EXPECT_EQ(messageOf(withIhdr(pngIhdr(1, 1, 8, 0, 1, 1, 1))), "Unsupported PNG filter method (1)");
    EXPECT_EQ(messageOf(withIhdr(pngIhdr(1, 1, 8, 0, 1, 0, 1))), "Unsupported PNG interlace method (1)");
    EXPECT_EQ(messageOf(withIhdr(pngIhdr(1, 1, 8, 0, 2))), "Unsupported PNG compression method (2)");
    EXPECT_EQ(messageOf(withIhdr(pngIhdr(1, 1, 8, 5))), "Unsupported color type (5)");
    EXPECT_EQ(messageOf(withIhdr(pngIhdr(1, 1, 0, 0))), "Unsupported bit depth 0 for color type 0");
    EXPECT_EQ(messageOf(withIhdr(pngIhdr(1, 1, 16, 3))), "Unsupported bit depth 16 for color type 3");
    EXPECT_EQ(messageOf(withIhdr(pngIhdr(1, 1, 8, 0))), "PNG has no image data (no IDAT chunk)");

    // Damaged chunks are named; a damaged stream never decodes.
    for (const char* type : {"IHDR", "IDAT", "IEND"}) {
        for (int place = 0; place < 2; place++) {
            std::vector<u8> damaged = good;
            size_t at = 8;
            while (std::memcmp(damaged.data() + at + 4, type, 4) != 0) at += 12 + pngReadU32(damaged.data() + at);
            const u32 length = pngReadU32(damaged.data() + at);
            damaged[place == 0 || length == 0 ? at + 8 + length : at + 8 + length / 2] ^= 0x10;
            EXPECT_EQ(messageOf(damaged), std::string("CRC-32 of the ") + type + " chunk does not match its contents");
        }
    }
    const std::vector<u8> stream = pngIdatData(good);
    auto withStream = [&](const std::vector<u8>& data) {
        std::vector<u8> file = pngSignature();
        pngAppendChunk(&file, "IHDR", pngIhdr(6, 4, 8, 6));
        pngAppendChunk(&file, "IDAT", data);
        pngAppendChunk(&file, "IEND", {});
        return file;
    };
    // Any single flipped bit in the stream gives an error, or (a bit the format ignores, such as the
    // padding after a stored block's header) the very same pixels.
    const Decoded original = decode(withStream(stream), 0, 1, 4096, 4096);
    ASSERT_EQ(message(original.result), "");
    for (size_t i = 2; i < stream.size(); i++) {
        for (int bit = 0; bit < 8; bit++) {
            std::vector<u8> data = stream;
            data[i] ^= u8(1 << bit);
            Decoded d = decode(withStream(data), 0, 1, 4096, 4096);
            if (message(d.result).empty()) {
                EXPECT_EQ(d.pixels, original.pixels) << i << " bit " << bit;
            }
        }
    }
    std::vector<u8> badAdler = stream;
    badAdler.back() ^= 1;
    u32 stored = pngReadU32(badAdler.data() + badAdler.size() - 4);
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", stored);
    EXPECT_EQ(messageOf(withStream(badAdler)), std::string("Zlib Adler-32 checksum 0x") + hex + " does not match the inflated data");

    std::vector<u8> header = stream;
    header[0] = 0x77;
    EXPECT_EQ(messageOf(withStream(header)), "Invalid Zlib compression method (found 7, should be 8)");
    header[0] = 0x88;
    EXPECT_EQ(messageOf(withStream(header)), "PNG spec forbids LZ77 window sizes greater than 32768 (CINFO was 8)");
    header[0] = 0x78;
    header[1] = 0x20 | 0x9C;
    EXPECT_EQ(messageOf(withStream(header)), "PNG spec forbids Zlib dictionaries (FLAGS was 0xBC)");
    EXPECT_EQ(messageOf(good, 10), "Inflated data didn't fit in the scratch memory");
    std::vector<u8> broken = {0x78, 0x9C, 0x07, 0, 0, 0, 0};  // BTYPE 3
    EXPECT_EQ(messageOf(withStream(broken)), "Deflated data was incorrectly formatted");

    // Raw rows built by hand: too few rows, an unknown filter, a palette index past the palette.
    std::vector<u8> rows(4 * (1 + 24), 0);
    std::vector<u8> shortRows(rows.begin(), rows.end() - 1);
    EXPECT_EQ(messageOf(withStream(zlibCompress(shortRows))), "Inflated image data is 99 bytes, but the image needs 100");
    rows[25] = 5;
    EXPECT_EQ(messageOf(withStream(zlibCompress(rows))), "Unsupported row filter type 5");
    std::vector<u8> paletted = pngSignature();
    pngAppendChunk(&paletted, "IHDR", pngIhdr(2, 1, 8, 3));
    pngAppendChunk(&paletted, "PLTE", {1, 2, 3, 4, 5, 6});
    pngAppendChunk(&paletted, "IDAT", zlibCompress({0, 1, 2}));
    EXPECT_EQ(messageOf(paletted), "Palette index 2 is beyond palette length 2");
    // Oversized PLTE and tRNS chunks are read up to the tables' size.
    std::vector<u8> big = pngSignature();
    pngAppendChunk(&big, "IHDR", pngIhdr(1, 1, 8, 3));
    pngAppendChunk(&big, "PLTE", std::vector<u8>(900, 7));
    pngAppendChunk(&big, "tRNS", std::vector<u8>(300, 9));
    pngAppendChunk(&big, "IDAT", zlibCompress({0, 255}));
    Decoded d = decode(big, 0, 1);
    EXPECT_EQ(message(d.result), "");
    EXPECT_EQ(d.pixels, (std::vector<u8>{7, 7, 7, 9}));
}

TEST(Png, HugeSizesAreRefusedWithoutOverflow) {
    std::vector<u8> file = pngSignature();
    pngAppendChunk(&file, "IHDR", pngIhdr(0xFFFFFFFFu, 0xFFFFFFFFu, 16, 6));
    pngAppendChunk(&file, "IEND", {});
    ImageResult result{};
    u8 pixels[16];
    u8 scratch[16];
    parsePng(&result, file.data(), i64(file.size()), pixels, 16, 4, 1, scratch, 16);
    EXPECT_NE(message(result).find("imageBufferCapacity was only 16"), std::string::npos);
    parsePng(&result, file.data(), i64(file.size()), pixels, 16, 0, 255, scratch, 16);
    EXPECT_NE(message(result).find("imageBufferCapacity was only 16"), std::string::npos);
}
