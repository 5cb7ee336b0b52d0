#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "engine/params/Param.h"
#include "engine/Random.h"
#include "support/FxTestHelpers.h"
#include "engine/fx/ReverbFDN.h"

namespace
{
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

using qmtest::Block;
using ReverbRig = qmtest::FxRig<ReverbFDN>;
using qmtest::allFinite;
using qmtest::anyNonZero;
using qmtest::noise;
using qmtest::zeros;
} // namespace

TEST(ReverbParams, RecordsMatchTheTable)
{
    std::array<Param, ReverbFDN::kNumParams> p{};
    for (int i = 0; i < ReverbFDN::kNumParams; ++i)
        p[static_cast<size_t>(i)].index = 48 + i;
    ReverbFDN fx;
    EXPECT_EQ(fx.getNumParams(), 9);
    fx.setParamPtr(p.data());

    const char* names[] = {"Reverb_Wet Mix",     "Reverb_Pre-Delay",    "Reverb_Decay Time",
                           "Reverb_Damping",     "Reverb_Modulation",   "Reverb_Stereo Width",
                           "Reverb_Filter Freq", "Reverb_Filter Width", "Reverb_Feedback"};
    const int curves[] = {0, 1, 1, 0, 0, 0, 2, 0, 0};
    const float defaults[] = {14.0f, 10.0f, 0.37f, 30.0f, 30.0f, 20.0f, 3.0f, 60.0f, 0.0f};
    const float exponents[] = {0.0f, 2.0f, 3.0f, 0.0f, 0.0f, 0.0f, 2.0f, 0.0f, 0.0f};
    const char* formats[] = {"%.0f%%", "%.0f ms", "%.2f s", "%.0f%%", "%.0f%%",
                             "%.0f%%", "%.1f Hz", "%.0f%%", "%.0f%%"};
    for (int i = 0; i < 9; ++i)
    {
        const Param& r = p[static_cast<size_t>(i)];
        SCOPED_TRACE(names[i]);
        EXPECT_STREQ(r.name, names[i]);
        EXPECT_EQ(r.curveType, curves[i]);
        EXPECT_EQ(r.exponent, exponents[i]);
        EXPECT_EQ(r.value, defaults[i]);
        EXPECT_EQ(r.defaultValue, defaults[i]);
        EXPECT_STREQ(r.format, formats[i]);
        EXPECT_STREQ(r.group, "");
        EXPECT_FALSE(r.isHostParam);
        EXPECT_EQ(r.numSnaps, 0);
        EXPECT_EQ(r.sinceVersion, i == 8 ? 10001000 : 0);
        EXPECT_EQ(r.index, 48 + i);
    }
    EXPECT_EQ(p[1].convertUnitToVal(1.0f), 500.0f);
    EXPECT_NEAR(p[2].convertUnitToVal(0.0f), 0.1f, 1e-7f);
    EXPECT_NEAR(p[2].convertUnitToVal(1.0f), 8.0f, 1e-6f);
    EXPECT_NEAR(p[6].convertUnitToVal(0.0f), 0.3f, 1e-6f);
    EXPECT_NEAR(p[6].convertUnitToVal(1.0f), 10.0f, 1e-5f);
}

TEST(ReverbTables, TapDelaysSumAndMixingMatrixIsOrthogonal)
{
    const auto& taps = ReverbFDN::kTapDelays;
    EXPECT_EQ(std::accumulate(taps.begin(), taps.end(), 0), 15384);

    // Orthogonal: M M^T = I to float precision.
    const auto& m = ReverbFDN::kMixMat;
    for (int r = 0; r < 8; ++r)
        for (int s = 0; s < 8; ++s)
        {
            double dot = 0.0;
            for (int c = 0; c < 8; ++c)
                dot += static_cast<double>(m[r][c]) * m[s][c];
            EXPECT_NEAR(dot, r == s ? 1.0 : 0.0, 2e-6) << r << "," << s;
        }
}

