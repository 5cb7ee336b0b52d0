#include "editor/SettingsComp.h"

#include <cstring>
#include <vector>

#include "editor/EditorFonts.h"
#include "engine/params/ParamTable.h"
#include "processor/PluginProcessor.h"

juce::Colour groupColour(int g) noexcept
{
    const int n = static_cast<int>(kGroupColors.size());
    return juce::Colour(kGroupColors[static_cast<size_t>(((g % n) + n) % n)]);
}

SettingsComp::SettingsComp(PluginProcessor* p, Knob::Listener* l) : processor(p), knobListener(l)
{
    build(processor->dsp->params.data(), kParamMorphX, kNumMainParams - 1);
}

SettingsComp::SettingsComp(const Param* params, int first, int last, Knob::Listener* l) : knobListener(l)
{
    build(params, first, last);
}

SettingsComp::~SettingsComp() = default;

void SettingsComp::build(const Param* params, int first, int last)
{
    setSize(630, 376);
    title = std::make_unique<GradLabel>("SETTINGS", juce::Colour(0xffffb2c9), 65, juce::Point<int>(0, 0),
                                        0.9f, 0.5f);
    addAndMakeVisible(*title);
    title->setTopLeftPosition(582 - title->getWidth(), 70);

    const juce::Font labelFont = getEditorFont(EditorFace::montserratSemiBold, 12.0f);

    // Groups in the order of their first records; the page asks nothing of their number.
    std::vector<int> groupStarts;
    for (int i = first; i <= last; ++i)
    {
        const char* group = params[i].group;
        if (group[0] == '\0') continue;
        bool seen = false;
        for (int s : groupStarts)
            seen = seen || std::strcmp(params[s].group, group) == 0;
        if (!seen) groupStarts.push_back(i);
    }

    int x = 48, y = 70, right = 0;
    for (int g = 0; g < static_cast<int>(groupStarts.size()); ++g)
    {
        const char* group = params[groupStarts[static_cast<size_t>(g)]].group;
        const juce::Colour colour = groupColour(g);
        auto* label = labels.add(new juce::Label(group, juce::String(group).toUpperCase()));
        label->setFont(labelFont);
        label->setJustificationType(juce::Justification::centred);
        label->setColour(juce::Label::backgroundColourId, colour);
        label->setTransform(juce::AffineTransform::rotation(
            -0.46f * juce::MathConstants<float>::pi, static_cast<float>(x), static_cast<float>(y + 68)));
        label->setBounds(x, y + 68, 68, 18);
        addAndMakeVisible(label);

        int kx = x + 28;
        const int ky = y + 2;
        for (int p = groupStarts[static_cast<size_t>(g)]; p <= last; ++p)
        {
            if (std::strcmp(params[p].group, group) != 0) continue;
            auto* knob = knobs.add(new Knob(&params[p], 64, 68, 48.0f, Knob::compactDial, {}, knobListener));
            knob->knobColour = colour;
            knob->setBounds(kx, ky, 64, 68);
            addAndMakeVisible(knob);
            knobMap[params[p].index] = knobs.size() - 1;
            kx += 66;
        }
        right = std::max(right, kx);
        if ((g + 1) % 3 == 0)
            x = right + 24, y = 152;
        else
            y += 82;
    }
}

void SettingsComp::paramMessage(int paramIndex, float)
{
    if (const auto it = knobMap.find(paramIndex); it != knobMap.end()) knobs[it->second]->repaint();
}
