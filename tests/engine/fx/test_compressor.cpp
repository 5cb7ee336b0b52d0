// The compressor's time behaviour: its followers against the first-order maths they implement,
// the Stereo Link mix, what the followers keep through an idle stretch, and samples that do not
// depend on how a block is cut into calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/fx/Compressor.h"
#include "support/FxTestHelpers.h"

namespace
{

using qmtest::Block;
using qmtest::FxRig;
using qmtest::zeros;

constexpr int kSub = Compressor::kSubBlock;

Block constant(int channels, int n, float a)
{
    return Block(static_cast<std::size_t>(channels), std::vector<float>(static_cast<std::size_t>(n), a));
}

// Runs calls of one sub-block each, so that every call is one follower step.
void steps(FxRig<Compressor>& rig, int count, float a, int channels = 1)
{
    for (int i = 0; i < count; ++i)
    {
        Block x = constant(channels, kSub, a);
        rig.run(x);
    }
}

// The Optical time scale: positive settings lengthen the time constants, negative ones shorten them.
double timeScale(double optical)
{
    const double o1 = 1.0 - optical * 0.005, o = 1.0 - o1;
    return (o / 3.0 + o1) / (o / 729.0 + o1);
}

double db(double g)
{
    return 20.0 * std::log10(g);
}

} // namespace

TEST(Compressor, SlowFollowerRisesAndFallsWithTheAttackAndReleaseTimes)
{
    // After k sub-blocks of n samples the slow follower has covered 1 - exp(-2 k n 1000 / (rate t S))
    // of its way to the level, t in milliseconds. Relative tolerance 1e-4 (single-precision steps).
    struct Row
    {
        bool attack;
        float rate, time, optical;
    };
    const Row rows[] = {{true, 44100.0f, 10.0f, 0.0f},
                        {true, 96000.0f, 50.0f, -100.0f},
                        {false, 44100.0f, 50.0f, 0.0f},
                        {false, 48000.0f, 300.0f, 100.0f}};
    constexpr int k = 40;
    const float a = 0.2f; // mean square 0.04
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.attack ? "attack" : "release");
        FxRig<Compressor> rig(row.rate, 1);
        rig.set(Compressor::kOptical, row.optical);
        rig.set(Compressor::kAttackTime, row.attack ? row.time : 0.0f);
        rig.set(Compressor::kReleaseTime, row.time);
        if (!row.attack)
        {
            steps(rig, 1, a); // an instant attack: the follower stands at the level
            ASSERT_FLOAT_EQ(rig.unit.getEnvSlow(0), a * a);
        }
        steps(rig, k, row.attack ? a : 0.0f);
        const double left =
            std::exp(-2.0 * k * kSub * 1000.0 / (double(row.rate) * row.time * timeScale(row.optical)));
        const double want = double(a) * a * (row.attack ? 1.0 - left : left);
        EXPECT_NEAR(rig.unit.getEnvSlow(0), want, want * 1e-4) << row.rate << " " << row.time;
    }
}

TEST(Compressor, StereoLinkMixesEachChannelWithTheMeanOfBoth)
{
    // Instant followers stand at L = m (1 - link) + (m0 + m1) / 2 link, where a channel's m is its
    // sum of squares over the sub-block's n x 2 samples. Relative tolerance 1e-5.
    const float left = 0.4f, right = 0.1f;
    const double m0 = left * left / 2.0, m1 = right * right / 2.0;
    for (float link : {0.0f, 50.0f, 100.0f})
    {
        FxRig<Compressor> rig;
        rig.set(Compressor::kAttackTime, 0.0f);
        rig.set(Compressor::kReleaseTime, 0.0f);
        rig.set(Compressor::kStereoLink, link);
        for (int i = 0; i < 8; ++i)
        {
            Block x{std::vector<float>(kSub, left), std::vector<float>(kSub, right)};
            rig.run(x);
        }
        const double u = link / 100.0, shared = (m0 + m1) / 2.0 * u;
        const double want[2] = {m0 * (1.0 - u) + shared, m1 * (1.0 - u) + shared};
        for (int c = 0; c < 2; ++c)
            EXPECT_NEAR(rig.unit.getEnvSlow(c), want[c], want[c] * 1e-5) << link << " " << c;
        if (link == 100.0f)
        {
            EXPECT_EQ(rig.unit.getGain(0), rig.unit.getGain(1));
        }
    }
}

