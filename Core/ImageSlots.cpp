#include "Core/ImageSlots.h"

i32 allocImageSlot(u8* pixels, u32 width, u32 height, u32 format, ImageSlotTable* table) {
    for (i32 word = 0; word < kImageSlotCount / 64; ++word) {
        u64 bits = table->used[word];
        if (bits == ~u64(0)) continue;
        i32 bit = 0;
        while ((bits >> bit) & 1) ++bit;
        table->used[word] = bits | (u64(1) << bit);
        i32 index = word * 64 + bit;
        ImageSlot* slot = &table->slots[index];
        *slot = ImageSlot{};
        slot->pixels = pixels;
        slot->width = width;
        slot->height = height;
        slot->format = format;
        return index + 1;
    }
    return 0;
}

ImageSlot* getImageSlot(ImageSlotTable* table, i32 id) {
    if (id < 1 || id > kImageSlotCount) return nullptr;
    i32 index = id - 1;
    if (!((table->used[index / 64] >> (index % 64)) & 1)) return nullptr;
    return &table->slots[index];
}
