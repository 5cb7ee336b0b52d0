#pragma once

#include <array>

#include <juce_gui_basics/juce_gui_basics.h>

// The engine's sounding voices as dots in their mix colours, in one layer that covers just the
// dots and repaints only when they change.
class VoxNodesComp : public juce::Component
{
  public:
    static constexpr int kMaxDots = 16;

    VoxNodesComp();

    // Appends a dot (centre in the canvas's pixels); ignored past kMaxDots or for a point that is
    // not finite.
    void addDot(juce::Point<float> centre, juce::Colour colour);
    // Resizes the layer to the dots and repaints it, when dirty.
    void refresh();
    void paint(juce::Graphics& g) override;

    std::array<juce::Point<float>, kMaxDots> dotPos{};
    std::array<juce::Colour, kMaxDots> dotColour{};
    int dotCount = 0;
    float dotRadius = 5.0f;
    bool dirty = true;

  private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(VoxNodesComp)
};
