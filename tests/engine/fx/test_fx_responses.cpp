// One closed-form check per effect unit: its response against the maths it implements.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/fx/Compressor.h"
#include "engine/fx/Distortion.h"
#include "engine/fx/Equalizer.h"
#include "engine/fx/FxBinaural.h"
#include "engine/fx/LofiFx.h"
#include "engine/fx/Phlaser.h"
#include "engine/fx/ReverbFDN.h"
#include "support/FxTestHelpers.h"

namespace
{

using qmtest::Block;
using qmtest::FxRig;
using qmtest::noise;
using qmtest::zeros;

constexpr double kPi = 3.141592653589793;

// A unit impulse on the left channel and half of one, inverted, on the right.
Block impulses(int n)
{
    Block x = zeros(2, n);
    x[0][0] = 1.0f;
    x[1][0] = -0.5f;
    return x;
}

} // namespace

TEST(FxResponse, CompressorFollowsItsSoftKneeCurveWithMakeUp)
{
    // Ratio 2.8, Threshold -20 dB (the knee sits 2 dB lower); level D = 20 log10 a + 10 dB. The gain
    // is the soft-knee curve at D less its value at -8 dB, the level that passes at unity.
    auto curveDb = [](double D)
    {
        const double k = D + 22.0;
        return k > 0.0 ? -(1.0 - 1.0 / 2.8) * (k + 4.0 / (k + 2.0) - 2.0) : 0.0;
    };
    for (double levelDb : {-32.0, -21.0, -18.0, -12.0, -8.0, 0.0})
    {
        FxRig<Compressor> rig(44100.0f, 1);
        const double a = std::pow(10.0, (levelDb - 10.0) / 20.0);
        Block x;
        for (int call = 0; call < 689; ++call) // one second
        {
            x = Block{std::vector<float>(64, static_cast<float>(a))};
            rig.run(x);
        }
        const double gain = std::pow(10.0, (curveDb(levelDb) - curveDb(-8.0)) / 20.0);
        EXPECT_NEAR(x[0].back() / a, gain, gain * 1e-3) << levelDb;
    }
}

TEST(FxResponse, DistortionBandGainAndShaperLimit)
{
    // Narrowest band: the band-pass gains Q + 1 = 11 at its centre (3 kHz) and a small signal meets
    // the shaper's unit slope. A huge one saturates at 1 / A = (0.7 / 0.01 + 0.18) / 2 = 35.09.
    FxRig<Distortion> rig; // set up again for every row: the band must follow the rate
    rig.set(Distortion::kWetMix, 100.0f);
    rig.set(Distortion::kDrive, 0.0f);
    rig.set(Distortion::kBias, 0.0f);
    rig.set(Distortion::kFoldover, 0.0f);
    using Row = std::tuple<float, float, double, double>; // rate, Bandwidth, amplitude, peak
    for (auto [rate, width, amp, peak] : {Row{44100.0f, 0.0f, 1e-4, 11e-4}, Row{96000.0f, 0.0f, 1e-4, 11e-4},
                                          Row{16000.0f, 0.0f, 1e-4, 11e-4}, Row{44100.0f, 50.0f, 1e6, 35.09}})
    {
        rig.unit.setup(rate, 2);
        rig.set(Distortion::kBandwidth, width);
        Block x = zeros(2, static_cast<int>(rate / 5.0f));
        for (std::size_t i = 0; i < x[0].size(); ++i)
            x[0][i] = x[1][i] = static_cast<float>(amp * std::sin(2.0 * kPi * 3000.0 / rate * i));
        rig.run(x);
        const auto top = std::max_element(x[0].begin() + x[0].size() / 2, x[0].end(),
                                          [](float a, float b) { return std::fabs(a) < std::fabs(b); });
        EXPECT_NEAR(std::fabs(*top) / peak, 1.0, 3e-3) << rate;
        EXPECT_EQ(x[0], x[1]);
    }
}

