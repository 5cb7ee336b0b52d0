#include "editor/Modul8Menu.h"

Modul8Menu::Modul8Menu(PluginProcessor* p, Knob::Listener* l) : processor(p), knobListener(l)
{
    setSize(630, 376);
}

Modul8Menu::~Modul8Menu() = default;
