#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "engine/params/Param.h"
#include "engine/fx/Phlaser.h"
#include "engine/Random.h"
#include "support/FxTestHelpers.h"

namespace
{
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

using PhlaserRig = qmtest::FxRig<Phlaser>;
using qmtest::allFinite;
using qmtest::impulses;
using qmtest::noise;
using qmtest::zeros;

// Reference first-order all-pass (a + z^-1) / (1 + a z^-1) chain, in double.
std::vector<double> allPassChain(std::vector<double> x, double a, int stages)
{
    for (int st = 0; st < stages; ++st)
    {
        double h = 0.0;
        for (auto& s : x)
        {
            const double v = s - a * h;
            s = a * v + h;
            h = v;
        }
    }
    return x;
}

// Settings with a constant delay and no feedback, so the wet path is a fixed linear filter.
void setStaticWet(PhlaserRig& rig, float flangePhase, float freqKHz, int stages)
{
    rig.set(Phlaser::kWetMix, 100.0f);
    rig.set(Phlaser::kFlangePhase, flangePhase);
    rig.set(Phlaser::kFrequency, freqKHz);
    rig.set(Phlaser::kModAmp, 0.0f);
    rig.set(Phlaser::kFeedback, 0.0f);
    rig.set(Phlaser::kPhaseStages, static_cast<float>(stages));
}

// Runs silence until the shared all-pass coefficient has reached its target.
void settle(PhlaserRig& rig)
{
    auto z = zeros(2, 16384);
    rig.run(z);
}
} // namespace

TEST(PhlaserParams, RecordsMatchTheTable)
{
    std::array<Param, Phlaser::kNumParams> p{};
    for (int i = 0; i < Phlaser::kNumParams; ++i)
    {
        p[static_cast<size_t>(i)].index = 57 + i;
        p[static_cast<size_t>(i)].hostIndex = 77;
        p[static_cast<size_t>(i)].isHostParam = true;
    }
    Phlaser fx;
    EXPECT_EQ(fx.getNumParams(), 8);
    fx.setParamPtr(p.data());

    const char* names[] = {"Wet Mix",  "Flange/Phase", "Frequency", "Mod Amp",
                           "Mod Freq", "Mod Stereo",   "Feedback",  "Phase Stages"};
    const int curves[] = {0, 0, 2, 0, 2, 0, 0, 5};
    const float defaults[] = {60.0f, 0.0f, 2.0f, 50.0f, 0.26f, 10.0f, -90.0f, 4.0f};
    const char* formats[] = {"%.0f%%", "%.0f%%", "%.2f kHz", "%.0f%%", "%.2f Hz", "%.0f", "%.0f%%", "%.0f"};
    const int snaps[] = {0, 1, 0, 0, 0, 0, 1, 0};
    for (int i = 0; i < 8; ++i)
    {
        const Param& r = p[static_cast<size_t>(i)];
        SCOPED_TRACE(names[i]);
        EXPECT_STREQ(r.name, names[i]);
        EXPECT_EQ(r.curveType, curves[i]);
        EXPECT_EQ(r.value, defaults[i]);
        EXPECT_EQ(r.defaultValue, defaults[i]);
        EXPECT_STREQ(r.format, formats[i]);
        EXPECT_EQ(r.numLabels, 1);
        EXPECT_STREQ(r.group, "");
        EXPECT_FALSE(r.isHostParam);
        EXPECT_EQ(r.sinceVersion, 0);
        EXPECT_EQ(r.numSnaps, snaps[i]);
        if (snaps[i])
        {
            EXPECT_EQ(r.snapValues[0], 0.0f);
        }
        EXPECT_EQ(r.index, 57 + i); // the table's numbering stays
        EXPECT_EQ(r.hostIndex, 77);
    }
    // The power-of-value records store square roots: their values span 0.1..10 kHz and 0.01..10 Hz.
    EXPECT_NEAR(p[2].convertUnitToVal(0.0f), 0.1f, 1e-6f);
    EXPECT_NEAR(p[2].convertUnitToVal(1.0f), 10.0f, 1e-5f);
    EXPECT_NEAR(p[4].convertUnitToVal(0.0f), 0.01f, 1e-7f);
    EXPECT_NEAR(p[4].convertUnitToVal(1.0f), 10.0f, 1e-5f);
    EXPECT_EQ(p[1].minValue, -100.0f);
    EXPECT_EQ(p[6].minValue, -99.0f);
    EXPECT_EQ(p[6].maxValue, 99.0f);
    EXPECT_EQ(p[7].convertUnitToVal(1.0f), 16.0f);
}

