#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "engine/Param.h"

// The host's view of one host-flagged engine parameter: 0..1 unit values through the record's
// curve, its name with spaces for underscores, value texts. A host change is stored straight into
// the engine record and reported to the listener (the processor).
//
// Hosts store automation by parameter number. The parameter carries a stable text id ("hp" and its
// host index) so that wrappers needing text ids (LV2 symbols) get a distinct one per parameter,
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

    Listener* listener;
    Param* param;
    int32_t hostIndex;
};
