#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "processor/SynthEvent.h"

struct NodeCanvasData;
class PluginProcessor;

// The sound-space canvas: the constellation of sounds that the morph point moves over, in the
// processor's canvas mode. It sees every event of the processor before the overlay does.
class SpaceCanvas : public juce::Component
{
  public:
    SpaceCanvas(NodeCanvasData* canvas, int width, int height, PluginProcessor* processor);
    ~SpaceCanvas() override;

    void handleMessage(const SynthEvent* event);
    // The processor's canvas mode may have changed; animate is false for an immediate switch.
    void canvasModeChanged(bool animate);

  private:
    NodeCanvasData* canvas;
    PluginProcessor* processor;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SpaceCanvas)
};
