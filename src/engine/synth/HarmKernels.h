#pragma once

#include <array>

#include "engine/dspConstants.h"

// Interpolation kernels that spread one partial into a few neighbouring bins of the 256-point
// spectrum, and the synthesis window they are matched to. The tables are built once at start-up
// (see HarmKernels.cpp for how) and are constant afterwards.

// Taps and row bits per quality q = 0, 1, 2; a table has 2^bits rows (the 8-tap table stores one
// extra row so rows r and r + 1 can always be interpolated).
inline constexpr std::array<int, kNumKernelQualities> kASTabSizes = {2, 4, 8};
inline constexpr std::array<int, kNumKernelQualities> kASTabBits = {6, 8, 6};
inline constexpr std::array<int, kNumKernelQualities> kASTabRows = {64, 256, 65};

// Row r: tap weights of a partial lying r / 2^bits of a bin past a whole bin b; tap k goes to bin
// b + 1 - taps / 2 + k.
extern const std::array<std::array<float, 2>, 64> kHarmBinWeights2;
extern const std::array<std::array<float, 4>, 256> kHarmBinWeights4;
extern const std::array<std::array<float, 8>, 65> kHarmBinWeights8;

// The 4-tap table with each weight spread over four floats (one for each of a bin's four spectrum values), a
// group of four zeros before and after each row's four groups: row r starts at r * kSpreadRowFloats
// (16-byte aligned), tap k's group at 4 (k + 1) floats from there, and a row read from its first
// group on sees its taps one bin later. One group of zeros past the last row.
inline constexpr int kSpreadRowFloats = 24;
extern const std::array<float, 256 * kSpreadRowFloats + 4> kHarmBinWeights4Spread;

// The 8-tap kernel for every position fraction: row f is the interpolation (1 - t) row r + t row
// r + 1 of kHarmBinWeights8 with r = f >> 4 and t = (f & 15) / 16, worked out in float weight by
// weight, so a partial reads its weights in one go (32 KB, of which rendering touches a few rows
// per voice). The wide form lays each row out for its pairs of bins as it goes.
inline constexpr int kFineRowsPerBin = 1 << kPosFracBits;
extern const std::array<std::array<float, 8>, kFineRowsPerBin> kHarmBinWeights8Fine;

// Position fraction bits dropped to find a partial's row in the table the synthesis spreads it
// with: kHarmBinWeights2, kHarmBinWeights4 and kHarmBinWeights8Fine.
inline constexpr std::array<int, kNumKernelQualities> kASRowShifts = {kPosFracBits - kASTabBits[0],
                                                                       kPosFracBits - kASTabBits[1], 0};

// The three tables' first weights, in quality order; row r starts at kASTabPtrs[q] + r * taps.
extern const std::array<const float*, kNumKernelQualities> kASTabPtrs;

// Power-complementary window of the overlap-add: kASWinOLA[i]^2 + kASWinOLA[i + 128]^2 = 1,
// kASWinOLA[0] = 0, kASWinOLA[128] = 1, symmetric about 128.
extern const std::array<float, kSynthFFTSize> kASWinOLA;
