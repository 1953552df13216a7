// parsePng beside libpng on 256 x 256 map tiles, RGB and RGBA, written by libpng with its default
// compression and adaptive row filters as tile servers do. Each run times both and reports MB/s of
// decoded pixels for each and the ratio (ours / libpng; above 1 means ours is faster).
#include <benchmark/benchmark.h>
#include <png.h>

#include <chrono>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <random>
#include <vector>

#include "Decoders/Png.h"

namespace {

// A map-like tile: flat land and water areas, anti-aliased roads with casings, dense label patches;
// water is transparent in the RGBA form.
std::vector<u8> mapTile(u32 seed, int channels) {
    std::mt19937 random(seed);
    const int size = 256;
    std::vector<u8> image(size_t(size) * size * 4);
    const u8 colours[5][3] = {{242, 239, 233}, {170, 211, 223}, {205, 235, 176}, {224, 223, 223}, {255, 255, 229}};
    int centres[6][3];
    for (auto& c : centres) c[0] = int(random() % 256), c[1] = int(random() % 256), c[2] = int(random() % 5);
    for (int y = 0; y < size; y++)
        for (int x = 0; x < size; x++) {
            int best = 0;
            int bestDistance = 1 << 30;
            for (int i = 0; i < 6; i++) {
                int d = (x - centres[i][0]) * (x - centres[i][0]) + (y - centres[i][1]) * (y - centres[i][1]);
                if (d < bestDistance) bestDistance = d, best = i;
            }
            u8* p = &image[size_t(y * size + x) * 4];
            std::memcpy(p, colours[centres[best][2]], 3);
            p[3] = centres[best][2] == 1 ? 0 : 255;
        }
    for (int road = 0; road < 8; road++) {
        double x0 = random() % 256, y0 = random() % 256, x1 = random() % 256, y1 = random() % 256;
        double width = 2 + random() % 5;
        double dx = x1 - x0, dy = y1 - y0, length = std::sqrt(dx * dx + dy * dy) + 1e-9;
        for (int y = 0; y < size; y++)
            for (int x = 0; x < size; x++) {
                double t = ((x - x0) * dx + (y - y0) * dy) / (length * length);
                if (t < 0 || t > 1) continue;
                double d = std::fabs((x - x0) * dy - (y - y0) * dx) / length;
                if (d > width + 1.5) continue;
                u8* p = &image[size_t(y * size + x) * 4];
                double casing = std::min(1.0, std::max(0.0, width + 1.5 - d));
                double fill = std::min(1.0, std::max(0.0, width - d));
                for (int c = 0; c < 3; c++) {
                    double v = p[c] * (1 - casing) + 180 * casing;
                    v = v * (1 - fill) + (c == 2 ? 160 : 250) * fill;
                    p[c] = u8(v);
                }
                p[3] = 255;
            }
    }
    for (int label = 0; label < 6; label++) {
        int lx = int(random() % 220), ly = int(random() % 245);
        for (int y = ly; y < ly + 9; y++)
            for (int x = lx; x < lx + 34; x++)
                if (random() % 3 == 0) {
                    u8* p = &image[size_t(y * size + x) * 4];
                    p[0] = p[1] = p[2] = u8(60 + random() % 40);
                    p[3] = 255;
                }
    }
    std::vector<u8> pixels(size_t(size) * size * size_t(channels));
    for (size_t i = 0; i < size_t(size) * size; i++) std::memcpy(&pixels[i * size_t(channels)], &image[i * 4], size_t(channels));
    return pixels;
}

std::vector<u8> libpngEncode(const std::vector<u8>& pixels, int channels) {
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
    png_set_IHDR(png, info, 256, 256, 8, channels == 4 ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < 256; y++) png_write_row(png, const_cast<u8*>(&pixels[size_t(y) * 256 * size_t(channels)]));
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
    const int channels = int(state.range(0));
    std::vector<std::vector<u8>> files;
    for (u32 seed = 0; seed < 8; seed++) files.push_back(libpngEncode(mapTile(seed, channels), channels));
    const size_t imageBytes = size_t(256) * 256 * size_t(channels);
    std::vector<u8> pixels(imageBytes);
    std::vector<u8> scratch(256 * (1 + 256 * size_t(channels)));
    double ours = 0;
    double theirs = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        bool ok = true;
        for (const auto& file : files) {
            ImageResult result;
            parsePng(&result, file.data(), i64(file.size()), pixels.data(), i64(pixels.size()), 0, 1, scratch.data(),
                     i64(scratch.size()));
            ok = ok && result.error.length == 0;
        }
        auto t1 = std::chrono::steady_clock::now();
        for (const auto& file : files) ok = libpngDecode(file, pixels.data()) && ok;
        auto t2 = std::chrono::steady_clock::now();
        if (!ok) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(pixels.data());
        ours += std::chrono::duration<double>(t1 - t0).count();
        theirs += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    const double megabytes = double(imageBytes * files.size()) * double(state.iterations()) / 1e6;
    state.counters["ours_MBps"] = megabytes / ours;
    state.counters["libpng_MBps"] = megabytes / theirs;
    state.counters["ratio"] = theirs / ours;
    state.SetBytesProcessed(i64(imageBytes * files.size()) * i64(state.iterations()));
}

}  // namespace

BENCHMARK(parsePngBeside)->ArgName("channels")->Arg(3)->Arg(4)->UseManualTime()->Unit(benchmark::kMillisecond);
