#include "processor/PresetFiles.h"

#include <algorithm>
#include <ctime>
#include <memory>
#include <set>
#include <vector>

#include "engine/StateBlock.h"
#include "platform/FolderWalk.h"
#include "platform/RegularFile.h"
#include "processor/AtomicFileWrite.h"
#include "processor/LibraryFolders.h"
#include "processor/PluginProcessor.h"

namespace
{
// An entry of one level of the presets walk, with the name the listings show and sort by.
struct PresetEntry
{
    juce::File file;
    juce::String shown;
    bool isFolder = false;
    FolderId id;
};

// The entries of folder in the listing order of listPresetFolder. A folder appears once however
// many links lead to it, and not at all when the walk has entered it already (the listed folder
// itself, one above it, one listed earlier).
std::vector<PresetEntry> presetLevel(FolderWalk& walk, const juce::File& folder, int depth)
{
    std::vector<FolderEntry> found;
    std::vector<PresetEntry> level;
    if (!walk.enter(folder.getFullPathName().toStdString(), depth, found)) return level;
    const int extensionLength = juce::String(kPresetExtension).length();
    for (const FolderEntry& f : found)
    {
        const juce::String name = juce::String::fromUTF8(f.name.c_str());
        const bool preset = !f.isFolder && name.endsWith(kPresetExtension);
        level.push_back({folder.getChildFile(name), preset ? name.dropLastCharacters(extensionLength) : name,
                         f.isFolder, f.id});
    }
    std::sort(level.begin(), level.end(),
              [](const PresetEntry& a, const PresetEntry& b)
              {
                  if (const int c = a.shown.compareIgnoreCase(b.shown); c != 0) return c < 0;
                  if (const int c = a.shown.compare(b.shown); c != 0) return c < 0;
                  return a.file.getFileName().compare(b.file.getFileName()) < 0;
              });
    std::set<FolderId> listed;
    level.erase(std::remove_if(level.begin(), level.end(),
                               [&](const PresetEntry& e)
                               { return e.isFolder && (walk.wasEntered(e.id) || !listed.insert(e.id).second); }),
                level.end());
    return level;
}

// Walks folder depth-first in the listing order.
void collectPresetNames(FolderWalk& walk, const juce::File& folder, const juce::File& root, int depth,
                        juce::StringArray& names)
{
    const int extensionLength = juce::String(kPresetExtension).length();
    for (const PresetEntry& entry : presetLevel(walk, folder, depth))
    {
        if (entry.isFolder)
        {
            collectPresetNames(walk, entry.file, root, depth + 1, names);
            continue;
        }
        const juce::String relative = entry.file.getRelativePathFrom(root).replaceCharacter('\\', '/');
        // Only the final extension goes: "a.qmpreset.qmpreset" is the preset "a.qmpreset".
        if (relative.endsWith(kPresetExtension)) names.add(relative.dropLastCharacters(extensionLength));
    }
}

// The file of preset name read as a state block; the block stays empty when the file is no regular
// file within the size limit (a folder, a FIFO, a device, an oversized or unreadable file), which
// the state reader ignores. False when there is no such preset.
bool readPresetBlock(const juce::String& name, std::vector<uint8_t>& block)
{
    block.clear();
    const juce::File file = presetFileFor(name);
    if (file == juce::File() || !file.exists()) return false;
    (void)readRegularFile(file.getFullPathName().toStdString(), static_cast<size_t>(kMaxPresetFileBytes), block);
    return true;
}

// The state reader's verdict on block, read into copies of the engine's parameters and of canvas.
// A block that applies but places no sound (cut short before its nodes, or naming only sounds that
// are not installed) counts as ignored while the library has sounds to place.
StateReadResult trialRead(const std::vector<uint8_t>& block, const KeySpaceDSP& dsp, const NodeCanvasData& canvas)
{
    std::vector<Param> params = dsp.params;
    auto scratch = std::make_unique<NodeCanvasData>(canvas);
    const StateReadResult result =
        readStateBlock(block.data(), static_cast<int>(block.size()), params.data(), static_cast<int>(params.size()),
                       *scratch, dsp.sounds.data(), dsp.numSounds())
            .result;
    if (result == StateReadResult::applied && scratch->nodeCount == 0 && dsp.numSounds() > 0)
        return StateReadResult::ignored;
    return result;
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
    if (name.containsChar('\\') || name.startsWithChar('/')) return false;
    for (auto p = name.getCharPointer(); !p.isEmpty(); ++p)
        if (*p < 0x20 || *p == 0x7F) return false;
    // Dots are ordinary characters ("Pad...", "Strings..2"); only a whole level of "." or ".." moves
    // between folders.
    juce::StringArray levels;
    levels.addTokens(name, "/", "");
    for (const auto& level : levels)
        if (level.isEmpty() || level == "." || level == "..") return false;
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
    const juce::File root = getPresetsFolder();
    FolderWalk walk(root.getFullPathName().toStdString());
    int depth = 0;
    if (folder.isAChildOf(root))
        for (juce::File above = folder.getParentDirectory();; above = above.getParentDirectory())
        {
            walk.passOver(above.getFullPathName().toStdString());
            ++depth;
            if (above == root) break;
        }
    juce::Array<juce::File> entries;
    for (const PresetEntry& entry : presetLevel(walk, folder, depth))
        entries.add(entry.file);
    return entries;
}

juce::StringArray listPresetNames()
{
    const juce::File folder = getPresetsFolder();
    FolderWalk walk(folder.getFullPathName().toStdString());
    juce::StringArray names;
    collectPresetNames(walk, folder, folder, 0, names);
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
    std::vector<uint8_t> block;
    if (!readPresetBlock(name, block)) return kPresetNotFoundMessage;
    setStateInformation(block.data(), static_cast<int>(block.size()));
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
    // A start preset that cannot be read (damaged, cut short, refused, gone since the listing) would
    // leave the canvas empty and the instrument silent: start as without presets instead, with
    // nothing of the block applied. The file stays as it is.
    std::vector<uint8_t> block;
    if (!readPresetBlock(names[pick], block)) return false;
    const StateReadResult verdict = trialRead(block, *dsp, nodeCanvas);
    // A newer version's block changes nothing but tells the user why.
    if (verdict == StateReadResult::newerVersion) setStateInformation(block.data(), static_cast<int>(block.size()));
    if (verdict != StateReadResult::applied) return false;
    setStateInformation(block.data(), static_cast<int>(block.size()));
    setPresetName(names[pick]);
    return true;
}
