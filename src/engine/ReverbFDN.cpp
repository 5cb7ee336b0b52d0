#include "engine/ReverbFDN.h"

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
    const char* sinceVersion; // nullptr: present from the start
    float lowestValue, highestValue;
};

constexpr ParamSpec kSpecs[ReverbFDN::kNumParams] = {
    {"Reverb_Wet Mix", kCurveLinear, 0.0f, 100.0f, 0.0f, 14.0f, "%.0f%%", nullptr, 0.0f, 100.0f},
    {"Reverb_Pre-Delay", kCurvePowUnit, 0.0f, ReverbFDN::kMaxPreDelayMs, 2.0f, 10.0f, "%.0f ms", nullptr, 0.0f,
     ReverbFDN::kMaxPreDelayMs},
    {"Reverb_Decay Time", kCurvePowUnit, 0.1f, 8.0f, 3.0f, 0.37f, "%.2f s", nullptr, 0.1f, 8.0f},
    {"Reverb_Damping", kCurveLinear, 0.0f, 100.0f, 0.0f, 30.0f, "%.0f%%", nullptr, 0.0f, 100.0f},
    {"Reverb_Modulation", kCurveLinear, 0.0f, 100.0f, 0.0f, 30.0f, "%.0f%%", nullptr, 0.0f, 100.0f},
    {"Reverb_Stereo Width", kCurveLinear, 0.0f, 100.0f, 0.0f, 20.0f, "%.0f%%", nullptr, 0.0f, 100.0f},
    // Stored as square roots of 0.3 and 10 (kHz).
    {"Reverb_Filter Freq", kCurvePowValue, 0.5477226f, 3.1622777f, 2.0f, 3.0f, "%.1f Hz", nullptr, 0.3f, 10.0f},
    {"Reverb_Filter Width", kCurveLinear, 0.0f, 100.0f, 0.0f, 60.0f, "%.0f%%", nullptr, 0.0f, 100.0f},
    {"Reverb_Feedback", kCurveLinear, 0.0f, 100.0f, 0.0f, 0.0f, "%.0f%%", "1.0.1", 0.0f, 100.0f},
};
} // namespace

ReverbFDN::ReverbFDN() : ring(kRingSize, 0.0f) {}

void ReverbFDN::setParamPtr(Param* first)
{
    params = first;
    for (int i = 0; i < kNumParams; ++i)
    {
        const ParamSpec& s = kSpecs[i];
        params[i].set(s.name, s.curve, s.minimum, s.maximum, s.exponent, s.format, s.defaultValue, "",
                      s.sinceVersion ? versionStringToInt(s.sinceVersion) : 0);
    }
}

void ReverbFDN::setup(float newSampleRate, int newNumChannels)
{
    FxUnit::setup(newSampleRate, newNumChannels);
}

void ReverbFDN::process(float** in, float** out, int numSamples, int numChannels, bool& /*silent*/,
                        bool /*bypass*/) noexcept
{
    if (numSamples <= 0 || numChannels <= 0)
        return;
    passThrough(in, out, numSamples, std::min(numChannels, kMaxChannels));
}

int ReverbFDN::getPreDelaySamples() const noexcept
{
    return 0;
}
