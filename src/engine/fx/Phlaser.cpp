#include "engine/fx/Phlaser.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <utility>

#include "engine/VectorWidth.h"
#include "engine/params/Param.h"
#include "engine/params/ParamRecords.h"
#include "engine/synth/FourLanes.h"

namespace
{
constexpr ParamRecordSpec kSpecs[Phlaser::kNumParams] = {
    {"Wet Mix", kCurveLinear, 0.0f, 100.0f, 0.0f, 60.0f, "%.0f%%", false, nullptr, 0.0f, 100.0f},
    {"Flange/Phase", kCurveLinear, -100.0f, 100.0f, 0.0f, 0.0f, "%.0f%%", true, nullptr, -100.0f, 100.0f},
    // Stored as square roots of 0.1 and 10 (kHz).
    {"Frequency", kCurvePowValue, 0.31622776f, 3.1622777f, 2.0f, 2.0f, "%.2f kHz", false, nullptr, 0.1f,
     10.0f},
    {"Mod Amp", kCurveLinear, 0.0f, 100.0f, 0.0f, 50.0f, "%.0f%%", false, nullptr, 0.0f, 100.0f},
    // Stored as square roots of 0.01 and 10 (Hz).
    {"Mod Freq", kCurvePowValue, 0.1f, 3.1622777f, 2.0f, 0.26f, "%.2f Hz", false, nullptr, 0.01f, 10.0f},
    {"Mod Stereo", kCurveLinear, 0.0f, 360.0f, 0.0f, 10.0f, "%.0f", false, nullptr, 0.0f, 360.0f},
    {"Feedback", kCurveLinear, -99.0f, 99.0f, 0.0f, -90.0f, "%.0f%%", true, nullptr, -99.0f, 99.0f},
    {"Phase Stages", kCurveRoundLinear, 1.0f, 16.0f, 0.0f, 4.0f, "%.0f", false, nullptr, 1.0f, 16.0f},
};
// 1 where x is an infinity or not a number, else 0; a plain integer test, so a loop over many
// ORs it together lane by lane.
inline uint32_t exponentIsFull(float x) noexcept
{
    constexpr uint32_t kExponent = 0x7f800000u;
    return (std::bit_cast<uint32_t>(x) & kExponent) == kExponent ? 1u : 0u;
}

// One channel's state and settings for a sub-block.
struct ChannelRun
{
    float* mem;
    float* states;
    const float* weights;
    const float* src;
    float* dst;
    int whole;
    int firstTap;
    float blend;
    float coef;
};

// Stage-skewed form of a sub-block of len samples, NC channels, S all-pass stages: while every tap
// reads further back than the chain is long, sample n meets sample n - 1 only stage by stage, so
// iteration t runs stage s on sample t - s and all stages of an iteration proceed side by side,
// their states and inputs held in registers. The one-sample term, weighted zero here, leaves a tap
// sum (never -0, as it starts from +0) unchanged unless that sample is not finite: then nothing is
// kept and the caller runs the plain form. Returns whether the sub-block is done.
// The caller runs it only where neither the sub-block's writes nor its taps pass the end of the
// memory, so both are plain runs of it.
// Two channels in the lanes of one vector: the same arithmetic lane by lane.
using F2 = float __attribute__((vector_size(8)));

template <int S, int NC>
inline __attribute__((always_inline)) bool runSkewedStages(ChannelRun* run, int len, float wet, float fb,
                                                           int writePos) noexcept
{
    // The stages' values of all channels in one T, channel c in lane c.
    using T = std::conditional_t<NC == 2, F2, float>;
    const auto get = [](const T& v, int c) noexcept
    {
        if constexpr (NC == 2)
            return v[c];
        else
            return v;
    };
    const auto set = [](T& v, int c, float x) noexcept
    {
        if constexpr (NC == 2)
            v[c] = x;
        else
            v = x;
    };
    // Everything the loop reads held apart from the delay memories, which it writes.
    T st[S], buf[S] = {}, coef{};
    float wt[NC][4];
    float* at[NC];          // the sub-block's samples in the memory
    const float* tapAt[NC]; // tap j of sample t reads tapAt[c][t - j]
    const float* src[NC];
    for (int c = 0; c < NC; ++c)
    {
        for (int k = 0; k < S; ++k)
            set(st[k], c, run[c].states[k]);
        for (int j = 0; j < 4; ++j)
            wt[c][j] = run[c].weights[j];
        set(coef, c, run[c].coef);
        at[c] = run[c].mem + writePos;
        tapAt[c] = run[c].mem + writePos + 1 - run[c].whole;
        src[c] = run[c].src;
    }
    const float dry = 1.0f - wet;
    float res[NC][Phlaser::kSubBlock];
    // Where the taps reach kBatch - 1 samples further back than this form needs, the taps of
    // kBatch consecutive samples read only samples the chain has finished with when the first of
    // them enters it: their sums run along the sample axis, a vector of samples per weight.
    using F4 = lanes::F4;
    QM_ELEMENT_ALIGNED_VECTOR(F4At, float, 16);
    constexpr int kBatch = 4;
    bool batched = true;
    for (int c = 0; c < NC; ++c)
        batched = batched && run[c].whole >= S + kBatch;
    // Sample by sample, the channels side by side: one T per sample.
    static_assert(Phlaser::kSubBlock % kBatch == 0);
    alignas(16) float tapSum[Phlaser::kSubBlock][NC];
    const auto sumTaps = [&](int t) __attribute__((always_inline))
    {
        F4 sum[NC];
        for (int c = 0; c < NC; ++c)
        {
            sum[c] = F4{};
            for (int j = 0; j < 4; ++j)
                sum[c] += wt[c][j] * *reinterpret_cast<const F4At*>(tapAt[c] + t - j);
        }
        if constexpr (NC == 2)
        {
            *reinterpret_cast<F4*>(tapSum[t]) = __builtin_shufflevector(sum[0], sum[1], 0, 4, 1, 5);
            *reinterpret_cast<F4*>(tapSum[t + 2]) = __builtin_shufflevector(sum[0], sum[1], 2, 6, 3, 7);
        }
        else
            *reinterpret_cast<F4*>(tapSum[t]) = sum[0];
    };
    // Sample t into the memory and the chain's input from its taps.
    const auto feed = [&](int t) __attribute__((always_inline))
    {
        if (batched)
        {
            if (t % kBatch == 0) sumTaps(t);
            for (int c = 0; c < NC; ++c)
                at[c][t] = wet * src[c][t];
            buf[0] = *reinterpret_cast<const T*>(tapSum[t]);
            return;
        }
        for (int c = 0; c < NC; ++c)
        {
            at[c][t] = wet * src[c][t];
            float sum = 0.0f;
            for (int j = 0; j < 4; ++j)
                sum += wt[c][j] * tapAt[c][t - j];
            set(buf[0], c, sum);
        }
    };
    // Stage k on sample n; the last stage's output feeds back and leaves.
    const auto stage = [&](int k, int n) __attribute__((always_inline))
    {
        T y = buf[k];
        const T h = st[k];
        y -= coef * h;
        st[k] = y;
        y = coef * y + h;
        if (k + 1 < S)
            buf[k + 1] = y;
        else
            for (int c = 0; c < NC; ++c)
            {
                at[c][n] += fb * get(y, c);
                res[c][n] = src[c][n] * dry + get(y, c);
            }
    };
    // Last stage first in each iteration, so each stage takes its input before the one below
    // replaces it. Stage k starts on sample 0 in iteration k: the first S - 1 iterations and the
    // last S - 1 run only some stages, those in between all of them.
    int t = 0;
    for (; t < S - 1 && t < len; ++t)
    {
        feed(t);
#pragma GCC unroll 16
        for (int k = S - 1; k >= 0; --k)
            if (k <= t) stage(k, t - k);
    }
    for (; t < len; ++t)
    {
        feed(t);
#pragma GCC unroll 16
        for (int k = S - 1; k >= 0; --k)
            stage(k, t - k);
    }
    for (; t < len + S - 1; ++t)
    {
#pragma GCC unroll 16
        for (int k = S - 1; k >= 0; --k)
            if (t - k >= 0 && t - k < len) stage(k, t - k);
    }
    // The one-sample term reads the sample before each: any that is not finite hands the
    // sub-block to the plain form. The caller keeps writePos at 2 or more, so those are the len
    // samples from at[c][-1] on, tested four at a time as bits.
    using I4 = lanes::I4;
    QM_ELEMENT_ALIGNED_VECTOR(I4At, int32_t, 16);
    constexpr int32_t kExponent = 0x7f800000;
    I4 full = I4{};
    uint32_t nonFinite = 0;
    for (int c = 0; c < NC; ++c)
    {
        const float* before = at[c] - 1;
        int n = 0;
        for (; n + 4 <= len; n += 4)
            full |= (*reinterpret_cast<const I4At*>(before + n) & kExponent) == kExponent;
        for (; n < len; ++n)
            nonFinite |= exponentIsFull(before[n]);
    }
    if (nonFinite != 0 || lanes::anyLane(full)) return false;
    for (int c = 0; c < NC; ++c)
    {
        for (int k = 0; k < S; ++k)
            run[c].states[k] = get(st[k], c);
        for (int n = 0; n < len; ++n)
            run[c].dst[n] = res[c][n];
    }
    return true;
}

// runSkewedStages compiled in each vector width: the wide form's three-operand instructions do
// the same arithmetic with fewer register copies.
template <int S, int NC>
QM_WIDE_TARGET bool runSkewedWide(ChannelRun* run, int len, float wet, float fb, int writePos) noexcept
{
    return runSkewedStages<S, NC>(run, len, wet, fb, writePos);
}
template <int S, int NC>
bool runSkewedBaseline(ChannelRun* run, int len, float wet, float fb, int writePos) noexcept
{
    return runSkewedStages<S, NC>(run, len, wet, fb, writePos);
}

// runSkewedStages for a stage count known only at run time.
template <int NC, int... S>
bool runSkewedFor(bool wide, int stages, std::integer_sequence<int, S...>, ChannelRun* run, int len,
                  float wet, float fb, int writePos) noexcept
{
    bool done = false;
    (void)((stages == S + 1 && (done = (QM_WIDE_VECTORS && wide)
                                           ? runSkewedWide<S + 1, NC>(run, len, wet, fb, writePos)
                                           : runSkewedBaseline<S + 1, NC>(run, len, wet, fb, writePos),
                                true)) ||
           ...);
    return done;
}
template <int NC>
bool runSkewed(bool wide, int stages, ChannelRun* run, int len, float wet, float fb, int writePos) noexcept
{
    return runSkewedFor<NC>(wide, stages, std::make_integer_sequence<int, Phlaser::kMaxStages>{}, run, len,
                            wet, fb, writePos);
}
} // namespace

