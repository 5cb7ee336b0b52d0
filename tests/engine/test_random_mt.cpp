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
// The canonical generator follows its documented congruential sequence with unit variance; a batch
// is the same run as single draws; batches and single draws on two threads at once (two engines
// rendering) advance the shared state by exactly the number of values taken.
TEST(CanonRandomThreads, SequenceBatchesAndConcurrentDrawsAreExact)
{
    setCanonRandSeed(0u);
    EXPECT_FLOAT_EQ(getCanonRandFloat(), 0.81773946f);
    EXPECT_EQ(getCanonRandSeed(), 1013904223u);
    EXPECT_FLOAT_EQ(getCanonRandFloat(), 0.96495577f);
    std::vector<float> single(100000), batch(kCanonRandMaxBatch);
    setCanonRandSeed(777u);
    double sum = 0.0, sq = 0.0;
    for (float& v : single)
        v = getCanonRandFloat(), sum += v, sq += double(v) * v;
    EXPECT_TRUE(std::fabs(sum / 1e5) < 0.02 && std::fabs(sq / 1e5 - 1.0) < 0.02) << sum << " " << sq;
    EXPECT_LE(*std::max_element(single.begin(), single.end()), 1.7321f);
    setCanonRandSeed(777u);
    getCanonRandFloats(batch.data(), 5);
    getCanonRandFloats(batch.data() + 5, kCanonRandMaxBatch - 5);
    getCanonRandFloats(nullptr, 0);
    EXPECT_TRUE(std::equal(batch.begin(), batch.end(), single.begin()));

    constexpr int kRounds = 20000;
    uint32_t want = 99u;
    for (int i = 0; i < kRounds * 6; ++i)
        want = want * kCanonRandMul + kCanonRandAdd;
    setCanonRandSeed(99u);
    float r[4];
    std::thread a(
        [&r]
        {
            for (int i = 0; i < kRounds; ++i)
                getCanonRandFloats(r, 4), (void)getCanonRandFloat();
        });
    for (int i = 0; i < kRounds; ++i)
        (void)getCanonRandFloat();
    a.join();
    EXPECT_EQ(getCanonRandSeed(), want);
}

// Every call advances the one shared state exactly once: values drawn from several threads at once
// are the same multiset as the single-threaded sequence of the same seed, spread over the range.
TEST(EngineRandomThreads, ConcurrentCallersNeverShareAValue)
{
    constexpr int kPerThread = 20000;
    engineSrand(99);
    std::multiset<int32_t> expected, all;
    for (int i = 0; i < 3 * kPerThread; ++i)
        expected.insert(engineRand());
    EXPECT_TRUE(*expected.begin() >= 0 && *expected.rbegin() <= kEngineRandMax);
    EXPECT_GT(std::set<int32_t>(expected.begin(), expected.end()).size(), 59900u);
    EXPECT_NEAR(double(*std::next(expected.begin(), 3 * kPerThread / 2)) / kEngineRandMax, 0.5,
                0.02); // median
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
