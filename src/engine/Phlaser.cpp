#include "engine/Phlaser.h"

#include <algorithm>
#include <cmath>

#include "engine/Param.h"

namespace
{
struct ParamSpec
{
    const char* name;
    int32_t curve;
    float minimum, maximum, exponent;
    float defaultValue;
    const char* format;
    bool snapAtZero;
    float lowestValue, highestValue;
};

constexpr ParamSpec kSpecs[Phlaser::kNumParams] = {
    {"Wet Mix", kCurveLinear, 0.0f, 100.0f, 0.0f, 60.0f, "%.0f%%", false, 0.0f, 100.0f},
    {"Flange/Phase", kCurveLinear, -100.0f, 100.0f, 0.0f, 0.0f, "%.0f%%", true, -100.0f, 100.0f},
    // Stored as square roots of 0.1 and 10 (kHz).
    {"Frequency", kCurvePowValue, 0.31622776f, 3.1622777f, 2.0f, 2.0f, "%.2f kHz", false, 0.1f, 10.0f},
    {"Mod Amp", kCurveLinear, 0.0f, 100.0f, 0.0f, 50.0f, "%.0f%%", false, 0.0f, 100.0f},
    // Stored as square roots of 0.01 and 10 (Hz).
    {"Mod Freq", kCurvePowValue, 0.1f, 3.1622777f, 2.0f, 0.26f, "%.2f Hz", false, 0.01f, 10.0f},
    {"Mod Stereo", kCurveLinear, 0.0f, 360.0f, 0.0f, 10.0f, "%.0f", false, 0.0f, 360.0f},
    {"Feedback", kCurveLinear, -99.0f, 99.0f, 0.0f, -90.0f, "%.0f%%", true, -99.0f, 99.0f},
    {"Phase Stages", kCurveRoundLinear, 1.0f, 16.0f, 0.0f, 4.0f, "%.0f", false, 1.0f, 16.0f},
};
} // namespace

Phlaser::Phlaser() {}

void Phlaser::setParamPtr(Param* first)
{
    params = first;
    for (int i = 0; i < kNumParams; ++i)
    {
        const ParamSpec& s = kSpecs[i];
        params[i].set(s.name, s.curve, s.minimum, s.maximum, s.exponent, s.format, s.defaultValue, "", 0);
        if (s.snapAtZero)
            params[i].setSnaps({0.0f});
    }
}

void Phlaser::setup(float newSampleRate, int newNumChannels)
{
    FxUnit::setup(newSampleRate, newNumChannels);
}

void Phlaser::process(float** in, float** out, int numSamples, int numChannels, bool& /*silent*/,
                      bool /*bypass*/) noexcept
{
    if (numSamples <= 0 || numChannels <= 0)
        return;
    passThrough(in, out, numSamples, std::min(numChannels, kMaxChannels));
}

int Phlaser::delayMemorySize(float rate) noexcept
{
    (void)rate;
    return 0;
}