Phlaser::Phlaser()
{
    // Catmull-Rom weights of the four taps around a delay with fraction t = row / 64.
    for (int f = 0; f < kInterpRows; ++f)
    {
        const float t = static_cast<float>(f) / static_cast<float>(kInterpRows);
        const float t2 = t * t;
        const float t3 = t2 * t;
        interpTable[f][0] = 0.5f * (-t3 + 2.0f * t2 - t);
        interpTable[f][1] = 0.5f * (3.0f * t3 - 5.0f * t2 + 2.0f);
        interpTable[f][2] = 0.5f * (-3.0f * t3 + 4.0f * t2 + t);
        interpTable[f][3] = 0.5f * (t3 - t2);
    }
}

void Phlaser::setParamPtr(Param* first)
{
    params = first;
    fillParamRecords(params, kSpecs, kNumParams);
}

int Phlaser::delayMemorySize(float rate) noexcept
{
    const float bound = 0.05f * rate + 1.0f;
    // Rates beyond any host's are capped so the size stays an int; setup never sees them.
    const int limit = bound < 1.0e7f ? static_cast<int>(bound) + 8 : 10000008;
    int n = 32;
    while (n <= limit)
        n *= 2;
    return n;
}

void Phlaser::setup(float newSampleRate, int newNumChannels)
{
    if (!(newSampleRate > 0.0f && newSampleRate < 1.0e7f)) newSampleRate = 44100.0f;
    FxUnit::setup(newSampleRate, newNumChannels);
    memSize = delayMemorySize(newSampleRate);
    // Both channels' memories always exist, so a process call with more channels than were set up
    // stays inside them.
    const int capacity = std::max(memSize, delayMemorySize(kPreallocSampleRate));
    for (auto& mem : delayMem)
    {
        if (static_cast<int>(mem.size()) < capacity) mem.assign(static_cast<size_t>(capacity), 0.0f);
        std::fill(mem.begin(), mem.begin() + memSize, 0.0f);
    }
    writePos = 0;
    numStages = 0;
}

