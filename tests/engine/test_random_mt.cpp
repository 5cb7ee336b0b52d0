#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <thread>
#include <vector>

#include "engine/Random.h"
#include "engine/modulation/CanonRandom.h"
#include "engine/synth/AddSynth.h"

namespace
{
// A batch is the same run as single draws; batches and single draws on two threads at once (two
// engines rendering) advance the shared state by exactly the number of values taken. (The sequence
// itself is pinned by the golden renders and traces.)
TEST(CanonRandomThreads, BatchesAndConcurrentDrawsAreExact)
{
    std::vector<float> single(kCanonRandMaxBatch), batch(kCanonRandMaxBatch);
    setCanonRandSeed(7u);
    for (float& v : single)
        v = getCanonRandFloat();
    setCanonRandSeed(7u);
    getCanonRandFloats(batch.data(), 5);
    getCanonRandFloats(batch.data() + 5, kCanonRandMaxBatch - 5);
    getCanonRandFloats(nullptr, 0);
    EXPECT_EQ(batch, single);

    constexpr int kRounds = 20000;
    setCanonRandSeed(99u);
    for (int i = 0; i < kRounds * 6; ++i)
        (void)getCanonRandFloat();
    const uint32_t want = getCanonRandSeed();
    setCanonRandSeed(99u);
    std::thread other(
        []
        {
            float r[4];
            for (int i = 0; i < kRounds; ++i)
                getCanonRandFloats(r, 4), (void)getCanonRandFloat();
        });
    for (int i = 0; i < kRounds; ++i)
        (void)getCanonRandFloat();
    other.join();
    EXPECT_EQ(getCanonRandSeed(), want);
}

// Every call advances the one shared state exactly once: values drawn from three threads at once
// are the same multiset as the single-threaded sequence of the same seed, in range and spread out.
TEST(EngineRandomThreads, ConcurrentCallersNeverShareAValue)
{
    constexpr int kPerThread = 20000;
    engineSrand(99);
    std::multiset<int32_t> expected, all;
    for (int i = 0; i < 3 * kPerThread; ++i)
        expected.insert(engineRand());
    EXPECT_TRUE(*expected.begin() >= 0 && *expected.rbegin() <= kEngineRandMax &&
                std::set<int32_t>(expected.begin(), expected.end()).size() > 59900u);
    engineSrand(99);
    std::vector<std::vector<int32_t>> got(3);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 3; ++t)
        threads.emplace_back(
            [&got, t]
            {
                for (int i = 0; i < kPerThread; ++i)
                    got[t].push_back(engineRand());
            });
    for (size_t t = 0; t < 3; ++t)
        threads[t].join(), all.insert(got[t].begin(), got[t].end());
    EXPECT_EQ(all, expected);
}

// Hosts construct instances in parallel; each resynthesis then renders on its own thread with its
// own FFT set-up, and all give the same audible output.
TEST(FFTSetupThreads, ParallelConstructionAndRendering)
{
    std::vector<std::vector<float>> outs(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < outs.size(); ++t)
        threads.emplace_back(
            [&out = outs[t]]
            {
                for (int round = 0; round < 5; ++round)
                {
                    AddSynth synth;
                    synth.reset(44100.0f);
                    int pos = 12 << 10;
                    CF amp{0.25f, 0.0f};
                    const float* amps[4] = {&amp.re, &amp.im, &amp.re, &amp.im};
                    out.assign(4 * 128, 0.0f);
                    for (int hop = 0; hop < 4; ++hop)
                    {
                        float* chans[2] = {&out[size_t(hop) * 128], &out[size_t(hop) * 128]};
                        synth.addHarmonics(&pos, amps, 1, 2);
                        synth.resynthesizeHop(2);
                        synth.advanceWritePos();
                        synth.getRemSamples(chans, 0, 128, 2, nullptr);
                    }
                }
            });
    for (std::thread& th : threads)
        th.join();
    EXPECT_GT(*std::max_element(outs[0].begin(), outs[0].end()), 0.2f);
    EXPECT_EQ(outs, std::vector<std::vector<float>>(4, outs[0]));
}
} // namespace
