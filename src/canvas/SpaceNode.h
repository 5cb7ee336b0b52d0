#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "engine/canvas/NodeMixer.h"

// One sound of the sound space: a coloured dot with the sound's name on a dark pill that fades to
// the right. The user drags it by the dot; a right click or a double click asks for its popup.
class SpaceNode : public juce::Component
{
  public:
    // What a node reports to the canvas that holds it.
    class Listener
    {
      public:
        virtual ~Listener() = default;
        // The node was dragged and released.
        virtual void nodeChanged(SpaceNode* node) = 0;
        // The node's popup was asked for at screen position (x, y).
        virtual void showNodePopup(int x, int y, SpaceNode* node) = 0;
        virtual juce::Rectangle<int> getNodeBounds() = 0;
    };

    static constexpr int kHeight = 20;
    static constexpr float kDotRadius = 6.0f;

    // centre: the dot's pixel position in the parent.
    SpaceNode(Point2D centre, juce::Colour colour, juce::String name, juce::Font font, int index,
              Listener* listener);

    void paintNode(juce::Graphics& g);
    void paint(juce::Graphics& g) override { paintNode(g); }
    // Only the square around the dot takes clicks; the name lets them through.
    bool hitTest(int x, int y) override { return x >= 0 && x < kHeight && y >= 0 && y < kHeight; }
    void mouseDown(const juce::MouseEvent& e) override;
    void mouseDrag(const juce::MouseEvent& e) override;
    void mouseUp(const juce::MouseEvent& e) override;

    Listener* listener;
    int grabX = 0, grabY = 0;
    juce::Colour colour;
    juce::ColourGradient pillGradient;
    juce::String name;
    juce::Font font;
    int index;

  private:
    static bool isPlain(const juce::MouseEvent& e);
    void moveBy(const juce::MouseEvent& e);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SpaceNode)
};
