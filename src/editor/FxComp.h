#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/Knob.h"

class PluginProcessor;

// The effects page: the effect chain's switches and settings.
// Its knobs report to knobListener; it covers the canvas area.
class FxComp : public juce::Component
{
  public:
    FxComp(PluginProcessor* processor, Knob::Listener* knobListener);
    ~FxComp() override;

  private:
    PluginProcessor* processor;
    Knob::Listener* knobListener;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(FxComp)
};
