// Block rendering: notes in, audio out, through the whole engine.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <vector>

#include "engine/modulation/CanonRandom.h"
#include "engine/params/ParamTable.h"
#include "engine/Random.h"
#include "support/EngineTestHelpers.h"

using qmtest::EngineRig;

namespace
{

constexpr float kRate = 44100.0f;
constexpr int kHop = 128;

void resetSeeds()
{
    engineSrand(12345u);
    setCanonRandSeed(kCanonRandInitialSeed);
}

// Magnitude of the Hann-windowed signal at frequency hz (naive DFT at one frequency).
double magnitudeAt(const std::vector<float>& x, std::size_t start, std::size_t n, double hz, double rate)
{
    std::complex<double> acc = 0.0;
    const double pi = 3.14159265358979323846;
    for (std::size_t i = 0; i < n; ++i)
    {
        const double w = 0.5 - 0.5 * std::cos(2.0 * pi * static_cast<double>(i) / static_cast<double>(n));
        const double ph = -2.0 * pi * hz * static_cast<double>(i) / rate;
        acc += static_cast<double>(x[start + i]) * w * std::complex<double>(std::cos(ph), std::sin(ph));
    }
    return std::abs(acc);
}

double energy(const std::vector<float>& x, std::size_t start, std::size_t n)
{
    double e = 0.0;
    for (std::size_t i = start; i < start + n && i < x.size(); ++i)
        e += static_cast<double>(x[i]) * x[i];
    return e;
}

// An engine with one sound that only has its fundamental, all effects off, one note playing.
struct FundamentalRig
{
    explicit FundamentalRig(float gainDb = 0.0f) : rig({qmtest::fundamentalOnlySound()}, kRate)
    {
        rig.setAllEffects(false);
        rig.dsp().params[kParamGain].value = gainDb;
        rig.pushExploreCanvas({0}, {1.0f});
    }
    EngineRig rig;
    std::vector<float> left;
    std::vector<float> right;
};

// Hops a release of `seconds` takes under the release rule, accumulated in float as rendering does.
int releaseHops(float seconds)
{
    const float hopSeconds = static_cast<float>(kHop) / kRate;
    float progress = 0.0f;
    int hops = 0;
    while (progress < 1.0f)
    {
        progress += hopSeconds / seconds;
        ++hops;
    }
    return hops;
}

} // namespace

TEST(BlockRendering, ZeroSoundsRenderSilence)
{
    resetSeeds();
    EngineRig rig({}, kRate);
    ASSERT_EQ(rig.dsp().numSounds(), 0);
    qmtest::noteOn(rig.dsp(), 60, 100);
    std::vector<float> l, r;
    rig.render(8192, 512, l, r);
    EXPECT_EQ(qmtest::peakOf(l), 0.0f);
    EXPECT_EQ(qmtest::peakOf(r), 0.0f);
}

TEST(BlockRendering, ZeroLengthCallLeavesTheQueuesAlone)
{
    resetSeeds();
    EngineRig rig({qmtest::fundamentalOnlySound()}, kRate);
    rig.pushExploreCanvas({0}, {1.0f});
    float l = 0.0f, r = 0.0f;
    float* out[2] = {&l, &r};
    rig.dsp().process(out, 0, 2);
    EXPECT_EQ(rig.dsp().canvas.nodeCount, 0);
    rig.dsp().process(out, 1, 2);
    EXPECT_EQ(rig.dsp().canvas.nodeCount, 1);
}

TEST(BlockRendering, ShortCallOnlyEmitsPendingSamples)
{
    resetSeeds();
    FundamentalRig f;
    qmtest::noteOn(f.rig.dsp(), 69, 127);
    f.rig.render(kHop / 2, kHop / 2, f.left, f.right); // renders one hop, hands out half of it
    const int writePos = f.rig.dsp().addSynth->writePos;
    f.rig.render(kHop / 2, kHop / 2, f.left, f.right); // only the pending half
    EXPECT_EQ(f.rig.dsp().addSynth->writePos, writePos);
    f.rig.render(1, 1, f.left, f.right);
    EXPECT_EQ(f.rig.dsp().addSynth->writePos, (writePos + kHop) % 512);
}

