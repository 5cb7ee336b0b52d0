#include "engine/fx/Equalizer.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "engine/VectorWidth.h"
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

// Filter memories of one shelf for every channel.
struct ShelfMemory
{
    std::array<double, Equalizer::kMaxChannels>& z1;
    std::array<double, Equalizer::kMaxChannels>& z2;
};

// Two channels side by side in the lanes of one vector: the same double arithmetic lane by lane.
using D2 = double __attribute__((vector_size(16)));
using F2 = float __attribute__((vector_size(8)));

// A sample of C channels as doubles, and back; roundToFloat rounds each channel as a float store
// would.
template <int C> auto loadFrame(float** in, int i) noexcept
{
    if constexpr (C == 2)
        return D2{static_cast<double>(in[0][i]), static_cast<double>(in[1][i])};
    else
        return static_cast<double>(in[0][i]);
}
template <class T> T roundToFloat(T x) noexcept
{
    if constexpr (std::is_same_v<T, D2>)
        return __builtin_convertvector(__builtin_convertvector(x, F2), D2);
    else
        return static_cast<double>(static_cast<float>(x));
}
template <int C, class T> void storeFrame(float** out, int i, T y) noexcept
{
    if constexpr (C == 2)
    {
        const F2 f = __builtin_convertvector(y, F2);
        out[0][i] = f[0];
        out[1][i] = f[1];
    }
    else
        out[0][i] = static_cast<float>(y);
}

// Both shelves over a stretch for C channels: the low shelf's output (rounded to float, as between
// two units) feeds the high shelf sample by sample; with two channels each operation serves both.
template <int C>
inline __attribute__((always_inline)) void runShelves(const Equalizer::Coefs& lo, const Equalizer::Coefs& hi,
                                                      float** in, float** out, int pos, int n, ShelfMemory lm,
                                                      ShelfMemory hm) noexcept
{
    using T = std::conditional_t<C == 2, D2, double>;
    const auto lanes = [](const std::array<double, Equalizer::kMaxChannels>& z) noexcept
    {
        if constexpr (C == 2)
            return D2{z[0], z[1]};
        else
            return z[0];
    };
    const auto keep = [](std::array<double, Equalizer::kMaxChannels>& z, T v) noexcept
    {
        for (int c = 0; c < C; ++c)
        {
            if constexpr (C == 2)
                z[static_cast<std::size_t>(c)] = v[c];
            else
                z[0] = v;
        }
    };
    const double la1 = lo[0], la2 = lo[1], lb0 = lo[2], lb1 = lo[3], lb2 = lo[4];
    const double ha1 = hi[0], ha2 = hi[1], hb0 = hi[2], hb1 = hi[3], hb2 = hi[4];
    T l1 = lanes(lm.z1), l2 = lanes(lm.z2), h1 = lanes(hm.z1), h2 = lanes(hm.z2);
    for (int i = pos; i < pos + n; ++i)
    {
        const T v = loadFrame<C>(in, i) - la1 * l1 - la2 * l2;
        const T low = roundToFloat(lb2 * l2 + lb1 * l1 + lb0 * v);
        l2 = l1;
        l1 = v;
        const T u = low - ha1 * h1 - ha2 * h2;
        storeFrame<C>(out, i, hb2 * h2 + hb1 * h1 + hb0 * u);
        h2 = h1;
        h1 = u;
    }
    keep(lm.z1, l1);
    keep(lm.z2, l2);
    keep(hm.z1, h1);
    keep(hm.z2, h2);
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

int Equalizer::startStretch(bool high, int remaining, float gainTarget) noexcept
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

    int n = remaining;
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
        coef = high ? highShelf(f * freqScale, g, q, sampleRate) : lowShelf(f * freqScale, g, q, sampleRate);
        dirty = 0;
    }
    return n;
}

void Equalizer::runShelves(float** in, float** out, int numSamples, int numChannels, float gainLow,
                           float gainHigh) noexcept
{
    // Each shelf steps through its own stretches (short ones while its settings glide); both
    // run over the pieces between consecutive stretch starts of either.
    int lowEnd = 0, highEnd = 0;
    for (int pos = 0; pos < numSamples;)
    {
        if (pos == lowEnd) lowEnd = pos + startStretch(false, numSamples - pos, gainLow);
        if (pos == highEnd) highEnd = pos + startStretch(true, numSamples - pos, gainHigh);
        const int n = std::min(lowEnd, highEnd) - pos;
        // The shelves in the chosen vector width: the wide form's three-operand instructions do the
        // same double arithmetic with fewer register copies.
        vectorwidth::dispatch(
            wideVectors, [&](auto) __attribute__((always_inline)) {
                if (numChannels == 2)
                    ::runShelves<2>(lowCoef, highCoef, in, out, pos, n, {lowZ1, lowZ2}, {highZ1, highZ2});
                else
                    ::runShelves<1>(lowCoef, highCoef, in, out, pos, n, {lowZ1, lowZ2}, {highZ1, highZ2});
            });
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

    runShelves(in, out, numSamples, C, gL, gH);
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
