#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <tuple>
#include <vector>

#include "engine/Random.h"
#include "engine/modulation/CanonRandom.h"
#include "engine/modulation/Modulators.h"
#include "engine/params/Param.h"

namespace
{
constexpr double kHop = 128.0 / 44100.0;

TEST(LFOShape, ValuesAtCharacteristicPhases)
{
    // clang-format off
    const std::tuple<int, float, float> cases[] = {
        {kLfoSine, 0.0f, 0.0f}, {kLfoSine, 0.25f, 1.0f}, {kLfoSine, 0.75f, -1.0f}, {kLfoTriangle, 0.25f, 1.0f},
        {kLfoTriangle, 0.75f, -1.0f}, {kLfoTriangle, 0.5f, 0.0f}, {kLfoTriangle, 0.1f, 0.4f},
        {kLfoTriangle, 0.9f, -0.4f}, {kLfoSaw, 0.0f, 1.0f}, {kLfoSaw, 0.75f, -0.5f}, {kLfoSaw, 3.25f, 0.5f},
        {kLfoSoftSaw, 0.25f, 0.796875f}, {kLfoSoftSaw, 0.5f, 0.0f}, {kLfoSoftSaw, 0.75f, -0.796875f},
        {kLfoSquare, 0.49f, 1.0f}, {kLfoSquare, 0.5f, -1.0f}, {kLfoSigmoid, 0.0f, 1.0f}, {kLfoSigmoid, 0.5f, 0.0f},
        {kLfoSigmoid, 0.75f, -0.7071068f}, {kLfoExpo, 0.0f, 1.0f}, {kLfoExpo, 0.5f, -0.3976116f},
        {kLfoExpo, 1.0f, 1.0f}, {9, 0.3f, 0.0f}, {-1, 0.3f, 0.0f}};
    // clang-format on
    for (const auto& [shape, phase, want] : cases)
    {
        LFO lfo;
        EXPECT_NEAR(lfo.getVal(phase, shape), want, 2e-6) << "shape " << shape << " at " << phase;
        EXPECT_TRUE(lfo.value == lfo.getVal(phase, shape) && lfo.phase == phase - std::floor(phase));
    }
}

// Noise: four random targets per cycle joined by a smoothstep; Sample&Hold: a draw exactly when the
// phase wraps.
TEST(LFOShape, RandomShapesDrawAtTheirCycleBoundaries)
{
    engineSrand(42u);
    LFO lfo;
    lfo.phase = 0.05f, lfo.rndNew = 0.5f, lfo.rndOld = -0.5f;
    EXPECT_TRUE(lfo.getVal(0.125f, kLfoNoise) == 0.0f && lfo.rndNew == 0.5f); // same quarter: no draw
    EXPECT_FLOAT_EQ(lfo.getVal(0.25f, kLfoNoise), 0.5f);
    EXPECT_TRUE(lfo.rndNew != 0.5f && std::fabs(lfo.rndNew) <= 1.0f);
    EXPECT_FLOAT_EQ(lfo.getVal(0.375f, kLfoNoise), 0.5f * (lfo.rndNew + 0.5f));
    const float held = lfo.getVal(0.6f, kLfoSampleHold), next = lfo.getVal(0.05f, kLfoSampleHold);
    EXPECT_TRUE(lfo.getVal(0.95f, kLfoSampleHold) == next && next != held); // drawn only on the wrap
}

// The 26 LFO and envelope records, starting at LFO 1 Shape: saw LFOs at 1 Hz, free and per voice;
// envelopes initial 0.2, attack 10 ms, decay 0.3 s, sustain 0.5, release 0.4 s.
class ModulatorsTest : public ::testing::Test
{
  protected:
    ModulatorsTest() : params(26), mods(params.data())
    {
        for (int l = 0; l < kNumLfos; ++l)
            for (int j = 0; j < kLfoParamCount; ++j)
                lfo(l, j) = std::vector<float>{kLfoSaw, 0, 0, 1, 7, 0, 1}[size_t(j)];
        for (int e = 0; e < kNumEnvelopes; ++e)
            for (int j = 0; j < kEnvParamCount; ++j)
                env(e, j) = std::vector<float>{0.2f, 10, 0.3f, 0.5f, 0.4f, 0}[size_t(j)];
    }
    float& lfo(int l, int j) { return params[size_t(l * kLfoParamCount + j)].value; }
    float& env(int e, int j) { return params[size_t(kEnvParamOffset + e * kEnvParamCount + j)].value; }
    void run(double dt, double beats = 0.0, const double* host = nullptr, bool retrig = false)
    {
        mods.process(state, dt, beats, host, nullptr, retrig);
    }
    std::vector<Param> params;
    Modulators mods;
    ModState state{};
};

// Free LFOs advance by speed x step; synced ones lock to the host position by their division, or
// run on by the step's beats without one; a retrigger restarts LFOs with the switch at their Phase
// (then ignoring the host) and makes Sample&Hold draw; LFOs with Per Voice off copy the global state.
TEST_F(ModulatorsTest, LfoPhasesFreeSyncedRetriggeredAndShared)
{
    lfo(0, 3) = 2.0f;
    for (int i = 1; i <= 7; ++i)
    {
        run(0.1);
        EXPECT_NEAR(state.lfo[0].phase, std::fmod(0.2 * i, 1.0), 1e-5) << i;
        EXPECT_NEAR(state.lfo[0].value, 1.0f - 2.0f * state.lfo[0].phase, 1e-6);
    }
    // clang-format off
    const double cyclesPerBeat[15] = {0.0625, 0.083333, 0.125, 0.166667, 0.25, 0.333333, 0.5, 1.0, 1.333333, 1.5,
                                      2.0, 3.0, 4.0, 6.0, 8.0};
    // clang-format on
    lfo(0, 2) = 1.0f;
    const double hostPos = 0.3, pos = 2.5, farHost = 100.3;
    for (int d = 0; d < 15; ++d)
    {
        lfo(0, 4) = float(d);
        run(kHop, 0.01, &hostPos);
        EXPECT_NEAR(state.lfo[0].phase, std::fmod(cyclesPerBeat[d] * hostPos, 1.0), 2e-6) << "division " << d;
    }
    lfo(0, 4) = 7.0f; // one cycle per beat
    run(kHop, 0.01, &pos);
    EXPECT_FLOAT_EQ(state.lfo[0].phase, 0.5f);
    run(kHop, 0.125);
    EXPECT_FLOAT_EQ(state.lfo[0].phase, 0.625f);
    lfo(0, 1) = 0.25f, lfo(0, 5) = 1.0f;
    run(0.0, 0.0, &farHost, true);
    EXPECT_FLOAT_EQ(state.lfo[0].phase, 0.25f);
    run(kHop, 0.5, &farHost);
    EXPECT_FLOAT_EQ(state.lfo[0].phase, 0.75f);

    engineSrand(3u);
    lfo(0, 0) = kLfoSampleHold, lfo(0, 1) = 0.0f, lfo(0, 2) = 0.0f, lfo(0, 3) = 0.5f, lfo(1, 3) = 2.0f;
    state = ModState{};
    run(0.1, 0.0, nullptr, true);
    const float first = state.lfo[0].value;
    EXPECT_TRUE(state.lfo[0].phase == 0.05f && state.lfo[1].phase == 0.2f);
    run(0.1);
    EXPECT_EQ(state.lfo[0].value, first);
    run(0.1, 0.0, nullptr, true);
    EXPECT_NE(state.lfo[0].value, first);
    EXPECT_NEAR(state.lfo[1].phase, 0.6f, 1e-6);

    ModState global{};
    lfo(0, 6) = 0.0f;
    for (int i = 0; i < 5; ++i)
    {
        mods.process(global, 0.05, 0.0, nullptr, nullptr, false);
        mods.process(state, 0.05, 0.0, nullptr, &global, false);
        EXPECT_TRUE(state.lfo[0].phase == global.lfo[0].phase &&
                    state.lfo[0].prevPhase == global.lfo[0].prevPhase &&
                    state.lfo[0].value == global.lfo[0].value && state.lfo[1].phase != global.lfo[1].phase);
    }
}

// Each row runs on one envelope while the other keeps the defaults; checkpoints are (hop, stage,
// value) after that many hops, NaN for a stage not checked. Attack rises linearly from Initial;
// decay falls squared to Sustain, release squared from the held value.
TEST_F(ModulatorsTest, EnvelopeSegmentsEndOnTheirHops)
{
    const float nan = std::nanf("");
    // clang-format off
    struct Row { const char* what; float attackMs, decayS, releaseS, stage, held; bool retrigger;
                 std::vector<std::array<float, 3>> checks; };
    const Row rows[] = {
        {"attack, decay, sustain", 10, 0.3f, 0.4f, 0, 0, true,
         {{1, 0.290249f, 0.432200f}, {3, 0.870748f, 0.896599f}, {4, 1, 1}, {5, 1.009675f, 0.990372f},
          {107, 1.996523f, 0.500006f}, {108, 2.006198f, 0.500019f}, {109, 2.006198f, 0.5f}, {120, 2.006198f, 0.5f}}},
        {"release", 10, 0.3f, 0.4f, 3, 0.5f, false,
         {{1, 3.007256f, 0.5f}, {2, nan, 0.492770f}, {138, nan, 1.738e-5f}, {139, nan, 0}, {150, nan, 0}}},
        {"zero attack", 0, 0.3f, 0.4f, 0, 0, true, {{1, 1, 1}, {2, 1.009675f, 0.990372f}}},
        {"short release", 10, 0.3f, 0.01f, 3, 0.8f, false, {{4, 4.160998f, 0.013365f}, {5, nan, 0}}},
        {"decay step past two", 10, float(kHop / 1.5), 0.4f, 1, 0, false, {{1, 2.5f, 0.625f}, {2, 2.5f, 0.5f}}},
        {"vanishing decay", 10, 0, 0.4f, 1, 0.9f, false, {{1, 2, 0.5f}, {2, 2, 0.5f}}}};
    // clang-format on
    for (const Row& r : rows)
        for (size_t e = 0; e < 2; ++e)
        {
            env(int(e), 1) = r.attackMs, env(int(e), 2) = r.decayS, env(int(e), 4) = r.releaseS;
            env(int(1 - e), 1) = 10, env(int(1 - e), 2) = 0.3f, env(int(1 - e), 4) = 0.4f;
            state = ModState{};
            state.env[e].stage = r.stage, state.env[e].held = r.held;
            int hop = 0;
            for (const auto& [when, stage, value] : r.checks)
            {
                for (; hop < int(when); ++hop)
                    run(kHop, 0.0, nullptr, r.retrigger && hop == 0);
                EXPECT_NEAR(std::isnan(stage) ? 0.0f : state.env[e].stage, std::isnan(stage) ? 0.0f : stage,
                            1e-4)
                    << r.what << " hop " << hop;
                EXPECT_NEAR(state.env[e].value, value, 2e-6) << r.what << " env " << e << " hop " << hop;
            }
        }
}

TEST(LFOStateVibrato, NaturalShapeWrapsAndJitterStaysWithinItsDepth)
{
    LFOState vib;
    vib.phase = 30.5f / 32.0f; // interpolates between the table's last point and its first
    EXPECT_NEAR(vib.step(1.0f / 32.0f, 0.0f), 0.5f * (-0.0536f + 0.1658f), 1e-5);
    setCanonRandSeed(1u);
    vib = LFOState{};
    float maxAbs = 0.0f;
    for (int i = 0; i < 5000; ++i)
    {
        maxAbs = std::max(maxAbs, std::fabs(vib.step(0.02f, 1.0f)));
        ASSERT_TRUE(std::fabs(vib.lanes[0].value) <= 0.5f * 1.7321f &&
                    std::fabs(vib.lanes[1].value) <= 0.2f * 1.7321f && vib.phase >= 0.0f && vib.phase < 1.0f);
    }
    EXPECT_TRUE(maxAbs > 1.0f && maxAbs <= (1.0f + 0.5f * 1.7321f) * 1.0698f) << maxAbs; // depth jitter acts
}
} // namespace
