// The whole engine (voices, resynthesis and the effect chain) rendering 16 sustained voices from the
// demo bank. Reported per case: rt_factor (seconds of audio per second of CPU) and max_call_us (the
// longest single process() call, in microseconds).
//
//   typical: 16 notes spread over the keyboard, static morph, default effect chain, 44.1 kHz
//   stress:  16 low notes, the morph point moved by two LFOs every hop, all seven effects on, 48 kHz

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "bankmaker/BankMaker.h"
#include "engine/modulation/CanonRandom.h"
#include "engine/KeySpaceDSP.h"
#include "engine/params/ParamTable.h"
#include "engine/Random.h"
#include "engine/voice/VoiceAllocation.h"

// Header-only, so the benchmark shares the tests' start canvas without linking their support code.
#include "../tests/support/TestCanvas.h"

namespace
{

constexpr int kBlockSize = 512;

struct BenchEngine
{
    explicit BenchEngine(float rate) : bank(qmbank::demoBank())
    {
        refs.resize(bank.size());
        for (std::size_t i = 0; i < bank.size(); ++i)
        {
            std::strncpy(refs[i].name, bank[i].name.c_str(), sizeof(refs[i].name) - 1);
            refs[i].data = bank[i].data.data();
            refs[i].size = bank[i].data.size();
        }
        dsp = std::make_unique<KeySpaceDSP>(SynthFIFO<NodeCanvasData>::Reader(&canvases), SynthFIFO<NodeMix>::Reader(&mixes),
                                            refs.data(), static_cast<int>(refs.size()));
        dsp->init(rate);
    }

    // An XY Pad canvas of eight sounds from different categories.
    void pushCanvas()
    {
        NodeCanvasData c = qmtest::startCanvas(kCanvasModeXYPad);
        const int ids[] = {0, 6, 11, 16, 19, 23, 26, 33};
        const Point2D pos[] = {{0.2f, 0.2f}, {0.5f, 0.15f}, {0.8f, 0.25f}, {0.25f, 0.5f},
                               {0.7f, 0.55f}, {0.2f, 0.8f}, {0.5f, 0.85f}, {0.85f, 0.8f}};
        for (int i = 0; i < 8; ++i)
            c.nodes[static_cast<std::size_t>(i)] = {pos[i], ids[i]};
        c.nodeCount = 8;
        c.currentMix.point = {0.5f, 0.5f};
        c.triangulate();
        canvases.push(c);
    }

    // A note start as block processing makes it: with the voices free, each note takes the next one.
    void start(int note, int velocity) { startNote(*dsp, note, velocity, 1); }

    std::vector<qmbank::BankEntry> bank;
    std::vector<SoundDataRef> refs;
    SynthFIFO<NodeCanvasData> canvases{8};
    SynthFIFO<NodeMix> mixes{32};
    std::unique_ptr<KeySpaceDSP> dsp;
};

void runEngine(benchmark::State& state, BenchEngine& e, float rate)
{
    std::vector<float> l(kBlockSize), r(kBlockSize);
    float* out[2] = {l.data(), r.data()};
    for (int i = 0; i < 100; ++i) // past the onsets
        e.dsp->process(out, kBlockSize, 2);

    double maxCall = 0.0;
    long samples = 0;
    for (auto _ : state)
    {
        const auto t0 = std::chrono::steady_clock::now();
        e.dsp->process(out, kBlockSize, 2);
        const auto t1 = std::chrono::steady_clock::now();
        maxCall = std::max(maxCall, std::chrono::duration<double, std::micro>(t1 - t0).count());
        benchmark::DoNotOptimize(l.data());
        benchmark::ClobberMemory();
        samples += kBlockSize;
    }
    state.counters["rt_factor"] = benchmark::Counter(static_cast<double>(samples) / rate, benchmark::Counter::kIsRate);
    state.counters["max_call_us"] = maxCall;
}

void BM_EngineTypical(benchmark::State& state)
{
    engineSrand(1u);
    setCanonRandSeed(kCanonRandInitialSeed);
    constexpr float kRate = 44100.0f;
    BenchEngine e(kRate);
    e.pushCanvas();
    e.dsp->params[kParamMorphX].value = 0.4f;
    e.dsp->params[kParamMorphY].value = 0.6f;
    for (int i = 0; i < kMaxVoices; ++i)
        e.start(36 + i * 3, 100); // C2 .. A5
    runEngine(state, e, kRate);
}

void BM_EngineStress(benchmark::State& state)
{
    engineSrand(1u);
    setCanonRandSeed(kCanonRandInitialSeed);
    constexpr float kRate = 48000.0f;
    BenchEngine e(kRate);
    e.pushCanvas();
    for (int i = 0; i < kNumFxUnits; ++i)
        e.dsp->params[static_cast<std::size_t>(kFirstFxSwitch + i)].value = 1.0f;
    // LFO 1 on Morph X, LFO 2 on Morph Y, both free-running per voice.
    e.dsp->params[kFirstLfoParam + kLfoParamSpeed].value = 2.0f;
    e.dsp->params[kFirstLfoParam + kParamsPerLfo + kLfoParamSpeed].value = 1.3f;
    for (int s = 0; s < 2; ++s)
    {
        const int first = kFirstModSlotParam + s * kParamsPerModSlot;
        e.dsp->params[static_cast<std::size_t>(first + kModParamSource)].value = static_cast<float>(1 + s);
        e.dsp->params[static_cast<std::size_t>(first + kModParamAmount)].value = 4.0f;
        e.dsp->params[static_cast<std::size_t>(first + kModParamTarget)].value = static_cast<float>(s);
    }
    for (int i = 0; i < kMaxVoices; ++i)
        e.start(24 + i, 100); // C1 .. D#2
    runEngine(state, e, kRate);
}

} // namespace

BENCHMARK(BM_EngineTypical)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_EngineStress)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

BENCHMARK_MAIN();
