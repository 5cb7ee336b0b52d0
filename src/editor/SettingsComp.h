#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/Knob.h"

class PluginProcessor;

// The settings page: engine, vibrato, pitch, key and filter settings.
// Its knobs report to knobListener; it covers the canvas area.
class SettingsComp : public juce::Component
{
  public:
    SettingsComp(PluginProcessor* processor, Knob::Listener* knobListener);
    ~SettingsComp() override;

    // A parameter changed outside the page (the host, the canvas).
    void paramMessage(int paramIndex, float value);

  private:
    PluginProcessor* processor;
    Knob::Listener* knobListener;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SettingsComp)
};
