#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <complex>
#include <vector>

#include "engine/modulation/CanonRandom.h"
#include "engine/synth/AddSynth.h"
#include "engine/synth/HarmKernels.h"
#include "support/SignalAnalysis.h"

namespace
{
constexpr double kPi = 3.14159265358979323846;

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
                 (std::polar(1.0, 2 * kPi * f * n / 256) * double(kASWinOLA[size_t(128 + n)]) +
                  std::polar(1.0, 2 * kPi * f * (n - 128) / 256) * double(kASWinOLA[size_t(n)]));
        }
        err += std::norm(g - 1.0);
    }
    return 10.0 * std::log10(err / 128.0);
}

TEST(HarmKernels, EveryRowReconstructsASteadyPartialThroughPowerComplementaryWindows)
{
    // The 4- and 8-tap kernels are what rendering uses; the 2-tap one is coarse (about -18 dB).
    for (size_t r = 0; r < 256; ++r)
        EXPECT_LT(olaErrorDb(kHarmBinWeights4[r].data(), 4, r / 256.0), -45.0) << "4-tap row " << r;
    for (size_t r = 0; r <= 64; ++r)
        EXPECT_LT(olaErrorDb(kHarmBinWeights8[r].data(), 8, r / 64.0), -45.0) << "8-tap row " << r;
    for (size_t r = 0; r < 64; ++r)
        EXPECT_LT(olaErrorDb(kHarmBinWeights2[r].data(), 2, r / 64.0), -15.0) << "2-tap row " << r;
    AddSynth synth;
    EXPECT_EQ(kASWinOLA[0], 0.0f);
    for (int i = 0; i < 128; ++i)
    {
        const double a = kASWinOLA[size_t(i)], b = kASWinOLA[size_t(i + 128)];
        EXPECT_NEAR(a * a + b * b, 1.0, 1e-6) << i;
        EXPECT_FLOAT_EQ(kASWinOLA[size_t(i + 1)], kASWinOLA[size_t(255 - i)]) << i;
        EXPECT_FLOAT_EQ(synth.synthWindow[size_t(i)], 0.5f * kASWinOLA[size_t(i)]);
        const double c = synth.onsetWindow[size_t(i % 32)], d = synth.onsetWindow[size_t(i % 32 + 32)];
        EXPECT_NEAR(c * c + d * d, 0.25, 1e-6) << "onset " << i;
    }
    // Rises like 0.00034 i^2 near its start.
    for (int i = 3; i <= 8; ++i)
        EXPECT_NEAR(kASWinOLA[size_t(i)] / double(i * i), 0.00034, 0.00002) << i;
}

class AddHarmonics : public ::testing::Test
{
  protected:
    void SetUp() override { synth.reset(44100.0f); }
    void add(int pos, CF a0, CF a1, int quality)
    {
        CF* amps[2] = {&a0, &a1};
        synth.addHarmonics(&pos, amps, 1, quality, 0);
    }
    bool spectrumIsZero() const
    {
        for (float v : synth.spectrum)
            if (v != 0.0f) return false;
        return true;
    }
    AddSynth synth;
};

