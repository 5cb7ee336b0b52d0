// Eight-float vectors pass between functions here only inside the wide form's inlined loops, never
// across a call the two forms would have to agree on.
#pragma GCC diagnostic ignored "-Wpsabi"

#include "engine/fx/ReverbFDN.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "engine/fx/MirroredAllPass.h"
#include "engine/params/Param.h"
#include "engine/params/ParamRecords.h"
#include "engine/VectorWidth.h"
#include "engine/synth/FourLanes.h"
#include "platform/VectorDsp.h"

namespace
{
// Eight lanes for the wide form; only loops compiled for it use this type.
using F8 = float __attribute__((vector_size(32)));

// Vectors of floats read and written at any float-aligned address. Copies, not views through a
// lowered-alignment vector type: Clang lost that type's alignment in a reference a template
// returned and emitted aligned moves, which faulted on the member arrays here.
template <class V> [[gnu::always_inline]] inline V loadVec(const float* p) noexcept
{
    V x;
    std::memcpy(&x, p, sizeof x);
    return x;
}
template <class V> [[gnu::always_inline]] inline void storeVec(float* p, const V& x) noexcept
{
    std::memcpy(p, &x, sizeof x);
}

// Mixed line r = sum over c of kMixMat[r][c] * line c, in line order, for len samples: lines along
// the sample axis, one vector V of samples at a time, the eight lines' vectors held in registers
// for all eight sums. It may run up to a vector's width minus one past len.
template <class V>
inline __attribute__((always_inline)) void mixLines(const float (*y)[ReverbFDN::kSubBlock],
                                                    float (*mixed)[ReverbFDN::kSubBlock], int len) noexcept
{
    constexpr int kWidth = static_cast<int>(sizeof(V) / sizeof(float));
    static_assert(ReverbFDN::kSubBlock % kWidth == 0);
    for (int k = 0; k < len; k += kWidth)
    {
        V line[ReverbFDN::kNumLines];
        for (int c = 0; c < ReverbFDN::kNumLines; ++c)
            line[c] = loadVec<V>(y[c] + k);
        for (int r = 0; r < ReverbFDN::kNumLines; ++r)
        {
            V m = V{};
            for (int c = 0; c < ReverbFDN::kNumLines; ++c)
                m += ReverbFDN::kMixMat[r][c] * line[c];
            storeVec<V>(mixed[r] + k, m);
        }
    }
}

// Four rows of four lanes turned into four columns; its own inverse.
inline __attribute__((always_inline)) void transpose4(lanes::F4 (&r)[4]) noexcept
{
    const lanes::F4 t0 = __builtin_shufflevector(r[0], r[1], 0, 4, 1, 5);
    const lanes::F4 t1 = __builtin_shufflevector(r[0], r[1], 2, 6, 3, 7);
    const lanes::F4 t2 = __builtin_shufflevector(r[2], r[3], 0, 4, 1, 5);
    const lanes::F4 t3 = __builtin_shufflevector(r[2], r[3], 2, 6, 3, 7);
    r[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    r[1] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
    r[2] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    r[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

constexpr ParamRecordSpec kSpecs[ReverbFDN::kNumParams] = {
    {"Reverb_Wet Mix", kCurveLinear, 0.0f, 100.0f, 0.0f, 14.0f, "%.0f%%", false, nullptr, 0.0f, 100.0f},
    {"Reverb_Pre-Delay", kCurvePowUnit, 0.0f, ReverbFDN::kMaxPreDelayMs, 2.0f, 10.0f, "%.0f ms", false,
     nullptr, 0.0f, ReverbFDN::kMaxPreDelayMs},
    {"Reverb_Decay Time", kCurvePowUnit, 0.1f, 8.0f, 3.0f, 0.37f, "%.2f s", false, nullptr, 0.1f, 8.0f},
    {"Reverb_Damping", kCurveLinear, 0.0f, 100.0f, 0.0f, 30.0f, "%.0f%%", false, nullptr, 0.0f, 100.0f},
    {"Reverb_Modulation", kCurveLinear, 0.0f, 100.0f, 0.0f, 30.0f, "%.0f%%", false, nullptr, 0.0f, 100.0f},
    {"Reverb_Stereo Width", kCurveLinear, 0.0f, 100.0f, 0.0f, 20.0f, "%.0f%%", false, nullptr, 0.0f, 100.0f},
    // Stored as square roots of 0.3 and 10 (kHz).
    {"Reverb_Filter Freq", kCurvePowValue, 0.5477226f, 3.1622777f, 2.0f, 3.0f, "%.1f Hz", false, nullptr,
     0.3f, 10.0f},
    {"Reverb_Filter Width", kCurveLinear, 0.0f, 100.0f, 0.0f, 60.0f, "%.0f%%", false, nullptr, 0.0f, 100.0f},
    {"Reverb_Feedback", kCurveLinear, 0.0f, 100.0f, 0.0f, 0.0f, "%.0f%%", false, "1.0.1", 0.0f, 100.0f},
};
} // namespace

ReverbFDN::ReverbFDN() : ring(kRingSize, 0.0f) {}

void ReverbFDN::setParamPtr(Param* first)
{
    params = first;
    fillParamRecords(params, kSpecs, kNumParams);
}

namespace
{
// Pre-delay region length for a rate: room for the longest Pre-Delay plus 16 samples, rounded up
// to a multiple of four.
int32_t preDelayRegionLength(float rate, float maxMs) noexcept
{
    const float n = 0.001f * maxMs * rate + 16.0f;
    const int32_t whole = n < 1.0e8f ? static_cast<int32_t>(n) : 100000000;
    return 4 * (whole / 4) + 4;
}
} // namespace

void ReverbFDN::setup(float newSampleRate, int newNumChannels)
{
    if (!(newSampleRate > 0.0f && newSampleRate < 1.0e7f)) newSampleRate = 44100.0f;
    FxUnit::setup(newSampleRate, newNumChannels);

    int32_t position = 0;
    for (int i = 0; i < kNumLines; ++i)
    {
        position += kTapDelays[i] + kSubBlock;
        writePos[i] = position;
    }
    meanDelaySec = static_cast<float>(kTapDelaySum) / (newSampleRate * static_cast<float>(kNumLines));

    float maxMs = kMaxPreDelayMs;
    if (params != nullptr)
    {
        const float m = params[kPreDelay].convertUnitToVal(1.0f);
        if (m >= 0.0f && m <= kMaxPreDelayMs) maxMs = m;
    }
    preDelayLen = preDelayRegionLength(newSampleRate, maxMs);
    // Two regions whatever the channel count: the second channel's feedback always has a place.
    const size_t needed = static_cast<size_t>(kMaxChannels) *
                          std::max(preDelayLen, preDelayRegionLength(kPreallocSampleRate, kMaxPreDelayMs));
    if (preDelayMem.size() < needed) preDelayMem.assign(needed, 0.0f);
    clearMemories();

    preDelayPos = 0;
    wetLevel = 0.0f;
    cleared = true;
    idleSamples = kIdleSaturation;
    dampState.fill(0.0f);
    lfoPhase = 0.0f;
    outEnergy = 0.0f;
    for (auto& st : bpState)
        st.fill(0.0f);
}

void ReverbFDN::clearMemories() noexcept
{
    std::fill(ring.begin(), ring.end(), 0.0f);
    std::fill(preDelayMem.begin(), preDelayMem.end(), 0.0f);
}

float ReverbFDN::readValue(int i) const noexcept
{
    return kSpecs[i].clampValue(params[i].value);
}

float ReverbFDN::readUnit(int i) const noexcept
{
    return clampedUnit(params[i], kSpecs[i]);
}

int ReverbFDN::getPreDelaySamples() const noexcept
{
    if (params == nullptr || preDelayLen == 0) return 0;
    const int d = static_cast<int>(0.001f * readValue(kPreDelay) * sampleRate + 0.5f);
    return std::clamp(d, 0, preDelayLen - 1);
}

void ReverbFDN::passIdle(float** in, float** out, int numSamples, int numChannels) noexcept
{
    idleSamples = numSamples < kIdleSaturation - idleSamples ? idleSamples + numSamples : kIdleSaturation;
    passThrough(in, out, numSamples, numChannels);
}

template <class V>
inline __attribute__((always_inline)) void ReverbFDN::renderSubBlocks(float** in, float** out, int numSamples,
                                                                      int numChannels,
                                                                      const CallSettings& cs) noexcept
{
    const int c1 = 1 % numChannels;
    const int32_t P = preDelayLen;

    // The mixing loop may run up to seven samples past a short sub-block: those lanes read zeros
    // or earlier samples, and nothing reads them back.
    alignas(32) float y[kNumLines][kSubBlock] = {};
    alignas(32) float mixed[kNumLines][kSubBlock];
    float cond[kMaxChannels][kSubBlock];

    for (int o = 0; o < numSamples;)
    {
        int len = std::min(numSamples - o, kSubBlock);

        const float step = 0.001f * static_cast<float>(idleSamples + len);
        if (std::fabs(cs.target - wetLevel) <= step)
            wetLevel = cs.target;
        else
            wetLevel += cs.target > wetLevel ? step : -step;
        idleSamples = 0;
        const float wet = wetLevel;
        const float dry = std::sqrt(std::max(0.0f, 1.0f - wet * wet));

        // Pre-delay: neither the write nor the read wraps inside a sub-block.
        // Both positions lie within the region, so one comparison wraps instead of a division.
        const int32_t readAhead = P - cs.preDelay + preDelayPos;
        const int32_t readPos = readAhead >= P ? readAhead - P : readAhead;
        len = std::min({len, P - preDelayPos, P - readPos});
        // The rest of the sub-block; a whole one's fixed length lets its loops unroll.
        const auto rest = [&](const int len) __attribute__((always_inline))
        {
            const float* delayed[kMaxChannels];
            for (int c = 0; c < numChannels; ++c)
            {
                float* region = preDelayMem.data() + static_cast<size_t>(c) * static_cast<size_t>(P);
                std::copy(in[c] + o, in[c] + o + len, region + preDelayPos);
                delayed[c] = region + readPos;
            }

            // Line reads at a modulated fractional delay, held for the sub-block. The eight lines'
            // read positions come from one loop over the lines; then each line's taps are one
            // contiguous stretch of the ring unless the stretch passes the ring's end.
            int first[kNumLines];
            float frac[kNumLines];
            for (int i = 0; i < kNumLines; ++i)
            {
                float z = lfoPhase + 0.125f * static_cast<float>(i);
                z = z - std::floor(z) - 0.5f;
                const float z2 = z * z;
                const float s = z * (6.2790036f + z2 * (-41.104263f + z2 * (77.99433f + z2 * -56.165348f)));
                const float delay = static_cast<float>(kTapDelays[i]) + s * cs.depth;
                float p = static_cast<float>(writePos[i]) - delay;
                p = p < 0.0f ? p + static_cast<float>(kRingSize) : p;
                first[i] = std::clamp(static_cast<int>(p), 0, kRingSize - 1);
                frac[i] = p - static_cast<float>(first[i]);
            }
            for (int i = 0; i < kNumLines; ++i)
            {
                int idx = first[i];
                const float fr = frac[i];
                const float* r = ring.data();
                float* t = y[i];
                if (idx + len < kRingSize)
                    for (int k = 0; k < len; ++k)
                        t[k] = cs.lineGain * ((1.0f - fr) * r[idx + k] + fr * r[idx + k + 1]);
                else
                    for (int k = 0; k < len; ++k)
                    {
                        const int next = idx + 1 == kRingSize ? 0 : idx + 1;
                        t[k] = cs.lineGain * ((1.0f - fr) * r[idx] + fr * r[next]);
                        idx = next;
                    }
            }
            // Damping and the input band-passes: the eight lines' one-pole recurrences and the two
            // channels' band-passes advance side by side, so each waits on its own previous sample
            // only. The lines run along the sample axis; each square of four lines by four samples
            // is turned so that one vector holds one sample of four lines, advanced, and turned back
            // (the squares may reach up to three samples past len, which are turned back unchanged).
            {
                using lanes::F4;
                F4 state[2] = {loadVec<F4>(dampState.data()), loadVec<F4>(dampState.data() + 4)};
                // The two channels' band-passes in the first two lanes of a vector of four: a whole
                // register lets the coefficients the loop keeps in memory be read straight into
                // its arithmetic.
                const BandPass bp = bpCoef;
                F4 s1 = {bpState[0][0], bpState[1][0]}, s2 = {bpState[0][1], bpState[1][1]};
                const float* x0 = delayed[0];
                const float* x1 = delayed[c1];
                for (int k = 0; k < len; k += 4)
                {
                    F4 sq[2][4];
                    for (int g = 0; g < 2; ++g)
                    {
                        for (int i = 0; i < 4; ++i)
                            sq[g][i] = loadVec<F4>(y[4 * g + i] + k);
                        transpose4(sq[g]);
                    }
                    for (int j = 0; j < 4; ++j)
                        if (k + j < len)
                        {
                            for (int g = 0; g < 2; ++g)
                            {
                                state[g] = sq[g][j] + cs.damp * state[g];
                                sq[g][j] = state[g];
                            }
                            const F4 v = F4{x0[k + j], x1[k + j]} - bp.a1 * s1 - bp.a2 * s2;
                            const F4 filtered = bp.b0 * v + bp.b1 * s1 + bp.b2 * s2;
                            cond[0][k + j] = filtered[0];
                            cond[1][k + j] = filtered[1];
                            s2 = s1;
                            s1 = v;
                        }
                    for (int g = 0; g < 2; ++g)
                    {
                        transpose4(sq[g]);
                        for (int i = 0; i < 4; ++i)
                            storeVec<F4>(y[4 * g + i] + k, sq[g][i]);
                    }
                }
                storeVec<F4>(dampState.data(), state[0]);
                storeVec<F4>(dampState.data() + 4, state[1]);
                for (int c = 0; c < numChannels; ++c)
                {
                    bpState[c][0] = s1[c];
                    bpState[c][1] = s2[c];
                }
            }

            mixLines<V>(y, mixed, len);

            // The band-passed input diffuses through four all-passes. Every all-pass reads further back
            // than a sub-block, so within one each stage reads only what earlier sub-blocks wrote and
            // runs as a loop over the samples.
            static_assert(kDiffuserDelays[0] >= kSubBlock &&
                          kDiffuserDelays[kNumDiffusers - 1] <= kDiffuserSize - kSubBlock);
            {
                float e[kSubBlock];
                std::copy(cond[0], cond[0] + len, e);
                for (int j = 0; j < kNumDiffusers; ++j)
                {
                    if (j == 1)
                        for (int k = 0; k < len; ++k)
                            e[k] += cond[c1][k];
                    runMirroredAllPass<kDiffuserSize, kSubBlock>(diffuserMem.data() + j * kDiffuserStride, e,
                                                                  len, diffuserPos, kDiffuserDelays[j]);
                    if (j == 2) std::copy(e, e + len, cond[0]);
                }
                std::copy(e, e + len, cond[c1]);
                diffuserPos = (diffuserPos + len) & (kDiffuserSize - 1);
            }

            // Line writes; a stretch that passes the end of the ring continues at its start.
            for (int i = 0; i < kNumLines; ++i)
            {
                const float* u = cond[numChannels == 2 ? i & 1 : 0];
                const float* m = mixed[i];
                const int pos = writePos[i];
                float* to = ring.data() + pos;
                if (pos + len <= kRingSize)
                    for (int k = 0; k < len; ++k)
                        to[k] = u[k] * wet + m[k];
                else
                {
                    const int first = kRingSize - pos;
                    for (int k = 0; k < first; ++k)
                        to[k] = u[k] * wet + m[k];
                    for (int k = first; k < len; ++k)
                        ring[static_cast<size_t>(k - first)] = u[k] * wet + m[k];
                }
                writePos[i] = pos + len < kRingSize ? pos + len : pos + len - kRingSize;
            }

            // The two spread sums once per sample; the energy adds their powers in sample order.
            alignas(32) float sumA[kSubBlock], sumB[kSubBlock], power[kSubBlock];
            constexpr int kWidth = static_cast<int>(sizeof(V) / sizeof(float));
            for (int k = 0; k < len; k += kWidth)
            {
                const V a = loadVec<V>(mixed[0] + k) + loadVec<V>(mixed[1] + k) + loadVec<V>(mixed[2] + k) +
                            loadVec<V>(mixed[3] + k);
                const V b = loadVec<V>(mixed[4] + k) + loadVec<V>(mixed[5] + k) + loadVec<V>(mixed[6] + k) +
                            loadVec<V>(mixed[7] + k);
                storeVec<V>(sumA + k, a);
                storeVec<V>(sumB + k, b);
                storeVec<V>(power + k, a * a + b * b);
            }
            float energy = 0.0f;
            for (int k = 0; k < len; ++k)
                energy += power[k];
            for (int k = 0; k < len; ++k)
                out[0][o + k] = dry * in[0][o + k] + cs.wa * sumA[k] + cs.wb * sumB[k];
            // With one channel this second pass writes channel 0 again, its dry part from the first.
            for (int k = 0; k < len; ++k)
                out[c1][o + k] = dry * in[c1][o + k] + cs.wb * sumA[k] + cs.wa * sumB[k];

            lfoPhase += static_cast<float>(len) * cs.rate / sampleRate;
            lfoPhase -= std::floor(lfoPhase);
            if (!(lfoPhase >= 0.0f && lfoPhase <= 1.01f)) lfoPhase = 0.0f;

            // Output fed back after the pre-delay, soft-clipped; too short a pre-delay would let it
            // return within the sub-block.
            if (cs.preDelay >= kSubBlock && cs.fb != 0.0f)
            {
                float* region0 = preDelayMem.data() + preDelayPos;
                float* region1 = preDelayMem.data() + P + preDelayPos;
                for (int k = 0; k < len; ++k)
                {
                    const float t0 = cs.fb * out[0][o + k];
                    region0[k] += t0 / (1.0f + std::fabs(t0));
                    const float t1 = cs.fb * out[c1][o + k];
                    region1[k] += t1 / (1.0f + std::fabs(t1));
                }
            }

            preDelayPos = preDelayPos + len == P ? 0 : preDelayPos + len;
            outEnergy = 0.9f * outEnergy + 0.1f * energy;
        };
        if (len == kSubBlock)
            rest(kSubBlock);
        else
            rest(len);
        o += len;
    }
}

void ReverbFDN::process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                        bool bypass) noexcept
{
    if (numSamples <= 0 || numChannels <= 0) return;
    numChannels = std::min(numChannels, kMaxChannels);
    if (preDelayLen == 0 || params == nullptr) // never set up: nothing to process with
    {
        passThrough(in, out, numSamples, numChannels);
        return;
    }
    if (cleared && bypass)
    {
        passIdle(in, out, numSamples, numChannels);
        return;
    }
    const float target = bypass ? 0.0f : readUnit(kWetMix);
    if (target == 0.0f && wetLevel == 0.0f)
    {
        passIdle(in, out, numSamples, numChannels);
        return;
    }
    cleared = false;

    // Input level; an overloaded or non-finite block is replaced by silence.
    constexpr float kMaxInputLevel = 10000.0f;
    float level = 0.0f;
    if (!silent)
    {
        float sum = 0.0f;
        for (int c = 0; c < numChannels; ++c)
            sum += vdsp::svesq(in[c], static_cast<size_t>(numSamples));
        level = sum / static_cast<float>(numChannels * numSamples);
        if (!(level < kMaxInputLevel))
        {
            for (int c = 0; c < numChannels; ++c)
                std::fill(in[c], in[c] + numSamples, 0.0f);
            if (!std::isfinite(level)) level = kMaxInputLevel; // keeps the level follower finite
        }
    }
    if (level > inLevel)
        inLevel = level;
    else
        inLevel = inLevel / (1.0f + 10.0f * static_cast<float>(numSamples) / sampleRate);
    if (inLevel < 1.0e-10f && outEnergy < 1.0e-10f)
    {
        passIdle(in, out, numSamples, numChannels);
        return;
    }

    silent = false;
    const float g = std::exp(-4.0f * meanDelaySec / readValue(kDecayTime));
    const float damp = 0.9f * readUnit(kDamping);
    const float lineGain = g * (1.0f - damp);
    const float width = readUnit(kStereoWidth);
    const float wa = 0.25f * std::sqrt(0.5f + 0.5f * width);
    const float wb = 0.25f * std::sqrt(std::max(0.0f, 0.5f - 0.5f * width));
    const float modulation = readUnit(kModulation);
    const float depth = 2.0f + 18.0f * modulation;
    const float rate = 0.5f + 1.5f * modulation;
    const int32_t preDelay = getPreDelaySamples();
    const float fb = 0.01f * readValue(kFeedback);
    {
        const float fw = 0.01f * readValue(kFilterWidth);
        const float q = 0.01f / (fw * fw + 0.001f);
        const float comp = 3.0f / (1.0f / (1.05f - g * g) - 0.8f);
        const float f = std::min(1000.0f * readValue(kFilterFreq) / sampleRate, 0.48f);
        const float w0 = 6.2831853f * f;
        const float alpha = std::sin(w0) / (2.0f * q);
        bpCoef.b0 = (q + 1.0f) * comp * alpha / (1.0f + alpha);
        bpCoef.b1 = 0.0f;
        bpCoef.b2 = -bpCoef.b0;
        bpCoef.a1 = -2.0f * std::cos(w0) / (1.0f + alpha);
        bpCoef.a2 = (1.0f - alpha) / (1.0f + alpha);
    }
    // The sub-blocks run in the chosen vector width: the wide form's loops take eight samples at a
    // time with the same arithmetic lane by lane.
    const CallSettings settings{target, lineGain, damp, wa, wb, depth, rate, fb, preDelay};
    vectorwidth::dispatch(
        wideVectors, [&](auto wide) __attribute__((always_inline)) {
            if constexpr (decltype(wide)::value)
                renderSubBlocks<F8>(in, out, numSamples, numChannels, settings);
            else
                renderSubBlocks<lanes::F4>(in, out, numSamples, numChannels, settings);
        });

    if (bypass && wetLevel == 0.0f)
    {
        clearMemories();
        cleared = true;
    }
    // A run-away or non-finite state starts over from silence. The diffuser keeps its short
    // memory after a mere overload, but a value that is not a number would circulate in it.
    if (!(outEnergy < 1.0e6f))
    {
        if (!std::isfinite(outEnergy)) diffuserMem.fill(0.0f);
        clearMemories();
        dampState.fill(0.0f);
        lfoPhase = 0.0f;
        outEnergy = 0.0f;
        for (auto& st : bpState)
            st.fill(0.0f);
    }
}
