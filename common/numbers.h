#pragma once

#include <cmath>

namespace p1 {

// Whether a double can become a 64-bit integer without undefined behaviour (NaN, infinities and
// values beyond the integer range cannot).
inline bool fitsInteger(double value)
{
    return std::isfinite(value) && value >= -0x1p63 && value < 0x1p63;
}

} // namespace p1
