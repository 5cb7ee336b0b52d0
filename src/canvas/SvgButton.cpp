#include "canvas/SvgButton.h"

#include <algorithm>

#include "editor/ColourBytes.h"
#include "editor/EditorFonts.h"

SvgButton::SvgButton(const char* svgData, int svgSize, juce::Point<int> size, juce::String t, juce::Colour c)
    : juce::Button("svgButton"), text(std::move(t)), colour(c), inset(static_cast<float>(size.y) * 0.25f),
      font(getEditorFont(EditorFace::robotoMedium, 13.0f))
{
    setSize(size.x, size.y);
    if (svgData != nullptr && svgSize > 0)
        drawable = juce::Drawable::createFromImageData(svgData, static_cast<size_t>(svgSize));
    if (drawable != nullptr) drawable->replaceColour(juce::Colour(0xffff0000u), colour);
}

void SvgButton::paintButton(juce::Graphics& g, bool over, bool down)
{
    const float w = static_cast<float>(getWidth()), h = static_cast<float>(getHeight());
    const float m = std::min(w, h);
    if (getWidth() != getHeight())
    {
        g.setColour(juce::Colours::black.withAlpha(alphaByte(0.2f + 0.4f * over + 0.2f * down)));
        g.fillRoundedRectangle(0.0f, 0.0f, w, h, m / 2);
    }
    const float o = 0.4f + 0.5f * over - 0.2f * down;
    if (drawable != nullptr)
        drawable->drawWithin(g, {inset, inset, m - 2 * inset, m - 2 * inset},
                             juce::RectanglePlacement::stretchToFit, o);
    if (w > h && text.isNotEmpty())
    {
        g.setColour(colour.withAlpha(alphaByte(o)));
        g.setFont(font);
        g.drawText(text, static_cast<int>(m), 0, static_cast<int>(w - m), static_cast<int>(h),
                   juce::Justification::centredLeft, true);
    }
}
