// Sound list analysis: category numbers, category colours and the 98 features measured with a
// temporary voice at engine construction.

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Random.h"
#include "engine/canvas/SoundAnalysis.h"
#include "support/TestSounds.h"

namespace
{

constexpr int kProfileBands = InstrumentFeatures::kProfileBands;

double noteHz(int note)
{
    return 8.175799 * std::exp(note / 17.31234);
}

// The features straight from their definition, in double precision and with the plain weights
// (1 + a) e^-a: a reference for notes where those weights do not underflow.
std::vector<double> referenceFeatures(const KeyVoice& v, const int32_t* bandStart, int key, double rate)
{
    std::vector<double> f(kNumInstrumentFeatures, 0.0);
    const double hz = noteHz(key);
    const double hop = 128.0 / rate;
    std::vector<double> p, q, u, freq;
    double detNum = 0.0, detDen = 0.0;
    for (int i = 0; i < v.bandCount; ++i)
    {
        const VoiceBand& b = v.bands[static_cast<size_t>(i)];
        const double sa = b.sharpA, sab = b.sharpA + b.sharpB;
        const double e = 0.5 * b.levelC * b.levelC + (1 - std::exp(-sa)) * b.levelA * b.levelA / (2 * sa) +
                         (1 - std::exp(-sab)) * b.levelB * b.levelB / (2 * sab);
        const double s1 = sa + 0.25, s2 = sab + 0.25;
        const double r = (b.levelA / (s1 * s1) + b.levelB / (s2 * s2) + 16 * b.levelC) /
                         (b.levelA / s1 + b.levelB / s2 + 4 * b.levelC + 1e-20);
        p.push_back(e);
        q.push_back(std::sqrt(std::max(r, 0.0) * e));
        u.push_back(double(b.tonality) * b.noiseWidth / (hop * hz) * e);
        freq.push_back(i == 0 ? 0.5 * hz : bandStart[i] * hz);
        detNum += std::fabs(b.detune) * std::sqrt(e);
        detDen += std::sqrt(e);
    }
    f[0] = detNum / (detDen + 1e-20);
    f[1] = (key - 50.0) / (std::fabs(key - 50.0) + 18.0);
    for (int j = 0; j < kProfileBands; ++j)
    {
        const double w = 24.7 * std::exp(0.108 * (3.3586059 + 35.516487 * j / 31.0));
        double ws = 0, ps = 0, qs = 0, us = 0;
        for (size_t i = 0; i < p.size(); ++i)
        {
            const double a = freq[i] / w;
            const double wt = (1 + a) * std::exp(-a);
            ws += wt;
            ps += wt * p[i];
            qs += wt * q[i];
            us += wt * u[i];
        }
        f[2 + j] = std::pow(w * ps / ws, 0.25);
        f[34 + j] = std::pow(w * qs / ws, 0.25);
        f[66 + j] = std::pow(w * us / ws, 0.25);
    }
    return f;
}

// A sound with every band kind in use: decaying, transient and steady levels, detune and noise.
qmbank::BlobSpec richSpec(std::vector<int> keys)
{
    qmbank::SoundDescription d;
    d.category = "Rich";
    d.name = "Sound";
    d.zoneKeys = std::move(keys);
    d.harmonics = 60;
    d.decaySeconds = 0.8f;
    d.sustain = 0.4f;
    d.transient = 0.5f;
    d.stretch = 0.0005f;
    d.noise = 0.3f;
    d.noiseWidth = 0.5f;
    return qmbank::describeBlob(d);
}

bool allFinite(const InstrumentFeatures& f)
{
    for (float v : f.values)
        if (!std::isfinite(v)) return false;
    return true;
}

double featureDistance(const InstrumentFeatures& a, const InstrumentFeatures& b)
{
    double d = 0.0;
    for (int i = 0; i < kNumInstrumentFeatures; ++i)
        d += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return std::sqrt(d);
}

class SoundAnalysis : public ::testing::Test, protected qmtest::SoundsAndEngine
{
  protected:
    void SetUp() override { engineSrand(11); }
};

// ---- categories and colours ---------------------------------------------------------------------

TEST_F(SoundAnalysis, ReturningCategoryGetsNewIndexAndWheelColours)
{
    for (const char* name : {"A_one", "A_two", "B_one", "A_three"})
        sounds.add(name, qmtest::makePlainSpec(60, 4, 300));
    KeySpaceDSP& dsp = build();
    ASSERT_EQ(dsp.numSounds(), 4);
    const int expectedIndex[] = {0, 0, 1, 2};
    // Two counted changes: hues at 0, 1/3 and 2/3 of the wheel.
    const uint32_t expectedColour[] = {0xffff5c5cu, 0xffff5c5cu, 0xff51ff52u, 0xff8f8fffu};
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_EQ(dsp.sounds[size_t(i)].categoryIndex, expectedIndex[i]) << i;
        EXPECT_EQ(dsp.sounds[size_t(i)].colour, expectedColour[i])
            << std::hex << dsp.sounds[size_t(i)].colour;
    }
}

