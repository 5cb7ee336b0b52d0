// The effect chain on its own, stereo at 44.1 kHz. Reported per case: frame_time (CPU time per
// stereo frame; the SI prefix gives the unit, "n" for nanoseconds).
//
//   BM_ChainAllOn/<block>:     all seven units on, white noise at about -10 dBFS
//   BM_ChainSilent/<block>:    all seven units on, silent blocks after every tail has died away
//   BM_SingleUnit/<slot>:      one unit on (slot order of the chain), 256-sample blocks of noise

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <vector>

#include "engine/fx/FxChain.h"
#include "engine/params/Param.h"
#include "engine/params/ParamTable.h"
#include "engine/Random.h"
#include "platform/FlushDenormals.h"

namespace
{

constexpr float kRate = 44100.0f;
constexpr int kChannels = 2;

struct ChainRig
{
    FxChain chain;
    std::vector<Param> params = std::vector<Param>(kNumEngineParams);
    std::array<std::vector<float>, kChannels> source, work;
    std::array<float*, kChannels> ptrs{};

    ChainRig(int blockSize, int onlySlot = -1)
    {
        chain.bindParams(params);
        for (int slot = 0; slot < kNumFxUnits; ++slot)
            params[static_cast<std::size_t>(kFirstFxSwitch + slot)].value =
                (onlySlot < 0 || slot == onlySlot) ? 1.0f : 0.0f;
        chain.setup(kRate, kChannels);
        engineSrand(1);
        for (int c = 0; c < kChannels; ++c)
        {
            auto& src = source[static_cast<std::size_t>(c)];
            src.resize(static_cast<std::size_t>(blockSize));
            for (float& x : src)
                x = (engineRandUnit() - 0.5f) * 0.6f;
            work[static_cast<std::size_t>(c)] = src;
            ptrs[static_cast<std::size_t>(c)] = work[static_cast<std::size_t>(c)].data();
        }
    }

    void runNoise(int blockSize)
    {
        for (int c = 0; c < kChannels; ++c)
            std::copy(source[static_cast<std::size_t>(c)].begin(), source[static_cast<std::size_t>(c)].end(),
                      work[static_cast<std::size_t>(c)].begin());
        bool silent = false;
        chain.process(ptrs.data(), blockSize, kChannels, silent, params.data());
    }

    // Processes silence until the chain leaves the flag set; returns whether it got there.
    bool drainTails(int blockSize)
    {
        for (int call = 0; call < 100000; ++call)
        {
            for (auto& w : work)
                std::fill(w.begin(), w.end(), 0.0f);
            bool silent = true;
            chain.process(ptrs.data(), blockSize, kChannels, silent, params.data());
            if (silent) return true;
        }
        return false;
    }
};

void setFrameTime(benchmark::State& state, int blockSize)
{
    state.counters["frame_time"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * blockSize,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ChainAllOn(benchmark::State& state)
{
    const int blockSize = static_cast<int>(state.range(0));
    FlushDenormals guard;
    ChainRig rig(blockSize);
    for (auto _ : state)
    {
        rig.runNoise(blockSize);
        benchmark::DoNotOptimize(rig.work[0].data());
    }
    setFrameTime(state, blockSize);
}
BENCHMARK(BM_ChainAllOn)->Arg(32)->Arg(256)->Arg(1024);

void BM_ChainSilent(benchmark::State& state)
{
    const int blockSize = static_cast<int>(state.range(0));
    FlushDenormals guard;
    ChainRig rig(blockSize);
    for (int i = 0; i < 100; ++i)
        rig.runNoise(blockSize);
    if (!rig.drainTails(blockSize))
    {
        state.SkipWithError("the chain never fell silent");
        return;
    }
    for (auto _ : state)
    {
        bool silent = true;
        rig.chain.process(rig.ptrs.data(), blockSize, kChannels, silent, rig.params.data());
        benchmark::DoNotOptimize(silent);
    }
    setFrameTime(state, blockSize);
}
BENCHMARK(BM_ChainSilent)->Arg(32)->Arg(256)->Arg(1024);

void BM_SingleUnit(benchmark::State& state)
{
    const int slot = static_cast<int>(state.range(0));
    constexpr int kBlock = 256;
    FlushDenormals guard;
    ChainRig rig(kBlock, slot);
    for (auto _ : state)
    {
        rig.runNoise(kBlock);
        benchmark::DoNotOptimize(rig.work[0].data());
    }
    state.SetLabel(getFxSlotName(slot));
    setFrameTime(state, kBlock);
}
BENCHMARK(BM_SingleUnit)->DenseRange(0, kNumFxUnits - 1);

} // namespace

BENCHMARK_MAIN();
