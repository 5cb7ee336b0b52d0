// Engine construction: lookup tables, initial state, init() and the queue intake's validation.

#include <cmath>
#include <cstring>
#include <numeric>

#include <gtest/gtest.h>

#include "support/TestSounds.h"
#include "engine/Random.h"

namespace
{

using qmtest::TestEngine;
using qmtest::TestSoundList;

class EngineTables : public ::testing::Test
{
  protected:
    void SetUp() override { engineSrand(1); }
    TestEngine rig;
    KeySpaceDSP& dsp() { return rig.dsp(); }
};

TEST_F(EngineTables, BandStartsFollowTheGrowthRule)
{
    for (int b = 0; b < 40; ++b)
        EXPECT_EQ(dsp().bandStart[b], b);
    const int expected[] = {40,  44,  48,  52,  57,  62,  68,  74,  81,  88,  96,  105, 114, 124,
                            135, 147, 160, 174, 190, 207, 226, 246, 268, 292, 318, 347, 378};
    for (int i = 0; i < 27; ++i)
        EXPECT_EQ(dsp().bandStart[40 + i], expected[i]) << "band " << 40 + i;
    // Every entry past the last band, including the room for bandStart[bandCount + 1], holds 384.
    for (int b = 67; b < kBandTableSize; ++b)
        EXPECT_EQ(dsp().bandStart[b], 384) << "band " << b;
}

TEST_F(EngineTables, HarmonicBandsPositionsAndWeights)
{
    for (int h = 0; h < kMaxHarmonics; ++h)
    {
        const int b = dsp().harmBand[h];
        ASSERT_GE(b, 0);
        ASSERT_LT(b, kNumHarmonicBands);
        EXPECT_LE(dsp().bandStart[b], h);
        EXPECT_LT(h, dsp().bandStart[b + 1]);
        EXPECT_EQ(dsp().harmBandPos[h], b);
    }
    EXPECT_EQ(dsp().harmBand[39], 39);
    EXPECT_EQ(dsp().harmBand[40], 40);
    EXPECT_EQ(dsp().harmBand[43], 40);
    EXPECT_EQ(dsp().harmBand[44], 41);
    EXPECT_EQ(dsp().harmBand[383], 66);

    // 1 - (3 - 2x) x^2 of the position inside the band: 1 at a band's start, 0.5 half-way.
    EXPECT_FLOAT_EQ(dsp().harmBandWeight[10], 1.0f);
    EXPECT_FLOAT_EQ(dsp().harmBandWeight[40], 1.0f);
    EXPECT_FLOAT_EQ(dsp().harmBandWeight[42], 0.5f);
    const float x = 1.0f / 6.0f; // harmonic 379 in the last band 378..383
    EXPECT_NEAR(dsp().harmBandWeight[379], 1.0f - (3.0f - 2.0f * x) * x * x, 1e-6f);
}

TEST_F(EngineTables, BandInverseWidths)
{
    for (int b = 0; b < 40; ++b)
        EXPECT_FLOAT_EQ(dsp().bandInvWidth[b], 1.0f);
    EXPECT_FLOAT_EQ(dsp().bandInvWidth[40], 0.25f);
    EXPECT_FLOAT_EQ(dsp().bandInvWidth[44], 1.0f / 5.0f); // 57..61
    EXPECT_FLOAT_EQ(dsp().bandInvWidth[66], 1.0f / 6.0f); // 378..383
    for (int b = 67; b < kMaxBands; ++b)
        EXPECT_FLOAT_EQ(dsp().bandInvWidth[b], 1.0f);
}

TEST_F(EngineTables, RotationTableIsAQuarterTurnAhead)
{
    EXPECT_NEAR(dsp().rotTable[0].re, 0.0f, 1e-7f);
    EXPECT_NEAR(dsp().rotTable[0].im, -1.0f, 1e-7f);
    EXPECT_NEAR(dsp().rotTable[256].re, 1.0f, 1e-7f);
    EXPECT_NEAR(dsp().rotTable[256].im, 0.0f, 1e-7f);
    EXPECT_NEAR(dsp().rotTable[512].im, 1.0f, 1e-7f);
    for (int k = 0; k < kRotTableSize; ++k)
    {
        const double a = 2.0 * M_PI * k / 1024.0;
        EXPECT_NEAR(dsp().rotTable[k].re, std::sin(a), 1e-6) << k;
        EXPECT_NEAR(dsp().rotTable[k].im, -std::cos(a), 1e-6) << k;
    }
}

TEST_F(EngineTables, RandomTablesHaveUnitVariance)
{
    double sum = 0.0, sumSq = 0.0;
    for (const CF& c : dsp().randTable)
    {
        EXPECT_LE(std::fabs(c.re), 1.2248f);
        EXPECT_LE(std::fabs(c.im), 1.2248f);
        sum += c.re + c.im;
        sumSq += c.re * c.re + c.im * c.im;
    }
    EXPECT_NEAR(sum / 2048.0, 0.0, 0.1);
    // Each part is uniform with variance 0.5, so the complex values have unit mean power.
    EXPECT_NEAR(sumSq / 1024.0, 1.0, 0.1);

    // The real table comes from its own generator seeded with 1234567: the same in every engine.
    uint32_t u = 1234567u;
    for (int k = 0; k < 3; ++k)
    {
        u = u * 1664525u + 1013904223u;
        EXPECT_FLOAT_EQ(dsp().randTableReal[k], (static_cast<float>(u) * 2.3283064e-10f - 0.5f) * 3.4641016f);
    }
    engineSrand(99);
    TestEngine other;
    EXPECT_EQ(0, std::memcmp(dsp().randTableReal.data(), other.dsp().randTableReal.data(),
                             sizeof(float) * kRandTableSize));
    const double mean = std::accumulate(dsp().randTableReal.begin(), dsp().randTableReal.end(), 0.0) / 1024.0;
    EXPECT_NEAR(mean, 0.0, 0.1);
}

TEST_F(EngineTables, ErbBandWidthsAreOneErbWide)
{
    auto hz = [](double e) { return 228.83083 * (std::exp(0.10794 * e) - 1.0); };
    for (int i = 0; i < kNumErbBands; ++i)
        EXPECT_NEAR(dsp().erbBandWidthHz[i], hz(i + 2.4924891) - hz(i + 1.4924891), 1e-3 * (1.0 + i)) << i;
    EXPECT_NEAR(dsp().erbBandWidthHz[0], 30.64, 0.01);
    for (int i = 1; i < kNumErbBands; ++i)
        EXPECT_GT(dsp().erbBandWidthHz[i], dsp().erbBandWidthHz[i - 1]);
}

TEST_F(EngineTables, StartStateAndInit)
{
    EXPECT_FALSE(dsp().isInitialised());
    EXPECT_EQ(dsp().sampleRate, 44100.0f);
    EXPECT_EQ(dsp().binsPerHz, 0.0f);
    EXPECT_EQ(dsp().tempoBpm, 120.0);
    EXPECT_EQ(dsp().lastHostPosition, -100.0);
    EXPECT_EQ(dsp().hostPlaying, 0);
    EXPECT_EQ(dsp().voiceCount, 0);
    EXPECT_EQ(dsp().scratchA.size(), 768u);
    EXPECT_EQ(dsp().scratchB.size(), 768u);
    EXPECT_EQ(dsp().params.size(), 135u);
    EXPECT_EQ(dsp().hostParamCount, 13);
    EXPECT_EQ(dsp().modTargets.size(), 14u);
    EXPECT_TRUE(dsp().sounds.empty());
    EXPECT_FLOAT_EQ(dsp().canvas.keyOffsetX, -0.4f);
    EXPECT_FLOAT_EQ(dsp().canvas.keyOctaveWidth, 0.2f);
    EXPECT_EQ(dsp().canvas.mode, 0);
    for (const FxUnit* unit : dsp().fx)
        EXPECT_NE(unit, nullptr);
    ASSERT_NE(dsp().modulators, nullptr);
    EXPECT_EQ(dsp().modulators->params, &dsp().params[77]);
    for (const LFO& lfo : dsp().globalMod.lfo)
    {
        EXPECT_FLOAT_EQ(lfo.prevPhase, 0.99f);
        EXPECT_GE(lfo.rndOld, -1.0f);
        EXPECT_LE(lfo.rndOld, 1.0f);
    }

    dsp().init(48000.0f);
    EXPECT_TRUE(dsp().isInitialised());
    EXPECT_EQ(dsp().sampleRate, 48000.0f);
    EXPECT_FLOAT_EQ(dsp().binsPerHz, 262144.0f / 48000.0f);
    EXPECT_FLOAT_EQ(dsp().addSynth->binsPerHz, 262144.0f / 48000.0f);
    // Re-initialising at the default rate still counts (the flag, not the rate, says so).
    dsp().init(44100.0f);
    EXPECT_FLOAT_EQ(dsp().binsPerHz, 5.9443083f);
    // An unusable rate falls back to the default instead of dividing by zero.
    dsp().init(0.0f);
    EXPECT_EQ(dsp().sampleRate, 44100.0f);
    dsp().init(std::nanf(""));
    EXPECT_EQ(dsp().sampleRate, 44100.0f);
    EXPECT_TRUE(std::isfinite(dsp().binsPerHz));
}

TEST_F(EngineTables, FreshVoices)
{
    for (const KeyVoice& v : dsp().voices)
    {
        EXPECT_EQ(v.state, 0u);
        EXPECT_EQ(v.needsSetup, 1);
        EXPECT_EQ(v.onsetPending, 0);
        EXPECT_EQ(v.timePos, 0.0f);
        EXPECT_EQ(v.jitterRate, 1.0f);
        EXPECT_EQ(v.jitterAmplitude, 1.0f);
        EXPECT_EQ(v.jitterPhase, 1.0f);
        EXPECT_EQ(v.jitterOld, 0.0f);
        EXPECT_EQ(v.bandCount, 0);
        EXPECT_EQ(v.voiceResonanceCount, 0);
        EXPECT_EQ(v.voiceHarmonicCount, 0);
        EXPECT_EQ(v.mix.count, 0);
        EXPECT_EQ(v.resonances[0].noise.phase, 1.0f);
        EXPECT_EQ(v.resonances[63].noise.new2.im, 0.0f);
        EXPECT_EQ(v.vibrato.lanes[0].rate, 4.0f);
        EXPECT_EQ(v.vibrato.lanes[1].phase, 1.0f);
        EXPECT_FLOAT_EQ(v.mod.lfo[1].prevPhase, 0.99f);
    }
}

TEST_F(EngineTables, ChannelSixteenHasItsOwnNeutralRecord)
{
    EXPECT_EQ(dsp().channels.size(), 17u);
    for (const ChannelState& c : dsp().channels)
    {
        EXPECT_EQ(c.bend, 0.0f);
        EXPECT_EQ(c.sustain, 0.0f);
    }
    EXPECT_EQ(&dsp().channelState(16), &dsp().channels[16]);
    EXPECT_EQ(&dsp().channelState(1), &dsp().channels[1]);
    EXPECT_EQ(&dsp().channelState(0), &dsp().channels[0]);
    EXPECT_EQ(&dsp().channelState(17), &dsp().channels[0]);
    EXPECT_EQ(&dsp().channelState(-3), &dsp().channels[0]);
}

TEST(EngineSoundList, RejectedSoundsAreSkippedAndIndicesPacked)
{
    TestSoundList sounds;
    sounds.add("Keys_Good One", qmtest::makePlainSpec(60, 4, 1000));
    sounds.add("NoUnderscore", qmtest::makePlainSpec(60, 4, 1000));
    std::vector<uint8_t> truncated = qmbank::encodeBlob(qmtest::makePlainSpec(60, 4, 1000));
    truncated.pop_back();
    sounds.add("Keys_Short", truncated);
    sounds.add("Pads_Good Two_v2", qmtest::makePlainSpec(48, 8, 1000));
    TestEngine rig(&sounds);
    ASSERT_EQ(rig.dsp().numSounds(), 2);
    EXPECT_STREQ(rig.dsp().sounds[0].name, "Good One");
    EXPECT_STREQ(rig.dsp().sounds[1].name, "Good Two");
    EXPECT_STREQ(rig.dsp().sounds[1].category, "Pads");
    EXPECT_EQ(rig.dsp().sounds[0].index, 0);
    EXPECT_EQ(rig.dsp().sounds[1].index, 1);
}

TEST(EngineQueueIntake, CanvasCountsAndIndicesAreMadeSafe)
{
    TestSoundList sounds;
    sounds.add("A_One", qmtest::makePlainSpec(60, 4, 1000));
    sounds.add("A_Two", qmtest::makePlainSpec(60, 4, 1000));
    TestEngine rig(&sounds);
    KeySpaceDSP& dsp = rig.dsp();

    NodeCanvasData hostile{};
    hostile.nodeCount = 200;
    hostile.triCount = 500;
    hostile.mode = 7;
    hostile.nodes[0].soundId = 1;
    hostile.nodes[1].soundId = 2; // past the sound list
    hostile.nodes[2].soundId = -5;
    hostile.tri[0] = {0, 1, 2};
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
    EXPECT_EQ(dsp.canvas.currentMix.node[0], 0);
    EXPECT_EQ(dsp.canvas.currentMix.weight[0], 0.5f);
}

TEST(EngineQueueIntake, MixOfAnotherModeIsDroppedAndEntriesChecked)
{
    TestEngine rig;
    KeySpaceDSP& dsp = rig.dsp();
    NodeCanvasData c{};
    c.nodeCount = 2;
    c.mode = kCanvasModeXYPad;
    dsp.receiveCanvas(c);

    NodeMix m{};
    m.mode = kCanvasModeKeyboard;
    m.count = 1;
    EXPECT_FALSE(dsp.receiveMix(m));

    m.mode = kCanvasModeXYPad;
    m.count = -4;
    EXPECT_TRUE(dsp.receiveMix(m));
    EXPECT_EQ(dsp.canvas.currentMix.count, 0);

    m.count = 3;
    m.node = {1, 2, -1};
    m.weight = {0.7f, 0.2f, 0.1f};
    EXPECT_TRUE(dsp.receiveMix(m));
    ASSERT_EQ(dsp.canvas.currentMix.count, 1);
    EXPECT_EQ(dsp.canvas.currentMix.node[0], 1);
}

} // namespace
