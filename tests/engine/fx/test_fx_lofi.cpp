#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "engine/fx/LofiFx.h"
#include "engine/params/Param.h"
#include "engine/Random.h"
#include "support/FxTestHelpers.h"

namespace
{

struct Rig : qmtest::FxRig<LofiFx>
{
    // Full wet, no noise, no envelope: the output is the plain held signal.
    explicit Rig(float rate = 44100.0f)
        : FxRig(rate, 2,
                [](Params& q)
                {
                    q[LofiFx::kWetMix].value = 100.0f;
                    q[LofiFx::kNoise].value = 0.0f;
                    q[LofiFx::kEnvelope].value = 0.0f;
                })
    {
    }

    // A strictly rising input, so that every take shows as a change of the output.
    void ramp(int n, int start, float scale)
    {
        l.resize(static_cast<std::size_t>(n));
        r.resize(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
        {
            l[static_cast<std::size_t>(i)] = static_cast<float>(start + i + 1) * scale;
            r[static_cast<std::size_t>(i)] = -l[static_cast<std::size_t>(i)];
        }
    }
};

// Feeds a rising ramp in calls of blockSize and counts the takes over total samples.
int countTakes(Rig& rig, int total, int blockSize, float scale, float offset = 0.0f)
{
    int takes = 0;
    float last = -1.0f;
    for (int start = 0; start < total; start += blockSize)
    {
        rig.ramp(blockSize, start, scale);
        for (float& x : rig.l)
            x += offset;
        for (float& x : rig.r)
            x -= offset;
        bool silent = false;
        rig.run(silent);
        for (float x : rig.l)
        {
            if (x != last) ++takes;
            last = x;
        }
    }
    return takes;
}

} // namespace

TEST(LofiFx, RecordsCarryNamesRangesAndDefaults)
{
    std::array<Param, 4> p;
    LofiFx unit;
    EXPECT_EQ(unit.getNumParams(), 4);
    unit.setParamPtr(p.data());
    const std::array<const char*, 4> names{"Wet Mix", "Sample Rate", "Noise", "Envelope"};
    const std::array<float, 4> defaults{50.0f, 4.0f, 10.0f, 20.0f};
    for (std::size_t i = 0; i < 4; ++i)
    {
        EXPECT_STREQ(p[i].name, names[i]);
        EXPECT_EQ(p[i].value, defaults[i]);
        EXPECT_EQ(p[i].defaultValue, defaults[i]);
        EXPECT_FALSE(p[i].isHostParam);
    }
    EXPECT_EQ(p[1].minValue, 0.5f);
    EXPECT_EQ(p[1].maxValue, 25.0f);
    EXPECT_STREQ(p[1].format, "%.2f kHz");
    EXPECT_EQ(p[3].minValue, -100.0f);
}

TEST(LofiFx, RandomFactorIsOddAboutTheMiddle)
{
    EXPECT_NEAR(LofiFx::randomFactor(0.0f), -2.7727273f, 1e-5f);
    EXPECT_NEAR(LofiFx::randomFactor(1.0f), 2.7727273f, 1e-5f);
    EXPECT_NEAR(LofiFx::randomFactor(0.5f), 0.0f, 1e-6f);
    for (float u = 0.0f; u <= 0.5f; u += 0.03125f)
        EXPECT_NEAR(LofiFx::randomFactor(1.0f - u), -LofiFx::randomFactor(u), 1e-6f) << u;
    EXPECT_LT(std::fabs(LofiFx::randomFactor(0.2f)), 0.857f);
    LofiFx unit;
    for (int i = 0; i < LofiFx::kTableSize; ++i)
        EXPECT_LE(std::fabs(unit.getRandomEntry(i)), 2.7728f);
}

TEST(LofiFx, HoldRateFollowsTheSampleRateSetting)
{
    for (float rate : {44100.0f, 48000.0f, 96000.0f})
    {
        Rig rig(rate);
        // 4 kHz: 8000 takes per second.
        const int takes = countTakes(rig, static_cast<int>(rate), static_cast<int>(rate) / 100, 1.0e-6f);
        EXPECT_NEAR(takes, 8000, 1) << rate;
    }
    Rig slow;
    slow.p[LofiFx::kSampleRate].value = 0.5f;
    EXPECT_NEAR(countTakes(slow, 44100, 441, 1.0e-6f), 1000, 1);
}

TEST(LofiFx, HeldSamplesAreInputSamplesAndTheFullRateTakesEverySample)
{
    Rig rig;
    rig.ramp(1000, 0, 1.0e-3f);
    const std::vector<float> input = rig.l;
    bool silent = false;
    rig.run(silent);
    // Each output is an earlier or the same input sample, taken whole (no noise).
    for (std::size_t i = 0; i < input.size(); ++i)
    {
        const float k = rig.l[i] / 1.0e-3f;
        EXPECT_NEAR(k, std::round(k), 1e-3f);
        EXPECT_LE(rig.l[i], input[i]);
        EXPECT_GE(rig.l[i], input[i] - 6.0e-3f); // at most 5.5 samples old
    }

    Rig full;
    full.p[LofiFx::kSampleRate].value = 25.0f;
    full.ramp(1000, 0, 1.0e-3f);
    const std::vector<float> in2 = full.l, in2r = full.r;
    full.run(silent);
    EXPECT_EQ(full.l, in2);
    EXPECT_EQ(full.r, in2r);
}

TEST(LofiFx, EnvelopeSlowsTheRateForLoudInput)
{
    Rig rig;
    rig.p[LofiFx::kEnvelope].value = -100.0f;
    // Calls of 32 samples near 1/3 measure an RMS of 1, so the rate drops by e^-5.
    const int takes = countTakes(rig, 44100, 32, 1.0e-9f, 1.0f / 3.0f);
    const double expected = 44100.0 * 8000.0 / 44100.0 * std::exp(-5.0);
    EXPECT_NEAR(takes, expected, expected * 0.05 + 1.0);
    EXPECT_NEAR(rig.unit.getEnvLevel(), 1.0f, 1e-3f);
}

TEST(LofiFx, DryMixSilenceAndBypassLeaveTheInputExact)
{
    engineSrand(5);
    std::vector<float> src(777);
    for (float& x : src)
        x = engineRandUnit() - 0.5f;

    Rig dryRig;
    dryRig.p[LofiFx::kWetMix].value = 0.0f;
    dryRig.p[LofiFx::kNoise].value = 100.0f;
    dryRig.l = src;
    dryRig.r = src;
    bool silent = false;
    dryRig.run(silent);
    EXPECT_EQ(dryRig.l, src);
    EXPECT_EQ(dryRig.r, src);

    for (int mode = 0; mode < 2; ++mode)
    {
        Rig rig;
        std::vector<float> outL(src.size()), outR(src.size());
        std::array<float*, 2> in{src.data(), src.data()};
        std::array<float*, 2> out{outL.data(), outR.data()};
        bool flag = mode == 0;
        rig.unit.process(in.data(), out.data(), static_cast<int>(src.size()), 2, flag, mode == 1);
        EXPECT_EQ(outL, src);
        EXPECT_EQ(outR, src);
        EXPECT_EQ(flag, mode == 0);
    }
}

TEST(LofiFx, FiniteAtExtremesAndAfterNonFiniteInput)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float wet : {0.0f, 100.0f})
        for (float rate : {0.5f, 25.0f, nan})
            for (float noise : {0.0f, 100.0f})
                for (float env : {-100.0f, 100.0f})
                {
                    Rig rig;
                    rig.p[LofiFx::kWetMix].value = wet;
                    rig.p[LofiFx::kSampleRate].value = rate;
                    rig.p[LofiFx::kNoise].value = noise;
                    rig.p[LofiFx::kEnvelope].value = env;
                    rig.ramp(300, 0, 1.0f);
                    rig.l[10] = nan;
                    rig.r[20] = inf;
                    bool silent = false;
                    rig.run(silent);
                    // Loud material must not stall the hold for ever: feed moderate blocks.
                    for (int block = 0; block < 300; ++block)
                    {
                        rig.ramp(64, 0, 1.0e-3f);
                        rig.run(silent);
                    }
                    for (std::size_t i = 0; i < rig.l.size(); ++i)
                        ASSERT_TRUE(std::isfinite(rig.l[i]) && std::isfinite(rig.r[i]))
                            << wet << " " << rate << " " << noise << " " << env;
                }
}
