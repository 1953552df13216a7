// encodePng files read back by libpng and by parsePng, and accepted by pngcheck.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "Core/FixedString.h"
#include "Decoders/Png.h"
#include "Decoders/PngTestSupport.h"

namespace {

std::vector<u8> encode(const std::vector<u8>& pixels, i32 width, u32 height, i32 alignment, u32 format, i32 saveAs,
                       std::string* error) {
    ByteWriter measure = makeMeasuringWriter();
    FixedString result;
    encodePng(&result, pixels.data(), width, height, alignment, format, saveAs, &measure);
    std::vector<u8> file(size_t(measure.length));
    ByteWriter writer = makeByteWriter(file.data(), i64(file.size()));
    encodePng(&result, pixels.data(), width, height, alignment, format, saveAs, &writer);
    *error = std::string(result.text, result.length);
    EXPECT_EQ(writer.length, measure.length);
    EXPECT_FALSE(writer.overflow);
    return file;
}

bool pngcheckAccepts(const std::vector<u8>& file) {
    std::string path = testing::TempDir() + "orvik-encode-" + std::to_string(::getpid()) + ".png";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), long(file.size()));
    int status = std::system(("pngcheck -q '" + path + "' >/dev/null 2>&1").c_str());
    std::remove(path.c_str());
    return status == 0;
}

}  // namespace

TEST(PngEncode, LibpngPngcheckAndParsePngReadItBack) {
    std::mt19937 random(4);
    for (u32 format = 1; format <= 4; format++) {
        for (i32 saveAs = 1; saveAs <= 4; saveAs++) {
            for (i32 alignment : {1, 4}) {
                const i32 width = 1 + i32(random() % 40);
                const u32 height = 1 + random() % 20;
                const size_t stride = (size_t(width) * format + size_t(alignment) - 1) / size_t(alignment) * size_t(alignment);
                std::vector<u8> pixels(stride * height);
                for (size_t i = 0; i < pixels.size(); i++) pixels[i] = u8(random() % 4 ? i * 3 : random());
                std::string error;
                std::vector<u8> file = encode(pixels, width, height, alignment, format, saveAs, &error);
                ASSERT_EQ(error, "");
                ASSERT_TRUE(pngcheckAccepts(file)) << format << " as " << saveAs;
                PngPicture back;
                ASSERT_TRUE(libpngRead(file, &back));
                ASSERT_EQ(back.width, u32(width));
                ASSERT_EQ(back.bitDepth, 8);
                ASSERT_EQ(pngChannelsOf(back.colorType), saveAs);
                for (u32 y = 0; y < height; y++)
                    for (i32 x = 0; x < width; x++) {
                        const u8* in = pixels.data() + y * stride + size_t(x) * format;
                        u8 r = in[0], g = format >= 3 ? in[1] : in[0], b = format >= 3 ? in[2] : in[0];
                        u8 a = format == 4 ? in[3] : format == 2 ? in[1] : 255;
                        u8 want[4] = {r, g, b, a};
                        if (saveAs <= 2) {
                            want[0] = u8((r + g + b) / 3);
                            want[1] = a;
                        }
                        const u8* got = back.samples.data() + (y * u32(width) + u32(x)) * u32(saveAs);
                        for (i32 c = 0; c < saveAs; c++) ASSERT_EQ(got[c], want[c]) << x << "," << y;
                    }
                // parsePng agrees with libpng on our files.
                std::vector<u8> decoded(size_t(width) * height * u32(saveAs));
                std::vector<u8> scratch(height * (1 + size_t(width) * u32(saveAs)));
                ImageResult result{};
                parsePng(&result, file.data(), i64(file.size()), decoded.data(), i64(decoded.size()), 0, 1, scratch.data(),
                         i64(scratch.size()));
                ASSERT_EQ(std::string(result.error.text, result.error.length), "");
                EXPECT_EQ(decoded, back.samples);
            }
        }
    }
}

TEST(PngEncode, RowsSpanningSeveralBlocks) {
    // 1000 x 100 RGBA: 16 rows per 64 KiB group, 7 blocks, BFINAL only on the last.
    const i32 width = 1000;
    const u32 height = 100;
    std::vector<u8> pixels(size_t(width) * height * 4);
    std::mt19937 random(8);
    for (size_t i = 0; i < pixels.size(); i++) pixels[i] = u8(i % 4 == 3 ? 200 : (i / 4 + random() % 3));
    std::string error;
    std::vector<u8> file = encode(pixels, width, height, 1, 4, 4, &error);
    ASSERT_EQ(error, "");
    EXPECT_TRUE(pngcheckAccepts(file));
    PngPicture back;
    ASSERT_TRUE(libpngRead(file, &back));
    EXPECT_TRUE(back.samples == pixels);
    std::vector<u8> decoded(pixels.size());
    std::vector<u8> scratch(size_t(height) * (1 + size_t(width) * 4));
    ImageResult result{};
    parsePng(&result, file.data(), i64(file.size()), decoded.data(), i64(decoded.size()), 4, 1, scratch.data(),
             i64(scratch.size()));
    EXPECT_EQ(std::string(result.error.text, result.error.length), "");
    EXPECT_TRUE(decoded == pixels);
    // Count the blocks with zlib, which stops after each one with Z_BLOCK.
    std::vector<u8> stream = pngIdatData(file);
    std::vector<u8> raw(size_t(height) * (1 + size_t(width) * 4));
    int blocks = 0;
    int finals = 0;  // the block that carried BFINAL
    z_stream z{};
    inflateInit2(&z, -15);
    std::vector<u8> sink(raw.size());
    z.next_in = stream.data() + 2;
    z.avail_in = uInt(stream.size() - 6);
    z.next_out = sink.data();
    z.avail_out = uInt(sink.size());
    int status = Z_OK;
    while (status == Z_OK) {
        status = ::inflate(&z, Z_BLOCK);
        if ((z.data_type & 128) && status == Z_OK) {
            blocks++;
            if (z.data_type & 64) finals = blocks;
        }
    }
    inflateEnd(&z);
    EXPECT_EQ(status, Z_STREAM_END);
    EXPECT_EQ(blocks, 7);
    EXPECT_EQ(finals, 7);  // the final bit on the last block only
}

TEST(PngEncode, Messages) {
    std::vector<u8> pixels(16384 * 4 + 16, 1);
    std::string error;
    encode(pixels, 16383, 1, 1, 4, 4, &error);
    EXPECT_EQ(error, "");
    encode(pixels, 16384, 1, 1, 4, 4, &error);
    EXPECT_EQ(error, "Png is too wide. Can't be more than 16383 (was 16384).");
    encode(pixels, 4, 1, 1, 4, 5, &error);
    EXPECT_EQ(error, "Unsupported saveAsColorFormat 5");
    encode(pixels, 4, 1, 1, 7, 4, &error);
    EXPECT_EQ(error, "Unsupported colorFormat 7");
    encode(pixels, 0, 1, 1, 4, 4, &error);
    EXPECT_EQ(error, "Width or height is 0 (0x1)");
}
