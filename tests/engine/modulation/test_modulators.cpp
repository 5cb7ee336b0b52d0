#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/modulation/CanonRandom.h"
#include "engine/modulation/Modulators.h"
#include "engine/params/Param.h"
#include "engine/Random.h"

namespace
{
constexpr double kHop = 128.0 / 44100.0;

// ---- LFO shapes ----

float shapeAt(int shape, float phase)
{
    LFO lfo;
    return lfo.getVal(phase, shape);
}

TEST(LFOShape, ValuesAtCharacteristicPhases)
{
    struct Case
    {
        int shape;
        float phase;
        float want;
    };
    const Case cases[] = {
        {kLfoSine, 0.0f, 0.0f},
        {kLfoSine, 0.25f, 1.0f},
        {kLfoSine, 0.75f, -1.0f},
        {kLfoTriangle, 0.25f, 1.0f},
        {kLfoTriangle, 0.75f, -1.0f},
        {kLfoTriangle, 0.5f, 0.0f},
        {kLfoTriangle, 0.1f, 0.4f},
        {kLfoTriangle, 0.9f, -0.4f},
        {kLfoSaw, 0.0f, 1.0f},
        {kLfoSaw, 0.75f, -0.5f},
        {kLfoSoftSaw, 0.25f, 0.796875f},
        {kLfoSoftSaw, 0.5f, 0.0f},
        {kLfoSoftSaw, 0.75f, -0.796875f},
        {kLfoSquare, 0.49f, 1.0f},
        {kLfoSquare, 0.5f, -1.0f},
        {kLfoSigmoid, 0.0f, 1.0f},
        {kLfoSigmoid, 0.5f, 0.0f},
        {kLfoSigmoid, 0.75f, -0.7071068f},
        {kLfoExpo, 0.0f, 1.0f},
        {kLfoExpo, 0.5f, -0.3976116f},
        {kLfoExpo, 1.0f, 1.0f},
        {9, 0.3f, 0.0f},
        {-1, 0.3f, 0.0f},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(shapeAt(c.shape, c.phase), c.want, 2e-6) << "shape " << c.shape << " at " << c.phase;
}

TEST(LFOShape, OnlyThePhaseFractionCountsAndTheRecordFollows)
{
    LFO lfo;
    lfo.getVal(0.6f, kLfoSaw);
    const float v = lfo.getVal(3.25f, kLfoSaw);
    EXPECT_FLOAT_EQ(v, 0.5f);
    EXPECT_FLOAT_EQ(lfo.phase, 0.25f);
    EXPECT_FLOAT_EQ(lfo.prevPhase, 0.6f);
    EXPECT_FLOAT_EQ(lfo.value, 0.5f);
}

TEST(LFOShape, NoiseMovesBetweenFourTargetsPerCycle)
{
    engineSrand(42u);
    LFO lfo;
    lfo.phase = 0.05f;
    lfo.rndNew = 0.5f;
    lfo.rndOld = -0.5f;
    // Same quarter: no draw, smoothstep between the two targets.
    EXPECT_FLOAT_EQ(lfo.getVal(0.125f, kLfoNoise), 0.0f);
    EXPECT_FLOAT_EQ(lfo.rndNew, 0.5f);
    // Next quarter: the old target takes the new one and a fresh one is drawn.
    const float v = lfo.getVal(0.25f, kLfoNoise);
    EXPECT_FLOAT_EQ(lfo.rndOld, 0.5f);
    EXPECT_FLOAT_EQ(v, 0.5f); // start of the quarter: the old target
    EXPECT_NE(lfo.rndNew, 0.5f);
    EXPECT_GE(lfo.rndNew, -1.0f);
    EXPECT_LE(lfo.rndNew, 1.0f);
    const float mid = lfo.getVal(0.375f, kLfoNoise);
    EXPECT_FLOAT_EQ(mid, 0.5f * (lfo.rndNew + lfo.rndOld));
}

TEST(LFOShape, SampleAndHoldDrawsExactlyWhenThePhaseWraps)
{
    engineSrand(7u);
    LFO lfo;
    lfo.phase = 0.1f;
    const float held = lfo.getVal(0.2f, kLfoSampleHold);
    EXPECT_EQ(lfo.getVal(0.6f, kLfoSampleHold), held);
    EXPECT_EQ(lfo.getVal(0.95f, kLfoSampleHold), held);
    const float next = lfo.getVal(0.05f, kLfoSampleHold);
    EXPECT_NE(next, held);
    EXPECT_EQ(lfo.getVal(0.5f, kLfoSampleHold), next);
}

// ---- Modulators::process ----

// The 26 LFO and envelope records, starting at LFO 1 Shape.
class ModulatorsTest : public ::testing::Test
{
  protected:
    ModulatorsTest() : params(26), mods(params.data())
    {
        for (int l = 0; l < kNumLfos; ++l)
        {
            lfo(l, 0) = kLfoSaw; // Shape
            lfo(l, 1) = 0.0f;    // Phase
            lfo(l, 2) = 0.0f;    // Sync
            lfo(l, 3) = 1.0f;    // Speed Hz
            lfo(l, 4) = 7.0f;    // Division (1/4)
            lfo(l, 5) = 0.0f;    // Retrigger
            lfo(l, 6) = 1.0f;    // Per Voice
        }
        for (int e = 0; e < kNumEnvelopes; ++e)
        {
            env(e, 0) = 0.2f;  // Initial
            env(e, 1) = 10.0f; // Attack ms
            env(e, 2) = 0.3f;  // Decay s
            env(e, 3) = 0.5f;  // Sustain
            env(e, 4) = 0.4f;  // Release s
            env(e, 5) = 0.0f;  // Retrigger
        }
    }
    float& lfo(int l, int j) { return params[size_t(l * kLfoParamCount + j)].value; }
    float& env(int e, int j) { return params[size_t(kEnvParamOffset + e * kEnvParamCount + j)].value; }

    std::vector<Param> params;
    Modulators mods;
    ModState state{};
};

TEST_F(ModulatorsTest, FreeLfoAdvancesBySpeedTimesStep)
{
    lfo(0, 3) = 2.0f;
    for (int i = 1; i <= 7; ++i)
    {
        mods.process(state, 0.1, 0.0, nullptr, nullptr, false);
        const float want = float(i) * 0.2f - float(int(float(i) * 0.2f + 1e-6f));
        EXPECT_NEAR(state.lfo[0].phase, want, 1e-5) << i;
        EXPECT_NEAR(state.lfo[0].value, 1.0f - 2.0f * state.lfo[0].phase, 1e-6);
    }
}

TEST_F(ModulatorsTest, SyncDivisionsLockToTheHostPosition)
{
    const double cyclesPerBeat[15] = {0.0625,   0.083333, 0.125, 0.166667, 0.25, 0.333333, 0.5, 1.0,
                                      1.333333, 1.5,      2.0,   3.0,      4.0,  6.0,      8.0};
    lfo(0, 2) = 1.0f;
    const double hostPos = 0.3;
    for (int d = 0; d < 15; ++d)
    {
        lfo(0, 4) = float(d);
        mods.process(state, kHop, 0.01, &hostPos, nullptr, false);
        const double x = cyclesPerBeat[d] * hostPos;
        EXPECT_NEAR(state.lfo[0].phase, x - std::floor(x), 2e-6) << "division " << d;
    }
    // One cycle per beat at 2.5 beats sits at phase 0.5.
    lfo(0, 4) = 7.0f;
    const double pos = 2.5;
    mods.process(state, kHop, 0.01, &pos, nullptr, false);
    EXPECT_FLOAT_EQ(state.lfo[0].phase, 0.5f);
    // Without a host position a synced LFO runs on by the step's beats.
    mods.process(state, kHop, 0.125, nullptr, nullptr, false);
    EXPECT_FLOAT_EQ(state.lfo[0].phase, 0.625f);
}

TEST_F(ModulatorsTest, RetriggeredSyncedLfoIgnoresTheHost)
{
    lfo(0, 1) = 0.25f; // Phase
    lfo(0, 2) = 1.0f;  // Sync
    lfo(0, 4) = 7.0f;  // one cycle per beat
    lfo(0, 5) = 1.0f;  // Retrigger
    const double hostPos = 100.3;
    mods.process(state, 0.0, 0.0, &hostPos, nullptr, true);
    EXPECT_FLOAT_EQ(state.lfo[0].phase, 0.25f);
    mods.process(state, kHop, 0.5, &hostPos, nullptr, false);
    EXPECT_FLOAT_EQ(state.lfo[0].phase, 0.75f);
}

TEST_F(ModulatorsTest, RetriggerRestartsTheLfoAndSampleAndHoldDraws)
{
    engineSrand(3u);
    lfo(0, 0) = kLfoSampleHold;
    lfo(0, 5) = 1.0f;
    lfo(0, 3) = 0.5f;
    mods.process(state, 0.1, 0.0, nullptr, nullptr, true);
    const float first = state.lfo[0].value;
    EXPECT_FLOAT_EQ(state.lfo[0].phase, 0.05f); // restarted at Phase 0, then one step on
    mods.process(state, 0.1, 0.0, nullptr, nullptr, false);
    EXPECT_EQ(state.lfo[0].value, first);
    mods.process(state, 0.1, 0.0, nullptr, nullptr, true);
    EXPECT_NE(state.lfo[0].value, first);
    // Without its Retrigger switch the LFO runs on through a retrigger.
    lfo(1, 5) = 0.0f;
    lfo(1, 3) = 2.0f;
    mods.process(state, 0.1, 0.0, nullptr, nullptr, false);
    const float before = state.lfo[1].phase;
    mods.process(state, 0.1, 0.0, nullptr, nullptr, true);
    EXPECT_NEAR(state.lfo[1].phase, before + 0.2f, 1e-6);
}

TEST_F(ModulatorsTest, SharedLfoFollowsTheGlobalState)
{
    ModState global{};
    lfo(0, 6) = 0.0f; // LFO 1 shared
    lfo(1, 6) = 1.0f; // LFO 2 per voice
    lfo(0, 3) = 3.0f;
    state.lfo[1].phase = 0.5f;
    for (int i = 0; i < 5; ++i)
    {
        mods.process(global, 0.05, 0.0, nullptr, nullptr, false);
        mods.process(state, 0.05, 0.0, nullptr, &global, false);
        EXPECT_EQ(state.lfo[0].phase, global.lfo[0].phase);
        EXPECT_EQ(state.lfo[0].prevPhase, global.lfo[0].prevPhase);
        EXPECT_EQ(state.lfo[0].value, global.lfo[0].value);
        EXPECT_NE(state.lfo[1].phase, global.lfo[1].phase);
    }
}

TEST_F(ModulatorsTest, EnvelopeRunsThroughItsFourSegments)
{
    const float attackStep = float(1000.0 / 10.0 * kHop); // 0.2902494
    mods.process(state, 0.0, 0.0, nullptr, nullptr, true);
    EXPECT_FLOAT_EQ(state.env[0].stage, 0.0f);
    EXPECT_FLOAT_EQ(state.env[0].value, 0.2f);
    for (int i = 1; i <= 3; ++i)
    {
        mods.process(state, kHop, 0.0, nullptr, nullptr, false);
        EXPECT_NEAR(state.env[0].stage, i * attackStep, 1e-5);
        EXPECT_NEAR(state.env[0].value, 0.2f + 0.8f * i * attackStep, 1e-5);
    }
    mods.process(state, kHop, 0.0, nullptr, nullptr, false);
    EXPECT_FLOAT_EQ(state.env[0].stage, 1.0f);
    EXPECT_FLOAT_EQ(state.env[0].value, 1.0f);
    // Decay: a squared fall from 1 to the sustain level over 0.3 s.
    const float decayStep = float(kHop / 0.3);
    mods.process(state, kHop, 0.0, nullptr, nullptr, false);
    EXPECT_NEAR(state.env[0].stage, 1.0f + decayStep, 1e-5);
    EXPECT_NEAR(state.env[0].value, 0.5f + 0.5f * (1.0f - decayStep) * (1.0f - decayStep), 1e-5);
    int steps = 1;
    while (state.env[0].stage < 2.0f && steps < 1000)
    {
        mods.process(state, kHop, 0.0, nullptr, nullptr, false);
        ++steps;
    }
    EXPECT_EQ(steps, int(std::ceil(0.3 / kHop)));
    mods.process(state, kHop, 0.0, nullptr, nullptr, false);
    EXPECT_FLOAT_EQ(state.env[0].value, 0.5f);
    const float sustainStage = state.env[0].stage;
    mods.process(state, kHop, 0.0, nullptr, nullptr, false);
    EXPECT_EQ(state.env[0].stage, sustainStage);
    // Release from the held value (set by the note-off), squared over 0.4 s.
    state.env[0].stage = 3.0f;
    state.env[0].held = 0.5f;
    mods.process(state, kHop, 0.0, nullptr, nullptr, false);
    EXPECT_FLOAT_EQ(state.env[0].value, 0.5f);
    const float releaseStep = float(kHop / 0.4);
    mods.process(state, kHop, 0.0, nullptr, nullptr, false);
    EXPECT_NEAR(state.env[0].value, 0.5f * (1.0f - releaseStep) * (1.0f - releaseStep), 1e-5);
    for (int i = 0; i < 200; ++i)
        mods.process(state, kHop, 0.0, nullptr, nullptr, false);
    EXPECT_GE(state.env[0].stage, 4.0f);
    EXPECT_EQ(state.env[0].value, 0.0f);
}

TEST_F(ModulatorsTest, ZeroAttackReachesTheDecayAfterOneStep)
{
    env(0, 1) = 0.0f;
    mods.process(state, kHop, 0.0, nullptr, nullptr, true);
    EXPECT_FLOAT_EQ(state.env[0].stage, 1.0f);
    EXPECT_FLOAT_EQ(state.env[0].value, 1.0f);
    mods.process(state, kHop, 0.0, nullptr, nullptr, false);
    EXPECT_GT(state.env[0].stage, 1.0f);
    EXPECT_LT(state.env[0].value, 1.0f);
    // The second envelope keeps its own 10 ms attack.
    EXPECT_LT(state.env[1].stage, 1.0f);
}

TEST_F(ModulatorsTest, ShortReleaseIsSilentWithinItsTime)
{
    env(0, 4) = 0.01f;
    state.env[0].stage = 3.0f;
    state.env[0].held = 0.8f;
    float last = 1.0f;
    const int steps = int(std::ceil(0.01 / kHop)) + 1; // the first release step still shows `held`
    for (int i = 0; i < steps; ++i)
    {
        mods.process(state, kHop, 0.0, nullptr, nullptr, false);
        EXPECT_LE(state.env[0].value, last);
        last = state.env[0].value;
    }
    EXPECT_EQ(state.env[0].value, 0.0f);
}

TEST_F(ModulatorsTest, DecayStepPastTwoOvershootsOnceThenHolds)
{
    env(0, 2) = float(kHop / 1.5); // one step covers 1.5 decays
    state.env[0].stage = 1.0f;
    mods.process(state, kHop, 0.0, nullptr, nullptr, false);
    EXPECT_NEAR(state.env[0].stage, 2.5f, 1e-5);
    EXPECT_NEAR(state.env[0].value, 0.5f + 0.5f * 0.25f, 1e-5);
    mods.process(state, kHop, 0.0, nullptr, nullptr, false);
    EXPECT_FLOAT_EQ(state.env[0].value, 0.5f);
}

TEST_F(ModulatorsTest, VanishingDecayNeverEntersTheRelease)
{
    env(0, 2) = 0.0f;
    state.env[0].stage = 1.0f;
    state.env[0].held = 0.9f;
    mods.process(state, kHop, 0.0, nullptr, nullptr, false);
    EXPECT_FLOAT_EQ(state.env[0].stage, 2.0f);
    EXPECT_FLOAT_EQ(state.env[0].value, 0.5f);
    mods.process(state, kHop, 0.0, nullptr, nullptr, false);
    EXPECT_FLOAT_EQ(state.env[0].value, 0.5f);
}

// ---- Vibrato ----

TEST(LFOStateVibrato, StartsFromTheNaturalShape)
{
    LFOState vib;
    EXPECT_EQ(vib.lanes[0].rate, 4.0f);
    EXPECT_EQ(vib.lanes[1].phase, 1.0f);
    // Without jitter the value is the table, interpolated.
    EXPECT_NEAR(vib.step(1.0f / 64.0f, 0.0f, 0.0f, false), 0.5f * (0.1658f + 0.2558f), 1e-6);
    EXPECT_NEAR(vib.step(1.0f / 64.0f, 0.0f, 0.0f, false), 0.2558f, 1e-6);
    // The table wraps from its last point to its first.
    vib.phase = 30.5f / 32.0f;
    EXPECT_NEAR(vib.step(1.0f / 32.0f, 0.0f, 0.0f, false), 0.5f * (-0.0536f + 0.1658f), 1e-5);
}

TEST(LFOStateVibrato, JitterStaysWithinItsDepth)
{
    setCanonRandSeed(1u);
    LFOState vib;
    float maxAbs = 0.0f;
    for (int i = 0; i < 5000; ++i)
    {
        const float v = vib.step(0.02f, 1.0f);
        maxAbs = std::max(maxAbs, std::fabs(v));
        ASSERT_LE(std::fabs(vib.lanes[0].value), 0.5f * 1.7321f);
        ASSERT_LE(std::fabs(vib.lanes[1].value), 0.2f * 1.7321f);
        ASSERT_GE(vib.phase, 0.0f);
        ASSERT_LT(vib.phase, 1.0f);
    }
    EXPECT_LE(maxAbs, (1.0f + 0.5f * 1.7321f) * 1.0698f);
    EXPECT_GT(maxAbs, 1.0f); // the depth jitter does act
}

// ---- Canonical random generator ----

TEST(CanonRandom, FollowsTheLinearCongruentialSequence)
{
    setCanonRandSeed(0u);
    EXPECT_FLOAT_EQ(getCanonRandFloat(), 0.81773946f);
    EXPECT_EQ(getCanonRandSeed(), 1013904223u);
    EXPECT_FLOAT_EQ(getCanonRandFloat(), 0.96495577f);
    EXPECT_EQ(getCanonRandSeed(), 1196435762u);
}

TEST(CanonRandom, UnitVarianceWithinRange)
{
    setCanonRandSeed(kCanonRandInitialSeed);
    double sum = 0.0, sq = 0.0;
    const int n = 100000;
    for (int i = 0; i < n; ++i)
    {
        const float v = getCanonRandFloat();
        ASSERT_LE(std::fabs(v), 1.7321f);
        sum += v;
        sq += double(v) * v;
    }
    EXPECT_NEAR(sum / n, 0.0, 0.02);
    EXPECT_NEAR(sq / n, 1.0, 0.02);
}
} // namespace