float Phlaser::readValue(int i) const noexcept
{
    return kSpecs[i].clampValue(params[i].value);
}

float Phlaser::readUnit(int i) const noexcept
{
    return clampedUnit(params[i], kSpecs[i]);
}

void Phlaser::process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                      bool bypass) noexcept
{
    if (numSamples <= 0 || numChannels <= 0) return;
    numChannels = std::min(numChannels, kMaxChannels);
    if (memSize == 0 || params == nullptr) // never set up: nothing to process with
    {
        passThrough(in, out, numSamples, numChannels);
        return;
    }
    if (bypass && wetLevel == 0.0f)
    {
        passThrough(in, out, numSamples, numChannels);
        return;
    }
    if (silent && outEnergy < 1.0e-10f)
    {
        passThrough(in, out, numSamples, numChannels);
        return;
    }

    silent = false;
    const int mask = memSize - 1;
    const float fb = 0.01f * readValue(kFeedback);
    const float base = sampleRate / (1000.0f * readValue(kFrequency)); // one period of Frequency
    const float target = bypass ? 0.0f : readUnit(kWetMix);
    const float modAmp = 0.5f * readUnit(kModAmp);
    const float modFreq = readValue(kModFreq);
    const float stereoTurns = readValue(kModStereo) / 360.0f;
    const float u = readUnit(kFlangePhase);
    // The record holds a float, possibly corrupt: the clamped value bounds the stage loop.
    const int stages = std::clamp(static_cast<int>(readValue(kPhaseStages) + 0.1f), 1, kMaxStages);
    constexpr float kTwoPi = 6.2831853f;

    for (int o = 0; o < numSamples;)
    {
        if (std::fabs(target - wetLevel) <= 0.01f)
            wetLevel = target;
        else
            wetLevel += target > wetLevel ? 0.01f : -0.01f;
        const float wet = wetLevel;
        const int len = std::min(numSamples - o, kSubBlock);

        lfoPhase += static_cast<float>(len) / sampleRate * modFreq;
        lfoPhase -= std::floor(lfoPhase);
        if (!(lfoPhase >= 0.0f && lfoPhase < 1.0f)) lfoPhase = 0.0f;

        if (stages > numStages)
            for (auto& st : apState)
                std::fill(st.begin() + numStages, st.begin() + stages, 0.0f);
        numStages = stages;

        // Each channel's settings for the sub-block, in channel order (the all-pass coefficient
        // glides from one channel's value to the next).
        ChannelRun run[kMaxChannels];
        for (int c = 0; c < numChannels; ++c)
        {
            const float lfo = std::cos(kTwoPi * (lfoPhase - static_cast<float>(c) * stereoTurns));
            const float d = (1.0f + modAmp * lfo) * base;

            const float fl = (1.0f - u) * d;
            const int fixed = static_cast<int>(64.0f * fl);
            ChannelRun& r = run[c];
            r.whole = fixed >> 6;
            const int row = fixed & (kInterpRows - 1);

            // Below two samples the taps that would read the sample being written are dropped and
            // the sound crossfades toward the one-sample delay.
            r.blend = 0.0f;
            r.firstTap = 0;
            if (r.whole <= 1)
            {
                r.blend = (2.0f - fl) * 0.5f;
                r.firstTap = r.blend > 0.99f ? 4 : 2 - r.whole;
            }

            const float k =
                std::clamp(2.0f / (d * u / static_cast<float>(numStages) + 1.0f) - 1.0f, -0.997f, 0.99f);
            if (!(std::fabs(k - apCoef) > 0.002f))
                apCoef = k;
            else
                apCoef += k > apCoef ? 0.002f : -0.002f;
            r.coef = apCoef;

            r.mem = delayMem[c].data();
            r.states = apState[c].data();
            r.weights = interpTable[row].data();
            r.src = in[c] + o;
            r.dst = out[c] + o;
        }

        // One sample of one channel: delay write, interpolated read, all-pass chain, feedback.
        const auto tap = [&](ChannelRun & r, int n) __attribute__((always_inline))
        {
            const float v = r.src[n];
            const int w = (writePos + n) & mask;
            r.mem[w] = wet * v;
            float s = 0.0f;
            for (int j = r.firstTap; j < 4; ++j)
                s += r.weights[j] * r.mem[(w + 1 - r.whole - j) & mask];
            return s * (1.0f - r.blend) + r.mem[(w - 1) & mask] * r.blend;
        };
        const auto finish = [&](ChannelRun & r, int n, float y) __attribute__((always_inline))
        {
            const int w = (writePos + n) & mask;
            r.mem[w] += fb * y;
            r.dst[n] = r.src[n] * (1.0f - wet) + y;
        };
        // The stage-skewed form where every tap reads further back than the chain is long; the
        // plain form otherwise, or where the skewed one meets a sample that is not finite.
        // Neither the writes nor the taps of the skewed form may pass the end of the memory.
        const bool longTaps = run[0].whole > numStages && run[numChannels - 1].whole > numStages &&
                              writePos + len <= memSize && writePos - 2 - run[0].whole >= 0 &&
                              writePos - 2 - run[numChannels - 1].whole >= 0;
        if (!(longTaps &&
              (numChannels == 2 ? runSkewed<2>(wideVectors, numStages, run, len, wet, fb, writePos)
                                : runSkewed<1>(wideVectors, numStages, run, len, wet, fb, writePos))))
        {
            if (numChannels == 2)
            {
                // The channels are independent: running them in one loop lets each one's all-pass
                // chain proceed while the other's waits on its previous stage.
                ChannelRun& r0 = run[0];
                ChannelRun& r1 = run[1];
                for (int n = 0; n < len; ++n)
                {
                    float y0 = tap(r0, n);
                    float y1 = tap(r1, n);
                    for (int st = 0; st < numStages; ++st)
                    {
                        const float h0 = r0.states[st];
                        const float h1 = r1.states[st];
                        y0 -= r0.coef * h0;
                        y1 -= r1.coef * h1;
                        r0.states[st] = y0;
                        r1.states[st] = y1;
                        y0 = r0.coef * y0 + h0;
                        y1 = r1.coef * y1 + h1;
                    }
                    finish(r0, n, y0);
                    finish(r1, n, y1);
                }
            }
            else
                for (int n = 0; n < len; ++n)
                {
                    ChannelRun& r = run[0];
                    float y = tap(r, n);
                    for (int st = 0; st < numStages; ++st)
                    {
                        const float h = r.states[st];
                        y -= r.coef * h;
                        r.states[st] = y;
                        y = r.coef * y + h;
                    }
                    finish(r, n, y);
                }
        }
        // The output's energy: the first channel's samples, then the second's.
        float energy = 0.0f;
        for (int c = 0; c < numChannels; ++c)
            for (int n = 0; n < len; ++n)
                energy += run[c].dst[n] * run[c].dst[n];
        outEnergy = 0.9f * outEnergy + 0.1f * energy / static_cast<float>(len * numChannels);
        writePos = (writePos + len) & mask;
        o += len;
    }

    // A run-away or non-finite state starts over from silence.
    if (!(outEnergy < 1.0e6f))
    {
        for (auto& st : apState)
            st.fill(0.0f);
        for (auto& mem : delayMem)
            std::fill(mem.begin(), mem.end(), 0.0f);
        outEnergy = 1.0f;
    }
}
