#include "editor/FxComp.h"

FxComp::FxComp(PluginProcessor* p, Knob::Listener* l) : processor(p), knobListener(l)
{
    setSize(630, 376);
}

FxComp::~FxComp() = default;
