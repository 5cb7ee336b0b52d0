#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>

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

} // namespace