TEST(BlockRendering, FundamentalOfNote69PeaksAt440Hz)
{
    resetSeeds();
    FundamentalRig f;
    qmtest::noteOn(f.rig.dsp(), 69, 127);
    f.rig.render(4096 + 8192, 256, f.left, f.right);
    const std::size_t start = 4096, n = 8192;
    // Coarse search over 100..2000 Hz (steps finer than the Hann main lobe), then refine.
    double bestHz = 0.0, best = -1.0;
    for (double hz = 100.0; hz <= 2000.0; hz += 5.0)
    {
        const double m = magnitudeAt(f.left, start, n, hz, kRate);
        if (m > best)
        {
            best = m;
            bestHz = hz;
        }
    }
    const double coarse = bestHz;
    for (double hz = coarse - 5.0; hz <= coarse + 5.0; hz += 0.25)
    {
        const double m = magnitudeAt(f.left, start, n, hz, kRate);
        if (m > best)
        {
            best = m;
            bestHz = hz;
        }
    }
    EXPECT_NEAR(bestHz, 440.0, 0.5);
    // A pure tone: a sine fitted at 440 Hz leaves less than 1% of the energy (-20 dB) unexplained.
    double c = 0.0, s = 0.0, cc = 0.0, ss = 0.0, cs = 0.0;
    const double pi = 3.14159265358979323846;
    for (std::size_t i = start; i < start + n; ++i)
    {
        const double ph = 2.0 * pi * 440.0 * static_cast<double>(i) / kRate;
        c += f.left[i] * std::cos(ph);
        s += f.left[i] * std::sin(ph);
        cc += std::cos(ph) * std::cos(ph);
        ss += std::sin(ph) * std::sin(ph);
        cs += std::cos(ph) * std::sin(ph);
    }
    const double det = cc * ss - cs * cs;
    const double a = (c * ss - s * cs) / det, b = (s * cc - c * cs) / det;
    double residual = 0.0;
    for (std::size_t i = start; i < start + n; ++i)
    {
        const double ph = 2.0 * pi * 440.0 * static_cast<double>(i) / kRate;
        const double e = f.left[i] - (a * std::cos(ph) + b * std::sin(ph));
        residual += e * e;
    }
    const double total = energy(f.left, start, n);
    ASSERT_GT(total, 0.0);
    EXPECT_LT(residual / total, 0.01);
    // With the binaural stage off both channels are the same.
    for (std::size_t i = start; i < start + n; ++i)
        ASSERT_FLOAT_EQ(f.left[i], f.right[i]);
}

TEST(BlockRendering, GainOfSixDecibelsScalesTheOutput)
{
    resetSeeds();
    FundamentalRig plain;
    qmtest::noteOn(plain.rig.dsp(), 69, 127);
    plain.rig.render(8192, 512, plain.left, plain.right);

    resetSeeds();
    FundamentalRig loud(6.0f);
    qmtest::noteOn(loud.rig.dsp(), 69, 127);
    loud.rig.render(8192, 512, loud.left, loud.right);

    const float expected = std::exp(6.0f * 0.115129255f); // 1.99526
    EXPECT_NEAR(expected, 1.995f, 0.001f);
    const float peak = qmtest::peakOf(plain.left);
    ASSERT_GT(peak, 1e-4f);
    for (std::size_t i = 0; i < plain.left.size(); ++i)
        ASSERT_NEAR(loud.left[i], expected * plain.left[i], 1e-5f * peak) << "sample " << i;
}

