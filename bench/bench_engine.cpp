// The whole engine (voices, resynthesis and the effect chain) rendering 16 voices from the demo
// bank. Reported per case: rt_factor (seconds of audio per second of CPU), max_call_us (the longest
// single process() call, in microseconds) and vs_osc_bank: how many times faster the engine renders
// a block than a plain oscillator bank (one complex rotator per partial, summed sample by sample)
// renders the same partials at the same levels, both timed in the same run, so that the figure
// holds on a busy machine.
//
//   typical:    16 notes spread over the keyboard, static morph, default effect chain, 44.1 kHz
//   high notes: as typical, 16 notes of a few harmonics each: the cost per voice and hop
//   stress:     16 low notes, the morph point moved by two LFOs every hop, all seven effects on, 48 kHz
//   note storm: as typical, but every block releases its 16 notes and starts 16 new ones, so that
//               every block pays 16 onsets

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
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

// A plain oscillator bank: partial p turns by a fixed complex step per sample and adds its
// imaginary part times its level; the sum runs over the partials in eight interleaved lanes.
class OscillatorBank
{
  public:
    void add(double hz, float level, float rate)
    {
        const double w = 2.0 * 3.14159265358979323846 * hz / rate;
        re.push_back(1.0f), im.push_back(0.0f), level_.push_back(level);
        stepRe.push_back(static_cast<float>(std::cos(w))), stepIm.push_back(static_cast<float>(std::sin(w)));
    }
    int size() const { return static_cast<int>(re.size()); }

    void render(float* out, int n)
    {
        while (re.size() % kLanes != 0)
            add(0.0, 0.0f, 1.0f);
        const std::size_t count = re.size();
        for (int i = 0; i < n; ++i)
        {
            float lanes[kLanes] = {};
            for (std::size_t p = 0; p < count; p += kLanes)
                for (std::size_t k = 0; k < kLanes; ++k)
                {
                    const float r = re[p + k] * stepRe[p + k] - im[p + k] * stepIm[p + k];
                    im[p + k] = re[p + k] * stepIm[p + k] + im[p + k] * stepRe[p + k];
                    re[p + k] = r;
                    lanes[k] += level_[p + k] * im[p + k];
                }
            float sum = 0.0f;
            for (float x : lanes)
                sum += x;
            out[i] = sum;
        }
        // Back onto the unit circle once a block, as rounding drifts the rotators.
        for (std::size_t p = 0; p < count; ++p)
        {
            const float g = 1.0f / std::sqrt(re[p] * re[p] + im[p] * im[p] + 1e-30f);
            re[p] *= g, im[p] *= g;
        }
    }

  private:
    static constexpr std::size_t kLanes = 8;
    std::vector<float> re, im, stepRe, stepIm, level_;
};

// The partials the engine's sounding voices render: each voice's harmonics up to its count and
// the harmonic limit, at the steady level of their band, and its active resonances.
OscillatorBank partialsOf(const KeySpaceDSP& dsp, float rate)
{
    OscillatorBank bank;
    for (int i = 0; i < dsp.voiceCount; ++i)
    {
        const KeyVoice& v = dsp.voices[static_cast<std::size_t>(i)];
        if (v.state == 0) continue;
        const double f0 = 440.0 * std::exp2((v.note - 69) / 12.0);
        const int count = std::min(v.voiceHarmonicCount, static_cast<int>(0.45 * rate / f0));
        for (int h = 0; h < count; ++h) // harmonic 0 sits at half the fundamental
        {
            const auto band = static_cast<std::size_t>(dsp.harmBand[static_cast<std::size_t>(h)]);
            bank.add((h == 0 ? 0.5 : h) * f0, v.bands.levelC[band], rate);
        }
        for (int r = 0; r < v.activeResonances; ++r)
        {
            const VoiceResonance& res = v.resonances[static_cast<std::size_t>(r)];
            bank.add(res.freqHz, res.tonalLevel, rate);
        }
    }
    return bank;
}

