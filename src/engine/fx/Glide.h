#pragma once

// Parameter glides of the filter effects: a target reached in small steps per sub-block, so that
// a knob jump never clicks.

// Moves f one glide step towards t by a constant factor; lands on t within one step.
inline float glideFreq(float f, float t, float factor) noexcept
{
    if (!(f > 0.0f)) // a factor cannot move a non-positive value
        return t;
    if (t > factor * f) return factor * f;
    if (f > factor * t) return f / factor;
    return t;
}

// Moves v one step of the given size towards t; lands on t within one step.
inline float glideLinear(float v, float t, float step) noexcept
{
    if (t - step > v) return v + step;
    if (v > t + step) return v - step;
    return t;
}