// quality 0, 1, 2: 2-, 4- and 8-tap kernels (below 0 counts as 1, above 2 as 2). The 2- and 8-tap
// tables have 64 rows per bin, the 8-tap one interpolated; the 4-tap one 256 rows, not interpolated.
TEST_F(AddHarmonics, KernelRowsSpreadEachChannelsAmplitude)
{
    struct Case
    {
        int pos, quality, firstBin, taps;
        const float *rowA, *rowB;
    };
    const Case cases[] = {
        {10 << 10, 0, 10, 2, kHarmBinWeights2[0].data(), kHarmBinWeights2[0].data()},
        {(20 << 10) + 512, 0, 20, 2, kHarmBinWeights2[32].data(), kHarmBinWeights2[32].data()},
        {(30 << 10) + 8, 2, 27, 8, kHarmBinWeights8[0].data(), kHarmBinWeights8[1].data()},
        {(30 << 10) + 8, 7, 27, 8, kHarmBinWeights8[0].data(), kHarmBinWeights8[1].data()},
        {(40 << 10) + 4 * 37 + 3, 1, 39, 4, kHarmBinWeights4[37].data(), kHarmBinWeights4[37].data()},
        {(40 << 10) + 4 * 37 + 3, -5, 39, 4, kHarmBinWeights4[37].data(), kHarmBinWeights4[37].data()},
    };
    for (const Case& c : cases)
    {
        synth.clearSpectrum();
        add(c.pos, {1.0f, -2.0f}, {0.5f, 0.25f}, c.quality);
        EXPECT_EQ(synth.partialsAdded, 1);
        for (int b = c.firstBin - 1; b <= c.firstBin + c.taps; ++b)
        {
            const bool in = b >= c.firstBin && b < c.firstBin + c.taps;
            const float w = in ? 0.5f * (c.rowA[b - c.firstBin] + c.rowB[b - c.firstBin]) : 0.0f;
            EXPECT_FLOAT_EQ(synth.specRe[0][b], w) << "pos " << c.pos << " q " << c.quality << " bin " << b;
            EXPECT_FLOAT_EQ(synth.specIm[0][b], -2.0f * w) << "pos " << c.pos << " bin " << b;
            EXPECT_FLOAT_EQ(synth.specRe[1][b], 0.5f * w) << "pos " << c.pos << " bin " << b;
            EXPECT_FLOAT_EQ(synth.specIm[1][b], 0.25f * w) << "pos " << c.pos << " bin " << b;
        }
    }
}

TEST_F(AddHarmonics, PositionsAtTheEdgesStayInsideTheSpectrum)
{
    // Whole bins -1 and 129 are the extremes the 8-tap kernel can reach (bins -4 and 133).
    add(-1 << 10, {1.0f, 0.0f}, {1.0f, 0.0f}, 2);
    EXPECT_NE(synth.specRe[0][-4], 0.0f);
    synth.clearSpectrum();
    add(129 << 10, {1.0f, 0.0f}, {1.0f, 0.0f}, 2);
    EXPECT_NE(synth.specRe[1][133], 0.0f);
    synth.clearSpectrum();
    synth.addHarmonics(nullptr, nullptr, 0, 2, 0);
    for (int q = -1; q <= 5; ++q)
        for (int pos : {INT_MIN, -(5 << 10), 134 << 10, 1 << 20, INT_MAX})
            add(pos, {1.0f, 1.0f}, {1.0f, 1.0f}, q);
    EXPECT_TRUE(spectrumIsZero());
    // Just outside the 8-tap kernel's reach, still inside the 2-tap one's.
    for (int pos : {-(2 << 10), 130 << 10})
    {
        add(pos, {1.0f, 1.0f}, {1.0f, 1.0f}, 2);
        EXPECT_TRUE(spectrumIsZero()) << pos;
        add(pos, {1.0f, 1.0f}, {1.0f, 1.0f}, 0);
        EXPECT_FALSE(spectrumIsZero()) << pos;
        synth.clearSpectrum();
    }
}

// A steady partial at fixed-point position pos turned by each hop's advance as rendering does;
// returns channel ch (half the amplitude on channel 1) after the start-up.
std::vector<float> renderPartial(int pos, std::complex<double> amp, int quality, int hops, int ch)
{
    AddSynth synth;
    synth.reset(48000.0f);
    const std::complex<double> turn = std::polar(1.0, kPi * pos / 1024.0); // 128 of 256 samples
    std::vector<float> left(128), right(128), out;
    float* outs[2] = {left.data(), right.data()};
    for (int h = 0; h < hops; ++h, amp *= turn)
    {
        CF a0{float(amp.real()), float(amp.imag())}, a1{float(0.5 * amp.real()), float(0.5 * amp.imag())};
        CF* amps[2] = {&a0, &a1};
        synth.addHarmonics(&pos, amps, 1, quality, 0);
        synth.resynthesizeHop(2);
        synth.advanceWritePos();
        EXPECT_EQ(synth.getRemSamples(outs, 0, 128, 2, nullptr), 128);
        if (h >= 2) out.insert(out.end(), outs[ch], outs[ch] + 128);
    }
    return out;
}

