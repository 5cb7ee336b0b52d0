#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include <juce_core/juce_core.h>

// A file system's name is any bytes but "/" and zero, and so is a name inside a sound bank; a
// juce::String must hold strict UTF-8, since the framework's decoder reads other bytes as a character
// 0 or steps over the end of a cut sequence, and then writes or reads past the String's buffer. These
// convert between the two without ever parsing a name as a path.

// Whether size bytes are text a String can hold: strict UTF-8 (no overlong form, no surrogate, nothing
// above U+10FFFF, no cut sequence) without a zero byte. The one rule for every "is this name text".
bool isStrictUtf8(const char* bytes, size_t size) noexcept;

// The bytes a String holds up to its terminating zero, read without decoding them: the framework
// builds the paths of drops and choosers from the file system's bytes, whatever they are.
std::string rawBytesOf(const juce::String& text);

// The name as text, or nothing when its bytes are not strict UTF-8.
std::optional<juce::String> fileNameText(const std::string& name);

// folder/name as the file system joins them: a leading "~" or "." in name is part of the name, not
// the home folder or a step up.
juce::File childOf(const juce::File& folder, const juce::String& name);

// Whether name (several bytes) ends in extension, ignoring ASCII case, as "*.qmbank" matches.
bool hasExtension(const std::string& name, const char* extension);

// Whether the path's bytes end with exactly end's (case counts): how a dropped or chosen file's type
// is told.
bool endsWithBytes(const std::string& path, const char* end);

// A name field of at most size bytes (NUL-terminated, or filling the field) as text to show: its
// strict UTF-8 characters as they are, and every other byte as the Latin-1 character of its value, as
// older archivers wrote names (a name cut inside a character shows the rest of it so).
juce::String nameToShow(const char* field, size_t size);
