// Terrain heights: getElevation over a loaded SRTM1 tile at random points and at nearby ones (the target is at least 10 million look-ups
// a second on one core), over the last of four loaded tiles, and over an Albers raster; and reading a
// whole 3601 x 3601 SRTM1 tile.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "Map/ElevationMapLoader.h"

namespace {

// An SRTM1 tile's bytes: big-endian heights of a gentle surface with a few voids.
std::vector<u8> makeSrtm1Tile() {
    std::vector<u8> bytes((size_t)kSrtm1Bytes);
    for (i64 row = 0; row < kSrtm1Samples; row++) {
        for (i64 column = 0; column < kSrtm1Samples; column++) {
            i32 height = (i32)(800 + 300 * std::sin(column * 0.003) + 200 * std::cos(row * 0.002));
            if ((row * 7 + column * 13) % 1009 == 0) height = kSrtmVoid;
            size_t at = (size_t)(row * kSrtm1Samples + column) * 2;
            bytes[at] = (u8)((u32)height >> 8);
            bytes[at + 1] = (u8)height;
        }
    }
    return bytes;
}

const std::vector<u8>& srtm1Tile() {
    static const std::vector<u8> tile = makeSrtm1Tile();
    return tile;
}

std::vector<GeoPoint> pointsIn(f64 west, f64 south, f64 size) {
    std::vector<GeoPoint> points(4096);
    u64 seed = 26;
    for (GeoPoint& p : points) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        p.longitude = west + size * (f64)(seed >> 11) / (f64)(1ull << 53);
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        p.latitude = south + size * (f64)(seed >> 11) / (f64)(1ull << 53);
    }
    return points;
}

void runLookups(benchmark::State& state, const ElevationMapLoader* loader, const std::vector<GeoPoint>& points) {
    size_t i = 0;
    f32 sum = 0;
    for (auto _ : state) {
        sum += getElevation(loader, points[i], -32768.0f);
        i = (i + 1) & (points.size() - 1);
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed((i64)state.iterations());
}

void getElevationSrtm1(benchmark::State& state) {
    std::unique_ptr<ElevationMapLoader> loader(new ElevationMapLoader{});
    readSrtmTile(&loader->slots[0].raster, srtm1Tile().data(), kSrtm1Bytes, 47, 8, kElevationSampleBudget, 4, nullptr);
    loader->slots[0].state = ElevationMapLoaded;
    loader->loadedCount = 1;
    runLookups(state, loader.get(), pointsIn(8.0, 47.0, 1.0));
    releaseElevationRaster(&loader->slots[0].raster);
}
BENCHMARK(getElevationSrtm1);

// Look-ups near each other, as along a flight or across a map view: the samples stay in the cache.
void getElevationSrtm1NearbyPoints(benchmark::State& state) {
    std::unique_ptr<ElevationMapLoader> loader(new ElevationMapLoader{});
    readSrtmTile(&loader->slots[0].raster, srtm1Tile().data(), kSrtm1Bytes, 47, 8, kElevationSampleBudget, 4, nullptr);
    loader->slots[0].state = ElevationMapLoaded;
    loader->loadedCount = 1;
    runLookups(state, loader.get(), pointsIn(8.40, 47.40, 0.01));
    releaseElevationRaster(&loader->slots[0].raster);
}
BENCHMARK(getElevationSrtm1NearbyPoints);

// Every look-up passes three tiles that do not cover it.
void getElevationFourthOfFourTiles(benchmark::State& state) {
    std::unique_ptr<ElevationMapLoader> loader(new ElevationMapLoader{});
    for (u32 s = 0; s < 4; s++) {
        readSrtmTile(&loader->slots[s].raster, srtm1Tile().data(), kSrtm1Bytes, 47, (i32)(5 + s), kElevationSampleBudget,
                     4, nullptr);
        loader->slots[s].state = ElevationMapLoaded;
        loader->order[s] = s;
    }
    loader->loadedCount = 4;
    runLookups(state, loader.get(), pointsIn(8.0, 47.0, 1.0));
    for (u32 s = 0; s < 4; s++) releaseElevationRaster(&loader->slots[s].raster);
}
BENCHMARK(getElevationFourthOfFourTiles);

void getElevationAlbers(benchmark::State& state) {
    std::unique_ptr<ElevationMapLoader> loader(new ElevationMapLoader{});
    ElevationRaster* raster = &loader->slots[0].raster;
    RasterAffine affine{30.0, 0.0, -60000.0, 0.0, -30.0, 60000.0};
    albersConicParameters(&raster->georeference, 6378137.0, 6356752.314245, GeoPoint{9.0, 47.0}, 45.0, 49.0, &affine);
    raster->width = raster->height = 4000;
    raster->rowStride = 4000 * 4;
    raster->sampleFormat = kRasterSamplesF32;
    raster->noData = -9999;
    raster->allocationSize = (i64)raster->rowStride * raster->height;
    raster->samples = allocateRasterBlock(raster->allocationSize);
    for (i64 i = 0; i < raster->allocationSize / 4; i++) ((f32*)raster->samples)[i] = 500.0f + (f32)(i % 977);
    loader->slots[0].state = ElevationMapLoaded;
    loader->loadedCount = 1;
    runLookups(state, loader.get(), pointsIn(8.5, 46.6, 0.6));
    releaseElevationRaster(raster);
}
BENCHMARK(getElevationAlbers);

void readWholeSrtm1Tile(benchmark::State& state) {
    const std::vector<u8>& tile = srtm1Tile();
    for (auto _ : state) {
        ElevationRaster raster;
        readSrtmTile(&raster, tile.data(), kSrtm1Bytes, 47, 8, kElevationSampleBudget, 4, nullptr);
        benchmark::DoNotOptimize(raster.samples);
        releaseElevationRaster(&raster);
    }
    state.SetBytesProcessed((i64)state.iterations() * kSrtm1Bytes);
}
BENCHMARK(readWholeSrtm1Tile)->Unit(benchmark::kMillisecond);

}  // namespace
