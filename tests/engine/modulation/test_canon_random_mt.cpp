#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "engine/synth/AddSynth.h"
#include "engine/modulation/CanonRandom.h"
#include "platform/VectorDsp.h"

namespace
{
// Two engines rendering on two threads share the canonical generator: no draw may be lost or torn,
// so after both have drawn the state is exactly where one thread drawing all of them would be.
TEST(CanonRandomThreads, ConcurrentDrawsAreNeverLost)
{
    constexpr int kDraws = 50000;
    setCanonRandSeed(12345u);
    uint32_t want = 12345u;
    for (int i = 0; i < 2 * kDraws; ++i)
        want = want * kCanonRandMul + kCanonRandAdd;

    setCanonRandSeed(12345u);
    auto draw = []
    {
        for (int i = 0; i < kDraws; ++i)
        {
            const float v = getCanonRandFloat();
            ASSERT_LE(v, 1.7321f);
        }
    };
    std::thread a(draw), b(draw);
    a.join();
    b.join();
    EXPECT_EQ(getCanonRandSeed(), want);
}

// A batch is the same run of values as single draws, and concurrent batches and single draws
// still advance the shared state by exactly the number of values taken.
TEST(CanonRandomThreads, BatchesMatchSingleDrawsAndAreNeverLost)
{
    setCanonRandSeed(777u);
    std::vector<float> single(kCanonRandMaxBatch);
    for (float& v : single)
        v = getCanonRandFloat();
    const uint32_t after = getCanonRandSeed();
    setCanonRandSeed(777u);
    std::vector<float> batch(kCanonRandMaxBatch);
    getCanonRandFloats(batch.data(), 5);
    getCanonRandFloats(batch.data() + 5, kCanonRandMaxBatch - 5);
    EXPECT_EQ(batch, single);
    EXPECT_EQ(getCanonRandSeed(), after);
    getCanonRandFloats(batch.data(), 0);
    EXPECT_EQ(getCanonRandSeed(), after);

    constexpr int kRounds = 20000;
    setCanonRandSeed(99u);
    uint32_t want = 99u;
    for (int i = 0; i < kRounds * (4 + 1); ++i)
        want = want * kCanonRandMul + kCanonRandAdd;
    setCanonRandSeed(99u);
    std::thread a([] {
        float r[4];
        for (int i = 0; i < kRounds; ++i)
            getCanonRandFloats(r, 4);
    });
    std::thread b([] {
        for (int i = 0; i < kRounds; ++i)
            (void)getCanonRandFloat();
    });
    a.join();
    b.join();
    EXPECT_EQ(getCanonRandSeed(), want);
}

// Several engines may be built at once (hosts construct instances in parallel); each resynthesis
// then renders on its own thread with its own FFT set-up.
TEST(FFTSetupThreads, ParallelConstructionAndRendering)
{
    constexpr int kThreads = 4;
    std::vector<float> results(kThreads, 0.0f);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(
            [t, &results]
            {
                for (int round = 0; round < 5; ++round)
                {
                    AddSynth synth;
                    synth.reset(44100.0f);
                    int pos = 12 << 10;
                    CF amp{0.25f, 0.0f};
                    CF* amps[2] = {&amp, &amp};
                    float peak = 0.0f;
                    std::vector<float> l(128), r(128);
                    float* out[2] = {l.data(), r.data()};
                    for (int hop = 0; hop < 4; ++hop)
                    {
                        synth.addHarmonics(&pos, amps, 1, 2, 0);
                        synth.resynthesizeHop(2);
                        synth.advanceWritePos();
                        synth.getRemSamples(out, 0, 128, 2, nullptr);
                        for (float v : l)
                            peak = std::max(peak, v);
                    }
                    results[size_t(t)] = peak;
                }
            });
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < kThreads; ++t)
    {
        EXPECT_GT(results[size_t(t)], 0.2f);
        EXPECT_EQ(results[size_t(t)], results[0]);
    }
}
} // namespace
