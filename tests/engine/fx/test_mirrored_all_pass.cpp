// The all-pass stage on a memory followed by a copy of its start, against the same stage on a
// plain ring read and written through a wrapped index, bit for bit.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "engine/Random.h"
#include "engine/fx/MirroredAllPass.h"

namespace
{

// Runs of the given lengths through both forms from write position `start`; every run's samples
// and the memory afterwards must agree, and the copy must repeat the memory's start.
template <int kSize, int kSpan>
void expectSameAsWrappedRing(int delay, int start, const std::vector<int>& runs)
{
    std::array<float, kSize + kSpan> mirrored{};
    std::array<float, kSize> ring{};
    engineSrand(static_cast<unsigned>(delay * 131 + start));
    int w = start;
    for (int len : runs)
    {
        std::array<float, kSpan> e{}, want{};
        for (int k = 0; k < len; ++k)
            e[k] = want[k] = engineRandUnit() - 0.5f;
        for (int k = 0; k < len; ++k)
        {
            const float d = ring[static_cast<std::size_t>((w + k - delay + kSize) % kSize)];
            const float v = want[k] - 0.66f * d;
            ring[static_cast<std::size_t>((w + k) % kSize)] = v;
            want[k] = 0.66f * v + d;
        }
        runMirroredAllPass<kSize, kSpan>(mirrored.data(), e.data(), len, w, delay);
        ASSERT_EQ(e, want) << "run of " << len << " at " << w;
        for (int i = 0; i < kSize; ++i)
            ASSERT_EQ(mirrored[static_cast<std::size_t>(i)], ring[static_cast<std::size_t>(i)]) << i;
        for (int i = 0; i < kSpan; ++i)
            ASSERT_EQ(mirrored[static_cast<std::size_t>(kSize + i)], ring[static_cast<std::size_t>(i)]) << i;
        w = (w + len) % kSize;
    }
}

} // namespace

TEST(MirroredAllPass, MatchesTheStageOnAWrappedRing)
{
    // Whole runs from aligned starts, runs that start between them, and runs whose writes or reads
    // pass the memory's end, for the reverb's delays and the shortest and longest allowed.
    struct Row
    {
        int delay, start;
        std::vector<int> runs;
    };
    const std::vector<Row> rows = {
        {45, 0, std::vector<int>(40, 32)},  {68, 0, std::vector<int>(40, 32)},
        {52, 1, std::vector<int>(40, 32)},  {53, 97, {31, 32, 5, 32, 32, 1, 32, 32, 32, 17, 32, 32, 32, 32}},
        {32, 120, {32, 7, 32, 32, 32, 32, 32, 25, 32, 32, 32, 32, 32}},
        {96, 64, {3, 32, 32, 29, 32, 32, 32, 32, 1, 1, 32, 32, 32, 32}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(::testing::Message() << "delay " << row.delay << " from " << row.start);
        expectSameAsWrappedRing<128, 32>(row.delay, row.start, row.runs);
    }
    // A small memory, so that reads through the copy and writes across the end come often.
    for (int delay : {4, 9, 12})
        for (int start = 0; start < 16; start += 5)
        {
            SCOPED_TRACE(::testing::Message() << "small, delay " << delay << " from " << start);
            expectSameAsWrappedRing<16, 4>(delay, start, {4, 3, 4, 1, 4, 4, 2, 4, 4, 4, 3, 4, 4, 4, 4, 1});
        }
}
