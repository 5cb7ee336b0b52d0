#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <limits>
#include <vector>

#include "engine/fx/Equalizer.h"
#include "engine/params/Param.h"
#include "engine/Random.h"
#include "support/FxTestHelpers.h"

namespace
{

constexpr double kPi = 3.141592653589793;

struct Rig : qmtest::FxRig<Equalizer>
{
    using FxRig::FxRig;

    void fill(int n, float v) { FxRig::fill(n, v, v); }

    // Lets every glide reach its target on silence-free zeros (the memories stay at 0).
    void settle()
    {
        fill(16 * 600, 0.0f);
        bool silent = false;
        run(silent);
    }

    std::vector<float> impulseResponse(int n)
    {
        fill(n, 0.0f);
        l[0] = 1.0f;
        r[0] = 1.0f;
        bool silent = false;
        run(silent);
        return l;
    }
};

// Magnitude in dB of a response at a frequency, by a direct DFT bin.
double responseDb(const std::vector<float>& h, double freq, double rate)
{
    std::complex<double> sum = 0.0;
    for (std::size_t n = 0; n < h.size(); ++n)
        sum += static_cast<double>(h[n]) * std::polar(1.0, -2.0 * kPi * freq / rate * static_cast<double>(n));
    return 20.0 * std::log10(std::abs(sum));
}

// The analog shelving prototypes at the frequency that the bilinear transform maps onto freq.
// q is the filter's quality factor (the unit's slope 1 stands for 1/sqrt 2).
double analogShelfDb(bool high, double gainDb, double q, double corner, double freq, double rate)
{
    const double A = std::pow(10.0, gainDb / 40.0);
    const double w = std::tan(kPi * freq / rate) / std::tan(kPi * corner / rate);
    const std::complex<double> s(0.0, w);
    const std::complex<double> mid = std::sqrt(A) / q * s;
    std::complex<double> h;
    if (high)
        h = A * (A * s * s + mid + 1.0) / (s * s + mid + A);
    else
        h = A * (s * s + mid + A) / (A * s * s + mid + 1.0);
    return 20.0 * std::log10(std::abs(h));
}

} // namespace

TEST(Equalizer, RecordsCarryNamesRangesAndSnaps)
{
    std::array<Param, 6> p;
    Equalizer unit;
    EXPECT_EQ(unit.getNumParams(), 6);
    unit.setParamPtr(p.data());
    EXPECT_STREQ(p[0].name, "Low Freq");
    EXPECT_STREQ(p[1].name, "High Freq");
    EXPECT_STREQ(p[5].name, "High Q");
    EXPECT_EQ(p[0].curveType, kCurvePowValue);
    EXPECT_NEAR(p[0].convertUnitToVal(0.0f), 50.0f, 1e-3f);
    EXPECT_NEAR(p[0].convertUnitToVal(1.0f), 800.0f, 1e-2f);
    EXPECT_NEAR(p[1].convertUnitToVal(1.0f), 20.0f, 1e-4f);
    EXPECT_EQ(p[0].value, 200.0f);
    EXPECT_EQ(p[1].value, 5.0f);
    EXPECT_STREQ(p[1].format, "%.1f kHz");
    EXPECT_EQ(p[0].numSnaps, 0);
    EXPECT_EQ(p[2].numSnaps, 1);
    EXPECT_EQ(p[2].snapValues[0], 0.0f);
    EXPECT_EQ(p[4].curveType, kCurvePowUnit);
    EXPECT_EQ(p[4].exponent, 3.0f);
    EXPECT_EQ(p[4].snapValues[0], 1.0f);
    EXPECT_EQ(p[5].numSnaps, 1);
}

