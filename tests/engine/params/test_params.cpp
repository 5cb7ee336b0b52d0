#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/fx/FxChain.h"
#include "engine/params/Param.h"
#include "engine/params/ParamTable.h"

namespace
{

// ---------------------------------------------------------------------------------------------
// Curves, checked against the formulas evaluated in double precision.

double sgnpowRef(double x, double p)
{
    return x >= 0.0 ? std::pow(x, p) : -std::pow(-x, p);
}

double unitToValRef(int curve, double lo, double hi, double k, double u)
{
    switch (curve)
    {
    case 0:
        return lo + (hi - lo) * u;
    case 1:
        return lo + (hi - lo) * sgnpowRef(u, k);
    case 2:
        return sgnpowRef(lo + (hi - lo) * u, k);
    case 3:
        return std::exp(std::log(lo) + std::log(hi / lo) * u);
    case 4:
        return k * std::log(lo + (hi - lo) * u);
    default:
        return std::round(lo + (hi - lo) * u);
    }
}

struct CurveCase
{
    int curve;
    float lo, hi, k;
};

// One representative record per curve type, all inside their domains.
const std::array<CurveCase, 6> kCurveCases = {{
    {kCurveLinear, -18.0f, 12.0f, 0.0f},
    {kCurvePowUnit, 0.01f, 20.0f, 2.0f},
    {kCurvePowValue, -2.0f, 2.0f, 3.0f},
    {kCurveExp, 20.0f, 20000.0f, 0.0f},
    {kCurveLog, 1.0f, 100.0f, 6.0f},
    {kCurveRoundLinear, 1.0f, 24.0f, 0.0f},
}};

TEST(ParamCurves, MatchDoublePrecisionReference)
{
    for (const CurveCase& c : kCurveCases)
    {
        const Param p("x", c.curve, c.lo, c.hi, c.k, "%.2f", 0.0f);
        for (int i = 0; i <= 40; ++i)
        {
            const float u = static_cast<float>(i) / 40.0f;
            const double ref = unitToValRef(c.curve, c.lo, c.hi, c.k, u);
            EXPECT_NEAR(p.convertUnitToVal(u), ref, 1e-5 * std::max(1.0, std::fabs(ref)))
                << "curve " << c.curve << " unit " << u;
        }
    }
}

TEST(ParamCurves, RoundTripPerCurveType)
{
    for (const CurveCase& c : kCurveCases)
    {
        const Param p("x", c.curve, c.lo, c.hi, c.k, "%.2f", 0.0f);
        if (c.curve == kCurveRoundLinear)
        {
            // Rounded curves are exact on their steps: value -> unit -> value.
            for (int v = static_cast<int>(c.lo); v <= static_cast<int>(c.hi); ++v)
                EXPECT_EQ(p.convertUnitToVal(p.convertValToUnit(static_cast<float>(v))),
                          static_cast<float>(v));
            continue;
        }
        for (int i = 0; i <= 40; ++i)
        {
            const float u = static_cast<float>(i) / 40.0f;
            EXPECT_NEAR(p.convertValToUnit(p.convertUnitToVal(u)), u, 2e-5f)
                << "curve " << c.curve << " unit " << u;
        }
    }
}

TEST(ParamCurves, PinnedValues)
{
    const Param pow1("x", kCurvePowUnit, 0.0f, 4.0f, 2.0f, "", 0.0f);
    EXPECT_FLOAT_EQ(pow1.convertValToUnit(1.0f), 0.5f);
    EXPECT_FLOAT_EQ(pow1.convertValToUnit(4.0f), 1.0f);

    const Param pow2("x", kCurvePowValue, -2.0f, 2.0f, 3.0f, "", 0.0f);
    EXPECT_NEAR(pow2.convertValToUnit(1.0f), 0.75f, 1e-6f);
    EXPECT_FLOAT_EQ(pow2.convertUnitToVal(0.5f), 0.0f);
    EXPECT_FLOAT_EQ(pow2.convertUnitToVal(0.0f), -8.0f);
    EXPECT_FLOAT_EQ(pow2.convertUnitToVal(1.0f), 8.0f);

    const Param expo("x", kCurveExp, 0.1f, 10.0f, 0.0f, "", 0.0f);
    EXPECT_NEAR(expo.convertUnitToVal(0.5f), 1.0f, 1e-5f);

    const Param rounded("x", kCurveRoundLinear, 1.0f, 24.0f, 0.0f, "", 0.0f);
    EXPECT_EQ(rounded.convertUnitToVal(0.5f), 13.0f); // 12.5 rounds away from zero
    EXPECT_FLOAT_EQ(rounded.convertValToUnit(13.0f), 12.0f / 23.0f);

    const Param negRounded("x", kCurveRoundLinear, -3.0f, 0.0f, 0.0f, "", 0.0f);
    EXPECT_EQ(negRounded.convertUnitToVal(0.5f), -2.0f); // -1.5 rounds away from zero
}

TEST(ParamCurves, NothingIsClampedAndUnknownCurvesGiveMinusOne)
{
    const Param lin("x", kCurveLinear, 0.0f, 100.0f, 0.0f, "", 0.0f);
    EXPECT_FLOAT_EQ(lin.convertUnitToVal(1.2f), 120.0f);
    EXPECT_FLOAT_EQ(lin.convertValToUnit(-50.0f), -0.5f);

    Param bad = lin;
    bad.curveType = 6;
    EXPECT_EQ(bad.convertUnitToVal(0.3f), -1.0f);
    EXPECT_EQ(bad.convertValToUnit(30.0f), -1.0f);
    bad.curveType = -1;
    EXPECT_EQ(bad.convertUnitToVal(0.3f), -1.0f);
}

TEST(ParamArchetypes, ValuesAtMiddleOfUnitRange)
{
    EXPECT_FLOAT_EQ(kParamArchFreq.value, 528.125f);
    EXPECT_FLOAT_EQ(kParamArchFreq.defaultValue, 528.125f);
    EXPECT_FLOAT_EQ(kParamArchFreq.convertUnitToVal(0.5f), 528.125f);
    EXPECT_FLOAT_EQ(kParamArchStretch.convertUnitToVal(0.5f), -4.0f);
    EXPECT_FLOAT_EQ(kParamArchStretch.convertValToUnit(-4.0f), 0.5f);
    EXPECT_FLOAT_EQ(kParamArchStretch.value, -4.0f);
    EXPECT_FLOAT_EQ(kParamArchTune.value, 0.0f);
    EXPECT_FLOAT_EQ(kParamArchDefault.value, 0.5f);
    EXPECT_FLOAT_EQ(kParamArchAmpDB.value, 0.0f);
    EXPECT_STREQ(kParamArchFreq.format, "%.0f Hz");
    EXPECT_STREQ(kParamArchAmpDB.format, "%.1f dB");

    for (const Param* p :
         {&kParamArchFreq, &kParamArchStretch, &kParamArchTune, &kParamArchDefault, &kParamArchAmpDB})
    {
        EXPECT_STREQ(p->name, "");
        EXPECT_STREQ(p->group, "");
        EXPECT_FALSE(p->isHostParam);
        EXPECT_EQ(p->numSnaps, 0);
        EXPECT_EQ(p->sinceVersion, 0);
        EXPECT_EQ(p->index, -1);
        EXPECT_EQ(p->numLabels, 1);
    }
}

TEST(ParamRecord, DefaultRecordIsFullyInitialised)
{
    for (const Param& p : {Param(), kLinParam})
    {
        EXPECT_EQ(p.value, 0.5f);
        EXPECT_EQ(p.defaultValue, 0.0f);
        EXPECT_TRUE(std::isnan(p.modValue));
        EXPECT_EQ(p.index, -1);
        EXPECT_EQ(p.hostIndex, -1);
        EXPECT_EQ(p.curveType, kCurveLinear);
        EXPECT_EQ(p.minValue, 0.0f);
        EXPECT_EQ(p.maxValue, 1.0f);
        EXPECT_EQ(p.exponent, 0.0f);
        EXPECT_EQ(p.numSnaps, 0);
        for (float s : p.snapValues)
            EXPECT_EQ(s, 0.0f);
        EXPECT_FALSE(p.isHostParam);
        EXPECT_EQ(p.numLabels, 0);
        for (const char* l : p.labels)
            EXPECT_EQ(l, nullptr);
        EXPECT_EQ(p.sinceVersion, 0);
        for (char c : p.format)
            EXPECT_EQ(c, '\0');
        for (char c : p.name)
            EXPECT_EQ(c, '\0');
        for (char c : p.group)
            EXPECT_EQ(c, '\0');
    }
}

TEST(ParamRecord, ConstructorWithoutDefaultTakesMiddleOfUnitRange)
{
    const Param p("Cut", kCurvePowUnit, 30.0f, 8000.0f, 4.0f, "%.0f Hz");
    EXPECT_FLOAT_EQ(p.value, p.convertUnitToVal(0.5f));
    EXPECT_FLOAT_EQ(p.defaultValue, p.value);
    EXPECT_STREQ(p.name, "Cut");

    const Param q("Mix", kCurveLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", 25.0f, "binaural", 10001000);
    EXPECT_EQ(q.value, 25.0f);
    EXPECT_EQ(q.defaultValue, 25.0f);
    EXPECT_STREQ(q.group, "binaural");
    EXPECT_EQ(q.sinceVersion, 10001000);
    EXPECT_EQ(q.index, -1);
    EXPECT_EQ(q.hostIndex, -1);
    EXPECT_FALSE(q.isHostParam);
}

// ---------------------------------------------------------------------------------------------
// Format text and labels.

TEST(ParamLabels, SplitsOnBars)
{
    const Param yesNo("x", kCurveRoundLinear, 0.0f, 1.0f, 0.0f, "no|yes", 0.0f);
    EXPECT_EQ(yesNo.numLabels, 2);
    EXPECT_STREQ(yesNo.format, "no");
    EXPECT_STREQ(yesNo.labels[0], "no");
    EXPECT_STREQ(yesNo.labels[1], "yes");
    EXPECT_EQ(yesNo.labels[0], yesNo.format);
    EXPECT_TRUE(yesNo.isChoice());

    const Param three("x", kCurveRoundLinear, 0.0f, 2.0f, 0.0f, "a|bb|", 0.0f);
    EXPECT_EQ(three.numLabels, 3);
    EXPECT_EQ(three.labels[0], three.format);
    EXPECT_STREQ(three.getLabel(1), "bb");
    EXPECT_STREQ(three.getLabel(2), "");
    EXPECT_STREQ(three.getLabel(3), "");
    EXPECT_STREQ(three.getLabel(-1), "");

    const Param plain("x", kCurveLinear, 0.0f, 1.0f, 0.0f, "%.2f s", 0.0f);
    EXPECT_EQ(plain.numLabels, 1);
    EXPECT_STREQ(plain.labels[0], "%.2f s");
    EXPECT_FALSE(plain.isChoice());

    const Param empty("x", kCurveLinear, 0.0f, 1.0f, 0.0f, "", 0.0f);
    EXPECT_EQ(empty.numLabels, 1);
    EXPECT_STREQ(empty.labels[0], "");

    Param none;
    none.setFormat(nullptr);
    EXPECT_EQ(none.numLabels, 1);
    EXPECT_STREQ(none.labels[0], "");
}

TEST(ParamLabels, HostileFormatTextsStayInsideTheRecord)
{
    // 32 bars would make 33 labels: the count stops at 32 and the last bar stays text.
    const std::string bars(32, '|');
    Param p;
    p.setFormat(bars.c_str());
    EXPECT_EQ(p.numLabels, kParamMaxLabels);
    for (int i = 0; i < kParamMaxLabels; ++i)
    {
        ASSERT_NE(p.labels[i], nullptr);
        EXPECT_GE(p.labels[i], p.format);
        EXPECT_LT(p.labels[i], p.format + kParamFormatSize);
    }
    EXPECT_STREQ(p.labels[kParamMaxLabels - 1], "|");

    // A long text is cut to 32 characters and always terminated.
    const std::string longText(60, 'x');
    p.setFormat(longText.c_str());
    EXPECT_EQ(std::strlen(p.format), kParamFormatMaxChars);
    EXPECT_EQ(p.numLabels, 1);

    const std::string exact(kParamFormatMaxChars, 'y');
    p.setFormat(exact.c_str());
    EXPECT_EQ(std::string(p.format), exact);

    // Bars past the cut make no labels.
    p.setFormat((std::string(kParamFormatMaxChars, 'a') + "|b").c_str());
    EXPECT_EQ(p.numLabels, 1);
}

TEST(ParamLabels, OutsideLabelsAreCappedAndKept)
{
    static const char* const kTexts[40] = {"t0", "t1", "t2"};
    Param p;
    p.setLabels(kTexts, 40);
    EXPECT_EQ(p.numLabels, kParamMaxLabels);
    p.setLabels(kTexts, 3);
    EXPECT_EQ(p.numLabels, 3);
    EXPECT_EQ(p.labels[2], kTexts[2]);
    EXPECT_EQ(p.labels[3], nullptr);
    p.setLabels(nullptr, 5);
    EXPECT_EQ(p.numLabels, 0);

    p.setLabels(kTexts, 3);
    const Param copy = p;
    EXPECT_EQ(copy.labels[1], kTexts[1]);
}

TEST(ParamLabels, CopiesPointIntoTheirOwnText)
{
    auto source = std::make_unique<Param>("x", kCurveRoundLinear, 0.0f, 2.0f, 0.0f, "lo|mid|hi", 0.0f);
    const Param copied(*source);
    Param assigned;
    assigned = *source;
    source.reset(); // a dangling label would now be a use after free

    for (const Param* p : {&copied, static_cast<const Param*>(&assigned)})
    {
        EXPECT_EQ(p->labels[0], p->format);
        EXPECT_EQ(p->labels[1], p->format + 3);
        EXPECT_STREQ(p->labels[1], "mid");
        EXPECT_STREQ(p->labels[2], "hi");
        EXPECT_EQ(p->numLabels, 3);
    }

    // Growing a vector copies every record.
    std::vector<Param> records;
    for (int i = 0; i < 50; ++i)
        records.emplace_back("x", kCurveRoundLinear, 0.0f, 1.0f, 0.0f, "no|yes", 0.0f);
    for (const Param& p : records)
    {
        EXPECT_EQ(p.labels[1], p.format + 3);
        EXPECT_STREQ(p.labels[1], "yes");
    }
}

TEST(ParamRecord, SetFillsInPlaceAndKeepsNumbering)
{
    Param p;
    p.index = 12;
    p.hostIndex = 3;
    p.isHostParam = true;
    p.modValue = 7.0f;
    p.setSnaps({1.0f, 2.0f, 3.0f, 4.0f, 5.0f});
    EXPECT_EQ(p.numSnaps, kParamMaxSnaps);

    p.set("Reverb_Decay Time", kCurvePowUnit, 0.1f, 30.0f, 2.0f, "%.2f s", 2.5f, "", 10001000);
    EXPECT_EQ(p.index, 12);
    EXPECT_EQ(p.hostIndex, 3);
    EXPECT_EQ(p.modValue, 7.0f);
    EXPECT_EQ(p.numSnaps, kParamMaxSnaps);
    EXPECT_FALSE(p.isHostParam);
    EXPECT_EQ(p.value, 2.5f);
    EXPECT_EQ(p.defaultValue, 2.5f);
    EXPECT_STREQ(p.name, "Reverb_Decay Time");

    const std::string longName(50, 'n');
    p.setName(longName.c_str());
    EXPECT_EQ(std::strlen(p.name), kParamNameSize - 1);
    p.setGroup(nullptr);
    EXPECT_STREQ(p.group, "");
}

// ---------------------------------------------------------------------------------------------
// Version texts.

TEST(VersionString, ExamplesAndOrdering)
{
    EXPECT_EQ(versionStringToInt("1.2.0"), 10200000);
    EXPECT_EQ(versionStringToInt("1.0.1"), 10001000);
    EXPECT_EQ(versionStringToInt("1.0.2"), 10002000);
    EXPECT_EQ(versionStringToInt("1.0.0beta6"), 9999906);
    EXPECT_EQ(versionStringToInt("1.1.0beta2"), 10099902);
    EXPECT_EQ(versionStringToInt(""), 0);
    EXPECT_EQ(versionStringToInt("2"), 20000000);
    EXPECT_EQ(versionStringToInt("1.2"), 10200000);
    EXPECT_EQ(versionStringToInt("1.2.3.4"), 10203004);
    EXPECT_EQ(versionStringToInt("beta"), -100);
    EXPECT_EQ(versionStringToInt("1.0beta"), 9999900);
    EXPECT_LT(versionStringToInt("1.2.0beta9"), versionStringToInt("1.2.0"));
}

TEST(VersionString, UnknownCharactersGiveZero)
{
    EXPECT_EQ(versionStringToInt("1.2.0rc1"), 0);
    EXPECT_EQ(versionStringToInt("v1.2"), 0);
    EXPECT_EQ(versionStringToInt("1.2 "), 0);
    EXPECT_EQ(versionStringToInt("1.2.0b"), 0);
    EXPECT_EQ(versionStringToInt("1.2.0be"), 0);
    EXPECT_EQ(versionStringToInt("1.2.0bet"), 0);
    EXPECT_EQ(versionStringToInt("-1"), 0);
    EXPECT_EQ(versionStringToInt(nullptr), 0);
}

TEST(VersionString, HostileTexts)
{
    // Five or more fields would index past the four weights.
    EXPECT_EQ(versionStringToInt("1.2.3.4.5"), 0);
    EXPECT_EQ(versionStringToInt("1.2.0beta3.1"), 0);
    EXPECT_EQ(versionStringToInt("........"), 0);
    EXPECT_EQ(versionStringToInt("betabetabetabeta"), 0);

    // Huge numbers saturate instead of wrapping, and still count as newer.
    EXPECT_EQ(versionStringToInt("99999999999999999999999"), INT32_MAX);
    EXPECT_EQ(versionStringToInt("4294967296.0.0"), INT32_MAX);
    EXPECT_EQ(versionStringToInt("1.0.0.99999999999999"), INT32_MAX);
    EXPECT_EQ(versionStringToInt("215"), INT32_MAX);
    EXPECT_GT(versionStringToInt("999.0.0"), versionStringToInt("1.2.0"));

    // Reading stops after 64 characters with the total so far, without the pending number.
    EXPECT_EQ(versionStringToInt(("1." + std::string(100, '0')).c_str()), 10000000);
    EXPECT_EQ(versionStringToInt(std::string(100, '7').c_str()), 0);

    // A buffer of exactly 64 characters without a terminator is never read past its end.
    const auto unterminated = std::make_unique<char[]>(64);
    std::memset(unterminated.get(), '1', 64);
    unterminated[1] = '.';
    EXPECT_EQ(versionStringToInt(unterminated.get()), 10000000);
    std::memset(unterminated.get() + 2, '0', 62);
    std::memcpy(unterminated.get() + 60, "beta", 4); // ends exactly at the limit: still read
    EXPECT_EQ(versionStringToInt(unterminated.get()), 9999900);
    std::memset(unterminated.get() + 2, '0', 62);
    std::memcpy(unterminated.get() + 61, "bet", 3); // would need a character past the limit
    EXPECT_EQ(versionStringToInt(unterminated.get()), 10000000);
}

// ---------------------------------------------------------------------------------------------
// The engine table.

struct EngineTable
{
    FxChain fx;
    std::vector<Param> params;
    std::vector<int32_t> hostParamIndex;
    int32_t hostParamCount = -7;
    std::vector<int32_t> modTargets;
    std::vector<float> modTargetScales;

    EngineTable()
    {
        buildParamTable(params, hostParamIndex, hostParamCount, modTargets, modTargetScales, fx);
    }
    const Param& operator[](int i) const { return params.at(static_cast<std::size_t>(i)); }
};

class ParamTableTest : public ::testing::Test
{
  protected:
    EngineTable table;
};

TEST_F(ParamTableTest, SizeAndIndices)
{
    ASSERT_EQ(table.params.size(), 135u);
    ASSERT_EQ(table.hostParamIndex.size(), 135u);
    for (int i = 0; i < 135; ++i)
        EXPECT_EQ(table[i].index, i);
}

TEST_F(ParamTableTest, HostNumbering)
{
    EXPECT_EQ(table.hostParamCount, 13);
    const std::vector<int32_t> expected = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 36, 48, 50};
    for (int h = 0; h < 135; ++h)
        EXPECT_EQ(table.hostParamIndex[static_cast<std::size_t>(h)],
                  h < 13 ? expected[static_cast<std::size_t>(h)] : 0);

    for (int i = 0; i < 135; ++i)
    {
        const auto it = std::find(expected.begin(), expected.end(), i);
        const int hostIndex = it == expected.end() ? -1 : static_cast<int>(it - expected.begin());
        EXPECT_EQ(table[i].hostIndex, hostIndex) << "record " << i;
        EXPECT_EQ(table[i].isHostParam, hostIndex >= 0) << "record " << i;
    }
    EXPECT_STREQ(table[36].name, "Stereo Spread");
    EXPECT_STREQ(table[48].name, "Reverb_Wet Mix");
    EXPECT_STREQ(table[50].name, "Reverb_Decay Time");
}

TEST_F(ParamTableTest, MainRecords)
{
    // The two "Life" records are told apart by index and group.
    EXPECT_STREQ(table[kParamLife].name, "Life");
    EXPECT_STREQ(table[kParamVibratoLife].name, "Life");
    EXPECT_STREQ(table[kParamLife].group, "");
    EXPECT_STREQ(table[kParamVibratoLife].group, "vibrato");

    EXPECT_STREQ(table[kParamGain].format, "%+03.1fdB");
    EXPECT_EQ(table[kParamGain].minValue, -18.0f);
    EXPECT_EQ(table[kParamGain].maxValue, 12.0f);
    EXPECT_EQ(table[kParamTimeWarp].numSnaps, 2);
    EXPECT_EQ(table[kParamTimeWarp].snapValues[0], 0.0f);
    EXPECT_EQ(table[kParamTimeWarp].snapValues[1], 1.0f);
    EXPECT_EQ(table[kParamFatness].snapValues[0], 1.0f);
    EXPECT_EQ(table[kParamMorphX].numSnaps, 0);
    EXPECT_EQ(table[kParamPolyphony].curveType, kCurveRoundLinear);
    EXPECT_EQ(table[kParamPolyphony].value, 16.0f);
    EXPECT_STREQ(table[kParamVeloToAmp].name, "Velo > Amp");
    EXPECT_STREQ(table[kParamVeloToAmp].group, "key ctrl");
    EXPECT_EQ(table[kParamHiLoRez].defaultValue, 0.5f);

    // Records with an empty format text have one empty label.
    for (int i = kParamBrightness; i <= kParamHiLoRez; ++i)
    {
        EXPECT_EQ(table[i].numLabels, 1);
        EXPECT_STREQ(table[i].getLabel(0), "");
    }
    // A fresh table starts every value at its default.
    for (int i = 0; i < kNumMainParams; ++i)
        EXPECT_EQ(table[i].value, table[i].defaultValue) << "record " << i;
}

TEST_F(ParamTableTest, TimeWarpAndModAmountCurves)
{
    const Param& timeWarp = table[kParamTimeWarp];
    EXPECT_NEAR(timeWarp.convertValToUnit(timeWarp.defaultValue), 0.75f, 1e-6f);

    for (int s = 0; s < 8; ++s)
    {
        const Param& amount = table[103 + 4 * s + 1];
        EXPECT_STREQ(amount.name, "Mod_Amount");
        EXPECT_FLOAT_EQ(amount.convertUnitToVal(0.5f), 0.0f);
        EXPECT_FLOAT_EQ(amount.convertUnitToVal(1.0f), 64.0f);
        EXPECT_FLOAT_EQ(amount.convertUnitToVal(0.0f), -64.0f);
        EXPECT_EQ(amount.numSnaps, 1);
        EXPECT_EQ(amount.snapValues[0], 0.0f);
        EXPECT_EQ(amount.value, 0.0f);
    }
}

TEST_F(ParamTableTest, SinceVersions)
{
    std::vector<int32_t> expected(135, 0);
    expected[14] = 10001000;
    expected[21] = expected[22] = 10002000;
    for (int i = 23; i <= 26; ++i)
        expected[static_cast<std::size_t>(i)] = 10200000;
    expected[37] = 9999906;  // Hyper Width
    expected[56] = 10001000; // Reverb_Feedback
    for (int i = 77; i < 135; ++i)
        expected[static_cast<std::size_t>(i)] = 10001000;
    expected[91 + 5] = expected[97 + 5] = 10099902; // Env_Retrigger
    for (int i = 0; i < 135; ++i)
        EXPECT_EQ(table[i].sinceVersion, expected[static_cast<std::size_t>(i)]) << "record " << i;
}

TEST_F(ParamTableTest, SwitchesAndEffectSlices)
{
    for (int i = 27; i <= 33; ++i)
    {
        const Param& s = table[i];
        EXPECT_STREQ(s.name, "FxIsOn");
        EXPECT_STREQ(s.format, "%.0f");
        EXPECT_EQ(s.defaultValue, 0.0f);
        const bool on = i == 27 || i == 30 || i == 32;
        EXPECT_EQ(s.value, on ? 1.0f : 0.0f) << "switch " << i;
    }

    const std::array<const char*, 43> names = {"Stereo X",
                                               "Stereo Y",
                                               "Stereo Spread",
                                               "Hyper Width",
                                               "Wet Mix",
                                               "Sample Rate",
                                               "Noise",
                                               "Envelope",
                                               "Low Freq",
                                               "High Freq",
                                               "Low Gain",
                                               "High Gain",
                                               "Low Q",
                                               "High Q",
                                               "Reverb_Wet Mix",
                                               "Reverb_Pre-Delay",
                                               "Reverb_Decay Time",
                                               "Reverb_Damping",
                                               "Reverb_Modulation",
                                               "Reverb_Stereo Width",
                                               "Reverb_Filter Freq",
                                               "Reverb_Filter Width",
                                               "Reverb_Feedback",
                                               "Wet Mix",
                                               "Flange/Phase",
                                               "Frequency",
                                               "Mod Amp",
                                               "Mod Freq",
                                               "Mod Stereo",
                                               "Feedback",
                                               "Phase Stages",
                                               "Ratio",
                                               "Threshold",
                                               "Attack Time",
                                               "Release Time",
                                               "Optical",
                                               "Stereo Link",
                                               "Wet Mix",
                                               "Drive",
                                               "Bias",
                                               "Foldover",
                                               "Center Freq",
                                               "Bandwidth"};
    for (int i = 0; i < 43; ++i)
        EXPECT_STREQ(table[34 + i].name, names[static_cast<std::size_t>(i)]) << "record " << 34 + i;
    EXPECT_STREQ(table[kParamHyperWidth].group, "binaural");
}

TEST_F(ParamTableTest, LfoBlocks)
{
    const char* const shapes[9] = {"Sine",    "Triangle", "Saw",   "SoftSaw",    "Square",
                                   "Sigmoid", "Expo",     "Noise", "Sample&Hold"};
    const char* const divisions[15] = {"4/1",  "3/1", "2/1", "3/2",  "1/1",  "6/8",  "1/2", "1/4",
                                       "3/16", "1/6", "1/8", "1/12", "1/16", "1/24", "1/32"};
    for (int l = 0; l < 2; ++l)
    {
        const int base = 77 + 7 * l;
        const Param& shape = table[base];
        EXPECT_STREQ(shape.name, "LFO_Shape");
        EXPECT_EQ(shape.numLabels, 9);
        EXPECT_EQ(shape.maxValue, 8.0f);
        for (int i = 0; i < 9; ++i)
            EXPECT_STREQ(shape.labels[static_cast<std::size_t>(i)], shapes[i]);
        EXPECT_STREQ(shape.getLabel(8), "Sample&Hold");

        EXPECT_STREQ(table[base + 1].name, "LFO_Phase");
        EXPECT_STREQ(table[base + 3].name, "LFO_Speed");
        EXPECT_EQ(table[base + 3].value, 1.0f);

        const Param& division = table[base + 4];
        EXPECT_STREQ(division.name, "LFO_Speed");
        EXPECT_EQ(division.numLabels, 15);
        EXPECT_EQ(division.maxValue, 14.0f);
        for (int i = 0; i < 15; ++i)
            EXPECT_STREQ(division.getLabel(i), divisions[i]);
        EXPECT_STREQ(division.getLabel(5), "6/8");
        EXPECT_STREQ(division.getLabel(static_cast<int>(division.defaultValue)), "3/1");

        for (int j : {2, 5, 6})
        {
            const Param& yesNo = table[base + j];
            EXPECT_EQ(yesNo.numLabels, 2);
            EXPECT_STREQ(yesNo.format, "no");
            EXPECT_STREQ(yesNo.labels[0], "no");
            EXPECT_STREQ(yesNo.labels[1], "yes");
            EXPECT_EQ(yesNo.curveType, kCurveRoundLinear);
            EXPECT_EQ(yesNo.value, j == 2 ? 0.0f : 1.0f);
        }
        EXPECT_EQ(table[base].hostIndex, -1);
    }
}

TEST_F(ParamTableTest, EnvelopeBlocks)
{
    const char* const names[6] = {"Env_Initial", "Env_Attack",  "Env_Decay",
                                  "Env_Sustain", "Env_Release", "Env_Retrigger"};
    const float defaults[6] = {0.2f, 10.0f, 0.3f, 0.5f, 0.4f, 0.0f};
    for (int e = 0; e < 2; ++e)
        for (int j = 0; j < 6; ++j)
        {
            const Param& p = table[91 + 6 * e + j];
            EXPECT_STREQ(p.name, names[j]);
            EXPECT_EQ(p.value, defaults[j]);
            EXPECT_EQ(p.defaultValue, defaults[j]);
            EXPECT_EQ(p.hostIndex, -1);
        }
    EXPECT_EQ(table[92].maxValue, 5000.0f);
    EXPECT_EQ(table[92].curveType, kCurvePowUnit);
}

TEST_F(ParamTableTest, ModulationSlotsAndTargets)
{
    const std::vector<int32_t> targets = {6, 7, 0, 1, 22, 2, 21, 3, 5, 17, 23, 24, 25, 26};
    const std::vector<float> scales = {0.1f, 0.1f, 1, 1, 0.1f, 1, 0.1f, 1, 1, 100, 1, 100, 1, 1};
    EXPECT_EQ(table.modTargets, targets);
    EXPECT_EQ(table.modTargetScales, scales);

    const char* const sources[6] = {"-", "LFO 1", "LFO 2", "Env 1", "Env 2", "Constant"};
    const char* const scalers[6] = {"-", "Velocity", "Mod Wheel", "Aftertouch", "NoteNumber", "NoteFreq"};
    for (int s = 0; s < 8; ++s)
    {
        const int base = 103 + 4 * s;
        const Param& source = table[base];
        EXPECT_STREQ(source.name, "Mod_Source");
        EXPECT_EQ(source.value, 0.0f);
        ASSERT_EQ(source.numLabels, 6);
        const Param& scaler = table[base + 2];
        EXPECT_STREQ(scaler.name, "Mod_Scaler");
        ASSERT_EQ(scaler.numLabels, 6);
        for (int i = 0; i < 6; ++i)
        {
            EXPECT_STREQ(source.getLabel(i), sources[i]);
            EXPECT_STREQ(scaler.getLabel(i), scalers[i]);
        }

        const Param& target = table[base + 3];
        EXPECT_STREQ(target.name, "Mod_Target");
        EXPECT_EQ(target.maxValue, 13.0f);
        EXPECT_EQ(target.value, static_cast<float>(s));
        EXPECT_EQ(target.defaultValue, static_cast<float>(s));
        ASSERT_EQ(target.numLabels, 14);
        for (int t = 0; t < 14; ++t)
            EXPECT_EQ(target.labels[static_cast<std::size_t>(t)],
                      table[targets[static_cast<std::size_t>(t)]].name);
    }
    EXPECT_STREQ(table[103 + 4 * 7 + 3].getLabel(7), "Formant");
}

TEST_F(ParamTableTest, EveryChoiceFollowsTheChoiceRule)
{
    for (const Param& p : table.params)
    {
        if (p.isChoice())
        {
            EXPECT_EQ(p.curveType, kCurveRoundLinear) << p.index;
            EXPECT_EQ(p.minValue, 0.0f) << p.index;
            EXPECT_EQ(p.maxValue, static_cast<float>(p.numLabels - 1)) << p.index;
        }
    }
}

TEST(ParamTableBuild, CopiedTableAndSecondEngineStayValid)
{
    auto first = std::make_unique<EngineTable>();
    const std::vector<Param> copy = first->params;
    first.reset();
    const EngineTable second;

    const Param& sync = copy[79];
    EXPECT_EQ(sync.labels[1], sync.format + 3);
    EXPECT_STREQ(sync.labels[1], "yes");
    EXPECT_STREQ(copy[81].getLabel(5), "6/8");
    for (std::size_t i = 0; i < copy.size(); ++i)
    {
        EXPECT_STREQ(copy[i].name, second.params[i].name);
        EXPECT_EQ(copy[i].value, second.params[i].value);
        EXPECT_EQ(copy[i].hostIndex, second.params[i].hostIndex);
    }
}

// A stand-in unit with a chosen parameter count.
class CountingUnit : public FxUnit
{
  public:
    explicit CountingUnit(int count) : count(count) {}
    void process(float**, float**, int, int, bool&, bool) noexcept override {}
    int getNumParams() const override { return count; }
    void setParamPtr(Param* first) override
    {
        params = first;
        for (int i = 0; i < count; ++i)
            first[i].set("unit", kCurveLinear, 0.0f, 1.0f, 0.0f, "%.2f", 0.0f);
    }

