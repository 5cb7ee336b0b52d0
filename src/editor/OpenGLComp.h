#pragma once

#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

class Overlay2D;
class PluginProcessor;

// The editor's root view: an opaque design-size component that owns the main overlay and gives it
// its whole area. The editor scales it as a whole.
class OpenGLComp : public juce::Component
{
  public:
    OpenGLComp(int width, int height, PluginProcessor* processor);
    ~OpenGLComp() override;

    void paint(juce::Graphics& g) override;
    void resized() override;

    Overlay2D* getOverlay() const noexcept { return overlay.get(); }

  private:
    std::unique_ptr<Overlay2D> overlay;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(OpenGLComp)
};
