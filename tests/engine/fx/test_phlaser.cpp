// The phaser-flanger against a sample-by-sample model of its delay line and all-pass chain, bit for
// bit: the unit runs some sub-blocks with the stages staggered over the samples and the taps of
// several samples summed together, which must not change a single sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/fx/Phlaser.h"
#include "support/FxTestHelpers.h"

namespace
{

using qmtest::Block;
using qmtest::FxRig;

// One channel of the unit at a constant delay: its weights, all-pass chain and feedback, one
// sample at a time in the order the unit's plain form takes them.
struct ChannelModel
{
    std::vector<float> mem;
    float states[Phlaser::kMaxStages] = {};
    float weights[4] = {};
    int whole = 0, firstTap = 0, stages = 0;
    float blend = 0.0f, coef = 0.0f, wet = 0.0f, fb = 0.0f;

    ChannelModel(int memSize, float fl, int numStages, float k, float wetLevel, float feedback)
        : mem(static_cast<std::size_t>(memSize)), stages(numStages), coef(k), wet(wetLevel), fb(feedback)
    {
        const int fixed = static_cast<int>(64.0f * fl);
        whole = fixed >> 6;
        const float t = static_cast<float>(fixed & 63) / 64.0f;
        const float t2 = t * t, t3 = t2 * t;
        weights[0] = 0.5f * (-t3 + 2.0f * t2 - t);
        weights[1] = 0.5f * (3.0f * t3 - 5.0f * t2 + 2.0f);
        weights[2] = 0.5f * (-3.0f * t3 + 4.0f * t2 + t);
        weights[3] = 0.5f * (t3 - t2);
        if (whole <= 1)
        {
            blend = (2.0f - fl) * 0.5f;
            firstTap = blend > 0.99f ? 4 : 2 - whole;
        }
    }

    float step(float x, int w)
    {
        const int mask = static_cast<int>(mem.size()) - 1;
        mem[static_cast<std::size_t>(w)] = wet * x;
        float s = 0.0f;
        for (int j = firstTap; j < 4; ++j)
            s += weights[j] * mem[static_cast<std::size_t>((w + 1 - whole - j) & mask)];
        float y = s * (1.0f - blend) + mem[static_cast<std::size_t>((w - 1) & mask)] * blend;
        for (int st = 0; st < stages; ++st)
        {
            const float h = states[st];
            y -= coef * h;
            states[st] = y;
            y = coef * y + h;
        }
        mem[static_cast<std::size_t>(w)] += fb * y;
        return x * (1.0f - wet) + y;
    }
};

std::vector<uint32_t> bitsOf(const Block& b)
{
    std::vector<uint32_t> bits;
    for (const auto& ch : b)
        for (float s : ch)
            bits.push_back(std::bit_cast<uint32_t>(s));
    return bits;
}

} // namespace

TEST(Phlaser, EverySubBlockFormGivesTheSamplesOfTheSampleBySampleChain)
{
    // No modulation, so the delay and the coefficient hold still once the glides have settled.
    // Delays from well beyond the chain's length (stages staggered, taps summed four samples at a
    // time) through just beyond it (staggered, taps one by one) to within it and below two
    // samples (the plain form).
    struct Row
    {
        float rate, flangePhase, freqKHz;
        int stages;
        float feedback;
        int channels, block;
        bool infinite; // an infinite sample late in the last call
    };
    const Row rows[] = {
        {44100.0f, -100.0f, 2.0f, 4, -90.0f, 2, 512, false},
        {44100.0f, -100.0f, 2.0f, 16, 60.0f, 2, 333, false},
        {48000.0f, 0.0f, 2.0f, 4, -90.0f, 2, 256, false},
        {48000.0f, 0.0f, 2.0f, 8, 30.0f, 1, 100, false},
        {48000.0f, 0.0f, 2.0f, 9, -50.0f, 2, 512, false},
        {48000.0f, 0.0f, 2.0f, 12, 90.0f, 2, 64, false},
        {44100.0f, 0.0f, 8.82f, 1, -90.0f, 2, 512, false},
        {44100.0f, 0.0f, 8.82f, 2, 40.0f, 1, 37, false},
        {44100.0f, 50.0f, 8.82f, 3, -20.0f, 2, 512, false},
        {96000.0f, -100.0f, 1.0f, 7, -99.0f, 2, 1024, false},
        {48000.0f, 0.0f, 2.0f, 4, -90.0f, 2, 512, true},
        {48000.0f, 0.0f, 2.0f, 9, -50.0f, 1, 256, true},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(::testing::Message()
                     << row.rate << " " << row.flangePhase << " " << row.freqKHz << " " << row.stages);
        FxRig<Phlaser> rig(row.rate, row.channels);
        rig.set(Phlaser::kWetMix, 100.0f);
        rig.set(Phlaser::kFlangePhase, row.flangePhase);
        rig.set(Phlaser::kFrequency, row.freqKHz);
        rig.set(Phlaser::kModAmp, 0.0f);
        rig.set(Phlaser::kFeedback, row.feedback);
        rig.set(Phlaser::kPhaseStages, static_cast<float>(row.stages));
        constexpr int kSettle = 16384; // silence while the wet level and the coefficient glide there
        Block settle = qmtest::zeros(row.channels, kSettle);
        rig.run(settle);

        const int memSize = rig.unit.getDelayMemorySize();
        const float u = (row.flangePhase + 100.0f) / 200.0f;
        const float fl = (1.0f - u) * (row.rate / (1000.0f * row.freqKHz));
        std::vector<ChannelModel> model(static_cast<std::size_t>(row.channels),
                                        ChannelModel(memSize, fl, row.stages, rig.unit.getAllPassCoef(),
                                                     rig.unit.getWetLevel(), 0.01f * row.feedback));

        engineSrand(11u);
        constexpr int kCalls = 12;
        Block x = qmtest::noise(row.channels, kCalls * row.block);
        if (row.infinite) x[0][static_cast<std::size_t>(kCalls * row.block - row.block / 3)] = INFINITY;
        Block want = x;
        for (int c = 0; c < row.channels; ++c)
            for (std::size_t i = 0; i < want[0].size(); ++i)
                want[static_cast<std::size_t>(c)][i] = model[static_cast<std::size_t>(c)].step(
                    x[static_cast<std::size_t>(c)][i], static_cast<int>((kSettle + i) % memSize));
        for (int call = 0; call < kCalls; ++call)
        {
            Block part;
            for (const auto& ch : x)
                part.emplace_back(ch.begin() + call * row.block, ch.begin() + (call + 1) * row.block);
            rig.run(part);
            for (int c = 0; c < row.channels; ++c)
                std::copy(part[static_cast<std::size_t>(c)].begin(), part[static_cast<std::size_t>(c)].end(),
                          x[static_cast<std::size_t>(c)].begin() + call * row.block);
        }
        // Bit patterns, so that the not-a-number samples after an infinite one compare too.
        EXPECT_EQ(bitsOf(x), bitsOf(want));
    }
}
