// Rounding of doubles to integers, halves away from zero.
#pragma once
#include <cmath>

#include "Core/Types.h"

// trunc(x + 0.5) for x > 0, else trunc(x - 0.5): 2.5 gives 3, -2.5 gives -3, 0.49 gives 0.
// NaN gives 0; results beyond the i64 range are held at its bounds.
inline i64 roundHalfAwayFromZero(f64 x) {
    f64 rounded = x > 0 ? std::trunc(x + 0.5) : std::trunc(x - 0.5);
    if (!(rounded == rounded)) return 0;
    if (rounded >= 9223372036854775808.0) return INT64_MAX;
    if (rounded < -9223372036854775808.0) return INT64_MIN;
    return (i64)rounded;
}
