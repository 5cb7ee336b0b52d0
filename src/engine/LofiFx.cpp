#include "engine/LofiFx.h"

#include "engine/Param.h"
#include "engine/Random.h"

LofiFx::LofiFx() noexcept {}

void LofiFx::setParamPtr(Param* first)
{
    params = first;
    first[kWetMix].set("Wet Mix", kCurveLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", 50.0f);
    first[kSampleRate].set("Sample Rate", kCurveLinear, 0.5f, 25.0f, 0.0f, "%.2f kHz", 4.0f);
    first[kNoise].set("Noise", kCurveLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", 10.0f);
    first[kEnvelope].set("Envelope", kCurveLinear, -100.0f, 100.0f, 0.0f, "%.0f%%", 20.0f);
}

float LofiFx::randomFactor(float u) noexcept
{
    return u;
}

void LofiFx::process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                     bool bypass) noexcept
{
    (void)silent;
    (void)bypass;
    passThrough(in, out, numSamples, numChannels);
}
