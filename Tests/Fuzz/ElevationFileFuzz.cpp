// BIL grids with their ".hdr" texts, and SRTM tile names, from untrusted sources: the user's own
// elevation files. Input: a u16 (little-endian) header length, the header text, then the grid's bytes.
// Every read stays inside the given bytes, a successful read keeps its stored image inside the budget,
// and height look-ups on it stay inside its samples; the loader's quick look-up gives the bits of the
// general one at points over it and the cells' edges next to them.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Map/ElevationFiles.h"
#include "Map/ElevationMapLoader.h"

namespace {

// The raster as a loader's only one: every height getElevation gives is sampleElevationRaster's.
void compareQuickLookUp(const ElevationRaster& raster, const u8* data, size_t size) {
    static ElevationMapLoader* loader = (ElevationMapLoader*)std::calloc(1, sizeof(ElevationMapLoader));
    loader->slots[0].raster = raster;
    loader->slots[0].state = ElevationMapLoaded;
    loader->order[0] = 0;
    loader->loadedCount = 1;
    prepareElevationLookups(loader);
    const RasterGeoreference& g = raster.georeference;
    auto check = [&](GeoPoint p) {
        f64 height;
        f32 expected = sampleElevationRaster(&raster, p, &height) ? (f32)height : -1e30f;
        f32 quick = getElevation(loader, p, -1e30f);
        if (std::memcmp(&expected, &quick, 4) != 0) std::abort();
    };
    for (i32 i = 0; i <= 16; i++) {
        f64 t = i / 16.0;
        for (f64 towards : {-1e300, 0.0, 1e300}) {
            f64 x = g.west + (g.east - g.west) * t, y = g.north + (g.south - g.north) * (1.0 - t);
            if (towards != 0) x = std::nextafter(x, towards), y = std::nextafter(y, -towards);
            check(GeoPoint{x, y});
        }
    }
    // Points taken from the input's last bytes as fractions of the raster's box.
    for (size_t at = 0; at + 4 <= size && at < 256; at += 4) {
        u16 a, b;
        std::memcpy(&a, data + size - 4 - at, 2);
        std::memcpy(&b, data + size - 2 - at, 2);
        check(GeoPoint{g.west + (g.east - g.west) * (a / 65535.0 * 1.1 - 0.05), g.north + (g.south - g.north) * (b / 65535.0 * 1.1 - 0.05)});
    }
    loader->slots[0].raster = ElevationRaster{};
    loader->loadedCount = 0;
    prepareElevationLookups(loader);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
    if (size < 2) return 0;
    size_t headerLength = (size_t)data[0] | (size_t)data[1] << 8;
    if (headerLength > size - 2) headerLength = size - 2;
    // Exact-size copies, so that a read past either end is caught.
    std::vector<u8> header(data + 2, data + 2 + headerLength);
    std::vector<u8> grid(data + 2 + headerLength, data + size);

    FixedString name = stringFromBytes(header.data(), (i64)(header.size() < 11 ? header.size() : 11));
    i32 south = 0, west = 0;
    if (parseSrtmTileName(name, &south, &west)) {
        FixedString again = srtmTileName(south, west);
        if (again.length != 11) std::abort();
    }

    BilHeader bil;
    FixedString problem = parseBilHeader(&bil, header.data(), (i64)header.size());
    if (problem.length) return 0;
    static const f64 kSmallArea[4] = {8.5, 8.6, 47.3, 47.4};
    const i64 budget = 1 << 16;
    for (const f64* area : {(const f64*)nullptr, kSmallArea}) {
        ElevationRaster raster;
        readBilRaster(&raster, grid.data(), (i64)grid.size(), &bil, budget, 4, area);
        if (raster.error.length == 0) {
            if ((i64)raster.rowStride * raster.height > budget && (raster.width > 1 || raster.height > 1)) std::abort();
            if (raster.samples == nullptr) std::abort();
            const RasterGeoreference& g = raster.georeference;
            for (i32 i = 0; i <= 8; i++) {
                f64 t = i / 8.0;
                GeoPoint p{g.west + (g.east - g.west) * t, g.north + (g.south - g.north) * (1.0 - t)};
                f64 height = 0;
                if (sampleElevationRaster(&raster, p, &height) && std::isnan(height) && raster.sampleFormat == 37316) {
                    std::abort();
                }
            }
            compareQuickLookUp(raster, data, size);
        }
        releaseElevationRaster(&raster);
    }
    ElevationRaster tile;
    readSrtmTile(&tile, grid.data(), (i64)grid.size(), 47, 8, budget, 4, nullptr);
    if (tile.error.length == 0 && tile.samples) compareQuickLookUp(tile, data, size);
    releaseElevationRaster(&tile);
    return 0;
}
