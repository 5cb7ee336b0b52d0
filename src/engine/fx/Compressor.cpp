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

float Compressor::curveDb(float levelDb, float thresholdDb, float slope) noexcept
{
    if (!(levelDb > thresholdDb)) return 0.0f;
    const float k = levelDb - thresholdDb;
    return slope * (k + 4.0f / (k + 2.0f) - 2.0f);
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
        // While idle the followers sink at the release time (in seconds here).
        const float releaseSec = params[kReleaseTime].value * 0.001f;
        float d = expf(2.0f * static_cast<float>(-numSamples) / (sampleRate * releaseSec));
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
    const float M = curveDb(kUnityLevelDb, T, slope);
    const float link = params[kStereoLink].convertValToUnit(params[kStereoLink].value);
    const float o1 = 1.0f + params[kOptical].value * -0.01f * 0.5f;
    const float o = 1.0f - o1;
    const float S = (o / 3.0f + o1) / (o / 729.0f + o1);
    const float attack = params[kAttackTime].value;
    const float release = params[kReleaseTime].value;

    std::array<float, kMaxChannels> m{};
    for (int pos = 0; pos < numSamples; pos += kSubBlock)
    {
        const int n = std::min(kSubBlock, numSamples - pos);
        const float norm = static_cast<float>(n * C);
        float sumM = 0.0f;
        for (int c = 0; c < C; ++c)
        {
            float sum = 0.0f;
            for (int i = 0; i < n; ++i)
                sum += in[c][pos + i] * in[c][pos + i];
            m[static_cast<std::size_t>(c)] = sum / norm;
            sumM += m[static_cast<std::size_t>(c)];
        }
        const float shared = sumM / static_cast<float>(C) * link;

        for (std::size_t c = 0; c < static_cast<std::size_t>(C); ++c)
        {
            const float L = m[c] * (1.0f - link) + shared;
            const float t = (level[c] < L ? attack : release) * S;
            const float h = 2.0f * (-(static_cast<float>(n) * 1000.0f / sampleRate) / t);
            const float e = expf(h);
            envSlow[c] = keep((1.0f - e) * L + e * envSlow[c]);
            const float e3 = expf(3.0f * h);
            envFast[c] = keep((1.0f - e3) * L + e3 * envFast[c]);
            level[c] = envSlow[c] * o1 + envFast[c] * o;

            const float D = logf(level[c]) * kDbPerNeper + kLevelOffsetDb;
            const float G = curveDb(D, T, slope);
            float gT = expf((G - M) / kNeperPerDb);
            // Extreme expander settings could overflow; a NaN setting leaves the audio alone.
            if (std::isnan(gT))
                gT = 1.0f;
            else if (gT > kMaxGain)
                gT = kMaxGain;

            float g = std::isfinite(gain[c]) ? gain[c] : 1.0f;
            const float step = (gT - g) / static_cast<float>(n);
            for (int i = 0; i < n; ++i)
            {
                out[c][pos + i] = g * in[c][pos + i];
                g += step;
            }
            gain[c] = g;
        }
    }
    for (int c = C; c < numChannels; ++c)
        if (in[c] != out[c]) std::copy(in[c], in[c] + numSamples, out[c]);
}
