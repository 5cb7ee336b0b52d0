// Voice spectrum set-up: the change test, reordering, band and resonance blending, the onset burst,
// and blobs at the limits of what the parser accepts.

#include <cmath>
#include <numeric>

#include <gtest/gtest.h>

#include "support/TestSounds.h"
#include "engine/Random.h"

namespace
{

using qmtest::TestEngine;
using qmtest::TestSoundList;

float noteHz(float note)
{
    return 8.175799f * std::exp(note / 17.31234f);
}

NodeMix makeMix(std::initializer_list<int> sounds, std::initializer_list<float> weights)
{
    NodeMix m{};
    int i = 0;
    for (int s : sounds)
        m.node[static_cast<size_t>(i++)] = s;
    m.count = i;
    i = 0;
    for (float w : weights)
        m.weight[static_cast<size_t>(i++)] = w;
    return m;
}

// A voice as a note start leaves it: sounding, set-up pending, no onset unless asked for.
KeyVoice& startVoice(KeySpaceDSP& dsp, int index, int note, bool onset)
{
    KeyVoice& v = dsp.voices[static_cast<size_t>(index)];
    v.state = 1;
    v.note = note;
    v.pitch = static_cast<float>(note);
    v.velocity = 1.0f;
    v.channel = 1;
    v.needsSetup = 1;
    v.onsetPending = onset ? 1 : 0;
    return v;
}

class VoiceSetup : public ::testing::Test
{
  protected:
    void SetUp() override { engineSrand(3); }

    void build()
    {
        rig = std::make_unique<TestEngine>(&sounds);
        dsp().init(44100.0f);
        // A linear velocity curve exponent of 0: veloGain is exactly 1 for any velocity.
        dsp().params[kParamVeloToAmp].value = 0.0f;
        dsp().params[kFirstFxSwitch + kFxSlotBinaural].value = 0.0f;
    }
    KeySpaceDSP& dsp() { return rig->dsp(); }

