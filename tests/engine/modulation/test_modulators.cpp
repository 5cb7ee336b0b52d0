#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Random.h"
#include "engine/modulation/CanonRandom.h"
#include "engine/modulation/Modulators.h"
#include "engine/params/Param.h"
#include "support/EngineTestHelpers.h"

namespace
{
constexpr double kHop = 128.0 / 44100.0;

// A value rounded to 1e-6 (and -0 to 0) as text, so that the last bits of the maths library never
// show.
std::string r6(float v)
{
    std::ostringstream out;
    out << std::round(double(v) * 1e6) / 1e6 + 0.0;
    return out.str();
}

// The 26 LFO and envelope records from LFO 1 Shape on: saw LFOs at 1 Hz, free and per voice;
// envelopes initial 0.2, attack 10 ms, decay 0.3 s, sustain 0.5, release 0.4 s. run() advances the
// state and appends a trace line of both LFOs (phase, previous phase, value) and envelopes.
struct Rig
{
    Rig()
    {
        for (int j = 0; j < 2 * kLfoParamCount + 2 * kEnvParamCount; ++j)
            params[size_t(j)].value =
                j < kEnvParamOffset
                    ? std::array<float, 7>{kLfoSaw, 0, 0, 1, 7, 0, 1}[size_t(j % 7)]
                    : std::array<float, 6>{0.2f, 10, 0.3f, 0.5f, 0.4f, 0}[size_t((j - 14) % 6)];
    }
    float& lfo(int l, int j) { return params[size_t(l * kLfoParamCount + j)].value; }
    float& env(int e, int j) { return params[size_t(kEnvParamOffset + e * kEnvParamCount + j)].value; }
    void run(double dt, double beats = 0.0, const double* host = nullptr, bool retrig = false,
             const ModState* global = nullptr)
    {
        mods.process(state, dt, beats, host, global, retrig);
        for (const LFO& l : state.lfo)
            trace += r6(l.phase) + ' ' + r6(l.prevPhase) + ' ' + r6(l.value) + " | ";
        for (const EnvState& e : state.env)
            trace += r6(e.stage) + ' ' + r6(e.value) + ' ' + r6(e.held) + " | ";
        trace += '\n';
    }
    std::vector<Param> params = std::vector<Param>(26);
    Modulators mods{params.data()};
    ModState state{};
    std::string trace;
};

// Against tests/engine/golden/modulators.txt, which holds the traces of:
// - every shape (and two unknown ones, which give 0) at characteristic phases, where only the
//   fraction counts; Noise moves between four targets per cycle joined by a smoothstep,
//   Sample&Hold draws exactly when the phase wraps;
// - free LFOs advancing by speed x step; synced ones locking to the host position by each of the
//   15 divisions, or running on by the step's beats without one; a retrigger restarting LFOs with
//   the switch at their Phase (then ignoring the host) and making Sample&Hold draw; an LFO with Per
//   Voice off copying the engine's;
// - envelope rows on either envelope (the other keeping the defaults): attack rising linearly from
//   Initial, decay falling squared to Sustain and holding, release falling squared from the held
//   value to exact zero, a zero attack, a short release, a decay step past two and a vanishing decay;
// - the vibrato's natural shape, wrapping from its last point to its first, then with jitter of
//   its depth and rate.
TEST(Modulators, TracesMatchTheGoldenFile)
{
    Rig rig;
    engineSrand(42u);
    for (int shape = -1; shape <= kNumLfoShapes; ++shape)
    {
        LFO lfo;
        rig.trace += "shape " + std::to_string(shape) + ':';
        for (float phase :
             {0.0f, 0.1f, 0.125f, 0.25f, 0.375f, 0.49f, 0.5f, 0.6f, 0.75f, 0.9f, 0.95f, 1.0f, 3.25f, 0.05f})
            rig.trace += ' ' + r6(lfo.getVal(phase, shape));
        rig.trace += '\n';
    }
    rig.lfo(0, 3) = 2.0f;
    for (int i = 0; i < 7; ++i)
        rig.run(0.1);
    rig.lfo(0, 2) = 1.0f;
    const double hostPos = 0.3, pos = 2.5, farHost = 100.3;
    for (int d = 0; d < 15; ++d)
        rig.lfo(0, 4) = float(d), rig.run(kHop, 0.01, &hostPos);
    rig.run(kHop, 0.01, &pos);
    rig.run(kHop, 0.125);
    rig.lfo(0, 1) = 0.25f, rig.lfo(0, 4) = 7.0f, rig.lfo(0, 5) = 1.0f;
    rig.run(0.0, 0.0, &farHost, true);
    rig.run(kHop, 0.5, &farHost);
    engineSrand(3u);
    rig.lfo(0, 0) = kLfoSampleHold, rig.lfo(0, 1) = 0.0f, rig.lfo(0, 2) = 0.0f, rig.lfo(0, 3) = 0.5f;
    for (bool retrigger : {true, false, true, false})
        rig.run(0.1, 0.0, nullptr, retrigger);
    ModState global{};
    rig.lfo(0, 0) = kLfoSaw, rig.lfo(0, 6) = 0.0f, rig.lfo(1, 6) = 1.0f, global.lfo[1].phase = 0.5f;
    for (int i = 0; i < 5; ++i)
    {
        rig.mods.process(global, 0.05, 0.0, nullptr, nullptr, false);
        rig.run(0.05, 0.0, nullptr, false, &global);
    }

    // clang-format off
    struct Row { float attackMs, decayS, releaseS, stage, held; bool retrigger; int hops; };
    const Row rows[] = {{10, 0.3f, 0.4f, 0, 0, true, 120}, {10, 0.3f, 0.4f, 3, 0.5f, false, 150},
                        {0, 0.3f, 0.4f, 0, 0, true, 3}, {10, 0.3f, 0.01f, 3, 0.8f, false, 6},
                        {10, float(kHop / 1.5), 0.4f, 1, 0, false, 3}, {10, 0, 0.4f, 1, 0.9f, false, 3}};
    // clang-format on
    for (const Row& r : rows)
        for (size_t e = 0; e < 2; ++e)
        {
            rig.env(int(e), 1) = r.attackMs, rig.env(int(e), 2) = r.decayS, rig.env(int(e), 4) = r.releaseS;
            rig.env(int(1 - e), 1) = 10, rig.env(int(1 - e), 2) = 0.3f, rig.env(int(1 - e), 4) = 0.4f;
            rig.state = ModState{};
            rig.state.env[e].stage = r.stage, rig.state.env[e].held = r.held;
            for (int hop = 0; hop < r.hops; ++hop)
                rig.run(kHop, 0.0, nullptr, r.retrigger && hop == 0);
        }

    LFOState vib;
    setCanonRandSeed(1u);
    for (int i = 0; i < 160; ++i)
        rig.trace += "vibrato " + r6(vib.step(i < 80 ? 1.0f / 64.0f : 0.02f, i < 80 ? 0.0f : 1.0f)) + '\n';
    qmtest::expectGolden("modulators.txt", rig.trace);
}

} // namespace

