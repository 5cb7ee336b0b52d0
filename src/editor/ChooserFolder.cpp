#include "editor/ChooserFolder.h"

namespace
{
juce::File& chooserFolder()
{
    static juce::File folder = juce::File::getCurrentWorkingDirectory();
    return folder;
}
} // namespace

juce::File getChooserFolder()
{
    return chooserFolder();
}

void rememberChooserFolder(const juce::File& chosenFile)
{
    chooserFolder() = chosenFile.getParentDirectory();
}
