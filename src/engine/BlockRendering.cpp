// KeySpaceDSP::process: one stretch of audio for the host's render thread. Pending samples first,
// then the newest canvas and mix from the queues, then hop after hop of voices into the shared
// spectrum, one inverse transform per channel and hop, and finally the effect chain over the whole
// stretch. Nothing here allocates, locks or blocks; denormals are flushed for the whole call.

#include <algorithm>
#include <array>
#include <cmath>

#include "engine/synth/AddSynth.h"
#include "engine/fx/FxChain.h"
#include "engine/KeySpaceDSP.h"
#include "engine/modulation/Modulators.h"
#include "engine/params/ParamTable.h"
#include "platform/FlushDenormals.h"

namespace
{
// Output channels the engine writes at most.
constexpr int kMaxOutputChannels = 2;
// The second channel's extra rotation per unit of stereo spread, in 1024ths of a turn.
constexpr float kSpreadRotation = 256.0f;
// The routing's source number of LFO 1 (LFO 2 follows it).
constexpr int kModSourceFirstLfo = 1;

// Whether a slot of the routing reads the source.
bool routesSource(const ModChains& chains, int source) noexcept
{
    const int count = std::clamp(chains.count, 0, kNumModSlots);
    for (int i = 0; i < count; ++i)
        if (chains.entries[static_cast<std::size_t>(i)].source == source)
            return true;
    return false;
}
} // namespace

void KeySpaceDSP::pollQueues() noexcept
{
    // The canvas copy goes through a local record so that a torn or partial read never reaches the
    // engine's canvas; receiveCanvas and receiveMix make every count and index safe to use.
    NodeCanvasData incomingCanvas;
    if (canvasReader.readNewest(incomingCanvas))
        receiveCanvas(incomingCanvas);
    NodeMix incomingMix{};
    if (mixReader.readNewest(incomingMix))
        receiveMix(incomingMix);
}

void KeySpaceDSP::process(float** out, int numSamples, int numChannels) noexcept
{
    if (numSamples <= 0 || out == nullptr)
        return;
    const FlushDenormals denormalGuard;
    if (!initialised)
        init(sampleRate);

    // Samples the previous call's last hop left ready go out first.
    const int channels = std::clamp(numChannels, 0, kMaxOutputChannels);
    bool silent = true;
    int remaining = numSamples - addSynth->getRemSamples(out, 0, numSamples, channels, &silent);

    // The newest canvas and mix, taken once for the whole call.
    pollQueues();

    // One routing for every voice and hop of the call.
    ModChains chains;
    buildModChains(chains);

    // Values every voice of every hop shares.
    HopContext hop;
    hop.hopSeconds = static_cast<float>(addSynth->hop) / sampleRate;
    hop.beats = tempoBpm * static_cast<double>(hop.hopSeconds) / 60.0;
    hop.binauralOn = isFxSwitchedOn(params[kFirstFxSwitch + kFxSlotBinaural]);
    if (hop.binauralOn)
    {
        const Param& spreadParam = params[kParamStereoSpread];
        const float s = spreadParam.convertValToUnit(spreadParam.value);
        hop.spread = s > 0.0f ? (s < 1.0f ? s : 1.0f) : 0.0f;
    }
    hop.corrWeight = std::sqrt(1.0f - hop.spread);
    hop.spreadWeight = std::sqrt(hop.spread);
    hop.rotSpread = static_cast<uint32_t>(hop.spread * kSpreadRotation);
    const auto unit = [this](int i) noexcept {
        const Param& p = params[static_cast<std::size_t>(i)];
        return p.convertValToUnit(p.value);
    };
    hop.dampingUnit = unit(kParamDamping);
    hop.vibratoLifeUnit = unit(kParamVibratoLife);
    hop.vibratoEmphasisUnit = unit(kParamVibratoEmphasis);
    const float glideTime = params[kParamGlideTime].value;
    hop.glide = glideTime > 0.0f ? std::exp(-2.0f * hop.hopSeconds / glideTime) : 0.0f;
    hop.modStep = modulators->prepare(hop.hopSeconds, hop.beats);
    std::array<bool, kNumLfos> lfoRouted{};
    for (int l = 0; l < kNumLfos; ++l)
        lfoRouted[static_cast<std::size_t>(l)] = routesSource(chains, kModSourceFirstLfo + l);
    hop.binaural = binauralStage();

    // Hops until the stretch is full: modulators, voices into the shared spectrum, inverse transforms.
    MixLookupMemo mixMemo;
    BlendMemo blendMemo;
    while (remaining > 0)
    {
        // An LFO no slot routes is read by nothing in the call: its value need only be right
        // after the call's last hop (every hop hands out one hop of samples, the last what is left).
        const bool lastHop = remaining <= addSynth->hop;
        for (int l = 0; l < kNumLfos; ++l)
            hop.modStep.lfo[static_cast<std::size_t>(l)].valueRead = lfoRouted[static_cast<std::size_t>(l)] || lastHop;
        runningPosition += hop.beats;
        hop.hostPos = hostPlaying != 0 ? &runningPosition : nullptr;
        modulators->process(globalMod, hop.modStep, hop.hostPos, nullptr, false);

        resetModulation();
        const int count = std::clamp(voiceCount, 0, kMaxVoices);
        for (int i = 0; i < count; ++i)
            renderVoiceHop(voices[static_cast<std::size_t>(i)], hop, chains, mixMemo, blendMemo);

        addSynth->resynthesizeHop(channels);
        addSynth->advanceWritePos();

        bool hopSilent = true;
        const int written = addSynth->getRemSamples(out, numSamples - remaining, remaining, channels, &hopSilent);
        silent = silent && hopSilent;
        remaining -= written;
        if (written <= 0)
            break; // cannot happen with a hop of at least one sample; never spin
    }

    processFxChain(fx, out, numSamples, channels, silent, params.data());

    // Trailing free voices leave the count; block processing raises it again when it needs to.
    while (voiceCount > 0 && voices[static_cast<std::size_t>(voiceCount - 1)].state == 0)
        --voiceCount;

    // Never waits: a snapshot the editor is copying at this moment is simply skipped.
    VoiceSnapshot snapshot;
    snapshot.count = std::clamp(voiceCount, 0, kMaxVoices);
    for (int i = 0; i < snapshot.count; ++i)
    {
        const KeyVoice& v = voices[static_cast<std::size_t>(i)];
        snapshot.voices[static_cast<std::size_t>(i)] = {v.state, v.releaseProgress, v.mix};
    }
    (void)voiceSnapshots.tryPush(snapshot);
}