TEST(BlockRendering, ReleaseEndsTheVoiceAtTheRuleHopAndFallsSilent)
{
    resetSeeds();
    FundamentalRig f;
    KeySpaceDSP& dsp = f.rig.dsp();
    const int voice = qmtest::noteOn(dsp, 69, 127);
    f.rig.render(20 * kHop, kHop, f.left, f.right);
    const float sustainPeak = qmtest::peakOf(std::vector<float>(f.left.end() - 4 * kHop, f.left.end()));
    ASSERT_GT(sustainPeak, 1e-4f);

    qmtest::noteOff(dsp, 69);
    const float release = dsp.params[kParamRelease].value;
    EXPECT_FLOAT_EQ(release, 0.25f);
    const int hops = releaseHops(release); // 87 at 44.1 kHz
    EXPECT_EQ(hops, 87);
    for (int h = 1; h < hops; ++h)
    {
        f.rig.render(kHop, kHop, f.left, f.right);
        ASSERT_EQ(dsp.voices[voice].state, 2u) << "hop " << h;
    }
    f.rig.render(kHop, kHop, f.left, f.right);
    EXPECT_EQ(dsp.voices[voice].state, 0u);
    EXPECT_EQ(dsp.voiceCount, 0);

    // The fade (1 - progress)^4 has brought the last released hops far below the sustained level.
    const std::vector<float> lastReleased(f.left.end() - 3 * kHop, f.left.end() - kHop);
    EXPECT_LT(qmtest::peakOf(lastReleased), 1e-3f * sustainPeak);
    // Once the frames that overlap the last hop are out, the output is exact silence.
    std::vector<float> tailL, tailR;
    f.rig.render(2 * kHop, kHop, tailL, tailR);
    tailL.clear();
    tailR.clear();
    f.rig.render(8 * kHop, kHop, tailL, tailR);
    EXPECT_EQ(qmtest::peakOf(tailL), 0.0f);
    EXPECT_EQ(qmtest::peakOf(tailR), 0.0f);
}

TEST(BlockRendering, SustainPedalHoldsTheRelease)
{
    resetSeeds();
    FundamentalRig f;
    KeySpaceDSP& dsp = f.rig.dsp();
    const int voice = qmtest::noteOn(dsp, 69, 127);
    f.rig.render(20 * kHop, kHop, f.left, f.right);
    const float before = qmtest::peakOf(std::vector<float>(f.left.end() - 4 * kHop, f.left.end()));

    dsp.channels[1].sustain = 1.0f;
    qmtest::noteOff(dsp, 69);
    f.rig.render(200 * kHop, kHop, f.left, f.right);
    EXPECT_EQ(dsp.voices[voice].state, 2u);
    EXPECT_EQ(dsp.voices[voice].releaseProgress, 0.0f);
    const float held = qmtest::peakOf(std::vector<float>(f.left.end() - 4 * kHop, f.left.end()));
    EXPECT_NEAR(held, before, 0.02f * before);

    // A sustain value beyond the range is clamped in place; lifting the pedal lets the release run.
    dsp.channels[1].sustain = 7.0f;
    f.rig.render(kHop, kHop, f.left, f.right);
    EXPECT_EQ(dsp.channels[1].sustain, 1.0f);
    dsp.channels[1].sustain = 0.0f;
    f.rig.render(releaseHops(dsp.params[kParamRelease].value) * kHop, kHop, f.left, f.right);
    EXPECT_EQ(dsp.voices[voice].state, 0u);
}

TEST(BlockRendering, ZeroReleaseWithPedalDownStillEndsTheVoice)
{
    resetSeeds();
    FundamentalRig f;
    KeySpaceDSP& dsp = f.rig.dsp();
    dsp.params[kParamRelease].value = 0.0f;
    dsp.channels[1].sustain = 1.0f;
    const int voice = qmtest::noteOn(dsp, 69, 127);
    f.rig.render(10 * kHop, kHop, f.left, f.right);
    qmtest::noteOff(dsp, 69);
    f.rig.render(kHop, kHop, f.left, f.right);
    EXPECT_EQ(dsp.voices[voice].state, 0u);
    EXPECT_TRUE(std::isfinite(dsp.voices[voice].releaseProgress));
    f.rig.render(4 * kHop, kHop, f.left, f.right);
    EXPECT_TRUE(qmtest::allFinite(f.left));
    EXPECT_TRUE(qmtest::allFinite(f.right));
    // The voice can be taken again by the next note.
    EXPECT_EQ(qmtest::noteOn(dsp, 60, 100), voice);
}

