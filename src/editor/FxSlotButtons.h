#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

struct Param;

// Hue of effect slot i, from orange (slot 0) through red to magenta (slot 6), in 0..1.
float fxSlotHue(int slot) noexcept;
// The colour of a slot's editor: its hue at saturation 0.65 and brightness 0.92.
juce::Colour fxSlotColour(int slot) noexcept;

// The name button of one effect slot on the effects page; it dims while the effect is off and
// shows white text while its slot is selected.
class FxLabel : public juce::Button
{
  public:
    FxLabel(juce::String text, juce::Font font, float hue, const Param* onOff);
    void paintButton(juce::Graphics& g, bool isMouseOverButton, bool isButtonDown) override;

    bool selected = false;
    const Param* onOff;
    juce::String text;
    juce::Font font;
    float hue;

  private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(FxLabel)
};

// The on/off switch at the right end of a slot's name button: a coloured bar while on, grey while
// off. The page writes the value; the button only shows it.
class FxOnButton : public juce::Button
{
  public:
    FxOnButton(float hue, const Param* onOff);
    void paintButton(juce::Graphics& g, bool isMouseOverButton, bool isButtonDown) override;

    float hue;
    const Param* onOff;

  private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(FxOnButton)
};