TEST(ReverbSetup, PreDelayMemoryFollowsTheRate)
{
    ReverbRig rig(44100.0f);
    EXPECT_EQ(rig.unit.getPreDelayLength(), 22068);
    EXPECT_TRUE(rig.unit.isCleared());
    EXPECT_EQ(rig.unit.getWetLevel(), 0.0f);
    rig.unit.setup(192000.0f, 2);
    EXPECT_EQ(rig.unit.getPreDelayLength(), 96020);
    rig.unit.setup(48000.0f, 2);
    EXPECT_EQ(rig.unit.getPreDelayLength(), 24020);

    // The longest pre-delay fits at every rate.
    rig.set(ReverbFDN::kPreDelay, 500.0f);
    EXPECT_EQ(rig.unit.getPreDelaySamples(), 24000);
    rig.set(ReverbFDN::kPreDelay, kNaN); // corrupt: the default, 10 ms
    EXPECT_EQ(rig.unit.getPreDelaySamples(), 480);
    rig.set(ReverbFDN::kPreDelay, 1.0e9f);
    EXPECT_EQ(rig.unit.getPreDelaySamples(), 24000);
    rig.set(ReverbFDN::kPreDelay, -5.0f);
    EXPECT_EQ(rig.unit.getPreDelaySamples(), 0);
}

TEST(ReverbResponse, PreDelayShiftsTheWetSignalExactly)
{
    // 16 ms at 48 kHz is 768 samples, a whole number of 32-sample sub-blocks, so the
    // modulation sees the same sub-blocks in both runs: an impulse at 0 through the pre-delay
    // and an impulse at 768 without it must give the same wet signal, sample for sample.
    constexpr int d = 768;
    constexpr int n = d + 8192;
    ReverbRig delayed(48000.0f);
    delayed.set(ReverbFDN::kPreDelay, 16.0f);
    ASSERT_EQ(delayed.unit.getPreDelaySamples(), d);
    ReverbRig direct(48000.0f);
    direct.set(ReverbFDN::kPreDelay, 0.0f);

    Block a = zeros(2, n), b = zeros(2, n);
    a[0][0] = 1.0f;
    a[1][0] = -0.5f;
    b[0][d] = 1.0f;
    b[1][d] = -0.5f;
    delayed.run(a);
    direct.run(b);
    for (int c = 0; c < 2; ++c)
        for (int i = 1; i < n; ++i)
        {
            if (i != d)
            {
                ASSERT_EQ(a[c][i], b[c][i]) << c << ":" << i;
            }
        }

    // Nothing but the dry impulse before the pre-delay plus the shortest line.
    const int shortest = 1475 - 20;
    for (int c = 0; c < 2; ++c)
        for (int i = 1; i < d + shortest; ++i)
            ASSERT_EQ(a[c][i], 0.0f) << c << ":" << i;
    bool wet = false;
    for (int i = d + shortest; i < d + 2600; ++i)
        wet = wet || a[0][i] != 0.0f;
    EXPECT_TRUE(wet);
}

TEST(ReverbResponse, DecayTimeIsTheTimeToFall34Point7Decibels)
{
    // Without damping every pass through a line of the mean length loses g = exp(-4 * mean / T),
    // i.e. 4 nepers (34.7 dB) per Decay Time. Measured on the energy envelope of the tail.
    engineSrand(21);
    const float rate = 44100.0f;
    for (float decay : {0.5f, 1.0f, 2.0f})
    {
        SCOPED_TRACE(decay);
        ReverbRig rig(rate);
        rig.set(ReverbFDN::kWetMix, 100.0f);
        rig.set(ReverbFDN::kDecayTime, decay);
        rig.set(ReverbFDN::kDamping, 0.0f);
        rig.set(ReverbFDN::kModulation, 0.0f);
        rig.set(ReverbFDN::kPreDelay, 0.0f);
        Block burst = noise(2, 4410);
        rig.run(burst);

        // Skip the build-up, then fit a line to 10 log10(window energy) over 1.5 Decay Times.
        const int window = 2048;
        const int skip = static_cast<int>(0.15f * rate);
        const int windows = static_cast<int>(1.5f * decay * rate) / window;
        Block tail = zeros(2, skip + windows * window);
        rig.run(tail);
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (int w = 0; w < windows; ++w)
        {
            double e = 0.0;
            for (int i = 0; i < window; ++i)
            {
                const size_t k = static_cast<size_t>(skip + w * window + i);
                e += static_cast<double>(tail[0][k]) * tail[0][k] +
                     static_cast<double>(tail[1][k]) * tail[1][k];
            }
            const double t = (w + 0.5) * window / rate;
            const double db = 10.0 * std::log10(e);
            sx += t;
            sy += db;
            sxx += t * t;
            sxy += t * db;
        }
        const double slope = (windows * sxy - sx * sy) / (windows * sxx - sx * sx); // dB per second
        const double expected = -20.0 * 4.0 / std::log(10.0) / decay;               // -34.74 dB per T
        EXPECT_NEAR(slope / expected, 1.0, 0.06) << "slope " << slope << " dB/s";
    }
}