TEST(FxResponse, EqualizerShelvesMatchTheAnalogPrototypeAtEveryRate)
{
    // Cookbook shelves: the analog prototype at the frequency the bilinear transform maps onto f;
    // slope 1 stands for Q = 1/sqrt 2. Half the gain at the corner, all of it far beyond.
    auto analogDb = [](bool high, double gainDb, double corner, double f, double rate)
    {
        const double A = std::pow(10.0, gainDb / 40.0);
        const std::complex<double> s(0.0, std::tan(kPi * f / rate) / std::tan(kPi * corner / rate));
        const std::complex<double> mid = std::sqrt(A) / 0.7071 * s;
        return 20.0 * std::log10(std::abs(high ? A * (A * s * s + mid + 1.0) / (s * s + mid + A)
                                               : A * (s * s + mid + A) / (A * s * s + mid + 1.0)));
    };
    for (bool high : {false, true})
        for (float gain : {12.0f, -12.0f})
        {
            FxRig<Equalizer> rig; // set up again at each rate: the coefficients must follow it
            rig.set(high ? Equalizer::kHighGain : Equalizer::kLowGain, gain);
            const double corner = high ? 5000.0 : 200.0;
            for (float rate : {44100.0f, 48000.0f, 96000.0f})
            {
                rig.unit.setup(rate, 2);
                Block settle = zeros(2, 16 * 600);
                rig.run(settle);
                Block h = impulses(1 << 14);
                rig.run(h);
                for (std::size_t i = 0; i < h[0].size(); ++i)
                    ASSERT_FLOAT_EQ(h[1][i], -0.5f * h[0][i]) << i;
                for (double f : {20.0, corner, 18000.0})
                {
                    std::complex<double> sum = 0.0;
                    for (std::size_t n = 0; n < h[0].size(); ++n)
                        sum += static_cast<double>(h[0][n]) * std::polar(1.0, -2.0 * kPi * f / rate * n);
                    EXPECT_NEAR(20.0 * std::log10(std::abs(sum)), analogDb(high, gain, corner, f, rate), 0.01)
                        << high << " " << gain << " " << rate << " " << f;
                }
            }
        }
}

TEST(FxResponse, LofiTakesTwoSamplesPerCycleOfItsSampleRate)
{
    // Full wet, no noise or envelope: the output holds input samples, taken 2 x Sample Rate times a
    // second, or every sample once that reaches 0.9 of the host rate (21 kHz at 44.1 kHz: 0.95).
    using Row = std::tuple<float, float, int>; // rate, Sample Rate, takes
    for (auto [rate, setting, expected] :
         {Row{44100.0f, 4.0f, 8000}, Row{48000.0f, 4.0f, 8000}, Row{96000.0f, 4.0f, 8000},
          Row{44100.0f, 0.5f, 1000}, Row{44100.0f, 21.0f, 44100}})
    {
        FxRig<LofiFx> rig(rate);
        rig.set(LofiFx::kWetMix, 100.0f);
        rig.set(LofiFx::kNoise, 0.0f);
        rig.set(LofiFx::kEnvelope, 0.0f);
        rig.set(LofiFx::kSampleRate, setting);
        const int n = static_cast<int>(rate) / 100;
        int takes = 0;
        float last = 0.0f;
        for (int start = 0; start < 100 * n; start += n)
        {
            Block x = zeros(2, n); // a rising ramp: every take shows as a change
            for (int i = 0; i < n; ++i)
                x[0][static_cast<std::size_t>(i)] = static_cast<float>(start + i + 1) * 1e-6f;
            const Block in = x;
            rig.run(x);
            for (std::size_t i = 0; i < x[0].size(); ++i)
            {
                ASSERT_LE(x[0][i], in[0][i]);
                takes += x[0][i] != last;
                last = x[0][i];
            }
        }
        EXPECT_NEAR(takes, expected, 1) << rate << " " << setting;
    }
}

