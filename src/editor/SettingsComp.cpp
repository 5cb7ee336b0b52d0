#include "editor/SettingsComp.h"

SettingsComp::SettingsComp(PluginProcessor* p, Knob::Listener* l) : processor(p), knobListener(l)
{
    setSize(630, 376);
}

SettingsComp::~SettingsComp() = default;

// Until the page has knobs of its own, a change refreshes the whole page.
void SettingsComp::paramMessage(int, float)
{
    repaint();
}
