#include "Core/ImageSlots.h"

#include <memory>

#include <gtest/gtest.h>

namespace {

TEST(ImageSlots, HandsOutTheLowestFreeSlotUntilFull) {
    auto table = std::make_unique<ImageSlotTable>();
    *table = ImageSlotTable{};
    u8 pixels[4];
    for (i32 expected = 1; expected <= kImageSlotCount; ++expected) {
        ASSERT_EQ(allocImageSlot(pixels, 2, 1, 4, table.get()), expected);
    }
    for (u64 word : table->used) EXPECT_EQ(word, ~u64(0));
    // The 513th finds nothing and changes nothing.
    EXPECT_EQ(allocImageSlot(pixels, 9, 9, 1, table.get()), 0);
    EXPECT_EQ(table->slots[kImageSlotCount - 1].width, 2u);

    // The renderer frees slots by clearing their bits; the lowest free one goes first, its old
    // texture and release request cleared.
    ImageSlot* slot = getImageSlot(table.get(), 200);
    ASSERT_NE(slot, nullptr);
    slot->texture = 77;
    slot->releaseRequested = 1;
    table->used[199 / 64] &= ~(u64(1) << (199 % 64));
    table->used[70 / 64] &= ~(u64(1) << (70 % 64));
    EXPECT_EQ(getImageSlot(table.get(), 200), nullptr);
    EXPECT_EQ(allocImageSlot(pixels, 3, 5, 12, table.get()), 71);
    EXPECT_EQ(allocImageSlot(pixels + 1, 640, 480, 37316, table.get()), 200);
    slot = getImageSlot(table.get(), 200);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->pixels, pixels + 1);
    EXPECT_EQ(slot->width, 640u);
    EXPECT_EQ(slot->height, 480u);
    EXPECT_EQ(slot->format, 37316u);
    EXPECT_EQ(slot->texture, 0u);
    EXPECT_EQ(slot->releaseRequested, 0u);
    EXPECT_EQ(allocImageSlot(pixels, 1, 1, 1, table.get()), 0);

    EXPECT_EQ(getImageSlot(table.get(), 0), nullptr);
    EXPECT_EQ(getImageSlot(table.get(), -1), nullptr);
    EXPECT_EQ(getImageSlot(table.get(), kImageSlotCount + 1), nullptr);
    EXPECT_EQ(getImageSlot(table.get(), kImageSlotCount), &table->slots[kImageSlotCount - 1]);
}

}  // namespace
