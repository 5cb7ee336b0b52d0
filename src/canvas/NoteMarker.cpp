#include "canvas/NoteMarker.h"

#include <algorithm>

#include "canvas/PianoRollComp.h"
#include "editor/ColourBytes.h"
#include "engine/voice/KeyLayout.h"

namespace
{
constexpr int kDotSize = 20;
} // namespace

NoteMarker::NoteMarker(int n, int markY, const PianoRollComp& roll, juce::Colour colour)
    : note(n), mixColour(colour)
{
    setInterceptsMouseClicks(false, false);
    const int octave = n / 12, s = n - 12 * octave;
    const PianoRollComp::Key& key = roll.keys[static_cast<size_t>(s)];
    const int black = kKeyOffsetQ[static_cast<size_t>(s)] % 2;
    const int base = octave * roll.octaveWidth + roll.xOffset;
    const int keyUpper = base + key.upperX, keyLower = base + key.lowerX;
    // The roll lies at x 0 of the canvas, so key and canvas pixels agree along x.
    const int cx = roll.getX() + keyUpper + key.upperWidth / 2;
    const int left = std::min({cx - kDotSize / 2, keyUpper, keyLower});
    const int width = std::max(
        {cx + kDotSize / 2 + 1 - left, keyUpper + key.upperWidth - left, keyLower + key.lowerWidth - left});
    const int top = markY - kDotSize / 2;
    setBounds(left, top, width, roll.getBottom() - top);

    rollTop = static_cast<float>(roll.getY() - top);
    splitY = static_cast<float>(roll.split) - static_cast<float>(2 * black - 1) * roll.gap + rollTop;
    upperX = keyUpper + roll.getX() - left;
    lowerX = keyLower + roll.getX() - left;
    upperWidth = key.upperWidth;
    lowerWidth = key.lowerWidth;
    const uint8_t grey = greyLevel(1.0f - 0.92f * static_cast<float>(black));
    keyColour = juce::Colour(grey, grey, grey, static_cast<uint8_t>(0xff));
    stemGradient = juce::ColourGradient(mixColour, 0.0f, 20.0f, keyColour, 0.0f, rollTop, false);
}

void NoteMarker::paint(juce::Graphics& g)
{
    g.setColour(mixColour);
    g.fillEllipse(static_cast<float>(upperX + upperWidth / 2 - kDotSize / 2), 0.0f, kDotSize, kDotSize);
    g.setGradientFill(stemGradient);
    g.fillRect(static_cast<float>(upperX), 10.0f, static_cast<float>(upperWidth), rollTop - 10.0f);
    g.setColour(keyColour);
    g.fillRect(static_cast<float>(upperX), rollTop, static_cast<float>(upperWidth), splitY - rollTop);
    g.fillRect(static_cast<float>(lowerX), splitY, static_cast<float>(lowerWidth),
               static_cast<float>(getHeight()) - splitY);
}
