#pragma once

#include <juce_core/juce_core.h>

// The folder the next file chooser opens in, shared by every editor of the process. It starts at
// the working directory and follows the last chosen file when that file's folder is text (a path of
// other bytes leaves it where it was); the working directory itself belongs to the host and is never
// changed. Message thread only.
juce::File getChooserFolder();
void rememberChooserFolder(const juce::File& chosenFile);
