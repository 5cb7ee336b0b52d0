#pragma once

#include <juce_core/juce_core.h>

// The maker's library folder on this platform: $XDG_DATA_HOME/Velmora/, or ~/.local/share/Velmora/
// when XDG_DATA_HOME is unset or not an absolute path. Read on every call, so tests can point
// XDG_DATA_HOME at a temporary folder.
juce::File getLibraryFolder();

// "Quillmoor Sounds" and "Quillmoor Presets" inside the library folder.
juce::File getSoundsFolder();
juce::File getPresetsFolder();

// The same folders as full paths ending in "/", the form preset names are cut from.
juce::String getSoundsFolderPath();
juce::String getPresetsFolderPath();

inline constexpr const char* kSoundBankExtension = ".qmbank";
inline constexpr const char* kSoundBankWildcard = "*.qmbank";
inline constexpr const char* kPresetWildcard = "*.qmpreset";