TEST(PhlaserSetup, DelayMemoryIsTheFirstPowerOfTwoAboveTheLongestDelay)
{
    EXPECT_EQ(Phlaser::delayMemorySize(44100.0f), 4096);
    EXPECT_EQ(Phlaser::delayMemorySize(96000.0f), 8192);
    EXPECT_EQ(Phlaser::delayMemorySize(192000.0f), 16384);
    EXPECT_EQ(Phlaser::delayMemorySize(8000.0f), 512);
    for (float rate : {22050.0f, 44100.0f, 48000.0f, 88200.0f, 176400.0f})
    {
        const int n = Phlaser::delayMemorySize(rate);
        EXPECT_GT(n, static_cast<int>(0.05f * rate + 1.0f) + 8);
        EXPECT_LE(n / 2, static_cast<int>(0.05f * rate + 1.0f) + 8);
    }

    PhlaserRig rig(44100.0f);
    EXPECT_EQ(rig.unit.getDelayMemorySize(), 4096);
    rig.unit.setup(192000.0f, 2);
    EXPECT_EQ(rig.unit.getDelayMemorySize(), 16384);
    rig.unit.setup(48000.0f, 2);
    EXPECT_EQ(rig.unit.getDelayMemorySize(), 4096);
}

TEST(PhlaserBypass, FadesOutThenPassesThroughBitExact)
{
    engineSrand(3);
    PhlaserRig rig;
    auto warm = noise(2, 4096);
    rig.run(warm);
    EXPECT_GT(rig.unit.getWetLevel(), 0.5f);

    // The wet level falls by 0.01 per 16-sample sub-block: about 60 sub-blocks from 0.6 (the
    // float steps leave a remainder below 0.01 that one more sub-block takes).
    auto fade = noise(2, 16 * 59);
    const auto fadeIn = fade;
    rig.run(fade, false, true);
    EXPECT_GT(rig.unit.getWetLevel(), 0.0f);
    EXPECT_NE(fade, fadeIn);
    auto last = noise(2, 32);
    rig.run(last, false, true);
    EXPECT_EQ(rig.unit.getWetLevel(), 0.0f);

    // Separate input and output arrays: a plain copy.
    auto in = noise(2, 777);
    std::vector<std::vector<float>> out = zeros(2, 777);
    float* ip[2] = {in[0].data(), in[1].data()};
    float* op[2] = {out[0].data(), out[1].data()};
    bool silent = false;
    rig.unit.process(ip, op, 777, 2, silent, true);
    EXPECT_EQ(out, in);
    EXPECT_FALSE(silent); // the flag is left as it came

    // In place: untouched.
    auto inPlace = noise(2, 500);
    const auto copy = inPlace;
    rig.run(inPlace, false, true);
    EXPECT_EQ(inPlace, copy);
}

TEST(PhlaserSilence, TailSoundsThenExactZerosWithTheFlagSet)
{
    engineSrand(4);
    PhlaserRig rig;
    {
        // A fresh unit leaves a silent block alone.
        auto z = zeros(2, 256);
        EXPECT_TRUE(rig.run(z, true));
        EXPECT_EQ(z, zeros(2, 256));
    }
    auto loud = noise(2, 2048);
    rig.run(loud);

    int soundingBlocks = 0;
    bool sawTail = false;
    for (; soundingBlocks < 400; ++soundingBlocks)
    {
        auto block = zeros(2, 256);
        const bool flag = rig.run(block, true);
        if (flag)
        {
            EXPECT_EQ(block, zeros(2, 256));
            break;
        }
        for (float s : block[0])
            sawTail = sawTail || s != 0.0f;
    }
    EXPECT_TRUE(sawTail);
    EXPECT_GT(soundingBlocks, 0);
    EXPECT_LT(soundingBlocks, 400);
    // Once quiet it stays quiet.
    for (int b = 0; b < 4; ++b)
    {
        auto block = zeros(2, 256);
        EXPECT_TRUE(rig.run(block, true));
        EXPECT_EQ(block, zeros(2, 256));
    }
}

TEST(PhlaserResponse, PurePhaseModeIsAnAllPassOfUnityGain)
{
    for (int stages : {1, 4, 16})
    {
        SCOPED_TRACE(stages);
        PhlaserRig rig(44100.0f);
        setStaticWet(rig, 100.0f, 2.0f, stages);
        settle(rig);

        // Flange/Phase +100: the delay is one sample and the coefficient follows d / stages.
        const double d = 44100.0 / 2000.0;
        const double k = 2.0 / (d / stages + 1.0) - 1.0;
        EXPECT_NEAR(rig.unit.getAllPassCoef(), k, 1e-6);

        constexpr int n = 8192;
        auto x = impulses(2, n);
        rig.run(x);

        std::vector<double> impulse(n, 0.0);
        impulse[1] = 1.0; // one sample of delay
        const auto ref = allPassChain(impulse, rig.unit.getAllPassCoef(), stages);
        double energy = 0.0;
        for (int i = 0; i < n; ++i)
        {
            ASSERT_NEAR(x[0][i], ref[i], 2e-6) << i;
            energy += static_cast<double>(x[1][i]) * x[1][i];
        }
        EXPECT_NEAR(energy, 1.0, 1e-4);
    }
}

