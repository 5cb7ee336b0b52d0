#pragma once

#include <functional>

#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/Knob.h"
#include "editor/WaveBox.h"

// One LFO or envelope of the modulation page: its shape picture and a panel of value boxes. The
// box's knobs report to the box only, which redraws the picture; nothing reaches the host.
class ModBox : public juce::Component, public Knob::Listener
{
  public:
    ModBox(ModType type, juce::String title, Param* params, int count, juce::Colour colour);
    ~ModBox() override;

    void knobChanged(int paramIndex, float value, ChangeType changeType) override;
    void paint(juce::Graphics& g) override;

    const juce::OwnedArray<Knob>& getKnobs() const noexcept { return knobs; }
    WaveBox& getWaveBox() noexcept { return waveBox; }

    // Called when a knob's edit is complete (a drag's end or a single change).
    std::function<void()> onEdited;

  private:
    // An LFO shows one of its two Speed knobs: the division while Sync is on, else the free rate.
    void applySync();

    juce::OwnedArray<Knob> knobs;
    Param* params;
    ModType type;
    WaveBox waveBox;
    juce::Colour colour;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(ModBox)
};