TEST(Equalizer, ShelfGainsMatchTheAnalogPrototype)
{
    for (float rate : {44100.0f, 48000.0f, 96000.0f})
        for (float gain : {12.0f, -12.0f})
        {
            Rig rig(rate);
            rig.p[Equalizer::kLowGain].value = gain;
            rig.settle();
            const auto h = rig.impulseResponse(1 << 14);
            const double q = 0.7071;
            const double lowCorner = 200.0;
            for (double f : {20.0, lowCorner, 10000.0})
                EXPECT_NEAR(responseDb(h, f, rate), analogShelfDb(false, gain, q, lowCorner, f, rate), 0.01)
                    << rate << " " << gain << " " << f;
            EXPECT_NEAR(responseDb(h, lowCorner, rate), gain / 2.0, 0.01);
            EXPECT_NEAR(responseDb(h, 20.0, rate), gain, 0.1);

            Rig high(rate);
            high.p[Equalizer::kHighGain].value = gain;
            high.settle();
            const auto hh = high.impulseResponse(1 << 14);
            const double highCorner = 5000.0;
            for (double f : {20.0, highCorner, 18000.0})
                EXPECT_NEAR(responseDb(hh, f, rate), analogShelfDb(true, gain, q, highCorner, f, rate), 0.01)
                    << rate << " " << gain << " " << f;
            EXPECT_NEAR(responseDb(hh, highCorner, rate), gain / 2.0, 0.01);
            EXPECT_NEAR(responseDb(hh, 20.0, rate), 0.0, 0.01);
        }
}

TEST(Equalizer, FlatSettingsAndBypassPassTheInput)
{
    engineSrand(21);
    std::vector<float> src(1000);
    for (float& x : src)
        x = engineRandUnit() - 0.5f;
    Rig flat;
    flat.l = src;
    flat.r = src;
    bool silent = false;
    flat.run(silent);
    for (std::size_t i = 0; i < src.size(); ++i)
        ASSERT_NEAR(flat.l[i], src[i], 1e-6f);
    EXPECT_FALSE(silent);

    // Switched off before any glide began: the smoothed gains are still at 0 dB.
    Rig off;
    off.p[Equalizer::kLowGain].value = 20.0f;
    std::vector<float> outL(src.size()), outR(src.size());
    std::array<float*, 2> in{src.data(), src.data()};
    std::array<float*, 2> out{outL.data(), outR.data()};
    silent = true;
    off.unit.process(in.data(), out.data(), 1000, 2, silent, true);
    EXPECT_EQ(outL, src);
    EXPECT_EQ(outR, src);
    EXPECT_TRUE(silent);
}

TEST(Equalizer, SwitchingOffGlidesTheGainDownFirst)
{
    Rig rig;
    rig.p[Equalizer::kLowGain].value = 12.0f;
    rig.settle();
    engineSrand(4);
    std::vector<float> src(16);
    for (float& x : src)
        x = engineRandUnit() - 0.5f;
    // 12 dB down in 0.25 dB steps: the 48th sub-block of 16 samples lands on 0 dB, the 47 before
    // it still shape the sound, and from then on the unit passes through.
    for (int step = 0; step < 47; ++step)
    {
        rig.l = src;
        rig.r = src;
        bool silent = false;
        rig.run(silent, true);
        EXPECT_NE(rig.l, src) << step;
    }
    for (int step = 0; step < 2; ++step)
    {
        rig.l = src;
        rig.r = src;
        bool silent = false;
        rig.run(silent, true);
        EXPECT_EQ(rig.l, src);
        EXPECT_EQ(rig.r, src);
    }
}

TEST(Equalizer, GainJumpTakes160GlideSteps)
{
    // The impulse response's first sub-block takes one more step, so 159 steps before it make 160.
    for (int steps : {158, 159})
    {
        Rig moving, still;
        moving.p[Equalizer::kLowGain].value = -20.0f;
        moving.settle();
        moving.p[Equalizer::kLowGain].value = 20.0f;
        moving.fill(16 * steps, 0.0f);
        bool silent = false;
        moving.run(silent);

        still.p[Equalizer::kLowGain].value = 20.0f;
        still.settle();
        const auto a = moving.impulseResponse(64);
        const auto b = still.impulseResponse(64);
        if (steps == 159)
            EXPECT_EQ(a, b);
        else
            EXPECT_NE(a, b);
    }
}

