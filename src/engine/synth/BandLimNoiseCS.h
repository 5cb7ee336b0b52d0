#pragma once

#include "engine/CF.h"
#include "engine/synth/FourLanes.h"

// Smoothly varying random complex values for noisy partials: two sources per call whose targets
// come from the canonical generator and are crossfaded with a power-keeping cubic.
struct BandLimNoiseCS
{
    // Advances by one step and returns the two values. step: how far the crossfade moves per call
    // (above 0.85 every call draws fresh, uninterpolated values); corr mixes the first source into
    // the second; spread scales the second source's own part. Inline, as it runs once per noisy
    // partial and hop.
    inline void getUnitWithStep(float step, float corr, float spread, CF& out1, CF& out2) noexcept;

    // getUnitWithStep for four sources at once, lane k stepping *sources[k] by step[k]. Fresh
    // targets are drawn in lane order, so values and draws are exactly those of four calls.
    static inline void getUnitWithStep4(BandLimNoiseCS* const* sources, lanes::F4 step, float corr, float spread,
                                        lanes::CF4& out1, lanes::CF4& out2) noexcept;

    // Draws fresh targets from the canonical generator into new1 and new2.
    void draw(float corr, float spread) noexcept;

    float phase = 0.0f;
    CF old1;
    CF new1;
    CF old2;
    CF new2;
};
static_assert(sizeof(BandLimNoiseCS) == 9 * sizeof(float), "noise state is nine words");

namespace bandlim
{
// Above this step the source is white: fresh values every call, no crossfade.
inline constexpr float kWhiteStep = 0.85f;
} // namespace bandlim

void BandLimNoiseCS::getUnitWithStep(float step, float corr, float spread, CF& out1, CF& out2) noexcept
{
    if (step > bandlim::kWhiteStep)
    {
        draw(corr, spread);
        out1 = new1;
        out2 = new2;
        return;
    }
    // The step is stretched as it nears the white limit, so the band of the noise keeps widening.
    phase += (0.01f / (0.97f - step) + 1.0f) * step;
    if (!(phase >= 0.0f)) // a negative or NaN step must not leave the crossfade range
        phase = 0.0f;
    if (phase >= 1.0f)
    {
        old1 = new1;
        old2 = new2;
        draw(corr, spread);
        phase -= static_cast<float>(static_cast<int>(phase));
    }
    // Cubic crossfade: a + b is 1 at the ends and 1.375 at the middle (0.6875 each), which keeps
    // the power of two uncorrelated values roughly constant.
    const float x = phase;
    const float y = 1.0f - x;
    const float a = 1.0f - (4.0f - 3.0f * x) * x * x * x;
    const float b = 1.0f - (4.0f - 3.0f * y) * y * y * y;
    out1 = {b * new1.re + a * old1.re, b * new1.im + a * old1.im};
    out2 = {b * new2.re + a * old2.re, b * new2.im + a * old2.im};
}

void BandLimNoiseCS::getUnitWithStep4(BandLimNoiseCS* const* sources, lanes::F4 step, float corr, float spread,
                                      lanes::CF4& out1, lanes::CF4& out2) noexcept
{
    using namespace lanes;
    const I4 white = step > bandlim::kWhiteStep;
    // Phases move on lane-wise; only lanes that draw (white, or crossing into a new target) leave
    // the vector path, in lane order.
    F4 phase = gather4([&](int k) noexcept { return sources[k]->phase; }) + (0.01f / (0.97f - step) + 1.0f) * step;
    phase = select(phase >= 0.0f, phase, splat(0.0f)); // a negative or NaN step restarts the crossfade
    const I4 crossing = (phase >= 1.0f) & ~white;
    phase = select(crossing, phase - toFloat(toInt(phase)), phase);
    for (int k = 0; k < kLanes; ++k)
    {
        if (white[k] == 0)
            sources[k]->phase = phase[k];
    }
    if (anyLane(white | crossing))
    {
        for (int k = 0; k < kLanes; ++k)
        {
            BandLimNoiseCS& n = *sources[k];
            if (crossing[k] != 0)
            {
                n.old1 = n.new1;
                n.old2 = n.new2;
            }
            if ((white[k] | crossing[k]) != 0)
                n.draw(corr, spread);
        }
    }
    const F4 x = phase;
    const F4 y = 1.0f - x;
    const F4 a = 1.0f - (4.0f - 3.0f * x) * x * x * x;
    const F4 b = 1.0f - (4.0f - 3.0f * y) * y * y * y;
    const CF4 new1{gather4([&](int k) noexcept { return sources[k]->new1.re; }), gather4([&](int k) noexcept { return sources[k]->new1.im; })};
    const CF4 old1{gather4([&](int k) noexcept { return sources[k]->old1.re; }), gather4([&](int k) noexcept { return sources[k]->old1.im; })};
    const CF4 new2{gather4([&](int k) noexcept { return sources[k]->new2.re; }), gather4([&](int k) noexcept { return sources[k]->new2.im; })};
    const CF4 old2{gather4([&](int k) noexcept { return sources[k]->old2.re; }), gather4([&](int k) noexcept { return sources[k]->old2.im; })};
    out1 = {select(white, new1.re, b * new1.re + a * old1.re), select(white, new1.im, b * new1.im + a * old1.im)};
    out2 = {select(white, new2.re, b * new2.re + a * old2.re), select(white, new2.im, b * new2.im + a * old2.im)};
}
