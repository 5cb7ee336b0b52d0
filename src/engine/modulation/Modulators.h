#pragma once

#include <array>
#include <cstdint>

struct Param;

// LFO shapes, in the order of the LFO_Shape choice.
inline constexpr int kLfoSine = 0;
inline constexpr int kLfoTriangle = 1;
inline constexpr int kLfoSaw = 2;
inline constexpr int kLfoSoftSaw = 3;
inline constexpr int kLfoSquare = 4;
inline constexpr int kLfoSigmoid = 5;
inline constexpr int kLfoExpo = 6;
inline constexpr int kLfoNoise = 7;
inline constexpr int kLfoSampleHold = 8;
inline constexpr int kNumLfoShapes = 9;

inline constexpr int kNumLfos = 2;
inline constexpr int kNumEnvelopes = 2;
// Parameter records per LFO (Shape, Phase, Sync, Speed Hz, Speed division, Retrigger, Per Voice)
// and per envelope (Initial, Attack, Decay, Sustain, Release, Retrigger), counted from the first
// LFO parameter that Modulators points at.
inline constexpr int kLfoParamCount = 7;
inline constexpr int kEnvParamCount = 6;
inline constexpr int kEnvParamOffset = kNumLfos * kLfoParamCount; // 14

// One LFO's state. getVal is also used by the editor on records of its own to draw the shapes.
struct LFO
{
    // Value of `shape` at `phase` (only its fraction counts); updates the record.
    float getVal(float newPhase, int shape) noexcept;

    float phase = 0.0f;     // phase of the last value, 0..1
    float prevPhase = 0.0f; // phase before it
    float value = 0.0f;     // last output, -1..1
    float rndOld = 0.0f;    // random values of the Noise and Sample&Hold shapes
    float rndNew = 0.0f;
};

// One four-segment envelope. stage: integer part 0 attack, 1 decay, 2 sustain, 3 release, 4 or
// more finished; fraction = progress in the segment.
struct EnvState
{
    float stage = 0.0f;
    float value = 0.0f; // output, 0..1
    float held = 0.0f;  // value at which the release started
};

// The modulation sources of one voice or of the whole engine.
struct ModState
{
    std::array<LFO, kNumLfos> lfo{};
    std::array<EnvState, kNumEnvelopes> env{};
};
static_assert(sizeof(ModState) == 16 * sizeof(float), "modulator state is sixteen words");

// What one step of the modulators takes from the LFO and envelope parameters: the same for every
// state the step advances, so that a render call, whose parameters stand still, works it out once
// for the engine and all voices of all its hops instead of once per state and hop.
struct ModulatorStep
{
    struct Lfo
    {
        bool followsGlobal = false; // Per Voice off: a voice's LFO copies the engine's
        bool retrigger = false;
        bool synced = false;
        // Whether anything reads the value this step gives (render calls read a voice's LFO only
        // through the modulation routing). A Sine nobody reads only moves its phase: its value
        // is worked out afresh at the next step that is read, so no reader ever sees the skip.
        bool valueRead = true;
        int shape = 0;
        float phase = 0.0f;            // the Phase parameter
        double cyclesPerBeat = 0.0;    // synced
        double syncedAdvance = 0.0;    // synced: cycles per step
        float freeAdvance = 0.0f;      // free-running: cycles per step
    };
    struct Env
    {
        float initial = 0.0f;
        float attackStep = 0.0f;  // stage advance per step in the attack
        float decayStep = 0.0f;   // in the decay (at most 2)
        float sustain = 0.0f;
        float releaseStep = 0.0f; // in the release
    };
    std::array<Lfo, kNumLfos> lfo{};
    std::array<Env, kNumEnvelopes> env{};
};

// Advances ModStates once per hop from the LFO and envelope parameters.
struct Modulators
{
    // firstLfoParam: the first LFO parameter record (LFO 1 Shape) of the engine's table; the
    // other 25 LFO and envelope records follow it.
    explicit Modulators(const Param* firstLfoParam) noexcept : params(firstLfoParam) {}

    // Advances both LFOs and both envelopes of `state` by dt seconds; beats is that step in beats;
    // hostPos, when given, is the host's musical position in beats. global: the engine's state when
    // `state` is a voice's (LFOs with Per Voice off then copy it), null for the engine's own.
    void process(ModState& state, double dt, double beats, const double* hostPos, const ModState* global,
                 bool retrigger) const noexcept;

    // The step of dt seconds (beats in beats) as the parameters stand now, and process() with a
    // step worked out before: the same as process() with dt and beats while the parameters stand.
    ModulatorStep prepare(double dt, double beats) const noexcept;
    void process(ModState& state, const ModulatorStep& step, const double* hostPos, const ModState* global,
                 bool retrigger) const noexcept;

    const Param* params = nullptr;
};

// One jitter lane of the vibrato: a smoothed random target walk.
struct VibratoLane
{
    float rate = 4.0f; // random targets per vibrato cycle
    float scale = 0.0f;
    float phase = 1.0f; // starts at 1 so the first step draws a target
    float oldTarget = 0.0f;
    float newTarget = 0.0f;
    float value = 0.0f;
};

// Number of points of one vibrato cycle.
inline constexpr int kVibOscTabSize = 32;
// One cycle of the natural vibrato shape.
extern const std::array<float, kVibOscTabSize> kVibOscTab;

// A voice's vibrato oscillator: a fixed natural shape whose depth (lane 0) and rate (lane 1) wobble
// randomly. A default-constructed state is the start state of a new voice.
struct LFOState
{
    // Advances by `cycles` vibrato cycles with jitter depth `depth` and returns the vibrato value.
    // The last two arguments are not read.
    float step(float cycles, float depth, float unused = 0.0f, bool unusedFlag = false) noexcept;

    float phase = 0.0f;
    std::array<VibratoLane, 2> lanes{};
};
static_assert(sizeof(LFOState) == 13 * sizeof(float), "vibrato state is thirteen words");
