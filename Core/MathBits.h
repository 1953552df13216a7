// Bit counting over used-slot bitmaps.
#pragma once
#include "Core/Types.h"

// The number of set bits in `wordCount` 64-bit words (8 × wordCount bytes) at `bytes`.
i32 countSetBits(const void* bytes, u32 wordCount);
