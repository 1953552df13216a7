// BIL grids with their ".hdr" texts, and SRTM tile names, from untrusted sources: the user's own
// elevation files. Input: a u16 (little-endian) header length, the header text, then the grid's bytes.
// Every read stays inside the given bytes, a successful read keeps its stored image inside the budget,
// and height look-ups on it stay inside its samples.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Map/ElevationFiles.h"

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
        }
        releaseElevationRaster(&raster);
    }
    ElevationRaster tile;
    readSrtmTile(&tile, grid.data(), (i64)grid.size(), 47, 8, budget, 4, nullptr);
    releaseElevationRaster(&tile);
    return 0;
}
