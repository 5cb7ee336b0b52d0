#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/modulation/CanonRandom.h"

namespace
{

// A batch gives bit for bit the values single draws give from the same state, and leaves the
// state where they leave it: every batch length up to the largest (whole runs of four and each
// remainder), from states that wrap around, with a batch longer than allowed cut to the largest.
TEST(CanonRandom, BatchesDrawWhatSingleDrawsDraw)
{
    for (const uint32_t seed : {kCanonRandInitialSeed, 0u, 1u, 0x7fffffffu, 0x80000000u, 0xffffffffu, 123456789u})
        for (int n = 0; n <= kCanonRandMaxBatch + 3; ++n)
        {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " n " << n);
            const int drawn = n < kCanonRandMaxBatch ? n : kCanonRandMaxBatch;
            std::array<float, kCanonRandMaxBatch + 4> want{}, got{};
            setCanonRandSeed(seed);
            for (int i = 0; i < drawn; ++i)
                want[size_t(i)] = getCanonRandFloat();
            const uint32_t after = getCanonRandSeed();
            got.fill(-7.0f);
            setCanonRandSeed(seed);
            getCanonRandFloats(got.data(), n);
            ASSERT_EQ(getCanonRandSeed(), after);
            ASSERT_EQ(std::memcmp(want.data(), got.data(), sizeof(float) * size_t(drawn)), 0);
            for (size_t i = size_t(drawn); i < got.size(); ++i)
                ASSERT_EQ(got[i], -7.0f) << "nothing written past the batch";
        }
}

// Taking states gives the callers the values single draws give and leaves the state where they
// leave it: none, a few, runs longer than a batch, and a negative count taking none.
TEST(CanonRandom, TakenStatesGiveWhatSingleDrawsGive)
{
    for (const uint32_t seed : {kCanonRandInitialSeed, 0u, 0xffffffffu, 987654321u})
        for (const int n : {0, 1, 3, 4, 5, 31, kCanonRandMaxBatch, kCanonRandMaxBatch + 1, 1000, -4})
        {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " n " << n);
            setCanonRandSeed(seed);
            std::vector<float> want;
            for (int i = 0; i < n; ++i)
                want.push_back(getCanonRandFloat());
            const uint32_t after = getCanonRandSeed();
            setCanonRandSeed(seed);
            const uint32_t start = takeCanonRandStates(n);
            ASSERT_EQ(start, seed);
            ASSERT_EQ(getCanonRandSeed(), after);
            uint32_t state = start;
            for (size_t i = 0; i < want.size(); ++i)
            {
                state = state * kCanonRandMul + kCanonRandAdd;
                ASSERT_EQ(canonRandValueOf(state), want[i]) << i;
            }
        }
}

} // namespace