TEST(AddSynthPartial, SinglePartialIsACleanSineOfTheRightLevel)
{
    // Bin 1.25 with 8 taps reaches bins -2 and -1, which must fold onto bins 2 and 1.
    for (int quality : {1, 2})
        for (int pos : {(1 << 10) + 256, 5 << 10, (10 << 10) + 307, (17 << 10) + 512, (40 << 10) + 8,
                        (63 << 10) + 1000, (100 << 10) + 77})
            for (int ch : {0, 1})
            {
                const qmtest::SineFit fit = qmtest::fitSine(
                    renderPartial(pos, std::polar(0.4, 0.3), quality, 16, ch), pos / 1024.0 / 256.0);
                EXPECT_NEAR(fit.amplitude, 0.4 / (1 + ch), 0.012 / (1 + ch))
                    << "q " << quality << " pos " << pos;
                EXPECT_LT(fit.errorDb, -40.0) << "quality " << quality << " pos " << pos << " ch " << ch;
            }
}

// What is handed out is copied from readPos on, wrapping, and zeroed; with no channels the ring
// still advances. Onset bursts add from readPos on, wrapping, at most one ring length.
TEST(AddSynthRing, HandOutAndOnsetsWrapAroundTheRing)
{
    AddSynth synth;
    synth.reset(44100.0f);
    for (int i = 0; i < kRingLength; ++i)
        synth.rings[0][size_t(i)] = float(i), synth.rings[1][size_t(i)] = float(1000 + i);
    synth.readPos = 500;
    synth.writePos = 116;
    std::vector<float> a(300, -1.0f), b(300, -1.0f);
    float* out[2] = {a.data(), b.data()};
    EXPECT_EQ(synth.getRemSamples(out, 10, 200, 2, nullptr), 128);
    EXPECT_EQ(synth.readPos, 116);
    for (int i = 0; i < 128; ++i)
    {
        EXPECT_EQ(a[size_t(10 + i)], float((500 + i) % kRingLength)) << i;
        EXPECT_EQ(b[size_t(10 + i)], float(1000 + (500 + i) % kRingLength)) << i;
        EXPECT_EQ(synth.rings[size_t(i % 2)][size_t((500 + i) % kRingLength)], 0.0f) << i;
    }
    EXPECT_EQ(a[9], -1.0f);
    EXPECT_EQ(a[138], -1.0f);
    EXPECT_EQ(synth.rings[0][116], 116.0f);
    EXPECT_EQ(synth.getRemSamples(out, 0, 50, 2, nullptr), 0);
    synth.writePos = 180;
    EXPECT_EQ(synth.getRemSamples(nullptr, 0, 64, 0, nullptr), 64);
    EXPECT_EQ(synth.rings[0][179], 0.0f);
    EXPECT_EQ(synth.rings[0][180], 180.0f);

    synth.reset(44100.0f);
    synth.readPos = 508;
    const std::vector<float> burst = {1, 2, 3, 4, 5, 6, 7, 8}, big(2000, 1.0f);
    for (int ch : {1, 1, 2, -1})
        synth.addToRingAtReadPos(ch, burst.data(), 8);
    const int want[] = {2, 4, 6, 8, 10, 12, 14, 16, 0};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(synth.rings[1][size_t((508 + i) % kRingLength)], float(want[i])) << i;
    EXPECT_EQ(synth.rings[0][508], 0.0f);
    synth.addToRingAtReadPos(0, big.data(), 2000);
    EXPECT_EQ(synth.rings[0][0], 1.0f);
}

