#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>

#include "engine/fx/SideBySideSums.h"

namespace
{

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// The plain running sum the side-by-side sums stand in for: step after step, term after term.
template <int kTerms, int kLen> float runningSum(const float (&row)[kTerms][kLen])
{
    float s = 0.0f;
    for (int j = 0; j < kLen; ++j)
        for (int t = 0; t < kTerms; ++t)
            s += row[t][j];
    return s;
}

bool sameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof(float)) == 0;
}

// Every row's sum against its own running sum, bit for bit. Row kinds: squares spread over many
// octaves (where the order of additions shows in the last bits), a row cut short and padded with
// zeros, a row with a NaN, a row with an infinity, a row of zeros, a single value at the end.
template <int kTerms> void checkRows(unsigned seed)
{
    constexpr int kRows = 4, kLen = 32;
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> mant(0.0f, 1.0f);
    std::uniform_int_distribution<int> octave(-30, 10);
    for (int kind = 0; kind < 6; ++kind)
    {
        float rows[kRows][kTerms][kLen];
        for (auto& row : rows)
            for (auto& term : row)
                for (float& v : term)
                {
                    const float x = std::ldexp(mant(gen), octave(gen));
                    v = x * x;
                }
        const int r = kind % kRows;
        if (kind == 1)
            for (auto& term : rows[r])
                for (int j = 13; j < kLen; ++j)
                    term[j] = 0.0f;
        if (kind == 2) rows[r][kTerms - 1][7] = kNaN;
        if (kind == 3) rows[r][0][20] = kInf;
        if (kind == 4 || kind == 5)
            for (auto& term : rows[r])
                for (float& v : term)
                    v = 0.0f;
        if (kind == 5) rows[r][kTerms - 1][kLen - 1] = 3.0f;

        float sums[kRows];
        sumRowsSideBySide(rows, sums);
        for (int i = 0; i < kRows; ++i)
            EXPECT_TRUE(sameBits(sums[i], runningSum(rows[i])))
                << kTerms << " terms, kind " << kind << ", row " << i << ": " << sums[i];
    }
}

TEST(SideBySideSums, EachSumEqualsItsRowsRunningSumBitForBit)
{
    for (unsigned seed : {1u, 2u, 3u})
    {
        checkRows<1>(seed);
        checkRows<2>(seed);
    }
}

// Padding with zeros leaves a row's sum where the running sum over its own length ends, for
// every length: the squares' sums are never negative, and +0 added to them changes nothing.
TEST(SideBySideSums, ZeroPaddingEqualsTheSumOverTheRowsOwnLength)
{
    constexpr int kRows = 4, kTerms = 2, kLen = 32;
    std::mt19937 gen(5u);
    std::uniform_real_distribution<float> dist(-3.0f, 3.0f);
    for (int length = 0; length <= kLen; ++length)
    {
        float rows[kRows][kTerms][kLen];
        float want[kRows];
        for (int i = 0; i < kRows; ++i)
        {
            want[i] = 0.0f;
            for (int j = 0; j < kLen; ++j)
                for (int t = 0; t < kTerms; ++t)
                {
                    const float x = dist(gen);
                    rows[i][t][j] = j < length ? x * x : 0.0f;
                    if (j < length) want[i] += rows[i][t][j];
                }
        }
        float sums[kRows];
        sumRowsSideBySide(rows, sums);
        for (int i = 0; i < kRows; ++i)
            EXPECT_TRUE(sameBits(sums[i], want[i])) << "length " << length << ", row " << i;
    }
}

} // namespace
