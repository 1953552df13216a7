// Page fitting against numpy: block means of whole source cells (taken up to the next integer), the
// stretched or transparent bands of a source wider than the destination, and the thumbnail size.
#include <gtest/gtest.h>

#include "Core/MathPythonOracle.h"
#include "Overlays/RasterOverlayLoader.h"

namespace {

TEST(FitImage, BlockMeansMatchNumpy) {
    std::vector<double> numbers = mathoracle::runPython(R"(
import numpy
rng = numpy.random.default_rng(3)
for channels, (sw, sh), (dw, dh) in [(4, (60, 40), (30, 20)), (3, (60, 40), (15, 10)), (1, (33, 21), (11, 7)), (2, (20, 20), (20, 20))]:
    image = rng.integers(0, 256, size=(sh, sw, channels))
    fy, fx = sh // dh, sw // dw
    means = numpy.ceil(image.reshape(dh, fy, dw, fx, channels).mean(axis=(1, 3)) - 1e-9)
    print(channels, sw, sh, dw, dh, *image.flatten(), *means.flatten().astype(int))
)");
    ASSERT_GT(numbers.size(), 100u) << "Debian's Python with numpy is needed";
    size_t at = 0;
    int cases = 0;
    while (at < numbers.size()) {
        int channels = (int)numbers[at], sw = (int)numbers[at + 1], sh = (int)numbers[at + 2];
        int dw = (int)numbers[at + 3], dh = (int)numbers[at + 4];
        at += 5;
        std::vector<u8> source(sw * sh * channels), destination(dw * dh * channels);
        for (auto& v : source) v = (u8)numbers[at++];
        fitImageIntoImage(source.data(), sw, sh, sw * channels, destination.data(), dw, dh, dw * channels, channels);
        for (size_t i = 0; i < destination.size(); i++) ASSERT_EQ(destination[i], (u8)numbers[at++]) << "case " << cases << " byte " << i;
        cases++;
    }
    EXPECT_EQ(cases, 4);
}

TEST(FitImage, WideSourceGetsBandsAboveAndBelow) {
    // 200 x 100 into 100 x 100: all columns, 50 source rows of band above and below.
    std::vector<u8> source(200 * 100 * 4), destination(100 * 100 * 4);
    for (int y = 0; y < 100; y++) {
        for (int x = 0; x < 200; x++) {
            u8* p = &source[(y * 200 + x) * 4];
            p[0] = y < 50 ? 200 : 100, p[1] = 50, p[2] = 10, p[3] = 255;
        }
    }
    fitImageIntoImage(source.data(), 200, 100, 800, destination.data(), 100, 100, 400, 4);
    auto pixel = [&](int x, int y) { return &destination[(y * 100 + x) * 4]; };
    EXPECT_EQ(pixel(50, 10)[3], 0);  // transparent band
    EXPECT_EQ(pixel(50, 10)[0], 200);  // edge pixel stretched beneath the transparency
    EXPECT_EQ(pixel(50, 30)[3], 255);
    EXPECT_EQ(pixel(50, 30)[0], 200);
    EXPECT_EQ(pixel(50, 70)[0], 100);
    EXPECT_EQ(pixel(50, 90)[3], 0);
}

TEST(FitImage, ThumbnailOfALargePageStaysWithin262144Bytes) {
    u32 tw = 0, th = 0;
    choosePdfBinThumbnailSize(4000, 3000, &tw, &th);
    EXPECT_EQ(tw, 295u);
    EXPECT_EQ(th, 221u);
    choosePdfBinThumbnailSize(301, 7, &tw, &th);
    EXPECT_LE(tw * th * 4, 262144u);
    EXPECT_GE(th, 1u);
}

}  // namespace