TEST(ReverbResponse, FeedbackNeedsAPreDelayOfOneSubBlock)
{
    engineSrand(22);
    const Block input = noise(2, 8192);
    auto render = [&](float preDelayMs, float feedback)
    {
        ReverbRig rig;
        rig.set(ReverbFDN::kPreDelay, preDelayMs);
        rig.set(ReverbFDN::kFeedback, feedback);
        Block x = input;
        rig.run(x);
        return x;
    };
    // 0.5 ms at 44.1 kHz is 22 samples: the output must not return within its own sub-block.
    EXPECT_EQ(render(0.5f, 100.0f), render(0.5f, 0.0f));
    EXPECT_NE(render(5.0f, 100.0f), render(5.0f, 0.0f));
    EXPECT_TRUE(allFinite(render(5.0f, 100.0f)));
}

TEST(ReverbBypass, FadesOutClearsAndThenPassesThroughBitExact)
{
    engineSrand(23);
    ReverbRig rig;
    Block loud = noise(2, 8192);
    rig.run(loud);
    EXPECT_FALSE(rig.unit.isCleared());
    EXPECT_NEAR(rig.unit.getWetLevel(), 0.14f, 1e-6f);

    // The wet level falls by 0.032 per 32-sample sub-block: five sub-blocks from 0.14.
    Block fade = noise(2, 128);
    rig.run(fade, false, true);
    EXPECT_GT(rig.unit.getWetLevel(), 0.0f);
    EXPECT_FALSE(rig.unit.isCleared());
    Block last = noise(2, 32);
    rig.run(last, false, true);
    EXPECT_EQ(rig.unit.getWetLevel(), 0.0f);
    EXPECT_TRUE(rig.unit.isCleared());

    Block in = noise(2, 1000);
    Block out = zeros(2, 1000);
    float* ip[2] = {in[0].data(), in[1].data()};
    float* op[2] = {out[0].data(), out[1].data()};
    bool silent = false;
    rig.unit.process(ip, op, 1000, 2, silent, true);
    EXPECT_EQ(out, in);
    EXPECT_FALSE(silent);

    // Switched on again: the lines and the pre-delay were cleared, so a silent block holds only
    // what the diffuser's last 128 samples still give, a small part of the tail of a unit that
    // was never switched off.
    auto tailEnergy = [](ReverbRig& r)
    {
        Block quiet = zeros(2, 44100);
        r.run(quiet, true);
        double e = 0.0;
        for (const auto& c : quiet)
            for (float s : c)
                e += static_cast<double>(s) * s;
        return e;
    };
    engineSrand(23);
    ReverbRig reference;
    Block refLoud = noise(2, 8192);
    reference.run(refLoud);
    EXPECT_LT(tailEnergy(rig), 0.1 * tailEnergy(reference));
}

TEST(ReverbBypass, WetMixZeroFreezesTheTail)
{
    engineSrand(24);
    ReverbRig rig;
    Block loud = noise(2, 4096);
    rig.run(loud);

    rig.set(ReverbFDN::kWetMix, 0.0f);
    Block fade = zeros(2, 512);
    rig.run(fade);
    EXPECT_EQ(rig.unit.getWetLevel(), 0.0f);
    Block in = noise(2, 2000);
    Block copy = in;
    rig.run(in);
    EXPECT_EQ(in, copy);
    EXPECT_FALSE(rig.unit.isCleared());

    // Raised again, the frozen tail sounds into a silent block.
    rig.set(ReverbFDN::kWetMix, 50.0f);
    Block resumed = zeros(2, 4096);
    EXPECT_FALSE(rig.run(resumed, true));
    EXPECT_TRUE(anyNonZero(resumed));
}

TEST(ReverbSilence, TailSoundsThenExactZerosWithTheFlagSet)
{
    engineSrand(25);
    ReverbRig rig;
    {
        Block z = zeros(2, 512);
        EXPECT_TRUE(rig.run(z, true)); // a fresh unit leaves silence alone
        EXPECT_FALSE(anyNonZero(z));
    }
    Block loud = noise(2, 4096);
    rig.run(loud);

    int blocks = 0;
    bool sawTail = false;
    for (; blocks < 1000; ++blocks)
    {
        Block z = zeros(2, 512);
        if (rig.run(z, true))
        {
            EXPECT_FALSE(anyNonZero(z));
            break;
        }
        sawTail = sawTail || anyNonZero(z);
    }
    EXPECT_TRUE(sawTail);
    EXPECT_GT(blocks, 10);
    EXPECT_LT(blocks, 1000);
    for (int b = 0; b < 4; ++b)
    {
        Block z = zeros(2, 512);
        EXPECT_TRUE(rig.run(z, true));
        EXPECT_FALSE(anyNonZero(z));
    }
}

