#include "engine/modulation/Modulators.h"

#include <algorithm>
#include <cmath>

#include "engine/modulation/CanonRandom.h"
#include "engine/params/Param.h"
#include "engine/Random.h"
#include "engine/fx/SyncDivisions.h"

const std::array<float, kVibOscTabSize> kVibOscTab = {
    0.1658f,  0.2558f,  0.3008f,  0.4768f,  0.6044f,  0.7884f,  0.8863f,  0.9272f,
    0.9302f,  0.864f,   0.78f,    0.6868f,  0.6001f,  0.4611f,  0.3033f,  0.1427f,
    -0.0682f, -0.263f,  -0.4271f, -0.5627f, -0.7646f, -0.9499f, -1.0698f, -1.0656f,
    -1.0225f, -0.9643f, -0.9257f, -0.7597f, -0.5649f, -0.407f,  -0.2559f, -0.0536f};

namespace
{
constexpr float kTwoPi = 6.2831853f;
constexpr float kPi = 3.14159265f;
// Guard against zero segment times: such a segment finishes in one step.
constexpr float kTimeGuard = 1e-20f;
// Noise and Sample&Hold draw from the engine's rand() replacement, scaled to -1..1.
constexpr float kRandToUnitRange = 9.313226e-10f;

float randomBipolar() noexcept
{
    return float(engineRand()) * kRandToUnitRange - 1.0f;
}

float fraction(float x) noexcept
{
    // Past 2^23 every float is whole, and past an int's range the conversion is undefined: there
    // the fraction is x - x (0, or NaN for inf and NaN, as x - floor(x) gives).
    return std::fabs(x) < 8388608.0f ? x - float(int(x)) : x - x;
}

// Moves an LFO's record on to phase p, a fraction already.
void moveToFraction(LFO& lfo, float p) noexcept
{
    lfo.prevPhase = lfo.phase;
    lfo.phase = p;
}

// Moves an LFO's record on to newPhase (its fraction), which it returns.
float moveTo(LFO& lfo, float newPhase) noexcept
{
    const float p = fraction(newPhase);
    moveToFraction(lfo, p);
    return p;
}

// Parameter offsets within one LFO's and one envelope's block of records.
enum LfoParam
{
    kLfoShape = 0,
    kLfoPhase,
    kLfoSync,
    kLfoSpeedHz,
    kLfoDivision,
    kLfoRetrigger,
    kLfoPerVoice
};
enum EnvParam
{
    kEnvInitial = 0,
    kEnvAttack,
    kEnvDecay,
    kEnvSustain,
    kEnvRelease,
    kEnvRetrigger
};

// Attack times are in milliseconds.
float attackStep(float attackMs, double dt) noexcept
{
    return float(1000.0 / (attackMs + kTimeGuard) * dt);
}
} // namespace

float LFO::getVal(float newPhase, int shape) noexcept
{
    const float p = moveTo(*this, newPhase);
    float v = 0.0f;
    switch (shape)
    {
    case kLfoSine:
        v = std::sin(kTwoPi * p);
        break;
    case kLfoTriangle:
        v = p < 0.25f ? 4.0f * p : (p > 0.75f ? 4.0f * p - 4.0f : 2.0f - 4.0f * p);
        break;
    case kLfoSaw:
        v = 1.0f - 2.0f * p;
        break;
    case kLfoSoftSaw:
    {
        const double d = p;
        v = float((80.0 * (d - 0.5) * (d - 0.5) + 12.0) * (d - 1.0) * d * (d - 0.5));
        break;
    }
    case kLfoSquare:
        v = p < 0.5f ? 1.0f : -1.0f;
        break;
    case kLfoSigmoid:
        v = std::cos(kPi * p);
        break;
    case kLfoExpo:
        v = 2.0f * std::exp(-2.4f * p) - 1.0f;
        break;
    case kLfoNoise:
    {
        // Four random targets per cycle, joined by a smoothstep.
        const int quarter = int(4.0f * p);
        if (quarter != int(4.0f * prevPhase))
        {
            rndOld = rndNew;
            rndNew = randomBipolar();
        }
        const float f = 4.0f * p - float(quarter);
        const float s = (3.0f - 2.0f * f) * f * f;
        v = s * rndNew + (1.0f - s) * rndOld;
        break;
    }
    case kLfoSampleHold:
        if (prevPhase > p) rndOld = randomBipolar();
        v = rndOld;
        break;
    default:
        v = 0.0f;
        break;
    }
    value = v;
    return v;
}

ModulatorStep Modulators::prepare(double dt, double beats) const noexcept
{
    ModulatorStep step;
    for (int l = 0; l < kNumLfos; ++l)
    {
        const Param* p = params + l * kLfoParamCount;
        ModulatorStep::Lfo& s = step.lfo[size_t(l)];
        s.followsGlobal = p[kLfoPerVoice].value < 0.5f;
        s.retrigger = p[kLfoRetrigger].value >= 0.5f;
        s.synced = p[kLfoSync].value > 0.5f;
        s.shape = int(p[kLfoShape].value);
        s.phase = p[kLfoPhase].value;
        if (s.synced)
        {
            const int d = std::clamp(int(p[kLfoDivision].value + 0.1f), 0, kNumSyncDivisions - 1);
            s.cyclesPerBeat = double(kSyncDen[size_t(d)]) * 0.25 / double(kSyncNum[size_t(d)]);
            s.syncedAdvance = s.cyclesPerBeat * beats;
        }
        else
        {
            s.freeAdvance = float(double(p[kLfoSpeedHz].value) * dt);
        }
    }
    for (int e = 0; e < kNumEnvelopes; ++e)
    {
        const Param* p = params + kEnvParamOffset + e * kEnvParamCount;
        ModulatorStep::Env& s = step.env[size_t(e)];
        s.initial = p[kEnvInitial].value;
        s.attackStep = attackStep(p[kEnvAttack].value, dt);
        s.decayStep = std::min(2.0f, float(dt / (p[kEnvDecay].value + kTimeGuard)));
        s.sustain = p[kEnvSustain].value;
        s.releaseStep = float(dt / (p[kEnvRelease].value + kTimeGuard));
    }
    return step;
}

