#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "engine/fx/Distortion.h"
#include "engine/params/Param.h"
#include "engine/Random.h"
#include "support/FxTestHelpers.h"

namespace
{

constexpr double kPi = 3.141592653589793;

struct Rig : qmtest::FxRig<Distortion>
{
    using FxRig::FxRig;

    void sine(int n, float amplitude, double freq, double rate)
    {
        l.resize(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            l[static_cast<std::size_t>(i)] =
                static_cast<float>(amplitude * std::sin(2.0 * kPi * freq / rate * static_cast<double>(i)));
        r = l;
    }

    // Plain shaper: full wet, no drive, bias or foldover.
    void clean()
    {
        p[Distortion::kWetMix].value = 100.0f;
        p[Distortion::kDrive].value = 0.0f;
        p[Distortion::kBias].value = 0.0f;
        p[Distortion::kFoldover].value = 0.0f;
    }
};

float peak(const std::vector<float>& v, std::size_t from)
{
    float m = 0.0f;
    for (std::size_t i = from; i < v.size(); ++i)
        m = std::max(m, std::fabs(v[i]));
    return m;
}

} // namespace

TEST(Distortion, RecordsCarryNamesRangesAndDefaults)
{
    std::array<Param, 6> p;
    Distortion unit;
    EXPECT_EQ(unit.getNumParams(), 6);
    unit.setParamPtr(p.data());
    const std::array<const char*, 6> names{"Wet Mix",  "Drive",       "Bias",
                                           "Foldover", "Center Freq", "Bandwidth"};
    const std::array<float, 6> defaults{50.0f, 6.0f, 20.0f, 10.0f, 3.0f, 50.0f};
    for (std::size_t i = 0; i < 6; ++i)
    {
        EXPECT_STREQ(p[i].name, names[i]);
        EXPECT_EQ(p[i].value, defaults[i]);
        EXPECT_EQ(p[i].numSnaps, 0);
        EXPECT_FALSE(p[i].isHostParam);
    }
    EXPECT_EQ(p[4].curveType, kCurvePowValue);
    EXPECT_NEAR(p[4].convertUnitToVal(0.0f), 0.3f, 1e-6f);
    EXPECT_NEAR(p[4].convertUnitToVal(1.0f), 10.0f, 1e-5f);
    EXPECT_STREQ(p[4].format, "%.1f Hz");
    EXPECT_EQ(p[1].maxValue, 24.0f);
}

TEST(Distortion, ZeroBiasIsExactlyOdd)
{
    engineSrand(8);
    std::vector<float> src(1000);
    for (float& x : src)
        x = (engineRandUnit() - 0.5f) * 4.0f;
    Rig plus, minus;
    for (Rig* rig : {&plus, &minus})
    {
        rig->p[Distortion::kBias].value = 0.0f;
        rig->p[Distortion::kFoldover].value = 60.0f;
        rig->p[Distortion::kDrive].value = 18.0f;
    }
    plus.l = src;
    plus.r = src;
    minus.l = src;
    for (float& x : minus.l)
        x = -x;
    minus.r = minus.l;
    bool silent = false;
    plus.run(silent);
    minus.run(silent);
    for (std::size_t i = 0; i < src.size(); ++i)
        ASSERT_EQ(minus.l[i], -plus.l[i]) << i;

    // With a bias the curve is no longer odd.
    Rig biased, biasedNeg;
    biased.l = src;
    biased.r = src;
    biasedNeg.l = minus.r;
    biasedNeg.r = minus.r;
    biased.run(silent);
    biasedNeg.run(silent);
    float asym = 0.0f;
    for (std::size_t i = 0; i < src.size(); ++i)
        asym = std::max(asym, std::fabs(biased.l[i] + biasedNeg.l[i]));
    EXPECT_GT(asym, 1e-3f);
}

TEST(Distortion, SilentInputGivesExactZeroDespiteTheBias)
{
    Rig rig;
    rig.p[Distortion::kWetMix].value = 100.0f;
    rig.p[Distortion::kBias].value = 100.0f;
    rig.l.assign(300, 0.0f);
    rig.r.assign(300, 0.0f);
    bool silent = false;
    rig.run(silent);
    for (std::size_t i = 0; i < 300; ++i)
        ASSERT_EQ(rig.l[i], 0.0f) << i;
}

TEST(Distortion, DryMixPassesTheInput)
{
    engineSrand(9);
    Rig rig;
    rig.p[Distortion::kWetMix].value = 0.0f;
    rig.p[Distortion::kDrive].value = 24.0f;
    rig.p[Distortion::kFoldover].value = 100.0f;
    std::vector<float> src(500);
    for (float& x : src)
        x = engineRandUnit() - 0.5f;
    rig.l = src;
    rig.r = src;
    bool silent = false;
    rig.run(silent);
    for (std::size_t i = 0; i < src.size(); ++i)
        ASSERT_NEAR(rig.l[i], src[i], 1e-6f);
}

TEST(Distortion, SaturatesTowardsTheShaperLimit)
{
    // Drive 0 dB: A = 2 / 70.18, so large inputs approach 35.09.
    Rig rig;
    rig.clean();
    rig.sine(4410, 1.0e6f, 3000.0, 44100.0);
    bool silent = false;
    rig.run(silent);
    EXPECT_NEAR(peak(rig.l, 2000), 35.09f, 0.01f);
    EXPECT_LT(peak(rig.l, 0), 35.09f);
}

TEST(Distortion, NarrowBandGainAtTheCentreIsEleven)
{
    for (float rate : {44100.0f, 96000.0f})
    {
        Rig rig(rate);
        rig.clean();
        rig.p[Distortion::kBandwidth].value = 0.0f;
        const float a = 1.0e-4f;
        rig.sine(static_cast<int>(rate / 5), a, 3000.0, rate);
        bool silent = false;
        rig.run(silent);
        EXPECT_NEAR(peak(rig.l, rig.l.size() / 2) / a, 11.0f, 0.03f) << rate;
    }
}

TEST(Distortion, NewRateRecomputesTheBand)
{
    Rig moved(44100.0f), fresh(96000.0f);
    moved.unit.setup(96000.0f, 2);
    for (Rig* rig : {&moved, &fresh})
    {
        rig->sine(1000, 0.3f, 2000.0, 96000.0);
        bool silent = false;
        rig->run(silent);
    }
    EXPECT_EQ(moved.l, fresh.l);
}

TEST(Distortion, SilenceAndBypassPassThroughAndKeepTheFlag)
{
    engineSrand(10);
    std::vector<float> src(300);
    for (float& x : src)
        x = engineRandUnit() - 0.5f;
    for (int mode = 0; mode < 2; ++mode)
    {
        Rig rig;
        std::vector<float> outL(src.size()), outR(src.size());
        std::array<float*, 2> in{src.data(), src.data()};
        std::array<float*, 2> out{outL.data(), outR.data()};
        bool silent = mode == 0;
        rig.unit.process(in.data(), out.data(), 300, 2, silent, mode == 1);
        EXPECT_EQ(outL, src);
        EXPECT_EQ(outR, src);
        EXPECT_EQ(silent, mode == 0);
    }
}

TEST(Distortion, FiniteAtExtremesAndAfterNonFiniteInput)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float rate : {16000.0f, 44100.0f, 192000.0f})
        for (float wet : {0.0f, 100.0f})
            for (float drive : {0.0f, 24.0f})
                for (float bias : {0.0f, 100.0f})
                    for (float fold : {0.0f, 100.0f})
                        for (float centre : {0.3f, 10.0f})
                            for (float width : {0.0f, 100.0f})
                            {
                                Rig rig(rate);
                                rig.p[Distortion::kWetMix].value = wet;
                                rig.p[Distortion::kDrive].value = drive;
                                rig.p[Distortion::kBias].value = bias;
                                rig.p[Distortion::kFoldover].value = fold;
                                rig.p[Distortion::kCenterFreq].value = centre;
                                rig.p[Distortion::kBandwidth].value = width;
                                rig.sine(300, 10.0f, 1000.0, rate);
                                rig.l[17] = nan;
                                rig.r[18] = -std::numeric_limits<float>::infinity();
                                bool silent = false;
                                rig.run(silent);
                                rig.sine(300, 10.0f, 1000.0, rate);
                                rig.run(silent);
                                for (std::size_t i = 0; i < rig.l.size(); ++i)
                                    ASSERT_TRUE(std::isfinite(rig.l[i]) && std::isfinite(rig.r[i]))
                                        << rate << " " << wet << " " << drive << " " << bias << " " << fold
                                        << " " << centre << " " << width;
                            }
    Rig rig;
    for (Param& q : rig.p)
        q.value = nan;
    rig.sine(300, 1.0f, 1000.0, 44100.0);
    bool silent = false;
    rig.run(silent);
    for (float x : rig.l)
        ASSERT_TRUE(std::isfinite(x));
}
