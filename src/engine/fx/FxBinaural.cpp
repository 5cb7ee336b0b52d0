#include "engine/fx/FxBinaural.h"

#include <algorithm>
#include <cmath>

#include "engine/VectorWidth.h"
#include "engine/fx/SideBySideSums.h"
#include "engine/params/Param.h"
#include "engine/Random.h"
#include "engine/synth/FourLanes.h"

namespace
{

constexpr float kMaxWidth = 0.5f;
constexpr float kMinWidth = 0.001f;
// Rate of the gain sweep: 1.1 Hz plus up to 0.1 Hz drawn at every call.
constexpr float kSweepBaseHz = 1.1f;
constexpr float kSweepSpreadHz = 0.1f;
constexpr float kEnergySmoothing = 0.1f;
// A smoothed energy this large (or non-finite) restarts here and decays from there.
constexpr float kMaxEnergy = 1.0e6f;
// Rates outside this range are clamped for sizing the lines (a corrupt or absent rate must
// neither allocate without bound nor leave the lines empty).
constexpr float kMinLineRate = 1.0f;
constexpr float kMaxLineRate = 1.0e6f;

float clampRate(float rate) noexcept
{
    if (!(rate >= kMinLineRate)) return kMinLineRate;
    return std::min(rate, kMaxLineRate);
}

// Odd polynomial close to sin(2 pi z) on -0.5 .. 0.5.
float sweepShape(float z) noexcept
{
    const float z2 = z * z;
    const float z3 = z * z2;
    const float z5 = z2 * z3;
    const float z7 = z2 * z5;
    return -56.165348f * z7 + (77.99433f * z5 + (-41.104263f * z3 + 6.2790036f * z));
}

} // namespace

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
    const float r = clampRate(rate);
    return static_cast<int>(static_cast<unsigned>(kTapSeconds[kNumTaps - 1] * r)) + kLineExtra;
}

int FxBinaural::tapDelayFor(int k, float rate) noexcept
{
    const float r = clampRate(rate);
    return static_cast<int>(static_cast<double>(kTapSeconds[static_cast<std::size_t>(k)] * r) + 0.49);
}

void FxBinaural::setup(float newSampleRate, int newNumChannels)
{
    FxUnit::setup(newSampleRate, newNumChannels);
    const auto length = static_cast<std::size_t>(lineLengthFor(newSampleRate));
    const auto prepared = static_cast<std::size_t>(lineLengthFor(kMaxPreparedRate));
    // Both lines are sized whatever the channel count, so a later stereo call always finds them.
    for (auto& line : delayLine)
    {
        line.reserve(std::max(length, prepared));
        line.resize(length, 0.0f);
    }
    writePos = 0;
    for (int k = 0; k < kNumTaps; ++k)
        tapDelay[static_cast<std::size_t>(k)] = tapDelayFor(k, newSampleRate);
    lfoPhase = static_cast<float>(engineRand()) * kEngineRandScale;
    outEnergy = 0.0f;
}

