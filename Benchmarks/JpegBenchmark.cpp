// parseJpeg against libjpeg-turbo on a map-tile-sized and a full-HD baseline 4:2:0 JPEG, the two
// decoders doing the same work (libjpeg-turbo with plain upsampling, as ours) and alternating within
// each iteration; the ratio is ours / libjpeg-turbo, and largest_difference the largest difference of
// one sample between the two pictures.
#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "Benchmarks/ReferenceRatio.h"
#include "Decoders/Jpeg.h"

namespace {

// A picture with gradients, edges and grain, compressed by libjpeg-turbo at quality 85, 4:2:0.
std::vector<u8> makeJpeg(int width, int height) {
    std::vector<u8> rgb((size_t)width * height * 3);
    u32 noise = 7;
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            noise = noise * 1103515245u + 12345u;
            int grain = (int)((noise >> 16) & 31) - 16;
            u8* p = &rgb[((size_t)y * width + x) * 3];
            p[0] = (u8)std::min(255, std::max(0, x * 255 / width + grain));
            p[1] = (u8)std::min(255, std::max(0, y * 255 / height - grain));
            p[2] = ((x / 23 + y / 17) & 1) ? 210 : 30;
        }
    }
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = (JDIMENSION)width;
    info.image_height = (JDIMENSION)height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 85, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = &rgb[(size_t)info.next_scanline * width * 3];
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<u8> file(out, out + size);
    jpeg_destroy_compress(&info);
    std::free(out);
    return file;
}

// libjpeg-turbo set to the work ours does: RGB out, chroma upsampled by plain replication (no
// "fancy" interpolation), the default integer IDCT.
bool decodeWithLibjpeg(const std::vector<u8>& file, std::vector<u8>* pixels, int width) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), (unsigned long)file.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    info.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &(*pixels)[(size_t)info.output_scanline * width * 3];
        jpeg_read_scanlines(&info, &row, 1);
    }
    bool whole = info.output_scanline == info.output_height;
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return whole;
}

void parseJpegBeside(benchmark::State& state) {
    int width = (int)state.range(0), height = (int)state.range(1);
    std::vector<u8> file = makeJpeg(width, height);
    std::vector<u8> ours((size_t)width * height * 3), theirs(ours.size());
    auto decodeOurs = [&] {
        ImageResult result;
        parseJpeg(&result, file.data(), (i64)file.size(), ours.data(), (i64)ours.size(), 3, 1);
        benchmark::DoNotOptimize(ours.data());
        return result.error.length == 0;
    };
    // The same work: both give the same picture, give or take the rounding of the colour conversion.
    if (!decodeOurs() || !decodeWithLibjpeg(file, &theirs, width)) return state.SkipWithError("decode failed");
    int largest = 0;
    for (size_t i = 0; i < ours.size(); i++) largest = std::max(largest, std::abs((int)ours[i] - (int)theirs[i]));
    compareSides(state, {{"ours", decodeOurs}, {"libjpeg", [&] {
                              bool ok = decodeWithLibjpeg(file, &theirs, width);
                              benchmark::DoNotOptimize(theirs.data());
                              return ok;
                          }}});
    state.counters["largest_difference"] = largest;
}

}  // namespace

BENCHMARK(parseJpegBeside)->Args({256, 256})->Args({1920, 1080})->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return runWithReferenceRatios(argc, argv); }
