// Modulation routing, the canvas point and mix of a voice in each canvas mode, binaural placement.

#include <cmath>

#include <gtest/gtest.h>

#include "support/TestCanvas.h"
#include "support/TestSounds.h"
#include "engine/Random.h"

namespace
{

using qmtest::TestEngine;

void setSlot(KeySpaceDSP& dsp, int slot, float source, float amount, float scaler, float target)
{
    const int base = kFirstModSlotParam + kParamsPerModSlot * slot;
    dsp.params[base + kModParamSource].value = source;
    dsp.params[base + kModParamAmount].value = amount;
    dsp.params[base + kModParamScaler].value = scaler;
    dsp.params[base + kModParamTarget].value = target;
}

class Routing : public ::testing::Test
{
  protected:
    TestEngine rig;
    KeySpaceDSP& dsp() { return rig.dsp(); }
};

TEST_F(Routing, DefaultSlotsAreInactive)
{
    ModChains chains;
    dsp().buildModChains(chains);
    EXPECT_EQ(chains.count, 0);
}

TEST_F(Routing, ActiveSlotsKeepOrderAndScaleTheirAmount)
{
    setSlot(dsp(), 0, 1, 2.0f, 0, 2);  // LFO 1 -> Gain (scale 1)
    setSlot(dsp(), 1, 0, 5.0f, 0, 3);  // source "-": inactive
    setSlot(dsp(), 2, 3, 0.0f, 1, 4);  // amount 0: inactive
    setSlot(dsp(), 3, 5, 2.0f, 4, 0);  // constant -> Morph X (scale 0.1)
    setSlot(dsp(), 4, 2, 1.0f, 2, 14); // target past the list: inactive
    setSlot(dsp(), 5, 4, 3.0f, 5, 11); // Env 2 -> FreqShift (scale 100)
    setSlot(dsp(), 6, 1, 1.0f, 0, std::nanf(""));
    ModChains chains;
    dsp().buildModChains(chains);
    ASSERT_EQ(chains.count, 3);
    EXPECT_EQ(chains.entries[0].source, 1);
    EXPECT_FLOAT_EQ(chains.entries[0].amount, 2.0f);
    EXPECT_EQ(chains.entries[0].scaler, 0);
    EXPECT_EQ(chains.entries[0].target, kParamGain);
    EXPECT_EQ(chains.entries[1].source, 5);
    EXPECT_FLOAT_EQ(chains.entries[1].amount, 0.2f);
    EXPECT_EQ(chains.entries[1].scaler, 4);
    EXPECT_EQ(chains.entries[1].target, kParamMorphX);
    EXPECT_EQ(chains.entries[2].source, 4);
    EXPECT_FLOAT_EQ(chains.entries[2].amount, 300.0f);
    EXPECT_EQ(chains.entries[2].target, kParamFreqShift);
}

TEST_F(Routing, SourcesAndScalersOfTheVoice)
{
    KeyVoice& v = dsp().voices[0];
    v.channel = 3;
    v.note = 69;
    v.pitch = 88.0f;
    v.velocity = 0.8f;
    v.aftertouch = 0.25f;
    v.mod.lfo[0].value = 0.5f;
    v.mod.lfo[1].value = -0.25f;
    v.mod.env[0].value = 0.75f;
    v.mod.env[1].value = 0.1f;
    dsp().channels[3].modWheel = 0.4f;
    dsp().channels[3].pressure = 0.5f;

    struct Case
    {
        float source, scaler, expected;
    };
    const Case cases[] = {
        {1, 1, 0.5f * 0.8f},            // LFO 1 x velocity
        {2, 2, -0.25f * 0.4f},          // LFO 2 x mod wheel
        {3, 3, 0.75f * (0.25f + 0.5f)}, // Env 1 x (aftertouch + channel pressure)
        {4, 4, 0.1f * 69.0f / 69.0f},   // Env 2 x note / 69
        {5, 5, 88.0f / 440.0f},         // constant x glided pitch / 440
        {5, 0, 1.0f},                   // constant, no scaler
    };
    dsp().params[kParamFlatten].value = 10.0f;
    for (const Case& c : cases)
    {
        setSlot(dsp(), 0, c.source, 1.0f, c.scaler, 5); // -> Flatten (scale 1)
        dsp().applyModulationForVoice(&v, nullptr);
        EXPECT_NEAR(dsp().params[kParamFlatten].modValue, 10.0f + c.expected, 1e-5f)
            << "source " << c.source << " scaler " << c.scaler;
    }
}

TEST_F(Routing, TwoSlotsOnOneTargetAddAndTargetsReset)
{
    KeyVoice& v = dsp().voices[1];
    v.mod.lfo[0].value = 1.0f;
    v.velocity = 0.5f;
    dsp().params[kParamGain].value = -3.0f;
    setSlot(dsp(), 2, 1, 4.0f, 1, 2);  // LFO 1 x velocity x 4 -> Gain
    setSlot(dsp(), 7, 5, -1.5f, 0, 2); // constant -1.5 -> Gain
    ModChains chains;
    dsp().buildModChains(chains);
    dsp().applyModulationForVoice(&v, &chains);
    EXPECT_FLOAT_EQ(dsp().params[kParamGain].modValue, -3.0f + 2.0f - 1.5f);
    // Every target starts from its value again at the next voice; Morph Y (a target) has no route.
    EXPECT_EQ(dsp().params[kParamMorphY].modValue, dsp().params[kParamMorphY].value);
    dsp().params[kParamGain].value = 1.0f;
    ModChains none;
    dsp().applyModulationForVoice(&v, &none);
    EXPECT_FLOAT_EQ(dsp().params[kParamGain].modValue, 1.0f);
}

// Three sounds on a canvas: nodes placed so the keyboard and pad points below fall on known nodes.
class Placement : public ::testing::Test, protected qmtest::SoundsAndEngine
{
  protected:
    void SetUp() override
    {
        engineSrand(7);
        for (int i = 0; i < 3; ++i)
            sounds.add("Cat_Sound" + std::to_string(i), qmtest::makePlainSpec(60, 4, 1000));
        build();
    }

