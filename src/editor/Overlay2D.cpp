#include "editor/Overlay2D.h"

#include "editor/OpenGLComp.h"

Overlay2D::Overlay2D(OpenGLComp& root, PluginProcessor* p) : rootView(root), processor(p)
{
    setSize(rootView.getWidth(), rootView.getHeight());
}

Overlay2D::~Overlay2D() = default;

void Overlay2D::paint(juce::Graphics& g)
{
    g.fillAll(juce::Colour(0xff1a1a1au));
}

void Overlay2D::initialise() {}

void Overlay2D::handleMessage(const SynthEvent*) {}

void Overlay2D::updateCanvasView(float) {}
