#pragma once

#include <array>
#include <map>
#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/GradLabel.h"
#include "editor/Knob.h"

class PluginProcessor;
struct Param;

// Group colours of the settings page, shared by the modulation page's boxes.
inline constexpr std::array<juce::uint32, 5> kGroupColors = {0xffb5e9ff, 0xffd085ff, 0xffffcbb5, 0xffe9ffb5,
                                                             0xffffe178};
// Colour of group g; groups past the table start it over.
juce::Colour groupColour(int g) noexcept;

// The settings page: every main parameter that carries a group name, as rows of knobs under
// upright group labels, three groups to a column. Its knobs report to knobListener; it draws no
// background of its own.
class SettingsComp : public juce::Component
{
  public:
    SettingsComp(PluginProcessor* processor, Knob::Listener* knobListener);
    // The same page over the main records of any table (params[first..last]).
    SettingsComp(const Param* params, int first, int last, Knob::Listener* knobListener);
    ~SettingsComp() override;

    // A parameter changed outside the page (the host, the canvas): its knob, if any, repaints.
    void paramMessage(int paramIndex, float value);

    int getNumGroups() const noexcept { return labels.size(); }
    juce::Label* getGroupLabel(int g) const { return labels[g]; }
    const juce::OwnedArray<Knob>& getKnobs() const noexcept { return knobs; }
    GradLabel* getTitle() const noexcept { return title.get(); }

  private:
    void build(const Param* params, int first, int last);

    PluginProcessor* processor = nullptr;
    Knob::Listener* knobListener;
    juce::OwnedArray<juce::Label> labels;
    juce::OwnedArray<Knob> knobs;
    std::map<int, int> knobMap; // engine parameter index -> position in knobs
    std::unique_ptr<GradLabel> title;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SettingsComp)
};
