#include "Map/ElevationTiles.h"

namespace {

u32 tilesAlong(u32 size) { return size <= kElevationTileSamples ? 1 : (size - 2) / (kElevationTileSamples - 1) + 1; }

u32 bytesPerSample(const ElevationRaster* raster) { return raster->sampleFormat == kRasterSamplesF32 ? 4 : 2; }

// The first sample of a tile within the raster's block.
u8* tilePixels(const ElevationRaster* raster, u32 column, u32 row) {
    u32 x0, x1, y0, y1;
    elevationTileRange(raster->width, column, &x0, &x1);
    elevationTileRange(raster->height, row, &y0, &y1);
    return raster->samples + (i64)y0 * raster->rowStride + (i64)x0 * bytesPerSample(raster);
}

}  // namespace

void elevationTileRange(u32 size, u32 k, u32* first, u32* last) {
    *first = k * (kElevationTileSamples - 1);
    u32 end = *first + kElevationTileSamples - 1;
    *last = size == 0 ? 0 : end < size - 1 ? end : size - 1;
}

bool claimElevationTiles(ElevationTiles* tiles, const ElevationRaster* raster, ImageSlotTable* table) {
    *tiles = ElevationTiles{};
    if (!raster->samples || raster->width == 0 || raster->height == 0) return false;
    u32 columns = tilesAlong(raster->width), rows = tilesAlong(raster->height);
    // Tiles read the raster's rows in place: the rows' length in samples must be whole.
    u32 sampleBytes = bytesPerSample(raster);
    if ((u64)columns * rows > kElevationMaxTiles || raster->rowStride % sampleBytes != 0) return false;
    tiles->columns = columns;
    tiles->rows = rows;
    for (u32 r = 0; r < rows; r++) {
        for (u32 c = 0; c < columns; c++) {
            u32 x0, x1, y0, y1;
            elevationTileRange(raster->width, c, &x0, &x1);
            elevationTileRange(raster->height, r, &y0, &y1);
            i32 id = allocImageSlot(tilePixels(raster, c, r), x1 - x0 + 1, y1 - y0 + 1, raster->sampleFormat, table);
            if (!id) {
                releaseElevationTiles(tiles, raster, table);
                return false;
            }
            if (columns > 1) getImageSlot(table, id)->rowLength = raster->rowStride / sampleBytes;
            tiles->slots[r * columns + c] = id;
        }
    }
    return true;
}

void releaseElevationTiles(ElevationTiles* tiles, const ElevationRaster* raster, ImageSlotTable* table) {
    for (u32 r = 0; r < tiles->rows; r++) {
        for (u32 c = 0; c < tiles->columns; c++) {
            ImageSlot* image = table ? getImageSlot(table, tiles->slots[r * tiles->columns + c]) : nullptr;
            if (image && raster->samples && image->pixels == tilePixels(raster, c, r)) image->releaseRequested = 1;
        }
    }
    *tiles = ElevationTiles{};
}

bool elevationTilesCurrent(const ElevationTiles* tiles, const ElevationRaster* raster, ImageSlotTable* table) {
    if (tiles->columns == 0 || tiles->rows == 0 || !raster->samples) return false;
    for (u32 r = 0; r < tiles->rows; r++) {
        for (u32 c = 0; c < tiles->columns; c++) {
            ImageSlot* image = getImageSlot(table, tiles->slots[r * tiles->columns + c]);
            if (!image || image->pixels != tilePixels(raster, c, r) || image->releaseRequested) return false;
        }
    }
    return true;
}
