#pragma once

#include <string>
#include <vector>

#include <juce_core/juce_core.h>

#include "bankmaker/BankMaker.h"
#include "processor/PluginProcessor.h"

namespace qmproc
{
// The temporary folder XDG_DATA_HOME points at for the whole test run.
juce::File testDataHome();
// Empties the sounds and presets folders of the test library.
void clearLibrary();
// Writes a bank of entries at relativePath inside the sounds folder (folders made as needed).
juce::File writeBank(const std::string& relativePath, const std::vector<qmbank::BankEntry>& entries);

// Every event the reader has not seen yet, in order.
inline std::vector<SynthEvent> drain(SynthFIFO<SynthEvent>::Reader& reader)
{
    std::vector<SynthEvent> events;
    SynthEvent e;
    while (reader.readNext(e))
        events.push_back(e);
    return events;
}

// The engine's raw parameter values, in table order.
inline std::vector<float> values(const PluginProcessor& p)
{
    std::vector<float> v;
    for (const auto& param : p.dsp->params)
        v.push_back(param.value);
    return v;
}

// The processor's state block, written into a block that held something before (it must be
// replaced, not appended to).
inline juce::MemoryBlock stateOf(PluginProcessor& p)
{
    juce::MemoryBlock block;
    block.append("stale", 5);
    p.getStateInformation(block);
    return block;
}
} // namespace qmproc
