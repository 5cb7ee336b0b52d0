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
// Both generators: the same seed gives the same run, values stay in range and spread out. The
// canonical one follows its documented congruential sequence with unit variance.
TEST(Random, SeedsGiveReproducibleSpreadSequences)
{
    engineSrand(1234);
    std::vector<int32_t> first(1000);
    for (int32_t& v : first)
        v = engineRand();
    engineSrand(1234);
    double mean = 0;
    for (int32_t v : first)
    {
        ASSERT_EQ(engineRand(), v);
        ASSERT_TRUE(v >= 0 && v <= kEngineRandMax);
        mean += double(v) / kEngineRandMax / 1000.0;
    }
    EXPECT_GT(std::set<int32_t>(first.begin(), first.end()).size(), 990u);
    EXPECT_NEAR(mean, 0.5, 0.05);

    setCanonRandSeed(0u);
    EXPECT_FLOAT_EQ(getCanonRandFloat(), 0.81773946f);
    EXPECT_EQ(getCanonRandSeed(), 1013904223u);
    EXPECT_FLOAT_EQ(getCanonRandFloat(), 0.96495577f);
    setCanonRandSeed(kCanonRandInitialSeed);
    double sum = 0.0, sq = 0.0;
    for (int i = 0; i < 100000; ++i)
    {
        const float v = getCanonRandFloat();
        ASSERT_LE(std::fabs(v), 1.7321f);
        sum += v, sq += double(v) * v;
    }
    EXPECT_NEAR(sum / 100000, 0.0, 0.02);
    EXPECT_NEAR(sq / 100000, 1.0, 0.02);
}

// A batch is the same run of values as single draws; batches and single draws on two threads at
// once (two engines rendering) advance the shared state by exactly the number of values taken.
TEST(CanonRandomThreads, BatchesMatchSingleDrawsAndAreNeverLost)
{
    setCanonRandSeed(777u);
    std::vector<float> single(kCanonRandMaxBatch), batch(kCanonRandMaxBatch);
    for (float& v : single)
        v = getCanonRandFloat();
    const uint32_t after = getCanonRandSeed();
    setCanonRandSeed(777u);
    getCanonRandFloats(batch.data(), 5);
    getCanonRandFloats(batch.data() + 5, kCanonRandMaxBatch - 5);
    getCanonRandFloats(batch.data(), 0);
    EXPECT_EQ(batch, single);
    EXPECT_EQ(getCanonRandSeed(), after);

    constexpr int kRounds = 20000;
    uint32_t want = 99u;
    for (int i = 0; i < kRounds * (4 + 1 + 1); ++i)
        want = want * kCanonRandMul + kCanonRandAdd;
    setCanonRandSeed(99u);
    std::thread a(
        []
        {
            float r[4];
            for (int i = 0; i < kRounds; ++i)
                getCanonRandFloats(r, 4), (void)getCanonRandFloat();
        });
    std::thread b(
        []
        {
            for (int i = 0; i < kRounds; ++i)
                (void)getCanonRandFloat();
        });
    a.join();
    b.join();
    EXPECT_EQ(getCanonRandSeed(), want);
}

// Every call advances the one shared state exactly once: values drawn from several threads at once
// are the same multiset as the single-threaded sequence.
TEST(EngineRandomThreads, ConcurrentCallersNeverShareAValue)
{
    constexpr int kPerThread = 20000;
    engineSrand(99);
    std::multiset<int32_t> expected, all;
    for (int i = 0; i < 3 * kPerThread; ++i)
        expected.insert(engineRand());
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
// own FFT set-up, and all give the same output.
TEST(FFTSetupThreads, ParallelConstructionAndRendering)
{
    std::vector<float> peaks(4, 0.0f);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < peaks.size(); ++t)
        threads.emplace_back(
            [t, &peaks]
            {
                for (int round = 0; round < 5; ++round)
                {
                    AddSynth synth;
                    synth.reset(44100.0f);
                    int pos = 12 << 10;
                    CF amp{0.25f, 0.0f};
                    CF* amps[2] = {&amp, &amp};
                    std::vector<float> l(128), r(128);
                    float* out[2] = {l.data(), r.data()};
                    for (int hop = 0; hop < 4; ++hop)
                    {
                        synth.addHarmonics(&pos, amps, 1, 2, 0);
                        synth.resynthesizeHop(2);
                        synth.advanceWritePos();
                        synth.getRemSamples(out, 0, 128, 2, nullptr);
                        peaks[t] = std::max(peaks[t], *std::max_element(l.begin(), l.end()));
                    }
                }
            });
    for (std::thread& th : threads)
        th.join();
    EXPECT_GT(peaks[0], 0.2f);
    EXPECT_EQ(peaks, std::vector<float>(4, peaks[0]));
}
} // namespace
