#include "engine/Equalizer.h"

#include "engine/Param.h"

void Equalizer::setParamPtr(Param* first)
{
    params = first;
    first[kLowFreq].set("Low Freq", kCurvePowValue, 7.071068f, 28.284271f, 2.0f, "%.0f Hz", 200.0f);
    first[kHighFreq].set("High Freq", kCurvePowValue, 1.0f, 4.472136f, 2.0f, "%.1f kHz", 5.0f);
    first[kLowGain].set("Low Gain", kCurveLinear, -20.0f, 20.0f, 0.0f, "%.1f dB", 0.0f);
    first[kLowGain].setSnaps({0.0f});
    first[kHighGain].set("High Gain", kCurveLinear, -20.0f, 20.0f, 0.0f, "%.1f dB", 0.0f);
    first[kHighGain].setSnaps({0.0f});
    first[kLowQ].set("Low Q", kCurvePowUnit, 0.0f, 8.0f, 3.0f, "%.2f", 1.0f);
    first[kLowQ].setSnaps({1.0f});
    first[kHighQ].set("High Q", kCurvePowUnit, 0.0f, 8.0f, 3.0f, "%.2f", 1.0f);
    first[kHighQ].setSnaps({1.0f});
    for (int i = 0; i < kNumSmooth; ++i)
        smooth[static_cast<std::size_t>(i)] = first[i].value;
    lowDirty = 1;
    highDirty = 1;
}

void Equalizer::setup(float newSampleRate, int newNumChannels)
{
    FxUnit::setup(newSampleRate, newNumChannels);
    lowDirty = 1;
    highDirty = 1;
}

void Equalizer::process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                        bool bypass) noexcept
{
    (void)silent;
    (void)bypass;
    passThrough(in, out, numSamples, numChannels);
}
