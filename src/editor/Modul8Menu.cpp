#include "editor/Modul8Menu.h"

#include "editor/SettingsComp.h"
#include "engine/params/ParamTable.h"
#include "processor/PluginProcessor.h"

Modul8Menu::Modul8Menu(PluginProcessor* p, Knob::Listener* knobListener) : processor(p)
{
    setSize(630, 376);
    Param* params = processor->dsp->params.data();

    int y = 20;
    auto addBox = [&](ModType type, const juce::String& name, int first, int count)
    {
        auto* box = boxes.add(new ModBox(type, name, &params[first], count, groupColour(boxes.size())));
        box->onEdited = [p = processor] { p->notifyStateChanged(); };
        addAndMakeVisible(box);
        box->setTopLeftPosition(20, y);
        y += 86;
    };
    for (int n = 0; n < kLfoBlockCount; ++n)
        addBox(modTypeLfo, "LFO " + juce::String(n + 1), kFirstLfoParam + kParamsPerLfo * n, kParamsPerLfo);
    for (int n = 0; n < kEnvBlockCount; ++n)
        addBox(modTypeEnvelope, "ENV " + juce::String(n + 1), kFirstEnvParam + kParamsPerEnv * n,
               kParamsPerEnv);

    title = std::make_unique<GradLabel>("MODUL-8", juce::Colour(0xffffb2c9), 65, juce::Point<int>(0, 0), 0.9f,
                                        0.5f);
    addAndMakeVisible(*title);
    title->setTopLeftPosition(boxes[0]->getRight() + 26, 40);

    // Only the first row is tall enough to show the knob names: it heads the grid.
    int top = title->getBottom() + 10;
    for (int s = 0; s < kModSlotCount; ++s)
    {
        const int h = s == 0 ? 44 : 20;
        for (int c = 0; c < kParamsPerModSlot; ++c)
        {
            auto* knob = slotKnobs.add(new Knob(&params[kFirstModSlotParam + kParamsPerModSlot * s + c], 64,
                                                h, 0.0f, Knob::valueBox, {}, knobListener));
            knob->nameColour = juce::Colour(0xffffffff);
            knob->valueColour = juce::Colour(0xffb2b2b2);
            knob->valueBoxColour = juce::Colour(0xcc000000);
            knob->setBounds(title->getX() + 68 * c, top, 64, h);
            addAndMakeVisible(knob);
        }
        top += h + 4;
    }
}

Modul8Menu::~Modul8Menu() = default;
