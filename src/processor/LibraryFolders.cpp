#include "processor/LibraryFolders.h"

#include <cstdlib>
#include <optional>

#include "processor/NameText.h"

juce::File getLibraryFolder()
{
    // The XDG base-directory rules ignore relative values; a path that is not UTF-8 cannot be held
    // as text, and is ignored the same way.
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const std::optional<juce::String> path = xdg != nullptr ? fileNameText(xdg) : std::nullopt;
    juce::File dataHome;
    if (path && path->startsWithChar('/'))
        dataHome = juce::File(*path);
    else
        dataHome = juce::File::getSpecialLocation(juce::File::userHomeDirectory).getChildFile(".local/share");
    return dataHome.getChildFile("Velmora");
}

juce::File getSoundsFolder()
{
    return getLibraryFolder().getChildFile("Quillmoor Sounds");
}

juce::File getPresetsFolder()
{
    return getLibraryFolder().getChildFile("Quillmoor Presets");
}

juce::String getSoundsFolderPath()
{
    return getSoundsFolder().getFullPathName() + "/";
}

juce::String getPresetsFolderPath()
{
    return getPresetsFolder().getFullPathName() + "/";
}
