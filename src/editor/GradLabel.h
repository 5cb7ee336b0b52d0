#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// A heading in the embedded black face, filled with a vertical gradient of one colour whose alpha
// runs from topAlpha near the top to bottomAlpha near the baseline. Its width fits the text.
class GradLabel : public juce::Component
{
  public:
    GradLabel(juce::String text, juce::Colour colour, int height, juce::Point<int> position, float topAlpha,
              float bottomAlpha);

    void paint(juce::Graphics& g) override;

    const juce::String& getText() const noexcept { return text; }

  private:
    juce::String text;
    juce::ColourGradient gradient;
    juce::Font font;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(GradLabel)
};