TEST(Equalizer, NewRateRecomputesCoefficients)
{
    Rig moved(44100.0f), fresh(96000.0f);
    for (Rig* rig : {&moved, &fresh})
    {
        rig->p[Equalizer::kLowGain].value = 9.0f;
        rig->p[Equalizer::kHighGain].value = -6.0f;
        rig->settle();
    }
    moved.unit.setup(96000.0f, 2);
    EXPECT_EQ(moved.impulseResponse(4096), fresh.impulseResponse(4096));
}

TEST(Equalizer, TailSoundsThenSilentBlocksPassUntouched)
{
    Rig rig;
    rig.p[Equalizer::kLowGain].value = 20.0f;
    rig.p[Equalizer::kLowQ].value = 8.0f;
    rig.settle();
    rig.fill(256, 0.8f);
    bool silent = false;
    rig.run(silent);

    rig.fill(256, 0.0f);
    silent = true;
    rig.run(silent);
    EXPECT_FALSE(silent);
    EXPECT_NE(rig.l[255], 0.0f);
    int calls = 0;
    do
    {
        ASSERT_LT(++calls, 2000);
        rig.fill(256, 0.0f);
        silent = true;
        rig.run(silent);
    } while (!silent);
    for (int i = 0; i < 10; ++i)
    {
        rig.fill(256, 0.0f);
        rig.run(silent);
        EXPECT_TRUE(silent);
        for (float x : rig.l)
            ASSERT_EQ(x, 0.0f);
    }
}

TEST(Equalizer, ZeroSlopeStaysStable)
{
    for (float rate : {32000.0f, 44100.0f, 192000.0f})
    {
        Rig rig(rate);
        rig.p[Equalizer::kLowGain].value = 20.0f;
        rig.p[Equalizer::kHighGain].value = -20.0f;
        rig.p[Equalizer::kLowQ].value = 0.0f;
        rig.p[Equalizer::kHighQ].value = 0.0f;
        rig.p[Equalizer::kHighFreq].value = 20.0f;
        rig.settle();
        const auto h = rig.impulseResponse(1 << 15);
        double tail = 0.0;
        for (std::size_t i = h.size() - 1024; i < h.size(); ++i)
            tail = std::max(tail, std::fabs(static_cast<double>(h[i])));
        EXPECT_LT(tail, 1e-4) << rate;
    }
}

TEST(Equalizer, FiniteAtExtremesAndAfterNonFiniteInput)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float rate : {8000.0f, 44100.0f, 192000.0f})
        for (float freq : {50.0f, 800.0f})
            for (float highFreq : {1.0f, 20.0f})
                for (float gain : {-20.0f, 20.0f})
                    for (float q : {0.0f, 8.0f})
                    {
                        Rig rig(rate);
                        rig.p[Equalizer::kLowFreq].value = freq;
                        rig.p[Equalizer::kHighFreq].value = highFreq;
                        rig.p[Equalizer::kLowGain].value = gain;
                        rig.p[Equalizer::kHighGain].value = -gain;
                        rig.p[Equalizer::kLowQ].value = q;
                        rig.p[Equalizer::kHighQ].value = q;
                        rig.fill(512, 0.5f);
                        rig.l[7] = nan;
                        rig.r[9] = std::numeric_limits<float>::infinity();
                        bool silent = false;
                        rig.run(silent);
                        for (int block = 0; block < 2; ++block)
                        {
                            rig.fill(512, 0.5f);
                            rig.run(silent);
                        }
                        for (std::size_t i = 0; i < rig.l.size(); ++i)
                            ASSERT_TRUE(std::isfinite(rig.l[i]) && std::isfinite(rig.r[i]))
                                << rate << " " << freq << " " << gain << " " << q;
                    }
    Rig rig;
    rig.setAll(nan);
    rig.fill(512, 0.5f);
    bool silent = false;
    rig.run(silent);
    for (float x : rig.l)
        ASSERT_TRUE(std::isfinite(x));
}
