#include "processor/PresetFiles.h"

#include <ctime>

#include "processor/AtomicFileWrite.h"
#include "processor/LibraryFolders.h"
#include "processor/PluginProcessor.h"

namespace
{
juce::RangedDirectoryIterator presetIterator(const juce::File& folder)
{
    // Hidden files count too: the listing is what the editor's browser shows.
    return juce::RangedDirectoryIterator(folder, true, kPresetWildcard, juce::File::findFiles,
                                         juce::File::FollowSymlinks::noCycles);
}

// The saved preset's position in the folder walk: the last file whose name without extension is
// name (a name with a folder therefore matches nothing and gives -1).
int presetListIndex(const juce::String& name)
{
    int index = -1;
    int i = 0;
    for (const auto& entry : presetIterator(getPresetsFolder()))
    {
        if (entry.getFile().getFileNameWithoutExtension() == name) index = i;
        ++i;
    }
    return index;
}
} // namespace

bool isSafePresetName(const juce::String& name)
{
    if (name.trim().isEmpty()) return false;
    if (name.contains("..") || name.containsChar('\\') || name.startsWithChar('/')) return false;
    for (auto p = name.getCharPointer(); !p.isEmpty(); ++p)
        if (*p < 0x20 || *p == 0x7F) return false;
    juce::StringArray levels;
    levels.addTokens(name, "/", "");
    for (const auto& level : levels)
        if (level.isEmpty() || level == ".") return false;
    return true;
}

juce::File presetFileFor(const juce::String& name)
{
    if (!isSafePresetName(name)) return {};
    const juce::File folder = getPresetsFolder();
    const juce::File file = folder.getChildFile(name + kPresetExtension);
    return file.isAChildOf(folder) ? file : juce::File();
}

juce::StringArray listPresetNames()
{
    const juce::File folder = getPresetsFolder();
    const int extensionLength = juce::String(kPresetExtension).length();
    juce::StringArray names;
    for (const auto& entry : presetIterator(folder))
    {
        const juce::String relative = entry.getFile().getRelativePathFrom(folder).replaceCharacter('\\', '/');
        // Only the final extension goes: "a.qmpreset.qmpreset" is the preset "a.qmpreset".
        if (relative.endsWith(kPresetExtension)) names.add(relative.dropLastCharacters(extensionLength));
    }
    return names;
}

int pickStartupPreset(uint64_t clockReading, int count) noexcept
{
    if (count <= 0) return 0;
    const uint64_t mixed = (clockReading * 1664525u + 1013904223u) >> 8;
    return static_cast<int>(mixed % static_cast<uint64_t>(count));
}

juce::String PluginProcessor::loadPreset(juce::String name)
{
    const juce::File file = presetFileFor(name);
    if (file == juce::File() || !file.exists()) return kPresetNotFoundMessage;

    // A folder, an unreadable or an oversized file gives an empty block, which the state reader
    // ignores.
    juce::MemoryBlock block;
    if (file.existsAsFile() && file.getSize() <= kMaxPresetFileBytes && !file.loadFileAsData(block))
        block.reset();
    setStateInformation(block.getData(), static_cast<int>(block.getSize()));
    setPresetName(name);
    return {};
}

void PluginProcessor::savePreset(juce::String name)
{
    const juce::File file = presetFileFor(name);
    juce::MemoryBlock block;
    getStateInformation(block);
    if (file == juce::File() || !replaceFileAtomically(file, block.getData(), block.getSize()))
    {
        pushEvent({kSynthEventSaveFailed, 0, 0.0f});
        return;
    }
    pushEvent({kSynthEventPresetsChanged, presetListIndex(name), 0.0f});
}

bool PluginProcessor::loadStartupPreset()
{
    const juce::StringArray names = listPresetNames();
    if (names.isEmpty()) return false;
    const int pick = pickStartupPreset(static_cast<uint64_t>(std::clock()), names.size());
    loadPreset(names[pick]);
    return true;
}
