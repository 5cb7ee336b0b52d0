#include "editor/FxSlotButtons.h"

#include <cmath>

#include "editor/ColourBytes.h"
#include "engine/params/Param.h"

float fxSlotHue(int slot) noexcept
{
    const float h = 0.13333334f - 0.25f * static_cast<float>(slot + 1) / 7.0f;
    return h - std::floor(h);
}

juce::Colour fxSlotColour(int slot) noexcept
{
    return juce::Colour(fxSlotHue(slot), 0.65f, 0.92f, static_cast<juce::uint8>(255));
}

namespace
{
bool switchedOn(const Param* p) noexcept
{
    return p != nullptr && p->value > 0.5f;
}
} // namespace

FxLabel::FxLabel(juce::String newText, juce::Font newFont, float newHue, const Param* newOnOff)
    : juce::Button("fxButton"), onOff(newOnOff), text(std::move(newText)), font(std::move(newFont)),
      hue(newHue)
{
}

void FxLabel::paintButton(juce::Graphics& g, bool, bool down)
{
    const float off = switchedOn(onOff) ? 0.0f : 1.0f;
    const float b = down ? 1.0f - 0.2f : 1.0f;
    const juce::uint8 a = alphaByte(1.0f - 0.45f * off);
    const juce::Colour top(hue, 0.6f, b, a);
    const juce::Colour bottom(hue, 0.6f, b - 0.27f * off, a);
    g.setGradientFill(
        juce::ColourGradient(top, 0.0f, 0.0f, bottom, 0.0f, static_cast<float>(getHeight()), false));
    g.fillAll();
    g.setColour(
        (selected ? juce::Colours::white : juce::Colours::black).withAlpha(alphaByte(1.0f - 0.39f * off)));
    g.setFont(font);
    g.drawText(text, 12, 0, getWidth() - 12, getHeight(), juce::Justification::centredLeft, true);
}

FxOnButton::FxOnButton(float newHue, const Param* newOnOff)
    : juce::Button("FxOnButton"), hue(newHue), onOff(newOnOff)
{
}

void FxOnButton::paintButton(juce::Graphics& g, bool, bool down)
{
    const float on = switchedOn(onOff) ? 1.0f : 0.0f;
    const float off = 1.0f - on;
    const float w = static_cast<float>(getWidth()), h = static_cast<float>(getHeight());
    g.setColour(juce::Colours::black.withAlpha(alphaByte(1.0f - 0.4f * off)));
    g.fillEllipse(2.0f, 2.0f, w - 4.0f, h - 4.0f);
    const float brightness = 0.5f * on + 0.5f - (down ? 0.2f : 0.0f);
    g.setColour(juce::Colour(hue, 0.75f * on, brightness, alphaByte(1.0f - 0.2f * off)));
    g.fillRoundedRectangle(static_cast<float>(getWidth() / 2) - 1.8f, 4.7f, 3.6f, h - 9.4f, 1.8f);
}
