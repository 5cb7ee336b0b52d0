#pragma once
// Offline rendering for the processor and host tests (header-only: the host test links no test
// support code).
#include <array>
#include <cmath>
#include <map>
#include <vector>

#include <juce_audio_processors/juce_audio_processors.h>

namespace qmproc
{
// Renders numBlocks blocks of blockSize samples; the MIDI events of `at` go into the block of their
// key. Returns each output channel's peak, or infinity once a sample of it is not finite.
inline std::vector<float> renderPeaks(juce::AudioProcessor& p, int numBlocks, int blockSize,
                                      const std::map<int, juce::MidiBuffer>& at = {})
{
    juce::AudioBuffer<float> buffer(std::max(1, p.getTotalNumOutputChannels()), blockSize);
    std::vector<float> peak(size_t(buffer.getNumChannels()), 0.0f);
    for (int b = 0; b < numBlocks; ++b)
    {
        juce::MidiBuffer midi = at.count(b) != 0 ? at.at(b) : juce::MidiBuffer{};
        buffer.clear();
        p.processBlock(buffer, midi);
        for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
            peak[size_t(ch)] = std::max(peak[size_t(ch)], std::isfinite(buffer.getRMSLevel(ch, 0, blockSize))
                                                              ? buffer.getMagnitude(ch, 0, blockSize)
                                                              : INFINITY);
    }
    return peak;
}

// A chord of notes (note, velocity, position) on channel 1, or their note-offs at position 10.
inline juce::MidiBuffer chord(const std::vector<std::array<int, 3>>& notes, bool on = true)
{
    juce::MidiBuffer midi;
    for (const auto& [note, velocity, at] : notes)
        midi.addEvent(on ? juce::MidiMessage::noteOn(1, note, juce::uint8(velocity))
                         : juce::MidiMessage::noteOff(1, note),
                      on ? at : 10);
    return midi;
}
} // namespace qmproc
