#pragma once

#include <cmath>
#include <cstdint>

// Float-to-byte rules of the editor's drawing, fixed to the byte (the framework's own conversion
// rounds differently). A value that is not a number counts as 0.

// Alpha byte of a: 0 at or below 0, 255 at or above 1, else the integer part of a x 255.996.
inline uint8_t alphaByte(float a) noexcept
{
    if (!(a > 0.0f)) return 0;
    if (a >= 1.0f) return 255;
    return static_cast<uint8_t>(a * 255.996f);
}

// Grey level of x: x x 255 rounded to the nearest integer (ties to even), limited to 0..255.
inline uint8_t greyLevel(float x) noexcept
{
    if (!(x > 0.0f)) return 0;
    const float v = std::nearbyint(x * 255.0f);
    return v >= 255.0f ? uint8_t{255} : static_cast<uint8_t>(v);
}
