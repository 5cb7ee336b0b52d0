#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "engine/fx/FxBinaural.h"
#include "engine/params/Param.h"
#include "engine/Random.h"
#include "support/FxTestHelpers.h"

namespace
{

struct Rig : qmtest::FxRig<FxBinaural>
{
    explicit Rig(float rate = 44100.0f, float width = 100.0f)
        : FxRig(rate, 2, [width](Params& q) { q[FxBinaural::kHyperWidth].value = width; })
    {
    }
};

using qmtest::allFinite;

} // namespace

TEST(FxBinaural, RecordsCarryNamesRangesAndFlags)
{
    std::array<Param, 4> p;
    FxBinaural unit;
    EXPECT_EQ(unit.getNumParams(), 4);
    unit.setParamPtr(p.data());
    EXPECT_STREQ(p[0].name, "Stereo X");
    EXPECT_STREQ(p[1].name, "Stereo Y");
    EXPECT_STREQ(p[2].name, "Stereo Spread");
    EXPECT_STREQ(p[3].name, "Hyper Width");
    EXPECT_FLOAT_EQ(p[0].defaultValue, 0.5f);
    EXPECT_FLOAT_EQ(p[1].value, 0.7f);
    EXPECT_FLOAT_EQ(p[2].maxValue, 100.0f);
    EXPECT_STREQ(p[2].format, "%.0f%%");
    EXPECT_FALSE(p[0].isHostParam);
    EXPECT_TRUE(p[2].isHostParam);
    EXPECT_FALSE(p[3].isHostParam);
    EXPECT_STREQ(p[3].group, "binaural");
    EXPECT_EQ(p[3].sinceVersion, 9999906);
    EXPECT_EQ(p[2].sinceVersion, 0);
    for (const Param& q : p)
        EXPECT_EQ(q.curveType, kCurveLinear);
}

TEST(FxBinaural, LineLengthAndTapDelaysFollowTheRate)
{
    EXPECT_EQ(FxBinaural::lineLengthFor(44100.0f), 4013);
    EXPECT_EQ(FxBinaural::lineLengthFor(48000.0f), 4364);
    const std::array<int, 4> at441{2417, 2853, 3365, 3973};
    const std::array<int, 4> at48{2630, 3106, 3662, 4325};
    Rig rig(44100.0f);
    for (int k = 0; k < 4; ++k)
    {
        EXPECT_EQ(rig.unit.getTapDelay(k), at441[static_cast<std::size_t>(k)]);
        EXPECT_EQ(FxBinaural::tapDelayFor(k, 48000.0f), at48[static_cast<std::size_t>(k)]);
    }
    for (float rate : {1.0f, 8000.0f, 44100.0f, 192000.0f, 384000.0f})
        EXPECT_LT(FxBinaural::tapDelayFor(3, rate), FxBinaural::lineLengthFor(rate)) << rate;
    rig.unit.setup(48000.0f, 2);
    EXPECT_EQ(rig.unit.getTapDelay(3), 4325);
}

TEST(FxBinaural, BypassAndNarrowWidthPassThroughBitExact)
{
    engineSrand(7);
    std::vector<float> src(1000), dstL(1000), dstR(1000);
    for (float& x : src)
        x = engineRandUnit() * 2.0f - 1.0f;
    for (float width : {100.0f, 0.0f, 0.19f})
    {
        Rig rig(44100.0f, width);
        std::array<float*, 2> in{src.data(), src.data()};
        std::array<float*, 2> out{dstL.data(), dstR.data()};
        bool silent = false;
        const bool bypass = width == 100.0f;
        rig.unit.process(in.data(), out.data(), 1000, 2, silent, bypass);
        EXPECT_EQ(dstL, src) << width;
        EXPECT_EQ(dstR, src) << width;
        EXPECT_FALSE(silent);
    }
}

TEST(FxBinaural, ImpulseReachesEachTapAtItsDelayAndKeepsTheSum)
{
    const float direct = std::sqrt(0.75f);
    // The four gains sit a quarter period apart on the sweep, -w sin, -w cos, w sin, w cos, so
    // their squares add up to 2 w^2 = 0.5 (the sweep drifts a little between the taps' times).
    float sumSquares = 0.0f;
    for (int source = 0; source < 2; ++source)
    {
        engineSrand(99); // the same sweep phase for both runs
        Rig rig(44100.0f, 100.0f);
        rig.fill(4096, 0.0f, 0.0f);
        (source == 0 ? rig.l : rig.r)[0] = 1.0f;
        bool silent = false;
        rig.run(silent);
        EXPECT_FALSE(silent);
        // Taps 0 and 2 read the left line, taps 1 and 3 the right one.
        const int d0 = rig.unit.getTapDelay(source), d1 = rig.unit.getTapDelay(source + 2);
        for (int i = 1; i < 4096; ++i)
        {
            const auto j = static_cast<std::size_t>(i);
            ASSERT_EQ(rig.l[j] + rig.r[j], 0.0f) << i;
            if (i != d0 && i != d1)
            {
                ASSERT_EQ(rig.l[j], 0.0f) << i;
            }
        }
        for (int d : {d0, d1})
        {
            const float v = rig.l[static_cast<std::size_t>(d)];
            EXPECT_LE(std::fabs(v), 0.5f);
            sumSquares += v * v;
        }
        EXPECT_FLOAT_EQ((source == 0 ? rig.l : rig.r)[0], direct);
        EXPECT_EQ((source == 0 ? rig.r : rig.l)[0], 0.0f);
    }
    EXPECT_NEAR(sumSquares, 0.5f, 0.08f);
}

