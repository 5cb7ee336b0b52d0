#include "engine/Compressor.h"

#include "engine/Param.h"

void Compressor::setParamPtr(Param* first)
{
    params = first;
    first[kRatio].set("Ratio", kCurveExp, 0.1f, 10.0f, 0.0f, "%.2f x", 2.8f);
    first[kRatio].setSnaps({1.0f});
    first[kThreshold].set("Threshold", kCurveLinear, -40.0f, 0.0f, 0.0f, "%.0f dB", -20.0f);
    first[kAttackTime].set("Attack Time", kCurvePowUnit, 0.0f, 50.0f, 2.0f, "%.0f ms", 2.0f);
    first[kReleaseTime].set("Release Time", kCurvePowUnit, 0.0f, 300.0f, 2.0f, "%.0f ms", 50.0f);
    first[kOptical].set("Optical", kCurveLinear, -100.0f, 100.0f, 0.0f, "%.0f%%", 0.0f);
    first[kOptical].setSnaps({0.0f});
    first[kStereoLink].set("Stereo Link", kCurveLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", 50.0f);
}

void Compressor::process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                         bool bypass) noexcept
{
    (void)silent;
    (void)bypass;
    passThrough(in, out, numSamples, numChannels);
}
