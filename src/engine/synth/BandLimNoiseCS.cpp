#include "engine/synth/BandLimNoiseCS.h"

#include "engine/modulation/CanonRandom.h"

namespace
{
// 1/sqrt(2): each component gets half the unit variance, so a value has unit power.
constexpr float kHalfPower = 0.707f;
} // namespace

void BandLimNoiseCS::draw(float corr, float spread) noexcept
{
    float r[4];
    getCanonRandFloats(r, 4);
    new1 = {kHalfPower * r[0], kHalfPower * r[1]};
    new2 = {kHalfPower * spread * r[2] + corr * new1.re, kHalfPower * spread * r[3] + corr * new1.im};
}
