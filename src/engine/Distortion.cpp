#include "engine/Distortion.h"

#include "engine/Param.h"

void Distortion::setParamPtr(Param* first)
{
    params = first;
    first[kWetMix].set("Wet Mix", kCurveLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", 50.0f);
    first[kDrive].set("Drive", kCurveLinear, 0.0f, 24.0f, 0.0f, "%.0f dB", 6.0f);
    first[kBias].set("Bias", kCurveLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", 20.0f);
    first[kFoldover].set("Foldover", kCurveLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", 10.0f);
    // Values run from 0.3 to 10 (kHz): the curve squares the inner range.
    first[kCenterFreq].set("Center Freq", kCurvePowValue, 0.5477226f, 3.1622777f, 2.0f, "%.1f Hz", 3.0f);
    first[kBandwidth].set("Bandwidth", kCurveLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", 50.0f);
    for (int i = 0; i < kNumParams; ++i)
        smooth[static_cast<std::size_t>(i)] = first[i].value;
    bpDirty = 1;
}

void Distortion::setup(float newSampleRate, int newNumChannels)
{
    FxUnit::setup(newSampleRate, newNumChannels);
    bpDirty = 1;
}

void Distortion::process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                         bool bypass) noexcept
{
    (void)silent;
    (void)bypass;
    passThrough(in, out, numSamples, numChannels);
}

void Distortion::computeCoefs() noexcept {}
