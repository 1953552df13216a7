// Random bytes from the operating system's generator.
#pragma once
#include "Core/Types.h"

// Fills out with count random bytes. Interrupted and short reads are retried; returns 0 on success
// and 1 when the generator failed, in which case out must not be used.
i32 getRandomBytes(u8* out, i64 count);