  private:
    int count;
};

TEST(ParamTableBuild, RefusesChainsThatWouldMoveTheLayout)
{
    std::vector<std::unique_ptr<CountingUnit>> owned;
    FxUnitList units{};
    for (int slot = 0; slot < kNumFxUnits; ++slot)
    {
        owned.push_back(std::make_unique<CountingUnit>(kFxParamCounts[static_cast<std::size_t>(slot)]));
        units[static_cast<std::size_t>(slot)] = owned.back().get();
    }
    std::vector<Param> params;
    std::vector<int32_t> hostParamIndex, modTargets;
    std::vector<float> scales;
    int32_t hostCount = 0;
    buildParamTable(params, hostParamIndex, hostCount, modTargets, scales, units);
    EXPECT_EQ(params.size(), 135u);
    EXPECT_EQ(hostCount, 12); // stand-ins flag nothing: 0-9 and the two reverb records

    CountingUnit tooMany(5);
    units[0] = &tooMany;
    EXPECT_THROW(buildParamTable(params, hostParamIndex, hostCount, modTargets, scales, units),
                 std::logic_error);
    units[0] = nullptr;
    EXPECT_THROW(buildParamTable(params, hostParamIndex, hostCount, modTargets, scales, units),
                 std::logic_error);
}

} // namespace
