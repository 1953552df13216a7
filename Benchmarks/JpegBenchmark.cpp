// parseJpeg against libjpeg-turbo on map-tile-sized and full-HD baseline 4:2:0 JPEGs, the two
// decoders doing the same work (libjpeg-turbo with plain upsampling, as ours) and alternating within
// each iteration; the ratio is ours / libjpeg-turbo, and largest_difference the largest difference of
// one sample between the two pictures. Two kinds of picture: a synthetic one (gradients, edges and
// grain), and photographs, the middle of two of the MATE desktop's nature photos (Debian package
// mate-backgrounds, read where it installs them) compressed again by libjpeg-turbo at the same
// settings: real detail, noise and smooth blur, as a camera's pictures have.
#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Benchmarks/ReferenceRatio.h"
#include "Decoders/Jpeg.h"

namespace {

// RGB pixels compressed by libjpeg-turbo at quality 85, 4:2:0, baseline.
std::vector<u8> compressJpeg(const std::vector<u8>& rgb, int width, int height) {
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
        JSAMPROW row = const_cast<u8*>(&rgb[(size_t)info.next_scanline * width * 3]);  // libjpeg only reads it
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<u8> file(out, out + size);
    jpeg_destroy_compress(&info);
    std::free(out);
    return file;
}

// A picture with gradients, edges and grain.
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
    return compressJpeg(rgb, width, height);
}

// The photographs: Debian's mate-backgrounds (Tools/packages-test.txt installs it).
const char* const kPhotos[] = {"/usr/share/backgrounds/mate/nature/Garden.jpg",
                               "/usr/share/backgrounds/mate/nature/Wood.jpg"};

// The middle width x height of a photograph, compressed again as the synthetic picture is; empty
// when the file is missing or smaller.
std::vector<u8> photoJpeg(const char* path, int width, int height) {
    std::ifstream in(path, std::ios::binary);
    std::vector<u8> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.empty()) return {};
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), (unsigned long)file.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    int fullWidth = (int)info.output_width, fullHeight = (int)info.output_height;
    std::vector<u8> full((size_t)fullWidth * fullHeight * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &full[(size_t)info.output_scanline * fullWidth * 3];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    if (fullWidth < width || fullHeight < height) return {};
    std::vector<u8> middle((size_t)width * height * 3);
    int left = (fullWidth - width) / 2, top = (fullHeight - height) / 2;
    for (int y = 0; y < height; y++) {
        std::copy_n(&full[((size_t)(top + y) * fullWidth + left) * 3], (size_t)width * 3, &middle[(size_t)y * width * 3]);
    }
    return compressJpeg(middle, width, height);
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

void compareDecoders(benchmark::State& state, const std::vector<u8>& file, int width, int height) {
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
    state.counters["file_kb"] = (double)file.size() / 1024;
}

// Arguments: width, height.
void parseJpegBeside(benchmark::State& state) {
    int width = (int)state.range(0), height = (int)state.range(1);
    compareDecoders(state, makeJpeg(width, height), width, height);
}

// Arguments: the photograph (0 flowers, 1 wood grain), width, height.
void parsePhotoJpegBeside(benchmark::State& state) {
    const char* path = kPhotos[state.range(0)];
    int width = (int)state.range(1), height = (int)state.range(2);
    std::vector<u8> file = photoJpeg(path, width, height);
    if (file.empty()) return state.SkipWithError((std::string(path) + " missing: install mate-backgrounds").c_str());
    state.SetLabel(path);
    compareDecoders(state, file, width, height);
}

}  // namespace

BENCHMARK(parseJpegBeside)->Args({256, 256})->Args({1920, 1080})->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(parsePhotoJpegBeside)
    ->Args({0, 256, 256})
    ->Args({1, 256, 256})
    ->Args({0, 1920, 1080})
    ->Args({1, 1920, 1080})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return runWithReferenceRatios(argc, argv); }