    TestSoundList sounds;
    std::unique_ptr<TestEngine> rig;
};

TEST_F(VoiceSetup, SmallMixChangesOnlyMoveThePoint)
{
    sounds.add("A_One", qmtest::makePlainSpec(60, 4, 1000));
    sounds.add("A_Two", qmtest::makePlainSpec(60, 6, 1000));
    build();
    KeyVoice& v = startVoice(dsp(), 0, 60, false);

    NodeMix m = makeMix({0}, {1.0f});
    dsp().setVoiceData(&v, m);
    EXPECT_EQ(v.needsSetup, 0);
    EXPECT_EQ(v.bandCount, 4);
    EXPECT_EQ(v.soundSlots, 1);

    // Sounds new in the mix count only through the weight the stored ones lose.
    m = makeMix({0, 1}, {0.9995f, 0.0005f});
    m.point = {0.25f, 0.75f};
    dsp().setVoiceData(&v, m);
    EXPECT_EQ(v.mix.count, 1);
    EXPECT_EQ(v.bandCount, 4);
    EXPECT_FLOAT_EQ(v.mix.point.x, 0.25f);
    EXPECT_FLOAT_EQ(v.mix.point.y, 0.75f);

    m = makeMix({0, 1}, {0.99f, 0.01f});
    dsp().setVoiceData(&v, m);
    EXPECT_EQ(v.mix.count, 2);
    EXPECT_EQ(v.bandCount, 6);

    // needsSetup forces a full set-up even for the same mix.
    v.bands[0].levelC = -1.0f;
    dsp().setVoiceData(&v, m);
    EXPECT_EQ(v.bands[0].levelC, -1.0f);
    v.needsSetup = 1;
    dsp().setVoiceData(&v, m);
    EXPECT_GT(v.bands[0].levelC, 0.0f);
}

TEST_F(VoiceSetup, OnePassMovesTheLightestEntryLast)
{
    for (int i = 0; i < 3; ++i)
        sounds.add("A_S" + std::to_string(i), qmtest::makePlainSpec(60, 2 + i, 1000));
    build();
    KeyVoice& v = startVoice(dsp(), 0, 60, false);
    dsp().setVoiceData(&v, makeMix({0, 1, 2}, {0.1f, 0.2f, 0.7f}));
    ASSERT_EQ(v.mix.count, 3);
    EXPECT_EQ(v.mix.node[0], 1);
    EXPECT_EQ(v.mix.node[1], 2);
    EXPECT_EQ(v.mix.node[2], 0);
    EXPECT_FLOAT_EQ(v.mix.weight[0], 0.2f);
    EXPECT_FLOAT_EQ(v.mix.weight[1], 0.7f);
    EXPECT_FLOAT_EQ(v.mix.weight[2], 0.1f);
    EXPECT_FLOAT_EQ(v.slotWeight[0], 0.2f);
    EXPECT_FLOAT_EQ(v.slotWeight[2], 0.1f);
    EXPECT_EQ(v.slotBandCount[0], 3);
    EXPECT_EQ(v.slotBandCount[1], 4);
}

// Two one-zone sounds whose fields differ, mixed half and half.
qmbank::BlobSpec blendSound(int which)
{
    qmbank::BlobSpec desc;
    desc.gainByte = which == 0 ? 255 : 0;
    qmbank::BlobZone z = qmtest::makePlainZone(which == 0 ? 60 : 72, 41, 0);
    z.tuneCents = which == 0 ? 100 : -100;
    z.warpWidth = which == 0 ? 64 : 128;
    z.vibratoDepth = which == 0 ? 64 : 0;
    z.jitterAmount = which == 0 ? 128 : 0;
    z.jitterRate = which == 0 ? 256 : 0;
    z.frameCount = 3;
    z.frameRate = 2000;
    qmbank::BandRecord& b0 = z.bands[0];
    b0.levelA = which == 0 ? 100 : 300;
    b0.widthA = which == 0 ? 1000 : 3000;
    b0.oscRate = 10;
    b0.oscPhase = which == 0 ? 51 : 153;
    b0.binOffset = 200;
    b0.detune = which == 0 ? 0 : 16384;
    z.bands[40].levelC = which == 0 ? 100 : 0;
    z.bands[40].binOffset = 200;
    desc.zones.push_back(z);
    return desc;
}

TEST_F(VoiceSetup, BandsAndSoundFieldsBlendByWeightAndEnergy)
{
    sounds.add("A_Zero", blendSound(0));
    sounds.add("A_One", blendSound(1));
    build();
    KeyVoice& v = startVoice(dsp(), 0, 60, false);
    v.bands[41].tonality = 9.0f;
    v.bandShare[50] = 9.0f;
    dsp().setVoiceData(&v, makeMix({0, 1}, {0.5f, 0.5f}));

    const float hopSeconds = 128.0f / 44100.0f;
    EXPECT_FLOAT_EQ(v.veloGain, 1.0f);
    ASSERT_EQ(v.bandCount, 41);
    EXPECT_EQ(v.activeBands, 41);
    const VoiceBand& b = v.bands[0];
    EXPECT_FLOAT_EQ(b.levelA, 200.0f * 200.0f * 1e-6f);                    // (50 + 150)^2
    EXPECT_FLOAT_EQ(b.sharpA, 1.0f / (2500.0f * 2500.0f * 1e-6f + 1e-4f)); // level-weighted width 2500
    EXPECT_FLOAT_EQ(b.levelB, 0.0f);
    EXPECT_FLOAT_EQ(b.levelC, 0.0f);
    EXPECT_FLOAT_EQ(b.oscStartPhase, 0.5f); // (51 x 50 + 153 x 150) / 200 / 255
    EXPECT_FLOAT_EQ(b.oscRate, 100.0f * 0.01f * hopSeconds);
    EXPECT_FLOAT_EQ(b.oscDepth1, 1.0f);
    EXPECT_FLOAT_EQ(b.oscDepth2, 0.0f);
    EXPECT_FLOAT_EQ(b.unity, 1.0f);
    EXPECT_NEAR(b.detune, 16384.0f * 22500.0f / 25000.0f / 32768.0f, 1e-6f); // energy^2 weights
    EXPECT_EQ(b.phaseOffset, -224); // byte 200 read as -56 below band 40
    EXPECT_EQ(v.bands[40].phaseOffset, 800);
    EXPECT_FLOAT_EQ(v.bands[40].levelC, 50.0f * 50.0f * 1e-6f);

    EXPECT_FLOAT_EQ(v.soundKey, 66.0f);
    EXPECT_FLOAT_EQ(v.soundGain, 0.5f);
    EXPECT_NEAR(v.soundPitchOffset, 0.0f, 1e-7f);
    EXPECT_FLOAT_EQ(v.pitchDecayRate, 1.0f / (0.75f * 0.75f)); // r = 96 / 128
    EXPECT_FLOAT_EQ(v.vibratoDepth, 0.25f);
    EXPECT_FLOAT_EQ(v.jitterRate, 4.0f);
    EXPECT_FLOAT_EQ(v.jitterAmplitude, 0.25f);

    // The entry after the last band is cleared from field 4 on, shares above the bands are 0.
    EXPECT_EQ(v.bands[41].tonality, 0.0f);
    EXPECT_EQ(v.bandShare[50], 0.0f);

    // Slots: frame data per mixed sound.
    EXPECT_EQ(v.slotStride[0], 25);
    EXPECT_EQ(v.slotFrameCount[1], 3);
    EXPECT_FLOAT_EQ(v.slotFrameRate[0], 20.0f);
    EXPECT_NEAR(v.slotTuneRatio[0], std::exp2(100.0 / 1200.0) - 1.0, 1e-6);
    EXPECT_FLOAT_EQ(v.slotWarp[1], 1.0f / (1.0f + 1e-20f));
    EXPECT_EQ(v.slotEnvelope[0], v.slotZone[0] + 210 + 22);
}

TEST_F(VoiceSetup, ShareTimeAndBandShares)
{
    qmbank::BlobSpec flagged = qmtest::makePlainSpec(60, 4, 1000);
    flagged.zones[0].harmonicShareFlag = 51;
    flagged.zones[0].shareBytes = {255, 64, 0, 16};
    qmbank::BlobSpec full = flagged;
    full.zones[0].harmonicShareFlag = 255;
    sounds.add("A_Flagged", flagged);
    sounds.add("A_Full", full);
    build();
    KeyVoice& v = startVoice(dsp(), 0, 60, false);
    dsp().setVoiceData(&v, makeMix({0}, {1.0f}));
    EXPECT_NEAR(v.shareTime, 0.8f / noteHz(60.0f), 1e-7f);
    EXPECT_FLOAT_EQ(v.bandShare[0], 1.0f);
    EXPECT_FLOAT_EQ(v.bandShare[1], std::sqrt(64.0f / 255.0f));
    EXPECT_FLOAT_EQ(v.bandShare[3], std::sqrt(16.0f / 255.0f));

    // A flag of 255 contributes no share time; the shares below bandCount then stay as they were.
    v.needsSetup = 1;
    dsp().setVoiceData(&v, makeMix({1}, {1.0f}));
    EXPECT_EQ(v.shareTime, 0.0f);
    EXPECT_FLOAT_EQ(v.bandShare[1], std::sqrt(64.0f / 255.0f));
}

TEST_F(VoiceSetup, OnsetTimeResonancesAndHarmonics)
{
    qmbank::BlobSpec desc = qmtest::makePlainSpec(60, 40, 1000);
    qmbank::Resonance r;
    r.level = 1000;
    r.width = 1000;
    r.damping = 51;
    r.split = 51;
    r.shade = 255;
    r.spread = 10000;
    desc.zones[0].resonances = {r, r};
    desc.zones[0].bands[39].oscPhase = 255;
    sounds.add("A_Res", desc);
    build();
    KeyVoice& v = startVoice(dsp(), 0, 60, true);
    v.harmonics[5].phase = 99;
    dsp().setVoiceData(&v, makeMix({0}, {1.0f}));
    EXPECT_EQ(v.onsetPending, 0);
    ASSERT_EQ(v.voiceResonanceCount, 2);
    EXPECT_EQ(v.activeResonances, 2);
    const float q = 1.0f / (1.0f + 1e-5f);
    const VoiceResonance& res = v.resonances[1];
    EXPECT_FLOAT_EQ(res.tonalLevel, 0.9f);
    EXPECT_FLOAT_EQ(res.noisyLevel, std::sqrt(0.2f));
    EXPECT_FLOAT_EQ(res.freqHz, 10000.0f);
    EXPECT_FLOAT_EQ(res.bandwidthHz, dsp().erbBandWidthHz[1]);
    EXPECT_FLOAT_EQ(res.decayLinear, q * 0.801f);
    EXPECT_FLOAT_EQ(res.decayQuad, q * q * 0.04f);
    EXPECT_EQ(res.phase, 256);
    // bandStart[41] - 1 harmonics: 43, each starting at its band's oscillation phase.
    EXPECT_EQ(v.voiceHarmonicCount, 43);
    EXPECT_EQ(v.harmonics[5].phase, 0);
    EXPECT_FLOAT_EQ(v.harmonics[39].oscPhase, 1.0f);
    EXPECT_EQ(v.harmonics[42].oscPhase, 0.0f);
}

TEST_F(VoiceSetup, EmptyMixKeepsTheVoiceWaitingForSounds)
{
    sounds.add("A_One", qmtest::makePlainSpec(60, 8, 1000));
    build();
    KeyVoice& v = startVoice(dsp(), 0, 60, true);
    dsp().setVoiceData(&v, NodeMix{});
    EXPECT_EQ(v.soundSlots, 0);
    EXPECT_EQ(v.bandCount, 0);
    EXPECT_EQ(v.needsSetup, 1);
    EXPECT_EQ(v.onsetPending, 1);
    dsp().setVoiceData(&v, NodeMix{});
    EXPECT_EQ(v.needsSetup, 1);

    dsp().setVoiceData(&v, makeMix({0}, {1.0f}));
    EXPECT_EQ(v.needsSetup, 0);
    EXPECT_EQ(v.bandCount, 8);
    EXPECT_EQ(v.onsetPending, 0);
    EXPECT_EQ(v.voiceHarmonicCount, 8);
}

TEST_F(VoiceSetup, SoundIndicesOutsideTheListTakeNoSlot)
{
    sounds.add("A_One", qmtest::makePlainSpec(60, 3, 1000));
    sounds.add("A_Two", qmtest::makePlainSpec(60, 5, 2000));
    build();
    KeyVoice& v = startVoice(dsp(), 0, 60, false);
    dsp().setVoiceData(&v, makeMix({0, 1, 0}, {0.4f, 0.35f, 0.25f}));
    EXPECT_EQ(v.soundSlots, 3);

    dsp().setVoiceData(&v, makeMix({-1, 99, 1}, {0.5f, 0.3f, 0.2f}));
    ASSERT_EQ(v.soundSlots, 1);
    EXPECT_FLOAT_EQ(v.slotWeight[0], 0.2f);
    EXPECT_EQ(v.bandCount, 5);
    EXPECT_FLOAT_EQ(v.bands[0].levelC, 400.0f * 400.0f * 1e-6f);

    // Nothing usable at all: no slot, and a later valid mix still sets the voice up.
    dsp().setVoiceData(&v, makeMix({-3, 7}, {0.5f, 0.5f}));
    EXPECT_EQ(v.soundSlots, 0);
    EXPECT_EQ(v.needsSetup, 1);
}

TEST_F(VoiceSetup, JitterMarksStayInsideTheirTable)
{
    qmbank::BlobSpec desc = qmtest::makePlainSpec(60, 80, 100);
    for (auto& band : desc.zones[0].bands)
    {
        band.markStride = 255;
        band.markRate = 10;
        band.shimmer = 51;
    }
    sounds.add("A_Marks", desc);
    build();
    KeyVoice& v = startVoice(dsp(), 0, 60, true);
    dsp().setVoiceData(&v, makeMix({0}, {1.0f}));
    EXPECT_EQ(v.markCount, 81);
    EXPECT_FLOAT_EQ(v.marks[80].rate, 1.0f);
    EXPECT_FLOAT_EQ(v.bandRunningSum[79], 80.0f);
    EXPECT_FLOAT_EQ(v.bandMean19[3], 0.2f);
    EXPECT_EQ(v.voiceHarmonicCount, 383);
}

// Onset burst ------------------------------------------------------------------------------------

class Onset : public VoiceSetup
{
  protected:
    // One sound whose only onset band is band 2 (1378 Hz, exactly one cycle per 32 samples), with
    // a duration long enough to hold its level over all seven columns.
    void buildOnsetSound()
    {
        qmbank::BlobSpec desc = qmtest::makePlainSpec(60, 4, 0);
        desc.zones[0].onsetBands[2].level = 1000;
        desc.zones[0].onsetBands[2].duration = 65535;
        sounds.add("A_Burst", desc);
        build();
    }

