#pragma once

// Running sums of several rows at once. Row r's sum starts from +0 and takes, for j = 0, 1, ...,
// the values rows[r][0][j], rows[r][1][j], ... in turn: the same additions in the same order as
// one running sum per row, so every sum is the same to the bit. The rows' chains of additions are
// independent, though, and overlap instead of each waiting for the one before it.
// A row shorter than kLen is padded with +0, which leaves a sum of values that are never negative
// (squares, powers) unchanged.
template <int kRows, int kTerms, int kLen>
inline __attribute__((always_inline)) void sumRowsSideBySide(const float (&rows)[kRows][kTerms][kLen],
                                                             float (&sums)[kRows]) noexcept
{
    float s[kRows] = {};
    for (int j = 0; j < kLen; ++j)
        for (int t = 0; t < kTerms; ++t)
            for (int r = 0; r < kRows; ++r)
                s[r] += rows[r][t][j];
    for (int r = 0; r < kRows; ++r)
        sums[r] = s[r];
}