TEST(PhlaserResponse, FlangerDelayIsOnePeriodOfFrequency)
{
    // 48 kHz and 2 kHz: 24 samples exactly, where the interpolation reads a single tap. With
    // Flange/Phase -100 the all-pass coefficient is held at its limit 0.99.
    for (int stages : {1, 3})
    {
        SCOPED_TRACE(stages);
        PhlaserRig rig(48000.0f);
        setStaticWet(rig, -100.0f, 2.0f, stages);
        settle(rig);
        EXPECT_EQ(rig.unit.getAllPassCoef(), 0.99f);

        constexpr int n = 4096;
        auto x = impulses(2, n);
        rig.run(x);
        std::vector<double> impulse(n, 0.0);
        impulse[24] = 1.0;
        const auto ref = allPassChain(impulse, 0.99f, stages);
        for (int i = 0; i < n; ++i)
        {
            ASSERT_NEAR(x[0][i], ref[i], 1e-5) << i;
            ASSERT_EQ(x[0][i], x[1][i]) << i;
        }
        for (int i = 0; i < 24; ++i)
            EXPECT_EQ(x[0][i], 0.0f);
    }
}

TEST(PhlaserResponse, FractionalFlangerDelayUsesCatmullRomWeights)
{
    // 44.1 kHz and 1.8 kHz: 24.5 samples, between taps 23..26.
    PhlaserRig rig(44100.0f);
    setStaticWet(rig, -100.0f, 1.8f, 1);
    settle(rig);
    const float fl = 44100.0f / (1000.0f * 1.8f);
    const int fixed = static_cast<int>(64.0f * fl);
    const int whole = fixed >> 6;
    const double t = (fixed & 63) / 64.0;
    const double w[4] = {0.5 * (-t * t * t + 2 * t * t - t), 0.5 * (3 * t * t * t - 5 * t * t + 2),
                         0.5 * (-3 * t * t * t + 4 * t * t + t), 0.5 * (t * t * t - t * t)};

    constexpr int n = 2048;
    auto x = zeros(2, n);
    x[0][0] = 1.0f;
    rig.run(x);
    std::vector<double> taps(n, 0.0);
    for (int j = 0; j < 4; ++j)
        taps[static_cast<size_t>(whole + j - 1)] = w[j];
    const auto ref = allPassChain(taps, 0.99f, 1);
    for (int i = 0; i < n; ++i)
        ASSERT_NEAR(x[0][i], ref[i], 1e-5) << i;
}

TEST(PhlaserRobustness, FiniteOverParameterExtremes)
{
    engineSrand(11);
    const float lo[] = {0.0f, -100.0f, 0.1f, 0.0f, 0.01f, 0.0f, -99.0f, 1.0f};
    const float hi[] = {100.0f, 100.0f, 10.0f, 100.0f, 10.0f, 360.0f, 99.0f, 16.0f};
    for (int combo = 0; combo < 48; ++combo)
    {
        PhlaserRig rig(combo % 3 == 0 ? 96000.0f : 44100.0f, 2);
        rig.setCorner(combo, 5, lo, hi);
        ASSERT_TRUE(rig.staysFiniteOverNoiseAndSilence(6, 1024, 10.0f)) << combo;
    }
}

TEST(PhlaserRobustness, CorruptParametersNeverIndexOutside)
{
    engineSrand(12);
    for (float bad : {kNaN, kInf, -kInf, 1.0e30f, -1.0e30f})
    {
        PhlaserRig rig;
        rig.setAll(bad);
        auto x = noise(2, 2048);
        rig.run(x);
        EXPECT_TRUE(allFinite(x)) << bad;
    }
}

TEST(PhlaserRobustness, RecoversAfterNonFiniteInput)
{
    engineSrand(13);
    for (float bad : {kNaN, kInf})
    {
        PhlaserRig rig;
        auto x = noise(2, 512);
        x[0][100] = bad;
        x[1][300] = -bad;
        rig.run(x);
        for (int b = 0; b < 2; ++b)
        {
            auto next = noise(2, 512);
            rig.run(next);
            EXPECT_TRUE(allFinite(next)) << bad << " block " << b;
        }
    }
}

TEST(PhlaserChannels, MonoAndMoreChannelsThanSetUpStayInsideMemory)
{
    engineSrand(14);
    PhlaserRig rig(44100.0f, 1);
    auto mono = noise(1, 1000);
    rig.run(mono);
    EXPECT_TRUE(allFinite(mono));
    auto stereo = noise(2, 1000);
    rig.run(stereo);
    EXPECT_TRUE(allFinite(stereo));
}

TEST(PhlaserLifecycle, ProcessBeforeSetupPassesThrough)
{
    std::array<Param, Phlaser::kNumParams> p{};
    Phlaser fx;
    fx.setParamPtr(p.data());
    std::vector<float> a(64, 0.25f), b(64, 0.0f);
    float* ip[1] = {a.data()};
    float* op[1] = {b.data()};
    bool silent = false;
    fx.process(ip, op, 64, 1, silent, false);
    EXPECT_EQ(a, b);
}