TEST(FxResponse, PhlaserIsADelayThenAllPassChain)
{
    // Constant delay, full wet, no feedback: the wet path is a fractional delay of one period of
    // Frequency (Catmull-Rom between four taps) scaled by 1 - u, then `stages` all-passes with
    // coefficient 2 / (d u / stages + 1) - 1, held within -0.997 .. 0.99; u = (Flange/Phase + 100) / 200.
    // Pure phase (u = 1) keeps a delay of one sample.
    using Row = std::tuple<float, float, float, int>; // rate, Flange/Phase, Frequency, Phase Stages
    for (auto [rate, flangePhase, freqKHz, stages] :
         {Row{44100.0f, 100.0f, 2.0f, 1}, Row{44100.0f, 100.0f, 2.0f, 4}, Row{44100.0f, 100.0f, 2.0f, 16},
          Row{48000.0f, -100.0f, 2.0f, 1}, Row{48000.0f, -100.0f, 2.0f, 3}, Row{44100.0f, -100.0f, 1.8f, 1},
          Row{44100.0f, 0.0f, 8.82f, 2}})
    {
        SCOPED_TRACE(freqKHz);
        FxRig<Phlaser> rig(rate);
        rig.set(Phlaser::kWetMix, 100.0f);
        rig.set(Phlaser::kFlangePhase, flangePhase);
        rig.set(Phlaser::kFrequency, freqKHz);
        rig.set(Phlaser::kModAmp, 0.0f);
        rig.set(Phlaser::kFeedback, 0.0f);
        rig.set(Phlaser::kPhaseStages, static_cast<float>(stages));
        Block settle = zeros(2, 16384); // the wet level and the coefficient glide there
        rig.run(settle);

        const double u = (flangePhase + 100.0) / 200.0;
        const double d = rate / (1000.0 * freqKHz);
        const double k = std::clamp(2.0 / (d * u / stages + 1.0) - 1.0, -0.997, 0.99);
        const double fl = (1.0 - u) * d;
        constexpr int n = 4096;
        std::vector<double> ref(n, 0.0);
        if (fl < 1.0)
            ref[1] = 1.0;
        else
        {
            const int whole = static_cast<int>(fl);
            const double t = fl - whole;
            const double w[4] = {0.5 * (-t * t * t + 2 * t * t - t), 0.5 * (3 * t * t * t - 5 * t * t + 2),
                                 0.5 * (-3 * t * t * t + 4 * t * t + t), 0.5 * (t * t * t - t * t)};
            for (int j = 0; j < 4; ++j)
                ref[static_cast<std::size_t>(whole + j - 1)] = w[j];
        }
        for (int st = 0; st < stages; ++st) // all-passes (k + z^-1) / (1 + k z^-1)
        {
            double h = 0.0;
            for (double& s : ref)
                std::tie(s, h) = std::pair{k * (s - k * h) + h, s - k * h};
        }
        Block x = impulses(n);
        rig.run(x);
        for (std::size_t i = 0; i < n; ++i)
        {
            ASSERT_NEAR(x[0][i], ref[i], 1e-5) << i;
            ASSERT_NEAR(x[1][i], -0.5 * ref[i], 1e-5) << i;
        }
    }
}

TEST(FxResponse, ReverbDecaysAt34Point7DecibelsPerDecayTime)
{
    // Without damping a pass through a line of the mean length loses exp(-4 mean / T): 4 nepers
    // (34.7 dB) per Decay Time T. Fitted to the energy envelope of the tail; one unit set up again
    // at every rate.
    engineSrand(21);
    FxRig<ReverbFDN> rig;
    rig.set(ReverbFDN::kWetMix, 100.0f);
    rig.set(ReverbFDN::kDamping, 0.0f);
    rig.set(ReverbFDN::kModulation, 0.0f);
    rig.set(ReverbFDN::kPreDelay, 0.0f);
    for (auto [rate, decay] :
         {std::pair{44100.0f, 0.5f}, std::pair{96000.0f, 1.0f}, std::pair{32000.0f, 2.0f}})
    {
        rig.unit.setup(rate, 2);
        rig.set(ReverbFDN::kDecayTime, decay);
        Block burst = noise(2, static_cast<int>(rate / 10));
        rig.run(burst);
        // Skip the build-up, then fit a line to 10 log10(window energy) over 1.5 Decay Times.
        const int window = 2048, skip = static_cast<int>(0.15f * rate);
        const int windows = static_cast<int>(1.5f * decay * rate) / window;
        Block tail = zeros(2, skip + windows * window);
        rig.run(tail);
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (int w = 0; w < windows; ++w)
        {
            double e = 0.0;
            for (int i = skip + w * window; i < skip + (w + 1) * window; ++i)
                for (const auto& c : tail)
                    e += static_cast<double>(c[static_cast<std::size_t>(i)]) * c[static_cast<std::size_t>(i)];
            const double t = (w + 0.5) * window / rate, db = 10.0 * std::log10(e);
            sx += t;
            sy += db;
            sxx += t * t;
            sxy += t * db;
        }
        const double slope = (windows * sxy - sx * sy) / (windows * sxx - sx * sx); // dB per second
        EXPECT_NEAR(slope / (-20.0 * 4.0 / std::log(10.0) / decay), 1.0, 0.06) << rate << " " << slope;
    }
}