TEST_F(SoundAnalysis, TrailingXCategoryIsGrey)
{
    for (const char* name : {"A_one", "B_one", "B_two", "xLab_one", "xLab_two"})
        sounds.add(name, qmtest::makePlainSpec(60, 4, 300));
    KeySpaceDSP& dsp = build();
    ASSERT_EQ(dsp.numSounds(), 5);
    EXPECT_EQ(dsp.sounds[3].categoryIndex, 2);
    EXPECT_EQ(dsp.sounds[3].colour, kUncountedCategoryColour);
    EXPECT_EQ(dsp.sounds[4].colour, kUncountedCategoryColour);
    EXPECT_NE(dsp.sounds[0].colour, kUncountedCategoryColour);
    EXPECT_NE(dsp.sounds[1].colour, kUncountedCategoryColour);
    EXPECT_NE(dsp.sounds[0].colour, dsp.sounds[1].colour);
}

TEST(CategoryColour, WheelOverSixCategories)
{
    // Six counted categories: hues a sixth of the wheel apart.
    const uint32_t expected[] = {0xffff5c5cu, 0xffffff33u, 0xff51ff52u,
                                 0xff47ffffu, 0xff8f8fffu, 0xffff52ffu};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(categoryColour(i, 5), expected[i]) << i;
    EXPECT_EQ(categoryColour(6, 5), kUncountedCategoryColour);
    EXPECT_EQ(categoryColour(0, 0), 0xffff5c5cu); // a single category
}

TEST_F(SoundAnalysis, RejectedSoundsTakeNoIndex)
{
    sounds.add("A_one", qmtest::makePlainSpec(60, 4, 300));
    sounds.add("B_broken", std::vector<uint8_t>{'Q', 'j', 0}); // refused by the parser
    sounds.add("A_two", qmtest::makePlainSpec(60, 4, 300));
    KeySpaceDSP& dsp = build();
    ASSERT_EQ(dsp.numSounds(), 2);
    EXPECT_EQ(dsp.sounds[1].categoryIndex, 0);
    EXPECT_EQ(dsp.sounds[1].colour, dsp.sounds[0].colour);
}

TEST_F(SoundAnalysis, DemoBankColoursFollowItsCategories)
{
    for (const qmbank::BankEntry& e : qmbank::demoBank())
        sounds.add(e);
    KeySpaceDSP& dsp = build();
    ASSERT_GE(dsp.numSounds(), 30);
    for (const InstrumentMap& m : dsp.sounds)
    {
        const bool experimental = m.category[0] == 'x';
        EXPECT_EQ(m.colour == kUncountedCategoryColour, experimental) << m.category;
    }
    EXPECT_EQ(dsp.sounds[0].colour, 0xffff5c5cu);
}

// ---- features -----------------------------------------------------------------------------------

TEST_F(SoundAnalysis, RegisterOfTheMiddleZone)
{
    sounds.add("R_fifty", richSpec({30, 50, 90}));    // middle zone (3 / 2 = 1) at 50
    sounds.add("R_high", richSpec({40, 60, 68, 90})); // middle zone (4 / 2 = 2) at 68
    KeySpaceDSP& dsp = build();
    ASSERT_EQ(dsp.numSounds(), 2);
    EXPECT_EQ(dsp.sounds[0].features[InstrumentFeatures::kRegister], 0.0f);
    EXPECT_FLOAT_EQ(dsp.sounds[1].features[InstrumentFeatures::kRegister], 0.5f); // 18 / (18 + 18)
    EXPECT_FLOAT_EQ(registerFeature(32), -0.5f);
}

TEST_F(SoundAnalysis, FeaturesMatchTheirDefinitionAtFullVelocity)
{
    sounds.add("R_a", richSpec({62}));
    KeySpaceDSP& dsp = build();
    ASSERT_EQ(dsp.numSounds(), 1);
    const InstrumentFeatures& got = dsp.sounds[0].features;

    // The same set-up by hand: the sound alone, full velocity, at its key. The parameter table
    // now exists, so its velocity curve must give 1 for the voice to match.
    dsp.params[kParamVeloToAmp].value = 0.0f;
    auto voice = std::make_unique<KeyVoice>();
    voice->state = 1;
    voice->note = 62;
    voice->velocity = 1.0f;
    NodeMix mix{};
    mix.count = 1;
    mix.weight[0] = 1.0f;
    dsp.setVoiceData(voice.get(), mix);
    ASSERT_GT(voice->bandCount, 40);
    const std::vector<double> ref = referenceFeatures(*voice, dsp.bandStart.data(), 62, 44100.0);

    for (int i = 0; i < kNumInstrumentFeatures; ++i)
        EXPECT_NEAR(got[i], ref[size_t(i)], 1e-4 * std::fabs(ref[size_t(i)]) + 1e-9) << "feature " << i;
    // A non-silent sound has a non-zero energy profile everywhere, and some detune and noise.
    for (int j = 0; j < kProfileBands; ++j)
        EXPECT_GT(got[InstrumentFeatures::kProfileEnergy + j], 0.0f) << j;
    EXPECT_GT(got[InstrumentFeatures::kDetune], 0.0f);
    EXPECT_GT(got[InstrumentFeatures::kProfileNoise + 16], 0.0f);
}

