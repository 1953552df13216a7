// JPEG decoding checked against libjpeg-turbo over files written by cjpeg and Pillow.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Decoders/Jpeg.h"
#include "Tests/Decoders/DecoderTestFiles.h"

namespace {

using decodertest::Bytes;
using decodertest::readFile;
using decodertest::TempFolder;

// A smooth picture with edges and some texture, written as a binary PPM.
void writeSourcePpm(const std::string& path, i32 width, i32 height) {
    std::string data = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    u32 noise = 12345;
    for (i32 y = 0; y < height; y++) {
        for (i32 x = 0; x < width; x++) {
            noise = noise * 1103515245u + 12345u;
            i32 grain = (i32)((noise >> 16) & 15) - 8;
            i32 r = x * 255 / (width > 1 ? width - 1 : 1);
            i32 g = y * 255 / (height > 1 ? height - 1 : 1);
            i32 b = ((x / 9 + y / 7) & 1) ? 200 : 40;
            auto clamp = [](i32 v) { return (char)(v < 0 ? 0 : v > 255 ? 255 : v); };
            data += clamp(r + grain);
            data += clamp(g - grain);
            data += clamp(b + grain / 2);
        }
    }
    std::ofstream(path, std::ios::binary) << data;
}

Bytes runCjpeg(const TempFolder& folder, const std::string& options, i32 width, i32 height) {
    std::string source = folder.file("source.ppm");
    writeSourcePpm(source, width, height);
    std::string out = folder.file("out.jpg");
    std::string command = "cjpeg " + options + " -outfile '" + out + "' '" + source + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return readFile(out);
}

struct Reference {
    i32 width = 0;
    i32 height = 0;
    i32 channels = 0;
    Bytes pixels;
};

// libjpeg-turbo's decode with the float IDCT and sample repetition for the chroma planes.
Reference decodeWithLibjpeg(const Bytes& file, J_COLOR_SPACE space) {
    Reference ref;
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), (unsigned long)file.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = space;
    info.dct_method = JDCT_FLOAT;
    info.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&info);
    ref.width = (i32)info.output_width;
    ref.height = (i32)info.output_height;
    ref.channels = info.output_components;
    ref.pixels.resize((size_t)ref.width * ref.height * ref.channels);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = ref.pixels.data() + (size_t)info.output_scanline * ref.width * ref.channels;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return ref;
}

struct Decoded {
    ImageResult result{};
    Bytes pixels;
};

Decoded decode(const Bytes& file, u32 channels, u8 alignment = 1, i64 capacity = 1 << 24) {
    Decoded d;
    d.pixels.assign((size_t)capacity, 0xAB);
    parseJpeg(&d.result, file.data(), (i64)file.size(), d.pixels.data(), capacity, channels, alignment);
    return d;
}

std::string errorText(const ImageResult& r) { return std::string(r.error.text, r.error.length); }

// Compares with the reference: no sample may differ by more than maxDifference.
void expectClose(const Decoded& d, const Reference& ref, i32 maxDifference) {
    ASSERT_EQ(errorText(d.result), "");
    ASSERT_EQ((i32)d.result.width, ref.width);
    ASSERT_EQ((i32)d.result.height, ref.height);
    ASSERT_EQ((i32)d.result.channels, ref.channels);
    i32 worst = 0;
    f64 total = 0;
    for (i32 y = 0; y < ref.height; y++) {
        for (i32 x = 0; x < ref.width * ref.channels; x++) {
            i32 ours = d.result.pixels[(size_t)y * d.result.rowStride + x];
            i32 theirs = ref.pixels[(size_t)y * ref.width * ref.channels + x];
            worst = std::max(worst, std::abs(ours - theirs));
            total += std::abs(ours - theirs);
        }
    }
    EXPECT_LE(worst, maxDifference);
    EXPECT_LT(total / ((f64)ref.width * ref.height * ref.channels), 0.6);
}

// Segments of a JPEG: offset of each marker's 0xFF and its code.
std::vector<std::pair<size_t, u8>> segments(const Bytes& f) {
    std::vector<std::pair<size_t, u8>> list;
    size_t p = 2;
    while (p + 4 <= f.size() && f[p] == 0xFF) {
        u8 code = f[p + 1];
        list.push_back({p, code});
        if (code == 0xDA || code == 0xD9) break;
        p += 2 + ((f[p + 2] << 8) | f[p + 3]);
    }
    return list;
}

