#pragma once

#include <array>

#include <juce_gui_basics/juce_gui_basics.h>

#include "engine/canvas/NodeMixer.h"

// The translucent keyboard along the bottom of the Keyboard mode: 128 keys whose centres lie at the
// canvas x of their notes.
class PianoRollComp : public juce::Component
{
  public:
    static constexpr int kHeight = 36;

    struct Key
    {
        int upperX = 0, lowerX = 0, upperWidth = 0, lowerWidth = 0;
    };

    // A strip canvasWidth wide for the keyboard layout of canvas.
    PianoRollComp(NodeCanvasData* canvas, int canvasWidth);

    void paint(juce::Graphics& g) override;

    int octaveWidth = 0;
    int u = 1; // half a white key
    int xOffset = 0;
    int split = 23;
    float gap = 1.0f;
    std::array<Key, 12> keys{};
    NodeCanvasData* canvas;

  private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(PianoRollComp)
};