    // Canvas with nodes at the given points; node i plays sound soundIds[i].
    void setCanvas(int mode, std::vector<Point2D> points, std::vector<int> soundIds)
    {
        NodeCanvasData c = qmtest::startCanvas(mode);
        c.nodeCount = static_cast<int>(points.size());
        for (size_t i = 0; i < points.size(); ++i)
        {
            c.nodes[i].pos = points[i];
            c.nodes[i].soundId = soundIds[i];
        }
        c.currentMix.point = {0.5f, 0.5f};
        c.triangulate();
        dsp().receiveCanvas(c);
    }

    KeySpaceDSP& dsp() { return rig->dsp(); }
};

TEST_F(Placement, KeyboardKeyPositionsAndVelocity)
{
    setCanvas(kCanvasModeKeyboard, {{0.2f, 0.5f}, {0.6f, 0.5f}, {0.8f, 0.5f}}, {2, 0, 1});
    KeyVoice& v = dsp().voices[0];
    v.velocity = 0.5f;
    const struct
    {
        int note;
        float x;
    } keys[] = {{60, (0.5f / 7 + 5) * 0.2f - 0.4f}, // 0.614
                {61, (0.9f / 7 + 5) * 0.2f - 0.4f}, // a black key between 60 and 62
                {62, (1.5f / 7 + 5) * 0.2f - 0.4f},
                {69, (5.5f / 7 + 5) * 0.2f - 0.4f}};
    for (const auto& k : keys)
    {
        v.note = k.note;
        const NodeMix mix = dsp().getMixDataForVoice(&v);
        EXPECT_NEAR(mix.point.x, k.x, 1e-6f) << k.note;
        EXPECT_NEAR(mix.point.y, 0.5f, 1e-6f);
        EXPECT_EQ(mix.mode, kCanvasModeKeyboard);
    }
    v.note = 60;
    EXPECT_NEAR(dsp().getMixDataForVoice(&v).point.x, 0.6142857f, 1e-6f);

    v.velocity = 0.0f;
    EXPECT_FLOAT_EQ(dsp().getMixDataForVoice(&v).point.y, 0.375f);
    v.velocity = 1.0f;
    EXPECT_FLOAT_EQ(dsp().getMixDataForVoice(&v).point.y, 0.625f);
    v.velocity = 0.25f;
    EXPECT_FLOAT_EQ(dsp().getMixDataForVoice(&v).point.y, 0.4375f);
}

TEST_F(Placement, KeyboardMixNamesSoundsAndBecomesCurrent)
{
    // Note 60 at velocity 0.5 lands exactly on node 1 at (0.6142857, 0.5), which plays sound 0.
    const float x60 = (0.5f / 7 + 5) * 0.2f - 0.4f;
    setCanvas(kCanvasModeKeyboard, {{0.2f, 0.5f}, {x60, 0.5f}, {0.9f, 0.45f}}, {2, 0, 1});
    KeyVoice& v = dsp().voices[0];
    v.note = 60;
    v.velocity = 0.5f;
    const NodeMix mix = dsp().getMixDataForVoice(&v);
    ASSERT_EQ(mix.count, 1);
    EXPECT_EQ(mix.node[0], 0);
    EXPECT_FLOAT_EQ(mix.weight[0], 1.0f);
    // The lookup is stored on the engine's canvas copy with node indices.
    EXPECT_EQ(dsp().canvas.currentMix.node[0], 1);
}

TEST_F(Placement, XYPadFollowsModulatedMorph)
{
    setCanvas(kCanvasModeXYPad, {{0.3f, 0.33f}, {0.7f, 0.33f}, {0.5f, 0.67f}}, {1, 2, 0});
    KeyVoice& v = dsp().voices[2];
    v.triHint = -1;
    dsp().params[kParamMorphX].value = 0.5f;
    dsp().params[kParamMorphY].value = 1.0f;
    dsp().applyModulationForVoice(&v, nullptr);
    NodeMix mix = dsp().getMixDataForVoice(&v);
    EXPECT_FLOAT_EQ(mix.point.x, 0.5f);
    EXPECT_FLOAT_EQ(mix.point.y, 0.67f);
    ASSERT_EQ(mix.count, 1); // the top node, which plays sound 0
    EXPECT_EQ(mix.node[0], 0);
    EXPECT_GE(v.triHint, 0);
    EXPECT_LT(v.triHint, dsp().canvas.triCount);

    // A routed offset moves the point: Morph X + 0.1 x 5 x 1.0 from a constant source.
    setSlot(dsp(), 0, 5, 5.0f, 0, 0);
    dsp().params[kParamMorphX].value = 0.0f;
    dsp().params[kParamMorphY].value = 0.0f;
    dsp().applyModulationForVoice(&v, nullptr);
    mix = dsp().getMixDataForVoice(&v);
    EXPECT_FLOAT_EQ(mix.point.x, 0.3f + 0.4f * 0.5f);
    EXPECT_FLOAT_EQ(mix.point.y, 0.33f);
}

TEST_F(Placement, ExploreUsesTheCurrentMixWithSoundIndices)
{
    setCanvas(kCanvasModeExplore, {{0.2f, 0.2f}, {0.8f, 0.2f}, {0.5f, 0.8f}}, {2, 0, 1});
    NodeMix m{};
    m.mode = kCanvasModeExplore;
    m.count = 2;
    m.node = {2, 0, 0};
    m.weight = {0.75f, 0.25f, 0.0f};
    ASSERT_TRUE(dsp().receiveMix(m));
    KeyVoice& v = dsp().voices[0];
    const NodeMix mix = dsp().getMixDataForVoice(&v);
    ASSERT_EQ(mix.count, 2);
    EXPECT_EQ(mix.node[0], 1);
    EXPECT_EQ(mix.node[1], 2);
    EXPECT_FLOAT_EQ(mix.weight[0], 0.75f);

    // A node whose sound this engine does not have (a canvas written with another list) gives -1.
    dsp().canvas.nodes[0].soundId = 17;
    EXPECT_EQ(dsp().getMixDataForVoice(&v).node[1], -1);
    dsp().canvas.currentMix.node[1] = 40;
    EXPECT_EQ(dsp().getMixDataForVoice(&v).node[1], -1);
}

class Binaural : public ::testing::Test
{
  protected:
    TestEngine rig;
    KeySpaceDSP& dsp() { return rig.dsp(); }

