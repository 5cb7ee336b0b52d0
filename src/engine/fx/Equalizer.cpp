#include "engine/fx/Equalizer.h"

#include <algorithm>
#include <cmath>

#include "engine/fx/Glide.h"
#include "engine/params/Param.h"

namespace
{

constexpr double kTwoPi = 6.283185307179586;
constexpr float kHighFreqScale = 1000.0f; // High Freq is set in kHz
constexpr float kMinFreqHz = 1.0f;

// Targets from possibly corrupt values: NaN falls back, the rest is limited to what the
// coefficients can take.
float safeFreq(float v, float fallback) noexcept
{
    if (std::isnan(v)) return fallback;
    return std::clamp(v, kMinFreqHz, 1.0e6f);
}

float safeGain(float v) noexcept
{
    if (std::isnan(v)) return 0.0f;
    return std::clamp(v, -Equalizer::kMaxGainDb, Equalizer::kMaxGainDb);
}

float safeQ(float v) noexcept
{
    if (!(v >= Equalizer::kMinQ)) return Equalizer::kMinQ;
    return std::min(v, 1.0e3f);
}

struct ShelfTerms
{
    double A, cs, beta;
};

ShelfTerms shelfTerms(float freqHz, float gainDb, float q, float rate) noexcept
{
    const double w = std::min(static_cast<double>(freqHz) / static_cast<double>(rate),
                              static_cast<double>(Equalizer::kMaxRelFreq));
    const double omega = w * kTwoPi;
    const double A = std::pow(10.0, static_cast<double>(gainDb) / 40.0);
    const double qq = static_cast<double>(safeQ(q)) * 0.7071;
    const double beta = 2.0 * std::sqrt(A) * (std::sin(omega) / (qq + qq));
    return {A, std::cos(omega), beta};
}

void runBiquad(const Equalizer::Coefs& k, const float* src, float* dst, int n, double& z1,
               double& z2) noexcept
{
    const double a1 = k[0], a2 = k[1], b0 = k[2], b1 = k[3], b2 = k[4];
    double s1 = z1, s2 = z2;
    for (int i = 0; i < n; ++i)
    {
        const double v = static_cast<double>(src[i]) - a1 * s1 - a2 * s2;
        dst[i] = static_cast<float>(b2 * s2 + b1 * s1 + b0 * v);
        s2 = s1;
        s1 = v;
    }
    z1 = s1;
    z2 = s2;
}

void resetRunaway(double& z) noexcept
{
    if (!(z > -Equalizer::kRunawayMemory && z < Equalizer::kRunawayMemory)) z = 0.0;
}

} // namespace

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

Equalizer::Coefs Equalizer::lowShelf(float freqHz, float gainDb, float q, float rate) noexcept
{
    const auto [A, cs, beta] = shelfTerms(freqHz, gainDb, q, rate);
    const double a0 = (A + 1.0) + (A - 1.0) * cs + beta;
    return {-2.0 * ((A - 1.0) + (A + 1.0) * cs) / a0,      // a1
            ((A + 1.0) + (A - 1.0) * cs - beta) / a0,      // a2
            A * ((A + 1.0) - (A - 1.0) * cs + beta) / a0,  // b0
            2.0 * A * ((A - 1.0) - (A + 1.0) * cs) / a0,   // b1
            A * ((A + 1.0) - (A - 1.0) * cs - beta) / a0}; // b2
}

Equalizer::Coefs Equalizer::highShelf(float freqHz, float gainDb, float q, float rate) noexcept
{
    const auto [A, cs, beta] = shelfTerms(freqHz, gainDb, q, rate);
    const double a0 = (A + 1.0) - (A - 1.0) * cs + beta;
    return {2.0 * ((A - 1.0) - (A + 1.0) * cs) / a0,       // a1
            ((A + 1.0) - (A - 1.0) * cs - beta) / a0,      // a2
            A * ((A + 1.0) + (A - 1.0) * cs + beta) / a0,  // b0
            -2.0 * A * ((A - 1.0) + (A + 1.0) * cs) / a0,  // b1
            A * ((A + 1.0) + (A - 1.0) * cs - beta) / a0}; // b2
}

