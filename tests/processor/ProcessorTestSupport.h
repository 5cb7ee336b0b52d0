#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <juce_core/juce_core.h>
#include <juce_events/juce_events.h>

#include "bankmaker/BankMaker.h"
#include "processor/LibraryFolders.h"
#include "processor/PluginProcessor.h"
#include "support/TestSounds.h"

namespace qmproc
{
// Empties the sounds and presets folders of the test library. std::filesystem removes names of any
// bytes and does not follow links.
inline void clearLibrary()
{
    for (const juce::File& f : {getSoundsFolder(), getPresetsFolder()})
    {
        std::error_code ignored;
        std::filesystem::remove_all(f.getFullPathName().toStdString(), ignored);
        f.createDirectory();
    }
}

// Writes a bank of entries at relativePath inside the sounds folder (folders made as needed).
inline void writeBank(const std::string& relativePath, const std::vector<qmbank::BankEntry>& entries)
{
    const juce::File bank = getSoundsFolder().getChildFile(juce::String(relativePath));
    bank.getParentDirectory().createDirectory();
    qmbank::writeBankZip(bank.getFullPathName().toStdString(), entries);
}

// Writes bytes at folder + "/" + name, where name is any bytes (folders made as needed): the
// framework's own calls would read "~" as the home folder and cannot hold a name that is not UTF-8.
inline void writeRaw(const juce::File& folder, const std::string& name, const void* data, size_t size)
{
    const std::filesystem::path path = folder.getFullPathName().toStdString() + "/" + name;
    std::filesystem::create_directories(path.parent_path());
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (size > 0) EXPECT_EQ(std::fwrite(data, 1, size, f), size); // an empty block has no data pointer
    std::fclose(f);
}

using qmtest::bankOf;

// Events as (kind, index, value), comparable, so that a whole sequence is checked at once.
using Events = std::vector<std::tuple<int, int, float>>;

// Every event the reader has not seen yet, in order.
inline Events drain(SynthFIFO<SynthEvent>::Reader& reader)
{
    Events events;
    SynthEvent e;
    while (reader.readNext(e))
        events.emplace_back(e.kind, e.index, e.value);
    return events;
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
