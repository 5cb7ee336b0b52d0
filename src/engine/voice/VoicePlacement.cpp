#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/KeySpaceDSP.h"
#include "engine/voice/KeyLayout.h"

// Per-voice modulation routing, the canvas point and mix of a voice, and its binaural placement.

namespace
{
constexpr int kNotesPerOctave = 12;
constexpr float kWhiteKeysPerOctave = 7.0f;

constexpr int kModSourceConstant = 5;
constexpr int kModScalerNoteFreq = 5;

// Binaural placement: the ears are 1/1700 s apart at most; the far ear's shadow starts at 1200 Hz
// straight ahead and falls as the sound turns away.
constexpr float kMaxInterauralDelay = 0.0005882353f;
constexpr int kBinauralCentreNote = 57;

float clamp01(float v)
{
    return v > 1.0f ? 1.0f : (v > 0.0f ? v : 0.0f);
} // NaN gives 0

float finiteOr(float v, float fallback)
{
    return std::isfinite(v) ? v : fallback;
}

// Bit for bit: the mix carries its point, and a remembered mix must carry the very same one (-0 too).
bool sameBits(Point2D a, Point2D b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Node entries become sound indices; an entry that names no node or no sound of this engine
// becomes -1, which the voice set-up skips.
NodeMix withSoundIndices(NodeMix mix, const NodeCanvasData& canvas, int numSounds) noexcept
{
    mix.count = std::clamp(mix.count, 0, kMaxMixNodes);
    const int numNodes = std::clamp(canvas.nodeCount, 0, kMaxSoundNodes);
    for (int i = 0; i < mix.count; ++i)
    {
        const int n = mix.node[static_cast<size_t>(i)];
        int sound = -1;
        if (n >= 0 && n < numNodes)
        {
            const int id = canvas.nodes[static_cast<size_t>(n)].soundId;
            if (id >= 0 && id < numSounds) sound = id;
        }
        mix.node[static_cast<size_t>(i)] = sound;
    }
    return mix;
}

// The XY Pad lookup for a point the memo does not hold, which it then holds. Kept out of line so
// that the remembered lookup, by far the commoner, saves no registers for it.
[[gnu::noinline]] NodeMix lookUpXYPadMix(KeySpaceDSP& dsp, KeyVoice& voice, Point2D p,
                                         KeySpaceDSP::MixLookupMemo* memo) noexcept
{
    const int hintIn = voice.triHint;
    int hint = hintIn;
    const NodeMix mix = withSoundIndices(dsp.canvas.getNodeMixForPoint(p, true, &hint, false), dsp.canvas, dsp.numSounds());
    voice.triHint = hint;
    if (memo != nullptr)
    {
        ++memo->changes;
        memo->valid = true;
        memo->point = p;
        memo->hintIn = hintIn;
        memo->hintOut = hint;
        memo->mix = mix;
    }
    return mix;
}
} // namespace

void KeySpaceDSP::buildModChains(ModChains& chains) const noexcept
{
    chains.count = 0;
    if (static_cast<int>(params.size()) < kNumEngineParams) return;
    const int numTargets = static_cast<int>(modTargets.size());
    for (int s = 0; s < kModSlotCount; ++s)
    {
        const int base = kFirstModSlotParam + kParamsPerModSlot * s;
        const float source = params[base + kModParamSource].value;
        const float amount = params[base + kModParamAmount].value;
        const float scaler = params[base + kModParamScaler].value;
        const float target = params[base + kModParamTarget].value;
        // Values from a corrupt state or host may be NaN or out of range: such a slot is inactive.
        if (!(source > 0.5f) || !(source < kModSourceConstant + 1.0f) || !(amount != 0.0f) ||
            !std::isfinite(amount) || !(target >= 0.0f) || !(target < static_cast<float>(numTargets)))
            continue;
        const int t = static_cast<int>(target);
        const int targetParam = modTargets[static_cast<size_t>(t)];
        if (targetParam < 0 || targetParam >= static_cast<int>(params.size())) continue;
        ModChainEntry& e = chains.entries[static_cast<size_t>(chains.count++)];
        e.source = static_cast<int>(source);
        e.amount = t < static_cast<int>(modTargetScales.size())
                       ? amount * modTargetScales[static_cast<size_t>(t)]
                       : amount;
        e.scaler = (scaler >= 0.0f && scaler < kModScalerNoteFreq + 1.0f) ? static_cast<int>(scaler) : 0;
        e.target = targetParam;
    }
}

void KeySpaceDSP::resetModulation() noexcept
{
    for (const int target : modTargets)
        if (target >= 0 && target < static_cast<int>(params.size()))
            params[static_cast<size_t>(target)].modValue = params[static_cast<size_t>(target)].value;
}

void KeySpaceDSP::applyModulationForVoice(KeyVoice* voice, ModChains* chains) noexcept
{
    if (chains == nullptr)
    {
        // The routing record is built only here: zeroing it on every call with given chains
        // cost each voice and hop more than the routing itself when no slot is in use.
        resetModulation();
        if (voice == nullptr) return;
        ModChains local;
        buildModChains(local);
        applyModulationForVoice(voice, &local);
        return;
    }
    const int count = std::min(chains->count, kNumModSlots);
    // Given chains, the targets were all reset once for the hop, and voices since then moved only
    // the chains' own; all of them first, as two slots may share a target.
    for (int i = 0; i < count; ++i)
    {
        const int target = chains->entries[static_cast<size_t>(i)].target;
        if (target >= 0 && target < static_cast<int>(params.size()))
            params[static_cast<size_t>(target)].modValue = params[static_cast<size_t>(target)].value;
    }
    if (voice == nullptr || count <= 0) return;

    const ChannelState& ch = channelState(voice->channel);
    std::array<float, 6> scalers = {1.0f,
                                    voice->velocity,
                                    ch.modWheel,
                                    voice->aftertouch + ch.pressure,
                                    static_cast<float>(voice->note) / 69.0f,
                                    voice->pitch / 440.0f};
    std::array<float, 6> sources = {0.0f,
                                    voice->mod.lfo[0].value,
                                    voice->mod.lfo[1].value,
                                    voice->mod.env[0].value,
                                    voice->mod.env[1].value,
                                    1.0f};

    for (int i = 0; i < count; ++i)
    {
        const ModChainEntry& e = chains->entries[static_cast<size_t>(i)];
        if (e.target < 0 || e.target >= static_cast<int>(params.size())) continue;
        const float src =
            (e.source >= 0 && e.source <= kModSourceConstant) ? sources[static_cast<size_t>(e.source)] : 0.0f;
        const float scl =
            (e.scaler >= 0 && e.scaler <= kModScalerNoteFreq) ? scalers[static_cast<size_t>(e.scaler)] : 1.0f;
        params[static_cast<size_t>(e.target)].modValue += e.amount * scl * src;
    }
}

NodeMix KeySpaceDSP::getMixDataForVoice(KeyVoice* voice, MixLookupMemo* memo) noexcept
{
    if (voice == nullptr) return NodeMix{};
    if (canvas.mode == kCanvasModeXYPad)
    {
        float mx = 0.5f, my = 0.5f;
        if (static_cast<int>(params.size()) > kParamMorphY)
        {
            mx = finiteOr(params[kParamMorphX].modValue, params[kParamMorphX].value);
            my = finiteOr(params[kParamMorphY].modValue, params[kParamMorphY].value);
        }
        const Point2D lo = canvas.lo[kCanvasModeXYPad];
        const Point2D hi = canvas.hi[kCanvasModeXYPad];
        Point2D p{lo.x + (hi.x - lo.x) * mx, lo.y + (hi.y - lo.y) * my};
        p.x = finiteOr(p.x, 0.5f);
        p.y = finiteOr(p.y, 0.5f);
        const int hintIn = voice->triHint;
        // The canvas stored the remembered lookup as its current mix, and only a lookup here
        // replaces that, so a remembered one leaves the canvas as it is.
        if (memo != nullptr && memo->valid && memo->hintIn == hintIn && sameBits(memo->point, p))
        {
            voice->triHint = memo->hintOut;
            return memo->mix;
        }
        return lookUpXYPadMix(*this, *voice, p, memo);
    }
    if (memo != nullptr) // the canvas's current mix may move below
    {
        memo->valid = false;
        ++memo->changes;
    }
    if (canvas.mode == kCanvasModeKeyboard)
    {
        Point2D p = keyboardPoint(canvas, voice->note, voice->velocity);
        p.x = finiteOr(p.x, 0.5f);
        p.y = finiteOr(p.y, 0.5f);
        return withSoundIndices(canvas.getNodeMixForPoint(p, true, nullptr, true), canvas, numSounds());
    }
    return withSoundIndices(canvas.currentMix, canvas, numSounds());
}

Point2D keyboardPoint(const NodeCanvasData& canvas, int note, float velocity) noexcept
{
    const int n = std::clamp(note, 0, 127);
    const int octave = n / kNotesPerOctave;
    const int semitone = n - kNotesPerOctave * octave;
    Point2D p;
    p.x = ((kKeyOffset[static_cast<size_t>(semitone)] + 0.5f) / kWhiteKeysPerOctave +
           static_cast<float>(octave)) *
              canvas.keyOctaveWidth +
          canvas.keyOffsetX;
    p.y = (1.0f - velocity) * canvas.lo[kCanvasModeKeyboard].y + velocity * canvas.hi[kCanvasModeKeyboard].y;
    return p;
}

KeySpaceDSP::BinauralStage KeySpaceDSP::binauralStage() const noexcept
{
    BinauralStage stage;
    if (static_cast<int>(params.size()) <= kParamStereoY) return stage;
    const Param& onOff = params[kFirstFxSwitch + kFxSlotBinaural];
    stage.placed = onOff.convertValToUnit(onOff.value) > 0.5f;
    stage.x = clamp01(params[kParamStereoX].value);
    stage.y = clamp01(params[kParamStereoY].value);
    return stage;
}

BinauralParams KeySpaceDSP::computeBinauralParams(KeyVoice* voice) const noexcept
{
    const BinauralStage stage = binauralStage();
    if (voice == nullptr || !stage.placed) return BinauralParams{};
    return binauralPlacement(voice->note, stage);
}

BinauralParams KeySpaceDSP::placeNote(int note, const BinauralStage& stage) const noexcept
{
    BinauralParams result;
    const float x = stage.x;
    const float y = stage.y;
    const float offset =
        x - 0.5f + static_cast<float>(note - kBinauralCentreNote) * (1.0f - x) * x / 12.0f;
    const float distance = 0.05f / (y + 0.01f) + 1.0f - y;
    result.on = true;
    result.angle = std::atan(offset / distance);
    result.delay = std::sin(result.angle) * kMaxInterauralDelay;
    result.shadowFreq = 1200.0f / (0.5f - 0.499f * std::cos(result.angle));
    if (note >= 0 && note < static_cast<int>(binauralByNote.size()))
        binauralByNote[static_cast<size_t>(note)] = {x, y, result};
    return result;
}
