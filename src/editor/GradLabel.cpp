#include "editor/GradLabel.h"

#include <cmath>

#include "editor/ColourBytes.h"
#include "editor/EditorFonts.h"

GradLabel::GradLabel(juce::String newText, juce::Colour colour, int height, juce::Point<int> position,
                     float topAlpha, float bottomAlpha)
    : text(std::move(newText)),
      font(getEditorFont(EditorFace::robotoBlack, static_cast<float>(height)).withExtraKerningFactor(0.05f))
{
    const int width = static_cast<int>(std::ceil(font.getStringWidthFloat(text)));
    setBounds(position.x, position.y, width, height);
    const float h = static_cast<float>(height);
    gradient = juce::ColourGradient(colour.withAlpha(alphaByte(topAlpha)), 0.0f, 0.1f * h,
                                    colour.withAlpha(alphaByte(bottomAlpha)), 0.0f, 0.86f * h, false);
}

void GradLabel::paint(juce::Graphics& g)
{
    g.setGradientFill(gradient);
    g.setFont(font);
    g.drawText(text, getLocalBounds(), juce::Justification::topLeft, true);
}
