// The table of dynamic image slots through which decoded images (video frames, tiles, overlay
// pictures, elevation rasters) are handed to the renderer. A slot id is the slot's index + 1; 0
// means no slot. The renderer makes a slot's texture once and frees the slot after its owner sets
// releaseRequested.
#pragma once
#include "Core/Types.h"

constexpr i32 kImageSlotCount = 512;

struct ImageSlot {
    u32 texture;  // the renderer's texture name, 0 until it is made
    u32 rowLength;  // pixels from one row's start to the next when the image is part of a wider one; 0: width
    u8* pixels;   // rows top to bottom; must stay valid until the slot is released
    u32 width;
    u32 height;
    u32 format;   // image format code (4 RGBA, 12 NV12, ...)
    u32 releaseRequested;
};

static_assert(sizeof(ImageSlot) == 32);

struct ImageSlotTable {
    u64 used[kImageSlotCount / 64];  // bit s of word s / 64: slot s in use
    ImageSlot slots[kImageSlotCount];
};

// Claims the lowest free slot for an image and returns its id, or 0 when all 512 are in use.
i32 allocImageSlot(u8* pixels, u32 width, u32 height, u32 format, ImageSlotTable* table);

// The slot of an id in use, or null.
ImageSlot* getImageSlot(ImageSlotTable* table, i32 id);
