#include "canvas/SpaceNode.h"

#include <cmath>

SpaceNode::SpaceNode(Point2D centre, juce::Colour c, juce::String n, juce::Font f, int i, Listener* l)
    : listener(l), colour(c), name(std::move(n)), font(std::move(f)), index(i)
{
    const int width = static_cast<int>(std::ceil(font.getStringWidthFloat(name))) + 26;
    setSize(width, kHeight);
    pillGradient = juce::ColourGradient(juce::Colour(0x99000000u), 10.0f, 0.0f, juce::Colour(0x02000000u),
                                        static_cast<float>(width), 0.0f, false);
    setTopLeftPosition(static_cast<int>(centre.x - 10.0f), static_cast<int>(centre.y - 10.0f));
}

void SpaceNode::paintNode(juce::Graphics& g)
{
    const float w = static_cast<float>(getWidth());
    g.setGradientFill(pillGradient);
    // The pill runs past the right edge, so only its left end shows rounded.
    g.fillRoundedRectangle(0.0f, 0.0f, w + 10.0f, kHeight, 10.0f);
    g.setColour(colour);
    g.fillRoundedRectangle(10.0f - kDotRadius, 10.0f - kDotRadius, 2 * kDotRadius, 2 * kDotRadius,
                           kDotRadius);
    g.setColour(juce::Colours::white);
    g.setFont(font);
    g.drawText(name, 20, 0, getWidth() - 20, kHeight, juce::Justification::centredLeft, false);
}

bool SpaceNode::isPlain(const juce::MouseEvent& e)
{
    return !e.mods.isRightButtonDown() && e.getNumberOfClicks() != 2;
}

void SpaceNode::moveBy(const juce::MouseEvent& e)
{
    setTopLeftPosition(getX() + e.x - grabX, getY() + e.y - grabY);
}

void SpaceNode::mouseDown(const juce::MouseEvent& e)
{
    if (isPlain(e))
    {
        grabX = e.x;
        grabY = e.y;
    }
    else if (listener != nullptr)
    {
        const auto screen = e.getScreenPosition();
        listener->showNodePopup(screen.x, screen.y, this);
    }
}

void SpaceNode::mouseDrag(const juce::MouseEvent& e)
{
    if (isPlain(e)) moveBy(e);
}

void SpaceNode::mouseUp(const juce::MouseEvent& e)
{
    if (!isPlain(e)) return;
    moveBy(e);
    // The listener may rebuild every node, this one included: nothing may follow the call.
    if (listener != nullptr) listener->nodeChanged(this);
}
