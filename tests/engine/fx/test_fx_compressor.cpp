#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "engine/fx/Compressor.h"
#include "engine/params/Param.h"
#include "engine/Random.h"
#include "support/FxTestHelpers.h"

namespace
{

struct Rig : qmtest::FxRig<Compressor>
{
    using FxRig::FxRig;

    // Runs seconds of constant input in calls of 64 samples; returns the last output pair.
    std::array<float, 2> hold(float left, float right, float seconds, int channels = 2)
    {
        const int calls = static_cast<int>(seconds * 44100.0f / 64.0f);
        for (int i = 0; i < calls; ++i)
        {
            l.assign(64, left);
            r.assign(64, right);
            bool silent = false;
            run(silent, false, channels);
        }
        return {l.back(), r.back()};
    }
};

// Expected static gain for a mono input of amplitude a at Ratio 2.8 and Threshold -20 dB.
double staticGain(double a)
{
    const double slope = -(1.0 - 1.0 / 2.8);
    const double T = -22.0;
    auto curve = [&](double D) { return D > T ? slope * ((D - T) + 4.0 / (D - T + 2.0) - 2.0) : 0.0; };
    const double D = 20.0 * std::log10(a) + 10.0;
    return std::pow(10.0, (curve(D) - curve(-8.0)) / 20.0);
}

} // namespace

TEST(Compressor, RecordsCarryNamesRangesAndSnaps)
{
    std::array<Param, 6> p;
    Compressor unit;
    EXPECT_EQ(unit.getNumParams(), 6);
    unit.setParamPtr(p.data());
    const std::array<const char*, 6> names{"Ratio",        "Threshold", "Attack Time",
                                           "Release Time", "Optical",   "Stereo Link"};
    const std::array<float, 6> defaults{2.8f, -20.0f, 2.0f, 50.0f, 0.0f, 50.0f};
    for (std::size_t i = 0; i < 6; ++i)
    {
        EXPECT_STREQ(p[i].name, names[i]);
        EXPECT_EQ(p[i].value, defaults[i]);
        EXPECT_FALSE(p[i].isHostParam);
    }
    EXPECT_EQ(p[0].curveType, kCurveExp);
    EXPECT_NEAR(p[0].convertUnitToVal(0.5f), 1.0f, 1e-6f);
    EXPECT_EQ(p[0].numSnaps, 1);
    EXPECT_EQ(p[0].snapValues[0], 1.0f);
    EXPECT_EQ(p[1].numSnaps, 0);
    EXPECT_EQ(p[4].numSnaps, 1);
    EXPECT_EQ(p[3].curveType, kCurvePowUnit);
    EXPECT_EQ(p[3].exponent, 2.0f);
    EXPECT_STREQ(p[0].format, "%.2f x");
}

TEST(Compressor, KneeAndMakeUpValues)
{
    const float slope = -(1.0f - 1.0f / 2.8f);
    EXPECT_NEAR(Compressor::curveDb(-8.0f, -22.0f, slope), -7.875f, 1e-4f);
    EXPECT_NEAR(Compressor::curveDb(-12.0f, -22.0f, slope), -5.357f, 1e-3f);
    EXPECT_EQ(Compressor::curveDb(-22.0f, -22.0f, slope), 0.0f);
    EXPECT_EQ(Compressor::curveDb(-30.0f, -22.0f, slope), 0.0f);
    // Zero slope at the knee: a tiny step above the threshold changes the gain by far less.
    EXPECT_LT(std::fabs(Compressor::curveDb(-21.99f, -22.0f, slope)), 1e-4f);
}

TEST(Compressor, StaticCurveAtSeveralLevels)
{
    // Levels in dB (20 log10 a + 10): -32 below the threshold, -12 and -8 above it, and 0.
    for (double levelDb : {-32.0, -12.0, -8.0, 0.0})
    {
        Rig rig;
        const double a = std::pow(10.0, (levelDb - 10.0) / 20.0);
        const auto out = rig.hold(static_cast<float>(a), 0.0f, 1.0f, 1);
        EXPECT_NEAR(out[0] / a, staticGain(a), staticGain(a) * 1e-3) << levelDb;
    }
    EXPECT_NEAR(staticGain(std::pow(10.0, -18.0 / 20.0)), 1.0, 1e-12);
    EXPECT_NEAR(staticGain(std::pow(10.0, -42.0 / 20.0)), std::pow(10.0, 7.875 / 20.0), 1e-9);
}