TEST(BlockRendering, VoiceCountShrinksOverTrailingFreeVoices)
{
    resetSeeds();
    FundamentalRig f;
    KeySpaceDSP& dsp = f.rig.dsp();
    dsp.params[kParamRelease].value = 0.01f;
    EXPECT_EQ(qmtest::noteOn(dsp, 60, 100), 0);
    EXPECT_EQ(qmtest::noteOn(dsp, 64, 100), 1);
    EXPECT_EQ(qmtest::noteOn(dsp, 67, 100), 2);
    EXPECT_EQ(dsp.voiceCount, 3);
    f.rig.render(4 * kHop, kHop, f.left, f.right);
    EXPECT_EQ(dsp.voiceCount, 3);

    // A free voice below a sounding one keeps its slot counted; trailing free voices drop out.
    qmtest::noteOff(dsp, 60);
    qmtest::noteOff(dsp, 67);
    f.rig.render(8 * kHop, kHop, f.left, f.right);
    EXPECT_EQ(dsp.voices[0].state, 0u);
    EXPECT_EQ(dsp.voices[1].state, 1u);
    EXPECT_EQ(dsp.voices[2].state, 0u);
    EXPECT_EQ(dsp.voiceCount, 2);

    qmtest::noteOff(dsp, 64);
    f.rig.render(8 * kHop, kHop, f.left, f.right);
    EXPECT_EQ(dsp.voiceCount, 0);
}

TEST(BlockRendering, NegativeTimeshiftKeepsTheVoiceSilentWhileTimeMoves)
{
    resetSeeds();
    FundamentalRig f;
    KeySpaceDSP& dsp = f.rig.dsp();
    dsp.params[kParamTimeshift].value = -1.0f;
    const int voice = qmtest::noteOn(dsp, 69, 127);
    f.rig.render(4 * kHop, kHop, f.left, f.right); // the onset of this sound is empty
    EXPECT_EQ(qmtest::peakOf(f.left), 0.0f);
    const float hopSeconds = kHop / kRate;
    EXPECT_NEAR(dsp.voices[voice].timePos, 4.0f * hopSeconds, 1e-5f);
    // After a second of sound time the voice sounds.
    f.rig.render(static_cast<int>(kRate * 1.1f), 512, f.left, f.right);
    EXPECT_GT(qmtest::peakOf(std::vector<float>(f.left.end() - 1024, f.left.end())), 1e-4f);
}

namespace
{

// Renders a fixed little performance on the demo bank with every effect on.
void renderPerformance(std::vector<float>& l, std::vector<float>& r)
{
    resetSeeds();
    EngineRig rig(qmbank::demoBank(), kRate);
    rig.setAllEffects(true);
    rig.dsp().params[kParamStereoSpread].value = 0.7f;
    rig.pushExploreCanvas({0, 3, 7, 11}, {0.5f, 0.3f, 0.2f});
    for (int note : {48, 55, 60, 64, 71})
        qmtest::noteOn(rig.dsp(), note, 90);
    rig.render(8000, 333, l, r);
    qmtest::noteOff(rig.dsp(), 55);
    rig.render(4000, 500, l, r);
}

} // namespace

