// The processor's side of the editor: making it, and the fields it shares with the host's state
// calls.
#include "editor/PluginEditor.h"
#include "processor/PluginProcessor.h"

juce::AudioProcessorEditor* PluginProcessor::createEditor()
{
    return new PluginEditor(this);
}

juce::String PluginProcessor::takePendingMessage()
{
    const juce::ScopedLock lock(stateLock);
    juce::String message = pendingMessage;
    pendingMessage = {};
    return message;
}

juce::String PluginProcessor::getPresetName()
{
    const juce::ScopedLock lock(stateLock);
    return presetName;
}

void PluginProcessor::setPresetName(const juce::String& name)
{
    const juce::ScopedLock lock(stateLock);
    presetName = name;
}