// Moves every DHT table into one DHT segment, as cameras and tile servers write them.
Bytes mergeHuffmanSegments(const Bytes& f) {
    Bytes tables;
    Bytes out(f.begin(), f.begin() + 2);
    size_t firstDht = 0;
    size_t scanStart = 0;
    for (auto [offset, code] : segments(f)) {
        size_t length = (f[offset + 2] << 8) | f[offset + 3];
        if (code == 0xC4) {
            if (!firstDht) firstDht = out.size();
            tables.insert(tables.end(), f.begin() + offset + 4, f.begin() + offset + 2 + length);
        } else if (code == 0xDA) {
            scanStart = offset;
            break;
        } else {
            out.insert(out.end(), f.begin() + offset, f.begin() + offset + 2 + length);
        }
    }
    Bytes dht = {0xFF, 0xC4, (u8)((tables.size() + 2) >> 8), (u8)(tables.size() + 2)};
    dht.insert(dht.end(), tables.begin(), tables.end());
    out.insert(out.begin() + (i64)firstDht, dht.begin(), dht.end());
    out.insert(out.end(), f.begin() + (i64)scanStart, f.end());
    return out;
}

TEST(Jpeg, BaselineSamplingsMatchLibjpeg) {
    TempFolder folder("jpeg");
    struct Case {
        const char* options;
        i32 width, height;
    };
    const Case cases[] = {
        {"-baseline -quality 85 -sample 1x1", 67, 45}, {"-baseline -quality 85 -sample 2x1", 67, 45},
        {"-baseline -quality 85 -sample 2x2", 67, 45}, {"-baseline -quality 95 -sample 2x2", 33, 17},
        {"-baseline -quality 75 -sample 2x2", 1, 1},   {"-baseline -quality 90 -sample 1x2", 40, 31},
        {"-baseline -quality 85 -sample 2x2 -optimize", 129, 70},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.options) + " " + std::to_string(c.width) + "x" + std::to_string(c.height));
        Bytes file = runCjpeg(folder, c.options, c.width, c.height);
        expectClose(decode(file, 3), decodeWithLibjpeg(file, JCS_RGB), 3);
        // The Y plane alone when one channel is asked for.
        expectClose(decode(file, 1), decodeWithLibjpeg(file, JCS_GRAYSCALE), 2);
    }
}

TEST(Jpeg, GreyscaleChannelsAndSampling) {
    TempFolder folder("jpeg");
    for (const char* options : {"-baseline -grayscale", "-baseline -grayscale -sample 2x2"}) {
        SCOPED_TRACE(options);
        Bytes file = runCjpeg(folder, options, 67, 45);
        Reference ref = decodeWithLibjpeg(file, JCS_GRAYSCALE);
        Decoded own = decode(file, 0);
        EXPECT_EQ(own.result.channels, 1u);
        expectClose(own, ref, 2);
        Decoded four = decode(file, 4);
        ASSERT_EQ(errorText(four.result), "");
        Decoded one = decode(file, 1);
        for (i32 y = 0; y < 45; y++) {
            for (i32 x = 0; x < 67; x++) {
                const u8* p = four.result.pixels + y * four.result.rowStride + x * 4;
                u8 grey = one.result.pixels[y * one.result.rowStride + x];
                ASSERT_EQ(p[0], grey);
                ASSERT_EQ(p[1], grey);
                ASSERT_EQ(p[2], grey);
                ASSERT_EQ(p[3], 255);
            }
        }
    }
}

TEST(Jpeg, ColourAsRgbaAndGreyAlphaWithAlignedRows) {
    TempFolder folder("jpeg");
    Bytes file = runCjpeg(folder, "-baseline -sample 2x2", 67, 45);
    Decoded rgb = decode(file, 3);
    Decoded rgba = decode(file, 4, 16);
    ASSERT_EQ(errorText(rgba.result), "");
    EXPECT_EQ(rgba.result.rowStride, 272u);
    Decoded ya = decode(file, 2, 4);
    EXPECT_EQ(ya.result.rowStride, 136u);
    Decoded y = decode(file, 1);
    for (i32 row = 0; row < 45; row++) {
        for (i32 x = 0; x < 67; x++) {
            for (i32 c = 0; c < 3; c++) {
                ASSERT_EQ(rgba.result.pixels[row * 272 + x * 4 + c], rgb.result.pixels[row * rgb.result.rowStride + x * 3 + c]);
            }
            ASSERT_EQ(rgba.result.pixels[row * 272 + x * 4 + 3], 255);
            ASSERT_EQ(ya.result.pixels[row * 136 + x * 2], y.result.pixels[row * y.result.rowStride + x]);
            ASSERT_EQ(ya.result.pixels[row * 136 + x * 2 + 1], 255);
        }
        // Alignment padding past the last pixel is left alone.
        ASSERT_EQ(rgba.result.pixels[row * 272 + 268], 0xAB);
    }
    // Nothing is written beyond the image.
    for (size_t i = (size_t)272 * 45; i < (size_t)272 * 46; i++) ASSERT_EQ(rgba.pixels[i], 0xAB);
}

