#pragma once

#include <array>

#include <juce_gui_basics/juce_gui_basics.h>

#include "engine/canvas/NodeMixer.h"

class SpaceNodeComp;

// The highlight of the current mix: a white disc on each mixed node (as opaque as its weight), a
// line from each to the morph point, and the morph point itself.
class NodeTriangle : public juce::Component
{
  public:
    NodeTriangle();

    // Places the highlight for mix over the canvas's nodes, in the layer's pixels.
    void setTriangle(NodeMix mix, NodeCanvasData* canvas, SpaceNodeComp* layer);
    void paint(juce::Graphics& g) override;

    NodeMix mix{};
    // Entries of mix that name a node of the canvas, with their pixel corners (local).
    int vertexCount = 0;
    std::array<juce::Point<int>, kMaxMixNodes> vertex{};
    std::array<float, kMaxMixNodes> vertexWeight{};
    juce::Point<int> point;

  private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(NodeTriangle)
};
