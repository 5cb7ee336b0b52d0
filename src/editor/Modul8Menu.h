#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/Knob.h"

class PluginProcessor;

// The modulation page: the LFOs, the envelopes and the slot grid.
// Its knobs report to knobListener; it covers the canvas area.
class Modul8Menu : public juce::Component
{
  public:
    Modul8Menu(PluginProcessor* processor, Knob::Listener* knobListener);
    ~Modul8Menu() override;

  private:
    PluginProcessor* processor;
    Knob::Listener* knobListener;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(Modul8Menu)
};