TEST(Compressor, AfterAnIdleStretchTheGainResumesNearWhereItWas)
{
    // While idle the followers sink by exp(-2 seconds / Release Time value): after 4 s at the default
    // 50 they still hold 85% of the loud level, so the loud input's return meets a gain within
    // 0.5 dB of the one it left. Followers that had forgotten the level would let the first
    // sub-block through more than 3 dB louder.
    const float rate = 44100.0f, a = 0.3f; // 0 dB on the unit's scale: well above the knee
    FxRig<Compressor> rig(rate, 1);
    steps(rig, 2756, a); // one second
    const float compressed = rig.unit.getGain(0);
    const float before = rig.unit.getEnvSlow(0);
    ASSERT_LT(db(compressed), -4.0);

    const int calls = static_cast<int>(4.0f * rate) / 512;
    for (int i = 0; i < calls; ++i)
    {
        Block quiet = zeros(1, 512);
        EXPECT_TRUE(rig.run(quiet, true));
    }
    EXPECT_EQ(rig.unit.getGain(0), compressed);
    const double kept = std::exp(-2.0 * calls * 512 / (double(rate) * 50.0));
    EXPECT_NEAR(rig.unit.getEnvSlow(0), before * kept, before * kept * 1e-4);

    steps(rig, 1, a);
    EXPECT_NEAR(db(rig.unit.getGain(0)), db(compressed), 0.5);

    // A release time of 0 empties the followers at once.
    rig.set(Compressor::kReleaseTime, 0.0f);
    Block quiet = zeros(1, 512);
    rig.run(quiet, true);
    EXPECT_EQ(rig.unit.getEnvSlow(0), 0.0f);
}

TEST(Compressor, OneLongCallMatchesTheSameSamplesCutIntoSubBlockCalls)
{
    // Every sub-block's follower step, target gain and ramp are the same whether a call holds one
    // sub-block or many, so one call over a long block must give the samples (and the gains) of
    // calls one sub-block long, bit for bit: across stretches of sub-blocks, a short last
    // sub-block, loud and quiet passages, one channel and two.
    struct Row
    {
        int channels, length;
        float ratio, optical;
    };
    const Row rows[] = {{2, 512, 2.8f, 0.0f},   {2, 1111, 4.0f, 60.0f}, {1, 1031, 2.8f, -80.0f},
                        {2, 2500, 0.3f, 0.0f},  {1, 3000, 8.0f, 100.0f}, {2, 7, 2.8f, 0.0f},
                        {2, 4096, 2.0f, -30.0f}};
    for (const Row& row : rows)
    {
        SCOPED_TRACE(::testing::Message() << row.channels << " x " << row.length);
        engineSrand(7u);
        Block x = qmtest::noise(row.channels, row.length);
        // Swells from silence to loud and back, so both the quiet shortcut and the curve are met.
        for (auto& c : x)
            for (std::size_t i = 0; i < c.size(); ++i)
                c[i] *= std::sin(3.0f * static_cast<float>(i) / static_cast<float>(c.size()));

        FxRig<Compressor> whole(48000.0f, row.channels), cut(48000.0f, row.channels);
        for (auto* rig : {&whole, &cut})
        {
            rig->set(Compressor::kRatio, row.ratio);
            rig->set(Compressor::kOptical, row.optical);
            rig->set(Compressor::kThreshold, -30.0f);
        }
        Block a = x;
        whole.run(a);
        Block b = x;
        for (int p = 0; p < row.length; p += kSub)
        {
            const int n = std::min(kSub, row.length - p);
            Block part;
            for (const auto& c : b)
                part.emplace_back(c.begin() + p, c.begin() + p + n);
            cut.run(part);
            for (std::size_t c = 0; c < b.size(); ++c)
                std::copy(part[c].begin(), part[c].end(), b[c].begin() + p);
        }
        EXPECT_EQ(a, b);
        for (int c = 0; c < row.channels; ++c)
            EXPECT_EQ(whole.unit.getGain(c), cut.unit.getGain(c));
    }
}