TEST(AddSynthRing, SilenceFromTheFourthSilentHop)
{
    AddSynth synth;
    synth.reset(44100.0f);
    bool silent = false;
    std::vector<float> a(128), b(128);
    float* out[2] = {a.data(), b.data()};
    int pos = 20 << 10;
    CF amp{0.1f, 0.0f};
    CF* amps[2] = {&amp, &amp};
    synth.addHarmonics(&pos, amps, 1, 1, 0);
    synth.getRemSamples(out, 0, 0, 2, &silent);
    EXPECT_FALSE(silent) << "partials are waiting";
    for (int hop = 0; hop <= 5; ++hop)
    {
        synth.resynthesizeHop(2);
        synth.advanceWritePos();
        synth.getRemSamples(out, 0, 128, 2, &silent);
        EXPECT_EQ(silent, hop >= 4) << "silent hop " << hop;
    }
    // The count stops once the rings are surely empty; an onset burst is audible at once.
    EXPECT_EQ(synth.silentHops, kRingLength / kSynthHop);
    synth.addToRingAtReadPos(0, a.data(), 10);
    EXPECT_EQ(synth.silentHops, 0);
}

TEST(BandLimNoiseCS, UnitPowerSmoothStepsAndFullCorrelationGivesEqualOutputs)
{
    setCanonRandSeed(5u);
    BandLimNoiseCS noise;
    CF prev, b;
    noise.getUnitWithStep(0.02f, 0.0f, 1.0f, prev, b);
    double power = 0.0;
    for (int i = 0; i < 20000; ++i)
    {
        CF a;
        noise.getUnitWithStep(0.02f, 0.0f, 1.0f, a, b);
        // Per step the crossfade moves at most about 0.03 of the way (slope of the cubic <= 1.5).
        ASSERT_LT(std::fabs(a.re - prev.re), 0.15f);
        power += double(a.re) * a.re + double(a.im) * a.im;
        prev = a;
    }
    EXPECT_NEAR(power / 20000, 1.0, 0.3);
    noise = BandLimNoiseCS{};
    for (float step : {0.95f, 0.3f, 0.05f})
        for (int i = 0; i < 50; ++i)
        {
            noise.getUnitWithStep(step, 1.0f, 0.0f, prev, b);
            ASSERT_EQ(prev.re, b.re) << step;
            ASSERT_EQ(prev.im, b.im) << step;
        }
}

// Four sources stepped together give exactly what four single steps give, draws included: white,
// slow, fast, negative and NaN steps side by side, over enough calls to cross many targets.
TEST(BandLimNoiseCS, FourLaneStepMatchesSingleSteps)
{
    std::array<BandLimNoiseCS, 4> single{}, grouped{};
    const lanes::F4 steps[] = {{0.9f, 0.02f, 0.6f, -0.1f}, {0.3f, std::nanf(""), 0.85f, 0.84f}};
    for (const lanes::F4& step : steps)
        for (uint32_t call = 0; call < 200; ++call)
        {
            setCanonRandSeed(4242u + call);
            std::array<CF, 4> want1, want2;
            for (size_t k = 0; k < 4; ++k)
                single[k].getUnitWithStep(step[int(k)], 0.6f, 0.8f, want1[k], want2[k]);
            const uint32_t seedAfter = getCanonRandSeed();
            setCanonRandSeed(4242u + call);
            std::array<BandLimNoiseCS*, 4> sources = {&grouped[0], &grouped[1], &grouped[2], &grouped[3]};
            lanes::CF4 got1, got2;
            BandLimNoiseCS::getUnitWithStep4(sources.data(), step, 0.6f, 0.8f, got1, got2);
            ASSERT_EQ(getCanonRandSeed(), seedAfter);
            for (size_t k = 0; k < 4; ++k)
            {
                ASSERT_EQ(got1.re[int(k)], want1[k].re) << "call " << call << " lane " << k;
                ASSERT_EQ(got1.im[int(k)], want1[k].im) << "call " << call << " lane " << k;
                ASSERT_EQ(got2.re[int(k)], want2[k].re) << "call " << call << " lane " << k;
                ASSERT_EQ(got2.im[int(k)], want2[k].im) << "call " << call << " lane " << k;
                ASSERT_EQ(grouped[k].phase, single[k].phase) << "call " << call << " lane " << k;
            }
        }
}
} // namespace
