#pragma once

#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/GradLabel.h"
#include "editor/Knob.h"
#include "editor/ModBox.h"

class PluginProcessor;

// The modulation page: a box for each LFO and envelope and the grid of the eight modulation
// slots. The grid knobs report to knobListener; it draws no background of its own.
class Modul8Menu : public juce::Component
{
  public:
    Modul8Menu(PluginProcessor* processor, Knob::Listener* knobListener);
    ~Modul8Menu() override;

    const juce::OwnedArray<ModBox>& getBoxes() const noexcept { return boxes; }
    const juce::OwnedArray<Knob>& getSlotKnobs() const noexcept { return slotKnobs; }

  private:
    PluginProcessor* processor;
    juce::OwnedArray<ModBox> boxes;
    juce::OwnedArray<Knob> slotKnobs;
    std::unique_ptr<GradLabel> title;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(Modul8Menu)
};
