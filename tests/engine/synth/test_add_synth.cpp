#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/VectorWidth.h"
#include "engine/modulation/CanonRandom.h"
#include "engine/synth/AddSynth.h"
#include "engine/synth/HarmKernels.h"
#include "support/EngineTestHelpers.h"

namespace
{
// Level (dB) of the error two overlapping frames of a steady partial at phi bins past a whole bin
// leave, for one kernel row: g(n) = h(n) w(n) + h(n - 128) w(n - 128) should be 1.
double olaErrorDb(const float* taps, int numTaps, double phi)
{
    double err = 0.0;
    for (int n = 0; n < 128; ++n)
    {
        std::complex<double> g = 0.0;
        for (int j = 0; j < numTaps; ++j)
        {
            const double f = (1 - numTaps / 2 + j) - phi;
            g += double(taps[j]) *
                 (std::polar(1.0, 2 * M_PI * f * n / 256) * double(kASWinOLA[size_t(128 + n)]) +
                  std::polar(1.0, 2 * M_PI * f * (n - 128) / 256) * double(kASWinOLA[size_t(n)]));
        }
        err += std::norm(g - 1.0);
    }
    return 10.0 * std::log10(err / 128.0);
}

// The 4- and 8-tap kernels, which rendering uses.
TEST(HarmKernels, EveryRowReconstructsASteadyPartial)
{
    for (size_t r = 0; r < 256; ++r)
        EXPECT_LT(olaErrorDb(kHarmBinWeights4[r].data(), 4, r / 256.0), -45.0) << "4-tap row " << r;
    for (size_t r = 0; r <= 64; ++r)
        EXPECT_LT(olaErrorDb(kHarmBinWeights8[r].data(), 8, r / 64.0), -45.0) << "8-tap row " << r;
    const AddSynth synth; // the onset frames' window is power complementary at their hop of 32
    for (size_t i = 0; i < 32; ++i)
        EXPECT_NEAR(synth.onsetWindow[i] * synth.onsetWindow[i] +
                        synth.onsetWindow[i + 32] * synth.onsetWindow[i + 32],
                    0.25, 1e-6)
            << i;
}

// Rendering reads the 8-tap kernel from its table per position fraction: each of those rows must be
// the float interpolation between the two 64ths of a bin around it that partials there were always
// given, and on a 64th the row itself.
TEST(HarmKernels, FineEightTapRowsAreTheInterpolatedRows)
{
    constexpr int kSteps = kFineRowsPerBin / 64;
    for (int f = 0; f < kFineRowsPerBin; ++f)
    {
        const size_t r = size_t(f / kSteps);
        const float t = float(f % kSteps) / float(kSteps);
        for (size_t k = 0; k < 8; ++k)
        {
            const float between = (1.0f - t) * kHarmBinWeights8[r][k] + t * kHarmBinWeights8[r + 1][k];
            EXPECT_EQ(kHarmBinWeights8Fine[size_t(f)][k], between) << "fraction " << f << " tap " << k;
        }
        if (f % kSteps == 0)
        {
            EXPECT_EQ(kHarmBinWeights8Fine[size_t(f)], kHarmBinWeights8[r]) << f;
        }
    }
}

// The wide form lays each 8-tap fine row out as it goes, for a kernel starting on the first or the
// second bin of a pair: for every position fraction and both starts, a lone partial must land on
// the bins exactly as the baseline's fine row puts it.
TEST(HarmKernels, WideEightTapKernelsAreTheFineRowsForBothStarts)
{
    if (!wideVectorsSupported()) GTEST_SKIP() << "no AVX2 and FMA here: the baseline alone runs";
    const CF a0{0.75f, -1.25f};
    const CF a1{-0.5f, 2.0f};
    const float* amps[4] = {&a0.re, &a0.im, &a1.re, &a1.im};
    AddSynth baseline, wide;
    for (int bin : {20, 21})
        for (int f = 0; f < kFineRowsPerBin; ++f)
        {
            const int pos = (bin << 10) + f;
            baseline.clearSpectrum();
            wide.clearSpectrum();
            baseline.addHarmonics(&pos, amps, 1, 2, false);
            wide.addHarmonics(&pos, amps, 1, 2, true);
            ASSERT_EQ(wide.spectrum, baseline.spectrum) << "bin " << bin << ", fraction " << f;
            ASSERT_NE(wide.specRe[0][bin], 0.0f) << "bin " << bin << ", fraction " << f;
        }
}

void add(AddSynth& synth, int pos, int quality, CF a0 = {1.0f, -2.0f}, CF a1 = {0.5f, 0.25f})
{
    const float* amps[4] = {&a0.re, &a0.im, &a1.re, &a1.im};
    synth.addHarmonics(&pos, amps, 1, quality);
}

// quality 0, 1, 2: 2-, 4- and 8-tap kernels (below 0 counts as 1, above 2 as 2). The 2- and 8-tap
// tables have 64 rows per bin, the 8-tap one interpolated; the 4-tap one 256 rows, not interpolated.
// Each channel gets the kernel times its own amplitude. Bins -4 and 133 are the extremes any kernel
// may write; partials reaching further are skipped. The bins written, against
// tests/engine/golden/add_harmonics.txt.
TEST(AddHarmonics, KernelRowsSpreadEachChannelsAmplitude)
{
    AddSynth synth;
    synth.reset(44100.0f);
    std::string out;
    // clang-format off
    const std::pair<int, int> cases[] = {{10 << 10, 0}, {(20 << 10) + 512, 0}, {(30 << 10) + 8, 2},
        {(30 << 10) + 8, 7}, {(40 << 10) + 151, 1}, {(40 << 10) + 151, -5}, {-1 << 10, 2}, {129 << 10, 2},
        {-(2 << 10), 0}, {130 << 10, 0}, {-(2 << 10), 2}, {130 << 10, 2}}; // 151: 4-tap row 37, 3/4 on
    // clang-format on
    for (const auto& [pos, quality] : cases)
    {
        synth.clearSpectrum();
        add(synth, pos, quality);
        out += std::to_string(pos) + " quality " + std::to_string(quality) + ':';
        for (int b = -4; b <= 133; ++b)
        {
            char buf[96];
            std::snprintf(buf, sizeof buf, " %d=%.9g,%.9g,%.9g,%.9g", b, synth.specRe[0][b],
                          synth.specIm[0][b], synth.specRe[1][b], synth.specIm[1][b]);
            out += synth.specRe[0][b] != 0.0f || synth.specIm[1][b] != 0.0f ? buf : "";
        }
        out += '\n';
    }
    qmtest::expectGolden("add_harmonics.txt", out);
    synth.addHarmonics(nullptr, nullptr, 0, 2);
    for (int q = -1; q <= 5; ++q)
        for (int pos : {INT_MIN, -(5 << 10), 134 << 10, 1 << 20, INT_MAX})
            add(synth, pos, q);
    EXPECT_TRUE(std::all_of(synth.spectrum.begin(), synth.spectrum.end(), [](float v) { return v == 0.0f; }));
}

// One call with many partials (several chunks; positions rising by growing steps and falling back
// now and then; some silent, some outside the spectrum) sums exactly what single-partial calls sum.
TEST(AddHarmonics, ManyPartialsInOneCallSumAsSinglePartialsDo)
{
    for (int quality : {0, 1, 2})
        for (int count : {3, 150})
        {
            AddSynth many, single;
            std::vector<int> pos;
            std::array<std::vector<float>, 4> parts; // re and im of channel 0, then of channel 1
            for (int h = 0; h < count; ++h)
            {
                pos.push_back(h % 37 == 5 ? INT_MIN + h : h % 29 == 7 ? 130 << 10 : h * h * 37 % (126 << 10));
                const CF a0 = h % 13 == 4 ? CF{} : CF{std::sin(h * 1.7f), std::cos(h * 0.3f)};
                const CF a1{std::cos(h * 2.1f), -0.5f};
                for (size_t k = 0; k < 4; ++k)
                    parts[k].push_back(std::array{a0.re, a0.im, a1.re, a1.im}[k]);
                add(single, pos.back(), quality, a0, a1);
            }
            const float* amps[4] = {parts[0].data(), parts[1].data(), parts[2].data(), parts[3].data()};
            many.addHarmonics(pos.data(), amps, count, quality);
            EXPECT_EQ(many.spectrum, single.spectrum) << "quality " << quality << ", " << count << " partials";
        }
}

// Many partials as rendering gives them: rising positions with some outside the spectrum, some silent.
struct PartialList
{
    std::vector<int> pos;
    std::array<std::vector<float>, 4> parts; // re and im of channel 0, then of channel 1
    explicit PartialList(int count)
    {
        for (int h = 0; h < count; ++h)
        {
            pos.push_back(h % 31 == 9 ? 131 << 10 : (3 << 10) + h * h * 29 % (120 << 10) / 4 + h * 500);
            const CF a0 = h % 11 == 3 ? CF{} : CF{std::sin(h * 0.7f), std::cos(h * 1.3f)};
            const CF a1{std::cos(h * 2.3f), 0.25f - 0.01f * float(h)};
            for (size_t k = 0; k < 4; ++k)
                parts[k].push_back(std::array{a0.re, a0.im, a1.re, a1.im}[k]);
        }
    }
    // Partials from .. to - 1 into synth, by addHarmonics or gatherHarmonics, in either vector form.
    void add(AddSynth& synth, int from, int to, int quality, bool gather, bool wide = false) const
    {
        const float* amps[4] = {parts[0].data() + from, parts[1].data() + from, parts[2].data() + from,
                                parts[3].data() + from};
        (synth.*(gather ? &AddSynth::gatherHarmonics : &AddSynth::addHarmonics))(pos.data() + from, amps,
                                                                                 to - from, quality, wide);
    }
};

// Partials gathered over a hop's calls reach its frame exactly as one addHarmonics call with all of
// them does, however the calls split them; calls of different kernels (a few partials with the
// 8-tap kernel, the rest with the 4-tap one, as rendering does) give what separate addHarmonics
// calls give up to rounding. A spectrum cleared before the hop's end drops gathered partials too.
TEST(AddHarmonics, GatheredPartialsRenderAsAddedOnes)
{
    struct Case
    {
        std::vector<int> qualities; // of each call
        std::vector<int> splits;    // first partial of each call, then the end
    };
    // clang-format off
    const Case cases[] = {{{1, 1}, {0, 40, 150}}, {{2, 2, 2}, {0, 8, 9, 70}}, {{0, 0, 0}, {0, 1, 2, 150}},
                          {{1, 1, 1, 1}, {0, 64, 65, 129, 150}}, {{2, 1}, {0, 8, 150}},
                          {{2, 1, 2, 1}, {0, 8, 90, 98, 150}}};
    // clang-format on
    const PartialList list(150);
    for (const Case& c : cases)
    {
        AddSynth added, gathered, dropped;
        for (AddSynth* s : {&added, &gathered, &dropped})
            s->reset(44100.0f);
        const bool oneKernel =
            std::all_of(c.qualities.begin(), c.qualities.end(), [&](int q) { return q == c.qualities[0]; });
        for (size_t i = 0; i < c.qualities.size(); ++i)
        {
            if (!oneKernel) list.add(added, c.splits[i], c.splits[i + 1], c.qualities[i], false);
            list.add(gathered, c.splits[i], c.splits[i + 1], c.qualities[i], true);
            list.add(dropped, c.splits[i], c.splits[i + 1], c.qualities[i], true);
        }
        if (oneKernel) list.add(added, 0, c.splits.back(), c.qualities[0], false);
        dropped.clearSpectrum();
        for (AddSynth* s : {&added, &gathered, &dropped})
            s->resynthesizeHop(2);
        const std::string name = "case of " + std::to_string(c.qualities.size()) + " calls, first quality " +
                                 std::to_string(c.qualities[0]);
        double level = 0.0;
        for (size_t ch = 0; ch < 2; ++ch)
            for (size_t i = 0; i < kRingLength; ++i)
            {
                level = std::max(level, double(std::fabs(added.rings[ch][i])));
                ASSERT_EQ(dropped.rings[ch][i], 0.0f) << name;
                if (oneKernel)
                    ASSERT_EQ(gathered.rings[ch][i], added.rings[ch][i])
                        << name << ", ch " << ch << ", " << i;
                else
                    ASSERT_NEAR(gathered.rings[ch][i], added.rings[ch][i], 1e-5f) << name << ", ch " << ch;
            }
        EXPECT_GT(level, 0.1) << name;
        EXPECT_TRUE(std::all_of(gathered.partialBins.begin(), gathered.partialBins.end(),
                                [](float v) { return v == 0.0f; }))
            << name;
    }
}

// The wide form's 4- and 8-tap loops (two bins a vector, the window starting on even bins, 4-tap rows
// spread over the lanes, 8-tap rows laid out per start) sum what the baseline loops sum, up to the
// rounding of their fused multiply-adds: partials on odd and even bins, several in one bin, moves by
// one to four pairs of bins, past the window and back down, kernels at both ends of the spectrum and
// outside it; the 2-tap kernel as well, which both forms run alike.
TEST(AddHarmonics, WideLoopSumsAsTheBaselineDoes)
{
    if (!wideVectorsSupported()) GTEST_SKIP() << "no AVX2 and FMA here: the baseline alone runs";
    // A few roundings of sums of products below 1 each; a product missing or added twice is far
    // above it.
    const auto largestDifference = [](const std::vector<float>& a, const std::vector<float>& b) {
        float most = a.size() == b.size() ? 0.0f : INFINITY;
        for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
            most = std::max(most, std::abs(a[i] - b[i]));
        return most;
    };
    constexpr float kRounding = 1e-5f;
    struct Case
    {
        const char* name;
        std::vector<int> pos;
    };
    const auto steps = [](int first, int step, int count) {
        std::vector<int> pos;
        for (int h = 0; h < count; ++h)
            pos.push_back(first + h * step);
        return pos;
    };
    const std::vector<int> dense = steps(3 << 10, 300, 200), byBins = steps((1 << 10) + 77, 1024, 120),
                           byTwo = steps((2 << 10) + 900, 2048, 60),
                           byThree = steps((1 << 10) + 5, 3 * 1024 + 1, 40),
                           bySix = steps((2 << 10) + 600, 6 * 1024 + 3, 20),
                           byNine = steps((3 << 10) + 1, 9 * 1024 - 7, 14);
    // clang-format off
    const Case cases[] = {
        {"rising list", PartialList(150).pos}, {"dense", dense}, {"a bin apart", byBins},
        {"two bins apart", byTwo}, {"three bins apart", byThree}, {"six bins apart", bySix},
        {"nine bins apart", byNine},
        {"edges", {-(3 << 10), -(2 << 10) + 5, (-1 << 10) + 1000, 0, (129 << 10) + 700, (130 << 10) + 1023,
                   1 << 10, (131 << 10) + 3, 132 << 10, (7 << 10) + 512, (6 << 10) + 1, INT_MIN, INT_MAX}},
        {"falling", steps((120 << 10) + 333, -1500, 80)}};
    // clang-format on
    for (const Case& c : cases)
        for (int quality : {0, 1, 2})
        {
            const int count = int(c.pos.size());
            std::array<std::vector<float>, 4> parts;
            for (int h = 0; h < count; ++h)
            {
                const float x = float(h);
                const float a[4] = {std::sin(x * 0.9f), std::cos(x * 0.4f),
                                    h % 9 == 2 ? 0.0f : 0.5f - 0.01f * x, std::sin(x * 2.1f + 1.0f)};
                for (size_t k = 0; k < 4; ++k)
                    parts[k].push_back(a[k]);
            }
            const float* amps[4] = {parts[0].data(), parts[1].data(), parts[2].data(), parts[3].data()};
            AddSynth baseline, wide, gathered;
            baseline.addHarmonics(c.pos.data(), amps, count, quality, false);
            wide.addHarmonics(c.pos.data(), amps, count, quality, true);
            EXPECT_LT(largestDifference(wide.spectrum, baseline.spectrum), kRounding)
                << c.name << ", quality " << quality;
            EXPECT_TRUE(
                std::any_of(wide.spectrum.begin(), wide.spectrum.end(), [](float v) { return v != 0.0f; }))
                << c.name;
            // Gathered in two calls, each form's sum is the same too, also on the padding bins above.
            gathered.gatherHarmonics(c.pos.data(), amps, count / 2, quality, true);
            baseline.clearSpectrum();
            baseline.gatherHarmonics(c.pos.data(), amps, count / 2, quality, false);
            for (auto& a : amps)
                a += count / 2;
            gathered.gatherHarmonics(c.pos.data() + count / 2, amps, count - count / 2, quality, true);
            baseline.gatherHarmonics(c.pos.data() + count / 2, amps, count - count / 2, quality, false);
            EXPECT_LT(largestDifference(gathered.partialBins, baseline.partialBins), kRounding)
                << c.name << ", quality " << quality;
        }
}

// A steady partial, turned by each hop's advance as rendering does, comes out as a clean sine of
// its level, half of it on channel 1. Bin 1.25 with 8 taps reaches bins -2 and -1, which must fold
// onto bins 2 and 1. Once the partial stops, the fourth hop without partials counts as silence; the
// count stops once the rings are surely empty, and an onset burst is audible at once.
TEST(AddSynthPartial, SinglePartialIsACleanSineOfTheRightLevelThenSilence)
{
    for (int quality : {1, 2})
        for (int pos : {(1 << 10) + 256, 5 << 10, (10 << 10) + 307, (17 << 10) + 512, (40 << 10) + 8,
                        (63 << 10) + 1000, (100 << 10) + 77})
        {
            AddSynth synth;
            synth.reset(48000.0f);
            std::complex<double> amp = std::polar(0.4, 0.3);
            std::vector<float> left(128), right(128), y[2];
            float* outs[2] = {left.data(), right.data()};
            bool silent = true;
            for (int h = 0; h < 22; ++h, amp *= std::polar(1.0, M_PI * pos / 1024.0)) // 128 of 256 samples
            {
                if (h < 16)
                    add(synth, pos, quality, {float(amp.real()), float(amp.imag())},
                        {float(0.5 * amp.real()), float(0.5 * amp.imag())});
                synth.getRemSamples(outs, 0, 0, 2, &silent);
                ASSERT_TRUE(h >= 16 || !silent) << "partials are waiting at hop " << h;
                synth.resynthesizeHop(2);
                synth.advanceWritePos();
                ASSERT_EQ(synth.getRemSamples(outs, 0, 128, 2, &silent), 128);
                ASSERT_EQ(silent, h >= 16 + 3) << "hop " << h; // h = 19 is the fourth hop without partials
                for (int ch = 0; ch < 2 && h >= 2 && h < 16; ++ch)
                    y[ch].insert(y[ch].end(), outs[ch], outs[ch] + 128);
            }
            EXPECT_EQ(synth.silentHops, kRingLength / kSynthHop);
            synth.addToRingAtReadPos(0, left.data(), 10);
            EXPECT_EQ(synth.silentHops, 0);
            // A fit at the intended frequency leaves under -40 dB only if the tone is within a fraction of
            // a hertz of it.
            const double hz = pos / 1024.0 / 256.0 * 48000.0;
            for (int ch = 0; ch < 2; ++ch)
            {
                const qmtest::SineFit fit = qmtest::fitSine(y[ch], hz / 48000.0);
                EXPECT_TRUE(std::fabs(fit.amplitude * (1 + ch) - 0.4) < 0.012 && fit.errorDb < -40.0)
                    << "quality " << quality << " pos " << pos << " ch " << ch << ": " << fit.amplitude
                    << ", " << fit.errorDb << " dB";
            }
        }
}

// What is handed out is copied from readPos on, wrapping, and zeroed; with no channels the ring
// still advances. Onset bursts add from readPos on, wrapping, at most one ring length.
TEST(AddSynthRing, HandOutAndOnsetsWrapAroundTheRing)
{
    AddSynth synth;
    synth.reset(44100.0f);
    for (size_t i = 0; i < kRingLength; ++i)
        synth.rings[0][i] = float(i), synth.rings[1][i] = float(1000 + i);
    synth.readPos = 500, synth.writePos = 116;
    std::vector<float> a(300, -1.0f), b(300, -1.0f);
    float* out[2] = {a.data(), b.data()};
    EXPECT_EQ(synth.getRemSamples(out, 10, 200, 2, nullptr), 128);
    for (size_t i = 0, at = 500; i < 128; ++i, at = (at + 1) % kRingLength)
        ASSERT_TRUE(a[10 + i] == float(at) && b[10 + i] == float(1000 + at) && synth.rings[i % 2][at] == 0.0f)
            << i;
    EXPECT_TRUE(synth.readPos == 116 && a[9] == -1.0f && a[138] == -1.0f && synth.rings[0][116] == 116.0f);
    EXPECT_EQ(synth.getRemSamples(out, 0, 50, 2, nullptr), 0);
    synth.writePos = 180;
    EXPECT_EQ(synth.getRemSamples(nullptr, 0, 64, 0, nullptr), 64);
    EXPECT_TRUE(synth.rings[0][179] == 0.0f && synth.rings[0][180] == 180.0f);

    synth.reset(44100.0f);
    synth.readPos = 508;
    const std::vector<float> burst = {1, 2, 3, 4, 5, 6, 7, 8}, big(2000, 1.0f);
    for (int ch : {1, 1, 2, -1})
        synth.addToRingAtReadPos(ch, burst.data(), 8);
    for (size_t i = 0; i < 9; ++i)
        EXPECT_EQ(synth.rings[1][(508 + i) % kRingLength], i < 8 ? 2.0f * float(i + 1) : 0.0f) << i;
    synth.addToRingAtReadPos(0, big.data(), 2000);
    EXPECT_TRUE(synth.rings[0][0] == 1.0f && synth.rings[0][507] == 1.0f);
}

// A bank of sources stepped together gives exactly what single steps give, draws included: white,
// slow, fast, negative and NaN steps side by side, over enough calls to cross many targets, with an
// inactive source that neither moves nor draws. The sources sit in three groups of eight, with idle
// sources and a group end between them, so that groups without a draw are passed over. Slow steps crossfade smoothly (slope of the cubic
// <= 1.5) at unit power; full correlation without spread gives two equal outputs at any step.
TEST(BandLimNoiseCS, BankStepMatchesSingleStepsOfUnitPower)
{
    constexpr int kSources = 5;
    std::array<BandLimNoiseCS, kSources> single{};
    BandLimNoiseBank<24> bank;
    constexpr std::array<std::size_t, kSources> kAt = {0, 9, 12, 17, 21}; // source k is bank source kAt[k]
    std::array<CF, kSources> want1{}, want2{};
    std::array<std::array<float, 8>, 4> got{};
    const std::array<int32_t, 8> active = {1, 1, 0, 1, 1};
    std::array<int32_t, 24> bankActive{};
    std::array<float, 24> bankStep{};
    for (size_t k = 0; k < kSources; ++k)
        bankActive[kAt[k]] = active[k];
    double power = 0.0;
    // clang-format off
    struct Row { std::array<float, 8> step; float corr, spread; };
    const Row rows[] = {{{0.9f, 0.02f, 0.3f, 0.6f, -0.1f}, 0.6f, 0.8f},
        {{0.3f, std::nanf(""), 0.9f, 0.85f, 0.84f}, 0.6f, 0.8f}, {{0.95f, 0.3f, 0.5f, 0.05f, 0.02f}, 1.0f, 0.0f}};
    // clang-format on
    for (const auto& [step, corr, spread] : rows)
        for (uint32_t call = 0; call < 5000; ++call)
        {
            if (call == 0) single = {}, bank = {}; // fresh sources for each row
            setCanonRandSeed(4242u + call);
            for (size_t k = 0; k < kSources; ++k)
            {
                if (active[k] == 0) continue;
                const float before = want1[k].re;
                single[k].getUnitWithStep(step[k], corr, spread, want1[k], want2[k]);
                const bool slow = step[k] == 0.02f;
                ASSERT_TRUE(!slow || call == 0 || std::fabs(want1[k].re - before) < 0.15f) << call;
                power += slow ? double(want1[k].re) * want1[k].re + double(want1[k].im) * want1[k].im : 0.0;
                ASSERT_TRUE(corr < 1.0f || (want1[k].re == want2[k].re && want1[k].im == want2[k].im))
                    << call;
            }
            const uint32_t seedAfter = getCanonRandSeed();
            setCanonRandSeed(4242u + call);
            for (size_t k = 0; k < kSources; ++k)
                bankStep[kAt[k]] = step[k];
            bank.advance(bankStep.data(), bankActive.data(), 22, corr, spread);
            for (size_t k = 0; k < kSources; ++k)
            {
                const bool white = step[k] > bandlim::kWhiteStep;
                const auto value = [&](const auto& oldValue, const auto& newValue) {
                    return bandlim::crossfaded(white, bank.phase[kAt[k]], oldValue[kAt[k]], newValue[kAt[k]]);
                };
                got[0][k] = value(bank.old1Re, bank.new1Re), got[1][k] = value(bank.old1Im, bank.new1Im);
                got[2][k] = value(bank.old2Re, bank.new2Re), got[3][k] = value(bank.old2Im, bank.new2Im);
            }
            ASSERT_EQ(getCanonRandSeed(), seedAfter);
            for (size_t k = 0; k < kSources; ++k)
                ASSERT_TRUE(active[k] == 0 ? bank.phase[kAt[k]] == 0.0f && bank.new1Re[kAt[k]] == 0.0f
                                           : got[0][k] == want1[k].re && got[1][k] == want1[k].im &&
                                                 got[2][k] == want2[k].re && got[3][k] == want2[k].im &&
                                                 bank.phase[kAt[k]] == single[k].phase)
                    << "call " << call << " source " << k;
        }
    EXPECT_NEAR(power / 10000, 1.0, 0.3);
}
} // namespace
