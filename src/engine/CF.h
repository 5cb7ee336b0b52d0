#pragma once

// A complex value in single precision: partial amplitudes, rotation and random tables.
struct CF
{
    float re = 0.0f;
    float im = 0.0f;
};
