// An elevation raster's samples as the renderer's textures: one texture when the raster fits one,
// else tiles of at most kElevationTileSamples a side, each sharing its last column and row with the
// next, so that the shading's bilinear blend runs on across their edges. Every tile is an image
// slot over the raster's own samples (rows as long as the raster's), so nothing is copied.
#pragma once
#include "Core/ElevationRaster.h"
#include "Core/ImageSlots.h"

// The least texture size every OpenGL 4.3 context allows.
constexpr u32 kElevationTileSamples = 16384;
constexpr u32 kElevationMaxTiles = 64;

struct ElevationTiles {
    i32 slots[kElevationMaxTiles];  // image slot ids, row by row from the north-west; 0 none
    u32 columns, rows;
};

// The samples first .. last (inclusive) of tile k of n along a side of `size` samples.
void elevationTileRange(u32 size, u32 k, u32* first, u32* last);

// Claims an image slot for every tile of the raster; true when all were had (a raster that needs
// more than kElevationMaxTiles tiles, or a full table, claims none).
bool claimElevationTiles(ElevationTiles* tiles, const ElevationRaster* raster, ImageSlotTable* table);
// Asks the release of the tiles' slots that still show this raster's samples, and forgets them.
void releaseElevationTiles(ElevationTiles* tiles, const ElevationRaster* raster, ImageSlotTable* table);
// Whether every tile's slot still shows this raster's samples (none is released or reused).
bool elevationTilesCurrent(const ElevationTiles* tiles, const ElevationRaster* raster, ImageSlotTable* table);
