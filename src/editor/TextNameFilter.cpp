#include "editor/TextNameFilter.h"

#include <cstring>

#include "processor/NameText.h"

TextNameFilter::TextNameFilter(const juce::String& filePatterns)
    : juce::WildcardFileFilter(filePatterns, "*", {})
{
}

bool TextNameFilter::isFileSuitable(const juce::File& file) const
{
    return hasTextName(file) && juce::WildcardFileFilter::isFileSuitable(file);
}

bool TextNameFilter::isDirectorySuitable(const juce::File& folder) const
{
    return hasTextName(folder);
}

bool TextNameFilter::hasTextName(const juce::File& file)
{
    // The browser builds the File from the folder's bytes; its text is read only once they are known
    // to be text.
    const char* path = file.getFullPathName().toRawUTF8();
    const char* slash = std::strrchr(path, '/');
    const char* name = slash != nullptr ? slash + 1 : path;
    return isStrictUtf8(name, std::strlen(name));
}
