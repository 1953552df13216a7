// The tiles a map view shows taken as loaded, as the tile cache would have them after their reads:
// each visible tile gets an entry in state ready with an image slot over its pixels.
#pragma once
#include <cmath>

#include "Map/TileMaps.h"
#include "Platform/Platform.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/MapView.h"

inline void makeTilesInViewLoaded(TileMaps* tiles, const MapView* view, Platform* platform, UiState* ui) {
    u32 level = tiles->lastLevel;
    f64 n = std::ldexp(1.0, (i32)level);
    i64 x0 = (i64)std::floor((view->visibleXMin + 0.5) * n), x1 = (i64)std::floor((view->visibleXMax + 0.5) * n);
    i64 y0 = (i64)std::floor((0.5 - view->visibleYMax) * n), y1 = (i64)std::floor((0.5 - view->visibleYMin) * n);
    i32 next = 0;
    for (TileEntry& entry : tiles->entries) {
        if (entry.read) releaseFileReadRequest(entry.read, &platform->fileReads);
        entry.read = nullptr;
        if (ImageSlot* slot = getImageSlot(&ui->imageSlots, entry.imageSlot)) slot->releaseRequested = 1;
        entry.imageSlot = 0;
        entry.state = TileEntryFree;
    }
    for (i64 y = y0; y <= y1; y++) {
        for (i64 x = x0; x <= x1 && next < kTileTextureCount; x++) {
            TileEntry* entry = &tiles->entries[next++];
            entry->level = level;
            entry->x = (u32)x;
            entry->y = (u32)y;
            entry->state = TileEntryReady;
            entry->result.width = entry->result.height = kTileSize;
            entry->imageSlot = allocImageSlot(entry->pixels, kTileSize, kTileSize, ImageFormatRgba, &ui->imageSlots);
        }
    }
}
