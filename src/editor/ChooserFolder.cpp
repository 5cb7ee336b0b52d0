#include "editor/ChooserFolder.h"

#include <string>

#include "processor/NameText.h"

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
    // A chooser may hand back a path of any bytes: its folder is kept only when that is text.
    const std::string path = rawBytesOf(chosenFile.getFullPathName());
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return;
    if (const auto folder = fileNameText(slash == 0 ? "/" : path.substr(0, slash)))
        chooserFolder() = juce::File(*folder);
}