TEST(Jpeg, SixteenBitQuantisationTables) {
    TempFolder folder("jpeg");
    Bytes file = runCjpeg(folder, "-quality 3 -sample 2x2", 67, 45);
    bool sixteenBit = false;
    for (auto [offset, code] : segments(file)) {
        if (code == 0xDB && (file[offset + 4] >> 4) == 1) sixteenBit = true;
    }
    ASSERT_TRUE(sixteenBit) << "cjpeg wrote no 16-bit table";
    expectClose(decode(file, 3), decodeWithLibjpeg(file, JCS_RGB), 3);
}

TEST(Jpeg, MergedHuffmanSegmentDefinesEveryTable) {
    TempFolder folder("jpeg");
    Bytes file = runCjpeg(folder, "-baseline -sample 2x2", 67, 45);
    Bytes merged = mergeHuffmanSegments(file);
    i32 dhtCount = 0;
    for (auto [offset, code] : segments(merged)) dhtCount += code == 0xC4;
    ASSERT_EQ(dhtCount, 1);
    Decoded a = decode(file, 3);
    Decoded b = decode(merged, 3);
    ASSERT_EQ(errorText(b.result), "");
    EXPECT_EQ(a.pixels, b.pixels);
    expectClose(b, decodeWithLibjpeg(merged, JCS_RGB), 3);
}

TEST(Jpeg, SingleComponentScansUseTheComponentGrid) {
    TempFolder folder("jpeg");
    std::ofstream(folder.file("scans.txt")) << "0;\n1;\n2;\n";
    Bytes file = runCjpeg(folder, "-sample 2x2 -scans '" + folder.file("scans.txt") + "'", 67, 45);
    i32 scans = 0;
    for (size_t i = 0; i + 1 < file.size(); i++) scans += file[i] == 0xFF && file[i + 1] == 0xDA;
    ASSERT_EQ(scans, 3);
    expectClose(decode(file, 3), decodeWithLibjpeg(file, JCS_RGB), 3);
}

TEST(Jpeg, PillowFiles) {
    TempFolder folder("jpeg");
    std::string script = "from PIL import Image\n"
                         "im = Image.new('RGB', (50, 37))\n"
                         "im.putdata([((x * 5) % 256, (y * 7) % 256, (x * y) % 256) for y in range(37) for x in range(50)])\n"
                         "im.save('" + folder.file("p420.jpg") + "', quality=80, subsampling=2)\n"
                         "im.save('" + folder.file("p444.jpg") + "', quality=92, subsampling=0, optimize=True)\n"
                         "im.convert('L').save('" + folder.file("grey.jpg") + "', quality=70)\n";
    std::ofstream(folder.file("make.py")) << script;
    ASSERT_EQ(std::system(("/usr/bin/python3 '" + folder.file("make.py") + "'").c_str()), 0);
    for (const char* name : {"p420.jpg", "p444.jpg"}) {
        SCOPED_TRACE(name);
        Bytes file = readFile(folder.file(name));
        expectClose(decode(file, 3), decodeWithLibjpeg(file, JCS_RGB), 3);
    }
    Bytes grey = readFile(folder.file("grey.jpg"));
    expectClose(decode(grey, 0), decodeWithLibjpeg(grey, JCS_GRAYSCALE), 2);
}

TEST(Jpeg, UnsupportedCodingsAreReported) {
    TempFolder folder("jpeg");
    Bytes progressive = runCjpeg(folder, "-progressive", 67, 45);
    EXPECT_EQ(errorText(decode(progressive, 3).result), "Unsupported frame type 0xC2.");
    Bytes arithmetic = runCjpeg(folder, "-arithmetic", 67, 45);
    EXPECT_EQ(errorText(decode(arithmetic, 3).result), "Unsupported frame type 0xC9.");
    Bytes restarts = runCjpeg(folder, "-baseline -restart 1", 67, 45);
    EXPECT_EQ(errorText(decode(restarts, 3).result), "Unexpected marker 0xFFD0 in scan line.");
}

TEST(Jpeg, HeaderAndTruncationMessages) {
    TempFolder folder("jpeg");
    Bytes file = runCjpeg(folder, "-baseline -sample 2x2", 67, 45);
    ImageResult r{};
    u8 pixels[16];
    parseJpeg(&r, nullptr, 0, pixels, 16, 3, 1);
    EXPECT_EQ(errorText(r), "JPEG bytes pointer was NULL");
    parseJpeg(&r, file.data(), 19, pixels, 16, 3, 1);
    EXPECT_EQ(errorText(r), "Insufficient bytes (19 bytes) for JPEG header (20 bytes)");
    Bytes png = {0x89, 'P', 'N', 'G'};
    png.resize(40);
    parseJpeg(&r, png.data(), 40, pixels, 16, 3, 1);
    EXPECT_EQ(errorText(r), "First two bytes weren't 0xFFD8");

    // Cut inside the scan data, and cut just before the end marker.
    Bytes cut(file.begin(), file.begin() + (i64)file.size() / 2);
    EXPECT_EQ(errorText(decode(cut, 3).result), "Parsing scan line, but encountered end of data.");
    Bytes noEnd(file.begin(), file.end() - 2);
    EXPECT_EQ(errorText(decode(noEnd, 3).result), "Read all segments but didn't encounter end of image (0xFFD9)");
    // Cut inside a segment's body.
    size_t dqt = segments(file)[1].first;
    for (auto [offset, code] : segments(file)) {
        if (code == 0xDB) dqt = offset;
    }
    Bytes inSegment(file.begin(), file.begin() + (i64)dqt + 30);
    EXPECT_EQ(errorText(decode(inSegment, 3).result), "Insufficient bytes to read segment 0xFFDB");
}

