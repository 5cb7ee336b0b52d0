#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

// Four floats (or ints) side by side for the per-partial loops of rendering. Lane-wise vector
// arithmetic is the same IEEE arithmetic as scalar code written in the same order, so a loop
// that runs four partials at a time gives exactly the results of its scalar form. Plain compiler
// vector types: no instruction-set extension is assumed beyond what every x86-64 has.
namespace lanes
{

inline constexpr int kLanes = 4;
using F4 = float __attribute__((vector_size(16)));
using I4 = int32_t __attribute__((vector_size(16)));

inline F4 splat(float x) noexcept { return F4{x, x, x, x}; }
inline I4 splatI(int32_t x) noexcept { return I4{x, x, x, x}; }

// mask lanes are all ones or all zeros (a vector comparison's result).
inline F4 select(I4 mask, F4 a, F4 b) noexcept
{
    return reinterpret_cast<F4>((reinterpret_cast<I4>(a) & mask) | (reinterpret_cast<I4>(b) & ~mask));
}
inline I4 selectI(I4 mask, I4 a, I4 b) noexcept { return (a & mask) | (b & ~mask); }
#if defined(__SSE__)
inline int laneBits(I4 mask) noexcept { return _mm_movemask_ps(reinterpret_cast<__m128>(mask)); }
#else
inline int laneBits(I4 mask) noexcept
{
    return (mask[0] != 0 ? 1 : 0) | (mask[1] != 0 ? 2 : 0) | (mask[2] != 0 ? 4 : 0) | (mask[3] != 0 ? 8 : 0);
}
#endif
inline bool anyLane(I4 mask) noexcept { return laneBits(mask) != 0; }

// The lowest and the highest of the four lanes.
inline int32_t lowestLane(I4 x) noexcept
{
    x = selectI(x < __builtin_shufflevector(x, x, 2, 3, 0, 1), x, __builtin_shufflevector(x, x, 2, 3, 0, 1));
    return std::min(x[0], x[1]);
}
inline int32_t highestLane(I4 x) noexcept
{
    x = selectI(x > __builtin_shufflevector(x, x, 2, 3, 0, 1), x, __builtin_shufflevector(x, x, 2, 3, 0, 1));
    return std::max(x[0], x[1]);
}

inline F4 toFloat(I4 x) noexcept { return __builtin_convertvector(x, F4); }

// Correctly rounded square root of each lane, as std::sqrt (NaN for a negative lane).
inline F4 sqrt4(F4 x) noexcept
{
#if defined(__SSE__)
    return reinterpret_cast<F4>(_mm_sqrt_ps(reinterpret_cast<__m128>(x)));
#else
    return F4{std::sqrt(x[0]), std::sqrt(x[1]), std::sqrt(x[2]), std::sqrt(x[3])};
#endif
}

} // namespace lanes
