#pragma once

#include <cstdint>

#include <juce_core/juce_core.h>

// The largest central directory a sound bank may have. A real bank's directory is a few kilobytes;
// this leaves room for thousands of entries with long names.
inline constexpr int64_t kMaxZipDirectoryBytes = int64_t{16} << 20;

// Whether juce::ZipFile may be given this archive. The framework's reader finds the end-of-directory
// record in the last megabyte and then reads everything from the directory offset the record names
// to the end of the file into one block: with no record that offset is 0, and a damaged record may
// name any offset, so a large file would be read whole. This finds the record exactly as the
// framework does and accepts the archive only when the directory it names lies inside the file,
// ends where the record begins and is at most kMaxZipDirectoryBytes, so that what the framework
// then reads is bounded by that cap and the megabyte it searched. Reads at most that megabyte and
// a few bytes more; leaves the stream's position anywhere.
bool hasBoundedZipDirectory(juce::InputStream& archive);
