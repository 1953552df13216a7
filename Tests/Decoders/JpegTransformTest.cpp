// The JPEG decoder's transform paths: the vector ones give the portable one's bytes, and the whole
// decoder still gives the pixels the earlier decoder wrote for the reference files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "Decoders/Jpeg.h"
#include "Decoders/JpegTransform.h"
#include "Decoders/PngTestSupport.h"
#include "Tests/Decoders/DecoderTestFiles.h"

namespace {

std::vector<JpegTransformPath> availablePaths() {
    std::vector<JpegTransformPath> paths = {JpegTransformPortable};
#if defined(__x86_64__)
    paths.push_back(JpegTransformSse2);
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) paths.push_back(JpegTransformAvx2);
#endif
    return paths;
}

// Blocks as files give them (a few low-frequency terms, often only in the first rows or columns)
// and blocks no encoder writes: every term set, terms at the vector paths' limit, and the portable
// path's whole range.
TEST(JpegTransform, VectorTransformsGiveThePortableSamples) {
    std::mt19937 random(20261);
    for (i32 n = 0; n < 30000; n++) {
        alignas(32) i32 coefficients[64] = {};
        i32 limit = n % 4 == 0 ? (i32)kJpegVectorMagnitudeLimit - 1 : n % 4 == 1 ? 2048 : 300;
        i32 rows = 1 + (i32)(random() % 8), columns = 1 + (i32)(random() % 8);
        i32 terms = n % 3 == 0 ? 64 : 1 + (i32)(random() % 12);
        for (i32 t = 0; t < terms; t++) {
            i32 at = terms == 64 ? t : (i32)(random() % (u32)rows) * 8 + (i32)(random() % (u32)columns);
            i32 value = (i32)(random() % (2 * (u32)limit + 1)) - limit;
            if (n % 17 == 0) value = random() & 1 ? limit : -limit;
            coefficients[at] = value;
        }
        u32 magnitude = 0;
        u64 present = 0;
        for (i32 i = 0; i < 64; i++) {
            magnitude |= (u32)std::abs(coefficients[i]);
            if (coefficients[i]) present |= 1ull << i;
        }
        u8 expected[64];
        inverseDctPortable(expected, 8, coefficients);
        for (JpegTransformPath path : availablePaths()) {
            for (u64 mask : {present | 1, ~(u64)0}) {
                u8 samples[8 * 24];
                std::memset(samples, 0xAB, sizeof samples);
                inverseDct(path, samples + 8, 24, coefficients, magnitude, mask);
                for (i32 y = 0; y < 8; y++) {
                    ASSERT_EQ(0, std::memcmp(samples + 8 + 24 * y, expected + 8 * y, 8)) << "path " << path << " block " << n;
                    // Nothing beside the block's rows is touched.
                    ASSERT_EQ(samples[24 * y + 7], 0xAB);
                    ASSERT_EQ(samples[24 * y + 16], 0xAB);
                }
            }
        }
        // Terms beyond the vector paths' range take the portable transform whatever the path.
        if (n % 50 == 0) {
            coefficients[n % 64] = n & 64 ? 65536 : -65536;
            inverseDctPortable(expected, 8, coefficients);
            u8 samples[64];
            inverseDct(availablePaths().back(), samples, 8, coefficients, 65536, ~0ull);
            ASSERT_EQ(0, std::memcmp(samples, expected, 64)) << "block " << n;
        }
    }
}

TEST(JpegTransform, VectorColourConversionGivesThePortablePixels) {
    std::mt19937 random(7);
    for (i32 count = 0; count <= 40; count++) {
        for (u32 channels : {3u, 4u}) {
            for (i32 half = 0; half < 4; half++) {
                std::vector<u8> planes(3 * 2 * 48);
                for (u8& b : planes) b = (u8)random();
                // The corners of the colour cube, where the clamps act.
                for (i32 i = 0; i < 8; i++) {
                    planes[i] = i & 1 ? 255 : 0;
                    planes[96 + i] = i & 2 ? 255 : 0;
                    planes[192 + i] = i & 4 ? 255 : 0;
                }
                YCbCrRows rows{planes.data(), planes.data() + 96, planes.data() + 192, 48, 48, count, 2,
                               (half & 1) != 0, (half & 2) != 0};
                std::vector<u8> expected(2 * 200, 0xCD);
                convertYCbCrRowsPortable(expected.data(), 200, channels, &rows);
                ASSERT_EQ(expected[count * channels], 0xCD);
                for (JpegTransformPath path : availablePaths()) {
                    std::vector<u8> actual(2 * 200, 0xCD);
                    convertYCbCrRows(path, actual.data(), 200, channels, &rows);
                    ASSERT_EQ(expected, actual) << "path " << path << ", " << count << " pixels, " << channels
                                                << " channels, halves " << half;
                }
            }
        }
    }
}

// Files decoded by the decoder before its transforms were vectorised, kept with its output.
TEST(JpegTransform, PixelsWithinOneOfTheEarlierDecoderOnEveryPath) {
    const std::string folder = std::string(ORVIK_SOURCE_DIR) + "/Tests/Decoders/JpegReference/";
    for (const char* name : {"s420-q85", "s422-q90", "s440-q90", "s444-q95", "s420-q100", "s420-q20", "grey-q85",
                             "scans-q80", "s420-q3"}) {
        SCOPED_TRACE(name);
        decodertest::Bytes file = decodertest::readFile(folder + name + ".jpg");
        PngPicture reference;
        ASSERT_TRUE(libpngRead(decodertest::readFile(folder + name + ".png"), &reference));
        u32 channels = (u32)pngChannelsOf(reference.colorType);
        for (JpegTransformPath path : availablePaths()) {
            for (u32 asked : {channels, 4u}) {
                SCOPED_TRACE("path " + std::to_string(path) + ", " + std::to_string(asked) + " channels");
                std::vector<u8> pixels(1 << 16);
                ImageResult result;
                parseJpegWithPath(&result, file.data(), (i64)file.size(), pixels.data(), (i64)pixels.size(), asked, 4,
                                  path);
                ASSERT_EQ(std::string(result.error.text, result.error.length), "");
                ASSERT_EQ(result.width, reference.width);
                ASSERT_EQ(result.height, reference.height);
                i32 worst = 0;
                for (u32 y = 0; y < reference.height; y++) {
                    for (u32 x = 0; x < reference.width; x++) {
                        const u8* ours = result.pixels + y * result.rowStride + x * asked;
                        const u8* theirs = reference.samples.data() + (y * reference.width + x) * channels;
                        for (u32 c = 0; c < 3; c++) {
                            i32 want = theirs[channels == 1 ? 0 : c];
                            worst = std::max(worst, std::abs(ours[asked == 1 ? 0 : c] - want));
                            if (asked == 1) break;
                        }
                        if (asked == 4) {
                            ASSERT_EQ(ours[3], 255);
                        }
                    }
                }
                EXPECT_LE(worst, 1);
            }
        }
    }
}

}  // namespace