    std::vector<float> renderBurst(int note, int channel)
    {
        dsp().init(44100.0f);
        KeyVoice& v = startVoice(dsp(), 0, note, true);
        dsp().applyModulationForVoice(&v, nullptr);
        dsp().setVoiceData(&v, makeMix({0}, {1.0f}));
        EXPECT_EQ(v.onsetPending, 0);
        const auto& ring = dsp().addSynth->rings[static_cast<size_t>(channel)];
        return std::vector<float>(ring.begin(), ring.end());
    }

    static double energy(const std::vector<float>& x)
    {
        return std::inner_product(x.begin(), x.end(), x.begin(), 0.0);
    }
};

TEST_F(Onset, BurstMatchesAWindowedSineOfTheBandLevel)
{
    buildOnsetSound();
    const std::vector<float> left = renderBurst(60, 0);
    const std::vector<float> right = renderBurst(60, 1);
    const std::vector<float>& w = dsp().addSynth->onsetWindow;
    ASSERT_EQ(w.size(), 64u);
    // Level = veloGain x |A| x A x 1e-6 = 1. Bin 2 of the unscaled 64-point inverse transform gives
    // 2 sin(2 pi n / 32) (rotation entry 0 is -i); seven columns 32 samples apart are overlap-added
    // with the onset window.
    for (int n = 0; n < 512; ++n)
    {
        double expected = 0.0;
        if (n < 256)
        {
            const int j = n % 32, k = n / 32;
            const double s = 2.0 * std::sin(2.0 * M_PI * j / 32.0);
            if (k <= 6) expected += s * w[static_cast<size_t>(j)];
            if (k >= 1) expected += s * w[static_cast<size_t>(32 + j)];
        }
        ASSERT_NEAR(left[static_cast<size_t>(n)], expected, 2e-5) << n;
    }
    EXPECT_EQ(left, right); // binaural stage off: both ears hear the same burst
    EXPECT_EQ(dsp().addSynth->silentHops, 0);
    EXPECT_GT(energy(left), 100.0);
}

TEST_F(Onset, EnergyGrowsWithTheSquaredLevel)
{
    qmbank::BlobSpec desc = qmtest::makePlainSpec(60, 4, 0);
    desc.zones[0].onsetBands[5].level = 500;
    desc.zones[0].onsetBands[5].duration = 300; // 0.09 s
    sounds.add("A_Soft", desc);
    desc.zones[0].onsetBands[5].level = 1000;
    sounds.add("A_Loud", desc);
    build();
    auto burst = [&](int sound)
    {
        dsp().init(44100.0f);
        KeyVoice& v = startVoice(dsp(), 0, 60, true);
        dsp().setVoiceData(&v, makeMix({sound}, {1.0f}));
        return energy(std::vector<float>(dsp().addSynth->rings[0].begin(), dsp().addSynth->rings[0].end()));
    };
    const double soft = burst(0), loud = burst(1);
    ASSERT_GT(soft, 0.0);
    EXPECT_NEAR(loud / soft, 16.0, 16.0 * 1e-4); // amplitude ~ level^2, energy ~ level^4
}

TEST_F(Onset, AttackScalesOrFadesTheBurst)
{
    buildOnsetSound();
    const std::vector<float> plain = renderBurst(60, 0);
    dsp().params[kParamAttack].value = 100.0f;
    const std::vector<float> loud = renderBurst(60, 0);
    for (size_t n = 0; n < plain.size(); ++n)
        ASSERT_NEAR(loud[n], 5.0f * plain[n], 1e-5f) << n;
    dsp().params[kParamAttack].value = -100.0f;
    const std::vector<float> faded = renderBurst(60, 0);
    EXPECT_LT(energy(faded), 1e-8 * energy(plain));
}

TEST_F(Onset, BinauralDelaysTheFarEar)
{
    buildOnsetSound();
    const std::vector<float> reference = renderBurst(100, 0);
    dsp().params[kFirstFxSwitch + kFxSlotBinaural].value = 1.0f;
    dsp().params[kParamStereoX].value = 0.5f;
    dsp().params[kParamStereoY].value = 1.0f;

    KeyVoice probe;
    probe.note = 100;
    const BinauralParams bp = dsp().computeBinauralParams(&probe);
    ASSERT_GT(bp.angle, 0.1f);
    const int d = static_cast<int>(std::fabs(bp.delay) * 44100.0f);
    EXPECT_EQ(d, 25);
    const float c = std::exp(-6.0f * bp.shadowFreq / 44100.0f);

    const std::vector<float> left = renderBurst(100, 0);
    const std::vector<float> right = renderBurst(100, 1);
    // A sound to the right: the right ear hears the burst as it is, the left one later and duller.
    EXPECT_EQ(right, reference);
    for (int n = 0; n < d; ++n)
        EXPECT_EQ(left[static_cast<size_t>(n)], 0.0f);
    double y = 0.0;
    for (int n = d; n < 200; ++n)
    {
        y = reference[static_cast<size_t>(n - d)] * (1.0 - c) + y * c;
        ASSERT_NEAR(left[static_cast<size_t>(n)], y, 1e-5) << n;
    }
    // Cut at 256 samples and faded over the last 32.
    EXPECT_EQ(left[256], 0.0f);
    EXPECT_NEAR(left[255], 0.0f, 0.05f);
    EXPECT_LT(energy(left), energy(right));

    // A sound to the left delays the right ear instead.
    KeyVoice low;
    low.note = 10;
    ASSERT_LT(dsp().computeBinauralParams(&low).angle, -0.1f);
    const std::vector<float> left10 = renderBurst(10, 0);
    const std::vector<float> right10 = renderBurst(10, 1);
    EXPECT_EQ(left10, reference);
    EXPECT_EQ(right10[0], 0.0f);
    EXPECT_NE(right10, reference);
}

TEST_F(Onset, DegenerateBandsGiveNoNaN)
{
    qmbank::BlobSpec desc = qmtest::makePlainSpec(60, 4, 0);
    auto& bands = desc.zones[0].onsetBands;
    bands[0] = {1000, 300, -128, 0}; // centre below 0 Hz: a low band
    bands[3] = {1000, 0, 0, 0};      // zero duration
    bands[5] = {0, 1000, 50, 100};   // silent, with a delay and an offset
    bands[31] = {1000, 1000, 127, -128};
    sounds.add("A_Odd", desc);
    build();
    dsp().params[kParamHiLoCut].value = 0.5f; // high-pass: divides by the band frequency
    KeyVoice& v = startVoice(dsp(), 0, 60, true);
    dsp().setVoiceData(&v, makeMix({0}, {1.0f}));
    double e = 0.0;
    for (const auto& ring : dsp().addSynth->rings)
        for (float s : ring)
        {
            ASSERT_TRUE(std::isfinite(s));
            e += double(s) * s;
        }
    EXPECT_GT(e, 0.0);
}

TEST_F(Onset, NegativeFrequencyRatioSkipsTheBurst)
{
    buildOnsetSound();
    KeyVoice& v = startVoice(dsp(), 0, 60, true);
    dsp().params[kParamFreqScale].value = -1.0f;
    dsp().params[kParamFreqScale].modValue = -1.5f;
    dsp().setVoiceData(&v, makeMix({0}, {1.0f}));
    EXPECT_EQ(v.onsetPending, 0);
    for (float s : dsp().addSynth->rings[0])
        ASSERT_EQ(s, 0.0f);
}

// Blobs the parser accepts at its limits: 80 band records, 255 resonances, keys above 127, no
// band records, jitter strides beyond 80. Run under AddressSanitizer by the CI.
TEST_F(VoiceSetup, HostileBlobsStayInBounds)
{
    for (const auto& entry : qmbank::hostileBank())
        sounds.add(entry);
    build();
    ASSERT_GT(dsp().numSounds(), 0);
    for (int s = 0; s < dsp().numSounds(); ++s)
    {
        for (int note : {0, 60, 127})
        {
            KeyVoice& v = startVoice(dsp(), 0, note, true);
            dsp().setVoiceData(&v, makeMix({s, (s + 1) % dsp().numSounds()}, {0.6f, 0.4f}));
            EXPECT_LE(v.bandCount, kMaxBands);
            EXPECT_LE(v.voiceResonanceCount, kMaxResonances);
            EXPECT_LE(v.markCount, kMaxBands + 1);
            EXPECT_LE(v.voiceHarmonicCount, kMaxHarmonics);
            for (int b = 0; b < v.bandCount; ++b)
            {
                const VoiceBand& band = v.bands[static_cast<size_t>(b)];
                ASSERT_TRUE(std::isfinite(band.levelA) && std::isfinite(band.sharpA) &&
                            std::isfinite(band.levelC) && std::isfinite(band.detune) &&
                            std::isfinite(band.noiseWidth))
                    << "sound " << s << " band " << b;
            }
            for (int p = 0; p < v.voiceResonanceCount; ++p)
                ASSERT_TRUE(std::isfinite(v.resonances[static_cast<size_t>(p)].tonalLevel));
        }
    }
    for (const auto& ring : dsp().addSynth->rings)
        for (float x : ring)
            ASSERT_TRUE(std::isfinite(x));
}

} // namespace
