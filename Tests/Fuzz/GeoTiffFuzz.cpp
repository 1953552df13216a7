// GeoTIFF files from untrusted sources: the user's own elevation files. Every read stays inside the
// given bytes, a taken sample block is recorded and released, and a successful read keeps its
// stored image inside the budget and its height range ordered.
#include <cstdlib>
#include <vector>

#include "Decoders/GeoTiff.h"
#include "Decoders/Lzw.h"

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
    // An exact-size copy, so that a read past the end is caught.
    std::vector<u8> bytes(data, data + size);
    static const f64 kArea[4] = {-180.0, 180.0, -90.0, 90.0};
    static const f64 kSmallArea[4] = {8.5, 8.6, 47.3, 47.4};
    const i64 budget = 1 << 16;
    for (const f64* area : {kArea, kSmallArea}) {
        ElevationRaster raster;
        u8 progress = 0;
        parseGeoTiff(&raster, bytes.data(), (i64)bytes.size(), budget, 4, area, &progress);
        if (raster.error.length == 0) {
            if ((i64)raster.rowStride * raster.height > budget && (raster.width > 1 || raster.height > 1)) std::abort();
            if (raster.samples == nullptr || progress != 100) std::abort();
            if (raster.minimum > raster.maximum && raster.minimum != 1000000.0f) std::abort();
        }
        releaseElevationRaster(&raster);
    }
    static u8 output[1 << 16];
    ByteWriter writer = makeByteWriter(output, sizeof(output));
    i64 consumed = decodeTiffLzw(bytes.data(), (i64)bytes.size(), &writer);
    if (consumed > (i64)bytes.size() || writer.length > writer.capacity) std::abort();
    ByteWriter small = makeByteWriter(output, 4096);
    consumed = decodeTiffLzwToFill(bytes.data(), (i64)bytes.size(), &small);
    if (consumed > (i64)bytes.size() || small.length > small.capacity) std::abort();
    return 0;
}
