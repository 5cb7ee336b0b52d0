#include "editor/ModBox.h"

#include "engine/params/ParamTable.h"

ModBox::ModBox(ModType newType, juce::String title, Param* firstParam, int count, juce::Colour newColour)
    : params(firstParam), type(newType), colour(newColour)
{
    waveBox.setBounds(0, 0, 110, 80);
    waveBox.title = std::move(title);
    waveBox.params = params;
    waveBox.type = type;
    waveBox.colour = colour;
    addAndMakeVisible(waveBox);
    setSize(294, 80);

    int slot = 0;
    for (int i = 0; i < count; ++i)
    {
        auto* knob = knobs.add(new Knob(&params[i], 56, 36, 0.0f, Knob::valueBox, {}, this));
        knob->nameColour = juce::Colour(0xff000000);
        knob->valueColour = colour;
        knob->valueBoxColour = juce::Colour(0x4c000000);
        knob->setBounds(114 + 60 * (slot / 2), 40 * (slot % 2), 56, 36);
        addAndMakeVisible(knob);
        // The two Speed knobs of an LFO share a place.
        if (!(type == modTypeLfo && i == kLfoParamSpeed)) ++slot;
    }
    applySync();
}

ModBox::~ModBox() = default;

void ModBox::applySync()
{
    if (type != modTypeLfo || knobs.size() <= kLfoParamSyncSpeed) return;
    // Anything but a clear "on" (a damaged Sync too) shows the free rate.
    const bool synced = params[kLfoParamSync].value >= 0.5f;
    knobs[kLfoParamSpeed]->setVisible(!synced);
    knobs[kLfoParamSyncSpeed]->setVisible(synced);
}

void ModBox::knobChanged(int paramIndex, float, ChangeType changeType)
{
    if (type == modTypeLfo && paramIndex == params[kLfoParamSync].index) applySync();
    waveBox.repaint();
    if ((changeType == dragEnd || changeType == singleChange) && onEdited) onEdited();
}

void ModBox::paint(juce::Graphics& g)
{
    g.setColour(juce::Colour(0x7f4c4c4c));
    g.fillRect(110, 0, getWidth() - 110, 80);
}