// A step prepared once advances any number of states over any number of steps exactly as process()
// with dt and beats does each time, and each LFO as getVal does: free and synced LFOs of the
// deterministic shapes, with and without a host position, Per Voice on and off, a retrigger, and
// the envelopes through all stages.
TEST(Modulators, PreparedStepAdvancesAsTheParametersDo)
{
    // clang-format off
    struct Case { float shape, sync, division, speedHz, retrigger, perVoice, attackMs, decayS, releaseS; double dt, beats; bool host; };
    const Case cases[] = {
        {kLfoSine, 0, 0, 1.0f, 1, 1, 10, 0.3f, 0.4f, kHop, 0.0, false},
        {kLfoTriangle, 0, 0, 7.3f, 0, 1, 0, 0.01f, 0.01f, kHop, 0.0, false},
        {kLfoSoftSaw, 1, 5, 2.0f, 0, 1, 200, 2.0f, 3.0f, kHop, 0.0057, true},
        {kLfoSigmoid, 1, 9, 2.0f, 1, 1, 3, 0.05f, 0.2f, kHop, 0.0057, true},
        {kLfoExpo, 1, 14, 2.0f, 0, 0, 10, kHop / 1.5, 0.4f, kHop, 0.0057, false},
        {kLfoSquare, 0, 0, 19.0f, 1, 0, 5000, 0.3f, 0.4f, 0.01, 0.0, true},
    };
    // clang-format on
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "shape " << c.shape << " sync " << c.sync);
        Rig rig;
        for (int l = 0; l < 2; ++l)
        {
            rig.lfo(l, 0) = c.shape, rig.lfo(l, 1) = 0.3f * float(l), rig.lfo(l, 2) = c.sync;
            rig.lfo(l, 3) = c.speedHz * float(l + 1), rig.lfo(l, 4) = c.division, rig.lfo(l, 5) = c.retrigger;
            rig.lfo(l, 6) = l == 0 ? c.perVoice : 1.0f;
        }
        for (int e = 0; e < 2; ++e)
            rig.env(e, 1) = c.attackMs, rig.env(e, 2) = c.decayS * float(e + 1), rig.env(e, 4) = c.releaseS;
        const ModulatorStep step = rig.mods.prepare(c.dt, c.beats);
        ModState global{}, byStep[2]{}, byTime[2]{};
        initModState(global);
        for (int v = 0; v < 2; ++v)
        {
            initModState(byTime[v]);
            byTime[v].lfo[1].phase = 0.1f * float(v);
            rig.mods.process(byTime[v], c.dt, c.beats, nullptr, &global, true);
            byStep[v] = byTime[v];
        }
        double hostPos = 1.0;
        for (int hop = 0; hop < 400; ++hop)
        {
            hostPos += c.beats;
            const double* host = c.host ? &hostPos : nullptr;
            ModState globalByTime = global;
            rig.mods.process(global, step, host, nullptr, false);
            rig.mods.process(globalByTime, c.dt, c.beats, host, nullptr, false);
            ASSERT_EQ(std::memcmp(&global, &globalByTime, sizeof global), 0) << "hop " << hop;
            if (hop == 150) // the voices' notes end: their envelopes enter the release
                for (int v = 0; v < 2; ++v)
                    for (int e = 0; e < 2; ++e)
                    {
                        byStep[v].env[size_t(e)].held = byStep[v].env[size_t(e)].value;
                        byStep[v].env[size_t(e)].stage = 3.0f;
                        byTime[v].env[size_t(e)] = byStep[v].env[size_t(e)];
                    }
            for (int v = 0; v < 2; ++v)
            {
                const ModState before = byStep[v];
                rig.mods.process(byStep[v], step, host, &global, false);
                rig.mods.process(byTime[v], c.dt, c.beats, host, &global, false);
                ASSERT_EQ(std::memcmp(&byStep[v], &byTime[v], sizeof byStep[v]), 0) << "hop " << hop << " voice " << v;
                // Each own LFO's record is what getVal makes of the one before at its new phase.
                for (int l = 0; l < 2; ++l)
                {
                    if (l == 0 && c.perVoice < 0.5f)
                        continue;
                    LFO expected = before.lfo[size_t(l)];
                    expected.getVal(byStep[v].lfo[size_t(l)].phase, int(c.shape));
                    ASSERT_EQ(std::memcmp(&expected, &byStep[v].lfo[size_t(l)], sizeof expected), 0) << "hop " << hop;
                }
            }
        }
        // The envelopes reached their release.
        EXPECT_GT(byStep[0].env[0].stage, 3.0f);
    }
}

