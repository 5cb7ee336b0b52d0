#pragma once

#include <juce_core/juce_core.h>

// The file choosers' filter: files whose names match the wildcard patterns, folders of any name, and
// only names that are text (strict UTF-8). A name of other bytes is left out of the framework's
// browser, so it is never shown nor selected there (the file stays as it is).
class TextNameFilter : public juce::WildcardFileFilter
{
  public:
    explicit TextNameFilter(const juce::String& filePatterns);

    bool isFileSuitable(const juce::File& file) const override;
    bool isDirectorySuitable(const juce::File& folder) const override;

    // Whether the last level of file's path is text, judged by the path's bytes alone.
    static bool hasTextName(const juce::File& file);
};