TEST(BlockRendering, FreshEnginesWithTheSameSeedsRenderBitIdentically)
{
    std::vector<float> l1, r1, l2, r2;
    renderPerformance(l1, r1);
    renderPerformance(l2, r2);
    ASSERT_EQ(l1.size(), l2.size());
    EXPECT_GT(qmtest::peakOf(l1), 1e-4f);
    EXPECT_EQ(std::memcmp(l1.data(), l2.data(), l1.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(r1.data(), r2.data(), r1.size() * sizeof(float)), 0);
}

TEST(BlockRendering, ParameterExtremesKeepTheOutputFinite)
{
    resetSeeds();
    EngineRig rig(qmbank::demoBank(), kRate);
    KeySpaceDSP& dsp = rig.dsp();
    rig.setAllEffects(true);
    // Every modulation slot routes an LFO or envelope to a target at full amount.
    for (int s = 0; s < kModSlotCount; ++s)
    {
        const int first = kFirstModSlotParam + s * kParamsPerModSlot;
        dsp.params[first + kModParamSource].value = static_cast<float>(1 + s % 5);
        dsp.params[first + kModParamAmount].value = (s % 2 == 0) ? 64.0f : -64.0f;
        dsp.params[first + kModParamScaler].value = static_cast<float>(s % 6);
        dsp.params[first + kModParamTarget].value = static_cast<float>((s * 3 + 1) % kModTargetCount);
    }
    rig.pushExploreCanvas({0, 5, 9, 14, 20}, {0.4f, 0.35f, 0.25f});
    std::vector<float> l, r;
    for (int p = 0; p < kNumMainParams; ++p)
    {
        if (p == kParamPolyphony)
            continue;
        const float saved = dsp.params[p].value;
        for (float v : {dsp.params[p].convertUnitToVal(0.0f), dsp.params[p].convertUnitToVal(1.0f)})
        {
            dsp.params[p].value = v;
            for (int note : {0, 33, 69, 127})
                qmtest::noteOn(dsp, note, 127);
            dsp.channels[1].bend = p % 2 == 0 ? 1.0f : -1.0f;
            dsp.channels[1].modWheel = 1.0f;
            l.clear();
            r.clear();
            rig.render(1500, 500, l, r);
            for (int note : {0, 33, 69, 127})
                qmtest::noteOff(dsp, note);
            rig.render(700, 700, l, r);
            ASSERT_TRUE(qmtest::allFinite(l)) << "parameter " << p << " at " << v;
            ASSERT_TRUE(qmtest::allFinite(r)) << "parameter " << p << " at " << v;
        }
        dsp.params[p].value = saved;
    }
}

TEST(BlockRendering, HostileBlobsKeepTheOutputFinite)
{
    resetSeeds();
    const auto hostile = qmbank::hostileBank();
    EngineRig rig(hostile, kRate);
    KeySpaceDSP& dsp = rig.dsp();
    rig.setAllEffects(true);
    dsp.params[kParamFreqShift].value = 1.0f;
    dsp.params[kParamDetune].value = 100.0f;
    dsp.params[kParamLife].value = 100.0f;
    for (int s = 0; s < dsp.numSounds(); ++s)
    {
        rig.pushExploreCanvas({s, (s + 1) % dsp.numSounds()}, {0.7f, 0.3f});
        std::vector<float> l, r;
        for (int note : {0, 21, 60, 108, 127})
            qmtest::noteOn(dsp, note, 127);
        rig.render(3000, 512, l, r);
        for (int note : {0, 21, 60, 108, 127})
            qmtest::noteOff(dsp, note);
        rig.render(1000, 512, l, r);
        ASSERT_TRUE(qmtest::allFinite(l)) << "sound " << s;
        ASSERT_TRUE(qmtest::allFinite(r)) << "sound " << s;
    }
}

namespace
{

// Peak frequency of a stretch, coarse then fine search.
double peakFrequency(const std::vector<float>& x, std::size_t start, std::size_t n, double lo, double hi)
{
    double bestHz = lo, best = -1.0;
    for (double hz = lo; hz <= hi; hz += 5.0)
    {
        const double m = magnitudeAt(x, start, n, hz, kRate);
        if (m > best)
        {
            best = m;
            bestHz = hz;
        }
    }
    const double coarse = bestHz;
    for (double hz = coarse - 5.0; hz <= coarse + 5.0; hz += 0.25)
    {
        const double m = magnitudeAt(x, start, n, hz, kRate);
        if (m > best)
        {
            best = m;
            bestHz = hz;
        }
    }
    return bestHz;
}

} // namespace

TEST(BlockRendering, FreqShiftMovesThePartialByHertz)
{
    resetSeeds();
    FundamentalRig f;
    KeySpaceDSP& dsp = f.rig.dsp();
    // A constant modulation of 20 on FreqShift (scale 100) shifts by 2000 Hz.
    dsp.params[kFirstModSlotParam + kModParamSource].value = 5.0f;
    dsp.params[kFirstModSlotParam + kModParamAmount].value = 20.0f;
    dsp.params[kFirstModSlotParam + kModParamTarget].value = 11.0f;
    qmtest::noteOn(dsp, 69, 127);
    f.rig.render(4096 + 8192, 256, f.left, f.right);
    EXPECT_NEAR(peakFrequency(f.left, 4096, 8192, 1000.0, 4000.0), 2440.0, 0.5);
}

TEST(BlockRendering, ShiftsBeyondTheSpectrumDropPartials)
{
    resetSeeds();
    EngineRig rig(qmbank::demoBank(), kRate);
    KeySpaceDSP& dsp = rig.dsp();
    rig.pushExploreCanvas({0, 1}, {0.5f, 0.5f});
    dsp.params[kFirstModSlotParam + kModParamSource].value = 5.0f;
    dsp.params[kParamDetune].value = -100.0f;
    std::vector<float> l, r;
    for (float amount : {64.0f, -64.0f})
    {
        dsp.params[kFirstModSlotParam + kModParamAmount].value = amount;
        dsp.params[kFirstModSlotParam + kModParamTarget].value = 11.0f; // FreqShift +-6400 Hz
        for (int note : {24, 60, 100})
            qmtest::noteOn(dsp, note, 127);
        rig.render(4096, 512, l, r);
        dsp.params[kFirstModSlotParam + kModParamTarget].value = 9.0f; // Detune +-6400 cents
        rig.render(4096, 512, l, r);
        for (int note : {24, 60, 100})
            qmtest::noteOff(dsp, note);
    }
    EXPECT_TRUE(qmtest::allFinite(l));
    EXPECT_TRUE(qmtest::allFinite(r));
    EXPECT_GT(qmtest::peakOf(l), 0.0f);
}

TEST(BlockRendering, PhaseAccumulatorsWrapWithoutOverflow)
{
    resetSeeds();
    FundamentalRig f;
    KeySpaceDSP& dsp = f.rig.dsp();
    const int voice = qmtest::noteOn(dsp, 127, 127);
    f.rig.render(kHop, kHop, f.left, f.right);
    // As after hours of a held note: the accumulator near the top of its range.
    dsp.voices[voice].phaseAcc = 0x7fffff00;
    f.rig.render(64 * kHop, kHop, f.left, f.right);
    EXPECT_GE(dsp.voices[voice].phaseAcc, 0);
    EXPECT_LT(dsp.voices[voice].phaseAcc, 0x7fffff00);
    for (int h = 0; h < dsp.voices[voice].voiceHarmonicCount; ++h)
    {
        EXPECT_GE(dsp.voices[voice].harmonics[h].phase, 0);
        EXPECT_LT(dsp.voices[voice].harmonics[h].phase, 1024);
    }
    EXPECT_TRUE(qmtest::allFinite(f.left));
}

TEST(BlockRendering, SharedHarmonicsStayMonoWithoutSpread)
{
    resetSeeds();
    EngineRig rig(qmbank::demoBank(), kRate);
    KeySpaceDSP& dsp = rig.dsp();
    rig.setAllEffects(false);
    int shared = -1;
    for (int s = 0; s < dsp.numSounds() && shared < 0; ++s)
    {
        rig.pushExploreCanvas({s}, {1.0f});
        const int voice = qmtest::noteOn(dsp, 48, 110);
        if (dsp.voices[voice].shareTime > 0.0f)
            shared = s;
        qmtest::noteOff(dsp, 48);
        std::vector<float> l, r;
        rig.render(44100, 1024, l, r);
    }
    ASSERT_GE(shared, 0) << "the demo bank has sounds with a harmonic share";
    std::vector<float> l, r;
    qmtest::noteOn(dsp, 48, 110);
    rig.render(16384, 512, l, r);
    EXPECT_GT(qmtest::peakOf(l), 1e-4f);
    EXPECT_TRUE(qmtest::allFinite(l));
    // With the binaural stage off both channels draw the same random pairs and the same rotation.
    EXPECT_EQ(std::memcmp(l.data(), r.data(), l.size() * sizeof(float)), 0);
}

TEST(BlockRendering, WritesAtMostTwoChannels)
{
    resetSeeds();
    FundamentalRig stereo;
    qmtest::noteOn(stereo.rig.dsp(), 69, 127);
    stereo.rig.render(2048, 512, stereo.left, stereo.right);

    resetSeeds();
    FundamentalRig f;
    qmtest::noteOn(f.rig.dsp(), 69, 127);
    std::vector<float> mono(2048, 7.0f), spare(2048, 7.0f);
    float* one[2] = {mono.data(), spare.data()};
    for (int i = 0; i < 4; ++i)
    {
        float* out[2] = {one[0] + 512 * i, one[1] + 512 * i};
        f.rig.dsp().process(out, 512, 1);
    }
    EXPECT_EQ(std::memcmp(mono.data(), stereo.left.data(), mono.size() * sizeof(float)), 0);
    EXPECT_TRUE(std::all_of(spare.begin(), spare.end(), [](float s) { return s == 7.0f; }));

    std::vector<float> a(512), b(512), c(512, 7.0f);
    float* three[3] = {a.data(), b.data(), c.data()};
    f.rig.dsp().process(three, 512, 3);
    EXPECT_TRUE(std::all_of(c.begin(), c.end(), [](float s) { return s == 7.0f; }));
    EXPECT_GT(qmtest::peakOf(b), 0.0f);
}
