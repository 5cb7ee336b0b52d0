// Cost of the frequency-domain resynthesis against a plain oscillator bank rendering the same
// partials. Partials per second: how many (partial, hop) pairs one core turns into spectrum or
// samples; hops per second: whole two-channel hops of fold, inverse FFT and overlap-add.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "engine/synth/AddSynth.h"

namespace
{
constexpr int kHop = 128;

struct Partials
{
    explicit Partials(int n)
        : pos(static_cast<size_t>(n)),
          freq(static_cast<size_t>(n)), phase(static_cast<size_t>(n))
    {
        std::mt19937 gen(1u);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        for (int h = 0; h < n; ++h)
        {
            // Harmonic-like spread over bins 2..115, as rendering keeps them below 0.45 x rate.
            const float bin = 2.0f + 113.0f * unit(gen);
            pos[size_t(h)] = int(bin * 1024.0f);
            for (auto& part : amp)
                part.push_back(0.01f * unit(gen));
            freq[size_t(h)] = bin / 256.0f; // cycles per sample
            phase[size_t(h)] = unit(gen);
        }
    }
    std::vector<int> pos;
    // The amplitudes' real and imaginary parts of channel 0, then of channel 1, from partial first on.
    std::array<const float*, 4> from(int first) const
    {
        return {amp[0].data() + first, amp[1].data() + first, amp[2].data() + first, amp[3].data() + first};
    }
    std::array<std::vector<float>, 4> amp;
    std::vector<float> freq, phase;
};

// Rendering's split: the first 8 partials of a voice with 8 taps, the rest with 4.
void addVoice(AddSynth& synth, Partials& p, int n)
{
    const int first = std::min(8, n);
    synth.addHarmonics(p.pos.data(), p.from(0).data(), first, 2);
    if (n > first) synth.addHarmonics(p.pos.data() + first, p.from(first).data(), n - first, 1);
}

void BM_AddHarmonics(benchmark::State& state)
{
    const int n = int(state.range(0));
    const int quality = int(state.range(1));
    AddSynth synth;
    synth.reset(44100.0f);
    Partials p(n);
    const std::array<const float*, 4> amps = p.from(0);
    for (auto _ : state)
    {
        synth.addHarmonics(p.pos.data(), amps.data(), n, quality);
        benchmark::DoNotOptimize(synth.spectrum.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
    state.SetLabel("partials");
}
BENCHMARK(BM_AddHarmonics)->Args({384, 1})->Args({384, 2})->Args({64, 1})->Args({64, 2});

void BM_ResynthesisHop(benchmark::State& state)
{
    AddSynth synth;
    synth.reset(44100.0f);
    std::vector<float> left(kHop), right(kHop);
    float* out[2] = {left.data(), right.data()};
    for (auto _ : state)
    {
        // The transform's cost does not depend on the spectrum's content.
        synth.partialsAdded = 1;
        synth.resynthesizeHop(2);
        synth.advanceWritePos();
        synth.getRemSamples(out, 0, kHop, 2, nullptr);
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.SetLabel("hops (2 channels)");
}
BENCHMARK(BM_ResynthesisHop);

// Everything the resynthesis does per hop for n partials: spread them, then the hop itself.
void BM_AdditiveHop(benchmark::State& state)
{
    const int n = int(state.range(0));
    AddSynth synth;
    synth.reset(44100.0f);
    Partials p(n);
    std::vector<float> left(kHop), right(kHop);
    float* out[2] = {left.data(), right.data()};
    for (auto _ : state)
    {
        addVoice(synth, p, n);
        synth.resynthesizeHop(2);
        synth.advanceWritePos();
        synth.getRemSamples(out, 0, kHop, 2, nullptr);
        benchmark::DoNotOptimize(left.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
    state.SetLabel("partials (with the hop)");
}
BENCHMARK(BM_AdditiveHop)->Arg(64)->Arg(384);

// Baseline: one std::sin oscillator per partial and sample, into two channels.
void BM_SinOscillatorBank(benchmark::State& state)
{
    const int n = int(state.range(0));
    Partials p(n);
    std::vector<float> left(kHop), right(kHop);
    for (auto _ : state)
    {
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        for (int h = 0; h < n; ++h)
        {
            const float a0 = p.amp[0][size_t(h)], a1 = p.amp[2][size_t(h)];
            const float inc = 6.2831853f * p.freq[size_t(h)];
            float ph = p.phase[size_t(h)];
            for (int t = 0; t < kHop; ++t)
            {
                const float s = std::sin(ph);
                left[size_t(t)] += a0 * s;
                right[size_t(t)] += a1 * s;
                ph += inc;
            }
            p.phase[size_t(h)] = std::fmod(ph, 6.2831853f);
        }
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
    state.SetLabel("partials (128 samples each)");
}
BENCHMARK(BM_SinOscillatorBank)->Arg(64)->Arg(384);

// A stronger baseline: a recursive complex phasor per partial (no sin call per sample).
void BM_PhasorOscillatorBank(benchmark::State& state)
{
    const int n = int(state.range(0));
    Partials p(n);
    const size_t count = static_cast<size_t>(n);
    std::vector<float> re(count), im(count), cr(count), ci(count);
    for (int h = 0; h < n; ++h)
    {
        re[size_t(h)] = 1.0f;
        cr[size_t(h)] = std::cos(6.2831853f * p.freq[size_t(h)]);
        ci[size_t(h)] = std::sin(6.2831853f * p.freq[size_t(h)]);
    }
    std::vector<float> left(kHop), right(kHop);
    for (auto _ : state)
    {
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        for (int h = 0; h < n; ++h)
        {
            const float a0 = p.amp[0][size_t(h)], a1 = p.amp[2][size_t(h)];
            float x = re[size_t(h)], y = im[size_t(h)];
            const float c = cr[size_t(h)], s = ci[size_t(h)];
            for (int t = 0; t < kHop; ++t)
            {
                left[size_t(t)] += a0 * y;
                right[size_t(t)] += a1 * y;
                const float nx = x * c - y * s;
                y = x * s + y * c;
                x = nx;
            }
            re[size_t(h)] = x;
            im[size_t(h)] = y;
        }
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
    state.SetLabel("partials (128 samples each)");
}
BENCHMARK(BM_PhasorOscillatorBank)->Arg(64)->Arg(384);
} // namespace

BENCHMARK_MAIN();