// A step whose LFO values nothing reads leaves every record as a read step does, but for the
// value of a Sine; the next read step makes that value too what it would have been.
TEST(Modulators, UnreadStepsLeaveTheRecordsAsReadStepsDo)
{
    // clang-format off
    struct Case { float shape, sync, retrigger, perVoice; bool skips; };
    const Case cases[] = {
        {kLfoSine, 0, 0, 1, true},     {kLfoSine, 1, 1, 1, true},      {kLfoSine, 0, 0, 0, true},
        {kLfoSaw, 0, 0, 1, false},     {kLfoNoise, 0, 1, 1, false},    {kLfoSampleHold, 0, 0, 1, false},
        {kLfoExpo, 1, 0, 0, false},
    };
    // clang-format on
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "shape " << c.shape << " sync " << c.sync << " per voice " << c.perVoice);
        Rig rig;
        for (int l = 0; l < 2; ++l)
        {
            rig.lfo(l, 0) = c.shape, rig.lfo(l, 2) = c.sync, rig.lfo(l, 3) = 3.7f * float(l + 1);
            rig.lfo(l, 5) = c.retrigger, rig.lfo(l, 6) = c.perVoice;
        }
        const ModulatorStep read = rig.mods.prepare(kHop, 0.0061);
        ModulatorStep unread = read;
        for (auto& lfo : unread.lfo)
            lfo.valueRead = false;
        // Each pair draws the same random values: the generators are seeded alike before each step.
        ModState global[2]{}, voice[2]{};
        initModState(global[0]);
        initModState(voice[0]);
        global[1] = global[0], voice[1] = voice[0];
        bool differed = false;
        for (int hop = 0; hop < 60; ++hop)
        {
            const bool last = hop == 59;
            for (int k = 0; k < 2; ++k)
            {
                const ModulatorStep& step = k == 0 || last ? read : unread;
                engineSrand(uint32_t(hop) + 1u);
                setCanonRandSeed(uint32_t(hop) + 1u);
                rig.mods.process(global[k], step, nullptr, nullptr, hop == 20);
                rig.mods.process(voice[k], step, nullptr, &global[k], hop == 20);
            }
            for (ModState* s : {global, voice})
            {
                ModState masked = s[1];
                for (int l = 0; l < 2; ++l)
                {
                    differed = differed || std::memcmp(&masked.lfo[size_t(l)].value, &s[0].lfo[size_t(l)].value, sizeof(float)) != 0;
                    if (c.skips && !last)
                        masked.lfo[size_t(l)].value = s[0].lfo[size_t(l)].value;
                }
                ASSERT_EQ(std::memcmp(&masked, &s[0], sizeof masked), 0) << "hop " << hop;
            }
        }
        // Only a Sine skipped anything, and its skipped values did differ from the read ones.
        EXPECT_EQ(differed, c.skips);
    }
}

// Whatever a broken rate or depth hands the vibrato, its table phase stays in the table and the
// state recovers once the values are sane again.
TEST(Modulators, VibratoKeepsItsPhaseInTheTableForAnyStep)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Row { float cycles, depth; };
    const Row rows[] = {{inf, 0.0f}, {-inf, 0.0f}, {nan, 0.0f}, {3.0e9f, 0.0f}, {-3.0e9f, 1.0f},
                        {1.0e30f, 1.0f}, {0.02f, inf}, {0.02f, nan}, {0.02f, 1.0e30f}};
    for (const Row& r : rows)
    {
        SCOPED_TRACE(testing::Message() << "cycles " << r.cycles << " depth " << r.depth);
        setCanonRandSeed(1u);
        LFOState vib;
        for (int i = 0; i < 8; ++i)
        {
            vib.step(r.cycles, r.depth);
            EXPECT_TRUE(vib.phase >= 0.0f && vib.phase < 1.0f) << vib.phase;
        }
        // Sane steps again: the depth and rate lanes are walked back to plain values.
        vib.lanes = {};
        float value = 0.0f;
        for (int i = 0; i < 4; ++i)
            value = vib.step(0.02f, 1.0f);
        EXPECT_TRUE(std::isfinite(value));
    }
}
