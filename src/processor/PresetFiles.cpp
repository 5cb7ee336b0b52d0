#include "processor/PresetFiles.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "engine/StateBlock.h"
#include "platform/FolderWalk.h"
#include "platform/RegularFile.h"
#include "processor/AtomicFileWrite.h"
#include "processor/NameText.h"
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

// The entries found in folder, in the listing order of listPresetFolder. A folder appears once
// however many links lead to it, and not at all when the walk has entered it already (the listed
// folder itself, one above it, one listed earlier). An entry whose name is not UTF-8 cannot be shown
// or named back, so it is left out (the file stays as it is).
std::vector<PresetEntry> presetLevel(const FolderWalk& walk, const juce::File& folder,
                                     const std::vector<FolderEntry>& found)
{
    std::vector<PresetEntry> level;
    const int extensionLength = juce::String(kPresetExtension).length();
    for (const FolderEntry& f : found)
    {
        const std::optional<juce::String> name = fileNameText(f.name);
        if (!name) continue;
        const bool preset = !f.isFolder && name->endsWith(kPresetExtension);
        level.push_back({childOf(folder, *name), preset ? name->dropLastCharacters(extensionLength) : *name,
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

using PresetLevels = std::map<std::string, std::vector<PresetEntry>>;

// Lists folder's presets depth-first in the listing order, from the levels the walk read; prefix is
// the folder's path below the presets folder ("" or "Pads/"), built from the entries' own names so
// that the names listed are exactly the ones that load.
void collectPresetNames(const PresetLevels& levels, const juce::File& folder, const juce::String& prefix,
                        juce::StringArray& names)
{
    const auto level = levels.find(folder.getFullPathName().toStdString());
    if (level == levels.end()) return;
    for (const PresetEntry& entry : level->second)
    {
        if (entry.isFolder)
            collectPresetNames(levels, entry.file, prefix + entry.shown + "/", names);
        // Only the final extension goes: "a.qmpreset.qmpreset" is the preset "a.qmpreset".
        else if (entry.file.getFileName().endsWith(kPresetExtension))
            names.add(prefix + entry.shown);
    }
}

// Whether name, joined to the presets folder with the extension after it, stays inside it: no leading
// "/", and no folder level that is empty, "." or "..". The last level is a file's name before its
// extension, so any text there names a file in the folder ("" and ".." name ".qmpreset" and
// "...qmpreset"). Any other character is part of a name a listing found.
bool staysInPresetsFolder(const juce::String& name)
{
    if (name.startsWithChar('/')) return false;
    juce::StringArray levels;
    levels.addTokens(name, "/", "");
    levels.remove(levels.size() - 1);
    for (const auto& level : levels)
        if (level.isEmpty() || level == "." || level == "..") return false;
    return true;
}

// The file of a listed preset name: the save box's rule on names does not apply, since a file that
// the lists offer must load whatever characters its name holds.
juce::File listedPresetFile(const juce::String& name)
{
    return staysInPresetsFolder(name) ? childOf(getPresetsFolder(), name + kPresetExtension) : juce::File();
}

// The file of preset name read as a state block; the block stays empty when the file is no regular
// file within the size limit (a folder, a FIFO, a device, an oversized or unreadable file), which
// the state reader ignores. False when there is no such preset.
bool readPresetBlock(const juce::String& name, std::vector<uint8_t>& block)
{
    block.clear();
    const juce::File file = listedPresetFile(name);
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
    if (name.containsChar('\\')) return false;
    for (auto p = name.getCharPointer(); !p.isEmpty(); ++p)
        if (*p < 0x20 || *p == 0x7F) return false;
    // Dots are ordinary characters ("Pad...", "Strings..2"); a whole level of "." or ".." would move
    // between folders, and the box names no file by an empty, "." or ".." last level either.
    const juce::String last = name.fromLastOccurrenceOf("/", false, false);
    return staysInPresetsFolder(name) && last.isNotEmpty() && last != "." && last != "..";
}

juce::File presetFileFor(const juce::String& name)
{
    return isSafePresetName(name) ? listedPresetFile(name) : juce::File();
}

juce::Array<juce::File> listPresetFolder(const juce::File& folder)
{
    const juce::File root = getPresetsFolder();
    juce::Array<juce::File> entries;
    // The path decides what lies inside: a linked folder below the presets folder is one of its own.
    if (folder != root && !folder.isAChildOf(root)) return entries;
    FolderWalk walk;
    int depth = 0;
    if (folder != root)
        for (juce::File above = folder.getParentDirectory();; above = above.getParentDirectory())
        {
            walk.passOver(above.getFullPathName().toStdString());
            ++depth;
            if (above == root) break;
        }
    std::vector<FolderEntry> found;
    if (!walk.enter(folder.getFullPathName().toStdString(), depth, found)) return entries;
    for (const PresetEntry& entry : presetLevel(walk, folder, found))
        entries.add(entry.file);
    return entries;
}

juce::StringArray listPresetNames()
{
    // Read breadth-first, so that a link into a large tree cannot spend the entry budget before the
    // presets nearer the top are read; listed depth-first.
    const juce::File root = getPresetsFolder();
    FolderWalk walk;
    PresetLevels levels;
    const auto visit = [&](const std::string& path, const std::vector<FolderEntry>& found)
    {
        // Every path handed on was made from text, so it is UTF-8.
        const juce::File folder(juce::String::fromUTF8(path.data(), static_cast<int>(path.size())));
        std::vector<PresetEntry>& level = levels[path] = presetLevel(walk, folder, found);
        std::vector<std::string> folders;
        for (const PresetEntry& entry : level)
            if (entry.isFolder) folders.push_back(entry.file.getFullPathName().toStdString());
        return folders;
    };
    walkBreadthFirst(walk, root.getFullPathName().toStdString(), visit);
    juce::StringArray names;
    collectPresetNames(levels, root, {}, names);
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
