// Block processing on the host's render thread: sample rate and musical time, the MIDI walk with
// audio rendered between events, and the reports to the editor. Voice allocation itself lives in
// engine/VoiceAllocation.cpp.

#include "processor/BlockProcessing.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "engine/params/ParamTable.h"
#include "processor/PluginProcessor.h"

namespace
{
// Below this sample rate the rendered time is not counted (a host probing with a dummy rate).
constexpr double kMinCountedSampleRate = 5000.0;
constexpr double kDefaultTempo = 120.0;
// Output channels the engine renders.
constexpr int kMaxRenderChannels = 2;
} // namespace

// ---- PluginProcessor: the render callback and what the host calls around it ----

void PluginProcessor::prepareToPlay(double sampleRate, int)
{
    dsp->init(static_cast<float>(sampleRate));
    reportHostValues();
}

void PluginProcessor::receivedParamChange(int hostIndex)
{
    if (hostIndex < 0 || hostIndex >= dsp->hostParamCount) return;
    const Param& p = dsp->params[static_cast<size_t>(dsp->hostParamIndex[static_cast<size_t>(hostIndex)])];
    pushEvent({kSynthEventParamChanged, p.index, p.value});
}

void PluginProcessor::renderSegment(juce::AudioBuffer<float>& buffer, int start, int length,
                                    int numChannels) noexcept
{
    std::array<float*, kMaxRenderChannels> out{};
    for (int ch = 0; ch < numChannels; ++ch)
        out[static_cast<size_t>(ch)] = buffer.getWritePointer(ch, start);
    dsp->process(out.data(), length, numChannels);
}

void PluginProcessor::processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    // Follow the host's rate. A rate the engine cannot use (0, NaN) is not re-applied on every
    // block: the engine then keeps its default rate.
    const float sr = static_cast<float>(getSampleRate());
    if (!dsp->isInitialised() || (std::isfinite(sr) && sr > 0.0f && sr != dsp->sampleRate)) dsp->init(sr);

    // Remember the block size and count the rendered time.
    const int numSamples = buffer.getNumSamples();
    lastBlockSize = numSamples;
    if (sr > kMinCountedSampleRate)
        gOnSeconds.fetch_add(static_cast<double>(static_cast<float>(numSamples) / sr),
                             std::memory_order_relaxed);

    // Musical time.
    double tempo = kDefaultTempo;
    double position = 0.0;
    if (auto* playHead = getPlayHead())
        if (const auto info = playHead->getPosition())
        {
            if (const auto bpm = info->getBpm(); bpm.hasValue() && *bpm > 0.0) tempo = *bpm;
            if (const auto ppq = info->getPpqPosition(); ppq.hasValue() && std::isfinite(*ppq))
                position = *ppq;
        }
    dsp->tempoBpm = tempo;
    dsp->hostPlaying = position != dsp->lastHostPosition ? 1 : 0;
    dsp->lastHostPosition = position;
    if (dsp->hostPlaying != 0) dsp->runningPosition = position;

    // Channels the engine renders into; any further output channel stays silent.
    const int outputs = std::min(getTotalNumOutputChannels(), buffer.getNumChannels());
    const int numChannels = std::clamp(outputs, 0, kMaxRenderChannels);
    for (int ch = numChannels; ch < buffer.getNumChannels(); ++ch)
        buffer.clear(ch, 0, numSamples);

    // Audio up to each MIDI event, then the event.
    walkBlockSegments(
        numSamples, midi, [](const juce::MidiMessageMetadata& meta) { return meta.samplePosition; },
        [&](int start, int length)
        {
            if (numChannels > 0) renderSegment(buffer, start, length, numChannels);
        },
        [&](const juce::MidiMessageMetadata& meta)
        {
            const MidiResult r = applyMidiMessage(*dsp, meta.data, meta.numBytes);
            if (r.noteEvent) pushEvent({kSynthEventNote, r.note, r.velocity});
        });
}
