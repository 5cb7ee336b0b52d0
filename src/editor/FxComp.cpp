#include "editor/FxComp.h"

#include "editor/EditorFonts.h"
#include "engine/params/ParamTable.h"
#include "processor/PluginProcessor.h"

namespace
{
constexpr int kEditorLeft = 206;
constexpr int kEditorBottom = 274;
} // namespace

FxComp::FxComp(PluginProcessor* p, Knob::Listener* l) : processor(p), knobListener(l)
{
    setSize(630, 376);
    const juce::Font font = getEditorFont(EditorFace::montserratSemiBold, 12.0f);
    auto* heading = labels.add(new juce::Label("FxLabel", "FX CHAIN"));
    heading->setFont(font);
    heading->setJustificationType(juce::Justification::centred);
    heading->setColour(juce::Label::backgroundColourId, juce::Colour(0xffb2b2b2));
    heading->setBounds(80, 102, 110, 18);
    addAndMakeVisible(heading);

    Param* params = processor->dsp->params.data();
    for (int i = 0; i < kNumFxUnits; ++i)
    {
        const int y = 102 + 22 * (i + 1);
        const Param* onOff = &params[kFirstFxSwitch + i];
        auto* name = nameButtons.add(
            new FxLabel(PluginProcessor::getFxName(i).toUpperCase(), font, fxSlotHue(i), onOff));
        name->setBounds(80, y, 110, 18);
        name->addListener(this);
        addAndMakeVisible(name);
        auto* on = onButtons.add(new FxOnButton(fxSlotHue(i), onOff));
        on->setBounds(172, y, 18, 18);
        on->addListener(this);
        addAndMakeVisible(on);
    }
    for (int i = 0; i < kNumFxUnits; ++i)
    {
        nameButtons[i]->selected = i == selected;
        nameButtons[i]->repaint();
    }
    makeFxEditor();
}

FxComp::~FxComp()
{
    // The editor's children go before the buttons they were laid out beside.
    stereoBox.reset();
    editorKnobs.clear();
}

void FxComp::buttonClicked(juce::Button* b)
{
    for (int i = 0; i < kNumFxUnits; ++i)
    {
        if (b == onButtons[i])
        {
            Param& onOff = processor->dsp->params[static_cast<size_t>(kFirstFxSwitch + i)];
            onOff.value = onOff.value > 0.5f ? 0.0f : 1.0f;
            if (knobListener != nullptr)
                knobListener->knobChanged(onOff.index, onOff.value, Knob::Listener::dragEnd);
            onButtons[i]->repaint();
            nameButtons[i]->repaint();
        }
        if (b == nameButtons[i])
        {
            selected = i;
            for (int j = 0; j < kNumFxUnits; ++j)
            {
                nameButtons[j]->selected = j == i;
                nameButtons[j]->repaint();
            }
            makeFxEditor();
        }
    }
}

void FxComp::makeFxEditor()
{
    editorKnobs.clear();
    stereoBox.reset();

    const int s = selected;
    FxUnit* unit = processor->dsp->fx[static_cast<size_t>(s)];
    const int n = unit->getNumParams();
    Param* first = unit->getFirstParam();
    const juce::Colour c = fxSlotColour(s);

    editorTitle = std::make_unique<GradLabel>(PluginProcessor::getFxName(s).toUpperCase(), c, 45,
                                              juce::Point<int>(204, 94), 1.0f, 0.0f);
    addAndMakeVisible(*editorTitle);

    int x0 = kEditorLeft;
    const int y0 = kEditorBottom - 150;
    int firstKnob = 0;
    if (s == kFxSlotBinaural)
    {
        stereoBox = std::make_unique<StereoBox>(first, c);
        stereoBox->onEdited = [p = processor] { p->notifyStateChanged(); };
        stereoBox->setTopLeftPosition(kEditorLeft, y0);
        addAndMakeVisible(*stereoBox);
        x0 = kEditorLeft + 162;
        firstKnob = 2;
    }
    for (int k = firstKnob; k < n; ++k)
    {
        const int j = k - firstKnob;
        auto* knob = editorKnobs.add(new Knob(&first[k], 64, 68, 48.0f, Knob::compactDial, {}, knobListener));
        knob->knobColour = c;
        knob->setBounds(x0 + 66 * (j / 2), y0 + 82 * (j % 2), 64, 68);
        addAndMakeVisible(knob);
    }
    repaint();
}

void FxComp::paint(juce::Graphics&)
{
    // A preset or the host may have moved the stereo position since the last paint.
    if (stereoBox != nullptr) stereoBox->placeHandle();
}
