#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "canvas/SpaceNode.h"

class KeySpaceDSP;

// The node layer: one SpaceNode per sound of the canvas over the triangle mesh, and the mapping
// from canvas units (y up) to its pixels.
class SpaceNodeComp : public juce::Component
{
  public:
    SpaceNodeComp();

    // Rebuilds every node from the canvas, with names and colours from the engine's sound list.
    void setNodes(NodeCanvasData* canvas, KeySpaceDSP* engine);
    void paint(juce::Graphics& g) override;

    juce::Point<float> toPixels(Point2D unit) const noexcept
    {
        return {unit.x * scale.x + offset.x, unit.y * scale.y + offset.y};
    }
    Point2D toUnits(juce::Point<float> pixel) const noexcept
    {
        return {(pixel.x - offset.x) * (1.0f / scale.x), (pixel.y - offset.y) * (1.0f / scale.y)};
    }

    Point2D scale{1.0f, 1.0f};
    Point2D offset;
    juce::OwnedArray<SpaceNode> nodes;
    NodeCanvasData* canvas = nullptr;
    juce::Font font;
    SpaceNode::Listener* listener = nullptr;
    // Held while the mesh is drawn from the canvas, when another thread may rewrite the canvas.
    juce::CriticalSection* canvasLock = nullptr;

  private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SpaceNodeComp)
};
