// Terrain heights: getElevation over a loaded SRTM1 tile beside the look-up the program had before
// the quick one and a plain bilinear sample of the same tile (scale factors worked out beforehand, no
// wrap and no void checks), the three sides alternating in blocks on this thread's processor clock. Random points over the whole tile come from a list of
// 2^21 points read once each per pass (the look-ups touch the whole 26 MB tile, not a set that stays
// in the caches; target: at least 10 million a second); points along a track follow a flight at
// 10 m a step (target: within 1.5 times the plain sample). Also over the last of four loaded tiles,
// over an Albers raster, and reading a whole 3601 x 3601 SRTM1 tile.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "Map/ElevationMapLoader.h"
#include "Support/PreviousElevationLookUp.h"

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

u64 nextRandom(u64* seed) {
    *seed = *seed * 6364136223846793005ull + 1442695040888963407ull;
    return *seed >> 11;
}

std::vector<GeoPoint> pointsIn(f64 west, f64 south, f64 size, size_t count) {
    std::vector<GeoPoint> points(count);
    u64 seed = 26;
    for (GeoPoint& p : points) {
        p.longitude = west + size * (f64)nextRandom(&seed) / (f64)(1ull << 53);
        p.latitude = south + size * (f64)nextRandom(&seed) / (f64)(1ull << 53);
    }
    return points;
}

// A flight across the tile: 10 m steps whose heading wanders, turning back at the tile's edges.
std::vector<GeoPoint> trackIn(f64 west, f64 south, size_t count) {
    std::vector<GeoPoint> points(count);
    u64 seed = 7;
    f64 longitude = west + 0.5, latitude = south + 0.5, heading = 0.3;
    const f64 stepLatitude = 10.0 / 111000.0, stepLongitude = stepLatitude / std::cos((south + 0.5) * M_PI / 180);
    for (GeoPoint& p : points) {
        heading += ((f64)nextRandom(&seed) / (f64)(1ull << 53) - 0.5) * 0.05;
        f64 nextLongitude = longitude + stepLongitude * std::cos(heading);
        f64 nextLatitude = latitude + stepLatitude * std::sin(heading);
        if (nextLongitude < west + 0.01 || nextLongitude > west + 0.99 || nextLatitude < south + 0.01 ||
            nextLatitude > south + 0.99) {
            heading += M_PI;
            continue;
        }
        longitude = nextLongitude;
        latitude = nextLatitude;
        p = GeoPoint{longitude, latitude};
    }
    return points;
}

// The plain sample: the two scale factors worked out once, the point checked to lie on the tile, the
// cell and its four samples, the blend (no wrap, no other rasters, no void samples).
struct PlainRaster {
    const u8* samples;
    i64 rowStride;
    f64 west, north, columnsPerDegree, rowsPerDegree;
    i32 lastCell;
};

PlainRaster plainRasterOf(const ElevationRaster* raster) {
    const RasterGeoreference* g = &raster->georeference;
    return PlainRaster{raster->samples, raster->rowStride, g->west, g->north, g->lastColumn / (g->east - g->west),
                       g->lastRow / (g->north - g->south), (i32)raster->width - 2};
}

f32 plainBilinear(const PlainRaster* r, GeoPoint p) {
    f64 column = (p.longitude - r->west) * r->columnsPerDegree;
    f64 row = (p.latitude - r->north) * -r->rowsPerDegree;
    // Off the tile: nothing to read.
    if (!(column >= 0 && column <= r->lastCell + 1 && row >= 0 && row <= r->lastCell + 1)) return -32768.0f;
    i32 i = std::min((i32)column, r->lastCell), j = std::min((i32)row, r->lastCell);
    f64 fx = column - i, fy = row - j;
    const i16* top = (const i16*)(r->samples + j * r->rowStride) + i;
    const i16* bottom = (const i16*)((const u8*)top + r->rowStride);
    return (f32)((1 - fy) * ((1 - fx) * top[0] + fx * top[1]) + fy * ((1 - fx) * bottom[0] + fx * bottom[1]));
}

double threadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

struct LoadedTile {
    std::unique_ptr<ElevationMapLoader> loader{new ElevationMapLoader{}};
    LoadedTile() {
        readSrtmTile(&loader->slots[0].raster, srtm1Tile().data(), kSrtm1Bytes, 47, 8, kElevationSampleBudget, 4,
                     nullptr);
        loader->slots[0].state = ElevationMapLoaded;
        loader->loadedCount = 1;
        prepareElevationLookups(loader.get());
    }
    ~LoadedTile() { releaseElevationRaster(&loader->slots[0].raster); }
};

// One iteration: a block of look-ups by getElevation, by the previous look-up and by the plain
// sample, the side that goes first taking turns (the later sides find the block's samples nearer).
void lookUpBesidePlainSample(benchmark::State& state, const std::vector<GeoPoint>& points) {
    LoadedTile tile;
    PlainRaster plain = plainRasterOf(&tile.loader->slots[0].raster);
    constexpr size_t kBlock = 1 << 16;
    size_t at = 0;
    u32 turn = 0;
    f64 seconds[3] = {0, 0, 0}, sum = 0;
    for (auto _ : state) {
        const GeoPoint* block = points.data() + at;
        at = (at + kBlock) % points.size();
        for (u32 k = 0; k < 3; k++) {
            u32 side = (turn + k) % 3;
            f64 t0 = threadSeconds();
            f32 total = 0;
            if (side == 0) {
                for (size_t i = 0; i < kBlock; i++) total += getElevation(tile.loader.get(), block[i], -32768.0f);
            } else if (side == 1) {
                for (size_t i = 0; i < kBlock; i++) total += previousGetElevation(tile.loader.get(), block[i], -32768.0f);
            } else {
                for (size_t i = 0; i < kBlock; i++) total += plainBilinear(&plain, block[i]);
            }
            seconds[side] += threadSeconds() - t0;
            sum += total;
        }
        turn++;
    }
    benchmark::DoNotOptimize(sum);
    f64 lookups = (f64)state.iterations() * kBlock;
    state.counters["ours_M_per_s"] = lookups / seconds[0] / 1e6;
    state.counters["before_M_per_s"] = lookups / seconds[1] / 1e6;
    state.counters["plain_M_per_s"] = lookups / seconds[2] / 1e6;
    state.counters["ours_over_plain_time"] = seconds[0] / seconds[2];
    state.counters["before_over_plain_time"] = seconds[1] / seconds[2];
}

void getElevationRandomOverTheWholeTile(benchmark::State& state) {
    static const std::vector<GeoPoint> points = pointsIn(8.0, 47.0, 1.0, 1 << 21);
    lookUpBesidePlainSample(state, points);
}
BENCHMARK(getElevationRandomOverTheWholeTile)->Unit(benchmark::kMillisecond);

void getElevationAlongATrack(benchmark::State& state) {
    static const std::vector<GeoPoint> points = trackIn(8.0, 47.0, 1 << 21);
    lookUpBesidePlainSample(state, points);
}
BENCHMARK(getElevationAlongATrack)->Unit(benchmark::kMillisecond);

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
    prepareElevationLookups(loader.get());
    runLookups(state, loader.get(), pointsIn(8.0, 47.0, 1.0, 1 << 20));
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
    runLookups(state, loader.get(), pointsIn(8.5, 46.6, 0.6, 1 << 20));
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
