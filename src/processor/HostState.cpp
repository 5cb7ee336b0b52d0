// The processor's side of the host state block: the block itself is written and read by the
// engine's state code; here it meets the framework's memory blocks, the queues and the host.

#include "engine/StateBlock.h"
#include "processor/PluginProcessor.h"

void PluginProcessor::getStateInformation(juce::MemoryBlock& destData)
{
    const juce::ScopedLock lock(stateLock);
    const Param* params = dsp->params.data();
    const int numParams = static_cast<int>(dsp->params.size());
    const int length =
        writeStateBlock(nullptr, 0, params, numParams, nodeCanvas, dsp->sounds.data(), dsp->numSounds());
    destData.setSize(static_cast<size_t>(length));
    writeStateBlock(static_cast<unsigned char*>(destData.getData()), length, params, numParams, nodeCanvas,
                    dsp->sounds.data(), dsp->numSounds());
}

void PluginProcessor::setStateInformation(const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 0) return;
    const juce::ScopedLock lock(stateLock);
    const StateReadOutcome outcome = readStateBlock(static_cast<const unsigned char*>(data), sizeInBytes,
                                                    dsp->params.data(), static_cast<int>(dsp->params.size()),
                                                    nodeCanvas, dsp->sounds.data(), dsp->numSounds());
    switch (outcome.result)
    {
    case StateReadResult::ignored:
        return;
    case StateReadResult::newerVersion:
        pendingMessage = juce::String::fromUTF8(newerStateVersionMessage(outcome.savedVersion).c_str());
        pushEvent({kSynthEventMessageWaiting, 0, 0.0f});
        return;
    case StateReadResult::applied:
        break;
    }

    presetName = {};
    canvasQueue.push(nodeCanvas);
    pushEvent({kSynthEventPresetsChanged, -1, 0.0f}); // wakes the editor's drain
    {
        // The host's listeners are called below: not under the lock.
        const juce::ScopedUnlock unlock(stateLock);
        reportHostValues();
    }
}
