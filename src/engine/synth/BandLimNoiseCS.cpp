#include "engine/synth/BandLimNoiseCS.h"

#include "engine/modulation/CanonRandom.h"

void BandLimNoiseCS::draw(float corr, float spread) noexcept
{
    float r[4];
    getCanonRandFloats(r, 4);
    new1 = {bandlim::kHalfPower * r[0], bandlim::kHalfPower * r[1]};
    new2 = {bandlim::kHalfPower * spread * r[2] + corr * new1.re, bandlim::kHalfPower * spread * r[3] + corr * new1.im};
}