void Modulators::process(ModState& state, double dt, double beats, const double* hostPos,
                         const ModState* global, bool retrigger) const noexcept
{
    process(state, prepare(dt, beats), hostPos, global, retrigger);
}

void Modulators::process(ModState& state, const ModulatorStep& step, const double* hostPos,
                         const ModState* global, bool retrigger) const noexcept
{
    for (int l = 0; l < kNumLfos; ++l)
    {
        const ModulatorStep::Lfo& s = step.lfo[size_t(l)];
        LFO& lfo = state.lfo[size_t(l)];
        if (global != nullptr && s.followsGlobal)
        {
            lfo = global->lfo[size_t(l)];
            continue;
        }
        float ph = lfo.phase;
        if (retrigger && s.retrigger)
        {
            ph = s.phase;
            // Out of range on purpose: the next value then counts as a new cycle, so Noise and
            // Sample&Hold draw fresh values.
            lfo.phase = 10.0f;
            lfo.prevPhase = 10.0f;
        }
        // A free-running phase is a fraction already, and taking it again gives the same bits; a
        // synced one can round up to 1 as a float, so the shapes take its fraction.
        float newPhase;
        bool isFraction = false;
        if (s.synced)
        {
            double x;
            if (hostPos != nullptr && !s.retrigger)
                x = double(s.phase) + s.cyclesPerBeat * *hostPos;
            else
                x = double(ph) + s.syncedAdvance;
            newPhase = float(x - std::floor(x));
        }
        else
        {
            newPhase = fraction(ph + s.freeAdvance);
            isFraction = true;
        }
        if (s.shape == kLfoSine)
        {
            // The default shape as getVal gives it, without the call and the shape switch.
            float p = newPhase;
            if (isFraction)
                moveToFraction(lfo, p);
            else
                p = moveTo(lfo, newPhase);
            if (s.valueRead)
                lfo.value = std::sin(kTwoPi * p);
        }
        else
        {
            lfo.getVal(newPhase, s.shape);
        }
    }

    for (int e = 0; e < kNumEnvelopes; ++e)
    {
        const ModulatorStep::Env& p = step.env[size_t(e)];
        EnvState& env = state.env[size_t(e)];
        const float initial = p.initial;
        if (retrigger)
        {
            env.stage = std::min(1.0f, p.attackStep);
            env.value = initial + (1.0f - initial) * env.stage;
            continue;
        }
        float s = env.stage;
        if (s < 1.0f)
        {
            s = std::min(1.0f, s + p.attackStep);
            env.value = initial + (1.0f - initial) * s;
        }
        else if (s < 2.0f)
        {
            const float sustain = p.sustain;
            s += p.decayStep;
            if (s >= 3.0f)
            {
                // A decay far shorter than the step would land in the release stage (with a stale
                // held value) while the note is still down: finish the decay on the sustain level.
                s = 2.0f;
                env.value = sustain;
            }
            else
            {
                // A step that carries s past 2 lies above the sustain level; the next one holds it.
                const float rest = 1.0f - (s - 1.0f);
                env.value = sustain + (1.0f - sustain) * rest * rest;
            }
        }
        else if (s < 3.0f)
        {
            env.value = p.sustain;
        }
        else if (s < 4.0f)
        {
            const float rest = 1.0f - (s - 3.0f);
            env.value = env.held * rest * rest;
            s += p.releaseStep;
        }
        else
        {
            env.value = 0.0f;
        }
        env.stage = s;
    }
}

float LFOState::step(float cycles, float depth, float, bool) noexcept
{
    // Lane 0 wobbles the depth, lane 1 the rate; each walks between random targets with a
    // smoothstep so the vibrato never jumps.
    constexpr std::array<float, 2> kLaneScale = {0.5f, 0.2f};
    for (size_t lane = 0; lane < lanes.size(); ++lane)
    {
        VibratoLane& j = lanes[lane];
        j.scale = kLaneScale[lane] * depth;
        j.phase += j.rate * cycles;
        if (j.phase >= 1.0f)
        {
            j.oldTarget = j.newTarget;
            j.newTarget = j.scale * getCanonRandFloat();
            j.phase = fraction(j.phase);
        }
        const float x = j.phase;
        const float s = (3.0f - 2.0f * x) * x * x;
        j.value = s * j.newTarget + (1.0f - s) * j.oldTarget;
    }
    phase = fraction(phase + (1.0f + lanes[1].value) * cycles);
    // A negative rate must not index before the table, nor an infinite or huge one past it (there
    // the whole part does not fit an int and the fraction is no fraction).
    if (!(phase >= 0.0f && phase < 1.0f))
        phase = 0.0f;
    const float pos = float(kVibOscTabSize) * phase;
    const int i = std::min(int(pos), kVibOscTabSize - 1);
    const float f = pos - float(i);
    static_assert((kVibOscTabSize & (kVibOscTabSize - 1)) == 0, "the next point wraps by a mask");
    const float shape = (1.0f - f) * kVibOscTab[size_t(i)] + f * kVibOscTab[size_t((i + 1) & (kVibOscTabSize - 1))];
    return (1.0f + lanes[0].value) * shape;
}
