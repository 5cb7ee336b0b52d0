#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/PluginEditor.h"

class OpenGLComp;

// The editor's main view over the whole root view. For now it only takes its size from the root.
class Overlay2D : public juce::Component, public PluginEditor::EventHandler
{
  public:
    Overlay2D(OpenGLComp& root, PluginProcessor* processor);
    ~Overlay2D() override;

    // Called once by the root view right after construction.
    // Until the overlay draws its own background, the window shows its ground colour here.
    void paint(juce::Graphics& g) override;
    void initialise();
    void handleMessage(const SynthEvent* event) override;
    void updateCanvasView(float unused) override;

  private:
    OpenGLComp& rootView;
    PluginProcessor* processor;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(Overlay2D)
};
