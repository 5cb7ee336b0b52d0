#include "engine/BandLimNoiseCS.h"

#include "engine/CanonRandom.h"

namespace
{
// 1/sqrt(2): each component gets half the unit variance, so a value has unit power.
constexpr float kHalfPower = 0.707f;
// Above this step the source is white: fresh values every call, no crossfade.
constexpr float kWhiteStep = 0.85f;

void draw(float corr, float spread, CF& new1, CF& new2) noexcept
{
    const float r1 = getCanonRandFloat();
    const float r2 = getCanonRandFloat();
    const float r3 = getCanonRandFloat();
    const float r4 = getCanonRandFloat();
    new1 = {kHalfPower * r1, kHalfPower * r2};
    new2 = {kHalfPower * spread * r3 + corr * new1.re, kHalfPower * spread * r4 + corr * new1.im};
}
} // namespace

void BandLimNoiseCS::getUnitWithStep(float step, float corr, float spread, CF& out1, CF& out2) noexcept
{
    if (step > kWhiteStep)
    {
        draw(corr, spread, new1, new2);
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
        draw(corr, spread, new1, new2);
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
