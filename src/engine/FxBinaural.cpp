#include "engine/FxBinaural.h"

#include "engine/Param.h"

void FxBinaural::setParamPtr(Param* first)
{
    params = first;
    first[kStereoX].set("Stereo X", kCurveLinear, 0.0f, 1.0f, 0.0f, "%.2f", 0.5f);
    first[kStereoY].set("Stereo Y", kCurveLinear, 0.0f, 1.0f, 0.0f, "%.2f", 0.7f);
    first[kStereoSpread].set("Stereo Spread", kCurveLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", 20.0f);
    first[kStereoSpread].isHostParam = true;
    first[kHyperWidth].set("Hyper Width", kCurveLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", 20.0f, "binaural",
                           versionStringToInt("1.0.0beta6"));
}

int FxBinaural::lineLengthFor(float rate) noexcept
{
    return static_cast<int>(static_cast<unsigned>(kTapSeconds[kNumTaps - 1] * rate)) + kLineExtra;
}

int FxBinaural::tapDelayFor(int k, float rate) noexcept
{
    return static_cast<int>(static_cast<double>(kTapSeconds[static_cast<std::size_t>(k)] * rate) + 0.49);
}

void FxBinaural::setup(float newSampleRate, int newNumChannels)
{
    FxUnit::setup(newSampleRate, newNumChannels);
}

void FxBinaural::process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                         bool bypass) noexcept
{
    (void)silent;
    (void)bypass;
    passThrough(in, out, numSamples, numChannels);
}
