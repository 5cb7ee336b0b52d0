#pragma once

#include <cstdint>
#include <vector>

#include <juce_core/juce_core.h>

#include "engine/sound/InstrumentMap.h"

// Limits on what reading the sound library allocates. A bank's central directory declares its
// entries' sizes, and a corrupt or hostile bank may declare gigabytes: no entry gets more room than
// kMaxSoundEntryBytes, no bank more than kMaxBankInflation times its file size (deflate cannot
// expand further) and the whole library no more than kMaxSoundLibraryBytes. A real sound blob is
// far below the entry limit.
inline constexpr int64_t kMaxSoundEntryBytes = int64_t{16} << 20;
inline constexpr int64_t kMaxSoundLibraryBytes = int64_t{512} << 20;
inline constexpr int64_t kMaxBankInflation = 1032;

// Reads every "*.qmbank" archive under folder (sub-folders included, links followed wherever they
// lead, each real folder once, FIFOs and devices passed over, names of any bytes) into storage, entry after
// entry, and gives one reference per archive entry in reading order. storage is sized once; every
// reference's data points into it and stays valid as long as storage is neither resized nor
// destroyed. Directory entries, unreadable entries and entries a
// second pass no longer finds give empty references (size 0, data null); a file that is not a
// readable zip archive, or whose zip directory is not bounded (ZipDirectoryCheck.h), gives none and
// is read no further. The references' names are the entry names cut to 63 bytes.
// Returns the number of references (refs.size()); never throws on bad files.
int loadSoundBanks(const juce::File& folder, std::vector<uint8_t>& storage, std::vector<SoundDataRef>& refs);