    static double refAngle(double x, double y, int note)
    {
        return std::atan((x - 0.5 + (note - 57) * (1 - x) * x / 12) / (0.05 / (y + 0.01) + 1 - y));
    }
};

TEST_F(Binaural, NotesTurnAroundNote57)
{
    dsp().params[kFirstFxSwitch + kFxSlotBinaural].value = 1.0f;
    dsp().params[kParamStereoX].value = 0.5f;
    dsp().params[kParamStereoY].value = 0.5f;
    KeyVoice& v = dsp().voices[0];

    v.note = 57;
    BinauralParams b = dsp().computeBinauralParams(&v);
    EXPECT_TRUE(b.on);
    EXPECT_FLOAT_EQ(b.angle, 0.0f);
    EXPECT_FLOAT_EQ(b.delay, 0.0f);
    EXPECT_NEAR(b.shadowFreq, 1.2e6f, 1.2e6f * 1e-4f); // 0.5 - 0.499 is inexact in single precision

    v.note = 69;
    b = dsp().computeBinauralParams(&v);
    const double a69 = refAngle(0.5, 0.5, 69);
    EXPECT_NEAR(b.angle, a69, 1e-6);
    EXPECT_GT(b.angle, 0.0f);
    EXPECT_NEAR(b.delay, std::sin(a69) / 1700.0, 1e-9);
    EXPECT_NEAR(b.shadowFreq, 1200.0 / (0.5 - 0.499 * std::cos(a69)), 1e-4 * b.shadowFreq);

    v.note = 45;
    b = dsp().computeBinauralParams(&v);
    EXPECT_NEAR(b.angle, -a69, 1e-6);
    EXPECT_LT(b.delay, 0.0f);

    // Closer to the centre of the stereo field and nearer (Y towards 1) turns further.
    dsp().params[kParamStereoY].value = 1.0f;
    v.note = 69;
    EXPECT_GT(dsp().computeBinauralParams(&v).angle, a69);
    dsp().params[kParamStereoX].value = 0.1f;
    dsp().params[kParamStereoY].value = 0.5f;
    EXPECT_NEAR(dsp().computeBinauralParams(&v).angle, refAngle(0.1, 0.5, 69), 1e-6);
    // Out-of-range positions are held to 0..1.
    dsp().params[kParamStereoX].value = 3.0f;
    EXPECT_NEAR(dsp().computeBinauralParams(&v).angle, refAngle(1.0, 0.5, 69), 1e-6);
}

TEST_F(Binaural, OffGivesTheNeutralResult)
{
    dsp().params[kFirstFxSwitch + kFxSlotBinaural].value = 0.0f;
    KeyVoice& v = dsp().voices[0];
    v.note = 90;
    const BinauralParams b = dsp().computeBinauralParams(&v);
    EXPECT_FALSE(b.on);
    EXPECT_EQ(b.angle, 0.0f);
    EXPECT_EQ(b.delay, 0.0f);
    EXPECT_EQ(b.shadowFreq, 1e10f);
}

} // namespace
