// parsePng beside libpng on 256 x 256 map tiles, RGB and RGBA, and on a 2000 x 2000 RGB photo, written
// by libpng with its default compression and adaptive row filters as tile servers and cameras do.
// The two alternate within each iteration, timed in process CPU; the ratio is ours / libpng (above 1
// means ours is faster).
#include <benchmark/benchmark.h>
#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstring>
#include <random>
#include <vector>

#include "Benchmarks/MapTileImage.h"
#include "Benchmarks/PhotoImage.h"
#include "Benchmarks/ReferenceRatio.h"
#include "Decoders/Png.h"

namespace {

// A map tile's pixels with 3 or 4 channels (water transparent in the RGBA form).
std::vector<u8> mapTile(u32 seed, int channels) {
    std::vector<u8> image = mapTileRgba(seed);
    const int size = kMapTileSize;
    std::vector<u8> pixels(size_t(size) * size * size_t(channels));
    for (size_t i = 0; i < size_t(size) * size; i++) std::memcpy(&pixels[i * size_t(channels)], &image[i * 4], size_t(channels));
    return pixels;
}

std::vector<u8> libpngEncode(const std::vector<u8>& pixels, int channels, u32 width = 256, u32 height = 256) {
    std::vector<u8> file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) return {};
    png_set_write_fn(
        png, &file,
        [](png_structp s, png_bytep data, png_size_t n) {
            auto* out = static_cast<std::vector<u8>*>(png_get_io_ptr(s));
            out->insert(out->end(), data, data + n);
        },
        [](png_structp) {});
    png_set_IHDR(png, info, width, height, 8, channels == 4 ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (u32 y = 0; y < height; y++)
        png_write_row(png, const_cast<u8*>(&pixels[size_t(y) * width * size_t(channels)]));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return file;
}

struct Source {
    const std::vector<u8>* file;
    size_t at;
};

bool libpngDecode(const std::vector<u8>& file, u8* pixels) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    Source source{&file, 0};
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &source, [](png_structp s, png_bytep data, png_size_t n) {
        auto* src = static_cast<Source*>(png_get_io_ptr(s));
        if (src->at + n > src->file->size()) png_error(s, "short");
        std::memcpy(data, src->file->data() + src->at, n);
        src->at += n;
    });
    png_read_info(png, info);
    const size_t stride = png_get_rowbytes(png, info);
    for (u32 y = 0; y < png_get_image_height(png, info); y++) png_read_row(png, pixels + y * stride, nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

void parsePngBeside(benchmark::State& state) {
    const bool photo = state.range(0) != 0;
    const int channels = int(state.range(1));
    const u32 size = photo ? 2000 : 256;
    std::vector<std::vector<u8>> files;
    if (photo) files.push_back(libpngEncode(photoRgb(int(size), int(size), 7), channels, size, size));
    else
        for (u32 seed = 0; seed < 8; seed++) files.push_back(libpngEncode(mapTile(seed, channels), channels));
    const size_t imageBytes = size_t(size) * size * size_t(channels);
    std::vector<u8> pixels(imageBytes);
    std::vector<u8> scratch(size_t(pngScratchBytesForWidth(size)));
    compareSides(state, {{"ours",
                          [&] {
                              bool ok = true;
                              for (const auto& file : files) {
                                  ImageResult result;
                                  parsePng(&result, file.data(), i64(file.size()), pixels.data(), i64(pixels.size()), 0,
                                           1, scratch.data(), i64(scratch.size()));
                                  ok = ok && result.error.length == 0;
                              }
                              benchmark::DoNotOptimize(pixels.data());
                              return ok;
                          }},
                         {"libpng", [&] {
                              bool ok = true;
                              for (const auto& file : files) ok = libpngDecode(file, pixels.data()) && ok;
                              benchmark::DoNotOptimize(pixels.data());
                              return ok;
                          }}});
    state.counters["MB"] = double(imageBytes * files.size()) / 1e6;
}

}  // namespace

BENCHMARK(parsePngBeside)
    ->ArgNames({"photo", "channels"})
    ->Args({0, 3})
    ->Args({0, 4})
    ->Args({1, 3})
    ->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return runWithReferenceRatios(argc, argv); }
