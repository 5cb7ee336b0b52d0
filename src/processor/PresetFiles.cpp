#include "processor/PresetFiles.h"

#include <algorithm>
#include <ctime>
#include <set>

#include "processor/AtomicFileWrite.h"
#include "processor/LibraryFolders.h"
#include "processor/PluginProcessor.h"

namespace
{
juce::String shownName(const juce::File& entry)
{
    const juce::String name = entry.getFileName();
    return !entry.isDirectory() && name.endsWith(kPresetExtension) ? entry.getFileNameWithoutExtension()
                                                                   : name;
}

// Walks folder depth-first in the listing order; a folder reached twice (through a link) is walked
// once.
void collectPresetNames(const juce::File& folder, const juce::File& root, std::set<juce::String>& seen,
                        juce::StringArray& names)
{
    if (!seen.insert(folder.getLinkedTarget().getFullPathName()).second) return;
    const int extensionLength = juce::String(kPresetExtension).length();
    for (const juce::File& entry : listPresetFolder(folder))
    {
        if (entry.isDirectory())
        {
            collectPresetNames(entry, root, seen, names);
            continue;
        }
        const juce::String relative = entry.getRelativePathFrom(root).replaceCharacter('\\', '/');
        // Only the final extension goes: "a.qmpreset.qmpreset" is the preset "a.qmpreset".
        if (relative.endsWith(kPresetExtension)) names.add(relative.dropLastCharacters(extensionLength));
    }
}

// The saved preset's position in the listing: the last preset whose file name without extension
// is name (a name with a folder therefore matches nothing and gives -1).
int presetListIndex(const juce::String& name)
{
    const juce::StringArray names = listPresetNames();
    int index = -1;
    for (int i = 0; i < names.size(); ++i)
        if (names[i].fromLastOccurrenceOf("/", false, false) == name) index = i;
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

juce::Array<juce::File> listPresetFolder(const juce::File& folder)
{
    juce::Array<juce::File> entries;
    if (!folder.isDirectory()) return entries;
    for (const auto& entry : juce::RangedDirectoryIterator(
             folder, false, "*", juce::File::findFilesAndDirectories, juce::File::FollowSymlinks::noCycles))
        entries.add(entry.getFile());
    std::sort(entries.begin(), entries.end(),
              [](const juce::File& a, const juce::File& b)
              {
                  const juce::String na = shownName(a), nb = shownName(b);
                  if (const int c = na.compareIgnoreCase(nb); c != 0) return c < 0;
                  if (const int c = na.compare(nb); c != 0) return c < 0;
                  return a.getFileName().compare(b.getFileName()) < 0;
              });
    return entries;
}

juce::StringArray listPresetNames()
{
    const juce::File folder = getPresetsFolder();
    std::set<juce::String> seen;
    juce::StringArray names;
    collectPresetNames(folder, folder, seen, names);
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
