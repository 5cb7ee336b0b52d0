#pragma once

#include "engine/CF.h"

// Smoothly varying random complex values for noisy partials: two sources per call whose targets
// come from the canonical generator and are crossfaded with a power-keeping cubic.
struct BandLimNoiseCS
{
    // Advances by one step and returns the two values. step: how far the crossfade moves per call
    // (above 0.85 every call draws fresh, uninterpolated values); corr mixes the first source into
    // the second; spread scales the second source's own part.
    void getUnitWithStep(float step, float corr, float spread, CF& out1, CF& out2) noexcept;

    float phase = 0.0f;
    CF old1;
    CF new1;
    CF old2;
    CF new2;
};
static_assert(sizeof(BandLimNoiseCS) == 9 * sizeof(float), "noise state is nine words");
