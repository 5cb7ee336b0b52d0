#include "canvas/VoxNodesComp.h"

#include <algorithm>
#include <cmath>

VoxNodesComp::VoxNodesComp()
{
    setInterceptsMouseClicks(false, false);
}

void VoxNodesComp::addDot(juce::Point<float> centre, juce::Colour colour)
{
    if (dotCount >= kMaxDots || !std::isfinite(centre.x) || !std::isfinite(centre.y)) return;
    dotPos[static_cast<size_t>(dotCount)] = centre;
    dotColour[static_cast<size_t>(dotCount)] = colour;
    ++dotCount;
}

void VoxNodesComp::refresh()
{
    if (!dirty) return;
    if (dotCount > 0)
    {
        float minX = dotPos[0].x, maxX = minX, minY = dotPos[0].y, maxY = minY;
        for (int i = 1; i < dotCount; ++i)
        {
            const auto p = dotPos[static_cast<size_t>(i)];
            minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
            minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
        }
        const float r = dotRadius;
        setBounds(static_cast<int>(minX - r - 8), static_cast<int>(minY - r - 8),
                  static_cast<int>(maxX - minX + 2 * r + 16), static_cast<int>(maxY - minY + 2 * r + 16));
    }
    repaint();
    dirty = false;
}

void VoxNodesComp::paint(juce::Graphics& g)
{
    const auto origin = getPosition().toFloat();
    for (int i = 0; i < dotCount; ++i)
    {
        const auto c = dotPos[static_cast<size_t>(i)] - origin;
        g.setColour(dotColour[static_cast<size_t>(i)]);
        g.fillEllipse(c.x - dotRadius, c.y - dotRadius, 2 * dotRadius, 2 * dotRadius);
    }
}
