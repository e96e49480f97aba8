#pragma once

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>

// The width of a row of windows in whole twips: widths added in floating point in the order given,
// rounded to nearest with ties to even, held in 16 bits. A row wider than 16 bits can hold is clamped
// rather than wrapped, so it still centres the row as far as the screen allows.
inline int16_t RowWidth(std::initializer_list<float> widths)
{
    float sum = 0.0f;
    for (float w : widths)
        sum += w;
    const float rounded = std::nearbyint(sum); // the default rounding mode rounds ties to even
    if (!(rounded <= float(std::numeric_limits<int16_t>::max())))
        return rounded < 0 ? std::numeric_limits<int16_t>::min() : std::numeric_limits<int16_t>::max();
    if (rounded < float(std::numeric_limits<int16_t>::min()))
        return std::numeric_limits<int16_t>::min();
    return int16_t(rounded);
}