TEST(Jpeg, SmallBufferIsReportedButTheFileIsStillRead) {
    TempFolder folder("jpeg");
    Bytes file = runCjpeg(folder, "-baseline -sample 2x2", 67, 45);
    Decoded small = decode(file, 4, 4, 1000);
    EXPECT_EQ(errorText(small.result),
              "67x45 image with 4 channels and with rows starting on multiples of 4 bytes requires 12060 bytes of "
              "memory. imageBufferCapacity was only 1000");
    EXPECT_EQ(small.result.pixels, nullptr);
    for (u8 b : small.pixels) ASSERT_EQ(b, 0xAB);
    Bytes noEnd(file.begin(), file.end() - 2);
    Decoded both = decode(noEnd, 4, 4, 1000);
    EXPECT_EQ(errorText(both.result), "Read all segments but didn't encounter end of image (0xFFD9)");
}

// Malformed tables and factors must be refused without reading or writing out of bounds.
TEST(Jpeg, MalformedTablesAreRefused) {
    TempFolder folder("jpeg");
    Bytes file = runCjpeg(folder, "-baseline -sample 2x2", 67, 45);
    size_t sof = 0, dht = 0, dqt = 0, sos = 0;
    for (auto [offset, code] : segments(file)) {
        if (code == 0xC0) sof = offset;
        if (code == 0xC4 && !dht) dht = offset;
        if (code == 0xDB && !dqt) dqt = offset;
        if (code == 0xDA) sos = offset;
    }
    auto withByte = [&](size_t at, u8 value) {
        Bytes copy = file;
        copy[at] = value;
        return errorText(decode(copy, 3).result);
    };
    EXPECT_EQ(withByte(sof + 4, 12), "Only 8-bit jpeg supported.");
    EXPECT_EQ(withByte(sof + 9, 4), "More than 3 image components in the frame.");
    EXPECT_EQ(withByte(sof + 11, 0x20), "For image component 0x01, a sampling factor is 0 (2 by 0).");
    EXPECT_EQ(withByte(sof + 14, 0x31),
              "For image component 0x01, The horizontal sampling factor (2) does not divide evenly into the maximum "
              "sampling factor (3).");
    EXPECT_EQ(withByte(sof + 14, 0x13),
              "For image component 0x01, The vertical sampling factor (2) does not divide evenly into the maximum "
              "sampling factor (3).");
    EXPECT_EQ(withByte(dqt + 4, 0x04), "Unrecognized quantization table destination identifier: 4. Expected 0-3.");
    EXPECT_EQ(withByte(dqt + 4, 0x20),
              "Unrecognized quantization table precision value: 2. Expected 0 (8 bit) or 1 (16 bit).");
    EXPECT_EQ(withByte(dqt + 4, 0x10), "Quantization table doesn't fit within segment length");
    EXPECT_EQ(withByte(dht + 4, 0x05), "Unrecognized huffman table destination identifier: 5. Expected 0-3.");
    EXPECT_EQ(withByte(dht + 5 + 15, 200), "Huffman table doesn't fit within segment length");
    {
        // Three codes of length 1, with the table's symbol total kept.
        Bytes copy = file;
        size_t longer = dht + 6;
        while (copy[longer] < 3) longer++;
        copy[longer] -= 3;
        copy[dht + 5] += 3;
        EXPECT_EQ(errorText(decode(copy, 3).result), "Huffman table has more codes than its code lengths allow");
    }
    EXPECT_EQ(withByte(sos + 4, 4), "Scan line has more than 3 components.");
    EXPECT_EQ(withByte(sos + 5, 9),
              "Didn't find 0x09 in one of the image components described at the start of the frame.");
    EXPECT_EQ(withByte(sos + 6, 0x55), "Scan component 0x01 selects Huffman tables 5 and 5. Expected 0-3.");
    // A scan that selects tables no DHT defined.
    EXPECT_EQ(withByte(sos + 6, 0x33), "Invalid Huffman table symbol");
}

}  // namespace
