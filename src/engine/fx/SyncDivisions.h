#pragma once

#include <array>

// Note lengths a host-synced LFO can run at, as numerator / denominator of a whole note
// ("4/1" ... "1/32"); the LFO makes kSyncDen[d] * 0.25 / kSyncNum[d] cycles per beat. "6/8" is
// kept unreduced because that is the label users see.
inline constexpr int kNumSyncDivisions = 15;
inline constexpr std::array<int, kNumSyncDivisions> kSyncNum = {4, 3, 2, 3, 1, 6, 1, 1, 3, 1, 1, 1, 1, 1, 1};
inline constexpr std::array<int, kNumSyncDivisions> kSyncDen = {1,  1, 1, 2,  1,  8,  2, 4,
                                                                16, 6, 8, 12, 16, 24, 32};