// The widener's output energy, whose level tells the chain when its tail has died away, against
// the plain follower: each sub-block (32 samples, or fewer at the end of a call or of the lines)
// sums the direct part's squares sample by sample across the channels, and the follower takes
// its mean. Rows: channel counts; the calls' lengths cycle through short, odd and long blocks so
// that sub-blocks are cut by calls and by the lines' end, and one loud block runs into the cap.
TEST(FxResponse, BinauralEnergyFollowsEverySubBlockInTurn)
{
    const int lengths[] = {1, 5, 32, 96, 100, 128, 200, 512, 1000, 31, 64, 257};
    for (int channels : {1, 2})
    {
        const float rate = 44100.0f;
        engineSrand(3);
        FxRig<FxBinaural> rig(rate, channels);
        rig.set(FxBinaural::kHyperWidth, 100.0f);
        const float w = 0.5f;
        const float direct = std::sqrt(1.0f - w * w);
        const int lineLength = FxBinaural::lineLengthFor(rate);
        float want = 0.0f;
        int writePos = 0;
        int total = 0;
        for (int call = 0; total < 3 * lineLength; ++call)
        {
            const int n = lengths[call % 12];
            Block x = noise(channels, n, call == 20 ? 3.0e4f : 0.5f);
            const Block in = x;
            for (int pos = 0; pos < n;)
            {
                const int count = std::min({n - pos, FxBinaural::kSubBlock, lineLength - writePos});
                float e = 0.0f;
                for (int j = 0; j < count; ++j)
                    for (int c = 0; c < channels; ++c)
                    {
                        const float y = in[static_cast<std::size_t>(c)][static_cast<std::size_t>(pos + j)] * direct;
                        e += y * y;
                    }
                want = (e / static_cast<float>(count * channels)) * 0.1f + want * (1.0f - 0.1f);
                if (!(want < 1.0e6f)) want = 1.0e6f;
                writePos = writePos + count == lineLength ? 0 : writePos + count;
                pos += count;
            }
            rig.run(x);
            ASSERT_EQ(rig.unit.getOutEnergy(), want) << channels << " channels, call " << call;
            total += n;
        }
    }
}

TEST(FxResponse, BinauralTapsAddLeftAndSubtractRight)
{
    // Hyper Width 100 %: the direct sound at sqrt(1 - 0.5^2), then taps at 54.8 and 76.3 ms read
    // the left input, 64.7 and 90.1 ms the right; each adds to the left and subtracts from the right.
    // Their gains sit a quarter of the sweep apart, so their squares add up to 2 x 0.5^2.
    const double tapMs[4] = {54.8, 64.7, 76.3, 90.1};
    for (float rate : {44100.0f, 48000.0f})
    {
        double sumSquares = 0.0;
        for (int source = 0; source < 2; ++source)
        {
            engineSrand(99); // the same sweep for both sources
            FxRig<FxBinaural> rig(rate);
            rig.set(FxBinaural::kHyperWidth, 100.0f);
            Block x = zeros(2, 4500);
            x[static_cast<std::size_t>(source)][0] = 1.0f;
            rig.run(x);
            EXPECT_FLOAT_EQ(x[static_cast<std::size_t>(source)][0], std::sqrt(0.75f));
            EXPECT_EQ(x[static_cast<std::size_t>(1 - source)][0], 0.0f);
            std::vector<float> expectZero = x[0];
            for (int k = source; k < 4; k += 2)
            {
                const auto d = static_cast<std::size_t>(std::lround(tapMs[k] * rate / 1000.0));
                EXPECT_LE(std::fabs(x[0][d]), 0.5f);
                sumSquares += static_cast<double>(x[0][d]) * x[0][d];
                expectZero[d] = 0.0f;
            }
            for (std::size_t i = 1; i < x[0].size(); ++i)
            {
                ASSERT_EQ(x[0][i], -x[1][i]) << i;
                ASSERT_EQ(expectZero[i], 0.0f) << rate << " " << source << " " << i;
            }
        }
        EXPECT_NEAR(sumSquares, 0.5, 0.08) << rate;
    }
}
