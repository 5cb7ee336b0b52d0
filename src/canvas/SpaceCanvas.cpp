#include "canvas/SpaceCanvas.h"

SpaceCanvas::SpaceCanvas(NodeCanvasData* c, int width, int height, PluginProcessor* p)
    : canvas(c), processor(p)
{
    setSize(width, height);
}

SpaceCanvas::~SpaceCanvas() = default;

void SpaceCanvas::handleMessage(const SynthEvent*) {}

void SpaceCanvas::canvasModeChanged(bool) {}
