#include "editor/AboutComp.h"

AboutComp::AboutComp(PluginProcessor* p) : processor(p)
{
    setSize(630, 376);
}

AboutComp::~AboutComp() = default;
