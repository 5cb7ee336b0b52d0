#include "engine/fx/Compressor.h"

#include <algorithm>
#include <cmath>

#include "engine/params/Param.h"

namespace
{

constexpr float kDbPerNeper = 4.3429446f; // 10 / ln 10: a mean square to dB
constexpr float kNeperPerDb = 8.685889f;  // 20 / ln 10: dB of amplitude to the exponent
constexpr float kLevelOffsetDb = 10.0f;
constexpr float kThresholdOffsetDb = 2.0f;
// Material measuring this level passes at unity gain; the make-up follows from it.
constexpr float kUnityLevelDb = -8.0f;

// Follower values outside the working range (or NaN) restart at a moderate level.
float keep(float v) noexcept
{
    return (v >= 0.0f && v < Compressor::kMaxFollower) ? v : Compressor::kFollowerRestart;
}

// Gain change in dB of the soft knee for a level above the threshold (before make-up).
float softKneeDb(float levelDb, float thresholdDb, float slope) noexcept
{
    if (!(levelDb > thresholdDb)) return 0.0f;
    const float k = levelDb - thresholdDb;
    return slope * (k + 4.0f / (k + 2.0f) - 2.0f);
}

} // namespace

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
    if (params == nullptr || numSamples <= 0 || numChannels <= 0)
    {
        passThrough(in, out, numSamples, numChannels);
        return;
    }
    const int C = std::clamp(numChannels, 1, kMaxChannels);
    const float R = params[kRatio].value;

    if (silent || bypass || std::fabs(1.0f - R) < kUnityRatioBand)
    {
        // While idle the followers sink with the release value taken as seconds, far more slowly
        // than an active release: after a pause the gain ramps on from about where it was instead
        // of starting from an empty follower.
        const float release = params[kReleaseTime].value;
        float d = expf(2.0f * static_cast<float>(-numSamples) / (sampleRate * release));
        if (!(d >= 0.0f && d <= 1.0f)) d = 0.0f;
        for (std::size_t c = 0; c < static_cast<std::size_t>(C); ++c)
        {
            envSlow[c] *= d;
            envFast[c] *= d;
        }
        passThrough(in, out, numSamples, numChannels);
        return;
    }

    const float slope = -(1.0f - 1.0f / R);
    const float T = params[kThreshold].value - kThresholdOffsetDb;
    const float M = softKneeDb(kUnityLevelDb, T, slope);
    const float link = params[kStereoLink].convertValToUnit(params[kStereoLink].value);
    const float o1 = 1.0f + params[kOptical].value * -0.01f * 0.5f;
    const float o = 1.0f - o1;
    const float S = (o / 3.0f + o1) / (o / 729.0f + o1);
    const float attack = params[kAttackTime].value;
    const float release = params[kReleaseTime].value;

    // Follower decays for a sub-block length and phase (attack or release): one length serves
    // every sub-block but the last, so each is computed once per call and reused.
    struct Decay
    {
        int n = -1;
        float e = 0.0f, e3 = 0.0f;
    };
    std::array<Decay, 2> decays{};
    const auto decayFor = [&](bool attackPhase, int n) noexcept -> const Decay&
    {
        Decay& d = decays[attackPhase ? 0 : 1];
        if (d.n != n)
        {
            const float t = (attackPhase ? attack : release) * S;
            const float h = 2.0f * (-(static_cast<float>(n) * 1000.0f / sampleRate) / t);
            d = {n, expf(h), expf(3.0f * h)};
        }
        return d;
    };
    // Below the threshold the curve gives 0 dB whatever the level, so the gain is one value per
    // call. A level under the threshold's by a margin far beyond rounding needs no logarithm.
    const float quietLevel = expf((T - kLevelOffsetDb) / kDbPerNeper) * 0.999f;
    // Target gain for a change of G dB from the curve.
    const auto gainFor = [M](float G) noexcept {
        const float gT = expf((G - M) / kNeperPerDb);
        // Extreme expander settings could overflow; a NaN setting leaves the audio alone.
        if (std::isnan(gT)) return 1.0f;
        return gT > kMaxGain ? kMaxGain : gT;
    };
    const float quietGain = gainFor(0.0f);

    // A stretch of sub-blocks at a time, in three passes: their sums of squares (short chains
    // of the input alone), the followers (the one recursion that must run sub-block by
    // sub-block), then the target gains and ramps. The logarithms and exponentials of the target
    // gains depend on the followers only, so they run side by side instead of waiting on each
    // other through the followers' and the ramps' chains.
    constexpr int kStretch = 64;
    float sums[kStretch][kMaxChannels];
    float levels[kStretch][kMaxChannels];
    for (int start = 0; start < numSamples; start += kStretch * kSubBlock)
    {
        const int count = std::min(kStretch, (numSamples - start - 1) / kSubBlock + 1);
        for (int k = 0; k < count; ++k)
        {
            const int p = start + k * kSubBlock;
            const int len = std::min(kSubBlock, numSamples - p);
            const float* x0 = in[0] + p;
            const float* x1 = in[C - 1] + p;
            float s0 = 0.0f, s1 = 0.0f;
            for (int i = 0; i < len; ++i)
            {
                s0 += x0[i] * x0[i];
                s1 += x1[i] * x1[i];
            }
            sums[k][0] = s0;
            sums[k][1] = s1;
        }
        for (int k = 0; k < count; ++k)
        {
            const int n = std::min(kSubBlock, numSamples - start - k * kSubBlock);
            const float norm = static_cast<float>(n * C);
            std::array<float, kMaxChannels> m{};
            float sumM = 0.0f;
            for (std::size_t c = 0; c < static_cast<std::size_t>(C); ++c)
            {
                m[c] = sums[k][c] / norm;
                sumM += m[c];
            }
            const float shared = sumM / static_cast<float>(C) * link;
            for (std::size_t c = 0; c < static_cast<std::size_t>(C); ++c)
            {
                const float L = m[c] * (1.0f - link) + shared;
                const Decay& dc = decayFor(level[c] < L, n);
                const float e = dc.e;
                envSlow[c] = keep((1.0f - e) * L + e * envSlow[c]);
                const float e3 = dc.e3;
                envFast[c] = keep((1.0f - e3) * L + e3 * envFast[c]);
                level[c] = envSlow[c] * o1 + envFast[c] * o;
                levels[k][c] = level[c];
            }
        }
        for (int k = 0; k < count; ++k)
        {
            const int pos = start + k * kSubBlock;
            const int n = std::min(kSubBlock, numSamples - pos);
            std::array<float, kMaxChannels> g{}, step{};
            for (std::size_t c = 0; c < static_cast<std::size_t>(C); ++c)
            {
                const float lv = levels[k][c];
                const float gT = lv < quietLevel
                                     ? quietGain
                                     : gainFor(softKneeDb(logf(lv) * kDbPerNeper + kLevelOffsetDb, T, slope));
                g[c] = std::isfinite(gain[c]) ? gain[c] : 1.0f;
                step[c] = (gT - g[c]) / static_cast<float>(n);
            }
            // The ramps over one sub-block; a whole one's fixed length lets the loop unroll.
            const auto ramp = [&](const int len) __attribute__((always_inline))
            {
                const float* x0 = in[0] + pos;
                const float* x1 = in[C - 1] + pos;
                float* y0 = out[0] + pos;
                float* y1 = out[C - 1] + pos;
                if (C == 2)
                    // Both channels' gain ramps in one loop: two independent running sums.
                    for (int i = 0; i < len; ++i)
                    {
                        y0[i] = g[0] * x0[i];
                        y1[i] = g[1] * x1[i];
                        g[0] += step[0];
                        g[1] += step[1];
                    }
                else
                    for (int i = 0; i < len; ++i)
                    {
                        y0[i] = g[0] * x0[i];
                        g[0] += step[0];
                    }
            };
            if (n == kSubBlock)
                ramp(kSubBlock);
            else
                ramp(n);
            for (std::size_t c = 0; c < static_cast<std::size_t>(C); ++c)
                gain[c] = g[c];
        }
    }
    for (int c = C; c < numChannels; ++c)
        if (in[c] != out[c]) std::copy(in[c], in[c] + numSamples, out[c]);
}