void FxBinaural::process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                         bool bypass) noexcept
{
    float w = 0.0f;
    if (!bypass && params != nullptr)
        w = std::min(0.5f * params[kHyperWidth].convertValToUnit(params[kHyperWidth].value), kMaxWidth);

    const int length = static_cast<int>(delayLine[0].size());
    // Switched off, too narrow to matter, or never set up: the output is the input, so the unit
    // leaves the silence flag alone (a frozen energy must not hold the chain out of silence).
    // A NaN width fails the test and passes through too.
    if (!(w >= kMinWidth) || length == 0 || numSamples <= 0 || numChannels <= 0)
    {
        passThrough(in, out, numSamples, numChannels);
        return;
    }

    if (silent)
    {
        silent = outEnergy < kSilenceEnergy;
        if (silent)
        {
            passThrough(in, out, numSamples, numChannels);
            return;
        }
    }

    const int C = std::clamp(numChannels, 1, kMaxChannels);
    const float r = static_cast<float>(engineRand());
    const float direct = std::sqrt(1.0f - w * w);
    const float inc = (r * kSweepSpreadHz * kEngineRandScale + kSweepBaseHz) / clampRate(sampleRate);
    const int B = 1 % C;
    std::array<float*, kMaxChannels> line{delayLine[0].data(), delayLine[C - 1].data()};

    // The sub-blocks run in the chosen vector width; the wide form's loops take eight samples at a
    // time with the same arithmetic lane by lane.
    vectorwidth::dispatch(
        wideVectors, [&](auto) __attribute__((always_inline)) {
            // The direct part's energy of each sub-block, sample by sample across the channels:
            // its squares, padded with zeros, wait for a group of sub-blocks whose sums then run
            // side by side.
            constexpr int kGroup = 4;
            float squares[kGroup][kMaxChannels][kSubBlock];
            int groupLength[kGroup];
            int grouped = 0;
            if (C == 1)
                for (auto& row : squares)
                    std::fill(row[1], row[1] + kSubBlock, 0.0f);
            const auto addGroupEnergies = [&]() __attribute__((always_inline))
            {
                for (int r = grouped; r < kGroup; ++r)
                    for (auto& term : squares[r])
                        std::fill(term, term + kSubBlock, 0.0f);
                float e[kGroup];
                sumRowsSideBySide(squares, e);
                for (int r = 0; r < grouped; ++r)
                {
                    outEnergy = (e[r] / static_cast<float>(groupLength[r] * C)) * kEnergySmoothing +
                                outEnergy * (1.0f - kEnergySmoothing);
                    if (!(outEnergy < kMaxEnergy)) outEnergy = kMaxEnergy;
                }
                grouped = 0;
            };
            int pos = 0;
            while (pos < numSamples)
            {
                const int count = std::min({numSamples - pos, kSubBlock, length - writePos});
                // The sub-block; a whole one's fixed length lets its loops unroll.
                const auto subBlock = [&](const int n) __attribute__((always_inline))
                {

                    for (int c = 0; c < C; ++c)
                    {
                        const float* src = in[c] + pos;
                        float* dst = out[c] + pos;
                        float* into = line[static_cast<std::size_t>(c)] + writePos;
                        float* sq = squares[grouped][c];
                        for (int j = 0; j < n; ++j)
                        {
                            const float a = src[j];
                            // Non-finite input never enters the line, so it cannot echo for the line's
                            // length.
                            into[j] = std::isfinite(a) ? a : 0.0f;
                            const float y = a * direct;
                            dst[j] = y;
                            sq[j] = y * y;
                        }
                        std::fill(sq + n, sq + kSubBlock, 0.0f);
                    }
                    groupLength[grouped++] = n;

                    lfoPhase += inc * static_cast<float>(n);

                    std::array<float, kNumTaps> g{}, step{};
                    for (int k = 0; k < kNumTaps; ++k)
                    {
                        const float p = lfoPhase + 0.25f * static_cast<float>(k);
                        const float z = (p - std::trunc(p)) - 0.5f;
                        const float target = w * sweepShape(z);
                        g[k] = tapGain[static_cast<std::size_t>(k)];
                        step[k] = (target - g[k]) / static_cast<float>(n);
                    }
                    // The four gain ramps are running sums, one per lane of a vector; squares of
                    // four samples by four taps are then turned into each tap's run of gains (up to
                    // three samples past n are turned too, and never read).
                    static_assert(kNumTaps == 4 && kSubBlock % 4 == 0);
                    alignas(16) float gains[kNumTaps][kSubBlock];
                    {
                        using lanes::F4;
                        F4 ramp[kSubBlock];
                        F4 gv = {g[0], g[1], g[2], g[3]};
                        const F4 sv = {step[0], step[1], step[2], step[3]};
#pragma GCC unroll 8
                        for (int j = 0; j < n; ++j)
                        {
                            ramp[j] = gv;
                            gv += sv;
                        }
                        for (int k = 0; k < kNumTaps; ++k)
                            g[k] = gv[k];
                        for (int j = n; j % 4 != 0; ++j)
                            ramp[j] = gv;
                        for (int j = 0; j < n; j += 4)
                        {
                            const F4 t0 = __builtin_shufflevector(ramp[j], ramp[j + 1], 0, 4, 1, 5);
                            const F4 t1 = __builtin_shufflevector(ramp[j], ramp[j + 1], 2, 6, 3, 7);
                            const F4 t2 = __builtin_shufflevector(ramp[j + 2], ramp[j + 3], 0, 4, 1, 5);
                            const F4 t3 = __builtin_shufflevector(ramp[j + 2], ramp[j + 3], 2, 6, 3, 7);
                            *reinterpret_cast<F4*>(gains[0] + j) =
                                __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
                            *reinterpret_cast<F4*>(gains[1] + j) =
                                __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
                            *reinterpret_cast<F4*>(gains[2] + j) =
                                __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
                            *reinterpret_cast<F4*>(gains[3] + j) =
                                __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
                        }
                    }
                    // Each tap's n samples: a stretch of its line, or a copy of the two pieces of one
                    // that passes the line's end.
                    std::array<const float*, kNumTaps> taps{};
                    float wrapped[kNumTaps][kSubBlock];
                    for (int k = 0; k < kNumTaps; ++k)
                    {
                        const float* src = line[static_cast<std::size_t>(k % C)];
                        int d = writePos - tapDelay[static_cast<std::size_t>(k)];
                        if (d < 0) d += length;
                        if (d + n <= length)
                            taps[k] = src + d;
                        else
                        {
                            const int first = length - d;
                            std::copy(src + d, src + length, wrapped[k]);
                            std::copy(src, src + (n - first), wrapped[k] + first);
                            taps[k] = wrapped[k];
                        }
                        tapGain[static_cast<std::size_t>(k)] = std::isfinite(g[k]) ? g[k] : 0.0f;
                    }
                    static_assert(kNumTaps == 4);
                    // All four taps in one pass over the samples, in tap order for each sample: added
                    // to the left channel, subtracted from the right (with one channel, both in turn).
                    float* left = out[0] + pos;
                    float* right = out[B] + pos;
                    const float* __restrict t0 = taps[0];
                    const float* __restrict t1 = taps[1];
                    const float* __restrict t2 = taps[2];
                    const float* __restrict t3 = taps[3];
                    if (B == 0)
                        for (int j = 0; j < n; ++j)
                        {
                            float x = left[j];
                            for (const float v : {gains[0][j] * t0[j], gains[1][j] * t1[j],
                                                  gains[2][j] * t2[j], gains[3][j] * t3[j]})
                            {
                                x += v;
                                x -= v;
                            }
                            left[j] = x;
                        }
                    else
                        for (int j = 0; j < n; ++j)
                        {
                            float l = left[j], r = right[j];
                            for (const float v : {gains[0][j] * t0[j], gains[1][j] * t1[j],
                                                  gains[2][j] * t2[j], gains[3][j] * t3[j]})
                            {
                                l += v;
                                r -= v;
                            }
                            left[j] = l;
                            right[j] = r;
                        }

                    writePos += n;
                    if (writePos >= length) writePos = 0;
                };
                if (count == kSubBlock)
                    subBlock(kSubBlock);
                else
                    subBlock(count);
                pos += count;
                if (grouped == kGroup) addGroupEnergies();
            }
            if (grouped > 0) addGroupEnergies();
        });

    lfoPhase -= std::trunc(lfoPhase);
    if (!std::isfinite(lfoPhase)) lfoPhase = 0.0f;
}
