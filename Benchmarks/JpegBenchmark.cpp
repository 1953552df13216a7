// parseJpeg against libjpeg-turbo on a map-tile-sized and a full-HD baseline 4:2:0 JPEG: each alone,
// and both in turn within each iteration, which reports their times and the ratio of libjpeg-turbo's
// time to ours (our speed as a fraction of libjpeg-turbo's; read the median over repetitions).
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <time.h>

#include <cstdlib>
#include <vector>

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

void parseJpegBenchmark(benchmark::State& state) {
    int width = (int)state.range(0), height = (int)state.range(1);
    std::vector<u8> file = makeJpeg(width, height);
    std::vector<u8> pixels((size_t)width * height * 3);
    for (auto _ : state) {
        ImageResult result;
        parseJpeg(&result, file.data(), (i64)file.size(), pixels.data(), (i64)pixels.size(), 3, 1);
        if (result.error.length) state.SkipWithError(result.error.text);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}

void decodeWithLibjpeg(const std::vector<u8>& file, std::vector<u8>* pixels, int width) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), (unsigned long)file.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &(*pixels)[(size_t)info.output_scanline * width * 3];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
}

// This thread's processor time in seconds: the machine may be shared, and waiting is not decoding.
double threadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

void ratioBenchmark(benchmark::State& state) {
    int width = (int)state.range(0), height = (int)state.range(1);
    std::vector<u8> file = makeJpeg(width, height);
    std::vector<u8> pixels((size_t)width * height * 3);
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        double t0 = threadSeconds();
        ImageResult result;
        parseJpeg(&result, file.data(), (i64)file.size(), pixels.data(), (i64)pixels.size(), 3, 1);
        if (result.error.length) state.SkipWithError(result.error.text);
        benchmark::DoNotOptimize(pixels.data());
        double t1 = threadSeconds();
        decodeWithLibjpeg(file, &pixels, width);
        benchmark::DoNotOptimize(pixels.data());
        double t2 = threadSeconds();
        ours += t1 - t0;
        theirs += t2 - t1;
        state.SetIterationTime(t1 - t0);
    }
    state.counters["ours_ms"] = ours * 1e3 / (double)state.iterations();
    state.counters["libjpeg_ms"] = theirs * 1e3 / (double)state.iterations();
    state.counters["ratio"] = theirs / ours;
}

void libjpegBenchmark(benchmark::State& state) {
    int width = (int)state.range(0), height = (int)state.range(1);
    std::vector<u8> file = makeJpeg(width, height);
    std::vector<u8> pixels((size_t)width * height * 3);
    for (auto _ : state) {
        jpeg_decompress_struct info{};
        jpeg_error_mgr errors{};
        info.err = jpeg_std_error(&errors);
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, file.data(), (unsigned long)file.size());
        jpeg_read_header(&info, TRUE);
        info.out_color_space = JCS_RGB;
        jpeg_start_decompress(&info);
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = &pixels[(size_t)info.output_scanline * width * 3];
            jpeg_read_scanlines(&info, &row, 1);
        }
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}

}  // namespace

BENCHMARK(parseJpegBenchmark)->Args({256, 256})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(libjpegBenchmark)->Args({256, 256})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(ratioBenchmark)->Args({256, 256})->Args({1920, 1080})->UseManualTime()->Unit(benchmark::kMillisecond);