TEST(ReverbSilence, IdleCountSaturatesOverLongBypass)
{
    ReverbRig rig;
    // In place, a bypassed cleared unit touches no samples, so long blocks are cheap.
    std::vector<float> buf(1 << 20);
    float* p[2] = {buf.data(), buf.data()};
    for (int i = 0; i < 600; ++i) // about 6.3e8 samples, beyond 2^28 + 2^29
    {
        bool silent = true;
        rig.unit.process(p, p, static_cast<int>(buf.size()), 2, silent, true);
    }
    EXPECT_EQ(rig.unit.getIdleSamples(), ReverbFDN::kIdleSaturation);

    // Switched on, the first sub-block still jumps to the target.
    Block x = noise(2, 32);
    rig.run(x);
    EXPECT_NEAR(rig.unit.getWetLevel(), 0.14f, 1e-6f);
    EXPECT_EQ(rig.unit.getIdleSamples(), 0);
}

TEST(ReverbRobustness, FiniteOverParameterExtremes)
{
    engineSrand(26);
    const float lo[] = {0.0f, 0.0f, 0.1f, 0.0f, 0.0f, 0.0f, 0.3f, 0.0f, 0.0f};
    const float hi[] = {100.0f, 500.0f, 8.0f, 100.0f, 100.0f, 100.0f, 10.0f, 100.0f, 100.0f};
    for (int combo = 0; combo < 27; ++combo)
    {
        ReverbRig rig(combo % 3 == 0 ? 16000.0f : 44100.0f);
        rig.setCorner(combo, 2, lo, hi);
        ASSERT_TRUE(rig.staysFiniteOverNoiseAndSilence(6, 2048, 2.0f)) << combo;
    }
}

TEST(ReverbRobustness, CorruptParametersStayInsideMemory)
{
    engineSrand(27);
    for (float bad : {kNaN, kInf, -kInf, 1.0e30f, -1.0e30f})
    {
        ReverbRig rig;
        rig.setAll(bad);
        Block x = noise(2, 4096);
        rig.run(x);
        EXPECT_TRUE(allFinite(x)) << bad;
    }
}

TEST(ReverbRobustness, RecoversAfterNonFiniteOrOverloadedInput)
{
    engineSrand(28);
    for (float bad : {kNaN, kInf, 1.0e5f})
    {
        SCOPED_TRACE(bad);
        ReverbRig rig;
        rig.set(ReverbFDN::kFeedback, 100.0f);
        rig.set(ReverbFDN::kPreDelay, 2.0f);
        Block warm = noise(2, 1024);
        rig.run(warm);
        Block x = noise(2, 512);
        x[0][7] = bad;
        x[1][99] = -bad;
        rig.run(x);
        // The whole offending block is replaced by silence.
        for (int b = 0; b < 3; ++b)
        {
            Block next = noise(2, 512);
            rig.run(next);
            EXPECT_TRUE(allFinite(next)) << "block " << b;
        }
    }
}

TEST(ReverbChannels, MonoRunsOnOneChannel)
{
    engineSrand(29);
    ReverbRig rig(44100.0f, 1);
    rig.set(ReverbFDN::kFeedback, 50.0f);
    rig.set(ReverbFDN::kPreDelay, 20.0f);
    Block mono = noise(1, 8192);
    rig.run(mono);
    EXPECT_TRUE(allFinite(mono));
    // Set up for one channel, asked for two: the second region still exists.
    Block stereo = noise(2, 8192);
    rig.run(stereo);
    EXPECT_TRUE(allFinite(stereo));
}

TEST(ReverbLifecycle, ProcessBeforeSetupPassesThrough)
{
    std::array<Param, ReverbFDN::kNumParams> p{};
    ReverbFDN fx;
    fx.setParamPtr(p.data());
    std::vector<float> a(64, 0.25f), b(64, 0.0f);
    float* ip[1] = {a.data()};
    float* op[1] = {b.data()};
    bool silent = false;
    fx.process(ip, op, 64, 1, silent, false);
    EXPECT_EQ(a, b);
}
