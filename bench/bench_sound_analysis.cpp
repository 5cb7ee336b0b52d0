// Engine construction with the sound-list analysis (one voice set-up per sound), and canvas
// construction by each choice rule, on the demo bank and on the large bank.

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "bankmaker/BankMaker.h"
#include "engine/KeySpaceDSP.h"
#include "engine/Random.h"

namespace
{

struct Bank
{
    explicit Bank(std::vector<qmbank::BankEntry> entries) : bank(std::move(entries))
    {
        refs.resize(bank.size());
        for (std::size_t i = 0; i < bank.size(); ++i)
        {
            std::strncpy(refs[i].name, bank[i].name.c_str(), sizeof(refs[i].name) - 1);
            refs[i].data = bank[i].data.data();
            refs[i].size = bank[i].data.size();
        }
    }
    std::unique_ptr<KeySpaceDSP> makeEngine()
    {
        return std::make_unique<KeySpaceDSP>(SynthFIFO<NodeCanvasData>::Reader(&canvases),
                                             SynthFIFO<NodeMix>::Reader(&mixes), refs.data(),
                                             static_cast<int>(refs.size()));
    }
    std::vector<qmbank::BankEntry> bank;
    std::vector<SoundDataRef> refs;
    SynthFIFO<NodeCanvasData> canvases{8};
    SynthFIFO<NodeMix> mixes{32};
};

void constructEngine(benchmark::State& state, std::vector<qmbank::BankEntry> (*makeBank)())
{
    Bank bank(makeBank());
    for (auto _ : state)
    {
        auto engine = bank.makeEngine();
        benchmark::DoNotOptimize(engine->sounds.data());
    }
    state.counters["sounds"] = static_cast<double>(bank.refs.size());
}

void constructEmptyEngine(benchmark::State& state)
{
    SynthFIFO<NodeCanvasData> canvases{8};
    SynthFIFO<NodeMix> mixes{32};
    for (auto _ : state)
    {
        KeySpaceDSP engine(SynthFIFO<NodeCanvasData>::Reader(&canvases), SynthFIFO<NodeMix>::Reader(&mixes),
                           nullptr, 0);
        benchmark::DoNotOptimize(engine.numSounds());
    }
}

void buildCanvas(benchmark::State& state, KeySpaceDSP::NodeMixType type)
{
    Bank bank(type == KeySpaceDSP::CategorySpace ? qmbank::largeBank() : qmbank::demoBank());
    auto engine = bank.makeEngine();
    engineSrand(1);
    NodeCanvasData start{};
    engine->makeNodeCanvas(&start, KeySpaceDSP::RandomSet, 0, Point2D{0.12f, 0.27f}, Point2D{0.83f, 0.72f});
    start.getNodeMixForPoint(Point2D{0.5f, 0.52f}, true, nullptr, false);
    for (auto _ : state)
    {
        NodeCanvasData canvas = start;
        engine->makeNodeCanvas(&canvas, type, 0, Point2D{0.12f, 0.27f}, Point2D{0.83f, 0.72f});
        benchmark::DoNotOptimize(canvas.nodeCount);
    }
}

} // namespace

BENCHMARK_CAPTURE(constructEngine, demo_bank, &qmbank::demoBank)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(constructEngine, large_bank, &qmbank::largeBank)->Unit(benchmark::kMillisecond);
BENCHMARK(constructEmptyEngine)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(buildCanvas, random_set, KeySpaceDSP::RandomSet)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(buildCanvas, category_64_of_large_bank, KeySpaceDSP::CategorySpace)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(buildCanvas, rotate_current, KeySpaceDSP::RotateCurrent)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(buildCanvas, rotate_all, KeySpaceDSP::RotateAll)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
