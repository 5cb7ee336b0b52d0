#pragma once

#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/FxSlotButtons.h"
#include "editor/GradLabel.h"
#include "editor/Knob.h"
#include "editor/StereoBox.h"

class PluginProcessor;

// The effects page: the chain as a column of named slots with on/off switches, and the editor of
// the selected slot (the binaural one with its stereo area). Knobs and switches report to
// knobListener; it draws no background of its own.
class FxComp : public juce::Component, public juce::Button::Listener
{
  public:
    FxComp(PluginProcessor* processor, Knob::Listener* knobListener);
    ~FxComp() override;

    void buttonClicked(juce::Button* button) override;
    // Replaces the editor with the selected slot's.
    void makeFxEditor();
    void paint(juce::Graphics& g) override;

    int getSelected() const noexcept { return selected; }
    FxLabel* getNameButton(int slot) const { return nameButtons[slot]; }
    FxOnButton* getOnButton(int slot) const { return onButtons[slot]; }
    const juce::OwnedArray<Knob>& getEditorKnobs() const noexcept { return editorKnobs; }
    GradLabel* getEditorTitle() const noexcept { return editorTitle.get(); }
    StereoBox* getStereoBox() const noexcept { return stereoBox.get(); }

  private:
    PluginProcessor* processor;
    juce::OwnedArray<juce::Label> labels;
    Knob::Listener* knobListener;
    std::unique_ptr<GradLabel> editorTitle;
    juce::OwnedArray<Knob> editorKnobs;
    int selected = 0;
    juce::OwnedArray<FxLabel> nameButtons;
    juce::OwnedArray<FxOnButton> onButtons;
    std::unique_ptr<StereoBox> stereoBox;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(FxComp)
};
