#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class PluginProcessor;

// The About page over the canvas area: the product's version and text and its file actions.
class AboutComp : public juce::Component
{
  public:
    explicit AboutComp(PluginProcessor* processor);
    ~AboutComp() override;

  private:
    PluginProcessor* processor;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(AboutComp)
};
