#include "engine/synth/BandLimNoiseCS.h"

#include "engine/modulation/CanonRandom.h"

void BandLimNoiseCS::draw(float corr, float spread) noexcept
{
    float r[4];
    getCanonRandFloats(r, 4);
    bandlim::targets(r, corr, spread, new1, new2);
}