// Times the engine block by block (with `beforeBlock` run untimed before each), and the oscillator
// bank of the engine's partials after every eighth block.
void runEngine(benchmark::State& state, BenchEngine& e, float rate, const std::function<void(int)>& beforeBlock = {})
{
    std::vector<float> l(kBlockSize), r(kBlockSize);
    float* out[2] = {l.data(), r.data()};
    for (int i = 0; i < 100; ++i) // past the onsets
    {
        if (beforeBlock) beforeBlock(i);
        e.dsp->process(out, kBlockSize, 2);
    }

    using Clock = std::chrono::steady_clock;
    double maxCall = 0.0, engineSeconds = 0.0, bankSeconds = 0.0;
    long samples = 0, bankBlocks = 0, engineBlocks = 0;
    for (auto _ : state)
    {
        if (beforeBlock)
        {
            state.PauseTiming();
            beforeBlock(static_cast<int>(engineBlocks));
            state.ResumeTiming();
        }
        const auto t0 = Clock::now();
        e.dsp->process(out, kBlockSize, 2);
        const auto t1 = Clock::now();
        const double call = std::chrono::duration<double>(t1 - t0).count();
        maxCall = std::max(maxCall, call * 1e6);
        engineSeconds += call;
        benchmark::DoNotOptimize(l.data());
        benchmark::ClobberMemory();
        samples += kBlockSize;
        if (engineBlocks++ % 8 == 0)
        {
            state.PauseTiming();
            OscillatorBank bank = partialsOf(*e.dsp, rate);
            const auto b0 = Clock::now();
            bank.render(l.data(), kBlockSize);
            bankSeconds += std::chrono::duration<double>(Clock::now() - b0).count();
            benchmark::DoNotOptimize(l.data());
            ++bankBlocks;
            state.ResumeTiming();
        }
    }
    state.counters["rt_factor"] = benchmark::Counter(static_cast<double>(samples) / rate, benchmark::Counter::kIsRate);
    state.counters["max_call_us"] = maxCall;
    if (bankBlocks > 0 && engineSeconds > 0.0)
        state.counters["vs_osc_bank"] = (bankSeconds / static_cast<double>(bankBlocks)) /
                                        (engineSeconds / static_cast<double>(engineBlocks));
}

// The typical scene's engine: the demo canvas, the morph point between its sounds.
void setUpTypical(BenchEngine& e)
{
    e.pushCanvas();
    e.dsp->params[kParamMorphX].value = 0.4f;
    e.dsp->params[kParamMorphY].value = 0.6f;
}

// The typical scene with its 16 notes at first, first + step, ...
void runTypical(benchmark::State& state, int first, int step)
{
    engineSrand(1u);
    setCanonRandSeed(kCanonRandInitialSeed);
    constexpr float kRate = 44100.0f;
    BenchEngine e(kRate);
    setUpTypical(e);
    for (int i = 0; i < kMaxVoices; ++i)
        e.start(first + i * step, 100);
    runEngine(state, e, kRate);
}

void BM_EngineTypical(benchmark::State& state) { runTypical(state, 36, 3); } // C2 .. A5

// 16 high notes of few harmonics each: mostly the cost per voice and hop.
void BM_EngineHighNotes(benchmark::State& state) { runTypical(state, 84, 1); } // C6 .. D#7

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

void BM_EngineNoteStorm(benchmark::State& state)
{
    engineSrand(1u);
    setCanonRandSeed(kCanonRandInitialSeed);
    constexpr float kRate = 44100.0f;
    BenchEngine e(kRate);
    setUpTypical(e);
    // Block b plays notes 36 + (b % 4) + 3 i, i = 0..15, after releasing those of block b - 1.
    const auto storm = [&e](int block) {
        for (int i = 0; i < kMaxVoices; ++i)
            releaseNote(*e.dsp, 36 + (block + 3) % 4 + i * 3, 1);
        for (int i = 0; i < kMaxVoices; ++i)
            e.start(36 + block % 4 + i * 3, 100);
    };
    runEngine(state, e, kRate, storm);
}

} // namespace

BENCHMARK(BM_EngineTypical)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_EngineHighNotes)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_EngineStress)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_EngineNoteStorm)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

BENCHMARK_MAIN();
