#pragma once

#include <cstddef>
#include <string>

#include <juce_core/juce_core.h>

// Writes size bytes to target so that target is always either its old contents or the complete new
// ones: the bytes go into a hidden temporary file next to it, are flushed to the disk and checked,
// and the temporary file is then renamed over target. Missing parent folders are made. Returns false
// on any failure (a folder that cannot be made, a full disk, a folder in target's place), and then
// leaves no temporary file behind.
bool replaceFileAtomically(const juce::File& target, const void* data, size_t size);

// The same for the file at path, an absolute path of the file system's bytes: a name that is not text
// is written under exactly its bytes (missing folders are made only when their path is text).
bool replaceFileAtomically(const std::string& path, const void* data, size_t size);
