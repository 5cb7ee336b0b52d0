#pragma once

#include <atomic>
#include <limits>

#include <juce_audio_processors/juce_audio_processors.h>

#include "engine/params/Param.h"

// The host's view of one host-flagged engine parameter: 0..1 unit values through the record's
// curve, its name with spaces for underscores, value texts. A host change is stored straight into
// the engine record and reported to the listener (the processor).
//
// Hosts store automation by parameter number. The parameter carries a stable text id ("hp" and its
// host index in two digits) so that wrappers needing text ids (LV2 symbols) get a distinct one per parameter,
// while the build's legacy-id setting keeps VST3 parameter ids equal to the host index.
class PluginParam : public juce::AudioProcessorParameterWithID
{
  public:
    class Listener
    {
      public:
        virtual ~Listener() = default;
        virtual void receivedParamChange(int hostIndex) = 0;
    };

    PluginParam(Listener* listener, Param* param, int hostIndex);

    float getValue() const override;
    // A value that is not a number is ignored (nothing stored, nothing reported).
    void setValue(float newValue) override;
    float getDefaultValue() const override;
    juce::String getName(int maximumStringLength) const override;
    juce::String getLabel() const override;
    juce::String getText(float value, int maximumStringLength) const override;
    float getValueForText(const juce::String& text) const override;

    // The stable text id of host parameter hostIndex.
    static juce::String idForHostIndex(int hostIndex);

    // Tells the host's listeners the current unit value unless the host already has it (it set it
    // itself, or it was reported before). Wrappers treat a report like a user's edit and echo it
    // to the host later in the block, so re-reporting an unchanged value could overwrite a change
    // the host made in between.
    void reportValueIfChanged();

    // For a host that has heard nothing yet and knows only the default its plug-in description
    // gives: the next report sends the value unless it is the default.
    void assumeHostHoldsDefault();

    // The editor's side of a host gesture. The editor writes the engine record itself; this reports
    // the record's unit value to the host's listeners (remembering that the host now holds it), after
    // opening the gesture for gestureStart and before closing it for gestureEnd; gestureChange
    // (a drag step or a single change) only reports.
    enum class EditorGesture
    {
        gestureStart,
        gestureChange,
        gestureEnd
    };
    void reportEditorValue(EditorGesture step);

    Listener* listener;
    Param* param;
    int32_t hostIndex;
    // The unit value the host is known to hold; NaN until the first report or host change.
    std::atomic<float> hostKnownValue{std::numeric_limits<float>::quiet_NaN()};
};
