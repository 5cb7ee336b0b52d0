// Engine construction: the harmonic bands, init(), the sound list with its categories, colours and
// features, and the queue intake's validation. The other lookup tables are pinned by the golden renders.

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "engine/canvas/SoundAnalysis.h"
#include "support/EngineTestHelpers.h"

namespace
{

using qmtest::EngineRig;

// Hue (0..360) of an ARGB colour.
double hueOf(uint32_t argb)
{
    const double r = (argb >> 16 & 0xff) / 255.0, g = (argb >> 8 & 0xff) / 255.0, b = (argb & 0xff) / 255.0;
    const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
    if (mx == mn) return 0.0;
    const double h = mx == r   ? (g - b) / (mx - mn)
                     : mx == g ? 2.0 + (b - r) / (mx - mn)
                               : 4.0 + (r - g) / (mx - mn);
    return std::fmod(h * 60.0 + 360.0, 360.0);
}

TEST(EngineTables, HarmonicsSitInTheirBandsWithSmoothWeights)
{
    EngineRig rig;
    const KeySpaceDSP& dsp = rig.dsp();
    for (int h = 0; h < kMaxHarmonics; ++h)
    {
        const int b = dsp.harmBand[size_t(h)];
        ASSERT_TRUE(b >= 0 && b < kNumHarmonicBands) << h;
        ASSERT_TRUE(dsp.bandStart[size_t(b)] <= h && h < dsp.bandStart[size_t(b) + 1]) << h;
        EXPECT_EQ(dsp.harmBandPos[size_t(h)], b);
        // 1 - (3 - 2x) x^2 of the position x inside the band: 1 at its start, falling towards the next.
        const double x =
            double(h - dsp.bandStart[size_t(b)]) / (dsp.bandStart[size_t(b) + 1] - dsp.bandStart[size_t(b)]);
        EXPECT_NEAR(dsp.harmBandWeight[size_t(h)], 1.0 - (3.0 - 2.0 * x) * x * x, 1e-6) << h;
    }
    EXPECT_EQ(dsp.bandStart[kNumHarmonicBands], kMaxHarmonics);
}

TEST(EngineTables, InitTakesUsableRatesOnly)
{
    KeySpaceDSP dsp({}, {}, nullptr, 0);
    EXPECT_FALSE(dsp.isInitialised());
    dsp.init(48000.0f);
    EXPECT_TRUE(dsp.isInitialised());
    EXPECT_FLOAT_EQ(dsp.binsPerHz, 262144.0f / 48000.0f);
    EXPECT_FLOAT_EQ(dsp.addSynth->binsPerHz, 262144.0f / 48000.0f);
    for (float bad : {0.0f, std::nanf(""), -44100.0f})
    {
        dsp.init(bad);
        EXPECT_EQ(dsp.sampleRate, 44100.0f) << bad;
        EXPECT_FLOAT_EQ(dsp.binsPerHz, 262144.0f / 44100.0f) << bad;
    }
}

TEST(EngineSoundList, RejectedSoundsAreSkippedAndIndicesPacked)
{
    std::vector<uint8_t> truncated = qmbank::encodeBlob(qmtest::makePlainSpec(60, 4, 1000));
    truncated.pop_back();
    EngineRig rig({qmtest::entry("Keys_Good One", qmtest::makePlainSpec(60, 4, 1000)),
                   qmtest::entry("NoUnderscore", qmtest::makePlainSpec(60, 4, 1000)),
                   {"Keys_Short", truncated},
                   {"Pads_Broken", {'Q', 'j', 0}},
                   qmtest::entry("Keys_Good Two_v2", qmtest::makePlainSpec(48, 8, 1000))});
    const KeySpaceDSP& dsp = rig.dsp();
    ASSERT_EQ(dsp.numSounds(), 2);
    EXPECT_STREQ(dsp.sounds[0].name, "Good One");
    EXPECT_STREQ(dsp.sounds[1].name, "Good Two");
    EXPECT_STREQ(dsp.sounds[1].category, "Keys");
    EXPECT_EQ(dsp.sounds[1].index, 1);
    // A rejected sound of another category between them starts no category of its own.
    EXPECT_EQ(dsp.sounds[1].categoryIndex, 0);
    EXPECT_EQ(dsp.sounds[1].colour, dsp.sounds[0].colour);
}

TEST(EngineQueueIntake, CountsIndicesModesAndChannelsAreMadeSafe)
{
    EngineRig rig({qmtest::entry("A_One", qmtest::makePlainSpec(60, 4, 1000)),
                   qmtest::entry("A_Two", qmtest::makePlainSpec(60, 4, 1000))});
    KeySpaceDSP& dsp = rig.dsp();
    NodeCanvasData hostile{};
    hostile.nodeCount = 200;
    hostile.triCount = 500;
    hostile.mode = 7;
    hostile.nodes[0].soundId = 1;
    hostile.nodes[1].soundId = 2; // past the sound list
    hostile.nodes[2].soundId = -5;
    hostile.tri[1] = {0, 1, 79}; // 79 is past the 64 nodes and 8 frame points
    hostile.tri[2] = {3, 4, 71};
    hostile.currentMix.count = 9;
    hostile.currentMix.node = {0, 70, 1};
    hostile.currentMix.weight = {0.5f, 0.5f, std::nanf("")};
    dsp.receiveCanvas(hostile);
    EXPECT_EQ(dsp.canvas.nodeCount, 64);
    EXPECT_EQ(dsp.canvas.mode, 0);
    EXPECT_EQ(dsp.canvas.triCount, kMaxTriangles - 1);
    EXPECT_EQ(dsp.canvas.tri[1][2], 71);
    EXPECT_EQ(dsp.canvas.nodes[0].soundId, 1);
    EXPECT_EQ(dsp.canvas.nodes[1].soundId, -1);
    EXPECT_EQ(dsp.canvas.nodes[2].soundId, -1);
    ASSERT_EQ(dsp.canvas.currentMix.count, 1);
    EXPECT_EQ(dsp.canvas.currentMix.weight[0], 0.5f);

    // A mix computed for another mode is dropped; a negative count empties; bad entries go.
    dsp.canvas.mode = kCanvasModeXYPad;
    NodeMix m{};
    m.mode = kCanvasModeKeyboard;
    m.count = 1;
    EXPECT_FALSE(dsp.receiveMix(m));
    m.mode = kCanvasModeXYPad;
    m.count = -4;
    EXPECT_TRUE(dsp.receiveMix(m));
    EXPECT_EQ(dsp.canvas.currentMix.count, 0);
    m.count = 3;
    m.node = {1, 70, -1};
    m.weight = {0.7f, 0.2f, 0.1f};
    EXPECT_TRUE(dsp.receiveMix(m));
    ASSERT_EQ(dsp.canvas.currentMix.count, 1);
    EXPECT_EQ(dsp.canvas.currentMix.node[0], 1);

    // Channels 1 to 16 have records of their own; anything else reads the neutral record 0.
    for (int ch : {1, 16})
        EXPECT_EQ(&dsp.channelState(ch), &dsp.channels[size_t(ch)]);
    for (int ch : {0, 17, -3})
        EXPECT_EQ(&dsp.channelState(ch), &dsp.channels[0]);
}

TEST(SoundAnalysis, CategoriesCountChangesAndColourAHueWheel)
{
    struct Case
    {
        std::vector<const char*> names;
        std::vector<int> index;
        std::vector<double> hue; // negative: the grey of uncounted categories
    };
    const Case cases[] = {
        {{"A_one", "A_two", "B_one", "A_three"},
         {0, 0, 1, 2},
         {0, 0, 120, 240}}, // a returning category is new
        {{"A_one", "B_one", "B_two", "xLab_one", "xLab_two"}, {0, 1, 1, 2, 2}, {0, 180, 180, -1, -1}},
    };
    for (const Case& c : cases)
    {
        std::vector<qmbank::BankEntry> bank;
        for (const char* n : c.names)
            bank.push_back(qmtest::entry(n, qmtest::makePlainSpec(60, 4, 300)));
        qmtest::EngineRig rig(bank);
        for (size_t i = 0; i < c.names.size(); ++i)
        {
            const InstrumentMap& m = rig.dsp().sounds[i];
            EXPECT_EQ(m.categoryIndex, c.index[i]) << c.names[i];
            if (c.hue[i] < 0)
                EXPECT_EQ(m.colour, kUncountedCategoryColour) << c.names[i];
            else
                EXPECT_NEAR(hueOf(m.colour), c.hue[i], 1.5) << c.names[i];
        }
    }
    for (int i = 0; i < 6; ++i) // six counted categories: a sixth of the wheel apart
        EXPECT_NEAR(hueOf(categoryColour(i, 5)), 60.0 * i, 1.5) << i;
    EXPECT_EQ(categoryColour(6, 5), kUncountedCategoryColour);
}

TEST(SoundAnalysis, DemoBankFeaturesMatchTheGoldenAndTellSoundsApart)
{
    qmtest::EngineRig rig(qmbank::demoBank());
    const KeySpaceDSP& dsp = rig.dsp();
    ASSERT_GE(dsp.numSounds(), 30);
    qmtest::GoldenRows rows;
    for (const InstrumentMap& m : dsp.sounds)
    {
        EXPECT_EQ(m.colour == kUncountedCategoryColour, m.category[0] == 'x') << m.category;
        rows.emplace_back(m.features.values.begin(), m.features.values.end());
        for (const auto& other : rows)
        {
            double d = 0.0;
            for (size_t i = 0; i < other.size(); ++i)
                d += (other[i] - rows.back()[i]) * (other[i] - rows.back()[i]);
            EXPECT_TRUE(&other == &rows.back() || d > 1e-6)
                << m.name << " sounds like sound " << &other - &rows[0];
        }
    }
    qmtest::expectMatchesGolden("render_features.txt", rows, 1e-4, 1e-6);
    for (const KeyVoice& v : dsp.voices) // the measuring voice is a temporary one
        EXPECT_EQ(v.state, 0u);
}

TEST(SoundAnalysis, EdgeSoundsGiveFiniteProfiles)
{
    qmtest::EngineRig rig({qmtest::entry("S_silent", qmtest::makePlainSpec(60, 20, 0)),
                           qmtest::entry("S_empty", qmtest::makePlainSpec(60, 0, 0)),
                           qmtest::entry("H_top", qmtest::makePlainSpec(127, 80, 400)),
                           qmtest::entry("H_over", qmtest::makePlainSpec(200, 10, 400))});
    const KeySpaceDSP& dsp = rig.dsp();
    ASSERT_EQ(dsp.numSounds(), 4);
    for (const InstrumentMap& m : dsp.sounds)
        for (float f : m.features.values)
            ASSERT_TRUE(std::isfinite(f)) << m.name;
    for (int s = 0; s < 2; ++s) // silent and band-less: zero profiles
        for (int i = InstrumentFeatures::kProfileEnergy; i < kNumInstrumentFeatures; ++i)
            EXPECT_EQ(dsp.sounds[size_t(s)].features[i], 0.0f) << s << " " << i;
    // Key 127 and a stored key above any note, where plain profile weights underflow: the lowest
    // profile band hears only record 0 (half the note), of steady level (400^2 x 1e-6)^2 / 2.
    const double levelC = 400.0 * 400.0 * 1e-6;
    EXPECT_NEAR(dsp.sounds[2].features[InstrumentFeatures::kProfileEnergy],
                std::pow(24.7 * std::exp(0.108 * 3.3586059) * 0.5 * levelC * levelC, 0.25), 1e-4);
    for (int s = 2; s < 4; ++s)
    {
        EXPECT_FLOAT_EQ(dsp.sounds[size_t(s)].features[InstrumentFeatures::kRegister], 77.0f / 95.0f);
        for (int j = 0; j < InstrumentFeatures::kProfileBands; ++j)
            EXPECT_GT(dsp.sounds[size_t(s)].features[InstrumentFeatures::kProfileEnergy + j], 0.0f)
                << s << " " << j;
    }
}

} // namespace