TEST_F(SoundAnalysis, SilentAndEmptySoundsGetZeroProfiles)
{
    sounds.add("S_silent", qmtest::makePlainSpec(60, 20, 0));
    sounds.add("S_empty", qmtest::makePlainSpec(60, 0, 0)); // no band records at all
    KeySpaceDSP& dsp = build();
    ASSERT_EQ(dsp.numSounds(), 2);
    for (const InstrumentMap& m : dsp.sounds)
    {
        ASSERT_TRUE(allFinite(m.features)) << m.name;
        for (int i = InstrumentFeatures::kProfileEnergy; i < kNumInstrumentFeatures; ++i)
            EXPECT_EQ(m.features[i], 0.0f) << m.name << " " << i;
    }
}

TEST_F(SoundAnalysis, HighNoteWeightsDoNotUnderflow)
{
    // Key 127: the plain weights of the lowest profile bands underflow even in double precision
    // for the upper bands, and in single precision for all of them.
    sounds.add("H_top", qmtest::makePlainSpec(127, 80, 400));
    sounds.add("H_over", qmtest::makePlainSpec(200, 10, 400)); // a stored key above any MIDI note
    KeySpaceDSP& dsp = build();
    ASSERT_EQ(dsp.numSounds(), 2);
    for (const InstrumentMap& m : dsp.sounds)
    {
        ASSERT_TRUE(allFinite(m.features)) << m.name;
        EXPECT_FLOAT_EQ(m.features[InstrumentFeatures::kRegister], 77.0f / 95.0f) << m.name;
    }
    // The lowest profile band hears only the lowest voice band (record 0, at half the note), whose
    // steady level is (400^2 x 1e-6)^2 / 2.
    const double levelC = 400.0 * 400.0 * 1e-6;
    const double w0 = 24.7 * std::exp(0.108 * 3.3586059);
    EXPECT_NEAR(dsp.sounds[0].features[InstrumentFeatures::kProfileEnergy],
                std::pow(w0 * 0.5 * levelC * levelC, 0.25), 1e-4);
    for (int j = 0; j < kProfileBands; ++j)
        EXPECT_GT(dsp.sounds[0].features[InstrumentFeatures::kProfileEnergy + j], 0.0f) << j;
}

TEST_F(SoundAnalysis, DemoBankSoundsAreToldApart)
{
    for (const qmbank::BankEntry& e : qmbank::demoBank())
        sounds.add(e);
    KeySpaceDSP& dsp = build();
    const int n = dsp.numSounds();
    ASSERT_GE(n, 30);
    for (const InstrumentMap& m : dsp.sounds)
    {
        ASSERT_TRUE(allFinite(m.features)) << m.name;
        double profile = 0.0;
        for (int j = 0; j < kProfileBands; ++j)
            profile += m.features[InstrumentFeatures::kProfileEnergy + j];
        EXPECT_GT(profile, 0.0) << m.name;
    }
    for (int a = 0; a < n; ++a)
        for (int b = a + 1; b < n; ++b)
            EXPECT_GT(featureDistance(dsp.sounds[size_t(a)].features, dsp.sounds[size_t(b)].features), 1e-3)
                << dsp.sounds[size_t(a)].name << " / " << dsp.sounds[size_t(b)].name;
}

TEST_F(SoundAnalysis, HostileBlobsGiveFiniteFeatures)
{
    for (const qmbank::BankEntry& e : qmbank::hostileBank())
        sounds.add(e);
    KeySpaceDSP& dsp = build();
    ASSERT_GT(dsp.numSounds(), 0);
    for (const InstrumentMap& m : dsp.sounds)
    {
        EXPECT_TRUE(allFinite(m.features)) << m.name;
        EXPECT_GE(m.features[InstrumentFeatures::kRegister], -1.0f);
        EXPECT_LT(m.features[InstrumentFeatures::kRegister], 1.0f);
    }
}

TEST_F(SoundAnalysis, VoicesAreLeftUntouched)
{
    sounds.add("R_a", richSpec({60}));
    KeySpaceDSP& dsp = build();
    for (const KeyVoice& v : dsp.voices)
    {
        EXPECT_EQ(v.state, 0u);
        EXPECT_EQ(v.bandCount, 0);
    }
    EXPECT_EQ(dsp.voiceCount, 0);
}

} // namespace
