#include "engine/fx/Distortion.h"

#include <algorithm>
#include <cmath>

#include "engine/VectorWidth.h"
#include "engine/fx/Glide.h"
#include "engine/params/Param.h"
#include "engine/params/ParamRecords.h"

namespace
{

// Two lanes, one per channel.
using F2 = float __attribute__((vector_size(8)));

constexpr float kTwoPi = 6.2831855f;
constexpr float kCentreScale = 1000.0f; // Center Freq is set in kHz
// Keeps the shaper's constants finite at Wet Mix 0.
constexpr float kTiny = 1.0e-20f;

// Unit position of a record's value, limited to 0..1 (a NaN gives 0).
float unitOf(const Param& p) noexcept
{
    return clampedUnitOf(p, p.value);
}

// A corrupt (NaN, non-positive or absurd) target falls back or is limited.
float safeTarget(float v, float lo, float hi, float fallback) noexcept
{
    if (std::isnan(v)) return fallback;
    return std::clamp(v, lo, hi);
}

} // namespace

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

void Distortion::computeCoefs() noexcept
{
    const float b = smooth[kBandwidth] * 0.01f;
    const float q = 0.1f / (b * b + 0.01f);
    const float omega = std::min(smooth[kCenterFreq] * kCentreScale / sampleRate, kMaxRelFreq) * kTwoPi;
    const float cs = cosf(omega);
    const float sn = sinf(omega);
    const float alpha = sn / (2.0f * q);
    const float g = 1.0f / (alpha + 1.0f);
    const float b0 = (q + 1.0f) * g * alpha;
    bpCoef = {g * -2.0f * cs, (1.0f - alpha) * g, b0, 0.0f, -b0};
    bpDirty = 0;
}

void Distortion::process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                         bool bypass) noexcept
{
    if (silent || bypass || params == nullptr || numSamples <= 0 || numChannels <= 0)
    {
        passThrough(in, out, numSamples, numChannels);
        return;
    }
    const int C = std::clamp(numChannels, 1, kMaxChannels);

    const float drive = safeTarget(params[kDrive].value, params[kDrive].minValue, params[kDrive].maxValue,
                                   params[kDrive].defaultValue);
    const float Dr = powf(10.0f, drive / 20.0f);
    const float W = unitOf(params[kWetMix]);
    const float F = unitOf(params[kFoldover]);
    const float Bi = unitOf(params[kBias]);
    const float A = (2.0f - F) / ((0.7f / (Dr - 0.99f) + 0.18f) * W + kTiny);
    const float B = (50.0f * Dr * F * F) / (W + kTiny);
    const float Cb = (Bi * 0.5f) / Dr;
    const float E = 1.0f / (Dr * W + kTiny);
    // The shaper's output at zero input, subtracted so that silence stays silent.
    const float K = Cb / (B * Cb * Cb + (A * Cb + E));
    const float dry = 1.0f - W;

    const Param& centreParam = params[kCenterFreq];
    const float centreTarget = safeTarget(centreParam.value, 0.01f, 1000.0f, centreParam.defaultValue);
    const float widthTarget =
        safeTarget(params[kBandwidth].value, 0.0f, 1000.0f, params[kBandwidth].defaultValue);

    std::array<std::array<float, kWorkBlock>, kMaxChannels> work;
    int pos = 0;
    while (pos < numSamples)
    {
        int n = std::min(numSamples - pos, kWorkBlock);
        float& f = smooth[kCenterFreq];
        float& bw = smooth[kBandwidth];
        if (f != centreTarget || bw != widthTarget)
        {
            f = glideFreq(f, centreTarget, kFreqGlideFactor);
            bw = glideLinear(bw, widthTarget, kBandwidthGlideStep);
            n = std::min(numSamples - pos, kGlideBlock);
            computeCoefs();
        }
        else if (bpDirty)
            computeCoefs();

        const float a1 = bpCoef[0], a2 = bpCoef[1], b0 = bpCoef[2], b1 = bpCoef[3], b2 = bpCoef[4];
        // Both channels' band-passes in the two lanes of one vector.
        F2 z1 = {bpZ1[0], bpZ1[1]}, z2 = {bpZ2[0], bpZ2[1]};
        const float* x1 = in[C - 1] + pos;
        for (int i = 0; i < n; ++i)
        {
            const F2 v = F2{in[0][pos + i], x1[i]} - a1 * z1 - a2 * z2;
            const F2 band = b2 * z2 + b1 * z1 + b0 * v;
            work[0][static_cast<std::size_t>(i)] = band[0];
            work[1][static_cast<std::size_t>(i)] = band[1];
            z2 = z1;
            z1 = v;
        }
        for (std::size_t c = 0; c < static_cast<std::size_t>(C); ++c)
        {
            bpZ1[c] = z1[c];
            bpZ2[c] = z2[c];
        }
        // The shaper in the chosen vector width: its divisions take eight samples at a time where
        // the processor has AVX2, with the same arithmetic lane by lane.
        vectorwidth::dispatch(
            wideVectors, [&](auto) __attribute__((always_inline)) {
                for (std::size_t c = 0; c < static_cast<std::size_t>(C); ++c)
                {
                    const float* w = work[c].data();
                    const float* src = in[c] + pos;
                    float* dst = out[c] + pos;
                    for (int i = 0; i < n; ++i)
                    {
                        const float s = w[i] + Cb;
                        dst[i] = s / (B * s * s + (std::fabs(s) * A + E)) + src[i] * dry - K;
                    }
                }
            });
        pos += n;
    }
    for (int c = C; c < numChannels; ++c)
        if (in[c] != out[c]) std::copy(in[c], in[c] + numSamples, out[c]);

    for (std::size_t c = 0; c < kMaxChannels; ++c)
    {
        if (!(bpZ1[c] > -kRunawayMemory && bpZ1[c] < kRunawayMemory)) bpZ1[c] = 0.0f;
        if (!(bpZ2[c] > -kRunawayMemory && bpZ2[c] < kRunawayMemory)) bpZ2[c] = 0.0f;
    }
}
