#include "Core/MathBits.h"

namespace {

struct ByteBitCounts {
    u8 counts[256];
};

constexpr ByteBitCounts makeByteBitCounts() {
    ByteBitCounts table{};
    for (int i = 0; i < 256; ++i) table.counts[i] = static_cast<u8>((i & 1) + table.counts[i / 2]);
    return table;
}

constexpr ByteBitCounts kByteBitCounts = makeByteBitCounts();

}  // namespace

i32 countSetBits(const void* bytes, u32 wordCount) {
    const u8* at = static_cast<const u8*>(bytes);
    i32 total = 0;
    for (u64 i = 0, n = static_cast<u64>(wordCount) * 8; i < n; ++i) total += kByteBitCounts.counts[at[i]];
    return total;
}
