#include "engine/fx/LofiFx.h"

#include <algorithm>
#include <cmath>

#include "engine/params/Param.h"
#include "engine/Random.h"

namespace
{

// A level this large (or NaN) is taken as a moderate one instead.
constexpr float kMaxRms = 10000.0f;
constexpr float kRmsRestart = 0.1f;
constexpr float kRmsScale = 3.0f;
constexpr float kReleaseMs = 30.0f;
// Envelope in percent times the level gives the exponent of the rate factor.
constexpr float kEnvelopeScale = 0.049999997f;
// Hold increments above this take every input sample.
constexpr float kFullRateInc = 0.9f;

float unitOf(const Param& p) noexcept
{
    return p.convertValToUnit(p.value);
}

} // namespace

LofiFx::LofiFx() noexcept
{
    for (auto& entry : randomTable)
        entry = randomFactor(static_cast<float>(engineRand()) * kEngineRandScale);
}

float LofiFx::randomFactor(float u) noexcept
{
    const float centred = u - 0.5f;
    const float lowTail = -0.25f / (u + 0.1f);
    const double highTail = 0.25 / (1.1 - static_cast<double>(u));
    return static_cast<float>(static_cast<double>(centred) + (static_cast<double>(lowTail) + highTail));
}

void LofiFx::setParamPtr(Param* first)
{
    params = first;
    first[kWetMix].set("Wet Mix", kCurveLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", 50.0f);
    first[kSampleRate].set("Sample Rate", kCurveLinear, 0.5f, 25.0f, 0.0f, "%.2f kHz", 4.0f);
    first[kNoise].set("Noise", kCurveLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", 10.0f);
    first[kEnvelope].set("Envelope", kCurveLinear, -100.0f, 100.0f, 0.0f, "%.0f%%", 20.0f);
}

void LofiFx::process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                     bool bypass) noexcept
{
    if (silent || bypass || params == nullptr || numSamples <= 0 || numChannels <= 0)
    {
        passThrough(in, out, numSamples, numChannels);
        return;
    }

    const float amount = unitOf(params[kNoise]);
    const int K = std::clamp(std::min(this->numChannels, numChannels), 0, kMaxChannels);
    // The level divides by the whole call's length, not the block's.
    const float divisor = static_cast<float>(numChannels * numSamples);

    // The release factor depends on the block's length only: one value serves every full block.
    const auto releaseFor = [this](int n) noexcept
    { return expf((static_cast<float>(n) * 1000.0f / sampleRate) / -kReleaseMs); };
    const float fullRelease = numSamples >= kBlock ? releaseFor(kBlock) : 0.0f;

    // The blocks' sums of squares depend on the input alone: a first pass over a stretch of
    // blocks runs four blocks' chains side by side, each in its own order (channel by channel).
    constexpr int kStretch = 64;
    float sums[kStretch];
    for (int b = 0; b < numSamples; b += kBlock)
    {
        const int e = std::min(b + kBlock, numSamples);
        const int r = static_cast<int>(engineRand());

        const int slot = b / kBlock % kStretch;
        if (slot == 0)
        {
            const int count = std::min(kStretch, (numSamples - b + kBlock - 1) / kBlock);
            int k = 0;
            for (; k + 4 <= count && b + (k + 4) * kBlock <= numSamples; k += 4)
            {
                float acc[4] = {};
                for (int c = 0; c < K; ++c)
                {
                    const float* x = in[c] + b + k * kBlock;
                    for (int i = 0; i < kBlock; ++i)
                        for (int q = 0; q < 4; ++q)
                            acc[q] += x[q * kBlock + i] * x[q * kBlock + i];
                }
                for (int q = 0; q < 4; ++q)
                    sums[k + q] = acc[q];
            }
            for (; k < count; ++k)
            {
                const int from = b + k * kBlock, to = std::min(from + kBlock, numSamples);
                float acc = 0.0f;
                for (int c = 0; c < K; ++c)
                    for (int i = from; i < to; ++i)
                        acc += in[c][i] * in[c][i];
                sums[k] = acc;
            }
        }
        const float sum = sums[slot];
        float rms = std::sqrt(sum / divisor) * kRmsScale;
        if (!(rms < kMaxRms)) rms = kRmsRestart;

        const float rel = e - b == kBlock ? fullRelease : releaseFor(e - b);
        if (rms > envLevel)
            envLevel = rms;
        else
            envLevel = (1.0f - rel) * rms + envLevel * rel;
        if (!(envLevel < kMaxRms)) // a NaN release (no rate) restarts the follower
            envLevel = rms;

        const float wet = unitOf(params[kWetMix]);
        const float speed = expf(params[kEnvelope].value * kEnvelopeScale * envLevel);
        const float dry = 1.0f - wet;

        float inc = speed * (params[kSampleRate].value * 2000.0f / sampleRate);
        // NaN or too fast: every sample is taken; negative: nothing is taken (the phase stays put).
        if (!(inc <= kFullRateInc))
            inc = 1.0f;
        else if (!(inc > 0.0f))
            inc = 0.0f;

        // The takes follow the phase sample by sample; the mix with the input then runs as a plain
        // loop over each channel's samples.
        int p = r % kTableStarts;
        float taken[kMaxChannels][kBlock];
        for (int i = b; i < e; ++i)
        {
            holdPhase += inc;
            if (holdPhase > 0.0f)
            {
                const float factor = randomTable[static_cast<std::size_t>(p)] * amount + 1.0f;
                for (int c = 0; c < K; ++c)
                {
                    const float h = in[c][i] * factor;
                    // A non-finite take would otherwise repeat until the next one.
                    held[static_cast<std::size_t>(c)] = std::isfinite(h) ? h : 0.0f;
                }
                ++p;
                holdPhase -= 1.0f;
            }
            for (int c = 0; c < K; ++c)
                taken[c][i - b] = held[static_cast<std::size_t>(c)];
        }
        for (int c = 0; c < K; ++c)
            for (int i = b; i < e; ++i)
                out[c][i] = taken[c][i - b] * wet + in[c][i] * dry;
    }
    // Channels the unit does not handle pass unchanged.
    for (int c = K; c < numChannels; ++c)
        if (in[c] != out[c]) std::copy(in[c], in[c] + numSamples, out[c]);
}
