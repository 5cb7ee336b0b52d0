#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// A category's caption on the top level of the Explore mode: black text sized to a fixed area,
// with its first letter repeated behind it in the category's colour. Clicks go to the canvas below.
class CategoryLabel : public juce::Component
{
  public:
    // The caption's area in square pixels, whatever the text's length.
    static constexpr float kTextArea = 100.0f;

    CategoryLabel(const juce::String& text, juce::Colour categoryColour);

    void paint(juce::Graphics& g) override;
    bool hitTest(int, int) override { return false; }

    juce::String text;
    juce::String initial;
    int initialWidth = 0;
    juce::Colour colour;
    juce::ColourGradient initialGradient;
    juce::Font font;

  private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(CategoryLabel)
};
