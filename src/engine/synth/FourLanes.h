#pragma once

#include <cmath>
#include <cstdint>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "engine/CF.h"

// Four floats (or ints) side by side for the per-partial loops of rendering. Lane-wise vector
// arithmetic is the same IEEE arithmetic as scalar code written in the same order, so a loop
// that runs four partials at a time gives exactly the results of its scalar form. Plain compiler
// vector types: no instruction-set extension is assumed beyond what every x86-64 has.
namespace lanes
{

inline constexpr int kLanes = 4;
using F4 = float __attribute__((vector_size(16)));
using I4 = int32_t __attribute__((vector_size(16)));
using U4 = uint32_t __attribute__((vector_size(16)));

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
inline bool allLanes(I4 mask) noexcept { return laneBits(mask) == 0xf; }
inline bool anyLane(I4 mask) noexcept { return laneBits(mask) != 0; }

// Lane k from f(k). Built from registers, not lane by lane through memory, which would stall on
// the vector read-back.
template <class Fn>
inline F4 gather4(Fn f) noexcept
{
    return F4{f(0), f(1), f(2), f(3)};
}
template <class Fn>
inline I4 gatherI4(Fn f) noexcept
{
    return I4{f(0), f(1), f(2), f(3)};
}
inline F4 toFloat(I4 x) noexcept { return __builtin_convertvector(x, F4); }
// Truncation towards zero, as a scalar cast.
inline I4 toInt(F4 x) noexcept { return __builtin_convertvector(x, I4); }

// Correctly rounded square root of each lane, as std::sqrt (NaN for a negative lane).
inline F4 sqrt4(F4 x) noexcept
{
#if defined(__SSE__)
    return reinterpret_cast<F4>(_mm_sqrt_ps(reinterpret_cast<__m128>(x)));
#else
    return F4{std::sqrt(x[0]), std::sqrt(x[1]), std::sqrt(x[2]), std::sqrt(x[3])};
#endif
}

// |x| of each lane (the sign bit cleared, as std::fabs).
inline F4 abs4(F4 x) noexcept { return reinterpret_cast<F4>(reinterpret_cast<I4>(x) & splatI(0x7fffffff)); }

// Complex values of four lanes, real and imaginary parts apart.
struct CF4
{
    F4 re;
    F4 im;
};
inline CF4 cmul4(CF4 a, CF4 b) noexcept { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
inline CF4 cscale4(CF4 a, F4 s) noexcept { return {a.re * s, a.im * s}; }
inline CF4 loadCF4(const CF* p) noexcept
{
    return {F4{p[0].re, p[1].re, p[2].re, p[3].re}, F4{p[0].im, p[1].im, p[2].im, p[3].im}};
}
inline void storeCF4(CF* p, CF4 a) noexcept
{
    for (int k = 0; k < kLanes; ++k)
        p[k] = {a.re[k], a.im[k]};
}
inline CF4 gatherCF4(const CF* table, U4 idx) noexcept
{
    const CF c0 = table[idx[0]];
    const CF c1 = table[idx[1]];
    const CF c2 = table[idx[2]];
    const CF c3 = table[idx[3]];
    return {F4{c0.re, c1.re, c2.re, c3.re}, F4{c0.im, c1.im, c2.im, c3.im}};
}

} // namespace lanes