void Equalizer::runShelf(bool high, float** in, float** out, int numSamples, int numChannels,
                         float gainTarget) noexcept
{
    const std::size_t fi = high ? kSmHighFreq : kSmLowFreq;
    const std::size_t gi = high ? kSmHighGain : kSmLowGain;
    const std::size_t qi = high ? kSmHighQ : kSmLowQ;
    const float freqScale = high ? kHighFreqScale : 1.0f;
    const Param& freqParam = params[high ? kHighFreq : kLowFreq];
    const float freqTarget = safeFreq(freqParam.value, freqParam.defaultValue);
    const float qTarget = safeQ(params[high ? kHighQ : kLowQ].value);
    const float gTarget = safeGain(gainTarget);
    Coefs& coef = high ? highCoef : lowCoef;
    uint8_t& dirty = high ? highDirty : lowDirty;
    auto& z1 = high ? highZ1 : lowZ1;
    auto& z2 = high ? highZ2 : lowZ2;

    int pos = 0;
    while (pos < numSamples)
    {
        int n = numSamples - pos;
        float& f = smooth[fi];
        float& g = smooth[gi];
        float& q = smooth[qi];
        // A NaN smoothed value compares unequal and is replaced by its target in one step.
        if (f != freqTarget || g != gTarget || q != qTarget)
        {
            f = glideFreq(f, freqTarget, kFreqGlideFactor);
            g = glideLinear(g, gTarget, kGainGlideStep);
            q = glideLinear(q, qTarget, kQGlideStep);
            n = std::min(n, kGlideBlock);
            dirty = 1;
        }
        if (dirty)
        {
            coef =
                high ? highShelf(f * freqScale, g, q, sampleRate) : lowShelf(f * freqScale, g, q, sampleRate);
            dirty = 0;
        }
        for (int c = 0; c < numChannels; ++c)
            runBiquad(coef, in[c] + pos, out[c] + pos, n, z1[static_cast<std::size_t>(c)],
                      z2[static_cast<std::size_t>(c)]);
        pos += n;
    }
}

void Equalizer::process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                        bool bypass) noexcept
{
    const int C = std::clamp(numChannels, 0, kMaxChannels);
    if (params == nullptr || numSamples <= 0 || numChannels <= 0)
    {
        passThrough(in, out, numSamples, numChannels);
        return;
    }

    if (silent)
    {
        bool quiet = true;
        for (std::size_t c = 0; c < static_cast<std::size_t>(C); ++c)
            for (double z : {lowZ1[c], lowZ2[c], highZ1[c], highZ2[c]})
                quiet = quiet && (z >= -kSilentMemory && z <= kSilentMemory);
        if (quiet)
        {
            passThrough(in, out, numSamples, numChannels);
            return;
        }
    }

    float gL = params[kLowGain].value;
    float gH = params[kHighGain].value;
    if (bypass)
    {
        gL = 0.0f;
        gH = 0.0f;
        if (std::fabs(smooth[kSmLowGain]) < kBypassGainDb && std::fabs(smooth[kSmHighGain]) < kBypassGainDb)
        {
            passThrough(in, out, numSamples, numChannels);
            return;
        }
    }

    runShelf(false, in, out, numSamples, C, gL);
    runShelf(true, out, out, numSamples, C, gH);
    for (int c = C; c < numChannels; ++c)
        if (in[c] != out[c]) std::copy(in[c], in[c] + numSamples, out[c]);

    silent = false;
    for (std::size_t c = 0; c < kMaxChannels; ++c)
    {
        resetRunaway(lowZ1[c]);
        resetRunaway(lowZ2[c]);
        resetRunaway(highZ1[c]);
        resetRunaway(highZ2[c]);
    }
}
