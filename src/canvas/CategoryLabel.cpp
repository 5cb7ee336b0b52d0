#include "canvas/CategoryLabel.h"

#include <algorithm>
#include <cmath>

#include "editor/EditorFonts.h"

CategoryLabel::CategoryLabel(const juce::String& t, juce::Colour categoryColour)
    : text(t), initial(t.substring(0, 1)), colour(categoryColour.withAlpha(static_cast<uint8_t>(0xbf)))
{
    font = getEditorFont(EditorFace::robotoBlack, 30.0f);
    // An empty text still gets a size (and no division by zero).
    const float w30 = std::max(font.getStringWidthFloat(text), 10.0f);
    const float s = std::sqrt(kTextArea / w30);
    const float h = std::clamp(30.0f * s, 0.1f, 10000.0f);
    font.setHeight(h);
    initialWidth = static_cast<int>(std::ceil(font.getStringWidthFloat(initial))) + 2;
    initialGradient = juce::ColourGradient(colour.withAlpha(static_cast<uint8_t>(0x7f)), 0.0f, 0.0f,
                                           colour.withAlpha(static_cast<uint8_t>(0)),
                                           static_cast<float>(initialWidth), 0.0f, false);
    setSize(static_cast<int>(w30 * s + 4), static_cast<int>(h));
}

void CategoryLabel::paint(juce::Graphics& g)
{
    g.setFont(font);
    g.setGradientFill(initialGradient);
    g.drawText(initial, 0, 0, initialWidth, getHeight(), juce::Justification::centredLeft, false);
    g.setColour(juce::Colours::black);
    g.drawText(text, 3, 0, getWidth(), getHeight(), juce::Justification::centredLeft, true);
}
