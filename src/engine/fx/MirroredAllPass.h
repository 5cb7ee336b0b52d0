#pragma once

#include <algorithm>

// One all-pass stage, x -> v = x - 0.66 d, out = 0.66 v + d with d the memory's sample `delay` back,
// on a memory of kSize samples (a power of two) followed by a copy of its first kSpan samples:
// a read of up to kSpan samples then never wraps and runs as one plain loop over the samples.
// The stage takes runs of at most kSpan samples that start at write position w and reads at least
// kSpan samples back, so a run never reads what it writes. mem holds kSize + kSpan floats.
template <int kSize, int kSpan>
inline __attribute__((always_inline)) void runMirroredAllPass(float* mem, float* e, int len, int w,
                                                              int delay) noexcept
{
    static_assert((kSize & (kSize - 1)) == 0 && kSpan <= kSize);
    constexpr int kMask = kSize - 1;
    // A stretch whose writes stay on one side of the memory's end; its reads may run into the copy.
    const auto pass = [&](int k, int run, int at, int rd) __attribute__((always_inline))
    {
        const float* __restrict src = mem + rd;
        float* __restrict dst = mem + at;
        float* __restrict ek = e + k;
        for (int i = 0; i < run; ++i)
        {
            const float d = src[i];
            const float v = ek[i] - 0.66f * d;
            dst[i] = v;
            ek[i] = 0.66f * v + d;
        }
    };
    const int rd = (w + kSize - delay) & kMask;
    if (w + len <= kSize)
        pass(0, len, w, rd);
    else
    {
        const int first = kSize - w;
        pass(0, first, w, rd);
        pass(first, len - first, 0, (rd + first) & kMask);
    }
    // The copy follows the samples it repeats.
    if (w < kSpan || w + len > kSize) std::copy(mem, mem + kSpan, mem + kSize);
}
