#include "processor/LibraryFolders.h"

#include <cstdlib>

juce::File getLibraryFolder()
{
    // The XDG base-directory rules ignore relative values.
    const char* xdg = std::getenv("XDG_DATA_HOME");
    juce::File dataHome;
    if (xdg != nullptr && xdg[0] == '/')
        dataHome = juce::File(juce::String::fromUTF8(xdg));
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