TEST(Compressor, StereoLinkSharesTheLevel)
{
    Rig linked;
    linked.p[Compressor::kStereoLink].value = 100.0f;
    const auto both = linked.hold(0.5f, 0.0f, 0.5f);
    EXPECT_NEAR(linked.unit.getGain(0), linked.unit.getGain(1), 1e-6f);
    EXPECT_EQ(both[1], 0.0f);

    Rig apart;
    apart.p[Compressor::kStereoLink].value = 0.0f;
    apart.hold(0.5f, 0.0f, 0.5f);
    // The silent channel gets the make-up gain, the loud one is compressed.
    EXPECT_NEAR(apart.unit.getGain(1), std::pow(10.0f, 7.875f / 20.0f), 1e-3f);
    EXPECT_LT(apart.unit.getGain(0), 1.0f);
}

TEST(Compressor, UnityRatioSilenceAndBypassPassThroughWhileFollowersSink)
{
    engineSrand(12);
    std::vector<float> src(441);
    for (float& x : src)
        x = engineRandUnit() - 0.5f;
    for (int mode = 0; mode < 3; ++mode)
    {
        Rig rig;
        rig.hold(0.3f, 0.3f, 0.2f);
        const float before = rig.unit.getEnvSlow(0);
        if (mode == 2) rig.p[Compressor::kRatio].value = 1.005f;
        std::vector<float> outL(src.size()), outR(src.size());
        std::array<float*, 2> in{src.data(), src.data()};
        std::array<float*, 2> out{outL.data(), outR.data()};
        bool silent = mode == 0;
        rig.unit.process(in.data(), out.data(), 441, 2, silent, mode == 1);
        EXPECT_EQ(outL, src) << mode;
        EXPECT_EQ(outR, src) << mode;
        EXPECT_EQ(silent, mode == 0);
        // 441 samples at 44.1 kHz over a 50 ms release: the followers fall by e^-0.4.
        EXPECT_NEAR(rig.unit.getEnvSlow(0) / before, std::exp(-0.4f), 1e-4f) << mode;
    }
}

TEST(Compressor, OverloadRestartsTheFollowers)
{
    Rig rig;
    rig.hold(20.0f, 20.0f, 0.05f);
    EXPECT_EQ(rig.unit.getEnvSlow(0), Compressor::kFollowerRestart);
}

TEST(Compressor, FiniteAtExtremesAndAfterNonFiniteInput)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float ratio : {0.1f, 0.5f, 10.0f})
        for (float threshold : {-40.0f, 0.0f})
            for (float attack : {0.0f, 50.0f})
                for (float release : {0.0f, 300.0f})
                    for (float optical : {-100.0f, 100.0f})
                        for (float link : {0.0f, 100.0f})
                        {
                            Rig rig;
                            rig.p[Compressor::kRatio].value = ratio;
                            rig.p[Compressor::kThreshold].value = threshold;
                            rig.p[Compressor::kAttackTime].value = attack;
                            rig.p[Compressor::kReleaseTime].value = release;
                            rig.p[Compressor::kOptical].value = optical;
                            rig.p[Compressor::kStereoLink].value = link;
                            rig.l.assign(256, 1.0f);
                            rig.r.assign(256, 1.0e-6f);
                            rig.l[3] = nan;
                            rig.r[5] = std::numeric_limits<float>::infinity();
                            bool silent = false;
                            rig.run(silent);
                            for (float level : {1.0f, 0.0f, 1.0e-6f})
                            {
                                rig.l.assign(256, level);
                                rig.r.assign(256, -level);
                                rig.run(silent);
                                for (std::size_t i = 0; i < 256; ++i)
                                    ASSERT_TRUE(std::isfinite(rig.l[i]) && std::isfinite(rig.r[i]))
                                        << ratio << " " << threshold << " " << attack << " " << release << " "
                                        << optical << " " << link << " " << level;
                            }
                        }
    Rig rig;
    for (Param& q : rig.p)
        q.value = nan;
    rig.l.assign(256, 0.5f);
    rig.r.assign(256, 0.5f);
    bool silent = false;
    rig.run(silent);
    rig.run(silent);
    for (float x : rig.l)
        ASSERT_TRUE(std::isfinite(x));
}
