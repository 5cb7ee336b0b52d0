#pragma once

#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

// A button with an SVG icon (drawn in pure red, recoloured) on a dark rounded plate, and its text
// beside the icon when the button is wider than tall.
class SvgButton : public juce::Button
{
  public:
    SvgButton(const char* svgData, int svgSize, juce::Point<int> size, juce::String text,
              juce::Colour colour);

    void paintButton(juce::Graphics& g, bool isMouseOver, bool isButtonDown) override;

    std::unique_ptr<juce::Drawable> drawable;
    juce::String text;
    juce::Colour colour;
    float inset;
    juce::Font font;

  private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SvgButton)
};
