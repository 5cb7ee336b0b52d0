#pragma once

#include <cstdint>

#include <juce_core/juce_core.h>

inline constexpr const char* kPresetExtension = ".qmpreset";
inline constexpr const char* kPresetNotFoundMessage = "Error: Preset file not found!";
// A preset file is exactly one state block, which is far smaller; a larger file is not read.
inline constexpr int64_t kMaxPresetFileBytes = int64_t{4} << 20;

// Whether a name typed into the save box may become a preset: not empty or all spaces, no control characters, no "\",
// no leading "/", no folder level that is empty ("a//b", "a/"), "." or "..". Dots elsewhere are
// ordinary characters ("Pad...", "Strings..2"); sub-folders ("Pads/Warm") are allowed; every
// accepted name stays inside the presets folder.
bool isSafePresetName(const juce::String& name);

// The file of preset name for saving, or an invalid File (juce::File()) when the name is not safe.
juce::File presetFileFor(const juce::String& name);

// The entries of one folder of presets (files and folders, hidden ones included) in the one order
// every listing of presets uses, whatever order the file system gives: by the name shown (a preset
// without its extension), ignoring case, ties broken by exact comparison; folders and presets
// interleaved. Only regular files and folders are given (links followed wherever they lead; a FIFO,
// a device, a name that is not UTF-8 is not), each real folder once and never the folder itself or one
// above it through a link. A missing or unreadable folder, or a path outside the presets folder, gives
// nothing.
juce::Array<juce::File> listPresetFolder(const juce::File& folder);

// Every "*.qmpreset" file under the presets folder, depth-first with each folder in the listing
// order above, each named by its path relative to the folder without the final extension
// ("Pads/Warm"); every name listed loads. The walk enters each real folder once and ends (FolderWalk's
// depth and entry limits).
juce::StringArray listPresetNames();

// The start-up pick among count presets for a clock reading: ((c x 1664525 + 1013904223) >> 8) mod
// count on unsigned 64 bits. count must be positive.
int pickStartupPreset(uint64_t clockReading, int count) noexcept;