TEST(FxBinaural, MonoCancelsTheSideSignal)
{
    Rig rig(44100.0f, 100.0f);
    engineSrand(3);
    std::vector<float> input(6000);
    for (float& x : input)
        x = engineRandUnit() - 0.5f;
    rig.l = input;
    rig.r.assign(input.size(), 0.0f);
    bool silent = false;
    rig.run(silent, false, 1);
    for (std::size_t i = 0; i < input.size(); ++i)
        ASSERT_NEAR(rig.l[i], input[i] * std::sqrt(0.75f), 1e-6f) << i;
}

TEST(FxBinaural, TailSoundsThenSilenceIsExact)
{
    Rig rig(44100.0f, 100.0f);
    engineSrand(11);
    rig.fill(2048, 0.0f, 0.0f);
    for (std::size_t i = 0; i < 2048; ++i)
    {
        rig.l[i] = engineRandUnit() - 0.5f;
        rig.r[i] = engineRandUnit() - 0.5f;
    }
    bool silent = false;
    rig.run(silent);

    // The first silent blocks carry the delayed tail and clear the flag.
    bool heardTail = false;
    int calls = 0;
    for (;; ++calls)
    {
        ASSERT_LT(calls, 1000);
        rig.fill(256, 0.0f, 0.0f);
        silent = true;
        rig.run(silent);
        if (silent) break;
        for (float x : rig.l)
            heardTail = heardTail || x != 0.0f;
    }
    EXPECT_TRUE(heardTail);
    EXPECT_LT(rig.unit.getOutEnergy(), FxBinaural::kSilenceEnergy);
    // From now on silent blocks stay exact zeros with the flag left true.
    for (int i = 0; i < 40; ++i)
    {
        rig.fill(256, 0.0f, 0.0f);
        silent = true;
        rig.run(silent);
        EXPECT_TRUE(silent);
        for (std::size_t j = 0; j < 256; ++j)
            ASSERT_EQ(rig.l[j], 0.0f);
    }
}

TEST(FxBinaural, SwitchedOffAfterSoundDoesNotHoldTheChainOpen)
{
    Rig rig(44100.0f, 100.0f);
    rig.fill(1024, 0.5f, -0.5f);
    bool silent = false;
    rig.run(silent);
    EXPECT_GT(rig.unit.getOutEnergy(), FxBinaural::kSilenceEnergy);

    rig.fill(256, 0.0f, 0.0f);
    silent = true;
    rig.run(silent, true);
    EXPECT_TRUE(silent);
    // With zero width the stage is as good as off.
    rig.p[FxBinaural::kHyperWidth].value = 0.0f;
    silent = true;
    rig.run(silent, false);
    EXPECT_TRUE(silent);
}

TEST(FxBinaural, RecoversFromNonFiniteInputAndStaysFiniteAtExtremes)
{
    for (float rate : {44100.0f, 96000.0f, 192000.0f})
        for (float width : {0.0f, 0.5f, 100.0f, 1000.0f})
        {
            Rig rig(rate, width);
            rig.fill(512, 0.25f, -0.25f);
            rig.l[100] = std::numeric_limits<float>::quiet_NaN();
            rig.r[200] = std::numeric_limits<float>::infinity();
            bool silent = false;
            rig.run(silent);
            for (int block = 0; block < 40; ++block)
            {
                rig.fill(512, 0.25f, -0.25f);
                silent = false;
                rig.run(silent);
                ASSERT_TRUE(allFinite(rig.l) && allFinite(rig.r)) << rate << " " << width << " " << block;
            }
            EXPECT_TRUE(std::isfinite(rig.unit.getOutEnergy()));
        }
    Rig rig;
    rig.p[FxBinaural::kHyperWidth].value = std::numeric_limits<float>::quiet_NaN();
    rig.fill(512, 0.25f, -0.25f);
    bool silent = false;
    rig.run(silent);
    EXPECT_TRUE(allFinite(rig.l) && allFinite(rig.r));
}

TEST(FxBinaural, RateChangesKeepLinesConsistent)
{
    Rig rig(192000.0f, 100.0f);
    for (float rate : {44100.0f, 8000.0f, 192000.0f, 48000.0f})
    {
        rig.unit.setup(rate, 2);
        rig.fill(5000, 0.1f, 0.2f);
        bool silent = false;
        rig.run(silent);
        EXPECT_TRUE(allFinite(rig.l) && allFinite(rig.r)) << rate;
    }
}
