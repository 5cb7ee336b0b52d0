#include "editor/OpenGLComp.h"

#include "editor/Overlay2D.h"

OpenGLComp::OpenGLComp(int width, int height, PluginProcessor* processor)
{
    setOpaque(true);
    setSize(width, height);
    overlay = std::make_unique<Overlay2D>(*this, processor);
    addAndMakeVisible(*overlay);
    overlay->initialise();
}

OpenGLComp::~OpenGLComp()
{
    overlay.reset();
}

void OpenGLComp::paint(juce::Graphics&) {}

void OpenGLComp::resized()
{
    if (overlay != nullptr) overlay->setBounds(getLocalBounds());
}
