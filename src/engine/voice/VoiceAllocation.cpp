// Voice allocation: what each MIDI message does to the engine's voices and channel records, the
// choice of a voice for a new note, and the envelope rewind of a retriggered one.

#include "engine/voice/VoiceAllocation.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/modulation/Modulators.h"
#include "engine/params/ParamTable.h"

namespace
{
constexpr float kMidiMax = 127.0f;
constexpr float kNoCost = 1e20f;
// Retrigger below this unit value leaves the time position alone.
constexpr float kRetriggerThreshold = 0.001f;
// Envelope stages: 0..1 attack, 1..2 decay, 3 release.
constexpr float kEnvReleaseStage = 3.0f;
constexpr float kMsToSeconds = 0.001f;
constexpr float kTinyTime = 1e-20f;

// MIDI status nibbles and controllers.
constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kPolyPressure = 0xA0;
constexpr uint8_t kController = 0xB0;
constexpr uint8_t kChannelPressure = 0xD0;
constexpr uint8_t kPitchBend = 0xE0;
constexpr int kCcModWheel = 1;
constexpr int kCcSustain = 64;
// Channels with a controller record: 1 to 15.
constexpr int kLastControlledChannel = 15;

// Bytes a channel message of this status needs, status included.
int messageLength(uint8_t status) noexcept
{
    switch (status & 0xF0)
    {
    case 0xC0:
    case kChannelPressure:
        return 2;
    default:
        return 3;
    }
}

bool timeWarpBackwards(const KeySpaceDSP& dsp) noexcept
{
    return dsp.params[kParamTimeWarp].value < 0.0f;
}

// Rewinds one envelope for a retriggered note by the share Env_Retrigger of the time it spent in
// attack and decay.
void rewindEnvelope(const KeySpaceDSP& dsp, EnvState& env, int firstParam) noexcept
{
    float& g = env.stage;
    if (g >= kEnvReleaseStage)
    {
        g = 0.0f;
        return;
    }
    const float attack = dsp.params[static_cast<size_t>(firstParam + kEnvParamAttack)].value * kMsToSeconds;
    const float decay = dsp.params[static_cast<size_t>(firstParam + kEnvParamDecay)].value;
    const Param& retrigger = dsp.params[static_cast<size_t>(firstParam + kEnvParamRetrigger)];
    float elapsed = std::min(g, 1.0f) * attack;
    if (g >= 1.0f) elapsed += std::min(g - 1.0f, 1.0f) * decay;
    const float rewound = (1.0f - retrigger.convertValToUnit(retrigger.value)) * elapsed;
    g = std::min(rewound / (attack + kTinyTime), 1.0f);
    if (g == 1.0f) g = 1.0f + std::min((rewound - attack) / (decay + kTinyTime), 1.0f);
}

void resetVoice(KeyVoice& v) noexcept
{
    constexpr float inf = std::numeric_limits<float>::infinity();
    v.state = 0;
    v.velocity = 0.0f;
    v.bands.levelA.fill(inf);
    v.bands.levelB.fill(inf);
    v.bands.levelC.fill(inf);
    v.bands.tonality.fill(inf);
    v.timePos = 0.0f;
    v.voiceHarmonicCount = 0;
    v.onsetPending = 0;
    v.aftertouch = 0.0f;
    v.releaseProgress = 0.0f;
    v.dampProgress = 0.0f;
    v.attackProgress = 0.0f;
    v.bandCount = 0;
    v.activeBands = 0;
    v.voiceResonanceCount = 0;
    v.activeResonances = 0;
    v.needsSetup = 1;
    v.state = 1;
}
} // namespace

int polyphonyLimit(const KeySpaceDSP& dsp) noexcept
{
    const float poly = dsp.params[kParamPolyphony].value + 0.1f;
    if (!(poly >= 1.0f)) return 1;
    if (poly >= static_cast<float>(kMaxVoices)) return kMaxVoices;
    return static_cast<int>(poly);
}

float voiceStealCost(const KeyVoice& v, int note) noexcept
{
    const float a = std::max(-v.timePos, 0.0f);
    const float d = std::fabs(static_cast<float>(note - v.note));
    return (1.0f / (10.0f * a * a + 1.0f)) *
           ((1.0f - v.releaseProgress) * 5.0f + 1.0f / (std::max(v.timePos, 0.0f) + 1.0f) + d / (d + 12.0f));
}

int chooseVoice(const KeySpaceDSP& dsp, int note) noexcept
{
    const int limit = polyphonyLimit(dsp);
    for (int i = 0; i < limit; ++i)
        if (dsp.voices[static_cast<size_t>(i)].state == 0) return i;
    // A voice whose cost is not a number is never preferred; when no cost is a number, the first
    // voice is taken so that the note still plays.
    int best = 0;
    float bestCost = kNoCost;
    for (int i = 0; i < limit; ++i)
    {
        const float cost = voiceStealCost(dsp.voices[static_cast<size_t>(i)], note);
        if (cost < bestCost)
        {
            bestCost = cost;
            best = i;
        }
    }
    return best;
}

