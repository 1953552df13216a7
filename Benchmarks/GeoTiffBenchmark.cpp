// parseGeoTiff beside GDAL on a 4096 x 4096 Float32 LZW GeoTIFF (strips, no predictor) held in
// memory: the whole raster read either way. GDAL (written by GDAL itself, so its reader sees its own
// layout) is loaded at run time, held to one thread; its case is skipped when the library is absent.
// lzwOursOverGdal prints the ratio of the two speeds. Each case runs on two surfaces (the argument):
// 0, a smooth one of two long waves, which LZW packs tightly; 1, rough terrain, fractal noise of ten
// octaves from kilometre-wide ridges down to a few samples' roughness, as a real elevation model of
// mountains is, which packs poorly and gives the decoder long codes and few repeats.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "Benchmarks/ReferenceRatio.h"
#include "Core/ElevationRaster.h"
#include "Decoders/GeoTiff.h"

namespace {

// The few functions of GDAL's C interface used here, declared by hand (GDALDataType 6 is Float32).
struct Gdal {
    void (*allRegister)();
    void* (*driverByName)(const char*);
    void* (*create)(void*, const char*, int, int, int, int, char**);
    void* (*open)(const char*, int);
    void (*close)(void*);
    void* (*band)(void*, int);
    int (*rasterIo)(void*, int, int, int, int, int, void*, int, int, int, int, int);
    int (*setGeoTransform)(void*, double*);
    int (*setProjection)(void*, const char*);
    void* (*fileFromBuffer)(const char*, unsigned char*, unsigned long long, int);
    int (*closeFile)(void*);
    unsigned char* (*memFileBuffer)(const char*, unsigned long long*, int);
    int (*unlink)(const char*);
    void (*setConfigOption)(const char*, const char*);
};

const Gdal* gdal() {
    static Gdal g{};
    static bool loaded = [] {
        void* h = dlopen("libgdal.so.32", RTLD_NOW | RTLD_LOCAL);
        if (!h) return false;
        auto get = [h](auto& f, const char* name) { f = (std::remove_reference_t<decltype(f)>)dlsym(h, name); };
        get(g.allRegister, "GDALAllRegister");
        get(g.driverByName, "GDALGetDriverByName");
        get(g.create, "GDALCreate");
        get(g.open, "GDALOpen");
        get(g.close, "GDALClose");
        get(g.band, "GDALGetRasterBand");
        get(g.rasterIo, "GDALRasterIO");
        get(g.setGeoTransform, "GDALSetGeoTransform");
        get(g.setProjection, "GDALSetProjection");
        get(g.fileFromBuffer, "VSIFileFromMemBuffer");
        get(g.closeFile, "VSIFCloseL");
        get(g.memFileBuffer, "VSIGetMemFileBuffer");
        get(g.unlink, "VSIUnlink");
        get(g.setConfigOption, "CPLSetConfigOption");
        if (!g.allRegister || !g.rasterIo || !g.memFileBuffer || !g.setConfigOption) return false;
        // One thread against one: GDAL decodes blocks on this thread alone.
        g.setConfigOption("GDAL_NUM_THREADS", "1");
        g.allRegister();
        return true;
    }();
    return loaded ? &g : nullptr;
}

constexpr int kSize = 4096;

// GDAL writes no linear unit for a geographic grid, which the program's reader requires: the
// GeoKey directory's angular-unit key (GDAL's default of degrees) becomes the linear unit metre in
// place, in the little-endian classic TIFF GDAL writes, and the raster type becomes points.
void giveLinearUnit(std::vector<u8>* file) {
    auto read16 = [&](size_t at) { return (u32)(*file)[at] | (u32)(*file)[at + 1] << 8; };
    auto read32 = [&](size_t at) { return read16(at) | read16(at + 2) << 16; };
    size_t ifd = read32(4);
    u32 entries = read16(ifd);
    for (u32 i = 0; i < entries; i++) {
        size_t entry = ifd + 2 + 12 * i;
        if (read16(entry) != 34735) continue;
        size_t keys = read32(entry + 8);
        u32 count = read16(keys + 6);
        for (u32 k = 0; k < count; k++) {
            size_t key = keys + 8 + 8 * k;
            if (read16(key) == 1025) (*file)[key + 6] = 2;  // the samples are points, not areas
            if (read16(key) != 2054) continue;
            u8 patch[8] = {0x04, 0x08, 0, 0, 1, 0, 0x29, 0x23};  // 2052, in the directory, 1 value, 9001
            std::memcpy(file->data() + key, patch, 8);
        }
    }
}

// A lattice value of fractal noise in [-1, 1], the same on every run.
f32 latticeValue(u32 octave, u32 x, u32 y) {
    u32 h = octave * 0x9E3779B1u ^ x * 0x85EBCA77u ^ y * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return (f32)(h & 0xFFFF) / 32767.5f - 1.0f;
}

// Heights in quarter metres: surface 0 smooth, 1 rough (ten octaves of value noise, the cell halving
// and the amplitude falling by 0.55 from one to the next: relief of about 1,500 m).
std::vector<f32> surfaceHeights(int surface) {
    std::vector<f32> heights((size_t)kSize * kSize);
    for (int y = 0; y < kSize; y++) {
        for (int x = 0; x < kSize; x++) {
            f32 h = 0;
            if (surface == 0) {
                h = 800.0f + 300.0f * std::sin(x * 0.003f) + 200.0f * std::cos(y * 0.002f);
            } else {
                h = 1200.0f;
                f32 amplitude = 700.0f;
                for (u32 octave = 0, cell = 1024; octave < 10; octave++, cell /= 2, amplitude *= 0.55f) {
                    u32 cx = (u32)x / cell, cy = (u32)y / cell;
                    f32 fx = (f32)((u32)x % cell) / (f32)cell, fy = (f32)((u32)y % cell) / (f32)cell;
                    f32 top = latticeValue(octave, cx, cy) * (1 - fx) + latticeValue(octave, cx + 1, cy) * fx;
                    f32 bottom = latticeValue(octave, cx, cy + 1) * (1 - fx) + latticeValue(octave, cx + 1, cy + 1) * fx;
                    h += amplitude * (top * (1 - fy) + bottom * fy);
                }
            }
            heights[(size_t)y * kSize + x] = std::round(4.0f * h) / 4.0f;
        }
    }
    return heights;
}

// A surface written by GDAL with LZW, in strips (GDAL's default layout).
std::vector<u8> writeLzwFile(int surface) {
    std::vector<u8> bytes;
    const Gdal* g = gdal();
    if (!g) return bytes;
    std::vector<f32> heights = surfaceHeights(surface);
    char compress[] = "COMPRESS=LZW";
    char* options[] = {compress, nullptr};
    void* dataset = g->create(g->driverByName("GTiff"), "/vsimem/bench.tif", kSize, kSize, 1, 6, options);
    double transform[6] = {8.0, 1.0 / kSize, 0.0, 48.0, 0.0, -1.0 / kSize};
    g->setGeoTransform(dataset, transform);
    // NAD83, whose GRS 1980 ellipsoid gives the file its linear unit.
    g->setProjection(dataset,
                     "GEOGCS[\"NAD83\",DATUM[\"North_American_Datum_1983\",SPHEROID[\"GRS 1980\",6378137,298.257"
                     "222101,AUTHORITY[\"EPSG\",\"7019\"]],AUTHORITY[\"EPSG\",\"6269\"]],PRIMEM[\"Greenwich\",0,"
                     "AUTHORITY[\"EPSG\",\"8901\"]],UNIT[\"degree\",0.0174532925199433,AUTHORITY[\"EPSG\",\"9122"
                     "\"]],AXIS[\"Latitude\",NORTH],AXIS[\"Longitude\",EAST],AUTHORITY[\"EPSG\",\"4269\"]]");
    g->rasterIo(g->band(dataset, 1), 1, 0, 0, kSize, kSize, heights.data(), kSize, kSize, 6, 0, 0);
    g->close(dataset);
    unsigned long long length = 0;
    unsigned char* data = g->memFileBuffer("/vsimem/bench.tif", &length, 0);
    bytes.assign(data, data + length);
    g->unlink("/vsimem/bench.tif");
    giveLinearUnit(&bytes);
    return bytes;
}

const std::vector<u8>& lzwFile(int surface) {
    static std::vector<u8> files[2] = {writeLzwFile(0), writeLzwFile(1)};
    return files[surface];
}

// One whole read of the file by the program's reader; false on a failure.
bool readOurs(const std::vector<u8>& file, benchmark::State& state) {
    const f64 world[4] = {-180.0, 180.0, -90.0, 90.0};
    ElevationRaster raster{};
    parseGeoTiff(&raster, file.data(), (i64)file.size(), (i64)1 << 30, 4, world, nullptr);
    bool ok = raster.error.length == 0;
    if (!ok) state.SkipWithError(raster.error.text);
    benchmark::DoNotOptimize(raster.samples);
    releaseElevationRaster(&raster);
    return ok;
}

// One whole read of the file by GDAL, from memory.
void readGdal(const Gdal* g, const std::vector<u8>& file, std::vector<f32>* heights) {
    void* handle = g->fileFromBuffer("/vsimem/read.tif", (unsigned char*)file.data(), file.size(), 0);
    void* dataset = g->open("/vsimem/read.tif", 0);
    g->rasterIo(g->band(dataset, 1), 0, 0, 0, kSize, kSize, heights->data(), kSize, kSize, 6, 0, 0);
    g->close(dataset);
    g->closeFile(handle);
    g->unlink("/vsimem/read.tif");
    benchmark::DoNotOptimize(heights->data());
}

void parseGeoTiffLzw(benchmark::State& state) {
    const std::vector<u8>& file = lzwFile((int)state.range(0));
    if (file.empty()) return state.SkipWithError("GDAL not found to write the file");
    for (auto _ : state) {
        if (!readOurs(file, state)) break;
    }
    state.SetItemsProcessed(state.iterations() * kSize * kSize);
}
BENCHMARK(parseGeoTiffLzw)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void gdalGeoTiffLzw(benchmark::State& state) {
    const Gdal* g = gdal();
    const std::vector<u8>& file = lzwFile((int)state.range(0));
    if (!g || file.empty()) return state.SkipWithError("GDAL not found");
    std::vector<f32> heights((size_t)kSize * kSize);
    for (auto _ : state) readGdal(g, file, &heights);
    state.SetItemsProcessed(state.iterations() * kSize * kSize);
}
BENCHMARK(gdalGeoTiffLzw)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Both readers in turn within each iteration, each timed by the process's processor time so that
// other work on a shared machine weighs on neither: ours_us and gdal_us per read, and ratio_gdal, the
// program's speed over GDAL's (GDAL's time over ours; above 1 is faster).
void lzwOursOverGdal(benchmark::State& state) {
    const Gdal* g = gdal();
    const std::vector<u8>& file = lzwFile((int)state.range(0));
    if (!g || file.empty()) return state.SkipWithError("GDAL not found");
    std::vector<f32> heights((size_t)kSize * kSize);
    state.counters["file_mb"] = (double)file.size() / (1 << 20);
    compareSides(state, {{"ours", [&] { return readOurs(file, state); }}, {"gdal", [&] {
                              readGdal(g, file, &heights);
                              return true;
                          }}});
}
BENCHMARK(lzwOursOverGdal)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return runWithReferenceRatios(argc, argv); }
