#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <complex>
#include <vector>

#include "engine/synth/AddSynth.h"
#include "engine/modulation/CanonRandom.h"
#include "engine/synth/HarmKernels.h"

namespace
{
constexpr double kPi = 3.14159265358979323846;

template <size_t Taps, size_t Rows>
void expectRow(const std::array<std::array<float, Taps>, Rows>& table, size_t row,
               const std::array<double, Taps>& want, double tol)
{
    for (size_t k = 0; k < Taps; ++k)
        EXPECT_NEAR(table[row][k], want[k], tol) << "row " << row << " tap " << k;
}

// ---- Kernel tables and windows ----

TEST(HarmKernels, TellingRowsToPrintedPrecision)
{
    expectRow(kHarmBinWeights2, 0, {0.8108684, 0.1891316}, 0.5e-7);
    expectRow(kHarmBinWeights2, 32, {0.5, 0.5}, 0.5e-7);
    expectRow(kHarmBinWeights4, 0, {0.13591, 0.67156, 0.22008, -0.03254}, 0.5e-5);
    expectRow(kHarmBinWeights4, 128, {0.00102, 0.50162, 0.50162, 0.00102}, 0.5e-5);
    expectRow(kHarmBinWeights8, 0, {0.01053, 0.0025, 0.13053, 0.71226, 0.13042, 0.00109, 0.01388, -0.00146},
              0.5e-5);
    expectRow(kHarmBinWeights8, 32,
              {0.00133, -0.02535, 0.02542, 0.49884, 0.49884, 0.02542, -0.02535, 0.00133}, 0.5e-5);
    expectRow(kHarmBinWeights8, 64, {-0.00146, 0.01388, 0.00109, 0.13042, 0.71226, 0.13053, 0.0025, 0.01053},
              0.5e-5);
}

template <size_t Taps, size_t Rows>
void expectSumsAndMirror(const std::array<std::array<float, Taps>, Rows>& table, size_t rowsPerBin, double lo,
                         double hi)
{
    for (size_t r = 0; r < Rows; ++r)
    {
        double sum = 0.0;
        for (float w : table[r])
            sum += w;
        EXPECT_GE(sum, lo) << "row " << r;
        EXPECT_LE(sum, hi) << "row " << r;
        const size_t m = rowsPerBin - r;
        if (r == 0 || m >= Rows) continue;
        for (size_t k = 0; k < Taps; ++k)
            EXPECT_NEAR(table[r][k], table[m][Taps - 1 - k], 1e-6) << "rows " << r << " and " << m;
    }
}

TEST(HarmKernels, RowSumsAndMirrorProperty)
{
    expectSumsAndMirror(kHarmBinWeights2, 64, 1.0 - 1e-6, 1.0 + 1e-6);
    // The anchor row 128 itself sums to 1.00528.
    expectSumsAndMirror(kHarmBinWeights4, 256, 0.994, 1.0065);
    expectSumsAndMirror(kHarmBinWeights8, 64, 0.9997, 1.0005);
    // Row 0 and row 64 of the 8-tap table are each other's mirror too.
    for (size_t k = 0; k < 8; ++k)
        EXPECT_FLOAT_EQ(kHarmBinWeights8[0][k], kHarmBinWeights8[64][7 - k]);
}

// Level (dB) of what two overlapping frames of a steady partial at phi bins past a whole bin add to
// the sine, for one kernel row: g(n) = h(n) w(n) + h(n - 128) w(n - 128) should be 1.
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

TEST(HarmKernels, EveryRowReconstructsASteadyPartial)
{
    // Includes the level error; the 4- and 8-tap kernels are what rendering uses.
    for (size_t r = 0; r < 256; ++r)
        EXPECT_LT(olaErrorDb(kHarmBinWeights4[r].data(), 4, r / 256.0), -45.0) << "4-tap row " << r;
    for (size_t r = 0; r <= 64; ++r)
        EXPECT_LT(olaErrorDb(kHarmBinWeights8[r].data(), 8, r / 64.0), -45.0) << "8-tap row " << r;
    // The 2-tap kernel is a coarse one (about -18 dB) that rendering never uses.
    for (size_t r = 0; r < 64; ++r)
        EXPECT_LT(olaErrorDb(kHarmBinWeights2[r].data(), 2, r / 64.0), -15.0) << "2-tap row " << r;
}

TEST(HarmKernels, WindowIsPowerComplementaryAndSymmetric)
{
    EXPECT_EQ(kASWinOLA[0], 0.0f);
    EXPECT_FLOAT_EQ(kASWinOLA[128], 1.0f);
    for (int i = 1; i < 256; ++i)
        EXPECT_FLOAT_EQ(kASWinOLA[size_t(i)], kASWinOLA[size_t(256 - i)]) << i;
    for (int i = 0; i < 128; ++i)
    {
        const double a = kASWinOLA[size_t(i)], b = kASWinOLA[size_t(i + 128)];
        EXPECT_NEAR(a * a + b * b, 1.0, 1e-6) << i;
    }
    // Rises like 0.00034 i^2 near its start.
    for (int i = 3; i <= 8; ++i)
        EXPECT_NEAR(kASWinOLA[size_t(i)] / double(i * i), 0.00034, 0.00002) << i;
}

TEST(AddSynth, OnsetWindowIsPowerComplementaryAtHop32)
{
    AddSynth synth;
    for (int i = 0; i < 32; ++i)
    {
        const double a = synth.onsetWindow[size_t(i)], b = synth.onsetWindow[size_t(i + 32)];
        EXPECT_NEAR(a * a + b * b, 0.25, 1e-6) << i;
    }
    for (int i = 0; i < 256; ++i)
        EXPECT_FLOAT_EQ(synth.synthWindow[size_t(i)], 0.5f * kASWinOLA[size_t(i)]);
}

// ---- addHarmonics ----

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

TEST_F(AddHarmonics, TwoTapKernelAtWholeAndHalfBin)
{
    add(10 << 10, {1.0f, -2.0f}, {0.5f, 0.0f}, 0);
    EXPECT_FLOAT_EQ(synth.specRe[0][10], 0.8108684f);
    EXPECT_FLOAT_EQ(synth.specRe[0][11], 0.1891316f);
    EXPECT_FLOAT_EQ(synth.specIm[0][10], -2.0f * 0.8108684f);
    EXPECT_FLOAT_EQ(synth.specIm[0][11], -2.0f * 0.1891316f);
    EXPECT_FLOAT_EQ(synth.specRe[1][10], 0.5f * 0.8108684f);
    EXPECT_FLOAT_EQ(synth.specRe[1][11], 0.5f * 0.1891316f);
    EXPECT_EQ(synth.specRe[0][9], 0.0f);
    EXPECT_EQ(synth.specRe[0][12], 0.0f);
    EXPECT_EQ(synth.partialsAdded, 1);

    synth.clearSpectrum();
    add((20 << 10) + 512, {1.0f, 0.0f}, {1.0f, 0.0f}, 0);
    EXPECT_FLOAT_EQ(synth.specRe[0][20], 0.5f);
    EXPECT_FLOAT_EQ(synth.specRe[0][21], 0.5f);
}

TEST_F(AddHarmonics, EightTapKernelInterpolatesBetweenRows)
{
    // frac 8 is half-way between rows 0 and 1 of the 64-row table.
    add((30 << 10) + 8, {1.0f, 0.0f}, {0.0f, 1.0f}, 2);
    for (int k = 0; k < 8; ++k)
    {
        const float want = 0.5f * (kHarmBinWeights8[0][size_t(k)] + kHarmBinWeights8[1][size_t(k)]);
        EXPECT_FLOAT_EQ(synth.specRe[0][27 + k], want) << k;
        EXPECT_FLOAT_EQ(synth.specIm[1][27 + k], want) << k;
    }
    EXPECT_EQ(synth.specRe[0][26], 0.0f);
    EXPECT_EQ(synth.specRe[0][35], 0.0f);
}

TEST_F(AddHarmonics, FourTapKernelUsesNearestRowAndNegativeQualityMeansFourTaps)
{
    const int pos = (40 << 10) + 4 * 37 + 3; // row 37 of 256 (4 fraction units per row)
    add(pos, {1.0f, 0.0f}, {1.0f, 0.0f}, -5);
    for (int k = 0; k < 4; ++k)
        EXPECT_FLOAT_EQ(synth.specRe[0][39 + k], kHarmBinWeights4[37][size_t(k)]) << k;
    synth.clearSpectrum();
    add(pos, {1.0f, 0.0f}, {1.0f, 0.0f}, 1);
    for (int k = 0; k < 4; ++k)
        EXPECT_FLOAT_EQ(synth.specRe[0][39 + k], kHarmBinWeights4[37][size_t(k)]) << k;
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
    for (int q = -1; q <= 5; ++q)
        for (int pos : {INT_MIN, -(5 << 10), 134 << 10, 1 << 20, INT_MAX})
        {
            add(pos, {1.0f, 1.0f}, {1.0f, 1.0f}, q);
            EXPECT_TRUE(spectrumIsZero()) << "quality " << q << " position " << pos;
        }
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

TEST_F(AddHarmonics, EmptyCallAddsNothing)
{
    synth.addHarmonics(nullptr, nullptr, 0, 2, 0);
    EXPECT_EQ(synth.partialsAdded, 0);
    EXPECT_TRUE(spectrumIsZero());
}

// ---- One partial through the whole hop cycle ----

struct SineFit
{
    double amplitude;
    double errorDb; // energy of what is not the sine, relative to the sine
};

// Least-squares fit of a cos + b sin at the known frequency, and the residual's level.
SineFit fitSine(const std::vector<float>& y, double cyclesPerSample)
{
    double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0;
    for (size_t t = 0; t < y.size(); ++t)
    {
        const double c = std::cos(2 * kPi * cyclesPerSample * double(t));
        const double s = std::sin(2 * kPi * cyclesPerSample * double(t));
        cc += c * c;
        ss += s * s;
        cs += c * s;
        yc += y[t] * c;
        ys += y[t] * s;
    }
    const double det = cc * ss - cs * cs;
    const double a = (yc * ss - ys * cs) / det;
    const double b = (ys * cc - yc * cs) / det;
    double err = 0, sig = 0;
    for (size_t t = 0; t < y.size(); ++t)
    {
        const double c = std::cos(2 * kPi * cyclesPerSample * double(t));
        const double s = std::sin(2 * kPi * cyclesPerSample * double(t));
        const double model = a * c + b * s;
        err += (y[t] - model) * (y[t] - model);
        sig += model * model;
    }
    return {std::hypot(a, b), 10.0 * std::log10(err / sig + 1e-30)};
}

// Renders a steady partial at fixed-point position pos with amplitude amp for `hops` hops, turning
// its phase by the hop's advance as rendering does, and returns channel `ch` after the start-up.
std::vector<float> renderPartial(int pos, std::complex<double> amp, int quality, int hops, int ch)
{
    AddSynth synth;
    synth.reset(48000.0f);
    const double binsPosition = pos / 1024.0;
    const std::complex<double> turn = std::polar(1.0, kPi * binsPosition); // 128 of 256 samples
    std::vector<float> left(128), right(128), out;
    float* outs[2] = {left.data(), right.data()};
    for (int h = 0; h < hops; ++h)
    {
        CF a0{float(amp.real()), float(amp.imag())};
        CF a1{float(0.5 * amp.real()), float(0.5 * amp.imag())};
        CF* amps[2] = {&a0, &a1};
        synth.addHarmonics(&pos, amps, 1, quality, 0);
        synth.resynthesizeHop(2);
        synth.advanceWritePos();
        const int n = synth.getRemSamples(outs, 0, 128, 2, nullptr);
        EXPECT_EQ(n, 128);
        if (h >= 2) out.insert(out.end(), outs[ch], outs[ch] + n);
        amp *= turn;
    }
    return out;
}

TEST(AddSynthPartial, SinglePartialIsACleanSineOfTheRightLevel)
{
    for (int quality : {1, 2})
        for (int pos : {(5 << 10), (10 << 10) + 307, (17 << 10) + 512, (40 << 10) + 8, (63 << 10) + 1000,
                        (100 << 10) + 77})
        {
            const std::vector<float> y = renderPartial(pos, std::polar(0.4, 0.3), quality, 24, 0);
            const SineFit fit = fitSine(y, pos / 1024.0 / 256.0);
            EXPECT_NEAR(fit.amplitude, 0.4, 0.4 * 0.03) << "quality " << quality << " pos " << pos;
            EXPECT_LT(fit.errorDb, -40.0) << "quality " << quality << " pos " << pos;
            // The second channel carries half the amplitude.
            const std::vector<float> y1 = renderPartial(pos, std::polar(0.4, 0.3), quality, 8, 1);
            EXPECT_NEAR(fitSine(y1, pos / 1024.0 / 256.0).amplitude, 0.2, 0.2 * 0.03);
        }
}

TEST(AddSynthPartial, LowPartialFoldsItsNegativeFrequencyTaps)
{
    // At bin 1.25 the 8-tap kernel reaches bins -2 and -1, which must fold onto bins 2 and 1.
    const int pos = (1 << 10) + 256;
    const std::vector<float> y = renderPartial(pos, std::polar(0.5, 1.0), 2, 24, 0);
    const SineFit fit = fitSine(y, pos / 1024.0 / 256.0);
    EXPECT_NEAR(fit.amplitude, 0.5, 0.5 * 0.03);
    EXPECT_LT(fit.errorDb, -40.0);
}

// ---- Ring hand-out and silence ----

TEST(AddSynthRing, GetRemSamplesWrapsInTwoChunks)
{
    AddSynth synth;
    synth.reset(44100.0f);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < kRingLength; ++i)
            synth.rings[size_t(ch)][size_t(i)] = float(i + 1000 * ch);
    synth.readPos = 500;
    synth.writePos = 116;
    std::vector<float> a(300, -1.0f), b(300, -1.0f);
    float* out[2] = {a.data(), b.data()};
    EXPECT_EQ(synth.getRemSamples(out, 10, 200, 2, nullptr), 128);
    EXPECT_EQ(synth.readPos, 116);
    EXPECT_EQ(a[9], -1.0f);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(a[size_t(10 + i)], float(500 + i));
    for (int i = 0; i < 116; ++i)
    {
        EXPECT_EQ(a[size_t(22 + i)], float(i));
        EXPECT_EQ(b[size_t(22 + i)], float(1000 + i));
    }
    EXPECT_EQ(a[138], -1.0f);
    // What was handed out is zeroed, the rest stays.
    EXPECT_EQ(synth.rings[0][500], 0.0f);
    EXPECT_EQ(synth.rings[0][115], 0.0f);
    EXPECT_EQ(synth.rings[1][0], 0.0f);
    EXPECT_EQ(synth.rings[0][116], 116.0f);
    EXPECT_EQ(synth.getRemSamples(out, 0, 50, 2, nullptr), 0);
}

TEST(AddSynthRing, NoChannelsStillAdvancesAndClears)
{
    AddSynth synth;
    synth.reset(44100.0f);
    synth.rings[0][3] = 1.0f;
    synth.writePos = 128;
    EXPECT_EQ(synth.getRemSamples(nullptr, 0, 64, 0, nullptr), 64);
    EXPECT_EQ(synth.readPos, 64);
    EXPECT_EQ(synth.rings[0][3], 0.0f);
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
    synth.resynthesizeHop(2);
    synth.advanceWritePos();
    synth.getRemSamples(out, 0, 128, 2, &silent);
    EXPECT_FALSE(silent);
    for (int hop = 1; hop <= 5; ++hop)
    {
        synth.resynthesizeHop(2);
        synth.advanceWritePos();
        synth.getRemSamples(out, 0, 128, 2, &silent);
        EXPECT_EQ(silent, hop >= 4) << "silent hop " << hop;
    }
    // The count stops growing once the rings are surely empty.
    EXPECT_EQ(synth.silentHops, kRingLength / kSynthHop);
    // The onset burst makes the output audible again at once.
    std::vector<float> burst(10, 0.25f);
    synth.addToRingAtReadPos(0, burst.data(), 10);
    EXPECT_EQ(synth.silentHops, 0);
}

TEST(AddSynthRing, OnsetIsAddedFromReadPosAndWraps)
{
    AddSynth synth;
    synth.reset(44100.0f);
    synth.readPos = 508;
    std::vector<float> burst(8);
    for (int i = 0; i < 8; ++i)
        burst[size_t(i)] = float(i + 1);
    synth.addToRingAtReadPos(1, burst.data(), 8);
    synth.addToRingAtReadPos(1, burst.data(), 8);
    EXPECT_EQ(synth.rings[1][508], 2.0f);
    EXPECT_EQ(synth.rings[1][511], 8.0f);
    EXPECT_EQ(synth.rings[1][0], 10.0f);
    EXPECT_EQ(synth.rings[1][3], 16.0f);
    EXPECT_EQ(synth.rings[1][4], 0.0f);
    EXPECT_EQ(synth.rings[0][508], 0.0f);
    // Out-of-range requests are ignored or cut to one ring length.
    synth.addToRingAtReadPos(2, burst.data(), 8);
    synth.addToRingAtReadPos(-1, burst.data(), 8);
    std::vector<float> big(2000, 1.0f);
    synth.addToRingAtReadPos(0, big.data(), 2000);
    EXPECT_EQ(synth.rings[0][0], 1.0f);
}

TEST(AddSynthRing, ResetEmptiesEverything)
{
    AddSynth synth;
    synth.reset(48000.0f);
    EXPECT_FLOAT_EQ(synth.binsPerHz, 262144.0f / 48000.0f);
    synth.rings[1][7] = 3.0f;
    synth.spectrum[100] = 1.0f;
    synth.partialsAdded = 1;
    synth.writePos = 256;
    synth.readPos = 200;
    synth.reset(44100.0f);
    EXPECT_EQ(synth.rings[1][7], 0.0f);
    EXPECT_EQ(synth.spectrum[100], 0.0f);
    EXPECT_EQ(synth.partialsAdded, 0);
    EXPECT_EQ(synth.writePos, 0);
    EXPECT_EQ(synth.readPos, 0);
    EXPECT_EQ(synth.sampleRate, 44100.0f);
}

// ---- Band-limited noise ----

TEST(BandLimNoiseCS, WhiteStepDrawsFourFreshValuesPerCall)
{
    setCanonRandSeed(777u);
    BandLimNoiseCS noise;
    CF a, b;
    noise.getUnitWithStep(0.9f, 0.3f, 0.5f, a, b);
    setCanonRandSeed(777u);
    const float r1 = getCanonRandFloat(), r2 = getCanonRandFloat(), r3 = getCanonRandFloat(),
                r4 = getCanonRandFloat();
    EXPECT_FLOAT_EQ(a.re, 0.707f * r1);
    EXPECT_FLOAT_EQ(a.im, 0.707f * r2);
    EXPECT_FLOAT_EQ(b.re, 0.707f * 0.5f * r3 + 0.3f * a.re);
    EXPECT_FLOAT_EQ(b.im, 0.707f * 0.5f * r4 + 0.3f * a.im);
    CF c, d;
    noise.getUnitWithStep(0.9f, 0.3f, 0.5f, c, d);
    EXPECT_NE(c.re, a.re);
    EXPECT_EQ(noise.phase, 0.0f);
}

TEST(BandLimNoiseCS, FullCorrelationWithoutSpreadGivesEqualOutputs)
{
    setCanonRandSeed(99u);
    BandLimNoiseCS noise;
    for (float step : {0.95f, 0.3f, 0.05f})
        for (int i = 0; i < 50; ++i)
        {
            CF a, b;
            noise.getUnitWithStep(step, 1.0f, 0.0f, a, b);
            EXPECT_FLOAT_EQ(a.re, b.re);
            EXPECT_FLOAT_EQ(a.im, b.im);
        }
}

TEST(BandLimNoiseCS, SmallStepsMoveSmoothlyAndKeepUnitPower)
{
    setCanonRandSeed(5u);
    BandLimNoiseCS noise;
    CF prev, b;
    noise.getUnitWithStep(0.02f, 0.0f, 1.0f, prev, b);
    double power = 0.0;
    const int n = 20000;
    for (int i = 0; i < n; ++i)
    {
        CF a;
        noise.getUnitWithStep(0.02f, 0.0f, 1.0f, a, b);
        // Per step the crossfade moves at most about 0.03 of the way (slope of the cubic <= 1.5).
        EXPECT_LT(std::fabs(a.re - prev.re), 0.15f);
        power += double(a.re) * a.re + double(a.im) * a.im;
        prev = a;
    }
    EXPECT_NEAR(power / n, 1.0, 0.3);
}

// Four sources stepped together give exactly what four single steps give, draws included: white,
// slow, fast, negative and NaN steps side by side, over enough calls to cross many targets.
TEST(BandLimNoiseCS, FourLaneStepMatchesSingleSteps)
{
    std::array<BandLimNoiseCS, 4> single{};
    std::array<BandLimNoiseCS, 4> grouped{};
    const lanes::F4 steps[] = {{0.9f, 0.02f, 0.6f, -0.1f}, {0.3f, std::nanf(""), 0.85f, 0.84f}};
    for (const lanes::F4& step : steps)
    {
        for (int call = 0; call < 200; ++call)
        {
            setCanonRandSeed(4242u + static_cast<uint32_t>(call));
            std::array<CF, 4> want1, want2;
            for (int k = 0; k < 4; ++k)
                single[static_cast<size_t>(k)].getUnitWithStep(step[k], 0.6f, 0.8f, want1[static_cast<size_t>(k)],
                                                               want2[static_cast<size_t>(k)]);
            const uint32_t seedAfter = getCanonRandSeed();
            setCanonRandSeed(4242u + static_cast<uint32_t>(call));
            std::array<BandLimNoiseCS*, 4> sources = {&grouped[0], &grouped[1], &grouped[2], &grouped[3]};
            lanes::CF4 got1, got2;
            BandLimNoiseCS::getUnitWithStep4(sources.data(), step, 0.6f, 0.8f, got1, got2);
            ASSERT_EQ(getCanonRandSeed(), seedAfter);
            for (int k = 0; k < 4; ++k)
            {
                ASSERT_EQ(got1.re[k], want1[static_cast<size_t>(k)].re) << "call " << call << " lane " << k;
                ASSERT_EQ(got1.im[k], want1[static_cast<size_t>(k)].im);
                ASSERT_EQ(got2.re[k], want2[static_cast<size_t>(k)].re);
                ASSERT_EQ(got2.im[k], want2[static_cast<size_t>(k)].im);
                ASSERT_EQ(grouped[static_cast<size_t>(k)].phase, single[static_cast<size_t>(k)].phase);
            }
        }
    }
}
} // namespace