int startNote(KeySpaceDSP& dsp, int note, int velocity, int channel) noexcept
{
    // The note plays on the canvas and mix the editor sent last, even within a block.
    dsp.pollQueues();

    const int index = chooseVoice(dsp, note);
    KeyVoice& v = dsp.voices[static_cast<size_t>(index)];
    dsp.voiceCount = std::max(dsp.voiceCount, index + 1);
    const bool backwards = timeWarpBackwards(dsp);

    if (v.state == 0 || v.state == 2)
    {
        resetVoice(v);
        v.timePos = backwards ? 1.0f : 0.0f;
        v.pitch = static_cast<float>(note);
        v.onsetPending = backwards ? 0 : 1;
        // Every note start also retriggers the global modulators set to retrigger.
        dsp.modulators->process(dsp.globalMod, 0.0, 0.0, &dsp.runningPosition, nullptr, true);
        dsp.modulators->process(v.mod, 0.0, 0.0, &dsp.runningPosition, &dsp.globalMod, true);
    }
    else
    {
        const Param& retrigger = dsp.params[kParamRetrigger];
        const float u = retrigger.convertValToUnit(retrigger.value);
        if (u > kRetriggerThreshold)
        {
            const float start = backwards ? 1.0f : 0.0f;
            v.timePos = u * start + (1.0f - u) * std::min(v.timePos, 1.0f);
        }
        for (int e = 0; e < kEnvBlockCount; ++e)
            rewindEnvelope(dsp, v.mod.env[static_cast<size_t>(e)], kFirstEnvParam + e * kParamsPerEnv);
    }

    v.note = note;
    v.velocity = static_cast<float>(velocity) / kMidiMax;
    v.channel = channel;
    v.needsSetup = 1;
    if (v.onsetPending == 1)
    {
        // Prepares the onset at the event's own sample.
        dsp.applyModulationForVoice(&v, nullptr);
        const NodeMix mix = dsp.getMixDataForVoice(&v);
        dsp.setVoiceData(&v, mix);
    }
    return index;
}

void releaseNote(KeySpaceDSP& dsp, int note, int channel) noexcept
{
    const int count = std::clamp(dsp.voiceCount, 0, kMaxVoices);
    for (int i = 0; i < count; ++i)
    {
        KeyVoice& v = dsp.voices[static_cast<size_t>(i)];
        if (v.state != 1 || v.note != note || v.channel != channel) continue;
        v.state = 2;
        for (EnvState& env : v.mod.env)
        {
            env.stage = kEnvReleaseStage;
            env.held = env.value;
        }
    }
}

MidiResult applyMidiMessage(KeySpaceDSP& dsp, const uint8_t* data, int numBytes) noexcept
{
    MidiResult result;
    if (data == nullptr || numBytes < 1) return result;
    const uint8_t s = data[0];
    if (s < 0x80 || s >= 0xF0 || numBytes < messageLength(s))
        return result; // running status, system messages, or a message cut short
    const uint8_t kind = s & 0xF0;
    const int ch = (s & 0x0F) + 1;
    const int d1 = data[1] & 0x7F;
    const int d2 = numBytes >= 3 ? (data[2] & 0x7F) : 0;
    const bool controlled = ch <= kLastControlledChannel;

    if (kind == kNoteOn && d2 != 0)
    {
        startNote(dsp, d1, d2, ch);
        return {true, d1, static_cast<float>(d2)};
    }
    if (kind == kNoteOff || kind == kNoteOn)
    {
        releaseNote(dsp, d1, ch);
        return {true, d1, 0.0f};
    }
    switch (kind)
    {
    case kPitchBend:
        if (controlled)
        {
            const int v = d2 * 128 + d1;
            dsp.channels[static_cast<size_t>(ch)].bend = 2.0f * static_cast<float>(v) / 16384.0f - 1.0f;
        }
        break;
    case kController:
        if (controlled && d1 == kCcSustain)
            dsp.channels[static_cast<size_t>(ch)].sustain = static_cast<float>(d2) / kMidiMax;
        else if (controlled && d1 == kCcModWheel)
            dsp.channels[static_cast<size_t>(ch)].modWheel = static_cast<float>(d2) / kMidiMax;
        break;
    case kPolyPressure:
    {
        const int count = std::clamp(dsp.voiceCount, 0, kMaxVoices);
        for (int i = 0; i < count; ++i)
        {
            KeyVoice& v = dsp.voices[static_cast<size_t>(i)];
            if (v.state == 1 && v.note == d1 && v.channel == ch)
                v.aftertouch = static_cast<float>(d2) / kMidiMax;
        }
        break;
    }
    case kChannelPressure:
        if (controlled) dsp.channels[static_cast<size_t>(ch)].pressure = static_cast<float>(d1) / kMidiMax;
        break;
    default:
        break;
    }
    return result;
}
